#include "com/Module.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <utility>
#include <vector>

#include "com/ComPtr.h"
#include "com/Guard.h"
#include "com/Object.h"
#include "com/Registration.h"
#include "win32/callback_guard.h"
#include "win32/module_path.h"
#include "win32/unique_handle.h"

namespace com {

namespace {

// One class factory per request; it holds a module lock while it lives, so a
// client that keeps a factory keeps the DLL loaded.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(CreateFunction create) : create_(create) { lockModule(); }
  ~ClassFactory() { unlockModule(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
      return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override {
    return static_cast<ULONG>(::InterlockedIncrement(&refs_));
  }
  STDMETHODIMP_(ULONG) Release() override {
    LONG refs = ::InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return guard([&] { return create_(outer, iid, out); });
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      lockModule();
    else
      unlockModule();
    return S_OK;
  }

 private:
  LONG refs_ = 0;
  CreateFunction create_;
};

// Type information already read, per interface id.
struct TypeInfoCache {
  win32::CriticalSection lock;
  std::vector<std::pair<IID, ITypeInfo*>> entries;
};

// Made when the module is loaded, not on first use: a first use inside
// DllMain's detach (Module::term) would make the thread runtime linked into
// the module set up a record for the calling thread, with a handle to it and
// an event, after the runtime has cleaned up for the unload, and that record
// would stay behind at every unload.
TypeInfoCache g_typeInfoCache;

TypeInfoCache& typeInfoCache() { return g_typeInfoCache; }

// A registered type library by identifier and version.
struct RegisteredTypeLib {
  GUID libid;
  WORD major;
  WORD minor;
};

bool operator==(const RegisteredTypeLib& a, const RegisteredTypeLib& b) {
  return IsEqualGUID(a.libid, b.libid) && a.major == b.major && a.minor == b.minor;
}

// The type libraries through which the typelib marshaller carries the
// module's interfaces between apartments, held while objects of the module
// may be marshalled (see Module::canUnloadNow). The marshaller loads the
// library for every proxy and stub it makes and releases it again; some
// platforms (Wine) free a library whose count drops to zero even while
// another thread is taking it from their cache, and a proxy is then made
// from freed type information. A library the module holds never drops to
// zero, and is read from its file only once.
struct HeldTypeLibs {
  win32::CriticalSection lock;
  bool listed = false;   // `libraries` were looked up for this load
  bool holding = false;  // `held` was taken since the last release
  std::vector<RegisteredTypeLib> libraries;
  std::vector<ITypeLib*> held;  // one reference each
};

// Made when the module is loaded, as the type information cache.
HeldTypeLibs g_heldTypeLibs;

// The library that HKCR\Interface\{iid}\TypeLib names (the one the
// typelib marshaller loads for the interface), without loading it.
HRESULT registeredTypeLibOf(REFIID iid, RegisteredTypeLib* out) {
  std::wstring key = L"Interface\\" + guidText(iid) + L"\\TypeLib";
  wchar_t libText[64] = {}, versionText[32] = {};
  DWORD bytes = sizeof(libText) - sizeof(wchar_t);
  LONG rc = ::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr,
                           libText, &bytes);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  bytes = sizeof(versionText) - sizeof(wchar_t);
  unsigned major = 1, minor = 0;
  if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), L"Version", RRF_RT_REG_SZ, nullptr,
                     versionText, &bytes) == ERROR_SUCCESS &&
      std::swscanf(versionText, L"%x.%x", &major, &minor) < 1)
    major = 1;
  HRESULT hr = ::CLSIDFromString(libText, &out->libid);
  if (FAILED(hr)) return hr;
  out->major = static_cast<WORD>(major);
  out->minor = static_cast<WORD>(minor);
  return S_OK;
}

// The type library that HKCR\Interface\{iid}\TypeLib names.
HRESULT loadRegisteredTypeLib(REFIID iid, ITypeLib** out) {
  RegisteredTypeLib lib;
  HRESULT hr = registeredTypeLibOf(iid, &lib);
  if (FAILED(hr)) return hr;
  return ::LoadRegTypeLib(lib.libid, lib.major, lib.minor, 0, out);
}

struct TypeLibIds {
  std::vector<WORD> ids;
  bool incomplete = false;  // an id could not be kept
};

BOOL CALLBACK collectTypeLibId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context) {
  if (!IS_INTRESOURCE(name)) return TRUE;
  auto* collected = reinterpret_cast<TypeLibIds*>(context);
  const bool kept = win32::guard(false, [&] {
    collected->ids.push_back(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)));
    return true;
  });
  if (!kept) collected->incomplete = true;
  return kept ? TRUE : FALSE;
}

// The numbered TYPELIB resources of a module, in ascending order. Raises
// bad_alloc rather than answer part of them.
std::vector<WORD> embeddedTypeLibIds(HINSTANCE instance) {
  TypeLibIds collected;
  ::EnumResourceNamesW(instance, L"TYPELIB", &collectTypeLibId, reinterpret_cast<LONG_PTR>(&collected));
  if (collected.incomplete) throw std::bad_alloc();
  std::sort(collected.ids.begin(), collected.ids.end());
  return std::move(collected.ids);
}

// The TYPELIB resource `id` of the module file at `path`: the bare path
// names TYPELIB 1, "<path>\\<id>" another one.
HRESULT loadEmbeddedTypeLibAt(const std::wstring& path, WORD id, ITypeLib** out) {
  if (path.empty()) return E_UNEXPECTED;
  std::wstring file = path;
  if (id != 1) file += L"\\" + std::to_wstring(id);
  return ::LoadTypeLibEx(file.c_str(), REGKIND_NONE, out);
}

// Takes a reference on each library that the typelib marshaller loads for
// the interfaces the module's own type libraries describe (the interfaces
// its objects hand out and call, and so the ones its threads marshal):
// its own registered library, and the libraries other installations
// registered for the outside interfaces it uses. Which libraries those are
// is looked up once per load. Lock held; nothing when already holding.
void holdTypeLibs(HeldTypeLibs& libs, HINSTANCE instance, const std::wstring& path) {
  if (libs.holding) return;
  // The module's libraries stay loaded until the registered ones are held,
  // so that a registered library at this very path is read once.
  std::vector<ComPtr<ITypeLib>> embedded;
  for (WORD id : embeddedTypeLibIds(instance)) {
    ComPtr<ITypeLib> lib;
    if (SUCCEEDED(loadEmbeddedTypeLibAt(path, id, lib.put()))) embedded.push_back(lib);
  }
  if (!libs.listed) {
    for (const ComPtr<ITypeLib>& lib : embedded) {
      const UINT count = lib->GetTypeInfoCount();
      for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind = TKIND_MAX;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH))
          continue;
        ComPtr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (FAILED(lib->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attr))) continue;
        const IID iid = attr->guid;
        info->ReleaseTypeAttr(attr);
        RegisteredTypeLib registered;
        if (SUCCEEDED(registeredTypeLibOf(iid, &registered)) &&
            std::find(libs.libraries.begin(), libs.libraries.end(), registered) == libs.libraries.end())
          libs.libraries.push_back(registered);
      }
    }
    libs.listed = true;
  }
  libs.held.reserve(libs.libraries.size());
  for (const RegisteredTypeLib& registered : libs.libraries) {
    ITypeLib* lib = nullptr;
    // A library that is not (or no longer) registered is not marshalled
    // through either.
    if (SUCCEEDED(::LoadRegTypeLib(registered.libid, registered.major, registered.minor, 0, &lib)))
      libs.held.push_back(lib);
  }
  libs.holding = true;
}

// Initialises a function-local static, which is all it does.
DWORD WINAPI InitialiseOneStatic(void*) {
  static const DWORD firstThread = ::GetCurrentThreadId();
  return firstThread != 0 ? 0 : 1;
}

// The thread runtime linked into the module sets itself up the first time
// a function-local static is initialised and keeps a record for the thread
// that did it (a handle to the thread and an event) until that thread ends.
// A thread of the caller's, such as a frame's main thread, outlives the
// module, which is unloaded and loaded again while the frame runs: every
// load would leave such a record behind. So the first static is
// initialised on a short-lived thread of the module's own, before any
// object is made.
void SetUpThreadRuntimeOnce() {
  static volatile LONG done = 0;  // constant-initialised: no runtime call
  if (::InterlockedCompareExchange(&done, 1, 0) != 0) return;
  win32::UniqueHandle thread(::CreateThread(nullptr, 0, &InitialiseOneStatic, nullptr, 0, nullptr));
  if (thread) ::WaitForSingleObject(thread.get(), INFINITE);
}

}  // namespace

Module& module() {
  static Module instance;
  return instance;
}

void lockModule() noexcept { module().lock(); }
void unlockModule() noexcept { module().unlock(); }

void Module::init(HINSTANCE instance, const ClassEntry* classes, std::size_t count,
                  bool typeLib) {
  instance_ = instance;
  classes_ = classes;
  classCount_ = count;
  typeLib_ = typeLib;
}

void Module::term() {
  TypeInfoCache& cache = typeInfoCache();
  win32::CsLock hold(cache.lock);
  cache.entries.clear();
  // Type libraries still held here (the module was unloaded without being
  // asked DllCanUnloadNow, by the last CoUninitialize, say) are left
  // behind: a last Release frees the platform's library, which may unmap
  // or free the file or module it was read from and takes the platform's
  // type-library lock, while a thread that holds that lock to read a
  // library may be waiting for the loader lock held here. Left behind, the
  // library stays in the platform's cache under its path, and the module's
  // next load takes the same one again: only its count grows.
  g_heldTypeLibs.held.clear();
  g_heldTypeLibs.holding = false;
}

BOOL Module::dllMain(HINSTANCE instance, DWORD reason, void* reserved, const ClassEntry* classes,
                     std::size_t count, bool typeLib) {
  return win32::guard(FALSE, [&] {
    if (reason == DLL_PROCESS_ATTACH) {
      ::DisableThreadLibraryCalls(instance);
      init(instance, classes, count, typeLib);
    }
    if (reason == DLL_PROCESS_DETACH && !reserved) term();
    return TRUE;
  });
}

std::wstring Module::path() const { return win32::ModulePath(instance_); }

LONG Module::lock() noexcept { return ::InterlockedIncrement(&locks_); }
LONG Module::unlock() noexcept { return ::InterlockedDecrement(&locks_); }
LONG Module::lockCount() const noexcept { return locks_; }

HRESULT Module::getClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  SetUpThreadRuntimeOnce();
  return guard([&]() -> HRESULT {
    for (std::size_t i = 0; i < classCount_; ++i) {
      if (!IsEqualCLSID(clsid, *classes_[i].clsid)) continue;
      // The libraries are held before any object exists, and the factory's
      // module lock is taken under the same lock as canUnloadNow gives them
      // back: no object is made while they go.
      HeldTypeLibs& libs = g_heldTypeLibs;
      win32::CsLock hold(libs.lock);
      holdTypeLibs(libs, instance_, path());
      ClassFactory* factory = new ClassFactory(classes_[i].create);
      factory->AddRef();
      HRESULT hr = factory->QueryInterface(iid, out);
      factory->Release();
      return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
  });
}

HRESULT Module::canUnloadNow() {
  // The module's threads hold a lock until they have left their apartment
  // (lockModule): at zero no proxy or stub of the module is left anywhere,
  // and none is made while the lock below is held (getClassObject). So the
  // type libraries go back while nothing of the module can be taking them
  // from the platform's cache, here and not in DllMain (see term).
  // A failure keeps the module loaded.
  const HRESULT hr = guard([&]() -> HRESULT {
    HeldTypeLibs& libs = g_heldTypeLibs;
    win32::CsLock hold(libs.lock);
    if (lockCount() != 0) return S_FALSE;
    std::vector<std::pair<IID, ITypeInfo*>> released;
    {
      TypeInfoCache& cache = typeInfoCache();
      win32::CsLock holdCache(cache.lock);
      released.swap(cache.entries);
    }
    for (auto& entry : released) entry.second->Release();
    for (ITypeLib* lib : libs.held) lib->Release();
    libs.held.clear();
    libs.holding = false;
    return S_OK;
  });
  return hr == S_OK ? S_OK : S_FALSE;
}

HRESULT Module::loadTypeLib(ITypeLib** out) const { return loadEmbeddedTypeLib(1, out); }

HRESULT Module::loadEmbeddedTypeLib(WORD id, ITypeLib** out) const {
  std::wstring file = path();
  if (file.empty()) return HRESULT_FROM_WIN32(::GetLastError());
  return loadEmbeddedTypeLibAt(file, id, out);
}

HRESULT Module::registerServer() {
  return guard([&]() -> HRESULT {
    std::wstring file = path();
    if (file.empty()) return E_UNEXPECTED;
    if (typeLib_) {
      ComPtr<ITypeLib> lib;
      HRESULT hr = ::LoadTypeLibEx(file.c_str(), REGKIND_REGISTER, lib.put());
      if (FAILED(hr)) return hr;
    }
    for (std::size_t i = 0; i < classCount_; ++i) {
      if (!classes_[i].registration) continue;
      HRESULT hr = registerClass(*classes_[i].registration, file.c_str());
      if (FAILED(hr)) {
        // Leave nothing behind that names this module.
        unregisterServer();
        return hr;
      }
    }
    return S_OK;
  });
}

HRESULT Module::unregisterTypeLib() const {
  ComPtr<ITypeLib> lib;
  HRESULT hr = loadTypeLib(lib.put());
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  TLIBATTR copy = *attr;
  lib->ReleaseTLibAttr(attr);
  // Nothing to remove when the library's version key is not there.
  wchar_t version[32];
  std::swprintf(version, 32, L"\\%x.%x", copy.wMajorVerNum, copy.wMinorVerNum);
  std::wstring key = L"TypeLib\\" + guidText(copy.guid) + version;
  win32::UniqueRegKey probe;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, probe.put()) !=
      ERROR_SUCCESS)
    return S_OK;
  probe.reset();
  return ::UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid,
                             copy.syskind);
}

HRESULT Module::unregisterServer() {
  return guard([&]() -> HRESULT {
    HRESULT result = S_OK;
    for (std::size_t i = 0; i < classCount_; ++i) {
      if (!classes_[i].registration) continue;
      HRESULT hr = unregisterClass(*classes_[i].registration);
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    if (typeLib_) {
      HRESULT hr = unregisterTypeLib();
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
  });
}

HRESULT Module::typeInfo(REFIID iid, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return guard([&]() -> HRESULT {
    TypeInfoCache& cache = typeInfoCache();
    win32::CsLock hold(cache.lock);
    for (auto& entry : cache.entries) {
      if (IsEqualIID(entry.first, iid)) {
        entry.second->AddRef();
        *out = entry.second;
        return S_OK;
      }
    }
    ComPtr<ITypeInfo> info;
    ComPtr<ITypeLib> lib;
    // The module's own descriptions first, registered or not: they describe
    // the very layouts its objects implement (the FDT interfaces among them,
    // which a module may carry unregistered beside its own library).
    HRESULT hr = TYPE_E_ELEMENTNOTFOUND;
    for (WORD id : embeddedTypeLibIds(instance_)) {
      if (FAILED(loadEmbeddedTypeLib(id, lib.put()))) continue;
      hr = lib->GetTypeInfoOfGuid(iid, info.put());
      if (SUCCEEDED(hr)) break;
    }
    // An interface of another module's type library (the toolkit's, say):
    // the library that registered the interface describes it.
    if (FAILED(hr) && SUCCEEDED(loadRegisteredTypeLib(iid, lib.put())))
      hr = lib->GetTypeInfoOfGuid(iid, info.put());
    if (FAILED(hr)) return hr;
    // A dual interface's dispatch part points at its vtable part through
    // the implemented type -1; Invoke calls through the vtable part.
    TYPEATTR* attr = nullptr;
    hr = info->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    bool dual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attr);
    if (dual) {
      HREFTYPE vtablePart = 0;
      ComPtr<ITypeInfo> vtableInfo;
      if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtablePart)) &&
          SUCCEEDED(info->GetRefTypeInfo(vtablePart, vtableInfo.put())))
        info = vtableInfo;
    }
    cache.entries.reserve(cache.entries.size() + 1);
    cache.entries.emplace_back(iid, info.get());
    info->AddRef();
    return info.copyTo(out);
  });
}

}  // namespace com
