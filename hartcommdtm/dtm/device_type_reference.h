// The data set's device type: the fdt:DtmDeviceType element of the frame's
// device-type document, kept as XML text. The toolkit persists that text and
// Config reads the device type's name back from it, so it must parse as a
// document of its own: the namespaces it uses are declared on its root even
// where the frame's document declared them on an ancestor.
#pragma once

#include <windows.h>
#include <msxml2.h>
#include <oleauto.h>

// The XML of the element with a declaration, on its start tag, of every
// namespace prefix that the element, its descendants and their attributes
// use and the start tag does not declare. E_POINTER for a null node or out
// pointer; the DOM's error when the node cannot be read.
HRESULT StandaloneElementXml(IXMLDOMNode* element, BSTR* xml);

// Binds "fdt" to the FDT data types namespace for XPath queries on doc,
// whatever prefix the document itself uses.
HRESULT UseFdtSelectionNamespace(IXMLDOMDocument2* doc);
