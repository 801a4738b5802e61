// The add-on loader: load_media_addons opens every file in the encoders/, decoders/, extractors/ and
// writers/ folders of an add-on directory; get_media_addons lists what each offers and what failed.
#pragma once

#include <string>
#include <vector>

#include "MediaDefs.h"

// Entry points by folder (C linkage, looked up by name):
//   encoders/    register_encoder(), instantiate_encoder()
//   decoders/    register_decoder(media_format** formats, int32* count), instantiate_decoder()
//   extractors/  instantiate_extractor()
//   writers/     instantiate_mediawriter(), get_mediawriter_info(media_file_format*),
//                accepts_format(const media_format*)
// Any folder: const char* get_addon_version() names the version the add-on was built as (optional).
// instantiate_* is required (and get_mediawriter_info for writers); register_* is called once per
// add-on, right after all files are opened and before load_media_addons returns, so every format is
// registered before any extractor or writer is used.

typedef const char* (*get_addon_version_func)();

enum media_addon_kind { B_ENCODER_ADDON, B_DECODER_ADDON, B_EXTRACTOR_ADDON, B_WRITER_ADDON };

struct media_addon_info {
	std::string path;
	media_addon_kind kind;
	// Encoders and decoders: the codec info of an instance (has_codec_info false if none could be made).
	bool has_codec_info = false;
	media_codec_info codec_info{};
	// The formats the add-on registered with MakeFormatFor while register_* ran (for a decoder also
	// those it handed back), and their descriptions.
	std::vector<media_format> formats;
	std::vector<media_format_description> descriptions;
	// Extractors (GetFileFormatInfo of an instance) and writers (get_mediawriter_info).
	bool has_file_format = false;
	media_file_format file_format{};
	std::string version;  // what get_addon_version says, "" if the add-on has none
};

struct media_addon_failure {
	std::string path;
	std::string reason;  // "not a loadable library: ...", "no instantiate_encoder entry point", ...
};

// Loads the add-ons under `directory` (a folder holding encoders/, decoders/, ...; missing folders are
// fine). Files already loaded are not loaded again. A file that is not an add-on is skipped: it is
// listed among the failures and a line "korvohost: skipping <path>: <reason>" goes to standard error.
// B_ENTRY_NOT_FOUND if `directory` does not exist, else B_OK.
KORVO_HOST_API status_t load_media_addons(const char* directory);

// What is loaded, in load order (by kind, then file name), and the files that failed. Codec and
// file-format infos come from a temporary instance made on the first call for each add-on.
KORVO_HOST_API void get_media_addons(std::vector<media_addon_info>* loaded,
                                     std::vector<media_addon_failure>* failed);
