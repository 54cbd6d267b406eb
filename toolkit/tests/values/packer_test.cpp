// Packed records: layout on the wire, refused input, lists, and a packed
// record marshalled between two single-threaded apartments.
#include <gtest/gtest.h>

#include <process.h>

#include "com/ComPtr.h"
#include "test_values.h"
#include "toolkit/values/message_wait.h"
#include "toolkit/values/va_packer.h"

namespace {

// The element itself, not a copy (a copy would make a null text empty).
const VARIANT& ElementAt(const VARIANT& packed, LONG index) {
  VARIANT* element = nullptr;
  ::SafeArrayPtrOfIndex(V_ARRAY(&packed), &index, reinterpret_cast<void**>(&element));
  return *element;
}

// A VT_ARRAY|VT_VARIANT value with the given elements.
com::Variant Packed(std::initializer_list<com::Variant> elements) {
  com::Variant v;
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(elements.size()));
  LONG i = 0;
  for (const com::Variant& e : elements) {
    ::SafeArrayPutElement(array, &i, const_cast<VARIANT*>(e.get()));
    ++i;
  }
  V_VT(v.put()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(v.get()) = array;
  return v;
}

TEST(PackedRecord, OnlineParamDataLayoutAndRoundTrip) {
  SOnlineParamData data(L"A", nullptr);
  com::Variant packed;
  ASSERT_TRUE(data.PackToVariant(packed.put()));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, packed.type());
  ASSERT_EQ(3, ElementCount(V_ARRAY(packed.get())));
  const VARIANT& first = ElementAt(packed.value(), 0);
  const VARIANT& second = ElementAt(packed.value(), 1);
  const VARIANT& third = ElementAt(packed.value(), 2);
  EXPECT_EQ(L"A", TextOf(first));
  EXPECT_EQ(VT_BSTR, V_VT(&second));
  EXPECT_EQ(nullptr, V_BSTR(&second));
  EXPECT_EQ(VT_BOOL, V_VT(&third));
  EXPECT_EQ(0, V_BOOL(&third));

  data.flag = true;
  ASSERT_TRUE(data.PackToVariant(packed.put()));
  SOnlineParamData copy(L"old", L"old");
  ASSERT_TRUE(copy.UnpackFromVariant(packed.value()));
  EXPECT_STREQ(L"A", copy.operationId.c_str());
  EXPECT_EQ(nullptr, copy.request.get());
  EXPECT_TRUE(copy.flag);
}

TEST(PackedRecord, RefusesWrongTypesAndIgnoresExtraElements) {
  SParamUpdateInfo info(5, 6);
  EXPECT_FALSE(info.UnpackFromVariant(Packed({MakeI4(1), com::ui4(2)}).value()));
  EXPECT_FALSE(info.UnpackFromVariant(MakeArray(VT_I4, {1, 2}).value()));
  EXPECT_EQ(5u, info.parameterId);
  EXPECT_EQ(6u, info.period);

  EXPECT_FALSE(info.UnpackFromVariant(Packed({com::ui4(7)}).value()));  // one field missing
  EXPECT_EQ(7u, info.parameterId);                                  // the first one was taken

  ASSERT_TRUE(
      info.UnpackFromVariant(Packed({com::ui4(1000), com::ui4(250), MakeText(L"extra")}).value()));
  EXPECT_EQ(1000u, info.parameterId);
  EXPECT_EQ(250u, info.period);
}

// A record with a nested record and a signed field.
struct Outer : public CevVAPacker {
  SParamUpdateInfo inner;
  LONG count = 0;

 protected:
  bool ExchangeFields() override { return ExchangePacked(inner) && ExchangeLong(count); }
};

TEST(PackedRecord, NestedRecords) {
  Outer outer;
  outer.inner = SParamUpdateInfo(3, 4);
  outer.count = -2;
  com::Variant packed;
  ASSERT_TRUE(outer.PackToVariant(packed.put()));

  Outer back;
  ASSERT_TRUE(back.UnpackFromVariant(packed.value()));
  EXPECT_EQ(3u, back.inner.parameterId);
  EXPECT_EQ(4u, back.inner.period);
  EXPECT_EQ(-2, back.count);

  // A nested element of another type leaves the nested record as it was.
  back.inner = SParamUpdateInfo(8, 9);
  ASSERT_TRUE(back.UnpackFromVariant(Packed({MakeText(L"x"), MakeI4(1)}).value()));
  EXPECT_EQ(8u, back.inner.parameterId);
  EXPECT_EQ(1, back.count);
}

TEST(PackedList, RoundTripEmptyAndBrokenLists) {
  com::Variant packed;
  ASSERT_EQ(S_OK, PackParamUpdateList({}, packed.put()));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, packed.type());
  EXPECT_EQ(0, ElementCount(V_ARRAY(packed.get())));

  ParamUpdateList list{SParamUpdateInfo(1000, 100), SParamUpdateInfo(1001, 200),
                       SParamUpdateInfo(1010, 0)};
  ASSERT_EQ(S_OK, PackParamUpdateList(list, packed.put()));
  ParamUpdateList back;
  ASSERT_EQ(S_OK, UnpackParamUpdateList(back, packed.value()));
  ASSERT_EQ(3u, back.size());
  EXPECT_EQ(1001u, back[1].parameterId);
  EXPECT_EQ(200u, back[1].period);

  ASSERT_EQ(S_OK, UnpackParamUpdateList(back, com::Variant().value()));
  EXPECT_TRUE(back.empty());
  EXPECT_EQ(E_INVALIDARG, UnpackParamUpdateList(back, MakeI4(1).value()));

  com::Variant good;
  SParamUpdateInfo(1, 2).PackToVariant(good.put());
  ASSERT_EQ(E_FAIL, UnpackParamUpdateList(back, Packed({good, MakeI4(3)}).value()));
  ASSERT_EQ(1u, back.size());
  EXPECT_EQ(1u, back[0].parameterId);
}

// --- a packed list crossing from one apartment to another -----------------

// A minimal automation object: Invoke(1) takes a packed update list, keeps
// it, and answers a packed SOnlineParamData naming the number of records.
class Receiver : public IDispatch {
 public:
  ParamUpdateList received;
  HRESULT unpackResult = E_UNEXPECTED;
  DWORD callThread = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return ::InterlockedDecrement(&refs_); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    if (id != 1 || !params || params->cArgs != 1 || !result) return DISP_E_MEMBERNOTFOUND;
    callThread = ::GetCurrentThreadId();
    unpackResult = UnpackParamUpdateList(received, params->rgvarg[0]);
    SOnlineParamData answer(L"count", std::to_wstring(received.size()).c_str());
    answer.flag = true;
    return answer.PackToVariant(result) ? S_OK : E_FAIL;
  }

 private:
  LONG refs_ = 1;
};

struct CallerContext {
  IStream* marshalled = nullptr;
  HANDLE done = nullptr;
  HRESULT callResult = E_UNEXPECTED;
  SOnlineParamData answer;
};

unsigned __stdcall CallerThread(void* arg) {
  auto* ctx = static_cast<CallerContext*>(arg);
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    com::ComPtr<IDispatch> receiver;
    ctx->callResult = ::CoGetInterfaceAndReleaseStream(ctx->marshalled, IID_IDispatch,
                                                       reinterpret_cast<void**>(receiver.put()));
    if (SUCCEEDED(ctx->callResult)) {
      com::Variant list;
      PackParamUpdateList({SParamUpdateInfo(1000, 500), SParamUpdateInfo(980, 1000)}, list.put());
      DISPPARAMS params = {list.get(), nullptr, 1, 0};
      com::Variant result;
      ctx->callResult = receiver->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, result.put(),
                                         nullptr, nullptr);
      if (SUCCEEDED(ctx->callResult) && !ctx->answer.UnpackFromVariant(result.value()))
        ctx->callResult = E_FAIL;
    }
  }
  ::CoUninitialize();
  ::SetEvent(ctx->done);
  return 0;
}

TEST(PackedList, CrossesApartmentsThroughACall) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    Receiver receiver;
    CallerContext ctx;
    ASSERT_EQ(S_OK, ::CoMarshalInterThreadInterfaceInStream(IID_IDispatch, &receiver,
                                                            &ctx.marshalled));
    ctx.done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, CallerThread, &ctx, 0, nullptr));
    ASSERT_NE(nullptr, thread);
    // The call arrives through this thread's message queue while it waits.
    EXPECT_EQ(1, WaitWithMessageLoop(ctx.done));
    ::WaitForSingleObject(thread, 10000);
    ::CloseHandle(thread);
    ::CloseHandle(ctx.done);

    ASSERT_EQ(S_OK, ctx.callResult);
    EXPECT_EQ(::GetCurrentThreadId(), receiver.callThread);
    EXPECT_EQ(S_OK, receiver.unpackResult);
    ASSERT_EQ(2u, receiver.received.size());
    EXPECT_EQ(980u, receiver.received[1].parameterId);
    EXPECT_EQ(1000u, receiver.received[1].period);
    EXPECT_STREQ(L"count", ctx.answer.operationId.c_str());
    EXPECT_STREQ(L"2", ctx.answer.request.c_str());
    EXPECT_TRUE(ctx.answer.flag);
  }
  ::CoUninitialize();
}

}  // namespace
