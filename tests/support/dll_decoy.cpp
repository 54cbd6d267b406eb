#include "dll_decoy.h"

#include <windows.h>

#include <vector>

namespace testsupport {

namespace {
constexpr DWORD kLongest = 32768;
}

DllDecoy::DllDecoy(const std::wstring& source, const wchar_t* fileName, Place place) : place_(place) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  folder_ = std::wstring(temp) + L"decoy-" + std::to_wstring(::GetCurrentProcessId()) +
            (place == Place::kPath ? L"-path" : L"-current");
  ::CreateDirectoryW(folder_.c_str(), nullptr);
  file_ = folder_ + L"\\" + fileName;
  if (!::CopyFileW(source.c_str(), file_.c_str(), FALSE)) return;
  std::vector<wchar_t> saved(kLongest, L'\0');
  if (place_ == Place::kPath) {
    hadPath_ = ::GetEnvironmentVariableW(L"PATH", saved.data(), kLongest) != 0;
    saved_ = saved.data();
    planted_ = ::SetEnvironmentVariableW(L"PATH", (folder_ + L";" + saved_).c_str()) != FALSE;
  } else {
    ::GetCurrentDirectoryW(kLongest, saved.data());
    saved_ = saved.data();
    planted_ = ::SetCurrentDirectoryW(folder_.c_str()) != FALSE;
  }
}

DllDecoy::~DllDecoy() {
  if (planted_) {
    if (place_ == Place::kPath)
      ::SetEnvironmentVariableW(L"PATH", hadPath_ ? saved_.c_str() : nullptr);
    else
      ::SetCurrentDirectoryW(saved_.c_str());
  }
  ::DeleteFileW(file_.c_str());
  ::RemoveDirectoryW(folder_.c_str());
}

}  // namespace testsupport
