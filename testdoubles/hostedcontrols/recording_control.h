// What the doubles of the two outside controls (device header, footer bar)
// tell a test: every call they got, in order, one line each.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/ControlHost.h"

// Asked of a hosted double in the test's own apartment (C++ only, never
// through a proxy).
struct IRecordingControl : public IUnknown {
  // The calls so far, one line each ("SetCommand 1 4"); a new BSTR.
  virtual HRESULT STDMETHODCALLTYPE GetCalls(BSTR* calls) = 0;
  virtual HRESULT STDMETHODCALLTYPE ClearCalls() = 0;

 protected:
  ~IRecordingControl() = default;
};
// {5E0C7A41-93D2-4B8E-A6F1-2C4D8B9E0F13}
inline const IID IID_IRecordingControl = {
    0x5e0c7a41, 0x93d2, 0x4b8e, {0xa6, 0xf1, 0x2c, 0x4d, 0x8b, 0x9e, 0x0f, 0x13}};
__CRT_UUID_DECL(IRecordingControl, 0x5e0c7a41, 0x93d2, 0x4b8e, 0xa6, 0xf1, 0x2c, 0x4d, 0x8b, 0x9e,
                0x0f, 0x13)

// The calls of the double that a dialog item hosts ("<no control>" or "<not a
// double>" otherwise).
inline std::wstring RecordedCalls(HWND item) {
  com::ComPtr<IUnknown> hosted;
  if (FAILED(com::GetHostedControl(item, hosted.put()))) return L"<no control>";
  com::ComPtr<IRecordingControl> recording;
  if (FAILED(hosted.as(recording))) return L"<not a double>";
  com::Bstr calls;
  recording->GetCalls(calls.put());
  return calls.c_str();
}
