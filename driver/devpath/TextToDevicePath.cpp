// Text to device path: splits a path text into node texts (CutNodeText),
// finds each node's keyword row in gNodeTextTables (FindNodeTextRow), hands
// the parameter text to the row's parser and joins the nodes. Also the readers every parser
// shares: NextParam, ParseNumber, and the generic and file-path builders.
#include "driver/devpath/DevicePathParsers.h"

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

// The path a conversion builds: one pool buffer, grown to twice its size
// when a node does not fit, into which each node is copied once. A path is
// measured and checked node by node as it grows, never walked again.
typedef struct {
  UINT8 *Bytes;      // null until the first node, and when growing failed
  UINTN Size;        // bytes of the nodes so far, without the end node
  UINTN Capacity;    // bytes of the buffer
  BOOLEAN Dropped;   // a node that makes no valid path dropped the path
} PATH_BUILDER;

// The first buffer: room for a few nodes of the common kinds.
static constexpr UINTN FIRST_PATH_CAPACITY = 64;

static BOOLEAN IsEndEntireNode(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return Node->Type == END_DEVICE_PATH_TYPE && Node->SubType == END_ENTIRE_DEVICE_PATH_SUBTYPE;
}

// Appends Node (which may be null) as AppendDeviceNode would append it to
// the path so far. A node that makes no valid path drops the path built so
// far, whatever the pool holds, and the next node starts a new one; a null
// node leaves the path as it is, and so does an end node of the whole
// path, which AppendDeviceNode's copy would end at. When the buffer cannot
// grow, the pool's refusal makes the conversion's answer null (ExactOrNull).
static VOID AppendToPath(PATH_BUILDER *Path, const EFI_DEVICE_PATH_PROTOCOL *Node) {
  if (Node != nullptr && !ValidateDeviceNode(Node)) {
    Path->Dropped = TRUE;
    return;
  }
  if (Path->Dropped) {
    Path->Dropped = FALSE;
    Path->Size = 0;
  }
  if (Node == nullptr || IsEndEntireNode(Node)) {
    return;
  }
  UINTN Length = DevicePathNodeLength(Node);
  UINTN Needed = Path->Size + Length + sizeof(gEndEntireNode);
  if (Needed > Path->Capacity) {
    UINTN Capacity = Path->Capacity == 0 ? FIRST_PATH_CAPACITY : 2 * Path->Capacity;
    if (Capacity < Needed) {
      Capacity = Needed;
    }
    UINT8 *Grown = (UINT8 *)PoolReallocate(Path->Size, Capacity, Path->Bytes);
    if (Grown == nullptr) {
      return;
    }
    Path->Bytes = Grown;
    Path->Capacity = Capacity;
  }
  CopyMem(Path->Bytes + Path->Size, Node, Length);
  Path->Size += Length;
}

// The built path closed by its end node, in a block of exactly its size;
// null for a dropped path and when the pool fails. The builder's buffer is
// spent either way.
static EFI_DEVICE_PATH_PROTOCOL *FinishPath(PATH_BUILDER *Path) {
  if (Path->Dropped) {
    PoolFree(Path->Bytes);
    return nullptr;
  }
  UINTN Size = Path->Size + sizeof(gEndEntireNode);
  UINT8 *Bytes = Path->Bytes;
  if (Path->Capacity != Size) {
    Bytes = (UINT8 *)PoolReallocate(Path->Size, Size, Path->Bytes);
    PoolFree(Bytes == nullptr ? Path->Bytes : nullptr);
    if (Bytes == nullptr) {
      return nullptr;
    }
  }
  CopyMem(Bytes + Path->Size, &gEndEntireNode, sizeof(gEndEntireNode));
  return (EFI_DEVICE_PATH_PROTOCOL *)Bytes;
}

// The end of one instance and the start of the next.
static const EFI_DEVICE_PATH_PROTOCOL gEndInstanceNode = {END_DEVICE_PATH_TYPE, END_INSTANCE_DEVICE_PATH_SUBTYPE,
                                                          {sizeof(EFI_DEVICE_PATH_PROTOCOL), 0}};

EFI_DEVICE_PATH_PROTOCOL *ConvertTextToDevicePath(const CHAR16 *TextDevicePath) {
  if (TextDevicePath == nullptr || *TextDevicePath == 0) {
    return nullptr;
  }
  const UINTN Failures = ConversionFailures();
  PATH_BUILDER Path = {nullptr, 0, 0, FALSE};
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
      AppendToPath(&Path, &gEndInstanceNode);
    }
  }

  PoolFree(WorkingCopy);
  return ExactOrNull(FinishPath(&Path), Failures);
}

EFI_DEVICE_PATH_PROTOCOL *ConvertTextToDeviceNode(const CHAR16 *TextDeviceNode) {
  if (TextDeviceNode == nullptr || *TextDeviceNode == 0) {
    return nullptr;
  }
  const UINTN Failures = ConversionFailures();

  // The text is only read: the parameters a parser cuts are a copy.
  EFI_DEVICE_PATH_PROTOCOL *Node = nullptr;
  const CHAR16 *Open;
  const CHAR16 *Close;
  const NODE_TEXT_ROW *Row = FindNodeTextRow(TextDeviceNode, &Open, &Close);
  if (Row == nullptr) {
    // No keyword claims the text: it names a file.
    Node = ParseFilePathNode(TextDeviceNode);
  } else {
    // The parameters, from after "(" to the first ")", which becomes the
    // terminator of their copy.
    UINTN Count = (UINTN)(Close - Open);
    CHAR16 *ParamText = (CHAR16 *)PoolAllocateCopy(Count * sizeof(CHAR16), Open + 1);
    if (ParamText != nullptr) {
      ParamText[Count - 1] = 0;
      Node = gNodeTextTables.Parsers[Row->Parser](ParamText, Row);
      PoolFree(ParamText);
    }
  }
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
