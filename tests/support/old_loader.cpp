#include "old_loader.h"

#include "win32/unique_handle.h"

namespace testsupport {

namespace {

win32::CriticalSection g_lock;
std::vector<OldLoader::Call> g_calls;

HMODULE WINAPI LoadWithoutSearchFlags(LPCWSTR fileName, HANDLE reserved, DWORD flags) {
  {
    win32::CsLock hold(g_lock);
    g_calls.push_back({fileName ? fileName : L"", flags});
  }
  if (flags & kLoaderSearchFlags) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return ::LoadLibraryExW(fileName, reserved, flags);
}

}  // namespace

OldLoader::OldLoader() : previous_(win32::LibraryLoader().exchange(&LoadWithoutSearchFlags)) {
  win32::CsLock hold(g_lock);
  g_calls.clear();
}

OldLoader::~OldLoader() { win32::LibraryLoader().store(previous_); }

std::vector<OldLoader::Call> OldLoader::Calls() const {
  win32::CsLock hold(g_lock);
  return g_calls;
}

}  // namespace testsupport
