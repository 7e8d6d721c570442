#include "ShellSupport.h"

#include <QDir>
#include <QPixmap>

void SaveScreenshot(QWidget& window, const std::string& name) {
  QDir().mkpath(SCREENSHOT_DIR);
  window.grab().save(QString(SCREENSHOT_DIR) + "/" + QString::fromStdString(name) + ".png");
}

TCurrentFolder::TCurrentFolder(const char* folder) : FPrevious(QDir::currentPath()) {
  QDir::setCurrent(QString::fromUtf8(folder));
}

TCurrentFolder::~TCurrentFolder() { QDir::setCurrent(FPrevious); }
