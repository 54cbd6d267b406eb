#include "child_dtm.h"

namespace devicedtm_double {

namespace {
std::wstring Text(BSTR s) { return s ? std::wstring(s, ::SysStringLen(s)) : std::wstring(); }
}  // namespace

const com::InterfaceEntry* ChildDtm::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<ChildDtm, IDtmParameter>(),
      com::entry<ChildDtm, IDispatch, com::DispatchImpl<IDtmParameter>>(),
      com::endOfMap()};
  return map;
}

void ChildDtm::setDocument(const std::wstring& document) {
  win32::CsLock hold(lock_);
  document_ = document;
}

std::wstring ChildDtm::document() const {
  win32::CsLock hold(lock_);
  return document_;
}

void ChildDtm::setSetAnswer(HRESULT result, VARIANT_BOOL accepted) {
  win32::CsLock hold(lock_);
  setResult_ = result;
  accepted_ = accepted;
}

std::vector<std::wstring> ChildDtm::readPaths() const {
  win32::CsLock hold(lock_);
  return readPaths_;
}

std::vector<std::wstring> ChildDtm::writtenDocuments() const {
  win32::CsLock hold(lock_);
  return written_;
}

STDMETHODIMP ChildDtm::GetParameters(BSTR parameterPath, BSTR* document) {
  if (!document) return E_POINTER;
  win32::CsLock hold(lock_);
  readPaths_.push_back(Text(parameterPath));
  *document = ::SysAllocStringLen(document_.c_str(), static_cast<UINT>(document_.size()));
  return *document ? S_OK : E_OUTOFMEMORY;
}

void ChildDtm::duringSetParameters(std::function<void()> call) {
  win32::CsLock hold(lock_);
  duringSet_ = std::move(call);
}

STDMETHODIMP ChildDtm::SetParameters(BSTR, BSTR document, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  std::function<void()> during;
  {
    win32::CsLock hold(lock_);
    during = duringSet_;
  }
  if (during) during();
  win32::CsLock hold(lock_);
  written_.push_back(Text(document));
  *result = accepted_;
  if (SUCCEEDED(setResult_) && accepted_) document_ = Text(document);
  return setResult_;
}

com::ComPtr<IUnknown> createChildDtm(ChildDtm** object) {
  com::ComObject<ChildDtm>* created = nullptr;
  com::ComPtr<IUnknown> identity;
  if (FAILED(com::ComObject<ChildDtm>::create(&created))) {
    if (object) *object = nullptr;
    return identity;
  }
  if (object) *object = created;
  identity.attach(created->identity());
  return identity;
}

std::wstring ChildDocument(const std::wstring& tag, int slaveAddress, const std::wstring& busCategory) {
  std::wstring doc =
      L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMParameterSchema.xml\" "
      L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
      L"<fdt:DtmDeviceType><fdt:BusCategories><fdt:BusCategory busCategory=\"" +
      busCategory +
      L"\"><fdt:CommunicationTypeEntry communicationType=\"required\"/></fdt:BusCategory>"
      L"</fdt:BusCategories></fdt:DtmDeviceType>"
      L"<DtmDevice fdt:tag=\"" +
      tag + L"\">";
  if (slaveAddress >= 0 && slaveAddress <= 255) {
    doc += L"<BusInformation><SlaveAddress slaveAddress=\"" + std::to_wstring(slaveAddress) +
           L"\"/></BusInformation>";
  }
  doc += L"</DtmDevice></FDT>";
  return doc;
}

}  // namespace devicedtm_double
