// Arbitrary bytes -> compress -> decompress must give them back, with every stage inside its
// stated bound. The first byte picks how the rest is shaped, so that the stages also meet
// the data a bitmap gives them: as is, as successive differences (gradients), and with every
// byte repeated three times (runs of three equal bytes in the run-length stage).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "document/Compressors.h"

namespace {

std::vector<uint8_t> Shape(const uint8_t* Data, size_t Size, uint8_t Mode) {
  std::vector<uint8_t> v;
  uint8_t sum = 0;
  for (size_t i = 0; i < Size; ++i) {
    sum = uint8_t(sum + Data[i]);
    switch (Mode % 4) {
      case 0: v.push_back(Data[i]); break;
      case 1: v.push_back(sum); break;
      case 2: v.insert(v.end(), 3, Data[i]); break;
      default: v.insert(v.end(), 3, sum); break;
    }
  }
  return v;
}

void Check(bool Ok) {
  if (!Ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1 || Size > (1 << 18)) return 0;
  const std::vector<uint8_t> src = Shape(Data + 1, Size - 1, Data[0]);
  const int32_t n = int32_t(src.size());

  // Each stage on its own, into a buffer of exactly its bound.
  std::vector<uint8_t> rl(size_t(document::RunLengthEncodeBound(n)));
  int32_t nrl = 0;
  document::RunLengthEncode(src.data(), n, rl.data(), nrl);
  Check(nrl <= int32_t(rl.size()));
  std::vector<uint8_t> back(src.size() + 1);
  int32_t m = 0;
  document::RunLengthDecode(rl.data(), nrl, back.data(), n, m);
  Check(m == n && (src.empty() || std::memcmp(back.data(), src.data(), src.size()) == 0));

  std::vector<uint8_t> rank(size_t(document::RankEncodeBound(n)));
  int32_t nrank = 0;
  document::RankEncode(src.data(), n, rank.data(), nrank);
  Check(nrank <= int32_t(rank.size()));
  document::RankDecode(rank.data(), nrank, back.data(), n, m);
  Check(m == n && (src.empty() || std::memcmp(back.data(), src.data(), src.size()) == 0));

  // The whole chain, and the header peek at a few places.
  const std::vector<uint8_t> packed = document::CompressChain(src.data(), n);
  Check(int64_t(packed.size()) <= document::CompressChainBound(n));
  document::DecompressChain(packed.data(), int32_t(packed.size()), back.data(), n);
  Check((src.empty() || std::memcmp(back.data(), src.data(), src.size()) == 0));
  if (n > 0) {
    std::vector<int32_t> at = {0};
    if (n > 2) at.push_back(n / 2);
    if (n > 1) at.push_back(n - 1);
    const std::vector<uint8_t> peek = document::PeekChain(packed.data(), int32_t(packed.size()), n, at);
    for (size_t i = 0; i < at.size(); ++i) Check(peek[i] == src[size_t(at[i])]);
  }
  return 0;
}
