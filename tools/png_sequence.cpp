// PNG sequences (frame%05d.png and the like) through libpng's simplified API: any PNG is read as 8-bit
// B G R A pixels, and 32-bit frames are written as 8-bit RGB files.
#include <png.h>
#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "output_file.h"
#include "video_io.h"

namespace {

constexpr uint32_t kMaxSide = 8192;

bool IsFile(const std::string& path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A pattern with exactly one integer conversion (%d, %5d, %05d, %i) and no other '%' but "%%".
bool IsPattern(const std::string& s)
{
	int conversions = 0;
	for (size_t i = 0; i < s.size(); i++) {
		if (s[i] != '%')
			continue;
		if (i + 1 < s.size() && s[i + 1] == '%') {
			i++;
			continue;
		}
		size_t j = i + 1;
		while (j < s.size() && isdigit((unsigned char)s[j]) && j - i <= 3)
			j++;
		if (j >= s.size() || (s[j] != 'd' && s[j] != 'i'))
			return false;
		conversions++;
		i = j;
	}
	return conversions == 1;
}

class PngReader : public VideoReader {
public:
	PngReader(const std::string& path, const Options& options) : fPath(path)
	{
		if (path.find('%') == std::string::npos && IsFile(path)) {
			fSingle = true;
		} else {
			fPattern = PngPattern(path);
			if (!IsPattern(fPattern))
				throw Failure(path, "not a PNG file name pattern (one %d conversion, as in frame%05d.png)");
			fFirst = IsFile(SequenceName(fPattern, 0)) ? 0 : 1;
			if (!IsFile(SequenceName(fPattern, fFirst)))
				throw Failure(path,
				              "no such PNG sequence (" + SequenceName(fPattern, 0) + " does not exist)");
		}
		int64_t count = 1;
		if (!fSingle) {
			while (IsFile(SequenceName(fPattern, fFirst + count)))
				count++;
		}
		fParams.frames = count;
		fParams.space = B_RGB32;
		RateAsFraction(options.rate, &fParams.rateNum, &fParams.rateDen);
		// The first picture fixes the size.
		png_image image = Begin(NameOf(0));
		fParams.width = image.width;
		fParams.height = image.height;
		png_image_free(&image);
		if (fParams.width % 2)
			throw Failure(NameOf(0), "width " + std::to_string(fParams.width) +
			                                 " is odd; the codec needs an even width");
	}

	bool Read(uint8_t* frame) override
	{
		if (fNext >= fParams.frames)
			return false;
		const std::string name = NameOf(fNext);
		png_image image = Begin(name);
		if (image.width != fParams.width || image.height != fParams.height) {
			png_image_free(&image);
			throw Failure(name, "is " + std::to_string(image.width) + "x" + std::to_string(image.height) +
			                            ", not " + std::to_string(fParams.width) + "x" +
			                            std::to_string(fParams.height) + " as the first picture");
		}
		image.format = PNG_FORMAT_BGRA;
		if (!png_image_finish_read(&image, nullptr, frame, (png_int_32)(fParams.width * 4), nullptr))
			throw Failure(name, std::string("damaged PNG: ") + image.message);
		fNext++;
		return true;
	}

	void SeekTo(int64_t index) override { fNext = std::min<int64_t>(index, fParams.frames); }

private:
	std::string NameOf(int64_t index) const
	{
		return fSingle ? fPath : SequenceName(fPattern, fFirst + index);
	}

	png_image Begin(const std::string& name) const
	{
		png_image image;
		memset(&image, 0, sizeof image);
		image.version = PNG_IMAGE_VERSION;
		if (!png_image_begin_read_from_file(&image, name.c_str()))
			throw Failure(name, std::string("not a readable PNG file: ") + image.message);
		if (!image.width || !image.height || image.width > kMaxSide || image.height > kMaxSide) {
			png_image_free(&image);
			throw Failure(name, "picture size " + std::to_string(image.width) + "x" +
			                            std::to_string(image.height) + " is not supported");
		}
		return image;
	}

	std::string fPath, fPattern;
	bool fSingle = false;
	int64_t fFirst = 0;
};

// A folder named with a trailing '/' is made when missing; the pattern for the name is returned.
std::string MakeFolder(const std::string& path)
{
	if (!path.empty() && path.back() == '/' && !IsFolder(path))
		mkdir(path.c_str(), 0777);
	return PngPattern(path);
}

class PngWriter : public VideoWriter {
public:
	PngWriter(const std::string& path, const VideoParams& params)
	    : fOut(MakeFolder(path)), fParams(params), fRgb((size_t)params.width * params.height * 3)
	{
		if (!IsPattern(fOut.Pattern()))
			throw Failure(path, "not a PNG file name pattern (one %d conversion, as in frame%05d.png)");
		if (params.space != B_RGB32 && params.space != B_RGBA32)
			throw Failure(path, "PNG output needs 32-bit RGB frames");
	}

	void Write(const uint8_t* frame) override
	{
		const size_t pixels = (size_t)fParams.width * fParams.height;
		for (size_t i = 0; i < pixels; i++) {
			fRgb[3 * i] = frame[4 * i + 2];
			fRgb[3 * i + 1] = frame[4 * i + 1];
			fRgb[3 * i + 2] = frame[4 * i];
		}
		png_image image;
		memset(&image, 0, sizeof image);
		image.version = PNG_IMAGE_VERSION;
		image.width = fParams.width;
		image.height = fParams.height;
		image.format = PNG_FORMAT_RGB;
		const std::string temp = fOut.TempPathFor(fIndex);
		if (!png_image_write_to_file(&image, temp.c_str(), 0, fRgb.data(), 0, nullptr))
			throw Failure(SequenceName(fOut.Pattern(), fIndex),
			              std::string("cannot write: ") + image.message);
		struct stat st;
		if (stat(temp.c_str(), &st) == 0)
			fBytes += (uint64_t)st.st_size;
		fIndex++;
	}

	void Finish() override { fOut.Commit(); }
	uint64_t Bytes() const override { return fBytes; }

private:
	OutputSequence fOut;
	VideoParams fParams;
	std::vector<uint8_t> fRgb;
	int64_t fIndex = 0;
	uint64_t fBytes = 0;
};

}  // namespace

std::string PngPattern(const std::string& path)
{
	if (path.find('%') != std::string::npos)
		return path;
	if (!path.empty() && (path.back() == '/' || IsFolder(path)))
		return path + (path.back() == '/' ? "" : "/") + "frame%05d.png";
	size_t dot = path.rfind('.');
	if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
		return path + "%05d.png";
	return path.substr(0, dot) + "%05d" + path.substr(dot);
}

std::unique_ptr<VideoReader> OpenPngReader(const std::string& path, const Options& options)
{
	return std::make_unique<PngReader>(path, options);
}

std::unique_ptr<VideoWriter> OpenPngWriter(const std::string& path, const VideoParams& params)
{
	return std::make_unique<PngWriter>(path, params);
}
