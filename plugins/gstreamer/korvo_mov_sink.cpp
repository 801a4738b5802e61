// korvomovsink: writes a Korvo stream into a QuickTime movie through the host's movie writer, one
// chunk per buffer, buffers without the delta-unit flag stored as key frames. GStreamer's qtmux takes
// only the codecs it knows, so this is the way from korvoenc to a .mov that qtdemux and mediaconv read.
#include "korvo_mov_sink.h"

#include <cstring>
#include <string>

#include "MediaFile.h"
#include "MediaFormats.h"
#include "MediaTrack.h"
#include "stream_caps.h"

GST_DEBUG_CATEGORY_STATIC(korvo_mov_sink_debug);
#define GST_CAT_DEFAULT korvo_mov_sink_debug

namespace {

enum { PROP_0, PROP_LOCATION };

}  // namespace

struct _GstKorvoMovSink {
	GstBaseSink parent;

	char* location;  // under the object lock
	BMediaFile* file;
	BMediaTrack* track;
	int width, height;
};

G_DEFINE_TYPE(GstKorvoMovSink, gst_korvo_mov_sink, GST_TYPE_BASE_SINK)

namespace {

GstStaticPadTemplate sinkTemplate =
        GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                                GST_STATIC_CAPS("video/x-korvo, " KORVO_STREAM_FIELDS
                                                ", framerate = (fraction) [ 1/2147483647, MAX ]; "
                                                "video/x-gst-fourcc-KRV1, " KORVO_STREAM_FIELDS
                                                ", framerate = (fraction) [ 1/2147483647, MAX ]"));

// Finishes the movie; false (with an element error) when the writer could not.
bool FinishMovie(GstKorvoMovSink* self)
{
	if (!self->file)
		return true;
	const status_t status = self->file->CloseFile();
	const std::string error = self->file->ErrorText();
	delete self->file;
	self->file = nullptr;
	self->track = nullptr;
	if (status != B_OK) {
		GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("The movie could not be finished: %s", error.c_str()),
		                  (nullptr));
		return false;
	}
	return true;
}

gboolean korvo_mov_sink_start(GstBaseSink* sink)
{
	GstKorvoMovSink* self = GST_KORVO_MOV_SINK(sink);
	GST_OBJECT_LOCK(self);
	const bool named = self->location && *self->location;
	GST_OBJECT_UNLOCK(self);
	if (!named) {
		GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("No file name given (the location property)."),
		                  (nullptr));
		return FALSE;
	}
	return TRUE;
}

gboolean korvo_mov_sink_stop(GstBaseSink* sink) { return FinishMovie(GST_KORVO_MOV_SINK(sink)); }

// The movie and its one video track are made with the first caps, which give the size and the rate.
gboolean korvo_mov_sink_set_caps(GstBaseSink* sink, GstCaps* caps)
{
	GstKorvoMovSink* self = GST_KORVO_MOV_SINK(sink);
	const GstStructure* s = gst_caps_get_structure(caps, 0);
	int width = 0, height = 0, rateNum = 0, rateDen = 1;
	if (!gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height) ||
	    !gst_structure_get_fraction(s, "framerate", &rateNum, &rateDen) || rateNum <= 0 || rateDen <= 0) {
		GST_ELEMENT_ERROR(self, STREAM, FORMAT,
		                  ("A movie track needs a picture size and a fixed frame rate."),
		                  ("caps %" GST_PTR_FORMAT, caps));
		return FALSE;
	}
	if (self->file) {
		if (width == self->width && height == self->height)
			return TRUE;
		GST_ELEMENT_ERROR(self, STREAM, FORMAT,
		                  ("The picture size changed from %dx%d to %dx%d within one movie.", self->width,
		                   self->height, width, height),
		                  (nullptr));
		return FALSE;
	}

	GST_OBJECT_LOCK(self);
	std::string path = self->location ? self->location : "";
	GST_OBJECT_UNLOCK(self);
	media_file_format mfi{};
	mfi.family = B_QUICKTIME_FORMAT_FAMILY;
	strncpy(mfi.short_name, "quicktime", sizeof(mfi.short_name) - 1);
	self->file = new BMediaFile(path.c_str(), &mfi);
	if (self->file->InitCheck() != B_OK) {
		GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE, ("%s", self->file->ErrorText()), (nullptr));
		delete self->file;
		self->file = nullptr;
		return FALSE;
	}

	media_format_description description;
	description.family = B_QUICKTIME_FORMAT_FAMILY;
	description.u.quicktime.codec = 'KRV1';
	description.u.quicktime.vendor = 0;
	media_format format;
	format.type = B_MEDIA_ENCODED_VIDEO;
	BMediaFormats formats;
	status_t status = formats.MakeFormatFor(&description, 1, &format);
	format.u.encoded_video.output.field_rate = static_cast<float>(static_cast<double>(rateNum) / rateDen);
	format.u.encoded_video.output.display.line_width = static_cast<uint32>(width);
	format.u.encoded_video.output.display.line_count = static_cast<uint32>(height);
	if (status == B_OK)
		self->track = self->file->CreateTrack(&format);
	if (!self->track) {
		GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE,
		                  ("The movie track could not be made: %s", self->file->ErrorText()), (nullptr));
		delete self->file;
		self->file = nullptr;
		return FALSE;
	}
	self->width = width;
	self->height = height;
	return TRUE;
}

GstFlowReturn korvo_mov_sink_render(GstBaseSink* sink, GstBuffer* buffer)
{
	GstKorvoMovSink* self = GST_KORVO_MOV_SINK(sink);
	if (!self->track)
		return GST_FLOW_NOT_NEGOTIATED;
	GstMapInfo chunk;
	if (!gst_buffer_map(buffer, &chunk, GST_MAP_READ)) {
		GST_ELEMENT_ERROR(self, RESOURCE, READ, ("A Korvo frame could not be read."), (nullptr));
		return GST_FLOW_ERROR;
	}
	const uint32 flags = GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT) ? 0 : B_MEDIA_KEY_FRAME;
	const status_t status = self->track->WriteChunk(chunk.data, chunk.size, flags);
	gst_buffer_unmap(buffer, &chunk);
	if (status != B_OK) {
		GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("%s", self->track->ErrorText()), (nullptr));
		return GST_FLOW_ERROR;
	}
	return GST_FLOW_OK;
}

// The movie is whole when the end-of-stream message goes out, not only when the pipeline stops.
gboolean korvo_mov_sink_event(GstBaseSink* sink, GstEvent* event)
{
	GstKorvoMovSink* self = GST_KORVO_MOV_SINK(sink);
	if (GST_EVENT_TYPE(event) == GST_EVENT_EOS && !FinishMovie(self)) {
		gst_event_unref(event);
		return FALSE;
	}
	return GST_BASE_SINK_CLASS(gst_korvo_mov_sink_parent_class)->event(sink, event);
}

void korvo_mov_sink_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
	GstKorvoMovSink* self = GST_KORVO_MOV_SINK(object);
	if (id != PROP_LOCATION) {
		G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
		return;
	}
	GST_OBJECT_LOCK(self);
	g_free(self->location);
	self->location = g_value_dup_string(value);
	GST_OBJECT_UNLOCK(self);
}

void korvo_mov_sink_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
	GstKorvoMovSink* self = GST_KORVO_MOV_SINK(object);
	if (id != PROP_LOCATION) {
		G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
		return;
	}
	GST_OBJECT_LOCK(self);
	g_value_set_string(value, self->location);
	GST_OBJECT_UNLOCK(self);
}

void gst_korvo_mov_sink_finalize(GObject* object)
{
	GstKorvoMovSink* self = GST_KORVO_MOV_SINK(object);
	delete self->file;
	g_free(self->location);
	G_OBJECT_CLASS(gst_korvo_mov_sink_parent_class)->finalize(object);
}

}  // namespace

static void gst_korvo_mov_sink_class_init(GstKorvoMovSinkClass* klass)
{
	GST_DEBUG_CATEGORY_INIT(korvo_mov_sink_debug, "korvomovsink", 0, "Korvo QuickTime movie writer");
	GObjectClass* objectClass = G_OBJECT_CLASS(klass);
	objectClass->set_property = korvo_mov_sink_set_property;
	objectClass->get_property = korvo_mov_sink_get_property;
	objectClass->finalize = gst_korvo_mov_sink_finalize;
	g_object_class_install_property(
	        objectClass, PROP_LOCATION,
	        g_param_spec_string("location", "File location", "The QuickTime movie (.mov) to write", nullptr,
	                            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
	                                                     GST_PARAM_MUTABLE_READY)));

	GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
	gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
	gst_element_class_set_static_metadata(
	        elementClass, "Korvo QuickTime movie writer", "Sink/File",
	        "Writes a Korvo video stream as a QuickTime movie with one video track", "The Korvo developers");

	GstBaseSinkClass* sinkClass = GST_BASE_SINK_CLASS(klass);
	sinkClass->start = korvo_mov_sink_start;
	sinkClass->stop = korvo_mov_sink_stop;
	sinkClass->set_caps = korvo_mov_sink_set_caps;
	sinkClass->render = korvo_mov_sink_render;
	sinkClass->event = korvo_mov_sink_event;
}

static void gst_korvo_mov_sink_init(GstKorvoMovSink* self)
{
	// A file writer: no clock to wait on.
	gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
}
