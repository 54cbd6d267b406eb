// What the channel and persistence tests share: the test DTM's channel
// reached through the channel container, the test channel's keys, and
// streams as bytes.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "fdt.h"
#include "toolkit.h"

namespace dtmtest {

// Test keys of the test channel (testdoubles/testdtm/test_channel.h).
namespace channel_test_key {
constexpr ULONG kConnections = 1;
constexpr ULONG kHoldSignal = 2;
constexpr ULONG kValue = 3;
constexpr ULONG kLetSignalGo = 4;
constexpr ULONG kFailSave = 5;
}  // namespace channel_test_key

// The channel of that name through IevFdtChannelContainer4 (null when none).
com::ComPtr<IevFdtBaseChannel> ChannelNamed(IUnknown* dtm, const wchar_t* name);
void PostToChannel(IevFdtBaseChannel* channel, ULONG key, ULONG value);
// The calls the test channel recorded, joined by '|'.
std::wstring ChannelLog(IevFdtBaseChannel* channel);
long ChannelValue(IevFdtBaseChannel* channel);
unsigned long ChannelCount(IUnknown* dtm);
// Both pointers belong to one COM object.
bool SameObject(IUnknown* a, IUnknown* b);

std::vector<BYTE> StreamBytes(IStream* stream);
com::ComPtr<IStream> StreamOf(const std::vector<BYTE>& bytes);
// The stream form of a BSTR (4-byte byte count, UTF-16 text, terminator).
std::vector<BYTE> BstrForm(const std::wstring& text);
// Where needle starts in bytes; npos when absent.
size_t Find(const std::vector<BYTE>& bytes, const std::vector<BYTE>& needle);

}  // namespace dtmtest
