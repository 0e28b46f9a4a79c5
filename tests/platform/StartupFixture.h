// In-process tests of the platform support services against the simulated
// firmware. Each test starts from the driver's load-time state (the harness
// resets the module globals) and a platform of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/boot/Boot.h"
#include "host/harness/LinkedDriver.h"
#include "host/sim/SimFirmware.h"
#include "driver/platform/PlatformServices.h"
#include "driver/base/Tables.h"

class StartupFixture : public ::testing::Test {
 protected:
  // A platform whose stop policy and hardware the test sets itself: no
  // hand-off block list unless the test gives one.
  static sim::Platform QuietPlatform() {
    sim::Platform platform = sim::DefaultPlatform();
    platform.hobList.present = false;
    return platform;
  }

  // A fresh firmware on the platform, and the driver's globals as at load.
  void Start(const sim::Platform &platform) {
    driver_.reset();
    driver_.emplace(platform);
  }

  void SetUp() override { Start(QuietPlatform()); }

  // The services keep what they transfer in pool, as the heap buffer list's
  // nodes; the pool must hold nothing else of theirs at the end.
  void TearDown() override {
    int64_t nodes = 0;
    if (gHeapListAnchor != nullptr) {
      for (const HEAP_BUFFER_NODE *node : Nodes()) {
        nodes += Firmware().Pool().PoolBlockType(node).has_value() ? 1 : 0;
      }
    }
    const host::PoolLeft left = driver_->Left();
    EXPECT_EQ(left.blocks, nodes) << "the pool after the test holds more than the heap buffer list's nodes: "
                                  << left.Describe();
    EXPECT_EQ(left.invalidFrees, 0u) << left.Describe();
    driver_.reset();
  }

  sim::SimFirmware &Firmware() { return driver_->Firmware(); }
  sim::HardwareModel &Hardware() { return driver_->Firmware().Hardware(); }

  host::LinkedDriver &Driver() { return *driver_; }

  // The stop policy as the snapshot holds it.
  void SetStopPolicy(bool on) { driver_->SetStopPolicy(on); }

  // An empty list behind the anchor, as the start-up step makes it.
  void EmptyHeapList() { driver_->InstallEmptyHeapList(); }

  // The nodes behind the anchor, walking forward or backward.
  static std::vector<HEAP_BUFFER_NODE *> Nodes(bool forward = true) {
    std::vector<HEAP_BUFFER_NODE *> nodes;
    HEAP_LIST_ENTRY *head = gHeapListAnchor;
    for (HEAP_LIST_ENTRY *entry = forward ? head->Forward : head->Back; entry != head && nodes.size() < 1000;
         entry = forward ? entry->Forward : entry->Back) {
      nodes.push_back(reinterpret_cast<HEAP_BUFFER_NODE *>(entry));
    }
    return nodes;
  }

  // The calls of one service, "service detail" each, in order.
  std::vector<std::string> CallsOf(const std::string &service) {
    std::vector<std::string> calls;
    for (const sim::ServiceCall &call : Firmware().Calls()) {
      const sim::ServiceCallText text = sim::FormatServiceCall(call);
      if (text.service == service) {
        calls.push_back(text.detail + ": " + sim::StatusText(call.status));
      }
    }
    return calls;
  }

 private:
  std::optional<host::LinkedDriver> driver_;
};
