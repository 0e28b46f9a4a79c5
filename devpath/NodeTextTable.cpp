// The keyword table of the text converter: every node keyword of the
// device-path text representation in its fixed place, with its parser and
// the data that parsers of one shape differ in.
//
// A keyword matches only when "(" follows it directly, so no keyword claims
// a longer one that it begins ("Pci" of "PciRoot", "Acpi" of "AcpiEx"), and
// the order of the rows decides nothing. A keyword without a row here reads
// as a file name, like any unknown keyword.
#include "devpath/DevicePath.h"

#define ROW_ONLY(Keyword, Parser, Type, SubType, Preset) {Keyword, Parser, Type, SubType, Preset, {}}
#define FIELD(Offset, Width, Reader) {Offset, Width, Reader}

constexpr NODE_TEXT_ROW NodeTextTable[] = {
    // Hardware and ACPI nodes: rows 1 to 19.
    ROW_ONLY(u"Path", ParsePathNode, 0, 0, 0),
    ROW_ONLY(u"HardwarePath", ParseGenericRow, HARDWARE_DEVICE_PATH, 0, 0),
    // Pci(Device,Function): the node stores the function first.
    {u"Pci", ParseFieldNode, HARDWARE_DEVICE_PATH, 1, 6, {FIELD(5, 1, NumberField), FIELD(4, 1, NumberField)}},
    {u"PcCard", ParseFieldNode, HARDWARE_DEVICE_PATH, 2, 5, {FIELD(4, 1, NumberField)}},
    // MemoryMapped(MemoryType,StartAddress,EndAddress)
    {u"MemoryMapped",
     ParseFieldNode,
     HARDWARE_DEVICE_PATH,
     3,
     24,
     {FIELD(4, 4, NumberField), FIELD(8, 8, NumberField), FIELD(16, 8, NumberField)}},
    ROW_ONLY(u"VenHw", ParseVendorRow, HARDWARE_DEVICE_PATH, 4, 0),
    {u"Ctrl", ParseFieldNode, HARDWARE_DEVICE_PATH, 5, 8, {FIELD(4, 4, NumberField)}},
    // BMC(InterfaceType,BaseAddress): the address is hexadecimal, "0x" or not.
    {u"BMC", ParseFieldNode, HARDWARE_DEVICE_PATH, 6, 13, {FIELD(4, 1, NumberField), FIELD(5, 8, HexField)}},
    ROW_ONLY(u"AcpiPath", ParseGenericRow, ACPI_DEVICE_PATH, 0, 0),
    // Acpi(HID,UID)
    {u"Acpi", ParseFieldNode, ACPI_DEVICE_PATH, ACPI_DP, 12, {FIELD(4, 4, EisaIdField), FIELD(8, 4, NumberField)}},
    // Fixed PNP _HID, product number preset; the parameter is _UID.
    ROW_ONLY(u"PciRoot", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, 0x0A03),
    ROW_ONLY(u"PcieRoot", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, 0x0A08),
    ROW_ONLY(u"Floppy", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, 0x0604),
    ROW_ONLY(u"Keyboard", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, 0x0301),
    ROW_ONLY(u"Serial", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, 0x0501),
    ROW_ONLY(u"ParallelPort", ParseAcpiHidRow, ACPI_DEVICE_PATH, ACPI_DP, 0x0401),
    ROW_ONLY(u"AcpiEx", ParseAcpiExNode, ACPI_DEVICE_PATH, ACPI_EXTENDED_DP, 0),
    ROW_ONLY(u"AcpiExp", ParseAcpiExpNode, ACPI_DEVICE_PATH, ACPI_EXTENDED_DP, 0),
    ROW_ONLY(u"AcpiAdr", ParseAcpiAdrNode, ACPI_DEVICE_PATH, ACPI_ADR_DP, 0),

    // Messaging nodes, buses, storage and consoles: rows 20 to 41, "Msg" to
    // "DebugPort", go here.

    // Messaging nodes, network, USB classes and wireless: rows 42 to 70,
    // "MAC" to "BluetoothLE", go here.

    // Media and BBS nodes: rows 71 to 85, "MediaPath" to "BBS", go here.

    // Row 86, "Sata", goes here, last.

    ROW_ONLY(nullptr, nullptr, 0, 0, 0),
};

// Every field of a fixed-layout row lies inside its node.
static constexpr BOOLEAN FieldsFitTheirNodes() {
  for (const NODE_TEXT_ROW &Row : NodeTextTable) {
    for (const NODE_FIELD &Field : Row.Fields) {
      if (Field.Width != 0 && (Row.Parser != ParseFieldNode || Field.Offset + Field.Width > Row.Preset ||
                               Field.Offset < sizeof(EFI_DEVICE_PATH_PROTOCOL))) {
        return FALSE;
      }
    }
  }
  return TRUE;
}
static_assert(FieldsFitTheirNodes(), "a field lies outside its node");
