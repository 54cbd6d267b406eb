// drvsetup.exe: pre-installs, installs or uninstalls a driver package.
// A GUI program without a window of its own: everything it says is a message
// box, and its exit code tells whether the command line was accepted.
#include <windows.h>

#include <cstdlib>

#include "setup_helper.h"
#include "win32/callback_guard.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  // The runtime's split of the command line (the usual quoting rules).
  return win32::guard(drvsetup::kExitRun, [] {
    drvsetup::MessageBoxUi ui;
    return drvsetup::Run(__argc, __wargv, ui);
  });
}
