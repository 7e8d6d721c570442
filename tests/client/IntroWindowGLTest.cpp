// The intro screen inside a connected client window: which clicks count on
// its menus, what each entry does (creation page, closing the window
// without a goodbye, race, hair and option cycles, playing), the meshes it
// puts into the local player's own model, the bolt's one-second phases, and
// screenshots of the title scene and the creation page.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <QFile>
#include <algorithm>

#include "GameWindowClientSupport.h"
#include "client/Clients.h"
#include "client/IntroWindow.h"
#include "effects/GLGui.h"
#include "effects/Particules.h"
#include "models/L3DPlayer.h"
#include "platform/Errors.h"
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
  // The stems of the visible meshes of the local player's model, in list
  // order: "Corps Humain Barbe1".
  std::string Shown() const {
    std::string shown;
    const TMeshList& meshes = Local().Model->Meshes;
    for (int i = 0; i < meshes.Count(); ++i) {
      if (!meshes[i]->Visible || !meshes[i]->Mesh()) continue;
      const std::string& file = meshes[i]->Mesh()->FileName;  // data\qelt-3d\<stem>.L3D
      shown += (shown.empty() ? "" : " ") + file.substr(13, file.size() - 17);
    }
    return shown;
  }
  // The stems shown after each of count clicks on a row.
  std::vector<std::string> ClickRow(int y, int count) {
    std::vector<std::string> seen;
    for (int i = 0; i < count; ++i) {
      Click(Middle, y);
      seen.push_back(Shown());
    }
    return seen;
  }
  // The white pixels of a frame: the bolt's line and its glows' centres.
  int WhitePixels(int* lowestRow = nullptr) {
    Paint();
    const QImage frame = Frame();
    int count = 0;
    for (int y = 0; y < FrameHeight; ++y)
      for (int x = 0; x < FrameWidth; ++x) {
        const QColor c = frame.pixelColor(x, y);
        if (c.red() > 200 && c.green() > 200 && c.blue() > 200) {
          ++count;
          if (lowestRow) *lowestRow = y;
        }
      }
    return count;
  }
};

TEST_F(IntroWindowTest, OnlyTheMiddleThirdOfTheWidthCountsItsBoundsIncluded) {
  for (QPoint at : {QPoint(Left - 1, Row0), QPoint(Right + 1, Row0), QPoint(Middle, Row0 - 1)}) {
    Click(at.x(), at.y());
    EXPECT_EQ(Intro().Menu, TIntroWindow::MenuTitle) << at.x() << ", " << at.y();
  }
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
  Click(Middle, Row2);
  EXPECT_FALSE(Window.isNull()) << "the title menu has two entries";

  Click(Middle, Row1);
  EXPECT_TRUE(Gone());
  EXPECT_TRUE(Host.WaitClosed());
  EXPECT_TRUE(SentWithin(50).empty()) << "no leave message";
}

TEST_F(IntroWindowTest, TheFirstFrameGivesTheLocalPlayersOwnModelTheSixMeshesOfTheCreationPage) {
  Paint();
  TIntroWindow& intro = Intro();
  TL3DPlayer& model = *Local().Model;
  ASSERT_EQ(intro.Character, &model);
  ASSERT_EQ(model.Meshes.Count(), 6);
  const TTexturedMesh* expected[] = {intro.BodyMesh, intro.HumanHead, intro.ElfHead,
                                     intro.Hair,     intro.Beard,     intro.Ears};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(model.Meshes[i], expected[i]) << "mesh " << i;
  EXPECT_EQ(Local().HairMesh, intro.Hair) << "the player's handles follow the new meshes";
  EXPECT_EQ(intro.Ears->Textures->Items(0)->FileName, "data\\qelt-3d\\Elfe.BMP");
  EXPECT_EQ(model.Motion->FileName, "data\\qelt-3d\\Arret.M3D");
  EXPECT_EQ(Shown(), "Corps Humain") << "no hair, no beard";
}

TEST_F(IntroWindowTest, AFirstFrameThatFailsOnAMissingFileLeavesNothingHalfMade) {
  TIntroWindow intro(*Window->Font);
  intro.Resize(FrameWidth, FrameHeight);
  intro.Menu = TIntroWindow::MenuCreation;
  intro.MouseDown(Window.data(), TMouseButton::mbLeft, 0, Middle, Row0);  // before any mesh exists
  // The title is read after the logo's texture is made; shared textures
  // such as the flare, already held by the window's own screen, are not
  // read again and cannot fail here.
  const QString title = "data/images/titre.bmp";
  ASSERT_TRUE(QFile::rename(title, title + ".away"));
  EXPECT_THROW(intro.Paint(), Exception);
  EXPECT_EQ(intro.LogoTexture, 0u) << "the next frame does the whole work again";
  ASSERT_TRUE(QFile::rename(title + ".away", title));
  intro.Paint();
  EXPECT_NE(intro.LogoTexture, 0u);
  EXPECT_NE(intro.TitleTexture, 0u);
  EXPECT_EQ(Shown(), "Corps Humain");
}

TEST_F(IntroWindowTest, RaceSwitchesHeadsAndOptionAndTheOptionCyclesAsEachRaceAllows) {
  OpenCreation();
  EXPECT_EQ(ClickRow(Row0, 2), (std::vector<std::string>{"Corps Elfe Oreilles1", "Corps Humain Barbe1"}))
      << "an elf always has ears; back to human, their number is the beard's";
  EXPECT_EQ(Intro().OptionLabel, "Barbe");
  EXPECT_EQ(ClickRow(Row2, 4), (std::vector<std::string>{"Corps Humain Barbe2", "Corps Humain Barbe3",
                                                         "Corps Humain", "Corps Humain Barbe1"}));
  Click(Middle, Row0);
  EXPECT_EQ(Intro().OptionLabel, "Oreilles");
  EXPECT_EQ(ClickRow(Row2, 3), (std::vector<std::string>{"Corps Elfe Oreilles2", "Corps Elfe Oreilles3",
                                                         "Corps Elfe Oreilles1"}));

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
  std::vector<std::string> expected;
  for (int style = 1; style <= 8; ++style) expected.push_back("Corps Humain Cheveux" + std::to_string(style));
  expected.push_back("Corps Humain");
  EXPECT_EQ(ClickRow(Row1, 9), expected);
}

// The login offered the starting look; the others learn the chosen one
// when the player starts to play, in one message.
TEST_F(IntroWindowTest, JouerMakesTheGameScreenCurrentAndSendsTheChosenLookOnce) {
  OpenCreation();
  Click(Middle, Row1);
  Click(Middle, Row0);
  Click(Middle, Row2);
  EXPECT_TRUE(SentWithin(50).empty()) << "choosing alone sends nothing";
  Click(Middle, Row3);
  EXPECT_EQ(Window->Screen, Window->Game.get());
  EXPECT_EQ(Window->Game->Width, FrameWidth);
  EXPECT_EQ(Shown(), "Corps Elfe Cheveux1 Oreilles2") << "the chosen look stays on the player";
  EXPECT_EQ(SentWithin(), (std::vector<TRawFrame>{{10, std::string("\1\1\2", 3)}})) << "elf, hair 1, ears 2";
}

TEST_F(IntroWindowTest, TheBoltIsAbsentInEverySecondThatLeavesOneModuloFour) {
  Paint();
  // The fires' glows may add up to white; only the bolt is wanted here.
  Intro().Fire1->SetCount(0);
  Intro().Fire2->SetCount(0);
  const uint32_t base = (Clock.Now / 4000 + 1) * 4000;  // a second whose number is a multiple of 4
  int lowest[4] = {};
  for (uint32_t second = 0; second < 8; ++second) {
    Clock.Now = base + second * 1000 + 500;
    const int white = WhitePixels(&lowest[second % 4]);
    if (second % 4 == 1)
      EXPECT_EQ(white, 0) << "second " << second;
    else
      EXPECT_GT(white, 20) << "second " << second;
  }
  EXPECT_GT(lowest[3], std::max(lowest[0], lowest[2]) + 20) << "second 3 shows it lower";
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
  EXPECT_EQ(Shown(), "Corps Elfe Cheveux2 Oreilles1");
}

}  // namespace
