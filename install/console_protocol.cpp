#include "install/console_protocol.h"

#include <cerrno>
#include <cmath>
#include <cwchar>

#include "install/report_codes.h"
#include "platform/strings.h"

namespace protocol {
namespace {

enum class Action {
  Progress,
  InstPath,
  State,
  InstallVersion,
  ExePath,
  StartExe,
  UninstExePath,
  UninstExe,
  UninstEp,
  Error,
  TopShowDetention,
  FinishCloseDetention,
  StartUrl,
  StartupStyle,
  Encode,
  Message,
};

struct Key {
  std::wstring_view text;
  Action action;
};

// Tested in this order; the first key a line starts with wins.
constexpr Key kPackageKeys[] = {
    {L"Progress=", Action::Progress},
    {L"InstPath=", Action::InstPath},
    {L"State=", Action::State},
    {L"InstallVersion=", Action::InstallVersion},
    {L"ExePath=", Action::ExePath},
    {L"StartExe=", Action::StartExe},
    {L"UninstExePath=", Action::UninstExePath},
    {L"UninstExe=", Action::UninstExe},
    {L"UninstEp=", Action::UninstEp},
    {L"Error=", Action::Error},
    {L"TopShowDetention=", Action::TopShowDetention},
    {L"FinsihCloseDetention=", Action::FinishCloseDetention},  // the package family spells it so
    {L"StartUrl=", Action::StartUrl},
    {L"StartupStyle=", Action::StartupStyle},
    {L"Encode=", Action::Encode},
    {L"Message=", Action::Message},
};

constexpr Key kUninstallerKeys[] = {
    {L"Progress=", Action::Progress},
    {L"Error=", Action::Error},
    {L"State=", Action::State},
    {L"Encode=", Action::Encode},
};

std::wstring_view Trim(std::wstring_view value) {
  constexpr std::wstring_view kBlanks = L" \t\r\n\v\f";
  const size_t first = value.find_first_not_of(kBlanks);
  if (first == std::wstring_view::npos) return {};
  return value.substr(first, value.find_last_not_of(kBlanks) - first + 1);
}

std::wstring FreeText(std::wstring_view value) {
  if (value.empty() || value.size() > kMaxFreeText) return {};
  return std::wstring(value);
}

// "%lf": the leading number, 0 without one. A number that does not fit a
// double ("1e999") is no fraction either, so it reads as 0 too.
double LeadingDouble(std::wstring_view value) {
  const double v = Utils::ParseLeadingDouble(std::wstring(value));
  return std::isfinite(v) ? v : 0.0;
}

int LeadingInt(std::wstring_view value) { return Utils::ParseLeadingInt(std::wstring(value)); }

// "%d.%d.%d": numbers after the first one that is missing read as 0.
Version ReadVersion(std::wstring_view value) {
  const std::wstring text(value);
  int numbers[3] = {};
  const wchar_t* p = text.c_str();
  for (int i = 0; i < 3; ++i) {
    wchar_t* end = nullptr;
    const long v = std::wcstol(p, &end, 10);
    if (end == p) break;
    numbers[i] = static_cast<int>(v);
    if (*end != L'.') break;
    p = end + 1;
  }
  return {numbers[0], numbers[1], numbers[2]};
}

// A decimal code page; no number or one beyond the integer range gives 0.
int ReadCodePage(std::wstring_view keyword) {
  const std::wstring text(keyword);
  wchar_t* end = nullptr;
  errno = 0;
  const long v = std::wcstol(text.c_str(), &end, 10);
  if (end == text.c_str() || errno == ERANGE) return 0;
  return static_cast<int>(v);
}

int StartupStyle(std::wstring_view keyword) {
  if (keyword == L"AutoStartup") return 1;
  if (keyword == L"UserStartup") return 2;
  return 0;  // "NonStartup" and anything unknown
}

class ChunkParser {
 public:
  ChunkParser(bool package, int codePage) : package_(package) { out_.codePage = codePage; }

  ChunkOutcome Run(std::wstring_view text) {
    while (!text.empty()) {
      const size_t feed = text.find(L'\n');
      Line(text.substr(0, feed));
      text = feed == std::wstring_view::npos ? std::wstring_view() : text.substr(feed + 1);
    }
    return std::move(out_);
  }

 private:
  void Line(std::wstring_view line) {
    const Key* begin = package_ ? std::begin(kPackageKeys) : std::begin(kUninstallerKeys);
    const Key* end = package_ ? std::end(kPackageKeys) : std::end(kUninstallerKeys);
    for (const Key* key = begin; key != end; ++key) {
      if (line.starts_with(key->text)) {
        key_ = key->text;
        Act(key->action, line.substr(key->text.size()));
        return;
      }
    }
  }

  void Report(int32_t code, double number, std::wstring text = {}) {
    out_.reports.push_back({code, number, std::move(text), key_});
  }

  void Act(Action action, std::wstring_view value) {
    switch (action) {
      case Action::Progress:
        Report(package_ ? IST_CODE_PROGRESS : UNIST_CODE_PROGRESS, LeadingDouble(value));
        return;
      case Action::InstPath:
        Report(IST_INFO_INST_PATH, 0, FreeText(value));
        return;
      case Action::State:
        State(Trim(value));
        return;
      case Action::InstallVersion:
        out_.hasVersion = true;
        out_.version = ReadVersion(value);
        return;
      case Action::ExePath:
      case Action::StartExe:
        Report(IST_INFO_EXE_PATH, 0, FreeText(value));
        return;
      case Action::UninstExePath:
      case Action::UninstExe:
        Report(IST_INFO_UNINST_EXE, 0, FreeText(value));
        return;
      case Action::UninstEp:
        Report(IST_INFO_UNINST_EP, 0, FreeText(value));
        return;
      case Action::Error:
        if (package_)
          Report(IST_CODE_FAIL, kFailPackageError, FreeText(value));
        else
          Report(UNIST_CODE_ERROR, 0, FreeText(value));
        out_.result = kChunkFailure;
        return;
      case Action::TopShowDetention:
        Report(IST_INFO_TOP_SHOW_DETENTION, static_cast<uint32_t>(LeadingInt(value)));
        return;
      case Action::FinishCloseDetention:
        Report(IST_INFO_FINISH_CLOSE_DETENTION, static_cast<uint32_t>(LeadingInt(value)));
        return;
      case Action::StartUrl:
        Report(IST_INFO_START_URL, 0, FreeText(value));
        return;
      case Action::StartupStyle:
        Report(IST_INFO_STARTUP_STYLE, StartupStyle(Trim(value)));
        return;
      case Action::Encode:
        Encode(Trim(value));
        return;
      case Action::Message:
        Report(IST_INFO_MESSAGE, 0, FreeText(value));
        return;
    }
  }

  void State(std::wstring_view keyword) {
    if (keyword == L"Success") {
      Report(package_ ? INSTALL_SUCCESS : UNIST_CODE_SUCCESS, 0);
      out_.result = kChunkSuccess;
    } else if (keyword == L"Fail") {
      if (package_)
        Report(IST_CODE_FAIL, 0, kPackageFailText);
      else
        Report(UNIST_CODE_ERROR, 0, kUninstallFailText);
      out_.result = kChunkFailure;
    }
  }

  void Encode(std::wstring_view keyword) {
    if (keyword == L"UTF8")
      out_.codePage = 65001;
    else if (!package_ || keyword == L"ACP")
      out_.codePage = 0;
    else
      out_.codePage = ReadCodePage(keyword);
  }

  const bool package_;
  std::wstring_view key_;
  ChunkOutcome out_;
};

}  // namespace

std::wstring DecodeChunk(std::string_view bytes, int codePage) {
  const size_t zero = bytes.find('\0');
  if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
  return Utils::MultiByteToWide(bytes, static_cast<unsigned>(codePage));
}

ChunkOutcome ParsePackageText(std::wstring_view text, int codePage) { return ChunkParser(true, codePage).Run(text); }

ChunkOutcome ParseUninstallerText(std::wstring_view text, int codePage) {
  return ChunkParser(false, codePage).Run(text);
}

}  // namespace protocol
