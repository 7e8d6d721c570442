// The input language of the network targets: a script of steps that peers
// on 127.0.0.1 take against a running host, or that a host takes against a
// client.  The targets read it with TScript; the seed generator writes it
// with the Op* helpers.
//
// Step: one op byte, then its operands.
//   op % 8 == 0  Connect   a new peer connects (4 live peers at most)
//   1, 6, 7      Send      peer byte, length (two bytes, little-endian),
//                          then that many bytes (fewer where the input ends)
//   2            Close     peer byte: the peer ends its side in order
//   3            Reset     peer byte: the peer resets the connection
//   4            Write     peer byte: the host gets a write event for it
//   5            Option    one byte, read by the target (the game target
//                          sets the host's password from it)
// A peer byte is taken modulo the number of peers connected so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class TStep : uint8_t { Connect = 0, Send = 1, Close = 2, Reset = 3, Write = 4, Option = 5 };

class TScript {
 public:
  TScript(const uint8_t* data, std::size_t size) : FData(data), FSize(size) {}

  bool AtEnd() const { return FAt >= FSize; }
  TStep NextStep() {
    uint8_t op = Byte() % 8;
    return op >= 6 ? TStep::Send : static_cast<TStep>(op);
  }
  // The next byte, 0 past the end.
  uint8_t Byte() { return FAt < FSize ? FData[FAt++] : 0; }
  // A length of two bytes, then at most that many bytes.
  std::string Bytes() {
    std::size_t length = Byte();
    length |= static_cast<std::size_t>(Byte()) << 8;
    if (length > FSize - FAt) length = FSize - FAt;
    std::string bytes(reinterpret_cast<const char*>(FData + FAt), length);
    FAt += length;
    return bytes;
  }

 private:
  const uint8_t* FData;
  std::size_t FSize;
  std::size_t FAt = 0;
};

// Writing scripts (the seed generator).
inline std::string OpConnect() { return std::string(1, '\0'); }
inline std::string OpSend(uint8_t peer, const std::string& bytes) {
  std::string step{static_cast<char>(TStep::Send), static_cast<char>(peer),
                   static_cast<char>(bytes.size() & 0xFF), static_cast<char>((bytes.size() >> 8) & 0xFF)};
  return step + bytes.substr(0, 0xFFFF);
}
inline std::string OpPeer(TStep step, uint8_t peer) {
  return {static_cast<char>(step), static_cast<char>(peer)};
}
inline std::string OpOption(uint8_t value) {
  return {static_cast<char>(TStep::Option), static_cast<char>(value)};
}

// The client target's steps (op % 4; 3 is Host too):
//   Host   length (two bytes, little-endian), then the bytes the host sends
//   Time   one byte: the players walk that many frames
//   Say    length, then a chat line the player enters
enum class TClientStep : uint8_t { Host = 0, Time = 1, Say = 2 };

inline std::string OpClient(TClientStep step, const std::string& bytes) {
  std::string out{static_cast<char>(step), static_cast<char>(bytes.size() & 0xFF),
                  static_cast<char>((bytes.size() >> 8) & 0xFF)};
  return out + bytes.substr(0, 0xFFFF);
}
inline std::string OpHost(const std::string& bytes) { return OpClient(TClientStep::Host, bytes); }
inline std::string OpSay(const std::string& line) { return OpClient(TClientStep::Say, line); }
inline std::string OpTime(uint8_t frames) {
  return {static_cast<char>(TClientStep::Time), static_cast<char>(frames)};
}
