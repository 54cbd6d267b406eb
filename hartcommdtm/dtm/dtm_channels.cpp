// The DTM's channel table: the one HART channel, created by the toolkit's
// channel container for a new data set and for a loaded one.
#include "dtm/hart_comm_dtm.h"

namespace {

const ChannelTableRow kChannels[] = {
    {"FSK Mavix - HART Channel", &CLSID_HART_Channel, {0, 0}, "<fdt:ChannelInformation/>"},
};

}  // namespace

const ChannelTableRow* CHART_CommDTM::GetChannelTable(size_t* count) {
  if (count) *count = 1;
  return kChannels;
}
