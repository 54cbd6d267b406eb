// The DTM's HART channel as its controls and the DTM itself reach it: item 1
// (VT_I4) of the channel collection that IDtmChannel hands out (DTM states 7
// to 12), asked for IHART_Channel.
#pragma once

#include <windows.h>

#include "com/ComPtr.h"
#include "fdt.h"
#include "hartcommdtm.h"

// E_POINTER when there is no IDtmChannel, no collection, no item 1 or the
// item is no HART channel; *channel is then null.
HRESULT FirstHartChannel(IDtmChannel* channels, com::ComPtr<IHART_Channel>* channel);
