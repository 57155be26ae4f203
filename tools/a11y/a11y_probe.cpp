// Reads a window the way a screen reader does (MSAA, from another process):
//   ov_a11y_probe list <window title> <Windows pid, or 0 for any>
//       one line per child of the window's client object:
//       "<id>|<name>|<role>|<states>|<x>,<y>,<w>,<h>|<default action>|<value>"
//   ov_a11y_probe act <window title> <pid> <child name>
//       accDoDefaultAction on the first child of that name
//   ov_a11y_probe resources <any> <pid>
//       "gdi=<n> user=<n> handles=<n>" of that process (for soaks)
// Exit code 0, or 2 when the window or its object cannot be had, 3 when no
// child has that name.
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <string>

namespace {

struct Found {
  DWORD pid;
  const wchar_t* title;
  HWND window;
};

BOOL CALLBACK Match(HWND window, LPARAM param) {
  auto* f = reinterpret_cast<Found*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t title[256] = {};
  GetWindowTextW(window, title, 256);
  if ((f->pid == 0 || pid == f->pid) && IsWindowVisible(window) && wcscmp(title, f->title) == 0) {
    f->window = window;
    return FALSE;
  }
  return TRUE;
}

std::wstring Take(BSTR text) {
  std::wstring out = text ? text : L"";
  SysFreeString(text);
  return out;
}

const wchar_t* RoleName(long role) {
  switch (role) {
    case ROLE_SYSTEM_PUSHBUTTON:
      return L"pushbutton";
    case ROLE_SYSTEM_CHECKBUTTON:
      return L"checkbutton";
    case ROLE_SYSTEM_RADIOBUTTON:
      return L"radiobutton";
    case ROLE_SYSTEM_LINK:
      return L"link";
    case ROLE_SYSTEM_STATICTEXT:
      return L"statictext";
    case ROLE_SYSTEM_TEXT:
      return L"text";
    case ROLE_SYSTEM_PROGRESSBAR:
      return L"progressbar";
    case ROLE_SYSTEM_CLIENT:
      return L"client";
    default:
      return L"other";
  }
}

std::wstring StateNames(long state) {
  static const struct {
    long flag;
    const wchar_t* name;
  } kNames[] = {{STATE_SYSTEM_FOCUSED, L"focused"},   {STATE_SYSTEM_FOCUSABLE, L"focusable"},
                {STATE_SYSTEM_CHECKED, L"checked"},   {STATE_SYSTEM_UNAVAILABLE, L"unavailable"},
                {STATE_SYSTEM_DEFAULT, L"default"},   {STATE_SYSTEM_LINKED, L"linked"},
                {STATE_SYSTEM_READONLY, L"readonly"}, {STATE_SYSTEM_INVISIBLE, L"invisible"}};
  std::wstring out;
  for (const auto& n : kNames)
    if (state & n.flag) out += (out.empty() ? L"" : L",") + std::wstring(n.name);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: ov_a11y_probe list|act <title> <pid> [name]\n");
    return 64;
  }
  const std::wstring command = argv[1];
  if (command == L"resources") {
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(_wtoi(argv[3])));
    if (!process) return 2;
    DWORD handles = 0;
    GetProcessHandleCount(process, &handles);
    printf("gdi=%lu user=%lu handles=%lu\n", GetGuiResources(process, GR_GDIOBJECTS),
           GetGuiResources(process, GR_USEROBJECTS), handles);
    CloseHandle(process);
    return 0;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Found f{static_cast<DWORD>(_wtoi(argv[3])), argv[2], nullptr};
  EnumWindows(Match, reinterpret_cast<LPARAM>(&f));
  if (!f.window) {
    fprintf(stderr, "no visible window of that title and process\n");
    return 2;
  }
  IAccessible* root = nullptr;
  const HRESULT got =
      AccessibleObjectFromWindow(f.window, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&root));
  if (FAILED(got) || !root) {
    fprintf(stderr, "AccessibleObjectFromWindow: 0x%08lx\n", static_cast<unsigned long>(got));
    return 2;
  }
  long count = 0;
  root->get_accChildCount(&count);
  int status = command == L"act" ? 3 : 0;
  for (long id = 1; id <= count; ++id) {
    VARIANT child;
    VariantInit(&child);
    child.vt = VT_I4;
    child.lVal = id;
    BSTR name = nullptr, action = nullptr, value = nullptr;
    root->get_accName(child, &name);
    const std::wstring childName = Take(name);
    if (command == L"act") {
      if (argc > 4 && childName == argv[4]) {
        const HRESULT done = root->accDoDefaultAction(child);
        status = SUCCEEDED(done) ? 0 : 4;
        break;
      }
      continue;
    }
    VARIANT role, state;
    VariantInit(&role);
    VariantInit(&state);
    root->get_accRole(child, &role);
    root->get_accState(child, &state);
    long x = 0, y = 0, w = 0, h = 0;
    root->accLocation(&x, &y, &w, &h, child);
    root->get_accDefaultAction(child, &action);
    root->get_accValue(child, &value);
    const std::wstring line =
        std::to_wstring(id) + L"|" + childName + L"|" + (role.vt == VT_I4 ? RoleName(role.lVal) : L"?") + L"|" +
        (state.vt == VT_I4 ? StateNames(state.lVal) : L"?") + L"|" + std::to_wstring(x) + L"," + std::to_wstring(y) +
        L"," + std::to_wstring(w) + L"," + std::to_wstring(h) + L"|" + Take(action) + L"|" + Take(value);
    // UTF-8, whatever the console's code page.
    char utf8[2048];
    const int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8, sizeof(utf8), nullptr, nullptr);
    if (n > 0) printf("%s\n", utf8);
  }
  root->Release();
  fflush(stdout);
  return status;
}
