// KorvexView: the settings panel's children, stacked top to bottom with a 5-point gap, and the
// read-outs of its five controls.
#include "korvex_view.h"

#include <cstdlib>

#include "CheckBox.h"
#include "Slider.h"
#include "TextControl.h"
#include "TextView.h"

namespace {

constexpr float kGap = 5;
constexpr float kLeft = 30;
constexpr uint32 kControlResizing = 0x1212;   // B_FOLLOW_LEFT | B_FOLLOW_TOP
constexpr uint32 kControlFlags = 0x22000000;  // B_WILL_DRAW | B_NAVIGABLE
constexpr uint32 kSliderFlags = 0x26000000;   // and B_FRAME_EVENTS

const char kOverview[] =
        "When a data rate is specified Korvo interprets the Quality percentage as a minimum quality, "
        "increasing the compression efficiency will result in better quality at the desired bitrate.  "
        "If a data rate is not specified, then increasing the compression efficiency will result in a "
        "smaller file for the specified quality.";

}  // namespace

KorvexView::KorvexView(BRect frame, const char* name, uint32 resizingMode, uint32 flags)
    : BView(frame, name, resizingMode, flags)
{
	float top = kGap;
	auto stack = [&](BView* child) {
		AddChild(child);
		top += child->Frame().Height() + kGap;
	};

	auto* overview =
	        new BTextView(BRect(kLeft, top, 390, top), "OverView", BRect(0, 0, 350, 0), 0, 0x30000000);
	overview->SetViewColor(100, 225, 100, 255);
	overview->SetWordWrap(true);
	overview->MakeSelectable(false);
	overview->MakeEditable(false);
	overview->SetText(kOverview);
	overview->ResizeBy(0, overview->TextHeight(0, overview->CountLines() - 1));
	stack(overview);

	artifactReduction = new BCheckBox(BRect(kLeft, top, kLeft + 160, top + 12), "ArtifactReduction",
	                                  "Artifact Reduction", nullptr, kControlResizing, kControlFlags);
	stack(artifactReduction);

	optimalCompression = new BCheckBox(BRect(kLeft, top, kLeft + 160, top + 12), "OptimalCompression",
	                                   "Optimal Compression", nullptr, kControlResizing, kControlFlags);
	stack(optimalCompression);

	dataRate = new BTextControl(BRect(kLeft, top, kLeft + 120, top + 20), "DataRate", "Data Rate", "128",
	                            nullptr, kControlResizing, kControlFlags);
	stack(dataRate);

	drtSensitivity = new BSlider(BRect(kLeft, top, kLeft + 160, top), "DRT", "DRT Sensitivity", nullptr, 0,
	                             255, B_BLOCK_THUMB, kControlResizing, kSliderFlags);
	drtSensitivity->SetValue(192);
	drtSensitivity->SetHashMarks(B_HASH_MARKS_BOTTOM);
	drtSensitivity->SetHashMarkCount(5);
	drtSensitivity->SetLimitLabels("loose", "tight");
	drtSensitivity->ResizeToPreferred();
	stack(drtSensitivity);

	// Two positions: the original's decisions, or the ones that spend fewer bits for the quality.
	tuning = new BSlider(BRect(kLeft, top, kLeft + 160, top), "Tuning", "Tuning", nullptr, 0, 1,
	                     B_BLOCK_THUMB, kControlResizing, kSliderFlags);
	tuning->SetValue(0);
	tuning->SetHashMarks(B_HASH_MARKS_BOTTOM);
	tuning->SetHashMarkCount(2);
	tuning->SetLimitLabels("classic", "better");
	tuning->ResizeToPreferred();
	stack(tuning);

	ResizeBy(0, top);
}

KorvexView::KorvexView(BMessage* archive) : BView(archive) {}

void KorvexView::AttachedToWindow()
{
	if (!Parent())
		return;
	SetViewColor(Parent()->LowColor());
	SetLowColor(Parent()->LowColor());
}

bool KorvexView::GetArtifactReduction() const
{
	return artifactReduction && artifactReduction->Value() == B_CONTROL_ON;
}

bool KorvexView::GetOptimalCompression() const
{
	return optimalCompression && optimalCompression->Value() == B_CONTROL_ON;
}

double KorvexView::GetDataRate() const
{
	return dataRate ? static_cast<double>(strtol(dataRate->Text(), nullptr, 10)) * 1024.0 : 0.0;
}

int32 KorvexView::GetDRTSensitivity() const { return drtSensitivity ? drtSensitivity->Value() : 0; }

int32 KorvexView::GetTuning() const { return tuning ? tuning->Value() : 0; }
