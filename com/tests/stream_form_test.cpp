#include <gtest/gtest.h>

#include <objbase.h>

#include <cstring>
#include <vector>

#include "com/ComPtr.h"
#include "com/StreamForm.h"

namespace {

class StreamFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream_.put()));
  }
  // Every byte written so far.
  std::vector<unsigned char> bytes() {
    STATSTG stat = {};
    stream_->Stat(&stat, STATFLAG_NONAME);
    std::vector<unsigned char> all(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER here = {};
    stream_->Seek(zero, STREAM_SEEK_CUR, &here);
    stream_->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    if (!all.empty()) stream_->Read(all.data(), static_cast<ULONG>(all.size()), &read);
    LARGE_INTEGER back;
    back.QuadPart = static_cast<LONGLONG>(here.QuadPart);
    stream_->Seek(back, STREAM_SEEK_SET, nullptr);
    return all;
  }
  void write(const std::vector<unsigned char>& data) {
    ULONG written = 0;
    ASSERT_EQ(S_OK, stream_->Write(data.data(), static_cast<ULONG>(data.size()), &written));
  }
  void rewind() {
    LARGE_INTEGER zero = {};
    stream_->Seek(zero, STREAM_SEEK_SET, nullptr);
  }
  ULONGLONG position() {
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER here = {};
    stream_->Seek(zero, STREAM_SEEK_CUR, &here);
    return here.QuadPart;
  }
  com::ComPtr<IStream> stream_;
};

TEST_F(StreamFormTest, BstrLayout) {
  ASSERT_EQ(S_OK, com::writeBstr(stream_.get(), nullptr));
  com::Bstr empty(L"");
  ASSERT_EQ(S_OK, com::writeBstr(stream_.get(), empty.get()));
  com::Bstr text(L"0AFF");
  ASSERT_EQ(S_OK, com::writeBstr(stream_.get(), text.get()));
  const std::vector<unsigned char> expected = {
      0, 0, 0, 0,                                  // null
      2, 0, 0, 0, 0, 0,                            // ""
      10, 0, 0, 0, '0', 0, 'A', 0, 'F', 0, 'F', 0, 0, 0};
  EXPECT_EQ(expected, bytes());

  rewind();
  com::Bstr a(L"x"), b, c;
  ASSERT_EQ(S_OK, com::readBstr(stream_.get(), a));
  EXPECT_EQ(nullptr, a.get());
  ASSERT_EQ(S_OK, com::readBstr(stream_.get(), b));
  ASSERT_NE(nullptr, b.get());
  EXPECT_EQ(0u, b.length());
  ASSERT_EQ(S_OK, com::readBstr(stream_.get(), c));
  EXPECT_STREQ(L"0AFF", c.c_str());
}

TEST_F(StreamFormTest, BadBstrIsRefusedAndTheStreamRewound) {
  struct Case {
    std::vector<unsigned char> data;
    HRESULT expected;
  } cases[] = {
      {{1, 0, 0, 0, 0}, E_FAIL},                    // count 1
      {{5, 0, 0, 0, 'a', 0, 0, 0, 0}, E_FAIL},      // odd count
      {{6, 0, 0, 0, 'a', 0, 'b', 0}, E_FAIL},       // short read
      {{4, 0, 0, 0, 'a', 0, 'b', 0}, E_FAIL},       // no terminator
      {{1, 0, 0x10, 0}, E_ACCESSDENIED},            // 1,048,577 bytes
      {{0, 0}, E_FAIL},                             // short count
  };
  for (const Case& c : cases) {
    SetUp();
    write({0xEE});
    write(c.data);
    LARGE_INTEGER one;
    one.QuadPart = 1;
    stream_->Seek(one, STREAM_SEEK_SET, nullptr);
    com::Bstr text(L"kept");
    EXPECT_EQ(c.expected, com::readBstr(stream_.get(), text));
    EXPECT_EQ(1u, position());
    EXPECT_STREQ(L"kept", text.c_str());
  }
  // The limit itself is allowed.
  SetUp();
  std::vector<unsigned char> big(4 + 1048576, 'a');
  big[0] = 0; big[1] = 0; big[2] = 0x10; big[3] = 0;
  big[big.size() - 1] = 0;
  big[big.size() - 2] = 0;
  write(big);
  rewind();
  com::Bstr text;
  ASSERT_EQ(S_OK, com::readBstr(stream_.get(), text));
  EXPECT_EQ(1048576u / 2 - 1, text.length());
}

TEST_F(StreamFormTest, VariantLayoutsAndRoundTrips) {
  VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = VT_UI1;
  V_UI1(&v) = 7;
  ASSERT_EQ(S_OK, com::writeVariant(stream_.get(), v));
  V_VT(&v) = VT_I4;
  V_I4(&v) = -2;
  ASSERT_EQ(S_OK, com::writeVariant(stream_.get(), v));
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = VARIANT_TRUE;
  ASSERT_EQ(S_OK, com::writeVariant(stream_.get(), v));
  const std::vector<unsigned char> expected = {
      VT_UI1, 0, 7, VT_I4, 0, 0xFE, 0xFF, 0xFF, 0xFF, VT_BOOL, 0, 0xFF, 0xFF};
  EXPECT_EQ(expected, bytes());

  V_VT(&v) = VT_R8;
  V_R8(&v) = 2.5;
  ASSERT_EQ(S_OK, com::writeVariant(stream_.get(), v));
  com::Variant empty, text(L"abc");
  V_VT(empty.get()) = VT_NULL;
  ASSERT_EQ(S_OK, com::writeVariant(stream_.get(), empty.value()));
  ASSERT_EQ(S_OK, com::writeVariant(stream_.get(), text.value()));
  // A type without a fixed form travels as text.
  com::Variant decimal(L"12.25");
  ASSERT_EQ(S_OK, decimal.changeType(VT_DECIMAL));
  ASSERT_EQ(S_OK, com::writeVariant(stream_.get(), decimal.value()));
  // A reference is written as its value.
  LONG target = 99;
  VARIANT ref;
  ::VariantInit(&ref);
  V_VT(&ref) = VT_I4 | VT_BYREF;
  V_I4REF(&ref) = &target;
  ASSERT_EQ(S_OK, com::writeVariant(stream_.get(), ref));

  rewind();
  com::Variant r;
  ASSERT_EQ(S_OK, com::readVariant(stream_.get(), r));
  EXPECT_EQ(VT_UI1, r.type());
  EXPECT_EQ(7, V_UI1(r.get()));
  ASSERT_EQ(S_OK, com::readVariant(stream_.get(), r));
  EXPECT_EQ(-2, V_I4(r.get()));
  ASSERT_EQ(S_OK, com::readVariant(stream_.get(), r));
  EXPECT_EQ(VARIANT_TRUE, V_BOOL(r.get()));
  ASSERT_EQ(S_OK, com::readVariant(stream_.get(), r));
  EXPECT_EQ(2.5, V_R8(r.get()));
  ASSERT_EQ(S_OK, com::readVariant(stream_.get(), r));
  EXPECT_EQ(VT_NULL, r.type());
  ASSERT_EQ(S_OK, com::readVariant(stream_.get(), r));
  EXPECT_STREQ(L"abc", V_BSTR(r.get()));
  ASSERT_EQ(S_OK, com::readVariant(stream_.get(), r));
  ASSERT_EQ(VT_DECIMAL, r.type());
  EXPECT_EQ(VARCMP_EQ, ::VarCmp(r.get(), decimal.get(), LOCALE_USER_DEFAULT, 0));
  ASSERT_EQ(S_OK, com::readVariant(stream_.get(), r));
  EXPECT_EQ(VT_I4, r.type());
  EXPECT_EQ(99, V_I4(r.get()));
}

TEST_F(StreamFormTest, BadVariantIsRefusedAndTheStreamRewound) {
  write({VT_I4, 0, 1, 2});  // two of four value bytes
  rewind();
  com::Variant value(5);
  EXPECT_EQ(E_FAIL, com::readVariant(stream_.get(), value));
  EXPECT_EQ(0u, position());
  EXPECT_EQ(5, V_I4(value.get()));

  // Text that does not convert to the stored type.
  SetUp();
  com::Variant text(L"not a number");
  ASSERT_EQ(S_OK, com::writeVariant(stream_.get(), text.value()));
  std::vector<unsigned char> data = bytes();
  data[0] = VT_DECIMAL;  // the text form of a decimal
  SetUp();
  write(data);
  rewind();
  EXPECT_TRUE(FAILED(com::readVariant(stream_.get(), value)));
  EXPECT_EQ(0u, position());
  EXPECT_EQ(VT_I4, value.type());

  EXPECT_EQ(E_POINTER, com::readVariant(nullptr, value));
  EXPECT_EQ(E_POINTER, com::writeVariant(nullptr, value.value()));
}

TEST_F(StreamFormTest, EmptyPropertyMapIsItsVersion) {
  ASSERT_EQ(S_OK, com::writeEmptyPropertyMap(stream_.get()));
  EXPECT_EQ((std::vector<unsigned char>{0x00, 0x0C, 0, 0}), bytes());
  write({0x01, 0x0C, 0, 0});  // a newer format
  write({0x00, 0x0A});        // cut short
  rewind();
  EXPECT_EQ(S_OK, com::readEmptyPropertyMap(stream_.get()));
  EXPECT_EQ(E_FAIL, com::readEmptyPropertyMap(stream_.get()));
  EXPECT_EQ(4u, position());
  LARGE_INTEGER last;
  last.QuadPart = 8;
  stream_->Seek(last, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(E_FAIL, com::readEmptyPropertyMap(stream_.get()));
}

}  // namespace
