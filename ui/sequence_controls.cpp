#include "ui/sequence_controls.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "toolkit/attributes.h"

SequenceAnimation::Step SequenceAnimation::Tick() {
  if (format.empty()) return {};
  if (forward) {
    if (index > count - 1) {
      if (round) {
        forward = false;
        // Not below 0: with fewer than two frames there is nothing to go back through.
        index = std::max(count - 2, 0);
      } else {
        index = 0;
        if (!loop) return Step{-1, true};
      }
    }
    if (forward) return Step{index++, false};
  }
  if (index == 0) {
    if (round) forward = true;
    if (!loop) return Step{-1, true};
  }
  const int frame = index;
  index += forward ? 1 : -1;
  return Step{frame, false};
}

bool IsFrameFormat(std::wstring_view format) {
  int conversions = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != L'%') continue;
    if (++i < format.size() && format[i] == L'%') continue;
    while (i < format.size() && wcschr(L"-+ #0", format[i])) ++i;                 // flags
    while (i < format.size() && (iswdigit(format[i]) || format[i] == L'.')) ++i;  // width, precision
    if (i >= format.size() || !wcschr(L"diuxXo", format[i])) return false;
    ++conversions;
  }
  return conversions == 1;
}

std::wstring SequenceAnimation::FramePath(int frame) const {
  // The format comes from the skin, which is outside data: anything but a
  // single integer conversion would read arguments that are not there.
  if (!IsFrameFormat(format)) return std::wstring();
  wchar_t path[260] = {};
  _snwprintf(path, 259, format.c_str(), frame);
  return path;
}

bool SequenceAnimation::SetAttribute(std::wstring_view name, std::wstring_view value) {
  auto flag = [&](bool* target) { *target = value != L"false"; };
  if (name == L"sequencebkimage")
    format = value;
  else if (skin::EqualsNoCase(name, L"sequencecount"))
    count = skin::ParseInt(value);
  else if (skin::EqualsNoCase(name, L"sequencespan"))
    period = skin::ParseInt(value);
  else if (skin::EqualsNoCase(name, L"sequenceloop"))
    flag(&loop);
  else if (skin::EqualsNoCase(name, L"autostart"))
    flag(&autostart);
  else if (skin::EqualsNoCase(name, L"sequenceround"))
    flag(&round);
  else
    return false;
  return true;
}

template <class Base>
SequenceControl<Base>::SequenceControl(const wchar_t* className, int period, bool round) : className_(className) {
  animation_.period = period;
  animation_.round = round;
}

template <class Base>
SequenceControl<Base>::~SequenceControl() {
  Stop();
}

template <class Base>
skin::Control* SequenceControl<Base>::GetInterface(std::wstring_view name) {
  return name == className_ ? this : Base::GetInterface(name);
}

template <class Base>
void SequenceControl<Base>::SetAttribute(std::wstring_view name, std::wstring_view value) {
  if (!animation_.SetAttribute(name, value)) Base::SetAttribute(name, value);
}

template <class Base>
void SequenceControl<Base>::DoInit() {
  Base::DoInit();
  if (animation_.autostart)
    this->SetTimer(SequenceAnimation::kTimerId, static_cast<UINT>(std::max(animation_.period, 1)));
}

template <class Base>
void SequenceControl<Base>::DoEvent(skin::Event& event) {
  Base::DoEvent(event);
  if (event.type != skin::EventType::kTimer || event.wParam != SequenceAnimation::kTimerId) return;
  const SequenceAnimation::Step step = animation_.Tick();
  if (step.stop) this->KillTimer(SequenceAnimation::kTimerId);
  if (step.frame >= 0) this->SetBkImage(animation_.FramePath(step.frame));
}

template <class Base>
void SequenceControl<Base>::Start() {
  animation_.index = 0;
  this->SetTimer(SequenceAnimation::kTimerId, static_cast<UINT>(std::max(animation_.period, 1)));
}

template <class Base>
void SequenceControl<Base>::Stop() {
  this->KillTimer(SequenceAnimation::kTimerId);
}

template class SequenceControl<skin::Label>;
template class SequenceControl<skin::Button>;

skin::Control* CreateSequenceControl(const wchar_t* className) {
  if (skin::EqualsNoCase(className, L"SequenceLabel")) return new CSequenceLabelUI;
  if (skin::EqualsNoCase(className, L"SequenceButton")) return new CSequenceButtonUI;
  return nullptr;
}
