// The built-in WAV writer: one audio track as RIFF/WAVE, its format header as the 'fmt ' chunk (the
// encoder's track info, or PCM made from the raw format), a 'fact' sample count for coded audio, the
// tags as 'LIST'/'INFO' and the chunks as 'data'; sizes and the count are set at close.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "ContainerTable.h"
#include "DataIO.h"
#include "MediaFormats.h"
#include "MediaTags.h"
#include "MediaTrack.h"
#include "Message.h"
#include "riff_tags.h"

namespace BPrivate::media {

namespace {

constexpr uint64 kRiffLimit = 0xFFFFFFFFull;  // a RIFF size field is 32 bits
constexpr size_t kMaxFormatHeader = 0xFFFF;
constexpr uint16 kPcmTag = 1, kFloatTag = 3;

void PutLE16(std::vector<uint8>* v, uint32 x)
{
	v->push_back(static_cast<uint8>(x));
	v->push_back(static_cast<uint8>(x >> 8));
}

void PutLE32(std::vector<uint8>* v, uint32 x)
{
	PutLE16(v, x);
	PutLE16(v, x >> 16);
}

void PutId(std::vector<uint8>* v, const char* id) { v->insert(v->end(), id, id + 4); }

// Bytes per sample of a raw PCM format WAV can hold, 0 for any other.
uint32 PcmSampleBytes(const media_raw_audio_format& raw)
{
	switch (raw.format) {
		case media_raw_audio_format::B_AUDIO_UCHAR: return 1;
		case media_raw_audio_format::B_AUDIO_SHORT: return 2;
		case media_raw_audio_format::B_AUDIO_INT:
		case media_raw_audio_format::B_AUDIO_FLOAT: return 4;
		default: return 0;
	}
}

bool UsablePcm(const media_raw_audio_format& raw)
{
	// WAV samples are little-endian; the frame rate must be a positive 32-bit count.
	return PcmSampleBytes(raw) && raw.channel_count >= 1 && raw.channel_count <= 0xFFFF &&
	       raw.byte_order != B_MEDIA_BIG_ENDIAN && raw.frame_rate >= 1 && raw.frame_rate < 4294967040.0f;
}

// WAVEFORMAT / PCMWAVEFORMAT for raw PCM.
std::vector<uint8> PcmFormatHeader(const media_raw_audio_format& raw)
{
	const uint32 sampleBytes = PcmSampleBytes(raw);
	const uint32 rate = static_cast<uint32>(raw.frame_rate);
	const uint32 blockAlign = sampleBytes * raw.channel_count;
	std::vector<uint8> h;
	PutLE16(&h, raw.format == media_raw_audio_format::B_AUDIO_FLOAT ? kFloatTag : kPcmTag);
	PutLE16(&h, raw.channel_count);
	PutLE32(&h, rate);
	PutLE32(&h, static_cast<uint32>(static_cast<uint64>(rate) * blockAlign));
	PutLE16(&h, blockAlign);
	PutLE16(&h, 8 * sampleBytes);
	return h;
}

// The conventional form of a coded format's header: the 14-byte WAVEFORMAT an encoder gives gets its
// bits per sample (from the data rate: 3 for G.723 at 24 kbit/s) and an empty extension, as readers
// expect of anything but PCM.
std::vector<uint8> ExtendedFormatHeader(const std::vector<uint8>& header)
{
	if (header.size() != 14)
		return header;
	const uint32 channels = header[2] | header[3] << 8;
	const uint32 rate = header[4] | header[5] << 8 | header[6] << 16 | static_cast<uint32>(header[7]) << 24;
	const uint32 bytesPerSecond =
	        header[8] | header[9] << 8 | header[10] << 16 | static_cast<uint32>(header[11]) << 24;
	const double samplesPerSecond = static_cast<double>(rate) * channels;
	const long bits = samplesPerSecond > 0 ? std::lround(bytesPerSecond * 8.0 / samplesPerSecond) : 0;
	std::vector<uint8> extended = header;
	PutLE16(&extended, static_cast<uint32>(std::clamp(bits, 0L, 0xFFFFL)));
	PutLE16(&extended, 0);
	return extended;
}

class WavWriter : public MediaWriter {
public:
	status_t SetSource(BDataIO* source) override
	{
		fTarget = dynamic_cast<BPositionIO*>(source);
		return fTarget ? B_OK : B_BAD_TYPE;
	}

	status_t AddCopyright(const char* text) override
	{
		if (!text)
			return B_BAD_VALUE;
		if (fCommitted)
			return B_NOT_ALLOWED;
		fTags.AddString("copyright", text);
		return B_OK;
	}

	// Code 0 carries the track's format header, which becomes the 'fmt ' chunk.
	status_t AddTrackInfo(int32 stream, uint32 code, const void* data, size_t size) override
	{
		if (!fHasTrack || stream != 0)
			return B_BAD_INDEX;
		if (code != 0)
			return B_OK;
		if (fCommitted)
			return B_NOT_ALLOWED;
		if (!data || size < 14 || size > kMaxFormatHeader)
			return B_BAD_VALUE;
		const uint8* p = static_cast<const uint8*>(data);
		fFormatHeader.assign(p, p + size);
		return B_OK;
	}

	status_t AddTrack(BMediaTrack* track) override
	{
		if (fHasTrack)
			return B_BAD_INDEX;  // WAV holds one stream
		if (!track)
			return B_BAD_VALUE;
		media_format format;
		if (status_t status = track->EncodedFormat(&format); status != B_OK)
			return status;
		if (status_t status = wav_writer_accepts(&format); status != B_OK)
			return status;
		if (format.type == B_MEDIA_RAW_AUDIO)
			fFormatHeader = PcmFormatHeader(format.u.raw_audio);
		fHasTrack = true;
		fTrack = track;
		return B_OK;
	}

	status_t AddChunk(int32, const void*, size_t) override { return B_ERROR; }

	status_t CommitHeader() override
	{
		if (!fTarget)
			return B_NO_INIT;
		if (fCommitted)
			return B_OK;
		if (!fHasTrack)
			return B_OK;  // nothing to describe; CloseFile leaves the file empty
		if (fFormatHeader.empty())
			return B_MEDIA_BAD_FORMAT;  // an encoded track whose encoder gave no format header
		const std::vector<uint8> format = ExtendedFormatHeader(fFormatHeader);
		std::vector<uint8> h;
		PutId(&h, "RIFF");
		PutLE32(&h, 0);  // completed at close
		PutId(&h, "WAVE");
		PutId(&h, "fmt ");
		PutLE32(&h, static_cast<uint32>(format.size()));
		h.insert(h.end(), format.begin(), format.end());
		if (format.size() & 1)
			h.push_back(0);
		// Coded samples are counted in 'fact', since the data's size does not tell them exactly.
		const uint16 tag = static_cast<uint16>(format[0] | format[1] << 8);
		if (tag != kPcmTag && tag != kFloatTag) {
			PutId(&h, "fact");
			PutLE32(&h, 4);
			fFactAt = h.size();
			PutLE32(&h, 0);  // completed at close
		}
		const std::vector<uint8> tags = riff_info_chunk(fTags);
		h.insert(h.end(), tags.begin(), tags.end());
		PutId(&h, "data");
		PutLE32(&h, 0);
		if (fTarget->WriteAt(0, h.data(), h.size()) != static_cast<ssize_t>(h.size()))
			return B_IO_ERROR;
		fDataStart = h.size();
		fCommitted = true;
		return B_OK;
	}

	status_t WriteData(int32 stream, media_type, const void* data, size_t size, media_encode_info*) override
	{
		if (!fTarget)
			return B_NO_INIT;
		if (stream != 0 || !fHasTrack)
			return B_BAD_INDEX;
		if (!fCommitted) {
			if (status_t status = CommitHeader(); status != B_OK)
				return status;
		}
		// The RIFF size counts everything after its own field, the pad byte included.
		if (size > kRiffLimit || fDataStart - 8 + fDataBytes + size + 1 > kRiffLimit)
			return B_BAD_VALUE;
		const ssize_t written = fTarget->WriteAt(static_cast<off_t>(fDataStart + fDataBytes), data, size);
		if (written != static_cast<ssize_t>(size))
			return B_IO_ERROR;
		fDataBytes += size;
		return B_OK;
	}

	status_t CloseFile() override
	{
		if (!fTarget)
			return B_NO_INIT;
		if (!fCommitted)
			return CommitHeader();  // a track but no data: header with empty 'data'
		if (fClosed)
			return B_OK;
		fClosed = true;
		uint64 end = fDataStart + fDataBytes;
		if (fDataBytes & 1) {
			const uint8 pad = 0;
			if (fTarget->WriteAt(static_cast<off_t>(end), &pad, 1) != 1)
				return B_IO_ERROR;
			end++;
		}
		std::vector<uint8> riffSize, dataSize, samples;
		PutLE32(&riffSize, static_cast<uint32>(end - 8));
		PutLE32(&dataSize, static_cast<uint32>(fDataBytes));
		const int64 frames = fTrack->CountFrames();
		PutLE32(&samples, static_cast<uint32>(frames < 0 ? 0 : frames > UINT32_MAX ? UINT32_MAX : frames));
		if (fTarget->WriteAt(4, riffSize.data(), 4) != 4 ||
		    fTarget->WriteAt(static_cast<off_t>(fDataStart - 4), dataSize.data(), 4) != 4 ||
		    (fFactAt && fTarget->WriteAt(static_cast<off_t>(fFactAt), samples.data(), 4) != 4))
			return B_IO_ERROR;
		return B_OK;
	}

	// B_PERFORM_SET_TAGS: the tags go into a 'LIST' chunk of type 'INFO' before the data.
	status_t Perform(perform_code code, void* data) override
	{
		if (code != B_PERFORM_SET_TAGS || !data)
			return MediaWriter::Perform(code, data);
		if (fCommitted)
			return B_NOT_ALLOWED;
		fTags = *static_cast<const BMessage*>(data);
		return B_OK;
	}

private:
	BPositionIO* fTarget = nullptr;
	bool fHasTrack = false;
	bool fCommitted = false;
	bool fClosed = false;
	BMediaTrack* fTrack = nullptr;
	std::vector<uint8> fFormatHeader;
	BMessage fTags;
	uint64 fFactAt = 0;  // where the sample count of 'fact' goes, 0 without one
	uint64 fDataStart = 0;
	uint64 fDataBytes = 0;
};

}  // namespace

MediaWriter* instantiate_wav_writer() { return new (std::nothrow) WavWriter; }

status_t wav_writer_info(media_file_format* mfi)
{
	fill_media_file_format(mfi,
	                       media_file_format::B_WRITABLE | media_file_format::B_KNOWS_RAW_AUDIO |
	                               media_file_format::B_KNOWS_ENCODED_AUDIO,
	                       B_WAV_FORMAT_FAMILY, 100, "audio/x-wav", "RIFF WAV audio file", "wav", "wav");
	return B_OK;
}

// Little-endian PCM, or encoded audio that has a name in the WAV family.
status_t wav_writer_accepts(const media_format* format)
{
	if (!format)
		return B_BAD_VALUE;
	if (format->type == B_MEDIA_RAW_AUDIO)
		return UsablePcm(format->u.raw_audio) ? B_OK : B_MEDIA_BAD_FORMAT;
	if (format->type != B_MEDIA_ENCODED_AUDIO)
		return B_BAD_TYPE;
	media_format_description d;
	BMediaFormats formats;
	formats.Lock();
	const status_t status = formats.GetCodeFor(*format, B_WAV_FORMAT_FAMILY, &d);
	formats.Unlock();
	return status == B_OK && d.family == B_WAV_FORMAT_FAMILY ? B_OK : B_MEDIA_BAD_FORMAT;
}

}  // namespace BPrivate::media
