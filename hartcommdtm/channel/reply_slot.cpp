#include "channel/reply_slot.h"

#include <cstring>

#include "hart/frame.h"

namespace hartdtm {

void ReplySlot::Expect(const uint8_t* request, size_t length, ULONGLONG now, ULONGLONG lateLimitMs) {
  win32::CsLock hold(lock_);
  if (!request_.empty() && !replied_) {
    if (owed_.size() == kMaxOwed) owed_.pop_front();
    owed_.push_back(Owed{std::move(request_), now + lateLimitMs});
  }
  request_.assign(request, request + length);
  replied_ = false;
  kept_ = Kept::Nothing;
  answer_.clear();
}

void ReplySlot::Withdraw() {
  win32::CsLock hold(lock_);
  request_.clear();
  replied_ = false;
  kept_ = Kept::Nothing;
  answer_.clear();
}

ReplySlot::Kept ReplySlot::Offer(uint8_t kind, const uint8_t* bytes, size_t length, ULONGLONG now) {
  win32::CsLock hold(lock_);
  while (!owed_.empty() && owed_.front().until < now) owed_.pop_front();
  const bool waiting = !request_.empty() && !replied_;

  if (kind == kAnswerKind) {
    // The request on the line first: a late answer to an earlier request
    // with the same address and command cannot be told from it.
    if (waiting && hart::IsAnswerTo(request_.data(), request_.size(), bytes, length)) {
      answer_.assign(bytes, bytes + length);
      replied_ = true;
      kept_ = Kept::Answer;
      return kept_;
    }
    for (auto it = owed_.begin(); it != owed_.end(); ++it) {
      if (hart::IsAnswerTo(it->request.data(), it->request.size(), bytes, length)) {
        owed_.erase(it);
        break;
      }
    }
    return Kept::Nothing;
  }

  // A status byte or a failed receive names no request: the adapter reports
  // its requests in order, so it belongs to the oldest one still owed.
  if (!owed_.empty()) {
    owed_.pop_front();
    return Kept::Nothing;
  }
  if (!waiting) return Kept::Nothing;
  replied_ = true;
  kept_ = kind == kStatusKind ? Kept::StatusByte : Kept::Failure;
  return kept_;
}

ReplySlot::Kept ReplySlot::Take(uint8_t* length, uint8_t* buffer) {
  win32::CsLock hold(lock_);
  const Kept kept = kept_;
  kept_ = Kept::Nothing;
  if (kept != Kept::Answer) {
    if (kept != Kept::Nothing) *length = 0;
    return kept;
  }
  // An answer larger than the caller's buffer is no answer: a cut frame
  // would be read as a whole one with other data.
  if (answer_.size() > *length) {
    *length = 0;
    answer_.clear();
    return Kept::Failure;
  }
  std::memcpy(buffer, answer_.data(), answer_.size());
  *length = static_cast<uint8_t>(answer_.size());
  answer_.clear();
  return kept;
}

}  // namespace hartdtm
