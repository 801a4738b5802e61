// BMediaFile: choosing a reader (built-in tables, then add-on extractors by Sniff) or a writer
// (built-in, then add-on, by file format), making tracks, and the commit and close of written files.
#include <cstring>

#include "ContainerTable.h"
#include "File.h"
#include "MediaFormats.h"
#include "MediaTags.h"
#include "media_file_impl.h"

using namespace BPrivate;
using namespace BPrivate::media;

status_t BMediaFile::Impl::Note(status_t s, const std::string& message)
{
	if (error.empty())
		error = name + ": " + message;
	return s;
}

status_t BMediaFile::Impl::Fail(status_t s, const std::string& message)
{
	if (status == B_OK || status == B_NO_INIT)
		status = s;
	return Note(s, message);
}

BMediaFile::Impl::~Impl()
{
	for (BMediaTrack* t : tracks)
		delete t;
	tracks.clear();
	extractor.reset();
	writer.reset();
}

namespace {

// Opens the source with every reader in turn; B_OK with `impl->extractor` set, or the error.
status_t OpenForReading(BMediaFile::Impl* impl)
{
	int32 count;
	const builtin_reader* readers = builtin_readers(&count);
	std::vector<std::pair<std::string, instantiate_extractor_func>> candidates;
	for (int32 i = 0; i < count; i++)
		candidates.emplace_back(readers[i].name, readers[i].instantiate);
	for (LoadedAddOn* a : addons_of_kind(B_EXTRACTOR_ADDON))
		candidates.emplace_back(a->path, a->instantiateExtractor);

	for (auto& [name, instantiate] : candidates) {
		std::unique_ptr<Extractor> x(instantiate());
		if (!x)
			continue;
		impl->io->Seek(0, SEEK_SET);
		x->SetSource(impl->io);
		int32 streams = 0, chunkSize = 0;
		status_t status = x->Sniff(&streams, &chunkSize);
		if (status == B_BAD_DATA) {
			const char* why = nullptr;
			if (x->Perform(B_PERFORM_GET_ERROR_TEXT, &why) != B_OK || !why)
				why = "damaged file";
			media_file_format mfi{};
			std::string kind = x->GetFileFormatInfo(&mfi) == B_OK && mfi.pretty_name[0]
			                           ? std::string(mfi.pretty_name, strnlen(mfi.pretty_name, 64))
			                           : name + " file";
			return impl->Fail(B_BAD_DATA, "not a valid " + kind + ": " + why);
		}
		if (status != B_OK)
			continue;
		if (streams < 0)
			return impl->Fail(B_BAD_DATA, name + " reports a negative stream count");
		if (x->GetFileFormatInfo(&impl->fileFormat) != B_OK)
			impl->fileFormat = media_file_format{};
		impl->streamCount = streams;
		impl->extractor = std::move(x);
		impl->tracks.assign((size_t)streams, nullptr);
		return B_OK;
	}
	return impl->Fail(B_MEDIA_BAD_FORMAT, "no reader recognises this file");
}

// A family alone names a format, except the misc family, which holds unrelated ones: a built-in
// writer there is chosen only by its short name, so that asking for the family alone still finds the
// add-on writer it always found.
bool SameFileFormat(const media_file_format& offered, const media_file_format& wanted, bool builtin)
{
	if (offered.family != wanted.family)
		return false;
	if (!wanted.short_name[0])
		return !builtin || offered.family != B_MISC_FORMAT_FAMILY;
	return strncmp(offered.short_name, wanted.short_name, sizeof(wanted.short_name)) == 0;
}

status_t OpenForWriting(BMediaFile::Impl* impl, const media_file_format* mfi)
{
	if (!mfi)
		return impl->Fail(B_BAD_VALUE, "no file format given");
	media_file_format info;
	int32 count;
	const builtin_writer* writers = builtin_writers(&count);
	for (int32 i = 0; i < count && !impl->writer; i++) {
		if (writers[i].get_info(&info) == B_OK && SameFileFormat(info, *mfi, true)) {
			impl->writer.reset(writers[i].instantiate());
			impl->writerAccepts = writers[i].accepts;
			impl->writerName = writers[i].name;
			impl->fileFormat = info;
		}
	}
	for (LoadedAddOn* a : addons_of_kind(B_WRITER_ADDON)) {
		if (impl->writer)
			break;
		if (a->writerInfo(&info) == B_OK && SameFileFormat(info, *mfi, false)) {
			impl->writer.reset(a->instantiateWriter());
			impl->writerAccepts = a->acceptsFormat;
			impl->writerName = a->path;
			impl->fileFormat = info;
		}
	}
	if (!impl->writer)
		return impl->Fail(B_MEDIA_BAD_FORMAT,
		                  std::string("no writer for file format \"") + mfi->short_name + "\"");
	status_t status = impl->writer->SetSource(impl->io);
	if (status != B_OK)
		return impl->Fail(status, impl->writerName + " refuses the output: " + status_text(status));
	return B_OK;
}

// Runs the set-up of a new file's state: if it throws (out of memory), the state is freed, since no
// destructor runs for a constructor that throws.
template <typename SetUpSteps>
void SetUp(BMediaFile::Impl* impl, SetUpSteps&& steps)
{
	try {
		steps();
	} catch (...) {
		delete impl;
		throw;
	}
}

}  // namespace

BMediaFile::BMediaFile(const char* path) : fImpl(new Impl)
{
	SetUp(fImpl, [&] {
		fImpl->owner = this;
		fImpl->name = path ? path : "(null)";
		auto file = std::make_unique<BFile>(path, B_READ_ONLY);
		if (file->InitCheck() != B_OK) {
			fImpl->Fail(file->InitCheck(), std::string("cannot open: ") + status_text(file->InitCheck()));
			return;
		}
		fImpl->io = file.get();
		fImpl->ownedIO = std::move(file);
		fImpl->status = OpenForReading(fImpl);
	});
}

BMediaFile::BMediaFile(BPositionIO* source) : fImpl(new Impl)
{
	SetUp(fImpl, [&] {
		fImpl->owner = this;
		fImpl->name = "stream";
		fImpl->io = source;
		fImpl->status = source ? OpenForReading(fImpl) : fImpl->Fail(B_BAD_VALUE, "no source");
	});
}

BMediaFile::BMediaFile(const char* path, const media_file_format* mfi, int32) : fImpl(new Impl)
{
	SetUp(fImpl, [&] {
		fImpl->owner = this;
		fImpl->name = path ? path : "(null)";
		fImpl->writing = true;
		auto file = std::make_unique<BFile>(path, B_READ_WRITE | B_CREATE_FILE | B_ERASE_FILE);
		if (file->InitCheck() != B_OK) {
			fImpl->Fail(file->InitCheck(), std::string("cannot create: ") + status_text(file->InitCheck()));
			return;
		}
		fImpl->io = file.get();
		fImpl->ownedIO = std::move(file);
		fImpl->status = OpenForWriting(fImpl, mfi);
	});
}

BMediaFile::BMediaFile(BPositionIO* destination, const media_file_format* mfi, int32) : fImpl(new Impl)
{
	SetUp(fImpl, [&] {
		fImpl->owner = this;
		fImpl->name = "stream";
		fImpl->writing = true;
		fImpl->io = destination;
		fImpl->status = destination ? OpenForWriting(fImpl, mfi) : fImpl->Fail(B_BAD_VALUE, "no destination");
	});
}

BMediaFile::~BMediaFile()
{
	if (fImpl->writing && fImpl->status == B_OK && !fImpl->closed)
		CloseFile();
	delete fImpl;
}

status_t BMediaFile::InitCheck() const { return fImpl->status; }

const char* BMediaFile::ErrorText() const { return fImpl->error.c_str(); }

status_t BMediaFile::GetFileFormatInfo(media_file_format* mfi) const
{
	if (fImpl->status != B_OK)
		return fImpl->status;
	*mfi = fImpl->fileFormat;
	return B_OK;
}

int32 BMediaFile::CountTracks() const { return (int32)fImpl->tracks.size(); }

BMediaTrack* BMediaFile::TrackAt(int32 index)
{
	if (fImpl->status != B_OK || index < 0 || index >= CountTracks())
		return nullptr;
	BMediaTrack*& slot = fImpl->tracks[index];
	if (!slot && !fImpl->writing) {
		// The track owns its Impl once it exists; until then a failed allocation must not lose it.
		auto impl = std::make_unique<BMediaTrack::Impl>();
		BMediaTrack::Impl* t = impl.get();
		t->file = fImpl;
		t->index = index;
		slot = new BMediaTrack(t);
		impl.release();
		t->SetUpReading();
	}
	return slot;
}

status_t BMediaFile::ReleaseTrack(BMediaTrack* track)
{
	for (BMediaTrack*& t : fImpl->tracks) {
		if (t && t == track) {
			if (fImpl->writing)
				return B_NOT_ALLOWED;  // a written track lives until the file is closed
			delete t;
			t = nullptr;
			return B_OK;
		}
	}
	return B_BAD_VALUE;
}

status_t BMediaFile::ReleaseAllTracks()
{
	if (fImpl->writing)
		return B_NOT_ALLOWED;
	for (BMediaTrack*& t : fImpl->tracks) {
		delete t;
		t = nullptr;
	}
	return B_OK;
}

BMediaTrack* BMediaFile::CreateTrack(media_format* format, uint32 flags)
{
	return CreateTrack(format, nullptr, flags);
}

namespace {

bool Accepts(BMediaFile::Impl* f, const media_format& format)
{
	return !f->writerAccepts || f->writerAccepts(&format) == B_OK;
}

bool SameCodec(const media_codec_info& a, const media_codec_info& b)
{
	return strncmp(a.pretty_name, b.pretty_name, sizeof(a.pretty_name)) == 0 &&
	       strncmp(a.short_name, b.short_name, sizeof(a.short_name)) == 0;
}

// An encoder from `addOn` set up for `input` in files of `file`; null if it does not take it, with
// *outOfMemory set when it could not be made or set up for want of memory.
std::unique_ptr<Encoder> MakeEncoder(LoadedAddOn* addOn, BMediaFile::Impl* f, media_format* input,
                                     media_format* output, bool* outOfMemory)
{
	std::unique_ptr<Encoder> e(addOn->instantiateEncoder());
	if (!e) {
		*outOfMemory = true;
		return nullptr;
	}
	const status_t status = try_encoder_format(e.get(), f->fileFormat, input, output);
	if (status == B_NO_MEMORY)
		*outOfMemory = true;
	if (status != B_OK || !Accepts(f, *output))
		return nullptr;
	return e;
}

}  // namespace

BMediaTrack* BMediaFile::CreateTrack(media_format* format, const media_codec_info* codec, uint32)
{
	Impl* f = fImpl;
	if (f->status != B_OK || !f->writing)
		return nullptr;
	if (f->committed) {
		f->Note(B_NOT_ALLOWED, "tracks must be created before the header is committed");
		return nullptr;
	}
	if (!format) {
		f->Note(B_BAD_VALUE, "CreateTrack without a format");
		return nullptr;
	}
	// As in TrackAt: the Impl is owned here until the track that takes it exists.
	auto impl = std::make_unique<BMediaTrack::Impl>();
	BMediaTrack::Impl* t = impl.get();
	t->file = f;
	t->index = (int32)f->tracks.size();
	struct Deleter {
		void operator()(BMediaTrack* p) const { delete p; }
	};
	std::unique_ptr<BMediaTrack, Deleter> track(new BMediaTrack(t));
	impl.release();

	media_format input = *format;
	fill_row_bytes(&input);
	const bool raw = input.type == B_MEDIA_RAW_AUDIO || input.type == B_MEDIA_RAW_VIDEO;
	if (codec || (raw && !Accepts(f, input))) {
		if (!raw) {
			f->Note(B_BAD_TYPE, "an encoder needs a raw audio or video format");
			return nullptr;
		}
		media_format in, out;
		bool outOfMemory = false;
		for (LoadedAddOn* a : addons_of_kind(B_ENCODER_ADDON)) {
			if (codec) {
				addon_query_info(a);
				if (!a->hasCodecInfo || !SameCodec(a->codecInfo, *codec))
					continue;
			}
			in = input;
			t->encoder = MakeEncoder(a, f, &in, &out, &outOfMemory);
			if (t->encoder)
				break;
		}
		if (!t->encoder && outOfMemory) {
			f->Note(B_NO_MEMORY, "out of memory: the encoder could not be set up");
			return nullptr;
		}
		if (!t->encoder) {
			f->Note(B_MEDIA_BAD_FORMAT, codec ? std::string("encoder \"") + codec->pretty_name +
			                                            "\" is not loaded or cannot write this format to " +
			                                            f->fileFormat.short_name + " files"
			                                  : std::string("no encoder writes this format to ") +
			                                            f->fileFormat.short_name + " files");
			return nullptr;
		}
		t->encoder->SetChunkWriter(t);
		t->encoder->SetTrack(track.get());
		t->offered = input;
		t->raw = in;
		t->encoded = out;
	} else {
		if (!Accepts(f, input)) {
			f->Note(B_MEDIA_BAD_FORMAT, f->writerName + " does not take this format");
			return nullptr;
		}
		t->raw = input;
		t->encoded = input;
		t->rawTrack = raw;
	}
	t->status = B_OK;
	status_t status = f->writer->AddTrack(track.get());
	if (status != B_OK) {
		f->Note(status, f->writerName + " refuses the track: " + status_text(status));
		return nullptr;
	}
	f->tracks.push_back(track.get());
	if (t->encoder) {
		if (!f->tags.IsEmpty())
			t->encoder->Perform(B_PERFORM_SET_TAGS, &f->tags);
		status = t->encoder->AttachedToTrack();
		if (status != B_OK) {
			// The writer holds the track now; it stays, unusable, and the caller gets nothing.
			t->status = t->Fail(status, std::string("encoder set-up failed: ") + status_text(status));
			f->Note(status, t->error);
			track.release();
			return nullptr;
		}
	}
	if (t->encoder)
		*format = t->raw;
	return track.release();
}

status_t BMediaFile::GetMetaData(BMessage* tags) const
{
	Impl* f = fImpl;
	if (!tags)
		return B_BAD_VALUE;
	if (f->status != B_OK)
		return f->status;
	tags->MakeEmpty();
	if (f->writing) {
		*tags = f->tags;
		return B_OK;
	}
	// A reader that keeps no tags has none to give.
	if (f->extractor->Perform(B_PERFORM_GET_TAGS, tags) != B_OK)
		tags->MakeEmpty();
	return B_OK;
}

status_t BMediaFile::SetMetaData(const BMessage* tags)
{
	Impl* f = fImpl;
	if (!tags)
		return B_BAD_VALUE;
	if (f->status != B_OK || !f->writing)
		return f->status != B_OK ? f->status : B_NOT_ALLOWED;
	if (f->committed)
		return f->Note(B_NOT_ALLOWED, "tags must be set before the header is committed");
	f->tags = *tags;
	// Writers and encoders without tags refuse the request; that is no error.
	f->writer->Perform(B_PERFORM_SET_TAGS, &f->tags);
	for (BMediaTrack* track : f->tracks) {
		if (track->fImpl->encoder)
			track->fImpl->encoder->Perform(B_PERFORM_SET_TAGS, &f->tags);
	}
	return B_OK;
}

status_t BMediaFile::AddCopyright(const char* text)
{
	if (fImpl->status != B_OK || !fImpl->writing)
		return fImpl->status != B_OK ? fImpl->status : B_NOT_ALLOWED;
	return fImpl->writer->AddCopyright(text);
}

status_t BMediaFile::AddChunk(int32 type, const void* data, size_t size)
{
	if (fImpl->status != B_OK || !fImpl->writing)
		return fImpl->status != B_OK ? fImpl->status : B_NOT_ALLOWED;
	return fImpl->writer->AddChunk(type, data, size);
}

status_t BMediaFile::CommitHeader()
{
	Impl* f = fImpl;
	if (f->status != B_OK || !f->writing)
		return f->status != B_OK ? f->status : B_NOT_ALLOWED;
	if (f->committed)
		return B_OK;
	for (BMediaTrack* track : f->tracks) {
		BMediaTrack::Impl* t = track->fImpl;
		if (t->encoder && !t->started && t->status == B_OK) {
			status_t status = t->encoder->StartEncoder();
			if (status != B_OK)
				return f->Fail(status, "track " + std::to_string(t->index) +
				                               ": StartEncoder failed: " + status_text(status));
			t->started = true;
		}
	}
	status_t status = f->writer->CommitHeader();
	if (status != B_OK)
		return f->Fail(status, std::string("writing the header failed: ") + status_text(status));
	f->committed = true;
	return B_OK;
}

status_t BMediaFile::CloseFile()
{
	Impl* f = fImpl;
	if (f->status != B_OK || !f->writing)
		return f->status != B_OK ? f->status : B_NOT_ALLOWED;
	if (f->closed)
		return B_OK;
	status_t first = CommitHeader();
	for (BMediaTrack* track : f->tracks) {
		status_t status = track->Flush();
		if (first == B_OK)
			first = status;
	}
	status_t status = f->writer->CloseFile();
	f->closed = true;
	if (status != B_OK)
		f->Fail(status, std::string("finishing the file failed: ") + status_text(status));
	return first != B_OK ? first : status;
}
