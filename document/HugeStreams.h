// Streams with 64-bit positions, sizes and copy counts: the archive keeps its file, its
// per-stream caches and its temporary buffers in them. They derive from platform::TStream,
// so they mix freely with the class library's streams; the extra operations copy between
// streams in bounded buffers with progress and move ranges inside one stream.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Classes.h"

namespace document {

// Called during long copies with the bytes done so far and the total.
using TProgress64Event = std::function<void(platform::TObject* Sender, int64_t Done, int64_t Total)>;

class TStream64 : public platform::TStream {
 public:
  TProgress64Event OnProgress;

  // Copies Count bytes from Source's position; Count 0 copies all of Source from its start.
  // A negative Count copies nothing. Returns the bytes copied.
  int64_t CopyFrom64(TStream64* Source, int64_t Count);
  // The same between this stream and any stream; Count 0 means the whole source (for
  // CopyToStream: this stream) from position 0. Progress goes to this stream's OnProgress.
  int64_t CopyFromStream(platform::TStream* Source, int64_t Count);
  int64_t CopyToStream(platform::TStream* Dest, int64_t Count);
  // Moves Count bytes from SourcePos to DestPos inside this stream; overlapping ranges are
  // moved without loss in either direction.
  void MoveData(int64_t SourcePos, int64_t DestPos, int64_t Count);
  void DoProgress(int64_t Done, int64_t Total);
  // Makes everything written so far durable (a file's bytes reach the disk); memory streams
  // have nothing to do. Raises EWriteError "Stream write error" when that fails.
  virtual void Sync() {}

  std::string ClassName() const override { return "TStream64"; }
};

// A stream over an operating-system file descriptor it does not own.
class THandleStream64 : public TStream64 {
 public:
  explicit THandleStream64(int AHandle) : FHandle(AHandle) {}
  // Return the count done; an operating-system error counts as nothing done.
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  // Raises EOSError when the file cannot be resized.
  void SetSize(int64_t NewSize) override;
  void Sync() override;
  int Handle() const { return FHandle; }
  std::string ClassName() const override { return "THandleStream64"; }

 protected:
  int FHandle;
};

// Opens a file by name with the class library's mode word, or creates (truncates) it with
// fmCreate; owns the descriptor. Raises EFCreateError "Cannot create file %s" or
// EFOpenError "Cannot open file %s". Sharing bits have no meaning here and are ignored.
class TFileStream64 : public THandleStream64 {
 public:
  TFileStream64(const std::string& FileName, uint16_t Mode);
  ~TFileStream64() override;
  TFileStream64(const TFileStream64&) = delete;
  TFileStream64& operator=(const TFileStream64&) = delete;
  const std::string& FileName() const { return FFileName; }
  std::string ClassName() const override { return "TFileStream64"; }

 private:
  std::string FFileName;
};

// The position a seek gives from Position in a stream of Size bytes; a relative seek past either
// end of the 64-bit range stops there instead of wrapping round.
int64_t SeekedPosition(int64_t Position, int64_t Size, int64_t Offset, uint16_t Origin);

// A stream over a memory block it does not own; memory streams hold at most 2^31 - 1 bytes.
class TCustomMemoryStream64 : public TStream64 {
 public:
  void SetPointer(void* AMemory, int64_t ASize);
  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  int32_t Write(const void*, int32_t) override { return 0; }
  void* Memory() const { return FMemory; }
  // Size and position without seeking.
  int64_t DataSize() const { return FSize; }
  int64_t DataPosition() const { return FPosition; }
  std::string ClassName() const override { return "TCustomMemoryStream64"; }

 protected:
  void* FMemory = nullptr;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

// A growable memory stream. Capacity grows in steps of 8192 bytes; a gap left by seeking past
// the end reads as zeros; growth to 2^31 bytes or more raises EStreamError
// "Out of memory while expanding memory stream".
class TMemoryStream64 : public TCustomMemoryStream64 {
 public:
  TMemoryStream64() = default;
  ~TMemoryStream64() override;
  TMemoryStream64(const TMemoryStream64&) = delete;
  TMemoryStream64& operator=(const TMemoryStream64&) = delete;

  int32_t Write(const void* Buffer, int32_t Count) override;
  void SetSize(int64_t NewSize) override;
  void Clear();
  int64_t Capacity() const { return FCapacity; }
  // A request below the size keeps the capacity at the size: the bytes stay readable.
  void SetCapacity(int64_t NewCapacity);
  std::string ClassName() const override { return "TMemoryStream64"; }

 protected:
  // Returns the block for NewCapacity bytes, rounding a positive request up to a multiple
  // of 8192 (written back); 0 frees the block and returns nullptr.
  virtual void* Realloc(int64_t& NewCapacity);

 private:
  // The block is always its own: an outside pointer could not be reallocated.
  using TCustomMemoryStream64::SetPointer;
  // The block for NewCapacity bytes, whatever the size (the size is set by the caller).
  void Reallocate(int64_t NewCapacity);
  int64_t FCapacity = 0;
};

// Renames From over To in one step and makes the rename durable (the folder is flushed
// too), so that To names either its old file or the new one, never a mix. Raises
// EWriteError "Cannot replace file %s" with To when it fails.
void ReplaceFileDurably(const std::string& From, const std::string& To);

// A new name in the folder of FileName for a temporary file (the file is not created).
std::string TempFileBeside(const std::string& FileName);

// Gives To the access mode of From when From exists (a file that replaces another keeps its
// permissions).
void CopyFileMode(const std::string& From, const std::string& To);

// Fault injection for tests of saving. Every change that a file stream makes on disk (a
// write, a resize, a flush to disk, a rename by ReplaceFileDurably) is one step and passes
// through FileFaultStep first. Off unless a test arms it; the program never does.
struct TFileFaults {
  int64_t Steps = 0;            // steps counted since Reset
  int64_t Bytes = 0;            // bytes written since Reset
  // >= 0: the disk is full after this many bytes: writes that extend the file stop there
  // (overwriting bytes the file has still works), later flushes and renames fail.
  int64_t FailAfterBytes = -1;
  int64_t ExitAtStep = -1;      // >= 1: the process ends (_exit) just before this step
  int ExitCode = 86;
  bool NoDiskFlush = false;        // flushes count as steps but skip the disk (fast tests)
  bool Record = false;             // when set, WriteEnds receives Bytes after every write
  std::vector<int64_t> WriteEnds;
  void Reset() { *this = TFileFaults(); }
};
TFileFaults& FileFaults();
// Counts one step; ends the process when it is the armed one. Returns false when the step
// must fail (the byte budget is spent).
bool FileFaultStep();

}  // namespace document
