// Identifiers of the test DTM server (testdtm.dll) for the tests that
// register and create it.
#pragma once

#include <windows.h>

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
}  // namespace test_dtm_parameter

// Function ids of the test DTM's function table.
namespace test_dtm_function {
constexpr LONG kResetCounter = 1;  // action: writes 0 to the counter, succeeds
constexpr LONG kSettings = 2;      // opens a control (no action)
constexpr LONG kSelfTest = 3;      // action that reports failure
}  // namespace test_dtm_function
