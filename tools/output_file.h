// Output written beside its target under a temporary name and renamed into place only on success, so
// a failed or interrupted run leaves neither a truncated file nor a damaged earlier one.
#pragma once

#include <string>
#include <vector>

class OutputFile {
public:
	explicit OutputFile(const std::string& target);
	~OutputFile();  // removes the temporary file unless committed
	const std::string& Target() const { return fTarget; }
	const std::string& TempPath() const { return fTemp; }
	void Commit();

private:
	OutputFile(const OutputFile&) = delete;
	OutputFile& operator=(const OutputFile&) = delete;
	std::string fTarget, fTemp;
	bool fCommitted = false;
	int fSlot = -1;  // in the list of paths an interrupted run removes
};

// A numbered file sequence (a printf pattern such as "out/frame%05d.png") written into a temporary
// folder beside the targets and moved into place on success.
class OutputSequence {
public:
	explicit OutputSequence(const std::string& pattern);
	~OutputSequence();
	const std::string& Pattern() const { return fPattern; }
	// Where frame `index` is written now; the name it gets on Commit follows the pattern.
	std::string TempPathFor(int64_t index);
	void Commit();

private:
	OutputSequence(const OutputSequence&) = delete;
	OutputSequence& operator=(const OutputSequence&) = delete;
	std::string fPattern, fTempDir;
	std::vector<std::pair<std::string, std::string>> fFiles;  // temporary, final
	bool fCommitted = false;
	int fSlot = -1;
};

// The file name of frame `index` of a printf pattern with one integer conversion.
std::string SequenceName(const std::string& pattern, int64_t index);
// True when the path names the same existing file as `other`.
bool SameFile(const std::string& path, const std::string& other);
