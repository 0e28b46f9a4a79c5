// In-process tests of driver code against the simulated firmware. For the
// life of each test the driver's module globals start as at load and its
// table globals point at the simulation's tables (host::LinkedDriver); a
// test that leaves pool blocks allocated, or frees one the pool never gave
// out, fails.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "host/harness/LinkedDriver.h"
#include "host/sim/SimFirmware.h"

class DriverFixture : public ::testing::Test {
 protected:
  // A fresh firmware on the platform, and the driver's globals as at load.
  void Start(const sim::Platform &platform = sim::DefaultPlatform()) {
    driver_.reset();
    driver_.emplace(platform);
    driver_->ExpectPoolCleanAtEnd([](const std::string &left) { ADD_FAILURE() << "the pool after the test: " << left; });
  }

  void SetUp() override { Start(); }

  void TearDown() override { driver_.reset(); }

  sim::SimFirmware &Firmware() { return driver_->Firmware(); }
  host::LinkedDriver &Driver() { return *driver_; }

 private:
  std::optional<host::LinkedDriver> driver_;
};
