#include "trace.h"

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "win32/unique_handle.h"

namespace pnpsvc {
namespace {

constexpr size_t kMessageSize = 1024;
constexpr size_t kMaxPath = 260;
constexpr const char kLogFolder[] = "\\ubra system";

std::atomic<int> g_threshold{0};
std::atomic<unsigned long> g_lastError{0};
std::atomic<TraceObserver> g_traceObserver{nullptr};
std::atomic<EventLogObserver> g_eventLogObserver{nullptr};

// Appends as much of `part` as keeps the path within kMaxPath characters.
void AppendBounded(std::string& path, const char* part) {
  size_t room = path.size() < kMaxPath ? kMaxPath - path.size() : 0;
  path.append(part, std::min(room, std::strlen(part)));
}

}  // namespace

int TraceThreshold() { return g_threshold.load(); }
void SetTraceThreshold(int threshold) { g_threshold.store(threshold); }

void ReadTraceThresholdFromRegistry() {
  std::string path = std::string("SYSTEM\\CurrentControlSet\\Services\\") + kServiceName;
  DWORD value = 0, size = sizeof(value), type = 0;
  win32::UniqueRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return;
  if (RegQueryValueExA(key.get(), "TraceLevel", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
          ERROR_SUCCESS &&
      type == REG_DWORD)
    SetTraceThreshold(static_cast<int>(value));
}

void SetTraceObserver(TraceObserver observer) { g_traceObserver.store(observer); }
void SetEventLogObserver(EventLogObserver observer) { g_eventLogObserver.store(observer); }

void Trace(const TraceRecord& record, const char* format, ...) {
  if (record.level > g_threshold.load()) return;
  DWORD savedError = GetLastError();  // tracing must not disturb the caller's error code

  char message[kMessageSize];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof(message), format, args);
  va_end(args);

  char line[kMessageSize];
  if (record.function)
    snprintf(line, sizeof(line), "%s-%s(%d)): %s\r\n", kProductName, record.function, record.line, message);
  else
    snprintf(line, sizeof(line), "%s: %s\r\n", kProductName, message);

  OutputDebugStringA(line);
  AppendLogFile(line);
  if (TraceObserver observer = g_traceObserver.load()) observer(line);
  SetLastError(savedError);
}

std::string LogFilePath() {
  char folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) return {};
  std::string path = folder;
  if (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  AppendBounded(path, kLogFolder);
  CreateDirectoryA(path.c_str(), nullptr);  // an existing folder is fine
  AppendBounded(path, "\\");
  AppendBounded(path, kProductName);
  AppendBounded(path, ".log");
  return path;
}

void AppendLogFile(const std::string& line) {
  if (line.empty()) return;
  std::string path = LogFilePath();
  if (path.empty()) return;
  win32::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  SetFilePointer(file.get(), 0, nullptr, FILE_END);

  SYSTEMTIME now;
  GetSystemTime(&now);
  char text[kMessageSize];
  int length = snprintf(text, sizeof(text), "[%04d-%02d-%02d|%02d:%02d:%02d.%03d] %s", now.wYear, now.wMonth,
                        now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, line.c_str());
  if (length < 0) return;
  DWORD toWrite = static_cast<DWORD>(std::min<size_t>(static_cast<size_t>(length), sizeof(text) - 1));
  DWORD written = 0;
  WriteFile(file.get(), text, toWrite, &written, nullptr);
}

void ReportServiceError(const char* message) {
  DWORD error = GetLastError();
  g_lastError.store(error);

  char first[256];
  snprintf(first, sizeof(first), "%s error: %lu", kServiceName, static_cast<unsigned long>(error));
  if (EventLogObserver observer = g_eventLogObserver.load()) observer(first, message);

  HANDLE source = RegisterEventSourceA(nullptr, kServiceName);
  if (!source) return;
  const char* strings[2] = {first, message};
  ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
  DeregisterEventSource(source);
}

unsigned long LastReportedError() { return g_lastError.load(); }

TraceScope::TraceScope(const char* function, int line) : function_(function), line_(line) {
  Trace(TraceRecord{kTraceFunction, function_, line_}, ">> %s", function_);
}

TraceScope::~TraceScope() { Trace(TraceRecord{kTraceFunction, function_, line_}, "<< %s", function_); }

}  // namespace pnpsvc
