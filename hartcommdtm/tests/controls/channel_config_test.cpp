// The channel configuration control hosted by ProgID in a frame window and
// initialised with the HART DTM: the channel settings shown, entries checked
// and marked, changes written through the DTM's parameter handler on Apply,
// the page locked while the DTM is online, the question on unapplied changes
// at close, and help.
#include "controls/control_resources.h"
#include "controls_fixture.h"
#include "dtm/dtm_ids.h"
#include "fdtidl/ToolkitHooks.h"
#include "toolkit/values/text_helpers.h"

namespace hartdtmtest {
namespace {

const wchar_t kProgId[] = L"vtFDT.FSKMavixCommDTM_ChannelConfig";

class ChannelConfigTest : public ControlsFixture {
 protected:
  void Open() {
    if (!object) Configure();
    OpenControl(kProgId, hart_function::kChannelConfiguration, L"Channel Configuration", 500, 270);
    ASSERT_EQ(VARIANT_TRUE, initialised);
  }
  ULONG Number(ULONG id) {
    com::Variant value = Read(id);
    EXPECT_EQ(S_OK, value.changeType(VT_UI4));
    return V_UI4(value.get());
  }
};

TEST_F(ChannelConfigTest, ShowsTheChannelSettingsAndTakesFunctionThreeOutOfTheMenu) {
  Configure();
  EXPECT_EQ(L"1", FunctionEnabled(hart_function::kChannelConfiguration));
  Open();
  EXPECT_EQ(BST_CHECKED, ::SendMessageW(host.item(IDC_PRIMARY_MASTER), BM_GETCHECK, 0, 0));
  EXPECT_EQ(L"5", host.text(IDC_PREAMBLES));
  EXPECT_EQ(L"3", host.text(IDC_RETRIES));
  EXPECT_EQ(L"15", host.text(IDC_MAX_SCAN_ADDRESS));
  EXPECT_FALSE(host.visible(IDC_STATUS_TEXT));
  EXPECT_FALSE(host.visible(IDC_PREAMBLES_CHANGED));
  EXPECT_TRUE(host.enabled(IDC_PREAMBLES));
  EXPECT_TRUE(host.enabled(IDC_APPLY));
  const std::wstring header = HostedCalls(IDC_DEVICE_HEADER);
  EXPECT_NE(std::wstring::npos, header.find(L"ShowValue 990 FSK Mavix DTM")) << header;
  EXPECT_NE(std::wstring::npos, header.find(L"ShowValue 991 HART")) << header;
  const std::wstring footer = HostedCalls(IDC_FOOTER_BAR);
  EXPECT_NE(std::wstring::npos, footer.find(L"SetCommand 1 4\n")) << footer;
  EXPECT_NE(std::wstring::npos, footer.find(L"SetCommand 3 1\n")) << footer;
  EXPECT_EQ(L"0", FunctionEnabled(hart_function::kChannelConfiguration));

  // Its class from the module's type library; its translation is the DTM's.
  com::ComPtr<IProvideClassInfo> classInfo = host.as<IProvideClassInfo>();
  ASSERT_TRUE(classInfo);
  com::ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, classInfo->GetClassInfo(info.put()));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_EQ(TKIND_COCLASS, attr->typekind);
  EXPECT_TRUE(IsEqualGUID(CLSID_ChannelConfigCtrl, attr->guid));
  info->ReleaseTypeAttr(attr);
  com::ComPtr<IevFdtTranslation> fromControl = host.as<IevFdtTranslation>(), fromDtm;
  ASSERT_EQ(S_OK, object.as(fromDtm));
  EXPECT_EQ(fromDtm.get(), fromControl.get());
}

TEST_F(ChannelConfigTest, InvalidEntryIsMarkedAndNotWritten) {
  Open();
  host.typeText(IDC_PREAMBLES, L"3");  // 5 to 20
  EXPECT_TRUE(host.visible(IDC_PREAMBLES_INVALID));
  EXPECT_FALSE(host.visible(IDC_PREAMBLES_CHANGED));
  host.click(IDC_APPLY);
  EXPECT_EQ(5u, Number(hart_param::kPreambleCount));
  EXPECT_EQ(host.item(IDC_PREAMBLES), ::GetFocus()) << "the invalid entry gets the focus";
  EXPECT_TRUE(host.visible(IDC_PREAMBLES_INVALID));
}

TEST_F(ChannelConfigTest, ValidChangesAreMarkedAndWrittenOnApply) {
  Open();
  host.typeText(IDC_PREAMBLES, L"10");
  host.typeText(IDC_MAX_SCAN_ADDRESS, L"40");
  host.click(IDC_PRIMARY_MASTER);
  EXPECT_TRUE(host.visible(IDC_PREAMBLES_CHANGED));
  EXPECT_FALSE(host.visible(IDC_PREAMBLES_INVALID));
  EXPECT_TRUE(host.visible(IDC_MAX_SCAN_CHANGED));
  EXPECT_TRUE(host.visible(IDC_PRIMARY_MASTER_CHANGED));
  EXPECT_FALSE(host.visible(IDC_RETRIES_CHANGED));
  EXPECT_EQ(5u, Number(hart_param::kPreambleCount)) << "nothing written before Apply";

  host.click(IDC_APPLY);
  EXPECT_EQ(10u, Number(hart_param::kPreambleCount));
  EXPECT_EQ(40u, Number(hart_param::kMaxScanAddress));
  com::Variant master = Read(hart_param::kPrimaryMaster);
  ASSERT_EQ(VT_BOOL, master.type());
  EXPECT_EQ(VARIANT_FALSE, V_BOOL(master.get()));
  EXPECT_FALSE(host.visible(IDC_PREAMBLES_CHANGED));
  EXPECT_FALSE(host.visible(IDC_PRIMARY_MASTER_CHANGED));
  EXPECT_FALSE(host.closed()) << "Apply keeps the page open";
}

TEST_F(ChannelConfigTest, OnlineStateLocksTheSettingsWithTheReason) {
  Open();
  BroadcastState(12);
  for (UINT item : {IDC_PRIMARY_MASTER, IDC_PREAMBLES, IDC_RETRIES, IDC_MAX_SCAN_ADDRESS, IDC_APPLY})
    EXPECT_FALSE(host.enabled(item)) << item;
  EXPECT_TRUE(host.visible(IDC_STATUS_ICON));
  EXPECT_TRUE(host.visible(IDC_STATUS_TEXT));
  EXPECT_EQ(L"Communication settings can only be changed when the DTM is offline.", host.text(IDC_STATUS_TEXT));
  EXPECT_NE(std::wstring::npos, HostedCalls(IDC_FOOTER_BAR).find(L"SetCommand 1 2\n"));
  host.fitToDialog(299, 160);
  SaveScreenshot("channel_configuration_online");

  BroadcastState(8);
  for (UINT item : {IDC_PRIMARY_MASTER, IDC_PREAMBLES, IDC_RETRIES, IDC_MAX_SCAN_ADDRESS, IDC_APPLY})
    EXPECT_TRUE(host.enabled(item)) << item;
  EXPECT_FALSE(host.visible(IDC_STATUS_TEXT));

  // Communication set (state 9): the channel may be going online with these
  // settings, so they stay locked too.
  BroadcastState(9);
  for (UINT item : {IDC_PRIMARY_MASTER, IDC_PREAMBLES, IDC_RETRIES, IDC_MAX_SCAN_ADDRESS, IDC_APPLY})
    EXPECT_FALSE(host.enabled(item)) << item;
  EXPECT_FALSE(host.typeText(IDC_PREAMBLES, L"7"));
  EXPECT_EQ(L"Communication settings can only be changed when the DTM is offline.", host.text(IDC_STATUS_TEXT));
}

TEST_F(ChannelConfigTest, CloseAsksAboutUnappliedChangesAndCancelKeepsThePage) {
  Open();
  host.typeText(IDC_RETRIES, L"12");
  frame->queueUserDialogAnswer({S_OK, frame_double::FrameApplication::answerDocument(L"buttonCancel")});
  host.click(IDC_CANCEL);
  control_host::HostedControl::pump();
  ASSERT_EQ(1u, frame->callsTo("UserDialog").size());
  EXPECT_NE(std::wstring::npos, frame->callsTo("UserDialog")[0].arguments.at(1).find(L"Apply changes?"));
  EXPECT_FALSE(host.closed());
  EXPECT_EQ(3u, Number(hart_param::kRetryCount));
  EXPECT_TRUE(host.visible(IDC_RETRIES_CHANGED)) << "the change is kept";

  frame->queueUserDialogAnswer({S_OK, frame_double::FrameApplication::answerDocument(L"buttonYes")});
  host.click(IDC_CANCEL);
  control_host::HostedControl::pump();
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(12u, Number(hart_param::kRetryCount)) << "Yes applied the change";
  EXPECT_EQ((std::vector<VARIANT_BOOL>{VARIANT_FALSE, VARIANT_TRUE}), releaseAnswers);
  EXPECT_EQ(L"1", FunctionEnabled(hart_function::kChannelConfiguration)) << "offered again";
}

// A frame may open one function twice, under two keys: function 3 comes
// back to the menu when its last page goes, not before, however they go.
TEST_F(ChannelConfigTest, FunctionThreeIsOfferedAgainWhenItsLastPageGoes) {
  Open();
  control_host::HostedControl second;
  ASSERT_EQ(S_OK, second.create(kProgId, L"Channel Configuration", 500, 270));
  com::Bstr secondKey(L"second page"), call(FunctionCallDocument(hart_function::kChannelConfiguration).c_str());
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, second.as<IDtmActiveXControl>()->Init(secondKey.get(), call.get(), object.get(), &ok));
  ASSERT_EQ(VARIANT_TRUE, ok);
  ASSERT_EQ(L"0", FunctionEnabled(hart_function::kChannelConfiguration));

  // The first page closes, then a third is dropped by its frame unasked.
  host.click(IDC_CANCEL);
  ASSERT_TRUE(host.closed());
  EXPECT_EQ(L"0", FunctionEnabled(hart_function::kChannelConfiguration)) << "offered while a page is open";
  Open();
  EXPECT_EQ(S_OK, host.closeObject());
  host.close();
  EXPECT_EQ(L"0", FunctionEnabled(hart_function::kChannelConfiguration)) << "offered while a page is open";

  // The last one goes.
  VARIANT_BOOL released = VARIANT_FALSE;
  ASSERT_EQ(S_OK, second.as<IDtmActiveXControl>()->PrepareToRelease(&released));
  ASSERT_EQ(VARIANT_TRUE, released);
  second.close();
  EXPECT_EQ(L"1", FunctionEnabled(hart_function::kChannelConfiguration));
}

// A second page opened under the key the first holds is not recorded by
// the DTM. As it goes, asked or dropped, it takes nothing of the first,
// which stays recorded with its data-set lock, keeps the function out of
// the menu and still follows the DTM.
TEST_F(ChannelConfigTest, SecondPageUnderTheFirstsKeyTakesNothingOfTheFirstAsItGoes) {
  Open();
  com::ComPtr<IevFdtOpenControls> open;
  ASSERT_EQ(S_OK, object.as(open));
  ASSERT_EQ(1u, open->OpenControlCount());
  ASSERT_EQ(1u, open->OpenLockingFunctionCount());
  com::Bstr call(FunctionCallDocument(hart_function::kChannelConfiguration).c_str());
  for (bool asked : {true, false}) {
    SCOPED_TRACE(asked ? "PrepareToRelease" : "IOleObject::Close");
    control_host::HostedControl second;
    ASSERT_EQ(S_OK, second.create(kProgId, L"Channel Configuration", 500, 270));
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(S_OK, second.as<IDtmActiveXControl>()->Init(tag.get(), call.get(), object.get(), &ok));
    EXPECT_EQ(1u, open->OpenControlCount()) << "the key is taken";
    if (asked) {
      VARIANT_BOOL released = VARIANT_FALSE;
      ASSERT_EQ(S_OK, second.as<IDtmActiveXControl>()->PrepareToRelease(&released));
      ASSERT_EQ(VARIANT_TRUE, released);
    } else {
      EXPECT_EQ(S_OK, second.closeObject());
    }
    second.close();
    EXPECT_EQ(1u, open->OpenControlCount());
    EXPECT_EQ(1u, open->OpenLockingFunctionCount());
    com::ComPtr<IUnknown> recorded;
    EXPECT_EQ(S_OK, open->FindOpenControl(tag.c_str(), recorded.put()));
    EXPECT_EQ(L"0", FunctionEnabled(hart_function::kChannelConfiguration));
  }
  BroadcastState(12);
  EXPECT_TRUE(host.visible(IDC_STATUS_TEXT)) << "the first page no longer follows the DTM";
  BroadcastState(8);
  EXPECT_FALSE(host.visible(IDC_STATUS_TEXT));

  // The first page's own close gives everything back.
  host.click(IDC_CANCEL);
  ASSERT_TRUE(host.closed());
  EXPECT_EQ(0u, open->OpenControlCount());
  EXPECT_EQ(0u, open->OpenLockingFunctionCount());
  EXPECT_EQ(L"1", FunctionEnabled(hart_function::kChannelConfiguration));
}

TEST_F(ChannelConfigTest, InvalidChangeIsNotAskedAboutAndOkClosesOnce) {
  Open();
  host.typeText(IDC_PREAMBLES, L"99");
  host.click(IDC_CANCEL);
  control_host::HostedControl::pump();
  EXPECT_TRUE(frame->callsTo("UserDialog").empty()) << "an invalid change cannot be applied";
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(1u, frame->callsTo("CloseActiveXControlRequest").size());
}

TEST_F(ChannelConfigTest, OkWritesTheChangesAndCloses) {
  Open();
  host.typeText(IDC_PREAMBLES, L"7");
  host.click(IDOK);
  control_host::HostedControl::pump();
  EXPECT_EQ(7u, Number(hart_param::kPreambleCount));
  EXPECT_TRUE(host.closed());
  EXPECT_EQ(1u, frame->callsTo("CloseActiveXControlRequest").size());
}

TEST_F(ChannelConfigTest, HelpOpensTheTranslatedHelpFile) {
  UseTranslation(
      "<ActiveXList><ActiveX classname=\"Channel Configuration\">"
      "<HelpFile><locale code=\"en\">hartcommdtm_en.chm</locale></HelpFile>"
      "<Control resId=\"6043\"><Text><locale code=\"en\">HART channel</locale></Text></Control>"
      "</ActiveX></ActiveXList>");
  Open();
  EXPECT_EQ(L"HART channel", host.text(IDC_PROPERTIES_FRAME));
  // The DTM's shared-UI flag does not grey Help out; the file lies in the
  // DTM's translation folder.
  ASSERT_TRUE(host.click(IDC_HELP_BUTTON)) << "Help is greyed out";
  EXPECT_EQ("0 " + AnsiFromWide((ProgramFolder() + L"translation_under_test\\hartcommdtm_en.chm").c_str()) + "\n",
            TakeHelpCalls());
}

TEST_F(ChannelConfigTest, HelpIsGreyedOutWhereTheTranslationNamesNoHelpFile) {
  UseTranslation("<ActiveXList><ActiveX classname=\"Driver Configuration\">"
                 "<HelpFile><locale code=\"en\">hartcommdtm_en.chm</locale></HelpFile>"
                 "</ActiveX></ActiveXList>");
  Open();
  EXPECT_FALSE(host.enabled(IDC_HELP_BUTTON));
  EXPECT_FALSE(host.click(IDC_HELP_BUTTON));
  EXPECT_EQ(std::string::npos, TakeHelpCalls().find(".chm"));
}

TEST_F(ChannelConfigTest, ObserverCannotEdit) {
  Configure(L"FSK Mavix", L"observer");
  Open();
  EXPECT_FALSE(host.enabled(IDC_PREAMBLES));
  EXPECT_TRUE(host.visible(IDC_STATUS_TEXT));
}

}  // namespace
}  // namespace hartdtmtest
