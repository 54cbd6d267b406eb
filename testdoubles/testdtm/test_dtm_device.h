// The test DTM's device side: the device parameters' rows and the device
// double behind IevFdtDeviceAccess, which completes each request through the
// parameter handler after the script's delay, with the script's failures.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <map>

#include "fdtidl/ToolkitHooks.h"
#include "test_device_script.h"

class CevFDT_ParameterHandlerCore;

// Declares the device parameters of test_device_script.h.
void DeclareDeviceRows(IevFdtParameterStore* store);

// Logs a progress step notice (TestProgressSteps).
void LogProgressStep(USHORT percent);

// Whether the script makes the parameter table uncountable.
bool ParameterCountFails();

// The device's memory: parameter id to value.
std::map<ULONG, LONG> TestDeviceMemory();

// One device request: waits the script's delay (serving the apartment),
// cancels or changes the DTM state when the script says so (dtm: the DTM
// object), leaves a scripted unanswered read without completion, then
// completes it through the handler: a scripted failure or an id without a
// device value fails, else a write stores the value and both answer the
// device's value.
HRESULT RunDeviceRequest(IUnknown* dtm, CevFDT_ParameterHandlerCore& handler,
                         std::map<ULONG, LONG>& memory, const VARIANT& parameterId,
                         const VARIANT* written);
