// OK when the service cannot take the configuration: the user is told, the
// dialog stays open with its entries, and nothing more is sent.
#include "dialog_fixture.h"
#include "resource.h"
#include "shared/service_pipe.h"
#include "win32/unique_handle.h"

namespace adaptercfg_test {
namespace {

// Serves the service's pipe for `count` requests, then closes it, like a
// service that stops in the middle of a configuration.
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

class ApplyFailureTest : public DialogTest {};

TEST_F(ApplyFailureTest, WithoutTheServiceOkSaysSoAndKeepsTheDialogAndTheRegistry) {
  SetConfigSlot(0, 0x1111, 3);
  SetConfigSlot(1, 0x2222, 0);
  const std::vector<std::string> before = ConfigSnapshot();
  ASSERT_TRUE(Open());
  Click(dialog(), IDC_ADD);
  ModalScript script;
  script.On("the HART USB service does not answer", [](HWND box) {
    SaveScreenshot(box, "apply-service-unreachable");
    PressButton(box, IDOK);
  });
  Click(dialog(), IDOK);
  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(script.Unexpected().empty());
  EXPECT_FALSE(Closed());
  EXPECT_EQ(TreeTexts(tree()).size(), 4u);
  EXPECT_EQ(ConfigSnapshot(), before);
}

TEST_F(ApplyFailureTest, AServiceThatStopsMidwayIsReportedAndOkCanBePressedAgain) {
  SetConfigSlot(0, 0x1111, 0);
  ASSERT_TRUE(Open());
  {
    ServerThatStops server(100);
    ASSERT_TRUE(server.ok());
    ModalScript script;
    script.Answer("could not be written completely", IDOK);
    Click(dialog(), IDOK);
    EXPECT_TRUE(script.Done());
    EXPECT_TRUE(script.Unexpected().empty());
    EXPECT_FALSE(Closed());
    EXPECT_EQ(server.served(), 100);
  }
  // With the service back, the same OK applies the kept configuration.
  ServerThatStops server(243);
  ASSERT_TRUE(server.ok());
  Click(dialog(), IDOK);
  EXPECT_TRUE(Closed());
  EXPECT_EQ(dialog_->Result(), IDOK);
}

}  // namespace
}  // namespace adaptercfg_test
