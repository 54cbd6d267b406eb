// Documents a frame application hands a DTM, as the DTM tests of several
// folders need them.
#pragma once

#include <string>

namespace testsupport {

// FDTUserInformation with the user level ("maintenance", "operator", ...).
std::wstring UserInformation(const wchar_t* level);
// DTMInit's FrameVersion of a frame of that FDT version.
std::wstring FrameVersion(int major, int minor, int release);
// The function-call document that names one function of a DTM.
std::wstring FunctionCall(long functionId);

}  // namespace testsupport
