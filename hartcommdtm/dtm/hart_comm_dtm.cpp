#include "dtm/hart_comm_dtm.h"

#include <commctrl.h>

#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "dtm/dtm_ids.h"
#include "dtm/dtm_information_docs.h"
#include "dtm/dtm_parameters.h"
#include "toolkit/values/message_wait.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/xml_dom.h"

namespace {

com::Variant UI4(ULONG value) {
  com::Variant v;
  V_VT(v.get()) = VT_UI4;
  V_UI4(v.get()) = value;
  return v;
}

com::Variant UI1(BYTE value) {
  com::Variant v;
  V_VT(v.get()) = VT_UI1;
  V_UI1(v.get()) = value;
  return v;
}

com::Variant I4(LONG value) {
  com::Variant v;
  V_VT(v.get()) = VT_I4;
  V_I4(v.get()) = value;
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

// The DTM answers its information document in these states.
constexpr LONG kFirstInformationState = 6;
constexpr LONG kLastInformationState = 12;

}  // namespace

CHART_CommDTM::CHART_CommDTM() {
  // Manual reset, not signalled. A failure leaves it null; the methods that
  // use it then skip it.
  waitEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

CHART_CommDTM::~CHART_CommDTM() = default;

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
      com::entry<CHART_CommDTM, IDtmInformation2>(),
      com::entry<CHART_CommDTM, IevFdtTranslation>(),
      com::entry<CHART_CommDTM, IevFdtDtmTranslation>(),
      com::entry<CHART_CommDTM, IevFdtTranslationEvent>(),
      com::entry<CHART_CommDTM, IevFDT_AboutInformations>(),
      com::endOfMap()};
  return map;
}

void CHART_CommDTM::CreateParameterTable() { CreateDtmParameterTable(this, nullptr); }

HRESULT CHART_CommDTM::OnConstruct() {
  return com::guard([&]() -> HRESULT {
    HRESULT hr = BroadcastProperty(*UI4(dtm_property::kLanguage).get(), *I4(0x400).get());
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
  WriteParameter(*UI4(hart_param::kNewDeviceDialogMode).get(),
                 *UI1(static_cast<BYTE>(dialogMode)).get());
  // The write marks the data set modified; a new DTM is modified anyway.
  if (auto storage = DtmInterface<IevFdtStorageState>()) storage->SetModified(1);
  return S_OK;
}

// ---- Checks before the communication is set or released --------------------

HRESULT CHART_CommDTM::CheckConfiguredDevice(IUnknown* communication, VARIANT_BOOL* result) {
  return RequestAndWait(communication, result);
}

HRESULT CHART_CommDTM::CheckScanInactive(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    com::Variant active;
    if (SUCCEEDED(GetParameterValue(*UI4(hart_param::kScanActive).get(), active.put())) &&
        V_VT(active.get()) == VT_BOOL && V_BOOL(active.get()) != VARIANT_FALSE)
      return S_FALSE;
    return PostReleaseRequests(result);
  });
}

// ---- IHART_CommDTM -----------------------------------------------------------

STDMETHODIMP CHART_CommDTM::DeviceDtmAdded(BSTR childSystemTag) {
  return S_OK;
}

STDMETHODIMP CHART_CommDTM::ClosingSetDtmAddrActXNotification() {
  if (waitEvent_) ::SetEvent(waitEvent_.get());
  return S_OK;
}

STDMETHODIMP CHART_CommDTM::GetScanRangeViaGUI(long* start, long* end) { return E_NOTIMPL; }

STDMETHODIMP CHART_CommDTM::GetDeviceDtmAddressViaGUI(long* address) {
  if (!address) return E_INVALIDARG;
  return E_NOTIMPL;
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
