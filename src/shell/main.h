// The start of the game: the socket library, the display mode from the
// command line, and the main menu window that chooses between hosting and
// joining.  Closing the main window ends the application and restores the
// display mode.
#pragma once

#include <QIcon>
#include <QWidget>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class TFrmMain : public QWidget {
  Q_OBJECT
 public:
  TFrmMain();

  QPlainTextEdit* Memo1;
  QLabel* Label1;
  QPushButton* Button1;
  QPushButton* Button2;
  // The host window's tool-bar images: 0 quit, 1 local, 2 properties, 3 remove.
  std::vector<QIcon> ImageList1;

  void Button1Click();
  void Button2Click();
};

// Makes the close of main end the process, and nothing else: no box and no
// other window that closes.
void EndProcessWithMainWindow(TFrmMain& main);

// Ends a host window still there once the event loop has ended (a signal,
// the main window closed): its host ends in order, so the router forgets
// the ports it opened before the process goes.
void EndHostWindow();

// Runs the whole game for these command-line arguments; returns the exit code.
int RunGame(int argc, char** argv);
