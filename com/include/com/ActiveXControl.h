// The stock interfaces of a windowed ActiveX control, written once.
//
// A control class derives from ObjectRoot, from ActiveXControl and from its
// own interfaces, creates its window in CreateControlWindow, and lists the
// stock interfaces in its map with COM_ACTIVEX_CONTROL_ENTRIES(Class):
//
//   class Clock : public com::ObjectRoot, public com::ActiveXControl, public IClock {
//    public:
//     Clock() : ActiveXControl(CLSID_Clock) {}
//     static const com::InterfaceEntry* interfaceMap() {
//       static const com::InterfaceEntry map[] = {
//           com::entry<Clock, IClock>(), COM_ACTIVEX_CONTROL_ENTRIES(Clock), com::endOfMap()};
//       return map;
//     }
//    protected:
//     HRESULT CreateControlWindow(HWND parent, const RECT& rect, HWND* window) override;
//   };
//
// What a container gets:
// - IOleObject: client site, verbs (show, in-place and UI activation, hide),
//   extent, advise sinks, user type and misc status from the registry.
// - In-place activation with a window of the control's own, a child of the
//   site's window, only: the control never asks for windowless activation,
//   so IOleInPlaceObjectWindowless answers its windowless methods with
//   E_NOTIMPL. IOleInPlaceActiveObject passes keyboard messages for the
//   control's window to IsDialogMessage, so that Tab moves through it.
// - IViewObjectEx: drawing (the window prints itself), view status, hit tests.
// - IPersistStreamInit and IPersistStorage over LoadState/SaveState (the
//   storage keeps the state in a stream "Contents"), IQuickActivate,
//   ISpecifyPropertyPages (none), IDataObject (advise only),
//   IProvideClassInfo2 from the module's type library, IOleControl.
//
// A control is created and used on one apartment thread; nothing here locks.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>

#include "com/ComPtr.h"
#include "com/Object.h"

namespace com {

class ActiveXControl : public IOleObject,
                       public IOleInPlaceObjectWindowless,
                       public IOleInPlaceActiveObject,
                       public IOleControl,
                       public IViewObjectEx,
                       public IPersistStreamInit,
                       public IPersistStorage,
                       public IQuickActivate,
                       public ISpecifyPropertyPages,
                       public IDataObject,
                       public IProvideClassInfo2 {
 public:
  ActiveXControl(const ActiveXControl&) = delete;
  ActiveXControl& operator=(const ActiveXControl&) = delete;

  // The control's window while it is in-place active, else null.
  HWND ControlWindow() const { return window_; }
  const CLSID& ControlClassId() const { return clsid_; }
  bool InPlaceActive() const { return inPlaceActive_; }
  IOleClientSite* ClientSite() const { return clientSite_.get(); }

  // ---- IOleObject ----------------------------------------------------------
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** site) override;
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP Close(DWORD saveOption) override;
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipboardData(DWORD, IDataObject** data) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG message, IOleClientSite* site, LONG index, HWND parent,
                      LPCRECT rect) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
  STDMETHODIMP Update() override { return S_OK; }
  STDMETHODIMP IsUpToDate() override { return S_OK; }
  STDMETHODIMP GetUserClassID(CLSID* clsid) override;
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** advises) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // ---- IOleWindow (of IOleInPlaceObject and IOleInPlaceActiveObject) ------
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // ---- IOleInPlaceObject(Windowless) ---------------------------------------
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override;
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
  STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDropTarget(IDropTarget** target) override;

  // ---- IOleInPlaceActiveObject --------------------------------------------
  STDMETHODIMP TranslateAccelerator(LPMSG message) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

  // ---- IOleControl --------------------------------------------------------
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP OnMnemonic(MSG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnAmbientPropertyChange(DISPID) override { return S_OK; }
  STDMETHODIMP FreezeEvents(BOOL) override { return S_OK; }

  // ---- IViewObject, IViewObject2, IViewObjectEx ---------------------------
  STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                    HDC targetDc, HDC drawDc, LPCRECTL bounds, LPCRECTL windowBounds,
                    BOOL(STDMETHODCALLTYPE* keepGoing)(ULONG_PTR), ULONG_PTR argument) override;
  STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** set) override;
  STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP Unfreeze(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;
  STDMETHODIMP GetRect(DWORD aspect, LPRECTL rect) override;
  STDMETHODIMP GetViewStatus(DWORD* status) override;
  STDMETHODIMP QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG closeHint,
                             DWORD* result) override;
  STDMETHODIMP QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG closeHint,
                            DWORD* result) override;
  STDMETHODIMP GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*, LPSIZEL) override {
    return E_NOTIMPL;
  }

  // ---- IPersist, IPersistStreamInit, IPersistStorage ----------------------
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
  STDMETHODIMP Load(LPSTREAM stream) override;
  STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew() override;
  STDMETHODIMP InitNew(IStorage* storage) override;
  STDMETHODIMP Load(IStorage* storage) override;
  STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) override;
  STDMETHODIMP SaveCompleted(IStorage*) override { return S_OK; }
  STDMETHODIMP HandsOffStorage() override { return S_OK; }

  // ---- IQuickActivate -----------------------------------------------------
  STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override;
  STDMETHODIMP SetContentExtent(LPSIZEL size) override;
  STDMETHODIMP GetContentExtent(LPSIZEL size) override;

  // ---- ISpecifyPropertyPages ----------------------------------------------
  STDMETHODIMP GetPages(CAUUID* pages) override;

  // ---- IDataObject --------------------------------------------------------
  STDMETHODIMP GetData(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC** formats) override;
  STDMETHODIMP DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* cookie) override;
  STDMETHODIMP DUnadvise(DWORD cookie) override;
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA** advises) override;

  // ---- IProvideClassInfo, IProvideClassInfo2 ------------------------------
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

 protected:
  explicit ActiveXControl(const CLSID& clsid);
  virtual ~ActiveXControl();

  // Creates the control's window, a child of parent placed at rect (in the
  // parent's client coordinates), into *window; a failure leaves no window
  // and is what the activation answers.
  virtual HRESULT CreateControlWindow(HWND parent, const RECT& rect, HWND* window) = 0;
  // The control's persistent state; the default has none.
  virtual HRESULT InitNewState() { return S_OK; }
  virtual HRESULT LoadState(IStream*) { return S_OK; }
  virtual HRESULT SaveState(IStream*) { return S_OK; }
  virtual ULONG StateSize() { return 0; }
  // Called after the window was made and shown, and before it is destroyed.
  virtual void OnActivated() {}
  virtual void OnDeactivating() {}

  // Asks the site for the focus and the container's UI activation.
  HRESULT UIActivate();
  // The site's ambient background colour, else COLOR_BTNFACE.
  COLORREF AmbientBackColor();
  void SetDirty(bool dirty) { dirty_ = dirty; }
  // The window proc of the control's window forgets the window at
  // WM_NCDESTROY through this.
  void WindowDestroyed() { window_ = nullptr; }

  IUnknown* Self() { return static_cast<IOleObject*>(this); }

 private:
  HRESULT InPlaceActivate(LONG verb, LPCRECT rect);

  CLSID clsid_;
  HWND window_ = nullptr;
  SIZEL extent_ = {7938, 4233};  // 300 x 160 pixels at 96 dpi, in HIMETRIC
  RECT position_ = {};
  bool inPlaceActive_ = false;
  bool uiActive_ = false;
  bool dirty_ = false;
  ComPtr<IOleClientSite> clientSite_;
  ComPtr<IOleInPlaceSite> inPlaceSite_;
  ComPtr<IOleInPlaceFrame> inPlaceFrame_;
  ComPtr<IOleInPlaceUIWindow> inPlaceDocument_;
  ComPtr<IOleAdviseHolder> oleAdvise_;
  ComPtr<IDataAdviseHolder> dataAdvise_;
  ComPtr<IAdviseSink> viewSink_;
  DWORD viewAspects_ = 0;
  DWORD viewFlags_ = 0;
};

}  // namespace com

// The stock interfaces in a control class's interface map.
#define COM_ACTIVEX_CONTROL_ENTRIES(Class)                                                      \
  com::entry<Class, IOleObject>(), com::entry<Class, IOleInPlaceObjectWindowless>(),            \
      com::entry<Class, IOleInPlaceObject, IOleInPlaceObjectWindowless>(),                      \
      com::entry<Class, IOleWindow, IOleInPlaceObjectWindowless>(),                             \
      com::entry<Class, IOleInPlaceActiveObject>(), com::entry<Class, IOleControl>(),           \
      com::entry<Class, IViewObjectEx>(), com::entry<Class, IViewObject2, IViewObjectEx>(),     \
      com::entry<Class, IViewObject, IViewObjectEx>(), com::entry<Class, IPersistStreamInit>(), \
      com::entry<Class, IPersist, IPersistStreamInit>(), com::entry<Class, IPersistStorage>(),  \
      com::entry<Class, IQuickActivate>(), com::entry<Class, ISpecifyPropertyPages>(),          \
      com::entry<Class, IDataObject>(), com::entry<Class, IProvideClassInfo2>(),                \
      com::entry<Class, IProvideClassInfo, IProvideClassInfo2>()
