#include "world/ZULPathFinder.h"

#include <algorithm>

TMap256::TMap256() {
  Width = Side;
  Height = Side;
}

bool TMap256::IsWalkable(const TPoint& cell) const { return Cells[cell.X * Side + cell.Y] == 0; }

namespace {
TPoint operator+(const TPoint& a, const TPoint& b) { return {a.X + b.X, a.Y + b.Y}; }

int32_t SquaredDistance(const TPoint& a, const TPoint& b) {
  int32_t dx = a.X - b.X, dy = a.Y - b.Y;
  return dx * dx + dy * dy;
}
}  // namespace

int32_t TZULPathFinder::Visit(const TPoint& cell) const {
  if (FVisit.empty() || !Map || !Map->Contains(cell)) return 0;
  return FVisit[Index(cell)];
}

bool TZULPathFinder::FindPath(const TPoint& start, const TPoint& goal) {
  if (start == goal || !Map->Contains(start) || !Map->Contains(goal)) return false;
  FWaypoint = start;
  FGoal = goal;
  FWalking = false;

  // Score and Open live only during the search; their old contents are
  // never read, so they are not cleared.  Each cell enters Open at most
  // once, so Width*Height entries always suffice.
  const std::size_t cells = std::size_t(Map->Width) * std::size_t(Map->Height);
  FVisit.assign(cells, 0);
  auto score = std::make_unique_for_overwrite<int32_t[]>(cells);
  auto open = std::make_unique_for_overwrite<TPoint[]>(cells);
  int32_t openCount = 0;

  TPoint current = start;
  FVisit[Index(start)] = 1;
  for (;;) {
    Expand(current, score.get(), open.get(), openCount);
    if (openCount == 0) return false;
    // Linear scan for the smallest score; ties keep the lowest index.  The
    // last entry fills the hole left by the one taken.
    int32_t best = 0;
    for (int32_t i = 1; i < openCount; ++i)
      if (score[Index(open[i])] < score[Index(open[best])]) best = i;
    current = open[best];
    open[best] = open[--openCount];
    if (current == FGoal) break;
  }

  FPosition = start;
  FStepIndex = -1;
  FWalking = true;
  PrepareSegment();
  return true;
}

void TZULPathFinder::Expand(const TPoint& current, int32_t* score, TPoint* open, int32_t& openCount) {
  const int32_t visit = FVisit[Index(current)];
  for (const TPoint& offset : NeighbourOffsets) {
    TPoint next = current + offset;
    // Blocked cells are not marked: another neighbour may ask again.
    if (!Map->Contains(next) || FVisit[Index(next)] != 0 || !Map->IsWalkable(next)) continue;
    FVisit[Index(next)] = visit + 1;
    open[openCount++] = next;
    score[Index(next)] = SquaredDistance(next, FGoal);
  }
}

TPoint TZULPathFinder::StepBack(const TPoint& cell) const {
  const int32_t visit = FVisit[Index(cell)];
  TPoint best = cell;
  int32_t bestVisit = visit;
  for (const TPoint& offset : NeighbourOffsets) {
    TPoint next = cell + offset;
    if (!Map->Contains(next)) continue;
    int32_t v = FVisit[Index(next)];
    if (v >= 1 && v < bestVisit) {
      best = next;
      bestVisit = v;
    }
  }
  return best;
}

void TZULPathFinder::PrepareSegment() {
  if (FVisit.empty()) return;
  // Follow the discovery chain back from the goal until a cell is in a
  // clear straight line from the waypoint.  The chain only descends, and the
  // waypoint itself lies on it, so this ends at the latest there (n = 0).
  TPoint p = FGoal;
  while (!LineIsClear(p)) {
    TPoint back = StepBack(p);
    if (back == p) {  // the start, and still no clear line: never walk it
      FSegment.clear();
      break;
    }
    p = back;
  }
  FWaypoint = p;
  if (p == FGoal) FVisit.clear();
}

bool TZULPathFinder::LineIsClear(TPoint p) {
  // A digital line walked from p towards the waypoint.  The accumulators
  // start at the deltas, not at half the length, and the codes are stored
  // from the last entry down, each the reverse of the step just taken, so
  // the segment read upwards walks from the waypoint to p.
  int32_t dx = FWaypoint.X - p.X, dy = FWaypoint.Y - p.Y;
  int32_t sx = 1, sy = 1;
  if (dx <= 0) {
    sx = -1;
    dx = -dx;
  }
  if (dy <= 0) {
    sy = -1;
    dy = -dy;
  }
  const int32_t n = std::max(dx, dy);
  FSegment.assign(std::size_t(n), 0);
  int32_t ax = dx, ay = dy;
  for (int32_t k = n - 1; k >= 0; --k) {
    ax += dx;
    ay += dy;
    int32_t code = 0;
    if (ax > n) {
      ax -= n;
      p.X += sx;
      code = sx < 0 ? 3 : 7;
    }
    if (ay > n) {
      ay -= n;
      p.Y += sy;
      if (code == 0)
        code = sy < 0 ? 5 : 1;
      else if (code == 3)
        code = sy < 0 ? 4 : 2;
      else
        code = sy < 0 ? 6 : 8;
    }
    FSegment[std::size_t(k)] = code;
    if (!Map->IsWalkable(p)) return false;
  }
  return true;
}

bool TZULPathFinder::NextStep(TPoint& cell, int32_t& direction) {
  if (!FWalking) return false;
  ++FStepIndex;
  if (FStepIndex >= int32_t(FSegment.size())) {
    FStepIndex = 0;
    if (FVisit.empty()) {
      FWalking = false;
      return false;
    }
    PrepareSegment();
    // Only a blocked start cell leaves a segment empty: every line towards
    // it fails and the chain ends on the start itself.  There is no way out.
    if (FSegment.empty()) {
      FWalking = false;
      return false;
    }
  }
  direction = FSegment[std::size_t(FStepIndex)] - 1;
  FPosition = FPosition + NeighbourOffsets[std::size_t(direction)];
  cell = FPosition;
  return true;
}
