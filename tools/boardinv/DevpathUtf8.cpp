// UTF-8 to UCS-2 for the devpath command: device-path texts arrive as
// UTF-8 and the converter reads UCS-2.
#include "tools/boardinv/Devpath.h"

#include <cstdio>

namespace boardinv::devpath {

std::optional<std::u16string> Utf8ToUcs2(const std::string &text, std::string &problem) {
  std::u16string out;
  out.reserve(text.size());
  std::string notUcs2;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
      problem = "is not valid UTF-8";
      return std::nullopt;
    }
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; k++) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        problem = "is not valid UTF-8";
        return std::nullopt;
      }
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      problem = "is not valid UTF-8";
      return std::nullopt;
    }
    if (code > 0xFFFF && notUcs2.empty()) {
      char hex[16];
      std::snprintf(hex, sizeof(hex), "U+%04X", static_cast<unsigned>(code));
      notUcs2 = std::string("holds the character ") + hex + ", which UCS-2 cannot represent";
    }
    if (code == 0 && notUcs2.empty()) {
      notUcs2 = "holds a NUL character, which would end the text";
    }
    out.push_back(static_cast<char16_t>(code));
    i += length;
  }
  if (!notUcs2.empty()) {
    problem = notUcs2;
    return std::nullopt;
  }
  return out;
}

}  // namespace boardinv::devpath
