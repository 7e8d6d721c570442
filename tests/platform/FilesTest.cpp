// The file layer: the system's backslash names, finding a file whatever its
// letter case, and the stream helpers' errors.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Text1252.h"

TEST(Files, BackslashNamesBecomeNativePaths) {
  EXPECT_EQ(NativePath("data\\qelt-3d\\Biped.S3D"), "data/qelt-3d/Biped.S3D");
  EXPECT_EQ(NativePath("/tmp/a\\b"), "/tmp/a/b");
}

TEST(Files, SameTextIgnoresCaseOfAccentedLettersToo) {
  EXPECT_TRUE(SameText("DATA\\KNIGHT.PCX", "data\\knight.pcx"));
  EXPECT_TRUE(SameText(("ÉLÈVE Œuvre"_cp).View(), ("élève œuvre"_cp).View()));
  EXPECT_FALSE(SameText("knight", "knights"));
  EXPECT_FALSE(SameText(("a×"_cp).View(), ("a÷"_cp).View())) << "× and ÷ are not a letter pair";
}

TEST(Files, FindFileMatchesEveryFolderWithoutRegardToCase) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  std::string root = dir.path().toStdString();
  std::filesystem::create_directories(root + "/Data/Qelt-3D");
  std::ofstream(root + "/Data/Qelt-3D/Knight.pcx") << "x";
  EXPECT_EQ(FindFile(root + "\\DATA\\qelt-3d\\KNIGHT.PCX"), root + "/Data/Qelt-3D/Knight.pcx");
  EXPECT_EQ(FindFile(root + "/Data/Qelt-3D/Knight.pcx"), root + "/Data/Qelt-3D/Knight.pcx");
  EXPECT_EQ(FindFile(root + "/data/knight.pcx"), "");
  EXPECT_EQ(FindFile(root + "/nothing/knight.pcx"), "");
}

TEST(Files, OpenAndReadFailuresCarryTheSystemTexts) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  std::string root = dir.path().toStdString();
  auto error = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const Exception& e) {
      return e.Message();
    }
    return std::string("(no error)");
  };
  EXPECT_EQ(error([&] { OpenFileRead(root + "\\missing.bin"); }),
            "Cannot open file " + root + "\\missing.bin");
  EXPECT_EQ(error([&] { OpenFileRead(root); }), "Cannot open file " + root) << "a folder is not a file";

  std::istringstream stream("abcdef");
  char buffer[4];
  ReadBuffer(stream, buffer, 4);
  EXPECT_EQ(BytesLeft(stream), 2u);
  EXPECT_EQ(error([&] { ReadBuffer(stream, buffer, 3); }), "Stream read error");
  std::istringstream rest("xyz");
  rest.get();
  EXPECT_EQ(ReadToEnd(rest), "yz");
}
