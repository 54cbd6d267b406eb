// vtHART_NotifyPnP: a relay thread that passes the service's plug-and-play
// pulses on to an event of the caller. One relay per process.
#include "modemapi/adapter_registry.h"
#include "shared/named_events.h"
#include "win32/callback_guard.h"

namespace modemapi {

namespace {

constexpr uint8_t kModeStop = 3;
constexpr uint8_t kModeSet = 1;  // set the caller's event; any other start mode pulses it
constexpr DWORD kRelayStopWaitMs = 3000;

struct PnpRelay {
  win32::UniqueHandle thread;
  win32::UniqueHandle stopEvent;
  win32::UniqueHandle serviceEvent;
  HANDLE callerEvent = nullptr;  // the caller's; not ours to close
  uint8_t mode = 0;
};

PnpRelay g_relay;
win32::CriticalSection g_relayLock;

DWORD WINAPI PnpNotifyThreadProc(void* param) {
  return win32::guard(DWORD{1}, [&]() -> DWORD {
    PnpRelay* relay = static_cast<PnpRelay*>(param);
    const HANDLE waits[2] = {relay->stopEvent.get(), relay->serviceEvent.get()};
    for (;;) {
      const DWORD result = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
      if (result != WAIT_OBJECT_0 + 1) return 0;  // stop event, or the wait itself failed
      if (relay->mode == kModeSet) {
        ::SetEvent(relay->callerEvent);
      } else {
        ::PulseEvent(relay->callerEvent);
      }
    }
  });
}

uint8_t StopRelay(HANDLE callerEvent) {
  if (callerEvent) return shared::kStatusInvalidArgument;
  if (!g_relay.thread) return shared::kStatusThreadOrEvent;
  ::SetEvent(g_relay.stopEvent.get());
  ::WaitForSingleObject(g_relay.thread.get(), kRelayStopWaitMs);
  g_relay.stopEvent.reset();
  g_relay.serviceEvent.reset();
  g_relay.thread.reset();
  g_relay.callerEvent = nullptr;
  return shared::kStatusOk;
}

uint8_t StartRelay(HANDLE callerEvent, uint8_t mode) {
  if (!callerEvent) return shared::kStatusInvalidArgument;
  if (g_relay.thread) return shared::kStatusAlreadyRunning;
  g_relay.stopEvent.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!g_relay.stopEvent) return shared::kStatusThreadOrEvent;
  g_relay.serviceEvent.reset(::OpenEventA(SYNCHRONIZE, FALSE, shared::kServicePnpEventGlobalName));
  if (!g_relay.serviceEvent)
    g_relay.serviceEvent.reset(::OpenEventA(SYNCHRONIZE, FALSE, shared::kServicePnpEventName));
  if (!g_relay.serviceEvent) {
    g_relay.stopEvent.reset();
    return shared::kStatusThreadOrEvent;
  }
  g_relay.callerEvent = callerEvent;
  g_relay.mode = mode;
  g_relay.thread.reset(::CreateThread(nullptr, 0, PnpNotifyThreadProc, &g_relay, 0, nullptr));
  if (!g_relay.thread) {
    // Nothing is kept for the next start: it opens everything afresh.
    g_relay.stopEvent.reset();
    g_relay.serviceEvent.reset();
    g_relay.callerEvent = nullptr;
    return shared::kStatusThreadOrEvent;
  }
  return shared::kStatusOk;
}

}  // namespace

}  // namespace modemapi

extern "C" uint8_t __cdecl vtHART_NotifyPnP(HANDLE callerEvent, uint8_t mode) {
  using namespace modemapi;
  return win32::guard(uint8_t{shared::kStatusIoError}, [&]() -> uint8_t {
    if (GetOsClass() == 4) return shared::kStatusIoError;  // Windows 95 has no relay
    win32::CsLock lock(g_relayLock);
    return mode == kModeStop ? StopRelay(callerEvent) : StartRelay(callerEvent, mode);
  });
}
