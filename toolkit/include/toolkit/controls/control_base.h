// DtmControl: the base of every user-interface control of a DTM. See
// README.md beside this header for how a control is made on it.
//
// A control is a windowed ActiveX control (com::ActiveXControl) whose window
// is a dialog of the control's own resources, with an outside device header
// and footer bar hosted in it (com/ControlHost.h). The frame application
// creates it, binds it to the DTM through IDtmActiveXControl::Init and
// releases it after PrepareToRelease; the DTM's function container tells it
// the DTM's state and broadcasts properties through IevFdtActiveX4.
//
// The base:
// - binds to the DTM (Init: registration with the function container, the
//   function id, application id and operation phase, the mode; AttachDtm:
//   parameter handler, parameter map, language) and unbinds
//   (PrepareToRelease with the questions for pending changes, DetachDtm);
// - follows the DTM's state and the control properties, and drives the
//   footer bar's commands;
// - shows the mapped parameters, follows edits, validates them with the
//   DTM, marks rows changed or invalid, writes them into the data set or to
//   the device (control_display.cpp);
// - colours items and markers by their row's state (control_colours.cpp);
// - translates the dialog, gives tool tips, opens help, fetches user and
//   toolkit messages and asks the user through the DTM (control_texts.cpp);
// - closes itself on request: message kCloseRequestMessage asks the DTM to
//   have the frame close the control.
//
// Properties and states that arrive before the DTM is attached (the
// container sends them while Init registers the control) or before the
// window exists are kept and applied once the DTM is attached and once the
// window is made, so none is lost. A frame may initialise the control before
// it activates it, and may deactivate it (its window goes) and activate it
// again: every window the control gets shows the same. What the user entered
// and has not applied is taken over into the next window.
//
// The binding ends when the frame asks (PrepareToRelease), and also when the
// frame drops the control without asking: IOleObject::Close,
// SetClientSite(nullptr), its window destroyed by somebody else than the
// control, or the frame's last release. The control then takes its record
// back from the DTM (which gives back the function's data-set lock), detaches,
// does its own part (OnUnbinding) and lets go of the DTM. The DTM's function
// container holds a small object of the base's that passes its calls on to
// the control without holding it (see registered_control.h), so that the
// frame's last release really ends the control.
//
// Threads: everything runs on the frame's user-interface thread (the
// control's apartment); the base starts no thread and takes no lock.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <oaidl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "com/ActiveXControl.h"
#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/ControlHost.h"
#include "com/Dispatch.h"
#include "com/Variant.h"
#include "fdt.h"
#include "outside.h"
#include "toolkit.h"
#include "toolkit/controls/param_map.h"
#include "toolkit/dtm/property_ids.h"
#include "toolkit/xml/xml_handler.h"
#include "win32/unique_handle.h"

class RegisteredControl;

// The control properties (IevFdtActiveX4::SetProperty ids) are property_id
// (toolkit/dtm/property_ids.h).

// Mode flags of a control.
enum ControlMode : ULONG {
  kModeBit1 = 0x1,  // a further mode no control of this DTM sets
  kModeOffline = 0x2,
  kModeOnline = 0x4,
  kModeBit8 = 0x8,  // a further mode no control of this DTM sets
};

// Control state (GetControlState).
enum ControlState : ULONG {
  kControlStarted = 0,
  kControlClosing = 4,
  kControlOffline = 8,  // the DTM left the online state
  kControlOnline = 9,   // the DTM is online
};

// DTM states the controls test.
enum ControlDtmState : ULONG {
  kDtmStateCommunicationSet = 9,
  kDtmStateGoingOnline = 10,
  kDtmStateGoingOffline = 11,
  kDtmStateOnline = 12,
};

// Events a control raises through the DTM's IevFdtDtmEvents.
namespace control_event {
constexpr LONG kLoadIntoDtm = 49;      // changes in the device: load them into the DTM
constexpr LONG kStoreToDevice = 50;    // changes in the DTM: store them to the device
constexpr LONG kApplyBracket = 52;     // VT_I2 -1 before a control applies, 0 after
}  // namespace control_event

// Items every control dialog has.
namespace control_item {
constexpr UINT kDeviceHeader = 5027;
constexpr UINT kFooterBar = 5028;
constexpr UINT kStatusIcon = 6029;
constexpr UINT kStatusText = 6030;
constexpr UINT kApply = 6010;
constexpr UINT kCancel = 6028;
constexpr UINT kHelp = 6063;
}  // namespace control_item

// Posted by a control to its own window (lParam: the control) to ask the
// DTM to have it closed.
constexpr UINT kCloseRequestMessage = WM_USER + 0x1200;  // 0x1600

// What differs between the controls built on the base.
struct ControlDescription {
  const CLSID* classId;
  UINT dialogId;
  const ParameterMapRow* parameterMap;  // ended by kEndOfMap
  const ItemName* itemNames;            // translation table, ended by id 0
  const UINT* footerItems;              // items holding the footer bar, ended by 0
  ULONG footerOptions;
  // The function id's path in the function-call document:
  // "FDT/FDTFunctionCall/@func:functionId" (the DTM's controls) or
  // "*/FDTFunctionCall/@func:functionId" (any root element).
  const wchar_t* functionIdPath;
  // Parameter tool tips at translation: false asks selector 0x8000 for
  // every row; true asks 0x80000000 first and skips rows that answer 0.
  bool tipsOnlyWhenAnnounced;
  // The schema names a missing-schema parse error gives (null: the
  // toolkit's default, letters, digits and '_').
  SchemaNameReader schemaNames;
  // The dialog's Cancel or Close button, which Escape clicks.
  UINT cancelItem;
};

class DtmControl : public com::ObjectRoot,
                   public com::ActiveXControl,
                   public com::DispatchImpl<IevFdtActiveX4>,
                   public com::DispatchImpl<IevFDTParamGroupDisplayEvent>,
                   public com::DispatchImpl<IevFdtActiveXInfo>,
                   public com::DispatchImpl<IDtmActiveXControl>,
                   public com::DispatchImpl<IevFdtTranslationEvent> {
 public:
  // ---- IOleObject ----------------------------------------------------------
  // Both end the binding when the frame drops the control this way.
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP Close(DWORD saveOption) override;

  // ---- IDtmActiveXControl --------------------------------------------------
  STDMETHODIMP Init(BSTR systemTag, BSTR functionCall, IUnknown* dtm, VARIANT_BOOL* result) override;
  STDMETHODIMP PrepareToRelease(VARIANT_BOOL* result) override;

  // ---- IevFdtActiveX4 ------------------------------------------------------
  STDMETHODIMP OnStateChanged(unsigned long state) override;
  STDMETHODIMP OutputTrace(BSTR text) override;
  STDMETHODIMP OnDtmMessage(VARIANT id, VARIANT value, BSTR text) override;
  STDMETHODIMP SetProperty(VARIANT key, VARIANT value) override;
  STDMETHODIMP AttachDtm(IUnknown* dtm, VARIANT_BOOL* result) override;
  STDMETHODIMP DetachDtm(VARIANT_BOOL* result) override;

  // ---- IevFdtActiveXInfo ---------------------------------------------------
  STDMETHODIMP GetInfo(VARIANT what, VARIANT* result) override;
  STDMETHODIMP SetInfo(VARIANT what, VARIANT value) override;
  STDMETHODIMP SetFrameContainer(IUnknown* frameContainer) override;

  // ---- IevFDTParamGroupDisplayEvent ----------------------------------------
  STDMETHODIMP OnParamGroupDisplayEvent(long itemId, long code, VARIANT data) override;

  // ---- IevFdtTranslationEvent ----------------------------------------------
  STDMETHODIMP OnTranslate(unsigned long languageId) override;

  // The XML handler's owner hooks.
  static const wchar_t* const* XmlSchemaFiles();
  void ReportXmlMessage(const char* text);

  // Interface-map helper: a query for IevFdtTranslation is answered with
  // the DTM's own.
  template <class Class>
  static HRESULT QueryDtmTranslation(void* object, REFIID iid, void** out) {
    return static_cast<DtmControl*>(static_cast<Class*>(object))->ForwardToDtm(iid, out);
  }

 protected:
  explicit DtmControl(const ControlDescription& description);
  ~DtmControl() override;

  // The object's last release (com::ComObject): the binding ends, if the
  // frame did not end it. A control class with a finalRelease of its own
  // calls this one first.
  void finalRelease();

  // ---- What a control adds -------------------------------------------------
  // Its own part of Init, once the base has bound it (registered, function
  // read, DTM attached, edit permission broadcast). A failure or S_FALSE
  // makes Init fail: the binding ends and the control is unregistered.
  virtual HRESULT OnInit() { return S_OK; }
  // The binding ends without PrepareToRelease (the frame dropped the control,
  // or Init failed after registering): what the control's PrepareToRelease
  // would have done besides the base's part, before the base detaches and
  // unregisters (the DTM is still there).
  virtual void OnUnbinding() {}
  // Its own window messages, before the base's (WM_COMMAND of its buttons,
  // say); true when handled, with *result the message's result.
  virtual bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // After the dialog was made and the hosted controls created, also for the
  // window of a re-activation; before the user's unapplied input is taken
  // over into it.
  virtual void OnDialogCreated() {}
  // The dialog goes (deactivation, or the frame destroyed it): what the
  // control kept of its windows is forgotten.
  virtual void OnDialogDestroyed() {}
  // After the edit lock (user level), the read-only flag or the edit mode
  // changed: a control re-enables its own items.
  virtual void OnEditStateChanged() {}
  // After the dialog's items were translated (a language change, a new
  // window): the translation gave the items their labels back, so a control
  // shows again what it had put into them (a reason, an instruction).
  virtual void OnTranslated() {}

  // The id of a property key (SetProperty) as a number; a text of digits
  // converts. E_FAIL for a key that is no number.
  static HRESULT PropertyId(const VARIANT& key, ULONG* id);

  // ---- Lifecycle -----------------------------------------------------------
  // Stores the mode flags and sends footer commands 6 and 3.
  void SetMode(ULONG mode);
  ULONG Mode() const { return mode_; }
  bool OfflineMode() const { return (mode_ & kModeOffline) != 0; }
  bool OnlineMode() const { return (mode_ & kModeOnline) != 0; }
  // Posts kCloseRequestMessage to the control's window.
  void PostCloseRequest();
  // The buttons of a dialog that applies its changes, for a control's
  // OnControlMessage: Apply (item 6010) applies them, OK applies them and
  // asks to be closed once they hold, Cancel (6028) asks to be closed. True
  // when item is one of the three.
  bool OnApplyButton(UINT item, const std::function<HRESULT()>& apply);
  // The DTM's IevFdtDtmEvents::OnDtmEvent; S_FALSE without it.
  HRESULT RaiseDtmEvent(LONG code, const VARIANT& value);
  // DTM event 52 around a control's writes: VT_I2 -1 before, 0 after.
  HRESULT RaiseApplyBracket(bool applying);
  // IevFdtActiveXContainer::SetFunctionEnabled; S_FALSE without the container.
  HRESULT SetFunctionEnabled(LONG functionId, LONG enable);
  // The function offered again as its control goes, unless another control
  // of it is still open (a frame may open a function twice, under two keys):
  // then S_FALSE, and the last of them offers it.
  HRESULT OfferFunctionAgain(LONG functionId);
  // A footer command (IHostedToolkitControl::SetCommand on every footer
  // item); S_FALSE when there is no footer bar.
  HRESULT SendFooterCommand(ULONG code, ULONG value);

  // What the base holds.
  IUnknown* Dtm() const { return dtm_.get(); }
  IevFdtParameterHandler4* ParameterHandler() const { return parameterHandler_.get(); }
  template <class Interface>
  com::ComPtr<Interface> DtmInterface() const {
    com::ComPtr<Interface> out;
    if (dtm_) dtm_->QueryInterface(__uuidof(Interface), out.putVoid());
    return out;
  }
  const wchar_t* SystemTag() const { return systemTag_.c_str(); }
  const wchar_t* FunctionCall() const { return functionCall_.c_str(); }
  const wchar_t* FunctionName() const { return functionName_.c_str(); }
  ULONG FunctionId() const { return functionId_; }
  ULONG ApplicationId() const { return applicationId_; }
  ULONG OperationPhase() const { return operationPhase_; }
  ULONG DtmState() const { return dtmState_; }
  ULONG LanguageId() const { return languageId_; }
  bool EditLock() const { return editLock_ != 0; }
  bool EditEnabled() const { return editEnabled_; }
  bool ReadOnly() const { return readOnly_; }
  bool Modified() const { return modified_; }
  bool HelpAvailable() const { return helpAvailable_; }
  // Changes are allowed while editing is enabled and the edit lock is clear.
  bool ChangesAllowed() const { return editEnabled_ && !editLock_; }
  // Request flags: changes pending in the DTM or in the device, asked about
  // at release.
  void SetChangesPendingInDtm(bool on) { pendingInDtm_ = on; }
  void SetChangesPendingInDevice(bool on) { pendingInDevice_ = on; }

  // ---- Dialog items --------------------------------------------------------
  HWND Dialog() const { return dialog_; }
  HWND Item(UINT id) const;
  void ShowItem(UINT id, bool show);
  void EnableItem(UINT id, bool enable);
  // The text set as ANSI (the thread's code page), as the dialog shows it.
  void SetItemTextAnsi(UINT id, const wchar_t* text);
  // An item's whole text; empty without the item.
  std::wstring ItemText(UINT id) const;
  // The hosted control of an item, as interface I; null when none.
  template <class Interface>
  com::ComPtr<Interface> HostedControl(UINT item) const {
    com::ComPtr<IUnknown> control;
    com::ComPtr<Interface> out;
    if (SUCCEEDED(com::GetHostedControl(Item(item), control.put())) && control)
      control.as(out);
    return out;
  }

  // ---- Texts (control_texts.cpp) -------------------------------------------
  // The user message of a string id (or key) from the DTM's translation, else
  // this module's string table; empty when neither has it.
  com::Bstr UserMessage(int id, const wchar_t* key);
  // A toolkit message (ids 1001-1006, 4001, 4002 built in); S_OK with a
  // null text for other ids; E_POINTER for a null out.
  HRESULT GetToolkitMessage(ULONG id, BSTR* text);
  // Asks the user through the DTM's container; the button chosen (IDYES 6,
  // IDNO 7, IDCANCEL 2), 0 without the container.
  long ShowUserMessage(const wchar_t* text, const wchar_t* caption, ULONG style);
  // "Apply changes?" (toolkit messages 4002 and 4001) with Yes, No and
  // Cancel and the question icon, about changes the control has not applied
  // when it is to go: Yes applies them through apply. False when the user
  // cancels or the changes fail (the control stays), true when it may go.
  bool AskToApplyChanges(const std::function<HRESULT()>& apply);
  // Opens the help file that the translation document names for the
  // control (button 6063, F1); S_FALSE when it names none.
  HRESULT ShowHelp();
  // The help file the translation names for the control in the current
  // language; false when there is no translation, no file, or a name that is
  // no file in the translation folder (HelpFileLocation).
  bool LookUpHelpFile(IevFdtTranslation* translation, com::Bstr* file);
  // printf-style diagnostics to OutputTrace: at most 4096 characters
  // (TraceShort: 512); longer texts are cut.
  void Trace(const char* format, ...);
  void TraceShort(const char* format, ...);
  // The control's registered class name (the class key's text), under which
  // the translation document lists its texts.
  const wchar_t* ClassName();
  // Tool tip of an item (replaced when it has one); null text removes it.
  void SetToolTip(HWND item, const wchar_t* text);

  // ---- Parameter display (control_display.cpp) -----------------------------
  std::vector<CActXParInfo>& Rows() { return rows_; }
  // The DTM's information of a parameter by selector (IevFdtParameterInfo);
  // E_POINTER without the interface.
  HRESULT ParameterInfo(LONG id, LONG selector, VARIANT* value);
  int RowCount() const { return static_cast<int>(rows_.size()); }
  int FindRowById(LONG id) const;
  int FindRowByItem(UINT item) const;

  HRESULT ReadAllParameters();
  virtual HRESULT ReadParameter(int row);
  virtual HRESULT FillEnumerationList(int row);
  virtual HRESULT RefillEnumeration(int row);
  virtual void SetModified(bool modified);
  virtual HRESULT ValidateAll();
  virtual HRESULT DisplayValue(int row, const VARIANT& value);
  virtual HRESULT DisplayValueById(LONG id, const VARIANT& value);
  virtual HRESULT ShowEnumerationValue(int row, const VARIANT& value);
  virtual HRESULT ShowBitEnumerationValue(int row, const VARIANT& value);
  virtual HRESULT ReadItemValue(int row, VARIANT* value);
  virtual HRESULT ReadEnumerationValue(int row, VARIANT* value);
  virtual HRESULT ValidateEnumerationValue(int row, VARIANT* value);
  virtual HRESULT ReadBitEnumerationValue(int row, VARIANT* value);
  virtual HRESULT ValidateBitEnumerationValue(int row, VARIANT* value);
  virtual HRESULT GetItemValue(LONG id, VARIANT* value);
  virtual HRESULT ValidateEditedRow(int row);
  virtual HRESULT ValidateEditedEnumRow(int row);
  virtual HRESULT ValidateEditedBitEnumRow(int row);
  virtual HRESULT OnParameterEdited(LONG id);
  virtual HRESULT SetRowState(int row, ULONG flags);
  virtual HRESULT SetParameterStatus(LONG id, ULONG flags);
  virtual void SetEditMode(bool on);
  virtual void EnableHelp(bool enable);
  virtual HRESULT RefreshParameter(LONG id);
  virtual HRESULT ReloadParameter(LONG id);
  virtual HRESULT WriteParameter(LONG id);
  // WriteParameter or WriteDeviceValue, as WritesIntoDataSet decides.
  virtual HRESULT ApplyParameter(LONG id);
  // Whether a row's value goes into the DTM's data set rather than to the
  // device: a DTM parameter (information 1 is 0), offline mode, or mode bit
  // 1 with display flag 0x100.
  bool WritesIntoDataSet(int row);
  virtual HRESULT ReadValueKind(int row);
  virtual HRESULT GetParameterAccess(LONG id, ULONG* flags);
  virtual HRESULT ReadParameterValue(LONG id, VARIANT* value);
  virtual HRESULT ReadParameterData(LONG id, VARIANT* value);
  virtual HRESULT WriteParameterValue(LONG id, const VARIANT& value);
  virtual HRESULT GetParameterTexts(LONG id, BSTR* text, unsigned short* vt);
  virtual HRESULT QueryDtmParameter(LONG id, VARIANT* value);
  virtual HRESULT GetParameterByPath(LONG id);
  virtual HRESULT WriteDeviceValue(LONG id);
  virtual HRESULT ReadDeviceParameter(int row);
  virtual HRESULT WriteDeviceParameter(int row);
  virtual HRESULT ShowParameterUnit(int row);
  virtual HRESULT GetUnitText(int row, BSTR* text);
  // Reads the edited item, checks it with the DTM and sets the row's flags;
  // S_FALSE when the DTM refuses the value.
  virtual HRESULT ValidateEditedParameter(int row);
  virtual bool OnComboDropDown(UINT item);
  virtual bool OnItemChanged(UINT item);
  virtual HRESULT RememberItemText(UINT item, VARIANT* text, ULONG* flags);
  virtual void OnShowWindow();
  virtual ULONG GetControlState() const { return controlState_; }
  virtual void SetControlState(ULONG state) { controlState_ = state; }
  virtual bool AreValuesEqual(const VARIANT& a, const VARIANT& b) const;
  virtual int GetDialogItemKind(HWND item) const;
  int GetDialogItemKindById(UINT id) const { return GetDialogItemKind(Item(id)); }

  // ---- Colours and markers (control_colours.cpp) ---------------------------
  struct StateMarker {
    ULONG key;
    const wchar_t* symbol;
    COLORREF text;
    COLORREF background;
    COLORREF marker;
  };
  virtual void InitStateMarkers();
  virtual HBRUSH OnCtlColorEdit(HDC dc, HWND window, bool* handled);
  virtual HBRUSH OnCtlColorOther(HDC dc, HWND window, bool* handled);
  virtual HBRUSH OnCtlColorStatic(HDC dc, HWND window, bool* handled);
  // The colour a symbolic value stands for in the row (RGB values as they are).
  COLORREF ResolveColour(COLORREF colour, const CActXParInfo& row) const;
  void SetBackgroundBrush(COLORREF colour);
  const StateMarker* FindStateMarker(ULONG flags) const;
  bool InQuestionMarkState(const CActXParInfo& row, bool forMarker) const;

  // com::ActiveXControl
  HRESULT CreateControlWindow(HWND parent, const RECT& rect, HWND* window) override;
  void OnDeactivating() override;

 private:
  HRESULT ForwardToDtm(REFIID iid, void** out);
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT HandleCloseRequest(DtmControl* control);
  bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnCommand(WPARAM wParam, LPARAM lParam);
  // Escape: a click on the dialog's Cancel or Close button, while it can be
  // clicked.
  void OnEscape();
  void OnInitDialog();
  void OnDialogDestroying(HWND dialog);
  void ApplyKeptState();
  // The object the DTM's function container holds for the control.
  HRESULT Registration(IUnknown** registration);
  // Ends the binding (see above); nothing when it has ended already.
  void EndBinding();
  // What the user can change in the dialog, kept when the window goes by a
  // deactivation and given to the next one as the user would enter it.
  void RememberUserInput();
  void ReplayUserInput();
  void SendStateToFooter();
  HRESULT UnregisterFromDtm();
  HRESULT ReadFunctionInformation();
  HRESULT BroadcastEditPermission();
  HRESULT HandleBaseProperty(ULONG key, const VARIANT& value);
  HRESULT AttachParameterControls();
  HRESULT TranslateItems(IevFdtTranslation* translation);
  HRESULT ApplyTranslationElement(IevFdtTranslation* translation, UINT item, const wchar_t* element);
  HRESULT TranslateParameterTips();
  void RemoveAllToolTips();
  // The properties about one shown parameter (value written, access flags,
  // device value, value list).
  HRESULT OnParameterProperty(ULONG key, LONG parameter);
  // The parameter id a property's value names: the value itself or the first
  // of an (id, data) pair.
  HRESULT ParameterReference(const VARIANT& value, LONG* id);
  HRESULT ReadAccessFlagsInto(LONG id);
  // The item's value of a row that may be written: S_OK with the value,
  // S_FALSE for a row that was never read, is not writable or holds a value
  // the DTM refuses.
  HRESULT ValueToWrite(LONG id, VARIANT* value);
  // The state entry's colours set into dc and the brush of its background.
  HBRUSH ColourItem(HDC dc, const CActXParInfo& row, const StateMarker& entry, bool* handled);
  HRESULT ShowValueText(int row, const wchar_t* text);
  HRESULT ShowThroughValueList(int row, const VARIANT& value,
                               const std::function<void(HWND item, const VARIANT& list)>& show);

  const ControlDescription& description_;
  CevFDTXMLHandlerImpl<DtmControl> xml_;
  std::unique_ptr<com::ControlHostClass> hostClass_;
  HWND dialog_ = nullptr;  // from WM_INITDIALOG to WM_NCDESTROY
  HRESULT initResult_ = S_OK;  // what OnInitDialog raised, for CreateControlWindow
  // The DTM's function container holds registration_ (registered_ while the
  // record is there); registeredObject_ is its object, unlinked when the
  // binding ends.
  com::ComPtr<IUnknown> registration_;
  RegisteredControl* registeredObject_ = nullptr;
  bool registered_ = false;
  bool endingBinding_ = false;
  struct UserInput {
    UINT item;
    int kind;
    std::wstring text;         // an edit's text
    LRESULT state = 0;         // a button's check, a combo or list box's selection
    std::vector<int> selected; // a multiple-selection list box's entries
  };
  std::vector<UserInput> userInput_;

  // IDtmActiveXControl part.
  com::Bstr systemTag_;
  com::Bstr functionCall_;
  com::ComPtr<IUnknown> dtm_;
  com::ComPtr<IDtm> idtm_;
  com::Bstr functionName_;
  ULONG applicationId_ = 0;
  ULONG operationPhase_ = 0;
  ULONG functionId_ = 0;

  // IevFdtActiveX4 part.
  com::ComPtr<IevFdtParameterHandler4> parameterHandler_;
  com::ComPtr<IFrameContainer> frameContainer_;
  std::vector<CActXParInfo> rows_;
  ULONG dtmState_ = 0;
  ULONG controlState_ = kControlStarted;
  ULONG mode_ = kModeOffline;
  ULONG languageId_ = 1033;
  bool editEnabled_ = true;
  BYTE editLock_ = 1;  // locked, as for an observer, until the user level arrives
  bool firstShow_ = true;
  win32::UniqueBrush brush_;
  bool loading_ = false;
  bool updating_ = false;
  bool readOnly_ = false;
  // Help is offered while the translation names a help file (HelpFile).
  bool helpAvailable_ = false;
  com::Bstr translationFolder_;  // property 9995
  bool pendingInDtm_ = false;
  bool pendingInDevice_ = false;
  bool modified_ = false;
  ULONG footerOptions_ = 0;
  // Footer values kept until the footer bar can take them.
  bool hasTransferState_ = false;
  ULONG transferState_ = 0;
  bool hasFooterSwitch_ = false;
  ULONG footerSwitch_ = 0;
  com::Bstr className_;
  std::map<HWND, HWND> toolTips_;  // item window -> its tool-tip window
  HWND lastTranslatedItem_ = nullptr;
  std::vector<StateMarker> stateMarkers_;
};

// The interfaces of a control on the base, for its interface map.
#define EV_DTM_CONTROL_ENTRIES(Class)                                                          \
  COM_ACTIVEX_CONTROL_ENTRIES(Class), com::entry<Class, IevFdtActiveX4>(),                      \
      com::entry<Class, IevFDTParamGroupDisplayEvent>(), com::entry<Class, IevFdtActiveXInfo>(), \
      com::entry<Class, IDtmActiveXControl>(), com::entry<Class, IevFdtTranslationEvent>(),     \
      com::entryQuery(__uuidof(IevFdtTranslation), &DtmControl::QueryDtmTranslation<Class>)

// The whole interface map of a control on the base whose own dual interface
// is Interface, which also answers IDispatch.
template <class Class, class Interface>
const com::InterfaceEntry* DtmControlInterfaceMap() {
  static const com::InterfaceEntry map[] = {com::entry<Class, Interface>(),
                                            com::entry<Class, IDispatch, Interface>(),
                                            EV_DTM_CONTROL_ENTRIES(Class), com::endOfMap()};
  return map;
}

// The text of a floating-point item: "," as decimal point, a leading
// exponent without digits ("e5") read as 1e5, "1.#INF" and "-1.#INF" as
// infinities, and the value rounded to what format shows. The buffer is
// 256 characters. E_INVALIDARG for a missing argument, E_FAIL when no number
// is read.
HRESULT TextToFloat(const wchar_t* text, const char* format, VARIANT* value);
// Where HTML Help finds a help file the translation document names: below
// the translation folder (a '\' added when the folder lacks one). Only a
// plain file name or a relative path is taken: no ':' (drive, web address),
// no leading '\' or '/' (root, network share), no ".."; a topic behind the
// name ("file.chm::/page.htm") stays with it. Empty for any other name, and
// while no folder was sent.
std::wstring HelpFileLocation(const wchar_t* translationFolder, const wchar_t* file);
