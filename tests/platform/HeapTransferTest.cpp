// The heap buffer transfer: node allocation and linking, the walk over the
// hand-off block list (also over malformed lists), and the start-up step.
#include <cstring>
#include <string>

#include "driver/firmware/Guids.h"
#include "tests/platform/StartupFixture.h"

namespace {

using sim::HandOffBlock;
using sim::PortWrite;

const EFI_GUID kOtherName = {0x12345678, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};

HandOffBlock Heap(const std::string &payload, uint8_t poolKind = 4) {
  HandOffBlock block;
  block.name = gHeapHandOffGuid;
  block.poolKind = poolKind;
  block.data.assign(payload.begin(), payload.end());
  return block;
}

HandOffBlock Raw(std::vector<uint8_t> bytes) {
  HandOffBlock block;
  block.kind = HandOffBlock::Kind::Raw;
  block.data = std::move(bytes);
  return block;
}

std::vector<uint8_t> GuidBytes(const EFI_GUID &guid) {
  const auto *raw = reinterpret_cast<const uint8_t *>(&guid);
  return std::vector<uint8_t>(raw, raw + sizeof(guid));
}

std::string Payload(const HEAP_BUFFER_NODE *node) {
  return std::string(reinterpret_cast<const char *>(node + 1), node->Header.Size);
}

// The payloads of the list behind the anchor, in forward order.
std::vector<std::string> Payloads() {
  std::vector<std::string> payloads;
  HEAP_LIST_ENTRY *head = gHeapListAnchor;
  for (HEAP_LIST_ENTRY *entry = head->Forward; entry != head && payloads.size() < 1000; entry = entry->Forward) {
    payloads.push_back(Payload(reinterpret_cast<HEAP_BUFFER_NODE *>(entry)));
  }
  return payloads;
}

class HeapTransferTest : public StartupFixture {
 protected:
  // Walks a list held in a vector of exactly its size, so that a read past
  // its last block is a read past the allocation.
  void Transfer(const std::vector<HandOffBlock> &blocks, bool endBlock = true) {
    list_ = sim::BuildHobList({true, blocks, endBlock});
    EmptyHeapList();
    TransferHeapHandOffList(list_.data());
  }

  std::vector<uint8_t> list_;
};

TEST_F(HeapTransferTest, NodesLinkAtTheTailAndReadBothWays) {
  Transfer({Heap("A"), Heap("BB"), Heap("CCC")});
  const std::vector<HEAP_BUFFER_NODE *> forward = Nodes(true);
  ASSERT_EQ(forward.size(), 3u);
  EXPECT_EQ(Payload(forward[0]), "A");
  EXPECT_EQ(Payload(forward[1]), "BB");
  EXPECT_EQ(Payload(forward[2]), "CCC");
  const std::vector<HEAP_BUFFER_NODE *> backward = Nodes(false);
  EXPECT_EQ(backward, (std::vector<HEAP_BUFFER_NODE *>{forward[2], forward[1], forward[0]}));
  // The head closes the ring in both directions.
  EXPECT_EQ(forward[0]->Link.Back, gHeapListAnchor);
  EXPECT_EQ(forward[2]->Link.Forward, gHeapListAnchor);
  EXPECT_EQ(gHeapListAnchor->Forward, &forward[0]->Link);
  EXPECT_EQ(gHeapListAnchor->Back, &forward[2]->Link);
}

TEST_F(HeapTransferTest, NodeHoldsTheHeaderBytesAndLivesInThePoolItsKindAsksFor) {
  HandOffBlock runtime = Heap("runtime!", 8);
  runtime.reserved = 0x11223344;
  runtime.reserved2 = 0x5566;
  Transfer({runtime, Heap("boot", 4), Heap("zero kind", 0)});
  const std::vector<HEAP_BUFFER_NODE *> nodes = Nodes();
  ASSERT_EQ(nodes.size(), 3u);
  const auto *header = reinterpret_cast<const uint8_t *>(&nodes[0]->Header);
  EXPECT_EQ(std::vector<uint8_t>(header, header + 16),
            (std::vector<uint8_t>{0x48, 0x45, 0x41, 0x50, 0x44, 0x33, 0x22, 0x11, 8, 0, 0, 0, 8, 1, 0x66, 0x55}));
  EXPECT_EQ(Firmware().Pool().PoolBlockType(nodes[0]), EfiRuntimeServicesData);
  EXPECT_EQ(Firmware().Pool().PoolBlockType(nodes[1]), EfiBootServicesData);
  EXPECT_EQ(Firmware().Pool().PoolBlockType(nodes[2]), EfiBootServicesData);
  // Size + 32 bytes each.
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingByType.at(EfiRuntimeServicesData),
            std::make_pair(uint64_t{1}, uint64_t{40}));
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingByType.at(EfiBootServicesData),
            std::make_pair(uint64_t{2}, uint64_t{36 + 41}));
}

TEST_F(HeapTransferTest, ZeroSizeBufferGetsA32ByteNodeOfLinksAndHeader) {
  Transfer({Heap("")});
  ASSERT_EQ(Nodes().size(), 1u);
  EXPECT_EQ(Nodes()[0]->Header.Size, 0u);
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingBytes, 32u);
}

TEST_F(HeapTransferTest, OnlyMarkedHeapBlocksAreTransferred) {
  HandOffBlock unflagged = Heap("flag 0");
  unflagged.transferFlag = 0;
  HandOffBlock flagTwo = Heap("flag 2");
  flagTwo.transferFlag = 2;
  HandOffBlock unsigned_ = Heap("no signature");
  unsigned_.signature = 0x50414549;
  HandOffBlock otherName = Heap("other name");
  otherName.name = kOtherName;
  HandOffBlock otherType;
  otherType.kind = HandOffBlock::Kind::Other;
  otherType.hobType = 0x0002;
  otherType.data = std::vector<uint8_t>(40, 0xAA);
  Transfer({unflagged, Heap("first"), otherType, flagTwo, unsigned_, otherName, Heap("second")});
  EXPECT_EQ(Payloads(), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(Firmware().Pool().Statistics().allocations, 2u) << "nothing is allocated for a block that is passed over";
}

TEST_F(HeapTransferTest, FailingSecondOfThreeWithThePolicyOffSkipsOnlyThatBuffer) {
  sim::Platform platform = QuietPlatform();
  platform.faults.failAllocations = {2};
  Start(platform);
  SetStopPolicy(false);
  Transfer({Heap("first buffer"), Heap("SECOND-PAYLOAD"), Heap("third buffer")});
  EXPECT_EQ(Payloads(), (std::vector<std::string>{"first buffer", "third buffer"}));
  EXPECT_EQ(Firmware().Pool().Statistics().allocations, 3u);
  EXPECT_EQ(Firmware().Pool().Statistics().outstandingBlocks, 2u);
  for (HEAP_BUFFER_NODE *node : Nodes()) {
    const std::string bytes(reinterpret_cast<const char *>(node), 32 + node->Header.Size);
    EXPECT_EQ(bytes.find("SECOND"), std::string::npos);
  }
  EXPECT_TRUE(Hardware().portLog.empty());
}

struct PoolFailureCase {
  uint8_t poolKind;
  uint32_t stopCode;
};

class NodeAllocationFailureTest : public HeapTransferTest, public ::testing::WithParamInterface<PoolFailureCase> {};

TEST_P(NodeAllocationFailureTest, PolicyOffReturnsUnsupportedAndLeavesTheListAlone) {
  sim::Platform platform = QuietPlatform();
  platform.faults.failAllocationsFrom = 1;
  Start(platform);
  SetStopPolicy(false);
  EmptyHeapList();
  HEAP_HAND_OFF_HEADER header = {HEAP_HAND_OFF_SIGNATURE, 0, 16, GetParam().poolKind, 1, 0};
  HEAP_BUFFER_NODE *node = reinterpret_cast<HEAP_BUFFER_NODE *>(0x1);
  EXPECT_EQ(AllocateHeapBufferNode(&header, &node), 0x8000000000000003ULL);
  EXPECT_EQ(node, reinterpret_cast<HEAP_BUFFER_NODE *>(0x1));
  EXPECT_TRUE(Nodes().empty());
  EXPECT_TRUE(Hardware().portLog.empty());
}

TEST_P(NodeAllocationFailureTest, PolicyOnSignalsItsStopCodeAndReturnsUnsupportedWhenTheStopReturns) {
  sim::Platform platform = QuietPlatform();
  platform.faults.failAllocationsFrom = 1;
  platform.cpu.stopOverride = 1;
  Start(platform);
  SetStopPolicy(true);
  EmptyHeapList();
  HEAP_HAND_OFF_HEADER header = {HEAP_HAND_OFF_SIGNATURE, 0, 16, GetParam().poolKind, 1, 0};
  HEAP_BUFFER_NODE *node = nullptr;
  EXPECT_EQ(AllocateHeapBufferNode(&header, &node), 0x8000000000000003ULL);
  EXPECT_EQ(Hardware().portLog, (std::vector<PortWrite>{{0xE0, 16, 0xDEAD}, {0x80, 32, GetParam().stopCode}}));
  EXPECT_TRUE(Nodes().empty());
}

INSTANTIATE_TEST_SUITE_P(Pools, NodeAllocationFailureTest,
                         ::testing::Values(PoolFailureCase{8, 0x00080134}, PoolFailureCase{4, 0x00080137},
                                           PoolFailureCase{0, 0x00080137}),
                         [](const ::testing::TestParamInfo<PoolFailureCase> &info) {
                           return "PoolKind" + std::to_string(info.param.poolKind);
                         });

TEST_F(HeapTransferTest, NoListMeansNothingToDo) {
  EmptyHeapList();
  TransferHeapHandOffList(nullptr);
  EXPECT_TRUE(Nodes().empty());
  EXPECT_EQ(Firmware().Pool().Statistics().allocations, 0u);
}

// Malformed lists: the walk stops where a length cannot lead on, passes
// over a heap block that cannot hold what it claims, and never reads past
// the list's last block (the lists below end exactly at their allocation).

// A heap block's bytes as a producer lays them out, for raw lists.
std::vector<uint8_t> HeapBlockBytes(const std::string &payload) {
  const uint16_t length = static_cast<uint16_t>((40 + payload.size() + 7) / 8 * 8);
  std::vector<uint8_t> bytes = {0x04, 0x00, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), 0, 0, 0, 0};
  const std::vector<uint8_t> name = GuidBytes(gHeapHandOffGuid);
  bytes.insert(bytes.end(), name.begin(), name.end());
  const uint32_t size = static_cast<uint32_t>(payload.size());
  bytes.insert(bytes.end(), {0x48, 0x45, 0x41, 0x50, 0, 0, 0, 0, static_cast<uint8_t>(size),
                             static_cast<uint8_t>(size >> 8), 0, 0, 4, 1, 0, 0});
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  bytes.resize(length, 0);
  return bytes;
}

// A block whose HobLength (1 to 7) does not cover its own header, laid out so
// that a walk stepping on by that length would go on to a heap block with
// the payload "found" at offset 257: from offset 1 the bytes read as a block
// of length 256; from offsets 2 to 7 as one of length 257 - offset.
std::vector<uint8_t> ShortBlockBeforeAReachableHeapBlock(uint16_t length) {
  std::vector<uint8_t> bytes(257, 0);
  bytes[0] = 0x03;
  bytes[2] = static_cast<uint8_t>(length);
  if (length == 1) {
    bytes[4] = 1;
  } else {
    if (length >= 3) {
      bytes[length + (length == 3 ? 1 : 0)] = 0x03;
    }
    const uint16_t step = static_cast<uint16_t>(257 - length);
    bytes[length + 2] = static_cast<uint8_t>(step);
    bytes[length + 3] = static_cast<uint8_t>(step >> 8);
  }
  const std::vector<uint8_t> found = HeapBlockBytes("found");
  bytes.insert(bytes.end(), found.begin(), found.end());
  return bytes;
}

// A heap-named block of 32 bytes (its name and half a heap header), then a
// block whose first eight bytes would complete a flagged header of Size 3
// with the payload "abc" behind it. As a block of its own it has length 0,
// which ends the walk.
std::vector<HandOffBlock> HalfHeaderCompletedByTheNextBlock() {
  std::vector<uint8_t> block = {0x04, 0x00, 0x20, 0x00, 0, 0, 0, 0};
  const std::vector<uint8_t> name = GuidBytes(gHeapHandOffGuid);
  block.insert(block.end(), name.begin(), name.end());
  block.insert(block.end(), {0x48, 0x45, 0x41, 0x50, 0, 0, 0, 0});
  return {Raw(block), Raw({0x03, 0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 'a', 'b', 'c', 0, 0, 0, 0, 0})};
}

struct MalformedListCase {
  std::string name;
  std::vector<HandOffBlock> blocks;
  std::vector<std::string> payloads;  // what the list holds after the walk
};

void PrintTo(const MalformedListCase &c, std::ostream *out) { *out << c.name; }

std::vector<MalformedListCase> MalformedLists() {
  std::vector<MalformedListCase> cases;
  cases.push_back({"ZeroHobLengthEndsTheWalkThere",
                   {Heap("before"), Raw({0x03, 0x00, 0x00, 0x00, 0, 0, 0, 0}), Heap("after")},
                   {"before"}});
  // Every length below the generic header ends the walk, although the bytes
  // behind it would lead a walk that stepped on to a heap block.
  for (uint16_t length = 1; length < 8; length++) {
    cases.push_back({"HobLength" + std::to_string(length) + "EndsTheWalk",
                     {Heap("before"), Raw(ShortBlockBeforeAReachableHeapBlock(length)), Heap("after")},
                     {"before"}});
  }
  std::vector<uint8_t> shortGuidBlock = {0x04, 0x00, 0x10, 0x00, 0, 0, 0, 0};
  const std::vector<uint8_t> name = GuidBytes(gHeapHandOffGuid);
  shortGuidBlock.insert(shortGuidBlock.end(), name.begin(), name.begin() + 8);
  cases.push_back({"GuidBlockTooShortForItsNameEndsTheWalk", {Heap("before"), Raw(shortGuidBlock), Heap("after")},
                   {"before"}});
  // 32 bytes: the name, then half a heap header.
  std::vector<uint8_t> halfHeader = {0x04, 0x00, 0x20, 0x00, 0, 0, 0, 0};
  halfHeader.insert(halfHeader.end(), name.begin(), name.end());
  halfHeader.insert(halfHeader.end(), {0x48, 0x45, 0x41, 0x50, 0, 0, 0, 0});
  cases.push_back({"HeapBlockTooShortForItsHeaderIsPassedOver", {Raw(halfHeader), Heap("after")}, {"after"}});
  cases.push_back({"HeapBlockTooShortForItsHeaderIsNeverReadAsOne", HalfHeaderCompletedByTheNextBlock(), {}});
  HandOffBlock tooLarge = Heap("12345678");
  tooLarge.size = 9;  // the block is 48 bytes: room for 8
  HandOffBlock huge = Heap("");
  huge.size = 0xFFFFFFFF;
  cases.push_back({"SizeBeyondItsOwnBlockIsPassedOverAndNeverCopied", {tooLarge, huge, Heap("after")}, {"after"}});
  return cases;
}

class MalformedListTest : public HeapTransferTest, public ::testing::WithParamInterface<MalformedListCase> {};

TEST_P(MalformedListTest, WalkEndsOrPassesOverAndAllocatesOnlyForWhatItTransfers) {
  Transfer(GetParam().blocks);
  EXPECT_EQ(Payloads(), GetParam().payloads);
  EXPECT_EQ(Firmware().Pool().Statistics().allocations, GetParam().payloads.size()) << "nothing is allocated for a block passed over";
}

INSTANTIATE_TEST_SUITE_P(Lists, MalformedListTest, ::testing::ValuesIn(MalformedLists()),
                         [](const ::testing::TestParamInfo<MalformedListCase> &info) { return info.param.name; });

TEST_F(HeapTransferTest, SizeUpToTheEndOfItsBlockIsCopiedPaddingIncluded) {
  // Five payload bytes; the block is padded to 48 bytes, so a Size of 8 still
  // lies inside it.
  HandOffBlock padded = Heap("abcde");
  padded.size = 8;
  Transfer({padded});
  ASSERT_EQ(Payloads().size(), 1u);
  EXPECT_EQ(Payloads()[0], std::string("abcde\0\0\0", 8));
}

TEST_F(HeapTransferTest, BlocksBehindTheEndBlockAreNeverRead) {
  HandOffBlock end;
  end.kind = HandOffBlock::Kind::End;
  Transfer({Heap("listed"), end, Heap("behind the end")}, /*endBlock=*/false);
  EXPECT_EQ(Payloads(), std::vector<std::string>{"listed"});
}

TEST_F(HeapTransferTest, HeapBlockAtAnUnalignedOffsetIsStillRead) {
  // A 12-byte block shifts the next one off 8-byte alignment.
  Transfer({Raw({0x03, 0x00, 0x0C, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}), Heap("unaligned")});
  EXPECT_EQ(Payloads(), std::vector<std::string>{"unaligned"});
}

class HeapListStartupTest : public StartupFixture {
 protected:
  void StartWithList(std::vector<HandOffBlock> blocks, bool preinstalled, bool failInstall = false,
                     EFI_STATUS installStatus = EFI_OUT_OF_RESOURCES, uint16_t override = 1) {
    sim::Platform platform = QuietPlatform();
    platform.hobList = {true, std::move(blocks), true};
    platform.protocols.heapBufferList = preinstalled;
    if (failInstall) {
      platform.faults.failInstalls = {{gHeapBufferListProtocolGuid, installStatus}};
    }
    platform.cpu.stopOverride = override;
    Start(platform);
  }
};

TEST_F(HeapListStartupTest, AnInstalledListIsAdoptedAndNoBlockIsRead) {
  StartWithList({Heap("never copied")}, /*preinstalled=*/true);
  InitializeHeapBufferList();
  sim::HeapBufferListImage *found = Firmware().PreinstalledHeapBufferList();
  EXPECT_EQ(reinterpret_cast<uint8_t *>(gHeapListAnchor), reinterpret_cast<uint8_t *>(found) + 8);
  EXPECT_TRUE(Nodes().empty());
  EXPECT_EQ(gHobList, nullptr) << "the hand-off block list is not even looked up";
  EXPECT_EQ(Firmware().Pool().Statistics().allocations, 0u);
  EXPECT_TRUE(CallsOf("InstallProtocolInterface").empty());
}

TEST_F(HeapListStartupTest, WithoutHeapBlocksAnEmptyListIsInstalled) {
  StartWithList({}, false);
  InitializeHeapBufferList();
  EXPECT_EQ(gHeapListAnchor, &gHeapBufferListInterface.ListHead);
  EXPECT_EQ(gHeapBufferListInterface.ListHead.Forward, &gHeapBufferListInterface.ListHead);
  EXPECT_EQ(gHeapBufferListInterface.ListHead.Back, &gHeapBufferListInterface.ListHead);
  EXPECT_EQ(gHeapBufferListInterface.Revision, 1u);
  VOID *published = nullptr;
  ASSERT_EQ(gBootServices->LocateProtocol(&gHeapBufferListProtocolGuid, nullptr, &published), EFI_SUCCESS);
  EXPECT_EQ(published, &gHeapBufferListInterface);
}

TEST_F(HeapListStartupTest, BuildsFromTheHandOffBlocksThenInstalls) {
  StartWithList({Heap("A"), Heap("B")}, false);
  LocateHobList();
  InitializeHeapBufferList();
  EXPECT_EQ(Payloads(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(CallsOf("InstallProtocolInterface"), std::vector<std::string>{"heap buffer list protocol: Success"});
  EXPECT_TRUE(Hardware().portLog.empty());
}

TEST_F(HeapListStartupTest, InstallFailureWithThePolicyOnSignals0x00080225AndGoesOnWhenTheStopReturns) {
  StartWithList({Heap("kept")}, false, /*failInstall=*/true);
  SetStopPolicy(true);
  LocateHobList();
  InitializeHeapBufferList();
  EXPECT_EQ(Hardware().portLog, (std::vector<PortWrite>{{0xE0, 16, 0xDEAD}, {0x80, 32, 0x00080225}}));
  EXPECT_EQ(Payloads(), std::vector<std::string>{"kept"});
}

TEST_F(HeapListStartupTest, AWarningFromTheInstallCountsAsAFailureToo) {
  StartWithList({}, false, true, /*installStatus=*/1);
  SetStopPolicy(true);
  InitializeHeapBufferList();
  EXPECT_EQ(Hardware().portLog, (std::vector<PortWrite>{{0xE0, 16, 0xDEAD}, {0x80, 32, 0x00080225}}));
}

TEST_F(HeapListStartupTest, InstallFailureWithThePolicyOffIsIgnored) {
  StartWithList({Heap("kept")}, false, true);
  SetStopPolicy(false);
  LocateHobList();
  InitializeHeapBufferList();
  EXPECT_TRUE(Hardware().portLog.empty());
  EXPECT_EQ(Payloads(), std::vector<std::string>{"kept"});
}

}  // namespace
