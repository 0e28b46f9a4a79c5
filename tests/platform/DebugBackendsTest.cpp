// The debug output backends, their detection through the platform
// registers, and the two register routines behind it.
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <optional>
#include <ostream>
#include <string>

#include "driver/firmware/Hardware.h"
#include "tests/platform/StartupFixture.h"

namespace {

using sim::PortWrite;

constexpr uint32_t kRegisterA = 0x03810A84;
constexpr uint32_t kRegisterB = 0x03810A88;
constexpr uint64_t kIndex = 0xE00000B8;
constexpr uint64_t kData = 0xE00000BC;
constexpr uint64_t kModemStatus = 0xFEDC9018;

struct Access {
  bool write;
  uint64_t address;
  unsigned width;
  uint64_t value;
  bool operator==(const Access &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Access &access) {
  return out << (access.write ? "W" : "R") << access.width << " 0x" << std::hex << access.address << " = 0x"
             << access.value << std::dec;
}

class DebugBackendsTest : public StartupFixture {
 protected:
  void StartWith(uint32_t index, std::map<uint32_t, uint32_t> registers, bool uart = false,
                 uint8_t modemStatus = 0x30) {
    sim::Platform platform = QuietPlatform();
    platform.platformRegisters.index = index;
    platform.platformRegisters.registers = std::move(registers);
    platform.uart.present = uart;
    platform.uart.modemStatus = modemStatus;
    Start(platform);
  }

  std::vector<Access> Accesses() {
    std::vector<Access> accesses;
    for (const sim::MmioAccess &access : Hardware().mmioLog) {
      accesses.push_back({access.write, access.address, access.width, access.value});
    }
    return accesses;
  }

  size_t ReadsOf(uint32_t platformRegister) {
    const std::vector<uint32_t> &reads = Hardware().platformRegisters.registerReads;
    return static_cast<size_t>(std::count(reads.begin(), reads.end(), platformRegister));
  }

  size_t ModemStatusReads() {
    size_t reads = 0;
    for (const sim::MmioAccess &access : Hardware().mmioLog) {
      reads += !access.write && access.address == kModemStatus ? 1 : 0;
    }
    return reads;
  }
};

TEST_F(DebugBackendsTest, ReadIndexedRegisterAlignsTheNumberAndRestoresTheIndex) {
  StartWith(0xCAFE0001, {{kRegisterB, 0x5A5A0000}});
  EXPECT_EQ(ReadIndexedRegister(0x03810A8B), 0x5A5A0000u);
  EXPECT_EQ(Accesses(), (std::vector<Access>{{false, kIndex, 32, 0xCAFE0001},
                                             {true, kIndex, 32, 0x03810A88},
                                             {false, kData, 32, 0x5A5A0000},
                                             {true, kIndex, 32, 0xCAFE0001}}));
  EXPECT_EQ(Hardware().platformRegisters.index, 0xCAFE0001u);
}

TEST_F(DebugBackendsTest, RegisterALowBitsSelectTheStreamWithoutReadingRegisterB) {
  StartWith(0x00000042, {{kRegisterA, 0x00000001}, {kRegisterB, 0x00010000}});
  EXPECT_TRUE(Port80StreamSelected());
  EXPECT_EQ(Accesses(), (std::vector<Access>{{false, kIndex, 32, 0x42},
                                             {true, kIndex, 32, kRegisterA},
                                             {false, kData, 32, 0x00000001},
                                             {true, kIndex, 32, 0x42}}));
  EXPECT_EQ(ReadsOf(kRegisterB), 0u);
}

struct SelectionCase {
  uint32_t a;
  uint32_t b;
  bool selected;
};

class StreamSelectionTest : public DebugBackendsTest, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(StreamSelectionTest, RegisterBBit16DecidesWhenRegisterALowBitsAreClear) {
  const SelectionCase c = GetParam();
  StartWith(0x7, {{kRegisterA, c.a}, {kRegisterB, c.b}});
  EXPECT_EQ(Port80StreamSelected(), c.selected);
  EXPECT_EQ(Hardware().platformRegisters.registerReads, (std::vector<uint32_t>{kRegisterA, kRegisterB}));
  EXPECT_EQ(Hardware().platformRegisters.index, 0x7u) << "left as it was found";
}

INSTANTIATE_TEST_SUITE_P(Registers, StreamSelectionTest,
                         ::testing::Values(SelectionCase{0x00000010, 0x00010000, true},
                                           SelectionCase{0xFFFFFFF0, 0x00010000, true},
                                           SelectionCase{0x00000010, 0xFFFEFFFF, false},
                                           SelectionCase{0x00000000, 0x00000000, false}),
                         [](const ::testing::TestParamInfo<SelectionCase> &info) {
                           char name[40];
                           std::snprintf(name, sizeof(name), "A%08XB%08X", info.param.a, info.param.b);
                           return std::string(name);
                         });

TEST_F(DebugBackendsTest, StreamSelectedHidesTheUartWithoutTouchingIt) {
  StartWith(0, {{kRegisterA, 0x8}}, /*uart=*/true);
  EXPECT_TRUE(gPort80StreamBackend.Detect());
  EXPECT_FALSE(gUartBackend.Detect());
  EXPECT_TRUE(AnyDebugBackendPresent());
  EXPECT_EQ(ModemStatusReads(), 0u);
  EXPECT_EQ(Hardware().uart.modemStatusReads, 0u);
}

TEST_F(DebugBackendsTest, OnlyTheUartWhenTheStreamIsNotSelected) {
  StartWith(0, {{kRegisterB, 0xFFFEFFFF}}, /*uart=*/true, /*modemStatus=*/0x30);
  EXPECT_FALSE(gPort80StreamBackend.Detect());
  EXPECT_TRUE(gUartBackend.Detect());
}

TEST_F(DebugBackendsTest, StartUpDetectsTwiceEachWhenABackendIsPresent) {
  StartWith(0x11, {}, /*uart=*/true, 0x30);
  InitializeDebugBackends();
  // Each Detect probes register A and B; the UART's also reads its modem
  // status once. Both backends answer once in AnyDebugBackendPresent and
  // once more before each Init.
  EXPECT_EQ(ReadsOf(kRegisterA), 4u);
  EXPECT_EQ(ReadsOf(kRegisterB), 4u);
  EXPECT_EQ(Hardware().uart.modemStatusReads, 2u);
  EXPECT_TRUE(Hardware().uart.transmitted.empty()) << "Init writes nothing";
  EXPECT_TRUE(Hardware().portLog.empty());
  EXPECT_EQ(Hardware().platformRegisters.index, 0x11u);
}

TEST_F(DebugBackendsTest, NoUartAndNoStreamMeansOneDetectEachAndNoInit) {
  StartWith(0, {}, /*uart=*/false);
  EXPECT_EQ(MmioRead8(kModemStatus), 0xFF) << "an absent UART reads all ones";
  Hardware().mmioLog.clear();
  InitializeDebugBackends();
  EXPECT_EQ(ReadsOf(kRegisterA), 2u);
  EXPECT_EQ(ReadsOf(kRegisterB), 2u);
  EXPECT_EQ(ModemStatusReads(), 1u);
  EXPECT_TRUE(Hardware().portLog.empty());
}

TEST_F(DebugBackendsTest, PollAnswersFalseAndInitTouchesNothing) {
  StartWith(0, {}, true);
  EXPECT_FALSE(gPort80StreamBackend.Poll());
  EXPECT_FALSE(gUartBackend.Poll());
  gPort80StreamBackend.Init();
  gUartBackend.Init();
  EXPECT_TRUE(Hardware().mmioLog.empty());
  EXPECT_TRUE(Hardware().portLog.empty());
  EXPECT_EQ(gDebugBackendTable[0], &gPort80StreamBackend);
  EXPECT_EQ(gDebugBackendTable[1], &gUartBackend);
  EXPECT_EQ(gDebugBackendTable[2], nullptr);
}

TEST_F(DebugBackendsTest, StreamFramesTheBytesBetweenItsMarkers) {
  const UINT8 bytes[] = {0x41, 0x42, 0x43};
  gPort80StreamBackend.Write(bytes, sizeof(bytes));
  EXPECT_EQ(Hardware().portLog, (std::vector<PortWrite>{{0x80, 32, 0x5F535452},
                                                        {0x80, 8, 0x41},
                                                        {0x80, 8, 0x42},
                                                        {0x80, 8, 0x43},
                                                        {0x80, 32, 0x5F454E44}}));
}

TEST_F(DebugBackendsTest, AnEmptyStreamWriteIsJustTheTwoMarkers) {
  gPort80StreamBackend.Write(nullptr, 0);
  EXPECT_EQ(Hardware().portLog, (std::vector<PortWrite>{{0x80, 32, 0x5F535452}, {0x80, 32, 0x5F454E44}}));
}

struct UartCase {
  const char *what;
  uint64_t lineStatusReadyOnRead;
  uint64_t clearToSendOnRead;
  uint64_t lineStatusReads;
  uint64_t modemStatusReads;
  bool sent;
};

class UartBudgetTest : public DebugBackendsTest, public ::testing::WithParamInterface<UartCase> {};

TEST_P(UartBudgetTest, OneByteIsSentOnlyWhenEachWaitEndsWithinItsFirst1999Reads) {
  const UartCase c = GetParam();
  sim::Platform platform = QuietPlatform();
  platform.uart.present = true;
  platform.uart.lineStatusReadyOnRead = c.lineStatusReadyOnRead;
  platform.uart.clearToSendOnRead = c.clearToSendOnRead;
  Start(platform);
  const UINT8 byte = 'x';
  gUartBackend.Write(&byte, 1);
  EXPECT_EQ(Hardware().uart.lineStatusReads, c.lineStatusReads);
  EXPECT_EQ(Hardware().uart.modemStatusReads, c.modemStatusReads);
  EXPECT_EQ(Hardware().uart.transmitted, c.sent ? std::vector<uint8_t>{'x'} : std::vector<uint8_t>{});
}

INSTANTIATE_TEST_SUITE_P(
    Budgets, UartBudgetTest,
    ::testing::Values(UartCase{"ready at once", 1, 1, 1, 1, true},
                      UartCase{"line status on read 1999", 1999, 1, 1999, 1, true},
                      UartCase{"line status on read 2000", 2000, 1, 2000, 0, false},
                      UartCase{"line status never", 0, 1, 2000, 0, false},
                      UartCase{"clear to send on read 1999", 1, 1999, 1, 1999, true},
                      UartCase{"clear to send on read 2000", 1, 2000, 1, 2000, false},
                      UartCase{"both on read 1999: the most a byte costs", 1999, 1999, 1999, 1999, true}),
    [](const ::testing::TestParamInfo<UartCase> &info) {
      return "LineStatusOn" + std::to_string(info.param.lineStatusReadyOnRead) + "ClearToSendOn" +
             std::to_string(info.param.clearToSendOnRead);
    });

TEST_F(DebugBackendsTest, WithoutClearToSendEveryByteIsDroppedAfterItsOwnBudget) {
  sim::Platform platform = QuietPlatform();
  platform.uart.present = true;
  platform.uart.modemStatus = 0x20;  // never clear to send
  Start(platform);
  const UINT8 bytes[] = {'a', 'b', 'c'};
  gUartBackend.Write(bytes, sizeof(bytes));
  EXPECT_TRUE(Hardware().uart.transmitted.empty());
  EXPECT_EQ(Hardware().uart.lineStatusReads, 3u);
  EXPECT_EQ(Hardware().uart.modemStatusReads, 3u * 2000u);
}

TEST_F(DebugBackendsTest, UartSendsByteByByteInOrderAndZeroBytesTouchNothing) {
  sim::Platform platform = QuietPlatform();
  platform.uart.present = true;
  platform.uart.lineStatusReadyOnRead = 3;  // after each byte, two busy reads
  Start(platform);
  gUartBackend.Write(nullptr, 0);
  EXPECT_TRUE(Hardware().mmioLog.empty());
  const UINT8 bytes[] = {'o', 'k', '\n'};
  gUartBackend.Write(bytes, sizeof(bytes));
  EXPECT_EQ(Hardware().uart.transmitted, (std::vector<uint8_t>{'o', 'k', '\n'}));
  EXPECT_EQ(Hardware().uart.lineStatusReads, 9u);
}

class StoreByWidthTest : public DebugBackendsTest {
 protected:
  static constexpr uint64_t kRegister = 0xFED00000;

  void SetUp() override {
    DebugBackendsTest::SetUp();
    memory_.fill(0xEE);
    sim::MmioWindow window;
    window.name = "test register file";
    window.base = kRegister;
    window.size = memory_.size();
    window.read = [this](uint64_t offset, unsigned width) {
      uint64_t value = 0;
      std::memcpy(&value, &memory_[offset], width / 8);
      return value;
    };
    window.write = [this](uint64_t offset, unsigned width, uint64_t value) {
      std::memcpy(&memory_[offset], &value, width / 8);
    };
    Hardware().AddWindow(window);
  }

  std::array<uint8_t, 8> memory_{};
};

struct WidthCase {
  uint32_t code;
  unsigned width;
  std::array<uint8_t, 8> after;
};

class StoreWidthCodeTest : public StoreByWidthTest, public ::testing::WithParamInterface<WidthCase> {};

TEST_P(StoreWidthCodeTest, CopiesExactlyItsWidth) {
  const WidthCase c = GetParam();
  const UINT32 source = 0x11223344;
  StoreByWidth(c.code, kRegister, &source);
  EXPECT_EQ(memory_, c.after);
  ASSERT_EQ(Hardware().mmioLog.size(), 1u);
  EXPECT_TRUE(Hardware().mmioLog[0].write);
  EXPECT_EQ(Hardware().mmioLog[0].width, c.width);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, StoreWidthCodeTest,
    ::testing::Values(WidthCase{1, 8, {0x44, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
                      WidthCase{129, 8, {0x44, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
                      WidthCase{2, 16, {0x44, 0x33, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
                      WidthCase{130, 16, {0x44, 0x33, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
                      WidthCase{3, 32, {0x44, 0x33, 0x22, 0x11, 0xEE, 0xEE, 0xEE, 0xEE}},
                      WidthCase{131, 32, {0x44, 0x33, 0x22, 0x11, 0xEE, 0xEE, 0xEE, 0xEE}}),
    [](const ::testing::TestParamInfo<WidthCase> &info) { return "Code" + std::to_string(info.param.code); });

class StoreBadCodeTest : public StoreByWidthTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(StoreBadCodeTest, StoresNothingAndStopsWith0x00010320WhenThePolicyIsOn) {
  Hardware().stopOverrideAnswer = 1;
  const UINT32 source = 0x11223344;
  SetStopPolicy(false);
  StoreByWidth(GetParam(), kRegister, &source);
  EXPECT_TRUE(Hardware().mmioLog.empty());
  EXPECT_TRUE(Hardware().portLog.empty());

  SetStopPolicy(true);
  StoreByWidth(GetParam(), kRegister, &source);
  EXPECT_TRUE(Hardware().mmioLog.empty());
  EXPECT_EQ(Hardware().portLog, (std::vector<PortWrite>{{0xE0, 16, 0xDEAD}, {0x80, 32, 0x00010320}}));
  EXPECT_EQ(memory_, (std::array<uint8_t, 8>{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

INSTANTIATE_TEST_SUITE_P(Codes, StoreBadCodeTest, ::testing::Values(0u, 4u, 128u, 132u, 255u, 0x101u, 0x183u),
                         [](const ::testing::TestParamInfo<uint32_t> &info) {
                           return "Code" + std::to_string(info.param);
                         });

}  // namespace
