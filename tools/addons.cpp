// Loading the add-ons, naming their codecs and choosing encoders among them.
#include "addons.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

#include "MediaAddOns.h"
#include "MediaFormats.h"
#include "console.h"
#include "describe.h"
#include "mediaconv.h"

namespace {

bool IsFolder(const std::string& path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The words of a codec's short name ("Korvo Vela 3.5" -> korvo, vela; "G.723_3" -> g723) and the
// FourCC it is stored under in QuickTime movies.
std::vector<std::string> NamesOf(const media_addon_info& a)
{
	std::vector<std::string> names;
	auto add = [&](const std::string& name) {
		const std::string s = Simplified(name);
		if (!s.empty() && s.find_first_not_of("0123456789") != std::string::npos &&
		    std::find(names.begin(), names.end(), s) == names.end())
			names.push_back(s);
	};
	const std::string shortName = Field(a.codec_info.short_name);
	size_t start = 0;
	while (start < shortName.size()) {
		const size_t end = shortName.find_first_of(" _", start);
		add(shortName.substr(start, end == std::string::npos ? std::string::npos : end - start));
		start = end == std::string::npos ? shortName.size() : end + 1;
	}
	for (const media_format_description& d : a.descriptions) {
		if (d.family == B_QUICKTIME_FORMAT_FAMILY)
			add(FourCC(d.u.quicktime.codec));
	}
	return names;
}

std::string NameList(const std::vector<CodecEntry>& codecs)
{
	std::string list;
	for (const CodecEntry& c : codecs) {
		std::string names;
		for (const std::string& n : c.names)
			names += (names.empty() ? "" : "/") + n;
		if (!names.empty())
			list += (list.empty() ? "" : ", ") + names;
	}
	return list.empty() ? "none are loaded" : "choose " + list;
}

}  // namespace

std::string DefaultAddOnFolder()
{
	char self[PATH_MAX];
	ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	if (n <= 0)
		return "add-ons/media";
	self[n] = 0;
	std::string dir(self);
	dir = dir.substr(0, dir.find_last_of('/'));
	const std::string installed = dir + "/../lib/korvo/add-ons/media", built = dir + "/../add-ons/media";
	return IsFolder(installed) || !IsFolder(built) ? installed : built;
}

void LoadAddOns(const Options& options)
{
	if (load_media_addons(options.addOns.c_str()) != B_OK)
		throw Failure(options.addOns,
		              "add-on folder does not exist (name one with --addons DIR or MEDIACONV_ADDONS)");
}

std::string Simplified(const std::string& name)
{
	std::string out;
	for (char c : name) {
		if (isalnum((unsigned char)c))
			out.push_back((char)tolower((unsigned char)c));
	}
	return out;
}

std::vector<CodecEntry> Codecs()
{
	std::vector<media_addon_info> loaded;
	get_media_addons(&loaded, nullptr);
	std::vector<CodecEntry> codecs;
	for (const media_addon_info& a : loaded) {
		if (a.kind != B_ENCODER_ADDON || !a.has_codec_info)
			continue;
		const bool seen = std::any_of(codecs.begin(), codecs.end(), [&](const CodecEntry& c) {
			return Field(c.info.short_name) == Field(a.codec_info.short_name) &&
			       Field(c.info.pretty_name) == Field(a.codec_info.pretty_name);
		});
		if (seen)
			continue;
		CodecEntry c;
		c.info = a.codec_info;
		c.names = NamesOf(a);
		c.video = std::any_of(a.formats.begin(), a.formats.end(),
		                      [](const media_format& f) { return f.IsVideo(); });
		codecs.push_back(c);
	}
	return codecs;
}

CodecEntry CodecNamed(const std::string& name)
{
	const std::string wanted = Simplified(name);
	const std::vector<CodecEntry> codecs = Codecs();
	for (const CodecEntry& c : codecs) {
		if (std::find(c.names.begin(), c.names.end(), wanted) != c.names.end() ||
		    wanted == Simplified(c.info.short_name) || wanted == Simplified(c.info.pretty_name))
			return c;
	}
	throw UsageFailure("--codec " + name + ": no such codec; " + NameList(codecs) +
	                   " (see 'mediaconv codecs')");
}

media_codec_info FindEncoder(const media_file_format& file, const media_format& input,
                             const std::string& name, const std::string& output)
{
	const std::string wanted = name.empty() ? "" : Field(CodecNamed(name).info.short_name);
	int32 cookie = 0;
	media_codec_info info;
	media_format out;
	while (get_next_encoder(&cookie, &file, &input, &out, &info) == B_OK) {
		if (wanted.empty() || Field(info.short_name) == wanted)
			return info;
	}
	const std::string what = input.IsVideo() ? "video" : "audio";
	if (!name.empty())
		throw UsageFailure("--codec " + name + ": " + wanted + " does not write " + what + " into " +
		                   file.pretty_name + " files");
	throw Failure(output, "no " + what + " encoder writes " + file.pretty_name +
	                              " files (is the add-on built? see 'mediaconv codecs')");
}

void PrintVersions(const Options& options)
{
	FILE* out = Console::Out();
	fprintf(out, "mediaconv %s\n", KORVO_VERSION);
	if (load_media_addons(options.addOns.c_str()) != B_OK) {
		fprintf(out, "add-ons: none, %s does not exist\n", options.addOns.c_str());
		return;
	}
	std::vector<media_addon_info> loaded;
	get_media_addons(&loaded, nullptr);
	fprintf(out, "add-ons in %s:\n", options.addOns.c_str());
	for (const media_addon_info& a : loaded) {
		const std::string file = a.path.substr(a.path.find_last_of('/', a.path.find_last_of('/') - 1) + 1);
		const std::string what = a.has_codec_info    ? Field(a.codec_info.short_name)
		                         : a.has_file_format ? Field(a.file_format.pretty_name)
		                                             : "";
		fprintf(out, "  %-32s %-10s %s\n", file.c_str(), a.version.empty() ? "unknown" : a.version.c_str(),
		        what.c_str());
	}
}
