// Malformed, truncated, oversized and random pipe requests for robustness
// tests. Every message produced is one the service must not execute.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "shared/service_pipe.h"

namespace pnpsvc_test {

// Whether the service would execute the message (as its parser and its key
// check see it), for a message of at most the read limit.
inline bool WouldExecute(const std::vector<uint8_t>& m) {
  if (m.size() > shared::kServicePipeReadLimit) return false;
  shared::ServicePipeRequest r;
  if (!shared::ParseServicePipeRequest(m.data(), m.size(), &r)) return false;
  return r.command == shared::PipeCommand::Renumerate || (!r.key.empty() && r.key.find('\\') == std::string::npos);
}

class PipeFuzzer {
 public:
  explicit PipeFuzzer(uint32_t seed) : rng_(seed) {}

  // The next bad message: mutations of valid requests and random bytes.
  std::vector<uint8_t> Next() {
    for (;;) {
      std::vector<uint8_t> m = Candidate();
      if (!WouldExecute(m)) return m;
    }
  }

 private:
  uint32_t Pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }

  std::vector<uint8_t> Valid() {
    switch (Pick(4)) {
      case 0: return shared::BuildCreateKeyRequest(std::to_string(Pick(300)));
      case 1: return shared::BuildDeleteKeyRequest(std::to_string(Pick(300)));
      case 2: return shared::BuildSetDwordRequest(std::to_string(Pick(300)), "USB-Id", Pick(0x10000));
      default: return shared::BuildRenumerateRequest();
    }
  }

  std::vector<uint8_t> Candidate() {
    std::vector<uint8_t> m = Valid();
    switch (Pick(9)) {
      case 0:  // truncated
        m.resize(Pick(static_cast<uint32_t>(m.size())));
        break;
      case 1:  // one byte too many or more
        m.resize(m.size() + 1 + Pick(8), static_cast<uint8_t>(Pick(256)));
        break;
      case 2:  // oversized: beyond the read limit
        m.resize(181 + Pick(400), static_cast<uint8_t>(Pick(256)));
        break;
      case 3:  // flipped byte anywhere
        if (!m.empty()) m[Pick(static_cast<uint32_t>(m.size()))] ^= static_cast<uint8_t>(1 + Pick(255));
        break;
      case 4: {  // SetValue with a lying length field
        m = shared::BuildSetDwordRequest("7", "USB-Id", 1);
        uint32_t len = Pick(2) ? 0xFFFFFFFFu - Pick(64) : 4 + 1 + Pick(100);
        size_t at = 15 + 2 + 7 + 4;
        for (int i = 0; i < 4; ++i) m[at + i] = static_cast<uint8_t>(len >> (8 * i));
        break;
      }
      case 5:  // empty key or a key reaching below another key
        m = Pick(2) ? shared::BuildDeleteKeyRequest("") : shared::BuildCreateKeyRequest("5\\x");
        break;
      case 6:  // command word without its zero
        m.assign(std::begin(shared::kCmdCreateKey), std::end(shared::kCmdCreateKey) - 1);
        m.push_back('5');
        m.push_back(0);
        break;
      case 7:  // random bytes
        m.resize(Pick(200));
        for (uint8_t& b : m) b = static_cast<uint8_t>(Pick(256));
        break;
      default:  // a valid start with random tail and no zero
        m.resize(16);
        for (int i = 0; i < 20; ++i) m.push_back(static_cast<uint8_t>('1' + Pick(9)));
        break;
    }
    return m;
  }

  std::mt19937 rng_;
};

}  // namespace pnpsvc_test
