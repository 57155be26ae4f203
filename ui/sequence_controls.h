// Controls that play a numbered series of images as an animation by
// swapping their background on a timer: "SequenceLabel" and "SequenceButton".
#pragma once

#include <string>

#include "toolkit/controls.h"

// The animation's state and its step, free of any window.
struct SequenceAnimation {
  static constexpr unsigned kTimerId = 2100;

  std::wstring format;  // printf-style, one integer, e.g. "res\a\%.3d.png"
  int count = 0;
  int period = 30;
  int index = 0;
  bool autostart = false;
  bool loop = true;
  bool forward = true;
  bool round = false;

  struct Step {
    int frame = -1;     // the frame to show, or -1
    bool stop = false;  // the timer must be killed
  };
  Step Tick();
  // Frame i's image path (at most 259 characters); empty for a format
  // that is not a frame format.
  std::wstring FramePath(int frame) const;
  // Applies one skin attribute; false when it is not an animation attribute.
  bool SetAttribute(std::wstring_view name, std::wstring_view value);
};

// True for a format with exactly one integer conversion ("%d", "%.3d", ...)
// and nothing else but literal text and "%%".
bool IsFrameFormat(std::wstring_view format);

template <class Base>
class SequenceControl : public Base {
 public:
  SequenceControl(const wchar_t* className, int period, bool round);
  ~SequenceControl() override;

  std::wstring_view GetClass() const override { return className_; }
  skin::Control* GetInterface(std::wstring_view name) override;
  void SetAttribute(std::wstring_view name, std::wstring_view value) override;
  void DoInit() override;
  void DoEvent(skin::Event& event) override;

  // From frame 0, in the current direction.
  void Start();
  void Stop();

  const std::wstring& GetSequenceFormat() const { return animation_.format; }
  void SetSequenceFormat(const std::wstring& format) { animation_.format = format; }
  int GetSequenceCount() const { return animation_.count; }
  void SetSequenceCount(int count) { animation_.count = count; }
  int GetSequenceSpan() const { return animation_.period; }
  void SetSequenceSpan(int period) { animation_.period = period; }
  const SequenceAnimation& animation() const { return animation_; }

 private:
  const wchar_t* className_;
  SequenceAnimation animation_;
};

class CSequenceLabelUI : public SequenceControl<skin::Label> {
 public:
  CSequenceLabelUI() : SequenceControl(L"SequenceLabel", 30, false) {}
};

class CSequenceButtonUI : public SequenceControl<skin::Button> {
 public:
  CSequenceButtonUI() : SequenceControl(L"SequenceButton", 60, true) {}
};

// Control factory part for windows whose skins use the two controls
// (class names compared ignoring case); null for other names.
skin::Control* CreateSequenceControl(const wchar_t* className);
