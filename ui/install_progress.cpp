#include "ui/install_progress.h"

#include <json/json.h>

#include <cwchar>
#include <memory>

#include "platform/strings.h"
#include "toolkit/resources.h"

int DownloadPercent(double fraction, double downloadScale) { return static_cast<int>(fraction * downloadScale * 100); }

int InstallPercent(double& smoothed, double reported, double downloadScale) {
  smoothed += 0.15;
  if (smoothed > 0.95) smoothed = 0.95;
  const double d = reported > smoothed ? reported : smoothed;
  smoothed = d;
  return static_cast<int>(((1 - downloadScale) * d + downloadScale) * 100);
}

std::wstring ProgressText(const std::wstring& userData, bool stopwatchRunning, DWORD elapsedMs, int percent) {
  const wchar_t* format = userData.empty() ? (stopwatchRunning && elapsedMs > 60000 ? L"正在安装中:%d%%，请耐心等待..."
                                                                                    : L"正在安装中:%d%%，请稍候...")
                                           : userData.c_str();
  wchar_t text[250] = {};
  // The skin's user data is a format with the percentage as its only
  // argument; a malformed one must not read beyond it, so only one %d is
  // honoured and every other conversion is shown literally.
  std::wstring safe;
  int conversions = 0;
  for (size_t i = 0; i < std::wcslen(format); ++i) {
    if (format[i] != L'%') {
      safe += format[i];
    } else if (format[i + 1] == L'%') {
      safe += L"%%";
      ++i;
    } else if (format[i + 1] == L'd' && conversions == 0) {
      safe += L"%d";
      ++conversions;
      ++i;
    } else {
      safe += L"%%";
    }
  }
  _snwprintf(text, 249, safe.c_str(), percent);
  return text;
}

namespace {

const wchar_t* const kLanguageCodes[kLanguageCount] = {L"en-US", L"zh-CN", L"zh-TW", L"id-ID", L"tr-TR",
                                                       L"de-DE", L"fr-FR", L"es-ES", L"pt-PT", L"ja-JP",
                                                       L"ko-KR", L"pl-PL", L"nl-NL", L"it-IT"};

}  // namespace

const wchar_t* LanguageCode(int index) {
  return index >= 0 && index < kLanguageCount ? kLanguageCodes[index] : nullptr;
}

int LanguageIndexOfCode(const std::wstring& code) {
  for (int i = 0; i < kLanguageCount; ++i)
    if (code == kLanguageCodes[i]) return i;
  return -1;
}

int LanguageIndexForLangId(LANGID id) {
  switch (id) {
    case 1033:
      return 0;
    case 1028:
      return 2;
    case 1057:
      return 3;
    case 1055:
      return 4;
    case 1031:
      return 5;
    case 1036:
      return 6;
    case 1046:
      return 8;
    case 1041:
      return 9;
    case 1042:
      return 10;
    case 1045:
      return 11;
    case 1043:
    case 2067:
      return 12;
    case 1040:
      return 13;
    default:
      break;
  }
  // Spanish: 1034 and the regional variants 2058 ... 20490, 1024 apart.
  if (id == 1034 || (id >= 2058 && id <= 20490 && (id - 2058) % 1024 == 0)) return 7;
  return 0;
}

int LoadLanguageTexts(const std::string& json, int index) {
  const wchar_t* code = LanguageCode(index);
  if (!code) return 0;
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  if (!reader->parse(json.data(), json.data() + json.size(), &root, &errors)) return 0;
  if (!root.isArray() && !root.isObject()) return 0;
  const std::string key = Utils::WideToUtf8(code);
  int stored = 0;
  for (const Json::Value& element : root) {
    if (!element.isObject() || !element["id"].isInt() || !element[key].isString()) continue;
    skin::SetLanguageText(element["id"].asInt(), Utils::Utf8ToWide(element[key].asString()));
    ++stored;
  }
  return stored;
}
