// The one executable of the game.  Until the windows exist it offers what
// the host can do without them.
#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    std::printf("Usage: varozuvod [--help]\n");
    return 0;
  }
  QApplication app(argc, argv);
  std::printf("varozuvod: nothing to start yet, try --help\n");
  return 0;
}
