#include "FuzzSupport.h"

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

// The application lives until the process ends and is never destroyed: its
// destructor would run after Qt's own statics are gone.
void StartApplication() {
  static int argc = 1;
  static char name[] = "varozuvod-fuzz";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* application = nullptr;
  if (!application && !QCoreApplication::instance()) application = new QCoreApplication(argc, argv);
}

namespace {
struct TScratch {
  std::filesystem::path Path;
  TScratch() {
    std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    Path = base / ("varozuvod-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(Path);
  }
  ~TScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
};
}  // namespace

const std::string& ScratchFolder() {
  static TScratch scratch;
  static const std::string path = scratch.Path.string();
  return path;
}

std::string WriteScratchFile(const std::string& name, const uint8_t* data, std::size_t size) {
  std::string path = ScratchFolder() + "/" + name;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  file.close();
  if (!file) Require(false, "the scratch file could not be written");
  return path;
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}
