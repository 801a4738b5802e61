// KorvexView: the Korvo encoder's settings panel, an explanation of the quality/data-rate trade-off
// above five controls (artifact reduction, optimal compression, data rate, DRT sensitivity, tuning).
#pragma once

#include "View.h"

class BCheckBox;
class BMessage;
class BSlider;
class BTextControl;

class KorvexView : public BView {
public:
	KorvexView(BRect frame, const char* name, uint32 resizingMode, uint32 flags);
	explicit KorvexView(BMessage* archive);

	void AttachedToWindow() override;

	bool GetArtifactReduction() const;
	bool GetOptimalCompression() const;
	// The data rate in bits per second (the text counts kilobits of 1024 bits); 0 for no number.
	double GetDataRate() const;
	int32 GetDRTSensitivity() const;
	// 0 for the classic decisions (the default), 1 for the better tuning.
	int32 GetTuning() const;

private:
	BCheckBox* artifactReduction = nullptr;
	BCheckBox* optimalCompression = nullptr;
	BTextControl* dataRate = nullptr;
	BSlider* drtSensitivity = nullptr;
	BSlider* tuning = nullptr;
};
