#include "test_dtm_device.h"

#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "fdt.h"
#include "toolkit/params/param_handler.h"
#include "toolkit/params/param_rows.h"
#include "toolkit/values/message_wait.h"
#include "win32/unique_handle.h"

namespace {

// The script and the write log; requests run on DTM apartments, the script is
// set from the test's thread.
win32::CriticalSection g_lock;
TestDeviceScript g_script;
std::vector<ULONG> g_writes;
std::vector<USHORT> g_progressSteps;

TestDeviceScript CurrentScript() {
  win32::CsLock hold(g_lock);
  return g_script;
}

bool Listed(const ULONG (&ids)[8], ULONG count, ULONG id) {
  for (ULONG i = 0; i < count && i < 8; ++i)
    if (ids[i] == id) return true;
  return false;
}

}  // namespace

bool ParameterCountFails() { return CurrentScript().parameterCountFails; }

extern "C" __declspec(dllexport) void SetTestDeviceScript(const TestDeviceScript* script) {
  win32::CsLock hold(g_lock);
  g_script = script ? *script : TestDeviceScript();
  g_writes.clear();
  g_progressSteps.clear();
}

extern "C" __declspec(dllexport) ULONG TestProgressSteps(USHORT* percents, ULONG capacity) {
  win32::CsLock hold(g_lock);
  for (ULONG i = 0; percents && i < capacity && i < g_progressSteps.size(); ++i)
    percents[i] = g_progressSteps[i];
  return static_cast<ULONG>(g_progressSteps.size());
}

void LogProgressStep(USHORT percent) {
  win32::CsLock hold(g_lock);
  g_progressSteps.push_back(percent);
}

extern "C" __declspec(dllexport) ULONG TestDeviceWrites(ULONG* ids, ULONG capacity) {
  win32::CsLock hold(g_lock);
  for (ULONG i = 0; ids && i < capacity && i < g_writes.size(); ++i) ids[i] = g_writes[i];
  return static_cast<ULONG>(g_writes.size());
}

void DeclareDeviceRows(IevFdtParameterStore* store) {
  static const wchar_t* const kNames[] = {L"Device A", L"Device B", L"Device C", L"Device D",
                                          L"Device E"};
  for (ULONG i = 0; i < test_device_parameter::kCount; ++i) {
    ParamRow::Numeric(test_device_parameter::kFirst + i, kNames[i], VT_I4, -1000, 1000, 0, 0)
        .Kind(kParKindDevice)
        .Number(0x3000)  // an item of both data-access lists
        .AddTo(store);
  }
}

std::map<ULONG, LONG> TestDeviceMemory() {
  std::map<ULONG, LONG> memory{{200, 42}};
  for (ULONG i = 0; i < test_device_parameter::kCount; ++i) {
    const ULONG id = test_device_parameter::kFirst + i;
    memory[id] = test_device_parameter::InitialDeviceValue(id);
  }
  return memory;
}

HRESULT RunDeviceRequest(IUnknown* dtm, CevFDT_ParameterHandlerCore& handler,
                         std::map<ULONG, LONG>& memory, const VARIANT& parameterId,
                         const VARIANT* written) {
  com::Variant id(parameterId);
  HRESULT hr = id.changeType(VT_UI4);
  if (FAILED(hr)) return hr;
  const ULONG number = V_UI4(id.get());
  const TestDeviceScript script = CurrentScript();

  if (script.delayMs) {
    // Nothing signals it: a wait of the delay that keeps the apartment served.
    win32::UniqueHandle never(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (never) WaitOneWithMessageLoop(never.get(), script.delayMs);
  }
  if (script.cancelAtId == number) {
    com::ComPtr<IDtmOnlineParameter> online;
    if (dtm && SUCCEEDED(dtm->QueryInterface(__uuidof(IDtmOnlineParameter), online.putVoid()))) {
      com::Bstr invokeId(script.cancelInvokeId);
      VARIANT_BOOL done = VARIANT_FALSE;
      online->StartOnlineAction(invokeId.get(), &done);
    }
  }

  if (script.stateChangeAtId == number) {
    com::ComPtr<IevFdtBaseDTM> base;
    if (dtm && SUCCEEDED(dtm->QueryInterface(__uuidof(IevFdtBaseDTM), base.putVoid())))
      base->SetState(script.stateChange);
  }
  if (!written && Listed(script.unansweredReadIds, script.unansweredReadCount, number))
    return S_OK;

  auto cell = memory.find(number);
  if (cell == memory.end() || Listed(script.failingIds, script.failingCount, number)) {
    return handler.SetParameterValue(VARIANT_FALSE, id.value(), com::Variant().value(),
                                     com::Bstr(kDeviceErrorText).get());
  }
  if (written) {
    com::Variant value(*written);
    hr = value.changeType(VT_I4);
    if (FAILED(hr)) return hr;
    cell->second = V_I4(value.get());
    win32::CsLock hold(g_lock);
    g_writes.push_back(number);
  }
  return handler.SetParameterValue(VARIANT_TRUE, id.value(), com::Variant(cell->second).value(),
                                   nullptr);
}
