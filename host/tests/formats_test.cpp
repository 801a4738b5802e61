// BMediaFormats: encodings per distinct description, lookups both ways, and the refusals; plus the
// record layout the add-ons rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "MediaFormats.h"

namespace {

media_format_description Misc(uint32 fileFormat, uint32 codec)
{
	media_format_description d;
	d.family = B_MISC_FORMAT_FAMILY;
	d.u.misc.file_format = fileFormat;
	d.u.misc.codec = codec;
	return d;
}

media_format Encoded(media_type type)
{
	media_format f;
	f.type = type;
	return f;
}

TEST(MediaFormats, EachDistinctDescriptionGetsItsOwnEncoding)
{
	BMediaFormats formats;
	media_format a = Encoded(B_MEDIA_ENCODED_AUDIO), b = a, again = a;
	media_format_description da = Misc(0x61616161, 1), db = Misc(0x61616161, 2);
	ASSERT_EQ(formats.MakeFormatFor(&da, 1, &a), B_OK);
	ASSERT_EQ(formats.MakeFormatFor(&db, 1, &b), B_OK);
	ASSERT_EQ(formats.MakeFormatFor(&da, 1, &again), B_OK);
	EXPECT_NE(a.u.encoded_audio.encoding, 0);
	EXPECT_NE(b.u.encoded_audio.encoding, 0);
	EXPECT_NE(a.u.encoded_audio.encoding, b.u.encoded_audio.encoding);
	EXPECT_EQ(again.u.encoded_audio.encoding, a.u.encoded_audio.encoding);

	media_format found;
	ASSERT_EQ(formats.GetFormatFor(db, &found), B_OK);
	EXPECT_EQ(found.type, B_MEDIA_ENCODED_AUDIO);
	EXPECT_EQ(found.u.encoded_audio.encoding, b.u.encoded_audio.encoding);
	media_format_description back;
	ASSERT_EQ(formats.GetCodeFor(b, B_MISC_FORMAT_FAMILY, &back), B_OK);
	EXPECT_TRUE(back == db);
	EXPECT_EQ(formats.GetCodeFor(b, B_WAV_FORMAT_FAMILY, &back), B_MEDIA_BAD_FORMAT);
	EXPECT_EQ(formats.GetFormatFor(Misc(0x61616161, 3), &found), B_MEDIA_BAD_FORMAT);
}

TEST(MediaFormats, OneFormatUnderSeveralFamilies)
{
	BMediaFormats formats;
	media_format_description two[2];
	two[0].family = B_WAV_FORMAT_FAMILY;
	two[0].u.wav.codec = 0x1234;
	two[1].family = B_AVI_FORMAT_FAMILY;
	two[1].u.avi.codec = 0x31323334;
	media_format f = Encoded(B_MEDIA_ENCODED_AUDIO);
	ASSERT_TRUE(formats.Lock());
	ASSERT_EQ(formats.MakeFormatFor(two, 2, &f), B_OK);
	media_format_description avi;
	ASSERT_EQ(formats.GetCodeFor(f, B_AVI_FORMAT_FAMILY, &avi), B_OK);
	formats.Unlock();
	EXPECT_EQ(avi.u.avi.codec, 0x31323334u);
}

TEST(MediaFormats, Refusals)
{
	BMediaFormats formats;
	media_format_description d = Misc(0x62626262, 1);
	media_format raw = Encoded(B_MEDIA_RAW_AUDIO);
	EXPECT_EQ(formats.MakeFormatFor(&d, 1, &raw), B_BAD_TYPE);
	media_format video = Encoded(B_MEDIA_ENCODED_VIDEO), audio = Encoded(B_MEDIA_ENCODED_AUDIO);
	ASSERT_EQ(formats.MakeFormatFor(&d, 1, &video), B_OK);
	EXPECT_EQ(formats.MakeFormatFor(&d, 1, &audio), B_MISMATCHED_VALUES);
	EXPECT_EQ(formats.MakeFormatFor(&d, 0, &audio), B_BAD_VALUE);
	media_format_description out;
	EXPECT_EQ(formats.GetCodeFor(Encoded(B_MEDIA_ENCODED_VIDEO), B_MISC_FORMAT_FAMILY, &out),
	          B_MEDIA_BAD_FORMAT);  // encoding 0 is the wildcard, never a registered format
}

TEST(MediaDefs, RecordsKeepThePlatformLayout)
{
	EXPECT_EQ(sizeof(media_format), 192u);
	media_format f;
	EXPECT_EQ(reinterpret_cast<const char*>(&f.u) - reinterpret_cast<const char*>(&f), 64);
	f.type = B_MEDIA_ENCODED_VIDEO;
	f.u.encoded_video.encoding = 7;
	EXPECT_EQ(f.Encoding(), 7);
	EXPECT_TRUE(f.IsVideo());
	EXPECT_FALSE(f.IsAudio());
	media_encode_info info;
	EXPECT_EQ(info.flags, 0u);
	EXPECT_EQ((uint32)B_NO_INIT, 0x8000000Du);
	EXPECT_EQ((uint32)B_MEDIA_BAD_FORMAT, 0x80004103u);
	EXPECT_EQ((uint32)B_LAST_BUFFER_ERROR, 0x80004007u);
	EXPECT_STREQ(status_text(B_LAST_BUFFER_ERROR), "Last buffer");
	EXPECT_STREQ(status_text(12345), "Unknown error");
}

}  // namespace

// The one fill-in of a file format record: earlier contents cleared, every name cut to its field and
// still terminated.
TEST(MediaDefs, FileFormatFillInClearsAndCutsNames)
{
	media_file_format mfi;
	memset(static_cast<void*>(&mfi), 0x5A, sizeof mfi);
	const std::string longName(100, 'n');
	fill_media_file_format(&mfi, media_file_format::B_READABLE | media_file_format::B_KNOWS_RAW_AUDIO,
	                       B_WAV_FORMAT_FAMILY, 7, "audio/x-test", longName.c_str(), longName.c_str(),
	                       "toolongext");
	EXPECT_EQ(mfi.capabilities, 0x21u);
	EXPECT_EQ(mfi.family, B_WAV_FORMAT_FAMILY);
	EXPECT_EQ(mfi.version, 7);
	EXPECT_STREQ(mfi.mime_type, "audio/x-test");
	EXPECT_EQ(std::string(mfi.pretty_name), longName.substr(0, sizeof mfi.pretty_name - 1));
	EXPECT_EQ(std::string(mfi.short_name), longName.substr(0, sizeof mfi.short_name - 1));
	EXPECT_STREQ(mfi.file_extension, "toolong");
	EXPECT_EQ(mfi.id.internal_id, 0u);
	for (char c : mfi.reserved)
		ASSERT_EQ(c, 0);
}
