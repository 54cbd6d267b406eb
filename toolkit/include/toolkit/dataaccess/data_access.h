// Single values of the DTM as FDT items (DTMItemListSchema documents): the
// synchronous single-instance access to the data set, and the asynchronous
// single-device access whose requests the worker thread hands to
// IevSdaHandler and whose answers go to the frame's
// IDeviceDataAccessEvents.
//
// A DTM class derives from CevFDT_DataAccessImpl<Class> (Class derives from
// the base DTM and the parameter handler) and lists
// EV_DATA_ACCESS_ENTRIES(Class) in its interface map. Items are the
// parameters: number bit 0x2000 makes one an item of the single-instance
// list, bit 0x1000 of the single-device list; the item id is the parameter
// id, hookContext the item-kind mask.
//
// IDtmSingleDeviceDataAccess is answered from QueryInterface: a frame has no
// other way to reach it.
//
// Frame sinks are called through IDispatch::Invoke with their dispatch ids,
// never through their vtables. Every text taken from a parameter or a
// request (names, descriptors, string values) is escaped in the documents.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <initializer_list>

#include "com/Dispatch.h"
#include "fdt.h"
#include "toolkit.h"
#include "toolkit/dtm/base_dtm.h"
#include "toolkit/params/param_handler.h"
#include "toolkit/xml/fdt_variant_element.h"

struct IXMLDOMNode;

// Parameter number bits that make a parameter an item.
constexpr ULONG kItemOfInstanceList = 0x2000;
constexpr ULONG kItemOfDeviceList = 0x1000;

// The request of a single-device read or write on its way to the worker:
// the invoke id and the request document.
struct SevFDT_InstanceDataRequest : public CevVAPacker {
  com::Bstr invokeId;
  com::Bstr document;

 protected:
  bool ExchangeFields() override { return ExchangeBstr(invokeId) && ExchangeBstr(document); }
};

// The item-kind elements of a mask ("others" when no bit is set).
HRESULT BuildItemKinds(ULONG mask, BSTR* out);
// An item list without items (the header and the closing lines).
HRESULT BuildEmptyItemList(BSTR* out);

class DataAccessCore : public com::DispatchImpl<IDtmSingleInstanceDataAccess>,
                       public com::DispatchImpl<IDtmSingleDeviceDataAccess>,
                       public com::DispatchImpl<IevSdaHandler> {
 public:
  // --- IDtmSingleInstanceDataAccess ---
  STDMETHODIMP GetItemList(BSTR* itemList) override;
  STDMETHODIMP Read(BSTR itemSelection, BSTR* itemValues) override;
  STDMETHODIMP Write(BSTR itemValues, BSTR* result) override;

  // --- IDtmSingleDeviceDataAccess (posts worker commands 24 to 27) ---
  STDMETHODIMP CancelRequest(BSTR invokeId, VARIANT_BOOL* result) override;
  STDMETHODIMP ItemListRequest(BSTR invokeId) override;
  STDMETHODIMP ReadRequest(BSTR invokeId, BSTR itemSelection) override;
  STDMETHODIMP WriteRequest(BSTR invokeId, BSTR itemValues) override;

  // --- IevSdaHandler (the worker's commands) ---
  STDMETHODIMP GetItemList(BSTR invokeId) override;
  STDMETHODIMP ReadItems(VARIANT request) override;
  STDMETHODIMP WriteItems(VARIANT request) override;
  STDMETHODIMP CancelRequest(BSTR invokeId) override;

  // One parameter's item description.
  HRESULT BuildItemDescription(const ParInfo& record, BSTR* out);
  // The item list of the parameters with that number bit.
  HRESULT BuildItemList(ULONG numberBit, BSTR* out);

 protected:
  DataAccessCore() = default;
  ~DataAccessCore() = default;

  virtual BaseDtm& AccessDtm() = 0;
  virtual CevFDT_ParameterHandlerCore& AccessHandler() = 0;

 private:
  // Role above observer and the DTM state one of those given.
  bool Allowed(std::initializer_list<LONG> states);
  HRESULT UnitDescription(const ParInfo& record, BSTR* out);
  HRESULT RangeDescription(const ParInfo& record, BSTR* out);
  // Sends an answer to the frame's IDeviceDataAccessEvents.
  HRESULT Answer(DISPID method, BSTR invokeId, const wchar_t* document);
  HRESULT DeviceRequest(const VARIANT& request, bool write);
};

template <class T>
class CevFDT_DataAccessImpl : public DataAccessCore {
 protected:
  BaseDtm& AccessDtm() override { return *static_cast<T*>(this); }
  CevFDT_ParameterHandlerCore& AccessHandler() override { return *static_cast<T*>(this); }
};

#define EV_DATA_ACCESS_ENTRIES(Class)                                                  \
  com::entry<Class, IDtmSingleInstanceDataAccess>(),                                  \
      com::entry<Class, IDtmSingleDeviceDataAccess>(), com::entry<Class, IevSdaHandler>()
