// A run folder for the screens' tests: a temporary folder, made the current
// folder while the object lives, holding every file the intro and the
// in-game screen open, small and with known shapes and colours.  Every mesh
// is a box bound with full weight to the one root bone of Biped.S3D, and the
// motions keep it in its rest pose, so a character is drawn as a box three
// times the mesh's size; the knight is a box as well, in every frame.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <string>

struct TBox {
  float X0, Y0, Z0, X1, Y1, Z1;  // model units, before the characters' factor 3
};

// The body every character is drawn with: a slab 3 units wide, 0.6 deep and
// 6 high once skinned, standing on its cell's centre, seen face-on from the
// south when unturned (direction 0 or 4) and edge-on when turned a quarter.
inline constexpr TBox BodyBox = {-0.5f, 0.0f, -0.1f, 0.5f, 2.0f, 0.1f};

// Colours of the pictures, 0xRRGGBB.  The floor's picture is four greys,
// one a quarter, as it is seen: top left, top right, bottom left, bottom right.
inline constexpr uint32_t FloorTopLeft = 0x808080;
inline constexpr uint32_t FloorTopRight = 0x404040;
inline constexpr uint32_t FloorBottomLeft = 0xFFFFFF;
inline constexpr uint32_t FloorBottomRight = 0xC0C0C0;
inline constexpr uint32_t LogoColor = 0x000080;
inline constexpr uint32_t TitleColor = 0x004000;

class TGameFiles {
 public:
  TGameFiles();
  ~TGameFiles();
  TGameFiles(const TGameFiles&) = delete;
  TGameFiles& operator=(const TGameFiles&) = delete;

  bool Valid() const { return FValid; }
  QString Folder() const { return FFolder.path(); }
  // The current folder before this one.
  const QString& StartFolder() const { return FPrevious; }

 private:
  QTemporaryDir FFolder;
  QString FPrevious;
  bool FValid = false;
};

// Empties the shared resource managers and the shared motion table that the
// files of one folder filled, so that the next folder's files are read.
void ForgetSharedModels();
