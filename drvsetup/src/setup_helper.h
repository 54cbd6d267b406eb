// The setup helper: command line, the driver-package operation and what it
// shows. wWinMain (main.cpp) only hands the process's arguments to Run().
#pragma once

#include <windows.h>

#include <string>

#include "difx_api.h"

namespace drvsetup {

// Where the helper's texts go and where its own path comes from. The program
// uses message boxes and GetModuleFileNameW (MessageBoxUi); tests put a
// recorder in its place for the paths a real process cannot reach.
class Ui {
 public:
  virtual ~Ui() = default;
  // One modal box with the text; returns when the user has closed it.
  virtual void Show(const std::wstring& text) = 0;
  // GetModuleFileNameW(nullptr, buffer, size) of the program.
  virtual DWORD ModuleFileName(wchar_t* buffer, DWORD size) = 0;
};

// MessageBoxW without owner, OK button only, titled texts::kTitle.
class MessageBoxUi : public Ui {
 public:
  void Show(const std::wstring& text) override;
  DWORD ModuleFileName(wchar_t* buffer, DWORD size) override;
};

enum class Operation { kPreinstall, kInstall, kUninstall };

struct CommandLine {
  Operation operation = Operation::kInstall;
  const wchar_t* infPath = nullptr;  // passed on unchanged
  DWORD flags = 0;                   // OR of every flag argument
};

// Exit codes: the command line was rejected, or it was accepted and the
// operation was run (whatever its outcome).
constexpr int kExitRejected = 0;
constexpr int kExitRun = 1;

// The platform's ERROR_NO_SUCH_DEVINST, which the helper treats as success.
constexpr DWORD kNoSuchDevinst = 0xE000020B;

// Name of the driver-package DLL (system folder, else the helper's folder).
inline constexpr wchar_t kDifxApiDll[] = L"difxapi.dll";

// Null when the arguments (argv[0] the program) are accepted, else the
// usage error text.
const char* ParseCommandLine(int argc, wchar_t** argv, CommandLine& out);

// The usage box, with an "ERROR: " line first when a message is given.
void ShowUsage(Ui& ui, const char* message);
// One box: texts::kFatalError followed by the text.
void ShowFatalError(Ui& ui, const std::wstring& text);
// DIFxAPI's log callback: shows every entry with a non-zero error code and
// remembers that an error was shown. Reaches the Ui given to Run(). __cdecl,
// as the platform calls it.
void __cdecl DifxLogCallback(DifxLogEvent event, DWORD error, const wchar_t* description, void* context);

// Parses, runs the operation through the DLL named difxDll, reports, and
// returns the exit code.
int Run(int argc, wchar_t** argv, Ui& ui, const wchar_t* difxDll = kDifxApiDll);

}  // namespace drvsetup
