// Documents of the frame's topology that a test hands to NoticeFrame
// (setChildNodes): the DtmChildList of a channel.
#pragma once

#include <string>
#include <vector>

namespace frame_double {

// A DtmChildList document listing the system tags in order (texts placed as
// given, so a test can also hand out a list with unusual tags).
std::wstring DtmChildListDocument(const std::vector<std::wstring>& systemTags);

}  // namespace frame_double
