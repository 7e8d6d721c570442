// The generator's kits, where a fault would spoil every model made with
// them: lofted shapes are closed and face outwards (the game culls back
// faces), reaching puts ankles and wrists where asked, feet roll about a
// point that stays put, baking paints every triangle, the 256-colour skins
// keep the picture, and the marble tiles without a seam.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <map>

#include "Geometry.h"
#include "Images.h"
#include "Paint.h"
#include "Posing.h"
#include "models/PCX.h"
#include "platform/Bitmaps.h"

namespace {

using namespace forge;

// Every edge is walked once each way (a closed surface), and the enclosed
// volume, counted positive for outward faces.
double ClosedVolume(const TMeshBuilder& b) {
  std::map<std::pair<int, int>, int> edges;
  double volume = 0;
  for (const TMeshTriangle& t : b.Triangles) {
    for (int k = 0; k < 3; ++k) ++edges[{t.Corners[k].Vertex, t.Corners[(k + 1) % 3].Vertex}];
    TVec3 p = b.Vertices[t.Corners[0].Vertex].Position, q = b.Vertices[t.Corners[1].Vertex].Position,
          r = b.Vertices[t.Corners[2].Vertex].Position;
    volume += Dot(p, Cross(q, r)) / 6.0;
  }
  for (auto [edge, count] : edges) {
    EXPECT_EQ(count, 1) << "edge " << edge.first << "-" << edge.second << " walked " << count << " times";
    EXPECT_EQ(edges.count({edge.second, edge.first}), 1u)
        << "edge " << edge.first << "-" << edge.second << " open";
  }
  return volume;
}

TEST(Kit, LoftedShapesAreClosedAndFaceOutwards) {
  const TWeightFn rigid = Rigid(0);
  {
    TMeshBuilder b;
    AddBox(b, {1, 2, 3}, {0.5f, 0, 0}, {0, 0.25f, 0}, {0, 0, 2}, 0, rigid);
    EXPECT_NEAR(ClosedVolume(b), 8 * 0.5 * 0.25 * 2, 1e-4);
  }
  {
    TMeshBuilder b;
    AddEllipsoid(b, {0, 1, 0}, {0.3f, 0.5f, 0.2f}, 24, 32, 0, rigid);
    EXPECT_NEAR(ClosedVolume(b), 4.0 / 3 * M_PI * 0.3 * 0.5 * 0.2, 0.02 * 0.126);
  }
  {
    // Along an axis that is not vertical, turned either way.
    TMeshBuilder b;
    AddCapsule(b, {0, 0, 0}, {1, -1, 0.5f}, 0.1f, 16, 0, rigid);
    AddCapsule(b, {1, -1, 0.5f}, {0, 0, 0}, 0.1f, 16, 0, rigid);
    double length = std::sqrt(2.25);
    double capsule = M_PI * 0.01 * length + 4.0 / 3 * M_PI * 0.001;
    EXPECT_NEAR(ClosedVolume(b), 2 * capsule, 0.06 * 2 * capsule);
  }
  {
    TMeshBuilder b;
    AddLathe(b, {0, 0, 0}, {0, 0, -1}, {1, 0, 0}, {0, 0.2f, 0.2f, 0.2f, 0}, 24, 0, rigid);
    EXPECT_GT(ClosedVolume(b), 0);
  }
  {
    TMeshBuilder b;
    AddTube(b, {{0, 0, 0}, {0.1f, 0.3f, 0}, {0.1f, 0.6f, 0.2f}, {0, 0.9f, 0.2f}}, {0, 0.05f, 0.05f, 0},
            {0, 0, 1}, 10, 0, rigid);
    EXPECT_GT(ClosedVolume(b), 0);
  }
}

TEST(Kit, ASheetFacesFromItsInnerSideOutwards) {
  // A curved sheet whose outer face is towards -Z, whichever way its rings run.
  for (float flip : {1.0f, -1.0f}) {
    TMeshBuilder b;
    AddSheet(
        b, 8, 6,
        [flip](float s, float t, TVec3& outer, TVec3& inner) {
          TVec3 p{flip * (s - 0.5f), t, 0.2f * (s - 0.5f) * (s - 0.5f)};
          float thick = 0.05f * std::sin(Pi * t);
          inner = p;
          outer = p + TVec3{0, 0, -thick};
        },
        0, Rigid(0));
    b.ComputeNormals();
    // The middle of the outer face: its normal points to -Z.
    const TMeshVertex* middle = nullptr;
    for (const TMeshVertex& v : b.Vertices)
      if (std::fabs(v.Position.X) < 1e-3f && std::fabs(v.Position.Y - 0.5f) < 1e-3f &&
          (!middle || v.Position.Z < middle->Position.Z))
        middle = &v;
    ASSERT_NE(middle, nullptr);
    EXPECT_LT(middle->Normal.Z, -0.8f) << "flip " << flip;
  }
}

TEST(Kit, ReachingPutsAnklesAndWristsWhereAskedWithKneesForward) {
  for (bool left : {true, false}) {
    TPose pose;
    pose.Root = {0, 0.93f, 0};
    TVec3 ankle{left ? 0.12f : -0.12f, 0.12f, 0.2f};
    ReachFoot(pose, left, ankle, {0, 0, 1}, {});
    TPosed posed = PoseSkeleton(pose);
    TVec3 reached = posed.Joint(left ? PiedG : PiedD);
    EXPECT_NEAR(Length(reached - ankle), 0, 1e-3f);
    // The knee bends forward, ahead of the line from hip to ankle.
    TVec3 hip = posed.Joint(left ? CuisseG : CuisseD), knee = posed.Joint(left ? JambeG : JambeD);
    EXPECT_GT(knee.Z, Mix(hip.Z, ankle.Z, (hip.Y - knee.Y) / (hip.Y - ankle.Y)));
    // The bones keep their lengths.
    EXPECT_NEAR(Length(knee - hip), Length(RestOffset(left ? JambeG : JambeD)), 1e-4f);

    TVec3 wrist{left ? 0.2f : -0.2f, 1.45f, 0.35f};
    ReachHand(pose, left, wrist, {0, -0.3f, -1});
    EXPECT_NEAR(Length(PoseSkeleton(pose).Joint(left ? MainG : MainD) - wrist), 0, 1e-3f);
  }
  // Out of reach: the leg straight, pointing at the target.
  TPose pose;
  ReachFoot(pose, true, {0.1f, -1.0f, 0.0f}, {0, 0, 1}, {});
  TPosed posed = PoseSkeleton(pose);
  TVec3 hip = posed.Joint(CuisseG), ankle = posed.Joint(PiedG);
  float legLength = Length(RestOffset(JambeG)) + Length(RestOffset(PiedG));
  EXPECT_NEAR(Length(ankle - hip), legLength, 2e-3f);
}

TEST(Kit, FeetRollAboutAPointThatStaysPut) {
  const TVec3 ground{0.11f, 0, 0.3f};
  TVec3 flatAnkle;
  TQuat flat;
  FootOnGround(true, ground, 0, 0, flatAnkle, flat);
  EXPECT_NEAR(flatAnkle.Y, RestJoint(PiedG).Y, 1e-4f);
  // The joint of the toes, and the back of the heel on the ground.
  const TVec3 toes = flatAnkle + (RestJoint(OrteilsG) - RestJoint(PiedG));
  const TVec3 heel = ground + TVec3{0, 0, -0.055f};
  for (float pitch : {10.0f, 30.0f, 55.0f}) {
    TVec3 ankle;
    TQuat rotation;
    FootOnGround(true, ground, pitch, 0, ankle, rotation);
    TVec3 movedToes = ankle + Rotate(rotation, RestJoint(OrteilsG) - RestJoint(PiedG));
    EXPECT_NEAR(Length(movedToes - toes), 0, 1e-4f) << pitch;
    EXPECT_GT(ankle.Y, flatAnkle.Y) << pitch;
  }
  TVec3 ankle;
  TQuat rotation;
  FootOnGround(true, ground, -15, 0, ankle, rotation);
  TVec3 heelToAnkle = flatAnkle - heel;
  EXPECT_NEAR(Length(ankle - (heel + Rotate(rotation, heelToAnkle))), 0, 1e-4f);
}

TEST(Kit, BakingPaintsEveryTriangleOfAPackedMesh) {
  TMeshBuilder b;
  AddEllipsoid(b, {0, 0, 0}, {1, 1, 1}, 10, 12, 0, Rigid(0));
  AddCapsule(b, {0, 0, 0}, {0, 3, 0}, 0.2f, 8, 0, Rigid(0));
  AddBox(b, {2, 0, 0}, {0.1f, 0, 0}, {0, 2, 0}, {0, 0, 0.1f}, 0, Rigid(0));
  b.ComputeNormals();
  b.PackParts(128, 2);
  TImage image(128, 128, {0, 0, 0});
  TBaker baker(image);
  baker.Paint(b, [](const TSurfacePoint&) { return TColor{1, 1, 1}; });
  for (const TMeshTriangle& t : b.Triangles) {
    float u = 0, v = 0;
    for (const TMeshCorner& c : t.Corners) {
      EXPECT_TRUE(c.U >= 0 && c.U <= 1 && c.V >= 0 && c.V <= 1);
      u += c.U / 3;
      v += c.V / 3;
    }
    int x = std::min(127, int(u * 128)), y = std::min(127, int((1 - v) * 128));
    EXPECT_EQ(image.At(x, y).R, 1.0f) << "triangle centre at " << u << ", " << v << " left unpainted";
  }
}

TEST(Kit, SkinsOfFewColoursKeepThemExactlyAndOthersNearly) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const std::string file = folder.path().toStdString() + "/skin.pcx";
  TImage few(64, 32), many(64, 64);
  few.Fill([](float x, float y) { return TColor{std::floor(x * 10) / 10, std::floor(y * 20) / 20, 0.5f}; });
  many.Fill([](float x, float y) { return TColor{x, y, 0.5f * (x + y)}; });
  for (const TImage* image : {&few, &many}) {
    SavePCX(*image, file);
    std::unique_ptr<TBitmap> read = LoadPicture(file);
    ASSERT_EQ(read->Width(), image->Width());
    ASSERT_EQ(read->Height(), image->Height());
    double worst = 0;
    for (int y = 0; y < image->Height(); ++y)
      for (int x = 0; x < image->Width(); ++x) {
        uint32_t c = read->Pixel(x, y);
        TColor expected = image->At(x, y);
        worst = std::max({worst, std::fabs(((c >> 16) & 0xFF) - std::lround(expected.R * 255.0f)),
                          std::fabs(((c >> 8) & 0xFF) - std::lround(expected.G * 255.0f)),
                          std::fabs((c & 0xFF) - std::lround(expected.B * 255.0f))});
      }
    EXPECT_LE(worst, image == &few ? 0 : 12) << (image == &few ? "few colours" : "many colours");
  }
}

// The mean difference between neighbouring columns (or rows) of a picture,
// the pair across the wrap counted apart.
void Seams(const TImage& image, bool columns, double& inside, double& across) {
  const int n = columns ? image.Width() : image.Height(), m = columns ? image.Height() : image.Width();
  auto at = [&](int a, int b) { return columns ? image.At(a, b) : image.At(b, a); };
  auto step = [&](int a, int c) {
    double sum = 0;
    for (int b = 0; b < m; ++b) {
      TColor p = at(a, b), q = at(c, b);
      sum += std::fabs(p.R - q.R) + std::fabs(p.G - q.G) + std::fabs(p.B - q.B);
    }
    return sum / m;
  };
  inside = 0;
  for (int a = 0; a + 1 < n; ++a) inside += step(a, a + 1) / (n - 1);
  across = step(n - 1, 0);
}

TEST(Kit, TheMarbleTilesWithoutASeam) {
  TImage marble = PaintMarble();
  for (bool columns : {true, false}) {
    double inside, across;
    Seams(marble, columns, inside, across);
    // The joint between slabs lies on the wrap as it does in the middle, so
    // compare with the step across the middle joint too.
    double middle = 0;
    {
      TImage shifted(marble.Width(), marble.Height());
      for (int y = 0; y < marble.Height(); ++y)
        for (int x = 0; x < marble.Width(); ++x)
          shifted.At(x, y) = columns ? marble.Wrapped(x + marble.Width() / 2, y)
                                     : marble.Wrapped(x, y + marble.Height() / 2);
      double unused;
      Seams(shifted, columns, unused, middle);
    }
    EXPECT_LT(std::fabs(across - middle), 0.25 * middle + inside) << (columns ? "left/right" : "top/bottom");
  }
}

}  // namespace
