#include "effects/Particules.h"

#include <algorithm>
#include <cmath>
#include <utility>

// ---------------------------------------------------------------- random numbers

namespace {

// splitmix64: one 64-bit state, every seed gives a full-quality sequence.
class TGenerator {
 public:
  void Seed(uint64_t seed) { FState = seed; }
  double Next() {
    uint64_t z = (FState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;  // 53 bits into [0, 1)
  }

 private:
  uint64_t FState = 0;
};

TGenerator& Generator() {
  static TGenerator generator;
  return generator;
}

TRandomSource& Source() {
  static TRandomSource source;
  return source;
}

}  // namespace

double Random() {
  const TRandomSource& source = Source();
  return source ? source() : Generator().Next();
}

float RandomSigned() {
  const double first = Random();
  const double second = Random();
  return static_cast<float>(first - second);
}

void RandSeed(uint64_t seed) { Generator().Seed(seed); }

TRandomSource SetRandomSource(TRandomSource source) { return std::exchange(Source(), std::move(source)); }

TTestRandom::TTestRandom(std::vector<double> values) : Values(std::move(values)) {
  FPrevious = SetRandomSource([this] { return Drawn < Values.size() ? Values[Drawn++] : (++Drawn, 0.5); });
}

TTestRandom::~TTestRandom() { SetRandomSource(std::move(FPrevious)); }

// ---------------------------------------------------------------- particles

namespace {

// The fire: a block of flame two units high whose particles are pulled
// together towards a point above it as they age.
const TParticleParams FireDefaults = {
    .PositionSpread = {2.5f, 1.5f, 2.0f},
    .VelocityBase = {0, 2.0f, 0},
    .VelocitySpread = {1.0f, 0.5f, 1.0f},
    .Gravity = {0, 0, 0},
    .Attract = true,
    .AttractStrength = 0.1f,
    .AttractPoint = {0, 3.0f, 0},
    .StartColor = {0.8f, 0.3f, 0, 1.0f},
    .EndColor = {1.0f, 0.2f, 0, 0.1f},
    .Blend = true,
    .BlendSrc = GL_ONE,
    .BlendDst = GL_ONE,
    .StartSize = 1.0f,
    .EndSize = 0.2f,
    .LifeBase = 1.0f,
    .LifeSpread = 0.5f,
};

constexpr float SecondsPerMs = 0.001f;

// The model-view matrix, column-major.
void ModelView(GLfloat (&m)[16]) { glGetFloatv(GL_MODELVIEW_MATRIX, m); }

void Vertex(const TVector3& v) { glVertex3f(v.X, v.Y, v.Z); }

}  // namespace

void TParticleSystem::SetCount(int N) {
  Particles.assign(std::max(N, 0), TParticle{});
  for (int i = 0; i < static_cast<int>(Particles.size()); ++i) Respawn(i);
}

// The random numbers are drawn in a fixed order: position X, Y, Z, velocity
// X, Y, Z, then life.
void TParticleSystem::Respawn(int I) {
  TParticle& p = Particles[I];
  p.Position.X = RandomSigned() * PositionSpread.X;
  p.Position.Y = RandomSigned() * PositionSpread.Y;
  p.Position.Z = RandomSigned() * PositionSpread.Z;
  p.Velocity.X = RandomSigned() * VelocitySpread.X + VelocityBase.X;
  p.Velocity.Y = RandomSigned() * VelocitySpread.Y + VelocityBase.Y;
  p.Velocity.Z = RandomSigned() * VelocitySpread.Z + VelocityBase.Z;
  p.Color = StartColor;
  p.Size = StartSize;
  p.Life = std::fabs(RandomSigned() * LifeSpread + LifeBase);
}

// Colour, size and the pull of the attraction point advance by the share of
// the remaining life that the step uses, so they reach their end values as
// the life runs out whatever the frame rate.
void TParticleSystem::Update(uint32_t DeltaMs) {
  const float dt = static_cast<float>(DeltaMs) * SecondsPerMs;
  TVector3 v3;
  TVector4 v4;
  for (int i = 0; i < static_cast<int>(Particles.size()); ++i) {
    TParticle& p = Particles[i];
    const float f = dt / p.Life;
    if (Attract) {
      VectorSub(AttractPoint, p.Position, v3);
      VectorScale(v3, v3, f * AttractStrength);
      VectorAdd(p.Position, v3);
    }
    VectorScale(Gravity, v3, dt);
    VectorAdd(p.Velocity, v3);
    VectorScale(p.Velocity, v3, dt);
    VectorAdd(p.Position, v3);
    Vector4Sub(EndColor, p.Color, v4);
    Vector4Scale(v4, v4, f);
    Vector4Add(p.Color, v4);
    p.Size += (EndSize - p.Size) * f;
    p.Life -= dt;
    if (p.Life <= 0) Respawn(i);
  }
}

// Each quad faces the camera: A and B are the camera's right plus up and
// right minus up, read from the model-view matrix in the current space.
void TParticleSystem::Draw() const {
  if (Blend) {
    glDepthMask(GL_FALSE);
    glDisable(GL_ALPHA_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(BlendSrc, BlendDst);
  }
  GLfloat m[16];
  ModelView(m);
  const TVector3 A = {m[0] + m[1], m[4] + m[5], m[8] + m[9]};
  const TVector3 B = {m[0] - m[1], m[4] - m[5], m[8] - m[9]};
  glBegin(GL_QUADS);
  for (const TParticle& p : Particles) {
    const TVector3 a = A * p.Size, b = B * p.Size;
    glColor4f(p.Color.X, p.Color.Y, p.Color.Z, p.Color.W);
    glTexCoord2f(0, 0);
    Vertex(p.Position - a);
    glTexCoord2f(1, 0);
    Vertex(p.Position + b);
    glTexCoord2f(1, 1);
    Vertex(p.Position + a);
    glTexCoord2f(0, 1);
    Vertex(p.Position - b);
  }
  glEnd();
  if (Blend) {
    glDepthMask(GL_TRUE);
    glDisable(GL_BLEND);
  }
}

TFireSystem::TFireSystem() {
  static_cast<TParticleParams&>(*this) = FireDefaults;
  SetCount(DefaultCount);
}

// ---------------------------------------------------------------- lightning

namespace {

constexpr float BoltLineWidth = 3;  // pixels
constexpr float MidJitter = 0.25f;  // full range of the jitter that is not passed on
constexpr float GlowCentreAlpha = 0.8f;
constexpr float GlowPointReach = 1.4f;  // rim points on the axes, in glow sizes

}  // namespace

TThorFX::TThorFX() { SetPointCount(DefaultPointCount); }

void TThorFX::SetPointCount(int N) { Points.resize(std::max(N, 0)); }

// The points are spread evenly from -Length/2 to +Length/2, then each axis is
// bent by midpoint subdivision between ends held at 0.  A bolt of a single
// point sits at the centre; one of none has nothing to shape.
void TThorFX::Generate() {
  const int n = static_cast<int>(Points.size());
  if (n == 1) Points[0].X = 0;
  if (n < 2) return;
  for (int i = 0; i < n; ++i) Points[i].X = i * Length / (n - 1) - Length / 2;
  Subdivide(0, n - 1, 0, 0, &TVector3::Y);
  Subdivide(0, n - 1, 0, 0, &TVector3::Z);
}

// The middle point takes the mean of the range's end values moved by up to a
// quarter of the span either way, plus a jitter of its own that the halves do
// not inherit.  Random numbers are drawn in the order of the recursion.
void TThorFX::Subdivide(int Lo, int Hi, float ValueLo, float ValueHi, float TVector3::*Axis) {
  const int mid = (Lo + Hi) / 2;
  const float span = static_cast<float>(Hi - Lo) / static_cast<float>(Points.size());
  const float v = (ValueLo + ValueHi) / 2 + static_cast<float>(Random()) * (span / 2) - (span / 2) / 2;
  Points[mid].*Axis = v + static_cast<float>(Random()) * MidJitter - MidJitter / 2;
  // With two points the middle is the first point: this puts it back to the
  // last point's value.  With more, point Hi - 1 is a middle later on.
  if ((Lo + Hi) % 2 == 1) Points[Hi - 1].*Axis = Points[Hi].*Axis;
  if (mid - Lo > 1) Subdivide(Lo, mid, ValueLo, v, Axis);
  if (Hi - mid > 1) Subdivide(mid, Hi, v, ValueHi, Axis);
}

// A white three-pixel line through the points, then an eight-pointed fan at
// each point, opaque white at the centre fading to transparent blue, added
// onto the picture.
void TThorFX::Draw() const {
  glColor4f(1, 1, 1, 1);
  glLineWidth(BoltLineWidth);
  glBegin(GL_LINE_STRIP);
  for (const TVector3& p : Points) Vertex(p);
  glEnd();

  GLfloat m[16];
  ModelView(m);
  const TVector3 R = TVector3{m[0], m[4], m[8]} * GlowSize;
  const TVector3 U = TVector3{m[1], m[5], m[9]} * GlowSize;
  const TVector3 rim[] = {
      R + U, U * GlowPointReach, U - R, R * -GlowPointReach, TVector3{} - R - U, U * -GlowPointReach,
      R - U, R * GlowPointReach, R + U};
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  for (const TVector3& p : Points) {
    glTranslatef(p.X, p.Y, p.Z);
    glBegin(GL_TRIANGLE_FAN);
    glColor4f(1, 1, 1, GlowCentreAlpha);
    glVertex3f(0, 0, 0);
    glColor4f(0, 0, 1, 0);
    for (const TVector3& r : rim) Vertex(r);
    glEnd();
    glTranslatef(-p.X, -p.Y, -p.Z);
  }
}
