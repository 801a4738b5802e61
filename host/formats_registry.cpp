// BMediaFormats: the process-wide table of (description -> media type, encoding).
// Encodings count up from 1; a recursive lock guards the table and spans Lock()/Unlock().
#include <mutex>

#include "MediaFormats.h"
#include "formats_registry.h"

namespace {

struct Entry {
	media_format_description description;
	media_type type;
	int32 encoding;
};

struct Registry {
	std::recursive_mutex lock;
	std::vector<Entry> entries;
	int32 nextEncoding = 1;
	std::vector<media_format>* captureFormats = nullptr;
	std::vector<media_format_description>* captureDescriptions = nullptr;
};

Registry& TheRegistry()
{
	static Registry* registry = new Registry;  // lives as long as the process, add-ons included
	return *registry;
}

const Entry* FindEntry(const Registry& r, const media_format_description& d)
{
	for (const Entry& e : r.entries) {
		if (e.description == d)
			return &e;
	}
	return nullptr;
}

void SetEncoding(media_format* format, int32 encoding)
{
	if (format->type == B_MEDIA_ENCODED_AUDIO)
		format->u.encoded_audio.encoding = encoding;
	else
		format->u.encoded_video.encoding = encoding;
}

}  // namespace

void BPrivate::media::formats_set_capture(std::vector<media_format>* formats,
                                          std::vector<media_format_description>* descriptions)
{
	Registry& r = TheRegistry();
	std::lock_guard<std::recursive_mutex> guard(r.lock);
	r.captureFormats = formats;
	r.captureDescriptions = descriptions;
}

BMediaFormats::BMediaFormats() = default;
BMediaFormats::~BMediaFormats() = default;

status_t BMediaFormats::InitCheck() { return B_OK; }

status_t BMediaFormats::MakeFormatFor(const media_format_description* descriptions, int32 count,
                                      media_format* inout_format, uint32, void*)
{
	if (!descriptions || count <= 0 || !inout_format)
		return B_BAD_VALUE;
	if (inout_format->type != B_MEDIA_ENCODED_AUDIO && inout_format->type != B_MEDIA_ENCODED_VIDEO)
		return B_BAD_TYPE;
	Registry& r = TheRegistry();
	std::lock_guard<std::recursive_mutex> guard(r.lock);

	int32 encoding = 0;
	for (int32 i = 0; i < count; i++) {
		if (const Entry* e = FindEntry(r, descriptions[i])) {
			if (e->type != inout_format->type)
				return B_MISMATCHED_VALUES;
			if (!encoding)
				encoding = e->encoding;
		}
	}
	if (!encoding)
		encoding = r.nextEncoding++;
	for (int32 i = 0; i < count; i++) {
		if (!FindEntry(r, descriptions[i]))
			r.entries.push_back({descriptions[i], inout_format->type, encoding});
		if (r.captureDescriptions)
			r.captureDescriptions->push_back(descriptions[i]);
	}
	SetEncoding(inout_format, encoding);
	if (r.captureFormats)
		r.captureFormats->push_back(*inout_format);
	return B_OK;
}

status_t BMediaFormats::GetFormatFor(const media_format_description& description, media_format* out_format)
{
	if (!out_format)
		return B_BAD_VALUE;
	Registry& r = TheRegistry();
	std::lock_guard<std::recursive_mutex> guard(r.lock);
	const Entry* e = FindEntry(r, description);
	if (!e)
		return B_MEDIA_BAD_FORMAT;
	*out_format = media_format();
	out_format->type = e->type;
	SetEncoding(out_format, e->encoding);
	return B_OK;
}

status_t BMediaFormats::GetCodeFor(const media_format& format, media_format_family family,
                                   media_format_description* out_description)
{
	if (!out_description)
		return B_BAD_VALUE;
	int32 encoding = format.Encoding();
	if (!encoding)
		return B_MEDIA_BAD_FORMAT;
	Registry& r = TheRegistry();
	std::lock_guard<std::recursive_mutex> guard(r.lock);
	for (const Entry& e : r.entries) {
		if (e.type == format.type && e.encoding == encoding && e.description.family == family) {
			*out_description = e.description;
			return B_OK;
		}
	}
	return B_MEDIA_BAD_FORMAT;
}

bool BMediaFormats::Lock()
{
	TheRegistry().lock.lock();
	return true;
}

void BMediaFormats::Unlock() { TheRegistry().lock.unlock(); }
