#include "dtm/hart_channel_access.h"

#include "com/Variant.h"

HRESULT FirstHartChannel(IDtmChannel* channels, com::ComPtr<IHART_Channel>* channel) {
  if (!channel) return E_POINTER;
  channel->reset();
  com::ComPtr<IFdtChannelCollection> collection;
  if (!channels || FAILED(channels->GetChannelCollection(collection.put())) || !collection) return E_POINTER;
  com::Variant index(LONG{1});
  com::ComPtr<IDispatch> item;
  if (FAILED(collection->get_Item(index.get(), item.put())) || !item) return E_POINTER;
  if (FAILED(channel->queryFrom(item.get())) || !*channel) {
    channel->reset();
    return E_POINTER;
  }
  return S_OK;
}
