// The converter's answers over the benchmark corpus and the text fuzzer's
// seeds, against the answers kept in tests/devpath/converter-answers.txt.
//
//   converter_answers CORPUS SEED_DIR ANSWERS           compare
//   converter_answers CORPUS SEED_DIR ANSWERS --write   write ANSWERS
//
// One line per text: its name (corpus:LINE, or seed:FILE), then the answer
// of ConvertTextToDevicePath and of ConvertTextToDeviceNode, each "null",
// the bytes in hex, or for a result of more than 64 bytes its size and the
// 64-bit FNV-1a hash of its bytes ("4100:fnv=0123456789ABCDEF"). A seed's
// bytes are UCS-2 text, low byte first, up to the first zero character, as
// the text fuzzer reads them (an odd last byte, the fuzzer's pool-failure
// choice, is not text). The pool never refuses here. Exit 0 when every
// answer is the kept one, 1 naming each text whose answer differs.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "driver/devpath/DevicePath.h"
#include "host/harness/LinkedDriver.h"
#include "host/sim/Platform.h"
#include "driver/base/Memory.h"

namespace {

struct Text {
  std::string name;
  std::u16string text;
};

std::vector<Text> CorpusTexts(const std::string &path) {
  std::ifstream file(path);
  std::vector<Text> texts;
  std::string line;
  for (int number = 1; std::getline(file, line); number++) {
    if (line.empty() || line[0] == '#') {
      continue;
    }
    const std::string text = line.substr(line.find('\t') + 1);  // the corpus is ASCII
    texts.push_back({"corpus:" + std::to_string(number), std::u16string(text.begin(), text.end())});
  }
  return texts;
}

std::vector<Text> SeedTexts(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *handle = opendir(dir.c_str())) {
    while (const dirent *entry = readdir(handle)) {
      if (entry->d_name[0] != '.') {
        names.push_back(entry->d_name);
      }
    }
    closedir(handle);
  }
  std::sort(names.begin(), names.end());
  std::vector<Text> texts;
  for (const std::string &name : names) {
    std::ifstream file(dir + "/" + name, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const char16_t unit = static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8));
      if (unit == 0) {
        break;
      }
      text += unit;
    }
    texts.push_back({"seed:" + name, text});
  }
  return texts;
}

std::string Answer(const EFI_DEVICE_PATH_PROTOCOL *result, uint64_t size) {
  if (result == nullptr) {
    return "null";
  }
  static const char kDigits[] = "0123456789ABCDEF";
  const auto *bytes = reinterpret_cast<const uint8_t *>(result);
  if (size > 64) {
    uint64_t hash = 0xCBF29CE484222325ULL;
    for (uint64_t i = 0; i < size; i++) {
      hash = (hash ^ bytes[i]) * 0x100000001B3ULL;
    }
    char text[48];
    std::snprintf(text, sizeof(text), "%llu:fnv=%016llX", static_cast<unsigned long long>(size),
                  static_cast<unsigned long long>(hash));
    return text;
  }
  std::string text;
  for (uint64_t i = 0; i < size; i++) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

std::string Answers(const std::u16string &text) {
  EFI_DEVICE_PATH_PROTOCOL *path = ConvertTextToDevicePath(text.c_str());
  std::string line = Answer(path, path != nullptr ? GetDevicePathSize(path) : 0);
  PoolFree(path);
  EFI_DEVICE_PATH_PROTOCOL *node = ConvertTextToDeviceNode(text.c_str());
  line += " " + Answer(node, node != nullptr ? DevicePathNodeLength(node) : 0);
  PoolFree(node);
  return line;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "--write")) {
    std::fprintf(stderr, "usage: converter_answers CORPUS SEED_DIR ANSWERS [--write]\n");
    return 2;
  }
  std::vector<Text> texts = CorpusTexts(argv[1]);
  const std::vector<Text> seeds = SeedTexts(argv[2]);
  texts.insert(texts.end(), seeds.begin(), seeds.end());
  if (texts.size() < 200) {
    std::fprintf(stderr, "converter_answers: only %zu texts read from %s and %s\n", texts.size(), argv[1], argv[2]);
    return 2;
  }

  std::ostringstream answers;
  {
    host::LinkedDriver driver(sim::DefaultPlatform());
    for (const Text &text : texts) {
      answers << text.name << ' ' << Answers(text.text) << '\n';
    }
  }
  if (argc == 5) {
    std::ofstream(argv[3], std::ios::binary) << answers.str();
    std::printf("%zu answers written to %s\n", texts.size(), argv[3]);
    return 0;
  }

  // Compared by name, so that a seed added or taken away names itself
  // instead of shifting every line after it.
  auto byName = [](std::istream &in) {
    std::map<std::string, std::string> lines;
    for (std::string line; std::getline(in, line);) {
      lines[line.substr(0, line.find(' '))] = line;
    }
    return lines;
  };
  std::ifstream keptFile(argv[3]);
  std::istringstream nowText(answers.str());
  const std::map<std::string, std::string> kept = byName(keptFile);
  const std::map<std::string, std::string> now = byName(nowText);
  size_t differ = 0;
  for (const auto &[name, line] : now) {
    const auto found = kept.find(name);
    if (found == kept.end()) {
      differ++;
      std::printf("no kept answer:\n  now:  %s\n", line.c_str());
    } else if (found->second != line) {
      differ++;
      std::printf("differs:\n  kept: %s\n  now:  %s\n", found->second.c_str(), line.c_str());
    }
  }
  for (const auto &[name, line] : kept) {
    if (now.count(name) == 0) {
      differ++;
      std::printf("kept answer of a text no longer there:\n  kept: %s\n", line.c_str());
    }
  }
  std::printf("%zu texts, %zu answers differ\n", now.size(), differ);
  return differ == 0 ? 0 : 1;
}
