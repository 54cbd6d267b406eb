#include "regsvr32.h"

#include "win32/unique_handle.h"

namespace testsupport {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring program(path, length);
  return program.substr(0, program.find_last_of(L"\\/") + 1);
}

DWORD RunRegsvr32(const wchar_t* options, const std::wstring& module) {
  std::wstring command = L"regsvr32.exe " + std::wstring(options ? options : L"") + L" \"" +
                         module + L"\"";
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
    return static_cast<DWORD>(-1);
  win32::UniqueHandle processHandle(process.hProcess), thread(process.hThread);
  if (::WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0)
    return static_cast<DWORD>(-1);
  DWORD code = static_cast<DWORD>(-1);
  ::GetExitCodeProcess(process.hProcess, &code);
  return code;
}

}  // namespace testsupport
