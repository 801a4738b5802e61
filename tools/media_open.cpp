// Opening media files for reading through the host: failure reasons and the first track of a kind.
#include "media_open.h"

#include "mediaconv.h"

std::string Why(const char* text, status_t status)
{
	return text && text[0] ? std::string(text) : std::string(status_text(status));
}

BMediaTrack* FindTrack(BMediaFile& file, bool video)
{
	if (file.InitCheck() != B_OK)
		throw Failure("", Why(file.ErrorText(), file.InitCheck()));
	for (int32 i = 0; i < file.CountTracks(); i++) {
		BMediaTrack* t = file.TrackAt(i);
		media_format f;
		if (t && t->InitCheck() == B_OK && t->EncodedFormat(&f) == B_OK &&
		    (video ? f.IsVideo() : f.IsAudio()))
			return t;
	}
	return nullptr;
}

ChunkSummary SummarizeChunks(BMediaTrack* track, const std::string& path)
{
	ChunkSummary summary;
	char* chunk;
	int32 size;
	media_header h;
	status_t s;
	while ((s = track->ReadChunk(&chunk, &size, &h)) == B_OK) {
		if (h.u.encoded_video.field_flags & B_MEDIA_KEY_FRAME)
			summary.keyFrames.push_back(summary.chunks);
		if (h.damage)
			summary.damaged++;
		summary.bytes += (uint64_t)size;
		summary.chunks++;
	}
	if (s != B_LAST_BUFFER_ERROR)
		throw Failure(path, "chunk " + std::to_string(summary.chunks) +
		                            " cannot be read: " + Why(track->ErrorText(), s));
	return summary;
}

BMediaTrack* FirstTrack(BMediaFile& file, const std::string& path, bool video)
{
	if (BMediaTrack* t = FindTrack(file, video))
		return t;
	throw Failure(path, video ? "has no video track" : "has no audio track");
}
