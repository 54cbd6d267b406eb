// Interfaces of the toolkit, of the frame and of the DTM cross from one
// single-threaded apartment to another through the typelib marshaller:
// texts, flags, success codes, VARIANT arrays with interfaces and out
// parameters of every width arrive intact, and the call runs on the
// object's own thread.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fdt.h"
#include "hartcommdtm.h"
#include "toolkit.h"

namespace {

// IUnknown and IDispatch of a test object; only the vtable matters here.
template <class Interface>
class Stub : public Interface {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, __uuidof(Interface))) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
  }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }

  DWORD calledOn = 0;  // thread of the last call

 protected:
  virtual ~Stub() = default;
  void called() { calledOn = GetCurrentThreadId(); }

 private:
  LONG refs_ = 1;
};

class Translation : public Stub<IevFdtTranslation> {
 public:
  STDMETHODIMP GetLocalizedText(BSTR xpath, BSTR* text, VARIANT_BOOL* found) override {
    called();
    *text = SysAllocString((std::wstring(L"text of ") + xpath).c_str());
    *found = VARIANT_TRUE;
    return S_OK;
  }
  STDMETHODIMP GetLanguageCount(long* count) override { *count = 2; return S_OK; }
  STDMETHODIMP GetLanguageIdAt(long index, ULONG* id) override {
    *id = 0x80000000u + index;  // a value that needs all 32 unsigned bits
    return S_OK;
  }
  STDMETHODIMP SelectLanguage(long, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP LoadTranslation(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP ContainsNode(BSTR, VARIANT_BOOL* exists) override {
    *exists = VARIANT_FALSE;
    return S_FALSE;
  }
};

class DtmThread : public Stub<IevFdtDtmThread> {
 public:
  STDMETHODIMP PostRequest(VARIANT code, VARIANT argument, VARIANT* result) override {
    called();
    codeVt = code.vt;
    codeValue = code.ulVal;
    argumentVt = argument.vt;
    if (argument.vt == (VT_ARRAY | VT_VARIANT)) {
      SafeArrayGetUBound(argument.parray, 1, &upperBound);
      LONG index = 0;
      VARIANT element;
      VariantInit(&element);
      SafeArrayGetElement(argument.parray, &index, &element);
      firstElement = element.ulVal;
      VariantClear(&element);
      // The owner's interface: call back into its apartment, which is
      // blocked in this very call and must still dispatch.
      index = 1;
      SafeArrayGetElement(argument.parray, &index, &element);
      if (element.vt == VT_UNKNOWN && element.punkVal) {
        IevFdtDtmEvents* owner = nullptr;
        callbackResult = element.punkVal->QueryInterface(IID_IevFdtDtmEvents,
                                                         reinterpret_cast<void**>(&owner));
        if (owner) {
          VARIANT eventCode, eventValue;
          eventCode.vt = VT_UI4;
          eventCode.ulVal = 48;
          eventValue.vt = VT_BOOL;
          eventValue.boolVal = VARIANT_FALSE;
          callbackResult = owner->OnDtmEvent(eventCode, eventValue);
          owner->Release();
        }
      }
      VariantClear(&element);
    }
    return S_OK;
  }
  STDMETHODIMP ThreadMessageLoop() override { return E_NOTIMPL; }
  STDMETHODIMP SetTimeout(VARIANT) override { return E_NOTIMPL; }

  VARTYPE codeVt = VT_EMPTY, argumentVt = VT_EMPTY;
  ULONG codeValue = 0, firstElement = 0;
  LONG upperBound = -1;
  HRESULT callbackResult = E_UNEXPECTED;
};

class DtmEvents : public Stub<IevFdtDtmEvents> {
 public:
  STDMETHODIMP OnDtmEvent(VARIANT code, VARIANT value) override {
    called();
    eventCode = code.ulVal;
    eventValue = value;
    return S_OK;
  }
  ULONG eventCode = 0;
  VARIANT eventValue = {};
};

class Channel : public Stub<IHART_Channel> {
 public:
  STDMETHODIMP GetNumberOfDevices(long* count) override { *count = 1; return S_OK; }
  STDMETHODIMP GetDeviceInfo(long index, BYTE* pollAddress, long* inUse, BSTR* tag,
                             BSTR* manufacturer, BSTR* deviceTypeText, BYTE* deviceType,
                             long* deviceId, BYTE* hardwareRevision,
                             BYTE* softwareRevision) override {
    called();
    if (index != 0) return E_INVALIDARG;
    *pollAddress = 15;
    *inUse = TRUE;
    *tag = SysAllocString(L"PT-101");
    *manufacturer = SysAllocString(L"code = 38");
    *deviceTypeText = SysAllocString(L"code = 0x2601");
    *deviceType = 0xFE;
    *deviceId = 0x00ABCDEF;
    *hardwareRevision = 1;
    *softwareRevision = 0xFF;
    return S_OK;
  }
  STDMETHODIMP StartScan() override { return E_NOTIMPL; }
  STDMETHODIMP StopScan() override { return E_NOTIMPL; }
  STDMETHODIMP IsScanFinished(long*, long*) override { return E_NOTIMPL; }
  STDMETHODIMP ChangeAddress(BYTE, BYTE) override { return E_NOTIMPL; }
  STDMETHODIMP GetChildDtmCount(ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetChildDtmInfoByIndex(ULONG, BSTR*, BSTR*, BYTE*) override { return E_NOTIMPL; }
  STDMETHODIMP GetChildDtmInfoBySysTag(BSTR, BSTR*, BYTE*) override { return E_NOTIMPL; }
  STDMETHODIMP SetDeviceDtmInfo(BSTR, BYTE, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP ChildDtmChanged(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP UpdateChildList() override { return E_NOTIMPL; }
  STDMETHODIMP GetChannelName(BSTR*) override { return E_NOTIMPL; }
};

// A second single-threaded apartment. proxyOf() hands it an object, which
// it marshals on its own thread; the caller gets a proxy, so every call on
// that proxy crosses from the caller's apartment to this one.
class Apartment {
 public:
  Apartment() {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &Apartment::run, this, 0, &threadId_);
    started_ = thread_ && WaitForSingleObject(ready_, 10000) == WAIT_OBJECT_0;
  }
  ~Apartment() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    if (WaitForSingleObject(thread_, 10000) != WAIT_OBJECT_0) TerminateThread(thread_, 1);
    CloseHandle(thread_);
    CloseHandle(ready_);
  }

  // Takes over one reference to object. Null when marshalling failed
  // (marshalResult() says why).
  template <class Interface>
  Interface* proxyOf(IUnknown* object, const IID& iid) {
    Request request{object, iid, nullptr, E_FAIL, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    Interface* out = nullptr;
    if (started_ && PostThreadMessageW(threadId_, kMarshal, 0, reinterpret_cast<LPARAM>(&request)) &&
        WaitForSingleObject(request.done, 10000) == WAIT_OBJECT_0 && request.stream) {
      request.result =
          CoGetInterfaceAndReleaseStream(request.stream, iid, reinterpret_cast<void**>(&out));
    } else {
      object->Release();
    }
    marshalResult_ = request.result;
    CloseHandle(request.done);
    return out;
  }

  DWORD threadId() const { return threadId_; }
  HRESULT marshalResult() const { return marshalResult_; }

 private:
  static constexpr UINT kMarshal = WM_APP + 1;
  struct Request {
    IUnknown* object;
    IID iid;
    IStream* stream;
    HRESULT result;
    HANDLE done;
  };

  static DWORD WINAPI run(void* self) {
    auto* apartment = static_cast<Apartment*>(self);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // a message queue
    SetEvent(apartment->ready_);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (message.message == kMarshal && !message.hwnd) {
        auto* request = reinterpret_cast<Request*>(message.lParam);
        request->result =
            CoMarshalInterThreadInterfaceInStream(request->iid, request->object, &request->stream);
        request->object->Release();
        SetEvent(request->done);
        continue;
      }
      DispatchMessageW(&message);
    }
    CoUninitialize();
    return 0;
  }

  HANDLE ready_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
  bool started_ = false;
  HRESULT marshalResult_ = E_FAIL;
};

// An object that answers one interface with a table of methods that all
// fail: enough for COM to build the interface's stub and proxy from its type
// description. It answers nothing else, so COM uses standard marshalling.
class AnyInterface {
 public:
  explicit AnyInterface(const IID& iid) : vtable_(table()), iid_(iid) {}
  IUnknown* unknown() { return reinterpret_cast<IUnknown*>(this); }

 private:
  using Method = void*;
  static Method* table() {
    static Method methods[128];
    if (!methods[0]) {
      for (Method& m : methods) m = reinterpret_cast<Method>(&notImplemented);
      methods[0] = reinterpret_cast<Method>(&queryInterface);
      methods[1] = reinterpret_cast<Method>(&addRef);
      methods[2] = reinterpret_cast<Method>(&release);
    }
    return methods;
  }
  static HRESULT STDMETHODCALLTYPE queryInterface(AnyInterface* self, REFIID iid, void** out) {
    // IDispatch too: a dispatch interface goes through the dispatch proxy,
    // whose stub asks for it.
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, self->iid_)) {
      *out = self;
      addRef(self);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  static ULONG STDMETHODCALLTYPE addRef(AnyInterface* self) { return InterlockedIncrement(&self->refs_); }
  static ULONG STDMETHODCALLTYPE release(AnyInterface* self) {
    LONG refs = InterlockedDecrement(&self->refs_);
    if (refs == 0) delete self;
    return refs;
  }
  static HRESULT STDMETHODCALLTYPE notImplemented() { return E_NOTIMPL; }

  Method* vtable_;  // first member: the object's interface pointer
  IID iid_;
  LONG refs_ = 1;
};

class MarshalTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // All four libraries: the DTM's, the scan-range control's, the stand-in
    // FDT library and the toolkit library.
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    for (int resource : {1, 2, 3, 4}) {
      std::wstring embedded = std::wstring(path) + L"\\" + std::to_wstring(resource);
      ITypeLib* lib = nullptr;
      // Registered with the resource index in the path (Wine's
      // REGKIND_REGISTER would record the bare module path).
      registered_ = SUCCEEDED(LoadTypeLibEx(embedded.c_str(), REGKIND_NONE, &lib)) &&
                    SUCCEEDED(RegisterTypeLib(lib, &embedded[0], nullptr)) && registered_;
      if (lib) lib->Release();
    }
    CoUninitialize();
  }
  void SetUp() override {
    ASSERT_TRUE(registered_);
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  }
  void TearDown() override { CoUninitialize(); }

  static bool registered_;
};
bool MarshalTest::registered_ = true;

TEST_F(MarshalTest, TranslationLookupCrossesApartments) {
  auto* object = new Translation;
  object->AddRef();  // kept for inspection after the apartment ends
  {
    Apartment apartment;
    IevFdtTranslation* proxy = apartment.proxyOf<IevFdtTranslation>(object, IID_IevFdtTranslation);
    ASSERT_NE(proxy, nullptr) << std::hex << apartment.marshalResult();
    ASSERT_NE(static_cast<void*>(proxy), static_cast<void*>(object)) << "expected a proxy";

    BSTR xpath = SysAllocString(L"localization/StringList/AboutFile");
    BSTR text = nullptr;
    VARIANT_BOOL found = VARIANT_FALSE;
    EXPECT_EQ(proxy->GetLocalizedText(xpath, &text, &found), S_OK);
    EXPECT_STREQ(text, L"text of localization/StringList/AboutFile");
    EXPECT_EQ(found, VARIANT_TRUE);
    EXPECT_EQ(object->calledOn, apartment.threadId());

    ULONG id = 0;
    EXPECT_EQ(proxy->GetLanguageIdAt(3, &id), S_OK);
    EXPECT_EQ(id, 0x80000003u);

    // A success code other than S_OK reaches the caller unchanged.
    VARIANT_BOOL exists = VARIANT_TRUE;
    EXPECT_EQ(proxy->ContainsNode(xpath, &exists), S_FALSE);
    EXPECT_EQ(exists, VARIANT_FALSE);
    // And so does a failure.
    EXPECT_EQ(proxy->LoadTranslation(xpath, &exists), E_NOTIMPL);

    SysFreeString(text);
    SysFreeString(xpath);
    proxy->Release();
  }
  object->Release();
}

// The DTM hands its own interface to its worker thread as a command whose
// argument is a VARIANT array {event handle, interface}; the worker calls
// the DTM back while the DTM waits in the command.
TEST_F(MarshalTest, WorkerCommandCarriesOwnerAndCallsBack) {
  auto* object = new DtmThread;
  object->AddRef();
  auto* owner = new DtmEvents;
  {
    Apartment apartment;
    IevFdtDtmThread* proxy = apartment.proxyOf<IevFdtDtmThread>(object, IID_IevFdtDtmThread);
    ASSERT_NE(proxy, nullptr) << std::hex << apartment.marshalResult();

    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    ASSERT_NE(array, nullptr);
    LONG index = 0;
    VARIANT element;
    element.vt = VT_UI4;
    element.ulVal = 0xCAFE0001u;
    SafeArrayPutElement(array, &index, &element);
    index = 1;
    element.vt = VT_UNKNOWN;
    element.punkVal = owner;  // the array takes its own reference
    SafeArrayPutElement(array, &index, &element);

    VARIANT code, argument, result;
    code.vt = VT_UI4;
    code.ulVal = 2;
    argument.vt = VT_ARRAY | VT_VARIANT;
    argument.parray = array;
    VariantInit(&result);
    EXPECT_EQ(proxy->PostRequest(code, argument, &result), S_OK);
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(object->calledOn, apartment.threadId());
    EXPECT_EQ(object->codeVt, VT_UI4);
    EXPECT_EQ(object->codeValue, 2u);
    EXPECT_EQ(object->argumentVt, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(object->upperBound, 1);
    EXPECT_EQ(object->firstElement, 0xCAFE0001u);
    EXPECT_EQ(object->callbackResult, S_OK);
    EXPECT_EQ(owner->calledOn, GetCurrentThreadId());
    EXPECT_EQ(owner->eventCode, 48u);
    EXPECT_EQ(owner->eventValue.vt, VT_BOOL);
    EXPECT_EQ(owner->eventValue.boolVal, VARIANT_FALSE);
    VariantClear(&argument);
    proxy->Release();
  }
  object->Release();
  owner->Release();
}

// A control reads a found device from the channel: nine out parameters of
// byte, 32-bit and text types.
TEST_F(MarshalTest, ChannelDeviceInfoOutParametersArrive) {
  auto* object = new Channel;
  object->AddRef();
  {
    Apartment apartment;
    IHART_Channel* proxy = apartment.proxyOf<IHART_Channel>(object, IID_IHART_Channel);
    ASSERT_NE(proxy, nullptr) << std::hex << apartment.marshalResult();
    BYTE poll = 0, type = 0, hardware = 0, software = 0;
    long inUse = 0, id = 0;
    BSTR tag = nullptr, manufacturer = nullptr, typeText = nullptr;
    EXPECT_EQ(proxy->GetDeviceInfo(0, &poll, &inUse, &tag, &manufacturer, &typeText, &type, &id,
                                   &hardware, &software),
              S_OK);
    EXPECT_EQ(object->calledOn, apartment.threadId());
    EXPECT_EQ(poll, 15);
    EXPECT_EQ(inUse, TRUE);
    EXPECT_STREQ(tag, L"PT-101");
    EXPECT_STREQ(manufacturer, L"code = 38");
    EXPECT_STREQ(typeText, L"code = 0x2601");
    EXPECT_EQ(type, 0xFE);
    EXPECT_EQ(id, 0x00ABCDEF);
    EXPECT_EQ(hardware, 1);
    EXPECT_EQ(software, 0xFF);
    SysFreeString(tag);
    SysFreeString(manufacturer);
    SysFreeString(typeText);

    EXPECT_EQ(proxy->GetDeviceInfo(5, &poll, &inUse, &tag, &manufacturer, &typeText, &type, &id,
                                   &hardware, &software),
              E_INVALIDARG);
    proxy->Release();
  }
  object->Release();
}

// Every interface that a library describes can be marshalled: COM builds
// its stub and its proxy from the type description alone, so a type that
// the typelib marshaller cannot carry fails here rather than at the first
// real call.
TEST_F(MarshalTest, EveryDescribedInterfaceMarshals) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::set<std::wstring> seen;
  int marshalled = 0;
  Apartment apartment;
  for (int resource : {1, 2, 3, 4}) {
    std::wstring embedded = std::wstring(path) + L"\\" + std::to_wstring(resource);
    ITypeLib* lib = nullptr;
    ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(embedded.c_str(), REGKIND_NONE, &lib));
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
      TYPEKIND kind;
      lib->GetTypeInfoType(i, &kind);
      if (kind != TKIND_DISPATCH) continue;
      ITypeInfo* info = nullptr;
      ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfo(i, &info));
      TYPEATTR* type = nullptr;
      ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&type));
      IID iid = type->guid;
      info->ReleaseTypeAttr(type);
      BSTR name = nullptr;
      info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
      std::wstring interfaceName = name ? name : L"?";
      SysFreeString(name);
      info->Release();
      if (!seen.insert(interfaceName).second) continue;

      SCOPED_TRACE(testing::Message() << "interface " << interfaceName);
      auto* object = new AnyInterface(iid);
      IUnknown* proxy = apartment.proxyOf<IUnknown>(object->unknown(), iid);
      EXPECT_NE(proxy, nullptr) << std::hex << apartment.marshalResult();
      if (proxy) {
        proxy->Release();
        ++marshalled;
      }
    }
    lib->Release();
  }
  EXPECT_GT(marshalled, 50);
}

}  // namespace
