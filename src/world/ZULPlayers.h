// The players of one client.  A TZULPlayer is an avatar: the host's number
// and name, its animated character (owned) and its walk (a TZULWalker: a
// cell with a facing, a world offset while it walks into the next cell,
// its own path finder).  TZULPlayerList holds the client's players in creation order
// without owning them: a player enters the list when created and leaves it
// when destroyed.  User-interface thread only; drawing needs the GL context.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "models/L3DPlayer.h"
#include "world/ZULWalker.h"

class TZULPlayerList;

inline constexpr float MarkerHeight = 7.0f;  // marker frame above the feet
// A character whose feet lie farther than this from the eye is drawn from
// its meshes' low levels of detail, world units.  The low levels stray at
// most 0.021 model units (0.063 world units) from the full surface, and at
// 640 by 480 through the 45-degree view a world unit at distance d is
// 579 / d pixels: from here on that is under one pixel.
inline constexpr float FarDetailDistance = 40.0f;

// Animation numbers of the shared motions (entries of Motions).
enum : int32_t {
  AnimStand = 0,  // "Arret": after a walk, after a failed MoveTo, on a position message
  AnimTalk = 1,
  AnimWalk = 2,
  AnimRun = 3,  // walking a path: a player moves exactly while this one is selected
  AnimPunch = 4,
  AnimFall = 5,  // held on its last frame
};

// The motion files of the shared table, by animation number.
extern const std::array<const char*, 6> MotionFiles;
// Fills the empty entries of Motions from MotionFiles (the table keeps the
// first reference of each).  Run at start-up; a new player runs it too when
// the table is still empty.  A missing or malformed file is an Exception.
void LoadSharedMotions();
// Gives the table's references back and empties it.
void ReleaseSharedMotions();

// A player walks as every walker does (TZULWalker); its motion says
// whether it moves, so selecting another motion halts its walk.
class TZULPlayer : public TZULWalker {
 public:
  // Builds the character from the model files, binds a path finder to map
  // and joins list.  A missing or malformed model file is an Exception, and
  // the player is then not in the list.
  TZULPlayer(TMap* map, TZULPlayerList* list);
  // Leaves the list; the model and the path finder go with the player.
  ~TZULPlayer() override;

  // Moving is the running motion being selected, and nothing else.
  bool Moving() const override { return Model->Animation == AnimRun; }

  TZULPlayerList* Owner = nullptr;
  std::unique_ptr<TL3DPlayer> Model;
  TTexturedMesh* BodyMesh = nullptr;  // the four meshes belong to Model->Meshes
  TTexturedMesh* RaceMesh = nullptr;
  TTexturedMesh* BeardMesh = nullptr;
  TTexturedMesh* HairMesh = nullptr;
  int32_t Id = 0;        // given by the host
  int32_t Reserved = 0;  // carried by the host's messages, used by nothing
  std::string Name;

 protected:
  void SetRunning(bool running) override { Model->SetAnimation(running ? AnimRun : AnimStand); }
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
  // The first player with this number, or null, without a word.
  TZULPlayer* Search(int32_t id) const;
  // Advances every player's walk to time now (once a frame, before drawing).
  void Update(uint32_t now);
  // Advances each character's motion by elapsedMs and draws it in place,
  // from the low levels of detail beyond FarDetailDistance from the eye of
  // the current modelview matrix.
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
