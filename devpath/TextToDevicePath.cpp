// Text to device path: splits a path text into node texts (CutNodeText),
// finds each node's keyword row in gNodeTextTable (FindNodeTextRow), hands
// the parameter text to the row's parser and joins the nodes. Also the readers every parser
// shares: NextParam, ParseNumber, and the generic and file-path builders.
#include "devpath/DevicePathParsers.h"

UINTN gNodesTooLong;

EFI_DEVICE_PATH_PROTOCOL *RefuseNodeTooLong(VOID) {
  gNodesTooLong++;
  return nullptr;
}

EFI_DEVICE_PATH_PROTOCOL *CreateSizedNode(UINT8 Type, UINT8 SubType, UINTN Length) {
  if (Length > MAX_NODE_LENGTH) {
    return RefuseNodeTooLong();
  }
  return CreateDeviceNode(Type, SubType, (UINT16)Length);
}

// What makes a conversion give null however far it got: allocations the
// pool refused and nodes too long for their Length, so far. Both only grow.
static UINTN ConversionFailures(VOID) { return gPoolRefusals + gNodesTooLong; }

// Result, or null (and Result freed) when anything failed since Failures
// was taken: a conversion's answer is exact or null.
static EFI_DEVICE_PATH_PROTOCOL *ExactOrNull(EFI_DEVICE_PATH_PROTOCOL *Result, UINTN Failures) {
  if (ConversionFailures() != Failures) {
    PoolFree(Result);
    return nullptr;
  }
  return Result;
}

// A private, writable pool copy of a text, terminator included.
static CHAR16 *DuplicateText(const CHAR16 *Text) {
  UINTN Length = BoundedStrLen(Text, ~(UINTN)0);
  return (CHAR16 *)PoolAllocateCopy((Length + 1) * sizeof(CHAR16), Text);
}

// Appends Node (which may be null) to *Path and frees the previous path.
// When the pool fails the path becomes null, and the conversion's answer
// with it (ExactOrNull). A node that makes no valid path is refused by
// AppendDeviceNode whatever the pool holds: the path built so far is
// dropped with it and the next node starts a new one.
static VOID AppendToPath(EFI_DEVICE_PATH_PROTOCOL **Path, const EFI_DEVICE_PATH_PROTOCOL *Node) {
  EFI_DEVICE_PATH_PROTOCOL *NewPath = AppendDeviceNode(*Path, Node);
  PoolFree(*Path);
  *Path = NewPath;
}

EFI_DEVICE_PATH_PROTOCOL *ConvertTextToDevicePath(const CHAR16 *TextDevicePath) {
  if (TextDevicePath == nullptr || *TextDevicePath == 0) {
    return nullptr;
  }
  const UINTN Failures = ConversionFailures();
  EFI_DEVICE_PATH_PROTOCOL *Path =
      (EFI_DEVICE_PATH_PROTOCOL *)PoolAllocateCopy(sizeof(gEndEntireNode), &gEndEntireNode);
  CHAR16 *WorkingCopy = DuplicateText(TextDevicePath);

  // Once anything has failed the answer is null: nothing more is converted.
  CHAR16 *Cursor = WorkingCopy;
  while (ConversionFailures() == Failures && *Cursor != 0) {
    BOOLEAN InstanceEnd = FALSE;
    CHAR16 *NodeText = CutNodeText(&Cursor, &InstanceEnd);
    if (NodeText == nullptr) {
      // Unbalanced to the end: this node and the rest are dropped.
      break;
    }

    EFI_DEVICE_PATH_PROTOCOL *Node = ConvertTextToDeviceNode(NodeText);
    AppendToPath(&Path, Node);
    PoolFree(Node);
    if (InstanceEnd) {
      EFI_DEVICE_PATH_PROTOCOL *EndInstance =
          (EFI_DEVICE_PATH_PROTOCOL *)PoolAllocateCopy(sizeof(gEndEntireNode), &gEndEntireNode);
      if (EndInstance != nullptr) {
        EndInstance->SubType = END_INSTANCE_DEVICE_PATH_SUBTYPE;
        AppendToPath(&Path, EndInstance);
        PoolFree(EndInstance);
      }
    }
  }

  PoolFree(WorkingCopy);
  return ExactOrNull(Path, Failures);
}

EFI_DEVICE_PATH_PROTOCOL *ConvertTextToDeviceNode(const CHAR16 *TextDeviceNode) {
  if (TextDeviceNode == nullptr || *TextDeviceNode == 0) {
    return nullptr;
  }
  const UINTN Failures = ConversionFailures();
  CHAR16 *NodeText = DuplicateText(TextDeviceNode);
  if (NodeText == nullptr) {
    return nullptr;
  }

  EFI_DEVICE_PATH_PROTOCOL *Node = nullptr;
  const CHAR16 *Open;
  const CHAR16 *Close;
  const NODE_TEXT_ROW *Row = FindNodeTextRow(NodeText, &Open, &Close);
  if (Row == nullptr) {
    // No keyword claims the text: it names a file.
    Node = ParseFilePathNode(NodeText);
  } else {
    // The parameters, from after "(" to the first ")", which becomes the
    // terminator of their copy.
    UINTN Count = (UINTN)(Close - Open);
    CHAR16 *ParamText = (CHAR16 *)PoolAllocateCopy(Count * sizeof(CHAR16), Open + 1);
    if (ParamText != nullptr) {
      ParamText[Count - 1] = 0;
      Node = Row->Parser(ParamText, Row);
      PoolFree(ParamText);
    }
  }
  PoolFree(NodeText);
  return ExactOrNull(Node, Failures);
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
  // Two digits a byte; an odd last digit is dropped. One byte more than
  // fits is enough to refuse the node.
  UINTN Bytes = BoundedStrLen(DataText, 2 * (MAX_NODE_LENGTH + 1)) / 2;
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
  // One character more than fits is enough to refuse the node.
  UINTN Count = BoundedStrLen(Text, MAX_NODE_LENGTH / sizeof(CHAR16));
  UINTN Size = (Count + 1) * sizeof(CHAR16);
  FILEPATH_DEVICE_PATH *Node = CreateNode<FILEPATH_DEVICE_PATH>(MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP, Size);
  if (Node == nullptr) {
    return nullptr;
  }
  CopyMem(VariableBytes(Node), Text, Size);
  return &Node->Header;
}
