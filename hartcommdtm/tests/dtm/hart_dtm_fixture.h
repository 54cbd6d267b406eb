// What the DTM object's tests share: hartcommdtm.dll registered with
// regsvr32 in the test prefix, the FDT stand-in type library registered for
// the frame double, the DTM's settings key, a fixture that creates the DTM
// by ProgID with the control frame double, and the frame's documents.
#pragma once

#include "message_pump.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "frame_documents.h"
#include "simulated_adapter.h"

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "fdt.h"
#include "frame_controls.h"
#include "hartcommdtm.h"
#include "toolkit.h"
#include "toolkit/xml/xml_dom.h"

namespace hartdtmtest {

std::wstring ProgramFolder();  // with a trailing backslash

// regsvr32 with options (L"/s", L"/s /u") on hartcommdtm.dll next to the
// program; its exit code, or -1 when it could not be started.
DWORD RunRegsvr32(const wchar_t* options);

inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
  return testsupport::PumpUntil(done, timeoutMs);
}

// HKLM "Software\VELTRA\FSK Mavix FDT": values set, or the key removed.
void SetSetting(const wchar_t* name, DWORD value);
void SetSetting(const wchar_t* name, const wchar_t* text);
void RemoveSettings();
// Settings key with only "TranslationPath" = the program's folder, where the
// DTM's translation document lies.
void ResetSettings();
// A translation document of the test's own, in English, with the given
// elements under "localization" (UTF-8), in a folder that becomes the
// "TranslationPath"; a DTM created afterwards loads it. Null body: the
// folder holds no translation document at all.
void UseTranslation(const char* body);
// The test doubles' translation document (English, German and a language
// without a code; texts that exist in one language only) as the DTM's.
void UseTestTranslation();
// An interface identifier from its text, so that a test asks for the
// identifier a frame uses, not for a symbol generated from our own IDL.
IID Iid(const wchar_t* text);

// Parses a document (not validated) with the FDT prefixes fdt, ident and
// the default namespace of the root as "d" usable in XPath; fails the test
// when it is not well formed.
com::ComPtr<IXMLDOMDocument2> Parse(const wchar_t* xml, const wchar_t* defaultNamespace);
// The text of the node an XPath selects; "<none>" when nothing is selected.
std::wstring Select(IXMLDOMNode* node, const wchar_t* xpath);
long Count(IXMLDOMNode* node, const wchar_t* xpath);

// A HKCR or HKLM key exists.
bool KeyExists(HKEY root, const std::wstring& key);
// A REG_SZ value (empty when absent).
std::wstring ReadText(HKEY root, const std::wstring& key, const wchar_t* name);

com::Variant I4(LONG value);
com::Variant UI1(BYTE value);

using testsupport::FrameVersion;
using testsupport::UserInformation;
// A device-type document naming the device type.
std::wstring DeviceTypeDocument(const wchar_t* name);

class HartDtmFixture : public ::testing::Test {
 protected:
  // Registers the module once per program.
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Creates the DTM by its ProgID (after the test set its settings).
  void Create();
  LONG State();
  // A new data set (IPersistStreamInit::InitNew, which also makes the HART
  // channel), attached to the frame: state 6.
  void Attach(bool fdt121 = false);
  // Attached, given the device type and configured for the user level:
  // state 8.
  void Configure(const wchar_t* deviceType = L"FSK Mavix", const wchar_t* level = L"maintenance",
                 bool fdt121 = false);

  // From configured to online on the bound adapter and back to configured,
  // as a frame asks for it: SetCommunication, then
  // PrepareToReleaseCommunication and ReleaseCommunication.
  void OnlineAndBack();
  // ShutdownDtm, answered with TRUE.
  void ShutDown();
  // Drops every reference the test holds on the DTM, as a frame does.
  void ReleaseDtm();
  // Dispatches messages until COM has unloaded hartcommdtm.dll (30 s at
  // most); true once it has.
  bool ModuleUnloads();

  com::Variant Read(ULONG id);
  HRESULT Write(ULONG id, const VARIANT& value);
  // The DTM's HART channel as its channel container hands it out (states 7
  // to 12); null after a failed assertion.
  com::ComPtr<IUnknown> HartChannel();

  com::ComPtr<IUnknown> object;
  com::ComPtr<IDtm> dtm;
  com::ComPtr<IevFdtBaseDTM> base;
  com::ComPtr<IevFdtParameterHandler4> parameters;
  com::ComPtr<IHART_CommDTM> hart;
  com::ComPtr<IUnknown> frameObject;
  frame_double::ControlFrame* frame = nullptr;
  com::Bstr tag{L"HART DTM under test"};
};

// The fixture with a simulated adapter and the modem interface library, so
// that the DTM can go online: modemapi.dll beside the program is the real
// library unless a case copies another one over it; BindDeviceNumber plugs
// the adapter in and binds the device number to it as the service writes
// it. Everything is removed again after each case.
class BoundAdapterFixture : public HartDtmFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The library beside the program becomes a copy of that file (null: none).
  void UseLibrary(const wchar_t* file);
  // Device number `number` bound to a simulated adapter that is plugged in:
  // the DTM's channel opens it when going online (parameter 1000 names
  // device number 0).
  void BindDeviceNumber(int number);
  // Configured for a maintenance user on device number 0, set to
  // communicate and online (state 12).
  void GoOnline();

  static constexpr uint16_t kSerial = SimulatedAdapter::kSerial;
  std::unique_ptr<SimulatedAdapter> adapter_;
};

}  // namespace hartdtmtest
