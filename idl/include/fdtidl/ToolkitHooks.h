// What the toolkit and the DTM class agree on beyond COM: the hooks that the
// toolkit's base DTM calls on the DTM class, the tables the DTM class
// declares, and the parameter handler's operations that pass C++ records.
//
// None of this crosses an apartment. The COM interfaces are in toolkit.idl;
// include "toolkit.h" (generated) for them.
//
// Table texts are 8-bit strings; every field that holds a pointer is
// pointer-sized, so the tables read the same on i686 and x86_64.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>

struct ParInfo;  // one parameter descriptor; defined by the toolkit

// ---------------------------------------------------------------------------
// Tables the DTM class declares
// ---------------------------------------------------------------------------

// One function of the DTM. A row of kind 0 ends the table.
//
// Field order follows the toolkit's row type; words 3 and 4 are the label,
// then the name (the DTM's rows give both the same text).
//
// Two fields hide a function, with different effects (the function
// container and the DTM class both read the row this way):
// - status bit kHidden (0x02): the function is listed in the functions
//   document with Status/@hidden = 1, so the frame keeps it out of its
//   menus but still opens it on request (the DTM's own hidden functions);
// - `hidden` non-zero: the row is left out of the functions document
//   altogether (0 in every row of the HART DTM).
// The function container also reads: status bit kEnabled (SetFunctionEnabled
// changes it in the container's own copy of the status bits, one per DTM
// object, so the table stays constant and shared) and kNoDataSetLock; `userLevel` (lowest user role, as a DtmUserRole bit
// value, that sees the function); `applicationBits` (operation phases in
// which the function is offered; -1 all); `progId`.
struct FunctionTableRow {
  enum Kind : ULONG {
    kEnd = 0,
    kFunction = 1,          // function without a user interface
    kControlFunction = 2,   // function with a control
    kStandardFunction = 3,  // standard function with an application id
  };
  // Low byte of `status`.
  enum Status : ULONG {
    kEnabled = 0x01,
    kHidden = 0x02,
    kToggle = 0x04,
    kChecked = 0x08,
    kNoDataSetLock = 0x10,
  };

  ULONG kind;
  ULONG applicationId;
  ULONG functionId;
  const char* label;
  const char* name;       // FDT fdt:name
  const char* help;       // FDT help
  const char* icon;
  ULONG status;
  ULONG userLevel;        // 1 in every row of this DTM
  LONG applicationBits;   // -1 in every row of this DTM
  ULONG hidden;
  ULONG reserved[3];
  const GUID* classId;    // class of the control
  const char* progId;     // ProgID of the control
  BOOL printable;
  BOOL resizable;
  const char* documentFile;
  const char* programName;
  const char* mimeType;
  const void* action;     // null for a function that opens a control
};

// One document, device bitmap or device icon of a device type.
struct DocumentListRecord {
  enum Kind : ULONG {
    kDocumentFile = 1,
    kUrl = 2,
    kProgram = 3,
    kDeviceBitmap = 4,
    kDeviceIcon = 5,
  };
  enum GraphicState : ULONG { kDevice = 1, kDiagnosis = 2, kOem = 3 };

  const char* label;
  const char* help;
  const char* classification;  // FDT document classification
  LONG languageId;
  ULONG kind;
  const char* path;            // path, URL or program file
  ULONG graphicState;          // kinds 4 and 5
  const char* programParameters;  // kind 3
  const char* deviceTypeId;    // empty: every device type
};

// One channel of the DTM; the channel container reads the first row only:
// it creates `classId` under `name` when a new data set is made, and only
// the class ids of this table are ever created from a persisted stream.
struct ChannelTableRow {
  const char* name;
  const GUID* classId;
  ULONG_PTR reserved[2];
  const char* channelInformation;  // an <fdt:ChannelInformation> fragment
};

// ---------------------------------------------------------------------------
// Hooks of the DTM class
// ---------------------------------------------------------------------------

// The toolkit's base DTM derives from this and gives every hook its default
// body; the DTM class overrides what it needs. The toolkit calls them only on
// the DTM object's own apartment.
struct IevFdtDtmClass {
  // Once, after the toolkit's members are built. Leaves the parameter table
  // complete and the DTM state 1.
  virtual HRESULT OnConstruct() = 0;

  // The DTM object's IHART_CommDTM part, through which the toolkit asks the
  // object for its other interfaces. No reference is added; never null.
  virtual IUnknown* GetCommDtmInterface() = 0;

  // IDtm set communication: check the configured device, then hand the
  // communication to the worker (the toolkit's default hands it on at once).
  virtual HRESULT CheckConfiguredDevice(IUnknown* communication, VARIANT_BOOL* result) = 0;

  // IDtm prepare release of communication: refuse while a scan runs (the
  // toolkit's default posts the release requests at once).
  virtual HRESULT CheckScanInactive(VARIANT_BOOL* result) = 0;

  // Function table, ended by a row of kind 0; null when the class has none.
  virtual const FunctionTableRow* GetFunctionTable() = 0;

  // Document list and channel table: first record and number of records.
  virtual const DocumentListRecord* GetDocumentList(size_t* count) = 0;
  virtual const ChannelTableRow* GetChannelTable(size_t* count) = 0;

 protected:
  ~IevFdtDtmClass() = default;
};

// The DTM class also overrides these COM methods directly, calling the
// toolkit's body first where it says so: IDtm::Config, IDtmInformation::
// GetInformation, IFdtEvents::OnChildChanged.

// Decisions of a parameter relation between a source and a target parameter
// (ids). The toolkit's parameter handler gives the defaults; neither the DTM
// class nor the channel overrides them.
struct IevFdtRelationHooks {
  virtual HRESULT QueryRelationEnable(ULONG source, ULONG target, BOOL* enable) = 0;
  // Answers an access byte (the default 2: writable).
  virtual BYTE QueryRelationAccess(ULONG source, ULONG target, BOOL* apply) = 0;
  virtual HRESULT QueryRelationChoices(ULONG source, ULONG target, VARIANT* choices) = 0;
  virtual HRESULT QueryRelationValue(ULONG source, ULONG target, VARIANT* value) = 0;
  virtual HRESULT QueryRelationText(ULONG source, ULONG target, BSTR* text) = 0;

 protected:
  ~IevFdtRelationHooks() = default;
};

// ---------------------------------------------------------------------------
// Parameter handler operations that pass ParInfo records
// ---------------------------------------------------------------------------

// The parameter handler's C++ side: the toolkit's operation 9 and operations
// 19 to 38. The handler answers it from QueryInterface only in its own
// apartment (no type library describes it, so a proxy never does).
struct IevFdtParameterStore : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetParInfoByVariant(VARIANT parameterId, ULONG mask,
                                                        const ParInfo& info) = 0;            // 9
  virtual HRESULT STDMETHODCALLTYPE GetParameterData(ULONG parameterId, VARIANT* value,
                                                     BSTR* text, VARTYPE* vt,
                                                     VARIANT* minimum, VARIANT* maximum,
                                                     VARIANT* defaultValue,
                                                     VARIANT* flags) = 0;                    // 19
  // Either pointer may be null.
  virtual HRESULT STDMETHODCALLTYPE SetValueAndFlags(ULONG parameterId, const VARIANT* value,
                                                     const DWORD* flags) = 0;                // 20
  virtual HRESULT STDMETHODCALLTYPE GetParameterCountEx(ULONG* count) = 0;                   // 21
  virtual HRESULT STDMETHODCALLTYPE GetParameterIdByIndex(ULONG index, ULONG* parameterId) = 0;  // 22
  virtual HRESULT STDMETHODCALLTYPE WriteValue(ULONG parameterId, const VARIANT& value) = 0;  // 23
  virtual HRESULT STDMETHODCALLTYPE EvaluateDependencies(ULONG parameterId, ULONG what) = 0;  // 24
  virtual HRESULT STDMETHODCALLTYPE UpdateParameters(ULONG parameterId, BSTR text) = 0;      // 25
  virtual HRESULT STDMETHODCALLTYPE SetValue(ULONG parameterId, const VARIANT& value) = 0;   // 26
  virtual HRESULT STDMETHODCALLTYPE GetValue(ULONG parameterId, VARIANT* value) = 0;         // 27
  virtual HRESULT STDMETHODCALLTYPE SetParInfo(ULONG parameterId, ULONG mask,
                                               const ParInfo& info) = 0;                     // 28
  virtual HRESULT STDMETHODCALLTYPE GetParInfo(ULONG parameterId, ULONG mask,
                                               ParInfo* info) = 0;                           // 29
  virtual HRESULT STDMETHODCALLTYPE AddParameter(const ParInfo& info) = 0;                   // 30
  virtual HRESULT STDMETHODCALLTYPE RemoveParameter(ULONG parameterId) = 0;                  // 31
  virtual HRESULT STDMETHODCALLTYPE RemoveAllParameters() = 0;                               // 32
  virtual HRESULT STDMETHODCALLTYPE GetParameterCount(ULONG* count) = 0;                     // 33
  virtual HRESULT STDMETHODCALLTYPE GetParameter(ULONG parameterId, ParInfo* info) = 0;      // 34
  virtual HRESULT STDMETHODCALLTYPE GetParameterAt(ULONG index, ParInfo* info) = 0;          // 35
  // Kind 1 to 6; the callback gets (argument, id).
  virtual HRESULT STDMETHODCALLTYPE InvokeParameterCallback(ULONG parameterId, ULONG kind,
                                                            const VARIANT& argument) = 0;    // 36
  virtual LONG STDMETHODCALLTYPE IndexOfParameter(ULONG parameterId) = 0;                    // 37
  virtual bool STDMETHODCALLTYPE HasParameter(ULONG parameterId) = 0;                        // 38

 protected:
  ~IevFdtParameterStore() = default;
};

// Identifier chosen by this project.
inline const IID IID_IevFdtParameterStore = {
    0x12efbc09, 0x4cfa, 0x492a, {0xb8, 0xe5, 0xc4, 0xad, 0x5c, 0x75, 0x2a, 0x9c}};
__CRT_UUID_DECL(IevFdtParameterStore, 0x12efbc09, 0x4cfa, 0x492a, 0xb8, 0xe5, 0xc4, 0xad, 0x5c,
                0x75, 0x2a, 0x9c)

// The channel's text lookup: a key above 0xFFFF is the address of an 8-bit
// text, which is copied; a smaller non-zero key is a string-table id. It
// passes a pointer as a number, so it stays within the channel's apartment.
struct IevFdtChannelText : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE LoadResourceString(ULONG_PTR key, BSTR* text) = 0;

 protected:
  ~IevFdtChannelText() = default;
};

// Identifier chosen by this project.
inline const IID IID_IevFdtChannelText = {
    0x03f6ae33, 0x9760, 0x46a8, {0x92, 0x3b, 0xe3, 0x49, 0x70, 0x1b, 0x8c, 0x0a}};
__CRT_UUID_DECL(IevFdtChannelText, 0x03f6ae33, 0x9760, 0x46a8, 0x92, 0x3b, 0xe3, 0x49, 0x70,
                0x1b, 0x8c, 0x0a)

// What the base DTM and the DTM events ask of the function container about
// its open controls. The container answers it from QueryInterface of the DTM
// object in the object's own apartment (no proxy), so no DTM class forwards
// these calls itself.
struct IevFdtOpenControls : public IUnknown {
  // Controls recorded as open (bookkeeping records included).
  virtual ULONG STDMETHODCALLTYPE OpenControlCount() = 0;
  // Open functions that hold the data-set lock.
  virtual ULONG STDMETHODCALLTYPE OpenLockingFunctionCount() = 0;
  // Asks the frame to close every control that is not a bookkeeping record;
  // false when the frame refused one.
  virtual bool STDMETHODCALLTYPE CloseClosableControls() = 0;
  // The control recorded under the key (letter case counts), with a
  // reference added; E_FAIL when none, E_POINTER for a null out pointer.
  virtual HRESULT STDMETHODCALLTYPE FindOpenControl(const wchar_t* key, IUnknown** control) = 0;
  // Controls recorded as showing the function (bookkeeping records left
  // out), apart from the one registered as except (null: none).
  virtual ULONG STDMETHODCALLTYPE OpenControlsOfFunction(LONG functionId, IUnknown* except) = 0;

 protected:
  ~IevFdtOpenControls() = default;
};

// Identifier chosen by this project. It names the layout with
// OpenControlsOfFunction; the layout without it had
// {6C1D1A3E-58A4-4F0B-9D27-318E4B7A52C6}, which nothing answers any more, so
// a module built against the older layout finds no container.
inline const IID IID_IevFdtOpenControls = {
    0xfc7187ba, 0xb461, 0x4881, {0xa9, 0x25, 0x08, 0xc4, 0x25, 0xce, 0x3b, 0xdb}};
__CRT_UUID_DECL(IevFdtOpenControls, 0xfc7187ba, 0xb461, 0x4881, 0xa9, 0x25, 0x08, 0xc4, 0x25,
                0xce, 0x3b, 0xdb)

// Release preparation asks the channel container whether the channels'
// connections may end. The container answers it from QueryInterface of the
// DTM object in the object's own apartment (no proxy); without a container
// the connections may end.
struct IevFdtChannelRelease : public IUnknown {
  // True to go on with the release; false when the user kept the
  // connections. Connections that exist are aborted (channel request 9989)
  // and waited for, each at most the container's release wait.
  virtual HRESULT STDMETHODCALLTYPE ConfirmChannelRelease(VARIANT_BOOL* agreed) = 0;

 protected:
  ~IevFdtChannelRelease() = default;
};

// Identifier chosen by this project.
inline const IID IID_IevFdtChannelRelease = {
    0x8f2b6d14, 0x7c3e, 0x4a91, {0xb5, 0x0d, 0x2e, 0x61, 0xc9, 0x3a, 0x74, 0x58}};
__CRT_UUID_DECL(IevFdtChannelRelease, 0x8f2b6d14, 0x7c3e, 0x4a91, 0xb5, 0x0d, 0x2e, 0x61, 0xc9,
                0x3a, 0x74, 0x58)

// A channel may hold its owning DTM without a reference, so that a DTM the
// frame releases without shutdown is not kept alive by its own channels.
// Such a channel answers this interface from QueryInterface; the channel
// container calls OwnerGone (in the DTM's apartment) for every channel
// object that leaves its list (release, removal, a load or new data set
// that replaces the list) and, from its destructor, for every one it still
// lists; the channel touches the DTM no more. A channel that holds a
// reference on its owner need not answer.
struct IevFdtOwnedChannel : public IUnknown {
  virtual void STDMETHODCALLTYPE OwnerGone() = 0;

 protected:
  ~IevFdtOwnedChannel() = default;
};

// Identifier chosen by this project.
inline const IID IID_IevFdtOwnedChannel = {
    0x37b9c5bf, 0x8966, 0x48ef, {0x8c, 0xbf, 0x2f, 0x8b, 0x56, 0xd5, 0x3c, 0x45}};
__CRT_UUID_DECL(IevFdtOwnedChannel, 0x37b9c5bf, 0x8966, 0x48ef, 0x8c, 0xbf, 0x2f, 0x8b, 0x56,
                0xd5, 0x3c, 0x45)
