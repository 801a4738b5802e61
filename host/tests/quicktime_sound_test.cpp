// Sound tracks in QuickTime movies: 16-bit PCM beside the pictures, written in half-second chunks placed
// by time, read back sample for sample with exact seeks; MediaInfo as a judge of what is written; a
// hand-made movie with the sound first; sound tables that lie.
#include <gtest/gtest.h>

#include <cmath>

#include "DataIO.h"
#include "MediaFile.h"
#include "MediaTrack.h"
#include "host_test_support.h"
#include "quicktime_boxes.h"
#include "quicktime_test_support.h"

using namespace BPrivate::media::qt;

namespace {

media_format RawSound(float rate, uint32 channels, uint32 byteOrder = B_MEDIA_HOST_ENDIAN)
{
	media_format f;
	f.type = B_MEDIA_RAW_AUDIO;
	f.u.raw_audio.frame_rate = rate;
	f.u.raw_audio.channel_count = channels;
	f.u.raw_audio.format = media_raw_audio_format::B_AUDIO_SHORT;
	f.u.raw_audio.byte_order = byteOrder;
	return f;
}

// Noise-like samples that differ in every frame and channel.
std::vector<int16> TestSound(size_t frames, uint32 channels)
{
	std::vector<int16> s(frames * channels);
	uint32 seed = 12345;
	for (int16& v : s) {
		seed = seed * 1103515245u + 12345u;
		v = (int16)(seed >> 16);
	}
	return s;
}

struct SoundPlan {
	float rate;
	uint32 channels;
	size_t frames;
	uint32 byteOrder = B_MEDIA_HOST_ENDIAN;
};

// A movie of `pictures` video chunks at 25 fps and the sound (in the plan's byte order), written as an
// application interleaves them: before each picture the sound up to the end of its time, in pieces of
// 1000 frames.
std::vector<uint8> MovieWithSound(int pictures, const SoundPlan& plan, std::vector<int16> sound)
{
	if (plan.byteOrder != B_MEDIA_HOST_ENDIAN) {
		for (int16& v : sound)
			v = (int16)__builtin_bswap16((uint16)v);
	}
	BMallocIO io;
	media_file_format mfi = FileFormat(B_QUICKTIME_FORMAT_FAMILY, "quicktime");
	BMediaFile file(&io, &mfi);
	EXPECT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	media_format video = QuickTimeVideo(FourCC("KRV1"), FourCC("KRVO"), 20, 12, 25);
	BMediaTrack* pictureTrack = file.CreateTrack(&video);
	media_format audio = RawSound(plan.rate, plan.channels, plan.byteOrder);
	BMediaTrack* soundTrack = file.CreateTrack(&audio);
	EXPECT_NE(pictureTrack, nullptr);
	EXPECT_NE(soundTrack, nullptr) << file.ErrorText();
	if (!pictureTrack || !soundTrack)
		return {};
	size_t written = 0;
	for (int i = 0; i <= pictures; i++) {
		const size_t until = i == pictures
		                             ? plan.frames
		                             : std::min(plan.frames, (size_t)((i + 1) * (double)plan.rate / 25));
		while (written < until) {
			const size_t n = std::min<size_t>(1000, until - written);
			EXPECT_EQ(soundTrack->WriteFrames(&sound[written * plan.channels], (int32)n), B_OK);
			written += n;
		}
		if (i < pictures) {
			std::vector<uint8> chunk(30 + i, (uint8)i);
			EXPECT_EQ(pictureTrack->WriteChunk(chunk.data(), chunk.size(), B_MEDIA_KEY_FRAME), B_OK);
		}
	}
	EXPECT_EQ(file.CloseFile(), B_OK) << file.ErrorText();
	const uint8* p = static_cast<const uint8*>(io.Buffer());
	return std::vector<uint8>(p, p + io.BufferLength());
}

// Every sample of a sound track through ReadFrames, with the first buffer's start time.
std::vector<int16> ReadSound(BMediaTrack* track, size_t limit = SIZE_MAX)
{
	media_format f;
	f.type = B_MEDIA_RAW_AUDIO;
	EXPECT_EQ(track->DecodedFormat(&f), B_OK) << track->ErrorText();
	std::vector<int16> all, buffer(f.u.raw_audio.buffer_size / 2);
	int64 frames;
	while (all.size() < limit && track->ReadFrames(buffer.data(), &frames) == B_OK && frames > 0)
		all.insert(all.end(), buffer.begin(), buffer.begin() + frames * f.u.raw_audio.channel_count);
	return all;
}

bool Contains(const std::vector<uint8>& bytes, const char* text)
{
	return std::search(bytes.begin(), bytes.end(), text, text + strlen(text)) != bytes.end();
}

TEST(QuickTimeSound, SoundBesideVideoReadsBackExactly)
{
	const SoundPlan plan{48000, 2, 48100};
	const std::vector<int16> sound = TestSound(plan.frames, plan.channels);
	const std::vector<uint8> movie = MovieWithSound(25, plan, sound);
	EXPECT_TRUE(Contains(movie, "sowt"));
	EXPECT_TRUE(Contains(movie, "smhd"));

	BMemoryIO io(static_cast<const void*>(movie.data()), movie.size());
	BMediaFile file(&io);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	ASSERT_EQ(file.CountTracks(), 2);
	BMediaTrack* video = file.TrackAt(0);
	BMediaTrack* audio = file.TrackAt(1);
	ASSERT_TRUE(video && audio);
	EXPECT_EQ(video->CountFrames(), 25);
	media_format f;
	ASSERT_EQ(audio->EncodedFormat(&f), B_OK);
	ASSERT_EQ(f.type, B_MEDIA_RAW_AUDIO);
	EXPECT_EQ(f.u.raw_audio.frame_rate, 48000.0f);
	EXPECT_EQ(f.u.raw_audio.channel_count, 2u);
	EXPECT_EQ(f.u.raw_audio.format, (uint32)media_raw_audio_format::B_AUDIO_SHORT);
	EXPECT_EQ(audio->CountFrames(), 48100);
	EXPECT_EQ(audio->Duration(), 1002083);  // 48100 / 48000 s

	// Chunks of half a second whatever pieces were written, each stored before the picture that
	// shows the end of its time, after the pictures of its start.
	std::vector<std::pair<off_t, bigtime_t>> pictures;
	char* chunk;
	int32 size;
	media_header h;
	while (video->ReadChunk(&chunk, &size, &h) == B_OK)
		pictures.emplace_back(h.file_pos, h.start_time);
	ASSERT_EQ(pictures.size(), 25u);
	int chunks = 0;
	while (audio->ReadChunk(&chunk, &size, &h) == B_OK) {
		EXPECT_EQ(h.start_time, chunks * 500000);
		EXPECT_EQ(size, chunks < 2 ? 24000 * 4 : 100 * 4) << chunks;
		auto next = std::find_if(pictures.begin(), pictures.end(),
		                         [&](const auto& p) { return p.first > h.file_pos; });
		const bigtime_t nextTime = next == pictures.end() ? 1000000 : next->second;
		EXPECT_GE(nextTime, h.start_time) << chunks;
		EXPECT_LE(nextTime - h.start_time, 500000) << chunks;
		chunks++;
	}
	EXPECT_EQ(chunks, 3);

	int64 frame = 0;
	ASSERT_EQ(audio->SeekToFrame(&frame), B_OK);
	EXPECT_EQ(ReadSound(audio), sound);
}

TEST(QuickTimeSound, EveryLayoutReadsBackAsHostOrderSamples)
{
	struct Case {
		SoundPlan plan;
		const char* entry;
	} cases[] = {
	        {{8000, 1, 3001, B_MEDIA_BIG_ENDIAN}, "twos"},  // classic description, big-endian
	        {{44100, 2, 30000}, "sowt"},
	        {{96000, 6, 50000}, "lpcm"},  // rate and channels beyond the classic description
	        {{22050, 3, 11025, B_MEDIA_BIG_ENDIAN}, "lpcm"},
	};
	for (const Case& c : cases) {
		const std::vector<int16> sound = TestSound(c.plan.frames, c.plan.channels);
		const std::vector<uint8> movie = MovieWithSound(5, c.plan, sound);
		EXPECT_TRUE(Contains(movie, c.entry)) << c.entry;
		BMemoryIO io(static_cast<const void*>(movie.data()), movie.size());
		BMediaFile file(&io);
		ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
		BMediaTrack* audio = file.TrackAt(1);
		ASSERT_NE(audio, nullptr);
		media_format f;
		ASSERT_EQ(audio->EncodedFormat(&f), B_OK);
		EXPECT_EQ(f.u.raw_audio.frame_rate, c.plan.rate) << c.entry;
		EXPECT_EQ(f.u.raw_audio.channel_count, c.plan.channels) << c.entry;
		EXPECT_EQ(audio->CountFrames(), (int64)c.plan.frames) << c.entry;
		EXPECT_EQ(ReadSound(audio), sound) << c.entry << " " << c.plan.rate;
		// The file holds the samples in the byte order the application gave.
		const uint16 first = (uint16)sound[0];
		const uint8 stored[2] = {(uint8)(c.plan.byteOrder == B_MEDIA_BIG_ENDIAN ? first >> 8 : first),
		                         (uint8)(c.plan.byteOrder == B_MEDIA_BIG_ENDIAN ? first : first >> 8)};
		char* chunk;
		int32 size;
		media_header h;
		int64 frame = 0;
		ASSERT_EQ(audio->SeekToFrame(&frame), B_OK);
		ASSERT_EQ(audio->ReadChunk(&chunk, &size, &h), B_OK);
		EXPECT_EQ(movie[h.file_pos], stored[0]) << c.entry;
		EXPECT_EQ(movie[h.file_pos + 1], stored[1]) << c.entry;
	}
}

TEST(QuickTimeSound, SeeksLandOnTheExactFrame)
{
	const SoundPlan plan{44100, 2, 44100};
	const std::vector<int16> sound = TestSound(plan.frames, plan.channels);
	const std::vector<uint8> movie = MovieWithSound(25, plan, sound);
	BMemoryIO io(static_cast<const void*>(movie.data()), movie.size());
	BMediaFile file(&io);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	BMediaTrack* audio = file.TrackAt(1);
	ASSERT_NE(audio, nullptr);
	for (int64 target : {0, 1, 2, 22049, 22050, 22051, 30001, 44099}) {
		int64 frame = target;
		ASSERT_EQ(audio->SeekToFrame(&frame), B_OK);
		EXPECT_EQ(frame, target);
		const std::vector<int16> got = ReadSound(audio, 2);
		ASSERT_GE(got.size(), 2u);
		EXPECT_EQ(got[0], sound[target * 2]) << target;
		EXPECT_EQ(got[1], sound[target * 2 + 1]) << target;
		// The frame's start time, in whole microseconds as headers state it, seeks back to it.
		bigtime_t time = (bigtime_t)(target * 1000000 / 44100);
		ASSERT_EQ(audio->SeekToTime(&time), B_OK);
		EXPECT_EQ(audio->CurrentFrame(), target);
		EXPECT_EQ(time, (bigtime_t)(target * 1000000 / 44100));
	}
	bigtime_t past = 5000000;
	ASSERT_EQ(audio->SeekToTime(&past), B_OK);
	EXPECT_EQ(audio->CurrentFrame(), 44099);
}

TEST(QuickTimeSound, MediaInfoSeesBothTracksWithTheirDurations)
{
	struct Case {
		SoundPlan plan;
		const char* rate;
		const char* channels;
	} cases[] = {{{48000, 2, 48000}, "48000", "2"}, {{96000, 6, 96000}, "96000", "6"}};
	for (const Case& c : cases) {
		const std::string path = TestOutput(("sound" + std::to_string(c.plan.channels) + ".mov").c_str());
		const std::vector<uint8> movie =
		        MovieWithSound(25, c.plan, TestSound(c.plan.frames, c.plan.channels));
		FILE* out = fopen(path.c_str(), "wb");
		ASSERT_NE(out, nullptr);
		ASSERT_EQ(fwrite(movie.data(), 1, movie.size(), out), movie.size());
		fclose(out);
		const std::string json = MediaInfoJson(path);
		if (json.empty())
			GTEST_SKIP() << "mediainfo is not installed";
		EXPECT_EQ(MediaInfoField(json, "General", 0, "Duration"), "1.000") << json;
		EXPECT_EQ(MediaInfoField(json, "Video", 0, "Duration"), "1.000") << json;
		EXPECT_EQ(MediaInfoField(json, "Audio", 0, "Duration"), "1.000") << json;
		EXPECT_EQ(MediaInfoField(json, "Audio", 0, "Format"), "PCM") << json;
		EXPECT_EQ(MediaInfoField(json, "Audio", 0, "SamplingRate"), c.rate) << json;
		EXPECT_EQ(MediaInfoField(json, "Audio", 0, "Channels"), c.channels) << json;
		EXPECT_EQ(MediaInfoField(json, "Audio", 0, "BitDepth"), "16") << json;
		EXPECT_EQ(MediaInfoField(json, "Audio", 0, "SamplingCount"), c.rate) << json;
	}
}

// A movie as another writer might make it: the sound track first, 'twos' with the older sample
// size of 1, chunks of 4, 3 and 3 frames between the two pictures, and a time scale of twice the rate.
std::vector<uint8> SoundFirstMovie(const std::vector<int16>& sound)
{
	const uint32 soundChunks[3] = {4, 3, 3};
	const uint32 pictureSizes[2] = {17, 9};
	auto soundTrak = [&](BoxBuilder& b, const std::vector<uint64>& offsets) {
		size_t trak = b.Begin(FourCC("trak"));
		size_t tkhd = b.BeginFull(FourCC("tkhd"), 0, 0xF);
		b.Zeros(80);
		b.End(tkhd);
		size_t mdia = b.Begin(FourCC("mdia"));
		size_t mdhd = b.BeginFull(FourCC("mdhd"), 0, 0);
		b.U32(0), b.U32(0), b.U32(16000), b.U32(20), b.U32(0);
		b.End(mdhd);
		size_t hdlr = b.BeginFull(FourCC("hdlr"), 0, 0);
		b.U32(FourCC("mhlr")), b.U32(FourCC("soun"));
		b.Zeros(13);
		b.End(hdlr);
		size_t minf = b.Begin(FourCC("minf"));
		size_t smhd = b.BeginFull(FourCC("smhd"), 0, 0);
		b.U32(0);
		b.End(smhd);
		size_t stbl = b.Begin(FourCC("stbl"));
		size_t stsd = b.BeginFull(FourCC("stsd"), 0, 0);
		b.U32(1);
		size_t entry = b.Begin(FourCC("twos"));
		b.Zeros(6), b.U16(1);
		b.U16(0), b.U16(0), b.U32(0);  // version 0
		b.U16(2), b.U16(16), b.U16(0), b.U16(0), b.U32(8000u << 16);
		b.End(entry);
		b.End(stsd);
		size_t stts = b.BeginFull(FourCC("stts"), 0, 0);
		b.U32(2), b.U32(6), b.U32(2), b.U32(4), b.U32(2);  // two runs of the same duration
		b.End(stts);
		size_t stsc = b.BeginFull(FourCC("stsc"), 0, 0);
		b.U32(2), b.U32(1), b.U32(4), b.U32(1), b.U32(2), b.U32(3), b.U32(1);
		b.End(stsc);
		size_t stsz = b.BeginFull(FourCC("stsz"), 0, 0);
		b.U32(1), b.U32(10);
		b.End(stsz);
		size_t stco = b.BeginFull(FourCC("stco"), 0, 0);
		b.U32(3);
		for (uint64 o : offsets)
			b.U32((uint32)o);
		b.End(stco);
		b.End(stbl);
		b.End(minf);
		b.End(mdia);
		b.End(trak);
	};
	auto videoTrak = [&](BoxBuilder& b, const std::vector<uint64>& offsets) {
		size_t trak = b.Begin(FourCC("trak"));
		size_t mdia = b.Begin(FourCC("mdia"));
		size_t mdhd = b.BeginFull(FourCC("mdhd"), 0, 0);
		b.U32(0), b.U32(0), b.U32(2), b.U32(2), b.U32(0);
		b.End(mdhd);
		size_t hdlr = b.BeginFull(FourCC("hdlr"), 0, 0);
		b.U32(FourCC("mhlr")), b.U32(FourCC("vide"));
		b.Zeros(13);
		b.End(hdlr);
		size_t minf = b.Begin(FourCC("minf"));
		size_t stbl = b.Begin(FourCC("stbl"));
		size_t stsd = b.BeginFull(FourCC("stsd"), 0, 0);
		b.U32(1);
		size_t entry = b.Begin(FourCC("KRV1"));
		b.Zeros(6), b.U16(1), b.Zeros(16), b.U16(16), b.U16(16), b.Zeros(50);
		b.End(entry);
		b.End(stsd);
		size_t stts = b.BeginFull(FourCC("stts"), 0, 0);
		b.U32(1), b.U32(2), b.U32(1);
		b.End(stts);
		size_t stsc = b.BeginFull(FourCC("stsc"), 0, 0);
		b.U32(1), b.U32(1), b.U32(1), b.U32(1);
		b.End(stsc);
		size_t stsz = b.BeginFull(FourCC("stsz"), 0, 0);
		b.U32(0), b.U32(2), b.U32(pictureSizes[0]), b.U32(pictureSizes[1]);
		b.End(stsz);
		size_t stco = b.BeginFull(FourCC("stco"), 0, 0);
		b.U32(2), b.U32((uint32)offsets[0]), b.U32((uint32)offsets[1]);
		b.End(stco);
		b.End(stbl);
		b.End(minf);
		b.End(mdia);
		b.End(trak);
	};
	// 'mdat' first: sound chunk, picture, sound chunk, picture, sound chunk (big-endian samples).
	BoxBuilder b;
	size_t ftyp = b.Begin(FourCC("ftyp"));
	b.U32(kBrandQuickTime), b.U32(0), b.U32(kBrandQuickTime);
	b.End(ftyp);
	size_t mdat = b.Begin(FourCC("mdat"));
	std::vector<uint64> soundAt, pictureAt;
	size_t sample = 0;
	for (int i = 0; i < 3; i++) {
		soundAt.push_back(b.bytes.size());
		for (uint32 k = 0; k < soundChunks[i] * 2; k++, sample++)
			b.U16((uint16)sound[sample]);
		if (i < 2) {
			pictureAt.push_back(b.bytes.size());
			b.Bytes(std::string(pictureSizes[i], (char)('a' + i)).data(), pictureSizes[i]);
		}
	}
	b.End(mdat);
	size_t moov = b.Begin(FourCC("moov"));
	size_t mvhd = b.BeginFull(FourCC("mvhd"), 0, 0);
	b.Zeros(96);
	b.End(mvhd);
	soundTrak(b, soundAt);
	videoTrak(b, pictureAt);
	b.End(moov);
	return b.bytes;
}

TEST(QuickTimeSound, HandMadeMovieWithTheSoundFirst)
{
	const std::vector<int16> sound = TestSound(10, 2);
	const std::vector<uint8> movie = SoundFirstMovie(sound);
	if (FILE* out = fopen(TestOutput("sound_first.mov").c_str(), "wb")) {  // a fuzzing seed
		fwrite(movie.data(), 1, movie.size(), out);
		fclose(out);
	}
	BMemoryIO io(static_cast<const void*>(movie.data()), movie.size());
	BMediaFile file(&io);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	ASSERT_EQ(file.CountTracks(), 2);
	BMediaTrack* audio = file.TrackAt(0);
	BMediaTrack* video = file.TrackAt(1);
	ASSERT_TRUE(audio && video);
	media_format f;
	ASSERT_EQ(audio->EncodedFormat(&f), B_OK);
	ASSERT_EQ(f.type, B_MEDIA_RAW_AUDIO);
	EXPECT_EQ(f.u.raw_audio.frame_rate, 8000.0f);
	EXPECT_EQ(f.u.raw_audio.channel_count, 2u);
	EXPECT_EQ(audio->CountFrames(), 10);
	EXPECT_EQ(audio->Duration(), 1250);  // 10 frames of 2 units at 16000 units a second
	EXPECT_EQ(ReadSound(audio), sound);
	int64 frame = 5;
	ASSERT_EQ(audio->SeekToFrame(&frame), B_OK);
	EXPECT_EQ(std::vector<int16>(sound.begin() + 10, sound.end()), ReadSound(audio));

	ASSERT_EQ(video->EncodedFormat(&f), B_OK);
	EXPECT_EQ(f.type, B_MEDIA_ENCODED_VIDEO);
	EXPECT_EQ(video->CountFrames(), 2);
	char* chunk;
	int32 size;
	for (int i = 0; i < 2; i++) {
		ASSERT_EQ(video->ReadChunk(&chunk, &size), B_OK);
		EXPECT_EQ(std::string(chunk, size), std::string(i ? 9 : 17, (char)('a' + i)));
	}
}

// A small movie with three sound chunks, for damaging.
std::vector<uint8> SmallMovieWithSound() { return MovieWithSound(3, {400, 1, 500}, TestSound(500, 1)); }

// Offset of the first `box` after the sound track's handler.
size_t SoundBox(const std::vector<uint8>& movie, const char* box)
{
	auto soun = std::search(movie.begin(), movie.end(), "soun", "soun" + 4);
	auto at = std::search(soun, movie.end(), box, box + 4);
	EXPECT_NE(at, movie.end()) << box;
	return (size_t)(at - movie.begin()) - 4;  // the box's size field
}

void Put32(std::vector<uint8>& v, size_t at, uint32 value)
{
	for (int i = 0; i < 4; i++)
		v[at + i] = (uint8)(value >> (24 - 8 * i));
}

// Opens `bytes`, which must be refused with a reason containing `why`.
void ExpectRefused(const std::vector<uint8>& bytes, const std::string& why)
{
	BMemoryIO io(static_cast<const void*>(bytes.data()), bytes.size());
	BMediaFile file(&io);
	EXPECT_NE(file.InitCheck(), B_OK) << why;
	EXPECT_NE(std::string(file.ErrorText()).find(why), std::string::npos) << file.ErrorText();
}

TEST(QuickTimeSound, LyingSoundTablesAreRefused)
{
	const std::vector<uint8> movie = SmallMovieWithSound();
	OpenDamaged(movie, false, "whole");
	// Box layout after the 12-byte full-box header: stsz size, count; stco count, offsets; stts
	// count, (count, delta)...; sample entry fields at fixed places.
	const size_t stsz = SoundBox(movie, "stsz"), stco = SoundBox(movie, "stco"),
	             stts = SoundBox(movie, "stts"), entry = SoundBox(movie, "sowt");
	std::vector<uint8> bad = movie;
	Put32(bad, stsz + 16, 0x7FFFFFFF);
	ExpectRefused(bad, "more than the file holds");
	bad = movie;
	Put32(bad, stsz + 12, 3);
	ExpectRefused(bad, "are not frames of 1 16-bit channels");
	bad = movie;
	Put32(bad, stco + 20, 0xFFFFFF00);
	ExpectRefused(bad, "lies outside the file");
	bad = movie;
	Put32(bad, stts + 12, 2);  // two runs where there is room for one: cut short
	ExpectRefused(bad, "time-to-sample table cut short");
	bad = movie;
	Put32(bad, stts + 20, 2);  // every frame twice as long: fine, but then a run of another length
	{
		BMemoryIO io(static_cast<const void*>(bad.data()), bad.size());
		BMediaFile file(&io);
		ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
		EXPECT_EQ(file.TrackAt(1)->Duration(), 2500000);
	}
	Put32(bad, stts + 16, 499);
	Put32(bad, stts + 12, 1);
	ExpectRefused(bad, "covers fewer samples");
	bad = movie;
	Put32(bad, entry + 8 + 16, 0xFFFF0010);  // 65535 channels
	ExpectRefused(bad, "samples of 2 bytes are not frames of 65535 16-bit channels");

	// Every word of the sound track's tables lying, and every cut: refused with a reason or read
	// within bounds (the sanitizers watch).
	const size_t from = SoundBox(movie, "stbl"), to = from + (movie[from + 2] << 8 | movie[from + 3]);
	for (size_t at = from; at + 4 <= to; at += 2) {
		for (uint32 lie : {0u, 1u, 2u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x01000000u, 0x00010000u}) {
			std::vector<uint8> damaged = movie;
			Put32(damaged, at, lie);
			OpenDamaged(damaged, false, "word at " + std::to_string(at));
		}
	}
}

}  // namespace
