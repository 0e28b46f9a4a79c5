#include "host/sim/JsonFields.h"

#include <cctype>
#include <cmath>
#include <cstddef>
#include <optional>

#include "host/sim/Platform.h"
#include "host/sim/Text.h"

namespace sim {

using nlohmann::json;

void FailField(const std::string &field, const std::string &message) { throw PlatformError(field + ": " + message); }

std::string FieldPath(const std::string &where, const std::string &name) {
  return where.empty() ? name : where + "." + name;
}

namespace {

// A JSON number other than plain digits is kept as its text in a binary
// value of this subtype; JSON text never holds a binary value, so nothing
// else looks like it.
constexpr std::uint64_t kNumberTextSubtype = 0x4E;  // 'N'

json NumberText(const std::string &text) {
  return json::binary(json::binary_t::container_type(text.begin(), text.end()), kNumberTextSubtype);
}

bool IsNumberText(const json &value) {
  return value.is_binary() && value.get_binary().has_subtype() && value.get_binary().subtype() == kNumberTextSubtype;
}

// A number in JSON's notation, as 0.DIGITS x 10^pointAt: digits without
// leading or trailing zeros (none for zero). An exponent too large to
// matter is held at a bound that keeps the arithmetic in range.
struct DecimalNumber {
  bool minus = false;
  std::string digits;
  int64_t pointAt = 0;
};

constexpr int64_t kExponentBound = int64_t{1} << 40;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The length of the JSON number at the start of text (-?(0|[1-9]\d*)(\.\d+)?([eE][+-]?\d+)?),
// the grammar the parser reads; 0 when none starts there.
size_t JsonNumberLength(const char *text, size_t size) {
  size_t i = 0;
  if (i < size && text[i] == '-') {
    i++;
  }
  if (i < size && text[i] == '0') {
    i++;
  } else if (i < size && IsDigit(text[i])) {
    while (i < size && IsDigit(text[i])) {
      i++;
    }
  } else {
    return 0;
  }
  if (i < size && text[i] == '.') {
    if (i + 1 >= size || !IsDigit(text[i + 1])) {
      return 0;
    }
    for (i++; i < size && IsDigit(text[i]); i++) {
    }
  }
  if (i < size && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < size && (text[j] == '+' || text[j] == '-')) {
      j++;
    }
    if (j >= size || !IsDigit(text[j])) {
      return 0;
    }
    for (; j < size && IsDigit(text[j]); j++) {
    }
    i = j;
  }
  return i;
}

// Reads a whole text in JSON's number notation; false for anything else.
std::optional<DecimalNumber> ReadDecimal(const std::string &text) {
  if (text.empty() || JsonNumberLength(text.data(), text.size()) != text.size()) {
    return std::nullopt;
  }
  DecimalNumber number;
  size_t i = 0;
  number.minus = text[i] == '-';
  i += number.minus ? 1 : 0;
  std::string digits;
  int64_t pointAt = 0;
  for (; i < text.size() && IsDigit(text[i]); i++) {
    digits += text[i];
    pointAt++;
  }
  if (i < text.size() && text[i] == '.') {
    for (i++; i < text.size() && IsDigit(text[i]); i++) {
      digits += text[i];
    }
  }
  if (i < text.size()) {  // the exponent
    i++;
    const bool negative = text[i] == '-';
    i += text[i] == '-' || text[i] == '+' ? 1 : 0;
    int64_t exponent = 0;
    for (; i < text.size(); i++) {
      exponent = std::min(exponent * 10 + (text[i] - '0'), kExponentBound);
    }
    pointAt += negative ? -exponent : exponent;
  }
  const size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) {
    return number;  // zero
  }
  number.digits = digits.substr(first, digits.find_last_not_of('0') + 1 - first);
  number.pointAt = pointAt - static_cast<int64_t>(first);
  return number;
}

// The whole part of a non-negative number, and whether a fraction follows
// it; nullopt when the whole part exceeds 64 bits.
struct WholePart {
  uint64_t value;
  bool fraction;
};

std::optional<WholePart> WholePartOf(const DecimalNumber &number) {
  if (number.pointAt <= 0) {
    return WholePart{0, !number.digits.empty()};
  }
  if (number.pointAt > 20) {
    return std::nullopt;
  }
  uint64_t value = 0;
  for (int64_t i = 0; i < number.pointAt; i++) {
    const auto at = static_cast<size_t>(i);
    const uint64_t digit = at < number.digits.size() ? static_cast<uint64_t>(number.digits[at] - '0') : 0;
    if (value > (UINT64_MAX - digit) / 10) {
      return std::nullopt;
    }
    value = value * 10 + digit;
  }
  return WholePart{value, static_cast<int64_t>(number.digits.size()) > number.pointAt};
}

// Numbers of 10^308 and more, which the parser cannot hold (it reads
// numbers with a fraction or an exponent as doubles), replaced by a number
// just as far out of every field's range with the same sign, padded with
// spaces to the same length so that every position stays where it was.
// Outside texts in quotes, in JSON that is valid up to there, a minus sign
// or a digit starts a number; a number is replaced only where JSON's
// grammar reads it so.
std::string BoundHugeNumbers(const std::string &text) {
  std::string bounded;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '"') {
      for (i++; i < text.size() && text[i] != '"'; i++) {
        i += text[i] == '\\' ? 1 : 0;
      }
      i++;
      continue;
    }
    if (c != '-' && !IsDigit(c)) {
      i++;
      continue;
    }
    const size_t length = JsonNumberLength(text.data() + i, text.size() - i);
    if (length == 0) {
      break;  // the parser stops here
    }
    const std::optional<DecimalNumber> number = ReadDecimal(text.substr(i, length));
    if (number && number->pointAt > 308) {
      if (bounded.empty()) {
        bounded = text;
      }
      std::string replacement = number->minus ? "-1e300" : "1e300";
      replacement.resize(length, ' ');
      bounded.replace(i, length, replacement);
    }
    i += length;
  }
  return bounded.empty() ? text : bounded;
}

// "line 3, column 9" of the byte before OFFSET (the parser's count of bytes
// read), or of the end of the text.
std::string PositionOf(const std::string &text, size_t offset) {
  const size_t at = std::min(offset == 0 ? 0 : offset - 1, text.size());
  size_t line = 1;
  size_t lineStart = 0;
  for (size_t i = 0; i < at; i++) {
    if (text[i] == '\n') {
      line++;
      lineStart = i + 1;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(at - lineStart + 1);
}

// What the parser found, in our words. Its own message quotes the bytes it
// last read (after "; last read:"); only what comes before is looked at.
// atZeroByte: it stopped at a zero byte.
std::string ReasonOf(const std::string &parserMessage, bool atZeroByte) {
  const std::string message = parserMessage.substr(0, parserMessage.find("; last read:"));
  auto has = [&](const char *part) { return message.find(part) != std::string::npos; };
  if (has("missing closing quote")) {
    return "a text in quotes is not closed";
  }
  if (has("control character")) {
    return "a control character in a text in quotes (write it as an escape)";
  }
  if (has("ill-formed UTF-8")) {
    return "a text in quotes is not UTF-8";
  }
  if (has("invalid string")) {
    return "a backslash escape that JSON does not have";
  }
  if (has("invalid number")) {
    return "a number that is cut short";
  }
  if (has("invalid literal")) {
    return "no JSON value starts here (outside quotes only numbers, true, false and null)";
  }
  if (has("invalid BOM")) {
    return "a byte order mark that is cut short";
  }
  if (has("unexpected end of input")) {
    return atZeroByte ? "a zero byte outside quotes" : "the document ends too early";
  }
  if (has("expected end of input")) {
    return "more follows the end of the document";
  }
  return "a value, comma, colon or bracket out of place";
}

// Builds the document as the parser reads it, keeping numbers as described
// at ParseJsonDocument, and refuses a key that appears twice in one object,
// naming it with its path ("variables[0].name").
class DocumentBuilder {
 public:
  explicit DocumentBuilder(const std::string &text) : text_(text) {}

  json Take() { return std::move(root_); }

  bool null() { return Put(nullptr); }
  bool boolean(bool value) { return Put(value); }
  bool number_unsigned(json::number_unsigned_t value) { return Put(value); }
  // Only a number written with a minus sign and no fraction or exponent
  // comes here; -0 is read as 0.
  bool number_integer(json::number_integer_t value) {
    return Put(NumberText(value == 0 ? "-0" : std::to_string(value)));
  }
  bool number_float(json::number_float_t /*value*/, const std::string &text) { return Put(NumberText(text)); }
  bool string(std::string &value) { return Put(std::move(value)); }
  bool binary(json::binary_t &value) { return Put(json(std::move(value))); }

  bool start_object(std::size_t /*size*/) {
    json *object = Place(json::object());
    frames_.push_back({object, false, 0, {}, {}});
    return true;
  }
  bool key(std::string &key) {
    Frame &frame = frames_.back();
    frame.key = key;
    if (!frame.keys.insert(key).second) {
      throw PlatformError(Path() + ": the key appears twice in its object");
    }
    return true;
  }
  bool end_object() { return End(); }
  bool start_array(std::size_t /*size*/) {
    json *array = Place(json::array());
    frames_.push_back({array, true, 0, {}, {}});
    return true;
  }
  bool end_array() { return End(); }

  bool parse_error(std::size_t position, const std::string & /*lastRead*/, const nlohmann::detail::exception &error) {
    if (error.id == 406) {
      // A number too large for a double: BoundHugeNumbers replaces every
      // one the parser can meet, so this is only a safeguard.
      FailField(Path().empty() ? "platform" : Path(), "out of range");
    }
    if (text_.find_first_not_of(" \t\r\n") == std::string::npos) {
      throw PlatformError("not valid JSON: empty (or only white space)");
    }
    // The parser takes a zero byte outside quotes for the end of the input.
    const bool zero = position > 0 && position <= text_.size() && text_[position - 1] == '\0';
    throw PlatformError(PositionOf(text_, position) + ": not valid JSON: " + ReasonOf(error.what(), zero));
  }

 private:
  struct Frame {
    json *value;
    bool array;
    size_t index;  // of the element being read, in an array
    std::set<std::string> keys;
    std::string key;  // being read, in an object
  };

  // Stores a value where the document is being read: the root, the end of
  // an array or the member whose key was just read.
  json *Place(json value) {
    if (frames_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Frame &frame = frames_.back();
    if (frame.array) {
      frame.value->push_back(std::move(value));
      return &frame.value->back();
    }
    json &member = (*frame.value)[frame.key];
    member = std::move(value);
    return &member;
  }

  bool Put(json value) {
    Place(std::move(value));
    ElementDone();
    return true;
  }

  bool End() {
    frames_.pop_back();
    ElementDone();
    return true;
  }

  void ElementDone() {
    if (!frames_.empty() && frames_.back().array) {
      frames_.back().index++;
    }
  }

  std::string Path() const {
    std::string path;
    for (const Frame &frame : frames_) {
      path += frame.array ? "[" + std::to_string(frame.index) + "]" : (path.empty() ? "" : ".") + frame.key;
    }
    return path;
  }

  const std::string &text_;
  json root_;
  std::vector<Frame> frames_;
};

}  // namespace

json ParseJsonDocument(const std::string &text) {
  const std::string bounded = BoundHugeNumbers(text);
  DocumentBuilder builder(bounded);
  json::sax_parse(bounded, &builder, json::input_format_t::json, true, false);
  // The parser stops at a zero byte outside quotes as at the end of the
  // input; one after the document is more text after its end.
  if (const size_t zero = bounded.find('\0'); zero != std::string::npos) {
    throw PlatformError(PositionOf(bounded, zero + 1) + ": not valid JSON: more follows the end of the document");
  }
  return builder.Take();
}

void CheckFields(const json &object, const std::string &where, const std::set<std::string> &allowed) {
  if (!object.is_object()) {
    FailField(where.empty() ? "platform" : where, "must be an object");
  }
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (allowed.count(it.key()) == 0) {
      FailField(FieldPath(where, it.key()), "unknown field");
    }
  }
}

bool ParseUnsignedText(const std::string &text, uint64_t max, uint64_t &value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const uint64_t base = hex ? 16 : 10;
  const size_t first = hex ? 2 : 0;
  if (text.size() == first) {
    return false;
  }
  uint64_t result = 0;
  for (size_t i = first; i < text.size(); i++) {
    const char c = text[i];
    uint64_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint64_t>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<uint64_t>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<uint64_t>(c - 'A' + 10);
    } else {
      return false;
    }
    if (result > (max - digit) / base) {
      return false;
    }
    result = result * base + digit;
  }
  value = result;
  return true;
}

namespace {

[[noreturn]] void FailRange(const std::string &field, uint64_t max) {
  FailField(field, "out of range (at most " + Hex(max) + ")");
}

[[noreturn]] void FailNotNumber(const std::string &field) {
  FailField(field, "must be a number or a numeric text");
}

}  // namespace

uint64_t ReadUnsignedField(const json &value, const std::string &field, uint64_t max) {
  if (value.is_number_unsigned()) {
    const uint64_t result = value.get<uint64_t>();
    if (result > max) {
      FailRange(field, max);
    }
    return result;
  }
  if (IsNumberText(value)) {
    const json::binary_t &bytes = value.get_binary();
    const std::optional<DecimalNumber> number = ReadDecimal(std::string(bytes.begin(), bytes.end()));
    if (!number) {
      FailNotNumber(field);
    }
    if (number->minus) {
      FailField(field, "must not be negative");
    }
    const std::optional<WholePart> whole = WholePartOf(*number);
    if (!whole || whole->value > max || (whole->value == max && whole->fraction)) {
      FailRange(field, max);
    }
    if (whole->fraction) {
      FailField(field, "must be a whole number");
    }
    return whole->value;
  }
  // Documents built otherwise than by ParseJsonDocument: signed numbers
  // and doubles.
  if (value.is_number_integer()) {
    FailField(field, "must not be negative");
  }
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (std::signbit(number)) {
      FailField(field, "must not be negative");
    }
    if (number != number || number >= 18446744073709551616.0 || number > static_cast<double>(max)) {
      FailRange(field, max);
    }
    const auto result = static_cast<uint64_t>(number);
    if (static_cast<double>(result) != number) {
      FailField(field, "must be a whole number");
    }
    if (result > max) {
      FailRange(field, max);
    }
    return result;
  }
  if (value.is_string()) {
    const std::string text = value.get<std::string>();
    uint64_t result = 0;
    if (!ParseUnsignedText(text, UINT64_MAX, result)) {
      FailField(field, "not a number: \"" + text + "\"");
    }
    if (result > max) {
      FailRange(field, max);
    }
    return result;
  }
  FailNotNumber(field);
}

bool ReadBoolField(const json &value, const std::string &field) {
  if (!value.is_boolean()) {
    FailField(field, "must be true or false");
  }
  return value.get<bool>();
}

std::vector<uint8_t> ReadHexBytesField(const json &value, const std::string &field) {
  if (!value.is_string()) {
    FailField(field, "must be a text of hex byte pairs");
  }
  std::string digits;
  for (char c : value.get<std::string>()) {
    if (c == ' ' || c == ':' || c == '-') {
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      FailField(field, std::string("not a hex digit: '") + c + "'");
    }
    digits += c;
  }
  if (digits.size() % 2 != 0) {
    FailField(field, "odd number of hex digits");
  }
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace sim
