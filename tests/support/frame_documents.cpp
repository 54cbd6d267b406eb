#include "frame_documents.h"

namespace testsupport {

std::wstring UserInformation(const wchar_t* level) {
  return std::wstring(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTUserInformationSchema.xml\">"
                      L"<FDTUserInformation userLevel=\"") +
         level + L"\" /></FDT>";
}

std::wstring FrameVersion(int major, int minor, int release) {
  return L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMInitSchema.xml\" "
         L"xmlns:fdtvers=\"x-schema:FDTDataTypesSchema.xml\"><FrameVersion><fdtvers:FDTVersion "
         L"major=\"" + std::to_wstring(major) + L"\" minor=\"" + std::to_wstring(minor) +
         L"\" release=\"" + std::to_wstring(release) + L"\" /></FrameVersion></FDT>";
}

std::wstring FunctionCall(long functionId) {
  return L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMFunctionCallSchema.xml\" "
         L"xmlns:func=\"x-schema:DTMFunctionCallSchema.xml\"><FDTFunctionCall func:functionId=\"" +
         std::to_wstring(functionId) + L"\"/></FDT>";
}

}  // namespace testsupport
