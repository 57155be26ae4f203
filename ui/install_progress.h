// What the progress page shows, computed without a window: the bar's
// percentage for download and package progress, the text under the
// animation, and the language list of the main window.
#pragma once

#include <windows.h>

#include <string>

// Download progress fills the share `downloadScale` of the bar.
int DownloadPercent(double fraction, double downloadScale);

// Package progress fills the rest. `smoothed` carries over between reports
// (and attempts): every report moves it on by 0.15 until 0.95, and further
// only by the package's own fraction.
int InstallPercent(double& smoothed, double reported, double downloadScale);

// The text of progressLb: the skin's user data when it has one, otherwise
// the patient form after a minute of downloading.
std::wstring ProgressText(const std::wstring& userData, bool stopwatchRunning, DWORD elapsedMs, int percent);

// The language list: 0 "en-US" ... 13 "it-IT".
inline constexpr int kLanguageCount = 14;
const wchar_t* LanguageCode(int index);             // null outside the list
int LanguageIndexOfCode(const std::wstring& code);  // -1 when not in the list
// The list index for a Windows UI language identifier (0 for unknown ones).
int LanguageIndexForLangId(LANGID id);

// Loads the texts of language `index` from a "language.json" document into
// the toolkit's text table (an array of {"id": n, "<code>": "text", ...}, or
// an object whose values are such elements, taken in the order of their
// names). An id is any integral number within int; of equal names in one
// object the last counts. Read as leniently as files in use need: a byte
// order mark, comments, trailing commas, text after the document and raw
// control characters inside strings are accepted. Malformed documents and
// elements are skipped. Returns the texts stored.
int LoadLanguageTexts(const std::string& json, int index);
