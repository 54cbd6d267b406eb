// The download of the channel's own parameters, asked through the channel's
// parameter handler by the identifier a control or frame uses: only while
// the DTM is online; every parameter that takes part is written (a byte
// array held as hexadecimal text as its bytes) and the frame sees the
// progress titled "Download"; a parameter that fails is reported with its
// error text, and the user is asked whether to stop.
#include "fdtidl/ToolkitHooks.h"
#include "hart_dtm_fixture.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/params/param_info.h"
#include "toolkit/params/param_rows.h"

namespace hartdtmtest {
namespace {

const wchar_t kParameterHandlerIid[] = L"{51123DA0-8AD6-452E-85D9-E7A126AB808E}";
const wchar_t kParameterInfoIid[] = L"{CE6184E6-3487-4976-8772-6CA65AEC8AE7}";
constexpr ULONG kToBeDownloaded = 0x2;
constexpr ULONG kTakesPart = 0x71;  // writable online (0x20) and 0x40

using frame_double::FrameCall;

class ChannelDownloadTest : public HartDtmFixture {
 protected:
  void SetUp() override {
    HartDtmFixture::SetUp();
    Configure();
    channel_ = HartChannel();
    ASSERT_TRUE(channel_);
    ASSERT_EQ(S_OK, channel_->QueryInterface(Iid(kParameterHandlerIid), handler_.putVoid()));
    ASSERT_EQ(S_OK, channel_->QueryInterface(Iid(kParameterInfoIid), info_.putVoid()));
    // Parameters beside the channel's name are added through the handler's
    // C++ side, which the channel offers in its own apartment.
    ASSERT_EQ(S_OK, store_.queryFrom(channel_.get()));
  }

  void Online() { ASSERT_EQ(S_OK, base->SetState(kDtmOnline)); }

  // A device parameter holding a byte array as text, marked to be
  // downloaded.
  void AddBytes(ULONG id, const wchar_t* name, const wchar_t* hexText) {
    ParInfo record;
    record.kind = kParKindDevice;
    record.id = id;
    record.name.assign(name);
    record.text.assign(name);
    record.vt = VT_ARRAY | VT_UI1;
    record.flags = kTakesPart | kToBeDownloaded;
    ASSERT_EQ(S_OK, record.value.assign(com::Variant(hexText).value()));
    ASSERT_EQ(S_OK, store_->AddParameter(record));
  }
  void AddNumber(ULONG id, const wchar_t* name, double value, ULONG kind, ULONG flags) {
    ASSERT_EQ(S_OK, ParamRow::Numeric(id, name, VT_UI1, 0, 255, value, value)
                        .Kind(kind)
                        .Flags(flags | kToBeDownloaded)
                        .AddTo(store_.get()));
  }
  ULONG Flags(ULONG id) {
    com::Variant flags;
    EXPECT_EQ(S_OK, info_->GetParameterInfo(*com::ui4(id).get(), *I4(0x4000).get(), flags.put()));
    return flags.type() == VT_UI4 ? V_UI4(flags.get()) : 0xFFFFFFFF;
  }
  // What was last written to the device (or read from it).
  com::Variant DeviceValue(ULONG id) {
    com::Variant value;
    EXPECT_EQ(S_OK, info_->GetParameterInfo(*com::ui4(id).get(), *I4(0x200000).get(), value.put()));
    return value;
  }
  HRESULT Download(VARIANT_BOOL* done) { return handler_->DownloadRequest(*com::Variant().get(), done); }

  // The frame's progress notices until the one that ends the display (show
  // false after the start), as (title, percent, show).
  std::vector<std::vector<std::wstring>> ProgressUntilEnd() {
    std::vector<std::vector<std::wstring>> notices;
    PumpUntil([&] {
      notices.clear();
      for (const FrameCall& call : frame->callsTo("OnProgress"))
        notices.push_back({call.arguments.at(1), call.arguments.at(2), call.arguments.at(3)});
      return notices.size() >= 2 && notices.back()[2] == L"0";
    });
    return notices;
  }
  std::vector<std::wstring> ErrorMessages(size_t expected) {
    frame->waitForCalls("OnErrorMessage", expected, 10000);
    std::vector<std::wstring> texts;
    for (const FrameCall& call : frame->callsTo("OnErrorMessage")) texts.push_back(call.arguments.at(1));
    return texts;
  }
  // Two byte arrays whose texts are no hexadecimal (7001, 7002), then a
  // parameter that can be written (7003); the DTM online.
  void TwoBadParametersThenAGoodOne() {
    AddBytes(7001, L"Bad bytes A", L"XYZ");
    AddBytes(7002, L"Bad bytes B", L"Q1");
    AddNumber(7003, L"Gain", 9, kParKindDevice, kTakesPart);
    Online();
    frame->clearCalls();
  }
  void AnswerStopQuestion(const wchar_t* button) {
    frame->queueUserDialogAnswer({S_OK, frame_double::FrameApplication::answerDocument(button)});
  }

  com::ComPtr<IUnknown> channel_;
  com::ComPtr<IevFdtParameterHandler4> handler_;
  com::ComPtr<IevFdtParameterInfo> info_;
  com::ComPtr<IevFdtParameterStore> store_;
};

TEST_F(ChannelDownloadTest, EveryParameterThatTakesPartIsWrittenWithProgressForTheFrame) {
  AddBytes(7001, L"Calibration", L"0a0BFF");
  AddNumber(7002, L"Gain", 9, kParKindDevice, kTakesPart);
  AddNumber(7003, L"Read only", 4, kParKindDevice, 0x51);  // not written out
  AddNumber(7004, L"Kept here", 5, kParKindDtm, kTakesPart);
  Online();
  frame->clearCalls();
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(S_OK, Download(&done));
  EXPECT_EQ(VARIANT_TRUE, done);

  com::Variant bytes = DeviceValue(7001);
  ASSERT_EQ(VT_ARRAY | VT_UI1, bytes.type());
  ASSERT_EQ(3u, V_ARRAY(bytes.get())->rgsabound[0].cElements);
  const BYTE* data = static_cast<const BYTE*>(V_ARRAY(bytes.get())->pvData);
  EXPECT_EQ(0x0A, data[0]);
  EXPECT_EQ(0x0B, data[1]);
  EXPECT_EQ(0xFF, data[2]);
  EXPECT_EQ(0u, Flags(7001) & kToBeDownloaded);
  EXPECT_EQ(0u, Flags(7002) & kToBeDownloaded);
  EXPECT_EQ(kToBeDownloaded, Flags(7003) & kToBeDownloaded) << "not writable online";
  EXPECT_EQ(kToBeDownloaded, Flags(7004) & kToBeDownloaded) << "no device parameter";
  com::Variant gain = DeviceValue(7002);
  ASSERT_EQ(VT_UI1, gain.type());
  EXPECT_EQ(9, V_UI1(gain.get()));

  // Start and end always reach the frame; steps between them rise and may
  // be dropped while the frame still shows the one before.
  auto notices = ProgressUntilEnd();
  ASSERT_LE(2u, notices.size());
  EXPECT_EQ((std::vector<std::wstring>{L"Download", L"0", L"0"}), notices.front());
  EXPECT_EQ((std::vector<std::wstring>{L"Download", L"100", L"0"}), notices.back());
  int last = 0;
  for (size_t i = 1; i + 1 < notices.size(); ++i) {
    EXPECT_EQ(L"Download", notices[i][0]);
    EXPECT_EQ(L"-1", notices[i][2]);
    EXPECT_LT(last, std::stoi(notices[i][1]));
    last = std::stoi(notices[i][1]);
  }
  EXPECT_TRUE(frame->callsTo("UserDialog").empty());
  EXPECT_TRUE(frame->callsTo("OnErrorMessage").empty());
}

TEST_F(ChannelDownloadTest, AFailedParameterIsReportedAndYesStopsTheDownload) {
  TwoBadParametersThenAGoodOne();
  AnswerStopQuestion(L"buttonYes");
  VARIANT_BOOL done = VARIANT_TRUE;
  ASSERT_EQ(S_OK, Download(&done));
  EXPECT_EQ(VARIANT_FALSE, done);
  // The frame offers no text for the code: it is shown as a number.
  EXPECT_EQ((std::vector<std::wstring>{L"Bad bytes A: 80070057"}), ErrorMessages(1));
  auto questions = frame->callsTo("UserDialog");
  ASSERT_EQ(1u, questions.size());
  EXPECT_NE(std::wstring::npos, questions[0].arguments.at(1).find(L"Do you want to stop download?"));
  EXPECT_NE(std::wstring::npos, questions[0].arguments.at(1).find(L"Download Parameters"));
  EXPECT_EQ(kToBeDownloaded, Flags(7003) & kToBeDownloaded) << "not written after the stop";
  auto notices = ProgressUntilEnd();
  EXPECT_EQ((std::vector<std::wstring>{L"", L"0", L"0"}), notices.back());
}

TEST_F(ChannelDownloadTest, NoGoesOnAndTheFramesErrorTextIsUsed) {
  TwoBadParametersThenAGoodOne();
  // The frame's text of the first code; it has none for the second.
  SAFEARRAY* ids = ::SafeArrayCreateVector(VT_UI4, 0, 1);
  ASSERT_TRUE(ids);
  LONG at = 0;
  ULONG text = 0x0BAD0001;
  ASSERT_EQ(S_OK, ::SafeArrayPutElement(ids, &at, &text));
  com::Variant answer;
  V_VT(answer.get()) = VT_ARRAY | VT_UI4;
  V_ARRAY(answer.get()) = ids;
  frame->queueTransferGroupAnswer(S_OK, answer.value());
  AnswerStopQuestion(L"buttonNo");
  AnswerStopQuestion(L"buttonNo");
  VARIANT_BOOL done = VARIANT_TRUE;
  ASSERT_EQ(S_OK, Download(&done));
  EXPECT_EQ(VARIANT_FALSE, done) << "two parameters were not written";
  EXPECT_EQ((std::vector<std::wstring>{L"Bad bytes A: 0BAD0001", L"Bad bytes B: 80070057"}), ErrorMessages(2));
  auto asked = frame->callsTo("GetTransferGroup");
  ASSERT_LE(1u, asked.size());
  EXPECT_EQ((std::vector<std::wstring>{L"2", std::to_wstring(0x80070057u)}), asked[0].arguments);
  EXPECT_EQ(2u, frame->callsTo("UserDialog").size());
  EXPECT_EQ(0u, Flags(7003) & kToBeDownloaded);
  auto notices = ProgressUntilEnd();
  EXPECT_EQ((std::vector<std::wstring>{L"Download", L"100", L"0"}), notices.back());
}

// A parameter whose store fails keeps the device value it had, so that a
// compare still shows the value the device never got. (The handler stores
// nothing under the id that stands for no parameter.)
TEST_F(ChannelDownloadTest, AParameterThatWasNotStoredKeepsItsDeviceValue) {
  AddNumber(kNoParameterId, L"Refused", 9, kParKindDevice, kTakesPart);
  AddNumber(7002, L"Gain", 9, kParKindDevice, kTakesPart);
  // Both edited to 4; the device still holds 9.
  for (ULONG id : {kNoParameterId, ULONG{7002}}) {
    ParInfo edited;
    ASSERT_EQ(S_OK, store_->GetParameter(id, &edited));
    ASSERT_EQ(S_OK, edited.value.assign(UI1(4).value()));
    ASSERT_EQ(S_OK, store_->SetParInfo(id, kParValue, edited));
  }
  Online();
  frame->clearCalls();
  AnswerStopQuestion(L"buttonNo");
  VARIANT_BOOL done = VARIANT_TRUE;
  ASSERT_EQ(S_OK, Download(&done));
  EXPECT_EQ(VARIANT_FALSE, done);
  EXPECT_EQ((std::vector<std::wstring>{L"Refused: 80070057"}), ErrorMessages(1));
  com::Variant refused = DeviceValue(kNoParameterId);
  ASSERT_EQ(VT_UI1, refused.type());
  EXPECT_EQ(9, V_UI1(refused.get())) << "never written";
  EXPECT_EQ(kToBeDownloaded, Flags(kNoParameterId) & kToBeDownloaded);
  com::Variant gain = DeviceValue(7002);
  ASSERT_EQ(VT_UI1, gain.type());
  EXPECT_EQ(4, V_UI1(gain.get()));
  ProgressUntilEnd();
}

TEST_F(ChannelDownloadTest, OnlyWhileTheDtmIsOnlineAndNotAfterAnAbort) {
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(E_FAIL, Download(&done)) << "configured, not online";
  EXPECT_EQ(VARIANT_FALSE, done);
  EXPECT_EQ(E_INVALIDARG, Download(nullptr));

  Online();
  VARIANT_BOOL aborted = VARIANT_FALSE;
  ASSERT_EQ(S_OK, handler_->AbortTransfer(&aborted));
  EXPECT_EQ(E_ABORT, Download(&done));
  // The abort ended that download only.
  done = VARIANT_FALSE;
  EXPECT_EQ(S_OK, Download(&done));
  EXPECT_EQ(VARIANT_TRUE, done);
  ProgressUntilEnd();

  // A channel that no DTM owns has no state to be online in.
  CLSID clsid = {};
  ASSERT_EQ(S_OK, ::CLSIDFromProgID(L"vtFDT.FSKMavixCommDTM_HART_Channel", &clsid));
  com::ComPtr<IUnknown> ownerless;
  ASSERT_EQ(S_OK, ownerless.createInstance(clsid, nullptr, CLSCTX_INPROC_SERVER));
  com::ComPtr<IevFdtParameterHandler4> alone;
  ASSERT_EQ(S_OK, ownerless->QueryInterface(Iid(kParameterHandlerIid), alone.putVoid()));
  EXPECT_EQ(E_NOINTERFACE, alone->DownloadRequest(*com::Variant().get(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
}

}  // namespace
}  // namespace hartdtmtest
