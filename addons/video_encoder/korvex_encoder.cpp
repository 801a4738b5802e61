// The krv1.encoder add-on: KorvexEncoder codes 32-bit RGB or 4:2:2 YUV frames with the Korvo core
// into one QuickTime 'KRV1' chunk per frame, I-VOPs flagged as key frames, quality from the host.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "Encoder.h"
#include "MediaFormats.h"
#include "OS.h"
#include "ParameterWeb.h"
#include "korvex_view.h"
#include "korvo.h"

namespace {

// Rows are addressed through the core's 14-bit row-bytes field.
constexpr uint32 kMaxRowBytes = 0x3FFF;
constexpr int32 kQualityParameter = 4;
// Switches published beside the quality (0 off, 1 on), so that a host can reach the codec's
// in-loop filters and its trial-coding options: the settings view's check boxes are not read back.
constexpr int32 kArtifactReductionParameter = 5;
constexpr int32 kOptimalCompressionParameter = 6;
// Rate control: the target in kbit/s (0 = none, the quality alone decides) and how tightly it is
// tracked (0 loose .. 255 tight); the most frames from one key frame to the next.
constexpr int32 kDataRateParameter = 7;
constexpr int32 kDRTSensitivityParameter = 8;
constexpr int32 kKeyFrameIntervalParameter = 9;
constexpr float kMaxDataRate = 1000000;
constexpr float kMaxKeyFrameInterval = 152;
// Threads the core may use for a frame, the caller's included: 0 or 1 codes on the caller's thread
// alone (the default). The chunks are the same for every count.
constexpr int32 kThreadsParameter = 12;
constexpr float kMostThreads = 32;
// The core's decisions: 0 the classic ones (the default), 1 the better tuning, which spends fewer
// bits for the same quality; both make streams any Korvo decoder reads.
constexpr int32 kTuningParameter = 13;

int32 quicktimeencoding = 0;

class KorvexEncoder : public BPrivate::Encoder {
public:
	KorvexEncoder();
	~KorvexEncoder() override;

	status_t GetCodecInfo(media_codec_info* info) const override;
	status_t SetFormat(media_file_format* file, media_format* in, media_format* out) override;
	status_t AttachedToTrack() override;
	status_t StartEncoder() override;
	status_t Encode(const void* buffer, int64 frames, media_encode_info* info) override;
	status_t Flush() override;

	BParameterWeb* Web() override;
	status_t GetParameterValue(int32 id, void* value, size_t* size) override;
	status_t SetParameterValue(int32 id, const void* value, size_t size) override;
	BView* GetParameterView() override;
	status_t GetEncodeParameters(encode_parameters* parameters) const override;
	status_t SetEncodeParameters(encode_parameters* parameters) override;

private:
	static uint32 GetQualityAsKorvex(float q);
	bool* Switch(int32 id);
	float* Setting(int32 id, float* maximum);
	void ApplySettings();
	void ReadPanel();

	KorvParams* params = nullptr;
	int32 rowBytes = 0;
	int32 frameBytes = 0;
	float fieldRate = 0;
	float dataRate = 0;  // kbit/s
	float drtSensitivity = 255;
	float keyFrameInterval = kMaxKeyFrameInterval;
	float threads = 0;
	float tuning = 0;
	float quality = 0.85f;
	bool artifactReduction = false;
	bool optimalCompression = false;
	uint32 totalBytes = 0;
	std::unique_ptr<BParameterWeb> web;
	BParameterGroup* group = nullptr;
	KorvexView* view = nullptr;
	media_encode_info* info = nullptr;
	// The codec's shared tables: without them the encoder refuses every format.
	int16_t libraryStatus = kKorvoEntryFailed;
};

KorvexEncoder::KorvexEncoder()
{
	printf("Instantiate Encoder\n");
	web = std::make_unique<BParameterWeb>();
	group = web->MakeGroup("Korvo Vela 3.5 Plus - Full motion video codec");
	group->MakeContinuousParameter(kQualityParameter, B_MEDIA_PARAMETERS, "Quality", B_GENERIC, "y", 0, 100,
	                               quality);
	group->MakeContinuousParameter(kArtifactReductionParameter, B_MEDIA_PARAMETERS, "Artifact Reduction",
	                               B_GENERIC, "", 0, 1, 1);
	group->MakeContinuousParameter(kOptimalCompressionParameter, B_MEDIA_PARAMETERS, "Optimal Compression",
	                               B_GENERIC, "", 0, 1, 1);
	group->MakeContinuousParameter(kDataRateParameter, B_MEDIA_PARAMETERS, "Data Rate", B_GENERIC, "kbit/s",
	                               0, kMaxDataRate, 1);
	group->MakeContinuousParameter(kDRTSensitivityParameter, B_MEDIA_PARAMETERS, "DRT Sensitivity", B_GENERIC,
	                               "", 0, 255, 1);
	group->MakeContinuousParameter(kKeyFrameIntervalParameter, B_MEDIA_PARAMETERS, "Key Frame Interval",
	                               B_GENERIC, "frames", 1, kMaxKeyFrameInterval, 1);
	group->MakeContinuousParameter(kThreadsParameter, B_MEDIA_PARAMETERS, "Threads", B_GENERIC, "", 0,
	                               kMostThreads, 1);
	group->MakeContinuousParameter(kTuningParameter, B_MEDIA_PARAMETERS, "Tuning", B_GENERIC, "", 0, 1, 1);
	libraryStatus = InitKorvax();
}

KorvexEncoder::~KorvexEncoder()
{
	printf("Disposing Encoder\n");
	DisposeKorvParamsPtr(params);
	// A failed InitKorvax took its reference back itself.
	if (libraryStatus == kKorvoOK)
		TerminateKorvax();
}

status_t KorvexEncoder::GetCodecInfo(media_codec_info* out) const
{
	strcpy(out->pretty_name, "Korvo Vela 3.5 - Full Motion Video Codec");
	strcpy(out->short_name, "Korvo Vela 3.5");
	return B_OK;
}

uint32 KorvexEncoder::GetQualityAsKorvex(float q)
{
	// Quality runs 0..1; anything outside (or NaN) is held to that range before the conversion.
	const double scaled = static_cast<double>(q) * 1024.0;
	return scaled > 0 ? static_cast<uint32>(scaled < 1024.0 ? scaled : 1024.0) : 0;
}

status_t KorvexEncoder::SetFormat(media_file_format* file, media_format* in, media_format* out)
{
	if (file->family != B_QUICKTIME_FORMAT_FAMILY)
		file->family = B_QUICKTIME_FORMAT_FAMILY;
	if (in->type != B_MEDIA_RAW_VIDEO) {
		in->type = B_MEDIA_RAW_VIDEO;
		in->u.raw_video = media_raw_video_format::wildcard;
	}
	in->require_flags = 0;
	in->deny_flags = 0xFFF0;
	out->require_flags = 0;
	out->deny_flags = 0xFFF0;

	media_raw_video_format& raw = in->u.raw_video;
	const uint64 width = raw.display.line_width, lines = raw.display.line_count;
	uint32 pixelFormat = kPixelFormatBGRA;
	const char* announce = nullptr;
	switch (raw.display.format) {
		case B_RGBA32: announce = "Input is RGBA32\n"; break;
		case B_RGB32: announce = "Input is RGB32\n"; break;
		case B_YUV422:
			announce = "Input is YUV422\n";
			pixelFormat = kPixelFormatYUVS;
			break;
		case B_YUV420:
			// Planar chroma covers pairs of rows and columns: pictures of odd sizes are refused.
			if (width % 2 || lines % 2)
				break;
			announce = "Input is YUV420\n";
			pixelFormat = kPixelFormatYUV420Planar;
			break;
		default: break;
	}
	// Frames of the colour space the input is coerced to need rows of that colour space; rows of
	// 0 bytes mean tightly packed ones.
	const uint64 rowSize = pixelFormat == kPixelFormatYUVS           ? (width + 1) / 2 * 4
	                       : pixelFormat == kPixelFormatYUV420Planar ? width
	                                                                 : width * 4;
	const bool coerce = !announce && raw.display.bytes_per_row < rowSize;
	if ((coerce || raw.display.bytes_per_row == 0) && rowSize <= kMaxRowBytes)
		raw.display.bytes_per_row = static_cast<uint32>(rowSize);
	// Rows beyond the core's 14 bits would wrap into a shorter stride, and the sizes printed and
	// kept are 32-bit.
	const uint64 bufferSize = pixelFormat == kPixelFormatYUV420Planar
	                                  ? raw_video_frame_bytes(raw.display)
	                                  : uint64{raw.display.bytes_per_row} * lines;
	const uint64 frameSize = width * lines * 4;
	if (raw.display.bytes_per_row > kMaxRowBytes || bufferSize > INT32_MAX || frameSize > INT32_MAX)
		return B_BAD_VALUE;

	out->type = B_MEDIA_ENCODED_VIDEO;
	out->u.encoded_video = media_encoded_video_format::wildcard;
	media_raw_video_format& output = out->u.encoded_video.output;
	output.field_rate = raw.field_rate;
	output.interlace = raw.interlace;
	output.first_active = raw.first_active;
	output.last_active = raw.last_active;
	output.orientation = raw.orientation;
	output.pixel_width_aspect = raw.pixel_width_aspect;
	output.pixel_height_aspect = raw.pixel_height_aspect;
	output.display = raw.display;
	out->u.encoded_video.encoding = quicktimeencoding;
	out->u.encoded_video.frame_size = static_cast<size_t>(frameSize);

	printf("Frame Size %" PRId32 " Buffer Size %" PRId32 "\n", static_cast<int32>(frameSize),
	       static_cast<int32>(bufferSize));
	if (width % 16 != 0 || lines % 16 != 0)
		printf("Warning - Input source is NOT a multiple of 16, output quality will suffer\n");
	rowBytes = static_cast<int32>(raw.display.bytes_per_row);
	frameBytes = static_cast<int32>(bufferSize);
	fieldRate = raw.field_rate;
	printf("Line Width %" PRId32 " Bytes Per Row %" PRId32 "\n", static_cast<int32>(width), rowBytes);

	// A second format replaces the context made for the first.
	DisposeKorvParamsPtr(params);
	params = nullptr;
	// Without the codec's shared tables (out of memory when they were built) nothing is coded.
	if (libraryStatus != kKorvoOK)
		return B_NO_MEMORY;
	params = NewKorvParamsPtr(1, static_cast<uint32_t>(width), static_cast<uint32_t>(lines));
	if (!params)
		return B_NO_MEMORY;
	params->spatialQuality = GetQualityAsKorvex(quality);
	ApplySettings();

	if (announce) {
		printf("%s", announce);
	} else {
		printf("We do NOT support this format %" PRId32 "\n", static_cast<int32>(raw.display.format));
		raw.display.format = B_RGBA32;
	}
	params->pixelFormat = pixelFormat;
	return B_OK;
}

status_t KorvexEncoder::AttachedToTrack()
{
	printf("AttachedToTrack::Begin\n");
	return AddCopyright("Korvo codec");
}

status_t KorvexEncoder::StartEncoder()
{
	printf("StartEncoder::Begin\n");
	totalBytes = 0;
	return B_OK;
}

status_t KorvexEncoder::Encode(const void* buffer, int64 frames, media_encode_info* encodeInfo)
{
	if (!params)
		return B_NO_INIT;
	const uint8* frame = static_cast<const uint8*>(buffer);
	for (; frames > 0; frames--, frame += frameBytes) {
		info = encodeInfo;
		const bigtime_t t0 = system_time();
		params->pixMap->rowBytes = static_cast<uint16_t>(rowBytes);
		params->pixMap->baseAddr = const_cast<uint8*>(frame);
		// The core writes into its own buffer and bounds the frame by that buffer, whatever
		// streamSize says; streamBytes is then never more than the buffer holds.
		params->stream = params->streamBuffer;
		params->streamSize = static_cast<uint32_t>(frameBytes);
		if (CompressPixMap(params) != kKorvoOK || params->streamBytes < 0)
			return B_NO_MEMORY;
		totalBytes += static_cast<uint32>(params->streamBytes);
		const bigtime_t elapsed = system_time() - t0;
		printf("Encoded Frame of %" PRId32 " bytes into %" PRId32 " bytes Quality Level %d ", frameBytes,
		       params->streamBytes, params->vop->quant);
		printf("took %" PRId64 " usec to encode 1 frame (%f FPS)\n", elapsed,
		       elapsed > 0 ? 1000000.0 / static_cast<double>(elapsed) : 0.0);
		// The flag is set and cleared here, so an info reused for several frames is right for each.
		if (params->prevCodingType == kCodingTypeI) {
			printf("Frame was a Keyframe\n");
			info->flags |= B_MEDIA_KEY_FRAME;
		} else {
			info->flags &= ~static_cast<uint32>(B_MEDIA_KEY_FRAME);
		}
		status_t status = WriteChunk(params->stream, static_cast<size_t>(params->streamBytes), info);
		if (status != B_OK)
			return status;
	}
	return B_OK;
}

status_t KorvexEncoder::Flush() { return B_OK; }

BParameterWeb* KorvexEncoder::Web() { return web.get(); }

bool* KorvexEncoder::Switch(int32 id)
{
	if (id == kArtifactReductionParameter)
		return &artifactReduction;
	if (id == kOptimalCompressionParameter)
		return &optimalCompression;
	return nullptr;
}

float* KorvexEncoder::Setting(int32 id, float* maximum)
{
	switch (id) {
		case kDataRateParameter: *maximum = kMaxDataRate; return &dataRate;
		case kDRTSensitivityParameter: *maximum = 255; return &drtSensitivity;
		case kKeyFrameIntervalParameter: *maximum = kMaxKeyFrameInterval; return &keyFrameInterval;
		case kThreadsParameter: *maximum = kMostThreads; return &threads;
		case kTuningParameter: *maximum = 1; return &tuning;
		default: return nullptr;
	}
}

// The panel's controls as the host applies its settings (the data-rate text counts kilobits of 1024
// bits; the codec's target counts 1000).
void KorvexEncoder::ReadPanel()
{
	if (!view)
		return;
	artifactReduction = view->GetArtifactReduction();
	optimalCompression = view->GetOptimalCompression();
	const double bits = view->GetDataRate();
	dataRate = bits > 0 ? static_cast<float>(bits < kMaxDataRate * 1000.0 ? bits / 1000.0 : kMaxDataRate) : 0;
	drtSensitivity = static_cast<float>(view->GetDRTSensitivity());
	tuning = view->GetTuning() >= 1 ? 1 : 0;
}

// Deblocking and deringing go together, as do the two trial-coding options; a context made later by
// SetFormat takes the settings too.
void KorvexEncoder::ApplySettings()
{
	if (!params)
		return;
	params->deblock = params->dering = artifactReduction ? 1 : 0;
	params->optimalFrame = params->optimalMb = optimalCompression ? 1 : 0;
	params->dataRate = static_cast<uint32_t>(dataRate);
	params->drtSensitivity = static_cast<uint8_t>(drtSensitivity);
	params->keyInterval = static_cast<uint32_t>(keyFrameInterval);
	params->frameRate = fieldRate;
	params->threadCount = static_cast<uint32_t>(threads);
	params->tuning = tuning >= 1 ? kTuningBetter : kTuningClassic;
}

status_t KorvexEncoder::GetParameterValue(int32 id, void* value, size_t* size)
{
	printf("GetParameterValue called with id %" PRId32 "\n", id);
	bool* state = Switch(id);
	float maximum = 0;
	const float* setting = Setting(id, &maximum);
	if ((state || setting) && value && size && *size >= sizeof(float)) {
		const float current = setting ? *setting : *state ? 1.0f : 0.0f;
		memcpy(value, &current, sizeof current);
		*size = sizeof current;
	}
	return B_OK;
}

status_t KorvexEncoder::SetParameterValue(int32 id, const void* value, size_t size)
{
	printf("SetParameterValue called with id %" PRId32 "\n", id);
	bool* state = Switch(id);
	float maximum = 0;
	float* setting = Setting(id, &maximum);
	if (!state && !setting)
		return B_OK;
	if (!value || size < sizeof(float))
		return B_BAD_VALUE;
	float given;
	memcpy(&given, value, sizeof given);
	if (setting) {
		// Whole numbers within the parameter's range; NaN is refused.
		const float minimum = id == kKeyFrameIntervalParameter ? 1 : 0;
		if (!(given >= minimum && given <= maximum))
			return B_BAD_VALUE;
		*setting = static_cast<float>(static_cast<uint32>(given));
	} else {
		*state = given >= 0.5f;
	}
	ApplySettings();
	return B_OK;
}

BView* KorvexEncoder::GetParameterView()
{
	printf("Initialising View\n");
	view = new KorvexView(BRect(0, 0, 400, 0), "The View", 0x1234, 0x2000000);
	return view;
}

status_t KorvexEncoder::GetEncodeParameters(encode_parameters* parameters) const
{
	parameters->quality = quality;
	return B_OK;
}

status_t KorvexEncoder::SetEncodeParameters(encode_parameters* parameters)
{
	// Kept for GetEncodeParameters and for a context that SetFormat makes later.
	quality = parameters->quality;
	ReadPanel();
	ApplySettings();
	const uint32 spatialQuality = GetQualityAsKorvex(quality);
	if (params)
		params->spatialQuality = spatialQuality;
	printf("Input Params: Quality %" PRIu32 " Artifact Reduction %d OptimalCompression %d DRT Sensitivity "
	       "%d DataRate %f\n",
	       spatialQuality, artifactReduction ? 1 : 0, optimalCompression ? 1 : 0,
	       static_cast<int>(drtSensitivity), static_cast<double>(dataRate));
	return B_OK;
}

}  // namespace

KORVO_EXPORT void register_encoder()
{
	media_format_description description;
	description.family = B_QUICKTIME_FORMAT_FAMILY;
	description.u.quicktime.codec = 'KRV1';
	description.u.quicktime.vendor = 'KRVO';
	media_format format;
	format.type = B_MEDIA_ENCODED_VIDEO;
	format.u.encoded_video = media_encoded_video_format::wildcard;
	BMediaFormats registry;
	status_t status = registry.MakeFormatFor(&description, 1, &format, 4, 0);
	if (status != B_OK)
		printf("Korvo encoder: MakeFormatFor failed, %s\n", status_text(status));
	quicktimeencoding = format.u.encoded_video.encoding;
}

// No exception leaves the add-on: an encoder that cannot be made (out of memory) is none.
KORVO_EXPORT BPrivate::Encoder* instantiate_encoder()
{
	try {
		return new KorvexEncoder;
	} catch (const std::bad_alloc&) {
		return nullptr;
	}
}
