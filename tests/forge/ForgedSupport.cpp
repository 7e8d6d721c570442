#include <QDir>
#include <QTemporaryDir>
#include <cmath>

#include "Forge.h"
#include "Forged.h"

namespace {

// The folder the data is written to, removed when the process ends, and
// the folder the process started in.
std::unique_ptr<QTemporaryDir> DataFolder;
QString StartFolder;

}  // namespace

void ForgeOnce() {
  if (DataFolder) return;
  StartFolder = QDir::currentPath();
  DataFolder = std::make_unique<QTemporaryDir>();
  forge::ForgeData(DataFolder->path().toStdString() + "/data");
  QDir::setCurrent(DataFolder->path());
}

std::string OutputFile(const std::string& name) {
  return (StartFolder.isEmpty() ? name : (StartFolder + "/").toStdString() + name);
}

std::string ModelFile(const std::string& name) { return "data\\qelt-3d\\" + name; }

std::unique_ptr<TL3DPlayer> MakeCharacter(const std::vector<TMeshFile>& meshes) {
  auto character = std::make_unique<TL3DPlayer>();
  character->SetSkeleton(ModelFile("Biped.S3D"));
  for (const TMeshFile& file : meshes)
    character->Meshes.Add(ModelFile(file.Mesh))->Textures->Add(ModelFile(file.Texture));
  return character;
}

std::unique_ptr<TL3DPlayer> MakeHuman(int hair, int beard) {
  std::vector<TMeshFile> files = {{"Corps.L3D", "Chevalier.BMP"}, {"Humain.L3D", "Humain.BMP"}};
  if (beard > 0) files.push_back({"Barbe" + std::to_string(beard) + ".L3D", "Poils.BMP"});
  if (hair > 0) files.push_back({"Cheveux" + std::to_string(hair) + ".L3D", "Poils.BMP"});
  return MakeCharacter(files);
}

std::unique_ptr<TL3DPlayer> MakeElf(int hair, int ears) {
  std::vector<TMeshFile> files = {{"Corps.L3D", "Chevalier.BMP"}, {"Elfe.L3D", "Elfe.BMP"}};
  if (hair > 0) files.push_back({"Cheveux" + std::to_string(hair) + ".L3D", "Poils.BMP"});
  if (ears > 0) files.push_back({"Oreilles" + std::to_string(ears) + ".L3D", "Elfe.BMP"});
  return MakeCharacter(files);
}

void ShowMotion(TL3DPlayer& character, const std::string& motion, float phase) {
  character.SetMotion(ModelFile(motion + ".M3D"));
  character.Time = 0;
  character.Advance(
      static_cast<uint32_t>(std::lround(phase * static_cast<float>(character.Motion->Duration))));
}

std::unique_ptr<TQ2Player> MakeKnight() {
  auto knight = std::make_unique<TQ2Player>();
  knight->GetBody()->LoadModel("data\\tris.md2");
  knight->GetBody()->LoadSkin("data\\knight.pcx");
  knight->GetWeapon()->LoadModel("data\\weapon.md2");
  knight->GetWeapon()->LoadSkin("data\\weapon.pcx");
  knight->GetWeapon()->TrailVertexA = 21;
  knight->GetWeapon()->TrailVertexB = 28;
  knight->RandomPercent = [] { return 99; };
  return knight;
}
