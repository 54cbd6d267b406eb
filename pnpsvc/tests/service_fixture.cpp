#include "service_fixture.h"

#include <vector>

#include "sim/sim_control.h"
#include "trace.h"

namespace pnpsvc_test {

adapter_presence::PresentAdapter TwoAdaptersPresentTest::first_, TwoAdaptersPresentTest::second_;

void TwoAdaptersPresentTest::SetUpTestSuite() {
  ASSERT_TRUE(adapter_presence::RegisterPresentAdapter("SIM1234", &first_));
  ASSERT_TRUE(adapter_presence::RegisterPresentAdapter("SIM5678", &second_));
  ASSERT_TRUE(SimCreateAdapter(first_.deviceFile.c_str(), 0x1234));
  ASSERT_TRUE(SimCreateAdapter(second_.deviceFile.c_str(), 0x5678));
}

int RunProgram(const std::string& commandLine, std::string* output) {
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, &sa, 0);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    return -1;
  }
  CloseHandle(writeEnd);
  std::string text;
  char buffer[512];
  DWORD got = 0;
  while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got) text.append(buffer, got);
  CloseHandle(readEnd);
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  // The console runtime writes "\n" as "\r\n"; compare texts with plain "\n".
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  if (output) *output = text;
  return static_cast<int>(code);
}

std::string BesideTest(const char* name) {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder = path;
  return folder.substr(0, folder.rfind('\\') + 1) + name;
}

namespace {

template <typename Fn>
bool WithService(DWORD access, Fn fn) {
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!scm) return false;
  SC_HANDLE service = OpenServiceA(scm, pnpsvc::kServiceName, access);
  bool ok = service && fn(service);
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(scm);
  return ok;
}

bool WaitFor(DWORD state, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    if (ServiceState() == state) return true;
    Sleep(50);
  }
  return false;
}

}  // namespace

DWORD ServiceState() {
  DWORD state = 0;
  WithService(SERVICE_QUERY_STATUS, [&](SC_HANDLE s) {
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(s, &status)) state = status.dwCurrentState;
    return true;
  });
  return state;
}

bool StartAndWaitRunning() {
  WithService(SERVICE_START, [](SC_HANDLE s) { return StartServiceA(s, 0, nullptr) != FALSE; });
  return WaitFor(SERVICE_RUNNING, 20000);
}

bool StopAndWaitStopped() {
  WithService(SERVICE_STOP, [](SC_HANDLE s) {
    SERVICE_STATUS status = {};
    return ControlService(s, SERVICE_CONTROL_STOP, &status) != FALSE;
  });
  return WaitFor(SERVICE_STOPPED, 20000);
}

void PrepareServiceEnvironment(DWORD traceLevel) {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\pnpsvc.exe\\DllOverrides", 0, nullptr, 0,
                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueExA(key, "winusb", 0, REG_SZ, reinterpret_cast<const BYTE*>("native"), 7);
  RegSetValueExA(key, "msports", 0, REG_SZ, reinterpret_cast<const BYTE*>("native"), 7);
  RegCloseKey(key);
  std::string serviceKey = std::string("SYSTEM\\CurrentControlSet\\Services\\") + pnpsvc::kServiceName;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, serviceKey.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegSetValueExA(key, "TraceLevel", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&traceLevel), sizeof(traceLevel));
    RegCloseKey(key);
  }
}

}  // namespace pnpsvc_test
