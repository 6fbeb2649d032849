// The class library's persistent base and its stream classes. Positions and sizes are 64-bit
// everywhere; Read and Write move at most 2^31 - 1 bytes per call (a 32-bit count).
// The document engine's 64-bit stream family (TStream64) derives from TStream, so every stream
// of the program belongs to this one hierarchy.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Types.h"

namespace platform {

class TFiler;
class TReader;
class TWriter;
class TStream;

class TPersistent : public TObject {
 public:
  // Copies Source into this object; the default asks Source to AssignTo this object and
  // raises EConvertError "Cannot assign a %s to a %s" when neither knows how.
  virtual void Assign(const TPersistent* Source);

 protected:
  friend class TReader;
  friend class TWriter;
  virtual void AssignTo(TPersistent* Dest) const;
  // Names the properties that a filer stores beside the published ones (DefineProperty,
  // DefineBinaryProperty). The default defines none.
  virtual void DefineProperties(TFiler* Filer);
};

// Seek origins.
constexpr uint16_t soFromBeginning = 0;
constexpr uint16_t soFromCurrent = 1;
constexpr uint16_t soFromEnd = 2;

// File open modes: access in the low bits, sharing above; fmCreate creates or truncates.
constexpr uint16_t fmCreate = 0xFFFF;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;

class TStream : public TObject {
 public:
  // Return the number of bytes done; never raise for a short transfer.
  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
  virtual int64_t Seek(int64_t Offset, uint16_t Origin) = 0;
  virtual void SetSize(int64_t NewSize);

  int64_t GetPosition() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, soFromBeginning); }
  // Leaves the position where it was.
  int64_t GetSize();
  int64_t Position() { return GetPosition(); }
  int64_t Size() { return GetSize(); }

  // Raise EReadError "Stream read error" / EWriteError "Stream write error" on a short transfer.
  void ReadBuffer(void* Buffer, int32_t Count);
  void WriteBuffer(const void* Buffer, int32_t Count);
  // Copies Count bytes from Source's position; Count 0 copies all of Source from its start.
  int64_t CopyFrom(TStream* Source, int64_t Count);
};

// A stream over an operating-system file descriptor it does not own.
class THandleStream : public TStream {
 public:
  explicit THandleStream(int AHandle) : FHandle(AHandle) {}
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  // Raises EOSError when the file cannot be resized.
  void SetSize(int64_t NewSize) override;
  int Handle() const { return FHandle; }

 protected:
  int FHandle;
};

// Opens (or with fmCreate creates) a file by name and owns its descriptor. Failures raise
// EFCreateError "Cannot create file %s" or EFOpenError "Cannot open file %s".
class TFileStream : public THandleStream {
 public:
  TFileStream(const std::string& FileName, uint16_t Mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
};

// Opens a file descriptor with the class library's mode word; -1 on failure.
int FileOpen(const std::string& FileName, uint16_t Mode);
int FileCreate(const std::string& FileName);

// Writes a file so that a failure leaves whatever was there before: Write fills a temporary
// file in the target's folder (TempName keeps the target's extension; Stream writes to it), and
// only when it returns is the file renamed over the target. A target that is a symbolic link is
// followed, so the link stays and the file it points to is replaced. The new file takes the
// permission bits of the file it replaces, or those a newly created file would get. A temporary
// file that cannot be made raises EFCreateError "Cannot create file %s".
void SaveFileSafely(const std::string& FileName,
                    const std::function<void(const std::string& TempName, TStream* Stream)>& Write);

// A stream over a memory block that it does not own.
class TCustomMemoryStream : public TStream {
 public:
  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  int32_t Write(const void*, int32_t) override { return 0; }
  void* Memory() const { return FMemory; }
  void SaveToStream(TStream* Stream);
  // Through SaveFileSafely: a failed write leaves the file that was there.
  void SaveToFile(const std::string& FileName);

 protected:
  void SetPointer(void* Ptr, int64_t Size) {
    FMemory = Ptr;
    FSize = Size;
  }
  void* FMemory = nullptr;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

// A growable memory stream; capacity grows in steps of 8192 bytes, a gap left by seeking
// past the end reads as zeros. Growth past 2^31 - 1 bytes raises EStreamError
// "Out of memory while expanding memory stream".
class TMemoryStream : public TCustomMemoryStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  int32_t Write(const void* Buffer, int32_t Count) override;
  void SetSize(int64_t NewSize) override;
  void Clear();
  void LoadFromStream(TStream* Stream);
  void LoadFromFile(const std::string& FileName);
  int64_t Capacity() const { return FCapacity; }

 private:
  void SetCapacity(int64_t NewCapacity);
  int64_t FCapacity = 0;
};

// A stream over a string of bytes.
class TStringStream : public TStream {
 public:
  explicit TStringStream(std::string Data = std::string()) : FData(std::move(Data)) {}
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  void SetSize(int64_t NewSize) override;
  const std::string& DataString() const { return FData; }

 private:
  std::string FData;
  int64_t FPosition = 0;
};

// ---- Filer: a persistent's defined properties in the class library's binary form ----
//
// A property list is a sequence of (name as a short string, value) pairs closed by a zero
// byte. Values begin with their type byte (TValueType); a binary property is vaBinary, a 32-bit
// little-endian length and that many bytes.
enum TValueType : uint8_t {
  vaNull, vaList, vaInt8, vaInt16, vaInt32, vaExtended, vaString, vaIdent, vaFalse, vaTrue,
  vaBinary, vaSet, vaLString, vaNil, vaCollection, vaSingle, vaCurrency, vaDate, vaWString,
  vaInt64, vaUTF8String
};

using TReaderProc = std::function<void(TReader* Reader)>;
using TWriterProc = std::function<void(TWriter* Writer)>;
using TStreamProc = std::function<void(TStream* Stream)>;

class TFiler : public TObject {
 public:
  explicit TFiler(TStream* Stream) : FStream(Stream) {}
  // A reader reads the property named in the stream with ReadData when Name is it; a writer
  // writes the property with WriteData when HasData says it differs from the ancestor.
  virtual void DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                              bool HasData) = 0;
  virtual void DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData,
                                    const TStreamProc& WriteData, bool HasData) = 0;
  // The object the one being written inherits from (the same property in a form's ancestor);
  // properties equal to the ancestor's are left out. Null when there is none.
  TPersistent* Ancestor() const { return FAncestor; }
  void SetAncestor(TPersistent* Value) { FAncestor = Value; }
  TStream* Stream() const { return FStream; }

 protected:
  TStream* FStream;
  TPersistent* FAncestor = nullptr;
};

class TWriter : public TFiler {
 public:
  using TFiler::TFiler;
  std::string ClassName() const override { return "TWriter"; }
  void DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                      bool HasData) override;
  void DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData, const TStreamProc& WriteData,
                            bool HasData) override;
  // The defined properties of Instance, then the closing zero byte.
  void WriteProperties(TPersistent* Instance);
  void WriteInteger(int32_t Value);
  void WriteBoolean(bool Value);
  void WriteString(const std::string& Value);
  void WriteListEnd() { WriteValue(vaNull); }

 private:
  void WriteValue(TValueType Value);
  void WritePropName(const std::string& Name);
};

class TReader : public TFiler {
 public:
  using TFiler::TFiler;
  std::string ClassName() const override { return "TReader"; }
  void DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                      bool HasData) override;
  void DefineBinaryProperty(const std::string& Name, const TStreamProc& ReadData, const TStreamProc& WriteData,
                            bool HasData) override;
  // Reads a property list written by TWriter::WriteProperties into Instance. A name Instance
  // does not define raises EReadError "Property %s does not exist"; any failure while a
  // property is read (a truncated stream among them) is raised as EReadError
  // "Error reading %s.%s: %s" with the class name, the property name and the cause.
  void ReadProperties(TPersistent* Instance);
  // The type of the next value, without consuming it.
  TValueType NextValue();
  bool EndOfList() { return NextValue() == vaNull; }
  void ReadListEnd();
  int32_t ReadInteger();
  bool ReadBoolean();
  std::string ReadString();

 private:
  TValueType ReadValue();
  std::string ReadStr();
  void ReadBuffer(void* Buffer, int32_t Count);
  std::string FPropName;
};

}  // namespace platform
