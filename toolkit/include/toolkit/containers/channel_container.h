// The channel container: the DTM's channel objects, their list, the
// channel section of the persisted stream and the channel documents.
//
// - IevFdtChannelContainer4: consent to release, attach, properties and
//   requests to every channel, new data set, stream section, references.
//   Going online (ResetChannelParameter) asks every channel to connect; a
//   channel that connected moves the DTM online, and with no channel at all
//   the DTM is online at once.
// - IDtmChannel: the channel collection and the channel list for the frame.
// - IevFdtChannelManagement: channels added and removed at run time.
// - IevFdtChannelPersist: the ChannelCollection document and its import.
// - IevFdtChannelRelease (C++, fdtidl/ToolkitHooks.h): whether release
//   preparation may end the channels' connections.
// - Channels that answer IevFdtOwnedChannel (C++, fdtidl/ToolkitHooks.h)
//   hold the DTM without a reference: every channel object that leaves the
//   list hears OwnerGone (release, removal, a load or new data set that
//   replaces the list, the container's destructor), so that a channel the
//   frame or a child DTM still holds never reaches a DTM that has gone.
//
// Channel section (every item in the stream forms of com/StreamForm.h):
//   count VT_I4; per entry: name BSTR, class id BSTR (upper-case, no
//   braces), module text BSTR, module number VT_UI4, channel information
//   BSTR; then every channel object's own IPersistStreamInit data in list
//   order.
// A stream is untrusted: at most kMaxChannels entries, only class ids of the
// DTM's channel table are created, and a load that fails at any item (a
// channel's own Load included) changes nothing: the new list and collection
// replace the old ones only when everything was read. A channel whose own
// Save fails fails the section.
//
// ChannelContainerCore does the work; CevFDT_ChannelContainerImpl<T> binds
// it to the DTM class T (derived from CevFDT_BaseDTMImpl<T>). The class lists
// the interfaces with EV_CHANNEL_CONTAINER_ENTRIES(Class).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "fdt.h"
#include "fdtidl/ToolkitHooks.h"
#include "outside.h"
#include "toolkit.h"
#include "toolkit/dtm/base_dtm.h"

// Keys the container passes to its channels.
namespace channel_key {
constexpr ULONG kLanguage = 9984;
constexpr ULONG kGoingOnline = 9986;
constexpr ULONG kAbortConnections = 9989;
constexpr ULONG kChildrenChanged = 9991;
}  // namespace channel_key

constexpr LONG kMaxChannels = 256;

class ChannelContainerCore : public com::DispatchImpl<IevFdtChannelContainer4>,
                             public com::DispatchImpl<IDtmChannel>,
                             public com::DispatchImpl<IevFdtChannelManagement>,
                             public com::DispatchImpl<IevFdtChannelPersist>,
                             public IevFdtChannelRelease {
 public:
  ChannelContainerCore(const ChannelContainerCore&) = delete;
  ChannelContainerCore& operator=(const ChannelContainerCore&) = delete;

  // ---- IevFdtChannelContainer4 -------------------------------------------
  STDMETHODIMP CanReleaseChannels(VARIANT_BOOL* agreed) override;
  STDMETHODIMP AttachChannels(VARIANT_BOOL* done) override;
  STDMETHODIMP ResetChannelParameter() override;
  STDMETHODIMP ReleaseChannels(VARIANT_BOOL* done) override;
  STDMETHODIMP GetChannelList(VARIANT key, VARIANT value) override;
  STDMETHODIMP GetChannelByKey(VARIANT key, IUnknown** channel) override;
  STDMETHODIMP InitNewChannels(VARIANT_BOOL* done) override;
  STDMETHODIMP LoadChannelsFromStream(IStream* stream, VARIANT_BOOL* done) override;
  STDMETHODIMP SaveChannelsToStream(IStream* stream, VARIANT_BOOL* done) override;
  STDMETHODIMP GetChannelReferences(BSTR* references) override;

  // ---- IDtmChannel -------------------------------------------------------
  STDMETHODIMP GetChannelCollection(IFdtChannelCollection** collection) override;
  STDMETHODIMP GetChannels(BSTR* channelReferences, BSTR* topology) override;
  STDMETHODIMP GetChannelState(BSTR channelName, long* stateBits) override;
  STDMETHODIMP GetChannelCount(unsigned long* count) override;

  // ---- IevFdtChannelManagement -------------------------------------------
  STDMETHODIMP AddChannelByClass(BSTR name, BSTR classId, VARIANT_BOOL* done) override;
  STDMETHODIMP RemoveChannelByName(BSTR name, VARIANT_BOOL* done) override;
  STDMETHODIMP GetChannelStateValue(BSTR name, VARIANT* state) override;
  STDMETHODIMP GetChannelCountValue(VARIANT* count) override;

  // ---- IevFdtChannelPersist ----------------------------------------------
  STDMETHODIMP SaveChannelCollection(BSTR* document) override;
  STDMETHODIMP LoadChannels(BSTR document) override;
  STDMETHODIMP SetChannelsModified(VARIANT_BOOL modified) override;

  // ---- IevFdtChannelRelease ----------------------------------------------
  // Channels with connections: the user is asked (toolkit messages 3001,
  // 3002); "no" answers false. Otherwise each such channel gets request 9989
  // with an event the container keeps, and the container waits for it at
  // most the release wait while serving its messages. The event is closed
  // after the wait: a channel that signals later signals its own duplicate.
  STDMETHODIMP ConfirmChannelRelease(VARIANT_BOOL* agreed) override;
  // The longest wait for one channel's connections to end (60000 ms).
  void SetChannelReleaseWait(DWORD ms) { releaseWait_ = ms; }

  // ---- Entry operations --------------------------------------------------
  // The channel object of the entry at the index, with a reference added.
  HRESULT FindChannel(LONG index, IUnknown** channel);
  bool ChannelsModified() const { return modified_; }

 protected:
  ChannelContainerCore() = default;
  // The channels still listed hear that their owner goes.
  ~ChannelContainerCore();

  virtual BaseDtm& ContainerDtm() = 0;

 private:
  struct Entry {
    com::Bstr name;
    GUID classId = {};
    com::Bstr moduleText;
    ULONG moduleNumber = 0;
    com::Bstr information;
  };
  HRESULT AddChannel(std::vector<Entry>& entries, IFdtObjectCollection* collection,
                     const Entry& entry, VARIANT_BOOL* done);
  HRESULT AttachChannel(const Entry& entry, IUnknown* channel);
  HRESULT CreateChannelObject(BSTR name, BSTR classId, bool notify, VARIANT_BOOL* done);
  HRESULT RemoveChannel(BSTR name, bool notify, VARIANT_BOOL* done);
  bool ClassInTable(const GUID& classId) const;
  HRESULT ChannelObjects(std::vector<com::ComPtr<IUnknown>>* channels);
  // Replaces the list and the collection; the channel objects of the old
  // list hear OwnerGone.
  void ReplaceChannels(std::vector<Entry> entries, com::ComPtr<IFdtObjectCollection> collection);
  HRESULT ChannelReference(const Entry& entry, BSTR* reference);
  void SetModifiedFromSubobject();
  const Entry* FindEntry(const wchar_t* name) const;

  std::vector<Entry> entries_;
  com::ComPtr<IFdtObjectCollection> collection_;
  bool modified_ = false;
  DWORD releaseWait_ = 60000;
};

template <class T>
class CevFDT_ChannelContainerImpl : public ChannelContainerCore {
 protected:
  BaseDtm& ContainerDtm() override { return *static_cast<T*>(this); }
};

#define EV_CHANNEL_CONTAINER_ENTRIES(Class)                                                 \
  com::entry<Class, IevFdtChannelContainer4>(), com::entry<Class, IDtmChannel>(),           \
      com::entry<Class, IevFdtChannelManagement>(), com::entry<Class, IevFdtChannelPersist>(), \
      com::entry<Class, IevFdtChannelRelease>()

