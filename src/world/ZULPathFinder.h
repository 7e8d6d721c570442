// The walkability map and the path finder of the world.  A TMap answers
// whether a cell may be stood on; a TZULPathFinder searches a map from a
// start cell to a goal and then hands the way out one cell at a time, as a
// chain of straight segments.  Each player owns one path finder; all of them
// share the one map the client window owns (the path finder never frees it).
// User-interface thread only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// A cell: column X, row Y.
struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// The eight neighbours of a cell as (dX, dY); the index is the direction
// number the players use (0 = towards -Y, then clockwise, odd = diagonal).
inline constexpr std::array<TPoint, 8> NeighbourOffsets = {TPoint{0, -1}, TPoint{1, -1}, TPoint{1, 0},
                                                           TPoint{1, 1},  TPoint{0, 1},  TPoint{-1, 1},
                                                           TPoint{-1, 0}, TPoint{-1, -1}};

// Any grid of cells that can say which ones are walkable.
class TMap {
 public:
  virtual ~TMap() = default;
  // Called only with cells inside the map.
  virtual bool IsWalkable(const TPoint& cell) const = 0;
  // Whether the cell lies inside 0..Width-1, 0..Height-1.
  bool Contains(const TPoint& cell) const {
    return cell.X >= 0 && cell.X < Width && cell.Y >= 0 && cell.Y < Height;
  }

  int32_t Width = 0;   // columns
  int32_t Height = 0;  // rows
};

// The world's 256 by 256 map: one byte a cell at X*256 + Y, 0 = walkable.
// It starts all zero, an open field.
class TMap256 : public TMap {
 public:
  static constexpr int32_t Side = 256;
  TMap256();
  bool IsWalkable(const TPoint& cell) const override;

  std::array<uint8_t, Side * Side> Cells{};
};

// Greedy best-first search guided by the squared distance to the goal; the
// discovery tree it leaves behind (Visit) is followed back from the goal to
// cut the way into straight segments, prepared one at a time as the walker
// reaches the end of the last one.
class TZULPathFinder {
 public:
  // Searches from start to goal.  True when a way was found: the first
  // segment is ready and NextStep hands out the cells.  False, changing
  // nothing, when start equals goal or either lies outside the map; false
  // as well when the goal cannot be reached.
  bool FindPath(const TPoint& start, const TPoint& goal);

  // Moves one cell along the way: the new cell and the direction of the
  // step (0..7).  False, leaving both untouched, once the goal has been
  // handed out (and every time after that).
  bool NextStep(TPoint& cell, int32_t& direction);

  TMap* Map = nullptr;  // the map searched; not owned

  // Reading
  const TPoint& Goal() const { return FGoal; }
  const TPoint& Position() const { return FPosition; }
  // First cell of the current segment (the start, then each segment's end).
  const TPoint& Waypoint() const { return FWaypoint; }
  // The current segment as step codes 1..8 (direction + 1), walking order.
  const std::vector<int32_t>& Segment() const { return FSegment; }
  int32_t StepIndex() const { return FStepIndex; }
  // Discovery number of a cell in the last search: 0 never discovered,
  // 1 the start, else its discoverer's number + 1.  The tree is dropped
  // (all 0) once the segment that ends on the goal has been prepared.
  int32_t Visit(const TPoint& cell) const;
  // Whether NextStep still has cells to hand out.
  bool Walking() const { return FWalking; }

 private:
  int32_t Index(const TPoint& cell) const { return cell.X * Map->Height + cell.Y; }
  void Expand(const TPoint& current, int32_t* score, TPoint* open, int32_t& openCount);
  void PrepareSegment();
  TPoint StepBack(const TPoint& cell) const;
  bool LineIsClear(TPoint from);

  std::vector<int32_t> FVisit;  // empty: no tree, the way is used up
  TPoint FWaypoint;
  TPoint FPosition;
  TPoint FGoal;
  std::vector<int32_t> FSegment;
  int32_t FStepIndex = -1;
  bool FWalking = false;  // a found way not yet walked to its end
};
