// A real message box under the display: wide enough that its title is not
// cut on its caption.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>

#include "platform/Messages.h"

namespace {

TEST(MessagesGui, ABoxIsAtLeastAsWideAsItsTitle) {
  for (const char* text : {"x", "Erreur de communication"}) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(ApplicationTitle), QString::fromLatin1(text),
                    QMessageBox::Ok);
    FitTitle(box);
    box.show();
    QApplication::processEvents();
    const int title =
        QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(box.windowTitle());
    EXPECT_GE(box.width(), title) << text;
    EXPECT_GE(box.width(), QFontMetrics(box.font()).horizontalAdvance(box.windowTitle()) * 2)
        << text << ": the title and the caption's buttons";
    box.hide();
  }
}

}  // namespace
