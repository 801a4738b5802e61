// Host-internal view of the loaded add-ons: their entry points and what they registered, and the
// searches BMediaFile and BMediaTrack make among them (decoder for a format, encoder by codec info).
#pragma once

#include <string>
#include <vector>

#include "Decoder.h"
#include "Encoder.h"
#include "Extractor.h"
#include "MediaAddOns.h"
#include "MediaWriter.h"

namespace BPrivate::media {

struct LoadedAddOn {
	std::string path;
	media_addon_kind kind;
	void* handle = nullptr;
	instantiate_encoder_func instantiateEncoder = nullptr;
	instantiate_decoder_func instantiateDecoder = nullptr;
	instantiate_extractor_func instantiateExtractor = nullptr;
	instantiate_mediawriter_func instantiateWriter = nullptr;
	get_mediawriter_info_func writerInfo = nullptr;
	accepts_format_func acceptsFormat = nullptr;
	std::string version;  // from get_addon_version, "" without it
	std::vector<media_format> formats;
	std::vector<media_format_description> descriptions;
	// Filled on first use by QueryInfo.
	bool infoQueried = false;
	bool hasCodecInfo = false;
	media_codec_info codecInfo{};
	bool hasFileFormat = false;
	media_file_format fileFormat{};
};

// Loaded add-ons of one kind, in load order. The pointers live as long as the process.
std::vector<LoadedAddOn*> addons_of_kind(media_addon_kind kind);
// Makes a temporary instance (once) to learn the codec or file-format info.
void addon_query_info(LoadedAddOn* addOn);

// A decoder that Sniff accepts for `format`, with `provider` set; null if none. Only decoders that
// registered a format of the same type and encoding are asked. `which` gets the add-on; `refusal`
// gets B_NO_MEMORY when one that claims the format could not be made or set up for want of memory.
Decoder* find_decoder(const media_format& format, const void* info, size_t infoSize, ChunkProvider* provider,
                      LoadedAddOn** which, status_t* refusal = nullptr);

// The built-in decoder for PCM: encoded audio whose chunks already are its output raw format, and
// raw audio or video tracks.
Decoder* new_passthrough_decoder();

// Runs an encoder's SetFormat on copies; B_OK if it takes `input` for files of `file`'s family and
// produces the matching encoded kind (raw audio -> encoded audio, raw video -> encoded video).
status_t try_encoder_format(Encoder* encoder, const media_file_format& file, media_format* input,
                            media_format* output);

}  // namespace BPrivate::media
