// The module of a COM server: its class table, lock count, class factories,
// self-registration and the type library it carries.
//
// A server DLL declares its classes in a table and forwards its exports:
//
//   const com::ClassEntry kClasses[] = {
//       {&CLSID_Calculator, &com::createObject<Calculator>, &kCalculatorReg},
//   };
//   extern "C" BOOL WINAPI DllMain(HINSTANCE dll, DWORD reason, void* reserved) {
//     return com::module().dllMain(dll, reason, reserved, kClasses, std::size(kClasses), true);
//   }
//   STDAPI DllGetClassObject(REFCLSID c, REFIID i, void** o) {
//     return com::module().getClassObject(c, i, o); }
//   STDAPI DllCanUnloadNow() { return com::module().canUnloadNow(); }
//   STDAPI DllRegisterServer() { return com::module().registerServer(); }
//   STDAPI DllUnregisterServer() { return com::module().unregisterServer(); }
//
// and adds com_server_exports(<target>) (com/cmake/ComServer.cmake) for
// the undecorated export names.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include <cstddef>
#include <string>

#include "com/Registration.h"

namespace com {

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

struct ClassEntry {
  const CLSID* clsid;
  CreateFunction create;
  // What DllRegisterServer writes for the class; null for none.
  const ClassRegistration* registration;
};

class Module {
 public:
  // instance: the DLL (or EXE); typeLib: it carries TYPELIB resource 1,
  // which registerServer registers and typeInfo reads.
  void init(HINSTANCE instance, const ClassEntry* classes, std::size_t count,
            bool typeLib);
  // Process detach by FreeLibrary. It runs under the loader lock, where no
  // COM object may be released: the type information and the held type
  // libraries are released earlier, by canUnloadNow, and what is still
  // held here is left behind.
  void term();
  // The whole DllMain of a server DLL: init on process attach (without
  // thread notices), term on a detach by FreeLibrary; a process that ends
  // is left alone. Always TRUE.
  BOOL dllMain(HINSTANCE instance, DWORD reason, void* reserved, const ClassEntry* classes, std::size_t count,
               bool typeLib);

  HINSTANCE instance() const { return instance_; }
  // Full path of the module file; empty when it cannot be read.
  std::wstring path() const;

  LONG lock() noexcept;
  LONG unlock() noexcept;
  LONG lockCount() const noexcept;

  // Before it makes the first class factory, the module takes a reference
  // on every registered type library through which the typelib marshaller
  // carries the interfaces its own type libraries describe, and holds them
  // until canUnloadNow answers S_OK: the marshaller then finds each one in
  // the platform's cache instead of reading and freeing it for every proxy
  // and stub (some platforms free a library while another thread takes it
  // from their cache).
  HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** out);
  // S_OK when no object, class factory, server lock or thread of the module
  // (lockModule) is alive; the cached type information and the held type
  // libraries are then released, outside the loader lock, before the module
  // may go.
  HRESULT canUnloadNow();
  HRESULT registerServer();
  HRESULT unregisterServer();

  // The type information of interface iid from the type libraries the
  // module carries (every TYPELIB resource, in id order, registered or
  // not), else from the registered library that
  // HKCR\Interface\{iid}\TypeLib names. For a dual interface it is the
  // vtable part, which ITypeInfo::Invoke uses.
  HRESULT typeInfo(REFIID iid, ITypeInfo** out);

 private:
  HRESULT loadTypeLib(ITypeLib** out) const;
  HRESULT loadEmbeddedTypeLib(WORD id, ITypeLib** out) const;
  HRESULT unregisterTypeLib() const;

  HINSTANCE instance_ = nullptr;
  const ClassEntry* classes_ = nullptr;
  std::size_t classCount_ = 0;
  bool typeLib_ = false;
  volatile LONG locks_ = 0;
};

// The module of the calling DLL or EXE (one per binary).
Module& module();

}  // namespace com
