// What the three start windows share: fixed client size centred on the
// desktop, Arial bold 12 pixels, controls placed at fixed positions.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QLabel;

// Fixes the client area and the font, and centres the window on its screen.
void SetFixedDialog(QWidget& window, int clientWidth, int clientHeight);

// A label at a fixed place; long texts wrap inside the given width.
QLabel* PlaceLabel(QWidget& parent, const std::string& text, int x, int y, int width, int height = 18);

// Places any control at a fixed rectangle.
void Place(QWidget& control, int x, int y, int width, int height);

class QLineEdit;

// Typing in the box accepts only the digits 0 to 9 and control keys; every
// other character is dropped.
void AcceptDigitsOnly(QLineEdit& box);

// Runs a button's work through the error guard, so that its errors reach
// the error box.
class QPushButton;
void OnClick(QPushButton& button, std::function<void()> work);
