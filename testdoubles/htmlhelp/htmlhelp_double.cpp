// htmlhelp_double.dll: stands in for the HTML Help library. A test makes
// the registry name it for the HTML Help class
// (HKCR\CLSID\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\InprocServer32); every
// HtmlHelpA call is recorded as "<command> <file>" and opens nothing.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex lock;
std::string calls;

}  // namespace

extern "C" __declspec(dllexport) HWND WINAPI HtmlHelpA(HWND, LPCSTR file, UINT command, DWORD_PTR) {
  std::lock_guard<std::mutex> hold(lock);
  calls += std::to_string(command) + " " + (file ? file : "<null>") + "\n";
  return nullptr;
}

// The calls so far, one per line, copied into buffer (cut to size); the
// length of the whole text.
extern "C" __declspec(dllexport) int WINAPI RecordedHelpCalls(char* buffer, int size) {
  std::lock_guard<std::mutex> hold(lock);
  if (buffer && size > 0) {
    std::strncpy(buffer, calls.c_str(), static_cast<size_t>(size) - 1);
    buffer[size - 1] = '\0';
  }
  return static_cast<int>(calls.size());
}

extern "C" __declspec(dllexport) void WINAPI ClearRecordedHelpCalls() {
  std::lock_guard<std::mutex> hold(lock);
  calls.clear();
}
