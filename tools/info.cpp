// `mediaconv info`: what a file holds. Movies and audio files are opened through the host (codec
// names as the add-ons give them); Y4M files and PNG sequences through the tool's own readers.
#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "MediaFile.h"
#include "MediaTags.h"
#include "Message.h"
#include "MediaTrack.h"
#include "console.h"
#include "describe.h"
#include "formats.h"
#include "mediaconv.h"
#include "video_io.h"

namespace {

void PrintRate(FILE* out, const char* label, uint64_t bytes, double seconds)
{
	if (seconds > 0)
		fprintf(out, "%-12s%.1f kb/s\n", label, bytes * 8.0 / seconds / 1000.0);
}

void VideoTrack(FILE* out, const std::string& path, BMediaTrack* track, const media_format& f)
{
	const media_raw_video_format& v = f.u.encoded_video.output;
	fprintf(out, "  %-12s%ux%u at %.3f fps\n", "picture:", v.display.line_width, v.display.line_count,
	        v.field_rate);
	fprintf(out, "  %-12s%" PRId64 "\n", "frames:", track->CountFrames());
	fprintf(out, "  %-12s%.3f s\n", "duration:", track->Duration() / 1e6);
	// Key frames and the stream's size come from the chunks themselves.
	int64_t keys = 0, chunks = 0, damaged = 0;
	uint64_t bytes = 0;
	std::string firstKeys;
	char* chunk;
	int32 size;
	media_header h;
	status_t s;
	while ((s = track->ReadChunk(&chunk, &size, &h)) == B_OK) {
		if (h.u.encoded_video.field_flags & B_MEDIA_KEY_FRAME) {
			if (keys < 8)
				firstKeys += (keys ? ", " : "") + std::to_string(chunks);
			keys++;
		}
		if (h.damage)
			damaged++;
		bytes += (uint64_t)size;
		chunks++;
	}
	if (s != B_LAST_BUFFER_ERROR)
		throw Failure(path, "chunk " + std::to_string(chunks) + " cannot be read: " +
		                            (track->ErrorText()[0] ? track->ErrorText() : status_text(s)));
	fprintf(out, "  %-12s%" PRId64 "%s%s%s\n", "key frames:", keys, keys ? " (frame " : "", firstKeys.c_str(),
	        keys > 8 ? ", ...)"
	        : keys   ? ")"
	                 : "");
	fprintf(out, "  %-12s%" PRIu64 " bytes\n", "stream:", bytes);
	if (damaged)
		fprintf(out, "  %-12s%" PRId64 " chunk%s where the file holds no media data\n", "damaged:", damaged,
		        damaged == 1 ? "" : "s");
	if (track->Duration() > 0)
		fprintf(out, "  %-12s%.1f kb/s\n", "bit rate:", bytes * 8.0 / (track->Duration() / 1e6) / 1000.0);
}

void AudioTrack(FILE* out, BMediaTrack* track, const media_format& f)
{
	const media_raw_audio_format& a = f.type == B_MEDIA_RAW_AUDIO
	                                          ? (const media_raw_audio_format&)f.u.raw_audio
	                                          : f.u.encoded_audio.output;
	// Coded samples (G.723 in WAV) have no sample size of their own, only a data rate.
	const uint32 bits = 8 * (a.format & media_raw_audio_format::B_AUDIO_SIZE_MASK);
	const int16 valid = f.type == B_MEDIA_RAW_AUDIO ? f.u.raw_audio.valid_bits : 0;
	char depth[48];
	if (a.format == media_raw_audio_format::B_AUDIO_FLOAT)
		snprintf(depth, sizeof depth, "32-bit float");
	else if (bits)
		snprintf(depth, sizeof depth, "%u-bit", valid > 0 && (uint32)valid < bits ? (uint32)valid : bits);
	else
		snprintf(depth, sizeof depth, "coded at %.1f kb/s", f.u.encoded_audio.bit_rate / 1000.0);
	fprintf(out, "  %-12s%.0f Hz, %u channel%s, %s\n", "audio:", a.frame_rate, a.channel_count,
	        a.channel_count == 1 ? "" : "s", depth);
	fprintf(out, "  %-12s%" PRId64 " sample frames\n", "frames:", track->CountFrames());
	fprintf(out, "  %-12s%.3f s\n", "duration:", track->Duration() / 1e6);
}

void HostFile(FILE* out, const std::string& path, uint64_t size)
{
	BMediaFile file(path.c_str());
	if (file.InitCheck() != B_OK)
		throw Failure("", file.ErrorText()[0] ? file.ErrorText() : status_text(file.InitCheck()));
	media_file_format mfi{};
	file.GetFileFormatInfo(&mfi);
	fprintf(out, "%-12s%s (%s)\n", "container:", Field(mfi.pretty_name).c_str(),
	        Field(mfi.short_name).c_str());
	fprintf(out, "%-12s%" PRIu64 " bytes\n", "size:", size);
	fprintf(out, "%-12s%d\n", "tracks:", file.CountTracks());
	bigtime_t longest = 0;
	for (int32 i = 0; i < file.CountTracks(); i++) {
		BMediaTrack* track = file.TrackAt(i);
		media_format f;
		if (!track || track->InitCheck() != B_OK || track->EncodedFormat(&f) != B_OK) {
			fprintf(out, "track %d:   unreadable: %s\n", i, track ? track->ErrorText() : "no track");
			continue;
		}
		media_codec_info codec{};
		const status_t known = track->GetCodecInfo(&codec);
		if (known == B_NO_MEMORY)
			throw std::bad_alloc();
		std::string name = known == B_OK ? Field(codec.short_name) + " (" + Field(codec.pretty_name) + ")"
		                                 : "no decoder loaded";
		fprintf(out, "track %d:   %s, %s\n", i,
		        f.IsVideo()   ? "video"
		        : f.IsAudio() ? "audio"
		                      : "other",
		        name.c_str());
		if (track->DamageText()[0])
			fprintf(out, "  %-12s%s\n", "damaged:", track->DamageText());
		longest = std::max(longest, track->Duration());
		if (f.type == B_MEDIA_ENCODED_VIDEO)
			VideoTrack(out, path, track, f);
		else if (f.IsAudio())
			AudioTrack(out, track, f);
	}
	BMessage tags;
	if (file.GetMetaData(&tags) == B_OK) {
		for (const char* name : kMediaTagNames) {
			const char* value;
			for (int32 k = 0; tags.FindString(name, &value, k) == B_OK; k++)
				fprintf(out, "%-12s%s\n", (std::string(name) + ":").c_str(), value);
		}
	}
	fprintf(out, "%-12s%.3f s\n", "duration:", longest / 1e6);
	PrintRate(out, "bit rate:", size, longest / 1e6);
}

void OwnFile(FILE* out, const std::string& path, FileKind kind, uint64_t size, const Options& options)
{
	std::unique_ptr<VideoReader> reader =
	        kind == FileKind::Y4m ? OpenY4mReader(path) : OpenPngReader(path, options);
	const VideoParams& p = reader->Params();
	fprintf(out, "%-12s%s\n", "container:", KindName(kind));
	if (size)
		fprintf(out, "%-12s%" PRIu64 " bytes\n", "size:", size);
	fprintf(out, "%-12s1\n", "tracks:");
	fprintf(out, "track 0:   video, uncompressed\n");
	fprintf(out, "  %-12s%ux%u at %.3f fps (%u:%u)\n", "picture:", p.width, p.height, p.Rate(), p.rateNum,
	        p.rateDen);
	if (p.frames >= 0) {
		fprintf(out, "  %-12s%" PRId64 " (every one a key frame)\n", "frames:", p.frames);
		fprintf(out, "%-12s%.3f s\n", "duration:", p.frames / p.Rate());
		if (size)
			PrintRate(out, "bit rate:", size, p.frames / p.Rate());
	} else {
		fprintf(out, "  %-12sunknown (frame headers carry parameters)\n", "frames:");
	}
}

}  // namespace

void RunInfo(const std::string& path, const Options& options)
{
	const FileKind kind = FileKindOf(path);
	struct stat st {};
	const bool pattern = kind == FileKind::PngSequence;
	if (!pattern || path.find('%') == std::string::npos) {
		if (stat(path.c_str(), &st) != 0)
			throw Failure(path,
			              errno == ENOENT ? "no such file" : std::string("cannot open: ") + strerror(errno));
		if (!S_ISDIR(st.st_mode) && st.st_size == 0)
			throw Failure(path, "is empty");
	}
	// The description is collected first, so a file that turns out bad prints nothing but the error.
	char* text = nullptr;
	size_t length = 0;
	FILE* out = open_memstream(&text, &length);
	if (!out)
		throw Failure(path, "out of memory");
	try {
		fprintf(out, "%-12s%s\n", "file:", path.c_str());
		const uint64_t size = S_ISREG(st.st_mode) ? (uint64_t)st.st_size : 0;
		if (kind == FileKind::Y4m || pattern)
			OwnFile(out, path, kind, size, options);
		else
			HostFile(out, path, size);
	} catch (...) {
		fclose(out);
		free(text);
		throw;
	}
	fclose(out);
	fwrite(text, 1, length, Console::Out());
	free(text);
}
