// hartscan: finds the HART field devices on one adapter's line.
//
//   hartscan [device-number] [--bind] [--first A] [--last B] [--timeout MS]
//
// Loads modemapi.dll as any caller would and lists the attached adapters.
// With --bind it binds the device number (default 0) to the first attached
// adapter (the plug-and-play service stores the binding). It then opens the
// adapter bound to the device number as primary master,
// sends HART command 0 to polling addresses A..B (default 0..15) and prints
// the identity of every device that answers. Exit code: 0 when the scan ran
// (even if nothing answered), 1 when the library or the adapter could not be
// used, 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hart/frame.h"
#include "hart/identity.h"
#include "modemapi/modemapi.h"
#include "shared/adapter_protocol.h"
#include "shared/device_row.h"
#include "shared/status_codes.h"
#include "win32/unique_handle.h"

namespace {

constexpr uint8_t kPreambles = 5;

// The entry points hartscan takes from modemapi.dll by name, typed from the
// library's header (the program does not link the library).
struct ModemApi {
  using DeviceInitFn = decltype(&vtHART_DeviceInit);
  using SendFn = decltype(&vtHART_Send);
  using ReceiveFn = decltype(&vtHART_Receive);
  using CloseDeviceFn = decltype(&vtHART_CloseDevice);
  using GetDriverConfigurationFn = decltype(&vtHART_GetDriverConfiguration);
  using SetDriverConfigurationFn = decltype(&vtHART_SetDriverConfiguration);
  using AttachedDevicesFn = decltype(&vtHART_AttachedDevices);

  win32::UniqueModule module;
  DeviceInitFn deviceInit = nullptr;
  SendFn send = nullptr;
  ReceiveFn receive = nullptr;
  CloseDeviceFn closeDevice = nullptr;
  GetDriverConfigurationFn getDriverConfiguration = nullptr;
  SetDriverConfigurationFn setDriverConfiguration = nullptr;
  AttachedDevicesFn attachedDevices = nullptr;

  template <typename Fn>
  bool Bind(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module.get(), name)));
    if (!fn) std::fprintf(stderr, "modemapi.dll has no %s\n", name);
    return fn != nullptr;
  }

  bool Load() {
    module.reset(::LoadLibraryA("modemapi.dll"));
    if (!module) {
      std::fprintf(stderr, "cannot load modemapi.dll (error %lu)\n", ::GetLastError());
      return false;
    }
    return Bind(deviceInit, "vtHART_DeviceInit") && Bind(send, "vtHART_Send") &&
           Bind(receive, "vtHART_Receive") && Bind(closeDevice, "vtHART_CloseDevice") &&
           Bind(getDriverConfiguration, "vtHART_GetDriverConfiguration") &&
           Bind(setDriverConfiguration, "vtHART_SetDriverConfiguration") &&
           Bind(attachedDevices, "vtHART_AttachedDevices");
  }
};

void PrintStatus(const char* what, uint8_t status) {
  std::printf("%s: status %u (%s)\n", what, status, shared::StatusMeaning(status));
}

// Prints the attached adapters (bound or not) and answers their serials.
std::vector<uint32_t> ListAttachedAdapters(const ModemApi& api) {
  constexpr uint8_t kFirstBoundAndUnbound = 0x60;
  constexpr uint8_t kNext = 0x80;
  std::vector<uint32_t> serials;
  uint8_t bytes[shared::kDeviceRowSize];
  uint8_t status = api.attachedDevices(kFirstBoundAndUnbound, bytes);
  if (status != shared::kStatusOk) {
    std::printf("Attached adapters: none\n");
    return serials;
  }
  std::printf("Attached adapters:\n");
  while (status == shared::kStatusOk) {
    const shared::DeviceRow row = shared::UnpackDeviceRow(bytes);
    std::printf("  serial 0x%04X%s\n", static_cast<unsigned>(row.serial),
                row.inUse ? " (in use)" : "");
    serials.push_back(row.serial);
    status = api.attachedDevices(kNext, bytes);
  }
  return serials;
}

// Waits for the command 0 answer from `address`; other frames are skipped.
bool AwaitCommand0Answer(const ModemApi& api, uint8_t deviceNumber, uint8_t address,
                         DWORD timeoutMs, hart::Identity& identity, const char** problem) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  *problem = nullptr;
  while (::GetTickCount64() < deadline) {
    uint8_t kind = 0;
    uint8_t length = 0;
    uint8_t data[192];
    const uint8_t status = api.receive(deviceNumber, &kind, &length, data);
    if (status == shared::kStatusRingEmpty) {
      ::Sleep(2);
      continue;
    }
    if (status != shared::kStatusOk && status != shared::kStatusRingOverrun) {
      *problem = shared::StatusMeaning(status);
      return false;
    }
    if (kind != shared::kReplyKindAnswer) continue;
    hart::Frame frame;
    const hart::FrameError error = hart::ParseFrame(data, length, frame);
    if (error != hart::FrameError::None) {
      *problem = hart::FrameErrorText(error);
      continue;
    }
    if (frame.type != hart::FrameType::Answer || frame.longAddress || frame.command != 0 ||
        frame.address[0] != address) {
      continue;  // a burst frame or an answer meant for someone else
    }
    if (frame.responseCode & hart::kCommErrorBit) {
      *problem = "communication error";
      return false;
    }
    if (!hart::DecodeCommand0Answer(frame, identity)) {
      *problem = "answer without identity";
      return false;
    }
    return true;
  }
  return false;
}

int Usage() {
  std::fprintf(stderr,
               "usage: hartscan [device-number] [--bind] [--first A] [--last B] [--timeout MS]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Show each line as it comes, also when the output is a pipe.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  unsigned long deviceNumber = 0;
  unsigned long first = 0;
  unsigned long last = 15;
  unsigned long timeoutMs = 500;
  bool bind = false;
  for (int i = 1; i < argc; ++i) {
    auto value = [&](unsigned long& out) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      out = std::strtoul(argv[++i], &end, 0);
      return *end == '\0';
    };
    bool ok = true;
    if (!std::strcmp(argv[i], "--bind")) bind = true;
    else if (!std::strcmp(argv[i], "--first")) ok = value(first);
    else if (!std::strcmp(argv[i], "--last")) ok = value(last);
    else if (!std::strcmp(argv[i], "--timeout")) ok = value(timeoutMs);
    else {
      char* end = nullptr;
      deviceNumber = std::strtoul(argv[i], &end, 0);
      ok = *end == '\0';
    }
    if (!ok) return Usage();
  }
  if (deviceNumber > 255 || first > 63 || last > 63 || first > last) return Usage();
  const uint8_t number = static_cast<uint8_t>(deviceNumber);

  ModemApi api;
  if (!api.Load()) return 1;

  const std::vector<uint32_t> attached = ListAttachedAdapters(api);

  uint8_t status = shared::kStatusOk;
  if (bind) {
    if (attached.empty()) {
      std::printf("No adapter to bind device number %u to.\n", number);
      return 1;
    }
    shared::DriverConfigChange change;
    change.action = shared::kConfigActionBind;
    change.serial = attached.front();
    uint8_t request[shared::kDriverConfigChangeSize];
    shared::PackDriverConfigChange(change, request);
    status = api.setDriverConfiguration(number, request);
    if (status != shared::kStatusOk) {
      PrintStatus("Binding failed", status);
      return 1;
    }
    std::printf("Bound device number %u to adapter serial 0x%04X.\n", number,
                static_cast<unsigned>(change.serial));
  }

  uint8_t bytes[shared::kDeviceRowSize];
  status = api.getDriverConfiguration(number, bytes);
  const shared::DeviceRow config = shared::UnpackDeviceRow(bytes);
  if (status != shared::kStatusOk || config.kind != shared::kDeviceRowConfigured) {
    std::printf("Device number %u is not bound to an adapter.\n", number);
    return 1;
  }
  std::printf("Device number %u: adapter serial 0x%04X, %s\n", number,
              static_cast<unsigned>(config.serial),
              !config.attached ? "not attached" : config.inUse ? "attached, in use" : "attached");

  status = api.deviceInit(number, 1);
  if (status != shared::kStatusOk) {
    PrintStatus("Opening the adapter failed", status);
    return 1;
  }
  std::printf("Adapter open (firmware loaded). Polling addresses %lu to %lu with command 0:\n\n",
              first, last);
  std::printf("  addr  manufacturer  device type  device id  HART rev  preambles\n");

  int found = 0;
  for (unsigned long address = first; address <= last; ++address) {
    const std::vector<uint8_t> frame =
        hart::BuildShortCommand0(static_cast<uint8_t>(address), /*primaryMaster=*/true);
    status = api.send(number, kPreambles, static_cast<uint8_t>(frame.size()), frame.data());
    if (status != shared::kStatusOk) {
      PrintStatus("  send failed", status);
      break;
    }
    hart::Identity identity;
    const char* problem = nullptr;
    if (AwaitCommand0Answer(api, number, static_cast<uint8_t>(address), timeoutMs, identity,
                            &problem)) {
      std::printf("  %4lu  0x%02X          0x%02X         0x%06X   %-8u  %u\n", address,
                  identity.manufacturerId, identity.deviceType,
                  static_cast<unsigned>(identity.deviceId), identity.hartRevision,
                  identity.preambles);
      ++found;
    } else if (problem) {
      std::printf("  %4lu  (%s)\n", address, problem);
    }
  }
  std::printf("\n%d device(s) found.\n", found);

  status = api.closeDevice(number);
  if (status != shared::kStatusOk) PrintStatus("Closing the adapter", status);
  return 0;
}
