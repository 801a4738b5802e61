// BSlider: a labelled control with an int32 value in [minimum, maximum], hash marks and limit
// labels. Its preferred height stacks label, bar, hash marks and limit labels (fixed font metric).
#pragma once

#include <string>

#include "Control.h"

enum hash_mark_location {
	B_HASH_MARKS_NONE = 0,
	B_HASH_MARKS_TOP = 1,
	B_HASH_MARKS_LEFT = 1,
	B_HASH_MARKS_BOTTOM = 2,
	B_HASH_MARKS_RIGHT = 2,
	B_HASH_MARKS_BOTH = 3,
};

enum thumb_style { B_BLOCK_THUMB, B_TRIANGLE_THUMB };

class KORVO_HOST_API BSlider : public BControl {
public:
	BSlider(BRect frame, const char* name, const char* label, BMessage* message, int32 minValue,
	        int32 maxValue, thumb_style thumbType = B_BLOCK_THUMB,
	        uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
	        uint32 flags = B_WILL_DRAW | B_NAVIGABLE | B_FRAME_EVENTS);

	// Clamped to the limits.
	void SetValue(int32 value) override;
	void GetLimits(int32* minimum, int32* maximum) const;
	void SetHashMarks(hash_mark_location where) { fHashMarks = where; }
	hash_mark_location HashMarks() const { return fHashMarks; }
	void SetHashMarkCount(int32 count) { fHashMarkCount = count; }
	int32 HashMarkCount() const { return fHashMarkCount; }
	void SetLimitLabels(const char* minLabel, const char* maxLabel);
	const char* MinLimitLabel() const { return fMinLabel.c_str(); }
	const char* MaxLimitLabel() const { return fMaxLabel.c_str(); }
	thumb_style Style() const { return fThumb; }

	// Keeps the width; the height as described above.
	void GetPreferredSize(float* width, float* height) override;

private:
	int32 fMinimum, fMaximum;
	thumb_style fThumb;
	hash_mark_location fHashMarks = B_HASH_MARKS_NONE;
	int32 fHashMarkCount = 0;
	std::string fMinLabel, fMaxLabel;
};
