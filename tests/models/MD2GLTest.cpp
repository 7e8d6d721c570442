// MD2 drawing, read back with glReadPixels: the skin scaled from picture
// pixels to its padded texture, frames the model lacks drawing nothing, the
// shadow flattened onto the ground, and the weapon trail fading from its
// newest sample.  Models and skins are written into a temporary data folder
// under the names the game uses.
#include <QDir>
#include <QTemporaryDir>
#include <array>
#include <set>
#include <string>
#include <vector>

#include "GLFixture.h"
#include "models/MD2.h"
#include "models/MD2Writer.h"
#include "models/PCX.h"

namespace {

enum { Red, Green, Blue, Yellow };
constexpr std::array<uint32_t, 4> Colours = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00};

// A Width x Height PCX in four quadrants: red top left, green top right,
// blue bottom left, yellow bottom right.
void WriteQuadrantSkin(const std::string& fileName, int width, int height) {
  TPCXImage picture;
  picture.SetPixelFormat(pf8bit);
  picture.SetSize(width, height);
  for (std::size_t i = 0; i < Colours.size(); ++i)
    picture.Palette()[i] = {uint8_t(Colours[i] >> 16), uint8_t(Colours[i] >> 8), uint8_t(Colours[i]), 0};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      picture.ScanLine(y)[x] = uint8_t((y < height / 2 ? Red : Blue) + (x < width / 2 ? 0 : 1));
  picture.SaveToFile(fileName);
}

// One frame from points in world units.
TMD2FrameData WorldFrame(const std::vector<TVector3>& points) {
  std::vector<std::array<float, 3>> file;
  for (const TVector3& p : points) file.push_back(MD2PointFromWorld(p.X, p.Y, p.Z));
  return MakeMD2Frame("frame", file);
}

// A quad of two triangles over the four corners given from the top left
// clockwise, its skin coordinates spanning a SkinWidth x SkinHeight picture.
TMD2ModelData QuadModel(const std::vector<TVector3>& corners, int skinWidth, int skinHeight) {
  TMD2ModelData model;
  model.SkinWidth = skinWidth;
  model.SkinHeight = skinHeight;
  const auto w = int16_t(skinWidth), h = int16_t(skinHeight);
  model.SkinCoords = {{0, 0}, {w, 0}, {w, h}, {0, h}};
  model.Triangles = {{{0, 1, 2}, {0, 1, 2}}, {{0, 2, 3}, {0, 2, 3}}};
  model.Frames = {WorldFrame(corners)};
  return model;
}

// Shows frame 0 in both keys.
void ShowFirstFrame(TQ2Model& model) {
  model.SetKeyFrame(0, 0);
  model.SetKeyFrame(1, 0);
  model.Interpolate(0, 1, 0);
}

class MD2GL : public GLFixture {
 protected:
  void SetUp() override {
    GLFixture::SetUp();
    ASSERT_TRUE(Folder.isValid());
    Previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Folder.path()));
    ASSERT_TRUE(QDir().mkdir("data"));
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  void TearDown() override {
    EXPECT_EQ(ModelManager.Count(), 0) << "a model reference was not given back";
    EXPECT_EQ(ModelTextures.Count(), 0) << "a skin reference was not given back";
    QDir::setCurrent(Previous);
    GLFixture::TearDown();
  }

  QTemporaryDir Folder;
  QString Previous;
};

}  // namespace

// A 48 x 32 skin lies in a 64 x 32 texture: the skin coordinates are scaled
// by the picture's share of it, so the quad shows the four quadrants of the
// picture the right way up and nothing of the padding.
TEST_F(MD2GL, SkinIsScaledToThePictureInItsPaddedTexture) {
  WriteQuadrantSkin("data\\knight.pcx", 48, 32);
  SaveMD2(QuadModel({{8, 56, 0}, {56, 56, 0}, {56, 8, 0}, {8, 8, 0}}, 48, 32), "data\\tris.md2");
  UsePixelProjection();
  TQ2Model knight;
  knight.LoadModel("data\\tris.md2");
  knight.LoadSkin("data\\KNIGHT.PCX");
  ShowFirstFrame(knight);
  knight.Draw(1);  // a frame the model lacks
  EXPECT_EQ(ReadPixel(32, 32), (TRGBA{0, 0, 0, 0}));

  knight.Draw(0);
  ASSERT_EQ(knight.TexCoords().size(), 4u);
  EXPECT_FLOAT_EQ(knight.TexCoords()[2].S, 0.75f);
  EXPECT_FLOAT_EQ(knight.TexCoords()[2].T, 1.0f);
  EXPECT_EQ(ReadPixel(16, 48), (TRGBA{255, 0, 0, 255}));
  EXPECT_EQ(ReadPixel(48, 48), (TRGBA{0, 255, 0, 255}));
  EXPECT_EQ(ReadPixel(16, 16), (TRGBA{0, 0, 255, 255}));
  EXPECT_EQ(ReadPixel(48, 16), (TRGBA{255, 255, 0, 255}));
  EXPECT_EQ(ReadPixel(4, 32), (TRGBA{0, 0, 0, 0}));
}

// Seen from above through a perspective, a flat model 5 units up and its
// shadow on the ground fall on different pixels: the shadow is the dark
// translucent grey, the model white on top.
TEST_F(MD2GL, PlayerDrawsItsShadowFlattenedOntoTheGround) {
  SaveMD2(QuadModel({{2, 5, -1}, {4, 5, -1}, {4, 5, 1}, {2, 5, 1}}, 8, 8), "data\\tris.md2");
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glFrustum(-1, 1, -1, 1, 1, 20);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glRotatef(90, 1, 0, 0);   // look down -Y
  glTranslatef(0, -10, 0);  // from 10 units up

  TQ2Player knight;
  int draws = 0;
  knight.OnDraw = [&](TQ2Player& player) {
    EXPECT_EQ(&player, &knight);
    ++draws;
  };
  knight.GetBody()->LoadModel("data\\tris.md2");
  ShowFirstFrame(*knight.GetBody());
  knight.Draw();
  EXPECT_EQ(draws, 1);
  EXPECT_FALSE(glIsEnabled(GL_BLEND));

  // Model x 2..4 at depth 5 covers NDC x 0.4..0.8, the shadow at depth 10
  // covers 0.2..0.4; pixel = (NDC + 1) * 32.
  const TRGBA shadow = ReadPixel(41, 32);  // NDC 0.3
  EXPECT_NEAR(shadow.R, 32, 2) << shadow;  // 0.25 at half alpha over black
  EXPECT_EQ(shadow.R, shadow.G);
  EXPECT_EQ(shadow.R, shadow.B);
  EXPECT_EQ(ReadPixel(51, 32), (TRGBA{255, 255, 255, 255}));  // NDC 0.6
  EXPECT_EQ(ReadPixel(16, 32), (TRGBA{0, 0, 0, 0}));
}

// During the attack the weapon trail is a grey strip behind two vertices,
// the newest sample the most opaque (alpha 0.75) and each older one fainter.
TEST_F(MD2GL, WeaponTrailFadesFromItsNewestSample) {
  // Two vertices, one above the other, moving 6 pixels right per frame of
  // the attack (frames 46 to 53); no triangles.
  TMD2ModelData model;
  model.SkinWidth = model.SkinHeight = 8;
  for (int f = 0; f <= 53; ++f) {
    float x = 8 + 6.0f * float(std::max(f - 46, 0));
    model.Frames.push_back(WorldFrame({{x, 8, 0}, {x, 56, 0}}));
  }
  SaveMD2(model, "data\\weapon.md2");
  UsePixelProjection();

  TQ2Player knight;
  TQ2Model* weapon = knight.GetWeapon();
  weapon->LoadModel("data\\weapon.md2");
  weapon->TrailVertexA = 0;
  weapon->TrailVertexB = 1;
  knight.RandomPercent = [] { return 99; };
  knight.Advance(180);
  knight.SetAnimation(2);
  for (int step = 0; step < 7; ++step) knight.Advance(180);
  ASSERT_EQ(weapon->TrailLength(), 8);
  ASSERT_FLOAT_EQ(weapon->TrailSample(0).A.X, 44);  // frame 52, blended from at elapsed 0

  knight.Draw();
  const TRGBA newest = ReadPixel(43, 32);
  // The two oldest samples both lie at x = 8, from before the attack; the
  // strip shows from the younger of them, alpha 0.75 - 6 / 16.
  const TRGBA oldest = ReadPixel(8, 32);
  EXPECT_NEAR(newest.R, 0.5 * 0.75 * 255, 4) << newest;
  EXPECT_NEAR(oldest.R, 0.5 * (0.75 - 6.0 / 16) * 255, 4) << oldest;
  EXPECT_EQ(newest.R, newest.G);
  EXPECT_EQ(ReadPixel(48, 32).R, 0) << "nothing beyond the newest sample";
  EXPECT_EQ(ReadPixel(26, 60).R, 0) << "nothing above the trail vertices";
}

namespace {

// The model as it is drawn corner by corner in immediate mode: the shadow
// (corners 0, 1, 2) flattened and translucent, then the textured model with
// corners 2, 1, 0, each with the texture coordinate of its own skin index.
void DrawCornerByCorner(TQ2Model& model) {
  const TModelInstance& data = *model.Instance();
  const std::vector<TVector3>& v = model.Vertices();
  glPushMatrix();
  const GLfloat shadow[16] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  glMultMatrixf(shadow);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4f(0.25f, 0.25f, 0.25f, 0.5f);
  glBegin(GL_TRIANGLES);
  for (int32_t i = 0; i < data.TriangleCount(); ++i)
    for (int c = 0; c < 3; ++c) {
      const TVector3& p = v[std::size_t(data.Triangle(i).Vertex[c])];
      glVertex3f(p.X, p.Y, p.Z);
    }
  glEnd();
  glPopMatrix();
  glDisable(GL_BLEND);
  glEnable(GL_TEXTURE_2D);
  model.Skin()->Bind();
  glColor3f(1, 1, 1);
  glBegin(GL_TRIANGLES);
  for (int32_t i = 0; i < data.TriangleCount(); ++i)
    for (int c = 2; c >= 0; --c) {
      const TTexCoord& t = model.TexCoords()[std::size_t(data.Triangle(i).SkinCoord[c])];
      const TVector3& p = v[std::size_t(data.Triangle(i).Vertex[c])];
      glTexCoord2f(t.S, t.T);
      glVertex3f(p.X, p.Y, p.Z);
    }
  glEnd();
}

// A grid of Side x Side quads leaning back over its shadow.  Every other
// quad maps the whole skin, so the vertices it shares with its neighbours
// carry other skin coordinates there; the rest map the skin across the
// grid.  One quad in five faces away and is culled.  Frame 1 is frame 0
// pushed right and up.
TMD2ModelData LeaningGridModel() {
  constexpr int Side = 5;
  constexpr int Skin = 32;  // pixels
  TMD2ModelData model;
  model.SkinWidth = model.SkinHeight = Skin;
  for (int f = 0; f < 2; ++f) {
    std::vector<TVector3> points;
    for (int b = 0; b <= Side; ++b)
      for (int a = 0; a <= Side; ++a)
        points.push_back({6 + 9.0f * float(a) + 4.0f * float(f), 24 + 3.0f * float(b) + 2.0f * float(f),
                          -3.0f * float(b)});
    model.Frames.push_back(WorldFrame(points));
  }
  auto coord = [&](int s, int t) {
    model.SkinCoords.push_back({int16_t(s), int16_t(t)});
    return int16_t(model.SkinCoords.size() - 1);
  };
  for (int b = 0; b < Side; ++b)
    for (int a = 0; a < Side; ++a) {
      const auto v = [&](int da, int db) { return int16_t((b + db) * (Side + 1) + a + da); };
      const bool own = (a + b) % 2 == 0;
      const auto s = [&](int da, int db) {
        return own ? coord(da * Skin, db * Skin) : coord((a + da) * Skin / Side, (b + db) * Skin / Side);
      };
      const int16_t c00 = s(0, 0), c10 = s(1, 0), c11 = s(1, 1), c01 = s(0, 1);
      if ((a + 2 * b) % 5 == 4) {  // turned away
        model.Triangles.push_back({{v(0, 0), v(1, 1), v(1, 0)}, {c00, c11, c10}});
        model.Triangles.push_back({{v(0, 0), v(0, 1), v(1, 1)}, {c00, c01, c11}});
      } else {
        model.Triangles.push_back({{v(0, 0), v(1, 0), v(1, 1)}, {c00, c10, c11}});
        model.Triangles.push_back({{v(0, 0), v(1, 1), v(0, 1)}, {c00, c11, c01}});
      }
    }
  return model;
}

}  // namespace

// Drawing through index arrays gives the picture of drawing corner by
// corner, culled faces included, and it follows the blend from one frame
// to the next.
TEST_F(MD2GL, ArraysDrawThePictureOfCornerByCornerDrawing) {
  WriteQuadrantSkin("data\\knight.pcx", 32, 32);
  SaveMD2(LeaningGridModel(), "data\\tris.md2");
  UsePixelProjection();
  const GLfloat view[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, -1, 0, 0, 0, 0, 0, 1};  // shows (x, y - z)
  glMultMatrixf(view);
  glEnable(GL_CULL_FACE);
  TQ2Player knight;
  TQ2Model* body = knight.GetBody();
  body->LoadModel("data\\tris.md2");
  body->LoadSkin("data\\knight.pcx");
  body->SetKeyFrame(0, 0);
  body->SetKeyFrame(1, 1);
  for (float t : {0.0f, 0.5f, 1.0f}) {
    SCOPED_TRACE(testing::Message() << "blend " << t);
    body->Interpolate(0, 1, t);
    glClear(GL_COLOR_BUFFER_BIT);
    knight.Draw();
    const std::vector<TRGBA> drawn = ReadAllPixels(Width, Height);
    GLfloat coord[4];
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, coord);

    glClear(GL_COLOR_BUFFER_BIT);
    glTexCoord2f(-5, -5);
    DrawCornerByCorner(*body);
    const std::vector<TRGBA> expected = ReadAllPixels(Width, Height);
    GLfloat expectedCoord[4];
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, expectedCoord);
    EXPECT_EQ(CountDifferent(drawn, expected), 0);
    EXPECT_EQ(coord[0], expectedCoord[0]);
    EXPECT_EQ(coord[1], expectedCoord[1]);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));

    // Not a blank picture that any drawing would match: the four skin
    // colours, the shadow's grey and the black of culled faces all show.
    std::set<uint32_t> colours;
    for (const TRGBA& p : drawn) colours.insert(uint32_t(p.R) << 16 | uint32_t(p.G) << 8 | p.B);
    EXPECT_GE(colours.size(), 6u);
  }
}
