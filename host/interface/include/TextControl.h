// BTextControl: a labelled one-line text field; its text lives in a BTextView child.
// State only; there is no drawing.
#pragma once

#include "Control.h"

class BTextView;

class KORVO_HOST_API BTextControl : public BControl {
public:
	BTextControl(BRect frame, const char* name, const char* label, const char* initialText, BMessage* message,
	             uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
	             uint32 flags = B_WILL_DRAW | B_NAVIGABLE);

	const char* Text() const;
	void SetText(const char* text);
	BTextView* TextView() const { return fTextView; }

private:
	BTextView* fTextView;  // a child, owned as such
};
