// The test DTM configured and online, with its device side scripted.
#pragma once

#include <string>
#include <vector>

#include "dtm_test_support.h"
#include "test_device_script.h"
#include "test_dtm_ids.h"

namespace onlinetest {

class OnlineFixture : public dtmtest::DtmFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Replaces the device script (and empties the device's write log).
  void Script(const TestDeviceScript& script);
  // Ids written to the device since the script was set, in order.
  std::vector<ULONG> DeviceWrites();
  // Percentages of the progress step notices the DTM gave since the script
  // was set (also those a busy notice worker dropped).
  std::vector<USHORT> ProgressSteps();
  // Configured with the role, then online through set communication.
  void GoOnline(const wchar_t* level = L"maintenance");

  LONG Value(ULONG id);
  LONG DeviceValue(ULONG id);
  ULONG Flags(ULONG id);
  // Writes a value into the data set (IevFdtParameterHandler4).
  void Write(ULONG id, LONG value);
  // The data state text of the parameter document.
  std::wstring DataState();
  size_t CallCount(const char* method) { return frame->callsTo(method).size(); }
  // The frame saves the data set (into a memory stream, clearing the
  // modified mark): a data set changed under the frame's lock keeps that
  // lock until it has been saved.
  void SaveDataSet();
  // Sets the "to be downloaded" flag (0x2) of a parameter.
  void MarkChanged(ULONG id);
  // Pumps until the last progress notice is the end of the display (empty
  // title): it may reach the frame after a transfer's end notice.
  bool WaitForProgressEnd();
  // Pumps until the frame received that error message.
  bool WaitForMessage(const std::wstring& text);
  // The answer of the next user dialog (the stop question).
  void AnswerStopQuestion(const wchar_t* button);

  com::ComPtr<IDtmOnlineParameter> online;

 private:
  SetTestDeviceScriptFunction setScript_ = nullptr;
  TestDeviceWritesFunction writes_ = nullptr;
  TestProgressStepsFunction steps_ = nullptr;
};

// The ids of the device parameters (test_device_script.h).
std::vector<ULONG> DeviceIds();

}  // namespace onlinetest
