#include "dtm/catalogue_notice.h"

#include <rpc.h>

#include <cstdio>

#include "dtm/dtm_ids.h"
#include "win32/unique_handle.h"

std::string GuidTextA(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

bool WriteCatalogueNotice() {
  UUID uuid;
  RPC_STATUS status = ::UuidCreate(&uuid);
  if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) return false;
  const std::string flag = GuidTextA(uuid);

  win32::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, hart_dtm::kCatalogUpdatesKey, 0, KEY_WRITE,
                      key.put()) != ERROR_SUCCESS &&
      ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, hart_dtm::kCatalogUpdatesKey, 0, nullptr, 0,
                        KEY_READ | KEY_WRITE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  ::RegSetValueExA(key.get(), "ModificationFlag", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(flag.c_str()),
                   static_cast<DWORD>(flag.size() + 1));
  ::RegSetValueExA(key.get(), "ModificationComment", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(""), 1);
  return true;
}
