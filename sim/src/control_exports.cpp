// Control exports for tests (sim/include/sim/sim_control.h).
#include <cstring>

#include "registry.h"
#include "sim/sim_control.h"

namespace {

using sim::AdapterPtr;
using sim::FieldDevice;
using sim::HartLine;

// Runs `f` on the device's entry under its adapter's lock; 0 when the
// adapter or device is unknown.
template <typename F>
int WithDevice(uint16_t serial, uint32_t deviceId, F f) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    if (!adapter) return 0;
    return adapter->WithLine([&](HartLine& line) {
        FieldDevice* device = line.Find(deviceId);
        if (!device) return 0;
        f(*device);
        return 1;
    });
}

void CopyText(char* target, size_t size, const char* text) {
    std::strncpy(target, text, size - 1);
    target[size - 1] = '\0';
}

}  // namespace

extern "C" {

SIM_API void SimInitFieldDevice(SimFieldDevice* device) {
    if (!device) return;
    std::memset(device, 0, sizeof *device);
    device->pollingAddress = 0;
    device->manufacturerId = 0x26;
    device->deviceType = 0x06;
    device->hartRevision = 7;
    device->deviceId = 0x000001;
    device->deviceRevision = 1;
    device->softwareRevision = 1;
    device->hardwareRevision = 1;
    device->preambles = 5;
    device->date[0] = 1;
    device->date[1] = 1;
    device->date[2] = 120;
    CopyText(device->tag, sizeof device->tag, "SIMDEV");
    CopyText(device->descriptor, sizeof device->descriptor, "SIMULATED");
    CopyText(device->longTag, sizeof device->longTag, "SIMULATED DEVICE");
}

SIM_API int SimCreateAdapter(const wchar_t* path, uint16_t serial) {
    if (!path || !*path) return 0;
    sim::AdapterDescription description;
    description.serial = serial;
    if (!sim::WriteDescriptionFile(path, description)) return 0;
    sim::CreateAdapter(serial, path);
    return 1;
}

SIM_API int SimRemoveAdapter(uint16_t serial) { return sim::RemoveAdapter(serial) ? 1 : 0; }

SIM_API void SimReset(void) { sim::RemoveAllAdapters(); }

SIM_API int SimUnplug(uint16_t serial) { return SimUnplugWithError(serial, ERROR_BAD_COMMAND); }

SIM_API int SimUnplugWithError(uint16_t serial, uint32_t error) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    if (!adapter || error == ERROR_SUCCESS) return 0;
    adapter->Unplug(error);
    sim::RewriteDeviceFile(*adapter);
    return 1;
}

SIM_API int SimReplug(uint16_t serial) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    if (!adapter) return 0;
    adapter->Replug();
    sim::RewriteDeviceFile(*adapter);
    return 1;
}

SIM_API int SimGetAdapterState(uint16_t serial, SimAdapterState* state) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    if (!adapter || !state) return 0;
    *state = adapter->State();
    return 1;
}

SIM_API int SimSetLineTiming(uint16_t serial, int wireTime, uint32_t noAnswerMs) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    if (!adapter) return 0;
    adapter->SetLineTiming(wireTime != 0, noAnswerMs);
    sim::RewriteDeviceFile(*adapter);
    return 1;
}

SIM_API uint64_t SimTakeLineTime(uint16_t serial) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    return adapter ? adapter->TakeLineTimeUs() : 0;
}

SIM_API uint32_t SimReadRam(uint16_t serial, uint16_t address, uint8_t* buffer, uint32_t length) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    return adapter ? adapter->ReadRam(address, buffer, length) : 0;
}

SIM_API uint32_t SimGetTransferLog(uint16_t serial, SimTransfer* entries, uint32_t capacity) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    return adapter ? adapter->CopyLog(entries, capacity) : 0;
}

SIM_API int SimClearTransferLog(uint16_t serial) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    if (!adapter) return 0;
    adapter->ClearLog();
    return 1;
}

SIM_API int SimInjectFault(uint16_t serial, uint8_t request, uint32_t skip, uint32_t count, uint32_t kind,
                           uint32_t stallMs) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    if (!adapter || !count || !(kind & (SIM_FAULT_FAIL | SIM_FAULT_STALL))) return 0;
    adapter->AddFault(request, skip, count, kind, stallMs);
    return 1;
}

SIM_API int SimClearFaults(uint16_t serial) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    if (!adapter) return 0;
    adapter->ClearFaults();
    return 1;
}

SIM_API int SimSetRequestAnswer(uint16_t serial, uint8_t request, const uint8_t* data, uint32_t length) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    if (!adapter || (length && !data)) return 0;
    adapter->SetRequestAnswer(request, data, length);
    return 1;
}

SIM_API int SimAddFieldDevice(uint16_t serial, const SimFieldDevice* device) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    if (!adapter || !device) return 0;
    adapter->WithLine([&](HartLine& line) {
        line.AddOrReplace(*device);
        return 0;
    });
    sim::RewriteDeviceFile(*adapter);
    return 1;
}

SIM_API int SimRemoveFieldDevice(uint16_t serial, uint32_t deviceId) {
    AdapterPtr adapter = sim::FindAdapter(serial);
    if (!adapter) return 0;
    const bool removed = adapter->WithLine([&](HartLine& line) { return line.Remove(deviceId); });
    if (removed) sim::RewriteDeviceFile(*adapter);
    return removed ? 1 : 0;
}

SIM_API int SimGetFieldDevice(uint16_t serial, uint32_t deviceId, SimFieldDevice* device) {
    if (!device) return 0;
    return WithDevice(serial, deviceId, [&](FieldDevice& d) { *device = d.config; });
}

SIM_API int SimSetAnswer(uint16_t serial, uint32_t deviceId, uint8_t command, uint8_t firstStatus,
                         const uint8_t* data, uint32_t length) {
    if ((length && !data) || length > 253) return 0;
    return WithDevice(serial, deviceId, [&](FieldDevice& d) {
        sim::AnswerOverride o;
        o.kind = sim::AnswerOverride::Kind::Answer;
        o.firstStatus = firstStatus;
        if (length) o.bytes.assign(data, data + length);
        d.overrides[command] = std::move(o);
    });
}

SIM_API int SimSetRawAnswer(uint16_t serial, uint32_t deviceId, uint8_t command, const uint8_t* frame,
                            uint32_t length) {
    if ((length && !frame) || length > 255) return 0;
    return WithDevice(serial, deviceId, [&](FieldDevice& d) {
        sim::AnswerOverride o;
        o.kind = sim::AnswerOverride::Kind::Raw;
        if (length) o.bytes.assign(frame, frame + length);
        d.overrides[command] = std::move(o);
    });
}

SIM_API int SimSetNoAnswer(uint16_t serial, uint32_t deviceId, int command) {
    if (command != SIM_ALL_COMMANDS && (command < 0 || command > 255)) return 0;
    return WithDevice(serial, deviceId, [&](FieldDevice& d) {
        if (command == SIM_ALL_COMMANDS) {
            d.silent = true;
        } else {
            d.overrides[static_cast<uint8_t>(command)] = sim::AnswerOverride{sim::AnswerOverride::Kind::Silent, 0, {}};
        }
    });
}

SIM_API int SimClearAnswer(uint16_t serial, uint32_t deviceId, int command) {
    if (command != SIM_ALL_COMMANDS && (command < 0 || command > 255)) return 0;
    return WithDevice(serial, deviceId, [&](FieldDevice& d) {
        if (command == SIM_ALL_COMMANDS) {
            d.silent = false;
            d.overrides.clear();
        } else {
            d.overrides.erase(static_cast<uint8_t>(command));
        }
    });
}

SIM_API int SimSetAnswerDelay(uint16_t serial, uint32_t deviceId, uint32_t delayMs) {
    return WithDevice(serial, deviceId, [&](FieldDevice& d) { d.config.answerDelayMs = delayMs; });
}

SIM_API int SimQueueBurst(uint16_t serial, uint32_t deviceId, uint8_t command, const uint8_t* data,
                          uint32_t length) {
    if ((length && !data) || length > 253) return 0;
    AdapterPtr adapter = sim::FindAdapter(serial);
    if (!adapter) return 0;
    std::vector<uint8_t> frame;
    const int found = WithDevice(serial, deviceId, [&](FieldDevice& d) {
        frame = HartLine::BurstFrame(d, command, data, length);
    });
    if (!found) return 0;
    return adapter->QueueReply(SIM_KIND_BURST, frame.data(), static_cast<uint32_t>(frame.size())) ? 1 : 0;
}

SIM_API int SimQueueReply(uint16_t serial, uint8_t kind, const uint8_t* data, uint32_t length) {
    if (length && !data) return 0;
    AdapterPtr adapter = sim::FindAdapter(serial);
    return adapter && adapter->QueueReply(kind, data, length) ? 1 : 0;
}

SIM_API int SimQueueRawReply(uint16_t serial, uint8_t announced, const uint8_t* reply, uint32_t length) {
    if (length && !reply) return 0;
    AdapterPtr adapter = sim::FindAdapter(serial);
    return adapter && adapter->QueueRawReply(announced, reply, length) ? 1 : 0;
}

}  // extern "C"
