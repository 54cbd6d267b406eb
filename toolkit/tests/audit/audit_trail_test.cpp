// The audit trail's documents and texts on the test DTM attached to the
// frame double.
#include <string>
#include <vector>

#include "com/SafeArray.h"
#include "com/Variant.h"
#include "dtm_test_support.h"
#include "test_dtm_ids.h"
#include "toolkit/audit/audit_trail.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/xml/xml_dom.h"

namespace dtmtest {
namespace {

class AuditTrailTest : public DtmFixture {
 protected:
  void SetUp() override {
    DtmFixture::SetUp();
    ASSERT_EQ(S_OK, object.as(trail));
  }
  void TearDown() override {
    trail.reset();
    DtmFixture::TearDown();
  }
  size_t Calls(const char* method) { return frame->callsTo(method).size(); }
  std::wstring LastEvent() {
    auto calls = frame->callsTo("OnAuditTrailEvent");
    return calls.empty() ? std::wstring() : calls.back().arguments.at(1);
  }
  void SwitchOn() {
    VARIANT_BOOL active = VARIANT_FALSE;
    ASSERT_EQ(S_OK, trail->SetAuditTrailActive(VARIANT_TRUE, &active));
    ASSERT_EQ(VARIANT_TRUE, active);
  }
  com::ComPtr<IevFdtAuditTrail> trail;
};

std::wstring Text(const VARIANT& value) {
  com::Bstr text;
  EXPECT_EQ(S_OK, AuditValueText(value, text.put()));
  return text.c_str();
}

// The text of the node at the XPath of an event document (the audit
// namespaces bound to "a" and "fdt"); "<none>" when the document does not
// parse or has no such node.
std::wstring EventText(const std::wstring& document, const wchar_t* xpath) {
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL created = VARIANT_FALSE;
  if (FAILED(XmlCreateAndLoad(document.c_str(), doc.put(), &created)) || !doc) return L"<none>";
  doc->setProperty(com::Bstr(L"SelectionNamespaces").get(),
                   com::Variant(L"xmlns:a='x-schema:DTMAuditTrailSchema.xml' "
                                L"xmlns:fdt='x-schema:FDTDataTypesSchema.xml'")
                       .value());
  doc->setProperty(com::Bstr(L"SelectionLanguage").get(), com::Variant(L"XPath").value());
  com::Bstr text;
  if (FAILED(XmlGetNodeText(doc.get(), xpath, text.put())) || !text.get()) return L"<none>";
  return text.c_str();
}

const std::wstring kVariableEvent = L"/a:FDT/a:AuditTrailEvent/a:AuditTrailVariableEvent";

// The display text of a variable event's old (ChangedFrom) or new (ChangedTo)
// value.
std::wstring Shown(const std::wstring& document, const wchar_t* side) {
  const std::wstring xpath =
      kVariableEvent + L"/a:" + side + L"/a:AuditTrailVariable/@fdt:display";
  return EventText(document, xpath.c_str());
}

// A SAFEARRAY of bytes with the bounds given, filled 1, 2, 3... with the
// last dimension counting fastest.
com::Variant ByteArray(std::vector<SAFEARRAYBOUND> bounds) {
  com::Variant out;
  SAFEARRAY* array = ::SafeArrayCreate(VT_UI1, static_cast<UINT>(bounds.size()), bounds.data());
  EXPECT_NE(nullptr, array);
  if (!array) return out;
  std::vector<LONG> indices(bounds.size());
  for (size_t d = 0; d < bounds.size(); ++d) indices[d] = bounds[d].lLbound;
  for (BYTE next = 1;; ++next) {
    EXPECT_EQ(S_OK, ::SafeArrayPutElement(array, indices.data(), &next));
    size_t d = bounds.size();
    while (d > 0 &&
           ++indices[d - 1] == bounds[d - 1].lLbound + static_cast<LONG>(bounds[d - 1].cElements))
      indices[d - 1] = bounds[d - 1].lLbound, --d;
    if (d == 0) break;
  }
  V_VT(out.get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(out.get()) = array;
  return out;
}

TEST(AuditValueText, ArraysAndEmptyValuesShowAsDescribed) {
  com::Variant empty;
  EXPECT_EQ(L"Not Initialized", Text(empty.value()));
  EXPECT_EQ(L"42", Text(com::Variant(LONG{42}).value()));

  com::SafeArray bytes;
  ASSERT_EQ(S_OK, bytes.createVector(VT_UI1, 2));
  BYTE* data = nullptr;
  ASSERT_EQ(S_OK, ::SafeArrayAccessData(bytes.get(), reinterpret_cast<void**>(&data)));
  data[0] = 1;
  data[1] = 2;
  ::SafeArrayUnaccessData(bytes.get());
  com::Variant byteArray;
  V_VT(byteArray.get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(byteArray.get()) = bytes.detach();
  EXPECT_EQ(L"[ 1 2 ]", Text(byteArray.value()));

  com::SafeArray longs;
  ASSERT_EQ(S_OK, longs.createVector(VT_I4, 2));
  com::Variant longArray;
  V_VT(longArray.get()) = VT_ARRAY | VT_I4;
  V_ARRAY(longArray.get()) = longs.detach();
  EXPECT_EQ(L"[ unsupported type unsupported type ]", Text(longArray.value()));

  com::SafeArray none;
  ASSERT_EQ(S_OK, none.createVector(VT_UI1, 0));
  com::Variant emptyArray;
  V_VT(emptyArray.get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(emptyArray.get()) = none.detach();
  EXPECT_EQ(L"[ ]", Text(emptyArray.value()));

  // More dimensions: the first one lists the rows of the next, whatever
  // their lower bounds.
  EXPECT_EQ(L"[ [ 1 2 3 ] [ 4 5 6 ] ]", Text(ByteArray({{2, 0}, {3, 0}}).value()));
  EXPECT_EQ(L"[ [ 1 2 ] [ 3 4 ] [ 5 6 ] ]", Text(ByteArray({{3, 1}, {2, -1}}).value()));
  EXPECT_EQ(L"[ [ [ 1 2 ] ] [ [ 3 4 ] ] ]", Text(ByteArray({{2, 0}, {1, 0}, {2, 0}}).value()));
}

TEST_F(AuditTrailTest, SwitchingOnTwiceAsksTheFrameOnceAndOffEndsTheTrail) {
  AttachNew();
  SwitchOn();
  SwitchOn();
  EXPECT_EQ(1u, Calls("OnStartTransaction"));
  VARIANT_BOOL active = VARIANT_FALSE;
  ASSERT_EQ(S_OK, trail->SetAuditTrailActive(VARIANT_FALSE, &active));
  EXPECT_EQ(1u, Calls("OnEndTransaction"));
  // Off: nothing reaches the frame.
  com::Bstr d(L""), text(L"x");
  EXPECT_EQ(S_OK, trail->WriteFunctionEvent(d.get(), text.get()));
  EXPECT_EQ(0u, Calls("OnAuditTrailEvent"));
}

TEST_F(AuditTrailTest, FrameThatRefusesTheStartLeavesTheTrailOff) {
  AttachNew();
  frame->setBoolAnswer("OnStartTransaction", VARIANT_FALSE);
  VARIANT_BOOL active = VARIANT_TRUE;
  ASSERT_EQ(S_OK, trail->SetAuditTrailActive(VARIANT_TRUE, &active));
  EXPECT_EQ(VARIANT_FALSE, active);
  com::Bstr d(L""), text(L"x");
  trail->WriteFunctionEvent(d.get(), text.get());
  EXPECT_EQ(0u, Calls("OnAuditTrailEvent"));
}

TEST_F(AuditTrailTest, DocumentsCarryEscapedTextsAndTheDescriptorPart) {
  AttachNew();
  SwitchOn();
  com::Bstr descriptor(L"a\"<b>"), display(L"Fan & \"pump\"");
  ASSERT_EQ(S_OK, trail->WriteFunctionEvent(descriptor.get(), display.get()));
  std::wstring document = LastEvent();
  EXPECT_NE(std::wstring::npos, document.find(L"<AuditTrailEvent  fdt:descriptor=\"a&quot;&lt;b&gt;\"  >"))
      << document;
  EXPECT_NE(std::wstring::npos,
            document.find(L"<AuditTrailFunctionEvent fdt:display=\"Fan &amp; &quot;pump&quot;\"/>"))
      << document;
  EXPECT_EQ(tag.c_str(), frame->callsTo("OnAuditTrailEvent").back().arguments.at(0));

  com::Bstr none(L"");
  ASSERT_EQ(S_OK, trail->WriteFunctionEvent(none.get(), display.get()));
  EXPECT_NE(std::wstring::npos, LastEvent().find(L"<AuditTrailEvent   >")) << LastEvent();

  com::Bstr name(L"Mode"), entry(L"Low <1>");
  ASSERT_EQ(S_OK, trail->WriteDeviceStatusEvent(none.get(), 1, 3, name.get(), entry.get()));
  document = LastEvent();
  EXPECT_NE(std::wstring::npos, document.find(L"fdt:statusFlag=\"warning\"")) << document;
  EXPECT_NE(std::wstring::npos,
            document.find(L"<fdt:EnumeratorEntry index=\"3\" name=\"Mode\"  descriptor=\"Low &lt;1&gt;\"  />"))
      << document;
}

TEST_F(AuditTrailTest, VariableEventKeepsMarkupInItsNameAndValuesAsData) {
  AttachNew();
  SwitchOn();
  com::Bstr descriptor(L"d&<\""), name(L"Mode & \"State\" <1>"), before(L"a<b&c"),
      after(L"\"q\" & <r>");
  ASSERT_EQ(S_OK,
            trail->WriteVariableEvent(descriptor.get(), name.get(), before.get(), after.get()));
  const std::wstring document = LastEvent();
  EXPECT_EQ(L"d&<\"", EventText(document, L"/a:FDT/a:AuditTrailEvent/@fdt:descriptor"))
      << document;
  EXPECT_EQ(name.c_str(), EventText(document, (kVariableEvent + L"/@fdt:name").c_str()));
  EXPECT_EQ(before.c_str(), Shown(document, L"ChangedFrom"));
  EXPECT_EQ(after.c_str(), Shown(document, L"ChangedTo"));
}

TEST_F(AuditTrailTest, ParameterChangeCutsItsValueTextsAt260Characters) {
  AttachNew();
  SwitchOn();
  auto change = [&](const std::wstring& before, const std::wstring& after) {
    com::Variant from(before.c_str()), to(after.c_str());
    EXPECT_EQ(S_OK, AuditWriteParameterChange(trail.get(), L"Text", from.value(), to.value(), L""));
  };
  // A pair of UTF-16 units across the limit goes as a whole.
  change(std::wstring(300, L'x'), std::wstring(259, L'y') + L"\xD83D\xDE00tail");
  EXPECT_EQ(std::wstring(260, L'x'), Shown(LastEvent(), L"ChangedFrom"));
  EXPECT_EQ(std::wstring(259, L'y'), Shown(LastEvent(), L"ChangedTo"));
  // Texts up to the limit stay whole.
  change(L"a", std::wstring(260, L'z'));
  EXPECT_EQ(std::wstring(260, L'z'), Shown(LastEvent(), L"ChangedTo"));
}

TEST_F(AuditTrailTest, ParameterChangesFromEmptyAreWrittenAndTypeChangesAreNot) {
  AttachNew();
  SwitchOn();
  com::Variant empty, five(LONG{5}), text(L"five");
  EXPECT_EQ(S_OK, AuditWriteParameterChange(trail.get(), L"Counter", empty.value(), five.value(), L""));
  std::wstring document = LastEvent();
  EXPECT_NE(std::wstring::npos, document.find(L"fdt:name=\"Counter (VT_I4)\"")) << document;
  EXPECT_NE(std::wstring::npos, document.find(L"<AuditTrailVariable fdt:display=\"Not Initialized\"/>"))
      << document;
  EXPECT_NE(std::wstring::npos, document.find(L"<AuditTrailVariable fdt:display=\"5\"/>")) << document;
  const size_t before = Calls("OnAuditTrailEvent");
  EXPECT_EQ(S_FALSE, AuditWriteParameterChange(trail.get(), L"Counter", text.value(), five.value(), L""));
  EXPECT_EQ(S_FALSE, AuditWriteParameterChange(trail.get(), L"", empty.value(), five.value(), L""));
  EXPECT_EQ(before, Calls("OnAuditTrailEvent"));
}

TEST_F(AuditTrailTest, WriteCoreAndFunctionCallsReachTheFrame) {
  Configure(L"maintenance");
  // DTM event 52 switches the trail on.
  com::ComPtr<IevFdtDtmEvents> events;
  ASSERT_EQ(S_OK, object.as(events));
  com::Variant code;
  V_VT(code.get()) = VT_UI4;
  V_UI4(code.get()) = 52;
  ASSERT_EQ(S_OK, events->OnDtmEvent(*code.get(), *com::Variant(true).get()));
  EXPECT_EQ(1u, Calls("OnStartTransaction"));

  com::ComPtr<IevFdtParameterHandler4> handler;
  ASSERT_EQ(S_OK, object.as(handler));
  com::Variant id;
  V_VT(id.get()) = VT_UI4;
  V_UI4(id.get()) = test_dtm_parameter::kCounter;
  ASSERT_EQ(S_OK, handler->WriteParameter(*id.get(), *com::Variant(LONG{9}).get()));
  std::wstring document = LastEvent();
  EXPECT_NE(std::wstring::npos, document.find(L"fdt:name=\"Counter (VT_I4)\"")) << document;
  EXPECT_NE(std::wstring::npos, document.find(L"fdt:display=\"7\"")) << document;
  EXPECT_NE(std::wstring::npos, document.find(L"fdt:display=\"9\"")) << document;

  // A function call writes its display text without descriptor.
  com::Bstr invoke(L"i"), call(FunctionCall(test_dtm_function::kResetCounter).c_str());
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->InvokeFunctionRequest(invoke.get(), call.get(), &ok));
  bool found = false;
  for (const auto& c : frame->callsTo("OnAuditTrailEvent"))
    if (c.arguments.at(1).find(L"<AuditTrailEvent   >\n\t\t<AuditTrailFunctionEvent fdt:display=\"Reset counter\"/>") !=
        std::wstring::npos)
      found = true;
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace dtmtest
