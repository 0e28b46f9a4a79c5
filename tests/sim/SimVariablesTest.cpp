// The simulated variable store (sim::VariableStore): GetVariable as the
// driver relies on it.
#include <gtest/gtest.h>

#include <cstdint>

#include "driver/firmware/Guids.h"
#include "host/sim/SimFirmware.h"

namespace {

using sim::SimFirmware;

struct VariableCase {
  const char *what;
  UINTN bufferSize;
  bool passData;
  EFI_STATUS status;
  UINTN sizeAfter;
};

class SimVariableTest : public ::testing::TestWithParam<VariableCase> {};

// The stored variable is 8 bytes.
TEST_P(SimVariableTest, GetVariableSemantics) {
  const VariableCase c = GetParam();
  sim::Platform platform = sim::DefaultPlatform();
  platform.variables[0].data = {1, 2, 3, 4, 5, 6, 7, 8};
  SimFirmware fw(platform);
  uint8_t buffer[16] = {};
  UINTN size = c.bufferSize;
  UINT32 attributes = 0;
  EFI_STATUS status = fw.SystemTable()->RuntimeServices->GetVariable(u"NioTypeProtected", &gNioTypeVariableGuid,
                                                                     &attributes, &size,
                                                                     c.passData ? buffer : nullptr);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(size, c.sizeAfter);
  if (status == EFI_SUCCESS) {
    EXPECT_EQ(buffer[7], 8);
    EXPECT_EQ(attributes, 0x7u);
  } else {
    EXPECT_EQ(buffer[0], 0) << "no data on failure";
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SimVariableTest,
                         ::testing::Values(VariableCase{"too small", 4, true, EFI_BUFFER_TOO_SMALL, 8},
                                           VariableCase{"exact", 8, true, EFI_SUCCESS, 8},
                                           VariableCase{"larger", 16, true, EFI_SUCCESS, 8},
                                           VariableCase{"size query", 0, false, EFI_BUFFER_TOO_SMALL, 8},
                                           VariableCase{"no buffer", 8, false, EFI_INVALID_PARAMETER, 8}));

TEST(SimVariableTest2, MissingVariableAndOtherGuid) {
  sim::Platform platform = sim::DefaultPlatform();
  SimFirmware fw(platform);
  UINT32 word = 0;
  UINTN size = 4;
  EXPECT_EQ(fw.SystemTable()->RuntimeServices->GetVariable(u"Other", &gNioTypeVariableGuid, nullptr, &size, &word),
            EFI_NOT_FOUND);
  EXPECT_EQ(fw.SystemTable()->RuntimeServices->GetVariable(u"NioTypeProtected", &gEfiHobListGuid, nullptr, &size,
                                                           &word),
            EFI_NOT_FOUND);
  EXPECT_EQ(fw.SystemTable()->RuntimeServices->GetVariable(u"NioTypeProtected", &gNioTypeVariableGuid, nullptr,
                                                           nullptr, &word),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(word, 0u);
}

}  // namespace
