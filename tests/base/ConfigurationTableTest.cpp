#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "driver/firmware/Guids.h"
#include "driver/base/Tables.h"
#include "tests/support/DriverFixture.h"

namespace {

const EFI_GUID kOtherGuid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

// A configuration table without the default platform's hand-off block
// list; LocateHobList's cache is as at load, as the fixture leaves every
// module global.
class ConfigurationTableTest : public DriverFixture {
 protected:
  void SetUp() override {
    sim::Platform platform = sim::DefaultPlatform();
    platform.hobList.present = false;
    Start(platform);
  }
};

TEST_F(ConfigurationTableTest, EmptyTableIsNotFoundAndClearsTheOutput) {
  int marker = 0;
  VOID *table = &marker;
  EXPECT_EQ(FindConfigurationTable(&gEfiHobListGuid, &table), EFI_NOT_FOUND);
  EXPECT_EQ(table, nullptr);
}

TEST_F(ConfigurationTableTest, FirstMatchingRowWins) {
  int first = 1;
  int second = 2;
  int other = 3;
  Firmware().AddConfigurationTable(kOtherGuid, &other);
  Firmware().AddConfigurationTable(gEfiHobListGuid, &first);
  Firmware().AddConfigurationTable(gEfiHobListGuid, &second);
  VOID *table = nullptr;
  EXPECT_EQ(FindConfigurationTable(&gEfiHobListGuid, &table), EFI_SUCCESS);
  EXPECT_EQ(table, &first);
}

TEST_F(ConfigurationTableTest, NoMatchingRowIsNotFound) {
  int other = 3;
  Firmware().AddConfigurationTable(kOtherGuid, &other);
  VOID *table = &other;
  EXPECT_EQ(FindConfigurationTable(&gEfiHobListGuid, &table), EFI_NOT_FOUND);
  EXPECT_EQ(table, nullptr);
}

TEST_F(ConfigurationTableTest, GuidsCompareWholeAtAnyAlignment) {
  alignas(8) uint8_t storage[2 * sizeof(EFI_GUID) + 1];
  auto *unaligned = reinterpret_cast<EFI_GUID *>(storage + 1);
  std::memcpy(unaligned, &gEfiHobListGuid, sizeof(EFI_GUID));
  EXPECT_TRUE(CompareGuid(unaligned, &gEfiHobListGuid));
  storage[1 + 15] ^= 1;  // last byte of the second half
  EXPECT_FALSE(CompareGuid(unaligned, &gEfiHobListGuid));
}

// The hand-off block list is cached once found, and looked up again while
// absent. The cache is a module global, so the check runs in a child.
TEST_F(ConfigurationTableTest, HobListIsLookedUpUntilFoundThenCached) {
  EXPECT_EXIT(
      {
        bool ok = LocateHobList() == nullptr;
        int list = 0;
        int later = 0;
        Firmware().AddConfigurationTable(gEfiHobListGuid, &list);
        ok = ok && LocateHobList() == &list;
        Firmware().AddConfigurationTable(kOtherGuid, &later);
        gSystemTable->ConfigurationTable[0].VendorTable = &later;
        ok = ok && LocateHobList() == &list;
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
