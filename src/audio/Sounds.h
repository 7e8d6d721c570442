// The game's sound over OpenAL: the device, its context, one buffer per sound
// file (loaded on first use and shared by every play) and a small pool of
// sources.  OpenAL mixes on a thread of its own, so nothing here waits on
// the mix.  Without a device, or after any OpenAL failure, the system stays
// silent, says why once on standard error, and every call does nothing.
// The client window owns it; user-interface thread only.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Whether the command line asked for silence, and at what volume to play.
struct TSoundSettings {
  static constexpr int MaxVolume = 100;  // percent of each sound's own level
  bool Muted = false;
  int Volume = MaxVolume;  // 0..MaxVolume
};
// What main read on the command line; the client window's sound starts so.
extern TSoundSettings SoundSettings;

// A point or direction of the world, in world units (a floor cell is 6).
struct TSoundVector {
  float X = 0, Y = 0, Z = 0;
};

class TSoundSystem {
 public:
  static constexpr int SourceCount = 16;  // sounds heard at once, loops included
  // Distance roll-off, world units from the listener: full level up to the
  // first, falling linearly to nothing at the second, which is where the
  // in-game fog hides everything.
  static constexpr float FullLevelDistance = 12.0f;
  static constexpr float SilentDistance = 100.0f;

  // Opens the default device and makes its context current.
  explicit TSoundSystem(const TSoundSettings& settings);
  // Stops every sound at once and closes the device.
  ~TSoundSystem();
  TSoundSystem(const TSoundSystem&) = delete;
  TSoundSystem& operator=(const TSoundSystem&) = delete;

  // Whether a device plays; false after a failure.
  bool Active() const { return FContext != nullptr; }

  // The listener: where it stands, where it looks and which way is up.
  void SetListener(const TSoundVector& position, const TSoundVector& forward, const TSoundVector& up);
  // One play of the file at a world position.
  void Play(std::string_view fileName, const TSoundVector& at, float gain = 1.0f);
  // One play heard as if at the listener, wherever it stands (interface
  // sounds: chat, arrivals, menu).
  void PlayNear(std::string_view fileName, float gain = 1.0f);
  // A loop at a world position, or at the listener when near; it holds a
  // source until StopLoop.  -1 when it cannot play.
  int StartLoop(std::string_view fileName, const TSoundVector& at, bool near, float gain = 1.0f);
  // Stops a loop and gives its source back; sets loop to -1.
  void StopLoop(int& loop);
  // Stops every sound, loops included (their handles then play nothing).
  void StopAll();

  // All sound off (digital silence) or on again, at the volume in force.
  void SetMuted(bool muted);
  bool Muted() const { return FSettings.Muted; }
  void ToggleMuted() { SetMuted(!FSettings.Muted); }

 private:
  struct TVoice {
    unsigned Source = 0;
    bool Loop = false;
    uint64_t Started = 0;  // order of the plays, to reuse the oldest
  };

  bool Open();
  void Close();
  // The buffer of the file, loaded once; 0 when it cannot be (said once).
  unsigned Buffer(std::string_view fileName);
  // A source that plays nothing, or the oldest one-shot; null when every
  // source holds a loop.
  TVoice* FreeVoice();
  TVoice* Start(std::string_view fileName, const TSoundVector& at, bool near, float gain, bool loop);
  void ApplyGain();
  // Checks OpenAL's error state; a failure makes the system silent.
  bool Failed(const char* what);
  void GoSilent(const std::string& why);

  TSoundSettings FSettings;
  void* FDevice = nullptr;   // ALCdevice
  void* FContext = nullptr;  // ALCcontext
  // 0: the file failed.  Looked up by view, so that a play allocates nothing.
  std::map<std::string, unsigned, std::less<>> FBuffers;
  std::vector<TVoice> FVoices;
  uint64_t FPlays = 0;
};
