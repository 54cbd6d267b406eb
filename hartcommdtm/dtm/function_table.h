// The DTM's function table: its eight functions, each opening one control,
// in the order the frame shows them. Functions 11, 12, 8, 9 and 10 are
// hidden from the frame's menus and opened on the DTM's or a control's
// request.
#pragma once

#include "fdtidl/ToolkitHooks.h"

// The first row of the table (built on first use, ended by a row of kind 0).
const FunctionTableRow* InitActiveXTable();

// The controls' class ids are those of the type libraries (hartcommdtm.h,
// scanrangectl.h).
