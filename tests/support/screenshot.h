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

}  // namespace testsupport
