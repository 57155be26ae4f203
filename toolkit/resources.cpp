#include "toolkit/resources.h"

#include <map>

#include "platform/log.h"

namespace skin {
namespace {

HINSTANCE g_instance = nullptr;
std::wstring g_resourcePath;
std::map<int, std::wstring> g_languageTexts;

void DefaultSkinFailure(const std::wstring&, const std::wstring&) {
  MessageBoxW(nullptr, L"加载资源文件失败", L"OndraVelqor", MB_OK | MB_ICONERROR);
  ExitProcess(1);
}

SkinFailureHandler& FailureHandler() {
  static SkinFailureHandler handler = DefaultSkinFailure;
  return handler;
}

}  // namespace

void SetInstance(HINSTANCE instance) { g_instance = instance; }
HINSTANCE Instance() { return g_instance ? g_instance : GetModuleHandleW(nullptr); }

std::wstring ResourcePath() {
  if (g_resourcePath.empty()) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(Instance(), path, MAX_PATH);
    g_resourcePath = path;
    g_resourcePath.erase(g_resourcePath.find_last_of(L'\\') + 1);
  }
  return g_resourcePath;
}

void SetResourcePath(const std::wstring& folder) {
  g_resourcePath = folder;
  if (!g_resourcePath.empty() && g_resourcePath.back() != L'\\') g_resourcePath += L'\\';
}

void SetLanguageText(int id, const std::wstring& text) { g_languageTexts[id] = text; }

bool GetLanguageText(int id, std::wstring* text) {
  auto it = g_languageTexts.find(id);
  if (it == g_languageTexts.end()) return false;
  *text = it->second;
  return true;
}

void ClearLanguageTexts() { g_languageTexts.clear(); }

std::wstring ResolveLanguageText(const std::wstring& text) {
  if (text.size() < 4 || text.compare(0, 2, L"%[") != 0 || text.back() != L']') return text;
  int id = 0;
  for (size_t i = 2; i + 1 < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9' || id > 100000000) return text;
    id = id * 10 + (text[i] - L'0');
  }
  std::wstring found;
  return GetLanguageText(id, &found) ? found : text;
}

void SetSkinFailureHandler(SkinFailureHandler handler) {
  FailureHandler() = handler ? std::move(handler) : DefaultSkinFailure;
}

void ReportSkinFailure(const std::wstring& skinFile, const std::wstring& error) {
  OV_LOGS(L"skin %s cannot be built: %s", skinFile.c_str(), error.c_str());
  FailureHandler()(skinFile, error);
}

}  // namespace skin
