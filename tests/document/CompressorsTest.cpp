#include "document/Compressors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace document;

namespace {

std::vector<uint8_t> Hex(const std::string& h) {
  std::vector<uint8_t> v;
  for (size_t i = 0; i + 1 < h.size(); i += 2) v.push_back(uint8_t(std::stoi(h.substr(i, 2), nullptr, 16)));
  return v;
}

std::vector<uint8_t> Rle(const std::vector<uint8_t>& src) {
  std::vector<uint8_t> out(size_t(RunLengthEncodeBound(int64_t(src.size()))));
  int32_t n = 0;
  RunLengthEncode(src.data(), int32_t(src.size()), out.data(), n);
  out.resize(size_t(n));
  return out;
}

std::vector<uint8_t> Rank(const std::vector<uint8_t>& src) {
  std::vector<uint8_t> out(size_t(RankEncodeBound(int64_t(src.size()))));
  int32_t n = 0;
  RankEncode(src.data(), int32_t(src.size()), out.data(), n);
  out.resize(size_t(n));
  return out;
}

void ExpectCorrupt(const std::vector<uint8_t>& packed, int32_t sourceSize) {
  std::vector<uint8_t> dst(size_t(std::max(sourceSize, 1)));
  EXPECT_THROW(DecompressChain(packed.data(), int32_t(packed.size()), dst.data(), sourceSize),
               ECompressorError);
}

}  // namespace

TEST(Compressors, BoundsAndDelta) {
  EXPECT_EQ(CompressBound(0), 19);
  EXPECT_EQ(CompressBound(100), 144);
  std::vector<uint8_t> b = {10, 12, 15, 15};
  EXPECT_EQ(DeltaEncode(b.data(), 4, b.data()), 0);
  EXPECT_EQ(b, (std::vector<uint8_t>{10, 2, 3, 0}));
  EXPECT_EQ(DeltaDecode(b.data(), 4, b.data()), 0);
  EXPECT_EQ(b, (std::vector<uint8_t>{10, 12, 15, 15}));
  std::vector<uint8_t> wrap = {5, 3};
  DeltaEncode(wrap.data(), 2, wrap.data());
  EXPECT_EQ(wrap[1], 254);
  EXPECT_EQ(DeltaEncode(nullptr, 1, b.data()), -2);
  EXPECT_EQ(DeltaEncode(b.data(), 1, nullptr), -3);
  EXPECT_EQ(DeltaDecode(nullptr, 1, b.data()), -2);
  EXPECT_EQ(DeltaDecode(b.data(), 1, nullptr), -3);
}

TEST(Compressors, Planes) {
  std::vector<uint8_t> s = {1, 2, 3, 4, 5, 6, 7}, d(7);
  EXPECT_EQ(SplitPlanes(s.data(), d.data(), 7, 3), 0);
  EXPECT_EQ(d, (std::vector<uint8_t>{1, 4, 2, 5, 3, 6, 7}));
  // In place, and back.
  EXPECT_EQ(SplitPlanes(s.data(), s.data(), 7, 3), 0);
  EXPECT_EQ(s, d);
  EXPECT_EQ(JoinPlanes(s.data(), s.data(), 7, 3), 0);
  EXPECT_EQ(s, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(SplitPlanes(s.data(), d.data(), 7, 0), -4);
  EXPECT_EQ(SplitPlanes(s.data(), d.data(), 7, 9), -4);
  EXPECT_EQ(JoinPlanes(s.data(), d.data(), 7, 9), -4);
  EXPECT_EQ(SplitPlanes(nullptr, d.data(), 7, 3), -4);
}

TEST(Compressors, RunLengthBlocks) {
  EXPECT_EQ(Rle(std::vector<uint8_t>(7, 9)), (std::vector<uint8_t>{uint8_t(-6), 9}));
  EXPECT_EQ(Rle({4, 4}), (std::vector<uint8_t>{2, 4, 4}));
  EXPECT_EQ(Rle({}), (std::vector<uint8_t>{0}));
  EXPECT_EQ(Rle({'A', 'A', 'A', 'A', 'B'}), (std::vector<uint8_t>{uint8_t(-2), 'A', 2, 'A', 'B'}));
  // From the model: a run, literals, then a run to the end.
  EXPECT_EQ(Rle(Hex("41414141420102030303030303030303")), Hex("fe410441420102f803"));
  // A run of 128 leaves no single byte: 126 + 2.
  EXPECT_EQ(Rle(std::vector<uint8_t>(128, 1)), (std::vector<uint8_t>{uint8_t(1 - 126), 1, uint8_t(-1), 1}));
  // 300 distinct-neighbour bytes: literal blocks of 127, 127, 46.
  std::vector<uint8_t> lit(300);
  for (size_t i = 0; i < lit.size(); ++i) lit[i] = uint8_t(i % 2);
  auto packed = Rle(lit);
  ASSERT_EQ(packed.size(), 303u);
  EXPECT_EQ(packed[0], 127);
  EXPECT_EQ(packed[128], 127);
  EXPECT_EQ(packed[256], 46);
}

TEST(Compressors, RankBlocks) {
  auto empty = Rank({});
  ASSERT_EQ(empty.size(), 36u);
  EXPECT_EQ(empty, Hex("00000000230000002200000013000102030405060708090a0b0c0d0e0f10111213000000"));
  std::vector<uint8_t> d = {10, 12, 15, 15};
  int32_t n = 0;
  std::vector<uint8_t> out(size_t(RankEncodeBound(4)));
  DeltaRankEncode(d.data(), 4, out.data(), n);
  out.resize(size_t(n));
  EXPECT_EQ(out, Hex("04000000240000002300000013000a0203040506070809010b0c0d0e0f1011121325000002"));
  std::vector<uint8_t> back(4);
  DeltaRankDecode(out.data(), n, back.data(), 4, n);
  EXPECT_EQ(back, (std::vector<uint8_t>{10, 12, 15, 15}));
}

TEST(Compressors, ChainMatchesModel) {
  auto a = CompressChain(Hex("41414141420102030303030303030303").data(), 16);
  EXPECT_EQ(a, Hex("2c000000470000003d0000001b0002ff011310060708090a0b0c0d0e0f05111204febf55411827261b1a71c431e2afaaaaaaf64400060705020400030120013d547698ba2cfe011500"));
  std::vector<uint8_t> steps(200);
  for (int i = 0; i < 200; ++i) steps[size_t(i)] = uint8_t((i / 5) % 40);
  EXPECT_EQ(CompressChain(steps.data(), 200),
            Hex("580000005d000000480000001b000110044002ff1308090a0b0c0d0e0f0711120603f9c8555447051b2db2c83292fbaaaaa662924926996492492699649239000304050601070002232343025d7698baec4f1010101010101010101000acaa2a"));
}

TEST(Compressors, RandomRoundTrips) {
  std::mt19937 rng(1234);
  for (int iter = 0; iter < 200; ++iter) {
    const int32_t n = int32_t(rng() % (iter < 150 ? 600 : 70000));
    std::vector<uint8_t> src(static_cast<size_t>(n));
    const int kind = iter % 4;
    for (int32_t i = 0; i < n; ++i) {
      switch (kind) {
        case 0: src[size_t(i)] = uint8_t(rng()); break;                       // incompressible
        case 1: src[size_t(i)] = uint8_t((i / (1 + iter % 7)) * 3); break;    // ramps and runs
        case 2: src[size_t(i)] = uint8_t(rng() % 3 == 0 ? rng() : 7); break;  // sparse noise
        default: src[size_t(i)] = uint8_t(rng() % 40); break;                 // many ranks
      }
    }
    const std::vector<uint8_t> copy = src;
    auto packed = CompressChain(src.data(), n);
    EXPECT_EQ(src, copy) << "the source must stay unchanged";
    EXPECT_LE(int64_t(packed.size()), CompressChainBound(n));
    std::vector<uint8_t> back(size_t(n) + 1, 0xEE);
    DecompressChain(packed.data(), int32_t(packed.size()), back.data(), n);
    EXPECT_EQ(back[size_t(n)], 0xEE) << "no write past the target";
    back.resize(size_t(n));
    ASSERT_EQ(back, src) << "iteration " << iter;
  }
}

TEST(Compressors, WorstCaseFitsTrueBound) {
  // Random bytes put almost every source byte in class 3: past CompressBound, within the true bound.
  std::mt19937 rng(7);
  std::vector<uint8_t> src(400);
  for (auto& b : src) b = uint8_t(rng());
  std::vector<uint8_t> out(size_t(RankEncodeBound(400)));
  int32_t n = 0;
  RankEncode(src.data(), 400, out.data(), n);
  EXPECT_GT(n, CompressBound(400));
  EXPECT_LE(n, RankEncodeBound(400));
}

TEST(Compressors, CorruptInputsAreRejected) {
  std::vector<uint8_t> src(500);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 37 % 251);
  auto good = CompressChain(src.data(), 500);
  ExpectCorrupt({}, 10);
  ExpectCorrupt({1, 2, 3}, 10);
  // Truncated at every length.
  for (size_t len = 0; len < good.size(); len += 7) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + long(len));
    ExpectCorrupt(cut, 500);
  }
  // Wrong stored size.
  ExpectCorrupt(good, 499);
  ExpectCorrupt(good, 501);
  // Offsets pointing out of range.
  auto bad = good;
  bad[4] = 0xFF; bad[5] = 0xFF;
  ExpectCorrupt(bad, 500);
  bad = good;
  bad[8] = 0x01; bad[9] = 0x00; bad[10] = 0; bad[11] = 0;
  ExpectCorrupt(bad, 500);
  // A huge declared size.
  bad = good;
  bad[0] = 0xFF; bad[1] = 0xFF; bad[2] = 0xFF; bad[3] = 0x7F;
  ExpectCorrupt(bad, 500);
  // A rank table shorter than the ranks used.
  bad = good;
  bad[12] = 2;
  ExpectCorrupt(bad, 500);
  // A run-length stream that expands past its bound.
  std::vector<uint8_t> rl;
  for (int i = 0; i < 200; ++i) { rl.push_back(uint8_t(-128)); rl.push_back(0); }
  auto rankOfRl = Rank(rl);
  ExpectCorrupt(rankOfRl, 10);
  // Random flips never crash.
  std::mt19937 rng(99);
  for (int i = 0; i < 2000; ++i) {
    auto f = good;
    f[rng() % f.size()] ^= uint8_t(1 + rng() % 255);
    std::vector<uint8_t> dst(500);
    try {
      DecompressChain(f.data(), int32_t(f.size()), dst.data(), 500);
    } catch (const ECompressorError&) {
    }
  }
}

namespace {

// Source bytes whose successive differences come in threes, as in a gradient: after
// delta coding every value appears three times in a row and the many distinct steps
// put the repeats into the rank block's byte area, where the run-length stage meets them.
std::vector<uint8_t> Gradient(int32_t n) {
  std::vector<uint8_t> src(static_cast<size_t>(n));
  uint8_t v = 0;
  for (int32_t i = 0; i < n; ++i) {
    v = uint8_t(v + 1 + (i / 3) * 37 % 211);
    src[size_t(i)] = v;
  }
  return src;
}

}  // namespace

TEST(Compressors, RunsOfThreeFitTheRunLengthBound) {
  // 3,000 bytes in runs of three alternate two-byte run blocks and one-byte literal blocks.
  std::vector<uint8_t> triples(3000);
  for (size_t i = 0; i < triples.size(); ++i) triples[i] = uint8_t(i / 3);
  std::vector<uint8_t> out(size_t(RunLengthEncodeBound(3000)) + 4096, 0xEE);
  int32_t n = 0;
  RunLengthEncode(triples.data(), 3000, out.data(), n);
  EXPECT_EQ(n, 3998);
  EXPECT_LE(n, RunLengthEncodeBound(3000));
  std::vector<uint8_t> back(3000);
  int32_t m = 0;
  RunLengthDecode(out.data(), n, back.data(), 3000, m);
  EXPECT_EQ(m, 3000);
  EXPECT_EQ(back, triples);
}

TEST(Compressors, RunLengthBoundHoldsForEveryShortInput) {
  // Every input of up to 14 bytes over a two-letter alphabet, and over three letters up to 9.
  for (int letters : {2, 3}) {
    const int maxLen = letters == 2 ? 14 : 9;
    for (int len = 0; len <= maxLen; ++len) {
      int64_t total = 1;
      for (int i = 0; i < len; ++i) total *= letters;
      std::vector<uint8_t> src(static_cast<size_t>(len)), out(static_cast<size_t>(len) * 2 + 8);
      for (int64_t code = 0; code < total; ++code) {
        int64_t c = code;
        for (int i = 0; i < len; ++i, c /= letters) src[size_t(i)] = uint8_t(c % letters);
        int32_t n = 0;
        RunLengthEncode(src.data(), len, out.data(), n);
        ASSERT_LE(n, RunLengthEncodeBound(len)) << "length " << len << " code " << code;
        std::vector<uint8_t> back(size_t(len) + 1);
        int32_t m = 0;
        RunLengthDecode(out.data(), n, back.data(), len, m);
        ASSERT_EQ(m, len);
        back.resize(size_t(len));
        ASSERT_EQ(back, src);
      }
    }
  }
}

TEST(Compressors, GradientRoundTripsThroughTheChain) {
  for (int32_t n : {999, 1000, 3000, 30000, 300000}) {
    const std::vector<uint8_t> src = Gradient(n);
    const std::vector<uint8_t> packed = CompressChain(src.data(), n);
    EXPECT_LE(int64_t(packed.size()), CompressChainBound(n));
    std::vector<uint8_t> back(static_cast<size_t>(n));
    ASSERT_NO_THROW(DecompressChain(packed.data(), int32_t(packed.size()), back.data(), n)) << n;
    EXPECT_EQ(back, src) << n;
  }
}

TEST(Compressors, PeekMatchesFullDecode) {
  std::mt19937 rng(5);
  for (int iter = 0; iter < 60; ++iter) {
    const int32_t n = 1 + int32_t(rng() % 20000);
    std::vector<uint8_t> src = iter % 3 == 0 ? Gradient(n) : std::vector<uint8_t>(static_cast<size_t>(n));
    if (iter % 3 == 1)
      for (auto& b : src) b = uint8_t(rng() % (1 + iter));
    const auto packed = CompressChain(src.data(), n);
    std::vector<int32_t> at;
    for (int32_t p = int32_t(rng() % 7); p < n; p += 1 + int32_t(rng() % 900)) at.push_back(p);
    at.push_back(n - 1);
    std::sort(at.begin(), at.end());
    at.erase(std::unique(at.begin(), at.end()), at.end());
    const auto got = PeekChain(packed.data(), int32_t(packed.size()), n, at);
    ASSERT_EQ(got.size(), at.size());
    for (size_t i = 0; i < at.size(); ++i) ASSERT_EQ(got[i], src[size_t(at[i])]) << iter << " at " << at[i];
  }
  // Corrupt data and wrong claims are refused the same way as by the full decoder.
  std::vector<uint8_t> src(5000);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 7 / 5);
  auto good = CompressChain(src.data(), 5000);
  EXPECT_THROW(PeekChain(good.data(), int32_t(good.size()), 4999, {0}), ECompressorError);
  EXPECT_THROW(PeekChain(good.data(), int32_t(good.size()), 500000000, {0}), ECompressorError);
  EXPECT_THROW(PeekChain(good.data(), int32_t(good.size()), 5000, {5000}), ECompressorError);
  EXPECT_THROW(PeekChain(good.data(), int32_t(good.size()), 5000, {3, 3}), ECompressorError);
  std::mt19937 flip(3);
  for (int i = 0; i < 2000; ++i) {
    auto f = good;
    f[flip() % f.size()] ^= uint8_t(1 + flip() % 255);
    std::vector<uint8_t> full(5000);
    bool fullOk = true, peekOk = true;
    std::vector<uint8_t> peek;
    try {
      DecompressChain(f.data(), int32_t(f.size()), full.data(), 5000);
    } catch (const ECompressorError&) {
      fullOk = false;
    }
    try {
      peek = PeekChain(f.data(), int32_t(f.size()), 5000, {0, 2500, 4999});
    } catch (const ECompressorError&) {
      peekOk = false;
    }
    // The peek stops at its last position, so it may accept what the full decoder refuses
    // later on, never the other way round.
    if (fullOk) {
      ASSERT_TRUE(peekOk);
      EXPECT_EQ(peek, (std::vector<uint8_t>{full[0], full[2500], full[4999]}));
    }
  }
}
