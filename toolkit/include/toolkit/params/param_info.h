// One parameter's descriptor (ParInfo) and the table of an object's
// parameters (CParamCollection).
//
// Every value that the DTM or one of its channels keeps is a parameter: a
// ParInfo identified by a 32-bit id. The parameter handler keeps them in a
// CParamCollection ordered by ascending id; everybody else reaches them only
// through the handler, by id, and receives copies, never pointers into the
// collection.
//
// Records own everything they hold. Copying a record copies every field deeply
// and raises com::ComError when a string or a VARIANT cannot be copied; every
// COM method that copies records stops that with com::guard.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <array>
#include <map>

#include "com/Bstr.h"
#include "com/Variant.h"

// A parameter hook: called with the caller's argument (the write core passes
// the owner's IevFdtParameterHandler4 as VT_UNKNOWN) and the parameter id.
// Pointer-sized, so tables read the same on i686 and x86_64.
using ParamCallback = HRESULT (*)(const VARIANT& argument, ULONG parameterId);
using ParamCallbacks = std::array<ParamCallback, 6>;

// Field-selection mask: one bit per field. id, the hooks and hookContext are
// never selected.
enum ParField : ULONG {
  kParKind = 0x1,
  kParInfo = 0x2,
  kParText = 0x4,
  kParTextId = 0x8,
  kParVt = 0x10,
  kParMinValue = 0x20,
  kParMaxValue = 0x40,
  kParValue = 0x80,
  kParDefaultValue = 0x100,
  kParPersist = 0x200,
  kParStorage = 0x400,
  kParReserved1 = 0x800,
  kParText3 = 0x1000,
  kParNumber = 0x2000,
  kParFlags = 0x4000,
  kParText2 = 0x8000,
  kParExtra1 = 0x10000,
  kParSubType = 0x20000,
  kParExtra2 = 0x40000,
  kParExtra3 = 0x80000,
  kParName = 0x100000,
  kParInitialValue = 0x200000,
  kParExtra4 = 0x400000,
  kParExtra5 = 0x800000,
  kParAllFields = 0x7FFFFFFF,
};

// Bits of ParInfo::flags.
enum ParFlag : ULONG {
  kParFlagWritable = 0x1,      // write access of a DTM-side parameter
  kParFlagChanged = 0x2,       // differs from the stored value / to be downloaded
  kParFlagInvalid = 0x4,       // invalid value, or a row with inconsistent limits
  kParFlagDisabled = 0x8,      // not validated
  kParFlagOnlineRead = 0x10,   // device parameter: readable online
  kParFlagOnlineWrite = 0x20,  // device parameter: writable online
  kParFlagUsual = 0x40,
  kParFlagWritten = 0x100,     // changed by a write
  kParFlagNotRead = 0x400,     // device parameter whose value was not read yet
  kParFlagsDefault = 0x71,
};

// ParInfo::kind
enum ParKind : ULONG { kParKindDtm = 0, kParKindDevice = 1 };

// ParInfo::subType
enum ParSubType : USHORT { kParPlain = 0, kParEnumerated = 1, kParBitSet = 2 };

constexpr ULONG kNoParameterId = 0xFFFFFFFF;

struct ParInfo {
  // An empty record: kind 0, id 0xFFFFFFFF, no strings, empty VARIANTs,
  // persist 1, flags 0x71, storage 1, every other number 0.
  ParInfo() = default;

  // The full constructor, fields in the toolkit's order. The default also
  // fills initialValue. value, initialValue, the limits and the default are
  // changed to vt (a failed conversion of a value or the default clears it; a
  // limit that does not convert stays as given). A non-zero textId replaces
  // text with that string resource of the module; an empty name becomes a
  // copy of text. Raises com::ComError when a copy fails.
  ParInfo(ULONG kind, ULONG id, const VARIANT& info, const wchar_t* text, ULONG textId,
          VARTYPE vt, const VARIANT& minValue, const VARIANT& maxValue,
          const VARIANT& defaultValue, const VARIANT& value, ULONG persist, ULONG flags,
          ULONG storage, ULONG reserved1, const wchar_t* text3, ULONG number,
          const wchar_t* text2, USHORT subType, const VARIANT& extra1, const VARIANT& extra2,
          const VARIANT& extra3, const ParamCallbacks& hooks, const wchar_t* name,
          ULONG hookContext, const VARIANT& extra4, const VARIANT& extra5);

  ParInfo(const ParInfo&) = default;
  ParInfo& operator=(const ParInfo&) = default;
  ParInfo(ParInfo&&) = default;
  ParInfo& operator=(ParInfo&&) = default;
  virtual ~ParInfo() = default;

  // Copies the fields that mask selects from other (strings duplicated,
  // VARIANTs copied, nothing converted). Raises com::ComError.
  void CopyFields(const ParInfo& other, ULONG mask);

  ULONG kind = kParKindDtm;
  ULONG id = kNoParameterId;
  com::Bstr name;
  com::Variant info;
  com::Bstr text;  // display name
  ULONG textId = 0;
  com::Bstr text2;
  VARTYPE vt = VT_EMPTY;
  USHORT subType = kParPlain;
  com::Variant minValue;
  com::Variant maxValue;
  com::Variant defaultValue;
  com::Variant value;
  com::Variant initialValue;  // the device value
  com::Variant extra1;        // enumeration entries, VT_ARRAY|VT_BSTR
  ULONG persist = 1;
  ULONG flags = kParFlagsDefault;
  ULONG storage = 1;  // lowest user role that may write
  ULONG reserved1 = 0;
  com::Bstr text3;
  ULONG number = 0;
  com::Variant extra2;
  com::Variant extra3;  // dependency text
  ParamCallbacks hooks = {};
  ULONG hookContext = 0;
  com::Variant extra4;
  com::Variant extra5;
};

// The parameters of one object, by ascending id.
class CParamCollection {
 public:
  CParamCollection() = default;
  CParamCollection(const CParamCollection&) = default;
  CParamCollection& operator=(const CParamCollection&) = default;
  virtual ~CParamCollection() = default;

  // The record of id, or null.
  ParInfo* Find(ULONG id);
  const ParInfo* Find(ULONG id) const;
  // 0-based position of id in ascending id order; -1 when absent.
  LONG IndexOf(ULONG id) const;
  ULONG Count() const { return static_cast<ULONG>(records_.size()); }
  // The record at index in ascending id order, or null.
  ParInfo* At(ULONG index);
  const ParInfo* At(ULONG index) const;

  // Adds a copy of record under its id unless the id is already present
  // (then nothing changes; still success). A record of kind 1 is stored with
  // kParFlagNotRead set. Raises com::ComError when the copy fails.
  void Insert(const ParInfo& record);
  // False when id was not present.
  bool Remove(ULONG id);
  void Clear() { records_.clear(); }

 private:
  std::map<ULONG, ParInfo> records_;
};

// Hook number (1..6) to its place in ParInfo::hooks: 1 the second pointer,
// 2 the fifth, 3 the third, 4 the sixth, 5 the first, 6 the fourth. -1 for a
// number outside 1..6.
int ParamHookSlot(ULONG hookNumber);

// Hook numbers the handler uses.
enum ParHook : ULONG {
  kParHookBeforeRead = 1,
  kParHookAfterRead = 2,
  kParHookBeforeDeviceWrite = 3,
  kParHookAfterDeviceWrite = 4,
  kParHookBeforeWrite = 5,
  kParHookAfterWrite = 6,
};
