// Latency of a command 0 transaction through the channel, beside the
// library's own round trip in the same run. A measurement, not a test: it
// is disabled and runs only when asked for
// (--gtest_also_run_disabled_tests --gtest_filter=*Benchmark*).
#include "channel_fixture.h"

#include <algorithm>
#include <cstdio>

#include "com/Bstr.h"
#include "hart/frame.h"
#include "modem/modem_binding.h"
#include "shared/registry_layout.h"

namespace channeltest {
namespace {

double NowMs() {
  LARGE_INTEGER f, n;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&n);
  return 1000.0 * static_cast<double>(n.QuadPart) / static_cast<double>(f.QuadPart);
}

void Report(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%s: n=%zu median %.2f ms, p99 %.2f ms\n", what, ms.size(), ms[ms.size() / 2],
              ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]);
}

HANDLE g_answer = nullptr;
void __cdecl OnAnswer(uint8_t, void*) { ::SetEvent(g_answer); }

using devicedtm_double::DeviceDtm;

class ChannelBenchmark : public ChannelTest {};

TEST_F(ChannelBenchmark, DISABLED_Command0Latency) {
  constexpr int kRounds = 500;
  AddDevice(3, 0x00ABCD, 7);
  MakeChannel();
  ASSERT_EQ(S_OK, Start());
  DeviceDtm* dtm = nullptr;
  auto callback = NewDeviceDtm(&dtm, false);
  const std::wstring reference = ConnectAndWait(dtm, callback.get(), 3, 1);
  ASSERT_EQ(36u, reference.size());
  std::vector<double> channel;
  for (int i = 0; i < kRounds; ++i) {
    const double start = NowMs();
    ASSERT_TRUE(Transact(100 + i, DataExchangeDocument(reference, 0)));
    ASSERT_TRUE(dtm->waitForAnswers(2 + i, 10000));
    channel.push_back(NowMs() - start);
  }

  // The library alone, on a second adapter under device number 1.
  const uint16_t serial = 0xBE77;
  char path[MAX_PATH];
  ::GetTempPathA(MAX_PATH, path);
  std::string file = std::string(path) + "channel-devices\\bench-BE77";
  ASSERT_TRUE(SimCreateAdapter(std::wstring(file.begin(), file.end()).c_str(), serial));
  SimFieldDevice d;
  SimInitFieldDevice(&d);
  d.pollingAddress = 0;
  ASSERT_TRUE(SimAddFieldDevice(serial, &d));
  HKEY key = nullptr;
  DWORD value = serial;
  ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, shared::kEnumKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS | shared::kRegistryView,
                    nullptr, &key, nullptr);
  ::RegSetValueExA(key, file.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  ::RegCloseKey(key);
  ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(shared::kConfigKeyPath) + "\\1").c_str(), 0, nullptr, 0,
                    KEY_ALL_ACCESS | shared::kRegistryView, nullptr, &key, nullptr);
  ::RegSetValueExA(key, shared::kUsbIdValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  ::RegCloseKey(key);
  CHartDriverApi api;  // bound at run time, as the channel does
  ASSERT_TRUE(api.Load(nullptr));
  ASSERT_EQ(0, api.DeviceInit(1, 1));
  g_answer = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_EQ(0, api.StartMessageHandler(1, &OnAnswer, nullptr));
  const std::vector<uint8_t> frame = hart::BuildShortCommand0(0, true);
  std::vector<double> library;
  uint8_t kind = 0, length = 0, data[256];
  for (int i = 0; i < kRounds; ++i) {
    const double start = NowMs();
    ASSERT_EQ(0, api.Send(1, 5, static_cast<uint8_t>(frame.size()), frame.data()));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(g_answer, 10000));
    while (api.Receive(1, &kind, &length, data) == 0) {
    }
    library.push_back(NowMs() - start);
  }
  api.CloseDevice(1);
  api.Release();
  ::CloseHandle(g_answer);
  SimRemoveAdapter(serial);
  Report("channel: command 0 transaction, call to callback", channel);
  Report("library: command 0 send to message-handler callback", library);
}

}  // namespace
}  // namespace channeltest
