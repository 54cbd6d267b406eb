// Interface pointers handed to another thread of the process without a COM
// call: each is marshalled into a stream in the giving apartment and
// unmarshalled once in the taking one.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include <vector>

#include "com/Marshalled.h"
#include "com/Variant.h"

namespace com {

// One VARIANT on its way to another thread. VT_UNKNOWN and VT_DISPATCH
// values travel marshalled, at the top or as elements of a one-dimensional
// VT_ARRAY | VT_VARIANT; every other value is copied.
class VariantHandover {
 public:
  // What was marshalled and never taken is given back when it goes.
  VariantHandover() = default;
  VariantHandover(const VariantHandover&) = delete;
  VariantHandover& operator=(const VariantHandover&) = delete;

  // In the giving apartment, once.
  HRESULT pack(const VARIANT& value);
  // In the taking apartment, once: the value with its interfaces
  // unmarshalled there (an interface that does not unmarshal arrives
  // empty).
  HRESULT take(VARIANT* out);

 private:
  struct Marshalled {
    LONG index;  // element index, or kWhole for the value itself
    VARTYPE type;
    MarshalledInterface object;
  };
  static constexpr LONG kWhole = -1;
  Variant value_;
  std::vector<Marshalled> marshalled_;
};

}  // namespace com
