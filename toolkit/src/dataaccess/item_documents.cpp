// The FDT item documents: item kinds and item descriptions (the value
// documents are in xml/fdt_variant_element.h).
#include "toolkit/dataaccess/data_access.h"

#include <msxml2.h>

#include <string>

#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/values/fdt_texts.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/xml_dom.h"

namespace {

// Item kinds by bit of the mask.
const wchar_t* const kItemKinds[] = {
    L"alarm",        L"analogInput",     L"analogOutput",   L"computation",   L"contained",
    L"correction",   L"device",          L"diagnostic",     L"digitalInput",  L"digitalOutput",
    L"discrete",     L"discreteInput",   L"discreteOutput", L"dynamic",       L"frequency",
    L"frequencyInput", L"frequencyOutput", L"hart",         L"input",         L"local",
    L"localDisplay", L"operate",         L"output",         L"sensorCorrection", L"service",
    L"tune"};

const wchar_t kItemDescription[] =
    L"<DtmItemInfo fdt:id=\"%d\" fdt:name=\"%s\" fdt:dataType=\"%s\" itemType=\"%s\" %s>\n%s%s%s%s"
    L"</DtmItemInfo>\n";
const wchar_t kUnitEntry[] =
    L"\t<UnitDescription>\n\t\t<fdt:EnumeratorEntry index=\"%d\" name=\"%s\"/>\n"
    L"\t</UnitDescription>\n";
const wchar_t kUnitReference[] =
    L"\t<UnitDescription>\n\t\t<ItemReference fdt:idref=\"%d\"/>\n\t</UnitDescription>\n";
const wchar_t kRange[] =
    L"\t<RangeDescriptions>\n\t\t<RangeDescription>\n\t\t\t<LowerRangeDescription>\n\t\t\t\t%s\n"
    L"\t\t\t</LowerRangeDescription>\n\t\t\t<UpperRangeDescription>\n\t\t\t\t%s\n"
    L"\t\t\t</UpperRangeDescription>\n\t\t</RangeDescription>\n\t</RangeDescriptions>\n";
const wchar_t kListHead[] =
    L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMItemListSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n\t<DtmItemInfoList>\n";
const wchar_t kListTail[] = L"\t</DtmItemInfoList>\n</FDT>\n";

HRESULT Escaped(const wchar_t* text, com::Bstr* out) { return EscapeXmlText(text ? text : L"", out->put()); }

bool SameBound(const VARIANT& a, const VARIANT& b) {
  if (V_VT(&a) == VT_NULL && V_VT(&b) == VT_NULL) return true;
  if (V_VT(&a) != V_VT(&b)) return false;
  return ::VarCmp(const_cast<VARIANT*>(&a), const_cast<VARIANT*>(&b), 1024, 0) == VARCMP_EQ;
}

}  // namespace

HRESULT BuildItemKinds(ULONG mask, BSTR* out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  return com::guard([&]() -> HRESULT {
    std::wstring kinds;
    for (ULONG bit = 0; bit < sizeof kItemKinds / sizeof kItemKinds[0]; ++bit) {
      if (!(mask & (1UL << bit))) continue;
      kinds += L"<ItemKind itemKind=\"";
      kinds += kItemKinds[bit];
      kinds += L"\" />\n";
    }
    if (kinds.empty()) kinds = L"<ItemKind itemKind=\"others\" />\n";
    *out = ::SysAllocString(kinds.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
  });
}

// ---------------------------------------------------------------------------
// Item descriptions
// ---------------------------------------------------------------------------

HRESULT DataAccessCore::UnitDescription(const ParInfo& record, BSTR* out) {
  *out = nullptr;
  const VARIANT& unit = record.extra2.value();
  com::Bstr name;
  if (V_VT(&unit) == VT_BSTR) {
    HRESULT hr = Escaped(V_BSTR(&unit), &name);
    if (FAILED(hr)) return hr;
    return FormatBstr(out, kUnitEntry, 0, name.c_str());
  }
  if (V_VT(&unit) != VT_UI4) return S_OK;
  ParInfo unitRecord;
  if (FAILED(AccessHandler().GetParameter(V_UI4(&unit), &unitRecord))) return S_OK;
  if (unitRecord.number & kItemOfInstanceList)
    return FormatBstr(out, kUnitReference, static_cast<int>(unitRecord.id));
  if (unitRecord.vt == VT_BSTR) {
    const VARIANT& text = unitRecord.value.value();
    HRESULT hr = Escaped(V_VT(&text) == VT_BSTR ? V_BSTR(&text) : L"", &name);
    if (FAILED(hr)) return hr;
    return FormatBstr(out, kUnitEntry, 0, name.c_str());
  }
  if (unitRecord.subType & kParEnumerated) {
    com::Variant index;
    if (FAILED(CFdtVariant::ConvertTo(index.get(), &unitRecord.value.value(), VT_I4))) return S_OK;
    LONG position = 0;
    com::Bstr text;
    if (!BstrArrayGetAtChecked(unitRecord.extra1.value(), V_I4(index.get()), &position, text.put()))
      return S_OK;
    HRESULT hr = Escaped(text.c_str(), &name);
    if (FAILED(hr)) return hr;
    return FormatBstr(out, kUnitEntry, static_cast<int>(V_I4(index.get())), name.c_str());
  }
  return S_OK;
}

HRESULT DataAccessCore::RangeDescription(const ParInfo& record, BSTR* out) {
  *out = nullptr;
  if (record.subType == kParEnumerated || record.subType == kParBitSet) return S_OK;
  if (SameBound(record.minValue.value(), record.maxValue.value())) return S_OK;
  com::Bstr lower, upper;
  if (BuildFdtValueElement(record.minValue.value(), lower.put()) != S_OK || lower.empty())
    return S_OK;
  if (BuildFdtValueElement(record.maxValue.value(), upper.put()) != S_OK || upper.empty())
    return S_OK;
  return FormatBstr(out, kRange, lower.c_str(), upper.c_str());
}

HRESULT DataAccessCore::BuildItemDescription(const ParInfo& record, BSTR* out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  return com::guard([&]() -> HRESULT {
    com::Bstr typeName;
    HRESULT hr = DataTypeName(record.vt, typeName.put());
    if (FAILED(hr)) return hr;

    com::Bstr extra;
    if (auto extension = AccessDtm().DtmInterface<IDeviceDocumentExtension>()) {
      com::Variant id;
      V_VT(id.get()) = VT_UI4;
      V_UI4(id.get()) = record.id;
      if (FAILED(extension->GetItemDescription(id.value(), extra.put()))) extra.reset();
    }

    std::wstring attributes;
    if (!record.text2.empty()) {
      com::Bstr descriptor;
      hr = Escaped(record.text2.c_str(), &descriptor);
      if (FAILED(hr)) return hr;
      attributes += L" fdt:descriptor=\"";
      attributes += descriptor.c_str();
      attributes += L"\"";
    }
    if (!(record.flags & kParFlagOnlineRead)) attributes += L" fdt:readAccess=\"0\"";
    if (record.flags & kParFlagOnlineWrite) attributes += L" fdt:writeAccess=\"1\"";

    com::Bstr kinds, unit, range, name;
    hr = BuildItemKinds(record.hookContext, kinds.put());
    if (SUCCEEDED(hr)) hr = UnitDescription(record, unit.put());
    if (SUCCEEDED(hr)) hr = RangeDescription(record, range.put());
    if (SUCCEEDED(hr)) hr = Escaped(record.name.c_str(), &name);
    if (FAILED(hr)) return hr;
    return FormatBstr(out, kItemDescription, static_cast<int>(record.id), name.c_str(),
                      typeName.c_str(), L"specific", attributes.c_str(), extra.c_str(),
                      kinds.c_str(), unit.c_str(), range.c_str());
  });
}

HRESULT BuildEmptyItemList(BSTR* out) {
  if (!out) return E_INVALIDARG;
  return FormatBstr(out, L"%s%s", kListHead, kListTail);
}

HRESULT DataAccessCore::BuildItemList(ULONG numberBit, BSTR* out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  return com::guard([&]() -> HRESULT {
    CevFDT_ParameterHandlerCore& handler = AccessHandler();
    ULONG count = 0;
    HRESULT hr = handler.GetParameterCount(&count);
    if (FAILED(hr)) return hr;
    std::wstring list = kListHead;
    for (ULONG i = 0; i < count; ++i) {
      ParInfo record;
      if (FAILED(handler.GetParameterAt(i, &record)) || !(record.number & numberBit)) continue;
      com::Bstr item;
      if (BuildItemDescription(record, item.put()) == S_OK) list += item.c_str();
    }
    list += kListTail;
    *out = ::SysAllocString(list.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
  });
}
