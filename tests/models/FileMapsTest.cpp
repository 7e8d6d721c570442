// Memory-mapped files: the view holds the file's bytes, offsets are checked
// against its size, and every failure names the file as it was given.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <memory>

#include "models/FileMaps.h"
#include "platform/Errors.h"

namespace {

std::string OpenError(const std::string& fileName) {
  try {
    TFileMapping mapping(fileName);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

class FileMaps : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FDir.isValid()); }
  std::string Folder() const { return FDir.path().toStdString(); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Folder() + "/" + name, std::ios::binary) << bytes;
    return Folder() + "\\" + name;
  }

 private:
  QTemporaryDir FDir;
};

}  // namespace

TEST_F(FileMaps, PointerAcceptsTheEndOfTheFileButNotBeyond) {
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes.push_back(static_cast<char>(i * 3));
  TFileMapping mapping(Write("hundred.bin", bytes));
  ASSERT_EQ(mapping.Size(), 100u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapping.Memory()), 100), bytes);
  EXPECT_EQ(mapping.Pointer(0), mapping.Memory());
  EXPECT_EQ(mapping.Pointer(100), mapping.Memory() + 100);
  EXPECT_EQ(mapping.Pointer(57)[0], static_cast<uint8_t>(57 * 3));
  try {
    mapping.Pointer(101);
    ADD_FAILURE() << "offset 101 of 100 bytes accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Out of bounds pointer !");
  }
  // The checked form keeps the whole range inside the file, without overflow.
  EXPECT_EQ(mapping.Pointer(96, 4), mapping.Memory() + 96);
  EXPECT_EQ(mapping.Pointer(100, 0), mapping.Memory() + 100);
  EXPECT_THROW(mapping.Pointer(97, 4), Exception);
  EXPECT_THROW(mapping.Pointer(0xFFFFFFFFu, 2), Exception);
}

TEST_F(FileMaps, FailuresNameTheFileAsGiven) {
  EXPECT_EQ(OpenError(Folder() + "\\missing.md2"), "Unable to open " + Folder() + "\\missing.md2");
  std::string empty = Write("empty.md2", "");
  EXPECT_EQ(OpenError(empty), "Empty file " + empty);
  EXPECT_EQ(OpenError(Folder()), "Unable to open " + Folder()) << "a folder is no file to open";
}

TEST_F(FileMaps, MappingOutlivesTheNameOnDisk) {
  std::string name = Write("gone.bin", "abc");
  auto mapping = std::make_unique<TFileMapping>(name);
  std::remove((Folder() + "/gone.bin").c_str());
  EXPECT_EQ(mapping->Pointer(2)[0], 'c');
  mapping.reset();
  EXPECT_EQ(OpenError(name), "Unable to open " + name);
}
