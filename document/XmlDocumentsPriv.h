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

// Freed node blocks are kept per thread for the next nodes; not under the address sanitizer,
// which is to see every block come and go.
#if defined(__SANITIZE_ADDRESS__)
#define KD_XML_NODE_CACHE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KD_XML_NODE_CACHE 0
#endif
#endif
#ifndef KD_XML_NODE_CACHE
#define KD_XML_NODE_CACHE 1
#endif

namespace document::xmlpriv {

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

void* NewNodeBlock();
void FreeNodeBlockSlow(void* Block) noexcept;

inline void* AllocNodeBlock() {
  TNodeCache& cache = gNodeCache;
  void* p = cache.Head;
  if (!p) return NewNodeBlock();
  void* next = *static_cast<void**>(p);
  cache.Head = next;
  // The next block is read (its link) and written soon: fetched while this one is filled.
  __builtin_prefetch(next, 1);
  --cache.Count;
  ++cache.Live;
  return p;
}

inline void FreeNodeBlock(void* Block) noexcept {
  TNodeCache& cache = gNodeCache;
  if (cache.Open && (cache.Count < TNodeCache::kLimit || InNodeRegion(Block))) {
    --cache.Live;
    *static_cast<void**>(Block) = cache.Head;
    cache.Head = Block;
    ++cache.Count;
    return;
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
