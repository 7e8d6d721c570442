// Contact sheets of the generated characters (interim drawer).
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "Forge.h"
#include "Sheets.h"
#include "Skeleton.h"
#include "models/GLTextures.h"
#include "models/L3D.h"

namespace {

struct TPiece {
  TMesh* Mesh;
  TGLTexture* Texture;
};

void DrawPiece(const TPiece& piece, const forge::TPosed& posed, const TSkeleton& skeleton) {
  std::vector<forge::TVec3> skinned(piece.Mesh->Vertices.size());
  for (const TL3DBinding& binding : piece.Mesh->Bindings) {
    int bone = skeleton.IndexOfBone(binding.BoneName.View());
    if (bone < 0) continue;
    for (int w = binding.First; w <= binding.Last; ++w) {
      const TL3DWeight& weight = piece.Mesh->Weights[w];
      const TVector3& p = piece.Mesh->Vertices[weight.Vertex].Position;
      skinned[weight.Vertex] += forge::TransformPoint(posed.Skin[bone], {p.X, p.Y, p.Z}) * (weight.Weight * 3);
    }
  }
  glEnable(GL_TEXTURE_2D);
  piece.Texture->Bind();
  glColor3f(1, 1, 1);
  glBegin(GL_TRIANGLES);
  for (const TL3DTriangle& t : piece.Mesh->Triangles)
    for (const TL3DCorner& c : t.Corners) {
      glTexCoord2f(c.U, c.V);
      glVertex3f(skinned[c.Vertex].X, skinned[c.Vertex].Y, skinned[c.Vertex].Z);
    }
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

// The key sampling the game does (interim, until the player lands).
forge::TPose SampleMotion(const TMotion& motion, float phase) {
  forge::TPose pose;
  for (int bone = 0; bone < forge::BoneCount; ++bone) {
    int track = motion.FindTrack(forge::BoneDef(bone).Name);
    const TM3DTrack& t = motion.Tracks[track];
    if (t.FirstRotation <= t.LastRotation) {
      int k = t.LastRotation;
      while (k > t.FirstRotation && phase < motion.RotationKeys[k].Time) --k;
      const TM3DRotationKey& a = motion.RotationKeys[k];
      forge::TQuat q{a.X, a.Y, a.Z, a.W};
      if (k < t.LastRotation) {
        const TM3DRotationKey& b = motion.RotationKeys[k + 1];
        float f = (phase - a.Time) / (b.Time - a.Time);
        if (f > 0) q = forge::Slerp(q, {b.X, b.Y, b.Z, b.W}, f);
      }
      pose.Local[bone] = q;
    }
    if (t.FirstPosition <= t.LastPosition) {
      int k = t.LastPosition;
      while (k > t.FirstPosition && phase < motion.PositionKeys[k].Time) --k;
      const TM3DPositionKey& a = motion.PositionKeys[k];
      forge::TVec3 p{a.X, a.Y, a.Z};
      if (k < t.LastPosition) {
        const TM3DPositionKey& b = motion.PositionKeys[k + 1];
        float f = (phase - a.Time) / (b.Time - a.Time);
        if (f > 0) p = forge::Lerp(p, {b.X, b.Y, b.Z}, f);
      }
      if (bone == 0) pose.Root = p;
    }
  }
  return pose;
}

class ForgeSheets : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { forge::ForgeData("data"); }
};

TEST_F(ForgeSheets, Body) {
  TContactSheet sheet(4, 1, 300, 420);
  ASSERT_TRUE(sheet.Ready());
  TSkeleton* skeleton = S3DManager.Get("data/qelt-3d/Biped.S3D");
  TPiece body{L3DManager.Get("data/qelt-3d/Corps.L3D"), TextureManager.Get("data/qelt-3d/Chevalier.BMP")};
  forge::TPose pose;
  forge::TPosed posed = forge::PoseSkeleton(pose);
  const float yaws[] = {0, 40, 90, 180};
  for (int i = 0; i < 4; ++i) {
    sheet.BeginCell(0, 3, 0, 16, yaws[i] + 0.0f, 8);
    DrawPiece(body, posed, *skeleton);
    sheet.EndCell(i, "body " + std::to_string(int(yaws[i])));
  }
  sheet.Save("body.png");
}

TEST_F(ForgeSheets, Heads) {
  TContactSheet sheet(6, 4, 240, 260);
  ASSERT_TRUE(sheet.Ready());
  TSkeleton* skeleton = S3DManager.Get("data/qelt-3d/Biped.S3D");
  auto piece = [](const std::string& mesh, const std::string& texture) {
    return TPiece{L3DManager.Get("data/qelt-3d/" + mesh), TextureManager.Get("data/qelt-3d/" + texture)};
  };
  TPiece body = piece("Corps.L3D", "Chevalier.BMP");
  TPiece human = piece("Humain.L3D", "Humain.BMP"), elf = piece("Elfe.L3D", "Elfe.BMP");
  forge::TPosed posed = forge::PoseSkeleton(forge::TPose{});
  int cell = 0;
  auto draw = [&](std::vector<TPiece> pieces, const std::string& caption, float yaw) {
    sheet.BeginCell(0, 5.45f, 0, 3.2f, yaw, 5);
    for (const TPiece& p : pieces) DrawPiece(p, posed, *skeleton);
    sheet.EndCell(cell++, caption);
  };
  for (float yaw : {0.0f, 35.0f, 90.0f, 180.0f}) draw({body, human}, "human", yaw);
  for (float yaw : {0.0f, 35.0f}) draw({body, elf}, "elf", yaw);
  for (int i = 1; i <= 8; ++i) draw({body, human, piece("Cheveux" + std::to_string(i) + ".L3D", "Poils.BMP")}, "hair " + std::to_string(i), 30);
  for (int i = 1; i <= 3; ++i) draw({body, human, piece("Barbe" + std::to_string(i) + ".L3D", "Poils.BMP")}, "beard " + std::to_string(i), 20);
  for (int i = 1; i <= 3; ++i) draw({body, elf, piece("Oreilles" + std::to_string(i) + ".L3D", "Elfe.BMP")}, "ears " + std::to_string(i), 40);
  for (int i : {5, 7}) draw({body, human, piece("Cheveux" + std::to_string(i) + ".L3D", "Poils.BMP")}, "hair back " + std::to_string(i), 160);
  sheet.Save("heads.png");
}

TEST_F(ForgeSheets, Motions) {
  TContactSheet sheet(8, 6, 200, 250);
  ASSERT_TRUE(sheet.Ready());
  TSkeleton* skeleton = S3DManager.Get("data/qelt-3d/Biped.S3D");
  auto piece = [](const std::string& mesh, const std::string& texture) {
    return TPiece{L3DManager.Get("data/qelt-3d/" + mesh), TextureManager.Get("data/qelt-3d/" + texture)};
  };
  std::vector<TPiece> pieces = {piece("Corps.L3D", "Chevalier.BMP"), piece("Humain.L3D", "Humain.BMP"),
                                piece("Cheveux5.L3D", "Poils.BMP"), piece("Barbe1.L3D", "Poils.BMP")};
  int cell = 0;
  for (const char* name : {"Arret", "Parle", "Marche", "Course", "att_poing", "Chute"}) {
    TMotion* motion = M3DManager.Get(std::string("data/qelt-3d/") + name + ".M3D");
    for (int i = 0; i < 4; ++i) {
      float phase = i / 4.0f + (std::string(name) == "Chute" ? 0.25f : 0.0f);
      forge::TPosed posed = forge::PoseSkeleton(SampleMotion(*motion, phase));
      for (float yaw : {35.0f, 90.0f}) {
        sheet.BeginCell(0, 3, 0, 15, yaw, 8);
        for (const TPiece& p : pieces) DrawPiece(p, posed, *skeleton);
        sheet.EndCell(cell++, std::string(name) + " " + std::to_string(phase).substr(0, 4));
      }
    }
  }
  sheet.Save("motions.png");
}

}  // namespace
