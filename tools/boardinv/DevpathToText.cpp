// devpath --to-text: binary device paths written as text that converts
// back to exactly the same bytes, one line per input.
#include "tools/boardinv/Devpath.h"

#include <iostream>
#include <utility>

#include "host/boot/Report.h"
#include "host/sim/InputFile.h"
#include "host/sim/Text.h"
#include "tools/boardinv/Commands.h"

namespace boardinv::devpath {

namespace {

// What separates the texts of the paths of one --to-text input on its
// line: a tab, which no path text holds (they are printable ASCII).
constexpr char kPathSeparator = '\t';

// Answers one input of --to-text on one line: the texts of the paths it
// holds, one after the other, separated by a tab (or the text of its one
// node, with --node), or an error in its place. Returns whether the answer
// is a text.
bool AnswerText(Converter &converter, const DevpathOptions &options, const std::string &where,
                const std::optional<Bytes> &bytes, const std::string &problem) {
  // offset: where in the input the path in error starts.
  auto answerError = [&](size_t offset, const std::string &reason) {
    if (options.Json()) {
      std::cout << nlohmann::json({{"offset", offset},
                                   {"bytes", nullptr},
                                   {"size", nullptr},
                                   {"text", nullptr},
                                   {"nodes", nullptr},
                                   {"paths", nullptr},
                                   {"error", reason}})
                       .dump()
                << '\n';
    } else {
      std::cout << "error: " << reason << '\n';
    }
    Note(where, reason);
  };
  if (!bytes) {
    answerError(0, problem);
    return false;
  }
  if (bytes->empty()) {
    answerError(0, "there are no bytes");
    return false;
  }
  const devtext::Formatter &formatter = converter.Formatter();
  std::vector<std::pair<size_t, devtext::PathText>> paths;  // each with its offset in the input
  for (size_t offset = 0; offset < bytes->size();) {
    devtext::PathText path = options.node ? formatter.Node(bytes->data(), bytes->size())
                                          : formatter.Path(bytes->data() + offset, bytes->size() - offset);
    if (!path.Valid()) {
      // Offsets in the reason count from the path's start.
      answerError(offset, offset == 0 ? path.error : "the path at offset " + std::to_string(offset) + ": " + path.error);
      return false;
    }
    const size_t size = path.size;
    paths.emplace_back(offset, std::move(path));
    offset += size;
  }
  std::string line;
  for (const auto &[offset, path] : paths) {
    line += (offset == 0 ? "" : std::string(1, kPathSeparator)) + path.text;
  }
  if (!options.Json()) {
    std::cout << line << '\n';
    return true;
  }
  nlohmann::json nodes = nlohmann::json::array();
  nlohmann::json pathsJson = nlohmann::json::array();
  for (const auto &[offset, path] : paths) {
    for (nlohmann::json &node : NodeTextsJson(path, offset)) {
      nodes.push_back(std::move(node));
    }
    pathsJson.push_back({{"offset", offset}, {"size", path.size}, {"text", path.text}});
  }
  std::cout << nlohmann::json({{"offset", 0},
                               {"bytes", host::HexBytes(*bytes)},
                               {"size", bytes->size()},
                               {"text", line},
                               {"nodes", std::move(nodes)},
                               {"paths", std::move(pathsJson)}})
                   .dump()
            << '\n';
  return true;
}

}  // namespace

// --to-text: the binary paths of --binary FILE (raw bytes), of the HEX
// arguments (one input each), or of the lines of --input FILE, of standard
// input for "-" or without HEX (hex text, one input a line).
int RunToText(const DevpathOptions &options, Converter &converter) {
  uint64_t failed = 0;
  if (options.binaryGiven) {
    const Bytes bytes = ReadInputOrDie("device path file", options.binaryFile, sim::kDevicePathFileLimit);
    if (bytes.empty()) {
      Die("devpath --to-text: " +
          (options.binaryFile == sim::kStandardStream ? std::string("standard input") : options.binaryFile) +
          " is empty");
    }
    return AnswerText(converter, options, "device path file", bytes, "") ? 0 : kExitFailure;
  }
  if (!options.texts.empty()) {
    for (size_t i = 0; i < options.texts.size(); i++) {
      std::string problem;
      const std::optional<Bytes> bytes = HexToBytes(options.texts[i], problem);
      if (bytes && bytes->size() > sim::kDevicePathFileLimit) {
        Die("devpath --to-text: argument " + std::to_string(i + 1) + " is larger than the limit of " +
            sim::LimitText(sim::kDevicePathFileLimit));
      }
      failed += AnswerText(converter, options, "argument " + std::to_string(i + 1), bytes, problem) ? 0 : 1;
    }
    return failed == 0 ? 0 : kExitFailure;
  }
  const Bytes input = ReadInputOrDie("hex text file", options.inputGiven ? options.inputFile : sim::kStandardStream,
                                     kTextInputLimit);
  failed += AnswerEachLine(input, [&](const std::string &name, const std::string &line) {
    std::string problem;
    const std::optional<Bytes> bytes = HexToBytes(line, problem);
    return AnswerText(converter, options, name, bytes, problem);
  });
  return failed == 0 ? 0 : kExitFailure;
}

}  // namespace boardinv::devpath
