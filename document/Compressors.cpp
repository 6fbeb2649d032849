#include "document/Compressors.h"

#include <algorithm>
#include <cstring>

namespace document {

namespace {

[[noreturn]] void Corrupt(const char* what) {
  throw ECompressorError(std::string("Corrupt compressed data: ") + what);
}

uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// Rank classes: 0 for rank 0, 1 for 1..2, 2 for 3..18, 3 for 19..255.
inline int RankClass(int rank) { return rank == 0 ? 0 : rank < 3 ? 1 : rank < 19 ? 2 : 3; }

}  // namespace

int32_t DeltaEncode(const uint8_t* Src, int32_t Count, uint8_t* Dst) {
  if (!Src) return -2;
  if (!Dst) return -3;
  uint8_t prev = 0;
  for (int32_t i = 0; i < Count; ++i) {
    uint8_t cur = Src[i];
    Dst[i] = uint8_t(cur - prev);
    prev = cur;
  }
  return 0;
}

int32_t DeltaDecode(const uint8_t* Src, int32_t Count, uint8_t* Dst) {
  if (!Src) return -2;
  if (!Dst) return -3;
  uint8_t sum = 0;
  for (int32_t i = 0; i < Count; ++i) {
    sum = uint8_t(sum + Src[i]);
    Dst[i] = sum;
  }
  return 0;
}

int32_t SplitPlanes(const uint8_t* Src, uint8_t* Dst, int32_t Count, int32_t Planes) {
  if (Planes < 1 || Planes > 8 || !Src || !Dst) return -4;
  if (Count <= 0) return 0;
  std::vector<uint8_t> copy;
  if (Src == Dst) {
    copy.assign(Src, Src + Count);
    Src = copy.data();
  }
  const int32_t m = Count / Planes;
  for (int32_t k = 0; k < Planes; ++k) {
    uint8_t* d = Dst + size_t(k) * m;
    const uint8_t* s = Src + k;
    for (int32_t j = 0; j < m; ++j) d[j] = s[size_t(j) * Planes];
  }
  std::memmove(Dst + size_t(m) * Planes, Src + size_t(m) * Planes, size_t(Count - m * Planes));
  return 0;
}

int32_t JoinPlanes(const uint8_t* Src, uint8_t* Dst, int32_t Count, int32_t Planes) {
  if (Planes < 1 || Planes > 8 || !Src || !Dst) return -4;
  if (Count <= 0) return 0;
  std::vector<uint8_t> copy;
  if (Src == Dst) {
    copy.assign(Src, Src + Count);
    Src = copy.data();
  }
  const int32_t m = Count / Planes;
  for (int32_t k = 0; k < Planes; ++k) {
    const uint8_t* s = Src + size_t(k) * m;
    uint8_t* d = Dst + k;
    for (int32_t j = 0; j < m; ++j) d[size_t(j) * Planes] = s[j];
  }
  std::memmove(Dst + size_t(m) * Planes, Src + size_t(m) * Planes, size_t(Count - m * Planes));
  return 0;
}

namespace {

void PutLiterals(const uint8_t* Src, int32_t from, int32_t to, uint8_t* Dst, int32_t& n) {
  while (from < to) {
    int32_t len = std::min(to - from, 127);
    Dst[n++] = uint8_t(len);
    std::memcpy(Dst + n, Src + from, size_t(len));
    n += len;
    from += len;
  }
}

void PutRuns(const uint8_t* Src, int32_t from, int32_t to, uint8_t* Dst, int32_t& n) {
  while (from < to) {
    int32_t remaining = to - from;
    int32_t len = std::min(remaining, 127);
    // Never leave a single byte for a run block of its own.
    if (remaining - len == 1) --len;
    Dst[n++] = uint8_t(int8_t(1 - len));
    Dst[n++] = Src[from];
    from += len;
  }
}

}  // namespace

void RunLengthEncode(const uint8_t* Src, int32_t Count, uint8_t* Dst, int32_t& DstCount) {
  int32_t n = 0;
  if (Count < 3) {
    Dst[n++] = uint8_t(std::max(Count, 0));
    if (Count > 0) std::memcpy(Dst + n, Src, size_t(Count));
    DstCount = n + std::max(Count, 0);
    return;
  }
  bool run = false;
  int32_t start = 0;
  for (int32_t p = 2; p < Count; ++p) {
    const bool three = Src[p - 2] == Src[p - 1] && Src[p - 1] == Src[p];
    if (!run && three) {
      PutLiterals(Src, start, p - 2, Dst, n);
      run = true;
      start = p - 2;
    } else if (run && !three) {
      // The run ends at p - 2; Src[p - 1] starts the next literal block.
      PutRuns(Src, start, p - 1, Dst, n);
      run = false;
      start = p - 1;
    }
  }
  if (run)
    PutRuns(Src, start, Count, Dst, n);
  else
    PutLiterals(Src, start, Count, Dst, n);
  DstCount = n;
}

void RunLengthDecode(const uint8_t* Src, int32_t Count, uint8_t* Dst, int32_t DstCapacity,
                     int32_t& DstCount) {
  int32_t i = 0, n = 0;
  while (i < Count) {
    const int8_t c = int8_t(Src[i++]);
    if (c >= 0) {
      if (c > Count - i) Corrupt("literal block past the end");
      if (c > DstCapacity - n) Corrupt("run-length output too large");
      std::memcpy(Dst + n, Src + i, size_t(c));
      i += c;
      n += c;
    } else {
      const int32_t len = 1 - c;
      if (i >= Count) Corrupt("run block past the end");
      if (len > DstCapacity - n) Corrupt("run-length output too large");
      std::memset(Dst + n, Src[i++], size_t(len));
      n += len;
    }
  }
  DstCount = n;
}

void RankEncode(const uint8_t* Src, int32_t Count, uint8_t* Dst, int32_t& DstCount) {
  const int32_t n = std::max(Count, 0);
  uint32_t counts[256] = {};
  for (int32_t i = 0; i < n; ++i) ++counts[Src[i]];
  // The stored order: this exact exchange sort decides the ranks of equal counts.
  uint8_t order[256];
  for (int i = 0; i < 256; ++i) order[i] = uint8_t(i);
  for (int i = 0; i < 255; ++i)
    for (int j = 255; j > i; --j)
      if (counts[order[i]] < counts[order[j]]) std::swap(order[i], order[j]);
  uint8_t rankOf[256];
  for (int r = 0; r < 256; ++r) rankOf[order[r]] = uint8_t(r);
  int top = 255;
  for (int r = 19; r < 256; ++r)
    if (counts[order[r]] == 0) {
      top = r;
      break;
    }
  int32_t c1 = 0, c2 = 0, c3 = 0;
  for (int r = 1; r < 256; ++r) {
    const int32_t k = int32_t(counts[order[r]]);
    switch (RankClass(r)) {
      case 1: c1 += k; break;
      case 2: c2 += k; break;
      case 3: c3 += k; break;
    }
  }
  const int32_t classStart = 14 + top;
  const int32_t classSize = n / 4 + 1;
  const int32_t byteStart = classStart + classSize;
  const int32_t nibbleStart = byteStart + c3;
  const int32_t bitStart = nibbleStart + c2 / 2 + 1;
  const int32_t total = bitStart + c1 / 8 + 1;
  PutU32(Dst, uint32_t(n));
  PutU32(Dst + 4, uint32_t(bitStart));
  PutU32(Dst + 8, uint32_t(nibbleStart));
  Dst[12] = uint8_t(top);
  for (int r = 0; r <= top; ++r) Dst[13 + r] = order[r];
  std::memset(Dst + classStart, 0, size_t(classSize));
  std::memset(Dst + nibbleStart, 0, size_t(total - nibbleStart));
  uint8_t* cls = Dst + classStart;
  int32_t nb = byteStart, ni = 0, bi = 0;
  for (int32_t k = 0; k < n; ++k) {
    const int rank = rankOf[Src[k]];
    const int c = RankClass(rank);
    cls[k >> 2] |= uint8_t(c << (2 * (k & 3)));
    if (c == 1) {
      Dst[bitStart + (bi >> 3)] |= uint8_t((rank - 1) << (bi & 7));
      ++bi;
    } else if (c == 2) {
      Dst[nibbleStart + (ni >> 1)] |= uint8_t((rank - 3) << (4 * (ni & 1)));
      ++ni;
    } else if (c == 3) {
      Dst[nb++] = uint8_t(rank - 19);
    }
  }
  DstCount = total;
}

void RankDecode(const uint8_t* Src, int32_t SrcCount, uint8_t* Dst, int32_t DstCapacity,
                int32_t& Count) {
  if (SrcCount < 14) Corrupt("rank block too short");
  const uint32_t n = GetU32(Src);
  const uint32_t bitStart = GetU32(Src + 4);
  const uint32_t nibbleStart = GetU32(Src + 8);
  const int top = Src[12];
  if (n > uint32_t(std::max(DstCapacity, 0))) Corrupt("rank block larger than its target");
  const int64_t classStart = 14 + int64_t(top);
  const int64_t byteStart = classStart + int64_t(n / 4) + 1;
  if (byteStart > SrcCount) Corrupt("rank block class area past the end");
  if (nibbleStart < byteStart || nibbleStart > uint32_t(SrcCount) || bitStart < nibbleStart ||
      bitStart > uint32_t(SrcCount))
    Corrupt("rank block offsets out of range");
  const uint8_t* table = Src + 13;
  const uint8_t* cls = Src + classStart;
  int64_t nb = byteStart, ni = 0, bi = 0;
  const int64_t nibbleBytes = int64_t(bitStart) - nibbleStart;
  const int64_t bitBytes = int64_t(SrcCount) - bitStart;
  for (uint32_t k = 0; k < n; ++k) {
    const int c = (cls[k >> 2] >> (2 * (k & 3))) & 3;
    int rank;
    if (c == 0) {
      rank = 0;
    } else if (c == 1) {
      if ((bi >> 3) >= bitBytes) Corrupt("rank block bit area exhausted");
      rank = 1 + ((Src[bitStart + (bi >> 3)] >> (bi & 7)) & 1);
      ++bi;
    } else if (c == 2) {
      if ((ni >> 1) >= nibbleBytes) Corrupt("rank block nibble area exhausted");
      rank = 3 + ((Src[nibbleStart + (ni >> 1)] >> (4 * (ni & 1))) & 15);
      ++ni;
    } else {
      if (nb >= int64_t(nibbleStart)) Corrupt("rank block byte area exhausted");
      rank = 19 + Src[nb++];
    }
    if (rank > top) Corrupt("rank outside the table");
    Dst[k] = table[rank];
  }
  Count = int32_t(n);
}

void DeltaRankEncode(uint8_t* Buffer, int32_t Count, uint8_t* Dst, int32_t& DstCount) {
  DeltaEncode(Buffer, Count, Buffer);
  RankEncode(Buffer, Count, Dst, DstCount);
}

void DeltaRankDecode(const uint8_t* Src, int32_t SrcCount, uint8_t* Dst, int32_t DstCapacity,
                     int32_t& Count) {
  RankDecode(Src, SrcCount, Dst, DstCapacity, Count);
  DeltaDecode(Dst, Count, Dst);
}

int32_t CompressBound(int32_t n) { return n + n / 4 + 19; }

// Header 13, table of at most 256 values, class area n/4 + 1, and at most one extra byte per
// source byte (class 3) plus the partly used nibble and bit bytes.
int64_t RankEncodeBound(int64_t n) { return n + n / 4 + 272; }

// Run blocks never cover fewer bytes than they take (2 bytes for at least 2 source bytes), so
// only literal control bytes add to the size: one per 127 literals plus one per literal
// segment. A literal segment other than the first and last lies between two runs, and a
// run followed by its literal segment covers at least 3 bytes (runs of three equal bytes
// cost 4 bytes), so there are at most (m + 2) / 3 segments.
int64_t RunLengthEncodeBound(int64_t m) { return m + (m + 2) / 3 + m / 127 + 1; }

int64_t CompressChainBound(int64_t n) {
  const int64_t a = RankEncodeBound(n);
  const int64_t b = RunLengthEncodeBound(a);
  return std::max(a, RankEncodeBound(b));
}

std::vector<uint8_t> CompressChain(const uint8_t* Src, int32_t Count) {
  const int32_t n = std::max(Count, 0);
  const int64_t rankBound = RankEncodeBound(n);
  const int64_t runBound = RunLengthEncodeBound(rankBound);
  if (RankEncodeBound(runBound) > INT32_MAX) throw ECompressorError("Data too large to compress");
  std::vector<uint8_t> work(Src, Src + n);
  std::vector<uint8_t> a(size_t(std::max(rankBound, RankEncodeBound(runBound))));
  std::vector<uint8_t> b(static_cast<size_t>(runBound));
  int32_t na = 0, nb = 0;
  DeltaRankEncode(work.data(), n, a.data(), na);
  RunLengthEncode(a.data(), na, b.data(), nb);
  RankEncode(b.data(), nb, a.data(), na);
  a.resize(size_t(na));
  return a;
}

namespace {

// The source size a rank block claims, after checking that its header, table and class area
// lie within the SrcCount bytes that back it (so the claim is at most about 4 * SrcCount).
uint32_t RankBlockSize(const uint8_t* Src, int32_t SrcCount) {
  if (SrcCount < 14) Corrupt("rank block too short");
  const uint32_t n = GetU32(Src);
  if (14 + int64_t(Src[12]) + int64_t(n / 4) + 1 > SrcCount) Corrupt("rank block class area past the end");
  return n;
}

// The decoded size of a run-length stream, with every block checked to lie within it.
int64_t RunLengthSize(const uint8_t* Src, int32_t Count) {
  int64_t i = 0, n = 0;
  while (i < Count) {
    const int8_t c = int8_t(Src[i++]);
    if (c >= 0) {
      if (c > Count - i) Corrupt("literal block past the end");
      i += c;
      n += c;
    } else {
      if (i >= Count) Corrupt("run block past the end");
      ++i;
      n += 1 - c;
    }
  }
  return n;
}

// The first two stages undone: the run-length stream held by the outer rank block, checked
// against the bounds that a correct encoder of SourceSize bytes keeps. Its decoded size is
// returned in InnerSize and is at most RankEncodeBound(SourceSize).
std::vector<uint8_t> DecodeOuter(const uint8_t* Src, int32_t CompressedSize, int32_t SourceSize,
                                 int64_t& InnerSize) {
  if (CompressedSize < 0 || SourceSize < 0) Corrupt("negative size");
  const int64_t rankBound = RankEncodeBound(SourceSize);
  const int64_t runBound = RunLengthEncodeBound(rankBound);
  if (runBound > INT32_MAX) Corrupt("source size too large");
  const uint32_t outer = RankBlockSize(Src, CompressedSize);
  if (outer > uint64_t(runBound)) Corrupt("run-length data larger than its bound");
  std::vector<uint8_t> b(outer);
  int32_t nb = 0;
  RankDecode(Src, CompressedSize, b.data(), int32_t(outer), nb);
  InnerSize = RunLengthSize(b.data(), nb);
  if (InnerSize > rankBound) Corrupt("run-length output too large");
  // The inner block must hold its header, table and a class area for SourceSize bytes.
  if (InnerSize < 14 + 19 + int64_t(SourceSize / 4) + 1) Corrupt("rank block too short");
  return b;
}

// Reads the run-length stream held in memory as the bytes it decodes to, from any forward
// position, without expanding it. The stream's blocks were checked by RunLengthSize.
class TRunCursor {
 public:
  TRunCursor(const std::vector<uint8_t>& Runs) : FSrc(Runs.data()), FCount(int64_t(Runs.size())) {}
  void Skip(int64_t Count) {
    while (Count > 0) {
      if (FLeft == 0) {
        Load();
        continue;
      }
      const int64_t k = std::min(FLeft, Count);
      FLeft -= k;
      if (!FRun) FLiteral += k;
      Count -= k;
    }
  }
  uint8_t Next() {
    while (FLeft == 0) Load();
    --FLeft;
    return FRun ? FValue : *FLiteral++;
  }

 private:
  void Load() {
    if (FIndex >= FCount) Corrupt("rank block past the end");
    const int8_t c = int8_t(FSrc[FIndex++]);
    FRun = c < 0;
    if (FRun) {
      FLeft = 1 - c;
      FValue = FSrc[FIndex++];
    } else {
      FLeft = c;
      FLiteral = FSrc + FIndex;
      FIndex += c;
    }
  }
  const uint8_t* FSrc;
  int64_t FCount, FIndex = 0, FLeft = 0;
  bool FRun = false;
  uint8_t FValue = 0;
  const uint8_t* FLiteral = nullptr;
};

}  // namespace

void DecompressChain(const uint8_t* Src, int32_t CompressedSize, uint8_t* Dst, int32_t SourceSize) {
  int64_t innerSize = 0;
  const std::vector<uint8_t> b = DecodeOuter(Src, CompressedSize, SourceSize, innerSize);
  std::vector<uint8_t> a(static_cast<size_t>(innerSize));
  int32_t na = 0, n = 0;
  RunLengthDecode(b.data(), int32_t(b.size()), a.data(), int32_t(innerSize), na);
  RankDecode(a.data(), na, Dst, SourceSize, n);
  if (n != SourceSize) Corrupt("decoded size differs from the stored size");
  DeltaDecode(Dst, n, Dst);
}

std::vector<uint8_t> PeekChain(const uint8_t* Src, int32_t CompressedSize, int32_t SourceSize,
                               const std::vector<int32_t>& Positions) {
  for (size_t i = 0; i < Positions.size(); ++i)
    if (Positions[i] < 0 || Positions[i] >= SourceSize || (i > 0 && Positions[i] <= Positions[i - 1]))
      throw ECompressorError("Positions must ascend within the source");
  int64_t innerSize = 0;
  const std::vector<uint8_t> b = DecodeOuter(Src, CompressedSize, SourceSize, innerSize);
  // The inner rank block is read through five cursors: header, class area and the byte,
  // nibble and bit areas, each walking the run-length stream forward.
  TRunCursor head(b);
  uint8_t header[13 + 256];
  for (int i = 0; i < 13; ++i) header[i] = head.Next();
  const uint32_t n = GetU32(header);
  const uint32_t bitStart = GetU32(header + 4);
  const uint32_t nibbleStart = GetU32(header + 8);
  const int top = header[12];
  for (int r = 0; r <= top; ++r) header[13 + r] = head.Next();
  if (n != uint32_t(SourceSize)) Corrupt("decoded size differs from the stored size");
  const int64_t classStart = 14 + int64_t(top);
  const int64_t byteStart = classStart + int64_t(n / 4) + 1;
  if (byteStart > innerSize) Corrupt("rank block class area past the end");
  if (nibbleStart < byteStart || nibbleStart > innerSize || bitStart < nibbleStart || bitStart > innerSize)
    Corrupt("rank block offsets out of range");
  const uint8_t* table = header + 13;
  TRunCursor cls(b), bytes(b), nibbles(b), bits(b);
  cls.Skip(classStart);
  bytes.Skip(byteStart);
  nibbles.Skip(nibbleStart);
  bits.Skip(bitStart);
  const int64_t byteCount = int64_t(nibbleStart) - byteStart;
  const int64_t nibbleCount = 2 * (int64_t(bitStart) - nibbleStart);
  const int64_t bitCount = 8 * (innerSize - bitStart);
  int64_t nb = 0, ni = 0, bi = 0;
  uint8_t classByte = 0, nibbleByte = 0, bitByte = 0, sum = 0;
  std::vector<uint8_t> out;
  out.reserve(Positions.size());
  size_t want = 0;
  for (int64_t k = 0; want < Positions.size(); ++k) {
    if ((k & 3) == 0) classByte = cls.Next();
    const int c = (classByte >> (2 * (k & 3))) & 3;
    int rank;
    if (c == 0) {
      rank = 0;
    } else if (c == 1) {
      if (bi >= bitCount) Corrupt("rank block bit area exhausted");
      if ((bi & 7) == 0) bitByte = bits.Next();
      rank = 1 + ((bitByte >> (bi & 7)) & 1);
      ++bi;
    } else if (c == 2) {
      if (ni >= nibbleCount) Corrupt("rank block nibble area exhausted");
      if ((ni & 1) == 0) nibbleByte = nibbles.Next();
      rank = 3 + ((nibbleByte >> (4 * (ni & 1))) & 15);
      ++ni;
    } else {
      if (nb >= byteCount) Corrupt("rank block byte area exhausted");
      rank = 19 + bytes.Next();
      ++nb;
    }
    if (rank > top) Corrupt("rank outside the table");
    sum = uint8_t(sum + table[rank]);
    if (k == Positions[want]) {
      out.push_back(sum);
      ++want;
    }
  }
  return out;
}

}  // namespace document
