// korvoenc: raw I420 or BGRx pictures into Korvo frames through the codec core, one VOP per buffer,
// I-VOPs marked as sync points; the encoder's settings are element properties.
#include "korvo_enc.h"

#include <vector>

#include "korvo.h"
#include "stream_caps.h"

GST_DEBUG_CATEGORY_STATIC(korvo_enc_debug);
#define GST_CAT_DEFAULT korvo_enc_debug

namespace {

// The core's row pitch is a 14-bit field: BGRx rows of 4 bytes per pixel, I420 handed over as packed
// 4:2:2 rows of 2 bytes per pixel.
constexpr uint32_t kMaxRowBytes = 0x3FFF;
constexpr double kDefaultQuality = 0.85;

enum {
	PROP_0,
	PROP_QUALITY,
	PROP_ARTIFACT_REDUCTION,
	PROP_OPTIMAL_COMPRESSION,
	PROP_THREADS,
	PROP_BITRATE,
	PROP_DRT_SENSITIVITY,
	PROP_KEY_INTERVAL
};
constexpr guint kMaxThreads = 64;
constexpr guint kMaxBitrate = 1000000;  // kbit/s
constexpr guint kDefaultDrtSensitivity = 255;
constexpr guint kMaxKeyInterval = 152;

}  // namespace

struct _GstKorvoEnc {
	GstVideoEncoder parent;

	// Settings (under the object lock); a running context takes them before each frame.
	double quality;
	bool artifactReduction;
	bool optimalCompression;
	guint threads;
	guint bitrate;  // kbit/s, 0 = none
	guint drtSensitivity;
	guint keyInterval;

	bool libraryStarted;
	KorvParams* params;
	GstVideoCodecState* input;
	std::vector<uint8_t>* packed;  // I420 input as the 4:2:2 rows the core reads
};

G_DEFINE_TYPE(GstKorvoEnc, gst_korvo_enc, GST_TYPE_VIDEO_ENCODER)

namespace {

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
        "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ I420, BGRx }")));

GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
        "src", GST_PAD_SRC, GST_PAD_ALWAYS,
        GST_STATIC_CAPS("video/x-korvo, " KORVO_STREAM_FIELDS ", framerate = (fraction) [ 0/1, MAX ]"));

// Quality 0..1 on the core's 0..1024 scale.
uint32_t SpatialQuality(double quality) { return static_cast<uint32_t>(quality * 1024.0); }

// The settings into the context, before every frame so that a change takes effect at the next one.
void ApplySettings(GstKorvoEnc* self)
{
	GST_OBJECT_LOCK(self);
	KorvParams* params = self->params;
	params->spatialQuality = SpatialQuality(self->quality);
	// Deblocking and deringing go together, as do the two trial-coding decisions.
	params->deblock = params->dering = self->artifactReduction ? 1 : 0;
	params->optimalFrame = params->optimalMb = self->optimalCompression ? 1 : 0;
	params->threadCount = self->threads;
	params->dataRate = self->bitrate;
	params->drtSensitivity = static_cast<uint8_t>(self->drtSensitivity);
	params->keyInterval = self->keyInterval;
	GST_OBJECT_UNLOCK(self);
}

void DisposeContext(GstKorvoEnc* self)
{
	DisposeKorvParamsPtr(self->params);
	self->params = nullptr;
	if (self->input)
		gst_video_codec_state_unref(self->input);
	self->input = nullptr;
}

gboolean korvo_enc_start(GstVideoEncoder* encoder)
{
	GstKorvoEnc* self = GST_KORVO_ENC(encoder);
	if (InitKorvax() != kKorvoOK) {
		GST_ELEMENT_ERROR(self, LIBRARY, INIT, ("The Korvo codec library could not start."), (nullptr));
		return FALSE;
	}
	self->libraryStarted = true;
	return TRUE;
}

gboolean korvo_enc_stop(GstVideoEncoder* encoder)
{
	GstKorvoEnc* self = GST_KORVO_ENC(encoder);
	DisposeContext(self);
	self->packed->clear();
	self->packed->shrink_to_fit();
	if (self->libraryStarted)
		TerminateKorvax();
	self->libraryStarted = false;
	return TRUE;
}

size_t CoreRowBytes(GstVideoFormat format, uint32_t width)
{
	return format == GST_VIDEO_FORMAT_BGRx ? size_t{width} * 4 : (size_t{width} + 1) / 2 * 4;
}

gboolean korvo_enc_set_format(GstVideoEncoder* encoder, GstVideoCodecState* state)
{
	GstKorvoEnc* self = GST_KORVO_ENC(encoder);
	const GstVideoInfo* info = &state->info;
	const GstVideoFormat format = GST_VIDEO_INFO_FORMAT(info);
	const uint32_t width = GST_VIDEO_INFO_WIDTH(info), height = GST_VIDEO_INFO_HEIGHT(info);
	if (CoreRowBytes(format, width) > kMaxRowBytes) {
		GST_ELEMENT_ERROR(self, STREAM, FORMAT,
		                  ("Rows of %u %s pixels exceed the codec's %u bytes.", width,
		                   gst_video_format_to_string(format), kMaxRowBytes),
		                  (nullptr));
		return FALSE;
	}
	// A new format starts a new sequence: its first frame is an I-VOP.
	DisposeContext(self);
	self->params = NewKorvParamsPtr(1, width, height);
	if (!self->params) {
		GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("A picture of %ux%u is too large to encode.", width, height),
		                  (nullptr));
		return FALSE;
	}
	self->input = gst_video_codec_state_ref(state);
	self->params->pixelFormat = format == GST_VIDEO_FORMAT_BGRx ? kPixelFormatBGRA : kPixelFormatYUVS;
	// The data rate is spread over the frames of a second; a variable rate leaves the core's default.
	if (GST_VIDEO_INFO_FPS_N(info) > 0 && GST_VIDEO_INFO_FPS_D(info) > 0)
		self->params->frameRate = static_cast<float>(GST_VIDEO_INFO_FPS_N(info)) / GST_VIDEO_INFO_FPS_D(info);

	GstCaps* caps = gst_caps_new_empty_simple("video/x-korvo");
	GstVideoCodecState* output = gst_video_encoder_set_output_state(encoder, caps, state);
	gst_video_codec_state_unref(output);
	GstTagList* tags =
	        gst_tag_list_new(GST_TAG_VIDEO_CODEC, KORVO_CODEC_NAME, GST_TAG_ENCODER, "korvoenc", nullptr);
	gst_video_encoder_merge_tags(encoder, tags, GST_TAG_MERGE_REPLACE);
	gst_tag_list_unref(tags);
	return gst_video_encoder_negotiate(encoder);
}

// I420 as 4:2:2 rows Y'0 Cb Y'1 Cr, each chroma row given to both rows of its pair: the core takes
// the rounded mean of the two, which is the sample itself, so the 4:2:0 planes arrive unchanged.
void PackI420(const GstVideoFrame* in, uint32_t width, uint32_t height, uint8_t* out, size_t rowBytes)
{
	const auto* y = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(in, 0));
	const auto* u = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(in, 1));
	const auto* v = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(in, 2));
	const size_t strideY = GST_VIDEO_FRAME_PLANE_STRIDE(in, 0);
	const size_t strideU = GST_VIDEO_FRAME_PLANE_STRIDE(in, 1);
	const size_t strideV = GST_VIDEO_FRAME_PLANE_STRIDE(in, 2);
	for (uint32_t row = 0; row < height; row++) {
		const uint8_t* ly = y + row * strideY;
		const uint8_t* lu = u + (row / 2) * strideU;
		const uint8_t* lv = v + (row / 2) * strideV;
		uint8_t* o = out + row * rowBytes;
		for (uint32_t k = 0; k < width / 2; k++) {
			o[4 * k] = ly[2 * k];
			o[4 * k + 1] = lu[k];
			o[4 * k + 2] = ly[2 * k + 1];
			o[4 * k + 3] = lv[k];
		}
		// The half-used pair of an odd width carries the last column's luminance.
		if (width % 2) {
			const uint32_t k = width / 2;
			o[4 * k] = ly[2 * k];
			o[4 * k + 1] = lu[k];
			o[4 * k + 2] = ly[2 * k];
			o[4 * k + 3] = lv[k];
		}
	}
}

GstFlowReturn korvo_enc_handle_frame(GstVideoEncoder* encoder, GstVideoCodecFrame* frame)
{
	GstKorvoEnc* self = GST_KORVO_ENC(encoder);
	KorvParams* params = self->params;
	if (!params) {
		gst_video_encoder_finish_frame(encoder, frame);
		return GST_FLOW_NOT_NEGOTIATED;
	}
	const GstVideoInfo* info = &self->input->info;
	const uint32_t width = GST_VIDEO_INFO_WIDTH(info), height = GST_VIDEO_INFO_HEIGHT(info);
	GstVideoFrame in;
	if (!gst_video_frame_map(&in, info, frame->input_buffer, GST_MAP_READ)) {
		gst_video_encoder_finish_frame(encoder, frame);
		GST_ELEMENT_ERROR(self, RESOURCE, READ, ("An input picture could not be mapped."), (nullptr));
		return GST_FLOW_ERROR;
	}
	const size_t rowBytes = CoreRowBytes(GST_VIDEO_INFO_FORMAT(info), width);
	if (params->pixelFormat == kPixelFormatYUVS) {
		self->packed->resize(rowBytes * height);
		PackI420(&in, width, height, self->packed->data(), rowBytes);
		params->pixMap->baseAddr = self->packed->data();
		params->pixMap->rowBytes = static_cast<uint16_t>(rowBytes);
	} else if (size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&in, 0)) <= kMaxRowBytes) {
		params->pixMap->baseAddr = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&in, 0));
		params->pixMap->rowBytes = static_cast<uint16_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&in, 0));
	} else {
		// A pitch wider than the core's field: the rows, tightly packed.
		self->packed->resize(rowBytes * height);
		for (uint32_t row = 0; row < height; row++)
			memcpy(self->packed->data() + row * rowBytes,
			       static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&in, 0)) +
			               row * size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&in, 0)),
			       rowBytes);
		params->pixMap->baseAddr = self->packed->data();
		params->pixMap->rowBytes = static_cast<uint16_t>(rowBytes);
	}

	ApplySettings(self);
	if (GST_VIDEO_CODEC_FRAME_IS_FORCE_KEYFRAME(frame))
		params->vop->codingType = kCodingTypeI;
	params->stream = params->streamBuffer;
	const int16_t status = CompressPixMap(params);
	gst_video_frame_unmap(&in);
	if (status != kKorvoOK || params->streamBytes <= 0) {
		gst_video_encoder_finish_frame(encoder, frame);
		GST_ELEMENT_ERROR(self, STREAM, ENCODE,
		                  ("Frame %u could not be encoded.", frame->system_frame_number),
		                  ("CompressPixMap returned %d", status));
		return GST_FLOW_ERROR;
	}

	const size_t size = static_cast<size_t>(params->streamBytes);
	GstFlowReturn ret = gst_video_encoder_allocate_output_frame(encoder, frame, size);
	if (ret != GST_FLOW_OK) {
		gst_video_encoder_finish_frame(encoder, frame);
		return ret;
	}
	gst_buffer_fill(frame->output_buffer, 0, params->stream, size);
	if (params->prevCodingType == kCodingTypeI)
		GST_VIDEO_CODEC_FRAME_SET_SYNC_POINT(frame);
	else
		GST_VIDEO_CODEC_FRAME_UNSET_SYNC_POINT(frame);
	return gst_video_encoder_finish_frame(encoder, frame);
}

void korvo_enc_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
	GstKorvoEnc* self = GST_KORVO_ENC(object);
	GST_OBJECT_LOCK(self);
	switch (id) {
		case PROP_QUALITY: self->quality = g_value_get_double(value); break;
		case PROP_ARTIFACT_REDUCTION: self->artifactReduction = g_value_get_boolean(value); break;
		case PROP_OPTIMAL_COMPRESSION: self->optimalCompression = g_value_get_boolean(value); break;
		case PROP_THREADS: self->threads = g_value_get_uint(value); break;
		case PROP_BITRATE: self->bitrate = g_value_get_uint(value); break;
		case PROP_DRT_SENSITIVITY: self->drtSensitivity = g_value_get_uint(value); break;
		case PROP_KEY_INTERVAL: self->keyInterval = g_value_get_uint(value); break;
		default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
	}
	GST_OBJECT_UNLOCK(self);
}

void korvo_enc_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
	GstKorvoEnc* self = GST_KORVO_ENC(object);
	GST_OBJECT_LOCK(self);
	switch (id) {
		case PROP_QUALITY: g_value_set_double(value, self->quality); break;
		case PROP_ARTIFACT_REDUCTION: g_value_set_boolean(value, self->artifactReduction); break;
		case PROP_OPTIMAL_COMPRESSION: g_value_set_boolean(value, self->optimalCompression); break;
		case PROP_THREADS: g_value_set_uint(value, self->threads); break;
		case PROP_BITRATE: g_value_set_uint(value, self->bitrate); break;
		case PROP_DRT_SENSITIVITY: g_value_set_uint(value, self->drtSensitivity); break;
		case PROP_KEY_INTERVAL: g_value_set_uint(value, self->keyInterval); break;
		default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
	}
	GST_OBJECT_UNLOCK(self);
}

void gst_korvo_enc_finalize(GObject* object)
{
	delete GST_KORVO_ENC(object)->packed;
	G_OBJECT_CLASS(gst_korvo_enc_parent_class)->finalize(object);
}

}  // namespace

static void gst_korvo_enc_class_init(GstKorvoEncClass* klass)
{
	GST_DEBUG_CATEGORY_INIT(korvo_enc_debug, "korvoenc", 0, "Korvo video encoder");
	GObjectClass* objectClass = G_OBJECT_CLASS(klass);
	objectClass->set_property = korvo_enc_set_property;
	objectClass->get_property = korvo_enc_get_property;
	objectClass->finalize = gst_korvo_enc_finalize;
	const auto flags =
	        static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);
	g_object_class_install_property(objectClass, PROP_QUALITY,
	                                g_param_spec_double("quality", "Quality",
	                                                    "Picture quality, 0 (smallest) to 1 (best): the "
	                                                    "quantiser of every frame, or with a bit rate "
	                                                    "the floor the rate control keeps to (0: none)",
	                                                    0.0, 1.0, kDefaultQuality, flags));
	g_object_class_install_property(
	        objectClass, PROP_ARTIFACT_REDUCTION,
	        g_param_spec_boolean("artifact-reduction", "Artifact reduction",
	                             "In-loop deblocking and deringing (decoders follow the stream's own flags)",
	                             FALSE, flags));
	g_object_class_install_property(
	        objectClass, PROP_OPTIMAL_COMPRESSION,
	        g_param_spec_boolean("optimal-compression", "Optimal compression",
	                             "Choose frame types and intra/inter macroblocks by trial coding (slower)",
	                             FALSE, flags));

	g_object_class_install_property(
	        objectClass, PROP_THREADS,
	        g_param_spec_uint("threads", "Threads",
	                          "Threads coding each frame by rows (0 or 1: the streaming thread alone); the "
	                          "stream is the same for any count",
	                          0, kMaxThreads, 0, flags));
	g_object_class_install_property(
	        objectClass, PROP_BITRATE,
	        g_param_spec_uint("bitrate", "Bit rate",
	                          "Target data rate in kbit/s (0: none, the quality alone sets the quantiser; "
	                          "with a rate the quality is the floor)",
	                          0, kMaxBitrate, 0, flags));
	g_object_class_install_property(
	        objectClass, PROP_DRT_SENSITIVITY,
	        g_param_spec_uint("drt-sensitivity", "Data rate tracking sensitivity",
	                          "How closely the bit rate is followed, 0 (loose: steadier quality) to 255 "
	                          "(tight: every second near the target)",
	                          0, 255, kDefaultDrtSensitivity, flags));
	g_object_class_install_property(
	        objectClass, PROP_KEY_INTERVAL,
	        g_param_spec_uint("key-interval", "Key frame interval",
	                          "Most frames from one key frame to the next (0: the format's longest, 152)", 0,
	                          kMaxKeyInterval, 0, flags));

	GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
	gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
	gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
	gst_element_class_set_static_metadata(elementClass, "Korvo video encoder", "Codec/Encoder/Video",
	                                      "Encodes I420 or BGRx video as Korvo (krv1)",
	                                      "The Korvo developers");

	GstVideoEncoderClass* encoderClass = GST_VIDEO_ENCODER_CLASS(klass);
	encoderClass->start = korvo_enc_start;
	encoderClass->stop = korvo_enc_stop;
	encoderClass->set_format = korvo_enc_set_format;
	encoderClass->handle_frame = korvo_enc_handle_frame;
}

static void gst_korvo_enc_init(GstKorvoEnc* self)
{
	self->quality = kDefaultQuality;
	self->drtSensitivity = kDefaultDrtSensitivity;
	self->packed = new std::vector<uint8_t>;
}
