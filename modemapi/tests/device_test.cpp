// modemapi.dll against the simulated adapter: opening and closing by device
// number and by adapter name, the vendor requests and their statuses, the
// receive ring, the message handler and adapter removal.
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "modem_fixture.h"
#include "shared/device_row.h"
#include "shared/named_events.h"
#include "win32/unique_handle.h"

namespace modemtest {
namespace {

using namespace shared;

constexpr uint8_t kDev = 3;
constexpr uint16_t kSerial = 0x1234;
constexpr DWORD kBeyondTimeoutMs = 3600;  // longer than the 3000 ms request time-out

// Empty-slot and open-failure checks: the slot stays empty.
void ExpectSlotEmpty(uint8_t number) {
  uint8_t value = 0;
  EXPECT_EQ(vtHART_GetParam(number, &value), kStatusNotOpen);
}

// --- opening and closing -------------------------------------------------------

TEST_F(ModemTest, DeviceInitLoadsFirmwareStartsTheAdapterAndOwnsIt) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  SimAdapterState state = State(kSerial);
  EXPECT_TRUE(state.firmwareRunning);
  EXPECT_FALSE(state.processorHeld);
  EXPECT_TRUE(state.initialised);
  EXPECT_EQ(state.masterMode, 1);
  EXPECT_EQ(state.ramWrites, 125u);
  EXPECT_EQ(state.ramBytesWritten, 5493u);
  EXPECT_EQ(state.openHandles, 1u);
  EXPECT_TRUE(OwnershipTaken(kSerial));

  // Init: 0xD1, then 0xB0 with 1 for a primary master, after the download.
  const std::vector<SimTransfer> log = Log(kSerial);
  ASSERT_GE(log.size(), 129u);
  EXPECT_EQ(log[log.size() - 2].request, 0xD1);
  EXPECT_EQ(log.back().request, 0xB0);
  EXPECT_EQ(log.back().value, 1);
  EXPECT_GE(log.back().timeUs - log[log.size() - 2].timeUs, 45000u);

  // Opening an open number closes it first; a zero flag asks for a secondary master.
  SimClearTransferLog(kSerial);
  ASSERT_EQ(vtHART_DeviceInit(kDev, 0), kStatusOk);
  EXPECT_EQ(State(kSerial).masterMode, 2);
  ASSERT_FALSE(Log(kSerial).empty());
  EXPECT_EQ(Log(kSerial).front().request, 0xD0);

  EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusOk);
  EXPECT_EQ(State(kSerial).openHandles, 0u);
  EXPECT_FALSE(State(kSerial).initialised);
  EXPECT_FALSE(OwnershipTaken(kSerial));
  EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusNotOpen);
}

TEST_F(ModemTest, DeviceInitAnswersWhyAnAdapterCannotBeOpened) {
  EXPECT_EQ(vtHART_DeviceInit(7, 1), kStatusNotConfigured) << "no USB-Id";
  ExpectSlotEmpty(7);

  AddAdapter(0x2001, /*listed=*/false);
  Configure(8, 0x2001);
  EXPECT_EQ(vtHART_DeviceInit(8, 1), kStatusNotFound) << "serial not under EnumKey";

  const std::string gone = AddAdapter(0x2002);
  Configure(9, 0x2002);
  ASSERT_TRUE(::DeleteFileA(gone.c_str()));
  EXPECT_EQ(vtHART_DeviceInit(9, 1), kStatusNotFound) << "device path no longer exists";

  {
    AddAdapter(0x2003);
    Configure(10, 0x2003);
    win32::UniqueHandle held(::CreateEventA(nullptr, FALSE, TRUE, DeviceOwnershipEventName(0x2003).c_str()));
    ASSERT_EQ(::WaitForSingleObject(held.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(vtHART_DeviceInit(10, 1), kStatusInUse) << "ownership event held";
    ::SetEvent(held.get());
  }
  {
    const std::string path = AddAdapter(0x2004);
    Configure(11, 0x2004);
    win32::UniqueFile open(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(open.valid());
    EXPECT_EQ(vtHART_DeviceInit(11, 1), kStatusInUse) << "device path open elsewhere";
    EXPECT_FALSE(OwnershipTaken(0x2004)) << "the event is given back";
  }

  AddAdapter(0x2005);
  Configure(12, 0x2005);
  SimUnplug(0x2005);
  EXPECT_EQ(vtHART_DeviceInit(12, 1), kStatusNotConfigured) << "WinUSB initialisation fails";
  EXPECT_FALSE(OwnershipTaken(0x2005));

  for (uint8_t number : {8, 9, 10, 11, 12}) ExpectSlotEmpty(number);
}

TEST_F(ModemTest, FailedFirmwareDownloadOrInitLeavesTheSlotEmptyAndTheAdapterFree) {
  AddAdapter(kSerial);
  Configure(kDev, kSerial);

  SimInjectFault(kSerial, 0xA0, /*skip=*/5, /*count=*/1, SIM_FAULT_FAIL, 0);
  EXPECT_EQ(vtHART_DeviceInit(kDev, 1), kStatusNotConfigured);
  EXPECT_TRUE(State(kSerial).processorHeld) << "a failed download does not release the processor";
  EXPECT_EQ(State(kSerial).openHandles, 0u);
  EXPECT_FALSE(OwnershipTaken(kSerial));
  ExpectSlotEmpty(kDev);

  SimInjectFault(kSerial, 0xD1, 0, 1, SIM_FAULT_FAIL, 0);
  EXPECT_EQ(vtHART_DeviceInit(kDev, 1), kStatusIoError) << "first init step fails";
  ExpectSlotEmpty(kDev);

  const uint8_t notReady = 0x05;
  SimSetRequestAnswer(kSerial, 0xB0, &notReady, 1);
  EXPECT_EQ(vtHART_DeviceInit(kDev, 1), 0x05) << "the adapter's init answer is the status";
  SimSetRequestAnswer(kSerial, 0xB0, nullptr, 0);
  ExpectSlotEmpty(kDev);

  SimInjectFault(kSerial, 0xB0, 0, 1, SIM_FAULT_STALL, kBeyondTimeoutMs);
  EXPECT_EQ(vtHART_DeviceInit(kDev, 1), kStatusTimeout);
  ExpectSlotEmpty(kDev);
  EXPECT_EQ(State(kSerial).openHandles, 0u);
  EXPECT_FALSE(OwnershipTaken(kSerial));

  EXPECT_EQ(vtHART_DeviceInit(kDev, 1), kStatusOk) << "the adapter opens again";
}

TEST_F(ModemTest, DynamicInitTakesTheHighestFreeNumberForAnExactAdapterName) {
  AddAdapter(0x1A2B);
  AddAdapter(0x00FF);
  uint8_t number = 0;
  EXPECT_EQ(vtHART_DynamicInit(nullptr, &number, 1), kStatusInvalidArgument);
  EXPECT_EQ(vtHART_DynamicInit("evHRT USB: 1A2B", nullptr, 1), kStatusInvalidArgument);
  for (const char* name : {"evHRT USB: 1a2b", "evHRT USB: 01A2B", "evHRT USB: 10000", "evHRT USB: ",
                           "evHRT USB:1A2B", "evHRT USB: 1A2B ", "evHRT USB: 0x1A2B", "evHRT USB: +1A2B",
                           "EVHRT USB: 1A2B", "evHRT USB: FFFFFFFFFF"}) {
    EXPECT_EQ(vtHART_DynamicInit(name, &number, 1), kStatusInvalidArgument) << name;
  }
  EXPECT_EQ(Log(0x1A2B).size(), 0u) << "refused names reach no adapter";

  EXPECT_EQ(vtHART_DynamicInit("evHRT USB: 777", &number, 1), kStatusNotFound);
  ExpectSlotEmpty(255);

  number = 0;
  ASSERT_EQ(vtHART_DynamicInit("evHRT USB: 1A2B", &number, 1), kStatusOk);
  EXPECT_EQ(number, 255);
  ASSERT_EQ(vtHART_DynamicInit("evHRT USB: FF", &number, 0), kStatusOk);
  EXPECT_EQ(number, 254);
  EXPECT_EQ(State(0x1A2B).masterMode, 1);
  EXPECT_EQ(State(0x00FF).masterMode, 2);
}

TEST_F(ModemTest, DynamicInitWithEveryNumberTakenAnswers16) {
  for (int i = 0; i < 257; ++i) AddAdapter(static_cast<uint16_t>(0x3000 + i));

  // 256 opens from 16 threads at once: each must get a number of its own.
  std::atomic<int> next{0};
  std::atomic<int> failures{0};
  std::vector<int> owner(256, -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&] {
      for (int i; (i = next++) < 256;) {
        char name[32];
        std::snprintf(name, sizeof name, "evHRT USB: %X", 0x3000 + i);
        uint8_t number = 0;
        if (vtHART_DynamicInit(name, &number, 1) != kStatusOk) {
          ++failures;
        } else {
          owner[number] = i;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(failures.load(), 0);
  for (int number = 0; number < 256; ++number) EXPECT_NE(owner[number], -1) << number;

  uint8_t number = 0xEE;
  EXPECT_EQ(vtHART_DynamicInit("evHRT USB: 3100", &number, 1), kStatusNoFreeDevice);
  EXPECT_EQ(number, 0xEE);
  EXPECT_EQ(State(0x3100).ramWrites, 0u);

  ASSERT_EQ(vtHART_CloseDevice(100), kStatusOk);
  ASSERT_EQ(vtHART_DynamicInit("evHRT USB: 3100", &number, 1), kStatusOk);
  EXPECT_EQ(number, 100);
}

// The header's C constants and row layout are the library's own.
static_assert(VTHART_STATUS_OK == kStatusOk && VTHART_STATUS_NOT_CONFIGURED == kStatusNotConfigured &&
                  VTHART_STATUS_NOT_FOUND == kStatusNotFound && VTHART_STATUS_IO_ERROR == kStatusIoError &&
                  VTHART_STATUS_INVALID_ARGUMENT == kStatusInvalidArgument &&
                  VTHART_STATUS_PARAM_REFUSED == kStatusParamRefused && VTHART_STATUS_TIMEOUT == kStatusTimeout &&
                  VTHART_STATUS_SEND_REJECTED == kStatusSendRejected &&
                  VTHART_STATUS_RING_EMPTY == kStatusRingEmpty &&
                  VTHART_STATUS_THREAD_OR_EVENT == kStatusThreadOrEvent &&
                  VTHART_STATUS_ALREADY_RUNNING == kStatusAlreadyRunning &&
                  VTHART_STATUS_RING_OVERRUN == kStatusRingOverrun && VTHART_STATUS_NOT_OPEN == kStatusNotOpen &&
                  VTHART_STATUS_DEVICE_REMOVED == kStatusDeviceRemoved && VTHART_STATUS_IN_USE == kStatusInUse &&
                  VTHART_STATUS_NO_FREE_DEVICE == kStatusNoFreeDevice &&
                  VTHART_STATUS_NOT_SUPPORTED == kStatusNotSupported &&
                  VTHART_STATUS_HANDLER_STOP_TIMEOUT == kStatusHandlerStopTimeout,
              "C status constants");
static_assert(sizeof(vtHART_DeviceConfig) == kDeviceRowSize, "C row");
static_assert(sizeof(vtHART_ConfigurationChange) == kDriverConfigChangeSize, "C configuration");

extern "C" uint8_t CCallerReadsConfiguration(uint8_t deviceNumber, vtHART_DeviceConfig* row);

TEST_F(ModemTest, CCallerReadsTheRowThroughThePackedStruct) {
  Configure(3, 0x1A2B);
  vtHART_DeviceConfig row = {};
  ASSERT_EQ(CCallerReadsConfiguration(3, &row), kStatusOk);
  EXPECT_EQ(row.serial, 0x1A2Bu);
  EXPECT_EQ(row.attached, 0);
  EXPECT_EQ(CCallerReadsConfiguration(4, &row), kStatusNotConfigured);
}

TEST(ModemApiFile, CarriesTheFixedFileVersion) {
  char path[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameA(::GetModuleHandleA("modemapi.dll"), path, sizeof path), 0u);
  DWORD ignored = 0;
  std::vector<uint8_t> info(::GetFileVersionInfoSizeA(path, &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(::GetFileVersionInfoA(path, 0, static_cast<DWORD>(info.size()), info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
  ASSERT_GE(size, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(ModemTest, PerDeviceExportsOnAnEmptySlotAnswer12) {
  uint8_t kind, length, data[256], value;
  EXPECT_EQ(vtHART_Send(kDev, 5, sizeof kCommandZero, kCommandZero), kStatusNotOpen);
  EXPECT_EQ(vtHART_Receive(kDev, &kind, &length, data), kStatusNotOpen);
  EXPECT_EQ(vtHART_SetParam(kDev, 1), kStatusNotOpen);
  EXPECT_EQ(vtHART_GetParam(kDev, &value), kStatusNotOpen);
  EXPECT_EQ(vtHART_StartMessageHandler(kDev, [](uint8_t, void*) {}, nullptr), kStatusNotOpen);
  EXPECT_EQ(vtHART_StopMessageHandler(kDev), kStatusNotOpen);
  EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusNotOpen);
  EXPECT_EQ(vtHARTvb_CloseDevice(kDev), kStatusNotOpen);
}

// --- send and parameter ----------------------------------------------------------

TEST_F(ModemTest, SendChecksItsArgumentsBeforeAnyTransferAndFramesTheData) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  uint8_t frame[193];
  for (int i = 0; i < 193; ++i) frame[i] = static_cast<uint8_t>(i);
  SimClearTransferLog(kSerial);
  EXPECT_EQ(vtHART_Send(kDev, 4, 5, frame), kStatusInvalidArgument);
  EXPECT_EQ(vtHART_Send(kDev, 21, 5, frame), kStatusInvalidArgument);
  EXPECT_EQ(vtHART_Send(kDev, 5, 193, frame), kStatusInvalidArgument);
  EXPECT_EQ(vtHART_Send(kDev, 5, 5, nullptr), kStatusInvalidArgument);
  EXPECT_TRUE(Requests(kSerial, 0xB1).empty());

  EXPECT_EQ(vtHART_Send(kDev, 5, 192, frame), kStatusOk);
  EXPECT_EQ(vtHART_Send(kDev, 20, 192, frame), kStatusOk);
  const std::vector<SimTransfer> sends = Requests(kSerial, 0xB1);
  ASSERT_EQ(sends.size(), 2u);
  for (size_t i = 0; i < sends.size(); ++i) {
    EXPECT_EQ(sends[i].requestType, 0x40);
    EXPECT_EQ(sends[i].length, 200);
    const uint8_t header[] = {0xFF, 0xFF, 0xFF, 0xFF, uint8_t(i == 0 ? 5 : 20), 192, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(sends[i].data, header, sizeof header), 0);
    EXPECT_EQ(std::memcmp(sends[i].data + 8, frame, 192), 0);
  }
  EXPECT_EQ(Requests(kSerial, 0xB6).size(), 2u) << "each send reads the send status";
}

TEST_F(ModemTest, SendReportsTheAdaptersSendStatusAndFailedRequests) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  EXPECT_EQ(vtHART_Send(kDev, 5, sizeof kCommandZero, kCommandZero), kStatusOk);

  const uint8_t refused[] = {0x00, 0x83};
  SimSetRequestAnswer(kSerial, 0xB6, refused, 2);
  EXPECT_EQ(vtHART_Send(kDev, 5, sizeof kCommandZero, kCommandZero), kStatusSendRejected);
  const uint8_t other[] = {0x01, 0x00};
  SimSetRequestAnswer(kSerial, 0xB6, other, 2);
  EXPECT_EQ(vtHART_Send(kDev, 5, sizeof kCommandZero, kCommandZero), kStatusIoError);
  SimSetRequestAnswer(kSerial, 0xB6, nullptr, 0);

  SimInjectFault(kSerial, 0xB1, 0, 1, SIM_FAULT_FAIL, 0);
  EXPECT_EQ(vtHART_Send(kDev, 5, sizeof kCommandZero, kCommandZero), kStatusIoError);
  SimInjectFault(kSerial, 0xB6, 0, 1, SIM_FAULT_FAIL, 0);
  EXPECT_EQ(vtHART_Send(kDev, 5, sizeof kCommandZero, kCommandZero), kStatusIoError);
  SimInjectFault(kSerial, 0xB1, 0, 1, SIM_FAULT_STALL, kBeyondTimeoutMs);
  EXPECT_EQ(vtHART_Send(kDev, 5, sizeof kCommandZero, kCommandZero), kStatusTimeout);
  EXPECT_EQ(vtHART_Send(kDev, 5, sizeof kCommandZero, kCommandZero), kStatusOk);
}

TEST_F(ModemTest, ParameterByteRoundTripsAndRefusalsAreReported) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  EXPECT_EQ(vtHART_SetParam(kDev, 0x2A), kStatusOk);
  EXPECT_EQ(State(kSerial).parameter, 0x2A);
  const std::vector<SimTransfer> sets = Requests(kSerial, 0xB3);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].value, 0x2A);
  EXPECT_EQ(sets[0].requestType, 0xC0);
  uint8_t value = 0;
  EXPECT_EQ(vtHART_GetParam(kDev, &value), kStatusOk);
  EXPECT_EQ(value, 0x2A);
  EXPECT_EQ(vtHART_GetParam(kDev, nullptr), kStatusInvalidArgument);

  const uint8_t refusal[] = {0x00, 0x01};
  SimSetRequestAnswer(kSerial, 0xB3, refusal, 2);
  EXPECT_EQ(vtHART_SetParam(kDev, 0x2B), kStatusParamRefused);
  SimSetRequestAnswer(kSerial, 0xB3, nullptr, 0);

  SimInjectFault(kSerial, 0xB3, 0, 1, SIM_FAULT_FAIL, 0);
  EXPECT_EQ(vtHART_SetParam(kDev, 0x2C), kStatusIoError);
  SimInjectFault(kSerial, 0xB4, 0, 1, SIM_FAULT_FAIL, 0);
  value = 0xEE;
  EXPECT_EQ(vtHART_GetParam(kDev, &value), kStatusIoError);
  EXPECT_EQ(value, 0xEE) << "a failed read leaves the caller's byte alone";
  SimInjectFault(kSerial, 0xB3, 0, 1, SIM_FAULT_STALL, kBeyondTimeoutMs);
  EXPECT_EQ(vtHART_SetParam(kDev, 0x2D), kStatusTimeout);
}

TEST_F(ModemTest, LateCompletionOfAnAbandonedRequestReachesNoLaterCallerOrBuffer) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  ASSERT_EQ(vtHART_SetParam(kDev, 0x10), kStatusOk);

  // The stalled request fails after its caller gave up; the next caller's
  // request runs after it and must get its own result, not the late failure.
  SimInjectFault(kSerial, 0xB3, 0, 1, SIM_FAULT_STALL | SIM_FAULT_FAIL, kBeyondTimeoutMs);
  EXPECT_EQ(vtHART_SetParam(kDev, 0x55), kStatusTimeout);
  uint8_t value = 0;
  EXPECT_EQ(vtHART_GetParam(kDev, &value), kStatusOk);
  EXPECT_EQ(value, 0x10);

  // A read that completes after its caller returned never writes the
  // caller's buffer.
  SimInjectFault(kSerial, 0xB4, 0, 1, SIM_FAULT_STALL, kBeyondTimeoutMs);
  auto* late = new uint8_t(0xEE);
  EXPECT_EQ(vtHART_GetParam(kDev, late), kStatusTimeout);
  ::Sleep(kBeyondTimeoutMs - 3000 + 300);
  EXPECT_EQ(*late, 0xEE);
  delete late;
  value = 0;
  EXPECT_EQ(vtHART_GetParam(kDev, &value), kStatusOk);
  EXPECT_EQ(value, 0x10);
}

// --- receive ring ----------------------------------------------------------------

TEST_F(ModemTest, ReceiveDeliversFramesInOrderAndCopiesOnlyTheirLength) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  uint8_t kind = 0, length = 0, data[256];
  EXPECT_EQ(vtHART_Receive(kDev, &kind, &length, data), kStatusRingEmpty);
  EXPECT_EQ(vtHART_Receive(kDev, nullptr, &length, data), kStatusInvalidArgument);
  EXPECT_EQ(vtHART_Receive(kDev, &kind, nullptr, data), kStatusInvalidArgument);
  EXPECT_EQ(vtHART_Receive(kDev, &kind, &length, nullptr), kStatusInvalidArgument);

  const uint8_t burst[] = {0x81, 0x26, 0x06, 0x00, 0x00, 0x01};
  const uint8_t answer[] = {0x06, 0x80, 0x00};
  SimQueueReply(kSerial, SIM_KIND_BURST, burst, sizeof burst);
  SimQueueReply(kSerial, SIM_KIND_ANSWER, answer, sizeof answer);
  std::memset(data, 0xCC, sizeof data);
  ASSERT_EQ(ReceiveNext(kDev, &kind, &length, data), kStatusOk);
  EXPECT_EQ(kind, SIM_KIND_BURST);
  ASSERT_EQ(length, sizeof burst);
  EXPECT_EQ(std::memcmp(data, burst, sizeof burst), 0);
  EXPECT_EQ(data[sizeof burst], 0xCC);
  ASSERT_EQ(ReceiveNext(kDev, &kind, &length, data), kStatusOk);
  EXPECT_EQ(kind, SIM_KIND_ANSWER);
  EXPECT_EQ(length, sizeof answer);
  EXPECT_EQ(vtHART_Receive(kDev, &kind, &length, data), kStatusRingEmpty);

  // Largest frame: 192 data bytes, read as 201 reply bytes.
  std::vector<uint8_t> largest(192);
  for (size_t i = 0; i < largest.size(); ++i) largest[i] = static_cast<uint8_t>(i * 7);
  SimQueueReply(kSerial, SIM_KIND_ANSWER, largest.data(), 192);
  ASSERT_EQ(ReceiveNext(kDev, &kind, &length, data), kStatusOk);
  EXPECT_EQ(length, 192);
  EXPECT_EQ(std::memcmp(data, largest.data(), 192), 0);
}

TEST_F(ModemTest, ReceiveLengthAboveTheFrameLimitOrThePollIsNeverCopied) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  uint8_t kind = 0, length = 0, data[256];

  // The poll announces 200 bytes: the library reads 192 + 9 and refuses the
  // entry, whose length byte says 200.
  std::vector<uint8_t> oversized(200, 0x5A);
  SimQueueReply(kSerial, SIM_KIND_ANSWER, oversized.data(), 200);
  std::memset(data, 0xCC, sizeof data);
  EXPECT_EQ(ReceiveNext(kDev, &kind, &length, data), kStatusIoError);
  const std::vector<SimTransfer> reads = Requests(kSerial, 0xB2);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].length, 201);

  // The poll announces 4 bytes but the reply's length byte says 50.
  uint8_t reply[9 + 50] = {SIM_KIND_ANSWER};
  reply[6] = 50;
  std::memset(reply + 9, 0x77, 50);
  SimQueueRawReply(kSerial, 4, reply, sizeof reply);
  EXPECT_EQ(ReceiveNext(kDev, &kind, &length, data), kStatusIoError);
  for (uint8_t byte : data) ASSERT_EQ(byte, 0xCC) << "nothing was copied";

  // Frames after them arrive as usual.
  const uint8_t good[] = {1, 2, 3};
  SimQueueReply(kSerial, SIM_KIND_ANSWER, good, sizeof good);
  EXPECT_EQ(ReceiveNext(kDev, &kind, &length, data), kStatusOk);
  EXPECT_EQ(length, 3);
}

TEST_F(ModemTest, ElevenFramesWithoutReceiveMarkTheTenthAsOverrun) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  for (uint8_t i = 0; i < 11; ++i) {
    const uint8_t frame[] = {i, i, i};
    SimQueueReply(kSerial, SIM_KIND_ANSWER, frame, sizeof frame);
  }
  ASSERT_TRUE(WaitFor([&] { return State(kSerial).framesWaiting == 0; })) << "all eleven polled";

  uint8_t kind = 0, length = 0, data[256];
  for (uint8_t i = 0; i < 9; ++i) {
    ASSERT_EQ(vtHART_Receive(kDev, &kind, &length, data), kStatusOk) << int(i);
    EXPECT_EQ(data[0], i);
  }
  data[0] = 0xCC;
  EXPECT_EQ(vtHART_Receive(kDev, &kind, &length, data), kStatusRingOverrun);
  EXPECT_EQ(data[0], 0xCC) << "the overrun marker carries no frame";
  EXPECT_EQ(vtHART_Receive(kDev, &kind, &length, data), kStatusRingEmpty);

  // The ring is usable again.
  const uint8_t frame[] = {0x42};
  SimQueueReply(kSerial, SIM_KIND_ANSWER, frame, 1);
  EXPECT_EQ(ReceiveNext(kDev, &kind, &length, data), kStatusOk);
  EXPECT_EQ(data[0], 0x42);
}

TEST_F(ModemTest, FailedPollQueuesAnIoErrorEntry) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  SimInjectFault(kSerial, 0xB5, 0, 1, SIM_FAULT_FAIL, 0);
  uint8_t kind = 0, length = 0, data[256];
  EXPECT_EQ(ReceiveNext(kDev, &kind, &length, data), kStatusIoError);
  SimInjectFault(kSerial, 0xB2, 0, 1, SIM_FAULT_FAIL, 0);
  const uint8_t frame[] = {0x42};
  SimQueueReply(kSerial, SIM_KIND_ANSWER, frame, 1);
  EXPECT_EQ(ReceiveNext(kDev, &kind, &length, data), kStatusIoError);
  EXPECT_EQ(vtHART_Send(kDev, 5, sizeof kCommandZero, kCommandZero), kStatusOk) << "the device stays usable";
}

TEST_F(ModemTest, PollsFailingUntilTheRingOverrunsMarkTheNewestEntry) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  constexpr uint32_t kFailures = 11;  // one more than the ring holds
  SimInjectFault(kSerial, 0xB5, 0, kFailures, SIM_FAULT_FAIL, 0);
  auto failedPolls = [&] {
    size_t n = 0;
    for (const SimTransfer& t : Requests(kSerial, 0xB5)) n += t.error != 0;
    return n;
  };
  ASSERT_TRUE(WaitFor([&] { return failedPolls() == kFailures; }, 20000));
  // Empty polls are counted, not logged: one after the last failure means
  // the eleventh failure has been queued.
  const uint32_t emptyBefore = State(kSerial).emptyPolls;
  ASSERT_TRUE(WaitFor([&] { return State(kSerial).emptyPolls > emptyBefore; }, 5000));

  uint8_t kind = 0, length = 0, data[256];
  for (int i = 0; i < 9; ++i) EXPECT_EQ(vtHART_Receive(kDev, &kind, &length, data), kStatusIoError) << i;
  EXPECT_EQ(vtHART_Receive(kDev, &kind, &length, data), kStatusRingOverrun);
  EXPECT_EQ(vtHART_Receive(kDev, &kind, &length, data), kStatusRingEmpty);
}

// --- message handler -------------------------------------------------------------

struct Collected {
  std::atomic<int> calls{0};
  std::atomic<int> frames{0};
  std::atomic<int> removed{0};
  std::atomic<int> wrongArguments{0};
  uint8_t number = kDev;
  HANDLE block = nullptr;    // when set, the callback waits for it
  HANDLE entered = nullptr;  // set when the callback runs
  HANDLE thread = nullptr;   // the handler thread, taken at the first call
};

void __cdecl Collect(uint8_t number, void* user) {
  auto* c = static_cast<Collected*>(user);
  if (++c->calls == 1)
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &c->thread, SYNCHRONIZE,
                      FALSE, 0);
  if (number != c->number) ++c->wrongArguments;
  if (c->entered) ::SetEvent(c->entered);
  if (c->block) ::WaitForSingleObject(c->block, INFINITE);
  uint8_t kind, length, data[256];
  for (;;) {
    const uint8_t status = vtHART_Receive(number, &kind, &length, data);
    if (status == kStatusOk) {
      ++c->frames;
    } else {
      if (status == kStatusDeviceRemoved) ++c->removed;
      break;
    }
  }
}

// A message handler held inside its callback: starts the handler on
// `number`, queues one frame and waits until the callback has been entered;
// it stays there until Release().
struct StuckHandler {
  win32::UniqueHandle block{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  win32::UniqueHandle entered{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  Collected collected;

  void Start(uint8_t number, uint16_t serial) {
    collected.number = number;
    collected.block = block.get();
    collected.entered = entered.get();
    ASSERT_EQ(vtHART_StartMessageHandler(number, &Collect, &collected), kStatusOk);
    const uint8_t frame[] = {0x06};
    SimQueueReply(serial, SIM_KIND_ANSWER, frame, 1);
    ASSERT_EQ(::WaitForSingleObject(entered.get(), 3000), WAIT_OBJECT_0);
  }
  void Release() { ::SetEvent(block.get()); }
};

TEST_F(ModemTest, MessageHandlerCallsBackWhileFramesWait) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  Collected collected;
  EXPECT_EQ(vtHART_StopMessageHandler(kDev), kStatusThreadOrEvent) << "none running";
  EXPECT_EQ(vtHART_StartMessageHandler(kDev, nullptr, &collected), kStatusInvalidArgument);
  ASSERT_EQ(vtHART_StartMessageHandler(kDev, &Collect, &collected), kStatusOk);
  EXPECT_EQ(vtHART_StartMessageHandler(kDev, &Collect, &collected), kStatusAlreadyRunning);

  const uint8_t frame[] = {0x06, 0x80};
  for (int i = 0; i < 3; ++i) SimQueueReply(kSerial, SIM_KIND_ANSWER, frame, sizeof frame);
  EXPECT_TRUE(WaitFor([&] { return collected.frames == 3; }));
  EXPECT_EQ(collected.wrongArguments, 0);

  EXPECT_EQ(vtHART_StopMessageHandler(kDev), kStatusOk);
  EXPECT_EQ(vtHART_StopMessageHandler(kDev), kStatusThreadOrEvent);
  const int calls = collected.calls;
  SimQueueReply(kSerial, SIM_KIND_ANSWER, frame, sizeof frame);
  uint8_t kind, length, data[256];
  EXPECT_EQ(ReceiveNext(kDev, &kind, &length, data), kStatusOk);
  EXPECT_EQ(collected.calls, calls) << "no callback after the stop";

  ASSERT_EQ(vtHART_StartMessageHandler(kDev, &Collect, &collected), kStatusOk) << "restarts";
  SimQueueReply(kSerial, SIM_KIND_ANSWER, frame, sizeof frame);
  EXPECT_TRUE(WaitFor([&] { return collected.frames == 4; }));
  EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusOk) << "close stops the handler";
}

void __cdecl CollectThenRaise(uint8_t number, void* user) {
  Collect(number, user);
  throw std::runtime_error("the caller's callback failed");
}

// What the caller's callback raises ends with that call: the handler thread
// lives on, calls back for the next frame and stops when asked.
TEST_F(ModemTest, CallbackThatRaisesEndsWithItsCallAndTheHandlerGoesOn) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  Collected collected;
  ASSERT_EQ(vtHART_StartMessageHandler(kDev, &CollectThenRaise, &collected), kStatusOk);
  for (int i = 1; i <= 2; ++i) {
    const uint8_t frame[] = {static_cast<uint8_t>(i)};
    SimQueueReply(kSerial, SIM_KIND_ANSWER, frame, 1);
    ASSERT_TRUE(WaitFor([&] { return collected.frames == i; }, 10000)) << "frame " << i;
  }
  EXPECT_EQ(vtHART_StopMessageHandler(kDev), kStatusOk);
  EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusOk);
  if (collected.thread) ::CloseHandle(collected.thread);
}

TEST_F(ModemTest, HandlerThatWillNotStopKeepsTheDeviceOpen) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  StuckHandler stuck;
  ASSERT_NO_FATAL_FAILURE(stuck.Start(kDev, kSerial));

  EXPECT_EQ(vtHART_StopMessageHandler(kDev), kStatusHandlerStopTimeout);
  EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusHandlerStopTimeout);
  uint8_t value = 0;
  EXPECT_EQ(vtHART_GetParam(kDev, &value), kStatusOk) << "the device is still open";
  EXPECT_TRUE(OwnershipTaken(kSerial));

  stuck.Release();
  EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusOk);
  EXPECT_EQ(stuck.collected.frames, 1);
  EXPECT_EQ(State(kSerial).openHandles, 0u);
}

TEST_F(ModemTest, HandlerStartedAgainAfterAStopThatTimedOutKeepsRunning) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  StuckHandler stuck;
  ASSERT_NO_FATAL_FAILURE(stuck.Start(kDev, kSerial));
  ASSERT_EQ(vtHART_StopMessageHandler(kDev), kStatusHandlerStopTimeout);
  stuck.Release();
  // The thread ends with its callback, taking the stop request with it; the
  // next stop collects the ended thread and leaves its own request behind.
  win32::UniqueHandle stuckThread(stuck.collected.thread);
  ASSERT_TRUE(stuckThread.valid());
  ASSERT_EQ(::WaitForSingleObject(stuckThread.get(), 10000), WAIT_OBJECT_0);
  ASSERT_EQ(vtHART_StopMessageHandler(kDev), kStatusOk);
  ASSERT_EQ(stuck.collected.frames, 1);

  Collected collected;
  ASSERT_EQ(vtHART_StartMessageHandler(kDev, &Collect, &collected), kStatusOk);
  // One frame at a time, each queued after the one before was delivered: a
  // handler that ended after its first pass would miss the later ones.
  for (int i = 1; i <= 3; ++i) {
    const uint8_t frame[] = {static_cast<uint8_t>(i)};
    SimQueueReply(kSerial, SIM_KIND_ANSWER, frame, 1);
    ASSERT_TRUE(WaitFor([&] { return collected.frames == i; }, 10000)) << "frame " << i;
  }
  EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusOk);
  if (collected.thread) ::CloseHandle(collected.thread);
}

TEST_F(ModemTest, DeviceInitOnANumberWhoseHandlerWillNotStopAnswers35) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  StuckHandler stuck;
  ASSERT_NO_FATAL_FAILURE(stuck.Start(kDev, kSerial));
  EXPECT_EQ(vtHART_DeviceInit(kDev, 1), kStatusHandlerStopTimeout);
  stuck.Release();
  EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusOk);
}

// --- removal and close -------------------------------------------------------------

// WinUSB tells a departed adapter by either error; each ends the I/O thread
// as a removal, not as a failed transfer (3) after which polling goes on.
TEST_F(ModemTest, UnpluggedAdapterLatchesDeviceRemoved) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  for (DWORD gone : {ERROR_BAD_COMMAND, ERROR_DEVICE_NOT_CONNECTED}) {
    SCOPED_TRACE(gone);
    ASSERT_TRUE(SimUnplugWithError(kSerial, gone));
    uint8_t kind, length, data[256], value;
    EXPECT_EQ(ReceiveNext(kDev, &kind, &length, data), kStatusDeviceRemoved);
    EXPECT_EQ(vtHART_Receive(kDev, &kind, &length, data), kStatusDeviceRemoved) << "sticky";
    EXPECT_EQ(vtHART_Send(kDev, 5, sizeof kCommandZero, kCommandZero), kStatusDeviceRemoved);
    EXPECT_EQ(vtHART_SetParam(kDev, 1), kStatusDeviceRemoved);
    EXPECT_EQ(vtHART_GetParam(kDev, &value), kStatusDeviceRemoved);
    Collected collected;
    EXPECT_EQ(vtHART_StartMessageHandler(kDev, &Collect, &collected), kStatusDeviceRemoved);

    // The I/O thread has ended and given the adapter back at once; the
    // number stays open until closed.
    EXPECT_FALSE(OwnershipTaken(kSerial));
    EXPECT_EQ(State(kSerial).openHandles, 0u);
    EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusOk);
    EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusNotOpen);

    SimReplug(kSerial);
    ASSERT_EQ(vtHART_DeviceInit(kDev, 1), kStatusOk) << "opens again after replug";
  }
}

TEST_F(ModemTest, RemovalSeenByTheCallbackEndsTheMessageHandler) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  Collected collected;
  ASSERT_EQ(vtHART_StartMessageHandler(kDev, &Collect, &collected), kStatusOk);
  SimUnplug(kSerial);
  ASSERT_TRUE(WaitFor([&] { return collected.removed > 0; }));
  ::Sleep(100);
  const int calls = collected.calls;
  ::Sleep(200);
  EXPECT_EQ(collected.calls, calls) << "the handler ended after the removal entry";
  EXPECT_EQ(vtHART_StopMessageHandler(kDev), kStatusOk);
  EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusOk);
}

TEST_F(ModemTest, CloseWaitsForAnIoThreadStuckInATransfer) {
  ASSERT_EQ(OpenNew(kDev, kSerial), kStatusOk);
  // The stop request outlasts both the request time-out and Close's own wait.
  SimInjectFault(kSerial, 0xD0, 0, 1, SIM_FAULT_STALL, 7000);
  EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusOk);
  // The device object is gone only after its I/O thread released WinUSB.
  EXPECT_EQ(State(kSerial).openHandles, 0u);
  EXPECT_FALSE(OwnershipTaken(kSerial));
  EXPECT_EQ(vtHART_CloseDevice(kDev), kStatusNotOpen);
}

}  // namespace
}  // namespace modemtest
