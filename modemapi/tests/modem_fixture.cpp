#include "modem_fixture.h"

#include <cstdio>

#include "shared/named_events.h"
#include "shared/registry_layout.h"
#include "win32/unique_handle.h"

namespace modemtest {

using namespace shared;

const uint8_t kCommandZero[5] = {0x02, 0x80, 0x00, 0x00, 0x82};

namespace {

void DeleteAdapterKeys() {
  ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kEnumKeyPath, kRegistryView, 0);
  win32::UniqueRegKey config;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigKeyPath, 0, KEY_ALL_ACCESS | kRegistryView, config.put()) ==
      ERROR_SUCCESS) {
    ::RegDeleteTreeA(config.get(), nullptr);
  }
}

win32::UniqueRegKey CreateKey(const std::string& path) {
  win32::UniqueRegKey key;
  EXPECT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kRegistryView,
                              nullptr, key.put(), nullptr),
            ERROR_SUCCESS)
      << path;
  return key;
}

}  // namespace

void ModemTest::SetUp() {
  DeleteAdapterKeys();
  SimReset();
  char temp[MAX_PATH];
  ::GetTempPathA(sizeof temp, temp);
  deviceFolder_ = std::string(temp) + "modemapi-devices\\";
  ::CreateDirectoryA(deviceFolder_.c_str(), nullptr);
}

void ModemTest::TearDown() {
  for (int number = 0; number < 256; ++number) vtHART_CloseDevice(static_cast<uint8_t>(number));
  SimReset();
  DeleteAdapterKeys();
}

std::string ModemTest::AddAdapter(uint16_t serial, bool listed) {
  char name[32];
  std::snprintf(name, sizeof name, "adapter-%04X", serial);
  const std::string path = deviceFolder_ + name;
  EXPECT_TRUE(SimCreateAdapter(std::wstring(path.begin(), path.end()).c_str(), serial));
  if (listed) {
    win32::UniqueRegKey key = CreateKey(kEnumKeyPath);
    const DWORD data = serial;
    EXPECT_EQ(::RegSetValueExA(key.get(), path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                               sizeof data),
              ERROR_SUCCESS);
  }
  return path;
}

void ModemTest::Configure(uint8_t number, uint32_t serial) {
  win32::UniqueRegKey key = CreateKey(std::string(kConfigKeyPath) + "\\" + std::to_string(number));
  EXPECT_EQ(::RegSetValueExA(key.get(), kUsbIdValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&serial),
                             sizeof serial),
            ERROR_SUCCESS);
}

uint8_t ModemTest::OpenNew(uint8_t number, uint16_t serial) {
  AddAdapter(serial);
  Configure(number, serial);
  return vtHART_DeviceInit(number, 1);
}

SimAdapterState ModemTest::State(uint16_t serial) {
  SimAdapterState state = {};
  EXPECT_TRUE(SimGetAdapterState(serial, &state));
  return state;
}

std::vector<SimTransfer> ModemTest::Log(uint16_t serial) {
  std::vector<SimTransfer> log(SimGetTransferLog(serial, nullptr, 0));
  log.resize(SimGetTransferLog(serial, log.data(), static_cast<uint32_t>(log.size())));
  return log;
}

std::vector<SimTransfer> ModemTest::Requests(uint16_t serial, uint8_t request) {
  std::vector<SimTransfer> matching;
  for (const SimTransfer& t : Log(serial)) {
    if (t.request == request) matching.push_back(t);
  }
  return matching;
}

uint8_t ModemTest::ReceiveNext(uint8_t number, uint8_t* kind, uint8_t* length, uint8_t* data, DWORD timeoutMs) {
  uint8_t status = kStatusRingEmpty;
  WaitFor([&] { return (status = vtHART_Receive(number, kind, length, data)) != kStatusRingEmpty; }, timeoutMs);
  return status;
}

bool ModemTest::WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (::GetTickCount64() >= end) return false;
    ::Sleep(5);
  }
}

bool OwnershipTaken(uint16_t serial) {
  win32::UniqueHandle event(::CreateEventA(nullptr, FALSE, TRUE, DeviceOwnershipEventName(serial).c_str()));
  if (!event) return false;
  if (::WaitForSingleObject(event.get(), 100) != WAIT_OBJECT_0) return true;
  ::SetEvent(event.get());
  return false;
}

}  // namespace modemtest
