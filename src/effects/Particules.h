// The title screen's effects: TParticleSystem, drawn as camera-facing quads
// (TFireSystem is its fire set-up), and TThorFX, a lightning bolt drawn as a
// jagged line with a glow at each point.  Each object owns its particles or
// points; the caller binds the texture and places the effect with the
// model-view matrix.  The random numbers come from one process-wide
// generator that the title screen seeds and tests replace.
// User-interface thread only.
#pragma once

#include <GL/gl.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "models/GLMath.h"

// ---------------------------------------------------------------- random numbers

// A uniform number from [0, 1).
double Random();
// The first of two uniform numbers minus the second: (-1, 1), triangular.
float RandomSigned();
// Restarts the generator's sequence.
void RandSeed(uint64_t seed);

// Replaces the generator by a function returning numbers from [0, 1); an
// empty function restores the generator.  Returns the previous source.
using TRandomSource = std::function<double()>;
TRandomSource SetRandomSource(TRandomSource source);

// Hands out the given numbers in order (then 0.5), while it lives (tests).
class TTestRandom {
 public:
  explicit TTestRandom(std::vector<double> values);
  ~TTestRandom();
  TTestRandom(const TTestRandom&) = delete;
  TTestRandom& operator=(const TTestRandom&) = delete;

  std::vector<double> Values;
  std::size_t Drawn = 0;  // numbers handed out so far

 private:
  TRandomSource FPrevious;
};

// ---------------------------------------------------------------- particles

struct TParticle {
  TVector3 Position;  // relative to the system's origin
  TVector3 Velocity;  // units per second
  TVector4 Color;     // red, green, blue, alpha from 0 to 1
  float Size = 0;     // half-width of the billboard along each camera axis
  float Life = 0;     // seconds left
};

// The parameters every particle is made and moved by.
struct TParticleParams {
  TVector3 PositionSpread;  // half-range of the start position on each axis
  TVector3 VelocityBase;    // mean start velocity
  TVector3 VelocitySpread;  // half-range of the start velocity
  TVector3 Gravity;         // units per second squared
  bool Attract = false;
  float AttractStrength = 0;  // pull towards AttractPoint per unit of life fraction
  TVector3 AttractPoint;
  TVector4 StartColor;  // colour of a new particle
  TVector4 EndColor;    // colour the particles move towards
  bool Blend = false;   // draw with blending and no depth writes
  GLenum BlendSrc = GL_ONE, BlendDst = GL_ONE;
  float StartSize = 0, EndSize = 0;
  float LifeBase = 0;    // mean life, seconds
  float LifeSpread = 0;  // half-range of the life, seconds
};

// A constant number of particles: each one is respawned the moment its life
// runs out.
class TParticleSystem : public TParticleParams {
 public:
  virtual ~TParticleSystem() = default;

  // Sizes the array and respawns every particle, from index 0 upwards.
  void SetCount(int N);
  // Gives particle I a new life.
  void Respawn(int I);
  // Moves every particle on by DeltaMs milliseconds.
  void Update(uint32_t DeltaMs);
  // Draws every particle as a quad with the current texture.
  void Draw() const;

  std::vector<TParticle> Particles;
};

// The title screen's fire: 200 orange particles rising and fading to red.
class TFireSystem : public TParticleSystem {
 public:
  static constexpr int DefaultCount = 200;
  TFireSystem();
};

// ---------------------------------------------------------------- lightning

class TThorFX {
 public:
  static constexpr int DefaultPointCount = 10;

  TThorFX();

  // Sizes Points; new points are at the origin.
  void SetPointCount(int N);
  // Gives the bolt a new shape along X, its ends staying at Y = Z = 0.
  void Generate();
  // Draws the line and the glows at the current transformation; leaves
  // blending enabled.
  void Draw() const;

  std::vector<TVector3> Points;
  float GlowSize = 0.2f;
  float Length = 1.0f;  // along X, centred on the origin

 private:
  void Subdivide(int Lo, int Hi, float ValueLo, float ValueHi, float TVector3::*Axis);
};
