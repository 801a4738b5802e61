// Support Kit byte streams: BDataIO (sequential), BPositionIO (random access) and two memory-backed
// streams, BMemoryIO over a caller's buffer and BMallocIO that grows as it is written.
#pragma once

#include <cstdio>

#include "SupportDefs.h"

class KORVO_HOST_API BDataIO {
public:
	virtual ~BDataIO();
	// Bytes moved (0 at the end of the data), or a negative status.
	virtual ssize_t Read(void* buffer, size_t size) = 0;
	virtual ssize_t Write(const void* buffer, size_t size) = 0;
};

// Read/Write work at Position() and advance it. Seek takes SEEK_SET, SEEK_CUR or SEEK_END and returns
// the new position or a negative status; positions past the end are allowed (writing there fills the
// gap with zeros, reading there gives 0 bytes).
class KORVO_HOST_API BPositionIO : public BDataIO {
public:
	ssize_t Read(void* buffer, size_t size) override;
	ssize_t Write(const void* buffer, size_t size) override;

	virtual ssize_t ReadAt(off_t position, void* buffer, size_t size) = 0;
	virtual ssize_t WriteAt(off_t position, const void* buffer, size_t size) = 0;
	virtual off_t Seek(off_t position, uint32 seekMode) = 0;
	virtual off_t Position() const = 0;
	virtual status_t SetSize(off_t size);
	virtual status_t GetSize(off_t* size) const;
};

// A fixed buffer: writable if made from a non-const pointer, never larger than it was made.
class KORVO_HOST_API BMemoryIO : public BPositionIO {
public:
	BMemoryIO(void* data, size_t length);
	BMemoryIO(const void* data, size_t length);
	~BMemoryIO() override;

	ssize_t ReadAt(off_t position, void* buffer, size_t size) override;
	ssize_t WriteAt(off_t position, const void* buffer, size_t size) override;
	off_t Seek(off_t position, uint32 seekMode) override;
	off_t Position() const override;
	status_t SetSize(off_t size) override;
	status_t GetSize(off_t* size) const override;

private:
	char* fData;
	size_t fLength;    // bytes of data
	size_t fCapacity;  // bytes of the buffer
	off_t fPosition;
	bool fReadOnly;
};

// A growing heap buffer.
class KORVO_HOST_API BMallocIO : public BPositionIO {
public:
	BMallocIO();
	~BMallocIO() override;

	ssize_t ReadAt(off_t position, void* buffer, size_t size) override;
	ssize_t WriteAt(off_t position, const void* buffer, size_t size) override;
	off_t Seek(off_t position, uint32 seekMode) override;
	off_t Position() const override;
	status_t SetSize(off_t size) override;
	status_t GetSize(off_t* size) const override;

	const void* Buffer() const { return fData; }
	size_t BufferLength() const { return fLength; }

private:
	char* fData = nullptr;
	size_t fLength = 0;
	size_t fCapacity = 0;
	off_t fPosition = 0;
};
