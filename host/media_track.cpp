// BMediaTrack: reading (chunks from the file's extractor, frames through a decoder add-on or the
// pass-through decoder, key-frame seeking) and writing (frames through the encoder, chunks as given).
#include <algorithm>
#include <cstring>

#include "MediaFormats.h"
#include "ParameterWeb.h"
#include "media_file_impl.h"

using namespace BPrivate;
using namespace BPrivate::media;

size_t raw_frame_bytes(const media_format& f)
{
	if (f.type == B_MEDIA_RAW_AUDIO) {
		size_t sample = f.u.raw_audio.format & media_raw_audio_format::B_AUDIO_SIZE_MASK;
		return sample * f.u.raw_audio.channel_count;
	}
	if (f.type == B_MEDIA_RAW_VIDEO)
		return raw_video_frame_bytes(f.u.raw_video.display);
	return 0;
}

void fill_row_bytes(media_format* f)
{
	if (f->type != B_MEDIA_RAW_VIDEO || f->u.raw_video.display.bytes_per_row)
		return;
	media_video_display_info& d = f->u.raw_video.display;
	uint32 pixel = 4;
	switch (d.format) {
		case B_YCbCr422:
		case B_RGB16:
		case B_RGB15:
		case B_RGBA15: pixel = 2; break;
		case B_RGB24: pixel = 3; break;
		case B_GRAY8:
		case B_YUV420:
		case B_CMAP8: pixel = 1; break;
		default: break;
	}
	d.bytes_per_row = d.line_width * pixel;
}

BMediaTrack::Impl::~Impl()
{
	decoder.reset();
	encoder.reset();
	if (cookie && file && file->extractor)
		file->extractor->FreeCookie(index, cookie);
}

status_t BMediaTrack::Impl::Fail(status_t s, const std::string& message)
{
	if (error.empty())
		error = "track " + std::to_string(index) + ": " + message;
	return s;
}

status_t BMediaTrack::Impl::SetUpReading()
{
	Extractor* x = file->extractor.get();
	status = x->TrackInfo(index, &encoded, &trackInfo, &trackInfoSize);
	if (status != B_OK)
		return status = Fail(status, std::string("no track information: ") + status_text(status));
	if (x->CountFrames(index, &frameCount) != B_OK)
		frameCount = 0;
	if (x->GetDuration(index, &duration) != B_OK)
		duration = 0;
	BoundCounts();
	status = x->AllocateCookie(index, &cookie);
	if (status != B_OK)
		return status = Fail(status, std::string("reader refuses the track: ") + status_text(status));
	if (trackInfoSize < 0)
		trackInfoSize = 0;
	decoder.reset(find_decoder(encoded, trackInfo, (size_t)trackInfoSize, this, nullptr, &decoderRefusal));
	const bool audio = encoded.type == B_MEDIA_ENCODED_AUDIO;
	const bool rawData = encoded.type == B_MEDIA_RAW_AUDIO || encoded.type == B_MEDIA_RAW_VIDEO;
	if (!decoder && (audio || rawData)) {
		decoder.reset(new_passthrough_decoder());
		decoder->SetChunkProvider(this);
		if (decoder->Sniff(&encoded, trackInfo, (size_t)trackInfoSize) != B_OK)
			decoder.reset();
	}
	// A track without decoder still reads chunks; ReadFrames says why it cannot decode.
	return B_OK;
}

// A count from a corrupt header bounded by what the file can hold: at most one video frame a byte,
// and 8192 audio sample frames a byte (a compressed block of silence holds no more).
void BMediaTrack::Impl::BoundCounts()
{
	off_t size = 0;
	if (!file->io || file->io->GetSize(&size) != B_OK || size <= 0)
		return;
	const int64 perByte = encoded.IsAudio() ? 8192 : 1;
	const int64 limit = size > INT64_MAX / perByte ? INT64_MAX : size * perByte;
	if (frameCount <= limit)
		return;
	damageText = "the header counts " + std::to_string(frameCount) + " frames, more than its " +
	             std::to_string(size) + " bytes can hold";
	duration = (bigtime_t)((long double)duration * limit / frameCount);
	frameCount = limit;
}

// Asks the decoder for `proposal` (bytes per row filled in for raw video if the caller left 0).
status_t BMediaTrack::Impl::AgreeFormat(media_format* proposal)
{
	if (!decoder && decoderRefusal == B_NO_MEMORY)
		return Fail(B_NO_MEMORY, "out of memory: the decoder could not be set up");
	if (!decoder)
		return Fail(B_MEDIA_BAD_FORMAT, "no decoder for this track's format");
	if (proposal->type == B_MEDIA_RAW_VIDEO || encoded.type == B_MEDIA_ENCODED_VIDEO) {
		media_raw_video_format& v = proposal->u.raw_video;
		if (proposal->type != B_MEDIA_RAW_VIDEO) {
			*proposal = media_format();
			proposal->type = B_MEDIA_RAW_VIDEO;
		}
		if (!v.display.line_width)
			v.display.line_width = encoded.u.encoded_video.output.display.line_width;
		if (!v.display.line_count)
			v.display.line_count = encoded.u.encoded_video.output.display.line_count;
		fill_row_bytes(proposal);
	}
	status_t s = decoder->Format(proposal);
	if (s != B_OK)
		return Fail(s, std::string("decoder refuses the format: ") + status_text(s));
	fill_row_bytes(proposal);
	decoded = *proposal;
	formatAgreed = true;
	return B_OK;
}

status_t BMediaTrack::Impl::GetNextChunk(const void** chunk, size_t* size, media_header* header)
{
	char* data = nullptr;
	int32 length = 0;
	off_t pos = 0;
	int32 packet = 0;
	media_header h;
	status_t s = file->extractor->SplitNext(index, cookie, &pos, nullptr, &packet, &data, &length, &h);
	if (s != B_OK)
		return s;
	if (length < 0 || (length > 0 && !data))
		return Fail(B_BAD_DATA, "reader returned a bad chunk");
	*chunk = data;
	*size = (size_t)length;
	if (header)
		*header = h;
	currentTime = h.start_time;
	return B_OK;
}

status_t BMediaTrack::Impl::WriteChunk(const void* data, size_t size, media_encode_info* info)
{
	media_encode_info fresh;
	status_t s = file->writer->WriteData(index, encoded.type, data, size, info ? info : &fresh);
	if (s != B_OK)
		return Fail(s, std::string("writing a chunk failed: ") + status_text(s));
	return B_OK;
}

status_t BMediaTrack::Impl::AddTrackInfo(uint32 code, const void* data, size_t size)
{
	return file->writer->AddTrackInfo(index, code, data, size);
}

status_t BMediaTrack::Impl::AddCopyright(const char* text) { return file->writer->AddCopyright(text); }

BMediaTrack::BMediaTrack(Impl* impl) : fImpl(impl) { impl->self = this; }

BMediaTrack::~BMediaTrack() { delete fImpl; }

status_t BMediaTrack::InitCheck() const { return fImpl->status; }

const char* BMediaTrack::ErrorText() const { return fImpl->error.c_str(); }

int32 BMediaTrack::ID() const { return fImpl->index; }

status_t BMediaTrack::GetCodecInfo(media_codec_info* info) const
{
	if (fImpl->decoder)
		return fImpl->decoder->GetCodecInfo(info);
	if (fImpl->encoder)
		return fImpl->encoder->GetCodecInfo(info);
	// A decoder claimed the track but could not be set up.
	return fImpl->decoderRefusal == B_NO_MEMORY ? B_NO_MEMORY : B_NO_INIT;
}

status_t BMediaTrack::EncodedFormat(media_format* format) const
{
	if (fImpl->status != B_OK)
		return fImpl->status;
	*format = fImpl->encoded;
	return B_OK;
}

status_t BMediaTrack::DecodedFormat(media_format* inout_format, uint32)
{
	if (fImpl->status != B_OK)
		return fImpl->status;
	if (fImpl->file->writing)
		return B_NOT_ALLOWED;
	if (!inout_format)
		return B_BAD_VALUE;
	return fImpl->AgreeFormat(inout_format);
}

int64 BMediaTrack::CountFrames() const { return fImpl->frameCount; }

bigtime_t BMediaTrack::Duration() const { return fImpl->duration; }

int64 BMediaTrack::CountDamagedFrames() const { return fImpl->damagedFrames; }

const char* BMediaTrack::DamageText() const { return fImpl->damageText.c_str(); }

int64 BMediaTrack::CurrentFrame() const { return fImpl->currentFrame; }

bigtime_t BMediaTrack::CurrentTime() const { return fImpl->currentTime; }

status_t BMediaTrack::ReadFrames(void* buffer, int64* frameCount, media_header* header,
                                 media_decode_info* info)
{
	Impl* t = fImpl;
	if (t->status != B_OK)
		return t->status;
	if (t->file->writing)
		return B_NOT_ALLOWED;
	if (!buffer || !frameCount)
		return B_BAD_VALUE;
	*frameCount = 0;
	if (!t->formatAgreed) {
		media_format proposal;
		status_t s = t->AgreeFormat(&proposal);
		if (s != B_OK)
			return s;
	}
	media_header h;
	media_decode_info fresh;
	status_t s = t->decoder->Decode(buffer, frameCount, &h, info ? info : &fresh);
	if (s != B_OK)
		return s;
	if (*frameCount < 0)
		*frameCount = 0;
	t->currentFrame += *frameCount;
	if (h.damage)
		t->damagedFrames += *frameCount;
	if (header)
		*header = h;
	return B_OK;
}

status_t BMediaTrack::ReadChunk(char** buffer, int32* size, media_header* header)
{
	Impl* t = fImpl;
	if (t->status != B_OK)
		return t->status;
	if (t->file->writing)
		return B_NOT_ALLOWED;
	if (!buffer || !size)
		return B_BAD_VALUE;
	const void* chunk;
	size_t length;
	media_header h;
	status_t s = t->GetNextChunk(&chunk, &length, &h);
	if (s != B_OK)
		return s;
	*buffer = static_cast<char*>(const_cast<void*>(chunk));
	*size = (int32)length;
	if (header)
		*header = h;
	if (t->encoded.IsVideo())
		t->currentFrame++;
	return B_OK;
}

// Moves the extractor (to a key frame) and tells the decoder where the stream continues.
static status_t Seek(BMediaTrack::Impl* t, int32 what, int64* frame, bigtime_t* time, int32 flags)
{
	if (t->status != B_OK)
		return t->status;
	if (t->file->writing)
		return B_NOT_ALLOWED;
	if ((flags & B_MEDIA_SEEK_DIRECTION_MASK) == 0)
		flags |= B_MEDIA_SEEK_CLOSEST_BACKWARD;
	int64 f = what == B_SEEK_BY_FRAME ? *frame : 0;
	bigtime_t tm = what == B_SEEK_BY_TIME ? *time : 0;
	off_t pos = 0;
	int32 packet = 0;
	bool done = false;
	status_t s = t->file->extractor->Seek(t->index, t->cookie, what, flags, &tm, &f, &pos, nullptr, &packet,
	                                      &done);
	if (s != B_OK)
		return t->Fail(s, std::string("seek failed: ") + status_text(s));
	if (t->decoder) {
		int64 at = f;
		bigtime_t atTime = tm;
		t->decoder->Reset(what, f, &at, tm, &atTime);
	}
	t->currentFrame = f;
	t->currentTime = tm;
	*frame = f;
	*time = tm;
	return B_OK;
}

status_t BMediaTrack::SeekToFrame(int64* frame, int32 flags)
{
	if (!frame)
		return B_BAD_VALUE;
	bigtime_t time = 0;
	return Seek(fImpl, B_SEEK_BY_FRAME, frame, &time, flags);
}

status_t BMediaTrack::SeekToTime(bigtime_t* time, int32 flags)
{
	if (!time)
		return B_BAD_VALUE;
	int64 frame = 0;
	return Seek(fImpl, B_SEEK_BY_TIME, &frame, time, flags);
}

status_t BMediaTrack::WriteFrames(const void* data, int32 frameCount, int32 flags)
{
	media_encode_info info;
	info.flags = (uint32)flags;
	return WriteFrames(data, frameCount, &info);
}

status_t BMediaTrack::WriteFrames(const void* data, int32 frameCount, media_encode_info* info)
{
	Impl* t = fImpl;
	if (t->status != B_OK)
		return t->status;
	if (!t->file->writing || t->file->closed)
		return B_NOT_ALLOWED;
	if (!t->encoder && !t->rawTrack)
		return t->Fail(B_NO_INIT, "WriteFrames on a track without encoder (write chunks instead)");
	if (frameCount < 0 || (frameCount > 0 && !data))
		return B_BAD_VALUE;
	status_t s = t->file->self_commit();
	if (s != B_OK)
		return s;
	const size_t frameBytes = raw_frame_bytes(t->raw);
	if (!frameBytes)
		return t->Fail(B_MEDIA_BAD_FORMAT, "the raw format gives no frame size");
	const char* p = static_cast<const char*>(data);
	if (t->raw.type == B_MEDIA_RAW_VIDEO) {
		// One frame per call with its own encode info, so a key-frame flag cannot carry over.
		for (int32 i = 0; i < frameCount; i++, p += frameBytes) {
			media_encode_info one = info ? *info : media_encode_info();
			if (t->rawTrack)
				one.flags |= B_MEDIA_KEY_FRAME;
			s = t->encoder ? t->encoder->Encode(p, 1, &one) : t->WriteChunk(p, frameBytes, &one);
			if (s != B_OK)
				return t->Fail(s, std::string("encoding a frame failed: ") + status_text(s));
			t->frameCount++;
		}
		return B_OK;
	}
	media_encode_info one = info ? *info : media_encode_info();
	if (t->encoder)
		s = t->encoder->Encode(data, frameCount, &one);
	else
		s = t->WriteChunk(data, frameBytes * (size_t)frameCount, &one);
	if (s != B_OK)
		return t->Fail(s, std::string("encoding failed: ") + status_text(s));
	t->frameCount += frameCount;
	return B_OK;
}

status_t BMediaTrack::WriteChunk(const void* data, size_t size, uint32 flags)
{
	media_encode_info info;
	info.flags = flags;
	return WriteChunk(data, size, &info);
}

status_t BMediaTrack::WriteChunk(const void* data, size_t size, media_encode_info* info)
{
	Impl* t = fImpl;
	if (t->status != B_OK)
		return t->status;
	if (!t->file->writing || t->file->closed)
		return B_NOT_ALLOWED;
	status_t s = t->file->self_commit();
	if (s != B_OK)
		return s;
	s = t->WriteChunk(data, size, info);
	if (s == B_OK && !t->encoder)
		t->frameCount++;
	return s;
}

status_t BMediaTrack::Flush()
{
	Impl* t = fImpl;
	if (t->status != B_OK || !t->encoder || !t->started)
		return B_OK;
	status_t s = t->encoder->Flush();
	return s == B_OK ? B_OK : t->Fail(s, std::string("flushing the encoder failed: ") + status_text(s));
}

status_t BMediaTrack::AddCopyright(const char* text)
{
	if (fImpl->status != B_OK || !fImpl->file->writing)
		return fImpl->status != B_OK ? fImpl->status : B_NOT_ALLOWED;
	return fImpl->AddCopyright(text);
}

status_t BMediaTrack::AddTrackInfo(uint32 code, const void* data, size_t size, uint32)
{
	if (fImpl->status != B_OK || !fImpl->file->writing)
		return fImpl->status != B_OK ? fImpl->status : B_NOT_ALLOWED;
	return fImpl->AddTrackInfo(code, data, size);
}

// The settings of the track's encoder, or of its decoder on a track being read.
BParameterWeb* BMediaTrack::Web()
{
	if (fImpl->encoder)
		return fImpl->encoder->Web();
	return fImpl->decoder ? fImpl->decoder->Web() : nullptr;
}

status_t BMediaTrack::GetParameterValue(int32 id, void* value, size_t* size)
{
	if (fImpl->encoder)
		return fImpl->encoder->GetParameterValue(id, value, size);
	return fImpl->decoder ? fImpl->decoder->GetParameterValue(id, value, size) : B_NO_INIT;
}

void BMediaTrack::Impl::RenewRawFormat()
{
	// Video encoders build their whole state in SetFormat; only audio encoders are asked again.
	if (!encoder || started || offered.type != B_MEDIA_RAW_AUDIO)
		return;
	media_format in = offered, out;
	if (try_encoder_format(encoder.get(), file->fileFormat, &in, &out) == B_OK) {
		raw = in;
		encoded = out;
	}
}

status_t BMediaTrack::RawFormat(media_format* format) const
{
	if (!format)
		return B_BAD_VALUE;
	if (fImpl->status != B_OK)
		return fImpl->status;
	if (!fImpl->file->writing)
		return B_NOT_ALLOWED;
	*format = fImpl->raw;
	return B_OK;
}

status_t BMediaTrack::SetParameterValue(int32 id, const void* value, size_t size)
{
	if (fImpl->encoder) {
		const status_t status = fImpl->encoder->SetParameterValue(id, value, size);
		if (status == B_OK)
			fImpl->RenewRawFormat();
		return status;
	}
	return fImpl->decoder ? fImpl->decoder->SetParameterValue(id, value, size) : B_NO_INIT;
}

BView* BMediaTrack::GetParameterView()
{
	return fImpl->encoder ? fImpl->encoder->GetParameterView() : nullptr;
}

status_t BMediaTrack::GetEncodeParameters(encode_parameters* parameters) const
{
	return fImpl->encoder ? fImpl->encoder->GetEncodeParameters(parameters) : B_NO_INIT;
}

status_t BMediaTrack::SetEncodeParameters(encode_parameters* parameters)
{
	if (!fImpl->encoder)
		return B_NO_INIT;
	const status_t status = fImpl->encoder->SetEncodeParameters(parameters);
	if (status == B_OK)
		fImpl->RenewRawFormat();
	return status;
}
