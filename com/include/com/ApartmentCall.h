// A call into an apartment for another thread of the process.
//
// A worker thread that must have something done in its owner's apartment
// (use an interface that only that apartment holds) gets a small dispatch
// object made there. The worker holds it marshalled (a proxy) and invokes
// it; the function it was made with then runs in the object's apartment
// while the worker waits, as any call into that apartment does. The owner
// clears the object before what the function uses goes away; a cleared
// object does nothing when invoked.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>

#include "com/ComPtr.h"

namespace com {

// A new call object that runs `work` in the calling apartment.
HRESULT createApartmentCall(std::function<void()> work, ComPtr<IDispatch>& call);

// Forgets the function: later invocations do nothing. Only for an object
// made by createApartmentCall, in its own apartment; null is ignored.
void clearApartmentCall(IDispatch* call);

// Runs the function in the object's apartment (call: the object or a proxy
// of it); the failure of the call itself, S_OK once the function ran or
// when the object was cleared.
HRESULT invokeApartmentCall(IDispatch* call);

}  // namespace com
