// BTextView: a block of text laid out in a text rectangle, with word wrap, selectability and
// editability switches. Lines are measured with the fixed font metric of View.h.
#pragma once

#include <string>
#include <vector>

#include "View.h"

class KORVO_HOST_API BTextView : public BView {
public:
	BTextView(BRect frame, const char* name, BRect textRect, uint32 resizingMode, uint32 flags);

	void SetText(const char* text);
	const char* Text() const { return fText.c_str(); }
	int32 TextLength() const { return (int32)fText.size(); }
	void SetWordWrap(bool wrap);
	bool DoesWordWrap() const { return fWordWrap; }
	void MakeSelectable(bool selectable = true) { fSelectable = selectable; }
	bool IsSelectable() const { return fSelectable; }
	void MakeEditable(bool editable = true) { fEditable = editable; }
	bool IsEditable() const { return fEditable; }
	BRect TextRect() const { return fTextRect; }
	void SetTextRect(BRect rect);

	// Lines after wrapping (at least 1); line i is LineText(i).
	int32 CountLines() const { return (int32)fLines.size(); }
	std::string LineText(int32 line) const;
	float LineHeight(int32 line = 0) const;
	// Height of lines startLine..endLine inclusive (clamped to the lines there are).
	float TextHeight(int32 startLine, int32 endLine) const;

private:
	void Layout();

	std::string fText;
	BRect fTextRect;
	bool fWordWrap = true;
	bool fSelectable = true;
	bool fEditable = true;
	std::vector<std::pair<size_t, size_t>> fLines;  // [start, end) of each line in fText
};
