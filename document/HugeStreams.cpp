#include "document/HugeStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Exceptions.h"

namespace document {

namespace {

constexpr int64_t kCopyBuffer64 = 0x80000;   // 512 KB between 64-bit streams
constexpr int64_t kCopyBuffer32 = 0xF000;    // 60 KB to and from the class library's streams
constexpr int64_t kMemoryLimit = std::numeric_limits<int32_t>::max();
constexpr int64_t kGranularity = 8192;
constexpr const char* kMemoryError = "Out of memory while expanding memory stream";

// Copies Count bytes from Source's position to Dest's position in buffers of at most
// BufferSize bytes, reporting progress through Reporter.
int64_t CopyLoop(platform::TStream* Source, platform::TStream* Dest, int64_t Count,
                 int64_t BufferSize, TStream64* Reporter) {
  const int64_t total = Count;
  std::unique_ptr<uint8_t[]> buf(new uint8_t[static_cast<size_t>(std::min(Count, BufferSize))]);
  const int64_t size = std::min(Count, BufferSize);
  Reporter->DoProgress(0, total);
  while (Count > 0) {
    const auto n = static_cast<int32_t>(std::min(size, Count));
    Source->ReadBuffer(buf.get(), n);
    Dest->WriteBuffer(buf.get(), n);
    Count -= n;
    Reporter->DoProgress(total - Count, total);
  }
  return total;
}

}  // namespace

TFileFaults& FileFaults() {
  static TFileFaults faults;
  return faults;
}

bool FileFaultStep() {
  TFileFaults& f = FileFaults();
  ++f.Steps;
  if (f.ExitAtStep >= 1 && f.Steps >= f.ExitAtStep) ::_exit(f.ExitCode);
  return f.FailAfterBytes < 0 || f.Bytes < f.FailAfterBytes;
}

std::string TempFileBeside(const std::string& FileName) {
  static uint32_t counter = 0;
  for (;;) {
    const std::string name = FileName + ".~" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    if (::access(name.c_str(), F_OK) != 0) return name;
  }
}

void CopyFileMode(const std::string& From, const std::string& To) {
  struct stat st {};
  if (::stat(From.c_str(), &st) == 0) ::chmod(To.c_str(), st.st_mode & 07777);
}

void ReplaceFileDurably(const std::string& From, const std::string& To) {
  const std::string message = "Cannot replace file " + To;
  if (!FileFaultStep() || ::rename(From.c_str(), To.c_str()) != 0) throw platform::EWriteError(message);
  // The rename lives in the folder: flush the folder so that it survives a power loss.
  const size_t slash = To.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : To.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // the rename itself is done; only its durability is unconfirmed
  if (!FileFaults().NoDiskFlush) ::fsync(fd);
  ::close(fd);
}

// TStream64 -------------------------------------------------------------------------------

void TStream64::DoProgress(int64_t Done, int64_t Total) {
  if (OnProgress) OnProgress(this, Done, Total);
}

int64_t TStream64::CopyFrom64(TStream64* Source, int64_t Count) {
  if (Count == 0) {
    Source->SetPosition(0);
    Count = Source->GetSize();
  }
  if (Count <= 0) return 0;
  return CopyLoop(Source, this, Count, kCopyBuffer64, this);
}

int64_t TStream64::CopyFromStream(platform::TStream* Source, int64_t Count) {
  if (Count == 0) {
    Source->SetPosition(0);
    Count = Source->GetSize();
  }
  if (Count <= 0) return 0;
  return CopyLoop(Source, this, Count, kCopyBuffer32, this);
}

int64_t TStream64::CopyToStream(platform::TStream* Dest, int64_t Count) {
  if (Count == 0) {
    SetPosition(0);
    Count = GetSize();
  }
  if (Count <= 0) return 0;
  return CopyLoop(this, Dest, Count, kCopyBuffer32, this);
}

void TStream64::MoveData(int64_t SourcePos, int64_t DestPos, int64_t Count) {
  if (SourcePos == DestPos || Count <= 0) return;
  const int64_t size = std::min(Count, kCopyBuffer64);
  std::unique_ptr<uint8_t[]> buf(new uint8_t[static_cast<size_t>(size)]);
  DoProgress(0, Count);
  int64_t remaining = Count;
  if (SourcePos > DestPos) {
    // Moving down: front to back never overwrites bytes not yet read.
    while (remaining > 0) {
      const auto n = static_cast<int32_t>(std::min(size, remaining));
      Seek(SourcePos, platform::soFromBeginning);
      ReadBuffer(buf.get(), n);
      Seek(DestPos, platform::soFromBeginning);
      WriteBuffer(buf.get(), n);
      SourcePos += n;
      DestPos += n;
      remaining -= n;
      DoProgress(Count - remaining, Count);
    }
  } else {
    // Moving up: back to front, for the same reason.
    while (remaining > 0) {
      const auto n = static_cast<int32_t>(std::min(size, remaining));
      Seek(SourcePos + remaining - n, platform::soFromBeginning);
      ReadBuffer(buf.get(), n);
      Seek(DestPos + remaining - n, platform::soFromBeginning);
      WriteBuffer(buf.get(), n);
      remaining -= n;
      DoProgress(Count - remaining, Count);
    }
  }
}

// THandleStream64 -------------------------------------------------------------------------

int32_t THandleStream64::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  int32_t done = 0;
  auto* p = static_cast<uint8_t*>(Buffer);
  while (done < Count) {
    ssize_t r = ::read(FHandle, p + done, static_cast<size_t>(Count - done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<int32_t>(r);
  }
  return done;
}

int32_t THandleStream64::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  FileFaultStep();
  TFileFaults& faults = FileFaults();
  if (faults.FailAfterBytes >= 0) {
    // A full disk refuses new blocks; bytes that already exist in the file are overwritten.
    const off_t pos = ::lseek(FHandle, 0, SEEK_CUR);
    struct stat st {};
    const bool inside = pos >= 0 && ::fstat(FHandle, &st) == 0 && pos + Count <= st.st_size;
    if (!inside) Count = static_cast<int32_t>(std::clamp<int64_t>(faults.FailAfterBytes - faults.Bytes, 0, Count));
  }
  int32_t done = 0;
  auto* p = static_cast<const uint8_t*>(Buffer);
  while (done < Count) {
    ssize_t r = ::write(FHandle, p + done, static_cast<size_t>(Count - done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<int32_t>(r);
  }
  faults.Bytes += done;
  if (faults.Record) faults.WriteEnds.push_back(faults.Bytes);
  return done;
}

void THandleStream64::Sync() {
  if (!FileFaultStep()) throw platform::EWriteError("Stream write error");
  if (!FileFaults().NoDiskFlush && ::fsync(FHandle) != 0) throw platform::EWriteError("Stream write error");
}

int64_t THandleStream64::Seek(int64_t Offset, uint16_t Origin) {
  int whence;
  switch (Origin) {
    case platform::soFromBeginning: whence = SEEK_SET; break;
    case platform::soFromCurrent: whence = SEEK_CUR; break;
    case platform::soFromEnd: whence = SEEK_END; break;
    default: return -1;
  }
  off_t r = ::lseek(FHandle, static_cast<off_t>(Offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

void THandleStream64::SetSize(int64_t NewSize) {
  const bool allowed = FileFaultStep();
  Seek(NewSize, platform::soFromBeginning);
  if (!allowed) throw platform::EWriteError("Stream write error");
  if (NewSize < 0 || ::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0) {
    const int code = NewSize < 0 ? EINVAL : errno;
    throw platform::EOSError("System Error.  Code: " + std::to_string(code) + ".\n" +
                             std::strerror(code));
  }
}

// TFileStream64 ---------------------------------------------------------------------------

TFileStream64::TFileStream64(const std::string& FileName, uint16_t Mode)
    : THandleStream64(-1), FFileName(FileName) {
  if (Mode == platform::fmCreate) {
    FHandle = platform::FileCreate(FileName);
    if (FHandle < 0) throw platform::EFCreateError("Cannot create file " + FileName);
  } else {
    FHandle = platform::FileOpen(FileName, Mode);
    if (FHandle < 0) throw platform::EFOpenError("Cannot open file " + FileName);
  }
}

TFileStream64::~TFileStream64() {
  if (FHandle >= 0) ::close(FHandle);
}

// TCustomMemoryStream64 -------------------------------------------------------------------

void TCustomMemoryStream64::SetPointer(void* AMemory, int64_t ASize) {
  FMemory = AMemory;
  FSize = ASize;
}

int32_t TCustomMemoryStream64::Read(void* Buffer, int32_t Count) {
  if (FPosition < 0 || Count <= 0) return 0;
  const int64_t n = std::min<int64_t>(Count, FSize - FPosition);
  if (n <= 0) return 0;
  std::memcpy(Buffer, static_cast<uint8_t*>(FMemory) + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return static_cast<int32_t>(n);
}

int64_t SeekedPosition(int64_t Position, int64_t Size, int64_t Offset, uint16_t Origin) {
  auto add = [](int64_t Base, int64_t Delta) {
    int64_t r;
    if (!__builtin_add_overflow(Base, Delta, &r)) return r;
    return Delta > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  };
  switch (Origin) {
    case platform::soFromBeginning: return Offset;
    case platform::soFromCurrent: return add(Position, Offset);
    case platform::soFromEnd: return add(Size, Offset);
    default: return Position;
  }
}

int64_t TCustomMemoryStream64::Seek(int64_t Offset, uint16_t Origin) {
  FPosition = SeekedPosition(FPosition, FSize, Offset, Origin);
  return FPosition;
}

// TMemoryStream64 -------------------------------------------------------------------------

TMemoryStream64::~TMemoryStream64() { Clear(); }

void* TMemoryStream64::Realloc(int64_t& NewCapacity) {
  if (NewCapacity > 0) NewCapacity = (NewCapacity + kGranularity - 1) & ~(kGranularity - 1);
  if (NewCapacity == FCapacity) return FMemory;
  if (NewCapacity <= 0) {
    std::free(FMemory);
    NewCapacity = 0;
    return nullptr;
  }
  if (NewCapacity > kMemoryLimit + 1) throw platform::EStreamError(kMemoryError);
  void* p = std::realloc(FMemory, static_cast<size_t>(NewCapacity));
  if (!p) throw platform::EStreamError(kMemoryError);
  return p;
}

void TMemoryStream64::SetCapacity(int64_t NewCapacity) { Reallocate(std::max(NewCapacity, FSize)); }

void TMemoryStream64::Reallocate(int64_t NewCapacity) {
  FMemory = Realloc(NewCapacity);
  FCapacity = NewCapacity;
}

void TMemoryStream64::SetSize(int64_t NewSize) {
  if (NewSize < 0 || NewSize > kMemoryLimit) throw platform::EStreamError(kMemoryError);
  const int64_t oldPosition = FPosition;
  const int64_t oldSize = FSize;
  Reallocate(NewSize);
  FSize = NewSize;
  // Grown bytes read as zeros, like a gap left by a seek past the end.
  if (NewSize > oldSize)
    std::memset(static_cast<uint8_t*>(FMemory) + oldSize, 0, static_cast<size_t>(NewSize - oldSize));
  if (oldPosition > NewSize) Seek(0, platform::soFromEnd);
}

int32_t TMemoryStream64::Write(const void* Buffer, int32_t Count) {
  // A zero count writes nothing and must not grow the stream over a seek gap.
  if (FPosition < 0 || Count <= 0) return 0;
  // Compared before adding: a position far past the limit must not wrap the end around.
  if (FPosition > kMemoryLimit - Count) throw platform::EStreamError(kMemoryError);
  const int64_t end = FPosition + Count;
  if (end > FSize) {
    if (end > FCapacity) Reallocate(end);
    if (FPosition > FSize)
      std::memset(static_cast<uint8_t*>(FMemory) + FSize, 0, static_cast<size_t>(FPosition - FSize));
    FSize = end;
  }
  std::memcpy(static_cast<uint8_t*>(FMemory) + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = end;
  return Count;
}

void TMemoryStream64::Clear() {
  Reallocate(0);
  FSize = 0;
  FPosition = 0;
}

}  // namespace document
