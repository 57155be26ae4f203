#include "platform/paths.h"

#include <aclapi.h>
#include <mmsystem.h>
#include <shlwapi.h>

#include <vector>

#include "platform/handles.h"

namespace Utils {

SystemResult SetRegValue(const std::wstring& name, const std::wstring& text) {
  UniqueRegistryKey key;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kProductRegKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  if (status == ERROR_SUCCESS)
    status = RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() * sizeof(wchar_t)));
  return {static_cast<DWORD>(status)};
}

bool GetRegValue(const std::wstring& name, std::wstring& text) {
  UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kProductRegKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
  // (bytes + 1) * 2 zero-filled bytes: room for a terminator even when the
  // stored data has none, whatever its byte count.
  std::vector<BYTE> data((static_cast<size_t>(bytes) + 1) * 2, 0);
  DWORD size = bytes;
  const LSTATUS status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, data.data(), &size);
  if (status != ERROR_SUCCESS) return false;
  text.assign(reinterpret_cast<const wchar_t*>(data.data()));
  return true;
}

std::wstring GetTempWorkFolder() {
  wchar_t temp[MAX_PATH] = {};
  // A longer temp path does not fit: the call then returns the size it
  // needs and leaves the buffer empty, which would make the folder relative
  // to whatever the current directory is.
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) return {};
  std::wstring folder = std::wstring(temp) + kTempWorkFolderName;
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return folder;
  if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return folder;
  return {};
}

namespace {
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
}  // namespace

bool IsFullyQualifiedPath(std::wstring_view path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2])) return true;
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
  const std::wstring_view rest = path.substr(2);
  const size_t serverEnd = rest.find_first_of(L"\\/");
  if (serverEnd == 0 || serverEnd == std::wstring_view::npos) return false;
  // "\\.\" and "\\?\" reach devices and unchecked names, not folders on a share.
  const std::wstring_view server = rest.substr(0, serverEnd);
  if (server == L"." || server == L"?") return false;
  const std::wstring_view share = rest.substr(serverEnd + 1);
  return !share.empty() && !IsSeparator(share[0]);
}

SystemResult CreateDirectories(const std::wstring& path, std::vector<std::wstring>* created) {
  if (path.size() > MAX_PATH) return {ERROR_FILENAME_EXCED_RANGE};
  // The root ("C:\", "\\server\share\") is never created: on a share,
  // "\\server\" is no folder and creating it fails.
  wchar_t whole[MAX_PATH + 1] = {};
  path.copy(whole, MAX_PATH);
  const wchar_t* afterRoot = PathSkipRootW(whole);
  auto ensure = [created](const std::wstring& prefix) {
    wchar_t buffer[MAX_PATH + 1] = {};
    prefix.copy(buffer, MAX_PATH);
    if (PathFileExistsW(buffer)) return SystemResult();
    if (!CreateDirectoryW(buffer, nullptr)) return SystemResult::LastError();
    if (created) created->push_back(prefix.ends_with(L'\\') ? prefix.substr(0, prefix.size() - 1) : prefix);
    return SystemResult();
  };
  size_t pos = afterRoot ? static_cast<size_t>(afterRoot - whole) : 0;
  while (true) {
    const size_t slash = path.find(L'\\', pos);
    if (slash == std::wstring::npos) break;
    if (SystemResult made = ensure(path.substr(0, slash + 1)); !made) return made;
    pos = slash + 1;
  }
  if (pos < path.size()) return ensure(path);
  return {};
}

namespace {

// What the token may do to the object, by the system's access check; every
// right when the check cannot be made, so that doubt never reads as safe.
ACCESS_MASK GrantedTo(HANDLE token, const std::wstring& path) {
  constexpr SECURITY_INFORMATION kParts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  constexpr ACCESS_MASK kUnknown = ~ACCESS_MASK{0};
  DWORD size = 0;
  GetFileSecurityW(path.c_str(), kParts, nullptr, 0, &size);
  if (size == 0) return kUnknown;
  std::vector<BYTE> descriptor(size);
  if (!GetFileSecurityW(path.c_str(), kParts, descriptor.data(), size, &size)) return kUnknown;
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  PRIVILEGE_SET privileges = {};
  DWORD privilegesSize = sizeof(privileges);
  DWORD granted = 0;
  BOOL allowed = FALSE;
  if (!AccessCheck(descriptor.data(), token, MAXIMUM_ALLOWED, &mapping, &privileges, &privilegesSize, &granted,
                   &allowed))
    return kUnknown;
  return allowed ? granted : 0;
}

}  // namespace

bool WritableWithoutAdminRights(const std::wstring& path) {
  UniqueHandle own, restricted, identification;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, own.put())) return true;
  BYTE admins[SECURITY_MAX_SID_SIZE] = {};
  DWORD adminsSize = sizeof(admins);
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize)) return true;
  SID_AND_ATTRIBUTES disabled = {admins, 0};
  if (!CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE | LUA_TOKEN, 1, &disabled, 0, nullptr, 0, nullptr,
                             restricted.put()) ||
      !DuplicateToken(restricted.get(), SecurityIdentification, identification.put()))
    return true;
  wchar_t folder[MAX_PATH + 1] = {};
  path.copy(folder, MAX_PATH);
  PathRemoveFileSpecW(folder);
  // Planting a file needs ADD_FILE; replacing one, DELETE_CHILD; the owner
  // of the descriptor may rewrite it.
  constexpr ACCESS_MASK kFolderWrites = FILE_ADD_FILE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;
  constexpr ACCESS_MASK kFileWrites = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER;
  if (GrantedTo(identification.get(), folder) & kFolderWrites) return true;
  return PathFileExistsW(path.c_str()) && (GrantedTo(identification.get(), path) & kFileWrites) != 0;
}

bool PumpMessages(HWND window) {
  const DWORD start = timeGetTime();
  MSG msg;
  while (!window || IsWindow(window)) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    if (got == -1) return false;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    if (timeGetTime() - start > 100) return true;
  }
  return false;
}

bool IsFile(const std::wstring& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace Utils
