// Words for Media Kit records: fourcc codes, format descriptions, media formats, file-format
// capabilities; shared by `codecs` and `info`.
#pragma once

#include <string>

#include "MediaDefs.h"

std::string FourCC(uint32 code);
std::string DescribeDescription(const media_format_description& d);
std::string DescribeFormat(const media_format& f);
std::string DescribeCapabilities(uint32 capabilities);
// A fixed-size name field as a string (it may lack its terminating zero).
template <size_t N>
std::string Field(const char (&text)[N])
{
	size_t n = 0;
	while (n < N && text[n])
		n++;
	return std::string(text, n);
}
