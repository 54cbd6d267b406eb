// Connections of device DTMs to the channel and the manager that holds them.
//
// A connection is reference-counted by everything that holds it: the
// manager while it is open, every request record that names it, every burst
// subscription. A removed connection lives on only as long as something
// still holds it, so no path ever touches a freed one.
//
// Threads: connections are made and looked up on the apartment thread and
// added, used and removed on the channel's worker; the manager and each
// connection's callback fields take their own lock. The callback crosses to
// the worker marshalled; the worker drops its proxy itself when it closes
// the connection (DropWorkerCallback), so that a connection whose last
// holder is on the apartment releases nothing of the worker's apartment, and
// a marshalled callback the worker never took is given back when the
// connection goes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Marshalled.h"
#include "fdt.h"
#include "hart/frame.h"
#include "win32/unique_handle.h"

namespace hartdtm {

// A counted reference to an object with AddRef and Release.
template <class T>
class RefPtr {
 public:
  RefPtr() = default;
  RefPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
  RefPtr(const RefPtr& other) : RefPtr(other.p_) {}
  RefPtr(RefPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  RefPtr& operator=(RefPtr other) noexcept {
    T* old = p_;
    p_ = other.p_;
    other.p_ = old;
    return *this;
  }
  ~RefPtr() { if (p_) p_->Release(); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Takes over a reference the caller already holds.
  static RefPtr Adopt(T* p) {
    RefPtr r;
    r.p_ = p;
    return r;
  }

 private:
  T* p_ = nullptr;
};

// Connection state that makes the worker skip a connection's requests.
constexpr LONG kConnectionAborted = 5;

class CHART_ChanConn {
 public:
  // A new connection with one reference held by the result.
  static RefPtr<CHART_ChanConn> Create();

  void AddRef() { ::InterlockedIncrement(&refs_); }
  void Release() {
    if (::InterlockedDecrement(&refs_) == 0) delete this;
  }

  // A new communication reference: the text of a new UUID (lower-case
  // groups 8-4-4-4-12, no braces). A UUID unique only on this computer is
  // accepted; E_FAIL when none can be made.
  HRESULT CreateReference();
  const wchar_t* Reference() const { return reference_.c_str(); }

  LONG State() const { return ::InterlockedCompareExchange(const_cast<LONG*>(&state_), 0, 0); }
  void SetState(LONG state) { ::InterlockedExchange(&state_, state); }

  // The callback the device DTM gave with its connect request.
  void SetGivenCallback(IChildCommunicationEvents* callback);
  // Apartment side of a post: marshals the given callback for the worker
  // and releases it. S_OK when the worker can reach a callback (marshalled
  // now or earlier), E_FAIL when the connection has none.
  HRESULT PrepareCallbackForWorker();
  // Worker side: unmarshals a marshalled callback once. A failure is kept
  // (CallbackFailed): the worker then cannot answer this connection.
  HRESULT UnmarshalCallback();
  // Whether the marshalled callback still waits for the worker, or the
  // worker failed to take it; false once the worker has it or it is gone.
  bool CallbackUnsettled() const;
  // The callback as the worker calls it (null before UnmarshalCallback);
  // the given one while it is still held (an abort before any request ran).
  com::ComPtr<IChildCommunicationEvents> Callback() const;
  // Releases the worker's callback (on the worker, when it closes the
  // connection and before its apartment ends).
  void DropWorkerCallback();

  bool fdt121Peer = false;

  // Identity of the connected device (written by the identification on the
  // worker before the connection joins the manager).
  uint8_t manufacturerId = 0;
  uint8_t deviceType = 0;
  uint8_t deviceId[3] = {0, 0, 0};  // most significant first
  uint8_t preambleCount = 5;
  uint8_t hartRevision = 0;

  // The five address bytes: manufacturer id, device type, device id.
  hart::LongAddress LongAddress() const;

 private:
  CHART_ChanConn() = default;
  ~CHART_ChanConn() = default;

  LONG refs_ = 0;
  LONG state_ = 0;
  com::Bstr reference_;
  mutable win32::CriticalSection lock_;
  com::ComPtr<IChildCommunicationEvents> given_;
  com::MarshalledInterface stream_;
  com::ComPtr<IChildCommunicationEvents> worker_;
  bool callbackFailed_ = false;
};

using ConnRef = RefPtr<CHART_ChanConn>;

// Whether a communication reference names a connection: exactly 36
// characters and equal ignoring the case of A to Z.
bool SameReference(const wchar_t* a, const wchar_t* b);

class CevFDT_ConnectionMgr {
 public:
  // Index of the connection with this reference, -1 when none.
  int IndexOfConnection(const wchar_t* reference) const;
  // E_INVALIDARG without out pointer, E_FAIL when absent.
  HRESULT FindConnection(const wchar_t* reference, ConnRef* out) const;
  // Refused (false) when a connection with the same reference exists.
  bool AddConnection(const ConnRef& connection);
  // E_INVALIDARG for an empty reference, E_FAIL when absent; else the
  // manager lets the connection go (holders keep it alive).
  HRESULT RemoveConnection(const wchar_t* reference);
  // Every open connection, in order.
  std::vector<ConnRef> Snapshot() const;
  size_t Count() const;
  // Whether an open connection holds this long address.
  bool HoldsLongAddress(const hart::LongAddress& address) const;
  void Clear();

 private:
  int indexOfLocked(const wchar_t* reference) const;

  mutable win32::CriticalSection lock_;
  std::vector<ConnRef> connections_;
};

}  // namespace hartdtm
