// Records that travel inside one VARIANT: CevVAPacker packs a record into a
// one-dimensional VT_ARRAY|VT_VARIANT (lower bound 0, one element per field,
// each with the field's own type) and unpacks it on the other side, so that
// a request crosses threads and interfaces like any automation value.
//
// A record names its fields once, in ExchangeFields, with the exchanger of
// each field's type; the same routine counts, stores and loads them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "com/Bstr.h"

class CevVAPacker {
 public:
  enum Mode : ULONG { kCount = 0, kStore = 1, kLoad = 2 };

  CevVAPacker() = default;
  CevVAPacker(const CevVAPacker&) = default;
  CevVAPacker& operator=(const CevVAPacker&) = default;
  virtual ~CevVAPacker() = default;

  // Packs the record into *out (which holds nothing yet); false when a pass or
  // the array creation fails, and *out is then left untouched.
  bool PackToVariant(VARIANT* out);
  // Loads the fields from a packed value; false for a value that is not a
  // one-dimensional VT_ARRAY|VT_VARIANT or a field whose element is missing
  // or of another type. Fields before the failing one keep their new values;
  // elements beyond the record's fields are ignored.
  bool UnpackFromVariant(const VARIANT& value);

 protected:
  // Visits every field in a fixed order; true when all exchanges succeeded.
  virtual bool ExchangeFields() = 0;

  bool ExchangeBstr(com::Bstr& field);    // VT_BSTR
  bool ExchangeBool(bool& field);         // VT_BOOL
  bool ExchangeLong(LONG& field);         // VT_I4
  bool ExchangeULong(ULONG& field);       // VT_UI4
  // VT_ARRAY|VT_VARIANT holding the nested record. A nested record that does
  // not pack is stored as VT_EMPTY; an element of another type leaves it as
  // it was.
  bool ExchangePacked(CevVAPacker& field);

  ULONG mode = kCount;
  ULONG index = 0;
  SAFEARRAY* array = nullptr;  // not owned

 private:
  bool Put(VARIANT& element);
  const VARIANT* Peek(VARTYPE required) const;
};

// A request about the cyclic updating of one parameter.
struct SParamUpdateInfo : public CevVAPacker {
  SParamUpdateInfo() = default;
  SParamUpdateInfo(ULONG id, ULONG periodMs) : parameterId(id), period(periodMs) {}

  ULONG parameterId = 0;  // the parameter's id in the parameter handler
  ULONG period = 0;       // update period in milliseconds

 protected:
  bool ExchangeFields() override { return ExchangeULong(parameterId) && ExchangeULong(period); }
};

// One online upload or download request.
struct SOnlineParamData : public CevVAPacker {
  // Copies both texts (either may be null); raises com::ComError(E_OUTOFMEMORY).
  explicit SOnlineParamData(const wchar_t* operation = nullptr,
                            const wchar_t* requestText = nullptr)
      : operationId(operation), request(requestText) {}

  com::Bstr operationId;  // the caller's id of the operation; a cancel names it
  com::Bstr request;      // passed unchanged to the parameter transfer
  bool flag = false;

 protected:
  bool ExchangeFields() override {
    return ExchangeBstr(operationId) && ExchangeBstr(request) && ExchangeBool(flag);
  }
};

// A progress report for the frame (DTM event 18, from a channel or the
// parameter handler): text VT_BSTR, percent VT_I4, running VT_BOOL.
struct SProgressEvent : public CevVAPacker {
  com::Bstr text;
  LONG progress = 0;     // percent
  bool running = false;  // true while the operation runs (a step notice)

 protected:
  bool ExchangeFields() override {
    return ExchangeBstr(text) && ExchangeLong(progress) && ExchangeBool(running);
  }
};

using ParamUpdateList = std::vector<SParamUpdateInfo>;

// The list as VT_ARRAY|VT_VARIANT of packed records (an empty list gives an
// empty array). E_POINTER for a null out, E_OUTOFMEMORY when the array cannot
// be created, E_FAIL when a record does not pack; *out is cleared first.
HRESULT PackParamUpdateList(ParamUpdateList list, VARIANT* out);
// Empties the list, then appends the records of a packed list. VT_EMPTY is an
// empty list; another type than VT_ARRAY|VT_VARIANT gives E_INVALIDARG; an
// element that is no packed record gives E_FAIL (records before it stay).
HRESULT UnpackParamUpdateList(ParamUpdateList& list, const VARIANT& value);
