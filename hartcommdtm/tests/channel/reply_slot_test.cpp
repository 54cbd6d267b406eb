// The reply the worker waits for: only a reply to the request on the line is
// kept, whatever else the adapter hands over meanwhile and in whatever
// order.
#include <gtest/gtest.h>

#include <vector>

#include "channel/reply_slot.h"
#include "hart/frame.h"

namespace {

using hartdtm::ReplySlot;
using Kept = ReplySlot::Kept;
using Bytes = std::vector<uint8_t>;

constexpr ULONGLONG kLate = 10000;  // how long an unanswered request stays owed
constexpr uint8_t kOtherKind = 0x10;

const hart::LongAddress kDevice = hart::MakeLongAddress(0x26, 0x06, 0x03ABCD);

Bytes Request(uint8_t command, const hart::LongAddress& address = kDevice) {
  return hart::BuildLongRequest(address, true, command, nullptr, 0);
}

Bytes Answer(uint8_t command, std::vector<uint8_t> data, const hart::LongAddress& address = kDevice) {
  return hart::BuildLongAnswer(address, true, command, data);
}

class ReplySlotTest : public ::testing::Test {
 protected:
  void Expect(const Bytes& request, ULONGLONG now = 0) { slot.Expect(request.data(), request.size(), now, kLate); }
  Kept Offer(uint8_t kind, const Bytes& bytes, ULONGLONG now = 0) {
    return slot.Offer(kind, bytes.data(), bytes.size(), now);
  }
  Kept OfferAnswer(const Bytes& bytes, ULONGLONG now = 0) { return Offer(ReplySlot::kAnswerKind, bytes, now); }
  Kept OfferStatus(ULONGLONG now = 0) { return Offer(ReplySlot::kStatusKind, Bytes{0x01}, now); }
  // What Take answers, with the bytes it copied.
  Kept Take(Bytes* out = nullptr) {
    Bytes buffer(255, 0);
    uint8_t length = 255;
    const Kept kept = slot.Take(&length, buffer.data());
    buffer.resize(length);
    if (out) *out = buffer;
    return kept;
  }

  ReplySlot slot;
};

// A frame from another device, an answer to another command, a burst-like
// frame and a short-frame answer whose bytes repeat the long request's
// header arrive around the real answer; none replaces it, none wakes the
// worker.
TEST_F(ReplySlotTest, OnlyTheAnswerToTheRequestOnTheLineIsKept) {
  const Bytes answer = Answer(3, {0x11, 0x22});
  Expect(Request(3));
  EXPECT_EQ(Kept::Nothing, OfferAnswer(Answer(3, {0x99}, hart::MakeLongAddress(0x26, 0x06, 0x000001))));
  EXPECT_EQ(Kept::Nothing, OfferAnswer(Answer(13, {0x99})));
  // Short answer from polling address 38 to command 6, three data bytes:
  // 06 A6 06 03 AB CD 03, byte for byte the request's 82 A6 06 03 AB CD 03.
  const Bytes shortAnswer = {0x06, 0xA6, 0x06, 0x03, 0xAB, 0xCD, 0x03, 0xC0};
  EXPECT_EQ(Kept::Nothing, OfferAnswer(shortAnswer));
  EXPECT_EQ(Kept::Answer, OfferAnswer(answer));
  // Behind the answer, before the worker took it.
  EXPECT_EQ(Kept::Nothing, OfferAnswer(Answer(3, {0x99}, hart::MakeLongAddress(0x26, 0x06, 0x000001))));
  EXPECT_EQ(Kept::Nothing, OfferAnswer(Answer(3, {0x77})));  // a repeat of the answer
  EXPECT_EQ(Kept::Nothing, OfferStatus());
  EXPECT_EQ(Kept::Nothing, Offer(kOtherKind, {}));

  Bytes taken;
  EXPECT_EQ(Kept::Answer, Take(&taken));
  EXPECT_EQ(answer, taken);
  EXPECT_EQ(Kept::Nothing, Take());  // once
}

TEST_F(ReplySlotTest, AStatusByteOrAFailedReceiveEndsOnlyTheRequestOnTheLine) {
  // Nothing on the line: dropped.
  EXPECT_EQ(Kept::Nothing, OfferStatus());
  Expect(Request(1));
  EXPECT_EQ(Kept::StatusByte, OfferStatus());
  Bytes taken{0xFF};
  EXPECT_EQ(Kept::StatusByte, Take(&taken));
  EXPECT_TRUE(taken.empty());
  Expect(Request(2));
  EXPECT_EQ(Kept::Failure, Offer(kOtherKind, {}));
  EXPECT_EQ(Kept::Nothing, OfferAnswer(Answer(2, {})));  // too late: the request has its reply
  EXPECT_EQ(Kept::Failure, Take());
}

// A request whose wait ended without a reply stays owed: its late status
// byte, or its late answer, is its own and does not end the next request's
// wait; once it is too old, a status byte is the next request's again.
TEST_F(ReplySlotTest, LateRepliesOfEarlierRequestsAreTheirOwn) {
  Expect(Request(1), 0);
  Expect(Request(2), 100);  // 1 got no reply
  EXPECT_EQ(Kept::Nothing, OfferStatus(200));
  EXPECT_EQ(Kept::Answer, OfferAnswer(Answer(2, {0x05}), 300));
  EXPECT_EQ(Kept::Answer, Take());

  Expect(Request(3), 400);
  Expect(Request(4), 500);  // 3 got no reply
  EXPECT_EQ(Kept::Nothing, OfferAnswer(Answer(3, {}), 600));  // 3's, late
  EXPECT_EQ(Kept::StatusByte, OfferStatus(700));              // so this is 4's
  EXPECT_EQ(Kept::StatusByte, Take());

  Expect(Request(5), 800);
  Expect(Request(6), 900);  // 5 owed until 900 + kLate
  EXPECT_EQ(Kept::StatusByte, OfferStatus(900 + kLate + 1));
}

// Take reports exactly the bytes it copied. An answer the buffer cannot
// hold, also one longer than a length byte can tell, is no answer at all,
// never the front part of one.
TEST_F(ReplySlotTest, AnAnswerIsTakenWholeOrNotAtAll) {
  const Bytes answer = Answer(3, {0x11, 0x22, 0x33});
  Expect(Request(3));
  ASSERT_EQ(Kept::Answer, OfferAnswer(answer));
  Bytes exact(answer.size(), 0);
  uint8_t length = static_cast<uint8_t>(answer.size());
  EXPECT_EQ(Kept::Answer, slot.Take(&length, exact.data()));
  EXPECT_EQ(answer.size(), length);
  EXPECT_EQ(answer, exact);

  Expect(Request(3));
  ASSERT_EQ(Kept::Answer, OfferAnswer(answer));
  Bytes small(answer.size() - 1, 0xEE);
  length = static_cast<uint8_t>(small.size());
  EXPECT_EQ(Kept::Failure, slot.Take(&length, small.data()));
  EXPECT_EQ(0u, length);
  EXPECT_EQ(Kept::Nothing, Take());  // taken once, as a failure

  // 300 bytes: its length modulo 256 would look like a short whole frame.
  Bytes huge = Answer(3, {0x11});
  huge.resize(300, 0x5A);
  Expect(Request(3));
  ASSERT_EQ(Kept::Answer, OfferAnswer(huge));
  Bytes taken{0xFF};
  EXPECT_EQ(Kept::Failure, Take(&taken));
  EXPECT_TRUE(taken.empty());
}

TEST_F(ReplySlotTest, ARequestThatNeverWentOutIsNotOwed) {
  Expect(Request(1));
  slot.Withdraw();
  EXPECT_EQ(Kept::Nothing, OfferStatus());
  Expect(Request(2));
  EXPECT_EQ(Kept::StatusByte, OfferStatus());
}

}  // namespace
