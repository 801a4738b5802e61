// Registration of the plugin's elements: the decoder, the encoder and the movie writer.
#include "elements.h"

#include "korvo_dec.h"
#include "korvo_enc.h"
#include "korvo_mov_sink.h"

gboolean korvo_gst_register_elements(GstPlugin* plugin)
{
	// Primary rank: decodebin and playbin pick the decoder for Korvo tracks, encodebin the encoder.
	return gst_element_register(plugin, "korvodec", GST_RANK_PRIMARY, GST_TYPE_KORVO_DEC) &&
	       gst_element_register(plugin, "korvoenc", GST_RANK_PRIMARY, GST_TYPE_KORVO_ENC) &&
	       gst_element_register(plugin, "korvomovsink", GST_RANK_NONE, GST_TYPE_KORVO_MOV_SINK);
}
