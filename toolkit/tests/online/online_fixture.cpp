#include "online_fixture.h"

#include "com/Variant.h"
#include "toolkit/dtm/dtm_states.h"

namespace onlinetest {

std::vector<ULONG> DeviceIds() {
  std::vector<ULONG> ids;
  for (ULONG i = 0; i < test_device_parameter::kCount; ++i)
    ids.push_back(test_device_parameter::kFirst + i);
  return ids;
}

void OnlineFixture::SetUp() {
  DtmFixture::SetUp();
  if (HasFatalFailure()) return;
  HMODULE module = ::GetModuleHandleW(kTestDtmFileName);
  ASSERT_TRUE(module);
  setScript_ = reinterpret_cast<SetTestDeviceScriptFunction>(
      reinterpret_cast<void*>(::GetProcAddress(module, kSetTestDeviceScriptName)));
  writes_ = reinterpret_cast<TestDeviceWritesFunction>(
      reinterpret_cast<void*>(::GetProcAddress(module, kTestDeviceWritesName)));
  steps_ = reinterpret_cast<TestProgressStepsFunction>(
      reinterpret_cast<void*>(::GetProcAddress(module, kTestProgressStepsName)));
  ASSERT_TRUE(setScript_ && writes_ && steps_);
  setScript_(nullptr);
  ASSERT_EQ(S_OK, object.as(online));
}

void OnlineFixture::TearDown() {
  if (setScript_) setScript_(nullptr);
  online.reset();
  if (dtm) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    dtm->ShutdownDtm(&ok);
  }
  DtmFixture::TearDown();
}

void OnlineFixture::Script(const TestDeviceScript& script) { setScript_(&script); }

std::vector<ULONG> OnlineFixture::DeviceWrites() {
  std::vector<ULONG> ids(64);
  const ULONG count = writes_(ids.data(), static_cast<ULONG>(ids.size()));
  ids.resize(count < ids.size() ? count : ids.size());
  return ids;
}

void OnlineFixture::GoOnline(const wchar_t* level) {
  Configure(level);
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(S_OK, dtm->SetCommunication(nullptr, &ok));
  ASSERT_EQ(kDtmOnline, State());
}

std::vector<USHORT> OnlineFixture::ProgressSteps() {
  std::vector<USHORT> steps(256);
  const ULONG count = steps_(steps.data(), static_cast<ULONG>(steps.size()));
  steps.resize(count < steps.size() ? count : steps.size());
  return steps;
}

LONG OnlineFixture::Value(ULONG id) {
  com::Variant v = Field(id, 0x80);
  EXPECT_EQ(S_OK, v.changeType(VT_I4));
  return V_I4(v.get());
}

LONG OnlineFixture::DeviceValue(ULONG id) {
  com::Variant v = Field(id, 0x200000);
  if (v.type() == VT_EMPTY) return -1;
  EXPECT_EQ(S_OK, v.changeType(VT_I4));
  return V_I4(v.get());
}

ULONG OnlineFixture::Flags(ULONG id) {
  com::Variant v = Field(id, 0x4000);
  EXPECT_EQ(S_OK, v.changeType(VT_UI4));
  return V_UI4(v.get());
}

void OnlineFixture::Write(ULONG id, LONG value) {
  com::ComPtr<IevFdtParameterHandler4> handler;
  ASSERT_EQ(S_OK, object.as(handler));
  com::Variant v(value), key;
  V_VT(key.get()) = VT_UI4;
  V_UI4(key.get()) = id;
  ASSERT_EQ(S_OK, handler->WriteParameter(key.value(), v.value()));
}

std::wstring OnlineFixture::DataState() {
  com::ComPtr<IDtmParameter> parameters;
  EXPECT_EQ(S_OK, object.as(parameters));
  com::Bstr path, document;
  if (!parameters) return L"";
  EXPECT_EQ(S_OK, parameters->GetParameters(path.get(), document.put()));
  const std::wstring text = document.c_str();
  const std::wstring key = L"fdt:dataSetState=\"";
  const size_t at = text.find(key);
  if (at == std::wstring::npos) return L"";
  const size_t start = at + key.size();
  return text.substr(start, text.find(L'"', start) - start);
}

void OnlineFixture::SaveDataSet() {
  com::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(S_OK, object.as(persist));
  com::ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
  ASSERT_EQ(S_OK, persist->Save(stream.get(), TRUE));
}

void OnlineFixture::MarkChanged(ULONG id) {
  com::ComPtr<IevFdtParameterInfo> info;
  ASSERT_EQ(S_OK, object.as(info));
  com::Variant key, field, flags;
  V_VT(key.get()) = VT_UI4;
  V_UI4(key.get()) = id;
  V_VT(field.get()) = VT_UI4;
  V_UI4(field.get()) = 0x4000;
  V_VT(flags.get()) = VT_UI4;
  V_UI4(flags.get()) = Flags(id) | 0x2;
  ASSERT_EQ(S_OK, info->SetParameterInfo(key.value(), field.value(), flags.value()));
}

bool OnlineFixture::WaitForProgressEnd() {
  return dtmtest::PumpUntil([&] {
    const auto calls = frame->callsTo("OnProgress");
    return !calls.empty() && calls.back().arguments.at(1).empty();
  });
}

bool OnlineFixture::WaitForMessage(const std::wstring& text) {
  return dtmtest::PumpUntil([&] {
    for (const auto& call : frame->callsTo("OnErrorMessage"))
      if (call.arguments.at(1) == text) return true;
    return false;
  });
}

void OnlineFixture::AnswerStopQuestion(const wchar_t* button) {
  frame->queueUserDialogAnswer({S_OK, frame_double::FrameApplication::answerDocument(button)});
}

}  // namespace onlinetest
