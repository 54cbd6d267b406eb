// Applying the exported variables of a device document to the parameters,
// and IDtmParameter::SetParameters on top of it.
#include "toolkit/online/online_transfer.h"

#include <msxml2.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Variant.h"
#include "outside.h"
#include "toolkit/dataaccess/data_access.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xml_handler.h"

namespace {

// Paths by local names: device documents carry their schemas as default and
// prefixed namespaces.
const wchar_t kTag[] = L"*[local-name()='FDT']/*[local-name()='DtmDevice']/@*[local-name()='tag']";
const wchar_t kVariables[] =
    L"*[local-name()='FDT']/*[local-name()='DtmDevice']/*[local-name()='ExportedVariables']/"
    L"*[local-name()='DtmVariables']//*[local-name()='DtmVariable']";
const wchar_t kVariantValue[] = L"*[local-name()='Value']/*[local-name()='Variant']";
const wchar_t kDisplayValue[] =
    L"*[local-name()='Value']/*[local-name()='Display']/@*[local-name()='string']";

constexpr ULONG kExportedAsDisplay = 1;
constexpr ULONG kExportedAsVariant = 2;
constexpr ULONG kTagParameter = 1;
constexpr unsigned long kStatusInvalid = 0x4;

// The variable nodes of the document with their names.
struct Variable {
  com::ComPtr<IXMLDOMNode> node;
  std::wstring name;
};

// The variable of that name. Names are compared as text, so a name with
// quotes or brackets cannot change what is selected.
const Variable* FindVariable(const std::vector<Variable>& variables, const wchar_t* name) {
  for (const Variable& variable : variables)
    if (variable.name == (name ? name : L"")) return &variable;
  return nullptr;
}

// The value a variable gives a parameter, in the parameter's type.
HRESULT VariableValue(const ParInfo& record, IXMLDOMNode* node, VARIANT* value) {
  com::Variant read;
  if (record.number & kExportedAsVariant) {
    com::ComPtr<IXMLDOMNode> variant;
    if (FAILED(node->selectSingleNode(com::Bstr(kVariantValue).get(), variant.put())) || !variant)
      return E_FAIL;
    HRESULT hr = ParseFdtVariant(variant.get(), read.get());
    if (FAILED(hr)) return hr;
  } else {
    com::Bstr text;
    HRESULT hr = XmlGetNodeText(node, kDisplayValue, text.put());
    if (FAILED(hr)) return hr;
    read = com::Variant(text.c_str());
  }
  return CFdtVariant::ConvertTo(value, read.get(), record.vt);
}

bool Writable(const ParInfo& record) {
  return record.kind == kParKindDevice ? (record.flags & kParFlagOnlineWrite) != 0
                                       : (record.flags & kParFlagWritable) != 0;
}

}  // namespace

HRESULT OnlineTransferCore::ApplyDocumentVariables(IDispatch* documentNode) {
  if (!documentNode) return E_POINTER;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IXMLDOMNode> node;
    HRESULT hr = documentNode->QueryInterface(__uuidof(IXMLDOMNode), node.putVoid());
    if (FAILED(hr) || !node) return E_INVALIDARG;
    com::ComPtr<IXMLDOMDocument> owner;
    com::ComPtr<IXMLDOMDocument2> document;
    if (SUCCEEDED(node->get_ownerDocument(owner.put())) && owner) {
      owner->QueryInterface(__uuidof(IXMLDOMDocument2), document.putVoid());
    } else {
      node->QueryInterface(__uuidof(IXMLDOMDocument2), document.putVoid());
    }
    if (document)
      document->setProperty(com::Bstr(L"SelectionLanguage").get(), com::Variant(L"XPath").value());

    CevFDT_ParameterHandlerCore& handler = OnlineHandler();
    com::Bstr tag;
    hr = XmlGetNodeText(node.get(), kTag, tag.put());
    if (FAILED(hr)) return hr;
    hr = handler.WriteParameter(com::Variant(static_cast<LONG>(kTagParameter)).value(),
                                com::Variant(tag.c_str()).value());
    if (FAILED(hr)) return hr;

    if (auto extension = OnlineDtm().DtmInterface<IDeviceDocumentExtension>()) {
      VARIANT_BOOL approved = VARIANT_FALSE;
      hr = extension->ApproveDeviceDocument(documentNode, &approved);
      if (FAILED(hr)) return hr;
      if (approved != VARIANT_TRUE) return E_FAIL;
    }

    com::ComPtr<IXMLDOMNodeList> list;
    if (FAILED(node->selectNodes(com::Bstr(kVariables).get(), list.put())) || !list) return S_OK;
    std::vector<Variable> variables;
    LONG length = 0;
    list->get_length(&length);
    for (LONG i = 0; i < length; ++i) {
      Variable variable;
      if (FAILED(list->get_item(i, variable.node.put())) || !variable.node) continue;
      com::Bstr name;
      XmlGetNodeText(variable.node.get(), L"@name", name.put());
      variable.name = name.c_str();
      variables.push_back(std::move(variable));
    }
    if (variables.empty()) return S_OK;

    // First pass: every value is read and checked before anything is written.
    ULONG count = 0;
    hr = handler.GetParameterCount(&count);
    if (FAILED(hr)) return hr;
    std::vector<ULONG> collected;
    for (ULONG i = 0; i < count; ++i) {
      ParInfo record;
      hr = handler.GetParameterAt(i, &record);
      if (FAILED(hr)) return hr;
      if (!(record.number & (kExportedAsDisplay | kExportedAsVariant))) continue;
      const Variable* variable = FindVariable(variables, record.name.c_str());
      if (!variable) continue;
      com::Variant value;
      if (FAILED(VariableValue(record, variable->node.get(), value.get())) || !Writable(record))
        continue;
      unsigned long status = 0;
      hr = handler.Validate(com::ui4(record.id).value(), value.value(), &status);
      if (FAILED(hr)) return hr;
      if (status & kStatusInvalid) return E_FAIL;
      collected.push_back(record.id);
    }
    if (collected.size() != variables.size()) return E_FAIL;

    for (ULONG id : collected) {
      ParInfo record;
      hr = handler.GetParameter(id, &record);
      if (FAILED(hr)) return hr;
      const Variable* variable = FindVariable(variables, record.name.c_str());
      com::Variant value;
      if (!variable || FAILED(VariableValue(record, variable->node.get(), value.get())))
        return E_FAIL;
      hr = handler.WriteParameter(com::ui4(id).value(), value.value());
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  });
}

HRESULT OnlineTransferCore::SetParameterDocument(BSTR document, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    BaseDtm& dtm = OnlineDtm();
    const LONG state = dtm.State();
    if (state < kDtmConfigured || state > kDtmOnline || dtm.UserRole() <= kRoleObserver)
      return S_FALSE;
    com::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL parsed = VARIANT_FALSE;
    if (!document || !*document || FAILED(XmlHandlerCore::LoadOutsideDocument(document, doc.put(), &parsed)) ||
        !parsed)
      return S_FALSE;

    HRESULT applied = S_OK;
    {
      // The lock and the bracket are given back on every way out.
      DataSetLockHold lock(dtm);
      if (!lock.Granted()) return S_FALSE;
      TransferBracket bracket(*this);
      applied = dtm.ApplyExportedVariables(doc.get());
      OnlineHandler().SetDataState(kDataStateValidModified);
    }
    if (FAILED(applied)) {
      ReportToolkitMessage(transfer_message::kSetParametersFailed);
      return S_FALSE;
    }
    *result = VARIANT_TRUE;
    return S_OK;
  });
}
