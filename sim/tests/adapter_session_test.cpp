// Drives the simulated adapter through its WinUSB exports, taken by name
// as the modem library takes them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "hart/frame.h"
#include "hart/identity.h"
#include "shared/adapter_protocol.h"
#include "sim/sim_control.h"

namespace {

using Bytes = std::vector<uint8_t>;

using shared::SetupPacket;

using InitializeFn = BOOL(WINAPI*)(HANDLE, void**);
using FreeFn = BOOL(WINAPI*)(void*);
using GetDescriptorFn = BOOL(WINAPI*)(void*, UCHAR, UCHAR, USHORT, PUCHAR, ULONG, PULONG);
using ControlTransferFn = BOOL(WINAPI*)(void*, SetupPacket, PUCHAR, ULONG, PULONG, LPOVERLAPPED);

struct WinUsb {
    InitializeFn initialize;
    FreeFn free;
    GetDescriptorFn getDescriptor;
    ControlTransferFn controlTransfer;
};

template <typename Fn>
Fn Entry(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const WinUsb& Api() {
    static WinUsb api = [] {
        HMODULE module = ::GetModuleHandleW(L"winusb.dll");
        WinUsb a = {};
        if (!module) return a;
        a.initialize = Entry<InitializeFn>(module, "WinUsb_Initialize");
        a.free = Entry<FreeFn>(module, "WinUsb_Free");
        a.getDescriptor = Entry<GetDescriptorFn>(module, "WinUsb_GetDescriptor");
        a.controlTransfer = Entry<ControlTransferFn>(module, "WinUsb_ControlTransfer");
        return a;
    }();
    return api;
}

std::wstring TempPath(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

HANDLE OpenDevice(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
}

// One open adapter, as the library holds it.
class Session {
public:
    explicit Session(const std::wstring& path) {
        file_ = OpenDevice(path);
        if (file_ != INVALID_HANDLE_VALUE && !Api().initialize(file_, &usb_)) usb_ = nullptr;
    }
    ~Session() {
        if (usb_) Api().free(usb_);
        if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
    }
    bool ok() const { return usb_ != nullptr; }
    void* usb() const { return usb_; }
    HANDLE file() const { return file_; }

    // Returns 0 on success, else the Win32 error.
    DWORD Out(uint8_t request, uint16_t value, const Bytes& data) {
        Bytes copy = data;
        SetupPacket setup = {0x40, request, value, 0, static_cast<USHORT>(copy.size())};
        ULONG done = 0;
        if (!Api().controlTransfer(usb_, setup, copy.data(), static_cast<ULONG>(copy.size()), &done, nullptr))
            return ::GetLastError();
        return 0;
    }
    DWORD In(uint8_t request, uint16_t value, uint16_t length, Bytes& answer) {
        answer.assign(length, 0xEE);
        SetupPacket setup = {0xC0, request, value, 0, length};
        ULONG done = 0;
        if (!Api().controlTransfer(usb_, setup, answer.data(), length, &done, nullptr)) return ::GetLastError();
        answer.resize(done);
        return 0;
    }
    uint8_t InByte(uint8_t request, uint16_t value = 0) {
        Bytes answer;
        EXPECT_EQ(In(request, value, 1, answer), 0u) << "request " << int(request);
        return answer.empty() ? 0xEE : answer[0];
    }
    uint16_t InWord(uint8_t request, uint16_t value = 0) {
        Bytes answer;
        EXPECT_EQ(In(request, value, 2, answer), 0u) << "request " << int(request);
        return answer.size() == 2 ? uint16_t(answer[0] | (answer[1] << 8)) : 0xEEEE;
    }

    // Processor hold, the image in 64-byte writes, release.
    void DownloadFirmware(const Bytes& image) {
        ASSERT_EQ(Out(0xA0, 0xE600, {1}), 0u);
        for (size_t at = 0; at < image.size(); at += 64) {
            const size_t n = std::min<size_t>(64, image.size() - at);
            ASSERT_EQ(Out(0xA0, static_cast<uint16_t>(at), Bytes(image.begin() + at, image.begin() + at + n)), 0u);
        }
        ASSERT_EQ(Out(0xA0, 0xE600, {0}), 0u);
    }
    void Start(bool primary = true) {
        EXPECT_EQ(InByte(0xD1), 0);
        EXPECT_EQ(InByte(0xB0, primary ? 1 : 2), 0);
    }
    // 0xB1 with the 8-byte header, then the send status.
    uint16_t Send(const Bytes& frame, uint8_t preambles = 5) {
        Bytes data = {0xFF, 0xFF, 0xFF, 0xFF, preambles, static_cast<uint8_t>(frame.size()), 0xFF, 0xFF};
        data.insert(data.end(), frame.begin(), frame.end());
        EXPECT_EQ(Out(0xB1, 0, data), 0u);
        return InWord(0xB6);
    }
    // One receive poll: empty when nothing waits.
    Bytes Receive() {
        const uint8_t n = InByte(0xB5);
        if (!n) return {};
        Bytes reply;
        EXPECT_EQ(In(0xB2, 0, static_cast<uint16_t>(n + 9), reply), 0u);
        return reply;
    }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    void* usb_ = nullptr;
};

Bytes Image(size_t size) {
    Bytes image(size);
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    return image;
}

SimFieldDevice Device(uint32_t id, uint8_t address, uint8_t revision) {
    SimFieldDevice d;
    SimInitFieldDevice(&d);
    d.deviceId = id;
    d.pollingAddress = address;
    d.hartRevision = revision;
    return d;
}

std::vector<SimTransfer> Log(uint16_t serial) {
    std::vector<SimTransfer> log(SimGetTransferLog(serial, nullptr, 0));
    log.resize(SimGetTransferLog(serial, log.data(), static_cast<uint32_t>(log.size())));
    return log;
}

class AdapterSession : public ::testing::Test {
protected:
    static constexpr uint16_t kSerial = 0x1234;
    void SetUp() override {
        ASSERT_NE(Api().controlTransfer, nullptr);
        path_ = TempPath(L"sim-adapter-1234.dev");
        ASSERT_TRUE(SimCreateAdapter(path_.c_str(), kSerial));
    }
    void TearDown() override {
        SimRemoveAdapter(kSerial);
        ::DeleteFileW(path_.c_str());
    }

    // Opened, firmware loaded, started as primary master.
    void Ready(Session& s) {
        ASSERT_TRUE(s.ok());
        s.DownloadFirmware(Image(300));
        s.Start();
    }

    std::wstring path_;
};

TEST_F(AdapterSession, FullSessionAsTheLibraryRunsIt) {
    SimFieldDevice device = Device(0x00ABCD, 2, 5);
    ASSERT_TRUE(SimAddFieldDevice(kSerial, &device));

    Session s(path_);
    ASSERT_TRUE(s.ok());
    // The device path is exclusive, like a real one.
    HANDLE second = OpenDevice(path_);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_SHARING_VIOLATION));

    // Descriptor and serial work without firmware; firmware requests do not.
    uint8_t descriptor[18] = {};
    ULONG got = 0;
    ASSERT_TRUE(Api().getDescriptor(s.usb(), 1, 0, 0, descriptor, sizeof descriptor, &got));
    EXPECT_EQ(got, 18u);
    EXPECT_EQ(descriptor[1], 1);
    EXPECT_EQ(s.InWord(0xD2), kSerial);
    Bytes answer;
    EXPECT_EQ(s.In(0xD1, 0, 1, answer), DWORD(ERROR_GEN_FAILURE));

    const Bytes image = Image(1000);
    s.DownloadFirmware(image);
    SimAdapterState state;
    ASSERT_TRUE(SimGetAdapterState(kSerial, &state));
    EXPECT_TRUE(state.firmwareRunning);
    EXPECT_FALSE(state.processorHeld);
    EXPECT_EQ(state.ramWrites, 16u);
    EXPECT_EQ(state.ramBytesWritten, 1000u);
    Bytes ram(image.size());
    ASSERT_EQ(SimReadRam(kSerial, 0, ram.data(), static_cast<uint32_t>(ram.size())), image.size());
    EXPECT_EQ(ram, image);

    s.Start(true);
    ASSERT_TRUE(SimGetAdapterState(kSerial, &state));
    EXPECT_TRUE(state.initialised);
    EXPECT_EQ(state.masterMode, 1);

    // Command 0 to polling address 2 as primary master.
    EXPECT_EQ(s.Send(hart::BuildShortCommand0(2, true)), 0);
    const Bytes reply = s.Receive();
    ASSERT_EQ(reply.size(), 9u + 19u);
    EXPECT_EQ(reply[0], SIM_KIND_ANSWER);
    EXPECT_EQ(reply[6], 19);
    hart::Frame frame;
    ASSERT_EQ(hart::ParseFrame(reply.data() + 9, 19, frame), hart::FrameError::None);
    EXPECT_EQ(frame.type, hart::FrameType::Answer);
    EXPECT_TRUE(frame.primaryMaster);
    EXPECT_EQ(frame.address[0], 2);
    hart::Identity id;
    ASSERT_TRUE(hart::DecodeCommand0Answer(frame, id));
    EXPECT_EQ(id.deviceId, 0x00ABCDu);
    EXPECT_EQ(id.hartRevision, 5);
    EXPECT_TRUE(s.Receive().empty());

    // Nobody at address 3.
    EXPECT_EQ(s.Send(hart::BuildShortCommand0(3, true)), 0);
    EXPECT_TRUE(s.Receive().empty());

    // Adapter parameter.
    EXPECT_EQ(s.InWord(0xB3, 0x5A), 0);
    EXPECT_EQ(s.InByte(0xB4), 0x5A);

    EXPECT_EQ(s.InByte(0xD0), 0);
    ASSERT_TRUE(SimGetAdapterState(kSerial, &state));
    EXPECT_FALSE(state.initialised);
    EXPECT_EQ(state.framesSent, 2u);
    EXPECT_EQ(state.openHandles, 1u);

    // The log holds every transfer but the empty polls, in order.
    const std::vector<SimTransfer> log = Log(kSerial);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].request, 0x06);  // descriptor
    EXPECT_EQ(log.back().request, 0xD0);
    size_t polls = 0, sends = 0;
    for (const SimTransfer& t : log) {
        polls += t.request == 0xB5;
        if (t.request == 0xB1) {
            ++sends;
            EXPECT_EQ(t.length, 13);
            EXPECT_EQ(t.data[4], 5);  // preambles
        }
    }
    EXPECT_EQ(polls, 1u);
    EXPECT_EQ(sends, 2u);
    ASSERT_TRUE(SimGetAdapterState(kSerial, &state));
    EXPECT_GE(state.emptyPolls, 2u);
}

TEST_F(AdapterSession, SendHeaderIsChecked) {
    SimFieldDevice device = Device(1, 0, 7);
    ASSERT_TRUE(SimAddFieldDevice(kSerial, &device));
    Session s(path_);
    ASSERT_TRUE(s.ok());
    s.DownloadFirmware(Image(64));

    // Not started yet: refused.
    const Bytes frame = hart::BuildShortCommand0(0, true);
    EXPECT_EQ(s.Send(frame), 0x8300);
    s.Start();
    EXPECT_EQ(s.Send(frame, 4), 0x8300);
    EXPECT_EQ(s.Send(frame, 21), 0x8300);
    EXPECT_EQ(s.Send(frame, 20), 0);
    EXPECT_FALSE(s.Receive().empty());

    // Length byte that disagrees with the transfer.
    Bytes data = {0xFF, 0xFF, 0xFF, 0xFF, 5, 6, 0xFF, 0xFF};
    data.insert(data.end(), frame.begin(), frame.end());
    ASSERT_EQ(s.Out(0xB1, 0, data), 0u);
    EXPECT_EQ(s.InWord(0xB6), 0x8300);
    SimAdapterState state;
    ASSERT_TRUE(SimGetAdapterState(kSerial, &state));
    EXPECT_EQ(state.framesSent, 1u);
    EXPECT_TRUE(s.Receive().empty());
}

TEST_F(AdapterSession, ProcessorHoldStopsTheFirmware) {
    Session s(path_);
    ASSERT_TRUE(s.ok());
    // Releasing without a download leaves no firmware to run.
    ASSERT_EQ(s.Out(0xA0, 0xE600, {1}), 0u);
    ASSERT_EQ(s.Out(0xA0, 0xE600, {0}), 0u);
    Bytes answer;
    EXPECT_EQ(s.In(0xD1, 0, 1, answer), DWORD(ERROR_GEN_FAILURE));

    Ready(s);
    SimFieldDevice device = Device(7, 1, 6);
    ASSERT_TRUE(SimAddFieldDevice(kSerial, &device));
    EXPECT_EQ(s.Send(hart::BuildShortCommand0(1, true)), 0);
    // A hold drops the waiting answer and the started state.
    ASSERT_EQ(s.Out(0xA0, 0xE600, {1}), 0u);
    SimAdapterState state;
    ASSERT_TRUE(SimGetAdapterState(kSerial, &state));
    EXPECT_TRUE(state.processorHeld);
    EXPECT_FALSE(state.initialised);
    EXPECT_EQ(state.framesWaiting, 0u);
    EXPECT_EQ(s.In(0xB5, 0, 1, answer), DWORD(ERROR_GEN_FAILURE));
    // RAM outside 0..0x3FFF is refused.
    EXPECT_EQ(s.Out(0xA0, 0x3FF0, Bytes(17, 0)), DWORD(ERROR_GEN_FAILURE));
    EXPECT_EQ(s.Out(0xA0, 0x3FF0, Bytes(16, 0)), 0u);
}

TEST_F(AdapterSession, CallerMistakesAreRefused) {
    Session s(path_);
    ASSERT_TRUE(s.ok());
    uint8_t buffer[4] = {};
    ULONG done = 99;
    // Buffer smaller than the setup packet's length.
    SetupPacket serial = {0xC0, 0xD2, 0, 0, 2};
    EXPECT_FALSE(Api().controlTransfer(s.usb(), serial, buffer, 1, &done, nullptr));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(done, 0u);
    // Unknown interface handle.
    int bogus = 0;
    EXPECT_FALSE(Api().controlTransfer(&bogus, serial, buffer, 2, &done, nullptr));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(Api().free(&bogus));
    void* usb = &bogus;
    EXPECT_FALSE(Api().initialize(INVALID_HANDLE_VALUE, &usb));
    EXPECT_EQ(usb, nullptr);
    // A file that is not a device file.
    const std::wstring other = TempPath(L"sim-not-a-device.txt");
    HANDLE f = ::CreateFileW(other.c_str(), GENERIC_WRITE | GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(f, "hello\n", 6, &written, nullptr);
    EXPECT_FALSE(Api().initialize(f, &usb));
    ::CloseHandle(f);
    ::DeleteFileW(other.c_str());

    // An OVERLAPPED transfer completes at once and signals its event.
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(Api().controlTransfer(s.usb(), serial, buffer, 2, nullptr, &overlapped));
    EXPECT_EQ(::WaitForSingleObject(overlapped.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(overlapped.InternalHigh, 2u);
    EXPECT_EQ(buffer[0] | (buffer[1] << 8), kSerial);
    ::CloseHandle(overlapped.hEvent);
}

// Every request with a wrong index or length is stalled, as the adapter does;
// the same request in its own shape goes through.
TEST_F(AdapterSession, RequestsWithAWrongIndexOrLengthAreRefused) {
    Session s(path_);
    ASSERT_TRUE(s.ok());
    auto in = [&](uint8_t request, uint16_t value, uint16_t index, uint16_t length) {
        Bytes answer(length ? length : 1, 0);
        SetupPacket setup = {0xC0, request, value, index, length};
        ULONG done = 0;
        return Api().controlTransfer(s.usb(), setup, answer.data(), length, &done, nullptr) ? 0u : ::GetLastError();
    };
    auto out = [&](uint8_t request, uint16_t value, uint16_t index, Bytes data) {
        SetupPacket setup = {0x40, request, value, index, static_cast<uint16_t>(data.size())};
        ULONG done = 0;
        return Api().controlTransfer(s.usb(), setup, data.data(), static_cast<ULONG>(data.size()), &done, nullptr)
                   ? 0u
                   : ::GetLastError();
    };
    const DWORD refused = ERROR_GEN_FAILURE;
    // Boot loader requests.
    EXPECT_EQ(in(0xD2, 0, 1, 2), refused);
    EXPECT_EQ(in(0xD2, 0, 0, 1), refused);
    EXPECT_EQ(in(0xD2, 0, 0, 4), refused);
    EXPECT_EQ(in(0xD2, 0, 0, 2), 0u);
    EXPECT_EQ(out(0xA0, 0xE600, 0, {1, 0}), refused);
    EXPECT_EQ(out(0xA0, 0xE600, 1, {1}), refused);
    EXPECT_EQ(out(0xA0, 0, 0, Bytes(65, 0)), refused);
    EXPECT_EQ(out(0xA0, 0, 0, {}), refused);
    s.DownloadFirmware(Image(64));

    // Firmware requests: one byte, two bytes, the send frame and the reply.
    for (uint8_t request : {0xD1, 0xB0, 0xB4, 0xB5, 0xD0}) {
        const uint16_t value = request == 0xB0 ? 1 : 0;
        EXPECT_EQ(in(request, value, 1, 1), refused) << int(request);
        EXPECT_EQ(in(request, value, 0, 2), refused) << int(request);
        EXPECT_EQ(in(request, value, 0, 0), refused) << int(request);
    }
    for (uint8_t request : {0xB3, 0xB6}) {
        EXPECT_EQ(in(request, 0, 1, 2), refused) << int(request);
        EXPECT_EQ(in(request, 0, 0, 1), refused) << int(request);
        EXPECT_EQ(in(request, 0, 0, 3), refused) << int(request);
    }
    EXPECT_EQ(out(0xB1, 0, 0, Bytes(7, 0xFF)), refused);
    EXPECT_EQ(out(0xB1, 0, 0, Bytes(201, 0xFF)), refused);
    EXPECT_EQ(out(0xB1, 0, 2, Bytes(8, 0xFF)), refused);
    EXPECT_EQ(in(0xB2, 0, 0, 8), refused);
    EXPECT_EQ(in(0xB2, 0, 0, 202), refused);
    EXPECT_EQ(in(0xB2, 0, 1, 9), refused);

    // In their own shape they are answered.
    s.Start();
    EXPECT_EQ(in(0xB3, 7, 0, 2), 0u);
    EXPECT_EQ(s.InByte(0xB4), 7);
    EXPECT_EQ(in(0xB2, 0, 0, 9), 0u);
    EXPECT_EQ(in(0xD0, 0, 0, 1), 0u);
}

TEST_F(AdapterSession, InjectedFailuresAndStalls) {
    Session s(path_);
    ASSERT_TRUE(s.ok());
    // The third 0xA0 transfer (the second RAM write) fails, the others pass.
    ASSERT_TRUE(SimInjectFault(kSerial, 0xA0, 2, 1, SIM_FAULT_FAIL, 0));
    EXPECT_EQ(s.Out(0xA0, 0xE600, {1}), 0u);
    EXPECT_EQ(s.Out(0xA0, 0, {1, 2}), 0u);
    EXPECT_EQ(s.Out(0xA0, 2, {3, 4}), DWORD(ERROR_GEN_FAILURE));
    EXPECT_EQ(s.Out(0xA0, 2, {3, 4}), 0u);
    SimAdapterState state;
    ASSERT_TRUE(SimGetAdapterState(kSerial, &state));
    EXPECT_EQ(state.ramWrites, 2u);  // the failed one did nothing
    ASSERT_EQ(s.Out(0xA0, 0xE600, {0}), 0u);
    s.Start();

    // A stall past the library's 3000 ms, and the transfer still completes.
    ASSERT_TRUE(SimInjectFault(kSerial, 0xB4, 0, 1, SIM_FAULT_STALL, 3200));
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(s.InByte(0xB4), 0);
    EXPECT_GE(::GetTickCount() - start, 3100u);

    // Any request, twice; then clear.
    ASSERT_TRUE(SimInjectFault(kSerial, SIM_ANY_REQUEST, 0, 5, SIM_FAULT_FAIL, 0));
    Bytes answer;
    EXPECT_EQ(s.In(0xD2, 0, 2, answer), DWORD(ERROR_GEN_FAILURE));
    EXPECT_EQ(s.In(0xB4, 0, 1, answer), DWORD(ERROR_GEN_FAILURE));
    ASSERT_TRUE(SimClearFaults(kSerial));
    EXPECT_EQ(s.InWord(0xD2), kSerial);

    const std::vector<SimTransfer> log = Log(kSerial);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[2].request, 0xA0);
    EXPECT_EQ(log[2].error, DWORD(ERROR_GEN_FAILURE));

    // Unplugging ends a long stall at once.
    ASSERT_TRUE(SimInjectFault(kSerial, 0xB4, 0, 1, SIM_FAULT_STALL, 60000));
    std::thread unplug([] {
        ::Sleep(200);
        SimUnplug(kSerial);
    });
    const DWORD stallStart = ::GetTickCount();
    EXPECT_EQ(s.In(0xB4, 0, 1, answer), DWORD(ERROR_BAD_COMMAND));
    EXPECT_LT(::GetTickCount() - stallStart, 5000u);
    unplug.join();
}

TEST_F(AdapterSession, ForcedAnswersOfTheAdapter) {
    SimFieldDevice device = Device(9, 0, 7);
    ASSERT_TRUE(SimAddFieldDevice(kSerial, &device));
    Session s(path_);
    ASSERT_TRUE(s.ok());
    s.DownloadFirmware(Image(64));

    const uint8_t notReady = 3;
    ASSERT_TRUE(SimSetRequestAnswer(kSerial, 0xB0, &notReady, 1));
    EXPECT_EQ(s.InByte(0xD1), 0);
    EXPECT_EQ(s.InByte(0xB0, 1), 3);
    SimAdapterState state;
    ASSERT_TRUE(SimGetAdapterState(kSerial, &state));
    EXPECT_FALSE(state.initialised);
    ASSERT_TRUE(SimSetRequestAnswer(kSerial, 0xB0, nullptr, 0));
    s.Start();

    const uint8_t refused[] = {0x00, 0x83};
    ASSERT_TRUE(SimSetRequestAnswer(kSerial, 0xB6, refused, 2));
    EXPECT_EQ(s.Send(hart::BuildShortCommand0(0, true)), 0x8300);
    EXPECT_TRUE(s.Receive().empty());
    ASSERT_TRUE(SimSetRequestAnswer(kSerial, 0xB6, nullptr, 0));
    EXPECT_EQ(s.Send(hart::BuildShortCommand0(0, true)), 0);
    EXPECT_FALSE(s.Receive().empty());

    const uint8_t no[] = {1, 0};
    ASSERT_TRUE(SimSetRequestAnswer(kSerial, 0xB3, no, 2));
    EXPECT_EQ(s.InWord(0xB3, 0x11), 1);
    EXPECT_EQ(s.InByte(0xB4), 0);  // refused value not kept
}

TEST_F(AdapterSession, UnplugAndReplug) {
    Session s(path_);
    Ready(s);
    SimFieldDevice device = Device(5, 0, 7);
    ASSERT_TRUE(SimAddFieldDevice(kSerial, &device));
    EXPECT_EQ(s.Send(hart::BuildShortCommand0(0, true)), 0);

    ASSERT_TRUE(SimUnplug(kSerial));
    Bytes answer;
    EXPECT_EQ(s.In(0xB5, 0, 1, answer), DWORD(ERROR_BAD_COMMAND));
    EXPECT_EQ(s.In(0xD2, 0, 2, answer), DWORD(ERROR_BAD_COMMAND));
    uint8_t descriptor[18];
    ULONG got = 0;
    EXPECT_FALSE(Api().getDescriptor(s.usb(), 1, 0, 0, descriptor, sizeof descriptor, &got));
    SimAdapterState state;
    ASSERT_TRUE(SimGetAdapterState(kSerial, &state));
    EXPECT_FALSE(state.present);
    EXPECT_EQ(state.framesWaiting, 0u);

    // Back as after power-up: no firmware, nothing started, same serial.
    ASSERT_TRUE(SimReplug(kSerial));
    EXPECT_EQ(s.InWord(0xD2), kSerial);
    EXPECT_EQ(s.In(0xD1, 0, 1, answer), DWORD(ERROR_GEN_FAILURE));
    s.DownloadFirmware(Image(64));
    s.Start();
    EXPECT_EQ(s.Send(hart::BuildShortCommand0(0, true)), 0);
    EXPECT_FALSE(s.Receive().empty());

    // Unplugged, it cannot be initialised again.
    ASSERT_TRUE(SimUnplug(kSerial));
    void* usb = nullptr;
    EXPECT_FALSE(Api().initialize(s.file(), &usb));
    ASSERT_TRUE(SimGetAdapterState(kSerial, &state));
    EXPECT_EQ(state.openHandles, 1u);

    // The other way WinUSB tells that the device has gone.
    ASSERT_TRUE(SimReplug(kSerial));
    ASSERT_TRUE(SimUnplugWithError(kSerial, ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(s.In(0xD2, 0, 2, answer), DWORD(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_FALSE(Api().initialize(s.file(), &usb));
    EXPECT_EQ(::GetLastError(), DWORD(ERROR_DEVICE_NOT_CONNECTED));
    ASSERT_TRUE(SimReplug(kSerial));
    ASSERT_TRUE(SimUnplug(kSerial));
    EXPECT_EQ(s.In(0xD2, 0, 2, answer), DWORD(ERROR_BAD_COMMAND));
}

TEST_F(AdapterSession, RecreatedAdapterCutsOffOldHandles) {
    Session old(path_);
    ASSERT_TRUE(old.ok());
    // The held file cannot be rewritten, so the new one lives elsewhere.
    const std::wstring other = TempPath(L"sim-adapter-1234-new.dev");
    ASSERT_TRUE(SimCreateAdapter(other.c_str(), kSerial));
    Bytes answer;
    EXPECT_EQ(old.In(0xD2, 0, 2, answer), DWORD(ERROR_BAD_COMMAND));
    Session fresh(other);
    ASSERT_TRUE(fresh.ok());
    EXPECT_EQ(fresh.InWord(0xD2), kSerial);
}

TEST_F(AdapterSession, BurstAndRawReplies) {
    SimFieldDevice device = Device(0x010203, 4, 7);
    device.manufacturerId = 0x37;
    ASSERT_TRUE(SimAddFieldDevice(kSerial, &device));
    Session s(path_);
    Ready(s);

    const uint8_t values[] = {0x10, 0x20};
    ASSERT_TRUE(SimQueueBurst(kSerial, 0x010203, 1, values, 2));
    Bytes reply = s.Receive();
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply[0], SIM_KIND_BURST);
    hart::Frame frame;
    ASSERT_EQ(hart::ParseFrame(reply.data() + 9, reply[6], frame), hart::FrameError::None);
    EXPECT_EQ(frame.type, hart::FrameType::Burst);
    EXPECT_EQ(reply[9] & 0x81, 0x81);
    EXPECT_TRUE(frame.burstMode);
    EXPECT_EQ(frame.address, hart::MakeLongAddress(0x37, 0x06, 0x010203));
    EXPECT_EQ(frame.data, (Bytes{0x10, 0x20}));

    // A reply that announces more than the library reads: it reads 201.
    Bytes raw(9 + 200, 0x55);
    raw[0] = SIM_KIND_ANSWER;
    raw[6] = 200;
    ASSERT_TRUE(SimQueueRawReply(kSerial, 200, raw.data(), static_cast<uint32_t>(raw.size())));
    EXPECT_EQ(s.InByte(0xB5), 200);
    ASSERT_EQ(s.In(0xB2, 0, 201, reply), 0u);
    EXPECT_EQ(reply.size(), 201u);
    EXPECT_EQ(s.InByte(0xB5), 0);  // read once, gone

    const uint8_t status = 0x01;
    ASSERT_TRUE(SimQueueReply(kSerial, SIM_KIND_STATUS, &status, 1));
    reply = s.Receive();
    ASSERT_EQ(reply.size(), 10u);
    EXPECT_EQ(reply[0], SIM_KIND_STATUS);
    EXPECT_EQ(reply[9], 0x01);
}

TEST_F(AdapterSession, AnswerDelay) {
    SimFieldDevice device = Device(3, 0, 7);
    device.answerDelayMs = 300;
    ASSERT_TRUE(SimAddFieldDevice(kSerial, &device));
    Session s(path_);
    Ready(s);
    EXPECT_EQ(s.Send(hart::BuildShortCommand0(0, true)), 0);
    EXPECT_TRUE(s.Receive().empty());
    SimAdapterState state;
    ASSERT_TRUE(SimGetAdapterState(kSerial, &state));
    EXPECT_EQ(state.framesWaiting, 1u);
    ::Sleep(400);
    EXPECT_FALSE(s.Receive().empty());
}

// Another process knows the adapter only from its device file.
TEST(AdapterFromFile, DescriptionInTheFileIsEnough) {
    const std::wstring path = TempPath(L"sim-adapter-from-file.dev");
    const char text[] =
        "serial=0x0BEE\n"
        "device address=1 manufacturer=0x26 type=0x07 id=0x000042 revision=5 tag=\"FT 7\"\n";
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(f, text, sizeof text - 1, &written, nullptr);
    ::CloseHandle(f);

    {
        Session s(path);
        ASSERT_TRUE(s.ok());
        EXPECT_EQ(s.InWord(0xD2), 0x0BEE);
        s.DownloadFirmware(Image(64));
        s.Start();
        EXPECT_EQ(s.Send(hart::BuildShortCommand0(1, true)), 0);
        const Bytes reply = s.Receive();
        ASSERT_EQ(reply.size(), 9u + 19u);
        EXPECT_EQ(reply[9 + 17], 0x42);
    }

    // Presence follows the file for such adapters.
    f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const char gone[] = "serial=0x0BEE\npresent=0\n";
    ::WriteFile(f, gone, sizeof gone - 1, &written, nullptr);
    ::CloseHandle(f);
    {
        Session s(path);
        EXPECT_FALSE(s.ok());
    }
    SimRemoveAdapter(0x0BEE);
    ::DeleteFileW(path.c_str());
}

}  // namespace

namespace {

double NowUs() {
    LARGE_INTEGER f, n;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&n);
    return 1e6 * static_cast<double>(n.QuadPart) / static_cast<double>(f.QuadPart);
}

// Polls until a reply arrives; the microseconds from `sentUs` to it.
double WaitReply(Session& s, double sentUs, Bytes* reply) {
    for (int i = 0; i < 5000; ++i) {
        *reply = s.Receive();
        if (!reply->empty()) return NowUs() - sentUs;
        ::Sleep(1);
    }
    return -1;
}

}  // namespace

TEST_F(AdapterSession, WireTimeDelaysAnswersAndSilenceEndsInAStatusByte) {
    SimFieldDevice device = Device(0x00ABCD, 2, 5);
    ASSERT_TRUE(SimAddFieldDevice(kSerial, &device));
    Session s(path_);
    Ready(s);
    ASSERT_TRUE(SimSetLineTiming(kSerial, 1, SIM_HART_TIMEOUT));
    SimTakeLineTime(kSerial);

    // 5 preambles + 5 frame bytes out, 5 preambles + 19 bytes back, 11 bits
    // a character at 1200 bit/s: 91666 + 220000 us.
    double sent = NowUs();
    EXPECT_EQ(s.Send(hart::BuildShortCommand0(2, true)), 0);
    Bytes reply;
    EXPECT_GE(WaitReply(s, sent, &reply), 311666.0);
    ASSERT_EQ(reply.size(), 9u + 19u);
    EXPECT_EQ(reply[0], SIM_KIND_ANSWER);
    EXPECT_EQ(SimTakeLineTime(kSerial), 311666u);

    // Nobody at 3: a status byte after the request and 33 character times.
    sent = NowUs();
    EXPECT_EQ(s.Send(hart::BuildShortCommand0(3, true)), 0);
    EXPECT_GE(WaitReply(s, sent, &reply), 394166.0);
    ASSERT_EQ(reply.size(), 10u);
    EXPECT_EQ(reply[0], SIM_KIND_STATUS);
    EXPECT_EQ(reply[9], SIM_STATUS_NO_ANSWER);
    EXPECT_EQ(SimTakeLineTime(kSerial), 91666u + 302500u);
    EXPECT_EQ(SimTakeLineTime(kSerial), 0u);

    // Without line timing silence stays silent and nothing is charged.
    ASSERT_TRUE(SimSetLineTiming(kSerial, 0, 0));
    EXPECT_EQ(s.Send(hart::BuildShortCommand0(3, true)), 0);
    ::Sleep(50);
    EXPECT_TRUE(s.Receive().empty());
    EXPECT_EQ(SimTakeLineTime(kSerial), 0u);
}
