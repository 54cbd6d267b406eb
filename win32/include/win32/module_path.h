// Where a module's file lies, for loading its companions by full path.
#pragma once

#include <windows.h>

#include <string>

namespace win32 {

// The full path of the module's file (the program's for null), however
// long; empty when it cannot be read.
inline std::wstring ModulePath(HMODULE module) {
  constexpr size_t kLongestPath = 32768;  // the longest path Windows gives out
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= kLongestPath) return std::wstring();
    path.resize(path.size() * 2);
  }
}

// The folder of the module's file with its trailing backslash; empty when
// its path cannot be read.
inline std::wstring ModuleFolder(HMODULE module) {
  const std::wstring path = ModulePath(module);
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace win32
