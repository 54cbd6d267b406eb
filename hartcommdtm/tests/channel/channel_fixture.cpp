#include "channel_fixture.h"

#include <cstdio>
#include <cwctype>

#include "com/Bstr.h"
#include "com/Variant.h"
#include "shared/registry_layout.h"
#include "type_libraries.h"
#include "win32/unique_handle.h"

namespace channeltest {

const wchar_t kHartProtocol[] = L"{036D1498-387B-11D4-86E1-00E0987270B9}";

namespace {

const wchar_t kHead[] =
    L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">";

std::wstring Num(unsigned v) { return std::to_wstring(v); }

void DeleteAdapterKeys() {
  ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, shared::kEnumKeyPath, shared::kRegistryView, 0);
  win32::UniqueRegKey config;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, shared::kConfigKeyPath, 0, KEY_ALL_ACCESS | shared::kRegistryView,
                      config.put()) == ERROR_SUCCESS)
    ::RegDeleteTreeA(config.get(), nullptr);
}

void SetDword(const std::string& path, const char* name, DWORD value) {
  win32::UniqueRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS | shared::kRegistryView, nullptr, key.put(), nullptr));
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value));
}

// Registered and kept loaded while the workers marshal (type_libraries.h).
void RegisterTypeLibraries() {
  wchar_t exe[MAX_PATH];
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  for (const wchar_t* id : {L"", L"\\2", L"\\3"}) testsupport::RegisterTypeLibrary(std::wstring(exe) + id);
}

uint16_t g_nextSerial = 0xC100;

}  // namespace

std::wstring ConnectShortDocument(uint8_t shortAddress, const wchar_t* tag) {
  return std::wstring(kHead) + L"<ConnectRequest fdt:tag=\"" + tag +
         L"\" fdt:systemTag=\"DEV-1\"><ShortAddress shortAddress=\"" + Num(shortAddress) +
         L"\"/></ConnectRequest></FDT>";
}

std::wstring ConnectLongDocument(uint8_t manufacturer, uint8_t deviceType, uint8_t a1, uint8_t a2, uint8_t a3,
                                 uint8_t shortAddress, const wchar_t* tag) {
  return std::wstring(kHead) + L"<ConnectRequest fdt:tag=\"" + tag +
         L"\" fdt:systemTag=\"DEV-1\"><LongAddress manufacturerId=\"" + Num(manufacturer) + L"\" deviceTypeId=\"" +
         Num(deviceType) + L"\" address1=\"" + Num(a1) + L"\" address2=\"" + Num(a2) + L"\" address3=\"" + Num(a3) +
         L"\"/><ShortAddress shortAddress=\"" + Num(shortAddress) + L"\"/></ConnectRequest></FDT>";
}

std::wstring DataExchangeDocument(const std::wstring& reference, uint8_t command, const std::wstring& bytes) {
  std::wstring data;
  if (!bytes.empty()) data = L"<fdt:CommunicationData byteArray=\"" + bytes + L"\"/>";
  return std::wstring(kHead) + L"<DataExchangeRequest communicationReference=\"" + reference +
         L"\" commandNumber=\"" + Num(command) + L"\">" + data + L"</DataExchangeRequest></FDT>";
}

std::wstring DisconnectDocument(const std::wstring& reference) {
  return std::wstring(kHead) + L"<DisconnectRequest communicationReference=\"" + reference + L"\"/></FDT>";
}

std::wstring SubscribeDocument(const std::wstring& reference, bool subscribe) {
  return std::wstring(kHead) + (subscribe ? L"<SubscribeRequest" : L"<UnsubscribeRequest") +
         L" communicationReference=\"" + reference + L"\"/></FDT>";
}

std::wstring InvokeId(unsigned number) {
  wchar_t text[40];
  std::swprintf(text, 40, L"6f1c2a10-0000-4000-8000-%012X", number);
  return text;
}

std::wstring Attribute(const std::wstring& document, const wchar_t* name) {
  // The name after any blank (the templates also use tabs).
  const std::wstring key = std::wstring(name) + L"=\"";
  for (size_t at = document.find(key); at != std::wstring::npos; at = document.find(key, at + 1)) {
    if (at == 0 || !iswspace(document[at - 1])) continue;
    const size_t start = at + key.size();
    return document.substr(start, document.find(L'"', start) - start);
  }
  return std::wstring();
}

std::wstring Hex(const std::vector<uint8_t>& bytes) {
  std::wstring text;
  wchar_t two[3];
  for (uint8_t b : bytes) {
    std::swprintf(two, 3, L"%02X", b);
    text += two;
  }
  return text;
}

std::wstring Replaced(std::wstring document, const std::wstring& from, const std::wstring& to) {
  const size_t at = document.find(from);
  EXPECT_NE(std::wstring::npos, at) << "no " << std::string(from.begin(), from.end());
  if (at != std::wstring::npos) document.replace(at, from.size(), to);
  return document;
}

ULONG References(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

void ChannelTest::SetUpTestSuite() {
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  RegisterTypeLibraries();
}

void ChannelTest::TearDownTestSuite() { ::CoUninitialize(); }

void ChannelTest::SetUp() {
  DeleteAdapterKeys();
  serial_ = g_nextSerial++;
  char temp[MAX_PATH];
  ::GetTempPathA(sizeof temp, temp);
  std::string folder = std::string(temp) + "channel-devices\\";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  char name[32];
  std::snprintf(name, sizeof name, "adapter-%04X", serial_);
  devicePath_ = folder + name;
  ASSERT_TRUE(SimCreateAdapter(std::wstring(devicePath_.begin(), devicePath_.end()).c_str(), serial_));
  SetDword(shared::kEnumKeyPath, devicePath_.c_str(), serial_);
  SetDword(std::string(shared::kConfigKeyPath) + "\\0", shared::kUsbIdValueName, serial_);
}

void ChannelTest::TearDown() {
  // The owner goes as the DTM leaves its channel: offline first (the
  // worker's detach still reaches the owner), then told by its channel
  // container, since the channel holds the owner without a reference.
  // Fixtures keep more of the channel (ScanTest's hart_) past this point,
  // and a worker left running would reach a destroyed owner.
  if (base_) {
    VARIANT_BOOL stopped = VARIANT_FALSE;
    base_->StopWorker(&stopped);
    channel_->OwnerGone();
  }
  communication_ = nullptr;
  base_ = nullptr;
  channel_ = nullptr;
  ownerUnknown_ = nullptr;
  frameUnknown_ = nullptr;
  SimRemoveAdapter(serial_);
  DeleteAdapterKeys();
}

SimFieldDevice ChannelTest::AddDevice(uint8_t pollingAddress, uint32_t deviceId, uint8_t revision) {
  SimFieldDevice d;
  SimInitFieldDevice(&d);
  d.pollingAddress = pollingAddress;
  d.deviceId = deviceId;
  d.hartRevision = revision;
  std::snprintf(d.tag, sizeof d.tag, "TAG%02u", pollingAddress);
  std::snprintf(d.longTag, sizeof d.longTag, "Long tag of %u", pollingAddress);
  EXPECT_TRUE(SimAddFieldDevice(serial_, &d));
  return d;
}

void ChannelTest::MakeChannel() {
  ownerUnknown_ = createChannelOwner(&owner_);
  ASSERT_TRUE(ownerUnknown_);
  frameUnknown_ = frame_double::createScanEventsFrame(&scanFrame_);
  frame_ = scanFrame_;
  ASSERT_TRUE(frameUnknown_);
  frame_->setAgile(agileFrame_);
  ASSERT_EQ(S_OK, com::createObject<hartdtm::CHART_Channel>(nullptr, __uuidof(IevFdtBaseChannel), base_.putVoid()));
  channel_ = static_cast<hartdtm::CHART_Channel*>(base_.get());
  ASSERT_EQ(S_OK, base_.as(communication_));
  ASSERT_EQ(S_OK, base_->Initialize(ownerUnknown_.get()));
  ASSERT_EQ(S_OK, base_->SetOwner(frameUnknown_.get()));
  com::Bstr tag(L"HART");
  ASSERT_EQ(S_OK, base_->SetChannelTag(tag.get()));
  if (fdt121Frame_) {
    com::Variant key(10006), version(1);
    ASSERT_EQ(S_OK, base_->PostChannelEvent(key.value(), version.value()));
  }
}

HRESULT ChannelTest::Start() { return base_->StartWorker(); }

com::ComPtr<IChildCommunicationEvents> ChannelTest::NewDeviceDtm(devicedtm_double::DeviceDtm** object, bool fdt121) {
  devicedtm_double::DeviceDtm* dtm = nullptr;
  com::ComPtr<IChildCommunicationEvents> callback = devicedtm_double::createDeviceDtm(&dtm);
  dtm->setFdt121(fdt121);
  *object = dtm;
  return callback;
}

bool ChannelTest::Connect(IChildCommunicationEvents* dtm, unsigned invoke, const std::wstring& document) {
  com::Bstr id(InvokeId(invoke).c_str()), protocol(kHartProtocol), doc(document.c_str());
  VARIANT_BOOL queued = VARIANT_FALSE;
  EXPECT_EQ(S_OK, communication_->ConnectRequest(dtm, id.get(), protocol.get(), doc.get(), &queued));
  return queued != VARIANT_FALSE;
}

bool ChannelTest::Transact(unsigned invoke, const std::wstring& document) {
  com::Bstr id(InvokeId(invoke).c_str()), doc(document.c_str());
  VARIANT_BOOL queued = VARIANT_FALSE;
  EXPECT_EQ(S_OK, communication_->TransactionRequest(id.get(), doc.get(), &queued));
  return queued != VARIANT_FALSE;
}

std::wstring ChannelTest::ConnectAndWait(devicedtm_double::DeviceDtm* dtm, IChildCommunicationEvents* callback,
                                         uint8_t shortAddress, unsigned invoke) {
  const size_t before = dtm->answerCount();
  if (!Connect(callback, invoke, ConnectShortDocument(shortAddress))) return std::wstring();
  const devicedtm_double::Answer answer = WaitAnswer(dtm, before + 1);
  return Attribute(answer.document, L"communicationReference");
}

devicedtm_double::Answer ChannelTest::WaitAnswer(devicedtm_double::DeviceDtm* dtm, size_t count, DWORD timeoutMs) {
  EXPECT_TRUE(dtm->waitForAnswers(count, timeoutMs)) << "answers: " << dtm->answerCount();
  const auto answers = dtm->answers();
  return answers.size() >= count ? answers[count - 1] : devicedtm_double::Answer();
}

SimAdapterState ChannelTest::AdapterState() {
  SimAdapterState state = {};
  SimGetAdapterState(serial_, &state);
  return state;
}

uint32_t ChannelTest::OwnerUi4(ULONG id) {
  com::Variant value;
  if (FAILED(owner_->value(id, value.put())) || FAILED(value.changeType(VT_UI4))) return 0xFFFFFFFF;
  return value.get()->ulVal;
}

void ChannelTest::SetOwnerByte(ULONG id, uint8_t value) {
  com::Variant v;
  v.get()->vt = VT_UI1;
  v.get()->bVal = value;
  ASSERT_EQ(S_OK, owner_->set(id, v.value()));
}

}  // namespace channeltest
