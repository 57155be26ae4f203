#include "ui/install_progress.h"

#include <rapidjson/document.h>

#include <climits>
#include <cmath>
#include <cwchar>
#include <map>
#include <string_view>
#include <vector>

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

namespace {

// language.json has always been read leniently, and files in use rely on it:
// a raw tab or line break inside a text is taken as it stands. RapidJSON
// refuses control characters in strings, so this stream hands them over
// escaped. It follows strings and comments only as far as telling whether
// a byte lies inside a string; where it errs the document was not JSON and
// RapidJSON rejects it anyway. It also cuts a document off past 1000 levels
// of nesting (a text list has two), which bounds the parser's memory.
class LenientStream {
 public:
  using Ch = char;
  LenientStream(const char* begin, const char* end) : begin_(begin), next_(begin), end_(end) {}

  Ch Peek() {
    Escape();
    if (escapedAt_ < escaped_.size()) return escaped_[escapedAt_];
    return next_ != end_ ? *next_ : '\0';
  }
  Ch Take() {
    Escape();
    if (escapedAt_ < escaped_.size()) return escaped_[escapedAt_++];
    if (next_ == end_) return '\0';
    const Ch c = *next_++;
    Follow(c);
    if (depth_ > kDepthLimit) next_ = end_;
    return c;
  }
  size_t Tell() const { return static_cast<size_t>(next_ - begin_); }
  // Only for parsing in place, which this stream is not used for.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  size_t PutEnd(Ch*) { return 0; }

 private:
  static constexpr int kDepthLimit = 1000;
  enum class State { kValue, kSlash, kString, kStringEscape, kLineComment, kBlockComment, kBlockCommentStar };

  void Escape() {
    if (escapedAt_ < escaped_.size() || next_ == end_ || state_ != State::kString) return;
    const auto c = static_cast<unsigned char>(*next_);
    if (c >= 0x20) return;
    static const char kHex[] = "0123456789abcdef";
    escaped_ = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
    escapedAt_ = 0;
    ++next_;
  }
  void Follow(Ch c) {
    switch (state_) {
      case State::kValue:
      case State::kSlash:
        if (state_ == State::kSlash && (c == '*' || c == '/')) {
          state_ = c == '*' ? State::kBlockComment : State::kLineComment;
        } else {
          state_ = c == '"' ? State::kString : c == '/' ? State::kSlash : State::kValue;
          depth_ += c == '[' || c == '{' ? 1 : c == ']' || c == '}' ? -1 : 0;
        }
        break;
      case State::kString:
        if (c == '\\') state_ = State::kStringEscape;
        if (c == '"') state_ = State::kValue;
        break;
      case State::kStringEscape:
        state_ = State::kString;
        break;
      case State::kLineComment:
        if (c == '\n') state_ = State::kValue;
        break;
      case State::kBlockComment:
      case State::kBlockCommentStar:
        state_ = c == '*'                                         ? State::kBlockCommentStar
                 : state_ == State::kBlockCommentStar && c == '/' ? State::kValue
                                                                  : State::kBlockComment;
        break;
    }
  }

  const char* begin_;
  const char* next_;
  const char* end_;
  State state_ = State::kValue;
  int depth_ = 0;
  std::vector<Ch> escaped_;
  size_t escapedAt_ = 0;
};

std::string_view View(const rapidjson::Value& string) { return {string.GetString(), string.GetStringLength()}; }

// Of equal names the last counts, as it always has.
const rapidjson::Value* Member(const rapidjson::Value& object, std::string_view name) {
  const rapidjson::Value* found = nullptr;
  for (const auto& member : object.GetObject())
    if (View(member.name) == name) found = &member.value;
  return found;
}

// An integral number within int, however it is written: 104, 104.0, 1.04e2.
bool IntegerId(const rapidjson::Value* value, int* id) {
  if (!value || !value->IsNumber()) return false;
  if (value->IsInt()) {
    *id = value->GetInt();
    return true;
  }
  if (!value->IsDouble()) return false;  // an integer beyond int
  const double d = value->GetDouble();
  if (!(d >= INT_MIN && d <= INT_MAX) || d != std::trunc(d)) return false;
  *id = static_cast<int>(d);
  return true;
}

}  // namespace

int LoadLanguageTexts(const std::string& json, int index) {
  const wchar_t* code = LanguageCode(index);
  if (!code) return 0;
  const char* begin = json.data();
  const char* end = begin + json.size();
  // The byte order mark that Windows editors write is not part of the document.
  if (std::string_view(json).starts_with("\xEF\xBB\xBF")) begin += 3;
  LenientStream in(begin, end);
  // Iterative: a deeply nested file must not exhaust the window thread's stack.
  // Full precision: whether 104.000000000000001 is an integral id depends on it.
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseStopWhenDoneFlag |
                              rapidjson::kParseCommentsFlag | rapidjson::kParseTrailingCommasFlag |
                              rapidjson::kParseFullPrecisionFlag;
  rapidjson::Document root;
  if (root.ParseStream<kFlags>(in).HasParseError()) return 0;
  std::vector<const rapidjson::Value*> elements;
  if (root.IsArray()) {
    for (const auto& element : root.GetArray()) elements.push_back(&element);
  } else if (root.IsObject()) {
    // An object's values in the order of their names, the last of equal
    // names counting: a later text of the same id replaces an earlier one.
    std::map<std::string_view, const rapidjson::Value*> byName;
    for (const auto& member : root.GetObject()) byName[View(member.name)] = &member.value;
    for (const auto& [name, value] : byName) elements.push_back(value);
  } else {
    return 0;
  }
  const std::string key = Utils::WideToUtf8(code);
  int stored = 0;
  for (const rapidjson::Value* element : elements) {
    if (!element->IsObject()) continue;
    int id = 0;
    const rapidjson::Value* text = Member(*element, key);
    if (!IntegerId(Member(*element, "id"), &id) || !text || !text->IsString()) continue;
    skin::SetLanguageText(id, Utils::Utf8ToWide(View(*text)));
    ++stored;
  }
  return stored;
}
