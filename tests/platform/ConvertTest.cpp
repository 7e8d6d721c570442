// The integer conversion behind the port boxes and the display-mode
// arguments, and the display-mode decision taken from the command line.
#include <gtest/gtest.h>

#include "platform/Convert.h"
#include "platform/DisplayMode.h"
#include "platform/Errors.h"

TEST(Convert, AcceptsWhatTheDialogsAcceptAndNamesTheTextOtherwise) {
  EXPECT_EQ(StrToInt("65535"), 65535);
  EXPECT_EQ(StrToInt("-1"), -1);
  EXPECT_EQ(StrToInt("  42"), 42);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "x", "800x", "12 ", "2147483648", "-", "$"}) {
    EXPECT_FALSE(TryStrToInt(bad).has_value()) << bad;
  }
  try {
    StrToInt("");
    FAIL() << "an empty box must not convert";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "'' is not a valid integer value");
  }
}

namespace {
// Records what the launch asks of the display.
class TFakeDisplay : public TDisplaySettings {
 public:
  std::vector<TDisplayMode> Changes;
  int Restores = 0;
  void Change(const TDisplayMode& mode) override { Changes.push_back(mode); }
  void Restore() override { ++Restores; }
};

TFakeDisplay Launch(std::vector<std::string> arguments) {
  TFakeDisplay display;
  { TDisplayModeScope scope(display, arguments); }
  return display;
}
}  // namespace

TEST(DisplayMode, ArgumentsDecideTheModeAndTheRestoreAlwaysHappens) {
  EXPECT_TRUE(Launch({}).Changes.empty());
  EXPECT_TRUE(Launch({"800"}).Changes.empty());
  EXPECT_TRUE(Launch({"800", "x"}).Changes.empty());
  EXPECT_TRUE(Launch({"800", "600", "x"}).Changes.empty());
  EXPECT_TRUE(Launch({"debug"}).Changes.empty());
  EXPECT_EQ(Launch({"800", "600"}).Changes, (std::vector<TDisplayMode>{{800, 600, 32}}));
  EXPECT_EQ(Launch({"800", "600", "16"}).Changes, (std::vector<TDisplayMode>{{800, 600, 16}}));
  for (auto args : std::vector<std::vector<std::string>>{{}, {"800", "x"}, {"800", "600", "16"}})
    EXPECT_EQ(Launch(args).Restores, 1);
}

TEST(DisplayMode, RestoreHappensWhenTheGameEndsByAnError) {
  TFakeDisplay display;
  try {
    TDisplayModeScope scope(display, {"1024", "768"});
    throw Exception("Erreur de flux 2");
  } catch (const Exception&) {
  }
  ASSERT_EQ(display.Changes.size(), 1u);
  EXPECT_EQ(display.Restores, 1);
}
