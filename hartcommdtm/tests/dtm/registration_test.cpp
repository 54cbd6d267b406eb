// regsvr32 registers every class of the module with its ProgIDs, the type
// library, the categories and the FDT catalogue notice; regsvr32 /u removes
// them and writes a new notice.
#include <comcat.h>

#include "com/Registration.h"
#include "dtm/dtm_ids.h"
#include "hart_dtm_fixture.h"

namespace hartdtmtest {
namespace {

const std::wstring kDtmClassKey = L"CLSID\\{4B7E5F62-20CD-466E-8070-17250350AB16}";
const std::wstring kThreadClassKey = L"CLSID\\{148F3C95-5C37-4D64-9B87-123EE16A10B3}";
const std::wstring kTypeLibKey = L"TypeLib\\{E3EA237D-268D-4926-B9B1-7ECDB4BD14E0}";
const wchar_t* const kCategories[] = {L"{036D1490-387B-11D4-86E1-00E0987270B9}",
                                      L"{036D1494-387B-11D4-86E1-00E0987270B9}",
                                      L"{036D1498-387B-11D4-86E1-00E0987270B9}"};

std::wstring CatalogueFlag() {
  return ReadText(HKEY_LOCAL_MACHINE, hart_dtm::kCatalogUpdatesKey, L"ModificationFlag");
}

bool IsBracedGuid(const std::wstring& text) {
  GUID guid;
  return text.size() == 38 && SUCCEEDED(::CLSIDFromString(text.c_str(), &guid)) &&
         text == com::guidText(guid);
}

class RegistrationTest : public HartDtmFixture {};

TEST_F(RegistrationTest, WritesClassesProgIdsTypeLibraryAndCategories) {
  EXPECT_EQ(L"FSK Mavix CommDTM", ReadText(HKEY_CLASSES_ROOT, kDtmClassKey, nullptr));
  EXPECT_EQ(L"Apartment",
            ReadText(HKEY_CLASSES_ROOT, kDtmClassKey + L"\\InprocServer32", L"ThreadingModel"));
  const std::wstring server = ReadText(HKEY_CLASSES_ROOT, kDtmClassKey + L"\\InprocServer32", nullptr);
  EXPECT_NE(std::wstring::npos, server.find(L"hartcommdtm.dll")) << server;
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kDtmClassKey + L"\\Programmable"));
  EXPECT_EQ(L"{E3EA237D-268D-4926-B9B1-7ECDB4BD14E0}",
            ReadText(HKEY_CLASSES_ROOT, kDtmClassKey + L"\\TypeLib", nullptr));
  EXPECT_EQ(L"vtFDT.FSKMavixCommDTM.1", ReadText(HKEY_CLASSES_ROOT, kDtmClassKey + L"\\ProgID", nullptr));
  EXPECT_EQ(L"vtFDT.FSKMavixCommDTM",
            ReadText(HKEY_CLASSES_ROOT, kDtmClassKey + L"\\VersionIndependentProgID", nullptr));
  for (const wchar_t* progId : {L"vtFDT.FSKMavixCommDTM", L"vtFDT.FSKMavixCommDTM.1"}) {
    CLSID clsid = {};
    EXPECT_EQ(S_OK, ::CLSIDFromProgID(progId, &clsid)) << progId;
    EXPECT_TRUE(IsEqualCLSID(CLSID_HART_CommDTM, clsid)) << progId;
  }
  for (const wchar_t* category : kCategories)
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT,
                          kDtmClassKey + L"\\Implemented Categories\\" + category))
        << category;

  // The DTM's worker thread class.
  EXPECT_EQ(L"vtFDT.FSKMavixCommDTM_Thread.1",
            ReadText(HKEY_CLASSES_ROOT, kThreadClassKey + L"\\ProgID", nullptr));
  EXPECT_EQ(L"Apartment",
            ReadText(HKEY_CLASSES_ROOT, kThreadClassKey + L"\\InprocServer32", L"ThreadingModel"));

  // The type library, so the typelib marshaller finds the DTM's interfaces.
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
  com::ComPtr<ITypeLib> lib;
  ASSERT_EQ(S_OK, ::LoadRegTypeLib(LIBID_evHART_COMMDTMLib, 1, 0, 0, lib.put()));
  com::ComPtr<ITypeInfo> info;
  EXPECT_EQ(S_OK, lib->GetTypeInfoOfGuid(IID_IHART_CommDTM, info.put()));
  // The toolkit interfaces the worker threads ask the DTM for across
  // apartments have their proxies registered with the library; one that is
  // missing is never reached from a worker (and sends COM looking through
  // the other registry view every time).
  struct Reached {
    const IID* iid;
    const char* name;
  };
  const Reached reached[] = {
      {&IID_IevFdtBaseDTM, "IevFdtBaseDTM"},         {&IID_IevFdtDtmEvents, "IevFdtDtmEvents"},
      {&IID_IevFdtParameterHandler4, "IevFdtParameterHandler4"}, {&IID_IevSdaHandler, "IevSdaHandler"},
      {&IID_IevFdtConnectHook, "IevFdtConnectHook"}, {&IID_IevFdtChannelContainer4, "IevFdtChannelContainer4"},
      {&IID_IevFdtActiveXContainer, "IevFdtActiveXContainer"}, {&IID_IevFdtDeviceAccess, "IevFdtDeviceAccess"},
      {&IID_IevFdtDtmThread, "IevFdtDtmThread"}};
  for (const Reached& r : reached) {
    wchar_t iid[40] = {};
    ::StringFromGUID2(*r.iid, iid, 40);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"Interface\\") + iid + L"\\ProxyStubClsid32")) << r.name;
  }
}

TEST_F(RegistrationTest, FrameFindsTheDtmByItsCategories) {
  com::ComPtr<ICatInformation> categories;
  ASSERT_EQ(S_OK, categories.createInstance(CLSID_StdComponentCategoriesMgr, nullptr,
                                            CLSCTX_INPROC_SERVER));
  for (const wchar_t* text : kCategories) {
    CATID category;
    ASSERT_EQ(S_OK, ::CLSIDFromString(text, &category));
    com::ComPtr<IEnumCLSID> classes;
    ASSERT_EQ(S_OK, categories->EnumClassesOfCategories(1, &category, static_cast<ULONG>(-1),
                                                        nullptr, classes.put()));
    bool found = false;
    CLSID clsid;
    ULONG fetched = 0;
    while (classes->Next(1, &clsid, &fetched) == S_OK && fetched == 1)
      found = found || IsEqualCLSID(clsid, CLSID_HART_CommDTM);
    EXPECT_TRUE(found) << text;
  }
}

TEST_F(RegistrationTest, EveryRegistrationAndRemovalWritesANewCatalogueNotice) {
  ASSERT_EQ(0u, RunRegsvr32(L"/s"));
  const std::wstring first = CatalogueFlag();
  EXPECT_TRUE(IsBracedGuid(first)) << first;
  ASSERT_EQ(0u, RunRegsvr32(L"/s"));
  const std::wstring second = CatalogueFlag();
  EXPECT_TRUE(IsBracedGuid(second)) << second;
  EXPECT_NE(first, second);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, hart_dtm::kCatalogUpdatesKey));
  // "ModificationComment" is an empty REG_SZ.
  DWORD type = 0, bytes = 0;
  EXPECT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_LOCAL_MACHINE, hart_dtm::kCatalogUpdatesKey,
                                          L"ModificationComment", RRF_RT_ANY, &type, nullptr, &bytes));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

  ASSERT_EQ(0u, RunRegsvr32(L"/s /u"));
  const std::wstring third = CatalogueFlag();
  EXPECT_TRUE(IsBracedGuid(third)) << third;
  EXPECT_NE(second, third);
  ASSERT_EQ(0u, RunRegsvr32(L"/s"));
}

TEST_F(RegistrationTest, RemovalTakesEveryClassProgIdAndCategoryAway) {
  ASSERT_EQ(0u, RunRegsvr32(L"/s /u"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kDtmClassKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kThreadClassKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"vtFDT.FSKMavixCommDTM"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"vtFDT.FSKMavixCommDTM.1"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"vtFDT.FSKMavixCommDTM_Thread.1"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
  CLSID clsid;
  EXPECT_NE(S_OK, ::CLSIDFromProgID(L"vtFDT.FSKMavixCommDTM", &clsid));
  // The other cases of this program need the module registered.
  ASSERT_EQ(0u, RunRegsvr32(L"/s"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kDtmClassKey));
}

}  // namespace
}  // namespace hartdtmtest
