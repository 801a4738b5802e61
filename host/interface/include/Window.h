// BWindow: the top of a view tree. Adding a view to it calls AttachedToWindow down the tree, as the
// platform does when a panel is shown; its top view has the panel-grey view and low colour.
#pragma once

#include <string>

#include "View.h"

class KORVO_HOST_API BWindow {
public:
	BWindow(BRect frame, const char* title);
	// Deletes the views.
	~BWindow();

	void AddChild(BView* child);
	bool RemoveChild(BView* child);
	BView* ChildAt(int32 index) const { return fTop.ChildAt(index); }
	int32 CountChildren() const { return fTop.CountChildren(); }
	const char* Title() const { return fTitle.c_str(); }
	BRect Frame() const { return fTop.Frame(); }

private:
	BWindow(const BWindow&) = delete;
	BWindow& operator=(const BWindow&) = delete;

	std::string fTitle;
	BView fTop;
};
