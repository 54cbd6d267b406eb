// The text description of an adapter kept in its device file, so that a
// process that did not create the adapter (the service, the demo) still
// finds its serial, presence and field devices.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "sim/sim_control.h"

namespace sim {

struct AdapterDescription {
    uint16_t serial = 0;
    bool present = true;
    // Line timing (see SimSetLineTiming): "wiretime=1", "noanswer=<ms>".
    bool wireTime = false;
    uint32_t noAnswerMs = 0;
    std::vector<SimFieldDevice> devices;
};

std::string FormatDescription(const AdapterDescription& description);

// False when the text has no valid serial line or a device line without id.
// Unknown keys and lines are ignored.
bool ParseDescription(const std::string& text, AdapterDescription& description);

// Rewrites the file; false when it cannot be opened (for example while the
// library holds it).
bool WriteDescriptionFile(const std::wstring& path, const AdapterDescription& description);

// Reads the file's text through a handle opened by someone else, which may
// be an overlapped handle; the file position is not used.
bool ReadDescriptionFromHandle(HANDLE file, std::string& text);

}  // namespace sim
