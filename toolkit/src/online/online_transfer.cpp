// Upload and download of the device parameters, the transfer bracket,
// progress, transfer groups and the stop question.
#include "toolkit/online/online_transfer.h"

#include <string>

#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "outside.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/user_messages.h"

namespace {

constexpr LONG kGroupModeUpload = 1;
constexpr LONG kGroupModeDownload = 2;
// Transfer events of the bulk path.
constexpr ULONG kBulkUploadBegins = 0x11, kBulkUploadDone = 0x21, kBulkUploadFailed = 0x41;
constexpr ULONG kBulkDownloadBegins = 0x16, kBulkDownloadDone = 0x26, kBulkDownloadFailed = 0x46;

// The size of one element of an id array the provider may give: the
// integer types, copied into a VARIANT of their own type, and VARIANT; 0 for
// every other type, whose elements do not fit an integer's place.
UINT IdElementSize(VARTYPE element) {
  switch (element) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: return 4;
    case VT_I8: case VT_UI8: return 8;
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

// Ids of a one-dimensional VT_ARRAY of integers or VARIANTs. The array must
// be what its VARIANT says: an outside provider's array of any other
// element type, or one whose elements are of another size, is refused.
HRESULT IdsFromArray(const VARIANT& value, std::vector<ULONG>* ids) {
  if (!(V_VT(&value) & VT_ARRAY) || !V_ARRAY(&value)) return E_INVALIDARG;
  SAFEARRAY* array = V_ARRAY(&value);
  const VARTYPE element = V_VT(&value) & VT_TYPEMASK;
  const UINT size = IdElementSize(element);
  if (size == 0 || ::SafeArrayGetElemsize(array) != size) return E_INVALIDARG;
  VARTYPE stored = VT_EMPTY;
  if (SUCCEEDED(::SafeArrayGetVartype(array, &stored)) && stored != element) return E_INVALIDARG;
  if (::SafeArrayGetDim(array) != 1) return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  ::SafeArrayGetLBound(array, 1, &lower);
  ::SafeArrayGetUBound(array, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    com::Variant item;
    HRESULT hr = S_OK;
    if (element == VT_VARIANT) {
      hr = ::SafeArrayGetElement(array, &i, item.get());
    } else {
      V_VT(item.get()) = element;
      hr = ::SafeArrayGetElement(array, &i, &V_UI1(item.get()));
      if (FAILED(hr)) V_VT(item.get()) = VT_EMPTY;
    }
    if (FAILED(hr)) return hr;
    ULONG id = 0;
    hr = CFdtVariant::GetUI4(item.value(), &id);
    if (FAILED(hr)) return hr;
    ids->push_back(id);
  }
  return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------
// Progress, bracket, abort
// ---------------------------------------------------------------------------

void OnlineTransferCore::ReportTransferProgress(ULONG index, ULONG count, const wchar_t* text) {
  OnlineHandler().ReportTransferProgress(index, count, text);
}

void OnlineTransferCore::EndTransferProgress() { OnlineHandler().ReportProgress(L"", 0, false); }

void OnlineTransferCore::OpenTransferBracket() {
  ++bracketDepth_;
  bracketRunning_ = true;
  OnlineHandler().HoldDataSetNotice();
}

void OnlineTransferCore::CloseTransferBracket() {
  if (bracketDepth_ == 0) return;
  --bracketDepth_;
  CevFDT_ParameterHandlerCore& handler = OnlineHandler();
  const bool pending = handler.DataSetNoticePending();
  if (bracketDepth_ > 0 || !bracketRunning_) {
    handler.ReleaseDataSetNotice();
    return;
  }
  bracketRunning_ = false;
  BaseDtm& dtm = OnlineDtm();
  // With a persistence part the released hold marks the data set modified,
  // and that part tells the frame; without one the frame is told here.
  const bool storage = static_cast<bool>(dtm.DtmInterface<IevFdtStorageState>());
  handler.ReleaseDataSetNotice();
  if (!pending || storage) return;
  com::ComPtr<IFrameContainer> container;
  if (IUnknown* frame = dtm.FrameObject())
    frame->QueryInterface(__uuidof(IFrameContainer), container.putVoid());
  if (!container) return;
  com::Bstr tag;
  if (FAILED(dtm.GetSystemTag(tag.put()))) return;
  VARIANT_BOOL unused = VARIANT_FALSE;
  container->SaveRequest(tag.get(), &unused);
}

bool OnlineTransferCore::TakeAbort() {
  CevFDT_ParameterHandlerCore& handler = OnlineHandler();
  if (!handler.TransferAborted()) return false;
  handler.SetTransferAbortFlag(false);
  return true;
}

void OnlineTransferCore::ReportToolkitMessage(ULONG id) {
  com::Bstr text;
  GetToolkitMessage(OnlineDtm().GetCommDtmInterface(), id, ToolkitMessageUser::Dtm, text.put());
  if (!text.empty()) OnlineDtm().ReportMessageText(text.c_str());
}

// ---------------------------------------------------------------------------
// Device calls, groups, error prompt
// ---------------------------------------------------------------------------

HRESULT OnlineTransferCore::TransferGroup(ULONG parameterId, LONG mode, std::vector<ULONG>* ids) {
  ids->clear();
  auto provider = OnlineDtm().DtmInterface<ITransferGroupProvider>();
  if (!provider) {
    ids->push_back(parameterId);
    return S_OK;
  }
  com::Variant group;
  HRESULT hr = provider->GetTransferGroup(com::Variant(mode).value(), com::ui4(parameterId).value(),
                                          group.get());
  // A provider that gives no group skips the parameter.
  if (FAILED(hr) || FAILED(IdsFromArray(group.value(), ids))) ids->clear();
  return S_OK;
}

bool OnlineTransferCore::TransferError(const ParInfo& record, TransferKind kind) {
  BaseDtm& dtm = OnlineDtm();
  BSTR error = OnlineHandler().LastDeviceError();
  if (error && *error) {
    com::Bstr text;
    if (SUCCEEDED(FormatBstr(text.put(), L"%s: %s", record.name.c_str() ? record.name.c_str() : L"",
                             error)))
      dtm.ReportMessageText(text.c_str());
  }
  return dtm.AskStopTransfer(kind);
}

// ---------------------------------------------------------------------------
// Bulk path
// ---------------------------------------------------------------------------

HRESULT OnlineTransferCore::BulkTransfer(bool upload, VARIANT_BOOL* done) {
  *done = VARIANT_FALSE;
  BaseDtm& dtm = OnlineDtm();
  auto extension = dtm.DtmInterface<ITransferExtension>();
  if (!extension) return S_FALSE;
  auto bulk = dtm.DtmInterface<IBulkTransfer>();
  if (!bulk) return E_NOINTERFACE;
  // The aggregating object's list of the direction, made for this transfer.
  CevFDT_ParameterHandlerCore& handler = OnlineHandler();
  com::Variant list;
  HRESULT built = upload ? handler.BuildUploadList(list.get()) : handler.BuildDownloadList(list.get());
  if (FAILED(built)) return built;
  handler.TransferParameterArray(list.value(), upload ? kBulkUploadBegins : kBulkDownloadBegins);
  const HRESULT hr = upload ? bulk->UploadList(list.value(), -1, done)
                            : bulk->DownloadList(list.value(), -1, done);
  const bool ok = SUCCEEDED(hr) && *done == VARIANT_TRUE;
  handler.TransferParameterArray(
      list.value(), upload ? (ok ? kBulkUploadDone : kBulkUploadFailed)
                           : (ok ? kBulkDownloadDone : kBulkDownloadFailed));
  if (FAILED(hr)) *done = VARIANT_FALSE;
  return hr;
}

// ---------------------------------------------------------------------------
// Download
// ---------------------------------------------------------------------------

HRESULT OnlineTransferCore::DownloadParameterSet(VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    OnlineHandler().ResetTransferProgress();
    // An abort that came before this download ends it, and only it.
    if (TakeAbort()) return E_ABORT;
    if (OnlineDtm().State() != kDtmOnline) return E_FAIL;

    HRESULT hr = S_OK;
    VARIANT_BOOL bulkDone = VARIANT_FALSE;
    if (OnlineDtm().DtmInterface<ITransferExtension>()) {
      TransferBracket bracket(*this);
      hr = BulkTransfer(false, &bulkDone);
    }
    // The loop runs outside the bracket: a download's changes are told to
    // the frame as they come.
    if (SUCCEEDED(hr) && bulkDone == VARIANT_TRUE) {
      *done = VARIANT_TRUE;
    } else {
      hr = DownloadLoop(done);
    }
    // The abort belonged to this transfer; the next one starts clean.
    OnlineHandler().SetTransferAbortFlag(false);
    if (FAILED(hr)) return hr;
    EndTransferProgress();
    // Only a download that wrote every parameter leaves the data set and the
    // device alike.
    if (*done == VARIANT_TRUE) OnlineHandler().SetDataState(kDataStateAllDataLoaded);
    return S_OK;
  });
}

HRESULT OnlineTransferCore::DownloadLoop(VARIANT_BOOL* done) {
  *done = VARIANT_FALSE;
  CevFDT_ParameterHandlerCore& handler = OnlineHandler();
  ULONG count = 0;
  HRESULT hr = handler.GetParameterCount(&count);
  if (FAILED(hr)) return hr;
  bool anyError = false;

  for (ULONG i = 0; i < count; ++i) {
    if (handler.TransferAborted()) {
      ReportTransferProgress(0, count, L"");
      return E_ABORT;
    }
    ParInfo record;
    hr = handler.GetParameterAt(i, &record);
    if (FAILED(hr)) return hr;
    if (!CevFDT_ParameterHandlerCore::TakesPartInDownload(record)) {
      ReportTransferProgress(i, count, L"Download");
      continue;
    }
    if (OnlineDtm().State() != kDtmOnline) {
      ReportTransferProgress(i, count, L"");
      return E_FAIL;
    }
    std::vector<ULONG> group;
    TransferGroup(record.id, kGroupModeDownload, &group);
    if (group.empty()) continue;
    // The device value of every member is what is about to be written.
    for (ULONG member : group) {
      ParInfo memberRecord;
      hr = handler.GetParameter(member, &memberRecord);
      if (FAILED(hr)) return hr;
      memberRecord.initialValue = memberRecord.value;
      hr = handler.SetParInfo(member, kParInitialValue, memberRecord);
      if (FAILED(hr)) return hr;
    }
    if (handler.WriteToDevice(record.id, record.value.value())) {
      for (ULONG member : group) {
        ParInfo memberRecord;
        hr = handler.GetParameter(member, &memberRecord);
        if (FAILED(hr)) return hr;
        hr = handler.SetParameterFlags(member, memberRecord.flags & ~ULONG(kParFlagChanged));
        if (FAILED(hr)) return hr;
      }
      ReportTransferProgress(i, count, L"Download");
      continue;
    }
    anyError = true;
    if (TransferError(record, TransferKind::Download))
      return S_OK;
  }
  if (!anyError) *done = VARIANT_TRUE;
  return S_OK;
}

// ---------------------------------------------------------------------------
// Upload
// ---------------------------------------------------------------------------

HRESULT OnlineTransferCore::UploadParameterSet() {
  return com::guard([&]() -> HRESULT {
    OnlineHandler().ResetTransferProgress();
    if (TakeAbort()) return E_ABORT;
    BaseDtm& dtm = OnlineDtm();
    if (dtm.State() != kDtmOnline) return E_FAIL;
    VARIANT_BOOL done = VARIANT_FALSE;
    {
      // Lock, running flag and bracket are given back on every way out.
      DataSetLockHold lock(dtm);
      if (!lock.Granted()) return E_FAIL;
      struct RunningFlag {
        bool& flag;
        explicit RunningFlag(bool& f) : flag(f) { flag = true; }
        ~RunningFlag() { flag = false; }
      } running(uploadRunning_);
      TransferBracket bracket(*this);
      HRESULT hr = BulkTransfer(true, &done);
      if (FAILED(hr) || done != VARIANT_TRUE) UploadLoop(&done);
    }
    OnlineHandler().SetTransferAbortFlag(false);
    EndTransferProgress();
    if (done != VARIANT_TRUE) return E_FAIL;
    OnlineHandler().SetDataState(kDataStateAllDataLoaded);
    return S_OK;
  });
}

HRESULT OnlineTransferCore::UploadLoop(VARIANT_BOOL* done) {
  *done = VARIANT_FALSE;
  CevFDT_ParameterHandlerCore& handler = OnlineHandler();
  ULONG count = 0;
  HRESULT hr = handler.GetParameterCount(&count);
  if (FAILED(hr)) return hr;
  bool anyError = false;
  std::vector<ULONG> read;

  for (ULONG i = 0; i < count; ++i) {
    if (handler.TransferAborted()) return E_ABORT;
    ParInfo record;
    hr = handler.GetParameterAt(i, &record);
    if (FAILED(hr)) return hr;
    if (CevFDT_ParameterHandlerCore::TakesPartInUpload(record)) {
      if (OnlineDtm().State() != kDtmOnline) return E_FAIL;
      if (handler.ReadFromDevice(record.id)) {
        read.push_back(record.id);
      } else {
        anyError = true;
        if (TransferError(record, TransferKind::Upload))
          return E_FAIL;
      }
    }
    ReportTransferProgress(i, count, L"Upload");
  }
  hr = ConfirmUpload(read);
  if (FAILED(hr)) return hr;
  if (!anyError) *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT OnlineTransferCore::ConfirmUpload(const std::vector<ULONG>& ids) {
  CevFDT_ParameterHandlerCore& handler = OnlineHandler();
  const ULONG count = static_cast<ULONG>(ids.size());
  for (ULONG k = 0; k < count; ++k) {
    std::vector<ULONG> group;
    TransferGroup(ids[k], kGroupModeUpload, &group);
    if (group.empty()) continue;
    for (ULONG member : group) {
      ParInfo record;
      HRESULT hr = handler.GetParameter(member, &record);
      if (FAILED(hr)) return hr;
      VARIANT_BOOL valid = VARIANT_FALSE;
      hr = handler.ValidateValue(com::ui4(member).value(), record.initialValue.value(), &valid);
      if (FAILED(hr)) return hr;
      if (valid != VARIANT_TRUE) return E_FAIL;
      // The value read from the device becomes the data set's value.
      hr = handler.WriteCore(member, record.initialValue.value(), true);
      if (FAILED(hr)) return hr;
      hr = handler.GetParameter(member, &record);
      if (FAILED(hr)) return hr;
      hr = handler.SetParameterFlags(member, record.flags & ~ULONG(kParFlagChanged));
      if (FAILED(hr)) return hr;
    }
    ReportTransferProgress(k, count, L"Upload");
  }
  return S_OK;
}
