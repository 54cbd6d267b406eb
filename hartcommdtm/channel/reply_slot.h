// The reply the channel's worker waits for, shared with the library's
// receive callback.
//
// The worker sends one request at a time and waits for its reply: the
// answer frame of the device, or the adapter's status byte or failed
// receive that says no answer came. The callback offers every entry it
// receives; only a reply to the request on the line is kept, so that a
// frame from someone else, or a late reply of an earlier request, can
// neither overwrite the kept answer before the worker takes it nor end the
// wait. A request whose wait ended without its reply may still get it
// later: it stays owed for a while, and the next reply without an address
// (a status byte, a failed receive) is counted as its own, as is a late
// answer frame to it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "win32/unique_handle.h"

namespace hartdtm {

class ReplySlot {
 public:
  enum class Kept {
    Nothing,     // not for the request on the line: dropped
    Answer,      // its answer frame
    StatusByte,  // the adapter's status byte alone: no answer
    Failure,     // a receive of another kind, or an answer too long to take: no answer
  };

  // Receive-reply kinds of the library.
  static constexpr uint8_t kAnswerKind = 0x40;
  static constexpr uint8_t kStatusKind = 0xC0;

  // Worker, before it sends `request` (delimiter to checksum): the request
  // on the line from now on. The one before, when it got no reply, stays
  // owed for lateLimitMs from now.
  void Expect(const uint8_t* request, size_t length, ULONGLONG now, ULONGLONG lateLimitMs);
  // Worker: the request of the last Expect never went on the line (its
  // send failed); nothing is owed for it.
  void Withdraw();
  // Receive callback: one received entry (burst frames are not offered).
  Kept Offer(uint8_t kind, const uint8_t* bytes, size_t length, ULONGLONG now);
  // Worker: the reply kept for the request on the line, once (Nothing when
  // none is kept). An answer is copied whole into buffer, which holds
  // *length bytes, and *length is set to its length; an answer that does
  // not fit is taken as a failed receive (Failure). Otherwise *length is 0.
  Kept Take(uint8_t* length, uint8_t* buffer);

 private:
  struct Owed {
    std::vector<uint8_t> request;
    ULONGLONG until = 0;
  };
  static constexpr size_t kMaxOwed = 8;

  win32::CriticalSection lock_;
  std::vector<uint8_t> request_;  // empty: nothing on the line
  bool replied_ = false;          // its reply came (kept, or taken)
  Kept kept_ = Kept::Nothing;     // the reply not yet taken
  std::vector<uint8_t> answer_;
  std::deque<Owed> owed_;         // oldest first
};

}  // namespace hartdtm
