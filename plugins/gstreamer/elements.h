// Registration of the plugin's elements, shared by the plugin entry point and the tests, which
// register the same elements statically.
#pragma once

#include <gst/gst.h>

#define KORVO_PLUGIN_DESCRIPTION "Korvo (krv1) video codec"

gboolean korvo_gst_register_elements(GstPlugin* plugin);
