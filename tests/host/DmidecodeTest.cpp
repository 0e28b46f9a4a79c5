// dmidecode reads the SMBIOS dump of a boot: an independent decoder must
// find every record with its handle, designators and types.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "host/boot/Boot.h"
#include "host/sim/SimFirmware.h"

namespace {

using nlohmann::json;

std::string RunDmidecode(const std::vector<uint8_t> &dump) {
  char path[] = "/tmp/boardinv-dump-XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  FILE *file = fdopen(fd, "wb");
  std::fwrite(dump.data(), 1, dump.size(), file);
  std::fclose(file);
  // dmidecode exits 0 even when it rejects a file: judge by its text.
  const std::string command = std::string("dmidecode --from-dump ") + path + " 2>&1";
  FILE *pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
    output.append(buffer, n);
  }
  pclose(pipe);
  std::remove(path);
  return output;
}

struct Decoded {
  unsigned handle;
  unsigned type;
  std::string internal, internalType, external, externalType, portType;
};

std::vector<Decoded> ParseDmidecode(const std::string &output) {
  std::vector<Decoded> records;
  std::istringstream lines(output);
  std::string line;
  const std::regex header(R"(^Handle 0x([0-9A-F]{4}), DMI type (\d+), (\d+) bytes$)");
  const std::regex field(R"(^\t([^:]+): (.*)$)");
  std::smatch match;
  while (std::getline(lines, line)) {
    if (std::regex_match(line, match, header)) {
      records.push_back({static_cast<unsigned>(std::stoul(match[1], nullptr, 16)),
                         static_cast<unsigned>(std::stoul(match[2])), "", "", "", "", ""});
    } else if (!records.empty() && std::regex_match(line, match, field)) {
      Decoded &record = records.back();
      const std::string name = match[1];
      const std::string value = match[2];
      if (name == "Internal Reference Designator") record.internal = value;
      if (name == "Internal Connector Type") record.internalType = value;
      if (name == "External Reference Designator") record.external = value;
      if (name == "External Connector Type") record.externalType = value;
      if (name == "Port Type") record.portType = value;
    }
  }
  return records;
}

std::vector<sim::SmbiosRecord> RecordsOf(const json &report) {
  std::vector<sim::SmbiosRecord> records;
  for (const json &record : report["records"]) {
    std::vector<uint8_t> bytes;
    std::istringstream hex(record["raw"].get<std::string>());
    std::string pair;
    while (hex >> pair) {
      bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    }
    records.push_back({record["handle"].get<uint16_t>(), bytes});
  }
  return records;
}

class DmidecodeTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(DmidecodeTest, DecodesEveryConnectorRecord) {
  sim::Platform platform = sim::DefaultPlatform();
  sim::SetNioTypeWord(platform, GetParam());
  const json report = host::RunBootIsolated(platform);
  const std::string output = RunDmidecode(sim::BuildSmbiosDump(RecordsOf(report)));
  ASSERT_NE(output.find("SMBIOS 3.0.0 present."), std::string::npos) << output;
  EXPECT_EQ(output.find("Invalid"), std::string::npos) << output;
  EXPECT_EQ(output.find("Unknown"), std::string::npos) << output;

  const std::vector<Decoded> decoded = ParseDmidecode(output);
  ASSERT_EQ(decoded.size(), report["records"].size() + 1) << output;
  for (size_t i = 0; i < report["records"].size(); i++) {
    const json &record = report["records"][i];
    const json &fields = record["fields"];
    SCOPED_TRACE("record " + std::to_string(i + 1));
    EXPECT_EQ(decoded[i].handle, record["handle"].get<unsigned>());
    EXPECT_NE(decoded[i].handle, 0xFFFEu);
    EXPECT_EQ(decoded[i].type, 8u);
    EXPECT_EQ(decoded[i].internal, fields["internal_reference_designator"]);
    EXPECT_EQ(decoded[i].external, fields["external_reference_designator"]);
    // Our names for the coded values are the SMBIOS names dmidecode uses.
    EXPECT_EQ(decoded[i].internalType, fields["internal_connector_type"]["name"]);
    EXPECT_EQ(decoded[i].externalType, fields["external_connector_type"]["name"]);
    EXPECT_EQ(decoded[i].portType, fields["port_type"]["name"]);
  }
  EXPECT_EQ(decoded.back().type, 127u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DmidecodeTest, ::testing::Values(0x200u, 0x201u, 0x202u));

}  // namespace
