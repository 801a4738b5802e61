// The OggAudioExtractor add-on: reads Ogg Vorbis files through libvorbisfile on the host's BPositionIO
// and hands out one track of decoded 16-bit little-endian PCM in chunks of whole frames.
#include <vorbis/vorbisfile.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "DataIO.h"
#include "Extractor.h"
#include "MediaFormats.h"

namespace {

const uint32 kFileFormat = 0x766f7262;  // 'vorb'
const uint32 kCodec = 0x206f6767;       // 'ogg '
const int32 kChunkBytes = 4096;         // at most; whole frames only
const int32 kBufferBytes = 8192;

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
		const int32 frameBytes = 2 * channels;
		chunkBytes = kChunkBytes - kChunkBytes % frameBytes;
		if (chunkBytes == 0) {  // more than 2048 channels
			Close();
			return B_BAD_TYPE;
		}
		fill = 0;
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
		const ogg_int64_t total = ov_pcm_total(&vf, -1);
		if (total < 0)
			return B_ERROR;
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
		fill = 0;
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
		// The bytes past the last chunk were kept behind it.
		memmove(pcm, pcm + delivered, fill);
		delivered = 0;
		bool end = false;
		while (fill < chunkBytes) {
			const long n = ov_read(&vf, pcm + fill,
			                       kBufferBytes - fill < kChunkBytes ? kBufferBytes - fill : kChunkBytes, 0,
			                       2, 1, static_cast<int*>(cookie));
			if (n == OV_HOLE)  // a gap in the data: decoding goes on after it
				continue;
			if (n <= 0) {
				end = true;
				break;
			}
			fill += static_cast<int32>(n);
		}
		*packetSize = 0;
		if (end && fill == 0) {
			header->start_time = FramesToTime(ov_pcm_total(&vf, -1));
			*filePos = header->file_pos = ov_raw_total(&vf, -1);
			header->orig_size = 0;
			header->size_used = 0;
			*chunkSize = 0;
			return B_LAST_BUFFER_ERROR;
		}
		// At the end the last, partial chunk goes out with its true size.
		const int32 size = fill < chunkBytes ? fill : chunkBytes;
		const int64 framesHeld = fill / (2 * channels);
		header->start_time = FramesToTime(ov_pcm_tell(&vf) - framesHeld);
		*chunk = pcm;
		*filePos = header->file_pos = ov_raw_tell(&vf);
		header->orig_size = static_cast<size_t>(header->file_pos - start);
		header->size_used = static_cast<uint32>(size);
		*chunkSize = size;
		fill -= size;
		delivered = size;
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
		int result;
		switch (toWhat) {
			case B_SEEK_BY_FRAME: result = ov_pcm_seek(&vf, *frame); break;
			case B_SEEK_BY_TIME: result = ov_time_seek(&vf, *time / 1000000.0); break;
			default: return B_BAD_VALUE;
		}
		if (result != 0)
			return B_BAD_VALUE;
		// What was decoded before the seek belongs to the old place.
		fill = 0;
		delivered = 0;
		*frame = ov_pcm_tell(&vf);
		*time = FramesToTime(*frame);
		*filePos = ov_raw_tell(&vf);
		if (size)
			*size = chunkBytes;
		if (done)
			*done = true;
		return B_OK;
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

	OggVorbis_File vf;
	ov_callbacks callbacks{};
	char pcm[kBufferBytes];
	int32 fill = 0;       // decoded bytes held, starting at pcm + delivered
	int32 delivered = 0;  // bytes handed out from the start of pcm by the last SplitNext
	bool opened = false;
	long rate = 44100;
	int channels = 2;
	int32 chunkBytes = kChunkBytes;
};

}  // namespace

KORVO_EXPORT BPrivate::Extractor* instantiate_extractor() { return new (std::nothrow) OggAudioExtractor; }
