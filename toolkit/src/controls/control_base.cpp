// DtmControl: lifecycle and DTM binding, the DTM's states and the control
// properties, the footer bar, the dialog and its window messages.
#include "toolkit/controls/control_base.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>

#include "com/Guard.h"
#include "com/Module.h"
#include "com/SafeArray.h"
#include "fdtidl/ToolkitHooks.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/values/fdt_texts.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/va_packer.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xml_schema_lists.h"
#include "toolkit/values/text_helpers.h"
#include "registered_control.h"
#include "win32/callback_guard.h"


namespace {

// The operation-phase document passed to IDtm::GetFunctions.
const wchar_t kOperationPhaseDocument[] =
    L"<?xml version=\"1.0\" ?><FDT xmlns=\"x-schema:FDTOperationPhaseSchema.xml\"\t\t"
    L"operationPhase=\"notSupported\"/>";

// The application id a function named "MainOperation" without one gets.
constexpr ULONG kMainOperation = 13;

// The mode an application id gives; 0 leaves the mode as it is.
ULONG ModeOfApplication(ULONG applicationId) {
  switch (applicationId) {
    case 0:
    case 4:
    case 9:
    case 10:
    case kMainOperation:
      return kModeOffline;
    case 5:
    case 8:
    case 11:
    case 12:
      return kModeOnline;
    default:
      return 0;
  }
}

// A resource of the dialog's initialisation data: per hosted item its id,
// how it starts (kLoadFromStream with the bytes that follow, kInitNew) and
// the length of its bytes, ended by an id of 0.
constexpr WORD kLoadFromStream = 0x0376;
constexpr WORD kInitNew = 0x0378;
const wchar_t* const kDialogInitType = MAKEINTRESOURCEW(240);

// The first column's text of a list view's row.
std::wstring ListRowText(HWND list, int row) {
  wchar_t text[256] = {};
  LVITEMW item = {};
  item.iSubItem = 0;
  item.pszText = text;
  item.cchTextMax = 256;
  ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return text;
}

std::wstring WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(window, &text[0], length + 1)));
  return text;
}

}  // namespace

DtmControl::DtmControl(const ControlDescription& description)
    : ActiveXControl(*description.classId), description_(description), xml_(*this) {
  xml_.SetSchemaNameReader(description.schemaNames);
  for (const ParameterMapRow* row = description.parameterMap; row && row->name; ++row)
    rows_.emplace_back(*row);
  footerOptions_ = description.footerOptions;
  brush_.reset(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE)));
  InitStateMarkers();
}

// The dialog goes while the base's members still live: its procedure
// reaches them until WM_NCDESTROY. The window is the control's own to
// destroy here, not one the frame took away.
DtmControl::~DtmControl() {
  if (registeredObject_) registeredObject_->Unlink();
  if (dialog_) {
    WindowDestroyed();
    ::DestroyWindow(dialog_);
  }
}

void DtmControl::finalRelease() {
  com::guard([&]() -> HRESULT {
    EndBinding();
    return S_OK;
  });
}

const wchar_t* const* DtmControl::XmlSchemaFiles() { return kControlSchemaFiles; }

void DtmControl::ReportXmlMessage(const char* text) { Trace("%s", text); }

HRESULT DtmControl::ForwardToDtm(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!dtm_) return E_NOINTERFACE;
  return dtm_->QueryInterface(iid, out);
}

// ---- IDtmActiveXControl -------------------------------------------------------

STDMETHODIMP DtmControl::Init(BSTR systemTag, BSTR functionCall, IUnknown* dtm,
                              VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!systemTag || !functionCall || !dtm) return S_FALSE;
  return com::guard([&]() -> HRESULT {
    // A second Init changes nothing.
    if (!systemTag_.empty()) return S_FALSE;
    HRESULT hr = systemTag_.assign(systemTag);
    if (FAILED(hr) || systemTag_.empty()) return FAILED(hr) ? hr : S_FALSE;
    auto forget = [&] {
      EndBinding();
      systemTag_.reset();
      functionCall_.reset();
      controlState_ = kControlStarted;
    };
    hr = functionCall_.assign(functionCall);
    if (SUCCEEDED(hr)) hr = dtm->QueryInterface(IID_IUnknown, dtm_.putVoid());
    if (FAILED(hr) || !dtm_) {
      forget();
      return FAILED(hr) ? hr : S_FALSE;
    }
    dtm_.as(idtm_);

    // Registered before the function id is read: the container asks the
    // control for its function-call document and sends it the DTM's state
    // and properties at once; they are kept until the DTM is attached. Only
    // S_OK records the control (S_FALSE: its key is taken); a control that
    // is not recorded never takes a record back.
    IUnknown* registration = nullptr;
    hr = Registration(&registration);
    if (SUCCEEDED(hr)) {
      if (auto management = DtmInterface<IevFdtActiveXManagement>()) {
        hr = management->OpenActiveX(systemTag_.get(), registration, 0);
      } else if (auto container = DtmInterface<IevFdtActiveXContainer>()) {
        hr = container->ControlChanged(systemTag_.get(), registration);
      } else {
        hr = E_NOINTERFACE;
      }
    }
    if (FAILED(hr)) {
      forget();
      return hr;
    }
    registered_ = hr == S_OK;

    com::ComPtr<IXMLDOMDocument2> call;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    LONG id = 0;
    hr = xml_.LoadXMLDocumentOrUnchecked(functionCall_.c_str(), call.put(), &loaded);
    if (SUCCEEDED(hr) && loaded && call) {
      XmlUseRootNamespaces(call.get());
      hr = XmlHandlerCore::ReadSignedNumericAttribute(&id, call.get(), description_.functionIdPath);
    } else if (SUCCEEDED(hr)) {
      hr = E_FAIL;
    }
    if (FAILED(hr)) {
      Trace("Init: no function id in the function call (hRes = %08X)", static_cast<unsigned>(hr));
      forget();
      return S_FALSE;
    }
    functionId_ = static_cast<ULONG>(id);

    ReadFunctionInformation();
    com::Bstr phase;
    BYTE found = 0;
    if (SUCCEEDED(XmlHandlerCore::GetOptionalNodeText(phase.put(), &found, call.get(),
                                                      L"*/FDTFunctionCall/@ops:operationPhase")) &&
        found)
      ParseOperationPhase(phase.c_str(), &operationPhase_);

    if (applicationId_ == 0 && functionName_.c_str() == std::wstring(L"MainOperation"))
      applicationId_ = kMainOperation;
    const ULONG mode = ModeOfApplication(applicationId_);
    SetMode(mode ? mode : mode_);

    // A failure from here on leaves nothing registered, locked or bound.
    VARIANT_BOOL attached = VARIANT_FALSE;
    hr = static_cast<IevFdtActiveX4*>(this)->AttachDtm(dtm_.get(), &attached);
    if (SUCCEEDED(hr) && attached) {
      BroadcastEditPermission();
      hr = OnInit();
    }
    if (hr != S_OK || !attached) {
      forget();
      return FAILED(hr) ? hr : S_FALSE;
    }
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

HRESULT DtmControl::Registration(IUnknown** registration) {
  if (!registration_) {
    HRESULT hr = RegisteredControl::Create(this, registration_, &registeredObject_);
    if (FAILED(hr)) return hr;
  }
  *registration = registration_.get();
  return S_OK;
}

void DtmControl::EndBinding() {
  if (endingBinding_) return;
  endingBinding_ = true;
  // The control's own part may call out (the DTM may serve messages).
  com::ComPtr<IUnknown> hold(Self());
  // Bound, and not released through PrepareToRelease (which leaves the
  // control closing).
  if (dtm_ && controlState_ != kControlClosing) {
    OnUnbinding();
    controlState_ = kControlClosing;
    VARIANT_BOOL detached = VARIANT_FALSE;
    static_cast<IevFdtActiveX4*>(this)->DetachDtm(&detached);
    UnregisterFromDtm();
  }
  registered_ = false;
  parameterHandler_.reset();
  frameContainer_.reset();
  idtm_.reset();
  dtm_.reset();
  if (registeredObject_) registeredObject_->Unlink();
  registeredObject_ = nullptr;
  registration_.reset();
  endingBinding_ = false;
}

// ---- IOleObject: the frame drops the control -----------------------------------

STDMETHODIMP DtmControl::SetClientSite(IOleClientSite* site) {
  if (!site && ClientSite()) {
    com::guard([&]() -> HRESULT {
      EndBinding();
      return S_OK;
    });
  }
  return ActiveXControl::SetClientSite(site);
}

STDMETHODIMP DtmControl::Close(DWORD saveOption) {
  com::ComPtr<IUnknown> hold(Self());
  com::guard([&]() -> HRESULT {
    EndBinding();
    return S_OK;
  });
  return ActiveXControl::Close(saveOption);
}

HRESULT DtmControl::ReadFunctionInformation() {
  if (!idtm_) return S_FALSE;
  com::Bstr list;
  HRESULT hr = idtm_->GetFunctions(com::Bstr(kOperationPhaseDocument).get(), list.put());
  if (FAILED(hr) || list.empty()) return FAILED(hr) ? hr : S_FALSE;
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  hr = xml_.LoadXMLDocumentOrUnchecked(list.c_str(), doc.put(), &loaded);
  if (FAILED(hr) || !loaded || !doc) return FAILED(hr) ? hr : S_FALSE;
  XmlUseRootNamespaces(doc.get());

  const std::wstring id = std::to_wstring(functionId_);
  com::ComPtr<IXMLDOMNode> function;
  for (const wchar_t* element : {L"//StandardFunction", L"//Function"}) {
    const std::wstring path = std::wstring(element) + L"[@functionId=" + id + L"]";
    if (doc->selectSingleNode(com::Bstr(path.c_str()).get(), function.put()) == S_OK && function)
      break;
  }
  if (function) {
    com::Bstr text;
    BYTE found = 0;
    LONG applicationId = 0;
    if (SUCCEEDED(XmlHandlerCore::GetOptionalNodeText(text.put(), &found, function.get(),
                                                      L"appId:ApplicationId/@applicationId")) &&
        found && SUCCEEDED(ApplicationIdFromText(text.c_str(), &applicationId)))
      applicationId_ = static_cast<ULONG>(applicationId);
  }
  com::ComPtr<IXMLDOMNode> named;
  const std::wstring any = L"//*[@functionId=" + id + L"]";
  if (doc->selectSingleNode(com::Bstr(any.c_str()).get(), named.put()) == S_OK && named) {
    BYTE found = 0;
    com::Bstr name;
    if (SUCCEEDED(XmlHandlerCore::GetOptionalNodeText(name.put(), &found, named.get(), L"@fdt:name")) &&
        found)
      functionName_ = std::move(name);
  }
  return S_OK;
}

HRESULT DtmControl::BroadcastEditPermission() {
  auto container = DtmInterface<IevFdtActiveXContainer>();
  if (!container) return S_FALSE;
  return container->SetControlsProperty(com::ui4(property_id::kEditPermission).value(),
                                        *com::Variant(!readOnly_).get());
}

// A control whose key another one holds was never recorded: taking the
// record back would take the other's.
HRESULT DtmControl::UnregisterFromDtm() {
  if (!registered_) return S_OK;
  HRESULT hr = E_NOINTERFACE;
  if (auto management = DtmInterface<IevFdtActiveXManagement>())
    hr = management->ActiveXClosed(systemTag_.get());
  else if (auto container = DtmInterface<IevFdtActiveXContainer>())
    hr = container->ControlChanged(systemTag_.get(), nullptr);
  if (SUCCEEDED(hr)) registered_ = false;
  return hr;
}

STDMETHODIMP DtmControl::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    struct Question {
      bool pending;
      ULONG text, caption;
      LONG event;
    };
    const Question questions[] = {
        {pendingInDtm_, 1006, 1004, control_event::kStoreToDevice},
        {pendingInDevice_, 1005, 1002, control_event::kLoadIntoDtm},
    };
    if (dtmState_ > kControlOffline) {
      for (const Question& q : questions) {
        if (!q.pending) continue;
        com::Bstr text, caption;
        GetToolkitMessage(q.text, text.put());
        GetToolkitMessage(q.caption, caption.put());
        const long answer = ShowUserMessage(text.c_str(), caption.c_str(), MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL) return S_FALSE;
        if (answer == IDYES) RaiseDtmEvent(q.event, com::Variant().value());
      }
    }
    controlState_ = kControlClosing;
    VARIANT_BOOL detached = VARIANT_FALSE;
    HRESULT hr = static_cast<IevFdtActiveX4*>(this)->DetachDtm(&detached);
    if (FAILED(hr)) return hr;
    if (!detached) return S_FALSE;
    hr = UnregisterFromDtm();
    if (FAILED(hr)) return hr;
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

// ---- IevFdtActiveX4 -------------------------------------------------------------

HRESULT DtmControl::PropertyId(const VARIANT& key, ULONG* id) {
  com::Variant v;
  HRESULT hr = ::VariantChangeType(v.get(), const_cast<VARIANT*>(&key), 0, VT_UI4);
  if (FAILED(hr) || v.type() != VT_UI4) return E_FAIL;
  *id = V_UI4(v.get());
  return S_OK;
}

STDMETHODIMP DtmControl::OnStateChanged(unsigned long state) {
  return com::guard([&]() -> HRESULT {
    dtmState_ = state;
    // A control that is closing stays so.
    if (controlState_ != kControlClosing) {
      if (state == kDtmStateOnline) controlState_ = kControlOnline;
      else if (controlState_ >= kControlOffline) controlState_ = kControlOffline;
    }
    if (OnlineMode()) SetEditMode(state == kDtmStateOnline);
    SendStateToFooter();
    return S_OK;
  });
}

void DtmControl::SendStateToFooter() {
  if (!dialog_) return;
  const ULONG state = dtmState_;
  SendFooterCommand(1, state == kDtmStateGoingOnline    ? 1
                       : state == kDtmStateOnline        ? 2
                       : state == kDtmStateGoingOffline  ? 3
                                                         : 4);
  // The rows GetInfo(32) reports as update records.
  const bool records = std::any_of(rows_.begin(), rows_.end(),
                                   [](const CActXParInfo& row) { return row.updateInfo != 0; });
  SendFooterCommand(2, state == kDtmStateOnline && records ? 1 : 2);
}

STDMETHODIMP DtmControl::OutputTrace(BSTR) { return E_NOTIMPL; }

STDMETHODIMP DtmControl::OnDtmMessage(VARIANT, VARIANT, BSTR text) {
  return com::guard([&]() -> HRESULT {
    Trace("%s", AnsiFromWide(text, CP_THREAD_ACP).c_str());
    return S_OK;
  });
}

STDMETHODIMP DtmControl::SetProperty(VARIANT key, VARIANT value) {
  ULONG id = 0;
  if (FAILED(PropertyId(key, &id))) return E_FAIL;
  return com::guard([&]() -> HRESULT {
    switch (id) {
      case property_id::kUserLevel: {
        ULONG level = 0;
        if (FAILED(CFdtVariant::GetUI4(value, &level))) return E_INVALIDARG;
        editLock_ = level == 1 ? 1 : 0;  // an observer cannot edit
        SetEditMode(!readOnly_);
        return S_OK;
      }
      case property_id::kTransferState:
        if (V_VT(&value) != VT_UI2) return E_INVALIDARG;
        hasTransferState_ = true;
        transferState_ = V_UI2(&value);
        return transferState_ <= 3 ? SendFooterCommand(4, transferState_) : S_OK;
      case property_id::kFooterSwitch:
        if (V_VT(&value) != VT_BOOL) return E_INVALIDARG;
        hasFooterSwitch_ = true;
        footerSwitch_ = V_BOOL(&value) ? 1 : 2;
        return SendFooterCommand(5, footerSwitch_);
      case property_id::kFooterOptions:
        return V_VT(&value) == VT_UI2 ? S_OK : E_INVALIDARG;
      default:
        break;
    }
    HRESULT hr = HandleBaseProperty(id, value);
    if (id == property_id::kLanguage) {
      // The footer bar translates itself through the DTM's translation.
      auto translation = DtmInterface<IevFdtTranslation>();
      for (const UINT* item = description_.footerItems; item && *item; ++item)
        if (auto footer = HostedControl<IHostedToolkitControl>(*item)) {
          VARIANT_BOOL done = VARIANT_FALSE;
          footer->SetTranslation(translation.get(), &done);
        }
    } else if (id == property_id::kEditPermission && V_VT(&value) == VT_BOOL) {
      SetMode(mode_);  // the footer's button set follows
    }
    return hr;
  });
}

HRESULT DtmControl::HandleBaseProperty(ULONG id, const VARIANT& value) {
  if (controlState_ == kControlClosing) return S_FALSE;
  switch (id) {
    case property_id::kLanguage: {
      ULONG language = 0;
      if (FAILED(CFdtVariant::GetUI4(value, &language))) return E_INVALIDARG;
      languageId_ = language;
      static_cast<IevFdtTranslationEvent*>(this)->OnTranslate(languageId_);
      return S_OK;
    }
    case property_id::kValueWritten:
    case property_id::kFlagsChanged:
    case property_id::kDeviceValue:
    case property_id::kValueList: {
      // About one parameter: nothing to do for one the control does not show.
      LONG parameter = 0;
      if (FAILED(ParameterReference(value, &parameter))) return E_INVALIDARG;
      if (FindRowById(parameter) < 0 || !parameterHandler_) return S_OK;
      return OnParameterProperty(id, parameter);
    }
    case property_id::kSchemaPath: {
      if (V_VT(&value) != VT_BSTR) return E_INVALIDARG;
      HRESULT hr = xml_.InitializeSchemaCache(V_BSTR(&value));
      if (FAILED(hr))
        Trace("InitializeSchemaCache returned 0x%X, maybe there is a problem with MSXML.",
              static_cast<unsigned>(hr));
      return hr;
    }
    case property_id::kEditPermission:
      if (V_VT(&value) != VT_BOOL) return E_INVALIDARG;
      readOnly_ = V_BOOL(&value) == VARIANT_FALSE;
      SetEditMode(!readOnly_);
      return S_OK;
    case property_id::kTranslationPath:
      // The folder of a help file named by a relative path (ShowHelp).
      if (V_VT(&value) != VT_BSTR) return S_FALSE;
      return translationFolder_.assign(V_BSTR(&value));
    case property_id::kSharedUi:
      // The DTM's shared-UI flag: nothing in a control depends on it; in
      // particular it does not switch Help (property_ids.h).
      return V_VT(&value) == VT_BOOL ? S_OK : E_INVALIDARG;
    case property_id::kReloadAll: {
      ULONG code = 0;
      if (FAILED(CFdtVariant::GetUI4(value, &code))) return E_INVALIDARG;
      if (code == 0x43 && OnlineMode() && parameterHandler_) return ReadAllParameters();
      return S_OK;
    }
    default:
      return S_FALSE;
  }
}

HRESULT DtmControl::OnParameterProperty(ULONG key, LONG parameter) {
  switch (key) {
    case property_id::kValueWritten: {
      com::Variant info;
      ParameterInfo(parameter, 1, info.get());
      const bool deviceSide = !OfflineMode() && !(mode_ & kModeBit1) && info.type() != VT_EMPTY;
      if (!deviceSide) RefreshParameter(parameter);
      return S_OK;
    }
    case property_id::kFlagsChanged:
      return ReadAccessFlagsInto(parameter);
    case property_id::kDeviceValue:
      if (OnlineMode() || (mode_ & kModeBit1)) return ReloadParameter(parameter);
      return S_OK;
    case property_id::kValueList:
      for (int row = 0; row < RowCount(); ++row) {
        if (rows_[row].id != parameter) continue;
        ReadValueKind(row);
        FillEnumerationList(row);
      }
      return S_OK;
    default:
      return S_FALSE;
  }
}

HRESULT DtmControl::ParameterReference(const VARIANT& value, LONG* id) {
  com::Variant first;
  if (V_VT(&value) == (VT_ARRAY | VT_VARIANT)) {
    com::Variant data;  // what the pair carries beside the id
    HRESULT hr = GetVariantPair(value, first.get(), data.get());
    if (FAILED(hr)) return hr;
  } else {
    first = com::Variant(value);
  }
  ULONG number = 0;
  HRESULT hr = CFdtVariant::GetUI4(first.value(), &number);
  if (FAILED(hr)) return hr;
  *id = static_cast<LONG>(number);
  return S_OK;
}

STDMETHODIMP DtmControl::AttachDtm(IUnknown* dtm, VARIANT_BOOL* result) {
  if (!result || !dtm) return E_POINTER;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    parameterHandler_.reset();
    HRESULT hr = dtm->QueryInterface(__uuidof(IevFdtParameterHandler4), parameterHandler_.putVoid());
    if (FAILED(hr)) return hr;
    if (!parameterHandler_) return E_FAIL;
    if (!dtm_) dtm->QueryInterface(IID_IUnknown, dtm_.putVoid());

    hr = AttachParameterControls();
    if (FAILED(hr)) return hr;
    SetMode(mode_);
    hr = ReadAllParameters();
    if (FAILED(hr)) return hr;
    SetProperty(com::ui4(property_id::kLanguage).value(), *com::Variant(static_cast<LONG>(languageId_)).get());
    ApplyKeptState();
    if (OnlineMode()) SetEditMode(controlState_ == kControlOnline);
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

HRESULT DtmControl::AttachParameterControls() {
  if (!dialog_) return S_OK;
  HRESULT last = S_OK;
  for (const CActXParInfo& row : rows_) {
    if (!row.item) continue;
    auto item = HostedControl<IParameterControl>(row.item);
    if (!item) continue;
    long ok = 0;
    last = item->Attach(parameterHandler_.get(), &ok);
    if (FAILED(last)) return last;
    if (!ok) return last;
    last = item->Bind(static_cast<long>(row.item), Self(), &ok);
    if (FAILED(last)) return last;
    if (!ok) return last;
    com::Bstr name, format;
    name.assignMultiByte(row.name ? row.name : "");
    format.assignMultiByte(row.format ? row.format : "");
    last = item->Describe(static_cast<ULONG>(row.id), name.get(), format.get(), &ok);
    if (FAILED(last)) return last;
    if (!ok) return last;
  }
  return S_OK;
}

STDMETHODIMP DtmControl::DetachDtm(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    static_cast<IevFdtTranslationEvent*>(this)->OnTranslate(0);
    for (const CActXParInfo& row : rows_)
      if (row.item)
        if (auto item = HostedControl<IParameterControl>(row.item)) item->Detach(Self());
    parameterHandler_.reset();
    *result = VARIANT_TRUE;
    return S_OK;
  });
}

// ---- IevFdtActiveXInfo ------------------------------------------------------------

STDMETHODIMP DtmControl::GetInfo(VARIANT what, VARIANT* result) {
  if (!result) return E_POINTER;
  ::VariantInit(result);
  ULONG selector = 0;
  if (FAILED(CFdtVariant::GetUI4(what, &selector))) return E_FAIL;
  return com::guard([&]() -> HRESULT {
    switch (selector) {
      case 1:
        V_VT(result) = VT_BSTR;
        return functionCall_.copyTo(&V_BSTR(result));
      case 16: {
        com::SafeArray ids;
        HRESULT hr = ids.createVector(VT_UI4, static_cast<ULONG>(rows_.size()));
        if (FAILED(hr)) return hr;
        {
          com::SafeArrayData<ULONG> data(ids.get());
          if (FAILED(data.result())) return data.result();
          for (size_t i = 0; i < rows_.size(); ++i) data[static_cast<ULONG>(i)] = static_cast<ULONG>(rows_[i].id);
        }
        V_VT(result) = VT_ARRAY | VT_UI4;
        V_ARRAY(result) = ids.detach();
        return S_OK;
      }
      case 32: {
        ParamUpdateList list;
        for (const CActXParInfo& row : rows_)
          if (row.updateInfo) list.emplace_back(static_cast<ULONG>(row.id), row.updateInfo);
        return PackParamUpdateList(std::move(list), result);
      }
      default:
        return S_FALSE;
    }
  });
}

STDMETHODIMP DtmControl::SetInfo(VARIANT, VARIANT value) {
  ULONG number = 0;
  HRESULT hr = CFdtVariant::GetUI4(value, &number);
  return FAILED(hr) ? hr : S_FALSE;
}

STDMETHODIMP DtmControl::SetFrameContainer(IUnknown* frameContainer) {
  return com::guard([&]() -> HRESULT {
    frameContainer_.reset();
    if (!frameContainer) return S_FALSE;
    frameContainer_.queryFrom(frameContainer);
    if (!frameContainer_) return S_FALSE;
    com::Bstr path;
    frameContainer_->GetXmlSchemaPath(path.put());
    HRESULT hr = xml_.InitializeSchemaCache(path.c_str());
    if (FAILED(hr)) {
      Trace("InitializeSchemaCache returned 0x%X, maybe there is a problem with MSXML.",
            static_cast<unsigned>(hr));
      return hr;
    }
    return S_FALSE;
  });
}

// ---- IevFDTParamGroupDisplayEvent ---------------------------------------------

STDMETHODIMP DtmControl::OnParamGroupDisplayEvent(long itemId, long code, VARIANT data) {
  return com::guard([&]() -> HRESULT {
    switch (code) {
      case 2:
        if (V_VT(&data) != VT_UI4) return E_UNEXPECTED;
        return RefreshParameter(static_cast<LONG>(V_UI4(&data)));
      case 3: {
        if (V_VT(&data) != VT_UI4) return E_UNEXPECTED;
        for (int row = 0; row < RowCount(); ++row) {
          if (rows_[row].item != static_cast<UINT>(itemId) ||
              rows_[row].id != static_cast<LONG>(V_UI4(&data)))
            continue;
          ValidateEditedParameter(row);
          if (rows_[row].flags & kRowChanged) SetModified(true);
          return S_OK;
        }
        return E_FAIL;
      }
      case 4: {
        if (V_VT(&data) != (VT_ARRAY | VT_VARIANT)) return E_UNEXPECTED;
        if (!V_ARRAY(&data)) return E_POINTER;
        com::Variant first, value;
        HRESULT hr = GetVariantPair(data, first.get(), value.get());
        if (FAILED(hr)) return hr;
        ULONG parameter = 0;
        hr = CFdtVariant::GetUI4(first.value(), &parameter);
        if (FAILED(hr)) return hr;
        return DisplayValueById(static_cast<LONG>(parameter), value.value());
      }
      default:
        return E_UNEXPECTED;
    }
  });
}

// ---- Mode and footer ---------------------------------------------------------------

void DtmControl::SetMode(ULONG mode) {
  mode_ = mode;
  if (!dialog_) return;
  SendFooterCommand(6, (mode & kModeBit8) ? 1 : 2);
  ULONG buttons = 11;
  if (mode & kModeOnline) buttons = editEnabled_ ? 4 : 8;
  else if (mode & kModeOffline) buttons = editEnabled_ ? 1 : 2;
  else if (mode & kModeBit1) buttons = editEnabled_ ? 5 : 10;
  SendFooterCommand(3, buttons);
}

HRESULT DtmControl::SendFooterCommand(ULONG code, ULONG value) {
  HRESULT result = S_FALSE;
  for (const UINT* item = description_.footerItems; item && *item; ++item)
    if (auto footer = HostedControl<IHostedToolkitControl>(*item)) result = footer->SetCommand(code, value);
  return result;
}

HRESULT DtmControl::RaiseApplyBracket(bool applying) {
  com::Variant value;
  V_VT(value.get()) = VT_I2;
  V_I2(value.get()) = applying ? -1 : 0;
  return RaiseDtmEvent(control_event::kApplyBracket, value.value());
}

HRESULT DtmControl::RaiseDtmEvent(LONG code, const VARIANT& value) {
  auto events = DtmInterface<IevFdtDtmEvents>();
  if (!events) return S_FALSE;
  return events->OnDtmEvent(*com::Variant(code).get(), value);
}

HRESULT DtmControl::SetFunctionEnabled(LONG functionId, LONG enable) {
  auto container = DtmInterface<IevFdtActiveXContainer>();
  if (!container) return S_FALSE;
  return container->SetFunctionEnabled(functionId, enable);
}

// The function container knows the other controls of the function; the
// control's own record, still there while a binding ends unasked, does not
// count. A DTM that does not answer in this apartment leaves the count to
// nobody: the function is offered again.
HRESULT DtmControl::OfferFunctionAgain(LONG functionId) {
  if (auto open = DtmInterface<IevFdtOpenControls>())
    if (open->OpenControlsOfFunction(functionId, registration_.get()) > 0) return S_FALSE;
  return SetFunctionEnabled(functionId, 1);
}

void DtmControl::PostCloseRequest() {
  if (dialog_)
    ::PostMessageW(dialog_, kCloseRequestMessage, 0, reinterpret_cast<LPARAM>(this));
}

bool DtmControl::OnApplyButton(UINT item, const std::function<HRESULT()>& apply) {
  switch (item) {
    case control_item::kApply:
      apply();
      return true;
    case IDOK:
      if (SUCCEEDED(apply())) PostCloseRequest();
      return true;
    case control_item::kCancel:
      PostCloseRequest();
      return true;
    default:
      return false;
  }
}

// The frame may release and destroy the control from inside the DTM's call
// (it asks PrepareToRelease, destroys the window and drops the object): the
// control is held across the call, and nothing of it is touched afterwards.
LRESULT DtmControl::HandleCloseRequest(DtmControl* control) {
  com::ComPtr<IUnknown> hold(control->Self());
  com::Bstr key;
  if (FAILED(key.assign(control->systemTag_.c_str()))) return E_OUTOFMEMORY;
  com::ComPtr<IevFdtActiveXContainer> container = control->DtmInterface<IevFdtActiveXContainer>();
  control = nullptr;
  if (!container) return E_NOINTERFACE;
  VARIANT_BOOL passedOn = VARIANT_FALSE;
  HRESULT hr = container->CloseActiveX(key.get(), &passedOn);
  if (SUCCEEDED(hr)) hr = passedOn ? S_OK : S_FALSE;
  return hr;
}

// ---- The dialog ------------------------------------------------------------------------

HWND DtmControl::Item(UINT id) const { return dialog_ ? ::GetDlgItem(dialog_, static_cast<int>(id)) : nullptr; }

void DtmControl::ShowItem(UINT id, bool show) {
  if (HWND item = Item(id)) ::ShowWindow(item, show ? SW_SHOW : SW_HIDE);
}

void DtmControl::EnableItem(UINT id, bool enable) {
  if (HWND item = Item(id)) ::EnableWindow(item, enable ? TRUE : FALSE);
}

void DtmControl::SetItemTextAnsi(UINT id, const wchar_t* text) {
  if (HWND item = Item(id)) ::SetWindowTextA(item, AnsiFromWide(text, CP_THREAD_ACP).c_str());
}

std::wstring DtmControl::ItemText(UINT id) const {
  HWND item = Item(id);
  return item ? WindowText(item) : std::wstring();
}

// A dialog whose initialisation raised is destroyed again (its hosted
// controls go with their windows) and the activation fails with what was
// raised.
HRESULT DtmControl::CreateControlWindow(HWND parent, const RECT& rect, HWND* window) {
  *window = nullptr;
  INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&classes);
  hostClass_ = std::make_unique<com::ControlHostClass>();
  initResult_ = S_OK;
  HWND dialog = ::CreateDialogParamW(com::module().instance(), MAKEINTRESOURCEW(description_.dialogId),
                                     parent, &DtmControl::DialogProc, reinterpret_cast<LPARAM>(this));
  const HRESULT init = initResult_;
  initResult_ = S_OK;
  if (dialog && FAILED(init)) {
    ::DestroyWindow(dialog);
    dialog = nullptr;
  }
  if (!dialog) {
    hostClass_.reset();
    return FAILED(init) ? init : E_FAIL;
  }
  ::SetWindowPos(dialog, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  *window = dialog;
  return S_OK;
}

// The window goes by a deactivation; the frame may activate the control
// again.
void DtmControl::OnDeactivating() {
  RememberUserInput();
  RemoveAllToolTips();
}

INT_PTR CALLBACK DtmControl::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* control = reinterpret_cast<DtmControl*>(lParam);
    ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    control->dialog_ = dialog;
    control->initResult_ = com::guard([&]() -> HRESULT {
      control->OnInitDialog();
      return S_OK;
    });
    return TRUE;
  }
  auto* control = reinterpret_cast<DtmControl*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  if (!control) return FALSE;
  if (message == kCloseRequestMessage) {
    // Nothing of the control may be touched after this call.
    const HRESULT closed = com::guard([&] { return static_cast<HRESULT>(HandleCloseRequest(control)); });
    ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, closed);
    return TRUE;
  }
  if (message == WM_DESTROY) {
    control->OnDialogDestroying(dialog);
    return FALSE;
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(dialog, DWLP_USER, 0);
    win32::guard([&] { control->RemoveAllToolTips(); });
    control->dialog_ = nullptr;
    control->WindowDestroyed();
    control->hostClass_.reset();
    return FALSE;
  }
  LRESULT result = 0;
  bool handled = false;
  com::guard([&]() -> HRESULT {
    handled = control->OnControlMessage(message, wParam, lParam, &result) ||
              control->ProcessWindowMessage(message, wParam, lParam, &result);
    return S_OK;
  });
  if (!handled) return FALSE;
  switch (message) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
      return static_cast<INT_PTR>(result);
    default:
      ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
      return TRUE;
  }
}

bool DtmControl::OnControlMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

bool DtmControl::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_SHOWWINDOW:
      if (wParam && firstShow_) {
        firstShow_ = false;
        OnShowWindow();
      }
      return false;
    case WM_CTLCOLOREDIT: {
      bool handled = true;
      HBRUSH brush = OnCtlColorEdit(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), &handled);
      *result = reinterpret_cast<LRESULT>(brush);
      return handled && brush;
    }
    case WM_CTLCOLORSTATIC: {
      bool handled = true;
      HBRUSH brush = OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), &handled);
      *result = reinterpret_cast<LRESULT>(brush);
      return handled && brush;
    }
    case WM_COMMAND:
      return OnCommand(wParam, lParam);
    case WM_HELP:
      ShowHelp();
      *result = TRUE;
      return true;
    case WM_MOUSEACTIVATE:
      UIActivate();
      return false;
    default:
      return false;
  }
}

bool DtmControl::OnCommand(WPARAM wParam, LPARAM lParam) {
  const UINT item = LOWORD(wParam);
  const UINT code = HIWORD(wParam);
  // The dialog manager makes Escape an IDCANCEL of no item: the dialog's
  // Cancel or Close button has an id of its own.
  if (item == IDCANCEL && code == BN_CLICKED && !lParam && description_.cancelItem != IDCANCEL) {
    OnEscape();
    return true;
  }
  if (item == control_item::kHelp && code == BN_CLICKED) {
    ShowHelp();
    return true;
  }
  if (FindRowByItem(item) < 0) return false;
  switch (code) {
    case 7:  // CBN_DROPDOWN of a combo box, BN_KILLFOCUS of a button
      return OnComboDropDown(item);
    case EN_CHANGE:
    case BN_CLICKED:
    case CBN_SELCHANGE:
    case CBN_EDITCHANGE:
      return OnItemChanged(item);
    default:
      return false;
  }
}

// What the dialog manager does for Enter and its default button: the
// button's click, as the button itself tells it. A hidden or disabled button
// cannot be clicked, and neither can it be by Escape.
void DtmControl::OnEscape() {
  const UINT id = description_.cancelItem;
  HWND button = id ? Item(id) : nullptr;
  if (!button || !::IsWindowVisible(button) || !::IsWindowEnabled(button)) return;
  ::SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void DtmControl::OnInitDialog() {
  // The hosted controls: from the dialog's initialisation data where it
  // names them, else new; an item whose control cannot be made stays empty.
  std::map<UINT, std::pair<WORD, std::vector<BYTE>>> init;
  if (HRSRC found = ::FindResourceW(com::module().instance(), MAKEINTRESOURCEW(description_.dialogId),
                                    kDialogInitType)) {
    const DWORD size = ::SizeofResource(com::module().instance(), found);
    HGLOBAL loaded = ::LoadResource(com::module().instance(), found);
    const BYTE* data = loaded ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
    for (DWORD at = 0; data && at + 8 <= size;) {
      WORD id = 0, how = 0;
      DWORD length = 0;
      std::memcpy(&id, data + at, 2);
      if (id == 0) break;
      std::memcpy(&how, data + at + 2, 2);
      std::memcpy(&length, data + at + 4, 4);
      at += 8;
      if (length > size - at) break;
      init[id] = {how, std::vector<BYTE>(data + at, data + at + length)};
      at += length;
    }
  }
  for (HWND child = ::GetWindow(dialog_, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t className[64] = {};
    ::GetClassNameW(child, className, 64);
    if (std::wcscmp(className, com::kControlHostClass) != 0) continue;
    const UINT id = static_cast<UINT>(::GetDlgCtrlID(child));
    com::ComPtr<IStream> state;
    auto entry = init.find(id);
    if (entry != init.end() && entry->second.first == kLoadFromStream) {
      const std::vector<BYTE>& bytes = entry->second.second;
      state.attach(::SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
    }
    com::CreateHostedControl(child, state.get());
  }
  for (const UINT* item = description_.footerItems; item && *item; ++item)
    if (auto footer = HostedControl<IHostedToolkitControl>(*item)) {
      footer->ShowElement1(footerOptions_ & 0x100);
      footer->ShowElement2(footerOptions_ & 0x200);
      footer->ShowElement3(footerOptions_ & 0x400);
    }
  SetBackgroundBrush(AmbientBackColor());

  // What arrived before the window existed.
  ApplyKeptState();
  if (parameterHandler_) {
    AttachParameterControls();
    ReadAllParameters();
  }
  if (dtm_) static_cast<IevFdtTranslationEvent*>(this)->OnTranslate(languageId_);
  OnDialogCreated();
  ReplayUserInput();
}

// While the hosted items still exist. The control's own deactivation and
// destruction forget the window first (ActiveXControl); a window that is
// still the control's here was destroyed by the frame, which drops the
// control that way.
void DtmControl::OnDialogDestroying(HWND dialog) {
  com::guard([&]() -> HRESULT {
    if (ControlWindow() == dialog) EndBinding();
    // The next window has item windows and markers of its own.
    for (CActXParInfo& row : rows_) {
      row.itemWindow = nullptr;
      row.markerWindow = nullptr;
    }
    firstShow_ = true;
    lastTranslatedItem_ = nullptr;
    OnDialogDestroyed();
    return S_OK;
  });
}

void DtmControl::RememberUserInput() {
  userInput_.clear();
  if (!dialog_) return;
  for (HWND child = ::GetWindow(dialog_, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (!::IsWindowEnabled(child) || !(::GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE)) continue;
    UserInput input;
    input.item = static_cast<UINT>(::GetDlgCtrlID(child));
    // A row's value comes from the DTM again unless the user changed it.
    const int row = FindRowByItem(input.item);
    if (row >= 0 && !(rows_[row].flags & (kRowChanged | kRowInvalid))) continue;
    const LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE);
    input.kind = GetDialogItemKind(child);
    switch (input.kind) {
      case kItemEdit:
        if (style & ES_READONLY) continue;
        input.text = WindowText(child);
        break;
      case kItemButton:
        switch (style & BS_TYPEMASK) {
          case BS_CHECKBOX:
          case BS_AUTOCHECKBOX:
          case BS_3STATE:
          case BS_AUTO3STATE:
          case BS_RADIOBUTTON:
          case BS_AUTORADIOBUTTON:
            input.state = ::SendMessageW(child, BM_GETCHECK, 0, 0);
            break;
          default:
            continue;
        }
        break;
      case kItemComboBox:
        input.state = ::SendMessageW(child, CB_GETCURSEL, 0, 0);
        input.text = WindowText(child);
        break;
      case kItemListBox:
        if (style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) {
          const LRESULT count = ::SendMessageW(child, LB_GETSELCOUNT, 0, 0);
          if (count > 0) {
            input.selected.resize(static_cast<size_t>(count));
            ::SendMessageW(child, LB_GETSELITEMS, static_cast<WPARAM>(count),
                           reinterpret_cast<LPARAM>(input.selected.data()));
          }
        }
        input.state = ::SendMessageW(child, LB_GETCURSEL, 0, 0);
        break;
      case kItemListView:
        input.state = ::SendMessageW(child, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
        if (input.state < 0) continue;
        input.text = ListRowText(child, static_cast<int>(input.state));
        break;
      default:
        continue;
    }
    userInput_.push_back(std::move(input));
  }
}

// Each entry that the new window shows differently is entered again, with
// the notification a user's input sends, so that the base and the control
// check and mark it as they did the first time.
void DtmControl::ReplayUserInput() {
  std::vector<UserInput> inputs = std::move(userInput_);
  userInput_.clear();
  for (const UserInput& input : inputs) {
    HWND item = Item(input.item);
    if (!item || !::IsWindowEnabled(item) || GetDialogItemKind(item) != input.kind) continue;
    const LONG_PTR style = ::GetWindowLongPtrW(item, GWL_STYLE);
    auto notify = [&](UINT code) {
      ::SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(input.item, code), reinterpret_cast<LPARAM>(item));
    };
    switch (input.kind) {
      case kItemEdit:
        // The edit tells its parent itself (EN_CHANGE).
        if (!(style & ES_READONLY) && WindowText(item) != input.text) ::SetWindowTextW(item, input.text.c_str());
        break;
      case kItemButton:
        if (::SendMessageW(item, BM_GETCHECK, 0, 0) != input.state) {
          ::SendMessageW(item, BM_SETCHECK, static_cast<WPARAM>(input.state), 0);
          notify(BN_CLICKED);
        }
        break;
      case kItemComboBox:
        if ((style & 0x3) == CBS_DROPDOWN || (style & 0x3) == CBS_SIMPLE) {
          if (WindowText(item) != input.text) {
            ::SetWindowTextW(item, input.text.c_str());
            notify(CBN_EDITCHANGE);
          }
        } else if (::SendMessageW(item, CB_GETCURSEL, 0, 0) != input.state) {
          ::SendMessageW(item, CB_SETCURSEL, static_cast<WPARAM>(input.state), 0);
          notify(CBN_SELCHANGE);
        }
        break;
      case kItemListBox:
        if (style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) {
          ::SendMessageW(item, LB_SETSEL, FALSE, -1);
          for (int index : input.selected) ::SendMessageW(item, LB_SETSEL, TRUE, index);
        } else {
          ::SendMessageW(item, LB_SETCURSEL, static_cast<WPARAM>(input.state), 0);
        }
        notify(LBN_SELCHANGE);
        break;
      case kItemListView: {
        // The row clicked again, when the new list has it where it was.
        const int row = static_cast<int>(input.state);
        if (row >= static_cast<int>(::SendMessageW(item, LVM_GETITEMCOUNT, 0, 0)) ||
            ListRowText(item, row) != input.text ||
            (::SendMessageW(item, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED))
          break;
        LVITEMW state = {};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageW(item, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
        NMITEMACTIVATE click = {};
        click.hdr.hwndFrom = item;
        click.hdr.idFrom = input.item;
        click.hdr.code = NM_CLICK;
        click.iItem = row;
        ::SendMessageW(dialog_, WM_NOTIFY, input.item, reinterpret_cast<LPARAM>(&click));
        break;
      }
      default:
        break;
    }
  }
}

// The DTM's state, the mode, the help flag and the footer values, as kept
// so far; run once the DTM is attached and once the window exists.
void DtmControl::ApplyKeptState() {
  if (!dialog_) return;
  EnableHelp(helpAvailable_);
  SetMode(mode_);
  SendStateToFooter();
  if (hasTransferState_ && transferState_ <= 3) SendFooterCommand(4, transferState_);
  if (hasFooterSwitch_) SendFooterCommand(5, footerSwitch_);
}

void DtmControl::EnableHelp(bool enable) {
  helpAvailable_ = enable;
  EnableItem(control_item::kHelp, enable);
}
