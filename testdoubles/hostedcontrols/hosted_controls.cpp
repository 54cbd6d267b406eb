// hostedctl_double.dll: doubles of the two outside controls that every
// control dialog hosts, registered under their class ids in a test prefix.
//
// - DeviceHeaderControl {793DE791-...}: a parameter control
//   (IParameterControl); shows the values it is given for 990 and 991.
// - FooterBarControl {0B53A1FA-...}: IHostedToolkitControl; shows the DTM
//   state and button set of the last commands.
//
// Both record every call they get (IRecordingControl) and their stored
// state as the first line ("Load 00 00 ..." or "InitNew").
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "com/ActiveXControl.h"
#include "com/Bstr.h"
#include "com/Dispatch.h"
#include "com/Module.h"
#include "com/Object.h"
#include "com/Registration.h"
#include "com/Variant.h"
#include "outside.h"
#include "recording_control.h"
#include "toolkit.h"

namespace {

const wchar_t kWindowClass[] = L"HostedControlDouble";

std::wstring VariantText(const VARIANT& value) {
  com::Variant text;
  if (V_VT(&value) == VT_EMPTY) return L"<empty>";
  if (FAILED(::VariantChangeType(text.get(), const_cast<VARIANT*>(&value), 0, VT_BSTR))) return L"<?>";
  return V_BSTR(text.get()) ? V_BSTR(text.get()) : L"";
}

// What both doubles share: the call log and a window that paints lines.
class RecordingDouble : public com::ActiveXControl, public IRecordingControl {
 public:
  STDMETHODIMP GetCalls(BSTR* calls) override {
    if (!calls) return E_POINTER;
    std::wstring text;
    for (const std::wstring& line : calls_) text += line + L"\n";
    *calls = ::SysAllocString(text.c_str());
    return *calls ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP ClearCalls() override {
    calls_.clear();
    return S_OK;
  }

 protected:
  explicit RecordingDouble(const CLSID& clsid, COLORREF background)
      : ActiveXControl(clsid), background_(background) {}

  void Record(const std::wstring& line) {
    calls_.push_back(line);
    if (HWND window = ControlWindow()) ::InvalidateRect(window, nullptr, TRUE);
  }

  // The lines the window shows.
  virtual std::vector<std::wstring> Lines() = 0;

  HRESULT InitNewState() override {
    Record(L"InitNew");
    return S_OK;
  }
  HRESULT LoadState(IStream* stream) override {
    std::wstring line = L"Load";
    BYTE byte = 0;
    ULONG read = 0;
    while (stream->Read(&byte, 1, &read) == S_OK && read == 1) {
      wchar_t hex[4] = {};
      std::swprintf(hex, 4, L" %02X", byte);
      line += hex;
    }
    Record(line);
    return S_OK;
  }

  HRESULT CreateControlWindow(HWND parent, const RECT& rect, HWND* window) override {
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = com::module().instance();
    wc.lpszClassName = kWindowClass;
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    ::RegisterClassExW(&wc);  // fails harmlessly once registered
    *window = ::CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_CLIPSIBLINGS, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                                com::module().instance(), this);
    return *window ? S_OK : E_FAIL;
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<RecordingDouble*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_PAINT && self) {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      RECT area;
      ::GetClientRect(window, &area);
      HBRUSH brush = ::CreateSolidBrush(self->background_);
      ::FillRect(dc, &area, brush);
      ::DeleteObject(brush);
      ::SetBkMode(dc, TRANSPARENT);
      HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
      int y = 3;
      for (const std::wstring& line : self->Lines()) {
        ::TextOutW(dc, 6, y, line.c_str(), static_cast<int>(line.size()));
        y += 15;
      }
      ::SelectObject(dc, old);
      ::EndPaint(window, &paint);
      return 0;
    }
    if (message == WM_NCDESTROY && self) self->WindowDestroyed();
    return ::DefWindowProcW(window, message, wParam, lParam);
  }

  std::vector<std::wstring> calls_;
  COLORREF background_;
};

class DeviceHeaderDouble : public com::ObjectRoot,
                           public RecordingDouble,
                           public com::DispatchImpl<IParameterControl>,
                           public com::DispatchImpl<IevFdtTranslationEvent> {
 public:
  DeviceHeaderDouble() : RecordingDouble(CLSID_DeviceHeaderControl, RGB(255, 255, 255)) {}

  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<DeviceHeaderDouble, IParameterControl>(),
        com::entry<DeviceHeaderDouble, IDispatch, IParameterControl>(),
        com::entry<DeviceHeaderDouble, IevFdtTranslationEvent>(),
        com::entry<DeviceHeaderDouble, IRecordingControl>(),
        COM_ACTIVEX_CONTROL_ENTRIES(DeviceHeaderDouble),
        com::endOfMap()};
    return map;
  }

  STDMETHODIMP Attach(IUnknown* handler, long* result) override {
    Record(std::wstring(L"Attach ") + (handler ? L"handler" : L"null"));
    if (result) *result = 1;
    return S_OK;
  }
  STDMETHODIMP Describe(unsigned long id, BSTR name, BSTR format, long* result) override {
    Record(L"Describe " + std::to_wstring(id) + L" " + (name ? name : L"") + L" " + (format ? format : L""));
    if (result) *result = 1;
    return S_OK;
  }
  STDMETHODIMP Reserved9() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved10() override { return E_NOTIMPL; }
  STDMETHODIMP ShowValue(unsigned long id, VARIANT value) override {
    values_[id] = VariantText(value);
    Record(L"ShowValue " + std::to_wstring(id) + L" " + values_[id]);
    return S_OK;
  }
  STDMETHODIMP SetState(unsigned long id, unsigned long flags) override {
    Record(L"SetState " + std::to_wstring(id) + L" " + std::to_wstring(flags));
    return S_OK;
  }
  STDMETHODIMP Reserved13() override { return E_NOTIMPL; }
  STDMETHODIMP Bind(long item, IUnknown* control, long* result) override {
    Record(L"Bind " + std::to_wstring(item) + (control ? L" control" : L" null"));
    if (result) *result = 1;
    return S_OK;
  }
  STDMETHODIMP Reserved15() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved16() override { return E_NOTIMPL; }
  STDMETHODIMP Detach(IUnknown*) override {
    Record(L"Detach");
    return S_OK;
  }
  STDMETHODIMP OnTranslate(unsigned long languageId) override {
    Record(L"OnTranslate " + std::to_wstring(languageId));
    return S_OK;
  }

 protected:
  std::vector<std::wstring> Lines() override {
    return {L"Device: " + values_[990], L"Device type: " + values_[991]};
  }

 private:
  std::map<unsigned long, std::wstring> values_;
};

class FooterBarDouble : public com::ObjectRoot,
                        public RecordingDouble,
                        public com::DispatchImpl<IHostedToolkitControl>,
                        public com::DispatchImpl<IFooterStatusPanes> {
 public:
  FooterBarDouble() : RecordingDouble(CLSID_FooterBarControl, RGB(220, 224, 232)) {}

  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<FooterBarDouble, IHostedToolkitControl>(),
        com::entry<FooterBarDouble, IDispatch, IHostedToolkitControl>(),
        com::entry<FooterBarDouble, IFooterStatusPanes>(),
        com::entry<FooterBarDouble, IRecordingControl>(),
        COM_ACTIVEX_CONTROL_ENTRIES(FooterBarDouble),
        com::endOfMap()};
    return map;
  }

  STDMETHODIMP Reserved7() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved8() override { return E_NOTIMPL; }
  STDMETHODIMP SetCommand(unsigned long code, unsigned long value) override {
    commands_[code] = value;
    Record(L"SetCommand " + std::to_wstring(code) + L" " + std::to_wstring(value));
    return S_OK;
  }
  STDMETHODIMP Reserved10() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved11() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved12() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved13() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved14() override { return E_NOTIMPL; }
  STDMETHODIMP ShowElement1(unsigned long on) override {
    Record(L"ShowElement1 " + std::to_wstring(on));
    return S_OK;
  }
  STDMETHODIMP Reserved16() override { return E_NOTIMPL; }
  STDMETHODIMP ShowElement2(unsigned long on) override {
    Record(L"ShowElement2 " + std::to_wstring(on));
    return S_OK;
  }
  STDMETHODIMP Reserved18() override { return E_NOTIMPL; }
  STDMETHODIMP ShowElement3(unsigned long on) override {
    Record(L"ShowElement3 " + std::to_wstring(on));
    return S_OK;
  }
  STDMETHODIMP SetTranslation(IUnknown* translation, VARIANT_BOOL* result) override {
    Record(std::wstring(L"SetTranslation ") + (translation ? L"translation" : L"null"));
    if (result) *result = VARIANT_TRUE;
    return S_OK;
  }

  // IFooterStatusPanes: "AddPane 1024", "RegisterStatus 12345 name|tip",
  // "ShowStatus 1024 12345".
  STDMETHODIMP AddPane(unsigned long pane) override {
    panes_[pane] = 0;
    Record(L"AddPane " + std::to_wstring(pane));
    return S_OK;
  }
  STDMETHODIMP RegisterStatus(unsigned long status, BSTR name, BSTR toolTip) override {
    statuses_[status] = name ? name : L"";
    Record(L"RegisterStatus " + std::to_wstring(status) + L" " + (name ? name : L"") + L"|" +
           (toolTip ? toolTip : L""));
    return S_OK;
  }
  STDMETHODIMP ShowStatus(unsigned long pane, unsigned long status) override {
    if (!panes_.count(pane)) return E_INVALIDARG;
    panes_[pane] = status;
    Record(L"ShowStatus " + std::to_wstring(pane) + L" " + std::to_wstring(status));
    return S_OK;
  }

 protected:
  std::vector<std::wstring> Lines() override {
    static const wchar_t* const kStates[] = {L"?", L"going online", L"online", L"going offline", L"offline"};
    const unsigned long state = commands_.count(1) ? commands_[1] : 0;
    std::wstring line = std::wstring(L"DTM ") + kStates[state <= 4 ? state : 0] + L"   buttons " +
                        std::to_wstring(commands_.count(3) ? commands_[3] : 0);
    for (const auto& pane : panes_)
      if (pane.second && statuses_.count(pane.second)) line += L"   " + statuses_[pane.second];
    return {line};
  }

 private:
  std::map<unsigned long, unsigned long> commands_;
  std::map<unsigned long, unsigned long> panes_;        // pane -> status shown
  std::map<unsigned long, std::wstring> statuses_;      // status -> name
};

const com::ControlRegistration kControl = {0, L"0", L"131473", false};

const com::ClassRegistration kHeaderRegistration = {
    &CLSID_DeviceHeaderControl, L"Device header double", L"TestDoubles.DeviceHeader.1",
    L"TestDoubles.DeviceHeader", L"Apartment", nullptr, nullptr, false, &kControl, nullptr, nullptr};
const com::ClassRegistration kFooterRegistration = {
    &CLSID_FooterBarControl, L"Footer bar double", L"TestDoubles.FooterBar.1", L"TestDoubles.FooterBar",
    L"Apartment", nullptr, nullptr, false, &kControl, nullptr, nullptr};

const com::ClassEntry kClasses[] = {
    {&CLSID_DeviceHeaderControl, &com::createObject<DeviceHeaderDouble>, &kHeaderRegistration},
    {&CLSID_FooterBarControl, &com::createObject<FooterBarDouble>, &kFooterRegistration},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return com::module().dllMain(instance, reason, reserved, kClasses, std::size(kClasses), false);
}
