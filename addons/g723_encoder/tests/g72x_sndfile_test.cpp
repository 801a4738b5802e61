// The G.723 coder against libsndfile's G.723 24 kbit/s decoder: the code words, wrapped in an AU file,
// decode to exactly the signal the coder reconstructs. libsndfile's decoder omits the rounding term of
// the mantissa product, so this program builds the coder with that term set to 0 (see CMakeLists.txt).
#include "g72x_signals.h"

using namespace g72x_test;

namespace {

TEST(G72xDecoderAgreement, SpeechLikeSignals)
{
	for (unsigned seed = 1; seed <= 3; seed++)
		ExpectDecoderAgrees(Speech(24000, seed));
}

TEST(G72xDecoderAgreement, Tones)
{
	// Pure tones drive the tone detector; the frequency jumps make transitions.
	std::vector<int16_t> signal;
	const double freqs[] = {300, 1004, 2100, 3400, 697, 1633};
	for (double f : freqs) {
		const std::vector<int16_t> t = Tone(4000, f, 12000);
		signal.insert(signal.end(), t.begin(), t.end());
	}
	const std::vector<int16_t> loud = Tone(4000, 1000, 32767);
	signal.insert(signal.end(), loud.begin(), loud.end());
	ExpectDecoderAgrees(signal);
}

TEST(G72xDecoderAgreement, SilenceAndTinySignals)
{
	std::vector<int16_t> signal(8000, 0);
	const std::vector<int16_t> tiny = Noise(8000, 7, 3);
	signal.insert(signal.end(), tiny.begin(), tiny.end());
	signal.insert(signal.end(), 8000, -1);
	ExpectDecoderAgrees(signal);
}

TEST(G72xDecoderAgreement, FullScaleSquareWaves)
{
	std::vector<int16_t> signal;
	for (size_t period : {2, 8, 40, 400}) {
		const std::vector<int16_t> s = Square(6000, period);
		signal.insert(signal.end(), s.begin(), s.end());
	}
	ExpectDecoderAgrees(signal);
}

TEST(G72xDecoderAgreement, Noise)
{
	ExpectDecoderAgrees(Noise(20000, 11, 32767));
	ExpectDecoderAgrees(Noise(20000, 12, 500));
}

TEST(G72xDecoderAgreement, StereoCodesAlternateFromOneState)
{
	// Left and right interleaved run through one state, so the interleaved stream decodes as one
	// signal.
	const std::vector<int16_t> left = Speech(8000, 5), right = Tone(8000, 440, 9000);
	std::vector<int16_t> stereo;
	for (size_t i = 0; i < left.size(); i++) {
		stereo.push_back(left[i]);
		stereo.push_back(right[i]);
	}
	ExpectDecoderAgrees(stereo);
}

}  // namespace
