// `mediaconv codecs`: every add-on loaded with what it offers, the built-in containers, and every file
// that failed to load with the reason.
#include <cstdio>
#include <vector>

#include "ContainerTable.h"
#include "MediaAddOns.h"
#include "addons.h"
#include "console.h"
#include "describe.h"
#include "mediaconv.h"

namespace {

const char* KindTitle(media_addon_kind kind)
{
	switch (kind) {
		case B_ENCODER_ADDON: return "encoder";
		case B_DECODER_ADDON: return "decoder";
		case B_EXTRACTOR_ADDON: return "extractor";
		default: return "writer";
	}
}

std::string FileName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

void PrintFileFormat(FILE* out, const media_file_format& f)
{
	fprintf(out, "    file format: %s (%s, .%s, %s); %s\n", Field(f.pretty_name).c_str(),
	        Field(f.short_name).c_str(), Field(f.file_extension).c_str(), Field(f.mime_type).c_str(),
	        DescribeCapabilities(f.capabilities).c_str());
}

}  // namespace

void RunCodecs(const Options& options)
{
	std::vector<media_addon_info> loaded;
	std::vector<media_addon_failure> failed;
	get_media_addons(&loaded, &failed);
	FILE* out = Console::Out();
	fprintf(out, "Codecs for --codec (any case):\n");
	for (const CodecEntry& c : Codecs()) {
		std::string names;
		for (const std::string& n : c.names)
			names += (names.empty() ? "" : ", ") + n;
		fprintf(out, "  %-20s %s (%s)\n", names.c_str(), Field(c.info.pretty_name).c_str(),
		        c.video ? "video" : "audio");
	}
	fprintf(out, "Add-ons in %s: %zu loaded, %zu failed\n", options.addOns.c_str(), loaded.size(),
	        failed.size());
	for (const media_addon_info& a : loaded) {
		fprintf(out, "%-9s %s\n", KindTitle(a.kind), FileName(a.path).c_str());
		if (a.has_codec_info)
			fprintf(out, "    codec: %s (%s)\n", Field(a.codec_info.pretty_name).c_str(),
			        Field(a.codec_info.short_name).c_str());
		else if (a.kind == B_ENCODER_ADDON || a.kind == B_DECODER_ADDON)
			fprintf(out, "    codec: none (no instance could be made)\n");
		for (size_t i = 0; i < a.formats.size(); i++)
			fprintf(out, "    format: %s\n", DescribeFormat(a.formats[i]).c_str());
		for (const media_format_description& d : a.descriptions)
			fprintf(out, "    described as: %s\n", DescribeDescription(d).c_str());
		if (a.has_file_format)
			PrintFileFormat(out, a.file_format);
	}
	int32 count = 0;
	const BPrivate::media::builtin_writer* writers = BPrivate::media::builtin_writers(&count);
	for (int32 i = 0; i < count; i++) {
		media_file_format f{};
		fprintf(out, "built-in  %s writer\n", writers[i].name);
		if (writers[i].get_info(&f) == B_OK)
			PrintFileFormat(out, f);
	}
	const BPrivate::media::builtin_reader* readers = BPrivate::media::builtin_readers(&count);
	for (int32 i = 0; i < count; i++)
		fprintf(out, "built-in  %s reader\n", readers[i].name);
	for (const media_addon_failure& f : failed)
		fprintf(out, "failed    %s: %s\n", f.path.c_str(), f.reason.c_str());
}
