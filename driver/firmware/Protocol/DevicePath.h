// Binary device paths: the node header, the node types and subtypes, and
// the layout of every node kind the driver builds, as UEFI lays them out.
//
// Nodes are byte-packed and a node may start at any address (a Length may
// be odd), so every layout here is packed to one byte and has alignment 1.
// Fields wider than a byte may therefore be unaligned: write them byte by
// byte (devpath's little-endian field writer) or copy typed values in with
// CopyMem, never through a pointer to the field's own type. Every multi-byte
// number is little-endian unless its comment says otherwise.
//
// A layout ends where a node's fixed portion ends; the comment of a
// variable-length node says what follows it.
#pragma once

#include "driver/firmware/Uefi.h"

#pragma pack(push, 1)

struct EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];  // of the whole node, header included; little-endian
};
static_assert(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4, "device path node header");
static_assert(alignof(EFI_DEVICE_PATH_PROTOCOL) == 1, "device path nodes are byte-aligned");

// The largest node: the most that the 16-bit Length can say.
static constexpr UINTN MAX_NODE_LENGTH = 0xFFFF;

// Node types.
#define HARDWARE_DEVICE_PATH 0x01
#define ACPI_DEVICE_PATH 0x02
#define MESSAGING_DEVICE_PATH 0x03
#define MEDIA_DEVICE_PATH 0x04
#define BBS_DEVICE_PATH 0x05
#define END_DEVICE_PATH_TYPE 0x7F

// Subtypes of the end node.
#define END_ENTIRE_DEVICE_PATH_SUBTYPE 0xFF
#define END_INSTANCE_DEVICE_PATH_SUBTYPE 0x01

// ---------------------------------------------------------------------------
// Hardware nodes.

#define HW_PCI_DP 0x01
#define HW_PCCARD_DP 0x02
#define HW_MEMMAP_DP 0x03
#define HW_VENDOR_DP 0x04
#define HW_CONTROLLER_DP 0x05
#define HW_BMC_DP 0x06

struct PCI_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 Function;
  UINT8 Device;
};
static_assert(sizeof(PCI_DEVICE_PATH) == 6, "PCI node");

struct PCCARD_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 FunctionNumber;
};
static_assert(sizeof(PCCARD_DEVICE_PATH) == 5, "PC Card node");

struct MEMMAP_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 MemoryType;  // an EFI_MEMORY_TYPE
  UINT64 StartingAddress;
  UINT64 EndingAddress;
};
static_assert(sizeof(MEMMAP_DEVICE_PATH) == 24, "memory-mapped node");

// Hardware, messaging and media vendor nodes alike: the vendor's GUID, then
// the vendor's data, as many bytes as the Length leaves.
struct VENDOR_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_GUID Guid;
};
static_assert(sizeof(VENDOR_DEVICE_PATH) == 20, "vendor node");

struct CONTROLLER_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 ControllerNumber;
};
static_assert(sizeof(CONTROLLER_DEVICE_PATH) == 8, "controller node");

struct BMC_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 InterfaceType;
  UINT64 BaseAddress;
};
static_assert(sizeof(BMC_DEVICE_PATH) == 13, "BMC node");
static_assert(offsetof(BMC_DEVICE_PATH, BaseAddress) == 5, "BMC base address, unaligned");

// ---------------------------------------------------------------------------
// ACPI nodes.

#define ACPI_DP 0x01
#define ACPI_EXTENDED_DP 0x02
#define ACPI_ADR_DP 0x03

struct ACPI_HID_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 HID;  // compressed EISA ID
  UINT32 UID;
};
static_assert(sizeof(ACPI_HID_DEVICE_PATH) == 12, "ACPI node");

// Then three strings, each of single bytes ending in a zero byte: the
// _HIDSTR, the _UIDSTR and the _CIDSTR.
struct ACPI_EXTENDED_HID_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 HID;
  UINT32 UID;
  UINT32 CID;
};
static_assert(sizeof(ACPI_EXTENDED_HID_DEVICE_PATH) == 16, "expanded ACPI node");

// Then any further _ADR values, 32 bits each, as many as the Length leaves.
struct ACPI_ADR_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 ADR;
};
static_assert(sizeof(ACPI_ADR_DEVICE_PATH) == 8, "_ADR node");

// ---------------------------------------------------------------------------
// Messaging nodes.

#define MSG_ATAPI_DP 0x01
#define MSG_SCSI_DP 0x02
#define MSG_FIBRECHANNEL_DP 0x03
#define MSG_1394_DP 0x04
#define MSG_USB_DP 0x05
#define MSG_I2O_DP 0x06
#define MSG_INFINIBAND_DP 0x09
#define MSG_VENDOR_DP 0x0A
#define MSG_MAC_ADDR_DP 0x0B
#define MSG_IPv4_DP 0x0C
#define MSG_IPv6_DP 0x0D
#define MSG_UART_DP 0x0E
#define MSG_USB_CLASS_DP 0x0F
#define MSG_USB_WWID_DP 0x10
#define MSG_DEVICE_LOGICAL_UNIT_DP 0x11
#define MSG_SATA_DP 0x12
#define MSG_ISCSI_DP 0x13
#define MSG_VLAN_DP 0x14
#define MSG_FIBRECHANNELEX_DP 0x15
#define MSG_SASEX_DP 0x16
#define MSG_NVME_NAMESPACE_DP 0x17
#define MSG_URI_DP 0x18
#define MSG_UFS_DP 0x19
#define MSG_SD_DP 0x1A
#define MSG_BLUETOOTH_DP 0x1B
#define MSG_WIFI_DP 0x1C
#define MSG_EMMC_DP 0x1D
#define MSG_BLUETOOTH_LE_DP 0x1E
#define MSG_DNS_DP 0x1F

struct ATAPI_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 PrimarySecondary;  // 0 primary, 1 secondary channel
  UINT8 SlaveMaster;       // 0 master, 1 slave drive
  UINT16 Lun;
};
static_assert(sizeof(ATAPI_DEVICE_PATH) == 8, "ATAPI node");

struct SCSI_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT16 Pun;  // target ID on the bus
  UINT16 Lun;
};
static_assert(sizeof(SCSI_DEVICE_PATH) == 8, "SCSI node");

struct FIBRECHANNEL_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 Reserved;
  UINT64 WWN;  // world-wide name
  UINT64 Lun;
};
static_assert(sizeof(FIBRECHANNEL_DEVICE_PATH) == 24, "Fibre Channel node");

// The name and the unit number are stored most significant byte first.
struct FIBRECHANNELEX_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 Reserved;
  UINT8 WWN[8];
  UINT8 Lun[8];
};
static_assert(sizeof(FIBRECHANNELEX_DEVICE_PATH) == 24, "Fibre Channel Ex node");

struct F1394_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 Reserved;
  UINT64 Guid;  // the 1394 GUID, a 64-bit number
};
static_assert(sizeof(F1394_DEVICE_PATH) == 16, "1394 node");

struct USB_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 ParentPortNumber;
  UINT8 InterfaceNumber;
};
static_assert(sizeof(USB_DEVICE_PATH) == 6, "USB node");

struct I2O_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 Tid;  // target ID
};
static_assert(sizeof(I2O_DEVICE_PATH) == 8, "I2O node");

struct INFINIBAND_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 ResourceFlags;
  UINT8 PortGid[16];
  UINT64 ServiceId;  // or IOC GUID, as ResourceFlags says
  UINT64 TargetPortId;
  UINT64 DeviceId;
};
static_assert(sizeof(INFINIBAND_DEVICE_PATH) == 48, "InfiniBand node");

// A messaging vendor node of the UART flow control GUID.
struct UART_FLOW_CONTROL_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_GUID Guid;
  UINT32 FlowControlMap;  // 0 none, 1 hardware, 2 XON/XOFF
};
static_assert(sizeof(UART_FLOW_CONTROL_DEVICE_PATH) == 24, "UART flow control node");

// A messaging vendor node of the SAS GUID.
struct SAS_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_GUID Guid;
  UINT32 Reserved;
  UINT64 SasAddress;
  UINT64 Lun;
  UINT16 DeviceTopology;
  UINT16 RelativeTargetPort;
};
static_assert(sizeof(SAS_DEVICE_PATH) == 44, "SAS node");

// The address and the unit number are stored most significant byte first.
struct SASEX_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 SasAddress[8];
  UINT8 Lun[8];
  UINT16 DeviceTopology;
  UINT16 RelativeTargetPort;
};
static_assert(sizeof(SASEX_DEVICE_PATH) == 24, "SAS Ex node");

struct MAC_ADDR_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_MAC_ADDRESS MacAddress;  // zero-padded
  UINT8 IfType;                // network interface type
};
static_assert(sizeof(MAC_ADDR_DEVICE_PATH) == 37, "MAC address node");

struct IPv4_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_IPv4_ADDRESS LocalIpAddress;
  EFI_IPv4_ADDRESS RemoteIpAddress;
  UINT16 LocalPort;
  UINT16 RemotePort;
  UINT16 Protocol;         // an IP protocol number
  BOOLEAN StaticIpAddress;  // TRUE for a static address, FALSE for one from DHCP
  EFI_IPv4_ADDRESS GatewayIpAddress;
  EFI_IPv4_ADDRESS SubnetMask;
};
static_assert(sizeof(IPv4_DEVICE_PATH) == 27, "IPv4 node");
static_assert(offsetof(IPv4_DEVICE_PATH, GatewayIpAddress) == 19, "IPv4 gateway, unaligned");
static_assert(offsetof(IPv4_DEVICE_PATH, SubnetMask) == 23, "IPv4 subnet mask, unaligned");

struct IPv6_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_IPv6_ADDRESS LocalIpAddress;
  EFI_IPv6_ADDRESS RemoteIpAddress;
  UINT16 LocalPort;
  UINT16 RemotePort;
  UINT16 Protocol;
  UINT8 IpAddressOrigin;  // 0 static, 1 stateless auto-configuration, 2 stateful
  UINT8 PrefixLength;
  EFI_IPv6_ADDRESS GatewayIpAddress;
};
static_assert(sizeof(IPv6_DEVICE_PATH) == 60, "IPv6 node");

struct UART_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 Reserved;
  UINT64 BaudRate;  // 0 for the device's default
  UINT8 DataBits;   // 0 for the device's default
  UINT8 Parity;     // 0 default, 1 none, 2 even, 3 odd, 4 mark, 5 space
  UINT8 StopBits;   // 0 default, 1 one, 2 one and a half, 3 two
};
static_assert(sizeof(UART_DEVICE_PATH) == 19, "UART node");

struct USB_CLASS_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT16 VendorId;
  UINT16 ProductId;
  UINT8 DeviceClass;
  UINT8 DeviceSubClass;
  UINT8 DeviceProtocol;
};
static_assert(sizeof(USB_CLASS_DEVICE_PATH) == 11, "USB class node");

// Then the serial number, CHAR16 each, no terminator.
struct USB_WWID_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT16 InterfaceNumber;
  UINT16 VendorId;
  UINT16 ProductId;
};
static_assert(sizeof(USB_WWID_DEVICE_PATH) == 10, "USB WWID node");

struct DEVICE_LOGICAL_UNIT_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 Lun;
};
static_assert(sizeof(DEVICE_LOGICAL_UNIT_DEVICE_PATH) == 5, "device logical unit node");

struct SATA_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT16 HBAPortNumber;
  UINT16 PortMultiplierPortNumber;  // 0xFFFF: attached to the HBA port directly
  UINT16 Lun;
};
static_assert(sizeof(SATA_DEVICE_PATH) == 10, "SATA node");

// Then the target name, single bytes ending in a zero byte.
struct ISCSI_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT16 NetworkProtocol;  // 0 TCP
  UINT16 LoginOption;      // digests and authentication, bits below
  UINT8 Lun[8];            // most significant byte first
  UINT16 TargetPortalGroupTag;
};
static_assert(sizeof(ISCSI_DEVICE_PATH) == 18, "iSCSI node");

// Bits of the iSCSI LoginOption.
#define ISCSI_LOGIN_OPTION_HEADER_DIGEST_CRC32C 0x0002
#define ISCSI_LOGIN_OPTION_DATA_DIGEST_CRC32C 0x0008
#define ISCSI_LOGIN_OPTION_AUTHMETHOD_NONE 0x0800
#define ISCSI_LOGIN_OPTION_CHAP_UNI 0x1000

struct VLAN_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT16 VlanId;
};
static_assert(sizeof(VLAN_DEVICE_PATH) == 6, "VLAN node");

struct NVME_NAMESPACE_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 NamespaceId;
  UINT64 NamespaceUuid;  // the IEEE EUI-64
};
static_assert(sizeof(NVME_NAMESPACE_DEVICE_PATH) == 16, "NVMe namespace node");

// Then the URI, single bytes, no terminator.
struct URI_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
};
static_assert(sizeof(URI_DEVICE_PATH) == 4, "URI node");

struct UFS_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 Pun;  // target ID
  UINT8 Lun;
};
static_assert(sizeof(UFS_DEVICE_PATH) == 6, "UFS node");

struct SD_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 SlotNumber;
};
static_assert(sizeof(SD_DEVICE_PATH) == 5, "SD node");

struct EMMC_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 SlotNumber;
};
static_assert(sizeof(EMMC_DEVICE_PATH) == 5, "eMMC node");

struct BLUETOOTH_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 Address[6];  // the device address
};
static_assert(sizeof(BLUETOOTH_DEVICE_PATH) == 10, "Bluetooth node");

struct WIFI_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 SSId[32];  // zero-padded, no terminator of its own
};
static_assert(sizeof(WIFI_DEVICE_PATH) == 36, "Wi-Fi node");

struct BLUETOOTH_LE_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 Address[6];  // the device address
  UINT8 AddressType;  // 0 public, 1 random
};
static_assert(sizeof(BLUETOOTH_LE_DEVICE_PATH) == 11, "Bluetooth LE node");

// Then the servers, one EFI_IP_ADDRESS each, IPv4 or IPv6 as IsIPv6 says.
struct DNS_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 IsIPv6;
};
static_assert(sizeof(DNS_DEVICE_PATH) == 5, "DNS node");

// ---------------------------------------------------------------------------
// Media nodes.

#define MEDIA_HARDDRIVE_DP 0x01
#define MEDIA_CDROM_DP 0x02
#define MEDIA_VENDOR_DP 0x03
#define MEDIA_FILEPATH_DP 0x04
#define MEDIA_PROTOCOL_DP 0x05
#define MEDIA_PIWG_FW_FILE_DP 0x06
#define MEDIA_PIWG_FW_VOL_DP 0x07
#define MEDIA_RELATIVE_OFFSET_RANGE_DP 0x08
#define MEDIA_RAM_DISK_DP 0x09

struct HARDDRIVE_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 PartitionNumber;
  UINT64 PartitionStart;
  UINT64 PartitionSize;
  UINT8 Signature[16];  // a 32-bit MBR signature or a GPT partition GUID
  UINT8 MBRType;        // partition format, values below
  UINT8 SignatureType;  // values below
};
static_assert(sizeof(HARDDRIVE_DEVICE_PATH) == 42, "hard drive node");

// Partition formats (MBRType) and the signature types that go with them.
#define MBR_TYPE_PCAT 0x01
#define MBR_TYPE_EFI_PARTITION_TABLE_HEADER 0x02
#define SIGNATURE_TYPE_MBR 0x01
#define SIGNATURE_TYPE_GUID 0x02

struct CDROM_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 BootEntry;
  UINT64 PartitionStart;
  UINT64 PartitionSize;
};
static_assert(sizeof(CDROM_DEVICE_PATH) == 24, "CD-ROM node");

// Then the path name, CHAR16 each, terminator included.
struct FILEPATH_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
};
static_assert(sizeof(FILEPATH_DEVICE_PATH) == 4, "file path node");

struct MEDIA_PROTOCOL_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_GUID Protocol;
};
static_assert(sizeof(MEDIA_PROTOCOL_DEVICE_PATH) == 20, "media protocol node");

// A firmware file, by the file's name GUID.
struct MEDIA_FW_VOL_FILEPATH_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_GUID FvFileName;
};
static_assert(sizeof(MEDIA_FW_VOL_FILEPATH_DEVICE_PATH) == 20, "firmware file node");

// A firmware volume, by the volume's name GUID.
struct MEDIA_FW_VOL_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_GUID FvName;
};
static_assert(sizeof(MEDIA_FW_VOL_DEVICE_PATH) == 20, "firmware volume node");

struct MEDIA_RELATIVE_OFFSET_RANGE_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 Reserved;
  UINT64 StartingOffset;
  UINT64 EndingOffset;
};
static_assert(sizeof(MEDIA_RELATIVE_OFFSET_RANGE_DEVICE_PATH) == 24, "relative offset range node");

struct MEDIA_RAM_DISK_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT64 StartingAddress;
  UINT64 EndingAddress;
  EFI_GUID TypeGuid;  // the disk type
  UINT16 Instance;
};
static_assert(sizeof(MEDIA_RAM_DISK_DEVICE_PATH) == 38, "RAM disk node");
static_assert(offsetof(MEDIA_RAM_DISK_DEVICE_PATH, StartingAddress) == 4, "RAM disk start, unaligned");
static_assert(offsetof(MEDIA_RAM_DISK_DEVICE_PATH, EndingAddress) == 12, "RAM disk end, unaligned");

// ---------------------------------------------------------------------------
// BBS nodes: legacy boot devices.

#define BBS_BBS_DP 0x01

// Then the description, single bytes ending in a zero byte.
struct BBS_BBS_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT16 DeviceType;
  UINT16 StatusFlag;
};
static_assert(sizeof(BBS_BBS_DEVICE_PATH) == 8, "BBS node");

#pragma pack(pop)
