// The library and the service load WinUSB and msports from the system
// folder, never the DLL of the same name beside the program or in the
// current folder, also where the loader knows no search flags; and the
// library loads WinUSB once for all its devices.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <memory>
#include <string>

#include "adapter_tracking.h"
#include "msports_double.h"
#include "old_loader.h"
#include "virtual_ports.h"
#include "winusb_library.h"
#include "winusb_modem_device.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string ModulePath(HMODULE module) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, MAX_PATH);
  return Lower(path);
}

std::string SystemPath(const char* name) {
  char folder[MAX_PATH] = {};
  GetSystemDirectoryA(folder, MAX_PATH);
  return Lower(std::string(folder) + "\\" + name);
}

std::string BesideProgram(const char* name) {
  std::string path = ModulePath(nullptr);
  return path.substr(0, path.rfind('\\') + 1) + name;
}

TEST(PlatformLibraries, DecoysBesideTheProgramAreNeverLoaded) {
  ASSERT_NE(GetFileAttributesA(BesideProgram("winusb.dll").c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_NE(GetFileAttributesA(BesideProgram("msports.dll").c_str()), INVALID_FILE_ATTRIBUTES);

  pnpsvc::WinUsbApi usb;
  ASSERT_EQ(usb.Load(), pnpsvc::WinUsbApi::LoadResult::kLoaded);
  EXPECT_EQ(ModulePath(usb.module.get()), SystemPath("winusb.dll"));

  // The msports double answers from its own state; the decoy could not.
  msports_double::Reset();
  msports_double::SetClaimed(5, true);
  EXPECT_TRUE(pnpsvc::IsComPortInUse(5));
  EXPECT_FALSE(pnpsvc::IsComPortInUse(6));
}

// Windows 7 before its loader update refuses LOAD_LIBRARY_SEARCH_SYSTEM32:
// each platform library is then loaded by its full path in the system
// folder, still never the decoy beside the program.
TEST(PlatformLibraries, ALoaderWithoutSearchFlagsTakesThemFromTheSystemFolderByFullPath) {
  testsupport::OldLoader loader;
  {
    auto device = std::make_unique<modemapi::WinUsbModemDevice>(4, 0x4444);
    EXPECT_TRUE(modemapi::QueryWinUsbUse().loaded);
    HMODULE module = GetModuleHandleA("winusb.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(ModulePath(module), SystemPath("winusb.dll"));
  }
  pnpsvc::WinUsbApi usb;
  ASSERT_EQ(usb.Load(), pnpsvc::WinUsbApi::LoadResult::kLoaded);
  EXPECT_EQ(ModulePath(usb.module.get()), SystemPath("winusb.dll"));
  msports_double::Reset();
  msports_double::SetClaimed(5, true);
  EXPECT_TRUE(pnpsvc::IsComPortInUse(5));
  EXPECT_FALSE(pnpsvc::IsComPortInUse(6));

  int byFullPath = 0;
  for (const auto& call : loader.Calls()) {
    const std::string name = Lower(std::string(call.fileName.begin(), call.fileName.end()));
    if (call.flags & testsupport::kLoaderSearchFlags) {
      EXPECT_EQ(static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32), call.flags) << name;
      EXPECT_EQ(std::string::npos, name.find('\\')) << name;
    } else {
      EXPECT_EQ(static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH), call.flags) << name;
      EXPECT_EQ(0u, name.find(SystemPath(""))) << name;
      ++byFullPath;
    }
  }
  EXPECT_GE(byFullPath, 3) << "winusb for the library and the service, msports";
}

TEST(WinUsbLoading, OneLoadIsSharedByAllDevicesAndFreedByTheLast) {
  const modemapi::WinUsbUse before = modemapi::QueryWinUsbUse();
  auto first = std::make_unique<modemapi::WinUsbModemDevice>(1, 0x1111);
  auto second = std::make_unique<modemapi::WinUsbModemDevice>(2, 0x2222);
  modemapi::WinUsbUse use = modemapi::QueryWinUsbUse();
  EXPECT_TRUE(use.loaded);
  EXPECT_EQ(use.references, before.references + 2);
  EXPECT_EQ(use.loads, before.loads + (before.loaded ? 0 : 1)) << "the second device loads nothing";
  HMODULE module = GetModuleHandleA("winusb.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(ModulePath(module), SystemPath("winusb.dll"));

  first.reset();
  use = modemapi::QueryWinUsbUse();
  EXPECT_TRUE(use.loaded) << "still held by the second device";
  EXPECT_EQ(use.references, before.references + 1);

  second.reset();
  use = modemapi::QueryWinUsbUse();
  EXPECT_EQ(use.references, before.references);
  if (!before.loaded) {
    EXPECT_FALSE(use.loaded);
    EXPECT_EQ(GetModuleHandleA("winusb.dll"), nullptr) << "the last device freed the module";
    auto again = std::make_unique<modemapi::WinUsbModemDevice>(3, 0x3333);
    EXPECT_EQ(modemapi::QueryWinUsbUse().loads, use.loads + 1) << "a new device loads it afresh";
  }
}

}  // namespace
