// Reports: --psnr and --ssim of an encode checked against PSNR computed here from the source and the
// decoded clip, and info --json parsed by Python with the same fields as the text form.
#include "tool_test_support.h"

using namespace tooltest;

namespace {

class Reports : public ToolTest {};

// Mean over frames of each plane's PSNR, and the PSNR of all frames' error, as x264 counts them.
struct Expected {
	double mean[3] = {0, 0, 0}, global[3] = {0, 0, 0}, average = 0;
};

double PsnrOf(double se, double n)
{
	return se <= 1e-10 * n ? 100.0 : 10 * std::log10(255.0 * 255.0 * n / se);
}

Expected Measure(const Clip& a, const Clip& b)
{
	Expected e;
	double total[3] = {0, 0, 0}, count[3] = {0, 0, 0};
	const size_t frames = std::min(a.y.size(), b.y.size());
	for (size_t f = 0; f < frames; f++) {
		const std::vector<uint8_t>* pa[3] = {&a.y[f], &a.u[f], &a.v[f]};
		const std::vector<uint8_t>* pb[3] = {&b.y[f], &b.u[f], &b.v[f]};
		double frameSe = 0, frameN = 0;
		for (int p = 0; p < 3; p++) {
			double se = 0;
			for (size_t i = 0; i < pa[p]->size(); i++)
				se += std::pow((double)(*pa[p])[i] - (*pb[p])[i], 2);
			e.mean[p] += PsnrOf(se, (double)pa[p]->size()) / frames;
			total[p] += se;
			count[p] += (double)pa[p]->size();
			frameSe += se;
			frameN += (double)pa[p]->size();
		}
		e.average += PsnrOf(frameSe, frameN) / frames;
	}
	for (int p = 0; p < 3; p++)
		e.global[p] = PsnrOf(total[p], count[p]);
	return e;
}

TEST_F(Reports, PsnrAgreesWithAnIndependentComputation)
{
	if (!HaveKorvo())
		GTEST_SKIP() << "the Korvo add-ons are not built";
	const Clip clip = MovingClip(64, 48, 12);
	WriteY4m(Path("in.y4m"), clip);
	for (const char* quality : {"0.3", "0.9"}) {
		Result r = Tool(std::string("convert in.y4m k.mov --psnr --ssim --quiet --quality ") + quality);
		ASSERT_EQ(r.status, 0) << r.err;
		ASSERT_EQ(Tool("convert k.mov back.y4m").status, 0);
		const Expected e = Measure(clip, ReadY4m(Path("back.y4m")));
		double y, u, v, avg, global;
		long frames;
		const size_t at = r.err.find("k.mov: PSNR Mean ");
		ASSERT_NE(at, std::string::npos) << r.err;
		ASSERT_EQ(sscanf(r.err.c_str() + at,
		                 "k.mov: PSNR Mean Y:%lf U:%lf V:%lf Avg:%lf Global:%lf (%ld frames)", &y, &u, &v,
		                 &avg, &global, &frames),
		          6)
		        << r.err;
		EXPECT_EQ(frames, 12);
		EXPECT_NEAR(y, e.mean[0], 0.0011) << quality;
		EXPECT_NEAR(u, e.mean[1], 0.0011) << quality;
		EXPECT_NEAR(v, e.mean[2], 0.0011) << quality;
		EXPECT_NEAR(avg, e.average, 0.0011) << quality;
		EXPECT_GT(y, 25.0);
		// Global: the error of the three planes of all frames together.
		double se = 0, n = 0;
		for (int p = 0; p < 3; p++) {
			const double count = p ? 12.0 * 32 * 24 : 12.0 * 64 * 48;
			se += count * 255.0 * 255.0 / std::pow(10.0, e.global[p] / 10);
			n += count;
		}
		EXPECT_NEAR(global, PsnrOf(se, n), 0.0011) << quality;
		double sy, su, sv, all, db;
		const size_t ssim = r.err.find("k.mov: SSIM Mean ");
		ASSERT_NE(ssim, std::string::npos) << r.err;
		ASSERT_EQ(sscanf(r.err.c_str() + ssim, "k.mov: SSIM Mean Y:%lf U:%lf V:%lf All:%lf (%lf dB)", &sy,
		                 &su, &sv, &all, &db),
		          5);
		for (double s : {sy, su, sv, all}) {
			EXPECT_GT(s, 0.5);
			EXPECT_LE(s, 1.0);
		}
		EXPECT_NEAR(db, -10 * std::log10(1 - all), 0.002);
	}
	// Better quality measures better.
	Result low = Tool("convert in.y4m low.mov --psnr --ssim --quality 0.2");
	Result high = Tool("convert in.y4m high.mov --psnr --ssim --quality 1");
	double yl, yh, sl, sh;
	ASSERT_EQ(sscanf(low.err.c_str() + low.err.find("PSNR Mean Y:"), "PSNR Mean Y:%lf", &yl), 1);
	ASSERT_EQ(sscanf(high.err.c_str() + high.err.find("PSNR Mean Y:"), "PSNR Mean Y:%lf", &yh), 1);
	ASSERT_EQ(sscanf(low.err.c_str() + low.err.find("SSIM Mean Y:"), "SSIM Mean Y:%lf", &sl), 1);
	ASSERT_EQ(sscanf(high.err.c_str() + high.err.find("SSIM Mean Y:"), "SSIM Mean Y:%lf", &sh), 1);
	EXPECT_GT(yh, yl + 3);
	EXPECT_GT(sh, sl);
	// The source copy used for measuring is gone.
	for (const std::string& name : Listing())
		EXPECT_EQ(name.find("source"), std::string::npos) << name;
	// Standard input can be measured too.
	Result piped = Tool("convert - piped.mov --psnr --quality 0.2 < in.y4m");
	ASSERT_EQ(piped.status, 0) << piped.err;
	EXPECT_NE(
	        piped.err.find("piped.mov: PSNR Mean Y:" + low.err.substr(low.err.find("PSNR Mean Y:") + 12, 6)),
	        std::string::npos)
	        << piped.err << low.err;
}

// The fields of the text form: top-level labels and, per track, the heading's kind and the labels.
struct TextFields {
	std::vector<std::string> file;
	std::vector<std::vector<std::string>> tracks;
};

TextFields ParseText(const std::string& text)
{
	TextFields t;
	size_t pos = 0;
	while (pos < text.size()) {
		const size_t eol = text.find('\n', pos);
		const std::string line = text.substr(pos, eol - pos);
		pos = eol == std::string::npos ? text.size() : eol + 1;
		const size_t colon = line.find(':');
		if (line.rfind("track ", 0) == 0) {
			t.tracks.push_back({"kind"});
		} else if (line.rfind("  ", 0) == 0) {
			std::string label = line.substr(2, colon - 2);
			std::replace(label.begin(), label.end(), ' ', '_');
			t.tracks.back().push_back(label);
		} else {
			std::string label = line.substr(0, colon);
			std::replace(label.begin(), label.end(), ' ', '_');
			t.file.push_back(label);
		}
	}
	return t;
}

TEST_F(Reports, InfoJsonHasTheFieldsOfTheTextForm)
{
	if (!HaveProgram("python3") || !HaveProgram("sox"))
		GTEST_SKIP() << "python3 and sox are needed";
	std::vector<std::string> files = {"in.y4m", "s.wav"};
	WriteFile(Path("in.y4m"), "");
	std::string tagged = "YUV4MPEG2 W32 H16 F30000:1001 It A16:15 C420jpeg XCOLORRANGE=FULL\n";
	for (int i = 0; i < 3; i++)
		tagged += "FRAME\n" + std::string(32 * 16 * 3 / 2, (char)(60 + i));
	WriteFile(Path("in.y4m"), tagged);
	ASSERT_EQ(Shell("sox -n -r 22050 -c 1 -b 16 s.wav synth 0.5 sine 440").status, 0);
	if (HaveKorvo()) {
		ASSERT_EQ(Tool("convert in.y4m k.mov").status, 0);
		files.push_back("k.mov");
	}
	if (HaveAddOn("encoders/g723.encoder")) {
		ASSERT_EQ(Tool("convert s.wav g.wav --codec g723").status, 0);
		files.push_back("g.wav");
	}
	// Python prints the keys of the object and of each track, one line each, and checks the values.
	const std::string script =
	        "import json,sys\n"
	        "d=json.load(sys.stdin)\n"
	        "print(' '.join(k for k in d))\n"
	        "for t in d['tracks']: print('track', ' '.join(k for k in t if k!='codec'))\n"
	        "assert isinstance(d['size'],int) and d['size']>0\n"
	        "assert all(isinstance(t['duration'],float) for t in d['tracks'] if 'duration' in t)\n";
	WriteFile(Path("keys.py"), script);
	for (const std::string& file : files) {
		Result text = Tool("info " + file);
		ASSERT_EQ(text.status, 0) << file << text.err;
		Result json =
		        Shell("\"$MC\" --addons '" MEDIACONV_ADDONS "' info --json " + file + " | python3 keys.py");
		ASSERT_EQ(json.status, 0) << file << "\n" << json.err << json.out;
		const TextFields fields = ParseText(text.out);
		std::string expected;
		for (const std::string& f : fields.file)
			expected += (expected.empty() ? "" : " ") + f;
		expected += "\n";
		for (const std::vector<std::string>& t : fields.tracks) {
			expected += "track";
			for (const std::string& f : t)
				expected += " " + f;
			expected += "\n";
		}
		EXPECT_EQ(json.out, expected) << file << "\n" << text.out;
	}
	// Values, not only names: the tagged clip's picture and tags.
	Result json = Shell(
	        "\"$MC\" --addons '" MEDIACONV_ADDONS "' info --json in.y4m | python3 -c \"import json,sys; "
	        "t=json.load(sys.stdin)['tracks'][0]; p=t['picture']; "
	        "print(p['width'],p['height'],p['rate_numerator'],p['rate_denominator'],t['interlacing'],"
	        "t['pixel_aspect']['width'],t['pixel_aspect']['height'],t['colour_range'],t['frames'])\"");
	EXPECT_EQ(json.out, "32 16 30000 1001 top field first 16 15 full 3\n") << json.err;
}

}  // namespace
