// BControl and the three controls the encoder panel uses: BCheckBox, BTextControl, BSlider.
// State and layout only; a control's message is kept, never sent.
#include <algorithm>

#include "CheckBox.h"
#include "Message.h"
#include "Slider.h"
#include "TextControl.h"
#include "TextView.h"

BControl::BControl(BRect frame, const char* name, const char* label, BMessage* message, uint32 resizingMode,
                   uint32 flags)
    : BView(frame, name, resizingMode, flags), fLabel(label ? label : ""), fMessage(message)
{
}

BControl::~BControl() { delete fMessage; }

void BControl::SetMessage(BMessage* message)
{
	if (message != fMessage)
		delete fMessage;
	fMessage = message;
}

BCheckBox::BCheckBox(BRect frame, const char* name, const char* label, BMessage* message, uint32 resizingMode,
                     uint32 flags)
    : BControl(frame, name, label, message, resizingMode, flags)
{
}

BTextControl::BTextControl(BRect frame, const char* name, const char* label, const char* initialText,
                           BMessage* message, uint32 resizingMode, uint32 flags)
    : BControl(frame, name, label, message, resizingMode, flags)
{
	// The text field starts after the label and a small gap.
	float divider = label && *label ? StringWidth(label) + 5 : 0;
	BRect field(divider, 0, std::max(divider, frame.Width()), frame.Height());
	fTextView = new BTextView(field, "_input_", BRect(0, 0, field.Width(), field.Height()),
	                          B_FOLLOW_LEFT_RIGHT, B_WILL_DRAW | B_NAVIGABLE);
	fTextView->SetWordWrap(false);
	fTextView->SetText(initialText);
	AddChild(fTextView);
}

const char* BTextControl::Text() const { return fTextView->Text(); }

void BTextControl::SetText(const char* text) { fTextView->SetText(text); }

BSlider::BSlider(BRect frame, const char* name, const char* label, BMessage* message, int32 minValue,
                 int32 maxValue, thumb_style thumbType, uint32 resizingMode, uint32 flags)
    : BControl(frame, name, label, message, resizingMode, flags), fMinimum(minValue),
      fMaximum(std::max(minValue, maxValue)), fThumb(thumbType)
{
	BControl::SetValue(fMinimum);
}

void BSlider::SetValue(int32 value) { BControl::SetValue(std::clamp(value, fMinimum, fMaximum)); }

void BSlider::GetLimits(int32* minimum, int32* maximum) const
{
	if (minimum)
		*minimum = fMinimum;
	if (maximum)
		*maximum = fMaximum;
}

void BSlider::SetLimitLabels(const char* minLabel, const char* maxLabel)
{
	fMinLabel = minLabel ? minLabel : "";
	fMaxLabel = maxLabel ? maxLabel : "";
}

void BSlider::GetPreferredSize(float* width, float* height)
{
	// Label line, the bar with its thumb, hash marks on each marked side, the limit-label line.
	const float kBar = 12, kHashMarks = 6;
	float h = kBar;
	if (*Label())
		h += kFontLineHeight;
	if (fHashMarks & B_HASH_MARKS_TOP)
		h += kHashMarks;
	if (fHashMarks & B_HASH_MARKS_BOTTOM)
		h += kHashMarks;
	if (!fMinLabel.empty() || !fMaxLabel.empty())
		h += kFontLineHeight;
	*width = Frame().Width();
	*height = h;
}
