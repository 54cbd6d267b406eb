// The test DTM: a DTM class built on the toolkit's templates alone (base
// DTM with its worker thread, parameter handler, events, information), so
// that the toolkit can be driven through COM as a frame application drives
// a DTM, without the HART DTM.
//
// Its own parts are small: a parameter table (test_dtm_ids.h), a function
// table with two actions, a device double behind the kind-1 parameters
// (test_dtm_device.h), and a channel table of one test channel
// (test_channel.h). Persistence, the channel container, online transfers and
// data access are the toolkit's (test_dtm_channels.cpp binds the first two).
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <map>

#include "com/Object.h"
#include "outside.h"
#include "toolkit/audit/audit_trail.h"
#include "toolkit/containers/channel_container.h"
#include "toolkit/containers/function_container.h"
#include "toolkit/dtm/base_dtm.h"
#include "toolkit/dtm/dtm_events.h"
#include "toolkit/dtm/dtm_information.h"
#include "toolkit/documents/ext_documents.h"
#include "toolkit/documents/parameter_document.h"
#include "toolkit/documents/parameter_import_export.h"
#include "toolkit/dataaccess/data_access.h"
#include "toolkit/online/online_transfer.h"
#include "toolkit/params/param_handler.h"
#include "toolkit/persistence/persistence.h"
#include "test_dtm_ids.h"
#include "test_dtm_device.h"

class CTestDtm : public com::ObjectRoot,
                 public CevFDT_BaseDTMImpl<CTestDtm>,
                 public CevFDT_ParameterHandlerImpl<CTestDtm>,
                 public CevFDT_DtmEventsImpl<CTestDtm>,
                 public CevFDT_DtmInformationImpl<CTestDtm>,
                 public CevFDT_ParameterDocumentImpl<CTestDtm>,
                 public CevFDT_ImportExportImpl<CTestDtm>,
                 public CevFDT_ExtDocumentMgr<CTestDtm>,
                 public CevFDT_AuditTrailImpl<CTestDtm>,
                 public CevFDT_FunctionContainerImpl<CTestDtm>,
                 public CevFDT_PersistXXXImpl<CTestDtm>,
                 public CevFDT_ChannelContainerImpl<CTestDtm>,
                 public CevFDT_OnlineTransferImpl<CTestDtm>,
                 public CevFDT_DataAccessImpl<CTestDtm>,
                 public com::DispatchImpl<IevFdtDeviceAccess>,
                 public com::DispatchImpl<IOnlineParameterRequest>,
                 public ITestDtmSettings {
 public:
  static const com::InterfaceEntry* interfaceMap();

  HRESULT finalConstruct() { return OnConstruct(); }

  // Names both the base DTM and the parameter handler offer.
  using CevFDT_BaseDTMImpl<CTestDtm>::GetCommDtmInterface;
  using CevFDT_BaseDTMImpl<CTestDtm>::ReportMessage;

  using CevFDT_BaseDTMImpl<CTestDtm>::GetFunctionText;
  using CevFDT_BaseDTMImpl<CTestDtm>::BuildFunctionCallXml;

  // DTM class hooks
  const FunctionTableRow* GetFunctionTable() override;
  const DocumentListRecord* GetDocumentList(size_t* count) override;
  // Kind-4 relations of the choices target get choices (test_dtm_documents).
  HRESULT QueryRelationChoices(ULONG source, ULONG target, VARIANT* choices) override;

  // The toolkit's information document with the test device type
  // (kTestDeviceTypeName in test_dtm_ids.h).
  STDMETHODIMP GetInformation(BSTR* information) override;

  // The handler's count, failing when the script says so.
  STDMETHODIMP GetParameterCount(ULONG* count) override;

  // IevFdtDeviceAccess: the device double (test_dtm_device.h) answers after
  // the script's delay.
  STDMETHODIMP ReadDeviceParameter(VARIANT parameterId, VARIANT_BOOL* done) override;
  STDMETHODIMP WriteDeviceParameter(VARIANT parameterId, VARIANT value,
                                    VARIANT_BOOL* done) override;
  // IOnlineParameterRequest: a read (empty arguments) or a write, completed
  // through the handler's SetParameterValue.
  STDMETHODIMP RequestParameter(VARIANT parameterId, VARIANT arguments) override;

  // Persistence and channels (test_dtm_channels.cpp).
  static const CLSID& DtmClassId() { return CLSID_TestDtm; }
  const ChannelTableRow* GetChannelTable(size_t* count) override;
  // Progress step notices are logged for the tests (TestProgressSteps).
  HRESULT QueueWorkerRequest(const wchar_t* text, USHORT percent, SHORT flag) override;
  // ITestDtmSettings
  STDMETHODIMP SetChannelReleaseWait(DWORD milliseconds) override;
  STDMETHODIMP HoldModifiedNotices(BOOL hold) override;

 protected:
  void CreateParameterTable() override;

 private:
  HRESULT CompleteDeviceRequest(const VARIANT& parameterId, const VARIANT* written);

  // The device double's memory: parameter id to value.
  std::map<ULONG, LONG> device_ = TestDeviceMemory();
};
