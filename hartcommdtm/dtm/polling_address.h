// Polling addresses (and child DTM addresses) as the user or a document
// writes them: 0 to 63 in one or two decimal digits. Shared by the channel's
// address assignment and the address controls, so that an empty, signed,
// non-numeric or overlong text never turns into address 0.
#pragma once

#include <cstdint>
#include <string>

namespace hart_address {

constexpr uint8_t kHighest = 63;

// The address a text names; false for anything but 0 to 63 in one or two
// decimal digits (no sign, no blanks).
bool Parse(const std::wstring& text, uint8_t* address);

}  // namespace hart_address
