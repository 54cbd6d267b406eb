#include "test_dtm.h"

#include <cstdarg>
#include <cstdio>

#include "com/Bstr.h"
#include "toolkit/values/safe_array.h"

void TestDtm::ReportMessage(const char* format, ...) {
  char text[4096];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  reports.push_back(text);
}

STDMETHODIMP TestDtm::GetCount(VARIANT* count) {
  V_VT(count) = VT_UI4;
  V_UI4(count) = static_cast<ULONG>(parameters.size());
  return S_OK;
}

STDMETHODIMP TestDtm::GetParameterId(VARIANT, VARIANT*) { return E_NOTIMPL; }

STDMETHODIMP TestDtm::GetParameterInfo(VARIANT id, VARIANT selector, VARIANT* value) {
  auto it = parameters.find(V_UI4(&id));
  if (it == parameters.end()) return E_FAIL;
  switch (V_I4(&selector)) {
    case kParameterInfoSubType:
      V_VT(value) = VT_I4;
      V_I4(value) = it->second.subType;
      return S_OK;
    case kParameterInfoExtra1: {
      std::vector<const char*> strings;
      for (auto& entry : it->second.entries) strings.push_back(entry.c_str());
      strings.push_back(nullptr);
      *value = CevFdtSafeArray::FromStrings(strings.data());
      return S_OK;
    }
    default:
      return E_FAIL;
  }
}

STDMETHODIMP TestDtm::SetParameterInfo(VARIANT id, VARIANT selector, VARIANT value) {
  auto it = parameters.find(V_UI4(&id));
  if (it == parameters.end()) return E_FAIL;
  switch (V_I4(&selector)) {
    case kParameterInfoText:
      it->second.text = V_BSTR(&value);
      return S_OK;
    case kParameterInfoText2:
      it->second.text2 = V_BSTR(&value);
      return S_OK;
    case kParameterInfoExtra1: {
      it->second.entries.clear();
      it->second.wideEntries.clear();
      SAFEARRAY* array = V_ARRAY(&value);
      LONG lower = 0, upper = -1;
      SafeArrayGetLBound(array, 1, &lower);
      SafeArrayGetUBound(array, 1, &upper);
      for (LONG i = lower; i <= upper; ++i) {
        BSTR entry = nullptr;
        SafeArrayGetElement(array, &i, &entry);
        char ansi[256] = {};
        WideCharToMultiByte(CP_ACP, 0, entry, -1, ansi, sizeof ansi, nullptr, nullptr);
        it->second.entries.push_back(ansi);
        it->second.wideEntries.push_back(entry ? entry : L"");
        SysFreeString(entry);
      }
      return S_OK;
    }
    default:
      return E_FAIL;
  }
}

com::ComPtr<IUnknown> CreateTestDtm(TestDtm** object) {
  com::ComObject<TestDtm>* created = nullptr;
  com::ComObject<TestDtm>::create(&created);
  *object = created;
  com::ComPtr<IUnknown> identity;
  identity.attach(created->identity());
  return identity;
}
