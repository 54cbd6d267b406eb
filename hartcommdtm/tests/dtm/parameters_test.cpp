// The DTM created by its ProgID declares its parameter table: every row
// with its type, declared value and default, attribute words and limits;
// parameter 1014 comes from the registry setting "SetNewDevDtmAddress".
#include <cmath>

#include "dtm/dtm_ids.h"
#include "dtm/dtm_parameters.h"
#include "hart_dtm_fixture.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/params/param_info.h"

namespace hartdtmtest {
namespace {

struct Row {
  ULONG id;
  const wchar_t* name;
  VARTYPE vt;
  const wchar_t* defaultText;  // declared default, as text
  const wchar_t* valueText;    // declared initial value, as text
  ULONG persist;
  ULONG flags;
  ULONG storage;
};

// The table as declared (values as VariantChangeType writes them as text).
const Row kRows[] = {
    {990, L"Device", VT_BSTR, L"FSK Mavix DTM", L"FSK Mavix DTM", 0, 0x71, 2},
    {991, L"DeviceType", VT_BSTR, L"HART", L"HART", 0, 0x71, 2},
    {2, L"SystemLabel", VT_BSTR, L"", L"FSK Mavix DTM", 0, 0x71, 2},
    {1000, L"Device ID", VT_UI1, L"0", L"0", 1, 0x71, 2},
    {1001, L"Primary Master", VT_BOOL, L"-1", L"-1", 1, 0x71, 2},
    {1002, L"Preamble Count", VT_UI1, L"5", L"5", 1, 0x71, 2},
    {1003, L"Retry Count", VT_UI1, L"3", L"3", 1, 0x71, 2},
    {1004, L"Last Scan Time", VT_R8, L"0", L"0", 0, 0x71, 2},
    {1005, L"Scan Active", VT_BOOL, L"0", L"0", 0, 0x71, 2},
    {1006, L"Selected Device Poll Address", VT_UI1, L"0", L"0", 0, 0x71, 2},
    {1007, L"SystemTag of new deviceDTM", VT_BSTR, L"",
     L"Show hidden ActiveX only when asked to do so!", 0, 0x71, 2},
    {1014, L"Show SetAddressCtrl for new deviceDTM", VT_UI1, L"2", L"2", 0, 0x71, 2},
    {1, L"DTM Tag", VT_BSTR, L"", L"FSK Mavix DTM", 1, 0x31, 1},
    {1010, L"Scan Active", VT_UI4, L"0", L"0", 0, 0x71, 2},
    {980, L"Scan Range Start", VT_I4, L"0", L"0", 0, 0x71, 2},
    {981, L"Scan Range End", VT_I4, L"0", L"0", 0, 0x71, 2},
    {1012, L"New DevDTM Address", VT_I4, L"0", L"0", 0, 0x71, 2},
    {1013, L"New DevDTM Address", VT_BSTR, L"", L"", 0, 0x71, 2},
    {1011, L"Set New Address Cancelled", VT_I4, L"0", L"0", 0, 0x71, 2},
    {1015, L"Maximum address for scanning", VT_UI1, L"15", L"15", 1, 0x71, 2},
};

std::wstring AsText(const VARIANT& value) {
  com::Variant text(value);
  if (FAILED(text.changeType(VT_BSTR))) return L"<no text>";
  return V_BSTR(text.get()) ? V_BSTR(text.get()) : L"";
}

class ParametersTest : public HartDtmFixture {
 protected:
  com::Variant Info(ULONG id, ULONG selector) {
    com::ComPtr<IevFdtParameterInfo> info;
    EXPECT_EQ(S_OK, object.as(info));
    com::Variant value;
    EXPECT_EQ(S_OK, info->GetParameterInfo(*com::ui4(id).get(), *com::ui4(selector).get(), value.get()))
        << "parameter " << id << " selector " << selector;
    return value;
  }
  ULONG InfoNumber(ULONG id, ULONG selector) {
    com::Variant value = Info(id, selector);
    if (FAILED(value.changeType(VT_UI4))) return 0xFFFFFFFF;
    return V_UI4(value.get());
  }
};

TEST_F(ParametersTest, EveryRowIsDeclaredWithItsTypeValueDefaultAndAttributes) {
  Create();
  EXPECT_EQ(kDtmConstructed, State());
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.id);
    com::Variant value = Read(row.id);
    EXPECT_EQ(row.vt, V_VT(value.get()));
    EXPECT_EQ(row.valueText, AsText(value.value()));

    com::Variant current, minimum, maximum, defaultValue, flags;
    com::Bstr text;
    unsigned short vt = 0;
    ASSERT_EQ(S_OK, parameters->GetParameterDescription(*com::ui4(row.id).get(), current.put(),
                                                        text.put(), &vt, minimum.put(),
                                                        maximum.put(), defaultValue.put(),
                                                        flags.put()));
    EXPECT_EQ(row.vt, vt);
    EXPECT_EQ(row.name, std::wstring(text.c_str()));
    EXPECT_EQ(row.defaultText, AsText(defaultValue.value()));
    EXPECT_EQ(row.flags, InfoNumber(row.id, kParFlags));
    com::Variant persist = Info(row.id, kParPersist);
    ASSERT_EQ(S_OK, persist.changeType(VT_BOOL));
    EXPECT_EQ(row.persist != 0, V_BOOL(persist.get()) != VARIANT_FALSE);
    EXPECT_EQ(row.storage, InfoNumber(row.id, kParStorage));
  }
  EXPECT_EQ(0x2000u, InfoNumber(1, kParNumber));
  // Text rows carry their limits as numbers.
  com::Variant lower = Info(990, kParMinValue), upper = Info(990, kParMaxValue);
  EXPECT_EQ(VT_UI4, V_VT(lower.get()));
  EXPECT_EQ(0u, V_UI4(lower.get()));
  EXPECT_EQ(VT_UI4, V_VT(upper.get()));
  EXPECT_EQ(100u, V_UI4(upper.get()));
}

TEST_F(ParametersTest, LimitsAreCheckedWhereTheRowHasThem) {
  Create();
  com::ComPtr<IevFdtParameterValidation> validation;
  ASSERT_EQ(S_OK, object.as(validation));
  auto status = [&](ULONG id, const VARIANT& value) {
    ULONG bits = 0;
    EXPECT_EQ(S_OK, validation->Validate(*com::ui4(id).get(), value, &bits));
    return bits;
  };
  constexpr ULONG kInvalid = 4;
  // 5..20 for the preamble count.
  EXPECT_EQ(0u, status(hart_param::kPreambleCount, *UI1(20).get()) & kInvalid);
  EXPECT_EQ(0u, status(hart_param::kPreambleCount, *UI1(5).get()) & kInvalid);
  EXPECT_EQ(kInvalid, status(hart_param::kPreambleCount, *UI1(21).get()) & kInvalid);
  EXPECT_EQ(kInvalid, status(hart_param::kPreambleCount, *UI1(4).get()) & kInvalid);
  EXPECT_EQ(kInvalid, status(hart_param::kMaxScanAddress, *UI1(64).get()) & kInvalid);
  // "Primary Master" has equal limits: no range, both values valid.
  EXPECT_EQ(0u, status(hart_param::kPrimaryMaster, *com::Variant(false).get()) & kInvalid);
  EXPECT_EQ(0u, status(hart_param::kPrimaryMaster, *com::Variant(true).get()) & kInvalid);
  // No row was declared inconsistent, and every text converted.
  for (const Row& row : kRows) {
    EXPECT_EQ(0u, InfoNumber(row.id, kParFlags) & kParFlagInvalid) << row.id;
    EXPECT_EQ(0u, InfoNumber(row.id, kParFlags) & kParFlagDisabled) << row.id;
  }
}

// A text declaration marks what does not convert with 0x08 and never with
// the numeric rows' 0x04: limits of a text row that are no lengths, a
// default that is no value of the row's type.
TEST_F(ParametersTest, TextDeclarationsMarkWhatDoesNotConvert) {
  Create();
  com::ComPtr<IevFdtParameterStore> store;
  ASSERT_EQ(S_OK, object.as(store));
  const ParameterAttributes attributes = {0, 0x71, 2, 0};
  struct Case {
    ULONG id;
    VARTYPE vt;
    const char *lower, *upper, *defaultValue, *initialValue;
    ULONG flags;
    VARTYPE limitType;
  };
  const Case cases[] = {
      {5001, VT_BSTR, "0", "40", "ok", "ok", 0x71, VT_UI4},
      {5002, VT_BSTR, "short", "40", "ok", "ok", 0x79, VT_BSTR},
      {5003, VT_BSTR, "", "", "ok", "ok", 0x79, VT_BSTR},
      {5004, VT_I4, "0", "10", "ten", "1", 0x79, VT_I4},
      {5005, VT_I4, "0", "10", "1", "1", 0x71, VT_I4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    ASSERT_EQ(S_OK, DeclareTextParameter(store.get(), c.id, "Declared", c.vt, c.lower, c.upper, c.defaultValue,
                                         c.initialValue, attributes));
    EXPECT_EQ(c.flags, InfoNumber(c.id, kParFlags));
    EXPECT_EQ(c.limitType, V_VT(Info(c.id, kParMinValue).get()));
  }
}

TEST_F(ParametersTest, NewDeviceAddressModeComesFromTheRegistry) {
  struct Case {
    bool set;
    DWORD setting;
    BYTE expected;
  };
  for (const Case& c : {Case{false, 0, 2}, Case{true, 0, 0}, Case{true, 1, 1}, Case{true, 2, 2},
                        Case{true, 5, 2}}) {
    SCOPED_TRACE(c.setting);
    ResetSettings();
    if (c.set) SetSetting(hart_dtm::kNewDeviceAddressValue, c.setting);
    object.reset();
    Create();
    com::Variant mode = Read(hart_param::kNewDeviceDialogMode);
    EXPECT_EQ(VT_UI1, V_VT(mode.get()));
    EXPECT_EQ(c.expected, V_UI1(mode.get()));
  }
}

// A DTM shut down and given another data set, begun new or loaded, starts
// from the declared table as a new object does: with parameter 1014 as the
// registry set it, not the declared 2.
TEST_F(ParametersTest, NewDeviceAddressModeFromTheRegistryHoldsForDataSetsAfterAShutdown) {
  SetSetting(hart_dtm::kNewDeviceAddressValue, DWORD{0});
  Configure();
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  com::ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  ASSERT_EQ(S_OK, persist->Save(stream.get(), TRUE));
  auto mode = [&] {
    com::Variant value = Read(hart_param::kNewDeviceDialogMode);
    return value.type() == VT_UI1 ? static_cast<int>(V_UI1(value.get())) : -1;
  };
  auto shutDown = [&] {
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(S_OK, dtm->ShutdownDtm(&ok));
    ASSERT_EQ(VARIANT_TRUE, ok);
    ASSERT_EQ(kDtmReleased, State());
  };

  shutDown();
  ASSERT_EQ(S_OK, persist->InitNew());
  EXPECT_EQ(0, mode()) << "a data set begun new";

  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetEnvironment(tag.get(), frameObject.get(), &ok));
  ASSERT_EQ(VARIANT_TRUE, ok);
  shutDown();
  LARGE_INTEGER start = {};
  ASSERT_EQ(S_OK, stream->Seek(start, STREAM_SEEK_SET, nullptr));
  ASSERT_EQ(S_OK, persist->Load(stream.get()));
  EXPECT_EQ(0, mode()) << "a data set loaded";
}

TEST_F(ParametersTest, ASettingOfTheWrongTypeIsNotUsed) {
  // A text "1" where a number belongs counts as absent: the default 2.
  SetSetting(hart_dtm::kNewDeviceAddressValue, L"1");
  Create();
  EXPECT_EQ(2, V_UI1(Read(hart_param::kNewDeviceDialogMode).get()));
}

}  // namespace
}  // namespace hartdtmtest
