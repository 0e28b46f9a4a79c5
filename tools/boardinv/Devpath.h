// The devpath command's shared parts (internal to tools/boardinv): its
// options, the driver's converter it runs, and the pieces its modes share.
// The files of the command, one job each:
//   DevpathCommand.cpp     the options and the choice of mode
//   DevpathConverter.cpp   the driver's converter and text routines
//   DevpathUtf8.cpp        UTF-8 to UCS-2
//   DevpathHex.cpp         hex text to bytes
//   DevpathJson.cpp        nodes and paths as JSON
//   DevpathInput.cpp       input files, line by line, notes about one input
//   DevpathConvert.cpp     texts to binary paths (the default mode)
//   DevpathExplain.cpp     --explain
//   DevpathToText.cpp      --to-text
//   DevpathLoadOption.cpp  --load-option
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "driver/devpath/DevicePath.h"
#include "host/boot/Boot.h"
#include "host/devtext/DeviceText.h"
#include "host/harness/LinkedDriver.h"
#include "host/sim/SimFirmware.h"

namespace boardinv::devpath {

// The job ran and found a failure: an invalid path under --explain, a text
// that gave no path or could not be read as text.
constexpr int kExitFailure = 1;

// What --input (or standard input without TEXT) may hold: device-path
// texts, one per line.
constexpr size_t kTextInputLimit = size_t{16} << 20;
// What --explain --input may hold: the path as hex text, which for a path
// of the --binary limit (1 MiB) written "XX XX ..." takes 3 MiB.
constexpr size_t kHexTextLimit = size_t{4} << 20;
// What --load-option may hold: a UEFI variable (efivarfs attributes and
// data), which firmware keeps far smaller.
constexpr size_t kLoadOptionLimit = size_t{1} << 20;

struct DevpathOptions {
  std::vector<std::string> texts;
  bool node = false;
  std::string format = "text";
  bool explain = false;
  bool toText = false;
  std::string binaryFile;
  std::string loadOptionFile;
  std::string efiFile;
  std::string inputFile;
  // Whether each file option was given: an empty name is a name.
  bool efiGiven = false;
  bool binaryGiven = false;
  bool inputGiven = false;
  bool loadOptionGiven = false;
  bool Json() const { return format == "json"; }
};

using Bytes = std::vector<uint8_t>;

// UTF-8 to UCS-2. Returns an empty optional and says why when the text is
// not UTF-8 (anywhere in it: that reason comes first, so a text said to be
// UTF-8 is UTF-8 throughout), or else at the first character that UCS-2
// cannot hold (above U+FFFF) or that would end the text early (U+0000).
std::optional<std::u16string> Utf8ToUcs2(const std::string &text, std::string &problem);

// The Length of the node at offset, read by the driver's own reader; the
// node's header lies within the bytes.
uint16_t LengthAt(const Bytes &bytes, size_t offset);

// The keyword that made a node text's node: the driver's own keyword
// matching. Empty when no keyword claims it (the text names a file).
std::string KeywordOf(const std::u16string &nodeText);

// The node texts of a path text, cut by the driver's own routine, exactly
// where the converter cuts them; an unbalanced tail is dropped, as the
// converter drops it.
std::vector<std::u16string> NodeTexts(const std::u16string &text);

// The driver's converter, with a simulated firmware for its pool: the one
// linked into boardinv, or the one inside a shipped image (--efi).
class Converter {
 public:
  explicit Converter(const DevpathOptions &options);

  std::optional<Bytes> Convert(const std::u16string &text, bool node);

  // The size of the path in bytes when it is valid, 0 when it is not.
  uint64_t PathSize(const Bytes &bytes) const;

  // The walk over bytes that may not be a path, within their size.
  uint64_t PathSizeWithin(const Bytes &bytes, DEVICE_PATH_WALK *walk) const;

  // The formatter of binary paths as text, which checks every keyword form
  // with this converter's node conversion (the image's with --efi). Made
  // on first use.
  const devtext::Formatter &Formatter();

 private:
  sim::SimFirmware firmware_;
  host::LinkedDriver linkedDriver_;  // the linked-in converter's pool is firmware_'s
  host::DriverImagePtr image_;
  std::unique_ptr<host::ImageDevicePathFunctions> inImage_;
  std::unique_ptr<devtext::Formatter> formatter_;
};

// A node's keyword in JSON: null for end nodes and for a node without one
// (a file name, or no text).
nlohmann::json KeywordJson(uint8_t type, const std::string &keyword);

// The keyword of a node's own text (printable ASCII), as the converter's
// keyword table claims it.
std::string KeywordOfText(const std::string &nodeText);

// A node of a binary path: offset, type, sub_type (and subType), length
// and keyword.
nlohmann::json NodeJson(const Bytes &bytes, size_t offset, const std::string &keyword);

// Per node of a converted path: where it lies and which keyword made it,
// found by converting each node text alone and matching it to the path's
// nodes in order. End nodes and file-name nodes have no keyword.
nlohmann::json PathJson(Converter &converter, const std::u16string &text, const Bytes &bytes);

// The nodes of a formatted path or node, for JSON, each with its offset
// from base plus its offset in the path.
nlohmann::json NodeTextsJson(const devtext::PathText &path, size_t base = 0);

// A note on standard error about one input, named by where it came from
// ("line 7", "argument 2"), escaped as every such line.
void Note(const std::string &where, const std::string &message);

// The whole of an input file (or standard input for "-"), up to its limit;
// a file that cannot be read ends the program with status 2.
Bytes ReadInputOrDie(const std::string &what, const std::string &path, size_t limit);

// Answers each line of a text input with answer(name, line), the line
// exactly as written but for its ending (LF, or CR LF; the last line needs
// none) and named "line N". Returns how many answers failed.
template <typename AnswerLine>
uint64_t AnswerEachLine(const Bytes &input, AnswerLine answer) {
  const char *const data = reinterpret_cast<const char *>(input.data());
  uint64_t failed = 0;
  uint64_t number = 1;
  for (size_t start = 0; start < input.size(); number++) {
    const char *const newline = static_cast<const char *>(std::memchr(data + start, '\n', input.size() - start));
    size_t end = newline != nullptr ? static_cast<size_t>(newline - data) : input.size();
    const size_t next = newline != nullptr ? end + 1 : end;
    if (newline != nullptr && end > start && data[end - 1] == '\r') {
      end--;
    }
    failed += answer("line " + std::to_string(number), std::string(data + start, end - start)) ? 0 : 1;
    start = next;
  }
  return failed;
}

// The path given as hex: pairs of hex digits, white space anywhere
// between them. SOURCES are the HEX arguments, each quoted in a message
// about it, or the text of the --input file named FILE, in which a message
// gives the offset. A path larger than --binary may read (1 MiB) is
// refused, as that file would be.
Bytes ParseHex(const std::vector<std::string> &sources, const std::string &file = "");

// Hex text to bytes: pairs of hex digits, white space anywhere between
// them. Empty, with the problem said, when the text is not that.
std::optional<Bytes> HexToBytes(const std::string &text, std::string &problem);

// The modes: each answers its inputs and returns the exit status.
int RunConvert(const DevpathOptions &options, Converter &converter);
int RunExplain(const DevpathOptions &options, Converter &converter);
int RunToText(const DevpathOptions &options, Converter &converter);
int RunLoadOption(const DevpathOptions &options, Converter &converter);

}  // namespace boardinv::devpath
