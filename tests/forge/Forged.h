// What the tests of the generated data share: the data written once per
// test process into a folder of its own, made the current folder so that the
// game's relative names such as "data\qelt-3d\Biped.S3D" reach it (test
// processes run side by side), and characters put together as the game puts
// them together.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "models/L3DPlayer.h"
#include "models/MD2.h"

// Writes the data the first time it is called, and moves there.
void ForgeOnce();
// A file for people to look at, in the folder the test started in (the
// test's build folder).
std::string OutputFile(const std::string& name);

// A character of the game's skeleton with the given meshes (file names in
// the model folder, without folder), each with one texture.
struct TMeshFile {
  std::string Mesh, Texture;
};
std::unique_ptr<TL3DPlayer> MakeCharacter(const std::vector<TMeshFile>& meshes);
// The body, the human head, the given hair and beard (0 for none).
std::unique_ptr<TL3DPlayer> MakeHuman(int hair, int beard);
// The body, the elf head and the given ears.
std::unique_ptr<TL3DPlayer> MakeElf(int hair, int ears);
// Plays the motion file (name without folder and extension) and poses the
// character at the phase.
void ShowMotion(TL3DPlayer& character, const std::string& motion, float phase);

// The knight as the in-game screen loads it, its idle variations off.
std::unique_ptr<TQ2Player> MakeKnight();
// The game's model folder and a file in it.
std::string ModelFile(const std::string& name);
