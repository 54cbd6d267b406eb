// What the address controls tell the user about an address change through
// IHART_Channel::ChangeAddress: one text (string id and translation key)
// for every result, compared by value.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace address_change {

// Results of ChangeAddress; kNoChannel is the controls' own.
constexpr HRESULT kTargetExists = static_cast<HRESULT>(0xD0120001);
constexpr HRESULT kNoSource = static_cast<HRESULT>(0xD0120002);
constexpr HRESULT kFailed = static_cast<HRESULT>(0xD0120003);
constexpr HRESULT kNotAtNewAddress = static_cast<HRESULT>(0xD0120004);
constexpr HRESULT kDeviceInUse = static_cast<HRESULT>(0xD0120005);
constexpr HRESULT kNoChannel = static_cast<HRESULT>(0xD0120006);

struct Text {
  int id;
  const wchar_t* key;
};

// The text of a result; every value without a text of its own (0xD0120003,
// E_INVALIDARG, any positive value) has "FAILED".
Text Outcome(HRESULT result);

// Whether the device may have taken the new address although the channel
// still lists it at the old one: these results can come after the device
// was sent its new address (no answer at the new address, or an answer
// that does not match). The user is then told to scan the bus again.
bool DeviceMayHaveMoved(HRESULT result);
// The text that says so.
Text ScanAgain();

// What the user reads about a failed or successful change: the outcome's
// text, and where the device may have moved the scan-again text on a line
// of its own. lookup gives the text of an id and key (the control's user
// messages); a text it cannot find is left out.
std::wstring Describe(HRESULT result, const std::function<std::wstring(const Text&)>& lookup);

}  // namespace address_change
