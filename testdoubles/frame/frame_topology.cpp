#include "frame_topology.h"

namespace frame_double {

std::wstring DtmChildListDocument(const std::vector<std::wstring>& systemTags) {
  std::wstring doc =
      L"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMSystemTagListSchema.xml\" "
      L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><DtmChildList><DtmSystemTagList>";
  for (const std::wstring& tag : systemTags) doc += L"<DtmSystemTag systemTag=\"" + tag + L"\"/>";
  doc += L"</DtmSystemTagList></DtmChildList></FDT>";
  return doc;
}

}  // namespace frame_double
