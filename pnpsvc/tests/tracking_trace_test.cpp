// Trace lines, the log file and event-log reports, as an arrival shows them.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "adapter_tracking.h"
#include "service_control.h"
#include "test_support.h"
#include "trace.h"

namespace {

using pnpsvc_test::Recorder;

std::string ReadLog() {
  std::ifstream in(pnpsvc::LogFilePath(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Recorder::Install();
    Recorder::Clear();
    DeleteFileA(pnpsvc::LogFilePath().c_str());
  }
  void TearDown() override { pnpsvc::SetTraceThreshold(0); }
  const std::string path_ = "\\\\?\\usb#vid_ffff&pid_0001#t1#{e28de6ad-b0a7-461b-bbcd-0fa638c7c750}";
};

TEST_F(TraceTest, SilentAtThresholdZero) {
  pnpsvc::WinUsbApi noUsb;
  pnpsvc::OnDeviceArrival(noUsb, path_, nullptr);
  pnpsvc::OnDeviceRemoval(path_, nullptr);
  EXPECT_TRUE(Recorder::TraceLines().empty());
  EXPECT_EQ(GetFileAttributesA(pnpsvc::LogFilePath().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TraceTest, ArrivalLineAndLogFileLineAtThresholdFour) {
  pnpsvc::SetTraceThreshold(4);
  pnpsvc::WinUsbApi noUsb;
  pnpsvc::OnDeviceArrival(noUsb, path_, nullptr);

  std::string expected;
  for (const std::string& line : Recorder::TraceLines())
    if (line.find("DeviceArrival") != std::string::npos) expected = line;
  std::regex lineFormat("VELTRA FSK Mavix-service_ctrl_ex\\([0-9]+\\)\\): DeviceArrival: (.*) \\(serial: 0\\)\r\n");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(expected, m, lineFormat)) << expected;
  EXPECT_EQ(m[1].str(), path_);

  std::string log = ReadLog();
  std::regex stamped("\\[[0-9]{4}-[0-9]{2}-[0-9]{2}\\|[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}\\] ");
  size_t at = log.find(expected);
  ASSERT_NE(at, std::string::npos) << log;
  ASSERT_GE(at, 26u);
  EXPECT_TRUE(std::regex_match(log.substr(at - 26, 26), stamped)) << log.substr(at - 26, 26);
  EXPECT_NE(pnpsvc::LogFilePath().find("\\ubra system\\VELTRA FSK Mavix.log"), std::string::npos);
}

TEST_F(TraceTest, LevelsAboveTheThresholdAreDroppedAndLongTextIsCut) {
  pnpsvc::SetTraceThreshold(1);
  pnpsvc::Trace({4, "f", 1}, "info");
  pnpsvc::Trace({3, "f", 1}, "entry");
  pnpsvc::Trace({1, nullptr, 1}, "%s", std::string(3000, 'x').c_str());
  auto lines = Recorder::TraceLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("VELTRA FSK Mavix: xxx", 0), 0u);
  EXPECT_EQ(lines[0].size(), 1023u);
  // A '%' in traced text is data, not a format.
  pnpsvc::Trace({1, nullptr, 1}, "%s", "100%s %n");
  EXPECT_NE(Recorder::TraceLines().back().find("100%s %n"), std::string::npos);
}

TEST_F(TraceTest, EventLogReportCarriesServiceAndErrorCodeThenMessage) {
  SetLastError(ERROR_ACCESS_DENIED);
  pnpsvc::ReportServiceError("Unable to create named pipe");
  auto events = Recorder::EventLog();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].first, "VELTRA evHRT USB error: 5");
  EXPECT_EQ(events[0].second, "Unable to create named pipe");
  EXPECT_EQ(pnpsvc::LastReportedError(), 5u);
}

TEST(ServiceCommandLine, SwitchAndWordInAnyCase) {
  auto parse = [](std::vector<const char*> args) {
    args.insert(args.begin(), "pnpsvc.exe");
    return pnpsvc::ParseCommandLine(static_cast<int>(args.size()), const_cast<char**>(args.data()));
  };
  using A = pnpsvc::CommandLineAction;
  EXPECT_EQ(parse({"/INSTALL"}), A::kInstall);
  EXPECT_EQ(parse({"-install"}), A::kInstall);
  EXPECT_EQ(parse({"-ReMoVe"}), A::kRemove);
  EXPECT_EQ(parse({"install"}), A::kRunService);
  EXPECT_EQ(parse({"--install"}), A::kRunService);
  EXPECT_EQ(parse({}), A::kRunService);
}

TEST(ServiceErrorText, SystemMessageWithCodeAndNoLineBreak) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  std::string text = pnpsvc::GetLastErrorText();
  EXPECT_NE(text.find(" (0x2)"), std::string::npos) << text;
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

}  // namespace
