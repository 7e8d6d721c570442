// Read-only memory-mapped files.  A TFileMapping owns an open file and a
// read-only, shared view of all of it, valid from construction to
// destruction, so that a file format can be read by pointing into it at byte
// offsets.  Pointer checks offsets against the file's size.
#pragma once

#include <cstdint>
#include <string>

class TFileMapping {
 public:
  // Opens and maps the whole file; "Unable to open <name>" (missing,
  // unreadable or a folder), "Empty file <name>", "Can't map file <name>"
  // (not a plain file, or 4 GiB and more) or "Can't view file <name>".
  // Nothing stays open after a failure.
  explicit TFileMapping(const std::string& fileName);
  // The same for the file at path, a native path found on disk for
  // fileName; the errors name fileName as the caller gave it.
  TFileMapping(const std::string& fileName, const std::string& path);
  ~TFileMapping();
  TFileMapping(const TFileMapping&) = delete;
  TFileMapping& operator=(const TFileMapping&) = delete;

  // The first byte of the file.
  const uint8_t* Memory() const { return FMemory; }
  // The file's size in bytes when it was opened.
  uint32_t Size() const { return FSize; }
  // Memory + offset; an offset beyond Size is "Out of bounds pointer !"
  // (Size itself, the end of the file, is accepted).  Only the start is
  // checked: the caller keeps what it reads there inside the file.
  const uint8_t* Pointer(uint32_t offset) const;
  // Memory + offset, when all of the length bytes from there lie inside the
  // file; "Out of bounds pointer !" otherwise.
  const uint8_t* Pointer(uint32_t offset, uint32_t length) const;

 private:
  int FFileHandle = -1;
  const uint8_t* FMemory = nullptr;
  uint32_t FSize = 0;
};
