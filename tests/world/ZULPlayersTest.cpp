// Players on the open field with a hand-moved clock: how long steps take,
// late frames that cross several cells, the wrapped tick counter, walks that
// end, fail or change goal, and the list that finds and forgets players.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CharacterFiles.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Tick.h"
#include "world/ZULPlayers.h"

namespace {

// Writes down every hook call with the state the client would send.
class TRecordingPlayer : public TZULPlayer {
 public:
  using TZULPlayer::TZULPlayer;
  void MoveStarted() override {
    TZULPlayer::MoveStarted();
    const TPoint& goal = PathFinder->Goal();
    Events.push_back("started " + std::to_string(goal.X) + "," + std::to_string(goal.Y));
  }
  void MoveStopped() override {
    TZULPlayer::MoveStopped();
    Events.push_back("stopped " + std::to_string(X) + "," + std::to_string(Y) + " dir " +
                     std::to_string(Direction));
  }
  std::vector<std::string> Events;
};

class ZULPlayers : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Files.Valid()); }

  TCharacterFiles Files;
  TMap256 Map;
  TZULPlayerList List;
};

TEST_F(ZULPlayers, NewPlayerStandsOnTheMiddleCellTalking) {
  TRecordingPlayer player(&Map, &List);
  ASSERT_EQ(List.Count(), 1);
  EXPECT_EQ(List[0], &player);
  EXPECT_EQ(player.X, 127);
  EXPECT_EQ(player.Y, 127);
  EXPECT_FALSE(player.Moving());
  EXPECT_EQ(player.Model->Animation, 0);
  EXPECT_EQ(player.Model->Motion->FileName, "data\\qelt-3d\\Parle.M3D");
  ASSERT_EQ(player.Model->Meshes.Count(), 4);
  EXPECT_EQ(player.Model->Meshes[3], player.HairMesh);
  EXPECT_EQ(player.HairMesh->Mesh()->FileName, "data\\qelt-3d\\Cheveux5.L3D");
  EXPECT_EQ(player.BeardMesh->Textures->Count(), 1);
  // The shared table was filled on the way, in animation order.
  for (std::size_t i = 0; i < Motions.size(); ++i) {
    ASSERT_NE(Motions[i], nullptr);
    EXPECT_EQ(Motions[i]->FileName, MotionFiles[i]);
  }
  float wx = 0, wz = 0;
  player.GetWorldPos(wx, wz);
  EXPECT_EQ(wx, 762);
  EXPECT_EQ(wz, 762);
  EXPECT_TRUE(player.Events.empty());
}

TEST_F(ZULPlayers, StraightStepTakes540MsAndDiagonalOne764) {
  TTestClock clock;
  const uint32_t start = clock.Now;
  TRecordingPlayer straight(&Map, &List), diagonal(&Map, &List);
  ASSERT_TRUE(straight.MoveTo({127, 100}));
  ASSERT_TRUE(diagonal.MoveTo({140, 140}));
  EXPECT_EQ(straight.MoveStart, start);
  EXPECT_TRUE(straight.Moving());
  EXPECT_EQ(straight.Direction, 0);
  EXPECT_EQ(diagonal.Direction, 3);
  EXPECT_EQ(straight.Events, std::vector<std::string>{"started 127,100"});

  List.Update(start + 270);  // half a straight step: 3 units towards -Z
  EXPECT_NEAR(straight.OffsetZ, -3, 1e-5);
  EXPECT_NEAR(straight.OffsetX, 0, 1e-5);
  float wx, wz;
  straight.GetWorldPos(wx, wz);
  EXPECT_NEAR(wz, 762 - 3, 1e-4);

  List.Update(start + 539);
  EXPECT_EQ(straight.Y, 127);
  List.Update(start + 540);
  EXPECT_EQ(straight.Y, 126);
  EXPECT_EQ(straight.PathCell, (TPoint{127, 125}));

  List.Update(start + 763);  // sqrt(72) * 90 = 763.675
  EXPECT_EQ(diagonal.X, 127);
  EXPECT_GT(diagonal.OffsetX, 5.99f);
  EXPECT_GT(diagonal.OffsetZ, 5.99f);
  List.Update(start + 764);
  EXPECT_EQ(diagonal.X, 128);
  EXPECT_EQ(diagonal.Y, 128);
  EXPECT_EQ(diagonal.MoveStart, start + 764);  // 0.004 units over: under a millisecond
}

TEST_F(ZULPlayers, LateUpdateCrossesSeveralCellsAndCarriesTheRest) {
  TTestClock clock;
  TZULPlayer player(&Map, &List);
  ASSERT_TRUE(player.MoveTo({127, 100}));
  clock.Advance(1200);
  List.Update(clock.Now);
  EXPECT_EQ(player.X, 127);
  EXPECT_EQ(player.Y, 125);
  EXPECT_NEAR(player.OffsetZ, -4.0f / 3, 1e-4);
  EXPECT_EQ(player.MoveStart, clock.Now - 120);
  EXPECT_TRUE(player.Moving());
}

TEST_F(ZULPlayers, ElapsedTimeSurvivesTheWrapOfTheTickCounter) {
  TTestClock clock(0xFFFFFF00u);
  TZULPlayer player(&Map, &List);
  ASSERT_TRUE(player.MoveTo({130, 127}));
  clock.Advance(600);
  ASSERT_LT(clock.Now, 1000u);  // wrapped
  List.Update(clock.Now);
  EXPECT_EQ(player.X, 128);
  EXPECT_NEAR(player.OffsetX, 60.0f / 90, 1e-4);
  EXPECT_EQ(player.MoveStart, clock.Now - 60);
}

TEST_F(ZULPlayers, WalkEndsOnTheGoalStandingAndFacingItsLastStep) {
  TTestClock clock;
  TRecordingPlayer player(&Map, &List);
  ASSERT_TRUE(player.MoveTo({129, 128}));  // a diagonal step, then a straight one
  clock.Advance(764 + 540 + 2000);
  List.Update(clock.Now);
  EXPECT_EQ(player.X, 129);
  EXPECT_EQ(player.Y, 128);
  EXPECT_EQ(player.Direction, 2);
  EXPECT_FALSE(player.Moving());
  EXPECT_EQ(player.Model->Motion, Motions[AnimStand]);
  EXPECT_EQ(player.OffsetX, 0);
  EXPECT_EQ(player.OffsetZ, 0);
  EXPECT_EQ(player.Events, (std::vector<std::string>{"started 129,128", "stopped 129,128 dir 2"}));
  List.Update(clock.Now + 5000);  // standing: nothing more happens
  EXPECT_EQ(player.Events.size(), 2u);
}

TEST_F(ZULPlayers, MoveToTheOwnCellFailsAndLeavesThePlayerStanding) {
  TTestClock clock;
  TRecordingPlayer player(&Map, &List);
  player.MoveStart = 55;
  EXPECT_FALSE(player.MoveTo({127, 127}));
  EXPECT_FALSE(player.Moving());
  EXPECT_EQ(player.Model->Animation, AnimStand);
  EXPECT_EQ(player.Model->Motion, Motions[AnimStand]);
  EXPECT_EQ(player.MoveStart, 0u);
  EXPECT_TRUE(player.Events.empty());
}

TEST_F(ZULPlayers, NewGoalWhileMovingTakesOverAtTheNextCellBoundary) {
  TTestClock clock;
  const uint32_t start = clock.Now;
  TRecordingPlayer player(&Map, &List);
  ASSERT_TRUE(player.MoveTo({127, 120}));
  List.Update(start + 300);
  ASSERT_TRUE(player.MoveTo({130, 126}));
  EXPECT_TRUE(player.Retarget);
  // The step in progress goes on into (127, 126).
  EXPECT_EQ(player.PathCell, (TPoint{127, 126}));
  EXPECT_EQ(player.Direction, 0);
  EXPECT_EQ(player.MoveStart, start);
  List.Update(start + 400);
  EXPECT_NEAR(player.OffsetZ, -400.0f / 90, 1e-4);

  List.Update(start + 560);
  EXPECT_EQ(player.Y, 126);
  EXPECT_EQ(player.Direction, 2);
  EXPECT_EQ(player.PathCell, (TPoint{128, 126}));
  EXPECT_FALSE(player.Retarget);
  EXPECT_NEAR(player.OffsetX, 20.0f / 90, 1e-4);  // the 20 ms over carry into the new step
  EXPECT_EQ(player.Events,
            (std::vector<std::string>{"started 127,120", "stopped 127,126 dir 2", "started 130,126"}));

  List.Update(start + 560 + 3 * 540);
  EXPECT_EQ(player.X, 130);
  EXPECT_FALSE(player.Moving());
  EXPECT_EQ(player.Events.back(), "stopped 130,126 dir 2");
  EXPECT_EQ(player.Events.size(), 4u);
}

TEST_F(ZULPlayers, FailedNewGoalWhileMovingStopsOnTheLastCellAndSaysSo) {
  TTestClock clock;
  TRecordingPlayer player(&Map, &List);
  Map.Cells[140 * 256 + 140] = 1;
  ASSERT_TRUE(player.MoveTo({127, 110}));
  clock.Advance(540 + 200);
  List.Update(clock.Now);
  ASSERT_EQ(player.Y, 126);
  EXPECT_FALSE(player.MoveTo({140, 140}));
  EXPECT_FALSE(player.Moving());
  EXPECT_EQ(player.Y, 126);  // the step into (127, 125) is dropped
  EXPECT_EQ(player.OffsetZ, 0);
  EXPECT_EQ(player.MoveStart, 0u);
  // The others were told about the walk, so they hear where it stopped.
  EXPECT_EQ(player.Events, (std::vector<std::string>{"started 127,110", "stopped 127,126 dir 0"}));
  clock.Advance(5000);
  List.Update(clock.Now);
  EXPECT_EQ(player.Y, 126);
}

TEST_F(ZULPlayers, AnotherMotionHaltsTheWalkWhereItStands) {
  TTestClock clock;
  TZULPlayer player(&Map, &List);
  ASSERT_TRUE(player.MoveTo({127, 110}));
  List.Update(clock.Now + 300);
  ASSERT_NE(player.OffsetZ, 0);
  player.Model->SetAnimation(AnimFall);
  List.Update(clock.Now + 5000);
  EXPECT_EQ(player.Y, 127);
  EXPECT_EQ(player.OffsetZ, 0);
}

TEST_F(ZULPlayers, FindNamesTheMissingNumberAndDestroyedPlayersLeaveTheList) {
  TTestClock clock;
  {
    TMessageCapture capture;
    EXPECT_EQ(List.Find(12), nullptr);
    EXPECT_EQ(capture.Texts, std::vector<std::string>{"Joueur #12 introuvable"});
  }
  auto* first = new TZULPlayer(&Map, &List);
  auto* second = new TZULPlayer(&Map, &List);
  auto* third = new TZULPlayer(&Map, &List);
  first->Id = 4;
  second->Id = 12;
  third->Id = 12;
  EXPECT_EQ(List.Find(12), second);
  ASSERT_TRUE(second->MoveTo({127, 100}));
  delete second;
  ASSERT_EQ(List.Count(), 2);
  EXPECT_EQ(List.Find(12), third);
  List.Update(clock.Now + 2000);  // the destroyed player is not touched
  delete first;
  delete third;
  {
    TMessageCapture capture;
    EXPECT_EQ(List.Find(4), nullptr);
    EXPECT_EQ(capture.Texts.size(), 1u);
  }
}

TEST_F(ZULPlayers, MissingModelFileFailsCreationAndJoinsNothing) {
  ASSERT_EQ(std::remove(Files.Path("data\\qelt-3d\\Barbe1.L3D").c_str()), 0);
  EXPECT_THROW(std::make_unique<TZULPlayer>(&Map, &List), Exception);
  EXPECT_EQ(List.Count(), 0);
}

TEST_F(ZULPlayers, PlayersOutliveTheirList) {
  auto list = std::make_unique<TZULPlayerList>();
  TZULPlayer player(&Map, list.get());
  list.reset();
  EXPECT_EQ(player.Owner, nullptr);
}

TEST(ZULPlayerTables, DirectionsAgreeWithTheNeighbourTable) {
  EXPECT_FLOAT_EQ(DiagonalStep, 8.485281f);
  for (std::size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(DirectionAngles[i], 90.0f - 45.0f * float(i));
    EXPECT_NEAR(double(DirectionVectors[i].Cos), NeighbourOffsets[i].X * (i % 2 ? M_SQRT1_2 : 1), 1e-15);
    EXPECT_NEAR(double(DirectionVectors[i].Sin), NeighbourOffsets[i].Y * (i % 2 ? M_SQRT1_2 : 1), 1e-15);
  }
}

}  // namespace
