// Free DOM helpers over MSXML (see toolkit/xml/xml_dom.h).
#include "toolkit/xml/xml_dom.h"

#include <cwctype>
#include <string>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "toolkit/values/fdt_variant.h"

const CLSID CLSID_evDomDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
const CLSID CLSID_evXmlSchemaCache = {0x373984C9, 0xB845, 0x449B, {0x91, 0xE7, 0x45, 0xAC, 0x83, 0x03, 0x6A, 0xDE}};
const IID IID_evXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID IID_evXmlDomSchemaCollection = {0x373984C8, 0xB845, 0x449B, {0x91, 0xE7, 0x45, 0xAC, 0x83, 0x03, 0x6A, 0xDE}};
const IID IID_evXmlDomNode = {0x2933BF80, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

const wchar_t kFdtDataTypesNamespace[] = L"x-schema:FDTDataTypesSchema.xml";

namespace {

bool IsEmpty(const wchar_t* text) { return !text || !*text; }

HRESULT SelectSingle(IXMLDOMNode* node, const wchar_t* xpath, com::ComPtr<IXMLDOMNode>& found) {
  com::Bstr query(xpath);
  return node->selectSingleNode(query.get(), found.put());
}

// Rebuilds a node of another document in doc, so that the result owns all
// of its storage (names, namespaces) in doc. Moving a node between documents
// is not enough on every MSXML: the node may keep referring to namespace
// declarations of the document it came from.
HRESULT ImportNode(IXMLDOMDocument* doc, IXMLDOMNode* source, com::ComPtr<IXMLDOMNode>& out) {
  DOMNodeType type = NODE_INVALID;
  HRESULT hr = source->get_nodeType(&type);
  if (FAILED(hr)) return hr;
  com::Bstr name, uri, text;
  source->get_nodeName(name.put());
  source->get_namespaceURI(uri.put());
  out.reset();
  switch (type) {
    case NODE_ELEMENT: {
      VARIANT kind;
      VariantInit(&kind);
      V_VT(&kind) = VT_I4;
      V_I4(&kind) = NODE_ELEMENT;
      hr = doc->createNode(kind, name.get(), uri.get(), out.put());
      if (FAILED(hr) || !out) return FAILED(hr) ? hr : E_FAIL;
      com::ComPtr<IXMLDOMElement> element;
      hr = out->QueryInterface(__uuidof(IXMLDOMElement), element.putVoid());
      if (FAILED(hr)) return hr;
      com::ComPtr<IXMLDOMNamedNodeMap> attributes, targetAttributes;
      source->get_attributes(attributes.put());
      out->get_attributes(targetAttributes.put());
      LONG count = 0;
      if (attributes) attributes->get_length(&count);
      for (LONG i = 0; i < count; ++i) {
        com::ComPtr<IXMLDOMNode> attribute;
        if (FAILED(attributes->get_item(i, attribute.put())) || !attribute) continue;
        com::Bstr attributeName, attributeUri;
        com::Variant value;
        attribute->get_nodeName(attributeName.put());
        attribute->get_namespaceURI(attributeUri.put());
        attribute->get_nodeValue(value.get());
        const std::wstring n = attributeName.c_str();
        const bool declaration = n == L"xmlns" || n.compare(0, 6, L"xmlns:") == 0;
        if (declaration || attributeUri.empty() || !targetAttributes) {
          hr = element->setAttribute(attributeName.get(), *value.get());
        } else {
          VARIANT attributeKind;
          VariantInit(&attributeKind);
          V_VT(&attributeKind) = VT_I4;
          V_I4(&attributeKind) = NODE_ATTRIBUTE;
          com::ComPtr<IXMLDOMNode> created, replaced;
          hr = doc->createNode(attributeKind, attributeName.get(), attributeUri.get(), created.put());
          if (SUCCEEDED(hr) && created) hr = created->put_nodeValue(*value.get());
          if (SUCCEEDED(hr) && created) hr = targetAttributes->setNamedItem(created.get(), replaced.put());
        }
        if (FAILED(hr)) return hr;
      }
      com::ComPtr<IXMLDOMNode> child;
      source->get_firstChild(child.put());
      while (child) {
        com::ComPtr<IXMLDOMNode> copy, appended;
        hr = ImportNode(doc, child.get(), copy);
        if (FAILED(hr)) return hr;
        if (copy) {
          hr = out->appendChild(copy.get(), appended.put());
          if (FAILED(hr)) return hr;
        }
        com::ComPtr<IXMLDOMNode> next;
        child->get_nextSibling(next.put());
        child = next;
      }
      return S_OK;
    }
    case NODE_TEXT: {
      source->get_text(text.put());
      com::ComPtr<IXMLDOMText> node;
      hr = doc->createTextNode(text.get(), node.put());
      if (SUCCEEDED(hr) && node) out.reset(node.get());
      return hr;
    }
    case NODE_CDATA_SECTION: {
      source->get_text(text.put());
      com::ComPtr<IXMLDOMCDATASection> node;
      hr = doc->createCDATASection(text.get(), node.put());
      if (SUCCEEDED(hr) && node) out.reset(node.get());
      return hr;
    }
    case NODE_COMMENT: {
      source->get_text(text.put());
      com::ComPtr<IXMLDOMComment> node;
      hr = doc->createComment(text.get(), node.put());
      if (SUCCEEDED(hr) && node) out.reset(node.get());
      return hr;
    }
    default:
      return S_OK;  // nothing else occurs inside the elements the toolkit merges
  }
}

enum class Placement { AppendToParent, InsertBefore, InsertAfter };

HRESULT MergeFragment(Placement placement, IXMLDOMDocument* doc, IXMLDOMNode* target, const wchar_t* fragment,
                      const wchar_t* namespaceUri, IXMLDOMNode** out) {
  if (!out || !doc || !target) return E_POINTER;
  *out = nullptr;
  if (IsEmpty(fragment) || !namespaceUri) return E_INVALIDARG;

  // The wrapper gives the fragment one root and its default namespace.
  std::wstring xml;
  if (*namespaceUri) {
    com::Bstr uri;
    HRESULT hr = EscapeXmlText(namespaceUri, uri.put());
    if (FAILED(hr)) return hr;
    xml = L"<f xmlns=\"";
    xml += uri.c_str();
    xml += L"\" >";
  } else {
    xml = L"<f>";
  }
  xml += fragment;
  xml += L"</f>";

  com::ComPtr<IXMLDOMDocument2> parsed;
  HRESULT hr = XmlCreateParserDocument(parsed.put());
  if (FAILED(hr)) return hr;
  com::Bstr text(xml.c_str());
  VARIANT_BOOL ok = VARIANT_FALSE;
  parsed->loadXML(text.get(), &ok);

  // The wrapper's element children, taken from the child list rather than a
  // query so that the outcome does not depend on the selection language.
  com::ComPtr<IXMLDOMElement> wrapper;
  if (FAILED(parsed->get_documentElement(wrapper.put())) || !wrapper) return E_FAIL;
  com::ComPtr<IXMLDOMNodeList> children;
  if (FAILED(wrapper->get_childNodes(children.put())) || !children) return E_FAIL;
  LONG count = 0;
  children->get_length(&count);
  std::vector<com::ComPtr<IXMLDOMNode>> list;
  for (LONG i = 0; i < count; ++i) {
    com::ComPtr<IXMLDOMNode> child;
    if (FAILED(children->get_item(i, child.put())) || !child) continue;
    DOMNodeType type = NODE_INVALID;
    child->get_nodeType(&type);
    if (type == NODE_ELEMENT) list.push_back(child);
  }
  if (list.empty()) return E_FAIL;

  // After: each element goes behind the one placed before it, so that the
  // fragment keeps its order.
  com::ComPtr<IXMLDOMNode> anchor(target);
  com::ComPtr<IXMLDOMNode> placed;
  hr = E_FAIL;
  for (auto& source : list) {
    com::ComPtr<IXMLDOMNode> element;
    hr = ImportNode(doc, source.get(), element);
    if (FAILED(hr)) return hr;
    placed.reset();
    switch (placement) {
      case Placement::AppendToParent:
        hr = target->appendChild(element.get(), placed.put());
        break;
      case Placement::InsertBefore: {
        com::ComPtr<IXMLDOMNode> parent;
        hr = target->get_parentNode(parent.put());
        if (FAILED(hr) || !parent) return FAILED(hr) ? hr : E_FAIL;
        com::Variant before(static_cast<IDispatch*>(target));
        hr = parent->insertBefore(element.get(), *before.get(), placed.put());
        break;
      }
      case Placement::InsertAfter: {
        com::ComPtr<IXMLDOMNode> parent;
        hr = anchor->get_parentNode(parent.put());
        if (FAILED(hr) || !parent) return FAILED(hr) ? hr : E_FAIL;
        com::ComPtr<IXMLDOMNode> next;
        anchor->get_nextSibling(next.put());
        if (next) {
          com::Variant before(static_cast<IDispatch*>(next.get()));
          hr = parent->insertBefore(element.get(), *before.get(), placed.put());
        } else {
          hr = parent->appendChild(element.get(), placed.put());
        }
        if (placed) anchor = placed;
        break;
      }
    }
    if (FAILED(hr)) return hr;
  }
  *out = placed.detach();
  return hr;
}

}  // namespace

HRESULT XmlCreateParserDocument(IXMLDOMDocument2** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  com::ComPtr<IXMLDOMDocument2> doc;
  HRESULT hr = ::CoCreateInstance(CLSID_evDomDocument, nullptr, CLSCTX_ALL, IID_evXmlDomDocument2, doc.putVoid());
  if (FAILED(hr)) return hr;
  if (!doc) return E_FAIL;
  doc->put_async(VARIANT_FALSE);
  doc->put_resolveExternals(VARIANT_FALSE);
  doc->put_validateOnParse(VARIANT_FALSE);
  *out = doc.detach();
  return S_OK;
}

HRESULT XmlNodeExists(IXMLDOMNode* node, const wchar_t* xpath) {
  if (!node) return E_POINTER;
  if (IsEmpty(xpath)) return E_INVALIDARG;
  com::ComPtr<IXMLDOMNode> found;
  HRESULT hr = SelectSingle(node, xpath, found);
  if (FAILED(hr)) return hr;
  return found ? 1 : 0;
}

HRESULT XmlGetNodeText(IXMLDOMNode* node, const wchar_t* xpath, BSTR* out) {
  if (!node || !out) return E_POINTER;
  if (IsEmpty(xpath)) return E_INVALIDARG;
  com::ComPtr<IXMLDOMNode> found;
  HRESULT hr = SelectSingle(node, xpath, found);
  if (FAILED(hr)) return hr;
  if (!found) return E_FAIL;
  *out = nullptr;
  return found->get_text(out);
}

HRESULT XmlGetNodeXml(IXMLDOMNode* node, const wchar_t* xpath, BSTR* out) {
  if (!node || !out) return E_POINTER;
  if (IsEmpty(xpath)) return E_INVALIDARG;
  com::ComPtr<IXMLDOMNode> found;
  HRESULT hr = SelectSingle(node, xpath, found);
  if (FAILED(hr)) return hr;
  if (!found) return E_FAIL;
  *out = nullptr;
  return found->get_xml(out);
}

HRESULT XmlAppendElement(IXMLDOMDocument* doc, IXMLDOMNode* parent, const wchar_t* qualifiedName,
                         const wchar_t* namespaceUri, IXMLDOMNode** out) {
  if (!doc || !parent || !out) return E_POINTER;
  if (IsEmpty(qualifiedName) || !namespaceUri) return E_INVALIDARG;
  *out = nullptr;
  VARIANT type;
  VariantInit(&type);
  V_VT(&type) = VT_I4;
  V_I4(&type) = NODE_ELEMENT;
  com::Bstr name(qualifiedName);
  com::Bstr uri(namespaceUri);
  com::ComPtr<IXMLDOMNode> created;
  HRESULT hr = doc->createNode(type, name.get(), uri.get(), created.put());
  if (FAILED(hr)) return hr;
  if (!created) return E_FAIL;
  return parent->appendChild(created.get(), out);
}

HRESULT XmlAppendElementAt(IXMLDOMDocument* doc, const wchar_t* xpath, const wchar_t* qualifiedName,
                           const wchar_t* namespaceUri, IXMLDOMNode** out) {
  if (!doc || !out) return E_POINTER;
  if (IsEmpty(xpath)) return E_INVALIDARG;
  *out = nullptr;
  com::ComPtr<IXMLDOMNode> parent;
  HRESULT hr = SelectSingle(doc, xpath, parent);
  if (FAILED(hr)) return hr;
  if (!parent) return S_FALSE;
  return XmlAppendElement(doc, parent.get(), qualifiedName, namespaceUri, out);
}

HRESULT XmlAppendParsedElement(IXMLDOMDocument* doc, IXMLDOMNode* parent, const wchar_t* xml,
                               const wchar_t* namespaceUri, IXMLDOMNode** out) {
  if (!doc || !parent || !out) return E_POINTER;
  if (IsEmpty(xml) || !namespaceUri) return E_INVALIDARG;
  *out = nullptr;
  com::ComPtr<IXMLDOMDocument2> parsed;
  HRESULT hr = XmlCreateParserDocument(parsed.put());
  if (FAILED(hr)) return hr;
  com::Bstr text(xml);
  VARIANT_BOOL ok = VARIANT_FALSE;
  parsed->loadXML(text.get(), &ok);
  // The root element; an XML declaration or a comment in front of it is not
  // what the caller means to append.
  com::ComPtr<IXMLDOMElement> root;
  if (FAILED(parsed->get_documentElement(root.put())) || !root) return E_FAIL;
  com::ComPtr<IXMLDOMNode> copy;
  hr = ImportNode(doc, root.get(), copy);
  if (FAILED(hr)) return hr;
  return parent->appendChild(copy.get(), out);
}

HRESULT XmlAppendFragmentChildren(IXMLDOMDocument* doc, IXMLDOMNode* parent, const wchar_t* fragment,
                                  const wchar_t* namespaceUri, IXMLDOMNode** out) {
  return MergeFragment(Placement::AppendToParent, doc, parent, fragment, namespaceUri, out);
}

HRESULT XmlInsertFragmentBefore(IXMLDOMDocument* doc, IXMLDOMNode* reference, const wchar_t* fragment,
                                const wchar_t* namespaceUri, IXMLDOMNode** out) {
  return MergeFragment(Placement::InsertBefore, doc, reference, fragment, namespaceUri, out);
}

HRESULT XmlInsertFragmentAfter(IXMLDOMDocument* doc, IXMLDOMNode* reference, const wchar_t* fragment,
                               const wchar_t* namespaceUri, IXMLDOMNode** out) {
  return MergeFragment(Placement::InsertAfter, doc, reference, fragment, namespaceUri, out);
}

HRESULT XmlParseErrorText(IXMLDOMDocument2* doc, BSTR* text) {
  if (!doc || !text) return E_POINTER;
  com::ComPtr<IXMLDOMParseError> error;
  HRESULT hr = doc->get_parseError(error.put());
  if (FAILED(hr)) return hr;
  if (!error) return E_FAIL;
  LONG code = 0, line = 0, column = 0;
  error->get_errorCode(&code);
  error->get_line(&line);
  error->get_linepos(&column);
  com::Bstr reason;
  error->get_reason(reason.put());
  wchar_t head[512];
  _snwprintf(head, 512, L"Error 0x%08x\nLine %ld, Column %ld\n\n", static_cast<unsigned>(code),
             static_cast<long>(line), static_cast<long>(column));
  head[511] = L'\0';
  com::Bstr result(head);
  result.append(reason.c_str());
  ::SysFreeString(*text);
  *text = result.detach();
  return S_OK;
}

HRESULT XmlCreateAndLoad(const wchar_t* xml, IXMLDOMDocument2** out, VARIANT_BOOL* created) {
  if (!out || !created) return E_INVALIDARG;
  com::ComPtr<IXMLDOMDocument2> doc;
  HRESULT hr = XmlCreateParserDocument(doc.put());
  if (FAILED(hr)) return hr;
  com::Bstr text(xml);
  VARIANT_BOOL ok = VARIANT_FALSE;
  doc->loadXML(text.get(), &ok);
  *out = doc.detach();
  *created = VARIANT_TRUE;
  return S_OK;
}

HRESULT EscapeXmlText(const wchar_t* text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEmpty(text)) {
    *out = ::SysAllocString(L"");
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  // The platform's serialiser decides which characters become references:
  // an attribute "test" holds the text, its XML reads test="...".
  com::ComPtr<IXMLDOMDocument2> doc;
  HRESULT hr = XmlCreateParserDocument(doc.put());
  if (FAILED(hr)) return hr;
  com::Bstr name(L"test");
  com::ComPtr<IXMLDOMAttribute> attribute;
  hr = doc->createAttribute(name.get(), attribute.put());
  if (FAILED(hr)) return hr;
  if (!attribute) return E_FAIL;
  com::Variant value(text);
  hr = attribute->put_value(*value.get());
  if (FAILED(hr)) return hr;
  com::Bstr xml;
  hr = attribute->get_xml(xml.put());
  if (FAILED(hr)) return hr;
  const wchar_t* all = xml.c_str();
  const wchar_t* first = wcschr(all, L'"');
  const wchar_t* second = first ? wcschr(first + 1, L'"') : nullptr;
  if (!second) return E_FAIL;
  // Line breaks and tabs stay raw in some serialisers; a parser would turn
  // them into blanks, so they travel as character references.
  std::wstring escaped;
  for (const wchar_t* p = first + 1; p < second; ++p) {
    switch (*p) {
      case L'\r': escaped += L"&#13;"; break;
      case L'\n': escaped += L"&#10;"; break;
      case L'\t': escaped += L"&#9;"; break;
      default: escaped += *p; break;
    }
  }
  *out = ::SysAllocStringLen(escaped.data(), static_cast<UINT>(escaped.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT WriteDisplayValue(IXMLDOMDocument* doc, IXMLDOMNode* parent, const VARIANT& value) {
  if (!doc || !parent) return E_POINTER;
  com::Variant text;
  HRESULT hr = CFdtVariant::ConvertTo(text.get(), &value, VT_BSTR);
  if (FAILED(hr)) return hr;
  if (text.type() != VT_BSTR) return E_FAIL;
  com::ComPtr<IXMLDOMNode> display;
  hr = XmlAppendElement(doc, parent, L"fdt:Display", kFdtDataTypesNamespace, display.put());
  if (FAILED(hr)) return hr;
  com::ComPtr<IXMLDOMElement> element;
  hr = display.as(element);
  if (FAILED(hr)) return hr;
  com::Bstr name(L"string");
  return element->setAttribute(name.get(), *text.get());
}

HRESULT AppendToVariantArray(VARIANT* array, const VARIANT& value) {
  if (!array) return E_POINTER;
  HRESULT hr = S_OK;
  if (V_VT(array) == VT_EMPTY) {
    SAFEARRAY* created = ::SafeArrayCreateVector(VT_VARIANT, 0, 1);
    if (!created) return E_OUTOFMEMORY;
    LONG index = 0;
    hr = ::SafeArrayPutElement(created, &index, const_cast<VARIANT*>(&value));
    if (FAILED(hr)) {
      ::SafeArrayDestroy(created);
      return hr;
    }
    V_VT(array) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(array) = created;
    return S_OK;
  }
  if (V_VT(array) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(array) || ::SafeArrayGetDim(V_ARRAY(array)) != 1) {
    hr = E_INVALIDARG;
  } else {
    SAFEARRAY* list = V_ARRAY(array);
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(list, 1, &lower);
    ::SafeArrayGetUBound(list, 1, &upper);
    SAFEARRAYBOUND bound = {static_cast<ULONG>(upper - lower + 2), lower};
    hr = ::SafeArrayRedim(list, &bound);
    if (SUCCEEDED(hr)) {
      LONG index = upper + 1;
      hr = ::SafeArrayPutElement(list, &index, const_cast<VARIANT*>(&value));
    }
  }
  if (FAILED(hr)) ::VariantClear(array);
  return hr;
}

HRESULT GetVariantPair(const VARIANT& pair, VARIANT* first, VARIANT* second) {
  if (!first || !second) return E_POINTER;
  if (V_VT(&pair) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(&pair)) return E_UNEXPECTED;
  SAFEARRAY* list = V_ARRAY(&pair);
  LONG lower = 0, upper = -1;
  if (FAILED(::SafeArrayGetLBound(list, 1, &lower)) || FAILED(::SafeArrayGetUBound(list, 1, &upper)) ||
      upper - lower < 1) {
    return E_UNEXPECTED;
  }
  com::Variant a, b;
  LONG index = lower;
  HRESULT hr = ::SafeArrayGetElement(list, &index, a.get());
  if (FAILED(hr)) return hr;
  index = lower + 1;
  hr = ::SafeArrayGetElement(list, &index, b.get());
  if (FAILED(hr)) return hr;
  ::VariantClear(first);
  ::VariantClear(second);
  a.detachTo(first);
  b.detachTo(second);
  return S_OK;
}

// Answers the prefixed steps of a document's XPaths from the namespaces its
// root element declares. The declarations are read from the root's start
// tag: the platform's attribute map does not list them reliably.
void XmlUseRootNamespaces(IXMLDOMDocument2* doc) {
  com::ComPtr<IXMLDOMElement> root;
  com::Bstr xml;
  if (FAILED(doc->get_documentElement(root.put())) || !root || FAILED(root->get_xml(xml.put())))
    return;
  const std::wstring text = xml.c_str();
  std::wstring namespaces;
  wchar_t quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == L'"' || c == L'\'') {
      quote = c;
      continue;
    }
    if (c == L'>') break;
    if (!iswspace(c) || text.compare(i + 1, 6, L"xmlns:") != 0) continue;
    // xmlns:prefix = "uri"
    const size_t nameStart = i + 1;
    const size_t equals = text.find(L'=', nameStart);
    if (equals == std::wstring::npos) break;
    size_t open = equals + 1;
    while (open < text.size() && iswspace(text[open])) ++open;
    if (open >= text.size() || (text[open] != L'"' && text[open] != L'\'')) break;
    const size_t close = text.find(text[open], open + 1);
    if (close == std::wstring::npos) break;
    std::wstring name = text.substr(nameStart, equals - nameStart);
    while (!name.empty() && iswspace(name.back())) name.pop_back();
    if (!namespaces.empty()) namespaces += L' ';
    namespaces += name + L"='" + text.substr(open + 1, close - open - 1) + L"'";
    i = close;
  }
  if (namespaces.empty()) return;
  com::Variant property(namespaces.c_str());
  doc->setProperty(com::Bstr(L"SelectionNamespaces").get(), *property.get());
}
