// The character files a player is built from, made small for the tests: a
// temporary folder with data\qelt-3d\ (a one-bone skeleton, empty meshes,
// one-track motions, 8 by 8 textures) that is the current folder while the
// object lives.
#pragma once

#include <QString>
#include <QTemporaryDir>

class TModelFolder {
 public:
  TModelFolder();
  ~TModelFolder();
  TModelFolder(const TModelFolder&) = delete;
  TModelFolder& operator=(const TModelFolder&) = delete;

 private:
  QTemporaryDir FFolder;
  QString FPrevious;
};
