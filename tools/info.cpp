// `mediaconv info`: what a file holds. Movies and audio files are opened through the host (codec
// names as the add-ons give them); Y4M files and PNG sequences through the tool's own readers.
#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "MediaAddOns.h"
#include "MediaFile.h"
#include "MediaTrack.h"
#include "console.h"
#include "describe.h"
#include "formats.h"
#include "mediaconv.h"
#include "riff_wav.h"
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
	int64_t keys = 0, chunks = 0;
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
	if (track->Duration() > 0)
		fprintf(out, "  %-12s%.1f kb/s\n", "bit rate:", bytes * 8.0 / (track->Duration() / 1e6) / 1000.0);
}

void AudioTrack(FILE* out, BMediaTrack* track, const media_format& f)
{
	const media_raw_audio_format& a = f.type == B_MEDIA_RAW_AUDIO
	                                          ? (const media_raw_audio_format&)f.u.raw_audio
	                                          : f.u.encoded_audio.output;
	fprintf(out, "  %-12s%.0f Hz, %u channel%s, %u-bit\n", "audio:", a.frame_rate, a.channel_count,
	        a.channel_count == 1 ? "" : "s", 8 * (a.format & media_raw_audio_format::B_AUDIO_SIZE_MASK));
	fprintf(out, "  %-12s%" PRId64 " sample frames\n", "frames:", track->CountFrames());
	fprintf(out, "  %-12s%.3f s\n", "duration:", track->Duration() / 1e6);
}

// The codec an encoder add-on registered for a WAV format tag, "" if none.
std::string WavCodecName(uint16_t tag)
{
	std::vector<media_addon_info> loaded;
	get_media_addons(&loaded, nullptr);
	for (const media_addon_info& a : loaded) {
		for (const media_format_description& d : a.descriptions) {
			if (d.family == B_WAV_FORMAT_FAMILY && d.u.wav.codec == tag && a.has_codec_info)
				return Field(a.codec_info.short_name) + " (" + Field(a.codec_info.pretty_name) + ")";
		}
	}
	return "";
}

// A WAV file of an encoded format no reader takes (G.723 WAV): what its chunks say, and the codec
// whose encoder writes that format tag.
bool UnreadableWav(FILE* out, const std::string& path, uint64_t size)
{
	WavChunks wav;
	if (!ReadWavChunks(path, &wav) || !wav.channels || !wav.rate || !wav.bytesPerSecond)
		return false;
	const std::string codec = WavCodecName(wav.formatTag);
	char tag[16];
	snprintf(tag, sizeof tag, "0x%04x", wav.formatTag);
	const double seconds = (double)wav.data.size() / wav.bytesPerSecond;
	fprintf(out, "%-12sWAV audio (no reader in this build decodes format tag %s)\n", "container:", tag);
	fprintf(out, "%-12s%" PRIu64 " bytes\n", "size:", size);
	fprintf(out, "%-12s1\n", "tracks:");
	fprintf(out, "track 0:   audio, %s\n",
	        codec.empty() ? (std::string("format tag ") + tag).c_str() : codec.c_str());
	fprintf(out, "  %-12s%u Hz, %u channel%s\n", "audio:", wav.rate, wav.channels,
	        wav.channels == 1 ? "" : "s");
	fprintf(out, "  %-12s%zu bytes\n", "stream:", wav.data.size());
	fprintf(out, "  %-12s%.3f s\n", "duration:", seconds);
	fprintf(out, "%-12s%.3f s\n", "duration:", seconds);
	PrintRate(out, "bit rate:", wav.data.size(), seconds);
	return true;
}

void HostFile(FILE* out, const std::string& path, uint64_t size)
{
	BMediaFile file(path.c_str());
	if (file.InitCheck() != B_OK) {
		if (file.InitCheck() == B_MEDIA_BAD_FORMAT && UnreadableWav(out, path, size))
			return;
		throw Failure("", file.ErrorText()[0] ? file.ErrorText() : status_text(file.InitCheck()));
	}
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
		std::string name = track->GetCodecInfo(&codec) == B_OK
		                           ? Field(codec.short_name) + " (" + Field(codec.pretty_name) + ")"
		                           : "no decoder loaded";
		fprintf(out, "track %d:   %s, %s\n", i,
		        f.IsVideo()   ? "video"
		        : f.IsAudio() ? "audio"
		                      : "other",
		        name.c_str());
		longest = std::max(longest, track->Duration());
		if (f.type == B_MEDIA_ENCODED_VIDEO)
			VideoTrack(out, path, track, f);
		else if (f.IsAudio())
			AudioTrack(out, track, f);
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
