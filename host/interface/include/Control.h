// BControl: a labelled view with an int32 value and the message it would send when changed.
// Base of BCheckBox, BTextControl and BSlider.
#pragma once

#include "View.h"

class BMessage;

enum { B_CONTROL_OFF = 0, B_CONTROL_ON = 1 };

class KORVO_HOST_API BControl : public BView {
public:
	// Takes ownership of `message` (may be null).
	BControl(BRect frame, const char* name, const char* label, BMessage* message, uint32 resizingMode,
	         uint32 flags);
	~BControl() override;

	const char* Label() const { return fLabel.c_str(); }
	virtual void SetLabel(const char* label) { fLabel = label ? label : ""; }
	int32 Value() const { return fValue; }
	virtual void SetValue(int32 value) { fValue = value; }
	BMessage* Message() const { return fMessage; }
	void SetMessage(BMessage* message);
	bool IsEnabled() const { return fEnabled; }
	void SetEnabled(bool enabled) { fEnabled = enabled; }

private:
	std::string fLabel;
	int32 fValue = 0;
	BMessage* fMessage;
	bool fEnabled = true;
};
