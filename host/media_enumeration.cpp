// get_next_file_format and get_next_encoder: the Media Kit's enumerations of writable file formats
// and of encoders, over the built-in writers and the loaded add-ons.
#include <memory>

#include "ContainerTable.h"
#include "MediaFormats.h"
#include "addon_registry.h"

using namespace BPrivate;
using namespace BPrivate::media;

status_t get_next_file_format(int32* cookie, media_file_format* mfi)
{
	if (!cookie || !mfi || *cookie < 0)
		return B_BAD_VALUE;
	int32 count;
	const builtin_writer* writers = builtin_writers(&count);
	std::vector<LoadedAddOn*> addOns = addons_of_kind(B_WRITER_ADDON);
	while (*cookie < count + (int32)addOns.size()) {
		int32 i = (*cookie)++;
		status_t status = i < count ? writers[i].get_info(mfi) : addOns[i - count]->writerInfo(mfi);
		if (status == B_OK)
			return B_OK;
	}
	return B_BAD_INDEX;
}

status_t get_next_encoder(int32* cookie, const media_file_format* mfi, const media_format* input,
                          media_format* output, media_codec_info* ei)
{
	if (!cookie || *cookie < 0)
		return B_BAD_VALUE;
	std::vector<LoadedAddOn*> addOns = addons_of_kind(B_ENCODER_ADDON);
	while (*cookie < (int32)addOns.size()) {
		LoadedAddOn* a = addOns[(*cookie)++];
		addon_query_info(a);
		if (!a->hasCodecInfo)
			continue;
		if (input) {
			std::unique_ptr<Encoder> e(a->instantiateEncoder());
			if (!e)
				continue;
			media_file_format file = mfi ? *mfi : media_file_format{};
			media_format in = *input, out;
			if (try_encoder_format(e.get(), file, &in, &out) != B_OK)
				continue;
			if (output)
				*output = out;
		}
		if (ei)
			*ei = a->codecInfo;
		return B_OK;
	}
	return B_BAD_INDEX;
}
