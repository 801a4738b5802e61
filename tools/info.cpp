// `mediaconv info`: what a file holds, as text or as JSON. Movies and audio files are opened through
// the host (codec names as the add-ons give them); Y4M files and PNG sequences through the tool's own
// readers.
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
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
#include "media_open.h"
#include "mediaconv.h"
#include "report.h"
#include "video_io.h"

namespace {

std::string Printed(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printed(const char* format, ...)
{
	char text[256];
	va_list args;
	va_start(args, format);
	vsnprintf(text, sizeof text, format, args);
	va_end(args);
	return text;
}

void AddBytes(Record* r, const char* label, uint64_t bytes)
{
	r->Add(label, Printed("%" PRIu64 " bytes", bytes), Json::Integer((int64_t)bytes));
}

void AddSeconds(Record* r, const char* label, double seconds)
{
	r->Add(label, Printed("%.3f s", seconds), Json::Real(seconds));
}

// Bits per second in JSON, kilobits in the text.
void AddRate(Record* r, uint64_t bytes, double seconds)
{
	if (seconds > 0)
		r->Add("bit rate", Printed("%.1f kb/s", bytes * 8.0 / seconds / 1000.0),
		       Json::Real(bytes * 8.0 / seconds));
}

void AddCodec(Record* t, const char* kind, const std::string& shortName, const std::string& prettyName)
{
	t->AddHeading("kind", kind, Json::String(kind));
	Json codec = Json::Object();
	codec.Set("short_name", Json::String(shortName));
	if (!prettyName.empty())
		codec.Set("name", Json::String(prettyName));
	t->AddHeading("codec", prettyName.empty() ? shortName : shortName + " (" + prettyName + ")",
	              std::move(codec));
}

void AddPicture(Record* t, uint32_t width, uint32_t height, double rate, uint32_t num = 0, uint32_t den = 0)
{
	Json picture = Json::Object();
	picture.Set("width", Json::Integer(width)).Set("height", Json::Integer(height));
	picture.Set("frame_rate", Json::Real(rate));
	std::string text = Printed("%ux%u at %.3f fps", width, height, rate);
	if (den) {
		picture.Set("rate_numerator", Json::Integer(num)).Set("rate_denominator", Json::Integer(den));
		text += Printed(" (%u:%u)", num, den);
	}
	t->Add("picture", text, std::move(picture));
}

// Interlacing, pixel aspect and colour range, each where it is known.
void AddTags(Record* t, const PictureTags& tags)
{
	if (tags.interlace != Interlace::Unknown)
		t->Add("interlacing", InterlaceName(tags.interlace), Json::String(InterlaceName(tags.interlace)));
	if (tags.aspectNum && tags.aspectDen) {
		Json aspect = Json::Object();
		aspect.Set("width", Json::Integer(tags.aspectNum)).Set("height", Json::Integer(tags.aspectDen));
		t->Add("pixel aspect", Printed("%u:%u", tags.aspectNum, tags.aspectDen), std::move(aspect));
	}
	if (tags.range != ColourRange::Unknown)
		t->Add("colour range", RangeName(tags.range), Json::String(RangeName(tags.range)));
}

void VideoTrack(Record* t, const std::string& path, BMediaTrack* track, const media_format& f)
{
	const media_raw_video_format& v = f.u.encoded_video.output;
	AddPicture(t, v.display.line_width, v.display.line_count, v.field_rate);
	AddTags(t, TagsOf(v));
	t->Add("frames", std::to_string(track->CountFrames()), Json::Integer(track->CountFrames()));
	AddSeconds(t, "duration", track->Duration() / 1e6);
	// Key frames and the stream's size come from the chunks themselves.
	const ChunkSummary chunks = SummarizeChunks(track, path);
	const std::vector<int64_t>& keys = chunks.keyFrames;
	// The text names the first eight; JSON lists them all.
	std::string text = std::to_string(keys.size());
	Json list = Json::Array();
	for (size_t i = 0; i < keys.size(); i++) {
		if (i < 8)
			text += (i ? ", " : " (frame ") + std::to_string(keys[i]);
		list.Push(Json::Integer(keys[i]));
	}
	if (!keys.empty())
		text += keys.size() > 8 ? ", ...)" : ")";
	Json keyFrames = Json::Object();
	keyFrames.Set("count", Json::Integer((int64_t)keys.size())).Set("frames", std::move(list));
	t->Add("key frames", text, std::move(keyFrames));
	AddBytes(t, "stream", chunks.bytes);
	AddRate(t, chunks.bytes, track->Duration() / 1e6);
	if (chunks.damaged)
		t->Add("damaged",
		       Printed("%" PRId64 " chunk%s where the file holds no media data", chunks.damaged,
		               chunks.damaged == 1 ? "" : "s"),
		       Json::Integer(chunks.damaged));
}

void AudioTrack(Record* t, BMediaTrack* track, const media_format& f)
{
	const media_raw_audio_format& a = f.type == B_MEDIA_RAW_AUDIO
	                                          ? (const media_raw_audio_format&)f.u.raw_audio
	                                          : f.u.encoded_audio.output;
	// Coded samples (G.723 in WAV) have no sample size of their own, only a data rate.
	const uint32 bits = 8 * (a.format & media_raw_audio_format::B_AUDIO_SIZE_MASK);
	const int16 valid = f.type == B_MEDIA_RAW_AUDIO ? f.u.raw_audio.valid_bits : 0;
	Json audio = Json::Object();
	audio.Set("rate", Json::Real(a.frame_rate)).Set("channels", Json::Integer(a.channel_count));
	std::string depth;
	if (a.format == media_raw_audio_format::B_AUDIO_FLOAT) {
		depth = "32-bit float";
		audio.Set("bits", Json::Integer(32)).Set("float", Json::Integer(1));
	} else if (bits) {
		const uint32 used = valid > 0 && (uint32)valid < bits ? (uint32)valid : bits;
		depth = Printed("%u-bit", used);
		audio.Set("bits", Json::Integer(used));
	} else {
		depth = Printed("coded at %.1f kb/s", f.u.encoded_audio.bit_rate / 1000.0);
		audio.Set("coded_bit_rate", Json::Real(f.u.encoded_audio.bit_rate));
	}
	t->Add("audio",
	       Printed("%.0f Hz, %u channel%s, %s", a.frame_rate, a.channel_count,
	               a.channel_count == 1 ? "" : "s", depth.c_str()),
	       std::move(audio));
	t->Add("frames", std::to_string(track->CountFrames()) + " sample frames",
	       Json::Integer(track->CountFrames()));
	AddSeconds(t, "duration", track->Duration() / 1e6);
}

void HostFile(Record* file, const std::string& path, uint64_t size)
{
	BMediaFile media(path.c_str());
	if (media.InitCheck() != B_OK)
		throw Failure("", media.ErrorText()[0] ? media.ErrorText() : status_text(media.InitCheck()));
	media_file_format mfi{};
	media.GetFileFormatInfo(&mfi);
	file->Add("container", Field(mfi.pretty_name) + " (" + Field(mfi.short_name) + ")",
	          Json::Object()
	                  .Set("name", Json::String(Field(mfi.pretty_name)))
	                  .Set("short_name", Json::String(Field(mfi.short_name))));
	AddBytes(file, "size", size);
	file->Add("tracks", std::to_string(media.CountTracks()), Json());
	bigtime_t longest = 0;
	for (int32 i = 0; i < media.CountTracks(); i++) {
		Record t;
		BMediaTrack* track = media.TrackAt(i);
		media_format f;
		if (!track || track->InitCheck() != B_OK || track->EncodedFormat(&f) != B_OK) {
			const std::string why = track ? track->ErrorText() : "no track";
			t.AddHeading("kind", "unreadable", Json::String("unreadable"));
			t.AddHeading("error", why, Json::String(why));
			file->tracks.push_back(std::move(t));
			continue;
		}
		media_codec_info codec{};
		const char* kind = f.IsVideo() ? "video" : f.IsAudio() ? "audio" : "other";
		const status_t known = track->GetCodecInfo(&codec);
		if (known == B_NO_MEMORY)
			throw std::bad_alloc();
		if (known == B_OK)
			AddCodec(&t, kind, Field(codec.short_name), Field(codec.pretty_name));
		else
			AddCodec(&t, kind, "no decoder loaded", "");
		if (track->DamageText()[0])
			t.Add("damaged", track->DamageText(), Json::String(track->DamageText()));
		longest = std::max(longest, track->Duration());
		if (f.type == B_MEDIA_ENCODED_VIDEO)
			VideoTrack(&t, path, track, f);
		else if (f.IsAudio())
			AudioTrack(&t, track, f);
		file->tracks.push_back(std::move(t));
	}
	BMessage tags;
	if (media.GetMetaData(&tags) == B_OK) {
		for (const char* name : kMediaTagNames) {
			const char* value;
			for (int32 k = 0; tags.FindString(name, &value, k) == B_OK; k++)
				file->Add(name, value, Json::String(value));
		}
	}
	AddSeconds(file, "duration", longest / 1e6);
	AddRate(file, size, longest / 1e6);
}

void OwnFile(Record* file, const std::string& path, FileKind kind, uint64_t size, const Options& options)
{
	std::unique_ptr<VideoReader> reader =
	        kind == FileKind::Y4m ? OpenY4mReader(path) : OpenPngReader(path, options);
	const VideoParams& p = reader->Params();
	file->Add("container", KindName(kind), Json::Object().Set("name", Json::String(KindName(kind))));
	if (size)
		AddBytes(file, "size", size);
	file->Add("tracks", "1", Json());
	Record t;
	t.AddHeading("kind", "video", Json::String("video"));
	t.AddHeading("codec", "uncompressed", Json::String("uncompressed"));
	AddPicture(&t, p.width, p.height, p.Rate(), p.rateNum, p.rateDen);
	AddTags(&t, p.tags);
	if (p.frames >= 0) {
		t.Add("frames", std::to_string(p.frames) + " (every one a key frame)", Json::Integer(p.frames));
		file->tracks.push_back(std::move(t));
		AddSeconds(file, "duration", p.frames / p.Rate());
		if (size)
			AddRate(file, size, p.frames / p.Rate());
	} else {
		t.Add("frames", "unknown (frame headers carry parameters)", Json());
		file->tracks.push_back(std::move(t));
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
	// The description is complete before anything is printed, so a file that turns out bad prints
	// nothing but the error.
	Record file;
	file.Add("file", path, Json::String(path));
	const uint64_t size = S_ISREG(st.st_mode) ? (uint64_t)st.st_size : 0;
	if (kind == FileKind::Y4m || pattern)
		OwnFile(&file, path, kind, size, options);
	else
		HostFile(&file, path, size);
	if (options.json)
		PrintJson(Console::Out(), file);
	else
		PrintText(Console::Out(), file);
}
