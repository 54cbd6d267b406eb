// Texts of the binding, the device start, the library's status codes and
// the channel's communication messages, by message id. The module's string
// table holds them; this table is what a module without that table (a test
// program that links the channel) falls back on, and what a reviewer holds
// against the string table.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace hartdtm {

// Built-in text and resource name of a message (null when the id is not in
// the table; the name is null for messages that have none).
const wchar_t* BuiltInMessageText(UINT id);
const wchar_t* BuiltInMessageName(UINT id);

// The string-table text of id from the module that holds this code, else
// the built-in text. E_FAIL when neither has it.
HRESULT LoadMessageText(UINT id, BSTR* text);

}  // namespace hartdtm
