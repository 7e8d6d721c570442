// The game's sound files: RIFF WAVE, 16-bit PCM, one or two channels.  The
// reader checks every chunk against the file before it reads it and names
// the file in its errors; the samples it returns belong to the caller.
// Any thread; nothing here is shared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TWave {
  static constexpr int MinRate = 1000;  // samples a second
  static constexpr int MaxRate = 192000;
  static constexpr int MaxChannels = 2;
  static constexpr uint32_t MaxDataBytes = 64u << 20;  // refuses files that would fill memory

  int Channels = 1;
  int Rate = 22050;              // samples a second, per channel
  std::vector<int16_t> Samples;  // interleaved when there are two channels

  // Frames: samples per channel.
  std::size_t Frames() const { return Channels > 0 ? Samples.size() / std::size_t(Channels) : 0; }
};

// Reads a file named as the system names them ("data\sons\Bip.wav").
// "Fichier son invalide : <name> (<what>)" for anything but 16-bit PCM in a
// well-formed RIFF WAVE file; "Cannot open file <name>" when it is missing.
TWave LoadWave(const std::string& fileName);
// The same from bytes already read; name is used in the errors only.
TWave ParseWave(const std::string& bytes, const std::string& name);
