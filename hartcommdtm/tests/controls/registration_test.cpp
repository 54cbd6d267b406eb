// regsvr32 hartcommdtm.dll registers the DTM's controls with their class
// ids, both ProgIDs, their control keys and the module's type library, and
// removes them again.
#include "controls_fixture.h"
#include "dtm/dtm_ids.h"

namespace hartdtmtest {
namespace {

struct ControlClass {
  const wchar_t* clsid;
  const wchar_t* progId;
  const wchar_t* description;
  // Also registered as progId + ".1", the version-independent ProgID
  // naming it; false: progId alone, as the class's ProgID.
  bool versioned = true;
};
const ControlClass kControls[] = {
    // The address controls.
    {L"{BC1888CF-2BC2-4FD3-97C1-3328D82B0D4A}", L"vtFDT.FSKMavixCommDTM_GetAddrForDtm", L"GetNewAddressForDtmCtrl Class"},
    {L"{D34400BF-8A22-4257-989C-FE66674F020F}", L"vtFDT.FSKMavixCommDTM_SetDevAndDtmAddr", L"SetDevAndDtmAddrCtrl Class"},
    {L"{48256EB2-CCA0-4C34-8942-1AD043ECB9FE}", L"vtFDT.FSKMavixCommDTM_SetDevDtmAddrCtrl", L"SetDevDtmAddrCtrl Class"},
    {L"{96BACA9B-322D-4A6A-8A6B-276E4762045B}", L"vtFDT.FSKMavixCommDTM_ChannelConfig", L"Channel Configuration"},
    {L"{3A10A27F-4B4B-4DBC-8791-909438759F7D}", L"vtFDT.FSKMavixCommDTM_DriverConfigCtrl", L"Driver Configuration"},
    // Device list and slave address change.
    {L"{338305DD-136C-4B2A-9137-F96D1DB7BC34}", L"vtFDT.FSKMavixCommDTM_DeviceListCtrl", L"DeviceListCtrl Class",
     false},
    {L"{75D17DD0-0C53-48A4-B135-1495BBA4D3AB}", L"vtFDT.FSKMavixCommDTM_SetSlaveAddrCtrl",
     L"SetSlaveAddrCtrl Class"},
};

class ControlRegistrationTest : public ControlsFixture {};

TEST_F(ControlRegistrationTest, ControlsAreRegisteredWithTheirKeysAndRemovedAgain) {
  const std::wstring module = ProgramFolder() + hart_dtm::kModuleFileName;
  for (const ControlClass& c : kControls) {
    SCOPED_TRACE(c.progId);
    const std::wstring key = std::wstring(L"CLSID\\") + c.clsid;
    EXPECT_EQ(c.description, ReadText(HKEY_CLASSES_ROOT, key, nullptr));
    const std::wstring versioned = std::wstring(c.progId) + (c.versioned ? L".1" : L"");
    EXPECT_EQ(versioned, ReadText(HKEY_CLASSES_ROOT, key + L"\\ProgID", nullptr));
    EXPECT_EQ(c.versioned ? c.progId : L"", ReadText(HKEY_CLASSES_ROOT, key + L"\\VersionIndependentProgID", nullptr));
    EXPECT_EQ(module, ReadText(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"Apartment", ReadText(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel"));
    for (const wchar_t* flag : {L"\\Programmable", L"\\Control", L"\\Insertable"})
      EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key + flag)) << flag;
    EXPECT_EQ(module + L", 103", ReadText(HKEY_CLASSES_ROOT, key + L"\\ToolboxBitmap32", nullptr));
    EXPECT_EQ(L"0", ReadText(HKEY_CLASSES_ROOT, key + L"\\MiscStatus", nullptr));
    EXPECT_EQ(L"131473", ReadText(HKEY_CLASSES_ROOT, key + L"\\MiscStatus\\1", nullptr));
    EXPECT_EQ(L"{E3EA237D-268D-4926-B9B1-7ECDB4BD14E0}", ReadText(HKEY_CLASSES_ROOT, key + L"\\TypeLib", nullptr));
    EXPECT_EQ(L"1.0", ReadText(HKEY_CLASSES_ROOT, key + L"\\Version", nullptr));
    for (const std::wstring& progId : {std::wstring(c.progId), versioned}) {
      CLSID clsid = {};
      EXPECT_EQ(S_OK, ::CLSIDFromProgID(progId.c_str(), &clsid)) << progId;
      EXPECT_EQ(c.description, ReadText(HKEY_CLASSES_ROOT, progId, nullptr));
    }
    if (c.versioned) {
      EXPECT_EQ(versioned, ReadText(HKEY_CLASSES_ROOT, std::wstring(c.progId) + L"\\CurVer", nullptr));
    }
    // The control's misc status as a container asks for it.
    CLSID clsid = {};
    ASSERT_EQ(S_OK, ::CLSIDFromString(c.clsid, &clsid));
    DWORD misc = 0;
    EXPECT_EQ(S_OK, ::OleRegGetMiscStatus(clsid, DVASPECT_CONTENT, &misc));
    EXPECT_EQ(131473u, misc);
  }
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\{E3EA237D-268D-4926-B9B1-7ECDB4BD14E0}"));

  ASSERT_EQ(0u, RunRegsvr32(L"/s /u"));
  for (const ControlClass& c : kControls) {
    SCOPED_TRACE(c.progId);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + c.clsid));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, c.progId));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(c.progId) + L".1"));
  }
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\{E3EA237D-268D-4926-B9B1-7ECDB4BD14E0}"));
  ASSERT_EQ(0u, RunRegsvr32(L"/s"));
}

}  // namespace
}  // namespace hartdtmtest
