// What the benchmark programs share: the device-path corpus and the
// linked-in driver on a simulated firmware whose pool serves its code.
#pragma once

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/harness/LinkedDriver.h"
#include "host/sim/Platform.h"

namespace bench {

struct CorpusText {
  std::string family;
  std::u16string text;  // UCS-2, terminated by the string
  std::string narrow;
};

// Reads bench/devpath-corpus.txt: "family<TAB>text" lines, # comments.
inline std::vector<CorpusText> LoadCorpus(const std::string &path = BOARDINV_BENCH_CORPUS) {
  std::ifstream file(path);
  if (!file) {
    throw std::runtime_error(path + ": cannot read the corpus");
  }
  std::vector<CorpusText> corpus;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') {
      continue;
    }
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      throw std::runtime_error(path + ": a line without a family: " + line);
    }
    CorpusText entry;
    entry.family = line.substr(0, tab);
    entry.narrow = line.substr(tab + 1);
    entry.text.assign(entry.narrow.begin(), entry.narrow.end());  // the corpus is ASCII
    corpus.push_back(entry);
  }
  return corpus;
}

// The linked-in driver on a simulated firmware of the built-in platform,
// its tables the driver's; the pool is the simulated one, with its
// bookkeeping.
inline std::unique_ptr<host::LinkedDriver> StartDriver() {
  return std::make_unique<host::LinkedDriver>(sim::DefaultPlatform());
}

}  // namespace bench
