// A window as it is painted, saved as a PNG file: what a reader looks at to
// check a dialog or control.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

// Redraws the window and its children, copies the window (frame included)
// from its own surface and writes it to path as PNG. False when any step
// fails.
bool SaveWindowPng(HWND window, const std::wstring& path);

// Writes a PNG of the window into the folder "screenshots" beside the test
// program; answers the file's path, or an empty text when it could not be
// written. The window may belong to another process.
std::string SaveScreenshot(HWND window, const std::string& name);

}  // namespace testsupport
