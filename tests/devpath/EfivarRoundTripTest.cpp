// A round trip through libefivar, an independent formatter of binary
// device paths: text -> our binary -> libefivar's text -> our binary again.
// Both binaries must be equal for every kind libefivar prints faithfully.
// libefivar's headers declare C functions without C++ linkage guards.
extern "C" {
#include <efivar/efivar.h>
}

#include <string>
#include <vector>

#include "tests/devpath/DevpathTestSupport.h"

namespace devpath_test {
namespace {

// libefivar's text of a valid binary path (its first instance only).
std::string FormatWithEfivar(const Bytes &path) {
  const auto *dp = reinterpret_cast<const_efidp>(path.data());
  const ssize_t needed = efidp_format_device_path(nullptr, 0, dp, static_cast<ssize_t>(path.size()));
  if (needed <= 0) {
    return "";
  }
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  efidp_format_device_path(text.data(), text.size(), dp, static_cast<ssize_t>(path.size()));
  text.resize(text.find('\0'));
  return text;
}

const std::string kGuid = "07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB25";

// Every keyword that converts, in several forms.
const std::vector<std::string> kFaithful = {
    "PciRoot(0x0)/Pci(0x16,0x19)",
    "PciRoot(0x0)/Pci(0x0,0x3)",
    "PciRoot(0x0)/Pci(0x3,0x7)",
    "PciRoot(0x0)/Pci(0x8,0x8)",
    "PciRoot(0xFFFFFFFF)/Pci(0xFF,0xFF)/Pci(0x1F,0x7)",
    "PcieRoot(0x1)/Pci(0x1C,0x4)/Pci(0x0,0x0)",
    "Floppy(0x0)",
    "Keyboard(0x2)",
    "Serial(0x1)",
    // Acpi with a hardware ID that libefivar names: it prints the keyword.
    "Acpi(PNP0A03,0x5)",
    "Acpi(PNP0A08,0)",
    "Acpi(PNP0604,1)",
    "Acpi(PNP0301,2)",
    "Acpi(PNP0501,3)",
    "PcCard(0x3)",
    "PcCard(0x1FF)",
    "MemoryMapped(11,0x1000,0x1FFF)",
    "MemoryMapped(0xFFFFFFFF,0xFFFFFFFFFFFFFFFF,0x0)",
    "VenHw(" + kGuid + ")",
    "VenHw(" + kGuid + ",0102)",
    "VenHw(" + kGuid + ",123)",
    "VenHw(" + kGuid + ",DEADBEEF00112233445566778899AABBCCDDEEFF)",
    "VenHw({" + kGuid + "},01)",
    "Ctrl(0x5)",
    "Ctrl(0xFFFFFFFF)",
    "BMC(1,0x100)",
    "BMC(255,0x1234567890ABCDEF)",
    "AcpiAdr(0x1)",
    "AcpiAdr(0x80010100,0x2,0x3)",
    "HardwarePath(9,ABCD)",
    "HardwarePath(0x20,)",
    "Path(0x20,0x30,FFFF)",
    "Path(6,1,0102030405)",
    "Path(1,1,0300)",
    "PciRoot(0x0)/AcpiAdr(0x1)/Pci(0x2,0x0)/Ctrl(0x0)/BMC(2,0xFED00000)",
    // Messaging nodes: buses, storage and consoles.
    "Msg(5,0102)",
    "Ata(Primary,Master,0)",
    "Ata(Secondary,Slave,3)",
    "Ata(0xFF,0xFF,0xFFFF)",
    // libefivar prints Fibre Channel numbers in hex without "0x": they read
    // back alike below ten only.
    "Fibre(0x9,0x1)",
    "I1394(1234)",
    "I1394(0x1234567890ABCDEF)",
    "PciRoot(0x0)/Pci(0x14,0x0)/USB(0x1,0x0)/USB(0x2,0x1)",
    "I2O(5)",
    "Infiniband(1,,2,3,4)",
    "VenMsg(" + kGuid + ")",
    "VenMsg(" + kGuid + ",DEADBEEF00112233)",
    "VenPcAnsi()/VenVt100()",
    "VenVt100Plus(ignored)",
    "VenUtf8()",
    "DebugPort()",
    // Likewise SAS numbers; without topology nothing else is lost.
    "SAS(0x1,0x2,0x3,NoTopology,0,0,0,0)",
    "UFS(0xFF,0x80)",
    "SD(0xFF)",
    "eMMC(0xFF)",
    "Sata(0xFFFF,0x8000,0x1234)",
    "PciRoot(0x0)/Pci(0x1F,0x2)/Sata(0x0,,0x0)",
    "HD(1,MBR,0xAB,0x22,0x100)",
    "HD(1,MBR,0xFFFFFFFF,0x0,0xFFFFFFFFFFFFFFFF)",
    "HD(2,GPT," + kGuid + ",0x800,0x100000)",
    "HD(3,GPT,07AC0304-8AA0,0x800,0x100000)",
    "HD(1,0,0,0x22,0x100)",
    "HD(1,mbr,5)",
    "CDROM(3)",
    "CDROM(0x1,0x100,0x2000)",
    "VenMedia(" + kGuid + ")",
    "VenMedia(" + kGuid + ",0102)",
    "Media(" + kGuid + ")",
    "FvFile(" + kGuid + ")",
    "Offset(0x100,0x1FF)",
    "VirtualDisk(0x100,0x1FF,0)",
    "VirtualCD(0x1000,0x1FFF,2)",
    "PersistentVirtualDisk(0x100,0x1FF,0xFFFF)",
    "PersistentVirtualCD(0x100,0x1FF,3)",
    "BbsPath(2,ABCD)",
    "BBS(HD,Disk,0)",
    "BBS(7,,0x100)",
    "BBS(Network,PXE,0x1)",
    "BBS(Floppy,A,0)",
    "PciRoot(0x0)/Pci(0x1,0x0)/HD(2,GPT," + kGuid + ",0x800,0x100000)",
    "MAC(001122334455,0x1)",
    "MAC(00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF,0x2)",
    "Uart(115200,8,N,1)",
    "Uart(9600,7,E,1.5)",
    "Uart(DEFAULT,DEFAULT,D,D)",
    "Uart(300,5,O,2)",
    "Uart(1200,6,M,2)",
    "Uart(1200,6,S,1)",
    "UsbClass(0x046D,0xC52B,3,1,2)",
    "UsbClass(0x046D,,3,1,2)",
    "UsbAudio(0x1,0x2,1,0)",
    "UsbCDCControl(0x1,0x2,2,0)",
    "UsbHID(0x46D,0xC52B,1,1)",
    "UsbImage(0x1,0x2,1,1)",
    "UsbPrinter(0x1,0x2,1,2)",
    "UsbMassStorage(0x1,0x2,6,0x50)",
    "UsbHub(0x1,0x2,0,0)",
    "UsbCDCData(0x1,0x2,0,0)",
    "UsbSmartCard(0x1,0x2,0,0)",
    "UsbVideo(0x1,0x2,1,0)",
    "UsbDiagnostic(0x1,0x2,1,1)",
    "UsbDeviceFirmwareUpdate(0x1234,0x5678,1)",
    "UsbIrdaBridge(0x1234,0x5678,0)",
    "UsbTestAndMeasurement(0x1234,0x5678,1)",
    "Unit(3)",
    "Unit(0xFF)",
    "Vlan(100)",
    "Vlan(4095)",
    "iSCSI(iqn.2001-04.com.example:disk,1,0x1,None,None,CHAP_UNI,UDP)",
    "iSCSI(iqn,0x10,0x0102030405060708,None,None,CHAP_BI,TCP)",
    "iSCSI(iqn,0,0x0,None,None,None,TCP)",
    "Dns(10.0.0.1,10.0.0.2,192.168.0.1)",
    "Uri(abc)",
    "PciRoot(0x0)/Pci(0x1C,0x0)/MAC(001122334455,0x1)/Vlan(100)/Uri(http://example.com/boot.efi)",
};

// Kinds left out, each with the reason.
struct Excluded {
  std::string text;
  std::string reason;
};
const std::vector<Excluded> kExcluded = {
    {"ParallelPort(0x0)", "libefivar prints Acpi(0x040141d0,...): a hardware ID as a number, which the text "
                          "form reads as three letters and a product number"},
    {"Acpi(HWP0002,0x10)", "libefivar prints hardware IDs without a keyword of their own as a number"},
    {"AcpiEx(PNP0A03,PNP0A08,1,A,B,C)", "libefivar prints expanded ACPI nodes lossily (PciRoot(C))"},
    {"AcpiExp(PNP0A03,0,AB)", "libefivar prints expanded ACPI nodes lossily (PciRoot(AB))"},
    {"AcpiPath(9,ABCD)", "libefivar drops the last data byte of a generic ACPI node"},
    {"Scsi(1,2)", "libefivar prints SCSI(...), a keyword in another case, which reads as a file name"},
    {"Fibre(0x1234,0x1)", "libefivar prints the numbers in hex without \"0x\", which read back as decimal"},
    {"FibreEx(0x1234,0x1)", "libefivar prints the node as Fibre(...), which reads back as the other subtype"},
    {"I2O(0xFFFFFFFF)", "libefivar prints the target ID as a signed number (-1)"},
    {"Infiniband(0x10," + kGuid + ",0x20,3,4)", "libefivar prints the flags and the port GID as bare hex digits"},
    {"UartFlowCtrl(XonXoff)", "libefivar prints UartFlowControl(...), which no keyword reads"},
    {"SAS(0x1234,0x5,0x1,SATA,External,Expanded,2,0)", "libefivar prints the numbers in hex without \"0x\" and "
                                                       "leaves out the reserved field"},
    {"SasEx(0x1234,0x1,0x2,SAS,Internal,Direct,0)", "libefivar cuts its text of the node short after \"S\""},
    {"NVMe(0x1,01-02-03-04-05-06-07-08)", "libefivar prints the EUI-64 groups in the reverse order"},
    {"Pci(1,2),Pci(3,4)", "libefivar prints only the first instance of a multi-instance path"},
    {"\\EFI\\BOOT\\BOOTX64.EFI", "libefivar wraps file-path nodes as File(...), which no keyword reads"},
    {"HD(1,2,0,0x22,0x100)", "libefivar prints a signature type of 2 as GPT whatever the partition format, which "
                             "reads back with format 2"},
    {"Fv(" + kGuid + ")", "libefivar prints firmware volumes as FvVol(...), which no keyword reads"},
    {"RamDisk(0x100,0x1FF,1," + kGuid + ")", "libefivar prints RAM disks of other disk types as Ramdisk(...), "
                                              "which no keyword reads"},
    {"MediaPath(0x10,ABCD)", "libefivar drops the last data byte of a generic media node"},
    {"IPv4(192.168.0.1,TCP,Static,192.168.0.2,192.168.0.254,255.255.255.0)",
     "libefivar runs the two addresses together without a separator, prints the protocol in hex without "
     "\"0x\" and leaves out the gateway and the mask"},
    {"IPv6(::1,UDP,StatelessAutoConfigure,::2,64,fe80::1)",
     "libefivar prints IPv6 addresses with their bytes swapped in pairs, joined by \"<->\", and leaves out the "
     "prefix length and the gateway"},
    {"Uart(0,0,D,D)", "libefivar prints a baud rate and data bits of 0 as the defaults 115200 and 8"},
    {"UsbWireless(0x1,0x2,1,1)", "libefivar prints the wireless class as UsbClass(...) without its class, so the "
                                 "subclass is read back as the class"},
    {"UsbWwid(0x1234,0x5678,0,\"AB\")", "libefivar prints the IDs in hex without \"0x\", read back as decimal, "
                                        "and drops the last serial-number character"},
    {"iSCSI(iqn,1,0x1,CRC32C,CRC32C,None,TCP)", "libefivar prints a CRC32C digest as CRC32, which reads back as "
                                               "no digest"},
    {"Dns(fe80::1)", "libefivar prints IPv6 servers with their bytes swapped in pairs"},
    {"Bluetooth(001122334455)", "libefivar prints the address with colons, which the 12-digit address refuses"},
    {"BluetoothLE(001122334455,1)", "libefivar prints the address with colons, which the 12-digit address refuses"},
    {"Wi-Fi(Lab)", "libefivar prints the SSID as 32 colon-separated hex bytes, which read back as a 32-character "
                   "SSID"},
};

using EfivarRoundTrip = PoolTest;

TEST_F(EfivarRoundTrip, FaithfulKindsConvertBackToTheSameBytes) {
  for (const auto &text : kFaithful) {
    const std::u16string ours = U16(text);
    auto first = Owned([&] { return ConvertTextToDevicePath(ours.c_str()); }, false);
    ASSERT_TRUE(first) << text;
    const std::string formatted = FormatWithEfivar(*first);
    ASSERT_FALSE(formatted.empty()) << text;
    const std::u16string again = U16(formatted);
    auto second = Owned([&] { return ConvertTextToDevicePath(again.c_str()); }, false);
    ASSERT_TRUE(second) << text << " -> " << formatted;
    EXPECT_EQ(ToHex(*second), ToHex(*first)) << text << " -> " << formatted;
  }
}

TEST_F(EfivarRoundTrip, ExcludedKindsStillFormat) {
  // Left out of the comparison for the reasons recorded; libefivar must
  // still accept our bytes as a device path.
  for (const auto &excluded : kExcluded) {
    const std::u16string ours = U16(excluded.text);
    auto bytes = Owned([&] { return ConvertTextToDevicePath(ours.c_str()); }, false);
    ASSERT_TRUE(bytes) << excluded.text;
    EXPECT_FALSE(FormatWithEfivar(*bytes).empty()) << excluded.text << " (" << excluded.reason << ")";
  }
}

}  // namespace
}  // namespace devpath_test
