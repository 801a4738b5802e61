// BCheckBox: an on/off control (Value() B_CONTROL_ON or B_CONTROL_OFF).
// State only; there is no drawing.
#pragma once

#include "Control.h"

class KORVO_HOST_API BCheckBox : public BControl {
public:
	BCheckBox(BRect frame, const char* name, const char* label, BMessage* message,
	          uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP, uint32 flags = B_WILL_DRAW | B_NAVIGABLE);
	void SetValue(int32 value) override { BControl::SetValue(value ? B_CONTROL_ON : B_CONTROL_OFF); }
};
