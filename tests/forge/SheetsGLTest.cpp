// Contact sheets of the generated data drawn by the game's own drawing code
// (TL3DPlayer for the characters, TQ2Player for the knight), saved as PNG
// files in the build folder for people to look at.  Each cell also checks
// what it drew: something, and all of it inside the cell, where a vertex
// flung away by a wrong weight or a bad frame would stretch triangles out of
// the picture.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <functional>

#include "Forged.h"
#include "Sheets.h"
#include "models/GLMath.h"
#include "models/GLTextures.h"
#include "platform/Bitmaps.h"

namespace {

constexpr float PersonCentre = 3.1f;  // world units above the feet
// Something drawn covers at least this share of a cell.
constexpr int CellShare = 150;

class SheetsGL : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ForgeOnce(); }
};

// Draws one cell twice, without and with draw, and checks what was drawn.
// whole: it must stay clear of the cell's edges (false for close-ups).
void Cell(TContactSheet& sheet, int index, const std::string& caption, const std::function<void()>& camera,
          const std::function<void()>& draw, bool whole = true) {
  camera();
  std::vector<TRGBA> ground = sheet.Grab();
  camera();
  draw();
  TDrawnBox box = Difference(ground, sheet.Grab(), sheet.CellWidth());
  EXPECT_GE(box.Count, sheet.CellWidth() * sheet.CellHeight() / CellShare)
      << caption << ": almost nothing drawn";
  if (whole) {
    EXPECT_GT(box.Left, 0) << caption << ": reaches the left edge";
    EXPECT_LT(box.Right, sheet.CellWidth() - 1) << caption << ": reaches the right edge";
    EXPECT_LT(box.Top, sheet.CellHeight() - 1) << caption << ": reaches the top edge";
    EXPECT_GT(box.Bottom, 0) << caption << ": reaches the bottom edge";
  }
  sheet.EndCell(index, caption);
}

struct TLook {
  std::string Caption;
  std::function<std::unique_ptr<TL3DPlayer>()> Make;
  float Yaw;
};

std::vector<TLook> Looks() {
  std::vector<TLook> looks;
  looks.push_back({"human", [] { return MakeHuman(0, 0); }, 25});
  for (int hair = 1; hair <= 8; ++hair)
    looks.push_back({"hair " + std::to_string(hair), [hair] { return MakeHuman(hair, 0); }, 25});
  for (int beard = 1; beard <= 3; ++beard)
    looks.push_back({"beard " + std::to_string(beard), [beard] { return MakeHuman(0, beard); }, 25});
  for (int ears = 1; ears <= 3; ++ears)
    looks.push_back({"elf, ears " + std::to_string(ears), [ears] { return MakeElf(0, ears); }, 35});
  for (int hair : {5, 6, 7, 8})
    looks.push_back({"hair " + std::to_string(hair) + " behind", [hair] { return MakeHuman(hair, 0); }, 160});
  return looks;
}

TEST_F(SheetsGL, EveryHairBeardAndEarOnTheCharacter) {
  std::vector<TLook> looks = Looks();
  TContactSheet whole(5, 4, 240, 330);
  ASSERT_TRUE(whole.Ready());
  for (std::size_t i = 0; i < looks.size(); ++i) {
    std::unique_ptr<TL3DPlayer> character = looks[i].Make();
    ShowMotion(*character, "Arret", 0);
    const float yaw = looks[i].Yaw;
    Cell(
        whole, int(i), looks[i].Caption, [&] { whole.BeginCell(0, PersonCentre, 0, 10, yaw, 8); },
        [&] { character->Draw(); });
  }
  whole.Save(OutputFile("characters.png"));
  // A second surface, current from here on.
  TContactSheet heads(5, 4, 240, 260);
  ASSERT_TRUE(heads.Ready());
  for (std::size_t i = 0; i < looks.size(); ++i) {
    std::unique_ptr<TL3DPlayer> character = looks[i].Make();
    ShowMotion(*character, "Arret", 0);
    const float yaw = looks[i].Yaw;
    Cell(
        heads, int(i), looks[i].Caption, [&] { heads.BeginCell(0, 5.45f, 0, 1.9f, yaw, 6); },
        [&] { character->Draw(); }, false);
  }
  heads.Save(OutputFile("heads.png"));
}

TEST_F(SheetsGL, SixMotionsAtFourPhases) {
  const char* motions[] = {"Arret", "Parle", "Marche", "Course", "att_poing", "Chute"};
  TContactSheet sheet(8, 6, 200, 250);
  ASSERT_TRUE(sheet.Ready());
  std::unique_ptr<TL3DPlayer> character = MakeHuman(5, 1);
  int cell = 0;
  for (const char* motion : motions)
    for (int quarter = 0; quarter < 4; ++quarter) {
      // The fall is shown at its end too, where it holds.
      float phase = std::string(motion) == "Chute" ? (quarter + 1) / 4.0f : quarter / 4.0f;
      ShowMotion(*character, motion, phase);
      for (float yaw : {30.0f, 90.0f})
        Cell(
            sheet, cell++, std::string(motion) + " " + std::to_string(phase).substr(0, 4),
            [&] { sheet.BeginCell(0, 2.8f, 0, 14, yaw, 10); }, [&] { character->Draw(); });
    }
  sheet.Save(OutputFile("motions.png"));
}

// The frame a cell shows: the middle of the animation, the end of a death.
int ShownFrame(int animation) {
  int first = AnimFirstFrame[animation], count = AnimFirstFrame[animation + 1] - first;
  return animation >= 16 ? count - 1 : count / 2;
}

const char* AnimationName(int a) {
  static const char* names[AnimationCount] = {
      "stand",         "run",         "attack",       "pain 1",  "pain 2",  "pain 3", "jump",
      "flip",          "salute",      "taunt",        "wave",    "point",   "crouch", "crouch walk",
      "crouch attack", "crouch pain", "crouch death", "death 1", "death 2", "death 3"};
  return names[a];
}

// Plays animation a through the player from its start to the frame shown,
// a quarter of a key frame at a time, so that the sword's trail records.
void PlayTo(TQ2Player& knight, int a) {
  knight.SetAnimation(a == 1 ? 0 : 1);
  knight.SetAnimation(uint8_t(a));
  const int quarters = 4 * (ShownFrame(a) + 1);
  for (int i = 0; i < quarters && knight.Animation() == a; ++i) knight.Advance(TQ2Player::KeyFrameMs / 4);
}

TEST_F(SheetsGL, KnightWithItsSwordInEveryAnimation) {
  TContactSheet sheet(5, 4, 260, 300);
  ASSERT_TRUE(sheet.Ready());
  for (int a = 0; a < AnimationCount; ++a) {
    std::unique_ptr<TQ2Player> knight = MakeKnight();
    PlayTo(*knight, a);
    Cell(
        sheet, a, AnimationName(a), [&] { sheet.BeginCell(0, 3.3f, 0, 17, 30, 10); },
        [&] { knight->Draw(); });
  }
  sheet.Save(OutputFile("knight.png"));

  // Every file frame, both key slots on it.
  TContactSheet frames(18, 11, 110, 130);
  ASSERT_TRUE(frames.Ready());
  std::unique_ptr<TQ2Player> knight = MakeKnight();
  for (int f = 0; f < 198; ++f) {
    for (TQ2Model* model : {knight->GetBody(), knight->GetWeapon()}) {
      model->SetKeyFrame(0, f);
      model->SetKeyFrame(1, f);
      model->Interpolate(0, 1, 0);
    }
    Cell(
        frames, f, std::to_string(f), [&] { frames.BeginCell(0, 3.3f, 0, 17, 30, 10); },
        [&] { knight->Draw(); });
  }
  frames.Save(OutputFile("knight_frames.png"));
}

TEST_F(SheetsGL, TheGameAtPlayingDistance) {
  TContactSheet sheet(1, 1, 640, 480);
  ASSERT_TRUE(sheet.Ready());
  TGLTexture* floor = TextureManager.Get("data\\images\\marbre.bmp");
  std::unique_ptr<TL3DPlayer> local = MakeHuman(5, 1), elf = MakeElf(7, 1), other = MakeHuman(3, 3);
  std::unique_ptr<TQ2Player> knight = MakeKnight();
  ShowMotion(*local, "Parle", 0.3f);
  ShowMotion(*elf, "Arret", 0.5f);
  ShowMotion(*other, "Course", 0.2f);
  PlayTo(*knight, 0);
  // Placed as the player list places players: direction 4 unturned, 6 (west) turned.
  auto place = [](TL3DPlayer& character, float x, float z, float turn) {
    glPushMatrix();
    glTranslatef(x, 0, z);
    glRotatef(turn, 0, 1, 0);
    character.Draw();
    glPopMatrix();
    glColor3f(1, 1, 1);
  };
  Cell(
      sheet, 0, "in game", [&] { sheet.BeginGameView(0, *floor); },
      [&] {
        place(*local, 0, 0, 0);
        place(*elf, 6, 0, -45);
        place(*other, -6, 3, -90);
        glPushMatrix();
        glTranslatef(0, 0, -6);
        knight->Draw();
        glPopMatrix();
      },
      false);
  sheet.Save(OutputFile("game.png"));
  floor->Release();
}

// A textured square of the given half sizes at the current place.
void Quad(float halfWidth, float halfHeight) {
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex3f(-halfWidth, -halfHeight, 0);
  glTexCoord2f(1, 0);
  glVertex3f(halfWidth, -halfHeight, 0);
  glTexCoord2f(1, 1);
  glVertex3f(halfWidth, halfHeight, 0);
  glTexCoord2f(0, 1);
  glVertex3f(-halfWidth, halfHeight, 0);
  glEnd();
}

// The title screen's layout: the emblem 4 by 4 and the banner 16 by 2 at
// 20 units, a few flares added up where the fires burn, and the character
// being made standing to the right.
TEST_F(SheetsGL, TheTitleAndCreationScreens) {
  TContactSheet sheet(1, 1, 640, 480);
  ASSERT_TRUE(sheet.Ready());
  TBitmap picture;
  picture.LoadFromFile("data/images/logozul.bmp");
  GLuint logo = TextureFromBitmap(picture, 0x1FFFFFFF);
  picture.LoadFromFile("data/images/titre.bmp");
  GLuint title = TextureFromBitmap(picture, 0x1FFFFFFF);
  TGLTexture* flare = TextureManager.Get("data\\images\\flare.bmp");
  std::unique_ptr<TL3DPlayer> character = MakeElf(8, 2);
  ShowMotion(*character, "Arret", 0.2f);
  auto camera = [&] {
    sheet.BeginCell(0, 0, 0, 0, 0, 0);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  };
  Cell(
      sheet, 0, "title and creation", camera,
      [&] {
        glDisable(GL_DEPTH_TEST);
        glEnable(GL_TEXTURE_2D);
        glColor3f(1, 1, 1);
        glTranslatef(0, 4, -20);
        glBindTexture(GL_TEXTURE_2D, logo);
        Quad(2, 2);
        glTranslatef(0, -10, 0);
        glBindTexture(GL_TEXTURE_2D, title);
        Quad(8, 1);
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        flare->Bind();
        for (float x : {-7.0f, 7.0f})
          for (int i = 0; i < 12; ++i) {
            glPushMatrix();
            glTranslatef(x + 0.3f * std::sin(i * 2.1f), 5 + 0.25f * i, 0);
            glColor3f(0.8f, 0.3f - 0.02f * i, 0);
            Quad(1.0f - 0.06f * i, 1.0f - 0.06f * i);
            glPopMatrix();
          }
        glDisable(GL_BLEND);
        glDisable(GL_TEXTURE_2D);
        glColor3f(1, 1, 1);
        glLoadIdentity();
        glTranslatef(3, -2, -12);
        glRotatef(10, 1, 0, 0);
        glEnable(GL_DEPTH_TEST);
        character->Draw();
      },
      false);
  sheet.Save(OutputFile("intro.png"));
  glDeleteTextures(1, &logo);
  glDeleteTextures(1, &title);
  flare->Release();
}

}  // namespace
