// Texts come from the DTM's translation document; where it lacks an entry
// each lookup falls back: user messages by id, then by resource name, then
// to the module's string table; toolkit messages to the built-in texts;
// parameter names to the declared ones.
#include "channel/channel_texts.h"
#include "dtm/dtm_ids.h"
#include "hart_dtm_fixture.h"
#include "toolkit/xml/translation.h"
#include "toolkit/xml/user_messages.h"

namespace hartdtmtest {
namespace {

// Knows message 130 by id, message 132 only by its resource name, toolkit
// message 2002 and the name of parameter 1000; lacks everything else.
const char kPartialTranslation[] =
    "<UserMessages>"
    "<Message resId=\"130\"><locale code=\"en\">Library missing (translated)</locale></Message>"
    "<Message resId=\"IDS_ErrorStartCallback\"><locale code=\"en\">Callback failed (by name)</locale></Message>"
    "</UserMessages>"
    "<ToolkitMessages>"
    "<Message id=\"2002\"><locale code=\"en\">Invalid parameters (translated)</locale></Message>"
    "</ToolkitMessages>"
    "<DTM><ParameterList>"
    "<Parameter parId=\"1000\"><Name><locale code=\"en\">Adapter number</locale></Name></Parameter>"
    "</ParameterList></DTM>";

class TextFallbackTest : public HartDtmFixture {
 protected:
  // The DTM's user message as the DTM and its channel look it up.
  std::wstring UserMessage(UINT id, const wchar_t* name) {
    com::Bstr text;
    HRESULT hr = CTranslationHelper::GetUserMessage(object.get(), static_cast<int>(id), name,
                                                    text.put(), ::GetModuleHandleW(hart_dtm::kModuleFileName));
    if (FAILED(hr)) return L"<failed>";
    return text.c_str() ? text.c_str() : L"<null>";
  }

  std::wstring ParameterName(ULONG id) {
    com::ComPtr<IevFdtParameterInfo> info;
    EXPECT_EQ(S_OK, object.as(info));
    com::Variant name;
    EXPECT_EQ(S_OK, info->GetParameterInfo(*UI4(id).get(), *I4(kParameterInfoText).get(), name.get()));
    if (V_VT(name.get()) != VT_BSTR) return L"<not text>";
    return V_BSTR(name.get()) ? V_BSTR(name.get()) : L"";
  }
};

TEST_F(TextFallbackTest, UserMessagesByIdThenByNameThenFromTheStringTable) {
  UseTranslation(kPartialTranslation);
  Create();
  ASSERT_NE(nullptr, ::GetModuleHandleW(hart_dtm::kModuleFileName));
  EXPECT_EQ(L"Library missing (translated)", UserMessage(130, nullptr));
  EXPECT_EQ(L"Callback failed (by name)", UserMessage(132, L"IDS_ErrorStartCallback"));
  // Neither id nor name in the translation: the string table.
  EXPECT_EQ(hartdtm::BuiltInMessageText(133), UserMessage(133, L"IDS_ErrorSetRetryCount"));
  EXPECT_EQ(L"The configured is HART device is of the wrong type for this DTM device type.",
            UserMessage(161, nullptr));
}

TEST_F(TextFallbackTest, WithoutATranslationDocumentEveryMessageComesFromTheStringTable) {
  UseTranslation(nullptr);
  Create();
  // The string table and the table a reviewer holds it against agree.
  int compared = 0;
  for (UINT id = 100; id < 200; ++id) {
    const wchar_t* text = hartdtm::BuiltInMessageText(id);
    if (!text) continue;
    SCOPED_TRACE(id);
    EXPECT_EQ(text, UserMessage(id, hartdtm::BuiltInMessageName(id)));
    ++compared;
  }
  EXPECT_GE(compared, 26);
  EXPECT_EQ(L"The configured is HART device is of the wrong type for this DTM device type.",
            UserMessage(161, nullptr));
  EXPECT_EQ(L"<failed>", UserMessage(199, nullptr));  // in neither
}

TEST_F(TextFallbackTest, ToolkitMessagesFromTheTranslationElseBuiltIn) {
  UseTranslation(kPartialTranslation);
  Create();
  com::Bstr text;
  ASSERT_EQ(S_OK, GetToolkitMessage(object.get(), 2002, ToolkitMessageUser::Dtm, text.put()));
  EXPECT_STREQ(L"Invalid parameters (translated)", text.c_str());
  ASSERT_EQ(S_OK, GetToolkitMessage(object.get(), 2003, ToolkitMessageUser::Dtm, text.put()));
  EXPECT_STREQ(L"Error occured during lock of DTM data set", text.c_str());
  // Neither translated nor built in: a null text, still S_OK.
  ASSERT_EQ(S_OK, GetToolkitMessage(object.get(), 5001, ToolkitMessageUser::Dtm, text.put()));
  EXPECT_EQ(nullptr, text.get());
}

TEST_F(TextFallbackTest, ParameterNamesFromTheTranslationElseTheDeclaredOnes) {
  UseTranslation(kPartialTranslation);
  Create();
  EXPECT_EQ(L"Adapter number", ParameterName(hart_param::kDeviceNumber));
  EXPECT_EQ(L"Primary Master", ParameterName(hart_param::kPrimaryMaster));
  EXPECT_EQ(L"DTM Tag", ParameterName(hart_param::kDtmTag));
}

}  // namespace
}  // namespace hartdtmtest
