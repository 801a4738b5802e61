// RIFF INFO tags: the four-letter ids of the tags WAV files carry and their reading and writing.
#include "riff_tags.h"

#include <cstring>
#include <string>

namespace BPrivate::media {

namespace {

struct InfoId {
	const char* tag;
	char id[5];
};

const InfoId kIds[] = {
        {"title", "INAM"}, {"artist", "IART"},  {"album", "IPRD"},       {"date", "ICRD"},
        {"genre", "IGNR"}, {"comment", "ICMT"}, {"tracknumber", "ITRK"}, {"copyright", "ICOP"},
};

uint32 Le32(const uint8* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32>(p[3]) << 24; }

void PutLE32(std::vector<uint8>* v, uint32 x)
{
	for (int i = 0; i < 4; i++)
		v->push_back(static_cast<uint8>(x >> (8 * i)));
}

}  // namespace

void read_riff_info_tags(const uint8* list, size_t size, BMessage* tags)
{
	if (size < 4 || memcmp(list, "INFO", 4) != 0)
		return;
	for (size_t at = 4; at + 8 <= size;) {
		const uint32 length = Le32(list + at + 4);
		if (length > size - at - 8)
			return;
		const char* text = reinterpret_cast<const char*>(list + at + 8);
		for (const InfoId& i : kIds) {
			if (memcmp(list + at, i.id, 4) == 0) {
				// Stored with a terminating zero, which writers do not always count.
				const std::string value(text, strnlen(text, length));
				if (!value.empty())
					tags->AddString(i.tag, value.c_str());
			}
		}
		at += 8 + length + (length & 1);
	}
}

std::vector<uint8> riff_info_chunk(const BMessage& tags)
{
	std::vector<uint8> body = {'I', 'N', 'F', 'O'};
	for (const InfoId& i : kIds) {
		const char* value;
		if (tags.FindString(i.tag, &value) != B_OK || !value[0])
			continue;
		const uint32 length = static_cast<uint32>(strlen(value) + 1);
		body.insert(body.end(), i.id, i.id + 4);
		PutLE32(&body, length);
		body.insert(body.end(), value, value + length);
		if (length & 1)
			body.push_back(0);
	}
	if (body.size() == 4)
		return {};
	std::vector<uint8> chunk = {'L', 'I', 'S', 'T'};
	PutLE32(&chunk, static_cast<uint32>(body.size()));
	chunk.insert(chunk.end(), body.begin(), body.end());
	return chunk;
}

}  // namespace BPrivate::media
