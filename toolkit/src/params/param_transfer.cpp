// The parameter handler's transfer events (the transfer-list handler table,
// the search through ITransferExtension's lists, and the calls of the
// handlers found), the list of the parameters a download transfers, and the
// progress notices of a transfer.
#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/progress_steps.h"
#include "toolkit/values/safe_array.h"
#include "toolkit/values/va_packer.h"
#include "toolkit/params/param_handler.h"

namespace {

constexpr ULONG kDirectionBits = 0x1 | 0x2 | 0x4;
constexpr ULONG kPhaseBits[] = {0x8, 0x10, 0x20, 0x40};

ULONG word(const VARIANT& v) {
  ULONG out = 0;
  return SUCCEEDED(CFdtVariant::GetUI4(v, &out)) ? out : 0;
}

// Walks a VARIANT array from its lower bound: visit(element) answers true to
// stop. VT_EMPTY is an empty array; an array VARIANT without an array, or
// anything else, gives E_INVALIDARG. An element that cannot be taken ends
// the walk with its HRESULT.
template <class Visit>
HRESULT forEachElement(const VARIANT& list, Visit visit) {
  if (V_VT(&list) == VT_EMPTY) return S_OK;
  if (V_VT(&list) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(&list)) return E_INVALIDARG;
  SAFEARRAY* array = V_ARRAY(&list);
  if (::SafeArrayGetDim(array) != 1) return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  ::SafeArrayGetLBound(array, 1, &lower);
  ::SafeArrayGetUBound(array, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    com::Variant element;
    HRESULT hr = ::SafeArrayGetElement(array, &i, element.get());
    if (FAILED(hr)) return hr;
    if (visit(element)) break;
  }
  return S_OK;
}

bool sameListName(const VARIANT& a, const VARIANT& b) {
  if (V_VT(&a) == VT_NULL && V_VT(&b) == VT_NULL) return true;
  return V_VT(&a) == V_VT(&b) &&
         ::VarCmp(const_cast<VARIANT*>(&a), const_cast<VARIANT*>(&b), 0x400, 0) == VARCMP_EQ;
}

}  // namespace

bool TransferEntryMatches(ULONG direction, ULONG phase, ULONG eventCode) {
  if ((eventCode & (0x1 | 0x4)) && direction != 1 && direction != 4) return false;
  if ((eventCode & (0x2 | 0x4)) && direction != 2 && direction != 4) return false;
  if ((eventCode & kDirectionBits) && direction != 1 && direction != 2 && direction != 4)
    return false;
  for (ULONG bit : kPhaseBits)
    if ((eventCode & bit) && phase != bit) return false;
  return true;
}

HRESULT CevFDT_ParameterHandlerCore::AddTransferListHandler(const ParValueSet& entry) {
  return com::guard([&]() -> HRESULT {
    transferHandlers_.push_back(entry);
    return S_OK;
  });
}

HRESULT CevFDT_ParameterHandlerCore::SetTransferListContext(const VARIANT& context) {
  return transferListContext_.assign(context);
}

HRESULT CevFDT_ParameterHandlerCore::FindTransferListHandler(const VARIANT& parameterId,
                                                             ULONG eventCode,
                                                             ParValueSet* entry) {
  if (!entry) return E_INVALIDARG;
  return com::guard([&]() -> HRESULT {
    auto extension = queryOwner<ITransferExtension>(ParamOwner());
    if (!extension) return S_FALSE;
    const ULONG wanted = word(parameterId);

    for (const ParValueSet& candidate : transferHandlers_) {
      if (!TransferEntryMatches(word(candidate.direction.value()), word(candidate.phase.value()),
                                eventCode))
        continue;
      com::Variant names;
      LONG unused = 0;
      HRESULT hr = extension->GetListNames(transferListContext_.value(), names.get(), &unused);
      if (FAILED(hr)) return hr;

      bool found = false;
      HRESULT walk = forEachElement(names.value(), [&](const com::Variant& name) {
        if (!sameListName(name.value(), candidate.listName.value())) return false;
        com::Variant members;
        LONG unusedCount = 0;
        hr = extension->GetListMembers(name.value(), members.get(), &unusedCount);
        if (FAILED(hr)) return true;
        hr = forEachElement(members.value(), [&](const com::Variant& member) {
          found = word(member.value()) == wanted;
          return found;
        });
        return FAILED(hr) || found;
      });
      if (FAILED(walk)) return walk;
      if (FAILED(hr)) return hr;
      if (found) {
        *entry = candidate;
        return S_FALSE;
      }
    }
    entry->handler = nullptr;
    return S_FALSE;
  });
}

HRESULT CevFDT_ParameterHandlerCore::DispatchTransferEvent(const VARIANT& parameterId,
                                                           ULONG eventCode) {
  return com::guard([&]() -> HRESULT {
    const com::ComPtr<IUnknown> owner = ParamOwner();
    auto handler = queryOwner<IevFdtParameterHandler4>(owner);
    auto online = queryOwner<IOnlineParameterRequest>(owner);
    if (!handler || !online) return E_POINTER;
    ParValueSet entry;
    HRESULT hr = FindTransferListHandler(parameterId, eventCode, &entry);
    if (entry.handler) return entry.handler(handler.get(), online.get(), parameterId);
    return hr;
  });
}

HRESULT CevFDT_ParameterHandlerCore::TransferParameterArray(const VARIANT& list,
                                                            ULONG eventCode) {
  return com::guard([&]() -> HRESULT {
    const com::ComPtr<IUnknown> owner = ParamOwner();
    auto extension = queryOwner<ITransferExtension>(owner);
    if (!extension) return E_NOINTERFACE;
    auto handler = queryOwner<IevFdtParameterHandler4>(owner);
    auto online = queryOwner<IOnlineParameterRequest>(owner);
    if (!handler || !online) return E_POINTER;

    com::Variant members;
    LONG unused = 0;
    HRESULT hr = extension->GetListMembers(list, members.get(), &unused);
    if (FAILED(hr)) return hr;

    std::vector<TransferListHandler> called;
    HRESULT last = S_OK;
    HRESULT walk = forEachElement(members.value(), [&](const com::Variant& member) {
      ParValueSet entry;
      last = FindTransferListHandler(member.value(), eventCode, &entry);
      if (!entry.handler) return false;
      for (TransferListHandler done : called)
        if (done == entry.handler) return false;
      last = entry.handler(handler.get(), online.get(), entry.listName.value());
      if (SUCCEEDED(last)) called.push_back(entry.handler);
      return false;
    });
    return FAILED(walk) ? walk : last;
  });
}

// ---------------------------------------------------------------------------
// Transfers of the parameter set
// ---------------------------------------------------------------------------

bool CevFDT_ParameterHandlerCore::TakesPartInDownload(const ParInfo& record) {
  return record.kind == kParKindDevice && (record.flags & kParFlagOnlineWrite) &&
         (record.flags & kParFlagUsual);
}

bool CevFDT_ParameterHandlerCore::TakesPartInUpload(const ParInfo& record) {
  return record.kind == kParKindDevice && (record.flags & kParFlagOnlineRead) &&
         (record.flags & kParFlagUsual);
}

HRESULT CevFDT_ParameterHandlerCore::GetParInfoList(VARIANT* list) {
  if (!list) return E_INVALIDARG;
  ::VariantInit(list);
  return com::guard([&]() -> HRESULT {
    std::vector<ULONG> ids;
    for (ULONG i = 0; i < params_.Count(); ++i) {
      const ParInfo* record = params_.At(i);
      if (record && TakesPartInDownload(*record)) ids.push_back(record->id);
    }
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(ids.size()));
    if (!array) return E_OUTOFMEMORY;
    com::Variant out;
    V_VT(out.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(out.get()) = array;
    for (LONG i = 0; i < static_cast<LONG>(ids.size()); ++i) {
      HRESULT hr = ::SafeArrayPutElement(array, &i, com::ui4(ids[static_cast<size_t>(i)]).get());
      if (FAILED(hr)) return hr;
    }
    return out.detachTo(list);
  });
}

HRESULT CevFDT_ParameterHandlerCore::ReportProgress(const wchar_t* title, ULONG percent,
                                                    bool running) {
  return com::guard([&]() -> HRESULT {
    auto events = queryOwner<IevFdtDtmEvents>(ParamOwner());
    if (!events) return S_FALSE;
    SProgressEvent report;
    HRESULT hr = report.text.assign(title ? title : L"");
    if (FAILED(hr)) return hr;
    report.progress = static_cast<LONG>(percent > 100 ? 100 : percent);
    report.running = running;
    com::Variant packed;
    if (!report.PackToVariant(packed.get())) return E_FAIL;
    return events->OnDtmEvent(com::Variant(kDtmEventProgress).value(), packed.value());
  });
}

void CevFDT_ParameterHandlerCore::ReportTransferProgress(ULONG index, ULONG count,
                                                         const wchar_t* text) {
  if (index == 0) {
    ReportProgress(text, 0, false);
    return;
  }
  USHORT percent = 0;
  if (!ProgressStepDue(index, count, kTransferProgressStep, &progressMark_, &percent)) return;
  if (abortTransfer_) return;
  ReportProgress(text, percent, true);
}

HRESULT CevFDT_ParameterHandlerCore::BuildDownloadList(VARIANT* list) {
  return buildTransferList(L"DownloadList", &TakesPartInDownload, list);
}

HRESULT CevFDT_ParameterHandlerCore::BuildUploadList(VARIANT* list) {
  return buildTransferList(L"UploadList", &TakesPartInUpload, list);
}

HRESULT CevFDT_ParameterHandlerCore::buildTransferList(const wchar_t* name,
                                                       bool (*takesPart)(const ParInfo&),
                                                       VARIANT* list) {
  if (!list) return E_INVALIDARG;
  ::VariantInit(list);
  return com::guard([&]() -> HRESULT {
    auto extension = queryOwner<ITransferExtension>(ParamOwner());
    if (!extension) return E_NOINTERFACE;
    const com::Variant listName(name);

    VARIANT_BOOL exists = VARIANT_FALSE, current = VARIANT_FALSE;
    if (FAILED(extension->QueryList(listName.value(), &exists, &current)) ||
        exists != VARIANT_TRUE || current != VARIANT_TRUE) {
      const com::Variant none;
      VARIANT_BOOL created = VARIANT_FALSE;
      HRESULT hr = extension->CreateList(listName.value(), none.value(), none.value(),
                                         none.value(), &created);
      if (FAILED(hr)) return hr;
      if (created != VARIANT_TRUE) return E_FAIL;

      ULONG count = 0;
      hr = GetParameterCount(&count);
      if (FAILED(hr)) return hr;
      for (ULONG i = 0; i < count; ++i) {
        ParInfo record;
        hr = GetParameterAt(i, &record);
        if (FAILED(hr)) return hr;
        if (!takesPart(record)) continue;
        com::Variant member;
        hr = CevFdtSafeArray::VariantVector(record.id, member.get());
        if (FAILED(hr)) return hr;
        VARIANT_BOOL added = VARIANT_FALSE;
        hr = extension->AddListMember(listName.value(), member.value(), &added);
        if (FAILED(hr)) return hr;
        if (added != VARIANT_TRUE) return E_FAIL;
      }
    }
    return listName.copyTo(list);
  });
}
