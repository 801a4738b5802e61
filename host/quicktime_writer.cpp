// The built-in QuickTime movie writer: 'ftyp', one 'mdat' holding the chunks, and at close a 'moov' with
// one track per AddTrack: video ('KRV1' sample entries, a chunk per frame) or 16-bit PCM sound.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "ContainerTable.h"
#include "DataIO.h"
#include "MediaFormats.h"
#include "MediaTrack.h"
#include "quicktime_boxes.h"

namespace BPrivate::media {

using namespace qt;

namespace {

constexpr uint32 kMovieTimeScale = 1000;
constexpr size_t kMdatHeaderSize = 16;           // 64-bit size form, so the media data may pass 4 GiB
constexpr uint32 kMaxSoundChunkBytes = 4 << 20;  // half a second of sound, unless that is more

struct Sample {
	uint64 offset;
	uint32 size;
	bool key;
};

// A chunk of sound: `frames` sample frames from `offset` on.
struct SoundChunk {
	uint64 offset;
	uint32 frames;
};

struct Track {
	uint32 codec = 0, vendor = 0;
	uint16 width = 0, height = 0;
	uint32 timeScale = 0, delta = 0;  // every sample lasts `delta` units of `timeScale` per second
	std::vector<Sample> samples;

	// Sound: one sample per sample frame, at `timeScale` (the rate) per second, gathered into chunks
	// of `chunkFrames` (half a second) before they are written.
	bool sound = false, bigEndian = false;
	uint32 channels = 0, frameBytes = 0, chunkFrames = 0;
	uint64 frames = 0;
	std::vector<SoundChunk> chunks;
	std::vector<uint8> pending;  // whole frames not yet in a chunk
	media_raw_video_format picture{};  // interlacing, pixel aspect and colour range, where known
};

// A time scale and sample duration that state the field rate exactly where it is a whole number or
// an NTSC-style rate (n x 1000/1001), and to a thousandth otherwise.
bool TimingFor(float fieldRate, uint32* timeScale, uint32* delta)
{
	double rate = fieldRate;
	if (!std::isfinite(rate) || rate <= 0 || rate > 1000000)
		return false;
	double whole = std::round(rate);
	double ntsc = std::round(rate * 1.001);
	if (whole >= 1 && std::fabs(rate - whole) < 1e-4 * rate) {
		*timeScale = (uint32)whole;
		*delta = 1;
	} else if (ntsc >= 1 && std::fabs(ntsc * 1000 / 1001 - rate) < 1e-5 * rate) {
		*timeScale = (uint32)ntsc * 1000;
		*delta = 1001;
	} else {
		*timeScale = (uint32)std::max(1.0, std::round(rate * 1000));
		*delta = 1000;
	}
	return true;
}

// `value` in units of `from` per second, converted to `to` per second, rounded to nearest.
uint64 Rescale(uint64 value, uint32 from, uint32 to)
{
	unsigned __int128 v = (unsigned __int128)value * to + from / 2;
	v /= from;
	return v > UINT64_MAX ? UINT64_MAX : (uint64)v;
}

// 16-bit PCM the sound entries describe: a whole rate up to 2^31 and 1 to 65535 channels.
bool UsableSound(const media_raw_audio_format& a)
{
	return a.format == media_raw_audio_format::B_AUDIO_SHORT && a.channel_count >= 1 &&
	       a.channel_count <= 0xFFFF && a.frame_rate >= 1 && a.frame_rate <= (float)INT32_MAX &&
	       a.frame_rate == std::floor(a.frame_rate);
}

// The classic sound description holds the rate as 16.16 and is read for mono and stereo; other sound
// takes the version 2 form ('lpcm', rate as a double).
bool ClassicSound(const Track& t) { return t.timeScale <= 0xFFFF && t.channels <= 2; }

const int32 kMatrix[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};

void Matrix(BoxBuilder& b)
{
	for (int32 m : kMatrix)
		b.U32((uint32)m);
}

// A Pascal string (length byte, then the text) as QuickTime handler and compressor names are kept.
void PascalString(BoxBuilder& b, const char* text, size_t fieldSize)
{
	size_t n = strlen(text);
	if (fieldSize && n > fieldSize - 1)
		n = fieldSize - 1;
	b.U8((uint8)n);
	b.Bytes(text, n);
	if (fieldSize)
		b.Zeros(fieldSize - 1 - n);
}

void Handler(BoxBuilder& b, uint32 componentType, uint32 subtype, const char* name)
{
	size_t box = b.BeginFull(FourCC("hdlr"), 0, 0);
	b.U32(componentType);
	b.U32(subtype);
	b.U32(0);  // manufacturer
	b.U32(0);  // flags
	b.U32(0);  // flags mask
	PascalString(b, name, 0);
	b.End(box);
}

// Version 0 boxes hold 32-bit times; larger durations need version 1.
void TimesAndDuration(BoxBuilder& b, bool v1, uint64 duration, uint32 timeScale, uint32 trackId)
{
	if (v1) {
		b.U64(0);  // creation
		b.U64(0);  // modification
	} else {
		b.U32(0);
		b.U32(0);
	}
	if (trackId) {
		b.U32(trackId);
		b.U32(0);
	} else {
		b.U32(timeScale);
	}
	if (v1)
		b.U64(duration);
	else
		b.U32((uint32)duration);
}

class QuickTimeWriter : public MediaWriter {
public:
	status_t SetSource(BDataIO* source) override
	{
		fTarget = dynamic_cast<BPositionIO*>(source);
		return fTarget ? B_OK : B_BAD_TYPE;
	}

	status_t AddCopyright(const char* text) override
	{
		if (!text || strlen(text) > 0xFFFF)
			return B_BAD_VALUE;
		fCopyright = text;
		return B_OK;
	}

	status_t AddTrackInfo(int32, uint32, const void*, size_t) override { return B_OK; }

	status_t AddTrack(BMediaTrack* track) override
	{
		if (fCommitted)
			return B_NOT_ALLOWED;
		media_format format;
		if (!track || track->EncodedFormat(&format) != B_OK)
			return B_BAD_VALUE;
		status_t status = quicktime_writer_accepts(&format);
		if (status != B_OK)
			return status;
		if (format.type == B_MEDIA_RAW_AUDIO) {
			const media_raw_audio_format& a = format.u.raw_audio;
			Track t;
			t.sound = true;
			t.bigEndian = a.byte_order == B_MEDIA_BIG_ENDIAN;
			t.timeScale = (uint32)a.frame_rate;
			t.delta = 1;
			t.channels = a.channel_count;
			t.frameBytes = 2 * a.channel_count;
			t.chunkFrames = std::clamp(t.timeScale / 2, 1u, kMaxSoundChunkBytes / t.frameBytes);
			t.codec = !ClassicSound(t) ? FourCC("lpcm") : t.bigEndian ? FourCC("twos") : FourCC("sowt");
			fTracks.push_back(std::move(t));
			return B_OK;
		}
		media_format_description d;
		BMediaFormats formats;
		formats.Lock();
		formats.GetCodeFor(format, B_QUICKTIME_FORMAT_FAMILY, &d);
		formats.Unlock();
		const media_raw_video_format& v = format.u.encoded_video.output;
		Track t;
		t.codec = d.u.quicktime.codec;
		t.vendor = d.u.quicktime.vendor;
		t.width = (uint16)v.display.line_width;
		t.height = (uint16)v.display.line_count;
		t.picture = v;
		TimingFor(v.field_rate, &t.timeScale, &t.delta);
		fTracks.push_back(std::move(t));
		return B_OK;
	}

	status_t AddChunk(int32, const void*, size_t) override { return B_ERROR; }

	status_t CommitHeader() override
	{
		if (!fTarget)
			return B_NO_INIT;
		if (fCommitted)
			return B_OK;
		BoxBuilder b;
		size_t ftyp = b.Begin(FourCC("ftyp"));
		b.U32(kBrandQuickTime);
		b.U32(0x20050300);
		b.U32(kBrandQuickTime);
		b.End(ftyp);
		fMdatStart = b.bytes.size();
		b.U32(1);
		b.U32(FourCC("mdat"));
		b.U64(kMdatHeaderSize);
		status_t status = WriteAll(0, b.bytes);
		if (status != B_OK)
			return status;
		fEnd = b.bytes.size();
		fCommitted = true;
		return B_OK;
	}

	status_t WriteData(int32 stream, media_type, const void* data, size_t size,
	                   media_encode_info* info) override
	{
		if (!fCommitted || fClosed)
			return B_NOT_ALLOWED;
		if (stream < 0 || (size_t)stream >= fTracks.size())
			return B_BAD_INDEX;
		if (size > UINT32_MAX)
			return B_BAD_VALUE;
		Track& t = fTracks[stream];
		if (t.sound)
			return AddSound(t, static_cast<const uint8*>(data), size);
		status_t status = WriteAt(fEnd, data, size);
		if (status != B_OK)
			return status;
		bool key = info && (info->flags & B_MEDIA_KEY_FRAME);
		t.samples.push_back({(uint64)fEnd, (uint32)size, key});
		fEnd += (off_t)size;
		return B_OK;
	}

	status_t CloseFile() override
	{
		if (fClosed)
			return B_OK;
		status_t status = CommitHeader();
		for (Track& t : fTracks) {
			if (status == B_OK && t.sound && !t.pending.empty())
				status = WriteSoundChunk(t, t.pending.size());
			t.pending.clear();
		}
		if (status != B_OK)
			return status;
		fClosed = true;
		BoxBuilder size;
		size.U64((uint64)(fEnd - fMdatStart));
		status = WriteAll(fMdatStart + 8, size.bytes);
		if (status != B_OK)
			return status;
		BoxBuilder moov;
		BuildMovie(moov);
		return WriteAll(fEnd, moov.bytes);
	}

private:
	status_t WriteAt(off_t at, const void* data, size_t size)
	{
		ssize_t n = fTarget->WriteAt(at, data, size);
		if (n < 0)
			return (status_t)n;
		return (size_t)n == size ? B_OK : B_IO_ERROR;
	}

	status_t WriteAll(off_t at, const std::vector<uint8>& bytes)
	{
		return WriteAt(at, bytes.data(), bytes.size());
	}

	// Sound is gathered into chunks of half a second, so it sits in the file beside the pictures of
	// its time whatever pieces the application writes.
	status_t AddSound(Track& t, const uint8* data, size_t size)
	{
		if (size % t.frameBytes)
			return B_BAD_VALUE;
		const size_t chunkBytes = (size_t)t.chunkFrames * t.frameBytes;
		t.pending.insert(t.pending.end(), data, data + size);
		size_t done = 0;
		status_t status = B_OK;
		while (status == B_OK && t.pending.size() - done >= chunkBytes) {
			status = WriteSoundChunk(t, chunkBytes, done);
			done += chunkBytes;
		}
		t.pending.erase(t.pending.begin(), t.pending.begin() + (ptrdiff_t)done);
		return status;
	}

	// Writes `size` bytes of the pending sound from `from` on as one chunk.
	status_t WriteSoundChunk(Track& t, size_t size, size_t from = 0)
	{
		const uint32 frames = (uint32)(size / t.frameBytes);
		if (frames > UINT32_MAX - t.frames)
			return B_BAD_VALUE;  // the sample tables count at most 2^32 - 1 frames
		status_t status = WriteAt(fEnd, t.pending.data() + from, size);
		if (status != B_OK)
			return status;
		t.chunks.push_back({(uint64)fEnd, frames});
		t.frames += frames;
		fEnd += (off_t)size;
		return B_OK;
	}

	void BuildMovie(BoxBuilder& b)
	{
		uint64 movieDuration = 0;
		for (const Track& t : fTracks)
			movieDuration = std::max(movieDuration, Rescale(MediaDuration(t), t.timeScale, kMovieTimeScale));
		size_t moov = b.Begin(FourCC("moov"));
		bool v1 = movieDuration > UINT32_MAX;
		size_t mvhd = b.BeginFull(FourCC("mvhd"), v1, 0);
		TimesAndDuration(b, v1, movieDuration, kMovieTimeScale, 0);
		b.U32(0x00010000);  // rate 1.0
		b.U16(0x0100);      // volume 1.0
		b.Zeros(10);
		Matrix(b);
		b.Zeros(24);  // preview, poster, selection and current times
		b.U32((uint32)fTracks.size() + 1);
		b.End(mvhd);
		for (size_t i = 0; i < fTracks.size(); i++)
			BuildTrack(b, fTracks[i], (uint32)i + 1);
		if (!fCopyright.empty()) {
			size_t udta = b.Begin(FourCC("udta"));
			size_t cpy = b.Begin(0xA9637079);  // '©cpy'
			b.U16((uint16)fCopyright.size());
			b.U16(0);  // Macintosh language code: English
			b.Bytes(fCopyright.data(), fCopyright.size());
			b.End(cpy);
			b.End(udta);
		}
		b.End(moov);
	}

	static uint64 MediaDuration(const Track& t)
	{
		return t.sound ? t.frames : (uint64)t.samples.size() * t.delta;
	}

	void BuildTrack(BoxBuilder& b, const Track& t, uint32 id)
	{
		const uint64 mediaDuration = MediaDuration(t);
		const uint64 duration = Rescale(mediaDuration, t.timeScale, kMovieTimeScale);
		size_t trak = b.Begin(FourCC("trak"));

		bool v1 = duration > UINT32_MAX;
		size_t tkhd = b.BeginFull(FourCC("tkhd"), v1, 0xF);  // enabled, in movie, preview, poster
		TimesAndDuration(b, v1, duration, 0, id);
		b.Zeros(8);
		b.U16(0);                     // layer
		b.U16(0);                     // alternate group
		b.U16(t.sound ? 0x0100 : 0);  // volume: full for sound, none for video
		b.U16(0);
		Matrix(b);
		b.U32((uint32)t.width << 16);
		b.U32((uint32)t.height << 16);
		b.End(tkhd);

		size_t mdia = b.Begin(FourCC("mdia"));
		v1 = mediaDuration > UINT32_MAX;
		size_t mdhd = b.BeginFull(FourCC("mdhd"), v1, 0);
		TimesAndDuration(b, v1, mediaDuration, t.timeScale, 0);
		b.U16(0);  // language: English
		b.U16(0);  // quality
		b.End(mdhd);
		size_t minf;
		if (t.sound) {
			Handler(b, FourCC("mhlr"), FourCC("soun"), "Korvo sound media handler");
			minf = b.Begin(FourCC("minf"));
			size_t smhd = b.BeginFull(FourCC("smhd"), 0, 0);
			b.U16(0);  // balance: centre
			b.U16(0);
			b.End(smhd);
		} else {
			Handler(b, FourCC("mhlr"), FourCC("vide"), "Korvo video media handler");
			minf = b.Begin(FourCC("minf"));
			size_t vmhd = b.BeginFull(FourCC("vmhd"), 0, 1);
			b.U16(0x40);  // graphics mode: dither copy
			b.Zeros(6);   // opcolor
			b.End(vmhd);
		}
		Handler(b, FourCC("dhlr"), FourCC("alis"), "Korvo data handler");
		size_t dinf = b.Begin(FourCC("dinf"));
		size_t dref = b.BeginFull(FourCC("dref"), 0, 0);
		b.U32(1);
		size_t alis = b.BeginFull(FourCC("alis"), 0, 1);  // the data is in this file
		b.End(alis);
		b.End(dref);
		b.End(dinf);
		if (t.sound)
			BuildSoundTable(b, t);
		else
			BuildSampleTable(b, t);
		b.End(minf);
		b.End(mdia);
		b.End(trak);
	}

	// What the format says of the picture beyond its size: 'fiel' (one field, or two with the first
	// on top or at the bottom, interleaved), 'pasp' (pixel aspect) and 'colr' of type 'nclx' (colour
	// range; primaries, transfer and matrix unspecified). Nothing for what is not known.
	static void PictureBoxes(BoxBuilder& b, const media_raw_video_format& v)
	{
		const uint32 flags = v.display.flags;
		if (v.interlace == 1 || (v.interlace == 2 && (flags & B_F1_DOMINANT))) {
			size_t fiel = b.Begin(FourCC("fiel"));
			b.U8((uint8)v.interlace);
			b.U8(v.interlace == 1 ? 0 : flags & B_TOP_SCANLINE_F1 ? 9 : 14);
			b.End(fiel);
		}
		if (v.pixel_width_aspect && v.pixel_height_aspect) {
			size_t pasp = b.Begin(FourCC("pasp"));
			b.U32(v.pixel_width_aspect);
			b.U32(v.pixel_height_aspect);
			b.End(pasp);
		}
		if (flags & (B_VIDEO_FULL_RANGE | B_VIDEO_LIMITED_RANGE)) {
			size_t colr = b.Begin(FourCC("colr"));
			b.U32(FourCC("nclx"));
			b.U16(2);  // primaries, transfer characteristics and matrix: unspecified
			b.U16(2);
			b.U16(2);
			b.U8(flags & B_VIDEO_FULL_RANGE ? 0x80 : 0);
			b.End(colr);
		}
	}

	void BuildSampleTable(BoxBuilder& b, const Track& t)
	{
		const uint32 count = (uint32)t.samples.size();
		size_t stbl = b.Begin(FourCC("stbl"));

		size_t stsd = b.BeginFull(FourCC("stsd"), 0, 0);
		b.U32(1);
		size_t entry = b.Begin(t.codec);
		b.Zeros(6);
		b.U16(1);  // data reference index
		b.U16(0);  // version
		b.U16(0);  // revision
		b.U32(t.vendor);
		b.U32(512);  // temporal quality: normal
		b.U32(512);  // spatial quality: normal
		b.U16(t.width);
		b.U16(t.height);
		b.U32(0x00480000);  // 72 dpi
		b.U32(0x00480000);
		b.U32(0);  // data size
		b.U16(1);  // frames per sample
		PascalString(b, "Korvo", 32);
		b.U16(24);      // depth
		b.U16(0xFFFF);  // no colour table
		PictureBoxes(b, t.picture);
		b.End(entry);
		b.End(stsd);

		size_t stts = b.BeginFull(FourCC("stts"), 0, 0);
		b.U32(count ? 1 : 0);
		if (count) {
			b.U32(count);
			b.U32(t.delta);
		}
		b.End(stts);

		size_t stss = b.BeginFull(FourCC("stss"), 0, 0);
		size_t keyCountAt = b.bytes.size();
		b.U32(0);
		uint32 keys = 0;
		for (uint32 i = 0; i < count; i++) {
			if (t.samples[i].key) {
				b.U32(i + 1);
				keys++;
			}
		}
		b.PutU32At(keyCountAt, keys);
		b.End(stss);

		// One sample per chunk: tracks interleave in the order the application wrote them.
		size_t stsc = b.BeginFull(FourCC("stsc"), 0, 0);
		b.U32(count ? 1 : 0);
		if (count) {
			b.U32(1);
			b.U32(1);
			b.U32(1);
		}
		b.End(stsc);

		size_t stsz = b.BeginFull(FourCC("stsz"), 0, 0);
		b.U32(0);
		b.U32(count);
		for (const Sample& s : t.samples)
			b.U32(s.size);
		b.End(stsz);

		ChunkOffsets(b, t.samples);
		b.End(stbl);
	}

	// 'stco', or 'co64' once an offset passes 4 GiB.
	template <typename Chunk>
	static void ChunkOffsets(BoxBuilder& b, const std::vector<Chunk>& chunks)
	{
		bool wide = false;
		for (const Chunk& c : chunks)
			wide |= c.offset > UINT32_MAX;
		size_t stco = b.BeginFull(FourCC(wide ? "co64" : "stco"), 0, 0);
		b.U32((uint32)chunks.size());
		for (const Chunk& c : chunks) {
			if (wide)
				b.U64(c.offset);
			else
				b.U32((uint32)c.offset);
		}
		b.End(stco);
	}

	// Sound: one sample per frame of every channel's 16-bit value, chunks as they were written.
	static void BuildSoundTable(BoxBuilder& b, const Track& t)
	{
		size_t stbl = b.Begin(FourCC("stbl"));

		size_t stsd = b.BeginFull(FourCC("stsd"), 0, 0);
		b.U32(1);
		size_t entry = b.Begin(t.codec);
		b.Zeros(6);
		b.U16(1);  // data reference index
		if (ClassicSound(t)) {
			b.U16(0);  // version
			b.U16(0);  // revision
			b.U32(0);  // vendor
			b.U16((uint16)t.channels);
			b.U16(16);  // bits per sample
			b.U16(0);   // compression id: none
			b.U16(0);   // packet size
			b.U32(t.timeScale << 16);
		} else {
			b.U16(2);
			b.U16(0);
			b.U32(0);
			b.U16(3);  // fields of the older forms, fixed values in this one
			b.U16(16);
			b.U16(0xFFFE);
			b.U16(0);
			b.U32(0x00010000);
			b.U32(72);  // size of the description up to here
			double rate = t.timeScale;
			uint64 rateBits;
			memcpy(&rateBits, &rate, sizeof rateBits);
			b.U64(rateBits);
			b.U32(t.channels);
			b.U32(0x7F000000);
			b.U32(16);                                         // bits per channel
			b.U32(t.bigEndian ? 0x4 | 0x8 | 0x2 : 0x4 | 0x8);  // signed integer, packed, [big-endian]
			b.U32(t.frameBytes);                               // bytes per packet
			b.U32(1);                                          // frames per packet
		}
		b.End(entry);
		b.End(stsd);

		size_t stts = b.BeginFull(FourCC("stts"), 0, 0);
		b.U32(t.frames ? 1 : 0);
		if (t.frames) {
			b.U32((uint32)t.frames);
			b.U32(1);
		}
		b.End(stts);

		// Runs of chunks of the same length: usually one, and one for the shorter last chunk.
		size_t stsc = b.BeginFull(FourCC("stsc"), 0, 0);
		size_t runCountAt = b.bytes.size();
		b.U32(0);
		uint32 runs = 0;
		for (size_t i = 0; i < t.chunks.size(); i++) {
			if (i && t.chunks[i].frames == t.chunks[i - 1].frames)
				continue;
			b.U32((uint32)i + 1);
			b.U32(t.chunks[i].frames);
			b.U32(1);
			runs++;
		}
		b.PutU32At(runCountAt, runs);
		b.End(stsc);

		size_t stsz = b.BeginFull(FourCC("stsz"), 0, 0);
		b.U32(t.frameBytes);
		b.U32((uint32)t.frames);
		b.End(stsz);

		ChunkOffsets(b, t.chunks);
		b.End(stbl);
	}

	BPositionIO* fTarget = nullptr;
	std::vector<Track> fTracks;
	std::string fCopyright;
	bool fCommitted = false, fClosed = false;
	off_t fMdatStart = 0, fEnd = 0;
};

}  // namespace

MediaWriter* instantiate_quicktime_writer() { return new QuickTimeWriter; }

status_t quicktime_writer_info(media_file_format* mfi)
{
	DescribeQuickTimeFile(mfi);
	return B_OK;
}

// Encoded video with a QuickTime name, a size that fits the 16-bit sample entry and a usable rate; or
// 16-bit PCM sound at a whole rate.
status_t quicktime_writer_accepts(const media_format* format)
{
	if (format && format->type == B_MEDIA_RAW_AUDIO)
		return UsableSound(format->u.raw_audio) ? B_OK : B_MEDIA_BAD_FORMAT;
	if (!format || format->type != B_MEDIA_ENCODED_VIDEO)
		return B_BAD_TYPE;
	media_format_description d;
	BMediaFormats formats;
	formats.Lock();
	status_t status = formats.GetCodeFor(*format, B_QUICKTIME_FORMAT_FAMILY, &d);
	formats.Unlock();
	if (status != B_OK)
		return status;
	const media_raw_video_format& v = format->u.encoded_video.output;
	uint32 timeScale, delta;
	if (v.display.line_width - 1 > 0xFFFE || v.display.line_count - 1 > 0xFFFE ||
	    !TimingFor(v.field_rate, &timeScale, &delta))
		return B_BAD_VALUE;
	return B_OK;
}

}  // namespace BPrivate::media
