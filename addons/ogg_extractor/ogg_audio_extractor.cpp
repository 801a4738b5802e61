// The OggAudioExtractor add-on: reads Ogg Vorbis files through libvorbisfile on the host's BPositionIO
// and hands out one track of decoded 16-bit little-endian PCM in chunks of whole frames, channels in
// the host's order. Chained streams whose links differ in rate or channels come out in the first
// link's format; the comments of the first link are the file's tags.
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "AudioConverter.h"
#include "ContainerTable.h"
#include "DataIO.h"
#include "Extractor.h"
#include "MediaFormats.h"
#include "MediaTags.h"
#include "Message.h"

namespace {

const uint32 kFileFormat = 0x766f7262;  // 'vorb'
const uint32 kCodec = 0x206f6767;       // 'ogg '
const int32 kChunkBytes = 4096;         // at most; whole frames only
const int32 kReadBytes = 4096;          // asked of ov_read at a time

size_t pioRead(void* ptr, size_t size, size_t nmemb, void* source)
{
	if (size == 0 || nmemb > SIZE_MAX / size)
		return 0;
	const ssize_t n = static_cast<BPositionIO*>(source)->Read(ptr, size * nmemb);
	if (n < 0) {
		errno = EIO;  // libvorbisfile tells a read error from the end of the data by errno
		return 0;
	}
	return static_cast<size_t>(n) / size;
}

int pioSeek(void* source, ogg_int64_t offset, int whence)
{
	return static_cast<BPositionIO*>(source)->Seek(offset, static_cast<uint32>(whence)) < 0 ? -1 : 0;
}

long pioTell(void* source) { return static_cast<long>(static_cast<BPositionIO*>(source)->Position()); }

class OggAudioExtractor : public BPrivate::Extractor {
public:
	OggAudioExtractor()
	{
		static const char kStars[] =
		        "*********************************************************************\n";
		fputs(kStars, stderr);
		fputs("Vorbis Extractor.\nThis decoder is based on undocumented APIs.\n", stderr);
		fputs("Therefore it is likely, if not certain, to break in future\n", stderr);
		fputs("versions of BeOS. This piece of software is in no way\n", stderr);
		fputs("connected to or even supported by Be, Inc.   \n", stderr);
		fputs(kStars, stderr);
		memset(&vf, 0, sizeof vf);
	}

	~OggAudioExtractor() override { Close(); }

	status_t GetFileFormatInfo(media_file_format* mfi) override
	{
		fill_media_file_format(
		        mfi,
		        media_file_format::B_READABLE | media_file_format::B_PERFECTLY_SEEKABLE |
		                media_file_format::B_IMPERFECTLY_SEEKABLE | media_file_format::B_KNOWS_ENCODED_AUDIO,
		        B_MISC_FORMAT_FAMILY, 1280, "audio/x-Vorbis", "Ogg Vorbis File", "vorbis", "ogg");
		return B_OK;
	}

	status_t Sniff(int32* streams, int32* chunkSize) override
	{
		BPositionIO* source = dynamic_cast<BPositionIO*>(Source());
		if (!source)
			return B_IO_ERROR;
		Close();
		memset(&vf, 0, sizeof vf);
		callbacks.read_func = pioRead;
		callbacks.seek_func = pioSeek;
		callbacks.close_func = nullptr;
		callbacks.tell_func = pioTell;
		if (ov_open_callbacks(source, &vf, nullptr, 0, callbacks) < 0)
			return B_BAD_TYPE;
		opened = true;
		const vorbis_info* vi = ov_info(&vf, -1);
		if (!vi || vi->rate <= 0 || vi->channels <= 0) {
			Close();
			return B_BAD_TYPE;
		}
		rate = vi->rate;
		channels = vi->channels;
		if (!CheckLinks()) {
			Close();
			return B_BAD_DATA;
		}
		const int32 frameBytes = 2 * channels;
		chunkBytes = kChunkBytes - kChunkBytes % frameBytes;
		if (chunkBytes == 0) {  // more than 2048 channels
			Close();
			return B_BAD_TYPE;
		}
		Restart();
		*streams = 1;
		*chunkSize = chunkBytes;
		return B_OK;
	}

	status_t TrackInfo(int32 stream, media_format* out, void**, int32*) override
	{
		if (!opened)
			return B_NO_INIT;
		if (stream != 0)
			return B_BAD_INDEX;
		memset(static_cast<void*>(out), 0, sizeof *out);
		media_format_description description;
		description.family = B_MISC_FORMAT_FAMILY;
		description.u.misc.file_format = kFileFormat;
		description.u.misc.codec = kCodec;
		BMediaFormats formats;
		formats.Lock();
		const status_t status = formats.GetFormatFor(description, out);
		formats.Unlock();
		if (status != B_OK)
			return status;
		out->type = B_MEDIA_ENCODED_AUDIO;
		media_raw_audio_format& raw = out->u.encoded_audio.output;
		raw.frame_rate = static_cast<float>(rate);
		raw.channel_count = static_cast<uint32>(channels);
		raw.format = media_raw_audio_format::B_AUDIO_SHORT;
		raw.byte_order = B_MEDIA_LITTLE_ENDIAN;
		raw.buffer_size = static_cast<size_t>(chunkBytes);
		return B_OK;
	}

	status_t CountFrames(int32 stream, int64* frames) override
	{
		if (!opened)
			return B_NO_INIT;
		if (stream != 0)
			return B_BAD_INDEX;
		if (!mixedLinks) {
			const ogg_int64_t total = ov_pcm_total(&vf, -1);
			if (total < 0)
				return B_ERROR;
			*frames = total;
			return B_OK;
		}
		int64 total = 0;
		for (int link = 0; link < ov_streams(&vf); link++)
			total += LinkFrames(link);
		*frames = total;
		return B_OK;
	}

	status_t GetDuration(int32 stream, bigtime_t* duration) override
	{
		int64 frames;
		if (status_t status = CountFrames(stream, &frames); status != B_OK)
			return status;
		*duration = FramesToTime(frames);
		return B_OK;
	}

	status_t AllocateCookie(int32 stream, void** cookie) override
	{
		if (!opened)
			return B_NO_INIT;
		if (stream != 0)
			return B_BAD_INDEX;
		int32* section = new (std::nothrow) int32(-1);
		if (!section)
			return B_NO_MEMORY;
		*cookie = section;
		ov_pcm_seek(&vf, 0);
		Restart();
		return B_OK;
	}

	status_t FreeCookie(int32, void* cookie) override
	{
		delete static_cast<int32*>(cookie);
		return B_OK;
	}

	status_t SplitNext(int32 stream, void* cookie, off_t* filePos, char*, int32* packetSize, char** chunk,
	                   int32* chunkSize, media_header* header) override
	{
		if (!opened || !cookie)
			return B_NO_INIT;
		if (stream != 0)
			return B_BAD_INDEX;
		const ogg_int64_t start = ov_raw_tell(&vf);
		// What the last chunk handed out goes; the rest stays in front.
		pending.erase(pending.begin(), pending.begin() + delivered);
		delivered = 0;
		const size_t chunkSamples = static_cast<size_t>(chunkBytes / 2);
		while (pending.size() < chunkSamples && !ended) {
			const long n = ov_read(&vf, readBuffer, kReadBytes, 0, 2, 1, static_cast<int*>(cookie));
			if (n == OV_HOLE)  // a gap in the data: decoding goes on after it
				continue;
			if (n <= 0) {
				ended = true;
				EndLink();
				break;
			}
			if (!Append(*static_cast<int*>(cookie), n)) {
				errorText = "a link of the chained stream cannot be converted to the first one's format";
				return B_BAD_DATA;
			}
		}
		*packetSize = 0;
		if (pending.empty()) {
			header->start_time = FramesToTime(outFrame);
			*filePos = header->file_pos = ov_raw_total(&vf, -1);
			header->orig_size = 0;
			header->size_used = 0;
			*chunkSize = 0;
			return B_LAST_BUFFER_ERROR;
		}
		// At the end the last, partial chunk goes out with its true size.
		const size_t samples = std::min(pending.size(), chunkSamples);
		header->start_time = FramesToTime(outFrame);
		outFrame += static_cast<int64>(samples / channels);
		*chunk = reinterpret_cast<char*>(pending.data());
		*filePos = header->file_pos = ov_raw_tell(&vf);
		header->orig_size = static_cast<size_t>(header->file_pos - start);
		header->size_used = static_cast<uint32>(samples * 2);
		*chunkSize = static_cast<int32>(samples * 2);
		delivered = samples;
		return B_OK;
	}

	status_t Seek(int32 stream, void*, int32 toWhat, int32, bigtime_t* time, int64* frame, off_t* filePos,
	              char*, int32* size, bool* done) override
	{
		if (!opened)
			return B_NO_INIT;
		if (stream != 0)
			return B_BAD_INDEX;
		if (!time || !frame || !filePos)
			return B_BAD_VALUE;
		if (toWhat != B_SEEK_BY_FRAME && toWhat != B_SEEK_BY_TIME)
			return B_BAD_VALUE;
		int result;
		if (mixedLinks) {
			// Positions count frames of the first link's rate; each link is reached at its own.
			const int64 target = toWhat == B_SEEK_BY_FRAME
			                             ? *frame
			                             : static_cast<int64>(static_cast<double>(*time) * rate / 1e6);
			int64 at = 0;
			result = SeekMixed(target, &at);
			*frame = at;
		} else {
			result = toWhat == B_SEEK_BY_FRAME ? ov_pcm_seek(&vf, *frame)
			                                   : ov_time_seek(&vf, *time / 1000000.0);
			*frame = ov_pcm_tell(&vf);
		}
		if (result != 0)
			return B_BAD_VALUE;
		// What was decoded before the seek belongs to the old place.
		Restart();
		outFrame = *frame;
		*time = FramesToTime(*frame);
		*filePos = ov_raw_tell(&vf);
		if (size)
			*size = chunkBytes;
		if (done)
			*done = true;
		return B_OK;
	}

	status_t Perform(perform_code code, void* data) override
	{
		if (code == BPrivate::media::B_PERFORM_GET_ERROR_TEXT && data) {
			*static_cast<const char**>(data) = errorText.c_str();
			return B_OK;
		}
		if (code == B_PERFORM_GET_TAGS && data && opened) {
			ReadTags(static_cast<BMessage*>(data));
			return B_OK;
		}
		return Extractor::Perform(code, data);
	}

private:
	// Frames to microseconds at the stream's rate, truncated, without overflowing for any count.
	bigtime_t FramesToTime(int64 frames) const
	{
		if (frames <= 0)
			return 0;
		if (frames / rate > INT64_MAX / 1000000 - 1)
			return INT64_MAX;
		return frames / rate * 1000000 + frames % rate * 1000000 / rate;
	}

	void Close()
	{
		if (opened)
			ov_clear(&vf);
		opened = false;
	}

	// Every link must be decodable; links of another rate or channel count than the first are
	// converted to it, which needs a converter that takes them.
	bool CheckLinks()
	{
		mixedLinks = false;
		for (int link = 0; link < ov_streams(&vf); link++) {
			const vorbis_info* vi = ov_info(&vf, link);
			if (!vi || vi->rate <= 0 || vi->channels <= 0) {
				errorText = "link " + std::to_string(link) + " of the chained stream has no usable format";
				return false;
			}
			if (vi->rate == rate && vi->channels == channels)
				continue;
			BAudioConverter trial;
			if (trial.SetTo(vi->rate, static_cast<uint32>(vi->channels), rate,
			                static_cast<uint32>(channels)) != B_OK) {
				errorText = "link " + std::to_string(link) + " of the chained stream (" +
				            std::to_string(vi->rate) + " Hz, " + std::to_string(vi->channels) +
				            " channels) cannot be converted to the first link's " + std::to_string(rate) +
				            " Hz, " + std::to_string(channels) + " channels";
				return false;
			}
			mixedLinks = true;
		}
		return true;
	}

	// A link's length in frames of the first link's rate.
	int64 LinkFrames(int link)
	{
		const ogg_int64_t frames = ov_pcm_total(&vf, link);
		const vorbis_info* vi = ov_info(&vf, link);
		if (frames <= 0 || !vi)
			return 0;
		return static_cast<int64>(std::llround(static_cast<double>(frames) * rate / vi->rate));
	}

	int SeekMixed(int64 target, int64* at)
	{
		if (target < 0)
			return OV_EINVAL;
		ogg_int64_t linkStart = 0;
		int64 outStart = 0;
		for (int link = 0; link < ov_streams(&vf); link++) {
			const int64 length = LinkFrames(link);
			if (target < outStart + length) {
				const vorbis_info* vi = ov_info(&vf, link);
				const ogg_int64_t offset =
				        static_cast<ogg_int64_t>(static_cast<double>(target - outStart) * vi->rate / rate);
				*at = outStart + static_cast<int64>(static_cast<double>(offset) * rate / vi->rate);
				return ov_pcm_seek(&vf, linkStart + offset);
			}
			outStart += length;
			linkStart += ov_pcm_total(&vf, link);
		}
		*at = outStart;
		return target == outStart ? ov_pcm_seek(&vf, linkStart) : OV_EINVAL;
	}

	void Restart()
	{
		pending.clear();
		delivered = 0;
		ended = false;
		outFrame = 0;
		link = -1;
		converting = false;
	}

	// Decoded bytes of `link` to host-order frames of the first link's format at the end of `pending`.
	bool Append(int newLink, long bytes)
	{
		const vorbis_info* vi = ov_info(&vf, newLink);
		if (!vi || vi->channels <= 0)
			return false;
		const uint32 linkChannels = static_cast<uint32>(vi->channels);
		if (newLink != link) {
			EndLink();
			link = newLink;
			if (vi->rate != rate || vi->channels != channels) {
				if (converter.SetTo(vi->rate, linkChannels, rate, static_cast<uint32>(channels)) != B_OK)
					return false;
				converting = true;
			}
		}
		const size_t frames = static_cast<size_t>(bytes) / (2 * linkChannels);
		const int16* in = reinterpret_cast<const int16*>(readBuffer);
		const uint8* map = vorbis_channel_map(linkChannels);
		reordered.resize(frames * linkChannels);
		for (size_t f = 0; f < frames; f++) {
			for (uint32 c = 0; c < linkChannels; c++)
				reordered[f * linkChannels + (map ? map[c] : c)] = in[f * linkChannels + c];
		}
		if (!converting) {
			pending.insert(pending.end(), reordered.begin(), reordered.end());
			return true;
		}
		return converter.Convert(reordered.data(), frames, &pending) == B_OK;
	}

	// The converter of a link that ends gives back the frames it still holds.
	void EndLink()
	{
		if (converting)
			converter.Finish(&pending);
		converting = false;
	}

	void ReadTags(BMessage* tags)
	{
		const vorbis_comment* vc = ov_comment(&vf, 0);
		for (int i = 0; vc && i < vc->comments; i++) {
			const char* text = vc->user_comments[i];
			const char* equals =
			        text ? static_cast<const char*>(memchr(text, '=', vc->comment_lengths[i])) : nullptr;
			if (!equals)
				continue;
			std::string name(text, equals);
			for (char& ch : name)
				ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
			for (const char* known : kMediaTagNames) {
				if (name == known)
					tags->AddString(known, std::string(equals + 1, text + vc->comment_lengths[i]).c_str());
			}
		}
	}

	OggVorbis_File vf;
	ov_callbacks callbacks{};
	char readBuffer[kReadBytes];
	std::vector<int16> reordered;
	std::vector<int16> pending;  // decoded frames in the first link's format, host channel order
	size_t delivered = 0;        // samples at the front of `pending` handed out by the last SplitNext
	bool ended = false;
	int64 outFrame = 0;  // the frame the next chunk starts at
	int link = -1;       // the link the last decoded bytes came from
	bool mixedLinks = false;
	bool converting = false;
	BAudioConverter converter;
	std::string errorText;
	bool opened = false;
	long rate = 44100;
	int channels = 2;
	int32 chunkBytes = kChunkBytes;
};

}  // namespace

KORVO_EXPORT BPrivate::Extractor* instantiate_extractor() { return new (std::nothrow) OggAudioExtractor; }
