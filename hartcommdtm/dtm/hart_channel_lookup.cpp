#include "dtm/hart_channel_lookup.h"

#include "com/Variant.h"
#include "fdt.h"

com::ComPtr<IHART_Channel> FindHartChannel(IUnknown* dtm) {
  com::ComPtr<IHART_Channel> channel;
  com::ComPtr<IDtmChannel> channels;
  if (!dtm || FAILED(channels.queryFrom(dtm)) || !channels) return channel;
  com::ComPtr<IFdtChannelCollection> collection;
  if (FAILED(channels->GetChannelCollection(collection.put())) || !collection) return channel;
  com::Variant index(LONG{1});
  com::ComPtr<IDispatch> item;
  if (FAILED(collection->get_Item(index.get(), item.put())) || !item) return channel;
  if (FAILED(channel.queryFrom(item.get()))) channel.reset();
  return channel;
}
