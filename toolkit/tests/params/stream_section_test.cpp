// The parameter section of the stream against golden bytes written by hand
// from the section layout; truncated and malformed input.
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <cstring>
#include <vector>

#include "com/ComPtr.h"
#include "param_test_object.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/params/param_rows.h"
#include "toolkit/params/param_stream.h"

namespace {

using Bytes = std::vector<BYTE>;

// count 4; then ids 3, 5, 7, 9 (ascending; id 4 is not persistent):
//   3: empty text, flags 0x31; 5: bytes 0A FF as "0AFF", flags 0x71;
//   7: VT_UI1 3, flags 0x71; 9: VT_R8 1.5, flags 0x171.
const Bytes kGolden = {
    0x03, 0x00, 0x04, 0x00, 0x00, 0x00,                          // VT_I4 4
    0x13, 0x00, 0x03, 0x00, 0x00, 0x00,                          // VT_UI4 3
    0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,              // VT_BSTR ""
    0x13, 0x00, 0x31, 0x00, 0x00, 0x00,                          // flags 0x31
    0x13, 0x00, 0x05, 0x00, 0x00, 0x00,                          // VT_UI4 5
    0x11, 0x20, 0x0A, 0x00, 0x00, 0x00,                          // byte array, 10 bytes
    '0', 0x00, 'A', 0x00, 'F', 0x00, 'F', 0x00, 0x00, 0x00,      // "0AFF"
    0x13, 0x00, 0x71, 0x00, 0x00, 0x00,                          // flags 0x71
    0x13, 0x00, 0x07, 0x00, 0x00, 0x00,                          // VT_UI4 7
    0x11, 0x00, 0x03,                                            // VT_UI1 3
    0x13, 0x00, 0x71, 0x00, 0x00, 0x00,                          // flags 0x71
    0x13, 0x00, 0x09, 0x00, 0x00, 0x00,                          // VT_UI4 9
    0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x3F,  // VT_R8 1.5
    0x13, 0x00, 0x71, 0x01, 0x00, 0x00,                          // flags 0x171
};

// The same for one parameter with limits and extra5 saved: id 7, value 3,
// limits 0..10, default 2, flags 0x71, extra5 VT_I4 5.
const Bytes kGoldenWithOptions = {
    0x03, 0x00, 0x01, 0x00, 0x00, 0x00,  // count 1
    0x13, 0x00, 0x07, 0x00, 0x00, 0x00,  // id 7
    0x11, 0x00, 0x03,                    // value
    0x11, 0x00, 0x00,                    // minimum
    0x11, 0x00, 0x0A,                    // maximum
    0x11, 0x00, 0x02,                    // default
    0x13, 0x00, 0x71, 0x00, 0x00, 0x00,  // flags
    0x03, 0x00, 0x05, 0x00, 0x00, 0x00,  // extra5
};

com::ComPtr<IStream> streamOf(const Bytes& bytes) {
  com::ComPtr<IStream> stream;
  CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  return stream;
}

Bytes contentsOf(IStream* stream) {
  STATSTG stat = {};
  stream->Stat(&stat, STATFLAG_NONAME);
  Bytes bytes(static_cast<size_t>(stat.cbSize.QuadPart));
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  return bytes;
}

ULONGLONG positionOf(IStream* stream) {
  LARGE_INTEGER zero = {};
  ULARGE_INTEGER at = {};
  stream->Seek(zero, STREAM_SEEK_CUR, &at);
  return at.QuadPart;
}

class StreamSectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_HRESULT_SUCCEEDED(com::ComObject<BareParamObject>::create(&handler_));
    ASSERT_HRESULT_SUCCEEDED(handler_->RemoveAllParameters());
    // Declared out of id order; values differ from the golden ones.
    ASSERT_HRESULT_SUCCEEDED(ParamRow::Numeric(7, L"Count", VT_UI1, 0, 10, 2, 1).AddTo(handler_));
    ASSERT_HRESULT_SUCCEEDED(ParamRow::Text(3, L"Tag", L"", L"tag", 0).AddTo(handler_));
    ASSERT_HRESULT_SUCCEEDED(
        ParamRow::Numeric(5, L"Bytes", VT_ARRAY | VT_UI1, 0, 0, 0, 0).AddTo(handler_));
    ASSERT_HRESULT_SUCCEEDED(ParamRow::Numeric(4, L"Busy", VT_I4, 0, 0, 0, 6).Persist(0).AddTo(handler_));
    ASSERT_HRESULT_SUCCEEDED(ParamRow::Numeric(9, L"Ratio", VT_R8, 0, 0, 0, 0.25).AddTo(handler_));
  }
  void TearDown() override {
    handler_->Release();
    CoUninitialize();
  }

  // The golden state, set field by field.
  void setGoldenState() {
    ParInfo tag;
    tag.value = com::Variant(L"");
    tag.flags = 0x31;
    ASSERT_HRESULT_SUCCEEDED(handler_->SetParInfo(3, kParValue | kParFlags, tag));
    ParInfo bytes;
    ASSERT_HRESULT_SUCCEEDED(CFdtVariant::FromHexString(bytes.value.get(), L"0AFF"));
    bytes.flags = 0x71;
    ASSERT_HRESULT_SUCCEEDED(handler_->SetParInfo(5, kParValue | kParFlags, bytes));
    ASSERT_HRESULT_SUCCEEDED(handler_->WriteValue(7, com::Variant(3).value()));
    ParInfo ratio;
    ratio.flags = 0x171;
    ASSERT_HRESULT_SUCCEEDED(handler_->WriteValue(9, com::Variant(L"1.5").value()));
    ASSERT_HRESULT_SUCCEEDED(handler_->SetParInfo(9, kParFlags, ratio));
  }

  Bytes save() {
    com::ComPtr<IStream> stream = streamOf({});
    VARIANT_BOOL done = VARIANT_FALSE;
    EXPECT_EQ(S_OK, handler_->SaveParameters(stream.get(), &done));
    EXPECT_EQ(VARIANT_TRUE, done);
    return contentsOf(stream.get());
  }

  HRESULT load(const Bytes& bytes, ULONGLONG* position = nullptr) {
    com::ComPtr<IStream> stream = streamOf(bytes);
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = handler_->LoadParameters(stream.get(), &done);
    EXPECT_EQ(SUCCEEDED(hr) ? VARIANT_TRUE : VARIANT_FALSE, done);
    if (position) *position = positionOf(stream.get());
    return hr;
  }

  com::ComObject<BareParamObject>* handler_ = nullptr;
};

TEST_F(StreamSectionTest, WritesTheGoldenBytes) {
  setGoldenState();
  EXPECT_EQ(kGolden, save());
}

TEST_F(StreamSectionTest, GoldenBytesLoadAndSaveBackUnchanged) {
  ASSERT_EQ(S_OK, load(kGolden));

  ParInfo record;
  ASSERT_HRESULT_SUCCEEDED(handler_->GetParameter(5, &record));
  ASSERT_EQ(VT_ARRAY | VT_UI1, record.value.type());
  com::Bstr hex;
  ASSERT_HRESULT_SUCCEEDED(CFdtVariant::BytesToHexString(record.value.get(), hex.put()));
  EXPECT_STREQ(L"0AFF", hex.c_str());
  ASSERT_HRESULT_SUCCEEDED(handler_->GetParameter(9, &record));
  EXPECT_EQ(1.5, V_R8(record.value.get()));
  EXPECT_EQ(0x171u, record.flags);  // the stored flags word replaces the state bits
  ASSERT_HRESULT_SUCCEEDED(handler_->GetParameter(3, &record));
  ASSERT_EQ(VT_BSTR, record.value.type());
  EXPECT_EQ(0u, SysStringLen(V_BSTR(record.value.get())));
  // Limits stay as declared; the parameter the stream lacks keeps its value.
  ASSERT_HRESULT_SUCCEEDED(handler_->GetParameter(7, &record));
  EXPECT_EQ(10, V_UI1(record.maxValue.get()));
  ASSERT_HRESULT_SUCCEEDED(handler_->GetParameter(4, &record));
  EXPECT_EQ(6, V_I4(record.value.get()));

  EXPECT_EQ(kGolden, save());
}

TEST_F(StreamSectionTest, OptionsAddLimitsAndExtra5) {
  handler_->ParamOptions().saveLimits = true;
  handler_->ParamOptions().saveExtra5 = true;
  for (ULONG id : {3u, 4u, 5u, 9u}) ASSERT_HRESULT_SUCCEEDED(handler_->RemoveParameter(id));
  ParInfo extra;
  extra.extra5 = com::Variant(5);
  ASSERT_HRESULT_SUCCEEDED(handler_->SetParInfo(7, kParExtra5, extra));
  ASSERT_HRESULT_SUCCEEDED(handler_->WriteValue(7, com::Variant(3).value()));
  EXPECT_EQ(kGoldenWithOptions, save());

  // Loaded back into a handler with other limits, they are replaced.
  ParInfo limits;
  limits.maxValue = com::Variant(99);
  limits.extra5.clear();
  ASSERT_HRESULT_SUCCEEDED(handler_->SetParInfo(7, kParMaxValue | kParExtra5, limits));
  ASSERT_EQ(S_OK, load(kGoldenWithOptions));
  EXPECT_EQ(kGoldenWithOptions, save());
}

TEST_F(StreamSectionTest, NullTextHasByteCountZeroAndBytesTravelAsHex) {
  com::ComPtr<IStream> stream = streamOf({});
  com::Variant null(static_cast<const wchar_t*>(nullptr));
  com::Variant bytes;
  ASSERT_HRESULT_SUCCEEDED(CFdtVariant::FromHexString(bytes.get(), L"00017F"));
  ASSERT_HRESULT_SUCCEEDED(WriteParamValue(stream.get(), null.value()));
  ASSERT_HRESULT_SUCCEEDED(WriteParamValue(stream.get(), bytes.value()));
  const Bytes expected = {0x08, 0x00, 0x00, 0x00, 0x00, 0x00,              // null text
                          0x11, 0x20, 0x0E, 0x00, 0x00, 0x00,              // 14 bytes
                          '0', 0, '0', 0, '0', 0, '1', 0, '7', 0, 'F', 0, 0, 0};
  EXPECT_EQ(expected, contentsOf(stream.get()));

  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  com::Variant read;
  ASSERT_HRESULT_SUCCEEDED(ReadParamValue(stream.get(), read));
  EXPECT_EQ(VT_BSTR, read.type());
  EXPECT_EQ(nullptr, V_BSTR(read.get()));
  ASSERT_HRESULT_SUCCEEDED(ReadParamValue(stream.get(), read));
  EXPECT_TRUE(CFdtVariant::IsEqual(bytes.value(), read.value()));
}

TEST_F(StreamSectionTest, AFailingStreamWriteIsReported) {
  wchar_t folder[MAX_PATH] = {}, file[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  ASSERT_NE(0u, GetTempFileNameW(folder, L"par", 0, file));
  com::ComPtr<IStream> readOnly;
  ASSERT_HRESULT_SUCCEEDED(
      SHCreateStreamOnFileEx(file, STGM_READ | STGM_SHARE_DENY_NONE, 0, FALSE, nullptr, readOnly.put()));
  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_HRESULT_FAILED(handler_->SaveParameters(readOnly.get(), &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  readOnly = nullptr;
  DeleteFileW(file);
}

TEST_F(StreamSectionTest, UnknownIdsAreDropped) {
  Bytes bytes = {0x03, 0x00, 0x02, 0x00, 0x00, 0x00,               // count 2
                 0x13, 0x00, 0x08, 0x00, 0x00, 0x00,               // id 8: not held
                 0x03, 0x00, 0x2A, 0x00, 0x00, 0x00,               // VT_I4 42
                 0x13, 0x00, 0x71, 0x00, 0x00, 0x00,               // flags
                 0x13, 0x00, 0x07, 0x00, 0x00, 0x00,               // id 7
                 0x11, 0x00, 0x09,                                 // VT_UI1 9
                 0x13, 0x00, 0x71, 0x00, 0x00, 0x00};
  ASSERT_EQ(S_OK, load(bytes));
  EXPECT_FALSE(handler_->HasParameter(8));
  com::Variant value;
  ASSERT_HRESULT_SUCCEEDED(handler_->GetValue(7, value.get()));
  EXPECT_EQ(9, V_UI1(value.get()));
}

TEST_F(StreamSectionTest, TruncatedOrMalformedInputChangesNothing) {
  const Bytes before = save();
  // Every proper prefix of a valid section.
  for (size_t length = 0; length < kGolden.size(); ++length) {
    Bytes cut(kGolden.begin(), kGolden.begin() + length);
    ULONGLONG position = 99;
    EXPECT_HRESULT_FAILED(load(cut, &position)) << "length " << length;
    EXPECT_EQ(0u, position) << "length " << length;
  }
  EXPECT_EQ(before, save());

  // A negative count; an odd text byte count; a text byte count far beyond
  // the stream; a byte array whose text is not hexadecimal.
  const Bytes negative = {0x03, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  const Bytes oddText = {0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x13, 0x00, 0x03, 0x00, 0x00, 0x00,
                         0x08, 0x00, 0x03, 0x00, 0x00, 0x00, 'a', 0x00, 0x00,
                         0x13, 0x00, 0x71, 0x00, 0x00, 0x00};
  const Bytes hugeText = {0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x13, 0x00, 0x03, 0x00, 0x00, 0x00,
                          0x08, 0x00, 0xFE, 0xFF, 0xFF, 0x7F, 'a', 0x00, 0x00, 0x00};
  const Bytes badHex = {0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x13, 0x00, 0x05, 0x00, 0x00, 0x00,
                        0x11, 0x20, 0x06, 0x00, 0x00, 0x00, 'Z', 0x00, 'Z', 0x00, 0x00, 0x00,
                        0x13, 0x00, 0x71, 0x00, 0x00, 0x00};
  for (const Bytes* bad : {&negative, &oddText, &hugeText, &badHex})
    EXPECT_HRESULT_FAILED(load(*bad));
  EXPECT_EQ(before, save());

  VARIANT_BOOL done = VARIANT_TRUE;
  EXPECT_EQ(E_INVALIDARG, handler_->LoadParameters(nullptr, &done));
  EXPECT_EQ(VARIANT_FALSE, done);
  EXPECT_EQ(E_INVALIDARG, handler_->SaveParameters(streamOf({}).get(), nullptr));
}

}  // namespace
