// One interface marshalled for another apartment of this process, held until
// that apartment takes it.
//
// A marshalled interface holds a reference on the object until it is
// unmarshalled. A stream that is dropped without being unmarshalled must
// give that reference back (CoReleaseMarshalData), or the object lives on
// for as long as the process does. The holder does that for every stream it
// still has when it is reset or destroyed, on whatever thread that happens.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

#include "com/ComPtr.h"

namespace com {

class MarshalledInterface {
 public:
  MarshalledInterface() = default;
  ~MarshalledInterface() { reset(); }
  MarshalledInterface(const MarshalledInterface&) = delete;
  MarshalledInterface& operator=(const MarshalledInterface&) = delete;
  MarshalledInterface(MarshalledInterface&& other) noexcept : stream_(std::move(other.stream_)) {}
  MarshalledInterface& operator=(MarshalledInterface&& other) noexcept {
    if (this != &other) {
      reset();
      stream_ = std::move(other.stream_);
    }
    return *this;
  }

  // Marshals `object` as `iid` for another thread, giving back whatever was
  // held before. On failure nothing is held.
  HRESULT marshal(REFIID iid, IUnknown* object);
  // In the taking apartment: the interface, once. Nothing is held afterwards,
  // whether or not the unmarshalling succeeded.
  HRESULT unmarshal(REFIID iid, void** out);
  template <typename T>
  HRESULT unmarshal(ComPtr<T>& out) {
    out = nullptr;
    return unmarshal(__uuidof(T), out.putVoid());
  }
  // Gives the marshalled reference back without unmarshalling it.
  void reset();

  explicit operator bool() const { return static_cast<bool>(stream_); }

 private:
  ComPtr<IStream> stream_;
};

}  // namespace com
