// An interface handed to another apartment of the process through the
// process's global interface table.
//
// The interface is entered and taken under one identifier, the one the
// receiving apartment calls it by. The stub then serves what the object
// answers for that identifier. This matters for a dispatch interface (a
// frame's event sink): under its own identifier the dispatch proxy's stub
// calls the sink's Invoke; under IID_IDispatch it would call whatever the
// object's identity answers for IDispatch, which for many frames is their
// container's primary IDispatch.
//
//   com::GlobalInterface entry;
//   entry.enter(DIID_IFrameDtmEvents, sink);      // the sink's apartment
//   ... hand entry.cookie() (or the holder) to the other thread ...
//   com::ComPtr<IDispatch> proxy;
//   com::GlobalInterface::take(cookie, DIID_IFrameDtmEvents, proxy.putVoid());
//
// The holder revokes the entry when it goes or is cleared, from any
// apartment; pointers taken before stay valid.
#pragma once

#include <windows.h>
#include <objidl.h>

namespace com {

class GlobalInterface {
 public:
  GlobalInterface() = default;
  ~GlobalInterface() { revoke(); }
  GlobalInterface(GlobalInterface&& other) noexcept;
  GlobalInterface& operator=(GlobalInterface&& other) noexcept;
  GlobalInterface(const GlobalInterface&) = delete;
  GlobalInterface& operator=(const GlobalInterface&) = delete;

  // Enters object, a pointer of type iid, revoking what was entered before.
  // A null object enters nothing (S_FALSE).
  HRESULT enter(REFIID iid, IUnknown* object);
  // The entry's number, 0 when nothing is entered.
  DWORD cookie() const { return cookie_; }
  // The entered interface for the calling apartment, under the identifier
  // it was entered with; E_FAIL when nothing is entered.
  HRESULT take(void** out) const;
  // The same by number, in any apartment; iid must be the identifier the
  // interface was entered with. Cookie 0: E_FAIL.
  static HRESULT take(DWORD cookie, REFIID iid, void** out);
  void revoke();

 private:
  DWORD cookie_ = 0;
  IID iid_ = IID_NULL;
};

}  // namespace com
