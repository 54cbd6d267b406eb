// Every text the setup helper shows, in the order it is put together.
// Installers and their documentation quote these, spelling included
// ("enought", "Descripton"), so they stay exactly as they are.
#pragma once

namespace drvsetup::texts {

// Title of every message box.
inline constexpr wchar_t kTitle[] = L"VELTRA Dalvorin Setup Helper";

// ShowFatalError: this line, then the text of the failure.
inline constexpr wchar_t kFatalError[] = L"Fatal Error in driver installation:\n\n";

// Usage errors (ShowUsage takes them as narrow text).
inline constexpr char kNotEnoughArguments[] = "not enought arguments";
inline constexpr char kInvalidOption[] = "invalid option";
inline constexpr char kInvalidFlag[] = "invalid flag";

// ShowUsage: "ERROR: " + message + "\n\n" when a message is given, then the
// usage lines with the program's file name after kUsage.
inline constexpr wchar_t kErrorLine[] = L"ERROR: ";
inline constexpr wchar_t kErrorLineEnd[] = L"\n\n";
inline constexpr wchar_t kUsage[] = L"USAGE: ";
inline constexpr const wchar_t* kUsageLines[] = {
    L" /p /i /u <inf-filename> [Flag(s)]\n",
    L"\nOptions:\n",
    L"/p : preinstall driver package.\n",
    L"/i : install driver package.\n",
    L"/u : uninstall driver package.\n",
    L"\n<inf-filename>:\n",
    L"complete path or has to be in the current directory.\n",
    L"\nFlags:\n",
    L"optional, more than one will be ORed\n",
    L" 1 DRIVER_PACKAGE_REPAIR\n",
    L" 2 DRIVER_PACKAGE_SILENT\n",
    L" 4 DRIVER_PACKAGE_FORCE\n",
    L" 8 DRIVER_PACKAGE_ONLY_IF_DEVICE_PRESENT\n",
    L"16 DRIVER_PACKAGE_LEGACY\n",
    L"32 DRIVER_PACKAGE_DELETE_FILES\n",
};
// Shown through ShowFatalError in place of the usage box.
inline constexpr wchar_t kModuleNameFailed[] = L"GetModuleFileName() failed";

// DifxLogCallback: "Event: " + signed event + "\n" + "Error: " + unsigned
// error + "\n", and "Descripton: " + description + "\n" when one is given.
inline constexpr wchar_t kEvent[] = L"Event: ";
inline constexpr wchar_t kError[] = L"Error: ";
inline constexpr wchar_t kDescription[] = L"Descripton: ";

// A failing result that no log entry has shown: this + unsigned decimal.
inline constexpr wchar_t kReturnCode[] = L"Return Code: ";

// The driver-package interface cannot be bound (shown through
// ShowFatalError): kNoDifxApi + the DLL name + kNoDifxApiEnd + the
// system's error code; or kNoEntryPoint + the function name + kInDll + the
// DLL name.
inline constexpr wchar_t kNoDifxApi[] = L"Cannot load ";
inline constexpr wchar_t kNoDifxApiEnd[] = L" from the system folder or the program's folder, error ";
inline constexpr wchar_t kNoEntryPoint[] = L"Cannot find ";
inline constexpr wchar_t kInDll[] = L" in ";

}  // namespace drvsetup::texts
