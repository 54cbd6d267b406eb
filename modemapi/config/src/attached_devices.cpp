// vtHART_AttachedDevices: a scan of the attached adapters (EnumKey), kept in
// a process-wide table and handed out one row per call.
#include "modemapi/adapter_registry.h"
#include "registry_access.h"
#include "shared/registry_layout.h"
#include "win32/callback_guard.h"

namespace modemapi {

namespace {

constexpr uint8_t kFlagContinue = 0x80;
constexpr uint8_t kFlagBound = 0x40;      // attached adapters bound to a device number
constexpr uint8_t kFlagUnbound = 0x20;    // attached adapters bound to none
constexpr uint8_t kFlagsReserved = 0x1C;  // bits 2 to 4 must be 0
constexpr uint8_t kFlagsListing = 0xE0;   // one of bits 5 to 7 must be set

constexpr int kMaxAttachedRows = 1024;
constexpr DWORD kMaxEnumValues = 16;
constexpr DWORD kEnumNameBufferSize = 200;

struct AttachedTable {
  shared::DeviceRow rows[kMaxAttachedRows];
  uint16_t count = 0;
  uint16_t position = 0;
  uint8_t scanFlags = 0;  // flags of the last scan; 0 before the first
};

AttachedTable g_table;
win32::CriticalSection g_tableLock;

void AttachedTableAdd(AttachedTable& table, uint8_t kind, uint32_t serial, bool inUse) {
  for (int i = 0; i < table.count; ++i) {
    if (table.rows[i].kind == kind && table.rows[i].serial == serial) return;
  }
  if (table.count >= kMaxAttachedRows) return;
  shared::DeviceRow& row = table.rows[table.count++];
  row.kind = kind;
  row.serial = serial;
  row.attached = 1;
  row.inUse = inUse ? 1 : 0;
}

struct BoundSerials {
  uint32_t serials[shared::kDeviceNumberCount];
  int count = 0;

  bool Contains(uint32_t serial) const {
    for (int i = 0; i < count; ++i) {
      if (serials[i] == serial) return true;
    }
    return false;
  }
};

void AttachedTableMerge(AttachedTable& table, const BoundSerials& bound, uint8_t flags,
                        uint32_t serial, bool inUse) {
  const uint8_t wanted = bound.Contains(serial) ? kFlagBound : kFlagUnbound;
  if (flags & wanted) AttachedTableAdd(table, shared::kDeviceKindUsbAdapter, serial, inUse);
}

void ScanEnumKey(AttachedTable& table, const BoundSerials& bound, uint8_t flags) {
  win32::UniqueRegKey enumKey;
  if (OpenConfigurationKey(shared::kEnumKeyPath, enumKey) != ERROR_SUCCESS) return;
  for (DWORD index = 0; index < kMaxEnumValues; ++index) {
    char name[kEnumNameBufferSize];
    DWORD nameLength = sizeof name;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegEnumValueA(enumKey.get(), index, name, &nameLength, nullptr, &type,
                        reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS) {
      return;
    }
    if (type != REG_DWORD) continue;
    const bool inUse = ProbeDeviceInUse(static_cast<uint16_t>(value));
    AttachedTableMerge(table, bound, flags, value, inUse);
  }
}

void ScanAttachedDevices(AttachedTable& table, uint8_t flags) {
  table.count = 0;
  table.position = 0;
  for (shared::DeviceRow& row : table.rows) row = shared::DeviceRow();

  BoundSerials bound;
  for (int number = 0; number < shared::kDeviceNumberCount; ++number) {
    uint8_t row[shared::kDeviceRowSize];
    if (ReadSlotConfiguration(static_cast<uint8_t>(number), row) != shared::kStatusOk) continue;
    const shared::DeviceRow slot = shared::UnpackDeviceRow(row);
    if (slot.kind == shared::kDeviceRowConfigured) bound.serials[bound.count++] = slot.serial;
  }
  ScanEnumKey(table, bound, flags);
}

}  // namespace

}  // namespace modemapi

extern "C" uint8_t __cdecl vtHART_AttachedDevices(uint8_t flags, uint8_t* row) {
  using namespace modemapi;
  if (!row) return shared::kStatusInvalidArgument;
  win32::CsLock lock(g_tableLock);
  if (flags > kFlagContinue || (flags == kFlagContinue && g_table.scanFlags == 0) ||
      (flags & kFlagsReserved) != 0 || (flags & kFlagsListing) == 0) {
    return shared::kStatusInvalidArgument;
  }
  if (flags < kFlagContinue) {
    // A scan that raised leaves no table to continue.
    const bool scanned = win32::guard(false, [&] {
      ScanAttachedDevices(g_table, flags);
      return true;
    });
    if (!scanned) {
      g_table.count = 0;
      g_table.position = 0;
      g_table.scanFlags = 0;
      return shared::kStatusIoError;
    }
    g_table.scanFlags = flags;
  }
  if (g_table.position >= g_table.count) return shared::kStatusNotFound;
  shared::PackDeviceRow(g_table.rows[g_table.position++], row);
  return shared::kStatusOk;
}
