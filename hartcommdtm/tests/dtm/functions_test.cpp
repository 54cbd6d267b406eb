// The function table as the frame sees it: eight functions in their order,
// five hidden from the menus, each with its control; texts from the DTM's
// translation document.
#include "dtm/dtm_ids.h"
#include "dtm/function_table.h"
#include "hart_dtm_fixture.h"
#include "scanrangectl.h"
#include "toolkit/dtm/dtm_states.h"

namespace hartdtmtest {
namespace {

const wchar_t kFunctionsNamespace[] = L"x-schema:DTMFunctionsSchema.xml";

std::wstring OperationPhase(const wchar_t* phase) {
  return std::wstring(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTOperationPhaseSchema.xml\" "
                      L"operationPhase=\"") + phase + L"\" />";
}

class FunctionsTest : public HartDtmFixture {};

TEST_F(FunctionsTest, FrameListsEightFunctionsFiveOfThemHidden) {
  Configure();
  com::Bstr phase(OperationPhase(L"engineering").c_str()), text;
  ASSERT_EQ(S_OK, dtm->GetFunctions(phase.get(), text.put()));
  auto doc = Parse(text.c_str(), kFunctionsNamespace);
  ASSERT_TRUE(doc);
  struct Expected {
    int id;
    const wchar_t* label;
    const wchar_t* help;
    const wchar_t* hidden;
    const wchar_t* printable;
    const wchar_t* resizable;
  };
  const Expected expected[] = {
      {3, L"Channel Configuration", L"Configure channel settings.", L"0", L"1", L"0"},
      {2, L"Device List", L"Display list of devices on HART bus", L"0", L"0", L"1"},
      {6, L"Driver Configuration", L"Configure what HART interface to use.", L"0", L"1", L"0"},
      {11, L"Set DeviceDTM Address", L"Set tag and address of newly added deviceDTM", L"1", L"0", L"0"},
      {12, L"Change Slave Address", L"Change address of HART slave device", L"1", L"0", L"0"},
      {8, L"Set Scan Range", L"Set Scan Range", L"1", L"0", L"0"},
      {9, L"Get Address for DTM", L"Get Address for DTM", L"1", L"0", L"0"},
      {10, L"Set DTM and Device Address", L"Set tag and address of DTM and address of device", L"1", L"0", L"0"},
  };
  ASSERT_EQ(8, Count(doc.get(), L"//d:Function"));
  for (size_t i = 0; i < 8; ++i) {
    const Expected& e = expected[i];
    SCOPED_TRACE(e.id);
    const std::wstring f = L"(//d:Function)[" + std::to_wstring(i + 1) + L"]";
    EXPECT_EQ(std::to_wstring(e.id), Select(doc.get(), (f + L"/@functionId").c_str()));
    EXPECT_EQ(e.label, Select(doc.get(), (f + L"/@label").c_str()));
    EXPECT_EQ(e.label, Select(doc.get(), (f + L"/@fdt:name").c_str()));
    EXPECT_EQ(e.help, Select(doc.get(), (f + L"/@help").c_str()));
    EXPECT_EQ(L"1", Select(doc.get(), (f + L"/@hasGUI").c_str()));
    EXPECT_EQ(e.printable, Select(doc.get(), (f + L"/@printable").c_str()));
    EXPECT_EQ(e.resizable, Select(doc.get(), (f + L"/@resizable").c_str()));
    EXPECT_EQ(e.hidden, Select(doc.get(), (f + L"/d:Status/@hidden").c_str()));
    EXPECT_EQ(L"1", Select(doc.get(), (f + L"/d:Status/@enabled").c_str()));
    EXPECT_EQ(L"0", Select(doc.get(), (f + L"/d:Status/@toggle").c_str()));
  }
}

TEST_F(FunctionsTest, EachFunctionNamesItsControl) {
  // The class ids as the controls register them, written out: a table row
  // naming another identifier of the type library would pass a comparison
  // with the library's own names.
  struct Expected {
    ULONG id;
    const char* progId;
    const wchar_t* classId;
  };
  const Expected expected[] = {
      {3, "vtFDT.FSKMavixCommDTM_ChannelConfig", L"{96BACA9B-322D-4a6a-8A6B-276E4762045B}"},
      {2, "vtFDT.FSKMavixCommDTM_DeviceListCtrl", L"{338305DD-136C-4b2a-9137-F96D1DB7BC34}"},
      {6, "vtFDT.FSKMavixCommDTM_DriverConfigCtrl", L"{3A10A27F-4B4B-4dbc-8791-909438759F7D}"},
      {11, "vtFDT.FSKMavixCommDTM_SetDevDtmAddrCtrl", L"{48256EB2-CCA0-4c34-8942-1AD043ECB9FE}"},
      {12, "vtFDT.FSKMavixCommDTM_SetSlaveAddrCtrl", L"{75D17DD0-0C53-48a4-B135-1495BBA4D3AB}"},
      {8, "evFDT.evHrtFdtScanRangeActiveX", L"{874C920F-6700-4AB5-8285-06F8F09804E9}"},
      {9, "vtFDT.FSKMavixCommDTM_GetAddrForDtm", L"{BC1888CF-2BC2-4fd3-97C1-3328D82B0D4A}"},
      {10, "vtFDT.FSKMavixCommDTM_SetDevAndDtmAddr", L"{D34400BF-8A22-4257-989C-FE66674F020F}"},
  };
  const FunctionTableRow* row = InitActiveXTable();
  EXPECT_EQ(row, InitActiveXTable());
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.id);
    EXPECT_EQ(FunctionTableRow::kControlFunction, row->kind);
    EXPECT_EQ(0u, row->applicationId);
    EXPECT_EQ(e.id, row->functionId);
    EXPECT_STREQ(e.progId, row->progId);
    ASSERT_NE(nullptr, row->classId);
    CLSID classId = {};
    ASSERT_EQ(S_OK, ::CLSIDFromString(e.classId, &classId));
    EXPECT_TRUE(IsEqualGUID(classId, *row->classId));
    EXPECT_EQ(nullptr, row->action);
    ++row;
  }
  EXPECT_EQ(FunctionTableRow::kEnd, row->kind);
}

TEST_F(FunctionsTest, DtmOpensAHiddenFunctionsControlOnItsOwnRequest) {
  SetSetting(hart_dtm::kNewDeviceAddressValue, DWORD{2});
  Configure();
  com::Bstr child(L"child");
  ASSERT_EQ(S_OK, hart->DeviceDtmAdded(child.get()));
  auto calls = frame->callsTo("OpenActiveXControlRequest");
  ASSERT_EQ(1u, calls.size());
  auto doc = Parse(calls[0].arguments[1].c_str(), L"x-schema:DTMFunctionCallSchema.xml");
  ASSERT_TRUE(doc);
  EXPECT_NE(std::wstring::npos, calls[0].arguments[1].find(L"functionId=\"11\""))
      << calls[0].arguments[1];
}

}  // namespace
}  // namespace hartdtmtest

namespace hartdtmtest {
namespace {

TEST_F(FunctionsTest, FrameLearnsEachFunctionsControlAndNoneForAnUnknownId) {
  Configure();
  com::ComPtr<IDtmActiveXInformation> information;
  ASSERT_EQ(S_OK, object.as(information));
  auto call = [](LONG id) { return testsupport::FunctionCall(id); };
  com::Bstr progId;
  ASSERT_EQ(S_OK, information->GetActiveXProgId(com::Bstr(call(8).c_str()).get(), progId.put()));
  EXPECT_EQ(L"evFDT.evHrtFdtScanRangeActiveX", std::wstring(progId.c_str()));
  ASSERT_EQ(S_OK, information->GetActiveXProgId(com::Bstr(call(11).c_str()).get(), progId.put()));
  EXPECT_EQ(L"vtFDT.FSKMavixCommDTM_SetDevDtmAddrCtrl", std::wstring(progId.c_str()));
  com::Bstr none;
  EXPECT_NE(S_OK, information->GetActiveXProgId(com::Bstr(call(1).c_str()).get(), none.put()));
  EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace hartdtmtest
