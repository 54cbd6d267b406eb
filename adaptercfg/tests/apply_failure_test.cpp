// OK when the service cannot take the configuration: the user is told, the
// dialog stays open with its entries, nothing more is sent, no entry is lost,
// and leaving after a cut-short apply is asked first.
#include "dialog_fixture.h"
#include "resource.h"
#include "shared/registry_layout.h"
#include "shared/service_pipe.h"
#include "win32/unique_handle.h"

namespace adaptercfg_test {
namespace {

// Does to ConfigKey what the service does for a request.
void ApplyToConfigKey(const uint8_t* message, DWORD length) {
  shared::ServicePipeRequest request;
  if (!shared::ParseServicePipeRequest(message, length, &request)) return;
  win32::UniqueRegKey config;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, shared::kConfigKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS | shared::kRegistryView,
                  nullptr, config.put(), nullptr);
  if (request.command == shared::PipeCommand::DeleteKey) {
    RegDeleteKeyExA(config.get(), request.key.c_str(), shared::kRegistryView, 0);
  } else if (request.command == shared::PipeCommand::SetValue) {
    win32::UniqueRegKey key;
    RegCreateKeyExA(config.get(), request.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | shared::kRegistryView, nullptr,
                    key.put(), nullptr);
    RegSetValueExA(key.get(), request.valueName.c_str(), 0, static_cast<DWORD>(request.valueType),
                   request.data.data(), static_cast<DWORD>(request.data.size()));
  }
}

// Serves the service's pipe for `count` requests, applying each to
// ConfigKey, then closes it, like a service that stops in the middle of a
// configuration.
class ServerThatStops {
 public:
  explicit ServerThatStops(int count) : count_(count) {
    pipe_.reset(CreateNamedPipeA(shared::kServicePipeName, PIPE_ACCESS_DUPLEX,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 512, 512, 1000, nullptr));
    thread_.reset(CreateThread(nullptr, 0, Serve, this, 0, nullptr));
  }
  ~ServerThatStops() { WaitForSingleObject(thread_.get(), 10000); }
  bool ok() const { return pipe_.valid() && thread_.valid(); }
  int served() const { return served_; }

 private:
  static DWORD WINAPI Serve(void* param) {
    auto* self = static_cast<ServerThatStops*>(param);
    for (; self->served_ < self->count_; ++self->served_) {
      if (!ConnectNamedPipe(self->pipe_.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) break;
      uint8_t request[512];
      DWORD got = 0, written = 0;
      ReadFile(self->pipe_.get(), request, sizeof request, &got, nullptr);
      ApplyToConfigKey(request, got);
      WriteFile(self->pipe_.get(), shared::kServicePipeReply, shared::kServicePipeReplySize, &written, nullptr);
      FlushFileBuffers(self->pipe_.get());
      DisconnectNamedPipe(self->pipe_.get());
    }
    self->pipe_.reset();
    return 0;
  }

  int count_;
  volatile int served_ = 0;
  win32::UniqueFile pipe_;
  win32::UniqueHandle thread_;
};

// Takes the first request and holds its client without an answer until
// released (or, so that no run hangs for good, for 30 s), like a service
// that hangs in the middle of a request.
class ServerThatHangs {
 public:
  ServerThatHangs() {
    release_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    pipe_.reset(CreateNamedPipeA(shared::kServicePipeName, PIPE_ACCESS_DUPLEX,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 512, 512, 1000, nullptr));
    thread_.reset(CreateThread(nullptr, 0, Serve, this, 0, nullptr));
  }
  ~ServerThatHangs() {
    Release();
    WaitForSingleObject(thread_.get(), 40000);
  }
  bool ok() const { return release_.valid() && pipe_.valid() && thread_.valid(); }
  bool received() const { return received_; }
  void Release() { SetEvent(release_.get()); }

 private:
  static DWORD WINAPI Serve(void* param) {
    auto* self = static_cast<ServerThatHangs*>(param);
    if (!ConnectNamedPipe(self->pipe_.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return 1;
    uint8_t request[512];
    DWORD got = 0;
    ReadFile(self->pipe_.get(), request, sizeof request, &got, nullptr);
    self->received_ = true;
    WaitForSingleObject(self->release_.get(), 30000);
    DisconnectNamedPipe(self->pipe_.get());
    self->pipe_.reset();
    return 0;
  }

  win32::UniqueHandle release_;
  win32::UniqueFile pipe_;
  win32::UniqueHandle thread_;
  volatile bool received_ = false;
};

class ApplyFailureTest : public DialogTest {};

TEST_F(ApplyFailureTest, WithoutTheServiceOkSaysSoAndKeepsTheDialogAndTheRegistry) {
  SetConfigSlot(0, 0x1111, 3);
  SetConfigSlot(1, 0x2222, 0);
  const std::vector<std::string> before = ConfigSnapshot();
  ASSERT_TRUE(Open());
  Click(dialog(), IDC_ADD);
  ModalScript script;
  script.On("the service \"VELTRA FSK Mavix\" does not answer", [](HWND box) {
    SaveScreenshot(box, "apply-service-unreachable");
    PressButton(box, IDOK);
  });
  PressOk();
  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(script.Unexpected().empty());
  EXPECT_FALSE(Closed());
  EXPECT_EQ(TreeTexts(tree()).size(), 4u);
  EXPECT_EQ(ConfigSnapshot(), before);
  // Nothing reached the service: Cancel leaves without a question.
  Click(dialog(), IDCANCEL);
  EXPECT_TRUE(Closed());
  EXPECT_TRUE(script.Unexpected().empty());
}

TEST_F(ApplyFailureTest, AServiceThatStopsMidwayLosesNoEntryAndCancelAsksFirst) {
  SetConfigSlot(0, 0x1111, 3);
  SetConfigSlot(1, 0x2222, 0);
  SetConfigSlot(2, 0x3333, 5);
  ASSERT_TRUE(Open());
  SelectEntry(0);
  Click(dialog(), IDC_REMOVE);  // the tree holds 2222 and 3333/COM5 now
  {
    ServerThatStops server(2);  // takes the two values of key 0, then stops
    ASSERT_TRUE(server.ok());
    ModalScript script;
    script.Answer("could not be written completely: the service \"VELTRA FSK Mavix\" stopped answering", IDOK);
    PressOk();
    EXPECT_TRUE(script.Done());
    EXPECT_TRUE(script.Unexpected().empty());
    EXPECT_FALSE(Closed());
    EXPECT_EQ(server.served(), 2);
  }
  // Every key holds a whole entry: key 0 the new one, the others the old
  // ones; none was deleted.
  DWORD serial = 0, port = 0;
  struct Slot {
    int key;
    DWORD serial, port;
  };
  for (const Slot& slot : {Slot{0, 0x2222, 0}, Slot{1, 0x2222, 0}, Slot{2, 0x3333, 5}}) {
    EXPECT_TRUE(ReadConfigDword(slot.key, "USB-Id", &serial) && serial == slot.serial) << slot.key;
    EXPECT_TRUE(ReadConfigDword(slot.key, "SerialPort", &port) && port == slot.port) << slot.key;
  }
  const std::vector<std::string> partly = ConfigSnapshot();

  // Cancel and the close box ask before leaving; "No" stays.
  ModalScript stay;
  stay.On("Leave without writing it completely?", [](HWND box) {
    SaveScreenshot(box, "apply-leave-partly-written");
    PressButton(box, IDNO);
  });
  Click(dialog(), IDCANCEL);
  EXPECT_TRUE(stay.Done());
  EXPECT_FALSE(Closed());
  stay.Answer("Leave without writing it completely?", IDNO);
  SendMessageW(dialog(), WM_CLOSE, 0, 0);
  Pump();
  EXPECT_TRUE(stay.Done());
  EXPECT_FALSE(Closed());
  EXPECT_TRUE(stay.Unexpected().empty());

  // "Yes" leaves, with nothing more sent.
  ModalScript leave;
  leave.Answer("Leave without writing it completely?", IDYES);
  Click(dialog(), IDCANCEL);
  EXPECT_TRUE(leave.Done());
  EXPECT_TRUE(Closed());
  EXPECT_EQ(dialog_->Result(), IDCANCEL);
  EXPECT_EQ(ConfigSnapshot(), partly);
}

TEST_F(ApplyFailureTest, AfterAServiceThatStoppedOkWritesTheKeptConfigurationWhole) {
  SetConfigSlot(0, 0x1111, 0);
  SetConfigSlot(1, 0x2222, 0);
  SetConfigSlot(2, 0x3333, 0);
  ASSERT_TRUE(Open());
  SelectEntry(2);
  Click(dialog(), IDC_REMOVE);
  {
    ServerThatStops server(100);  // the values and part of the deletions
    ASSERT_TRUE(server.ok());
    ModalScript script;
    script.Answer("could not be written completely", IDOK);
    PressOk();
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(server.served(), 100);
  }
  // Key 2 went with the first deletion; keys 0 and 1 are whole.
  EXPECT_FALSE(ConfigKeyExists(2));
  DWORD serial = 0;
  EXPECT_TRUE(ReadConfigDword(1, "USB-Id", &serial) && serial == 0x2222);
  // With the service back, the same OK applies the kept configuration, and
  // Cancel is no longer asked about.
  ServerThatStops server(243);
  ASSERT_TRUE(server.ok());
  PressOk();
  EXPECT_TRUE(Closed());
  EXPECT_EQ(dialog_->Result(), IDOK);
}

// A dialog ended from outside while the service holds OK's first request
// without answering does not wait for that request for good: it ends, and
// the user is told that the configuration may be written in part. The
// request's thread finishes on its own later and tells nobody.
TEST_F(ApplyFailureTest, ADialogEndedWhileTheServiceHangsEndsAndSaysSo) {
  SetConfigSlot(0, 0x1111, 3);
  ASSERT_TRUE(Open());
  ServerThatHangs server;
  ASSERT_TRUE(server.ok());
  dialog_->SetApplyEndWait(200);
  Click(dialog(), IDOK);
  ASSERT_TRUE(testsupport::PumpUntil([&] { return server.received(); }, 20000));
  ASSERT_TRUE(dialog_->Applying());

  ModalScript script;
  script.On("may have been written only in part: the service \"VELTRA FSK Mavix\" did not answer in time", [](HWND box) {
    SaveScreenshot(box, "apply-abandoned");
    PressButton(box, IDOK);
  });
  DestroyWindow(dialog());
  EXPECT_TRUE(Closed());
  EXPECT_FALSE(dialog_->Applying());
  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(script.Unexpected().empty());

  // The request ends later; its thread finds nobody to tell.
  server.Release();
  Pump();
}

}  // namespace
}  // namespace adaptercfg_test
