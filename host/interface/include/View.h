// BView: a rectangle in its parent with children, colours, resizing mode and flags. There is no
// drawing: the record holds the state and layout applications and tests read back.
#pragma once

#include <string>
#include <vector>

#include "GraphicsDefs.h"
#include "Rect.h"

class BMessage;
class BWindow;

// Resizing modes: how a view follows its parent's edges.
enum {
	B_FOLLOW_NONE = 0,
	B_FOLLOW_LEFT = 0x0202,
	B_FOLLOW_RIGHT = 0x0404,
	B_FOLLOW_LEFT_RIGHT = 0x0204,
	B_FOLLOW_H_CENTER = 0x0505,
	B_FOLLOW_TOP = 0x1010,
	B_FOLLOW_BOTTOM = 0x3030,
	B_FOLLOW_TOP_BOTTOM = 0x1030,
	B_FOLLOW_V_CENTER = 0x5050,
	B_FOLLOW_ALL_SIDES = 0x1234,
	B_FOLLOW_ALL = B_FOLLOW_ALL_SIDES,
};

// View flags.
enum : uint32 {
	B_FULL_UPDATE_ON_RESIZE = 0x80000000u,
	B_WILL_DRAW = 0x20000000u,
	B_PULSE_NEEDED = 0x10000000u,
	B_NAVIGABLE_JUMP = 0x08000000u,
	B_FRAME_EVENTS = 0x04000000u,
	B_NAVIGABLE = 0x02000000u,
};

// Text is measured with a fixed stand-in for the plain font: every character kFontCharWidth points
// wide, every line kFontLineHeight points high.
constexpr float kFontCharWidth = 6.0f;
constexpr float kFontLineHeight = 14.0f;

class KORVO_HOST_API BView {
public:
	BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags);
	// From an archive: fields "_name" (string), "_frame" (rect), "_resize_mode" and "_flags" (int32).
	explicit BView(BMessage* archive);
	// Deletes the children.
	virtual ~BView();

	// Called when the view (or its ancestor) is added to a window, parents before children.
	virtual void AttachedToWindow();
	// Called after the whole tree got AttachedToWindow, children before parents.
	virtual void AllAttached();
	virtual void GetPreferredSize(float* width, float* height);
	virtual void ResizeToPreferred();

	void AddChild(BView* child, BView* before = nullptr);
	bool RemoveChild(BView* child);
	int32 CountChildren() const { return (int32)fChildren.size(); }
	BView* ChildAt(int32 index) const;
	BView* Parent() const { return fParent; }
	BView* FindView(const char* name) const;
	BWindow* Window() const { return fWindow; }

	const char* Name() const { return fName.c_str(); }
	void SetName(const char* name) { fName = name ? name : ""; }
	BRect Frame() const { return fFrame; }
	BRect Bounds() const { return BRect(0, 0, fFrame.Width(), fFrame.Height()); }
	void MoveTo(float x, float y) { fFrame.OffsetTo(x, y); }
	void MoveBy(float dx, float dy) { fFrame.OffsetBy(dx, dy); }
	void ResizeTo(float width, float height);
	void ResizeBy(float dw, float dh) { ResizeTo(fFrame.Width() + dw, fFrame.Height() + dh); }
	uint32 ResizingMode() const { return fResizingMode; }
	void SetResizingMode(uint32 mode) { fResizingMode = mode; }
	uint32 Flags() const { return fFlags; }
	void SetFlags(uint32 flags) { fFlags = flags; }

	void SetViewColor(rgb_color color) { fViewColor = color; }
	void SetViewColor(uchar r, uchar g, uchar b, uchar a = 255) { fViewColor = {r, g, b, a}; }
	rgb_color ViewColor() const { return fViewColor; }
	void SetLowColor(rgb_color color) { fLowColor = color; }
	void SetLowColor(uchar r, uchar g, uchar b, uchar a = 255) { fLowColor = {r, g, b, a}; }
	rgb_color LowColor() const { return fLowColor; }
	void SetHighColor(rgb_color color) { fHighColor = color; }
	void SetHighColor(uchar r, uchar g, uchar b, uchar a = 255) { fHighColor = {r, g, b, a}; }
	rgb_color HighColor() const { return fHighColor; }

	float StringWidth(const char* text) const;

private:
	friend class BWindow;
	BView(const BView&) = delete;
	BView& operator=(const BView&) = delete;
	void Attach(BWindow* window);

	std::string fName;
	BRect fFrame;
	uint32 fResizingMode;
	uint32 fFlags;
	rgb_color fViewColor{255, 255, 255, 255};
	rgb_color fLowColor{255, 255, 255, 255};
	rgb_color fHighColor{0, 0, 0, 255};
	BView* fParent = nullptr;
	BWindow* fWindow = nullptr;
	std::vector<BView*> fChildren;
};
