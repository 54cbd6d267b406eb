// The test server (server/TestServer.cpp) as a client sees it: registered
// with regsvr32, created through COM, called through its vtable, IDispatch
// and from another apartment, aggregated by an outer object, unregistered.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>

#include "TestServer.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "com/Registration.h"
#include "com/Variant.h"
#include "comtest.h"
#include "comtest_extra.h"
#include "regsvr32.h"
#include "win32/unique_handle.h"

namespace {

std::wstring serverPath() { return testsupport::ProgramFolder() + L"comtest_server.dll"; }

DWORD runRegsvr32(const wchar_t* options) { return testsupport::RunRegsvr32(options, serverPath()); }

bool keyExists(const std::wstring& key) {
  win32::UniqueRegKey k;
  return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

// A text value of a key under HKCR ("<missing>" when absent).
std::wstring readText(const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t buffer[1024];
  DWORD bytes = sizeof(buffer);
  if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer,
                     &bytes) != ERROR_SUCCESS)
    return L"<missing>";
  return buffer;
}

bool sameText(const std::wstring& a, const std::wstring& b) {
  return ::_wcsicmp(a.c_str(), b.c_str()) == 0;
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_EQ(0u, runRegsvr32(L"/s"));
  }
  void TearDown() override { ::CoUninitialize(); }
};

TEST_F(ServerTest, RegistrationWritesTheTable) {
  const std::wstring clsid = com::guidText(CLSID_Calculator);
  const std::wstring key = L"CLSID\\" + clsid;
  EXPECT_EQ(L"Test Calculator", readText(key));
  EXPECT_EQ(L"ComLayerTest.Calculator.1", readText(key + L"\\ProgID"));
  EXPECT_EQ(L"ComLayerTest.Calculator", readText(key + L"\\VersionIndependentProgID"));
  EXPECT_TRUE(sameText(serverPath(), readText(key + L"\\InprocServer32")));
  EXPECT_EQ(L"Apartment", readText(key + L"\\InprocServer32", L"ThreadingModel"));
  EXPECT_TRUE(keyExists(key + L"\\Programmable"));
  EXPECT_TRUE(keyExists(key + L"\\Control"));
  EXPECT_TRUE(keyExists(key + L"\\Insertable"));
  EXPECT_TRUE(sameText(serverPath() + L", 103", readText(key + L"\\ToolboxBitmap32")));
  EXPECT_EQ(L"0", readText(key + L"\\MiscStatus"));
  EXPECT_EQ(L"131473", readText(key + L"\\MiscStatus\\1"));
  EXPECT_EQ(com::guidText(LIBID_ComTestLib), readText(key + L"\\TypeLib"));
  EXPECT_EQ(L"1.0", readText(key + L"\\Version"));
  EXPECT_TRUE(keyExists(key + L"\\Implemented Categories\\" + com::guidText(CATID_TestCategory)));

  EXPECT_EQ(L"Test Calculator", readText(L"ComLayerTest.Calculator.1"));
  EXPECT_EQ(clsid, readText(L"ComLayerTest.Calculator.1\\CLSID"));
  EXPECT_EQ(clsid, readText(L"ComLayerTest.Calculator\\CLSID"));
  EXPECT_EQ(L"ComLayerTest.Calculator.1", readText(L"ComLayerTest.Calculator\\CurVer"));

  // A class without ProgIDs or control keys gets only what its row names.
  const std::wstring faulty = L"CLSID\\" + com::guidText(CLSID_TestFaulty);
  EXPECT_EQ(L"Test Faulty", readText(faulty));
  EXPECT_FALSE(keyExists(faulty + L"\\ProgID"));
  EXPECT_FALSE(keyExists(faulty + L"\\Control"));
  EXPECT_EQ(L"Both", readText(L"CLSID\\" + com::guidText(CLSID_Counter) + L"\\InprocServer32",
                              L"ThreadingModel"));

  // The type library and its interfaces, for the typelib marshaller.
  EXPECT_TRUE(keyExists(L"TypeLib\\" + com::guidText(LIBID_ComTestLib) + L"\\1.0"));
  EXPECT_TRUE(keyExists(L"Interface\\" + com::guidText(IID_ICalculator)));

  CLSID fromProgId = {};
  ASSERT_EQ(S_OK, ::CLSIDFromProgID(L"ComLayerTest.Calculator", &fromProgId));
  EXPECT_TRUE(IsEqualCLSID(CLSID_Calculator, fromProgId));
}

TEST_F(ServerTest, CreatedAndCalledThroughVtable) {
  com::ComPtr<ICalculator> calc;
  ASSERT_EQ(S_OK, calc.createInstance(CLSID_Calculator, nullptr, CLSCTX_INPROC_SERVER));
  LONG sum = 0;
  ASSERT_EQ(S_OK, calc->Add(2, 40, &sum));
  EXPECT_EQ(42, sum);
  EXPECT_EQ(E_POINTER, calc->Add(1, 1, nullptr));
  com::Bstr joined;
  ASSERT_EQ(S_OK, calc->Concat(com::Bstr(L"ab").get(), nullptr, joined.put()));
  EXPECT_STREQ(L"ab", joined.c_str());
  LONG thread = 0;
  ASSERT_EQ(S_OK, calc->get_ThreadId(&thread));
  EXPECT_EQ(static_cast<LONG>(::GetCurrentThreadId()), thread);

  // Failures of creation reach the client as codes.
  com::ComPtr<IPersist> faulty;
  EXPECT_EQ(E_OUTOFMEMORY, faulty.createInstance(CLSID_TestFaulty, nullptr, CLSCTX_INPROC_SERVER));
  com::ComPtr<IUnknown> unknown;
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            ::CoCreateInstance(CLSID_Calculator, calc.get(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                               unknown.putVoid()));
  com::ComPtr<ICounter> wrong;
  EXPECT_EQ(E_NOINTERFACE, calc.as(wrong));
}

TEST_F(ServerTest, ExceptionsInMethodsBecomeErrorCodes) {
  com::ComPtr<ICalculator> calc;
  ASSERT_EQ(S_OK, calc.createInstance(CLSID_Calculator, nullptr, CLSCTX_INPROC_SERVER));
  EXPECT_EQ(E_ACCESSDENIED, calc->Fail(0));
  EXPECT_EQ(E_OUTOFMEMORY, calc->Fail(1));
  EXPECT_EQ(E_FAIL, calc->Fail(2));
  EXPECT_EQ(E_UNEXPECTED, calc->Fail(3));
  EXPECT_EQ(DISP_E_OVERFLOW, calc->Fail(4));
  EXPECT_EQ(E_UNEXPECTED, calc->Fail(5));
  EXPECT_EQ(S_OK, calc->Fail(99));
}

// Calls Add(a, b) through IDispatch; answers Invoke's code.
HRESULT invokeAdd(IDispatch* dispatch, LONG a, LONG b, LONG* sum) {
  LPOLESTR name = const_cast<LPOLESTR>(L"Add");
  DISPID id = 0;
  HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  VARIANTARG args[2];  // in reverse order
  ::VariantInit(&args[0]);
  V_VT(&args[0]) = VT_I4;
  V_I4(&args[0]) = b;
  ::VariantInit(&args[1]);
  V_VT(&args[1]) = VT_I4;
  V_I4(&args[1]) = a;
  DISPPARAMS params = {args, nullptr, 2, 0};
  com::Variant result;
  hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                        result.put(), nullptr, nullptr);
  if (FAILED(hr)) return hr;
  hr = result.changeType(VT_I4);
  if (SUCCEEDED(hr)) *sum = V_I4(result.get());
  return hr;
}

TEST_F(ServerTest, CalledThroughIDispatch) {
  com::ComPtr<IDispatch> dispatch;
  ASSERT_EQ(S_OK, dispatch.createInstance(CLSID_Calculator, nullptr, CLSCTX_INPROC_SERVER));
  UINT count = 0;
  ASSERT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);
  com::ComPtr<ITypeInfo> info;
  EXPECT_EQ(S_OK, dispatch->GetTypeInfo(0, 0, info.put()));
  EXPECT_EQ(DISP_E_BADINDEX, dispatch->GetTypeInfo(1, 0, info.put()));

  LONG sum = 0;
  ASSERT_EQ(S_OK, invokeAdd(dispatch.get(), 20, 22, &sum));
  EXPECT_EQ(42, sum);

  LPOLESTR names[] = {const_cast<LPOLESTR>(L"ThreadId"), const_cast<LPOLESTR>(L"NoSuchName")};
  DISPID ids[2] = {};
  ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, ids));
  EXPECT_EQ(4, ids[0]);
  EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, names + 1, 1, 0, ids));
  EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, dispatch->GetIDsOfNames(IID_ICalculator, names, 1, 0, ids));

  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  com::Variant thread;
  ASSERT_EQ(S_OK, dispatch->Invoke(4, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, thread.put(),
                                   nullptr, nullptr));
  ASSERT_EQ(S_OK, thread.changeType(VT_I4));
  EXPECT_EQ(static_cast<LONG>(::GetCurrentThreadId()), V_I4(thread.get()));

  // A method's failure comes back through Invoke, directly or as an
  // exception record.
  VARIANTARG kind;
  ::VariantInit(&kind);
  V_VT(&kind) = VT_I4;
  V_I4(&kind) = 1;
  DISPPARAMS one = {&kind, nullptr, 1, 0};
  EXCEPINFO exception = {};
  HRESULT hr = dispatch->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, &exception,
                                nullptr);
  if (hr == DISP_E_EXCEPTION) hr = exception.scode;
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
  EXPECT_EQ(E_OUTOFMEMORY, hr);
}

// A counter of this test program, which carries no type library: its
// IDispatch is served from the registered library of the server.
class LocalCounter : public com::ObjectRoot, public com::DispatchImpl<ICounter> {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<LocalCounter, ICounter>(),
        com::entry<LocalCounter, IDispatch, ICounter>(),
        com::endOfMap()};
    return map;
  }
  STDMETHODIMP Increment(LONG* count) override {
    *count = 100;
    return S_OK;
  }
  STDMETHODIMP get_IsAggregated(VARIANT_BOOL* aggregated) override {
    *aggregated = VARIANT_FALSE;
    return S_OK;
  }
};

TEST_F(ServerTest, DispatchOfAnInterfaceFromTheRegisteredLibrary) {
  com::ComPtr<IDispatch> dispatch;
  ASSERT_EQ(S_OK, com::createObject<LocalCounter>(nullptr, IID_IDispatch, dispatch.putVoid()));
  LPOLESTR name = const_cast<LPOLESTR>(L"Increment");
  DISPID id = 0;
  ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  EXPECT_EQ(1, id);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  com::Variant count;
  ASSERT_EQ(S_OK, dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, count.put(), nullptr,
                                   nullptr));
  ASSERT_EQ(S_OK, count.changeType(VT_I4));
  EXPECT_EQ(100, V_I4(count.get()));
}

// The server carries IGreeter's library as TYPELIB 2 and never registers it:
// a late-bound client still finds the names through the server's own copy.
TEST_F(ServerTest, DispatchOfAnInterfaceFromAnUnregisteredEmbeddedLibrary) {
  EXPECT_FALSE(keyExists(L"Interface\\" + com::guidText(IID_IGreeter)));
  EXPECT_FALSE(keyExists(L"TypeLib\\" + com::guidText(LIBID_ComTestExtraLib)));
  com::ComPtr<IDispatch> dispatch;
  ASSERT_EQ(S_OK, dispatch.createInstance(CLSID_Greeter, nullptr, CLSCTX_INPROC_SERVER));

  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Greet"), const_cast<LPOLESTR>(L"Count")};
  DISPID ids[2] = {};
  ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &ids[0]));
  ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, names + 1, 1, 0, &ids[1]));
  EXPECT_EQ(1, ids[0]);
  EXPECT_EQ(2, ids[1]);

  com::Variant name(L"frame");
  DISPPARAMS params = {name.get(), nullptr, 1, 0};
  com::Variant greeting;
  ASSERT_EQ(S_OK, dispatch->Invoke(ids[0], IID_NULL, 0, DISPATCH_METHOD, &params, greeting.put(),
                                   nullptr, nullptr));
  ASSERT_EQ(VT_BSTR, greeting.type());
  EXPECT_STREQ(L"Hello, frame", V_BSTR(greeting.get()));

  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  com::Variant count;
  ASSERT_EQ(S_OK, dispatch->Invoke(ids[1], IID_NULL, 0, DISPATCH_PROPERTYGET, &none, count.put(),
                                   nullptr, nullptr));
  ASSERT_EQ(S_OK, count.changeType(VT_I4));
  EXPECT_EQ(1, V_I4(count.get()));
}

// A single-threaded apartment that creates a Calculator, hands it over in a
// marshalling stream and serves calls until it is told to quit.
struct Apartment {
  win32::UniqueHandle ready{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  IStream* stream = nullptr;
  HRESULT created = E_FAIL;
  DWORD threadId = 0;

  static DWORD WINAPI run(void* param) {
    auto* self = static_cast<Apartment*>(param);
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // a queue for WM_QUIT
    self->created = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(self->created)) {
      com::ComPtr<ICalculator> calc;
      self->created = calc.createInstance(CLSID_Calculator, nullptr, CLSCTX_INPROC_SERVER);
      if (SUCCEEDED(self->created))
        self->created =
            ::CoMarshalInterThreadInterfaceInStream(IID_ICalculator, calc.get(), &self->stream);
      ::SetEvent(self->ready.get());
      while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
      calc.reset();
      ::CoUninitialize();
    } else {
      ::SetEvent(self->ready.get());
    }
    return 0;
  }
};

TEST_F(ServerTest, CalledFromAnotherApartment) {
  Apartment apartment;
  win32::UniqueHandle thread(
      ::CreateThread(nullptr, 0, &Apartment::run, &apartment, 0, &apartment.threadId));
  ASSERT_TRUE(thread.valid());
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(apartment.ready.get(), 30000));
  ASSERT_EQ(S_OK, apartment.created);

  {
    com::ComPtr<ICalculator> proxy;
    ASSERT_EQ(S_OK, ::CoGetInterfaceAndReleaseStream(apartment.stream, IID_ICalculator,
                                                     proxy.putVoid()));
    LONG thread = 0;
    ASSERT_EQ(S_OK, proxy->get_ThreadId(&thread));
    EXPECT_EQ(static_cast<LONG>(apartment.threadId), thread);
    LONG sum = 0;
    ASSERT_EQ(S_OK, proxy->Add(-5, 3, &sum));
    EXPECT_EQ(-2, sum);
    com::Bstr joined;
    ASSERT_EQ(S_OK, proxy->Concat(com::Bstr(L"left-").get(), com::Bstr(L"right").get(),
                                  joined.put()));
    EXPECT_STREQ(L"left-right", joined.c_str());
    EXPECT_EQ(E_ACCESSDENIED, proxy->Fail(0));

    com::ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, proxy.as(dispatch));
    ASSERT_EQ(S_OK, invokeAdd(dispatch.get(), 7, 8, &sum));
    EXPECT_EQ(15, sum);
  }
  ::PostThreadMessageW(apartment.threadId, WM_QUIT, 0, 0);
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 30000));
}

// An outer object built with the layer that aggregates the server's Counter.
class Outer : public com::ObjectRoot, public IPersist {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<Outer, IPersist>(),
        com::entryQuery(IID_ICounter, &toInner),
        com::endOfMap()};
    return map;
  }
  static HRESULT toInner(void* object, REFIID iid, void** out) {
    return static_cast<Outer*>(object)->inner_->QueryInterface(iid, out);
  }
  HRESULT finalConstruct() {
    return ::CoCreateInstance(CLSID_Counter, controllingUnknown(), CLSCTX_INPROC_SERVER,
                              IID_IUnknown, inner_.putVoid());
  }
  STDMETHODIMP GetClassID(CLSID* id) override {
    *id = CLSID_NULL;
    return S_OK;
  }

 private:
  com::ComPtr<IUnknown> inner_;
};

TEST_F(ServerTest, AggregatedCounterAnswersThroughOuter) {
  com::ComPtr<IPersist> outer;
  ASSERT_EQ(S_OK, com::createObject<Outer>(nullptr, IID_IPersist, outer.putVoid()));
  com::ComPtr<ICounter> counter;
  ASSERT_EQ(S_OK, outer.as(counter));
  LONG count = 0;
  ASSERT_EQ(S_OK, counter->Increment(&count));
  ASSERT_EQ(S_OK, counter->Increment(&count));
  EXPECT_EQ(2, count);
  VARIANT_BOOL aggregated = VARIANT_FALSE;
  ASSERT_EQ(S_OK, counter->get_IsAggregated(&aggregated));
  EXPECT_EQ(VARIANT_TRUE, aggregated);

  // The inner interface delegates to the outer object.
  com::ComPtr<IPersist> back;
  ASSERT_EQ(S_OK, counter.as(back));
  EXPECT_EQ(outer.get(), back.get());
  EXPECT_TRUE(com::sameObject(outer.get(), counter.get()));
  com::ComPtr<IDispatch> notForwarded;
  EXPECT_EQ(E_NOINTERFACE, counter.as(notForwarded));

  // Aggregation asks for IUnknown only; a plain Counter is not aggregated.
  com::ComPtr<IUnknown> unknown;
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            ::CoCreateInstance(CLSID_Counter, outer.get(), CLSCTX_INPROC_SERVER, IID_ICounter,
                               unknown.putVoid()));
  com::ComPtr<ICounter> plain;
  ASSERT_EQ(S_OK, plain.createInstance(CLSID_Counter, nullptr, CLSCTX_INPROC_SERVER));
  ASSERT_EQ(S_OK, plain->get_IsAggregated(&aggregated));
  EXPECT_EQ(VARIANT_FALSE, aggregated);
}

TEST_F(ServerTest, CanUnloadOnlyWhenNothingLives) {
  win32::UniqueModule dll(::LoadLibraryW(serverPath().c_str()));
  ASSERT_TRUE(dll.valid());
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  auto canUnload = reinterpret_cast<CanUnload>(
      reinterpret_cast<void*>(::GetProcAddress(dll.get(), "DllCanUnloadNow")));
  ASSERT_NE(nullptr, canUnload);
  EXPECT_EQ(S_OK, canUnload());

  com::ComPtr<ICalculator> calc;
  ASSERT_EQ(S_OK, calc.createInstance(CLSID_Calculator, nullptr, CLSCTX_INPROC_SERVER));
  EXPECT_EQ(S_FALSE, canUnload());
  calc.reset();
  EXPECT_EQ(S_OK, canUnload());

  com::ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, ::CoGetClassObject(CLSID_Counter, CLSCTX_INPROC_SERVER, nullptr,
                                     IID_IClassFactory, factory.putVoid()));
  EXPECT_EQ(S_FALSE, canUnload());  // a held factory keeps the module
  ASSERT_EQ(S_OK, factory->LockServer(TRUE));
  factory.reset();
  EXPECT_EQ(S_FALSE, canUnload());  // the server lock alone keeps it too
  ASSERT_EQ(S_OK, ::CoGetClassObject(CLSID_Counter, CLSCTX_INPROC_SERVER, nullptr,
                                     IID_IClassFactory, factory.putVoid()));
  ASSERT_EQ(S_OK, factory->LockServer(FALSE));
  factory.reset();
  EXPECT_EQ(S_OK, canUnload());
}

TEST_F(ServerTest, UnregistrationRemovesWhatItWrote) {
  // Another server has since taken the version-independent ProgID over: it
  // must keep it.
  const std::wstring other = L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
  win32::UniqueRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, L"ComLayerTest.Counter\\CLSID",
                                             0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                                             nullptr));
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(other.c_str()),
                             static_cast<DWORD>((other.size() + 1) * sizeof(wchar_t))));
  key.reset();

  ASSERT_EQ(0u, runRegsvr32(L"/u /s"));
  for (const CLSID* clsid : {&CLSID_Calculator, &CLSID_Counter, &CLSID_Greeter, &CLSID_TestFaulty})
    EXPECT_FALSE(keyExists(L"CLSID\\" + com::guidText(*clsid)));
  EXPECT_FALSE(keyExists(L"ComLayerTest.Calculator.1"));
  EXPECT_FALSE(keyExists(L"ComLayerTest.Calculator"));
  EXPECT_FALSE(keyExists(L"ComLayerTest.Counter.1"));
  EXPECT_FALSE(keyExists(L"TypeLib\\" + com::guidText(LIBID_ComTestLib) + L"\\1.0"));
  EXPECT_FALSE(keyExists(L"Interface\\" + com::guidText(IID_ICalculator)));
  EXPECT_EQ(other, readText(L"ComLayerTest.Counter\\CLSID"));

  com::ComPtr<ICalculator> calc;
  EXPECT_EQ(REGDB_E_CLASSNOTREG,
            calc.createInstance(CLSID_Calculator, nullptr, CLSCTX_INPROC_SERVER));
  // Unregistering twice is harmless.
  EXPECT_EQ(0u, runRegsvr32(L"/u /s"));
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"ComLayerTest.Counter");
  ::RegDeleteKeyW(HKEY_CLASSES_ROOT, L"ComLayerTest.Counter");
}

}  // namespace
