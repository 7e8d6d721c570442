// The players of one client and their movement.  A TZULPlayer is an avatar:
// the host's number and name, a cell with a facing, a world offset while it
// walks into the next cell, its animated character and its own path finder
// (both owned).  TZULPlayerList holds the client's players in creation order
// without owning them: a player enters the list when created and leaves it
// when destroyed.  User-interface thread only; drawing needs the GL context.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "models/L3DPlayer.h"
#include "world/ZULPathFinder.h"

class TZULPlayerList;

// Walking speed and step lengths, in world units.
inline constexpr float CellSize = 6.0f;         // one cell, and a straight step
inline constexpr double MsPerWorldUnit = 90.0;  // one unit every 90 ms
inline constexpr int32_t StartCell = 127;       // where a new player stands (X and Y)
inline constexpr float MarkerHeight = 7.0f;     // marker frame above the feet

// Animation numbers of the shared motions (entries of Motions).
enum : int32_t {
  AnimStand = 0,  // "Arret": after a walk, after a failed MoveTo, on a position message
  AnimTalk = 1,
  AnimWalk = 2,
  AnimRun = 3,  // walking a path: a player moves exactly while this one is selected
  AnimPunch = 4,
  AnimFall = 5,  // held on its last frame
};

// sqrt(72) in single precision: the length of a diagonal step.
extern const float DiagonalStep;
// Facing of each direction in degrees, 90 - 45*i.
extern const std::array<float, 8> DirectionAngles;
// Unit vector of each direction on the ground: Cos moves world X, Sin world
// Z, in step with NeighbourOffsets.
struct TDirectionVector {
  long double Cos, Sin;
};
extern const std::array<TDirectionVector, 8> DirectionVectors;

// The motion files of the shared table, by animation number.
extern const std::array<const char*, 6> MotionFiles;
// Fills the empty entries of Motions from MotionFiles (the table keeps the
// first reference of each).  Run at start-up; a new player runs it too when
// the table is still empty.  A missing or malformed file is an Exception.
void LoadSharedMotions();
// Gives the table's references back and empties it.
void ReleaseSharedMotions();

class TZULPlayer {
 public:
  // Builds the character from the model files, binds a path finder to map
  // and joins list.  A missing or malformed model file is an Exception, and
  // the player is then not in the list.
  TZULPlayer(TMap* map, TZULPlayerList* list);
  // Leaves the list; the model and the path finder go with the player.
  virtual ~TZULPlayer();
  TZULPlayer(const TZULPlayer&) = delete;
  TZULPlayer& operator=(const TZULPlayer&) = delete;

  // A new walk begins (the path finder's Goal is its destination).
  virtual void MoveStarted() {}
  // A walk ends, or a pending path takes over at a cell boundary (then
  // MoveStarted follows).  Clears Retarget and the offsets.
  virtual void MoveStopped();

  // Starts a walk to goal, or re-targets the walk in progress at the next
  // cell boundary.  False when no path leads there (also for the player's
  // own cell): the player then stands on (X, Y).
  bool MoveTo(const TPoint& goal);
  // World position: the centre of cell (X, Y) plus the walking offset.
  void GetWorldPos(float& wx, float& wz) const;
  // Moving is the running motion being selected, and nothing else.
  bool Moving() const { return Model->Animation == AnimRun; }

  TZULPlayerList* Owner = nullptr;
  std::unique_ptr<TL3DPlayer> Model;
  TTexturedMesh* BodyMesh = nullptr;  // the four meshes belong to Model->Meshes
  TTexturedMesh* RaceMesh = nullptr;
  TTexturedMesh* BeardMesh = nullptr;
  TTexturedMesh* HairMesh = nullptr;
  int32_t Id = 0;         // given by the host
  int32_t Reserved = 0;   // carried by the host's messages, used by nothing
  int32_t X = StartCell;  // the last cell reached
  int32_t Y = StartCell;
  int32_t Direction = 0;  // facing; while moving, the current step's direction
  float OffsetX = 0;      // world offset from the centre of (X, Y) along the step
  float OffsetZ = 0;
  uint32_t MoveStart = 0;  // tick count at which the current step began
  std::string Name;
  std::unique_ptr<TZULPathFinder> PathFinder;
  TPoint PathCell;        // the cell the current step leads into
  bool Retarget = false;  // a new path takes over at the next cell boundary

 private:
  friend class TZULPlayerList;
  // Advances the walk to time now (see TZULPlayerList::Update).
  void Update(uint32_t now);
  void Stand();
};

class TZULPlayerList {
 public:
  TZULPlayerList() = default;
  // Players still alive are left without an owner.
  ~TZULPlayerList();
  TZULPlayerList(const TZULPlayerList&) = delete;
  TZULPlayerList& operator=(const TZULPlayerList&) = delete;

  // The first player with this number; none shows "Joueur #<id> introuvable".
  TZULPlayer* Find(int32_t id) const;
  // Advances every player's walk to time now (once a frame, before drawing).
  void Update(uint32_t now);
  // Advances each character's motion by elapsedMs and draws it in place.
  void Draw(uint32_t elapsedMs);
  // Draws each player's marker in a frame facing the camera (yaw and pitch
  // in degrees); leaves blending on and the colour at half-transparent white.
  void DrawMarkers(float yaw, float pitch);

  int Count() const { return int(FItems.size()); }
  TZULPlayer* operator[](int index) const { return FItems.at(std::size_t(index)); }
  const std::vector<TZULPlayer*>& Items() const { return FItems; }

 private:
  friend class TZULPlayer;
  void Add(TZULPlayer* player) { FItems.push_back(player); }
  void Remove(TZULPlayer* player);

  std::vector<TZULPlayer*> FItems;
};
