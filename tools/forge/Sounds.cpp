#include "Sounds.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Paint.h"
#include "platform/Files.h"

namespace forge {

namespace {

constexpr float Pi = std::numbers::pi_v<float>;
constexpr float Rate = static_cast<float>(SoundRate);
constexpr float FadeInSeconds = 0.002f;  // one-shots open and close without a click
constexpr float FadeOutSeconds = 0.010f;
constexpr float LoopSeamSeconds = 0.1f;  // a loop's end is blended into its start over this

// ----------------------------------------------------------------- tools

std::size_t Samples(float seconds) { return static_cast<std::size_t>(seconds * Rate); }
float TimeOf(std::size_t i) { return static_cast<float>(i) / Rate; }

// The coefficient of a one-pole low-pass at cutoff hz.
float PoleOf(float hz) { return 1.0f - std::exp(-2 * Pi * hz / Rate); }

class TLowPass {
 public:
  explicit TLowPass(float hz) : FA(PoleOf(hz)) {}
  float operator()(float x) { return FY += FA * (x - FY); }

 private:
  float FA, FY = 0;
};

// A two-pole band-pass (constant peak gain) whose centre may move.
class TBandPass {
 public:
  TBandPass(float hz, float q) { Tune(hz, q); }
  void Tune(float hz, float q) {
    const float w = 2 * Pi * hz / Rate, alpha = std::sin(w) / (2 * q), a0 = 1 + alpha;
    FB0 = alpha / a0;
    FA1 = -2 * std::cos(w) / a0;
    FA2 = (1 - alpha) / a0;
  }
  float operator()(float x) {
    const float y = FB0 * x - FB0 * FX2 - FA1 * FY1 - FA2 * FY2;
    FX2 = FX1;
    FX1 = x;
    FY2 = FY1;
    FY1 = y;
    return y;
  }

 private:
  float FB0 = 0, FA1 = 0, FA2 = 0, FX1 = 0, FX2 = 0, FY1 = 0, FY2 = 0;
};

float Noise(TRandom& random) { return random.Range(-1.0f, 1.0f); }
float Decay(float t, float seconds) { return t < 0 ? 0 : std::exp(-t / seconds); }

// A short burst of band-passed noise added at start (seconds).
void AddTap(TSignal& s, TRandom& random, float start, float hz, float q, float decay, float gain) {
  TBandPass band(hz, q);
  const std::size_t from = Samples(start), length = Samples(decay * 8);
  for (std::size_t i = 0; i < length && from + i < s.size(); ++i)
    s[from + i] += gain * band(Noise(random)) * Decay(TimeOf(i), decay);
}

// A decaying sine with a touch of its octave, like a small bell.
void AddBell(TSignal& s, float start, float hz, float decay, float gain) {
  const std::size_t from = Samples(start);
  for (std::size_t i = from; i < s.size(); ++i) {
    const float t = TimeOf(i - from);
    const float attack = std::min(1.0f, t / FadeInSeconds);
    s[i] += gain * attack * Decay(t, decay) * (std::sin(2 * Pi * hz * t) + 0.3f * std::sin(4 * Pi * hz * t));
  }
}

void RemoveMean(TSignal& s) {
  double sum = 0;
  for (float v : s) sum += v;
  const float mean = static_cast<float>(sum / static_cast<double>(s.size()));
  for (float& v : s) v -= mean;
}

void Fade(TSignal& s) {
  const std::size_t in = Samples(FadeInSeconds), out = Samples(FadeOutSeconds);
  for (std::size_t i = 0; i < in && i < s.size(); ++i) s[i] *= static_cast<float>(i) / static_cast<float>(in);
  for (std::size_t i = 0; i < out && i < s.size(); ++i)
    s[s.size() - 1 - i] *= static_cast<float>(i) / static_cast<float>(out);
}

void Normalize(TSignal& s, float peak) {
  float most = 0;
  for (float v : s) most = std::max(most, std::abs(v));
  if (most > 0)
    for (float& v : s) v *= peak / most;
}

// A one-shot: no offset, silent at both ends, at the given peak.
TSignal Finish(TSignal s, float peak) {
  RemoveMean(s);
  Fade(s);
  Normalize(s, peak);
  return s;
}

// A loop made from a signal longer than the loop by LoopSeamSeconds: the
// overhang is blended into the start, so that the last sample runs on into
// the first as it ran on into the overhang.
TSignal CloseLoop(TSignal s, float peak) {
  const std::size_t seam = Samples(LoopSeamSeconds), length = s.size() - seam;
  for (std::size_t i = 0; i < seam; ++i) {
    const float w = static_cast<float>(i) / static_cast<float>(seam);
    s[i] = s[i] * w + s[length + i] * (1 - w);
  }
  s.resize(length);
  RemoveMean(s);
  Normalize(s, peak);
  return s;
}

// ----------------------------------------------------------------- sounds

// A heel and then the toes on marble: a hard, bright tap with a short body.
TSignal Step(uint32_t variant) {
  TRandom random(100 + variant);
  TSignal s(Samples(0.16f), 0.0f);
  const float v = static_cast<float>(variant);
  AddTap(s, random, 0, 2300 + 260 * v, 2.5f, 0.010f, 1.0f);
  AddTap(s, random, 0.040f + 0.006f * v, 3300 + 180 * v, 3.0f, 0.007f, 0.55f);
  const float thud = 85 + 9 * v;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const float t = TimeOf(i);
    s[i] += 0.5f * std::sin(2 * Pi * thud * t) * Decay(t, 0.025f);
  }
  return Finish(std::move(s), 0.5f);
}

// Embers hissing low with pops here and there.
TSignal Fire() {
  TRandom random(200);
  TSignal s(Samples(3.0f + LoopSeamSeconds), 0.0f);
  TLowPass low(380), sway(2.0f);
  TBandPass hiss(1400, 0.7f);
  for (float& v : s) {
    const float swell = 0.6f + 4.0f * std::abs(sway(Noise(random)));
    v = swell * (0.35f * low(Noise(random)) + 0.05f * hiss(Noise(random)));
  }
  for (int pop = 0; pop < 70; ++pop) {
    const float at = random.Range(0, TimeOf(s.size()) - 0.05f);
    AddTap(s, random, at, random.Range(1500, 5000), 1.2f, random.Range(0.001f, 0.004f),
           random.Range(0.3f, 1.0f));
  }
  return CloseLoop(std::move(s), 0.5f);
}

// A crack, then a long rolling rumble.
TSignal Thunder() {
  TRandom random(300);
  TSignal s(Samples(4.0f), 0.0f);
  TLowPass rumble1(160), rumble2(160), roll(3.0f);
  TBandPass crack(2500, 0.5f);
  for (std::size_t i = 0; i < s.size(); ++i) {
    const float t = TimeOf(i);
    const float body = rumble2(rumble1(Noise(random)));
    const float rolling = 0.4f + 6.0f * std::abs(roll(Noise(random)));
    const float swell = std::min(1.0f, t / 0.12f) * Decay(t - 0.12f, 1.1f);
    s[i] = 0.5f * crack(Noise(random)) * Decay(t, 0.05f) + 6.0f * body * rolling * swell;
  }
  return Finish(std::move(s), 0.8f);
}

// Air cut by a blade whose band sweeps from lo to hi and back, between
// start and start + length.
void AddWhoosh(TSignal& s, TRandom& random, float start, float length, float lo, float hi, float gain) {
  TBandPass band(lo, 2.0f);
  const std::size_t from = Samples(start), count = Samples(length);
  for (std::size_t i = 0; i < count && from + i < s.size(); ++i) {
    const float u = static_cast<float>(i) / static_cast<float>(count);
    const float bump = std::sin(Pi * u);
    band.Tune(lo + (hi - lo) * bump, 2.0f);
    s[from + i] += gain * bump * bump * band(Noise(random));
  }
}

TSignal Attack() {
  TRandom random(400);
  TSignal s(Samples(0.7f), 0.0f);
  AddWhoosh(s, random, 0, 0.3f, 500, 3200, 1.0f);
  for (float partial : {1230.0f, 2870.0f, 4110.0f}) AddBell(s, 0.24f, partial, 0.12f, 0.25f);
  return Finish(std::move(s), 0.7f);
}

TSignal Flip() {
  TRandom random(500);
  TSignal s(Samples(1.0f), 0.0f);
  AddWhoosh(s, random, 0, 0.45f, 300, 1400, 1.0f);
  TLowPass dull(300);
  const std::size_t land = Samples(0.62f);
  for (std::size_t i = land; i < s.size(); ++i) {
    const float t = TimeOf(i - land);
    s[i] += (0.9f * std::sin(2 * Pi * 65 * t) + 2.0f * dull(Noise(random))) * Decay(t, 0.06f);
  }
  for (float partial : {1800.0f, 2650.0f}) AddBell(s, 0.63f, partial, 0.05f, 0.08f);
  return Finish(std::move(s), 0.7f);
}

// Three mocking "ha"s: a buzzing voice through two vowel resonances.
TSignal Taunt() {
  TRandom random(600);
  TSignal s(Samples(0.85f), 0.0f);
  TBandPass first(750, 5), second(1150, 6);
  float phase = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const float t = TimeOf(i);
    const int syllable = static_cast<int>(t / 0.26f);
    const float u = (t - 0.26f * static_cast<float>(syllable)) / 0.18f;
    const float voiced = syllable < 3 && u < 1 ? std::sin(Pi * u) : 0.0f;
    const float pitch = 150 - 18 * static_cast<float>(syllable) - 20 * u;
    phase += pitch / Rate;
    phase -= std::floor(phase);
    const float buzz = (2 * phase - 1) * voiced + 0.15f * Noise(random) * voiced;
    s[i] = first(buzz) + 0.7f * second(buzz);
  }
  return Finish(std::move(s), 0.6f);
}

// Two short rising tones.
TSignal Blip() {
  TSignal s(Samples(0.16f), 0.0f);
  const float fade = 0.006f;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const float t = TimeOf(i);
    const bool second = t >= 0.08f;
    const float local = second ? t - 0.08f : t;
    const float edge = std::min({1.0f, local / fade, (0.07f - local) / fade});
    if (edge > 0) s[i] = edge * std::sin(2 * Pi * (second ? 1320.0f : 880.0f) * local);
  }
  return Finish(std::move(s), 0.4f);
}

TSignal Chime(std::initializer_list<float> notes) {
  TSignal s(Samples(0.8f), 0.0f);
  float at = 0;
  for (float hz : notes) {
    AddBell(s, at, hz, 0.18f, 1.0f);
    at += 0.12f;
  }
  return Finish(std::move(s), 0.45f);
}
TSignal Arrival() { return Chime({523.25f, 659.26f, 783.99f}); }
TSignal Departure() { return Chime({783.99f, 659.26f, 523.25f}); }

TSignal Click() {
  TRandom random(700);
  TSignal s(Samples(0.035f), 0.0f);
  for (std::size_t i = 0; i < s.size(); ++i) {
    const float t = TimeOf(i);
    s[i] = std::sin(2 * Pi * 1800 * t) * Decay(t, 0.004f) + 0.2f * Noise(random) * Decay(t, 0.0015f);
  }
  return Finish(std::move(s), 0.4f);
}

// A plucked string (Karplus-Strong) added into a loop of the tune's length
// from sample start on, its tail running on past the end into the start.
void Pluck(TSignal& loop, TRandom& random, std::size_t start, float hz, float seconds, float gain) {
  const std::size_t period = static_cast<std::size_t>(Rate / hz);
  TSignal string(period);
  TLowPass soft(2500);
  for (float& v : string) v = soft(Noise(random));
  const std::size_t count = Samples(seconds);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t k = i % period;
    const float out = string[k];
    string[k] = 0.996f * 0.5f * (out + string[(k + 1) % period]);
    loop[(start + i) % loop.size()] += gain * out;
  }
}

// A slow, quiet tune in A minor, a plucked note every BeatSeconds and a bass
// note every four.
TSignal Tune() {
  constexpr float BeatSeconds = 0.32f;
  constexpr float OffsetSeconds = 0.05f;  // no note starts on the seam
  // Semitones above A3 (220 Hz), one per beat.
  const int melody[] = {0,  3, 7, 12, 10, 7, 5, 7, -4, 0,  3, 8, 7, 3, 2,  3,
                        -2, 2, 5, 10, 8,  5, 3, 5, -5, -1, 2, 7, 5, 2, -1, 0};
  const int bass[] = {0, -4, -2, -5, 0, -4, -2, -5};
  TRandom random(800);
  const int beats = static_cast<int>(std::size(melody));
  TSignal s(Samples(BeatSeconds * static_cast<float>(beats)), 0.0f);
  for (int beat = 0; beat < beats; ++beat) {
    const std::size_t at = Samples(OffsetSeconds + BeatSeconds * static_cast<float>(beat));
    Pluck(s, random, at, 220.0f * std::exp2(static_cast<float>(melody[beat]) / 12.0f), 2.0f, 1.0f);
    if (beat % 4 == 0)
      Pluck(s, random, at, 110.0f * std::exp2(static_cast<float>(bass[beat / 4]) / 12.0f), 3.0f, 0.8f);
  }
  RemoveMean(s);
  Normalize(s, 0.3f);
  return s;
}

}  // namespace

const std::vector<TSoundDef>& GameSounds() {
  static const std::vector<TSoundDef> sounds = {
      {"Pas1.wav", false, [] { return Step(0); }},
      {"Pas2.wav", false, [] { return Step(1); }},
      {"Pas3.wav", false, [] { return Step(2); }},
      {"Pas4.wav", false, [] { return Step(3); }},
      {"Feu.wav", true, Fire},
      {"Tonnerre.wav", false, Thunder},
      {"Attaque.wav", false, Attack},
      {"Saut.wav", false, Flip},
      {"Provocation.wav", false, Taunt},
      {"Bip.wav", false, Blip},
      {"Arrivee.wav", false, Arrival},
      {"Depart.wav", false, Departure},
      {"Clic.wav", false, Click},
      {"Theme.wav", true, Tune},
  };
  return sounds;
}

// RIFF WAVE: "RIFF", size, "WAVE"; "fmt " of 16 bytes (PCM, channels, rate,
// bytes a second, bytes a frame, bits); "data" and the samples, all
// little-endian.
void SaveWave(const TSignal& signal, const std::string& fileName) {
  std::string bytes;
  auto u32 = [&bytes](uint32_t v) {
    for (int k = 0; k < 4; ++k) bytes += static_cast<char>((v >> (8 * k)) & 0xFF);
  };
  auto u16 = [&bytes](uint32_t v) {
    bytes += static_cast<char>(v & 0xFF);
    bytes += static_cast<char>((v >> 8) & 0xFF);
  };
  const uint32_t dataBytes = static_cast<uint32_t>(signal.size() * 2);
  bytes += "RIFF";
  u32(36 + dataBytes);
  bytes += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(1);
  u32(SoundRate);
  u32(SoundRate * 2);
  u16(2);
  u16(16);
  bytes += "data";
  u32(dataBytes);
  for (float v : signal) {
    const float clipped = std::clamp(v, -1.0f, 1.0f);
    u16(static_cast<uint16_t>(static_cast<int16_t>(std::lround(clipped * 32767.0f))));
  }
  std::ofstream file = OpenFileWrite(fileName);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace forge
