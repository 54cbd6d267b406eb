#include "registry.h"

#include <map>

namespace sim {

namespace {

struct Interface {
    AdapterPtr adapter;
};

struct Registry {
    win32::CriticalSection lock;
    std::map<uint16_t, AdapterPtr> adapters;
    // Keyed by the handle given out, so that a stale or foreign handle is
    // recognised instead of dereferenced.
    std::map<void*, std::unique_ptr<Interface>> interfaces;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // lives until the process ends
    return *registry;
}

}  // namespace

AdapterPtr CreateAdapter(uint16_t serial, const std::wstring& path) {
    Registry& r = TheRegistry();
    auto adapter = std::make_shared<Adapter>(serial, path);
    AdapterPtr old;
    {
        win32::CsLock lock(r.lock);
        auto& slot = r.adapters[serial];
        old = slot;
        slot = adapter;
    }
    if (old) old->Unplug();
    return adapter;
}

AdapterPtr FindAdapter(uint16_t serial) {
    Registry& r = TheRegistry();
    win32::CsLock lock(r.lock);
    auto it = r.adapters.find(serial);
    return it == r.adapters.end() ? nullptr : it->second;
}

AdapterPtr AdapterForDescription(const AdapterDescription& description) {
    Registry& r = TheRegistry();
    win32::CsLock lock(r.lock);
    auto& slot = r.adapters[description.serial];
    if (!slot) {
        slot = std::make_shared<Adapter>(description.serial, std::wstring());
        slot->WithLine([&](HartLine& line) {
            for (const SimFieldDevice& d : description.devices) line.AddOrReplace(d);
            return 0;
        });
        slot->SetLineTiming(description.wireTime, description.noAnswerMs);
        if (!description.present) slot->Unplug();
    } else if (slot->path().empty()) {
        // Made from a device file: its presence follows the file.
        if (description.present && !slot->present()) slot->Replug();
        if (!description.present && slot->present()) slot->Unplug();
    }
    return slot;
}

bool RemoveAdapter(uint16_t serial) {
    Registry& r = TheRegistry();
    AdapterPtr adapter;
    {
        win32::CsLock lock(r.lock);
        auto it = r.adapters.find(serial);
        if (it == r.adapters.end()) return false;
        adapter = it->second;
        r.adapters.erase(it);
    }
    adapter->Unplug();
    if (!adapter->path().empty()) ::DeleteFileW(adapter->path().c_str());
    return true;
}

void RemoveAllAdapters() {
    Registry& r = TheRegistry();
    std::map<uint16_t, AdapterPtr> adapters;
    {
        win32::CsLock lock(r.lock);
        adapters.swap(r.adapters);
    }
    for (auto& entry : adapters) entry.second->Unplug();
}

void RewriteDeviceFile(Adapter& adapter) {
    WriteDescriptionFile(adapter.path(), adapter.Description());
}

void* OpenInterface(const AdapterPtr& adapter) {
    Registry& r = TheRegistry();
    auto handle = std::make_unique<Interface>(Interface{adapter});
    void* key = handle.get();
    adapter->OpenHandle();
    win32::CsLock lock(r.lock);
    r.interfaces[key] = std::move(handle);
    return key;
}

AdapterPtr AdapterOfInterface(void* handle) {
    Registry& r = TheRegistry();
    win32::CsLock lock(r.lock);
    auto it = r.interfaces.find(handle);
    return it == r.interfaces.end() ? nullptr : it->second->adapter;
}

bool CloseInterface(void* handle) {
    Registry& r = TheRegistry();
    std::unique_ptr<Interface> closed;
    {
        win32::CsLock lock(r.lock);
        auto it = r.interfaces.find(handle);
        if (it == r.interfaces.end()) return false;
        closed = std::move(it->second);
        r.interfaces.erase(it);
    }
    closed->adapter->CloseHandle();
    return true;
}

}  // namespace sim
