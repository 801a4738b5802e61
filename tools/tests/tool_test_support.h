// Helpers of the mediaconv tests: running the built tool (exit status, standard output and error),
// a fresh folder per test, small Y4M clips with motion and the test's own Y4M reader.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tooltest {

struct Result {
	int status = -1;
	std::string out, err;
};

inline std::string ReadFile(const std::string& path)
{
	std::ifstream f(path, std::ios::binary);
	return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& data)
{
	std::ofstream f(path, std::ios::binary);
	f << data;
}

inline bool Exists(const std::string& path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0;
}

inline long FileSize(const std::string& path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 ? (long)st.st_size : -1;
}

inline bool HaveProgram(const char* name)
{
	return system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool HaveAddOn(const char* kindAndName)
{
	return Exists(std::string(MEDIACONV_ADDONS) + "/" + kindAndName);
}

inline bool HaveKorvo()
{
	return HaveAddOn("encoders/krv1.encoder") && HaveAddOn("decoders/krv1.decoder.generic");
}

// A folder of its own for each test, emptied first.
class ToolTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
		dir = std::string(MEDIACONV_TEST_DIR) + "/" + info->test_suite_name() + "." + info->name();
		ASSERT_EQ(system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
	}

	std::string Path(const std::string& name) const { return dir + "/" + name; }

	// Runs a shell command line in the test's folder; the tool is "$MC". Sanitizer reports make the
	// tool exit with 86, which no test expects.
	Result Shell(const std::string& command) const
	{
		Result r;
		const std::string out = Path(".stdout"), err = Path(".stderr");
		const std::string line = "cd '" + dir + "' && MC='" MEDIACONV_PATH "' && " +
		                         "export ASAN_OPTIONS=exitcode=86:detect_leaks=1 "
		                         "UBSAN_OPTIONS=halt_on_error=1:exitcode=86 && { " +
		                         command + "; } >'" + out + "' 2>'" + err + "'";
		int status = system(("bash -c \"" + Escape(line) + "\"").c_str());
		r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
		r.out = ReadFile(out);
		r.err = ReadFile(err);
		unlink(out.c_str());
		unlink(err.c_str());
		return r;
	}

	// Runs mediaconv with the build's add-ons.
	Result Tool(const std::string& arguments) const
	{
		return Shell("\"$MC\" --addons '" MEDIACONV_ADDONS "' " + arguments);
	}

	// Nothing but the named files in the folder (no temporary leftovers).
	std::vector<std::string> Listing() const
	{
		std::vector<std::string> names;
		FILE* p = popen(("ls -A '" + dir + "'").c_str(), "r");
		char line[512];
		while (p && fgets(line, sizeof line, p)) {
			std::string s(line);
			s.pop_back();
			names.push_back(s);
		}
		if (p)
			pclose(p);
		return names;
	}

	std::string dir;

private:
	static std::string Escape(const std::string& s)
	{
		std::string out;
		for (char c : s) {
			if (c == '"' || c == '\\' || c == '$' || c == '`')
				out.push_back('\\');
			out.push_back(c);
		}
		return out;
	}
};

// ---- Y4M clips ----

struct Clip {
	int width = 0, height = 0, chroma = 420;  // 420, 422 or 444
	std::vector<std::vector<uint8_t>> y, u, v;
	int ChromaWidth() const { return chroma == 444 ? width : (width + 1) / 2; }
	int ChromaHeight() const { return chroma == 420 ? (height + 1) / 2 : height; }
};

// A textured scene panning diagonally, a bright square crossing it, and a little noise.
inline Clip MovingClip(int width, int height, int frames, int chroma = 420)
{
	Clip c;
	c.width = width;
	c.height = height;
	c.chroma = chroma;
	uint32_t seed = 1;
	for (int t = 0; t < frames; t++) {
		std::vector<uint8_t> Y((size_t)width * height);
		for (int y = 0; y < height; y++) {
			for (int x = 0; x < width; x++) {
				const double u = x + 1.5 * t, v = y + 0.75 * t;
				double value =
				        120 + 40 * std::sin(u * 0.19) * std::cos(v * 0.13) + 25 * std::sin((u - v) * 0.07);
				const int sx = (t * 3) % width, sy = height / 3;
				if (x >= sx && x < sx + width / 5 && y >= sy && y < sy + height / 4)
					value = 210;
				seed = seed * 1664525u + 1013904223u;
				value += (int)(seed >> 29) - 4;
				Y[(size_t)y * width + x] = (uint8_t)std::clamp((int)std::lround(value), 16, 235);
			}
		}
		std::vector<uint8_t> U((size_t)c.ChromaWidth() * c.ChromaHeight()), V(U.size());
		for (int y = 0; y < c.ChromaHeight(); y++) {
			for (int x = 0; x < c.ChromaWidth(); x++) {
				U[(size_t)y * c.ChromaWidth() + x] = (uint8_t)(128 + 30 * std::sin((x + t) * 0.2));
				V[(size_t)y * c.ChromaWidth() + x] = (uint8_t)(128 + 30 * std::cos((y + t) * 0.15));
			}
		}
		c.y.push_back(Y);
		c.u.push_back(U);
		c.v.push_back(V);
	}
	return c;
}

inline void WriteY4m(const std::string& path, const Clip& c, const char* rate = "25:1")
{
	std::string data = "YUV4MPEG2 W" + std::to_string(c.width) + " H" + std::to_string(c.height) + " F" +
	                   rate + " Ip A1:1 C" + std::to_string(c.chroma) + (c.chroma == 420 ? "jpeg" : "") +
	                   "\n";
	for (size_t i = 0; i < c.y.size(); i++) {
		data += "FRAME\n";
		data.append(c.y[i].begin(), c.y[i].end());
		data.append(c.u[i].begin(), c.u[i].end());
		data.append(c.v[i].begin(), c.v[i].end());
	}
	WriteFile(path, data);
}

// Reads a 4:2:0 Y4M file as the tool writes it ("FRAME\n" headers); fails the test on anything else.
inline Clip ReadY4m(const std::string& path, std::string* header = nullptr)
{
	Clip c;
	const std::string data = ReadFile(path);
	const size_t eol = data.find('\n');
	EXPECT_NE(eol, std::string::npos);
	if (eol == std::string::npos)
		return c;
	if (header)
		*header = data.substr(0, eol);
	EXPECT_EQ(data.rfind("YUV4MPEG2 ", 0), 0u);
	sscanf(strstr(data.c_str(), " W"), " W%d", &c.width);
	sscanf(strstr(data.c_str(), " H"), " H%d", &c.height);
	EXPECT_NE(data.substr(0, eol).find("C420"), std::string::npos);
	const size_t luma = (size_t)c.width * c.height, chroma = (size_t)c.ChromaWidth() * c.ChromaHeight();
	size_t pos = eol + 1;
	while (pos < data.size()) {
		EXPECT_EQ(data.compare(pos, 6, "FRAME\n"), 0);
		pos += 6;
		if (pos + luma + 2 * chroma > data.size()) {
			ADD_FAILURE() << path << ": truncated frame";
			break;
		}
		c.y.emplace_back(data.begin() + pos, data.begin() + pos + luma);
		c.u.emplace_back(data.begin() + pos + luma, data.begin() + pos + luma + chroma);
		c.v.emplace_back(data.begin() + pos + luma + chroma, data.begin() + pos + luma + 2 * chroma);
		pos += luma + 2 * chroma;
	}
	return c;
}

inline double PsnrY(const Clip& a, const Clip& b)
{
	double se = 0;
	size_t n = 0;
	for (size_t f = 0; f < std::min(a.y.size(), b.y.size()); f++) {
		for (size_t i = 0; i < a.y[f].size(); i++) {
			const double d = (double)a.y[f][i] - b.y[f][i];
			se += d * d;
			n++;
		}
	}
	return n && se > 0 ? 10 * std::log10(255.0 * 255.0 / (se / n)) : 99;
}

}  // namespace tooltest
