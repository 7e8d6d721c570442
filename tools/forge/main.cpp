// forge <folder>: writes the game's data files into folder (made if needed).
#include <cstdio>
#include <exception>

#include "Forge.h"
#include "platform/Text1252.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: forge <data folder>\n");
    return 2;
  }
  try {
    forge::ForgeData(argv[1]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "forge: %s\n", ToUtf8(error.what()).c_str());
    return 1;
  }
  return 0;
}
