// What the control base's tests share: a control class on the base with a
// dialog of every item kind (test_control.rc), the DTM double of the
// control side with one parameter per item, the header and footer doubles
// registered in the prefix, and a frame window that hosts the control
// through atl.dll.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Object.h"
#include "com/Variant.h"
#include "control_dtm.h"
#include "control_host.h"
#include "test_control_ids.h"
#include "toolkit/controls/control_base.h"

namespace controltest {

// Parameter ids of the double, one per item.
enum : ULONG {
  kNumber = 1,      // VT_UI1 5..20, edit
  kMode = 2,        // enumeration, combo box
  kOptions = 3,     // bit enumeration, list box
  kReal = 4,        // VT_R4, edit "%.1f"
  kSwitch = 5,      // VT_BOOL, check box
  kBytes = 6,       // byte array, edit
  kOptionText = 7,  // bit enumeration, static text
  kFixed = 8,       // read-only, edit
  kOutOfRange = 9,  // enumeration without the value, static text
  kDouble = 10,     // VT_R8, edit "%.2f"
  kDate = 11,       // VT_DATE, edit
};

class TestControl : public DtmControl {
 public:
  TestControl();
  static const com::InterfaceEntry* interfaceMap();

  // Every trace text, as OutputTrace got it.
  STDMETHODIMP OutputTrace(BSTR text) override;
  std::vector<std::wstring> traces;
  // The WM_COMMAND wParam of every command the dialog got, in order.
  std::vector<WPARAM> commands;

 protected:
  bool OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 public:

  using DtmControl::ClassName;
  using DtmControl::EditEnabled;
  using DtmControl::EditLock;
  using DtmControl::FindRowById;
  using DtmControl::GetToolkitMessage;
  using DtmControl::GetUnitText;
  using DtmControl::Mode;
  using DtmControl::OperationPhase;
  using DtmControl::PostCloseRequest;
  using DtmControl::ReadOnly;
  using DtmControl::Rows;
  using DtmControl::SetChangesPendingInDevice;
  using DtmControl::SetChangesPendingInDtm;
  using DtmControl::Trace;
  using DtmControl::UserMessage;
  using DtmControl::ValidateAll;
  using DtmControl::WriteDeviceValue;
  using DtmControl::WriteParameter;
  ULONG RowFlags(ULONG id) { return Rows()[static_cast<size_t>(FindRowById(static_cast<LONG>(id)))].flags; }
};

// The function call of function 7 and function lists naming it.
std::wstring FunctionCall(int functionId = 7);
std::wstring FunctionList(const wchar_t* applicationId, const wchar_t* name = L"Test Function");

class ControlBaseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Creates the control, hosts it and initialises it with the double.
  void Open(bool init = true);
  VARIANT_BOOL Init(const std::wstring& call);
  HRESULT SetProperty(ULONG key, const VARIANT& value);
  std::wstring Calls(UINT item);  // header or footer double's calls

  control_dtm::ControlDtm* dtm = nullptr;
  com::ComPtr<IUnknown> dtmObject;
  TestControl* control = nullptr;
  com::ComPtr<IUnknown> controlObject;
  control_host::HostedControl host;
};

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& line);

}  // namespace controltest
