#include "dtm/device_type_reference.h"

#include <cwctype>
#include <string>
#include <utility>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "toolkit/xml/xml_dom.h"

namespace {

using Declarations = std::vector<std::pair<std::wstring, std::wstring>>;  // prefix, URI

void Note(Declarations& found, const std::wstring& prefix, const std::wstring& uri) {
  if (prefix.empty() || prefix == L"xml" || prefix == L"xmlns" || uri.empty()) return;
  for (const auto& known : found) {
    if (known.first == prefix) return;
  }
  found.emplace_back(prefix, uri);
}

// The prefixes (with their URIs) of the node and, for an element, of its
// attributes and descendant elements.
HRESULT CollectPrefixes(IXMLDOMNode* node, Declarations& found) {
  com::Bstr prefix, uri;
  HRESULT hr = node->get_prefix(prefix.put());
  if (FAILED(hr)) return hr;
  hr = node->get_namespaceURI(uri.put());
  if (FAILED(hr)) return hr;
  Note(found, prefix.c_str() ? prefix.c_str() : L"", uri.c_str() ? uri.c_str() : L"");

  DOMNodeType type = NODE_INVALID;
  hr = node->get_nodeType(&type);
  if (FAILED(hr) || type != NODE_ELEMENT) return hr;

  com::ComPtr<IXMLDOMNamedNodeMap> attributes;
  if (SUCCEEDED(node->get_attributes(attributes.put())) && attributes) {
    long count = 0;
    attributes->get_length(&count);
    for (long i = 0; i < count; ++i) {
      com::ComPtr<IXMLDOMNode> attribute;
      if (FAILED(attributes->get_item(i, attribute.put())) || !attribute) continue;
      hr = CollectPrefixes(attribute.get(), found);
      if (FAILED(hr)) return hr;
    }
  }
  com::ComPtr<IXMLDOMNode> child;
  hr = node->get_firstChild(child.put());
  while (SUCCEEDED(hr) && child) {
    DOMNodeType childType = NODE_INVALID;
    child->get_nodeType(&childType);
    if (childType == NODE_ELEMENT) {
      hr = CollectPrefixes(child.get(), found);
      if (FAILED(hr)) return hr;
    }
    com::ComPtr<IXMLDOMNode> next;
    hr = child->get_nextSibling(next.put());
    child = std::move(next);
  }
  return FAILED(hr) ? hr : S_OK;
}

// The end of the start tag's name: the first blank, '/' or '>' after '<'.
size_t EndOfStartTagName(const std::wstring& xml) {
  const size_t open = xml.find(L'<');
  if (open == std::wstring::npos) return std::wstring::npos;
  return xml.find_first_of(L" \t\r\n/>", open + 1);
}

// Whether the start tag declares the prefix.
bool StartTagDeclares(const std::wstring& xml, const std::wstring& prefix) {
  const size_t close = xml.find(L'>');
  const std::wstring startTag = xml.substr(0, close);
  const std::wstring declaration = L"xmlns:" + prefix;
  for (size_t at = startTag.find(declaration); at != std::wstring::npos;
       at = startTag.find(declaration, at + 1)) {
    const size_t after = at + declaration.size();
    if (after < startTag.size() && (startTag[after] == L'=' || iswspace(startTag[after])))
      return true;
  }
  return false;
}

}  // namespace

HRESULT StandaloneElementXml(IXMLDOMNode* element, BSTR* xml) {
  if (!element || !xml) return E_POINTER;
  *xml = nullptr;
  com::Bstr text;
  HRESULT hr = element->get_xml(text.put());
  if (FAILED(hr)) return hr;
  Declarations used;
  hr = CollectPrefixes(element, used);
  if (FAILED(hr)) return hr;

  std::wstring result = text.c_str() ? text.c_str() : L"";
  std::wstring added;
  for (const auto& declaration : used) {
    if (StartTagDeclares(result, declaration.first)) continue;
    com::Bstr uri;
    hr = EscapeXmlText(declaration.second.c_str(), uri.put());
    if (FAILED(hr)) return hr;
    added += L" xmlns:" + declaration.first + L"=\"" + uri.c_str() + L"\"";
  }
  if (!added.empty()) {
    const size_t at = EndOfStartTagName(result);
    if (at == std::wstring::npos) return E_FAIL;
    result.insert(at, added);
  }
  *xml = ::SysAllocStringLen(result.c_str(), static_cast<UINT>(result.size()));
  return *xml ? S_OK : E_OUTOFMEMORY;
}

HRESULT UseFdtSelectionNamespace(IXMLDOMDocument2* doc) {
  if (!doc) return E_POINTER;
  HRESULT hr = doc->setProperty(com::Bstr(L"SelectionLanguage").get(), *com::Variant(L"XPath").get());
  if (FAILED(hr)) return hr;
  const std::wstring namespaces = std::wstring(L"xmlns:fdt='") + kFdtDataTypesNamespace + L"'";
  return doc->setProperty(com::Bstr(L"SelectionNamespaces").get(),
                          *com::Variant(namespaces.c_str()).get());
}
