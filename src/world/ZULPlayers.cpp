#include "world/ZULPlayers.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"

const float DiagonalStep = float(std::sqrt(72.0L));

const std::array<float, 8> DirectionAngles = [] {
  std::array<float, 8> angles{};
  for (int i = 0; i < 8; ++i) angles[std::size_t(i)] = float(90 - 45 * i);
  return angles;
}();

const std::array<TDirectionVector, 8> DirectionVectors = [] {
  std::array<TDirectionVector, 8> vectors{};
  for (std::size_t i = 0; i < 8; ++i) {
    long double theta = -(long double)DirectionAngles[i] * std::numbers::pi_v<long double> / 180.0L;
    vectors[i] = {std::cos(theta), std::sin(theta)};
  }
  return vectors;
}();

const std::array<const char*, 6> MotionFiles = {"data\\qelt-3d\\Arret.M3D",     "data\\qelt-3d\\Parle.M3D",
                                                "data\\qelt-3d\\Marche.M3D",    "data\\qelt-3d\\Course.M3D",
                                                "data\\qelt-3d\\att_poing.M3D", "data\\qelt-3d\\Chute.M3D"};

void LoadSharedMotions() {
  for (std::size_t i = 0; i < Motions.size(); ++i)
    if (!Motions[i]) Motions[i] = M3DManager.Get(MotionFiles[i]);
}

void ReleaseSharedMotions() {
  for (TMotion*& motion : Motions) {
    if (motion) motion->Release();
    motion = nullptr;
  }
}

namespace {
// Directions come from the wire as well as from the path finder: any value
// picks one of the eight.
std::size_t DirectionIndex(int32_t direction) { return std::size_t(direction & 7); }

float StepLength(int32_t direction) { return (direction & 1) ? DiagonalStep : CellSize; }
}  // namespace

// ---------------------------------------------------------------- TZULPlayer

TZULPlayer::TZULPlayer(TMap* map, TZULPlayerList* list) {
  if (!Motions[AnimStand]) LoadSharedMotions();
  Model = std::make_unique<TL3DPlayer>();
  Model->SetSkeleton("data\\qelt-3d\\Biped.S3D");
  BodyMesh = Model->Meshes.Add("data\\qelt-3d\\Corps.L3D");
  RaceMesh = Model->Meshes.Add("data\\qelt-3d\\Humain.L3D");
  BeardMesh = Model->Meshes.Add("data\\qelt-3d\\Barbe1.L3D");
  HairMesh = Model->Meshes.Add("data\\qelt-3d\\Cheveux5.L3D");
  BodyMesh->Textures->Add("data\\qelt-3d\\Chevalier.BMP");
  RaceMesh->Textures->Add("data\\qelt-3d\\Humain.BMP");
  BeardMesh->Textures->Add("data\\qelt-3d\\Poils.BMP");
  HairMesh->Textures->Add("data\\qelt-3d\\Poils.BMP");
  Model->SetMotion("data\\qelt-3d\\Parle.M3D");
  PathFinder = std::make_unique<TZULPathFinder>();
  PathFinder->Map = map;
  PathCell = {X, Y};
  Owner = list;
  if (Owner) Owner->Add(this);
}

TZULPlayer::~TZULPlayer() {
  if (Owner) Owner->Remove(this);
}

void TZULPlayer::MoveStopped() {
  Retarget = false;
  OffsetX = 0;
  OffsetZ = 0;
}

void TZULPlayer::Stand() {
  MoveStart = 0;
  Model->SetAnimation(AnimStand);
}

bool TZULPlayer::MoveTo(const TPoint& goal) {
  const bool wasMoving = Moving();
  if (!wasMoving) PathCell = {X, Y};
  if (!PathFinder->FindPath(PathCell, goal)) {
    // The step in progress is dropped and the player stands where it was.
    // A walk that others were told about is reported as ended there, or
    // they would go on walking it.
    Stand();
    if (wasMoving) MoveStopped();
    return false;
  }
  if (wasMoving) {
    Retarget = true;  // the step in progress ends first (see Update)
    return true;
  }
  Retarget = false;
  if (!PathFinder->NextStep(PathCell, Direction)) {
    Stand();  // a way with no step in it: nothing to walk
    return false;
  }
  MoveStart = GetTickCount();
  Model->SetAnimation(AnimRun);
  MoveStarted();
  return true;
}

void TZULPlayer::GetWorldPos(float& wx, float& wz) const {
  wx = float(int64_t(X) * int64_t(CellSize)) + OffsetX;
  wz = float(int64_t(Y) * int64_t(CellSize)) + OffsetZ;
}

void TZULPlayer::Update(uint32_t now) {
  if (!Moving()) {
    OffsetX = 0;
    OffsetZ = 0;
    return;
  }
  // Distance walked since the step began; the clock wraps modulo 2^32.
  float d = float(double(uint32_t(now - MoveStart)) / MsPerWorldUnit);
  float len = StepLength(Direction);
  while (d >= len) {
    X = PathCell.X;
    Y = PathCell.Y;
    if (!PathFinder->NextStep(PathCell, Direction)) {
      Model->SetAnimation(AnimStand);
      MoveStopped();
      return;
    }
    if (Retarget) {
      MoveStopped();
      MoveStarted();
    }
    d -= len;
    // What is left of d carries into the next step.
    MoveStart = now - uint32_t(std::nearbyint(MsPerWorldUnit * double(d)));
    len = StepLength(Direction);
  }
  const TDirectionVector& v = DirectionVectors[DirectionIndex(Direction)];
  OffsetX = float(v.Cos * d);
  OffsetZ = float(v.Sin * d);
}

// ------------------------------------------------------------ TZULPlayerList

TZULPlayerList::~TZULPlayerList() {
  for (TZULPlayer* player : FItems) player->Owner = nullptr;
}

void TZULPlayerList::Remove(TZULPlayer* player) {
  auto it = std::find(FItems.begin(), FItems.end(), player);
  if (it != FItems.end()) FItems.erase(it);
}

TZULPlayer* TZULPlayerList::Find(int32_t id) const {
  for (TZULPlayer* player : FItems)
    if (player->Id == id) return player;
  ShowMessage(std::string("Joueur #"_cp) + std::to_string(id) + std::string(" introuvable"_cp));
  return nullptr;
}

void TZULPlayerList::Update(uint32_t now) {
  // By index: a hook may make the list change under the loop.
  for (std::size_t i = 0; i < FItems.size(); ++i) FItems[i]->Update(now);
}

void TZULPlayerList::Draw(uint32_t elapsedMs) {
  glColor4f(1, 1, 1, 1);
  for (TZULPlayer* player : FItems) {
    player->Model->Advance(elapsedMs);
    float wx, wz;
    player->GetWorldPos(wx, wz);
    glPushMatrix();
    glTranslatef(wx, 0, wz);
    // Direction 4 (towards +Y on the map) draws the model unrotated.
    glRotatef(DirectionAngles[DirectionIndex(player->Direction)] + 90, 0, 1, 0);
    player->Model->Draw();
    glPopMatrix();
  }
}

void TZULPlayerList::DrawMarkers(float yaw, float pitch) {
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4f(1, 1, 1, 0.5f);
  for (TZULPlayer* player : FItems) {
    float wx, wz;
    player->GetWorldPos(wx, wz);
    glPushMatrix();
    glTranslatef(wx, 0, wz);
    glRotatef(-yaw, 0, 1, 0);
    glTranslatef(0, MarkerHeight, 0);
    glRotatef(-pitch, 1, 0, 0);
    player->Model->DrawMarker();
    glPopMatrix();
  }
}
