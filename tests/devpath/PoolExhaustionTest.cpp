// Pool exhaustion: every allocation of a conversion is failed in turn, and
// then every allocation from some point on. Each run must end in null or a
// valid path that owns exactly its own block, with nothing leaked and
// nothing freed twice.
#include <string>
#include <vector>

#include "tests/devpath/DevpathTestSupport.h"

namespace devpath_test {
namespace {

const std::vector<std::u16string> kPathTexts = {
    u"PciRoot(0x0)/Pci(0x16,0x19)",
    u"Pci(1,2),Pci(3,4),",
    u"AcpiAdr(1,2,3)/VenHw(07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB25,0102)/\\EFI\\BOOT",
    u"AcpiEx(PNP0A03,PNP0A08,1,A,B,C)/MemoryMapped(11,0x1000,0x1FFF)/Pci(1,2)/Pci(3",
    u"PciRoot(0x0)/Pci(0x1F,0x2)/Sata(0x0,,0x0)/Ata(Primary,Master,0)/VenPcAnsi()/UartFlowCtrl(XonXoff)",
    u"HD(1,MBR,0xAB,0x22,0x100)/VirtualDisk(0x100,0x1FF,0)/Fv()/BBS(HD,Disk,0)",
    u"MAC(001122334455,1)/IPv4(10.0.0.1,TCP)/Dns(10.0.0.1,10.0.0.2)/UsbHID(,,1,1)/iSCSI(iqn,1,0x1)",
};

const std::vector<std::u16string> kNodeTexts = {
    u"PciRoot(0x0)",
    u"AcpiAdr(1,2,3,4)",
    u"VenHw(07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB25,0102)",
    u"\\EFI\\BOOT",
    u"SAS(0x1234,0,1,SATA,External,Expanded,2,0)",
    u"NVMe(1,01-02-03-04-05-06-07-08)",
    u"Infiniband(1,07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB25,2,3,4)",
    u"HD(2,GPT,07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB25,1,2)",
    u"BBS(Network,PXE,0)",
    u"RamDisk(1,2,3,07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB25)",
    u"Dns(fe80::1,fe80::2)",
    u"UsbWwid(1,2,3,\"AB\")",
};

// Far more than any of the texts above needs.
constexpr uint64_t kMostAllocations = 1000;

enum class Mode { kOne, kFromOn };
enum class Operation { kPath, kNode };

struct Outcome {
  bool reachedFault;   // the conversion made the failing allocation
  bool valid;          // null, or valid and the size of its block
  bool isNull;
  uint64_t leaked;
  uint64_t invalidFrees;
};

Outcome Run(const std::u16string &text, Operation operation, Mode mode, uint64_t index) {
  sim::Platform platform = sim::DefaultPlatform();
  if (mode == Mode::kOne) {
    platform.faults.failAllocations = {index};
  } else {
    platform.faults.failAllocationsFrom = index;
  }
  host::LinkedDriver driver(platform);
  const sim::SimFirmware &firmware = driver.Firmware();

  EFI_DEVICE_PATH_PROTOCOL *result =
      operation == Operation::kPath ? ConvertTextToDevicePath(text.c_str()) : ConvertTextToDeviceNode(text.c_str());
  Outcome outcome{};
  outcome.reachedFault = firmware.Pool().Statistics().failedAllocations > 0;
  outcome.isNull = result == nullptr;
  outcome.valid = true;
  if (result != nullptr) {
    const uint64_t size = operation == Operation::kPath ? GetDevicePathSize(result) : DevicePathNodeLength(result);
    outcome.valid = size != 0 && firmware.Pool().Statistics().outstandingBlocks == 1 &&
                    firmware.Pool().Statistics().outstandingBytes == size;
    PoolFree(result);
  }
  outcome.leaked = firmware.Pool().Statistics().outstandingBlocks;
  outcome.invalidFrees = firmware.Pool().Statistics().invalidFrees;
  return outcome;
}

void Sweep(Operation operation, Mode mode) {
  for (const auto &text : operation == Operation::kPath ? kPathTexts : kNodeTexts) {
    const std::string name(text.begin(), text.end());
    uint64_t index = 1;
    for (;; index++) {
      // A conversion that keeps allocating is a fault, not a longer sweep.
      ASSERT_LE(index, kMostAllocations) << name << ": still allocating";
      const Outcome outcome = Run(text, operation, mode, index);
      EXPECT_TRUE(outcome.valid) << name << ": allocation " << index;
      EXPECT_EQ(outcome.leaked, 0u) << name << ": allocation " << index;
      EXPECT_EQ(outcome.invalidFrees, 0u) << name << ": allocation " << index;
      if (mode == Mode::kFromOn && outcome.reachedFault) {
        // With the pool gone for good the result cannot be allocated.
        EXPECT_TRUE(outcome.isNull) << name << ": allocation " << index;
      }
      if (!outcome.reachedFault) {
        break;
      }
    }
    // Each conversion allocates (a file-path node only its node); the sweep
    // refused at least that and went past them all.
    EXPECT_GT(index, 1u) << name;
  }
}

TEST(PoolExhaustion, PathConversionFailingOneAllocation) { Sweep(Operation::kPath, Mode::kOne); }
TEST(PoolExhaustion, PathConversionFailingEveryAllocationFromOneOn) { Sweep(Operation::kPath, Mode::kFromOn); }
TEST(PoolExhaustion, NodeConversionFailingOneAllocation) { Sweep(Operation::kNode, Mode::kOne); }
TEST(PoolExhaustion, NodeConversionFailingEveryAllocationFromOneOn) { Sweep(Operation::kNode, Mode::kFromOn); }

// The slot builder relies on this: when the pool runs out part-way through
// a path, the result is no path at all rather than a path with its first
// nodes missing.
TEST(PoolExhaustion, ASlotPathIsWholeOrNull) {
  const std::u16string text = u"PciRoot(0x0)/Pci(0x8,0x8)";
  const std::string whole = "02 01 0C 00 D0 41 03 0A 00 00 00 00 01 01 06 00 08 08 7F FF 04 00";
  for (uint64_t index = 1;; index++) {
    sim::Platform platform = sim::DefaultPlatform();
    platform.faults.failAllocationsFrom = index;
    host::LinkedDriver driver(platform);
    const sim::SimFirmware &firmware = driver.Firmware();
    EFI_DEVICE_PATH_PROTOCOL *path = ConvertTextToDevicePath(text.c_str());
    const bool reached = firmware.Pool().Statistics().failedAllocations > 0;
    if (path != nullptr) {
      const auto *bytes = reinterpret_cast<const uint8_t *>(path);
      EXPECT_EQ(ToHex(Bytes(bytes, bytes + GetDevicePathSize(path))), whole) << "allocation " << index;
      PoolFree(path);
    }
    EXPECT_EQ(firmware.Pool().Statistics().outstandingBlocks, 0u);
    if (!reached) {
      break;
    }
  }
}

}  // namespace
}  // namespace devpath_test
