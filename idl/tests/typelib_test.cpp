// The type libraries load from the module's resources and register, every
// interface they describe is one the typelib marshaller serves, and the
// interfaces that cross apartments are found by their IID after
// registration. The deliverables' libraries must not describe FDT
// interfaces, whose registration belongs to the frame application.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fdt.h"
#include "fdtlib.h"
#include "hartcommdtm.h"
#include "scanrangectl.h"
#include "toolkit.h"
#include "toolkitlib.h"

namespace {

// {00020424-0000-0000-C000-000000000046}: the typelib marshaller.
const wchar_t kTypelibMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";

struct Library {
  int resource;
  const GUID* libid;
  const char* name;
};

const Library kLibraries[] = {
    {1, &LIBID_evHART_COMMDTMLib, "evHART_COMMDTMLib"},
    {2, &LIBID_SCANRANGECTLLib, "SCANRANGECTLLib"},
    {3, &LIBID_FdtLib, "FdtLib"},
    {4, &LIBID_EVFDTTEMPLATE4Lib, "EVFDTTEMPLATE4Lib"},
};

std::wstring guidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring modulePath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring embeddedPath(int resource) {
  return modulePath() + L"\\" + std::to_wstring(resource);
}

HRESULT loadEmbedded(int resource, ITypeLib** lib) {
  return LoadTypeLibEx(embeddedPath(resource).c_str(), REGKIND_NONE, lib);
}

// Registers with the resource index in the path: Wine's
// LoadTypeLibEx(REGKIND_REGISTER) records the bare module path, which names
// TYPELIB 1 whatever resource was loaded.
HRESULT registerEmbedded(int resource, ITypeLib** lib) {
  HRESULT hr = loadEmbedded(resource, lib);
  if (FAILED(hr)) return hr;
  std::wstring path = embeddedPath(resource);
  return RegisterTypeLib(*lib, &path[0], nullptr);
}

std::wstring registryText(const std::wstring& key) {
  wchar_t value[256] = {};
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                   &size) != ERROR_SUCCESS)
    return L"";
  return value;
}

class TypeLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(TypeLibraryTest, EachLibraryRegistersItsInterfacesForTheTypelibMarshaller) {
  for (const Library& library : kLibraries) {
    SCOPED_TRACE(library.name);
    ITypeLib* lib = nullptr;
    ASSERT_HRESULT_SUCCEEDED(registerEmbedded(library.resource, &lib));
    TLIBATTR* attr = nullptr;
    ASSERT_HRESULT_SUCCEEDED(lib->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(attr->guid, *library.libid));
    lib->ReleaseTLibAttr(attr);

    // Our interfaces are the dispatch ones; a library also carries the
    // descriptions of the system interfaces they take (IStream, ...), which
    // registration leaves alone.
    UINT interfaces = 0;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
      TYPEKIND kind;
      ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoType(i, &kind));
      if (kind != TKIND_DISPATCH) continue;
      ITypeInfo* info = nullptr;
      ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfo(i, &info));
      TYPEATTR* type = nullptr;
      ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&type));
      BSTR name = nullptr;
      info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
      SCOPED_TRACE(testing::Message() << "interface " << (name ? name : L"?"));
      std::wstring key = L"Interface\\" + guidText(type->guid);
      if (type->wTypeFlags & TYPEFLAG_FDUAL) {
        EXPECT_EQ(registryText(key + L"\\ProxyStubClsid32"), kTypelibMarshaller);
      } else {
        // The frame's event sinks are dispatch interfaces: registered with
        // the dispatch proxy, as frames register them.
        EXPECT_TRUE(IsEqualGUID(type->guid, DIID_IFrameDtmEvents) ||
                    IsEqualGUID(type->guid, DIID_IFrameDtmEvents2) ||
                    IsEqualGUID(type->guid, DIID_IFrameScanEvents) ||
                    IsEqualGUID(type->guid, DIID_IFrameAuditTrailEvents) ||
                    IsEqualGUID(type->guid, DIID_IDeviceDataAccessEvents));
        EXPECT_EQ(registryText(key + L"\\ProxyStubClsid32"), L"{00020420-0000-0000-C000-000000000046}");
      }

      // What the marshaller does: from the IID to the registered library
      // to the interface's type information.
      GUID registered = GUID_NULL;
      std::wstring libid = registryText(key + L"\\TypeLib");
      EXPECT_HRESULT_SUCCEEDED(CLSIDFromString(libid.c_str(), &registered));
      ITypeLib* found = nullptr;
      EXPECT_HRESULT_SUCCEEDED(LoadRegTypeLib(registered, 1, 0, LOCALE_NEUTRAL, &found));
      if (found) {
        ITypeInfo* byIid = nullptr;
        EXPECT_HRESULT_SUCCEEDED(found->GetTypeInfoOfGuid(type->guid, &byIid));
        if (byIid) byIid->Release();
        found->Release();
      }
      SysFreeString(name);
      info->ReleaseTypeAttr(type);
      info->Release();
      ++interfaces;
    }
    EXPECT_GT(interfaces, 0u);
    lib->Release();
  }
}

// Interfaces whose calls cross an apartment in the DTM: after the DTM's
// library and the stand-in FDT library are registered, the marshaller finds
// each one's type information from its IID alone.
TEST_F(TypeLibraryTest, CrossApartmentInterfacesAreFoundByIid) {
  for (int resource : {1, 3}) {
    ITypeLib* lib = nullptr;
    ASSERT_HRESULT_SUCCEEDED(registerEmbedded(resource, &lib));
    lib->Release();
  }
  const struct {
    const IID* iid;
    const char* name;
  } crossing[] = {
      {&IID_IevFdtBaseDTM, "IevFdtBaseDTM"},
      {&IID_IevFdtDtmThread, "IevFdtDtmThread"},
      {&IID_IevFdtParameterHandler4, "IevFdtParameterHandler4"},
      {&IID_IevFdtChannelContainer4, "IevFdtChannelContainer4"},
      {&IID_IevFdtDtmEvents, "IevFdtDtmEvents"},
      {&IID_IevSdaHandler, "IevSdaHandler"},
      {&IID_IevFdtActiveXContainer, "IevFdtActiveXContainer"},
      {&IID_IevFdtStorageState, "IevFdtStorageState"},
      {&IID_IevFdtTranslation, "IevFdtTranslation"},
      {&IID_IHART_CommDTM, "IHART_CommDTM"},
      {&IID_IHART_Channel, "IHART_Channel"},
      {&IID_IFrameContainer, "IFrameContainer"},
      {&DIID_IFrameDtmEvents, "IFrameDtmEvents"},
      {&DIID_IFrameDtmEvents2, "IFrameDtmEvents2"},
      {&DIID_IFrameScanEvents, "IFrameScanEvents"},
      {&IID_IFrameUserDialog, "IFrameUserDialog"},
      {&DIID_IDeviceDataAccessEvents, "IDeviceDataAccessEvents"},
      {&IID_IChildCommunicationEvents, "IChildCommunicationEvents"},
      {&IID_IChildCommunicationEvents2, "IChildCommunicationEvents2"},
  };
  for (const auto& entry : crossing) {
    SCOPED_TRACE(entry.name);
    std::wstring key = L"Interface\\" + guidText(*entry.iid) + L"\\TypeLib";
    std::wstring libid = registryText(key);
    ASSERT_FALSE(libid.empty());
    GUID guid;
    ASSERT_HRESULT_SUCCEEDED(CLSIDFromString(libid.c_str(), &guid));
    ITypeLib* lib = nullptr;
    ASSERT_HRESULT_SUCCEEDED(LoadRegTypeLib(guid, 1, 0, LOCALE_NEUTRAL, &lib));
    ITypeInfo* info = nullptr;
    EXPECT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(*entry.iid, &info));
    if (info) info->Release();
    lib->Release();
  }
}

// Registering a deliverable's library must not take over the registration
// of FDT interfaces: they belong to the frame application's library.
TEST_F(TypeLibraryTest, DeliverableLibrariesDescribeNoFdtInterface) {
  const IID* fdt[] = {&IID_IDtm, &IID_IDtmActiveXControl, &IID_IFdtCommunication,
                      &IID_IFrameContainer, &IID_IChildCommunicationEvents,
                      &DIID_IFrameDtmEvents, &DIID_IFrameDtmEvents2, &DIID_IFrameAuditTrailEvents};
  for (int resource : {1, 2}) {
    ITypeLib* lib = nullptr;
    ASSERT_HRESULT_SUCCEEDED(loadEmbedded(resource, &lib));
    for (const IID* iid : fdt) {
      ITypeInfo* info = nullptr;
      EXPECT_EQ(lib->GetTypeInfoOfGuid(*iid, &info), TYPE_E_ELEMENTNOTFOUND)
          << "resource " << resource << " describes " << guidText(*iid);
      if (info) info->Release();
    }
    lib->Release();
  }
}

}  // namespace
