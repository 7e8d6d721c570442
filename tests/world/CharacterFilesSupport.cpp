#include <QDir>
#include <QImage>

#include "CharacterFiles.h"
#include "models/L3DWriter.h"
#include "platform/Files.h"
#include "world/ZULPlayers.h"

namespace {

void SaveSkeleton(const std::string& path) {
  TSkeleton skeleton;
  skeleton.Bones.push_back({TShortName::From("Root"), -1, {0, 1, 0}, 0, {0, 1, 0}});
  SaveS3D(skeleton, path);
}

// One triangle in one group, bound to the root.
void SaveMesh(const std::string& path) {
  TMesh mesh;
  mesh.Vertices = {{{0, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {0, 1, 0}}, {{0, 2, 0}, {0, 1, 0}}};
  mesh.Triangles.push_back({{{0, 0, 0}, {1, 1, 0}, {2, 0, 1}}});
  mesh.Groups.push_back({0, 0});
  mesh.Bindings.push_back({TShortName::From("Root"), 0, 2});
  mesh.Weights = {{0, 1}, {1, 1}, {2, 1}};
  SaveL3D(mesh, path);
}

void SaveMotion(const std::string& path, uint32_t duration) {
  TMotion motion;
  motion.Duration = duration;
  motion.Tracks.push_back({TShortName::From("Root"), 0, 0, 0, -1});
  motion.RotationKeys.push_back({0, 0, 0, 0, 1});
  SaveM3D(motion, path);
}

bool SaveTexture(const std::string& path) {
  QImage image(4, 4, QImage::Format_RGB888);
  image.fill(Qt::gray);
  return image.save(QString::fromStdString(path), "BMP");
}

}  // namespace

TCharacterFiles::TCharacterFiles() : FPrevious(QDir::currentPath()) {
  if (!FDir.isValid() || !QDir(FDir.path()).mkpath("data/qelt-3d")) return;
  SaveSkeleton(Path("data\\qelt-3d\\Biped.S3D"));
  for (const char* mesh : {"Corps", "Humain", "Barbe1", "Cheveux5"})
    SaveMesh(Path(std::string("data\\qelt-3d\\") + mesh + ".L3D"));
  for (const char* motion : MotionFiles) SaveMotion(Path(motion), 1000);
  bool textures = true;
  for (const char* texture : {"Chevalier", "Humain", "Poils"})
    textures = SaveTexture(Path(std::string("data\\qelt-3d\\") + texture + ".BMP")) && textures;
  FValid = textures && QDir::setCurrent(FDir.path());
}

TCharacterFiles::~TCharacterFiles() {
  ReleaseSharedMotions();
  QDir::setCurrent(FPrevious);
}

std::string TCharacterFiles::Path(const std::string& systemName) const {
  return FDir.path().toStdString() + "/" + NativePath(systemName);
}
