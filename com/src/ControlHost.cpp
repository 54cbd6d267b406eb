#include "com/ControlHost.h"

#include <oleidl.h>
#include <ocidl.h>

#include <string>

#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Module.h"
#include "com/Object.h"
#include "win32/callback_guard.h"

namespace com {

const wchar_t kControlHostClass[] = L"ComControlHost";

namespace {

// Answers the hosted control: lParam is an IUnknown** that receives a new
// reference; the result is 1 when it did.
UINT GetControlMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"ComControlHost.GetControl");
  return message;
}

LONG& RegistrationCount() {
  static LONG count = 0;
  return count;
}

// The site of one host window: client site, in-place site and frame (the
// host window itself), control site.
class ControlSite : public ObjectRoot,
                    public IOleClientSite,
                    public IOleInPlaceSite,
                    public IOleInPlaceFrame,
                    public IOleControlSite {
 public:
  static const InterfaceEntry* interfaceMap() {
    static const InterfaceEntry map[] = {
        entry<ControlSite, IOleClientSite>(),
        entry<ControlSite, IOleInPlaceSite>(),
        entry<ControlSite, IOleWindow, IOleInPlaceSite>(),
        entry<ControlSite, IOleInPlaceFrame>(),
        entry<ControlSite, IOleInPlaceUIWindow, IOleInPlaceFrame>(),
        entry<ControlSite, IOleControlSite>(),
        endOfMap()};
    return map;
  }

  void Bind(HWND host) { host_ = host; }

  HRESULT Attach(IOleObject* control, IStream* state) {
    control_ = control;
    DWORD misc = 0;
    control->GetMiscStatus(DVASPECT_CONTENT, &misc);
    IOleClientSite* site = this;
    const bool siteFirst = (misc & OLEMISC_SETCLIENTSITEFIRST) != 0;
    HRESULT hr = S_OK;
    if (siteFirst) hr = control->SetClientSite(site);
    if (FAILED(hr)) return hr;
    ComPtr<IPersistStreamInit> persist;
    if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit, persist.putVoid())) && persist) {
      hr = state ? persist->Load(state) : persist->InitNew();
      if (FAILED(hr)) return hr;
    }
    if (!siteFirst) hr = control->SetClientSite(site);
    if (FAILED(hr)) return hr;

    RECT client = {};
    ::GetClientRect(host_, &client);
    HDC screen = ::GetDC(host_);
    const int dpiX = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
    const int dpiY = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(host_, screen);
    SIZEL extent = {::MulDiv(client.right, 2540, dpiX), ::MulDiv(client.bottom, 2540, dpiY)};
    control->SetExtent(DVASPECT_CONTENT, &extent);
    return control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, host_, &client);
  }

  // The host window goes: the control closes and loses its site.
  void Detach() {
    ComPtr<IOleObject> control = std::move(control_);
    inPlaceObject_.reset();
    if (!control) return;
    control->Close(OLECLOSE_NOSAVE);
    control->SetClientSite(nullptr);
  }

  HRESULT Control(IUnknown** out) {
    if (!control_) return E_FAIL;
    return control_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
  }

  void Resize(int width, int height) {
    if (!inPlaceObject_) return;
    RECT area = {0, 0, width, height};
    inPlaceObject_->SetObjectRects(&area, &area);
  }

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
    *window = host_;
    return host_ ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return host_ ? S_OK : S_FALSE; }
  STDMETHODIMP OnInPlaceActivate() override {
    if (control_) control_->QueryInterface(IID_IOleInPlaceObject, inPlaceObject_.putVoid());
    return S_OK;
  }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (!frame || !document || !position || !clip) return E_POINTER;
    *frame = this;
    (*frame)->AddRef();
    *document = nullptr;
    ::GetClientRect(host_, position);
    *clip = *position;
    if (info) {
      info->fMDIApp = FALSE;
      info->hwndFrame = ::GetAncestor(host_, GA_ROOT);
      info->haccel = nullptr;
      info->cAccelEntries = 0;
    }
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override {
    inPlaceObject_.reset();
    return S_OK;
  }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT position) override {
    if (!position) return E_POINTER;
    if (inPlaceObject_) inPlaceObject_->SetObjectRects(position, position);
    return S_OK;
  }

  // IOleInPlaceUIWindow, IOleInPlaceFrame: the dialog has no menus, tool
  // bars or status bar to share.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IOleControlSite
  STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
  STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
  STDMETHODIMP GetExtendedControl(IDispatch** control) override {
    if (control) *control = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
  STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
  STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

 private:
  HWND host_ = nullptr;
  ComPtr<IOleObject> control_;
  ComPtr<IOleInPlaceObject> inPlaceObject_;
};

// The window holds one reference on its site (GWLP_USERDATA).
ControlSite* SiteOf(HWND host) {
  return reinterpret_cast<ControlSite*>(::GetWindowLongPtrW(host, GWLP_USERDATA));
}

LRESULT HandleHostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) {
    // Tab moves into the hosted control's own items.
    ::SetWindowLongPtrW(window, GWL_EXSTYLE,
                        ::GetWindowLongPtrW(window, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    return 0;
  }
  if (message == WM_DESTROY) {
    if (ControlSite* site = SiteOf(window)) {
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      site->Detach();
      static_cast<IOleClientSite*>(site)->Release();
    }
    return 0;
  }
  if (message == WM_SIZE) {
    if (ControlSite* site = SiteOf(window)) site->Resize(LOWORD(lParam), HIWORD(lParam));
    return 0;
  }
  if (message == WM_SETFOCUS) {
    if (HWND child = ::GetWindow(window, GW_CHILD)) ::SetFocus(child);
    return 0;
  }
  if (message == GetControlMessage()) {
    auto* out = reinterpret_cast<IUnknown**>(lParam);
    ControlSite* site = SiteOf(window);
    return out && site && SUCCEEDED(site->Control(out)) ? 1 : 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return win32::guard(LRESULT{0}, [&] { return HandleHostMessage(window, message, wParam, lParam); });
}

}  // namespace

ControlHostClass::ControlHostClass() {
  LONG& count = RegistrationCount();
  if (count == 0) {
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = &HostWindowProc;
    wc.hInstance = module().instance();
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kControlHostClass;
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return;
  }
  ++count;
  registered_ = true;
}

ControlHostClass::~ControlHostClass() {
  if (!registered_) return;
  if (--RegistrationCount() == 0) ::UnregisterClassW(kControlHostClass, module().instance());
}

HRESULT CreateHostedControl(HWND host, IStream* state) {
  if (!host || !::IsWindow(host)) return E_INVALIDARG;
  return guard([&]() -> HRESULT {
    wchar_t className[64] = {};
    ::GetClassNameW(host, className, 64);
    if (std::wstring(className) != kControlHostClass) return E_INVALIDARG;
    if (SiteOf(host)) return E_UNEXPECTED;  // holds one already

    const int length = ::GetWindowTextLengthW(host);
    std::wstring name(static_cast<size_t>(length) + 1, L'\0');
    ::GetWindowTextW(host, &name[0], length + 1);
    name.resize(static_cast<size_t>(length));
    CLSID clsid = {};
    HRESULT hr = ::CLSIDFromString(name.c_str(), &clsid);
    if (FAILED(hr)) hr = ::CLSIDFromProgID(name.c_str(), &clsid);
    if (FAILED(hr)) return hr;

    ComPtr<IOleObject> control;
    hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, control.putVoid());
    if (FAILED(hr)) return hr;
    ComObject<ControlSite>* site = nullptr;
    hr = ComObject<ControlSite>::create(&site);
    if (FAILED(hr)) return hr;
    site->Bind(host);
    // The window's reference, given back at WM_DESTROY.
    ::SetWindowLongPtrW(host, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(site));
    hr = site->Attach(control.get(), state);
    if (FAILED(hr)) {
      ::SetWindowLongPtrW(host, GWLP_USERDATA, 0);
      site->Detach();
      site->Release();
    }
    return hr;
  });
}

HRESULT GetHostedControl(HWND host, IUnknown** control) {
  if (!control) return E_POINTER;
  *control = nullptr;
  if (!host || !::IsWindow(host)) return E_FAIL;
  if (!::SendMessageW(host, GetControlMessage(), 0, reinterpret_cast<LPARAM>(control)) || !*control)
    return E_FAIL;
  return S_OK;
}

}  // namespace com
