// dmidecode reads the SMBIOS dump of a boot: an independent decoder must
// find every record with its handle, designators and types.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "host/boot/Boot.h"
#include "tests/support/IsolatedReport.h"
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
  unsigned handle = 0;
  unsigned type = 0;
  std::string internal, internalType, external, externalType, portType;
  std::string designation, slotType, usage, busAddress;
  std::vector<std::string> characteristics;  // the lines under "Characteristics:"
};

std::vector<Decoded> ParseDmidecode(const std::string &output) {
  std::vector<Decoded> records;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    // "Handle 0x0001, DMI type 8, 9 bytes"
    unsigned handle = 0;
    unsigned type = 0;
    unsigned length = 0;
    char bytes[6] = {};
    if (line.rfind("Handle 0x", 0) == 0 &&
        std::sscanf(line.c_str(), "Handle 0x%4X, DMI type %u, %u %5s", &handle, &type, &length, bytes) == 4 &&
        std::string(bytes) == "bytes") {
      Decoded record;
      record.handle = handle;
      record.type = type;
      records.push_back(record);
      continue;
    }
    // "\t\tvalue": one line of a list, such as the slot characteristics
    if (!records.empty() && line.rfind("\t\t", 0) == 0) {
      records.back().characteristics.push_back(line.substr(2));
      continue;
    }
    // "\tName: value"
    const size_t colon = line.find(": ");
    if (records.empty() || line.size() < 2 || line[0] != '\t' || line[1] == '\t' || colon == std::string::npos) {
      continue;
    }
    Decoded &record = records.back();
    const std::string name = line.substr(1, colon - 1);
    const std::string value = line.substr(colon + 2);
    if (name == "Internal Reference Designator") record.internal = value;
    if (name == "Internal Connector Type") record.internalType = value;
    if (name == "External Reference Designator") record.external = value;
    if (name == "External Connector Type") record.externalType = value;
    if (name == "Port Type") record.portType = value;
    if (name == "Designation") record.designation = value;
    if (name == "Type") record.slotType = value;
    if (name == "Current Usage") record.usage = value;
    if (name == "Bus Address") record.busAddress = value;
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

TEST_P(DmidecodeTest, DecodesEveryConnectorAndSlotRecord) {
  sim::Platform platform = sim::DefaultPlatform();
  sim::SetNioTypeWord(platform, GetParam());
  const json report = IsolatedBootReport(platform);
  const std::string output = RunDmidecode(sim::BuildSmbiosDump(RecordsOf(report)));
  ASSERT_NE(output.find("SMBIOS 3.0.0 present."), std::string::npos) << output;
  EXPECT_EQ(output.find("Invalid"), std::string::npos) << output;
  EXPECT_EQ(output.find("Unknown"), std::string::npos) << output;

  const std::vector<Decoded> decoded = ParseDmidecode(output);
  ASSERT_EQ(decoded.size(), report["records"].size() + 1) << output;
  size_t slots = 0;
  for (size_t i = 0; i < report["records"].size(); i++) {
    const json &record = report["records"][i];
    const json &fields = record["fields"];
    SCOPED_TRACE("record " + std::to_string(i + 1));
    EXPECT_EQ(decoded[i].handle, record["handle"].get<unsigned>());
    EXPECT_NE(decoded[i].handle, 0xFFFEu);
    EXPECT_EQ(decoded[i].type, record["type"].get<unsigned>());
    if (record["type"] == 8) {
      EXPECT_EQ(slots, 0u) << "connector records come before slot records";
      EXPECT_EQ(decoded[i].internal, fields["internal_reference_designator"]);
      EXPECT_EQ(decoded[i].external, fields["external_reference_designator"]);
      // Our names for the coded values are the SMBIOS names dmidecode uses.
      EXPECT_EQ(decoded[i].internalType, fields["internal_connector_type"]["name"]);
      EXPECT_EQ(decoded[i].externalType, fields["external_connector_type"]["name"]);
      EXPECT_EQ(decoded[i].portType, fields["port_type"]["name"]);
    } else {
      slots++;
      EXPECT_EQ(decoded[i].designation, fields["slot_designation"]);
      // dmidecode writes the width before the slot type: "x4 M.2 Socket 3".
      const std::string width = fields["slot_data_bus_width"]["value"] == "0x0A" ? "x4 " : "x1 ";
      const std::string socket = fields["slot_type"]["value"] == "0x17" ? "M.2 Socket 3" : "M.2 Socket 1-SD";
      EXPECT_EQ(decoded[i].slotType, width + socket);
      EXPECT_EQ(decoded[i].usage, fields["current_usage"]["value"] == "0x04" ? "In Use" : "Available");
      char address[16];
      std::snprintf(address, sizeof(address), "%04x:%02x:%02x.%x",
                    static_cast<unsigned>(std::stoul(fields["segment_group_number"].get<std::string>(), nullptr, 16)),
                    static_cast<unsigned>(std::stoul(fields["bus_number"].get<std::string>(), nullptr, 16)),
                    fields["device"].get<unsigned>(), fields["function"].get<unsigned>());
      EXPECT_EQ(decoded[i].busAddress, address);
      // The report decodes the characteristics and writes the address as
      // dmidecode does.
      EXPECT_EQ(decoded[i].busAddress, fields["bus_address"]);
      EXPECT_EQ(nlohmann::json(decoded[i].characteristics), fields["slot_characteristics"]);
      EXPECT_FALSE(decoded[i].characteristics.empty());
    }
  }
  EXPECT_EQ(slots, GetParam() == 0x201u ? 1u : 4u);
  EXPECT_EQ(decoded.back().type, 127u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DmidecodeTest, ::testing::Values(0x200u, 0x201u, 0x202u));

}  // namespace
