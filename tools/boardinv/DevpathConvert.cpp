// devpath in its default mode: device-path texts (arguments or lines) to
// binary paths with the driver's converter, one answer per text.
#include "tools/boardinv/Devpath.h"

#include <iostream>

#include "host/boot/Report.h"
#include "host/sim/InputFile.h"
#include "host/sim/Text.h"

namespace boardinv::devpath {

namespace {

// Answers one text: its bytes, null, or an error in its place so that the
// answers stay aligned with the inputs. Returns whether the text converted
// to a path. An argument is quoted in the note about it (escaped, so that
// it stays on one line and cannot drive the terminal); a line is found by
// its number.
bool Answer(Converter &converter, const DevpathOptions &options, const std::string &where, const std::string &text,
            bool quote) {
  std::string problem;
  const auto ucs2 = Utf8ToUcs2(text, problem);
  if (!ucs2) {
    const bool utf8 = problem.rfind("is not", 0) != 0;  // only that reason means the text is not UTF-8
    const std::string reason = "the text " + problem;
    if (options.Json()) {
      nlohmann::json out = {{"bytes", nullptr}, {"size", nullptr}, {"nodes", nullptr}, {"error", reason}};
      if (utf8) {
        out["text"] = text;
      } else {
        // Not UTF-8: no JSON string holds it; its bytes do.
        out["text"] = nullptr;
        out["text_bytes"] = host::HexBytes(Bytes(text.begin(), text.end()));
      }
      std::cout << out.dump() << '\n';
    } else {
      std::cout << "error: " << reason << '\n';
    }
    Note(where, quote ? "the text \"" + text + "\" " + problem : reason);
    return false;
  }
  const std::optional<Bytes> bytes = converter.Convert(*ucs2, options.node);
  if (options.node) {
    const size_t nodes = NodeTexts(*ucs2).size();
    if (nodes > 1) {
      Note(where, "--node converts one node; the text holds " + sim::Counted(nodes, "node", "nodes") +
                      " (only the first is converted)");
    }
  }
  if (!options.Json()) {
    std::cout << (bytes ? host::HexBytes(*bytes) : "null") << '\n';
    return bytes.has_value();
  }
  nlohmann::json out = {{"text", text}, {"bytes", nullptr}, {"size", nullptr}, {"nodes", nullptr}};
  if (bytes) {
    out["bytes"] = host::HexBytes(*bytes);
    out["size"] = bytes->size();
    out["nodes"] = options.node ? nlohmann::json::array({NodeJson(*bytes, 0, KeywordOf(*ucs2))})
                                : PathJson(converter, *ucs2, *bytes);
  }
  std::cout << out.dump() << '\n';
  return bytes.has_value();
}

}  // namespace

int RunConvert(const DevpathOptions &options, Converter &converter) {
  uint64_t failed = 0;
  if (!options.texts.empty()) {
    for (size_t i = 0; i < options.texts.size(); i++) {
      failed += Answer(converter, options, "argument " + std::to_string(i + 1), options.texts[i], true) ? 0 : 1;
    }
    return failed == 0 ? 0 : kExitFailure;
  }
  const Bytes input = ReadInputOrDie("device path text file", options.inputGiven ? options.inputFile : sim::kStandardStream,
                                     kTextInputLimit);
  failed += AnswerEachLine(input, [&](const std::string &name, const std::string &line) {
    return Answer(converter, options, name, line, false);
  });
  return failed == 0 ? 0 : kExitFailure;
}

}  // namespace boardinv::devpath
