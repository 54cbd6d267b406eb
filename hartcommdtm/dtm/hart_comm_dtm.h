// CHART_CommDTM: the DTM object of the HART communication DTM.
//
// Almost all of its FDT behaviour comes from the toolkit's templates
// (persistence, channel container with the one HART channel, audit trail,
// functions, translation, the parameter document, import and export,
// external documents and function documentation, online compare and
// transfer, single-instance and single-device data access among them); the
// class adds its construction hook (parameter table, registry settings), its
// checks before the communication is set or released, its information
// documents and its own interface IHART_CommDTM, through which the channel
// and the controls ask it to run the address and scan-range dialogs.
//
// Threads: every method runs on the frame's user-interface thread (the
// object's apartment) and takes no lock.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/Bstr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "fdt.h"
#include "hartcommdtm.h"
#include "toolkit/audit/audit_trail.h"
#include "toolkit/containers/channel_container.h"
#include "toolkit/containers/function_container.h"
#include "toolkit/dataaccess/data_access.h"
#include "toolkit/documents/ext_documents.h"
#include "toolkit/documents/parameter_document.h"
#include "toolkit/documents/parameter_import_export.h"
#include "toolkit/dtm/base_dtm.h"
#include "toolkit/dtm/dtm_events.h"
#include "toolkit/dtm/dtm_information.h"
#include "toolkit/online/online_transfer.h"
#include "toolkit/params/param_handler.h"
#include "toolkit/persistence/persistence.h"
#include "toolkit/xml/translation.h"
#include "win32/unique_handle.h"

class CHART_CommDTM : public com::ObjectRoot,
                      public CevFDT_BaseDTMImpl<CHART_CommDTM>,
                      public CevFDT_ParameterHandlerImpl<CHART_CommDTM>,
                      public CevFDT_DtmEventsImpl<CHART_CommDTM>,
                      public CevFDT_DtmInformationImpl<CHART_CommDTM>,
                      public CevFDT_ParameterDocumentImpl<CHART_CommDTM>,
                      public CevFDT_ImportExportImpl<CHART_CommDTM>,
                      public CevFDT_ExtDocumentMgr<CHART_CommDTM>,
                      public CevFDT_OnlineTransferImpl<CHART_CommDTM>,
                      public CevFDT_DataAccessImpl<CHART_CommDTM>,
                      public CevFDT_PersistXXXImpl<CHART_CommDTM>,
                      public CevFDT_FunctionContainerImpl<CHART_CommDTM>,
                      public CevFDT_ChannelContainerImpl<CHART_CommDTM>,
                      public CevFDT_DtmTranslationImpl<CHART_CommDTM>,
                      public CevFDT_AuditTrailImpl<CHART_CommDTM>,
                      public com::DispatchImpl<IDtmInformation2>,
                      public com::DispatchImpl<IHART_CommDTM> {
 public:
  CHART_CommDTM();
  ~CHART_CommDTM() override;

  static const com::InterfaceEntry* interfaceMap();

  HRESULT finalConstruct() { return OnConstruct(); }

  // Names more than one base offers.
  using CevFDT_BaseDTMImpl<CHART_CommDTM>::GetCommDtmInterface;
  using CevFDT_BaseDTMImpl<CHART_CommDTM>::ReportMessage;
  using CevFDT_BaseDTMImpl<CHART_CommDTM>::GetLanguageId;
  using CevFDT_ParameterHandlerImpl<CHART_CommDTM>::HasParameter;
  using CevFDT_BaseDTMImpl<CHART_CommDTM>::GetFunctionText;
  using CevFDT_FunctionContainerImpl<CHART_CommDTM>::BuildFunctionCallXml;

  // ---- IHART_CommDTM -----------------------------------------------------
  STDMETHODIMP DeviceDtmAdded(BSTR childSystemTag) override;
  STDMETHODIMP ClosingSetDtmAddrActXNotification() override;
  STDMETHODIMP GetScanRangeViaGUI(long* start, long* end) override;
  STDMETHODIMP GetDeviceDtmAddressViaGUI(long* address) override;

  // ---- IDtmInformation, IDtmInformation2 ----------------------------------
  // States 6 to 12 (else S_FALSE); the template of the frame's FDT version
  // with the device type, finished by the toolkit (languages, documents).
  STDMETHODIMP GetInformation(BSTR* information) override;
  // The fixed identification document; null out: E_INVALIDARG.
  STDMETHODIMP GetDeviceTypeIdent(BSTR, BSTR, BSTR* identification) override;
  // The fdt:DtmDeviceType fragment in the frame's FDT version's form.
  HRESULT BuildDeviceTypeXml(const wchar_t* name, const wchar_t* deviceTypeId, BSTR* out);

  // ---- Toolkit hooks -----------------------------------------------------
  HRESULT OnConstruct() override;
  HRESULT CheckConfiguredDevice(IUnknown* communication, VARIANT_BOOL* result) override;
  HRESULT CheckScanInactive(VARIANT_BOOL* result) override;
  const FunctionTableRow* GetFunctionTable() override { return functionTable_; }
  // Persistence and channels (dtm_channels.cpp): the stream names this
  // class; the one channel is the HART channel.
  static const CLSID& DtmClassId() { return CLSID_HART_CommDTM; }
  const ChannelTableRow* GetChannelTable(size_t* count) override;

  // ---- IDtm and IFdtEvents overrides -------------------------------------
  // The toolkit's Config, then the device type of the data set: "FSK Mavix"
  // is accepted (device image, DTM tag of a new data set).
  STDMETHODIMP Config(BSTR userInformation, VARIANT_BOOL* result) override;
  // Notes whether the data set was made new or loaded from the frame's storage.
  STDMETHODIMP SetState(long newState) override;
  // Accepts a device type the information document lists and keeps the
  // device type element's XML, with the namespace declarations it needs to
  // stand alone, as the data set's device type, which Config reads back
  // (also after the frame's storage gave it back).
  STDMETHODIMP SelectDeviceTypeVersion(IDispatch* deviceTypeDocument,
                                       VARIANT_BOOL* accepted) override;
  // Passes the changed child on to the channel's IHART_Channel.
  STDMETHODIMP OnChildChanged(BSTR systemTag) override;

  // The user message of an id: the translation document's, else the string
  // table's, else the fallback text. Never fails; an empty text at worst.
  com::Bstr UserMessage(UINT id, const wchar_t* name, const wchar_t* fallback);

  // DeviceDtmAdded waits for the address control it opened at most this
  // long; SetAddressControlWait changes it (tests).
  static constexpr DWORD kAddressControlWaitMs = 10 * 60 * 1000;
  void SetAddressControlWait(DWORD milliseconds) { addressControlBound_ = milliseconds; }

  // Whether the data set named the DTM's own device type (Config).
  bool DeviceTypeAccepted() const { return deviceTypeAccepted_ != 0; }
  const wchar_t* IconPath() const { return iconPath_.get(); }
  ULONG DeviceTypeSelector() const { return deviceTypes_; }

 protected:
  void CreateParameterTable() override;

 private:
  // Registry settings under HKLM "Software\VELTRA\FSK Mavix FDT", then
  // parameter 1014 from "SetNewDevDtmAddress" (kept for the tables declared
  // again after a shutdown).
  HRESULT ReadRegistrySettings();
  // The frame's modal function call (IFrameDialogActiveX) for a function:
  // E_NOINTERFACE without it.
  struct DialogCall;
  HRESULT PrepareDialogCall(LONG functionId, DialogCall* call);
  HRESULT ReadParameter(ULONG id, VARIANT* value);
  // A document of the DTM's own (information, device type) through its XML
  // handler; E_FAIL when the text does not parse.
  HRESULT LoadOwnDocument(const wchar_t* xml, IXMLDOMDocument2** document);
  // The name ("fdt:VersionInformation/@name") of the data set's device
  // type, from its kept XML; an error when that does not parse or names none.
  HRESULT DeviceTypeName(const wchar_t* deviceType, BSTR* name);
  HRESULT WriteParameter(ULONG id, const VARIANT& value);
  // The text reported to the user through the frame.
  void ReportText(const wchar_t* text);

  // Taken at construction; the toolkit's function container reads it.
  const FunctionTableRow* functionTable_;
  com::Bstr iconPath_;
  ULONG deviceTypes_ = 0;
  ULONG deviceTypeAccepted_ = 0;
  // Parameter 1014 as the registry set it, for every table declared after
  // construction.
  BYTE newDeviceDialogMode_ = 2;  // open without waiting, as declared
  bool settingsRead_ = false;
  // The data set came from the frame's storage (state 5), not a new one (4).
  BYTE loadedFromStream_ = 0;
  // The wait of a DeviceDtmAdded call for the control it opened. Each call
  // waits on an event of its own, so that nothing of a call reaches a later
  // one; calls nest when the frame adds a device DTM while one waits.
  struct AddressControlWait;
  // The innermost waiting call's; null while no call waits.
  AddressControlWait* addressControlWait_ = nullptr;
  // How long DeviceDtmAdded waits for that control at most.
  DWORD addressControlBound_ = kAddressControlWaitMs;
};
