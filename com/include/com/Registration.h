// What DllRegisterServer writes for one class, as plain data.
//
// Under HKEY_CLASSES_ROOT:
//   CLSID\{clsid}                      = description
//     ProgID                           = progId
//     VersionIndependentProgID         = versionIndependentProgId
//     InprocServer32                   = module path, ThreadingModel
//     Programmable, Control, Insertable (empty keys, when set)
//     ToolboxBitmap32                  = "module path, <id>"
//     MiscStatus                       = miscStatus, subkey "1" = miscStatusContent
//     TypeLib                          = {libid}
//     Version                          = version
//     Implemented Categories\{catid}
//   <progId>                           = description, CLSID = {clsid}
//   <versionIndependentProgId>         = description, CLSID = {clsid},
//                                        CurVer = progId
// DllUnregisterServer removes the CLSID key and those ProgID keys that still
// name this class. Null texts and pointers leave their entry out.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

namespace com {

struct ControlRegistration {
  UINT toolboxBitmapId;               // 0: no ToolboxBitmap32
  const wchar_t* miscStatus;          // default value of MiscStatus
  const wchar_t* miscStatusContent;   // value of MiscStatus\1 (DVASPECT_CONTENT)
  bool insertable;
};

struct ClassRegistration {
  const CLSID* clsid;
  const wchar_t* description;
  const wchar_t* progId;                    // e.g. "Maker.Thing.1"
  const wchar_t* versionIndependentProgId;  // e.g. "Maker.Thing"
  const wchar_t* threadingModel;            // "Apartment", "Both", "Free"
  const GUID* typeLib;                      // LIBID for the TypeLib key
  const wchar_t* version;                   // the Version key, e.g. "1.0"
  bool programmable;
  const ControlRegistration* control;       // ActiveX controls only
  const GUID* const* implementedCategories; // null-terminated list
  // Runs after the table's entries are written (registering) or before they
  // are removed (unregistering); a failure fails the call.
  HRESULT (*update)(bool registering);
};

// Writes and removes the entries of one class; path is the module file.
HRESULT registerClass(const ClassRegistration& reg, const wchar_t* path);
HRESULT unregisterClass(const ClassRegistration& reg);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::wstring guidText(const GUID& guid);

}  // namespace com
