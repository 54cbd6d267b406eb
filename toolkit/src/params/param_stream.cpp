#include "toolkit/params/param_stream.h"

#include "com/Bstr.h"
#include "com/Guard.h"
#include "com/StreamForm.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/params/param_info.h"

namespace {

constexpr VARTYPE kByteArray = VT_ARRAY | VT_UI1;

// value changed to vt; the value itself when it has that type already (a
// null text stays null) or does not convert.
HRESULT writeAs(IStream* stream, const com::Variant& value, VARTYPE vt) {
  if (value.type() == vt) return WriteParamValue(stream, value.value());
  com::Variant converted;
  if (SUCCEEDED(CFdtVariant::ConvertTo(converted.get(), value.get(), vt)))
    return WriteParamValue(stream, converted.value());
  return WriteParamValue(stream, value.value());
}

HRESULT readAs(IStream* stream, VARTYPE vt, com::Variant& out) {
  HRESULT hr = ReadParamValue(stream, out);
  if (FAILED(hr)) return hr;
  return out.changeType(vt);
}

}  // namespace

HRESULT WriteParamValue(IStream* stream, const VARIANT& value) {
  if (!stream) return E_POINTER;
  if (V_VT(&value) != kByteArray) return com::writeVariant(stream, value);
  com::Bstr hex;
  HRESULT hr = CFdtVariant::BytesToHexString(&value, hex.put());
  if (FAILED(hr)) return hr;
  VARTYPE vt = kByteArray;
  ULONG written = 0;
  hr = stream->Write(&vt, sizeof(vt), &written);
  if (FAILED(hr)) return hr;
  if (written != sizeof(vt)) return STG_E_MEDIUMFULL;
  return com::writeBstr(stream, hex.get());
}

HRESULT ReadParamValue(IStream* stream, com::Variant& value) {
  if (!stream) return E_POINTER;
  com::StreamRewind mark(stream);
  VARTYPE vt = VT_EMPTY;
  ULONG read = 0;
  HRESULT hr = stream->Read(&vt, sizeof(vt), &read);
  if (FAILED(hr)) return hr;
  if (read != sizeof(vt)) return E_FAIL;
  if (vt != kByteArray) {
    mark.rewind();
    hr = com::readVariant(stream, value);
    if (SUCCEEDED(hr)) mark.keep();
    return hr;
  }
  com::Bstr hex;
  hr = com::readBstr(stream, hex);
  if (FAILED(hr)) return hr;
  com::Variant bytes;
  hr = CFdtVariant::FromHexString(bytes.get(), hex.c_str(), /*keepEmpty=*/true);
  if (FAILED(hr)) return hr;
  value = std::move(bytes);
  mark.keep();
  return S_OK;
}

HRESULT SaveParameterSection(IStream* stream, IevFdtParameterStore* store,
                             const ParamStreamOptions& options) {
  if (!stream || !store) return E_POINTER;
  return com::guard([&]() -> HRESULT {
    ULONG total = 0;
    HRESULT hr = store->GetParameterCount(&total);
    if (FAILED(hr)) return hr;

    LONG persistent = 0;
    for (ULONG i = 0; i < total; ++i) {
      ParInfo record;
      hr = store->GetParameterAt(i, &record);
      if (FAILED(hr)) return hr;
      if (record.persist) ++persistent;
    }
    hr = WriteParamValue(stream, com::Variant(persistent).value());
    if (FAILED(hr)) return hr;

    for (ULONG i = 0; i < total; ++i) {
      ParInfo record;
      hr = store->GetParameterAt(i, &record);
      if (FAILED(hr)) return hr;
      if (!record.persist) continue;
      hr = WriteParamValue(stream, com::ui4(record.id).value());
      if (SUCCEEDED(hr)) hr = writeAs(stream, record.value, record.vt);
      if (SUCCEEDED(hr) && options.saveLimits) {
        hr = writeAs(stream, record.minValue, record.vt);
        if (SUCCEEDED(hr)) hr = writeAs(stream, record.maxValue, record.vt);
        if (SUCCEEDED(hr)) hr = writeAs(stream, record.defaultValue, record.vt);
      }
      if (SUCCEEDED(hr)) hr = WriteParamValue(stream, com::ui4(record.flags).value());
      if (SUCCEEDED(hr) && options.saveExtra5) hr = WriteParamValue(stream, record.extra5.value());
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  });
}

HRESULT LoadParameterSection(IStream* stream, IevFdtParameterStore* store,
                             const ParamStreamOptions& options) {
  if (!stream || !store) return E_POINTER;
  com::StreamRewind mark(stream);
  HRESULT hr = com::guard([&]() -> HRESULT {
    com::Variant count;
    HRESULT hr = readAs(stream, VT_I4, count);
    if (FAILED(hr)) return hr;
    if (V_I4(count.get()) < 0) return E_FAIL;

    // Everything is read before anything is applied.
    CParamCollection loaded;
    for (LONG n = 0; n < V_I4(count.get()); ++n) {
      com::Variant id;
      hr = readAs(stream, VT_UI4, id);
      if (FAILED(hr)) return hr;
      ParInfo record;  // stays a scratch record for an id the store lacks
      bool known = store->HasParameter(V_UI4(id.get()));
      if (known) {
        hr = store->GetParameter(V_UI4(id.get()), &record);
        if (FAILED(hr)) return hr;
      }
      hr = ReadParamValue(stream, record.value);
      if (FAILED(hr)) return hr;
      if (options.saveLimits) {
        hr = ReadParamValue(stream, record.minValue);
        if (SUCCEEDED(hr)) hr = ReadParamValue(stream, record.maxValue);
        if (SUCCEEDED(hr)) hr = ReadParamValue(stream, record.defaultValue);
        if (FAILED(hr)) return hr;
      }
      com::Variant flags;
      hr = readAs(stream, VT_UI4, flags);
      if (FAILED(hr)) return hr;
      record.flags = V_UI4(flags.get());
      if (options.saveExtra5) {
        hr = ReadParamValue(stream, record.extra5);
        if (FAILED(hr)) return hr;
      }
      if (known) loaded.Insert(record);
    }

    // Replace the stored fields record by record; a record either takes all
    // of them or none.
    ULONG mask = kParValue | kParFlags;
    if (options.saveLimits) mask |= kParMinValue | kParMaxValue | kParDefaultValue;
    if (options.saveExtra5) mask |= kParExtra5;
    for (ULONG i = 0; i < loaded.Count(); ++i) {
      const ParInfo* record = loaded.At(i);
      hr = store->SetParInfo(record->id, mask, *record);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  });
  if (SUCCEEDED(hr)) mark.keep();
  return hr;
}
