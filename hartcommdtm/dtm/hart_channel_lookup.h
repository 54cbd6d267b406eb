// How the DTM and its controls reach its HART channel: through the DTM
// object's channel collection (IDtmChannel), whose item 1 is the one HART
// channel.
// The DTM hands the collection out only in its states 7 to 12, so there is
// no channel in any other state.
#pragma once

#include <windows.h>

#include "com/ComPtr.h"
#include "hartcommdtm.h"

// The channel of the DTM object dtm; null when any step fails.
com::ComPtr<IHART_Channel> FindHartChannel(IUnknown* dtm);
