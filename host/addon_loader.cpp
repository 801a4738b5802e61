// The add-on loader: dlopen of every file in the four add-on folders, entry-point lookup, one
// register_* call per codec add-on, and the listings and searches over what was loaded.
#include <algorithm>
#include <memory>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <mutex>
#include <sys/stat.h>

#include "MediaFormats.h"
#include "addon_registry.h"
#include "formats_registry.h"

namespace BPrivate::media {

namespace {

struct LoaderState {
	std::recursive_mutex lock;
	std::vector<LoadedAddOn*> addOns;
	std::vector<media_addon_failure> failures;
	std::vector<std::string> seenPaths;  // real paths tried, loaded or not
};

LoaderState& State()
{
	static LoaderState* state = new LoaderState;  // add-ons stay loaded for the whole process
	return *state;
}

struct Folder {
	const char* name;
	media_addon_kind kind;
};

const Folder kFolders[] = {
        {"encoders", B_ENCODER_ADDON},
        {"decoders", B_DECODER_ADDON},
        {"extractors", B_EXTRACTOR_ADDON},
        {"writers", B_WRITER_ADDON},
};

// Regular files of `dir` (symbolic links followed), sorted by name; hidden files skipped.
std::vector<std::string> ListFiles(const std::string& dir)
{
	std::vector<std::string> files;
	// Closed on every way out, also when an allocation fails on the way.
	std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(dir.c_str()), closedir);
	DIR* d = folder.get();
	if (!d)
		return files;
	while (dirent* e = readdir(d)) {
		if (e->d_name[0] == '.')
			continue;
		std::string path = dir + "/" + e->d_name;
		struct stat st;
		if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
			files.push_back(path);
	}
	std::sort(files.begin(), files.end());
	return files;
}

void Fail(LoaderState& s, const std::string& path, const std::string& reason)
{
	s.failures.push_back({path, reason});
	fprintf(stderr, "korvohost: skipping %s: %s\n", path.c_str(), reason.c_str());
}

template <typename T>
bool Lookup(void* handle, const char* name, T* out)
{
	*out = reinterpret_cast<T>(dlsym(handle, name));
	return *out != nullptr;
}

// Opens one file and finds its entry points; null (with a failure listed) if it is not an add-on
// of this kind.
std::unique_ptr<LoadedAddOn> Open(LoaderState& s, const std::string& path, media_addon_kind kind)
{
	dlerror();
	void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
	// The loader fails for want of memory as it fails for a file that is no library, and its text
	// does not always say which: a second try tells a passing shortage from a file that cannot load.
	if (!handle)
		handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
	if (!handle) {
		const char* why = dlerror();
		Fail(s, path, std::string("not a loadable library: ") + (why ? why : "unknown error"));
		return nullptr;
	}
	auto a = std::make_unique<LoadedAddOn>();
	a->path = path;
	a->kind = kind;
	a->handle = handle;
	const char* missing = nullptr;
	switch (kind) {
		case B_ENCODER_ADDON:
			if (!Lookup(handle, "instantiate_encoder", &a->instantiateEncoder))
				missing = "instantiate_encoder";
			break;
		case B_DECODER_ADDON:
			if (!Lookup(handle, "instantiate_decoder", &a->instantiateDecoder))
				missing = "instantiate_decoder";
			break;
		case B_EXTRACTOR_ADDON:
			if (!Lookup(handle, "instantiate_extractor", &a->instantiateExtractor))
				missing = "instantiate_extractor";
			break;
		case B_WRITER_ADDON:
			if (!Lookup(handle, "instantiate_mediawriter", &a->instantiateWriter))
				missing = "instantiate_mediawriter";
			else if (!Lookup(handle, "get_mediawriter_info", &a->writerInfo))
				missing = "get_mediawriter_info";
			Lookup(handle, "accepts_format", &a->acceptsFormat);
			break;
	}
	get_addon_version_func version;
	if (Lookup(handle, "get_addon_version", &version) && version())
		a->version = version();
	if (missing) {
		Fail(s, path, std::string("no ") + missing + " entry point");
		dlclose(handle);
		return nullptr;
	}
	return a;
}

// Calls the add-on's register_* once, noting the formats it makes.
void Register(LoadedAddOn* a)
{
	BMediaFormats formats;
	formats.Lock();
	formats_set_capture(&a->formats, &a->descriptions);
	if (a->kind == B_ENCODER_ADDON) {
		register_encoder_func reg;
		if (Lookup(a->handle, "register_encoder", &reg))
			reg();
	} else if (a->kind == B_DECODER_ADDON) {
		register_decoder_func reg;
		if (Lookup(a->handle, "register_decoder", &reg)) {
			media_format* list = nullptr;
			int32 count = 0;
			reg(&list, &count);
			for (int32 i = 0; list && i < count && i < 1024; i++) {
				bool known = std::any_of(a->formats.begin(), a->formats.end(),
				                         [&](const media_format& f) { return f.Matches(list[i]); });
				if (!known)
					a->formats.push_back(list[i]);
			}
		}
	}
	formats_set_capture(nullptr, nullptr);
	formats.Unlock();
}

}  // namespace

std::vector<LoadedAddOn*> addons_of_kind(media_addon_kind kind)
{
	LoaderState& s = State();
	std::lock_guard<std::recursive_mutex> guard(s.lock);
	std::vector<LoadedAddOn*> out;
	for (LoadedAddOn* a : s.addOns) {
		if (a->kind == kind)
			out.push_back(a);
	}
	return out;
}

void addon_query_info(LoadedAddOn* a)
{
	std::lock_guard<std::recursive_mutex> guard(State().lock);
	if (a->infoQueried)
		return;
	a->infoQueried = true;
	switch (a->kind) {
		case B_ENCODER_ADDON:
			if (Encoder* e = a->instantiateEncoder()) {
				a->hasCodecInfo = e->GetCodecInfo(&a->codecInfo) == B_OK;
				delete e;
			}
			break;
		case B_DECODER_ADDON:
			if (Decoder* d = a->instantiateDecoder()) {
				a->hasCodecInfo = d->GetCodecInfo(&a->codecInfo) == B_OK;
				delete d;
			}
			break;
		case B_EXTRACTOR_ADDON:
			if (Extractor* x = a->instantiateExtractor()) {
				a->hasFileFormat = x->GetFileFormatInfo(&a->fileFormat) == B_OK;
				delete x;
			}
			break;
		case B_WRITER_ADDON: a->hasFileFormat = a->writerInfo(&a->fileFormat) == B_OK; break;
	}
	a->codecInfo.pretty_name[sizeof(a->codecInfo.pretty_name) - 1] = 0;
	a->codecInfo.short_name[sizeof(a->codecInfo.short_name) - 1] = 0;
}

Decoder* find_decoder(const media_format& format, const void* info, size_t infoSize, ChunkProvider* provider,
                      LoadedAddOn** which, status_t* refusal)
{
	// A decoder that claims the format but could not be made or set up says why (out of memory).
	auto refuse = [refusal](status_t why) {
		if (refusal && *refusal == B_OK)
			*refusal = why;
	};
	for (LoadedAddOn* a : addons_of_kind(B_DECODER_ADDON)) {
		bool claims = std::any_of(a->formats.begin(), a->formats.end(),
		                          [&](const media_format& f) { return f.Matches(format); });
		if (!claims)
			continue;
		Decoder* d = a->instantiateDecoder();
		if (!d) {
			refuse(B_NO_MEMORY);
			continue;
		}
		d->SetChunkProvider(provider);
		const status_t status = d->Sniff(&format, info, infoSize);
		if (status == B_OK) {
			if (which)
				*which = a;
			return d;
		}
		if (status == B_NO_MEMORY)
			refuse(status);
		delete d;
	}
	return nullptr;
}

status_t try_encoder_format(Encoder* encoder, const media_file_format& file, media_format* input,
                            media_format* output)
{
	media_file_format f = file;
	media_format in = *input;
	media_format out;
	status_t status = encoder->SetFormat(&f, &in, &out);
	if (status != B_OK)
		return status;
	if (file.family != B_ANY_FORMAT_FAMILY && f.family != file.family)
		return B_MEDIA_BAD_FORMAT;
	bool audio = input->type == B_MEDIA_RAW_AUDIO && in.type == B_MEDIA_RAW_AUDIO &&
	             out.type == B_MEDIA_ENCODED_AUDIO;
	bool video = input->type == B_MEDIA_RAW_VIDEO && in.type == B_MEDIA_RAW_VIDEO &&
	             out.type == B_MEDIA_ENCODED_VIDEO;
	if (!audio && !video)
		return B_MEDIA_BAD_FORMAT;
	*input = in;
	*output = out;
	return B_OK;
}

}  // namespace BPrivate::media

using namespace BPrivate::media;

status_t load_media_addons(const char* directory)
{
	if (!directory)
		return B_BAD_VALUE;
	struct stat st;
	if (stat(directory, &st) != 0 || !S_ISDIR(st.st_mode))
		return B_ENTRY_NOT_FOUND;
	LoaderState& s = State();
	std::lock_guard<std::recursive_mutex> guard(s.lock);
	// Owned here until they are listed, so a failure half-way (out of memory) loses none of them.
	std::vector<std::unique_ptr<LoadedAddOn>> opened;
	for (const Folder& folder : kFolders) {
		for (const std::string& path : ListFiles(std::string(directory) + "/" + folder.name)) {
			char real[PATH_MAX];
			std::string key = realpath(path.c_str(), real) ? real : path;
			if (std::find(s.seenPaths.begin(), s.seenPaths.end(), key) != s.seenPaths.end())
				continue;
			s.seenPaths.push_back(key);
			if (std::unique_ptr<LoadedAddOn> a = Open(s, path, folder.kind))
				opened.push_back(std::move(a));
		}
	}
	// Every format is registered before anything else of the new add-ons is used.
	for (const std::unique_ptr<LoadedAddOn>& a : opened)
		Register(a.get());
	s.addOns.reserve(s.addOns.size() + opened.size());
	for (std::unique_ptr<LoadedAddOn>& a : opened)
		s.addOns.push_back(a.release());
	return B_OK;
}

void get_media_addons(std::vector<media_addon_info>* loaded, std::vector<media_addon_failure>* failed)
{
	LoaderState& s = State();
	std::lock_guard<std::recursive_mutex> guard(s.lock);
	if (loaded) {
		loaded->clear();
		for (const Folder& folder : kFolders) {
			for (LoadedAddOn* a : addons_of_kind(folder.kind)) {
				addon_query_info(a);
				media_addon_info info;
				info.path = a->path;
				info.kind = a->kind;
				info.has_codec_info = a->hasCodecInfo;
				info.codec_info = a->codecInfo;
				info.formats = a->formats;
				info.descriptions = a->descriptions;
				info.has_file_format = a->hasFileFormat;
				info.file_format = a->fileFormat;
				info.version = a->version;
				loaded->push_back(info);
			}
		}
	}
	if (failed)
		*failed = s.failures;
}
