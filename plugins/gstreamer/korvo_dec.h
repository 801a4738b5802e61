// korvodec: the GStreamer video decoder element for Korvo, one codec context per element.
#pragma once

#include <gst/video/gstvideodecoder.h>

G_BEGIN_DECLS

#define GST_TYPE_KORVO_DEC (gst_korvo_dec_get_type())
G_DECLARE_FINAL_TYPE(GstKorvoDec, gst_korvo_dec, GST, KORVO_DEC, GstVideoDecoder)

G_END_DECLS
