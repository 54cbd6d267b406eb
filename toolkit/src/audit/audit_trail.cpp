// The audit trail's documents and their way to the frame.
#include "toolkit/audit/audit_trail.h"

#include <string>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "fdt.h"
#include "toolkit/values/fdt_texts.h"
#include "toolkit/values/frame_events.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/xml_dom.h"

namespace {

const wchar_t kDescriptorPart[] = L" fdt:descriptor=\"%s\" ";

const wchar_t kFunctionEventDocument[] =
    L"<?xml version=\"1.0\"?>\n<FDT xmlns          =\"x-schema:DTMAuditTrailSchema.xml\"\n\t "
    L"xmlns:fdt      =\"x-schema:FDTDataTypesSchema.xml\">\n\t<AuditTrailEvent %s >\n\t\t"
    L"<AuditTrailFunctionEvent fdt:display=\"%s\"/>\n\t</AuditTrailEvent>\n</FDT>";

const wchar_t kStatusInformation[] =
    L"<fdt:StatusInformation readAccess=\"1\" writeAccess=\"0\">\n\t<fdt:EnumeratorEntry "
    L"index=\"%d\" name=\"%s\" %s />\n</fdt:StatusInformation>\n";
const wchar_t kEntryDescriptor[] = L" descriptor=\"%s\" ";

const wchar_t kDeviceStatusDocument[] =
    L"<?xml version=\"1.0\"?>\n<FDT xmlns          =\"x-schema:DTMAuditTrailSchema.xml\"\n\t "
    L"xmlns:fdt      =\"x-schema:FDTDataTypesSchema.xml\">\n\t<AuditTrailEvent %s >\n\t\t"
    L"<AuditTrailDeviceStatusEvent fdt:statusFlag=\"%s\">\n\t\t\t%s \n\t\t"
    L"</AuditTrailDeviceStatusEvent>\n\t</AuditTrailEvent>\n</FDT>";

const wchar_t kVariableEventDocument[] =
    L"<?xml version=\"1.0\"?>\n<FDT xmlns\t\t=\"x-schema:DTMAuditTrailSchema.xml\"\n     "
    L"xmlns:fdt\t=\"x-schema:FDTDataTypesSchema.xml\">\n\t<AuditTrailEvent %s>\n\t\t"
    L"<AuditTrailVariableEvent fdt:name=\"%s\">\n\t\t\t<ChangedFrom>\n\t\t\t\t"
    L"<AuditTrailVariable fdt:display=\"%s\"/>\n\t\t\t</ChangedFrom>\n\t\t\t<ChangedTo>\n\t\t\t\t"
    L"<AuditTrailVariable fdt:display=\"%s\"/>\n\t\t\t</ChangedTo>\n\t\t"
    L"</AuditTrailVariableEvent>\n\t</AuditTrailEvent>\n</FDT>\n";

// Escaped text for an attribute (a null text is empty).
HRESULT Escape(const wchar_t* text, com::Bstr& out) {
  return EscapeXmlText(text ? text : L"", out.put());
}

// The descriptor part of every document: the attribute, or a single blank.
HRESULT DescriptorPart(const wchar_t* descriptor, com::Bstr& out) {
  if (!descriptor || !*descriptor) return out.assign(L" ");
  com::Bstr escaped;
  HRESULT hr = Escape(descriptor, escaped);
  if (FAILED(hr)) return hr;
  return FormatBstr(out.put(), kDescriptorPart, escaped.c_str());
}

// The longest value text of a parameter-change entry (the write core's
// limit), in characters.
constexpr UINT kMaxValueText = 260;

// indices: one per dimension, indices[d - 1] for dimension d.
HRESULT ElementText(VARTYPE type, SAFEARRAY* array, LONG* indices, std::wstring& out) {
  switch (type) {
    case VT_NULL:
      out += L"NULL";
      return S_OK;
    case VT_BSTR: {
      BSTR text = nullptr;
      HRESULT hr = ::SafeArrayGetElement(array, indices, &text);
      if (FAILED(hr)) return hr;
      out += text ? text : L"";
      ::SysFreeString(text);
      return S_OK;
    }
    case VT_VARIANT: {
      com::Variant element;
      HRESULT hr = ::SafeArrayGetElement(array, indices, element.put());
      if (FAILED(hr)) return hr;
      com::Bstr text;
      hr = AuditValueText(element.value(), text.put());
      if (FAILED(hr)) return hr;
      out += text.c_str();
      return S_OK;
    }
    case VT_UI1: {
      BYTE b = 0;
      HRESULT hr = ::SafeArrayGetElement(array, indices, &b);
      if (FAILED(hr)) return hr;
      out += std::to_wstring(static_cast<unsigned>(b));
      return S_OK;
    }
    default:
      out += L"unsupported type";
      return S_OK;
  }
}

// "[", a blank and the text of each element of the dimension, " ]". Below
// the last dimension an element is the list of the next dimension, so a
// one-dimensional array shows its elements and a two-dimensional one its
// rows: "[ [ a b ] [ c d ] ]".
HRESULT DimensionText(SAFEARRAY* array, VARTYPE element, UINT dimension,
                      std::vector<LONG>& indices, std::wstring& out) {
  out += L"[";
  LONG low = 0, high = -1;
  if (SUCCEEDED(::SafeArrayGetLBound(array, dimension, &low)) &&
      SUCCEEDED(::SafeArrayGetUBound(array, dimension, &high))) {
    for (LONG i = low; i <= high; ++i) {
      indices[dimension - 1] = i;
      out += L' ';
      HRESULT hr = dimension < indices.size()
                       ? DimensionText(array, element, dimension + 1, indices, out)
                       : ElementText(element, array, indices.data(), out);
      if (FAILED(hr)) return hr;
    }
  }
  out += L" ]";
  return S_OK;
}

// A value text of a parameter-change entry: at most kMaxValueText
// characters, never half of a surrogate pair.
HRESULT ChangeValueText(const VARIANT& value, com::Bstr& text) {
  HRESULT hr = AuditValueText(value, text.put());
  if (FAILED(hr) || text.length() <= kMaxValueText) return hr;
  UINT keep = kMaxValueText;
  if (IS_HIGH_SURROGATE(text.c_str()[keep - 1])) --keep;
  return text.assign(text.c_str(), keep);
}

}  // namespace

HRESULT AuditValueText(const VARIANT& value, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  return com::guard([&]() -> HRESULT {
    const VARTYPE vt = V_VT(&value);
    if (vt == VT_EMPTY) {
      *text = ::SysAllocString(L"Not Initialized");
      return *text ? S_OK : E_OUTOFMEMORY;
    }
    if (!(vt & VT_ARRAY)) {
      com::Variant copy;
      HRESULT hr = ::VariantChangeType(copy.get(), const_cast<VARIANT*>(&value), 0, VT_BSTR);
      if (FAILED(hr)) return hr;
      *text = ::SysAllocString(V_BSTR(copy.get()) ? V_BSTR(copy.get()) : L"");
      return *text ? S_OK : E_OUTOFMEMORY;
    }
    SAFEARRAY* array = (vt & VT_BYREF) ? (V_ARRAYREF(&value) ? *V_ARRAYREF(&value) : nullptr)
                                       : V_ARRAY(&value);
    const UINT dimensions = array ? ::SafeArrayGetDim(array) : 0;
    std::wstring out;
    if (dimensions == 0) {
      out = L"[ ]";
    } else {
      std::vector<LONG> indices(dimensions, 0);
      HRESULT hr = DimensionText(array, static_cast<VARTYPE>(vt & VT_TYPEMASK), 1, indices, out);
      if (FAILED(hr)) return hr;
    }
    *text = ::SysAllocStringLen(out.data(), static_cast<UINT>(out.size()));
    return *text ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT AuditWriteParameterChange(IevFdtAuditTrail* trail, const wchar_t* name,
                                  const VARIANT& oldValue, const VARIANT& newValue,
                                  const wchar_t* descriptor) {
  if (!trail) return S_FALSE;
  if (!name || !*name) return S_FALSE;
  if (V_VT(&oldValue) != VT_EMPTY && V_VT(&oldValue) != V_VT(&newValue)) return S_FALSE;
  return com::guard([&]() -> HRESULT {
    com::Bstr typeName;
    typeName.attach(VarTypeToStringEx(V_VT(&newValue)));
    com::Bstr shown;
    HRESULT hr = FormatBstr(shown.put(), L"%s (%s)", name, typeName.c_str());
    if (FAILED(hr)) return hr;
    com::Bstr oldText, newText;
    hr = ChangeValueText(oldValue, oldText);
    if (FAILED(hr)) return hr;
    hr = ChangeValueText(newValue, newText);
    if (FAILED(hr)) return hr;
    com::Bstr descriptorText(descriptor ? descriptor : L"");
    return trail->WriteVariableEvent(descriptorText.get(), shown.get(), oldText.get(),
                                     newText.get());
  });
}

HRESULT AuditWriteEntry(IUnknown* dtm, const wchar_t* display, const wchar_t* descriptor) {
  if (!dtm) return S_OK;
  com::ComPtr<IevFdtAuditTrail> trail;
  if (FAILED(dtm->QueryInterface(__uuidof(IevFdtAuditTrail), trail.putVoid())) || !trail)
    return S_OK;
  return com::guard([&]() -> HRESULT {
    com::Bstr d(descriptor ? descriptor : L""), text(display ? display : L"");
    return trail->WriteFunctionEvent(d.get(), text.get());
  });
}

// ---- IevFdtAuditTrail ------------------------------------------------------

STDMETHODIMP AuditTrailCore::SetAuditTrailActive(VARIANT_BOOL on, VARIANT_BOOL* active) {
  if (!active) return E_UNEXPECTED;
  *active = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    const bool wanted = on != VARIANT_FALSE;
    if (wanted == active_) {
      *active = VARIANT_TRUE;
      return S_OK;
    }
    com::ComPtr<IDispatch> events;
    if (frame_events::QuerySink(AuditFrameObject(), DIID_IFrameAuditTrailEvents, events) != S_OK)
      return S_OK;
    com::Bstr tag;
    HRESULT hr = AuditSystemTag(tag.put());
    if (FAILED(hr)) return hr;
    VARIANT_BOOL answer = VARIANT_FALSE;
    hr = frame_events::Ask(events.get(),
                           wanted ? frame_events::kStartTransaction : frame_events::kEndTransaction,
                           tag.get(), &answer);
    if (FAILED(hr)) return hr;
    if (answer != VARIANT_FALSE) {
      active_ = wanted;
      *active = VARIANT_TRUE;
    }
    return hr;
  });
}

HRESULT AuditTrailCore::SendEvent(const wchar_t* document) {
  com::ComPtr<IDispatch> events;
  if (frame_events::QuerySink(AuditFrameObject(), DIID_IFrameAuditTrailEvents, events) != S_OK)
    return E_FAIL;
  com::Bstr tag;
  HRESULT hr = AuditSystemTag(tag.put());
  if (FAILED(hr)) return hr;
  com::Bstr text(document);
  return frame_events::Notify(events.get(), frame_events::kAuditTrailEvent, tag.get(), text.get());
}

STDMETHODIMP AuditTrailCore::GetFrameAuditTrail(BSTR document) {
  if (!active_) return S_OK;
  return com::guard([&] { return SendEvent(document ? document : L""); });
}

STDMETHODIMP AuditTrailCore::WriteFunctionEvent(BSTR descriptor, BSTR display) {
  if (!active_) return S_OK;
  return com::guard([&]() -> HRESULT {
    com::Bstr part, shown, document;
    HRESULT hr = DescriptorPart(descriptor, part);
    if (SUCCEEDED(hr)) hr = Escape(display, shown);
    if (SUCCEEDED(hr))
      hr = FormatBstr(document.put(), kFunctionEventDocument, part.c_str(), shown.c_str());
    if (FAILED(hr)) return hr;
    return SendEvent(document.c_str());
  });
}

STDMETHODIMP AuditTrailCore::WriteDeviceStatusEvent(BSTR descriptor, long statusFlag,
                                                    long entryIndex, BSTR entryName,
                                                    BSTR entryDescriptor) {
  if (!active_) return S_OK;
  return com::guard([&]() -> HRESULT {
    com::Bstr part, status, information, document;
    HRESULT hr = DescriptorPart(descriptor, part);
    if (FAILED(hr)) return hr;
    hr = StatusToText(statusFlag, status.put());
    if (FAILED(hr)) return hr;
    if (entryName && *entryName) {
      com::Bstr name, entryPart;
      hr = Escape(entryName, name);
      if (FAILED(hr)) return hr;
      if (entryDescriptor && *entryDescriptor) {
        com::Bstr escaped;
        hr = Escape(entryDescriptor, escaped);
        if (SUCCEEDED(hr)) hr = FormatBstr(entryPart.put(), kEntryDescriptor, escaped.c_str());
      } else {
        hr = entryPart.assign(L" ");
      }
      if (SUCCEEDED(hr))
        hr = FormatBstr(information.put(), kStatusInformation, static_cast<int>(entryIndex),
                        name.c_str(), entryPart.c_str());
    } else {
      hr = information.assign(L" ");
    }
    if (SUCCEEDED(hr))
      hr = FormatBstr(document.put(), kDeviceStatusDocument, part.c_str(), status.c_str(),
                      information.c_str());
    if (FAILED(hr)) return hr;
    return SendEvent(document.c_str());
  });
}

STDMETHODIMP AuditTrailCore::WriteVariableEvent(BSTR descriptor, BSTR name, BSTR oldDisplay,
                                                BSTR newDisplay) {
  if (!active_) return S_OK;
  return com::guard([&]() -> HRESULT {
    com::Bstr part, shownName, oldText, newText, document;
    HRESULT hr = DescriptorPart(descriptor, part);
    if (SUCCEEDED(hr)) hr = Escape(name, shownName);
    if (SUCCEEDED(hr)) hr = Escape(oldDisplay, oldText);
    if (SUCCEEDED(hr)) hr = Escape(newDisplay, newText);
    if (SUCCEEDED(hr))
      hr = FormatBstr(document.put(), kVariableEventDocument, part.c_str(), shownName.c_str(),
                      oldText.c_str(), newText.c_str());
    if (FAILED(hr)) return hr;
    return SendEvent(document.c_str());
  });
}
