// Replays the decoder fuzz target's inputs under the test build's sanitizers: its seeds, a packed
// coverage corpus from fuzzing runs, and any input that once failed (codec/tests/data/decompress/).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "../../fuzz/decompress_fuzz.cpp"

namespace {

const std::filesystem::path kSource = std::filesystem::path(__FILE__).parent_path();

std::vector<uint8_t> ReadFile(const std::filesystem::path& path)
{
	std::ifstream in(path, std::ios::binary);
	return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

size_t ReplayDirectory(const std::filesystem::path& dir)
{
	size_t count = 0;
	if (!std::filesystem::is_directory(dir))
		return 0;
	for (const auto& entry : std::filesystem::directory_iterator(dir)) {
		const std::vector<uint8_t> input = ReadFile(entry.path());
		SCOPED_TRACE(entry.path().string());
		EXPECT_EQ(LLVMFuzzerTestOneInput(input.data(), input.size()), 0);
		++count;
	}
	return count;
}

TEST(DecompressCorpus, SeedsAndRegressionInputsDecodeSafely)
{
	EXPECT_GT(ReplayDirectory(kSource / "../../fuzz/seeds/decompress_fuzz"), 0u);
	ReplayDirectory(kSource / "data/decompress");
}

// Records of a 32-bit big-endian length and the input's bytes.
TEST(DecompressCorpus, PackedCoverageCorpusDecodesSafely)
{
	const std::vector<uint8_t> packed = ReadFile(kSource / "data/decompress_corpus.bin");
	ASSERT_FALSE(packed.empty());
	size_t at = 0, count = 0;
	while (at + 4 <= packed.size()) {
		const size_t length = (size_t{packed[at]} << 24) | (size_t{packed[at + 1]} << 16) |
		                      (size_t{packed[at + 2]} << 8) | packed[at + 3];
		at += 4;
		ASSERT_LE(length, packed.size() - at);
		EXPECT_EQ(LLVMFuzzerTestOneInput(packed.data() + at, length), 0) << "input " << count;
		at += length;
		++count;
	}
	EXPECT_EQ(at, packed.size());
	EXPECT_GT(count, 100u);
}

}  // namespace
