// Loading a DLL from chosen folders only (never the current folder or the
// PATH), also on a Windows 7 whose loader lacks the update that brought the
// LOAD_LIBRARY_SEARCH_* flags (KB2533623). That loader refuses the flags
// with ERROR_INVALID_PARAMETER; the same folders are then tried one by one
// by full path.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "win32/module_path.h"

namespace win32 {

// The loader that LoadLibrarySearching calls: LoadLibraryExW, unless a test
// put a stand-in in its place (to play the old loader). One per module.
using LoadLibraryExFunction = HMODULE(WINAPI*)(LPCWSTR fileName, HANDLE reserved, DWORD flags);
inline std::atomic<LoadLibraryExFunction>& LibraryLoader() {
  static std::atomic<LoadLibraryExFunction> loader{&::LoadLibraryExW};
  return loader;
}

// The system folder with a trailing backslash; empty when it cannot be read.
inline std::wstring SystemFolder() {
  std::wstring folder(MAX_PATH, L'\0');
  UINT length = ::GetSystemDirectoryW(&folder[0], static_cast<UINT>(folder.size()));
  if (length >= folder.size()) {
    folder.resize(length);
    length = ::GetSystemDirectoryW(&folder[0], static_cast<UINT>(folder.size()));
  }
  if (length == 0 || length >= folder.size()) return std::wstring();
  folder.resize(length);
  if (folder.back() != L'\\') folder += L'\\';
  return folder;
}

// LoadLibraryExW(fileName, nullptr, searchFlags), where fileName is a bare
// file name, or a full path (with LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR). When
// the loader refuses the flags, the DLL is loaded by full path with
// LOAD_WITH_ALTERED_SEARCH_PATH (its dependencies then come from its own
// folder first): the full path given, or else the file name in the
// application's folder (LOAD_LIBRARY_SEARCH_APPLICATION_DIR), then in the
// system folder (LOAD_LIBRARY_SEARCH_SYSTEM32), the first that loads. Other
// flags have no such fallback. Null with the loader's last error on failure.
inline HMODULE LoadLibrarySearching(const wchar_t* fileName, DWORD searchFlags) {
  const LoadLibraryExFunction load = LibraryLoader().load();
  HMODULE module = load(fileName, nullptr, searchFlags);
  if (module || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;

  if (!fileName || !*fileName) return nullptr;
  const std::wstring name = fileName;
  if (name.find_first_of(L"\\/") != std::wstring::npos) {
    // Only a full path: a relative one would be taken from the current folder.
    const bool full = (name.size() > 2 && name[1] == L':' && (name[2] == L'\\' || name[2] == L'/')) ||
                      name.compare(0, 2, L"\\\\") == 0;
    if (!full) return nullptr;
    return load(name.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  std::wstring folders[2];
  if (searchFlags & LOAD_LIBRARY_SEARCH_APPLICATION_DIR) folders[0] = ModuleFolder(nullptr);
  if (searchFlags & LOAD_LIBRARY_SEARCH_SYSTEM32) folders[1] = SystemFolder();
  // The first failure other than "not there" is the one worth telling.
  DWORD error = ERROR_MOD_NOT_FOUND;
  for (const std::wstring& folder : folders) {
    if (folder.empty()) continue;
    module = load((folder + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module) return module;
    const DWORD failed = ::GetLastError();
    if (error == ERROR_MOD_NOT_FOUND) error = failed;
  }
  ::SetLastError(error);
  return nullptr;
}

}  // namespace win32
