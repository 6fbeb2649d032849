// What the DirectShow components share: the result-code check and its exception, graph
// registration in the running object table (so external graph editors can find the graph),
// the streamed media-type wrapper, media-type copy and release, the DVD time-code split and
// the linear-to-decibel conversions of volume and balance.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Classes.h"
#include "platform/DirectShow.h"

namespace media {

using platform::HRESULT;

class EDirectShowException : public platform::Exception {
 public:
  EDirectShowException(std::string Message, HRESULT Code)
      : platform::Exception(std::move(Message)), ErrorCode(Code) {}
  HRESULT ErrorCode;
};

// The class library's assertion exception, message "<text> (<unit>, line <n>)".
class EAssertionFailed : public platform::Exception {
 public:
  using platform::Exception::Exception;
};
[[noreturn]] void AssertionFailure(const std::string& Text, const char* Unit, int Line);

// Returns a success code unchanged; a failure raises EDirectShowException with the code's
// text ("Unknown error" for a code without one) followed by " ($80004005)." and the code in
// ErrorCode.
HRESULT CheckDSError(HRESULT Code);
// The runtime's text for Code (empty when it has none).
std::string GetErrorString(HRESULT Code);

// Registers Graph as "FilterGraph <pointer> pid <process id>" (both hexadecimal); ID gets the
// cookie. The first failing step's code is returned.
HRESULT AddGraphToRot(platform::IUnknown* Graph, uint32_t& ID);
HRESULT RemoveGraphFromRot(uint32_t ID);

// Dest gets a deep copy of Src (its own format block, one more reference to pUnk). Dest and
// Src must differ, and a format size needs a block.
void CopyMediaType(platform::AM_MEDIA_TYPE* Dest, const platform::AM_MEDIA_TYPE* Src);
// Frees the format block and releases pUnk; the record itself stays.
void FreeMediaType(platform::AM_MEDIA_TYPE& MediaType);

// Value clamped to Min..Max; Min > Max is an assertion failure.
int32_t EnsureRange(int32_t Value, int32_t Min, int32_t Max);
// 0..10000 to hundredths of a decibel: Round(ln(v + 1) * 1085.73) - 10000, so 10000 -> 0 and
// 0 -> -10000. Values outside the range are clamped first.
int32_t LinearVolumeToDB(int32_t Volume);
// -10000..10000 to hundredths of a decibel: m = Round(ln(|b| + 1) * 1085.73), -m for b >= 0,
// +m for b < 0.
int32_t LinearBalanceToDB(int32_t Balance);

// A DVD time code split into its nine fields, taken from the most significant bits down.
struct TDVDTimeCode {
  uint8_t Hours1 = 0;
  uint8_t Hours10 = 0;
  uint8_t Minutes1 = 0;
  uint8_t Minutes10 = 0;
  uint8_t Seconds1 = 0;
  uint8_t Seconds10 = 0;
  uint8_t Frames1 = 0;
  uint8_t Frames10 = 0;  // 2 bits
  uint8_t FrameRateCode = 0;  // 2 bits: 1 is 25 frames a second, 3 is 30
};
TDVDTimeCode SplitDVDTimeCode(uint32_t Value);

// An owned AM_MEDIA_TYPE, streamed in form resources as the binary property "data": the 72
// bytes of the record (little-endian, pointer fields written as 0) followed by cbFormat bytes
// of the format block.
class TMediaType : public platform::TPersistent {
 public:
  explicit TMediaType(const platform::GUID& MajorType = platform::GUID_NULL);
  ~TMediaType() override;
  TMediaType(const TMediaType&) = delete;
  TMediaType& operator=(const TMediaType&) = delete;

  platform::AM_MEDIA_TYPE* AMMediaType() { return &FMediaType; }
  const platform::AM_MEDIA_TYPE* AMMediaType() const { return &FMediaType; }
  const platform::GUID& MajorType() const { return FMediaType.majortype; }
  const platform::GUID& SubType() const { return FMediaType.subtype; }
  const platform::GUID& FormatType() const { return FMediaType.formattype; }
  void SetSubType(const platform::GUID& Value) { FMediaType.subtype = Value; }
  void SetFormatType(const platform::GUID& Value) { FMediaType.formattype = Value; }

  void Assign(const platform::TPersistent* Source) override;
  // Same major, sub and format types and the same format block.
  bool IsEqual(const TMediaType& Other) const;

  // "data" is stored unless Ancestor is a media type equal to this one.
  bool DataStored(const platform::TPersistent* Ancestor) const;
  // Replaces the contents with a stored record; raises EReadError "Stream read error" when
  // the stream ends early or announces a format block longer than what is left of it, and
  // then leaves the contents unchanged.
  void ReadData(platform::TStream& Stream);
  void WriteData(platform::TStream& Stream) const;

 protected:
  // The binary property "data" (ReadData, WriteData), left out when DataStored says so.
  void DefineProperties(platform::TFiler* Filer) override;

 private:
  platform::AM_MEDIA_TYPE FMediaType;
};

}  // namespace media
