// The forged sounds as the game reads them: every file loads through the
// game's own WAV reader as 16-bit mono at the forge's rate, lasts as long as
// its use wants, peaks well below full scale yet is heard, carries no DC
// offset, and a loop runs from its last sample into its first without a jump
// larger than those inside it.  The four footsteps differ from one another.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "Forged.h"
#include "Sounds.h"
#include "audio/Wave.h"

namespace {

class ForgedSounds : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ForgeOnce(); }
};

constexpr double FullScale = 32768.0;

struct TSeconds {
  double Least, Most;
};
// How long each sound may last, in seconds.
const std::map<std::string, TSeconds> Lengths = {
    {"Pas1.wav", {0.08, 0.3}},   {"Pas2.wav", {0.08, 0.3}},   {"Pas3.wav", {0.08, 0.3}},
    {"Pas4.wav", {0.08, 0.3}},   {"Feu.wav", {2.0, 6.0}},     {"Tonnerre.wav", {2.0, 6.0}},
    {"Attaque.wav", {0.3, 1.2}}, {"Saut.wav", {0.5, 1.5}},    {"Provocation.wav", {0.4, 1.5}},
    {"Bip.wav", {0.08, 0.4}},    {"Arrivee.wav", {0.3, 1.2}}, {"Depart.wav", {0.3, 1.2}},
    {"Clic.wav", {0.01, 0.1}},   {"Theme.wav", {5.0, 15.0}},
};

TWave LoadForged(const std::string& name) { return LoadWave("data\\sons\\" + name); }

double Peak(const TWave& wave) {
  int most = 0;
  for (int16_t s : wave.Samples) most = std::max(most, std::abs(int(s)));
  return most / FullScale;
}

double Mean(const TWave& wave) {
  double sum = 0;
  for (int16_t s : wave.Samples) sum += s;
  return sum / double(wave.Samples.size()) / FullScale;
}

// The jumps between neighbouring samples, sorted.
std::vector<int> Jumps(const TWave& wave) {
  std::vector<int> jumps;
  for (std::size_t i = 1; i < wave.Samples.size(); ++i)
    jumps.push_back(std::abs(int(wave.Samples[i]) - int(wave.Samples[i - 1])));
  std::sort(jumps.begin(), jumps.end());
  return jumps;
}

TEST_F(ForgedSounds, EverySoundIsQuietEnoughHeardCentredAndAsLongAsItsUse) {
  ASSERT_EQ(forge::GameSounds().size(), Lengths.size());
  for (const forge::TSoundDef& def : forge::GameSounds()) {
    SCOPED_TRACE(def.Name);
    ASSERT_TRUE(Lengths.count(def.Name)) << "no expected length";
    TWave wave;
    ASSERT_NO_THROW(wave = LoadForged(def.Name));
    EXPECT_EQ(wave.Channels, 1);  // OpenAL places only mono sounds in space
    EXPECT_EQ(wave.Rate, forge::SoundRate);
    const double seconds = double(wave.Frames()) / wave.Rate;
    EXPECT_GE(seconds, Lengths.at(def.Name).Least);
    EXPECT_LE(seconds, Lengths.at(def.Name).Most);
    EXPECT_LT(Peak(wave), 0.9);
    EXPECT_GT(Peak(wave), 0.1);
    EXPECT_LT(std::abs(Mean(wave)), 0.002) << "DC offset";
  }
}

TEST_F(ForgedSounds, LoopsRunOnAcrossTheirSeamAndOneShotsEndInSilence) {
  for (const forge::TSoundDef& def : forge::GameSounds()) {
    SCOPED_TRACE(def.Name);
    const TWave wave = LoadForged(def.Name);
    ASSERT_GT(wave.Samples.size(), 2u);
    const int first = wave.Samples.front(), last = wave.Samples.back();
    if (def.Loop) {
      // A click at the seam stands out among the jumps of the loop.
      const std::vector<int> jumps = Jumps(wave);
      const int typical = jumps[jumps.size() * 9 / 10];
      EXPECT_LE(std::abs(last - first), typical) << "seam from " << last << " to " << first;
    } else {
      EXPECT_LE(std::abs(first), 1);
      EXPECT_LE(std::abs(last), 1);
    }
  }
}

TEST_F(ForgedSounds, TheFourFootstepsDiffer) {
  std::vector<std::vector<int16_t>> steps;
  for (const char* name : {"Pas1.wav", "Pas2.wav", "Pas3.wav", "Pas4.wav"})
    steps.push_back(LoadForged(name).Samples);
  for (std::size_t a = 0; a < steps.size(); ++a)
    for (std::size_t b = a + 1; b < steps.size(); ++b) EXPECT_NE(steps[a], steps[b]) << a << " and " << b;
}

}  // namespace
