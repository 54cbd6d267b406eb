// The worker-thread object on the test's own thread, without marshalling:
// argument checks of the queued commands, the parameter-update map and the
// timer's walk over it, driven by running the object's message loop here.
#include <gtest/gtest.h>

#include <windows.h>

#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "toolkit/worker/dtm_thread.h"
#include "worker_doubles.h"

using namespace worker_test;

namespace {

class ThreadObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    com::ComObject<CCustomDtmThread>* created = nullptr;
    ASSERT_EQ(S_OK, com::ComObject<CCustomDtmThread>::create(&created));
    object = created;
    threadUnknown.attach(created->identity());
    ASSERT_EQ(S_OK, threadUnknown.as(thread));
    dtmUnknown = createTestDtm(&dtm);
  }
  void TearDown() override {
    thread = nullptr;
    threadUnknown = nullptr;
    dtmUnknown = nullptr;
    ::CoUninitialize();
  }

  HRESULT Post(ULONG code, const VARIANT& argument) {
    return thread->PostRequest(com::Variant(static_cast<LONG>(code)).value(), argument, nullptr);
  }
  HRESULT PostUpdate(ULONG code, ULONG id, ULONG period) {
    SParamUpdateInfo info(id, period);
    com::Variant packed;
    info.PackToVariant(packed.put());
    return Post(code, packed.value());
  }
  // Command 1 executed at once, as the loop would, with a link whose value
  // is the DTM and the DTM's stand-in over it (null: neither).
  HRESULT SetDtm(IUnknown* dtmObject) {
    com::ComPtr<IUnknown> pointer, standIn;
    if (dtmObject) {
      pointer = createDtmLink(dtmObject);
      com::ComPtr<IDispatch> link;
      EXPECT_EQ(S_OK, pointer.as(link));
      EXPECT_EQ(S_OK, CreateDtmStandIn(link.get(), standIn));
    }
    SAFEARRAYBOUND bound{3, 0};
    com::Variant argument;
    V_VT(argument.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(argument.get()) = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
    for (LONG index : {1, 2}) {
      com::Variant element(index == 1 ? pointer.get() : standIn.get());
      ::SafeArrayPutElement(V_ARRAY(argument.get()), &index, element.get());
    }
    return object->HandleCommand(com::Variant(1).value(), argument.value());
  }

  CCustomDtmThread* object = nullptr;
  com::ComPtr<IUnknown> threadUnknown;
  com::ComPtr<IevFdtDtmThread> thread;
  TestDtm* dtm = nullptr;
  com::ComPtr<IUnknown> dtmUnknown;
};

TEST_F(ThreadObjectTest, ParameterUpdateMapCountsUsersAndKeepsTheShortestPeriod) {
  EXPECT_EQ(S_OK, PostUpdate(dtm_command::kAddParamUpdate, 5, 1000));
  EXPECT_EQ(S_OK, PostUpdate(dtm_command::kAddParamUpdate, 5, 500));
  EXPECT_EQ(S_OK, PostUpdate(dtm_command::kAddParamUpdate, 5, 800));  // longer: period kept
  auto entry = object->ParamUpdates().at(5);
  EXPECT_EQ(500u, entry.period);
  EXPECT_EQ(500u, entry.remaining);
  EXPECT_EQ(3u, entry.references);

  EXPECT_EQ(S_OK, PostUpdate(dtm_command::kLowerParamUpdate, 5, 200));
  EXPECT_EQ(200u, object->ParamUpdates().at(5).period);
  EXPECT_EQ(3u, object->ParamUpdates().at(5).references);

  EXPECT_EQ(S_OK, PostUpdate(dtm_command::kReleaseParamUpdate, 5, 0));
  EXPECT_EQ(S_OK, PostUpdate(dtm_command::kReleaseParamUpdate, 5, 0));
  EXPECT_EQ(1u, object->ParamUpdates().count(5));
  EXPECT_EQ(S_OK, PostUpdate(dtm_command::kReleaseParamUpdate, 5, 0));
  EXPECT_EQ(0u, object->ParamUpdates().count(5));

  // Unknown ids and arguments that are no record.
  EXPECT_EQ(E_FAIL, PostUpdate(dtm_command::kReleaseParamUpdate, 5, 0));
  EXPECT_EQ(E_FAIL, PostUpdate(dtm_command::kLowerParamUpdate, 6, 10));
  EXPECT_EQ(E_FAIL, Post(dtm_command::kAddParamUpdate, com::Variant(L"x").value()));
  EXPECT_EQ(S_OK, Post(dtm_command::kParamUpdateDone, com::Variant(99).value()));
}

TEST_F(ThreadObjectTest, QueuedCommandsCheckTheirArguments) {
  EXPECT_EQ(E_FAIL, object->HandleCommand(com::Variant(1).value(), com::Variant(3).value()));
  VARIANT nullArray;
  ::VariantInit(&nullArray);
  V_VT(&nullArray) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&nullArray) = nullptr;
  EXPECT_EQ(E_POINTER, object->HandleCommand(com::Variant(2).value(), nullArray));
  // Notices without a DTM or frame fail instead of crashing.
  EXPECT_EQ(E_FAIL, object->HandleCommand(com::Variant(17).value(), com::Variant(L"t").value()));
  EXPECT_EQ(E_FAIL, object->HandleCommand(com::Variant(21).value(), com::Variant(1).value()));
  EXPECT_EQ(E_FAIL, object->HandleCommand(com::Variant(33).value(), com::Variant(L"d").value()));
  EXPECT_EQ(S_FALSE, object->HandleCommand(com::Variant(20).value(), com::Variant().value()));
  EXPECT_EQ(S_FALSE, object->HandleCommand(com::Variant(0).value(), com::Variant().value()));
  // A code that is no number is refused by the interface.
  EXPECT_NE(S_OK, thread->PostRequest(com::Variant(L"abc").value(), com::Variant().value(), nullptr));
  com::ComPtr<IUnknown> none;
  EXPECT_EQ(S_OK, SetDtm(none.get()));

  // Command 10 needs a DTM in communicationSet.
  ASSERT_EQ(S_OK, SetDtm(dtmUnknown.get()));
  dtm->state = 8;
  EXPECT_EQ(E_FAIL, Post(dtm_command::kGoOnline, com::Variant(0).value()));
  EXPECT_TRUE(dtm->log.empty());
}

// The poster of a go-online may close its event as soon as its wait ends
// (a wait that timed out included): the worker sets a duplicate of its own.
TEST_F(ThreadObjectTest, CommandsLeftAtTheEndReleaseTheirWaiters) {
  ASSERT_EQ(S_OK, SetDtm(dtmUnknown.get()));
  win32::UniqueHandle online(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE raw = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), online.get(), ::GetCurrentProcess(), &raw, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
  win32::UniqueHandle posted(raw);
  // The loop ends before it reaches the accepted go-online command.
  ::PostThreadMessageW(::GetCurrentThreadId(), WM_QUIT, 0, 0);
  dtm->state = 9;
  ASSERT_EQ(S_OK, Post(dtm_command::kGoOnline,
                       com::Variant(static_cast<LONG>(HandleToULong(posted.get()))).value()));
  posted.reset();
  ASSERT_EQ(S_OK, thread->ThreadMessageLoop());
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(online.get(), 0));
  EXPECT_EQ((std::vector<std::string>{"SetState 10", "SetState 9"}), dtm->log);
}

// Ends the test thread's run of ThreadMessageLoop from a timer.
void CALLBACK QuitLoop(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);
  ::PostQuitMessage(0);
}

TEST_F(ThreadObjectTest, TimerRetriesFailedReadsAndWaitsForReadsInProgress) {
  ASSERT_EQ(S_OK, SetDtm(dtmUnknown.get()));
  ASSERT_EQ(S_OK, PostUpdate(dtm_command::kAddParamUpdate, 3, 20));
  ASSERT_EQ(S_OK, PostUpdate(dtm_command::kAddParamUpdate, 4, 20));
  ASSERT_EQ(S_OK, thread->SetTimeout(com::Variant(10).value()));

  // Parameter 3 never starts (tried every period); parameter 4 starts and
  // stays in progress until command 9 names it.
  dtm->onRequestParameter = [&](ULONG id) {
    dtm->requestStarted = id == 4 ? VARIANT_TRUE : VARIANT_FALSE;
  };
  const UINT_PTR safety = ::SetTimer(nullptr, 0, 20000, &QuitLoop);
  ::SetTimer(nullptr, 0, 400, &QuitLoop);
  ASSERT_EQ(S_OK, thread->ThreadMessageLoop());
  ::KillTimer(nullptr, safety);
  EXPECT_GE(dtm->count("RequestParameter 3"), 4u);
  EXPECT_EQ(1u, dtm->count("RequestParameter 4"));
  EXPECT_TRUE(object->ParamUpdates().at(4).inProgress);

  ASSERT_EQ(S_OK, Post(dtm_command::kParamUpdateDone, com::Variant(4).value()));
  ::SetTimer(nullptr, 0, 200, &QuitLoop);
  ASSERT_EQ(S_OK, thread->ThreadMessageLoop());
  EXPECT_EQ(2u, dtm->count("RequestParameter 4"));

  // A parameter dropped while a read of another one runs is not touched.
  dtm->onRequestParameter = [&](ULONG id) {
    if (id == 3) PostUpdate(dtm_command::kReleaseParamUpdate, 4, 0);
    dtm->requestStarted = VARIANT_FALSE;
  };
  ASSERT_EQ(S_OK, Post(dtm_command::kParamUpdateDone, com::Variant(4).value()));
  ::SetTimer(nullptr, 0, 200, &QuitLoop);
  ASSERT_EQ(S_OK, thread->ThreadMessageLoop());
  EXPECT_EQ(0u, object->ParamUpdates().count(4));

  ASSERT_EQ(S_OK, thread->SetTimeout(com::Variant(0).value()));
}

}  // namespace
