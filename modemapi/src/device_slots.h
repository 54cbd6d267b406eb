// The table of 256 device slots, indexed by device number, each empty or
// owning one device object, with one lock per slot.
//
// The table lives from the library's attach to a process to its detach
// (DllMain). A slot lock is held only while a slot is looked up and filled or
// emptied; opening, closing and the per-device operations run without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "modem_device.h"
#include "win32/unique_handle.h"

namespace modemapi {

constexpr int kSlotCount = 256;

class SlotTable {
 public:
  SlotTable() = default;
  // Open devices are left alone at unload: their threads may still run.
  ~SlotTable() = default;

  win32::CriticalSection& lock(uint8_t deviceNumber) { return locks_[deviceNumber]; }

  // The device in the slot, or null. Callers must not close a device number
  // while another of their threads still uses it.
  ModemDevice* device(uint8_t deviceNumber) const { return slots_[deviceNumber].load(); }

  // Both under the slot's lock.
  void Store(uint8_t deviceNumber, std::unique_ptr<ModemDevice> device) {
    slots_[deviceNumber].store(device.release());
  }
  std::unique_ptr<ModemDevice> Take(uint8_t deviceNumber) {
    return std::unique_ptr<ModemDevice>(slots_[deviceNumber].exchange(nullptr));
  }

 private:
  win32::CriticalSection locks_[kSlotCount];
  std::atomic<ModemDevice*> slots_[kSlotCount] = {};
};

// The process's table; valid between DllMain's process attach and detach.
SlotTable& Slots();
void CreateSlots();
void DeleteSlots();

}  // namespace modemapi
