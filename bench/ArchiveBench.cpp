// Writes 1,000 streams of mixed sizes into a new archive file and reads them back, next to a
// plain sequential copy of the same bytes into one file and back (the floor for the same
// disk traffic). Both run in the same process; the ratio is printed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "document/SingleFileStorage.h"

namespace {

struct Payload {
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> blobs;
  int64_t total = 0;
};

// Mostly small XML-sized streams with some thumbnails and a few large images.
const Payload& Streams() {
  static const Payload payload = [] {
    Payload p;
    std::mt19937 rng(7);
    for (int i = 0; i < 1000; ++i) {
      const int kind = static_cast<int>(rng() % 10);
      const size_t size = kind < 7 ? 200 + rng() % 4000 : kind < 9 ? 20000 + rng() % 40000 : 200000 + rng() % 300000;
      std::vector<uint8_t> b(size);
      for (auto& x : b) x = static_cast<uint8_t>(rng());
      char name[32];
      std::snprintf(name, sizeof name, "Page%.4d.xml", i + 1);
      p.names.emplace_back(name);
      p.total += static_cast<int64_t>(size);
      p.blobs.push_back(std::move(b));
    }
    return p;
  }();
  return payload;
}

std::string TempFile(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()))).string();
}

void BM_ArchiveWriteRead(benchmark::State& state) {
  const Payload& p = Streams();
  const std::string path = TempFile("kd-archive-bench.hsf");
  for (auto _ : state) {
    std::filesystem::remove(path);
    {
      document::TSingleStorage s;
      s.SetFileName(path);
      for (size_t i = 0; i < p.blobs.size(); ++i) {
        document::TMemoryStream64 src;
        src.WriteBuffer(p.blobs[i].data(), static_cast<int32_t>(p.blobs[i].size()));
        s.WriteStream(&src, p.names[i]);
      }
    }
    document::TSingleStorage s;
    s.SetFileName(path);
    for (const auto& name : p.names) {
      document::TMemoryStream64 dst;
      s.ReadStream(name, &dst);
      benchmark::DoNotOptimize(dst.Memory());
    }
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(state.iterations() * p.total * 2);
}

void BM_PlainFileCopy(benchmark::State& state) {
  const Payload& p = Streams();
  const std::string path = TempFile("kd-archive-bench.bin");
  std::vector<uint8_t> back;
  for (auto _ : state) {
    {
      document::TFileStream64 f(path, platform::fmCreate);
      for (const auto& b : p.blobs) f.WriteBuffer(b.data(), static_cast<int32_t>(b.size()));
    }
    document::TFileStream64 f(path, platform::fmOpenRead);
    for (const auto& b : p.blobs) {
      back.resize(b.size());
      f.ReadBuffer(back.data(), static_cast<int32_t>(b.size()));
      benchmark::DoNotOptimize(back.data());
    }
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(state.iterations() * p.total * 2);
}

BENCHMARK(BM_ArchiveWriteRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFileCopy)->Unit(benchmark::kMillisecond);

// Console output plus the throughput of each run, for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto it = r.counters.find("bytes_per_second");
      if (it != r.counters.end()) rates[r.benchmark_name()] = it->second.value;
    }
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto a = reporter.rates.find("BM_ArchiveWriteRead");
  const auto b = reporter.rates.find("BM_PlainFileCopy");
  if (a != reporter.rates.end() && b != reporter.rates.end() && b->second > 0)
    std::printf("archive %.1f MB/s, plain copy %.1f MB/s, ratio %.2f (%.1f MB of streams)\n", a->second / 1e6,
                b->second / 1e6, a->second / b->second, Streams().total / 1e6);
  benchmark::Shutdown();
  return 0;
}
