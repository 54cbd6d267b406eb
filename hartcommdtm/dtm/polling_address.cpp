#include "dtm/polling_address.h"

namespace hart_address {

bool Parse(const std::wstring& text, uint8_t* address) {
  if (text.empty() || text.size() > 2) return false;
  unsigned value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  if (value > kHighest) return false;
  *address = static_cast<uint8_t>(value);
  return true;
}

}  // namespace hart_address
