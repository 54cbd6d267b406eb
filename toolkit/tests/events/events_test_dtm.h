// A DTM object for the event and information tests: the toolkit's events and
// information parts on a COM object whose other parts are small recorders
// (worker posts, user messages, progress notices, control properties,
// translation languages, device-type documents, parameter import and the
// channels' load), and open controls that report scripted subscription
// lists.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "com/Object.h"
#include "com/Variant.h"
#include "toolkit/dtm/dtm_events.h"
#include "toolkit/dtm/dtm_information.h"
#include "toolkit/xml/xml_handler.h"

namespace eventstest {

// One command the DTM posted to its worker thread; packed SParamUpdateInfo
// arguments are unpacked into id and period.
struct Post {
  ULONG code = 0;
  com::Variant argument;
  ULONG parameterId = 0;
  ULONG period = 0;
};

struct ProgressNotice {
  std::wstring text;
  USHORT percent = 0;
  SHORT flag = 0;
};

struct ControlProperty {
  ULONG key = 0;
  com::Variant value;
};

// An open control: answers GetInfo(0x20) with its list.
class ControlDouble : public com::ObjectRoot, public com::DispatchImpl<IevFdtActiveXInfo> {
 public:
  static const com::InterfaceEntry* interfaceMap();
  STDMETHODIMP GetInfo(VARIANT what, VARIANT* result) override;
  STDMETHODIMP SetInfo(VARIANT, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP SetFrameContainer(IUnknown*) override { return E_NOTIMPL; }

  ParamUpdateList list;
  HRESULT answer = S_OK;      // a failure is answered without a list
  bool answerGarbage = false;  // answers a value that is no packed list
  int asked = 0;
};

class EventsTestDtm : public com::ObjectRoot,
                      public CevFDT_DtmEventsImpl<EventsTestDtm>,
                      public CevFDT_DtmInformationImpl<EventsTestDtm>,
                      public com::DispatchImpl<IevFdtActiveXContainer>,
                      public com::DispatchImpl<IevFdtTranslation>,
                      public com::DispatchImpl<IevFdtExtDocument>,
                      public com::DispatchImpl<IevFdtParametersImportExport>,
                      public com::DispatchImpl<IevFdtChannelPersist>,
                      public com::DispatchImpl<IevFdtParameterInfo>,
                      public com::DispatchImpl<IevFdtParameterValidation> {
 public:
  EventsTestDtm();
  static const com::InterfaceEntry* interfaceMap();

  // ---- What the toolkit parts ask of the DTM class ----
  IUnknown* GetCommDtmInterface() { return controllingUnknown(); }
  HRESULT PostCode(ULONG code, const VARIANT& argument);
  HRESULT PostPacked(ULONG code, CevVAPacker& record);
  void ReportMessageText(const wchar_t* text);
  HRESULT QueueWorkerRequest(const wchar_t* text, USHORT percent, SHORT flag);
  HRESULT PostActiveXMessage(ULONG code);
  ULONG GetDataState() const { return dataState; }
  XmlHandlerCore& Xml() { return xml_; }
  bool DataSetLocked() const { return lockHeld; }
  bool DataSetLockedElsewhere() const { return lockedElsewhere; }
  void SetDataSetLockedElsewhere(bool on) { lockedElsewhere = on; }
  void SetTransferAbortFlag(bool abort) { transferAbort = abort; }
  LONG State() const { return state; }
  ULONG UserRole() const { return role; }
  bool IsFdt121Frame() const { return fdt121; }
  IUnknown* FrameObject() const { return frame.get(); }

  // ---- Hooks ----
  HRESULT FindOpenControl(const wchar_t* controlId, IUnknown** control) override;
  ULONG OpenLockingFunctions() override { return lockingFunctions; }

  // A new open control under the key.
  ControlDouble* OpenControl(const wchar_t* key);
  void CloseControl(const wchar_t* key) { controls_.erase(key); }

  // ---- Parts of the DTM object (recorders) ----
  // IevFdtActiveXContainer
  STDMETHODIMP GetActiveXDescription(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP ControlChanged(BSTR, IUnknown*) override { return E_NOTIMPL; }
  STDMETHODIMP NotifyControlsState(unsigned long) override { return E_NOTIMPL; }
  STDMETHODIMP SendMessageToControls(VARIANT, VARIANT, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP SetControlsProperty(VARIANT key, VARIANT value) override;
  STDMETHODIMP CloseActiveX(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP RequestFunctionControl(long, long, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP SetFunctionEnabled(long, long) override { return E_NOTIMPL; }
  STDMETHODIMP ShowUserMessage(BSTR, BSTR, VARIANT, long*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFunctionText(long, BSTR, BSTR*) override { return E_NOTIMPL; }
  // IevFdtTranslation: only the languages
  STDMETHODIMP GetLocalizedText(BSTR, BSTR*, VARIANT_BOOL* found) override;
  STDMETHODIMP GetLanguageCount(long* count) override;
  STDMETHODIMP GetLanguageIdAt(long index, unsigned long* id) override;
  STDMETHODIMP SelectLanguage(long, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadTranslation(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP ContainsNode(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  // IevFdtExtDocument
  STDMETHODIMP GetDocuments(BSTR id, BSTR* fragment) override;
  STDMETHODIMP GetDeviceBitmaps(BSTR id, BSTR* fragment) override;
  STDMETHODIMP GetDeviceIcons(BSTR id, BSTR* fragment) override;
  // IevFdtParametersImportExport
  STDMETHODIMP Export(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP Import(BSTR parameters) override;
  // IevFdtChannelPersist
  STDMETHODIMP SaveChannelCollection(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadChannels(BSTR document) override;
  STDMETHODIMP SetChannelsModified(VARIANT_BOOL) override { return E_NOTIMPL; }
  // IevFdtParameterInfo / IevFdtParameterValidation over `parameters`
  STDMETHODIMP GetCount(VARIANT* count) override;
  STDMETHODIMP GetParameterId(VARIANT index, VARIANT* id) override;
  STDMETHODIMP GetParameterInfo(VARIANT id, VARIANT selector, VARIANT* value) override;
  STDMETHODIMP SetParameterInfo(VARIANT, VARIANT, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP Validate(VARIANT id, VARIANT value, unsigned long* status) override;
  STDMETHODIMP ValidateValue(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }

  // ---- Script and records ----
  LONG state = 8;
  ULONG role = 2;
  bool fdt121 = false;
  com::ComPtr<IUnknown> frame;
  ULONG dataState = 0;
  bool lockHeld = false;
  ULONG lockingFunctions = 0;
  bool lockedElsewhere = false;
  bool transferAbort = false;
  HRESULT postResult = S_OK;  // answer of every post
  // Runs once inside the next post, as a call that reaches the DTM's
  // apartment while it waits for the worker.
  std::function<void()> duringPost;
  // Which DTM parts QueryInterface answers.
  bool hasContainer = true, hasTranslation = true, hasDocuments = true, hasImport = true,
       hasChannels = true, hasParameters = true;
  std::vector<unsigned long> languages;
  // Texts of the translation document by XPath (GetLocalizedText).
  std::map<std::wstring, std::wstring> localizedTexts;
  std::map<std::wstring, std::wstring> documents, bitmaps, icons;  // by device type id
  std::vector<std::wstring> documentRequests;                      // "method:id"
  HRESULT channelsResult = S_OK;
  // Parameters: id -> (value, invalid)
  std::map<ULONG, std::pair<LONG, bool>> parameters;

  std::vector<Post> posts;
  std::vector<std::wstring> messages;
  std::vector<ProgressNotice> progress;
  std::vector<ULONG> controlMessages;
  std::vector<ControlProperty> properties;
  std::vector<std::wstring> imports, channelLoads;

 private:
  static HRESULT queryPart(void* object, REFIID iid, void** out);

  XmlHandlerCore xml_;
  std::map<std::wstring, com::ComPtr<IUnknown>> controls_;
  std::map<std::wstring, ControlDouble*> controlObjects_;
};

com::ComPtr<IUnknown> CreateEventsTestDtm(EventsTestDtm** object);

}  // namespace eventstest
