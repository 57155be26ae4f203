#include "analytics/identity.h"

#include <direct.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <random>

#include "analytics/sdk/property_node.h"
#include "platform/handles.h"

namespace pelan::tracking {

namespace {

constexpr const char* kBase = "Base";

std::string ReadIni(const std::string& file, const char* section, const char* key) {
  char buf[128] = {};  // longer stored values are cut, as the file format always did
  GetPrivateProfileStringA(section, key, "", buf, sizeof buf, file.c_str());
  return buf;
}

void Slashes(std::string& path) { std::replace(path.begin(), path.end(), '/', '\\'); }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// An id read from the file goes into every record: a damaged one (control or
// invalid UTF-8 bytes) would make the server refuse every batch for good.
bool IsUsableId(const std::string& id) {
  if (id.size() > 255) return false;
  for (const char c : id)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return analytics_core::IsValidUtf8(id);
}

std::string ReadId(const std::string& file, const char* key) {
  const std::string id = ReadIni(file, kBase, key);
  return IsUsableId(id) ? id : std::string();
}

std::string ShellFolder(int csidl) {
  char path[MAX_PATH] = {};
  Utils::UniqueCoTaskMemory<ITEMIDLIST> pidl;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, pidl.put())) && pidl) SHGetPathFromIDListA(pidl.get(), path);
  return path;
}

std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = {};
  const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return n > 0 && n < MAX_PATH ? std::string(full) : std::string();
}

bool IsAbsolute(const std::string& path) {
  return (path.size() > 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && path[2] == '\\') ||
         path.rfind("\\\\", 0) == 0;
}

bool StartsWithFolder(const std::string& path, std::string folder) {
  if (folder.empty()) return false;
  if (folder.back() != '\\') folder += '\\';
  return path.size() > folder.size() &&
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path.c_str(), static_cast<int>(folder.size()),
                        folder.c_str(), static_cast<int>(folder.size())) == CSTR_EQUAL;
}

// The configured identity path, or empty when it must not be used. It is
// never taken relative to the current folder; an elevated process takes it
// only inside the user's own application data folders, since anyone who can
// drop a file next to the exe (a browser's download folder) could otherwise
// have it create folders and write files anywhere.
std::string AcceptedConfiguredPath(const std::string& configured, bool elevated) {
  if (!IsAbsolute(configured)) return std::string();
  const std::string full = FullPath(configured);  // ".." resolved, as the file system will
  if (full.empty()) return std::string();
  if (!elevated) return configured;
  for (const int csidl : {CSIDL_LOCAL_APPDATA, CSIDL_APPDATA}) {
    const std::string folder = FullPath(ShellFolder(csidl));
    char shortForm[MAX_PATH] = {};
    if (StartsWithFolder(full, folder)) return full;
    if (!folder.empty() && GetShortPathNameA(folder.c_str(), shortForm, MAX_PATH) && StartsWithFolder(full, shortForm))
      return full;
  }
  return std::string();
}

struct VersionNumbers {
  bool available = false;
  DWORD major = 0, minor = 0, build = 0;
};

VersionNumbers ReadVersionNumbers() {
  VersionNumbers v;
  const Utils::UniqueLibrary ntdll(LoadLibraryA("ntdll.dll"));
  if (!ntdll) return v;
  v.available = true;
  using Fn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);
  if (auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll.get(), "RtlGetNtVersionNumbers"))))
    fn(&v.major, &v.minor, &v.build);
  v.build &= 0xFFFF;
  return v;
}

std::string BaseFolder() {
  const VersionNumbers v = ReadVersionNumbers();
  const bool modern = v.available && (v.major > 6 || (v.major == 6 && v.minor >= 1));
  const std::string path = ShellFolder(modern ? CSIDL_LOCAL_APPDATA : CSIDL_COMMON_DOCUMENTS);
  char shortPath[MAX_PATH] = {};
  if (!path.empty() && GetShortPathNameA(path.c_str(), shortPath, MAX_PATH) > 0 && shortPath[0]) return shortPath;
  return path;
}

}  // namespace

bool CreateFolderLevels(std::string path) {
  if (path.empty() || Exists(path)) return true;
  Slashes(path);
  if (path.back() != '\\') path += '\\';
  for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
    const std::string level = path.substr(0, at + 1);
    if (at == 0 || (at == 2 && path[1] == ':')) continue;  // "\" or the drive itself
    if (!Exists(level) && _mkdir(level.c_str()) != 0) return false;
  }
  return true;
}

bool IsProcessElevated() {
  Utils::UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated;
}

bool LocateDataFolder(const std::string& exePath, const std::string& appName, std::string& dataDir,
                      std::string& identityPath) {
  return LocateDataFolder(exePath, appName, IsProcessElevated(), dataDir, identityPath);
}

bool LocateDataFolder(const std::string& exePath, const std::string& appName, bool elevated, std::string& dataDir,
                      std::string& identityPath) {
  std::string folder = exePath;
  Slashes(folder);
  folder = folder.substr(0, folder.rfind('\\') + 1);
  const std::string setIni = folder + "Set.ini";
  std::string configured;
  if (Exists(setIni)) {
    configured = ReadIni(setIni, "Install", "PLAnalyticsIni");
    Slashes(configured);
    configured = AcceptedConfiguredPath(configured, elevated);
  }
  const size_t cut = configured.rfind('\\');
  if (!configured.empty() && cut != std::string::npos) {
    identityPath = configured;
    dataDir = configured.substr(0, cut + 1);
    return CreateFolderLevels(dataDir);
  }
  const std::string local = BaseFolder() + "\\PLLocal\\";
  CreateFolderLevels(local);
  dataDir = local + appName + "\\";
  identityPath = dataDir + appName + "_PLSConfigure.ini";
  return CreateFolderLevels(dataDir);
}

void SaveIdentity(const std::string& identityPath, const Identity& identity) {
  if (identityPath.empty()) return;  // init stopped before the path was known: nothing to write into
  const char* f = identityPath.c_str();
  WritePrivateProfileStringA(kBase, "DistinctId", identity.distinctId.c_str(), f);
  WritePrivateProfileStringA(kBase, "PrimaryDistinctId", identity.primaryDistinctId.c_str(), f);
  WritePrivateProfileStringA(kBase, "UserId", identity.userId.c_str(), f);
  WritePrivateProfileStringA(kBase, "UserVipLevel", std::to_string(identity.userVipLevel).c_str(), f);
  WritePrivateProfileStringA(kBase, "URL", identity.storedUrl.c_str(), f);
  WritePrivateProfileStringA(kBase, "isLogined", identity.isLogined ? "OK" : "NG", f);
}

void LoadIdentity(const std::string& identityPath, Identity& identity) {
  identity = Identity();
  if (Exists(identityPath)) {
    identity.distinctId = ReadId(identityPath, "DistinctId");
    identity.primaryDistinctId = ReadId(identityPath, "PrimaryDistinctId");
    if (identity.primaryDistinctId.empty()) identity.primaryDistinctId = identity.distinctId;
    identity.userId = ReadId(identityPath, "UserId");
    identity.userVipLevel = GetPrivateProfileIntA(kBase, "UserVipLevel", 0, identityPath.c_str());
    identity.isLogined = ReadIni(identityPath, kBase, "isLogined") == "OK";
    identity.storedUrl = ReadIni(identityPath, kBase, "URL");
  }
  if (identity.distinctId.empty()) {
    identity.distinctId = NewDistinctId();
    // A file whose ids were unusable keeps its endpoint, so reconciling
    // would not issue a primary id: this one becomes it.
    if (identity.primaryDistinctId.empty() && !identity.storedUrl.empty())
      identity.primaryDistinctId = identity.distinctId;
    SaveIdentity(identityPath, identity);
  }
}

void ReconcileIdentity(const std::string& identityPath, const std::string& serverUrl, Identity& identity) {
  if (identity.storedUrl == serverUrl && !identity.distinctId.empty()) return;
  identity.userId.clear();
  identity.isLogined = false;
  if (identity.primaryDistinctId.empty()) {
    identity.distinctId = NewDistinctId();
    identity.primaryDistinctId = identity.distinctId;
  } else {
    identity.distinctId = identity.primaryDistinctId;
  }
  identity.storedUrl = serverUrl;
  SaveIdentity(identityPath, identity);
}

std::string NewDistinctId(CreateGuidFunction createGuid) {
  GUID g;
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (SUCCEEDED(createGuid(&g))) {
      // The C runtime's printf (as every decimal or hexadecimal text of the
      // exe), not mingw's C99 one; it leaves a text that does not fit
      // unterminated, hence the zeroed buffers.
      char buf[40] = {};
      _snprintf(buf, sizeof buf - 1, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
      return buf;
    }
  }
  static std::mutex lock;
  static std::mt19937 generator;  // default seed 5489: the same fallback sequence in every process
  std::uniform_int_distribution<int> draw(0, 2147483646);
  std::lock_guard<std::mutex> hold(lock);
  unsigned d[9];
  for (int i = 8; i >= 1; --i) d[i] = static_cast<unsigned>(draw(generator));  // last field first
  char buf[96] = {};
  _snprintf(buf, sizeof buf - 1, "%x%x-%x-%x-%x-%x%x%x", d[1], d[2], d[3], (d[4] & 0xFFF) | 0x4000,
            (d[5] % 0x3FFF) + 0x8000, d[6], d[7], d[8]);
  return buf;
}

std::string OsVersionText(bool available, unsigned major, unsigned minor, unsigned build, bool is64Bit, bool serverR2) {
  if (!available || major <= 4) return "XP-";
  if (major == 5) {
    if (minor == 0) return "2K";
    if (minor == 1) return "XP";
    if (minor == 2) return is64Bit ? "XP64" : serverR2 ? "Server 2003 R2" : "Server 2003";
    return "XP+";
  }
  if (major == 6) {
    if (minor == 0) return is64Bit ? "Vista64" : "Vista";
    if (minor == 1) return is64Bit ? "7" : "7-32";
    if (minor == 2) return is64Bit ? "8" : "8-32";
    return minor == 3 ? "8.1" : "8.1+";
  }
  if (major == 10) {
    if (minor == 0) return build < 22000 ? "10" : "11";
    return "11+";
  }
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

std::string OsName() { return "Windows"; }

std::string OsVersion() {
  const VersionNumbers v = ReadVersionNumbers();
  return OsVersionText(v.available, v.major, v.minor, v.build, Is64BitSystem(), GetSystemMetrics(SM_SERVERR2) != 0);
}

bool Is64BitSystem() {
#ifdef _WIN64
  return true;  // a 64-bit process runs only on 64-bit Windows
#else
  using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  auto fn =
      reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process")));
  BOOL wow = FALSE;
  if (fn && fn(GetCurrentProcess(), &wow)) return wow != FALSE;
  SYSTEM_INFO info = {};
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
         info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
#endif
}

std::string UserAgent() {
  return "Mozilla/5.0(" + OsName() + " " + OsVersion() + "; Win" + (Is64BitSystem() ? "64;)" : "32;)");
}

}  // namespace pelan::tracking
