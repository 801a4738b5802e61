// The caps of a Korvo elementary stream (one VOP per buffer) as the elements and demuxers name it.
#pragma once

// qtdemux names the 'KRV1' sample entry by its code; the encoder names its output video/x-korvo.
// The core handles at most 1022 macroblocks across.
#define KORVO_STREAM_FIELDS "width = (int) [ 1, 16352 ], height = (int) [ 1, 2147483647 ]"
#define KORVO_STREAM_CAPS                                                                                    \
	"video/x-korvo, " KORVO_STREAM_FIELDS "; video/x-gst-fourcc-KRV1, " KORVO_STREAM_FIELDS

// The codec's name in tags, as players and gst-discoverer show it.
#define KORVO_CODEC_NAME "Korvo video (krv1)"
