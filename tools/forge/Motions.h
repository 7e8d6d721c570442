// The characters' six motions, as functions from phase (0 to 1) to a pose,
// and their sampling into motion files: track 0 without keys, then one track
// per bone in bone order, each holding the bone's whole local transform
// (translation, then rotation) at evenly spaced phases.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Geometry.h"
#include "Skeleton.h"

class TMotion;

namespace forge {

struct TMotionDef {
  std::string Name;   // the file's name without folder and extension
  uint32_t Duration;  // milliseconds
  int Keys;           // intervals between keys (Keys + 1 keys per track)
  bool Loops;         // the last key repeats the first
  std::function<TPose(float phase)> At;
};

// Arret, Parle, Marche, Course, att_poing, Chute (in the order of the
// game's animation numbers).
std::vector<TMotionDef> CharacterMotions();

// The running motion's ground speed: a cell of 6 world units (2 model
// units at three times model size) every 540 ms, in model units per ms.
constexpr float RunSpeed = 2.0f / 540.0f;

void FillMotion(const TMotionDef& def, TMotion& motion);

// Pieces of the motions that the knight's animations build on.
struct TPoseAngles;
// Standing at ease, breathing, at a phase of a breath.
TPoseAngles StandingSpec(float phase);
// Both feet planted flat where they stand at ease, or on given ground
// points with their toes turned by yaw degrees.
void PlantFeet(TPose& pose);
void PlantFeet(TPose& pose, TVec3 left, TVec3 right, float yawLeft, float yawRight);
// A gait cycle at a phase: the walk, the run, or a crouched walk.
enum class TGaitKind { Walk, Run, Crouch };
TPose GaitPose(TGaitKind kind, float phase);

// Finds the lowest point of the armoured body in a pose, for the poses
// that leave the feet (falls, jumps, deaths).
class TGroundProbe {
 public:
  TGroundProbe();
  float Lowest(const TPose& pose) const;
  // Moves the pose up or down so that its lowest point lies at height.
  void SetOnGround(TPose& pose, float height = 0) const;
  // Lifts the pose when any of it lies below the ground.
  void KeepAboveGround(TPose& pose) const;

 private:
  TMeshBuilder FBody;
};

}  // namespace forge
