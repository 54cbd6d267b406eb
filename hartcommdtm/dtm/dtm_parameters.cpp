#include "dtm/dtm_parameters.h"

#include <string>

#include "com/Guard.h"
#include "com/Variant.h"
#include "dtm/dtm_ids.h"
#include "toolkit/params/param_info.h"
#include "toolkit/params/param_rows.h"
#include "toolkit/values/text_helpers.h"

namespace {

// A text changed to vt in place; false (value cleared) when it does not convert.
bool TextAs(const char* text, VARTYPE vt, com::Variant* out) {
  *out = com::Variant(WideFromAnsi(text).c_str());
  if (vt == VT_BSTR) return true;
  if (SUCCEEDED(out->changeType(vt))) return true;
  out->clear();
  return false;
}

constexpr ParameterAttributes kDtmRow = {0, 0x71, 2, 0};
constexpr ParameterAttributes kPersistedRow = {1, 0x71, 2, 0};
constexpr ParameterAttributes kTagRow = {1, 0x31, 1, 0x2000};

}  // namespace

HRESULT DeclareNumericParameter(IevFdtParameterStore* store, ULONG id, const char* name,
                                VARTYPE vt, double lower, double upper, double defaultValue,
                                double initialValue, const ParameterAttributes& attributes) {
  if (!store) return E_POINTER;
  return com::guard([&]() -> HRESULT {
    const std::wstring text = WideFromAnsi(name);
    return ParamRow::Numeric(id, text.c_str(), vt, lower, upper, defaultValue, initialValue)
        .Persist(attributes.persist)
        .Flags(attributes.flags)
        .Storage(attributes.storage)
        .Number(attributes.extra)
        .AddTo(store);
  });
}

HRESULT DeclareTextParameter(IevFdtParameterStore* store, ULONG id, const char* name,
                             VARTYPE vt, const char* lower, const char* upper,
                             const char* defaultValue, const char* initialValue,
                             const ParameterAttributes& attributes) {
  if (!store) return E_POINTER;
  return com::guard([&]() -> HRESULT {
    const std::wstring text = WideFromAnsi(name);
    ParInfo info = ParamRow::Text(id, text.c_str(), L"", L"", 0)
                       .Persist(attributes.persist)
                       .Flags(attributes.flags)
                       .Storage(attributes.storage)
                       .Number(attributes.extra)
                       .Build();
    info.vt = vt;

    // Every text that does not convert marks the row with 0x08; a text row is
    // never marked invalid (0x04), which is the numeric rows' range mark.
    bool declared = true;
    com::Variant lo, hi;
    const bool lengthLimits = vt == VT_BSTR || (vt & VT_ARRAY);
    if (lengthLimits) {
      const bool lowerRead = TextAs(lower, VT_UI4, &lo);
      const bool upperRead = TextAs(upper, VT_UI4, &hi);
      if (!lowerRead || !upperRead) {
        // Not lengths: taken as values of the row's type, the mark stays.
        declared = false;
        TextAs(lower, vt, &lo);
        TextAs(upper, vt, &hi);
      }
    } else {
      TextAs(lower, vt, &lo);
      TextAs(upper, vt, &hi);
    }
    info.minValue = lo;
    info.maxValue = hi;

    com::Variant def, initial;
    declared = TextAs(defaultValue, vt, &def) && declared;
    declared = TextAs(initialValue, vt, &initial) && declared;
    if (!declared) info.flags |= kParFlagDisabled;
    info.defaultValue = def;
    info.value = initial;
    info.initialValue = def;
    return store->AddParameter(info);
  });
}

HRESULT CreateDtmParameterTable(IevFdtParameterStore* store, ULONG* count) {
  if (!store) return E_POINTER;
  using namespace hart_param;
  HRESULT result = S_OK;
  auto keep = [&result](HRESULT hr) {
    if (SUCCEEDED(result) && FAILED(hr)) result = hr;
  };
  keep(DeclareTextParameter(store, kDevice, "Device", VT_BSTR, "0", "100", "FSK Mavix DTM",
                            "FSK Mavix DTM", kDtmRow));
  keep(DeclareTextParameter(store, kDeviceType, "DeviceType", VT_BSTR, "0", "9", "HART", "HART",
                            kDtmRow));
  keep(DeclareTextParameter(store, kSystemLabel, "SystemLabel", VT_BSTR, "0", "1000000", "",
                            "FSK Mavix DTM", kDtmRow));
  keep(DeclareNumericParameter(store, kDeviceNumber, "Device ID", VT_UI1, 0, 255, 0, 0,
                               kPersistedRow));
  keep(DeclareNumericParameter(store, kPrimaryMaster, "Primary Master", VT_BOOL, 0, 0, -1, -1,
                               kPersistedRow));
  keep(DeclareNumericParameter(store, kPreambleCount, "Preamble Count", VT_UI1, 5, 20, 5, 5,
                               kPersistedRow));
  keep(DeclareNumericParameter(store, kRetryCount, "Retry Count", VT_UI1, 0, 100, 3, 3,
                               kPersistedRow));
  keep(DeclareNumericParameter(store, kLastScanTime, "Last Scan Time", VT_R8, 0, 0, 0, 0,
                               kDtmRow));
  keep(DeclareNumericParameter(store, kScanActive, "Scan Active", VT_BOOL, 0, 0, 0, 0, kDtmRow));
  keep(DeclareNumericParameter(store, kSelectedPollAddress, "Selected Device Poll Address",
                               VT_UI1, 0, 63, 0, 0, kDtmRow));
  keep(DeclareTextParameter(store, kNewDeviceSystemTag, "SystemTag of new deviceDTM", VT_BSTR,
                            "0", "1000000", "", "Show hidden ActiveX only when asked to do so!",
                            kDtmRow));
  keep(DeclareNumericParameter(store, kNewDeviceDialogMode,
                               "Show SetAddressCtrl for new deviceDTM", VT_UI1, 0, 2, 2, 2,
                               kDtmRow));
  keep(DeclareTextParameter(store, kDtmTag, "DTM Tag", VT_BSTR, "0", "1000000", "",
                            "FSK Mavix DTM", kTagRow));
  keep(DeclareNumericParameter(store, kChangeCounter, "Scan Active", VT_UI4, 0, 0, 0, 0,
                               kDtmRow));
  keep(DeclareNumericParameter(store, kScanRangeStart, "Scan Range Start", VT_I4, 0, 0, 0, 0,
                               kDtmRow));
  keep(DeclareNumericParameter(store, kScanRangeEnd, "Scan Range End", VT_I4, 0, 0, 0, 0,
                               kDtmRow));
  keep(DeclareNumericParameter(store, kNewAddress, "New DevDTM Address", VT_I4, 0, 126, 0, 0,
                               kDtmRow));
  keep(DeclareTextParameter(store, kNewAddressTag, "New DevDTM Address", VT_BSTR, "0",
                            "1000000", "", "", kDtmRow));
  keep(DeclareNumericParameter(store, kAddressCancelled, "Set New Address Cancelled", VT_I4, 0,
                               0, 0, 0, kDtmRow));
  keep(DeclareNumericParameter(store, kMaxScanAddress, "Maximum address for scanning", VT_UI1,
                               0, 63, 15, 15, kPersistedRow));
  if (count) {
    *count = 0;
    store->GetParameterCount(count);
  }
  return result;
}
