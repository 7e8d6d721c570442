#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>

// Shared main: a QApplication exists for every test program, so sockets,
// timers and windows all run on the thread that runs the tests.
int main(int argc, char** argv) {
  // Listing the tests (CTest's discovery) needs no display.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--gtest_list_tests") == 0) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
