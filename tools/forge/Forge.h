// The whole of the game's data, written into one folder (the run folder's
// data/): skeleton, meshes, motions and character textures under qelt-3d/,
// the screens' images under images/, the MD2 knight and its sword beside
// them, the sounds under sons/.  The same files every time: nothing depends on the clock or on
// anything outside the program.
#pragma once

#include <string>
#include <vector>

namespace forge {

// Writes every file; "Cannot create file <name>" when one cannot be written.
void ForgeData(const std::string& folder);

// The files ForgeData writes, relative to its folder, with '/' between names.
std::vector<std::string> ForgedFiles();

}  // namespace forge
