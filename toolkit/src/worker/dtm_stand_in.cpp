// The DTM as its worker keeps it: an IevFdtBaseDTM in the DTM's apartment
// that hands every call on to the DTM behind a link (com/ObjectLink.h).
//
// The worker queries its IevFdtBaseDTM once, when it starts, and keeps the
// proxy until it ends. A proxy of the DTM itself would keep the DTM alive
// for as long as its worker runs, and the worker runs until the DTM lets it
// end: a frame that released the DTM without shutting it down would never
// see it go. The worker keeps a proxy of this object instead, which holds
// the DTM only for the length of each call.
#include "toolkit/worker/dtm_thread.h"

#include "com/Guard.h"
#include "com/ObjectLink.h"

namespace {

class DtmStandIn : public com::ObjectRoot, public com::DispatchImpl<IevFdtBaseDTM> {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {com::entry<DtmStandIn, IevFdtBaseDTM>(),
                                              com::entry<DtmStandIn, IDispatch, IevFdtBaseDTM>(),
                                              com::endOfMap()};
    return map;
  }

  void SetLink(IDispatch* link) { link_ = com::ComPtr<IDispatch>(link); }

// Each method of IevFdtBaseDTM, passed on to the DTM while it is there.
#define DTM_STAND_IN_CALL(method, parameters, arguments)               \
  STDMETHODIMP method parameters override {                             \
    com::ComPtr<IevFdtBaseDTM> dtm = Target();                          \
    return dtm ? dtm->method arguments : RPC_E_DISCONNECTED;            \
  }

  DTM_STAND_IN_CALL(SetState, (LONG newState), (newState))
  DTM_STAND_IN_CALL(GetDtmState, (LONG* state), (state))
  DTM_STAND_IN_CALL(BroadcastProperty, (VARIANT id, VARIANT value), (id, value))
  DTM_STAND_IN_CALL(GetLanguageId, (LONG* id), (id))
  DTM_STAND_IN_CALL(GetSystemTag, (BSTR* tag), (tag))
  DTM_STAND_IN_CALL(SetParameterValue, (VARIANT_BOOL success, ULONG id, VARIANT value), (success, id, value))
  DTM_STAND_IN_CALL(EnsureSchemaCache, (BSTR tag, IUnknown* frame), (tag, frame))
  DTM_STAND_IN_CALL(InitForDeviceType, (IUnknown* frame), (frame))
  DTM_STAND_IN_CALL(LoadResourceText, (VARIANT textOrId, BSTR* text), (textOrId, text))
  DTM_STAND_IN_CALL(OnStateTransition, (LONG newState, LONG previousState), (newState, previousState))
  DTM_STAND_IN_CALL(SwitchAuditTrail, (VARIANT on), (on))
  DTM_STAND_IN_CALL(UploadRequest, (VARIANT request), (request))
  DTM_STAND_IN_CALL(LockDataSet, (VARIANT_BOOL count), (count))
  DTM_STAND_IN_CALL(ReleaseDataSetLock, (), ())
  DTM_STAND_IN_CALL(UnlockDataSet, (), ())
  DTM_STAND_IN_CALL(PublishState, (), ())
  DTM_STAND_IN_CALL(CompareDeviceParameters, (BSTR* text, VARIANT_BOOL* equal), (text, equal))
  DTM_STAND_IN_CALL(CompareDeviceParametersEx, (VARIANT argument, BSTR* text, VARIANT_BOOL* equal),
                    (argument, text, equal))
  DTM_STAND_IN_CALL(CreateDataCopy, (VARIANT* copy), (copy))
  DTM_STAND_IN_CALL(LoadWorkingCopy, (VARIANT_BOOL keep), (keep))
  DTM_STAND_IN_CALL(ReleaseDataSet, (), ())
  DTM_STAND_IN_CALL(SelectDeviceTypeVersion, (IDispatch* document, VARIANT_BOOL* accepted), (document, accepted))
  DTM_STAND_IN_CALL(EmptyOperation, (), ())
  DTM_STAND_IN_CALL(GetDataSetReference, (BSTR* reference), (reference))
  DTM_STAND_IN_CALL(InitChannels, (), ())
  DTM_STAND_IN_CALL(ReleaseChannels, (), ())
  DTM_STAND_IN_CALL(AfterChannelsReleased, (), ())
  DTM_STAND_IN_CALL(AfterWorkingCopyLoaded, (), ())
  DTM_STAND_IN_CALL(ApplyExportedVariables, (IDispatch* node), (node))
  DTM_STAND_IN_CALL(CheckStreamSignature, (IStream* stream, VARIANT_BOOL* valid), (stream, valid))
#undef DTM_STAND_IN_CALL

 private:
  // The DTM for one call; null once it is gone.
  com::ComPtr<IevFdtBaseDTM> Target() {
    com::ComPtr<IevFdtBaseDTM> dtm;
    com::ComPtr<IUnknown> object = com::resolveObjectLink(link_.get());
    if (object) dtm.queryFrom(object.get());
    return dtm;
  }

  com::ComPtr<IDispatch> link_;
};

}  // namespace

HRESULT CreateDtmStandIn(IDispatch* link, com::ComPtr<IUnknown>& standIn) {
  standIn = nullptr;
  if (!link) return E_INVALIDARG;
  com::ComObject<DtmStandIn>* made = nullptr;
  const HRESULT hr = com::ComObject<DtmStandIn>::create(&made);
  if (FAILED(hr)) return hr;
  made->SetLink(link);
  standIn.attach(made->identity());
  return S_OK;
}
