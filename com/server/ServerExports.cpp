// The four exports of an in-process COM server built with this layer. Every
// server DLL gets this file through com_server_exports(); its own DllMain
// hands the class table to com::module().init().
#include "com/Module.h"

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return com::module().getClassObject(clsid, iid, out);
}
STDAPI DllCanUnloadNow() { return com::module().canUnloadNow(); }
STDAPI DllRegisterServer() { return com::module().registerServer(); }
STDAPI DllUnregisterServer() { return com::module().unregisterServer(); }
