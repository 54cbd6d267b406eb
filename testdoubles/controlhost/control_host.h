// The frame application's side of a control, for tests: a top-level window
// in which the platform's control-hosting window (AtlAxWin of atl.dll)
// hosts one control, created by ProgID or handed in, and helpers that drive
// the control's dialog by window messages as a user would. A frame that
// routes keys through the control's UI-active object hosts it in a site of
// its own instead (useOwnSite): atl.dll's site does not keep that object.
//
// Single-threaded apartment: create, drive and close a host on one thread,
// which pumps its messages (pump()).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <deque>
#include <functional>
#include <string>

#include <oleidl.h>

#include "com/ComPtr.h"

namespace control_host {

class HostedControl {
 public:
  HostedControl() = default;
  ~HostedControl() { close(); }
  HostedControl(const HostedControl&) = delete;
  HostedControl& operator=(const HostedControl&) = delete;

  // The hosting that follows (create, attach, activate) is this double's own
  // site, which keeps the object the control names when it becomes UI
  // active (IOleInPlaceFrame/IOleInPlaceUIWindow::SetActiveObject), and not
  // atl.dll's.
  void useOwnSite() { ownSite_ = true; }

  // A frame window titled caption whose client area (width x height pixels)
  // the hosting window fills, with the control of progId in it.
  HRESULT create(const wchar_t* progId, const wchar_t* caption, int width, int height);
  // The same with a control object the test made.
  HRESULT attach(IUnknown* control, const wchar_t* caption, int width, int height);

  // A frame that creates the control first and activates it later (after
  // Init, say): the control object of progId, without a site or a window.
  HRESULT createInactive(const wchar_t* progId);
  // Activates what createInactive made, as create would have.
  HRESULT activate(const wchar_t* caption, int width, int height);
  // In-place deactivation (the control's window goes, the object and its
  // site stay) and activation again in the same place.
  HRESULT deactivate();
  HRESULT reactivate();

  // A frame that drops the control without PrepareToRelease, in one of its
  // ways; the frame window and its reference stay until close().
  HRESULT closeObject();        // IOleObject::Close
  HRESULT dropSite();           // IOleObject::SetClientSite(nullptr)
  void destroyControlWindow();  // DestroyWindow on the control's own window
  // Drops the reference held here without any of that (for a control that
  // was never activated, its last reference).
  void release() { control_.reset(); }

  // Sizes the frame so that the control gets the size of its dialog
  // template (in dialog units of the control's dialog).
  void fitToDialog(int width, int height);

  IUnknown* control() const { return control_.get(); }
  template <class Interface>
  com::ComPtr<Interface> as() const {
    com::ComPtr<Interface> out;
    if (control_) control_.as(out);
    return out;
  }
  HWND frame() const { return frame_; }
  // The control's own window (IOleWindow), its dialog.
  HWND dialog() const;
  HWND item(UINT id) const;

  // What a user can do with the mouse and the keyboard. An item takes the
  // input only when it and every window up to the frame are visible and
  // enabled (a disabled button ignores a click; a modal message box disables
  // the frame); each returns whether the input reached the item.
  //
  // click: the button takes the focus, an auto check box or radio button
  // changes its state, and the button tells its parent (BM_CLICK).
  bool click(UINT id);
  // The same click, made when the thread next serves its messages: a click
  // while a call that serves messages still runs. Whether the button takes
  // it is decided then.
  void postClick(UINT id);
  // Any other act of the frame or the user, made in the same way (the
  // frame closing the control while a call serves messages, say). Calls
  // still waiting when the host closes are dropped.
  void postCall(std::function<void()> call);
  // Typing: the edit (or the edit of a combo box) takes the focus, its text
  // is selected and each character arrives as the keyboard sends it
  // (WM_CHAR), so the edit's own filters (digits only, text limit) apply.
  // A read-only edit keeps its text.
  bool typeText(UINT id, const wchar_t* text);
  // Pasting text over the whole field from the clipboard (WM_PASTE), which a
  // digits-only edit does not filter; the text limit still applies.
  bool paste(UINT id, const wchar_t* text);
  // A key pressed and released on the item (WM_KEYDOWN, WM_KEYUP), e.g. the
  // arrow keys in a list view.
  bool pressKey(UINT id, UINT virtualKey);
  // The user clicks into the item: it gets the mouse activation a click
  // gives (WM_MOUSEACTIVATE, which a control takes to become UI active) and
  // the focus.
  bool clickInto(UINT id);
  // A key pressed and released while the item has the focus, as a frame's
  // message loop routes it (own site only): each message goes to the UI-
  // active object first (IOleInPlaceActiveObject::TranslateAccelerator), and
  // one it declines (S_FALSE) is translated and dispatched. False when the
  // item cannot take input.
  bool pressKeyInFrame(UINT id, UINT virtualKey);
  // The object the control named as UI active; null while none is (own
  // site only).
  com::ComPtr<IOleInPlaceActiveObject> activeObject() const;
  bool selectListItem(UINT id, int index);  // combo or list box, with its notification
  // A list view's row selected (or none for -1) and clicked: NM_CLICK.
  bool clickListRow(UINT id, int row);
  std::wstring text(UINT id) const;
  bool enabled(UINT id) const;
  bool visible(UINT id) const;
  bool readOnly(UINT id) const;  // an edit with ES_READONLY

  // Serves the thread's pending messages (and the posted ones they cause).
  static void pump();
  // Destroys the window (the hosting window closes and releases the
  // control) and drops the reference held here.
  void close();
  bool closed() const { return frame_ == nullptr; }

 private:
  static LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HRESULT makeFrame(const wchar_t* caption, int width, int height);
  // The item when a user can reach it (see above), else null.
  HWND reachable(UINT id) const;

  bool ownSite_ = false;
  HWND frame_ = nullptr;
  HWND host_ = nullptr;
  com::ComPtr<IUnknown> container_;
  com::ComPtr<IUnknown> control_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace control_host
