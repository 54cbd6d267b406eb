// Texts come from the DTM's translation document; where it lacks an entry
// each lookup falls back: user messages by id, then by resource name, then
// to the module's string table; toolkit messages to the built-in texts;
// parameter names to the declared ones. The channel's own lookups run with
// the DTM object as their owner.
#include <atomic>

#include "channel/channel_texts.h"
#include "outside.h"
#include "dtm/dtm_ids.h"
#include "fdtidl/ToolkitHooks.h"
#include "hart_dtm_fixture.h"
#include "toolkit/xml/translation.h"
#include "toolkit/xml/user_messages.h"

namespace hartdtmtest {
namespace {

// Knows message 130 by id, message 132 only by its resource name, toolkit
// message 2002 and the name of parameter 1000; lacks everything else.
const char kPartialTranslation[] =
    "<UserMessages>"
    "<Message resId=\"130\"><locale code=\"en\">Library missing (translated)</locale></Message>"
    "<Message resId=\"IDS_ErrorStartCallback\"><locale code=\"en\">Callback failed (by name)</locale></Message>"
    "</UserMessages>"
    "<ToolkitMessages>"
    "<Message id=\"2002\"><locale code=\"en\">Invalid parameters (translated)</locale></Message>"
    "</ToolkitMessages>"
    "<DTM><ParameterList>"
    "<Parameter parId=\"1000\"><Name><locale code=\"en\">Adapter number</locale></Name></Parameter>"
    "</ParameterList></DTM>";

class TextFallbackTest : public HartDtmFixture {
 protected:
  // The DTM's user message as the DTM and its channel look it up.
  std::wstring UserMessage(UINT id, const wchar_t* name) {
    com::Bstr text;
    HRESULT hr = CTranslationHelper::GetUserMessage(object.get(), static_cast<int>(id), name,
                                                    text.put(), ::GetModuleHandleW(hart_dtm::kModuleFileName));
    if (FAILED(hr)) return L"<failed>";
    return text.c_str() ? text.c_str() : L"<null>";
  }

  std::wstring ParameterName(ULONG id) {
    com::ComPtr<IevFdtParameterInfo> info;
    EXPECT_EQ(S_OK, object.as(info));
    com::Variant name;
    EXPECT_EQ(S_OK, info->GetParameterInfo(*com::ui4(id).get(), *I4(kParameterInfoText).get(), name.get()));
    if (V_VT(name.get()) != VT_BSTR) return L"<not text>";
    return V_BSTR(name.get()) ? V_BSTR(name.get()) : L"";
  }
};

TEST_F(TextFallbackTest, UserMessagesByIdThenByNameThenFromTheStringTable) {
  UseTranslation(kPartialTranslation);
  Create();
  ASSERT_NE(nullptr, ::GetModuleHandleW(hart_dtm::kModuleFileName));
  EXPECT_EQ(L"Library missing (translated)", UserMessage(130, nullptr));
  EXPECT_EQ(L"Callback failed (by name)", UserMessage(132, L"IDS_ErrorStartCallback"));
  // Neither id nor name in the translation: the string table.
  EXPECT_EQ(hartdtm::BuiltInMessageText(133), UserMessage(133, L"IDS_ErrorSetRetryCount"));
  EXPECT_EQ(L"The configured is HART device is of the wrong type for this DTM device type.",
            UserMessage(161, nullptr));
}

TEST_F(TextFallbackTest, WithoutATranslationDocumentEveryMessageComesFromTheStringTable) {
  UseTranslation(nullptr);
  Create();
  // The string table and the table a reviewer holds it against agree.
  int compared = 0;
  for (UINT id = 100; id < 200; ++id) {
    const wchar_t* text = hartdtm::BuiltInMessageText(id);
    if (!text) continue;
    SCOPED_TRACE(id);
    EXPECT_EQ(text, UserMessage(id, hartdtm::BuiltInMessageName(id)));
    ++compared;
  }
  EXPECT_GE(compared, 26);
  EXPECT_EQ(L"The configured is HART device is of the wrong type for this DTM device type.",
            UserMessage(161, nullptr));
  EXPECT_EQ(L"<failed>", UserMessage(199, nullptr));  // in neither
}

TEST_F(TextFallbackTest, ToolkitMessagesFromTheTranslationElseBuiltIn) {
  UseTranslation(kPartialTranslation);
  Create();
  com::Bstr text;
  ASSERT_EQ(S_OK, GetToolkitMessage(object.get(), 2002, ToolkitMessageUser::Dtm, text.put()));
  EXPECT_STREQ(L"Invalid parameters (translated)", text.c_str());
  ASSERT_EQ(S_OK, GetToolkitMessage(object.get(), 2003, ToolkitMessageUser::Dtm, text.put()));
  EXPECT_STREQ(L"Error occured during lock of DTM data set", text.c_str());
  // Neither translated nor built in: a null text, still S_OK.
  ASSERT_EQ(S_OK, GetToolkitMessage(object.get(), 5001, ToolkitMessageUser::Dtm, text.put()));
  EXPECT_EQ(nullptr, text.get());
}

TEST_F(TextFallbackTest, ParameterNamesFromTheTranslationElseTheDeclaredOnes) {
  UseTranslation(kPartialTranslation);
  Create();
  EXPECT_EQ(L"Adapter number", ParameterName(hart_param::kDeviceNumber));
  EXPECT_EQ(L"Primary Master", ParameterName(hart_param::kPrimaryMaster));
  EXPECT_EQ(L"DTM Tag", ParameterName(hart_param::kDtmTag));
}

// The device-code component: knows manufacturer 38 and its device type 0x26 0x05.
class DeviceCodesDouble : public IDeviceCodes, public IDeviceCodeTable, public IClassFactory {
 public:
  // IUnknown (one object serves as its own class factory; it lives on the stack)
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IDeviceCodes)
      *out = static_cast<IDeviceCodes*>(this);
    else if (iid == IID_IDeviceCodeTable)
      *out = static_cast<IDeviceCodeTable*>(this);
    else if (iid == IID_IClassFactory)
      *out = static_cast<IClassFactory*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }
  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  // IDeviceCodes
  STDMETHODIMP Reserved1() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved2() override { return E_NOTIMPL; }
  STDMETHODIMP GetManufacturerName(long code, BSTR* name) override {
    if (code != 38) return E_FAIL;
    *name = ::SysAllocString(L"Maker 38");
    return S_OK;
  }
  // IDeviceCodeTable
  STDMETHODIMP GetTableText(BSTR table, long key, long flags, BSTR* text, VARIANT_BOOL* found) override {
    *found = VARIANT_FALSE;
    if (std::wstring(table ? table : L"") != L"Devices" || flags != 1 || key != 38 * 256 + 5) return S_OK;
    *text = ::SysAllocString(L"Type 5 of maker 38");
    *found = VARIANT_TRUE;
    return S_OK;
  }
  // IClassFactory
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    return outer ? CLASS_E_NOAGGREGATION : QueryInterface(iid, out);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

  std::atomic<ULONG> references{1};
};

struct DeviceCodeTexts {
  HRESULT result;
  std::wstring manufacturer, deviceType;
};

DeviceCodeTexts DeviceCodes(BYTE manufacturer, BYTE deviceType) {
  com::Bstr maker, type;
  DeviceCodeTexts texts{hartdtm::BuildDeviceCodes(manufacturer, deviceType, maker.put(), type.put()), L"", L""};
  texts.manufacturer = maker.get() ? maker.c_str() : L"<null>";
  texts.deviceType = type.get() ? type.c_str() : L"<null>";
  return texts;
}

TEST_F(TextFallbackTest, ChannelMessagesThroughTheOwnersTranslationElseItsOwnTexts) {
  UseTranslation(kPartialTranslation);
  Create();
  auto user = [&](UINT id, const wchar_t* name) {
    com::Bstr text;
    const HRESULT hr = hartdtm::ChannelUserMessage(object.get(), id, name, text.put());
    return FAILED(hr) ? std::wstring(L"<failed>") : std::wstring(text.c_str());
  };
  // The start failures pass their resource names: known by name, or the
  // message's own text (never the name itself).
  EXPECT_EQ(L"Library missing (translated)", user(130, nullptr));
  EXPECT_EQ(L"Callback failed (by name)", user(132, hartdtm::BuiltInMessageName(132)));
  EXPECT_EQ(L"Error while setting the FSK Mavix device retry count.",
            user(133, hartdtm::BuiltInMessageName(133)));
  EXPECT_EQ(L"<failed>", user(199, nullptr));
  com::Bstr text;
  EXPECT_EQ(E_INVALIDARG, hartdtm::ChannelUserMessage(object.get(), 0, L"", text.put()));
  EXPECT_EQ(E_INVALIDARG, hartdtm::ChannelUserMessage(object.get(), 130, nullptr, nullptr));

  auto toolkit = [&](ULONG id) {
    com::Bstr found;
    EXPECT_EQ(S_OK, hartdtm::ChannelToolkitMessage(object.get(), id, found.put()));
    return found.get() ? std::wstring(found.c_str()) : std::wstring(L"<null>");
  };
  EXPECT_EQ(L"Invalid parameters (translated)", toolkit(2002));
  EXPECT_EQ(L"An error occurred during IFdtChannel::SetChannelParameters", toolkit(5001));
  // The DTM's own built-in texts are not the channel's.
  EXPECT_EQ(L"<null>", toolkit(2003));
  EXPECT_EQ(E_POINTER, hartdtm::ChannelToolkitMessage(object.get(), 5001, nullptr));

  // Without an owner only the channel's own texts remain.
  ASSERT_EQ(S_OK, hartdtm::ChannelToolkitMessage(nullptr, 5001, text.put()));
  EXPECT_STREQ(L"An error occurred during IFdtChannel::SetChannelParameters", text.c_str());
  ASSERT_EQ(S_OK, hartdtm::ChannelUserMessage(nullptr, 132, L"IDS_ErrorStartCallback", text.put()));
  EXPECT_STREQ(L"Error while starting the FSK Mavix device callback.", text.c_str());
}

TEST_F(TextFallbackTest, DeviceCodesFromTheCodeComponentElseAsCodes) {
  // No component in the prefix: both texts are codes.
  DeviceCodeTexts texts = DeviceCodes(38, 5);
  EXPECT_EQ(S_OK, texts.result);
  EXPECT_EQ(L"code = 38", texts.manufacturer);
  EXPECT_EQ(L"code = 0x2605", texts.deviceType);
  texts = DeviceCodes(0xFE, 0xAB);
  EXPECT_EQ(L"code = 254", texts.manufacturer);
  EXPECT_EQ(L"code = 0xFEAB", texts.deviceType);

  DeviceCodesDouble component;
  DWORD cookie = 0;
  ASSERT_EQ(S_OK, ::CoRegisterClassObject(CLSID_DeviceCodes, static_cast<IClassFactory*>(&component),
                                          CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie));
  texts = DeviceCodes(38, 5);
  EXPECT_EQ(S_OK, texts.result);
  EXPECT_EQ(L"Maker 38", texts.manufacturer);
  EXPECT_EQ(L"Type 5 of maker 38", texts.deviceType);
  // Each name the component lacks falls back on its own.
  texts = DeviceCodes(38, 6);
  EXPECT_EQ(L"Maker 38", texts.manufacturer);
  EXPECT_EQ(L"code = 0x2606", texts.deviceType);
  texts = DeviceCodes(17, 5);
  EXPECT_EQ(L"code = 17", texts.manufacturer);
  EXPECT_EQ(L"code = 0x1105", texts.deviceType);
  EXPECT_EQ(S_OK, ::CoRevokeClassObject(cookie));
  EXPECT_EQ(1u, component.references.load());

  com::Bstr text;
  EXPECT_EQ(E_INVALIDARG, hartdtm::BuildDeviceCodes(38, 5, text.put(), nullptr));
  EXPECT_EQ(E_INVALIDARG, hartdtm::BuildDeviceCodes(38, 5, nullptr, text.put()));
}

// The text lookup of the DTM's channel, as the toolkit's channel code asks it.
TEST_F(TextFallbackTest, ResourceStringKeysAboveTheIdRangeAreTextAddresses) {
  Configure();
  com::ComPtr<IevFdtChannelContainer4> container;
  ASSERT_EQ(S_OK, object.as(container));
  com::ComPtr<IUnknown> channel;
  ASSERT_EQ(S_OK, container->GetChannelByKey(com::Variant(L"FSK Mavix - HART Channel").value(), channel.put()));
  com::ComPtr<IevFdtChannelText> texts;
  ASSERT_EQ(S_OK, texts.queryFrom(channel.get()));

  static const char kNarrow[] = "8-bit text";
  com::Bstr text;
  ASSERT_EQ(S_OK, texts->LoadResourceString(reinterpret_cast<ULONG_PTR>(kNarrow), text.put()));
  EXPECT_STREQ(L"8-bit text", text.c_str());
  ASSERT_EQ(S_OK, texts->LoadResourceString(130, text.put()));
  EXPECT_STREQ(L"modemapi.dll could not be loaded.", text.c_str());
  EXPECT_EQ(E_FAIL, texts->LoadResourceString(0xFFFF, text.put()));
  EXPECT_EQ(nullptr, text.get());
  EXPECT_EQ(E_INVALIDARG, texts->LoadResourceString(0, text.put()));
  EXPECT_EQ(E_INVALIDARG, texts->LoadResourceString(130, nullptr));
}

}  // namespace
}  // namespace hartdtmtest
