// BView tree (children, frames, colours) and BWindow, which attaches a tree and calls its hooks.
// There is no drawing and no event loop; the records are what applications and tests inspect.
#include <algorithm>
#include <cstring>

#include "Message.h"
#include "View.h"
#include "Window.h"

BView::BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags)
    : fName(name ? name : ""), fFrame(frame), fResizingMode(resizingMode), fFlags(flags)
{
}

BView::BView(BMessage* archive) : fFrame(0, 0, 0, 0), fResizingMode(B_FOLLOW_NONE), fFlags(0)
{
	if (!archive)
		return;
	const char* name;
	if (archive->FindString("_name", &name) == B_OK)
		fName = name;
	archive->FindRect("_frame", &fFrame);
	int32 value;
	if (archive->FindInt32("_resize_mode", &value) == B_OK)
		fResizingMode = (uint32)value;
	if (archive->FindInt32("_flags", &value) == B_OK)
		fFlags = (uint32)value;
}

BView::~BView()
{
	for (BView* child : fChildren)
		delete child;
}

void BView::AttachedToWindow() {}
void BView::AllAttached() {}

void BView::GetPreferredSize(float* width, float* height)
{
	*width = fFrame.Width();
	*height = fFrame.Height();
}

void BView::ResizeToPreferred()
{
	float width, height;
	GetPreferredSize(&width, &height);
	ResizeTo(width, height);
}

void BView::ResizeTo(float width, float height)
{
	fFrame.right = fFrame.left + width;
	fFrame.bottom = fFrame.top + height;
}

void BView::AddChild(BView* child, BView* before)
{
	if (!child || child->fParent)
		return;
	auto at = std::find(fChildren.begin(), fChildren.end(), before);
	fChildren.insert(at, child);
	child->fParent = this;
	if (fWindow) {
		child->Attach(fWindow);
	}
}

bool BView::RemoveChild(BView* child)
{
	auto at = std::find(fChildren.begin(), fChildren.end(), child);
	if (!child || at == fChildren.end())
		return false;
	fChildren.erase(at);
	child->fParent = nullptr;
	child->fWindow = nullptr;
	return true;
}

BView* BView::ChildAt(int32 index) const
{
	return index >= 0 && index < CountChildren() ? fChildren[index] : nullptr;
}

BView* BView::FindView(const char* name) const
{
	if (!name)
		return nullptr;
	for (BView* child : fChildren) {
		if (child->fName == name)
			return child;
		if (BView* found = child->FindView(name))
			return found;
	}
	return nullptr;
}

float BView::StringWidth(const char* text) const { return text ? kFontCharWidth * (float)strlen(text) : 0; }

// AttachedToWindow down the tree, parents first, then AllAttached back up, children first.
void BView::Attach(BWindow* window)
{
	fWindow = window;
	AttachedToWindow();
	for (size_t i = 0; i < fChildren.size(); i++)
		fChildren[i]->Attach(window);
	AllAttached();
}

// ---- BWindow ----

BWindow::BWindow(BRect frame, const char* title)
    : fTitle(title ? title : ""),
      fTop(BRect(0, 0, frame.Width(), frame.Height()), "top view", B_FOLLOW_ALL, 0)
{
	// The panel grey of the platform's windows.
	fTop.SetViewColor(216, 216, 216);
	fTop.SetLowColor(216, 216, 216);
	fTop.fWindow = this;
}

BWindow::~BWindow() = default;

void BWindow::AddChild(BView* child) { fTop.AddChild(child); }

bool BWindow::RemoveChild(BView* child) { return fTop.RemoveChild(child); }
