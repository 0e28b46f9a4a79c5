// The debug print service's formatting of a message, as the platform's
// service formats it, reading what the driver hands it no further than the
// memory that holds it.
#include <cstdio>
#include <cstring>

#include "host/sim/EfiValues.h"
#include "host/sim/SimDebugPrint.h"

namespace sim {

namespace {

std::string Unended(const ReadLimit &limit) { return "<no NUL before the end of " + limit.where + ">"; }

// The length of a text of `unit`-byte characters within limit.bytes, or
// nothing when no zero character ends it there.
std::optional<size_t> BoundedLength(const void *text, size_t unit, const ReadLimit &limit) {
  const auto *bytes = static_cast<const uint8_t *>(text);
  for (size_t at = 0; at + unit <= limit.bytes; at += unit) {
    bool zero = true;
    for (size_t i = 0; i < unit; i++) {
      zero = zero && bytes[at + i] == 0;
    }
    if (zero) {
      return at / unit;
    }
  }
  return std::nullopt;
}

// An 8-bit text read within limit; *unended set to the marker when it does
// not end there.
std::string ReadText(const CHAR8 *text, const ReadLimit &limit, std::string *unended) {
  const std::optional<size_t> length = BoundedLength(text, 1, limit);
  if (length) {
    return std::string(text, *length);
  }
  *unended = Unended(limit);
  return std::string(text, limit.bytes);
}

}  // namespace

std::string BoundedText(const CHAR8 *text, const ReadLimit &limit) {
  std::string unended;
  std::string shown = ReadText(text, limit, &unended);
  return shown + unended;
}

std::string EFIAPI FormatDebugMessage(const CHAR8 *format, VA_LIST marker,
                                      const std::function<ReadLimit(const void *)> &limitAt) {
  std::string out;
  if (format == nullptr) {
    return out;
  }
  // The format as far as it may be read; one without its zero is formatted
  // up to there and the message ends with the marker.
  const ReadLimit formatLimit = limitAt(format);
  const std::optional<size_t> formatLength = BoundedLength(format, 1, formatLimit);
  const std::string bounded(format, formatLength ? *formatLength : formatLimit.bytes);
  for (const char *p = bounded.c_str(); *p != 0; p++) {
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
    std::string unended;  // the marker after a text without its zero, kept from the precision
    std::string sign;
    bool numeric = false;
    char digits[32];
    switch (*p) {
      case 'a': {
        const char *text = VA_ARG(marker, const char *);
        field = text != nullptr ? ReadText(text, limitAt(text), &unended) : "<null string>";
        break;
      }
      case 's':
      case 'S': {
        const char16_t *text = VA_ARG(marker, const char16_t *);
        if (text == nullptr) {
          field = "<null string>";
        } else {
          const ReadLimit limit = limitAt(text);
          const std::optional<size_t> length = BoundedLength(text, sizeof(char16_t), limit);
          const size_t count = length ? *length : limit.bytes / sizeof(char16_t);
          for (size_t i = 0; i < count; i++) {
            char16_t unit;
            std::memcpy(&unit, reinterpret_cast<const uint8_t *>(text) + i * sizeof(unit), sizeof(unit));
            field += unit < 0x80 ? static_cast<char>(unit) : '?';
          }
          if (!length) {
            unended = Unended(limit);
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
        if (guid == nullptr) {
          field = "<null guid>";
        } else if (const ReadLimit limit = limitAt(guid); limit.bytes < sizeof(EFI_GUID)) {
          field = "<GUID past the end of " + limit.where + ">";
        } else {
          EFI_GUID copy;
          std::memcpy(&copy, guid, sizeof(copy));
          field = GuidToString(copy);
        }
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
    field += unended;
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
  if (!formatLength) {
    out += Unended(formatLimit);
  }
  return out;
}

}  // namespace sim
