// BFile: a file on disk as a BPositionIO, opened with the Storage Kit's open modes.
// Reads and writes go straight to the file descriptor (pread/pwrite); nothing is buffered.
#pragma once

#include <fcntl.h>

#include "DataIO.h"
#include "Errors.h"

enum {
	B_READ_ONLY = O_RDONLY,
	B_WRITE_ONLY = O_WRONLY,
	B_READ_WRITE = O_RDWR,
	B_FAIL_IF_EXISTS = O_EXCL,
	B_CREATE_FILE = O_CREAT,
	B_ERASE_FILE = O_TRUNC,
	B_OPEN_AT_END = O_APPEND,
};

class KORVO_HOST_API BFile : public BPositionIO {
public:
	BFile();
	BFile(const char* path, uint32 openMode);
	~BFile() override;

	status_t SetTo(const char* path, uint32 openMode);
	void Unset();
	status_t InitCheck() const;

	ssize_t ReadAt(off_t position, void* buffer, size_t size) override;
	ssize_t WriteAt(off_t position, const void* buffer, size_t size) override;
	off_t Seek(off_t position, uint32 seekMode) override;
	off_t Position() const override;
	status_t SetSize(off_t size) override;
	status_t GetSize(off_t* size) const override;

private:
	BFile(const BFile&) = delete;
	BFile& operator=(const BFile&) = delete;

	int fFd = -1;
	status_t fInitStatus = B_NO_INIT;
	off_t fPosition = 0;
};
