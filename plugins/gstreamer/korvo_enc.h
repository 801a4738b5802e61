// korvoenc: the GStreamer video encoder element for Korvo, one codec context per element.
#pragma once

#include <gst/video/gstvideoencoder.h>

G_BEGIN_DECLS

#define GST_TYPE_KORVO_ENC (gst_korvo_enc_get_type())
G_DECLARE_FINAL_TYPE(GstKorvoEnc, gst_korvo_enc, GST, KORVO_ENC, GstVideoEncoder)

G_END_DECLS
