#include "memory_property_bag.h"

namespace dtmtest {

const com::InterfaceEntry* MemoryPropertyBag::interfaceMap() {
  static const com::InterfaceEntry map[] = {com::entry<MemoryPropertyBag, IPropertyBag>(),
                                            com::endOfMap()};
  return map;
}

STDMETHODIMP MemoryPropertyBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog*) {
  if (!name || !value) return E_POINTER;
  auto found = properties.find(name);
  if (found == properties.end()) return E_INVALIDARG;
  ::VariantClear(value);
  return ::VariantCopy(value, found->second.get());
}

STDMETHODIMP MemoryPropertyBag::Write(LPCOLESTR name, VARIANT* value) {
  if (!name || !value) return E_POINTER;
  properties[name] = com::Variant(*value);
  return S_OK;
}

com::ComPtr<IPropertyBag> CreateMemoryPropertyBag(MemoryPropertyBag** bag) {
  com::ComObject<MemoryPropertyBag>* created = nullptr;
  com::ComObject<MemoryPropertyBag>::create(&created);
  *bag = created;
  com::ComPtr<IPropertyBag> out;
  if (created) out.attach(static_cast<IPropertyBag*>(created));
  return out;
}

}  // namespace dtmtest
