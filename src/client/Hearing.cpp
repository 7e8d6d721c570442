#include "client/Hearing.h"

#include <cmath>
#include <numbers>

#include "world/ZULPlayers.h"

namespace {

// ApplyCamera puts the eye this far above and behind the target it orbits,
// before the pitch and the yaw turn it (world units).
constexpr float EyeHeight = 5.0f;
constexpr float ZoomBaseDistance = 25.0f;
constexpr float HalfCycle = 0.5f;  // the second foot lands half a cycle after the first

float Radians(float degrees) { return degrees * std::numbers::pi_v<float> / 180.0f; }

// The inverse of ApplyCamera's turns, Ry(-yaw) Rx(-pitch), applied to an
// eye-space vector: it gives the world direction of that vector.
TSoundVector EyeToWorld(const TSoundVector& v, float yaw, float pitch) {
  const float cp = std::cos(Radians(-pitch)), sp = std::sin(Radians(-pitch));
  const float y1 = v.Y * cp - v.Z * sp;
  const float z1 = v.Y * sp + v.Z * cp;
  const float cy = std::cos(Radians(-yaw)), sy = std::sin(Radians(-yaw));
  return {v.X * cy + z1 * sy, y1, -v.X * sy + z1 * cy};
}

}  // namespace

TEar CameraEar(float wx, float wz, float yaw, float pitch, float zoom) {
  const TSoundVector back = EyeToWorld({0, EyeHeight, ZoomBaseDistance - zoom}, yaw, pitch);
  TEar ear;
  ear.Position = {wx + back.X, back.Y, wz + back.Z};
  ear.Forward = EyeToWorld({0, 0, -1}, yaw, pitch);
  ear.Up = EyeToWorld({0, 1, 0}, yaw, pitch);
  return ear;
}

TEar IntroEar() { return {{0, 0, 0}, {0, 0, -1}, {0, 1, 0}}; }

void HearFrom(TSoundSystem& sound, const TEar& ear) { sound.SetListener(ear.Position, ear.Forward, ear.Up); }

// ---------------------------------------------------------------- footsteps

int TFootsteps::Contacts(float before, float after) {
  if (after < before) after += 1.0f;
  int contacts = 0;
  for (float contact = HalfCycle; contact <= 2.0f; contact += HalfCycle)
    if (before < contact && contact <= after) ++contacts;
  return contacts;
}

TFootsteps::TGait TFootsteps::Last(const TZULPlayer* player, std::size_t at) const {
  // The list keeps its order, so the same place nearly always holds the
  // same player; a player that left or came shifts the rest.
  if (at < FLast.size() && FLast[at].Player == player && FLast[at].Id == player->Id) return FLast[at];
  for (const TGait& gait : FLast)
    if (gait.Player == player && gait.Id == player->Id) return gait;
  TGait fresh;
  fresh.Player = player;
  fresh.Id = player->Id;
  return fresh;
}

void TFootsteps::Hear(const TZULPlayerList& players, TSoundSystem& sound) {
  FNext.clear();
  for (std::size_t k = 0; k < players.Items().size(); ++k) {
    const TZULPlayer* player = players.Items()[k];
    TGait gait = Last(player, k);
    const bool moving = player->Moving();
    const float phase = player->Model->Phase;
    // A walk that starts plants its first foot at once.
    int steps = !moving ? 0 : !gait.Moving ? 1 : Contacts(gait.Phase, phase);
    if (steps > 0) {
      float wx = 0, wz = 0;
      player->GetWorldPos(wx, wz);
      sound.Play(StepFiles[gait.Steps % StepFiles.size()], {wx, 0, wz}, StepGain);
      gait.Steps += uint32_t(steps);
    }
    gait.Moving = moving;
    gait.Phase = phase;
    FNext.push_back(gait);
  }
  FLast.swap(FNext);
}
