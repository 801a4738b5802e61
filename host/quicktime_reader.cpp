// The built-in QuickTime/MP4 reader: walks the box tree with every box bounded by its parent and the
// file, builds the sample tables of video and 16-bit PCM sound tracks, and hands out video samples as
// chunks with key-frame flags and sound as runs of whole frames in host byte order.
#include <algorithm>
#include <cstring>

#include "ContainerTable.h"
#include "DataIO.h"
#include "MediaFormats.h"
#include "quicktime_boxes.h"

namespace BPrivate::media {

using namespace qt;

namespace {

constexpr uint64 kMaxMovieHeader = 64 << 20;  // a larger 'moov' is refused rather than loaded
constexpr uint32 kMaxSampleSize = 1u << 30;
constexpr uint64 kMaxSamples = 1u << 24;    // keeps every time sum below 2^56
constexpr uint64 kMaxSoundRead = 1u << 20;  // bytes of sound handed out at once

struct Sample {
	uint64 offset;
	uint32 size;
	bool key;
	bool outsideData;  // the index places it where no 'mdat' box is: reported as damage
	uint64 time;       // in the track's time scale
};

// Sound frames first .. first + frames - 1, stored from `offset` on.
struct SoundChunk {
	uint64 offset, first;
	uint32 frames;
};

struct Track {
	uint32 codec = 0, vendor = 0;
	uint32 width = 0, height = 0;
	uint32 timeScale = 0;
	uint32 firstDelta = 0;  // sound: the duration of every frame
	uint64 endTime = 0;
	std::vector<Sample> samples;

	bool sound = false, bigEndian = false;
	uint32 channels = 0;
	double rate = 0;
	uint64 frames = 0;
	std::vector<SoundChunk> chunks;
	uint32 FrameBytes() const { return 2 * channels; }
	// From the sample entry's 'fiel', 'pasp' and 'colr': 0 where the file does not say.
	uint32 interlace = 0, displayFlags = 0;
	uint16 aspectWidth = 0, aspectHeight = 0;
};

struct Cookie {
	uint64 next = 0;  // the next video sample or sound frame
	std::vector<uint8> buffer;
};

// The raw boxes of one 'trak' that the sample table is built from.
struct TrackBoxes {
	Span tkhd, mdhd, hdlr, stsd, stts, stss, stsc, stsz, stco;
	bool wideOffsets = false, hasStss = false;
};

// A box header: type, whole size and the header's own length.
struct BoxHeader {
	uint32 type = 0;
	uint64 size = 0;
	size_t header = 8;
};

enum class HeaderRead { kOk, kCutShort, kWideSizeCutShort, kTooLarge };

// The one place that knows the box size rules: reads a header from `h` for a box that may take at
// most `room` bytes from its start; a 64-bit size follows a size of 1, a size of 0 runs to `room`.
HeaderRead ReadBoxHeader(Span& h, uint64 room, BoxHeader* box)
{
	if (!h.Has(8))
		return HeaderRead::kCutShort;
	box->size = h.U32();
	box->type = h.U32();
	box->header = 8;
	if (box->size == 1) {
		if (!h.Has(8))
			return HeaderRead::kWideSizeCutShort;
		box->size = h.U64();
		box->header = 16;
	} else if (box->size == 0) {
		box->size = room;
	}
	if (box->size < box->header || box->size > room)
		return HeaderRead::kTooLarge;
	return HeaderRead::kOk;
}

// One box inside `parent`: type, payload span; false (with `error` set) if it does not fit.
struct Box {
	uint32 type;
	Span payload;
};

bool NextBox(Span& parent, Box* box, std::string* error)
{
	const size_t start = parent.pos;
	const uint64 room = parent.Left();
	BoxHeader h;
	switch (ReadBoxHeader(parent, room, &h)) {
		case HeaderRead::kOk: break;
		case HeaderRead::kCutShort:
			*error = "box header cut short at offset " + std::to_string(start);
			return false;
		case HeaderRead::kWideSizeCutShort:
			*error = "box " + FourCCText(h.type) + " has its 64-bit size cut short";
			return false;
		case HeaderRead::kTooLarge:
			*error = "box " + FourCCText(h.type) + " claims " + std::to_string(h.size) +
			         " bytes but its parent holds " + std::to_string(room) + " there";
			return false;
	}
	box->type = h.type;
	box->payload = parent.Sub((size_t)(h.size - h.header));
	return true;
}

uint64 ScaleToMicroseconds(uint64 value, uint32 timeScale)
{
	unsigned __int128 v = (unsigned __int128)value * 1000000 / timeScale;
	return v > (uint64)INT64_MAX ? (uint64)INT64_MAX : (uint64)v;
}

class QuickTimeReader : public Extractor {
public:
	~QuickTimeReader() override = default;

	status_t GetFileFormatInfo(media_file_format* mfi) override
	{
		DescribeQuickTimeFile(mfi);
		return B_OK;
	}

	status_t Sniff(int32* streams, int32* chunkSize) override
	{
		status_t status = Parse();
		if (status != B_OK)
			return status;
		*streams = (int32)fTracks.size();
		*chunkSize = 0;
		return B_OK;
	}

	status_t TrackInfo(int32 stream, media_format* format, void** info, int32* infoSize) override
	{
		const Track* t = TrackAt(stream);
		if (!t)
			return B_BAD_INDEX;
		*format = media_format();
		if (info)
			*info = nullptr;
		if (infoSize)
			*infoSize = 0;
		if (t->sound) {
			format->type = B_MEDIA_RAW_AUDIO;
			media_raw_audio_format& a = format->u.raw_audio;
			a.frame_rate = (float)t->rate;
			a.channel_count = t->channels;
			a.format = media_raw_audio_format::B_AUDIO_SHORT;
			a.byte_order = B_MEDIA_HOST_ENDIAN;
			a.buffer_size = std::max<size_t>(4096 / t->FrameBytes(), 1) * t->FrameBytes();
			return B_OK;
		}
		format->type = B_MEDIA_ENCODED_VIDEO;
		format->u.encoded_video.encoding = EncodingFor(t->codec, t->vendor);
		media_raw_video_format& v = format->u.encoded_video.output;
		v.field_rate = t->firstDelta ? (float)((double)t->timeScale / t->firstDelta) : 0;
		v.interlace = t->interlace;
		v.first_active = 0;
		v.last_active = t->height ? t->height - 1 : 0;
		v.orientation = B_VIDEO_TOP_LEFT_RIGHT;
		v.pixel_width_aspect = t->aspectWidth;
		v.pixel_height_aspect = t->aspectHeight;
		v.display.flags = t->displayFlags;
		v.display.line_width = t->width;
		v.display.line_count = t->height;
		return B_OK;
	}

	status_t CountFrames(int32 stream, int64* frames) override
	{
		const Track* t = TrackAt(stream);
		if (!t)
			return B_BAD_INDEX;
		*frames = (int64)(t->sound ? t->frames : t->samples.size());
		return B_OK;
	}

	status_t GetDuration(int32 stream, bigtime_t* duration) override
	{
		const Track* t = TrackAt(stream);
		if (!t)
			return B_BAD_INDEX;
		*duration = (bigtime_t)ScaleToMicroseconds(t->endTime, t->timeScale);
		return B_OK;
	}

	status_t AllocateCookie(int32 stream, void** cookie) override
	{
		if (!TrackAt(stream))
			return B_BAD_INDEX;
		*cookie = new Cookie;
		return B_OK;
	}

	status_t FreeCookie(int32, void* cookie) override
	{
		delete static_cast<Cookie*>(cookie);
		return B_OK;
	}

	status_t SplitNext(int32 stream, void* cookie, off_t* filePos, char*, int32* packetSize, char** chunk,
	                   int32* chunkSize, media_header* header) override
	{
		const Track* t = TrackAt(stream);
		Cookie* c = static_cast<Cookie*>(cookie);
		if (!t || !c)
			return B_BAD_INDEX;
		if (packetSize)
			*packetSize = 0;
		if (t->sound)
			return SplitSound(*t, c, filePos, chunk, chunkSize, header);
		if (c->next >= t->samples.size())
			return B_LAST_BUFFER_ERROR;
		const Sample& s = t->samples[c->next];
		c->buffer.resize(s.size);
		ssize_t n = fIO->ReadAt((off_t)s.offset, c->buffer.data(), s.size);
		if (n < 0 || (size_t)n != s.size)
			return B_IO_ERROR;
		c->next++;
		*chunk = reinterpret_cast<char*>(c->buffer.data());
		*chunkSize = (int32)s.size;
		if (filePos)
			*filePos = (off_t)s.offset;
		if (header) {
			*header = media_header();
			header->type = B_MEDIA_ENCODED_VIDEO;
			header->size_used = s.size;
			header->start_time = (bigtime_t)ScaleToMicroseconds(s.time, t->timeScale);
			header->file_pos = (off_t)s.offset;
			header->orig_size = s.size;
			header->u.encoded_video.field_flags = s.key ? B_MEDIA_KEY_FRAME : 0;
			header->damage = s.outsideData ? B_MEDIA_DAMAGE_CONTAINER : 0;
		}
		return B_OK;
	}

	status_t Seek(int32 stream, void* cookie, int32 toWhat, int32 flags, bigtime_t* time, int64* frame,
	              off_t* filePos, char*, int32* packetSize, bool* done) override
	{
		const Track* t = TrackAt(stream);
		Cookie* c = static_cast<Cookie*>(cookie);
		if (!t || !c)
			return B_BAD_INDEX;
		const size_t n = t->sound ? t->frames : t->samples.size();
		if (n == 0)
			return B_BAD_INDEX;
		if (t->sound)
			return SeekSound(*t, c, toWhat, time, frame, filePos, packetSize, done);
		size_t target;
		if (toWhat == B_SEEK_BY_FRAME) {
			target = *frame < 0 ? 0 : std::min((uint64)*frame, (uint64)n - 1);
		} else if (toWhat == B_SEEK_BY_TIME) {
			// The last sample that starts at or before the time; a time past 2^64 track units
			// saturates rather than wrapping round to the start.
			const unsigned __int128 exact =
			        *time <= 0 ? 0 : (unsigned __int128)(uint64)*time * t->timeScale / 1000000;
			const uint64 units = exact > UINT64_MAX ? UINT64_MAX : (uint64)exact;
			auto after = std::upper_bound(t->samples.begin(), t->samples.end(), units,
			                              [](uint64 u, const Sample& s) { return u < s.time; });
			target = after == t->samples.begin() ? 0 : (size_t)(after - t->samples.begin()) - 1;
		} else {
			return B_BAD_VALUE;
		}
		size_t key = KeyFrameFor(*t, target,
		                         (flags & B_MEDIA_SEEK_DIRECTION_MASK) == B_MEDIA_SEEK_CLOSEST_FORWARD);
		c->next = key;
		*frame = (int64)key;
		*time = (bigtime_t)ScaleToMicroseconds(t->samples[key].time, t->timeScale);
		if (filePos)
			*filePos = (off_t)t->samples[key].offset;
		if (packetSize)
			*packetSize = 0;
		if (done)
			*done = true;
		return B_OK;
	}

	status_t Perform(perform_code code, void* data) override
	{
		if (code != B_PERFORM_GET_ERROR_TEXT || !data)
			return B_ERROR;
		*static_cast<const char**>(data) = fError.c_str();
		return B_OK;
	}

private:
	// A run of whole frames from the cookie's frame to the end of its chunk (at most kMaxSoundRead
	// bytes), in host byte order.
	status_t SplitSound(const Track& t, Cookie* c, off_t* filePos, char** chunk, int32* chunkSize,
	                    media_header* header)
	{
		if (c->next >= t.frames)
			return B_LAST_BUFFER_ERROR;
		auto after = std::upper_bound(t.chunks.begin(), t.chunks.end(), c->next,
		                              [](uint64 f, const SoundChunk& k) { return f < k.first; });
		const SoundChunk& k = *(after - 1);  // chunks start at frame 0 and cover every frame
		const uint64 into = c->next - k.first;
		const uint64 frames =
		        std::min<uint64>(k.frames - into, std::max<uint64>(kMaxSoundRead / t.FrameBytes(), 1));
		const size_t size = (size_t)(frames * t.FrameBytes());
		const uint64 offset = k.offset + into * t.FrameBytes();
		c->buffer.resize(size);
		ssize_t n = fIO->ReadAt((off_t)offset, c->buffer.data(), size);
		if (n < 0 || (size_t)n != size)
			return B_IO_ERROR;
		if (t.bigEndian) {
			for (size_t i = 0; i + 1 < size; i += 2)
				std::swap(c->buffer[i], c->buffer[i + 1]);
		}
		*chunk = reinterpret_cast<char*>(c->buffer.data());
		*chunkSize = (int32)size;
		if (filePos)
			*filePos = (off_t)offset;
		if (header) {
			*header = media_header();
			header->type = B_MEDIA_RAW_AUDIO;
			header->size_used = (uint32)size;
			header->start_time = (bigtime_t)ScaleToMicroseconds(c->next * t.firstDelta, t.timeScale);
			header->file_pos = (off_t)offset;
			header->orig_size = size;
		}
		c->next += frames;
		return B_OK;
	}

	// Every sound frame is a place to start: a seek lands on the frame asked for, or by time on the
	// last frame whose start time (in whole microseconds, as headers give it) is at or before it.
	status_t SeekSound(const Track& t, Cookie* c, int32 toWhat, bigtime_t* time, int64* frame, off_t* filePos,
	                   int32* packetSize, bool* done)
	{
		uint64 target;
		if (toWhat == B_SEEK_BY_FRAME) {
			target = *frame < 0 ? 0 : (uint64)*frame;
		} else if (toWhat == B_SEEK_BY_TIME) {
			const unsigned __int128 units =
			        (unsigned __int128)(*time < 0 ? 0 : (uint64)*time + 1) * t.timeScale;
			const unsigned __int128 perFrame = (unsigned __int128)1000000 * t.firstDelta;
			const unsigned __int128 after = (units + perFrame - 1) / perFrame;
			target = after == 0 ? 0 : after - 1 > UINT64_MAX ? UINT64_MAX : (uint64)(after - 1);
		} else {
			return B_BAD_VALUE;
		}
		target = std::min(target, t.frames - 1);
		c->next = target;
		*frame = (int64)target;
		*time = (bigtime_t)ScaleToMicroseconds(target * t.firstDelta, t.timeScale);
		if (filePos)
			*filePos = 0;
		if (packetSize)
			*packetSize = 0;
		if (done)
			*done = true;
		return B_OK;
	}

	const Track* TrackAt(int32 stream) const
	{
		return stream >= 0 && (size_t)stream < fTracks.size() ? &fTracks[stream] : nullptr;
	}

	// Backward: the last key frame at or before `target` (frame 0 if there is none). Forward: the first
	// at or after it (the backward one if there is none).
	static size_t KeyFrameFor(const Track& t, size_t target, bool forward)
	{
		if (forward) {
			for (size_t i = target; i < t.samples.size(); i++) {
				if (t.samples[i].key)
					return i;
			}
		}
		for (size_t i = target + 1; i-- > 0;) {
			if (t.samples[i].key)
				return i;
		}
		return 0;
	}

	// The host's encoding for a QuickTime codec: the one registered without vendor (what decoders
	// register), else the one with this vendor, else a new registration.
	static int32 EncodingFor(uint32 codec, uint32 vendor)
	{
		BMediaFormats formats;
		formats.Lock();
		media_format_description d;
		d.family = B_QUICKTIME_FORMAT_FAMILY;
		d.u.quicktime.codec = codec;
		media_format f;
		status_t status = formats.GetFormatFor(d, &f);
		if (status != B_OK && vendor) {
			media_format_description dv = d;
			dv.u.quicktime.vendor = vendor;
			status = formats.GetFormatFor(dv, &f);
		}
		if (status != B_OK) {
			f = media_format();
			f.type = B_MEDIA_ENCODED_VIDEO;
			status = formats.MakeFormatFor(&d, 1, &f);
		}
		formats.Unlock();
		return status == B_OK && f.type == B_MEDIA_ENCODED_VIDEO ? f.u.encoded_video.encoding : 0;
	}

	// B_BAD_TYPE when the file is not a QuickTime movie at all (another reader may take it),
	// B_BAD_DATA with fError when it is one but cannot be read.
	status_t Parse()
	{
		status_t status = OpenSource();
		if (status != B_OK)
			return status;
		std::vector<uint8> moov;
		status = ReadMovieHeader(&moov);
		if (status != B_OK)
			return status;
		return ParseMovie(Span(moov.data(), moov.size()));
	}

	status_t OpenSource()
	{
		fIO = dynamic_cast<BPositionIO*>(Source());
		if (!fIO)
			return B_IO_ERROR;
		off_t fileSize;
		if (fIO->GetSize(&fileSize) != B_OK)
			fileSize = fIO->Seek(0, SEEK_END);
		if (fileSize < 0)
			return B_IO_ERROR;
		fFileSize = (uint64)fileSize;
		return fFileSize == 0 ? B_BAD_TYPE : B_OK;
	}

	// Top level: looks at box headers only and reads the first 'moov' into memory.
	status_t ReadMovieHeader(std::vector<uint8>* moov)
	{
		uint64 pos = 0;
		bool haveMoov = false;
		while (pos < fFileSize) {
			uint8 head[16];
			size_t want = (size_t)std::min<uint64>(16, fFileSize - pos);
			if (fIO->ReadAt((off_t)pos, head, want) != (ssize_t)want)
				return Fail("read error at offset " + std::to_string(pos));
			Span h(head, want);
			BoxHeader box;
			const HeaderRead read = ReadBoxHeader(h, fFileSize - pos, &box);
			const bool first = pos == 0;
			if (read == HeaderRead::kCutShort)
				return first ? B_BAD_TYPE : Fail("box header cut short at offset " + std::to_string(pos));
			if (first && !IsTopLevelType(box.type))
				return B_BAD_TYPE;
			if (read == HeaderRead::kWideSizeCutShort)
				return Fail("box " + FourCCText(box.type) + " has its 64-bit size cut short");
			if (read == HeaderRead::kTooLarge)
				return Fail("box " + FourCCText(box.type) + " at offset " + std::to_string(pos) + " claims " +
				            std::to_string(box.size) + " bytes, the file has " +
				            std::to_string(fFileSize - pos) + " from there");
			if (box.type == FourCC("cmov"))
				return Fail("compressed movie headers are not supported");
			if (box.type == FourCC("mdat"))
				fMediaData.push_back({pos + box.header, pos + box.size});
			if (box.type == FourCC("moov") && !haveMoov) {
				if (box.size - box.header > kMaxMovieHeader)
					return Fail("movie header of " + std::to_string(box.size) + " bytes is too large");
				moov->resize((size_t)(box.size - box.header));
				if (fIO->ReadAt((off_t)(pos + box.header), moov->data(), moov->size()) !=
				    (ssize_t)moov->size())
					return Fail("read error in the movie header");
				haveMoov = true;
			}
			pos += box.size;
		}
		return haveMoov ? B_OK : Fail("no movie header ('moov') in the file");
	}

	// The movie header's tracks; video and 16-bit PCM sound tracks are kept.
	status_t ParseMovie(Span body)
	{
		Box box;
		while (body.Left()) {
			if (!NextBox(body, &box, &fError))
				return Fail("in 'moov': " + fError);
			if (box.type == FourCC("cmov"))
				return Fail("compressed movie headers are not supported");
			if (box.type != FourCC("trak"))
				continue;
			status_t status = ParseTrack(box.payload);
			if (status != B_OK)
				return status;
		}
		if (fTracks.empty())
			return Fail("the movie has no video or sound track");
		return B_OK;
	}

	static bool IsTopLevelType(uint32 type)
	{
		static const uint32 kTypes[] = {FourCC("ftyp"), FourCC("moov"), FourCC("mdat"),
		                                FourCC("free"), FourCC("skip"), FourCC("wide"),
		                                FourCC("pnot"), FourCC("uuid"), FourCC("PICT")};
		return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
	}

	status_t Fail(const std::string& why)
	{
		fError = why;
		return B_BAD_DATA;
	}

	// Gathers the boxes of one 'trak' (first of each kind wins) and adds it if it is a video track or
	// 16-bit PCM sound.
	status_t ParseTrack(Span trak)
	{
		TrackBoxes tb;
		std::string error;
		if (!Collect(trak, 0, &tb, &error))
			return Fail("in 'trak': " + error);
		if (!tb.hdlr.data)
			return B_OK;
		Span hdlr = tb.hdlr;
		hdlr.Skip(8);  // version, flags, component type
		const uint32 media = hdlr.U32();
		if (hdlr.overrun || (media != FourCC("vide") && media != FourCC("soun")))
			return B_OK;  // neither picture nor sound: ignored
		Track t;
		bool usable = true;
		status_t status = media == FourCC("vide") ? BuildTrack(tb, &t) : BuildSoundTrack(tb, &t, &usable);
		if (status != B_OK)
			return status;
		if (usable)
			fTracks.push_back(std::move(t));
		return B_OK;
	}

	// Walks trak > mdia > minf > stbl, noting the boxes the sample table needs.
	static bool Collect(Span parent, int depth, TrackBoxes* tb, std::string* error)
	{
		Box box;
		while (parent.Left()) {
			if (!NextBox(parent, &box, error))
				return false;
			const uint32 t = box.type;
			if (t == FourCC("mdia") || t == FourCC("minf") || t == FourCC("stbl")) {
				if (depth < 3 && !Collect(box.payload, depth + 1, tb, error))
					return false;
				continue;
			}
			Span* slot = nullptr;
			if (t == FourCC("tkhd"))
				slot = &tb->tkhd;
			else if (t == FourCC("mdhd"))
				slot = &tb->mdhd;
			else if (t == FourCC("hdlr") && depth == 1)
				slot = &tb->hdlr;  // the media handler
			else if (t == FourCC("stsd"))
				slot = &tb->stsd;
			else if (t == FourCC("stts"))
				slot = &tb->stts;
			else if (t == FourCC("stss")) {
				slot = &tb->stss;
				tb->hasStss = true;
			} else if (t == FourCC("stsc"))
				slot = &tb->stsc;
			else if (t == FourCC("stsz"))
				slot = &tb->stsz;
			else if (t == FourCC("stco") || t == FourCC("co64")) {
				if (!tb->stco.data)
					tb->wideOffsets = t == FourCC("co64");
				slot = &tb->stco;
			}
			if (slot && !slot->data)
				*slot = box.payload;
		}
		return true;
	}

	// The media header's time scale and the first sample description; false with fError set.
	bool MediaBasics(const TrackBoxes& tb, const char* kind, Track* t, Box* entry)
	{
		if (!tb.mdhd.data || !tb.stsd.data) {
			Fail(std::string(kind) + " track without media header or sample description");
			return false;
		}
		Span mdhd = tb.mdhd;
		uint8 version = mdhd.U8();
		mdhd.Skip(3 + (version == 1 ? 16 : 8));
		t->timeScale = mdhd.U32();
		if (mdhd.overrun || t->timeScale == 0) {
			Fail("media header without a time scale");
			return false;
		}
		Span stsd = tb.stsd;
		stsd.Skip(4);
		uint32 entries = stsd.U32();
		std::string error;
		if (entries == 0 || stsd.overrun || !NextBox(stsd, entry, &error)) {
			Fail(std::string(kind) + " track without a sample description" +
			     (error.empty() ? std::string() : ": " + error));
			return false;
		}
		t->codec = entry->type;
		return true;
	}

	status_t BuildTrack(const TrackBoxes& tb, Track* t)
	{
		// First sample description: codec, vendor, size.
		Box entry;
		if (!MediaBasics(tb, "video", t, &entry))
			return B_BAD_DATA;
		Span e = entry.payload;
		e.Skip(6 + 2 + 2 + 2);
		t->vendor = e.U32();
		e.Skip(8);
		t->width = e.U16();
		t->height = e.U16();
		if (e.overrun)
			return Fail("visual sample entry " + FourCCText(t->codec) + " is cut short");
		e.Skip(4 + 4 + 4 + 2 + 32 + 2 + 2);  // resolutions, data size, frame count, name, depth, colour table
		ReadPictureBoxes(e, t);
		if ((!t->width || !t->height) && tb.tkhd.data) {
			Span tkhd = tb.tkhd;
			uint8 v = tkhd.U8();
			tkhd.Skip(3 + (v == 1 ? 32 : 20) + 52);
			t->width = tkhd.U32() >> 16;
			t->height = tkhd.U32() >> 16;
		}
		return BuildSamples(tb, t);
	}

	// The boxes after a visual sample entry's fields that describe the picture; anything malformed
	// among them is passed over (they do not change how the samples decode).
	static void ReadPictureBoxes(Span entry, Track* t)
	{
		Box box;
		std::string ignored;
		while (entry.Left() >= 8 && NextBox(entry, &box, &ignored)) {
			Span p = box.payload;
			if (box.type == FourCC("fiel") && p.Has(2)) {
				const uint8 fields = p.U8(), detail = p.U8();
				if (fields == 1) {
					t->interlace = 1;
				} else if (fields == 2 && (detail == 1 || detail == 9 || detail == 6 || detail == 14)) {
					t->interlace = 2;
					t->displayFlags |= B_F1_DOMINANT |
					                   (detail == 1 || detail == 9 ? B_TOP_SCANLINE_F1 : B_TOP_SCANLINE_F2);
				}
			} else if (box.type == FourCC("pasp") && p.Has(8)) {
				uint32 w = p.U32(), h = p.U32();
				while (w > 0xFFFF || h > 0xFFFF) {
					w = (w + 1) / 2;
					h = (h + 1) / 2;
				}
				if (w && h) {
					t->aspectWidth = (uint16)w;
					t->aspectHeight = (uint16)h;
				}
			} else if (box.type == FourCC("colr") && p.Has(11) && p.U32() == FourCC("nclx")) {
				p.Skip(6);
				t->displayFlags |= p.U8() & 0x80 ? B_VIDEO_FULL_RANGE : B_VIDEO_LIMITED_RANGE;
			}
		}
	}

	// The sample table: sizes, then file offsets, decoding times and key frames.
	bool InMediaData(uint64 offset, uint64 size) const
	{
		return std::any_of(fMediaData.begin(), fMediaData.end(), [&](const std::pair<uint64, uint64>& d) {
			return offset >= d.first && offset <= d.second && size <= d.second - offset;
		});
	}

	status_t BuildSamples(const TrackBoxes& tb, Track* t)
	{
		status_t status = ReadSampleSizes(tb, t);
		if (status != B_OK || t->samples.empty())
			return status;
		status = PlaceSamples(tb, t);
		if (status == B_OK)
			status = ReadSampleTimes(tb, t);
		if (status == B_OK)
			status = MarkKeyFrames(tb, t);
		return status;
	}

	// Sizes from 'stsz'; a track without samples needs none of the other tables.
	status_t ReadSampleSizes(const TrackBoxes& tb, Track* t)
	{
		if (!tb.stsz.data)
			return Fail("video track without sample sizes ('stsz')");
		Span stsz = tb.stsz;
		stsz.Skip(4);
		uint32 uniform = stsz.U32();
		uint64 count = stsz.U32();
		if (stsz.overrun)
			return Fail("sample size table cut short");
		if (count == 0)
			return B_OK;
		const uint64 room = uniform == 0 ? stsz.Left() / 4 : fFileSize / uniform;
		if (count > kMaxSamples || count > room)
			return Fail("sample size table lists " + std::to_string(count) +
			            " samples, more than it or the file can hold");
		if (!tb.stco.data || !tb.stsc.data || !tb.stts.data)
			return Fail("video track without chunk offsets, sample-to-chunk or time tables");
		t->samples.resize((size_t)count);
		for (Sample& s : t->samples) {
			s.size = uniform ? uniform : stsz.U32();
			if (s.size > kMaxSampleSize)
				return Fail("a sample of " + std::to_string(s.size) + " bytes is too large");
		}
		return B_OK;
	}

	// Walks the chunk offsets ('stco'/'co64') with the sample-to-chunk runs ('stsc'): `chunk(offset, samples, first)` for each
	// chunk, whose samples are first .. first + samples - 1 of the `count` the track has.
	template <typename ChunkFn>
	status_t ForEachChunk(const TrackBoxes& tb, uint64 count, ChunkFn&& chunk)
	{
		Span stco = tb.stco;
		stco.Skip(4);
		uint64 chunks = stco.U32();
		const size_t offsetBytes = tb.wideOffsets ? 8 : 4;
		if (stco.overrun || chunks > stco.Left() / offsetBytes)
			return Fail("chunk offset table cut short");
		Span stsc = tb.stsc;
		stsc.Skip(4);
		uint64 runs = stsc.U32();
		if (stsc.overrun || runs == 0 || runs > stsc.Left() / 12)
			return Fail("sample-to-chunk table empty or cut short");
		uint32 runFirst = stsc.U32(), runSamples = stsc.U32();
		stsc.Skip(4);
		if (runFirst != 1)
			return Fail("sample-to-chunk table does not start at chunk 1");
		uint64 runsLeft = runs - 1;
		uint32 nextFirst = runsLeft ? stsc.U32() : 0;
		uint64 sample = 0;
		for (uint64 index = 1; index <= chunks && sample < count; index++) {
			while (runsLeft && index >= nextFirst) {
				if (nextFirst <= runFirst)
					return Fail("sample-to-chunk runs out of order");
				runFirst = nextFirst;
				runSamples = stsc.U32();
				stsc.Skip(4);
				runsLeft--;
				nextFirst = runsLeft ? stsc.U32() : 0;
			}
			uint64 offset = tb.wideOffsets ? stco.U64() : stco.U32();
			if (runSamples > count - sample)
				return Fail("chunks hold more samples than the sample size table lists");
			status_t status = chunk(offset, runSamples, sample);
			if (status != B_OK)
				return status;
			sample += runSamples;
		}
		if (sample < count)
			return Fail("chunks hold fewer samples than the sample size table lists");
		return B_OK;
	}

	// Sound the tool can hand out as 16-bit PCM: 'twos' (big-endian) and 'sowt' (little-endian) of
	// 16 bits, or 'lpcm' with 16-bit signed integers. Other sound tracks are left out (`usable` false).
	status_t BuildSoundTrack(const TrackBoxes& tb, Track* t, bool* usable)
	{
		Box entry;
		if (!MediaBasics(tb, "sound", t, &entry))
			return B_BAD_DATA;
		t->sound = true;
		Span e = entry.payload;
		e.Skip(6 + 2);  // reserved, data reference index
		const uint16 version = e.U16();
		e.Skip(2 + 4);  // revision, vendor
		uint32 bits = 0;
		bool pcm16 = false;
		if (version == 2) {
			e.Skip(2 + 2 + 2 + 2 + 4 + 4);  // fields of the older forms, size of the description
			uint64 rateBits = e.U64();
			memcpy(&t->rate, &rateBits, sizeof t->rate);
			t->channels = e.U32();
			e.Skip(4);
			bits = e.U32();
			const uint32 flags = e.U32(), bytesPerPacket = e.U32(), framesPerPacket = e.U32();
			const bool signedInteger = (flags & 0x5) == 0x4;  // signed integer, not float
			if (t->codec == FourCC("lpcm")) {
				t->bigEndian = flags & 0x2;
				pcm16 = bits == 16 && signedInteger && framesPerPacket == 1 &&
				        bytesPerPacket == 2 * (uint64)t->channels;
			}
		} else if (version <= 1) {
			t->channels = e.U16();
			bits = e.U16();
			e.Skip(2 + 2);  // compression id, packet size
			t->rate = e.U32() / 65536.0;
		}
		if (e.overrun)
			return Fail("sound sample entry " + FourCCText(t->codec) + " is cut short");
		if (t->codec == FourCC("twos") || t->codec == FourCC("sowt")) {
			t->bigEndian = t->codec == FourCC("twos");
			pcm16 = bits == 16;
		}
		*usable = pcm16;
		if (!pcm16)
			return B_OK;
		if (t->channels == 0 || t->channels > 0xFFFF)
			return Fail("sound track with " + std::to_string(t->channels) + " channels");
		if (t->rate == 0)
			t->rate = t->timeScale;
		if (!(t->rate >= 1 && t->rate <= (double)INT32_MAX))
			return Fail("sound track with a rate of " + std::to_string(t->rate) + " Hz");
		return BuildSoundChunks(tb, t);
	}

	// One table entry per sample frame: a uniform sample size (the frame's bytes, or 1 as older
	// writers put it), chunks of whole frames inside the file, every frame of the same duration.
	status_t BuildSoundChunks(const TrackBoxes& tb, Track* t)
	{
		if (!tb.stsz.data)
			return Fail("sound track without sample sizes ('stsz')");
		Span stsz = tb.stsz;
		stsz.Skip(4);
		const uint32 uniform = stsz.U32();
		const uint64 count = stsz.U32();
		if (stsz.overrun)
			return Fail("sample size table cut short");
		const uint32 frameBytes = t->FrameBytes();
		if (uniform != frameBytes && uniform != 1)
			return Fail("sound samples of " + std::to_string(uniform) + " bytes are not frames of " +
			            std::to_string(t->channels) + " 16-bit channels");
		if (count > fFileSize / frameBytes)
			return Fail("sound track lists " + std::to_string(count) + " frames, more than the file holds");
		if (count == 0)
			return B_OK;
		if (!tb.stco.data || !tb.stsc.data || !tb.stts.data)
			return Fail("sound track without chunk offsets, sample-to-chunk or time tables");
		status_t status =
		        ForEachChunk(tb, count, [&](uint64 offset, uint32 frames, uint64 first) -> status_t {
			        if (frames == 0)
				        return B_OK;
			        if (offset > fFileSize || frames > (fFileSize - offset) / frameBytes)
				        return Fail("sound chunk of " + std::to_string(frames) + " frames at offset " +
				                    std::to_string(offset) + " lies outside the file");
			        t->chunks.push_back({offset, first, frames});
			        return B_OK;
		        });
		if (status != B_OK)
			return status;
		t->frames = count;

		Span stts = tb.stts;
		stts.Skip(4);
		const uint64 entries = stts.U32();
		if (stts.overrun || entries > stts.Left() / 8)
			return Fail("time-to-sample table cut short");
		uint64 covered = 0;
		for (uint64 i = 0; i < entries && covered < count; i++) {
			const uint32 n = stts.U32(), delta = stts.U32();
			if (n == 0)
				continue;
			if (delta == 0 || (t->firstDelta && delta != t->firstDelta))
				return Fail("sound frames of differing or no duration");
			t->firstDelta = delta;
			covered += n;
		}
		if (covered < count)
			return Fail("time-to-sample table covers fewer samples than the track has");
		t->endTime = count * t->firstDelta;  // below 2^32 frames of below 2^32 units
		return B_OK;
	}

	// Each sample's offset, from the chunks that hold it.
	status_t PlaceSamples(const TrackBoxes& tb, Track* t)
	{
		return ForEachChunk(
		        tb, t->samples.size(), [&](uint64 offset, uint32 samples, uint64 first) -> status_t {
			        for (uint64 i = first; i < first + samples; i++) {
				        Sample& s = t->samples[i];
				        if (offset > fFileSize || s.size > fFileSize - offset)
					        return Fail("sample " + std::to_string(i + 1) + " lies outside the file");
				        s.offset = offset;
				        s.outsideData = !InMediaData(offset, s.size);
				        offset += s.size;
			        }
			        return B_OK;
		        });
	}

	// Decoding times from the time-to-sample runs ('stts').
	status_t ReadSampleTimes(const TrackBoxes& tb, Track* t)
	{
		const size_t count = t->samples.size();
		Span stts = tb.stts;
		stts.Skip(4);
		uint64 entries = stts.U32();
		if (stts.overrun || entries > stts.Left() / 8)
			return Fail("time-to-sample table cut short");
		uint64 time = 0;
		size_t sample = 0;
		for (uint64 i = 0; i < entries && sample < count; i++) {
			uint32 n = stts.U32(), delta = stts.U32();
			if (sample == 0 && n)
				t->firstDelta = delta;
			for (uint32 k = 0; k < n && sample < count; k++, sample++) {
				t->samples[sample].time = time;
				time += delta;  // at most kMaxSamples samples of 2^32 units: no overflow
			}
		}
		if (sample < count)
			return Fail("time-to-sample table covers fewer samples than the track has");
		t->endTime = time;
		return B_OK;
	}

	// Key frames from the sync sample table ('stss'); all of them when there is none.
	status_t MarkKeyFrames(const TrackBoxes& tb, Track* t)
	{
		const size_t count = t->samples.size();
		if (!tb.hasStss) {
			for (Sample& s : t->samples)
				s.key = true;
			return B_OK;
		}
		Span stss = tb.stss;
		stss.Skip(4);
		uint64 keys = stss.U32();
		if (stss.overrun || keys > stss.Left() / 4)
			return Fail("sync sample table cut short");
		for (uint64 i = 0; i < keys; i++) {
			uint32 number = stss.U32();
			if (number == 0 || number > count)
				return Fail("sync sample table names sample " + std::to_string(number) + " of " +
				            std::to_string(count));
			t->samples[number - 1].key = true;
		}
		return B_OK;
	}

	BPositionIO* fIO = nullptr;
	uint64 fFileSize = 0;
	// The payloads [begin, end) of the file's 'mdat' boxes, where samples belong.
	std::vector<std::pair<uint64, uint64>> fMediaData;
	std::vector<Track> fTracks;
	std::string fError;
};

}  // namespace

Extractor* instantiate_quicktime_reader() { return new QuickTimeReader; }

}  // namespace BPrivate::media
