// The game's sounds, made from sine waves, plucked strings (Karplus-Strong)
// and filtered noise with fixed seeds: marble footsteps, fire, thunder, the
// knight's attack, flip and taunt, the interface's blip, arrival, departure
// and click, and the title tune.  Each is written as a 16-bit PCM mono WAV
// file under sons/; the loops are continuous across their seam.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace forge {

inline constexpr int SoundRate = 22050;  // samples a second
using TSignal = std::vector<float>;      // full scale is 1

struct TSoundDef {
  const char* Name;  // file name under sons/
  bool Loop;         // played over and over: its end runs into its start
  TSignal (*Make)();
};

// Every sound of the game, in a fixed order.
const std::vector<TSoundDef>& GameSounds();

// 16-bit PCM, one channel, SoundRate; samples are clipped to full scale.
// "Cannot create file <name>" when it cannot be written.
void SaveWave(const TSignal& signal, const std::string& fileName);

}  // namespace forge
