// Device-path benchmarks: the driver's text-to-binary conversion over a
// corpus that covers every keyword, the same paths formatted back to text
// by our formatter (host/devtext, each keyword form checked by converting
// it back) and by libefivar (the formatter users already have), and the
// binary utilities over long paths.
#include <benchmark/benchmark.h>
// libefivar's headers declare C functions without C++ linkage guards.
extern "C" {
#include <efivar/efivar.h>
}

#include <cstdint>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "driver/devpath/DevicePath.h"
#include "host/devtext/DeviceText.h"
#include "driver/base/Memory.h"

namespace {

const std::vector<bench::CorpusText> &Corpus() {
  static const std::vector<bench::CorpusText> corpus = bench::LoadCorpus();
  return corpus;
}

uint64_t CorpusTextBytes() {
  uint64_t bytes = 0;
  for (const bench::CorpusText &entry : Corpus()) {
    bytes += 2 * entry.text.size();  // UCS-2, as the converter reads it
  }
  return bytes;
}

// Converts every path of the corpus (or of one family) and frees it.
void BM_ConvertTextToDevicePath(benchmark::State &state) {
  auto driver = bench::StartDriver();
  for (auto _ : state) {
    for (const bench::CorpusText &entry : Corpus()) {
      EFI_DEVICE_PATH_PROTOCOL *path = ConvertTextToDevicePath(entry.text.c_str());
      benchmark::DoNotOptimize(path);
      if (path == nullptr) {
        state.SkipWithError(("did not convert: " + entry.narrow).c_str());
        return;
      }
      PoolFree(path);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Corpus().size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * CorpusTextBytes()));
  state.counters["paths"] = static_cast<double>(Corpus().size());
}
BENCHMARK(BM_ConvertTextToDevicePath);

// One path text of `nodes` PCI nodes ("Pci(0,0)/" repeated), converted
// whole: the time per node ("per_node") stays level as the text grows when
// the conversion takes time in proportion to the text.
void BM_ConvertLongPathText(benchmark::State &state) {
  auto driver = bench::StartDriver();
  const int64_t nodes = state.range(0);
  std::u16string text;
  for (int64_t i = 0; i < nodes; i++) {
    text += u"Pci(0,0)/";
  }
  for (auto _ : state) {
    EFI_DEVICE_PATH_PROTOCOL *path = ConvertTextToDevicePath(text.c_str());
    benchmark::DoNotOptimize(path);
    if (path == nullptr) {
      state.SkipWithError("the long path text did not convert");
      return;
    }
    PoolFree(path);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * nodes));
  state.counters["per_node"] = benchmark::Counter(static_cast<double>(nodes),
                                                  benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}
BENCHMARK(BM_ConvertLongPathText)->ArgName("nodes")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The corpus as binary paths, converted once by the driver.
std::vector<std::vector<uint8_t>> BinaryCorpus() {
  auto driver = bench::StartDriver();
  std::vector<std::vector<uint8_t>> paths;
  for (const bench::CorpusText &entry : Corpus()) {
    EFI_DEVICE_PATH_PROTOCOL *path = ConvertTextToDevicePath(entry.text.c_str());
    const auto *bytes = reinterpret_cast<const uint8_t *>(path);
    paths.emplace_back(bytes, bytes + GetDevicePathSize(path));
    PoolFree(path);
  }
  return paths;
}

// Our formatter writes the same paths back to text; every node's keyword
// form is converted back by the driver's converter (against the simulated
// pool) before it is used.
void BM_FormatDevicePathAsText(benchmark::State &state) {
  const std::vector<std::vector<uint8_t>> paths = BinaryCorpus();
  auto driver = bench::StartDriver();
  const devtext::Formatter formatter(devtext::LinkedNodeConverter());
  uint64_t textBytes = 0;
  for (const auto &path : paths) {
    const devtext::PathText text = formatter.Path(path.data(), path.size());
    if (!text.Valid()) {
      state.SkipWithError("a corpus path did not format");
      return;
    }
    textBytes += text.text.size();
  }
  for (auto _ : state) {
    for (const auto &path : paths) {
      devtext::PathText text = formatter.Path(path.data(), path.size());
      benchmark::DoNotOptimize(text);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * paths.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * textBytes));
}
BENCHMARK(BM_FormatDevicePathAsText);

// libefivar formats the same paths back to text (into a buffer large
// enough for every one of them, as a caller that sizes once would).
void BM_EfivarFormatDevicePath(benchmark::State &state) {
  const std::vector<std::vector<uint8_t>> paths = BinaryCorpus();
  std::vector<char> text(65536);
  uint64_t textBytes = 0;
  for (const auto &path : paths) {
    const ssize_t needed = efidp_format_device_path(nullptr, 0, reinterpret_cast<const_efidp>(path.data()),
                                                    static_cast<ssize_t>(path.size()));
    if (needed < 0) {
      state.SkipWithError("libefivar did not format a corpus path");
      return;
    }
    textBytes += static_cast<uint64_t>(needed);
  }
  for (auto _ : state) {
    for (const auto &path : paths) {
      const ssize_t written = efidp_format_device_path(text.data(), text.size(),
                                                       reinterpret_cast<const_efidp>(path.data()),
                                                       static_cast<ssize_t>(path.size()));
      benchmark::DoNotOptimize(written);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * paths.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * textBytes));
}
BENCHMARK(BM_EfivarFormatDevicePath);

// A path of `nodes` nodes: PCI nodes, or file-path nodes of 64 characters.
std::vector<uint8_t> LongPath(int64_t nodes, bool filePaths) {
  std::vector<uint8_t> bytes;
  for (int64_t i = 0; i < nodes; i++) {
    if (filePaths) {
      const uint16_t length = 4 + 2 * 64;
      bytes.insert(bytes.end(), {0x04, 0x04, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)});
      for (int c = 0; c < 63; c++) {
        bytes.insert(bytes.end(), {static_cast<uint8_t>('a' + c % 26), 0});
      }
      bytes.insert(bytes.end(), {0, 0});
    } else {
      bytes.insert(bytes.end(), {0x01, 0x01, 0x06, 0x00, static_cast<uint8_t>(i & 7), static_cast<uint8_t>(i & 31)});
    }
  }
  bytes.insert(bytes.end(), {0x7F, 0xFF, 0x04, 0x00});
  return bytes;
}

void BM_ValidateDevicePath(benchmark::State &state) {
  const std::vector<uint8_t> path = LongPath(state.range(0), state.range(1) != 0);
  const auto *dp = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(path.data());
  if (!ValidateDevicePath(dp)) {
    state.SkipWithError("the long path is not valid");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(ValidateDevicePath(dp));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * (state.range(0) + 1)));  // nodes
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * path.size()));
}
BENCHMARK(BM_ValidateDevicePath)->ArgNames({"nodes", "file"})->ArgsProduct({{16, 256, 4096}, {0, 1}});

void BM_GetDevicePathSize(benchmark::State &state) {
  const std::vector<uint8_t> path = LongPath(state.range(0), state.range(1) != 0);
  const auto *dp = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(path.data());
  if (GetDevicePathSize(dp) != path.size()) {
    state.SkipWithError("the long path's size is wrong");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetDevicePathSize(dp));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * (state.range(0) + 1)));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * path.size()));
}
BENCHMARK(BM_GetDevicePathSize)->ArgNames({"nodes", "file"})->ArgsProduct({{16, 256, 4096}, {0, 1}});

}  // namespace

BENCHMARK_MAIN();
