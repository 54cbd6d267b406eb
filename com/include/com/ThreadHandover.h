// Interface pointers handed to another thread of the process without a COM
// call: each is marshalled into a stream in the giving apartment and
// unmarshalled once in the taking one.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include <vector>

#include "com/Variant.h"

namespace com {

// A stream of CoMarshalInterThreadInterfaceInStream that nobody will
// unmarshal: its marshal data is released (so that the object's stub lets go
// of the object) and the stream with it. Null is ignored; the pointer is
// cleared.
void releaseMarshalStream(IStream*& stream);

// One VARIANT on its way to another thread. VT_UNKNOWN and VT_DISPATCH
// values travel marshalled, at the top or as elements of a one-dimensional
// VT_ARRAY | VT_VARIANT; every other value is copied.
class VariantHandover {
 public:
  VariantHandover() = default;
  // Releases what was marshalled and never taken.
  ~VariantHandover();
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
    IStream* stream;
  };
  static constexpr LONG kWhole = -1;
  Variant value_;
  std::vector<Marshalled> marshalled_;
};

}  // namespace com
