// Free DOM helpers over MSXML that every FDT document builder and reader of
// the toolkit uses: selecting nodes, reading node texts, appending elements,
// merging XML fragments, escaping attribute text, and two small VARIANT-array
// helpers.
//
// All helpers answer HRESULTs. Nodes handed out carry a reference that the
// caller releases; texts are BSTRs that the caller frees. XPath and other
// text arguments may be plain wide strings: the helpers copy them into BSTRs
// before they reach MSXML.
#pragma once

#include <windows.h>
#include <msxml2.h>
#include <oleauto.h>

// The platform header names no interface ids for __uuidof; these are the
// MSXML interfaces that toolkit code asks for by type.
__CRT_UUID_DECL(IXMLDOMNode, 0x2933BF80, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)
__CRT_UUID_DECL(IXMLDOMDocument, 0x2933BF81, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)
__CRT_UUID_DECL(IXMLDOMElement, 0x2933BF86, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)
__CRT_UUID_DECL(IXMLDOMDocument2, 0x2933BF95, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)

// Class ids and interface ids of the MSXML objects the toolkit creates.
// Documents: the version-independent DOM document; schema collection: the
// version-independent schema cache.
extern const CLSID CLSID_evDomDocument;            // {F6D90F11-9C73-11D3-B32E-00C04F990BB4}
extern const CLSID CLSID_evXmlSchemaCache;         // {373984C9-B845-449B-91E7-45AC83036ADE}
extern const IID IID_evXmlDomDocument2;            // {2933BF95-7B36-11D2-B20E-00C04F983E60}
extern const IID IID_evXmlDomSchemaCollection;     // {373984C8-B845-449B-91E7-45AC83036ADE}
extern const IID IID_evXmlDomNode;                 // {2933BF80-7B36-11D2-B20E-00C04F983E60}

// The namespace of the FDT data types schema, used by most toolkit documents.
extern const wchar_t kFdtDataTypesNamespace[];     // "x-schema:FDTDataTypesSchema.xml"

// Creates a document for parsing text that is not validated: synchronous,
// no external resolution, validation on parse off. The creation error (E_FAIL
// when no object came back) is answered unchanged.
HRESULT XmlCreateParserDocument(IXMLDOMDocument2** out);

// The number 1 when the XPath selects a node, 0 when it selects none; callers
// take any non-zero answer as present (an error then fails the read that
// follows). E_POINTER for a null node, E_INVALIDARG for an empty XPath.
HRESULT XmlNodeExists(IXMLDOMNode* node, const wchar_t* xpath);

// The text (get_text) or the XML (get_xml) of the node the XPath selects.
// E_POINTER for a null node or out pointer, E_INVALIDARG for an empty XPath,
// E_FAIL when nothing is selected.
HRESULT XmlGetNodeText(IXMLDOMNode* node, const wchar_t* xpath, BSTR* out);
HRESULT XmlGetNodeXml(IXMLDOMNode* node, const wchar_t* xpath, BSTR* out);

// Creates an element node in the namespace and appends it to the parent; the
// out node is the appended child. E_POINTER for a null document, parent or
// out; E_INVALIDARG for an empty name or a null namespace.
HRESULT XmlAppendElement(IXMLDOMDocument* doc, IXMLDOMNode* parent, const wchar_t* qualifiedName,
                         const wchar_t* namespaceUri, IXMLDOMNode** out);
// As XmlAppendElement under the node that the XPath selects in the document;
// S_FALSE with nothing appended when the XPath selects nothing.
HRESULT XmlAppendElementAt(IXMLDOMDocument* doc, const wchar_t* xpath, const wchar_t* qualifiedName,
                           const wchar_t* namespaceUri, IXMLDOMNode** out);

// Parses xml in a new non-validating document and moves its first child
// under the parent. The namespace must be non-null but is not used.
HRESULT XmlAppendParsedElement(IXMLDOMDocument* doc, IXMLDOMNode* parent, const wchar_t* xml,
                               const wchar_t* namespaceUri, IXMLDOMNode** out);

// Fragment merging: every element of the fragment, in fragment order, is
// appended to the parent / inserted before the reference node / inserted
// after the reference node. The fragment is parsed inside a wrapper element
// whose default namespace is namespaceUri (none when it is empty). The out
// node is the last node placed; E_FAIL when the fragment holds no element.
HRESULT XmlAppendFragmentChildren(IXMLDOMDocument* doc, IXMLDOMNode* parent, const wchar_t* fragment,
                                  const wchar_t* namespaceUri, IXMLDOMNode** out);
HRESULT XmlInsertFragmentBefore(IXMLDOMDocument* doc, IXMLDOMNode* reference, const wchar_t* fragment,
                                const wchar_t* namespaceUri, IXMLDOMNode** out);
HRESULT XmlInsertFragmentAfter(IXMLDOMDocument* doc, IXMLDOMNode* reference, const wchar_t* fragment,
                               const wchar_t* namespaceUri, IXMLDOMNode** out);

// The document's parse error as "Error 0x%08x\nLine %ld, Column %ld\n\n"
// followed by the parser's reason; replaces (frees) what *text held.
// E_POINTER for a null document or text pointer.
HRESULT XmlParseErrorText(IXMLDOMDocument2* doc, BSTR* text);

// New non-validating document loaded from the text. *created is VARIANT_TRUE
// whenever a document was created, also when the text did not parse (the
// document is then empty). E_INVALIDARG for a null out pointer.
HRESULT XmlCreateAndLoad(const wchar_t* xml, IXMLDOMDocument2** out, VARIANT_BOOL* created);

// The text as it stands inside a double-quoted XML attribute value: markup
// characters, quotes and line breaks as character references. A null or empty
// text gives an empty string. E_POINTER for a null out pointer.
HRESULT EscapeXmlText(const wchar_t* text, BSTR* out);

// Appends "fdt:Display" (FDT data types namespace) under the parent with the
// attribute "string" = the value converted to text. E_POINTER for a null
// document or parent; the conversion error when the value does not convert.
HRESULT WriteDisplayValue(IXMLDOMDocument* doc, IXMLDOMNode* parent, const VARIANT& value);

// Appends value to the one-dimensional VT_ARRAY|VT_VARIANT in *array; a
// VT_EMPTY value becomes a one-element array (lower bound 0). On a failure
// *array is cleared and the error returned.
HRESULT AppendToVariantArray(VARIANT* array, const VARIANT& value);

// Copies the first two elements of a VT_ARRAY|VT_VARIANT value; E_UNEXPECTED
// for any other type, a null array or fewer than two elements.
HRESULT GetVariantPair(const VARIANT& pair, VARIANT* first, VARIANT* second);

// Lets the document's XPaths use the prefixes that its root element
// declares (SelectionNamespaces); the declarations are read from the root's
// start tag, since the platform's attribute map does not list them reliably.
void XmlUseRootNamespaces(IXMLDOMDocument2* doc);
