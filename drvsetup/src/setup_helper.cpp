#include "setup_helper.h"

#include <atomic>
#include <cwchar>
#include <cwctype>

#include "texts.h"
#include "win32/callback_guard.h"

namespace drvsetup {

namespace {

// The log callback gets no context, so what it needs is process-wide: where
// to show, and whether it has shown an error during the current operation.
Ui* g_ui = nullptr;
std::atomic<bool> g_errorShown{false};

constexpr DWORD kModulePathChars = 261;  // MAX_PATH and its terminating zero
constexpr unsigned long kFlagLimit = 64;  // flag arguments are 1 to 63

std::wstring Widen(const char* ascii) {
  std::wstring text;
  for (; *ascii; ++ascii) text += static_cast<wchar_t>(static_cast<unsigned char>(*ascii));
  return text;
}

// Sets the callback for the time of one operation and clears it again on
// every way out.
class LogCallbackScope {
 public:
  explicit LogCallbackScope(const DifxApi& api) : api_(api) { api_.setLogCallback(DifxLogCallback, nullptr); }
  ~LogCallbackScope() { api_.setLogCallback(nullptr, nullptr); }
  LogCallbackScope(const LogCallbackScope&) = delete;
  LogCallbackScope& operator=(const LogCallbackScope&) = delete;

 private:
  const DifxApi& api_;
};

// Points the log callback at a Ui for the time of Run().
class UiScope {
 public:
  explicit UiScope(Ui& ui) {
    g_ui = &ui;
    g_errorShown = false;
  }
  ~UiScope() { g_ui = nullptr; }
  UiScope(const UiScope&) = delete;
  UiScope& operator=(const UiScope&) = delete;
};

}  // namespace

void MessageBoxUi::Show(const std::wstring& text) { MessageBoxW(nullptr, text.c_str(), texts::kTitle, MB_OK); }

DWORD MessageBoxUi::ModuleFileName(wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); }

const char* ParseCommandLine(int argc, wchar_t** argv, CommandLine& out) {
  if (argc < 3) return texts::kNotEnoughArguments;

  // Only the first two characters count: /install and -Uninstall are fine.
  const wchar_t* option = argv[1];
  if (option[0] != L'/' && option[0] != L'-') return texts::kInvalidOption;
  switch (towlower(option[1])) {
    case L'p': out.operation = Operation::kPreinstall; break;
    case L'i': out.operation = Operation::kInstall; break;
    case L'u': out.operation = Operation::kUninstall; break;
    default: return texts::kInvalidOption;
  }
  out.infPath = argv[2];

  // Read like wcstol base 10 (so "12abc" is 12, "0x10" is 0); every value
  // outside 1 to 63 as unsigned, negative ones included, is refused.
  out.flags = 0;
  for (int i = 3; i < argc; ++i) {
    unsigned long value = static_cast<unsigned long>(wcstol(argv[i], nullptr, 10));
    if (value == 0 || value >= kFlagLimit) return texts::kInvalidFlag;
    out.flags |= value;
  }
  return nullptr;
}

void ShowFatalError(Ui& ui, const std::wstring& text) { ui.Show(texts::kFatalError + text); }

void ShowUsage(Ui& ui, const char* message) {
  std::wstring text;
  if (message) text = texts::kErrorLine + Widen(message) + texts::kErrorLineEnd;

  wchar_t path[kModulePathChars] = {};
  DWORD length = ui.ModuleFileName(path, kModulePathChars);
  const wchar_t* name = nullptr;
  if (length != 0 && length < kModulePathChars) {
    path[length] = L'\0';
    name = wcsrchr(path, L'\\');
  }
  if (!name) {
    ShowFatalError(ui, texts::kModuleNameFailed);
    return;
  }

  text += texts::kUsage;
  text += name + 1;
  for (const wchar_t* line : texts::kUsageLines) text += line;
  ui.Show(text);
}

void __cdecl DifxLogCallback(DifxLogEvent event, DWORD error, const wchar_t* description, void* /*context*/) {
  if (error == 0) return;
  // An entry that cannot be shown counts as not shown.
  win32::guard([&] {
    std::wstring text = texts::kEvent + std::to_wstring(event) + L"\n" + texts::kError + std::to_wstring(error) + L"\n";
    if (description) text += texts::kDescription + std::wstring(description) + L"\n";
    // Entries outside Run() have nowhere to go (the callback is only set
    // inside it).
    if (g_ui) ShowFatalError(*g_ui, text);
    g_errorShown = true;
  });
}

int Run(int argc, wchar_t** argv, Ui& ui, const wchar_t* difxDll) {
  UiScope uiScope(ui);

  CommandLine command;
  if (const char* message = ParseCommandLine(argc, argv, command)) {
    ShowUsage(ui, message);
    return kExitRejected;
  }

  // Bound only now, so that a rejected command line never touches it. The
  // command line was accepted, so a missing interface still ends with kExitRun.
  DifxApi api;
  std::wstring loadError;
  if (!api.Load(difxDll, loadError)) {
    ShowFatalError(ui, loadError);
    return kExitRun;
  }

  DWORD result = 0;
  {
    LogCallbackScope logScope(api);
    BOOL needReboot = FALSE;  // the helper never asks for a restart
    switch (command.operation) {
      case Operation::kPreinstall: result = api.preinstall(command.infPath, command.flags); break;
      case Operation::kInstall: result = api.install(command.infPath, command.flags, nullptr, &needReboot); break;
      case Operation::kUninstall: result = api.uninstall(command.infPath, command.flags, nullptr, &needReboot); break;
    }
    // A log entry already showed what went wrong; don't show it twice.
    if (result != 0 && result != kNoSuchDevinst && !g_errorShown) {
      ShowFatalError(ui, texts::kReturnCode + std::to_wstring(result));
    }
  }
  return kExitRun;
}

}  // namespace drvsetup
