// What a frame application finds on the DTM object, its channel and the
// channel collection, written only from the interfaces' identifier texts
// (the public FDT ones, the toolkit's and the project's own): every
// interface answered with the one identity, interfaces of the controls, the
// frame and the channel refused where they do not belong, and every dual
// interface reached late-bound, by name through IDispatch.
//
// The program's prefix has the DTM registered and nothing else: no FDT
// type library describes the interfaces, so IDispatch works only from what
// the DTM module carries itself.
#include <string>
#include <vector>

#include "dtm/dtm_ids.h"
#include "hart_dtm_fixture.h"
#include "toolkit/dtm/dtm_states.h"

namespace hartdtmtest {
namespace {

struct Named {
  const char* name;
  const wchar_t* iid;
};

// Interfaces of the DTM object. The last group is C++ only: answered in the
// object's own apartment, never marshalled.
const Named kDtmAnswers[] = {
    {"IUnknown", L"{00000000-0000-0000-C000-000000000046}"},
    {"IDispatch", L"{00020400-0000-0000-C000-000000000046}"},
    {"IDtm", L"{036D1481-387B-11D4-86E1-00E0987270B9}"},
    {"IDtm2", L"{51E1F44B-D6A1-423D-B11F-AD38EDE78047}"},
    {"IDtmInformation", L"{036D147F-387B-11D4-86E1-00E0987270B9}"},
    {"IDtmInformation2", L"{2BB6E0E7-318D-4A05-8AC4-9183D12F8571}"},
    {"IDtmDiagnosis", L"{036D1476-387B-11D4-86E1-00E0987270B9}"},
    {"IDtmParameter", L"{036D147D-387B-11D4-86E1-00E0987270B9}"},
    {"IDtmImportExport", L"{2B9DA7EB-C33A-47AE-B87A-5A9CF59488BF}"},
    {"IDtmDocumentation", L"{036D147C-387B-11D4-86E1-00E0987270B9}"},
    {"IDtmApplication", L"{036D147E-387B-11D4-86E1-00E0987270B9}"},
    {"IDtmActiveXInformation", L"{036D1480-387B-11D4-86E1-00E0987270B9}"},
    {"IDtmOnlineDiagnosis", L"{AD2E8362-0E9A-4F23-8074-53433C472299}"},
    {"IDtmOnlineParameter", L"{C63B9D84-0DAB-42D0-80E0-7B3A6DFC676D}"},
    {"IDtmSingleInstanceDataAccess", L"{84F9A19A-7E38-40B5-A311-60B14F30C258}"},
    {"IDtmSingleDeviceDataAccess", L"{D67240E4-664B-44B0-B692-A1D1ED3FB8F8}"},
    {"IDtmChannel", L"{036D1489-387B-11D4-86E1-00E0987270B9}"},
    {"IFdtEvents", L"{036D1478-387B-11D4-86E1-00E0987270B9}"},
    {"IPersistStreamInit", L"{7FD52380-4E07-101B-AE2D-08002B2EC713}"},
    {"IPersist", L"{0000010C-0000-0000-C000-000000000046}"},
    {"IPersistPropertyBag", L"{37D84F60-42CB-11CE-8135-00AA004BB851}"},
    {"IHART_CommDTM", L"{D8A90B6B-05C4-42D6-B8BB-666BDCEE5388}"},
    {"IevFdtBaseDTM", L"{C7CE434A-B35F-43F3-81DC-09982CAA7D01}"},
    {"IevFdtDtmEvents", L"{99A15750-EED8-4B97-B8CE-AC4E2DD0CF3B}"},
    {"IevFdtStorageState", L"{EE506FD1-EE5F-435A-8DC9-0080F56DB1E7}"},
    {"IevFdtAuditTrail", L"{A8ECFA50-91E0-11D8-9180-00105AD83182}"},
    {"IevFdtExtDocument", L"{2D40B384-E622-4C40-B199-1A3D4BCD04D9}"},
    {"IevSdaHandler", L"{F5854484-E139-40E8-9DF1-803AC6D38793}"},
    {"IevFdtParameterHandler4", L"{51123DA0-8AD6-452E-85D9-E7A126AB808E}"},
    {"IevFdtParameterInfo", L"{CE6184E6-3487-4976-8772-6CA65AEC8AE7}"},
    {"IevFdtParameterValidation", L"{FB98A7A0-9CCD-11D8-918F-00105AD83182}"},
    {"IevFdtParametersImportExport", L"{0BE75006-1DE3-44EE-88C7-4A27B41289E4}"},
    {"IevFdtChannelContainer4", L"{9E107180-DA71-4C93-B1BC-4691B0A31DB5}"},
    {"IevFdtChannelManagement", L"{F2CF8A70-06C8-400F-A98C-C98400672D76}"},
    {"IevFdtChannelPersist", L"{B2A9882F-93AD-4392-8C2F-29D08B1AB5CB}"},
    {"IevFdtActiveXContainer", L"{20AAD61D-57F0-410E-9935-796DA968F618}"},
    {"IevFdtActiveXManagement", L"{0599B4C8-561B-4D6A-9F95-A4FD233E0254}"},
    {"IevFdtTranslation", L"{7A2E43D0-9033-11D7-9094-00105AD83182}"},
    {"IevFdtDtmTranslation", L"{67C35690-A8A1-11D7-90AE-00105AD83182}"},
    {"IevFdtTranslationEvent", L"{BFB27AC0-976A-11D7-909B-00105AD83182}"},
    {"IevFDT_AboutInformations", L"{7EB5B581-1922-4473-AE79-6BA93AE04F38}"},
    // C++ only.
    {"IevFdtParameterStore", L"{12EFBC09-4CFA-492A-B8E5-C4AD5C752A9C}"},
    {"IevFdtOnlineTransfer", L"{4D1C7A28-93B5-4E61-A20F-7C3E5814D96B}"},
    {"IevFdtOpenControls", L"{FC7187BA-B461-4881-A925-08C425CE3BDB}"},
    {"IevFdtChannelRelease", L"{8F2B6D14-7C3E-4A91-B50D-2E61C93A7458}"},
};

// Interfaces of others: the controls, the frame, the device DTMs, the channel.
const Named kDtmRefuses[] = {
    {"IDtmActiveXControl", L"{036D1486-387B-11D4-86E1-00E0987270B9}"},
    {"IevFdtActiveX4", L"{995F7533-D4DD-4F75-BBC0-D0E25018F440}"},
    {"IevFdtActiveXInfo", L"{1AADB901-C6A7-11D7-90C7-00105AD83182}"},
    {"IFrameContainer", L"{036D1487-387B-11D4-86E1-00E0987270B9}"},
    {"IFrameTopology", L"{036D147A-387B-11D4-86E1-00E0987270B9}"},
    {"IFrameDtmEvents", L"{F15BA42E-BBF1-42ED-8009-7F664A002CFB}"},
    {"IFrameActiveX", L"{5959F485-2C51-4A55-80A7-DD3C45D8BAF2}"},
    {"IChildCommunicationEvents", L"{036D1485-387B-11D4-86E1-00E0987270B9}"},
    {"IFdtCommunication", L"{039ECFC4-9CA8-44E6-944D-B37F288A34D8}"},
    {"IFdtChannel", L"{036D1488-387B-11D4-86E1-00E0987270B9}"},
    {"IHART_Channel", L"{3A99B865-B72F-434D-9013-7396298E6C8F}"},
    {"IevFdtBaseChannel", L"{D9FD3267-415E-4C00-9952-50109A3AC79A}"},
};

const Named kChannelAnswers[] = {
    {"IUnknown", L"{00000000-0000-0000-C000-000000000046}"},
    {"IDispatch", L"{00020400-0000-0000-C000-000000000046}"},
    {"IFdtCommunication", L"{039ECFC4-9CA8-44E6-944D-B37F288A34D8}"},
    {"IFdtChannel", L"{036D1488-387B-11D4-86E1-00E0987270B9}"},
    {"IFdtChannelSubTopology", L"{036D1484-387B-11D4-86E1-00E0987270B9}"},
    {"IFdtChannelSubTopology2", L"{C974B8F1-54B5-4300-9FE1-BC917EE2F680}"},
    {"IFdtChannelScan", L"{AFA95360-676F-4882-A6F8-3284BE5DBFEF}"},
    {"IFdtFunctionBlockData", L"{036D1475-387B-11D4-86E1-00E0987270B9}"},
    {"IPersistStreamInit", L"{7FD52380-4E07-101B-AE2D-08002B2EC713}"},
    {"IPersist", L"{0000010C-0000-0000-C000-000000000046}"},
    {"IHART_Channel", L"{3A99B865-B72F-434D-9013-7396298E6C8F}"},
    {"IevFdtBaseChannel", L"{D9FD3267-415E-4C00-9952-50109A3AC79A}"},
    {"IevFdtParameterHandler4", L"{51123DA0-8AD6-452E-85D9-E7A126AB808E}"},
    {"IevFdtParameterInfo", L"{CE6184E6-3487-4976-8772-6CA65AEC8AE7}"},
    {"IevFdtParameterValidation", L"{FB98A7A0-9CCD-11D8-918F-00105AD83182}"},
    {"IevFdtParametersImportExport", L"{0BE75006-1DE3-44EE-88C7-4A27B41289E4}"},
    {"IevFdtTranslation", L"{7A2E43D0-9033-11D7-9094-00105AD83182}"},
    {"IevFdtTranslationEvent", L"{BFB27AC0-976A-11D7-909B-00105AD83182}"},
    // C++ only.
    {"IevFdtParameterStore", L"{12EFBC09-4CFA-492A-B8E5-C4AD5C752A9C}"},
    {"IevFdtChannelText", L"{03F6AE33-9760-46A8-923B-E349701B8C0A}"},
    {"IevFdtOwnedChannel", L"{37B9C5BF-8966-48EF-8CBF-2F8B56D53C45}"},
};

const Named kChannelRefuses[] = {
    {"IDtm", L"{036D1481-387B-11D4-86E1-00E0987270B9}"},
    {"IDtmChannel", L"{036D1489-387B-11D4-86E1-00E0987270B9}"},
    {"IDtmParameter", L"{036D147D-387B-11D4-86E1-00E0987270B9}"},
    {"IevFdtBaseDTM", L"{C7CE434A-B35F-43F3-81DC-09982CAA7D01}"},
    {"IDtmActiveXControl", L"{036D1486-387B-11D4-86E1-00E0987270B9}"},
    {"IFrameContainer", L"{036D1487-387B-11D4-86E1-00E0987270B9}"},
    {"IChildCommunicationEvents", L"{036D1485-387B-11D4-86E1-00E0987270B9}"},
};

const Named kCollectionAnswers[] = {
    {"IDispatch", L"{00020400-0000-0000-C000-000000000046}"},
    {"IFdtChannelCollection", L"{E4F31A10-45BF-11D4-BBB3-0060080993FF}"},
};

const Named kCollectionRefuses[] = {
    {"IDtm", L"{036D1481-387B-11D4-86E1-00E0987270B9}"},
    {"IDtmChannel", L"{036D1489-387B-11D4-86E1-00E0987270B9}"},
    {"IFdtChannel", L"{036D1488-387B-11D4-86E1-00E0987270B9}"},
};

// The identifier text of an interface the tables above name.
const wchar_t* IidText(const char* name) {
  for (const Named& entry : kDtmAnswers)
    if (std::string(entry.name) == name) return entry.iid;
  for (const Named& entry : kChannelAnswers)
    if (std::string(entry.name) == name) return entry.iid;
  for (const Named& entry : kCollectionAnswers)
    if (std::string(entry.name) == name) return entry.iid;
  ADD_FAILURE() << "no identifier for " << name;
  return L"";
}

com::ComPtr<IUnknown> Identity(IUnknown* object) {
  com::ComPtr<IUnknown> identity;
  if (object) object->QueryInterface(IID_IUnknown, identity.putVoid());
  return identity;
}

void ExpectAnswers(IUnknown* object, const Named* begin, const Named* end) {
  const com::ComPtr<IUnknown> identity = Identity(object);
  for (const Named* i = begin; i != end; ++i) {
    SCOPED_TRACE(i->name);
    com::ComPtr<IUnknown> part;
    ASSERT_EQ(S_OK, object->QueryInterface(Iid(i->iid), part.putVoid()));
    ASSERT_TRUE(part);
    EXPECT_EQ(identity.get(), Identity(part.get()).get()) << "another identity";
  }
}

void ExpectRefuses(IUnknown* object, const Named* begin, const Named* end) {
  for (const Named* i = begin; i != end; ++i) {
    SCOPED_TRACE(i->name);
    com::ComPtr<IUnknown> part;
    EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(Iid(i->iid), part.putVoid()));
    EXPECT_FALSE(part);
  }
}

// A late-bound call: the interface asked for by its identifier text, the
// member found by its name, Invoke with the arguments in declaration order.
struct LateBound {
  HRESULT hr = E_FAIL;
  HRESULT raised = S_OK;  // the member's own failure code (DISP_E_EXCEPTION)
  DISPID id = DISPID_UNKNOWN;
  com::Variant result;
};

LateBound CallByName(IUnknown* object, const wchar_t* iid, const wchar_t* member, WORD flags,
                     std::vector<com::Variant> arguments = {}) {
  LateBound call;
  com::ComPtr<IDispatch> dispatch;
  call.hr = object->QueryInterface(Iid(iid), dispatch.putVoid());
  if (FAILED(call.hr)) return call;
  UINT count = 0;
  call.hr = dispatch->GetTypeInfoCount(&count);
  if (FAILED(call.hr) || count != 1) return call;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  call.hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &call.id);
  if (FAILED(call.hr)) return call;
  std::vector<VARIANT> reversed;
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) reversed.push_back(*it->get());
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                       static_cast<UINT>(reversed.size()), 0};
  EXCEPINFO exception = {};
  UINT argumentError = 0;
  call.hr = dispatch->Invoke(call.id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                             call.result.put(), &exception, &argumentError);
  if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
  call.raised = exception.scode;
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrHelpFile);
  return call;
}

com::Variant Text(const wchar_t* text) { return com::Variant(text); }

// One member of each dual interface, with harmless arguments, the dispatch
// id the member must have and the type of what it answers (VT_EMPTY: no
// result), or the failure it raises for those arguments.
struct Member {
  const char* interfaceName;
  const wchar_t* name;
  DISPID id;
  WORD flags;
  std::vector<com::Variant> arguments;
  VARTYPE answer;
  HRESULT raises = S_OK;
};

class FrameInterfacesTest : public HartDtmFixture {
 protected:
  // The DTM alone, without the FDT stand-in library the other DTM tests
  // register for the frame double.
  static void SetUpTestSuite() { ASSERT_EQ(0u, RunRegsvr32(L"/s")); }

  // The HART channel as the frame finds it: the collection of IDtmChannel,
  // its first item.
  void FindChannel() {
    com::ComPtr<IDtmChannel> channels;
    ASSERT_EQ(S_OK, object.as(channels));
    ASSERT_EQ(S_OK, channels->GetChannelCollection(collection.put()));
    ASSERT_TRUE(collection);
    com::Variant first(LONG{1});
    com::ComPtr<IDispatch> item;
    ASSERT_EQ(S_OK, collection->get_Item(first.get(), item.put()));
    ASSERT_TRUE(item);
    channel.attach(item.detach());
  }

  void ExpectMembers(IUnknown* target, const std::vector<Member>& members) {
    for (const Member& m : members) {
      SCOPED_TRACE(testing::Message() << std::wstring(m.name).c_str() << " of " << m.interfaceName);
      LateBound call = CallByName(target, IidText(m.interfaceName), m.name, m.flags, m.arguments);
      EXPECT_EQ(m.id, call.id);
      if (SUCCEEDED(m.raises)) {
        EXPECT_TRUE(SUCCEEDED(call.hr)) << std::hex << call.hr << " raised " << call.raised;
        EXPECT_EQ(m.answer, call.result.type());
      } else {
        EXPECT_EQ(DISP_E_EXCEPTION, call.hr);
        EXPECT_EQ(m.raises, call.raised);
      }
    }
  }

  com::ComPtr<IFdtChannelCollection> collection;
  com::ComPtr<IUnknown> channel;
};

TEST_F(FrameInterfacesTest, DtmObjectAnswersEveryInterfaceOfItsOwnAndNoneOfOthers) {
  Configure();
  ExpectAnswers(object.get(), std::begin(kDtmAnswers), std::end(kDtmAnswers));
  ExpectRefuses(object.get(), std::begin(kDtmRefuses), std::end(kDtmRefuses));
}

TEST_F(FrameInterfacesTest, ChannelAndCollectionAnswerTheirInterfacesAndNoneOfTheDtm) {
  Configure();
  FindChannel();
  ExpectAnswers(channel.get(), std::begin(kChannelAnswers), std::end(kChannelAnswers));
  ExpectRefuses(channel.get(), std::begin(kChannelRefuses), std::end(kChannelRefuses));
  ExpectAnswers(collection.get(), std::begin(kCollectionAnswers), std::end(kCollectionAnswers));
  ExpectRefuses(collection.get(), std::begin(kCollectionRefuses), std::end(kCollectionRefuses));
}

TEST_F(FrameInterfacesTest, EveryDualInterfaceOfTheDtmIsReachedByName) {
  Configure();
  com::ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  const std::wstring call3 = testsupport::FunctionCall(hart_function::kChannelConfiguration);
  const WORD method = DISPATCH_METHOD;
  const std::vector<Member> members = {
      {"IDtm", L"GetFunctions", 10, method, {Text(L"")}, VT_BSTR},
      {"IDtm2", L"SetSystemGuiLabel", 2, method,
       {Text(L"Modem 1")}, VT_BOOL},
      {"IDtmInformation", L"GetInformation", 1, method, {}, VT_BSTR},
      {"IDtmInformation2", L"GetDeviceTypeIdent", 1, method,
       {Text(L""), Text(L"")}, VT_BSTR},
      {"IDtmDiagnosis", L"Verify", 1, method, {}, VT_BOOL},
      {"IDtmParameter", L"GetParameters", 1, method, {Text(L"")}, VT_BSTR},
      {"IDtmImportExport", L"Export", 2, method, {com::Variant(static_cast<IUnknown*>(stream.get()))},
       VT_BOOL},
      {"IDtmDocumentation", L"GetDocumentation", 1, method,
       {Text(call3.c_str())}, VT_BSTR},
      {"IDtmApplication", L"ExitApplication", 2, method, {Text(L"app")},
       VT_BOOL},
      {"IDtmActiveXInformation", L"GetActiveXProgId", 2, method,
       {Text(call3.c_str())}, VT_BSTR},
      {"IDtmOnlineDiagnosis", L"GetDeviceStatus", 2, method, {}, VT_BSTR},
      {"IDtmOnlineParameter", L"StartOnlineAction", 1, method,
       {Text(L"cancel-1")}, VT_BOOL},
      {"IDtmSingleInstanceDataAccess", L"GetItemList", 1, method, {}, VT_BSTR},
      {"IDtmSingleDeviceDataAccess", L"CancelRequest", 1, method,
       {Text(L"request-1")}, VT_BOOL},
      {"IDtmChannel", L"GetChannelCount", 4, method, {}, VT_UI4},
      {"IFdtEvents", L"OnDataSetUnlocked", 4, method,
       {Text(L"other"), Text(L"user")}, VT_BOOL},
      {"IHART_CommDTM", L"ClosingSetDtmAddrActXNotification", 2, method,
       {}, VT_EMPTY},
      {"IevFdtBaseDTM", L"GetDtmState", 2, method, {}, VT_I4},
      {"IevFdtDtmEvents", L"OnDtmEvent", 1, method,
       {com::Variant(LONG{4}), com::Variant()}, VT_EMPTY},
      {"IevFdtStorageState", L"GetModified", 2, method, {}, VT_I4},
      {"IevFdtAuditTrail", L"SetAuditTrailActive", 1, method,
       {com::Variant(false)}, VT_BOOL},
      {"IevFdtExtDocument", L"GetDocuments", 1, method, {Text(L"")}, VT_BSTR},
      {"IevSdaHandler", L"CancelRequest", 4, method,
       {Text(L"request-2")}, VT_EMPTY},
      {"IevFdtParameterHandler4", L"GetParameterValue", 7, method,
       {com::Variant(LONG{hart_param::kDtmTag})}, VT_BSTR},
      {"IevFdtParameterInfo", L"GetCount", 1, method, {}, VT_UI4},
      {"IevFdtParameterValidation", L"ValidateValue", 2, method,
       {com::Variant(LONG{hart_param::kPreambleCount}), com::Variant(LONG{21})}, VT_BOOL},
      {"IevFdtParametersImportExport", L"Export", 1, method, {}, VT_BSTR},
      {"IevFdtChannelContainer4", L"GetChannelReferences", 10, method, {}, VT_BSTR},
      {"IevFdtChannelManagement", L"GetChannelCountValue", 4, method, {}, VT_UI4},
      {"IevFdtChannelPersist", L"SaveChannelCollection", 1, method, {}, VT_BSTR},
      {"IevFdtActiveXContainer", L"GetActiveXDescription", 1, method, {}, VT_BSTR},
      {"IevFdtActiveXManagement", L"ActiveXClosed", 2, method,
       {Text(L"no such control")}, VT_EMPTY},
      {"IevFdtTranslation", L"GetLanguageCount", 2, method, {}, VT_I4},
      {"IevFdtDtmTranslation", L"CanTranslate", 2, method, {}, VT_BOOL},
      {"IevFdtTranslationEvent", L"OnTranslate", 1, method,
       {com::Variant(LONG{1033})}, VT_EMPTY},
      {"IevFDT_AboutInformations", L"GetAboutFile", 1, method, {}, VT_BSTR},
  };
  ExpectMembers(object.get(), members);

  // Two answers looked at closer: they are the DTM's own.
  LateBound state = CallByName(object.get(), IidText("IevFdtBaseDTM"), L"GetDtmState", method);
  EXPECT_EQ(kDtmConfigured, V_I4(state.result.get()));
  LateBound tag =
      CallByName(object.get(), IidText("IDtmParameter"), L"GetParameters", method, {Text(L"")});
  ASSERT_EQ(VT_BSTR, tag.result.type());
  EXPECT_NE(std::wstring::npos, std::wstring(V_BSTR(tag.result.get())).find(L"fdt:tag=\"FSK Mavix\""))
      << V_BSTR(tag.result.get());
  // A name the interface does not have.
  EXPECT_EQ(DISP_E_UNKNOWNNAME,
            CallByName(object.get(), IidText("IDtm"), L"Item", method).hr);
}

TEST_F(FrameInterfacesTest, EveryDualInterfaceOfTheChannelAndTheCollectionIsReachedByName) {
  Configure();
  FindChannel();
  const WORD method = DISPATCH_METHOD;
  BSTR name = nullptr;
  com::Variant nameOut;
  V_VT(nameOut.get()) = VT_BYREF | VT_BSTR;
  V_BSTRREF(nameOut.get()) = &name;
  const std::vector<Member> members = {
      {"IFdtCommunication", L"GetSupportedProtocols", 5, method, {}, VT_BSTR},
      {"IFdtChannel", L"GetChannelPath", 1, method, {}, VT_BSTR},
      {"IFdtChannelSubTopology", L"ValidateRemoveChild", 4, method,
       {Text(L"nobody")}, VT_BOOL},
      // An empty text is no device list.
      {"IFdtChannelSubTopology2", L"SetChildrenAddresses", 1, method,
       {Text(L"")}, VT_EMPTY, E_FAIL},
      {"IFdtChannelScan", L"CancelAction", 2, method,
       {Text(L"no scan")}, VT_BOOL},
      {"IFdtFunctionBlockData", L"GetFailSafeData", 1, method, {Text(L"")},
       VT_BSTR},
      {"IHART_Channel", L"GetChannelName", 13, method,
       {std::move(nameOut)}, VT_EMPTY},
      {"IevFdtBaseChannel", L"GetChannelTag", 10, method, {}, VT_BSTR},
      {"IevFdtParameterHandler4", L"GetParameterValue", 7, method,
       {com::Variant(LONG{1009})}, VT_BSTR},
      {"IevFdtParameterInfo", L"GetCount", 1, method, {}, VT_UI4},
      {"IevFdtParameterValidation", L"ValidateValue", 2, method,
       {com::Variant(LONG{1009}), Text(L"tag")}, VT_BOOL},
      {"IevFdtParametersImportExport", L"Export", 1, method, {}, VT_BSTR},
      {"IevFdtTranslation", L"GetLanguageCount", 2, method, {}, VT_I4},
      {"IevFdtTranslationEvent", L"OnTranslate", 1, method,
       {com::Variant(LONG{1033})}, VT_EMPTY},
  };
  ExpectMembers(channel.get(), members);
  EXPECT_STREQ(L"FSK Mavix - HART Channel", name);
  ::SysFreeString(name);

  const wchar_t* collectionIid = IidText("IFdtChannelCollection");
  LateBound count = CallByName(collection.get(), collectionIid, L"Count", DISPATCH_PROPERTYGET);
  EXPECT_EQ(S_OK, count.hr);
  EXPECT_EQ(2, count.id);
  ASSERT_EQ(VT_I4, count.result.type());
  EXPECT_EQ(1, V_I4(count.result.get()));
  LateBound item = CallByName(collection.get(), collectionIid, L"Item", DISPATCH_PROPERTYGET,
                              {com::Variant(LONG{1})});
  EXPECT_EQ(S_OK, item.hr);
  EXPECT_EQ(1, item.id);
  ASSERT_EQ(VT_DISPATCH, item.result.type());
  EXPECT_EQ(Identity(channel.get()).get(), Identity(V_DISPATCH(item.result.get())).get());
}

}  // namespace
}  // namespace hartdtmtest
