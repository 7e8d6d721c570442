// Message boxes.  ShowMessage shows a plain box while a QApplication with a
// screen exists; a headless process writes the text on standard error.
// Tests install a hook that receives every text instead.  A window has at
// most one box open at a time (TBoxScope): a text raised for it while its
// box is open goes to standard error.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The application's title: the title of every box and the tip of the
// notification-area icon.
inline constexpr const char* ApplicationTitle = "VAROzuvod";

// Shows the Windows-1252 text to the user and returns once it is dismissed.
void ShowMessage(const std::string& text);

// Writes the Windows-1252 text as one line on standard error, in the
// terminal's encoding: what a headless process shows instead of a box.
void WriteStandardError(const std::string& text);

// When on, every text shown in a box is also written on standard error, so
// that a process started from a terminal leaves its failures there (off at
// start).
void EchoMessagesOnStandardError(bool on);

class QMessageBox;
// Widens the box so that its title reads whole on its caption: at least the
// title's width in the caption's font plus room for the caption's buttons.
void FitTitle(QMessageBox& box);

// Replaces the box by a function that receives each text (tests); an empty
// function restores the normal box.  Returns the previous hook.
using TMessageHook = std::function<void(const std::string&)>;
TMessageHook SetMessageHook(TMessageHook hook);

// Collects every text shown while it lives (tests).
class TMessageCapture {
 public:
  TMessageCapture();
  ~TMessageCapture();
  TMessageCapture(const TMessageCapture&) = delete;
  TMessageCapture& operator=(const TMessageCapture&) = delete;

  std::vector<std::string> Texts;

 private:
  TMessageHook FPrevious;
};
