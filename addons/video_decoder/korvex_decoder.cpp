// The krv1.decoder.generic add-on: KorvexDecoder turns the chunks of a QuickTime 'KRV1' track into
// 32-bit RGB or 4:2:2 YUV pictures through the Korvo core, one chunk per frame, with seeking.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "Decoder.h"
#include "MediaFormats.h"
#include "OS.h"
#include "ParameterWeb.h"
#include "korvo.h"

namespace {

// Rows are addressed through the core's 14-bit row-bytes field.
constexpr uint32 kMaxRowBytes = 0x3FFF;
// Threads the core may use for a frame, the caller's included: 0 or 1 decodes on the caller's thread
// alone (the default). The pictures are the same for every count.
constexpr int32 kThreadsParameter = 12;
constexpr float kMostThreads = 32;

media_format gKorvexFormat;
int32 korvexencoding = 0;

// A float product or quotient as an integer, truncated, saturating where int64 cannot hold it
// (the conversion of such a value would be undefined); NaN gives 0.
int64 TruncateToInt64(double value)
{
	if (!(value == value))
		return 0;
	if (value >= 9223372036854775807.0)
		return INT64_MAX;
	if (value <= -9223372036854775808.0)
		return INT64_MIN;
	return static_cast<int64>(value);
}

int64 SaturatingSub(int64 a, int64 b)
{
	int64 r;
	if (__builtin_sub_overflow(a, b, &r))
		return b < 0 ? INT64_MAX : INT64_MIN;
	return r;
}

int64 SaturatingAdd(int64 a, int64 b)
{
	int64 r;
	if (__builtin_add_overflow(a, b, &r))
		return b > 0 ? INT64_MAX : INT64_MIN;
	return r;
}

class KorvexDecoder : public BPrivate::Decoder {
public:
	KorvexDecoder();
	~KorvexDecoder() override;

	status_t GetCodecInfo(media_codec_info* info) const override;
	status_t Sniff(const media_format* format, const void* info, size_t size) override;
	status_t Format(media_format* format) override;
	status_t Decode(void* out, int64* frames, media_header* header, media_decode_info* info) override;
	status_t Reset(int32 what, int64 to_frame, int64* frame, bigtime_t to_time, bigtime_t* time) override;
	BParameterWeb* Web() override;
	status_t GetParameterValue(int32 id, void* value, size_t* size) override;
	status_t SetParameterValue(int32 id, const void* value, size_t size) override;

private:
	void DumpProcessDetails();
	// A seek back to the start begins a new timing run, after the statistics of the old one.
	void RestartTimingAt(int64 position);

	float fieldRate = 0;
	int64 width = 0;
	int64 height = 0;
	int64 interlace = 0;
	int64 skipFrames = 0;
	int64 frameCount = 0;
	int64 skippedFrames = 0;
	bigtime_t startTime = 0;
	bigtime_t endTime = 0;
	const void* chunk = nullptr;
	size_t chunkSize = 0;
	media_header chunkHeader;
	bool restartTiming = true;
	KorvParams* params = nullptr;
	uint32 threads = 0;
	std::unique_ptr<BParameterWeb> web;
	// The codec's shared tables: without them the decoder refuses every format.
	int16_t libraryStatus = kKorvoEntryFailed;
};

KorvexDecoder::KorvexDecoder()
{
	printf("Initialising Korvex\n");
	web = std::make_unique<BParameterWeb>();
	web->MakeGroup("Korvo Vela 3.5 - decoding")
	        ->MakeContinuousParameter(kThreadsParameter, B_MEDIA_PARAMETERS, "Threads", B_GENERIC, "", 0,
	                                  kMostThreads, 1);
	libraryStatus = InitKorvax();
}

KorvexDecoder::~KorvexDecoder()
{
	DumpProcessDetails();
	DisposeKorvParamsPtr(params);
	printf("Terminating Korvex\n");
	// A failed InitKorvax took its reference back itself.
	if (libraryStatus == kKorvoOK)
		TerminateKorvax();
}

status_t KorvexDecoder::GetCodecInfo(media_codec_info* info) const
{
	strcpy(info->pretty_name, "Korvo Vela 3.5 - Full Motion Video Codec");
	strcpy(info->short_name, "Korvo Vela 3.5");
	return B_OK;
}

status_t KorvexDecoder::Sniff(const media_format* format, const void*, size_t)
{
	printf("Sniffer Called\n");
	if (format->type != B_MEDIA_ENCODED_VIDEO) {
		printf("Not Media Encoded Video\n");
		return B_BAD_TYPE;
	}
	printf("IsA Media Encoded Video ");
	const media_encoded_video_format& encoded = format->u.encoded_video;
	if (encoded.encoding == 0) {
		printf("with no Encoding\n");
		return B_BAD_TYPE;
	}
	printf("that is Encoded with ");
	if (encoded.encoding != korvexencoding) {
		printf("an unknown (to me) encoding\n");
		return B_BAD_TYPE;
	}
	printf("a Korvo encoding\n");
	fieldRate = encoded.output.field_rate;
	width = encoded.output.display.line_width;
	height = encoded.output.display.line_count;
	interlace = encoded.output.interlace;
	printf("Width:Height:FrameRate %" PRId64 ":%" PRId64 ":%f \n", width, height, fieldRate);

	// A second track format replaces the context of the first.
	DisposeKorvParamsPtr(params);
	params = nullptr;
	// The tables the library could not build, or a context it could not make: both out of memory.
	if (libraryStatus != kKorvoOK)
		return B_NO_MEMORY;
	params = NewKorvParamsPtr(2, static_cast<uint32_t>(width), static_cast<uint32_t>(height));
	if (!params)
		return B_NO_MEMORY;
	params->threadCount = threads;
	return B_OK;
}

status_t KorvexDecoder::Format(media_format* format)
{
	printf("Format Called\n");
	if (!params)
		return B_NO_INIT;
	format->deny_flags = 0xFFF2;
	format->require_flags = 0;
	format->type = B_MEDIA_RAW_VIDEO;
	media_raw_video_format& video = format->u.raw_video;
	video.orientation = B_VIDEO_TOP_LEFT_RIGHT;
	video.last_active = static_cast<uint32>(height - 1);
	video.display.line_width = static_cast<uint32>(width);
	video.display.line_count = static_cast<uint32>(height);
	video.field_rate = fieldRate;
	video.interlace = static_cast<uint32>(interlace);

	uint64 rowSize;
	if (video.display.format == B_RGBA32) {
		printf("Application asked for RGBA32\n");
		params->pixelFormat = kPixelFormatBGRA;
		rowSize = static_cast<uint64>(width) * 4;
	} else if (video.display.format == B_YCbCr422) {
		printf("Application asked for Ybr422\n");
		params->pixelFormat = kPixelFormatYUVS;
		rowSize = (static_cast<uint64>(width) + 1) / 2 * 4;  // whole Y0 Cb Y1 Cr pairs
	} else if (video.display.format == B_YUV420 && width % 2 == 0 && height % 2 == 0) {
		// Planar chroma covers pairs of rows and columns: pictures of odd sizes get 32-bit pixels.
		printf("Application asked for YUV420\n");
		params->pixelFormat = kPixelFormatYUV420Planar;
		rowSize = static_cast<uint64>(width);
	} else {
		video.display.format = B_RGBA32;
		params->pixelFormat = kPixelFormatBGRA;
		rowSize = static_cast<uint64>(width) * 4;
	}
	// The caller's buffer is as long as the row bytes say, so they must hold a whole row; a row
	// beyond the core's 14 bits would wrap into a shorter stride.
	if (video.display.bytes_per_row < rowSize)
		video.display.bytes_per_row = static_cast<uint32>(rowSize < UINT32_MAX ? rowSize : UINT32_MAX);
	if (video.display.bytes_per_row > kMaxRowBytes)
		return B_BAD_VALUE;
	params->pixMap->rowBytes = static_cast<uint16_t>(video.display.bytes_per_row);
	return B_OK;
}

status_t KorvexDecoder::Decode(void* out, int64* frames, media_header* header, media_decode_info* info)
{
	if (!params)
		return B_NO_INIT;
	if (restartTiming) {
		startTime = system_time();
		frameCount = 0;
		skippedFrames = 0;
		restartTiming = false;
	}
	chunkSize = 0;
	status_t status = GetNextChunk(&chunk, &chunkSize, &chunkHeader, info);
	if (status != B_OK) {
		printf("Korvodecoder: GetNextChunk failed, %s\n", status_text(status));
		endTime = system_time();
		return status;
	}
	// The core reads through a 32-bit size: a longer chunk is read as far as that reaches.
	params->stream = static_cast<uint8_t*>(const_cast<void*>(chunk));
	params->streamSize = chunkSize < UINT32_MAX ? static_cast<uint32_t>(chunkSize) : UINT32_MAX;
	params->fullRefresh = 1;  // `out` need not hold the previous picture
	params->pixMap->baseAddr = static_cast<uint8_t*>(out);
	if (DecompressPixMap(params) != kKorvoOK) {
		printf("Korvo codec decompression error.\n");
		return B_NO_MEMORY;
	}
	chunkHeader.size_used = static_cast<uint32>(params->streamBytes);
	// What the frame's data lacked, beside what the reader found wrong with the chunk.
	if (params->damage & kKorvoDamageTruncated)
		chunkHeader.damage |= B_MEDIA_DAMAGE_TRUNCATED;
	if (params->damage & kKorvoDamageInvalidCode)
		chunkHeader.damage |= B_MEDIA_DAMAGE_INVALID_CODE;
	if (params->damage & kKorvoDamageOverread)
		chunkHeader.damage |= B_MEDIA_DAMAGE_OVERREAD;
	*header = chunkHeader;
	frameCount += 1;
	*frames = 1;
	endTime = system_time();
	return B_OK;
}

void KorvexDecoder::RestartTimingAt(int64 position)
{
	if (position > 0)
		return;
	restartTiming = true;
	if (frameCount > 0)
		DumpProcessDetails();
}

status_t KorvexDecoder::Reset(int32 what, int64 to_frame, int64* frame, bigtime_t to_time, bigtime_t* time)
{
	if (what == B_SEEK_BY_TIME) {
		printf("KORVEXDecoder::Reset Current Frame %" PRId64 " inout time  %" PRId64
		       " Required Time  %" PRId64 "\n",
		       frameCount, *time, to_time);
		printf("Seek by time ");
		RestartTimingAt(*time);
		const int64 seconds = SaturatingSub(to_time, *time) / 1000000;
		skipFrames = TruncateToInt64(static_cast<double>(seconds) * fieldRate);
	} else if (what == B_SEEK_BY_FRAME) {
		printf("KORVEXDecoder::Reset Current Frame %" PRId64 " inout frame %" PRId64
		       " Required Frame %" PRId64 "\n",
		       frameCount, *frame, to_frame);
		printf("Seek by Frame ");
		RestartTimingAt(*frame);
		skipFrames = SaturatingSub(to_frame, *frame);
	} else {
		return B_BAD_VALUE;
	}
	if (skipFrames < 0)
		skipFrames = 1;
	printf("Skipping %" PRId64 " Frames\n", skipFrames);
	*frame = SaturatingAdd(*frame, skipFrames);
	// Without a field rate there is no time per frame to move by.
	if (fieldRate > 0)
		*time = SaturatingAdd(*time,
		                      TruncateToInt64(static_cast<double>(skipFrames) * 1000000.0 / fieldRate));
	skippedFrames = SaturatingAdd(skippedFrames, SaturatingSub(*frame, frameCount));
	frameCount = *frame;
	return B_OK;
}

BParameterWeb* KorvexDecoder::Web() { return web.get(); }

status_t KorvexDecoder::GetParameterValue(int32 id, void* value, size_t* size)
{
	if (id != kThreadsParameter)
		return B_BAD_VALUE;
	if (!value || !size || *size < sizeof(float))
		return B_BAD_VALUE;
	const float count = static_cast<float>(threads);
	memcpy(value, &count, sizeof count);
	*size = sizeof count;
	return B_OK;
}

// 0..32, taken whole as the encoder takes its settings; a context made later by Sniff takes it too.
status_t KorvexDecoder::SetParameterValue(int32 id, const void* value, size_t size)
{
	if (id != kThreadsParameter || !value || size < sizeof(float))
		return B_BAD_VALUE;
	float count;
	memcpy(&count, value, sizeof count);
	if (!(count >= 0 && count <= kMostThreads))
		return B_BAD_VALUE;
	threads = static_cast<uint32>(count);
	if (params)
		params->threadCount = threads;
	return B_OK;
}

void KorvexDecoder::DumpProcessDetails()
{
	if (frameCount <= 10)
		return;
	printf("Processed %" PRId64 " Frames\n", frameCount);
	const int64 elapsed = endTime - startTime;
	const int64 drawn = frameCount - skippedFrames;
	// A run too short for the clock has no measurable rate; it met any required rate.
	const double rate =
	        elapsed > 0 ? static_cast<double>(drawn) / static_cast<double>(elapsed) * 1000000.0 : 0.0;
	printf("Korvo decoder took %" PRId64 " usec to draw %" PRId64 " frame(s) giving %f FPS\n", elapsed, drawn,
	       rate);
	double percent = elapsed > 0 && fieldRate > 0 ? rate / fieldRate * 100.0 : 100.0;
	if (percent > 100.0)
		percent = 100.0;
	printf("Which is %f%% of required rate\n", percent);
}

}  // namespace

KORVO_EXPORT void register_decoder(media_format** formats, int32* count)
{
	printf("Korvo decoder loaded\n");
	gKorvexFormat.type = B_MEDIA_ENCODED_VIDEO;
	gKorvexFormat.u.encoded_video = media_encoded_video_format::wildcard;
	media_format_description description;
	description.family = B_QUICKTIME_FORMAT_FAMILY;
	description.u.quicktime.codec = 'KRV1';
	description.u.quicktime.vendor = 0;
	BMediaFormats registry;
	status_t status = registry.MakeFormatFor(&description, 1, &gKorvexFormat, 0, 0);
	if (status != B_OK)
		printf("Korvodecoder: MakeFormatFor failed, %s\n", status_text(status));
	korvexencoding = gKorvexFormat.u.encoded_video.encoding;
	*formats = &gKorvexFormat;
	*count = 1;
}

KORVO_EXPORT BPrivate::Decoder* instantiate_decoder()
{
	printf("krv1 decoder ");
	if (korvexencoding == 0)
		return nullptr;
	printf("instantiated\n");
	// No exception leaves the add-on: a decoder that cannot be made is none.
	try {
		return new KorvexDecoder;
	} catch (const std::bad_alloc&) {
		return nullptr;
	}
}
