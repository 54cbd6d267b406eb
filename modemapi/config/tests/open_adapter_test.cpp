// The configuration exports of modemapi.dll while the library itself has an
// adapter open on the simulated adapter: the open shows as "in use" to every
// reader, and a configuration change of that number is refused.
#include <windows.h>

#include <cstring>
#include <string>

#include "config_registry_fixture.h"
#include "modemapi/modemapi.h"
#include "shared/device_row.h"
#include "sim/sim_control.h"

namespace {

constexpr uint16_t kSerial = 0x2468;
constexpr uint8_t kNumber = 4;

class OpenAdapter : public configtest::AdapterRegistryTest {
 protected:
  void SetUp() override {
    AdapterRegistryTest::SetUp();
    path_ = configtest::MakeDevicePath("open");
    const std::wstring widePath(path_.begin(), path_.end());
    ASSERT_TRUE(SimCreateAdapter(widePath.c_str(), kSerial));
    configtest::BindSlot(kNumber, kSerial);
    configtest::AttachAdapter(path_, kSerial);
  }
  void TearDown() override {
    vtHART_CloseDevice(kNumber);
    SimRemoveAdapter(kSerial);
    AdapterRegistryTest::TearDown();
  }

  shared::DeviceRow Configuration() {
    uint8_t bytes[7];
    EXPECT_EQ(vtHART_GetDriverConfiguration(kNumber, bytes), 0);
    return shared::UnpackDeviceRow(bytes);
  }
  shared::DeviceRow OnlyAttached() {
    uint8_t bytes[7];
    EXPECT_EQ(vtHART_AttachedDevices(0x40, bytes), 0);
    shared::DeviceRow row = shared::UnpackDeviceRow(bytes);
    EXPECT_EQ(vtHART_AttachedDevices(0x80, bytes), 2);
    return row;
  }

  std::string path_;
};

TEST_F(OpenAdapter, OpenAdapterShowsInUseUntilClosed) {
  shared::DeviceRow row = Configuration();
  EXPECT_EQ(row.kind, 1);
  EXPECT_EQ(row.serial, kSerial);
  EXPECT_EQ(row.attached, 1);
  EXPECT_EQ(row.inUse, 0);
  EXPECT_EQ(OnlyAttached().inUse, 0);

  ASSERT_EQ(vtHART_DeviceInit(kNumber, 1), 0);
  EXPECT_EQ(Configuration().inUse, 1);
  row = OnlyAttached();
  EXPECT_EQ(row.serial, kSerial);
  EXPECT_EQ(row.inUse, 1);
  const uint8_t unbind[5] = {0, 0, 0, 0, 0};
  EXPECT_EQ(vtHART_SetDriverConfiguration(kNumber, unbind), 15);
  EXPECT_EQ(vtHARTvb_SetDriverConfiguration(kNumber, unbind, 0), 15);

  ASSERT_EQ(vtHART_CloseDevice(kNumber), 0);
  EXPECT_EQ(Configuration().inUse, 0);
  EXPECT_EQ(OnlyAttached().inUse, 0);
  // Closed and probed: the adapter opens again.
  EXPECT_EQ(vtHART_DeviceInit(kNumber, 1), 0);
}

// A library that has made no scan yet refuses to continue one. The library
// this program links has been used by earlier cases of the process, so a
// copy of it is loaded under another name: a module of its own, with the
// state of a fresh load.
TEST(FreshlyLoadedLibrary, ContinueBeforeAnyScanIsRefused) {
  configtest::ClearAdapterRegistry();
  char self[MAX_PATH], temp[MAX_PATH], copy[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameA(::GetModuleHandleA("modemapi.dll"), self, MAX_PATH), 0u);
  ::GetTempPathA(MAX_PATH, temp);
  ASSERT_NE(::GetTempFileNameA(temp, "mod", 0, copy), 0u);
  ASSERT_TRUE(::CopyFileA(self, copy, FALSE));
  HMODULE fresh = ::LoadLibraryA(copy);
  ASSERT_NE(fresh, nullptr);
  ASSERT_NE(fresh, ::GetModuleHandleA("modemapi.dll"));
  using AttachedDevicesFn = uint8_t(__cdecl*)(uint8_t, uint8_t*);
  auto attached = reinterpret_cast<AttachedDevicesFn>(
      reinterpret_cast<void*>(::GetProcAddress(fresh, "vtHART_AttachedDevices")));
  ASSERT_NE(attached, nullptr);
  uint8_t row[7];
  EXPECT_EQ(attached(0x80, row), 4);
  EXPECT_EQ(attached(0x20, row), 2) << "a scan then makes continuing valid";
  EXPECT_EQ(attached(0x80, row), 2);
  ::FreeLibrary(fresh);
  ::DeleteFileA(copy);
}

}  // namespace
