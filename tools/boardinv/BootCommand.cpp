#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "host/boot/Boot.h"
#include "host/boot/Report.h"
#include "host/boot/Wording.h"
#include "host/loader/PeImage.h"
#include "host/sim/InputFile.h"
#include "host/sim/JsonFields.h"
#include "host/sim/Platform.h"
#include "host/sim/Text.h"
#include "tools/boardinv/Commands.h"

namespace boardinv {

namespace {

struct BootOptions {
  std::string nio;
  bool noNio = false;
  std::string platformFile;
  std::string format = "text";
  std::string dumpFile;
  std::string efiFile;
  std::vector<std::string> types;  // each "8", "8,9", ...
  // Whether each file option was given: an empty name is a name.
  bool nioGiven = false;
  bool platformGiven = false;
  bool dumpGiven = false;
  bool efiGiven = false;
};

uint32_t ParseWord(const std::string &text) {
  uint64_t value = 0;
  if (!sim::ParseUnsignedText(text, 0xFFFFFFFF, value)) {
    Die("--nio: not a 32-bit number (decimal, or hexadecimal after 0x): \"" + text + "\"");
  }
  return static_cast<uint32_t>(value);
}

// The record types of --type: numbers (decimal, or hexadecimal after 0x)
// from 0 to 255 and the names dmidecode gives types 8 and 9, separated by
// commas, the option given once or more.
host::RecordTypes ParseTypes(const std::vector<std::string> &given) {
  host::RecordTypes types;
  for (const std::string &list : given) {
    size_t start = 0;
    for (;;) {
      const size_t comma = list.find(',', start);
      const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      uint64_t value = 0;
      if (item == "connector") {
        value = 8;
      } else if (item == "slot") {
        value = 9;
      } else if (item.empty()) {
        Die("--type: \"" + list + "\" holds an empty type (give TYPE[,TYPE...])");
      } else if (!sim::ParseUnsignedText(item, 0xFF, value)) {
        Die("--type: \"" + item +
            "\" is not a record type (a number from 0 to 255, decimal or 0x hex, or connector or slot)");
      }
      types.insert(static_cast<uint8_t>(value));
      if (comma == std::string::npos) {
        break;
      }
      start = comma + 1;
    }
  }
  return types;
}

int RunBoot(const BootOptions &options) {
  const host::RecordTypes types = ParseTypes(options.types);
  sim::Platform platform = LoadPlatformOrDie(options.platformGiven, options.platformFile);
  if (options.nioGiven) {
    sim::SetNioTypeWord(platform, ParseWord(options.nio));
  }
  if (options.noNio) {
    sim::RemoveNioTypeVariable(platform);
  }

  host::DriverImagePtr image;
  if (options.efiGiven) {
    image = LoadDriverImageOrDie(options.efiFile);
  }
  host::BootResult result;
  try {
    const DriverScope scope;
    result = host::RunBoot(platform, image.get());
  } catch (const loader::ImageError &error) {
    Die(error.what());
  }

  // Without the protocol there is no table; an empty dump would tell a
  // reader that one is present.
  const bool noTable = options.dumpGiven && !platform.protocols.smbios;
  if (options.dumpGiven && !noTable) {
    try {
      sim::WriteOutputFile("SMBIOS dump", options.dumpFile, sim::BuildSmbiosDump(result.records));
    } catch (const sim::FileError &error) {
      Die(error.what());
    }
  }
  // With --dump -, standard output carries the table alone, for a reader
  // at the other end of a pipe.
  if (!(options.dumpGiven && options.dumpFile == sim::kStandardStream)) {
    if (options.format == "json") {
      std::cout << host::BootReportJson(result, types).dump(2) << "\n";
    } else {
      std::cout << host::BootReportText(result, types);
    }
  }
  int status = 0;
  if (noTable) {
    PrintMessage("SMBIOS dump: not written: the platform has no SMBIOS protocol, so there is no table");
    status = 1;
  }
  // A map that does not describe the image: bad input, not the driver's
  // doing.
  const bool mapProblem = result.startup.heapListMapProblem.has_value();
  if (mapProblem) {
    std::cerr << "boardinv: " << sim::Escaped(host::HeapListMapProblemText(*result.startup.heapListMapProblem))
              << "\n";
  }
  // The boot ran; what the driver got wrong makes it a failure.
  for (const host::BootFailure &failure : result.Failures()) {
    PrintMessage(host::FailureText(result, failure));
    status = 1;
  }
  return mapProblem ? kExitUsage : status;
}

}  // namespace

std::function<int()> AddBootCommand(CLI::App &app) {
  auto options = std::make_shared<BootOptions>();
  CLI::App *command = app.add_subcommand("boot", "Load the driver, signal End-of-DXE and report what it installed");
  auto *nio = command->add_option("--nio", options->nio, "Set NioTypeProtected to this 32-bit word (0x... or decimal)");
  auto *noNio = command->add_flag("--no-nio", options->noNio, "Remove NioTypeProtected from the platform");
  nio->excludes(noNio);
  CLI::Option *platform = command->add_option(
      "--platform", options->platformFile,
      InputFileHelp(kPlatformOptionHelp, sim::kPlatformFileLimit))
      ->type_name("FILE");
  command->add_option("--format", options->format, "Report format: text or json")
      ->check(CLI::IsMember({"text", "json"}));
  command->add_option("--type", options->types,
                      "Show only the SMBIOS records of these types (as dmidecode -t): TYPE[,TYPE...], each a "
                      "number from 0 to 255 or connector (8) or slot (9); the slots go with type 9. The dump "
                      "keeps every record")
      ->type_name("TYPE[,TYPE...]")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  CLI::Option *dump =
      command->add_option("--dump", options->dumpFile, "Write the SMBIOS table to FILE (readable with --from-dump); - writes it to standard output instead of the report")
          ->type_name("FILE");
  CLI::Option *efi = command->add_option(
      "--efi", options->efiFile,
      "Boot this driver binary (BoardInventory.efi, read up to " + sim::LimitText(sim::kImageFileLimit) +
          ") instead of the driver linked into boardinv; its linker map beside it (the same name ending in .map) "
          "is read up to " +
          sim::LimitText(sim::kSymbolMapLimit))
      ->type_name("FILE");
  return [command, options, nio, platform, dump, efi]() {
    if (!command->parsed()) {
      return -1;
    }
    options->nioGiven = nio->count() > 0;
    options->platformGiven = platform->count() > 0;
    options->dumpGiven = dump->count() > 0;
    options->efiGiven = efi->count() > 0;
    return RunBoot(*options);
  };
}

}  // namespace boardinv
