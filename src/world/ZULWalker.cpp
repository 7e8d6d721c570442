#include "world/ZULWalker.h"

#include <cmath>
#include <numbers>

#include "platform/Tick.h"

const float DiagonalStep = float(std::sqrt(72.0L));

const std::array<float, 8> DirectionAngles = [] {
  std::array<float, 8> angles{};
  for (int i = 0; i < 8; ++i) angles[std::size_t(i)] = float(90 - 45 * i);
  return angles;
}();

const std::array<TDirectionVector, 8> DirectionVectors = [] {
  std::array<TDirectionVector, 8> vectors{};
  for (std::size_t i = 0; i < 8; ++i) {
    long double theta = -(long double)DirectionAngles[i] * std::numbers::pi_v<long double> / 180.0L;
    vectors[i] = {std::cos(theta), std::sin(theta)};
  }
  return vectors;
}();

namespace {
float StepLength(int32_t direction) { return (direction & 1) ? DiagonalStep : CellSize; }
}  // namespace

TZULWalker::TZULWalker(TMap* map) : PathFinder(std::make_unique<TZULPathFinder>()) {
  PathFinder->Map = map;
  PathCell = {X, Y};
}

TZULWalker::~TZULWalker() = default;

void TZULWalker::MoveStopped() {
  Retarget = false;
  OffsetX = 0;
  OffsetZ = 0;
}

void TZULWalker::Stand() {
  MoveStart = 0;
  SetRunning(false);
}

bool TZULWalker::MoveTo(const TPoint& goal) {
  const bool wasMoving = Moving();
  if (!wasMoving) PathCell = {X, Y};
  if (!PathFinder->FindPath(PathCell, goal)) {
    // The step in progress is dropped and the walker stands where it was.
    // A walk that others were told about is reported as ended there, or
    // they would go on walking it.
    Stand();
    if (wasMoving) MoveStopped();
    return false;
  }
  if (wasMoving) {
    Retarget = true;  // the step in progress ends first (see Update)
    return true;
  }
  Retarget = false;
  if (!PathFinder->NextStep(PathCell, Direction)) {
    Stand();  // a way with no step in it: nothing to walk
    return false;
  }
  MoveStart = GetTickCount();
  SetRunning(true);
  MoveStarted();
  return true;
}

void TZULWalker::GetWorldPos(float& wx, float& wz) const {
  wx = float(int64_t(X) * int64_t(CellSize)) + OffsetX;
  wz = float(int64_t(Y) * int64_t(CellSize)) + OffsetZ;
}

void TZULWalker::Update(uint32_t now) {
  if (!Moving()) {
    OffsetX = 0;
    OffsetZ = 0;
    return;
  }
  // Distance walked since the step began; the clock wraps modulo 2^32.
  float d = float(double(uint32_t(now - MoveStart)) / MsPerWorldUnit);
  float len = StepLength(Direction);
  while (d >= len) {
    X = PathCell.X;
    Y = PathCell.Y;
    if (!PathFinder->NextStep(PathCell, Direction)) {
      SetRunning(false);
      MoveStopped();
      return;
    }
    if (Retarget) {
      MoveStopped();
      MoveStarted();
    }
    d -= len;
    // What is left of d carries into the next step.
    MoveStart = now - uint32_t(std::nearbyint(MsPerWorldUnit * double(d)));
    len = StepLength(Direction);
  }
  const TDirectionVector& v = DirectionVectors[DirectionIndex(Direction)];
  OffsetX = float(v.Cos * d);
  OffsetZ = float(v.Sin * d);
}
