// Players on the open field with a hand-moved clock: step durations, late
// frames that cross several cells, the wrapped tick counter, walks that end,
// fail or change goal, and the list that finds and forgets players.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CharacterFiles.h"
#include "platform/Messages.h"
#include "platform/Tick.h"
#include "world/ZULPlayers.h"

namespace {

// Writes down every hook call with what the client would send.
class TRecordingPlayer : public TZULPlayer {
 public:
  using TZULPlayer::TZULPlayer;
  void MoveStarted() override {
    Events.push_back("started " + std::to_string(PathFinder->Goal().X) + "," +
                     std::to_string(PathFinder->Goal().Y));
  }
  void MoveStopped() override {
    TZULPlayer::MoveStopped();
    Events.push_back("stopped " + std::to_string(X) + "," + std::to_string(Y) + " dir " +
                     std::to_string(Direction));
  }
  std::vector<std::string> Events;
};
using TEvents = std::vector<std::string>;

class ZULPlayers : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Files.Valid()); }

  TCharacterFiles Files;
  TTestClock Clock;
  const uint32_t Start = Clock.Now;
  TMap256 Map;
  TZULPlayerList List;
};

TEST_F(ZULPlayers, StraightStepTakes540MsAndDiagonalOne764) {
  TRecordingPlayer straight(&Map, &List), diagonal(&Map, &List);
  EXPECT_EQ(straight.Model->Motion->FileName, "data\\qelt-3d\\Parle.M3D");
  ASSERT_TRUE(straight.MoveTo({127, 100}));
  ASSERT_TRUE(diagonal.MoveTo({140, 140}));
  EXPECT_EQ(straight.Events, TEvents{"started 127,100"});

  List.Update(Start + 270);  // half a straight step: 3 units towards -Z
  float wx, wz;
  straight.GetWorldPos(wx, wz);
  EXPECT_NEAR(wx, 6 * 127, 1e-4);
  EXPECT_NEAR(wz, 6 * 127 - 3, 1e-4);
  List.Update(Start + 539);
  EXPECT_EQ(straight.Y, 127);
  List.Update(Start + 540);
  EXPECT_EQ(straight.Y, 126);
  List.Update(Start + 763);  // sqrt(72) * 90 = 763.675
  EXPECT_EQ(diagonal.X, 127);
  List.Update(Start + 764);
  EXPECT_EQ(diagonal.X, 128);
  EXPECT_EQ(diagonal.Y, 128);
}

TEST_F(ZULPlayers, LateUpdateCrossesSeveralCellsEvenOverTheWrapOfTheClock) {
  for (uint32_t start : {Start, 0xFFFFFF00u}) {
    SCOPED_TRACE(start);
    Clock.Now = start;
    TZULPlayer player(&Map, &List);
    ASSERT_TRUE(player.MoveTo({127, 100}));
    Clock.Advance(1200);
    List.Update(Clock.Now);
    EXPECT_EQ(player.Y, 125);  // two cells, and 1.333 units into the third
    EXPECT_NEAR(player.OffsetZ, -4.0f / 3, 1e-4);
    EXPECT_EQ(player.MoveStart, Clock.Now - 120);
  }
}

TEST_F(ZULPlayers, WalkEndsStandingOnTheGoalAndTheOwnCellIsNoGoal) {
  TRecordingPlayer player(&Map, &List);
  EXPECT_FALSE(player.MoveTo({127, 127}));
  EXPECT_EQ(player.Model->Motion, Motions[AnimStand]);
  EXPECT_EQ(player.MoveStart, 0u);

  ASSERT_TRUE(player.MoveTo({129, 128}));  // a diagonal step, then a straight one
  EXPECT_TRUE(player.Moving());
  List.Update(Start + 5000);
  EXPECT_FALSE(player.Moving());
  EXPECT_EQ(player.Model->Motion, Motions[AnimStand]);
  EXPECT_EQ((TPoint{player.X, player.Y}), (TPoint{129, 128}));
  EXPECT_EQ(player.OffsetX, 0);
  EXPECT_EQ(player.Events, (TEvents{"started 129,128", "stopped 129,128 dir 2"}));
}

TEST_F(ZULPlayers, NewGoalWhileMovingTakesOverAtTheNextCellBoundary) {
  TRecordingPlayer player(&Map, &List);
  ASSERT_TRUE(player.MoveTo({127, 120}));
  List.Update(Start + 300);
  ASSERT_TRUE(player.MoveTo({130, 126}));
  List.Update(Start + 400);  // the step into (127, 126) goes on
  EXPECT_NEAR(player.OffsetZ, -400.0f / 90, 1e-4);
  EXPECT_EQ(player.Events.size(), 1u);

  List.Update(Start + 560);
  EXPECT_EQ(player.Y, 126);
  EXPECT_EQ(player.Direction, 2);
  EXPECT_NEAR(player.OffsetX, 20.0f / 90, 1e-4);  // the 20 ms over carry on
  EXPECT_EQ(player.Events, (TEvents{"started 127,120", "stopped 127,126 dir 2", "started 130,126"}));
  List.Update(Start + 560 + 3 * 540);
  EXPECT_EQ(player.X, 130);
  EXPECT_EQ(player.Events.back(), "stopped 130,126 dir 2");
}

TEST_F(ZULPlayers, FailedNewGoalWhileMovingStopsOnTheLastCellAndSaysSo) {
  TRecordingPlayer player(&Map, &List);
  ASSERT_TRUE(player.MoveTo({127, 110}));
  List.Update(Start + 740);
  ASSERT_EQ(player.Y, 126);
  EXPECT_FALSE(player.MoveTo({127, 125}));  // the cell it is entering
  EXPECT_FALSE(player.Moving());
  List.Update(Start + 5000);
  EXPECT_EQ(player.Y, 126);
  EXPECT_EQ(player.OffsetZ, 0);
  // The others were told of the walk, so they hear where it ended.
  EXPECT_EQ(player.Events, (TEvents{"started 127,110", "stopped 127,126 dir 0"}));
}

TEST_F(ZULPlayers, FindNamesTheMissingNumberAndDestroyedPlayersLeaveTheList) {
  {
    TMessageCapture capture;
    EXPECT_EQ(List.Find(12), nullptr);
    EXPECT_EQ(capture.Texts, TEvents{"Joueur #12 introuvable"});
  }
  auto first = std::make_unique<TZULPlayer>(&Map, &List);
  auto second = std::make_unique<TZULPlayer>(&Map, &List);
  first->Id = second->Id = 12;
  EXPECT_EQ(List.Find(12), first.get());
  ASSERT_TRUE(first->MoveTo({127, 100}));
  first.reset();
  EXPECT_EQ(List.Find(12), second.get());
  EXPECT_EQ(List.Count(), 1);
  List.Update(Start + 2000);
}

}  // namespace
