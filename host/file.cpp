// BFile on a POSIX file descriptor: pread/pwrite at the stream position.
// Errors of the system calls map to B_IO_ERROR, B_ENTRY_NOT_FOUND or B_PERMISSION_DENIED.
#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include "File.h"

static status_t StatusFromErrno(int error)
{
	switch (error) {
		case ENOENT: return B_ENTRY_NOT_FOUND;
		case EACCES:
		case EPERM: return B_PERMISSION_DENIED;
		case EEXIST: return B_FILE_EXISTS;
		case ENOMEM: return B_NO_MEMORY;
		default: return B_IO_ERROR;
	}
}

BFile::BFile() = default;

BFile::BFile(const char* path, uint32 openMode) { SetTo(path, openMode); }

BFile::~BFile() { Unset(); }

status_t BFile::SetTo(const char* path, uint32 openMode)
{
	Unset();
	if (!path) {
		fInitStatus = B_BAD_VALUE;
		return fInitStatus;
	}
	fFd = open(path, (int)openMode | O_CLOEXEC, 0644);
	fInitStatus = fFd < 0 ? StatusFromErrno(errno) : B_OK;
	if (fFd >= 0) {
		struct stat st;
		if (fstat(fFd, &st) == 0 && S_ISDIR(st.st_mode)) {
			Unset();
			fInitStatus = B_BAD_TYPE;
		}
	}
	return fInitStatus;
}

void BFile::Unset()
{
	if (fFd >= 0)
		close(fFd);
	fFd = -1;
	fPosition = 0;
	fInitStatus = B_NO_INIT;
}

status_t BFile::InitCheck() const { return fInitStatus; }

ssize_t BFile::ReadAt(off_t position, void* buffer, size_t size)
{
	if (fFd < 0)
		return B_NO_INIT;
	if (position < 0)
		return B_BAD_VALUE;
	size_t done = 0;
	while (done < size) {
		ssize_t n = pread(fFd, static_cast<char*>(buffer) + done, size - done, position + done);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			return done ? (ssize_t)done : StatusFromErrno(errno);
		}
		if (n == 0)
			break;
		done += (size_t)n;
	}
	return (ssize_t)done;
}

ssize_t BFile::WriteAt(off_t position, const void* buffer, size_t size)
{
	if (fFd < 0)
		return B_NO_INIT;
	if (position < 0)
		return B_BAD_VALUE;
	size_t done = 0;
	while (done < size) {
		ssize_t n = pwrite(fFd, static_cast<const char*>(buffer) + done, size - done, position + done);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			return StatusFromErrno(errno);
		}
		done += (size_t)n;
	}
	return (ssize_t)done;
}

off_t BFile::Seek(off_t position, uint32 seekMode)
{
	if (fFd < 0)
		return B_NO_INIT;
	off_t base;
	switch (seekMode) {
		case SEEK_SET: base = 0; break;
		case SEEK_CUR: base = fPosition; break;
		case SEEK_END:
			if (GetSize(&base) != B_OK)
				return B_IO_ERROR;
			break;
		default: return B_BAD_VALUE;
	}
	off_t target;
	if (__builtin_add_overflow(base, position, &target) || target < 0)
		return B_BAD_VALUE;
	fPosition = target;
	return target;
}

off_t BFile::Position() const { return fPosition; }

status_t BFile::SetSize(off_t size)
{
	if (fFd < 0)
		return B_NO_INIT;
	return ftruncate(fFd, size) == 0 ? B_OK : StatusFromErrno(errno);
}

status_t BFile::GetSize(off_t* size) const
{
	struct stat st;
	if (fFd < 0 || fstat(fFd, &st) != 0)
		return fFd < 0 ? B_NO_INIT : StatusFromErrno(errno);
	*size = st.st_size;
	return B_OK;
}
