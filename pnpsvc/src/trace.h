// Trace, log file and event-log reports of the service.
//
// Trace lines go to the debugger output and are appended to a log file under
// the application-data folder of the service's account. Messages carry a
// level (1 error, 3 function entry and exit, 4 information) and are written
// only when the level is at or below the threshold, which is 0 unless raised.
#pragma once

#include <string>

#include "shared/service_pipe.h"

namespace pnpsvc {

constexpr int kTraceError = 1;
constexpr int kTraceFunction = 3;
constexpr int kTraceInfo = 4;

constexpr const char kProductName[] = "VELTRA FSK Mavix";
using shared::kServiceName;
constexpr const char* kDisplayName = shared::kServiceDisplayName;

// The threshold; 0 unless raised (see ReadTraceThresholdFromRegistry).
int TraceThreshold();
void SetTraceThreshold(int threshold);
// Raises the threshold from the REG_DWORD "TraceLevel" of the service's own
// key (HKLM\SYSTEM\CurrentControlSet\Services\<service name>), if present.
void ReadTraceThresholdFromRegistry();

struct TraceRecord {
  int level;
  const char* function;  // may be null
  int line;
};

void Trace(const TraceRecord& record, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Appends one time-stamped line to the log file; failures are skipped.
void AppendLogFile(const std::string& line);
// Full path of the log file, empty if the application-data folder is unknown.
std::string LogFilePath();

// Reports an error entry to the event log under the service name and keeps
// the current system error code as the service's exit code.
void ReportServiceError(const char* message);
unsigned long LastReportedError();

// Observers for tests: Wine stores no event-log entries, and the debugger
// output is not readable from the same process. Null restores nothing extra.
using TraceObserver = void (*)(const std::string& line);
using EventLogObserver = void (*)(const std::string& first, const std::string& second);
void SetTraceObserver(TraceObserver observer);
void SetEventLogObserver(EventLogObserver observer);

// Entry and exit messages of a function, the exit also on an exception.
class TraceScope {
 public:
  TraceScope(const char* function, int line);
  ~TraceScope();
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

 private:
  const char* function_;
  int line_;
};

}  // namespace pnpsvc

#define PNP_TRACE(level, ...) \
  ::pnpsvc::Trace(::pnpsvc::TraceRecord{(level), __func__, __LINE__}, __VA_ARGS__)
#define PNP_TRACE_SCOPE(name) ::pnpsvc::TraceScope trace_scope_(name, __LINE__)
