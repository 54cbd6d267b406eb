#include <gtest/gtest.h>
#include <windows.h>
#include <thread>

#include "win32/unique_handle.h"

TEST(Smoke, RegistryRoundTrip) {
  win32::UniqueRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\SmokeTest", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
  DWORD v = 42;
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), L"v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4));
}

TEST(Smoke, Threads) {
  int x = 0;
  std::thread t([&] { x = 1; });
  t.join();
  EXPECT_EQ(1, x);
}
