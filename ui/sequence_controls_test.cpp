#include "ui/sequence_controls.h"

#include <gtest/gtest.h>

namespace {

std::vector<int> Frames(SequenceAnimation a, int ticks, bool* stopped = nullptr) {
  std::vector<int> out;
  for (int t = 0; t < ticks; ++t) {
    const SequenceAnimation::Step s = a.Tick();
    if (s.frame >= 0) out.push_back(s.frame);
    if (s.stop) {
      if (stopped) *stopped = true;
      break;
    }
  }
  return out;
}

SequenceAnimation Animation(int count, bool round, bool loop) {
  SequenceAnimation a;
  a.format = L"res\\mainWnd\\installBtnAnimate\\%.3d.png";
  a.count = count;
  a.round = round;
  a.loop = loop;
  return a;
}

TEST(SequenceAnimation, TheFourFrameOrders) {
  struct Case {
    bool round, loop;
    std::vector<int> frames;
    bool stops;
  } cases[] = {
      {false, true, {0, 1, 2, 3, 0, 1, 2, 3, 0, 1}, false},
      {true, true, {0, 1, 2, 3, 2, 1, 0, 1, 2, 3}, false},
      {false, false, {0, 1, 2, 3}, true},       // the last frame stays
      {true, false, {0, 1, 2, 3, 2, 1}, true},  // frame 1 stays
  };
  for (const Case& c : cases) {
    bool stopped = false;
    EXPECT_EQ(Frames(Animation(4, c.round, c.loop), 10, &stopped), c.frames) << c.round << c.loop;
    EXPECT_EQ(stopped, c.stops);
  }
}

TEST(SequenceAnimation, EdgeCounts) {
  bool stopped = false;
  EXPECT_EQ(Frames(Animation(0, false, true), 3), (std::vector<int>{0, 0, 0}));
  EXPECT_TRUE(Frames(Animation(0, false, false), 3, &stopped).empty());
  EXPECT_TRUE(stopped);  // stops on the first tick
  // Back and forth with one frame keeps showing frame 0 (never a negative index).
  EXPECT_EQ(Frames(Animation(1, true, true), 4), (std::vector<int>{0, 0, 0, 0}));
  SequenceAnimation empty = Animation(25, false, true);
  empty.format.clear();
  stopped = false;
  EXPECT_TRUE(Frames(empty, 5, &stopped).empty());
  EXPECT_FALSE(stopped);  // the timer runs, nothing changes
}

TEST(SequenceAnimation, AttributesAndFramePaths) {
  SequenceAnimation a;
  EXPECT_TRUE(a.SetAttribute(L"sequencebkimage", L"res\\mainWnd\\installBtnAnimate\\%.3d.png"));
  EXPECT_FALSE(a.SetAttribute(L"SequenceBkImage", L"x"));  // this name is case-sensitive
  EXPECT_TRUE(a.SetAttribute(L"SequenceCount", L"25abc"));
  EXPECT_TRUE(a.SetAttribute(L"sequencespan", L"x"));
  EXPECT_TRUE(a.SetAttribute(L"sequenceloop", L"FALSE"));
  EXPECT_TRUE(a.SetAttribute(L"autostart", L"true"));
  EXPECT_TRUE(a.SetAttribute(L"sequenceround", L"false"));
  EXPECT_FALSE(a.SetAttribute(L"bkimage", L"x"));
  EXPECT_EQ(a.count, 25);
  EXPECT_EQ(a.period, 0);
  EXPECT_TRUE(a.loop);  // only exactly "false" is false
  EXPECT_TRUE(a.autostart);
  EXPECT_FALSE(a.round);
  EXPECT_EQ(a.FramePath(7), L"res\\mainWnd\\installBtnAnimate\\007.png");
  EXPECT_EQ(a.FramePath(24), L"res\\mainWnd\\installBtnAnimate\\024.png");

  struct Case {
    const wchar_t* format;
    bool ok;
  } formats[] = {{L"%.3d.png", true}, {L"%d", true},     {L"100%% %03x", true}, {L"%s", false},
                 {L"%d%d", false},    {L"plain", false}, {L"%n", false},        {L"%", false}};
  for (const Case& c : formats) EXPECT_EQ(IsFrameFormat(c.format), c.ok) << c.format;
  a.format = L"%s%s%s";
  EXPECT_EQ(a.FramePath(1), L"");  // never handed to the formatter
}

TEST(SequenceControls, FactoryAndClassNames) {
  std::unique_ptr<skin::Control> label(CreateSequenceControl(L"sequencelabel"));
  std::unique_ptr<skin::Control> button(CreateSequenceControl(L"SequenceButton"));
  ASSERT_TRUE(label && button);
  EXPECT_EQ(CreateSequenceControl(L"Label"), nullptr);
  EXPECT_EQ(label->GetClass(), L"SequenceLabel");
  EXPECT_EQ(label->GetInterface(L"SequenceLabel"), label.get());
  EXPECT_NE(label->GetInterface(L"Label"), nullptr);
  EXPECT_EQ(label->GetInterface(L"SequenceButton"), nullptr);
  auto* b = static_cast<CSequenceButtonUI*>(button.get());
  EXPECT_EQ(b->GetSequenceSpan(), 60);
  EXPECT_TRUE(b->animation().round);
  EXPECT_EQ(static_cast<CSequenceLabelUI*>(label.get())->GetSequenceSpan(), 30);
}

}  // namespace
