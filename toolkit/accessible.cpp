#include "toolkit/accessible.h"

#include <oleacc.h>

#include <string>
#include <vector>

#include "platform/strings.h"
#include "toolkit/controls.h"
#include "toolkit/manager.h"

namespace skin {

namespace {

// The controls a reader lists: those a user acts on, and texts.
bool Listed(Control* c) {
  if (!c->IsVisible()) return false;
  if (!c->AccessibleName().empty()) return true;
  if (c->GetInterface(L"Button") || c->GetInterface(L"Edit") || c->GetInterface(L"Progress")) return true;
  const std::wstring_view cls = c->GetClass();
  return (cls == L"Label" || cls == L"Text") && !c->GetText().empty();
}

std::vector<Control*> Children(const PaintManager& manager) {
  std::vector<Control*> all, listed;
  if (manager.GetRoot()) manager.GetRoot()->Collect(&all);
  for (Control* c : all)
    if (Listed(c)) listed.push_back(c);
  return listed;
}

long RoleOf(Control* c) {
  const std::wstring& role = c->AccessibleRole();
  if (role == L"link") return ROLE_SYSTEM_LINK;
  if (role == L"button") return ROLE_SYSTEM_PUSHBUTTON;
  if (role == L"text") return ROLE_SYSTEM_STATICTEXT;
  if (c->GetInterface(L"Progress")) return ROLE_SYSTEM_PROGRESSBAR;
  if (c->GetInterface(L"Edit")) return ROLE_SYSTEM_TEXT;
  if (auto* option = static_cast<Option*>(c->GetInterface(L"Option")))
    return c->GetInterface(L"CheckBox") || option->GetGroup().empty() ? ROLE_SYSTEM_CHECKBUTTON
                                                                      : ROLE_SYSTEM_RADIOBUTTON;
  if (c->GetInterface(L"Button")) return ROLE_SYSTEM_PUSHBUTTON;
  return ROLE_SYSTEM_STATICTEXT;
}

std::wstring NameOf(Control* c) {
  if (!c->AccessibleName().empty()) return c->AccessibleName();
  if (c->GetInterface(L"Edit")) return c->GetToolTip();  // its text is its value
  std::wstring text = c->GetText();
  return text.empty() ? c->GetToolTip() : text;
}

const wchar_t* DefaultActionOf(Control* c) {
  if (!c->GetInterface(L"Button")) return nullptr;
  if (RoleOf(c) == ROLE_SYSTEM_LINK) return L"Jump";
  if (auto* option = static_cast<Option*>(c->GetInterface(L"Option")))
    return option->IsSelected() && RoleOf(c) == ROLE_SYSTEM_CHECKBUTTON ? L"Uncheck" : L"Check";
  return L"Press";
}

HRESULT ToBstr(const std::wstring& text, BSTR* out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (text.empty()) return S_FALSE;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

class WindowAccessible final : public IAccessible {
 public:
  WindowAccessible(PaintManager* manager, HWND window) : manager_(manager), window_(window) {}
  void Disconnect() { manager_ = nullptr; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (id == IID_IUnknown || id == IID_IDispatch || id == IID_IAccessible) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }

  // IDispatch: readers use the vtable; no type information is offered.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    if (!manager_) return RPC_E_DISCONNECTED;
    return CreateStdAccessibleObject(window_, OBJID_WINDOW, IID_IDispatch, reinterpret_cast<void**>(parent));
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    if (!count) return E_POINTER;
    if (!manager_) return RPC_E_DISCONNECTED;
    *count = static_cast<long>(Children(*manager_).size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    Control* c = nullptr;
    const HRESULT found = Find(child, &c);
    return FAILED(found) ? found : S_FALSE;  // simple elements: no objects of their own
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    Control* c = nullptr;
    const HRESULT found = Find(child, &c);
    if (FAILED(found)) return found;
    if (!c) {
      wchar_t title[256] = {};
      GetWindowTextW(window_, title, 256);
      return ToBstr(title, name);
    }
    return ToBstr(NameOf(c), name);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    Control* c = nullptr;
    const HRESULT found = Find(child, &c);
    if (FAILED(found)) return found;
    if (value) *value = nullptr;
    if (!c) return DISP_E_MEMBERNOTFOUND;
    if (auto* bar = static_cast<Progress*>(c->GetInterface(L"Progress"))) {
      const int span = bar->GetMaxValue() - bar->GetMinValue();
      const int percent = span > 0 ? (bar->GetValue() - bar->GetMinValue()) * 100 / span : 0;
      return ToBstr(Utils::DecimalText(percent) + L"%", value);
    }
    if (c->GetInterface(L"Edit")) return ToBstr(c->GetText(), value);
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT, BSTR* out) override { return Empty(out); }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!role) return E_POINTER;
    Control* c = nullptr;
    const HRESULT found = Find(child, &c);
    if (FAILED(found)) return found;
    role->vt = VT_I4;
    role->lVal = c ? RoleOf(c) : ROLE_SYSTEM_CLIENT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    if (!state) return E_POINTER;
    Control* c = nullptr;
    const HRESULT found = Find(child, &c);
    if (FAILED(found)) return found;
    long s = 0;
    if (!c) {
      s = STATE_SYSTEM_FOCUSABLE | (GetForegroundWindow() == window_ ? STATE_SYSTEM_FOCUSED : 0);
    } else {
      if (c->WantsFocus() || c->IsDefault()) s |= STATE_SYSTEM_FOCUSABLE;
      if (manager_->GetFocus() == c) s |= STATE_SYSTEM_FOCUSED;
      if (!c->IsEnabled()) s |= STATE_SYSTEM_UNAVAILABLE;
      const long role = RoleOf(c);
      auto* option = static_cast<Option*>(c->GetInterface(L"Option"));
      if (option && option->IsSelected() && (role == ROLE_SYSTEM_CHECKBUTTON || role == ROLE_SYSTEM_RADIOBUTTON))
        s |= STATE_SYSTEM_CHECKED;
      if (auto* button = static_cast<Button*>(c->GetInterface(L"Button")); button && button->IsHot())
        s |= STATE_SYSTEM_HOTTRACKED;
      if (c->IsDefault() && c->IsEnabled()) s |= STATE_SYSTEM_DEFAULT;
      if (role == ROLE_SYSTEM_LINK) s |= STATE_SYSTEM_LINKED;
      if (!c->GetInterface(L"Button") && !c->GetInterface(L"Edit")) s |= STATE_SYSTEM_READONLY;
    }
    state->vt = VT_I4;
    state->lVal = s;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* out) override { return Empty(out); }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
    if (file) *file = nullptr;
    if (topic) *topic = 0;
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* out) override { return Empty(out); }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    if (!focus) return E_POINTER;
    if (!manager_) return RPC_E_DISCONNECTED;
    focus->vt = VT_EMPTY;
    if (GetForegroundWindow() != window_) return S_FALSE;
    const long id = ChildId(manager_->GetFocus());
    focus->vt = VT_I4;
    focus->lVal = id > 0 ? id : CHILDID_SELF;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    if (selection) selection->vt = VT_EMPTY;
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    Control* c = nullptr;
    const HRESULT found = Find(child, &c);
    if (FAILED(found)) return found;
    const wchar_t* text = c ? DefaultActionOf(c) : nullptr;
    return text ? ToBstr(text, action) : Empty(action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT) override { return DISP_E_MEMBERNOTFOUND; }
  HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* width, long* height, VARIANT child) override {
    if (!x || !y || !width || !height) return E_POINTER;
    Control* c = nullptr;
    const HRESULT found = Find(child, &c);
    if (FAILED(found)) return found;
    RECT r;
    if (c) {
      r = c->GetPos();
      MapWindowPoints(window_, nullptr, reinterpret_cast<POINT*>(&r), 2);
    } else {
      GetWindowRect(window_, &r);
    }
    *x = r.left, *y = r.top, *width = r.right - r.left, *height = r.bottom - r.top;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    if (!end) return E_POINTER;
    end->vt = VT_EMPTY;
    Control* c = nullptr;
    const HRESULT found = Find(start, &c);
    if (FAILED(found)) return found;
    const long count = static_cast<long>(Children(*manager_).size());
    long id = 0;
    if (!c && direction == NAVDIR_FIRSTCHILD) id = count > 0 ? 1 : 0;
    if (!c && direction == NAVDIR_LASTCHILD) id = count;
    if (c && (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN)) id = ChildId(c) < count ? ChildId(c) + 1 : 0;
    if (c && (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP)) id = ChildId(c) - 1;
    if (id <= 0) return S_FALSE;
    end->vt = VT_I4;
    end->lVal = id;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
    if (!child) return E_POINTER;
    if (!manager_) return RPC_E_DISCONNECTED;
    child->vt = VT_EMPTY;
    POINT pt = {x, y};
    RECT window;
    if (!GetWindowRect(window_, &window) || !PtInRect(&window, pt)) return S_FALSE;
    ScreenToClient(window_, &pt);
    long id = CHILDID_SELF;
    for (Control* c : Children(*manager_))
      if (PtInRect(&c->GetPos(), pt)) id = ChildId(c);  // the last listed is the innermost
    child->vt = VT_I4;
    child->lVal = id;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    Control* c = nullptr;
    const HRESULT found = Find(child, &c);
    if (FAILED(found)) return found;
    if (!c || !DefaultActionOf(c)) return DISP_E_MEMBERNOTFOUND;
    if (!c->IsEnabled()) return E_FAIL;
    PostMessageW(window_, kAccessibleActionMessage, reinterpret_cast<WPARAM>(c), 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  long ChildId(const Control* control) const {
    if (!manager_ || !control) return 0;
    const std::vector<Control*> children = Children(*manager_);
    for (size_t i = 0; i < children.size(); ++i)
      if (children[i] == control) return static_cast<long>(i) + 1;
    return 0;
  }

 private:
  ~WindowAccessible() = default;

  // child: CHILDID_SELF (c = null) or a listed child's id.
  HRESULT Find(const VARIANT& child, Control** c) const {
    if (!manager_) return RPC_E_DISCONNECTED;
    if (child.vt != VT_I4) return E_INVALIDARG;
    if (child.lVal == CHILDID_SELF) return S_OK;
    const std::vector<Control*> children = Children(*manager_);
    if (child.lVal < 1 || static_cast<size_t>(child.lVal) > children.size()) return E_INVALIDARG;
    *c = children[static_cast<size_t>(child.lVal) - 1];
    return S_OK;
  }
  static HRESULT Empty(BSTR* out) {
    if (out) *out = nullptr;
    return S_FALSE;
  }

  LONG refs_ = 1;
  PaintManager* manager_;  // null once the window is gone
  HWND window_;
};

AccessibleRoot::~AccessibleRoot() { Disconnect(); }

LRESULT AccessibleRoot::Answer(PaintManager& manager, HWND window, WPARAM wParam, LPARAM lParam) {
  if (static_cast<LONG>(lParam) != static_cast<LONG>(OBJID_CLIENT)) return 0;
  if (!object_) object_ = new WindowAccessible(&manager, window);
  return LresultFromObject(IID_IAccessible, wParam, object_);
}

void AccessibleRoot::Disconnect() {
  if (!object_) return;
  object_->Disconnect();
  object_->Release();
  object_ = nullptr;
}

void AccessibleRoot::Raise(PaintManager& manager, DWORD event, const Control* control) {
  // Texts and the bar change on every progress report: without a reader
  // listening there is nobody to tell, and no reason to walk the tree.
  if (!manager.GetHWND() || !control || !IsWinEventHookInstalled(event)) return;
  const std::vector<Control*> children = Children(manager);
  for (size_t i = 0; i < children.size(); ++i)
    if (children[i] == control) {
      NotifyWinEvent(event, manager.GetHWND(), OBJID_CLIENT, static_cast<LONG>(i) + 1);
      return;
    }
}

}  // namespace skin
