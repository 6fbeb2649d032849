#include "platform/Classes.h"

#include "platform/SysUtils.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <random>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr int64_t kMaxMemoryStream = std::numeric_limits<int32_t>::max();
constexpr const char* kMemoryError = "Out of memory while expanding memory stream";
}  // namespace

void TPersistent::Assign(const TPersistent* Source) {
  if (Source) {
    Source->AssignTo(this);
    return;
  }
  throw EConvertError("Cannot assign a nil to a " + ClassName());
}

void TPersistent::AssignTo(TPersistent* Dest) const {
  throw EConvertError("Cannot assign a " + ClassName() + " to a " + Dest->ClassName());
}

void TPersistent::DefineProperties(TFiler*) {}

void TStream::SetSize(int64_t) {}

int64_t TStream::GetSize() {
  int64_t pos = Seek(0, soFromCurrent);
  int64_t size = Seek(0, soFromEnd);
  Seek(pos, soFromBeginning);
  return size;
}

void TStream::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream* Source, int64_t Count) {
  if (Count == 0) {
    Source->SetPosition(0);
    Count = Source->GetSize();
  }
  if (Count <= 0) return 0;
  const int64_t total = Count;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(Count, 0xF000)));
  while (Count > 0) {
    auto n = static_cast<int32_t>(std::min<int64_t>(Count, static_cast<int64_t>(buf.size())));
    Source->ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    Count -= n;
  }
  return total;
}

// THandleStream ---------------------------------------------------------------------------

int32_t THandleStream::Read(void* Buffer, int32_t Count) {
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

int32_t THandleStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  int32_t done = 0;
  auto* p = static_cast<const uint8_t*>(Buffer);
  while (done < Count) {
    ssize_t r = ::write(FHandle, p + done, static_cast<size_t>(Count - done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<int32_t>(r);
  }
  return done;
}

int64_t THandleStream::Seek(int64_t Offset, uint16_t Origin) {
  int whence = Origin == soFromCurrent ? SEEK_CUR : Origin == soFromEnd ? SEEK_END : SEEK_SET;
  off_t r = ::lseek(FHandle, static_cast<off_t>(Offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

void THandleStream::SetSize(int64_t NewSize) {
  Seek(NewSize, soFromBeginning);
  if (NewSize < 0 || ::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0)
    throw EOSError(std::string("System Error.  Code: ") + std::to_string(errno) + ".\n" +
                   std::strerror(errno));
}

// TFileStream -----------------------------------------------------------------------------

int FileOpen(const std::string& FileName, uint16_t Mode) {
  int access = Mode & 3;
  int flags = O_CLOEXEC | (access == fmOpenWrite ? O_WRONLY : access == fmOpenReadWrite ? O_RDWR : O_RDONLY);
  int fd = ::open(FileName.c_str(), flags);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int FileCreate(const std::string& FileName) {
  return ::open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode)
    : THandleStream(-1), FFileName(FileName) {
  if (Mode == fmCreate) {
    FHandle = FileCreate(FileName);
    if (FHandle < 0) throw EFCreateError("Cannot create file " + FileName);
  } else {
    FHandle = FileOpen(FileName, Mode);
    if (FHandle < 0) throw EFOpenError("Cannot open file " + FileName);
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

// TCustomMemoryStream ---------------------------------------------------------------------

int32_t TCustomMemoryStream::Read(void* Buffer, int32_t Count) {
  if (FPosition < 0 || Count <= 0) return 0;
  int64_t n = std::min<int64_t>(Count, FSize - FPosition);
  if (n <= 0) return 0;
  std::memcpy(Buffer, static_cast<uint8_t*>(FMemory) + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return static_cast<int32_t>(n);
}

int64_t TCustomMemoryStream::Seek(int64_t Offset, uint16_t Origin) {
  switch (Origin) {
    case soFromBeginning: FPosition = Offset; break;
    case soFromCurrent: FPosition += Offset; break;
    case soFromEnd: FPosition = FSize + Offset; break;
    default: break;
  }
  return FPosition;
}

void TCustomMemoryStream::SaveToStream(TStream* Stream) {
  int64_t done = 0;
  while (done < FSize) {
    auto n = static_cast<int32_t>(std::min<int64_t>(FSize - done, 1 << 30));
    Stream->WriteBuffer(static_cast<uint8_t*>(FMemory) + done, n);
    done += n;
  }
}

void TCustomMemoryStream::SaveToFile(const std::string& FileName) {
  SaveFileSafely(FileName, [this](const std::string&, TStream* Stream) { SaveToStream(Stream); });
}

// TMemoryStream ---------------------------------------------------------------------------

TMemoryStream::~TMemoryStream() { std::free(FMemory); }

void TMemoryStream::SetCapacity(int64_t NewCapacity) {
  if (NewCapacity > 0) NewCapacity = (NewCapacity + 0x1FFF) & ~int64_t(0x1FFF);
  if (NewCapacity == FCapacity) return;
  if (NewCapacity > kMaxMemoryStream + 1) throw EStreamError(kMemoryError);
  if (NewCapacity == 0) {
    std::free(FMemory);
    FMemory = nullptr;
  } else {
    void* p = std::realloc(FMemory, static_cast<size_t>(NewCapacity));
    if (!p) throw EStreamError(kMemoryError);
    FMemory = p;
  }
  FCapacity = NewCapacity;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0 || NewSize > kMaxMemoryStream) throw EStreamError(kMemoryError);
  int64_t old = FSize;
  if (NewSize > FCapacity) SetCapacity(NewSize);
  if (NewSize > old) std::memset(static_cast<uint8_t*>(FMemory) + old, 0, static_cast<size_t>(NewSize - old));
  FSize = NewSize;
  if (FPosition > NewSize) FPosition = NewSize;
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (FPosition < 0 || Count <= 0) return 0;
  int64_t end = FPosition + Count;
  if (end > kMaxMemoryStream) throw EStreamError(kMemoryError);
  if (end > FSize) {
    // Growing by half at least keeps a stream written in many small pieces from being copied
    // once per piece (quadratic in its size).
    if (end > FCapacity) SetCapacity(std::max(end, std::min(FCapacity + FCapacity / 2, kMaxMemoryStream)));
    // A seek past the end leaves a gap that must read as zeros.
    if (FPosition > FSize)
      std::memset(static_cast<uint8_t*>(FMemory) + FSize, 0, static_cast<size_t>(FPosition - FSize));
    FSize = end;
  }
  std::memcpy(static_cast<uint8_t*>(FMemory) + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = end;
  return Count;
}

void TMemoryStream::Clear() {
  SetCapacity(0);
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream) {
  Stream->SetPosition(0);
  int64_t n = Stream->GetSize();
  SetSize(n);
  int64_t done = 0;
  while (done < n) {
    auto chunk = static_cast<int32_t>(std::min<int64_t>(n - done, 1 << 30));
    Stream->ReadBuffer(static_cast<uint8_t*>(FMemory) + done, chunk);
    done += chunk;
  }
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&f);
}

// TStringStream ---------------------------------------------------------------------------

int32_t TStringStream::Read(void* Buffer, int32_t Count) {
  if (FPosition < 0 || Count <= 0) return 0;
  int64_t n = std::min<int64_t>(Count, static_cast<int64_t>(FData.size()) - FPosition);
  if (n <= 0) return 0;
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return static_cast<int32_t>(n);
}

int32_t TStringStream::Write(const void* Buffer, int32_t Count) {
  if (FPosition < 0 || Count <= 0) return 0;
  // Same bound as SetSize: a seek far past the end must not ask for terabytes.
  if (FPosition + Count > kMaxMemoryStream) throw EStreamError(kMemoryError);
  auto end = static_cast<size_t>(FPosition + Count);
  if (end > FData.size()) FData.resize(end, '\0');
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = static_cast<int64_t>(end);
  return Count;
}

int64_t TStringStream::Seek(int64_t Offset, uint16_t Origin) {
  switch (Origin) {
    case soFromBeginning: FPosition = Offset; break;
    case soFromCurrent: FPosition += Offset; break;
    case soFromEnd: FPosition = static_cast<int64_t>(FData.size()) + Offset; break;
    default: break;
  }
  return FPosition;
}

void TStringStream::SetSize(int64_t NewSize) {
  if (NewSize < 0 || NewSize > kMaxMemoryStream) throw EStreamError(kMemoryError);
  FData.resize(static_cast<size_t>(NewSize), '\0');
  if (FPosition > NewSize) FPosition = NewSize;
}

// TWriter ---------------------------------------------------------------------------------

namespace {
constexpr const char* kInvalidPropertyValue = "Invalid property value";
constexpr const char* kReadError = "Stream read error";
}  // namespace

void TWriter::WriteValue(TValueType Value) {
  uint8_t b = Value;
  FStream->WriteBuffer(&b, 1);
}

void TWriter::WritePropName(const std::string& Name) {
  if (Name.empty() || Name.size() > 255) throw EFilerError("Invalid property name \"" + Name + "\"");
  uint8_t n = static_cast<uint8_t>(Name.size());
  FStream->WriteBuffer(&n, 1);
  FStream->WriteBuffer(Name.data(), n);
}

void TWriter::DefineProperty(const std::string& Name, const TReaderProc&, const TWriterProc& WriteData,
                             bool HasData) {
  if (!HasData || !WriteData) return;
  WritePropName(Name);
  WriteData(this);
}

void TWriter::DefineBinaryProperty(const std::string& Name, const TStreamProc&, const TStreamProc& WriteData,
                                   bool HasData) {
  if (!HasData || !WriteData) return;
  // The length comes first, so the data is gathered before any of it is written.
  TMemoryStream data;
  WriteData(&data);
  if (data.GetSize() > std::numeric_limits<int32_t>::max()) throw EWriteError("Stream write error");
  WritePropName(Name);
  WriteValue(vaBinary);
  int32_t count = static_cast<int32_t>(data.GetSize());
  FStream->WriteBuffer(&count, 4);
  FStream->WriteBuffer(data.Memory(), count);
}

void TWriter::WriteProperties(TPersistent* Instance) {
  Instance->DefineProperties(this);
  WriteListEnd();
}

void TWriter::WriteInteger(int32_t Value) {
  if (Value >= -128 && Value <= 127) {
    WriteValue(vaInt8);
    int8_t v = static_cast<int8_t>(Value);
    FStream->WriteBuffer(&v, 1);
  } else if (Value >= -32768 && Value <= 32767) {
    WriteValue(vaInt16);
    int16_t v = static_cast<int16_t>(Value);
    FStream->WriteBuffer(&v, 2);
  } else {
    WriteValue(vaInt32);
    FStream->WriteBuffer(&Value, 4);
  }
}

void TWriter::WriteBoolean(bool Value) { WriteValue(Value ? vaTrue : vaFalse); }

void TWriter::WriteString(const std::string& Value) {
  if (Value.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) throw EWriteError("Stream write error");
  if (Value.size() <= 255) {
    WriteValue(vaString);
    uint8_t n = static_cast<uint8_t>(Value.size());
    FStream->WriteBuffer(&n, 1);
  } else {
    WriteValue(vaLString);
    int32_t n = static_cast<int32_t>(Value.size());
    FStream->WriteBuffer(&n, 4);
  }
  FStream->WriteBuffer(Value.data(), static_cast<int32_t>(Value.size()));
}

// TReader ---------------------------------------------------------------------------------

void TReader::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count != 0 && FStream->Read(Buffer, Count) != Count) throw EReadError(kReadError);
}

TValueType TReader::ReadValue() {
  uint8_t b;
  ReadBuffer(&b, 1);
  return static_cast<TValueType>(b);
}

TValueType TReader::NextValue() {
  TValueType v = ReadValue();
  FStream->Seek(-1, soFromCurrent);
  return v;
}

std::string TReader::ReadStr() {
  uint8_t n;
  ReadBuffer(&n, 1);
  std::string s(n, '\0');
  ReadBuffer(s.data(), n);
  return s;
}

void TReader::ReadListEnd() {
  if (ReadValue() != vaNull) throw EReadError(kInvalidPropertyValue);
}

int32_t TReader::ReadInteger() {
  switch (ReadValue()) {
    case vaInt8: {
      int8_t v;
      ReadBuffer(&v, 1);
      return v;
    }
    case vaInt16: {
      int16_t v;
      ReadBuffer(&v, 2);
      return v;
    }
    case vaInt32: {
      int32_t v;
      ReadBuffer(&v, 4);
      return v;
    }
    default: throw EReadError(kInvalidPropertyValue);
  }
}

bool TReader::ReadBoolean() {
  TValueType v = ReadValue();
  if (v != vaTrue && v != vaFalse) throw EReadError(kInvalidPropertyValue);
  return v == vaTrue;
}

std::string TReader::ReadString() {
  TValueType v = ReadValue();
  if (v == vaString) return ReadStr();
  if (v != vaLString) throw EReadError(kInvalidPropertyValue);
  int32_t n;
  ReadBuffer(&n, 4);
  if (n < 0) throw EReadError(kInvalidPropertyValue);
  // The length comes from the stream: check it against what is left before allocating.
  if (n > FStream->GetSize() - FStream->GetPosition()) throw EReadError(kReadError);
  std::string s(static_cast<size_t>(n), '\0');
  ReadBuffer(s.data(), n);
  return s;
}

void TReader::DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc&, bool) {
  if (FPropName.empty() || !ReadData || !SameText(Name, FPropName)) return;
  FPropName.clear();
  ReadData(this);
}

void TReader::DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData, const TStreamProc&, bool) {
  if (FPropName.empty() || !ReadData || !SameText(Name, FPropName)) return;
  FPropName.clear();
  if (ReadValue() != vaBinary) throw EReadError(kInvalidPropertyValue);
  int32_t count;
  ReadBuffer(&count, 4);
  if (count < 0) throw EReadError(kInvalidPropertyValue);
  if (count > FStream->GetSize() - FStream->GetPosition()) throw EReadError(kReadError);
  TMemoryStream data;
  data.SetSize(count);
  ReadBuffer(data.Memory(), count);
  data.SetPosition(0);
  ReadData(&data);
}

void TReader::ReadProperties(TPersistent* Instance) {
  while (!EndOfList()) {
    std::string name = ReadStr();
    try {
      FPropName = name;
      Instance->DefineProperties(this);
      if (!FPropName.empty()) throw EReadError("Property " + name + " does not exist");
    } catch (const Exception& e) {
      FPropName.clear();
      throw EReadError("Error reading " + Instance->ClassName() + "." + name + ": " + e.Message);
    }
  }
  ReadListEnd();
}

// ---- Saving through a temporary file

namespace {

namespace fs = std::filesystem;

// The file a name stands for: symbolic links followed (a dangling one to the file it would
// create), relative targets taken from the link's folder. A loop of links names no file.
fs::path FinalTarget(const std::string& FileName) {
  fs::path p = FileName;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec)) || ec) return p;
    fs::path target = fs::read_symlink(p, ec);
    if (ec) return p;
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  throw EFCreateError("Cannot create file " + FileName);
}

// A new empty file in Folder named after Stem and Ext (cut to fit a name's length), made with
// Mode less the process's umask, as any new file; -1 when none can be made there.
int MakeTemporary(const fs::path& Folder, std::string Stem, const std::string& Ext, mode_t Mode, std::string& Name) {
  const size_t room = 255 - std::min<size_t>(255, Ext.size() + 8);
  if (Stem.size() > room) Stem.resize(room);
  static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<uint32_t> counter{0};
  std::random_device seed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint32_t r = seed() ^ (counter++ * 2654435761u);
    std::string tag(6, 'x');
    for (char& c : tag) {
      c = kDigits[r % 36];
      r /= 36;
    }
    Name = (Folder / ("." + Stem + "." + tag + Ext)).string();
    int fd = ::open(Name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, Mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Puts the bytes of file From into the existing file To, keeping To's inode (and so its other
// names, owner and permissions).
void CopyInto(const std::string& From, const fs::path& To, const std::string& FileName) {
  TFileStream in(From, fmOpenRead);
  int out = ::open(To.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (out < 0) throw EFCreateError("Cannot create file " + FileName);
  std::vector<char> buf(1 << 16);
  bool ok = true;
  for (int32_t n; ok && (n = in.Read(buf.data(), static_cast<int32_t>(buf.size()))) > 0;)
    for (int32_t done = 0; ok && done < n;) {
      ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      ok = w > 0;
      done += ok ? static_cast<int32_t>(w) : 0;
    }
  // Devices and pipes cannot be synchronised (EINVAL): nothing is lost by that.
  if (::fsync(out) != 0 && errno != EINVAL) ok = false;
  ok = ::close(out) == 0 && ok;
  if (!ok) throw EWriteError("Stream write error");
}

}  // namespace

void SaveFileSafely(const std::string& FileName,
                    const std::function<void(const std::string& TempName, TStream* Stream)>& Write) {
  const fs::path target = FinalTarget(FileName);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const std::string ext = target.extension().string();
  struct stat st;
  const bool present = ::stat(target.c_str(), &st) == 0;
  if (present && S_ISDIR(st.st_mode)) throw EFCreateError("Cannot create file " + FileName);
  const bool existed = present && S_ISREG(st.st_mode);
  // Renaming over a file needs no right to the file itself: a read-only one is refused here as
  // opening it for writing would be.
  if (present && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
    throw EFCreateError("Cannot create file " + FileName);
  // A file with other names keeps its inode so that they all show the new picture; so does a
  // file in a folder where no temporary can be made, and a device or pipe is written to, never
  // replaced: the picture is then made in the system's temporary folder and copied in once it
  // is complete.
  bool inPlace = present && (!existed || st.st_nlink > 1);
  std::string temp;
  int fd = present && !existed ? -1 : MakeTemporary(folder, target.stem().string(), ext, 0666, temp);
  if (fd < 0 && present) {
    std::error_code ec;
    fd = MakeTemporary(fs::temp_directory_path(ec), "picture", ext, 0600, temp);
    inPlace = true;
  }
  if (fd < 0) throw EFCreateError("Cannot create file " + FileName);
  try {
    THandleStream stream(fd);
    Write(temp, &stream);
    if (!inPlace) {
      // The new file looks like the one it replaces, or like a newly created file. Where the
      // saver cannot give it the old owner and group (only the owner or the administrator may),
      // the old file is written in place instead, so that nobody loses access to it.
      if (existed) ::fchmod(fd, st.st_mode & 07777);
      if (existed && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) && ::fchown(fd, st.st_uid, st.st_gid) != 0)
        inPlace = true;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
      fd = -1;
      throw EWriteError("Stream write error");
    }
    fd = -1;
    if (inPlace) {
      CopyInto(temp, target, FileName);
      ::unlink(temp.c_str());
    } else if (::rename(temp.c_str(), target.c_str()) != 0) {
      throw EFCreateError("Cannot create file " + FileName);
    }
  } catch (...) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
}

}  // namespace platform
