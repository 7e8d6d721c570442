// The screens as the player meets them: a client window (640 by 480,
// normal frame) over the files of TGameFiles, connected to a raw host and
// welcomed as "me" with number LocalId, its context made, on a fake tick
// clock.  Frames are drawn on demand with the context current and read back
// from the back buffer before anything can swap it; mouse input goes to the
// window as Qt events, the way the platform delivers it.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QPoint>
#include <QPointer>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "GLFixture.h"
#include "GameWindowDataSupport.h"
#include "client/ClientForm.h"
#include "platform/Tick.h"
#include "support/RawPeers.h"

class TGameWindow;
class TIntroWindow;
class TZULPlayer;

class ScreensTest : public ::testing::Test {
 protected:
  static constexpr int FrameWidth = 640;   // pixels
  static constexpr int FrameHeight = 480;  // pixels
  static constexpr int32_t LocalId = 7;

  void SetUp() override;
  void TearDown() override;
  // Screenshots are made with the game's own data where the build has made
  // it (the run folder of the build), with the small files otherwise.
  virtual bool WithGameData() const { return false; }

  TIntroWindow& Intro() const;
  TGameWindow& Game() const;
  TZULPlayer& Local() const;

  // Draws one frame of the current screen as the window does, up to the
  // moment before its buffers would be swapped.
  void Paint();
  // The pixel at client (x, y), counted from the top left.
  TRGBA PixelAt(int x, int y) const;
  // The whole frame as a picture, top row first.
  QImage Frame() const;
  // Saves the frame as a PNG in the folder the test was started in.
  void SaveScreenshot(const std::string& name) const;
  // The client pixel a world point shows at through the in-game camera.
  QPoint ScreenOf(float x, float y, float z) const;

  // Mouse events as the platform sends them.
  void MouseMove(int x, int y);
  void Press(int x, int y);
  void Release(int x, int y);
  void Click(int x, int y) {
    Press(x, y);
    Release(x, y);
  }

  // The host's frames.
  // 8: the host places a player on a cell.
  void Place(int32_t id, int32_t x, int32_t y, int32_t direction = 0);
  // 4: a player already present, standing on (x, y).
  void Arrive(int32_t id, const std::string& name, int32_t x, int32_t y);
  // Waits until the connection has read what the host sent so far: the
  // host says a line as the local player and waits for it in the panel.
  void Settle();
  // Whatever the client sends within ms.
  std::vector<TRawFrame> SentWithin(int ms = 200) { return Host.FramesWithin(ms); }
  // Waits until the window is destroyed.
  bool Gone();

  TTestClock Clock;
  TGameFiles Files;
  TRawHost Host;
  QPointer<TFrmClient> Window;

 private:
  int FSettled = 0;
};

// The pixels of a text drawn in pure green or red on black by the shared
// font, as a mask over a rectangle of the frame: which pixels are of the
// colour.  Masks of the same rectangle compare equal when the same text was
// drawn at the same place.
struct TTextMask {
  std::vector<bool> Bits;
  int Count = 0;
  friend bool operator==(const TTextMask&, const TTextMask&) = default;
};
enum class TTextColour { Green, Red };
TTextMask MaskOf(const QImage& frame, const QRect& area, TTextColour colour);
// A frame of the current viewport that holds only the texts drawn by TextOut.
QImage TextFrame(TGLFont& font, TTextColour colour, const std::vector<std::pair<QPoint, std::string>>& texts);
