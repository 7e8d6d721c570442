#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

#include "world/ZULPathFinder.h"

std::ostream& operator<<(std::ostream& out, const TPoint& p) {
  return out << "(" << p.X << ", " << p.Y << ")";
}

namespace {

// A small map of chosen blocked cells that records every question, so the
// order in which the search expands cells can be followed.
class TGridMap : public TMap {
 public:
  TGridMap(int32_t width, int32_t height) {
    Width = width;
    Height = height;
  }
  bool IsWalkable(const TPoint& cell) const override {
    if (!Contains(cell)) ADD_FAILURE() << "asked about " << cell;
    Queries.push_back(cell);
    return !Blocked.count({cell.X, cell.Y});
  }
  std::set<std::pair<int32_t, int32_t>> Blocked;
  mutable std::vector<TPoint> Queries;
};

// The cells and directions NextStep hands out until it says false.
std::vector<std::pair<TPoint, int32_t>> Walk(TZULPathFinder& finder) {
  std::vector<std::pair<TPoint, int32_t>> steps;
  TPoint cell;
  int32_t direction = 0;
  while (steps.size() < 1000 && finder.NextStep(cell, direction)) steps.push_back({cell, direction});
  return steps;
}

TEST(ZULPathFinder, OpenFieldWalksAreStraightAndEndOnTheGoal) {
  TMap256 map;
  TZULPathFinder finder;
  finder.Map = &map;
  ASSERT_TRUE(finder.FindPath({127, 127}, {130, 128}));
  using TSteps = std::vector<std::pair<TPoint, int32_t>>;
  EXPECT_EQ(Walk(finder), (TSteps{{{128, 128}, 3}, {{129, 128}, 2}, {{130, 128}, 2}}));
  TPoint cell{1, 2};
  int32_t direction = 9;
  EXPECT_FALSE(finder.NextStep(cell, direction));  // used up, outputs untouched
  EXPECT_EQ(cell, (TPoint{1, 2}));
  EXPECT_EQ(direction, 9);

  ASSERT_TRUE(finder.FindPath({127, 127}, {127, 120}));
  TSteps steps = Walk(finder);
  ASSERT_EQ(steps.size(), 7u);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(steps[i], (std::pair{TPoint{127, 126 - i}, 0}));

  // Rejected searches change nothing: a walk in progress goes on.
  ASSERT_TRUE(finder.FindPath({10, 10}, {10, 12}));
  EXPECT_FALSE(finder.FindPath({5, 5}, {5, 5}));
  EXPECT_FALSE(finder.FindPath({5, 5}, {256, 5}));
  EXPECT_FALSE(finder.FindPath({-1, 5}, {5, 5}));
  EXPECT_EQ(Walk(finder), (TSteps{{{10, 11}, 4}, {{10, 12}, 4}}));
}

TEST(ZULPathFinder, WallIsWalkedAroundInStraightSegmentsEndToEnd) {
  TMap256 map;
  for (int y = 100; y <= 150; ++y) map.Cells[130 * 256 + y] = 1;
  TZULPathFinder finder;
  finder.Map = &map;
  ASSERT_TRUE(finder.FindPath({125, 127}, {135, 127}));
  // A segment is a digital line: as many steps as its longer side, starting
  // where the walker stands and ending on its waypoint.
  struct TSegment {
    TPoint From, To;
    int Steps;
  };
  std::vector<TSegment> segments;
  TPoint here{125, 127}, cell;
  int32_t direction = 0;
  while (finder.NextStep(cell, direction)) {
    if (finder.StepIndex() == 0) segments.push_back({here, finder.Waypoint(), 0});
    const TPoint& offset = NeighbourOffsets[std::size_t(direction)];
    EXPECT_EQ(cell, (TPoint{here.X + offset.X, here.Y + offset.Y}));
    EXPECT_TRUE(map.IsWalkable(cell)) << cell;
    ++segments.back().Steps;
    here = cell;
  }
  EXPECT_EQ(here, (TPoint{135, 127}));
  ASSERT_GE(segments.size(), 2u);
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const TSegment& s = segments[i];
    EXPECT_EQ(i + 1 < segments.size() ? segments[i + 1].From : here, s.To) << i;
    EXPECT_EQ(s.Steps, std::max(std::abs(s.To.X - s.From.X), std::abs(s.To.Y - s.From.Y))) << i;
  }
}

TEST(ZULPathFinder, BlockedGoalExpandsEveryReachableCellTiesToTheLowestIndex) {
  // 5 x 3; walkable: the start (2, 2), (1, 1), (2, 1), (3, 1), (0, 0), (4, 0).
  // The goal (2, 0) is blocked.
  TGridMap map(5, 3);
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 3; ++y) map.Blocked.insert({x, y});
  for (auto cell : {std::pair{2, 2}, {2, 1}, {3, 1}, {1, 1}, {0, 0}, {4, 0}}) map.Blocked.erase(cell);
  TZULPathFinder finder;
  finder.Map = &map;
  EXPECT_FALSE(finder.FindPath({2, 2}, {2, 0}));
  // (1, 1) and (3, 1) tie at 2, as do (0, 0) and (4, 0) at 4.  Taking (2, 1)
  // moved (1, 1) from the end to index 0, so it goes first; then (0, 0)
  // fills index 0 and goes before (4, 0), appended behind it.
  std::vector<TPoint> expected = {{2, 1}, {3, 1}, {3, 2}, {1, 2}, {1, 1},          // the start
                                  {2, 0}, {3, 0}, {3, 2}, {1, 2}, {1, 0},          // (2, 1)
                                  {1, 0}, {2, 0}, {1, 2}, {0, 2}, {0, 1}, {0, 0},  // (1, 1)
                                  {3, 0}, {4, 0}, {4, 1}, {4, 2}, {3, 2}, {2, 0},  // (3, 1)
                                  {1, 0}, {0, 1},                                  // (0, 0)
                                  {4, 1}, {3, 0}};  // (4, 0), and Open is empty
  EXPECT_EQ(map.Queries, expected);
  // A failed search leaves nothing to walk.
  TPoint cell{9, 9};
  int32_t direction = 0;
  EXPECT_FALSE(finder.NextStep(cell, direction));
  EXPECT_EQ(cell, (TPoint{9, 9}));
}

TEST(ZULPathFinder, BlockedStartCellGivesNoSteps) {
  TGridMap map(8, 8);
  map.Blocked.insert({1, 1});
  TZULPathFinder finder;
  finder.Map = &map;
  // The search leaves the start, but no clear line leads out of it.
  ASSERT_TRUE(finder.FindPath({1, 1}, {5, 4}));
  EXPECT_TRUE(Walk(finder).empty());
}

}  // namespace
