#include "com/ComPtr.h"

namespace com {

bool sameObject(IUnknown* a, IUnknown* b) {
  if (a == b) return true;
  if (!a || !b) return false;
  ComPtr<IUnknown> ua, ub;
  if (FAILED(a->QueryInterface(IID_IUnknown, ua.putVoid()))) return false;
  if (FAILED(b->QueryInterface(IID_IUnknown, ub.putVoid()))) return false;
  return ua == ub;
}

}  // namespace com
