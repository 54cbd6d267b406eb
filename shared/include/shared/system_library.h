// Platform libraries loaded at run time (winusb, msports, newdev) come from
// the system folder only: a DLL of the same name in the program's folder or
// the current folder must never be picked up in their place. (The setup
// helper, whose driver-package library may also lie beside it, tries the
// system folder first and then its own folder by full path.)
#pragma once

#include <windows.h>

namespace shared {

// LoadLibraryExW with LOAD_LIBRARY_SEARCH_SYSTEM32: the named DLL
// ("winusb.dll") and its own dependencies from the system folder; by its
// full path in the system folder where the loader knows no search flags
// (win32::LoadLibrarySearching). Null with the loader's last error on
// failure.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

}  // namespace shared
