// boardinv devpath: runs the driver's device-path text converter in the
// simulated firmware and prints the binary paths it makes; --explain reads
// a binary path and lists its nodes or says why it is invalid; --to-text
// writes binary paths as text that converts back to the same bytes;
// --load-option reads a UEFI load option as efivarfs stores it. This file
// holds its options and the choice of mode; each mode and each of their
// shared jobs is a file of its own (Devpath.h lists them).
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "host/sim/InputFile.h"
#include "host/sim/Text.h"
#include "tools/boardinv/Commands.h"
#include "tools/boardinv/Devpath.h"

namespace boardinv {

using devpath::Converter;
using devpath::DevpathOptions;
using devpath::kHexTextLimit;
using devpath::kLoadOptionLimit;
using devpath::kTextInputLimit;

namespace {

int RunDevpath(DevpathOptions options) {
  if (options.loadOptionGiven) {
    if (options.explain || options.toText || options.node || options.binaryGiven || options.inputGiven ||
        !options.texts.empty()) {
      Die("devpath --load-option reads one load option; TEXT, --input, --binary, --node, --explain and --to-text "
          "do not apply");
    }
    Converter converter(options);
    return devpath::RunLoadOption(options, converter);
  }
  if (options.explain && options.toText) {
    Die("devpath: --explain and --to-text are two modes; give one");
  }
  if (options.binaryGiven && !options.explain && !options.toText) {
    Die("devpath: --binary goes with --explain or --to-text");
  }
  if (options.explain && options.node) {
    Die("devpath: --explain reads a whole path; --node does not apply");
  }
  const std::string mode = options.toText ? "devpath --to-text" : options.explain ? "devpath --explain" : "devpath";
  const std::string arguments = options.toText || options.explain ? "HEX arguments" : "TEXT arguments";
  // "-" among the arguments stands for standard input, which then holds
  // every input: it comes alone.
  const bool dash = std::find(options.texts.begin(), options.texts.end(), sim::kStandardStream) != options.texts.end();
  if (dash && options.texts.size() > 1) {
    Die(mode + ": - reads " +
        (options.toText    ? "the paths from standard input (hex, one input a line)"
         : options.explain ? "the path from standard input (hex)"
                           : "the texts from standard input (one a line)") +
        "; give it alone, not with " + arguments);
  }
  if (options.binaryGiven + options.inputGiven + !options.texts.empty() > 1) {
    Die(mode + ": give the " + (options.toText ? "paths" : options.explain ? "path" : "texts") + " one way: " +
        arguments + (options.toText || options.explain ? ", -, --input FILE|- or --binary FILE|-"
                                                        : ", - or --input FILE|-"));
  }
  if (dash) {
    options.texts.clear();
    options.inputGiven = true;
    options.inputFile = sim::kStandardStream;
  }
  Converter converter(options);
  return options.toText ? devpath::RunToText(options, converter)
         : options.explain ? devpath::RunExplain(options, converter)
                           : devpath::RunConvert(options, converter);
}

}  // namespace

std::function<int()> AddDevpathCommand(CLI::App &app) {
  auto options = std::make_shared<DevpathOptions>();
  CLI::App *command = app.add_subcommand(
      "devpath",
      "Convert device-path texts to binary device paths with the driver's converter.\n"
      "Prints one line per text: the bytes as upper-case hex pairs separated by single spaces,\n"
      "or the word null when the conversion gives no path (an empty text, for one).\n"
      "The texts are the TEXT arguments; or, one per line, the lines of standard input (TEXT -,\n"
      "alone, or --input -, or no TEXT and no --input) or of --input FILE. A line is taken\n"
      "exactly as written (only the line ending, LF or CR LF, is removed); the text \"-\" itself\n"
      "is such a line. Wherever - stands for standard input it comes alone: - with other TEXT\n"
      "or HEX arguments, or with --input or --binary, is bad usage (exit status 2).\n"
      "A text that is not valid UTF-8, or holds a NUL or a character outside UCS-2, is answered\n"
      "with a line \"error: REASON\" in its place; a note on standard error names its line or\n"
      "argument (\"boardinv: line 7: the text is not valid UTF-8\"; an argument is quoted, every\n"
      "byte outside printable ASCII as \\xHH) and the rest is converted.\n"
      "With --node, a text of several nodes gives a note on standard error: only its first node\n"
      "is converted.\n"
      "With --format json (or --json), prints one JSON object per text, on one line: text, bytes,\n"
      "size and the nodes (offset, type, sub_type and its older name subType, length, and the\n"
      "keyword that made the node, null for end nodes and file names); for a text in error, the\n"
      "error, with text null and the text's bytes in text_bytes when it is not UTF-8.\n"
      "Exit status 1 when any answer is null or an error.\n"
      "With --explain, reads a binary device path (HEX arguments, or - or --input FILE|-\n"
      "holding them as text, or --binary FILE|- holding the raw bytes) and lists its nodes with\n"
      "their text and its size, or says why it is invalid (exit status 1); with --format json,\n"
      "as one JSON object on one line (valid, size, reason, text, trailing_bytes, and the nodes,\n"
      "each with kind, text and the keyword of its text).\n"
      "With --to-text, writes binary device paths as text that converts back to exactly the same\n"
      "bytes: the keyword form of each node where converting it gives back the node's bytes,\n"
      "else the generic form (HardwarePath, AcpiPath, Msg, MediaPath, BbsPath, Path); instances\n"
      "separated by \",\". The inputs are HEX arguments (one input each), the lines of standard\n"
      "input (- alone, --input -, or no HEX) or of --input FILE (hex text, one input a line), or\n"
      "the raw bytes of --binary FILE|- (one input). Each input gives one line: an input may\n"
      "hold several paths one after the other, written on its line separated by a tab. An\n"
      "input in error is answered \"error: REASON\" naming the offset (exit status 1). With\n"
      "--node each input is one node. --format json gives one object per input: its bytes,\n"
      "size and text (its line), its nodes (offset in the input, type, sub_type, length,\n"
      "keyword, text) and its paths (offset in the input, size, text).\n"
      "With --load-option FILE|-, reads a UEFI load option as efivarfs stores it (4 bytes of\n"
      "variable attributes, then Attributes, FilePathListLength, the description, the device\n"
      "paths and the optional data) and shows the attributes by name, the description, each\n"
      "path as text and the optional data as hex; a malformed option gives exit status 2 and one\n"
      "line naming each place as a byte of the variable (\"at byte 48 of the variable\").\n"
      "With --efi FILE, every mode converts and validates with the functions inside that driver\n"
      "binary instead of those linked into boardinv.");
  command->add_option("TEXT", options->texts,
                      "Device-path texts (UTF-8); with --explain, the path's hex bytes; with --to-text, hex bytes "
                      "of paths, one input each (up to " +
                          sim::LimitText(sim::kDevicePathFileLimit) +
                          " of path); - alone reads them from standard input instead, as --input - does");
  command->add_flag("--node", options->node, "Convert each text as one node (ConvertTextToDeviceNode)");
  CLI::Option *format =
      command->add_option("--format", options->format, "Output format: text or json")->check(CLI::IsMember({"text", "json"}));
  CLI::Option *json = command->add_flag_callback(
      "--json", [options]() { options->format = "json"; }, "The same as --format json");
  json->excludes(format);
  command->add_flag("--explain", options->explain, "Validate a binary device path and list its nodes");
  command->add_flag("--to-text", options->toText,
                    "Write binary device paths (HEX, -, --input FILE|-, --binary FILE|-) as device-path text");
  CLI::Option *loadOption =
      command
          ->add_option("--load-option", options->loadOptionFile,
                       InputFileHelp("Read a UEFI load option as efivarfs stores it from FILE (- reads standard "
                                     "input) and show it, its device paths as text",
                                     kLoadOptionLimit))
          ->type_name("FILE");
  CLI::Option *input =
      command
          ->add_option("--input", options->inputFile,
                       "Read the texts from FILE, one per line (- reads standard input; read up to " +
                           sim::LimitText(kTextInputLimit) + "); with --to-text, hex bytes of paths, one input a line (read up to " +
                           sim::LimitText(kTextInputLimit) + "); with --explain, the path's hex bytes (read up to " +
                           sim::LimitText(kHexTextLimit) + ")")
          ->type_name("FILE");
  CLI::Option *binary =
      command
          ->add_option("--binary", options->binaryFile,
                       InputFileHelp("With --explain or --to-text: read the path's raw bytes from FILE (- reads "
                                     "standard input)",
                                     sim::kDevicePathFileLimit))
          ->type_name("FILE");
  CLI::Option *efi =
      command
          ->add_option("--efi", options->efiFile,
                       InputFileHelp("Convert with the converter inside this driver binary (BoardInventory.efi, with "
                                     "its .map beside it, so not -) instead of the one linked into boardinv",
                                     sim::kImageFileLimit))
          ->type_name("FILE");
  return [command, options, input, binary, efi, loadOption]() {
    if (!command->parsed()) {
      return -1;
    }
    options->inputGiven = input->count() > 0;
    options->binaryGiven = binary->count() > 0;
    options->efiGiven = efi->count() > 0;
    options->loadOptionGiven = loadOption->count() > 0;
    return RunDevpath(*options);
  };
}

}  // namespace boardinv
