// The modemapi binding: counted loads, all twelve entry points required,
// the texts of its failures, where it finds the library (also on a loader
// without the search flags) and where it never looks, and the message of
// each library status.
#include <gtest/gtest.h>

#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "com/Bstr.h"
#include "dll_decoy.h"
#include "modem/modem_binding.h"
#include "old_loader.h"
#include "regsvr32.h"
#include "win32/library_search.h"
#include "win32/module_path.h"

namespace {

using testsupport::DllDecoy;
using testsupport::OldLoader;

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

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(::towlower(c));
  return text;
}

// Without the library beside the DTM, the system folder's copy serves, also
// where the loader refuses the search flags (Windows 7 before its loader
// update): then by its full path. Wine's own loader takes the flags, so only
// the calls the played old loader got show that the binding falls back.
TEST(ModemBinding, TheSystemFoldersLibraryIsBoundAlsoByALoaderWithoutSearchFlags) {
  const std::wstring inSystem = win32::SystemFolder() + L"modemapi_system.dll";
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(inSystem.c_str()));
  ASSERT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((testsupport::ProgramFolder() + L"modemapi_system.dll").c_str()));
  for (bool old : {false, true}) {
    SCOPED_TRACE(old ? "loader without search flags" : "loader with search flags");
    std::unique_ptr<OldLoader> loader(old ? new OldLoader : nullptr);
    CHartDriverApi api;
    api.SetLibraryName(L"modemapi_system.dll");
    com::Bstr reason;
    ASSERT_TRUE(api.Load(reason.put())) << (reason.c_str() ? reason.c_str() : L"");
    HMODULE module = ::GetModuleHandleW(L"modemapi_system.dll");
    ASSERT_NE(nullptr, module);
    EXPECT_EQ(0, _wcsicmp(inSystem.c_str(), win32::ModulePath(module).c_str())) << win32::ModulePath(module);
    EXPECT_EQ(2, api.AttachedDevices(0x20, nullptr));
    api.Release();
    EXPECT_FALSE(Loaded(L"modemapi_system.dll"));
    if (!loader) continue;
    // The search flags, refused; then the application's folder and the
    // system folder by full path.
    std::vector<std::wstring> tried;
    for (const OldLoader::Call& call : loader->Calls())
      tried.push_back(std::to_wstring(call.flags) + L":" + Lower(call.fileName));
    const std::wstring altered = std::to_wstring(LOAD_WITH_ALTERED_SEARCH_PATH) + L":";
    const std::vector<std::wstring> expected = {
        std::to_wstring(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32) + L":modemapi_system.dll",
        altered + Lower(testsupport::ProgramFolder() + L"modemapi_system.dll"), altered + Lower(inSystem)};
    EXPECT_EQ(expected, tried);
  }
}

// A modemapi.dll in the current folder or on PATH, where the plain search
// order would find it, is never the library: with none beside the DTM nor
// in the application's or the system folder, the binding reports 130.
TEST(ModemBinding, AModemapiInTheCurrentFolderOrOnThePathIsNeverLoaded) {
  const std::wstring double_ = testsupport::ProgramFolder() + L"modemapi_double.dll";
  ASSERT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((testsupport::ProgramFolder() + L"modemapi.dll").c_str()));
  ASSERT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((win32::SystemFolder() + L"modemapi.dll").c_str()));
  for (DllDecoy::Place place : {DllDecoy::Place::kCurrentFolder, DllDecoy::Place::kPath}) {
    SCOPED_TRACE(DllDecoy::Name(place));
    DllDecoy decoy(double_, L"modemapi.dll", place);
    ASSERT_TRUE(decoy.planted());
    HMODULE found = ::LoadLibraryW(L"modemapi.dll");  // the plain search order reaches it
    EXPECT_NE(nullptr, found);
    if (found) ::FreeLibrary(found);

    for (bool old : {false, true}) {
      SCOPED_TRACE(old ? "loader without search flags" : "loader with search flags");
      std::unique_ptr<OldLoader> loader(old ? new OldLoader : nullptr);
      CHartDriverApi api;  // binds modemapi.dll
      com::Bstr reason;
      EXPECT_FALSE(api.Load(reason.put()));
      EXPECT_STREQ(L"modemapi.dll could not be loaded.", reason.c_str());
      EXPECT_FALSE(api.IsLoaded());
      EXPECT_FALSE(Loaded(L"modemapi.dll"));
    }
  }
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
