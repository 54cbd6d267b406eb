#include "hart_dtm_fixture.h"

#include <oleauto.h>

#include <algorithm>

#include "dtm/dtm_ids.h"
#include "regsvr32.h"
#include "shared/registry_layout.h"
#include "sim/sim_control.h"
#include "toolkit/dtm/dtm_states.h"
#include "rpc_runtime.h"
#include "type_libraries.h"
#include "win32/unique_handle.h"

namespace hartdtmtest {

std::wstring ProgramFolder() { return testsupport::ProgramFolder(); }

DWORD RunRegsvr32(const wchar_t* options) {
  return testsupport::RunRegsvr32(options, ProgramFolder() + hart_dtm::kModuleFileName);
}

namespace {

win32::UniqueRegKey SettingsKey() {
  win32::UniqueRegKey key;
  ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, hart_dtm::kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, key.put(), nullptr);
  return key;
}

}  // namespace

void SetSetting(const wchar_t* name, DWORD value) {
  win32::UniqueRegKey key = SettingsKey();
  ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), name, 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&value), sizeof(value)));
}

void SetSetting(const wchar_t* name, const wchar_t* text) {
  win32::UniqueRegKey key = SettingsKey();
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))));
}

void RemoveSettings() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, hart_dtm::kSettingsKey); }

void ResetSettings() {
  RemoveSettings();
  SetSetting(L"TranslationPath", ProgramFolder().c_str());
}

void UseTranslation(const char* body) {
  const std::wstring folder = ProgramFolder() + L"translation_under_test\\";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring file = folder + L"hartcommdtmTranslation.xml";
  ::DeleteFileW(file.c_str());
  if (body) {
    const std::string text = std::string(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><localization><general><languages>"
        "<language lcid=\"1033\" code=\"en\"/></languages></general>") + body + "</localization>";
    win32::UniqueFile out(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, out.get());
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    ASSERT_EQ(text.size(), written);
  }
  SetSetting(L"TranslationPath", folder.c_str());
}

void UseTestTranslation() { SetSetting(L"TranslationPath", (ProgramFolder() + L"test_translation\\").c_str()); }

IID Iid(const wchar_t* text) {
  IID iid = {};
  EXPECT_EQ(S_OK, ::IIDFromString(text, &iid)) << "not an identifier";
  return iid;
}

com::ComPtr<IXMLDOMDocument2> Parse(const wchar_t* xml, const wchar_t* defaultNamespace) {
  com::ComPtr<IXMLDOMDocument2> doc;
  EXPECT_EQ(S_OK, XmlCreateParserDocument(doc.put()));
  if (!doc) return doc;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  com::Bstr text(xml);
  EXPECT_EQ(S_OK, doc->loadXML(text.get(), &loaded)) << xml;
  EXPECT_EQ(VARIANT_TRUE, loaded) << xml;
  std::wstring namespaces = L"xmlns:fdt='x-schema:FDTDataTypesSchema.xml' "
                            L"xmlns:ident='x-schema:DTMIdentSchema.xml' xmlns:d='";
  namespaces += defaultNamespace;
  namespaces += L"'";
  doc->setProperty(com::Bstr(L"SelectionLanguage").get(), *com::Variant(L"XPath").get());
  doc->setProperty(com::Bstr(L"SelectionNamespaces").get(), *com::Variant(namespaces.c_str()).get());
  return doc;
}

std::wstring Select(IXMLDOMNode* node, const wchar_t* xpath) {
  com::ComPtr<IXMLDOMNode> found;
  if (!node || node->selectSingleNode(com::Bstr(xpath).get(), found.put()) != S_OK || !found)
    return L"<none>";
  com::Bstr text;
  found->get_text(text.put());
  return text.c_str();
}

long Count(IXMLDOMNode* node, const wchar_t* xpath) {
  com::ComPtr<IXMLDOMNodeList> list;
  if (!node || FAILED(node->selectNodes(com::Bstr(xpath).get(), list.put())) || !list) return -1;
  long length = 0;
  list->get_length(&length);
  return length;
}

bool KeyExists(HKEY root, const std::wstring& key) {
  win32::UniqueRegKey k;
  return ::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

std::wstring ReadText(HKEY root, const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[512] = {};
  DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
  if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &bytes) !=
      ERROR_SUCCESS)
    return std::wstring();
  return buffer;
}

com::Variant I4(LONG value) { return com::Variant(value); }

com::Variant UI1(BYTE value) {
  com::Variant v;
  V_VT(v.get()) = VT_UI1;
  V_UI1(v.get()) = value;
  return v;
}

std::wstring DeviceTypeDocument(const wchar_t* name) {
  return std::wstring(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMInitSchema.xml\" "
                      L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
                      L"<fdt:DtmDeviceType><fdt:VersionInformation name=\"") +
         name + L"\" vendor=\"VELTRA\" version=\"1.0.0\" date=\"2013-09-30\"/>"
                L"</fdt:DtmDeviceType></FDT>";
}

void HartDtmFixture::SetUpTestSuite() {
  // The frame double's interfaces cross apartments through the FDT stand-in
  // library, which a frame application would have registered.
  // Both libraries stay loaded while workers marshal (type_libraries.h).
  ASSERT_TRUE(testsupport::RegisterTypeLibrary(ProgramFolder() + L"fdtlib.tlb"));
  ASSERT_EQ(0u, RunRegsvr32(L"/s"));
  testsupport::KeepTypeLibraryLoaded(ProgramFolder() + hart_dtm::kModuleFileName);
  // Cases start frames on threads of their own that marshal at once.
  testsupport::PrimeRpcAllocator();
}

void HartDtmFixture::SetUp() {
  ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  ResetSettings();
  frameObject = frame_double::createControlFrame(&frame);
  ASSERT_TRUE(frame);
  frame->setAgile(true);
}

void HartDtmFixture::TearDown() {
  if (dtm) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (State() >= kDtmEnvironmentSet) dtm->ShutdownDtm(&ok);
  }
  ReleaseDtm();
  frameObject.reset();
  RemoveSettings();
  ::CoUninitialize();
}

void HartDtmFixture::ReleaseDtm() {
  hart.reset();
  parameters.reset();
  dtm.reset();
  base.reset();
  object.reset();
}

bool HartDtmFixture::ModuleUnloads() {
  return PumpUntil([] {
    ::CoFreeUnusedLibraries();
    return ::GetModuleHandleW(hart_dtm::kModuleFileName) == nullptr;
  }, 30000);
}

void HartDtmFixture::Create() {
  CLSID clsid = {};
  ASSERT_EQ(S_OK, ::CLSIDFromProgID(hart_dtm::kVersionIndependentProgId, &clsid));
  ASSERT_TRUE(IsEqualCLSID(CLSID_HART_CommDTM, clsid));
  ASSERT_EQ(S_OK, object.createInstance(clsid, nullptr, CLSCTX_INPROC_SERVER));
  ASSERT_EQ(S_OK, object.as(dtm));
  ASSERT_EQ(S_OK, object.as(base));
  ASSERT_EQ(S_OK, object.as(parameters));
  ASSERT_EQ(S_OK, object.as(hart));
}

LONG HartDtmFixture::State() {
  long state = -1;
  EXPECT_EQ(S_OK, base->GetDtmState(&state));
  return state;
}

void HartDtmFixture::Attach(bool fdt121) {
  if (!object) Create();
  ASSERT_EQ(kDtmConstructed, State());
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  ASSERT_EQ(S_OK, persist->InitNew());
  ASSERT_EQ(kDtmNewDataSet, State());
  VARIANT_BOOL ok = VARIANT_FALSE;
  if (fdt121) {
    com::Bstr version(FrameVersion(1, 2, 1).c_str());
    com::ComPtr<IDtm2> dtm2;
    ASSERT_EQ(S_OK, object.as(dtm2));
    ASSERT_EQ(S_OK, dtm2->SetEnvironment2(tag.get(), frameObject.get(), version.get(), &ok));
  } else {
    ASSERT_EQ(S_OK, dtm->SetEnvironment(tag.get(), frameObject.get(), &ok));
  }
  ASSERT_EQ(VARIANT_TRUE, ok);
  ASSERT_EQ(kDtmEnvironmentSet, State());
}

void HartDtmFixture::Configure(const wchar_t* deviceType, const wchar_t* level, bool fdt121) {
  Attach(fdt121);
  VARIANT_BOOL ok = VARIANT_FALSE;
  com::Bstr document(DeviceTypeDocument(deviceType).c_str());
  ASSERT_EQ(S_OK, dtm->InitNewDeviceType(document.get(), &ok));
  ASSERT_EQ(VARIANT_TRUE, ok);
  ASSERT_EQ(kDtmInitialised, State());
  com::Bstr user(UserInformation(level).c_str());
  ASSERT_EQ(S_OK, dtm->Config(user.get(), &ok));
  ASSERT_EQ(VARIANT_TRUE, ok);
  ASSERT_EQ(kDtmConfigured, State());
}

com::Variant HartDtmFixture::Read(ULONG id) {
  com::Variant value;
  EXPECT_EQ(S_OK, parameters->GetParameterValue(*com::ui4(id).get(), value.put())) << "parameter " << id;
  return value;
}

HRESULT HartDtmFixture::Write(ULONG id, const VARIANT& value) {
  return parameters->WriteParameter(*com::ui4(id).get(), value);
}

void BoundAdapterFixture::SetUp() {
  HartDtmFixture::SetUp();
  adapter_ = std::make_unique<SimulatedAdapter>();
}

void BoundAdapterFixture::TearDown() {
  HartDtmFixture::TearDown();
  adapter_.reset();
}

void BoundAdapterFixture::UseLibrary(const wchar_t* file) { SimulatedAdapter::UseLibrary(file); }

void BoundAdapterFixture::BindDeviceNumber(int number) { adapter_->Bind(number); }

void BoundAdapterFixture::GoOnline() {
  BindDeviceNumber(0);
  Configure();
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
  ASSERT_EQ(VARIANT_TRUE, ok);
  // The HART channel moves the DTM online from its worker.
  ASSERT_TRUE(PumpUntil([&] { return State() == kDtmOnline; }));
}

void HartDtmFixture::OnlineAndBack() {
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
  ASSERT_TRUE(PumpUntil([&] { return State() == kDtmOnline; }));
  ASSERT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
  ASSERT_EQ(VARIANT_TRUE, ok);
  ASSERT_TRUE(PumpUntil([&] { return State() == kDtmCommunicationSet; }));
  ASSERT_EQ(S_OK, dtm->ReleaseCommunication(&ok));
  ASSERT_EQ(VARIANT_TRUE, ok);
}

void HartDtmFixture::ShutDown() {
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->ShutdownDtm(&ok));
  ASSERT_EQ(VARIANT_TRUE, ok);
}

com::ComPtr<IUnknown> HartDtmFixture::HartChannel() {
  com::ComPtr<IevFdtChannelContainer4> container;
  com::ComPtr<IUnknown> channel;
  EXPECT_EQ(S_OK, object.as(container));
  if (container) {
    EXPECT_EQ(S_OK, container->GetChannelByKey(com::Variant(L"FSK Mavix - HART Channel").value(), channel.put()));
  }
  return channel;
}

}  // namespace hartdtmtest
