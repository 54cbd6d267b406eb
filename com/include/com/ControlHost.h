// Hosting an ActiveX control inside a window: the control site of a dialog
// item that is itself a control (a device header, a footer bar).
//
// A dialog template names such an item by the host window class and the
// control's class id (or ProgID) as its text:
//
//   CONTROL "{793DE791-E17D-47C1-8D08-88CA6F8E168D}", 5027, "ComControlHost",
//           WS_CHILD | WS_VISIBLE, 0, 0, 299, 33
//
// The class is registered for the module while a ControlHostClass lives
// (hold one across the dialog's lifetime). The host window stays empty
// until CreateHostedControl makes the control it names, fresh or from stored
// state, and activates it in place over the window's client area. The
// window gives the control back when it is destroyed (Close, then the site
// is taken away).
//
// GetHostedControl answers the control of a host window by a registered
// window message, so it works for host windows of any module.
//
// Single-threaded: host windows and their controls live on one apartment
// thread.
#pragma once

#include <windows.h>
#include <objidl.h>

namespace com {

extern const wchar_t kControlHostClass[];  // "ComControlHost"

// Keeps the host window class registered for this module (counted: the
// first holder registers it, the last one removes it).
class ControlHostClass {
 public:
  ControlHostClass();
  ~ControlHostClass();
  ControlHostClass(const ControlHostClass&) = delete;
  ControlHostClass& operator=(const ControlHostClass&) = delete;

  bool registered() const { return registered_; }

 private:
  bool registered_ = false;
};

// Creates the control that the host window's text names and activates it in
// place in the window. state: the control's stored state (IPersistStreamInit
// Load), or null for a new one (InitNew). The site is given before the state
// when the control's misc status asks for it (OLEMISC_SETCLIENTSITEFIRST).
// A failure leaves the window without a control.
HRESULT CreateHostedControl(HWND host, IStream* state);

// The control a host window holds, as a new reference; E_FAIL when the
// window holds none (or is no host window).
HRESULT GetHostedControl(HWND host, IUnknown** control);

}  // namespace com
