#include "toolkit/containers/channel_collection.h"

#include <utility>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Guard.h"
#include "com/Object.h"
#include "com/Variant.h"

namespace {

using Item = std::pair<com::Bstr, com::ComPtr<IDispatch>>;

// An enumerator over a snapshot of the items.
class ItemEnumerator : public com::ObjectRoot, public IEnumVARIANT {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {com::entry<ItemEnumerator, IEnumVARIANT>(),
                                              com::endOfMap()};
    return map;
  }
  STDMETHODIMP Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    if (!items) return E_POINTER;
    ULONG n = 0;
    for (; n < count && position_ < items_.size(); ++n, ++position_) {
      ::VariantInit(&items[n]);
      V_VT(&items[n]) = VT_DISPATCH;
      V_DISPATCH(&items[n]) = items_[position_].get();
      if (V_DISPATCH(&items[n])) V_DISPATCH(&items[n])->AddRef();
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    position_ += count;
    if (position_ > items_.size()) {
      position_ = items_.size();
      return S_FALSE;
    }
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumVARIANT** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    com::ComObject<ItemEnumerator>* copy = nullptr;
    HRESULT hr = com::ComObject<ItemEnumerator>::create(&copy);
    if (FAILED(hr)) return hr;
    return com::guard([&]() -> HRESULT {
      copy->items_ = items_;
      copy->position_ = position_;
      *out = copy;
      return S_OK;
    });
  }

  std::vector<com::ComPtr<IDispatch>> items_;
  size_t position_ = 0;
};

class ChannelCollection : public com::ObjectRoot,
                          public com::DispatchImpl<IFdtObjectCollection>,
                          public com::DispatchImpl<IFdtChannelCollection> {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<ChannelCollection, IFdtObjectCollection>(),
        com::entry<ChannelCollection, IDispatch, IFdtChannelCollection>(),
        com::entry<ChannelCollection, IFdtChannelCollection>(), com::endOfMap()};
    return map;
  }

  // IFdtObjectCollection
  STDMETHODIMP Add(VARIANT name, IUnknown* object) override {
    return com::guard([&]() -> HRESULT {
      com::Bstr key;
      HRESULT hr = NameOf(name, key);
      if (FAILED(hr)) return hr;
      if (!object) return E_POINTER;
      if (Find(key.c_str()) != items_.end()) return E_INVALIDARG;
      com::ComPtr<IDispatch> dispatch;
      hr = object->QueryInterface(IID_IDispatch, dispatch.putVoid());
      if (FAILED(hr)) return hr;
      items_.emplace_back(std::move(key), dispatch);
      return S_OK;
    });
  }
  STDMETHODIMP GetByName(VARIANT name, IUnknown** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    return com::guard([&]() -> HRESULT {
      com::Bstr key;
      HRESULT hr = NameOf(name, key);
      if (FAILED(hr)) return hr;
      auto it = Find(key.c_str());
      if (it == items_.end()) return E_INVALIDARG;
      return it->second->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(object));
    });
  }
  STDMETHODIMP Remove(VARIANT name) override {
    return com::guard([&]() -> HRESULT {
      com::Bstr key;
      HRESULT hr = NameOf(name, key);
      if (FAILED(hr)) return hr;
      auto it = Find(key.c_str());
      if (it == items_.end()) return E_INVALIDARG;
      items_.erase(it);
      return S_OK;
    });
  }
  STDMETHODIMP GetEnumerator(IEnumVARIANT** enumerator) override {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    com::ComObject<ItemEnumerator>* e = nullptr;
    HRESULT hr = com::ComObject<ItemEnumerator>::create(&e);
    if (FAILED(hr)) return hr;
    return com::guard([&]() -> HRESULT {
      for (const Item& item : items_) e->items_.push_back(item.second);
      *enumerator = e;
      return S_OK;
    });
  }

  // IFdtChannelCollection
  STDMETHODIMP get_Item(VARIANT* index, IDispatch** item) override {
    if (!item || !index) return E_POINTER;
    *item = nullptr;
    return com::guard([&]() -> HRESULT {
      com::Variant value(*index);
      if (V_VT(value.get()) == (VT_BYREF | VT_VARIANT)) value = com::Variant(*V_VARIANTREF(index));
      if (V_VT(value.get()) == VT_BSTR) {
        auto it = Find(V_BSTR(value.get()) ? V_BSTR(value.get()) : L"");
        if (it == items_.end()) return E_INVALIDARG;
        return it->second.copyTo(item);
      }
      HRESULT hr = value.changeType(VT_I4);
      if (FAILED(hr)) return hr;
      const LONG n = V_I4(value.get());
      if (n < 1 || static_cast<size_t>(n) > items_.size()) return E_INVALIDARG;
      return items_[n - 1].second.copyTo(item);
    });
  }
  STDMETHODIMP get_Count(long* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<long>(items_.size());
    return S_OK;
  }
  STDMETHODIMP get__NewEnum(IUnknown** enumerator) override {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    com::ComPtr<IEnumVARIANT> e;
    HRESULT hr = GetEnumerator(e.put());
    if (FAILED(hr)) return hr;
    *enumerator = e.detach();
    return S_OK;
  }

 private:
  static HRESULT NameOf(const VARIANT& name, com::Bstr& out) {
    com::Variant text(name);
    HRESULT hr = text.changeType(VT_BSTR);
    if (FAILED(hr)) return hr;
    return out.assign(V_BSTR(text.get()) ? V_BSTR(text.get()) : L"");
  }
  std::vector<Item>::iterator Find(const wchar_t* name) {
    for (auto it = items_.begin(); it != items_.end(); ++it)
      if (wcscmp(it->first.c_str(), name) == 0) return it;
    return items_.end();
  }

  std::vector<Item> items_;
};

}  // namespace

HRESULT CreateChannelCollection(IFdtObjectCollection** collection) {
  return com::createObject<ChannelCollection>(nullptr, __uuidof(IFdtObjectCollection),
                                              reinterpret_cast<void**>(collection));
}
