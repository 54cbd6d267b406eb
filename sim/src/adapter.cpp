#include "adapter.h"

#include <algorithm>
#include <cstring>

using namespace shared;  // the adapter's vendor protocol

static_assert(SIM_KIND_ANSWER == kReplyKindAnswer && SIM_KIND_BURST == kReplyKindBurst &&
                  SIM_KIND_STATUS == kReplyKindStatus,
              "the control API's reply kinds are the adapter's");

namespace sim {

namespace {

// Standard GET_DESCRIPTOR, logged for WinUsb_GetDescriptor.
constexpr uint8_t kGetDescriptor = 0x06;

constexpr uint32_t kRamSize = 0x4000;
constexpr uint16_t kMaxRamWrite = 64;  // bytes one RAM write may carry
constexpr size_t kMaxQueuedReplies = 64;
// HART on the line: 1200 bit/s, 11 bits a character (start, 8 data, odd
// parity, stop). Answers are counted with the 5 preambles slaves send; a
// master waits 33 character times for the start of an answer.
constexpr uint64_t kBitsPerCharacter = 11;
constexpr uint64_t kBitsPerSecond = 1200;
constexpr size_t kAnswerPreambles = 5;
constexpr size_t kReplyTimeoutCharacters = 33;

uint64_t WireTimeUs(size_t characters) {
    return characters * kBitsPerCharacter * 1000000ull / kBitsPerSecond;
}
constexpr size_t kMaxLogEntries = 100000;

// The error the simulated WinUSB reports when the device stalled a request.
constexpr DWORD kStallError = ERROR_GEN_FAILURE;

const uint8_t kDeviceDescriptor[18] = {
    18, 1, 0x00, 0x02,  // length, type, USB 2.0
    0xFF, 0xFF, 0xFF,   // vendor-specific class
    64,                 // endpoint 0 packet size
    0xFF, 0xFF,         // vendor id (test value)
    0x01, 0x00,         // product id
    0x00, 0x01,         // device release
    0, 0, 0,            // no strings
    1,                  // one configuration
};

// Every request of the adapter has index 0 and a length its code fixes; the
// adapter stalls anything else, as it does an unknown code.
bool SetupFits(const SetupPacket& setup) {
    if (setup.index != 0) return false;
    switch (setup.request) {
    case kReqWriteRam:
        return setup.value == kCpuControlAddress ? setup.length == 1
                                                 : setup.length >= 1 && setup.length <= kMaxRamWrite;
    case kReqPrepare:
    case kReqStartHart:
    case kReqGetParam:
    case kReqReceivePoll:
    case kReqStop:
        return setup.length == 1;
    case kReqSendStatus:
    case kReqSetParam:
    case kReqSerial:
        return setup.length == 2;
    case kReqSendFrame:
        return setup.length >= kSendHeaderSize && setup.length <= kSendHeaderSize + kMaxFrameLength;
    case kReqReceiveReply:
        return setup.length >= kReplyDataOffset && setup.length <= kReplyMaxSize;
    default:
        return true;  // refused below as unknown
    }
}

}  // namespace

Adapter::Adapter(uint16_t serial, std::wstring path)
    : serial_(serial), path_(std::move(path)), unplugged_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      ram_(kRamSize, 0) {
    ::QueryPerformanceFrequency(&frequency_);
    ::QueryPerformanceCounter(&start_);
}

uint64_t Adapter::NowUs() const {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<uint64_t>((now.QuadPart - start_.QuadPart) * 1000000.0 / frequency_.QuadPart);
}

DWORD Adapter::goneError() {
    win32::CsLock lock(lock_);
    return goneError_;
}

bool Adapter::present() {
    win32::CsLock lock(lock_);
    return present_;
}

void Adapter::OpenHandle() {
    win32::CsLock lock(lock_);
    ++openHandles_;
}

void Adapter::CloseHandle() {
    win32::CsLock lock(lock_);
    if (openHandles_) --openHandles_;
}

bool Adapter::TakeFault(uint8_t request, uint32_t& kind, uint32_t& stallMs) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->request != SIM_ANY_REQUEST && it->request != request) continue;
        if (it->skip) {
            --it->skip;
            continue;
        }
        kind = it->kind;
        stallMs = it->stallMs;
        if (--it->count == 0) faults_.erase(it);
        return true;
    }
    return false;
}

void Adapter::Log(const SetupPacket& setup, ULONG bufferLength, const uint8_t* data, ULONG transferred,
                  DWORD error) {
    if (log_.size() >= kMaxLogEntries) return;
    SimTransfer entry = {};
    entry.requestType = setup.requestType;
    entry.request = setup.request;
    entry.value = setup.value;
    entry.index = setup.index;
    entry.length = setup.length;
    entry.bufferLength = bufferLength;
    entry.transferred = transferred;
    entry.error = error;
    entry.timeUs = NowUs();
    // What went out is the request's data; what came back is what was moved.
    size_t count = setup.requestType & 0x80 ? transferred : std::min<ULONG>(setup.length, bufferLength);
    count = std::min(count, sizeof entry.data);
    if (data && count) std::memcpy(entry.data, data, count);
    log_.push_back(entry);
}

DWORD Adapter::ControlTransfer(const SetupPacket& setup, uint8_t* buffer, ULONG bufferLength, ULONG& transferred) {
    transferred = 0;
    uint32_t kind = 0, stallMs = 0;
    {
        win32::CsLock lock(lock_);
        if (!present_) {
            Log(setup, bufferLength, buffer, 0, goneError_);
            return goneError_;
        }
        TakeFault(setup.request, kind, stallMs);
    }
    if (kind & SIM_FAULT_STALL) ::WaitForSingleObject(unplugged_.get(), stallMs);

    win32::CsLock lock(lock_);
    DWORD error = 0;
    if (!present_) {
        error = goneError_;
    } else if (kind & SIM_FAULT_FAIL) {
        error = kStallError;
    } else if (setup.length && (!buffer || bufferLength < setup.length)) {
        error = ERROR_INVALID_PARAMETER;
    } else {
        error = Execute(setup, buffer, transferred);
    }
    if (error) transferred = 0;
    const bool emptyPoll = !error && setup.request == kReqReceivePoll && transferred && buffer[0] == 0;
    if (emptyPoll) {
        ++emptyPolls_;
    } else {
        Log(setup, bufferLength, buffer, transferred, error);
    }
    return error;
}

DWORD Adapter::GetDescriptor(uint8_t type, uint8_t index, uint16_t language, uint8_t* buffer, ULONG bufferLength,
                             ULONG& transferred) {
    transferred = 0;
    const SetupPacket setup = {0x80, kGetDescriptor, static_cast<uint16_t>((type << 8) | index), language,
                               static_cast<uint16_t>(std::min<ULONG>(bufferLength, 0xFFFF))};
    uint32_t kind = 0, stallMs = 0;
    {
        win32::CsLock lock(lock_);
        if (!present_) {
            Log(setup, bufferLength, nullptr, 0, goneError_);
            return goneError_;
        }
        TakeFault(kGetDescriptor, kind, stallMs);
    }
    if (kind & SIM_FAULT_STALL) ::WaitForSingleObject(unplugged_.get(), stallMs);

    win32::CsLock lock(lock_);
    DWORD error = 0;
    if (!present_) {
        error = goneError_;
    } else if ((kind & SIM_FAULT_FAIL) || type != 1 || index != 0) {
        error = kStallError;
    } else if (!buffer && bufferLength) {
        error = ERROR_INVALID_PARAMETER;
    } else {
        transferred = std::min<ULONG>(bufferLength, sizeof kDeviceDescriptor);
        std::memcpy(buffer, kDeviceDescriptor, transferred);
    }
    Log(setup, bufferLength, buffer, transferred, error);
    return error;
}

DWORD Adapter::Execute(const SetupPacket& setup, uint8_t* buffer, ULONG& transferred) {
    const bool out = setup.requestType == kRequestTypeOut;
    if (!out && setup.requestType != kRequestTypeIn) return kStallError;
    if (!SetupFits(setup)) return kStallError;

    if (setup.request == kReqWriteRam) {
        if (!out) return kStallError;
        DWORD error = RamWrite(setup.value, buffer, setup.length);
        if (!error) transferred = setup.length;
        return error;
    }

    std::vector<uint8_t> answer;
    if (setup.request == kReqSerial) {
        if (out) return kStallError;
        answer = {static_cast<uint8_t>(serial_), static_cast<uint8_t>(serial_ >> 8)};
    } else {
        // Everything else is the firmware's: no firmware, no answer.
        if (!firmwareRunning_ || processorHeld_) return kStallError;
        if (out != (setup.request == kReqSendFrame)) return kStallError;
        switch (setup.request) {
        case kReqPrepare:
            answer = {0};
            break;
        case kReqStartHart:
            if (setup.value == kPrimaryMaster || setup.value == kSecondaryMaster) {
                masterMode_ = static_cast<uint8_t>(setup.value);
                initialised_ = !ForcedRefusal(kReqStartHart);
                answer = {0};
            } else {
                answer = {1};
            }
            break;
        case kReqSendFrame:
            Send(buffer, setup.length);
            transferred = setup.length;
            return 0;
        case kReqSendStatus:
            answer = {static_cast<uint8_t>(sendStatus_), static_cast<uint8_t>(sendStatus_ >> 8)};
            break;
        case kReqSetParam:
            if (setup.value <= 0xFF) {
                if (!ForcedRefusal(kReqSetParam)) parameter_ = static_cast<uint8_t>(setup.value);
                answer = {0, 0};
            } else {
                answer = {1, 0};
            }
            break;
        case kReqGetParam:
            answer = {parameter_};
            break;
        case kReqReceivePoll: {
            const auto reply = initialised_ ? DueReply() : replies_.end();
            answer = {reply != replies_.end() ? reply->announced : uint8_t(0)};
            break;
        }
        case kReqReceiveReply: {
            const auto reply = initialised_ ? DueReply() : replies_.end();
            if (reply != replies_.end()) {
                answer = reply->bytes;
                replies_.erase(reply);
            }
            break;
        }
        case kReqStop:
            initialised_ = false;
            answer = {0};
            break;
        default:
            return kStallError;
        }
    }

    // A test may have replaced the answer.
    if (auto it = requestAnswers_.find(setup.request); it != requestAnswers_.end()) answer = it->second;
    transferred = static_cast<ULONG>(std::min<size_t>(answer.size(), setup.length));
    if (transferred) std::memcpy(buffer, answer.data(), transferred);
    return 0;
}

bool Adapter::ForcedRefusal(uint8_t request) const {
    auto it = requestAnswers_.find(request);
    return it != requestAnswers_.end() &&
           std::any_of(it->second.begin(), it->second.end(), [](uint8_t b) { return b != 0; });
}

DWORD Adapter::RamWrite(uint16_t address, const uint8_t* data, uint16_t length) {
    if (address == kCpuControlAddress) {
        if (length < 1) return kStallError;
        if (data[0] & 1) {
            HoldProcessor();
        } else {
            processorHeld_ = false;
            firmwareRunning_ = ramLoaded_;
        }
        return 0;
    }
    if (length == 0 || address + length > kRamSize) return kStallError;
    std::memcpy(&ram_[address], data, length);
    ramLoaded_ = true;
    ++ramWrites_;
    ramBytes_ += length;
    return 0;
}

void Adapter::HoldProcessor() {
    processorHeld_ = true;
    firmwareRunning_ = false;
    initialised_ = false;
    masterMode_ = 0;
    sendStatus_ = 0;
    replies_.clear();
}

void Adapter::Send(const uint8_t* data, uint16_t length) {
    const bool headerOk = length >= kSendHeaderSize && data[0] == 0xFF && data[1] == 0xFF && data[2] == 0xFF &&
                          data[3] == 0xFF && data[kSendPreamblesOffset] >= kMinPreambles &&
                          data[kSendPreamblesOffset] <= kMaxPreambles && data[kSendLengthOffset] <= kMaxFrameLength &&
                          data[6] == 0xFF && data[7] == 0xFF && length == kSendHeaderSize + data[kSendLengthOffset];
    uint16_t forced = 0;
    if (auto it = requestAnswers_.find(kReqSendStatus); it != requestAnswers_.end() && !it->second.empty()) {
        forced = it->second[0] | (it->second.size() > 1 ? it->second[1] << 8 : 0);
    }
    if (!headerOk || !initialised_ || forced) {
        sendStatus_ = forced ? forced : kSendStatusRefused;
        return;
    }
    sendStatus_ = kSendStatusOk;
    ++framesSent_;
    const std::vector<LineFrame> answers = line_.Transmit(data + kSendHeaderSize, data[kSendLengthOffset]);
    const uint64_t requestUs = wireTime_ ? WireTimeUs(data[kSendPreamblesOffset] + data[kSendLengthOffset]) : 0;
    for (const LineFrame& answer : answers) {
        const uint64_t answerUs = wireTime_ ? WireTimeUs(kAnswerPreambles + answer.frame.size()) : 0;
        const uint64_t delayUs = requestUs + answerUs + uint64_t(answer.delayMs) * 1000;
        QueueReplyLockedUs(answer.kind, answer.frame.data(), static_cast<uint32_t>(answer.frame.size()), delayUs);
        if (&answer == &answers.front()) lineTimeUs_ += requestUs + answerUs;
    }
    if (answers.empty() && noAnswerMs_) {
        const uint64_t timeoutUs = noAnswerMs_ == SIM_HART_TIMEOUT ? WireTimeUs(kReplyTimeoutCharacters)
                                                                    : uint64_t(noAnswerMs_) * 1000;
        const uint8_t status = SIM_STATUS_NO_ANSWER;
        QueueReplyLockedUs(SIM_KIND_STATUS, &status, 1, requestUs + timeoutUs);
        lineTimeUs_ += requestUs + timeoutUs;
    }
}

void Adapter::SetLineTiming(bool wireTime, uint32_t noAnswerMs) {
    win32::CsLock lock(lock_);
    wireTime_ = wireTime;
    noAnswerMs_ = noAnswerMs;
}

uint64_t Adapter::TakeLineTimeUs() {
    win32::CsLock lock(lock_);
    const uint64_t taken = lineTimeUs_;
    lineTimeUs_ = 0;
    return taken;
}

std::deque<Adapter::Reply>::iterator Adapter::DueReply() {
    const uint64_t now = NowUs();
    return std::find_if(replies_.begin(), replies_.end(), [now](const Reply& r) { return r.dueUs <= now; });
}

bool Adapter::QueueReplyLocked(uint8_t kind, const uint8_t* data, uint32_t length, uint32_t delayMs) {
    return QueueReplyLockedUs(kind, data, length, uint64_t(delayMs) * 1000);
}

bool Adapter::QueueReplyLockedUs(uint8_t kind, const uint8_t* data, uint32_t length, uint64_t delayUs) {
    if (length > 255 || replies_.size() >= kMaxQueuedReplies) return false;
    Reply reply;
    reply.bytes.assign(kReplyDataOffset, 0);
    reply.bytes[kReplyKindOffset] = kind;
    reply.bytes[kReplyLengthOffset] = static_cast<uint8_t>(length);
    if (length) reply.bytes.insert(reply.bytes.end(), data, data + length);
    reply.announced = static_cast<uint8_t>(length);
    reply.dueUs = NowUs() + delayUs;
    replies_.push_back(std::move(reply));
    return true;
}

bool Adapter::QueueReply(uint8_t kind, const uint8_t* data, uint32_t length, uint32_t delayMs) {
    win32::CsLock lock(lock_);
    if (!present_) return false;
    return QueueReplyLocked(kind, data, length, delayMs);
}

bool Adapter::QueueRawReply(uint8_t announced, const uint8_t* reply, uint32_t length) {
    win32::CsLock lock(lock_);
    if (!present_ || length > 512 || replies_.size() >= kMaxQueuedReplies) return false;
    Reply r;
    r.bytes.assign(reply, reply + length);
    r.announced = announced;
    r.dueUs = NowUs();
    replies_.push_back(std::move(r));
    return true;
}

void Adapter::PowerUp() {
    processorHeld_ = false;
    firmwareRunning_ = false;
    ramLoaded_ = false;
    initialised_ = false;
    masterMode_ = 0;
    parameter_ = 0;
    sendStatus_ = 0;
    ramWrites_ = 0;
    ramBytes_ = 0;
    std::fill(ram_.begin(), ram_.end(), 0);
    replies_.clear();
}

void Adapter::Unplug(DWORD error) {
    win32::CsLock lock(lock_);
    present_ = false;
    goneError_ = error;
    PowerUp();
    ::SetEvent(unplugged_.get());
}

void Adapter::Replug() {
    win32::CsLock lock(lock_);
    present_ = true;
    PowerUp();
    ::ResetEvent(unplugged_.get());
}

SimAdapterState Adapter::State() {
    win32::CsLock lock(lock_);
    SimAdapterState s = {};
    s.serial = serial_;
    s.present = present_;
    s.processorHeld = processorHeld_;
    s.firmwareRunning = firmwareRunning_;
    s.initialised = initialised_;
    s.masterMode = masterMode_;
    s.parameter = parameter_;
    s.sendStatus = sendStatus_;
    s.ramWrites = ramWrites_;
    s.ramBytesWritten = ramBytes_;
    s.framesSent = framesSent_;
    s.framesWaiting = static_cast<uint32_t>(replies_.size());
    s.openHandles = openHandles_;
    s.emptyPolls = emptyPolls_;
    return s;
}

uint32_t Adapter::ReadRam(uint16_t address, uint8_t* buffer, uint32_t length) {
    win32::CsLock lock(lock_);
    if (!buffer || address >= kRamSize) return 0;
    const uint32_t count = std::min<uint32_t>(length, kRamSize - address);
    std::memcpy(buffer, &ram_[address], count);
    return count;
}

uint32_t Adapter::CopyLog(SimTransfer* entries, uint32_t capacity) {
    win32::CsLock lock(lock_);
    const uint32_t count = std::min<uint32_t>(capacity, static_cast<uint32_t>(log_.size()));
    if (entries && count) std::memcpy(entries, log_.data(), count * sizeof(SimTransfer));
    return static_cast<uint32_t>(log_.size());
}

void Adapter::ClearLog() {
    win32::CsLock lock(lock_);
    log_.clear();
    emptyPolls_ = 0;
}

void Adapter::AddFault(uint8_t request, uint32_t skip, uint32_t count, uint32_t kind, uint32_t stallMs) {
    win32::CsLock lock(lock_);
    if (count) faults_.push_back(Fault{request, skip, count, kind, stallMs});
}

void Adapter::ClearFaults() {
    win32::CsLock lock(lock_);
    faults_.clear();
}

void Adapter::SetRequestAnswer(uint8_t request, const uint8_t* data, uint32_t length) {
    win32::CsLock lock(lock_);
    if (length == 0 || !data) {
        requestAnswers_.erase(request);
    } else {
        requestAnswers_[request].assign(data, data + length);
    }
}

AdapterDescription Adapter::Description() {
    win32::CsLock lock(lock_);
    AdapterDescription d;
    d.serial = serial_;
    d.present = present_;
    d.wireTime = wireTime_;
    d.noAnswerMs = noAnswerMs_;
    d.devices = line_.Configs();
    return d;
}

}  // namespace sim
