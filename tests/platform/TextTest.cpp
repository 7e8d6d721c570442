// Windows-1252 text: literals turned into 1252 bytes at compile time, and the
// conversion to and from QString that only the windows use.
#include <gtest/gtest.h>

#include <QString>

#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"

TEST(Text1252, AccentedLiteralsBecomeSingleBytes) {
  std::string text = "Session fermée"_cp;
  ASSERT_EQ(text.size(), 14u);
  EXPECT_EQ(static_cast<unsigned char>(text[12]), 0xE9);
  std::string euro = "€œ"_cp;
  ASSERT_EQ(euro.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(euro[0]), 0x80);
  EXPECT_EQ(static_cast<unsigned char>(euro[1]), 0x9C);
}

TEST(Text1252, QStringRoundTripKeepsEveryDefinedByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(FromQString(ToQString(all)), all);
  EXPECT_EQ(ToQString("Propriétés"_cp), QString::fromUtf8("Propriétés"));
  EXPECT_EQ(ToQString(std::string("\x80", 1)), QString(QChar(0x20AC)));
  EXPECT_EQ(FromQString(QString(QChar(0x4E2D))), "?");
}

TEST(Guard, ErrorThatEscapesAnEntryIsShownAndTheProgramGoesOn) {
  TMessageCapture capture;
  bool after = false;
  Guarded([] { throw Exception("Erreur de flux 2"); });
  Guarded([] { throw std::runtime_error("plain"); });
  Guarded([&] { after = true; });
  EXPECT_TRUE(after);
  ASSERT_EQ(capture.Texts.size(), 2u);
  EXPECT_EQ(capture.Texts[0], "Erreur de flux 2");
  EXPECT_EQ(capture.Texts[1], "plain");
}

TEST(Tick, TestClockReplacesTheCounterAndDifferencesWrap) {
  uint32_t real = GetTickCount();
  EXPECT_NE(real, 0u);
  {
    TTestClock clock(0xFFFFFF00u);
    EXPECT_EQ(GetTickCount(), 0xFFFFFF00u);
    clock.Advance(0x200);
    EXPECT_EQ(GetTickCount(), 0x100u);
    EXPECT_EQ(GetTickCount() - 0xFFFFFF00u, 0x200u);
  }
  EXPECT_GE(GetTickCount() - real, 0u);
  EXPECT_LT(GetTickCount() - real, 60000u);
}
