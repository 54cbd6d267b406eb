// Setting the communication first checks the configured device through the
// modem interface library (bound at run time): a configured device number
// and the DTM's own device type go on; otherwise the user gets the message
// of the binding or message 161, from the translation document or the
// string table.
#include "dtm/dtm_ids.h"
#include "hart_dtm_fixture.h"
#include "shared/registry_layout.h"
#include "toolkit/dtm/dtm_states.h"
#include "win32/unique_handle.h"

namespace hartdtmtest {
namespace {

const wchar_t kWrongType[] =
    L"The configured is HART device is of the wrong type for this DTM device type.";

// The configuration key (in the registry view every deliverable uses) removed.
void RemoveDeviceConfiguration() {
  win32::UniqueRegKey parent;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\VELTRA\\evHRT USB", 0,
                      KEY_ALL_ACCESS | shared::kRegistryView, parent.put()) == ERROR_SUCCESS)
    ::RegDeleteTreeA(parent.get(), "Config");
}

class DeviceCheckTest : public HartDtmFixture {
 protected:
  void SetUp() override {
    HartDtmFixture::SetUp();
    RemoveDeviceConfiguration();
    // modemapi.dll is found beside the program; each case decides which.
    UseLibrary(L"modemapi_real.dll");
  }
  void TearDown() override {
    HartDtmFixture::TearDown();
    RemoveDeviceConfiguration();
  }

  // The library beside the program becomes a copy of that file (null: none).
  void UseLibrary(const wchar_t* file) {
    const std::wstring target = ProgramFolder() + L"modemapi.dll";
    ::DeleteFileW(target.c_str());
    if (file) ASSERT_TRUE(::CopyFileW((ProgramFolder() + file).c_str(), target.c_str(), FALSE));
  }

  // Device number `number` bound to an adapter serial, as the service writes it.
  void ConfigureDeviceNumber(int number) {
    win32::UniqueRegKey key;
    std::string path = std::string(shared::kConfigKeyPath) + "\\" + std::to_string(number);
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS | shared::kRegistryView, nullptr,
                                               key.put(), nullptr));
    DWORD serial = 0x1234;
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(key.get(), shared::kUsbIdValueName, 0, REG_DWORD,
                                              reinterpret_cast<const BYTE*>(&serial), sizeof(serial)));
  }

  HRESULT SetCommunication(VARIANT_BOOL* ok) { return dtm->SetCommunication(nullptr, ok); }

  // The texts the frame was shown as the DTM's error messages.
  std::vector<std::wstring> Messages(size_t expected) {
    frame->waitForCalls("OnErrorMessage", expected, 10000);
    std::vector<std::wstring> texts;
    for (const auto& call : frame->callsTo("OnErrorMessage")) texts.push_back(call.arguments.at(1));
    return texts;
  }
};

TEST_F(DeviceCheckTest, DeviceNumberNotConfiguredReportsMessage161) {
  ConfigureDeviceNumber(1);  // parameter 1000 names device number 0
  Configure();
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, SetCommunication(&ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  EXPECT_EQ(kDtmConfigured, State());
  auto texts = Messages(1);
  ASSERT_EQ(1u, texts.size());
  EXPECT_EQ(kWrongType, texts[0]);
}

TEST_F(DeviceCheckTest, MissingLibraryReportsItsMessage) {
  ConfigureDeviceNumber(0);
  UseLibrary(nullptr);
  Configure();
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, SetCommunication(&ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  auto texts = Messages(1);
  ASSERT_EQ(1u, texts.size());
  EXPECT_EQ(L"modemapi.dll could not be loaded.", texts[0]);
}

TEST_F(DeviceCheckTest, TranslationDocumentHoldsEveryMessageTheDtmShows) {
  Create();
  com::ComPtr<IevFdtTranslation> translation;
  ASSERT_EQ(S_OK, object.as(translation));
  struct Entry {
    const wchar_t* key;
    const wchar_t* text;
  };
  const Entry entries[] = {
      {L"130", L"modemapi.dll could not be loaded."},
      {L"131", L"Error while loading the modemapi.dll. Not all function pointers could be loaded."},
      {L"IDS_ErrorStartCallback", L"Error while starting the FSK Mavix device callback."},
      {L"IDS_ErrorSetRetryCount", L"Error while setting the FSK Mavix device retry count."},
      {L"135", L"No access to FSK Mavix device.\n\nCheck the settings in the\nconfiguration utility."},
      {L"149", L"FSK Mavix device error: thread blocked."},
      {L"161", kWrongType},
  };
  for (const Entry& e : entries) {
    SCOPED_TRACE(e.key);
    std::wstring path = std::wstring(L"localization/UserMessages/Message[@resId=\"") + e.key + L"\"]";
    com::Bstr text;
    VARIANT_BOOL found = VARIANT_FALSE;
    ASSERT_EQ(S_OK, translation->GetLocalizedText(com::Bstr(path.c_str()).get(), text.put(), &found));
    EXPECT_EQ(VARIANT_TRUE, found);
    EXPECT_EQ(e.text, std::wstring(text.c_str()));
  }
  com::Bstr text;
  VARIANT_BOOL found = VARIANT_FALSE;
  ASSERT_EQ(S_OK, translation->GetLocalizedText(
                      com::Bstr(L"localization/ToolkitMessages/Message[@id=\"5001\"]").get(),
                      text.put(), &found));
  EXPECT_EQ(L"An error occurred during IFdtChannel::SetChannelParameters", std::wstring(text.c_str()));
  ASSERT_EQ(S_OK, translation->GetLocalizedText(
                      com::Bstr(L"localization/ChannelList/Channel/ParameterList/Parameter[@parId=\"1009\"]/Name").get(),
                      text.put(), &found));
  EXPECT_EQ(L"FSK Mavix - HART Channel", std::wstring(text.c_str()));
}

}  // namespace
}  // namespace hartdtmtest
