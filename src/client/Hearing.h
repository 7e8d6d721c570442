// What the client plays and from where: the names of the game's sound files,
// the listener placed at the in-game camera, and the footsteps of walking
// players.  A step sounds each time a foot touches the ground in the motion
// the walker plays (the running motion while it walks a path: the left foot
// lands at phase 0, the right at phase 0.5), from the walker's position.
// The sound system belongs to the client window.  User-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "audio/Sounds.h"

class TZULPlayer;
class TZULPlayerList;

// The sound files, as the system names files.
inline constexpr std::array<const char*, 4> StepFiles = {"data\\sons\\Pas1.wav", "data\\sons\\Pas2.wav",
                                                         "data\\sons\\Pas3.wav", "data\\sons\\Pas4.wav"};
inline constexpr const char* FireFile = "data\\sons\\Feu.wav";
inline constexpr const char* ThunderFile = "data\\sons\\Tonnerre.wav";
inline constexpr const char* TuneFile = "data\\sons\\Theme.wav";
inline constexpr const char* ClickFile = "data\\sons\\Clic.wav";
inline constexpr const char* AttackFile = "data\\sons\\Attaque.wav";
inline constexpr const char* FlipFile = "data\\sons\\Saut.wav";
inline constexpr const char* TauntFile = "data\\sons\\Provocation.wav";
inline constexpr const char* ChatBlipFile = "data\\sons\\Bip.wav";
inline constexpr const char* ArrivalFile = "data\\sons\\Arrivee.wav";
inline constexpr const char* DepartureFile = "data\\sons\\Depart.wav";

// Where the listener stands, looks and has its up, in world coordinates.
struct TEar {
  TSoundVector Position, Forward, Up;
};
// The ear of the in-game camera orbiting the world point (wx, 0, wz) with
// the given yaw and pitch (degrees) and zoom, as ApplyCamera places it.
TEar CameraEar(float wx, float wz, float yaw, float pitch, float zoom);
// The ear of the intro's camera: at the origin, looking down -Z.
TEar IntroEar();
void HearFrom(TSoundSystem& sound, const TEar& ear);

// The feet of every walking player, frame after frame.
class TFootsteps {
 public:
  static constexpr float StepGain = 0.8f;

  // Once a frame, after the players' motions advanced: one step for each
  // walker whose foot touched down since the last call.
  void Hear(const TZULPlayerList& players, TSoundSystem& sound);
  // How many foot contacts lie after phase before and up to phase after
  // (both in [0, 1)); a phase that went back means the motion looped or
  // restarted.
  static int Contacts(float before, float after);

 private:
  struct TGait {
    const TZULPlayer* Player = nullptr;
    int32_t Id = 0;
    float Phase = 0;
    bool Moving = false;
    uint32_t Steps = 0;  // picks the next step's variant
  };
  // The state of the last frame for this player, or a new one.
  TGait Last(const TZULPlayer* player, std::size_t at) const;

  std::vector<TGait> FLast, FNext;  // in the order of the player list
};
