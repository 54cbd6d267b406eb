// The pipe loop in-process: length rules, the 8-zero-byte reply, requests
// that must never be executed, and how the loop ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <cstring>

#include "installkit_double.h"
#include "pipe_server.h"
#include "shared/registry_layout.h"
#include "shared/service_pipe.h"
#include "test_support.h"
#include "virtual_ports.h"
#include "win32/unique_handle.h"

// The import slot through which this program calls FlushFileBuffers.
extern "C" decltype(&FlushFileBuffers) g_flushImport __asm__(
#ifdef _WIN64
    "__imp_FlushFileBuffers"
#else
    "__imp__FlushFileBuffers@4"
#endif
);

namespace {

using namespace pnpsvc_test;

// Sends one message; answers whether the reply was exactly 8 zero bytes.
bool Call(const std::vector<uint8_t>& message) {
  uint8_t reply[100];
  std::memset(reply, 0xAA, sizeof(reply));
  DWORD got = 0;
  if (!CallNamedPipeA(shared::kServicePipeName, const_cast<uint8_t*>(message.data()),
                      static_cast<DWORD>(message.size()), reply, sizeof(reply), &got, 3000))
    return false;
  return got == 8 && std::memcmp(reply, shared::kServicePipeReply, 8) == 0;
}

// Wine's FlushFileBuffers on a pipe returns at once; Windows' returns on the
// server end only when the client has read everything. While a
// WindowsPipeFlush lives, this program's calls of FlushFileBuffers (through
// its import slot) wait so on the server end of a pipe: until the client has
// closed its end, as a client that takes its reply does (CallNamedPipeA), or
// at most kCapMs, so that a loop caught in one fails its test instead of
// hanging it. One at a time.
class WindowsPipeFlush {
 public:
  static constexpr DWORD kCapMs = 3 * pnpsvc::kClientIoTimeoutMs;

  WindowsPipeFlush() {
    platform_ = g_flushImport;
    Patch(&Flush);
  }
  ~WindowsPipeFlush() { Patch(platform_); }
  WindowsPipeFlush(const WindowsPipeFlush&) = delete;
  WindowsPipeFlush& operator=(const WindowsPipeFlush&) = delete;

 private:
  static BOOL WINAPI Flush(HANDLE file) {
    DWORD flags = 0;
    if (GetFileType(file) == FILE_TYPE_PIPE && GetNamedPipeInfo(file, &flags, nullptr, nullptr, nullptr) &&
        (flags & PIPE_SERVER_END)) {
      const DWORD start = GetTickCount();
      while (ClientConnected(file) && GetTickCount() - start < kCapMs) Sleep(10);
    }
    return platform_(file);
  }

  // Whether the client's end is still open. (Not PeekNamedPipe: that goes on
  // succeeding after the close while part of the request is left unread.)
  static bool ClientConnected(HANDLE pipe) {
    constexpr ULONG kConnectedState = 3;
    IO_STATUS_BLOCK io = {};
    FILE_PIPE_LOCAL_INFORMATION info = {};
    return NtQueryInformationFile(pipe, &io, &info, sizeof info, FilePipeLocalInformation) >= 0 &&
           info.NamedPipeState == kConnectedState;
  }

  static void Patch(decltype(&FlushFileBuffers) to) {
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(&g_flushImport, sizeof(g_flushImport), PAGE_READWRITE, &old));
    g_flushImport = to;
    VirtualProtect(&g_flushImport, sizeof(g_flushImport), old, &old);
  }

  static inline decltype(&FlushFileBuffers) platform_ = nullptr;
};

// A client that sends `message` and then neither reads nor closes.
HANDLE SendAndHold(const std::vector<uint8_t>& message) {
  HANDLE client = CreateFileA(shared::kServicePipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  if (client == INVALID_HANDLE_VALUE) return client;
  DWORD written = 0;
  if (!WriteFile(client, message.data(), static_cast<DWORD>(message.size()), &written, nullptr)) {
    CloseHandle(client);
    return INVALID_HANDLE_VALUE;
  }
  return client;
}

// Whether the service's reply waits in `client`'s end (within five seconds).
bool ReplyWaits(HANDLE client) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(10)) {
    DWORD available = 0;
    if (!PeekNamedPipe(client, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == shared::kServicePipeReplySize) return true;
  }
  return false;
}

std::vector<uint8_t> Bytes(const char* text, size_t length) {
  return std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(text), reinterpret_cast<const uint8_t*>(text) + length);
}

class PipeServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearAdapterRegistry();
    installkit_double::Reset();
    pnpsvc::SetInstallKitRunner(installkit_double::Run);
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    io_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    pipe_ = CreateNamedPipeA(shared::kServicePipeName, shared::kServicePipeOpenMode, shared::kServicePipeMode, 1,
                             OutBufferSize(), 0, 1000, nullptr);
    ASSERT_NE(pipe_, INVALID_HANDLE_VALUE);
    thread_ = CreateThread(nullptr, 0, [](void* self) -> DWORD {
      auto* t = static_cast<PipeServerTest*>(self);
      pnpsvc::ServiceLoop(t->pipe_, t->io_, t->stop_);
      return 0;
    }, this, 0, nullptr);
  }
  void TearDown() override {
    SetEvent(stop_);
    EXPECT_EQ(WaitForSingleObject(thread_, 5000), WAIT_OBJECT_0);
    CloseHandle(thread_);
    CloseHandle(pipe_);
    CloseHandle(io_);
    CloseHandle(stop_);
    pnpsvc::SetInstallKitRunner(nullptr);
  }

  // The service's pipe asks for the system's default buffers (0).
  virtual DWORD OutBufferSize() const { return 0; }

  // The pipe's flush as on Windows, for every case of the loop.
  WindowsPipeFlush flush_;
  HANDLE stop_ = nullptr, io_ = nullptr, pipe_ = INVALID_HANDLE_VALUE, thread_ = nullptr;
};

TEST_F(PipeServerTest, KeyRequestsNeedTheirExactLength) {
  auto create5 = shared::BuildCreateKeyRequest("5");
  ASSERT_EQ(create5.size(), 18u);
  auto longer = create5;
  longer.push_back(0);
  EXPECT_TRUE(Call(longer));
  EXPECT_FALSE(KeyExists("Software\\VELTRA\\evHRT USB\\Config\\5"));
  EXPECT_TRUE(Call(create5));
  EXPECT_TRUE(KeyExists("Software\\VELTRA\\evHRT USB\\Config\\5"));

  EXPECT_TRUE(Call(shared::BuildCreateKeyRequest("5\\6")));  // only device-number keys
  EXPECT_FALSE(KeyExists("Software\\VELTRA\\evHRT USB\\Config\\5\\6"));
  EXPECT_TRUE(Call(shared::BuildDeleteKeyRequest("5")));
  EXPECT_FALSE(KeyExists("Software\\VELTRA\\evHRT USB\\Config\\5"));
}

TEST_F(PipeServerTest, SetValueWritesTheDwordAndDeleteKeepsKeysWithSubkeys) {
  auto set = shared::BuildSetDwordRequest("5", "USB-Id", 0x1234);
  ASSERT_EQ(set.size(), 36u);
  EXPECT_TRUE(Call(set));
  DWORD value = 0;
  EXPECT_TRUE(ReadDword("Software\\VELTRA\\evHRT USB\\Config\\5", "USB-Id", &value));
  EXPECT_EQ(value, 0x1234u);

  // A key with a subkey stays (the subkey made here directly, not by request).
  HKEY sub = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\VELTRA\\evHRT USB\\Config\\5\\extra", 0, nullptr, 0,
                  KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &sub, nullptr);
  RegCloseKey(sub);
  EXPECT_TRUE(Call(shared::BuildDeleteKeyRequest("5")));
  EXPECT_TRUE(KeyExists("Software\\VELTRA\\evHRT USB\\Config\\5"));
}

TEST_F(PipeServerTest, EmptyKeyNeverTouchesConfigKeyItself) {
  ASSERT_TRUE(Call(shared::BuildCreateKeyRequest("0")));
  auto before = Snapshot(shared::kConfigKeyPath);
  EXPECT_TRUE(Call(Bytes("evHRT_DeleteKey\0\0", 17)));
  EXPECT_TRUE(Call(Bytes("evHRT_SetValue\0\0X\0\4\0\0\0\4\0\0\0abcd", 29)));
  EXPECT_TRUE(KeyExists(shared::kConfigKeyPath));
  EXPECT_EQ(Snapshot(shared::kConfigKeyPath), before);
}

TEST_F(PipeServerTest, OnlyDecimalDeviceNumbersAreKeys) {
  for (const char* key : {"256", "05", "00", "-1", "+1", "1a", " 1", "1 ", "abc", "1000", "4294967296", "1\\2"}) {
    EXPECT_TRUE(Call(shared::BuildCreateKeyRequest(key))) << key;
    EXPECT_TRUE(Call(shared::BuildSetDwordRequest(key, "USB-Id", 0x1234))) << key;
  }
  EXPECT_TRUE(Snapshot(shared::kAdapterRootKeyPath).empty());
  EXPECT_TRUE(Call(shared::BuildCreateKeyRequest("0")));
  EXPECT_TRUE(Call(shared::BuildSetDwordRequest("255", "USB-Id", 0x1234)));
  EXPECT_TRUE(KeyExists("Software\\VELTRA\\evHRT USB\\Config\\0"));
  DWORD serial = 0;
  EXPECT_TRUE(ReadDword("Software\\VELTRA\\evHRT USB\\Config\\255", "USB-Id", &serial));
  EXPECT_EQ(serial, 0x1234u);
}

TEST_F(PipeServerTest, RenumerateNeedsSeventeenBytesAndShortMessagesAreAnswered) {
  EXPECT_TRUE(Call(Bytes("evHRT_Renumerate\0\0", 18)));
  EXPECT_TRUE(installkit_double::Commands().empty());
  EXPECT_TRUE(Call(shared::BuildRenumerateRequest()));
  ASSERT_EQ(installkit_double::Commands().size(), 1u);
  EXPECT_EQ(installkit_double::Commands()[0], "remove vtVCP\\VirtualSerial");
  EXPECT_TRUE(Call(Bytes("evH", 3)));
  EXPECT_TRUE(Call(Bytes("", 0)));
}

// The first 180 bytes of this message form a valid SetValue request on their
// own; the whole message is longer and must not be executed.
TEST_F(PipeServerTest, OversizedMessageIsNeverExecutedFromItsFirstPart) {
  std::vector<uint8_t> data(153, 'D');
  auto first = shared::BuildSetValueRequest("5", "X", REG_BINARY, data.data(), 153);
  ASSERT_EQ(first.size(), 180u);
  auto message = first;
  message.resize(260, 'T');
  EXPECT_TRUE(Call(message));
  EXPECT_FALSE(KeyExists("Software\\VELTRA\\evHRT USB\\Config\\5"));
  EXPECT_TRUE(Call(first));  // the same bytes as a message of their own are a request
  EXPECT_TRUE(KeyExists("Software\\VELTRA\\evHRT USB\\Config\\5"));
}

TEST_F(PipeServerTest, SilentClientIsDroppedSoOthersGetThrough) {
  HANDLE silent = CreateFileA(shared::kServicePipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  ASSERT_NE(silent, INVALID_HANDLE_VALUE);
  DWORD start = GetTickCount();
  bool answered = false;
  while (!answered && GetTickCount() - start < pnpsvc::kClientIoTimeoutMs + 4000) {
    WaitNamedPipeA(shared::kServicePipeName, 1000);
    answered = Call(shared::BuildCreateKeyRequest("1"));
  }
  EXPECT_TRUE(answered);
  EXPECT_TRUE(KeyExists("Software\\VELTRA\\evHRT USB\\Config\\1"));
  CloseHandle(silent);
}

// A client that sent its request and never takes the reply (hostile, or
// frozen in a debugger) is dropped after the client time-out, and a stop
// meanwhile ends the loop at once. Buffer sizes are advisory: Wine makes the
// reply's write wait for the reader when the pipe has no buffer of its own,
// and lets it complete into the buffer when it has; either way the loop
// must not wait for the client past the time-out.
class ReplyHolderTest : public PipeServerTest, public ::testing::WithParamInterface<DWORD> {
 protected:
  DWORD OutBufferSize() const override { return GetParam(); }
};

TEST_P(ReplyHolderTest, ClientThatNeverTakesItsReplyIsDroppedSoOthersGetThrough) {
  HANDLE holder = SendAndHold(shared::BuildCreateKeyRequest("2"));
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(ReplyWaits(holder));
  EXPECT_TRUE(KeyExists("Software\\VELTRA\\evHRT USB\\Config\\2"));
  DWORD start = GetTickCount();
  bool answered = false;
  while (!answered && GetTickCount() - start < pnpsvc::kClientIoTimeoutMs + 4000) {
    WaitNamedPipeA(shared::kServicePipeName, 1000);
    answered = Call(shared::BuildCreateKeyRequest("1"));
  }
  EXPECT_TRUE(answered);
  EXPECT_TRUE(KeyExists("Software\\VELTRA\\evHRT USB\\Config\\1"));
  EXPECT_FALSE(PeekNamedPipe(holder, nullptr, 0, nullptr, nullptr, nullptr)) << "the holder was disconnected";
  CloseHandle(holder);
}

TEST_P(ReplyHolderTest, StopEndsTheLoopWhileAClientHoldsItsReply) {
  HANDLE holder = SendAndHold(shared::BuildCreateKeyRequest("2"));
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(ReplyWaits(holder));
  SetEvent(stop_);
  // Well before the client time-out would end the wait.
  EXPECT_EQ(WaitForSingleObject(thread_, pnpsvc::kClientIoTimeoutMs / 2), WAIT_OBJECT_0);
  CloseHandle(holder);
}

INSTANTIATE_TEST_SUITE_P(Unbuffered, ReplyHolderTest, ::testing::Values(0));
INSTANTIATE_TEST_SUITE_P(Buffered, ReplyHolderTest, ::testing::Values(4096));

TEST_F(PipeServerTest, StopEndsTheLoopWhileAClientIsConnected) {
  HANDLE client = CreateFileA(shared::kServicePipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  Sleep(100);
  SetEvent(stop_);
  EXPECT_EQ(WaitForSingleObject(thread_, 2000), WAIT_OBJECT_0);
  CloseHandle(client);
}

// The service's own pipe: the first instance of its name, with a descriptor
// that lets every local user talk to it and nobody but the service change it.
std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "?";
  std::string result = text;
  LocalFree(text);
  return result;
}

TEST(ServicePipeCreation, LocalUsersTalkAndOnlyTheServiceMayChangeTheDescriptor) {
  win32::UniqueFile pipe = pnpsvc::CreateServicePipe();
  ASSERT_TRUE(pipe.valid()) << GetLastError();
  // A child process must not keep the name alive after the service.
  DWORD handleFlags = 0;
  ASSERT_TRUE(GetHandleInformation(pipe.get(), &handleFlags));
  EXPECT_EQ(handleFlags & HANDLE_FLAG_INHERIT, 0u);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetSecurityInfo(pipe.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &sd),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr) << "a NULL DACL would let anybody do anything";
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  bool everyoneTalks = false, systemChanges = false, networkDenied = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&header)));
    ACCESS_MASK mask = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->Mask;
    MapGenericMask(&mask, &mapping);
    const std::string sid = SidText(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->SidStart);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
      if (sid == "S-1-5-2") networkDenied = (mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS;
      continue;
    }
    ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE);
    if (sid == "S-1-5-18") {
      systemChanges = (mask & (WRITE_DAC | WRITE_OWNER)) == (WRITE_DAC | WRITE_OWNER);
    } else {
      EXPECT_EQ(mask & (WRITE_DAC | WRITE_OWNER), 0u) << sid << " may change the descriptor";
      if (sid == "S-1-1-0")
        everyoneTalks = (mask & (FILE_READ_DATA | FILE_WRITE_DATA | SYNCHRONIZE)) ==
                        (FILE_READ_DATA | FILE_WRITE_DATA | SYNCHRONIZE);
    }
  }
  LocalFree(sd);
  EXPECT_TRUE(everyoneTalks);
  EXPECT_TRUE(systemChanges);
  EXPECT_TRUE(networkDenied);

  // Clients connect, write and read through the descriptor.
  HANDLE client = CreateFileA(shared::kServicePipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  EXPECT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
  if (client != INVALID_HANDLE_VALUE) CloseHandle(client);

  // Nobody joins the name while the service holds it.
  win32::UniqueFile second = pnpsvc::CreateServicePipe();
  EXPECT_FALSE(second.valid());
}

TEST(ServicePipeCreation, NameTakenBeforeTheServiceFailsTheCreation) {
  win32::UniqueFile squatter(CreateNamedPipeA(shared::kServicePipeName, PIPE_ACCESS_DUPLEX,
                                              PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                              PIPE_UNLIMITED_INSTANCES, 0, 0, 1000, nullptr));
  ASSERT_TRUE(squatter.valid());
  win32::UniqueFile pipe = pnpsvc::CreateServicePipe();
  EXPECT_FALSE(pipe.valid());
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

}  // namespace
