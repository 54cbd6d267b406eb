// The service itself: installation and removal from the console, the
// service main with its order of start and stop, the control handler and
// status reporting.
#pragma once

#include <windows.h>

#include <string>

namespace pnpsvc {

// The system's message for the last error without its final line break,
// followed by " (0x%x)"; empty when it does not fit 256 bytes with 14 to spare.
std::string GetLastErrorText();

// Console operations; they print their outcome.
void InstallService();
void RemoveService();

// What the command line asks for.
enum class CommandLineAction { kInstall, kRemove, kRunService };
CommandLineAction ParseCommandLine(int argc, char** argv);

void WINAPI ServiceMain(DWORD argc, char** argv);
DWORD WINAPI service_ctrl_ex(DWORD control, DWORD eventType, void* eventData, void* context);
bool ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint);
void ServiceStart();
void ServiceStop();

// The process's entry: install, remove, or run under the service dispatcher.
int ServiceProgramMain(int argc, char** argv);

}  // namespace pnpsvc
