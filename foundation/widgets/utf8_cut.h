#pragma once
// Text typed into an edit, kept as the UTF-8 bytes of a fixed-size record field. Any thread.

#include <QString>

#include <cstddef>
#include <string>

namespace ecr {

// The UTF-8 bytes of text, cut to at most capacity bytes. A character that would not fit
// whole is left out with all after it, so the result never ends in a split character.
inline std::string CutToUtf8Bytes(const QString& text, std::size_t capacity) {
  std::string cut;
  for (const QChar* c = text.constBegin(); c != text.constEnd(); ++c) {
    const int units = c->isHighSurrogate() && c + 1 != text.constEnd() ? 2 : 1;
    const std::string bytes = QString(c, units).toStdString();
    if (cut.size() + bytes.size() > capacity) break;
    cut += bytes;
    c += units - 1;
  }
  return cut;
}

}  // namespace ecr
