// Scan bookkeeping and answer documents of the channel's scans: the
// TopologyScan document of the topology scan, the request, address list,
// identification list and ScanIdentifications documents of the FDT channel
// scan, and the list of running channel scans with their cancel flags.
// Plain data and functions; the channel drives them on its worker.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channel/found_devices.h"
#include "win32/unique_handle.h"

namespace hartdtm {

// Parameter written while a scan loop runs.
constexpr ULONG kParScanActive = 1005;
// Highest polling address of any scan.
constexpr uint8_t kHighestPollingAddress = 63;

// ---- topology scan ----------------------------------------------------------------

// The TopologyScan document of the found devices, in table order; tags escaped.
std::wstring TopologyScanDocument(const std::vector<HartDeviceEntry>& devices);

// ---- FDT channel scan request ----------------------------------------------------

struct ScanRange {
  std::wstring begin;  // busAddressBegin, required
  bool endGiven = false;
  std::wstring end;  // busAddressEnd
};

enum ScanMode : int32_t { kScanModeNone = 0, kScanModeAll = 1, kScanModeOpenGui = 2 };

struct ScanRequestRecord {
  bool rangesGiven = false;
  std::wstring rangesCategory;
  std::vector<ScanRange> ranges;
  bool modeGiven = false;
  ScanMode mode = kScanModeNone;
  std::wstring modeCategory;
};

// The channel scan request document (FDT/BusAddressRanges or FDT/ScanMode,
// exactly one of them). E_UNEXPECTED for both or neither, the read's error
// for a missing required attribute, E_POINTER without document.
HRESULT ParseScanRequestDocument(IXMLDOMNode* doc, ScanRequestRecord* out);

enum ScanResultState : int32_t { kScanProvisional = 1, kScanFinal = 2, kScanError = 3 };

// One reported device.
struct ScanIdentification {
  int32_t configuredState = 0;  // 1..3, else notApplicable
  uint8_t pollingAddress = 0;
  uint8_t universalRevision = 0;
  uint8_t manufacturerId = 0;
  uint8_t deviceType = 0;
  uint8_t softwareRevision = 0;
  float hardwareRevision = 0;  // "<revision>.<signalling>" read as a number
  std::wstring tag;
  uint32_t deviceId = 0;
  uint8_t deviceRevision = 0;
  uint8_t flags = 0;

  static ScanIdentification FromEntry(const HartDeviceEntry& entry);
  std::wstring ToXml() const;
};

// The HART protocol identifier, the busCategory of a new identification list.
extern const wchar_t kHartBusCategory[];

struct ScanIdentificationList {
  std::wstring busCategory = kHartBusCategory;
  std::vector<ScanIdentification> identifications;
  int32_t resultState = kScanProvisional;
};

std::wstring ScanIdentificationsDocument(const ScanIdentificationList& list);

// The polling addresses of a request with ranges, in order of first
// appearance without duplicates; the list takes the ranges' busCategory.
// Ranges whose begin or end is not a decimal 0..63 are skipped.
void RangeAddresses(const ScanRequestRecord& request, std::vector<uint8_t>* addresses);

// ---- running channel scans -----------------------------------------------------------

// Invoke ids of the running channel scans, each with its cancel flag. The
// apartment adds and cancels, the worker reads and removes: the list has a
// lock, the flag is atomic so that the scan loop reads it without the lock.
class ScanCancelList {
 public:
  struct Record {
    std::wstring invokeId;
    std::atomic<bool> cancelled{false};
  };
  void Add(const wchar_t* invokeId);
  // Sets the flag of the first record of the invoke id; false when absent.
  bool Cancel(const wchar_t* invokeId);
  bool IsCancelled(const wchar_t* invokeId) const;
  void Remove(const wchar_t* invokeId);
  size_t Count() const;

 private:
  // Index of the first record whose id compares equal (VarBstrCmp, user
  // default locale); -1.
  int Find(const wchar_t* invokeId) const;
  mutable win32::CriticalSection lock_;
  std::vector<std::shared_ptr<Record>> records_;
};

}  // namespace hartdtm
