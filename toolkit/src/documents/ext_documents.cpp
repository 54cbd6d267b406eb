// External documents, device bitmaps and icons of a device type, and the
// documentation of a function's parameters.
#include "toolkit/documents/ext_documents.h"

#include <cwchar>
#include <cstdarg>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "com/Bstr.h"
#include "com/ComError.h"
#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "toolkit/documents/parameter_document.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/params/param_info.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/translation.h"
#include "toolkit/xml/xml_dom.h"

namespace {

constexpr wchar_t kDocumentFormat[] =
    L"<fdt:DtmDocument xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" label=\"%s\" help=\"%s\"  "
    L"documentClassification=\"%s\" documentLanguageId=\"%d\">\t%s</fdt:DtmDocument>\n";
constexpr wchar_t kFileFormat[] = L"<fdt:DocumentFile file=\"%s\" />";
constexpr wchar_t kUrlFormat[] = L"<fdt:DocumentUrl url=\"%s\" />";
constexpr wchar_t kProgramFormat[] = L"<fdt:DocumentExe file=\"%s\" parameters=\"%s\" />";
constexpr wchar_t kBitmapFormat[] =
    L"<fdt:DeviceBitmap xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" %s path=\"%s\" />\n";
constexpr wchar_t kIconFormat[] =
    L"<fdt:DeviceIcon xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" %s path=\"%s\" />\n";

constexpr wchar_t kDocumentationHeader[] =
    L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMDocumentationSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" xmlns:dtmi=\"x-schema:DTMInformationSchema.xml\" "
    L"title=\"Documentation for FSK Mavix DTM\">\n    <fdt:VersionInformation name=\"FSK Mavix DTM\" "
    L"vendor=\"VELTRA\" version=\"%s\" date=\"%s\"/> <DocumentVariables fdt:name=\"DTM Parameters\">";
constexpr wchar_t kDocumentationVersion[] = L"1.0.1";
constexpr wchar_t kDocumentationDate[] = L"2017-03-24";
constexpr wchar_t kDocumentationEnd[] = L"\t\t</DocumentVariables></FDT> ";

const wchar_t* const kAbsoluteMarks[] = {L"http://", L"ftp://", L"file://", L":\\", L":/"};

// What a control answers to GetInfo for its parameter ids.
constexpr LONG kControlInfoParameterIds = 16;
// Created in process, locally or remotely, without a container.
constexpr DWORD kControlContext = 0x17;
constexpr LONG kFirstDocumentationState = 8;
constexpr LONG kLastDocumentationState = 12;

std::wstring format(const wchar_t* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  com::Bstr out;
  HRESULT hr = FormatBstrV(out.put(), pattern, args);
  va_end(args);
  if (FAILED(hr)) throw com::ComError(hr);
  return out.c_str() ? out.c_str() : L"";
}

std::wstring escaped(const wchar_t* text) {
  com::Bstr out;
  HRESULT hr = EscapeXmlText(text, out.put());
  if (FAILED(hr)) throw com::ComError(hr);
  return out.c_str() ? out.c_str() : L"";
}

// A table text (8-bit text or string-table id) as wide text; "" for none.
std::wstring tableText(BaseDtm& dtm, const char* text) {
  if (!text) return L"";
  com::Bstr out;
  if (FAILED(dtm.LoadResourceTextOf(text, out.put())) || !out.c_str()) return L"";
  return out.c_str();
}

// The path as the frame can open it: relative names against the module.
std::wstring resolvedPath(const std::wstring& path) {
  if (!ClassifyDocumentReference(path.c_str())) return path;
  com::Bstr resolved;
  if (FAILED(ResolveModulePath(path.c_str(), resolved.put())) || !resolved.c_str()) return path;
  return resolved.c_str();
}

bool forDeviceType(BaseDtm& dtm, const DocumentListRecord& record, BSTR deviceTypeId) {
  const std::wstring own = tableText(dtm, record.deviceTypeId);
  if (own.empty()) return true;
  com::Bstr own_b(own.c_str());
  com::Bstr asked(deviceTypeId ? deviceTypeId : L"");
  return ::VarBstrCmp(own_b.get(), asked.get(), 0x400, 0) == VARCMP_EQ;
}

const wchar_t* graphicState(ULONG state) {
  switch (state) {
    case DocumentListRecord::kDevice: return L"deviceGraphicState=\"device\"";
    case DocumentListRecord::kDiagnosis: return L"deviceGraphicState=\"diagnosis\"";
    case DocumentListRecord::kOem: return L"deviceGraphicState=\"oem\"";
    default: return L"";
  }
}

std::wstring fragmentOf(BaseDtm& dtm, const DocumentListRecord& record) {
  const std::wstring path = escaped(resolvedPath(tableText(dtm, record.path)).c_str());
  switch (record.kind) {
    case DocumentListRecord::kDocumentFile:
    case DocumentListRecord::kUrl:
    case DocumentListRecord::kProgram: {
      const std::wstring classification = tableText(dtm, record.classification);
      if (classification.empty()) return L"";
      std::wstring inner;
      if (record.kind == DocumentListRecord::kDocumentFile) {
        inner = format(kFileFormat, path.c_str());
      } else if (record.kind == DocumentListRecord::kUrl) {
        inner = format(kUrlFormat, escaped(tableText(dtm, record.path).c_str()).c_str());
      } else {
        inner = format(kProgramFormat, path.c_str(),
                       escaped(tableText(dtm, record.programParameters).c_str()).c_str());
      }
      return format(kDocumentFormat, escaped(tableText(dtm, record.label).c_str()).c_str(),
                    escaped(tableText(dtm, record.help).c_str()).c_str(),
                    escaped(classification.c_str()).c_str(), static_cast<int>(record.languageId),
                    inner.c_str());
    }
    case DocumentListRecord::kDeviceBitmap:
      return format(kBitmapFormat, graphicState(record.graphicState), path.c_str());
    case DocumentListRecord::kDeviceIcon:
      return format(kIconFormat, graphicState(record.graphicState), path.c_str());
    default:
      return L"";
  }
}

// The parameter ids a control shows: VT_ARRAY|VT_UI4 (or anything that
// converts to it) from its GetInfo.
bool controlParameterIds(const char* progId, std::vector<ULONG>* ids) {
  if (!progId || !*progId) return false;
  std::wstring wide(progId, progId + std::strlen(progId));
  CLSID classId = {};
  if (FAILED(::CLSIDFromProgID(wide.c_str(), &classId))) return false;
  com::ComPtr<IevFdtActiveXInfo> info;
  if (FAILED(::CoCreateInstance(classId, nullptr, kControlContext, __uuidof(IevFdtActiveXInfo),
                                info.putVoid())) ||
      !info)
    return false;
  com::Variant answer;
  if (FAILED(info->GetInfo(com::Variant(kControlInfoParameterIds).value(), answer.get())))
    return false;
  if (answer.type() != (VT_ARRAY | VT_UI4) && FAILED(answer.changeType(VT_ARRAY | VT_UI4)))
    return false;
  SAFEARRAY* array = V_ARRAY(answer.get());
  LONG low = 0, high = -1;
  if (!array || ::SafeArrayGetDim(array) != 1 || FAILED(::SafeArrayGetLBound(array, 1, &low)) ||
      FAILED(::SafeArrayGetUBound(array, 1, &high)))
    return false;
  for (LONG i = low; i <= high; ++i) {
    ULONG id = 0;
    if (SUCCEEDED(::SafeArrayGetElement(array, &i, &id))) ids->push_back(id);
  }
  return true;
}

// Every persistent parameter, through the object's parameter info.
HRESULT persistentParameterIds(IUnknown* object, std::vector<ULONG>* ids) {
  com::ComPtr<IevFdtParameterInfo> info;
  if (!object || FAILED(object->QueryInterface(__uuidof(IevFdtParameterInfo), info.putVoid())))
    return S_OK;
  com::Variant count;
  HRESULT hr = info->GetCount(count.get());
  if (FAILED(hr)) return hr;
  hr = count.changeType(VT_UI4);
  if (FAILED(hr)) return hr;
  for (ULONG i = 0; i < V_UI4(count.get()); ++i) {
    com::Variant index, id, persist;
    V_VT(index.get()) = VT_UI4;
    V_UI4(index.get()) = i;
    hr = info->GetParameterId(index.value(), id.get());
    if (FAILED(hr)) return hr;
    com::Variant selector;
    V_VT(selector.get()) = VT_UI4;
    V_UI4(selector.get()) = kParPersist;
    hr = info->GetParameterInfo(id.value(), selector.value(), persist.get());
    if (FAILED(hr)) return hr;
    if (SUCCEEDED(persist.changeType(VT_BOOL)) && V_BOOL(persist.get()) &&
        SUCCEEDED(id.changeType(VT_UI4)))
      ids->push_back(V_UI4(id.get()));
  }
  return S_OK;
}

}  // namespace

bool ClassifyDocumentReference(const wchar_t* reference) {
  std::wstring text = reference ? reference : L"";
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  for (const wchar_t* mark : kAbsoluteMarks)
    if (text.find(mark) != std::wstring::npos) return false;
  return true;
}

// ---------------------------------------------------------------------------
// IevFdtExtDocument
// ---------------------------------------------------------------------------

HRESULT ExtDocumentCore::fragments(BSTR deviceTypeId, ULONG kindLow, ULONG kindHigh, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = ExtDocumentDtm();
    size_t count = 0;
    const DocumentListRecord* records = dtm.GetDocumentList(&count);
    std::wstring text;
    for (size_t i = 0; records && i < count; ++i) {
      const DocumentListRecord& record = records[i];
      if (record.kind < kindLow || record.kind > kindHigh) continue;
      if (!forDeviceType(dtm, record, deviceTypeId)) continue;
      text += fragmentOf(dtm, record);
    }
    *out = ::SysAllocString(text.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
  });
}

STDMETHODIMP ExtDocumentCore::GetDocuments(BSTR deviceTypeId, BSTR* fragment) {
  return fragments(deviceTypeId, DocumentListRecord::kDocumentFile, DocumentListRecord::kProgram,
                   fragment);
}

STDMETHODIMP ExtDocumentCore::GetDeviceBitmaps(BSTR deviceTypeId, BSTR* fragment) {
  return fragments(deviceTypeId, DocumentListRecord::kDeviceBitmap,
                   DocumentListRecord::kDeviceBitmap, fragment);
}

STDMETHODIMP ExtDocumentCore::GetDeviceIcons(BSTR deviceTypeId, BSTR* fragment) {
  return fragments(deviceTypeId, DocumentListRecord::kDeviceIcon, DocumentListRecord::kDeviceIcon,
                   fragment);
}

// ---------------------------------------------------------------------------
// IDtmDocumentation
// ---------------------------------------------------------------------------

STDMETHODIMP ExtDocumentCore::GetDocumentation(BSTR functionCall, BSTR* document) {
  if (!document) return E_POINTER;
  *document = nullptr;
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = ExtDocumentDtm();
    const LONG state = dtm.State();
    if (state < kFirstDocumentationState || state > kLastDocumentationState) return S_FALSE;
    if (dtm.UserRole() < kRoleOperator) {
      *document = ::SysAllocString(L"");
      return S_FALSE;
    }
    LONG functionId = 0;
    HRESULT hr = dtm.GetFunctionId(functionCall, &functionId);
    if (FAILED(hr)) return hr;
    hr = BuildDocumentation(functionId, document);
    return FAILED(hr) ? hr : S_OK;
  });
}

HRESULT ExtDocumentCore::BuildDocumentation(LONG functionId, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = ExtDocumentDtm();
    const FunctionTableRow* entry = nullptr;
    HRESULT hr = dtm.LookupFunction(functionId, &entry);
    if (FAILED(hr) || !entry) return E_FAIL;
    if (!entry->printable) {
      *out = ::SysAllocString(L"");
      return *out ? S_OK : E_OUTOFMEMORY;
    }
    IUnknown* object = dtm.GetCommDtmInterface();
    std::vector<ULONG> ids;
    if (!controlParameterIds(entry->progId, &ids)) {
      ids.clear();
      hr = persistentParameterIds(object, &ids);
      if (FAILED(hr)) return hr;
    }
    std::wstring text = format(kDocumentationHeader, kDocumentationVersion, kDocumentationDate);
    for (ULONG id : ids) {
      com::Bstr line;
      if (SUCCEEDED(BuildDocumentVariables(object, id, line.put())) && line.c_str())
        text += line.c_str();
    }
    text += kDocumentationEnd;
    *out = ::SysAllocString(text.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
  });
}
