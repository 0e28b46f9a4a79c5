#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

#include "host/boot/Boot.h"
#include "host/boot/Report.h"
#include "host/loader/PeImage.h"
#include "host/sim/InputFile.h"
#include "host/sim/JsonFields.h"
#include "host/sim/Platform.h"
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

int RunBoot(const BootOptions &options) {
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
  const nlohmann::json report = host::BootReportJson(result);
  if (!(options.dumpGiven && options.dumpFile == sim::kStandardStream)) {
    if (options.format == "json") {
      std::cout << report.dump(2) << "\n";
    } else {
      std::cout << host::BootReportText(result);
    }
  }
  int status = 0;
  if (noTable) {
    std::cerr << "boardinv: SMBIOS dump: not written: the platform has no SMBIOS protocol, so there is no table\n";
    status = 1;
  }
  // The boot ran; what the driver got wrong makes it a failure.
  for (const std::string &fault : host::DriverFaults(report)) {
    std::cerr << "boardinv: " << fault << "\n";
    status = 1;
  }
  return status;
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
