// Helpers shared by the parts of the XML model: stream reading and writing, blanks and
// quotes of the tokeniser, and the date texts.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "document/XmlDocuments.h"

// Freed node blocks and buffers are kept per thread for the next nodes, also under the address
// sanitizer: there what is kept is poisoned, so that a use of a freed node or buffer is still
// reported.
#if defined(__SANITIZE_ADDRESS__)
#define KD_XML_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KD_XML_ASAN 1
#endif
#endif
#ifndef KD_XML_ASAN
#define KD_XML_ASAN 0
#endif
#ifndef KD_XML_NODE_CACHE
#define KD_XML_NODE_CACHE 1
#endif
#if KD_XML_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace document::xmlpriv {

// Kept memory is poisoned; it is unpoisoned as it is handed out again.
inline void PoisonKept([[maybe_unused]] const void* P, [[maybe_unused]] size_t Size) {
#if KD_XML_ASAN
  ASAN_POISON_MEMORY_REGION(P, Size);
#endif
}
inline void UnpoisonKept([[maybe_unused]] const void* P, [[maybe_unused]] size_t Size) {
#if KD_XML_ASAN
  ASAN_UNPOISON_MEMORY_REGION(P, Size);
#endif
}

// The link of a kept node block (its first word), read and written past the poison.
inline void* NextBlock(void* Block) {
  UnpoisonKept(Block, sizeof(void*));
  void* next = *static_cast<void**>(Block);
  PoisonKept(Block, sizeof(void*));
  return next;
}
// Block is kept from now on: linked to Next, and poisoned whole.
inline void LinkBlock(void* Block, void* Next) {
  UnpoisonKept(Block, sizeof(void*));
  *static_cast<void**>(Block) = Next;
  PoisonKept(Block, sizeof(TXmlNode));
}

// The thread's freed node blocks, a list threaded through the blocks themselves. Blocks of
// the general allocator are kept up to kLimit, so that a thread keeps at most a few megabytes
// of them; blocks of the node region (below) are always kept. Plain data, so both parts of
// the model reach it directly; XmlDocuments.cpp gives the blocks back when the thread ends
// (from then on, and until it watches the thread, freed blocks go straight back).
struct TNodeCache {
  static constexpr size_t kLimit = 1 << 14;
  void* Head;
  size_t Count;
  int64_t Live;  // node blocks handed out and not yet freed
  bool Open;     // blocks may be kept
  bool Ended;    // the thread is ending
  // Segment blocks let go of one after another from the same segment (see below) go back to
  // it together: the segment's start, how many, and their chain (last: the first let go of).
  void* Releasing;
  size_t Released;
  void* ReleasedHead;
  void* ReleasedLast;
};
extern thread_local constinit TNodeCache gNodeCache;

// Node blocks are carved in order from one region of the process, so that the nodes of a
// document lie together, without the allocator's headers and other blocks between them.
// Region blocks are never given back to the allocator: a thread keeps them, and passes them
// on to the others when it ends. No block lies at the address the base holds before the
// region exists. It holds some 14,000 nodes, a large page's worth; larger documents take the
// rest from the allocator (a larger region kept outside the allocator's heap left that heap
// to shrink and grow again, page faults and all, with every large document).
constexpr size_t kNodeRegionSize = size_t(2) << 20;
extern std::atomic<uintptr_t> gNodeRegionBase;
inline bool InNodeRegion(const void* Block) {
  return reinterpret_cast<uintptr_t>(Block) - gNodeRegionBase.load(std::memory_order_relaxed) < kNodeRegionSize;
}

// Past the region, node blocks come from segments of 1 MB in one range of addresses the
// process reserves (pages are only taken as blocks are first written). A segment counts its
// blocks that are not back; once all are, it is empty and serves again, so that the nodes of
// a large document come and go without the general allocator, whose free lists then grow
// with the document and are swept ever longer. Blocks back in a segment that is not empty
// yet (some of its nodes live on) serve again before a new segment is taken.
constexpr size_t kSegmentSize = size_t(1) << 20;
constexpr size_t kSegmentSpace = sizeof(void*) >= 8 ? size_t(8) << 30 : size_t(256) << 20;
// No segment lies at the address the base holds before the range exists.
extern std::atomic<uintptr_t> gSegmentBase;
inline bool InSegments(const void* Block) {
  return reinterpret_cast<uintptr_t>(Block) - gSegmentBase.load(std::memory_order_relaxed) < kSegmentSpace;
}

void* NewNodeBlock();
void FreeNodeBlockSlow(void* Block) noexcept;
// Segments taken from the range so far (kept empty ones serve again before a new one is taken).
size_t SegmentsTaken();

inline void* AllocNodeBlock() {
  TNodeCache& cache = gNodeCache;
  void* p = cache.Head;
  if (!p) return NewNodeBlock();
  void* next = NextBlock(p);
  UnpoisonKept(p, sizeof(TXmlNode));
  cache.Head = next;
  // The next block is read (its link) and written soon: fetched while this one is filled.
  __builtin_prefetch(next, 1);
  --cache.Count;
  ++cache.Live;
  return p;
}

inline void FreeNodeBlock(void* Block) noexcept {
  TNodeCache& cache = gNodeCache;
  if (cache.Open) {
    if (cache.Count < TNodeCache::kLimit || InNodeRegion(Block)) {
      --cache.Live;
      LinkBlock(Block, cache.Head);
      cache.Head = Block;
      ++cache.Count;
      return;
    }
    // Past the cache's bound, a block of the segment the last one went back to.
    if (reinterpret_cast<uintptr_t>(Block) - reinterpret_cast<uintptr_t>(cache.Releasing) < kSegmentSize &&
        cache.Released) {
      --cache.Live;
      LinkBlock(Block, cache.ReleasedHead);
      cache.ReleasedHead = Block;
      ++cache.Released;
      return;
    }
  }
  FreeNodeBlockSlow(Block);
}

inline bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool IsQuote(char c) { return c == '"' || c == '\''; }

// Streams move at most 2^31 - 1 bytes per call.
void WriteAll(platform::TStream* Stream, std::string_view Text);
// Everything from the stream's position to its end: a view into the adapter's own text, or
// a copy held in Owned.
std::string_view ReadRest(platform::TStream* Stream, std::string& Owned);

// Buffers of freed nodes are kept per thread for the next ones (see XmlDocuments.cpp):
// Dest = the N characters at P; Nodes (empty) and Attributes (empty) get room for N items.
// TakeText leaves Dest empty with room for N characters.
void TakeText(std::string& Dest, size_t N);
inline void AssignText(std::string& Dest, const char* P, size_t N) {
  if (N > Dest.capacity())
    TakeText(Dest, N);
  else
    Dest.clear();
  Dest.append(P, N);
}
void ReserveNodes(std::vector<std::unique_ptr<TXmlNode>>& Nodes, size_t N);
void ReserveAttributes(std::vector<std::string>& Attributes, size_t N);

// The first, plain tokeniser, kept to check the fast one against: reads a whole document as
// ReadFromString does, or one node from Text (Consumed: the characters read, also on error).
void ReferenceReadDocument(TXmlDocument* Document, std::string_view Text);
void ReferenceReadNode(TXmlNode* Node, std::string_view Text, size_t& Consumed);

// "yyyy-mm-dd" or "yyyy-mm-ddThh:nn:ss.zzzZ" by fixed character positions.
bool ParseDateTime(std::string_view Text, TDateTime& Result);
std::string FormatDateTime(TDateTime Value);

}  // namespace document::xmlpriv
