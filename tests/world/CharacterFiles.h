// A run folder for the player tests: a temporary folder holding the
// character files a player loads (data/qelt-3d/: skeleton, four meshes, the
// six shared motions, three textures), made the current folder while the
// object lives.  The shared motion table is emptied again when it goes.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <string>

class TCharacterFiles {
 public:
  TCharacterFiles();
  ~TCharacterFiles();
  TCharacterFiles(const TCharacterFiles&) = delete;
  TCharacterFiles& operator=(const TCharacterFiles&) = delete;

  bool Valid() const { return FValid; }
  // The native path of a file given as the system names it ("data\qelt-3d\...").
  std::string Path(const std::string& systemName) const;

 private:
  QTemporaryDir FDir;
  QString FPrevious;
  bool FValid = false;
};
