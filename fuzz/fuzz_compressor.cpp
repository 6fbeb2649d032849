// Feeds hostile bytes to the compressor's readers: the whole chain with a claimed source size
// (the first four bytes), the header peek, and each stage on its own. Every outcome must be a
// result or an ECompressorError; the decoded bytes are all read so sanitizers see
// uninitialised data.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "document/Compressors.h"

namespace {

volatile uint32_t gSink;

void Consume(const std::vector<uint8_t>& v, int32_t n) {
  uint32_t s = 0;
  for (int32_t i = 0; i < n; ++i) s += v[size_t(i)];
  gSink = s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 4) return 0;
  uint32_t claimed;
  std::memcpy(&claimed, Data, 4);
  const int32_t source = int32_t(claimed % (1u << 20));
  const uint8_t* packed = Data + 4;
  const int32_t count = int32_t(Size - 4);
  bool decoded = false;
  std::vector<uint8_t> out(size_t(source) + 1);
  try {
    document::DecompressChain(packed, count, out.data(), source);
    Consume(out, source);
    decoded = true;
  } catch (const document::ECompressorError&) {
  }
  // The header peek meets the same hostile data; where the full decoder succeeded it must
  // agree with it.
  try {
    std::vector<int32_t> at;
    for (int32_t p = 0; p < source; p += 1 + p / 3) at.push_back(p);
    const std::vector<uint8_t> peek = document::PeekChain(packed, count, source, at);
    if (decoded)
      for (size_t i = 0; i < at.size(); ++i)
        if (peek[i] != out[size_t(at[i])]) __builtin_trap();
  } catch (const document::ECompressorError&) {
    if (decoded) __builtin_trap();
  }
  try {
    std::vector<uint8_t> out(size_t(count) * 4 + 64);
    int32_t n = 0;
    document::RankDecode(packed, count, out.data(), int32_t(out.size()), n);
    Consume(out, n);
  } catch (const document::ECompressorError&) {
  }
  try {
    std::vector<uint8_t> out(size_t(count) * 65 + 1);
    int32_t n = 0;
    document::RunLengthDecode(packed, count, out.data(), int32_t(out.size()), n);
    Consume(out, n);
  } catch (const document::ECompressorError&) {
  }
  // Whatever came in must round-trip through the encoder.
  const std::vector<uint8_t> again = document::CompressChain(packed, count);
  std::vector<uint8_t> back(size_t(count) + 1);
  document::DecompressChain(again.data(), int32_t(again.size()), back.data(), count);
  if (std::memcmp(back.data(), packed, size_t(count)) != 0) __builtin_trap();
  return 0;
}
