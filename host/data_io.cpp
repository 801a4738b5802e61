// BDataIO / BPositionIO defaults and the memory streams BMemoryIO and BMallocIO.
// Every position is checked before it is used as an offset; writes past the end zero-fill the gap.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "DataIO.h"
#include "Errors.h"

BDataIO::~BDataIO() = default;

ssize_t BPositionIO::Read(void* buffer, size_t size)
{
	off_t at = Position();
	ssize_t n = ReadAt(at, buffer, size);
	if (n > 0)
		Seek(at + n, SEEK_SET);
	return n;
}

ssize_t BPositionIO::Write(const void* buffer, size_t size)
{
	off_t at = Position();
	ssize_t n = WriteAt(at, buffer, size);
	if (n > 0)
		Seek(at + n, SEEK_SET);
	return n;
}

status_t BPositionIO::SetSize(off_t) { return B_ERROR; }

status_t BPositionIO::GetSize(off_t* size) const
{
	// Only streams that know their size override this.
	*size = 0;
	return B_ERROR;
}

// The new position for a Seek on a stream of `length` bytes, or a negative status.
static off_t SeekTarget(off_t position, uint32 mode, off_t current, off_t length)
{
	off_t base;
	switch (mode) {
		case SEEK_SET: base = 0; break;
		case SEEK_CUR: base = current; break;
		case SEEK_END: base = length; break;
		default: return B_BAD_VALUE;
	}
	off_t target;
	if (__builtin_add_overflow(base, position, &target) || target < 0)
		return B_BAD_VALUE;
	return target;
}

// Copies what lies at `position` of the `length` bytes at `data`; 0 at or past the end.
static ssize_t ReadFrom(const char* data, size_t length, off_t position, void* buffer, size_t size)
{
	if (position < 0)
		return B_BAD_VALUE;
	if ((uint64)position >= length || size == 0)
		return 0;
	size_t n = length - (size_t)position;
	if (n > size)
		n = size;
	memcpy(buffer, data + position, n);
	return (ssize_t)n;
}

// ---- BMemoryIO ----

BMemoryIO::BMemoryIO(void* data, size_t length)
    : fData(static_cast<char*>(data)), fLength(length), fCapacity(length), fPosition(0), fReadOnly(false)
{
}

BMemoryIO::BMemoryIO(const void* data, size_t length)
    : fData(const_cast<char*>(static_cast<const char*>(data))), fLength(length), fCapacity(length),
      fPosition(0), fReadOnly(true)
{
}

BMemoryIO::~BMemoryIO() = default;

ssize_t BMemoryIO::ReadAt(off_t position, void* buffer, size_t size)
{
	return ReadFrom(fData, fLength, position, buffer, size);
}

ssize_t BMemoryIO::WriteAt(off_t position, const void* buffer, size_t size)
{
	if (fReadOnly)
		return B_NOT_ALLOWED;
	if (position < 0)
		return B_BAD_VALUE;
	if ((uint64)position >= fCapacity || size == 0)
		return 0;
	size_t n = fCapacity - (size_t)position;
	if (n > size)
		n = size;
	if ((size_t)position > fLength)
		memset(fData + fLength, 0, (size_t)position - fLength);
	memcpy(fData + position, buffer, n);
	if ((size_t)position + n > fLength)
		fLength = (size_t)position + n;
	return (ssize_t)n;
}

off_t BMemoryIO::Seek(off_t position, uint32 seekMode)
{
	off_t target = SeekTarget(position, seekMode, fPosition, (off_t)fLength);
	if (target >= 0)
		fPosition = target;
	return target;
}

off_t BMemoryIO::Position() const { return fPosition; }

status_t BMemoryIO::SetSize(off_t size)
{
	if (fReadOnly)
		return B_NOT_ALLOWED;
	if (size < 0 || (uint64)size > fCapacity)
		return B_BAD_VALUE;
	if ((size_t)size > fLength)
		memset(fData + fLength, 0, (size_t)size - fLength);
	fLength = (size_t)size;
	return B_OK;
}

status_t BMemoryIO::GetSize(off_t* size) const
{
	*size = (off_t)fLength;
	return B_OK;
}

// ---- BMallocIO ----

BMallocIO::BMallocIO() = default;
BMallocIO::~BMallocIO() { free(fData); }

ssize_t BMallocIO::ReadAt(off_t position, void* buffer, size_t size)
{
	return ReadFrom(fData, fLength, position, buffer, size);
}

ssize_t BMallocIO::WriteAt(off_t position, const void* buffer, size_t size)
{
	if (position < 0)
		return B_BAD_VALUE;
	if (size == 0)
		return 0;
	size_t end;
	if (__builtin_add_overflow((size_t)position, size, &end) || end > (size_t)SSIZE_MAX)
		return B_BAD_VALUE;
	if (end > fLength) {
		status_t status = SetSize((off_t)end);
		if (status != B_OK)
			return status;
	}
	memcpy(fData + position, buffer, size);
	return (ssize_t)size;
}

off_t BMallocIO::Seek(off_t position, uint32 seekMode)
{
	off_t target = SeekTarget(position, seekMode, fPosition, (off_t)fLength);
	if (target >= 0)
		fPosition = target;
	return target;
}

off_t BMallocIO::Position() const { return fPosition; }

status_t BMallocIO::SetSize(off_t size)
{
	if (size < 0)
		return B_BAD_VALUE;
	size_t want = (size_t)size;
	if (want > fCapacity) {
		size_t capacity = fCapacity ? fCapacity : 256;
		while (capacity < want)
			capacity = capacity > SIZE_MAX / 2 ? want : capacity * 2;
		char* grown = static_cast<char*>(realloc(fData, capacity));
		if (!grown)
			return B_NO_MEMORY;
		fData = grown;
		fCapacity = capacity;
	}
	if (want > fLength)
		memset(fData + fLength, 0, want - fLength);
	fLength = want;
	return B_OK;
}

status_t BMallocIO::GetSize(off_t* size) const
{
	*size = (off_t)fLength;
	return B_OK;
}
