#include "process_counts.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <vector>

#include "win32/unique_handle.h"

namespace testsupport {

namespace {

// The system's handle table (SystemExtendedHandleInformation); Wine answers
// no count through GetProcessHandleCount.
constexpr ULONG kExtendedHandleInformation = 64;

struct HandleEntry {
  PVOID object;
  ULONG_PTR processId;
  ULONG_PTR handle;
  ULONG access;
  USHORT creatorBackTraceIndex;
  USHORT objectTypeIndex;
  ULONG attributes;
  ULONG reserved;
};

struct HandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry entries[1];
};

DWORD CountHandles() {
  DWORD count = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0) return count;
  std::vector<BYTE> buffer(1 << 20);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    const NTSTATUS status = ::NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(kExtendedHandleInformation),
                                                       buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (status < 0) return 0;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const ULONG_PTR self = ::GetCurrentProcessId();
    for (ULONG_PTR i = 0; i < table->count; ++i)
      if (table->entries[i].processId == self) ++count;
    return count;
  }
  return 0;
}

}  // namespace

ProcessCounts CountProcess() {
  ProcessCounts counts;
  counts.handles = CountHandles();
  win32::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++counts.threads;
  return counts;
}

}  // namespace testsupport
