// YUV4MPEG2 files ("-" for standard input or output): the reader takes 8-bit 4:2:0, 4:2:2 and 4:4:4
// (and mono) and hands out planar 4:2:0 (chroma averaged down), or packed 4:2:2 for odd sizes; the
// writer stores planar 4:2:0 as it is, and packed 4:2:2 from each first chroma row.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <vector>

#include "console.h"
#include "output_file.h"
#include "standard_input.h"
#include "video_io.h"

namespace {

constexpr uint32_t kMaxSide = 8192;
constexpr size_t kMaxHeaderLine = 4096;

enum class Chroma { C420, C422, C444, Mono };

// Reads one line (without its '\n') of at most kMaxHeaderLine bytes; false at a clean end of file.
bool ReadLine(FILE* f, std::string* line, const std::string& path, const char* what)
{
	line->clear();
	for (;;) {
		int c = fgetc(f);
		if (c == EOF) {
			if (line->empty())
				return false;
			throw Failure(path, std::string(what) + " is truncated");
		}
		if (c == '\n')
			return true;
		if (line->size() >= kMaxHeaderLine)
			throw Failure(path, std::string(what) + " is too long");
		line->push_back((char)c);
	}
}

bool ParseNumber(const std::string& s, uint32_t* value)
{
	if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
		return false;
	*value = (uint32_t)std::stoul(s);
	return true;
}

class Y4mReader : public VideoReader {
public:
	explicit Y4mReader(const std::string& path) : fPath(path)
	{
		fFile = path == "-" ? StandardInput() : fopen(path.c_str(), "rb");
		if (!fFile)
			throw Failure(path, std::string("cannot open: ") + strerror(errno));
		std::string header;
		if (!ReadLine(fFile, &header, path, "the header") || header.rfind("YUV4MPEG2", 0) != 0)
			throw Failure(path, "not a Y4M file (no YUV4MPEG2 header)");
		ParseHeader(header.substr(9));
		fHeaderBytes = (long)header.size() + 1;
		// Pictures of even sizes go on as planar 4:2:0, the encoder's own layout; others as packed
		// 4:2:2 pixel pairs.
		fParams.space = fParams.width % 2 || fParams.height % 2 ? B_YCbCr422 : B_YUV420;
		const size_t luma = (size_t)fParams.width * fParams.height;
		fChromaWidth = fChroma == Chroma::C444 ? fParams.width : (fParams.width + 1) / 2;
		fChromaHeight = fChroma == Chroma::C420 ? (fParams.height + 1) / 2 : fParams.height;
		fParams.chromaRows = fChroma == Chroma::C420 ? 2 : 1;
		const size_t chroma = fChroma == Chroma::Mono ? 0 : (size_t)fChromaWidth * fChromaHeight;
		fPlanes.resize(luma + 2 * chroma);
		CountFrames();
	}
	~Y4mReader() override
	{
		if (fPath != "-")
			fclose(fFile);
	}

	bool Read(uint8_t* frame) override
	{
		// Frames go on as packed 4:2:2, in whole pixel pairs.
		if (fParams.width % 2)
			throw Failure(fPath, std::to_string(fParams.width) + "x" + std::to_string(fParams.height) + " " +
			                             ChromaName() +
			                             " video has an odd width; the video add-ons take it only as " +
			                             "4:2:2 pixel pairs, which need an even width");
		std::string line;
		if (!ReadLine(fFile, &line, fPath, "a frame header"))
			return false;
		if (line.rfind("FRAME", 0) != 0)
			throw Failure(fPath, "frame " + std::to_string(fNext) + " has no FRAME marker");
		// 4:2:0 frames are already in the planar layout.
		const bool direct = fParams.space == B_YUV420 && fChroma == Chroma::C420;
		uint8_t* planes = direct ? frame : fPlanes.data();
		if (fread(planes, 1, fPlanes.size(), fFile) != fPlanes.size())
			throw Failure(fPath, "frame " + std::to_string(fNext) + " is truncated");
		if (fParams.space == B_YUV420) {
			if (!direct)
				ToPlanar420(frame);
		} else {
			Pack(frame);
		}
		fNext++;
		return true;
	}

private:
	void ParseHeader(const std::string& params)
	{
		bool haveW = false, haveH = false;
		size_t pos = 0;
		while (pos < params.size()) {
			if (params[pos] == ' ') {
				pos++;
				continue;
			}
			size_t end = params.find(' ', pos);
			std::string token = params.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
			pos = end == std::string::npos ? params.size() : end;
			const char tag = token[0];
			const std::string value = token.substr(1);
			if (tag == 'W') {
				haveW = ParseNumber(value, &fParams.width);
			} else if (tag == 'H') {
				haveH = ParseNumber(value, &fParams.height);
			} else if (tag == 'F') {
				size_t colon = value.find(':');
				if (colon == std::string::npos || !ParseNumber(value.substr(0, colon), &fParams.rateNum) ||
				    !ParseNumber(value.substr(colon + 1), &fParams.rateDen) || !fParams.rateNum ||
				    !fParams.rateDen)
					throw Failure(fPath, "bad frame rate \"" + token + "\"");
			} else if (tag == 'C') {
				if (value.rfind("420", 0) == 0 && value.find("p1") == std::string::npos) {
					fChroma = Chroma::C420;
					if (value != "420" && value != "420jpeg")
						fParams.tags.siting = value;
				} else if (value == "422")
					fChroma = Chroma::C422;
				else if (value == "444")
					fChroma = Chroma::C444;
				else if (value == "mono")
					fChroma = Chroma::Mono;
				else
					throw Failure(fPath,
					              "colour format C" + value +
					                      " is not supported (8-bit 4:2:0, 4:2:2, 4:4:4 or mono only)");
			} else if (tag == 'I') {
				ParseInterlace(token);
			} else if (tag == 'A') {
				ParseAspect(token);
			} else if (tag == 'X') {
				ParseExtension(value);
			}
		}
		if (!haveW || !haveH || !fParams.width || !fParams.height)
			throw Failure(fPath, "the header has no valid W and H");
		if (fParams.width > kMaxSide || fParams.height > kMaxSide)
			throw Failure(fPath, "picture size " + std::to_string(fParams.width) + "x" +
			                             std::to_string(fParams.height) + " is too large");
	}

	const char* ChromaName() const
	{
		switch (fChroma) {
			case Chroma::C420: return "4:2:0";
			case Chroma::C422: return "4:2:2";
			case Chroma::C444: return "4:4:4";
			default: return "monochrome";
		}
	}

	void ParseInterlace(const std::string& token)
	{
		static const struct {
			const char* token;
			Interlace interlace;
		} kModes[] = {{"Ip", Interlace::Progressive},
		              {"It", Interlace::TopFirst},
		              {"Ib", Interlace::BottomFirst},
		              {"Im", Interlace::Mixed},
		              {"I?", Interlace::Unknown}};
		for (const auto& m : kModes) {
			if (token == m.token) {
				fParams.tags.interlace = m.interlace;
				return;
			}
		}
		throw Failure(fPath, "bad interlacing \"" + token + "\" (Ip, It, Ib, Im or I?)");
	}

	// "A0:0" says the aspect is unknown; other ratios are kept in lowest terms.
	void ParseAspect(const std::string& token)
	{
		const std::string value = token.substr(1);
		const size_t colon = value.find(':');
		uint32_t n = 0, d = 0;
		if (colon == std::string::npos || !ParseNumber(value.substr(0, colon), &n) ||
		    !ParseNumber(value.substr(colon + 1), &d) || (!n != !d))
			throw Failure(fPath, "bad pixel aspect \"" + token + "\"");
		const uint32_t g = n ? std::gcd(n, d) : 1;
		fParams.tags.aspectNum = n / g;
		fParams.tags.aspectDen = d / g;
	}

	void ParseExtension(const std::string& value)
	{
		if (value == "COLORRANGE=FULL")
			fParams.tags.range = ColourRange::Full;
		else if (value == "COLORRANGE=LIMITED")
			fParams.tags.range = ColourRange::Limited;
		else if (value.rfind("YSCSS=", 0) != 0)  // the sub-sampling again, as the C parameter says it
			fParams.tags.extensions.push_back(value);
	}

	// Frames with bare "FRAME" headers can be counted from the file size.
	void CountFrames()
	{
		struct stat st;
		if (fstat(fPath == "-" ? 0 : fileno(fFile), &st) != 0 || !S_ISREG(st.st_mode))
			return;
		const uint64_t perFrame = 6 + fPlanes.size();
		const uint64_t rest = (uint64_t)st.st_size - (uint64_t)fHeaderBytes;
		if (rest % perFrame == 0)
			fParams.frames = (int64_t)(rest / perFrame);
	}

	// 4:2:2 and 4:4:4 chroma averaged over the samples each 4:2:0 sample covers, with rounding.
	void ToPlanar420(uint8_t* out) const
	{
		const uint32_t w = fParams.width, h = fParams.height;
		const size_t luma = (size_t)w * h, chroma = (size_t)(w / 2) * (h / 2);
		std::memcpy(out, fPlanes.data(), luma);
		out += luma;
		if (fChroma == Chroma::Mono) {
			std::memset(out, 128, 2 * chroma);
			return;
		}
		const uint8_t* in = fPlanes.data() + luma;
		for (int plane = 0; plane < 2; ++plane, in += (size_t)fChromaWidth * fChromaHeight)
			for (uint32_t y = 0; y < h / 2; ++y, out += w / 2) {
				const uint8_t* a = in + (size_t)(2 * y) * fChromaWidth;
				const uint8_t* b = a + fChromaWidth;
				for (uint32_t x = 0; x < w / 2; ++x)
					out[x] = fChroma == Chroma::C444
					                 ? (uint8_t)((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2)
					                 : (uint8_t)((a[x] + b[x] + 1) >> 1);
			}
	}

	void Pack(uint8_t* out) const
	{
		const uint32_t w = fParams.width, h = fParams.height;
		const uint8_t* Y = fPlanes.data();
		const uint8_t* U = Y + (size_t)w * h;
		const uint8_t* V = U + (size_t)fChromaWidth * fChromaHeight;
		for (uint32_t y = 0; y < h; y++) {
			const uint8_t* row = Y + (size_t)y * w;
			const uint32_t cy = fChroma == Chroma::C420 ? y / 2 : y;
			const uint8_t* u = U + (size_t)cy * fChromaWidth;
			const uint8_t* v = V + (size_t)cy * fChromaWidth;
			uint8_t* o = out + (size_t)y * w * 2;
			for (uint32_t x = 0; x < w; x += 2, o += 4) {
				o[0] = row[x];
				o[2] = row[x + 1];
				if (fChroma == Chroma::Mono) {
					o[1] = o[3] = 128;
				} else if (fChroma == Chroma::C444) {
					o[1] = (uint8_t)((u[x] + u[x + 1] + 1) >> 1);
					o[3] = (uint8_t)((v[x] + v[x + 1] + 1) >> 1);
				} else {
					o[1] = u[x / 2];
					o[3] = v[x / 2];
				}
			}
		}
	}

	std::string fPath;
	FILE* fFile = nullptr;
	long fHeaderBytes = 0;
	Chroma fChroma = Chroma::C420;
	uint32_t fChromaWidth = 0, fChromaHeight = 0;
	std::vector<uint8_t> fPlanes;
};

class Y4mWriter : public VideoWriter {
public:
	Y4mWriter(const std::string& path, const VideoParams& params) : fParams(params)
	{
		if (params.space != B_YCbCr422 && params.space != B_YUV420)
			throw Failure(path, "Y4M output needs Y'CbCr frames");
		if (path == "-") {
			fName = "standard output";
			fFile = Console::Out();
		} else {
			fOut = std::make_unique<OutputFile>(path);
			fName = path;
			fFile = fopen(fOut->TempPath().c_str(), "wb");
		}
		if (!fFile)
			throw Failure(path, std::string("cannot create: ") + strerror(errno));
		fChromaWidth = params.width / 2;
		fChromaHeight = (params.height + 1) / 2;
		fPlanes.resize((size_t)params.width * params.height + 2 * (size_t)fChromaWidth * fChromaHeight);
		const PictureTags& tags = params.tags;
		const char interlace = tags.interlace == Interlace::Progressive   ? 'p'
		                       : tags.interlace == Interlace::TopFirst    ? 't'
		                       : tags.interlace == Interlace::BottomFirst ? 'b'
		                       : tags.interlace == Interlace::Mixed       ? 'm'
		                                                                  : '?';
		fprintf(fFile, "YUV4MPEG2 W%u H%u F%u:%u I%c A%u:%u C420jpeg%s\n", params.width, params.height,
		        params.rateNum, params.rateDen, interlace, tags.aspectNum, tags.aspectDen,
		        tags.range == ColourRange::Full      ? " XCOLORRANGE=FULL"
		        : tags.range == ColourRange::Limited ? " XCOLORRANGE=LIMITED"
		                                             : "");
	}
	~Y4mWriter() override
	{
		if (fFile && fOut)
			fclose(fFile);
	}

	void Write(const uint8_t* frame) override
	{
		if (fParams.space == B_YUV420)
			return Store(frame);
		const uint32_t w = fParams.width, h = fParams.height;
		uint8_t* Y = fPlanes.data();
		uint8_t* U = Y + (size_t)w * h;
		uint8_t* V = U + (size_t)fChromaWidth * fChromaHeight;
		for (uint32_t y = 0; y < h; y++) {
			const uint8_t* in = frame + (size_t)y * w * 2;
			uint8_t* row = Y + (size_t)y * w;
			for (uint32_t x = 0; x < w; x++)
				row[x] = in[2 * x];
			if (y % 2 == 0) {
				uint8_t* u = U + (size_t)(y / 2) * fChromaWidth;
				uint8_t* v = V + (size_t)(y / 2) * fChromaWidth;
				for (uint32_t x = 0; x < fChromaWidth; x++) {
					u[x] = in[4 * x + 1];
					v[x] = in[4 * x + 3];
				}
			}
		}
		Store(fPlanes.data());
	}

	// One frame of planes in the file's layout.
	void Store(const uint8_t* planes)
	{
		if (fputs("FRAME\n", fFile) < 0 || fwrite(planes, 1, fPlanes.size(), fFile) != fPlanes.size())
			throw Failure(fName, std::string("cannot write: ") + strerror(errno));
		fBytes += 6 + fPlanes.size();
	}

	void Finish() override
	{
		FILE* f = fFile;
		fFile = nullptr;
		if (!fOut) {
			if (fflush(f) != 0)
				throw Failure(fName, std::string("cannot write: ") + strerror(errno));
			return;
		}
		if (fclose(f) != 0)
			throw Failure(fName, std::string("cannot write: ") + strerror(errno));
		fOut->Commit();
	}

	uint64_t Bytes() const override { return fBytes; }

private:
	std::unique_ptr<OutputFile> fOut;  // none for standard output
	std::string fName;
	VideoParams fParams;
	FILE* fFile = nullptr;
	uint32_t fChromaWidth = 0, fChromaHeight = 0;
	std::vector<uint8_t> fPlanes;
	uint64_t fBytes = 0;
};

}  // namespace

std::unique_ptr<VideoReader> OpenY4mReader(const std::string& path)
{
	return std::make_unique<Y4mReader>(path);
}

std::unique_ptr<VideoWriter> OpenY4mWriter(const std::string& path, const VideoParams& params)
{
	return std::make_unique<Y4mWriter>(path, params);
}
