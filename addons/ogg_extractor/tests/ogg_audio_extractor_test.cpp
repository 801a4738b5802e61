// The OggAudioExtractor add-on loaded through the host, on files made by oggenc: exactly oggdec's PCM,
// the stream's own rate and channels, seeking, holes, truncated and foreign files, failing sources.
#include <sys/stat.h>
#include <unistd.h>
#include <vorbis/vorbisfile.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "Extractor.h"
#include "File.h"
#include "MediaFile.h"
#include "MediaTrack.h"
#include "addon_test.h"

using addon_test::Entry;
using addon_test::RunCommand;
using addon_test::TempPath;

namespace {

std::vector<uint8_t> ReadAll(const std::string& path)
{
	std::ifstream in(path, std::ios::binary);
	return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// An Ogg Vorbis file made by oggenc from a sox tone, and oggdec's raw 16-bit little-endian output.
struct OggFile {
	std::string path;
	std::vector<uint8_t> bytes;
	std::vector<uint8_t> pcm;
	int rate, channels;
	bool noise;
};

// Tones (a small file of few pages) or noise (many pages).
const OggFile& MakeFile(int rate, int channels, bool noise = false)
{
	static std::vector<std::unique_ptr<OggFile>> made;
	for (const auto& f : made) {
		if (f->rate == rate && f->channels == channels && f->noise == noise)
			return *f;
	}
	auto f = std::make_unique<OggFile>();
	f->rate = rate;
	f->channels = channels;
	f->noise = noise;
	const std::string base = TempPath(
	        ((noise ? "noise" : "tone") + std::to_string(rate) + "_" + std::to_string(channels)).c_str());
	const std::string synth = noise ? "synth 4.0321 pinknoise vol 0.5" : "synth 3.0123 sine 440 sine 700";
	f->path = base + ".ogg";
	std::string log;
	// Three seconds and a bit, so the last chunk is a partial one.
	EXPECT_EQ(RunCommand(std::string(SOX_PROGRAM) + " -n -r " + std::to_string(rate) + " -c " +
	                             std::to_string(channels) + " -b 16 " + base + ".wav " + synth,
	                     &log),
	          0)
	        << log;
	EXPECT_EQ(RunCommand(std::string(OGGENC_PROGRAM) + " -Q -q 3 -o " + f->path + " " + base + ".wav", &log),
	          0)
	        << log;
	EXPECT_EQ(RunCommand(std::string(OGGDEC_PROGRAM) + " -Q -R -o " + base + ".raw " + f->path, &log), 0)
	        << log;
	f->bytes = ReadAll(f->path);
	static std::vector<std::string> paths;
	if (paths.empty())
		atexit([] {
			for (const std::string& p : paths)
				unlink(p.c_str());
		});
	paths.push_back(f->path);
	f->pcm = ReadAll(base + ".raw");
	unlink((base + ".wav").c_str());
	unlink((base + ".raw").c_str());
	made.push_back(std::move(f));
	return *made.back();
}

BPrivate::Extractor* NewExtractor(BDataIO* source)
{
	auto instantiate = Entry<instantiate_extractor_func>("OggAudioExtractor", "instantiate_extractor");
	if (!instantiate)
		return nullptr;
	BPrivate::Extractor* x = instantiate();
	if (x)
		x->SetSource(source);
	return x;
}

// An extractor that has sniffed `source` and holds a cookie for stream 0.
struct Open {
	explicit Open(BPositionIO* source)
	{
		x = NewExtractor(source);
		if (!x)
			return;
		status = x->Sniff(&streams, &chunkSize);
		if (status == B_OK) {
			EXPECT_EQ(x->AllocateCookie(0, &cookie), B_OK);
		}
	}
	~Open()
	{
		if (cookie)
			x->FreeCookie(0, cookie);
		delete x;
	}

	// Every chunk to the end; checks the chunk records on the way.
	std::vector<uint8_t> ReadToEnd(size_t* chunks = nullptr)
	{
		std::vector<uint8_t> out;
		for (int guard = 0; guard < 100000; guard++) {
			char* chunk = nullptr;
			int32 size = -1, packet = -1;
			off_t pos = -1;
			media_header h;
			const status_t s = x->SplitNext(0, cookie, &pos, nullptr, &packet, &chunk, &size, &h);
			if (s == B_LAST_BUFFER_ERROR) {
				EXPECT_EQ(size, 0);
				EXPECT_EQ(h.size_used, 0u);
				break;
			}
			EXPECT_EQ(s, B_OK);
			if (s != B_OK)
				break;
			EXPECT_GT(size, 0);
			EXPECT_LE(size, chunkSize);
			EXPECT_EQ(h.size_used, static_cast<uint32>(size));
			EXPECT_EQ(h.file_pos, pos);
			if (lastWasPartial)
				partialInTheMiddle = true;
			lastWasPartial = size < chunkSize;
			EXPECT_EQ(packet, 0);
			out.insert(out.end(), chunk, chunk + size);
			if (chunks)
				++*chunks;
		}
		return out;
	}

	BPrivate::Extractor* x = nullptr;
	void* cookie = nullptr;
	status_t status = B_ERROR;
	int32 streams = 0, chunkSize = 0;
	bool lastWasPartial = false;
	bool partialInTheMiddle = false;  // a short chunk that was not the last
};

// libvorbisfile on a byte vector, for the positions a seek should reach.
struct Reference {
	explicit Reference(const std::vector<uint8_t>& data) : file{data}
	{
		ov_callbacks cb = {Read, Seek, nullptr, Tell};
		opened = ov_open_callbacks(this, &vf, nullptr, 0, cb) == 0;
	}
	~Reference()
	{
		if (opened)
			ov_clear(&vf);
	}
	static size_t Read(void* p, size_t size, size_t n, void* src)
	{
		auto* r = static_cast<Reference*>(src);
		const size_t bytes = std::min(size * n, r->file.size() - r->pos);
		memcpy(p, r->file.data() + r->pos, bytes);
		r->pos += bytes;
		return bytes;
	}
	static int Seek(void* src, ogg_int64_t offset, int whence)
	{
		auto* r = static_cast<Reference*>(src);
		const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? r->pos : r->file.size();
		if (base + offset < 0 || base + offset > static_cast<int64_t>(r->file.size()))
			return -1;
		r->pos = base + offset;
		return 0;
	}
	static long Tell(void* src) { return static_cast<long>(static_cast<Reference*>(src)->pos); }

	std::vector<uint8_t> file;
	size_t pos = 0;
	OggVorbis_File vf;
	bool opened = false;
};

// A source that cannot seek.
class Unseekable : public BPositionIO {
public:
	explicit Unseekable(const std::vector<uint8_t>& data) : fData(data) {}
	ssize_t Read(void* buffer, size_t size) override
	{
		const ssize_t n = ReadAt(fPos, buffer, size);
		fPos += n;
		return n;
	}
	ssize_t ReadAt(off_t position, void* buffer, size_t size) override
	{
		if (position < 0 || static_cast<size_t>(position) >= fData.size())
			return 0;
		const size_t n = std::min(size, fData.size() - static_cast<size_t>(position));
		memcpy(buffer, fData.data() + position, n);
		return static_cast<ssize_t>(n);
	}
	ssize_t WriteAt(off_t, const void*, size_t) override { return B_NOT_ALLOWED; }
	off_t Seek(off_t, uint32) override { return B_ERROR; }
	off_t Position() const override { return fPos; }

private:
	std::vector<uint8_t> fData;
	off_t fPos = 0;
};

class Pipe : public BDataIO {
public:
	ssize_t Read(void*, size_t) override { return 0; }
	ssize_t Write(const void*, size_t) override { return 0; }
};

void ExpectSamePcm(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want)
{
	ASSERT_EQ(got.size(), want.size());
	size_t differ = 0;
	for (size_t i = 0; i < got.size(); i++)
		differ += got[i] != want[i];
	EXPECT_EQ(differ, 0u);
}

class OggExtractorFiles : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(OggExtractorFiles, ReadsExactlyWhatOggdecDecodes)
{
	for (bool noise : {false, true}) {
		const OggFile& f = MakeFile(GetParam().first, GetParam().second, noise);
		ASSERT_FALSE(f.pcm.empty());
		BFile file(f.path.c_str(), B_READ_ONLY);
		Open o(&file);
		ASSERT_NE(o.x, nullptr);
		ASSERT_EQ(o.status, B_OK);
		EXPECT_EQ(o.streams, 1);
		EXPECT_EQ(o.chunkSize, 4096);

		media_format format;
		ASSERT_EQ(o.x->TrackInfo(0, &format, nullptr, nullptr), B_OK);
		EXPECT_EQ(format.type, B_MEDIA_ENCODED_AUDIO);
		EXPECT_NE(format.u.encoded_audio.encoding, 0);
		EXPECT_EQ(format.u.encoded_audio.output.frame_rate, static_cast<float>(f.rate));
		EXPECT_EQ(format.u.encoded_audio.output.channel_count, static_cast<uint32>(f.channels));
		EXPECT_EQ(format.u.encoded_audio.output.format, (uint32)media_raw_audio_format::B_AUDIO_SHORT);
		EXPECT_EQ(format.u.encoded_audio.output.buffer_size, 4096u);

		const int64 frames = static_cast<int64>(f.pcm.size() / (2 * f.channels));
		int64 counted = 0;
		ASSERT_EQ(o.x->CountFrames(0, &counted), B_OK);
		EXPECT_EQ(counted, frames);
		bigtime_t duration = 0;
		ASSERT_EQ(o.x->GetDuration(0, &duration), B_OK);
		EXPECT_EQ(duration, frames * 1000000 / f.rate);

		size_t chunks = 0;
		ExpectSamePcm(o.ReadToEnd(&chunks), f.pcm);
		// The tail that does not fill a chunk came out as its own, shorter chunk.
		EXPECT_EQ(chunks, (f.pcm.size() + 4095) / 4096);
		EXPECT_EQ(o.lastWasPartial, f.pcm.size() % 4096 != 0);
		EXPECT_FALSE(o.partialInTheMiddle);
		printf("%d Hz, %d channels, %s: %zu bytes of PCM agree with oggdec in %zu chunks\n", f.rate,
		       f.channels, noise ? "noise" : "tones", f.pcm.size(), chunks);
	}
}

TEST_P(OggExtractorFiles, ReadThroughTheHostAsPcm)
{
	const OggFile& f = MakeFile(GetParam().first, GetParam().second);
	addon_test::LoadAddOns();
	BMediaFile file(f.path.c_str());
	ASSERT_EQ(file.InitCheck(), B_OK) << file.ErrorText();
	// The Ogg extractor add-on read it, not the host's own audio reader.
	media_file_format mfi;
	ASSERT_EQ(file.GetFileFormatInfo(&mfi), B_OK);
	EXPECT_EQ(mfi.family, B_MISC_FORMAT_FAMILY);
	EXPECT_STREQ(mfi.short_name, "vorbis");
	ASSERT_EQ(file.CountTracks(), 1);
	BMediaTrack* track = file.TrackAt(0);
	ASSERT_NE(track, nullptr);
	media_format out;
	ASSERT_EQ(track->DecodedFormat(&out), B_OK) << track->ErrorText();
	ASSERT_EQ(out.type, B_MEDIA_RAW_AUDIO);
	EXPECT_EQ(out.u.raw_audio.frame_rate, static_cast<float>(f.rate));
	EXPECT_EQ(out.u.raw_audio.channel_count, static_cast<uint32>(f.channels));
	std::vector<uint8_t> pcm, buffer(out.u.raw_audio.buffer_size + 16);
	for (int guard = 0; guard < 100000; guard++) {
		int64 n = 0;
		const status_t s = track->ReadFrames(buffer.data(), &n);
		if (s == B_LAST_BUFFER_ERROR)
			break;
		ASSERT_EQ(s, B_OK) << track->ErrorText();
		pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + n * 2 * f.channels);
	}
	ExpectSamePcm(pcm, f.pcm);
}

TEST_P(OggExtractorFiles, SeeksLandWhereLibvorbisfileSays)
{
	const OggFile& f = MakeFile(GetParam().first, GetParam().second);
	BMemoryIO source(f.bytes.data(), f.bytes.size());
	Open o(&source);
	ASSERT_EQ(o.status, B_OK);
	const size_t frameBytes = 2 * f.channels;
	for (int64 target : {int64(0), int64(1), int64(12345), int64(f.rate * 2 + 7)}) {
		Reference ref(f.bytes);
		ASSERT_TRUE(ref.opened);
		ASSERT_EQ(ov_pcm_seek(&ref.vf, target), 0);
		int64 frame = target;
		bigtime_t time = -1;
		off_t pos = -1;
		int32 size = 0;
		bool done = false;
		ASSERT_EQ(o.x->Seek(0, o.cookie, B_SEEK_BY_FRAME, 0, &time, &frame, &pos, nullptr, &size, &done),
		          B_OK);
		EXPECT_TRUE(done);
		EXPECT_EQ(size, 4096);
		EXPECT_EQ(frame, ov_pcm_tell(&ref.vf));
		EXPECT_EQ(frame, target);
		EXPECT_EQ(pos, ov_raw_tell(&ref.vf));
		EXPECT_EQ(time, frame * 1000000 / f.rate);
		const std::vector<uint8_t> rest = o.ReadToEnd();
		const std::vector<uint8_t> want(f.pcm.begin() + frame * frameBytes, f.pcm.end());
		ExpectSamePcm(rest, want);
	}
	for (bigtime_t target : {bigtime_t(0), bigtime_t(500000), bigtime_t(2345678)}) {
		Reference ref(f.bytes);
		ASSERT_EQ(ov_time_seek(&ref.vf, target / 1000000.0), 0);
		int64 frame = -1;
		bigtime_t time = target;
		off_t pos = -1;
		bool done = false;
		ASSERT_EQ(o.x->Seek(0, o.cookie, B_SEEK_BY_TIME, 0, &time, &frame, &pos, nullptr, nullptr, &done),
		          B_OK);
		EXPECT_EQ(frame, ov_pcm_tell(&ref.vf));
		EXPECT_EQ(pos, ov_raw_tell(&ref.vf));
		EXPECT_EQ(time, frame * 1000000 / f.rate);
		EXPECT_LE(std::llabs(time - target), 1000000 / f.rate + 1);
		const std::vector<uint8_t> rest = o.ReadToEnd();
		const std::vector<uint8_t> want(f.pcm.begin() + frame * frameBytes, f.pcm.end());
		ExpectSamePcm(rest, want);
	}
	int64 frame = 0;
	bigtime_t time = 0;
	off_t pos = 0;
	EXPECT_EQ(o.x->Seek(0, o.cookie, 3, 0, &time, &frame, &pos, nullptr, nullptr, nullptr), B_BAD_VALUE);
	frame = INT64_C(1) << 40;  // past the end
	EXPECT_NE(o.x->Seek(0, o.cookie, B_SEEK_BY_FRAME, 0, &time, &frame, &pos, nullptr, nullptr, nullptr),
	          B_OK);
}

INSTANTIATE_TEST_SUITE_P(RatesAndChannels, OggExtractorFiles,
                         testing::Values(std::make_pair(44100, 2), std::make_pair(48000, 1)));

TEST(OggExtractor, RefusesForeignAndUnpositionableSources)
{
	Pipe pipe;
	BPrivate::Extractor* x = NewExtractor(&pipe);
	ASSERT_NE(x, nullptr);
	int32 streams = 0, chunk = 0;
	EXPECT_EQ(x->Sniff(&streams, &chunk), B_IO_ERROR);
	delete x;

	std::vector<uint8_t> junk(20000);
	for (size_t i = 0; i < junk.size(); i++)
		junk[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
	const char riff[] = "RIFF\x24\0\0\0WAVEfmt ";
	memcpy(junk.data(), riff, sizeof riff - 1);
	for (size_t length : {size_t(0), size_t(4), size_t(100), junk.size()}) {
		BMemoryIO source(junk.data(), length);
		Open o(&source);
		ASSERT_NE(o.x, nullptr);
		EXPECT_EQ(o.status, B_BAD_TYPE);
		media_format format;
		EXPECT_EQ(o.x->TrackInfo(0, &format, nullptr, nullptr), B_NO_INIT);
	}
}

TEST(OggExtractor, TruncatedFilesGiveAPrefixOrARefusal)
{
	const OggFile& f = MakeFile(44100, 2, true);
	for (size_t length : {size_t(30), size_t(3000), size_t(5000), f.bytes.size() / 3, f.bytes.size() - 1}) {
		BMemoryIO source(f.bytes.data(), std::min(length, f.bytes.size()));
		Open o(&source);
		ASSERT_NE(o.x, nullptr);
		if (o.status != B_OK) {
			EXPECT_EQ(o.status, B_BAD_TYPE) << length;
			continue;
		}
		const std::vector<uint8_t> got = o.ReadToEnd();
		ASSERT_LE(got.size(), f.pcm.size()) << length;
		const std::vector<uint8_t> want(f.pcm.begin(), f.pcm.begin() + got.size());
		ExpectSamePcm(got, want);
		if (length > f.bytes.size() / 4) {
			EXPECT_GT(got.size(), 0u) << length;
		}
	}
}

// Byte offsets of the Ogg pages in `data`.
std::vector<size_t> PageOffsets(const std::vector<uint8_t>& data)
{
	std::vector<size_t> pages;
	for (size_t at = 0; at + 27 <= data.size();) {
		if (memcmp(&data[at], "OggS", 4) != 0)
			break;
		const size_t segments = data[at + 26];
		size_t length = 27 + segments;
		for (size_t s = 0; s < segments && at + 27 + s < data.size(); s++)
			length += data[at + 27 + s];
		pages.push_back(at);
		at += length;
	}
	return pages;
}

TEST(OggExtractor, HoleInTheDataIsSkipped)
{
	const OggFile& f = MakeFile(44100, 2, true);
	const std::vector<size_t> pages = PageOffsets(f.bytes);
	ASSERT_GT(pages.size(), 8u);
	// Drop one audio page from the middle.
	const size_t drop = pages.size() / 2;
	std::vector<uint8_t> holed(f.bytes.begin(), f.bytes.begin() + pages[drop]);
	holed.insert(holed.end(), f.bytes.begin() + pages[drop + 1], f.bytes.end());
	// Read from a seekable source and from an unseekable one, where libvorbisfile reports the hole.
	BMemoryIO seekable(holed.data(), holed.size());
	Unseekable unseekable(holed);
	for (BPositionIO* source :
	     {static_cast<BPositionIO*>(&seekable), static_cast<BPositionIO*>(&unseekable)}) {
		Open o(source);
		ASSERT_EQ(o.status, B_OK);
		const std::vector<uint8_t> got = o.ReadToEnd();
		// Decoding went on after the hole up to the end: far more than the part before it, with the
		// stream's first samples intact.
		const size_t beforeHole = f.pcm.size() * pages[drop] / f.bytes.size();
		printf("dropped page %zu of %zu: %zu of %zu bytes of PCM read\n", drop, pages.size(), got.size(),
		       f.pcm.size());
		EXPECT_GT(got.size(), beforeHole + (f.pcm.size() - beforeHole) / 2);
		EXPECT_FALSE(o.partialInTheMiddle);
		ASSERT_GT(got.size(), 4096u);
		EXPECT_EQ(memcmp(got.data(), f.pcm.data(), 4096), 0);
	}
}

TEST(OggExtractor, UnseekableSourceIsReadButNotSought)
{
	// The source's failing Seek must be reported to libvorbisfile, which then reads the stream
	// straight through.
	const OggFile& f = MakeFile(48000, 1);
	Unseekable source(f.bytes);
	Open o(&source);
	ASSERT_EQ(o.status, B_OK);
	int64 frames = 0;
	EXPECT_NE(o.x->CountFrames(0, &frames), B_OK);
	int64 frame = 100;
	bigtime_t time = 0;
	off_t pos = 0;
	EXPECT_NE(o.x->Seek(0, o.cookie, B_SEEK_BY_FRAME, 0, &time, &frame, &pos, nullptr, nullptr, nullptr),
	          B_OK);
	ExpectSamePcm(o.ReadToEnd(), f.pcm);
}

}  // namespace
