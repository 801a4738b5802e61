// The g723.encoder add-on loaded through the host: format negotiation, the WAVE format header, 3-bit
// packing carried across calls, Flush, and errors of the chunk writer reaching the caller.
#include <cstring>

#include "MediaFormats.h"
#include "addon_test.h"
#include "g72x.h"

using addon_test::Entry;
using addon_test::RecordingWriter;

namespace {

BPrivate::Encoder* NewEncoder()
{
	auto instantiate = Entry<instantiate_encoder_func>("g723.encoder", "instantiate_encoder");
	return instantiate ? instantiate() : nullptr;
}

media_format RawAudio(float rate, uint32 channels)
{
	media_format f;
	f.type = B_MEDIA_RAW_AUDIO;
	f.u.raw_audio.frame_rate = rate;
	f.u.raw_audio.channel_count = channels;
	f.u.raw_audio.format = media_raw_audio_format::B_AUDIO_FLOAT;
	return f;
}

// The add-on set up for WAV with `channels` channels, writing to `writer`.
struct SetUpEncoder {
	explicit SetUpEncoder(uint32 channels, float rate = 8000)
	{
		encoder = NewEncoder();
		if (!encoder)
			return;
		encoder->SetChunkWriter(&writer);
		media_file_format file{};
		file.family = B_WAV_FORMAT_FAMILY;
		media_format in = RawAudio(rate, channels), out;
		EXPECT_EQ(encoder->SetFormat(&file, &in, &out), B_OK);
		EXPECT_EQ(encoder->AttachedToTrack(), B_OK);
		EXPECT_EQ(encoder->StartEncoder(), B_OK);
	}
	~SetUpEncoder() { delete encoder; }

	RecordingWriter writer;
	BPrivate::Encoder* encoder = nullptr;
};

// What the coder alone gives for these samples, packed three bits at a time, least significant first,
// with a final partial byte.
std::vector<uint8_t> Reference(const std::vector<int16_t>& samples)
{
	g72x_state state;
	g72x_init_state(&state);
	std::vector<uint8_t> out;
	uint32_t bits = 0;
	int count = 0;
	for (int16_t s : samples) {
		bits |= static_cast<uint32_t>(g723_24_encoder(s, G72X_CODING_LINEAR, &state)) << count;
		count += 3;
		if (count >= 8) {
			out.push_back(static_cast<uint8_t>(bits));
			bits >>= 8;
			count -= 8;
		}
	}
	if (count)
		out.push_back(static_cast<uint8_t>(bits));
	return out;
}

std::vector<int16_t> Ramp(size_t n)
{
	std::vector<int16_t> v(n);
	for (size_t i = 0; i < n; i++)
		v[i] = static_cast<int16_t>((i * 7919) % 30000 - 15000);
	return v;
}

TEST(G723AddOn, CodecInfoAndRegisteredEncoding)
{
	SetUpEncoder s(1);
	ASSERT_NE(s.encoder, nullptr);
	media_codec_info info;
	ASSERT_EQ(s.encoder->GetCodecInfo(&info), B_OK);
	EXPECT_STREQ(info.pretty_name, "G.723_3 Audio Compression");
	EXPECT_STREQ(info.short_name, "G.723_3");

	media_format_description d;
	d.family = B_WAV_FORMAT_FAMILY;
	d.u.wav.codec = 0x7233;
	media_format registered;
	BMediaFormats formats;
	ASSERT_EQ(formats.GetFormatFor(d, &registered), B_OK);

	media_file_format file{};
	file.family = B_WAV_FORMAT_FAMILY;
	media_format in = RawAudio(22050.7f, 3), out;
	ASSERT_EQ(s.encoder->SetFormat(&file, &in, &out), B_OK);
	EXPECT_EQ(in.type, B_MEDIA_RAW_AUDIO);
	EXPECT_EQ(in.u.raw_audio.format, (uint32)media_raw_audio_format::B_AUDIO_SHORT);
	EXPECT_EQ(out.type, B_MEDIA_ENCODED_AUDIO);
	EXPECT_NE(out.u.encoded_audio.encoding, 0);
	EXPECT_EQ(out.u.encoded_audio.encoding, registered.u.encoded_audio.encoding);
}

TEST(G723AddOn, SetFormatRefusesNullsAndForeignFamiliesUnchanged)
{
	BPrivate::Encoder* e = NewEncoder();
	ASSERT_NE(e, nullptr);
	media_file_format file{};
	file.family = B_QUICKTIME_FORMAT_FAMILY;
	media_format in = RawAudio(8000, 1), out, inBefore = in, outBefore = out;
	EXPECT_EQ(e->SetFormat(nullptr, &in, &out), B_BAD_VALUE);
	EXPECT_EQ(e->SetFormat(&file, nullptr, &out), B_BAD_VALUE);
	EXPECT_EQ(e->SetFormat(&file, &in, nullptr), B_BAD_VALUE);
	EXPECT_EQ(e->SetFormat(&file, &in, &out), B_MEDIA_BAD_FORMAT);
	EXPECT_EQ(memcmp(&in, &inBefore, sizeof in), 0);
	EXPECT_EQ(memcmp(&out, &outBefore, sizeof out), 0);
	delete e;
}

TEST(G723AddOn, WaveFormatHeader)
{
	struct Case {
		uint32 channels;
		float rate;
		uint32 bytesPerSecond;
	};
	for (const Case c : {Case{2, 8000, 6000}, Case{1, 44100.9f, 16537}, Case{6, 48000, 108000}}) {
		SetUpEncoder s(c.channels, c.rate);
		ASSERT_NE(s.encoder, nullptr);
		ASSERT_EQ(s.writer.trackInfos.size(), 1u);
		EXPECT_EQ(s.writer.trackInfoCodes[0], 0u);
		const uint32 rate = static_cast<uint32>(c.rate);
		const std::vector<uint8_t> expected = {0x33,
		                                       0x72,
		                                       uint8_t(c.channels),
		                                       0,
		                                       uint8_t(rate),
		                                       uint8_t(rate >> 8),
		                                       uint8_t(rate >> 16),
		                                       0,
		                                       uint8_t(c.bytesPerSecond),
		                                       uint8_t(c.bytesPerSecond >> 8),
		                                       uint8_t(c.bytesPerSecond >> 16),
		                                       0,
		                                       1,
		                                       0};
		EXPECT_EQ(s.writer.trackInfos[0], expected);
	}
}

TEST(G723AddOn, PackingOfEightSamplesOneSampleAndFlush)
{
	const std::vector<int16_t> eight = Ramp(8);
	{
		SetUpEncoder s(1);
		ASSERT_NE(s.encoder, nullptr);
		media_encode_info info;
		s.writer.callerInfo = &info;
		ASSERT_EQ(s.encoder->Encode(eight.data(), 8, &info), B_OK);
		ASSERT_EQ(s.writer.chunks.size(), 1u);
		EXPECT_EQ(s.writer.chunks[0].bytes, Reference(eight));
		EXPECT_EQ(s.writer.chunks[0].bytes.size(), 3u);
		EXPECT_FALSE(s.writer.chunks[0].freshInfo);
		EXPECT_EQ(s.encoder->Flush(), B_OK);
		EXPECT_EQ(s.writer.chunks.size(), 1u);  // nothing left over
	}
	{
		SetUpEncoder s(1);
		ASSERT_NE(s.encoder, nullptr);
		const int16_t one = 12345;
		media_encode_info info;
		s.writer.callerInfo = &info;
		ASSERT_EQ(s.encoder->Encode(&one, 1, &info), B_OK);
		EXPECT_TRUE(s.writer.chunks.empty());
		ASSERT_EQ(s.encoder->Flush(), B_OK);
		ASSERT_EQ(s.writer.chunks.size(), 1u);
		EXPECT_TRUE(s.writer.chunks[0].freshInfo);
		ASSERT_EQ(s.writer.chunks[0].bytes.size(), 1u);
		EXPECT_EQ(s.writer.chunks[0].bytes, Reference({one}));
		EXPECT_LT(s.writer.chunks[0].bytes[0], 8);  // the code alone, in the low three bits
		// A second Flush has nothing more to write.
		EXPECT_EQ(s.encoder->Flush(), B_OK);
		EXPECT_EQ(s.writer.chunks.size(), 1u);
	}
}

TEST(G723AddOn, StereoCodesAlternateFromOneStateAcrossCalls)
{
	// Odd-sized calls leave partial bytes that the next call must continue.
	const std::vector<int16_t> interleaved = Ramp(2 * 1000);
	SetUpEncoder s(2);
	ASSERT_NE(s.encoder, nullptr);
	size_t frame = 0;
	for (size_t step = 1; frame < 1000; step = step % 7 + 1) {
		const size_t n = std::min(step, 1000 - frame);
		ASSERT_EQ(s.encoder->Encode(interleaved.data() + 2 * frame, n, nullptr), B_OK);
		frame += n;
	}
	ASSERT_EQ(s.encoder->Encode(nullptr, 0, nullptr), B_OK);  // zero frames: nothing to do
	ASSERT_EQ(s.encoder->Flush(), B_OK);
	EXPECT_EQ(s.writer.Concatenated(), Reference(interleaved));
}

TEST(G723AddOn, WriteFailuresAndImpossibleSizesReachTheCaller)
{
	const std::vector<int16_t> samples = Ramp(64);
	SetUpEncoder s(1);
	ASSERT_NE(s.encoder, nullptr);
	s.writer.failWith = B_IO_ERROR;
	EXPECT_EQ(s.encoder->Encode(samples.data(), 64, nullptr), B_IO_ERROR);
	const int16_t one = 1;
	EXPECT_EQ(s.encoder->Encode(&one, 1, nullptr), B_OK);  // no whole byte yet: nothing written
	EXPECT_EQ(s.encoder->Flush(), B_IO_ERROR);
	// A buffer whose code bytes would not fit one chunk is refused, not cut short.
	s.writer.failWith = B_OK;
	EXPECT_EQ(s.encoder->Encode(samples.data(), INT64_C(1) << 62, nullptr), B_NO_MEMORY);
	EXPECT_EQ(s.encoder->Encode(samples.data(), -1, nullptr), B_BAD_VALUE);
	EXPECT_TRUE(s.writer.chunks.empty());
}

}  // namespace
