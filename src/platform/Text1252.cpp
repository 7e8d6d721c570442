#include "platform/Text1252.h"

#include <QString>

QString ToQString(const std::string& text) {
  QString result;
  result.reserve(static_cast<qsizetype>(text.size()));
  for (unsigned char byte : text) result.append(QChar(static_cast<char16_t>(cp1252::ToUnicode(byte))));
  return result;
}

std::string FromQString(const QString& text) {
  std::string result;
  result.reserve(static_cast<std::size_t>(text.size()));
  for (QChar c : text) {
    int byte = cp1252::FromUnicode(c.unicode());
    result.push_back(byte < 0 ? '?' : static_cast<char>(byte));
  }
  return result;
}

std::string ToUtf8(const std::string& text) { return ToQString(text).toStdString(); }
