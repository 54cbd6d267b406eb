// What the DTM tests share: the test DTM server registered with regsvr32,
// a fixture that creates the test DTM and the frame double in a
// single-threaded apartment, a message pump with a deadline, and the FDT
// documents a frame sends.
#pragma once

#include "message_pump.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <functional>
#include <string>

#include "frame_documents.h"

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "fdt.h"
#include "frame_notices.h"
#include "toolkit.h"

namespace dtmtest {

// Dispatches messages until done() holds or timeoutMs passed; done()'s
// last answer.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 60000) {
  return testsupport::PumpUntil(done, timeoutMs);
}

// True when the thread of that id has ended (or never existed).
bool ThreadEnded(DWORD threadId);

// True while the test DTM's server is loaded and has objects alive.
bool ServerHasObjects();
// Frees unused libraries, dispatching messages, until the test DTM's server
// is unloaded (30 s at most); false when it stays. It unloads only once
// nothing of it runs: its worker threads keep it loaded until they end.
bool ServerUnloads();

// Documents of the frame.
using testsupport::FrameVersion;
using testsupport::UserInformation;
std::wstring OperationPhase(const wchar_t* phase);
std::wstring FunctionCall(LONG functionId);

class DtmFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  LONG State();
  // A parameter field through IevFdtParameterInfo (selector: one field bit).
  com::Variant Field(ULONG parameterId, ULONG selector);

  // New data set, then attached to the frame (FDT 1.2.1 when fdt121).
  void AttachNew(bool fdt121 = false);
  // Attached (new data set), given its device type and configured.
  void Configure(const wchar_t* level = L"maintenance", bool fdt121 = false);

  com::ComPtr<IUnknown> object;
  com::ComPtr<IDtm> dtm;
  com::ComPtr<IevFdtBaseDTM> base;
  com::ComPtr<IUnknown> frameObject;
  frame_double::NoticeFrame* frame = nullptr;
  // Set before SetUp: an agile frame takes the worker's notices on the
  // worker's thread; a single-threaded one, as frame applications are, on
  // the test's thread while it dispatches messages.
  bool agileFrame = true;
  com::Bstr tag{L"Tag of the test DTM"};
};

}  // namespace dtmtest
