// drvsetup.exe as an installer starts it: every option, bad argument and
// scripted result of the driver-package interface, with the message boxes
// the user sees (read and closed by the test on a virtual display), the exit
// code and the calls that reached the interface (the difxapi double in the
// prefix's system folder, loaded natively: wine_system_dlls).
#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "helper_runner.h"
#include "regsvr32.h"
#include "win32/unique_handle.h"

using drvsetup_test::Box;
using drvsetup_test::HelperRun;
using testsupport::ProgramFolder;

namespace {

const wchar_t kTitle[] = L"VELTRA Dalvorin Setup Helper";
const wchar_t kFatal[] = L"Fatal Error in driver installation:\n\n";
const wchar_t kUsage[] =
    L"USAGE: drvsetup.exe /p /i /u <inf-filename> [Flag(s)]\n"
    L"\nOptions:\n"
    L"/p : preinstall driver package.\n"
    L"/i : install driver package.\n"
    L"/u : uninstall driver package.\n"
    L"\n<inf-filename>:\n"
    L"complete path or has to be in the current directory.\n"
    L"\nFlags:\n"
    L"optional, more than one will be ORed\n"
    L" 1 DRIVER_PACKAGE_REPAIR\n"
    L" 2 DRIVER_PACKAGE_SILENT\n"
    L" 4 DRIVER_PACKAGE_FORCE\n"
    L" 8 DRIVER_PACKAGE_ONLY_IF_DEVICE_PRESENT\n"
    L"16 DRIVER_PACKAGE_LEGACY\n"
    L"32 DRIVER_PACKAGE_DELETE_FILES\n";


std::wstring UsageError(const wchar_t* message) { return std::wstring(L"ERROR: ") + message + L"\n\n" + kUsage; }
std::wstring Fatal(const std::wstring& text) { return kFatal + text; }

// Calls the double records for one accepted command line: the callback set
// (no context), the operation with the given log entries, the callback cleared.
std::vector<std::string> Calls(const std::string& operation, std::vector<std::string> logs = {}) {
  std::vector<std::string> calls{"SetLogCallback callback=set context=null", operation};
  calls.insert(calls.end(), logs.begin(), logs.end());
  calls.push_back("SetLogCallback callback=null context=null");
  return calls;
}
std::string Install(const std::string& inf, int flags) {
  return "Install inf=" + inf + " flags=" + std::to_string(flags) + " installer=null reboot=0";
}

std::wstring SystemDll() {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  return std::wstring(system) + L"\\difxapi.dll";
}

// The double as the build put it beside the program for the test runner,
// which copies it into the prefix's system folder before every run.
void RestoreDouble() {
  std::wstring source = ProgramFolder() + L"drvsetup_e2e_tests.system32\\difxapi.dll";
  ASSERT_TRUE(CopyFileW(source.c_str(), SystemDll().c_str(), FALSE));
}

std::wstring TempFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + name;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  win32::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  if (!file) return lines;
  std::string bytes(GetFileSize(file.get(), nullptr), '\0');
  DWORD read = 0;
  ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  std::istringstream stream(bytes);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

class HelperTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No window manager runs on the virtual display: Wine's X11 driver would
    // wait two seconds for one at every closed box. Unmanaged windows close at once.
    win32::UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, key.put(), nullptr));
    const wchar_t no[] = L"N";
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key.get(), L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof(no)));
  }

  void SetUp() override {
    record_ = TempFile(L"difxapi-record.txt");
    DeleteFileW(record_.c_str());
    SetEnvironmentVariableW(L"DIFXAPI_DOUBLE_RECORD", record_.c_str());
  }

  HelperRun Run(const std::wstring& args, const std::wstring& script, const std::wstring& currentFolder = {},
                const std::string& screenshot = {}) {
    SetEnvironmentVariableW(L"DIFXAPI_DOUBLE_SCRIPT", script.c_str());
    HelperRun run = drvsetup_test::RunHelper(ProgramFolder() + L"drvsetup.exe", args, currentFolder, screenshot);
    EXPECT_TRUE(run.finished) << "the helper did not end; boxes seen: " << run.boxes.size();
    for (const Box& box : run.boxes) {
      EXPECT_EQ(kTitle, box.title);
      EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
      EXPECT_FALSE(box.owned);
    }
    return run;
  }

  std::vector<std::string> Recorded() { return ReadLines(record_); }

  std::wstring record_;
};

// One command line and script, with what the user and the interface get.
struct Case {
  const char* name;
  std::wstring args;
  std::wstring script;
  DWORD exitCode;
  std::vector<std::wstring> boxes;
  std::vector<std::string> calls;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class HelperCaseTest : public HelperTest, public testing::WithParamInterface<Case> {};

TEST_P(HelperCaseTest, ShowsTheBoxesAndEndsWithTheExitCode) {
  const Case& c = GetParam();
  HelperRun run = Run(c.args, c.script);
  EXPECT_EQ(c.exitCode, run.exitCode);
  std::vector<std::wstring> texts;
  for (const Box& box : run.boxes) texts.push_back(box.text);
  ASSERT_EQ(c.boxes.size(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(Narrow(c.boxes[i]), Narrow(texts[i])) << "box " << i;
  EXPECT_EQ(c.calls, Recorded());
}

const std::vector<std::string> kNothingCalled;

// Rejected command lines: the usage box with the reason, exit code 0, and the
// interface is never reached (not even the callback set).
INSTANTIATE_TEST_SUITE_P(
    Rejected, HelperCaseTest,
    testing::Values(
        Case{"NoArguments", L"", L"", 0, {UsageError(L"not enought arguments")}, kNothingCalled},
        Case{"OptionWithoutInf", L"/i", L"", 0, {UsageError(L"not enought arguments")}, kNothingCalled},
        Case{"OptionWithoutSlash", L"i x.inf", L"", 0, {UsageError(L"invalid option")}, kNothingCalled},
        Case{"UnknownLetter", L"/x x.inf", L"", 0, {UsageError(L"invalid option")}, kNothingCalled},
        Case{"LoneSlash", L"/ x.inf", L"", 0, {UsageError(L"invalid option")}, kNothingCalled},
        Case{"LoneDash", L"- x.inf", L"", 0, {UsageError(L"invalid option")}, kNothingCalled},
        Case{"FlagZero", L"/i x.inf 0", L"", 0, {UsageError(L"invalid flag")}, kNothingCalled},
        Case{"Flag64", L"/i x.inf 64", L"", 0, {UsageError(L"invalid flag")}, kNothingCalled},
        Case{"FlagMinusOne", L"/i x.inf -1", L"", 0, {UsageError(L"invalid flag")}, kNothingCalled},
        Case{"FlagNotANumber", L"/i x.inf abc", L"", 0, {UsageError(L"invalid flag")}, kNothingCalled},
        Case{"FlagHexReadsAsZero", L"/i x.inf 0x10", L"", 0, {UsageError(L"invalid flag")}, kNothingCalled},
        Case{"FlagTooLarge", L"/p x.inf 4294967297", L"", 0, {UsageError(L"invalid flag")}, kNothingCalled},
        Case{"BadFlagAfterGoodOnes", L"/u x.inf 1 2 99", L"", 0, {UsageError(L"invalid flag")}, kNothingCalled}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Accepted command lines: which operation runs, with which path and flags.
// Nothing is shown for a result of 0.
INSTANTIATE_TEST_SUITE_P(
    Accepted, HelperCaseTest,
    testing::Values(
        Case{"Preinstall", L"/p x.inf", L"", 1, {}, Calls("Preinstall inf=x.inf flags=0")},
        Case{"Install", L"/i x.inf", L"", 1, {}, Calls(Install("x.inf", 0))},
        Case{"Uninstall", L"/u x.inf", L"", 1, {}, Calls("Uninstall inf=x.inf flags=0 installer=null reboot=0")},
        Case{"UpperCaseLetter", L"/I x.inf", L"", 1, {}, Calls(Install("x.inf", 0))},
        Case{"DashOption", L"-i x.inf", L"", 1, {}, Calls(Install("x.inf", 0))},
        Case{"LongOptionWord", L"/install x.inf", L"", 1, {}, Calls(Install("x.inf", 0))},
        Case{"TrailingCharacters", L"/Px x.inf", L"", 1, {}, Calls("Preinstall inf=x.inf flags=0")},
        Case{"DashLongUninstall", L"-Uninstall x.inf", L"", 1, {},
             Calls("Uninstall inf=x.inf flags=0 installer=null reboot=0")},
        Case{"FlagsAreOred", L"/i x.inf 1 2 4", L"", 1, {}, Calls(Install("x.inf", 7))},
        Case{"CombinedFlagValue", L"/i x.inf 3", L"", 1, {}, Calls(Install("x.inf", 3))},
        Case{"LeadingZero", L"/i x.inf 08", L"", 1, {}, Calls(Install("x.inf", 8))},
        Case{"HighestFlag", L"/i x.inf 63 32", L"", 1, {}, Calls(Install("x.inf", 63))},
        Case{"DigitsBeforeText", L"/i x.inf 12abc", L"", 1, {}, Calls(Install("x.inf", 12))},
        Case{"SpaceAndSign", L"/i x.inf \" +5\"", L"", 1, {}, Calls(Install("x.inf", 5))},
        Case{"QuotedPathWithSpaces", L"/i \"C:\\Driver Files\\my pkg.inf\" 2", L"", 1, {},
             Calls(Install("C:\\Driver Files\\my pkg.inf", 2))}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Results and log entries of the interface: what is shown, and that the exit
// code stays 1 whatever the outcome.
INSTANTIATE_TEST_SUITE_P(
    Results, HelperCaseTest,
    testing::Values(
        Case{"NoSuchDevinstIsSuccess", L"/u x.inf", L"result=0xE000020B", 1, {},
             Calls("Uninstall inf=x.inf flags=0 installer=null reboot=0")},
        Case{"FailureWithoutLog", L"/i x.inf", L"result=0xE0000203", 1, {Fatal(L"Return Code: 3758096899")},
             Calls(Install("x.inf", 0))},
        Case{"SmallFailureCode", L"/p x.inf", L"result=5", 1, {Fatal(L"Return Code: 5")},
             Calls("Preinstall inf=x.inf flags=0")},
        Case{"LoggedErrorIsNotShownTwice", L"/i x.inf", L"log=3,5,Access is denied.;result=5", 1,
             {Fatal(L"Event: 3\nError: 5\nDescripton: Access is denied.\n")}, Calls(Install("x.inf", 0), {"log 3,5"})},
        Case{"EntryWithoutErrorShowsNothing", L"/i x.inf", L"log=1,0,Copying files", 1, {},
             Calls(Install("x.inf", 0), {"log 1,0"})},
        Case{"InfoEntryDoesNotHideFailure", L"/i x.inf", L"log=1,0,Copying files;result=0xE0000203", 1,
             {Fatal(L"Return Code: 3758096899")}, Calls(Install("x.inf", 0), {"log 1,0"})},
        Case{"EntryWithoutDescription", L"/i x.inf", L"log=3,2;result=2", 1, {Fatal(L"Event: 3\nError: 2\n")},
             Calls(Install("x.inf", 0), {"log 3,2"})},
        Case{"EntryWithEmptyDescription", L"/i x.inf", L"log=2,2,", 1,
             {Fatal(L"Event: 2\nError: 2\nDescripton: \n")}, Calls(Install("x.inf", 0), {"log 2,2"})},
        Case{"EveryErrorEntryGetsABox", L"/u x.inf", L"log=2,87,first;log=1,0,info;log=3,2,second;result=2", 1,
             {Fatal(L"Event: 2\nError: 87\nDescripton: first\n"), Fatal(L"Event: 3\nError: 2\nDescripton: second\n")},
             Calls("Uninstall inf=x.inf flags=0 installer=null reboot=0", {"log 2,87", "log 1,0", "log 3,2"})},
        Case{"SignedEventUnsignedError", L"/p x.inf", L"log=-1,0xE0000203,x;result=0xE0000203", 1,
             {Fatal(L"Event: -1\nError: 3758096899\nDescripton: x\n")},
             Calls("Preinstall inf=x.inf flags=0", {"log -1,3758096899"})},
        Case{"ErrorEntryWithSuccess", L"/i x.inf", L"log=2,3010,Restart needed", 1,
             {Fatal(L"Event: 2\nError: 3010\nDescripton: Restart needed\n")},
             Calls(Install("x.inf", 0), {"log 2,3010"})},
        Case{"ErrorEntryWithNoSuchDevinst", L"/u x.inf", L"log=3,1,gone;result=0xE000020B", 1,
             {Fatal(L"Event: 3\nError: 1\nDescripton: gone\n")},
             Calls("Uninstall inf=x.inf flags=0 installer=null reboot=0", {"log 3,1"})}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Without the interface in the system folder or beside the program the
// command line was still accepted: one box that says so, exit code 1.
TEST_F(HelperTest, MissingInterfaceIsReported) {
  // Only this prefix's link goes: the file is never written through.
  ASSERT_TRUE(DeleteFileW(SystemDll().c_str()));
  HelperRun run = Run(L"/i x.inf", L"", {}, "missing-interface");
  RestoreDouble();
  EXPECT_EQ(1u, run.exitCode);
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ(Narrow(Fatal(L"Cannot load difxapi.dll from the system folder or the program's folder, error 126")),
            Narrow(run.boxes[0].text));
  EXPECT_TRUE(Recorded().empty());
}

// Windows carries no system copy of the library: installers ship it beside
// their setup files, and the helper takes that copy, by its full path. A
// copy in the current folder only is never taken.
TEST_F(HelperTest, InstallsWithTheLibraryBesideItAndRefusesOneInTheCurrentFolder) {
  const std::wstring setup = TempFile(L"setup-files\\");
  const std::wstring current = TempFile(L"current-folder\\");
  const std::wstring library = ProgramFolder() + L"drvsetup_e2e_tests.system32\\difxapi.dll";
  for (const std::wstring& folder : {setup, current}) CreateDirectoryW(folder.c_str(), nullptr);
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"drvsetup.exe").c_str(), (setup + L"drvsetup.exe").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(library.c_str(), (setup + L"difxapi.dll").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(library.c_str(), (current + L"difxapi.dll").c_str(), FALSE));
  ASSERT_TRUE(DeleteFileW(SystemDll().c_str()));

  SetEnvironmentVariableW(L"DIFXAPI_DOUBLE_SCRIPT", L"");
  HelperRun beside = drvsetup_test::RunHelper(setup + L"drvsetup.exe", L"/i x.inf 2", current);
  const std::vector<std::string> besideCalls = Recorded();
  DeleteFileW(record_.c_str());
  HelperRun fromCurrent = drvsetup_test::RunHelper(ProgramFolder() + L"drvsetup.exe", L"/i x.inf", current,
                                                   "library-only-in-current-folder");
  RestoreDouble();

  EXPECT_TRUE(beside.finished);
  EXPECT_EQ(1u, beside.exitCode);
  EXPECT_TRUE(beside.boxes.empty());
  EXPECT_EQ(Calls(Install("x.inf", 2)), besideCalls);

  EXPECT_TRUE(fromCurrent.finished);
  EXPECT_EQ(1u, fromCurrent.exitCode);
  ASSERT_EQ(1u, fromCurrent.boxes.size());
  EXPECT_EQ(Narrow(Fatal(L"Cannot load difxapi.dll from the system folder or the program's folder, error 126")),
            Narrow(fromCurrent.boxes[0].text));
  EXPECT_TRUE(Recorded().empty());
}

}  // namespace
