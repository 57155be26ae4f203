// Substitute for the product package and for the previous version's
// uninstaller, for tests and the demo. It takes their command lines, really
// installs (or removes) a small sample product, and prints console protocol
// lines from a script, so a test can make it misbehave in every way a real
// package could.
//
//   package:      <self> /S -console=show -version=1.0.0 ... [-instdir="F"] [/D=F]
//   uninstaller:  <self> /S ... -console=show _?=F
//   holder:       <self> --hold <ms> ["marker"]   (a descendant that keeps the output open)
//   attacker:     <self> --attack "package" "payload" "stop file" "count file" ["dll"]
//                 (a local user who keeps replacing the package with the
//                 payload, and planting the DLL beside it as version.dll,
//                 until the stop file exists, then writes how many tries,
//                 replacements and plants succeeded)
//
// A copy of this program with kPayloadTrailer appended is an attacker's
// payload: run, it first creates the file named by OV_ATTACK_MARKER (so does
// the planted DLL, tools/substitute/planted_dll.cpp, when loaded).
//
// The script is the UTF-8 file named by OV_PACKAGE_SCRIPT or
// OV_UNINSTALLER_SCRIPT (by mode); without one a well-behaved built-in
// script runs. One command per line; "#" starts a comment; ${INSTDIR} in a
// text is the target folder:
//   say <text>          one write of the text and a line feed, in the current encoding
//   part <text>         one write of the text alone (a line cut across writes)
//   encoding <e>        how later texts are encoded: utf8, acp or a code page number
//   hex <hh hh ...>     one write of raw bytes
//   repeat <n> <text>   n lines, one write each
//   fill <n> <text>     n bytes of the text repeated, no line feed, in 4 KiB writes
//   errfill <n> <text>  the same on the standard error
//   lines <n> <text>    n lines of the text, whole lines packed into writes of 4 KiB at most
//   garbage <n> <seed>  n pseudo-random bytes
//   cmdline             "Message=" and the received command line
//   install / uninstall the real work; on failure "Error=..." and exit 1
//   spawn-holder <ms> [<marker>]  start a descendant that inherits the output, keeps
//                       it <ms>, then creates the marker file (if given) and exits
//   pidfile <path>      write this process id; touch <path>: create an empty file
//   close-output        close the standard output and go on without it
//   wait-for <ms> <path> wait until the file exists, at most <ms>
//   sleep <ms>, hang, exit <code>
//
// Single-threaded; the holder is its own process and ends by itself.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <winver.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/handles.h"
#include "platform/strings.h"

namespace {

constexpr char kPayloadTrailer[] = "OV-ATTACKER-WON!";  // 16 bytes at the end of a payload

std::wstring g_installDir;
unsigned g_encoding = CP_UTF8;

HANDLE g_out = GetStdHandle(STD_OUTPUT_HANDLE);

void Write(const std::string& bytes) {
  DWORD written = 0;
  WriteFile(g_out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring Expand(std::wstring text) {
  const std::wstring variable = L"${INSTDIR}";
  for (size_t at = text.find(variable); at != std::wstring::npos; at = text.find(variable, at + g_installDir.size()))
    text.replace(at, variable.size(), g_installDir);
  return text;
}

std::string Encode(const std::wstring& text) { return Utils::WideToMultiByte(Expand(text), g_encoding); }

void Say(const std::wstring& text) { Write(Encode(text) + "\n"); }

[[noreturn]] void Fail(const std::wstring& message) {
  Say(L"Error=" + message);
  ExitProcess(1);
}

bool WriteResource(const std::wstring& path) {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(10));  // RT_RCDATA
  HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return false;
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), SizeofResource(nullptr, resource));
  return static_cast<bool>(out);
}

std::wstring SelfPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

void Install() {
  const int created = SHCreateDirectoryExW(nullptr, g_installDir.c_str(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS)
    Fail(L"cannot create " + g_installDir);
  if (!WriteResource(g_installDir + L"\\OndraVelqor.exe")) Fail(L"cannot write OndraVelqor.exe");
  // The package is its own uninstaller.
  if (!CopyFileW(SelfPath().c_str(), (g_installDir + L"\\uninst.ep").c_str(), FALSE)) Fail(L"cannot write uninst.ep");
}

void Uninstall() {
  const std::wstring product = g_installDir + L"\\OndraVelqor.exe";
  if (PathFileExistsW(product.c_str()) && !DeleteFileW(product.c_str()))
    Fail(L"cannot remove OndraVelqor.exe, is it running?");
  DeleteFileW((g_installDir + L"\\uninst.ep").c_str());
  DeleteFileW((g_installDir + L"\\set.ini").c_str());
  RemoveDirectoryW(g_installDir.c_str());  // only when nothing else is left
}

void SpawnHolder(const std::wstring& argument) {
  std::wistringstream args(argument);
  unsigned long ms = 0;
  std::wstring marker;
  args >> ms;
  std::getline(args >> std::ws, marker);
  std::wstring line = L"\"" + SelfPath() + L"\" --hold " + std::to_wstring(ms);
  if (!marker.empty()) line += L" \"" + Expand(marker) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
    Fail(L"cannot start the holder");
  const Utils::ProcessHandles holder(info);  // not waited for
}

void Garbage(size_t count, uint32_t seed) {
  std::string bytes;
  for (size_t i = 0; i < count; ++i) {
    seed = seed * 1664525u + 1013904223u;
    bytes.push_back(static_cast<char>(seed >> 24));
    if (bytes.size() == 512) Write(bytes), bytes.clear();
  }
  if (!bytes.empty()) Write(bytes);
}

void Fill(size_t count, const std::string& unit) {
  if (unit.empty()) return;
  std::string block;
  while (block.size() < 4096) block += unit;
  block.resize(4096);
  for (; count >= block.size(); count -= block.size()) Write(block);
  if (count) Write(block.substr(0, count));
}

void Lines(size_t count, const std::string& line) {
  std::string block;
  for (size_t i = 0; i < count; ++i) {
    if (block.size() + line.size() + 1 > 4096) Write(block), block.clear();
    block += line + "\n";
  }
  if (!block.empty()) Write(block);
}

std::string Hex(const std::wstring& text) {
  std::string bytes;
  std::wistringstream in(text);
  std::wstring pair;
  while (in >> pair) bytes.push_back(static_cast<char>(std::wcstoul(pair.c_str(), nullptr, 16)));
  return bytes;
}

void Run(const std::wstring& command, const std::wstring& argument) {
  std::wistringstream args(argument);
  unsigned long number = 0;
  if (command == L"say")
    Say(argument);
  else if (command == L"part")
    Write(Encode(argument));
  else if (command == L"encoding")
    g_encoding = argument == L"utf8"  ? CP_UTF8
                 : argument == L"acp" ? CP_ACP
                                      : std::wcstoul(argument.c_str(), nullptr, 10);
  else if (command == L"hex")
    Write(Hex(argument));
  else if (command == L"repeat" || command == L"fill" || command == L"errfill" || command == L"lines") {
    args >> number;
    std::wstring text;
    std::getline(args >> std::ws, text);
    if (command == L"fill")
      Fill(number, Encode(text));
    else if (command == L"errfill") {
      g_out = GetStdHandle(STD_ERROR_HANDLE);
      Fill(number, Encode(text));
      g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    } else if (command == L"lines")
      Lines(number, Encode(text));
    else
      for (unsigned long i = 0; i < number; ++i) Say(text);
  } else if (command == L"garbage") {
    unsigned long seed = 0;
    args >> number >> seed;
    Garbage(number, seed);
  } else if (command == L"cmdline")
    Say(std::wstring(L"Message=") + GetCommandLineW());
  else if (command == L"install")
    Install();
  else if (command == L"uninstall")
    Uninstall();
  else if (command == L"spawn-holder")
    SpawnHolder(argument);
  else if (command == L"pidfile")
    std::ofstream(Expand(argument).c_str()) << GetCurrentProcessId();
  else if (command == L"touch")
    std::ofstream(Expand(argument).c_str()).flush();
  else if (command == L"close-output")
    CloseHandle(g_out);
  else if (command == L"wait-for") {
    args >> number;
    std::wstring path;
    std::getline(args >> std::ws, path);
    path = Expand(path);
    for (unsigned long waited = 0; waited < number && !PathFileExistsW(path.c_str()); waited += 50) Sleep(50);
  } else if (command == L"sleep")
    Sleep(std::wcstoul(argument.c_str(), nullptr, 10));
  else if (command == L"hang")
    Sleep(INFINITE);
  else if (command == L"exit")
    ExitProcess(std::wcstoul(argument.c_str(), nullptr, 10));
}

void RunScript(const std::wstring& script) {
  std::wistringstream lines(script);
  std::wstring line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (line.empty() || line[0] == L'#') continue;
    const size_t space = line.find(L' ');
    Run(line.substr(0, space), space == std::wstring::npos ? L"" : line.substr(space + 1));
  }
}

const wchar_t kPackageScript[] =
    L"say Encode=UTF8\n"
    L"say Progress=0.1\n"
    L"install\n"
    L"say Progress=0.6\n"
    L"say InstPath=${INSTDIR}\n"
    L"say InstallVersion=1.7.9\n"
    L"say ExePath=${INSTDIR}\\OndraVelqor.exe\n"
    L"say UninstEp=${INSTDIR}\\uninst.ep\n"
    L"say StartupStyle=UserStartup\n"
    L"say Progress=1\n"
    L"say State=Success\n";

const wchar_t kUninstallerScript[] =
    L"say Progress=0.3\n"
    L"uninstall\n"
    L"say Progress=1\n"
    L"say State=Success\n";

std::wstring LoadScript(const wchar_t* variable, const wchar_t* builtIn) {
  wchar_t path[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(variable, path, MAX_PATH) || !path[0]) return builtIn;
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(std::wstring(L"cannot read the script ") + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return Utils::Utf8ToWide(bytes.str());
}

// The quoted value of "-instdir=" when there is no "/D=".
std::wstring QuotedOption(const std::wstring& line, const std::wstring& name) {
  const size_t at = line.find(name + L"\"");
  if (at == std::wstring::npos) return {};
  const size_t begin = at + name.size() + 1;
  const size_t end = line.find(L'"', begin);
  return end == std::wstring::npos ? std::wstring() : line.substr(begin, end - begin);
}

std::wstring DefaultInstallDir() {
  wchar_t folder[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, folder);
  return std::wstring(folder) + L"\\ONVelqor";
}

// Marks that the payload ran (what the attacker wants: its code run by the
// installer in place of the package).
void MarkIfPayload() {
  std::ifstream self(SelfPath().c_str(), std::ios::binary | std::ios::ate);
  const std::streamoff size = self.tellg();
  if (!self || size < 16) return;
  char tail[16] = {};
  self.seekg(size - 16);
  self.read(tail, 16);
  if (std::string(tail, 16) != kPayloadTrailer) return;
  wchar_t marker[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"OV_ATTACK_MARKER", marker, MAX_PATH) && marker[0]) std::ofstream(marker).flush();
}

// Replaces the package with the payload, by copying over it and by renaming
// a copy onto it, and plants the DLL beside it, as fast as it can.
int Attack(int argc, wchar_t** argv) {
  if (argc < 6) return 2;
  const std::wstring package = argv[2], payload = argv[3], stop = argv[4], count = argv[5];
  const std::wstring dll = argc > 6 ? argv[6] : L"";
  const std::wstring staged = package + L".staged";
  const std::wstring planted = package.substr(0, package.find_last_of(L'\\') + 1) + L"version.dll";
  unsigned long replaced = 0, tries = 0, plants = 0;
  while (!PathFileExistsW(stop.c_str())) {
    ++tries;
    if (CopyFileW(payload.c_str(), package.c_str(), FALSE)) ++replaced;
    if (CopyFileW(payload.c_str(), staged.c_str(), FALSE) &&
        MoveFileExW(staged.c_str(), package.c_str(), MOVEFILE_REPLACE_EXISTING))
      ++replaced;
    if (!dll.empty() && CopyFileW(dll.c_str(), planted.c_str(), FALSE)) ++plants;
  }
  DeleteFileW(staged.c_str());
  std::ofstream(count.c_str()) << tries << " " << replaced << " " << plants;
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  MarkIfPayload();
  if (argc > 1 && std::wstring(argv[1]) == L"--attack") return Attack(argc, argv);
  const std::wstring line = GetCommandLineW();
  if (const size_t hold = line.find(L" --hold "); hold != std::wstring::npos) {
    wchar_t* rest = nullptr;
    Sleep(std::wcstoul(line.c_str() + hold + 8, &rest, 10));
    std::wstring marker = rest;
    marker.erase(0, marker.find_first_not_of(L" \""));
    if (const size_t quote = marker.find(L'"'); quote != std::wstring::npos) marker.erase(quote);
    if (!marker.empty()) std::ofstream(marker.c_str()).flush();
    return 0;
  }
  // Both modes take the rest of the line after their last option as the
  // folder, unquoted, the way silent installers read "/D=" and "_?=".
  if (const size_t folder = line.find(L" _?="); folder != std::wstring::npos) {
    g_installDir = line.substr(folder + 4);
    RunScript(LoadScript(L"OV_UNINSTALLER_SCRIPT", kUninstallerScript));
    return 0;
  }
  if (line.find(L" /S") == std::wstring::npos || line.find(L" -console=show") == std::wstring::npos) {
    std::fputws(L"usage: /S -console=show ... /D=<folder>\n", stderr);
    return 2;
  }
  if (const size_t folder = line.find(L" /D="); folder != std::wstring::npos)
    g_installDir = line.substr(folder + 4);
  else
    g_installDir = QuotedOption(line, L"-instdir=");
  if (g_installDir.empty()) g_installDir = DefaultInstallDir();
  // Imports version.dll, as real packages do. It is no KnownDLL, so Windows
  // looks for it in the package's folder first: the planting attacker's aim.
  DWORD ignored = 0;
  GetFileVersionInfoSizeW(SelfPath().c_str(), &ignored);
  RunScript(LoadScript(L"OV_PACKAGE_SCRIPT", kPackageScript));
  return 0;
}
