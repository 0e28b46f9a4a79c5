// What the device-path tests share: a simulated firmware whose pool the
// converter allocates from, byte and text helpers, and the check that a
// result is a valid path that owns exactly its own allocation.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/devpath/DevicePathParsers.h"
#include "host/harness/LinkedDriver.h"
#include "host/sim/SimFirmware.h"
#include "driver/base/Memory.h"
#include "driver/base/Tables.h"
#include "tests/support/DeviceTextLaw.h"

namespace devpath_test {

using Bytes = std::vector<uint8_t>;

// "02 01 0C 00" -> bytes. Spaces are ignored.
inline Bytes FromHex(const std::string &text) {
  Bytes bytes;
  std::string digits;
  for (char c : text) {
    if (c != ' ') {
      digits += c;
    }
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Bytes -> "02 01 0C 00", the form the tool prints.
inline std::string ToHex(const Bytes &bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : bytes) {
    if (!text.empty()) {
      text += ' ';
    }
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

inline Bytes NodeBytes(const EFI_DEVICE_PATH_PROTOCOL *node) {
  const auto *start = reinterpret_cast<const uint8_t *>(node);
  return Bytes(start, start + DevicePathNodeLength(node));
}

// ASCII -> UCS-2, for texts built at run time.
inline std::u16string U16(const std::string &text) { return std::u16string(text.begin(), text.end()); }

// A text and what it converts to, as hex ("null" for a null result).
struct NodeCase {
  std::u16string text;
  std::string bytes;
};

// A text, narrowed and cut, to name a case in a failure message.
inline std::string Name(const std::u16string &text) { return std::string(text.begin(), text.end()).substr(0, 80); }

// Count zero bytes, as hex.
inline std::string Zeros(size_t count) {
  std::string text;
  for (size_t i = 0; i < count; i++) {
    text += i == 0 ? "00" : " 00";
  }
  return text;
}

// The keyword rows in table order, and a row's keyword as UCS-2 text.
inline std::vector<const NODE_TEXT_ROW *> TableRows() {
  std::vector<const NODE_TEXT_ROW *> rows;
  for (const NODE_TEXT_ROW &row : gNodeTextTables.Rows) {
    rows.push_back(&row);
  }
  return rows;
}
inline std::u16string RowKeyword(const NODE_TEXT_ROW *row) { return U16(NodeTextRowKeyword(row)); }

// A GUID as text and in node byte order.
inline const std::u16string kGuidText = u"07AC0304-8AA0-4DD7-94AC-2A3DEAB5CB25";
inline const std::string kGuidBytes = "04 03 AC 07 A0 8A D7 4D 94 AC 2A 3D EA B5 CB 25";

// A simulated firmware for each test, wired to the linked-in driver: the
// converter's pool calls land in it and every test ends with the pool as it
// found it.
class PoolTest : public ::testing::Test {
 protected:
  explicit PoolTest(const sim::Platform &platform = sim::DefaultPlatform()) : driver_(platform) {}

  void TearDown() override {
    EXPECT_EQ(firmware_.Pool().Statistics().outstandingBlocks, 0u) << "pool blocks leaked";
    EXPECT_EQ(firmware_.Pool().Statistics().invalidFrees, 0u);
  }

  // Runs a conversion and checks its result: null, or one new pool block of
  // exactly the path's (or node's) size. Returns the bytes and frees them.
  template <typename Convert>
  std::optional<Bytes> Owned(Convert convert, bool node) {
    const uint64_t blocks = firmware_.Pool().Statistics().outstandingBlocks;
    const uint64_t bytes = firmware_.Pool().Statistics().outstandingBytes;
    EFI_DEVICE_PATH_PROTOCOL *result = convert();
    if (result == nullptr) {
      EXPECT_EQ(firmware_.Pool().Statistics().outstandingBlocks, blocks);
      return std::nullopt;
    }
    const uint64_t size = node ? DevicePathNodeLength(result) : GetDevicePathSize(result);
    EXPECT_NE(size, 0u) << "not a valid device path";
    EXPECT_EQ(firmware_.Pool().Statistics().outstandingBlocks, blocks + 1);
    EXPECT_EQ(firmware_.Pool().Statistics().outstandingBytes, bytes + size) << "allocation and size differ";
    const auto *start = reinterpret_cast<const uint8_t *>(result);
    Bytes out(start, start + size);
    PoolFree(result);
    return out;
  }

  // The converted path as hex, or "null". Every path converted here must
  // also come back from its text: bytes -> text -> the same bytes.
  std::string Path(const std::u16string &text) {
    auto bytes = Owned([&] { return ConvertTextToDevicePath(text.c_str()); }, false);
    if (bytes) {
      EXPECT_EQ(law::PathReadsBack(*bytes), "") << "formatting the path of " << Name(text);
    }
    return bytes ? ToHex(*bytes) : "null";
  }

  // The same for a node, which comes back from its text as a path of itself.
  std::string Node(const std::u16string &text) {
    auto bytes = Owned([&] { return ConvertTextToDeviceNode(text.c_str()); }, true);
    if (bytes) {
      Bytes path = *bytes;
      path.insert(path.end(), {0x7F, 0xFF, 0x04, 0x00});
      EXPECT_EQ(law::PathReadsBack(path), "") << "formatting the node of " << Name(text);
    }
    return bytes ? ToHex(*bytes) : "null";
  }

  // Each text converted as a node (as a whole path), against its bytes.
  void ExpectNodes(const std::vector<NodeCase> &cases) {
    for (const auto &c : cases) {
      EXPECT_EQ(Node(c.text), c.bytes) << Name(c.text);
    }
  }
  void ExpectPaths(const std::vector<NodeCase> &cases) {
    for (const auto &c : cases) {
      EXPECT_EQ(Path(c.text), c.bytes) << Name(c.text);
    }
  }

  host::LinkedDriver driver_;
  sim::SimFirmware &firmware_ = driver_.Firmware();
};

}  // namespace devpath_test
