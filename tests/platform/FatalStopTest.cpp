// The fatal stop: its announcement, the override query, the display loop
// with its holds, and the time base behind the holds.
#include <cstdio>
#include <string>

#include "tests/platform/StartupFixture.h"

namespace {

using sim::PortWrite;

constexpr uint32_t kFirstPstate = 0xC0010064;

uint64_t Pstate(bool enabled, uint8_t multiplier, uint8_t divisor) {
  return (enabled ? 1ULL << 63 : 0) | (static_cast<uint64_t>(divisor) << 8) | multiplier;
}

class FatalStopTest : public StartupFixture {
 protected:
  // A platform with only the given P-state definitions.
  void StartWith(std::vector<uint64_t> pstates, uint64_t tscStep, uint16_t override = 0) {
    sim::Platform platform = QuietPlatform();
    platform.cpu.pstates = std::move(pstates);
    platform.cpu.tscStep = tscStep;
    platform.cpu.stopOverride = override;
    Start(platform);
  }

  // Runs FatalStop until the model takes control back from the display.
  void RunIntoDisplay(uint32_t code) {
    ASSERT_TRUE(sim::RunUntilParked(Hardware(), [code] { FatalStop(code); }))
        << "the display loop never returns on its own";
  }

  // TSC at each display value (the writes after the code).
  std::vector<uint64_t> DisplayTimes() {
    return std::vector<uint64_t>(Hardware().portWriteTsc.begin() + 2, Hardware().portWriteTsc.end());
  }
};

TEST_F(FatalStopTest, StopCodeWordCarriesTheSignatureAndTheCode) {
  EXPECT_EQ(StopCodeWord(0x00080225), 0xDEAD000802250000ULL);
  EXPECT_EQ(StopCodeWord(0xABCD1234), 0xDEADABCD12340000ULL);
  EXPECT_EQ(StopCodeWord(0), 0xDEAD000000000000ULL);
}

TEST_F(FatalStopTest, OverrideAnswerSkipsTheStopAfterTwoWrites) {
  StartWith({Pstate(true, 120, 8)}, 1, /*override=*/1);
  FatalStop(0x00080225);
  EXPECT_EQ(Hardware().portLog, (std::vector<PortWrite>{{0xE0, 16, 0xDEAD}, {0x80, 32, 0x00080225}}));
  ASSERT_EQ(Hardware().cpuidQueries.size(), 1u);
  const sim::CpuidQuery &query = Hardware().cpuidQueries[0];
  EXPECT_EQ(query.eax, 0xBACCD00Bu);
  EXPECT_EQ(query.ebx, 2u);
  EXPECT_EQ(query.ecx, 0x00080225u) << "the stop code travels in ECX";
  EXPECT_EQ(query.si, 0u);
  EXPECT_EQ(Hardware().tscReads, 0u);
}

TEST_F(FatalStopTest, QueryStopOverrideReturnsTheAgentsAnswer) {
  StartWith({}, 1, 0x1234);
  EXPECT_EQ(QueryStopOverride(0x00010320), 0x1234);
  StartWith({}, 1, 0);
  EXPECT_EQ(QueryStopOverride(0x00010320), 0);
}

struct DisplayCase {
  uint32_t code;
  std::array<uint32_t, 6> values;
};

class StopDisplayTest : public FatalStopTest, public ::testing::WithParamInterface<DisplayCase> {};

TEST_P(StopDisplayTest, ShowsTheSixValuesInOrderAgainAndAgain) {
  const DisplayCase c = GetParam();
  // No P-state enabled: 256 ticks per second, 640 ticks per hold.
  StartWith({}, 64);
  Hardware().stopDisplayLimit = 18;
  RunIntoDisplay(c.code);
  std::vector<PortWrite> expected = {{0xE0, 16, 0xDEAD}, {0x80, 32, c.code}};
  for (int cycle = 0; cycle < 3; cycle++) {
    for (uint32_t value : c.values) {
      expected.push_back({0x80, 32, value});
    }
  }
  EXPECT_EQ(Hardware().portLog, expected);
  EXPECT_EQ(Hardware().stopCode, c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, StopDisplayTest,
    ::testing::Values(
        DisplayCase{0x00080225, {0x250000DE, 0x0000DEAD, 0x00DEAD00, 0xDEAD0008, 0xAD000802, 0x00080225}},
        DisplayCase{0x00080134, {0x340000DE, 0x0000DEAD, 0x00DEAD00, 0xDEAD0008, 0xAD000801, 0x00080134}},
        DisplayCase{0x00080137, {0x370000DE, 0x0000DEAD, 0x00DEAD00, 0xDEAD0008, 0xAD000801, 0x00080137}},
        DisplayCase{0x00010320, {0x200000DE, 0x0000DEAD, 0x00DEAD00, 0xDEAD0001, 0xAD000103, 0x00010320}},
        DisplayCase{0xABCD1234, {0x340000DE, 0x0000DEAD, 0x00DEADAB, 0xDEADABCD, 0xADABCD12, 0xABCD1234}}),
    [](const ::testing::TestParamInfo<DisplayCase> &info) {
      char name[16];
      std::snprintf(name, sizeof(name), "Code%08X", info.param.code);
      return std::string(name);
    });

TEST_F(FatalStopTest, EachValueStandsForTwoAndAHalfSecondsOfTheFirstEnabledPstate) {
  // 120 x 200 / 8 = 3000 MHz: a hold is 7,500,000,000 ticks. The counter
  // moves 1,000,000 per read: the hold ends at the first read past the
  // target, 7501 reads after the start stamp, and the next value is
  // written at start + 7,502,000,000.
  StartWith({Pstate(false, 100, 8), Pstate(true, 120, 8), Pstate(true, 100, 12)}, 1000000);
  RunIntoDisplay(0x00080225);
  const std::vector<uint64_t> times = DisplayTimes();
  ASSERT_EQ(times.size(), 12u);
  for (size_t i = 1; i < times.size(); i++) {
    EXPECT_EQ(times[i] - times[i - 1], 7502000000u) << "between display values " << i << " and " << i + 1;
  }
  // Eleven holds completed, each pausing between its reads but not before the first.
  EXPECT_EQ(Hardware().pauses, 11u * 7500u);
  EXPECT_EQ(gTscTicksPerSecond, 3000000000u);
  // The frequency was found once, in register 1, and kept.
  EXPECT_EQ(Hardware().msrReads, (std::vector<uint32_t>{kFirstPstate, kFirstPstate + 1}));
}

TEST_F(FatalStopTest, WithoutAnEnabledPstateEachHoldIs640TicksAndTheRegistersAreReadEveryTime) {
  StartWith({Pstate(false, 120, 8)}, 1);
  Hardware().stopDisplayLimit = 4;
  RunIntoDisplay(0x00010320);
  const std::vector<uint64_t> times = DisplayTimes();
  ASSERT_EQ(times.size(), 4u);
  for (size_t i = 1; i < times.size(); i++) {
    // The start stamp, 641 reads up to start + 641, then the next write.
    EXPECT_EQ(times[i] - times[i - 1], 642u);
  }
  EXPECT_EQ(Hardware().pauses, 3u * 640u);
  EXPECT_EQ(Hardware().msrReads.size(), 3u * 8u) << "256 is never kept";
  EXPECT_EQ(gTscTicksPerSecond, 0u);
}

// The model's trace of a long display is bounded: the first 16 writes and
// the last 16, the writes between them counted; the holds' register reads
// once the trace is full are counted, not listed.
TEST_F(FatalStopTest, ALongDisplayKeepsItsFirstAndLastSixteenWrites) {
  StartWith({Pstate(false, 120, 8)}, 1000);
  Hardware().stopDisplayLimit = 100;
  RunIntoDisplay(0x00010320);
  const uint32_t cycle[6] = {0x200000DE, 0x0000DEAD, 0x00DEAD00, 0xDEAD0001, 0xAD000103, 0x00010320};
  std::vector<PortWrite> expected = {{0xE0, 16, 0xDEAD}, {0x80, 32, 0x00010320}};
  std::vector<uint64_t> expectedTimes;
  for (uint32_t k = 0; k < 100; k++) {
    if (k < 16 || k >= 84) {
      expected.push_back({0x80, 32, cycle[k % 6]});
      // Two reads per hold: the start stamp, then one past the 640 ticks
      // (2000 ticks), next to the values left out as everywhere else.
      expectedTimes.push_back(k * 2000u);
    }
  }
  EXPECT_EQ(Hardware().portLog, expected);
  EXPECT_EQ(DisplayTimes(), expectedTimes);
  EXPECT_EQ(Hardware().stopDisplayLeftOut, 68u);
  // A hold after each value but the last, eight registers each.
  EXPECT_EQ(Hardware().msrReads.size(), 31u * 8u);
  EXPECT_EQ(Hardware().msrReadsLeftOut, 68u * 8u);
}

// Where no one looks, holds are quick: a hold next to a value the trace
// leaves out takes two counter reads, the second at the span the holds
// between the values kept took at the platform's step, so the values kept
// after them come at exactly the counter they would have come at.
struct QuickHoldCase {
  uint64_t values;       // how many the display shows
  uint64_t quickHolds;   // holds next to a value left out
};

class QuickHoldTest : public FatalStopTest, public ::testing::WithParamInterface<QuickHoldCase> {};

TEST_P(QuickHoldTest, HoldsNextToValuesLeftOutTakeTwoReadsAndKeepTheCounter) {
  const QuickHoldCase c = GetParam();
  // No P-state enabled: a hold of 640 ticks, the counter moving 1 a read.
  StartWith({Pstate(false, 120, 8)}, 1);
  Hardware().stopDisplayLimit = c.values;
  RunIntoDisplay(0x00010320);
  // A hold at the platform's step: the start stamp and 641 reads up to
  // start + 641; the next value is written at start + 642. A quick hold:
  // the start stamp, then one read at start + 641, with no pause between.
  std::vector<uint64_t> expectedTimes;
  for (uint64_t k = 0; k < c.values; k++) {
    if (c.values <= 32 || k < 16 || k >= c.values - 16) {
      expectedTimes.push_back(k * 642);
    }
  }
  EXPECT_EQ(DisplayTimes(), expectedTimes);
  const uint64_t slowHolds = c.values - 1 - c.quickHolds;
  EXPECT_EQ(Hardware().tscReads, slowHolds * 642 + c.quickHolds * 2);
  EXPECT_EQ(Hardware().pauses, slowHolds * 640);
  EXPECT_EQ(Hardware().stopDisplayLeftOut, c.values <= 32 ? 0 : c.values - 32);
}

INSTANTIATE_TEST_SUITE_P(Counts, QuickHoldTest,
                         ::testing::Values(QuickHoldCase{16, 0}, QuickHoldCase{32, 0}, QuickHoldCase{33, 2},
                                           QuickHoldCase{34, 3}, QuickHoldCase{40, 9}, QuickHoldCase{1000, 969}),
                         [](const ::testing::TestParamInfo<QuickHoldCase> &info) {
                           return "Values" + std::to_string(info.param.values);
                         });

// A hold next to a value left out that is longer than the holds between
// the values kept is not ended by the span learned from them; it goes on at
// a step that doubles at each read, so it still ends after a few dozen
// reads, and never before the driver's target. Here the processor's P-state
// is enabled from the 40th value to the 84th, raising the frequency from
// 256 ticks a second to 3 GHz while values are left out.
TEST_F(FatalStopTest, AHoldLongerThanTheOnesKeptEndsAtDoublingSteps) {
  StartWith({Pstate(false, 120, 8)}, 1);
  Hardware().stopDisplayLimit = 100;
  uint64_t readsBefore = 0;
  uint64_t valuesSeen = 0;
  Hardware().onPortWrite = [&](const PortWrite &write) {
    if (write.port != 0x80 || write.width != 32) {
      return;
    }
    valuesSeen++;
    if (valuesSeen == 40) {
      Hardware().msrs[kFirstPstate] = Pstate(true, 120, 8);
      readsBefore = Hardware().tscReads;
    } else if (valuesSeen == 84) {
      Hardware().msrs[kFirstPstate] = Pstate(false, 120, 8);
      Driver().ForgetTscFrequency();
    }
  };
  RunIntoDisplay(0x00010320);
  Hardware().onPortWrite = nullptr;
  EXPECT_EQ(Hardware().stopDisplayValues, 100u);
  // Each display value is progress for a watchdog; no other write is.
  EXPECT_EQ(Hardware().progress, 100u);
  EXPECT_STREQ(Hardware().progressWhat, "stop display value");
  const std::vector<uint64_t> times = DisplayTimes();
  ASSERT_EQ(times.size(), 32u);
  // The 44 holds after the 40th value up to the 83rd lie between the 16th
  // value and the 85th (the 17th kept): 7,500,000,000 ticks each, at least.
  EXPECT_GT(times[16] - times[15], 44u * 7500000000u);
  for (size_t i = 17; i < times.size(); i++) {
    EXPECT_EQ(times[i] - times[i - 1], 642u) << "value " << i;
  }
  // A few dozen reads for each long hold, two for the quick hold after the
  // 84th value, and 642 for each of the 15 holds between the last values.
  EXPECT_LE(Hardware().tscReads - readsBefore, 44u * 40u + 2u + 15u * 642u);
}

TEST_F(FatalStopTest, AZeroFrequencyHoldEndsAtTheFirstReadAboveTheStart) {
  StartWith({Pstate(true, 120, 0)}, 1);
  Hardware().stopDisplayLimit = 3;
  RunIntoDisplay(0x00080137);
  const std::vector<uint64_t> times = DisplayTimes();
  ASSERT_EQ(times.size(), 3u);
  EXPECT_EQ(times[1] - times[0], 2u);
  EXPECT_EQ(times[2] - times[1], 2u);
  EXPECT_EQ(Hardware().pauses, 0u);
  EXPECT_EQ(Hardware().msrReads.size(), 2u) << "a frequency of 0 is not kept";
}

struct FrequencyCase {
  uint8_t multiplier;
  uint8_t divisor;
  uint64_t ticks;
};

class TscFrequencyTest : public FatalStopTest, public ::testing::WithParamInterface<FrequencyCase> {};

TEST_P(TscFrequencyTest, WorkedValues) {
  const FrequencyCase c = GetParam();
  StartWith({Pstate(true, c.multiplier, c.divisor)}, 1);
  EXPECT_EQ(TscTicksPerSecond(), c.ticks);
  EXPECT_EQ(gTscTicksPerSecond, c.ticks);
}

INSTANTIATE_TEST_SUITE_P(Pstates, TscFrequencyTest,
                         ::testing::Values(FrequencyCase{120, 8, 3000000000}, FrequencyCase{120, 10, 2400000000},
                                           FrequencyCase{100, 12, 1666000000}, FrequencyCase{120, 60, 400000000},
                                           FrequencyCase{120, 7, 3000000000}, FrequencyCase{120, 61, 3000000000},
                                           FrequencyCase{120, 1, 3000000000}, FrequencyCase{255, 63, 6375000000},
                                           FrequencyCase{255, 8, 6375000000}, FrequencyCase{7, 0, 0},
                                           FrequencyCase{0, 8, 0}),
                         [](const ::testing::TestParamInfo<FrequencyCase> &info) {
                           return "Multiplier" + std::to_string(info.param.multiplier) + "Divisor" +
                                  std::to_string(info.param.divisor);
                         });

TEST_F(FatalStopTest, TheFirstEnabledRegisterDecidesAndIsKept) {
  StartWith({Pstate(true, 120, 8), Pstate(true, 120, 10)}, 1);
  EXPECT_EQ(TscTicksPerSecond(), 3000000000u);
  EXPECT_EQ(TscTicksPerSecond(), 3000000000u);
  EXPECT_EQ(Hardware().msrReads, std::vector<uint32_t>{kFirstPstate}) << "the second call uses the cache";
}

TEST_F(FatalStopTest, NoEnabledRegisterGives256AndRereadsAllEight) {
  StartWith({Pstate(false, 120, 8)}, 1);
  EXPECT_EQ(TscTicksPerSecond(), 256u);
  EXPECT_EQ(TscTicksPerSecond(), 256u);
  std::vector<uint32_t> expected;
  for (int call = 0; call < 2; call++) {
    for (uint32_t i = 0; i < 8; i++) {
      expected.push_back(kFirstPstate + i);
    }
  }
  EXPECT_EQ(Hardware().msrReads, expected);
  EXPECT_EQ(gTscTicksPerSecond, 0u);
}

TEST_F(FatalStopTest, ReadTimeStampIsTheWholeCounter) {
  sim::Platform platform = QuietPlatform();
  platform.cpu.tscStart = 0x123456789ABCDEF0ULL;
  platform.cpu.tscStep = 0x100000000ULL;
  Start(platform);
  EXPECT_EQ(ReadTimeStamp(), 0x123456789ABCDEF0ULL);
  EXPECT_EQ(ReadTimeStamp(), 0x123456799ABCDEF0ULL);
  PauseCpu();
  EXPECT_EQ(Hardware().pauses, 1u);
}

}  // namespace
