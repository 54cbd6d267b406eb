#include "com/ActiveXControl.h"

#include <olectl.h>

#include "com/Module.h"
#include "com/Variant.h"

namespace com {

ActiveXControl::ActiveXControl(const CLSID& clsid) : clsid_(clsid) {}

ActiveXControl::~ActiveXControl() {
  // A container that released the control without closing it: the window
  // must not outlive the object its procedure reaches.
  if (window_) {
    HWND window = window_;
    window_ = nullptr;
    ::DestroyWindow(window);
  }
}

// ---- IOleObject -------------------------------------------------------------

STDMETHODIMP ActiveXControl::SetClientSite(IOleClientSite* site) {
  clientSite_ = site;
  return S_OK;
}

STDMETHODIMP ActiveXControl::GetClientSite(IOleClientSite** site) {
  return clientSite_.copyTo(site);
}

STDMETHODIMP ActiveXControl::Close(DWORD saveOption) {
  // Hold the object: the container may drop its last reference while the
  // window goes.
  ComPtr<IUnknown> self(Self());
  InPlaceDeactivate();
  if (dirty_ && clientSite_ &&
      (saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE))
    clientSite_->SaveObject();
  if (oleAdvise_) oleAdvise_->SendOnClose();
  inPlaceSite_.reset();
  return S_OK;
}

STDMETHODIMP ActiveXControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND,
                                    LPCRECT rect) {
  return guard([&]() -> HRESULT {
    if (site && !clientSite_) clientSite_ = site;
    switch (verb) {
      case OLEIVERB_PRIMARY:
      case OLEIVERB_UIACTIVATE:
      case OLEIVERB_SHOW:
      case OLEIVERB_INPLACEACTIVATE:
        return InPlaceActivate(verb, rect);
      case OLEIVERB_HIDE:
        UIDeactivate();
        if (window_) ::ShowWindow(window_, SW_HIDE);
        return S_OK;
      case OLEIVERB_OPEN:
      case OLEIVERB_PROPERTIES:
      case OLEIVERB_DISCARDUNDOSTATE:
        return E_NOTIMPL;
      default:
        return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
    }
  });
}

STDMETHODIMP ActiveXControl::EnumVerbs(IEnumOLEVERB** verbs) {
  return ::OleRegEnumVerbs(clsid_, verbs);
}

STDMETHODIMP ActiveXControl::GetUserClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

STDMETHODIMP ActiveXControl::GetUserType(DWORD form, LPOLESTR* type) {
  return ::OleRegGetUserType(clsid_, form, type);
}

STDMETHODIMP ActiveXControl::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  extent_ = *size;
  return S_OK;
}

STDMETHODIMP ActiveXControl::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = extent_;
  return S_OK;
}

STDMETHODIMP ActiveXControl::Advise(IAdviseSink* sink, DWORD* cookie) {
  if (!oleAdvise_) {
    HRESULT hr = ::CreateOleAdviseHolder(oleAdvise_.put());
    if (FAILED(hr)) return hr;
  }
  return oleAdvise_->Advise(sink, cookie);
}

STDMETHODIMP ActiveXControl::Unadvise(DWORD cookie) {
  return oleAdvise_ ? oleAdvise_->Unadvise(cookie) : OLE_E_NOCONNECTION;
}

STDMETHODIMP ActiveXControl::EnumAdvise(IEnumSTATDATA** advises) {
  if (!advises) return E_POINTER;
  *advises = nullptr;
  return oleAdvise_ ? oleAdvise_->EnumAdvise(advises) : E_FAIL;
}

STDMETHODIMP ActiveXControl::GetMiscStatus(DWORD aspect, DWORD* status) {
  return ::OleRegGetMiscStatus(clsid_, aspect, status);
}

// ---- In-place activation ----------------------------------------------------

HRESULT ActiveXControl::InPlaceActivate(LONG verb, LPCRECT) {
  if (!clientSite_) return E_UNEXPECTED;
  if (!inPlaceActive_) {
    ComPtr<IOleInPlaceSite> site;
    HRESULT hr = clientSite_.as(site);
    if (FAILED(hr) || !site) return E_FAIL;
    if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
    // A windowed activation, also through a site that could do without.
    ComPtr<IOleInPlaceSiteEx> siteEx;
    if (SUCCEEDED(site.as(siteEx)) && siteEx) {
      BOOL noRedraw = FALSE;
      hr = siteEx->OnInPlaceActivateEx(&noRedraw, 0);
    } else {
      hr = site->OnInPlaceActivate();
    }
    if (FAILED(hr)) return hr;
    inPlaceSite_ = site;
    inPlaceActive_ = true;

    HWND parent = nullptr;
    hr = site->GetWindow(&parent);
    RECT position = {}, clip = {};
    OLEINPLACEFRAMEINFO frameInfo = {sizeof(frameInfo)};
    if (SUCCEEDED(hr))
      hr = site->GetWindowContext(inPlaceFrame_.put(), inPlaceDocument_.put(), &position, &clip,
                                  &frameInfo);
    if (SUCCEEDED(hr) && !window_) {
      HWND window = nullptr;
      hr = CreateControlWindow(parent, position, &window);
      if (SUCCEEDED(hr) && !window) hr = E_FAIL;
      if (SUCCEEDED(hr)) window_ = window;
    }
    if (FAILED(hr)) {
      InPlaceDeactivate();
      return hr;
    }
    SetObjectRects(&position, &clip);
    ::ShowWindow(window_, SW_SHOWNA);
    OnActivated();
  } else if (window_ && !::IsWindowVisible(window_)) {
    ::ShowWindow(window_, SW_SHOWNA);
  }
  if (verb == OLEIVERB_UIACTIVATE || verb == OLEIVERB_PRIMARY) return UIActivate();
  return S_OK;
}

HRESULT ActiveXControl::UIActivate() {
  if (!inPlaceActive_ || !inPlaceSite_) return E_UNEXPECTED;
  if (!uiActive_) {
    uiActive_ = true;
    inPlaceSite_->OnUIActivate();
    IOleInPlaceActiveObject* active = this;
    if (inPlaceFrame_) inPlaceFrame_->SetActiveObject(active, nullptr);
    if (inPlaceDocument_) inPlaceDocument_->SetActiveObject(active, nullptr);
  }
  if (window_ && !::IsChild(window_, ::GetFocus()) && ::GetFocus() != window_)
    ::SetFocus(window_);
  return S_OK;
}

STDMETHODIMP ActiveXControl::UIDeactivate() {
  if (!uiActive_) return S_OK;
  uiActive_ = false;
  if (inPlaceFrame_) inPlaceFrame_->SetActiveObject(nullptr, nullptr);
  if (inPlaceDocument_) inPlaceDocument_->SetActiveObject(nullptr, nullptr);
  if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
  return S_OK;
}

STDMETHODIMP ActiveXControl::InPlaceDeactivate() {
  if (!inPlaceActive_) return S_OK;
  ComPtr<IUnknown> self(Self());
  UIDeactivate();
  inPlaceActive_ = false;
  if (window_) {
    OnDeactivating();
    HWND window = window_;
    window_ = nullptr;
    ::DestroyWindow(window);
  }
  ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
  inPlaceFrame_.reset();
  inPlaceDocument_.reset();
  if (site) site->OnInPlaceDeactivate();
  return S_OK;
}

STDMETHODIMP ActiveXControl::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = window_;
  return window_ ? S_OK : E_FAIL;
}

STDMETHODIMP ActiveXControl::SetObjectRects(LPCRECT position, LPCRECT) {
  if (!position) return E_POINTER;
  position_ = *position;
  if (window_)
    ::SetWindowPos(window_, nullptr, position->left, position->top, position->right - position->left,
                   position->bottom - position->top, SWP_NOZORDER | SWP_NOACTIVATE);
  return S_OK;
}

STDMETHODIMP ActiveXControl::GetDropTarget(IDropTarget** target) {
  if (target) *target = nullptr;
  return E_NOTIMPL;
}

// Keyboard navigation inside the control's window: the container hands its
// messages here while the control is UI active.
STDMETHODIMP ActiveXControl::TranslateAccelerator(LPMSG message) {
  if (!message || !window_) return S_FALSE;
  if (message->hwnd != window_ && !::IsChild(window_, message->hwnd)) return S_FALSE;
  if (message->message < WM_KEYFIRST || message->message > WM_KEYLAST) return S_FALSE;
  return ::IsDialogMessageW(window_, message) ? S_OK : S_FALSE;
}

// ---- IOleControl ------------------------------------------------------------

STDMETHODIMP ActiveXControl::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  info->cb = sizeof(*info);
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

// ---- IViewObjectEx ----------------------------------------------------------

STDMETHODIMP ActiveXControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC drawDc,
                                  LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                  ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!drawDc) return E_INVALIDARG;
  RECT area = {};
  if (bounds) area = {bounds->left, bounds->top, bounds->right, bounds->bottom};
  else if (window_) ::GetClientRect(window_, &area);
  if (window_) {
    // The window prints itself (and its children) at the bounds' origin.
    POINT old = {};
    ::SetViewportOrgEx(drawDc, area.left, area.top, &old);
    ::SendMessageW(window_, WM_PRINT, reinterpret_cast<WPARAM>(drawDc),
                   PRF_CLIENT | PRF_CHILDREN | PRF_ERASEBKGND | PRF_NONCLIENT);
    ::SetViewportOrgEx(drawDc, old.x, old.y, nullptr);
  } else {
    ::FillRect(drawDc, &area, ::GetSysColorBrush(COLOR_BTNFACE));
  }
  return S_OK;
}

STDMETHODIMP ActiveXControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                         LOGPALETTE** set) {
  if (set) *set = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  viewSink_ = sink;
  viewAspects_ = aspects;
  viewFlags_ = flags;
  return S_OK;
}

STDMETHODIMP ActiveXControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = viewAspects_;
  if (flags) *flags = viewFlags_;
  if (sink) return viewSink_.copyTo(sink);
  return S_OK;
}

STDMETHODIMP ActiveXControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

STDMETHODIMP ActiveXControl::GetRect(DWORD aspect, LPRECTL rect) {
  if (!rect) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *rect = {0, 0, extent_.cx, extent_.cy};
  return S_OK;
}

STDMETHODIMP ActiveXControl::GetViewStatus(DWORD* status) {
  if (!status) return E_POINTER;
  *status = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;
  return S_OK;
}

STDMETHODIMP ActiveXControl::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG,
                                           DWORD* result) {
  if (!bounds || !result) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *result = ::PtInRect(bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
  return S_OK;
}

STDMETHODIMP ActiveXControl::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG,
                                          DWORD* result) {
  if (!bounds || !location || !result) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  RECT common;
  *result = ::IntersectRect(&common, bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
  return S_OK;
}

// ---- Persistence ------------------------------------------------------------

STDMETHODIMP ActiveXControl::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

STDMETHODIMP ActiveXControl::Load(LPSTREAM stream) {
  if (!stream) return E_POINTER;
  return guard([&]() -> HRESULT {
    HRESULT hr = LoadState(stream);
    if (SUCCEEDED(hr)) dirty_ = false;
    return hr;
  });
}

STDMETHODIMP ActiveXControl::Save(LPSTREAM stream, BOOL clearDirty) {
  if (!stream) return E_POINTER;
  return guard([&]() -> HRESULT {
    HRESULT hr = SaveState(stream);
    if (SUCCEEDED(hr) && clearDirty) dirty_ = false;
    return hr;
  });
}

STDMETHODIMP ActiveXControl::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = StateSize();
  return S_OK;
}

STDMETHODIMP ActiveXControl::InitNew() {
  return guard([&] { return InitNewState(); });
}

STDMETHODIMP ActiveXControl::InitNew(IStorage* storage) {
  if (!storage) return E_POINTER;
  return InitNew();
}

namespace {
const wchar_t kContentsStream[] = L"Contents";
}

STDMETHODIMP ActiveXControl::Load(IStorage* storage) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> stream;
  HRESULT hr = storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                   stream.put());
  if (FAILED(hr)) return hr;
  return Load(stream.get());
}

STDMETHODIMP ActiveXControl::Save(IStorage* storage, BOOL) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> stream;
  HRESULT hr = storage->CreateStream(kContentsStream, STGM_WRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE,
                                     0, 0, stream.put());
  if (FAILED(hr)) return hr;
  return Save(stream.get(), TRUE);
}

// ---- IQuickActivate ---------------------------------------------------------

STDMETHODIMP ActiveXControl::QuickActivate(QACONTAINER* container, QACONTROL* control) {
  if (!container || !control) return E_POINTER;
  if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL))
    return E_INVALIDARG;
  HRESULT hr = SetClientSite(container->pClientSite);
  if (FAILED(hr)) return hr;
  if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
  control->dwMiscStatus = 0;
  GetMiscStatus(DVASPECT_CONTENT, &control->dwMiscStatus);
  GetViewStatus(&control->dwViewStatus);
  control->dwEventCookie = 0;
  control->dwPropNotifyCookie = 0;
  control->dwPointerActivationPolicy = 0;
  return S_OK;
}

STDMETHODIMP ActiveXControl::SetContentExtent(LPSIZEL size) {
  return SetExtent(DVASPECT_CONTENT, size);
}

STDMETHODIMP ActiveXControl::GetContentExtent(LPSIZEL size) {
  return GetExtent(DVASPECT_CONTENT, size);
}

// ---- ISpecifyPropertyPages ------------------------------------------------

STDMETHODIMP ActiveXControl::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

// ---- IDataObject ------------------------------------------------------------

STDMETHODIMP ActiveXControl::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
  if (out) out->ptd = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::EnumFormatEtc(DWORD, IEnumFORMATETC** formats) {
  if (formats) *formats = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP ActiveXControl::DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink,
                                     DWORD* cookie) {
  if (!dataAdvise_) {
    HRESULT hr = ::CreateDataAdviseHolder(dataAdvise_.put());
    if (FAILED(hr)) return hr;
  }
  return dataAdvise_->Advise(static_cast<IDataObject*>(this), format, flags, sink, cookie);
}

STDMETHODIMP ActiveXControl::DUnadvise(DWORD cookie) {
  return dataAdvise_ ? dataAdvise_->Unadvise(cookie) : OLE_E_NOCONNECTION;
}

STDMETHODIMP ActiveXControl::EnumDAdvise(IEnumSTATDATA** advises) {
  if (!advises) return E_POINTER;
  *advises = nullptr;
  return dataAdvise_ ? dataAdvise_->EnumAdvise(advises) : E_FAIL;
}

// ---- IProvideClassInfo2 -----------------------------------------------------

STDMETHODIMP ActiveXControl::GetClassInfo(ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  return module().typeInfo(clsid_, info);
}

STDMETHODIMP ActiveXControl::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  *guid = GUID_NULL;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
  return E_FAIL;  // the controls raise no events
}

// ---- Ambient properties -----------------------------------------------------

COLORREF ActiveXControl::AmbientBackColor() {
  ComPtr<IDispatch> ambient;
  if (clientSite_ && SUCCEEDED(clientSite_.as(ambient)) && ambient) {
    DISPPARAMS none = {};
    Variant value;
    if (SUCCEEDED(ambient->Invoke(DISPID_AMBIENT_BACKCOLOR, IID_NULL, LOCALE_USER_DEFAULT,
                                  DISPATCH_PROPERTYGET, &none, value.put(), nullptr, nullptr)) &&
        SUCCEEDED(value.changeType(VT_I4))) {
      COLORREF colour = 0;
      if (SUCCEEDED(::OleTranslateColor(static_cast<OLE_COLOR>(V_I4(value.get())), nullptr, &colour)))
        return colour;
    }
  }
  return ::GetSysColor(COLOR_BTNFACE);
}

}  // namespace com
