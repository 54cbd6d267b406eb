// Stops every C++ exception at a COM entry point.
//
//   STDMETHODIMP Thing::Method(BSTR text) {
//     return com::guard([&]() -> HRESULT { ...; return S_OK; });
//   }
//
// ComError gives its code; std::bad_alloc gives E_OUTOFMEMORY; a thrown
// HRESULT gives itself (a thrown success code gives E_UNEXPECTED, so that a
// throw is never mistaken for success); any other std::exception gives
// E_FAIL and anything else E_UNEXPECTED.
#pragma once

#include <windows.h>

#include <utility>

namespace com {

// The HRESULT for the exception being handled; call only inside a catch.
HRESULT currentExceptionResult() noexcept;

template <typename Body>
HRESULT guard(Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return currentExceptionResult();
  }
}

}  // namespace com
