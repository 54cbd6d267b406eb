// The COM error that the few raising operations throw (copying holders when
// memory runs out), and the helper that turns a failed HRESULT into it.
// Every COM entry point stops it again with com::guard (Guard.h).
#pragma once

#include <windows.h>

#include <exception>

namespace com {

class ComError : public std::exception {
 public:
  explicit ComError(HRESULT hr) : hr_(hr) {}
  HRESULT hr() const noexcept { return hr_; }
  const char* what() const noexcept override { return "COM error"; }

 private:
  HRESULT hr_;
};

// Throws ComError for a failure code; success codes pass.
inline void throwIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw ComError(hr);
}

}  // namespace com
