// Temporary output files and folders beside their targets, renamed into place on success and removed
// otherwise.
#include "output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "mediaconv.h"

namespace {

// Temporary paths still to be removed if the run is interrupted, kept in plain storage that a signal
// handler may read.
constexpr int kMaxPending = 8;
char gPending[kMaxPending][4096];
volatile sig_atomic_t gPendingUsed[kMaxPending];

// Empties a temporary folder with raw system calls only (opendir may allocate, which a signal
// handler must not).
void EmptyFolder(const char* path)
{
	static char entries[4096];
	int fd = open(path, O_RDONLY | O_DIRECTORY);
	if (fd < 0)
		return;
	long n;
	while ((n = syscall(SYS_getdents64, fd, entries, sizeof entries)) > 0) {
		for (long at = 0; at < n;) {
			const auto* e = reinterpret_cast<const struct dirent64*>(entries + at);
			if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
				unlinkat(fd, e->d_name, 0);
			at += e->d_reclen;
		}
	}
	close(fd);
}

void RemovePendingAndDie(int signal)
{
	for (int i = 0; i < kMaxPending; i++) {
		if (gPendingUsed[i]) {
			if (unlink(gPending[i]) != 0) {
				EmptyFolder(gPending[i]);
				rmdir(gPending[i]);
			}
		}
	}
	::signal(signal, SIG_DFL);
	raise(signal);
}

int Remember(const std::string& path)
{
	static bool installed = false;
	if (!installed) {
		installed = true;
		for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
			signal(s, RemovePendingAndDie);
	}
	for (int i = 0; i < kMaxPending; i++) {
		if (!gPendingUsed[i] && path.size() < sizeof gPending[i]) {
			memcpy(gPending[i], path.c_str(), path.size() + 1);
			gPendingUsed[i] = 1;
			return i;
		}
	}
	return -1;
}

void Forget(int slot)
{
	if (slot >= 0)
		gPendingUsed[slot] = 0;
}

std::string DirOf(const std::string& path)
{
	size_t slash = path.find_last_of('/');
	if (slash == std::string::npos)
		return ".";
	return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path)
{
	size_t slash = path.find_last_of('/');
	return slash == std::string::npos ? path : path.substr(slash + 1);
}

void CheckFolder(const std::string& target)
{
	struct stat st;
	std::string dir = DirOf(target);
	if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
		throw Failure(target, "the folder " + dir + " does not exist");
	if (stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
		throw Failure(target, "is a folder, not a file");
}

}  // namespace

OutputFile::OutputFile(const std::string& target) : fTarget(target)
{
	if (target.empty() || target.back() == '/')
		throw Failure(target, "not a file name");
	CheckFolder(target);
	std::string name = DirOf(target) + "/." + BaseOf(target) + ".mediaconv-XXXXXX";
	std::vector<char> buffer(name.begin(), name.end());
	buffer.push_back(0);
	int fd = mkstemp(buffer.data());
	if (fd < 0)
		throw Failure(target, std::string("cannot create a file beside it: ") + strerror(errno));
	// mkstemp makes the file private; the output gets the modes any new file would.
	const mode_t mask = umask(0);
	umask(mask);
	fchmod(fd, 0666 & ~mask);
	close(fd);
	fTemp = buffer.data();
	fSlot = Remember(fTemp);
}

OutputFile::~OutputFile()
{
	if (!fCommitted)
		unlink(fTemp.c_str());
	Forget(fSlot);
}

void OutputFile::Commit()
{
	if (rename(fTemp.c_str(), fTarget.c_str()) != 0)
		throw Failure(fTarget, std::string("cannot write: ") + strerror(errno));
	fCommitted = true;
}

std::string SequenceName(const std::string& pattern, int64_t index)
{
	// The pattern was checked to hold exactly one %d-style conversion (see CheckPattern callers).
	size_t at = pattern.find('%');
	size_t end = pattern.find_first_of("di", at);
	std::string conversion = pattern.substr(at, end - at) + PRId64;
	char number[64];
	snprintf(number, sizeof number, conversion.c_str(), index);
	return pattern.substr(0, at) + number + pattern.substr(end + 1);
}

OutputSequence::OutputSequence(const std::string& pattern) : fPattern(pattern)
{
	CheckFolder(pattern);
	std::string name = DirOf(pattern) + "/.mediaconv-frames-XXXXXX";
	std::vector<char> buffer(name.begin(), name.end());
	buffer.push_back(0);
	if (!mkdtemp(buffer.data()))
		throw Failure(pattern, std::string("cannot create a folder beside it: ") + strerror(errno));
	fTempDir = buffer.data();
	fSlot = Remember(fTempDir);
}

OutputSequence::~OutputSequence()
{
	if (!fCommitted) {
		for (auto& [temp, final] : fFiles)
			unlink(temp.c_str());
	}
	rmdir(fTempDir.c_str());
	Forget(fSlot);
}

std::string OutputSequence::TempPathFor(int64_t index)
{
	std::string final = SequenceName(fPattern, index);
	std::string temp = fTempDir + "/" + BaseOf(final);
	fFiles.emplace_back(temp, final);
	return temp;
}

void OutputSequence::Commit()
{
	for (auto& [temp, final] : fFiles) {
		if (rename(temp.c_str(), final.c_str()) != 0)
			throw Failure(final, std::string("cannot write: ") + strerror(errno));
	}
	fCommitted = true;
}

bool SameFile(const std::string& path, const std::string& other)
{
	struct stat a, b;
	return stat(path.c_str(), &a) == 0 && stat(other.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
	       a.st_ino == b.st_ino;
}
