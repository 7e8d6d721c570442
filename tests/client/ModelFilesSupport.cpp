#include "ModelFilesSupport.h"

#include <QDir>
#include <QImage>
#include <cstring>

#include "models/L3D.h"
#include "models/L3DWriter.h"
#include "platform/Files.h"

namespace {
// A player's own meshes, and every other one a look may choose.
constexpr const char* Meshes[] = {"Corps",    "Humain",    "Barbe1",    "Cheveux5",  "Elfe",     "Barbe2",
                                  "Barbe3",   "Oreilles1", "Oreilles2", "Oreilles3", "Cheveux1", "Cheveux2",
                                  "Cheveux3", "Cheveux4",  "Cheveux6",  "Cheveux7",  "Cheveux8"};
constexpr const char* Textures[] = {"Chevalier", "Humain", "Poils", "Elfe"};
constexpr const char* Motions[] = {"Arret", "Parle", "Marche", "Course", "att_poing", "Chute"};
constexpr int TextureSide = 8;  // pixels
constexpr uint32_t MotionMs = 1000;

template <class THeader>
void Stamp(THeader& header, uint32_t version) {
  std::memcpy(header.Magic, QELTMagic, sizeof header.Magic);
  header.Version = version;
}

void WriteSkeleton(const std::string& name) {
  TSkeleton skeleton;
  Stamp(skeleton, S3DVersion);
  TS3DBone root{};
  root.Name = TShortName::From("root");
  root.Parent = -1;
  root.Axis = {0, 1, 0};
  skeleton.Bones.push_back(root);
  SaveS3D(skeleton, name);
}

void WriteMesh(const std::string& name) {
  TMesh mesh;
  Stamp(mesh, L3DVersion);
  SaveL3D(mesh, name);
}

void WriteMotion(const std::string& name) {
  TMotion motion;
  Stamp(motion, M3DVersion);
  motion.Duration = MotionMs;
  TM3DTrack track{};
  track.BoneName = TShortName::From("root");
  track.FirstRotation = track.LastRotation = 0;
  track.FirstPosition = track.LastPosition = 0;
  motion.Tracks.push_back(track);
  motion.RotationKeys.push_back({0, 0, 0, 0, 1});
  motion.PositionKeys.push_back({0, 0, 0, 0});
  SaveM3D(motion, name);
}
}  // namespace

TModelFolder::TModelFolder() : FPrevious(QDir::currentPath()) {
  QDir(FFolder.path()).mkpath("data/qelt-3d");
  QDir::setCurrent(FFolder.path());
  auto file = [](const char* stem, const char* extension) {
    return NativePath(std::string("data\\qelt-3d\\") + stem + extension);
  };
  WriteSkeleton(file("Biped", ".S3D"));
  for (const char* mesh : Meshes) WriteMesh(file(mesh, ".L3D"));
  for (const char* motion : Motions) WriteMotion(file(motion, ".M3D"));
  QImage picture(TextureSide, TextureSide, QImage::Format_RGB32);
  picture.fill(Qt::gray);
  for (const char* texture : Textures) picture.save(QString::fromStdString(file(texture, ".BMP")), "BMP");
}

TModelFolder::~TModelFolder() { QDir::setCurrent(FPrevious); }
