// Online work on the DTM's device parameters (kind 1): upload and download
// of the whole set, the DTM's compare with the device, the device status,
// applying a device document's exported variables, and the FDT interfaces
// IDtmOnlineDiagnosis and IDtmOnlineParameter that start them.
//
// A DTM class derives from CevFDT_OnlineTransferImpl<Class> (Class derives
// from the base DTM and the parameter handler) and lists
// EV_ONLINE_TRANSFER_ENTRIES(Class) in its interface map. The base DTM's
// UploadRequest, CompareDeviceParameters(Ex), ApplyExportedVariables, the
// handler's download request and IDtmParameter::SetParameters reach this
// part through IevFdtOnlineTransfer.
//
// IDtmOnlineParameter is answered from QueryInterface: a frame has no other
// way to reach its download, upload and cancel requests.
//
// Threads: everything runs in the DTM object's apartment. The worker thread
// starts the transfers through the marshalled handler and base DTM; a device
// read or write may serve further calls of this apartment while it waits
// (the cancel request among them), so the loops re-read their state after
// every device call.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <vector>

#include "com/Dispatch.h"
#include "fdt.h"
#include "toolkit/dtm/base_dtm.h"
#include "toolkit/online/transfer_interface.h"
#include "toolkit/params/param_handler.h"

// Toolkit messages of the transfers (the stop questions' are in base_dtm.h).
namespace transfer_message {
constexpr ULONG kUploadNotOnline = 1009;
constexpr ULONG kDownloadNotOnline = 1010;
constexpr ULONG kSetParametersFailed = 2001;
}  // namespace transfer_message

class OnlineTransferCore : public IevFdtOnlineTransfer,
                           public com::DispatchImpl<IDtmOnlineDiagnosis>,
                           public com::DispatchImpl<IDtmOnlineParameter> {
 public:
  // --- IevFdtOnlineTransfer ---
  HRESULT STDMETHODCALLTYPE DownloadParameterSet(VARIANT_BOOL* done) override;
  HRESULT STDMETHODCALLTYPE UploadParameterSet() override;
  HRESULT STDMETHODCALLTYPE CompareDevice(BSTR* text, VARIANT_BOOL* equal) override;
  HRESULT STDMETHODCALLTYPE CompareDeviceEx(const VARIANT& argument, BSTR* text,
                                            VARIANT_BOOL* equal) override;
  HRESULT STDMETHODCALLTYPE ApplyDocumentVariables(IDispatch* documentNode) override;
  HRESULT STDMETHODCALLTYPE SetParameterDocument(BSTR document, VARIANT_BOOL* result) override;

  // --- IDtmOnlineDiagnosis ---
  // The compare result is "noComparableData" for a set without a compared
  // parameter (a readable device parameter marked for the compare), where
  // the DTM's own compare would answer "notEqual" having read nothing.
  STDMETHODIMP OnlineCompare(BSTR* document) override;
  STDMETHODIMP GetDeviceStatus(BSTR* document) override;

  // --- IDtmOnlineParameter ---
  // Cancels the running upload or download of that invoke id (worker
  // command 5).
  STDMETHODIMP StartOnlineAction(BSTR invokeId, VARIANT_BOOL* done) override;
  STDMETHODIMP DownloadRequest(BSTR invokeId, BSTR parameterPath,
                               VARIANT_BOOL* accepted) override;
  STDMETHODIMP UploadRequest(BSTR invokeId, BSTR parameterPath, VARIANT_BOOL* done) override;

  // --- C++ services ---
  // Transfer bracket: while open, the data set's modified notice is held;
  // the close that ends the outermost bracket sends it once when the data
  // set was modified meanwhile. A close at depth 0 changes nothing.
  void OpenTransferBracket();
  void CloseTransferBracket();
  // The bracket held open for a scope: closed on every way out of it.
  class TransferBracket {
   public:
    explicit TransferBracket(OnlineTransferCore& owner) : owner_(owner) {
      owner_.OpenTransferBracket();
    }
    ~TransferBracket() { owner_.CloseTransferBracket(); }
    TransferBracket(const TransferBracket&) = delete;
    TransferBracket& operator=(const TransferBracket&) = delete;

   private:
    OnlineTransferCore& owner_;
  };
  ULONG TransferBracketDepth() const { return bracketDepth_; }
  bool UploadRunning() const { return uploadRunning_; }

  // Progress of item i of n with its text, through the handler's progress
  // record (CevFDT_ParameterHandlerCore::ReportTransferProgress).
  void ReportTransferProgress(ULONG index, ULONG count, const wchar_t* text);
  // Ends the progress display (percentage 0, empty text).
  void EndTransferProgress();

  // A device parameter's transfer group: the ids written or confirmed
  // together with it (mode 2 download, mode 1 upload confirmation). Without
  // a provider the parameter alone; an empty group when the provider gives
  // none.
  HRESULT TransferGroup(ULONG parameterId, LONG mode, std::vector<ULONG>* ids);

 protected:
  OnlineTransferCore() = default;
  ~OnlineTransferCore() = default;

  virtual BaseDtm& OnlineDtm() = 0;
  virtual CevFDT_ParameterHandlerCore& OnlineHandler() = 0;

 private:
  // Entry check of the online operations: S_OK when the role and the state
  // allow them.
  bool OnlineAllowed(bool compareStates);
  HRESULT DownloadLoop(VARIANT_BOOL* done);
  HRESULT UploadLoop(VARIANT_BOOL* done);
  HRESULT ConfirmUpload(const std::vector<ULONG>& ids);
  // The bulk path of an aggregating object (ITransferExtension and
  // IBulkTransfer); S_FALSE with *done false when there is none.
  HRESULT BulkTransfer(bool upload, VARIANT_BOOL* done);
  // After a failed device call: reports the device's error text and asks
  // whether to stop (AskStopTransfer); true to stop.
  bool TransferError(const ParInfo& record, TransferKind kind);
  // Takes the pending abort of this request (and clears it).
  bool TakeAbort();
  // Sends the toolkit message through the DTM's message report.
  void ReportToolkitMessage(ULONG id);
  // Visits the device parameters for the status; 0 ok, 2 error.
  ULONG ReadDeviceStatus();
  // Whether the set holds a parameter the DTM's compare reads (a readable
  // device parameter marked for the compare); true when that cannot be told.
  bool HasComparedParameter();

  ULONG bracketDepth_ = 0;
  bool bracketRunning_ = false;
  bool uploadRunning_ = false;
};

template <class T>
class CevFDT_OnlineTransferImpl : public OnlineTransferCore {
 protected:
  BaseDtm& OnlineDtm() override { return *static_cast<T*>(this); }
  CevFDT_ParameterHandlerCore& OnlineHandler() override { return *static_cast<T*>(this); }
};

#define EV_ONLINE_TRANSFER_ENTRIES(Class)                                    \
  com::entry<Class, IevFdtOnlineTransfer>(), com::entry<Class, IDtmOnlineDiagnosis>(), \
      com::entry<Class, IDtmOnlineParameter>()

// The compare and device-status documents.
HRESULT BuildCompareDocument(const wchar_t* body, BSTR* out);
HRESULT BuildCompareResult(bool equal, BSTR* out);
// The result of a compare that found no parameter to compare.
HRESULT BuildNothingComparedResult(BSTR* out);
HRESULT BuildCommunicationErrorFragment(BSTR* out);
HRESULT BuildDeviceStatusDocument(ULONG status, BSTR* out);
