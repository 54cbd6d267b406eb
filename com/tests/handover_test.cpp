// A VARIANT handed to another thread without a COM call (VariantHandover):
// every element of an array arrives, its interfaces as proxies whose calls
// run in the giving apartment.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "com/ThreadHandover.h"
#include "com/Variant.h"
#include "message_pump.h"
#include "win32/unique_handle.h"

namespace {

// Answers DISPID_VALUE with its number and notes the thread of the call.
class Numbered : public com::ObjectRoot, public com::DispatchByIdOnly {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {com::entry<Numbered, IDispatch>(), com::endOfMap()};
    return map;
  }

  LONG number = 0;
  volatile DWORD calledOn = 0;

  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    if (!result) return E_POINTER;
    calledOn = ::GetCurrentThreadId();
    ::VariantInit(result);
    V_VT(result) = VT_I4;
    V_I4(result) = number;
    return S_OK;
  }
};

com::ComPtr<IDispatch> MakeNumbered(LONG number, Numbered** made) {
  com::ComObject<Numbered>* object = nullptr;
  if (FAILED(com::ComObject<Numbered>::create(&object))) return nullptr;
  object->number = number;
  *made = object;
  com::ComPtr<IDispatch> dispatch;
  dispatch.attach(object);
  return dispatch;
}

// What the taking thread found, element by element, as text.
struct Taking {
  com::VariantHandover* handover = nullptr;
  std::vector<std::wstring> found;
  HRESULT taken = E_FAIL;
};

std::wstring Use(const VARIANT& element) {
  switch (V_VT(&element)) {
    case VT_I4:
      return L"number " + std::to_wstring(V_I4(&element));
    case VT_BSTR:
      return std::wstring(L"text ") + (V_BSTR(&element) ? V_BSTR(&element) : L"");
    case VT_UNKNOWN:
    case VT_DISPATCH: {
      com::ComPtr<IDispatch> dispatch;
      if (!V_UNKNOWN(&element) || FAILED(dispatch.queryFrom(V_UNKNOWN(&element)))) return L"no interface";
      DISPPARAMS none{};
      com::Variant value;
      if (FAILED(dispatch->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                  value.put(), nullptr, nullptr)) ||
          value.type() != VT_I4)
        return L"call failed";
      return (V_VT(&element) == VT_DISPATCH ? L"dispatch " : L"unknown ") + std::to_wstring(V_I4(value.get()));
    }
    default:
      return L"type " + std::to_wstring(V_VT(&element));
  }
}

DWORD WINAPI TakeAndUse(void* parameter) {
  auto* taking = static_cast<Taking*>(parameter);
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  {
    com::Variant value;
    taking->taken = taking->handover->take(value.put());
    if (SUCCEEDED(taking->taken) && value.type() == (VT_ARRAY | VT_VARIANT)) {
      SAFEARRAY* array = V_ARRAY(value.get());
      LONG lower = 0, upper = -1;
      ::SafeArrayGetLBound(array, 1, &lower);
      ::SafeArrayGetUBound(array, 1, &upper);
      for (LONG index = lower; index <= upper; ++index) {
        com::Variant element;
        if (FAILED(::SafeArrayGetElement(array, &index, element.put()))) {
          taking->found.push_back(L"missing");
          continue;
        }
        taking->found.push_back(Use(element.value()));
      }
    }
  }  // the proxies go before the apartment does
  ::CoUninitialize();
  return 0;
}

// An array with interfaces in the middle and at its end, and values of
// other kinds between them: the other thread uses every element, and every
// call through an interface runs here, in the objects' own apartment (a
// pointer handed over unmarshalled would be called on the other thread).
TEST(VariantHandoverTest, EveryElementOfAnArrayThatEndsWithAnInterfaceArrivesUsable) {
  ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  {
    Numbered *first = nullptr, *middle = nullptr, *last = nullptr;
    com::ComPtr<IDispatch> firstObject = MakeNumbered(1, &first);
    com::ComPtr<IDispatch> middleObject = MakeNumbered(2, &middle);
    com::ComPtr<IDispatch> lastObject = MakeNumbered(3, &last);
    ASSERT_TRUE(firstObject && middleObject && lastObject);

    SAFEARRAYBOUND bound{5, 0};
    com::Variant array;
    V_VT(array.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(array.get()) = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
    ASSERT_NE(nullptr, V_ARRAY(array.get()));
    com::Variant elements[5] = {com::Variant(LONG{7}), com::Variant(static_cast<IUnknown*>(firstObject.get())),
                                com::Variant(L"between"), com::Variant(middleObject.get()),
                                com::Variant(static_cast<IUnknown*>(lastObject.get()))};
    for (LONG i = 0; i < 5; ++i)
      ASSERT_EQ(S_OK, ::SafeArrayPutElement(V_ARRAY(array.get()), &i, elements[i].get()));

    com::VariantHandover handover;
    ASSERT_EQ(S_OK, handover.pack(array.value()));
    Taking taking;
    taking.handover = &handover;
    win32::UniqueHandle thread(::CreateThread(nullptr, 0, &TakeAndUse, &taking, 0, nullptr));
    ASSERT_TRUE(thread);
    // The calls from the other thread are served while this one waits.
    ASSERT_TRUE(
        testsupport::PumpUntil([&] { return ::WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0; }, 10000));

    EXPECT_EQ(S_OK, taking.taken);
    const std::vector<std::wstring> expected = {L"number 7", L"unknown 1", L"text between", L"dispatch 2",
                                                L"unknown 3"};
    EXPECT_EQ(expected, taking.found);
    for (Numbered* object : {first, middle, last}) EXPECT_EQ(::GetCurrentThreadId(), static_cast<DWORD>(object->calledOn)) << object->number;
  }
  ::CoUninitialize();
}

}  // namespace
