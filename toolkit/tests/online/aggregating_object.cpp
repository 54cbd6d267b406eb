#include "aggregating_object.h"

#include "test_dtm_ids.h"
#include "toolkit/values/fdt_variant.h"

namespace onlinetest {

namespace {

std::wstring NameOf(const VARIANT& name) {
  return V_VT(&name) == VT_BSTR && V_BSTR(&name) ? V_BSTR(&name) : L"";
}

// [a, b, ...] as VT_ARRAY|VT_VARIANT.
HRESULT VariantArray(const std::vector<com::Variant>& items, VARIANT* out) {
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
  if (!array) return E_OUTOFMEMORY;
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i)
    ::SafeArrayPutElement(array, &i, const_cast<VARIANT*>(items[i].get()));
  ::VariantInit(out);
  V_VT(out) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(out) = array;
  return S_OK;
}

}  // namespace

HRESULT AggregatingObject::Create(AggregatingObject** out) {
  *out = nullptr;
  auto* object = new AggregatingObject;
  HRESULT hr = ::CoCreateInstance(CLSID_TestDtm, static_cast<ITransferExtension*>(object),
                                  CLSCTX_INPROC_SERVER, IID_IUnknown, object->inner_.putVoid());
  if (FAILED(hr)) {
    object->Release();
    return hr;
  }
  *out = object;
  return S_OK;
}

STDMETHODIMP AggregatingObject::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown)) {
    *out = static_cast<ITransferExtension*>(this);
  } else if (offersBulk && IsEqualIID(iid, __uuidof(ITransferExtension))) {
    *out = static_cast<ITransferExtension*>(this);
  } else if (offersBulk && IsEqualIID(iid, __uuidof(IBulkTransfer))) {
    *out = static_cast<IBulkTransfer*>(this);
  } else if (offersGroups && IsEqualIID(iid, __uuidof(ITransferGroupProvider))) {
    *out = static_cast<ITransferGroupProvider*>(this);
  } else if (inner_) {
    return inner_->QueryInterface(iid, out);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) AggregatingObject::AddRef() {
  return static_cast<ULONG>(::InterlockedIncrement(&references_));
}

STDMETHODIMP_(ULONG) AggregatingObject::Release() {
  const LONG left = ::InterlockedDecrement(&references_);
  if (left == 0) {
    references_ = 1;  // the inner object's last calls may take references
    inner_.reset();
    delete this;
  }
  return static_cast<ULONG>(left);
}

STDMETHODIMP AggregatingObject::CreateList(VARIANT name, VARIANT, VARIANT, VARIANT,
                                           VARIANT_BOOL* created) {
  ++listsCreated;
  lists[NameOf(name)].clear();
  *created = VARIANT_TRUE;
  return S_OK;
}

STDMETHODIMP AggregatingObject::QueryList(VARIANT name, VARIANT_BOOL* exists,
                                          VARIANT_BOOL* current) {
  const bool known = lists.count(NameOf(name)) != 0;
  *exists = known ? VARIANT_TRUE : VARIANT_FALSE;
  *current = known && listsCurrent ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP AggregatingObject::GetListNames(VARIANT, VARIANT* names, long*) {
  std::vector<com::Variant> items;
  for (const auto& list : lists) items.push_back(com::Variant(list.first.c_str()));
  return VariantArray(items, names);
}

// A member is a one-element VT_ARRAY|VT_VARIANT holding the id as VT_UI4;
// anything else is refused.
STDMETHODIMP AggregatingObject::AddListMember(VARIANT name, VARIANT member, VARIANT_BOOL* added) {
  *added = VARIANT_FALSE;
  auto list = lists.find(NameOf(name));
  if (list == lists.end() || V_VT(&member) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(&member))
    return S_OK;
  LONG lower = 0, upper = -1;
  ::SafeArrayGetLBound(V_ARRAY(&member), 1, &lower);
  ::SafeArrayGetUBound(V_ARRAY(&member), 1, &upper);
  if (upper != lower) return S_OK;
  com::Variant id;
  if (FAILED(::SafeArrayGetElement(V_ARRAY(&member), &lower, id.get())) || id.type() != VT_UI4)
    return S_OK;
  list->second.push_back(V_UI4(id.get()));
  *added = VARIANT_TRUE;
  return S_OK;
}

STDMETHODIMP AggregatingObject::GetListMembers(VARIANT name, VARIANT* members, long*) {
  std::vector<com::Variant> items;
  auto list = lists.find(NameOf(name));
  if (list != lists.end()) {
    for (ULONG id : list->second) items.push_back(com::ui4(id));
  }
  return VariantArray(items, members);
}

HRESULT AggregatingObject::Bulk(const wchar_t* method, const VARIANT& list, long mode,
                                VARIANT_BOOL* done) {
  BulkCall call;
  call.method = method;
  call.list = NameOf(list);
  call.mode = mode;
  auto found = lists.find(call.list);
  call.known = found != lists.end();
  if (call.known) call.members = found->second;
  bulkCalls.push_back(call);
  // Only a list that was made can be transferred.
  *done = call.known ? bulkDone : VARIANT_FALSE;
  return S_OK;
}

STDMETHODIMP AggregatingObject::UploadList(VARIANT list, long mode, VARIANT_BOOL* done) {
  return Bulk(L"UploadList", list, mode, done);
}

STDMETHODIMP AggregatingObject::DownloadList(VARIANT list, long mode, VARIANT_BOOL* done) {
  return Bulk(L"DownloadList", list, mode, done);
}

STDMETHODIMP AggregatingObject::GetTransferGroup(VARIANT mode, VARIANT id, VARIANT* ids) {
  ULONG kind = 0, number = 0;
  if (FAILED(CFdtVariant::GetUI4(mode, &kind)) || FAILED(CFdtVariant::GetUI4(id, &number)))
    return E_INVALIDARG;
  auto group = groups.find(number);
  if (kind == 2 && group != groups.end()) return group->second.copyTo(ids);
  return VariantArray({com::ui4(number)}, ids);
}

}  // namespace onlinetest
