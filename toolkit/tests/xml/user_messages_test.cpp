// User messages through the frame's user dialog, and toolkit messages with
// their built-in English texts.
#include <gtest/gtest.h>

#include <string>

#include "com/Bstr.h"
#include "com/Variant.h"
#include "frame_application.h"
#include "test_dtm.h"
#include "test_support.h"
#include "toolkit/xml/user_messages.h"
#include "toolkit/xml/xml_handler.h"
#include "toolkit/xml/xml_schema_lists.h"
#include "win32/unique_handle.h"

namespace {

struct Dtm {
  static const wchar_t* const* XmlSchemaFiles() { return kDtmSchemaFiles; }
  void ReportXmlMessage(const char*) {}
};

TEST(UserMessageStyle, GivesTheRequestAttributesAndTheDefaultAnswer) {
  struct Case {
    ULONG style;
    const wchar_t *type, *buttons, *defaultButton;
    long answer;
  } cases[] = {
      {0x24, L"messageQuestion", L"buttonsYesNo", L"buttonYes", IDYES},
      {0x113, L"messageStop", L"buttonsYesNoCancel", L"buttonNo", IDNO},
      {0x232, L"messageExclamation", L"buttonsAbortRetryIgnore", L"buttonIgnore", IDIGNORE},
      {0x215, L"messageStop", L"buttonsRetryCancel", L"buttonRetry", IDRETRY},  // no third button
      {0x101, L"messageInformation", L"buttonsOkCancel", L"buttonCancel", IDCANCEL},
      {0x146, L"messageInformation", L"buttonsOk", L"buttonOk", IDOK},  // unknown set
      {0x0, L"messageInformation", L"buttonsOk", L"buttonOk", IDOK},
  };
  for (const Case& c : cases) {
    UserMessageAttributes a = BuildUserMessageAttributes(c.style);
    EXPECT_STREQ(c.type, a.messageType) << std::hex << c.style;
    EXPECT_STREQ(c.buttons, a.buttons) << std::hex << c.style;
    EXPECT_STREQ(c.defaultButton, a.defaultButton) << std::hex << c.style;
    EXPECT_EQ(c.answer, DefaultAnswerOfStyle(c.style)) << std::hex << c.style;
  }
  EXPECT_EQ(IDABORT, ResultButtonFromName(L"buttonAbort"));
  EXPECT_EQ(IDNO, ResultButtonFromName(L"buttonNo"));
  EXPECT_EQ(0, ResultButtonFromName(L"ButtonNo"));
  EXPECT_EQ(0, ResultButtonFromName(L"nobutton"));
  EXPECT_EQ(0, ResultButtonFromName(nullptr));
}

class UserMessage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    frameUnknown_ = frame_double::createFrameApplication(&frame_);
    ASSERT_EQ(S_OK, xml_.InitializeSchemaCache(xmltest::StandInSchemaFolder().c_str()));
    route_.frameApplication = frameUnknown_.get();
    route_.systemTag = [](BSTR* tag) { return com::Bstr(L"DTM-7").copyTo(tag); };
    route_.xml = &xml_;
  }
  void TearDown() override {
    frameUnknown_ = nullptr;
    CoUninitialize();
  }
  HRESULT Show(ULONG style, long* answer, const wchar_t* text = L"Stop?", const wchar_t* title = L"Upload") {
    com::Variant flags;
    V_VT(flags.get()) = VT_UI4;
    V_UI4(flags.get()) = style;
    return ShowUserMessage(route_, text, title, *flags.get(), answer);
  }
  void Answer(HRESULT result, const std::wstring& document) { frame_->queueUserDialogAnswer({result, document}); }

  Dtm owner_;
  CevFDTXMLHandlerImpl<Dtm> xml_{owner_};
  frame_double::FrameApplication* frame_ = nullptr;
  com::ComPtr<IUnknown> frameUnknown_;
  UserMessageRoute route_;
};

TEST_F(UserMessage, ReachesTheFrameAsAnFdtDocumentAndMapsTheAnswer) {
  Answer(S_OK, frame_double::FrameApplication::answerDocument(L"buttonNo"));
  long answer = 0;
  const wchar_t* text = L"Values <1> & \"2\" differ.\r\nStore them?";
  ASSERT_EQ(S_OK, Show(0x24, &answer, text, L"Q&A \"now\""));
  EXPECT_EQ(IDNO, answer);

  auto calls = frame_->callsTo("UserDialog");
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(GetCurrentThreadId(), calls[0].threadId) << "the call blocks on the caller's thread";
  EXPECT_EQ(L"DTM-7", calls[0].arguments[0]);
  const std::wstring& request = calls[0].arguments[1];
  EXPECT_EQ(0u, request.find(L"<?xml version=\"1.0\"?> <FDT \txmlns=\"x-schema:FDTUserMessageSchema.xml\""));

  // The request is well-formed and carries the texts unchanged.
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL created = VARIANT_FALSE;
  ASSERT_EQ(S_OK, XmlCreateAndLoad(request.c_str(), doc.put(), &created));
  doc->setProperty(com::Bstr(L"SelectionLanguage").get(), *com::Variant(L"XPath").get());
  doc->setProperty(com::Bstr(L"SelectionNamespaces").get(),
                   *com::Variant(L"xmlns:m='x-schema:FDTUserMessageSchema.xml' "
                                 L"xmlns:fdt='x-schema:FDTDataTypesSchema.xml'")
                        .get());
  auto attribute = [&](const wchar_t* xpath) {
    com::Bstr value;
    EXPECT_EQ(S_OK, XmlGetNodeText(doc.get(), xpath, value.put())) << xpath;
    return std::wstring(value.c_str());
  };
  EXPECT_EQ(L"messageQuestion", attribute(L"m:FDT/m:FDTUserMessage/@messageType"));
  EXPECT_EQ(L"buttonsYesNo", attribute(L"m:FDT/m:FDTUserMessage/@messageButtons"));
  EXPECT_EQ(L"buttonYes", attribute(L"m:FDT/m:FDTUserMessage/@messageDefault"));
  EXPECT_EQ(L"Q&A \"now\"", attribute(L"m:FDT/m:FDTUserMessage/@title"));
  EXPECT_EQ(text, attribute(L"m:FDT/m:FDTUserMessage/m:TextLine/@fdt:string"));
}

TEST_F(UserMessage, AnswersThatNameNoButton) {
  long answer = 0;
  Answer(S_OK, frame_double::FrameApplication::answerDocument(L"buttonMaybe"));
  EXPECT_EQ(S_OK, Show(0x113, &answer));
  EXPECT_EQ(0, answer);

  Answer(S_OK, L"<FDT xmlns=\"x-schema:FDTUserMessageSchema.xml\"><FDTUserMessage messageType=\"messageStop\" "
               L"messageButtons=\"buttonsOk\"/></FDT>");
  EXPECT_EQ(S_FALSE, Show(0x113, &answer));
  EXPECT_EQ(IDNO, answer) << "the style's default";

  Answer(S_OK, L"<FDT><unclosed></FDT>");
  EXPECT_EQ(S_FALSE, Show(0x113, &answer));
  EXPECT_EQ(IDNO, answer);
}

TEST_F(UserMessage, EveryFailureOnTheWayLeavesTheDefaultAnswer) {
  long answer = 0;
  Answer(E_FAIL, L"");
  EXPECT_EQ(S_FALSE, Show(0x24, &answer));
  EXPECT_EQ(IDYES, answer);

  route_.systemTag = [](BSTR*) { return E_UNEXPECTED; };
  answer = 0;
  EXPECT_EQ(S_FALSE, Show(0x24, &answer));
  EXPECT_EQ(IDYES, answer);
  EXPECT_EQ(1u, frame_->callsTo("UserDialog").size()) << "no call without a system tag";

  frame_->offers().userDialog = false;
  route_.systemTag = [](BSTR* tag) { return com::Bstr(L"DTM-7").copyTo(tag); };
  EXPECT_EQ(S_FALSE, Show(0x201, &answer));
  EXPECT_EQ(IDOK, answer);

  route_.frameApplication = nullptr;
  EXPECT_EQ(S_FALSE, Show(0x104, &answer));
  EXPECT_EQ(IDNO, answer);
  EXPECT_EQ(1u, frame_->callsTo("UserDialog").size());
}

TEST_F(UserMessage, StyleArgument) {
  Answer(S_OK, frame_double::FrameApplication::answerDocument(L"buttonRetry"));
  long answer = 0;
  com::Variant text(L"37");  // any type that converts to VT_UI4
  EXPECT_EQ(S_OK, ShowUserMessage(route_, L"t", L"c", *text.get(), &answer));
  EXPECT_EQ(IDRETRY, answer);
  com::Variant word(L"retry");
  EXPECT_EQ(DISP_E_TYPEMISMATCH, ShowUserMessage(route_, L"t", L"c", *word.get(), &answer));
  EXPECT_EQ(E_POINTER, ShowUserMessage(route_, L"t", L"c", *text.get(), nullptr));
}

// The DTM worker thread asks its questions through the frame object that the
// DTM keeps; the call crosses to the frame's apartment and blocks the worker.
TEST_F(UserMessage, AskedOnAWorkerThreadTheCallRunsInTheFramesApartment) {
  com::ComPtr<ITypeLib> library;
  ASSERT_EQ(S_OK, LoadTypeLibEx((xmltest::ProgramFolder() + L"fdtlib.tlb").c_str(), REGKIND_REGISTER, library.put()));
  struct Work {
    IStream* frame = nullptr;
    HRESULT result = E_UNEXPECTED;
    long answer = 0;
    DWORD thread = 0;
  } work;
  ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(IID_IUnknown, frameUnknown_.get(), &work.frame));
  Answer(S_OK, frame_double::FrameApplication::answerDocument(L"buttonCancel"));

  auto body = [](void* argument) -> DWORD {
    Work& w = *static_cast<Work*>(argument);
    w.thread = GetCurrentThreadId();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      com::ComPtr<IUnknown> frame;
      CoGetInterfaceAndReleaseStream(w.frame, IID_IUnknown, frame.putVoid());
      Dtm owner;
      CevFDTXMLHandlerImpl<Dtm> xml(owner);
      xml.InitializeSchemaCache(xmltest::StandInSchemaFolder().c_str());
      UserMessageRoute route;
      route.frameApplication = frame.get();
      route.systemTag = [](BSTR* tag) { return com::Bstr(L"DTM-7").copyTo(tag); };
      route.xml = &xml;
      com::Variant style;
      V_VT(style.get()) = VT_UI4;
      V_UI4(style.get()) = MB_OKCANCEL;
      w.result = ShowUserMessage(route, L"Abort the scan?", L"Scan", *style.get(), &w.answer);
    }
    CoUninitialize();
    return 0;
  };
  win32::UniqueHandle thread(CreateThread(nullptr, 0, body, &work, 0, nullptr));
  ASSERT_TRUE(thread.valid());
  // This apartment serves the frame while the worker waits for it.
  HANDLE handle = thread.get();
  DWORD deadline = GetTickCount() + 20000;
  while (MsgWaitForMultipleObjects(1, &handle, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    ASSERT_LT(static_cast<LONG>(GetTickCount() - deadline), 0) << "the worker's question never returned";
  }
  EXPECT_EQ(S_OK, work.result);
  EXPECT_EQ(IDCANCEL, work.answer);
  auto calls = frame_->callsTo("UserDialog");
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(GetCurrentThreadId(), calls[0].threadId);
  EXPECT_NE(work.thread, calls[0].threadId);
}

class ToolkitMessages : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  void TearDown() override { CoUninitialize(); }
  static std::wstring Message(IUnknown* dtm, ULONG id, ToolkitMessageUser user, bool* isNull = nullptr) {
    com::Bstr text;
    EXPECT_EQ(S_OK, GetToolkitMessage(dtm, id, user, text.put()));
    if (isNull) *isNull = text.get() == nullptr;
    return text.c_str();
  }
};

TEST_F(ToolkitMessages, TranslatedTextsComeFirstThenTheBuiltInEnglish) {
  TestDtm* object = nullptr;
  com::ComPtr<IUnknown> dtm = CreateTestDtm(&object);
  bool isNull = false;
  // No translation document loaded.
  EXPECT_EQ(L"DTM Warning", Message(dtm.get(), 3002, ToolkitMessageUser::Dtm));
  EXPECT_EQ(L"", Message(dtm.get(), 9999, ToolkitMessageUser::Dtm, &isNull));
  EXPECT_TRUE(isNull);

  std::wstring folder = xmltest::ProgramFolder() + L"translation\\hartcommdtmTranslation.xml";
  com::ComPtr<IXMLDOMDocument2> file;
  VARIANT_BOOL created = VARIANT_FALSE;
  ASSERT_EQ(S_OK, XmlCreateAndLoad(L"<x/>", file.put(), &created));
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, file->load(*com::Variant(folder.c_str()).get(), &ok));
  com::Bstr xml;
  file->get_xml(xml.put());
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(S_OK, object->LoadTranslation(xml.get(), &loaded));
  VARIANT_BOOL selected = VARIANT_FALSE;
  ASSERT_EQ(S_OK, object->SelectLanguage(1033, &selected));

  EXPECT_EQ(L"Upload failed. Stop the upload?", Message(dtm.get(), 1001, ToolkitMessageUser::Controls));
  EXPECT_EQ(L"Release DTM", Message(dtm.get(), 6002, ToolkitMessageUser::Dtm)) << "no English translation";
  ASSERT_EQ(S_OK, object->SelectLanguage(1031, &selected));
  EXPECT_EQ(L"DTM freigeben", Message(dtm.get(), 6002, ToolkitMessageUser::Dtm));
  EXPECT_EQ(L"Fehler beim Hochladen. Abbrechen?", Message(dtm.get(), 1001, ToolkitMessageUser::TransferStop));

  // Each user knows its own built-in texts only.
  EXPECT_EQ(L"", Message(nullptr, 3002, ToolkitMessageUser::Controls, &isNull));
  EXPECT_TRUE(isNull);
  EXPECT_EQ(L"Apply changes?", Message(nullptr, 4002, ToolkitMessageUser::Controls));
  EXPECT_EQ(L"Warning", Message(nullptr, 4001, ToolkitMessageUser::Controls));
  EXPECT_EQ(L"", Message(nullptr, 1005, ToolkitMessageUser::TransferStop, &isNull));
  EXPECT_FALSE(isNull) << "the stop questions get an empty text";
  EXPECT_EQ(L"Upload Parameters", Message(nullptr, 1002, ToolkitMessageUser::TransferStop));
  EXPECT_EQ(L"", Message(nullptr, 1007, ToolkitMessageUser::Controls, &isNull));
  EXPECT_TRUE(isNull);
  EXPECT_EQ(E_POINTER, GetToolkitMessage(nullptr, 1001, ToolkitMessageUser::Dtm, nullptr));
}

}  // namespace
