// Texts of the binding, the device start, the library's status codes and
// the channel's communication messages, by message id. The module's string
// table holds them; this table is what a module without that table (a test
// program that links the channel) falls back on, and what a reviewer holds
// against the string table. Also the channel's other texts, each with its
// fallback: toolkit messages, device-code names and resource strings.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

namespace hartdtm {

// Built-in text and resource name of a message (null when the id is not in
// the table; the name is null for messages that have none).
const wchar_t* BuiltInMessageText(UINT id);
const wchar_t* BuiltInMessageName(UINT id);

// The string-table text of id from the module that holds this code, else
// the built-in text. E_FAIL when neither has it.
HRESULT LoadMessageText(UINT id, BSTR* text);

// The user message of an id through the owner DTM's translation: by id,
// then by the resource name, then LoadMessageText. E_INVALIDARG without an
// out pointer or with neither a name nor an id; E_FAIL when no text exists.
HRESULT ChannelUserMessage(IUnknown* owner, UINT id, const wchar_t* name, BSTR* text);

// A toolkit message through the owner DTM's translation, else the channel's
// built-in text (only message 5001 has one), else a null text. Always S_OK
// but for a null out pointer (E_POINTER).
HRESULT ChannelToolkitMessage(IUnknown* owner, ULONG id, BSTR* text);
constexpr ULONG kToolkitSetChannelParameters = 5001;

// Readable names of a HART manufacturer code and device type from the
// device-code component outside the system; without it (or where it knows
// no name) "code = <manufacturer>" and "code = 0x<key>", the key being
// manufacturer * 256 + device type in four upper-case hex digits.
// E_INVALIDARG for a null out pointer.
HRESULT BuildDeviceCodes(BYTE manufacturer, BYTE deviceType, BSTR* manufacturerText,
                         BSTR* deviceTypeText);

// A key above 0xFFFF is the address of a zero-terminated 8-bit text (ANSI
// code page), which is copied; a smaller key is a string id (LoadMessageText).
// E_INVALIDARG for key 0 or a null out pointer; E_FAIL for an unknown id.
HRESULT LoadResourceString(ULONG_PTR key, BSTR* text);

}  // namespace hartdtm
