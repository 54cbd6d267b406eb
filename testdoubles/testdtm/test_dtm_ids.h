// Identifiers of the test DTM server (testdtm.dll) for the tests that
// register and create it.
#pragma once

#include <windows.h>
#include <unknwn.h>

// {0C7E5B52-2F0B-4E4C-9E5D-6B8F31A7C4D1}
inline const CLSID CLSID_TestDtm = {
    0x0c7e5b52, 0x2f0b, 0x4e4c, {0x9e, 0x5d, 0x6b, 0x8f, 0x31, 0xa7, 0xc4, 0xd1}};

inline constexpr wchar_t kTestDtmProgId[] = L"ToolkitTest.TestDtm.1";
inline constexpr wchar_t kTestDtmFileName[] = L"testdtm.dll";

// The device type the test DTM offers: the version name its information
// document lists, and a device-type document that selects it.
inline constexpr wchar_t kTestDeviceTypeName[] = L"Test Device";
inline constexpr wchar_t kTestDeviceTypeDocument[] =
    L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMInitSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><fdt:DtmDeviceType>Test Type"
    L"<fdt:VersionInformation name=\"Test Device\"/></fdt:DtmDeviceType></FDT>";

// Parameter ids of the test DTM's table.
namespace test_dtm_parameter {
constexpr ULONG kTag = 1;
constexpr ULONG kSystemLabel = 2;
constexpr ULONG kPreambles = 100;      // VT_UI1 5..20
constexpr ULONG kEnabled = 101;        // VT_BOOL
constexpr ULONG kMode = 102;           // VT_UI1 enumerated 0 Off, 1 On
constexpr ULONG kCounter = 110;        // VT_I4 0..1000, writers need maintenance (4)
constexpr ULONG kDeviceValue = 200;    // kind 1: read and written online
// Relations (test_dtm_documents.cpp): the source's list reaches each target.
constexpr ULONG kRelationSource = 300;  // VT_I4 0..100, relation list of kinds 1 to 8
constexpr ULONG kEnableTarget = 301;    // kind 2, declared disabled (0x8)
constexpr ULONG kAccessTarget = 302;    // kind 3, declared without write access
constexpr ULONG kChoicesTarget = 303;   // kind 4, enumerated 0 Off, 1 On
constexpr ULONG kValueTarget = 304;     // kind 5
constexpr ULONG kLimitsTarget = 305;    // kinds 6, 7, 8: default, maximum, minimum
constexpr ULONG kTextSource = 310;      // VT_BSTR, relation(9,311)
constexpr ULONG kTextTarget = 311;      // its extra2 holds a text
constexpr ULONG kUpdateSource = 320;    // VT_I4, update(200)
// Exported variables of the parameter document, export and import.
constexpr ULONG kExportDisplay = 400;   // VT_I4, as display text, group Setup.Channel
constexpr ULONG kExportVariant = 401;   // VT_R8, as fdt:Variant, group Setup.Channel
constexpr ULONG kExportSpecial = 402;   // VT_BSTR named a"<&b, top group
constexpr ULONG kExportDate = 403;      // VT_DATE, as fdt:Variant, group Setup/Times
constexpr ULONG kNotExported = 404;     // representation set, not readable
}  // namespace test_dtm_parameter

// The settings function's control (ProgID "ToolkitTest.Settings.1"): a
// windowless double that answers the parameter ids it shows.
// {6A1F0C55-3D8B-4B0E-9F4A-2C7D1E5B8A93}
inline const CLSID CLSID_TestSettingsControl = {
    0x6a1f0c55, 0x3d8b, 0x4b0e, {0x9f, 0x4a, 0x2c, 0x7d, 0x1e, 0x5b, 0x8a, 0x93}};
inline constexpr wchar_t kTestSettingsProgId[] = L"ToolkitTest.Settings.1";

// Function ids of the test DTM's function table.
namespace test_dtm_function {
constexpr LONG kResetCounter = 1;  // action: writes 0 to the counter, succeeds
constexpr LONG kSettings = 2;      // opens a control (no action)
constexpr LONG kSelfTest = 3;      // action that reports failure
constexpr LONG kHidden = 4;        // hidden row; its control is not registered
}  // namespace test_dtm_function

// The test DTM's channel class (test_channel.h), the one row of its channel
// table: a new data set has one channel of this name.
// {3E9A4C71-5B2D-4F08-8C6E-91D7A2B4F530}
inline const CLSID CLSID_TestChannel = {
    0x3e9a4c71, 0x5b2d, 0x4f08, {0x8c, 0x6e, 0x91, 0xd7, 0xa2, 0xb4, 0xf5, 0x30}};
inline constexpr wchar_t kTestChannelProgId[] = L"ToolkitTest.Channel.1";
inline constexpr wchar_t kTestChannelName[] = L"Channel <1>";
inline constexpr wchar_t kTestChannelClassText[] = L"3E9A4C71-5B2D-4F08-8C6E-91D7A2B4F530";
// The channel information of the table row (FDT 1.2.1 channel references).
inline constexpr wchar_t kTestChannelInformation[] = L"<fdt:ChannelInformation/>";
// A value the test channel persists but fails to load (a channel that
// cannot read its own data).
constexpr LONG kTestChannelFailingValue = 0x0BAD;

// Settings of the test DTM a test changes, answered by QueryInterface of the
// DTM object in its own apartment (C++ only, never through a proxy).
struct ITestDtmSettings : public IUnknown {
  // The longest wait for one channel's connections to end at release.
  virtual HRESULT STDMETHODCALLTYPE SetChannelReleaseWait(DWORD milliseconds) = 0;
  // Takes (true) or releases (false) one hold of the modified notices, as
  // a download does.
  virtual HRESULT STDMETHODCALLTYPE HoldModifiedNotices(BOOL hold) = 0;

 protected:
  ~ITestDtmSettings() = default;
};
// {A4D0F6B3-1E27-4C59-8B3A-6F02C9D81E74}
inline const IID IID_ITestDtmSettings = {
    0xa4d0f6b3, 0x1e27, 0x4c59, {0x8b, 0x3a, 0x6f, 0x02, 0xc9, 0xd8, 0x1e, 0x74}};
__CRT_UUID_DECL(ITestDtmSettings, 0xa4d0f6b3, 0x1e27, 0x4c59, 0x8b, 0x3a, 0x6f, 0x02, 0xc9, 0xd8,
                0x1e, 0x74)
