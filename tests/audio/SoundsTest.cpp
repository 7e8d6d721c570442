// The sound system over OpenAL Soft's wave back end, which writes the mix to
// a file instead of a sound card: sounds reach the mix, a muted system or a
// zero volume writes digital silence, a source left of the listener is
// louder in the left channel, a file that cannot be read stays silent while
// the others play, and without a device every call does nothing and one
// line on standard error says why.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "audio/Sounds.h"
#include "audio/Wave.h"

namespace {

constexpr int MixRate = 44100;

// OpenAL Soft reads its configuration once per process, so every test here
// mixes into the same file; each reads what its own device wrote.
class WaveDevice : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Folder = new QTemporaryDir;
    const std::string folder = Folder->path().toStdString();
    std::ofstream conf(folder + "/alsoft.conf");
    conf << "[general]\ndrivers=wave\nchannels=stereo\nsample-type=int16\ndither=false\nfrequency=" << MixRate
         << "\nhrtf=false\n[wave]\nfile=" << folder << "/mix.wav\n";
    conf.close();
    setenv("ALSOFT_CONF", (folder + "/alsoft.conf").c_str(), 1);
    // A tone of half a second, mono, at the mixing rate.
    TWave tone;
    tone.Rate = MixRate;
    for (int i = 0; i < MixRate / 2; ++i) tone.Samples.push_back(int16_t(12000 * std::sin(i * 0.06)));
    WriteWave(tone, folder + "/tone.wav");
  }
  static void TearDownTestSuite() {
    delete Folder;
    Folder = nullptr;
  }

  static std::string File(const std::string& name) { return Folder->path().toStdString() + "/" + name; }

  static void WriteWave(const TWave& wave, const std::string& name) {
    std::string b = "RIFF....WAVEfmt ";
    auto u32 = [&b](uint32_t v) {
      for (int k = 0; k < 4; ++k) b += char((v >> (8 * k)) & 0xFF);
    };
    auto u16 = [&b](uint32_t v) {
      b += char(v & 0xFF);
      b += char((v >> 8) & 0xFF);
    };
    u32(16);
    u16(1);
    u16(1);
    u32(uint32_t(wave.Rate));
    u32(uint32_t(wave.Rate * 2));
    u16(2);
    u16(16);
    b += "data";
    u32(uint32_t(wave.Samples.size() * 2));
    for (int16_t s : wave.Samples) u16(uint16_t(s));
    std::ofstream(name, std::ios::binary) << b;
  }

  // Runs what the system plays for the given time, then closes it and reads
  // the mix back: left and right sums of squares.
  struct TMix {
    double Left = 0, Right = 0;
    std::size_t Frames = 0;
    bool Silent() const { return Left == 0 && Right == 0; }
  };
  template <class TPlay>
  static TMix Mix(const TSoundSettings& settings, TPlay play, int ms = 400) {
    {
      TSoundSystem sound(settings);
      EXPECT_TRUE(sound.Active());
      play(sound);
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    TMix mix;
    const TWave wave = LoadWave(File("mix.wav"));
    EXPECT_EQ(wave.Channels, 2);
    for (std::size_t i = 0; i + 1 < wave.Samples.size(); i += 2) {
      mix.Left += double(wave.Samples[i]) * wave.Samples[i];
      mix.Right += double(wave.Samples[i + 1]) * wave.Samples[i + 1];
    }
    mix.Frames = wave.Frames();
    return mix;
  }

  static QTemporaryDir* Folder;
};
QTemporaryDir* WaveDevice::Folder = nullptr;

TEST_F(WaveDevice, SoundsReachTheMixAtTheirVolumeAndMuteOrZeroVolumeGiveDigitalSilence) {
  const TSoundSettings loud;
  TMix heard = Mix(loud, [](TSoundSystem& s) { s.PlayNear(File("tone.wav")); });
  EXPECT_GT(heard.Frames, 0u);
  EXPECT_GT(heard.Left, 0);
  EXPECT_GT(heard.Right, 0);

  // Half the volume, half the amplitude: a quarter of the energy.
  TSoundSettings half;
  half.Volume = 50;
  const TMix halved = Mix(half, [](TSoundSystem& s) { s.PlayNear(File("tone.wav")); });
  EXPECT_NEAR(halved.Left / heard.Left, 0.25, 0.05);

  TSoundSettings muted;
  muted.Muted = true;
  EXPECT_TRUE(Mix(muted, [](TSoundSystem& s) { s.PlayNear(File("tone.wav")); }).Silent());
  TSoundSettings zero;
  zero.Volume = 0;
  EXPECT_TRUE(Mix(zero, [](TSoundSystem& s) { s.PlayNear(File("tone.wav")); }).Silent());
  // Muted once playing: the loop goes on, unheard.
  EXPECT_TRUE(Mix(loud, [](TSoundSystem& s) {
                s.StartLoop(File("tone.wav"), {}, true);
                s.ToggleMuted();
              }).Silent());
}

TEST_F(WaveDevice, ASourceOnTheListenersLeftIsLouderOnTheLeftAndBeyondTheFogUnheard) {
  TMix left = Mix({}, [](TSoundSystem& s) {
    s.SetListener({0, 0, 0}, {0, 0, -1}, {0, 1, 0});
    s.Play(File("tone.wav"), {-10, 0, -2});
  });
  EXPECT_GT(left.Left, 2 * left.Right);
  // Turned round, the same source is on the right.
  TMix right = Mix({}, [](TSoundSystem& s) {
    s.SetListener({0, 0, 0}, {0, 0, 1}, {0, 1, 0});
    s.Play(File("tone.wav"), {-10, 0, -2});
  });
  EXPECT_GT(right.Right, 2 * right.Left);
  TMix far = Mix({}, [](TSoundSystem& s) {
    s.SetListener({0, 0, 0}, {0, 0, -1}, {0, 1, 0});
    s.Play(File("tone.wav"), {0, 0, -TSoundSystem::SilentDistance - 1});
  });
  EXPECT_TRUE(far.Silent());
}

TEST_F(WaveDevice, AFileThatCannotBeReadIsSaidOnceAndTheOthersStillPlay) {
  std::ofstream(File("bad.wav")) << "not a wave";
  testing::internal::CaptureStderr();
  TMix mix = Mix({}, [](TSoundSystem& s) {
    for (int i = 0; i < 3; ++i) s.PlayNear(File("bad.wav"));
    s.PlayNear(File("tone.wav"));
  });
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(mix.Silent());
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find("bad.wav"), std::string::npos) << said;
}

TEST_F(WaveDevice, WithoutADeviceEveryCallDoesNothingAndOneLineSaysWhy) {
  // The wave back end cannot create its file where a folder stands.
  std::filesystem::remove(File("mix.wav"));
  std::filesystem::create_directory(File("mix.wav"));
  testing::internal::CaptureStderr();
  {
    TSoundSystem sound({});
    EXPECT_FALSE(sound.Active());
    sound.SetListener({1, 2, 3}, {0, 0, -1}, {0, 1, 0});
    sound.PlayNear(File("tone.wav"));
    sound.Play(File("tone.wav"), {1, 0, 1});
    int loop = sound.StartLoop(File("tone.wav"), {}, true);
    EXPECT_EQ(loop, -1);
    sound.StopLoop(loop);
    sound.ToggleMuted();
    sound.StopAll();
  }
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find("son coup"), std::string::npos) << said;
  std::filesystem::remove(File("mix.wav"));
}

}  // namespace
