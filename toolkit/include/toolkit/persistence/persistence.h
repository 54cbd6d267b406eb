// Persistence of the DTM's data set: IPersistStreamInit,
// IPersistPropertyBag and IevFdtStorageState, and the data set's modified
// state with its notices to the frame.
//
// Persisted stream (integers little-endian; BSTR and VARIANT in the stream
// forms of com/StreamForm.h):
//   1 device-type text     BSTR
//   2 format marker        BSTR "96B32FC9-45E3-447a-A88C-C854DCBDF12B"
//   3 format stamp         VARIANT VT_BSTR "{00000003-0000-0000-0000-000000000000}"
//   4 parameter section    (param_stream.h), when the object has a handler
//   5 channel section      (channel_container.h), when it has a container
//   6 data-state word      VARIANT VT_UI4
//   7 property-map version 4 bytes, 3072 (IPersistStreamInit only)
// The property bag holds items 1 to 6 as upper-case hexadecimal text in the
// one property "DTM_DATA".
//
// A stream is untrusted: a load that fails at any byte answers a failure and
// leaves the DTM as it was (device type, parameters, channels, data state
// and DTM state); a save that fails part-way is reported as failed.
// GetSizeMax answers the size Save would write. IsDirty answers S_OK after
// InitNew and whenever the data set became modified since the last load or
// clearing save. A data set begun (InitNew) or loaded after ShutdownDtm
// starts from the parameter table the class declares, as in a new object,
// not from what the last data set left in it.
//
// PersistenceCore does the work; CevFDT_PersistXXXImpl<T> binds it to the
// DTM class T (CevFDT_BaseDTMImpl<T> and CevFDT_ParameterHandlerImpl<T>);
// T provides its class id with `static const CLSID& DtmClassId()`. The
// class lists the interfaces with EV_PERSISTENCE_ENTRIES(Class).
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "com/Dispatch.h"
#include "toolkit.h"
#include "toolkit/dtm/base_dtm.h"

class PersistenceCore : public IPersistStreamInit,
                        public IPersistPropertyBag,
                        public com::DispatchImpl<IevFdtStorageState> {
 public:
  PersistenceCore(const PersistenceCore&) = delete;
  PersistenceCore& operator=(const PersistenceCore&) = delete;

  // IPersist (both interfaces)
  STDMETHODIMP GetClassID(CLSID* classId) override;
  // IPersistStreamInit
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(IStream* stream) override;
  STDMETHODIMP Save(IStream* stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew() override;
  // IPersistPropertyBag
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* errorLog) override;
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAllProperties) override;

  // IevFdtStorageState
  STDMETHODIMP SetModified(long modified) override;
  STDMETHODIMP GetModified(long* modified) override;
  STDMETHODIMP LoadFromStream(IStream* stream) override;
  STDMETHODIMP SaveToStream(IStream* stream) override;
  STDMETHODIMP LoadFromPropertyBag(IPropertyBag* bag, IErrorLog* errorLog) override;
  STDMETHODIMP SaveToPropertyBag(IPropertyBag* bag) override;

  // Items 1 to 6.
  HRESULT SaveDataSetToStream(IStream* stream, VARIANT_BOOL* done);
  HRESULT LoadDataSetFromStream(IStream* stream, VARIANT_BOOL* done);
  HRESULT InitNewDataSet(VARIANT_BOOL* done);
  // The body of SetModified; 0 also sends the frame the
  // OnParameterChangedDocument of the saved or loaded data set.
  HRESULT NotifyParameterChanged(long modified);

  // While held, a modified data set does not tell the frame (the download
  // holds it and tells the frame itself).
  void HoldNotifications() { ++holds_; }
  void ReleaseNotifications() {
    if (holds_) --holds_;
  }
  bool NotificationsHeld() const { return holds_ != 0; }
  bool Modified() const { return modified_; }

 protected:
  PersistenceCore() = default;
  ~PersistenceCore() = default;

  virtual BaseDtm& PersistDtm() = 0;
  virtual const CLSID& PersistClassId() = 0;
  virtual ULONG PersistDataState() = 0;
  virtual HRESULT PersistSetDataState(ULONG state) = 0;

 private:
  HRESULT ParametersDocument(BSTR* text);
  // Items 1 to 6 (and item 7 with the version); nothing changes unless all
  // were read.
  HRESULT LoadItems(IStream* stream, bool withVersion, VARIANT_BOOL* done);

  BOOL requiresSave_ = FALSE;
  bool modified_ = false;
  ULONG holds_ = 0;
};

template <class T>
class CevFDT_PersistXXXImpl : public PersistenceCore {
 protected:
  BaseDtm& PersistDtm() override { return *static_cast<T*>(this); }
  const CLSID& PersistClassId() override { return T::DtmClassId(); }
  ULONG PersistDataState() override { return static_cast<T*>(this)->GetDataState(); }
  HRESULT PersistSetDataState(ULONG state) override {
    return static_cast<T*>(this)->SetDataState(state);
  }
};

#define EV_PERSISTENCE_ENTRIES(Class)                                                     \
  com::entry<Class, IPersistStreamInit>(), com::entryAs<Class, IPersistStreamInit>(IID_IPersist), \
      com::entry<Class, IPersistPropertyBag>(), com::entry<Class, IevFdtStorageState>()

// The format stamp of item 3.
extern const wchar_t kDataSetFormatStamp[];
