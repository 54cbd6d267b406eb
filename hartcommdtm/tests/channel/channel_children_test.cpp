// Child DTMs below the HART channel, through the frame double's topology
// and device-DTM doubles that answer IDtmParameter: sub-topology add,
// validate and remove, tags and addresses read and written in the child's
// document, reconciliation with the frame's child list, the child table in
// the channel's stream, address assignment from DeviceList documents, and
// the audit entry of a changed channel parameter.
#include <objbase.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "channel/child_table.h"
#include "channel_fixture.h"
#include "child_dtm.h"
#include "children_owner.h"
#include "com/StreamForm.h"
#include "com/Variant.h"
#include "frame_topology.h"
#include "hostile_documents.h"

namespace channeltest {
namespace {

using devicedtm_double::ChildDocument;
using devicedtm_double::ChildDtm;
using hartdtm::ChildDtmEntry;
using hartdtm::ChildLists;

constexpr wchar_t kOtherProtocol[] = L"036D1499-387B-11D4-86E1-00E0987270B9";
constexpr wchar_t kChannelPath[] = L"DTM-1/HART";

std::wstring Text(BSTR s) { return s ? std::wstring(s, ::SysStringLen(s)) : std::wstring(); }

// ---- the two lists on their own --------------------------------------------------

ChildDtmEntry Entry(const wchar_t* systemTag, const wchar_t* dtmTag, uint8_t address) {
  ChildDtmEntry e;
  e.systemTag = systemTag;
  e.dtmTag = dtmTag;
  e.address = address;
  return e;
}

TEST(ChildListsTest, TagsAndEntriesAreNeverDoubled) {
  ChildLists lists;
  EXPECT_TRUE(lists.AddTag(L"A"));
  EXPECT_FALSE(lists.AddTag(L"A"));
  EXPECT_TRUE(lists.AddTag(L"a"));  // the tag list compares case-sensitively
  lists.ReplaceTags({L"X", L"Y", L"X"});
  EXPECT_EQ((std::vector<std::wstring>{L"X", L"Y"}), lists.Tags());

  lists.Put(Entry(L"X", L"PT-1", 1));
  lists.Put(Entry(L"X", L"PT-2", 2));
  ASSERT_EQ(1u, lists.Count());
  ChildDtmEntry read;
  ASSERT_TRUE(lists.Find(L"X", &read));
  EXPECT_EQ(L"PT-2", read.dtmTag);
  EXPECT_EQ(2, read.address);
  EXPECT_FALSE(lists.EntryAt(1, &read));
}

TEST(ChildListsTest, ReconcileKeepsOnlyATableThatMatchesTheTagList) {
  ChildLists lists;
  lists.ReplaceTable({Entry(L"A", L"a", 1), Entry(L"B", L"b", 2)});
  lists.ReplaceTags({L"B", L"A"});
  EXPECT_EQ(0, lists.Reconcile());
  EXPECT_EQ(2u, lists.Count());

  lists.ReplaceTags({L"A", L"C"});
  EXPECT_EQ(1, lists.Reconcile());
  EXPECT_EQ(0u, lists.Count());
  EXPECT_TRUE(lists.Stale());

  // No children in the frame: the table goes, nothing is left to rebuild.
  lists.ReplaceTable({Entry(L"A", L"a", 1)});
  lists.ReplaceTags({});
  EXPECT_EQ(0, lists.Reconcile());
  EXPECT_EQ(0u, lists.Count());
  EXPECT_FALSE(lists.Stale());
}

TEST(ChildListsTest, LowestFreeAddressSkipsTakenAndUnknownAddresses) {
  ChildLists lists;
  lists.ReplaceTable({Entry(L"A", L"", 0), Entry(L"B", L"", 1), Entry(L"C", L"", 3), Entry(L"D", L"", 0xFF)});
  uint8_t address = 0xEE;
  ASSERT_TRUE(lists.LowestFreeAddress(&address));
  EXPECT_EQ(2, address);
  std::vector<ChildDtmEntry> full;
  for (int a = 0; a < 64; ++a) full.push_back(Entry(std::to_wstring(a).c_str(), L"", static_cast<uint8_t>(a)));
  lists.ReplaceTable(full);
  EXPECT_FALSE(lists.LowestFreeAddress(&address));
}

// ---- through the channel ---------------------------------------------------------

class ChildrenTest : public ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    MakeChildrenChannel();
  }
  void TearDown() override {
    subTopology_ = nullptr;
    hart_ = nullptr;
    children_.clear();
    childOwner_ = nullptr;
    ChannelTest::TearDown();
  }

  void MakeChildrenChannel() {
    ownerUnknown_ = createChildrenOwner(&childOwner_);
    ASSERT_TRUE(ownerUnknown_);
    owner_ = childOwner_;
    frameUnknown_ = frame_double::createNoticeFrame(&frame_);
    ASSERT_TRUE(frameUnknown_);
    frame_->setAgile(true);
    ASSERT_EQ(S_OK, com::createObject<hartdtm::CHART_Channel>(nullptr, __uuidof(IevFdtBaseChannel), base_.putVoid()));
    channel_ = static_cast<hartdtm::CHART_Channel*>(base_.get());
    ASSERT_EQ(S_OK, base_->Initialize(ownerUnknown_.get()));
    ASSERT_EQ(S_OK, base_->SetOwner(frameUnknown_.get()));
    com::Bstr tag(L"HART");
    ASSERT_EQ(S_OK, base_->SetChannelTag(tag.get()));
    ASSERT_EQ(S_OK, base_.as(subTopology_));
    ASSERT_EQ(S_OK, base_.as(hart_));
  }

  // A child DTM in the frame's topology under the system tag.
  ChildDtm* AddChildDtm(const std::wstring& systemTag, const std::wstring& document) {
    ChildDtm* child = nullptr;
    com::ComPtr<IUnknown> object = devicedtm_double::createChildDtm(&child);
    EXPECT_TRUE(object);
    child->setDocument(document);
    frame_->addDtm(systemTag, object.get());
    children_[systemTag] = object;
    return child;
  }

  HRESULT OnAdd(const wchar_t* systemTag) {
    com::Bstr tag(systemTag);
    return subTopology_->OnAddChild(tag.get());
  }

  // Places children through OnAddChild; each has a HART document.
  void PlaceChildren(const std::vector<std::wstring>& tags, int firstAddress = 0) {
    int address = firstAddress;
    for (const std::wstring& tag : tags) {
      AddChildDtm(tag, ChildDocument(L"TAG-" + tag, address++));
      ASSERT_EQ(S_OK, OnAdd(tag.c_str()));
    }
  }

  ChildDtmEntry TableEntry(const wchar_t* systemTag) {
    ChildDtmEntry entry;
    com::Bstr tag(systemTag), dtmTag;
    unsigned char address = 0;
    if (hart_->GetChildDtmInfoBySysTag(tag.get(), dtmTag.put(), &address) != S_OK) return entry;
    entry.systemTag = systemTag;
    entry.dtmTag = Text(dtmTag.get());
    entry.address = address;
    return entry;
  }

  unsigned long ChildCount() {
    unsigned long count = 0;
    EXPECT_EQ(S_OK, hart_->GetChildDtmCount(&count));
    return count;
  }

  bool Removable(const wchar_t* systemTag) {
    com::Bstr tag(systemTag);
    VARIANT_BOOL result = VARIANT_FALSE;
    EXPECT_EQ(S_OK, subTopology_->ValidateRemoveChild(tag.get(), &result));
    return result == VARIANT_TRUE;
  }

  HRESULT SetInfo(const wchar_t* systemTag, unsigned char address, const wchar_t* tag) {
    com::Bstr s(systemTag), t(tag);
    return hart_->SetDeviceDtmInfo(s.get(), address, t.get());
  }

  size_t FrameCalls(const char* method) { return frame_->callsTo(method).size(); }

  // Control properties of child changes (1038 added, 1039 removed); the
  // parameter handler's own control messages are left out.
  std::vector<OwnerCall> ChildProperties() {
    std::vector<OwnerCall> found;
    for (const OwnerCall& call : childOwner_->callsTo("SetControlsProperty")) {
      if (call.argument == L"1038" || call.argument == L"1039") found.push_back(call);
    }
    return found;
  }

  ChildrenOwner* childOwner_ = nullptr;
  com::ComPtr<IFdtChannelSubTopology> subTopology_;
  com::ComPtr<IHART_Channel> hart_;
  std::map<std::wstring, com::ComPtr<IUnknown>> children_;
};

TEST_F(ChildrenTest, AddedHartChildIsListedReadAndAnnounced) {
  AddChildDtm(L"C1", ChildDocument(L"PT-101", 5));
  com::Bstr tag(L"C1");
  VARIANT_BOOL valid = VARIANT_FALSE;
  ASSERT_EQ(S_OK, subTopology_->ValidateAddChild(tag.get(), &valid));
  EXPECT_EQ(VARIANT_TRUE, valid);

  const uint32_t counter = OwnerUi4(1010);
  childOwner_->clearCalls();
  ASSERT_EQ(S_OK, OnAdd(L"C1"));

  EXPECT_EQ(1u, ChildCount());
  const ChildDtmEntry entry = TableEntry(L"C1");
  EXPECT_EQ(L"PT-101", entry.dtmTag);
  EXPECT_EQ(5, entry.address);
  EXPECT_TRUE(Removable(L"C1"));
  EXPECT_EQ(counter + 1, OwnerUi4(1010));

  const auto property = ChildProperties();
  ASSERT_EQ(1u, property.size());
  EXPECT_EQ(L"1038", property[0].argument);
  EXPECT_EQ(L"C1", property[0].second);
  const auto added = childOwner_->callsTo("DeviceDtmAdded");
  ASSERT_EQ(1u, added.size());
  EXPECT_EQ(L"C1", added[0].argument);
  EXPECT_FALSE(childOwner_->callsTo("SetModified").empty());
  EXPECT_FALSE(childOwner_->callsTo("SetChannelsModified").empty());
  // Every child DTM object taken from the topology was handed back.
  EXPECT_EQ(FrameCalls("GetDtmForSystemTag"), FrameCalls("ReleaseDtmForSystemTag"));
}

TEST_F(ChildrenTest, ChildOfAnotherProtocolGetsAnEntryButNoListPlace) {
  AddChildDtm(L"P1", ChildDocument(L"PB-1", 3, kOtherProtocol));
  com::Bstr tag(L"P1");
  VARIANT_BOOL valid = VARIANT_TRUE;
  ASSERT_EQ(S_OK, subTopology_->ValidateAddChild(tag.get(), &valid));
  EXPECT_EQ(VARIANT_FALSE, valid);

  ASSERT_EQ(S_OK, OnAdd(L"P1"));
  EXPECT_EQ(1u, ChildCount());
  EXPECT_FALSE(Removable(L"P1"));
  EXPECT_EQ(1u, childOwner_->callsTo("DeviceDtmAdded").size());
  EXPECT_EQ(FrameCalls("GetDtmForSystemTag"), FrameCalls("ReleaseDtmForSystemTag"));

  // Not in the topology at all: no validation, but still S_FALSE, not an error.
  com::Bstr unknown(L"nowhere");
  EXPECT_EQ(S_FALSE, subTopology_->ValidateAddChild(unknown.get(), &valid));
  EXPECT_EQ(VARIANT_FALSE, valid);
  // The DTM in state 7 (created, no communication) takes no children.
  childOwner_->setState(7);
  EXPECT_EQ(S_FALSE, OnAdd(L"P1"));
  EXPECT_EQ(E_POINTER, (childOwner_->setState(9), subTopology_->ValidateAddChild(tag.get(), nullptr)));
}

TEST_F(ChildrenTest, RemovedChildLeavesBothListsAndIsAnnounced) {
  PlaceChildren({L"C1", L"C2"});
  const uint32_t counter = OwnerUi4(1010);
  childOwner_->clearCalls();
  com::Bstr tag(L"C1");
  ASSERT_EQ(S_OK, subTopology_->OnRemoveChild(tag.get()));
  EXPECT_EQ(1u, ChildCount());
  EXPECT_FALSE(Removable(L"C1"));
  EXPECT_TRUE(Removable(L"C2"));
  EXPECT_EQ(counter + 1, OwnerUi4(1010));
  const auto property = ChildProperties();
  ASSERT_EQ(1u, property.size());
  EXPECT_EQ(L"1039", property[0].argument);

  // A tag in neither list still tells the controls and counts the change.
  com::Bstr unknown(L"nowhere");
  ASSERT_EQ(S_OK, subTopology_->OnRemoveChild(unknown.get()));
  EXPECT_EQ(counter + 2, OwnerUi4(1010));
  EXPECT_EQ(2u, ChildProperties().size());
  EXPECT_EQ(1u, ChildCount());
}

TEST_F(ChildrenTest, ReadersCheckTheirArguments) {
  PlaceChildren({L"C1"}, 9);
  com::Bstr systemTag, dtmTag, unknown(L"nowhere");
  unsigned char address = 0;
  EXPECT_EQ(E_INVALIDARG, hart_->GetChildDtmCount(nullptr));
  ASSERT_EQ(S_OK, hart_->GetChildDtmInfoByIndex(0, systemTag.put(), dtmTag.put(), &address));
  EXPECT_EQ(L"C1", Text(systemTag.get()));
  EXPECT_EQ(L"TAG-C1", Text(dtmTag.get()));
  EXPECT_EQ(9, address);
  EXPECT_EQ(E_INVALIDARG, hart_->GetChildDtmInfoByIndex(1, systemTag.put(), dtmTag.put(), &address));
  EXPECT_EQ(E_INVALIDARG, hart_->GetChildDtmInfoByIndex(0, nullptr, dtmTag.put(), &address));
  EXPECT_EQ(E_FAIL, hart_->GetChildDtmInfoBySysTag(unknown.get(), dtmTag.put(), &address));
  EXPECT_EQ(E_INVALIDARG, hart_->GetChildDtmInfoBySysTag(unknown.get(), dtmTag.put(), nullptr));
}

TEST_F(ChildrenTest, SetDeviceDtmInfoRenamesAndReaddressesTheChild) {
  ChildDtm* child = AddChildDtm(L"C1", ChildDocument(L"PT-101", 5));
  ASSERT_EQ(S_OK, OnAdd(L"C1"));
  const uint32_t counter = OwnerUi4(1010);
  ASSERT_EQ(S_OK, SetInfo(L"C1", 12, L"PT-202"));

  const ChildDtmEntry entry = TableEntry(L"C1");
  EXPECT_EQ(L"PT-202", entry.dtmTag);
  EXPECT_EQ(12, entry.address);
  EXPECT_EQ(counter + 1, OwnerUi4(1010));
  // The child's own document carries the new values: read back through it.
  const std::wstring doc = child->document();
  EXPECT_NE(std::wstring::npos, doc.find(L"fdt:tag=\"PT-202\"")) << doc;
  EXPECT_NE(std::wstring::npos, doc.find(L"slaveAddress=\"12\"")) << doc;
  EXPECT_EQ(std::wstring::npos, doc.find(L"MasterSlaveBus")) << doc;

  com::Bstr systemTag(L"C1");
  EXPECT_EQ(S_OK, hart_->ChildDtmChanged(systemTag.get()));
  EXPECT_EQ(counter + 1, OwnerUi4(1010));  // nothing changed since
  EXPECT_EQ(E_POINTER, SetInfo(L"nowhere", 1, L"X"));
}

TEST_F(ChildrenTest, AddressWithoutSlaveAddressGoesIntoOneBusInformation) {
  const std::wstring head =
      L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMParameterSchema.xml\" "
      L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">";
  ChildDtm* bare = AddChildDtm(L"B1", head + L"<DtmDevice fdt:tag=\"T1\"/></FDT>");
  ChildDtm* withBus = AddChildDtm(L"B2", head + L"<DtmDevice fdt:tag=\"T2\"><BusInformation/></DtmDevice></FDT>");
  ChildDtm* untagged = AddChildDtm(L"B3", head + L"<DtmDevice/></FDT>");
  ASSERT_EQ(S_OK, OnAdd(L"B1"));
  ASSERT_EQ(S_OK, OnAdd(L"B2"));
  ASSERT_EQ(S_OK, OnAdd(L"B3"));
  EXPECT_EQ(0xFF, TableEntry(L"B1").address);

  ASSERT_EQ(S_OK, SetInfo(L"B1", 7, L"T1"));
  ASSERT_EQ(S_OK, SetInfo(L"B2", 8, L"T2"));
  ASSERT_EQ(S_OK, SetInfo(L"B2", 9, L"T2"));
  ASSERT_EQ(S_OK, SetInfo(L"B3", 10, L"T3"));

  auto count = [](const std::wstring& text, const wchar_t* what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  const std::wstring one = bare->document();
  EXPECT_EQ(1u, count(one, L"<BusInformation")) << one;
  EXPECT_EQ(1u, count(one, L"<MasterSlaveBus")) << one;
  EXPECT_NE(std::wstring::npos, one.find(L"busAddress=\"7\"")) << one;
  const std::wstring two = withBus->document();
  EXPECT_EQ(1u, count(two, L"<BusInformation")) << two;
  EXPECT_EQ(1u, count(two, L"<MasterSlaveBus")) << two;
  EXPECT_NE(std::wstring::npos, two.find(L"busAddress=\"9\"")) << two;
  // The new elements belong to the document's namespace, not to none.
  EXPECT_EQ(std::wstring::npos, two.find(L"xmlns=\"\"")) << two;
  const std::wstring three = untagged->document();
  EXPECT_NE(std::wstring::npos, three.find(L"fdt:tag=\"T3\"")) << three;
  EXPECT_EQ(L"T3", TableEntry(L"B3").dtmTag);

  // Read back from the child's document, the address written in that form
  // is the address, not "unknown" (which "next free address" would hand
  // out again).
  const uint32_t counter = OwnerUi4(1010);
  com::Bstr b1(L"B1");
  ASSERT_EQ(S_OK, hart_->ChildDtmChanged(b1.get()));
  EXPECT_EQ(7, TableEntry(L"B1").address);
  EXPECT_EQ(counter, OwnerUi4(1010));
  frame_->setChildNodes(kChannelPath, frame_double::DtmChildListDocument({L"B1", L"B2", L"B3", L"B4"}));
  AddChildDtm(L"B4", ChildDocument(L"T4", 0));
  ASSERT_EQ(S_OK, hart_->UpdateChildList());
  EXPECT_EQ(7, TableEntry(L"B1").address);
  EXPECT_EQ(9, TableEntry(L"B2").address);
}

TEST_F(ChildrenTest, RefusedOrInvalidChildDocumentChangesNothing) {
  ChildDtm* child = AddChildDtm(L"C1", ChildDocument(L"PT-101", 5));
  ASSERT_EQ(S_OK, OnAdd(L"C1"));
  const uint32_t counter = OwnerUi4(1010);

  child->setSetAnswer(S_OK, VARIANT_FALSE);
  EXPECT_EQ(E_FAIL, SetInfo(L"C1", 6, L"NEW"));
  EXPECT_EQ(L"PT-101", TableEntry(L"C1").dtmTag);
  EXPECT_EQ(5, TableEntry(L"C1").address);
  EXPECT_EQ(counter, OwnerUi4(1010));
  const auto messages = owner_->messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(L"SetParameters for the new DeviceDTM failed!", messages.back());

  // A document the XML handler does not accept is not rewritten, and the
  // call fails instead of passing on the handler's success code.
  child->setSetAnswer(S_OK, VARIANT_TRUE);
  const size_t written = child->writtenDocuments().size();
  child->setDocument(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMParameterSchema.xml\"><DtmDevice>");
  EXPECT_EQ(E_FAIL, SetInfo(L"C1", 6, L"NEW"));
  EXPECT_EQ(written, child->writtenDocuments().size());
  EXPECT_EQ(L"PT-101", TableEntry(L"C1").dtmTag);

  // A changed child whose document cannot be read keeps its entry.
  com::Bstr systemTag(L"C1");
  EXPECT_TRUE(FAILED(hart_->ChildDtmChanged(systemTag.get())));
  EXPECT_EQ(L"PT-101", TableEntry(L"C1").dtmTag);
  EXPECT_EQ(counter, OwnerUi4(1010));
}

TEST_F(ChildrenTest, ChildDtmChangedTakesTheChildsNewTagAndAddress) {
  ChildDtm* child = AddChildDtm(L"C1", ChildDocument(L"PT-101", 5));
  ASSERT_EQ(S_OK, OnAdd(L"C1"));
  const uint32_t counter = OwnerUi4(1010);
  child->setDocument(ChildDocument(L"PT-900", 33));
  com::Bstr systemTag(L"C1"), unknown(L"nowhere");
  ASSERT_EQ(S_OK, hart_->ChildDtmChanged(systemTag.get()));
  EXPECT_EQ(L"PT-900", TableEntry(L"C1").dtmTag);
  EXPECT_EQ(33, TableEntry(L"C1").address);
  EXPECT_EQ(counter + 1, OwnerUi4(1010));
  EXPECT_EQ(E_POINTER, hart_->ChildDtmChanged(unknown.get()));
}

TEST_F(ChildrenTest, UpdateChildListRebuildsFromTheFramesList) {
  AddChildDtm(L"F1", ChildDocument(L"TAG-F1", 1));
  AddChildDtm(L"F2", ChildDocument(L"TAG-F2", 2));
  frame_->setChildNodes(kChannelPath, frame_double::DtmChildListDocument({L"F1", L"F2"}));
  childOwner_->clearCalls();
  ASSERT_EQ(S_OK, hart_->UpdateChildList());
  EXPECT_EQ(2u, ChildCount());
  EXPECT_EQ(L"TAG-F2", TableEntry(L"F2").dtmTag);
  EXPECT_TRUE(Removable(L"F1"));
  EXPECT_TRUE(Removable(L"F2"));
  EXPECT_FALSE(childOwner_->callsTo("SetModified").empty());

  // Nothing changed: nothing is read again.
  const size_t reads = FrameCalls("GetDtmForSystemTag");
  ASSERT_EQ(S_OK, hart_->UpdateChildList());
  EXPECT_EQ(reads, FrameCalls("GetDtmForSystemTag"));

  // A child left the frame.
  frame_->setChildNodes(kChannelPath, frame_double::DtmChildListDocument({L"F2"}));
  ASSERT_EQ(S_OK, hart_->UpdateChildList());
  EXPECT_EQ(1u, ChildCount());
  EXPECT_FALSE(Removable(L"F1"));

  // A list entry without a system tag fails the call and changes nothing.
  frame_->setChildNodes(kChannelPath,
                        L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMSystemTagListSchema.xml\">"
                        L"<DtmChildList><DtmSystemTagList><DtmSystemTag/></DtmSystemTagList></DtmChildList></FDT>");
  EXPECT_EQ(E_FAIL, hart_->UpdateChildList());
  EXPECT_EQ(1u, ChildCount());
}

TEST_F(ChildrenTest, ChildrenChangedEventOnTheWorkerReadsTheListOnce) {
  PlaceChildren({L"F1", L"F2"});
  frame_->setChildNodes(kChannelPath, frame_double::DtmChildListDocument({L"F1", L"F2"}));
  ASSERT_EQ(S_OK, Start());
  com::Variant key(static_cast<LONG>(hartdtm::CHANNEL_EVENT_CHILDREN_CHANGED)), empty;
  // Twice: the second reading must not list the tags again.
  ASSERT_EQ(S_OK, base_->PostChannelEvent(key.value(), empty.value()));
  ASSERT_EQ(S_OK, base_->PostChannelEvent(key.value(), empty.value()));
  ASSERT_TRUE(frame_->waitForCalls("GetChildNodes", 2, 20000));
  VARIANT_BOOL stopped = VARIANT_FALSE;
  ASSERT_EQ(S_OK, base_->StopWorker(&stopped));  // the worker has handled both events
  EXPECT_EQ((std::vector<std::wstring>{L"F1", L"F2"}), channel_->Children().Tags());
  EXPECT_EQ(2u, ChildCount());

  // The frame now lists another child: the table no longer matches, is
  // cleared on the worker and rebuilt by the next UpdateChildList.
  AddChildDtm(L"F3", ChildDocument(L"TAG-F3", 3));
  frame_->setChildNodes(kChannelPath, frame_double::DtmChildListDocument({L"F1", L"F3"}));
  ASSERT_EQ(S_OK, Start());
  ASSERT_EQ(S_OK, base_->PostChannelEvent(key.value(), empty.value()));
  ASSERT_TRUE(frame_->waitForCalls("GetChildNodes", 3, 20000));
  ASSERT_EQ(S_OK, base_->StopWorker(&stopped));
  EXPECT_EQ(0u, ChildCount());
  EXPECT_TRUE(channel_->Children().Stale());
  ASSERT_EQ(S_OK, hart_->UpdateChildList());
  EXPECT_EQ(2u, ChildCount());
  EXPECT_EQ(L"TAG-F3", TableEntry(L"F3").dtmTag);
  EXPECT_FALSE(channel_->Children().Stale());
}

// ---- the channel's stream --------------------------------------------------------

std::vector<uint8_t> StreamBytes(IStream* stream) {
  STATSTG stat = {};
  stream->Stat(&stat, STATFLAG_NONAME);
  std::vector<uint8_t> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  return bytes;
}

com::ComPtr<IStream> StreamOf(const std::vector<uint8_t>& bytes) {
  com::ComPtr<IStream> stream;
  ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
  ULONG written = 0;
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  return stream;
}

TEST_F(ChildrenTest, ChildTableIsSavedAfterTheParametersAndReloaded) {
  PlaceChildren({L"S1", L"S2"}, 4);
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, base_.as(persist));
  EXPECT_EQ(S_OK, persist->IsDirty());
  com::ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  ULARGE_INTEGER sizeMax = {};
  ASSERT_EQ(S_OK, persist->GetSizeMax(&sizeMax));
  EXPECT_EQ(S_OK, persist->IsDirty()) << "measuring is no save";
  ASSERT_EQ(S_OK, persist->Save(stream.get(), TRUE));
  EXPECT_EQ(S_FALSE, persist->IsDirty());
  const std::vector<uint8_t> saved = StreamBytes(stream.get());
  // Storage sized by GetSizeMax holds what Save writes.
  EXPECT_EQ(saved.size(), sizeMax.QuadPart);

  // The expected tail: count, then address, system tag and DTM tag of each
  // child in table order, then the property map.
  com::ComPtr<IStream> expected;
  ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, expected.put()));
  com::Variant count;
  count.get()->vt = VT_UI4;
  count.get()->ulVal = 2;
  com::writeVariant(expected.get(), count.value());
  const wchar_t* tags[][2] = {{L"S1", L"TAG-S1"}, {L"S2", L"TAG-S2"}};
  for (int i = 0; i < 2; ++i) {
    com::Variant address;
    address.get()->vt = VT_UI1;
    address.get()->bVal = static_cast<BYTE>(4 + i);
    com::writeVariant(expected.get(), address.value());
    com::Bstr s(tags[i][0]), d(tags[i][1]);
    com::writeBstr(expected.get(), s.get());
    com::writeBstr(expected.get(), d.get());
  }
  com::writeEmptyPropertyMap(expected.get());
  const std::vector<uint8_t> tail = StreamBytes(expected.get());
  ASSERT_GT(saved.size(), tail.size());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), saved.end() - static_cast<std::ptrdiff_t>(tail.size())));

  // A second channel takes the table back from the stream, twice without
  // doubling it.
  com::ComPtr<IevFdtBaseChannel> other;
  ASSERT_EQ(S_OK, com::createObject<hartdtm::CHART_Channel>(nullptr, __uuidof(IevFdtBaseChannel), other.putVoid()));
  ASSERT_EQ(S_OK, other->Initialize(ownerUnknown_.get()));
  com::ComPtr<IPersistStreamInit> otherPersist;
  com::ComPtr<IHART_Channel> otherHart;
  ASSERT_EQ(S_OK, other.as(otherPersist));
  ASSERT_EQ(S_OK, other.as(otherHart));
  ASSERT_EQ(S_OK, otherPersist->Load(StreamOf(saved).get()));
  ASSERT_EQ(S_OK, otherPersist->Load(StreamOf(saved).get()));
  unsigned long children = 0;
  ASSERT_EQ(S_OK, otherHart->GetChildDtmCount(&children));
  EXPECT_EQ(2u, children);
  com::Bstr systemTag, dtmTag;
  unsigned char address = 0;
  ASSERT_EQ(S_OK, otherHart->GetChildDtmInfoByIndex(1, systemTag.put(), dtmTag.put(), &address));
  EXPECT_EQ(L"S2", Text(systemTag.get()));
  EXPECT_EQ(L"TAG-S2", Text(dtmTag.get()));
  EXPECT_EQ(5, address);
}

TEST_F(ChildrenTest, DamagedStreamLeavesTheChildTableAsItWas) {
  PlaceChildren({L"S1"}, 4);
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, base_.as(persist));
  com::ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  ASSERT_EQ(S_OK, persist->Save(stream.get(), FALSE));
  const std::vector<uint8_t> saved = StreamBytes(stream.get());

  // The parameter section of an empty channel: the saved stream without the
  // child section and property map.
  com::ComPtr<IStream> tailStream;
  ::CreateStreamOnHGlobal(nullptr, TRUE, tailStream.put());
  channel_->SaveChildList(tailStream.get());
  com::writeEmptyPropertyMap(tailStream.get());
  const size_t tailSize = StreamBytes(tailStream.get()).size();
  std::vector<uint8_t> hostile(saved.begin(), saved.end() - static_cast<std::ptrdiff_t>(tailSize));
  // A count of nearly four billion children, followed by one record.
  com::ComPtr<IStream> records;
  ::CreateStreamOnHGlobal(nullptr, TRUE, records.put());
  com::Variant count;
  count.get()->vt = VT_UI4;
  count.get()->ulVal = 0xFFFFFFF0u;
  com::writeVariant(records.get(), count.value());
  com::Variant address;
  address.get()->vt = VT_UI1;
  address.get()->bVal = 1;
  com::writeVariant(records.get(), address.value());
  com::Bstr s(L"X"), d(L"Y");
  com::writeBstr(records.get(), s.get());
  com::writeBstr(records.get(), d.get());
  const std::vector<uint8_t> recordBytes = StreamBytes(records.get());
  hostile.insert(hostile.end(), recordBytes.begin(), recordBytes.end());

  EXPECT_TRUE(FAILED(persist->Load(StreamOf(hostile).get())));
  EXPECT_EQ(1u, ChildCount());
  EXPECT_EQ(L"TAG-S1", TableEntry(L"S1").dtmTag);

  // The stream holds one child; the channel now has two. A stream cut in
  // its last item (the property map) or in the last child record changes
  // nothing.
  AddChildDtm(L"S2", ChildDocument(L"TAG-S2", 5));
  ASSERT_EQ(S_OK, OnAdd(L"S2"));
  ASSERT_EQ(2u, ChildCount());
  for (size_t cut : {size_t(2), size_t(6)}) {
    SCOPED_TRACE(cut);
    const std::vector<uint8_t> shorter(saved.begin(), saved.end() - static_cast<std::ptrdiff_t>(cut));
    EXPECT_TRUE(FAILED(persist->Load(StreamOf(shorter).get())));
    EXPECT_EQ(2u, ChildCount());
    EXPECT_EQ(L"TAG-S2", TableEntry(L"S2").dtmTag);
  }
  EXPECT_EQ(E_POINTER, persist->Load(nullptr));
}

// ---- address assignment ----------------------------------------------------------

std::wstring DeviceList(const wchar_t* show, const std::vector<std::pair<std::wstring, std::vector<std::wstring>>>& devices,
                        const wchar_t* listErrorInfo = nullptr) {
  std::wstring doc =
      L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMDeviceListSchema.xml\" "
      L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><DeviceList";
  if (show) doc += L" showUserInterface=\"" + std::wstring(show) + L"\"";
  if (listErrorInfo) doc += L" errorInfo=\"" + std::wstring(listErrorInfo) + L"\"";
  doc += L">";
  for (const auto& device : devices) {
    doc += L"<Device fdt:systemTag=\"" + device.first + L"\"><BusAddressList>";
    for (const std::wstring& a : device.second) doc += L"<BusAddress fdt:busAddress=\"" + a + L"\"/>";
    doc += L"</BusAddressList></Device>";
  }
  return doc + L"</DeviceList></FDT>";
}

class AddressAssignmentTest : public ChildrenTest {
 protected:
  HRESULT Assign(const std::wstring& list, std::wstring* answer) {
    com::ComPtr<IFdtChannelSubTopology2> second;
    EXPECT_EQ(S_OK, base_.as(second));
    com::Bstr in(list.c_str()), out;
    const HRESULT hr = second->SetChildrenAddresses(in.get(), out.put());
    *answer = Text(out.get());
    return hr;
  }
};

TEST_F(AddressAssignmentTest, NextValidAddressTakesTheLowestFreeOne) {
  PlaceChildren({L"A0", L"A1"}, 0);
  AddChildDtm(L"A3", ChildDocument(L"TAG-A3", 3));
  ASSERT_EQ(S_OK, OnAdd(L"A3"));
  ChildDtm* fresh = AddChildDtm(L"NEW", ChildDocument(L"TAG-NEW", 40));
  ASSERT_EQ(S_OK, OnAdd(L"NEW"));
  std::wstring answer;
  ASSERT_EQ(S_OK, Assign(DeviceList(L"setNextValidAddress", {{L"NEW", {}}}), &answer));
  EXPECT_EQ(2, TableEntry(L"NEW").address);
  EXPECT_NE(std::wstring::npos, fresh->document().find(L"slaveAddress=\"2\""));
  EXPECT_NE(std::wstring::npos, answer.find(L"<DeviceList errorInfo=\"ok\"")) << answer;
  EXPECT_NE(std::wstring::npos, answer.find(L"showUserInterface=\"setNextValidAddress\"")) << answer;
  EXPECT_NE(std::wstring::npos, answer.find(L"<Device fdt:systemTag=\"NEW\" errorInfo=\"ok\"")) << answer;
}

TEST_F(AddressAssignmentTest, ProposedAddressesStopAtTheFirstOutsideThePollingRange) {
  ChildDtm* child = AddChildDtm(L"D1", ChildDocument(L"TAG-D1", 1));
  ASSERT_EQ(S_OK, OnAdd(L"D1"));
  std::wstring answer;
  ASSERT_EQ(S_OK, Assign(DeviceList(L"noUserInterface", {{L"D1", {L"70", L"5"}}}), &answer));
  EXPECT_EQ(1, TableEntry(L"D1").address);
  EXPECT_TRUE(child->writtenDocuments().empty());
  EXPECT_NE(std::wstring::npos, answer.find(L"<DeviceList errorInfo=\"failedToSet\"")) << answer;
  EXPECT_NE(std::wstring::npos, answer.find(L"errorInfo=\"failedToSet\"")) << answer;
  EXPECT_NE(std::wstring::npos, answer.find(L"<BusAddress fdt:busAddress=\"70\" />")) << answer;

  // The first address the child takes is kept; a refused one is passed over.
  ASSERT_EQ(S_OK, Assign(DeviceList(nullptr, {{L"D1", {L"6", L"7"}}}), &answer));
  EXPECT_EQ(6, TableEntry(L"D1").address);
  EXPECT_NE(std::wstring::npos, answer.find(L"<DeviceList errorInfo=\"ok\"")) << answer;
  child->setSetAnswer(S_OK, VARIANT_FALSE);
  ASSERT_EQ(S_OK, Assign(DeviceList(nullptr, {{L"D1", {L"8"}}}), &answer));
  EXPECT_EQ(6, TableEntry(L"D1").address);
  EXPECT_NE(std::wstring::npos, answer.find(L"errorInfo=\"failedToSet\"")) << answer;
}

TEST_F(AddressAssignmentTest, UserDialogAnswersCancelOrTheChosenAddress) {
  AddChildDtm(L"U1", ChildDocument(L"TAG-U1", 4));
  ASSERT_EQ(S_OK, OnAdd(L"U1"));
  childOwner_->setAddressDialog(E_ABORT, 0);
  std::wstring answer;
  ASSERT_EQ(S_OK, Assign(DeviceList(L"openUserInterface", {{L"U1", {}}}), &answer));
  EXPECT_NE(std::wstring::npos, answer.find(L"<DeviceList errorInfo=\"cancelled\"")) << answer;
  EXPECT_NE(std::wstring::npos, answer.find(L"fdt:systemTag=\"U1\" errorInfo=\"cancelled\"")) << answer;
  // The dialog starts from the child's address and shows its tag (1013).
  const auto dialog = childOwner_->callsTo("GetDeviceDtmAddressViaGUI");
  ASSERT_EQ(1u, dialog.size());
  EXPECT_EQ(L"4", dialog[0].argument);
  com::Variant shown;
  ASSERT_EQ(S_OK, owner_->value(1013, shown.put()));
  EXPECT_EQ(L"TAG-U1", Text(shown.get()->bstrVal));

  childOwner_->setAddressDialog(S_OK, 21);
  ASSERT_EQ(S_OK, Assign(DeviceList(L"openUserInterface", {{L"U1", {}}}), &answer));
  EXPECT_EQ(21, TableEntry(L"U1").address);
  EXPECT_NE(std::wstring::npos, answer.find(L"<DeviceList errorInfo=\"ok\"")) << answer;
}

TEST_F(AddressAssignmentTest, ListErrorsAndTextsFromTheDocumentStayWellFormed) {
  // An unknown device fails; the list keeps the errorInfo it came with.
  std::wstring answer;
  ASSERT_EQ(S_OK, Assign(DeviceList(L"noUserInterface", {{L"ghost", {L"1"}}}, L"dtmSpecificError"), &answer));
  EXPECT_NE(std::wstring::npos, answer.find(L"<DeviceList errorInfo=\"dtmSpecificError\"")) << answer;
  EXPECT_NE(std::wstring::npos, answer.find(L"fdt:systemTag=\"ghost\" errorInfo=\"failedToSet\"")) << answer;

  // Markup in a system tag and an address comes back escaped.
  ASSERT_EQ(S_OK, Assign(DeviceList(nullptr, {{L"a&amp;&quot;b&lt;", {L"x&quot;/&gt;"}}}), &answer));
  EXPECT_NE(std::wstring::npos, answer.find(L"fdt:systemTag=\"a&amp;&quot;b&lt;\"")) << answer;
  EXPECT_EQ(std::wstring::npos, answer.find(L"x\"/>")) << answer;
  com::ComPtr<IXMLDOMDocument2> parsed;
  VARIANT_BOOL created = VARIANT_FALSE;
  ASSERT_EQ(S_OK, XmlCreateAndLoad(answer.c_str(), parsed.put(), &created));
  com::ComPtr<IXMLDOMElement> root;
  EXPECT_EQ(S_OK, parsed->get_documentElement(root.put()));
  EXPECT_TRUE(root) << answer;

  // A list that declares a document type, as one that is no document.
  std::wstring malformed;
  const HRESULT refused = Assign(L"<FDT", &malformed);
  EXPECT_EQ(refused, Assign(testsupport::WithEntityBomb(DeviceList(nullptr, {{L"{BOMB}", {L"1"}}})), &answer));
  EXPECT_EQ(malformed, answer);

  // A showUserInterface outside the schema's values is refused without an answer.
  EXPECT_EQ(E_FAIL, Assign(DeviceList(L"sometimes", {{L"ghost", {}}}), &answer));
  EXPECT_TRUE(answer.empty());
  // Outside the states 7 to 12 nothing is assigned.
  childOwner_->setState(5);
  EXPECT_EQ(S_FALSE, Assign(DeviceList(nullptr, {{L"ghost", {L"1"}}}), &answer));
  EXPECT_TRUE(answer.empty());
}

// ---- channel parameter audit --------------------------------------------------------

TEST_F(ChildrenTest, ChangedChannelNameWritesOneAuditEntry) {
  com::ComPtr<IevFdtParameterHandler4> handler;
  ASSERT_EQ(S_OK, base_.as(handler));
  com::Variant key;
  key.get()->vt = VT_UI4;
  key.get()->ulVal = hartdtm::kParChannelName;
  const std::wstring longName(300, L'n');
  com::Variant value(longName.c_str());
  childOwner_->clearCalls();
  ASSERT_EQ(S_OK, handler->WriteParameter(key.value(), value.value()));
  const auto events = childOwner_->callsTo("WriteVariableEvent");
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(L"FSK Mavix - HART Channel (VT_BSTR)", events[0].argument);
  // old|new|event: the new value is cut to 260 characters.
  EXPECT_EQ(L"FSK Mavix - HART Channel|" + std::wstring(260, L'n') + L"|", events[0].second);
}

}  // namespace
}  // namespace channeltest
