#include "platform/Messages.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <cstdio>

#include "platform/MessageTarget.h"
#include "platform/Text1252.h"

namespace {
TMessageHook& Hook() {
  static TMessageHook hook;
  return hook;
}

// Room for the caption's icon and buttons beside the title, in pixels.
constexpr int CaptionButtonsWidth = 160;

bool& Echo() {
  static bool echo = false;
  return echo;
}

bool HasScreen() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  return app && QGuiApplication::platformName() != "offscreen" &&
         QGuiApplication::platformName() != "minimal";
}
}  // namespace

void ShowMessage(const std::string& text) {
  TBoxScope box;
  if (!box.Allowed()) {
    // Not a box over a box of the same window: the text goes where a
    // headless process writes it.
    WriteStandardError(text);
    return;
  }
  if (Echo()) WriteStandardError(text);
  if (Hook()) {
    Hook()(text);
    return;
  }
  if (HasScreen()) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(ApplicationTitle), ToQString(text),
                    QMessageBox::Ok);
    FitTitle(box);
    box.exec();
    return;
  }
  WriteStandardError(text);
}

void WriteStandardError(const std::string& text) {
  std::fprintf(stderr, "%s\n", ToQString(text).toLocal8Bit().constData());
  std::fflush(stderr);
}

void FitTitle(QMessageBox& box) {
  // The caption's font is the window manager's; the title bar font Qt
  // knows of stands for it.
  const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
  const int width = metrics.horizontalAdvance(box.windowTitle()) + CaptionButtonsWidth;
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (!grid) return;
  // QMessageBox sizes itself in its layout: a spacer as wide as needed,
  // under everything, is what holds it open.
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                grid->columnCount());
}

void EchoMessagesOnStandardError(bool on) { Echo() = on; }

TMessageHook SetMessageHook(TMessageHook hook) {
  TMessageHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

TMessageCapture::TMessageCapture() {
  FPrevious = SetMessageHook([this](const std::string& text) { Texts.push_back(text); });
}

TMessageCapture::~TMessageCapture() { SetMessageHook(std::move(FPrevious)); }
