// Building, merging and querying documents with the DOM helpers, with the
// namespaces and query forms that the FDT documents use.
#include <gtest/gtest.h>

#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xml_handler.h"

namespace {

class XmlDom : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  void TearDown() override { CoUninitialize(); }

  static com::ComPtr<IXMLDOMDocument2> Parse(const wchar_t* xml) {
    com::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL created = VARIANT_FALSE;
    EXPECT_EQ(S_OK, XmlCreateAndLoad(xml, doc.put(), &created));
    EXPECT_EQ(VARIANT_TRUE, created);
    return doc;
  }
  static com::ComPtr<IXMLDOMNode> Select(IXMLDOMNode* node, const wchar_t* xpath) {
    com::ComPtr<IXMLDOMNode> found;
    node->selectSingleNode(com::Bstr(xpath).get(), found.put());
    return found;
  }
  // "name{namespace}" of every element child, comma-separated.
  static std::wstring Children(IXMLDOMNode* node) {
    std::wstring out;
    com::ComPtr<IXMLDOMNode> child;
    node->get_firstChild(child.put());
    while (child) {
      DOMNodeType type;
      child->get_nodeType(&type);
      if (type == NODE_ELEMENT) {
        com::Bstr name, uri;
        child->get_nodeName(name.put());
        child->get_namespaceURI(uri.put());
        if (!out.empty()) out += L",";
        out += name.c_str();
        if (!uri.empty()) out += std::wstring(L"{") + uri.c_str() + L"}";
      }
      com::ComPtr<IXMLDOMNode> next;
      child->get_nextSibling(next.put());
      child = next;
    }
    return out;
  }
  static std::wstring Name(IXMLDOMNode* node) {
    com::Bstr name;
    if (node) node->get_nodeName(name.put());
    return name.c_str();
  }
};

TEST_F(XmlDom, EscapedTextSurvivesAsAnAttributeValue) {
  const wchar_t* text = L"Say \"yes\" & <go> 'now'\r\nsecond line";
  com::Bstr escaped;
  ASSERT_EQ(S_OK, EscapeXmlText(text, escaped.put()));
  std::wstring e = escaped.c_str();
  EXPECT_NE(std::wstring::npos, e.find(L"&quot;yes&quot;"));
  EXPECT_NE(std::wstring::npos, e.find(L"&amp;"));
  EXPECT_NE(std::wstring::npos, e.find(L"&lt;go"));
  EXPECT_EQ(std::wstring::npos, e.find(L'\n')) << "a raw line break would be read back as a blank";

  // Built into a document from a format text, the value reads back unchanged.
  std::wstring xml = L"<m text=\"" + e + L"\"/>";
  auto doc = Parse(xml.c_str());
  com::Bstr back;
  ASSERT_EQ(S_OK, XmlGetNodeText(doc.get(), L"m/@text", back.put()));
  EXPECT_STREQ(text, back.c_str());

  com::Bstr empty;
  EXPECT_EQ(S_OK, EscapeXmlText(L"", empty.put()));
  ASSERT_NE(nullptr, empty.get());
  EXPECT_EQ(0u, empty.length());
  EXPECT_EQ(E_POINTER, EscapeXmlText(L"x", nullptr));
}

TEST_F(XmlDom, FragmentsAreMergedInFragmentOrder) {
  auto doc = Parse(L"<r><x/><y/></r>");
  auto root = Select(doc.get(), L"r");
  auto x = Select(doc.get(), L"r/x");
  auto y = Select(doc.get(), L"r/y");
  com::ComPtr<IXMLDOMNode> placed;

  ASSERT_EQ(S_OK, XmlAppendFragmentChildren(doc.get(), root.get(), L"<a/><b/>", L"", placed.put()));
  EXPECT_EQ(L"b", Name(placed.get()));
  EXPECT_EQ(L"x,y,a,b", Children(root.get()));

  ASSERT_EQ(S_OK, XmlInsertFragmentBefore(doc.get(), x.get(), L"<c/>text<d/>", L"", placed.put()));
  EXPECT_EQ(L"d", Name(placed.get()));
  EXPECT_EQ(L"c,d,x,y,a,b", Children(root.get()));

  ASSERT_EQ(S_OK, XmlInsertFragmentAfter(doc.get(), x.get(), L"<e/><f/>", L"", placed.put()));
  EXPECT_EQ(L"f", Name(placed.get()));
  EXPECT_EQ(L"c,d,x,e,f,y,a,b", Children(root.get()));

  // After the last child: appended to the reference node's parent, in order.
  auto b = Select(doc.get(), L"r/b");
  ASSERT_EQ(S_OK, XmlInsertFragmentAfter(doc.get(), b.get(), L"<g/><h/>", L"", placed.put()));
  EXPECT_EQ(L"c,d,x,e,f,y,a,b,g,h", Children(root.get()));
  (void)y;
}

TEST_F(XmlDom, FragmentsTakeTheGivenNamespace) {
  auto doc = Parse(L"<FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><Info/></FDT>");
  auto info = Select(doc.get(), L"FDT/Info");
  com::ComPtr<IXMLDOMNode> placed;
  ASSERT_EQ(S_OK, XmlAppendFragmentChildren(doc.get(), info.get(),
                                            L"<Version name=\"1\" xmlns:u=\"urn:u\" u:tag=\"t\"><Sub>text</Sub></Version>",
                                            kFdtDataTypesNamespace, placed.put()));
  EXPECT_EQ(L"Version{x-schema:FDTDataTypesSchema.xml}", Children(info.get()));

  // Queried as FDT code does: prefixed steps with SelectionNamespaces set.
  com::Bstr xml;
  doc->get_xml(xml.put());
  auto reparsed = Parse(xml.c_str());
  reparsed->setProperty(com::Bstr(L"SelectionLanguage").get(), *com::Variant(L"XPath").get());
  reparsed->setProperty(com::Bstr(L"SelectionNamespaces").get(),
                        *com::Variant(L"xmlns:fdt='x-schema:FDTDataTypesSchema.xml'").get());
  EXPECT_EQ(1, XmlNodeExists(reparsed.get(), L"FDT/Info/fdt:Version[@name = \"1\"]/fdt:Sub"));
  reparsed->setProperty(com::Bstr(L"SelectionNamespaces").get(),
                        *com::Variant(L"xmlns:fdt='x-schema:FDTDataTypesSchema.xml' xmlns:u='urn:u'").get());
  com::Bstr tag;
  EXPECT_EQ(S_OK, XmlGetNodeText(reparsed.get(), L"FDT/Info/fdt:Version/@u:tag", tag.put()));
  EXPECT_STREQ(L"t", tag.c_str());
}

TEST_F(XmlDom, FragmentsWithoutElementsPlaceNothing) {
  auto doc = Parse(L"<r><x/></r>");
  auto root = Select(doc.get(), L"r");
  com::ComPtr<IXMLDOMNode> placed;
  EXPECT_EQ(E_FAIL, XmlAppendFragmentChildren(doc.get(), root.get(), L"just text", L"", placed.put()));
  EXPECT_EQ(E_FAIL, XmlAppendFragmentChildren(doc.get(), root.get(), L"<a>", L"", placed.put())) << "not well-formed";
  EXPECT_EQ(L"x", Children(root.get()));
}

TEST_F(XmlDom, ElementsAndAttributesAreBuilt) {
  auto doc = Parse(L"<FDT><List/></FDT>");
  com::ComPtr<IXMLDOMNode> added;
  ASSERT_EQ(S_OK, XmlAppendElementAt(doc.get(), L"FDT/List", L"fdt:Display", kFdtDataTypesNamespace, added.put()));
  EXPECT_EQ(S_FALSE, XmlAppendElementAt(doc.get(), L"FDT/Missing", L"a", L"", added.put()));
  EXPECT_EQ(nullptr, added.get());

  auto display = Select(doc.get(), L"FDT/List/fdt:Display");
  ASSERT_TRUE(display);
  ASSERT_EQ(S_OK, XmlHandlerCore::SetAttribute(doc.get(), display.get(), L"string", *com::Variant(L"a&b").get()));
  ASSERT_EQ(S_OK, XmlHandlerCore::SetAttributeAt(doc.get(), L"FDT/List/fdt:Display", L"string",
                                                 *com::Variant(L"c<d").get()));
  EXPECT_EQ(E_FAIL, XmlHandlerCore::SetAttributeAt(doc.get(), L"FDT/None", L"x", *com::Variant(L"1").get()));

  com::ComPtr<IXMLDOMNode> child;
  ASSERT_EQ(S_OK, XmlHandlerCore::AppendChildElement(doc.get(), L"FDT", L"Plain", child.put()));
  EXPECT_EQ(E_FAIL, XmlHandlerCore::AppendChildElement(doc.get(), L"FDT/None", L"Plain", child.put()));

  // The serialised document parses again and holds one attribute, replaced.
  com::Bstr xml;
  doc->get_xml(xml.put());
  auto reparsed = Parse(xml.c_str());
  com::Bstr value;
  ASSERT_EQ(S_OK, XmlHandlerCore::GetNodeText(value.put(), reparsed.get(), L"FDT/List/fdt:Display/@string"));
  EXPECT_STREQ(L"c<d", value.c_str());
  EXPECT_EQ(L"List,Plain", Children(Select(reparsed.get(), L"FDT").get()));
}

TEST_F(XmlDom, NodeReaders) {
  auto doc = Parse(L"<FDT><Item id=\"7\">seven<Sub>s</Sub></Item></FDT>");
  EXPECT_EQ(1, XmlNodeExists(doc.get(), L"FDT/Item[@id = \"7\"]"));
  EXPECT_EQ(0, XmlNodeExists(doc.get(), L"FDT/Item[@id = \"8\"]"));

  com::Bstr text;
  EXPECT_EQ(S_OK, XmlGetNodeText(doc.get(), L"FDT/Item", text.put()));
  EXPECT_STREQ(L"sevens", text.c_str());
  EXPECT_EQ(S_OK, XmlGetNodeXml(doc.get(), L"FDT/Item/Sub", text.put()));
  EXPECT_STREQ(L"<Sub>s</Sub>", text.c_str());
  EXPECT_EQ(E_FAIL, XmlGetNodeText(doc.get(), L"FDT/Nothing", text.put()));

  BYTE found = 9;
  EXPECT_EQ(S_OK, XmlHandlerCore::GetOptionalNodeText(text.put(), &found, doc.get(), L"FDT/Item/@id"));
  EXPECT_EQ(1, found);
  EXPECT_STREQ(L"7", text.c_str());
  EXPECT_EQ(S_OK, XmlHandlerCore::GetOptionalNodeText(text.put(), &found, doc.get(), L"FDT/Item/@name"));
  EXPECT_EQ(0, found);
  EXPECT_EQ(E_FAIL, XmlHandlerCore::GetNodeText(text.put(), doc.get(), L"FDT/Item/@name"));

  ULONG number = 0;
  LONG signedNumber = 0;
  EXPECT_EQ(S_OK, XmlHandlerCore::ReadNumericAttribute(&number, doc.get(), L"FDT/Item/@id"));
  EXPECT_EQ(7u, number);
  EXPECT_EQ(S_OK, XmlHandlerCore::ReadSignedNumericAttribute(&signedNumber, doc.get(), L"FDT/Item/@id"));
  EXPECT_EQ(7, signedNumber);
  EXPECT_EQ(E_FAIL, XmlHandlerCore::ReadNumericAttribute(&number, doc.get(), L"FDT/Item/@name"));
  EXPECT_TRUE(FAILED(XmlHandlerCore::ReadNumericAttribute(&number, doc.get(), L"FDT/Item/Sub")));
}

TEST_F(XmlDom, ParsedElementIsAppendedWithoutItsDeclaration) {
  auto doc = Parse(L"<FDT/>");
  auto root = Select(doc.get(), L"FDT");
  com::ComPtr<IXMLDOMNode> added;
  ASSERT_EQ(S_OK, XmlAppendParsedElement(doc.get(), root.get(), L"<?xml version=\"1.0\"?><Part a=\"1\"><In/></Part>", L"",
                                         added.put()));
  EXPECT_EQ(L"Part", Name(added.get()));
  EXPECT_EQ(1, XmlNodeExists(doc.get(), L"FDT/Part/In"));
  EXPECT_EQ(E_FAIL, XmlAppendParsedElement(doc.get(), root.get(), L"<broken", L"", added.put()));
}

TEST_F(XmlDom, DisplayValueIsWrittenAsText) {
  auto doc = Parse(L"<FDT/>");
  auto root = Select(doc.get(), L"FDT");
  ASSERT_EQ(S_OK, WriteDisplayValue(doc.get(), root.get(), *com::Variant(LONG(42)).get()));
  com::Bstr text;
  ASSERT_EQ(S_OK, XmlHandlerCore::GetNodeText(text.put(), doc.get(), L"FDT/fdt:Display/@string"));
  EXPECT_STREQ(L"42", text.c_str());
  EXPECT_EQ(L"fdt:Display{x-schema:FDTDataTypesSchema.xml}", Children(root.get()));
}

TEST_F(XmlDom, VariantArrays) {
  com::Variant list;
  ASSERT_EQ(S_OK, AppendToVariantArray(list.get(), *com::Variant(LONG(1)).get()));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, list.type());
  for (LONG value : {2, 3, 4}) ASSERT_EQ(S_OK, AppendToVariantArray(list.get(), *com::Variant(value).get()));
  LONG lower = -1, upper = -1;
  SafeArrayGetLBound(V_ARRAY(list.get()), 1, &lower);
  SafeArrayGetUBound(V_ARRAY(list.get()), 1, &upper);
  EXPECT_EQ(0, lower);
  EXPECT_EQ(3, upper);
  com::Variant last;
  SafeArrayGetElement(V_ARRAY(list.get()), &upper, last.get());
  EXPECT_EQ(4, V_I4(last.get()));

  com::Variant first, second;
  ASSERT_EQ(S_OK, GetVariantPair(*list.get(), first.put(), second.put()));
  EXPECT_EQ(1, V_I4(first.get()));
  EXPECT_EQ(2, V_I4(second.get()));
  EXPECT_EQ(E_UNEXPECTED, GetVariantPair(*com::Variant(LONG(5)).get(), first.put(), second.put()));
  com::Variant single;
  AppendToVariantArray(single.get(), *com::Variant(LONG(1)).get());
  EXPECT_EQ(E_UNEXPECTED, GetVariantPair(*single.get(), first.put(), second.put())) << "one element is no pair";

  // A value that is not a VARIANT array is cleared, not overwritten in place.
  com::Variant wrong(L"x");
  EXPECT_TRUE(FAILED(AppendToVariantArray(wrong.get(), *com::Variant(LONG(1)).get())));
  EXPECT_EQ(VT_EMPTY, wrong.type());
}

}  // namespace
