// The add-on loader on the test add-on directory: what is loaded and registered, what is skipped
// and why, loading twice, and the Media Kit enumerations over the result.
#include <gtest/gtest.h>

#include <algorithm>

#include "MediaFormats.h"
#include "host_test_support.h"

namespace {

const media_addon_info* Find(const std::vector<media_addon_info>& list, const std::string& name)
{
	for (const media_addon_info& a : list) {
		if (a.path.size() >= name.size() &&
		    a.path.compare(a.path.size() - name.size(), name.size(), name) == 0)
			return &a;
	}
	return nullptr;
}

TEST(AddOnLoader, LoadsEachKindAndSkipsWhatIsNotAnAddOn)
{
	LoadTestAddOns();
	std::vector<media_addon_info> loaded;
	std::vector<media_addon_failure> failed;
	get_media_addons(&loaded, &failed);

	const media_addon_info* encoder = Find(loaded, "/encoders/test.raw.encoder");
	ASSERT_NE(encoder, nullptr);
	EXPECT_EQ(encoder->kind, B_ENCODER_ADDON);
	ASSERT_TRUE(encoder->has_codec_info);
	EXPECT_STREQ(encoder->codec_info.short_name, "testraw");
	ASSERT_EQ(encoder->descriptions.size(), 1u);
	EXPECT_EQ(encoder->descriptions[0].u.quicktime.vendor, 0x4B52564Fu);
	ASSERT_EQ(encoder->formats.size(), 1u);
	EXPECT_NE(encoder->formats[0].Encoding(), 0);

	const media_addon_info* decoder = Find(loaded, "/decoders/test.raw.decoder");
	ASSERT_NE(decoder, nullptr);
	ASSERT_EQ(decoder->formats.size(), 1u);  // registered and handed back: listed once
	// Encoder (vendor 'KRVO') and decoder (no vendor) describe different names: distinct encodings.
	EXPECT_NE(decoder->formats[0].Encoding(), encoder->formats[0].Encoding());

	const media_addon_info* writer = Find(loaded, "/writers/test.pcm.writer");
	ASSERT_NE(writer, nullptr);
	ASSERT_TRUE(writer->has_file_format);
	EXPECT_STREQ(writer->file_format.short_name, "testpcm");
	const media_addon_info* extractor = Find(loaded, "/extractors/test.pcm.extractor");
	ASSERT_NE(extractor, nullptr);
	EXPECT_TRUE(extractor->has_file_format);
	EXPECT_EQ(loaded.size(), 4u);

	ASSERT_EQ(failed.size(), 2u);
	auto reason = [&](const std::string& suffix) -> std::string {
		for (const media_addon_failure& f : failed) {
			if (f.path.size() >= suffix.size() &&
			    f.path.compare(f.path.size() - suffix.size(), suffix.size(), suffix) == 0)
				return f.reason;
		}
		return "";
	};
	EXPECT_NE(reason("/encoders/README.txt").find("not a loadable library"), std::string::npos);
	EXPECT_EQ(reason("/decoders/test.no.entry"), "no instantiate_decoder entry point");
}

TEST(AddOnLoader, SecondLoadAndMissingDirectory)
{
	LoadTestAddOns();
	EXPECT_EQ(load_media_addons(TestAddOnDir()), B_OK);
	std::vector<media_addon_info> loaded;
	std::vector<media_addon_failure> failed;
	get_media_addons(&loaded, &failed);
	EXPECT_EQ(loaded.size(), 4u);
	EXPECT_EQ(failed.size(), 2u);
	EXPECT_EQ(load_media_addons("/nonexistent/add-ons"), B_ENTRY_NOT_FOUND);
	EXPECT_EQ(load_media_addons(nullptr), B_BAD_VALUE);
}

TEST(AddOnLoader, EnumeratesFileFormatsAndEncoders)
{
	LoadTestAddOns();
	std::vector<std::string> names;
	int32 cookie = 0;
	media_file_format mfi;
	while (get_next_file_format(&cookie, &mfi) == B_OK)
		names.push_back(mfi.short_name);
	// Built-in writers first (QuickTime heads the table), then the add-on writers.
	ASSERT_GE(names.size(), 2u);
	EXPECT_EQ(names.front(), "quicktime");
	EXPECT_EQ(names.back(), "testpcm");
	EXPECT_EQ(std::count(names.begin(), names.end(), "testpcm"), 1);

	media_file_format qt = FileFormat(B_QUICKTIME_FORMAT_FAMILY, "quicktime");
	media_format in = RawVideo(64, 32, 25), out;
	media_codec_info codec;
	cookie = 0;
	ASSERT_EQ(get_next_encoder(&cookie, &qt, &in, &out, &codec), B_OK);
	EXPECT_STREQ(codec.short_name, "testraw");
	EXPECT_EQ(out.type, B_MEDIA_ENCODED_VIDEO);
	EXPECT_EQ(out.u.encoded_video.output.display.line_width, 64u);
	EXPECT_EQ(get_next_encoder(&cookie, &qt, &in, &out, &codec), B_BAD_INDEX);

	// The test encoder writes QuickTime only.
	media_file_format misc = FileFormat(B_MISC_FORMAT_FAMILY, "testpcm");
	cookie = 0;
	EXPECT_EQ(get_next_encoder(&cookie, &misc, &in, &out, &codec), B_BAD_INDEX);
	// No conditions: every encoder.
	cookie = 0;
	EXPECT_EQ(get_next_encoder(&cookie, nullptr, nullptr, nullptr, &codec), B_OK);
}

}  // namespace
