// Setting the communication first checks the configured device through the
// modem interface library (bound at run time): a configured device number
// and the DTM's own device type go on; otherwise the user gets the message
// of the binding or message 161, from the translation document or the
// string table.
#include "channel/channel_texts.h"
#include "dtm/dtm_ids.h"
#include "hart_dtm_fixture.h"
#include "sim/sim_control.h"
#include "toolkit/dtm/dtm_states.h"
#include "win32/unique_handle.h"

namespace hartdtmtest {
namespace {

const wchar_t kWrongType[] =
    L"The configured is HART device is of the wrong type for this DTM device type.";

class DeviceCheckTest : public BoundAdapterFixture {
 protected:
  HRESULT SetCommunication(VARIANT_BOOL* ok) { return dtm->SetCommunication(nullptr, ok); }

  // The texts the frame was shown as the DTM's error messages.
  std::vector<std::wstring> Messages(size_t expected) {
    frame->waitForCalls("OnErrorMessage", expected, 10000);
    std::vector<std::wstring> texts;
    for (const auto& call : frame->callsTo("OnErrorMessage")) texts.push_back(call.arguments.at(1));
    return texts;
  }
};

TEST_F(DeviceCheckTest, ConfiguredDeviceOfTheDtmsTypeGoesOnline) {
  BindDeviceNumber(0);  // parameter 1000 names device number 0
  Configure();
  VARIANT_BOOL ok = VARIANT_FALSE;
  EXPECT_EQ(S_OK, SetCommunication(&ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  // The HART channel moves the DTM online from its worker.
  EXPECT_TRUE(PumpUntil([&] { return State() == kDtmOnline; }));
  EXPECT_TRUE(frame->callsTo("OnErrorMessage").empty());
}

// A frame of FDT 1.2.1 in its single-threaded apartment, as frames are: the
// DTM's and its channel's worker threads reach the frame's sinks through
// proxies, so every notice arrives on the frame's thread, on its sink and
// never on the frame's own IDispatch (a fault there fails the case).
TEST_F(DeviceCheckTest, ASingleThreadedFrameGetsTheNoticesOnItsSinks) {
  frame->setAgile(false);
  BindDeviceNumber(0);
  ASSERT_TRUE(SimSetLineTiming(kSerial, 0, 1));  // silence at once: a quick scan
  Configure(L"FSK Mavix", L"maintenance", /*fdt121=*/true);
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, SetCommunication(&ok));
  ASSERT_TRUE(PumpUntil([&] { return State() == kDtmOnline; }));
  ASSERT_TRUE(frame->waitForCalls("OnStateChanged", 2, 10000));

  // A topology scan of the DTM's channel answers from the channel's worker.
  com::ComPtr<IDtmChannel> channels;
  ASSERT_EQ(S_OK, object.as(channels));
  com::ComPtr<IFdtChannelCollection> collection;
  ASSERT_EQ(S_OK, channels->GetChannelCollection(collection.put()));
  com::Variant first(LONG{1});
  com::ComPtr<IDispatch> item;
  ASSERT_EQ(S_OK, collection->get_Item(first.get(), item.put()));
  com::ComPtr<IFdtChannelSubTopology> topology;
  ASSERT_EQ(S_OK, item.as(topology));
  com::Bstr invokeId(L"{2F1B6C0E-7D3A-4B59-9E21-8A4C6D0F3B17}");
  ASSERT_EQ(S_OK, topology->ScanRequest(invokeId.get(), &ok));
  ASSERT_EQ(VARIANT_TRUE, ok);
  ASSERT_TRUE(frame->waitForCalls("OnScanResponse", 1, 30000));

  for (const char* method : {"OnStateChanged", "OnScanResponse"}) {
    for (const auto& call : frame->callsTo(method)) {
      EXPECT_EQ(::GetCurrentThreadId(), call.threadId) << method;
      EXPECT_NE("IDispatch", call.interfaceName) << method;
    }
  }
  EXPECT_EQ("IFrameDtmEvents2", frame->callsTo("OnStateChanged")[0].interfaceName);
  EXPECT_EQ("IFrameDtmEvents", frame->callsTo("OnScanResponse")[0].interfaceName);
  EXPECT_GT(frame->eventSink().ownInterfaceQueries(), 0);
  EXPECT_GT(frame->stateSink().ownInterfaceQueries(), 0);
}

// A frame that drops an online DTM without taking it offline or shutting it
// down: the channel's worker, which holds the adapter, does not keep the DTM;
// it closes the adapter and ends, and the modules unload.
TEST_F(DeviceCheckTest, OnlineDtmReleasedWithoutShutdownClosesTheAdapterAndUnloads) {
  BindDeviceNumber(0);
  Configure();
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, SetCommunication(&ok));
  ASSERT_TRUE(PumpUntil([&] { return State() == kDtmOnline; }));
  ASSERT_NE(nullptr, ::GetModuleHandleW(L"modemapi.dll"));

  ReleaseDtm();
  EXPECT_TRUE(ModuleUnloads()) << "the DTM's module stays loaded";
  EXPECT_EQ(nullptr, ::GetModuleHandleW(L"modemapi.dll"));
  // The simulated adapter's device file is opened exclusively while in use.
  win32::UniqueFile adapter(::CreateFileA(adapter_->DevicePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
  EXPECT_NE(INVALID_HANDLE_VALUE, adapter.get()) << "the adapter is still open";
}

// The frame saves a configured DTM and later loads the data set into a new
// DTM object: its parameters, its tag and its device type come back, so the
// loaded DTM passes the device check and goes online.
TEST_F(DeviceCheckTest, SavedDataSetLoadsIntoANewDtmThatGoesOnline) {
  BindDeviceNumber(0);
  Configure();
  ASSERT_EQ(S_OK, Write(hart_param::kPreambleCount, UI1(12).value()));
  ASSERT_EQ(S_OK, Write(hart_param::kRetryCount, UI1(7).value()));
  ASSERT_EQ(S_OK, Write(hart_param::kDtmTag, com::Variant(L"Boiler modem").value()));

  com::ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  {
    com::ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(S_OK, object.as(persist));
    CLSID saved = {};
    EXPECT_EQ(S_OK, persist->GetClassID(&saved));
    EXPECT_TRUE(IsEqualCLSID(CLSID_HART_CommDTM, saved));
    ASSERT_EQ(S_OK, persist->Save(stream.get(), TRUE));
  }
  ReleaseDtm();

  Create();
  LARGE_INTEGER start = {};
  ASSERT_EQ(S_OK, stream->Seek(start, STREAM_SEEK_SET, nullptr));
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  ASSERT_EQ(S_OK, persist->Load(stream.get()));
  EXPECT_EQ(kDtmLoadedDataSet, State());
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetEnvironment(tag.get(), frameObject.get(), &ok));
  ASSERT_EQ(VARIANT_TRUE, ok);
  EXPECT_EQ(kDtmInitialised, State());
  com::Bstr user(UserInformation(L"maintenance").c_str());
  ASSERT_EQ(S_OK, dtm->Config(user.get(), &ok));
  ASSERT_EQ(kDtmConfigured, State());

  com::Variant preambles = Read(hart_param::kPreambleCount);
  ASSERT_EQ(VT_UI1, V_VT(preambles.get()));
  EXPECT_EQ(12, V_UI1(preambles.get()));
  com::Variant retries = Read(hart_param::kRetryCount);
  ASSERT_EQ(VT_UI1, V_VT(retries.get()));
  EXPECT_EQ(7, V_UI1(retries.get()));
  // A loaded data set keeps the tag the user gave it.
  com::Variant dtmTag = Read(hart_param::kDtmTag);
  ASSERT_EQ(VT_BSTR, V_VT(dtmTag.get()));
  EXPECT_STREQ(L"Boiler modem", V_BSTR(dtmTag.get()));

  ok = VARIANT_FALSE;
  EXPECT_EQ(S_OK, SetCommunication(&ok));
  EXPECT_EQ(VARIANT_TRUE, ok);
  EXPECT_TRUE(PumpUntil([&] { return State() == kDtmOnline; }));
  EXPECT_TRUE(frame->callsTo("OnErrorMessage").empty());
}

TEST_F(DeviceCheckTest, DeviceNumberNotConfiguredReportsMessage161) {
  BindDeviceNumber(1);  // parameter 1000 names device number 0
  Configure();
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, SetCommunication(&ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  EXPECT_EQ(kDtmConfigured, State());
  auto texts = Messages(1);
  ASSERT_EQ(1u, texts.size());
  EXPECT_EQ(kWrongType, texts[0]);
}

// Message 161 comes from the translation document, else the string table.
// It reaches the frame with every character, also those the ANSI code page
// has no place for.
TEST_F(DeviceCheckTest, Message161TakesTheTranslatedText) {
  UseTranslation(u8"<UserMessages><Message resId=\"161\"><locale code=\"en\">Wrong adapter "
                 u8"(translated) \u0410\u0434\u0430\u043f\u0442\u0435\u0440 \u03a9</locale></Message></UserMessages>");
  Configure();
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, SetCommunication(&ok));
  auto texts = Messages(1);
  ASSERT_EQ(1u, texts.size());
  EXPECT_EQ(L"Wrong adapter (translated) \u0410\u0434\u0430\u043f\u0442\u0435\u0440 \u03a9", texts[0]);
}

TEST_F(DeviceCheckTest, Message161FallsBackToTheStringTable) {
  UseTranslation("<UserMessages><Message resId=\"130\"><locale code=\"en\">other</locale>"
                 "</Message></UserMessages>");
  Configure();
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, SetCommunication(&ok));
  auto texts = Messages(1);
  ASSERT_EQ(1u, texts.size());
  EXPECT_EQ(kWrongType, texts[0]);
}

TEST_F(DeviceCheckTest, LibraryAbsentOrIncompleteReportsItsMessageAndStaysConfigured) {
  struct Case {
    const wchar_t* library;  // copied to modemapi.dll beside the DTM (null: none)
    const wchar_t* message;
  };
  const Case cases[] = {
      {nullptr, L"modemapi.dll could not be loaded."},
      {L"modemapi_eleven.dll",  // lacks vtHART_NotifyPnP
       L"Error while loading the modemapi.dll. Not all function pointers could be loaded."},
  };
  BindDeviceNumber(0);
  Configure();
  size_t reported = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library ? c.library : L"no library");
    UseLibrary(c.library);
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(S_FALSE, SetCommunication(&ok));
    EXPECT_EQ(VARIANT_FALSE, ok);
    EXPECT_EQ(kDtmConfigured, State());
    auto texts = Messages(++reported);
    ASSERT_EQ(reported, texts.size());
    EXPECT_EQ(c.message, texts.back());
  }
  // The incomplete library was not kept loaded.
  EXPECT_EQ(nullptr, ::GetModuleHandleW(L"modemapi.dll"));
  // With the whole library back the same DTM goes online.
  UseLibrary(L"modemapi_real.dll");
  VARIANT_BOOL ok = VARIANT_FALSE;
  EXPECT_EQ(S_OK, SetCommunication(&ok));
  EXPECT_TRUE(PumpUntil([&] { return State() == kDtmOnline; }));
}

// A configuration that cannot be read is reported as that, not as a device
// of the wrong type.
TEST_F(DeviceCheckTest, AConfigurationThatCannotBeReadIsReportedAsSuch) {
  UseLibrary(L"modemapi_double.dll");
  // The DTM binds the same module from beside itself; the test scripts it.
  HMODULE library = ::LoadLibraryW((ProgramFolder() + L"modemapi.dll").c_str());
  ASSERT_NE(nullptr, library);
  using Script = void (*)(const char*, uint8_t);
  auto script = reinterpret_cast<Script>(reinterpret_cast<void (*)()>(::GetProcAddress(library, "ModemDoubleScript")));
  ASSERT_NE(nullptr, script);
  script("GetDriverConfiguration", 3);  // an I/O error
  Configure();
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, SetCommunication(&ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  EXPECT_EQ(kDtmConfigured, State());
  auto texts = Messages(1);
  ASSERT_EQ(1u, texts.size());
  EXPECT_EQ(L"FSK Mavix driver error.", texts[0]);
  ::FreeLibrary(library);
}

TEST_F(DeviceCheckTest, TranslationDocumentHoldsEveryMessageTheDtmShows) {
  Create();
  com::ComPtr<IevFdtTranslation> translation;
  ASSERT_EQ(S_OK, object.as(translation));
  auto translated = [&](const std::wstring& key) {
    std::wstring path = L"localization/UserMessages/Message[@resId=\"" + key + L"\"]";
    com::Bstr text;
    VARIANT_BOOL found = VARIANT_FALSE;
    EXPECT_EQ(S_OK, translation->GetLocalizedText(com::Bstr(path.c_str()).get(), text.put(), &found));
    return found ? std::wstring(text.c_str() ? text.c_str() : L"") : std::wstring(L"<missing>");
  };
  // Every message of the table the string table is held against, message
  // 161, and the two the channel also asks for by resource name.
  for (UINT id = 100; id < 200; ++id) {
    const wchar_t* text = hartdtm::BuiltInMessageText(id);
    if (!text) continue;
    SCOPED_TRACE(id);
    EXPECT_EQ(text, translated(std::to_wstring(id)));
  }
  EXPECT_EQ(kWrongType, translated(L"161"));
  for (UINT id : {132u, 133u}) EXPECT_EQ(hartdtm::BuiltInMessageText(id), translated(hartdtm::BuiltInMessageName(id)));
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
