#include "models/MD2.h"

#include <GL/gl.h>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace {

// Flattens geometry onto y = 0 of the current model frame (column-major).
constexpr GLfloat ShadowMatrix[16] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

constexpr GLfloat ShadowColor[4] = {0.25f, 0.25f, 0.25f, 0.5f};
constexpr GLfloat TrailGrey = 0.5f;
constexpr GLfloat TrailNewestAlpha = 0.75f;

// The file on disk whatever the letter case of its name, as the manager
// matches names; the name's own path when there is none, so that the
// mapping reports it missing.
std::string PathOnDisk(const std::string& fileName) {
  std::string path = FindFile(fileName);
  return path.empty() ? NativePath(fileName) : path;
}

}  // namespace

// ---------------------------------------------------------------------------
// Model data

TModelInstance::TModelInstance(GLTextures::TManager& manager, const std::string& fileName)
    : TInstance(manager), Mapping(fileName, PathOnDisk(fileName)) {
  TMD2Header header = ReadMD2Header(Mapping.Memory(), Mapping.Size(), fileName);
  FFrameCount = header.FrameCount;
  FVertexCount = header.VertexCount;
  FFrames.resize(std::size_t(FFrameCount) * std::size_t(FVertexCount));
  // Frames without vertices have nothing to decode and no slot in FFrames.
  for (int32_t f = 0; FVertexCount > 0 && f < FFrameCount; ++f) {
    const uint8_t* frame = Mapping.Pointer(uint32_t(header.FramesOffset + int64_t{f} * header.FrameSize));
    DecodeMD2Frame(frame, FVertexCount, &FFrames[std::size_t(f) * FVertexCount].X);
  }
  FSkinCoords = Mapping.Pointer(uint32_t(header.SkinCoordsOffset));
  FSkinCoordCount = header.SkinCoordCount;
  FTriangles = Mapping.Pointer(uint32_t(header.TrianglesOffset));
  FTriangleCount = header.TriangleCount;
  FInvSkinWidth = 1.0f / float(header.SkinWidth);
  FInvSkinHeight = 1.0f / float(header.SkinHeight);
}

TModelInstance* TModelManager::Get(const std::string& fileName) {
  // Every entry was made here, so every instance is model data.
  return static_cast<TModelInstance*>(
      Acquire(fileName, [&] { return std::make_unique<TModelInstance>(*this, fileName); }));
}

TModelManager ModelManager;

// ---------------------------------------------------------------------------
// One model

static_assert(sizeof(TVector3) == 3 * sizeof(float), "vertices go to OpenGL as tightly packed floats");

TQ2Model::~TQ2Model() {
  if (FInstance) FInstance->Release();
  if (FSkin) FSkin->Release();
}

void TQ2Model::LoadModel(const std::string& fileName) {
  if (fileName == FModelName) return;
  TModelInstance* instance = ModelManager.Get(fileName);
  if (FInstance) FInstance->Release();
  FInstance = instance;
  FModelName = fileName;
  std::size_t count = std::size_t(FInstance->VertexCount());
  for (auto& key : FKeys) key.assign(count, TVector3{});
  FVertices.assign(count, TVector3{});
  FTexCoords.clear();
  FCornersBuilt = false;
}

void TQ2Model::LoadSkin(const std::string& fileName) {
  if (fileName == FSkinName) return;
  TTextureInstance* skin = ModelTextures.Get(fileName);
  if (FSkin) FSkin->Release();
  FSkin = skin;
  FSkinName = fileName;
  FTexCoords.clear();
}

int32_t TQ2Model::KeySlot(int32_t slot) {
  if (slot != 0 && slot != 1) throw Exception("MD2 key slot " + std::to_string(slot) + " is not 0 or 1");
  return slot;
}

void TQ2Model::SetKeyFrame(int32_t slot, int32_t f) {
  std::vector<TVector3>& key = FKeys[KeySlot(slot)];
  if (!FInstance || f < 0 || f >= FInstance->FrameCount()) return;
  const TVector3* frame = FInstance->Frame(f);
  key.assign(frame, frame + FInstance->VertexCount());
}

bool TQ2Model::TrailVerticesExist() const {
  auto count = int32_t(FVertices.size());
  return TrailVertexA >= 0 && TrailVertexA < count && TrailVertexB >= 0 && TrailVertexB < count;
}

void TQ2Model::Interpolate(int32_t from, int32_t to, float t) {
  const std::vector<TVector3>& a = FKeys[KeySlot(from)];
  const std::vector<TVector3>& b = FKeys[KeySlot(to)];
  for (std::size_t i = 0; i < FVertices.size(); ++i) {
    FVertices[i].X = a[i].X + (b[i].X - a[i].X) * t;
    FVertices[i].Y = a[i].Y + (b[i].Y - a[i].Y) * t;
    FVertices[i].Z = a[i].Z + (b[i].Z - a[i].Z) * t;
  }
  if (TrailOn && TrailVerticesExist()) {
    if (FTrailLength < TrailSamples) ++FTrailLength;
    FTrailHead = (FTrailHead + 1) % TrailSamples;
    FTrail[FTrailHead] = TTrailSample{FVertices[TrailVertexA], FVertices[TrailVertexB]};
  } else if (FTrailLength > 0) {
    --FTrailLength;
  }
}

const TTrailSample& TQ2Model::TrailSample(int32_t k) const {
  return FTrail[((FTrailHead - k) % TrailSamples + TrailSamples) % TrailSamples];
}

// One entry per skin coordinate of the file, scaled from skin pixels to the
// skin texture, which may be larger than the picture.
void TQ2Model::BuildTexCoords() {
  FTexCoords.assign(std::size_t(FInstance->SkinCoordCount()), TTexCoord{});
  if (!FSkin) return;
  float su = FSkin->ScaleU() * FInstance->InvSkinWidth();
  float tv = FSkin->ScaleV() * FInstance->InvSkinHeight();
  for (int32_t i = 0; i < FInstance->SkinCoordCount(); ++i) {
    TMD2SkinCoord coord = FInstance->SkinCoord(i);
    FTexCoords[std::size_t(i)] = TTexCoord{coord.S * su, coord.T * tv};
  }
}

void TQ2Model::BuildCorners() {
  const auto triangles = std::size_t(FInstance->TriangleCount());
  FDrawnOfCorner.assign(3 * triangles, 0);
  FVertexOfCorner.assign(3 * triangles, 0);
  FVertexOfDrawn.clear();
  FSkinCoordOfDrawn.clear();
  // The drawn vertices made for each vertex, as chains: the newest in
  // firstOfVertex, each one's previous in older.
  std::vector<int32_t> firstOfVertex(std::size_t(FInstance->VertexCount()), -1);
  std::vector<int32_t> older;
  for (std::size_t i = 0; i < triangles; ++i) {
    TMD2Triangle triangle = FInstance->Triangle(int32_t(i));
    for (int corner = 0; corner < 3; ++corner) {
      // Loading checked every index against the vertices and skin coordinates.
      const auto vertex = uint32_t(triangle.Vertex[corner]);
      const auto coord = uint32_t(triangle.SkinCoord[corner]);
      int32_t k = firstOfVertex[vertex];
      while (k >= 0 && FSkinCoordOfDrawn[std::size_t(k)] != coord) k = older[std::size_t(k)];
      if (k < 0) {
        k = int32_t(FVertexOfDrawn.size());
        FVertexOfDrawn.push_back(vertex);
        FSkinCoordOfDrawn.push_back(coord);
        older.push_back(firstOfVertex[vertex]);
        firstOfVertex[vertex] = k;
      }
      FDrawnOfCorner[3 * i + std::size_t(2 - corner)] = uint32_t(k);
      FVertexOfCorner[3 * i + std::size_t(corner)] = vertex;
    }
  }
  FDrawnTexCoords.clear();
  FCornersBuilt = true;
}

void TQ2Model::Draw(int32_t f) {
  if (!FInstance || f < 0 || f >= FInstance->FrameCount()) return;
  if (FSkin) {
    glEnable(GL_TEXTURE_2D);
    FSkin->Bind();
  } else {
    glDisable(GL_TEXTURE_2D);
  }
  if (!FCornersBuilt) BuildCorners();
  if (FTexCoords.empty()) {
    BuildTexCoords();
    FDrawnTexCoords.clear();
  }
  if (FDrawnTexCoords.size() != FSkinCoordOfDrawn.size()) {
    FDrawnTexCoords.resize(FSkinCoordOfDrawn.size());
    for (std::size_t k = 0; k < FDrawnTexCoords.size(); ++k)
      FDrawnTexCoords[k] = FTexCoords[FSkinCoordOfDrawn[k]];
  }
  FDrawnVertices.resize(FVertexOfDrawn.size());
  for (std::size_t k = 0; k < FDrawnVertices.size(); ++k) FDrawnVertices[k] = FVertices[FVertexOfDrawn[k]];

  glColor3f(1, 1, 1);
  if (!FDrawnOfCorner.empty()) {
    glVertexPointer(3, GL_FLOAT, 0, FDrawnVertices.data());
    glTexCoordPointer(2, GL_FLOAT, 0, FDrawnTexCoords.data());
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glDrawElements(GL_TRIANGLES, GLsizei(FDrawnOfCorner.size()), GL_UNSIGNED_INT, FDrawnOfCorner.data());
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    // The current texture coordinate ends as the last corner's, as it did
    // when the corners were given one by one.
    const TTexCoord& last = FDrawnTexCoords[FDrawnOfCorner.back()];
    glTexCoord2f(last.S, last.T);
  }

  if (FTrailLength > 0) DrawTrail();
}

// The newest sample first and most opaque, each older one fading further.
void TQ2Model::DrawTrail() {
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glDisable(GL_CULL_FACE);
  glBegin(GL_TRIANGLE_STRIP);
  for (int32_t k = 0; k < FTrailLength; ++k) {
    const TTrailSample& sample = TrailSample(k);
    glColor4f(TrailGrey, TrailGrey, TrailGrey, TrailNewestAlpha - float(k) / float(2 * FTrailLength));
    glVertex3f(sample.A.X, sample.A.Y, sample.A.Z);
    glVertex3f(sample.B.X, sample.B.Y, sample.B.Z);
  }
  glEnd();
  glDisable(GL_BLEND);
  glEnable(GL_CULL_FACE);
}

void TQ2Model::DrawShadow(int32_t f) {
  if (!FInstance || f < 0 || f >= FInstance->FrameCount()) return;
  if (!FCornersBuilt) BuildCorners();
  glColor4fv(ShadowColor);
  if (FVertexOfCorner.empty()) return;
  glVertexPointer(3, GL_FLOAT, 0, FVertices.data());
  glEnableClientState(GL_VERTEX_ARRAY);
  glDrawElements(GL_TRIANGLES, GLsizei(FVertexOfCorner.size()), GL_UNSIGNED_INT, FVertexOfCorner.data());
  glDisableClientState(GL_VERTEX_ARRAY);
}

// ---------------------------------------------------------------------------
// A character

TQ2Player::TQ2Player() : FRandom(std::random_device{}()) {}

TQ2Model* TQ2Player::GetBody() {
  if (!FBody) FBody = std::make_unique<TQ2Model>();
  return FBody.get();
}

TQ2Model* TQ2Player::GetWeapon() {
  if (!FWeapon) FWeapon = std::make_unique<TQ2Model>();
  return FWeapon.get();
}

// Both models blend between their keys by the time spent in the current key
// frame; the weapon's trail runs during the attacks that swing it.
void TQ2Player::Blend() {
  float t = float(FElapsed) / float(KeyFrameMs);
  if (FBody) FBody->Interpolate(1 - FSlot, FSlot, t);
  if (FWeapon) {
    FWeapon->TrailOn = FAnimation == 2 || FAnimation == 7;
    FWeapon->Interpolate(1 - FSlot, FSlot, t);
  }
}

void TQ2Player::SetAnimation(uint8_t a) {
  if (a == FAnimation || a > AnimStopped) return;
  FAnimation = a;
  if (a == AnimStopped) return;
  FFrame = AnimFirstFrame[a];
  FLastFrame = AnimFirstFrame[a + 1] - 1;
  // The new first frame replaces the key being blended towards, so the
  // change blends from the previous key.
  if (FBody) FBody->SetKeyFrame(FSlot, FFrame);
  if (FWeapon) FWeapon->SetKeyFrame(FSlot, FFrame);
  Blend();
}

int TQ2Player::DrawPercent() {
  if (RandomPercent) return RandomPercent();
  return std::uniform_int_distribution<int>(0, 99)(FRandom);
}

uint8_t TQ2Player::IdleVariation(int percent) {
  constexpr uint8_t Variations[] = {7, 8, 9, 10, 11};  // a tenth of the draws each
  constexpr int PercentPerVariation = 10;
  int pick = percent / PercentPerVariation;
  return percent >= 0 && pick < int(std::size(Variations)) ? Variations[pick] : 0;
}

void TQ2Player::Advance(int32_t deltaMs) {
  if (deltaMs < 1 || FAnimation == AnimStopped) return;
  int64_t elapsed = int64_t{FElapsed} + deltaMs;
  auto steps = int32_t(elapsed / KeyFrameMs);
  FElapsed = int32_t(elapsed % KeyFrameMs);
  bool ended = false;
  if (steps >= 1) {
    FPrevFrame = FFrame;
    FSlot = 1 - FSlot;
    FFrame += steps;
    while (FFrame > FLastFrame) {
      FAnimation = AnimNext[FAnimation];
      ended = true;
      if (FAnimation == AnimStopped) {
        // However many frames this step covered, the character stops on
        // the last one, in both keys, and holds it.
        FFrame = FLastFrame;
        break;
      }
      FFrame = FFrame - (FLastFrame + 1) + AnimFirstFrame[FAnimation];
      FLastFrame = AnimFirstFrame[FAnimation + 1] - 1;
    }
    if (FFrame == 0) {  // animation 0 has just started over
      uint8_t variation = IdleVariation(DrawPercent());
      if (variation != 0) {
        SetAnimation(variation);
        return;
      }
    }
    for (TQ2Model* model : {FBody.get(), FWeapon.get()}) {
      if (!model) continue;
      model->SetKeyFrame(FSlot, FFrame);
      if (FAnimation == AnimStopped) model->SetKeyFrame(1 - FSlot, FFrame);
    }
  }
  Blend();
  if (ended && OnAnimationEnd) OnAnimationEnd(*this);
}

void TQ2Player::Draw() {
  glPushMatrix();
  glMultMatrixf(ShadowMatrix);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  if (FBody) FBody->DrawShadow(FFrame);
  if (FWeapon) FWeapon->DrawShadow(FFrame);
  glPopMatrix();
  glDisable(GL_BLEND);
  if (FBody) FBody->Draw(FFrame);
  if (FWeapon) FWeapon->Draw(FFrame);
  if (OnDraw) OnDraw(*this);
}
