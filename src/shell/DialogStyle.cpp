#include "shell/DialogStyle.h"

#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "platform/Errors.h"
#include "platform/Text1252.h"

void SetFixedDialog(QWidget& window, int clientWidth, int clientHeight) {
  QFont font("Arial");
  font.setBold(true);
  font.setPixelSize(12);
  window.setFont(font);
  window.setFixedSize(clientWidth, clientHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect desk = screen->availableGeometry();
    window.move(desk.center() - QPoint(clientWidth / 2, clientHeight / 2));
  }
}

QLabel* PlaceLabel(QWidget& parent, const std::string& text, int x, int y, int width, int height) {
  auto* label = new QLabel(ToQString(text), &parent);
  label->setWordWrap(height > 18);
  label->setGeometry(x, y, width, height);
  return label;
}

void Place(QWidget& control, int x, int y, int width, int height) {
  control.setGeometry(x, y, width, height);
}

namespace {
class TDigitsOnly : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      QString text = static_cast<QKeyEvent*>(event)->text();
      if (!text.isEmpty() && text[0].unicode() >= 32 && !(text[0] >= '0' && text[0] <= '9')) return true;
    }
    return QObject::eventFilter(watched, event);
  }
};
}  // namespace

void AcceptDigitsOnly(QLineEdit& box) { box.installEventFilter(new TDigitsOnly(&box)); }

void OnClick(QPushButton& button, std::function<void()> work) {
  QObject::connect(&button, &QPushButton::clicked, &button, [work = std::move(work)] { Guarded(work); });
}
