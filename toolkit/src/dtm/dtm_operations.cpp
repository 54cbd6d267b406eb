// IDtm and IDtm2 of the base DTM: attaching, configuration with the user
// role, communication, release and shutdown, language, the functions
// document and function calls.
#include <cstdarg>
#include <cwchar>
#include <cwctype>
#include <string>

#include "com/ComError.h"
#include "com/Guard.h"
#include "toolkit/dtm/base_dtm.h"
#include "toolkit/values/fdt_texts.h"
#include "toolkit/values/frame_events.h"
#include "toolkit/values/message_wait.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/translation.h"
#include "toolkit/xml/user_messages.h"
#include "toolkit/xml/xml_dom.h"
#include "base_dtm_values.h"

using base_dtm::ForEachParameter;

namespace {

constexpr ULONG kStorageField = 0x400;
constexpr ULONG kValueField = 0x80;
constexpr ULONG kFlagsField = 0x4000;
constexpr ULONG kWriteAccess = 0x1;
constexpr ULONG kInvalid = 0x4;

constexpr int kControlCloseWaits = 40;
constexpr DWORD kControlCloseWaitMs = 500;
constexpr ULONG kShutdownQuestion = 6001;
constexpr ULONG kShutdownCaption = 6002;
constexpr ULONG kYesNoQuestion = 0x24;

const wchar_t kFunctionsDocument[] =
    L"<?xml version=\"1.0\"?> <FDT xmlns          =\"x-schema:DTMFunctionsSchema.xml\" \t "
    L"xmlns:fdt      =\"x-schema:FDTDataTypesSchema.xml\" \t xmlns:appId "
    L"=\"x-schema:FDTApplicationIdSchema.xml\"> \t<Functions \t\tlabel    =\"Functions\" "
    L"\t\tfdt:name =\"\" \t\thelp     =\"\" \t> \t\t%s \t</Functions> </FDT>";

const wchar_t kFunctionCallDocument[] =
    L"<?xml version=\"1.0\"?> <FDT \txmlns\t\t=\"x-schema:DTMFunctionCallSchema.xml\" "
    L"\txmlns:func\t=\"x-schema:DTMFunctionsSchema.xml\" "
    L"\txmlns:appId\t=\"x-schema:FDTApplicationIdSchema.xml\" "
    L"\txmlns:ops\t=\"x-schema:FDTOperationPhaseSchema.xml\"> "
    L"\t<FDTFunctionCall func:functionId=\"%d\"/> </FDT>";

const wchar_t kStatusElement[] =
    L"<Status \ttoggle =\"%d\" \tchecked =\"%d\" \tenabled =\"%d\" \thidden =\"%d\" "
    L"\tseparator =\"%d\" />";
const wchar_t kFunctionElement[] =
    L"<Function \tlabel =\"%s\" \tfdt:name =\"%s\" \thelp =\"%s\" \thasGUI =\"%d\" "
    L"\tfunctionId =\"%d\" \tprintable=\"%d\" \tresizable=\"%d\"> \t%s </Function>";
const wchar_t kStandardFunctionElement[] =
    L"<StandardFunction \tfdt:name =\"%s\" \thelp =\"%s\" \tfunctionId =\"%d\" "
    L"\tprintableStandardFunction=\"%d\" \tresizableStandardFunction=\"%d\"> \t%s \t%s "
    L"</StandardFunction>";
const wchar_t kApplicationIdElement[] = L"<appId:ApplicationId applicationId=\"%s\"/>";
const wchar_t kDocumentElement[] = L"<Document \tlabel=\"%s\" \thelp=\"%s\" \tpath=\"%s\"> \t%s </Document>";
const wchar_t kOpenWithElement[] = L"<OpenWith programName=\"%s\" />";
const wchar_t kMimeTypeElement[] = L"<MimeType mime-type=\"%s\" />";
const wchar_t kGroupOpen[] = L"<Functions \tlabel=\"%s\" \tfdt:name=\"%s\" \thelp=\"%s\"> ";
const wchar_t kGroupClose[] = L"</Functions>";
const wchar_t kStandardGroupOpen[] = L"<StandardFunctions \tfdt:name=\"%s\" \thelp=\"%s\"> %s ";
const wchar_t kStandardGroupClose[] = L"</StandardFunctions>";

void SetResult(VARIANT_BOOL* result, bool value) {
  if (result) *result = value ? VARIANT_TRUE : VARIANT_FALSE;
}

bool InRange(LONG state, LONG low, LONG high) { return state >= low && state <= high; }

// A formatted text as a new Bstr (raises com::ComError on a failure).
com::Bstr Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  com::Bstr out;
  HRESULT hr = FormatBstrV(out.put(), format, args);
  va_end(args);
  if (FAILED(hr)) throw com::ComError(hr);
  return out;
}

com::Bstr Escaped(const wchar_t* text) {
  com::Bstr out;
  HRESULT hr = EscapeXmlText(text, out.put());
  if (FAILED(hr)) throw com::ComError(hr);
  return out;
}

// Reads an integer parameter field through IevFdtParameterInfo.
HRESULT ReadField(IevFdtParameterInfo* info, const VARIANT& id, ULONG field, ULONG* out) {
  com::Variant value;
  HRESULT hr = info->GetParameterInfo(id, *com::ui4(field).get(), value.get());
  if (FAILED(hr)) return hr;
  hr = value.changeType(VT_UI4);
  if (FAILED(hr)) return hr;
  *out = V_UI4(value.get());
  return S_OK;
}

HRESULT WriteField(IevFdtParameterInfo* info, const VARIANT& id, ULONG field, ULONG value) {
  return info->SetParameterInfo(id, *com::ui4(field).get(), *com::ui4(value).get());
}

}  // namespace

// ---- Documents -------------------------------------------------------------

HRESULT BaseDtm::LoadDocument(const wchar_t* xml, IXMLDOMDocument2** doc) {
  *doc = nullptr;
  if (!xml || !*xml) return S_FALSE;
  com::ComPtr<IXMLDOMDocument2> loaded;
  VARIANT_BOOL ok = VARIANT_FALSE;
  const HRESULT hr = xml_.LoadXMLDocumentOrUnchecked(xml, loaded.put(), &ok);
  if (FAILED(hr)) return hr;
  if (!ok || !loaded) return S_FALSE;
  XmlUseRootNamespaces(loaded.get());
  *doc = loaded.get();
  (*doc)->AddRef();
  return S_OK;
}

// ---- Environment -----------------------------------------------------------

STDMETHODIMP BaseDtm::SetEnvironment(BSTR systemTag, IUnknown* frameContainer,
                                     VARIANT_BOOL* result) {
  if (!result || !systemTag || !frameContainer) {
    SetResult(result, false);
    return E_INVALIDARG;
  }
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (EnsureSchemaCache(systemTag, frameContainer) != S_OK) return S_FALSE;
    if (InitForDeviceType(frameContainer) != S_OK) return S_FALSE;
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP BaseDtm::SetEnvironment2(BSTR systemTag, IUnknown* frameContainer, BSTR frameVersion,
                                      VARIANT_BOOL* result) {
  if (!result || !systemTag || !frameContainer || !frameVersion) {
    SetResult(result, false);
    return E_INVALIDARG;
  }
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (EnsureSchemaCache(systemTag, frameContainer) != S_OK) return S_FALSE;
    if (!*systemTag || !*frameVersion) return S_FALSE;
    com::ComPtr<IXMLDOMDocument2> doc;
    if (LoadDocument(frameVersion, doc.put()) != S_OK) return S_FALSE;
    LONG version[3] = {-1, -1, -1};
    const wchar_t* const paths[3] = {L"FDT/FrameVersion/fdtvers:FDTVersion/@major",
                                     L"FDT/FrameVersion/fdtvers:FDTVersion/@minor",
                                     L"FDT/FrameVersion/fdtvers:FDTVersion/@release"};
    for (int i = 0; i < 3; ++i) {
      if (FAILED(XmlHandlerCore::ReadSignedNumericAttribute(&version[i], doc.get(), paths[i])))
        version[i] = -1;
    }
    if (version[0] != 1 || version[1] != 2) return S_FALSE;
    if (version[2] == 1) {
      frameIs121_ = 1;
      com::Variant on;
      V_VT(on.get()) = VT_I4;
      V_I4(on.get()) = 1;
      SetChannelsProperty(property_id::kFdt121Frame, *on.get());
    } else if (version[2] != 0) {
      return S_FALSE;
    }
    if (InitForDeviceType(frameContainer) != S_OK) return S_FALSE;
    if (frameIs121_) {
      com::ComPtr<IFrameDtmEvents2> sink;
      frameContainer->QueryInterface(__uuidof(IFrameDtmEvents2), sink.putVoid());
      stateSink_ = sink;
    }
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP BaseDtm::InitNewDeviceType(BSTR deviceType, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!deviceType || state_ != kDtmEnvironmentSet) return S_FALSE;
    com::ComPtr<IXMLDOMDocument2> doc;
    if (LoadDocument(deviceType, doc.put()) != S_OK) return S_FALSE;
    VARIANT_BOOL accepted = VARIANT_FALSE;
    com::ComPtr<IDispatch> document;
    doc.as(document);
    if (FAILED(SelectDeviceTypeVersion(document.get(), &accepted)) || !accepted) return S_FALSE;
    if (FAILED(LoadWorkingCopy(VARIANT_FALSE))) {
      dataSetReference_.reset();
      return S_FALSE;
    }
    SetState(kDtmInitialised);
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

// ---- Configuration ---------------------------------------------------------

HRESULT BaseDtm::ApplyUserRole(IXMLDOMNode* document) {
  com::Bstr level;
  HRESULT hr = XmlGetNodeText(document, L"*/FDTUserInformation/@userLevel", level.put());
  if (FAILED(hr)) return hr;
  ParseUserLevel(level.get(), &userRole_);  // another text keeps the role

  com::ComPtr<IevFdtParameterInfo> info = DtmInterface<IevFdtParameterInfo>();
  if (info) {
    // A parameter whose writers need a higher role loses its write access.
    ForEachParameter(info.get(), [&](const VARIANT& id) -> HRESULT {
      ULONG storage = 0, flags = 0;
      HRESULT hr = ReadField(info.get(), id, kStorageField, &storage);
      if (FAILED(hr)) return hr;
      hr = ReadField(info.get(), id, kFlagsField, &flags);
      if (FAILED(hr)) return hr;
      if (userRole_ < storage) flags &= ~kWriteAccess;
      return WriteField(info.get(), id, kFlagsField, flags);
    });
  }
  com::Variant role = com::ui4(userRole_);
  BroadcastProperty(*com::ui4(property_id::kUserLevel).get(), *role.get());
  return S_OK;
}

HRESULT BaseDtm::ValidateAllParameters() {
  com::ComPtr<IevFdtParameterInfo> info = DtmInterface<IevFdtParameterInfo>();
  com::ComPtr<IevFdtParameterValidation> validation = DtmInterface<IevFdtParameterValidation>();
  if (!info || !validation) return S_OK;
  return ForEachParameter(info.get(), [&](const VARIANT& id) -> HRESULT {
    com::Variant value;
    HRESULT hr = info->GetParameterInfo(id, *com::ui4(kValueField).get(), value.get());
    if (FAILED(hr)) return hr;
    ULONG status = 0, flags = 0;
    hr = validation->Validate(id, *value.get(), &status);
    if (FAILED(hr)) return hr;
    hr = ReadField(info.get(), id, kFlagsField, &flags);
    if (FAILED(hr)) return hr;
    const ULONG updated = (flags & ~kInvalid) | (status & kInvalid);
    return updated == flags ? S_OK : WriteField(info.get(), id, kFlagsField, updated);
  });
}

STDMETHODIMP BaseDtm::Config(BSTR userInformation, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!userInformation || state_ != kDtmInitialised) return S_FALSE;
    com::ComPtr<IXMLDOMDocument2> doc;
    if (LoadDocument(userInformation, doc.put()) != S_OK) return S_FALSE;
    if (FAILED(ApplyUserRole(doc.get()))) return S_FALSE;
    SetState(kDtmConfigured);
    ApplyRelationsForConfig();
    ValidateAllParameters();
    if (childrenChanged_) SetChannelsProperty(property_id::kChildrenChanged, *com::Variant().get());
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

// ---- Communication ---------------------------------------------------------

STDMETHODIMP BaseDtm::SetCommunication(IUnknown* communication, VARIANT_BOOL* result) {
  return com::guard([&] { return CheckConfiguredDevice(communication, result); });
}

HRESULT BaseDtm::CheckConfiguredDevice(IUnknown* communication, VARIANT_BOOL* result) {
  return RequestAndWait(communication, result);
}

HRESULT BaseDtm::RequestAndWait(IUnknown*, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (state_ != kDtmConfigured) return S_FALSE;
    SetState(kDtmCommunicationSet);
    win32::UniqueHandle online(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    // The worker signals a duplicate of its own: the event may be closed
    // after a wait that timed out.
    if (online.get() && SUCCEEDED(PostNumber(dtm_command::kGoOnline, HandleToULong(online.get()))))
      WaitOneWithMessageLoop(online.get(), onlineWait_);
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP BaseDtm::PrepareToReleaseCommunication(VARIANT_BOOL* result) {
  return com::guard([&] { return CheckScanInactive(result); });
}

HRESULT BaseDtm::CheckScanInactive(VARIANT_BOOL* result) { return PostReleaseRequests(result); }

HRESULT BaseDtm::PostReleaseRequests(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!InRange(state_, kDtmCommunicationSet, kDtmOnline)) return S_FALSE;
    WaitOneWithMessageLoop(communicationEvent_.get(), releaseWait_);
    // The channel container decides whether the channels' connections end.
    if (com::ComPtr<IevFdtChannelRelease> channels = DtmInterface<IevFdtChannelRelease>()) {
      VARIANT_BOOL agreed = VARIANT_FALSE;
      if (channels->ConfirmChannelRelease(&agreed) != S_OK || !agreed) return S_FALSE;
    }
    if (state_ == kDtmOnline && FAILED(PostCode(dtm_command::kGoOffline))) return S_FALSE;
    PostCode(dtm_command::kPreparedToReleaseCommunication);
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP BaseDtm::ReleaseCommunication(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (state_ != kDtmCommunicationSet) return S_FALSE;
    VARIANT_BOOL agreed = VARIANT_TRUE;
    com::ComPtr<IevFdtChannelContainer4> channels = DtmInterface<IevFdtChannelContainer4>();
    if (channels) {
      HRESULT hr = channels->CanReleaseChannels(&agreed);
      if (FAILED(hr)) return hr;
    }
    if (agreed) SetState(kDtmConfigured);
    *result = agreed ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

// ---- End of life -----------------------------------------------------------

STDMETHODIMP BaseDtm::ShutdownDtm(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  // Shutting down waits for the worker and serves this thread's messages
  // meanwhile; a frame may let go of the DTM from one of them (when the
  // notice that the DTM prepared to release reaches it). The DTM stays until
  // the shutdown is complete and goes on this reference's release.
  com::ComPtr<IUnknown> keep(GetCommDtmInterface());
  return com::guard([&]() -> HRESULT {
    if (state_ != kDtmPreparedToDelete && state_ != kDtmEnvironmentSet &&
        state_ != kDtmConfigured)
      return S_FALSE;

    if (OpenControlCount() > 0) {
      com::ComPtr<IevFdtActiveXContainer> controls = DtmInterface<IevFdtActiveXContainer>();
      if (!controls) return S_FALSE;
      com::Bstr question, caption;
      GetToolkitMessage(GetCommDtmInterface(), kShutdownQuestion, ToolkitMessageUser::Dtm,
                        question.put());
      GetToolkitMessage(GetCommDtmInterface(), kShutdownCaption, ToolkitMessageUser::Dtm,
                        caption.put());
      long answer = 0;
      HRESULT hr = controls->ShowUserMessage(question.get(), caption.get(),
                                             *com::ui4(kYesNoQuestion).get(), &answer);
      if (FAILED(hr) || answer == IDNO) return S_FALSE;
      if (!CloseClosableControls()) return S_FALSE;
      // Nothing signals this event: each wait lets the controls' windows close.
      win32::UniqueHandle never(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
      for (int i = 0; i < kControlCloseWaits && OpenControlCount() > 0; ++i)
        WaitOneWithMessageLoop(never.get(), kControlCloseWaitMs);
    }

    if (state_ != kDtmEnvironmentSet && FAILED(ReleaseDataSet())) return S_FALSE;

    released_ = 1;
    SetState(kDtmReleased);
    PostCode(dtm_command::kPreparedToRelease);
    PostRequest(dtm_command::kSetFrame, nullptr);
    StopThread();
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP BaseDtm::PrepareDelete(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (state_ != kDtmConfigured || OpenControlCount() > 0) return S_FALSE;
    SetState(kDtmPreparedToDelete);
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

// ---- Language and shared user interface -----------------------------------

STDMETHODIMP BaseDtm::SetLanguage(long languageId, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    const bool allowed = InRange(state_, kDtmInitialised, kDtmOnline) ||
                         (state_ == kDtmEnvironmentSet && frameIs121_);
    if (!allowed) return S_FALSE;
    if (languageId == languageId_) {
      *result = VARIANT_TRUE;
      return S_OK;
    }
    com::ComPtr<IevFdtDtmTranslation> translation = DtmInterface<IevFdtDtmTranslation>();
    if (translation) {
      VARIANT_BOOL done = VARIANT_FALSE;
      HRESULT hr = translation->ChangeLanguage(static_cast<ULONG>(languageId), &done);
      if (hr != S_OK || !done) return FAILED(hr) ? hr : S_FALSE;
    } else if (languageId != 0x409) {
      return S_FALSE;
    }
    languageId_ = languageId;
    if (com::ComPtr<IevFdtTranslationEvent> events = DtmInterface<IevFdtTranslationEvent>())
      events->OnTranslate(static_cast<ULONG>(languageId));
    com::Variant language;
    V_VT(language.get()) = VT_I4;
    V_I4(language.get()) = languageId;
    BroadcastProperty(*com::ui4(property_id::kLanguage).get(), *language.get());
    if (state_ != kDtmEnvironmentSet) PostCode(dtm_command::kFunctionChanged);
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP BaseDtm::SetSharedUiFlag(VARIANT_BOOL shared, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!InRange(state_, kDtmConfigured, kDtmOnline)) return S_FALSE;
    sharedUi_ = shared == VARIANT_TRUE ? 1 : 0;
    BroadcastProperty(*com::ui4(property_id::kSharedUi).get(),
                      *com::Variant(sharedUi_ != 0).get());
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP BaseDtm::SetSystemGuiLabel(BSTR label, VARIANT_BOOL* result) {
  if (!label || !result) {
    SetResult(result, false);
    return E_INVALIDARG;
  }
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    com::ComPtr<IevFdtParameterHandler4> handler = DtmInterface<IevFdtParameterHandler4>();
    if (!handler) return S_FALSE;
    com::ComPtr<IXMLDOMDocument2> doc;
    if (LoadDocument(label, doc.put()) != S_OK) return S_FALSE;
    com::Bstr text;
    BYTE found = 0;
    XmlHandlerCore::GetOptionalNodeText(text.put(), &found, doc.get(),
                                        L"//SystemGuiLabel/@fdt:systemGuiLabel");
    if (found) {
      com::Variant value(text.c_str());
      if (FAILED(handler->WriteParameter(*com::ui4(2).get(), *value.get()))) return S_FALSE;
    }
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

// ---- Functions -------------------------------------------------------------

HRESULT BaseDtm::LookupFunction(LONG functionId, const FunctionTableRow** entry) {
  if (!entry) return E_POINTER;
  *entry = nullptr;
  const FunctionTableRow* row = GetFunctionTable();
  if (!row) return E_FAIL;
  for (; row->kind != FunctionTableRow::kEnd; ++row) {
    if (static_cast<LONG>(row->functionId) == functionId) {
      *entry = row;
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT BaseDtm::GetFunctionId(const wchar_t* callDocument, LONG* functionId) {
  if (!functionId) return E_POINTER;
  com::ComPtr<IXMLDOMDocument2> doc;
  if (LoadDocument(callDocument, doc.put()) != S_OK) return E_FAIL;
  return XmlHandlerCore::ReadSignedNumericAttribute(functionId, doc.get(),
                                                    L"FDT/FDTFunctionCall/@func:functionId");
}

HRESULT BaseDtm::GetFunctionText(LONG functionId, const wchar_t* attribute, BSTR* text) {
  if (!text || !attribute) return E_POINTER;
  *text = nullptr;
  return com::guard([&]() -> HRESULT {
    if (com::ComPtr<IevFdtTranslation> translation = DtmInterface<IevFdtTranslation>()) {
      com::Bstr xpath = Format(L"localization/DTM/FunctionList/Function[@id=\"%d\"]/%s",
                               static_cast<int>(functionId), attribute);
      VARIANT_BOOL found = VARIANT_FALSE;
      com::Bstr localized;
      if (SUCCEEDED(translation->GetLocalizedText(xpath.get(), localized.put(), &found)) && found) {
        *text = localized.detach();
        return S_OK;
      }
    }
    // The table's own text of the entry.
    const FunctionTableRow* entry = nullptr;
    HRESULT hr = LookupFunction(functionId, &entry);
    if (FAILED(hr)) return hr;
    const char* own = wcscmp(attribute, L"Help") == 0   ? entry->help
                      : wcscmp(attribute, L"Name") == 0 ? entry->name
                                                        : entry->label;
    if (own) return LoadResourceTextOf(own, text);
    *text = ::SysAllocString(L"");
    return *text ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT BaseDtm::DocumentFolder(BSTR* folder) {
  return ResolveModulePath(L"", folder);
}

HRESULT BaseDtm::BuildFunctionXml(const FunctionTableRow& entry, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return com::guard([&]() -> HRESULT {
    const LONG id = static_cast<LONG>(entry.functionId);
    auto text = [&](const wchar_t* attribute) {
      com::Bstr value;
      GetFunctionText(id, attribute, value.put());
      return Escaped(value.c_str());
    };
    const ULONG s = entry.status & 0xFF;
    auto status = [&] {
      return Format(kStatusElement, (s >> 2) & 1, (s >> 3) & 1, s & 1, (s >> 1) & 1, 0);
    };
    auto applicationId = [&] {
      com::Bstr name;
      ApplicationIdToText(static_cast<LONG>(entry.applicationId), name.put());
      return Format(kApplicationIdElement, Escaped(name.c_str()).c_str());
    };

    com::Bstr element;
    switch (entry.kind) {
      case 1:
      case 2:
      case 9:
        element = Format(kFunctionElement, text(L"Label").c_str(), text(L"Name").c_str(),
                         text(L"Help").c_str(), entry.kind == 2 ? 1 : 0, static_cast<int>(id),
                         entry.printable ? 1 : 0, entry.resizable ? 1 : 0, status().c_str());
        break;
      case 3:
        element = Format(kStandardFunctionElement, text(L"Name").c_str(), text(L"Help").c_str(),
                         static_cast<int>(id), entry.printable ? 1 : 0, entry.resizable ? 1 : 0,
                         status().c_str(), applicationId().c_str());
        break;
      case 4: {
        com::Bstr label;
        if (FAILED(LoadResourceTextOf(entry.label, label.put()))) label.assign(WideFromAnsi(entry.label).c_str());
        com::Bstr folder;
        DocumentFolder(folder.put());
        std::wstring path = folder.c_str();
        if (!path.empty() && path.back() != L'\\') path += L'\\';
        path += WideFromAnsi(entry.documentFile);
        std::wstring inner;
        if (entry.programName && *entry.programName)
          inner += Format(kOpenWithElement, Escaped(WideFromAnsi(entry.programName).c_str()).c_str()).c_str();
        if (entry.mimeType && *entry.mimeType)
          inner += Format(kMimeTypeElement, Escaped(WideFromAnsi(entry.mimeType).c_str()).c_str()).c_str();
        element = Format(kDocumentElement, Escaped(label.c_str()).c_str(), text(L"Help").c_str(),
                         Escaped(path.c_str()).c_str(), inner.c_str());
        break;
      }
      case 5:
        element = Format(kGroupOpen, text(L"Label").c_str(), text(L"Name").c_str(),
                         text(L"Help").c_str());
        break;
      case 6:
        element = Format(L"%s", kGroupClose);
        break;
      case 7:
        element = Format(kStandardGroupOpen, text(L"Name").c_str(), text(L"Help").c_str(),
                         applicationId().c_str());
        break;
      case 8:
        element = Format(L"%s", kStandardGroupClose);
        break;
      default:
        return E_INVALIDARG;
    }
    *out = element.detach();
    return S_OK;
  });
}

HRESULT BaseDtm::BuildFunctionCallXml(LONG functionId, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return FormatBstr(out, kFunctionCallDocument, static_cast<int>(functionId));
}

HRESULT BaseDtm::FunctionListBody(BSTR* body) {
  *body = nullptr;
  if (com::ComPtr<IevFdtActiveXContainer> controls = DtmInterface<IevFdtActiveXContainer>())
    return controls->GetActiveXDescription(body);
  std::wstring list;
  for (const FunctionTableRow* row = GetFunctionTable(); row && row->kind != FunctionTableRow::kEnd;
       ++row) {
    com::Bstr element;
    if (SUCCEEDED(BuildFunctionXml(*row, element.put()))) list += element.c_str();
  }
  *body = ::SysAllocStringLen(list.data(), static_cast<UINT>(list.size()));
  return *body ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP BaseDtm::GetFunctions(BSTR operationPhase, BSTR* functions) {
  if (!functions) return E_INVALIDARG;
  *functions = nullptr;
  return com::guard([&]() -> HRESULT {
    auto answer = [&](const wchar_t* body, HRESULT hr) -> HRESULT {
      HRESULT formatted = FormatBstr(functions, kFunctionsDocument, body);
      return FAILED(formatted) ? formatted : hr;
    };
    if (!InRange(state_, kDtmInitialised, kDtmOnline)) return answer(L" ", S_FALSE);
    com::ComPtr<IXMLDOMDocument2> doc;
    com::Bstr phase;
    if (LoadDocument(operationPhase, doc.put()) != S_OK ||
        FAILED(XmlGetNodeText(doc.get(), L"FDT/@operationPhase", phase.put())) ||
        !ParseOperationPhase(phase.get(), &operationPhase_))
      return answer(L" ", S_FALSE);
    com::Bstr body;
    HRESULT hr = FunctionListBody(body.put());
    if (FAILED(hr)) return hr;
    return answer(body.empty() ? L" " : body.get(), S_OK);
  });
}

HRESULT BaseDtm::RunFunctionAction(const FunctionTableRow& entry, VARIANT_BOOL* success) {
  auto action = reinterpret_cast<DtmFunctionAction>(const_cast<void*>(entry.action));
  return action(GetCommDtmInterface(), success);
}

STDMETHODIMP BaseDtm::InvokeFunctionRequest(BSTR invokeId, BSTR functionCall,
                                            VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!InRange(state_, kDtmConfigured, kDtmOnline) || userRole_ < kRoleOperator) return S_FALSE;
    com::ComPtr<IXMLDOMDocument2> doc;
    if (LoadDocument(functionCall, doc.put()) != S_OK) return S_FALSE;
    LONG id = 0;
    if (FAILED(XmlHandlerCore::ReadSignedNumericAttribute(&id, doc.get(),
                                                          L"*/FDTFunctionCall/@func:functionId")))
      return S_FALSE;
    const FunctionTableRow* entry = nullptr;
    if (FAILED(LookupFunction(id, &entry)) || !entry->action) return S_FALSE;

    if (com::ComPtr<IevFdtAuditTrail> audit = DtmInterface<IevFdtAuditTrail>()) {
      com::Bstr name;
      GetFunctionText(id, L"Name", name.put());
      com::Bstr noDescriptor(L"");
      audit->WriteFunctionEvent(noDescriptor.get(), name.get());
    }
    VARIANT_BOOL success = VARIANT_FALSE;
    if (FAILED(RunFunctionAction(*entry, &success))) success = VARIANT_FALSE;
    if (frameEvents_)
      frame_events::NotifyFlag(frameEvents_.get(), frame_events::kInvokedFunctionFinished, invokeId,
                               success ? VARIANT_TRUE : VARIANT_FALSE);
    *result = VARIANT_TRUE;
    return S_OK;
  });
}
