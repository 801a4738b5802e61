// BPoint and BRect: positions and rectangles in view coordinates (points, y growing downwards).
// A rectangle includes both edges: BRect(0, 0, 9, 9) is 9 wide by Width() as the platform counts.
#pragma once

#include "SupportDefs.h"

struct BPoint {
	float x = 0, y = 0;
	BPoint() = default;
	BPoint(float px, float py) : x(px), y(py) {}
	bool operator==(const BPoint& o) const { return x == o.x && y == o.y; }
};

class BRect {
public:
	float left = 0, top = 0, right = -1, bottom = -1;

	BRect() = default;
	BRect(float l, float t, float r, float b) : left(l), top(t), right(r), bottom(b) {}

	float Width() const { return right - left; }
	float Height() const { return bottom - top; }
	bool IsValid() const { return left <= right && top <= bottom; }
	BPoint LeftTop() const { return BPoint(left, top); }
	void OffsetBy(float dx, float dy)
	{
		left += dx;
		right += dx;
		top += dy;
		bottom += dy;
	}
	void OffsetTo(float x, float y) { OffsetBy(x - left, y - top); }
	void InsetBy(float dx, float dy)
	{
		left += dx;
		right -= dx;
		top += dy;
		bottom -= dy;
	}
	bool operator==(const BRect& o) const
	{
		return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
	}
};
