// The DTM's channel collection: named channel objects in the order of
// adding. The channel container uses its IFdtObjectCollection face (add, get
// and remove by name, an enumerator of VT_DISPATCH items); the frame gets
// its IFdtChannelCollection face (Item by 1-based index or by name, Count,
// _NewEnum). It is created inside the module (CreateChannelCollection), never
// through a registered class.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "outside.h"
#include "fdt.h"

HRESULT CreateChannelCollection(IFdtObjectCollection** collection);
