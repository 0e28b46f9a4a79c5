// Parsers of the media (type 4) and BBS (type 5) node keywords: hard-drive
// partitions, nodes that hold one GUID, RAM disks and the virtual disks,
// and legacy BBS boot devices. "MediaPath", "BbsPath", "VenMedia", "CDROM"
// and "Offset" need no parser of their own: their rows use the generic,
// vendor and field builders.
//
// Parameters are taken in text order with NextParam; nothing is reported.
// Keyword words are compared with the whole parameter, case-sensitive.
#include "devpath/DevicePathParsers.h"
#include "startup/Memory.h"

#define MAX_NODE_LENGTH 0xFFFF

#define HARD_DRIVE_NODE_LENGTH 42
#define GUID_NODE_LENGTH 20
#define RAM_DISK_NODE_LENGTH 38
#define BBS_FIXED_LENGTH 8  // header, device type and status flags

// Partition format and signature type of the "MBR" and "GPT" words.
#define PARTITION_FORMAT_MBR 1
#define PARTITION_FORMAT_GPT 2

// Disk-type GUIDs of the virtual-disk keywords, in the order of
// VIRTUAL_DISK_KIND, as the node stores them.
static const EFI_GUID gVirtualDiskTypeGuids[VirtualDiskKinds] = {
    {0x77AB535A, 0x45FC, 0x624B, {0x55, 0x60, 0xF7, 0xB2, 0x81, 0xD1, 0xF9, 0x6E}},
    {0x3D5ABD30, 0x4175, 0x87CE, {0x6D, 0x64, 0xD2, 0xAD, 0xE5, 0x23, 0xC4, 0xBB}},
    {0x5CEA02C9, 0x4D07, 0x69D3, {0x26, 0x9F, 0x44, 0x96, 0xFB, 0xE0, 0x96, 0xF9}},
    {0x08018188, 0x42CD, 0xBB48, {0x10, 0x0F, 0x53, 0x87, 0xD5, 0x3D, 0xED, 0x3D}},
};

// BBS device types: a word's type is its place in this list, from 1.
static const CHAR16 *const gBbsDeviceTypeWords[] = {u"Floppy", u"HD", u"CDROM", u"PCMCIA", u"USB", u"Network"};


// HD(Partition,Type,Signature,Start,Size). Type "MBR" takes a 32-bit
// signature, "GPT" a GUID; any other Type is the signature type as a
// number, with no partition format and no signature.
EFI_DEVICE_PATH_PROTOCOL *ParseHardDriveNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *PartitionText = NextParam(&Cursor);
  CHAR16 *TypeText = NextParam(&Cursor);
  CHAR16 *SignatureText = NextParam(&Cursor);
  CHAR16 *StartText = NextParam(&Cursor);
  CHAR16 *SizeText = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(Row->Type, Row->SubType, HARD_DRIVE_NODE_LENGTH);
  if (Node == nullptr) {
    return nullptr;
  }
  UINT8 *Bytes = NodeBytes(Node);
  WriteLittleEndian(Bytes + 4, 4, ParseNumber(PartitionText));
  if (TextIsWord(TypeText, u"MBR")) {
    Bytes[40] = Bytes[41] = PARTITION_FORMAT_MBR;
    WriteLittleEndian(Bytes + 24, 4, ParseNumber(SignatureText));
  } else if (TextIsWord(TypeText, u"GPT")) {
    Bytes[40] = Bytes[41] = PARTITION_FORMAT_GPT;
    ParseGuidText(SignatureText, (EFI_GUID *)(Bytes + 24));
  } else {
    Bytes[41] = (UINT8)ParseNumber(TypeText);
  }
  WriteLittleEndian(Bytes + 8, 8, ParseNumber(StartText));
  WriteLittleEndian(Bytes + 16, 8, ParseNumber(SizeText));
  return Node;
}

// Media(Guid), Fv(Guid), FvFile(Guid): a node of one GUID.
EFI_DEVICE_PATH_PROTOCOL *ParseGuidNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *GuidText = NextParam(&Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(Row->Type, Row->SubType, GUID_NODE_LENGTH);
  if (Node != nullptr) {
    ParseGuidText(GuidText, (EFI_GUID *)(NodeBytes(Node) + 4));
  }
  return Node;
}

// A RAM disk node from Start, End and Instance, the disk type GUID left
// zero; *Cursor is left at the parameters after them.
static EFI_DEVICE_PATH_PROTOCOL *CreateRamDiskNode(CHAR16 **Cursor, const NODE_TEXT_ROW *Row) {
  CHAR16 *StartText = NextParam(Cursor);
  CHAR16 *EndText = NextParam(Cursor);
  CHAR16 *InstanceText = NextParam(Cursor);
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateDeviceNode(Row->Type, Row->SubType, RAM_DISK_NODE_LENGTH);
  if (Node != nullptr) {
    WriteLittleEndian(NodeBytes(Node) + 4, 8, ParseNumber(StartText));
    WriteLittleEndian(NodeBytes(Node) + 12, 8, ParseNumber(EndText));
    WriteLittleEndian(NodeBytes(Node) + 36, 2, ParseNumber(InstanceText));
  }
  return Node;
}

// RamDisk(Start,End,Instance,TypeGuid)
EFI_DEVICE_PATH_PROTOCOL *ParseRamDiskNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateRamDiskNode(&Cursor, Row);
  if (Node != nullptr) {
    ParseGuidText(NextParam(&Cursor), (EFI_GUID *)(NodeBytes(Node) + 20));
  }
  return Node;
}

// VirtualDisk(Start,End,Instance) and its kin: a RAM disk node whose disk
// type is the GUID of the row's kind (the row's preset).
EFI_DEVICE_PATH_PROTOCOL *ParseVirtualDiskNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateRamDiskNode(&Cursor, Row);
  if (Node != nullptr) {
    CopyMem(NodeBytes(Node) + 20, &gVirtualDiskTypeGuids[Row->Preset], sizeof(EFI_GUID));
  }
  return Node;
}

// BBS(Type,Id,Flags): Type is a device-type word or a number; Id is the
// description, one byte per character and a zero byte. Null when the
// description makes the node too long for its 16-bit Length.
EFI_DEVICE_PATH_PROTOCOL *ParseBbsNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *TypeText = NextParam(&Cursor);
  CHAR16 *IdText = NextParam(&Cursor);
  CHAR16 *FlagsText = NextParam(&Cursor);
  UINTN MaxCharacters = MAX_NODE_LENGTH - BBS_FIXED_LENGTH - 1;
  UINTN Characters = BoundedStrLen(IdText, MaxCharacters + 1);
  if (Characters > MaxCharacters) {
    return nullptr;
  }
  EFI_DEVICE_PATH_PROTOCOL *Node =
      CreateDeviceNode(Row->Type, Row->SubType, (UINT16)(BBS_FIXED_LENGTH + Characters + 1));
  if (Node == nullptr) {
    return nullptr;
  }
  UINT8 *Bytes = NodeBytes(Node);
  UINT64 DeviceType = 0;
  UINTN Words = sizeof(gBbsDeviceTypeWords) / sizeof(gBbsDeviceTypeWords[0]);
  for (UINTN Index = 0; Index < Words && DeviceType == 0; Index++) {
    if (TextIsWord(TypeText, gBbsDeviceTypeWords[Index])) {
      DeviceType = Index + 1;
    }
  }
  WriteLittleEndian(Bytes + 4, 2, DeviceType != 0 ? DeviceType : ParseNumber(TypeText));
  WriteLittleEndian(Bytes + 6, 2, ParseNumber(FlagsText));
  for (UINTN Index = 0; Index < Characters; Index++) {
    Bytes[BBS_FIXED_LENGTH + Index] = (UINT8)IdText[Index];
  }
  return Node;
}
