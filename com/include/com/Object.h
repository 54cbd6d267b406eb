// COM objects with an interface map, plain or aggregated.
//
// A class derives from ObjectRoot and from its interfaces, implements the
// interfaces' own methods (not IUnknown), and lists what QueryInterface
// answers in a static table:
//
//   class Calculator : public com::ObjectRoot, public ICalculator {
//    public:
//     static const com::InterfaceEntry* interfaceMap() {
//       static const com::InterfaceEntry map[] = {
//           com::entry<Calculator, ICalculator>(),
//           com::entry<Calculator, IDispatch, ICalculator>(),
//           com::endOfMap()};
//       return map;
//     }
//     ...
//   };
//
// The first entry (entry or entryAs, not entryQuery) is also the object's
// IUnknown. ComObject<T> (a stand-alone object) and AggregatedObject<T>
// (inside an outer object) add IUnknown.
// createObject<T> builds either, runs T::finalConstruct (an optional hook that
// hides ObjectRoot's) and queries the requested interface; T::finalRelease
// runs before the object is destroyed. Work that needs controllingUnknown()
// (aggregating an inner object, say) belongs in finalConstruct, not in the
// constructor. Every living object holds a module lock, so DllCanUnloadNow
// answers S_FALSE while one exists. Creation never throws: a failing
// constructor or finalConstruct gives its code (com::guard).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <unknwn.h>

#include "com/Guard.h"

namespace com {

// The reference count an object is given once its last reference went:
// far from zero, so that references taken and dropped during its teardown
// never bring it to zero a second time.
constexpr LONG kReleasing = 0x3FFFFFFF;

// Module lock count (Module.h); objects and class factories hold one each,
// and so does each thread the module starts, until it has left its
// apartment: the module is in use while any of its proxies or stubs lives.
void lockModule() noexcept;
void unlockModule() noexcept;

struct InterfaceEntry {
  const IID* iid;  // null ends the map
  // The interface inside the object (object is the class's own pointer).
  IUnknown* (*cast)(void* object);
  // Used instead of cast when set: answers the query itself, e.g. from an
  // aggregated inner object or another object's interface. It must leave a
  // new reference in *out, or fail with *out null.
  HRESULT (*query)(void* object, REFIID iid, void** out);
};

template <class Class, class Interface, class Via>
IUnknown* castToInterface(void* object) {
  return static_cast<Interface*>(static_cast<Via*>(static_cast<Class*>(object)));
}

// The interface Interface, reached through the base Via when Interface is
// an ambiguous base (IDispatch of a dual interface, say).
template <class Class, class Interface, class Via = Interface>
InterfaceEntry entry() {
  return {&__uuidof(Interface), &castToInterface<Class, Interface, Via>, nullptr};
}

// An interface id answered under another id (Via is the class's base).
template <class Class, class Via>
InterfaceEntry entryAs(const IID& iid) {
  return {&iid, &castToInterface<Class, Via, Via>, nullptr};
}

// An interface answered by a function of the class.
inline InterfaceEntry entryQuery(const IID& iid,
                                 HRESULT (*query)(void* object, REFIID, void**)) {
  return {&iid, nullptr, query};
}

inline InterfaceEntry endOfMap() { return {nullptr, nullptr, nullptr}; }

// Looks iid up in map: the first entry answers IID_IUnknown.
HRESULT queryInterfaceMap(void* object, const InterfaceEntry* map, REFIID iid,
                          void** out);

// State that every COM object of the layer carries.
class ObjectRoot {
 public:
  ObjectRoot(const ObjectRoot&) = delete;
  ObjectRoot& operator=(const ObjectRoot&) = delete;

  // The object's controlling IUnknown: the outer object when aggregated,
  // else the object itself. No reference is added.
  IUnknown* controllingUnknown() const { return controlling_; }
  bool isAggregated() const { return aggregated_; }

 protected:
  ObjectRoot() = default;
  ~ObjectRoot() = default;

  // Hooks a class may hide with its own.
  HRESULT finalConstruct() { return S_OK; }
  void finalRelease() {}

 private:
  template <class T>
  friend class ComObject;
  template <class T>
  friend class ContainedObject;
  template <class T>
  friend class AggregatedObject;

  LONG refs_ = 0;
  IUnknown* controlling_ = nullptr;
  bool aggregated_ = false;
};

// A stand-alone object.
template <class T>
class ComObject final : public T {
 public:
  ComObject() {
    lockModule();
    this->controlling_ = identity();
  }
  ~ComObject() {
    this->finalRelease();
    unlockModule();
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return queryInterfaceMap(static_cast<T*>(this), T::interfaceMap(), iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override {
    return static_cast<ULONG>(::InterlockedIncrement(&this->refs_));
  }
  STDMETHODIMP_(ULONG) Release() override {
    LONG refs = ::InterlockedDecrement(&this->refs_);
    if (refs == 0) {
      // A reference taken and dropped while the object is torn down (by a
      // call served during finalRelease, say) must not destroy it again.
      this->refs_ = kReleasing;
      delete this;
    }
    return static_cast<ULONG>(refs);
  }

  IUnknown* identity() { return T::interfaceMap()[0].cast(static_cast<T*>(this)); }

  // Builds an object with one reference held by *out.
  static HRESULT create(ComObject** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComObject* object = nullptr;
    try {
      object = new ComObject;
    } catch (...) {
      return currentExceptionResult();
    }
    object->AddRef();
    HRESULT hr = guard([&] { return object->finalConstruct(); });
    if (FAILED(hr)) {
      object->Release();
      return hr;
    }
    *out = object;
    return S_OK;
  }
};

// The class inside an aggregate: its IUnknown is the outer object's.
template <class T>
class ContainedObject final : public T {
 public:
  explicit ContainedObject(IUnknown* outer) {
    this->controlling_ = outer;
    this->aggregated_ = true;
  }
  ~ContainedObject() { this->finalRelease(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return this->controlling_->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return this->controlling_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return this->controlling_->Release(); }

  HRESULT innerQueryInterface(REFIID iid, void** out) {
    return queryInterfaceMap(static_cast<T*>(this), T::interfaceMap(), iid, out);
  }
  HRESULT construct() { return this->finalConstruct(); }
};

// The non-delegating IUnknown of an aggregated object; the outer object
// holds it and asks it for the inner interfaces.
template <class T>
class AggregatedObject final : public IUnknown {
 public:
  explicit AggregatedObject(IUnknown* outer) : contained_(outer) { lockModule(); }
  ~AggregatedObject() { unlockModule(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return contained_.innerQueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override {
    return static_cast<ULONG>(::InterlockedIncrement(&refs_));
  }
  STDMETHODIMP_(ULONG) Release() override {
    LONG refs = ::InterlockedDecrement(&refs_);
    if (refs == 0) {
      refs_ = kReleasing;  // as ComObject: no second destruction
      delete this;
    }
    return static_cast<ULONG>(refs);
  }

  // Builds an aggregated object; *out is its non-delegating IUnknown.
  static HRESULT create(IUnknown* outer, IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!outer) return E_INVALIDARG;
    AggregatedObject* object = nullptr;
    try {
      object = new AggregatedObject(outer);
    } catch (...) {
      return currentExceptionResult();
    }
    object->AddRef();
    HRESULT hr = guard([&] { return object->contained_.construct(); });
    if (FAILED(hr)) {
      object->Release();
      return hr;
    }
    *out = object;
    return S_OK;
  }

  T* object() { return &contained_; }

 private:
  LONG refs_ = 0;
  ContainedObject<T> contained_;
};

// Class-factory creation function for a class that can be aggregated: with an
// outer object only IID_IUnknown may be asked for (CLASS_E_NOAGGREGATION).
template <class T>
HRESULT createObject(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return guard([&]() -> HRESULT {
    if (outer) {
      if (!IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
      IUnknown* inner = nullptr;
      HRESULT hr = AggregatedObject<T>::create(outer, &inner);
      if (SUCCEEDED(hr)) *out = inner;
      return hr;
    }
    ComObject<T>* object = nullptr;
    HRESULT hr = ComObject<T>::create(&object);
    if (FAILED(hr)) return hr;
    hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  });
}

// Creation function for a class that refuses aggregation.
template <class T>
HRESULT createObjectNoAggregation(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return createObject<T>(nullptr, iid, out);
}

}  // namespace com
