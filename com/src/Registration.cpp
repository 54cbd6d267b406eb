#include "com/Registration.h"

#include <cwchar>

#include "win32/unique_handle.h"

namespace com {

namespace {

// Default value (name null) or named value of a key, created as needed.
LONG setText(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  win32::UniqueRegKey k;
  LONG rc = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, k.put(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(k.get(), name, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()), bytes);
}

LONG createKey(const std::wstring& key) {
  win32::UniqueRegKey k;
  return ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                           nullptr, k.put(), nullptr);
}

// The default value of a key; empty when it is missing.
std::wstring readText(const std::wstring& key) {
  wchar_t buffer[128] = {};
  DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
  DWORD type = 0;
  if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, &type,
                     buffer, &bytes) != ERROR_SUCCESS)
    return std::wstring();
  return buffer;
}

LONG deleteTree(const std::wstring& key) {
  LONG rc = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  if (rc == ERROR_SUCCESS) rc = ::RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// Removes a ProgID key only when it still names our class, so that another
// server that took the ProgID over keeps it.
LONG deleteProgId(const wchar_t* progId, const std::wstring& clsid) {
  if (!progId || !*progId) return ERROR_SUCCESS;
  std::wstring key = progId;
  std::wstring named = readText(key + L"\\CLSID");
  if (named.empty() || ::_wcsicmp(named.c_str(), clsid.c_str()) != 0) return ERROR_SUCCESS;
  return deleteTree(key);
}

HRESULT fromWin32(LONG rc) { return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc); }

LONG writeEntries(const ClassRegistration& reg, const wchar_t* path) {
  const std::wstring clsid = guidText(*reg.clsid);
  const std::wstring classKey = L"CLSID\\" + clsid;
  const std::wstring description = reg.description ? reg.description : L"";
  LONG rc = setText(classKey, nullptr, description);

  auto put = [&rc](LONG result) {
    if (rc == ERROR_SUCCESS) rc = result;
  };
  if (reg.progId) {
    put(setText(classKey + L"\\ProgID", nullptr, reg.progId));
    put(setText(reg.progId, nullptr, description));
    put(setText(std::wstring(reg.progId) + L"\\CLSID", nullptr, clsid));
  }
  if (reg.versionIndependentProgId) {
    std::wstring vi = reg.versionIndependentProgId;
    put(setText(classKey + L"\\VersionIndependentProgID", nullptr, vi));
    put(setText(vi, nullptr, description));
    put(setText(vi + L"\\CLSID", nullptr, clsid));
    if (reg.progId) put(setText(vi + L"\\CurVer", nullptr, reg.progId));
  }
  put(setText(classKey + L"\\InprocServer32", nullptr, path));
  if (reg.threadingModel)
    put(setText(classKey + L"\\InprocServer32", L"ThreadingModel", reg.threadingModel));
  if (reg.programmable) put(createKey(classKey + L"\\Programmable"));
  if (reg.typeLib) put(setText(classKey + L"\\TypeLib", nullptr, guidText(*reg.typeLib)));
  if (reg.version) put(setText(classKey + L"\\Version", nullptr, reg.version));
  if (const ControlRegistration* control = reg.control) {
    put(createKey(classKey + L"\\Control"));
    if (control->insertable) put(createKey(classKey + L"\\Insertable"));
    if (control->toolboxBitmapId != 0)
      put(setText(classKey + L"\\ToolboxBitmap32", nullptr,
                  std::wstring(path) + L", " + std::to_wstring(control->toolboxBitmapId)));
    if (control->miscStatus)
      put(setText(classKey + L"\\MiscStatus", nullptr, control->miscStatus));
    if (control->miscStatusContent)
      put(setText(classKey + L"\\MiscStatus\\1", nullptr, control->miscStatusContent));
  }
  if (reg.implementedCategories) {
    for (const GUID* const* category = reg.implementedCategories; *category; ++category)
      put(createKey(classKey + L"\\Implemented Categories\\" + guidText(**category)));
  }
  return rc;
}

}  // namespace

std::wstring guidText(const GUID& guid) {
  wchar_t text[40];
  std::swprintf(text, 40, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3,
                guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

HRESULT registerClass(const ClassRegistration& reg, const wchar_t* path) {
  if (!reg.clsid || !path) return E_INVALIDARG;
  HRESULT hr = fromWin32(writeEntries(reg, path));
  if (SUCCEEDED(hr) && reg.update) hr = reg.update(true);
  // A class left half-registered would point clients at a broken entry.
  if (FAILED(hr)) unregisterClass(reg);
  return hr;
}

HRESULT unregisterClass(const ClassRegistration& reg) {
  if (!reg.clsid) return E_INVALIDARG;
  HRESULT hr = reg.update ? reg.update(false) : S_OK;
  const std::wstring clsid = guidText(*reg.clsid);
  LONG rc = deleteProgId(reg.progId, clsid);
  LONG next = deleteProgId(reg.versionIndependentProgId, clsid);
  if (rc == ERROR_SUCCESS) rc = next;
  next = deleteTree(L"CLSID\\" + clsid);
  if (rc == ERROR_SUCCESS) rc = next;
  return FAILED(hr) ? hr : fromWin32(rc);
}

}  // namespace com
