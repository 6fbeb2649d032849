#include "document/Compressors.h"

#include <gtest/gtest.h>

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
