// Posing, advancing and drawing characters in a real OpenGL context: bone
// matrices read back after Pose, the timing rules of Advance, and what Draw
// and DrawPlain emit, seen through feedback mode and glReadPixels.
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <vector>

#include "GLFixture.h"
#include "models/L3DPlayer.h"
#include "models/L3DWriter.h"

namespace {

TVector4 AxisAngle(float degrees, float x, float y, float z) {
  double half = degrees * M_PI / 360, length = std::sqrt(x * x + y * y + z * z);
  double s = std::sin(half) / length;
  return {float(x * s), float(y * s), float(z * s), float(std::cos(half))};
}

TBoneMatrix Translation(float x, float y, float z) {
  return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}
const TBoneMatrix Identity = Translation(0, 0, 0);

void ExpectMatrix(const TBoneMatrix& actual, const TBoneMatrix& expected) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-4f) << "element " << i;
}

TBoneMatrix CurrentModelview() {
  TBoneMatrix m;
  glGetFloatv(GL_MODELVIEW_MATRIX, m.data());
  return m;
}

// Hips at (0, 10, 0) turned 90 degrees about Z; Spine 5 above it, turned 30
// degrees about an axis that is not of unit length.
TSkeleton* TwoBoneSkeleton() {
  auto* skeleton = new TSkeleton();  // unmanaged: its last Release frees it
  skeleton->Bones.push_back({TShortName::From("Hips"), -1, {0, 10, 0}, 90, {0, 0, 1}});
  skeleton->Bones.push_back({TShortName::From("Spine"), 0, {0, 5, 0}, 30, {2, 0, 0}});
  return skeleton;
}

// Tracks that give each bone of TwoBoneSkeleton its rest transform, the
// hips moved by (dx, dy, dz).
TMotion* RestMotion(float dx, float dy, float dz) {
  auto* motion = new TMotion();
  motion->Duration = 1000;
  motion->Tracks.push_back({TShortName::From("Hips"), 0, 0, 0, 0});
  motion->Tracks.push_back({TShortName::From("Spine"), 1, 1, 1, 1});
  TVector4 hips = AxisAngle(90, 0, 0, 1), spine = AxisAngle(30, 1, 0, 0);
  motion->RotationKeys.push_back({0, hips.X, hips.Y, hips.Z, hips.W});
  motion->RotationKeys.push_back({0, spine.X, spine.Y, spine.Z, spine.W});
  motion->PositionKeys.push_back({0, dx, 10 + dy, dz});
  motion->PositionKeys.push_back({0, 0, 5, 0});
  return motion;
}

using L3DPlayerGL = GLFixture;

TEST_F(L3DPlayerGL, PoseUndoesTheRestPoseAndLeavesTheMatrixStackAlone) {
  TAnimatedSkeleton animated;
  animated.SetSkeleton(TwoBoneSkeleton());
  std::unique_ptr<TMotion> rest(RestMotion(0, 0, 0)), moved(RestMotion(1, 2, 3));

  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(5, 6, 7);
  const TBoneMatrix before = CurrentModelview();

  // The rest pose itself: every skinning matrix is the identity.
  animated.Pose(rest.get(), 0.5f);
  ASSERT_EQ(animated.Matrices.size(), 2u);
  for (const TBoneMatrix& m : animated.Matrices) ExpectMatrix(m, Identity);
  ASSERT_EQ(animated.Skeleton()->BindInverse.size(), 2u);

  // Hips moved: the whole chain below follows by the same translation.
  animated.Pose(moved.get(), 0.5f);
  for (const TBoneMatrix& m : animated.Matrices) ExpectMatrix(m, Translation(1, 2, 3));
  EXPECT_EQ(animated.Motion, moved.get());

  ExpectMatrix(CurrentModelview(), before);
  GLint depth = 0;
  glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
  EXPECT_EQ(depth, 1);
}

TEST_F(L3DPlayerGL, BoneWithoutATrackOfItsOwnFollowsTrackZero) {
  auto* skeleton = new TSkeleton();
  skeleton->Bones.push_back({TShortName::From("Lonely"), -1, {}, 0, {0, 0, 1}});
  TAnimatedSkeleton animated;
  animated.SetSkeleton(skeleton);
  TMotion motion;
  motion.Tracks.push_back({TShortName::From("Anything"), 0, -1, 0, 0});
  motion.Tracks.push_back({TShortName::From("Other"), 0, -1, 1, 1});
  motion.PositionKeys.push_back({0, 4, 0, 0});
  motion.PositionKeys.push_back({0, 0, 9, 0});
  animated.Pose(&motion, 0);
  ExpectMatrix(animated.Matrices.at(0), Translation(4, 0, 0));
}

TEST_F(L3DPlayerGL, RotationWithTheScalarPartJustAboveOneStaysFinite) {
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  RotateByQuaternion({0.0001f, 0, 0, 1.0000001f});
  RotateByQuaternion({0, 0, 0, -0.5f});  // no axis: nothing
  for (float v : CurrentModelview()) EXPECT_TRUE(std::isfinite(v));
  ExpectMatrix(CurrentModelview(), Identity);
  RotateByQuaternion(AxisAngle(90, 0, 0, 3));
  ExpectMatrix(CurrentModelview(), {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
}

// Model files of a character in a folder of their own.
class L3DCharacterGL : public GLFixture {
 protected:
  void SetUp() override {
    GLFixture::SetUp();
    ASSERT_TRUE(FDir.isValid());
  }
  std::string Path(const std::string& file) const { return FDir.path().toStdString() + "/" + file; }

  std::string SaveMesh(void (*fill)(TMesh&), const std::string& file) {
    TMesh mesh;
    fill(mesh);
    SaveL3D(mesh, Path(file));
    return Path(file);
  }
  std::string SaveTexture(const std::string& file, QColor colour) {
    QImage image(4, 4, QImage::Format_RGB888);
    image.fill(colour);
    EXPECT_TRUE(image.save(QString::fromStdString(Path(file)), "BMP"));
    return Path(file);
  }

  QTemporaryDir FDir;
};

// One vertex (1, 1, 1) bound fully to bone "Root".
void OneVertexMesh(TMesh& mesh) {
  mesh.Vertices = {{{1, 1, 1}, {0, 0, 1}}};
  mesh.Weights = {{0, 1}};
  mesh.Bindings = {{TShortName::From("Root"), 0, 0}};
}

TEST_F(L3DCharacterGL, AdvanceLoopsOrHoldsTheMotionAndSkins) {
  const std::string mesh = SaveMesh(OneVertexMesh, "One.L3D");
  auto makeCharacter = [&](TL3DPlayer& player) {
    auto* skeleton = new TSkeleton();
    skeleton->Bones.push_back({TShortName::From("Root"), -1, {}, 0, {0, 0, 1}});
    player.Animated.SetSkeleton(skeleton);
    player.Meshes.Add(mesh);
    auto* motion = new TMotion();
    motion->Duration = 1000;
    motion->Tracks.push_back({TShortName::From("Root"), 0, -1, 0, -1});
    player.Motion = motion;  // the character frees it
  };

  struct TCase {
    uint8_t Animation;
    uint32_t Start, Elapsed, Expected;
  } cases[] = {
      {0, 900, 150, 50}, {5, 900, 150, 1000}, {0, 900, 100, 1000}, {5, 900, 100, 1000}, {3, 0, 2500, 500}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "animation " << int(c.Animation) << " elapsed " << c.Elapsed);
    TL3DPlayer player;
    makeCharacter(player);
    player.Animation = c.Animation;
    player.Time = c.Start;
    player.Advance(c.Elapsed);
    EXPECT_EQ(player.Time, c.Expected);
    EXPECT_FLOAT_EQ(player.Phase, float(c.Expected) / 1000);
    // Posed and skinned: the vertex at three times its place.
    ASSERT_EQ(player.Meshes[0]->Skinned.size(), 1u);
    EXPECT_FLOAT_EQ(player.Meshes[0]->Skinned[0].Position.Y, 3);
  }

  // A motion of no length stays at 0.
  TL3DPlayer still;
  makeCharacter(still);
  still.Motion->Duration = 0;
  still.Advance(40);
  EXPECT_EQ(still.Time, 0u);
  EXPECT_EQ(still.Phase, 0);

  // Missing skeleton, meshes or motion: Time does not move, nothing is skinned.
  TL3DPlayer noMotion, noSkeleton, noMeshes;
  for (TL3DPlayer* p : {&noMotion, &noSkeleton, &noMeshes}) makeCharacter(*p);
  noMotion.Motion->Release();
  noMotion.Motion = nullptr;
  noSkeleton.Animated.SetSkeleton(nullptr);
  noMeshes.Meshes.Clear();
  for (TL3DPlayer* p : {&noMotion, &noSkeleton, &noMeshes}) {
    p->Time = 10;
    p->Advance(100);
    EXPECT_EQ(p->Time, 10u);
  }
  EXPECT_TRUE(noMotion.Meshes[0]->Skinned.empty());
  EXPECT_TRUE(noSkeleton.Meshes[0]->Skinned.empty());
}

// Polygons as feedback mode reports them, by colour.
struct TFeedback {
  int White = 0, Red = 0, Black = 0, Other = 0;
  int Total() const { return White + Red + Black + Other; }
};

template <class TDraw>
TFeedback Feedback(TDraw draw) {
  std::vector<GLfloat> buffer(1 << 14);
  glFeedbackBuffer(GLsizei(buffer.size()), GL_3D_COLOR, buffer.data());
  glRenderMode(GL_FEEDBACK);
  draw();
  GLint used = glRenderMode(GL_RENDER);
  TFeedback result;
  constexpr int FloatsPerVertex = 7;  // x, y, z, r, g, b, a
  for (GLint i = 0; i < used;) {
    if (GLint(buffer[std::size_t(i)]) != GL_POLYGON_TOKEN) {
      ADD_FAILURE() << "unexpected feedback token " << buffer[std::size_t(i)];
      break;
    }
    GLint count = GLint(buffer[std::size_t(i) + 1]);
    const GLfloat* colour = &buffer[std::size_t(i) + 2 + 3];
    if (colour[0] == 1 && colour[1] == 1 && colour[2] == 1)
      ++result.White;
    else if (colour[0] == 1 && colour[1] == 0 && colour[2] == 0)
      ++result.Red;
    else if (colour[0] == 0 && colour[1] == 0 && colour[2] == 0)
      ++result.Black;
    else
      ++result.Other;
    i += 2 + count * FloatsPerVertex;
  }
  return result;
}

// Three groups of two triangles side by side, each a quad tilted so that
// z = y: drawn through a view that shows (x, y + z), the mesh lies at twice
// its height and its squashed shadow (x, 0, z) below it.
void ThreeGroupMesh(TMesh& mesh) {
  for (int g = 0; g < 3; ++g) {
    float x0 = 2 + 5.0f * g, x1 = x0 + 4;
    int base = int(mesh.Vertices.size());
    for (auto [x, t] : {std::pair{x0, 5.f}, {x1, 5.f}, {x1, 8.f}, {x0, 8.f}})
      mesh.Vertices.push_back({{x, t, t}, {0, 0, 1}});
    mesh.Triangles.push_back({{{base, 0, 0}, {base + 1, 1, 0}, {base + 2, 1, 1}}});
    mesh.Triangles.push_back({{{base, 0, 0}, {base + 2, 1, 1}, {base + 3, 0, 1}}});
    mesh.Groups.push_back({2 * g, 2 * g + 1});
  }
  for (int v = 0; v < 12; ++v) mesh.Weights.push_back({v, 1});
  mesh.Bindings = {{TShortName::From("Root"), 0, 11}};
}

TEST_F(L3DCharacterGL, GroupsWithoutTextureAreRedAndTheShadowIsDrawnOnce) {
  TL3DPlayer player;
  auto* skeleton = new TSkeleton();
  skeleton->Bones.push_back({TShortName::From("Root"), -1, {}, 0, {0, 0, 1}});
  player.Animated.SetSkeleton(skeleton);
  TTexturedMesh* mesh = player.Meshes.Add(SaveMesh(ThreeGroupMesh, "Groups.L3D"));
  mesh->Textures->Add(SaveTexture("Green.bmp", Qt::green));

  // Not skinned yet: nothing to draw.
  EXPECT_EQ(Feedback([&] { player.Draw(); }).Total(), 0);

  player.Animated.Matrices = {Identity};
  mesh->SkinVertices(player.Animated);

  UsePixelProjection();
  const TBoneMatrix view = {1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};  // (x, y + z, 0)
  glMultMatrixf(view.data());
  TFeedback drawn = Feedback([&] { player.Draw(); });
  EXPECT_EQ(drawn.White, 2);  // group 0, textured
  EXPECT_EQ(drawn.Red, 4);    // groups 1 and 2
  EXPECT_EQ(drawn.Black, 6);  // one shadow under the whole mesh
  EXPECT_EQ(drawn.Other, 0);

  glClearColor(0, 0, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  player.Draw();
  // Skinned at three times size: group g spans x 6+15g .. 18+15g, the mesh
  // y 30..48 and its shadow y 15..24.
  const TRGBA green{0, 255, 0, 255}, red{255, 0, 0, 255}, black{0, 0, 0, 255}, blue{0, 0, 255, 255};
  EXPECT_EQ(ReadPixel(12, 39), green);
  EXPECT_EQ(ReadPixel(27, 39), red);
  EXPECT_EQ(ReadPixel(42, 39), red);
  for (int x : {12, 27, 42}) EXPECT_EQ(ReadPixel(x, 19), black) << x;
  EXPECT_EQ(ReadPixel(12, 27), blue);
  EXPECT_EQ(ReadPixel(12, 55), blue);

  // What Draw leaves behind, and what it takes back.
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  EXPECT_EQ((TVector4{colour[0], colour[1], colour[2], colour[3]}), (TVector4{0, 0, 0, 1}));
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_NORMAL_ARRAY));

  // DrawPlain: the geometry alone, in the caller's colour.
  glColor3f(1, 1, 1);
  TFeedback plain = Feedback([&] { player.DrawPlain(); });
  EXPECT_EQ(plain.White, 6);
  EXPECT_EQ(plain.Total(), 6);

  mesh->Visible = false;
  EXPECT_EQ(Feedback([&] { player.Draw(); }).Total(), 0);
  EXPECT_EQ(Feedback([&] { player.DrawPlain(); }).Total(), 0);
}

}  // namespace
