// A small in-process server built with the COM layer, for the layer's tests:
// Calculator (dual, registered as an ActiveX control so that every
// registration key is written), Counter (can be aggregated), Greeter (its
// interface is described only by the unregistered TYPELIB 2), and Faulty,
// whose construction fails.
#include <windows.h>
#include <objbase.h>

#include <iterator>
#include <new>
#include <stdexcept>

#include "TestServer.h"
#include "com/Bstr.h"
#include "com/Dispatch.h"
#include "com/Module.h"
#include "com/Object.h"
#include "comtest.h"
#include "comtest_extra.h"

namespace {

class Calculator : public com::ObjectRoot, public com::DispatchImpl<ICalculator> {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<Calculator, ICalculator>(),
        com::entry<Calculator, IDispatch, ICalculator>(),
        com::endOfMap()};
    return map;
  }

  STDMETHODIMP Add(LONG a, LONG b, LONG* sum) override {
    if (!sum) return E_POINTER;
    *sum = a + b;
    return S_OK;
  }

  STDMETHODIMP Concat(BSTR a, BSTR b, BSTR* joined) override {
    if (!joined) return E_POINTER;
    *joined = nullptr;
    return com::guard([&]() -> HRESULT {
      com::Bstr text(a, ::SysStringLen(a));
      HRESULT hr = text.append(b ? b : L"");
      if (FAILED(hr)) return hr;
      *joined = text.detach();
      return S_OK;
    });
  }

  STDMETHODIMP Fail(LONG kind) override {
    return com::guard([&]() -> HRESULT {
      switch (kind) {
        case 0: throw com::ComError(E_ACCESSDENIED);
        case 1: throw std::bad_alloc();
        case 2: throw std::runtime_error("broken");
        case 3: throw 42;
        case 4: throw static_cast<HRESULT>(DISP_E_OVERFLOW);
        case 5: throw static_cast<HRESULT>(S_FALSE);
        default: return S_OK;
      }
    });
  }

  STDMETHODIMP get_ThreadId(LONG* id) override {
    if (!id) return E_POINTER;
    *id = static_cast<LONG>(::GetCurrentThreadId());
    return S_OK;
  }
};

class Counter : public com::ObjectRoot, public com::DispatchImpl<ICounter> {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<Counter, ICounter>(),
        com::entry<Counter, IDispatch, ICounter>(),
        com::endOfMap()};
    return map;
  }

  STDMETHODIMP Increment(LONG* count) override {
    if (!count) return E_POINTER;
    *count = ++count_;
    return S_OK;
  }

  STDMETHODIMP get_IsAggregated(VARIANT_BOOL* aggregated) override {
    if (!aggregated) return E_POINTER;
    *aggregated = isAggregated() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

 private:
  LONG count_ = 0;
};

class Greeter : public com::ObjectRoot, public com::DispatchImpl<IGreeter> {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<Greeter, IGreeter>(),
        com::entry<Greeter, IDispatch, IGreeter>(),
        com::endOfMap()};
    return map;
  }

  STDMETHODIMP Greet(BSTR name, BSTR* greeting) override {
    if (!greeting) return E_POINTER;
    *greeting = nullptr;
    return com::guard([&]() -> HRESULT {
      com::Bstr text(L"Hello, ");
      HRESULT hr = text.append(name ? name : L"");
      if (FAILED(hr)) return hr;
      ++count_;
      *greeting = text.detach();
      return S_OK;
    });
  }

  STDMETHODIMP get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    *count = count_;
    return S_OK;
  }

 private:
  LONG count_ = 0;
};

class Faulty : public com::ObjectRoot, public IPersist {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {com::entry<Faulty, IPersist>(),
                                              com::endOfMap()};
    return map;
  }
  HRESULT finalConstruct() { throw std::bad_alloc(); }
  STDMETHODIMP GetClassID(CLSID* id) override {
    if (!id) return E_POINTER;
    *id = CLSID_TestFaulty;
    return S_OK;
  }
};

const GUID* const kCalculatorCategories[] = {&CATID_TestCategory, nullptr};

const com::ControlRegistration kCalculatorControl = {103, L"0", L"131473", true};

const com::ClassRegistration kCalculatorRegistration = {
    &CLSID_Calculator,
    L"Test Calculator",
    L"ComLayerTest.Calculator.1",
    L"ComLayerTest.Calculator",
    L"Apartment",
    &LIBID_ComTestLib,
    L"1.0",
    true,
    &kCalculatorControl,
    kCalculatorCategories,
    nullptr};

const com::ClassRegistration kCounterRegistration = {
    &CLSID_Counter, L"Test Counter", L"ComLayerTest.Counter.1", L"ComLayerTest.Counter",
    L"Both", &LIBID_ComTestLib, nullptr, false, nullptr, nullptr, nullptr};

const com::ClassRegistration kGreeterRegistration = {
    &CLSID_Greeter, L"Test Greeter", nullptr, nullptr, L"Apartment",
    nullptr, nullptr, false, nullptr, nullptr, nullptr};

const com::ClassRegistration kFaultyRegistration = {
    &CLSID_TestFaulty, L"Test Faulty", nullptr, nullptr, L"Apartment",
    nullptr, nullptr, false, nullptr, nullptr, nullptr};

const com::ClassEntry kClasses[] = {
    {&CLSID_Calculator, &com::createObjectNoAggregation<Calculator>, &kCalculatorRegistration},
    {&CLSID_Counter, &com::createObject<Counter>, &kCounterRegistration},
    {&CLSID_Greeter, &com::createObjectNoAggregation<Greeter>, &kGreeterRegistration},
    {&CLSID_TestFaulty, &com::createObject<Faulty>, &kFaultyRegistration},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE dll, DWORD reason, void* reserved) {
  return com::module().dllMain(dll, reason, reserved, kClasses, std::size(kClasses), true);
}

