// The one executable of the game: every role starts here.
#include "shell/main.h"

int main(int argc, char** argv) { return RunGame(argc, argv); }
