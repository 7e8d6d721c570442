// The WAV reader takes what the forge writes and refuses, by name and with
// a reason, every file it could misread: another sample format, a chunk
// that runs past the end, data before the format, odd frame sizes.
#include <gtest/gtest.h>

#include <string>

#include "audio/Wave.h"
#include "platform/Errors.h"

namespace {

void Put32(std::string& b, uint32_t v) {
  for (int k = 0; k < 4; ++k) b += char((v >> (8 * k)) & 0xFF);
}
void Put16(std::string& b, uint32_t v) {
  b += char(v & 0xFF);
  b += char((v >> 8) & 0xFF);
}

// A RIFF WAVE file with the given fmt fields and data bytes; dataSize
// overrides the data chunk's stated size when not negative.
std::string WaveBytes(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits,
                      const std::string& data, long dataSize = -1) {
  std::string b = "RIFF";
  Put32(b, uint32_t(36 + data.size()));
  b += "WAVE";
  b += "LIST";  // a chunk the reader skips
  Put32(b, 3);
  b += "abc";
  b += '\0';  // its pad byte
  b += "fmt ";
  Put32(b, 16);
  Put16(b, format);
  Put16(b, channels);
  Put32(b, rate);
  Put32(b, rate * channels * bits / 8);
  Put16(b, channels * bits / 8);
  Put16(b, bits);
  b += "data";
  Put32(b, dataSize < 0 ? uint32_t(data.size()) : uint32_t(dataSize));
  return b + data;
}

std::string Refusal(const std::string& bytes) {
  try {
    ParseWave(bytes, "x.wav");
  } catch (const Exception& error) {
    return error.Message();
  }
  return "";
}

TEST(Wave, ReadsSixteenBitSamplesPastChunksItDoesNotKnow) {
  const std::string data("\x01\x00\xFF\xFF\x00\x80\xFF\x7F", 8);
  TWave mono = ParseWave(WaveBytes(1, 1, 22050, 16, data), "m.wav");
  EXPECT_EQ(mono.Channels, 1);
  EXPECT_EQ(mono.Rate, 22050);
  EXPECT_EQ(mono.Samples, (std::vector<int16_t>{1, -1, -32768, 32767}));
  TWave stereo = ParseWave(WaveBytes(1, 2, 44100, 16, data), "s.wav");
  EXPECT_EQ(stereo.Frames(), 2u);
}

TEST(Wave, RefusesWhatItCouldMisreadNamingTheFile) {
  const std::string data(8, '\0');
  EXPECT_EQ(Refusal("RIFX"), "Fichier son invalide : x.wav (pas un fichier RIFF WAVE)");
  EXPECT_EQ(Refusal(WaveBytes(3, 1, 22050, 16, data)), "Fichier son invalide : x.wav (pas du PCM)");
  EXPECT_EQ(Refusal(WaveBytes(1, 1, 22050, 8, data)), "Fichier son invalide : x.wav (8 bits)");
  EXPECT_EQ(Refusal(WaveBytes(1, 6, 22050, 16, data)), "Fichier son invalide : x.wav (6 canaux)");
  EXPECT_EQ(Refusal(WaveBytes(1, 1, 5, 16, data)), "Fichier son invalide : x.wav (5 Hz)");
  // A data chunk that says it is longer than the file.
  EXPECT_EQ(Refusal(WaveBytes(1, 1, 22050, 16, data, 1000)),
            "Fichier son invalide : x.wav (bloc data hors du fichier)");
  // Half a stereo frame.
  EXPECT_NE(Refusal(WaveBytes(1, 2, 22050, 16, std::string(6, '\0'))).find("trame"), std::string::npos);
  // The header alone: no data chunk at all.
  EXPECT_NE(Refusal(WaveBytes(1, 1, 22050, 16, "").substr(0, 12)).find("pas de donn"), std::string::npos);
}

TEST(Wave, AMissingFileIsNamedAsGiven) {
  try {
    LoadWave("data\\sons\\Absent.wav");
    FAIL() << "no error";
  } catch (const Exception& error) {
    EXPECT_NE(error.Message().find("data\\sons\\Absent.wav"), std::string::npos) << error.Message();
  }
}

}  // namespace
