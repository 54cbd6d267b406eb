// The modemapi binding: counted loads, all twelve entry points required,
// the texts of its failures, and the message of each library status.
#include <gtest/gtest.h>

#include "com/Bstr.h"
#include "modem/modem_binding.h"

namespace {

bool Loaded(const wchar_t* name) { return ::GetModuleHandleW(name) != nullptr; }

TEST(ModemBinding, CountsLoadsAndFreesTheLibraryAtTheLastRelease) {
  CHartDriverApi api;
  api.SetLibraryName(L"modemapi_double.dll");
  ASSERT_TRUE(api.Load(nullptr));
  ASSERT_TRUE(api.Load(nullptr));
  EXPECT_EQ(2u, api.LoadCount());
  EXPECT_TRUE(api.DeviceInit && api.SetParam && api.StartMessageHandler && api.StopMessageHandler &&
              api.CloseDevice && api.Receive && api.Send && api.GetParam && api.GetDriverConfiguration &&
              api.SetDriverConfiguration && api.AttachedDevices && api.NotifyPnP);
  api.Release();
  EXPECT_EQ(1u, api.LoadCount());
  EXPECT_TRUE(Loaded(L"modemapi_double.dll"));
  EXPECT_EQ(2, api.AttachedDevices(0x20, nullptr));  // the double answers
  api.Release();
  EXPECT_EQ(0u, api.LoadCount());
  EXPECT_FALSE(api.IsLoaded());
  EXPECT_EQ(nullptr, api.Send);
  EXPECT_FALSE(Loaded(L"modemapi_double.dll"));
  api.Release();  // on an unloaded record: nothing
  EXPECT_EQ(0u, api.LoadCount());
}

TEST(ModemBinding, RefusesALibraryThatLacksOneEntryPointAndDoesNotKeepIt) {
  CHartDriverApi api;
  api.SetLibraryName(L"modemapi_eleven.dll");
  com::Bstr reason;
  EXPECT_FALSE(api.Load(reason.put()));
  EXPECT_STREQ(L"Error while loading the modemapi.dll. Not all function pointers could be loaded.",
               reason.c_str());
  EXPECT_FALSE(api.IsLoaded());
  EXPECT_EQ(0u, api.LoadCount());
  EXPECT_EQ(nullptr, api.DeviceInit);
  EXPECT_FALSE(Loaded(L"modemapi_eleven.dll"));
}

TEST(ModemBinding, AnAbsentLibraryGivesItsText) {
  CHartDriverApi api;
  api.SetLibraryName(L"modemapi_absent.dll");
  com::Bstr reason;
  EXPECT_FALSE(api.Load(reason.put()));
  EXPECT_STREQ(L"modemapi.dll could not be loaded.", reason.c_str());
  EXPECT_FALSE(api.IsLoaded());
  EXPECT_TRUE(api.Load(nullptr) == false);  // no text asked for: still refused
}

TEST(ModemBinding, UnloadFreesWhateverTheCount) {
  CHartDriverApi api;
  api.SetLibraryName(L"modemapi_double.dll");
  ASSERT_TRUE(api.Load(nullptr));
  ASSERT_TRUE(api.Load(nullptr));
  api.Unload();
  EXPECT_FALSE(api.IsLoaded());
  EXPECT_EQ(nullptr, api.NotifyPnP);
  EXPECT_FALSE(Loaded(L"modemapi_double.dll"));
}

TEST(ModemBinding, MapsEachLibraryStatusToItsMessage) {
  using modem_messages::MessageIdOfStatus;
  EXPECT_EQ(0u, MessageIdOfStatus(0));
  const unsigned expected[][2] = {{1, 135}, {2, 136}, {3, 137},  {4, 138},  {5, 139},  {6, 140},
                                  {7, 141}, {8, 142}, {9, 143},  {10, 144}, {11, 145}, {12, 146},
                                  {13, 147}, {15, 148}, {35, 149}, {14, 134}, {16, 134}, {21, 134}};
  for (const auto& row : expected)
    EXPECT_EQ(row[1], MessageIdOfStatus(static_cast<BYTE>(row[0]))) << "status " << row[0];
}

}  // namespace
