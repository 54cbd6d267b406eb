// Stops every C++ exception at the edge of a function the system calls
// (window, dialog, thread, timer, service and enumeration callbacks,
// exported C functions). The 32-bit build unwinds with DWARF tables, which
// cannot pass through the system's frames: an exception that leaves such a
// function ends the process in std::terminate.
//
//   INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
//     return win32::guard(INT_PTR{FALSE}, [&] { ...; return INT_PTR{TRUE}; });
//   }
//
// COM entry points use com::guard instead, which turns the exception into
// its HRESULT.
#pragma once

#include <utility>

namespace win32 {

// The body's result, or fallback when it throws.
template <typename Result, typename Body>
Result guard(Result fallback, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return fallback;
  }
}

// For a callback without a result: whatever the body throws ends there.
template <typename Body>
void guard(Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
  }
}

}  // namespace win32
