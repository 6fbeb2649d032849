// The document file: any number of named byte streams kept in one "STOR" archive file.
// Each stream is a TStoreStream owned by the archive; its bytes stay in the file until it is
// first read or written and are then cached in memory (bounded by CacheLimit, least recently
// used first out). A directory of all streams lives in its own area, found through the header.
//
// Layout (little-endian): "STOR", major 1, minor 0, int64 directory offset; then stream
// extents and the directory area in any order. Directory: int32 count, then per entry int64
// offset, int64 size, int32 name length and the name in windows-1252.
//
// Opening validates the header and every directory entry against the file size; anything
// inconsistent raises "Corrupted archive" and the archive stays without a file. An archive
// opened read-only, or in which nothing changed, is never written: changes to a read-only
// archive raise EWriteError "Stream write error" before anything is touched, and an empty
// file opened read-only raises "Not a valid storage" (it cannot be given a header).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "document/HugeStreams.h"

namespace document {

class TSingleStorage;

// Operation kinds reported to TSingleStorage::OnProgress.
constexpr int32_t opIdle = 0;
constexpr int32_t opWriteStream = 1;
constexpr int32_t opLoadCache = 3;
constexpr int32_t opFlushStream = 4;
constexpr int32_t opSaveToFile = 5;
constexpr int32_t opCompact = 7;

// A yes/no question to the user; true means Yes.
using TQuestionFunc = std::function<bool(const std::string& Text)>;

// One named stream of an archive. Reading, writing, seeking and resizing work on the cache,
// which is loaded from the file on first need.
//
// The archive owns its streams, and a pointer to one stays valid until the archive is
// destroyed: a stream that leaves the archive (deleted, replaced, cleared, or given up when a
// file is closed or a rollback no longer names it) is detached instead of freed, and any
// later use of it raises "Stream \"%s\" is no longer in the archive". A stream that a
// rollback reads back keeps its object, refreshed from the file at position 0.
class TStoreStream : public TStream64 {
 public:
  explicit TStoreStream(std::string AName = std::string());
  ~TStoreStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Without a cache a seek only moves the kept position, without loading anything.
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  void SetSize(int64_t NewSize) override;

  // Empties the stream (its extent becomes free space).
  virtual void Clear();
  virtual void FlushWithProgress();
  // Replace the stream's bytes with the whole of Source, written straight into the file.
  virtual void LoadFromStream64(TStream64* Source);
  virtual void LoadFromStream(platform::TStream* Source);
  virtual void Assign(TStoreStream* Other);
  virtual void SaveToFile(const std::string& FileName);
  // Copy the stream's bytes to Dest at Dest's position.
  virtual void SaveToStream64(TStream64* Dest);
  virtual void SaveToStream(platform::TStream* Dest);
  // Writes a modified cache to a new extent, then drops the cache.
  virtual void Flush();
  // Reads one directory entry at Source's position; FileSize bounds what it may claim.
  virtual void ReadEntry(TStream64* Source, int64_t FileSize);
  virtual void LoadCacheWithProgress();
  virtual void WriteEntry(std::string& Out) const;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value);
  TSingleStorage* Owner() const { return FOwner; }
  int64_t Offset() const { return FOffset; }
  // Size of the bytes in the file (the cache may differ until flushed).
  int64_t StoredSize() const { return FSize; }
  bool Modified() const { return FModified; }
  bool Cached() const { return FCache != nullptr; }
  int64_t CacheSize() const;
  uint32_t AccessStamp() const { return FAccess; }
  std::string ClassName() const override { return "TStoreStream"; }

 private:
  friend class TSingleStorage;
  void EnsureCache();
  void ReplaceBytes(platform::TStream* Source);
  void LoadCache();
  // Frees the cache, keeping its position.
  void DropCache();
  void Stamp();
  void CheckAttached() const;
  // Brings the owner's total of cache bytes up to date with this cache's size.
  void Recount();
  void Changed();
  void DoChange();
  bool HasFile() const;
  const std::string& StoredName() const;

  bool FModified = false;
  bool FDetached = false;
  mutable bool FHandedOut = false;  // a caller may hold a pointer to it
  TSingleStorage* FOwner = nullptr;
  uint32_t FAccess = 0;
  std::unique_ptr<TMemoryStream64> FCache;
  std::string FName;
  int64_t FOffset = 0;
  int64_t FSize = 0;
  // The position while no cache is held: kept across loading and dropping the cache.
  int64_t FPosition = 0;
  int64_t FCounted = 0;  // cache bytes included in the owner's total
  mutable std::string FStoredName;  // FName in windows-1252, for the directory
  mutable std::string FStoredNameOf;
};

class TSingleStorage : public platform::TObject {
 public:
  using TOverwriteEvent = std::function<void(platform::TObject* Sender, const std::string& Name, bool& Overwrite)>;
  using TStorageProgressEvent =
      std::function<void(platform::TObject* Sender, int32_t Kind, const std::string& Name, float Percent)>;

  TSingleStorage();
  ~TSingleStorage() override;
  TSingleStorage(const TSingleStorage&) = delete;
  TSingleStorage& operator=(const TSingleStorage&) = delete;

  // Opens the file read-write, falling back to read-only when that fails; creates it when
  // it does not exist or CreateNew is set. An empty name detaches the file.
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& Value);
  // Takes ownership of Stream as the archive file (nullptr detaches) and reads it; changes
  // still cached for the previous file are written into it first.
  void SetStream(std::unique_ptr<TStream64> Stream);
  TStream64* Stream() const { return FStream.get(); }

  bool CreateNew() const { return FCreateNew; }
  void SetCreateNew(bool Value) { FCreateNew = Value; }
  // When set, SetFileName opens the file for reading alone, as a viewer does: a missing file
  // is not created, an empty one is not a storage, and nothing is ever written to it.
  bool OpenReadOnly() const { return FOpenReadOnly; }
  void SetOpenReadOnly(bool Value) { FOpenReadOnly = Value; }
  int64_t CacheLimit() const { return FCacheLimit; }
  void SetCacheLimit(int64_t Value) { FCacheLimit = Value; }
  // 0 replace silently, 1 ask the user (AskOverwrite), 2 ask OnOverwrite, 3 refuse.
  uint8_t OverwriteMode() const { return FOverwriteMode; }
  void SetOverwriteMode(uint8_t Value) { FOverwriteMode = Value; }
  bool ReadOnly() const { return FReadOnly; }
  uint8_t MajorVersion() const { return FMajorVersion; }
  uint8_t MinorVersion() const { return FMinorVersion; }
  int64_t DirectoryOffset() const { return FDirectoryOffset; }
  int64_t DirectoryCapacity() const { return FDirectoryCapacity; }

  int32_t Count() const { return static_cast<int32_t>(FEntries.size()); }
  // Items and Find hand a stream out: from then on it may be held, and is kept when it leaves.
  TStoreStream* Items(int32_t Index) const;
  int32_t IndexOf(const std::string& Name) const;
  TStoreStream* Find(const std::string& Name) const;

  // Adds an entry; returns its index, or -1 when an existing entry of that name is kept
  // (the declined entry is freed).
  int32_t AddStream(std::unique_ptr<TStoreStream> Entry);
  // Copies Source's whole content into a new stream Name; returns its index or -1.
  int32_t WriteStream(platform::TStream* Source, const std::string& Name);
  // Copies the named stream into Dest at its position and puts Dest's position back; a
  // missing name leaves Dest untouched.
  void ReadStream(const std::string& Name, platform::TStream* Dest);
  void DeleteStream(const std::string& Name);
  bool StreamExists(const std::string& Name) const { return IndexOf(Name) >= 0; }
  void RenameStream(const std::string& OldName, const std::string& NewName);

  virtual void Abort();
  // Frees every entry; the file is not touched.
  virtual void Clear();
  virtual void Assign(TSingleStorage* Other);
  // Writes a copy of this archive into Stream, which is consumed.
  virtual void SaveToStream(std::unique_ptr<TStream64> Stream);
  // Moves every extent down to close the gaps and truncates the file.
  virtual void Compact();
  // Writes every modified cache back and drops all caches.
  virtual void Flush();

  // Transactions make a set of changes all-or-nothing. While one is open the directory is
  // not written and no byte that the file's directory points at is overwritten; the commit
  // writes the caches and a new directory to free space, flushes the file to disk, then
  // switches the header's directory offset in one 8-byte write and flushes again. A commit
  // that fails, and a rollback, read the file's directory back: the archive is then as it
  // was before the transaction. A process ended at any moment leaves the old or the new
  // archive in the file.
  void BeginTransaction();
  void CommitTransaction();
  void RollbackTransaction();
  bool InTransaction() const { return FTransaction; }
  // Compacts into a copy beside the file (the same layout as Compact), flushed to disk and
  // renamed over the file, so that the file is never half moved. Without a file name, as
  // Compact.
  void CompactByCopy();
  // Commits, flushes the file to disk and renames it durably over Target, which it then is.
  void ReplaceFile(const std::string& Target);

  int64_t TotalSize() const;
  int64_t FreeSpace() const;
  // Bytes the directory takes when written.
  int64_t DirectorySize() const;
  // Smallest 1024 * 4^k holding Bytes.
  static int64_t DirectoryCapacityFor(int64_t Bytes);

  void ReadDirectory();
  void WriteDirectory();
  // Finds room for Size bytes, positions the file there and returns the position.
  int64_t Allocate(int64_t Size);
  void TrimCache();
  void Changed();
  void DoChange();

  // OnChange and OnProgress run in the middle of the archive's work: from them the archive
  // and its streams may be looked at (names, sizes, positions) but not read, written or
  // changed; that raises "Archive is busy".
  platform::TNotifyEvent OnChange;
  TOverwriteEvent OnOverwrite;
  TStorageProgressEvent OnProgress;
  // Asked in OverwriteMode 1. By default a warning message box with Yes and No, No being the
  // default button: where nobody can be asked the answer is No and nothing is overwritten.
  TQuestionFunc AskOverwrite;

  std::string ClassName() const override { return "TSingleStorage"; }

  // Test hook: when set, every archive allocates with a freshly built, exchange-sorted
  // extent list, looks names up one by one and rewrites the whole directory after every
  // move while compacting; the file bytes must come out the same as with the fast paths.
  static bool SlowReference;

 private:
  friend class TStoreStream;
  struct TExtent {
    int64_t Offset;
    int64_t Size;
    int32_t Index;  // entry index, -1 for the directory
  };
  std::vector<TExtent> SortedExtents() const;
  bool MayReplace(const std::string& Name);
  void PadTo(int64_t End);
  // Keeps an extent occupied while bytes are copied into it.
  class TReservation {
   public:
    TReservation(TSingleStorage* Owner, int64_t Offset, int64_t Size);
    ~TReservation();
    TReservation(const TReservation&) = delete;
    TReservation& operator=(const TReservation&) = delete;

   private:
    TSingleStorage* FOwner;
  };
  void CheckWritable() const;
  // Find without handing the stream out.
  TStoreStream* Lookup(const std::string& Name) const;
  // Raises while one of the archive's events runs.
  void CheckIdle() const;
  // Takes an entry out of the list and keeps it, detached, until the archive is destroyed,
  // or frees it when no caller was ever handed it; the caller brings the name map and the
  // occupied space up to date.
  void Detach(int32_t Index);
  void DetachAll();
  void OpenStream(std::unique_ptr<TStream64> Stream, bool ReadOnly);
  void ReadHeader();
  void WriteHeaderStart();
  void FileProgress(int64_t Done, int64_t Total);
  void DoProgress(int32_t Kind, const std::string& Name, float Percent);
  // Copies Count bytes from Source's position into the file at Pos, and from the file at
  // Pos into Dest; each step seeks the file, so Source or Dest may use the same file.
  void CopyIntoFile(int64_t Pos, platform::TStream* Source, int64_t Count);
  void CopyOutOfFile(int64_t Pos, platform::TStream* Dest, int64_t Count);
  uint32_t NextStamp() { return ++FAccessCounter; }

  bool FAbort = false;
  std::string FFileName;
  bool FCreateNew = false;
  bool FOpenReadOnly = false;
  int64_t FDirectoryOffset = 0;
  int64_t FDirectoryCapacity = 0;
  int64_t FCacheLimit = 0xA00000;
  uint8_t FOverwriteMode = 1;
  int32_t FOperation = opIdle;
  std::string FOperationName;
  int64_t FProgressTotal = 0;
  int64_t FProgressDone = 0;
  std::unique_ptr<TStream64> FStream;
  std::vector<std::unique_ptr<TStoreStream>> FEntries;
  std::vector<std::unique_ptr<TStoreStream>> FDetached;  // streams that left, still held by callers
  bool FUpdating = false;
  int32_t FInEvent = 0;  // OnChange or OnProgress running
  uint32_t FAccessCounter = 0;
  uint8_t FMajorVersion = 1;
  uint8_t FMinorVersion = 0;
  bool FReadOnly = false;
  bool FTransaction = false;
  bool FDirty = false;
  std::vector<TExtent> FCommitted;
  std::vector<std::pair<TStoreStream*, std::string>> FBegun;  // the entries when the transaction began
  std::vector<TExtent> FReserved;

  // Occupied space (live extents, in a transaction also the committed ones, and
  // reservations) as sorted disjoint ranges: kept up to date by the frequent changes, so
  // that an allocation costs no more than the gaps it passes, and rebuilt after any other.
  int64_t AllocateReference(int64_t Size);
  void RebuildSpace();
  void SpaceAdd(int64_t Offset, int64_t Size);
  void SpaceRemove(int64_t Offset, int64_t Size);
  void SpaceChanged() { FSpaceValid = false; }
  std::vector<TExtent> FSpace;
  bool FSpaceValid = false;
  int64_t FCacheBytes = 0;  // sum of the entries' cache sizes

  // The directory in the file as last written: valid while every change since was written,
  // so that a stream added at the end needs only its entry and the count written.
  bool FDirImageValid = false;
  bool FDirAppend = false;  // the one change since is an entry added at the end
  size_t FDirImageCount = 0;
  int64_t FDirImageBytes = 0;
  uint64_t FUnwritten = 0;  // changes not written at once, counted

  // Name -> first entry of that name, rebuilt on demand after renames and reloads.
  void NameAdded(TStoreStream* Entry);
  void NameRemoved(TStoreStream* Entry);
  void NamesChanged() {
    FNamesValid = false;
    FDirImageValid = false;
  }
  mutable std::unordered_map<std::string, TStoreStream*> FNames;
  mutable bool FNamesValid = false;
  mutable bool FNamesRepeat = false;  // some name is held by two entries
};

}  // namespace document
