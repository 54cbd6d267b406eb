// The download of the channel's own parameters (the channel's parameter
// handler's download request). It runs in the channel's apartment, which is
// its owner DTM's: the stop question and the reports go to the owner, the
// progress notices through the owner to the frame.
#include "channel/hart_channel.h"
#include "toolkit/dtm/base_dtm.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/values/fdt_texts.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/text_helpers.h"

namespace hartdtm {

namespace {

const wchar_t kDownloadTitle[] = L"Download";

}  // namespace

HRESULT CHART_Channel::OnParamDownloadRequest(const VARIANT&, VARIANT_BOOL* done) {
  *done = VARIANT_FALSE;
  com::ComPtr<IevFdtBaseDTM> base;
  if (FAILED(Owner(base)) || !base) return E_NOINTERFACE;
  // An abort that came before this download ends it, and only it.
  if (TransferAborted()) {
    SetTransferAbortFlag(false);
    return E_ABORT;
  }
  long state = 0;
  if (FAILED(base->GetDtmState(&state)) || state != kDtmOnline) return E_FAIL;

  com::Variant list;
  HRESULT hr = GetParInfoList(list.get());
  if (FAILED(hr)) return hr;
  SAFEARRAY* ids = V_ARRAY(list.get());
  LONG upper = -1;
  ::SafeArrayGetUBound(ids, 1, &upper);
  const ULONG count = static_cast<ULONG>(upper + 1);

  ResetTransferProgress();
  ReportTransferProgress(0, count, kDownloadTitle);
  bool failed = false;
  for (LONG i = 0; i <= upper; ++i) {
    if (TransferAborted()) {
      SetTransferAbortFlag(false);
      ReportProgress(L"", 0, false);
      return E_ABORT;
    }
    com::Variant element;
    ULONG id = 0;
    hr = ::SafeArrayGetElement(ids, &i, element.get());
    if (SUCCEEDED(hr)) hr = CFdtVariant::GetUI4(element.value(), &id);
    if (FAILED(hr)) {
      ReportProgress(L"", 0, false);
      return hr;
    }
    ParInfo record;
    hr = DownloadParameter(id, &record);
    if (FAILED(hr)) {
      failed = true;
      com::Bstr report;
      FormatBstr(report.put(), L"%s: %s", record.name.c_str(), ErrorCodeText(hr).c_str());
      ReportToOwner(report.c_str());
      if (BaseDtm::AskStopTransfer(GetCommDtmInterface().get(), TransferKind::Download)) {
        ReportProgress(L"", 0, false);
        return S_OK;
      }
    }
    ReportTransferProgress(static_cast<ULONG>(i) + 1, count, kDownloadTitle);
  }
  // The abort flag belongs to this transfer; the next one starts clean.
  SetTransferAbortFlag(false);
  ReportProgress(kDownloadTitle, 100, false);
  if (failed) return S_OK;
  *done = VARIANT_TRUE;
  // Only a download that wrote every parameter leaves nothing to be loaded.
  SetDataState(kDataStateAllDataLoaded);
  return S_OK;
}

HRESULT CHART_Channel::DownloadParameter(ULONG parameterId, ParInfo* record) {
  HRESULT hr = GetParameter(parameterId, record);
  if (FAILED(hr)) return hr;
  com::Variant value(record->value.value());
  if (record->vt == (VT_ARRAY | VT_UI1) && value.type() == VT_BSTR) {
    com::Variant bytes;
    hr = CFdtVariant::FromHexString(bytes.get(), V_BSTR(value.get()), true);
    if (FAILED(hr)) return hr;
    value = std::move(bytes);
  }
  VARIANT_BOOL stored = VARIANT_FALSE;
  hr = StoreParameter(com::ui4(parameterId).value(), value.value(), &stored);
  if (FAILED(hr)) return hr;
  if (stored != VARIANT_TRUE) return E_FAIL;
  // Only what was written becomes the parameter's device value: a value
  // that never reached the device must still differ from it in a compare.
  ParInfo written;
  hr = GetParameter(parameterId, &written);
  if (FAILED(hr)) return hr;
  hr = written.initialValue.assign(value.value());
  if (SUCCEEDED(hr)) hr = SetParInfo(parameterId, kParInitialValue, written);
  if (FAILED(hr)) return hr;
  return SetParameterFlags(parameterId, written.flags & ~ULONG(kParFlagChanged));
}

com::Bstr CHART_Channel::ErrorCodeText(HRESULT code) {
  com::Bstr text;
  // The frame's text of an error code of a download (kind 2).
  if (FAILED(BytesToHex(frame_.get(), static_cast<ULONG>(code), false, text.put())) || !text.get())
    FormatBstr(text.put(), L"%08X", static_cast<unsigned>(code));
  return text;
}

}  // namespace hartdtm
