// modemapi_bench: latency and idle cost of the modem interface library,
// measured against the simulated adapter with no wire delay.
//
//   modemapi_bench [--round-trips N] [--idle-seconds S]
//
// Prints the time to open an adapter (firmware download included), the
// send-to-answer latency of HART command 0 round trips (taking the answer
// by polling vtHART_Receive, and from the message handler's callback), and
// the CPU time per second that an open adapter costs its process while idle.
// The program plays the service's part: it makes the simulated adapter and
// writes ConfigKey and EnumKey itself, so run it in a throw-away prefix
// (run-bench.sh does).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hart/frame.h"
#include "modemapi/modemapi.h"
#include "shared/registry_layout.h"
#include "shared/status_codes.h"
#include "sim/sim_control.h"
#include "win32/unique_handle.h"

namespace {

constexpr uint16_t kSerial = 0xBE01;
constexpr uint8_t kDeviceNumber = 0;
constexpr DWORD kAnswerTimeoutMs = 2000;

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& t) {
    return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

bool SetDword(const std::string& keyPath, const char* name, DWORD value) {
  win32::UniqueRegKey key;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | shared::kRegistryView, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return ::RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

bool SetUpAdapter(std::string& devicePath) {
  char folder[MAX_PATH];
  ::GetTempPathA(sizeof folder, folder);
  devicePath = std::string(folder) + "bench-adapter.dev";
  std::wstring widePath(devicePath.begin(), devicePath.end());
  if (!SimCreateAdapter(widePath.c_str(), kSerial)) return false;
  SimFieldDevice device;
  SimInitFieldDevice(&device);
  device.pollingAddress = 0;
  device.answerDelayMs = 0;
  if (!SimAddFieldDevice(kSerial, &device)) return false;
  return SetDword(std::string(shared::kConfigKeyPath) + "\\0", shared::kUsbIdValueName, kSerial) &&
         SetDword(shared::kEnumKeyPath, devicePath.c_str(), kSerial);
}

struct Figures {
  double median = 0, p99 = 0, min = 0, max = 0;
};

Figures Summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  Figures f;
  const size_t n = samples.size();
  f.min = samples.front();
  f.max = samples.back();
  f.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  f.p99 = samples[std::min(n - 1, static_cast<size_t>(n * 0.99))];
  return f;
}

// One command 0 round trip: true when the answer arrived.
template <typename Wait>
bool RoundTrip(const std::vector<uint8_t>& frame, Wait waitForEntries) {
  if (vtHART_Send(kDeviceNumber, 5, static_cast<uint8_t>(frame.size()), frame.data()) != 0) {
    return false;
  }
  const double deadline = NowMs() + kAnswerTimeoutMs;
  while (NowMs() < deadline) {
    uint8_t kind = 0, length = 0, data[192];
    const uint8_t status = vtHART_Receive(kDeviceNumber, &kind, &length, data);
    if (status == shared::kStatusOk && kind == SIM_KIND_ANSWER) return true;
    if (status == shared::kStatusRingEmpty) {
      waitForEntries();
    } else if (status != shared::kStatusOk) {
      return false;
    }
  }
  return false;
}

template <typename Wait>
bool MeasureRoundTrips(const char* label, int count, Wait waitForEntries) {
  const std::vector<uint8_t> frame = hart::BuildShortCommand0(0, true);
  for (int i = 0; i < 20; ++i) {
    if (!RoundTrip(frame, waitForEntries)) {
      std::printf("%s: no answer during warm-up\n", label);
      return false;
    }
  }
  std::vector<double> samples;
  samples.reserve(count);
  for (int i = 0; i < count; ++i) {
    const double start = NowMs();
    if (!RoundTrip(frame, waitForEntries)) {
      std::printf("%s: round trip %d got no answer\n", label, i);
      return false;
    }
    samples.push_back(NowMs() - start);
  }
  const Figures f = Summarise(samples);
  std::printf("%-34s n=%d  median %.2f ms  p99 %.2f ms  min %.2f ms  max %.2f ms\n", label, count,
              f.median, f.p99, f.min, f.max);
  return true;
}

double IdleCpuPerSecond(DWORD seconds) {
  const double cpuStart = ProcessCpuMs();
  const double wallStart = NowMs();
  ::Sleep(seconds * 1000);
  return (ProcessCpuMs() - cpuStart) / ((NowMs() - wallStart) / 1000.0);
}

win32::UniqueHandle g_entriesWaiting;

void __cdecl OnEntriesWaiting(uint8_t, void*) { ::SetEvent(g_entriesWaiting.get()); }

}  // namespace

int main(int argc, char** argv) {
  int roundTrips = 2000;
  DWORD idleSeconds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--round-trips")) roundTrips = std::max(1, std::atoi(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--idle-seconds")) idleSeconds = std::max(1, std::atoi(argv[i + 1]));
  }

  std::string devicePath;
  if (!SetUpAdapter(devicePath)) {
    std::fprintf(stderr, "cannot set up the simulated adapter and its registry entries\n");
    return 1;
  }

  std::printf("Idle process, no adapter open:     %.2f ms CPU per second\n",
              IdleCpuPerSecond(idleSeconds));

  const double openStart = NowMs();
  uint8_t status = vtHART_DeviceInit(kDeviceNumber, 1);
  if (status != 0) {
    std::fprintf(stderr, "vtHART_DeviceInit: status %u (%s)\n", status, shared::StatusMeaning(status));
    return 1;
  }
  std::printf("Open (firmware download, init):    %.1f ms\n", NowMs() - openStart);

  bool ok = MeasureRoundTrips("Round trip, polling vtHART_Receive:", roundTrips, [] { ::Sleep(0); });

  std::printf("Idle, adapter open:                 %.2f ms CPU per second\n",
              IdleCpuPerSecond(idleSeconds));

  g_entriesWaiting.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
  status = vtHART_StartMessageHandler(kDeviceNumber, OnEntriesWaiting, nullptr);
  if (status != 0) {
    std::fprintf(stderr, "vtHART_StartMessageHandler: status %u\n", status);
    ok = false;
  } else {
    ok = MeasureRoundTrips("Round trip, message handler:", roundTrips,
                           [] { ::WaitForSingleObject(g_entriesWaiting.get(), 50); }) && ok;
    std::printf("Idle, adapter open with handler:    %.2f ms CPU per second\n",
                IdleCpuPerSecond(idleSeconds));
    vtHART_StopMessageHandler(kDeviceNumber);
  }

  vtHART_CloseDevice(kDeviceNumber);
  SimRemoveAdapter(kSerial);
  return ok ? 0 : 1;
}
