#pragma once
// Text typed into an edit, kept as the UTF-8 bytes of a fixed-size record field. Any thread.

#include <QString>

#include <cstddef>
#include <string>

#include "foundation/utf8_bytes.h"

namespace ecr {

// The UTF-8 bytes of text, cut to at most capacity bytes. A character that would not fit
// whole is left out with all after it, so the result never ends in a split character.
inline std::string CutToUtf8Bytes(const QString& text, std::size_t capacity) {
  return CutUtf8ToBytes(text.toStdString(), capacity);
}

}  // namespace ecr
