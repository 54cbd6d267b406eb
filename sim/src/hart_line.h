// The HART line behind a simulated adapter: field devices that answer the
// frames the adapter puts on the line.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "hart/frame.h"
#include "sim/sim_control.h"

namespace sim {

// How one device answers one command in place of its built-in answer.
struct AnswerOverride {
    enum class Kind { Answer, Raw, Silent };
    Kind kind = Kind::Answer;
    uint8_t firstStatus = 0;
    std::vector<uint8_t> bytes;  // data (Answer) or whole frame (Raw)
};

struct FieldDevice {
    SimFieldDevice config;
    std::map<uint8_t, AnswerOverride> overrides;
    bool silent = false;  // no answer to any command
};

// One frame that reaches the adapter from the line.
struct LineFrame {
    uint8_t kind = SIM_KIND_ANSWER;
    std::vector<uint8_t> frame;  // delimiter to checksum
    uint32_t delayMs = 0;
};

class HartLine {
public:
    // Puts a master's frame on the line and returns the answers.
    std::vector<LineFrame> Transmit(const uint8_t* frame, size_t length);

    // A burst frame of this device (command, status 0 and its device
    // status, data).
    static std::vector<uint8_t> BurstFrame(const FieldDevice& device, uint8_t command, const uint8_t* data,
                                           size_t count);

    FieldDevice* Find(uint32_t deviceId);
    void AddOrReplace(const SimFieldDevice& config);
    bool Remove(uint32_t deviceId);
    std::vector<SimFieldDevice> Configs() const;

private:
    std::vector<FieldDevice> devices_;
};

}  // namespace sim
