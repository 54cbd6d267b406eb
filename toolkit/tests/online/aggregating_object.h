// An object that aggregates the test DTM, as an outside product may, and
// answers the optional interfaces the DTM asks its controlling unknown for:
// ITransferExtension with IBulkTransfer (the bulk path of upload and
// download) and ITransferGroupProvider (the ids written together). Every
// other interface is the DTM's own. It keeps the named lists the DTM builds
// and records what each bulk method received, checked against those lists.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Variant.h"
#include "outside.h"

namespace onlinetest {

class AggregatingObject final : public com::DispatchImpl<ITransferExtension>,
                          public com::DispatchImpl<IBulkTransfer>,
                          public com::DispatchImpl<ITransferGroupProvider> {
 public:
  // A new object with the test DTM inside; *out holds the one reference.
  static HRESULT Create(AggregatingObject** out);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // ITransferExtension: named lists of parameter ids.
  STDMETHODIMP CreateList(VARIANT name, VARIANT, VARIANT, VARIANT, VARIANT_BOOL* created) override;
  STDMETHODIMP Reserved2() override { return E_NOTIMPL; }
  STDMETHODIMP QueryList(VARIANT name, VARIANT_BOOL* exists, VARIANT_BOOL* current) override;
  STDMETHODIMP GetListNames(VARIANT, VARIANT* names, long*) override;
  STDMETHODIMP AddListMember(VARIANT name, VARIANT member, VARIANT_BOOL* added) override;
  STDMETHODIMP Reserved6() override { return E_NOTIMPL; }
  STDMETHODIMP GetListMembers(VARIANT name, VARIANT* members, long*) override;
  // IBulkTransfer: records the call; done as bulkDone says.
  STDMETHODIMP UploadList(VARIANT list, long mode, VARIANT_BOOL* done) override;
  STDMETHODIMP DownloadList(VARIANT list, long mode, VARIANT_BOOL* done) override;
  // ITransferGroupProvider: the answer set for the id in groups (mode 2
  // only), else the id alone.
  STDMETHODIMP GetTransferGroup(VARIANT mode, VARIANT id, VARIANT* ids) override;

  // What the object offers.
  bool offersBulk = false;
  bool offersGroups = false;
  // The bulk methods' answer, and QueryList's "current" for existing lists.
  VARIANT_BOOL bulkDone = VARIANT_TRUE;
  bool listsCurrent = false;

  struct BulkCall {
    std::wstring method;        // "UploadList" or "DownloadList"
    std::wstring list;          // the list the method was given (its name)
    long mode = 0;
    bool known = false;         // a list of that name had been created
    std::vector<ULONG> members;  // its members then
  };
  std::vector<BulkCall> bulkCalls;
  ULONG listsCreated = 0;
  std::map<std::wstring, std::vector<ULONG>> lists;
  // Download groups by parameter id (any VARIANT, handed out as it is).
  std::map<ULONG, com::Variant> groups;

 private:
  AggregatingObject() = default;
  ~AggregatingObject() = default;
  HRESULT Bulk(const wchar_t* method, const VARIANT& list, long mode, VARIANT_BOOL* done);

  LONG references_ = 1;
  com::ComPtr<IUnknown> inner_;
};

}  // namespace onlinetest
