// The QuickTime writer and reader: a third-party reader (MediaInfo) on written files, files with
// 64-bit chunk offsets, a hand-made MP4 with the variations real files have, and damaged files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "ContainerTable.h"
#include "DataIO.h"
#include "MediaFile.h"
#include "MediaFormats.h"
#include "MediaTrack.h"
#include "host_test_support.h"
#include "quicktime_boxes.h"
#include "quicktime_test_support.h"

using namespace BPrivate::media::qt;

namespace {

struct TrackPlan {
	uint32 width, height;
	float rate;
	int frames;
	int keyEvery;
};

// Writes chunk tracks (chunk i of track t holds 40 + t * 7 + i bytes of value i) interleaved.
void WriteKorvoMovie(BPositionIO* io, const std::vector<TrackPlan>& plans, const char* copyright)
{
	media_file_format mfi = FileFormat(B_QUICKTIME_FORMAT_FAMILY, "quicktime");
	BMediaFile file(io, &mfi);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	std::vector<BMediaTrack*> tracks;
	int most = 0;
	for (const TrackPlan& p : plans) {
		media_format f = QuickTimeVideo(FourCC("KRV1"), FourCC("KRVO"), p.width, p.height, p.rate);
		tracks.push_back(file.CreateTrack(&f));
		ASSERT_NE(tracks.back(), nullptr) << file.ErrorText();
		most = std::max(most, p.frames);
	}
	if (copyright) {
		ASSERT_EQ(file.AddCopyright(copyright), B_OK);
	}
	for (int i = 0; i < most; i++) {
		for (size_t t = 0; t < plans.size(); t++) {
			if (i >= plans[t].frames)
				continue;
			std::vector<uint8> chunk(40 + t * 7 + i, (uint8)i);
			uint32 flags = i % plans[t].keyEvery == 0 ? B_MEDIA_KEY_FRAME : 0;
			ASSERT_EQ(tracks[t]->WriteChunk(chunk.data(), chunk.size(), flags), B_OK);
		}
	}
	ASSERT_EQ(file.CloseFile(), B_OK) << file.ErrorText();
}

TEST(QuickTime, MediaInfoReadsWrittenMovie)
{
	const std::string path = TestOutput("mediainfo.mov");
	{
		BMallocIO io;
		WriteKorvoMovie(&io, {{20, 12, 25, 10, 5}, {64, 48, 29.97f, 12, 4}}, "Korvo test movie");
		FILE* out = fopen(path.c_str(), "wb");
		ASSERT_NE(out, nullptr);
		ASSERT_EQ(fwrite(io.Buffer(), 1, io.BufferLength(), out), io.BufferLength());
		fclose(out);
	}
	const std::string json = MediaInfoJson(path);
	if (json.empty())
		GTEST_SKIP() << "mediainfo is not installed";

	EXPECT_EQ(MediaInfoField(json, "General", 0, "Format_Profile"), "QuickTime");
	EXPECT_EQ(MediaInfoField(json, "General", 0, "Copyright"), "Korvo test movie");
	EXPECT_EQ(MediaInfoField(json, "Video", 0, "CodecID"), "KRV1");
	EXPECT_EQ(MediaInfoField(json, "Video", 0, "Width"), "20");
	EXPECT_EQ(MediaInfoField(json, "Video", 0, "Height"), "12");
	EXPECT_EQ(MediaInfoField(json, "Video", 0, "FrameCount"), "10");
	EXPECT_EQ(MediaInfoField(json, "Video", 0, "FrameRate"), "25.000");
	EXPECT_EQ(MediaInfoField(json, "Video", 0, "Duration"), "0.400");
	EXPECT_EQ(MediaInfoField(json, "Video", 1, "CodecID"), "KRV1");
	EXPECT_EQ(MediaInfoField(json, "Video", 1, "Width"), "64");
	EXPECT_EQ(MediaInfoField(json, "Video", 1, "Height"), "48");
	EXPECT_EQ(MediaInfoField(json, "Video", 1, "FrameCount"), "12");
	EXPECT_EQ(MediaInfoField(json, "Video", 1, "FrameRate"), "29.970");
	EXPECT_EQ(MediaInfoField(json, "Video", 1, "Duration"), "0.400");  // 12 x 1001 / 30000 s
}

// Movies without sound come out byte for byte as they always have: this is the fuzzing seed
// mediainfo.mov, written by the writer before it carried sound.
TEST(QuickTime, VideoOnlyMoviesAreWrittenAsBefore)
{
	BMallocIO io;
	WriteKorvoMovie(&io, {{20, 12, 25, 10, 5}, {64, 48, 29.97f, 12, 4}}, "Korvo test movie");
	const uint8* p = static_cast<const uint8*>(io.Buffer());
	uint64 hash = 0xcbf29ce484222325ull;  // FNV-1a
	for (size_t i = 0; i < io.BufferLength(); i++)
		hash = (hash ^ p[i]) * 0x100000001b3ull;
	EXPECT_EQ(io.BufferLength(), 2513u);
	EXPECT_EQ(hash, 0x2d28ebbf6dbf1cc3ull);
}

TEST(QuickTime, WriterRefusesTracksItCannotDescribe)
{
	media_file_format mfi = FileFormat(B_QUICKTIME_FORMAT_FAMILY, "quicktime");
	BMallocIO io;
	BMediaFile file(&io, &mfi);
	ASSERT_EQ(file.InitCheck(), B_OK);
	// A format known only under another family has no QuickTime name.
	media_format_description d;
	d.family = B_MISC_FORMAT_FAMILY;
	d.u.misc.codec = 0x12345678;
	media_format foreign;
	foreign.type = B_MEDIA_ENCODED_VIDEO;
	BMediaFormats formats;
	ASSERT_EQ(formats.MakeFormatFor(&d, 1, &foreign), B_OK);
	foreign.u.encoded_video.output.field_rate = 25;
	foreign.u.encoded_video.output.display.line_width = 16;
	foreign.u.encoded_video.output.display.line_count = 16;
	EXPECT_EQ(file.CreateTrack(&foreign), nullptr);
	media_format noRate = QuickTimeVideo(FourCC("KRV1"), FourCC("KRVO"), 16, 16, 0);
	EXPECT_EQ(file.CreateTrack(&noRate), nullptr);
	media_format tooWide = QuickTimeVideo(FourCC("KRV1"), FourCC("KRVO"), 70000, 16, 25);
	EXPECT_EQ(file.CreateTrack(&tooWide), nullptr);
	media_format fine = QuickTimeVideo(FourCC("KRV1"), FourCC("KRVO"), 16, 16, 25);
	EXPECT_NE(file.CreateTrack(&fine), nullptr) << file.ErrorText();
	EXPECT_EQ(file.CloseFile(), B_OK);
	// An empty track still makes a movie that reads back.
	BMediaFile back(&io);
	ASSERT_EQ(back.InitCheck(), B_OK) << back.ErrorText();
	ASSERT_EQ(back.CountTracks(), 1);
	EXPECT_EQ(back.TrackAt(0)->CountFrames(), 0);
	char* chunk;
	int32 size;
	EXPECT_EQ(back.TrackAt(0)->ReadChunk(&chunk, &size), B_LAST_BUFFER_ERROR);
}

TEST(QuickTime, ReadBackChunksFlagsAndCopyrightBytes)
{
	BMallocIO io;
	WriteKorvoMovie(&io, {{20, 12, 25, 10, 5}, {64, 48, 29.97f, 12, 4}}, "(c) Korvo");
	std::string bytes(static_cast<const char*>(io.Buffer()), io.BufferLength());
	EXPECT_EQ(bytes.substr(4, 8), "ftypqt  ");
	EXPECT_NE(bytes.find("\xA9"
	                     "cpy\x00\x09\x00\x00(c) Korvo",
	                     0, 16),
	          std::string::npos);
	EXPECT_NE(bytes.find("KRV1"), std::string::npos);
	EXPECT_NE(bytes.find("KRVO"), std::string::npos);
	EXPECT_EQ(bytes.find("co64"), std::string::npos);

	BMediaFile file(&io);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	ASSERT_EQ(file.CountTracks(), 2);
	BMediaTrack* second = file.TrackAt(1);
	ASSERT_NE(second, nullptr);
	EXPECT_EQ(second->CountFrames(), 12);
	EXPECT_EQ(second->Duration(), 400400);
	media_format f;
	ASSERT_EQ(second->EncodedFormat(&f), B_OK);
	EXPECT_NEAR(f.u.encoded_video.output.field_rate, 29.97, 1e-3);
	EXPECT_EQ(f.u.encoded_video.output.display.line_width, 64u);
	media_format_description d;
	BMediaFormats formats;
	ASSERT_EQ(formats.GetCodeFor(f, B_QUICKTIME_FORMAT_FAMILY, &d), B_OK);
	EXPECT_EQ(d.u.quicktime.codec, FourCC("KRV1"));
	for (int i = 0; i < 12; i++) {
		char* chunk;
		int32 size;
		media_header h;
		ASSERT_EQ(second->ReadChunk(&chunk, &size, &h), B_OK);
		ASSERT_EQ(size, 40 + 7 + i);
		EXPECT_EQ(chunk[size - 1], (char)i);
		EXPECT_EQ(h.u.encoded_video.field_flags, i % 4 == 0 ? (uint32)B_MEDIA_KEY_FRAME : 0u);
	}
	// Without a decoder for KRV1 the track still reads chunks but cannot decode.
	int64 frames;
	uint8 out[16];
	EXPECT_EQ(second->ReadFrames(out, &frames), B_MEDIA_BAD_FORMAT);
	EXPECT_NE(std::string(second->ErrorText()).find("no decoder"), std::string::npos);
}

// A stream that keeps small writes and only the length of large ones (read back as zeros), so a
// movie with more than 4 GiB of media data can be written and read without the disk space.
class HoleIO : public BPositionIO {
public:
	ssize_t ReadAt(off_t pos, void* buffer, size_t size) override
	{
		if (pos < 0)
			return B_BAD_VALUE;
		if (pos >= fLength)
			return 0;
		size = std::min<size_t>(size, (size_t)(fLength - pos));
		memset(buffer, 0, size);
		for (auto& [at, bytes] : fPieces) {
			off_t from = std::max<off_t>(at, pos);
			off_t to = std::min<off_t>(at + (off_t)bytes.size(), pos + (off_t)size);
			if (from < to)
				memcpy(static_cast<char*>(buffer) + (from - pos), bytes.data() + (from - at), to - from);
		}
		return (ssize_t)size;
	}
	ssize_t WriteAt(off_t pos, const void* buffer, size_t size) override
	{
		if (size <= (1 << 20)) {  // large writes are never looked at
			const char* p = static_cast<const char*>(buffer);
			fPieces[pos].assign(p, p + size);
		}
		fLength = std::max<off_t>(fLength, pos + (off_t)size);
		return (ssize_t)size;
	}
	off_t Seek(off_t position, uint32 mode) override
	{
		fPosition = mode == SEEK_SET   ? position
		            : mode == SEEK_CUR ? fPosition + position
		                               : fLength + position;
		return fPosition;
	}
	off_t Position() const override { return fPosition; }
	status_t GetSize(off_t* size) const override
	{
		*size = fLength;
		return B_OK;
	}

private:
	std::map<off_t, std::vector<char>> fPieces;
	off_t fLength = 0, fPosition = 0;
};

TEST(QuickTime, ChunkOffsetsPast4GiBUse64Bits)
{
	HoleIO io;
	static const char kTail[] = "the last chunk";
	{
		media_file_format mfi = FileFormat(B_QUICKTIME_FORMAT_FAMILY, "quicktime");
		BMediaFile file(&io, &mfi);
		ASSERT_EQ(file.InitCheck(), B_OK);
		media_format f = QuickTimeVideo(FourCC("KRV1"), FourCC("KRVO"), 16, 16, 25);
		BMediaTrack* track = file.CreateTrack(&f);
		ASSERT_NE(track, nullptr);
		for (int i = 0; i < 5; i++)  // 5 GiB that HoleIO never reads
			ASSERT_EQ(track->WriteChunk(kTail, (size_t)1 << 30, B_MEDIA_KEY_FRAME), B_OK);
		ASSERT_EQ(track->WriteChunk(kTail, sizeof(kTail), B_MEDIA_KEY_FRAME), B_OK);
		ASSERT_EQ(file.CloseFile(), B_OK) << file.ErrorText();
	}
	off_t size;
	io.GetSize(&size);
	ASSERT_GT(size, (off_t)5 << 30);

	BMediaFile file(&io);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	BMediaTrack* track = file.TrackAt(0);
	ASSERT_NE(track, nullptr);
	EXPECT_EQ(track->CountFrames(), 6);
	int64 frame = 5;
	ASSERT_EQ(track->SeekToFrame(&frame), B_OK);
	EXPECT_EQ(frame, 5);
	char* chunk;
	int32 chunkSize;
	media_header h;
	ASSERT_EQ(track->ReadChunk(&chunk, &chunkSize, &h), B_OK);
	ASSERT_EQ(chunkSize, (int32)sizeof(kTail));
	EXPECT_STREQ(chunk, kTail);
	EXPECT_EQ(h.file_pos, ((off_t)5 << 30) + 36);  // after 'ftyp' (20) and the 16-byte 'mdat' header
}

// An MP4 as other tools write it: 'isom' brand, 'moov' before 'mdat', an audio track to skip,
// version-1 headers, several samples per chunk, two time-to-sample runs, an 'mdat' running to the
// end of the file, and boxes the reader does not know.
std::vector<uint8> HandMadeMp4(std::vector<uint64>* sampleOffsets)
{
	const uint32 sizes[5] = {11, 5, 9, 13, 7};
	auto trackBoxes = [&](BoxBuilder& b, uint32 handler, uint32 entryType, uint64 mdatData,
	                      bool withOffsets) {
		size_t trak = b.Begin(FourCC("trak"));
		size_t tkhd = b.BeginFull(FourCC("tkhd"), 1, 3);
		b.Zeros(8 + 8 + 4 + 4 + 8 + 8 + 8 + 36);
		b.U32(100 << 16);
		b.U32(60 << 16);
		b.End(tkhd);
		size_t udta = b.Begin(FourCC("udta"));
		b.U32(0);
		b.End(udta);
		size_t mdia = b.Begin(FourCC("mdia"));
		size_t mdhd = b.BeginFull(FourCC("mdhd"), 1, 0);
		b.U64(0);
		b.U64(0);
		b.U32(90000);
		b.U64(21000);
		b.U32(0x55C40000);
		b.End(mdhd);
		size_t hdlr = b.BeginFull(FourCC("hdlr"), 0, 0);
		b.U32(0);
		b.U32(handler);
		b.Zeros(12);
		b.Bytes("VideoHandler", 13);
		b.End(hdlr);
		size_t minf = b.Begin(FourCC("minf"));
		size_t stbl = b.Begin(FourCC("stbl"));
		size_t unknown = b.Begin(FourCC("zzzz"));
		b.U32(0xDEADBEEF);
		b.End(unknown);
		size_t stsd = b.BeginFull(FourCC("stsd"), 0, 0);
		b.U32(1);
		size_t entry = b.Begin(entryType);
		b.Zeros(6);
		b.U16(1);
		b.Zeros(16);
		b.U16(320);
		b.U16(240);
		b.Zeros(50);
		size_t avcC = b.Begin(FourCC("avcC"));
		b.U32(0x01640028);
		b.End(avcC);
		b.End(entry);
		b.End(stsd);
		size_t stts = b.BeginFull(FourCC("stts"), 0, 0);
		b.U32(2);
		b.U32(3), b.U32(3000);
		b.U32(2), b.U32(6000);
		b.End(stts);
		size_t stss = b.BeginFull(FourCC("stss"), 0, 0);
		b.U32(2);
		b.U32(1), b.U32(4);
		b.End(stss);
		size_t stsc = b.BeginFull(FourCC("stsc"), 0, 0);
		b.U32(2);
		b.U32(1), b.U32(2), b.U32(1);
		b.U32(2), b.U32(3), b.U32(1);
		b.End(stsc);
		size_t stsz = b.BeginFull(FourCC("stsz"), 0, 0);
		b.U32(0);
		b.U32(5);
		for (uint32 s : sizes)
			b.U32(s);
		b.End(stsz);
		size_t stco = b.BeginFull(FourCC("stco"), 0, 0);
		b.U32(2);
		b.U32(withOffsets ? (uint32)mdatData : 0);
		b.U32(withOffsets ? (uint32)(mdatData + sizes[0] + sizes[1] + 100) : 0);
		b.End(stco);
		b.End(stbl);
		b.End(minf);
		b.End(mdia);
		b.End(trak);
	};
	// Built twice: the first pass learns where 'mdat' data starts.
	uint64 mdatData = 0;
	BoxBuilder b;
	for (int pass = 0; pass < 2; pass++) {
		b = BoxBuilder();
		size_t ftyp = b.Begin(FourCC("ftyp"));
		b.U32(FourCC("isom"));
		b.U32(512);
		b.U32(FourCC("isom"));
		b.U32(FourCC("avc1"));
		b.End(ftyp);
		size_t moov = b.Begin(FourCC("moov"));
		size_t mvhd = b.BeginFull(FourCC("mvhd"), 0, 0);
		b.Zeros(96);
		b.End(mvhd);
		trackBoxes(b, FourCC("soun"), FourCC("mp4a"), mdatData, false);
		trackBoxes(b, FourCC("vide"), FourCC("avc1"), mdatData, true);
		b.End(moov);
		size_t free = b.Begin(FourCC("free"));
		b.Zeros(3);
		b.End(free);
		b.U32(0);  // 'mdat' to the end of the file
		b.U32(FourCC("mdat"));
		mdatData = b.bytes.size();
	}
	// Chunk 1: samples 0-1; 100 bytes of other data; chunk 2: samples 2-4.
	sampleOffsets->clear();
	uint64 at = mdatData;
	for (int i = 0; i < 5; i++) {
		if (i == 2) {
			b.Zeros(100);
			at += 100;
		}
		sampleOffsets->push_back(at);
		for (uint32 k = 0; k < sizes[i]; k++)
			b.U8((uint8)(i * 16 + k));
		at += sizes[i];
	}
	return b.bytes;
}

TEST(QuickTime, ReadsOrdinaryMp4)
{
	std::vector<uint64> offsets;
	std::vector<uint8> mp4 = HandMadeMp4(&offsets);
	if (FILE* out = fopen(TestOutput("handmade.mp4").c_str(), "wb")) {  // a fuzzing seed
		fwrite(mp4.data(), 1, mp4.size(), out);
		fclose(out);
	}
	BMemoryIO io(static_cast<const void*>(mp4.data()), mp4.size());
	BMediaFile file(&io);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	ASSERT_EQ(file.CountTracks(), 1);  // the audio track is skipped
	BMediaTrack* track = file.TrackAt(0);
	ASSERT_NE(track, nullptr);
	EXPECT_EQ(track->CountFrames(), 5);
	EXPECT_EQ(track->Duration(), 233333);
	media_format f;
	ASSERT_EQ(track->EncodedFormat(&f), B_OK);
	EXPECT_EQ(f.u.encoded_video.output.display.line_width, 320u);
	EXPECT_EQ(f.u.encoded_video.output.display.line_count, 240u);
	EXPECT_FLOAT_EQ(f.u.encoded_video.output.field_rate, 30.0f);
	media_format_description d;
	BMediaFormats formats;
	ASSERT_EQ(formats.GetCodeFor(f, B_QUICKTIME_FORMAT_FAMILY, &d), B_OK);
	EXPECT_EQ(d.u.quicktime.codec, FourCC("avc1"));

	const bigtime_t times[5] = {0, 33333, 66666, 100000, 166666};
	for (int i = 0; i < 5; i++) {
		char* chunk;
		int32 size;
		media_header h;
		ASSERT_EQ(track->ReadChunk(&chunk, &size, &h), B_OK);
		EXPECT_EQ(h.file_pos, (off_t)offsets[i]);
		EXPECT_EQ(h.start_time, times[i]);
		EXPECT_EQ((uint8)chunk[0], i * 16);
		EXPECT_EQ((uint8)chunk[size - 1], i * 16 + size - 1);
		EXPECT_EQ(h.u.encoded_video.field_flags, i == 0 || i == 3 ? (uint32)B_MEDIA_KEY_FRAME : 0u);
	}
	bigtime_t time = 150000;  // inside sample 3
	ASSERT_EQ(track->SeekToTime(&time), B_OK);
	EXPECT_EQ(time, 100000);
	int64 frame = 2;
	ASSERT_EQ(track->SeekToFrame(&frame), B_OK);
	EXPECT_EQ(frame, 0);
}

// A time far past the end at a time scale of 2^32 - 1: in track units it passes 2^64 and must not
// wrap round to the start.
TEST(QuickTime, SeekPastTheEndAtAHugeTimeScaleLandsAtTheLastKeyFrame)
{
	std::vector<uint64> offsets;
	std::vector<uint8> mp4 = HandMadeMp4(&offsets);
	const uint8 scale90k[4] = {0x00, 0x01, 0x5F, 0x90};
	int patched = 0;
	for (size_t i = 0; i + 4 <= mp4.size(); i++) {
		if (memcmp(&mp4[i], scale90k, 4) == 0) {
			memset(&mp4[i], 0xFF, 4);
			patched++;
		}
	}
	ASSERT_EQ(patched, 2);  // the 'mdhd' of both tracks
	BMemoryIO io(static_cast<const void*>(mp4.data()), mp4.size());
	BMediaFile file(&io);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	BMediaTrack* track = file.TrackAt(0);
	ASSERT_NE(track, nullptr);
	const uint32 scale = 0xFFFFFFFF;
	const unsigned __int128 wrapAt = (unsigned __int128)1 << 64;
	for (bigtime_t far : {(bigtime_t)((wrapAt * 1000000 + scale - 1) / scale), (bigtime_t)INT64_MAX}) {
		bigtime_t time = far;
		ASSERT_EQ(track->SeekToTime(&time), B_OK);
		EXPECT_EQ(track->CurrentFrame(), 3) << far;  // the key frame before the last sample
		EXPECT_EQ(time, (bigtime_t)(9000ull * 1000000 / scale)) << far;
	}
}

// Offsets of every box header in `file`, descending into the containers the writer uses.
void BoxOffsets(const std::vector<uint8>& file, size_t base, Span span, std::vector<size_t>* out)
{
	static const uint32 kContainers[] = {FourCC("moov"), FourCC("trak"), FourCC("mdia"),
	                                     FourCC("minf"), FourCC("stbl"), FourCC("dinf"),
	                                     FourCC("udta"), FourCC("stsd"), FourCC("dref")};
	while (span.Left() >= 8) {
		size_t at = span.pos;
		uint64 size = span.U32();
		uint32 type = span.U32();
		size_t header = 8;
		if (size == 1)
			size = span.U64(), header = 16;
		if (size < header || size - header > span.Left())
			return;
		out->push_back(base + at);
		Span body = span.Sub((size_t)(size - header));
		for (uint32 c : kContainers) {
			if (c != type)
				continue;
			// stsd and dref hold a version/flags word and a count before their entries.
			size_t skip = type == FourCC("stsd") || type == FourCC("dref") ? 8 : 0;
			body.Skip(skip);
			BoxOffsets(file, base + at + header + skip, Span(body.data + skip, body.size - skip), out);
		}
	}
}

std::vector<uint8> SmallMovie()
{
	BMallocIO io;
	WriteKorvoMovie(&io, {{20, 12, 25, 6, 3}, {8, 8, 12.5f, 4, 2}}, "(c) corrupt");
	const uint8* p = static_cast<const uint8*>(io.Buffer());
	return std::vector<uint8>(p, p + io.BufferLength());
}

TEST(QuickTime, TruncatedFilesAreRefused)
{
	std::vector<uint8> movie = SmallMovie();
	std::vector<size_t> boxes;
	BoxOffsets(movie, 0, Span(movie.data(), movie.size()), &boxes);
	ASSERT_GT(boxes.size(), 30u);
	// The 'moov' is last, so every cut loses part of it; every length, box boundaries included.
	for (size_t n = 0; n < movie.size(); n++)
		OpenDamaged(std::vector<uint8>(movie.begin(), movie.begin() + n), true,
		            "cut at " + std::to_string(n));
	OpenDamaged(movie, false, "whole");
	BMemoryIO io(static_cast<const void*>(movie.data()), movie.size() - 1);
	BMediaFile cut(&io);
	EXPECT_NE(std::string(cut.ErrorText()).find("QuickTime"), std::string::npos) << cut.ErrorText();
}

TEST(QuickTime, LyingSizesAndCountsAreSurvived)
{
	const std::vector<uint8> movie = SmallMovie();
	std::vector<size_t> boxes;
	BoxOffsets(movie, 0, Span(movie.data(), movie.size()), &boxes);
	auto put32 = [](std::vector<uint8>& v, size_t at, uint32 value) {
		for (int i = 0; i < 4; i++)
			v[at + i] = (uint8)(value >> (24 - 8 * i));
	};
	for (size_t at : boxes) {
		uint32 real = (uint32)movie[at] << 24 | movie[at + 1] << 16 | movie[at + 2] << 8 | movie[at + 3];
		for (uint32 lie : {0u, 1u, 7u, 8u, 9u, real - 1, real + 1, real + 4096, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
			std::vector<uint8> bad = movie;
			put32(bad, at, lie);
			OpenDamaged(bad, false, "size at " + std::to_string(at));
		}
	}
	// Every word of the movie header: counts, offsets, sizes, versions and types that lie.
	size_t moov = movie.size();
	for (size_t at : boxes) {
		if (memcmp(&movie[at + 4], "moov", 4) == 0)
			moov = at;
	}
	ASSERT_LT(moov, movie.size());
	for (size_t at = moov + 8; at + 4 <= movie.size(); at += 4) {
		for (uint32 lie : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x01000000u}) {
			std::vector<uint8> bad = movie;
			put32(bad, at, lie);
			OpenDamaged(bad, false, "word at " + std::to_string(at));
		}
	}
}

}  // namespace

// A refusal names the box and the bounds it broke, at the top level and inside the movie header; a
// movie that is read describes its container as the writer does.
TEST(QuickTime, RefusalsNameTheBoxAndItsBounds)
{
	const std::vector<uint8> movie = SmallMovie();
	std::vector<size_t> boxes;
	BoxOffsets(movie, 0, Span(movie.data(), movie.size()), &boxes);
	size_t moov = 0, trak = 0;
	for (size_t at : boxes) {
		if (memcmp(&movie[at + 4], "moov", 4) == 0)
			moov = at;
		else if (memcmp(&movie[at + 4], "trak", 4) == 0 && !trak)
			trak = at;
	}
	ASSERT_GT(moov, 0u);
	ASSERT_GT(trak, moov);
	auto put32 = [](std::vector<uint8>& v, size_t at, uint64 value) {
		for (int i = 0; i < 4; i++)
			v[at + i] = (uint8)(value >> (24 - 8 * i));
	};
	auto refusal = [](const std::vector<uint8>& bytes) {
		BMemoryIO io(static_cast<const void*>(bytes.data()), bytes.size());
		BMediaFile file(&io);
		EXPECT_NE(file.InitCheck(), B_OK);
		return std::string(file.ErrorText());
	};
	const size_t left = movie.size() - moov;  // the movie header runs to the end

	std::vector<uint8> bad = movie;
	put32(bad, moov, left + 1);
	EXPECT_NE(refusal(bad).find("box 'moov' at offset " + std::to_string(moov) + " claims " +
	                            std::to_string(left + 1) + " bytes, the file has " + std::to_string(left) +
	                            " from there"),
	          std::string::npos)
	        << refusal(bad);

	bad = movie;
	put32(bad, trak, movie.size() - trak + 1);
	EXPECT_NE(refusal(bad).find("in 'moov': box 'trak' claims " + std::to_string(movie.size() - trak + 1) +
	                            " bytes but its parent holds " + std::to_string(movie.size() - trak) +
	                            " there"),
	          std::string::npos)
	        << refusal(bad);

	bad = movie;
	for (uint8 c : {'\0', '\0', '\0', '\1', 'f', 'r', 'e', 'e'})
		bad.push_back(c);
	EXPECT_NE(refusal(bad).find("box 'free' has its 64-bit size cut short"), std::string::npos)
	        << refusal(bad);
	bad.resize(movie.size() + 4);
	EXPECT_NE(refusal(bad).find("box header cut short at offset " + std::to_string(movie.size())),
	          std::string::npos)
	        << refusal(bad);

	BMemoryIO io(static_cast<const void*>(movie.data()), movie.size());
	BMediaFile file(&io);
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	media_file_format read, written;
	ASSERT_EQ(file.GetFileFormatInfo(&read), B_OK);
	ASSERT_EQ(BPrivate::media::quicktime_writer_info(&written), B_OK);
	EXPECT_EQ(memcmp(&read, &written, sizeof read), 0);
	EXPECT_STREQ(read.pretty_name, "QuickTime movie");
	EXPECT_EQ(read.family, B_QUICKTIME_FORMAT_FAMILY);
}
