// Pure parsers for skin attribute values. Skin files are outside data: every
// parser accepts any text, never asserts, and falls back to a neutral value.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace skin {

// Leading base-10 digits with an optional sign; 0 when there are none.
// Saturates instead of overflowing.
int ParseInt(std::wstring_view text, size_t* consumed = nullptr);

// "l,t,r,b": numbers read in base 10, the one character after each skipped;
// missing numbers stay 0.
RECT ParseRect(std::wstring_view text);
// "w,h" (or "x,y").
SIZE ParseSize(std::wstring_view text);

// "true" ignoring case.
bool ParseBool(std::wstring_view text);

// "#AARRGGBB", "0xAARRGGBB" or "AARRGGBB" (hexadecimal, "#RRGGBB" gets alpha
// FF). Result is 0xAARRGGBB; false when no hex digit was found.
bool ParseColor(std::wstring_view text, uint32_t* argb);

// Text alignment words ("left", "center", "right", "top", "vcenter",
// "bottom", "wrap") as DrawText flags; unknown words are ignored.
UINT ParseAlign(std::wstring_view text, UINT current);

// An image reference: either a bare path or a list of key='value' pairs
//   file='res\a.png' source='l,t,r,b' corner='l,t,r,b' dest='l,t,r,b' fade='255'
//   hole='true' xtiled='true' ytiled='true'
struct ImageSpec {
  std::wstring file;
  RECT source = {};   // part of the image; empty = the whole image
  RECT corner = {};   // nine-grid borders (fixed-size edges)
  RECT dest = {};     // place inside the control; empty = the whole control
  int fade = 255;     // constant opacity
  bool hole = false;  // nine-grid without its middle part
  bool xtiled = false;
  bool ytiled = false;
};
ImageSpec ParseImageSpec(std::wstring_view text);

bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

}  // namespace skin
