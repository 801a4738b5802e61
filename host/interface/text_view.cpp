// BTextView line layout: greedy word wrap to the text rectangle with the fixed font metric.
// Hard line breaks always end a line; a word wider than the rectangle is split.
#include <algorithm>
#include <cmath>

#include "TextView.h"

BTextView::BTextView(BRect frame, const char* name, BRect textRect, uint32 resizingMode, uint32 flags)
    : BView(frame, name, resizingMode, flags), fTextRect(textRect)
{
	Layout();
}

void BTextView::SetText(const char* text)
{
	fText = text ? text : "";
	Layout();
}

void BTextView::SetWordWrap(bool wrap)
{
	fWordWrap = wrap;
	Layout();
}

void BTextView::SetTextRect(BRect rect)
{
	fTextRect = rect;
	Layout();
}

void BTextView::Layout()
{
	fLines.clear();
	size_t perLine = (size_t)std::max(1.0f, std::floor(fTextRect.Width() / kFontCharWidth));
	size_t start = 0;
	const size_t n = fText.size();
	while (start <= n) {
		size_t hard = fText.find('\n', start);
		size_t end = hard == std::string::npos ? n : hard;
		// Break [start, end) into lines of at most perLine characters, at spaces where possible.
		while (fWordWrap && end - start > perLine) {
			size_t cut = fText.rfind(' ', start + perLine);
			if (cut == std::string::npos || cut < start || cut == start)
				cut = start + perLine;
			fLines.emplace_back(start, cut);
			start = cut;
			while (start < end && fText[start] == ' ')
				start++;
		}
		fLines.emplace_back(start, end);
		if (hard == std::string::npos)
			break;
		start = hard + 1;
	}
}

std::string BTextView::LineText(int32 line) const
{
	if (line < 0 || line >= CountLines())
		return "";
	return fText.substr(fLines[line].first, fLines[line].second - fLines[line].first);
}

float BTextView::LineHeight(int32) const { return kFontLineHeight; }

float BTextView::TextHeight(int32 startLine, int32 endLine) const
{
	startLine = std::max(startLine, 0);
	endLine = std::min(endLine, CountLines() - 1);
	return endLine < startLine ? 0 : kFontLineHeight * (float)(endLine - startLine + 1);
}
