#include "tests/fuzz/fuzz_targets.h"

#include <windows.h>

#include <rapidjson/document.h>

#include "7zCrc.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "analytics/sdk/record_queue.h"
#include "app/settings.h"
#include "download/resolver.h"
#include "download/web_page.h"
#include "install/console_protocol.h"
#include "platform/strings.h"
#include "toolkit/archive.h"
#include "toolkit/markup.h"
#include "toolkit/resources.h"
#include "ui/install_progress.h"

namespace fuzz {
namespace {

std::string ReadFile(const std::wstring& path) {
  std::string out;
  if (FILE* f = _wfopen(path.c_str(), L"rb")) {
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) out.append(buffer, n);
    fclose(f);
  }
  return out;
}

std::wstring Wide(const std::string& bytes) { return Utils::Utf8ToWide(bytes); }

// The package's and the uninstaller's console lines. The first byte picks
// the code page in force. Success is reported only by a line that says so.
void Protocol(const std::string& input, std::string* broken) {
  static const int kPages[] = {0, 65001, 936, 1252, 54936, 1200};
  const int page = input.empty() ? 0 : kPages[static_cast<unsigned char>(input[0]) % 6];
  const std::wstring text = protocol::DecodeChunk(std::string_view(input).substr(input.empty() ? 0 : 1), page);
  for (const protocol::ChunkOutcome& out :
       {protocol::ParsePackageText(text, page), protocol::ParseUninstallerText(text, page)}) {
    if (out.result == protocol::kChunkSuccess && text.find(L"Success") == std::wstring::npos)
      *broken = "success reported without a line that says Success";
    for (const protocol::Report& r : out.reports)
      if (r.text.size() > protocol::kMaxFreeText) *broken = "a report text longer than the free-text bound";
  }
}

void ContentRange(const std::string& input, std::string* broken) {
  download::ContentRange r;
  if (!download::ParseContentRange(input.data(), input.size(), &r)) return;
  if (r.first < 0 || r.last < r.first || (r.total != -1 && r.last >= r.total))
    *broken = "an accepted range that does not hold together";
}

// language.json: any file, every language index, nothing kept afterwards.
void Language(const std::string& input, std::string* broken) {
  const int index = input.empty() ? 0 : static_cast<unsigned char>(input.back()) % 12;
  if (LoadLanguageTexts(input, index) < 0) *broken = "a negative count of texts";
  skin::ClearLanguageTexts();
}

void CommandLine(const std::string& input, std::string* broken) {
  const std::wstring line = Wide(input);
  const CommandLineOptions options(line.c_str());
  for (const wchar_t* name : {L"-downloadurl", L"-downloadtype", L"-silent", L"-instdir", L"-log", L"-insnew",
                              L"-ischecknet", L"-downloadscale", L"-languageindex"}) {
    if (options.Has(name) != options.Text(name).has_value()) *broken = "Has and Text disagree";
    options.Integer(name);
    options.Bool(name);
    options.Double(name, 0.5);
  }
}

void WebPage(const std::string& input, std::string* broken) {
  download::StartsLikeWebPage(input.data(), input.size());
  download::IsWebPageType(input.c_str());
}

// A staging line the queue accepts is one JSON object the server can read.
void RecordText(const std::string& input, std::string* broken) {
  if (!analytics_core::IsValidRecordText(input)) return;
  rapidjson::Document d;
  d.Parse(input.data(), input.size());
  if (d.HasParseError() || !d.IsObject()) *broken = "an accepted record that is not one JSON object";
}

// A mutated archive almost never keeps its two header checksums right, so it
// would stop at the first check. Inputs of even length get them repaired
// (the start header's over its 20 bytes, the next header's over that header
// where it lies inside the input), which takes them on into the header parser
// and the decoder; odd ones keep testing the checks themselves.
std::string RepairedArchive(std::string input) {
  if (input.size() % 2 || input.size() < 32 || input.compare(0, 6, "7z\xbc\xaf\x27\x1c") != 0) return input;
  auto read64 = [&](size_t at) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(input[at + i]);
    return v;
  };
  auto write32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) input[at + i] = static_cast<char>(v >> (8 * i));
  };
  static const bool crcReady = (CrcGenerateTable(), true);
  (void)crcReady;
  const uint64_t offset = read64(12), size = read64(20), room = input.size() - 32;
  if (offset <= room && size <= room - offset)
    write32(28, CrcCalc(input.data() + 32 + offset, static_cast<size_t>(size)));
  write32(8, CrcCalc(input.data() + 12, 20));
  return input;
}

// The skin archive resource: read whole or refused, never beyond its bounds.
void Archive(const std::string& raw, std::string* broken) {
  const std::string input = RepairedArchive(raw);
  skin::SkinArchive archive;
  if (!archive.Open(input.data(), input.size())) return;
  for (const auto& entry : archive.entries())
    if (entry.data.size() != entry.size) *broken = "an entry whose bytes differ from its size";
}

// A skin: parsed or refused with a reason.
void Skin(const std::string& input, std::string* broken) {
  skin::Markup markup;
  if (!markup.Parse(Wide(input)) && !*markup.ErrorMessage()) *broken = "a skin refused without a reason";
}

std::vector<std::string> SkinSeeds() {
  std::vector<std::string> seeds;
  for (const wchar_t* f : {L"mainWnd.xml", L"exitTipWnd.xml", L"NetworkTipWnd.xml", L"MessageBox1Wnd.xml"})
    seeds.push_back(ReadFile(std::wstring(OV_SKIN_DIR) + L"\\" + f));
  return seeds;
}

}  // namespace

const std::vector<Target>& Targets() {
  static const std::vector<Target> targets = {
      {"protocol",
       {std::string("\x01") + "Encode=UTF8\nProgress=0.5\nInstPath=C:\\Apps\\X\nState=Success\n",
        std::string("\x02") + "InstallVersion=1.2.3\nError=disk full\nState=Fail\n", "\x03Message=\xd6\xd0\xce\xc4\n"},
       {"State=", "Success", "Fail", "Progress=", "Encode=", "UTF8", "InstPath=", "ExePath=", "UninstEp=", "StartUrl=",
        "StartupStyle=", "Message=", "Error=", "InstallVersion=", "\r\n", "\n", "=", "\xef\xbb\xbf"},
       Protocol},
      {"content-range",
       {"bytes 0-99/1000", "bytes 0-0/*", "bytes 5-4/10", "bytes */1000"},
       {"bytes ", "-", "/", "*", " ", "9223372036854775807", "0"},
       ContentRange},
      {"language",
       {ReadFile(std::wstring(OV_LANG_JSON)), "[{\"id\":104,\"zh-CN\":\"x\"}]", "{\"a\":{\"id\":1,\"en-US\":\"y\"}}"},
       {"{", "}", "[", "]", "\"id\":", "\"zh-CN\":", "\"en-US\":", "104", "1e400", "-0", ",", "/*", "*/", "//",
        "\"\\u0000\"", "\"\\ud800\""},
       Language},
      {"command-line",
       {"setup.exe -downloadurl=http://x/y.exe -downloadtype=2 -silent -instdir=\"C:\\A B\"",
        "\"C:\\a b\\setup.exe\" -insnew=true -downloadscale=0.7 -log=C:\\l.txt"},
       {" -", "=", "\"", "\\", "-downloadurl=", "-silent", "-instdir=", "true", "false", "1e999", " "},
       CommandLine},
      {"web-page",
       {"<!DOCTYPE html><html>", "\xef\xbb\xbf  <html", "text/html; charset=utf-8", "MZ\x90"},
       {"<", "html", "<!--", "text/html", ";", " "},
       WebPage},
      {"record-text",
       {"{\"event\":\"PlEventTask\",\"properties\":{\"pl_task_name\":\"x\"}}", "{}"},
       {"{", "}", "\"", ":", ",", "\\u0001", "\xc3\xa9", "\xed\xa0\x80", "[", "]", "null"},
       RecordText},
      {"skin-archive",
       // The shipped archive, and a small one (a skin and a folder with a
       // text and an empty image, as the build packs them) whose header
       // bytes mutations reach far more often.
       {ReadFile(std::wstring(OV_SKIN_ARCHIVE_FILE)), ReadFile(std::wstring(OV_FUZZ_SEEDS) + L"\\small-skin.7z")},
       {"7z\xbc\xaf\x27\x1c", std::string(8, '\xff'), std::string(8, '\0')},
       Archive},
      {"skin",
       SkinSeeds(),
       {"<", ">", "/>", "=\"", "\"", "&#x0;", "<!--", "-->", " width=\"99999\"", "<TabLayout>", "</Window>"},
       Skin},
  };
  return targets;
}

}  // namespace fuzz
