#include "audio/Sounds.h"

#include <AL/al.h>
#include <AL/alc.h>

#include <cstdio>
#include <cstdlib>

#include "audio/Wave.h"
#include "platform/Errors.h"
#include "platform/Text1252.h"

TSoundSettings SoundSettings;

namespace {

ALCdevice* Device(void* device) { return static_cast<ALCdevice*>(device); }
ALCcontext* Context(void* context) { return static_cast<ALCcontext*>(context); }

// One line on standard error, in the terminal's UTF-8.
void Say(const std::string& text1252) { std::fprintf(stderr, "varozuvod: %s\n", ToUtf8(text1252).c_str()); }

// OpenAL Soft reads its log level from the environment at its first call.
constexpr const char* LogLevelVariable = "ALSOFT_LOGLEVEL";
constexpr const char* QuietLogLevel = "0";

float Clamp01(float value) { return value < 0 ? 0 : value > 1 ? 1 : value; }

}  // namespace

TSoundSystem::TSoundSystem(const TSoundSettings& settings) : FSettings(settings) {
  if (FSettings.Volume < 0) FSettings.Volume = 0;
  if (FSettings.Volume > TSoundSettings::MaxVolume) FSettings.Volume = TSoundSettings::MaxVolume;
  if (!Open()) Close();
}

TSoundSystem::~TSoundSystem() { Close(); }

bool TSoundSystem::Open() {
  // The library's own log would say the same failure again, in English;
  // whoever wants it sets the variable.
  setenv(LogLevelVariable, QuietLogLevel, 0);
  FDevice = alcOpenDevice(nullptr);
  if (!FDevice) {
    GoSilent(std::string("aucun périphérique audio"_cp));
    return false;
  }
  FContext = alcCreateContext(Device(FDevice), nullptr);
  if (!FContext || !alcMakeContextCurrent(Context(FContext))) {
    GoSilent("OpenAL n'a pas pu ouvrir de contexte");
    return false;
  }
  alDistanceModel(AL_LINEAR_DISTANCE_CLAMPED);
  FVoices.resize(SourceCount);
  for (TVoice& voice : FVoices) {
    alGenSources(1, &voice.Source);
    if (Failed("alGenSources")) return false;
    alSourcef(voice.Source, AL_REFERENCE_DISTANCE, FullLevelDistance);
    alSourcef(voice.Source, AL_MAX_DISTANCE, SilentDistance);
    alSourcef(voice.Source, AL_ROLLOFF_FACTOR, 1.0f);
  }
  ApplyGain();
  return !Failed("alListenerf");
}

// Sources first, then buffers, then the context and the device: OpenAL
// refuses to delete a buffer that a source still holds.
void TSoundSystem::Close() {
  if (FContext) {
    for (TVoice& voice : FVoices)
      if (voice.Source != 0) {
        alSourceStop(voice.Source);
        alSourcei(voice.Source, AL_BUFFER, 0);
        alDeleteSources(1, &voice.Source);
      }
    for (auto& [name, buffer] : FBuffers)
      if (buffer != 0) alDeleteBuffers(1, &buffer);
    alcMakeContextCurrent(nullptr);
    alcDestroyContext(Context(FContext));
  }
  FVoices.clear();
  FBuffers.clear();
  FContext = nullptr;
  if (FDevice) alcCloseDevice(Device(FDevice));
  FDevice = nullptr;
}

void TSoundSystem::GoSilent(const std::string& why) { Say(std::string("son coupé : "_cp) + why); }

bool TSoundSystem::Failed(const char* what) {
  const ALenum error = alGetError();
  if (error == AL_NO_ERROR) return false;
  GoSilent(std::string("erreur OpenAL ") + std::to_string(error) + " (" + what + ")");
  Close();
  return true;
}

// ---------------------------------------------------------------- settings

void TSoundSystem::ApplyGain() {
  const float volume = float(FSettings.Volume) / float(TSoundSettings::MaxVolume);
  alListenerf(AL_GAIN, FSettings.Muted ? 0.0f : volume);
}

void TSoundSystem::SetMuted(bool muted) {
  FSettings.Muted = muted;
  if (!Active()) return;
  ApplyGain();
  Failed("alListenerf");
}

void TSoundSystem::SetListener(const TSoundVector& position, const TSoundVector& forward,
                               const TSoundVector& up) {
  if (!Active()) return;
  alListener3f(AL_POSITION, position.X, position.Y, position.Z);
  const ALfloat orientation[6] = {forward.X, forward.Y, forward.Z, up.X, up.Y, up.Z};
  alListenerfv(AL_ORIENTATION, orientation);
}

// ---------------------------------------------------------------- buffers

unsigned TSoundSystem::Buffer(std::string_view fileName) {
  auto found = FBuffers.find(fileName);
  if (found != FBuffers.end()) return found->second;
  unsigned& buffer = FBuffers.emplace(std::string(fileName), 0).first->second;
  TWave wave;
  try {
    wave = LoadWave(std::string(fileName));
  } catch (const std::exception& error) {
    // This sound stays silent; the others play.
    Say(ErrorText(error));
    return 0;
  }
  alGenBuffers(1, &buffer);
  if (Failed("alGenBuffers")) return 0;
  alBufferData(buffer, wave.Channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16, wave.Samples.data(),
               ALsizei(wave.Samples.size() * sizeof(int16_t)), wave.Rate);
  if (Failed("alBufferData")) return 0;
  return buffer;
}

// ---------------------------------------------------------------- playing

TSoundSystem::TVoice* TSoundSystem::FreeVoice() {
  TVoice* oldest = nullptr;
  for (TVoice& voice : FVoices) {
    if (voice.Loop) continue;
    ALint state = AL_STOPPED;
    alGetSourcei(voice.Source, AL_SOURCE_STATE, &state);
    if (state != AL_PLAYING) return &voice;
    if (!oldest || voice.Started < oldest->Started) oldest = &voice;
  }
  return oldest;
}

TSoundSystem::TVoice* TSoundSystem::Start(std::string_view fileName, const TSoundVector& at, bool near,
                                          float gain, bool loop) {
  if (!Active()) return nullptr;
  const unsigned buffer = Buffer(fileName);
  if (buffer == 0 || !Active()) return nullptr;
  TVoice* voice = FreeVoice();
  if (!voice) return nullptr;
  const ALuint source = voice->Source;
  alSourceStop(source);
  alSourcei(source, AL_BUFFER, ALint(buffer));
  alSourcei(source, AL_LOOPING, loop ? AL_TRUE : AL_FALSE);
  alSourcei(source, AL_SOURCE_RELATIVE, near ? AL_TRUE : AL_FALSE);
  if (near)
    alSource3f(source, AL_POSITION, 0, 0, 0);
  else
    alSource3f(source, AL_POSITION, at.X, at.Y, at.Z);
  alSourcef(source, AL_GAIN, Clamp01(gain));
  alSourcePlay(source);
  if (Failed("alSourcePlay")) return nullptr;
  voice->Loop = loop;
  voice->Started = ++FPlays;
  return voice;
}

void TSoundSystem::Play(std::string_view fileName, const TSoundVector& at, float gain) {
  Start(fileName, at, false, gain, false);
}

void TSoundSystem::PlayNear(std::string_view fileName, float gain) { Start(fileName, {}, true, gain, false); }

int TSoundSystem::StartLoop(std::string_view fileName, const TSoundVector& at, bool near, float gain) {
  TVoice* voice = Start(fileName, at, near, gain, true);
  return voice ? int(voice - FVoices.data()) : -1;
}

void TSoundSystem::StopLoop(int& loop) {
  const int index = loop;
  loop = -1;
  if (!Active() || index < 0 || index >= int(FVoices.size())) return;
  TVoice& voice = FVoices[std::size_t(index)];
  if (!voice.Loop) return;
  alSourceStop(voice.Source);
  voice.Loop = false;
}

void TSoundSystem::StopAll() {
  if (!Active()) return;
  for (TVoice& voice : FVoices) {
    alSourceStop(voice.Source);
    voice.Loop = false;
  }
}
