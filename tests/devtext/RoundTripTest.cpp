// The round trip as a law, over every text we keep: the benchmark corpus
// and the seed corpora of the device-path fuzzers. Each text converts to
// bytes, the bytes format to a text, and that text converts back to the
// same bytes; formatting those bytes again gives the same text.
#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/devpath/DevpathTestSupport.h"
#include "tests/support/DeviceTextLaw.h"

namespace devpath_test {
namespace {

const std::string kSource = BOARDINV_SOURCE_DIR;

Bytes ReadFile(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> FilesIn(const std::string &folder) {
  std::vector<std::string> names;
  if (DIR *dir = opendir(folder.c_str())) {
    while (const dirent *entry = readdir(dir)) {
      if (entry->d_name[0] != '.') {
        names.push_back(folder + "/" + entry->d_name);
      }
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class RoundTripTest : public PoolTest {
 protected:
  // text -> bytes -> text' -> bytes', and text' formats to itself.
  void ExpectLaw(const std::u16string &text, const std::string &name) {
    const std::optional<Bytes> bytes = law::ConvertPath(text);
    if (!bytes) {
      return;
    }
    converted_++;
    EXPECT_EQ(law::PathReadsBack(*bytes), "") << name;
    const std::string again = law::LinkedFormatter().Path(bytes->data(), bytes->size()).text;
    const std::optional<Bytes> back = law::ConvertPath(law::Wide(again));
    ASSERT_TRUE(back.has_value()) << name;
    EXPECT_EQ(law::LinkedFormatter().Path(back->data(), back->size()).text, again) << name;
  }

  size_t converted_ = 0;
};

TEST_F(RoundTripTest, EveryTextOfTheBenchmarkCorpus) {
  std::ifstream corpus(kSource + "/bench/devpath-corpus.txt");
  std::string line;
  size_t lines = 0;
  while (std::getline(corpus, line)) {
    if (line.empty() || line[0] == '#') {
      continue;
    }
    lines++;
    ExpectLaw(law::Wide(line.substr(line.find('\t') + 1)), line);
  }
  EXPECT_EQ(lines, 96u);
  EXPECT_EQ(converted_, lines) << "every corpus text converts";
}

// The text fuzzer's seeds are UCS-2, low byte first; an odd last byte
// steers its pool failures and is no text.
TEST_F(RoundTripTest, EverySeedOfTheTextFuzzer) {
  const auto files = FilesIn(kSource + "/tests/fuzz/corpus/devpath_text_fuzzer");
  ASSERT_GE(files.size(), 100u);
  for (const std::string &file : files) {
    const Bytes data = ReadFile(file);
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
      const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
      if (unit == 0) {
        break;
      }
      text += unit;
    }
    ExpectLaw(text, file);
  }
  EXPECT_GE(converted_, 100u);
}

// The binary fuzzer's seeds hold paths after two control bytes: every
// valid path found at any offset goes bytes -> text -> bytes.
TEST_F(RoundTripTest, EveryPathInTheBinaryFuzzerSeeds) {
  size_t paths = 0;
  for (const std::string &file : FilesIn(kSource + "/tests/fuzz/corpus/devpath_binary_fuzzer")) {
    const Bytes data = ReadFile(file);
    for (size_t offset = 0; offset < data.size(); offset++) {
      const auto *start = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(data.data() + offset);
      const uint64_t size = GetDevicePathSizeWithin(start, data.size() - offset, nullptr);
      if (size != 0) {
        paths++;
        EXPECT_EQ(law::PathReadsBack(Bytes(data.begin() + offset, data.begin() + offset + size)), "")
            << file << " at offset " << offset;
      }
    }
  }
  EXPECT_GE(paths, 10u);
}

}  // namespace
}  // namespace devpath_test
