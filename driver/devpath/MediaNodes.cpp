// Parsers of the media (type 4) and BBS (type 5) node keywords: hard-drive
// partitions, the virtual disks and legacy BBS boot devices. "MediaPath",
// "BbsPath", "VenMedia", "CDROM", "Offset", "Media", "Fv", "FvFile" and
// "RamDisk" need no parser of their own: their rows use the generic, vendor
// and field builders.
//
// Parameters are taken in text order with NextParam; nothing is reported.
// Keyword words are compared with the whole parameter, case-sensitive.
#include "driver/devpath/DevicePathParsers.h"

// Disk-type GUIDs of the virtual-disk keywords, in the order of
// VIRTUAL_DISK_KIND, as the node stores them.
const EFI_GUID gVirtualDiskTypeGuids[VirtualDiskKinds] = {
    {0x77AB535A, 0x45FC, 0x624B, {0x55, 0x60, 0xF7, 0xB2, 0x81, 0xD1, 0xF9, 0x6E}},
    {0x3D5ABD30, 0x4175, 0x87CE, {0x6D, 0x64, 0xD2, 0xAD, 0xE5, 0x23, 0xC4, 0xBB}},
    {0x5CEA02C9, 0x4D07, 0x69D3, {0x26, 0x9F, 0x44, 0x96, 0xFB, 0xE0, 0x96, 0xF9}},
    {0x08018188, 0x42CD, 0xBB48, {0x10, 0x0F, 0x53, 0x87, 0xD5, 0x3D, 0xED, 0x3D}},
};

// BBS device types: a word's type is its place in this list, from 1.
const CHAR8 gBbsDeviceTypeWords[] = "Floppy\0HD\0CDROM\0PCMCIA\0USB\0Network\0";
static constexpr UINTN BBS_DEVICE_TYPE_WORDS = 6;

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
  HARDDRIVE_DEVICE_PATH *Node = CreateNode<HARDDRIVE_DEVICE_PATH>(Row->Type, Row->SubType);
  if (Node == nullptr) {
    return nullptr;
  }
  SetField(Node, &HARDDRIVE_DEVICE_PATH::PartitionNumber, ParseNumber(PartitionText));
  if (TextIsWord(TypeText, HARD_DRIVE_MBR_WORD)) {
    SetField(Node, &HARDDRIVE_DEVICE_PATH::MBRType, MBR_TYPE_PCAT);
    SetField(Node, &HARDDRIVE_DEVICE_PATH::SignatureType, SIGNATURE_TYPE_MBR);
    // A 32-bit signature in the first bytes of the field.
    WriteLittleEndian(Node->Signature, sizeof(UINT32), ParseNumber(SignatureText));
  } else if (TextIsWord(TypeText, HARD_DRIVE_GPT_WORD)) {
    SetField(Node, &HARDDRIVE_DEVICE_PATH::MBRType, MBR_TYPE_EFI_PARTITION_TABLE_HEADER);
    SetField(Node, &HARDDRIVE_DEVICE_PATH::SignatureType, SIGNATURE_TYPE_GUID);
    SetGuidField(Node, &HARDDRIVE_DEVICE_PATH::Signature, SignatureText);
  } else {
    SetField(Node, &HARDDRIVE_DEVICE_PATH::SignatureType, ParseNumber(TypeText));
  }
  SetField(Node, &HARDDRIVE_DEVICE_PATH::PartitionStart, ParseNumber(StartText));
  SetField(Node, &HARDDRIVE_DEVICE_PATH::PartitionSize, ParseNumber(SizeText));
  return &Node->Header;
}

// VirtualDisk(Start,End,Instance) and its kin: a RAM disk node whose disk
// type is the GUID of the row's kind (the row's preset).
EFI_DEVICE_PATH_PROTOCOL *ParseVirtualDiskNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *StartText = NextParam(&Cursor);
  CHAR16 *EndText = NextParam(&Cursor);
  CHAR16 *InstanceText = NextParam(&Cursor);
  MEDIA_RAM_DISK_DEVICE_PATH *Node = CreateNode<MEDIA_RAM_DISK_DEVICE_PATH>(Row->Type, Row->SubType);
  if (Node == nullptr) {
    return nullptr;
  }
  SetField(Node, &MEDIA_RAM_DISK_DEVICE_PATH::StartingAddress, ParseNumber(StartText));
  SetField(Node, &MEDIA_RAM_DISK_DEVICE_PATH::EndingAddress, ParseNumber(EndText));
  SetField(Node, &MEDIA_RAM_DISK_DEVICE_PATH::Instance, ParseNumber(InstanceText));
  CopyMem(FieldBytes(Node, &MEDIA_RAM_DISK_DEVICE_PATH::TypeGuid), &gVirtualDiskTypeGuids[Row->Preset],
          sizeof(EFI_GUID));
  return &Node->Header;
}

// BBS(Type,Id,Flags): Type is a device-type word or a number; Id is the
// description, one byte per character and a zero byte. Null
// (RefuseNodeTooLong) when the description makes the node too long for its
// 16-bit Length.
EFI_DEVICE_PATH_PROTOCOL *ParseBbsNode(CHAR16 *ParamText, const NODE_TEXT_ROW *Row) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *TypeText = NextParam(&Cursor);
  CHAR16 *IdText = NextParam(&Cursor);
  CHAR16 *FlagsText = NextParam(&Cursor);
  // The description and its zero byte follow the fixed portion.
  // One character more than fits is enough to refuse the node.
  UINTN Characters = BoundedStrLen(IdText, MAX_NODE_LENGTH);
  BBS_BBS_DEVICE_PATH *Node = CreateNode<BBS_BBS_DEVICE_PATH>(Row->Type, Row->SubType, Characters + 1);
  if (Node == nullptr) {
    return nullptr;
  }
  UINTN DeviceType = WordIndex(TypeText, gBbsDeviceTypeWords);
  SetField(Node, &BBS_BBS_DEVICE_PATH::DeviceType,
           DeviceType < BBS_DEVICE_TYPE_WORDS ? DeviceType + 1 : ParseNumber(TypeText));
  SetField(Node, &BBS_BBS_DEVICE_PATH::StatusFlag, ParseNumber(FlagsText));
  UINT8 *Description = VariableBytes(Node);
  for (UINTN Index = 0; Index < Characters; Index++) {
    Description[Index] = (UINT8)IdText[Index];
  }
  return &Node->Header;
}
