#include "device_notices.h"

#include <deque>
#include <utility>

#include "adapter_tracking.h"
#include "win32/callback_guard.h"
#include "win32/unique_handle.h"

namespace pnpsvc {
namespace {

struct QueuedNotice {
  DeviceNotice notice;
  std::string path;
};

struct NoticeWorker {
  win32::CriticalSection lock;  // guards everything below
  std::deque<QueuedNotice> queue;
  win32::UniqueHandle wake;  // manual-reset: set while notices wait or a stop is asked
  win32::UniqueHandle idle;  // manual-reset: set while nothing waits or is in hand
  win32::UniqueHandle thread;
  bool running = false;
  bool stopping = false;
  const WinUsbApi* usb = nullptr;
  HANDLE pnpEvent = nullptr;
};
NoticeWorker g_worker;

void CarryOut(const QueuedNotice& item, const WinUsbApi* usb, HANDLE pnpEvent) {
  if (item.notice == DeviceNotice::kArrival) {
    WinUsbApi none;
    OnDeviceArrival(usb ? *usb : none, item.path, pnpEvent);
  } else {
    OnDeviceRemoval(item.path, pnpEvent);
  }
}

DWORD WINAPI NoticeThread(void*) {
  for (;;) {
    if (WaitForSingleObject(g_worker.wake.get(), INFINITE) != WAIT_OBJECT_0) return 1;
    QueuedNotice item;
    const WinUsbApi* usb;
    HANDLE pnpEvent;
    {
      win32::CsLock lock(g_worker.lock);
      if (g_worker.stopping) return 0;
      if (g_worker.queue.empty()) {
        ResetEvent(g_worker.wake.get());
        SetEvent(g_worker.idle.get());
        continue;
      }
      item = std::move(g_worker.queue.front());
      g_worker.queue.pop_front();
      usb = g_worker.usb;
      pnpEvent = g_worker.pnpEvent;
    }
    // A notice whose handling raised is dropped; the worker goes on, so that
    // `idle` is set again once the queue runs dry.
    win32::guard([&] { CarryOut(item, usb, pnpEvent); });
  }
}

}  // namespace

bool StartDeviceNotices(const WinUsbApi* usb, HANDLE pnpEvent) {
  win32::CsLock lock(g_worker.lock);
  if (g_worker.running) return false;
  g_worker.wake.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  g_worker.idle.reset(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  if (!g_worker.wake || !g_worker.idle) return false;
  g_worker.queue.clear();
  g_worker.stopping = false;
  g_worker.usb = usb;
  g_worker.pnpEvent = pnpEvent;
  g_worker.thread.reset(CreateThread(nullptr, 0, NoticeThread, nullptr, 0, nullptr));
  if (!g_worker.thread) return false;
  g_worker.running = true;
  return true;
}

bool PostDeviceNotice(DeviceNotice notice, const std::string& path) {
  win32::CsLock lock(g_worker.lock);
  if (!g_worker.running || g_worker.stopping) return false;
  try {
    g_worker.queue.push_back(QueuedNotice{notice, path});
  } catch (...) {
    return false;  // no memory: the notice is lost, as a notice nobody handled
  }
  ResetEvent(g_worker.idle.get());
  SetEvent(g_worker.wake.get());
  return true;
}

void StopDeviceNotices() {
  HANDLE thread;
  {
    win32::CsLock lock(g_worker.lock);
    if (!g_worker.running) return;
    g_worker.stopping = true;
    g_worker.queue.clear();
    SetEvent(g_worker.wake.get());
    thread = g_worker.thread.get();
  }
  // The notice in hand finishes first; its install is bounded by the
  // install kit and the binding tries.
  WaitForSingleObject(thread, INFINITE);
  win32::CsLock lock(g_worker.lock);
  g_worker.thread.reset();
  g_worker.running = false;
  g_worker.usb = nullptr;
  g_worker.pnpEvent = nullptr;
  SetEvent(g_worker.idle.get());
}

bool WaitDeviceNoticesIdle(DWORD timeoutMs) {
  HANDLE idle;
  {
    win32::CsLock lock(g_worker.lock);
    if (!g_worker.idle) return true;
    idle = g_worker.idle.get();
  }
  return WaitForSingleObject(idle, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace pnpsvc
