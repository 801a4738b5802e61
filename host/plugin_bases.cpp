// Default operations of the add-on base classes (Encoder, Decoder, Extractor, MediaWriter) and the
// host services they forward to their chunk writer or provider.
#include "Decoder.h"
#include "Encoder.h"
#include "Extractor.h"
#include "MediaWriter.h"

namespace BPrivate {

ChunkWriter::~ChunkWriter() = default;
ChunkProvider::~ChunkProvider() = default;

Encoder::Encoder() = default;
Encoder::~Encoder() = default;
status_t Encoder::AttachedToTrack() { return B_OK; }
status_t Encoder::StartEncoder() { return B_OK; }
status_t Encoder::Flush() { return B_OK; }
BParameterWeb* Encoder::Web() { return nullptr; }
status_t Encoder::GetParameterValue(int32, void*, size_t*) { return B_ERROR; }
status_t Encoder::SetParameterValue(int32, const void*, size_t) { return B_ERROR; }
BView* Encoder::GetParameterView() { return nullptr; }
status_t Encoder::GetEncodeParameters(encode_parameters*) const { return B_ERROR; }
status_t Encoder::SetEncodeParameters(encode_parameters*) { return B_ERROR; }
status_t Encoder::Perform(perform_code, void*) { return B_ERROR; }

status_t Encoder::WriteChunk(const void* data, size_t size, media_encode_info* info)
{
	return fChunkWriter ? fChunkWriter->WriteChunk(data, size, info) : B_NO_INIT;
}

status_t Encoder::AddTrackInfo(uint32 code, const void* data, size_t size)
{
	return fChunkWriter ? fChunkWriter->AddTrackInfo(code, data, size) : B_NO_INIT;
}

status_t Encoder::AddCopyright(const char* text)
{
	return fChunkWriter ? fChunkWriter->AddCopyright(text) : B_NO_INIT;
}

Decoder::Decoder() = default;
Decoder::~Decoder() = default;
status_t Decoder::Perform(perform_code, void*) { return B_ERROR; }
BParameterWeb* Decoder::Web() { return nullptr; }
status_t Decoder::GetParameterValue(int32, void*, size_t*) { return B_ERROR; }
status_t Decoder::SetParameterValue(int32, const void*, size_t) { return B_ERROR; }

status_t Decoder::GetNextChunk(const void** chunk, size_t* size, media_header* header, media_decode_info*)
{
	return fChunkProvider ? fChunkProvider->GetNextChunk(chunk, size, header) : B_NO_INIT;
}

Extractor::Extractor() = default;
Extractor::~Extractor() = default;
status_t Extractor::GetFileFormatInfo(media_file_format*) { return B_ERROR; }
status_t Extractor::CountFrames(int32, int64*) { return B_ERROR; }
status_t Extractor::GetDuration(int32, bigtime_t*) { return B_ERROR; }
status_t Extractor::AllocateCookie(int32, void** cookie)
{
	*cookie = nullptr;
	return B_OK;
}
status_t Extractor::FreeCookie(int32, void*) { return B_OK; }
status_t Extractor::Perform(perform_code, void*) { return B_ERROR; }

MediaWriter::MediaWriter() = default;
MediaWriter::~MediaWriter() = default;
status_t MediaWriter::Perform(perform_code, void*) { return B_ERROR; }

}  // namespace BPrivate
