// What the DTM's controls share in their description on the control base:
// the footer bar stands in one item, the function id is read from the DTM's
// function-call document (root element FDT), every parameter row is asked
// for its tool tip, and missing schemas are named the toolkit's way.
#pragma once

#include <windows.h>

#include "controls/control_resources.h"
#include "toolkit/controls/control_base.h"

inline constexpr UINT kHartFooterItems[] = {IDC_FOOTER_BAR, 0};

constexpr ControlDescription HartControlDescription(const CLSID* classId, UINT dialogId,
                                                    const ParameterMapRow* parameterMap,
                                                    const ItemName* itemNames) {
  return {classId, dialogId, parameterMap, itemNames, kHartFooterItems, 0,
          L"FDT/FDTFunctionCall/@func:functionId", false, nullptr, control_item::kCancel};
}
