#include "toolkit/params/param_info.h"

#include <iterator>

namespace {

// The module that holds the string resources of the parameter names: the one
// this code is linked into (the DTM's or the control's DLL, or a test exe).
HMODULE thisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&thisModule), &module);
  return module;
}

// In-place VariantChangeType; false when it failed (the value is kept).
bool changeInPlace(com::Variant& v, VARTYPE vt) { return SUCCEEDED(v.changeType(vt)); }

}  // namespace

ParInfo::ParInfo(ULONG kind, ULONG id, const VARIANT& info, const wchar_t* text, ULONG textId,
                 VARTYPE vt, const VARIANT& minValue, const VARIANT& maxValue,
                 const VARIANT& defaultValue, const VARIANT& value, ULONG persist, ULONG flags,
                 ULONG storage, ULONG reserved1, const wchar_t* text3, ULONG number,
                 const wchar_t* text2, USHORT subType, const VARIANT& extra1,
                 const VARIANT& extra2, const VARIANT& extra3, const ParamCallbacks& hooks,
                 const wchar_t* name, ULONG hookContext, const VARIANT& extra4,
                 const VARIANT& extra5)
    : kind(kind),
      id(id),
      name(name),
      info(info),
      text(text),
      textId(textId),
      text2(text2),
      vt(vt),
      subType(subType),
      minValue(minValue),
      maxValue(maxValue),
      defaultValue(defaultValue),
      value(value),
      initialValue(defaultValue),
      extra1(extra1),
      persist(persist),
      flags(flags),
      storage(storage),
      reserved1(reserved1),
      text3(text3),
      number(number),
      extra2(extra2),
      extra3(extra3),
      hooks(hooks),
      hookContext(hookContext),
      extra4(extra4),
      extra5(extra5) {
  // Values that do not convert are cleared; limits stay as given.
  for (com::Variant* v : {&this->value, &this->initialValue, &this->defaultValue})
    if (!changeInPlace(*v, vt)) v->clear();
  changeInPlace(this->minValue, vt);
  changeInPlace(this->maxValue, vt);

  if (textId != 0) {
    wchar_t buffer[256] = {};
    int length = ::LoadStringW(thisModule(), textId, buffer, static_cast<int>(std::size(buffer)));
    if (length > 0) com::throwIfFailed(this->text.assign(buffer, static_cast<UINT>(length)));
  }
  if (this->name.empty() && !this->text.empty()) this->name = this->text;
}

void ParInfo::CopyFields(const ParInfo& other, ULONG mask) {
  if (mask & kParKind) kind = other.kind;
  if (mask & kParInfo) info = other.info;
  if (mask & kParText) text = other.text;
  if (mask & kParTextId) textId = other.textId;
  if (mask & kParVt) vt = other.vt;
  if (mask & kParMinValue) minValue = other.minValue;
  if (mask & kParMaxValue) maxValue = other.maxValue;
  if (mask & kParValue) value = other.value;
  if (mask & kParDefaultValue) defaultValue = other.defaultValue;
  if (mask & kParPersist) persist = other.persist;
  if (mask & kParStorage) storage = other.storage;
  if (mask & kParReserved1) reserved1 = other.reserved1;
  if (mask & kParText3) text3 = other.text3;
  if (mask & kParNumber) number = other.number;
  if (mask & kParFlags) flags = other.flags;
  if (mask & kParText2) text2 = other.text2;
  if (mask & kParExtra1) extra1 = other.extra1;
  if (mask & kParSubType) subType = other.subType;
  if (mask & kParExtra2) extra2 = other.extra2;
  if (mask & kParExtra3) extra3 = other.extra3;
  if (mask & kParName) name = other.name;
  if (mask & kParInitialValue) initialValue = other.initialValue;
  if (mask & kParExtra4) extra4 = other.extra4;
  if (mask & kParExtra5) extra5 = other.extra5;
}

ParInfo* CParamCollection::Find(ULONG id) {
  auto it = records_.find(id);
  return it == records_.end() ? nullptr : &it->second;
}

const ParInfo* CParamCollection::Find(ULONG id) const {
  auto it = records_.find(id);
  return it == records_.end() ? nullptr : &it->second;
}

LONG CParamCollection::IndexOf(ULONG id) const {
  auto it = records_.find(id);
  if (it == records_.end()) return -1;
  return static_cast<LONG>(std::distance(records_.begin(), it));
}

ParInfo* CParamCollection::At(ULONG index) {
  if (index >= records_.size()) return nullptr;
  return &std::next(records_.begin(), index)->second;
}

const ParInfo* CParamCollection::At(ULONG index) const {
  if (index >= records_.size()) return nullptr;
  return &std::next(records_.begin(), index)->second;
}

void CParamCollection::Insert(const ParInfo& record) {
  if (records_.count(record.id)) return;
  ParInfo copy(record);  // may raise; the map is untouched then
  if (copy.kind == kParKindDevice) copy.flags |= kParFlagNotRead;
  records_.emplace(copy.id, std::move(copy));
}

bool CParamCollection::Remove(ULONG id) { return records_.erase(id) != 0; }

int ParamHookSlot(ULONG hookNumber) {
  // Hook number 1..6 -> pointer 2, 5, 3, 6, 1, 4 (0-based below).
  static const int kSlots[] = {1, 4, 2, 5, 0, 3};
  if (hookNumber < 1 || hookNumber > 6) return -1;
  return kSlots[hookNumber - 1];
}
