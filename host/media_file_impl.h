// Host-internal state of BMediaFile and BMediaTrack, shared by media_file.cpp and media_track.cpp.
// A track reads through the file's extractor and writes through the file's writer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DataIO.h"
#include "MediaFile.h"
#include "MediaTrack.h"
#include "Message.h"
#include "addon_registry.h"

struct BMediaFile::Impl {
	BMediaFile* owner = nullptr;
	bool writing = false;
	status_t status = B_NO_INIT;
	std::string error;  // the first error met
	std::string name;   // path, or "stream", for messages
	std::unique_ptr<BPositionIO> ownedIO;
	BPositionIO* io = nullptr;
	media_file_format fileFormat{};
	std::vector<BMediaTrack*> tracks;  // reading: made on demand by TrackAt

	// Reading.
	std::unique_ptr<BPrivate::Extractor> extractor;
	int32 streamCount = 0;

	// Writing.
	std::unique_ptr<BPrivate::MediaWriter> writer;
	accepts_format_func writerAccepts = nullptr;
	std::string writerName;
	BMessage tags;  // what SetMetaData gave, handed to encoders made later
	bool committed = false;
	bool closed = false;

	// Keeps the first error and makes it the file's status (set-up failures); returns `status`.
	status_t Fail(status_t status, const std::string& message);
	// Keeps the first error without changing the file's status (a refused call); returns `status`.
	status_t Note(status_t status, const std::string& message);
	// Commits the header if the application has not.
	status_t self_commit() { return committed ? B_OK : owner->CommitHeader(); }
	~Impl();
};

struct BMediaTrack::Impl : BPrivate::ChunkProvider, BPrivate::ChunkWriter {
	BMediaFile::Impl* file = nullptr;
	BMediaTrack* self = nullptr;
	int32 index = 0;
	status_t status = B_NO_INIT;
	std::string error;
	media_format encoded;
	int64 frameCount = 0;
	bigtime_t duration = 0;
	int64 currentFrame = 0;
	bigtime_t currentTime = 0;

	// Reading.
	void* cookie = nullptr;
	void* trackInfo = nullptr;
	int32 trackInfoSize = 0;
	std::unique_ptr<BPrivate::Decoder> decoder;
	status_t decoderRefusal = B_OK;  // why a decoder that claims the format could not be set up
	bool formatAgreed = false;
	int64 damagedFrames = 0;
	std::string damageText;
	media_format decoded;

	// Writing.
	std::unique_ptr<BPrivate::Encoder> encoder;
	media_format offered;  // the raw format the application gave CreateTrack
	media_format raw;      // what WriteFrames takes (the encoder's adjusted input, or a raw track's format)
	bool rawTrack = false;
	bool started = false;

	~Impl() override;
	status_t Fail(status_t status, const std::string& message);
	status_t SetUpReading();
	void BoundCounts();
	status_t AgreeFormat(media_format* proposal);
	// After a setting changed: asks an audio encoder again what it takes of the offered format.
	void RenewRawFormat();

	// ChunkProvider: the decoder's chunks.
	status_t GetNextChunk(const void** chunk, size_t* size, media_header* header) override;
	// ChunkWriter: the encoder's output and track records.
	status_t WriteChunk(const void* data, size_t size, media_encode_info* info) override;
	status_t AddTrackInfo(uint32 code, const void* data, size_t size) override;
	status_t AddCopyright(const char* text) override;
};

// Bytes of one raw frame (audio: all channels of one sample instant; video: one picture), 0 if the
// format does not say.
size_t raw_frame_bytes(const media_format& format);
// Fills display.bytes_per_row of a raw video format if it is 0, from the width and colour space.
void fill_row_bytes(media_format* format);
