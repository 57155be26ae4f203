// Process-wide toolkit state set up at start-up: the module instance, the
// resource folder, the multi-language text table, and what happens when a
// window's skin cannot be built. Window thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace skin {

void SetInstance(HINSTANCE instance);
HINSTANCE Instance();

// Folder of the executable with a trailing "\" (skins and images that are
// not in the archive are looked up here).
std::wstring ResourcePath();
void SetResourcePath(const std::wstring& folder);

// Multi-language texts: id -> text of the loaded language. A control text
// written as "%[id]" shows the table's text of that id (the literal when the
// table has none).
void SetLanguageText(int id, const std::wstring& text);
bool GetLanguageText(int id, std::wstring* text);
void ClearLanguageTexts();
std::wstring ResolveLanguageText(const std::wstring& text);

// Called when a window's skin file cannot be loaded or builds no control.
// The default shows "加载资源文件失败" and ends the process with exit code 1;
// tests replace it.
using SkinFailureHandler = std::function<void(const std::wstring& skinFile, const std::wstring& error)>;
void SetSkinFailureHandler(SkinFailureHandler handler);
void ReportSkinFailure(const std::wstring& skinFile, const std::wstring& error);

}  // namespace skin
