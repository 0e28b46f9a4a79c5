// devpath --load-option: a UEFI load option as efivarfs stores it, shown
// with its attributes by name, its description, and its device paths as
// text.
#include "tools/boardinv/Devpath.h"

#include <iostream>

#include "host/boot/Report.h"
#include "host/devtext/LoadOption.h"
#include "host/sim/InputFile.h"
#include "host/sim/Text.h"
#include "tools/boardinv/Commands.h"

namespace boardinv::devpath {

namespace {

// What the JSON of a load option holds in place of its description until
// the description is written in: no other string there holds a control
// character.
constexpr const char *kDescriptionStandIn = "\x01" "description" "\x01";

}  // namespace

// --load-option: a load option as efivarfs stores it (4 bytes of variable
// attributes, then the EFI_LOAD_OPTION).
int RunLoadOption(const DevpathOptions &options, Converter &converter) {
  const Bytes variable = ReadInputOrDie("load option", options.loadOptionFile, kLoadOptionLimit);
  const std::string name =
      options.loadOptionFile == sim::kStandardStream ? std::string("standard input") : options.loadOptionFile;
  devtext::LoadOption option;
  try {
    option = devtext::ReadLoadOption(variable, converter.Formatter());
  } catch (const devtext::LoadOptionError &error) {
    Die("load option: " + name + ": " + error.what());
  }
  auto joined = [](const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &name : names) {
      text += (text.empty() ? "" : ", ") + name;
    }
    return text;
  };
  if (options.Json()) {
    nlohmann::json paths = nlohmann::json::array();
    for (const auto &path : option.paths) {
      paths.push_back({{"offset", path.offset},
                       {"bytes", host::HexBytes(path.bytes)},
                       {"size", path.bytes.size()},
                       {"text", path.text.text},
                       {"nodes", NodeTextsJson(path.text)}});
    }
    nlohmann::json out = {
        {"variable_attributes", {{"value", sim::Hex(option.variableAttributes, 8)},
                                 {"names", devtext::VariableAttributeNames(option.variableAttributes)}}},
        {"attributes", {{"value", sim::Hex(option.attributes, 8)},
                        {"names", devtext::LoadOptionAttributeNames(option.attributes)}}},
        // A stand-in, replaced below by the description written exactly,
        // unit for unit, which nlohmann::json cannot write: it holds text
        // as UTF-8, where a lone surrogate has no place.
        {"description", kDescriptionStandIn},
        {"file_path_list_length", option.filePathListLength},
        {"paths", paths},
        {"optional_data", host::HexBytes(option.optionalData)},
        {"optional_data_size", option.optionalData.size()},
    };
    std::string document = out.dump(2);
    const std::string standIn = nlohmann::json(kDescriptionStandIn).dump();
    document.replace(document.find(standIn), standIn.size(), devtext::JsonString(option.description));
    std::cout << document << '\n';
    return 0;
  }
  std::cout << "variable attributes: " << sim::Hex(option.variableAttributes, 8) << " ("
            << joined(devtext::VariableAttributeNames(option.variableAttributes)) << ")\n";
  std::cout << "attributes: " << sim::Hex(option.attributes, 8) << " ("
            << joined(devtext::LoadOptionAttributeNames(option.attributes)) << ")\n";
  std::cout << "description: " << sim::Escaped(devtext::Utf8(option.description)) << '\n';
  std::cout << "file path list: " << sim::Counted(option.filePathListLength, "byte", "bytes") << ", "
            << sim::Counted(option.paths.size(), "path", "paths") << '\n';
  for (size_t i = 0; i < option.paths.size(); i++) {
    std::cout << "path " << i + 1 << ": " << option.paths[i].text.text << '\n';
  }
  std::cout << "optional data: "
            << (option.optionalData.empty() ? std::string("none")
                                            : sim::Counted(option.optionalData.size(), "byte", "bytes") + ": " +
                                                  host::HexBytes(option.optionalData))
            << '\n';
  return 0;
}

}  // namespace boardinv::devpath
