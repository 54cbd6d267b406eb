// A way to an object that does not keep it alive, for another thread.
//
// A worker thread that must reach an object without holding it (the object
// owns the worker, so a reference would keep both alive) gets a link
// instead: a small dispatch object, made in the object's apartment, whose
// value (DISPID_VALUE) is the object while it is attached and empty once
// the object has cleared it. The worker holds the link (marshalled, a proxy)
// and asks it for the object each time it needs it, holding what it gets
// only while it uses it. The link holds no reference on the object.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/ComPtr.h"

namespace com {

// A new link to `object` (which it does not reference).
HRESULT createObjectLink(IUnknown* object, ComPtr<IDispatch>& link);

// Detaches the object: the link answers empty from now on. Only for a link
// made by createObjectLink, in its own apartment; null is ignored.
void clearObjectLink(IDispatch* link);

// The object behind a link or a proxy of one; null once it was cleared, or
// when the object is already being destroyed.
ComPtr<IUnknown> resolveObjectLink(IDispatch* link);

}  // namespace com
