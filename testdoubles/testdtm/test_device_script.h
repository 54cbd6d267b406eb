// How a test scripts the test DTM's device side (test_dtm_device.cpp). The
// script is process-wide: tests set it through the exported function below
// (found with GetProcAddress on the loaded testdtm.dll) before they start a
// transfer, and every test DTM object of the process follows it.
#pragma once

#include <windows.h>

// Device parameters (kind 1, read and written online, compared; items of
// both data-access lists).
namespace test_device_parameter {
constexpr ULONG kFirst = 500;  // 500..504, VT_I4 -1000..1000
constexpr ULONG kCount = 5;
// The device's initial values: 10 * (id - 499), so 10, 20, 30, 40, 50; the
// data set starts with 0.
inline LONG InitialDeviceValue(ULONG id) { return 10 * static_cast<LONG>(id - 499); }
}  // namespace test_device_parameter

struct TestDeviceScript {
  // Every device read or write completes through the parameter handler
  // after this delay; the DTM's apartment is served meanwhile.
  DWORD delayMs = 0;
  // Reads and writes of these ids complete with failure and kDeviceErrorText.
  ULONG failingIds[8] = {};
  ULONG failingCount = 0;
  // A request of this id first asks the DTM to cancel the transfer with the
  // invoke id (IDtmOnlineParameter::StartOnlineAction); 0: never.
  ULONG cancelAtId = 0;
  wchar_t cancelInvokeId[64] = {};
  // Reads of these ids are taken (answered done) but never completed.
  ULONG unansweredReadIds[8] = {};
  ULONG unansweredReadCount = 0;
  // A request of this id first sets the DTM state to stateChange (as a
  // channel does when it loses the device); 0: never.
  ULONG stateChangeAtId = 0;
  LONG stateChange = 0;
  // The DTM's parameter table cannot be counted (GetParameterCount fails),
  // so that nothing built from the whole table can be built.
  bool parameterCountFails = false;
};

// Outside every ANSI code page on purpose: texts reach the frame whole.
inline constexpr wchar_t kDeviceErrorText[] = L"device did not answer (\u03a9 \u6d4b)";

// void SetTestDeviceScript(const TestDeviceScript*): replaces the script and
// empties the write log. null: the default script.
using SetTestDeviceScriptFunction = void (*)(const TestDeviceScript*);
inline constexpr char kSetTestDeviceScriptName[] = "SetTestDeviceScript";
// ULONG TestProgressSteps(USHORT* percents, ULONG capacity): the percentages
// of the progress step notices the test DTM gave since the script was set,
// in order (at most capacity), whether or not the notice reached the frame;
// answers how many there were.
using TestProgressStepsFunction = ULONG (*)(USHORT* percents, ULONG capacity);
inline constexpr char kTestProgressStepsName[] = "TestProgressSteps";
// ULONG TestDeviceWrites(ULONG* ids, ULONG capacity): the ids written to the
// device since the script was set, in order (at most capacity); answers
// how many there were.
using TestDeviceWritesFunction = ULONG (*)(ULONG* ids, ULONG capacity);
inline constexpr char kTestDeviceWritesName[] = "TestDeviceWrites";
