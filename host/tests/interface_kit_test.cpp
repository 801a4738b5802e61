// The view kit records a settings panel is built from, and BParameterWeb: layout numbers, attach
// order, ownership, value limits and archive fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CheckBox.h"
#include "Message.h"
#include "ParameterWeb.h"
#include "Slider.h"
#include "TextControl.h"
#include "TextView.h"
#include "Window.h"

namespace {

std::vector<std::string>* gLog;

class LoggingView : public BView {
public:
	LoggingView(const char* name) : BView(BRect(0, 0, 10, 10), name, B_FOLLOW_NONE, 0) {}
	~LoggingView() override { gLog->push_back(std::string("delete ") + Name()); }
	void AttachedToWindow() override
	{
		gLog->push_back(std::string("attached ") + Name());
		if (Parent())
			SetLowColor(Parent()->LowColor());
	}
	void AllAttached() override { gLog->push_back(std::string("all ") + Name()); }
};

TEST(InterfaceKit, WindowAttachesParentsFirstAndOwnsTheTree)
{
	std::vector<std::string> log;
	gLog = &log;
	{
		BWindow window(BRect(0, 0, 400, 300), "panel");
		auto* parent = new LoggingView("parent");
		parent->AddChild(new LoggingView("child"));
		window.AddChild(parent);
		EXPECT_EQ(parent->Window(), &window);
		EXPECT_EQ(parent->LowColor(), (rgb_color{216, 216, 216, 255}));
		EXPECT_EQ(parent->ChildAt(0)->LowColor(), (rgb_color{216, 216, 216, 255}));
		parent->AddChild(new LoggingView("late"));  // added while attached: attached at once
		EXPECT_EQ(parent->FindView("late"), parent->ChildAt(1));
	}
	EXPECT_EQ(log, (std::vector<std::string>{"attached parent", "attached child", "all child", "all parent",
	                                         "attached late", "all late", "delete parent", "delete child",
	                                         "delete late"}));
}

TEST(InterfaceKit, TextViewWrapsWordsToItsTextRect)
{
	// 60 points hold 10 characters of the fixed metric.
	BTextView text(BRect(0, 0, 70, 10), "t", BRect(0, 0, 60, 10), 0, 0);
	text.SetText("one two three four fivesixseveneight");
	ASSERT_EQ(text.CountLines(), 4);
	EXPECT_EQ(text.LineText(0), "one two");
	EXPECT_EQ(text.LineText(1), "three four");
	EXPECT_EQ(text.LineText(2), "fivesixsev");
	EXPECT_EQ(text.LineText(3), "eneight");
	EXPECT_FLOAT_EQ(text.TextHeight(0, text.CountLines()), 4 * kFontLineHeight);
	text.SetWordWrap(false);
	EXPECT_EQ(text.CountLines(), 1);
	text.SetText("a\nb");
	EXPECT_EQ(text.CountLines(), 2);
	text.MakeEditable(false);
	text.MakeSelectable(false);
	EXPECT_FALSE(text.IsEditable());
	EXPECT_FALSE(text.IsSelectable());
}

TEST(InterfaceKit, ControlsKeepTheirState)
{
	BCheckBox box(BRect(0, 0, 160, 12), "ArtifactReduction", "Artifact Reduction", nullptr, 0x1212,
	              0x22000000);
	EXPECT_EQ(box.Value(), B_CONTROL_OFF);
	box.SetValue(5);
	EXPECT_EQ(box.Value(), B_CONTROL_ON);
	EXPECT_EQ(box.ResizingMode(), (uint32)(B_FOLLOW_LEFT | B_FOLLOW_TOP));
	EXPECT_EQ(box.Flags(), (uint32)(B_WILL_DRAW | B_NAVIGABLE));

	BTextControl rate(BRect(0, 0, 120, 20), "DataRate", "Data Rate", "128", new BMessage('rate'), 0x1212,
	                  0x22000000);
	EXPECT_STREQ(rate.Text(), "128");
	EXPECT_EQ(rate.Message()->what, (uint32)'rate');
	rate.SetText("abc");
	EXPECT_STREQ(rate.TextView()->Text(), "abc");

	BSlider slider(BRect(0, 0, 160, 0), "DRT", "DRT Sensitivity", nullptr, 0, 255);
	slider.SetValue(192);
	EXPECT_EQ(slider.Value(), 192);
	slider.SetValue(300);
	EXPECT_EQ(slider.Value(), 255);
	slider.SetHashMarks(B_HASH_MARKS_BOTTOM);
	slider.SetHashMarkCount(5);
	slider.SetLimitLabels("loose", "tight");
	EXPECT_STREQ(slider.MinLimitLabel(), "loose");
	slider.ResizeToPreferred();
	EXPECT_FLOAT_EQ(slider.Frame().Width(), 160);
	// Label line, bar (12), bottom hash marks (6), limit-label line.
	EXPECT_FLOAT_EQ(slider.Frame().Height(), 2 * kFontLineHeight + 12 + 6);
}

TEST(InterfaceKit, ViewFromArchiveAndMessageFields)
{
	BMessage archive;
	archive.AddString("_name", "The View");
	archive.AddRect("_frame", BRect(0, 0, 400, 0));
	archive.AddInt32("_resize_mode", 0x1234);
	BView view(&archive);
	EXPECT_STREQ(view.Name(), "The View");
	EXPECT_EQ(view.Frame(), BRect(0, 0, 400, 0));
	EXPECT_EQ(view.ResizingMode(), 0x1234u);
	int32 value;
	EXPECT_EQ(archive.FindInt32("_resize_mode", &value, 1), B_NAME_NOT_FOUND);
	EXPECT_EQ(archive.FindInt32("_name", &value), B_NAME_NOT_FOUND);  // wrong type
}

TEST(ParameterWeb, GroupsOwnContinuousParameters)
{
	BParameterWeb web;
	BParameterGroup* group = web.MakeGroup("Korvo");
	BContinuousParameter* quality =
	        group->MakeContinuousParameter(4, B_MEDIA_PARAMETERS, "Quality", B_GENERIC, "y", 0, 100, 0.85f);
	group->MakeGroup("inner")->MakeContinuousParameter(5, B_MEDIA_PARAMETERS, "Other", B_GAIN, "dB", -10, 10,
	                                                   1);
	EXPECT_EQ(web.CountGroups(), 1);
	ASSERT_EQ(web.CountParameters(), 2);
	EXPECT_EQ(web.ParameterAt(0), quality);
	EXPECT_EQ(web.ParameterAt(1)->ID(), 5);
	EXPECT_EQ(web.ParameterAt(2), nullptr);
	EXPECT_EQ(quality->Type(), BParameter::B_CONTINUOUS_PARAMETER);
	EXPECT_STREQ(quality->Name(), "Quality");
	EXPECT_STREQ(quality->Kind(), "");
	EXPECT_STREQ(quality->Unit(), "y");
	EXPECT_FLOAT_EQ(quality->MaxValue(), 100);
	EXPECT_FLOAT_EQ(quality->ValueStep(), 0.85f);
	EXPECT_EQ(quality->Group(), group);
	EXPECT_EQ(group->Web(), &web);
}

}  // namespace
