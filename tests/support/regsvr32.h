// Registering a COM server the way an installer does: regsvr32 in the
// test's prefix.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

// The folder of the running program, with a trailing backslash.
std::wstring ProgramFolder();

// Runs "regsvr32.exe <options> \"<module>\"" (options such as L"/s" or
// L"/s /u") and answers its exit code, or -1 when it could not be started.
// It waits without a limit of its own: under load regsvr32 may take long,
// and the test's own time-out catches one that never ends.
DWORD RunRegsvr32(const wchar_t* options, const std::wstring& module);

}  // namespace testsupport
