// korvomovsink: writes a Korvo stream into a QuickTime movie through the host's movie writer.
#pragma once

#include <gst/base/gstbasesink.h>

G_BEGIN_DECLS

#define GST_TYPE_KORVO_MOV_SINK (gst_korvo_mov_sink_get_type())
G_DECLARE_FINAL_TYPE(GstKorvoMovSink, gst_korvo_mov_sink, GST, KORVO_MOV_SINK, GstBaseSink)

G_END_DECLS
