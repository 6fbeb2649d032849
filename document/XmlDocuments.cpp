#include "document/XmlDocuments.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

#include "document/XmlDocumentsPriv.h"
#if KD_XML_ASAN
#include <sanitizer/lsan_interface.h>
#endif
#include "platform/SysUtils.h"

namespace document {

using platform::TStream;
using xmlpriv::IsQuote;
using xmlpriv::IsXmlSpace;
using xmlpriv::FormatDateTime;
using xmlpriv::ParseDateTime;

namespace {

std::string AttributeName(std::string_view Line) {
  const size_t eq = Line.find('=');
  return std::string(eq == std::string_view::npos ? Line : Line.substr(0, eq));
}

}  // namespace

// --- TXmlNode ------------------------------------------------------------------------------

namespace xmlpriv {
#if KD_XML_NODE_CACHE
void ReleaseSegmentBlock(void* Block) noexcept;
void FlushReleased() noexcept;
void EndSegments() noexcept;
#endif
}  // namespace xmlpriv

namespace {

// The text has a heap block (more than a string holds in itself).
inline bool OnHeap(const std::string& Text) {
  static const size_t local = std::string().capacity();
  return Text.capacity() > local;
}


#if KD_XML_NODE_CACHE
// A lock for the rare steps shared by threads. Plain data, so that it is usable while the
// program ends, whatever order threads and objects end in.
struct TSpinLock {
  std::atomic_flag& Flag;
  explicit TSpinLock(std::atomic_flag& AFlag) : Flag(AFlag) {
    while (Flag.test_and_set(std::memory_order_acquire)) Flag.wait(true, std::memory_order_relaxed);
  }
  ~TSpinLock() {
    Flag.clear(std::memory_order_release);
    Flag.notify_one();
  }
  TSpinLock(const TSpinLock&) = delete;
  TSpinLock& operator=(const TSpinLock&) = delete;
};

// Region blocks given up by threads that ended, for the others.
constinit std::atomic_flag gOrphanLock;
constinit void* gOrphanHead = nullptr;
constinit std::atomic<size_t> gOrphanCount = 0;

// The part of the node region carved so far (gNodeRegionBase holds its start once it exists).
constinit std::atomic_flag gNodeRegionLock;
constinit std::atomic<size_t> gNodeRegionUsed = 0;

// Gives the cached node blocks back when the thread ends.
struct TNodeCacheEnd {
  bool Armed = false;
  ~TNodeCacheEnd() {
    xmlpriv::TNodeCache& cache = xmlpriv::gNodeCache;
    cache.Open = false;
    cache.Ended = true;
    void* orphans = nullptr;
    size_t count = 0;
    while (cache.Head) {
      void* block = cache.Head;
      cache.Head = xmlpriv::NextBlock(block);
      if (xmlpriv::InNodeRegion(block)) {
        xmlpriv::LinkBlock(block, orphans);
        orphans = block;
        ++count;
      } else if (xmlpriv::InSegments(block)) {
        xmlpriv::ReleaseSegmentBlock(block);
      } else {
        xmlpriv::UnpoisonKept(block, sizeof(TXmlNode));
        ::operator delete(block);
      }
    }
    cache.Count = 0;
    xmlpriv::EndSegments();
    if (!orphans) return;
    void* last = orphans;
    while (void* next = xmlpriv::NextBlock(last)) last = next;
    TSpinLock lock(gOrphanLock);
    xmlpriv::LinkBlock(last, gOrphanHead);
    gOrphanHead = orphans;
    gOrphanCount += count;
  }
};
thread_local TNodeCacheEnd gNodeCacheEnd;

// The heap buffers of freed nodes' texts, child lists and attribute lists, for the next nodes:
// a document has thousands of them, and recycling them costs far less than the allocator
// (which also had to sweep them up whenever a large block was asked for). Texts are kept by
// size class (class k: room for 16 k + 7 to 16 k + 22 characters, new ones get at least
// 16 k + 7, what the allocator's block holds anyway); lists by their room. Bounded by the
// bytes kept (enough for a document some thirty times a page), and emptied when the thread
// ends. Now that nodes lie outside the allocator's heap, buffers kept from a large tree no
// longer pin blocks among its freed nodes.
struct TBufferCache {
  using TNodeList = std::vector<std::unique_ptr<TXmlNode>>;
  static constexpr size_t kTextClasses = 9;       // texts of 16 to 135 characters
  static constexpr size_t kListClasses = 33;      // child lists of up to 32 nodes
  static constexpr size_t kAttributeClasses = 9;  // attribute lists of up to 8
  static constexpr size_t kLargeLists = 4;        // longer child lists, up to kLargeRoom nodes
  // Below 64 KB: freeing a block of that size makes the allocator sweep up every small free
  // block.
  static constexpr size_t kLargeRoom = 8000;
  // Each class is bounded on its own, so that one kind of document does not fill the cache
  // with lists another cannot use; the bytes bound the memory kept.
  static constexpr size_t kClassLimit = 1 << 15;
  static constexpr size_t kByteLimit = size_t(8) << 20;
  std::vector<std::string> Texts[kTextClasses];
  std::vector<TNodeList> Lists[kListClasses];
  std::vector<std::vector<std::string>> Attributes[kAttributeClasses];
  std::vector<TNodeList> Large;
  size_t Bytes = 0;  // of the blocks kept
  bool Ended = false;
  ~TBufferCache() { Ended = true; }

  // Called from destructors: without room to keep it, the buffer is simply freed.
  template <class T>
  static bool Keep(std::vector<T>& Kept, T& Item) noexcept {
    try {
      Kept.push_back(std::move(Item));
    } catch (...) {
      return false;
    }
    return true;
  }
  static size_t TextClass(size_t Length) { return (Length + 8) / 16; }
  static size_t TextRoom(size_t Class) { return 16 * Class + 7; }

  void KeepText(std::string& S) {
    const size_t room = S.capacity();
    if (room < TextRoom(1)) return;  // held in the string itself, or too small a block to class
    const size_t c = (room - 7) / 16;
    if (c >= kTextClasses || Texts[c].size() >= kClassLimit || Bytes + room + 1 > kByteLimit) return;
    if (!Keep(Texts[c], S)) return;
    Bytes += room + 1;
    xmlpriv::PoisonKept(Texts[c].back().data(), Texts[c].back().capacity() + 1);
  }
  // L is empty.
  void KeepNodes(TNodeList& L) {
    const size_t room = L.capacity();
    if (room >= kListClasses) {
      if (room <= kLargeRoom && Large.size() < kLargeLists && Bytes + ListBytes(L) <= kByteLimit && Keep(Large, L)) {
        Bytes += ListBytes(Large.back());
        PoisonList(Large.back());
      }
      return;
    }
    if (room == 0 || Lists[room].size() >= kClassLimit || Bytes + ListBytes(L) > kByteLimit) return;
    if (!Keep(Lists[room], L)) return;
    Bytes += ListBytes(Lists[room].back());
    PoisonList(Lists[room].back());
  }
  void KeepAttributes(std::vector<std::string>& L) {
    const size_t room = L.capacity();
    if (room == 0 || room >= kAttributeClasses || Attributes[room].size() >= kClassLimit ||
        Bytes + ListBytes(L) > kByteLimit)
      return;
    for (std::string& a : L) KeepText(a);
    L.clear();
    if (!Keep(Attributes[room], L)) return;
    Bytes += ListBytes(Attributes[room].back());
    PoisonList(Attributes[room].back());
  }
  template <class T>
  static size_t ListBytes(const std::vector<T>& L) {
    return L.capacity() * sizeof(T);
  }
  template <class T>
  static void PoisonList(const std::vector<T>& L) {
    xmlpriv::PoisonKept(L.data(), L.capacity() * sizeof(T));
  }
  template <class T>
  static void UnpoisonList(const std::vector<T>& L) {
    xmlpriv::UnpoisonKept(L.data(), L.capacity() * sizeof(T));
  }
  // A kept long list with room for N to 2 N nodes (the closest), into the empty L.
  bool TakeLarge(TNodeList& L, size_t N) {
    size_t best = Large.size();
    for (size_t i = 0; i < Large.size(); ++i) {
      const size_t room = Large[i].capacity();
      if (room >= N && room / 2 <= N && (best == Large.size() || room < Large[best].capacity())) best = i;
    }
    if (best == Large.size()) return false;
    L = std::move(Large[best]);
    Large.erase(Large.begin() + static_cast<std::ptrdiff_t>(best));
    Bytes -= ListBytes(L);
    UnpoisonList(L);
    return true;
  }
};
thread_local TBufferCache gBuffers;
#endif

// How deep the freeing of trees is: when the outermost tree is freed, the segments it emptied
// serve again.
constinit thread_local int gFreeingDepth = 0;

// Children met deeper than this while freeing wait for the outermost freeing, so that a tree of
// any depth (one built node by node may be far deeper than the reader allows) is freed within
// the thread's stack.
constexpr int kFreeDeferDepth = 256;

// Children of nodes being freed, see ~TXmlNode; used as a stack by nested destructors. Trees
// freed after the thread's stack is gone (static objects at exit) free their children directly.
struct THeldChildren {
  std::vector<std::unique_ptr<TXmlNode>> Nodes;
  bool Ended = false;
  ~THeldChildren() {
    Ended = true;
    while (!Nodes.empty()) {
      std::unique_ptr<TXmlNode> child = std::move(Nodes.back());
      Nodes.pop_back();
    }
  }
};
thread_local THeldChildren gHeldChildren;
// The deferred children, freed one subtree at a time by the outermost freeing.
thread_local THeldChildren gDeferredChildren;
constinit thread_local bool gFreeingDeferred = false;

void FreeDeferred() noexcept {
  if (gFreeingDeferred || gDeferredChildren.Ended) return;
  std::vector<std::unique_ptr<TXmlNode>>& deferred = gDeferredChildren.Nodes;
  gFreeingDeferred = true;
  while (!deferred.empty()) {
    std::unique_ptr<TXmlNode> child = std::move(deferred.back());
    deferred.pop_back();
  }
  gFreeingDeferred = false;
}

struct TFreeingScope {
  TFreeingScope() { ++gFreeingDepth; }
  ~TFreeingScope() {
    if (--gFreeingDepth == 0) {
      FreeDeferred();
#if KD_XML_NODE_CACHE
      xmlpriv::FlushReleased();
#endif
    }
  }
  TFreeingScope(const TFreeingScope&) = delete;
  TFreeingScope& operator=(const TFreeingScope&) = delete;
};

}  // namespace

namespace xmlpriv {

constinit thread_local TNodeCache gNodeCache = {};
// An address no block can have: far above any the process is given.
std::atomic<uintptr_t> gNodeRegionBase = UINTPTR_MAX - kNodeRegionSize;
std::atomic<uintptr_t> gSegmentBase = UINTPTR_MAX - kSegmentSpace;

namespace {
#if KD_XML_NODE_CACHE
constexpr size_t kNodeBatch = 64;

// Blocks for the thread's cache from those other threads left, else freshly carved from the
// region; one of them is returned, the others are cached. Nullptr once the region is used up.
void* TakeRegionBlocks(TNodeCache& Cache) {
  if (gOrphanCount.load(std::memory_order_relaxed) > 0) {
    TSpinLock lock(gOrphanLock);
    void* first = gOrphanHead;
    if (first) {
      // Up to a few batches at a time, so that the other threads find some too.
      void* last = first;
      size_t n = 1;
      while (n < 4 * kNodeBatch) {
        void* next = NextBlock(last);
        if (!next) break;
        last = next;
        ++n;
      }
      gOrphanHead = NextBlock(last);
      gOrphanCount -= n;
      LinkBlock(last, Cache.Head);
      Cache.Head = NextBlock(first);
      Cache.Count += n - 1;
      UnpoisonKept(first, sizeof(TXmlNode));
      return first;
    }
  }
  if (gNodeRegionUsed.load(std::memory_order_relaxed) >= kNodeRegionSize) return nullptr;
  if (gNodeRegionBase.load(std::memory_order_acquire) == UINTPTR_MAX - kNodeRegionSize) {
    TSpinLock lock(gNodeRegionLock);
    if (gNodeRegionBase.load(std::memory_order_relaxed) == UINTPTR_MAX - kNodeRegionSize) {
      // Pages are only taken as blocks are first written.
      void* region = ::operator new(kNodeRegionSize, std::nothrow);
      if (!region) {
        gNodeRegionUsed = kNodeRegionSize;
        return nullptr;
      }
      PoisonKept(region, kNodeRegionSize);
      gNodeRegionBase.store(reinterpret_cast<uintptr_t>(region), std::memory_order_release);
    }
  }
  constexpr size_t bytes = kNodeBatch * sizeof(TXmlNode);
  const size_t offset = gNodeRegionUsed.fetch_add(bytes, std::memory_order_relaxed);
  if (offset + bytes > kNodeRegionSize) return nullptr;
  char* batch = reinterpret_cast<char*>(gNodeRegionBase.load(std::memory_order_acquire)) + offset;
  // Cached from the last, so that they are handed out in address order.
  for (size_t i = kNodeBatch - 1; i > 0; --i) {
    void* block = batch + i * sizeof(TXmlNode);
    LinkBlock(block, Cache.Head);
    Cache.Head = block;
  }
  Cache.Count += kNodeBatch - 1;
  UnpoisonKept(batch, sizeof(TXmlNode));
  return batch;
}

// --- Segments (see XmlDocumentsPriv.h) ---
// A segment starts with its header; its blocks follow.
struct TSegment {
  std::atomic<size_t> Out;  // blocks not back in the segment
  TSegment* NextEmpty;
  // Blocks back while others are still out, to serve again: their chain and how many; the
  // segment is on the list of such segments (or was, and is passed over there).
  void* FreeHead;
  void* FreeLast;
  size_t FreeCount;
  TSegment* NextPartial;
  bool InPartial;
  bool Registered;
};
constexpr size_t kSegmentHeader = 64;
constexpr size_t kSegmentBlocks = (kSegmentSize - kSegmentHeader) / sizeof(TXmlNode);
static_assert(sizeof(TSegment) <= kSegmentHeader && kSegmentHeader % alignof(TXmlNode) == 0);
// Empty segments beyond this many give their pages back to the system.
constexpr size_t kKeepEmptySegments = 48;

// Guards the lists below and the free chains of the segments.
constinit std::atomic_flag gSegmentLock;
constinit size_t gSegmentsCarved = 0;  // segments of the range used so far
constinit TSegment* gEmptySegments = nullptr;
constinit size_t gEmptySegmentCount = 0;
constinit std::atomic<TSegment*> gPartialSegments = nullptr;

// The thread's segment being carved.
struct TSegmentState {
  char* Next;
  size_t Left;
  TSegment* Carving;
};
constinit thread_local TSegmentState gSegments = {};

TSegment* SegmentOf(const void* Block) {
  const uintptr_t base = gSegmentBase.load(std::memory_order_relaxed);
  return reinterpret_cast<TSegment*>(base + ((reinterpret_cast<uintptr_t>(Block) - base) & ~(kSegmentSize - 1)));
}

// Under gSegmentLock.
void PutEmptySegment(TSegment* Segment) noexcept {
  Segment->FreeHead = Segment->FreeLast = nullptr;
  Segment->FreeCount = 0;
  if (gEmptySegmentCount >= kKeepEmptySegments) {
    // All but the page of the header, which the lists still reach.
    static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    if (page > 0 && page < kSegmentSize) {
      char* body = reinterpret_cast<char*>(Segment) + page;
      UnpoisonKept(body, kSegmentSize - page);
      ::madvise(body, kSegmentSize - page, MADV_DONTNEED);
    }
  }
  Segment->NextEmpty = gEmptySegments;
  gEmptySegments = Segment;
  ++gEmptySegmentCount;
  PoisonKept(reinterpret_cast<char*>(Segment) + kSegmentHeader, kSegmentSize - kSegmentHeader);
}

// N blocks are back in the segment, chained from Head to Last: the segment is empty now, or
// they serve again.
void ReturnBlocks(TSegment* Segment, void* Head, void* Last, size_t N) noexcept {
  if (!N) return;
  TSpinLock lock(gSegmentLock);
  if (Segment->Out.fetch_sub(N, std::memory_order_relaxed) == N) {
    PutEmptySegment(Segment);
    return;
  }
  LinkBlock(Last, Segment->FreeHead);
  if (!Segment->FreeHead) Segment->FreeLast = Last;
  Segment->FreeHead = Head;
  Segment->FreeCount += N;
  if (!Segment->InPartial) {
    Segment->InPartial = true;
    Segment->NextPartial = gPartialSegments.load(std::memory_order_relaxed);
    gPartialSegments.store(Segment, std::memory_order_relaxed);
  }
}

// The blocks back in a segment that is not empty, for the thread's cache; one of them is
// returned. Nullptr when no segment has any.
void* TakePartialBlocks(TNodeCache& Cache) {
  // A glance without the lock first; a segment missed now is found the next time.
  if (!gPartialSegments.load(std::memory_order_relaxed)) return nullptr;
  TSpinLock lock(gSegmentLock);
  while (TSegment* segment = gPartialSegments.load(std::memory_order_relaxed)) {
    gPartialSegments.store(segment->NextPartial, std::memory_order_relaxed);
    segment->InPartial = false;
    if (!segment->FreeCount) continue;  // emptied or taken since
    void* first = segment->FreeHead;
    const size_t n = segment->FreeCount;
    segment->Out.fetch_add(n, std::memory_order_relaxed);
    LinkBlock(segment->FreeLast, Cache.Head);
    Cache.Head = NextBlock(first);
    Cache.Count += n - 1;
    segment->FreeHead = segment->FreeLast = nullptr;
    segment->FreeCount = 0;
    UnpoisonKept(first, sizeof(TXmlNode));
    return first;
  }
  return nullptr;
}

// An empty segment, the next of the range if none is kept; nullptr when the range is used up.
TSegment* TakeSegment() {
  TSpinLock lock(gSegmentLock);
  TSegment* segment = gEmptySegments;
  if (segment) {
    gEmptySegments = segment->NextEmpty;
    --gEmptySegmentCount;
  } else {
    if (gSegmentsCarved == 0 && gSegmentBase.load(std::memory_order_relaxed) == UINTPTR_MAX - kSegmentSpace) {
      void* range = ::mmap(nullptr, kSegmentSpace + kSegmentSize, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
      if (range == MAP_FAILED) {
        gSegmentsCarved = kSegmentSpace / kSegmentSize;
        return nullptr;
      }
      // Segments are aligned to their size.
      const uintptr_t base = (reinterpret_cast<uintptr_t>(range) + kSegmentSize - 1) & ~(kSegmentSize - 1);
      gSegmentBase.store(base, std::memory_order_release);
    }
    if (gSegmentsCarved >= kSegmentSpace / kSegmentSize) return nullptr;
    segment = reinterpret_cast<TSegment*>(gSegmentBase.load(std::memory_order_relaxed) + gSegmentsCarved++ * kSegmentSize);
    segment->Registered = false;
    segment->InPartial = false;
  }
#if KD_XML_ASAN
  // The leak checker is to see the blocks the nodes here point to.
  if (!segment->Registered) __lsan_register_root_region(segment, kSegmentSize);
#endif
  segment->Registered = true;
  segment->FreeHead = segment->FreeLast = nullptr;
  segment->FreeCount = 0;
  segment->Out.store(kSegmentBlocks, std::memory_order_relaxed);
  return segment;
}

// Blocks carved in order from the thread's segment, as from the region.
void* TakeSegmentBlocks(TNodeCache& Cache) {
  TSegmentState& state = gSegments;
  if (state.Left == 0) {
    if (void* p = TakePartialBlocks(Cache)) return p;
    TSegment* segment = TakeSegment();
    if (!segment) return nullptr;
    state.Carving = segment;
    state.Next = reinterpret_cast<char*>(segment) + kSegmentHeader;
    state.Left = kSegmentBlocks;
  }
  const size_t n = std::min(kNodeBatch, state.Left);
  char* batch = state.Next;
  for (size_t i = n - 1; i > 0; --i) {
    void* block = batch + i * sizeof(TXmlNode);
    LinkBlock(block, Cache.Head);
    Cache.Head = block;
  }
  Cache.Count += n - 1;
  state.Next += n * sizeof(TXmlNode);
  state.Left -= n;
  UnpoisonKept(batch, sizeof(TXmlNode));
  return batch;
}
#endif
}  // namespace

size_t SegmentsTaken() {
#if KD_XML_NODE_CACHE
  TSpinLock lock(gSegmentLock);
  return gSegmentsCarved;
#else
  return 0;
#endif
}

#if KD_XML_NODE_CACHE
void FlushReleased() noexcept {
  TNodeCache& cache = gNodeCache;
  if (!cache.Released) return;
  const size_t n = cache.Released;
  cache.Released = 0;
  ReturnBlocks(static_cast<TSegment*>(cache.Releasing), cache.ReleasedHead, cache.ReleasedLast, n);
  cache.ReleasedHead = cache.ReleasedLast = nullptr;
}

void ReleaseSegmentBlock(void* Block) noexcept {
  TSegment* segment = SegmentOf(Block);
  TNodeCache& cache = gNodeCache;
  if (cache.Ended) {
    LinkBlock(Block, nullptr);
    ReturnBlocks(segment, Block, Block, 1);
    return;
  }
  if (segment != cache.Releasing) {
    FlushReleased();
    cache.Releasing = segment;
  }
  if (!cache.Released) cache.ReleasedLast = Block;
  LinkBlock(Block, cache.ReleasedHead);
  cache.ReleasedHead = Block;
  ++cache.Released;
}

// The thread ends: what it holds of segments goes back, the part not carved yet too.
void EndSegments() noexcept {
  FlushReleased();
  TSegmentState& state = gSegments;
  if (state.Left) {
    const size_t left = state.Left;
    state.Left = 0;
    char* first = state.Next;
    void* next = nullptr;
    for (size_t i = left; i-- > 0;) {
      void* block = first + i * sizeof(TXmlNode);
      LinkBlock(block, next);
      next = block;
    }
    ReturnBlocks(state.Carving, first, first + (left - 1) * sizeof(TXmlNode), left);
  }
}
#endif

void* NewNodeBlock() {
  TNodeCache& cache = gNodeCache;
#if KD_XML_NODE_CACHE
  if (!cache.Open && !cache.Ended) {
    // Blocks are about to be kept on this thread: from now on the end of the thread is watched.
    gNodeCacheEnd.Armed = true;
    cache.Open = true;
  }
  if (cache.Open) {
    void* p = TakeRegionBlocks(cache);
    if (!p) p = TakeSegmentBlocks(cache);
    if (p) {
      ++cache.Live;
      return p;
    }
  }
#endif
  void* p = ::operator new(sizeof(TXmlNode));
  ++cache.Live;
  return p;
}

void FreeNodeBlockSlow(void* Block) noexcept {
  TNodeCache& cache = gNodeCache;
  --cache.Live;
#if KD_XML_NODE_CACHE
  if (!cache.Open && !cache.Ended) {
    // The first block kept on this thread: from now on the end of the thread is watched.
    gNodeCacheEnd.Armed = true;
    cache.Open = true;
  }
  if (cache.Open && (cache.Count < TNodeCache::kLimit || InNodeRegion(Block))) {
    LinkBlock(Block, cache.Head);
    cache.Head = Block;
    ++cache.Count;
    return;
  }
  if (InNodeRegion(Block)) {
    // Freed after the thread's end: to the other threads.
    TSpinLock lock(gOrphanLock);
    LinkBlock(Block, gOrphanHead);
    gOrphanHead = Block;
    ++gOrphanCount;
    return;
  }
  if (InSegments(Block)) {
    ReleaseSegmentBlock(Block);
    return;
  }
#endif
  ::operator delete(Block);
}

}  // namespace xmlpriv

int64_t TXmlNode::LiveCount() { return xmlpriv::gNodeCache.Live; }

void* TXmlNode::operator new(size_t Size) {
  if (Size == sizeof(TXmlNode)) return xmlpriv::AllocNodeBlock();
  void* p = ::operator new(Size);
  ++xmlpriv::gNodeCache.Live;
  return p;
}

void TXmlNode::operator delete(void* Ptr, size_t Size) noexcept {
  if (!Ptr) return;
  if (Size == sizeof(TXmlNode)) {
    xmlpriv::FreeNodeBlock(Ptr);
    return;
  }
  --xmlpriv::gNodeCache.Live;
  ::operator delete(Ptr);
}

void TXmlNode::FreeChild(TXmlNode* Node) {
#if KD_XML_NODE_CACHE
  // A node whose texts are held in the strings themselves and that has no lists owns nothing
  // its destructor would free: its block goes back as it is.
  if (!Node->FNodes.data() && !Node->FAttributes.data() && !OnHeap(Node->FName) && !OnHeap(Node->FValue)) {
    xmlpriv::FreeNodeBlock(Node);
    return;
  }
#endif
  delete Node;
}

TXmlNode::~TXmlNode() {
  if (!FNodes.empty()) FreeNodes();
  // Most nodes hold short texts only (kept in the strings themselves) and no lists.
  if (OnHeap(FName) || OnHeap(FValue) || FNodes.capacity() || FAttributes.capacity()) KeepBuffers();
}

void TXmlNode::KeepBuffers() {
#if KD_XML_NODE_CACHE
  TBufferCache& buffers = gBuffers;
  if (buffers.Ended) return;
  buffers.KeepText(FValue);
  buffers.KeepText(FName);
  if (FNodes.capacity()) buffers.KeepNodes(FNodes);
  if (FAttributes.capacity()) buffers.KeepAttributes(FAttributes);
#endif
}

void TXmlNode::FreeNodes() {
  TFreeingScope scope;
  if (gFreeingDepth > kFreeDeferDepth && !gDeferredChildren.Ended) {
    std::vector<std::unique_ptr<TXmlNode>>& deferred = gDeferredChildren.Nodes;
    bool room = true;
    try {
      deferred.reserve(deferred.size() + FNodes.size());
    } catch (...) {
      room = false;  // freed here after all
    }
    if (room) {
      deferred.insert(deferred.end(), std::make_move_iterator(FNodes.begin()), std::make_move_iterator(FNodes.end()));
      FNodes.clear();
      return;
    }
  }
  // A long child list is given back before the children: freed last, its block would join
  // the allocator's free top and make it sweep up every small block the children just freed.
  if (FNodes.size() >= 64 && !gHeldChildren.Ended) {
    std::vector<std::unique_ptr<TXmlNode>>& held = gHeldChildren.Nodes;
    const size_t base = held.size();
    try {
      held.reserve(base + FNodes.size());
    } catch (...) {
      FNodes.clear();  // no room to hold them: the children go first after all
      return;
    }
    held.insert(held.end(), std::make_move_iterator(FNodes.begin()), std::make_move_iterator(FNodes.end()));
    FNodes.clear();
#if KD_XML_NODE_CACHE
    if (!gBuffers.Ended) gBuffers.KeepNodes(FNodes);
#endif
    std::vector<std::unique_ptr<TXmlNode>>().swap(FNodes);
    // One at a time from the back: a child's own destructor pushes onto (and may reallocate)
    // the same stack, so nothing of it may be held across that call.
    while (held.size() > base) {
      TXmlNode* child = held.back().release();
      held.pop_back();
      FreeChild(child);
    }
    return;
  }
  // The children are far apart in a tree much larger than the first-level cache: the lines a
  // child is checked by are fetched two children ahead.
  std::unique_ptr<TXmlNode>* nodes = FNodes.data();
  const size_t n = FNodes.size();
  for (size_t i = 0; i < n; ++i) {
    if (i + 2 < n) {
      const char* ahead = reinterpret_cast<const char*>(nodes[i + 2].get());
      __builtin_prefetch(ahead);
      __builtin_prefetch(ahead + sizeof(TXmlNode) - 1);
    }
    FreeChild(nodes[i].release());
  }
  FNodes.clear();
}

namespace xmlpriv {

void TakeText(std::string& Dest, size_t N) {
#if KD_XML_NODE_CACHE
  const size_t c = TBufferCache::TextClass(N);
  TBufferCache& buffers = gBuffers;
  if (c < TBufferCache::kTextClasses && !buffers.Ended) {
    std::vector<std::string>& kept = buffers.Texts[c];
    if (!kept.empty()) {
      Dest = std::move(kept.back());
      kept.pop_back();
      buffers.Bytes -= Dest.capacity() + 1;
      UnpoisonKept(Dest.data(), Dest.capacity() + 1);
      // The next text of the class is written soon: its buffer is fetched meanwhile.
      if (!kept.empty()) __builtin_prefetch(kept.back().data(), 1);
      Dest.clear();
      return;
    }
    N = TBufferCache::TextRoom(c);
  }
#endif
  Dest.clear();
  Dest.reserve(N);
}

namespace {
#if KD_XML_NODE_CACHE
// A kept list with room for N to 2 N - 1 items (the closest) into the empty List. Lists built
// one item at a time have powers of two for room; those serve too.
template <class T, size_t Classes>
bool TakeList(std::vector<T>& List, std::vector<std::vector<T>> (&Kept)[Classes], size_t N, size_t& Bytes) {
  const size_t last = std::min(2 * N - 1, Classes - 1);
  for (size_t c = N; c <= last; ++c) {
    std::vector<std::vector<T>>& kept = Kept[c];
    if (kept.empty()) continue;
    List = std::move(kept.back());
    kept.pop_back();
    Bytes -= TBufferCache::ListBytes(List);
    TBufferCache::UnpoisonList(List);
    if (!kept.empty()) __builtin_prefetch(kept.back().data(), 1);
    return true;
  }
  return false;
}
#endif
}  // namespace

void ReserveNodes(std::vector<std::unique_ptr<TXmlNode>>& Nodes, size_t N) {
#if KD_XML_NODE_CACHE
  if (N > Nodes.capacity()) {
    TBufferCache& buffers = gBuffers;
    if (!buffers.Ended && (N < TBufferCache::kListClasses ? TakeList(Nodes, buffers.Lists, N, buffers.Bytes)
                                                           : buffers.TakeLarge(Nodes, N)))
      return;
  }
#endif
  Nodes.reserve(N);
}

void ReserveAttributes(std::vector<std::string>& Attributes, size_t N) {
#if KD_XML_NODE_CACHE
  if (N > Attributes.capacity() && N < TBufferCache::kAttributeClasses) {
    TBufferCache& buffers = gBuffers;
    if (!buffers.Ended && TakeList(Attributes, buffers.Attributes, N, buffers.Bytes)) return;
  }
#endif
  Attributes.reserve(N);
}

}  // namespace xmlpriv

std::unique_ptr<TXmlNode> TXmlNode::CreateName(TXmlDocument* ADocument, const std::string& AName) {
  auto node = std::make_unique<TXmlNode>(ADocument);
  node->SetName(AName);
  return node;
}

std::unique_ptr<TXmlNode> TXmlNode::CreateNameValue(TXmlDocument* ADocument, const std::string& AName,
                                                    const std::string& AValue) {
  auto node = CreateName(ADocument, AName);
  node->SetValueAsString(AValue);
  return node;
}

std::unique_ptr<TXmlNode> TXmlNode::CreateType(TXmlDocument* ADocument, TXmlNodeKind AKind) {
  auto node = std::make_unique<TXmlNode>(ADocument);
  node->FKind = AKind;
  return node;
}

void TXmlNode::Assign(const platform::TPersistent* Source) {
  const auto* src = dynamic_cast<const TXmlNode*>(Source);
  if (!src) {
    TPersistent::Assign(Source);
    return;
  }
  if (src == this) return;
  std::string text;
  if (TXmlDocument* doc = src->FDocument) {
    const uint8_t old = doc->FXmlFormat;
    doc->FXmlFormat = xfCompact;
    try {
      text = src->WriteToString();
    } catch (...) {
      doc->FXmlFormat = old;
      throw;
    }
    doc->FXmlFormat = old;
  } else {
    text = src->WriteToString();
  }
  Clear();
  ReadFromString(text);
}

void TXmlNode::SetName(const std::string& Value) {
  // A first "!", "?" or "/" would be written as a tag that reads back as another kind of node.
  if (std::any_of(Value.begin(), Value.end(), IsXmlSpace) ||
      (!Value.empty() && (Value[0] == '!' || Value[0] == '?' || Value[0] == '/')))
    throw platform::Exception("Illegal character in node name \"" + Value + "\"");
  FName = Value;
}

TXmlNode* TXmlNode::GetNode(int32_t Index) const {
  if (Index < 0 || Index >= GetNodeCount())
    throw platform::EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FNodes[static_cast<size_t>(Index)].get();
}


std::string TXmlNode::GetAttributesText() const {
  std::string out;
  for (const auto& a : FAttributes) {
    out += ' ';
    out += a;
  }
  return out;
}

void TXmlNode::BufferWrite(const void* Buffer, int32_t Count) {
  const uint8_t enc = FDocument ? FDocument->FBinaryEncoding : xbeHex;
  FValue = enc == xbeHex ? EncodeBinHex(Buffer, Count) : EncodeBase64(Buffer, Count);
}

int32_t TXmlNode::BufferRead(void* Buffer, int32_t Count) const {
  if (!Buffer || Count <= 0) return 0;
  const uint8_t enc = FDocument ? FDocument->FBinaryEncoding : xbeHex;
  return static_cast<int32_t>(enc == xbeHex ? DecodeBinHex(FValue, Buffer, Count)
                                            : DecodeBase64(FValue, Buffer, Count));
}

int32_t TXmlNode::BufferLength() const {
  const uint8_t enc = FDocument ? FDocument->FBinaryEncoding : xbeHex;
  const int64_t n = enc == xbeHex ? DecodeBinHex(FValue, nullptr, 0) : DecodeBase64(FValue, nullptr, 0);
  return static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX));
}

void TXmlNode::Clear() {
  FName.clear();
  FValue.clear();
  FAttributes.clear();
  FNodes.clear();
}

bool TXmlNode::HasAttribute(const std::string& AName) const {
  return std::any_of(FAttributes.begin(), FAttributes.end(),
                     [&](const std::string& a) { return platform::SameText(AttributeName(a), AName); });
}

bool TXmlNode::IsEmpty() const { return FName.empty() && HasNoContent(); }

bool TXmlNode::HasNoContent() const { return FValue.empty() && FNodes.empty() && FAttributes.empty(); }

TXmlNode* TXmlNode::NodeAdd(std::unique_ptr<TXmlNode> ANode) {
  if (!ANode) return nullptr;
  // A node moved in from another document belongs to this one from now on, with everything
  // below it: it is written by this document's settings, and the other may be freed first.
  if (ANode->FDocument != FDocument || !ANode->FNodes.empty()) {
    std::vector<TXmlNode*> pending{ANode.get()};
    while (!pending.empty()) {
      TXmlNode* n = pending.back();
      pending.pop_back();
      n->FDocument = FDocument;
      for (const auto& c : n->FNodes) pending.push_back(c.get());
    }
  }
  ANode->FParent = this;
  FNodes.push_back(std::move(ANode));
  return FNodes.back().get();
}

TXmlNode* TXmlNode::NodeByName(const std::string& AName) const {
  for (const auto& n : FNodes)
    if (platform::SameText(n->FName, AName)) return n.get();
  return nullptr;
}

void TXmlNode::NodeDelete(int32_t Index) {
  GetNode(Index);
  FNodes.erase(FNodes.begin() + Index);
}

std::unique_ptr<TXmlNode> TXmlNode::NodeExtract(TXmlNode* ANode) {
  auto it = std::find_if(FNodes.begin(), FNodes.end(), [&](const auto& n) { return n.get() == ANode; });
  if (it == FNodes.end()) return nullptr;
  std::unique_ptr<TXmlNode> node = std::move(*it);
  FNodes.erase(it);
  node->FParent = nullptr;
  return node;
}

int32_t TXmlNode::NodeIndexByName(const std::string& AName) const { return NodeIndexByNameFrom(AName, 0); }

int32_t TXmlNode::NodeIndexByNameFrom(const std::string& AName, int32_t AFrom) const {
  for (int32_t i = std::max(AFrom, 0); i < GetNodeCount(); ++i)
    if (platform::SameText(FNodes[static_cast<size_t>(i)]->FName, AName)) return i;
  return -1;
}

TXmlNode* TXmlNode::NodeNew(const std::string& AName) { return NodeAdd(CreateName(FDocument, AName)); }

TXmlNode* TXmlNode::NodeFindOrCreate(const std::string& AName) {
  TXmlNode* node = NodeByName(AName);
  return node ? node : NodeNew(AName);
}

void TXmlNode::NodesClear() { FNodes.clear(); }

void TXmlNode::NodesByName(const std::string& AName, std::vector<TXmlNode*>& AList) const {
  AList.clear();
  for (const auto& n : FNodes)
    if (platform::SameText(n->FName, AName)) AList.push_back(n.get());
}

std::string TXmlNode::ReadAttributeString(const std::string& AName, const std::string& Default) const {
  for (const auto& a : FAttributes) {
    if (!platform::SameText(AttributeName(a), AName)) continue;
    const size_t eq = a.find('=');
    if (eq == std::string::npos) return {};
    std::string_view v(a);
    v.remove_prefix(eq + 1);
    if (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()) v = v.substr(1, v.size() - 2);
    return XmlUnescape(v);
  }
  return Default;
}

int32_t TXmlNode::ReadAttributeInteger(const std::string& AName, int32_t Default) const {
  if (!HasAttribute(AName)) return Default;
  return platform::StrToIntDef(ReadAttributeString(AName), Default);
}

bool TXmlNode::ReadBool(const std::string& AName, bool Default) const {
  const TXmlNode* n = ValueNode(AName);
  return n ? n->ValueAsBool(Default) : Default;
}

void TXmlNode::ReadBrush(const std::string& AName, TXmlBrushValues& Brush) const {
  const TXmlNode* n = ValueNode(AName);
  if (!n) return;
  Brush.Color = n->ReadInteger("Color", 0xFFFFFF);
  Brush.Style = n->ReadInteger("Style", 0);
}

int32_t TXmlNode::ReadInteger(const std::string& AName, int32_t Default) const {
  const TXmlNode* n = ValueNode(AName);
  return n ? platform::StrToInt(n->ValueAsString()) : Default;
}

void TXmlNode::ReadFont(const std::string& AName, TXmlFontValues& Font) const {
  Font.Bold = Font.Italic = Font.Underline = Font.Strikeout = false;
  const TXmlNode* n = ValueNode(AName);
  if (!n) {
    Font.Name = "Arial";
    Font.Color = 0;
    Font.Size = 14;
    return;
  }
  Font.Name = n->ReadString("Name", "Arial");
  Font.Color = n->ReadInteger("Color", 0);
  Font.Size = n->ReadInteger("Size", 14);
  Font.Bold = n->ReadBool("Bold", false);
  Font.Italic = n->ReadBool("Italic", false);
  Font.Underline = n->ReadBool("Underline", false);
  Font.Strikeout = n->ReadBool("Strikeout", false);
}

void TXmlNode::ReadPen(const std::string& AName, TXmlPenValues& Pen) const {
  const TXmlNode* n = ValueNode(AName);
  if (!n) return;
  const TXmlPenValues defaults;
  Pen.Color = n->ReadInteger("Color", defaults.Color);
  Pen.Mode = n->ReadInteger("Mode", defaults.Mode);
  Pen.Style = n->ReadInteger("Style", defaults.Style);
  Pen.Width = n->ReadInteger("Width", defaults.Width);
}

TDateTime TXmlNode::ReadDateTime(const std::string& AName, TDateTime Default) const {
  const TXmlNode* n = ValueNode(AName);
  return n ? n->ValueAsDateTime(Default) : Default;
}

double TXmlNode::ReadFloat(const std::string& AName, double Default) const {
  const TXmlNode* n = ValueNode(AName);
  return n ? n->ValueAsFloat(Default) : Default;
}

int32_t TXmlNode::ReadIntegerDef(const std::string& AName, int32_t Default) const {
  const TXmlNode* n = ValueNode(AName);
  return n ? n->ValueAsInteger(Default) : Default;
}

std::string TXmlNode::ReadString(const std::string& AName, const std::string& Default) const {
  const TXmlNode* n = ValueNode(AName);
  return n ? n->ValueAsString() : Default;
}

bool TXmlNode::ValueAsBool(bool Default) const {
  const std::string v = ValueAsString();
  if (platform::SameText(v, "TRUE")) return true;
  if (platform::SameText(v, "FALSE")) return false;
  return Default;
}

TDateTime TXmlNode::ValueAsDateTime(TDateTime Default) const {
  TDateTime result;
  return ParseDateTime(ValueAsString(), result) ? result : Default;
}

double TXmlNode::ValueAsFloat(double Default) const {
  std::string v = ValueAsString();
  const size_t comma = v.find(',');
  if (comma != std::string::npos) v[comma] = '.';
  long double result;
  // Texts beyond the range of a double do not convert either.
  if (!platform::TryStrToFloat(v, result) || !(std::fabs(result) <= DBL_MAX)) return Default;
  return static_cast<double>(result);
}

int32_t TXmlNode::ValueAsInteger(int32_t Default) const {
  return platform::StrToIntDef(ValueAsString(), Default);
}

bool TXmlNode::SkipDefault(bool Equal) const {
  return Equal && FDocument && FDocument->FWriteOnDefault == 0;
}

void TXmlNode::WriteAttributeInteger(const std::string& AName, int32_t Value) {
  WriteAttributeString(AName, platform::IntToStr(Value));
}

void TXmlNode::WriteAttributeString(const std::string& AName, const std::string& Value) {
  const std::string escaped = XmlEscape(Value);
  const char quote = escaped.find('"') != std::string::npos ? '\'' : '"';
  std::string line = AName + "=" + quote + escaped + quote;
  for (auto& a : FAttributes) {
    if (platform::SameText(AttributeName(a), AName)) {
      a = std::move(line);
      return;
    }
  }
  FAttributes.push_back(std::move(line));
}

void TXmlNode::WriteBool(const std::string& AName, bool Value, bool Default) {
  if (SkipDefault(Value == Default)) return;
  NodeFindOrCreate(AName)->FValue = Value ? "True" : "False";
}

void TXmlNode::WriteBrush(const std::string& AName, const TXmlBrushValues& Brush) {
  TXmlNode* n = NodeFindOrCreate(AName);
  const TXmlBrushValues defaults;
  // The colour's default is the one the reader assumes, so that black survives write-on-default 0.
  n->WriteHex("Color", platform::ColorToRGB(Brush.Color), 8, defaults.Color);
  n->WriteInteger("Style", Brush.Style, defaults.Style);
}

void TXmlNode::WriteColor(const std::string& AName, TColor Value) {
  WriteHex(AName, platform::ColorToRGB(Value), 8, 0);
}

void TXmlNode::WriteFont(const std::string& AName, const TXmlFontValues& Font) {
  TXmlNode* n = NodeFindOrCreate(AName);
  n->WriteString("Name", Font.Name, "Arial");
  n->WriteColor("Color", Font.Color);
  n->WriteInteger("Size", Font.Size, 14);
  n->WriteBool("Bold", Font.Bold, false);
  n->WriteBool("Italic", Font.Italic, false);
  n->WriteBool("Underline", Font.Underline, false);
  n->WriteBool("Strikeout", Font.Strikeout, false);
}

void TXmlNode::WritePen(const std::string& AName, const TXmlPenValues& Pen) {
  TXmlNode* n = NodeFindOrCreate(AName);
  const TXmlPenValues defaults;
  n->WriteColor("Color", Pen.Color);
  n->WriteInteger("Mode", Pen.Mode, defaults.Mode);
  n->WriteInteger("Style", Pen.Style, defaults.Style);
  n->WriteInteger("Width", Pen.Width, defaults.Width);
}

void TXmlNode::WriteDateTime(const std::string& AName, TDateTime Value, TDateTime Default) {
  if (SkipDefault(Value == Default)) return;
  NodeFindOrCreate(AName)->FValue = FormatDateTime(Value);
}

void TXmlNode::WriteFloat(const std::string& AName, long double Value, long double Default) {
  if (SkipDefault(Value == Default)) return;
  NodeFindOrCreate(AName)->FValue = platform::FloatToStr(Value);
}

void TXmlNode::WriteHex(const std::string& AName, int32_t Value, int32_t Digits, int32_t Default) {
  if (SkipDefault(Value == Default)) return;
  NodeFindOrCreate(AName)->FValue = "$" + platform::IntToHex(Value, std::clamp(Digits, 0, 16));
}

void TXmlNode::WriteInteger(const std::string& AName, int32_t Value, int32_t Default) {
  if (SkipDefault(Value == Default)) return;
  NodeFindOrCreate(AName)->FValue = platform::IntToStr(Value);
}

void TXmlNode::WriteString(const std::string& AName, const std::string& Value, const std::string& Default) {
  if (SkipDefault(Value == Default)) return;
  NodeFindOrCreate(AName)->FValue = XmlEscape(Value);
}

// --- TXmlDocument --------------------------------------------------------------------------

TXmlDocument::TXmlDocument() : FRoot(std::make_unique<TXmlNode>(this)) { SetDefaults(); }

TXmlDocument::TXmlDocument(const std::string& RootName) : TXmlDocument() { FRoot->SetName(RootName); }

TXmlDocument::~TXmlDocument() = default;

void TXmlDocument::Assign(const platform::TPersistent* Source) {
  if (const auto* doc = dynamic_cast<const TXmlDocument*>(Source)) {
    CopyFrom(doc);
    return;
  }
  TPersistent::Assign(Source);
}

void TXmlDocument::CopyFrom(const TXmlDocument* Other) {
  if (!Other || Other == this) return;
  Clear();
  platform::TMemoryStream stream;
  Other->WriteToStream(&stream);
  stream.SetPosition(0);
  ParseStream(&stream);
}

std::string TXmlDocument::GetLineBreak() const { return FXmlFormat == xfIndented ? "\r\n" : "\n"; }

void TXmlDocument::DoProgress(int64_t Position) const {
  if (OnProgress)
    OnProgress(const_cast<TXmlDocument*>(this), static_cast<int32_t>(std::clamp<int64_t>(Position, 0, INT32_MAX)));
}

void TXmlDocument::SetDefaults() {
  FBinaryEncoding = xbeBase64;
  FRootComments.clear();
  FEncoding = "windows-1252";
  FWideText = 0;
  FStylesheet.clear();
  FVersion = "1.0";
  FWriteOnDefault = 1;
  FXmlFormat = xfCompact;
}

void TXmlDocument::Clear() {
  SetDefaults();
  if (FRoot) {
    FRoot->Clear();
    FRoot->FKind = xnElement;
  } else {
    FRoot = std::make_unique<TXmlNode>(this);
  }
}

bool TXmlDocument::IsEmpty() const { return !FRoot || FRoot->IsEmpty(); }

void TXmlDocument::LoadFromStream(TStream* Stream) {
  Clear();
  TUtf8Stream utf(Stream);
  ParseStream(&utf);
  FWideText = utf.WideText() ? 1 : 0;
}

void TXmlDocument::LoadFromFile(const std::string& FileName) {
  platform::TFileStream file(FileName, platform::fmOpenRead | platform::fmShareDenyWrite);
  LoadFromStream(&file);
}

void TXmlDocument::ReadFromString(const std::string& Text) {
  Clear();
  ParseText(Text, 0, nullptr);
}

void TXmlDocument::SaveToFile(const std::string& FileName) const {
  platform::TFileStream file(FileName, platform::fmCreate);
  SaveToStream(&file);
}

}  // namespace document
