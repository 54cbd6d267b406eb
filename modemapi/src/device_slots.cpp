#include "device_slots.h"

#include <optional>

namespace modemapi {

namespace {
std::optional<SlotTable> g_slots;
}  // namespace

SlotTable& Slots() { return *g_slots; }

void CreateSlots() { g_slots.emplace(); }

void DeleteSlots() { g_slots.reset(); }

}  // namespace modemapi
