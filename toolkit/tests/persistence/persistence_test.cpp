// Persistence of the test DTM's data set through COM: the state gates, the
// stream and property-bag round trips into a fresh object, the layout's
// bytes, untrusted streams (truncated, corrupted, naming a foreign class),
// channels whose own data fails, and the modified notices.
#include <string>
#include <vector>

#include "channel_test_support.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "dtm_test_support.h"
#include "memory_property_bag.h"
#include "test_dtm_ids.h"
#include "toolkit/dtm/dtm_states.h"

namespace dtmtest {
namespace {

namespace par = test_dtm_parameter;
namespace key = channel_test_key;

constexpr DWORD kVersionWord = 3072;

// A class the test process registers under a class id of its own: counts
// what is created of it.
// {D7E4A1C9-2B6F-4E35-9A08-5C31F7B2E64D}
const CLSID kForeignClass = {
    0xd7e4a1c9, 0x2b6f, 0x4e35, {0x9a, 0x08, 0x5c, 0x31, 0xf7, 0xb2, 0xe6, 0x4d}};
const wchar_t kForeignClassText[] = L"D7E4A1C9-2B6F-4E35-9A08-5C31F7B2E64D";

class CountingFactory : public com::ObjectRoot, public IClassFactory {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {com::entry<CountingFactory, IClassFactory>(),
                                              com::endOfMap()};
    return map;
  }
  STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** out) override {
    ++created;
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
  int created = 0;
};

class PersistenceTest : public DtmFixture {
 protected:
  // The data set's parameter value (VT_I4 when it converts).
  LONG Value(IUnknown* dtmObject, ULONG id) {
    com::ComPtr<IevFdtParameterHandler4> handler;
    EXPECT_EQ(S_OK, dtmObject->QueryInterface(__uuidof(IevFdtParameterHandler4), handler.putVoid()));
    com::Variant parameterId, value;
    V_VT(parameterId.get()) = VT_UI4;
    V_UI4(parameterId.get()) = id;
    EXPECT_EQ(S_OK, handler->GetParameterValue(*parameterId.get(), value.get()));
    EXPECT_EQ(S_OK, value.changeType(VT_I4));
    return V_I4(value.get());
  }
  void Write(ULONG id, LONG value) {
    com::ComPtr<IevFdtParameterHandler4> handler;
    ASSERT_EQ(S_OK, object.as(handler));
    com::Variant parameterId;
    V_VT(parameterId.get()) = VT_UI4;
    V_UI4(parameterId.get()) = id;
    ASSERT_EQ(S_OK, handler->WriteParameter(*parameterId.get(), *com::Variant(value).get()));
  }
  com::ComPtr<IevFdtBaseChannel> Channel(IUnknown* dtmObject) {
    return ChannelNamed(dtmObject, kTestChannelName);
  }

  // A configured data set with preamble count `preambles` and channel value
  // `channelValue`, saved through IPersistStreamInit.
  std::vector<BYTE> ConfiguredAndSaved(LONG preambles, ULONG channelValue) {
    Configure();
    Write(par::kPreambles, preambles);
    com::ComPtr<IevFdtBaseChannel> channel = Channel(object.get());
    EXPECT_TRUE(channel);
    if (channel) PostToChannel(channel.get(), key::kValue, channelValue);
    return Saved(object.get());
  }
  std::vector<BYTE> Saved(IUnknown* dtmObject) {
    com::ComPtr<IPersistStreamInit> persist;
    EXPECT_EQ(S_OK, dtmObject->QueryInterface(__uuidof(IPersistStreamInit), persist.putVoid()));
    com::ComPtr<IStream> stream = StreamOf({});
    EXPECT_EQ(S_OK, persist->Save(stream.get(), TRUE));
    return StreamBytes(stream.get());
  }

  com::ComPtr<IUnknown> Fresh() {
    com::ComPtr<IUnknown> fresh;
    EXPECT_EQ(S_OK, fresh.createInstance(CLSID_TestDtm, nullptr, CLSCTX_INPROC_SERVER));
    return fresh;
  }
  static LONG StateOf(IUnknown* dtmObject) {
    com::ComPtr<IevFdtBaseDTM> dtmBase;
    long state = -1;
    if (SUCCEEDED(dtmObject->QueryInterface(__uuidof(IevFdtBaseDTM), dtmBase.putVoid())))
      dtmBase->GetDtmState(&state);
    return state;
  }
  static HRESULT Load(IUnknown* dtmObject, const std::vector<BYTE>& bytes) {
    com::ComPtr<IPersistStreamInit> persist;
    HRESULT hr = dtmObject->QueryInterface(__uuidof(IPersistStreamInit), persist.putVoid());
    if (FAILED(hr)) return hr;
    com::ComPtr<IStream> stream = StreamOf(bytes);
    return persist->Load(stream.get());
  }
  // Attaches a loaded data set to a frame of its own and configures it.
  void AttachAndConfigureLoaded(IUnknown* dtmObject, com::ComPtr<IUnknown>& itsFrame) {
    frame_double::NoticeFrame* notices = nullptr;
    itsFrame = frame_double::createNoticeFrame(&notices);
    notices->setAgile(true);
    com::ComPtr<IDtm> itsDtm;
    ASSERT_EQ(S_OK, dtmObject->QueryInterface(__uuidof(IDtm), itsDtm.putVoid()));
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(S_OK, itsDtm->SetEnvironment(tag.get(), itsFrame.get(), &ok));
    ASSERT_EQ(VARIANT_TRUE, ok);
    com::Bstr user(UserInformation(L"maintenance").c_str());
    ASSERT_EQ(S_OK, itsDtm->Config(user.get(), &ok));
    ASSERT_EQ(kDtmConfigured, StateOf(dtmObject));
  }
  static void ShutDownDtm(IUnknown* dtmObject) {
    com::ComPtr<IDtm> itsDtm;
    if (FAILED(dtmObject->QueryInterface(__uuidof(IDtm), itsDtm.putVoid()))) return;
    VARIANT_BOOL ok = VARIANT_FALSE;
    itsDtm->ShutdownDtm(&ok);
  }
  void TearDown() override {
    if (object && State() >= kDtmEnvironmentSet && State() <= kDtmConfigured) ShutDownDtm(object.get());
    DtmFixture::TearDown();
  }
};

// ---- State gates and round trips --------------------------------------------

TEST_F(PersistenceTest, SavedOnlyInConfiguredCommunicationSetAndOnlineLoadedOnlyWithoutDataSet) {
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  MemoryPropertyBag* bag = nullptr;
  com::ComPtr<IPropertyBag> bagObject = CreateMemoryPropertyBag(&bag);
  com::ComPtr<IPersistPropertyBag> bagPersist;
  ASSERT_EQ(S_OK, object.as(bagPersist));
  auto saves = [&]() {
    com::ComPtr<IStream> stream = StreamOf({});
    const HRESULT streamSave = persist->Save(stream.get(), FALSE);
    const HRESULT bagSave = bagPersist->Save(bagObject.get(), FALSE, TRUE);
    EXPECT_EQ(streamSave, bagSave);
    if (streamSave != S_OK) {
      EXPECT_TRUE(StreamBytes(stream.get()).empty());
    }
    return streamSave;
  };

  EXPECT_EQ(S_FALSE, saves());  // 1
  AttachNew();
  EXPECT_EQ(S_FALSE, saves());  // 6
  VARIANT_BOOL ok = VARIANT_FALSE;
  com::Bstr deviceType(kTestDeviceTypeDocument);
  ASSERT_EQ(S_OK, dtm->InitNewDeviceType(deviceType.get(), &ok));
  EXPECT_EQ(S_FALSE, saves());  // 7
  com::Bstr user(UserInformation(L"maintenance").c_str());
  ASSERT_EQ(S_OK, dtm->Config(user.get(), &ok));
  EXPECT_EQ(S_OK, saves());  // 8
  const std::vector<BYTE> saved = Saved(object.get());
  // Loading needs a DTM without a data set.
  EXPECT_EQ(S_FALSE, Load(object.get(), saved));
  EXPECT_EQ(kDtmConfigured, State());

  ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
  ASSERT_TRUE(PumpUntil([&] { return State() == kDtmOnline; }));
  EXPECT_EQ(S_OK, saves());  // 12
  ASSERT_EQ(S_OK, dtm->PrepareToReleaseCommunication(&ok));
  ASSERT_TRUE(PumpUntil([&] { return State() == kDtmCommunicationSet; }));
  EXPECT_EQ(S_OK, saves());  // 9
  ASSERT_EQ(S_OK, dtm->ReleaseCommunication(&ok));
  EXPECT_EQ(kDtmConfigured, State());
}

TEST_F(PersistenceTest, StreamRoundTripGivesEqualParametersChannelsAndDataState) {
  const std::vector<BYTE> saved = ConfiguredAndSaved(9, 77);
  // GetSizeMax answers what Save writes.
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  ULARGE_INTEGER size = {};
  ASSERT_EQ(S_OK, persist->GetSizeMax(&size));
  EXPECT_EQ(saved.size(), size.QuadPart);
  // The saved stream ends with the data state and the version word.
  ASSERT_GT(saved.size(), 10u);
  EXPECT_EQ(VT_UI4, saved[saved.size() - 10] | saved[saved.size() - 9] << 8);
  EXPECT_EQ((std::vector<BYTE>{0x00, 0x0C, 0x00, 0x00}),
            std::vector<BYTE>(saved.end() - 4, saved.end()));

  com::ComPtr<IUnknown> fresh = Fresh();
  com::ComPtr<IPersistStreamInit> freshPersist;
  ASSERT_EQ(S_OK, fresh.as(freshPersist));
  ASSERT_EQ(S_OK, Load(fresh.get(), saved));
  EXPECT_EQ(kDtmLoadedDataSet, StateOf(fresh.get()));
  EXPECT_EQ(S_FALSE, freshPersist->IsDirty());
  EXPECT_EQ(9, Value(fresh.get(), par::kPreambles));
  EXPECT_EQ(1u, ChannelCount(fresh.get()));
  com::ComPtr<IevFdtBaseChannel> channel = Channel(fresh.get());
  ASSERT_TRUE(channel);
  EXPECT_EQ(77, ChannelValue(channel.get()));

  // Saved again, the loaded data set gives the same bytes: the same
  // device type, parameter table, channel list and data state.
  com::ComPtr<IUnknown> itsFrame;
  AttachAndConfigureLoaded(fresh.get(), itsFrame);
  EXPECT_EQ(saved, Saved(fresh.get()));
  ShutDownDtm(fresh.get());
}

TEST_F(PersistenceTest, PropertyBagHoldsItemsOneToSixAsUpperCaseHexAndLoadsIntoAFreshObject) {
  Configure();
  Write(par::kPreambles, 11);
  com::ComPtr<IevFdtStorageState> storage;
  ASSERT_EQ(S_OK, object.as(storage));
  // Each save clears the parameters' modified marks after writing them: the
  // first save settles them, so that the next two write the same bytes.
  ASSERT_EQ(S_OK, storage->SaveToStream(StreamOf({}).get()));
  com::ComPtr<IStream> items = StreamOf({});
  ASSERT_EQ(S_OK, storage->SaveToStream(items.get()));
  const std::vector<BYTE> itemBytes = StreamBytes(items.get());

  MemoryPropertyBag* bag = nullptr;
  com::ComPtr<IPropertyBag> bagObject = CreateMemoryPropertyBag(&bag);
  com::ComPtr<IPersistPropertyBag> bagPersist;
  ASSERT_EQ(S_OK, object.as(bagPersist));
  ASSERT_EQ(S_OK, bagPersist->Save(bagObject.get(), TRUE, TRUE));
  ASSERT_EQ(1u, bag->properties.size());
  const com::Variant& data = bag->properties.at(L"DTM_DATA");
  ASSERT_EQ(VT_BSTR, data.type());
  std::wstring expected;
  const wchar_t digits[] = L"0123456789ABCDEF";
  for (BYTE b : itemBytes) {
    expected += digits[b >> 4];
    expected += digits[b & 15];
  }
  EXPECT_EQ(expected, V_BSTR(data.get()));

  com::ComPtr<IUnknown> fresh = Fresh();
  com::ComPtr<IPersistPropertyBag> freshBag;
  ASSERT_EQ(S_OK, fresh.as(freshBag));
  ASSERT_EQ(S_OK, freshBag->Load(bagObject.get(), nullptr));
  EXPECT_EQ(kDtmLoadedDataSet, StateOf(fresh.get()));
  EXPECT_EQ(11, Value(fresh.get(), par::kPreambles));
  EXPECT_EQ(1u, ChannelCount(fresh.get()));
  com::ComPtr<IUnknown> itsFrame;
  AttachAndConfigureLoaded(fresh.get(), itsFrame);
  com::ComPtr<IevFdtStorageState> freshStorage;
  ASSERT_EQ(S_OK, fresh.as(freshStorage));
  com::ComPtr<IStream> again = StreamOf({});
  ASSERT_EQ(S_OK, freshStorage->SaveToStream(again.get()));
  EXPECT_EQ(itemBytes, StreamBytes(again.get()));
  ShutDownDtm(fresh.get());

  // Malformed "DTM_DATA": wrong type, odd length, empty; nothing is loaded.
  com::ComPtr<IUnknown> other = Fresh();
  com::ComPtr<IevFdtStorageState> otherStorage;
  ASSERT_EQ(S_OK, other.as(otherStorage));
  bag->properties[L"DTM_DATA"] = com::Variant(LONG{5});
  EXPECT_EQ(E_UNEXPECTED, otherStorage->LoadFromPropertyBag(bagObject.get(), nullptr));
  bag->properties[L"DTM_DATA"] = com::Variant(L"0123456");
  EXPECT_EQ(E_INVALIDARG, otherStorage->LoadFromPropertyBag(bagObject.get(), nullptr));
  bag->properties[L"DTM_DATA"] = com::Variant(L"");
  EXPECT_EQ(E_FAIL, otherStorage->LoadFromPropertyBag(bagObject.get(), nullptr));
  com::ComPtr<IPersistPropertyBag> otherBag;
  ASSERT_EQ(S_OK, other.as(otherBag));
  EXPECT_EQ(S_FALSE, otherBag->Load(bagObject.get(), nullptr));
  EXPECT_EQ(kDtmConstructed, StateOf(other.get()));
  EXPECT_EQ(0u, ChannelCount(other.get()));
}

TEST_F(PersistenceTest, EditsOfALoadedDataSetMakeItDirtyUntilSaved) {
  const std::vector<BYTE> saved = ConfiguredAndSaved(9, 77);
  com::ComPtr<IUnknown> fresh = Fresh();
  ASSERT_EQ(S_OK, Load(fresh.get(), saved));
  com::ComPtr<IUnknown> itsFrame;
  AttachAndConfigureLoaded(fresh.get(), itsFrame);
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, fresh.as(persist));
  EXPECT_EQ(S_FALSE, persist->IsDirty());

  com::ComPtr<IevFdtParameterHandler4> handler;
  ASSERT_EQ(S_OK, fresh.as(handler));
  ASSERT_EQ(S_OK, handler->WriteParameter(*com::ui4(par::kPreambles).get(),
                                          *com::Variant(LONG{10}).get()));
  EXPECT_EQ(S_OK, persist->IsDirty());
  // A save that keeps the flag keeps it; one that clears it clears it.
  ASSERT_EQ(S_OK, persist->Save(StreamOf({}).get(), FALSE));
  EXPECT_EQ(S_OK, persist->IsDirty());
  ASSERT_EQ(S_OK, persist->Save(StreamOf({}).get(), TRUE));
  EXPECT_EQ(S_FALSE, persist->IsDirty());
  ShutDownDtm(fresh.get());
}

TEST_F(PersistenceTest, DataSetBegunAfterShutdownStartsFromTheDeclaredTable) {
  Configure();
  const LONG declaredCounter = Value(object.get(), par::kCounter);
  Write(par::kPreambles, 9);
  Write(par::kCounter, declaredCounter + 1);  // not persisted
  const std::vector<BYTE> saved = Saved(object.get());
  Write(par::kPreambles, 12);
  com::ComPtr<IevFdtBaseChannel> old = Channel(object.get());
  ASSERT_TRUE(old);
  ShutDownDtm(object.get());
  ASSERT_EQ(kDtmReleased, State());

  // A new data set: declared values, not modified, a new channel.
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  ASSERT_EQ(S_OK, persist->InitNew());
  EXPECT_EQ(kDtmNewDataSet, State());
  EXPECT_EQ(5, Value(object.get(), par::kPreambles));
  EXPECT_EQ(declaredCounter, Value(object.get(), par::kCounter));
  EXPECT_EQ(S_OK, persist->IsDirty());
  com::ComPtr<IevFdtStorageState> storage;
  ASSERT_EQ(S_OK, object.as(storage));
  long modified = -1;
  ASSERT_EQ(S_OK, storage->GetModified(&modified));
  EXPECT_EQ(0, modified);
  com::ComPtr<IevFdtBaseChannel> fresh = Channel(object.get());
  ASSERT_TRUE(fresh);
  EXPECT_FALSE(SameObject(fresh.get(), old.get()));
  EXPECT_EQ(L"InitNew", ChannelLog(fresh.get()));

  // Shut down again and loaded: the stored values over the declared table.
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetEnvironment(tag.get(), frameObject.get(), &ok));
  com::Bstr deviceType(kTestDeviceTypeDocument), user(UserInformation(L"maintenance").c_str());
  ASSERT_EQ(S_OK, dtm->InitNewDeviceType(deviceType.get(), &ok));
  ASSERT_EQ(S_OK, dtm->Config(user.get(), &ok));
  ASSERT_EQ(kDtmConfigured, State());
  Write(par::kCounter, declaredCounter + 2);
  ShutDownDtm(object.get());
  ASSERT_EQ(S_OK, Load(object.get(), saved));
  EXPECT_EQ(9, Value(object.get(), par::kPreambles));
  EXPECT_EQ(declaredCounter, Value(object.get(), par::kCounter));
  EXPECT_EQ(S_FALSE, persist->IsDirty());
}

// ---- Layout -------------------------------------------------------------------

TEST_F(PersistenceTest, StreamItemsMatchTheLayoutByteForByte) {
  const std::vector<BYTE> saved = ConfiguredAndSaved(5, 0x01020304);

  // Items 1 to 3: device type, format marker, format stamp.
  std::vector<BYTE> head = BstrForm(L"Test Type");
  const std::vector<BYTE> marker = BstrForm(L"96B32FC9-45E3-447a-A88C-C854DCBDF12B");
  head.insert(head.end(), marker.begin(), marker.end());
  head.push_back(VT_BSTR);
  head.push_back(0);
  const std::vector<BYTE> stamp = BstrForm(L"{00000003-0000-0000-0000-000000000000}");
  head.insert(head.end(), stamp.begin(), stamp.end());
  ASSERT_GE(saved.size(), head.size());
  EXPECT_EQ(head, std::vector<BYTE>(saved.begin(), saved.begin() + head.size()));
  // Then the parameter section, whose count is a VT_I4.
  EXPECT_EQ(VT_I4, saved[head.size()]);

  // The channel section: one entry, then the channel's own 8 bytes.
  std::vector<BYTE> channels = {VT_I4, 0, 1, 0, 0, 0};
  for (const std::vector<BYTE>& part :
       {BstrForm(kTestChannelName), BstrForm(kTestChannelClassText),
        std::vector<BYTE>{0, 0, 0, 0}, std::vector<BYTE>{VT_UI4, 0, 0, 0, 0, 0},
        BstrForm(kTestChannelInformation), std::vector<BYTE>{'T', 'C', 'H', '1', 4, 3, 2, 1}})
    channels.insert(channels.end(), part.begin(), part.end());
  // Then the data state (VT_UI4) and the version word.
  const size_t tail = channels.size() + 6 + 4;
  ASSERT_GT(saved.size(), head.size() + tail);
  EXPECT_EQ(channels, std::vector<BYTE>(saved.end() - tail, saved.end() - 10));
}

// ---- Untrusted streams ------------------------------------------------------

TEST_F(PersistenceTest, EveryTruncatedPrefixIsRefusedAndChangesNothing) {
  const std::vector<BYTE> saved = ConfiguredAndSaved(12, 55);
  com::ComPtr<IUnknown> fresh = Fresh();
  com::ComPtr<IevFdtStorageState> storage;
  ASSERT_EQ(S_OK, fresh.as(storage));
  const LONG defaultPreambles = Value(fresh.get(), par::kPreambles);
  ASSERT_NE(12, defaultPreambles);
  for (size_t n = 0; n < saved.size(); ++n) {
    std::vector<BYTE> prefix(saved.begin(), saved.begin() + n);
    ASSERT_EQ(S_FALSE, Load(fresh.get(), prefix)) << "prefix of " << n << " bytes";
    ASSERT_EQ(kDtmConstructed, StateOf(fresh.get())) << n;
    ASSERT_EQ(defaultPreambles, Value(fresh.get(), par::kPreambles)) << n;
    ASSERT_EQ(0u, ChannelCount(fresh.get())) << n;
    com::Bstr deviceType;
    com::ComPtr<IevFdtBaseDTM> freshBase;
    ASSERT_EQ(S_OK, fresh.as(freshBase));
    freshBase->GetDataSetReference(deviceType.put());
    ASSERT_TRUE(deviceType.empty()) << n;
  }
  EXPECT_EQ(S_OK, Load(fresh.get(), saved));
  EXPECT_EQ(12, Value(fresh.get(), par::kPreambles));

  // A DTM with its data set keeps parameters and channels when a storage
  // load of items 1 to 6 fails at any byte.
  const std::vector<BYTE> items(saved.begin(), saved.end() - 4);
  ShutDownDtm(object.get());
  object.reset();
  dtm.reset();
  base.reset();
  ASSERT_EQ(S_OK, object.createInstance(CLSID_TestDtm, nullptr, CLSCTX_INPROC_SERVER));
  ASSERT_EQ(S_OK, object.as(dtm));
  ASSERT_EQ(S_OK, object.as(base));
  frameObject = frame_double::createNoticeFrame(&frame);
  frame->setAgile(true);
  Configure();
  Write(par::kPreambles, 7);
  PostToChannel(Channel(object.get()).get(), key::kValue, 66);
  com::ComPtr<IevFdtStorageState> configured;
  ASSERT_EQ(S_OK, object.as(configured));
  for (size_t n = 0; n < items.size(); n += 3) {
    com::ComPtr<IStream> prefix = StreamOf(std::vector<BYTE>(items.begin(), items.begin() + n));
    ASSERT_TRUE(FAILED(configured->LoadFromStream(prefix.get()))) << n;
    ASSERT_EQ(7, Value(object.get(), par::kPreambles)) << n;
    ASSERT_EQ(1u, ChannelCount(object.get())) << n;
    com::ComPtr<IevFdtBaseChannel> channel = Channel(object.get());
    ASSERT_TRUE(channel) << n;
    ASSERT_EQ(66, ChannelValue(channel.get())) << n;
  }
  EXPECT_EQ(kDtmConfigured, State());
}

TEST_F(PersistenceTest, CorruptedStreamsAreRefusedAndChangeNothing) {
  const std::vector<BYTE> saved = ConfiguredAndSaved(12, 55);
  // Bytes whose corruption the layout detects: item 1's byte count and
  // terminator, all of item 2, item 3's type, count and last nine
  // characters, the parameter count's type and sign, the channel count, the
  // class id text, the channel's mark, the data state's type, the version.
  std::vector<size_t> positions = {0, 1, 2, 3, 22, 23};
  const size_t marker = 24, stamp = marker + 78;
  for (size_t i = marker; i < stamp; ++i) positions.push_back(i);
  for (size_t i = stamp; i < stamp + 6; ++i) positions.push_back(i);
  for (size_t i = stamp + 6 + 29 * 2; i < stamp + 6 + 78; ++i) positions.push_back(i);
  const size_t parameters = stamp + 6 + 78;
  positions.push_back(parameters);
  positions.push_back(parameters + 1);
  positions.push_back(parameters + 5);
  const size_t channels = Find(saved, {VT_I4, 0, 1, 0, 0, 0, 0x18, 0, 0, 0});
  ASSERT_NE(std::wstring::npos, channels);
  positions.push_back(channels);
  positions.push_back(channels + 2);
  const size_t classText = Find(saved, BstrForm(kTestChannelClassText));
  ASSERT_NE(std::wstring::npos, classText);
  for (size_t i = classText; i < classText + 4 + 74; ++i) positions.push_back(i);
  const size_t mark = Find(saved, {'T', 'C', 'H', '1'});
  ASSERT_NE(std::wstring::npos, mark);
  for (size_t i = mark; i < mark + 4; ++i) positions.push_back(i);
  positions.push_back(saved.size() - 10);
  positions.push_back(saved.size() - 3);

  com::ComPtr<IUnknown> fresh = Fresh();
  const LONG defaultPreambles = Value(fresh.get(), par::kPreambles);
  for (size_t at : positions) {
    std::vector<BYTE> corrupted = saved;
    corrupted[at] ^= 0xFF;
    ASSERT_EQ(S_FALSE, Load(fresh.get(), corrupted)) << "byte " << at;
    ASSERT_EQ(kDtmConstructed, StateOf(fresh.get())) << at;
    ASSERT_EQ(defaultPreambles, Value(fresh.get(), par::kPreambles)) << at;
    ASSERT_EQ(0u, ChannelCount(fresh.get())) << at;
  }
  // A stamp that differs only in its first 29 characters still loads.
  std::vector<BYTE> stampChanged = saved;
  stampChanged[stamp + 6 + 2 * 2] = '7';
  EXPECT_EQ(S_OK, Load(fresh.get(), stampChanged));
}

TEST_F(PersistenceTest, StreamNamingAForeignClassCreatesNothing) {
  com::ComObject<CountingFactory>* factory = nullptr;
  ASSERT_EQ(S_OK, com::ComObject<CountingFactory>::create(&factory));
  com::ComPtr<IClassFactory> factoryRef;
  factoryRef.attach(factory);
  DWORD cookie = 0;
  ASSERT_EQ(S_OK, ::CoRegisterClassObject(kForeignClass, factoryRef.get(), CLSCTX_INPROC_SERVER,
                                          REGCLS_MULTIPLEUSE, &cookie));

  std::vector<BYTE> saved = ConfiguredAndSaved(12, 55);
  const std::vector<BYTE> ours = BstrForm(kTestChannelClassText);
  const size_t at = Find(saved, ours);
  ASSERT_NE(std::wstring::npos, at);
  const std::vector<BYTE> foreign = BstrForm(kForeignClassText);
  std::copy(foreign.begin(), foreign.end(), saved.begin() + at);

  com::ComPtr<IUnknown> fresh = Fresh();
  EXPECT_EQ(S_FALSE, Load(fresh.get(), saved));
  EXPECT_EQ(0, factory->created);
  EXPECT_EQ(kDtmConstructed, StateOf(fresh.get()));
  EXPECT_EQ(0u, ChannelCount(fresh.get()));
  // The class is reachable: only the DTM's channel table kept it out.
  com::ComPtr<IUnknown> probe;
  probe.createInstance(kForeignClass, nullptr, CLSCTX_INPROC_SERVER);
  EXPECT_EQ(1, factory->created);
  ::CoRevokeClassObject(cookie);
}

TEST_F(PersistenceTest, ChannelWhoseOwnSaveOrLoadFailsFailsTheWholeSaveOrLoad) {
  Configure();
  com::ComPtr<IevFdtBaseChannel> channel = Channel(object.get());
  ASSERT_TRUE(channel);
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  com::ComPtr<IevFdtStorageState> storage;
  ASSERT_EQ(S_OK, object.as(storage));

  PostToChannel(channel.get(), key::kFailSave, 1);
  com::ComPtr<IStream> stream = StreamOf({});
  EXPECT_EQ(S_FALSE, persist->Save(stream.get(), TRUE));
  EXPECT_EQ(S_OK, persist->IsDirty()) << "a failed save leaves the data set to be saved";
  EXPECT_TRUE(FAILED(storage->SaveToStream(stream.get())));
  ULARGE_INTEGER size = {};
  EXPECT_EQ(S_FALSE, persist->GetSizeMax(&size));

  PostToChannel(channel.get(), key::kFailSave, 0);
  PostToChannel(channel.get(), key::kValue, static_cast<ULONG>(kTestChannelFailingValue));
  const std::vector<BYTE> saved = Saved(object.get());
  ASSERT_FALSE(saved.empty());
  com::ComPtr<IUnknown> fresh = Fresh();
  EXPECT_EQ(S_FALSE, Load(fresh.get(), saved));
  EXPECT_EQ(kDtmConstructed, StateOf(fresh.get()));
  EXPECT_EQ(0u, ChannelCount(fresh.get()));
}

// ---- Modified notices -------------------------------------------------------

// With an agile frame and with a single-threaded one: the saved data set
// reaches the frame's event sink from the DTM's worker.
class ModifiedNoticeTest : public PersistenceTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    agileFrame = GetParam();
    PersistenceTest::SetUp();
  }
};

TEST_P(ModifiedNoticeTest, ModifiedNoticesReachTheFrameOncePerChangeAndWaitWhileHeld) {
  Configure();
  com::ComPtr<IevFdtStorageState> storage;
  ASSERT_EQ(S_OK, object.as(storage));
  com::ComPtr<ITestDtmSettings> settings;
  ASSERT_EQ(S_OK, object.as(settings));
  auto saveRequests = [&] { return frame->callsTo("SaveRequest").size(); };
  long modified = -1;

  Write(par::kPreambles, 6);
  EXPECT_EQ(1u, saveRequests());
  EXPECT_EQ(tag.c_str(), frame->callsTo("SaveRequest")[0].arguments.at(0));
  ASSERT_EQ(S_OK, storage->GetModified(&modified));
  EXPECT_EQ(1, modified);
  Write(par::kPreambles, 7);
  EXPECT_EQ(2u, saveRequests());

  // A channel added at run time is one change.
  com::ComPtr<IevFdtChannelManagement> management;
  ASSERT_EQ(S_OK, object.as(management));
  VARIANT_BOOL added = VARIANT_FALSE;
  com::Bstr name(L"Second"), classText(kTestChannelClassText);
  ASSERT_EQ(S_OK, management->AddChannelByClass(name.get(), classText.get(), &added));
  EXPECT_EQ(VARIANT_TRUE, added);
  EXPECT_EQ(3u, saveRequests());

  // Saving clears the modified state and tells the frame the saved data set.
  const std::vector<BYTE> saved = Saved(object.get());
  ASSERT_EQ(S_OK, storage->GetModified(&modified));
  EXPECT_EQ(0, modified);
  ASSERT_TRUE(PumpUntil([&] { return frame->callsTo("OnParameterChanged").size() == 1; }));
  const frame_double::FrameCall notice = frame->callsTo("OnParameterChanged")[0];
  EXPECT_EQ("IFrameDtmEvents", notice.interfaceName);
  if (!agileFrame) {
    EXPECT_EQ(::GetCurrentThreadId(), notice.threadId);
  }
  const std::wstring document = notice.arguments.at(1);
  EXPECT_NE(std::wstring::npos, document.find(L"<OnParameterChangedDocument>")) << document;
  EXPECT_NE(std::wstring::npos, document.find(L"<Channel name =\"Channel &lt;1&gt;\" clsid =\"" +
                                              std::wstring(kTestChannelClassText) + L"\">"))
      << document;
  EXPECT_NE(std::wstring::npos, document.find(L"<Channel name =\"Second\"")) << document;

  // Held: changes are kept, the frame hears nothing.
  ASSERT_EQ(S_OK, settings->HoldModifiedNotices(TRUE));
  ASSERT_EQ(S_OK, settings->HoldModifiedNotices(TRUE));
  Write(par::kPreambles, 8);
  ASSERT_EQ(S_OK, storage->SetModified(1));
  ASSERT_EQ(S_OK, storage->GetModified(&modified));
  EXPECT_EQ(1, modified);
  ASSERT_EQ(S_OK, settings->HoldModifiedNotices(FALSE));
  Write(par::kPreambles, 9);
  EXPECT_EQ(3u, saveRequests());
  // After the last hold the next change reaches the frame again.
  ASSERT_EQ(S_OK, settings->HoldModifiedNotices(FALSE));
  Write(par::kPreambles, 10);
  EXPECT_EQ(4u, saveRequests());

  // Outside the states 8 to 12 the modified state does not change.
  com::ComPtr<IUnknown> fresh = Fresh();
  com::ComPtr<IevFdtStorageState> freshStorage;
  ASSERT_EQ(S_OK, fresh.as(freshStorage));
  ASSERT_EQ(S_OK, freshStorage->SetModified(1));
  ASSERT_EQ(S_OK, freshStorage->GetModified(&modified));
  EXPECT_EQ(0, modified);
}

INSTANTIATE_TEST_SUITE_P(Frames, ModifiedNoticeTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Agile" : "SingleThreaded");
                         });

}  // namespace
}  // namespace dtmtest
