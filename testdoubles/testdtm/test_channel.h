// The test DTM's channel: answers the base-channel operations the channel
// container calls, records them, and persists a few bytes of its own (a
// 4-byte mark and a 32-bit value), refusing data without the mark.
//
// Test keys of PostChannelEvent (kept out of the log), values VT_UI4:
//   1  connection count
//   2  1: request 9989 signals only once key 4 came (a channel that answers
//      after its caller stopped waiting); 0: signals at once
//   3  the value it persists; kTestChannelFailingValue (test_dtm_ids.h)
//      makes a later Load of it fail
//   4  lets a held request 9989 signal
//   5  1: Save fails
// As a module channel (IevFdtChannelModule) it records the module text and
// number it is handed ("module <text> <number>") and answers the number as
// its module index, -1 before it has a module. OwnerGone is recorded too.
// ChannelRequest(9989, event) duplicates the caller's event, which is valid
// only during the call, and signals and closes the duplicate on a thread of
// its own, dropping the connections; GetChannelValue waits for that thread
// and answers 1 when the signal reached a valid handle, else the persisted
// value. ChannelRequest(9986) moves its DTM online, as a channel that
// connects at once.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "fdtidl/ToolkitHooks.h"
#include "toolkit.h"
#include "win32/unique_handle.h"

class CTestChannel : public com::ObjectRoot,
                     public com::DispatchImpl<IevFdtBaseChannel>,
                     public com::DispatchImpl<IevFdtParametersImportExport>,
                     public com::DispatchImpl<IevFdtChannelModule>,
                     public IPersistStreamInit,
                     public IevFdtOwnedChannel {
 public:
  static const com::InterfaceEntry* interfaceMap();
  HRESULT finalConstruct();
  void finalRelease();

  // IevFdtBaseChannel
  STDMETHODIMP GetConnectionCount(VARIANT* count) override;
  STDMETHODIMP Initialize(IUnknown* ownerDtm) override;
  STDMETHODIMP SetOwner(IUnknown* frameContainer) override;

  // IevFdtOwnedChannel: the owner is held without a reference.
  void STDMETHODCALLTYPE OwnerGone() override;
  STDMETHODIMP SetChannelTag(BSTR tag) override;
  STDMETHODIMP StopWorker(VARIANT_BOOL* stopped) override;
  STDMETHODIMP StartWorker() override;
  STDMETHODIMP PostChannelEvent(VARIANT key, VARIANT value) override;
  STDMETHODIMP ChannelRequest(VARIANT key, VARIANT value) override;
  // The calls received so far, one text each ("Initialize", "SetOwner",
  // "SetChannelTag <tag>", "event <key>", "request <key>", "InitNew",
  // "import", "module <text> <number>", "OwnerGone"), joined by '|'.
  STDMETHODIMP GetChannelId(VARIANT* channelId) override;
  STDMETHODIMP GetChannelTag(BSTR* tag) override;
  STDMETHODIMP GetChannelValue(long* value) override;

  // IevFdtParametersImportExport: the value as a PARAMETERS text.
  STDMETHODIMP Export(BSTR* parameters) override;
  STDMETHODIMP Import(BSTR parameters) override;

  // IevFdtChannelModule
  STDMETHODIMP SetModule(BSTR moduleText, VARIANT moduleNumber) override;
  STDMETHODIMP GetModuleIndex(long* index) override;

  // IPersistStreamInit
  STDMETHODIMP GetClassID(CLSID* classId) override;
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(IStream* stream) override;
  STDMETHODIMP Save(IStream* stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew() override;

 private:
  static DWORD WINAPI SignalLater(void* self);
  void Log(std::wstring entry);

  std::vector<std::wstring> log_;
  // The owning DTM; not held: the DTM holds its channels.
  IUnknown* owner_ = nullptr;
  com::Bstr tag_;
  volatile LONG connections_ = 0;
  bool holdSignal_ = false;
  bool failSave_ = false;
  LONG value_ = 0;
  LONG moduleIndex_ = -1;
  win32::UniqueHandle gate_;          // set by key 4
  win32::UniqueHandle releaseEvent_;  // the duplicate, signalled by the thread
  win32::UniqueHandle signaller_;
  volatile LONG signalled_ = 0;
};
