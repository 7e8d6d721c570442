#include "Forge.h"

#include <filesystem>

#include "Images.h"
#include "Knight.h"
#include "Meshes.h"
#include "Motions.h"
#include "Paint.h"
#include "Simplify.h"
#include "Skeleton.h"
#include "Sounds.h"
#include "models/L3D.h"
#include "models/L3DWriter.h"
#include "models/MD2Writer.h"

namespace forge {

namespace {

// Texels of empty border around each part of a baked texture, and how far
// the painted parts are grown into it.
constexpr int PartPadding = 3;
constexpr int GrowTexels = 3;

const std::string ModelFolder = "qelt-3d/";
const std::string ImageFolder = "images/";
const std::string SoundFolder = "sons/";
const std::string LowDetailFolder = std::string(LowDetailFolderName) + "/";

void SaveBuilder(const TMeshBuilder& builder, const std::string& fileName) {
  TMesh mesh;
  FillMesh(builder, mesh);
  SaveL3D(mesh, fileName);
}

// The mesh in models, and its low level of detail under the same name in
// the low-detail folder beside it.
void SaveMesh(const TMeshBuilder& builder, const std::string& models, const std::string& name) {
  SaveBuilder(builder, models + name);
  const auto target = static_cast<std::size_t>(static_cast<float>(builder.Triangles.size()) * LowDetailShare);
  SaveBuilder(Simplify(builder, target), models + LowDetailFolder + name);
}

void ForgeBody(const std::string& models) {
  TMeshBuilder body = BuildBody();
  body.PackParts(BodyTextureSize, PartPadding);
  SaveMesh(body, models, "Corps.L3D");
  TImage armour(BodyTextureSize, BodyTextureSize, Hex(0x808080));
  TBaker baker(armour);
  baker.Paint(body, [](const TSurfacePoint& s) { return ShadeBody(s); });
  baker.Grow(GrowTexels);
  SaveBitmap(armour, models + "Chevalier.BMP");
}

void ForgeHeads(const std::string& models) {
  TMeshBuilder human = BuildHead(TRace::Human);
  human.PackParts(HeadTextureSize, PartPadding);
  SaveMesh(human, models, "Humain.L3D");
  TImage humanSkin(HeadTextureSize, HeadTextureSize);
  TBaker humanBaker(humanSkin);
  humanBaker.Paint(human, [](const TSurfacePoint& s) { return ShadeHead(TRace::Human, s); });
  humanBaker.Grow(GrowTexels);
  SaveBitmap(humanSkin, models + "Humain.BMP");

  // The elf's ears share its texture.
  TMeshBuilder elf = BuildHead(TRace::Elf);
  std::vector<TMeshBuilder> ears;
  for (int style = 1; style <= 3; ++style) ears.push_back(BuildEars(style));
  PackParts({&elf, &ears[0], &ears[1], &ears[2]}, HeadTextureSize, PartPadding);
  SaveMesh(elf, models, "Elfe.L3D");
  TImage elfSkin(HeadTextureSize, HeadTextureSize);
  TBaker elfBaker(elfSkin);
  auto shadeElf = [](const TSurfacePoint& s) { return ShadeHead(TRace::Elf, s); };
  elfBaker.Paint(elf, shadeElf);
  for (int style = 1; style <= 3; ++style) {
    SaveMesh(ears[style - 1], models, "Oreilles" + std::to_string(style) + ".L3D");
    elfBaker.Paint(ears[style - 1], shadeElf);
  }
  elfBaker.Grow(GrowTexels);
  SaveBitmap(elfSkin, models + "Elfe.BMP");
}

void ForgeHair(const std::string& models) {
  for (int style = 1; style <= 8; ++style)
    SaveMesh(BuildHair(style), models, "Cheveux" + std::to_string(style) + ".L3D");
  for (int style = 1; style <= 3; ++style)
    SaveMesh(BuildBeard(style), models, "Barbe" + std::to_string(style) + ".L3D");
  TImage hair(HairTextureSize, HairTextureSize);
  PaintHair(hair);
  SaveBitmap(hair, models + "Poils.BMP");
}

void ForgeKnight(const std::string& folder) {
  const std::vector<TPose> poses = KnightPoses();
  TMeshBuilder knight = BuildKnight();
  SaveMD2(KnightModel(knight, poses), folder + "tris.md2");
  TImage skin(KnightSkinSize, KnightSkinSize, Hex(0x808080));
  TBaker baker(skin);
  baker.Paint(knight, ShadeKnight);
  baker.Grow(GrowTexels);
  SavePCX(skin, folder + "knight.pcx");

  TMeshBuilder sword = BuildSword();
  SaveMD2(SwordModel(sword, poses), folder + "weapon.md2");
  TImage swordSkin(SwordSkinSize, SwordSkinSize, Hex(0x808080));
  TBaker swordBaker(swordSkin);
  swordBaker.Paint(sword, ShadeSword);
  swordBaker.Grow(GrowTexels);
  SavePCX(swordSkin, folder + "weapon.pcx");
}

}  // namespace

void ForgeData(const std::string& folder) {
  const std::string models = folder + "/" + ModelFolder;
  std::filesystem::create_directories(models + LowDetailFolder);
  std::filesystem::create_directories(folder + "/" + ImageFolder);

  TSkeleton skeleton;
  FillSkeleton(skeleton);
  SaveS3D(skeleton, models + "Biped.S3D");
  ForgeBody(models);
  ForgeHeads(models);
  ForgeHair(models);
  for (const TMotionDef& def : CharacterMotions()) {
    TMotion motion;
    FillMotion(def, motion);
    SaveM3D(motion, models + def.Name + ".M3D");
  }
  ForgeKnight(folder + "/");
  const std::string images = folder + "/" + ImageFolder;
  SaveBitmap(PaintLogo(), images + "logozul.bmp");
  SaveBitmap(PaintTitle(), images + "titre.bmp");
  SaveBitmap(PaintFlare(), images + "flare.bmp");
  SaveBitmap(PaintMarble(), images + "marbre.bmp");
  const std::string sounds = folder + "/" + SoundFolder;
  std::filesystem::create_directories(sounds);
  for (const TSoundDef& sound : GameSounds()) SaveWave(sound.Make(), sounds + sound.Name);
}

std::vector<std::string> ForgedFiles() {
  std::vector<std::string> files = {"Biped.S3D",     "Corps.L3D",  "Humain.L3D", "Elfe.L3D",
                                    "Chevalier.BMP", "Humain.BMP", "Elfe.BMP",   "Poils.BMP"};
  for (int i = 1; i <= 8; ++i) files.push_back("Cheveux" + std::to_string(i) + ".L3D");
  for (int i = 1; i <= 3; ++i) files.push_back("Barbe" + std::to_string(i) + ".L3D");
  for (int i = 1; i <= 3; ++i) files.push_back("Oreilles" + std::to_string(i) + ".L3D");
  for (const char* motion : {"Arret", "Parle", "Marche", "Course", "att_poing", "Chute"})
    files.push_back(std::string(motion) + ".M3D");
  const std::size_t count = files.size();
  for (std::size_t i = 0; i < count; ++i)
    if (files[i].ends_with(".L3D")) files.push_back(LowDetailFolder + files[i]);
  for (std::string& file : files) file = ModelFolder + file;
  for (const char* file : {"tris.md2", "knight.pcx", "weapon.md2", "weapon.pcx"}) files.push_back(file);
  for (const char* image : {"logozul.bmp", "titre.bmp", "flare.bmp", "marbre.bmp"})
    files.push_back(ImageFolder + image);
  for (const TSoundDef& sound : GameSounds()) files.push_back(SoundFolder + sound.Name);
  return files;
}

}  // namespace forge
