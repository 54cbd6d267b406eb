#include "com/StreamForm.h"

#include <cstring>

namespace com {

namespace {

HRESULT writeAll(IStream* stream, const void* data, ULONG bytes) {
  ULONG written = 0;
  HRESULT hr = stream->Write(data, bytes, &written);
  if (FAILED(hr)) return hr;
  return written == bytes ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT readAll(IStream* stream, void* data, ULONG bytes) {
  ULONG read = 0;
  HRESULT hr = stream->Read(data, bytes, &read);
  if (FAILED(hr)) return hr;
  return read == bytes ? S_OK : E_FAIL;
}

HRESULT readBstrHere(IStream* stream, Bstr& text) {
  ULONG bytes = 0;
  HRESULT hr = readAll(stream, &bytes, sizeof(bytes));
  if (FAILED(hr)) return hr;
  if (bytes == 0) {
    text.reset();
    return S_OK;
  }
  if (bytes > kMaxStreamTextBytes) return E_ACCESSDENIED;
  if (bytes % sizeof(wchar_t) != 0) return E_FAIL;
  UINT chars = bytes / sizeof(wchar_t) - 1;
  BSTR s = ::SysAllocStringLen(nullptr, chars);
  if (!s) return E_OUTOFMEMORY;
  Bstr read;
  read.attach(s);
  // SysAllocStringLen left room for the terminator after chars characters.
  hr = readAll(stream, s, bytes);
  if (FAILED(hr)) return hr;
  if (s[chars] != L'\0') return E_FAIL;
  text = std::move(read);
  return S_OK;
}

// Size of the fixed-size value of vt; 0 for none; -1 for the text form.
int valueSize(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      return 0;
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return 4;
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_I8:
    case VT_UI8:
      return 8;
    default:
      return -1;
  }
}

}  // namespace

HRESULT writeBstr(IStream* stream, BSTR text) {
  if (!stream) return E_POINTER;
  ULONG bytes = text ? (::SysStringLen(text) + 1) * sizeof(wchar_t) : 0;
  HRESULT hr = writeAll(stream, &bytes, sizeof(bytes));
  if (FAILED(hr) || bytes == 0) return hr;
  return writeAll(stream, text, bytes);
}

HRESULT readBstr(IStream* stream, Bstr& text) {
  if (!stream) return E_POINTER;
  StreamRewind rewind(stream);
  HRESULT hr = readBstrHere(stream, text);
  if (SUCCEEDED(hr)) rewind.keep();
  return hr;
}

HRESULT writeVariant(IStream* stream, const VARIANT& value) {
  if (!stream) return E_POINTER;
  if (V_VT(&value) & VT_BYREF) {
    // A reference is written as the value it points at.
    Variant direct;
    HRESULT hr = ::VariantCopyInd(direct.get(), const_cast<VARIANT*>(&value));
    if (FAILED(hr)) return hr;
    return writeVariant(stream, direct.value());
  }
  VARTYPE vt = V_VT(&value);
  int size = valueSize(vt);
  Variant text;
  if (vt != VT_BSTR && size < 0) {
    // Converted before anything is written, so a failure writes nothing.
    HRESULT hr = ::VariantChangeType(text.get(), const_cast<VARIANT*>(&value), 0, VT_BSTR);
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = writeAll(stream, &vt, sizeof(vt));
  if (FAILED(hr)) return hr;
  if (vt == VT_BSTR) return writeBstr(stream, V_BSTR(&value));
  if (size < 0) return writeBstr(stream, V_BSTR(text.get()));
  if (size == 0) return S_OK;
  // The value's bytes start at the union, as every fixed-size member does.
  return writeAll(stream, &V_UI1(&value), static_cast<ULONG>(size));
}

HRESULT readVariant(IStream* stream, Variant& value) {
  if (!stream) return E_POINTER;
  StreamRewind rewind(stream);
  VARTYPE vt = VT_EMPTY;
  HRESULT hr = readAll(stream, &vt, sizeof(vt));
  if (FAILED(hr)) return hr;
  Variant read;
  int size = valueSize(vt);
  if (size >= 0) {
    VARIANT* v = read.get();
    std::memset(v, 0, sizeof(*v));
    hr = size ? readAll(stream, &V_UI1(v), static_cast<ULONG>(size)) : S_OK;
    if (FAILED(hr)) return hr;
    V_VT(v) = vt;
  } else {
    Bstr text;
    hr = readBstrHere(stream, text);
    if (FAILED(hr)) return hr;
    VARIANT* v = read.get();
    V_VT(v) = VT_BSTR;
    V_BSTR(v) = text.detach();
    if (vt != VT_BSTR) {
      hr = read.changeType(vt);
      if (FAILED(hr)) return hr;
    }
  }
  value = std::move(read);
  rewind.keep();
  return S_OK;
}

HRESULT writeEmptyPropertyMap(IStream* stream) {
  if (!stream) return E_POINTER;
  DWORD version = kPropertyMapVersion;
  return writeAll(stream, &version, sizeof(version));
}

HRESULT readEmptyPropertyMap(IStream* stream) {
  if (!stream) return E_POINTER;
  StreamRewind rewind(stream);
  DWORD version = 0;
  HRESULT hr = readAll(stream, &version, sizeof(version));
  if (FAILED(hr)) return hr;
  if (version > kPropertyMapVersion) return E_FAIL;
  rewind.keep();
  return S_OK;
}

}  // namespace com
