#include "com/Object.h"

namespace com {

HRESULT queryInterfaceMap(void* object, const InterfaceEntry* map, REFIID iid,
                          void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown)) {
    IUnknown* unknown = map[0].cast(object);
    unknown->AddRef();
    *out = unknown;
    return S_OK;
  }
  for (const InterfaceEntry* e = map; e->iid; ++e) {
    if (!IsEqualIID(iid, *e->iid)) continue;
    if (e->query) return e->query(object, iid, out);
    IUnknown* unknown = e->cast(object);
    unknown->AddRef();
    *out = unknown;
    return S_OK;
  }
  return E_NOINTERFACE;
}

}  // namespace com
