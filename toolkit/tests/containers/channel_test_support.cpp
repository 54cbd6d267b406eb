#include "channel_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "com/Bstr.h"
#include "com/Variant.h"

namespace dtmtest {

com::ComPtr<IevFdtBaseChannel> ChannelNamed(IUnknown* dtm, const wchar_t* name) {
  com::ComPtr<IevFdtChannelContainer4> container;
  com::ComPtr<IevFdtBaseChannel> channel;
  if (FAILED(dtm->QueryInterface(__uuidof(IevFdtChannelContainer4), container.putVoid())))
    return channel;
  com::ComPtr<IUnknown> object;
  if (FAILED(container->GetChannelByKey(*com::Variant(name).get(), object.put())) || !object)
    return channel;
  object->QueryInterface(__uuidof(IevFdtBaseChannel), channel.putVoid());
  return channel;
}

void PostToChannel(IevFdtBaseChannel* channel, ULONG key, ULONG value) {
  ASSERT_EQ(S_OK, channel->PostChannelEvent(*com::ui4(key).get(), *com::ui4(value).get()));
}

std::wstring ChannelLog(IevFdtBaseChannel* channel) {
  com::Variant log;
  if (FAILED(channel->GetChannelId(log.get())) || log.type() != VT_BSTR) return L"?";
  return V_BSTR(log.get()) ? V_BSTR(log.get()) : L"";
}

long ChannelValue(IevFdtBaseChannel* channel) {
  long value = -1;
  EXPECT_EQ(S_OK, channel->GetChannelValue(&value));
  return value;
}

unsigned long ChannelCount(IUnknown* dtm) {
  com::ComPtr<IDtmChannel> channels;
  unsigned long count = 0xFFFFFFFF;
  if (SUCCEEDED(dtm->QueryInterface(__uuidof(IDtmChannel), channels.putVoid())))
    channels->GetChannelCount(&count);
  return count;
}

bool SameObject(IUnknown* a, IUnknown* b) {
  com::ComPtr<IUnknown> first, second;
  if (!a || !b || FAILED(a->QueryInterface(IID_IUnknown, first.putVoid())) ||
      FAILED(b->QueryInterface(IID_IUnknown, second.putVoid())))
    return false;
  return first.get() == second.get();
}

std::vector<BYTE> StreamBytes(IStream* stream) {
  std::vector<BYTE> bytes;
  STATSTG stat = {};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return bytes;
  bytes.resize(static_cast<size_t>(stat.cbSize.QuadPart));
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  bytes.resize(read);
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  return bytes;
}

com::ComPtr<IStream> StreamOf(const std::vector<BYTE>& bytes) {
  com::ComPtr<IStream> stream;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()))) return stream;
  ULONG written = 0;
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  return stream;
}

std::vector<BYTE> BstrForm(const std::wstring& text) {
  const DWORD count = static_cast<DWORD>((text.size() + 1) * 2);
  std::vector<BYTE> out = {BYTE(count), BYTE(count >> 8), BYTE(count >> 16), BYTE(count >> 24)};
  for (wchar_t c : text) {
    out.push_back(BYTE(c));
    out.push_back(BYTE(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

size_t Find(const std::vector<BYTE>& bytes, const std::vector<BYTE>& needle) {
  auto at = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
  return at == bytes.end() ? std::wstring::npos : static_cast<size_t>(at - bytes.begin());
}

}  // namespace dtmtest
