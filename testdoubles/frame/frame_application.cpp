#include "frame_application.h"

#include "com/Bstr.h"
#include "com/Guard.h"

namespace frame_double {

namespace {

std::wstring Text(const VARIANT& value) {
  com::Variant copy;
  if (FAILED(::VariantChangeType(copy.get(), const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, VT_BSTR))) {
    return L"<vt " + std::to_wstring(V_VT(&value)) + L">";
  }
  return V_BSTR(copy.get()) ? V_BSTR(copy.get()) : L"";
}

FaultHandler& Handler() {
  static FaultHandler handler = nullptr;
  return handler;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

LONG g_expecting = 0;  // ExpectedFaults alive
LONG g_expected = 0;   // faults counted while one is

}  // namespace

// Set once, at a test program's start, before any double exists.
void setFaultHandler(FaultHandler handler) { Handler() = handler; }

void reportFault(const std::string& what) {
  if (::InterlockedCompareExchange(&g_expecting, 0, 0) > 0) {
    ::InterlockedIncrement(&g_expected);
    return;
  }
  if (FaultHandler handler = Handler()) handler(what);
}

ExpectedFaults::ExpectedFaults() : start_(::InterlockedCompareExchange(&g_expected, 0, 0)) {
  ::InterlockedIncrement(&g_expecting);
}

ExpectedFaults::~ExpectedFaults() { ::InterlockedDecrement(&g_expecting); }

LONG ExpectedFaults::count() const { return ::InterlockedCompareExchange(&g_expected, 0, 0) - start_; }

const com::InterfaceEntry* FrameApplication::interfaceMap() {
  static const com::InterfaceEntry map[] = {
      com::entry<FrameApplication, IUnknown, IFrameUserDialog>(),
      com::entry<FrameApplication, IDispatch, IFrameUserDialog>(),
      com::entryQuery(__uuidof(IFrameUserDialog), &FrameApplication::queryUserDialog),
      com::entryQuery(__uuidof(ITransferGroupProvider), &FrameApplication::queryTransferGroup),
      com::endOfMap()};
  return map;
}

HRESULT FrameApplication::queryUserDialog(void* object, REFIID, void** out) {
  auto* self = static_cast<FrameApplication*>(object);
  if (!self->offers_.userDialog) return E_NOINTERFACE;
  IFrameUserDialog* dialog = self;
  dialog->AddRef();
  *out = dialog;
  return S_OK;
}

HRESULT FrameApplication::queryTransferGroup(void* object, REFIID, void** out) {
  auto* self = static_cast<FrameApplication*>(object);
  if (!self->offers_.transferGroup) return E_NOINTERFACE;
  ITransferGroupProvider* provider = self;
  provider->AddRef();
  *out = provider;
  return S_OK;
}

void FrameApplication::queueUserDialogAnswer(const UserDialogAnswer& answer) {
  win32::CsLock hold(lock_);
  userDialogAnswers_.push_back(answer);
}

void FrameApplication::queueTransferGroupAnswer(HRESULT result, const VARIANT& ids) {
  win32::CsLock hold(lock_);
  transferGroupAnswers_.push_back({result, com::Variant(ids)});
}

std::vector<FrameCall> FrameApplication::calls() const {
  win32::CsLock hold(lock_);
  return calls_;
}

std::vector<FrameCall> FrameApplication::callsTo(const char* method) const {
  std::vector<FrameCall> out;
  for (auto& call : calls()) {
    if (call.method == method) out.push_back(call);
  }
  return out;
}

void FrameApplication::clearCalls() {
  win32::CsLock hold(lock_);
  calls_.clear();
}

void FrameApplication::record(const char* interfaceName, const char* method, std::vector<std::wstring> arguments) {
  FrameCall call;
  call.interfaceName = interfaceName;
  call.method = method;
  call.threadId = ::GetCurrentThreadId();
  call.arguments = std::move(arguments);
  win32::CsLock hold(lock_);
  calls_.push_back(std::move(call));
}

void FrameApplication::fault(const char* interfaceName, const char* method, std::vector<std::wstring> arguments) {
  std::string what = std::string(interfaceName) + " " + method;
  for (const auto& argument : arguments) what += " " + Narrow(argument);
  record(interfaceName, method, std::move(arguments));
  reportFault(what);
}

void FrameApplication::primaryInvoke(DISPID id) {
  fault("IDispatch", "Invoke", {std::to_wstring(id)});
}

std::wstring FrameApplication::answerDocument(const wchar_t* resultMessage) {
  return std::wstring(
             L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTUserMessageSchema.xml\" "
             L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><FDTUserMessage messageType=\"messageInformation\" "
             L"messageButtons=\"buttonsOk\" resultMessage=\"") +
         resultMessage + L"\"/></FDT>";
}

STDMETHODIMP FrameApplication::UserDialog(BSTR systemTag, BSTR userMessage, BSTR* answer) {
  return com::guard([&]() -> HRESULT {
    record("IFrameUserDialog", "UserDialog", {systemTag ? systemTag : L"", userMessage ? userMessage : L""});
    if (!answer) return E_POINTER;
    *answer = nullptr;
    UserDialogAnswer next{S_OK, answerDocument(L"buttonOk")};
    {
      win32::CsLock hold(lock_);
      if (!userDialogAnswers_.empty()) {
        next = userDialogAnswers_.front();
        userDialogAnswers_.pop_front();
      }
    }
    if (FAILED(next.result)) return next.result;
    return com::Bstr(next.document.c_str()).copyTo(answer) == S_OK ? next.result : E_OUTOFMEMORY;
  });
}

STDMETHODIMP FrameApplication::GetTransferGroup(VARIANT kind, VARIANT value, VARIANT* ids) {
  return com::guard([&]() -> HRESULT {
    record("ITransferGroupProvider", "GetTransferGroup", {Text(kind), Text(value)});
    if (!ids) return E_POINTER;
    ::VariantInit(ids);
    win32::CsLock hold(lock_);
    if (transferGroupAnswers_.empty()) return E_NOTIMPL;
    TransferGroupAnswer next = transferGroupAnswers_.front();
    transferGroupAnswers_.pop_front();
    if (FAILED(next.result)) return next.result;
    HRESULT hr = next.ids.copyTo(ids);
    return FAILED(hr) ? hr : next.result;
  });
}

com::ComPtr<IUnknown> createFrameApplication(FrameApplication** object) {
  return createFrameObject(object);
}

}  // namespace frame_double
