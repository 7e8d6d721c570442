// MD2 keyframe models.  TModelManager shares the data of each MD2 file by
// name (frames decoded once; triangles and skin coordinates read in place
// from the file's mapping); TQ2Model is one drawn model that blends two key
// frames and draws a fading trail behind two of its vertices; TQ2Player is a
// character of a body and a weapon model playing the standard table of 20
// player animations.  A TQ2Model holds one reference to its model data and
// one to its skin; a TQ2Player owns its two models.  User-interface thread
// only, with the OpenGL context current for drawing.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "models/FileMaps.h"
#include "models/GLMath.h"
#include "models/GLTextures.h"
#include "models/MD2File.h"

// The shared data of one MD2 file, mapped for the instance's whole life.
// Loading checks the header against the file (MD2File.h) before anything is
// decoded, so every index the drawing reads lies inside its tables.
class TModelInstance : public GLTextures::TInstance {
 public:
  // Maps and decodes FileName; the errors of the mapping and of the header
  // checks reach the caller, and no instance is made then.
  TModelInstance(GLTextures::TManager& manager, const std::string& fileName);

  int32_t FrameCount() const { return FFrameCount; }
  int32_t VertexCount() const { return FVertexCount; }
  // The VertexCount decoded vertices of frame F, 0 <= F < FrameCount.
  const TVector3* Frame(int32_t f) const { return FFrames.data() + std::size_t(f) * FVertexCount; }

  int32_t SkinCoordCount() const { return FSkinCoordCount; }
  TMD2SkinCoord SkinCoord(int32_t i) const { return ReadMD2SkinCoord(FSkinCoords, i); }
  int32_t TriangleCount() const { return FTriangleCount; }
  TMD2Triangle Triangle(int32_t i) const { return ReadMD2Triangle(FTriangles, i); }
  float InvSkinWidth() const { return FInvSkinWidth; }
  float InvSkinHeight() const { return FInvSkinHeight; }

 private:
  TFileMapping Mapping;
  std::vector<TVector3> FFrames;  // FrameCount x VertexCount
  int32_t FFrameCount = 0;
  int32_t FVertexCount = 0;
  const uint8_t* FSkinCoords = nullptr;  // in the mapping
  int32_t FSkinCoordCount = 0;
  const uint8_t* FTriangles = nullptr;  // in the mapping
  int32_t FTriangleCount = 0;
  float FInvSkinWidth = 0;
  float FInvSkinHeight = 0;
};

// Finds model data by file name, without regard to letter case.
class TModelManager : public GLTextures::TManager {
 public:
  // The instance registered under FileName, or else a new one loaded and
  // registered; either way with one more reference, to be given back with
  // Release.
  TModelInstance* Get(const std::string& fileName);
};

// Created with the program and destroyed, with every instance it still
// holds, at its end.
extern TModelManager ModelManager;

struct TTexCoord {
  float S = 0, T = 0;
};

// Two trail vertices recorded at one blend.
struct TTrailSample {
  TVector3 A, B;
};

class TQ2Model {
 public:
  static constexpr int32_t TrailSamples = 10;

  TQ2Model() = default;
  ~TQ2Model();
  TQ2Model(const TQ2Model&) = delete;
  TQ2Model& operator=(const TQ2Model&) = delete;

  // Loading: each does nothing when given the name already loaded.  A load
  // that fails leaves the model as it was and lets the error through.
  // Takes the model data of FileName; both key slots and the blended
  // vertices start all zero.
  void LoadModel(const std::string& fileName);
  // Takes the skin texture of FileName from ModelTextures.
  void LoadSkin(const std::string& fileName);

  // Animating
  // Copies frame F into key slot Slot (0 or 1); a frame the model lacks
  // changes nothing.
  void SetKeyFrame(int32_t slot, int32_t f);
  // Vertices := Keys[From] + (Keys[To] - Keys[From]) * T; then, with
  // TrailOn, records the trail vertices as the newest sample, or else lets
  // the trail shrink by one sample.
  void Interpolate(int32_t from, int32_t to, float t);

  // Drawing: both draw nothing without model data or when F is not one of
  // its frames; F serves only for that test.
  // The textured model, then the trail as a fading strip.
  void Draw(int32_t f);
  // The untextured triangles in a dark translucent colour, for the shadow.
  void DrawShadow(int32_t f);

  const std::string& ModelName() const { return FModelName; }
  const std::string& SkinName() const { return FSkinName; }
  TModelInstance* Instance() const { return FInstance; }
  TTextureInstance* Skin() const { return FSkin; }
  const std::vector<TVector3>& Keys(int32_t slot) const { return FKeys[KeySlot(slot)]; }
  const std::vector<TVector3>& Vertices() const { return FVertices; }
  const std::vector<TTexCoord>& TexCoords() const { return FTexCoords; }

  // The trail: the ring index of the newest sample, the number of samples
  // shown (0 to 10), and the sample K blends before the newest (K below
  // TrailLength).
  int32_t TrailHead() const { return FTrailHead; }
  int32_t TrailLength() const { return FTrailLength; }
  const TTrailSample& TrailSample(int32_t k) const;

  // Each blend records a trail sample while this is set.
  bool TrailOn = false;
  // The two vertices the trail follows; while either is not a vertex of the
  // model, nothing is recorded, as if the trail were off.
  int32_t TrailVertexA = 0;
  int32_t TrailVertexB = 0;

 private:
  static int32_t KeySlot(int32_t slot);
  bool TrailVerticesExist() const;
  void BuildTexCoords();
  void BuildCorners();
  void DrawTrail();

  std::string FModelName;
  std::string FSkinName;
  TModelInstance* FInstance = nullptr;
  TTextureInstance* FSkin = nullptr;
  std::array<std::vector<TVector3>, 2> FKeys;
  std::vector<TVector3> FVertices;
  std::vector<TTexCoord> FTexCoords;
  // The drawing tables of the model data, made on the first Draw after
  // LoadModel.  A skin coordinate belongs to a triangle corner, so the
  // textured model is drawn from vertices of its own: one per distinct pair
  // of vertex and skin coordinate among the corners, each a copy of a
  // blended vertex with the texture coordinate of its corners.
  std::vector<uint32_t> FDrawnOfCorner;   // 3 a triangle, corners 2, 1, 0
  std::vector<uint32_t> FVertexOfCorner;  // 3 a triangle, corners 0, 1, 2 (shadow)
  std::vector<uint32_t> FVertexOfDrawn;
  std::vector<uint32_t> FSkinCoordOfDrawn;
  // Per drawn vertex: its texture coordinate (made with TexCoords) and its
  // copy of the blended vertex (made at each Draw, reused from frame to frame).
  std::vector<TTexCoord> FDrawnTexCoords;
  std::vector<TVector3> FDrawnVertices;
  bool FCornersBuilt = false;
  int32_t FTrailHead = 0;
  int32_t FTrailLength = 0;
  std::array<TTrailSample, TrailSamples> FTrail{};
};

// The standard player animations: animation A plays frames AnimFirstFrame[A]
// to AnimFirstFrame[A + 1] - 1 and is followed by AnimNext[A].  Animation
// 20 is the stopped state that the death animations (16 to 19) lead to.
constexpr int AnimationCount = 20;
constexpr uint8_t AnimStopped = 20;
constexpr std::array<int32_t, AnimationCount + 1> AnimFirstFrame = {
    0, 40, 46, 54, 58, 62, 66, 72, 84, 95, 112, 123, 135, 154, 160, 169, 173, 178, 184, 190, 198};
constexpr std::array<uint8_t, AnimationCount + 1> AnimNext = {0, 1,  0,  0,  0,  0,  0,  0,  0,  0, 0,
                                                              0, 12, 13, 12, 12, 20, 20, 20, 20, 20};

class TQ2Player {
 public:
  // One key frame lasts this long.
  static constexpr int32_t KeyFrameMs = 180;

  TQ2Player();
  TQ2Player(const TQ2Player&) = delete;
  TQ2Player& operator=(const TQ2Player&) = delete;

  // The two models, each made on first access.
  TQ2Model* GetBody();
  TQ2Model* GetWeapon();

  // Starts animation A (0 to 19) from its first frame, blending from the
  // previous key; 20 stops the character where it stands.  The current
  // animation and numbers above 20 change nothing.
  void SetAnimation(uint8_t a);
  // Moves the animation on by DeltaMs: one key frame every 180 ms, an
  // animation's end leading to the next of the table, random idle
  // variations each time animation 0 starts over.
  void Advance(int32_t deltaMs);
  // The shadow flattened onto y = 0, then both models, then OnDraw.
  void Draw();

  // Called after an Advance in which an animation came to its end.
  std::function<void(TQ2Player&)> OnAnimationEnd;
  // Called at the end of each Draw.
  std::function<void(TQ2Player&)> OnDraw;
  // Draws the integer 0 to 99 that picks an idle variation; a player of its
  // own seeded from the system when empty.  Tests put fixed draws here.
  std::function<int()> RandomPercent;

  TQ2Model* Body() const { return FBody.get(); }
  TQ2Model* Weapon() const { return FWeapon.get(); }
  int32_t Elapsed() const { return FElapsed; }
  uint8_t Animation() const { return FAnimation; }
  int32_t PrevFrame() const { return FPrevFrame; }
  int32_t Frame() const { return FFrame; }
  int32_t LastFrame() const { return FLastFrame; }
  int32_t Slot() const { return FSlot; }

 private:
  void Blend();
  int DrawPercent();
  // The idle variation for a draw of 0 to 99, or 0 for none.
  static uint8_t IdleVariation(int percent);

  std::unique_ptr<TQ2Model> FBody;
  std::unique_ptr<TQ2Model> FWeapon;
  int32_t FElapsed = 0;
  uint8_t FAnimation = 0;
  int32_t FPrevFrame = 0;
  int32_t FFrame = 0;
  int32_t FLastFrame = 0;
  int32_t FSlot = 0;
  std::minstd_rand FRandom;
};
