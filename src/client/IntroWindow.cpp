#include "client/IntroWindow.h"

#include <string>
#include <utility>

#include "audio/Sounds.h"
#include "client/ClientForm.h"
#include "client/Clients.h"
#include "client/FrameClock.h"
#include "client/GLContext.h"
#include "client/GameWindow.h"
#include "client/Hearing.h"
#include "effects/GLGui.h"
#include "effects/Particules.h"
#include "models/GLMath.h"
#include "models/GLTextures.h"
#include "models/L3DPlayer.h"
#include "platform/Bitmaps.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"
#include "world/ZULPlayers.h"

namespace {

constexpr const char* LogoFile = "data\\images\\logozul.bmp";
constexpr const char* TitleFile = "data\\images\\titre.bmp";
constexpr const char* FlareFile = "data\\images\\flare.bmp";
constexpr const char* ModelFolder = "data\\qelt-3d\\";
constexpr const char* SkeletonFile = "data\\qelt-3d\\Biped.S3D";
constexpr const char* StandingMotionFile = "data\\qelt-3d\\Arret.M3D";
constexpr const char* BodyMeshFile = "data\\qelt-3d\\Corps.L3D";
constexpr const char* HumanHeadFile = "data\\qelt-3d\\Humain.L3D";
constexpr const char* ElfHeadFile = "data\\qelt-3d\\Elfe.L3D";
constexpr const char* BodyTextureFile = "data\\qelt-3d\\Chevalier.BMP";
constexpr const char* HumanTextureFile = "data\\qelt-3d\\Humain.BMP";
constexpr const char* ElfTextureFile = "data\\qelt-3d\\Elfe.BMP";
constexpr const char* HairTextureFile = "data\\qelt-3d\\Poils.BMP";
constexpr const char* HairStem = "Cheveux";

constexpr double FarPlaneIntro = 2000.0;  // world units; kept for the rest of the process
constexpr uint32_t BlackClear = 0;        // 0xAARRGGBB: black, alpha 0

// The bolt's four one-second phases: shown high, gone, shown high again,
// shown lower and nearer.
constexpr uint32_t BoltPhaseMs = 1000;
constexpr uint32_t BoltPhases = 4;
constexpr uint32_t BoltAbsentPhase = 1;
constexpr uint32_t BoltNearPhase = 3;

// Where the scene's sounds come from, in the intro camera's space (see
// DrawTitleScene and DrawBolt), and how loud each plays.
constexpr TSoundVector LeftFire{-7, -1, -20};
constexpr TSoundVector RightFire{7, -1, -20};
constexpr TSoundVector BoltPlace{0, 3.5f, -15};
constexpr float FireGain = 0.6f;
constexpr float TuneGain = 0.5f;

// Menu entries below the window's middle, one row each.
enum : int { RowFirst, RowSecond, RowThird, RowFourth, RowFifth };
constexpr int TitleRows = 2;
constexpr int CreationRows = 5;

// The entries in red, the one under the mouse in yellow; the choices shown
// beside them in white, this many pixels right of the entry's text.
constexpr float EntryColor[3] = {1, 0, 0};
constexpr float HoverColor[3] = {1, 1, 0};
constexpr int ChoiceGap = 12;

// The help key's hint, in grey in the bottom left corner.
constexpr int HintMargin = 6;  // pixels from the left and bottom edges
constexpr int HintHeight = 16;
constexpr float HintGrey = 0.6f;

// One textured quad in the plane z = 0, from (-w, -h) to (w, h).
void TexturedQuad(float w, float h) {
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex3f(-w, -h, 0);
  glTexCoord2f(1, 0);
  glVertex3f(w, -h, 0);
  glTexCoord2f(1, 1);
  glVertex3f(w, h, 0);
  glTexCoord2f(0, 1);
  glVertex3f(-w, h, 0);
  glEnd();
}

// A textured mesh showing the mesh file's mesh (none for an empty name) with
// one texture.
std::unique_ptr<TTexturedMesh> MakeMesh(const char* meshFile, const char* textureFile) {
  auto mesh = std::make_unique<TTexturedMesh>();
  if (meshFile) mesh->SetMesh(L3DManager.Get(meshFile));
  mesh->Textures->Add(textureFile);
  return mesh;
}

// Deletes a texture name made here if the first-paint work fails after it.
class TTextureNameGuard {
 public:
  explicit TTextureNameGuard(GLuint name) : Name(name) {}
  ~TTextureNameGuard() {
    if (Name != 0) glDeleteTextures(1, &Name);
  }
  TTextureNameGuard(const TTextureNameGuard&) = delete;
  TTextureNameGuard& operator=(const TTextureNameGuard&) = delete;
  GLuint Keep() { return std::exchange(Name, 0); }

 private:
  GLuint Name;
};

}  // namespace

TIntroWindow::TIntroWindow(TGLFont& font) : OptionLabel("Barbe"_cp), FFont(font) {}

TIntroWindow::~TIntroWindow() {
  if (FlareTexture) FlareTexture->Release();
}

void TIntroWindow::Init() {
  if (TFrmClient* window = ClientWindow()) window->setCursor(Qt::BlankCursor);
  SetClearColor(BlackClear);
  FarPlane = FarPlaneIntro;
}

// ---------------------------------------------------------------- first paint

void TIntroWindow::CreateResources() {
  TBitmap bitmap;
  RandSeed(GetTickCount());
  bitmap.LoadFromFile(LogoFile);
  TTextureNameGuard logo(TextureFromBitmap(bitmap, NoKeyColor));
  bitmap.LoadFromFile(TitleFile);
  TTextureNameGuard title(TextureFromBitmap(bitmap, NoKeyColor));
  if (!FlareTexture) FlareTexture = TextureManager.Get(FlareFile);
  Fire1 = std::make_unique<TFireSystem>();
  Fire2 = std::make_unique<TFireSystem>();
  Lightning = std::make_unique<TThorFX>();
  BuildCharacter();
  TitleTexture = title.Keep();
  LogoTexture = logo.Keep();
}

// The local player's model gets the creation page's six meshes in place of
// the ones it was made with, then shows the starting choices.
void TIntroWindow::BuildCharacter() {
  auto body = MakeMesh(BodyMeshFile, BodyTextureFile);
  auto human = MakeMesh(HumanHeadFile, HumanTextureFile);
  auto elf = MakeMesh(ElfHeadFile, ElfTextureFile);
  auto hair = MakeMesh(nullptr, HairTextureFile);
  auto beard = MakeMesh(nullptr, HairTextureFile);
  auto ears = MakeMesh(nullptr, ElfTextureFile);
  Race = RaceHuman;
  OptionLabel = "Barbe"_cp;
  HairIndex = -1;
  OptionIndex = -1;

  TZULPlayer* local = ConnectionLocalPlayer();
  if (local) {
    Character = local->Model.get();
  } else {
    FOwnCharacter = std::make_unique<TL3DPlayer>();
    Character = FOwnCharacter.get();
  }
  Character->SetSkeleton(SkeletonFile);
  Character->SetMotion(StandingMotionFile);
  Character->Meshes.Clear();
  BodyMesh = Character->Meshes.Append(std::move(body));
  HumanHead = Character->Meshes.Append(std::move(human));
  ElfHead = Character->Meshes.Append(std::move(elf));
  Hair = Character->Meshes.Append(std::move(hair));
  Beard = Character->Meshes.Append(std::move(beard));
  Ears = Character->Meshes.Append(std::move(ears));
  if (local) {
    // The player's own handles on its meshes would point at the ones just
    // destroyed.
    local->BodyMesh = BodyMesh;
    local->RaceMesh = HumanHead;
    local->BeardMesh = Beard;
    local->HairMesh = Hair;
  }
  UpdateMeshes();
}

void TIntroWindow::UpdateMeshes() {
  if (!CharacterAlive()) return;
  HumanHead->Visible = Race == RaceHuman;
  ElfHead->Visible = Race == RaceElf;
  if (HairIndex >= 0) {
    TMesh* mesh =
        L3DManager.Get(ModelFolder + std::string(HairStem) + std::to_string(HairIndex + 1) + ".L3D");
    Hair->Visible = true;
    Hair->SetMesh(mesh);
  } else {
    Hair->Visible = false;
  }
  Beard->Visible = false;
  Ears->Visible = false;
  if (OptionIndex >= 0) {
    TMesh* mesh = L3DManager.Get(ModelFolder + OptionLabel + std::to_string(OptionIndex + 1) + ".L3D");
    TTexturedMesh* option = Race == RaceHuman ? Beard : Ears;
    option->Visible = true;
    option->SetMesh(mesh);
  }
}

TPlayerLook TIntroWindow::Look() const {
  return TPlayerLook{Race == RaceElf ? LookElf : LookHuman, HairIndex + 1, OptionIndex + 1};
}

// The meshes live in the local player's model, which goes with the
// connection; the screen may outlive it by a few events.
bool TIntroWindow::CharacterAlive() const {
  if (!Character) return false;
  if (Character == FOwnCharacter.get()) return true;
  TZULPlayer* local = ConnectionLocalPlayer();
  return local && local->Model.get() == Character;
}

// ---------------------------------------------------------------- drawing

void TIntroWindow::Paint() {
  if (LogoTexture == 0) CreateResources();
  if (!FSounding) StartSounds();
  SetPerspective();
  glColor3f(1, 1, 1);
  TickFrame();
  DrawTitleScene();
  DrawBolt();
  glDisable(GL_BLEND);
  if (Menu == MenuCreation) DrawCharacter();
  DrawMenu();
}

// Logo 4 by 4 at (0, 4, -20), title 16 by 2 at (0, -6, -20), fires at
// (-7, -1, -20) and (7, -1, -20); ends at (0, -1, -30).
void TIntroWindow::DrawTitleScene() {
  glEnable(GL_TEXTURE_2D);
  glColor3f(1, 1, 1);
  glTranslatef(0, 4, -20);
  glBindTexture(GL_TEXTURE_2D, LogoTexture);
  TexturedQuad(2, 2);
  glTranslatef(0, -10, 0);
  glBindTexture(GL_TEXTURE_2D, TitleTexture);
  TexturedQuad(8, 1);

  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glTranslatef(-7, 5, 0);
  FlareTexture->Bind();
  Fire1->Update(FrameDelta);
  Fire1->Draw();
  glTranslatef(14, 0, 0);
  Fire2->Update(FrameDelta);
  Fire2->Draw();
  glTranslatef(-7, 0, 0);
  glColor3f(1, 1, 1);
  glTranslatef(0, 0, -10);
  glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
}

// At (0, 3.5, -15), or at (0, 1.2, -10) in the near phase; absent for one
// second in four.
void TIntroWindow::DrawBolt() {
  const uint32_t phase = (FrameTime / BoltPhaseMs) % BoltPhases;
  Thunder(phase);
  if (phase == BoltAbsentPhase) return;
  if (phase == BoltNearPhase)
    glTranslatef(0, 2.2f, 20);
  else
    glTranslatef(0, 4.5f, 15);
  Lightning->Generate();
  Lightning->Draw();
}

// To the right of the menu, tilted a little towards the viewer.
void TIntroWindow::DrawCharacter() {
  glLoadIdentity();
  glTranslatef(3, -2, -12);
  glRotatef(10, 1, 0, 0);
  glEnable(GL_DEPTH_TEST);
  if (!CharacterAlive()) return;
  Character->Advance(FrameDelta);
  Character->Draw();
}

void TIntroWindow::DrawMenu() {
  SetOrtho();
  FFont.BeginText();
  if (Menu == MenuTitle) {
    DrawEntry(RowFirst, "Nouvelle partie"_cp.View());
    DrawEntry(RowSecond, "Quitter"_cp.View());
  } else {
    DrawEntry(RowFirst, "Race"_cp.View());
    DrawEntry(RowSecond, "Cheveux"_cp.View());
    DrawEntry(RowThird, OptionLabel);
    DrawEntry(RowFourth, "Jouer"_cp.View());
    DrawEntry(RowFifth, "Annuler"_cp.View());
    DrawChoices();
  }
  glColor3f(HintGrey, HintGrey, HintGrey);
  FFont.TextOut(HintMargin, Height - HintMargin - HintHeight, "F1 : aide"_cp.View());
  FFont.EndText();
}

void TIntroWindow::DrawEntry(int row, std::string_view text) {
  const float* color = row == HoverRow ? HoverColor : EntryColor;
  glColor3f(color[0], color[1], color[2]);
  FFont.TextOutCentered(Width / 2, Height / 2 + row * MenuRowHeight, text);
}

void TIntroWindow::DrawChoices() {
  const std::string race = Race == RaceElf ? std::string("Elfe"_cp) : std::string("Humain"_cp);
  const std::string hair = HairIndex < 0 ? std::string("aucun"_cp)
                                         : std::to_string(HairIndex + 1) + "/" + std::to_string(HairStyles);
  const std::string option = OptionIndex < 0
                                 ? std::string("aucune"_cp)
                                 : std::to_string(OptionIndex + 1) + "/" + std::to_string(OptionStyles);
  const std::pair<std::string_view, const std::string*> rows[] = {
      {"Race"_cp.View(), &race}, {"Cheveux"_cp.View(), &hair}, {OptionLabel, &option}};
  glColor3f(1, 1, 1);
  for (int row = RowFirst; row <= RowThird; ++row) {
    const auto& [label, choice] = rows[row];
    const int x = Width / 2 + FFont.TextWidth(label) / 2 + ChoiceGap;
    FFont.TextOut(x, Height / 2 + row * MenuRowHeight, *choice);
  }
}

// ---------------------------------------------------------------- sound

void TIntroWindow::StartSounds() {
  FSounding = true;
  TSoundSystem* sound = ClientSound();
  if (!sound || !sound->Active()) return;
  HearFrom(*sound, IntroEar());
  FFireLoop1 = sound->StartLoop(FireFile, LeftFire, false, FireGain);
  FFireLoop2 = sound->StartLoop(FireFile, RightFire, false, FireGain);
  FTuneLoop = sound->StartLoop(TuneFile, {}, true, TuneGain);
}

void TIntroWindow::Leave() {
  FSounding = false;
  FBoltPhase = UINT32_MAX;
  TSoundSystem* sound = ClientSound();
  if (!sound) return;
  for (int* loop : {&FFireLoop1, &FFireLoop2, &FTuneLoop}) sound->StopLoop(*loop);
}

// The bolt strikes when it shows again after its absent phase, and when the
// scene first shows it.
void TIntroWindow::Thunder(uint32_t phase) {
  const bool strikes = phase != BoltAbsentPhase &&
                       (FBoltPhase == UINT32_MAX || (FBoltPhase == BoltAbsentPhase && phase != FBoltPhase));
  FBoltPhase = phase;
  if (!strikes) return;
  if (TSoundSystem* sound = ClientSound()) sound->Play(ThunderFile, BoltPlace);
}

void TIntroWindow::Click() {
  if (TSoundSystem* sound = ClientSound()) sound->PlayNear(ClickFile);
}

// ---------------------------------------------------------------- menu

// Only the middle third of the width counts, its bounds included; the rows
// start at the window's middle.
int TIntroWindow::RowAt(int32_t x, int32_t y) const {
  const int32_t third = Width / 3;
  if (x - third < 0 || x - third > third) return -1;
  const int32_t d = y - Height / 2;
  if (d < 0) return -1;
  return d / MenuRowHeight;
}

int TIntroWindow::RowCount() const { return Menu == MenuTitle ? TitleRows : CreationRows; }

void TIntroWindow::MouseDown(QWindow*, TMouseButton, TShiftState, int32_t x, int32_t y) {
  const int row = RowAt(x, y);
  if (row < 0) return;
  if (Menu == MenuTitle)
    TitleChoice(row);
  else
    CreationChoice(row);
  // The other page may have another entry under the mouse.
  HoverRow = row < RowCount() ? row : -1;
}

void TIntroWindow::MouseMove(QWindow*, TShiftState, int32_t x, int32_t y) {
  const int row = RowAt(x, y);
  HoverRow = row < RowCount() ? row : -1;
}

void TIntroWindow::TitleChoice(int row) {
  if (row == RowFirst || row == RowSecond) Click();
  if (row == RowFirst) {
    Menu = MenuCreation;
  } else if (row == RowSecond) {
    // The window's destruction marks the connection disconnected first, so
    // no leave message goes out.
    if (TFrmClient* window = ClientWindow()) window->Close();
  }
}

void TIntroWindow::CreationChoice(int row) {
  if (row >= RowFirst && row <= RowFifth) Click();
  switch (row) {
    case RowFirst:
      Race = Race == RaceHuman ? RaceElf : RaceHuman;
      if (Race == RaceElf) {
        if (OptionIndex < 0) OptionIndex = 0;
        OptionLabel = "Oreilles"_cp;
      } else {
        OptionLabel = "Barbe"_cp;
      }
      UpdateMeshes();
      break;
    case RowSecond:
      if (++HairIndex == HairStyles) HairIndex = -1;
      UpdateMeshes();
      break;
    case RowThird:
      // An elf always has ears; a human may have no beard.
      if (++OptionIndex == OptionStyles) OptionIndex = Race == RaceElf ? 0 : -1;
      UpdateMeshes();
      break;
    case RowFourth:
      // The others see the choices from now on.
      if (TFrmClient* window = ClientWindow()) {
        if (window->Client) window->Client->SetLook(Look());
        window->SetScreen(window->Game.get());
      }
      break;
    case RowFifth:
      Menu = MenuTitle;
      break;
    default:
      break;
  }
}
