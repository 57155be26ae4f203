#include "toolkit/attributes.h"

#include <climits>
#include <cwctype>

namespace skin {

int ParseInt(std::wstring_view text, size_t* consumed) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
  const size_t digitsStart = i;
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    if (value < INT_MAX) value = value * 10 + (text[i] - L'0');
  }
  if (i == digitsStart) i = 0;  // no digits: nothing consumed
  if (value > INT_MAX) value = INT_MAX;
  if (consumed) *consumed = i;
  return static_cast<int>(negative ? -value : value);
}

namespace {

// Reads up to `count` comma-separated numbers: each number, then one
// character (the separator) skipped.
void ParseNumbers(std::wstring_view text, int* out, int count) {
  for (int k = 0; k < count && !text.empty(); ++k) {
    size_t used = 0;
    out[k] = ParseInt(text, &used);
    text.remove_prefix(used);
    if (!text.empty()) text.remove_prefix(1);
  }
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && iswspace(s.front())) s.remove_prefix(1);
  while (!s.empty() && iswspace(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

RECT ParseRect(std::wstring_view text) {
  int v[4] = {};
  ParseNumbers(text, v, 4);
  return RECT{v[0], v[1], v[2], v[3]};
}

SIZE ParseSize(std::wstring_view text) {
  int v[2] = {};
  ParseNumbers(text, v, 2);
  return SIZE{v[0], v[1]};
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (towlower(a[i]) != towlower(b[i])) return false;
  return true;
}

bool ParseBool(std::wstring_view text) { return EqualsNoCase(Trim(text), L"true"); }

bool ParseColor(std::wstring_view text, uint32_t* argb) {
  text = Trim(text);
  if (!text.empty() && text[0] == L'#')
    text.remove_prefix(1);
  else if (text.size() >= 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X'))
    text.remove_prefix(2);
  uint32_t value = 0;
  size_t digits = 0;
  for (; digits < text.size() && digits < 8; ++digits) {
    const int d = HexDigit(text[digits]);
    if (d < 0) break;
    value = value << 4 | static_cast<uint32_t>(d);
  }
  if (digits == 0) return false;
  if (digits <= 6) value |= 0xFF000000u;  // "#RRGGBB": opaque
  *argb = value;
  return true;
}

UINT ParseAlign(std::wstring_view text, UINT current) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(L", ", pos);
    if (end == std::wstring_view::npos) end = text.size();
    const std::wstring_view word = text.substr(pos, end - pos);
    if (EqualsNoCase(word, L"left"))
      current = (current & ~(DT_CENTER | DT_RIGHT)) | DT_LEFT;
    else if (EqualsNoCase(word, L"center"))
      current = (current & ~(DT_LEFT | DT_RIGHT)) | DT_CENTER;
    else if (EqualsNoCase(word, L"right"))
      current = (current & ~(DT_LEFT | DT_CENTER)) | DT_RIGHT;
    else if (EqualsNoCase(word, L"top"))
      current = (current & ~(DT_VCENTER | DT_BOTTOM)) | DT_TOP;
    else if (EqualsNoCase(word, L"vcenter"))
      current = (current & ~(DT_TOP | DT_BOTTOM)) | DT_VCENTER;
    else if (EqualsNoCase(word, L"bottom"))
      current = (current & ~(DT_TOP | DT_VCENTER)) | DT_BOTTOM;
    else if (EqualsNoCase(word, L"wrap"))
      current = (current & ~DT_SINGLELINE) | DT_WORDBREAK;
    pos = end + 1;
  }
  return current;
}

ImageSpec ParseImageSpec(std::wstring_view text) {
  ImageSpec desc;
  if (text.find(L'=') == std::wstring_view::npos) {
    desc.file = std::wstring(Trim(text));
    return desc;
  }
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t eq = text.find(L'=', pos);
    if (eq == std::wstring_view::npos) break;
    const std::wstring_view key = Trim(text.substr(pos, eq - pos));
    size_t open = eq + 1;
    while (open < text.size() && iswspace(text[open])) ++open;
    if (open >= text.size() || (text[open] != L'\'' && text[open] != L'"')) break;  // malformed: stop
    const size_t close = text.find(text[open], open + 1);
    if (close == std::wstring_view::npos) break;
    const std::wstring_view value = text.substr(open + 1, close - open - 1);
    if (EqualsNoCase(key, L"file"))
      desc.file = std::wstring(value);
    else if (EqualsNoCase(key, L"source"))
      desc.source = ParseRect(value);
    else if (EqualsNoCase(key, L"corner"))
      desc.corner = ParseRect(value);
    else if (EqualsNoCase(key, L"dest"))
      desc.dest = ParseRect(value);
    else if (EqualsNoCase(key, L"fade"))
      desc.fade = ParseInt(value) < 0 ? 0 : ParseInt(value) > 255 ? 255 : ParseInt(value);
    else if (EqualsNoCase(key, L"hole"))
      desc.hole = ParseBool(value);
    else if (EqualsNoCase(key, L"xtiled"))
      desc.xtiled = ParseBool(value);
    else if (EqualsNoCase(key, L"ytiled"))
      desc.ytiled = ParseBool(value);
    pos = close + 1;
  }
  return desc;
}

}  // namespace skin
