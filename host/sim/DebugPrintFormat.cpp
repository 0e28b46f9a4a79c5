// The debug print service's formatting of a message, as the platform's
// service formats it.
#include <cstdio>

#include "host/sim/EfiValues.h"
#include "host/sim/SimDebugPrint.h"

namespace sim {

std::string EFIAPI FormatDebugMessage(const CHAR8 *format, VA_LIST marker) {
  std::string out;
  if (format == nullptr) {
    return out;
  }
  for (const char *p = format; *p != 0; p++) {
    if (*p != '%') {
      out += *p;
      continue;
    }
    const char *start = p++;
    bool left = false, zero = false, plus = false, space = false, wide = false;
    for (;; p++) {
      if (*p == '-') {
        left = true;
      } else if (*p == '0') {
        zero = true;
      } else if (*p == '+') {
        plus = true;
      } else if (*p == ' ') {
        space = true;
      } else if (*p != ',') {
        break;
      }
    }
    int width = 0;
    if (*p == '*') {
      width = VA_ARG(marker, int);
      p++;
    } else {
      while (*p >= '0' && *p <= '9') {
        width = width * 10 + (*p++ - '0');
      }
    }
    int precision = -1;
    if (*p == '.') {
      p++;
      precision = 0;
      if (*p == '*') {
        precision = VA_ARG(marker, int);
        p++;
      } else {
        while (*p >= '0' && *p <= '9') {
          precision = precision * 10 + (*p++ - '0');
        }
      }
    }
    while (*p == 'l' || *p == 'L') {
      wide = true;
      p++;
    }
    if (*p == 0) {
      out += start;
      break;
    }
    std::string field;
    std::string sign;
    bool numeric = false;
    char digits[32];
    switch (*p) {
      case 'a': {
        const char *text = VA_ARG(marker, const char *);
        field = text != nullptr ? text : "<null string>";
        break;
      }
      case 's':
      case 'S': {
        const char16_t *text = VA_ARG(marker, const char16_t *);
        if (text == nullptr) {
          field = "<null string>";
        } else {
          for (; *text != 0; text++) {
            field += *text < 0x80 ? static_cast<char>(*text) : '?';
          }
        }
        break;
      }
      case 'c':
        field = std::string(1, static_cast<char>(VA_ARG(marker, int) & 0xFF));
        break;
      case 'd':
      case 'i': {
        const int64_t value = wide ? VA_ARG(marker, int64_t) : VA_ARG(marker, int32_t);
        const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        std::snprintf(digits, sizeof(digits), "%llu", static_cast<unsigned long long>(magnitude));
        field = digits;
        sign = value < 0 ? "-" : plus ? "+" : space ? " " : "";
        numeric = true;
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        const uint64_t value = wide ? VA_ARG(marker, uint64_t) : VA_ARG(marker, uint32_t);
        std::snprintf(digits, sizeof(digits), *p == 'u' ? "%llu" : *p == 'x' ? "%llx" : "%llX",
                      static_cast<unsigned long long>(value));
        field = digits;
        numeric = true;
        break;
      }
      case 'p': {
        const void *pointer = VA_ARG(marker, const void *);
        std::snprintf(digits, sizeof(digits), "%016llX",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
        field = digits;
        break;
      }
      case 'g': {
        const EFI_GUID *guid = VA_ARG(marker, const EFI_GUID *);
        field = guid != nullptr ? GuidToString(*guid) : "<null guid>";
        break;
      }
      case 'r':
        field = StatusText(VA_ARG(marker, UINT64));
        break;
      case '%':
        field = "%";
        break;
      default:
        // Not a conversion: shown as written, no argument taken.
        field.assign(start, p + 1);
        width = 0;
        break;
    }
    if (!numeric && precision >= 0 && static_cast<size_t>(precision) < field.size()) {
      field.resize(static_cast<size_t>(precision));
    }
    if (numeric && precision >= 0 && static_cast<size_t>(precision) > field.size()) {
      field.insert(0, static_cast<size_t>(precision) - field.size(), '0');
    }
    const size_t used = sign.size() + field.size();
    const size_t pad = width > 0 && static_cast<size_t>(width) > used ? static_cast<size_t>(width) - used : 0;
    if (left) {
      out += sign + field + std::string(pad, ' ');
    } else if (zero && numeric) {
      out += sign + std::string(pad, '0') + field;
    } else {
      out += std::string(pad, ' ') + sign + field;
    }
  }
  return out;
}

}  // namespace sim
