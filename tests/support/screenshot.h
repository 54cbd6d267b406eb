// PNG screenshots of windows for tests on the virtual display.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

// Writes a PNG of the window as it is on the screen into the folder
// "screenshots" beside the test program; answers the file's path, or an
// empty text when it could not be written. The window may belong to another
// process.
std::string SaveScreenshot(HWND window, const std::string& name);

}  // namespace testsupport
