// The tests' own coder of the game's frames, so that the host's and the
// client's framing are checked, not reused.  A number is packed in 7-bit
// groups, most significant first, the high bit set on every group but the
// last; a frame is the packed id, the packed payload length, the payload.
#pragma once

#include <cstdint>
#include <string>

// The packed form of a number.
std::string Packed(uint32_t value);
// A whole frame: packed id, packed payload length, payload.
std::string Frame(uint32_t id, const std::string& payload = std::string());

struct TRawFrame {
  uint32_t Id = 0;
  std::string Payload;
  friend bool operator==(const TRawFrame&, const TRawFrame&) = default;
};

// Takes the first frame off the front of bytes; false, bytes untouched,
// while the frame is not whole yet.
bool TakeFrame(std::string& bytes, TRawFrame& frame);
