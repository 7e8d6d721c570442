#include "GameWindowDataSupport.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <array>
#include <string>
#include <vector>

#include "models/L3D.h"
#include "models/L3DPlayer.h"
#include "models/L3DWriter.h"
#include "models/MD2Writer.h"
#include "models/PCX.h"
#include "platform/Files.h"
#include "world/ZULPlayers.h"

namespace {

constexpr const char* RootBone = "Root";
constexpr uint32_t MotionMs = 1000;
constexpr int KnightFrames = 198;   // the whole standard animation table
constexpr int KnightVertices = 32;  // the weapon's trail follows vertices 21 and 28
constexpr int SkinSide = 16;        // pixels

// The six faces of a box as quads of corner numbers (bit 0 is X, bit 1 Y,
// bit 2 Z), counter-clockwise seen from outside.
constexpr std::array<std::array<int, 4>, 6> BoxFaces = {
    {{1, 3, 7, 5}, {0, 4, 6, 2}, {2, 6, 7, 3}, {0, 1, 5, 4}, {4, 5, 7, 6}, {0, 2, 3, 1}}};

TVector3 Corner(const TBox& box, int corner) {
  return {corner & 1 ? box.X1 : box.X0, corner & 2 ? box.Y1 : box.Y0, corner & 4 ? box.Z1 : box.Z0};
}

std::string File(const std::string& systemName) { return NativePath(systemName); }

void SaveSkeleton() {
  TSkeleton skeleton;
  TS3DBone root{};
  root.Name = TShortName::From(RootBone);
  root.Parent = -1;
  root.Axis = {0, 1, 0};
  skeleton.Bones.push_back(root);
  SaveS3D(skeleton, File("data\\qelt-3d\\Biped.S3D"));
}

void SaveBoxMesh(const std::string& name, const TBox& box) {
  TMesh mesh;
  for (int corner = 0; corner < 8; ++corner) mesh.Vertices.push_back({Corner(box, corner), {0, 1, 0}});
  for (const auto& face : BoxFaces) {
    mesh.Triangles.push_back({{{face[0], 0, 0}, {face[1], 1, 0}, {face[2], 1, 1}}});
    mesh.Triangles.push_back({{{face[0], 0, 0}, {face[2], 1, 1}, {face[3], 0, 1}}});
  }
  mesh.Groups.push_back({0, static_cast<int32_t>(mesh.Triangles.size()) - 1});
  mesh.Bindings.push_back({TShortName::From(RootBone), 0, 7});
  for (int corner = 0; corner < 8; ++corner) mesh.Weights.push_back({corner, 1.0f});
  SaveL3D(mesh, File("data\\qelt-3d\\" + name + ".L3D"));
}

void SaveMotion(const std::string& fileName) {
  TMotion motion;
  motion.Duration = MotionMs;
  motion.Tracks.push_back({TShortName::From(RootBone), 0, 0, 0, -1});
  motion.RotationKeys.push_back({0, 0, 0, 0, 1});
  SaveM3D(motion, File(fileName));
}

bool SavePicture(const std::string& systemName, int side, const std::array<uint32_t, 4>& quarters) {
  QImage image(side, side, QImage::Format_RGB888);
  QPainter painter(&image);
  for (int q = 0; q < 4; ++q)
    painter.fillRect(q % 2 * side / 2, q / 2 * side / 2, side / 2, side / 2, QColor::fromRgb(quarters[q]));
  painter.end();
  return image.save(QString::fromStdString(File(systemName)), "BMP");
}
bool SavePicture(const std::string& systemName, uint32_t color) {
  return SavePicture(systemName, SkinSide, {color, color, color, color});
}

void SaveSkin(const std::string& systemName, uint32_t color) {
  TPCXImage skin;
  skin.SetSize(SkinSide, SkinSide);
  skin.Fill(color);
  skin.SetPixelFormat(pf8bit);
  skin.SaveToFile(File(systemName));
}

// Every frame the same box, given in world units, plus points inside it
// up to KnightVertices.  Draw emits each triangle's corners last to first,
// so they are stored clockwise.
void SaveKnightModel(const std::string& systemName, const TBox& box) {
  std::vector<std::array<float, 3>> points;
  for (int corner = 0; corner < 8; ++corner) {
    TVector3 c = Corner(box, corner);
    points.push_back(MD2PointFromWorld(c.X, c.Y, c.Z));
  }
  while (points.size() < KnightVertices) points.push_back(points[points.size() % 8]);
  TMD2ModelData model;
  model.SkinWidth = model.SkinHeight = SkinSide;
  model.SkinCoords = {{0, 0}, {SkinSide, 0}, {SkinSide, SkinSide}, {0, SkinSide}};
  for (const auto& face : BoxFaces) {
    model.Triangles.push_back({{int16_t(face[2]), int16_t(face[1]), int16_t(face[0])}, {2, 1, 0}});
    model.Triangles.push_back({{int16_t(face[3]), int16_t(face[2]), int16_t(face[0])}, {3, 2, 0}});
  }
  const TMD2FrameData frame = MakeMD2Frame("stand", points);
  model.Frames.assign(KnightFrames, frame);
  SaveMD2(model, File(systemName));
}

}  // namespace

TGameFiles::TGameFiles() : FPrevious(QDir::currentPath()) {
  QDir folder(FFolder.path());
  if (!FFolder.isValid() || !folder.mkpath("data/qelt-3d") || !folder.mkpath("data/images") ||
      !QDir::setCurrent(FFolder.path()))
    return;
  SaveSkeleton();
  for (const char* motion : MotionFiles) SaveMotion(motion);
  SaveBoxMesh("Corps", BodyBox);
  std::vector<std::string> heads = {"Humain", "Elfe"};
  for (int i = 1; i <= 8; ++i) heads.push_back("Cheveux" + std::to_string(i));
  for (int i = 1; i <= 3; ++i)
    heads.insert(heads.end(), {"Barbe" + std::to_string(i), "Oreilles" + std::to_string(i)});
  for (const std::string& head : heads) SaveBoxMesh(head, {-0.3f, 2.0f, -0.3f, 0.3f, 2.6f, 0.3f});
  bool pictures = SavePicture("data\\images\\marbre.bmp", 32,
                              {FloorTopLeft, FloorTopRight, FloorBottomLeft, FloorBottomRight});
  for (const char* name : {"qelt-3d\\Chevalier.BMP", "qelt-3d\\Humain.BMP", "qelt-3d\\Elfe.BMP",
                           "qelt-3d\\Poils.BMP", "images\\flare.bmp"})
    pictures = SavePicture(std::string("data\\") + name, 0xC0A080) && pictures;
  pictures = SavePicture("data\\images\\logozul.bmp", LogoColor) &&
             SavePicture("data\\images\\titre.bmp", TitleColor) && pictures;
  SaveKnightModel("data\\tris.md2", {-1.0f, 0.0f, -1.0f, 1.0f, 5.0f, 1.0f});
  SaveKnightModel("data\\weapon.md2", {1.0f, 2.0f, -0.2f, 1.4f, 6.0f, 0.2f});
  SaveSkin("data\\knight.pcx", 0xA0A0A0);
  SaveSkin("data\\weapon.pcx", 0xFFFF00);
  FValid = pictures;
}

TGameFiles::~TGameFiles() {
  ForgetSharedModels();
  QDir::setCurrent(FPrevious);
}

void ForgetSharedModels() {
  ReleaseSharedMotions();
  S3DManager.Clear();
  L3DManager.Clear();
  M3DManager.Clear();
}
