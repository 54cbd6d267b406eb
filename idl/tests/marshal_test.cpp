// Interfaces of the toolkit, of the frame and of the DTM cross from one
// single-threaded apartment to another through the typelib marshaller:
// texts, flags, success codes, VARIANT arrays and out parameters of every
// width arrive intact, and the call runs on the object's own thread.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

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
      index = 1;
      SafeArrayGetElement(argument.parray, &index, &element);
      if (element.vt == VT_BSTR) secondElement = element.bstrVal;
      VariantClear(&element);
    }
    return S_OK;
  }
  STDMETHODIMP ThreadMessageLoop() override { return E_NOTIMPL; }
  STDMETHODIMP SetTimeout(VARIANT) override { return E_NOTIMPL; }

  VARTYPE codeVt = VT_EMPTY, argumentVt = VT_EMPTY;
  ULONG codeValue = 0, firstElement = 0;
  LONG upperBound = -1;
  std::wstring secondElement;
};

class FrameEvents : public Stub<IFrameDtmEvents> {
 public:
  STDMETHODIMP OnParameterChanged(BSTR, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP OnErrorMessage(BSTR, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP OnProgress(BSTR tag, BSTR title, short percentValue, VARIANT_BOOL showValue) override {
    called();
    systemTag = tag;
    text = title;
    percent = percentValue;
    show = showValue;
    return S_OK;
  }
  STDMETHODIMP OnUploadFinished(BSTR, VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP OnDownloadFinished(BSTR, VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP OnApplicationClosed(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP OnFunctionChanged(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP OnChannelFunctionChanged(BSTR, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP OnPrint(BSTR, BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP OnNavigation(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP OnOnlineStateChanged(BSTR, VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP OnPreparedToRelease(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP OnPreparedToReleaseCommunication(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP OnInvokedFunctionFinished(BSTR, VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP OnScanResponse(BSTR, BSTR) override { return E_NOTIMPL; }

  std::wstring systemTag, text;
  short percent = 0;
  VARIANT_BOOL show = VARIANT_FALSE;
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

// A second single-threaded apartment that owns one object: it creates the
// object, marshals it into a stream and serves calls until it is stopped.
class Apartment {
 public:
  template <class Object>
  Apartment(Object* object, const IID& iid) : object_(object), iid_(iid) {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &Apartment::run, this, 0, &threadId_);
  }
  ~Apartment() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    if (WaitForSingleObject(thread_, 10000) != WAIT_OBJECT_0) TerminateThread(thread_, 1);
    CloseHandle(thread_);
    CloseHandle(ready_);
  }

  // A proxy for the caller's apartment; null when the other side failed.
  template <class Interface>
  Interface* proxy() {
    if (WaitForSingleObject(ready_, 10000) != WAIT_OBJECT_0 || !stream_) return nullptr;
    Interface* out = nullptr;
    marshalResult_ = CoGetInterfaceAndReleaseStream(stream_, iid_, reinterpret_cast<void**>(&out));
    stream_ = nullptr;
    return out;
  }

  DWORD threadId() const { return threadId_; }
  HRESULT marshalResult() const { return marshalResult_; }

 private:
  static DWORD WINAPI run(void* self) {
    auto* apartment = static_cast<Apartment*>(self);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // a message queue
    apartment->marshalResult_ =
        CoMarshalInterThreadInterfaceInStream(apartment->iid_, apartment->object_, &apartment->stream_);
    SetEvent(apartment->ready_);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    apartment->object_->Release();
    CoUninitialize();
    return 0;
  }

  IUnknown* object_;
  IID iid_;
  IStream* stream_ = nullptr;
  HRESULT marshalResult_ = E_FAIL;
  HANDLE ready_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
};

class MarshalTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // The DTM's library, the stand-in FDT library and the toolkit library.
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    for (int resource : {1, 3, 4}) {
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
    Apartment apartment(object, IID_IevFdtTranslation);
    IevFdtTranslation* proxy = apartment.proxy<IevFdtTranslation>();
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

// The DTM hands commands to its worker thread as (code, argument) with the
// argument a VARIANT array holding a handle and a text.
TEST_F(MarshalTest, WorkerCommandCarriesVariantArray) {
  auto* object = new DtmThread;
  object->AddRef();
  {
    Apartment apartment(object, IID_IevFdtDtmThread);
    IevFdtDtmThread* proxy = apartment.proxy<IevFdtDtmThread>();
    ASSERT_NE(proxy, nullptr) << std::hex << apartment.marshalResult();

    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    ASSERT_NE(array, nullptr);
    LONG index = 0;
    VARIANT element;
    element.vt = VT_UI4;
    element.ulVal = 0xCAFE0001u;
    SafeArrayPutElement(array, &index, &element);
    index = 1;
    element.vt = VT_BSTR;
    element.bstrVal = SysAllocString(L"frame object");
    SafeArrayPutElement(array, &index, &element);
    VariantClear(&element);

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
    EXPECT_EQ(object->secondElement, L"frame object");
    VariantClear(&argument);
    proxy->Release();
  }
  object->Release();
}

// The worker thread sends progress to the frame's event sink.
TEST_F(MarshalTest, FrameSinkReceivesProgressFromAnotherApartment) {
  auto* object = new FrameEvents;
  object->AddRef();
  {
    Apartment apartment(object, IID_IFrameDtmEvents);
    IFrameDtmEvents* proxy = apartment.proxy<IFrameDtmEvents>();
    ASSERT_NE(proxy, nullptr) << std::hex << apartment.marshalResult();
    BSTR tag = SysAllocString(L"DTM 1");
    BSTR title = SysAllocString(L"Download");
    EXPECT_EQ(proxy->OnProgress(tag, title, -1, VARIANT_TRUE), S_OK);
    EXPECT_EQ(proxy->OnProgress(tag, title, 100, VARIANT_FALSE), S_OK);
    EXPECT_EQ(object->calledOn, apartment.threadId());
    EXPECT_EQ(object->systemTag, L"DTM 1");
    EXPECT_EQ(object->text, L"Download");
    EXPECT_EQ(object->percent, 100);
    EXPECT_EQ(object->show, VARIANT_FALSE);
    SysFreeString(tag);
    SysFreeString(title);
    proxy->Release();
  }
  object->Release();
}

// A control reads a found device from the channel: nine out parameters of
// byte, 32-bit and text types.
TEST_F(MarshalTest, ChannelDeviceInfoOutParametersArrive) {
  auto* object = new Channel;
  object->AddRef();
  {
    Apartment apartment(object, IID_IHART_Channel);
    IHART_Channel* proxy = apartment.proxy<IHART_Channel>();
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

}  // namespace
