#include "audio/Wave.h"

#include <cstring>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Text1252.h"

// RIFF WAVE, all fields little-endian:
//   "RIFF", u32 size of what follows, "WAVE", then chunks: 4-byte id, u32
//   size, the body, one pad byte when the size is odd.
//   "fmt " (16 bytes at least): u16 format (1: PCM), u16 channels, u32
//   rate, u32 bytes a second, u16 bytes a frame, u16 bits a sample.  The
//   extensible format (0xFFFE, 40 bytes) names its own format in the first
//   two bytes of its sub-format at offset 24; OpenAL Soft writes its mix so.
//   "data": the samples, frames of interleaved channels.
// Other chunks are skipped.  "fmt " must come before "data".

namespace {

constexpr std::size_t RiffHeaderBytes = 12;
constexpr std::size_t ChunkHeaderBytes = 8;
constexpr std::size_t FormatBytes = 16;
constexpr uint16_t PcmFormat = 1;
constexpr uint16_t ExtensibleFormat = 0xFFFE;
constexpr std::size_t ExtensibleBytes = 40;
constexpr std::size_t SubFormatAt = 24;
constexpr uint16_t SampleBits = 16;

uint32_t U32(const std::string& b, std::size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t U16(const std::string& b, std::size_t at) {
  return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

[[noreturn]] void Invalid(const std::string& name, const std::string& what) {
  throw Exception("Fichier son invalide : " + name + " (" + what + ")");
}

void ReadFormat(const std::string& b, std::size_t at, uint32_t size, const std::string& name, TWave& wave) {
  if (size < FormatBytes) Invalid(name, "format trop court");
  uint16_t format = U16(b, at);
  if (format == ExtensibleFormat && size >= ExtensibleBytes) format = U16(b, at + SubFormatAt);
  if (format != PcmFormat) Invalid(name, "pas du PCM");
  const uint16_t channels = U16(b, at + 2);
  const uint32_t rate = U32(b, at + 4);
  const uint16_t frameBytes = U16(b, at + 12);
  const uint16_t bits = U16(b, at + 14);
  if (bits != SampleBits) Invalid(name, std::to_string(bits) + " bits");
  if (channels < 1 || channels > TWave::MaxChannels) Invalid(name, std::to_string(channels) + " canaux");
  if (rate < uint32_t(TWave::MinRate) || rate > uint32_t(TWave::MaxRate))
    Invalid(name, std::to_string(rate) + " Hz");
  if (frameBytes != channels * (SampleBits / 8)) Invalid(name, "taille de trame");
  wave.Channels = channels;
  wave.Rate = int(rate);
}

void ReadData(const std::string& b, std::size_t at, uint32_t size, const std::string& name, TWave& wave) {
  if (size > TWave::MaxDataBytes) Invalid(name, std::string("trop de données"_cp));
  const std::size_t frameBytes = std::size_t(wave.Channels) * (SampleBits / 8);
  if (size % frameBytes != 0) Invalid(name, std::string("trame incomplète"_cp));
  wave.Samples.resize(size / 2);
  for (std::size_t i = 0; i < wave.Samples.size(); ++i) wave.Samples[i] = int16_t(U16(b, at + 2 * i));
}

}  // namespace

TWave ParseWave(const std::string& b, const std::string& name) {
  if (b.size() < RiffHeaderBytes || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0)
    Invalid(name, "pas un fichier RIFF WAVE");
  TWave wave;
  bool haveFormat = false;
  std::size_t at = RiffHeaderBytes;
  while (b.size() - at >= ChunkHeaderBytes) {
    const std::string id = b.substr(at, 4);
    const uint32_t size = U32(b, at + 4);
    at += ChunkHeaderBytes;
    if (size > b.size() - at) Invalid(name, "bloc " + id + " hors du fichier");
    if (id == "fmt ") {
      ReadFormat(b, at, size, name, wave);
      haveFormat = true;
    } else if (id == "data") {
      if (!haveFormat) Invalid(name, std::string("données avant le format"_cp));
      ReadData(b, at, size, name, wave);
      return wave;
    }
    at += size + (size & 1);
    if (at > b.size()) break;
  }
  Invalid(name, std::string("pas de données"_cp));
}

TWave LoadWave(const std::string& fileName) {
  std::ifstream stream = OpenFileRead(fileName);
  return ParseWave(ReadToEnd(stream), fileName);
}
