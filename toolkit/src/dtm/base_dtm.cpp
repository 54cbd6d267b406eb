// The base DTM: members, IevFdtBaseDTM, the state machine with the side
// effects of every transition, message buffering, and attaching to the frame.
#include "toolkit/dtm/base_dtm.h"

#include <string>

#include "com/Guard.h"
#include "toolkit/online/transfer_interface.h"
#include "toolkit/xml/translation.h"
#include "toolkit/xml/user_messages.h"
#include "toolkit/values/va_packer.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xml_schema_lists.h"
#include "toolkit/values/text_helpers.h"
#include "base_dtm_values.h"

using base_dtm::I4;

namespace {

constexpr ULONG kInitialValueField = 0x200000;

HANDLE CreateManualResetEvent() { return ::CreateEventA(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

BaseDtm::BaseDtm()
    : communicationEvent_(CreateManualResetEvent()),
      xml_(kDtmSchemaFiles, &BaseDtm::ForwardXmlReport, this) {}

// Released without shutdown: the worker is told to end but not waited for
// (the last release may be the worker's own).
BaseDtm::~BaseDtm() { LetThreadEnd(); }

void BaseDtm::ForwardXmlReport(void* self, const char* text) {
  static_cast<BaseDtm*>(self)->ReportXmlMessage(text);
}

void BaseDtm::ReportXmlMessage(const char* text) { ReportMessage("%s", text); }

HRESULT BaseDtm::QueryDtm(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  IUnknown* dtm = GetCommDtmInterface();
  if (!dtm) return E_NOINTERFACE;
  HRESULT hr = dtm->QueryInterface(iid, out);
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

// ---- Worker posts and messages ------------------------------------------

HRESULT BaseDtm::PostOnlineRequest(ULONG code, const wchar_t* operationId, const wchar_t* request) {
  return com::guard([&] {
    SOnlineParamData record(operationId, request);
    return PostPacked(code, record);
  });
}

bool BaseDtm::AskStopTransfer(IUnknown* dtmObject, TransferKind kind) {
  com::ComPtr<IevFdtActiveXContainer> container;
  if (!dtmObject || FAILED(container.queryFrom(dtmObject)) || !container) return false;
  const bool upload = kind == TransferKind::Upload;
  com::Bstr question, caption;
  GetToolkitMessage(dtmObject,
                    upload ? transfer_message::kUploadStopQuestion : transfer_message::kDownloadStopQuestion,
                    ToolkitMessageUser::TransferStop, question.put());
  GetToolkitMessage(dtmObject, upload ? transfer_message::kUploadCaption : transfer_message::kDownloadCaption,
                    ToolkitMessageUser::TransferStop, caption.put());
  long answer = 0;
  if (FAILED(container->ShowUserMessage(question.get(), caption.get(),
                                        com::ui4(kStopQuestionStyle).value(), &answer)))
    return false;
  return answer == kAnswerYes;
}

bool BaseDtm::KeepReportedMessage(const wchar_t* text) {
  if (!bufferMessages_) return false;
  try {
    bufferedMessages_.push_back(text ? text : L"");
  } catch (...) {
    // A message that cannot be kept is lost; the caller goes on.
  }
  return true;
}

std::vector<std::wstring> BaseDtm::BufferedMessages() const { return bufferedMessages_; }

void BaseDtm::FlushBufferedMessages() {
  if (!bufferMessages_) return;
  bufferMessages_ = 0;
  for (const std::wstring& text : bufferedMessages_) PostText(dtm_command::kErrorMessage, text.c_str());
  bufferedMessages_.clear();
}

void BaseDtm::SetCommunicationError(const wchar_t* descriptor, const wchar_t* errorCode) {
  errorDescriptor_.reset(descriptor && *descriptor ? ::SysAllocString(descriptor) : nullptr);
  errorCode_.reset(errorCode && *errorCode ? ::SysAllocString(errorCode) : nullptr);
}

// ---- State machine -------------------------------------------------------

HRESULT BaseDtm::ClearInitialValues() {
  com::ComPtr<IevFdtParameterInfo> info = DtmInterface<IevFdtParameterInfo>();
  if (!info) return S_OK;
  const com::Variant field = com::ui4(kInitialValueField);
  const com::Variant empty;
  return base_dtm::ForEachParameter(info.get(), [&](const VARIANT& id) {
    return info->SetParameterInfo(id, *field.get(), *empty.get());
  });
}

STDMETHODIMP BaseDtm::SetState(long newState) {
  return com::guard([&]() -> HRESULT {
    const LONG old = state_;
    const bool entersOnline = old != kDtmOnline && newState == kDtmOnline;
    const bool leavesOnline = old == kDtmOnline && newState != kDtmOnline;
    if ((entersOnline || leavesOnline) && !stateSink_)
      PostNumber(dtm_command::kOnlineState, entersOnline ? 1 : 0);

    if (newState == kDtmCommunicationSet && old == kDtmConfigured) ClearInitialValues();

    state_ = newState;
    PublishState();

    if (entersOnline) SetThreadTimeout(kOnlineTimerPeriodMs);
    if (leavesOnline) SetThreadTimeout(0);

    if (stateSink_ && frameIs121_) OnStateTransition(newState, old);

    const com::Variant oldState = I4(old);
    switch (newState) {
      case kDtmPreparedToDelete:
        PostCode(dtm_state_notice::kPreparedToDelete, *oldState.get());
        break;
      case kDtmInitialised:
        FlushBufferedMessages();
        PostCode(dtm_state_notice::kInitialised, *oldState.get());
        break;
      case kDtmConfigured:
        PostCode(dtm_state_notice::kConfigured, *oldState.get());
        break;
      case kDtmCommunicationSet:
        ::SetEvent(communicationEvent_.get());
        PostCode(dtm_state_notice::kCommunicationSet, *oldState.get());
        break;
      case kDtmOnline:
        ::SetEvent(communicationEvent_.get());
        PostCode(dtm_state_notice::kOnline, *oldState.get());
        break;
      case kDtmGoingOnline:
      case kDtmGoingOffline:
        ::ResetEvent(communicationEvent_.get());
        break;
      default:
        break;
    }
    return S_OK;
  });
}

STDMETHODIMP BaseDtm::OnStateTransition(long newState, long previousState) {
  return com::guard([&]() -> HRESULT {
    if (!stateSink_ || !frameIs121_) return E_UNEXPECTED;
    if (!FdtStateName(newState) || !FdtStateName(previousState)) return S_FALSE;

    com::Variant tag;
    if (errorDescriptor_.get() || errorCode_.get()) {
      com::ComPtr<IevFdtParameterHandler4> handler = DtmInterface<IevFdtParameterHandler4>();
      if (!handler) return E_NOINTERFACE;
      HRESULT hr = handler->GetParameterValue(*com::ui4(1).get(), tag.get());
      if (FAILED(hr)) return hr;
      if (V_VT(tag.get()) != VT_BSTR) return E_UNEXPECTED;
    }
    com::Bstr document;
    HRESULT hr = BuildStateTransitionDocument(
        newState, previousState, V_VT(tag.get()) == VT_BSTR ? V_BSTR(tag.get()) : nullptr,
        errorDescriptor_.get(), errorCode_.get(), document.put());
    if (hr != S_OK) return hr;
    hr = PostText(dtm_command::kStateDocument, document.get());
    return FAILED(hr) ? hr : S_OK;
  });
}

STDMETHODIMP BaseDtm::PublishState() {
  com::ComPtr<IevFdtActiveXContainer> controls = DtmInterface<IevFdtActiveXContainer>();
  if (controls) controls->NotifyControlsState(static_cast<ULONG>(state_));
  return S_OK;
}

// ---- Accessors -----------------------------------------------------------

STDMETHODIMP BaseDtm::GetDtmState(long* state) {
  if (!state) return E_INVALIDARG;
  *state = state_;
  return S_OK;
}

STDMETHODIMP BaseDtm::GetLanguageId(long* languageId) {
  if (!languageId) return E_INVALIDARG;
  *languageId = languageId_;
  return S_OK;
}

STDMETHODIMP BaseDtm::GetSystemTag(BSTR* systemTag) {
  if (!systemTag) return E_INVALIDARG;
  *systemTag = nullptr;
  if (!systemTag_.get()) return S_OK;
  *systemTag = ::SysAllocString(systemTag_.get());
  return *systemTag ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP BaseDtm::GetDataSetReference(BSTR* reference) {
  if (!reference) return E_INVALIDARG;
  *reference = nullptr;
  BSTR source = dataSetReference_.get();
  if (!source) return S_OK;
  *reference = ::SysAllocStringByteLen(reinterpret_cast<const char*>(source),
                                       ::SysStringByteLen(source));
  return *reference ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP BaseDtm::BroadcastProperty(VARIANT propertyId, VARIANT value) {
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IevFdtChannelContainer4> channels = DtmInterface<IevFdtChannelContainer4>();
    if (channels) {
      HRESULT hr = channels->GetChannelList(propertyId, value);
      if (FAILED(hr)) return hr;
    }
    com::ComPtr<IevFdtActiveXContainer> controls = DtmInterface<IevFdtActiveXContainer>();
    if (controls) controls->SetControlsProperty(propertyId, value);
    return S_OK;
  });
}

HRESULT BaseDtm::SetChannelsProperty(ULONG key, const VARIANT& value) {
  com::ComPtr<IevFdtChannelContainer4> channels = DtmInterface<IevFdtChannelContainer4>();
  if (!channels) return S_OK;
  return channels->GetChannelList(*com::ui4(key).get(), value);
}

STDMETHODIMP BaseDtm::SetParameterValue(VARIANT_BOOL success, unsigned long parameterId,
                                        VARIANT value) {
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IevFdtParameterHandler4> handler = DtmInterface<IevFdtParameterHandler4>();
    if (!handler) return E_NOINTERFACE;
    return handler->SetParameterValue(success, *com::ui4(parameterId).get(), value, nullptr);
  });
}

STDMETHODIMP BaseDtm::LoadResourceText(VARIANT textOrId, BSTR* text) {
  if (!text) return E_INVALIDARG;
  *text = nullptr;
  return com::guard([&]() -> HRESULT {
    if (V_VT(&textOrId) == VT_BSTR) {
      *text = ::SysAllocString(V_BSTR(&textOrId) ? V_BSTR(&textOrId) : L"");
      return *text ? S_OK : E_OUTOFMEMORY;
    }
    com::Variant id;
    HRESULT hr = ::VariantChangeType(id.get(), &textOrId, 0, VT_UI4);
    if (FAILED(hr)) return hr;
    if (V_UI4(id.get()) > 0xFFFF) return E_INVALIDARG;
    wchar_t buffer[1024];
    int length = ::LoadStringW(ToolkitModule(), V_UI4(id.get()), buffer, 1024);
    if (length <= 0) return E_FAIL;
    *text = ::SysAllocStringLen(buffer, static_cast<UINT>(length));
    return *text ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT BaseDtm::LoadResourceTextOf(const char* textOrId, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const ULONG_PTR key = reinterpret_cast<ULONG_PTR>(textOrId);
  if (key > 0xFFFF) {
    return com::guard([&]() -> HRESULT {
      std::wstring text = WideFromAnsi(textOrId);
      *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      return *out ? S_OK : E_OUTOFMEMORY;
    });
  }
  return LoadResourceText(*com::ui4(static_cast<ULONG>(key)).get(), out);
}

HRESULT BaseDtm::SplitString(BSTR* text, const wchar_t* delimiters, BSTR* token, BOOL* last) {
  if (!text || !token || !last) return E_POINTER;
  const UINT length = ::SysStringLen(*text);
  if (!delimiters || length == 0) {
    *last = TRUE;
    return S_OK;
  }
  const wchar_t* begin = *text;
  UINT cut = 0;
  while (cut < length && !wcschr(delimiters, begin[cut])) ++cut;
  BSTR head = ::SysAllocStringLen(begin, cut);
  if (!head) return E_OUTOFMEMORY;
  BSTR rest = nullptr;
  const bool nothingFollows = cut + 1 >= length;
  if (cut > 0 && !nothingFollows) {
    rest = ::SysAllocStringLen(begin + cut + 1, length - cut - 1);
    if (!rest) {
      ::SysFreeString(head);
      return E_OUTOFMEMORY;
    }
  }
  ::SysFreeString(*token);
  *token = head;
  ::SysFreeString(*text);
  *text = rest;
  *last = rest ? FALSE : TRUE;
  return S_OK;
}

// ---- Attaching to the frame ----------------------------------------------

void BaseDtm::DropFrame() {
  frameEvents_.reset();
  stateSink_.reset();
  frame_.reset();
}

HRESULT BaseDtm::StoreFrame(IUnknown* frameObject) {
  if (!frameObject) return E_NOINTERFACE;
  com::ComPtr<IFrameDtmEvents> events;
  if (FAILED(frameObject->QueryInterface(__uuidof(IFrameDtmEvents), events.putVoid())) || !events)
    return E_NOINTERFACE;
  frame_.reset(frameObject);
  frameEvents_ = events;
  return S_OK;
}

STDMETHODIMP BaseDtm::EnsureSchemaCache(BSTR systemTag, IUnknown* frameObject) {
  return com::guard([&]() -> HRESULT {
    if (state_ != kDtmNewDataSet && state_ != kDtmLoadedDataSet) return E_FAIL;
    HRESULT hr = systemTag_.assign(systemTag ? systemTag : L"");
    if (FAILED(hr)) return E_OUTOFMEMORY;
    hr = StoreFrame(frameObject);
    if (FAILED(hr)) return hr;

    // The schema folder is the frame container's.
    com::ComPtr<IFrameContainer> container;
    com::Bstr folder;
    if (SUCCEEDED(frame_->QueryInterface(__uuidof(IFrameContainer), container.putVoid())) &&
        container && SUCCEEDED(container->GetXmlSchemaPath(folder.put()))) {
      hr = xml_.InitializeSchemaCache(folder.get() ? folder.get() : L"");
      if (FAILED(hr)) {
        ReportMessage("InitializeSchemaCache returned 0x%X, maybe there is a problem with MSXML.",
                      static_cast<unsigned>(hr));
        return hr;
      }
    }
    return S_OK;
  });
}

STDMETHODIMP BaseDtm::InitForDeviceType(IUnknown* frameObject) {
  return com::guard([&]() -> HRESULT {
    const bool loaded = state_ == kDtmLoadedDataSet;
    if (loaded) {
      HRESULT hr = LoadWorkingCopy(VARIANT_TRUE);
      if (FAILED(hr)) {
        ReportMessage("Could not initialize according to device type: 0x%08X!",
                      static_cast<unsigned>(hr));
        DropFrame();
        return hr;
      }
    }
    // Without its worker the DTM could send no notice and run no operation:
    // it stays where it was and says so.
    if (!StartThread()) {
      ReportMessage("Could not start the DTM's worker thread!");
      DropFrame();
      return E_FAIL;
    }
    PostRequest(dtm_command::kSetFrame, frameObject);
    SetState(loaded ? kDtmInitialised : kDtmEnvironmentSet);
    return S_OK;
  });
}

// ---- Operations of parts built elsewhere ---------------------------------

// Upload, compare and exported variables belong to the online transfer part
// (IevFdtOnlineTransfer of the DTM object); without it: E_NOTIMPL.
STDMETHODIMP BaseDtm::UploadRequest(VARIANT) {
  auto transfer = DtmInterface<IevFdtOnlineTransfer>();
  return transfer ? transfer->UploadParameterSet() : E_NOTIMPL;
}
STDMETHODIMP BaseDtm::CompareDeviceParameters(BSTR* text, VARIANT_BOOL* equal) {
  auto transfer = DtmInterface<IevFdtOnlineTransfer>();
  return transfer ? transfer->CompareDevice(text, equal) : E_NOTIMPL;
}
STDMETHODIMP BaseDtm::CompareDeviceParametersEx(VARIANT argument, BSTR* text,
                                                VARIANT_BOOL* equal) {
  auto transfer = DtmInterface<IevFdtOnlineTransfer>();
  return transfer ? transfer->CompareDeviceEx(argument, text, equal) : E_NOTIMPL;
}
STDMETHODIMP BaseDtm::EmptyOperation() { return S_OK; }
STDMETHODIMP BaseDtm::AfterChannelsReleased() { return S_OK; }
STDMETHODIMP BaseDtm::AfterWorkingCopyLoaded() { return S_OK; }
STDMETHODIMP BaseDtm::ApplyExportedVariables(IDispatch* documentNode) {
  auto transfer = DtmInterface<IevFdtOnlineTransfer>();
  return transfer ? transfer->ApplyDocumentVariables(documentNode) : S_OK;
}

// ---- Class hooks (defaults) ----------------------------------------------

HRESULT BaseDtm::OnConstruct() {
  return com::guard([&]() -> HRESULT {
    languageId_ = 0x400;
    BroadcastProperty(*com::ui4(property_id::kLanguage).get(), *I4(languageId_).get());
    CreateParameterTable();
    SetState(kDtmConstructed);
    return S_OK;
  });
}

HRESULT BaseDtm::ApplyRelationsForConfig() {
  com::ComPtr<IevFdtParameterHandler4> handler = DtmInterface<IevFdtParameterHandler4>();
  return handler ? handler->EvaluateRelations() : S_OK;
}

const DocumentListRecord* BaseDtm::GetDocumentList(size_t* count) {
  if (count) *count = 0;
  return nullptr;
}

const ChannelTableRow* BaseDtm::GetChannelTable(size_t* count) {
  if (count) *count = 0;
  return nullptr;
}
