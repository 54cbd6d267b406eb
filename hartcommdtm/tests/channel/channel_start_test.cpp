// Attach and detach: the device start with the real library and the
// simulated adapter, and its failures with the library doubles.
#include "channel_fixture.h"

#include "com/Bstr.h"
#include "com/Variant.h"

namespace channeltest {
namespace {

using DoubleScript = void (*)(const char*, uint8_t);
using DoubleTakeLog = void (*)(char*, uint32_t);

class ChannelStartTest : public ChannelTest {};

TEST_F(ChannelStartTest, AttachOpensTheAdapterAndDetachClosesIt) {
  AddDevice(3, 0x00ABCD);
  MakeChannel();
  ASSERT_EQ(S_OK, Start());
  EXPECT_EQ(hartdtm::kChannelAttached, channel_->State());
  SimAdapterState state = AdapterState();
  EXPECT_EQ(1u, state.initialised);
  EXPECT_EQ(1u, state.masterMode);  // primary master by parameter 1001
  EXPECT_EQ(3u, state.parameter);   // the retry count of parameter 1003
  EXPECT_EQ(1u, state.openHandles);

  VARIANT_BOOL stopped = VARIANT_FALSE;
  EXPECT_EQ(S_OK, base_->StopWorker(&stopped));
  EXPECT_EQ(VARIANT_TRUE, stopped);
  EXPECT_EQ(hartdtm::kChannelDetached, channel_->State());
  EXPECT_EQ(0u, AdapterState().openHandles);
  EXPECT_EQ(0u, channel_->WorkerThreadId());
}

TEST_F(ChannelStartTest, AChannelReleasedWithoutStopClosesTheAdapterFirst) {
  AddDevice(3, 0x00ABCD);
  MakeChannel();
  ASSERT_EQ(S_OK, Start());
  ASSERT_EQ(1u, AdapterState().openHandles);
  communication_ = nullptr;
  base_ = nullptr;  // last reference: no StopWorker
  channel_ = nullptr;
  EXPECT_EQ(0u, AdapterState().openHandles);
  EXPECT_EQ(nullptr, ::GetModuleHandleW(L"modemapi.dll"));
}

TEST_F(ChannelStartTest, AnUnconfiguredDeviceNumberFailsTheStartWithItsMessageToTheFrame) {
  MakeChannel();
  SetOwnerByte(hartdtm::kParDeviceNumber, 7);  // nothing configured under 7
  EXPECT_EQ(E_FAIL, Start());
  EXPECT_FALSE(channel_->WorkerStarted());
  EXPECT_EQ(0u, channel_->WorkerThreadId());
  const auto calls = frame_->callsTo("OnErrorMessage");
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(L"DTM-1", calls[0].arguments[0]);
  EXPECT_EQ(L"No access to FSK Mavix device.\n\nCheck the settings in the\nconfiguration utility.",
            calls[0].arguments[1]);
  EXPECT_EQ(nullptr, ::GetModuleHandleW(L"modemapi.dll"));
}

TEST_F(ChannelStartTest, AnAbsentOrIncompleteLibraryIsReportedToTheOwner) {
  MakeChannel();
  channel_->UseLibraryName(L"modemapi_absent.dll");
  EXPECT_EQ(E_FAIL, Start());
  channel_->UseLibraryName(L"modemapi_eleven.dll");
  EXPECT_EQ(E_FAIL, Start());
  const auto messages = owner_->messages();
  ASSERT_EQ(2u, messages.size());
  EXPECT_EQ(L"modemapi.dll could not be loaded.", messages[0]);
  EXPECT_EQ(L"Error while loading the modemapi.dll. Not all function pointers could be loaded.", messages[1]);
  EXPECT_EQ(0u, channel_->WorkerThreadId());
  EXPECT_EQ(nullptr, ::GetModuleHandleW(L"modemapi_eleven.dll"));
}

// A start that fails after the adapter was opened closes it again, in
// order, before the library is let go.
TEST_F(ChannelStartTest, AFailedStartClosesWhatItOpened) {
  HMODULE library = ::LoadLibraryW(L"modemapi_double.dll");
  ASSERT_NE(nullptr, library);
  auto script = reinterpret_cast<DoubleScript>(
      reinterpret_cast<void (*)()>(::GetProcAddress(library, "ModemDoubleScript")));
  auto takeLog = reinterpret_cast<DoubleTakeLog>(
      reinterpret_cast<void (*)()>(::GetProcAddress(library, "ModemDoubleTakeLog")));
  ASSERT_TRUE(script && takeLog);
  char log[512];
  MakeChannel();
  channel_->UseLibraryName(L"modemapi_double.dll");

  script("SetParam", 5);
  takeLog(log, sizeof log);
  EXPECT_EQ(E_FAIL, Start());
  takeLog(log, sizeof log);
  EXPECT_STREQ("DeviceInit SetParam StopMessageHandler CloseDevice", log);
  script("SetParam", 0);

  script("StartMessageHandler", 9);
  EXPECT_EQ(E_FAIL, Start());
  takeLog(log, sizeof log);
  EXPECT_STREQ("DeviceInit SetParam StartMessageHandler StopMessageHandler CloseDevice", log);
  script("StartMessageHandler", 0);

  const auto calls = frame_->callsTo("OnErrorMessage");
  ASSERT_EQ(2u, calls.size());
  EXPECT_EQ(L"Error while setting the FSK Mavix device retry count.", calls[0].arguments[1]);
  EXPECT_EQ(L"Error while starting the FSK Mavix device callback.", calls[1].arguments[1]);
  ::FreeLibrary(library);
}

TEST_F(ChannelStartTest, AChannelWhoseOwnerHasNoFrameNeverAttaches) {
  ownerUnknown_ = createChannelOwner(&owner_);
  ASSERT_EQ(S_OK, com::createObject<hartdtm::CHART_Channel>(nullptr, __uuidof(IevFdtBaseChannel), base_.putVoid()));
  channel_ = static_cast<hartdtm::CHART_Channel*>(base_.get());
  ASSERT_EQ(S_OK, base_->Initialize(ownerUnknown_.get()));
  EXPECT_EQ(E_FAIL, Start());
  EXPECT_EQ(0u, channel_->WorkerThreadId());
}

TEST_F(ChannelStartTest, ChannelEventsAnswerAsTheirValuesAllow) {
  MakeChannel();
  com::Variant key;
  key.get()->vt = VT_BSTR;
  key.get()->bstrVal = ::SysAllocString(L"not a number");
  com::Variant empty;
  EXPECT_TRUE(FAILED(base_->PostChannelEvent(key.value(), empty.value())));
  com::Variant abort(9989);
  com::Variant text(L"handle");
  EXPECT_EQ(E_INVALIDARG, base_->PostChannelEvent(abort.value(), text.value()));
  // 9987 answers the owner into the caller's VARIANT.
  IUnknown* answered = nullptr;
  com::Variant ownerKey(9987);
  VARIANT byRef;
  byRef.vt = VT_BYREF | VT_UNKNOWN;
  byRef.ppunkVal = &answered;
  EXPECT_EQ(S_OK, base_->PostChannelEvent(ownerKey.value(), byRef));
  ASSERT_NE(nullptr, answered);
  EXPECT_TRUE(com::sameObject(answered, ownerUnknown_.get()));
  answered->Release();
}

}  // namespace
}  // namespace channeltest
