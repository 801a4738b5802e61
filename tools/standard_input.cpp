// Standard input behind a cookie stream that hands out the bytes read ahead before the rest.
#include "standard_input.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

struct Ahead {
	std::string bytes;  // read from descriptor 0 and not yet handed out
	size_t given = 0;
	FILE* stream = nullptr;
};

Ahead& State()
{
	static Ahead ahead;
	return ahead;
}

ssize_t ReadInput(void*, char* buffer, size_t size)
{
	Ahead& a = State();
	if (a.given < a.bytes.size()) {
		const size_t n = std::min(size, a.bytes.size() - a.given);
		memcpy(buffer, a.bytes.data() + a.given, n);
		a.given += n;
		return (ssize_t)n;
	}
	for (;;) {
		const ssize_t n = read(0, buffer, size);
		if (n >= 0 || errno != EINTR)
			return n;
	}
}

}  // namespace

const std::string& PeekStandardInput(size_t count)
{
	Ahead& a = State();
	while (a.bytes.size() < count && !a.given) {
		char buffer[256];
		const ssize_t n = read(0, buffer, std::min(sizeof buffer, count - a.bytes.size()));
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			break;
		a.bytes.append(buffer, (size_t)n);
	}
	return a.bytes;
}

FILE* StandardInput()
{
	Ahead& a = State();
	if (!a.stream)
		a.stream = fopencookie(nullptr, "rb", cookie_io_functions_t{ReadInput, nullptr, nullptr, nullptr});
	return a.stream;
}
