// The engine's own small lossless byte compressor. Bytes are delta-coded, rank-coded,
// run-length coded and rank-coded again; bitmaps are first split into colour planes so that
// each plane compresses on its own. All routines work on caller-supplied memory buffers.
//
// Every decoder takes the size of its input and the capacity of its output and raises
// ECompressorError for data that would read or write outside them; stored data is hostile.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Exceptions.h"

namespace document {

class ECompressorError : public platform::EFilerError {
 public:
  explicit ECompressorError(std::string message) : EFilerError(std::move(message)) {}
};

// Dst[i] = Src[i] - Src[i-1] (mod 256), Src[-1] = 0. Src may equal Dst.
// 0, or -2 for a nil Src, -3 for a nil Dst.
int32_t DeltaEncode(const uint8_t* Src, int32_t Count, uint8_t* Dst);
// The running sum (mod 256); same results.
int32_t DeltaDecode(const uint8_t* Src, int32_t Count, uint8_t* Dst);

// Interleaved byte j*Planes+k goes to Dst[k*m+j] with m = Count div Planes; the last
// Count - m*Planes bytes are copied unchanged. Planes must be 1..8, else -4 (also for nil
// buffers). Src may equal Dst.
int32_t SplitPlanes(const uint8_t* Src, uint8_t* Dst, int32_t Count, int32_t Planes);
int32_t JoinPlanes(const uint8_t* Src, uint8_t* Dst, int32_t Count, int32_t Planes);

// Signed control byte c: 0..127 literal bytes follow; c < 0: one byte repeated 1 - c times.
// Dst needs RunLengthEncodeBound(Count) bytes.
void RunLengthEncode(const uint8_t* Src, int32_t Count, uint8_t* Dst, int32_t& DstCount);
void RunLengthDecode(const uint8_t* Src, int32_t Count, uint8_t* Dst, int32_t DstCapacity,
                     int32_t& DstCount);

// Rank-coded block (header, rank table, 2-bit classes, then byte, nibble and bit areas).
// Dst needs RankEncodeBound(Count) bytes. Src is left unchanged.
void RankEncode(const uint8_t* Src, int32_t Count, uint8_t* Dst, int32_t& DstCount);
// Decodes a block of SrcCount bytes; Count is the decoded size (at most DstCapacity).
void RankDecode(const uint8_t* Src, int32_t SrcCount, uint8_t* Dst, int32_t DstCapacity,
                int32_t& Count);

// Delta in place (Buffer is changed), then rank-coded into Dst.
void DeltaRankEncode(uint8_t* Buffer, int32_t Count, uint8_t* Dst, int32_t& DstCount);
// Rank-decoded into Dst, then delta-decoded in place.
void DeltaRankDecode(const uint8_t* Src, int32_t SrcCount, uint8_t* Dst, int32_t DstCapacity,
                     int32_t& Count);

// n + n div 4 + 19, the work-buffer size of the stored format's writer. Too small for the
// worst case of the rank block; the bounds below are the true ones.
int32_t CompressBound(int32_t n);
// Largest rank block for n source bytes: header, full table, class area and all extras.
int64_t RankEncodeBound(int64_t n);
// Largest run-length output for m source bytes (reached by runs of three equal bytes,
// which take four bytes each).
int64_t RunLengthEncodeBound(int64_t m);
// Largest output of the whole chain (delta-rank, run-length, rank) for n source bytes.
int64_t CompressChainBound(int64_t n);

// The stored chain on memory: delta-rank, run-length, rank. Src is left unchanged.
std::vector<uint8_t> CompressChain(const uint8_t* Src, int32_t Count);
// The reverse chain into exactly SourceSize bytes of Dst; every stage is checked against
// its bound and a block that does not decode to SourceSize bytes raises ECompressorError.
void DecompressChain(const uint8_t* Src, int32_t CompressedSize, uint8_t* Dst, int32_t SourceSize);
// The decoded bytes at the given ascending Positions (each below SourceSize), found without
// allocating the decoded data or the inner stages: a header can be checked before SourceSize
// is trusted. Needs no more memory than about 4 * CompressedSize; corrupt data met on the
// way raises ECompressorError.
std::vector<uint8_t> PeekChain(const uint8_t* Src, int32_t CompressedSize, int32_t SourceSize,
                               const std::vector<int32_t>& Positions);

}  // namespace document
