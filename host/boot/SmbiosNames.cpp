#include "host/boot/SmbiosNames.h"

#include <cstdio>
#include <map>

#include "host/sim/Text.h"

namespace host {

namespace {
std::string Lookup(const std::map<uint8_t, const char *> &names, uint8_t value) {
  auto found = names.find(value);
  if (found != names.end()) {
    return found->second;
  }
  return "Unknown (" + sim::Hex(value, 2) + ")";
}
}  // namespace

std::string SmbiosTypeName(uint8_t type) {
  static const std::map<uint8_t, const char *> kNames = {
      {8, "Port Connector Information"}, {9, "System Slots"}, {127, "End Of Table"}};
  return Lookup(kNames, type);
}

std::string ConnectorTypeName(uint8_t value) {
  static const std::map<uint8_t, const char *> kNames = {
      {0x00, "None"},
      {0x01, "Centronics"},
      {0x02, "Mini Centronics"},
      {0x03, "Proprietary"},
      {0x04, "DB-25 pin male"},
      {0x05, "DB-25 pin female"},
      {0x06, "DB-15 pin male"},
      {0x07, "DB-15 pin female"},
      {0x08, "DB-9 pin male"},
      {0x09, "DB-9 pin female"},
      {0x0A, "RJ-11"},
      {0x0B, "RJ-45"},
      {0x0C, "50-pin MiniSCSI"},
      {0x0D, "Mini-DIN"},
      {0x0E, "Micro-DIN"},
      {0x0F, "PS/2"},
      {0x10, "Infrared"},
      {0x11, "HP-HIL"},
      {0x12, "Access Bus (USB)"},
      {0x13, "SSA SCSI"},
      {0x14, "Circular DIN-8 male"},
      {0x15, "Circular DIN-8 female"},
      {0x16, "On Board IDE"},
      {0x17, "On Board Floppy"},
      {0x18, "9-pin Dual Inline (pin 10 cut)"},
      {0x19, "25-pin Dual Inline (pin 26 cut)"},
      {0x1A, "50-pin Dual Inline"},
      {0x1B, "68-pin Dual Inline"},
      {0x1C, "On Board Sound Input from CD-ROM"},
      {0x1D, "Mini-Centronics Type-14"},
      {0x1E, "Mini-Centronics Type-26"},
      {0x1F, "Mini-jack (headphones)"},
      {0x20, "BNC"},
      {0x21, "1394"},
      {0x22, "SAS/SATA Plug Receptacle"},
      {0x23, "USB Type-C Receptacle"},
      {0xA0, "PC-98"},
      {0xA1, "PC-98Hireso"},
      {0xA2, "PC-H98"},
      {0xA3, "PC-98Note"},
      {0xA4, "PC-98Full"},
      {0xFF, "Other"},
  };
  return Lookup(kNames, value);
}

std::string PortTypeName(uint8_t value) {
  static const std::map<uint8_t, const char *> kNames = {
      {0x00, "None"},
      {0x01, "Parallel Port XT/AT Compatible"},
      {0x02, "Parallel Port PS/2"},
      {0x03, "Parallel Port ECP"},
      {0x04, "Parallel Port EPP"},
      {0x05, "Parallel Port ECP/EPP"},
      {0x06, "Serial Port XT/AT Compatible"},
      {0x07, "Serial Port 16450 Compatible"},
      {0x08, "Serial Port 16550 Compatible"},
      {0x09, "Serial Port 16550A Compatible"},
      {0x0A, "SCSI Port"},
      {0x0B, "MIDI Port"},
      {0x0C, "Joy Stick Port"},
      {0x0D, "Keyboard Port"},
      {0x0E, "Mouse Port"},
      {0x0F, "SSA SCSI"},
      {0x10, "USB"},
      {0x11, "Firewire (IEEE P1394)"},
      {0x12, "PCMCIA Type I"},
      {0x13, "PCMCIA Type II"},
      {0x14, "PCMCIA Type III"},
      {0x15, "Cardbus"},
      {0x16, "Access Bus Port"},
      {0x17, "SCSI II"},
      {0x18, "SCSI Wide"},
      {0x19, "PC-98"},
      {0x1A, "PC-98-Hireso"},
      {0x1B, "PC-H98"},
      {0x1C, "Video Port"},
      {0x1D, "Audio Port"},
      {0x1E, "Modem Port"},
      {0x1F, "Network Port"},
      {0x20, "SATA"},
      {0x21, "SAS"},
      {0x22, "MFDP (Multi-Function Display Port)"},
      {0x23, "Thunderbolt"},
      {0xA0, "8251 Compatible"},
      {0xA1, "8251 FIFO Compatible"},
      {0xFF, "Other"},
  };
  return Lookup(kNames, value);
}

std::string SlotTypeName(uint8_t value) {
  static const std::map<uint8_t, const char *> kNames = {
      {0x01, "Other"},
      {0x02, "Unknown"},
      {0x03, "ISA"},
      {0x04, "MCA"},
      {0x05, "EISA"},
      {0x06, "PCI"},
      {0x07, "PC Card (PCMCIA)"},
      {0x08, "VL-VESA"},
      {0x09, "Proprietary"},
      {0x0A, "Processor Card Slot"},
      {0x0B, "Proprietary Memory Card Slot"},
      {0x0C, "I/O Riser Card Slot"},
      {0x0D, "NuBus"},
      {0x0E, "PCI - 66MHz Capable"},
      {0x0F, "AGP"},
      {0x10, "AGP 2X"},
      {0x11, "AGP 4X"},
      {0x12, "PCI-X"},
      {0x13, "AGP 8X"},
      {0x14, "M.2 Socket 1-DP (Mechanical Key A)"},
      {0x15, "M.2 Socket 1-SD (Mechanical Key E)"},
      {0x16, "M.2 Socket 2 (Mechanical Key B)"},
      {0x17, "M.2 Socket 3 (Mechanical Key M)"},
      {0x18, "MXM Type I"},
      {0x19, "MXM Type II"},
      {0x1A, "MXM Type III (standard connector)"},
      {0x1B, "MXM Type III (HE connector)"},
      {0x1C, "MXM Type IV"},
      {0x1D, "MXM 3.0 Type A"},
      {0x1E, "MXM 3.0 Type B"},
      {0x1F, "PCI Express Gen 2 SFF-8639 (U.2)"},
      {0x20, "PCI Express Gen 3 SFF-8639 (U.2)"},
      {0xA5, "PCI Express"},
      {0xA6, "PCI Express x1"},
      {0xA7, "PCI Express x2"},
      {0xA8, "PCI Express x4"},
      {0xA9, "PCI Express x8"},
      {0xAA, "PCI Express x16"},
  };
  return Lookup(kNames, value);
}

std::string SlotWidthName(uint8_t value) {
  static const std::map<uint8_t, const char *> kNames = {
      {0x01, "Other"}, {0x02, "Unknown"}, {0x03, "8 bit"}, {0x04, "16 bit"}, {0x05, "32 bit"},
      {0x06, "64 bit"}, {0x07, "128 bit"}, {0x08, "1x or x1"}, {0x09, "2x or x2"}, {0x0A, "4x or x4"},
      {0x0B, "8x or x8"}, {0x0C, "12x or x12"}, {0x0D, "16x or x16"}, {0x0E, "32x or x32"},
  };
  return Lookup(kNames, value);
}

std::string SlotUsageName(uint8_t value) {
  static const std::map<uint8_t, const char *> kNames = {
      {0x01, "Other"}, {0x02, "Unknown"}, {0x03, "Available"}, {0x04, "In use"}, {0x05, "Unavailable"}};
  return Lookup(kNames, value);
}

std::string SlotLengthName(uint8_t value) {
  static const std::map<uint8_t, const char *> kNames = {
      {0x01, "Other"}, {0x02, "Unknown"}, {0x03, "Short"}, {0x04, "Long"},
      {0x05, "2.5\" drive form factor"}, {0x06, "3.5\" drive form factor"}};
  return Lookup(kNames, value);
}

std::vector<std::string> SlotCharacteristicsText(uint8_t first, uint8_t second) {
  // Slot Characteristics 1, bits 1 to 7 (bit 0: the characteristics are
  // unknown).
  static const char *const kFirst[8] = {
      nullptr,
      "5.0 V is provided",
      "3.3 V is provided",
      "Opening is shared",
      "PC Card-16 is supported",
      "Cardbus is supported",
      "Zoom Video is supported",
      "Modem ring resume is supported",
  };
  // Slot Characteristics 2, bits 0 to 7.
  static const char *const kSecond[8] = {
      "PME signal is supported",
      "Hot-plug devices are supported",
      "SMBus signal is supported",
      "PCIe slot bifurcation is supported",
      "Async/surprise removal is supported",
      "Flexbus slot, CXL 1.0 capable",
      "Flexbus slot, CXL 2.0 capable",
      "Flexbus slot, CXL 3.0 capable",
  };
  if ((first & 0x01) != 0) {
    return {"Unknown"};
  }
  std::vector<std::string> lines;
  for (unsigned bit = 1; bit < 8; bit++) {
    if ((first & (1u << bit)) != 0) {
      lines.emplace_back(kFirst[bit]);
    }
  }
  for (unsigned bit = 0; bit < 8; bit++) {
    if ((second & (1u << bit)) != 0) {
      lines.emplace_back(kSecond[bit]);
    }
  }
  if (lines.empty()) {
    lines.emplace_back("None");
  }
  return lines;
}

std::string PciBusAddress(uint16_t segment, uint8_t bus, uint8_t deviceFunction) {
  if (segment == 0xFFFF && bus == 0xFF && deviceFunction == 0xFF) {
    return "";
  }
  char text[16];
  std::snprintf(text, sizeof(text), "%04x:%02x:%02x.%x", segment, bus, deviceFunction >> 3, deviceFunction & 7);
  return text;
}

}  // namespace host
