#include "dtm/hart_comm_dtm.h"

#include <commctrl.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Module.h"
#include "com/Variant.h"
#include "dtm/device_type_reference.h"
#include "dtm/dtm_ids.h"
#include "dtm/dtm_information_docs.h"
#include "dtm/dtm_parameters.h"
#include "dtm/dtm_texts.h"
#include "dtm/function_table.h"
#include "dtm/hart_channel_lookup.h"
#include "modem/modem_binding.h"
#include "toolkit/values/message_wait.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xpath_literal.h"

namespace {

com::Variant UI1(BYTE value) {
  com::Variant v;
  V_VT(v.get()) = VT_UI1;
  V_UI1(v.get()) = value;
  return v;
}

// A REG_SZ value of at most capacity characters with its terminator; empty
// when absent, of another type or too long.
std::wstring ReadRegistryText(HKEY key, const wchar_t* name, DWORD capacity) {
  std::wstring text(capacity, L'\0');
  DWORD bytes = capacity * sizeof(wchar_t);
  if (::RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, &text[0], &bytes) !=
      ERROR_SUCCESS)
    return std::wstring();
  text.resize(wcsnlen(text.c_str(), capacity));
  return text;
}

// A REG_DWORD value; false when absent or of another type or size.
bool ReadRegistryNumber(HKEY key, const wchar_t* name, DWORD* value) {
  DWORD bytes = sizeof(*value);
  return ::RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, value, &bytes) ==
         ERROR_SUCCESS;
}

// What the data set of the DTM's own device type shows.
constexpr wchar_t kDeviceImageName[] = L"Device_vtHRT.bmp";
constexpr wchar_t kDeviceName[] = L"FSK Mavix";

// The DTM answers its information document in these states.
constexpr LONG kFirstInformationState = 6;
constexpr LONG kLastInformationState = 12;

}  // namespace

CHART_CommDTM::CHART_CommDTM() : functionTable_(InitActiveXTable()) {}

CHART_CommDTM::~CHART_CommDTM() = default;

// Every interface of the object is answered from QueryInterface, also
// IDtmOnlineParameter and IDtmSingleDeviceDataAccess (EV_ONLINE_TRANSFER_ENTRIES,
// EV_DATA_ACCESS_ENTRIES): a frame reaches an FDT interface only through
// QueryInterface, so leaving them out of the map would leave the online
// download and upload requests and the device's data access unreachable.
const com::InterfaceEntry* CHART_CommDTM::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<CHART_CommDTM, IHART_CommDTM>(),
      com::entry<CHART_CommDTM, IDispatch, IHART_CommDTM>(),
      com::entry<CHART_CommDTM, IevFdtBaseDTM>(),
      com::entry<CHART_CommDTM, IDtm>(),
      com::entry<CHART_CommDTM, IDtm2>(),
      EV_PARAMETER_HANDLER_ENTRIES(CHART_CommDTM),
      EV_DTM_EVENTS_ENTRIES(CHART_CommDTM),
      EV_DTM_INFORMATION_ENTRIES(CHART_CommDTM),
      com::entry<CHART_CommDTM, IDtmParameter>(),
      com::entry<CHART_CommDTM, IDtmImportExport>(),
      com::entry<CHART_CommDTM, IevFdtExtDocument>(),
      com::entry<CHART_CommDTM, IDtmDocumentation>(),
      EV_ONLINE_TRANSFER_ENTRIES(CHART_CommDTM),
      EV_DATA_ACCESS_ENTRIES(CHART_CommDTM),
      EV_PERSISTENCE_ENTRIES(CHART_CommDTM),
      EV_FUNCTION_CONTAINER_ENTRIES(CHART_CommDTM),
      EV_CHANNEL_CONTAINER_ENTRIES(CHART_CommDTM),
      EV_AUDIT_TRAIL_ENTRIES(CHART_CommDTM),
      com::entry<CHART_CommDTM, IDtmInformation2>(),
      com::entry<CHART_CommDTM, IevFdtTranslation>(),
      com::entry<CHART_CommDTM, IevFdtDtmTranslation>(),
      com::entry<CHART_CommDTM, IevFdtTranslationEvent>(),
      com::entry<CHART_CommDTM, IevFDT_AboutInformations>(),
      com::endOfMap()};
  return map;
}

void CHART_CommDTM::CreateParameterTable() {
  CreateDtmParameterTable(this, nullptr);
  // Declared again for a data set begun or loaded after ShutdownDtm: the
  // registry's setting, read at construction, holds for that one too.
  if (settingsRead_) WriteParameter(hart_param::kNewDeviceDialogMode, *UI1(newDeviceDialogMode_).get());
}

HRESULT CHART_CommDTM::OnConstruct() {
  return com::guard([&]() -> HRESULT {
    HRESULT hr = BroadcastProperty(com::ui4(property_id::kLanguage).value(), com::Variant(LONG{0x400}).value());
    if (FAILED(hr)) return hr;
    CreateParameterTable();
    hr = SetState(kDtmConstructed);
    if (FAILED(hr)) return hr;

    INITCOMMONCONTROLSEX controls = {sizeof(controls), 0x1FF};
    ::InitCommonControlsEx(&controls);

    if (auto translation = DtmInterface<IevFdtDtmTranslation>()) {
      VARIANT_BOOL done = VARIANT_FALSE;
      translation->InitTranslation(&done);
    }
    DtmInterface<IevFdtExtDocument>();

    deviceTypeAccepted_ = 0;
    return ReadRegistrySettings();
  });
}

HRESULT CHART_CommDTM::ReadRegistrySettings() {
  DWORD dialogMode = new_device_dialog::kOpenWithoutWaiting;
  win32::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, hart_dtm::kSettingsKey, 0, KEY_READ, key.put()) ==
      ERROR_SUCCESS) {
    const std::wstring icon = ReadRegistryText(key.get(), hart_dtm::kIconPathValue, 1000);
    if (!icon.empty()) iconPath_ = com::Bstr(icon.c_str());
    DWORD value = 0;
    if (ReadRegistryNumber(key.get(), hart_dtm::kNewDeviceAddressValue, &value) && value <= 2)
      dialogMode = value;
    deviceTypes_ = 0;
    if (ReadRegistryNumber(key.get(), hart_dtm::kDeviceTypesValue, &value)) deviceTypes_ = value;
  }
  newDeviceDialogMode_ = static_cast<BYTE>(dialogMode);
  settingsRead_ = true;
  WriteParameter(hart_param::kNewDeviceDialogMode, *UI1(newDeviceDialogMode_).get());
  // The write marks the data set modified; a new DTM is modified anyway.
  if (auto storage = DtmInterface<IevFdtStorageState>()) storage->SetModified(1);
  return S_OK;
}

// ---- Checks before the communication is set or released --------------------

HRESULT CHART_CommDTM::CheckConfiguredDevice(IUnknown* communication, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    CHartDriverApi api;
    ScopedDriverBinding binding(api);
    com::Bstr reason;
    if (!binding.Load(reason.put())) {
      ReportText(reason.c_str());
      return S_FALSE;
    }
    com::Variant number;
    BYTE deviceNumber = 0;
    if (SUCCEEDED(ReadParameter(hart_param::kDeviceNumber, number.put())) &&
        SUCCEEDED(number.changeType(VT_UI1)))
      deviceNumber = V_UI1(number.get());
    uint8_t row[7] = {};
    const uint8_t status = api.GetDriverConfiguration(deviceNumber, row);
    if (status != 0) {
      // The configuration could not be read: that is what the user learns,
      // not that the device were of the wrong type.
      const UINT id = modem_messages::MessageIdOfStatus(status);
      const std::wstring fallback = L"(" + std::to_wstring(id) + L")";
      ReportText(UserMessage(id, nullptr, fallback.c_str()).c_str());
      return S_FALSE;
    }
    if (row[0] == 1 && deviceTypeAccepted_ == 1) {
      HRESULT hr = RequestAndWait(communication, result);
      return SUCCEEDED(hr) && *result ? S_OK : S_FALSE;
    }
    ReportText(UserMessage(hart_message::kWrongDeviceType, nullptr, L"(161)").c_str());
    return S_FALSE;
  });
}

HRESULT CHART_CommDTM::CheckScanInactive(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    com::Variant active;
    if (SUCCEEDED(GetParameterValue(com::ui4(hart_param::kScanActive).value(), active.put())) &&
        V_VT(active.get()) == VT_BOOL && V_BOOL(active.get()) != VARIANT_FALSE)
      return S_FALSE;
    return PostReleaseRequests(result);
  });
}

// ---- IHART_CommDTM -----------------------------------------------------------

// One DeviceDtmAdded call's wait, entered as the innermost for the time of
// the call. Its event is unnamed, manual reset, not signalled; without one
// the call does not wait.
struct CHART_CommDTM::AddressControlWait {
  AddressControlWait(CHART_CommDTM& dtm)
      : dtm(dtm), closed(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), outer(dtm.addressControlWait_) {
    dtm.addressControlWait_ = this;
  }
  ~AddressControlWait() { dtm.addressControlWait_ = outer; }
  AddressControlWait(const AddressControlWait&) = delete;
  AddressControlWait& operator=(const AddressControlWait&) = delete;

  CHART_CommDTM& dtm;
  win32::UniqueHandle closed;
  AddressControlWait* outer;
};

STDMETHODIMP CHART_CommDTM::DeviceDtmAdded(BSTR childSystemTag) {
  return com::guard([&]() -> HRESULT {
    const LONG state = State();
    if (state != kDtmInitialised && state != kDtmConfigured) return S_OK;
    if (UserRole() == kRoleObserver || DataSetLockedElsewhere()) return S_OK;
    WriteParameter(hart_param::kNewDeviceSystemTag, *com::Variant(childSystemTag).get());

    BYTE mode = new_device_dialog::kOpenWithoutWaiting;
    com::Variant value;
    if (SUCCEEDED(ReadParameter(hart_param::kNewDeviceDialogMode, value.put())) &&
        V_VT(value.get()) == VT_UI1)
      mode = V_UI1(value.get());
    if (mode == new_device_dialog::kNever) return S_OK;
    if (mode != new_device_dialog::kOpenAndWait) {
      VARIANT_BOOL opened = VARIANT_FALSE;
      OpenFunctionControl(hart_function::kNewDeviceDtmAddress, &opened);
      return S_OK;
    }

    // Entered before the frame is asked: the control may close before the
    // request returns.
    AddressControlWait wait(*this);
    VARIANT_BOOL opened = VARIANT_FALSE;
    HRESULT hr = OpenFunctionControl(hart_function::kNewDeviceDtmAddress, &opened);
    // The control ends the wait when it goes (ClosingSetDtmAddrActXNotification,
    // from its PrepareToRelease or, when the frame drops it unasked, its
    // destruction); window messages keep being served meanwhile. Only a
    // control the frame opened is waited for: a disabled function answers
    // S_FALSE with "opened" set although nothing opened. The DTM's shutdown
    // also ends the wait (SetState). A frame that never shows the control,
    // or loses it without a word, would hold this call (and with it the
    // frame's own call that added the device DTM) for good: the wait is
    // bounded, the user is told that the DTM no longer waits, and the
    // answer is S_FALSE.
    if (hr != S_OK || !opened || !wait.closed || WaitOneWithMessageLoop(wait.closed.get(), addressControlBound_))
      return S_OK;
    // The control, if the frame shows it, asks to be closed, and keeps quiet
    // when it goes: its late word would end the wait of a later call.
    // (Each control keeps the system tag it first showed.)
    SendMessageToControls(*com::ui4(hart_control_message::kNewDeviceWaitEnded).get(),
                          *com::Variant(childSystemTag).get(), com::Bstr(L"").get());
    ReportText(UserMessage(hart_message::kAddressControlNoAnswer, nullptr,
                           L"The address dialog of the new device DTM did not close in time: the DTM no "
                           L"longer waits for it.")
                   .c_str());
    return S_FALSE;
  });
}

// Ends the innermost waiting call's wait; nothing when no call waits.
STDMETHODIMP CHART_CommDTM::ClosingSetDtmAddrActXNotification() {
  if (addressControlWait_ && addressControlWait_->closed) ::SetEvent(addressControlWait_->closed.get());
  return S_OK;
}

// The frame's modal function call for a function id: its interface, the
// DTM's system tag and the function-call document.
struct CHART_CommDTM::DialogCall {
  com::ComPtr<IFrameDialogActiveX> frame;
  com::Bstr systemTag;
  com::Bstr document;

  // The frame returns when the control has closed; a false answer is E_FAIL.
  HRESULT Run() {
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = frame->OpenDialogActiveXControlRequest(systemTag.get(), document.get(), &done);
    if (FAILED(hr)) return hr;
    return done ? S_OK : E_FAIL;
  }
};

HRESULT CHART_CommDTM::PrepareDialogCall(LONG functionId, DialogCall* call) {
  if (!FrameObject() || FAILED(call->frame.queryFrom(FrameObject())) || !call->frame)
    return E_NOINTERFACE;
  HRESULT hr = GetSystemTag(call->systemTag.put());
  if (FAILED(hr)) return hr;
  return BuildFunctionCallXml(functionId, call->document.put());
}

STDMETHODIMP CHART_CommDTM::GetScanRangeViaGUI(long* start, long* end) {
  if (!start || !end) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    DialogCall call;
    HRESULT hr = PrepareDialogCall(hart_function::kScanRange, &call);
    if (FAILED(hr)) return hr;
    // The scan-range control starts from the whole range and writes the
    // user's choice back.
    hr = WriteParameter(hart_param::kScanRangeStart, com::Variant(LONG{0}).value());
    if (FAILED(hr)) return hr;
    hr = WriteParameter(hart_param::kScanRangeEnd, com::Variant(LONG{63}).value());
    if (FAILED(hr)) return hr;
    hr = call.Run();
    if (FAILED(hr)) return hr;

    com::Variant first, last;
    hr = ReadParameter(hart_param::kScanRangeStart, first.put());
    if (FAILED(hr) || V_VT(first.get()) != VT_I4) return E_UNEXPECTED;
    hr = ReadParameter(hart_param::kScanRangeEnd, last.put());
    if (FAILED(hr) || V_VT(last.get()) != VT_I4) return E_UNEXPECTED;
    *start = V_I4(first.get());
    *end = V_I4(last.get());
    return S_OK;
  });
}

STDMETHODIMP CHART_CommDTM::GetDeviceDtmAddressViaGUI(long* address) {
  if (!address) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    DialogCall call;
    HRESULT hr = PrepareDialogCall(hart_function::kAddressForDtm, &call);
    if (FAILED(hr)) return hr;
    hr = WriteParameter(hart_param::kNewAddress, com::Variant(LONG{*address}).value());
    if (FAILED(hr)) return hr;
    hr = WriteParameter(hart_param::kAddressCancelled, com::Variant(LONG{0}).value());
    if (FAILED(hr)) return hr;
    hr = call.Run();
    if (FAILED(hr)) return hr;

    com::Variant cancelled, chosen;
    hr = ReadParameter(hart_param::kAddressCancelled, cancelled.put());
    if (FAILED(hr) || V_VT(cancelled.get()) != VT_I4) return E_UNEXPECTED;
    if (V_I4(cancelled.get()) != 0) return E_ABORT;
    hr = ReadParameter(hart_param::kNewAddress, chosen.put());
    if (FAILED(hr) || V_VT(chosen.get()) != VT_I4) return E_UNEXPECTED;
    *address = V_I4(chosen.get());
    return S_OK;
  });
}

// ---- Configuration and events ----------------------------------------------

STDMETHODIMP CHART_CommDTM::Config(BSTR userInformation, VARIANT_BOOL* result) {
  return com::guard([&]() -> HRESULT {
    // The device type's name, read before the toolkit's Config as the data
    // set stands now; an unreadable data set accepts nothing.
    com::Bstr name;
    if (!dataSetReference_.empty()) DeviceTypeName(dataSetReference_.c_str(), name.put());
    const LONG before = State();
    HRESULT hr = BaseDtm::Config(userInformation, result);
    if (FAILED(hr)) return hr;
    // Only the configuration itself (7 to 8) takes the device type; a Config
    // the toolkit refused changes nothing, the user's DTM tag least of all.
    if (before != kDtmInitialised || State() != kDtmConfigured || !result || !*result) return hr;
    if (name.empty() || std::wcscmp(name.c_str(), hart_dtm::kDeviceTypeName) != 0) return hr;

    deviceTypeAccepted_ = 1;
    // The identification control shows the adapter's picture in every language.
    for (const wchar_t* locale : {L"locale[@code='en']", L"locale[@code='de']"}) {
      std::wstring path = L"localization/StringList/IdentCtrl_DeviceImage/";
      path += locale;
      com::ComPtr<IXMLDOMNode> node;
      if (SUCCEEDED(Translation().Document().SelectNode(path.c_str(), node.put())) && node)
        node->put_text(com::Bstr(kDeviceImageName).get());
    }
    // A data set from the frame's storage keeps the tag the user gave it.
    if (!loadedFromStream_) WriteParameter(hart_param::kDtmTag, *com::Variant(kDeviceName).get());
    return hr;
  });
}

STDMETHODIMP CHART_CommDTM::OnChildChanged(BSTR systemTag) {
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IHART_Channel> channel = FindHartChannel(GetCommDtmInterface());
    if (!channel) return E_POINTER;
    channel->ChildDtmChanged(systemTag);
    return S_OK;
  });
}

STDMETHODIMP CHART_CommDTM::SetState(long newState) {
  if (newState == kDtmNewDataSet) loadedFromStream_ = 0;
  if (newState == kDtmLoadedDataSet) loadedFromStream_ = 1;
  // A DTM shut down or deleted no longer waits for its new-device controls.
  if (newState == kDtmReleased || newState == kDtmPreparedToDelete)
    for (AddressControlWait* wait = addressControlWait_; wait; wait = wait->outer)
      if (wait->closed) ::SetEvent(wait->closed.get());
  return BaseDtm::SetState(newState);
}

STDMETHODIMP CHART_CommDTM::SelectDeviceTypeVersion(IDispatch* deviceTypeDocument,
                                                    VARIANT_BOOL* accepted) {
  if (!accepted) return E_POINTER;
  *accepted = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    // The data set keeps the device type element as XML (its text content
    // is empty), so that Config can read the device type's name back. A
    // frame declares the element's namespaces on its document's root: the
    // kept text declares them itself, or it would never parse again.
    com::ComPtr<IXMLDOMNode> document, deviceTypeNode;
    if (!deviceTypeDocument || FAILED(document.queryFrom(deviceTypeDocument)) || !document)
      return S_OK;
    if (document->selectSingleNode(com::Bstr(L"FDT/fdt:DtmDeviceType").get(),
                                   deviceTypeNode.put()) != S_OK ||
        !deviceTypeNode)
      return S_OK;
    com::Bstr deviceType, name, literal;
    if (FAILED(StandaloneElementXml(deviceTypeNode.get(), deviceType.put())) ||
        FAILED(DeviceTypeName(deviceType.c_str(), name.put())) ||
        !QuotedXPathLiteral(name.c_str(), literal.put()))
      return S_OK;
    dataSetReference_ = std::move(deviceType);
    // Accepted when the DTM's information document lists the device type.
    com::Bstr information;
    if (GetInformation(information.put()) != S_OK) return S_OK;
    com::ComPtr<IXMLDOMDocument2> info;
    if (FAILED(LoadOwnDocument(information.c_str(), info.put())) ||
        FAILED(UseFdtSelectionNamespace(info.get())))
      return S_OK;
    std::wstring xpath = L"//fdt:DtmDeviceType/fdt:VersionInformation[@name=";
    xpath += literal.c_str();
    xpath += L"]";
    if (XmlNodeExists(info.get(), xpath.c_str()) > 0) *accepted = VARIANT_TRUE;
    return S_OK;
  });
}

HRESULT CHART_CommDTM::LoadOwnDocument(const wchar_t* xml, IXMLDOMDocument2** document) {
  *document = nullptr;
  com::ComPtr<IXMLDOMDocument2> loaded;
  VARIANT_BOOL ok = VARIANT_FALSE;
  const HRESULT hr = Xml().LoadXMLDocumentOrUnchecked(xml, loaded.put(), &ok);
  if (FAILED(hr)) return hr;
  if (!ok || !loaded) return E_FAIL;
  *document = loaded.detach();
  return S_OK;
}

HRESULT CHART_CommDTM::DeviceTypeName(const wchar_t* deviceType, BSTR* name) {
  *name = nullptr;
  if (!deviceType || !*deviceType) return E_INVALIDARG;
  com::ComPtr<IXMLDOMDocument2> document;
  HRESULT hr = LoadOwnDocument(deviceType, document.put());
  if (FAILED(hr)) return hr;
  hr = UseFdtSelectionNamespace(document.get());
  if (FAILED(hr)) return hr;
  return XmlGetNodeText(document.get(), L"fdt:DtmDeviceType/fdt:VersionInformation/@name", name);
}

// ---- Helpers -----------------------------------------------------------------

HRESULT CHART_CommDTM::ReadParameter(ULONG id, VARIANT* value) {
  return GetParameterValue(com::ui4(id).value(), value);
}

HRESULT CHART_CommDTM::WriteParameter(ULONG id, const VARIANT& value) {
  return CevFDT_ParameterHandlerCore::WriteParameter(com::ui4(id).value(), value);
}

// Wide all the way to the frame: a text in a language the ANSI code page
// cannot write would reach the user as question marks.
void CHART_CommDTM::ReportText(const wchar_t* text) {
  if (!text || !*text) return;
  ReportMessageText(text);
}

com::Bstr CHART_CommDTM::UserMessage(UINT id, const wchar_t* name, const wchar_t* fallback) {
  com::Bstr text;
  if (FAILED(CTranslationHelper::GetUserMessage(GetCommDtmInterface(), static_cast<int>(id),
                                                name, text.put(), com::module().instance())) ||
      text.empty())
    text = com::Bstr(fallback ? fallback : L"");
  return text;
}

// ---- Information documents -------------------------------------------------

HRESULT CHART_CommDTM::BuildDeviceTypeXml(const wchar_t* name, const wchar_t* deviceTypeId,
                                          BSTR* out) {
  return BuildDeviceTypeFragment(IsFdt121Frame(), name, deviceTypeId, iconPath_.c_str(), out);
}

STDMETHODIMP CHART_CommDTM::GetInformation(BSTR* information) {
  if (!information) return E_INVALIDARG;
  *information = nullptr;
  return com::guard([&]() -> HRESULT {
    if (State() < kFirstInformationState || State() > kLastInformationState) return S_FALSE;
    com::Bstr deviceTypes;
    HRESULT hr = BuildDeviceTypeXml(hart_dtm::kDeviceTypeName, dtm_info::kDeviceTypeId,
                                    deviceTypes.put());
    if (FAILED(hr)) return hr;

    com::Bstr templateText, document;
    hr = GetDtmInfoXml(DtmInfoTemplateId(), templateText.put());
    if (FAILED(hr)) return hr;
    if (IsFdt121Frame()) {
      com::Bstr folder, schemaPath;
      DtmTranslation::ReadTranslationPath(folder.put());
      hr = EscapeXmlText(folder.c_str(), schemaPath.put());
      if (SUCCEEDED(hr))
        hr = FormatBstr(document.put(), templateText.c_str(), dtm_info::kDtmVersion,
                        dtm_info::kDtmDate, schemaPath.c_str(), deviceTypes.c_str());
    } else {
      hr = FormatBstr(document.put(), templateText.c_str(), dtm_info::kDtmVersion,
                      dtm_info::kDtmDate, deviceTypes.c_str());
    }
    if (FAILED(hr)) return hr;
    // The toolkit adds the device type's documents (FDT 1.2.1) and the
    // languages of the translation document.
    if (IsFdt121Frame()) {
      com::Bstr withDocuments;
      if (SUCCEEDED(AddDeviceTypeDocuments(document.c_str(), withDocuments.put())) &&
          withDocuments.get())
        document = std::move(withDocuments);
    }
    com::Bstr answer;
    AddSupportedLanguages(document.c_str(), answer.put());
    *information = answer.get() ? answer.detach() : document.detach();
    return S_OK;
  });
}

STDMETHODIMP CHART_CommDTM::GetDeviceTypeIdent(BSTR, BSTR, BSTR* identification) {
  if (!identification) return E_INVALIDARG;
  *identification = ::SysAllocString(kDeviceTypeIdentDocument);
  return *identification ? S_OK : E_OUTOFMEMORY;
}
