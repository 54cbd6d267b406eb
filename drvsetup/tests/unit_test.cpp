// What a real run of the helper cannot reach: its own path unreadable, and
// the driver-package interface missing, incomplete, beside the program or
// only in the current folder, and a loader that knows no search flags.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <string>
#include <vector>

#include "dll_decoy.h"
#include "old_loader.h"
#include "regsvr32.h"
#include "setup_helper.h"
#include "win32/library_search.h"

namespace {

using testsupport::ProgramFolder;

const std::wstring kModuleNameFailed = L"Fatal Error in driver installation:\n\nGetModuleFileName() failed";

// Records every box; GetModuleFileNameW answers with a scripted path and length.
class RecordingUi : public drvsetup::Ui {
 public:
  void Show(const std::wstring& text) override { shown.push_back(text); }
  DWORD ModuleFileName(wchar_t* buffer, DWORD size) override {
    requestedSize = size;
    DWORD copied = static_cast<DWORD>(path.copy(buffer, size));
    if (copied < size) buffer[copied] = L'\0';
    return length == kPathLength ? copied : length;
  }

  static constexpr DWORD kPathLength = 0xFFFFFFFF;  // answer with the path's own length
  std::wstring path = L"C:\\Program Files\\Setup\\drvsetup.exe";
  DWORD length = kPathLength;
  DWORD requestedSize = 0;
  std::vector<std::wstring> shown;
};

TEST(ShowUsage, ShowsTheFileNamePartOfTheProgramPath) {
  RecordingUi ui;
  ui.path = L"C:\\tools\\x64\\Setup.Helper.exe";
  drvsetup::ShowUsage(ui, "invalid flag");
  ASSERT_EQ(1u, ui.shown.size());
  EXPECT_EQ(0u, ui.shown[0].find(L"ERROR: invalid flag\n\nUSAGE: Setup.Helper.exe /p /i /u <inf-filename> [Flag(s)]\n"));
  EXPECT_EQ(261u, ui.requestedSize);

  ui.shown.clear();
  drvsetup::ShowUsage(ui, nullptr);
  ASSERT_EQ(1u, ui.shown.size());
  EXPECT_EQ(0u, ui.shown[0].find(L"USAGE: Setup.Helper.exe /p"));
}

TEST(ShowUsage, UnreadableProgramPathShowsOnlyThatError) {
  RecordingUi failed;
  failed.length = 0;
  RecordingUi truncated;  // GetModuleFileNameW fills the buffer and returns its size
  truncated.path = L"C:\\" + std::wstring(300, L'd') + L"\\drvsetup.exe";
  RecordingUi noBackslash;
  noBackslash.path = L"drvsetup.exe";
  for (RecordingUi* ui : {&failed, &truncated, &noBackslash}) {
    drvsetup::ShowUsage(*ui, "invalid option");
    EXPECT_EQ(std::vector<std::wstring>{kModuleNameFailed}, ui->shown);
  }
}

TEST(ShowUsage, PathOfTheLongestLengthStillFits) {
  RecordingUi ui;
  ui.path = L"C:\\" + std::wstring(260 - 3 - 6, L'd') + L"\\a.exe";
  ASSERT_EQ(260u, ui.path.size());
  drvsetup::ShowUsage(ui, nullptr);
  ASSERT_EQ(1u, ui.shown.size());
  EXPECT_EQ(0u, ui.shown[0].find(L"USAGE: a.exe /p"));
}

TEST(Run, RejectedCommandLineWithUnreadablePathShowsTheFatalErrorAndExitsWithZero) {
  RecordingUi ui;
  ui.length = 0;
  wchar_t program[] = L"drvsetup.exe";
  wchar_t option[] = L"/i";
  wchar_t* argv[] = {program, option};
  EXPECT_EQ(drvsetup::kExitRejected, drvsetup::Run(2, argv, ui));
  EXPECT_EQ(std::vector<std::wstring>{kModuleNameFailed}, ui.shown);
}

TEST(DifxApi, DllWithoutTheEntryPointsIsRefused) {
  drvsetup::DifxApi api;
  std::wstring error;
  EXPECT_FALSE(api.Load(L"kernel32.dll", error));
  EXPECT_EQ(L"Cannot find DIFXAPISetLogCallbackW in kernel32.dll", error);
  EXPECT_EQ(nullptr, api.setLogCallback);
  EXPECT_EQ(nullptr, api.install);
}

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  return path;
}

// Without a system copy, the copy beside the program is used (installers
// ship it there); one that only the current folder holds is never loaded,
// although the search path would find it there.
TEST(DifxApi, TheProgramsOwnFolderCountsTheCurrentFolderNever) {
  drvsetup::DifxApi beside;
  std::wstring error;
  ASSERT_TRUE(beside.Load(L"difxapi_double.dll", error)) << error;
  EXPECT_NE(nullptr, beside.install);
  HMODULE loaded = GetModuleHandleW(L"difxapi_double.dll");
  ASSERT_NE(nullptr, loaded);
  EXPECT_EQ(ProgramFolder() + L"difxapi_double.dll", ModulePath(loaded));

  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"drvsetup-current-folder\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"difxapi_double.dll").c_str(), (folder + L"difxapi_cwd.dll").c_str(), FALSE));
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
  HMODULE bySearch = LoadLibraryW(L"difxapi_cwd.dll");  // the search path reaches the current folder
  EXPECT_NE(nullptr, bySearch);
  if (bySearch) FreeLibrary(bySearch);

  drvsetup::DifxApi current;
  const bool loadedFromCurrent = current.Load(L"difxapi_cwd.dll", error);
  SetCurrentDirectoryW(previous);
  EXPECT_FALSE(loadedFromCurrent);
  EXPECT_EQ(L"Cannot load difxapi_cwd.dll from the system folder or the program's folder, error 126", error);
  EXPECT_EQ(nullptr, GetModuleHandleW(L"difxapi_cwd.dll"));
}

// The loads the old loader was asked for since `from`: "flags:path" in lower case.
std::vector<std::wstring> Tried(const testsupport::OldLoader& loader, size_t from = 0) {
  std::vector<std::wstring> tried;
  const std::vector<testsupport::OldLoader::Call> calls = loader.Calls();
  for (size_t i = from; i < calls.size(); ++i) {
    std::wstring path = calls[i].fileName;
    for (wchar_t& c : path) c = static_cast<wchar_t>(towlower(c));
    tried.push_back(std::to_wstring(calls[i].flags) + L":" + path);
  }
  return tried;
}

std::wstring Try(DWORD flags, std::wstring path) {
  for (wchar_t& c : path) c = static_cast<wchar_t>(towlower(c));
  return std::to_wstring(flags) + L":" + path;
}

// Windows 7 before its loader update refuses the search flags: the system
// folder's copy, else the one beside the program, is then loaded by full
// path; the current folder still never counts. Wine's loader takes the
// flags, so only the loads the old loader was asked for show that every
// load went through it, with the fallback behind it.
TEST(DifxApi, ALoaderWithoutSearchFlagsTakesTheSystemFolderThenTheProgramsOwnFolder) {
  testsupport::OldLoader loader;
  drvsetup::DifxApi system;
  std::wstring error;
  ASSERT_TRUE(system.Load(L"difxapi.dll", error)) << error;
  EXPECT_NE(nullptr, system.preinstall);
  EXPECT_EQ(0, _wcsicmp((win32::SystemFolder() + L"difxapi.dll").c_str(),
                        ModulePath(GetModuleHandleW(L"difxapi.dll")).c_str()));
  EXPECT_EQ(Tried(loader), (std::vector<std::wstring>{
                               Try(LOAD_LIBRARY_SEARCH_SYSTEM32, L"difxapi.dll"),
                               Try(LOAD_WITH_ALTERED_SEARCH_PATH, win32::SystemFolder() + L"difxapi.dll"),
                           }));

  const size_t before = loader.Calls().size();
  drvsetup::DifxApi beside;
  ASSERT_TRUE(beside.Load(L"difxapi_double.dll", error)) << error;
  EXPECT_NE(nullptr, beside.uninstall);
  EXPECT_EQ(ProgramFolder() + L"difxapi_double.dll", ModulePath(GetModuleHandleW(L"difxapi_double.dll")));
  const std::wstring ownCopy = ProgramFolder() + L"difxapi_double.dll";
  EXPECT_EQ(Tried(loader, before),
            (std::vector<std::wstring>{
                Try(LOAD_LIBRARY_SEARCH_SYSTEM32, L"difxapi_double.dll"),
                Try(LOAD_WITH_ALTERED_SEARCH_PATH, win32::SystemFolder() + L"difxapi_double.dll"),
                Try(LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32, ownCopy),
                Try(LOAD_WITH_ALTERED_SEARCH_PATH, ownCopy),
            }));

  testsupport::DllDecoy decoy(ProgramFolder() + L"difxapi_double.dll", L"difxapi_cwd.dll",
                              testsupport::DllDecoy::Place::kCurrentFolder);
  ASSERT_TRUE(decoy.planted());
  drvsetup::DifxApi current;
  EXPECT_FALSE(current.Load(L"difxapi_cwd.dll", error));
  EXPECT_EQ(L"Cannot load difxapi_cwd.dll from the system folder or the program's folder, error 126", error);
  EXPECT_EQ(nullptr, GetModuleHandleW(L"difxapi_cwd.dll"));
}

TEST(DifxApi, RunWithoutTheInterfaceShowsWhyAndExitsWithOne) {
  RecordingUi ui;
  wchar_t program[] = L"drvsetup.exe";
  wchar_t option[] = L"/u";
  wchar_t inf[] = L"x.inf";
  wchar_t* argv[] = {program, option, inf};
  EXPECT_EQ(drvsetup::kExitRun, drvsetup::Run(3, argv, ui, L"kernel32.dll"));
  EXPECT_EQ(std::vector<std::wstring>{L"Fatal Error in driver installation:\n\nCannot find DIFXAPISetLogCallbackW in kernel32.dll"},
            ui.shown);
}

}  // namespace
