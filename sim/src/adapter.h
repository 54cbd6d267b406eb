// One simulated adapter: the vendor requests of its firmware and boot
// loader, its RAM, its receive queue, injected faults and the transfer log.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "device_file.h"
#include "hart_line.h"
#include "shared/adapter_protocol.h"
#include "sim/sim_control.h"
#include "win32/unique_handle.h"

namespace sim {

using shared::SetupPacket;

class Adapter {
public:
    Adapter(uint16_t serial, std::wstring path);

    uint16_t serial() const { return serial_; }
    const std::wstring& path() const { return path_; }

    // One control transfer. Returns 0 on success, else the Win32 error.
    // May sleep (injected stall) without holding the adapter's lock.
    DWORD ControlTransfer(const SetupPacket& setup, uint8_t* buffer, ULONG bufferLength, ULONG& transferred);
    DWORD GetDescriptor(uint8_t type, uint8_t index, uint16_t language, uint8_t* buffer, ULONG bufferLength,
                        ULONG& transferred);

    bool present();
    // What transfers fail with while unplugged.
    DWORD goneError();
    void OpenHandle();
    void CloseHandle();

    // Transfers fail with `error` from now on (see SimUnplugWithError).
    void Unplug(DWORD error = ERROR_BAD_COMMAND);
    void Replug();
    SimAdapterState State();
    uint32_t ReadRam(uint16_t address, uint8_t* buffer, uint32_t length);
    uint32_t CopyLog(SimTransfer* entries, uint32_t capacity);
    void ClearLog();
    void AddFault(uint8_t request, uint32_t skip, uint32_t count, uint32_t kind, uint32_t stallMs);
    void ClearFaults();
    void SetRequestAnswer(uint8_t request, const uint8_t* data, uint32_t length);

    // Field devices; `f` runs under the adapter's lock.
    template <typename F>
    auto WithLine(F f) {
        win32::CsLock lock(lock_);
        return f(line_);
    }
    AdapterDescription Description();

    // Line timing: wire time delays every answer by the time the request's
    // and the answer's bytes take on the line; noAnswerMs (when not 0) makes
    // the adapter report a status byte that long after a frame nobody
    // answered. SIM_HART_TIMEOUT: the master's reply time-out.
    void SetLineTiming(bool wireTime, uint32_t noAnswerMs);
    // Wire times and time-outs charged since the last call.
    uint64_t TakeLineTimeUs();

    // Queues a receive reply: kind and data (reply byte 6 = data length).
    bool QueueReply(uint8_t kind, const uint8_t* data, uint32_t length, uint32_t delayMs = 0);
    bool QueueRawReply(uint8_t announced, const uint8_t* reply, uint32_t length);

private:
    struct Fault {
        uint8_t request;
        uint32_t skip;
        uint32_t count;
        uint32_t kind;
        uint32_t stallMs;
    };
    struct Reply {
        std::vector<uint8_t> bytes;  // kind, 8 header bytes, data
        uint8_t announced;
        uint64_t dueUs;
    };

    uint64_t NowUs() const;
    // Picks the fault for a transfer with this request code, if any.
    bool TakeFault(uint8_t request, uint32_t& kind, uint32_t& stallMs);
    void Log(const SetupPacket& setup, ULONG bufferLength, const uint8_t* data, ULONG transferred, DWORD error);
    DWORD Execute(const SetupPacket& setup, uint8_t* buffer, ULONG& transferred);
    DWORD RamWrite(uint16_t address, const uint8_t* data, uint16_t length);
    void Send(const uint8_t* data, uint16_t length);
    void HoldProcessor();
    void PowerUp();
    // The oldest reply whose answer delay is over, or end().
    std::deque<Reply>::iterator DueReply();
    bool QueueReplyLocked(uint8_t kind, const uint8_t* data, uint32_t length, uint32_t delayMs);
    bool QueueReplyLockedUs(uint8_t kind, const uint8_t* data, uint32_t length, uint64_t delayUs);
    // A test forced a non-zero answer to this request.
    bool ForcedRefusal(uint8_t request) const;

    const uint16_t serial_;
    const std::wstring path_;
    LARGE_INTEGER frequency_{};
    LARGE_INTEGER start_{};

    // Set while unplugged: a stalled transfer ends at once, as pending
    // transfers do when a device goes away.
    win32::UniqueHandle unplugged_;

    win32::CriticalSection lock_;
    bool present_ = true;
    DWORD goneError_ = ERROR_BAD_COMMAND;
    bool processorHeld_ = false;
    bool firmwareRunning_ = false;
    bool ramLoaded_ = false;
    bool initialised_ = false;
    uint8_t masterMode_ = 0;
    uint8_t parameter_ = 0;
    uint16_t sendStatus_ = 0;
    uint32_t ramWrites_ = 0;
    uint32_t ramBytes_ = 0;
    uint32_t framesSent_ = 0;
    uint32_t openHandles_ = 0;
    uint32_t emptyPolls_ = 0;
    bool wireTime_ = false;
    uint32_t noAnswerMs_ = 0;
    uint64_t lineTimeUs_ = 0;
    std::vector<uint8_t> ram_;
    std::deque<Reply> replies_;
    std::vector<Fault> faults_;
    std::map<uint8_t, std::vector<uint8_t>> requestAnswers_;
    std::vector<SimTransfer> log_;
    HartLine line_;
};

}  // namespace sim
