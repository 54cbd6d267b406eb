#include "test_dtm.h"

#include "com/Guard.h"
#include "com/Variant.h"
#include "test_dtm_documents.h"
#include "test_dtm_ids.h"
#include "toolkit/params/param_rows.h"
#include "toolkit/values/text_helpers.h"

namespace {

namespace par = test_dtm_parameter;
namespace fn = test_dtm_function;

// Function actions: run on the DTM object through its COM interfaces.
HRESULT ResetCounter(IUnknown* dtm, VARIANT_BOOL* success) {
  *success = VARIANT_FALSE;
  com::ComPtr<IevFdtParameterHandler4> handler;
  HRESULT hr = handler.queryFrom(dtm);
  if (FAILED(hr)) return hr;
  hr = handler->WriteParameter(*com::ui4(par::kCounter).get(), *com::Variant(LONG{0}).get());
  if (SUCCEEDED(hr)) *success = VARIANT_TRUE;
  return hr;
}

HRESULT FailingSelfTest(IUnknown*, VARIANT_BOOL* success) {
  *success = VARIANT_FALSE;
  return S_OK;
}

// A table text may be a string-table id in place of a pointer.
const char* const kTextId101 = reinterpret_cast<const char*>(ULONG_PTR{101});
const char* const kTextId102 = reinterpret_cast<const char*>(ULONG_PTR{102});

const wchar_t* const kModeEntries[] = {L"0;Off", L"1;On", nullptr};

// Field order: kind, application id, function id, label, name, help, icon,
// status, user level, application bits, hidden, reserved, class id, ProgID,
// printable, resizable, document file, program name, MIME type, action.
const FunctionTableRow kFunctions[] = {
    {FunctionTableRow::kFunction, 0, fn::kResetCounter, "Reset counter", "Reset counter",
     "Sets the counter to 0", nullptr, FunctionTableRow::kEnabled, 1, -1, 0, {}, nullptr, nullptr,
     FALSE, FALSE, nullptr, nullptr, nullptr, reinterpret_cast<const void*>(&ResetCounter)},
    {FunctionTableRow::kControlFunction, 0, fn::kSettings, "Settings", "Settings",
     "Opens the settings", nullptr, FunctionTableRow::kEnabled, 1, -1, 0, {}, nullptr,
     "ToolkitTest.Settings.1", TRUE, TRUE, nullptr, nullptr, nullptr, nullptr},
    // Hidden: never in the function list; its ProgID names no registered class.
    {FunctionTableRow::kControlFunction, 0, fn::kHidden, "Hidden", "Hidden", "Never listed",
     nullptr, FunctionTableRow::kEnabled, 1, -1, 1, {}, nullptr, "ToolkitTest.Unregistered.1",
     FALSE, FALSE, nullptr, nullptr, nullptr, nullptr},
    // A group whose texts are string-table ids (testdtm.rc).
    {5, 0, 10, kTextId101, kTextId101, kTextId102, nullptr, FunctionTableRow::kEnabled, 1, -1, 0,
     {}, nullptr, nullptr, FALSE, FALSE, nullptr, nullptr, nullptr, nullptr},
    {FunctionTableRow::kFunction, 0, fn::kSelfTest, "Self test", "Self test", "Fails on purpose",
     nullptr, FunctionTableRow::kEnabled, 1, -1, 0, {}, nullptr, nullptr, FALSE, FALSE, nullptr,
     nullptr, nullptr, reinterpret_cast<const void*>(&FailingSelfTest)},
    {6, 0, 11, nullptr, nullptr, nullptr, nullptr, 0, 1, -1, 0, {}, nullptr, nullptr, FALSE,
     FALSE, nullptr, nullptr, nullptr, nullptr},
    {FunctionTableRow::kEnd, 0, 0, nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0, {}, nullptr,
     nullptr, FALSE, FALSE, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

const com::InterfaceEntry* CTestDtm::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<CTestDtm, IevFdtBaseDTM>(),
      com::entry<CTestDtm, IDispatch, IevFdtBaseDTM>(),
      com::entry<CTestDtm, IDtm>(),
      com::entry<CTestDtm, IDtm2>(),
      EV_PARAMETER_HANDLER_ENTRIES(CTestDtm),
      EV_DTM_EVENTS_ENTRIES(CTestDtm),
      EV_DTM_INFORMATION_ENTRIES(CTestDtm),
      com::entry<CTestDtm, IDtmParameter>(),
      com::entry<CTestDtm, IDtmImportExport>(),
      com::entry<CTestDtm, IevFdtExtDocument>(),
      com::entry<CTestDtm, IDtmDocumentation>(),
      EV_AUDIT_TRAIL_ENTRIES(CTestDtm),
      EV_FUNCTION_CONTAINER_ENTRIES(CTestDtm),
      com::entry<CTestDtm, IevFdtDeviceAccess>(),
      EV_ONLINE_TRANSFER_ENTRIES(CTestDtm),
      EV_DATA_ACCESS_ENTRIES(CTestDtm),
      com::entry<CTestDtm, IOnlineParameterRequest>(),
      EV_PERSISTENCE_ENTRIES(CTestDtm),
      EV_CHANNEL_CONTAINER_ENTRIES(CTestDtm),
      com::entry<CTestDtm, ITestDtmSettings>(),
      com::endOfMap()};
  return map;
}

void CTestDtm::CreateParameterTable() {
  IevFdtParameterStore* store = this;
  ParamRow::Text(par::kTag, L"DTM Tag", L"TestDtm", L"TestDtm", 32)
      .Flags(0x31)
      .Storage(1)
      .Number(0x2000)
      .AddTo(store);
  ParamRow::Text(par::kSystemLabel, L"System Label", L"", L"", 0).AddTo(store);
  ParamRow::Numeric(par::kPreambles, L"Preamble Count", VT_UI1, 5, 20, 5, 5).AddTo(store);
  ParamRow::Numeric(par::kEnabled, L"Enabled", VT_BOOL, 0, 0, -1, -1).Persist(0).AddTo(store);
  ParamRow::Numeric(par::kMode, L"Mode", VT_UI1, 0, 1, 0, 0)
      .SubType(kParEnumerated)
      .Entries(kModeEntries)
      .Persist(0)
      .AddTo(store);
  ParamRow::Numeric(par::kCounter, L"Counter", VT_I4, 0, 1000, 7, 7)
      .Storage(kRoleMaintenance)
      .Persist(0)
      .AddTo(store);
  ParamRow::Numeric(par::kDeviceValue, L"Device Value", VT_I4, -1000, 1000, 0, 0)
      .Kind(kParKindDevice)
      .Persist(0)
      .AddTo(store);
  DeclareDocumentRows(store);
  DeclareDeviceRows(store);
}

const FunctionTableRow* CTestDtm::GetFunctionTable() { return kFunctions; }

const DocumentListRecord* CTestDtm::GetDocumentList(size_t* count) {
  return TestDocumentList(count);
}

HRESULT CTestDtm::QueryRelationChoices(ULONG, ULONG target, VARIANT* choices) {
  return TestRelationChoices(target, choices);
}

STDMETHODIMP CTestDtm::GetInformation(BSTR* information) {
  return com::guard([&]() -> HRESULT {
    if (State() < kDtmEnvironmentSet) return S_FALSE;
    if (!information) return E_INVALIDARG;
    *information = nullptr;
    com::Bstr text;
    HRESULT hr = GetDtmInfoXml(DtmInfoTemplateId(), text.put());
    if (FAILED(hr)) return hr;
    const wchar_t deviceTypes[] =
        L"<fdt:DtmDeviceType readAccess=\"1\" writeAccess=\"0\"><fdt:VersionInformation "
        L"name=\"Test Device\" readAccess=\"1\" writeAccess=\"0\" vendor=\"Test\" "
        L"version=\"1.0.0\" date=\"2024-01-01\"/></fdt:DtmDeviceType>";
    if (IsFdt121Frame())
      return FormatBstr(information, text.c_str(), L"1.0", L"2024-01-01", L"", deviceTypes);
    return FormatBstr(information, text.c_str(), L"1.0", L"2024-01-01", deviceTypes);
  });
}

// ---- Device double ---------------------------------------------------------

HRESULT CTestDtm::QueueWorkerRequest(const wchar_t* text, USHORT percent, SHORT flag) {
  if (flag != 0) LogProgressStep(percent);
  return CevFDT_BaseDTMImpl<CTestDtm>::QueueWorkerRequest(text, percent, flag);
}

HRESULT CTestDtm::CompleteDeviceRequest(const VARIANT& parameterId, const VARIANT* written) {
  return RunDeviceRequest(GetCommDtmInterface(), *this, device_, parameterId, written);
}

STDMETHODIMP CTestDtm::GetParameterCount(ULONG* count) {
  if (ParameterCountFails()) return E_FAIL;
  return CevFDT_ParameterHandlerImpl<CTestDtm>::GetParameterCount(count);
}

STDMETHODIMP CTestDtm::ReadDeviceParameter(VARIANT parameterId, VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    HRESULT hr = CompleteDeviceRequest(parameterId, nullptr);
    if (SUCCEEDED(hr)) *done = VARIANT_TRUE;
    return hr;
  });
}

STDMETHODIMP CTestDtm::WriteDeviceParameter(VARIANT parameterId, VARIANT value,
                                            VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    HRESULT hr = CompleteDeviceRequest(parameterId, &value);
    if (SUCCEEDED(hr)) *done = VARIANT_TRUE;
    return hr;
  });
}

STDMETHODIMP CTestDtm::RequestParameter(VARIANT parameterId, VARIANT arguments) {
  return com::guard([&] {
    return CompleteDeviceRequest(parameterId, V_VT(&arguments) == VT_EMPTY ? nullptr : &arguments);
  });
}
