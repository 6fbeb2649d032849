// Writes 1,000 streams of mixed sizes into a new archive file and reads them back, next to a
// plain sequential copy of the same bytes into one file and back (the floor for the same
// disk traffic). Both run in the same process; the ratio is printed at the end. The archive
// side writes as the document's save does: inside a transaction, so the directory is written
// once at the commit. Then a scale table shows how each archive cost grows with the number of
// streams (per-stream cost should stay flat).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// state.range(0) = 0 skips the commit's two flushes to disk (the fault-test hook), to show
// how much of the time is waiting for the disk.
void BM_ArchiveWriteRead(benchmark::State& state) {
  const Payload& p = Streams();
  document::FileFaults().Reset();
  document::FileFaults().NoDiskFlush = state.range(0) == 0;
  const std::string path = TempFile("kd-archive-bench.hsf");
  for (auto _ : state) {
    std::filesystem::remove(path);
    {
      document::TSingleStorage s;
      s.SetFileName(path);
      s.BeginTransaction();
      for (size_t i = 0; i < p.blobs.size(); ++i) {
        document::TMemoryStream64 src;
        src.WriteBuffer(p.blobs[i].data(), static_cast<int32_t>(p.blobs[i].size()));
        s.WriteStream(&src, p.names[i]);
      }
      s.CommitTransaction();
    }
    document::TSingleStorage s;
    s.SetFileName(path);
    for (const auto& name : p.names) {
      document::TMemoryStream64 dst;
      s.ReadStream(name, &dst);
      benchmark::DoNotOptimize(dst.Memory());
    }
  }
  document::FileFaults().Reset();
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

BENCHMARK(BM_ArchiveWriteRead)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFileCopy)->Unit(benchmark::kMillisecond);

// Console output plus the throughput of each run, for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto it = r.counters.find("bytes_per_second");
      if (it != r.counters.end()) rates[r.benchmark_name()] = it->second.value;
      wall[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
  }
  std::map<std::string, double> rates;  // bytes per CPU second
  std::map<std::string, double> wall;   // wall time per round
};

// Scale: N small streams through each archive operation; prints milliseconds and the cost
// per stream, so growth faster than linear shows as a rising per-stream figure.
double Ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

void ScaleRow(int n, const char* what, double ms) {
  std::printf("%7d  %-34s %10.1f ms %9.2f us/stream\n", n, what, ms, ms * 1000.0 / n);
}

void RunScale(int n) {
  using clock = std::chrono::steady_clock;
  const std::string path = TempFile("kd-archive-scale.hsf");
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) names.push_back("Page" + std::to_string(i + 1) + ".xml");
  std::vector<uint8_t> blob(256);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 7);
  document::TMemoryStream64 src;
  src.WriteBuffer(blob.data(), static_cast<int32_t>(blob.size()));
  std::filesystem::remove(path);
  {
    // The document's save: every stream inside one transaction.
    document::TSingleStorage s;
    s.SetFileName(path);
    auto t = clock::now();
    s.BeginTransaction();
    for (const auto& name : names) s.WriteStream(&src, name);
    ScaleRow(n, "write (in a transaction)", Ms(t));
    t = clock::now();
    s.CommitTransaction();
    ScaleRow(n, "commit", Ms(t));
  }
  {
    // Outside a transaction every added stream updates the directory in the file.
    const std::string plain = TempFile("kd-archive-scale-plain.hsf");
    std::filesystem::remove(plain);
    document::TSingleStorage s;
    s.SetFileName(plain);
    const auto t = clock::now();
    for (const auto& name : names) s.WriteStream(&src, name);
    ScaleRow(n, "write (no transaction)", Ms(t));
    s.SetFileName(std::string());
    std::filesystem::remove(plain);
  }
  {
    document::TSingleStorage s;
    auto t = clock::now();
    s.SetFileName(path);
    ScaleRow(n, "open (read directory)", Ms(t));
    t = clock::now();
    for (const auto& name : names) {
      document::TMemoryStream64 dst;
      s.ReadStream(name, &dst);
    }
    ScaleRow(n, "read all", Ms(t));
    // Change every stream through its cache, then save them with one flush.
    s.SetCacheLimit(int64_t(1) << 40);
    t = clock::now();
    const uint8_t b = 1;
    for (int i = 0; i < n; ++i) {
      document::TStoreStream* e = s.Items(i);
      e->Seek(0, platform::soFromEnd);
      e->WriteBuffer(&b, 1);
    }
    ScaleRow(n, "change every stream (cached)", Ms(t));
    t = clock::now();
    s.Flush();
    ScaleRow(n, "flush", Ms(t));
    t = clock::now();
    s.BeginTransaction();
    for (int i = 0; i < n; i += 2) s.DeleteStream(names[static_cast<size_t>(i)]);
    s.CommitTransaction();
    ScaleRow(n, "delete half (transaction)", Ms(t));
    t = clock::now();
    s.Compact();
    ScaleRow(n, "compact", Ms(t));
  }
  std::filesystem::remove(path);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto b = reporter.rates.find("BM_PlainFileCopy");
  for (const char* run : {"BM_ArchiveWriteRead/1", "BM_ArchiveWriteRead/0"}) {
    const auto a = reporter.rates.find(run);
    if (a != reporter.rates.end() && b != reporter.rates.end() && b->second > 0)
      std::printf(
          "archive%s %.1f MB/s, plain copy %.1f MB/s, ratio %.2f by CPU time, %.2f by wall time (%.1f MB of "
          "streams)\n",
          run[std::strlen(run) - 1] == '1' ? "" : " without disk flushes", a->second / 1e6, b->second / 1e6,
          a->second / b->second, reporter.wall[a->first] > 0 ? reporter.wall[b->first] / reporter.wall[a->first] : 0.0,
          Streams().total / 1e6);
  }
  // KD_ARCHIVE_SCALE: largest stream count of the scale table (default 10000; 0 skips it).
  const char* env = std::getenv("KD_ARCHIVE_SCALE");
  const long most = env ? std::strtol(env, nullptr, 10) : 10000;
  if (most > 0) std::printf("\nscale: streams of 256 bytes\n");
  for (int n = 1000; n <= most; n *= 10) RunScale(n);
  benchmark::Shutdown();
  return 0;
}
