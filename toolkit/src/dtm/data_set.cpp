// The base DTM's data-set operations: the audit-trail switch, the frame's
// data-set lock, the working copy with the channels' initialisation and
// release, the device-type choice and the persisted data's format marker.
#include <string>

#include "com/Guard.h"
#include "com/StreamForm.h"
#include "toolkit/dtm/base_dtm.h"
#include "toolkit/values/frame_events.h"
#include "toolkit/values/message_wait.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xpath_literal.h"
#include "base_dtm_values.h"

namespace {

constexpr ULONG kUnlockFailedText = 1011;
const wchar_t kUnlockFailedFallback[] = L"UnlockDataSet failed. Please clean up database.";

}  // namespace

const wchar_t kDataSetFormatMarker[] = L"96B32FC9-45E3-447a-A88C-C854DCBDF12B";

// ---- Open controls (function container) ----------------------------------

ULONG BaseDtm::OpenControlCount() {
  com::ComPtr<IevFdtOpenControls> controls = DtmInterface<IevFdtOpenControls>();
  return controls ? controls->OpenControlCount() : 0;
}

bool BaseDtm::CloseClosableControls() {
  com::ComPtr<IevFdtOpenControls> controls = DtmInterface<IevFdtOpenControls>();
  return controls ? controls->CloseClosableControls() : true;
}

// ---- Audit trail -----------------------------------------------------------

STDMETHODIMP BaseDtm::SwitchAuditTrail(VARIANT on) {
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IevFdtAuditTrail> trail = DtmInterface<IevFdtAuditTrail>();
    if (!trail) return S_OK;
    com::Variant value;
    HRESULT hr = ::VariantChangeType(value.get(), &on, 0, VT_BOOL);
    if (FAILED(hr)) return hr;
    VARIANT_BOOL active = VARIANT_FALSE;
    hr = trail->SetAuditTrailActive(V_BOOL(value.get()), &active);
    return FAILED(hr) ? hr : S_OK;
  });
}

// ---- Data-set lock ---------------------------------------------------------

STDMETHODIMP BaseDtm::LockDataSet(VARIANT_BOOL count) {
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IFrameContainer> container;
    if (!frame_ || FAILED(frame_->QueryInterface(__uuidof(IFrameContainer), container.putVoid())) ||
        !container)
      return E_POINTER;
    if (count) ++dataSetLockCount_;
    unlockPending_ = 0;
    if (!dataSetLocked_ && !lockedElsewhere_) {
      com::Bstr tag(systemTag_.c_str());
      VARIANT_BOOL granted = VARIANT_FALSE;
      if (FAILED(container->LockDataSet(tag.get(), &granted))) granted = VARIANT_FALSE;
      dataSetLocked_ = granted ? 1 : 0;
    }
    return S_OK;
  });
}

STDMETHODIMP BaseDtm::ReleaseDataSetLock() {
  if (dataSetLockCount_ == 0) return E_UNEXPECTED;
  --dataSetLockCount_;
  if (dataSetLockCount_ == 0 && dataSetLocked_) unlockPending_ = 1;
  return UnlockDataSet();
}

STDMETHODIMP BaseDtm::UnlockDataSet() {
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IFrameContainer> container;
    if (!frame_ || FAILED(frame_->QueryInterface(__uuidof(IFrameContainer), container.putVoid())) ||
        !container)
      return E_POINTER;
    if (!unlockPending_ || dataSetLockCount_ != 0) return S_OK;
    if (com::ComPtr<IevFdtStorageState> storage = DtmInterface<IevFdtStorageState>()) {
      long modified = 0;
      if (SUCCEEDED(storage->GetModified(&modified)) && modified) return S_OK;
    }
    dataSetLocked_ = 0;
    unlockPending_ = 0;
    com::Bstr tag(systemTag_.c_str());
    VARIANT_BOOL unlocked = VARIANT_FALSE;
    if (FAILED(container->UnlockDataSet(tag.get(), &unlocked))) unlocked = VARIANT_FALSE;
    if (unlocked) return S_OK;
    com::Bstr text;
    if (FAILED(LoadResourceText(*com::ui4(kUnlockFailedText).get(), text.put())) ||
        text.empty())
      text.assign(kUnlockFailedFallback);
    if (frameEvents_)
      frame_events::Notify(frameEvents_.get(), frame_events::kErrorMessage, tag.get(), text.get());
    return E_FAIL;
  });
}

// ---- Channels and working copy ---------------------------------------------

STDMETHODIMP BaseDtm::InitChannels() {
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IevFdtChannelContainer4> channels = DtmInterface<IevFdtChannelContainer4>();
    if (!channels) return S_OK;
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = channels->AttachChannels(&done);
    if (FAILED(hr)) return hr;
    return done ? S_OK : E_UNEXPECTED;
  });
}

STDMETHODIMP BaseDtm::ReleaseChannels() {
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IevFdtChannelContainer4> channels = DtmInterface<IevFdtChannelContainer4>();
    if (!channels) return S_OK;
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = channels->ReleaseChannels(&done);
    if (FAILED(hr)) return hr;
    return done ? S_OK : E_UNEXPECTED;
  });
}

STDMETHODIMP BaseDtm::ReleaseDataSet() {
  HRESULT hr = ReleaseChannels();
  if (FAILED(hr)) return hr;
  return AfterChannelsReleased();
}

STDMETHODIMP BaseDtm::LoadWorkingCopy(VARIANT_BOOL) {
  return com::guard([&]() -> HRESULT {
    if (dataSetReference_.empty()) return E_UNEXPECTED;
    HRESULT hr = InitChannels();
    if (FAILED(hr)) {
      ReportMessage("Could not initialize the channels: 0x%08X!", static_cast<unsigned>(hr));
      DropFrame();
      return hr;
    }
    AfterWorkingCopyLoaded();
    return S_OK;
  });
}

HRESULT BaseDtm::RestoreDeclaredParameters() {
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IevFdtParameterStore> table = DtmInterface<IevFdtParameterStore>();
    if (!table) return S_OK;
    HRESULT hr = table->RemoveAllParameters();
    if (FAILED(hr)) return hr;
    CreateParameterTable();
    return S_OK;
  });
}

// Needs the optional transfer extension, which the DTM object does not offer.
STDMETHODIMP BaseDtm::CreateDataCopy(VARIANT* copy) {
  if (copy) ::VariantInit(copy);
  return E_POINTER;
}

// ---- Device type and format marker -----------------------------------------

STDMETHODIMP BaseDtm::SelectDeviceTypeVersion(IDispatch* deviceTypeDocument,
                                              VARIANT_BOOL* accepted) {
  if (!accepted) return E_POINTER;
  *accepted = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IXMLDOMNode> document;
    if (!deviceTypeDocument ||
        FAILED(deviceTypeDocument->QueryInterface(__uuidof(IXMLDOMNode), document.putVoid())) ||
        !document)
      return S_OK;
    com::ComPtr<IXMLDOMNode> deviceType;
    com::Bstr path(L"FDT/fdt:DtmDeviceType");
    if (document->selectSingleNode(path.get(), deviceType.put()) != S_OK || !deviceType)
      return S_OK;
    com::Bstr text;
    if (FAILED(XmlGetNodeText(deviceType.get(), L".", text.put()))) return S_OK;
    dataSetReference_ = std::move(text);
    if (dataSetReference_.empty()) return S_OK;

    // The name enters the query as a literal: a name with a quote would
    // otherwise rewrite the condition and match other device types.
    com::Bstr name, literal;
    if (FAILED(XmlGetNodeText(deviceType.get(), L"./fdt:VersionInformation/@name", name.put())) ||
        !QuotedXPathLiteral(name.c_str(), literal.put()))
      return S_OK;
    com::ComPtr<IDtmInformation> information = DtmInterface<IDtmInformation>();
    com::Bstr info;
    if (!information || information->GetInformation(info.put()) != S_OK || info.empty())
      return S_OK;
    com::ComPtr<IXMLDOMDocument2> infoDocument;
    if (LoadDocument(info.c_str(), infoDocument.put()) != S_OK) return S_OK;
    std::wstring xpath = L"//fdt:DtmDeviceType[ fdt:VersionInformation/@name=";
    xpath += literal.c_str();
    xpath += L" ]";
    // XmlNodeExists answers 1 for a node found.
    if (XmlNodeExists(infoDocument.get(), xpath.c_str()) > 0) *accepted = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP BaseDtm::CheckStreamSignature(IStream* stream, VARIANT_BOOL* valid) {
  if (!valid) return E_POINTER;
  *valid = VARIANT_FALSE;
  if (!stream) return E_POINTER;
  return com::guard([&]() -> HRESULT {
    com::Bstr marker;
    HRESULT hr = com::readBstr(stream, marker);
    if (FAILED(hr)) return hr;
    com::Bstr expected(kDataSetFormatMarker);
    if (marker.get() &&
        ::VarBstrCmp(marker.get(), expected.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ)
      *valid = VARIANT_TRUE;
    return S_OK;
  });
}
