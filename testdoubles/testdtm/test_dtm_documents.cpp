#include "test_dtm_documents.h"

#include <iterator>

#include "com/Guard.h"
#include "com/Variant.h"
#include "test_dtm_ids.h"
#include "toolkit/params/param_info.h"
#include "toolkit/params/param_rows.h"

namespace {

namespace par = test_dtm_parameter;

const wchar_t* const kOffOn[] = {L"0;Off", L"1;On", nullptr};

const DocumentListRecord kDocuments[] = {
    {"Manual", "The device manual", "manual", 1033, DocumentListRecord::kDocumentFile,
     "manual.pdf", 0, nullptr, ""},
    {"Web page & more", "Maker's <site>", "online", 1033, DocumentListRecord::kUrl,
     "HTTP://example.invalid/a?b=1&c=2", 0, nullptr, "TypeA"},
    {"Tool", "Configuration tool", "tool", 0, DocumentListRecord::kProgram, "C:\\Tools\\tool.exe", 0,
     "-x \"1\"", "TypeB"},
    {"Unclassified", "No classification text", "", 1033, DocumentListRecord::kDocumentFile,
     "skipped.pdf", 0, nullptr, ""},
    {nullptr, nullptr, nullptr, 0, DocumentListRecord::kDeviceBitmap, "device.bmp",
     DocumentListRecord::kDevice, nullptr, ""},
    {nullptr, nullptr, nullptr, 0, DocumentListRecord::kDeviceBitmap, "odd.bmp", 4, nullptr, ""},
    {nullptr, nullptr, nullptr, 0, DocumentListRecord::kDeviceIcon, "diag.ico",
     DocumentListRecord::kDiagnosis, nullptr, "TypeA"},
};

// Ids the settings control shows.
const ULONG kSettingsParameters[] = {par::kPreambles, par::kExportSpecial, par::kExportDisplay};

}  // namespace

void DeclareDocumentRows(IevFdtParameterStore* store) {
  ParamRow::Numeric(par::kRelationSource, L"Relation Source", VT_I4, 0, 100, 10, 10)
      .Extra3(L"relation(1,200,2,301,3,302,4,303,5,304,6,305,7,305,8,305)")
      .AddTo(store);
  ParamRow::Numeric(par::kEnableTarget, L"Enable Target", VT_I4, 0, 100, 0, 0)
      .Flags(kParFlagsDefault | kParFlagDisabled)
      .AddTo(store);
  ParamRow::Numeric(par::kAccessTarget, L"Access Target", VT_I4, 0, 100, 0, 0)
      .Flags(kParFlagsDefault & ~ULONG(kParFlagWritable))
      .Storage(1)
      .AddTo(store);
  ParamRow::Numeric(par::kChoicesTarget, L"Choices Target", VT_UI1, 0, 2, 0, 0)
      .SubType(kParEnumerated)
      .Entries(kOffOn)
      .AddTo(store);
  ParamRow::Numeric(par::kValueTarget, L"Value Target", VT_I4, 0, 100, 10, 10).AddTo(store);
  ParamRow::Numeric(par::kLimitsTarget, L"Limits Target", VT_I4, 0, 1000, 10, 10).AddTo(store);
  ParamRow::Text(par::kTextSource, L"Text Source", L"first", L"first", 0)
      .Extra3(L"relation(9,311)")
      .AddTo(store);
  ParamRow::Numeric(par::kTextTarget, L"Text Target", VT_I4, 0, 100, 0, 0).AddTo(store);
  ParInfo text;
  text.extra2 = com::Variant(L"old text");
  store->SetParInfo(par::kTextTarget, kParExtra2, text);
  ParamRow::Numeric(par::kUpdateSource, L"Update Source", VT_I4, 0, 100, 0, 0)
      .Extra3(L"update(200)")
      .AddTo(store);

  ParamRow::Numeric(par::kExportDisplay, L"Exported Display", VT_I4, 0, 1000, 3, 3)
      .Number(1)
      .Text3(L"Setup.Channel")
      .AddTo(store);
  ParamRow::Numeric(par::kExportVariant, L"Exported Variant", VT_R8, -1e6, 1e6, 2.5, 2.5)
      .Number(2)
      .Text3(L"Setup.Channel")
      .AddTo(store);
  ParamRow::Text(par::kExportSpecial, L"a\"<&b", L"x&y<\"z>", L"x&y<\"z>", 0)
      .Number(1)
      .AddTo(store);
  ParamRow::Numeric(par::kExportDate, L"Exported Date", VT_DATE, 0, 0, 45000.5, 45000.5)
      .Number(2)
      .Text3(L"Setup/Times")
      .AddTo(store);
  ParamRow::Numeric(par::kNotExported, L"Not Exported", VT_I4, 0, 100, 1, 1)
      .Number(1)
      .Flags(kParFlagsDefault & ~ULONG(kParFlagOnlineRead))
      .AddTo(store);
}

const DocumentListRecord* TestDocumentList(size_t* count) {
  if (count) *count = std::size(kDocuments);
  return kDocuments;
}

HRESULT TestRelationChoices(ULONG target, VARIANT* choices) {
  if (!choices) return E_INVALIDARG;
  if (target != par::kChoicesTarget) return E_NOTIMPL;
  static const wchar_t* const kChoices[] = {L"0;Low", L"1;Mid", L"2;High"};
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_BSTR, 0, std::size(kChoices));
  if (!array) return E_OUTOFMEMORY;
  for (LONG i = 0; i < static_cast<LONG>(std::size(kChoices)); ++i) {
    BSTR entry = ::SysAllocString(kChoices[i]);
    HRESULT hr = entry ? ::SafeArrayPutElement(array, &i, entry) : E_OUTOFMEMORY;
    ::SysFreeString(entry);
    if (FAILED(hr)) {
      ::SafeArrayDestroy(array);
      return hr;
    }
  }
  ::VariantClear(choices);
  V_VT(choices) = VT_ARRAY | VT_BSTR;
  V_ARRAY(choices) = array;
  return S_OK;
}

// ---- Settings control double -----------------------------------------------

const com::InterfaceEntry* CTestSettingsControl::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<CTestSettingsControl, IevFdtActiveXInfo>(),
      com::entry<CTestSettingsControl, IDispatch, IevFdtActiveXInfo>(), com::endOfMap()};
  return map;
}

STDMETHODIMP CTestSettingsControl::GetInfo(VARIANT what, VARIANT* result) {
  if (!result) return E_POINTER;
  ::VariantInit(result);
  return com::guard([&]() -> HRESULT {
    com::Variant kind(what);
    if (FAILED(kind.changeType(VT_I4)) || V_I4(kind.get()) != 16) return E_INVALIDARG;
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI4, 0, std::size(kSettingsParameters));
    if (!array) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(std::size(kSettingsParameters)); ++i) {
      ULONG id = kSettingsParameters[i];
      ::SafeArrayPutElement(array, &i, &id);
    }
    V_VT(result) = VT_ARRAY | VT_UI4;
    V_ARRAY(result) = array;
    return S_OK;
  });
}

STDMETHODIMP CTestSettingsControl::SetInfo(VARIANT, VARIANT) { return S_OK; }
STDMETHODIMP CTestSettingsControl::SetFrameContainer(IUnknown*) { return S_OK; }
