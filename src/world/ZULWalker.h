// The walking of one player: its cell, its facing, its path finder and the
// one rule by which it moves along a path in time.  Every walker in the
// system is one of these (the drawn players of a client, the bot players),
// so a bot cannot report a cell that a client would not compute.  It owns
// its path finder; the map belongs to whoever made it.  Nothing here draws.
// User-interface thread only; time follows GetTickCount.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "world/ZULPathFinder.h"

// Walking speed and step lengths, in world units.
inline constexpr float CellSize = 6.0f;         // one cell, and a straight step
inline constexpr double MsPerWorldUnit = 90.0;  // one unit every 90 ms
inline constexpr int32_t StartCell = 127;       // where a new walker stands (X and Y)

// sqrt(72) in single precision: the length of a diagonal step.
extern const float DiagonalStep;
// Facing of each direction in degrees, 90 - 45*i.
extern const std::array<float, 8> DirectionAngles;
// Unit vector of each direction on the ground: Cos moves world X, Sin world
// Z, in step with NeighbourOffsets.
struct TDirectionVector {
  long double Cos, Sin;
};
extern const std::array<TDirectionVector, 8> DirectionVectors;
// Directions come from the wire as well as from the path finder: any value
// picks one of the eight.
inline std::size_t DirectionIndex(int32_t direction) { return std::size_t(direction & 7); }

class TZULWalker {
 public:
  // Binds a path finder of its own to map; stands on (StartCell, StartCell).
  explicit TZULWalker(TMap* map);
  virtual ~TZULWalker();
  TZULWalker(const TZULWalker&) = delete;
  TZULWalker& operator=(const TZULWalker&) = delete;

  // A new walk begins (the path finder's Goal is its destination).
  virtual void MoveStarted() {}
  // A walk ends, or a pending path takes over at a cell boundary (then
  // MoveStarted follows).  Clears Retarget and the offsets.
  virtual void MoveStopped();
  // Whether the walker is walking a path.  A plain walker keeps a flag; a
  // drawn player reads it from its motion, which others may change.
  virtual bool Moving() const { return FRunning; }

  // Starts a walk to goal at the current tick count, or re-targets the walk
  // in progress at the next cell boundary.  False when no path leads there
  // (also for the walker's own cell): the walker then stands on (X, Y).
  bool MoveTo(const TPoint& goal);
  // Advances the walk to time now: steps complete on the clock, the rest
  // of a step carries into the next, several cells may pass in one call.
  void Update(uint32_t now);
  // World position: the centre of cell (X, Y) plus the walking offset.
  void GetWorldPos(float& wx, float& wz) const;

  int32_t X = StartCell;  // the last cell reached
  int32_t Y = StartCell;
  int32_t Direction = 0;  // facing; while moving, the current step's direction
  float OffsetX = 0;      // world offset from the centre of (X, Y) along the step
  float OffsetZ = 0;
  uint32_t MoveStart = 0;  // tick count at which the current step began
  std::unique_ptr<TZULPathFinder> PathFinder;
  TPoint PathCell;        // the cell the current step leads into
  bool Retarget = false;  // a new path takes over at the next cell boundary

 protected:
  // Walking starts (true) or ends (false); a drawn player selects its
  // running or standing motion.
  virtual void SetRunning(bool running) { FRunning = running; }

 private:
  void Stand();

  bool FRunning = false;
};
