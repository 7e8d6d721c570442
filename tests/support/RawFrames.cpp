#include "support/RawFrames.h"

std::string Packed(uint32_t value) {
  std::string groups(1, static_cast<char>(value & 0x7F));
  for (value >>= 7; value != 0; value >>= 7)
    groups.insert(groups.begin(), static_cast<char>(0x80 | (value & 0x7F)));
  return groups;
}

std::string Frame(uint32_t id, const std::string& payload) {
  return Packed(id) + Packed(static_cast<uint32_t>(payload.size())) + payload;
}

namespace {
// Reads a packed number at pos and moves pos past it; false when the bytes
// end first.
bool Unpack(const std::string& bytes, std::size_t& pos, uint32_t& value) {
  value = 0;
  for (std::size_t at = pos; at < bytes.size(); ++at) {
    auto byte = static_cast<unsigned char>(bytes[at]);
    value = (value << 7) | (byte & 0x7F);
    if (!(byte & 0x80)) {
      pos = at + 1;
      return true;
    }
  }
  return false;
}
}  // namespace

bool TakeFrame(std::string& bytes, TRawFrame& frame) {
  std::size_t pos = 0;
  uint32_t id = 0, length = 0;
  if (!Unpack(bytes, pos, id) || !Unpack(bytes, pos, length) || bytes.size() - pos < length) return false;
  frame.Id = id;
  frame.Payload = bytes.substr(pos, length);
  bytes.erase(0, pos + length);
  return true;
}
