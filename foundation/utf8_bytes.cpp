#include "foundation/utf8_bytes.h"

namespace ecr {

std::string CutUtf8ToBytes(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t end = maxBytes;
  // The byte after the cut continues a character: step back to where that character begins.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

}  // namespace ecr
