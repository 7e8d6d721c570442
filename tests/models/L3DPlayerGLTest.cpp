// Posing, advancing and drawing characters in a real OpenGL context: bone
// matrices read back after Pose, the timing rules of Advance, and what Draw
// and DrawPlain emit, seen through feedback mode.
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <vector>

#include "GLFixture.h"
#include "models/L3DPlayer.h"
#include "models/L3DWriter.h"

namespace {

TVector4 AxisAngle(float degrees, float x, float y, float z) {
  double half = degrees * M_PI / 360, s = std::sin(half) / std::sqrt(x * x + y * y + z * z);
  return {float(x * s), float(y * s), float(z * s), float(std::cos(half))};
}

TBoneMatrix Translation(float x, float y, float z) {
  return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

void ExpectMatrix(const TBoneMatrix& actual, const TBoneMatrix& expected) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-4f) << "element " << i;
}

TBoneMatrix Modelview() {
  TBoneMatrix m;
  glGetFloatv(GL_MODELVIEW_MATRIX, m.data());
  return m;
}

TSkeleton* RootSkeleton() {
  auto* skeleton = new TSkeleton();  // unmanaged: its last Release frees it
  skeleton->Bones.push_back({TShortName::From("Root"), -1, {}, 0, {0, 0, 1}});
  return skeleton;
}

using L3DPlayerGL = GLFixture;

TEST_F(L3DPlayerGL, PoseUndoesTheRestPoseAndLeavesTheMatrixStackAlone) {
  // Hips at (0, 10, 0) turned 90 degrees about Z; Spine 5 above, turned 30
  // degrees about an axis that is not of unit length.
  auto* skeleton = new TSkeleton();
  skeleton->Bones.push_back({TShortName::From("Hips"), -1, {0, 10, 0}, 90, {0, 0, 1}});
  skeleton->Bones.push_back({TShortName::From("Spine"), 0, {0, 5, 0}, 30, {2, 0, 0}});
  TAnimatedSkeleton animated;
  animated.SetSkeleton(skeleton);
  // Tracks that give each bone its rest transform, the hips moved by (dx, 0, 0).
  auto restMotion = [](float dx) {
    auto motion = std::make_unique<TMotion>();
    motion->Tracks = {{TShortName::From("Hips"), 0, 0, 0, 0}, {TShortName::From("Spine"), 1, 1, 1, 1}};
    for (TVector4 q : {AxisAngle(90, 0, 0, 1), AxisAngle(30, 1, 0, 0)})
      motion->RotationKeys.push_back({0, q.X, q.Y, q.Z, q.W});
    motion->PositionKeys = {{0, dx, 10, 0}, {0, 0, 5, 0}};
    return motion;
  };
  glTranslatef(5, 6, 7);
  const TBoneMatrix before = Modelview();

  animated.Pose(restMotion(0).get(), 0.5f);
  ASSERT_EQ(animated.Matrices.size(), 2u);
  for (const TBoneMatrix& m : animated.Matrices) ExpectMatrix(m, Translation(0, 0, 0));
  // The hips moved: the chain below follows by the same translation.
  animated.Pose(restMotion(4).get(), 0.5f);
  for (const TBoneMatrix& m : animated.Matrices) ExpectMatrix(m, Translation(4, 0, 0));
  ExpectMatrix(Modelview(), before);

  // A bone without a track of its own follows track 0.
  TAnimatedSkeleton lonely;
  lonely.SetSkeleton(RootSkeleton());
  TMotion motion;
  motion.Tracks = {{TShortName::From("Other"), 0, -1, 0, 0}, {TShortName::From("Spine"), 0, -1, 1, 1}};
  motion.PositionKeys = {{0, 4, 0, 0}, {0, 0, 9, 0}};
  lonely.Pose(&motion, 0);
  ExpectMatrix(lonely.Matrices.at(0), Translation(4, 0, 0));
}

// A chain of 300 bones, each 1 above its parent at rest; the motion moves
// every bone by (1, 1, 0) from its parent, so bone k ends k + 1 to the side
// of its rest place: the whole chain above it counts, however deep.
TEST_F(L3DPlayerGL, ADeepChainIsPosedFromItsRoot) {
  constexpr int Depth = 300;
  auto* skeleton = new TSkeleton();
  TMotion motion;
  for (int k = 0; k < Depth; ++k) {
    TShortName name = TShortName::From("B" + std::to_string(k));
    skeleton->Bones.push_back({name, k - 1, {0, 1, 0}, 0, {0, 0, 1}});
    motion.Tracks.push_back({name, 0, -1, k, k});
    motion.PositionKeys.push_back({0, 1, 1, 0});
  }
  TAnimatedSkeleton animated;
  animated.SetSkeleton(skeleton);
  animated.Pose(&motion, 0);
  ASSERT_EQ(animated.Matrices.size(), std::size_t(Depth));
  for (int k : {0, 255, 256, Depth - 1}) {
    SCOPED_TRACE(k);
    ExpectMatrix(animated.Matrices[std::size_t(k)], Translation(float(k + 1), 0, 0));
  }
}

TEST_F(L3DPlayerGL, RotationWithTheScalarPartJustAboveOneStaysFinite) {
  RotateByQuaternion({0.0001f, 0, 0, 1.0000001f});
  RotateByQuaternion({0, 0, 0, -0.5f});  // no axis: nothing
  ExpectMatrix(Modelview(), Translation(0, 0, 0));
}

class L3DCharacterGL : public GLFixture {
 protected:
  std::string Path(const char* file) const { return FDir.filePath(file).toStdString(); }
  QTemporaryDir FDir;
};

TEST_F(L3DCharacterGL, AdvanceLoopsOrHoldsTheMotionAndSkins) {
  TMesh oneVertex;  // (1, 1, 1), bound fully to the root
  oneVertex.Vertices = {{{1, 1, 1}, {0, 0, 1}}};
  oneVertex.Weights = {{0, 1}};
  oneVertex.Bindings = {{TShortName::From("Root"), 0, 0}};
  SaveL3D(oneVertex, Path("One.L3D"));
  auto makeCharacter = [&](TL3DPlayer& player, uint32_t duration) {
    player.Animated.SetSkeleton(RootSkeleton());
    player.Meshes.Add(Path("One.L3D"));
    player.Motion = new TMotion();  // unmanaged: the character frees it
    player.Motion->Duration = duration;
  };
  struct {
    uint8_t Animation;
    uint32_t Start, Elapsed, Expected;
  } cases[] = {
      {0, 900, 150, 50}, {5, 900, 150, 1000}, {0, 900, 100, 1000}, {5, 900, 100, 1000}, {3, 0, 2500, 500}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "animation " << int(c.Animation) << " elapsed " << c.Elapsed);
    TL3DPlayer player;
    makeCharacter(player, 1000);
    player.Animation = c.Animation;
    player.Time = c.Start;
    player.Advance(c.Elapsed);
    EXPECT_EQ(player.Time, c.Expected);
    EXPECT_FLOAT_EQ(player.Phase, float(c.Expected) / 1000);
    ASSERT_EQ(player.Meshes[0]->Skinned.size(), 1u);
    EXPECT_FLOAT_EQ(player.Meshes[0]->Skinned[0].Position.Y, 3);  // posed, skinned, tripled
  }
  TL3DPlayer still, noMotion, noSkeleton, noMeshes;
  for (TL3DPlayer* p : {&still, &noMotion, &noSkeleton, &noMeshes}) makeCharacter(*p, 0);
  still.Advance(40);  // a motion of no length stays at 0
  EXPECT_EQ(still.Time, 0u);
  noMotion.Motion->Release();
  noMotion.Motion = nullptr;
  noSkeleton.Animated.SetSkeleton(nullptr);
  noMeshes.Meshes.Clear();
  for (TL3DPlayer* p : {&noMotion, &noSkeleton, &noMeshes}) {
    p->Time = 10;
    p->Advance(100);
    EXPECT_EQ(p->Time, 10u);
  }
}

// Polygons reported by feedback mode, counted by colour.
struct TColours {
  int White = 0, Red = 0, Black = 0, Other = 0;
  int Total() const { return White + Red + Black + Other; }
};

template <class TDraw>
TColours Feedback(TDraw draw) {
  std::vector<GLfloat> buffer(1 << 14);
  glFeedbackBuffer(GLsizei(buffer.size()), GL_3D_COLOR, buffer.data());
  glRenderMode(GL_FEEDBACK);
  draw();
  const GLint used = glRenderMode(GL_RENDER);
  TColours result;
  constexpr int FloatsPerVertex = 7;  // x, y, z, r, g, b, a
  for (GLint i = 0; i + 1 < used && GLint(buffer[std::size_t(i)]) == GL_POLYGON_TOKEN;) {
    const GLfloat* c = &buffer[std::size_t(i) + 5];
    (c[0] == 1 && c[1] == 1 && c[2] == 1   ? result.White
     : c[0] == 1 && c[1] == 0 && c[2] == 0 ? result.Red
     : c[0] == 0 && c[1] == 0 && c[2] == 0 ? result.Black
                                           : result.Other)++;
    i += 2 + GLint(buffer[std::size_t(i) + 1]) * FloatsPerVertex;
  }
  return result;
}

TEST_F(L3DCharacterGL, GroupsWithoutTextureAreRedAndTheShadowIsDrawnOnce) {
  // Three groups of one triangle each, tilted (z = y) so that the shadow,
  // squashed onto y = 0, still has an area.
  TMesh groups;
  for (int g = 0; g < 3; ++g) {
    float x = 2 + 5.0f * g;
    for (auto [dx, t] : {std::pair{0.f, 5.f}, {4.f, 5.f}, {0.f, 8.f}})
      groups.Vertices.push_back({{x + dx, t, t}, {}});
    groups.Triangles.push_back({{{3 * g, 0, 0}, {3 * g + 1, 1, 0}, {3 * g + 2, 0, 1}}});
    groups.Groups.push_back({g, g});
  }
  for (int v = 0; v < 9; ++v) groups.Weights.push_back({v, 1});
  groups.Bindings = {{TShortName::From("Root"), 0, 8}};
  SaveL3D(groups, Path("Groups.L3D"));
  QImage green(4, 4, QImage::Format_RGB888);
  green.fill(Qt::green);
  ASSERT_TRUE(green.save(QString::fromStdString(Path("Green.bmp")), "BMP"));

  TL3DPlayer player;
  player.Animated.SetSkeleton(RootSkeleton());
  TTexturedMesh* mesh = player.Meshes.Add(Path("Groups.L3D"));
  mesh->Textures->Add(Path("Green.bmp"));
  EXPECT_EQ(Feedback([&] { player.Draw(); }).Total(), 0);  // not skinned yet
  player.Animated.Matrices = {Translation(0, 0, 0)};
  mesh->SkinVertices(player.Animated);

  UsePixelProjection();
  const TBoneMatrix view = {1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};  // shows (x, y + z)
  glMultMatrixf(view.data());
  TColours drawn = Feedback([&] { player.Draw(); });
  EXPECT_EQ(drawn.White, 1);  // group 0, textured
  EXPECT_EQ(drawn.Red, 2);    // groups 1 and 2
  EXPECT_EQ(drawn.Black, 3);  // one shadow under the whole mesh
  EXPECT_EQ(drawn.Other, 0);

  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));

  glColor3f(1, 1, 1);  // DrawPlain: the geometry alone, in the caller's colour
  EXPECT_EQ(Feedback([&] { player.DrawPlain(); }).White, 3);
  mesh->Visible = false;
  EXPECT_EQ(Feedback([&] { player.Draw(); }).Total(), 0);
  EXPECT_EQ(Feedback([&] { player.DrawPlain(); }).Total(), 0);
}

}  // namespace

namespace {

// A mesh drawn corner by corner in immediate mode, the texture coordinate
// of each corner beside its array element, then its black shadow: the
// picture the arrays of TTexturedMesh must reproduce.
void DrawCornerByCorner(TTexturedMesh& textured, bool plain) {
  const TMesh& mesh = *textured.Mesh();
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  glVertexPointer(3, GL_FLOAT, sizeof(TSkinnedVertex), &textured.Skinned[0].Position);
  glNormalPointer(GL_FLOAT, sizeof(TSkinnedVertex), &textured.Skinned[0].Normal);
  auto groups = [&](bool textures) {
    for (std::size_t g = 0; g < mesh.Groups.size(); ++g) {
      if (textures) textured.SelectTexture(int(g));
      glBegin(GL_TRIANGLES);
      for (int t = std::max(mesh.Groups[g].First, 0);
           t <= std::min(mesh.Groups[g].Last, int(mesh.Triangles.size()) - 1); ++t)
        for (const TL3DCorner& corner : mesh.Triangles[std::size_t(t)].Corners) {
          if (textures) glTexCoord2f(corner.U, corner.V);
          glArrayElement(corner.Vertex);
        }
      glEnd();
    }
  };
  if (plain) {
    groups(false);
  } else {
    groups(true);
    glPushMatrix();
    glMultMatrixf(ShadowMatrix.data());
    glDisable(GL_TEXTURE_2D);
    glColor3f(0, 0, 0);
    groups(false);
    glPopMatrix();
  }
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
}

// A grid of Side x Side quads, two triangles each, standing on its lower
// edge and leaning back (z grows with y), so that its shadow shows below
// it.  Every other quad maps a whole texture of its own, so the vertices it
// shares with its neighbours carry other coordinates there; the rest map
// the texture across the grid.
TMesh* LeaningGrid() {
  constexpr int Side = 6;
  constexpr float Step = 8;  // pixels
  auto* mesh = new TMesh();  // unmanaged: the textured mesh's Release frees it
  auto index = [](int a, int b) { return b * (Side + 1) + a; };
  for (int b = 0; b <= Side; ++b)
    for (int a = 0; a <= Side; ++a)
      mesh->Vertices.push_back({{4 + Step * float(a), 20 + 3 * float(b), 2.5f * float(b)}, {0, 1, 0}});
  for (int b = 0; b < Side; ++b)
    for (int a = 0; a < Side; ++a) {
      const int corner[4] = {index(a, b), index(a + 1, b), index(a + 1, b + 1), index(a, b + 1)};
      const bool own = (a + b) % 2 == 0;
      auto uv = [&](int k, float& u, float& v) {
        const int da = k == 1 || k == 2, db = k >= 2;
        u = own ? float(da) : float(a + da) / Side;
        v = own ? float(db) : float(b + db) / Side;
      };
      for (const std::array<int, 3>& tri : {std::array<int, 3>{0, 1, 2}, std::array<int, 3>{0, 2, 3}}) {
        TL3DTriangle triangle;
        for (int k = 0; k < 3; ++k) {
          triangle.Corners[k].Vertex = corner[tri[k]];
          uv(tri[k], triangle.Corners[k].U, triangle.Corners[k].V);
        }
        mesh->Triangles.push_back(triangle);
      }
    }
  // Group 1 draws again over the end of group 0 with the other texture,
  // group 2 over both in red (no texture of its own), group 3 is empty and
  // group 4 runs past the last triangle.
  mesh->Groups = {{0, 49}, {40, 59}, {12, 20}, {9, 8}, {66, 1000}};
  return mesh;
}

void SaveCheckerBMP(const std::string& fileName, QRgb a, QRgb b, QRgb c, QRgb d) {
  QImage image(8, 8, QImage::Format_RGB888);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const QRgb quarter[4] = {a, b, c, d};
      image.setPixel(x, y, quarter[(y / 4) * 2 + (x / 4)] ^ uint32_t(x % 4 == y % 4 ? 0x202020 : 0));
    }
  ASSERT_TRUE(image.save(QString::fromStdString(fileName), "BMP"));
}

}  // namespace

// Drawing through index arrays gives the picture that drawing corner by
// corner gives: the same triangles in the same order, each corner with its
// own texture coordinate, each group with its texture or in red, the black
// shadow last; and it stays so when the pose changes from one frame to the
// next.
TEST_F(L3DCharacterGL, ArraysDrawThePictureOfCornerByCornerDrawing) {
  SaveCheckerBMP(Path("First.bmp"), qRgb(250, 0, 0), qRgb(0, 250, 0), qRgb(0, 0, 250), qRgb(250, 250, 0));
  SaveCheckerBMP(Path("Second.bmp"), qRgb(0, 250, 250), qRgb(250, 0, 250), qRgb(120, 60, 0),
                 qRgb(250, 250, 250));
  TAnimatedSkeleton animated;
  animated.SetSkeleton(RootSkeleton());
  TTexturedMesh textured;
  TMesh* mesh = LeaningGrid();
  for (int v = 0; v < int(mesh->Vertices.size()); ++v) mesh->Weights.push_back({v, 1.0f / 3});
  mesh->Bindings = {{TShortName::From("Root"), 0, int(mesh->Vertices.size()) - 1}};
  textured.SetMesh(mesh);
  textured.Textures->Add(Path("First.bmp"));
  textured.Textures->Add(Path("Second.bmp"));

  UsePixelProjection();
  const TBoneMatrix view = {1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};  // shows (x, y + z)
  glMultMatrixf(view.data());
  const TBoneMatrix poses[] = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -8, 0, 1},
                               {0.96f, 0.28f, 0, 0, -0.28f, 0.96f, 0, 0, 0, 0, 1, 0, 6, -14, 0, 1}};
  for (const TBoneMatrix& pose : poses) {
    animated.Matrices = {pose};
    textured.SkinVertices(animated);
    for (bool plain : {false, true}) {
      SCOPED_TRACE(plain ? "DrawPlain" : "Draw");
      glColor3f(1, 1, 1);
      glClear(GL_COLOR_BUFFER_BIT);
      DrawCornerByCorner(textured, plain);
      const std::vector<TRGBA> expected = ReadAllPixels(Width, Height);
      GLfloat expectedCoord[4];
      glGetFloatv(GL_CURRENT_TEXTURE_COORDS, expectedCoord);

      glColor3f(1, 1, 1);
      glTexCoord2f(-5, -5);
      glClear(GL_COLOR_BUFFER_BIT);
      glEnableClientState(GL_VERTEX_ARRAY);
      glEnableClientState(GL_NORMAL_ARRAY);
      plain ? textured.DrawPlain() : textured.Draw();
      glDisableClientState(GL_VERTEX_ARRAY);
      glDisableClientState(GL_NORMAL_ARRAY);
      const std::vector<TRGBA> drawn = ReadAllPixels(Width, Height);
      EXPECT_EQ(CountDifferent(drawn, expected), 0);
      EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
      if (!plain) {
        GLfloat coord[4];
        glGetFloatv(GL_CURRENT_TEXTURE_COORDS, coord);
        EXPECT_EQ(coord[0], expectedCoord[0]);
        EXPECT_EQ(coord[1], expectedCoord[1]);
      }

      // The picture is not a blank one that any drawing would match.
      std::set<uint32_t> colours;
      for (const TRGBA& p : drawn) colours.insert(uint32_t(p.R) << 16 | uint32_t(p.G) << 8 | p.B);
      EXPECT_GE(colours.size(), plain ? 2u : 9u);
    }
  }
}

// Characters of one mesh file share its drawing tables, and those that
// share their skinning share its skinned vertices too, so that one more
// character costs less than one copy of its vertices; yet each draws its
// own pose, also when drawn (as picking does) after another one skinned
// into the shared vertices.
TEST_F(L3DCharacterGL, CharactersOfOneMeshShareItsDataYetDrawTheirOwnPoses) {
  SaveCheckerBMP(Path("First.bmp"), qRgb(250, 0, 0), qRgb(0, 250, 0), qRgb(0, 0, 250), qRgb(250, 250, 0));
  TMesh* grid = LeaningGrid();
  for (int v = 0; v < int(grid->Vertices.size()); ++v) grid->Weights.push_back({v, 1.0f / 3});
  grid->Bindings = {{TShortName::From("Root"), 0, int(grid->Vertices.size()) - 1}};
  grid->Groups.back().Last = int(grid->Triangles.size()) - 1;  // a file's groups lie inside it
  SaveL3D(*grid, Path("Grid.L3D"));
  const std::size_t vertexBytes = grid->Vertices.size() * sizeof(TSkinnedVertex);
  grid->Release();
  TL3DPlayer first, second;
  const TBoneMatrix poses[] = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -8, 0, 1},
                               {0.96f, 0.28f, 0, 0, -0.28f, 0.96f, 0, 0, 0, 0, 1, 0, 6, -14, 0, 1}};
  TL3DPlayer* characters[] = {&first, &second};
  for (int k = 0; k < 2; ++k) {
    characters[k]->Animated.SetSkeleton(RootSkeleton());
    characters[k]->Animated.Matrices = {poses[k]};
    TTexturedMesh* mesh = characters[k]->Meshes.Add(Path("Grid.L3D"));
    mesh->Textures->Add(Path("First.bmp"));
    mesh->SharedSkinning = true;
  }
  UsePixelProjection();
  const TBoneMatrix view = {1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};  // shows (x, y + z)
  glMultMatrixf(view.data());
  auto picture = [&](TL3DPlayer& character, bool plain) {
    glColor3f(1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    plain ? character.DrawPlain() : character.Draw();
    return ReadAllPixels(Width, Height);
  };
  // Each skinned and drawn at once, as the player list does.
  std::vector<TRGBA> alone[2][2];
  for (int k = 0; k < 2; ++k) {
    characters[k]->Meshes[0]->SkinPositions(characters[k]->Animated, true);
    for (bool plain : {false, true}) alone[k][plain] = picture(*characters[k], plain);
  }
  ASSERT_EQ(first.Meshes[0]->Mesh(), second.Meshes[0]->Mesh());
  EXPECT_GT(CountDifferent(alone[0][0], alone[1][0]), 0);  // the poses show apart
  for (bool plain : {false, true})
    for (int k : {0, 1, 0}) {
      SCOPED_TRACE(testing::Message() << (plain ? "DrawPlain" : "Draw") << " of character " << k);
      EXPECT_EQ(CountDifferent(picture(*characters[k], plain), alone[k][plain]), 0);
    }
  for (TL3DPlayer* character : characters) EXPECT_LT(character->Meshes[0]->OwnBytes(), vertexBytes);

  // Without shared skinning a character keeps its skinned vertices.
  TL3DPlayer own;
  own.Animated.SetSkeleton(RootSkeleton());
  own.Animated.Matrices = {poses[0]};
  own.Meshes.Add(Path("Grid.L3D"))->Textures->Add(Path("First.bmp"));
  own.Meshes[0]->SkinPositions(own.Animated, true);
  EXPECT_EQ(CountDifferent(picture(own, false), alone[0][0]), 0);
  EXPECT_GE(own.Meshes[0]->OwnBytes(), vertexBytes);
}
