// A DTM double for the control side: what a control on the toolkit's base
// asks of its DTM, scripted and recorded, for tests that need parameters or
// answers the real DTM does not have.
//
// Interfaces: IDtm (GetFunctions answers the scripted function list),
// IevFdtParameterHandler4, IevFdtParameterInfo, IevFdtParameterValidation
// (over the scripted parameters), IevFdtTranslation (XPath -> text),
// IevFdtActiveXManagement and IevFdtActiveXContainer (the controls that open
// are kept; state and properties are sent to them as the real container
// does; broadcasts reach them), IevFdtDtmEvents. offers() withholds any of
// them. Every call a control makes is recorded as one line ("OpenActiveX
// tag", "WriteParameter 1002 7", "OnDtmEvent 52 -1").
//
// In-process and single-threaded: created and called on the test's thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "fdt.h"
#include "toolkit.h"

namespace control_dtm {

struct Parameter {
  ULONG id = 0;
  com::Variant value;              // its type is the parameter's type
  ULONG flags = 0x71;              // access flags (selector 0x4000)
  ULONG kind = 0;                  // 1: a device value (selector 1)
  USHORT valueKind = 0;            // 0 free, 1 enumeration, 2 bit enumeration
  std::vector<std::pair<LONG, std::wstring>> entries;  // the value list
  std::wstring tip;                // selector 0x8000
  bool limited = false;            // numbers outside [minimum, maximum] are invalid
  bool invalidAlone = false;       // an invalid value is marked invalid only, not changed too
  double minimum = 0;
  double maximum = 0;
  com::Variant deviceValue;        // selector 0x200000
  com::Variant unit;               // selector 0x40000
  com::Variant announced;          // selector 0x80000000 (empty: E_FAIL)
};

class ControlDtm : public com::ObjectRoot,
                   public com::DispatchImpl<IDtm>,
                   public com::DispatchImpl<IevFdtParameterHandler4>,
                   public com::DispatchImpl<IevFdtParameterInfo>,
                   public com::DispatchImpl<IevFdtParameterValidation>,
                   public com::DispatchImpl<IevFdtTranslation>,
                   public com::DispatchImpl<IevFdtActiveXContainer>,
                   public com::DispatchImpl<IevFdtActiveXManagement>,
                   public com::DispatchImpl<IevFdtDtmEvents> {
 public:
  static const com::InterfaceEntry* interfaceMap();

  struct Offers {
    bool dtm = true;
    bool parameters = true;  // IevFdtParameterHandler4
    bool info = true;
    bool validation = true;
    bool translation = true;
    bool container = true;
    bool management = true;
    bool events = true;
  };
  Offers& offers() { return offers_; }

  // ---- Script ----
  void addParameter(Parameter parameter);
  void removeParameter(ULONG id) { parameters_.erase(id); }
  Parameter* parameter(ULONG id);
  void setText(const std::wstring& xpath, const std::wstring& text) { texts_[xpath] = text; }
  void setFunctions(const std::wstring& document) { functions_ = document; }
  // The state and properties sent to a control when it opens, in order
  // (the state first), as the DTM's function container sends them.
  void setOpeningState(ULONG state) { openingState_ = state; }
  void addOpeningProperty(ULONG key, const com::Variant& value) { openingProperties_.emplace_back(key, value); }
  // The answer of ShowUserMessage (default 0).
  void setUserAnswer(long answer) { userAnswer_ = answer; }
  // Plays the frame when a control asks to be closed (key) -> passed on.
  void onClose(std::function<bool(const std::wstring& key)> handler) { onClose_ = std::move(handler); }

  // ---- What happened ----
  const std::vector<std::wstring>& calls() const { return calls_; }
  std::vector<std::wstring> callsTo(const std::wstring& method) const;
  void clearCalls() { calls_.clear(); }
  size_t openControls() const { return controls_.size(); }
  // Sends a state or a property to the open controls (as the DTM would).
  HRESULT notifyState(ULONG state);
  HRESULT broadcast(ULONG key, const VARIANT& value);

  // IDtm
  STDMETHODIMP SetEnvironment(BSTR, IUnknown*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP InitNewDeviceType(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP Config(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetCommunication(IUnknown*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP ShutdownDtm(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP PrepareToReleaseCommunication(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP ReleaseCommunication(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP PrepareDelete(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetLanguage(long, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFunctions(BSTR operationPhase, BSTR* functions) override;
  STDMETHODIMP InvokeFunctionRequest(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetSharedUiFlag(VARIANT_BOOL, VARIANT_BOOL*) override { return E_NOTIMPL; }

  // IevFdtParameterHandler4
  STDMETHODIMP RequestParameter(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetParameterChecked(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetParameterDescription(VARIANT id, VARIANT* value, BSTR* text, unsigned short* vt,
                                       VARIANT* minimum, VARIANT* maximum, VARIANT* defaultValue,
                                       VARIANT* flags) override;
  STDMETHODIMP SetParameterValue(VARIANT_BOOL, VARIANT, VARIANT, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP GetParameterInfoValue(VARIANT, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP SetValueAndFlagsByVariant(VARIANT, VARIANT, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP GetParameterValue(VARIANT id, VARIANT* value) override;
  STDMETHODIMP WriteParameter(VARIANT id, VARIANT value) override;
  STDMETHODIMP GetParameterKind(VARIANT, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP CanWrite(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadParameters(IStream*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SaveParameters(IStream*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP EvaluateRelations() override { return E_NOTIMPL; }
  STDMETHODIMP DownloadRequest(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP AbortTransfer(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP RefreshParameter(VARIANT id, VARIANT_BOOL* done) override;
  STDMETHODIMP StoreParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) override;

  // IevFdtParameterInfo
  STDMETHODIMP GetCount(VARIANT* count) override;
  STDMETHODIMP GetParameterId(VARIANT index, VARIANT* id) override;
  STDMETHODIMP GetParameterInfo(VARIANT id, VARIANT selector, VARIANT* value) override;
  STDMETHODIMP SetParameterInfo(VARIANT, VARIANT, VARIANT) override { return E_NOTIMPL; }

  // IevFdtParameterValidation
  STDMETHODIMP Validate(VARIANT id, VARIANT value, unsigned long* status) override;
  STDMETHODIMP ValidateValue(VARIANT id, VARIANT value, VARIANT_BOOL* valid) override;

  // IevFdtTranslation
  STDMETHODIMP GetLocalizedText(BSTR xpath, BSTR* text, VARIANT_BOOL* found) override;
  STDMETHODIMP GetLanguageCount(long* count) override;
  STDMETHODIMP GetLanguageIdAt(long, unsigned long*) override { return E_NOTIMPL; }
  STDMETHODIMP SelectLanguage(long, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadTranslation(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP ContainsNode(BSTR xpath, VARIANT_BOOL* exists) override;

  // IevFdtActiveXContainer
  STDMETHODIMP GetActiveXDescription(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP ControlChanged(BSTR key, IUnknown* control) override;
  STDMETHODIMP NotifyControlsState(unsigned long state) override;
  STDMETHODIMP SendMessageToControls(VARIANT, VARIANT, BSTR) override { return S_OK; }
  STDMETHODIMP SetControlsProperty(VARIANT key, VARIANT value) override;
  STDMETHODIMP CloseActiveX(BSTR key, VARIANT_BOOL* passedOn) override;
  STDMETHODIMP RequestFunctionControl(long, long, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetFunctionEnabled(long functionId, long enable) override;
  STDMETHODIMP ShowUserMessage(BSTR text, BSTR caption, VARIANT style, long* answer) override;
  STDMETHODIMP GetFunctionText(long, BSTR, BSTR*) override { return E_NOTIMPL; }

  // IevFdtActiveXManagement
  STDMETHODIMP OpenActiveX(BSTR key, IUnknown* control, long flags) override;
  STDMETHODIMP ActiveXClosed(BSTR key) override;

  // IevFdtDtmEvents
  STDMETHODIMP OnDtmEvent(VARIANT code, VARIANT value) override;

 private:
  template <class I, bool Offers::*Flag>
  static HRESULT QueryOffered(void* object, REFIID iid, void** out);
  void record(const std::wstring& line) { calls_.push_back(line); }
  // The open controls that answer IevFdtActiveX4, taken before any is
  // called (a call may open or close controls).
  std::vector<com::ComPtr<IevFdtActiveX4>> openControls4() const;

  Offers offers_;
  std::map<ULONG, Parameter> parameters_;
  std::map<std::wstring, std::wstring> texts_;
  std::wstring functions_;
  ULONG openingState_ = 8;
  std::vector<std::pair<ULONG, com::Variant>> openingProperties_;
  long userAnswer_ = 0;
  std::function<bool(const std::wstring&)> onClose_;
  std::vector<std::wstring> calls_;
  std::vector<std::pair<std::wstring, com::ComPtr<IUnknown>>> controls_;
};

// A new double; *object stays valid while the returned reference is held.
com::ComPtr<IUnknown> createControlDtm(ControlDtm** object);

// The text of a VARIANT for the call lines ("<empty>" for none).
std::wstring VariantText(const VARIANT& value);

}  // namespace control_dtm
