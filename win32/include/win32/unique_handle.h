// Owners for Win32 handles, keys, modules and locks.
//
// Every handle the system opens is held by one of these, so that no error
// path can leak it. They are move-only; reset() closes what is held, release()
// gives it up without closing, put() hands the slot to an API that fills it.
#pragma once

#include <windows.h>
#include <winsvc.h>

namespace win32 {

template <typename Traits>
class UniqueResource {
 public:
  using value_type = typename Traits::type;

  UniqueResource() = default;
  explicit UniqueResource(value_type value) : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  value_type get() const { return value_; }
  bool valid() const { return Traits::valid(value_); }
  explicit operator bool() const { return valid(); }

  value_type release() {
    value_type value = value_;
    value_ = Traits::invalid();
    return value;
  }
  void reset(value_type value = Traits::invalid()) {
    if (Traits::valid(value_)) Traits::close(value_);
    value_ = value;
  }
  // Closes what is held and returns the slot for an API's out-parameter.
  value_type* put() {
    reset();
    return &value_;
  }

 private:
  value_type value_ = Traits::invalid();
};

// Kernel objects whose "none" is null: events, threads, mutexes, mappings.
struct HandleTraits {
  using type = HANDLE;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(type h) { ::CloseHandle(h); }
};

// Files and pipes, whose "none" is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using type = HANDLE;
  static type invalid() { return INVALID_HANDLE_VALUE; }
  static bool valid(type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(type h) { ::CloseHandle(h); }
};

struct RegKeyTraits {
  using type = HKEY;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr; }
  static void close(type h) { ::RegCloseKey(h); }
};

struct ModuleTraits {
  using type = HMODULE;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr; }
  static void close(type h) { ::FreeLibrary(h); }
};

struct ServiceHandleTraits {
  using type = SC_HANDLE;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr; }
  static void close(type h) { ::CloseServiceHandle(h); }
};

// GDI objects (brushes, fonts, bitmaps) of one type.
template <typename Gdi>
struct GdiObjectTraits {
  using type = Gdi;
  static type invalid() { return nullptr; }
  static bool valid(type h) { return h != nullptr; }
  static void close(type h) { ::DeleteObject(h); }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueServiceHandle = UniqueResource<ServiceHandleTraits>;
using UniqueBrush = UniqueResource<GdiObjectTraits<HBRUSH>>;
using UniqueBitmap = UniqueResource<GdiObjectTraits<HBITMAP>>;

// A critical section that lives as long as its owner.
class CriticalSection {
 public:
  CriticalSection() { ::InitializeCriticalSection(&cs_); }
  ~CriticalSection() { ::DeleteCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void enter() { ::EnterCriticalSection(&cs_); }
  void leave() { ::LeaveCriticalSection(&cs_); }
  CRITICAL_SECTION* native() { return &cs_; }

 private:
  CRITICAL_SECTION cs_;
};

// Holds a critical section for one scope; unlock() leaves it early.
class CsLock {
 public:
  explicit CsLock(CriticalSection& cs) : cs_(&cs) { cs_->enter(); }
  explicit CsLock(CRITICAL_SECTION* cs) : raw_(cs) { ::EnterCriticalSection(raw_); }
  ~CsLock() { unlock(); }
  CsLock(const CsLock&) = delete;
  CsLock& operator=(const CsLock&) = delete;

  void unlock() {
    if (cs_) cs_->leave();
    if (raw_) ::LeaveCriticalSection(raw_);
    cs_ = nullptr;
    raw_ = nullptr;
  }

 private:
  CriticalSection* cs_ = nullptr;
  CRITICAL_SECTION* raw_ = nullptr;
};

}  // namespace win32
