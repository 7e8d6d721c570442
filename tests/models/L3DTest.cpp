// Skeletal model files: round trips through the writers and the real
// loaders, the order and texts of the header checks, files cut short or
// malformed, the bone and track lookups, and the sharing and counting of
// instances by the managers.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "models/L3D.h"
#include "models/L3DWriter.h"
#include "platform/Errors.h"

namespace {

TS3DBone Bone(const char* name, int32_t parent, float x = 0) {
  TS3DBone bone{};
  bone.Name = TShortName::From(name);
  bone.Parent = parent;
  bone.Position = {x, 2 * x, -x};
  bone.Angle = 45;
  bone.Axis = {0, 1, 0};
  return bone;
}

TM3DTrack Track(const char* name, int32_t firstRotation = 0, int32_t lastRotation = -1,
                int32_t firstPosition = 0, int32_t lastPosition = -1) {
  return {TShortName::From(name), firstRotation, lastRotation, firstPosition, lastPosition};
}

// A small well-formed mesh: two triangles over four vertices in one group,
// bound to two bones.
void FillMesh(TMesh& mesh) {
  for (int i = 0; i < 4; ++i) mesh.Vertices.push_back({{float(i), 1, 2}, {0, 0, 1}});
  mesh.Triangles.push_back({{{0, 0.f, 0.f}, {1, 1.f, 0.f}, {2, 1.f, 1.f}}});
  mesh.Triangles.push_back({{{2, 1.f, 1.f}, {3, 0.f, 1.f}, {0, 0.f, 0.f}}});
  mesh.Table12.push_back({{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}});
  mesh.Groups.push_back({0, 1});
  mesh.Groups.push_back({5, 4});  // empty
  mesh.Table24.push_back({{24, 23, 22}});
  mesh.Bindings.push_back({TShortName::From("Spine"), 0, 2});
  mesh.Bindings.push_back({TShortName::From("Head"), 3, 3});
  for (int i = 0; i < 4; ++i) mesh.Weights.push_back({i, 0.25f * float(i)});
}

template <class T>
bool SameBytes(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

class L3DFiles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FDir.isValid()); }

  // The system's form of a name in the test folder.
  std::string Name(const std::string& file) const { return FDir.path().toStdString() + "\\" + file; }

  std::string WriteBytes(const std::string& file, const std::string& bytes) const {
    std::ofstream(FDir.path().toStdString() + "/" + file, std::ios::binary) << bytes;
    return Name(file);
  }

  template <class T>
  std::string Bytes(const T& model, void (*write)(const T&, std::ostream&)) {
    std::ostringstream out;
    write(model, out);
    return out.str();
  }

  // The message a load raises, or "(loaded)".
  template <class T>
  static std::string LoadError(const std::string& name) {
    try {
      T model;
      model.Load(name);
    } catch (const Exception& e) {
      return e.Message();
    }
    return "(loaded)";
  }

  static void Patch32(std::string& bytes, std::size_t at, uint32_t value) {
    std::memcpy(&bytes[at], &value, 4);
  }

 private:
  QTemporaryDir FDir;
};

}  // namespace

TEST_F(L3DFiles, SkeletonRoundTripKeepsNamesWholeAndLooksBonesUpExactly) {
  TSkeleton skeleton;
  skeleton.Bones = {Bone("Root", -1), Bone("ABCDEFGHIJKLMNOPQRS", 0, 1.5f), Bone("Spine", 1, 2),
                    Bone("spine", 2), Bone("Spine", 0, 3)};
  SaveS3D(skeleton, Name("Biped.S3D"));
  TSkeleton* loaded = S3DManager.Get(Name("Biped.S3D"));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->FileName, Name("Biped.S3D"));
  EXPECT_EQ(loaded->BoneCount, 5u);
  EXPECT_EQ(loaded->Version, 101u);
  EXPECT_EQ(loaded->HeaderSize, 16u);
  EXPECT_TRUE(SameBytes(loaded->Bones, skeleton.Bones));
  EXPECT_TRUE(loaded->BindInverse.empty());
  EXPECT_EQ(loaded->Bones[1].Name.Str(), "ABCDEFGHIJKLMNOPQRS");
  EXPECT_EQ(loaded->Bones[1].Position.Y, 3.0f);
  EXPECT_EQ(loaded->IndexOfBone("ABCDEFGHIJKLMNOPQRS"), 1);
  EXPECT_EQ(loaded->IndexOfBone("ABCDEFGHIJKLMNOPQR"), -1);
  EXPECT_EQ(loaded->IndexOfBone("Spine"), 4) << "the highest of equal names wins";
  EXPECT_EQ(loaded->IndexOfBone("spine"), 3) << "letter case counts";
  EXPECT_EQ(loaded->IndexOfBone("SPINE"), -1);
  EXPECT_EQ(loaded->IndexOfBone("Root"), 0);
  EXPECT_EQ(loaded->IndexOfBone(""), -1);
  loaded->Release();
  EXPECT_EQ(S3DManager.Find(Name("Biped.S3D")), nullptr);
  EXPECT_THROW(TShortName::From("ABCDEFGHIJKLMNOPQRST"), Exception) << "20 characters do not fit";
}

TEST_F(L3DFiles, MeshAndMotionRoundTripEveryTable) {
  TMesh mesh;
  FillMesh(mesh);
  SaveL3D(mesh, Name("Corps.L3D"));
  TMesh* loadedMesh = L3DManager.Get(Name("Corps.L3D"));
  EXPECT_EQ(loadedMesh->VertexCount, 4u);
  EXPECT_EQ(loadedMesh->WeightCount, 4u);
  EXPECT_TRUE(SameBytes(loadedMesh->Vertices, mesh.Vertices));
  EXPECT_TRUE(SameBytes(loadedMesh->Triangles, mesh.Triangles));
  EXPECT_TRUE(SameBytes(loadedMesh->Table12, mesh.Table12));
  EXPECT_TRUE(SameBytes(loadedMesh->Groups, mesh.Groups));
  EXPECT_TRUE(SameBytes(loadedMesh->Table24, mesh.Table24));
  EXPECT_TRUE(SameBytes(loadedMesh->Bindings, mesh.Bindings));
  EXPECT_TRUE(SameBytes(loadedMesh->Weights, mesh.Weights));
  EXPECT_EQ(loadedMesh->Bindings[1].BoneName.Str(), "Head");
  loadedMesh->Release();

  TMotion motion;
  motion.Duration = 1200;
  motion.Tracks = {Track("Root", 0, 1, 0, 0), Track("Spine", 2, 1, 1, 1)};
  motion.RotationKeys = {{0, 0, 0, 0, 1}, {1, 0, 0.7071f, 0, 0.7071f}};
  motion.PositionKeys = {{0, 1, 2, 3}, {0.5f, 4, 5, 6}};
  SaveM3D(motion, Name("Arret.M3D"));
  TMotion* loadedMotion = M3DManager.Get(Name("Arret.M3D"));
  EXPECT_EQ(loadedMotion->Duration, 1200u);
  EXPECT_TRUE(SameBytes(loadedMotion->Tracks, motion.Tracks));
  EXPECT_TRUE(SameBytes(loadedMotion->RotationKeys, motion.RotationKeys));
  EXPECT_TRUE(SameBytes(loadedMotion->PositionKeys, motion.PositionKeys));
  loadedMotion->Release();
}

TEST_F(L3DFiles, HeaderChecksComeMagicFirstThenVersionThenSize) {
  std::string s3d = Bytes(TSkeleton(), &WriteS3D);
  std::string l3d = Bytes(TMesh(), &WriteL3D);
  std::string m3d = Bytes(TMotion(), &WriteM3D);
  ASSERT_EQ(s3d.size(), 16u);
  ASSERT_EQ(l3d.size(), 40u);
  ASSERT_EQ(m3d.size(), 28u);

  auto variant = [](std::string bytes, std::size_t at, uint32_t value) {
    Patch32(bytes, at, value);
    return bytes;
  };
  struct TCase {
    std::string Bytes;
    std::function<std::string(const std::string&)> Load;
    std::string Expected;
  };
  auto s3dLoad = &LoadError<TSkeleton>;
  auto l3dLoad = &LoadError<TMesh>;
  auto m3dLoad = &LoadError<TMotion>;
  std::string badMagicAndVersion = variant(variant(s3d, 0, 0x51454C54), 4, 7);  // "TLEQ"
  std::vector<TCase> cases = {
      {badMagicAndVersion, s3dLoad, "not an S3D file"},
      {variant(variant(l3d, 0, 0), 8, 1), l3dLoad, "not an ZUL3D file"},
      {variant(variant(m3d, 0, 0x51454C55), 4, 0), m3dLoad, "not an M3D file"},
      {variant(s3d, 4, 100), s3dLoad, "unsupported version (100/101)"},
      {variant(s3d, 4, 0xFFFFFFFF), s3dLoad, "unsupported version (4294967295/101)"},
      {variant(variant(s3d, 4, 102), 8, 99), s3dLoad, "unsupported version (102/101)"},
      {variant(l3d, 4, 101), l3dLoad, "unsupported version"},
      {variant(m3d, 4, 103), m3dLoad, "unsupported version (103/101)"},
      {variant(s3d, 8, 20), s3dLoad, "unknown file format"},
      {variant(l3d, 8, 16), l3dLoad, "unknown file format"},
      {variant(m3d, 8, 40), m3dLoad, "unknown file format"},
      {s3d.substr(0, 15), s3dLoad, "Stream read error"},
      {l3d.substr(0, 12), l3dLoad, "Stream read error"},
      {std::string(), m3dLoad, "Stream read error"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    std::string name = WriteBytes("case" + std::to_string(i), cases[i].Bytes);
    EXPECT_EQ(cases[i].Load(name), cases[i].Expected) << "case " << i;
  }
  EXPECT_EQ(LoadError<TMesh>(Name("nothing.L3D")), "Cannot open file " + Name("nothing.L3D"));
}

TEST_F(L3DFiles, EmptyMeshLoadsAndFilesEndingInsideATableFail) {
  std::string empty = WriteBytes("Empty.L3D", Bytes(TMesh(), &WriteL3D));
  TMesh loaded;
  loaded.Load(empty);
  EXPECT_TRUE(loaded.Vertices.empty() && loaded.Triangles.empty() && loaded.Weights.empty());
  EXPECT_EQ(loaded.Version, 103u);

  TMesh mesh;
  FillMesh(mesh);
  std::string full = Bytes(mesh, &WriteL3D);
  EXPECT_EQ(LoadError<TMesh>(WriteBytes("Whole.L3D", full)), "(loaded)");
  EXPECT_EQ(LoadError<TMesh>(WriteBytes("Cut.L3D", full.substr(0, full.size() - 1))), "Stream read error");
  EXPECT_EQ(LoadError<TMesh>(WriteBytes("Head.L3D", full.substr(0, 40 + 24 * 4 + 10))), "Stream read error");
  // A count far beyond the file fails without trying to hold it.
  std::string huge = full;
  Patch32(huge, 12, 0xFFFFFFFF);
  EXPECT_EQ(LoadError<TMesh>(WriteBytes("Huge.L3D", huge)), "Stream read error");

  TSkeleton skeleton;
  skeleton.Bones = {Bone("Root", -1), Bone("Arm", 0)};
  std::string s3d = Bytes(skeleton, &WriteS3D);
  EXPECT_EQ(LoadError<TSkeleton>(WriteBytes("Cut.S3D", s3d.substr(0, 16 + 60))), "Stream read error");
  TMotion motion;
  motion.Tracks = {Track("Root", 0, 0)};
  motion.RotationKeys = {{0, 0, 0, 0, 1}};
  std::string m3d = Bytes(motion, &WriteM3D);
  EXPECT_EQ(LoadError<TMotion>(WriteBytes("Cut.M3D", m3d.substr(0, m3d.size() - 4))), "Stream read error");
}

TEST_F(L3DFiles, MalformedIndicesRangesNamesAndParentsAreRejectedNamingTheFile) {
  auto skeletonError = [&](std::vector<TS3DBone> bones) {
    TSkeleton skeleton;
    skeleton.Bones = std::move(bones);
    SaveS3D(skeleton, Name("Bad.S3D"));
    return LoadError<TSkeleton>(Name("Bad.S3D"));
  };
  std::string prefix = Name("Bad.S3D") + ": ";
  EXPECT_EQ(skeletonError({Bone("Root", -1), Bone("Arm", 2)}),
            prefix + "bone 1: parent 2 outside the 2 bones");
  EXPECT_EQ(skeletonError({Bone("Root", -1), Bone("Self", 1)}), prefix + "bone 1: parent links form a cycle");
  EXPECT_EQ(skeletonError({Bone("Root", -7), Bone("A", 3), Bone("B", 1), Bone("C", 2), Bone("D", 0)}),
            prefix + "bone 1: parent links form a cycle");
  EXPECT_EQ(skeletonError({Bone("D", 1), Bone("Root", -1), Bone("A", 0), Bone("B", 2)}), "(loaded)");
  TS3DBone longName = Bone("Root", -1);
  longName.Name.Length = 20;
  EXPECT_EQ(skeletonError({longName}), prefix + "bone 0: name of 20 characters (19 at most)");

  auto meshError = [&](const std::function<void(TMesh&)>& spoil) {
    TMesh mesh;
    FillMesh(mesh);
    spoil(mesh);
    SaveL3D(mesh, Name("Bad.L3D"));
    return LoadError<TMesh>(Name("Bad.L3D"));
  };
  prefix = Name("Bad.L3D") + ": ";
  EXPECT_EQ(meshError([](TMesh& m) { m.Triangles[1].Corners[2].Vertex = 4; }),
            prefix + "triangle 1: vertex 4 outside the 4 vertices");
  EXPECT_EQ(meshError([](TMesh& m) { m.Triangles[0].Corners[0].Vertex = -1; }),
            prefix + "triangle 0: vertex -1 outside the 4 vertices");
  EXPECT_EQ(meshError([](TMesh& m) { m.Groups[0].Last = 2; }),
            prefix + "group 0: triangles 0..2 outside the 2 triangles");
  EXPECT_EQ(meshError([](TMesh& m) { m.Groups[0].First = -1; }),
            prefix + "group 0: triangles -1..1 outside the 2 triangles");
  EXPECT_EQ(meshError([](TMesh& m) { m.Groups[1] = {1000000, -1000000}; }), "(loaded)") << "an empty range";
  EXPECT_EQ(meshError([](TMesh& m) { m.Bindings[1].Last = 4; }),
            prefix + "binding 1: weights 3..4 outside the 4 weights");
  EXPECT_EQ(meshError([](TMesh& m) { m.Bindings[0].BoneName.Length = 200; }),
            prefix + "binding 0: name of 200 characters (19 at most)");
  EXPECT_EQ(meshError([](TMesh& m) { m.Weights[3].Vertex = 99; }),
            prefix + "weight 3: vertex 99 outside the 4 vertices");

  auto motionError = [&](TM3DTrack track) {
    TMotion motion;
    motion.Tracks = {Track("Root", 0, 1, 0, 0), track};
    motion.RotationKeys = {{0, 0, 0, 0, 1}, {1, 0, 0, 0, 1}};
    motion.PositionKeys = {{0, 1, 2, 3}};
    SaveM3D(motion, Name("Bad.M3D"));
    return LoadError<TMotion>(Name("Bad.M3D"));
  };
  prefix = Name("Bad.M3D") + ": ";
  EXPECT_EQ(motionError(Track("Arm", 1, 2)),
            prefix + "track 1: rotation keys 1..2 outside the 2 rotation keys");
  EXPECT_EQ(motionError(Track("Arm", 0, -1, 0, 1)),
            prefix + "track 1: position keys 0..1 outside the 1 position keys");
  EXPECT_EQ(motionError(Track("Arm", 7, 6, -5, -9)), "(loaded)");

  // Nothing of a rejected file stays with the manager.
  int before = L3DManager.Count();
  EXPECT_THROW(L3DManager.Get(Name("Bad.L3D")), Exception);
  EXPECT_EQ(L3DManager.Count(), before);
  EXPECT_EQ(L3DManager.Find(Name("Bad.L3D")), nullptr);
}

TEST(L3DLookups, FindTrackLetsTrackZeroServeEveryOtherBone) {
  TMotion none;
  EXPECT_EQ(none.FindTrack("A"), -1);
  TMotion one;
  one.Tracks = {Track("Root")};
  EXPECT_EQ(one.FindTrack("Root"), 0);
  EXPECT_EQ(one.FindTrack("Anything"), 0);
  TMotion abc;
  abc.Tracks = {Track("A"), Track("B"), Track("C")};
  EXPECT_EQ(abc.FindTrack("A"), 0);
  EXPECT_EQ(abc.FindTrack("Z"), 0);
  EXPECT_EQ(abc.FindTrack("B"), 1);
  EXPECT_EQ(abc.FindTrack("C"), 2);
  EXPECT_EQ(abc.FindTrack("c"), 0) << "letter case counts";
  abc.Tracks.push_back(Track("B"));
  EXPECT_EQ(abc.FindTrack("B"), 3) << "the highest of equal names wins";
}

TEST_F(L3DFiles, ManagersShareLoadedFilesAndCountEveryCaller) {
  TSkeleton skeleton;
  skeleton.Bones = {Bone("Root", -1)};
  SaveS3D(skeleton, Name("Shared.S3D"));
  TS3DManager manager;
  TSkeleton* first = manager.Get(Name("Shared.S3D"));
  TSkeleton* second = manager.Get(Name("Shared.S3D"));
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->RefCount, 1);
  EXPECT_EQ(first->Manager(), &manager);
  EXPECT_EQ(manager.Find(Name("shared.s3d")), nullptr) << "names are looked up exactly";
  second->Release();
  EXPECT_EQ(first->RefCount, 0);
  EXPECT_EQ(manager.Find(Name("Shared.S3D")), first);
  first->Release();
  EXPECT_EQ(manager.Count(), 0) << "the last release destroys it and takes it off the list";

  // Once given back, the file is read anew.
  skeleton.Bones.push_back(Bone("Arm", 0));
  SaveS3D(skeleton, Name("Shared.S3D"));
  TSkeleton* again = manager.Get(Name("Shared.S3D"));
  EXPECT_EQ(again->Bones.size(), 2u);
  EXPECT_THROW(manager.Get(Name("Missing.S3D")), Exception);
  EXPECT_EQ(manager.Count(), 1);
  again->Release();
}

namespace {

class TProbe : public TInstance {
 public:
  TProbe(TManager* manager, int& alive) : TInstance(manager), FAlive(alive) { ++FAlive; }
  ~TProbe() override { --FAlive; }

 private:
  int& FAlive;
};

class TProbeManager : public TManager {
 public:
  TProbe* Make(const std::string& name, int& alive) {
    auto* probe = new TProbe(this, alive);
    probe->FileName = name;
    Add(probe);
    return probe;
  }
};

}  // namespace

TEST(L3DInstances, ReleaseCountsDownWhileManagedAndDestroysWhenDetached) {
  int alive = 0;
  TProbeManager manager;
  TProbe* probe = manager.Make("a", alive);
  TProbe* other = manager.Make("b", alive);
  TProbe* twin = manager.Make("a", alive);
  EXPECT_EQ(manager.Find("a"), probe) << "the first of equal names";
  probe->RefCount = 2;
  probe->Release();
  EXPECT_EQ(probe->RefCount, 1);
  EXPECT_EQ(alive, 3);
  other->Release();
  EXPECT_EQ(alive, 2);
  EXPECT_EQ(manager.Count(), 2);
  EXPECT_EQ(manager.Find("b"), nullptr);

  twin->RefCount = 5;
  manager.Clear();
  EXPECT_EQ(manager.Count(), 0);
  EXPECT_EQ(probe->Manager(), nullptr);
  EXPECT_EQ(manager.Find("a"), nullptr);
  EXPECT_EQ(alive, 2) << "clearing destroys nothing";
  probe->Release();
  twin->Release();
  EXPECT_EQ(alive, 0) << "a detached instance goes at its next release, whatever its count";

  // A manager that goes away detaches what it still lists.
  TProbe* orphan;
  {
    TProbeManager scoped;
    orphan = scoped.Make("c", alive);
    orphan->RefCount = 3;
  }
  EXPECT_EQ(orphan->Manager(), nullptr);
  orphan->Release();
  EXPECT_EQ(alive, 0);
}
