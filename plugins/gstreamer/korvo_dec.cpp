// korvodec: Korvo frames (one VOP per buffer, as qtdemux hands them out) into raw I420, BGRx or YUY2
// pictures through the codec core. After a start, a flush or a seek it waits for the next I-VOP.
#include "korvo_dec.h"

#include <vector>

#include "korvo.h"
#include "picture_layout.h"
#include "stream_caps.h"

GST_DEBUG_CATEGORY_STATIC(korvo_dec_debug);
#define GST_CAT_DEFAULT korvo_dec_debug

using namespace korvo_gst;

struct _GstKorvoDec {
	GstVideoDecoder parent;

	bool libraryStarted;
	KorvParams* params;  // one context for the stream's picture size; null until caps arrive
	uint32_t width, height;
	// After start, flush or a damaged reference nothing is shown before the next I-VOP.
	bool waitingForKey;
	bool tagsSent;
	guint threads;                  // under the object lock
	std::vector<uint8_t>* scratch;  // a picture in the core's layout when the frame's is another
};

G_DEFINE_TYPE(GstKorvoDec, gst_korvo_dec, GST_TYPE_VIDEO_DECODER)

namespace {

enum { PROP_0, PROP_THREADS };
constexpr guint kMaxThreads = 64;

GstStaticPadTemplate sinkTemplate =
        GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(KORVO_STREAM_CAPS));

GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
        "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ I420, BGRx, YUY2 }")));

// Output formats in order of preference: I420 is the core's own sampling, copied without arithmetic.
constexpr GstVideoFormat kOutputFormats[] = {GST_VIDEO_FORMAT_I420, GST_VIDEO_FORMAT_BGRx,
                                             GST_VIDEO_FORMAT_YUY2};

// Packed formats are written straight into the frame at its pitch, so a row must fit the core's field;
// YUY2 holds whole pixel pairs only, which the core writes for even widths.
bool CanOutput(GstVideoFormat format, uint32_t width)
{
	if (format == GST_VIDEO_FORMAT_YUY2 && width % 2 != 0)
		return false;
	const size_t rowBytes = CoreMinRowBytes(format, width);
	return rowBytes > 0 && rowBytes <= kMaxCoreRowBytes;
}

// The first format downstream takes that the core can write at this width.
GstVideoFormat ChooseOutputFormat(GstKorvoDec* self)
{
	GstCaps* allowed = gst_pad_get_allowed_caps(GST_VIDEO_DECODER_SRC_PAD(self));
	GstVideoFormat chosen = GST_VIDEO_FORMAT_UNKNOWN;
	for (GstVideoFormat format : kOutputFormats) {
		if (!CanOutput(format, self->width))
			continue;
		GstCaps* candidate = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
		                                         gst_video_format_to_string(format), nullptr);
		const bool taken = !allowed || gst_caps_can_intersect(allowed, candidate);
		gst_caps_unref(candidate);
		if (taken) {
			chosen = format;
			break;
		}
	}
	if (allowed)
		gst_caps_unref(allowed);
	return chosen;
}

void DisposeContext(GstKorvoDec* self)
{
	DisposeKorvParamsPtr(self->params);
	self->params = nullptr;
}

gboolean korvo_dec_start(GstVideoDecoder* decoder)
{
	GstKorvoDec* self = GST_KORVO_DEC(decoder);
	if (InitKorvax() != kKorvoOK) {
		GST_ELEMENT_ERROR(self, LIBRARY, INIT, ("The Korvo codec library could not start."), (nullptr));
		return FALSE;
	}
	self->libraryStarted = true;
	self->waitingForKey = true;
	self->tagsSent = false;
	return TRUE;
}

gboolean korvo_dec_stop(GstVideoDecoder* decoder)
{
	GstKorvoDec* self = GST_KORVO_DEC(decoder);
	DisposeContext(self);
	self->scratch->clear();
	self->scratch->shrink_to_fit();
	if (self->libraryStarted)
		TerminateKorvax();
	self->libraryStarted = false;
	return TRUE;
}

gboolean korvo_dec_set_format(GstVideoDecoder* decoder, GstVideoCodecState* state)
{
	GstKorvoDec* self = GST_KORVO_DEC(decoder);
	const GstVideoInfo& info = state->info;
	const uint32_t width = GST_VIDEO_INFO_WIDTH(&info), height = GST_VIDEO_INFO_HEIGHT(&info);
	if (width == 0 || height == 0) {
		GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("The Korvo stream has no picture size."), (nullptr));
		return FALSE;
	}
	// The picture size is the stream's only set-up; caps that keep it keep the context and its reference.
	if (!self->params || width != self->width || height != self->height) {
		DisposeContext(self);
		self->params = NewKorvParamsPtr(2, width, height);
		if (!self->params) {
			GST_ELEMENT_ERROR(self, STREAM, FORMAT,
			                  ("A Korvo picture of %ux%u is too large to decode.", width, height), (nullptr));
			return FALSE;
		}
		self->width = width;
		self->height = height;
		self->waitingForKey = true;
	}

	const GstVideoFormat format = ChooseOutputFormat(self);
	if (format == GST_VIDEO_FORMAT_UNKNOWN) {
		GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
		                  ("Downstream takes none of the formats a %ux%u picture can be given in: I420, BGRx "
		                   "(up to 4095 wide), YUY2 (even widths).",
		                   width, height),
		                  (nullptr));
		return FALSE;
	}
	GstVideoCodecState* output = gst_video_decoder_set_output_state(decoder, format, width, height, state);
	// The core's colours are BT.601 studio swing.
	if (GST_VIDEO_INFO_IS_YUV(&output->info))
		gst_video_colorimetry_from_string(&output->info.colorimetry, GST_VIDEO_COLORIMETRY_BT601);
	gst_video_codec_state_unref(output);
	self->params->pixelFormat = CorePixelFormatFor(format);
	return gst_video_decoder_negotiate(decoder);
}

gboolean korvo_dec_flush(GstVideoDecoder* decoder)
{
	// The reference belongs to the stream before the flush; decoding resumes at the next I-VOP.
	GST_KORVO_DEC(decoder)->waitingForKey = true;
	return TRUE;
}

// Every frame is output as soon as it is decoded: nothing is held back to drain.
GstFlowReturn korvo_dec_drain(GstVideoDecoder*) { return GST_FLOW_OK; }

void SendCodecTag(GstKorvoDec* self)
{
	if (self->tagsSent)
		return;
	GstTagList* tags = gst_tag_list_new(GST_TAG_VIDEO_CODEC, KORVO_CODEC_NAME, nullptr);
	gst_video_decoder_merge_tags(GST_VIDEO_DECODER(self), tags, GST_TAG_MERGE_REPLACE);
	gst_tag_list_unref(tags);
	self->tagsSent = true;
}

// Decodes the frame's chunk into the output frame, through the scratch picture when the frame's
// planes are not where the core writes them. Returns the core's status.
int16_t DecodeInto(GstKorvoDec* self, GstVideoFrame* out)
{
	KorvParams* params = self->params;
	const GstVideoFormat format = GST_VIDEO_FRAME_FORMAT(out);
	CoreLayout layout;
	const size_t stride = GST_VIDEO_FRAME_PLANE_STRIDE(out, 0);
	if (CoreLayout_Make(format, self->width, self->height, stride, &layout) &&
	    CoreLayout_Matches(layout, out)) {
		params->pixMap->baseAddr = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(out, 0));
		params->pixMap->rowBytes = static_cast<uint16_t>(stride);
		return DecompressPixMap(params);
	}
	if (!CoreLayout_Make(format, self->width, self->height, CoreMinRowBytes(format, self->width), &layout))
		return kKorvoBadPixelFormat;
	self->scratch->resize(layout.size);
	params->pixMap->baseAddr = self->scratch->data();
	params->pixMap->rowBytes = static_cast<uint16_t>(layout.stride[0]);
	const int16_t status = DecompressPixMap(params);
	if (status == kKorvoOK && params->streamBytes > 0)
		CoreLayout_CopyToFrame(layout, self->scratch->data(), out);
	return status;
}

// A warning on the bus, and counted against the max-errors property (past it, an error). When decoding
// failed midway the reference may differ from the encoder's, so nothing is shown until the next I-VOP;
// a chunk without a picture leaves the reference as it was.
GstFlowReturn ReportDamage(GstKorvoDec* self, GstVideoCodecFrame* frame, const char* what, bool referenceLost)
{
	GST_ELEMENT_WARNING(self, STREAM, DECODE, ("A damaged Korvo frame was dropped."),
	                    ("frame %u: %s", frame->system_frame_number, what));
	GstFlowReturn ret = GST_FLOW_OK;
	GST_VIDEO_DECODER_ERROR(self, 1, STREAM, DECODE, ("A damaged Korvo frame was dropped."),
	                        ("frame %u: %s", frame->system_frame_number, what), ret);
	if (referenceLost)
		self->waitingForKey = true;
	gst_video_decoder_drop_frame(GST_VIDEO_DECODER(self), frame);
	return ret;
}

GstFlowReturn korvo_dec_handle_frame(GstVideoDecoder* decoder, GstVideoCodecFrame* frame)
{
	GstKorvoDec* self = GST_KORVO_DEC(decoder);
	KorvParams* params = self->params;
	if (!params) {
		gst_video_decoder_drop_frame(decoder, frame);
		return GST_FLOW_NOT_NEGOTIATED;
	}
	// Delta frames before the first key frame have no reference to predict from.
	if (self->waitingForKey && !GST_VIDEO_CODEC_FRAME_IS_SYNC_POINT(frame)) {
		GST_DEBUG_OBJECT(self, "dropping delta frame %u while waiting for a key frame",
		                 frame->system_frame_number);
		return gst_video_decoder_drop_frame(decoder, frame);
	}
	SendCodecTag(self);

	GstMapInfo chunk;
	if (!gst_buffer_map(frame->input_buffer, &chunk, GST_MAP_READ)) {
		gst_video_decoder_drop_frame(decoder, frame);
		GST_ELEMENT_ERROR(self, RESOURCE, READ, ("A Korvo frame could not be read."), (nullptr));
		return GST_FLOW_ERROR;
	}
	params->stream = chunk.data;
	params->streamSize = chunk.size < UINT32_MAX ? static_cast<uint32_t>(chunk.size) : UINT32_MAX;
	params->fullRefresh = 1;  // a new output buffer does not hold the previous picture
	GST_OBJECT_LOCK(self);
	params->threadCount = self->threads;
	GST_OBJECT_UNLOCK(self);

	// Late frames are still decoded (every frame is the next one's reference) but not converted.
	if (gst_video_decoder_get_max_decode_time(decoder, frame) < 0 && !self->waitingForKey) {
		const uint32_t pixelFormat = params->pixelFormat;
		params->pixelFormat = kPixelFormatNone;
		const int16_t status = DecompressPixMap(params);
		params->pixelFormat = pixelFormat;
		gst_buffer_unmap(frame->input_buffer, &chunk);
		if (status != kKorvoOK)
			return ReportDamage(self, frame, "the codec could not decode it", true);
		GST_DEBUG_OBJECT(self, "frame %u decoded late and dropped", frame->system_frame_number);
		return gst_video_decoder_drop_frame(decoder, frame);
	}

	GstFlowReturn ret = gst_video_decoder_allocate_output_frame(decoder, frame);
	if (ret != GST_FLOW_OK) {
		gst_buffer_unmap(frame->input_buffer, &chunk);
		gst_video_decoder_drop_frame(decoder, frame);
		return ret;
	}
	GstVideoCodecState* state = gst_video_decoder_get_output_state(decoder);
	GstVideoFrame out;
	const bool mapped = gst_video_frame_map(&out, &state->info, frame->output_buffer, GST_MAP_WRITE);
	gst_video_codec_state_unref(state);
	if (!mapped) {
		gst_buffer_unmap(frame->input_buffer, &chunk);
		gst_video_decoder_drop_frame(decoder, frame);
		GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("An output picture could not be mapped."), (nullptr));
		return GST_FLOW_ERROR;
	}
	const int16_t status = DecodeInto(self, &out);
	gst_video_frame_unmap(&out);
	gst_buffer_unmap(frame->input_buffer, &chunk);

	if (status != kKorvoOK)
		return ReportDamage(self, frame, "the codec could not decode it", true);
	if (params->streamBytes <= 0)
		return ReportDamage(self, frame, "no picture start code", false);
	if (self->waitingForKey) {
		if (params->vop->codingType != kCodingTypeI) {
			GST_DEBUG_OBJECT(self, "frame %u flagged as key is a P-VOP; dropped", frame->system_frame_number);
			return gst_video_decoder_drop_frame(decoder, frame);
		}
		self->waitingForKey = false;
	}
	return gst_video_decoder_finish_frame(decoder, frame);
}

void korvo_dec_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
	GstKorvoDec* self = GST_KORVO_DEC(object);
	if (id != PROP_THREADS) {
		G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
		return;
	}
	GST_OBJECT_LOCK(self);
	self->threads = g_value_get_uint(value);
	GST_OBJECT_UNLOCK(self);
}

void korvo_dec_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
	GstKorvoDec* self = GST_KORVO_DEC(object);
	if (id != PROP_THREADS) {
		G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
		return;
	}
	GST_OBJECT_LOCK(self);
	g_value_set_uint(value, self->threads);
	GST_OBJECT_UNLOCK(self);
}

void gst_korvo_dec_finalize(GObject* object)
{
	GstKorvoDec* self = GST_KORVO_DEC(object);
	delete self->scratch;
	G_OBJECT_CLASS(gst_korvo_dec_parent_class)->finalize(object);
}

}  // namespace

static void gst_korvo_dec_class_init(GstKorvoDecClass* klass)
{
	GST_DEBUG_CATEGORY_INIT(korvo_dec_debug, "korvodec", 0, "Korvo video decoder");
	GObjectClass* objectClass = G_OBJECT_CLASS(klass);
	objectClass->finalize = gst_korvo_dec_finalize;
	objectClass->set_property = korvo_dec_set_property;
	objectClass->get_property = korvo_dec_get_property;
	g_object_class_install_property(
	        objectClass, PROP_THREADS,
	        g_param_spec_uint("threads", "Threads",
	                          "Threads decoding each frame by rows (0 or 1: the streaming thread alone); the "
	                          "pictures are the same for any count",
	                          0, kMaxThreads, 0,
	                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
	                                                   GST_PARAM_MUTABLE_PLAYING)));

	GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
	gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
	gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
	gst_element_class_set_static_metadata(elementClass, "Korvo video decoder", "Codec/Decoder/Video",
	                                      "Decodes Korvo (krv1) video to I420, BGRx or YUY2",
	                                      "The Korvo developers");

	GstVideoDecoderClass* decoderClass = GST_VIDEO_DECODER_CLASS(klass);
	decoderClass->start = korvo_dec_start;
	decoderClass->stop = korvo_dec_stop;
	decoderClass->set_format = korvo_dec_set_format;
	decoderClass->flush = korvo_dec_flush;
	decoderClass->drain = korvo_dec_drain;
	decoderClass->handle_frame = korvo_dec_handle_frame;
}

static void gst_korvo_dec_init(GstKorvoDec* self)
{
	self->scratch = new std::vector<uint8_t>;
	GstVideoDecoder* decoder = GST_VIDEO_DECODER(self);
	// Every buffer from the demuxer is one whole frame.
	gst_video_decoder_set_packetized(decoder, TRUE);
	gst_video_decoder_set_use_default_pad_acceptcaps(decoder, TRUE);
	GST_PAD_SET_ACCEPT_TEMPLATE(GST_VIDEO_DECODER_SINK_PAD(decoder));
}
