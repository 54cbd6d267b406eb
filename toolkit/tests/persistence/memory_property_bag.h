// An in-memory property bag: what a frame application's bag keeps, by name.
// Read fills the caller's VARIANT with a copy (E_INVALIDARG for a name it
// does not hold); Write keeps a copy.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <map>
#include <string>

#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Variant.h"

namespace dtmtest {

class MemoryPropertyBag : public com::ObjectRoot, public IPropertyBag {
 public:
  static const com::InterfaceEntry* interfaceMap();

  STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) override;
  STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override;

  std::map<std::wstring, com::Variant> properties;
};

// A new bag; *bag stays valid while the returned reference is held.
com::ComPtr<IPropertyBag> CreateMemoryPropertyBag(MemoryPropertyBag** bag);

}  // namespace dtmtest
