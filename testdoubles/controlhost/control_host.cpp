#include "control_host.h"

#include <commctrl.h>
#include <ocidl.h>
#include <oleidl.h>

#include "com/Object.h"

namespace control_host {

namespace {

using AxWinInit = BOOL(WINAPI*)();
using AxCreateControl = HRESULT(WINAPI*)(LPCOLESTR, HWND, IStream*, IUnknown**);
using AxAttachControl = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
using AxGetControl = HRESULT(WINAPI*)(HWND, IUnknown**);

struct Atl {
  AxWinInit init = nullptr;
  AxCreateControl create = nullptr;
  AxAttachControl attach = nullptr;
  AxGetControl get = nullptr;
};

// The platform's control hosting (atl.dll from the system folder).
const Atl& AtlHosting() {
  static Atl atl = [] {
    Atl entries;
    HMODULE module = ::LoadLibraryExW(L"atl.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) return entries;
    entries.init = reinterpret_cast<AxWinInit>(reinterpret_cast<void*>(::GetProcAddress(module, "AtlAxWinInit")));
    entries.create =
        reinterpret_cast<AxCreateControl>(reinterpret_cast<void*>(::GetProcAddress(module, "AtlAxCreateControl")));
    entries.attach =
        reinterpret_cast<AxAttachControl>(reinterpret_cast<void*>(::GetProcAddress(module, "AtlAxAttachControl")));
    entries.get = reinterpret_cast<AxGetControl>(reinterpret_cast<void*>(::GetProcAddress(module, "AtlAxGetControl")));
    if (entries.init && !entries.init()) entries = Atl();
    return entries;
  }();
  return atl;
}

const wchar_t kFrameClass[] = L"ControlHostFrame";
const wchar_t kOwnSiteClass[] = L"ControlHostOwnSite";

// The double's own site in the hosting window: what atl.dll's site does
// (client site, in-place site, the frame), and it keeps the object the
// control names as UI active, so that the frame can route keys to it.
class FrameSite : public com::ObjectRoot,
                  public IOleClientSite,
                  public IOleInPlaceSite,
                  public IOleInPlaceFrame {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<FrameSite, IOleClientSite>(),
        com::entry<FrameSite, IOleInPlaceSite>(),
        com::entry<FrameSite, IOleWindow, IOleInPlaceSite>(),
        com::entry<FrameSite, IOleInPlaceFrame>(),
        com::entry<FrameSite, IOleInPlaceUIWindow, IOleInPlaceFrame>(),
        com::endOfMap()};
    return map;
  }

  // Sites the control in window and activates it in place there; initNew
  // for a control made here (atl.dll's order: InitNew, then the site).
  HRESULT Attach(HWND window, IUnknown* object, bool initNew) {
    window_ = window;
    HRESULT hr = object->QueryInterface(IID_IOleObject, control_.putVoid());
    if (FAILED(hr)) return hr;
    if (initNew) {
      com::ComPtr<IPersistStreamInit> persist;
      if (SUCCEEDED(control_.as(persist)) && persist) {
        hr = persist->InitNew();
        if (FAILED(hr)) return hr;
      }
    }
    hr = control_->SetClientSite(this);
    if (FAILED(hr)) return hr;
    RECT client = {};
    ::GetClientRect(window_, &client);
    SetExtent(client.right, client.bottom);
    return control_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, window_, &client);
  }

  // The hosting window goes: the control closes and loses its site.
  void Detach() {
    active_.reset();
    inPlace_.reset();
    com::ComPtr<IOleObject> control = std::move(control_);
    if (!control) return;
    control->Close(OLECLOSE_NOSAVE);
    control->SetClientSite(nullptr);
  }

  void Resize(int width, int height) {
    if (!control_) return;
    SetExtent(width, height);
    RECT area = {0, 0, width, height};
    if (inPlace_) inPlace_->SetObjectRects(&area, &area);
  }

  com::ComPtr<IOleInPlaceActiveObject> Active() const { return active_; }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return S_OK; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** container) override {
    if (container) *container = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow
  STDMETHODIMP GetWindow(HWND* window) override {
    if (!window) return E_POINTER;
    *window = window_;
    return window_ ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return window_ ? S_OK : S_FALSE; }
  STDMETHODIMP OnInPlaceActivate() override {
    if (control_) control_.as(inPlace_);
    return S_OK;
  }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (!frame || !document || !position || !clip) return E_POINTER;
    *frame = this;
    (*frame)->AddRef();
    *document = nullptr;
    ::GetClientRect(window_, position);
    *clip = *position;
    if (info) {
      info->fMDIApp = FALSE;
      info->hwndFrame = ::GetAncestor(window_, GA_ROOT);
      info->haccel = nullptr;
      info->cAccelEntries = 0;
    }
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override {
    inPlace_.reset();
    active_.reset();
    return S_OK;
  }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT position) override {
    if (!position) return E_POINTER;
    if (inPlace_) inPlace_->SetObjectRects(position, position);
    return S_OK;
  }

  // IOleInPlaceUIWindow, IOleInPlaceFrame
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) override {
    active_ = active;
    return S_OK;
  }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

 private:
  void SetExtent(int width, int height) {
    HDC screen = ::GetDC(window_);
    const int dpiX = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
    const int dpiY = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(window_, screen);
    SIZEL extent = {::MulDiv(width, 2540, dpiX), ::MulDiv(height, 2540, dpiY)};
    control_->SetExtent(DVASPECT_CONTENT, &extent);
  }

  HWND window_ = nullptr;
  com::ComPtr<IOleObject> control_;
  com::ComPtr<IOleInPlaceObject> inPlace_;
  com::ComPtr<IOleInPlaceActiveObject> active_;
};

// The hosting window of the own site holds one reference on it
// (GWLP_USERDATA), given back when it goes.
FrameSite* OwnSiteOf(HWND window) {
  return window ? reinterpret_cast<FrameSite*>(::GetWindowLongPtrW(window, GWLP_USERDATA)) : nullptr;
}

LRESULT CALLBACK OwnSiteProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      if (FrameSite* site = OwnSiteOf(window)) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        site->Detach();
        static_cast<IOleClientSite*>(site)->Release();
      }
      return 0;
    case WM_SIZE:
      if (FrameSite* site = OwnSiteOf(window)) site->Resize(LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_SETFOCUS:
      if (HWND child = ::GetWindow(window, GW_CHILD)) ::SetFocus(child);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

// A new site in the hosting window, which holds it.
HRESULT SiteInWindow(HWND window, IUnknown* control, bool initNew) {
  com::ComObject<FrameSite>* site = nullptr;
  HRESULT hr = com::ComObject<FrameSite>::create(&site);
  if (FAILED(hr)) return hr;
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(site));
  return site->Attach(window, control, initNew);
}
// Posted to the frame by postClick: wParam is the item id.
const UINT kPostedClick = WM_APP + 0x51;
// Posted to the frame by postCall: runs the first waiting call.
const UINT kPostedCall = WM_APP + 0x52;

}  // namespace

LRESULT CALLBACK HostedControl::FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kPostedClick) {
    // The frame lives no longer than its host object (close destroys it).
    if (auto* host = reinterpret_cast<HostedControl*>(::GetWindowLongPtrW(window, GWLP_USERDATA)))
      host->click(static_cast<UINT>(wParam));
    return 0;
  }
  if (message == kPostedCall) {
    auto* host = reinterpret_cast<HostedControl*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!host || host->posted_.empty()) return 0;
    const std::function<void()> call = std::move(host->posted_.front());
    host->posted_.pop_front();
    call();  // may close the host
    return 0;
  }
  if (message == WM_SIZE) {
    if (HWND host = ::GetWindow(window, GW_CHILD))
      ::MoveWindow(host, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

HRESULT HostedControl::makeFrame(const wchar_t* caption, int width, int height) {
  if (!ownSite_ && !AtlHosting().init) return E_NOTIMPL;
  WNDCLASSEXW wc = {sizeof(wc)};
  wc.lpfnWndProc = &FrameProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kFrameClass;
  ::RegisterClassExW(&wc);
  WNDCLASSEXW site = {sizeof(site)};
  site.lpfnWndProc = &OwnSiteProc;
  site.hInstance = ::GetModuleHandleW(nullptr);
  site.lpszClassName = kOwnSiteClass;
  ::RegisterClassExW(&site);
  RECT outer = {0, 0, width, height};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  ::AdjustWindowRect(&outer, style, FALSE);
  frame_ = ::CreateWindowExW(0, kFrameClass, caption, style, 20, 20, outer.right - outer.left,
                             outer.bottom - outer.top, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (!frame_) return HRESULT_FROM_WIN32(::GetLastError());
  ::SetWindowLongPtrW(frame_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  // Keys move between the items of the control inside the own site's window.
  host_ = ::CreateWindowExW(ownSite_ ? WS_EX_CONTROLPARENT : 0, ownSite_ ? kOwnSiteClass : L"AtlAxWin", L"",
                            WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width, height, frame_, nullptr,
                            ::GetModuleHandleW(nullptr), nullptr);
  if (!host_) return HRESULT_FROM_WIN32(::GetLastError());
  ::ShowWindow(frame_, SW_SHOWNOACTIVATE);
  return S_OK;
}

HRESULT HostedControl::create(const wchar_t* progId, const wchar_t* caption, int width, int height) {
  HRESULT hr = makeFrame(caption, width, height);
  if (FAILED(hr)) return hr;
  if (ownSite_) {
    CLSID clsid = {};
    hr = ::CLSIDFromProgID(progId, &clsid);
    if (SUCCEEDED(hr))
      hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, control_.putVoid());
    if (SUCCEEDED(hr)) hr = SiteInWindow(host_, control_.get(), true);
    pump();
    return hr;
  }
  hr = AtlHosting().create(progId, host_, nullptr, container_.put());
  if (FAILED(hr)) return hr;
  if (!AtlHosting().get) return E_NOTIMPL;
  hr = AtlHosting().get(host_, control_.put());
  pump();
  return hr;
}

HRESULT HostedControl::attach(IUnknown* control, const wchar_t* caption, int width, int height) {
  HRESULT hr = makeFrame(caption, width, height);
  if (FAILED(hr)) return hr;
  control_ = control;
  hr = ownSite_ ? SiteInWindow(host_, control, false) : AtlHosting().attach(control, host_, container_.put());
  pump();
  return hr;
}

HRESULT HostedControl::createInactive(const wchar_t* progId) {
  CLSID clsid = {};
  HRESULT hr = ::CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) return hr;
  return ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, control_.putVoid());
}

HRESULT HostedControl::activate(const wchar_t* caption, int width, int height) {
  if (!control_) return E_UNEXPECTED;
  com::ComPtr<IUnknown> control = control_;
  return attach(control.get(), caption, width, height);
}

HRESULT HostedControl::deactivate() {
  com::ComPtr<IOleInPlaceObject> object;
  if (!control_ || FAILED(control_.as(object)) || !object) return E_NOINTERFACE;
  HRESULT hr = object->InPlaceDeactivate();
  pump();
  return hr;
}

HRESULT HostedControl::reactivate() {
  com::ComPtr<IOleObject> object;
  if (!control_ || FAILED(control_.as(object)) || !object) return E_NOINTERFACE;
  com::ComPtr<IOleClientSite> site;
  object->GetClientSite(site.put());
  RECT place = {};
  ::GetClientRect(host_, &place);
  HRESULT hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.get(), 0, host_, &place);
  pump();
  return hr;
}

HRESULT HostedControl::closeObject() {
  com::ComPtr<IOleObject> object;
  if (!control_ || FAILED(control_.as(object)) || !object) return E_NOINTERFACE;
  HRESULT hr = object->Close(OLECLOSE_NOSAVE);
  pump();
  return hr;
}

HRESULT HostedControl::dropSite() {
  com::ComPtr<IOleObject> object;
  if (!control_ || FAILED(control_.as(object)) || !object) return E_NOINTERFACE;
  HRESULT hr = object->SetClientSite(nullptr);
  pump();
  return hr;
}

void HostedControl::destroyControlWindow() {
  if (HWND window = dialog()) ::DestroyWindow(window);
  pump();
}

void HostedControl::fitToDialog(int width, int height) {
  HWND d = dialog();
  if (!d || !frame_) return;
  RECT size = {0, 0, width, height};
  ::MapDialogRect(d, &size);
  RECT outer = size;
  ::AdjustWindowRect(&outer, static_cast<DWORD>(::GetWindowLongPtrW(frame_, GWL_STYLE)), FALSE);
  ::SetWindowPos(frame_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  pump();
}

HWND HostedControl::dialog() const {
  com::ComPtr<IOleWindow> window;
  HWND handle = nullptr;
  if (control_ && SUCCEEDED(control_.as(window)) && window) window->GetWindow(&handle);
  return handle;
}

HWND HostedControl::item(UINT id) const {
  HWND d = dialog();
  return d ? ::GetDlgItem(d, static_cast<int>(id)) : nullptr;
}

HWND HostedControl::reachable(UINT id) const {
  HWND target = item(id);
  if (!target) return nullptr;
  for (HWND window = target; window; window = ::GetParent(window)) {
    if (!::IsWindowVisible(window) || !::IsWindowEnabled(window)) return nullptr;
    if (window == frame_) return target;
  }
  return nullptr;  // not inside this host's frame
}

bool HostedControl::click(UINT id) {
  HWND button = reachable(id);
  if (!button) return false;
  ::SendMessageW(button, BM_CLICK, 0, 0);
  pump();
  return true;
}

void HostedControl::postClick(UINT id) {
  if (frame_) ::PostMessageW(frame_, kPostedClick, id, 0);
}

void HostedControl::postCall(std::function<void()> call) {
  if (!frame_) return;
  posted_.push_back(std::move(call));
  if (!::PostMessageW(frame_, kPostedCall, 0, 0)) posted_.pop_back();
}

namespace {

// The edit that takes typed text: the item itself, or a combo box's edit.
HWND EditOf(HWND item) {
  wchar_t className[32] = {};
  ::GetClassNameW(item, className, 32);
  if (::_wcsicmp(className, L"ComboBox") == 0) return ::FindWindowExW(item, nullptr, L"Edit", nullptr);
  return item;
}

}  // namespace

bool HostedControl::typeText(UINT id, const wchar_t* text) {
  HWND target = reachable(id);
  HWND edit = target ? EditOf(target) : nullptr;
  if (!edit) return false;
  ::SetFocus(edit);
  ::SendMessageW(edit, EM_SETSEL, 0, -1);
  // An empty text is typed as the Delete key over the selection.
  if (!*text) {
    ::SendMessageW(edit, WM_KEYDOWN, VK_DELETE, 0);
    ::SendMessageW(edit, WM_KEYUP, VK_DELETE, 0xC0000001);
  }
  for (const wchar_t* c = text; *c; ++c) ::SendMessageW(edit, WM_CHAR, *c, 1);
  pump();
  return true;
}

bool HostedControl::paste(UINT id, const wchar_t* text) {
  HWND target = reachable(id);
  HWND edit = target ? EditOf(target) : nullptr;
  if (!edit || !::OpenClipboard(frame_)) return false;
  ::EmptyClipboard();
  const size_t bytes = (::wcslen(text) + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    ::memcpy(::GlobalLock(memory), text, bytes);
    ::GlobalUnlock(memory);
    if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);  // else the clipboard owns it
  }
  ::CloseClipboard();
  ::SetFocus(edit);
  ::SendMessageW(edit, EM_SETSEL, 0, -1);
  ::SendMessageW(edit, WM_PASTE, 0, 0);
  pump();
  return true;
}

bool HostedControl::pressKey(UINT id, UINT virtualKey) {
  HWND target = reachable(id);
  if (!target) return false;
  ::SetFocus(target);
  ::SendMessageW(target, WM_KEYDOWN, virtualKey, 1);
  ::SendMessageW(target, WM_KEYUP, virtualKey, 0xC0000001);
  pump();
  return true;
}

bool HostedControl::clickInto(UINT id) {
  HWND target = reachable(id);
  if (!target) return false;
  ::SendMessageW(target, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(frame_), MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
  ::SetFocus(target);
  pump();
  return true;
}

bool HostedControl::pressKeyInFrame(UINT id, UINT virtualKey) {
  HWND target = reachable(id);
  if (!target) return false;
  ::SetFocus(target);
  MSG messages[2] = {};
  messages[0].message = WM_KEYDOWN;
  messages[0].lParam = 1;
  messages[1].message = WM_KEYUP;
  messages[1].lParam = static_cast<LPARAM>(0xC0000001u);
  for (MSG message : messages) {
    message.hwnd = target;
    message.wParam = virtualKey;
    // The object may go while it handles the key.
    com::ComPtr<IOleInPlaceActiveObject> active = activeObject();
    if (active && active->TranslateAccelerator(&message) == S_OK) continue;
    if (!::IsWindow(message.hwnd)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  pump();
  return true;
}

com::ComPtr<IOleInPlaceActiveObject> HostedControl::activeObject() const {
  FrameSite* site = ownSite_ ? OwnSiteOf(host_) : nullptr;
  return site ? site->Active() : com::ComPtr<IOleInPlaceActiveObject>();
}

bool HostedControl::selectListItem(UINT id, int index) {
  HWND list = reachable(id);
  if (!list) return false;
  wchar_t className[32] = {};
  ::GetClassNameW(list, className, 32);
  const bool combo = ::_wcsicmp(className, L"ComboBox") == 0;
  ::SetFocus(list);
  ::SendMessageW(list, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  ::SendMessageW(::GetParent(list), WM_COMMAND, MAKEWPARAM(id, combo ? CBN_SELCHANGE : LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
  pump();
  return true;
}

bool HostedControl::clickListRow(UINT id, int row) {
  HWND list = reachable(id);
  if (!list) return false;
  ::SetFocus(list);
  LVITEMW state = {};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = 0;
  ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
  if (row >= 0) {
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
  }
  NMITEMACTIVATE click = {};
  click.hdr.hwndFrom = list;
  click.hdr.idFrom = id;
  click.hdr.code = NM_CLICK;
  click.iItem = row;
  ::SendMessageW(::GetParent(list), WM_NOTIFY, id, reinterpret_cast<LPARAM>(&click));
  pump();
  return true;
}

std::wstring HostedControl::text(UINT id) const {
  wchar_t buffer[512] = {};
  if (HWND window = item(id)) ::GetWindowTextW(window, buffer, 512);
  return buffer;
}

bool HostedControl::enabled(UINT id) const {
  HWND window = item(id);
  return window && ::IsWindowEnabled(window);
}

bool HostedControl::visible(UINT id) const {
  HWND window = item(id);
  return window && (::GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE);
}

bool HostedControl::readOnly(UINT id) const {
  HWND window = item(id);
  return window && (::GetWindowLongPtrW(window, GWL_STYLE) & ES_READONLY);
}

void HostedControl::pump() {
  MSG message;
  for (int round = 0; round < 3; ++round) {
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    ::Sleep(0);
  }
}

void HostedControl::close() {
  if (frame_) {
    HWND frame = frame_;
    frame_ = nullptr;
    host_ = nullptr;
    ::DestroyWindow(frame);
  }
  container_.reset();
  control_.reset();
  posted_.clear();
}

}  // namespace control_host
