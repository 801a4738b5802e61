// Test support for the add-ons: loading every add-on of the build tree through the host's loader,
// finding an entry point of one loaded add-on, a chunk writer that records what an encoder writes,
// temporary files and running command-line tools.
#pragma once

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Encoder.h"
#include "MediaAddOns.h"

namespace addon_test {

// Loads every add-on of the build tree once, so all formats are registered (each test runs in a
// process of its own, so every test that opens files through the host calls this).
inline void LoadAddOns()
{
	static const status_t loaded = load_media_addons(KORVO_ADDON_ROOT);
	EXPECT_EQ(loaded, B_OK);
}

// The entry point `symbol` of the loaded add-on file named `fileName`; null if it is not loaded.
inline void* AddOnEntry(const char* fileName, const char* symbol)
{
	LoadAddOns();
	std::vector<media_addon_info> addOns;
	get_media_addons(&addOns, nullptr);
	for (const media_addon_info& a : addOns) {
		const size_t slash = a.path.rfind('/');
		if (a.path.substr(slash == std::string::npos ? 0 : slash + 1) != fileName)
			continue;
		// Already opened by the loader: this only finds its handle.
		void* handle = dlopen(a.path.c_str(), RTLD_NOW | RTLD_NOLOAD);
		EXPECT_NE(handle, nullptr) << a.path;
		if (!handle)
			return nullptr;
		void* entry = dlsym(handle, symbol);
		dlclose(handle);
		return entry;
	}
	ADD_FAILURE() << fileName << " is not among the loaded add-ons";
	return nullptr;
}

template <typename F>
F Entry(const char* fileName, const char* symbol)
{
	return reinterpret_cast<F>(AddOnEntry(fileName, symbol));
}

// A file name in the test's temporary directory, unique to this process.
inline std::string TempPath(const char* name)
{
	return testing::TempDir() + "/korvo_" + std::to_string(getpid()) + "_" + name;
}

// Runs a shell command, returning its exit status and appending its standard output and error.
inline int RunCommand(const std::string& command, std::string* output)
{
	FILE* p = popen((command + " 2>&1").c_str(), "r");
	if (!p)
		return -1;
	char buffer[4096];
	size_t n;
	while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
		output->append(buffer, n);
	const int status = pclose(p);
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Chunk {
	std::vector<uint8_t> bytes;
	uint32_t flags;
	const media_encode_info* info;
	bool freshInfo;  // written with an info other than the caller's
};

// Records chunks, track records and copyrights; fails every call with `failWith` when that is set.
class RecordingWriter : public BPrivate::ChunkWriter {
public:
	status_t WriteChunk(const void* data, size_t size, media_encode_info* info) override
	{
		if (failWith != B_OK)
			return failWith;
		const uint8_t* p = static_cast<const uint8_t*>(data);
		chunks.push_back(
		        {std::vector<uint8_t>(p, p + size), info ? info->flags : 0, info, info != callerInfo});
		return B_OK;
	}
	status_t AddTrackInfo(uint32 code, const void* data, size_t size) override
	{
		if (failWith != B_OK)
			return failWith;
		const uint8_t* p = static_cast<const uint8_t*>(data);
		trackInfoCodes.push_back(code);
		trackInfos.emplace_back(p, p + size);
		return B_OK;
	}
	status_t AddCopyright(const char* text) override
	{
		if (failWith != B_OK)
			return failWith;
		copyrights.push_back(text);
		return B_OK;
	}

	std::vector<uint8_t> Concatenated() const
	{
		std::vector<uint8_t> all;
		for (const Chunk& c : chunks)
			all.insert(all.end(), c.bytes.begin(), c.bytes.end());
		return all;
	}

	std::vector<Chunk> chunks;
	std::vector<uint32_t> trackInfoCodes;
	std::vector<std::vector<uint8_t>> trackInfos;
	std::vector<std::string> copyrights;
	media_encode_info* callerInfo = nullptr;
	status_t failWith = B_OK;
};

}  // namespace addon_test
