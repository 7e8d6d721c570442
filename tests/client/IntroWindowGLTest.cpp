// The intro screen inside a connected client window: which clicks count on
// its menus, what each entry does (creation page, closing the window
// without a goodbye, race, hair and option cycles, playing), the meshes it
// puts into the local player's own model, the bolt's one-second phases, and
// screenshots of the title scene and the creation page.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include "GameWindowClientSupport.h"
#include "client/Clients.h"
#include "client/FrameClock.h"
#include "client/IntroWindow.h"
#include "effects/GLGui.h"
#include "effects/Particules.h"
#include "models/L3DPlayer.h"
#include "platform/Text1252.h"
#include "world/ZULPlayers.h"

namespace {

// On a 640 by 480 window the middle third runs from 213 to 426 and the
// menu's rows from the middle, 20 pixels each.
constexpr int Left = 213, Right = 426;
constexpr int Row0 = 240, Row1 = 260, Row2 = 280, Row3 = 300, Row4 = 320;
constexpr int Middle = 320;

class IntroWindowTest : public ScreensTest {
 protected:
  // After the first frame, which makes every resource, on the creation page.
  void OpenCreation() {
    Paint();
    Click(Middle, Row0);
    ASSERT_EQ(Intro().Menu, TIntroWindow::MenuCreation);
  }
  std::string MeshFile(const TTexturedMesh* mesh) const { return mesh->Mesh() ? mesh->Mesh()->FileName : ""; }
  // The white pixels of a frame: the bolt's line and its glows' centres.
  int WhitePixels() {
    Paint();
    QImage frame = Frame();
    int count = 0;
    for (int y = 0; y < FrameHeight; ++y)
      for (int x = 0; x < FrameWidth; ++x) {
        QColor c = frame.pixelColor(x, y);
        if (c.red() > 200 && c.green() > 200 && c.blue() > 200) ++count;
      }
    return count;
  }
};

TEST_F(IntroWindowTest, OnlyTheMiddleThirdOfTheWidthCountsItsBoundsIncluded) {
  for (int x : {Left - 1, Right + 1}) {
    Click(x, Row0);
    EXPECT_EQ(Intro().Menu, TIntroWindow::MenuTitle) << "x = " << x;
  }
  Click(Middle, Row0 - 1);
  EXPECT_EQ(Intro().Menu, TIntroWindow::MenuTitle) << "above the middle";
  for (int x : {Left, Right}) {
    Intro().Menu = TIntroWindow::MenuTitle;
    Click(x, Row0 + 19);
    EXPECT_EQ(Intro().Menu, TIntroWindow::MenuCreation) << "x = " << x;
  }
}

TEST_F(IntroWindowTest, TheTitleMenuOpensTheCreationPageOrClosesTheWindowWithoutAGoodbye) {
  Paint();
  Click(Middle, Row0);
  EXPECT_EQ(Intro().Menu, TIntroWindow::MenuCreation);
  Click(Middle, Row4);
  EXPECT_EQ(Intro().Menu, TIntroWindow::MenuTitle) << "\"Annuler\" goes back";
  Click(Middle, Row0 + 40);
  EXPECT_EQ(Intro().Menu, TIntroWindow::MenuTitle) << "no third entry on the title menu";
  ASSERT_NE(Window.data(), nullptr);

  Click(Middle, Row1);
  EXPECT_TRUE(Gone());
  EXPECT_TRUE(Host.WaitClosed());
  EXPECT_TRUE(SentWithin(50).empty()) << "no leave message";
}

TEST_F(IntroWindowTest, TheFirstFrameGivesTheLocalPlayersModelTheSixMeshesOfTheCreationPage) {
  TL3DPlayer* model = Local().Model.get();
  Paint();
  ASSERT_EQ(Intro().Character, model);
  ASSERT_EQ(model->Meshes.Count(), 6);
  const TTexturedMesh* expected[] = {Intro().BodyMesh, Intro().HumanHead, Intro().ElfHead,
                                     Intro().Hair,     Intro().Beard,     Intro().Ears};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(model->Meshes[i], expected[i]) << "mesh " << i;
  EXPECT_EQ(Local().BodyMesh, Intro().BodyMesh) << "the player's handles follow the new meshes";
  EXPECT_EQ(Local().HairMesh, Intro().Hair);
  EXPECT_EQ(MeshFile(Intro().BodyMesh), "data\\qelt-3d\\Corps.L3D");
  EXPECT_EQ(Intro().BodyMesh->Textures->Items(0)->FileName, "data\\qelt-3d\\Chevalier.BMP");
  EXPECT_EQ(Intro().Ears->Textures->Items(0)->FileName, "data\\qelt-3d\\Elfe.BMP");
  EXPECT_TRUE(Intro().HumanHead->Visible);
  EXPECT_FALSE(Intro().ElfHead->Visible);
  EXPECT_FALSE(Intro().Hair->Visible);
  EXPECT_FALSE(Intro().Beard->Visible);
  EXPECT_FALSE(Intro().Ears->Visible);
  EXPECT_EQ(model->Motion->FileName, "data\\qelt-3d\\Arret.M3D");
}

TEST_F(IntroWindowTest, RaceSwitchesHeadsAndOptionAndTheOptionCyclesAsEachRaceAllows) {
  OpenCreation();
  TIntroWindow& intro = Intro();
  Click(Middle, Row0);
  EXPECT_EQ(intro.Race, TIntroWindow::RaceElf);
  EXPECT_TRUE(intro.ElfHead->Visible);
  EXPECT_FALSE(intro.HumanHead->Visible);
  EXPECT_EQ(intro.OptionLabel, "Oreilles");
  EXPECT_TRUE(intro.Ears->Visible) << "an elf always has ears";
  EXPECT_EQ(MeshFile(intro.Ears), "data\\qelt-3d\\Oreilles1.L3D");
  EXPECT_FALSE(intro.Beard->Visible);

  Click(Middle, Row0);
  EXPECT_EQ(intro.Race, TIntroWindow::RaceHuman);
  EXPECT_TRUE(intro.HumanHead->Visible);
  EXPECT_FALSE(intro.ElfHead->Visible);
  EXPECT_EQ(intro.OptionLabel, "Barbe");
  EXPECT_TRUE(intro.Beard->Visible) << "the ears' number becomes the beard's";
  EXPECT_EQ(MeshFile(intro.Beard), "data\\qelt-3d\\Barbe1.L3D");
  EXPECT_FALSE(intro.Ears->Visible);

  // A human's beard: 2, 3, none, 1.
  std::vector<std::string> beards;
  for (int click = 0; click < 4; ++click) {
    Click(Middle, Row2);
    beards.push_back(intro.Beard->Visible ? MeshFile(intro.Beard) : "none");
  }
  EXPECT_EQ(beards, (std::vector<std::string>{"data\\qelt-3d\\Barbe2.L3D", "data\\qelt-3d\\Barbe3.L3D",
                                              "none", "data\\qelt-3d\\Barbe1.L3D"}));
  // An elf's ears: from 1, 2, 3, then 1 again, never none.
  Click(Middle, Row0);
  std::vector<std::string> ears;
  for (int click = 0; click < 3; ++click) {
    Click(Middle, Row2);
    ears.push_back(intro.Ears->Visible ? MeshFile(intro.Ears) : "none");
  }
  EXPECT_EQ(ears, (std::vector<std::string>{"data\\qelt-3d\\Oreilles2.L3D", "data\\qelt-3d\\Oreilles3.L3D",
                                            "data\\qelt-3d\\Oreilles1.L3D"}));

  // The third entry is drawn with the option's name.
  TGLFont& font = *Window->Font;
  Paint();
  const QRect entry(Left, Row2, Right - Left, 16);
  const std::string label = "Oreilles";
  EXPECT_EQ(
      MaskOf(Frame(), entry, TTextColour::Red),
      MaskOf(TextFrame(font, TTextColour::Red, {{QPoint(Middle - font.TextWidth(label) / 2, Row2), label}}),
             entry, TTextColour::Red));
}

TEST_F(IntroWindowTest, NineHairClicksRunThroughTheEightStylesBackToNone) {
  OpenCreation();
  std::vector<std::string> hair;
  for (int click = 0; click < 9; ++click) {
    Click(Middle, Row1);
    hair.push_back(Intro().Hair->Visible ? MeshFile(Intro().Hair) : "none");
  }
  std::vector<std::string> expected;
  for (int style = 1; style <= 8; ++style)
    expected.push_back("data\\qelt-3d\\Cheveux" + std::to_string(style) + ".L3D");
  expected.push_back("none");
  EXPECT_EQ(hair, expected);
  EXPECT_EQ(Intro().HairIndex, -1);
}

TEST_F(IntroWindowTest, JouerMakesTheGameScreenCurrentAndTellsTheHostNothing) {
  OpenCreation();
  Click(Middle, Row1);
  Click(Middle, Row3);
  EXPECT_EQ(Window->Screen, Window->Game.get());
  EXPECT_EQ(Window->Game->Width, FrameWidth);
  EXPECT_TRUE(Local().HairMesh->Visible) << "the chosen look stays on the player";
  EXPECT_TRUE(SentWithin().empty());
}

TEST_F(IntroWindowTest, TheBoltIsAbsentInEverySecondThatLeavesOneModuloFour) {
  Paint();
  // The fires' glows may add up to white; only the bolt is wanted here.
  Intro().Fire1->SetCount(0);
  Intro().Fire2->SetCount(0);
  const uint32_t base = (Clock.Now / 4000 + 1) * 4000;  // a second whose number is a multiple of 4
  for (uint32_t second = 0; second < 8; ++second) {
    Clock.Now = base + second * 1000 + 500;
    const int white = WhitePixels();
    if (second % 4 == 1)
      EXPECT_EQ(white, 0) << "second " << second;
    else
      EXPECT_GT(white, 20) << "second " << second;
  }
  // The near phase draws the bolt lower on the screen.
  auto lowestWhiteRow = [&] {
    QImage frame = Frame();
    int lowest = -1;
    for (int y = 0; y < FrameHeight; ++y)
      for (int x = 0; x < FrameWidth; ++x) {
        QColor c = frame.pixelColor(x, y);
        if (c.red() > 200 && c.green() > 200 && c.blue() > 200) lowest = y;
      }
    return lowest;
  };
  Clock.Now = base + 8500;
  WhitePixels();
  const int high = lowestWhiteRow();
  Clock.Now = base + 11500;
  WhitePixels();
  EXPECT_GT(lowestWhiteRow(), high + 20);
}

class IntroScreenshot : public IntroWindowTest {
  bool WithGameData() const override { return true; }
};

TEST_F(IntroScreenshot, TitleSceneAndCreationPageWithAnElf) {
  for (int frame = 0; frame < 50; ++frame) {  // two seconds: the bolt is shown
    Clock.Advance(40);
    Paint();
  }
  SaveScreenshot("intro-title.png");
  const QRect menu(Left, Row0, Right - Left, 40);
  EXPECT_GT(MaskOf(Frame(), menu, TTextColour::Red).Count, 100) << "the menu is drawn over the scene";
  Click(Middle, Row0);
  Click(Middle, Row0);  // an elf
  Click(Middle, Row1);
  Click(Middle, Row1);
  for (int frame = 0; frame < 5; ++frame) {
    Clock.Advance(40);
    Paint();
  }
  SaveScreenshot("intro-creation-elf.png");
  EXPECT_EQ(Intro().Race, TIntroWindow::RaceElf);
}

}  // namespace
