#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <set>
#include <utility>
#include <vector>

#include "world/ZULPathFinder.h"

// Cells print as (X, Y) in failure messages.
std::ostream& operator<<(std::ostream& out, const TPoint& p) {
  return out << "(" << p.X << ", " << p.Y << ")";
}

namespace {

// A small map with chosen blocked cells that records every question asked,
// so a test can follow the order in which the search expands cells.
class TGridMap : public TMap {
 public:
  TGridMap(int32_t width, int32_t height) {
    Width = width;
    Height = height;
  }
  bool IsWalkable(const TPoint& cell) const override {
    if (!Contains(cell)) ADD_FAILURE() << "asked about (" << cell.X << ", " << cell.Y << ")";
    Queries.push_back(cell);
    return !Blocked.count({cell.X, cell.Y});
  }
  void Block(int32_t x, int32_t y) { Blocked.insert({x, y}); }

  std::set<std::pair<int32_t, int32_t>> Blocked;
  mutable std::vector<TPoint> Queries;
};

struct TStep {
  TPoint Cell;
  int32_t Direction;
  friend bool operator==(const TStep&, const TStep&) = default;
};

std::ostream& operator<<(std::ostream& out, const TStep& s) {
  return out << s.Cell << " dir " << s.Direction;
}

// Every step NextStep hands out until it says false (bounded, in case it never does).
std::vector<TStep> Walk(TZULPathFinder& finder) {
  std::vector<TStep> steps;
  TPoint cell{-7, -7};
  int32_t direction = -7;
  while (steps.size() < 100000 && finder.NextStep(cell, direction)) steps.push_back({cell, direction});
  return steps;
}

TEST(ZULPathFinder, OpenFieldPathsAreOneStraightSegment) {
  TMap256 map;
  TZULPathFinder finder;
  finder.Map = &map;

  ASSERT_TRUE(finder.FindPath({127, 127}, {130, 128}));
  // The goal is in a clear line from the start: one segment, tree dropped.
  EXPECT_EQ(finder.Waypoint(), (TPoint{130, 128}));
  EXPECT_EQ(finder.Segment().size(), 3u);
  EXPECT_EQ(finder.Visit({127, 127}), 0);
  TPoint cell{1, 2};
  int32_t direction = 9;
  std::vector<TStep> expected = {{{128, 128}, 3}, {{129, 128}, 2}, {{130, 128}, 2}};
  for (const TStep& step : expected) {
    ASSERT_TRUE(finder.NextStep(cell, direction));
    EXPECT_EQ((TStep{cell, direction}), step);
  }
  // Past the goal: false, and the outputs stay as they were, however often asked.
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(finder.NextStep(cell, direction));
    EXPECT_EQ((TStep{cell, direction}), (TStep{{130, 128}, 2}));
  }

  ASSERT_TRUE(finder.FindPath({127, 127}, {127, 120}));
  std::vector<TStep> steps = Walk(finder);
  ASSERT_EQ(steps.size(), 7u);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(steps[i], (TStep{{127, 126 - i}, 0}));

  // A long diagonal-ish line mixes exactly two neighbouring directions and ends on the goal.
  ASSERT_TRUE(finder.FindPath({0, 255}, {255, 3}));
  steps = Walk(finder);
  ASSERT_EQ(steps.size(), 255u);
  EXPECT_EQ(steps.back().Cell, (TPoint{255, 3}));
  for (const TStep& s : steps) EXPECT_TRUE(s.Direction == 1 || s.Direction == 2) << s;
}

TEST(ZULPathFinder, RejectedStartOrGoalChangesNothing) {
  TMap256 map;
  TZULPathFinder finder;
  finder.Map = &map;
  EXPECT_FALSE(finder.FindPath({10, 10}, {10, 10}));
  EXPECT_FALSE(finder.Walking());

  ASSERT_TRUE(finder.FindPath({10, 10}, {10, 14}));
  TPoint cell;
  int32_t direction = 0;
  ASSERT_TRUE(finder.NextStep(cell, direction));
  EXPECT_FALSE(finder.FindPath({10, 11}, {256, 11}));
  EXPECT_FALSE(finder.FindPath({10, 11}, {10, -1}));
  EXPECT_FALSE(finder.FindPath({-1, 0}, {10, 11}));
  EXPECT_FALSE(finder.FindPath({10, 11}, {10, 11}));
  // The walk in progress goes on untouched.
  EXPECT_EQ(finder.Goal(), (TPoint{10, 14}));
  std::vector<TStep> rest = Walk(finder);
  ASSERT_EQ(rest.size(), 3u);
  EXPECT_EQ(rest.back(), (TStep{{10, 14}, 4}));
}

TEST(ZULPathFinder, WallIsWalkedAroundInClearStraightSegments) {
  TMap256 map;
  for (int y = 100; y <= 150; ++y) map.Cells[130 * 256 + y] = 1;
  TZULPathFinder finder;
  finder.Map = &map;
  const TPoint start{125, 127}, goal{135, 127};
  ASSERT_TRUE(finder.FindPath(start, goal));

  // A segment is a straight digital line: as many steps as its longer side,
  // in one direction or two neighbouring ones, ending on its waypoint.
  struct TSegmentWalk {
    TPoint From, To;
    int Steps = 0;
    std::set<int32_t> Directions;
  };
  std::vector<TSegmentWalk> segments;
  TPoint here = start;
  TPoint cell;
  int32_t direction = 0;
  while (finder.NextStep(cell, direction)) {
    if (finder.StepIndex() == 0) segments.push_back({here, finder.Waypoint(), 0, {}});
    ASSERT_FALSE(segments.empty());
    TPoint offset = NeighbourOffsets[std::size_t(direction)];
    EXPECT_EQ(cell, (TPoint{here.X + offset.X, here.Y + offset.Y}));
    EXPECT_TRUE(map.IsWalkable(cell)) << cell;
    segments.back().Steps++;
    segments.back().Directions.insert(direction);
    here = cell;
    ASSERT_LT(segments.back().Steps, 1000);
  }
  EXPECT_EQ(here, goal);
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const TSegmentWalk& s = segments[i];
    SCOPED_TRACE(testing::Message() << "segment " << i << " " << s.From << " to " << s.To);
    TPoint end = i + 1 < segments.size() ? segments[i + 1].From : here;
    EXPECT_EQ(end, s.To);
    EXPECT_EQ(s.Steps, std::max(std::abs(s.To.X - s.From.X), std::abs(s.To.Y - s.From.Y)));
    ASSERT_LE(s.Directions.size(), 2u);
    int gap = std::abs(*s.Directions.begin() - *s.Directions.rbegin());
    EXPECT_TRUE(gap <= 1 || gap == 7) << gap;
  }
  EXPECT_GE(segments.size(), 2u);
  EXPECT_FALSE(finder.NextStep(cell, direction));
  EXPECT_EQ(cell, goal);
}

TEST(ZULPathFinder, BlockedGoalExpandsEveryReachableCellTiesToLowestIndex) {
  // 5 x 3 map; only these cells are walkable besides the start (2, 2):
  //   (0,0) .  .  . (4,0)      row 0, the goal (2, 0) blocked
  //     . (1,1)(2,1)(3,1) .    row 1
  //     .  .  S  .  .          row 2
  TGridMap map(5, 3);
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 3; ++y) map.Block(x, y);
  for (auto [x, y] : {std::pair{2, 2}, {2, 1}, {3, 1}, {1, 1}, {0, 0}, {4, 0}}) map.Blocked.erase({x, y});
  TZULPathFinder finder;
  finder.Map = &map;
  EXPECT_FALSE(finder.FindPath({2, 2}, {2, 0}));

  // (1,1) and (3,1) tie at 2, and so do (0,0) and (4,0) at 4.  Taking (2,1)
  // moved (1,1) from the end to index 0, so (1,1) goes before (3,1); then
  // (0,0) fills index 0 and goes before (4,0), appended after it.
  std::vector<TPoint> expected = {{2, 1}, {3, 1}, {3, 2}, {1, 2}, {1, 1},          // expanding the start
                                  {2, 0}, {3, 0}, {3, 2}, {1, 2}, {1, 0},          // (2, 1)
                                  {1, 0}, {2, 0}, {1, 2}, {0, 2}, {0, 1}, {0, 0},  // (1, 1)
                                  {3, 0}, {4, 0}, {4, 1}, {4, 2}, {3, 2}, {2, 0},  // (3, 1)
                                  {1, 0}, {0, 1},                                  // (0, 0)
                                  {4, 1}, {3, 0}};  // (4, 0), then Open is empty
  EXPECT_EQ(map.Queries, expected);
  EXPECT_EQ(finder.Visit({4, 0}), 3);  // start 1, (3, 1) 2
  EXPECT_EQ(finder.Visit({2, 0}), 0);
  // A failed search leaves nothing to walk.
  EXPECT_FALSE(finder.Walking());
  TPoint cell{9, 9};
  int32_t direction = 9;
  EXPECT_FALSE(finder.NextStep(cell, direction));
  EXPECT_EQ(cell, (TPoint{9, 9}));
}

TEST(ZULPathFinder, EnclosedGoalIsNotReachedAndEveryOutsideCellIsDiscovered) {
  TGridMap map(24, 20);
  const TPoint goal{15, 8};
  for (int dx = -1; dx <= 1; ++dx)
    for (int dy = -1; dy <= 1; ++dy)
      if (dx || dy) map.Block(goal.X + dx, goal.Y + dy);
  TZULPathFinder finder;
  finder.Map = &map;
  EXPECT_FALSE(finder.FindPath({2, 3}, goal));
  int undiscovered = 0;
  for (int x = 0; x < map.Width; ++x)
    for (int y = 0; y < map.Height; ++y)
      if (!map.Blocked.count({x, y}) && !(TPoint{x, y} == goal) && finder.Visit({x, y}) == 0) ++undiscovered;
  EXPECT_EQ(undiscovered, 0);
  EXPECT_EQ(finder.Visit(goal), 0);

  // The ring opened on one side: found, and the walk ends on the goal.
  map.Blocked.erase({goal.X - 1, goal.Y});
  ASSERT_TRUE(finder.FindPath({2, 3}, goal));
  std::vector<TStep> steps = Walk(finder);
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.back().Cell, goal);
  for (const TStep& s : steps) EXPECT_FALSE(map.Blocked.count({s.Cell.X, s.Cell.Y})) << s;
}

TEST(ZULPathFinder, BlockedStartCellGivesNoSteps) {
  TGridMap map(8, 8);
  map.Block(1, 1);
  TZULPathFinder finder;
  finder.Map = &map;
  // The search itself leaves the start, but no straight line leads out of a
  // blocked cell, so there is nothing to walk.
  ASSERT_TRUE(finder.FindPath({1, 1}, {5, 4}));
  TPoint cell{0, 0};
  int32_t direction = 0;
  EXPECT_FALSE(finder.NextStep(cell, direction));
  EXPECT_FALSE(finder.NextStep(cell, direction));
  EXPECT_EQ(cell, (TPoint{0, 0}));
}

TEST(ZULPathFinder, NewSearchMidWalkStartsAfresh) {
  TMap256 map;
  TZULPathFinder finder;
  finder.Map = &map;
  ASSERT_TRUE(finder.FindPath({50, 50}, {60, 50}));
  TPoint cell;
  int32_t direction = 0;
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(finder.NextStep(cell, direction));
  ASSERT_EQ(cell, (TPoint{54, 50}));
  ASSERT_TRUE(finder.FindPath(cell, {54, 47}));
  std::vector<TStep> steps = Walk(finder);
  EXPECT_EQ(steps, (std::vector<TStep>{{{54, 49}, 0}, {{54, 48}, 0}, {{54, 47}, 0}}));
}

}  // namespace
