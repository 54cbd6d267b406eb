// Compiles every generated header and the C++ hooks together, on each
// architecture, so that a clash between them shows in every build.
#include <windows.h>

#include "fdt.h"
#include "fdtidl/ToolkitHooks.h"
#include "fdtlib.h"
#include "hartcommdtm.h"
#include "outside.h"
#include "scanrangectl.h"
#include "toolkit.h"
#include "toolkitlib.h"

// Pointer-holding table fields must follow the pointer size.
static_assert(sizeof(FunctionTableRow::action) == sizeof(void*), "pointer-sized action");
static_assert(sizeof(ChannelTableRow::reserved[0]) == sizeof(void*), "pointer-sized words");
