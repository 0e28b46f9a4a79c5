// In-process tests of the platform support services against the simulated
// firmware. Each test starts from the services' load-time state (the host
// resets the module globals) and a platform of its own.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "host/boot/Boot.h"
#include "host/harness/DriverGlobals.h"
#include "host/sim/SimFirmware.h"
#include "platform/PlatformServices.h"
#include "startup/Startup.h"

class StartupFixture : public ::testing::Test {
 protected:
  // A platform whose stop policy and hardware the test sets itself: no
  // hand-off block list unless the test gives one.
  static sim::Platform QuietPlatform() {
    sim::Platform platform = sim::DefaultPlatform();
    platform.hobList.present = false;
    return platform;
  }

  void Start(const sim::Platform &platform) {
    firmware_.reset();
    host::ResetStartupModuleGlobals();
    firmware_ = std::make_unique<sim::SimFirmware>(platform);
    gSystemTable = firmware_->SystemTable();
    gBootServices = gSystemTable->BootServices;
    gRuntimeServices = gSystemTable->RuntimeServices;
  }

  void SetUp() override { Start(QuietPlatform()); }

  void TearDown() override {
    firmware_.reset();
    host::ResetStartupModuleGlobals();
    gSystemTable = nullptr;
    gBootServices = nullptr;
    gRuntimeServices = nullptr;
  }

  sim::SimFirmware &Firmware() { return *firmware_; }
  sim::HardwareModel &Hardware() { return firmware_->Hardware(); }

  // The stop policy as the snapshot holds it.
  static void SetStopPolicy(bool on) { gPlatformConfigSnapshot.FatalStopEnabled = on ? 1 : 0; }

  // An empty list behind the anchor, as the start-up step makes it.
  static void EmptyHeapList() {
    gHeapBufferListInterface.ListHead.Forward = &gHeapBufferListInterface.ListHead;
    gHeapBufferListInterface.ListHead.Back = &gHeapBufferListInterface.ListHead;
    gHeapListAnchor = &gHeapBufferListInterface.ListHead;
  }

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
  std::unique_ptr<sim::SimFirmware> firmware_;
};
