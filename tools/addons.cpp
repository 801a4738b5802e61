// Loading the add-ons and choosing encoders among them.
#include "addons.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstring>

#include "MediaAddOns.h"
#include "MediaFormats.h"
#include "mediaconv.h"

std::string DefaultAddOnFolder()
{
	char self[PATH_MAX];
	ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	if (n <= 0)
		return "add-ons/media";
	self[n] = 0;
	std::string dir(self);
	dir = dir.substr(0, dir.find_last_of('/'));
	return dir + "/../add-ons/media";
}

void LoadAddOns(const Options& options)
{
	if (load_media_addons(options.addOns.c_str()) != B_OK)
		throw Failure(options.addOns, "add-on folder does not exist");
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

media_codec_info FindEncoder(const media_file_format& file, const media_format& input,
                             const std::string& name, const std::string& output)
{
	const std::string wanted = Simplified(name);
	int32 cookie = 0;
	media_codec_info info;
	media_format out;
	std::string seen;
	while (get_next_encoder(&cookie, &file, &input, &out, &info) == B_OK) {
		std::string names = Simplified(info.pretty_name) + " " + Simplified(info.short_name);
		if (wanted.empty() || names.find(wanted) != std::string::npos)
			return info;
		seen += std::string(seen.empty() ? "" : ", ") + info.short_name;
	}
	std::string what = std::string("no ") + (input.IsVideo() ? "video" : "audio") + " encoder";
	if (!name.empty())
		what += " named \"" + name + "\"";
	what += std::string(" writes ") + file.pretty_name + " files";
	if (!seen.empty())
		what += " (available: " + seen + ")";
	else
		what += " (is the add-on built? see 'mediaconv codecs')";
	throw Failure(output, what);
}
