#include "modem/adapter_claim.h"

#include <bitset>

#include "win32/unique_handle.h"

namespace {

win32::CriticalSection& ClaimLock() {
  static win32::CriticalSection lock;
  return lock;
}

std::bitset<256>& Claimed() {
  static std::bitset<256> claimed;
  return claimed;
}

}  // namespace

bool AdapterClaim::Take(uint8_t deviceNumber) {
  if (number_ == deviceNumber) return true;
  Release();
  win32::CsLock hold(ClaimLock());
  if (Claimed().test(deviceNumber)) return false;
  Claimed().set(deviceNumber);
  number_ = deviceNumber;
  return true;
}

void AdapterClaim::Release() {
  if (number_ < 0) return;
  win32::CsLock hold(ClaimLock());
  Claimed().reset(static_cast<size_t>(number_));
  number_ = -1;
}
