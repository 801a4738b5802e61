// KorvexEncoder and its panel through the add-on's entry points: the parameter web and view, format
// set-up, chunks identical to the core's own with key frames flagged per frame, quality handling,
// 4:2:2 input and the failures an encoder must report.
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "CheckBox.h"
#include "ParameterWeb.h"
#include "Slider.h"
#include "TextControl.h"
#include "TextView.h"
#include "Window.h"
#include "video_test_support.h"

using namespace video_test;

namespace {

constexpr uint32 kWidth = 96, kHeight = 64;

media_file_format QuickTimeFile()
{
	media_file_format mfi{};
	mfi.family = B_QUICKTIME_FORMAT_FAMILY;
	return mfi;
}

// An encoder set up for `in` writing to `writer`.
std::unique_ptr<BPrivate::Encoder> SetUpEncoder(media_format in, RecordingWriter* writer,
                                                const char* file = "krv1.encoder.generic")
{
	std::unique_ptr<BPrivate::Encoder> e(NewEncoder(file));
	EXPECT_NE(e, nullptr);
	if (!e)
		return e;
	e->SetChunkWriter(writer);
	media_file_format mfi = QuickTimeFile();
	media_format out;
	EXPECT_EQ(e->SetFormat(&mfi, &in, &out), B_OK);
	EXPECT_EQ(e->StartEncoder(), B_OK);
	return e;
}

TEST(KorvexEncoder, ParameterWebHoldsTheQuality)
{
	AddOnEntry("krv1.encoder.generic", "instantiate_encoder");  // loading prints too
	std::unique_ptr<BPrivate::Encoder> e;
	{
		StdoutCapture out;
		e.reset(NewEncoder());
		ASSERT_NE(e, nullptr);
		EXPECT_EQ(out.Text(), "Instantiate Encoder\n");
	}
	media_codec_info info;
	ASSERT_EQ(e->GetCodecInfo(&info), B_OK);
	EXPECT_STREQ(info.pretty_name, "Korvo Vela 3.5 - Full Motion Video Codec");
	EXPECT_STREQ(info.short_name, "Korvo Vela 3.5");

	BParameterWeb* web = e->Web();
	ASSERT_NE(web, nullptr);
	ASSERT_EQ(web->CountGroups(), 1);
	EXPECT_STREQ(web->GroupAt(0)->Name(), "Korvo Vela 3.5 Plus - Full motion video codec");
	ASSERT_EQ(web->CountParameters(), 8);
	auto* quality = dynamic_cast<BContinuousParameter*>(web->ParameterAt(0));
	ASSERT_NE(quality, nullptr);
	EXPECT_EQ(quality->ID(), 4);
	EXPECT_EQ(quality->MediaType(), B_MEDIA_PARAMETERS);
	EXPECT_STREQ(quality->Name(), "Quality");
	EXPECT_STREQ(quality->Kind(), B_GENERIC);
	EXPECT_STREQ(quality->Unit(), "y");
	EXPECT_EQ(quality->MinValue(), 0.0f);
	EXPECT_EQ(quality->MaxValue(), 100.0f);
	EXPECT_EQ(quality->ValueStep(), 0.85f);

	const char* switchNames[] = {"Artifact Reduction", "Optimal Compression"};
	for (int32 i = 0; i < 2; i++) {
		auto* s = dynamic_cast<BContinuousParameter*>(web->ParameterAt(1 + i));
		ASSERT_NE(s, nullptr);
		EXPECT_EQ(s->ID(), 5 + i);
		EXPECT_STREQ(s->Name(), switchNames[i]);
		EXPECT_EQ(s->MinValue(), 0.0f);
		EXPECT_EQ(s->MaxValue(), 1.0f);
	}
	// Rate control, the key-frame distance, the threads and the tuning, with ids after the original
	// ones.
	const struct {
		int32 id;
		const char* name;
		float min, max;
	} settings[] = {{7, "Data Rate", 0, 1000000},
	                {8, "DRT Sensitivity", 0, 255},
	                {9, "Key Frame Interval", 1, 152},
	                {12, "Threads", 0, 32},
	                {13, "Tuning", 0, 1}};
	for (int32 i = 0; i < 5; i++) {
		auto* s = dynamic_cast<BContinuousParameter*>(web->ParameterAt(3 + i));
		ASSERT_NE(s, nullptr);
		EXPECT_EQ(s->ID(), settings[i].id);
		EXPECT_STREQ(s->Name(), settings[i].name);
		EXPECT_EQ(s->MinValue(), settings[i].min);
		EXPECT_EQ(s->MaxValue(), settings[i].max);
	}

	StdoutCapture out;
	EXPECT_EQ(e->GetParameterValue(4, nullptr, nullptr), B_OK);
	EXPECT_EQ(e->SetParameterValue(-7, nullptr, 0), B_OK);
	EXPECT_EQ(out.Text(), "GetParameterValue called with id 4\nSetParameterValue called with id -7\n");
}

// The two switches are kept for the context SetFormat makes and reach the stream: the user data before
// the first I-VOP announces the filters (byte 4 = 0x80 | dering << 1 | deblock), and trial coding
// changes what is coded.
TEST(KorvexEncoder, SwitchesReachTheCodec)
{
	const std::vector<uint8> frame = ClipFrame(kWidth, kHeight, 3, 100);
	const std::vector<uint8> next = ClipFrame(kWidth, kHeight, 4, 100);
	std::vector<std::vector<uint8>> chunks;
	for (int setting = 0; setting < 3; setting++) {
		std::unique_ptr<BPrivate::Encoder> e(NewEncoder());
		ASSERT_NE(e, nullptr);
		EXPECT_EQ(e->SetParameterValue(5, nullptr, 0), B_BAD_VALUE);
		const float on = 1;
		if (setting > 0) {
			ASSERT_EQ(e->SetParameterValue(setting == 1 ? 5 : 6, &on, sizeof on), B_OK);
		}
		float value = -1;
		size_t size = sizeof value;
		ASSERT_EQ(e->GetParameterValue(5, &value, &size), B_OK);
		EXPECT_EQ(value, setting == 1 ? 1.0f : 0.0f);

		RecordingWriter writer;
		e->SetChunkWriter(&writer);
		media_file_format mfi = QuickTimeFile();
		media_format in = RawVideo(kWidth, kHeight, 25), out;
		ASSERT_EQ(e->SetFormat(&mfi, &in, &out), B_OK);
		media_encode_info info;
		ASSERT_EQ(e->Encode(frame.data(), 1, &info), B_OK);
		ASSERT_EQ(e->Encode(next.data(), 1, &info), B_OK);
		ASSERT_EQ(writer.chunks.size(), 2u);
		ASSERT_GT(writer.chunks[0].bytes.size(), 5u);
		EXPECT_EQ(writer.chunks[0].bytes[4], setting == 1 ? 0x83 : 0x80) << setting;
		chunks.push_back(writer.chunks[1].bytes);
	}
	EXPECT_NE(chunks[1], chunks[0]) << "in-loop filters change the reference of the P-VOP";
}

// Codes `clip` with an encoder prepared by `prepare` (web parameters, panel, quality) before SetFormat.
std::vector<addon_test::Chunk> EncodeWith(const std::vector<std::vector<uint8>>& clip,
                                          const std::function<void(BPrivate::Encoder*)>& prepare)
{
	std::unique_ptr<BPrivate::Encoder> e(NewEncoder());
	EXPECT_NE(e, nullptr);
	if (!e)
		return {};
	RecordingWriter writer;
	e->SetChunkWriter(&writer);
	prepare(e.get());
	media_file_format mfi = QuickTimeFile();
	media_format in = RawVideo(kWidth, kHeight, 25), out;
	EXPECT_EQ(e->SetFormat(&mfi, &in, &out), B_OK);
	for (const std::vector<uint8>& frame : clip) {
		media_encode_info info;
		EXPECT_EQ(e->Encode(frame.data(), 1, &info), B_OK);
	}
	return writer.chunks;
}

size_t TotalBytes(const std::vector<addon_test::Chunk>& chunks)
{
	size_t total = 0;
	for (const addon_test::Chunk& c : chunks)
		total += c.bytes.size();
	return total;
}

void SetParameter(BPrivate::Encoder* e, int32 id, float value)
{
	ASSERT_EQ(e->SetParameterValue(id, &value, sizeof value), B_OK) << id;
}

// A data rate set through the web makes the encoder meet it: at the lowest quality (no floor) a
// low target gives far fewer bytes, and a key-frame interval of 3 gives key frames 0, 3, 6, ...
TEST(KorvexEncoder, RateSettingsThroughTheWebChangeTheStream)
{
	std::vector<std::vector<uint8>> clip;
	for (int i = 0; i < 12; i++)
		clip.push_back(ClipFrame(kWidth, kHeight, i));
	const auto lowest = [](BPrivate::Encoder* e) {
		encode_parameters p{};
		p.quality = 0;
		ASSERT_EQ(e->SetEncodeParameters(&p), B_OK);
	};
	const std::vector<addon_test::Chunk> plain = EncodeWith(clip, [&](BPrivate::Encoder* e) { lowest(e); });
	const std::vector<addon_test::Chunk> finest = EncodeWith(clip, [&](BPrivate::Encoder* e) {
		lowest(e);
		SetParameter(e, 7, 100000);
	});
	const std::vector<addon_test::Chunk> keyed = EncodeWith(clip, [&](BPrivate::Encoder* e) {
		lowest(e);
		SetParameter(e, 9, 3);
	});
	ASSERT_EQ(finest.size(), clip.size());
	ASSERT_EQ(keyed.size(), clip.size());
	// A target far above what the clip needs codes it at the finest quantiser.
	EXPECT_GT(TotalBytes(finest), 3 * TotalBytes(plain));
	for (size_t i = 0; i < keyed.size(); i++)
		EXPECT_EQ(keyed[i].flags & B_MEDIA_KEY_FRAME, i % 3 == 0 ? uint32(B_MEDIA_KEY_FRAME) : 0u) << i;

	std::unique_ptr<BPrivate::Encoder> e(NewEncoder());
	ASSERT_NE(e, nullptr);
	SetParameter(e.get(), 8, 40.7f);
	float value = 0;
	size_t size = sizeof value;
	ASSERT_EQ(e->GetParameterValue(8, &value, &size), B_OK);
	EXPECT_EQ(value, 40.0f);
	for (auto [id, bad] : {std::pair{7, -1.0f}, {8, 256.0f}, {9, 0.0f}, {9, 153.0f}}) {
		EXPECT_EQ(e->SetParameterValue(id, &bad, sizeof bad), B_BAD_VALUE) << id << " " << bad;
	}
}

// The panel's controls are read back when the host applies its settings: the "Input Params" line
// shows them and the stream follows them.
TEST(KorvexEncoder, PanelIsReadWhenSettingsAreApplied)
{
	std::vector<std::vector<uint8>> clip;
	for (int i = 0; i < 6; i++)
		clip.push_back(ClipFrame(kWidth, kHeight, i));
	CoreRoundTrip core(kWidth, kHeight, clip, kPixelFormatBGRA, 0);
	std::unique_ptr<BView> view;
	std::string line;
	const std::vector<addon_test::Chunk> chunks = EncodeWith(clip, [&](BPrivate::Encoder* e) {
		view.reset(e->GetParameterView());
		dynamic_cast<BCheckBox*>(view->FindView("ArtifactReduction"))->SetValue(B_CONTROL_ON);
		dynamic_cast<BTextControl*>(view->FindView("DataRate"))->SetText("1000");
		dynamic_cast<BSlider*>(view->FindView("DRT"))->SetValue(10);
		encode_parameters p{};
		StdoutCapture out;
		ASSERT_EQ(e->SetEncodeParameters(&p), B_OK);
		line = out.Text();
	});
	EXPECT_EQ(line, "Input Params: Quality 0 Artifact Reduction 1 OptimalCompression 0 DRT Sensitivity 10 "
	                "DataRate 1024.000000\n");
	ASSERT_EQ(chunks.size(), clip.size());
	ASSERT_GT(chunks[0].bytes.size(), 5u);
	EXPECT_EQ(chunks[0].bytes[4], 0x83) << "the filters announced";
	// 1 Mbit/s is far more than the quality-0 quantiser spends on this clip.
	size_t qualityOnly = 0;
	for (const std::vector<uint8>& c : core.chunks)
		qualityOnly += c.size();
	EXPECT_GT(TotalBytes(chunks), 2 * qualityOnly);
}

TEST(KorvexEncoder, ParameterViewStacksItsControls)
{
	std::unique_ptr<BPrivate::Encoder> e(NewEncoder());
	ASSERT_NE(e, nullptr);
	BView* view;
	{
		StdoutCapture out;
		view = e->GetParameterView();
		EXPECT_EQ(out.Text(), "Initialising View\n");
	}
	ASSERT_NE(view, nullptr);
	BWindow window(BRect(0, 0, 500, 400), "panel");
	window.AddChild(view);  // the window owns it now
	EXPECT_STREQ(view->Name(), "The View");
	EXPECT_EQ(view->ResizingMode(), 0x1234u);
	EXPECT_EQ(view->Flags(), 0x2000000u);
	ASSERT_EQ(view->CountChildren(), 6);

	auto* overview = dynamic_cast<BTextView*>(view->ChildAt(0));
	ASSERT_NE(overview, nullptr);
	EXPECT_STREQ(overview->Name(), "OverView");
	EXPECT_EQ(std::string(overview->Text()).rfind("When a data rate is specified Korvo interprets", 0), 0u);
	EXPECT_NE(std::string(overview->Text()).find("bitrate.  If a data rate is not specified, then"),
	          std::string::npos);
	EXPECT_TRUE(overview->DoesWordWrap());
	EXPECT_FALSE(overview->IsSelectable());
	EXPECT_FALSE(overview->IsEditable());
	EXPECT_EQ(overview->ViewColor(), (rgb_color{100, 225, 100, 255}));
	EXPECT_EQ(overview->ResizingMode(), 0u);
	EXPECT_EQ(overview->Flags(), 0x30000000u);
	EXPECT_EQ(overview->TextRect().Width(), 350.0f);
	// 58 characters to a 350-point line: the text takes more than one line, all of them shown.
	ASSERT_GT(overview->CountLines(), 1);
	const float textHeight = overview->TextHeight(0, overview->CountLines() - 1);
	EXPECT_EQ(overview->Frame(), BRect(30, 5, 390, 5 + textHeight));

	float top = 5 + textHeight + 5;
	auto* artifact = dynamic_cast<BCheckBox*>(view->ChildAt(1));
	ASSERT_NE(artifact, nullptr);
	EXPECT_STREQ(artifact->Name(), "ArtifactReduction");
	EXPECT_STREQ(artifact->Label(), "Artifact Reduction");
	EXPECT_EQ(artifact->Value(), B_CONTROL_OFF);
	EXPECT_EQ(artifact->Frame(), BRect(30, top, 190, top + 12));
	top += 12 + 5;
	auto* optimal = dynamic_cast<BCheckBox*>(view->ChildAt(2));
	ASSERT_NE(optimal, nullptr);
	EXPECT_STREQ(optimal->Name(), "OptimalCompression");
	EXPECT_STREQ(optimal->Label(), "Optimal Compression");
	EXPECT_EQ(optimal->Value(), B_CONTROL_OFF);
	EXPECT_EQ(optimal->Frame(), BRect(30, top, 190, top + 12));
	top += 12 + 5;
	auto* rate = dynamic_cast<BTextControl*>(view->ChildAt(3));
	ASSERT_NE(rate, nullptr);
	EXPECT_STREQ(rate->Name(), "DataRate");
	EXPECT_STREQ(rate->Label(), "Data Rate");
	EXPECT_STREQ(rate->Text(), "128");
	EXPECT_EQ(rate->Frame(), BRect(30, top, 150, top + 20));
	top += 20 + 5;
	auto* drt = dynamic_cast<BSlider*>(view->ChildAt(4));
	ASSERT_NE(drt, nullptr);
	EXPECT_STREQ(drt->Name(), "DRT");
	EXPECT_STREQ(drt->Label(), "DRT Sensitivity");
	EXPECT_EQ(drt->Value(), 192);
	int32 low, high;
	drt->GetLimits(&low, &high);
	EXPECT_EQ(low, 0);
	EXPECT_EQ(high, 255);
	EXPECT_EQ(drt->HashMarks(), B_HASH_MARKS_BOTTOM);
	EXPECT_EQ(drt->HashMarkCount(), 5);
	EXPECT_STREQ(drt->MinLimitLabel(), "loose");
	EXPECT_STREQ(drt->MaxLimitLabel(), "tight");
	EXPECT_EQ(drt->Flags(), 0x26000000u);
	float w, h;
	drt->GetPreferredSize(&w, &h);
	EXPECT_EQ(drt->Frame(), BRect(30, top, 190, top + h));
	top += h + 5;
	auto* tuning = dynamic_cast<BSlider*>(view->ChildAt(5));
	ASSERT_NE(tuning, nullptr);
	EXPECT_STREQ(tuning->Name(), "Tuning");
	EXPECT_STREQ(tuning->Label(), "Tuning");
	EXPECT_EQ(tuning->Value(), 0);
	tuning->GetLimits(&low, &high);
	EXPECT_EQ(low, 0);
	EXPECT_EQ(high, 1);
	EXPECT_EQ(tuning->HashMarks(), B_HASH_MARKS_BOTTOM);
	EXPECT_EQ(tuning->HashMarkCount(), 2);
	EXPECT_STREQ(tuning->MinLimitLabel(), "classic");
	EXPECT_STREQ(tuning->MaxLimitLabel(), "better");
	EXPECT_EQ(tuning->Flags(), 0x26000000u);
	tuning->GetPreferredSize(&w, &h);
	EXPECT_EQ(tuning->Frame(), BRect(30, top, 190, top + h));
	top += h + 5;
	for (int i = 1; i < 6; i++) {
		auto* control = dynamic_cast<BControl*>(view->ChildAt(i));
		EXPECT_EQ(control->ResizingMode(), 0x1212u) << i;
		EXPECT_EQ(control->Message(), nullptr) << i;
		if (i < 4) {
			EXPECT_EQ(control->Flags(), 0x22000000u) << i;
		}
	}
	EXPECT_EQ(view->Frame(), BRect(0, 0, 400, top));
	// Shown in a window, the panel takes its parent's low colour.
	const rgb_color parentLow = view->Parent()->LowColor();
	EXPECT_EQ(view->ViewColor(), parentLow);
	EXPECT_EQ(view->LowColor(), parentLow);
}

TEST(KorvexEncoder, SetFormatDescribesTheTrack)
{
	std::unique_ptr<BPrivate::Encoder> e(NewEncoder());
	ASSERT_NE(e, nullptr);
	media_file_format mfi{};
	mfi.family = B_AVI_FORMAT_FAMILY;
	media_format in = RawVideo(100, 60, 12.5f, B_RGBA32, 416);
	in.u.raw_video.pixel_width_aspect = 4;
	media_format out;
	{
		StdoutCapture capture;
		ASSERT_EQ(e->SetFormat(&mfi, &in, &out), B_OK);
		EXPECT_EQ(capture.Text(),
		          "Frame Size 24000 Buffer Size 24960\n"
		          "Warning - Input source is NOT a multiple of 16, output quality will suffer\n"
		          "Line Width 100 Bytes Per Row 416\nInput is RGBA32\n");
	}
	EXPECT_EQ(mfi.family, B_QUICKTIME_FORMAT_FAMILY);
	EXPECT_EQ(in.deny_flags, 0xFFF0u);
	EXPECT_EQ(out.deny_flags, 0xFFF0u);
	EXPECT_EQ(out.type, B_MEDIA_ENCODED_VIDEO);
	const media_encoded_video_format& v = out.u.encoded_video;
	EXPECT_NE(v.encoding, 0);
	EXPECT_EQ(v.frame_size, 24000u);
	EXPECT_FLOAT_EQ(v.output.field_rate, 12.5f);
	EXPECT_EQ(v.output.display.line_width, 100u);
	EXPECT_EQ(v.output.display.line_count, 60u);
	EXPECT_EQ(v.output.display.bytes_per_row, 416u);
	EXPECT_EQ(v.output.pixel_width_aspect, 4);
	EXPECT_EQ(v.output.last_active, 59u);

	// The encoder's encoding is the one the host gave the encoder's description.
	media_format_description d;
	d.family = B_QUICKTIME_FORMAT_FAMILY;
	d.u.quicktime.codec = 0x4B525631;
	d.u.quicktime.vendor = 0x4B52564F;
	media_format registered;
	BMediaFormats formats;
	ASSERT_EQ(formats.GetFormatFor(d, &registered), B_OK);
	EXPECT_EQ(v.encoding, registered.u.encoded_video.encoding);

	// An unsupported colour space is coerced, with rows of the colour space it becomes.
	in = RawVideo(32, 32, 25, B_RGB24, 96);
	{
		StdoutCapture capture;
		ASSERT_EQ(e->SetFormat(&mfi, &in, &out), B_OK);
		EXPECT_NE(capture.Text().find("We do NOT support this format 3\n"), std::string::npos);
	}
	EXPECT_EQ(in.u.raw_video.display.format, B_RGBA32);
	EXPECT_EQ(in.u.raw_video.display.bytes_per_row, 128u);

	in = RawVideo(32, 32, 25, B_YUV422);
	in.u.raw_video.display.bytes_per_row = 0;
	ASSERT_EQ(e->SetFormat(&mfi, &in, &out), B_OK);
	EXPECT_EQ(in.u.raw_video.display.bytes_per_row, 64u);

	// Rows the core would wrap are refused.
	in = RawVideo(32, 32, 25, B_RGB32, 16384);
	EXPECT_EQ(e->SetFormat(&mfi, &in, &out), B_BAD_VALUE);
	in = RawVideo(20000, 20000, 25, B_YUV422, 8000);
	EXPECT_NE(e->SetFormat(&mfi, &in, &out), B_OK);
}

TEST(KorvexEncoder, ChunksAreTheCoresWithKeyFramesFlaggedPerFrame)
{
	constexpr int kFrames = 24, kCut = 14;
	std::vector<std::vector<uint8>> clip;
	for (int i = 0; i < kFrames; i++)
		clip.push_back(ClipFrame(kWidth, kHeight, i, kCut));
	CoreRoundTrip core(kWidth, kHeight, clip);
	ASSERT_TRUE(core.intra[0]);
	ASSERT_FALSE(core.intra[1]);
	ASSERT_FALSE(core.intra[kCut + 1]);
	ASSERT_TRUE(core.intra[kCut]) << "the scene cut must give an I-VOP";

	// Both builds of the add-on are the same encoder.
	for (const char* file : {"krv1.encoder.generic", "krv1.encoder"}) {
		RecordingWriter writer;
		std::unique_ptr<BPrivate::Encoder> e = SetUpEncoder(RawVideo(kWidth, kHeight, 25), &writer, file);
		ASSERT_NE(e, nullptr);
		ASSERT_EQ(e->AttachedToTrack(), B_OK);
		EXPECT_EQ(writer.copyrights, std::vector<std::string>{"Korvo codec"});
		// One info for every frame, as a careless host would pass it: a key frame must not leak.
		media_encode_info info;
		for (int i = 0; i < kFrames; i++) {
			StdoutCapture out;
			ASSERT_EQ(e->Encode(clip[i].data(), 1, &info), B_OK) << i;
			const std::string text = out.Text();
			EXPECT_EQ(text.rfind("Encoded Frame of 24576 bytes into " +
			                             std::to_string(core.chunks[i].size()) + " bytes Quality Level ",
			                     0),
			          0u)
			        << text;
			EXPECT_NE(text.find(" usec to encode 1 frame ("), std::string::npos) << text;
			EXPECT_EQ(text.find("Frame was a Keyframe\n") != std::string::npos, core.intra[i]) << i;
		}
		ASSERT_EQ(writer.chunks.size(), size_t{kFrames});
		for (int i = 0; i < kFrames; i++) {
			EXPECT_EQ(writer.chunks[i].bytes, core.chunks[i]) << file << " frame " << i;
			EXPECT_EQ(writer.chunks[i].flags & B_MEDIA_KEY_FRAME, core.intra[i] ? 1u : 0u)
			        << file << " " << i;
			EXPECT_EQ(writer.chunks[i].info, &info);
		}
	}
}

// A thread count from the web reaches the context SetFormat makes and changes no chunk; counts
// outside 0..32 are refused and leave the count as it was.
TEST(KorvexEncoder, ThreadsChangeNoChunk)
{
	constexpr int kFrames = 8;
	std::vector<std::vector<uint8>> clip;
	for (int i = 0; i < kFrames; i++)
		clip.push_back(ClipFrame(kWidth, kHeight, i, 5));
	CoreRoundTrip core(kWidth, kHeight, clip);
	std::unique_ptr<BPrivate::Encoder> e(NewEncoder());
	ASSERT_NE(e, nullptr);
	const float three = 3;
	ASSERT_EQ(e->SetParameterValue(12, &three, sizeof three), B_OK);
	for (float bad : {-1.0f, 33.0f, std::nanf("")})
		EXPECT_EQ(e->SetParameterValue(12, &bad, sizeof bad), B_BAD_VALUE) << bad;
	EXPECT_EQ(e->SetParameterValue(12, &three, 2), B_BAD_VALUE);
	float value = -1;
	size_t size = sizeof value;
	ASSERT_EQ(e->GetParameterValue(12, &value, &size), B_OK);
	EXPECT_EQ(value, 3.0f);

	RecordingWriter writer;
	e->SetChunkWriter(&writer);
	media_file_format mfi = QuickTimeFile();
	media_format in = RawVideo(kWidth, kHeight, 25), out;
	ASSERT_EQ(e->SetFormat(&mfi, &in, &out), B_OK);
	media_encode_info info;
	for (int i = 0; i < kFrames; i++)
		ASSERT_EQ(e->Encode(clip[i].data(), 1, &info), B_OK) << i;
	ASSERT_EQ(writer.chunks.size(), size_t{kFrames});
	for (int i = 0; i < kFrames; i++)
		EXPECT_EQ(writer.chunks[i].bytes, core.chunks[i]) << "frame " << i;
}

// A clip with a scene cut and the core's chunks of it in both tunings, which the add-on must match.
struct TunedClip {
	static constexpr int kFrames = 8;
	std::vector<std::vector<uint8>> clip = Frames(kFrames);
	CoreRoundTrip classic{kWidth, kHeight, clip};
	CoreRoundTrip better{kWidth, kHeight, clip, kPixelFormatBGRA, 870, kTuningBetter};

	static std::vector<std::vector<uint8>> Frames(int count)
	{
		std::vector<std::vector<uint8>> frames;
		for (int i = 0; i < count; i++)
			frames.push_back(ClipFrame(kWidth, kHeight, i, 5));
		return frames;
	}
};

// The tuning from the web reaches the context SetFormat makes: 1 gives the core's better-tuned
// chunks, 0 (the default) the classic ones; other values are refused and change nothing.
TEST(KorvexEncoder, TuningChoosesTheCoresDecisions)
{
	constexpr int kFrames = TunedClip::kFrames;
	const TunedClip tuned;
	const auto& [clip, classic, better] = tuned;
	ASSERT_NE(classic.chunks, better.chunks);
	for (float choice : {0.0f, 1.0f}) {
		std::unique_ptr<BPrivate::Encoder> e(NewEncoder());
		ASSERT_NE(e, nullptr);
		float value = -1;
		size_t size = sizeof value;
		ASSERT_EQ(e->GetParameterValue(13, &value, &size), B_OK);
		EXPECT_EQ(value, 0.0f);
		ASSERT_EQ(e->SetParameterValue(13, &choice, sizeof choice), B_OK);
		for (float bad : {-1.0f, 2.0f, std::nanf("")})
			EXPECT_EQ(e->SetParameterValue(13, &bad, sizeof bad), B_BAD_VALUE) << bad;
		size = sizeof value;
		ASSERT_EQ(e->GetParameterValue(13, &value, &size), B_OK);
		EXPECT_EQ(value, choice);

		RecordingWriter writer;
		e->SetChunkWriter(&writer);
		media_file_format mfi = QuickTimeFile();
		media_format in = RawVideo(kWidth, kHeight, 25), out;
		ASSERT_EQ(e->SetFormat(&mfi, &in, &out), B_OK);
		media_encode_info info;
		for (int i = 0; i < kFrames; i++)
			ASSERT_EQ(e->Encode(clip[i].data(), 1, &info), B_OK) << i;
		const CoreRoundTrip& core = choice == 1 ? better : classic;
		ASSERT_EQ(writer.chunks.size(), size_t{kFrames});
		for (int i = 0; i < kFrames; i++)
			EXPECT_EQ(writer.chunks[i].bytes, core.chunks[i]) << "tuning " << choice << " frame " << i;
	}
}

// The panel's tuning control, read back when the host applies the settings, chooses the core's
// decisions as the web's Tuning does; the web's later setting wins over it.
TEST(KorvexEncoder, PanelTuningChoosesTheCoresDecisions)
{
	constexpr int kFrames = TunedClip::kFrames;
	const TunedClip tuned;
	const auto& [clip, classic, better] = tuned;
	ASSERT_NE(classic.chunks, better.chunks);
	for (const int32 choice : {1, 0}) {
		for (const bool webAfterwards : {false, true}) {
			std::unique_ptr<BView> view;
			const std::vector<addon_test::Chunk> chunks = EncodeWith(clip, [&](BPrivate::Encoder* e) {
				view.reset(e->GetParameterView());
				// No data rate: the quality alone decides, as in the core's runs.
				dynamic_cast<BTextControl*>(view->FindView("DataRate"))->SetText("0");
				dynamic_cast<BSlider*>(view->FindView("Tuning"))->SetValue(choice);
				encode_parameters p{};
				p.quality = 0.85f;
				ASSERT_EQ(e->SetEncodeParameters(&p), B_OK);
				float value = -1;
				size_t size = sizeof value;
				ASSERT_EQ(e->GetParameterValue(13, &value, &size), B_OK);
				EXPECT_EQ(value, float(choice));
				if (webAfterwards)
					SetParameter(e, 13, float(1 - choice));
			});
			const bool wantBetter = (choice == 1) != webAfterwards;
			const CoreRoundTrip& core = wantBetter ? better : classic;
			ASSERT_EQ(chunks.size(), size_t{kFrames});
			for (int i = 0; i < kFrames; i++)
				EXPECT_EQ(chunks[i].bytes, core.chunks[i])
				        << "panel " << choice << " web afterwards " << webAfterwards << " frame " << i;
		}
	}
}

TEST(KorvexEncoder, SeveralFramesInOneCall)
{
	constexpr int kFrames = 5;
	std::vector<std::vector<uint8>> clip;
	std::vector<uint8> all;
	for (int i = 0; i < kFrames; i++) {
		clip.push_back(ClipFrame(kWidth, kHeight, i));
		all.insert(all.end(), clip.back().begin(), clip.back().end());
	}
	CoreRoundTrip core(kWidth, kHeight, clip);
	RecordingWriter writer;
	std::unique_ptr<BPrivate::Encoder> e = SetUpEncoder(RawVideo(kWidth, kHeight, 25), &writer);
	ASSERT_NE(e, nullptr);
	media_encode_info info;
	ASSERT_EQ(e->Encode(all.data(), 0, &info), B_OK);
	EXPECT_TRUE(writer.chunks.empty());
	ASSERT_EQ(e->Encode(all.data(), kFrames, &info), B_OK);
	ASSERT_EQ(writer.chunks.size(), size_t{kFrames});
	for (int i = 0; i < kFrames; i++)
		EXPECT_EQ(writer.chunks[i].bytes, core.chunks[i]) << i;
	EXPECT_EQ(e->Flush(), B_OK);
	EXPECT_EQ(writer.chunks.size(), size_t{kFrames});
}

TEST(KorvexEncoder, QualityIsKeptAndReported)
{
	std::unique_ptr<BPrivate::Encoder> e(NewEncoder());
	ASSERT_NE(e, nullptr);
	encode_parameters p{};
	ASSERT_EQ(e->GetEncodeParameters(&p), B_OK);
	EXPECT_FLOAT_EQ(p.quality, 0.85f);
	// Before SetFormat there is no context: the quality waits for it.
	p.quality = 0.5f;
	{
		StdoutCapture out;
		ASSERT_EQ(e->SetEncodeParameters(&p), B_OK);
		EXPECT_EQ(out.Text(), "Input Params: Quality 512 Artifact Reduction 0 OptimalCompression 0 DRT "
		                      "Sensitivity 255 DataRate 0.000000\n");
	}
	encode_parameters back{};
	ASSERT_EQ(e->GetEncodeParameters(&back), B_OK);
	EXPECT_FLOAT_EQ(back.quality, 0.5f);

	std::vector<std::vector<uint8>> clip;
	for (int i = 0; i < 4; i++)
		clip.push_back(ClipFrame(kWidth, kHeight, i));
	CoreRoundTrip at512(kWidth, kHeight, clip, kPixelFormatBGRA, 512);
	CoreRoundTrip at1024(kWidth, kHeight, clip, kPixelFormatBGRA, 1024);
	ASSERT_NE(at512.chunks[0], at1024.chunks[0]) << "the qualities must give different streams";

	RecordingWriter writer;
	e->SetChunkWriter(&writer);
	media_file_format mfi = QuickTimeFile();
	media_format in = RawVideo(kWidth, kHeight, 25), out;
	ASSERT_EQ(e->SetFormat(&mfi, &in, &out), B_OK);
	media_encode_info info;
	ASSERT_EQ(e->Encode(clip[0].data(), 1, &info), B_OK);
	ASSERT_EQ(e->Encode(clip[1].data(), 1, &info), B_OK);
	// The host's quality 1.0 reaches the context at once.
	p.quality = 1.0f;
	{
		StdoutCapture capture;
		ASSERT_EQ(e->SetEncodeParameters(&p), B_OK);
		EXPECT_NE(capture.Text().find("Input Params: Quality 1024 "), std::string::npos);
	}
	// Out of range is held to the scale.
	encode_parameters wild{};
	wild.quality = -3;
	std::unique_ptr<BPrivate::Encoder> other(NewEncoder());
	{
		StdoutCapture capture;
		ASSERT_EQ(other->SetEncodeParameters(&wild), B_OK);
		EXPECT_NE(capture.Text().find("Input Params: Quality 0 "), std::string::npos);
	}
	ASSERT_EQ(writer.chunks.size(), 2u);
	EXPECT_EQ(writer.chunks[0].bytes, at512.chunks[0]);
	EXPECT_EQ(writer.chunks[1].bytes, at512.chunks[1]);
}

TEST(KorvexEncoder, YUV422InputIsEncoded)
{
	std::vector<std::vector<uint8>> clip;
	for (int i = 0; i < 6; i++)
		clip.push_back(ClipFrameYUV422(kWidth, kHeight, i));
	CoreRoundTrip core(kWidth, kHeight, clip, kPixelFormatYUVS);
	RecordingWriter writer;
	std::unique_ptr<BPrivate::Encoder> e;
	{
		StdoutCapture out;
		e = SetUpEncoder(RawVideo(kWidth, kHeight, 25, B_YUV422), &writer);
		EXPECT_NE(out.Text().find("Input is YUV422\n"), std::string::npos);
	}
	ASSERT_NE(e, nullptr);
	for (const std::vector<uint8>& frame : clip) {
		media_encode_info info;
		ASSERT_EQ(e->Encode(frame.data(), 1, &info), B_OK);
	}
	ASSERT_EQ(writer.chunks.size(), clip.size());
	for (size_t i = 0; i < clip.size(); i++)
		EXPECT_EQ(writer.chunks[i].bytes, core.chunks[i]) << i;
	EXPECT_EQ(writer.chunks[0].flags, (uint32)B_MEDIA_KEY_FRAME);
}

// Planar 4:2:0 goes into the core as it is: the chunks are the core's own from the same planes.
// Pictures of odd sizes have no planar form and are coerced to 32-bit pixels.
TEST(KorvexEncoder, YUV420InputIsCodedAsGiven)
{
	std::vector<std::vector<uint8>> clip;
	for (int i = 0; i < 6; i++)
		clip.push_back(ClipFrameYUV420(kWidth, kHeight, i));
	CoreRoundTrip core(kWidth, kHeight, clip, kPixelFormatYUV420Planar);
	RecordingWriter writer;
	std::unique_ptr<BPrivate::Encoder> e;
	{
		StdoutCapture out;
		e = SetUpEncoder(RawVideo(kWidth, kHeight, 25, B_YUV420), &writer);
		const std::string text = out.Text();
		EXPECT_NE(text.find("Buffer Size 9216\n"), std::string::npos) << text;
		EXPECT_NE(text.find("Input is YUV420\n"), std::string::npos) << text;
	}
	ASSERT_NE(e, nullptr);
	// Two frames in one call: the frame size steps over both chroma planes.
	std::vector<uint8> pair = clip[0];
	pair.insert(pair.end(), clip[1].begin(), clip[1].end());
	media_encode_info info;
	ASSERT_EQ(e->Encode(pair.data(), 2, &info), B_OK);
	for (size_t i = 2; i < clip.size(); i++)
		ASSERT_EQ(e->Encode(clip[i].data(), 1, &info), B_OK);
	ASSERT_EQ(writer.chunks.size(), clip.size());
	for (size_t i = 0; i < clip.size(); i++)
		EXPECT_EQ(writer.chunks[i].bytes, core.chunks[i]) << i;

	for (auto [w, h] : {std::pair{kWidth + 1, kHeight}, std::pair{kWidth, kHeight + 1}}) {
		std::unique_ptr<BPrivate::Encoder> odd(NewEncoder());
		ASSERT_NE(odd, nullptr);
		media_file_format mfi = QuickTimeFile();
		media_format in = RawVideo(w, h, 25, B_YUV420), out;
		ASSERT_EQ(odd->SetFormat(&mfi, &in, &out), B_OK);
		EXPECT_EQ(in.u.raw_video.display.format, B_RGBA32) << w << "x" << h;
		EXPECT_EQ(in.u.raw_video.display.bytes_per_row, w * 4) << w << "x" << h;
	}
}

TEST(KorvexEncoder, NoiseInPaddedRowsAtFullQuality)
{
	// Noise at the host's best quality gives large frames; rows padded past the picture make the
	// input frame (the streamSize the encoder passes) longer than the codec's own buffer, which the
	// core's writer and so the chunk handed on stay within (ASan watches the buffer).
	constexpr uint32 kRow = kWidth * 4 + 256;
	std::vector<std::vector<uint8>> tight, padded;
	uint32 seed = 12345;
	for (int i = 0; i < 3; i++) {
		tight.emplace_back(kWidth * kHeight * 4);
		for (uint8& b : tight.back()) {
			seed = seed * 1103515245u + 12345u;
			b = uint8(seed >> 23);
		}
		padded.emplace_back(size_t{kRow} * kHeight, 0x5A);
		for (uint32 y = 0; y < kHeight; y++)
			memcpy(&padded.back()[y * kRow], &tight.back()[y * kWidth * 4], kWidth * 4);
	}
	CoreRoundTrip core(kWidth, kHeight, tight, kPixelFormatBGRA, 1024);
	RecordingWriter writer;
	std::unique_ptr<BPrivate::Encoder> e(NewEncoder());
	ASSERT_NE(e, nullptr);
	e->SetChunkWriter(&writer);
	encode_parameters p{};
	p.quality = 1.0f;
	ASSERT_EQ(e->SetEncodeParameters(&p), B_OK);
	media_file_format mfi = QuickTimeFile();
	media_format in = RawVideo(kWidth, kHeight, 25, B_RGB32, kRow), out;
	ASSERT_EQ(e->SetFormat(&mfi, &in, &out), B_OK);
	for (const std::vector<uint8>& frame : padded) {
		media_encode_info info;
		ASSERT_EQ(e->Encode(frame.data(), 1, &info), B_OK);
	}
	ASSERT_EQ(writer.chunks.size(), padded.size());
	size_t largest = 0;
	for (size_t i = 0; i < padded.size(); i++) {
		EXPECT_EQ(writer.chunks[i].bytes, core.chunks[i]) << i;
		largest = std::max(largest, writer.chunks[i].bytes.size());
	}
	// Noise hardly compresses: several times the clip's smooth pictures.
	EXPECT_GT(largest, size_t{kWidth} * kHeight / 2);
	RecordProperty("largest_chunk_bytes", std::to_string(largest));
}

TEST(KorvexEncoder, PanelSettingsDoNotChangeTheStream)
{
	std::vector<std::vector<uint8>> clip;
	for (int i = 0; i < 3; i++)
		clip.push_back(ClipFrame(kWidth, kHeight, i));
	CoreRoundTrip core(kWidth, kHeight, clip);
	RecordingWriter writer;
	std::unique_ptr<BPrivate::Encoder> e = SetUpEncoder(RawVideo(kWidth, kHeight, 25), &writer);
	ASSERT_NE(e, nullptr);
	std::unique_ptr<BView> view(e->GetParameterView());
	ASSERT_NE(view, nullptr);
	dynamic_cast<BCheckBox*>(view->FindView("ArtifactReduction"))->SetValue(B_CONTROL_ON);
	dynamic_cast<BCheckBox*>(view->FindView("OptimalCompression"))->SetValue(B_CONTROL_ON);
	dynamic_cast<BTextControl*>(view->FindView("DataRate"))->SetText("not a number");
	dynamic_cast<BSlider*>(view->FindView("DRT"))->SetValue(3);
	for (const std::vector<uint8>& frame : clip) {
		media_encode_info info;
		ASSERT_EQ(e->Encode(frame.data(), 1, &info), B_OK);
	}
	ASSERT_EQ(writer.chunks.size(), clip.size());
	for (size_t i = 0; i < clip.size(); i++)
		EXPECT_EQ(writer.chunks[i].bytes, core.chunks[i]) << i;
}

TEST(KorvexEncoder, FailuresAreReported)
{
	std::vector<uint8> frame = ClipFrame(kWidth, kHeight, 0);
	media_encode_info info;
	std::unique_ptr<BPrivate::Encoder> unset(NewEncoder());
	ASSERT_NE(unset, nullptr);
	EXPECT_EQ(unset->Encode(frame.data(), 1, &info), B_NO_INIT);

	// The host's write failure comes back as it is.
	RecordingWriter writer;
	writer.failWith = B_IO_ERROR;
	std::unique_ptr<BPrivate::Encoder> e = SetUpEncoder(RawVideo(kWidth, kHeight, 25), &writer);
	ASSERT_NE(e, nullptr);
	EXPECT_EQ(e->Encode(frame.data(), 1, &info), B_IO_ERROR);

	// Rows shorter than the picture's cannot be read: the codec fails the frame.
	RecordingWriter short_writer;
	std::unique_ptr<BPrivate::Encoder> shortRows =
	        SetUpEncoder(RawVideo(kWidth, kHeight, 25, B_RGB32, kWidth * 4 - 4), &short_writer);
	ASSERT_NE(shortRows, nullptr);
	EXPECT_EQ(shortRows->Encode(frame.data(), 1, &info), B_NO_MEMORY);
	EXPECT_TRUE(short_writer.chunks.empty());

	// Without a chunk writer the host service refuses.
	std::unique_ptr<BPrivate::Encoder> lonely = SetUpEncoder(RawVideo(kWidth, kHeight, 25), nullptr);
	ASSERT_NE(lonely, nullptr);
	EXPECT_EQ(lonely->Encode(frame.data(), 1, &info), B_NO_INIT);
	StdoutCapture out;
	lonely.reset();
	EXPECT_EQ(out.Text(), "Disposing Encoder\n");
}

}  // namespace
