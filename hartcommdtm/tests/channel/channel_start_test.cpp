// Attach and detach: the device start with the real library and the
// simulated adapter, and its failures with the library doubles.
#include "channel_fixture.h"

#include <comcat.h>

#include "channel/connections.h"
#include "com/Bstr.h"
#include "com/Module.h"
#include "com/Variant.h"
#include "shared/adapter_protocol.h"
#include "message_pump.h"
#include "win32/unique_handle.h"
#include "toolkit/values/message_wait.h"
#include "toolkit/xml/xml_dom.h"

namespace channeltest {
namespace {

using DoubleScript = void (*)(const char*, uint8_t);
using DoubleTakeLog = void (*)(char*, uint32_t);

class ChannelStartTest : public ChannelTest {
 protected:
  // Another DTM's channel in this process, with its own owner and frame.
  struct OtherChannel {
    ChannelOwner* owner = nullptr;
    com::ComPtr<IUnknown> ownerUnknown;
    frame_double::NoticeFrame* frame = nullptr;
    com::ComPtr<IUnknown> frameUnknown;
    com::ComPtr<IevFdtBaseChannel> base;
  };
  void MakeOtherChannel(OtherChannel* other) {
    other->ownerUnknown = createChannelOwner(&other->owner);
    other->frameUnknown = frame_double::createNoticeFrame(&other->frame);
    ASSERT_TRUE(other->ownerUnknown && other->frameUnknown);
    other->frame->setAgile(true);
    ASSERT_EQ(S_OK, com::createObject<hartdtm::CHART_Channel>(nullptr, __uuidof(IevFdtBaseChannel),
                                                               other->base.putVoid()));
    ASSERT_EQ(S_OK, other->base->Initialize(other->ownerUnknown.get()));
    ASSERT_EQ(S_OK, other->base->SetOwner(other->frameUnknown.get()));
  }

  // An owner's thread of its own: a channel made there with its worker
  // started; the owner goes (as its channel container tells the channel),
  // every reference is let go, and the thread's own loop is over. Calls
  // from other apartments are still served until the worker has ended, as
  // Windows serves them while the apartment ends (Wine drops a call that
  // arrives while it ends one), but no timer runs any more. Exit code 0
  // when it got there.
  static DWORD WINAPI OwnerThread(void* param) {
    auto* self = static_cast<ChannelStartTest*>(param);
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    DWORD code = 2;
    win32::UniqueHandle worker;
    {
      OtherChannel other;
      self->MakeOtherChannel(&other);
      com::ComPtr<IevFdtOwnedChannel> owned;
      if (other.base && other.base->StartWorker() == S_OK && SUCCEEDED(owned.queryFrom(other.base.get()))) {
        auto* channel = static_cast<hartdtm::CHART_Channel*>(other.base.get());
        worker.reset(::OpenThread(SYNCHRONIZE, FALSE, channel->WorkerThreadId()));
        owned->OwnerGone();
        code = worker.valid() ? 0 : 3;
      }
    }
    if (worker.valid() && !ServeCallsWithoutTimersUntil(worker.get())) code = 4;
    ::CoUninitialize();
    return code;
  }
  static bool ServeCallsWithoutTimersUntil(HANDLE thread) {
    const ULONGLONG giveUp = ::GetTickCount64() + 30000;  // a hang guard only
    while (::GetTickCount64() < giveUp) {
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, WM_TIMER - 1, PM_REMOVE) ||
             ::PeekMessageW(&msg, nullptr, WM_TIMER + 1, 0xFFFFFFFF, PM_REMOVE))
        ::DispatchMessageW(&msg);
      if (::MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_ALLINPUT & ~QS_TIMER) == WAIT_OBJECT_0)
        return true;
    }
    return false;
  }
};

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

// A channel whose owner went while its worker ran gives itself back when the
// worker has ended: nothing is left for the owner's thread to do, whose
// apartment may end right after (the channel goes on the worker's thread).
TEST_F(ChannelStartTest, AnOwnerThreadThatEndsRightAfterLettingGoKeepsNoChannel) {
  const LONG objects = com::module().lockCount();
  win32::UniqueHandle ownerThread(::CreateThread(nullptr, 0, &OwnerThread, this, 0, nullptr));
  ASSERT_TRUE(ownerThread.valid());
  const HANDLE thread = ownerThread.get();
  ASSERT_TRUE(testsupport::PumpUntil([&] { return ::WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 30000));
  DWORD code = 1;
  ASSERT_TRUE(::GetExitCodeThread(thread, &code));
  ASSERT_EQ(0u, code);
  EXPECT_TRUE(testsupport::PumpUntil([&] { return com::module().lockCount() == objects; }, 30000))
      << "the channel is kept";
  EXPECT_EQ(0u, AdapterState().openHandles);
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

// Two DTMs of one frame process on the same device number: the library
// keeps one adapter per number, so the second is refused with a message
// and the first keeps its adapter.
TEST_F(ChannelStartTest, ASecondChannelOnTheSameDeviceNumberIsRefused) {
  AddDevice(3, 0x00ABCD);
  MakeChannel();
  ASSERT_EQ(S_OK, Start());
  OtherChannel other;
  MakeOtherChannel(&other);
  EXPECT_EQ(E_FAIL, other.base->StartWorker());
  const auto calls = other.frame->callsTo("OnErrorMessage");
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(L"FSK Mavix device already in use.", calls[0].arguments[1]);
  EXPECT_EQ(hartdtm::kChannelAttached, channel_->State());
  EXPECT_EQ(1u, AdapterState().openHandles);
  devicedtm_double::DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  EXPECT_EQ(36u, ConnectAndWait(dtm, callback.get(), 3, 1).size());
  com::Bstr id(InvokeId(2).c_str()), doc(DisconnectDocument(Attribute(dtm->answers()[0].document,
                                                                           L"communicationReference")).c_str());
  VARIANT_BOOL queued = VARIANT_FALSE;
  ASSERT_EQ(S_OK, communication_->DisconnectRequest(id.get(), doc.get(), &queued));
  WaitAnswer(dtm, 2);

  // Once the first lets the adapter go, the second may open it.
  VARIANT_BOOL stopped = VARIANT_FALSE;
  ASSERT_EQ(S_OK, base_->StopWorker(&stopped));
  EXPECT_EQ(S_OK, other.base->StartWorker());
  EXPECT_EQ(1u, AdapterState().openHandles);
  EXPECT_EQ(S_OK, other.base->StopWorker(&stopped));
}

// A modemapi.dll in the current folder is not the library: only the DTM's
// own folder, the application's and the system folder count.
TEST_F(ChannelStartTest, TheLibraryIsNotTakenFromTheCurrentFolder) {
  wchar_t temp[MAX_PATH], program[MAX_PATH], saved[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"channel-current-folder";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring double_ = program;
  double_ = double_.substr(0, double_.find_last_of(L'\\') + 1) + L"modemapi_double.dll";
  const std::wstring planted = folder + L"\\modemapi_planted.dll";
  ASSERT_TRUE(::CopyFileW(double_.c_str(), planted.c_str(), FALSE));
  ::GetCurrentDirectoryW(MAX_PATH, saved);
  ASSERT_TRUE(::SetCurrentDirectoryW(folder.c_str()));
  MakeChannel();
  channel_->UseLibraryName(L"modemapi_planted.dll");
  const HRESULT started = Start();
  ::SetCurrentDirectoryW(saved);
  ::DeleteFileW(planted.c_str());
  ::RemoveDirectoryW(folder.c_str());
  EXPECT_EQ(E_FAIL, started);
  const auto messages = owner_->messages();
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ(L"modemapi.dll could not be loaded.", messages[0]);
}

// A stop that waits for the worker serves the apartment's messages; a stop
// that one of them makes meanwhile must not close the outer wait's handle
// under it (its value soon comes back among the next handles made, which
// are never signalled).
com::ComPtr<IevFdtBaseChannel> g_nestedStopChannel;
HRESULT g_nestedStopResult = E_PENDING;
std::vector<HANDLE> g_afterNestedStop;
void CALLBACK StopAgain(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  if (!g_nestedStopChannel) return;
  VARIANT_BOOL stopped = VARIANT_FALSE;
  g_nestedStopResult = g_nestedStopChannel->StopWorker(&stopped);
  for (int i = 0; i < 64; ++i) g_afterNestedStop.push_back(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

TEST_F(ChannelStartTest, AStopMadeWhileAnotherStopWaitsLeavesTheOuterWaitItsHandle) {
  AddDevice(0, 0x000A0A);
  MakeChannel();
  ASSERT_EQ(S_OK, Start());
  // The worker's end takes a second: the adapter holds the stop request
  // that closing the modem sends (a stop ends a scan or an answer wait at
  // once, so neither would keep the worker busy).
  ASSERT_TRUE(SimInjectFault(serial_, shared::kReqStop, 0, 1, SIM_FAULT_STALL, 1000));
  g_nestedStopChannel = base_;
  g_nestedStopResult = E_PENDING;
  ASSERT_NE(0u, ::SetTimer(nullptr, 0, 50, &StopAgain));
  VARIANT_BOOL stopped = VARIANT_FALSE;
  EXPECT_EQ(S_OK, base_->StopWorker(&stopped));
  g_nestedStopChannel = nullptr;
  EXPECT_EQ(VARIANT_TRUE, stopped);
  EXPECT_EQ(S_OK, g_nestedStopResult);
  EXPECT_EQ(0u, channel_->WorkerThreadId());
  EXPECT_EQ(0u, AdapterState().openHandles);
  for (HANDLE event : g_afterNestedStop) ::CloseHandle(event);
  g_afterNestedStop.clear();
}

// A callback marshalled for the worker that the worker never took (its
// request was dropped) gives its reference back when the connection goes.
TEST_F(ChannelStartTest, ACallbackTheWorkerNeverTookIsGivenBack) {
  devicedtm_double::DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const ULONG before = References(callback.get());
  {
    hartdtm::ConnRef connection = hartdtm::CHART_ChanConn::Create();
    connection->SetGivenCallback(callback.get());
    ASSERT_EQ(S_OK, connection->PrepareCallbackForWorker());
    EXPECT_GT(References(callback.get()), before);
  }
  EXPECT_TRUE(testsupport::PumpUntil([&] { return References(callback.get()) == before; }, 10000));
}

// The channel's own address-change event is never taken from a caller: a
// foreign object posted under its id is refused, and the worker goes on.
TEST_F(ChannelStartTest, TheAddressChangeEventIsNotTakenFromOutside) {
  AddDevice(1, 0x000011);
  MakeChannel();
  ASSERT_EQ(S_OK, Start());
  devicedtm_double::DeviceDtm* dtm = nullptr;
  auto foreign = NewDeviceDtm(&dtm, false);
  com::Variant key(10101), value(static_cast<IUnknown*>(foreign.get()));
  EXPECT_EQ(E_INVALIDARG, base_->PostChannelEvent(key.value(), value.value()));
  EXPECT_EQ(E_INVALIDARG, base_->ChannelRequest(key.value(), value.value()));
  com::ComPtr<IHART_Channel> hart;
  ASSERT_EQ(S_OK, base_.as(hart));
  EXPECT_EQ(S_OK, hart->ChangeAddress(1, 5));
}

TEST_F(ChannelStartTest, SequencesAreAnsweredByTheOwnersState) {
  MakeChannel();
  com::Bstr sequence(L"<FDT/>");
  for (long state : {9L, 10L, 12L}) {
    SCOPED_TRACE(state);
    owner_->setState(state);
    VARIANT_BOOL result = VARIANT_TRUE;
    EXPECT_EQ(S_OK, communication_->SequenceBegin(sequence.get(), &result));
    EXPECT_EQ(VARIANT_FALSE, result);
    result = VARIANT_TRUE;
    EXPECT_EQ(S_OK, communication_->SequenceStart(sequence.get(), &result));
    EXPECT_EQ(VARIANT_FALSE, result);
    result = VARIANT_TRUE;
    EXPECT_EQ(S_OK, communication_->SequenceEnd(sequence.get(), &result));
    EXPECT_EQ(VARIANT_FALSE, result);
  }
  for (long state : {7L, 8L, 13L}) {
    SCOPED_TRACE(state);
    owner_->setState(state);
    VARIANT_BOOL result = VARIANT_TRUE;
    EXPECT_EQ(S_FALSE, communication_->SequenceEnd(sequence.get(), &result));
    EXPECT_EQ(VARIANT_TRUE, result);  // the end writes its result only when it answers S_OK
    EXPECT_EQ(S_FALSE, communication_->SequenceBegin(sequence.get(), &result));
    EXPECT_EQ(VARIANT_FALSE, result);
  }
  owner_->setState(12);
  VARIANT_BOOL result = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, communication_->SequenceBegin(nullptr, &result));
  EXPECT_EQ(S_FALSE, communication_->SequenceEnd(nullptr, &result));
  EXPECT_EQ(E_POINTER, communication_->SequenceBegin(sequence.get(), nullptr));
  EXPECT_EQ(E_POINTER, communication_->SequenceEnd(sequence.get(), nullptr));
}

// The protocols document names the HART bus category as supported, with
// the category's name when the component categories know it.
TEST_F(ChannelStartTest, SupportedProtocolsNameHartAndItsCategoryName) {
  MakeChannel();
  owner_->setState(7);
  com::Bstr document;
  EXPECT_EQ(S_FALSE, communication_->GetSupportedProtocols(document.put()));
  EXPECT_EQ(nullptr, document.get());
  owner_->setState(8);
  EXPECT_EQ(E_POINTER, communication_->GetSupportedProtocols(nullptr));

  auto busCategory = [](const std::wstring& text) {
    com::ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    EXPECT_EQ(S_OK, XmlCreateAndLoad(text.c_str(), doc.put(), &loaded));
    EXPECT_EQ(VARIANT_TRUE, loaded) << text;
    com::Bstr name(L"SelectionNamespaces");
    com::Variant namespaces(L"xmlns:p='x-schema:DTMProtocolsSchema.xml' xmlns:fdt='x-schema:FDTDataTypesSchema.xml'");
    doc->setProperty(name.get(), *namespaces.get());
    com::ComPtr<IXMLDOMNodeList> nodes;
    com::Bstr path(L"p:FDT/fdt:BusCategories/fdt:BusCategory");
    doc->selectNodes(path.get(), nodes.put());
    long count = 0;
    if (nodes) nodes->get_length(&count);
    EXPECT_EQ(1, count) << text;
    com::ComPtr<IXMLDOMNode> node;
    if (count == 1) nodes->get_item(0, node.put());
    return node;
  };
  ASSERT_EQ(S_OK, communication_->GetSupportedProtocols(document.put()));
  com::ComPtr<IXMLDOMNode> category = busCategory(document.c_str());
  ASSERT_TRUE(category);
  com::Bstr text;
  ASSERT_EQ(S_OK, XmlGetNodeText(category.get(), L"@busCategory", text.put()));
  EXPECT_EQ(L"036D1498-387B-11D4-86E1-00E0987270B9", std::wstring(text.c_str()));
  ASSERT_EQ(S_OK, XmlGetNodeText(category.get(), L"fdt:CommunicationTypeEntry/@communicationType", text.put()));
  EXPECT_EQ(L"supported", std::wstring(text.c_str()));
  EXPECT_TRUE(FAILED(XmlGetNodeText(category.get(), L"@busCategoryName", text.put())));

  // The FDT installation registers the category with its name.
  com::ComPtr<ICatRegister> categories;
  ASSERT_EQ(S_OK, categories.createInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER));
  CATEGORYINFO info = {};
  info.catid = hartdtm::kHartProtocolId;
  info.lcid = 0;
  wcscpy(info.szDescription, L"FDT FIELDBUS HART");
  ASSERT_EQ(S_OK, categories->RegisterCategories(1, &info));
  document.reset();
  const HRESULT named = communication_->GetSupportedProtocols(document.put());
  categories->UnRegisterCategories(1, &info.catid);
  ASSERT_EQ(S_OK, named);
  category = busCategory(document.c_str());
  ASSERT_TRUE(category);
  ASSERT_EQ(S_OK, XmlGetNodeText(category.get(), L"@busCategoryName", text.put()));
  EXPECT_EQ(L"HART", std::wstring(text.c_str()));
}

}  // namespace
}  // namespace channeltest
