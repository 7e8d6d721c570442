#include "models/FileMaps.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace {

int OpenReadOnly(const std::string& path) {
  int handle;
  do handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  while (handle < 0 && errno == EINTR);
  return handle;
}

// Closes the file on the way out of a failed construction.
[[noreturn]] void Fail(int handle, const std::string& message) {
  ::close(handle);
  throw Exception(message);
}

}  // namespace

TFileMapping::TFileMapping(const std::string& fileName) : TFileMapping(fileName, NativePath(fileName)) {}

TFileMapping::TFileMapping(const std::string& fileName, const std::string& path) {
  int handle = OpenReadOnly(path);
  if (handle < 0) throw Exception("Unable to open " + fileName);
  struct stat status {};
  if (::fstat(handle, &status) != 0) Fail(handle, "Can't map file " + fileName);
  // A folder opens for reading here, where it is no file at all.
  if (S_ISDIR(status.st_mode)) Fail(handle, "Unable to open " + fileName);
  if (status.st_size == 0) Fail(handle, "Empty file " + fileName);
  if (!S_ISREG(status.st_mode) ||
      static_cast<uint64_t>(status.st_size) > std::numeric_limits<uint32_t>::max())
    Fail(handle, "Can't map file " + fileName);
  auto size = static_cast<std::size_t>(status.st_size);
  void* view = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, handle, 0);
  if (view == MAP_FAILED) Fail(handle, "Can't view file " + fileName);
  FFileHandle = handle;
  FMemory = static_cast<const uint8_t*>(view);
  FSize = static_cast<uint32_t>(size);
}

TFileMapping::~TFileMapping() {
  ::munmap(const_cast<uint8_t*>(FMemory), FSize);
  ::close(FFileHandle);
}

const uint8_t* TFileMapping::Pointer(uint32_t offset) const {
  if (offset > FSize) throw Exception("Out of bounds pointer !");
  return FMemory + offset;
}

const uint8_t* TFileMapping::Pointer(uint32_t offset, uint32_t length) const {
  if (static_cast<uint64_t>(offset) + length > FSize) throw Exception("Out of bounds pointer !");
  return FMemory + offset;
}
