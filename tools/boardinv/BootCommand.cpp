#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "host/boot/Boot.h"
#include "host/boot/Report.h"
#include "host/loader/PeImage.h"
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
};

uint32_t ParseWord(const std::string &text) {
  size_t used = 0;
  unsigned long long value = 0;
  try {
    value = std::stoull(text, &used, 0);
  } catch (const std::exception &) {
    used = 0;
  }
  if (text.empty() || used != text.size() || text[0] == '-' || text[0] == '+' || value > 0xFFFFFFFFULL) {
    Die("--nio: not a 32-bit number: \"" + text + "\"");
  }
  return static_cast<uint32_t>(value);
}

int RunBoot(const BootOptions &options) {
  sim::Platform platform = LoadPlatformOrDie(options.platformFile);
  if (!options.nio.empty()) {
    sim::SetNioTypeWord(platform, ParseWord(options.nio));
  }
  if (options.noNio) {
    sim::RemoveNioTypeVariable(platform);
  }

  host::DriverImagePtr image;
  if (!options.efiFile.empty()) {
    try {
      image = host::LoadDriverImage(options.efiFile);
    } catch (const loader::ImageError &error) {
      Die(error.what());
    }
  }
  host::BootResult result;
  try {
    result = host::RunBoot(platform, image.get());
  } catch (const loader::ImageError &error) {
    Die(error.what());
  }

  if (!options.dumpFile.empty()) {
    const std::vector<uint8_t> dump = sim::BuildSmbiosDump(result.records);
    std::ofstream file(options.dumpFile, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(dump.data()), static_cast<std::streamsize>(dump.size()));
    if (!file) {
      Die(options.dumpFile + ": cannot write the SMBIOS dump");
    }
  }
  if (options.format == "json") {
    std::cout << host::BootReportJson(result).dump(2) << "\n";
  } else {
    std::cout << host::BootReportText(result);
  }
  return 0;
}

}  // namespace

std::function<int()> AddBootCommand(CLI::App &app) {
  auto options = std::make_shared<BootOptions>();
  CLI::App *command = app.add_subcommand("boot", "Load the driver, signal End-of-DXE and report what it installed");
  auto *nio = command->add_option("--nio", options->nio, "Set NioTypeProtected to this 32-bit word (0x... or decimal)");
  auto *noNio = command->add_flag("--no-nio", options->noNio, "Remove NioTypeProtected from the platform");
  nio->excludes(noNio);
  command->add_option("--platform", options->platformFile, "Platform description (JSON); default: the built-in one");
  command->add_option("--format", options->format, "Report format: text or json")
      ->check(CLI::IsMember({"text", "json"}));
  command->add_option("--dump", options->dumpFile, "Write the SMBIOS table to FILE (readable with --from-dump)");
  command->add_option("--efi", options->efiFile,
                      "Boot this driver binary (BoardInventory.efi, with its .map beside it) instead of the "
                      "driver linked into boardinv");
  return [command, options]() { return command->parsed() ? RunBoot(*options) : -1; };
}

}  // namespace boardinv
