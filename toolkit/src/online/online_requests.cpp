// The online requests of the frame: IDtmOnlineParameter (download, upload,
// cancel), IDtmOnlineDiagnosis (compare with the device, device status) and
// the DTM's own compare behind them.
#include "toolkit/online/online_transfer.h"

#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/values/fdt_texts.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/text_helpers.h"

namespace {

// Document texts of the FDT compare and device-status schemas.
const wchar_t kCompareDocument[] =
    L"<?xml version=\"1.0\"?> <FDT xmlns=\"x-schema:DTMOnlineCompareSchema.xml\" "
    L"\t\txmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"> \t%s </FDT> ";
const wchar_t kCompareResult[] = L"<CompareResult statusFlag=\"%s\"/> ";
const wchar_t kCommunicationError[] =
    L"<fdt:CommunicationError communicationError=\"dtmSpecific\" tag=\"tag\"/>";
const wchar_t kDeviceStatusDocument[] =
    L"<?xml version=\"1.0\"?> <FDT xmlns=\"x-schema:DTMDeviceStatusSchema.xml\" "
    L"\t\txmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"> \t<DtmDeviceStatus "
    L"fdt:statusFlag=\"%s\"/> </FDT> ";
const wchar_t* const kStatusTexts[] = {L"ok", L"warning", L"error", L"invalid"};

constexpr ULONG kStatusOk = 0;
constexpr ULONG kStatusError = 2;

bool IsCompared(const ParInfo& p) {
  return p.kind == kParKindDevice && (p.flags & kParFlagOnlineRead) && p.persist == 1;
}

bool IsReadOnline(const ParInfo& p) {
  return p.kind == kParKindDevice && (p.flags & kParFlagOnlineRead);
}

}  // namespace

HRESULT BuildCompareDocument(const wchar_t* body, BSTR* out) {
  return FormatBstr(out, kCompareDocument, body ? body : L"");
}

HRESULT BuildCompareResult(bool equal, BSTR* out) {
  return FormatBstr(out, kCompareResult, equal ? L"equal" : L"notEqual");
}

HRESULT BuildNothingComparedResult(BSTR* out) {
  return FormatBstr(out, kCompareResult, L"noComparableData");
}

HRESULT BuildCommunicationErrorFragment(BSTR* out) {
  return FormatBstr(out, L"%s", kCommunicationError);
}

HRESULT BuildDeviceStatusDocument(ULONG status, BSTR* out) {
  if (status > 3) return E_INVALIDARG;
  return FormatBstr(out, kDeviceStatusDocument, kStatusTexts[status]);
}

// ---------------------------------------------------------------------------
// Entry check
// ---------------------------------------------------------------------------

bool OnlineTransferCore::OnlineAllowed(bool compareStates) {
  BaseDtm& dtm = OnlineDtm();
  if (dtm.UserRole() <= kRoleObserver) return false;
  const LONG state = dtm.State();
  if (state == kDtmCommunicationSet || state == kDtmGoingOnline || state == kDtmOnline) return true;
  return compareStates && (state == kDtmConfigured || state == kDtmGoingOffline);
}

// ---------------------------------------------------------------------------
// IDtmOnlineParameter
// ---------------------------------------------------------------------------

STDMETHODIMP OnlineTransferCore::StartOnlineAction(BSTR invokeId, VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!OnlineAllowed(false)) return S_FALSE;
    const HRESULT hr = OnlineDtm().PostText(dtm_command::kCancelTransfer, invokeId ? invokeId : L"");
    if (FAILED(hr)) return hr;
    *done = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP OnlineTransferCore::DownloadRequest(BSTR invokeId, BSTR parameterPath,
                                                 VARIANT_BOOL* accepted) {
  if (!accepted) return E_POINTER;
  *accepted = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = OnlineDtm();
    if (dtm.UserRole() <= kRoleObserver) return S_FALSE;
    const LONG state = dtm.State();
    if (state != kDtmCommunicationSet && state != kDtmGoingOnline && state != kDtmOnline)
      return S_FALSE;
    const HRESULT online = dtm.ReachOnline();
    if (FAILED(online)) return S_FALSE;
    if (online != S_OK) {
      ReportToolkitMessage(transfer_message::kDownloadNotOnline);
      return S_FALSE;
    }
    const HRESULT hr = dtm.PostOnlineRequest(dtm_command::kDownload, invokeId, parameterPath);
    if (hr == E_FAIL) return S_FALSE;
    if (FAILED(hr)) return hr;
    *accepted = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP OnlineTransferCore::UploadRequest(BSTR invokeId, BSTR parameterPath,
                                               VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!OnlineAllowed(false)) return S_FALSE;
    BaseDtm& dtm = OnlineDtm();
    const HRESULT online = dtm.ReachOnline();
    if (FAILED(online)) return S_FALSE;
    if (online != S_OK) {
      ReportToolkitMessage(transfer_message::kUploadNotOnline);
      return S_FALSE;
    }
    if (FAILED(dtm.PostOnlineRequest(dtm_command::kUpload, invokeId, parameterPath)))
      return S_FALSE;
    *done = VARIANT_TRUE;
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// IDtmOnlineDiagnosis
// ---------------------------------------------------------------------------

STDMETHODIMP OnlineTransferCore::OnlineCompare(BSTR* document) {
  if (!document) return E_INVALIDARG;
  *document = nullptr;
  return com::guard([&]() -> HRESULT {
    if (!OnlineAllowed(false)) return S_FALSE;
    BaseDtm& dtm = OnlineDtm();
    com::Bstr body;
    if (dtm.ReachOnline() != S_OK) {
      HRESULT hr = BuildCommunicationErrorFragment(body.put());
      if (FAILED(hr)) return hr;
    } else if (!HasComparedParameter()) {
      // The DTM's compare would answer "not equal" for a set without a
      // compared parameter (all of them kept by the DTM alone): the
      // frame is told that there was nothing to compare instead.
      HRESULT hr = BuildNothingComparedResult(body.put());
      if (FAILED(hr)) return hr;
    } else {
      com::Bstr text;
      VARIANT_BOOL equal = VARIANT_TRUE;
      HRESULT hr = dtm.CompareDeviceParameters(text.put(), &equal);
      if (FAILED(hr)) return hr;
      if (!text.empty()) {
        body = std::move(text);
      } else {
        hr = BuildCompareResult(equal == VARIANT_TRUE, body.put());
        if (FAILED(hr)) return hr;
      }
    }
    return BuildCompareDocument(body.c_str(), document);
  });
}

STDMETHODIMP OnlineTransferCore::GetDeviceStatus(BSTR* document) {
  if (!document) return E_POINTER;
  *document = nullptr;
  return com::guard([&]() -> HRESULT {
    if (!OnlineAllowed(false)) return S_FALSE;
    const ULONG status = OnlineDtm().ReachOnline() == S_OK ? ReadDeviceStatus() : kStatusError;
    return BuildDeviceStatusDocument(status, document);
  });
}

bool OnlineTransferCore::HasComparedParameter() {
  CevFDT_ParameterHandlerCore& handler = OnlineHandler();
  ULONG count = 0;
  if (FAILED(handler.GetParameterCount(&count))) return true;  // let the compare report it
  for (ULONG i = 0; i < count; ++i) {
    ParInfo record;
    if (FAILED(handler.GetParameterAt(i, &record)) || IsCompared(record)) return true;
  }
  return false;
}

ULONG OnlineTransferCore::ReadDeviceStatus() {
  CevFDT_ParameterHandlerCore& handler = OnlineHandler();
  ULONG count = 0;
  if (FAILED(handler.GetParameterCount(&count))) return kStatusError;
  ULONG status = kStatusOk;
  OnlineHandler().ResetTransferProgress();
  for (ULONG i = 0; i < count && status == kStatusOk; ++i) {
    ParInfo record;
    if (FAILED(handler.GetParameterAt(i, &record))) {
      status = kStatusError;
      break;
    }
    if (!IsReadOnline(record)) continue;
    ReportTransferProgress(i, count, L"");
    if (!handler.ReadFromDevice(record.id)) status = kStatusError;
  }
  EndTransferProgress();
  return status;
}

// ---------------------------------------------------------------------------
// The DTM's compare
// ---------------------------------------------------------------------------

HRESULT OnlineTransferCore::CompareDevice(BSTR* text, VARIANT_BOOL* equal) {
  if (!text || !equal) return E_POINTER;
  *text = nullptr;
  *equal = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    CevFDT_ParameterHandlerCore& handler = OnlineHandler();
    ULONG count = 0;
    HRESULT hr = handler.GetParameterCount(&count);
    if (FAILED(hr)) return hr;
    OnlineHandler().ResetTransferProgress();
    bool same = false;
    for (ULONG i = 0; i < count; ++i) {
      ParInfo record;
      hr = handler.GetParameterAt(i, &record);
      if (FAILED(hr)) break;
      if (!IsCompared(record)) continue;
      ReportTransferProgress(i, count, L"");
      if (!handler.ReadFromDevice(record.id)) {
        same = false;
        hr = BuildCommunicationErrorFragment(text);
        break;
      }
      // The read stored the device's value as the parameter's device value.
      hr = handler.GetParameter(record.id, &record);
      if (FAILED(hr)) break;
      same = CFdtVariant::IsEqual(record.initialValue.value(), record.value.value());
      if (!same) break;
    }
    EndTransferProgress();
    if (FAILED(hr)) return hr;
    *equal = same ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

HRESULT OnlineTransferCore::CompareDeviceEx(const VARIANT&, BSTR* text, VARIANT_BOOL* equal) {
  if ((text && *text && **text) || (equal && *equal == VARIANT_FALSE)) return S_OK;
  // The compare extension of the communication part is not part of this
  // system; the caller falls back to the DTM's own compare.
  return E_POINTER;
}
