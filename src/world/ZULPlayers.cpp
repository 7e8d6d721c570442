#include "world/ZULPlayers.h"

#include <GL/gl.h>

#include <algorithm>

#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Text1252.h"

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

// ---------------------------------------------------------------- TZULPlayer

TZULPlayer::TZULPlayer(TMap* map, TZULPlayerList* list) : TZULWalker(map) {
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
  // The list draws each character right after skinning it, so one set of
  // skinned vertices a mesh serves them all.
  for (TTexturedMesh* mesh : {BodyMesh, RaceMesh, BeardMesh, HairMesh}) mesh->SharedSkinning = true;
  Model->SetMotion("data\\qelt-3d\\Parle.M3D");
  Owner = list;
  if (Owner) Owner->Add(this);
}

TZULPlayer::~TZULPlayer() {
  if (Owner) Owner->Remove(this);
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
  if (TZULPlayer* player = Search(id)) return player;
  ShowMessage(std::string("Joueur #"_cp) + std::to_string(id) + std::string(" introuvable"_cp));
  return nullptr;
}

TZULPlayer* TZULPlayerList::Search(int32_t id) const {
  for (TZULPlayer* player : FItems)
    if (player->Id == id) return player;
  return nullptr;
}

void TZULPlayerList::Update(uint32_t now) {
  // By index: a hook may make the list change under the loop.
  for (std::size_t i = 0; i < FItems.size(); ++i) FItems[i]->Update(now);
}

void TZULPlayerList::Draw(uint32_t elapsedMs) {
  glColor4f(1, 1, 1, 1);
  // The eye's distance to a point is the length of the point in eye space.
  TBoneMatrix view{};
  glGetFloatv(GL_MODELVIEW_MATRIX, view.data());
  for (TZULPlayer* player : FItems) {
    float wx, wz;
    player->GetWorldPos(wx, wz);
    const TVector3 eye = TransformPoint({wx, 0, wz}, view);
    player->Model->Far =
        eye.X * eye.X + eye.Y * eye.Y + eye.Z * eye.Z > FarDetailDistance * FarDetailDistance;
    player->Model->Advance(elapsedMs);
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
