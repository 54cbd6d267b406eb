// Runs drvsetup.exe as its own process and plays the user: every message box
// it shows is read (title, text, buttons, owner) and closed with OK, one at
// a time, until the process ends.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace drvsetup_test {

struct Box {
  std::wstring title;
  std::wstring text;
  std::vector<int> buttons;  // control ids of the visible buttons
  bool owned = false;        // has an owner window
};

struct HelperRun {
  DWORD exitCode = 0;
  std::vector<Box> boxes;
  bool finished = false;  // false: it hung and was ended by the runner
};

// Runs `exe args` with the environment of the calling process and waits for
// it, closing each box it shows. `currentFolder`: the process's current
// folder (empty: the caller's). `screenshot`: when given, a PNG of the first
// box under this name (screenshots/ beside the test program).
HelperRun RunHelper(const std::wstring& exe, const std::wstring& args, const std::wstring& currentFolder = {},
                    const std::string& screenshot = {});

}  // namespace drvsetup_test
