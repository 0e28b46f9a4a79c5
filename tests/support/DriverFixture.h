// In-process tests of driver code against the simulated firmware. The
// driver's module globals point at the simulation's tables for the life of
// each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "host/sim/SimFirmware.h"
#include "startup/Startup.h"

class DriverFixture : public ::testing::Test {
 protected:
  void Start(const sim::Platform &platform = sim::DefaultPlatform()) {
    firmware_ = std::make_unique<sim::SimFirmware>(platform);
    gSystemTable = firmware_->SystemTable();
    gBootServices = gSystemTable->BootServices;
    gRuntimeServices = gSystemTable->RuntimeServices;
  }

  void SetUp() override { Start(); }

  void TearDown() override {
    firmware_.reset();
    gSystemTable = nullptr;
    gBootServices = nullptr;
    gRuntimeServices = nullptr;
  }

  sim::SimFirmware &Firmware() { return *firmware_; }

 private:
  std::unique_ptr<sim::SimFirmware> firmware_;
};
