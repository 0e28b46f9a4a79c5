// Text to device path: splits a path text into node texts (CutNodeText),
// finds each node's keyword row in gNodeTextTable (FindNodeTextRow), hands
// the parameter text to the row's parser and joins the nodes. Also the readers every parser
// shares: NextParam, ParseNumber, and the generic and file-path builders.
#include "devpath/DevicePathParsers.h"

// A file name and its terminator, CHAR16 each, after the header.
static constexpr UINTN MAX_FILE_PATH_CHARACTERS = (MAX_NODE_LENGTH - sizeof(FILEPATH_DEVICE_PATH)) / sizeof(CHAR16) - 1;
// Data bytes of a generic node, after the header.
static constexpr UINTN MAX_GENERIC_DATA_BYTES = MAX_NODE_LENGTH - sizeof(EFI_DEVICE_PATH_PROTOCOL);

// A private, writable pool copy of a text, terminator included.
static CHAR16 *DuplicateText(const CHAR16 *Text) {
  UINTN Length = BoundedStrLen(Text, ~(UINTN)0);
  return (CHAR16 *)PoolAllocateCopy((Length + 1) * sizeof(CHAR16), Text);
}

// Appends Node (which may be null) to *Path and frees the previous path.
// FALSE when the pool is exhausted; *Path is then untouched. A node that
// makes no valid path is refused by AppendDeviceNode whatever the pool
// holds: the path built so far is dropped with it and the next node starts
// a new one.
static BOOLEAN AppendToPath(EFI_DEVICE_PATH_PROTOCOL **Path, const EFI_DEVICE_PATH_PROTOCOL *Node) {
  EFI_DEVICE_PATH_PROTOCOL *NewPath = AppendDeviceNode(*Path, Node);
  if (NewPath == nullptr && (Node == nullptr || ValidateDeviceNode(Node))) {
    return FALSE;
  }
  PoolFree(*Path);
  *Path = NewPath;
  return TRUE;
}

EFI_DEVICE_PATH_PROTOCOL *ConvertTextToDevicePath(const CHAR16 *TextDevicePath) {
  if (TextDevicePath == nullptr || *TextDevicePath == 0) {
    return nullptr;
  }
  EFI_DEVICE_PATH_PROTOCOL *Path =
      (EFI_DEVICE_PATH_PROTOCOL *)PoolAllocateCopy(sizeof(gEndEntireNode), &gEndEntireNode);
  if (Path == nullptr) {
    return nullptr;
  }
  CHAR16 *WorkingCopy = DuplicateText(TextDevicePath);
  if (WorkingCopy == nullptr) {
    PoolFree(Path);
    return nullptr;
  }

  CHAR16 *Cursor = WorkingCopy;
  while (*Cursor != 0) {
    BOOLEAN InstanceEnd = FALSE;
    CHAR16 *NodeText = CutNodeText(&Cursor, &InstanceEnd);
    if (NodeText == nullptr) {
      // Unbalanced to the end: this node and the rest are dropped.
      break;
    }

    EFI_DEVICE_PATH_PROTOCOL *Node = ConvertTextToDeviceNode(NodeText);
    BOOLEAN Appended = AppendToPath(&Path, Node);
    PoolFree(Node);
    if (Appended && InstanceEnd) {
      EFI_DEVICE_PATH_PROTOCOL *EndInstance =
          (EFI_DEVICE_PATH_PROTOCOL *)PoolAllocateCopy(sizeof(gEndEntireNode), &gEndEntireNode);
      Appended = EndInstance != nullptr;
      if (Appended) {
        EndInstance->SubType = END_INSTANCE_DEVICE_PATH_SUBTYPE;
        Appended = AppendToPath(&Path, EndInstance);
        PoolFree(EndInstance);
      }
    }
    if (!Appended) {
      // Out of pool part-way: no path rather than one with nodes missing.
      PoolFree(Path);
      Path = nullptr;
      break;
    }
  }

  PoolFree(WorkingCopy);
  return Path;
}

EFI_DEVICE_PATH_PROTOCOL *ConvertTextToDeviceNode(const CHAR16 *TextDeviceNode) {
  if (TextDeviceNode == nullptr || *TextDeviceNode == 0) {
    return nullptr;
  }
  CHAR16 *NodeText = DuplicateText(TextDeviceNode);
  if (NodeText == nullptr) {
    return nullptr;
  }

  EFI_DEVICE_PATH_PROTOCOL *Node;
  const CHAR16 *Open;
  const CHAR16 *Close;
  const NODE_TEXT_ROW *Row = FindNodeTextRow(NodeText, &Open, &Close);
  // The parameters, from after "(" to the first ")", which becomes the
  // terminator of their copy. Without pool for the copy, or when no
  // keyword claims the text, it names a file (no two rows hold the same
  // keyword, so no other row could claim it).
  UINTN Count = 0;
  CHAR16 *ParamText = nullptr;
  if (Row != nullptr) {
    Count = (UINTN)(Close - Open);
    ParamText = (CHAR16 *)PoolAllocateCopy(Count * sizeof(CHAR16), Open + 1);
  }
  if (ParamText != nullptr) {
    ParamText[Count - 1] = 0;
    Node = Row->Parser(ParamText, Row);
    PoolFree(ParamText);
  } else {
    Node = ParseFilePathNode(NodeText);
  }
  PoolFree(NodeText);
  return Node;
}

CHAR16 *NextParam(CHAR16 **Cursor) {
  CHAR16 *Param = *Cursor;
  CHAR16 *End = Param;
  while (*End != 0 && *End != u',') {
    End++;
  }
  if (*End == u',') {
    *End++ = 0;
  }
  *Cursor = End;
  return Param;
}

UINT64 ParseNumber(const CHAR16 *Text) {
  UINT64 Value;
  ParseNumber64(Text, &Value);
  return Value;
}

EFI_DEVICE_PATH_PROTOCOL *ParseGenericNode(UINT8 Type, CHAR16 *ParamText) {
  CHAR16 *Cursor = ParamText;
  CHAR16 *SubTypeText = NextParam(&Cursor);
  CHAR16 *DataText = NextParam(&Cursor);
  // Two digits a byte; an odd last digit is dropped.
  UINTN Bytes = BoundedStrLen(DataText, 2 * (MAX_GENERIC_DATA_BYTES + 1)) / 2;
  if (Bytes > MAX_GENERIC_DATA_BYTES) {
    return nullptr;
  }
  EFI_DEVICE_PATH_PROTOCOL *Node = CreateNode<EFI_DEVICE_PATH_PROTOCOL>(Type, (UINT8)ParseNumber(SubTypeText), Bytes);
  if (Node != nullptr) {
    // Data that is not all hex digits leaves the bytes zero.
    HexTextToBytes(DataText, 2 * Bytes, VariableBytes(Node), Bytes);
  }
  return Node;
}

EFI_DEVICE_PATH_PROTOCOL *ParseFilePathNode(const CHAR16 *Text) {
  if (Text == nullptr) {
    return nullptr;
  }
  UINTN Count = BoundedStrLen(Text, MAX_FILE_PATH_CHARACTERS + 1);
  if (Count > MAX_FILE_PATH_CHARACTERS) {
    return nullptr;
  }
  UINTN Size = (Count + 1) * sizeof(CHAR16);
  FILEPATH_DEVICE_PATH *Node = CreateNode<FILEPATH_DEVICE_PATH>(MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP, Size);
  if (Node == nullptr) {
    return nullptr;
  }
  CopyMem(VariableBytes(Node), Text, Size);
  return &Node->Header;
}
