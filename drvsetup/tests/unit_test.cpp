// What a real run of the helper cannot reach: its own path unreadable, and
// the driver-package interface missing, incomplete or only beside the program.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "setup_helper.h"

namespace {

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

// A DLL of the name beside the program (often a download folder) is never
// used: only the system folder counts.
TEST(DifxApi, DllBesideTheProgramIsNotLoaded) {
  HMODULE beside = LoadLibraryW(L"difxapi_double.dll");  // normal search order finds it here
  ASSERT_NE(nullptr, beside);
  FreeLibrary(beside);

  drvsetup::DifxApi api;
  std::wstring error;
  EXPECT_FALSE(api.Load(L"difxapi_double.dll", error));
  EXPECT_EQ(L"Cannot load difxapi_double.dll from the system folder, error 126", error);
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
