#include <windows.h>

#include <gtest/gtest.h>

#include "modemapi/adapter_registry.h"
#include "shared/named_events.h"
#include "win32/unique_handle.h"

namespace {

// The test plays the service: it owns the plug-and-play event.
class PnpRelay : public ::testing::Test {
 protected:
  void SetUp() override {
    callerEvent_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(callerEvent_.valid());
  }
  void TearDown() override { vtHART_NotifyPnP(nullptr, 3); }

  // The service makes its event in the global namespace.
  void CreateServiceEvent(const char* name = shared::kServicePnpEventGlobalName) {
    serviceEvent_.reset(::CreateEventA(nullptr, TRUE, FALSE, name));
    ASSERT_TRUE(serviceEvent_.valid());
  }

  // Pulses the service event until the caller's event is seen signalled by
  // `waiter` or two seconds have passed. The relay thread may not be
  // waiting yet at the first pulse, so one pulse could be missed.
  template <typename Check>
  bool PulseUntil(Check seen) {
    for (int i = 0; i < 40; ++i) {
      ::PulseEvent(serviceEvent_.get());
      if (seen()) return true;
    }
    return false;
  }

  win32::UniqueHandle callerEvent_;
  win32::UniqueHandle serviceEvent_;
};

TEST_F(PnpRelay, StartAndStopStatuses) {
  EXPECT_EQ(vtHART_NotifyPnP(nullptr, 3), 9);                 // nothing to stop
  EXPECT_EQ(vtHART_NotifyPnP(nullptr, 1), 4);                 // start needs an event
  EXPECT_EQ(vtHART_NotifyPnP(callerEvent_.get(), 1), 9);      // service not running

  CreateServiceEvent();
  EXPECT_EQ(vtHART_NotifyPnP(callerEvent_.get(), 1), 0);
  EXPECT_EQ(vtHART_NotifyPnP(callerEvent_.get(), 1), 10);
  EXPECT_EQ(vtHART_NotifyPnP(callerEvent_.get(), 3), 4);      // stop takes no event
  EXPECT_EQ(vtHART_NotifyPnP(nullptr, 3), 0);
  EXPECT_EQ(vtHART_NotifyPnP(nullptr, 3), 9);
  // A stopped relay can be started again.
  EXPECT_EQ(vtHART_NotifyPnP(callerEvent_.get(), 0), 0);
  EXPECT_EQ(vtHART_NotifyPnP(nullptr, 3), 0);
}

TEST_F(PnpRelay, ModeOneSetsTheCallersEvent) {
  CreateServiceEvent();
  ASSERT_EQ(vtHART_NotifyPnP(callerEvent_.get(), 1), 0);
  EXPECT_TRUE(PulseUntil([&] { return ::WaitForSingleObject(callerEvent_.get(), 50) == WAIT_OBJECT_0; }));
  // Set, not pulsed: it stays signalled until the caller resets it.
  EXPECT_EQ(::WaitForSingleObject(callerEvent_.get(), 0), WAIT_OBJECT_0);
  ASSERT_EQ(vtHART_NotifyPnP(nullptr, 3), 0);

  // After the stop nothing is relayed.
  ::ResetEvent(callerEvent_.get());
  ::PulseEvent(serviceEvent_.get());
  EXPECT_EQ(::WaitForSingleObject(callerEvent_.get(), 200), WAIT_TIMEOUT);
}

TEST_F(PnpRelay, GlobalEventIsPreferredAndThePlainNameStillServes) {
  // Only a plain-named event: the relay falls back to it.
  CreateServiceEvent(shared::kServicePnpEventName);
  ASSERT_EQ(vtHART_NotifyPnP(callerEvent_.get(), 1), 0);
  EXPECT_TRUE(PulseUntil([&] { return ::WaitForSingleObject(callerEvent_.get(), 50) == WAIT_OBJECT_0; }));
  ASSERT_EQ(vtHART_NotifyPnP(nullptr, 3), 0);

  // Both exist: the relay listens to the global one only.
  win32::UniqueHandle plain = std::move(serviceEvent_);
  CreateServiceEvent();
  ::ResetEvent(callerEvent_.get());
  ASSERT_EQ(vtHART_NotifyPnP(callerEvent_.get(), 1), 0);
  EXPECT_TRUE(PulseUntil([&] { return ::WaitForSingleObject(callerEvent_.get(), 50) == WAIT_OBJECT_0; }));
  ::ResetEvent(callerEvent_.get());
  for (int i = 0; i < 5; ++i) ::PulseEvent(plain.get());
  EXPECT_EQ(::WaitForSingleObject(callerEvent_.get(), 100), WAIT_TIMEOUT);
}

struct Waiter {
  HANDLE event;
  volatile LONG released = 0;
};

DWORD WINAPI WaitForCaller(void* param) {
  Waiter* waiter = static_cast<Waiter*>(param);
  if (::WaitForSingleObject(waiter->event, 5000) == WAIT_OBJECT_0) {
    ::InterlockedExchange(&waiter->released, 1);
  }
  return 0;
}

TEST_F(PnpRelay, OtherModesPulseTheCallersEvent) {
  CreateServiceEvent();
  ASSERT_EQ(vtHART_NotifyPnP(callerEvent_.get(), 2), 0);
  Waiter waiter{callerEvent_.get()};
  win32::UniqueHandle thread(::CreateThread(nullptr, 0, WaitForCaller, &waiter, 0, nullptr));
  ASSERT_TRUE(thread.valid());
  EXPECT_TRUE(PulseUntil([&] {
    ::Sleep(50);
    return ::InterlockedCompareExchange(&waiter.released, 0, 0) == 1;
  }));
  ::WaitForSingleObject(thread.get(), 6000);
  // A pulse leaves the event non-signalled.
  EXPECT_EQ(::WaitForSingleObject(callerEvent_.get(), 0), WAIT_TIMEOUT);
}

}  // namespace
