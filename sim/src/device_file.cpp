#include "device_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "win32/unique_handle.h"

namespace sim {

namespace {

void AppendNumber(std::string& line, const char* key, unsigned value, bool hex = false) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, hex ? " %s=0x%X" : " %s=%u", key, value);
    line += buffer;
}

void AppendText(std::string& line, const char* key, const char* value) {
    line += ' ';
    line += key;
    line += "=\"";
    for (const char* p = value; *p; ++p)
        if (*p != '"' && *p != '\r' && *p != '\n') line += *p;
    line += '"';
}

// Splits "key=value key2="text with blanks"" into pairs.
std::vector<std::pair<std::string, std::string>> SplitPairs(const std::string& line) {
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const size_t keyStart = i;
        while (i < line.size() && line[i] != '=' && line[i] != ' ' && line[i] != '\t') ++i;
        std::string key = line.substr(keyStart, i - keyStart);
        std::string value;
        if (i < line.size() && line[i] == '=') {
            ++i;
            if (i < line.size() && line[i] == '"') {
                const size_t end = line.find('"', i + 1);
                const size_t stop = end == std::string::npos ? line.size() : end;
                value = line.substr(i + 1, stop - i - 1);
                i = end == std::string::npos ? line.size() : end + 1;
            } else {
                const size_t start = i;
                while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
                value = line.substr(start, i - start);
            }
        }
        if (!key.empty()) pairs.emplace_back(key, value);
    }
    return pairs;
}

bool ParseNumber(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, 0);
    return end && *end == '\0' && value <= max;
}

void CopyText(char* target, size_t size, const std::string& value) {
    std::strncpy(target, value.c_str(), size - 1);
    target[size - 1] = '\0';
}

bool ParseDevice(const std::string& rest, SimFieldDevice& device) {
    SimInitFieldDevice(&device);
    bool haveId = false;
    for (const auto& [key, value] : SplitPairs(rest)) {
        unsigned long n = 0;
        auto number = [&](unsigned long max) { return ParseNumber(value, max, n); };
        if (key == "id") {
            if (!number(0xFFFFFF)) return false;
            device.deviceId = n;
            haveId = true;
        } else if (key == "tag") {
            CopyText(device.tag, sizeof device.tag, value);
        } else if (key == "descriptor") {
            CopyText(device.descriptor, sizeof device.descriptor, value);
        } else if (key == "longtag") {
            CopyText(device.longTag, sizeof device.longTag, value);
        } else if (key == "delay") {
            if (number(0xFFFFFFFF)) device.answerDelayMs = n;
        } else if (number(255)) {
            const uint8_t b = static_cast<uint8_t>(n);
            if (key == "address") device.pollingAddress = b & 0x3F;
            else if (key == "manufacturer") device.manufacturerId = b;
            else if (key == "type") device.deviceType = b;
            else if (key == "revision") device.hartRevision = b;
            else if (key == "devrev") device.deviceRevision = b;
            else if (key == "swrev") device.softwareRevision = b;
            else if (key == "hwrev") device.hardwareRevision = b & 0x1F;
            else if (key == "signalling") device.physicalSignalling = b & 0x07;
            else if (key == "flags") device.flags = b;
            else if (key == "preambles") device.preambles = b;
            else if (key == "status") device.deviceStatus = b;
            else if (key == "burst") device.burstMode = b;
            else if (key == "burstcmd") device.burstCommand = b;
        }
    }
    return haveId;
}

}  // namespace

std::string FormatDescription(const AdapterDescription& description) {
    std::string text = "# simulated HART adapter\n";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "serial=0x%04X\npresent=%d\n", description.serial,
                  description.present ? 1 : 0);
    text += buffer;
    if (description.wireTime || description.noAnswerMs) {
        std::snprintf(buffer, sizeof buffer, "wiretime=%d\nnoanswer=%lu\n", description.wireTime ? 1 : 0,
                      static_cast<unsigned long>(description.noAnswerMs));
        text += buffer;
    }
    for (const SimFieldDevice& d : description.devices) {
        std::string line = "device";
        AppendNumber(line, "address", d.pollingAddress);
        AppendNumber(line, "manufacturer", d.manufacturerId, true);
        AppendNumber(line, "type", d.deviceType, true);
        AppendNumber(line, "id", d.deviceId, true);
        AppendNumber(line, "revision", d.hartRevision);
        AppendNumber(line, "devrev", d.deviceRevision);
        AppendNumber(line, "swrev", d.softwareRevision);
        AppendNumber(line, "hwrev", d.hardwareRevision);
        AppendNumber(line, "signalling", d.physicalSignalling);
        AppendNumber(line, "flags", d.flags, true);
        AppendNumber(line, "preambles", d.preambles);
        AppendNumber(line, "status", d.deviceStatus, true);
        AppendNumber(line, "burst", d.burstMode);
        AppendNumber(line, "burstcmd", d.burstCommand);
        AppendNumber(line, "delay", d.answerDelayMs);
        AppendText(line, "tag", d.tag);
        AppendText(line, "descriptor", d.descriptor);
        AppendText(line, "longtag", d.longTag);
        text += line + "\n";
    }
    return text;
}

bool ParseDescription(const std::string& text, AdapterDescription& description) {
    description = AdapterDescription{};
    bool haveSerial = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        unsigned long n = 0;
        if (line.compare(0, 7, "serial=") == 0) {
            if (!ParseNumber(line.substr(7), 0xFFFF, n)) return false;
            description.serial = static_cast<uint16_t>(n);
            haveSerial = true;
        } else if (line.compare(0, 8, "present=") == 0) {
            description.present = line.substr(8) != "0";
        } else if (line.compare(0, 9, "wiretime=") == 0) {
            description.wireTime = line.substr(9) != "0";
        } else if (line.compare(0, 9, "noanswer=") == 0) {
            if (!ParseNumber(line.substr(9), 0xFFFFFFFFul, n)) return false;
            description.noAnswerMs = static_cast<uint32_t>(n);
        } else if (line.compare(0, 7, "device ") == 0) {
            SimFieldDevice device;
            if (!ParseDevice(line.substr(7), device)) return false;
            description.devices.push_back(device);
        }
    }
    return haveSerial;
}

bool WriteDescriptionFile(const std::wstring& path, const AdapterDescription& description) {
    if (path.empty()) return false;
    win32::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const std::string text = FormatDescription(description);
    DWORD written = 0;
    return ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool ReadDescriptionFromHandle(HANDLE file, std::string& text) {
    constexpr DWORD kMaxSize = 64 * 1024;
    std::string buffer(kMaxSize, '\0');
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return false;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.get();
    DWORD read = 0;
    if (!::ReadFile(file, &buffer[0], kMaxSize, &read, &overlapped)) {
        if (::GetLastError() != ERROR_IO_PENDING) return false;
        if (!::GetOverlappedResult(file, &overlapped, &read, TRUE)) return false;
    } else if (!::GetOverlappedResult(file, &overlapped, &read, FALSE)) {
        return false;
    }
    buffer.resize(read);
    text = std::move(buffer);
    return true;
}

}  // namespace sim
