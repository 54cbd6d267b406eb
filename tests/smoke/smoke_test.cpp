#include <gtest/gtest.h>
#include <windows.h>
#include <thread>

TEST(Smoke, RegistryRoundTrip) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\SmokeTest", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  DWORD v = 42;
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4));
  RegCloseKey(key);
}

TEST(Smoke, Threads) {
  int x = 0;
  std::thread t([&] { x = 1; });
  t.join();
  EXPECT_EQ(1, x);
}
