// Replays fuzz inputs through a target's LLVMFuzzerTestOneInput in an ordinary build, so the suite
// runs every kept corpus, seed and regression input under its sanitizers. Arguments are folders (one
// input per file) or packed corpora (*.corpus: records of a 32-bit big-endian length and the bytes).
// `--pack OUT FOLDER` packs the files of a folder (a minimised corpus) into OUT instead.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<uint8_t> ReadAll(const std::filesystem::path& path)
{
	std::ifstream in(path, std::ios::binary);
	return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Runs one input; the target traps (or a sanitizer stops the process) on a failure.
void Run(const uint8_t* data, size_t size, size_t* count)
{
	// A copy of exactly the input's size, so reads past its end are caught as in the fuzzer.
	std::vector<uint8_t> copy(data, data + size);
	LLVMFuzzerTestOneInput(copy.data(), copy.size());
	++*count;
}

bool ReplayPacked(const std::filesystem::path& path, size_t* count)
{
	const std::vector<uint8_t> packed = ReadAll(path);
	size_t at = 0;
	while (at + 4 <= packed.size()) {
		const size_t length = (size_t{packed[at]} << 24) | (size_t{packed[at + 1]} << 16) |
		                      (size_t{packed[at + 2]} << 8) | packed[at + 3];
		at += 4;
		if (length > packed.size() - at)
			return false;
		Run(packed.data() + at, length, count);
		at += length;
	}
	return at == packed.size();
}

// Packs every file of `folder`, in name order so the result does not depend on the file system.
int Pack(const char* out, const char* folder)
{
	std::vector<std::filesystem::path> names;
	for (const auto& entry : std::filesystem::directory_iterator(folder))
		if (entry.is_regular_file())
			names.push_back(entry.path());
	std::sort(names.begin(), names.end());
	std::ofstream packed(out, std::ios::binary);
	for (const auto& name : names) {
		const std::vector<uint8_t> input = ReadAll(name);
		const uint32_t n = uint32_t(input.size());
		const char length[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
		packed.write(length, 4);
		packed.write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size()));
	}
	printf("%zu inputs packed into %s\n", names.size(), out);
	return packed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
	if (argc == 4 && std::string(argv[1]) == "--pack")
		return Pack(argv[2], argv[3]);
	if (LLVMFuzzerInitialize)
		LLVMFuzzerInitialize(&argc, &argv);
	size_t count = 0, failed = 0;
	for (int i = 1; i < argc; i++) {
		const std::filesystem::path path = argv[i];
		std::error_code error;
		if (std::filesystem::is_directory(path, error)) {
			for (const auto& entry : std::filesystem::directory_iterator(path)) {
				if (entry.is_regular_file()) {
					const std::vector<uint8_t> input = ReadAll(entry.path());
					Run(input.data(), input.size(), &count);
				}
			}
		} else if (path.extension() == ".corpus" && std::filesystem::is_regular_file(path, error)) {
			if (!ReplayPacked(path, &count)) {
				fprintf(stderr, "%s: damaged packed corpus\n", argv[i]);
				failed++;
			}
		}
	}
	// An empty run means the inputs went missing, which is a failure of its own.
	if (count == 0)
		failed++;
	printf("%zu passed, %zu failed\n", count, failed);
	return failed ? 1 : 0;
}
