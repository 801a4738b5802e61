// libFuzzer target for the host's reader of coded WAV files and the g723.decoder add-on behind it
// (compiled into this program so its branches are instrumented): sniffs the input, sets the decoder up
// on the track as the host does, decodes everything, then seeks back to the start and demands that the
// first buffer decodes again exactly as before.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "ContainerTable.h"
#include "DataIO.h"
#include "Decoder.h"
#include "Extractor.h"

// The add-on's own entry points, compiled into this program.
extern "C" void register_decoder(media_format** formats, int32* count);
extern "C" BPrivate::Decoder* instantiate_decoder();

namespace {

// Sample frames decoded from one input at most (about 2 minutes of 8 kHz audio).
constexpr int64 kMostFrames = int64{1} << 20;
constexpr size_t kMostBufferBytes = size_t{1} << 20;

// The reader's chunks of track 0, handed to the decoder.
class ReaderChunks : public BPrivate::ChunkProvider {
public:
	ReaderChunks(BPrivate::Extractor* reader, void* cookie) : fReader(reader), fCookie(cookie) {}

	status_t GetNextChunk(const void** chunk, size_t* size, media_header* header) override
	{
		char* data = nullptr;
		int32 bytes = 0, packet = 0;
		off_t pos = 0;
		const status_t status = fReader->SplitNext(0, fCookie, &pos, nullptr, &packet, &data, &bytes, header);
		if (status != B_OK)
			return status;
		*chunk = data;
		*size = bytes > 0 ? size_t(bytes) : 0;
		return B_OK;
	}

private:
	BPrivate::Extractor* fReader;
	void* fCookie;
};

// Decodes one buffer into `out`; returns the samples it holds, or -1 at the end or on an error. A
// decoder that puts out more than the buffer it asked for is a bug.
int64 DecodeOne(BPrivate::Decoder* decoder, std::vector<int16_t>* out, uint32 channels)
{
	int64 frames = 0;
	media_header header;
	if (decoder->Decode(out->data(), &frames, &header) != B_OK)
		return -1;
	if (frames < 0 || uint64_t(frames) * channels > out->size())
		__builtin_trap();
	return frames * channels;
}

void DecodeTrack(BPrivate::Extractor* reader)
{
	media_format encoded;
	void* info = nullptr;
	int32 infoSize = 0;
	if (reader->TrackInfo(0, &encoded, &info, &infoSize) != B_OK)
		return;
	void* cookie = nullptr;
	if (reader->AllocateCookie(0, &cookie) != B_OK)
		return;
	ReaderChunks chunks(reader, cookie);
	std::unique_ptr<BPrivate::Decoder> decoder(instantiate_decoder());
	media_format decoded;
	if (decoder) {
		decoder->SetChunkProvider(&chunks);
		if (decoder->Sniff(&encoded, info, size_t(infoSize > 0 ? infoSize : 0)) != B_OK ||
		    decoder->Format(&decoded) != B_OK)
			decoder.reset();
	}
	const media_raw_audio_format& raw = decoded.u.raw_audio;
	// However many channels a header claims, a buffer stays small enough to make for every file.
	if (decoder && raw.buffer_size > kMostBufferBytes)
		__builtin_trap();
	if (decoder && raw.channel_count > 0 && raw.buffer_size >= 2 * raw.channel_count) {
		std::vector<int16_t> buffer(raw.buffer_size / 2);
		const uint32 channels = raw.channel_count;
		int64 n = DecodeOne(decoder.get(), &buffer, channels);
		const std::vector<int16_t> first(buffer.begin(), buffer.begin() + (n > 0 ? n : 0));
		for (int64 total = n; n >= 0 && total / channels < kMostFrames; total += n)
			n = DecodeOne(decoder.get(), &buffer, channels);

		// Back to the start: the coder starts afresh there and must give the same samples.
		bigtime_t time = 0;
		int64 frame = 0;
		off_t pos = 0;
		bool done = false;
		if (reader->Seek(0, cookie, B_SEEK_BY_TIME, B_MEDIA_SEEK_CLOSEST_BACKWARD, &time, &frame, &pos, nullptr,
		                 nullptr, &done) == B_OK &&
		    decoder->Reset(B_SEEK_BY_TIME, 0, &frame, 0, &time) == B_OK) {
			n = DecodeOne(decoder.get(), &buffer, channels);
			if (n != int64(first.size()) && !(n < 0 && first.empty()))
				__builtin_trap();
			if (n > 0 && memcmp(buffer.data(), first.data(), first.size() * sizeof(int16_t)) != 0)
				__builtin_trap();
		}
	} else {
		// No decoder for the track: its chunks are still read.
		const void* chunk = nullptr;
		size_t size = 0;
		media_header header;
		for (int i = 0; i < 64 && chunks.GetNextChunk(&chunk, &size, &header) == B_OK; i++) {}
	}
	decoder.reset();
	reader->FreeCookie(0, cookie);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
	// The decoder's format, which the reader looks up for the track.
	media_format* formats = nullptr;
	int32 count = 0;
	register_decoder(&formats, &count);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	BMemoryIO io(static_cast<const void*>(data), size);
	std::unique_ptr<BPrivate::Extractor> reader(BPrivate::media::instantiate_wav_reader());
	if (!reader)
		return 0;
	reader->SetSource(&io);
	int32 streams = 0, chunkSize = 0;
	if (reader->Sniff(&streams, &chunkSize) != B_OK || streams < 1)
		return 0;
	int64 frames = 0;
	bigtime_t duration = 0;
	reader->CountFrames(0, &frames);
	reader->GetDuration(0, &duration);
	DecodeTrack(reader.get());
	return 0;
}
