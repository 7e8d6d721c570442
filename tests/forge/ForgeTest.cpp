// The generated data as the game reads it: every file loads through the
// system's own loaders; every mesh vertex is moved by bones of the skeleton
// with weights summing to 1; motions give every bone a track of its own;
// textures are 24-bit bitmaps of power-of-two sides; the MD2 files have
// honest headers, 198 frames, a knight standing on the ground and a sword
// that stays whole in its hand; and the same files come out every time.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "Forge.h"
#include "Forged.h"
#include "Geometry.h"
#include "Knight.h"
#include "Meshes.h"
#include "models/L3D.h"
#include "models/MD2.h"
#include "models/MD2File.h"
#include "models/PCX.h"
#include "platform/Bitmaps.h"

namespace {

class Forged : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ForgeOnce(); }
};

std::string ReadBytes(const std::string& fileName) {
  std::ifstream stream(fileName, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

bool PowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

std::vector<std::string> FilesEndingWith(const std::string& end) {
  std::vector<std::string> files;
  for (const std::string& f : forge::ForgedFiles())
    if (f.size() > end.size() && f.compare(f.size() - end.size(), end.size(), end) == 0)
      files.push_back("data/" + f);
  return files;
}

TEST_F(Forged, EveryFileLoadsThroughTheGamesOwnLoaders) {
  // Body, 2 heads, 8 hair, 3 beards, 3 ears, and the low level of each.
  EXPECT_EQ(FilesEndingWith(".L3D").size(), 34u);
  EXPECT_EQ(FilesEndingWith(".M3D").size(), 6u);
  for (const std::string& file : FilesEndingWith(".S3D")) EXPECT_NO_THROW(TSkeleton().Load(file)) << file;
  for (const std::string& file : FilesEndingWith(".L3D")) EXPECT_NO_THROW(TMesh().Load(file)) << file;
  for (const std::string& file : FilesEndingWith(".M3D")) EXPECT_NO_THROW(TMotion().Load(file)) << file;
  std::vector<std::string> bitmaps = FilesEndingWith(".BMP"), images = FilesEndingWith(".bmp");
  bitmaps.insert(bitmaps.end(), images.begin(), images.end());
  ASSERT_EQ(bitmaps.size(), 8u);
  for (const std::string& file : bitmaps) {
    TBitmap bitmap;
    ASSERT_NO_THROW(bitmap.LoadFromFile(file)) << file;
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit) << file;
    EXPECT_TRUE(PowerOfTwo(bitmap.Width()) && PowerOfTwo(bitmap.Height()))
        << file << " is " << bitmap.Width() << " x " << bitmap.Height();
  }
  TBitmap logo, title;
  logo.LoadFromFile("data/images/logozul.bmp");
  title.LoadFromFile("data/images/titre.bmp");
  EXPECT_EQ(logo.Width(), logo.Height());
  EXPECT_EQ(title.Width(), 8 * title.Height());
  for (const char* skin : {"data/knight.pcx", "data/weapon.pcx"}) {
    std::unique_ptr<TBitmap> picture;
    ASSERT_NO_THROW(picture = LoadPicture(skin)) << skin;
    EXPECT_EQ(picture->PixelFormat(), pf8bit) << skin;
    EXPECT_TRUE(PowerOfTwo(picture->Width()) && PowerOfTwo(picture->Height())) << skin;
  }
  for (const char* model : {"data\\tris.md2", "data\\weapon.md2"}) {
    TModelInstance* instance = nullptr;
    ASSERT_NO_THROW(instance = ModelManager.Get(model)) << model;
    EXPECT_EQ(instance->FrameCount(), 198) << model;
    instance->Release();
  }
}

TEST_F(Forged, EveryMeshVertexIsMovedByBonesOfTheSkeletonWithWeightsSummingToOne) {
  TSkeleton skeleton;
  skeleton.Load("data/qelt-3d/Biped.S3D");
  ASSERT_GE(skeleton.Bones.size(), 16u);
  for (const std::string& file : FilesEndingWith(".L3D")) {
    TMesh mesh;
    mesh.Load(file);
    std::vector<double> sums(mesh.Vertices.size(), 0);
    for (const TL3DBinding& binding : mesh.Bindings) {
      EXPECT_GE(skeleton.IndexOfBone(binding.BoneName.View()), 0)
          << file << ": bone " << binding.BoneName.Str();
      for (int w = binding.First; w <= binding.Last; ++w) {
        EXPECT_GT(mesh.Weights[w].Weight, 0) << file;
        sums[mesh.Weights[w].Vertex] += mesh.Weights[w].Weight;
      }
    }
    for (std::size_t v = 0; v < sums.size(); ++v) ASSERT_NEAR(sums[v], 1.0, 1e-4) << file << ": vertex " << v;
    // One group over every triangle, corners inside the texture.
    ASSERT_EQ(mesh.Groups.size(), 1u) << file;
    EXPECT_EQ(mesh.Groups[0].First, 0);
    EXPECT_EQ(mesh.Groups[0].Last, int(mesh.Triangles.size()) - 1);
    for (const TL3DTriangle& t : mesh.Triangles) {
      for (const TL3DCorner& c : t.Corners) {
        ASSERT_TRUE(c.U >= 0 && c.U <= 1 && c.V >= 0 && c.V <= 1) << file << ": " << c.U << ", " << c.V;
      }
    }
  }
}

// The lowest and highest rest-pose heights of a mesh file, model units.
std::pair<float, float> HeightRange(const std::string& file) {
  TMesh mesh;
  mesh.Load(file);
  float lo = 1e9f, hi = -1e9f;
  for (const TL3DVertex& v : mesh.Vertices) {
    lo = std::min(lo, v.Position.Y);
    hi = std::max(hi, v.Position.Y);
  }
  return {lo, hi};
}

TEST_F(Forged, TheCharacterIsTwoUnitsTallWithItsFeetOnTheGroundFacingForward) {
  EXPECT_NEAR(HeightRange("data/qelt-3d/Corps.L3D").first, 0.0f, 0.005f);
  EXPECT_NEAR(HeightRange("data/qelt-3d/Humain.L3D").second, 2.0f, 0.05f);
  EXPECT_NEAR(HeightRange("data/qelt-3d/Elfe.L3D").second, 2.0f, 0.05f);
  // The nose is the foremost point of a head: the face looks towards +Z.
  TMesh head;
  head.Load("data/qelt-3d/Humain.L3D");
  const TL3DVertex* front = &head.Vertices[0];
  for (const TL3DVertex& v : head.Vertices)
    if (v.Position.Z > front->Position.Z) front = &v;
  EXPECT_NEAR(front->Position.X, 0.0f, 0.01f);
  EXPECT_GT(front->Position.Y, 1.80f);
  EXPECT_LT(front->Position.Y, 1.90f);
}

TEST_F(Forged, MotionsGiveEveryBoneATrackOfItsOwnWithOrderedUnitKeys) {
  TSkeleton skeleton;
  skeleton.Load("data/qelt-3d/Biped.S3D");
  for (const std::string& file : FilesEndingWith(".M3D")) {
    TMotion motion;
    motion.Load(file);
    EXPECT_GT(motion.Duration, 0u) << file;
    // Track 0 serves bones without a track; none is left to it.
    EXPECT_GT(motion.Tracks[0].FirstRotation, motion.Tracks[0].LastRotation) << file;
    EXPECT_GT(motion.Tracks[0].FirstPosition, motion.Tracks[0].LastPosition) << file;
    for (const TS3DBone& bone : skeleton.Bones) {
      int track = motion.FindTrack(bone.Name.View());
      ASSERT_GE(track, 1) << file << ": " << bone.Name.Str();
      const TM3DTrack& t = motion.Tracks[track];
      // A track is the whole local transform: it has both kinds of keys.
      ASSERT_LE(t.FirstRotation, t.LastRotation) << file << ": " << bone.Name.Str();
      ASSERT_LE(t.FirstPosition, t.LastPosition) << file << ": " << bone.Name.Str();
      EXPECT_EQ(motion.RotationKeys[t.FirstRotation].Time, 0.0f);
      EXPECT_EQ(motion.RotationKeys[t.LastRotation].Time, 1.0f);
      for (int k = t.FirstRotation; k <= t.LastRotation; ++k) {
        const TM3DRotationKey& key = motion.RotationKeys[k];
        if (k > t.FirstRotation) {
          EXPECT_GT(key.Time, motion.RotationKeys[k - 1].Time) << file;
        }
        EXPECT_NEAR(key.X * key.X + key.Y * key.Y + key.Z * key.Z + key.W * key.W, 1.0f, 1e-4f) << file;
      }
      for (int k = t.FirstPosition + 1; k <= t.LastPosition; ++k)
        EXPECT_GT(motion.PositionKeys[k].Time, motion.PositionKeys[k - 1].Time) << file;
    }
  }
}

// The 68-byte header as the file has it.
TMD2Header RawHeader(const std::string& bytes) {
  TMD2Header header;
  std::memcpy(&header, bytes.data(), sizeof header);
  return header;
}

TEST_F(Forged, MD2HeadersTellTheTruthAboutTheirFiles) {
  for (const char* file : {"data/tris.md2", "data/weapon.md2"}) {
    std::string bytes = ReadBytes(file);
    ASSERT_GE(bytes.size(), 68u) << file;
    EXPECT_EQ(bytes.substr(0, 4), "IDP2") << file;
    TMD2Header h = RawHeader(bytes);
    EXPECT_EQ(h.Version, 8) << file;
    EXPECT_EQ(h.FrameCount, 198) << file;
    EXPECT_EQ(h.FrameSize, 40 + 4 * h.VertexCount) << file;
    // The tables follow each other, in the usual order, up to the end.
    EXPECT_EQ(h.SkinNamesOffset, 68) << file;
    EXPECT_EQ(h.SkinCoordsOffset, h.SkinNamesOffset + 64 * h.SkinNameCount) << file;
    EXPECT_EQ(h.TrianglesOffset, h.SkinCoordsOffset + 4 * h.SkinCoordCount) << file;
    EXPECT_EQ(h.FramesOffset, h.TrianglesOffset + 12 * h.TriangleCount) << file;
    EXPECT_EQ(h.CommandsOffset, h.FramesOffset + h.FrameSize * h.FrameCount) << file;
    EXPECT_EQ(h.EndOffset, h.CommandsOffset + 4 * h.CommandCount) << file;
    EXPECT_EQ(std::size_t(h.EndOffset), bytes.size()) << file;
    EXPECT_NO_THROW(
        ReadMD2Header(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), file));
  }
  // Each skin's size is what its model says.
  EXPECT_EQ(LoadPicture("data/knight.pcx")->Width(), RawHeader(ReadBytes("data/tris.md2")).SkinWidth);
  EXPECT_EQ(LoadPicture("data/weapon.pcx")->Height(), RawHeader(ReadBytes("data/weapon.md2")).SkinHeight);
}

float Distance(const TVector3& a, const TVector3& b) {
  return std::sqrt((a.X - b.X) * (a.X - b.X) + (a.Y - b.Y) * (a.Y - b.Y) + (a.Z - b.Z) * (a.Z - b.Z));
}

TEST_F(Forged, TheKnightStandsOnTheGroundAsTallAsAPlayerWithTheSwordWholeInItsHand) {
  TModelInstance* knight = ModelManager.Get("data\\tris.md2");
  TModelInstance* sword = ModelManager.Get("data\\weapon.md2");
  ASSERT_GT(sword->VertexCount(), forge::SwordTipVertex);
  float blade = Distance(sword->Frame(0)[forge::SwordTipVertex], sword->Frame(0)[forge::SwordBaseVertex]);
  EXPECT_GT(blade, 2.0f);  // world units: a long blade for a figure of 6
  for (int f = 0; f < 198; ++f) {
    const TVector3* body = knight->Frame(f);
    float lo = 1e9f, hi = -1e9f;
    for (int v = 0; v < knight->VertexCount(); ++v) {
      lo = std::min(lo, body[v].Y);
      hi = std::max(hi, body[v].Y);
      // Nothing flung away from where the knight stands.
      ASSERT_LT(std::hypot(body[v].X, body[v].Z), 8.0f) << "frame " << f << ", vertex " << v;
    }
    // On the ground; the run (frames 40 to 45) has moments in the air, the
    // jump is high at its top (68, 69).
    if (f == 68 || f == 69) {
      EXPECT_GT(lo, 0.3f) << "frame " << f << ": in the air";
    } else if (f >= 40 && f <= 45) {
      EXPECT_TRUE(lo > -0.12f && lo < 0.3f) << "frame " << f << ": running, lowest at " << lo;
    } else {
      EXPECT_NEAR(lo, 0.0f, 0.12f) << "frame " << f << ": the lowest point";
    }
    if (f < 40) {
      EXPECT_NEAR(hi, 6.2f, 0.5f) << "frame " << f << ": standing height";
    }
    // The sword keeps its length (up to the bytes' steps) and its base
    // stays by a hand of the knight.
    const TVector3* s = sword->Frame(f);
    EXPECT_NEAR(Distance(s[forge::SwordTipVertex], s[forge::SwordBaseVertex]), blade, 0.12f) << "frame " << f;
    float nearest = 1e9f;
    for (int v = 0; v < knight->VertexCount(); ++v)
      nearest = std::min(nearest, Distance(body[v], s[forge::SwordBaseVertex]));
    EXPECT_LT(nearest, 0.5f) << "frame " << f;
  }
  // The tip is the sword's farthest point from its base.
  for (int v = 0; v < sword->VertexCount(); ++v)
    EXPECT_LE(Distance(sword->Frame(0)[v], sword->Frame(0)[forge::SwordBaseVertex]), blade + 1e-3f) << v;
  knight->Release();
  sword->Release();
}

TEST_F(Forged, TexturePartsNeverShareTexels) {
  forge::TMeshBuilder body = forge::BuildBody(), elf = forge::BuildHead(forge::TRace::Elf);
  std::vector<forge::TMeshBuilder> ears = {forge::BuildEars(1), forge::BuildEars(2), forge::BuildEars(3)};
  body.PackParts(forge::BodyTextureSize, 3);
  forge::PackParts({&elf, &ears[0], &ears[1], &ears[2]}, forge::HeadTextureSize, 3);
  for (const std::vector<const forge::TMeshBuilder*>& atlas :
       std::vector<std::vector<const forge::TMeshBuilder*>>{{&body}, {&elf, &ears[0], &ears[1], &ears[2]}}) {
    std::vector<forge::TMeshPart> parts;
    for (const forge::TMeshBuilder* mesh : atlas)
      parts.insert(parts.end(), mesh->Parts.begin(), mesh->Parts.end());
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const forge::TMeshPart& a = parts[i];
      EXPECT_TRUE(a.U0 >= 0 && a.V0 >= 0 && a.U1 <= 1 && a.V1 <= 1 && a.U0 < a.U1 && a.V0 < a.V1) << i;
      for (std::size_t j = i + 1; j < parts.size(); ++j) {
        const forge::TMeshPart& b = parts[j];
        bool apart = a.U1 <= b.U0 || b.U1 <= a.U0 || a.V1 <= b.V0 || b.V1 <= a.V0;
        EXPECT_TRUE(apart) << "parts " << i << " and " << j << " overlap";
      }
    }
  }
}

TEST_F(Forged, TheSameFilesComeOutEveryTime) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const std::string again = folder.path().toStdString();
  forge::ForgeData(again);
  for (const std::string& file : forge::ForgedFiles()) {
    std::string first = ReadBytes("data/" + file), second = ReadBytes(again + "/" + file);
    EXPECT_FALSE(first.empty()) << file;
    EXPECT_TRUE(first == second) << file << " differs between two runs";
  }
}

}  // namespace
