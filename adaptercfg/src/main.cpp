// adaptercfg: binds adapters to device numbers and virtual COM ports.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "config_dlg.h"
#include "win32/callback_guard.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  // The setup of the driver package runs "adaptercfg remove" when it
  // uninstalls; there is nothing to undo, so the program only ends.
  if (commandLine && std::strcmp(commandLine, "remove") == 0) return 0;

  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  return win32::guard(1, [] {
    adaptercfg::ConfigDlg dialog;
    dialog.RunModal(nullptr);
    return 0;
  });
}
