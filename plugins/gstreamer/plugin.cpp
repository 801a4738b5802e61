// The entry point of libgstkorvo.so, the Korvo GStreamer plugin.
#include "elements.h"

#define PACKAGE "korvo"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, korvo, KORVO_PLUGIN_DESCRIPTION,
                  korvo_gst_register_elements, KORVO_PLUGIN_VERSION, "unknown", "Korvo",
                  "https://korvo.invalid/")
