#include "media/DSHelpers.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/Rounding.h"
#include "platform/SysUtils.h"
#include "platform/TextCodec.h"

namespace media {

using namespace platform;

namespace {

constexpr const char* kUnit = "DSHelpers";

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void PutGUID(uint8_t* p, const GUID& g) {
  PutU32(p, g.Data1);
  p[4] = static_cast<uint8_t>(g.Data2);
  p[5] = static_cast<uint8_t>(g.Data2 >> 8);
  p[6] = static_cast<uint8_t>(g.Data3);
  p[7] = static_cast<uint8_t>(g.Data3 >> 8);
  std::memcpy(p + 8, g.Data4, 8);
}
GUID GetGUID(const uint8_t* p) {
  GUID g;
  g.Data1 = GetU32(p);
  g.Data2 = static_cast<uint16_t>(p[4] | p[5] << 8);
  g.Data3 = static_cast<uint16_t>(p[6] | p[7] << 8);
  std::memcpy(g.Data4, p + 8, 8);
  return g;
}

// Both conversions use the same curve: 1085.73 * ln(10001) is just over 10000.
int32_t DecibelMagnitude(int32_t Linear) {
  return static_cast<int32_t>(Round(std::log(static_cast<long double>(Linear) + 1) * 1085.73L));
}

}  // namespace

void AssertionFailure(const std::string& Text, const char* Unit, int Line) {
  throw EAssertionFailed(Text + " (" + Unit + ", line " + IntToStr(Line) + ")");
}

HRESULT CheckDSError(HRESULT Code) {
  if (Failed(Code)) {
    std::string text = GetErrorString(Code);
    if (text.empty()) text = "Unknown error";
    throw EDirectShowException(text + " ($" + IntToHex(static_cast<uint32_t>(Code), 1) + ").",
                               Code);
  }
  return Code;
}

std::string GetErrorString(HRESULT Code) {
  char buffer[256];
  DWORD n = AMGetErrorTextA(Code, buffer, 255);
  return std::string(buffer, std::strlen(buffer) < n ? std::strlen(buffer) : n);
}

HRESULT AddGraphToRot(IUnknown* Graph, uint32_t& ID) {
  ComPtr<IRunningObjectTable> rot;
  HRESULT hr = GetRunningObjectTable(0, rot.Put());
  if (Failed(hr)) return hr;
  char name[64];
  std::snprintf(name, sizeof name, "FilterGraph %0*llX pid %X", int(sizeof(void*) * 2),
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(Graph)),
                static_cast<unsigned>(GetCurrentProcessId()));
  ComPtr<IMoniker> moniker;
  hr = CreateItemMoniker(u"!", Utf8ToUtf16(name).c_str(), moniker.Put());
  if (Failed(hr)) return hr;
  DWORD cookie = 0;
  hr = rot->Register(0, Graph, moniker.Get(), &cookie);
  ID = cookie;
  return hr;
}

HRESULT RemoveGraphFromRot(uint32_t ID) {
  ComPtr<IRunningObjectTable> rot;
  HRESULT hr = GetRunningObjectTable(0, rot.Put());
  if (Failed(hr)) return hr;
  return rot->Revoke(ID);
}

void CopyMediaType(AM_MEDIA_TYPE* Dest, const AM_MEDIA_TYPE* Src) {
  if (!Dest || !Src || Dest == Src) AssertionFailure("Assertion failure", kUnit, __LINE__);
  if (Src->cbFormat != 0 && !Src->pbFormat)
    AssertionFailure("Assertion failure", kUnit, __LINE__);
  *Dest = *Src;
  if (Src->cbFormat != 0) {
    Dest->pbFormat = static_cast<uint8_t*>(CoTaskMemAlloc(Src->cbFormat));
    if (Dest->pbFormat) std::memcpy(Dest->pbFormat, Src->pbFormat, Src->cbFormat);
    else Dest->cbFormat = 0;
  }
  if (Dest->pUnk) Dest->pUnk->AddRef();
}

void FreeMediaType(AM_MEDIA_TYPE& MediaType) {
  if (MediaType.cbFormat != 0) {
    CoTaskMemFree(MediaType.pbFormat);
    MediaType.cbFormat = 0;
    MediaType.pbFormat = nullptr;
  }
  if (MediaType.pUnk) {
    MediaType.pUnk->Release();
    MediaType.pUnk = nullptr;
  }
}

int32_t EnsureRange(int32_t Value, int32_t Min, int32_t Max) {
  if (Min > Max) AssertionFailure("Assertion failure", kUnit, __LINE__);
  return Value < Min ? Min : (Value > Max ? Max : Value);
}

int32_t LinearVolumeToDB(int32_t Volume) {
  return DecibelMagnitude(EnsureRange(Volume, 0, 10000)) - 10000;
}

int32_t LinearBalanceToDB(int32_t Balance) {
  const int32_t b = EnsureRange(Balance, -10000, 10000);
  const int32_t m = DecibelMagnitude(b < 0 ? -b : b);
  return b >= 0 ? -m : m;
}

TDVDTimeCode SplitDVDTimeCode(uint32_t Value) {
  TDVDTimeCode t;
  t.Hours1 = static_cast<uint8_t>(Value >> 28 & 0xF);
  t.Hours10 = static_cast<uint8_t>(Value >> 24 & 0xF);
  t.Minutes1 = static_cast<uint8_t>(Value >> 20 & 0xF);
  t.Minutes10 = static_cast<uint8_t>(Value >> 16 & 0xF);
  t.Seconds1 = static_cast<uint8_t>(Value >> 12 & 0xF);
  t.Seconds10 = static_cast<uint8_t>(Value >> 8 & 0xF);
  t.Frames1 = static_cast<uint8_t>(Value >> 4 & 0xF);
  t.Frames10 = static_cast<uint8_t>(Value >> 2 & 0x3);
  t.FrameRateCode = static_cast<uint8_t>(Value & 0x3);
  return t;
}

// ---- TMediaType ------------------------------------------------------------------------

TMediaType::TMediaType(const GUID& MajorType) {
  FMediaType.bFixedSizeSamples = -1;
  FMediaType.lSampleSize = 1;
  FMediaType.majortype = MajorType;
}

TMediaType::~TMediaType() { FreeMediaType(FMediaType); }

void TMediaType::Assign(const TPersistent* Source) {
  if (auto* src = dynamic_cast<const TMediaType*>(Source)) {
    if (src == this) return;
    FreeMediaType(FMediaType);
    CopyMediaType(&FMediaType, &src->FMediaType);
    return;
  }
  TPersistent::Assign(Source);
}

bool TMediaType::IsEqual(const TMediaType& Other) const {
  const AM_MEDIA_TYPE& a = FMediaType;
  const AM_MEDIA_TYPE& b = Other.FMediaType;
  if (!(a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype))
    return false;
  if (a.cbFormat != b.cbFormat) return false;
  return a.cbFormat == 0 || std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

bool TMediaType::DataStored(const TPersistent* Ancestor) const {
  auto* ancestor = dynamic_cast<const TMediaType*>(Ancestor);
  return !(ancestor && ancestor->IsEqual(*this));
}

void TMediaType::DefineProperties(TFiler* Filer) {
  Filer->DefineBinaryProperty(
      "data", [this](TStream* S) { ReadData(*S); }, [this](TStream* S) { WriteData(*S); },
      DataStored(Filer->Ancestor()));
}

void TMediaType::ReadData(TStream& Stream) {
  uint8_t raw[AM_MEDIA_TYPE_SIZE];
  Stream.ReadBuffer(raw, AM_MEDIA_TYPE_SIZE);
  AM_MEDIA_TYPE mt;
  mt.majortype = GetGUID(raw);
  mt.subtype = GetGUID(raw + 16);
  mt.bFixedSizeSamples = static_cast<int32_t>(GetU32(raw + 32));
  mt.bTemporalCompression = static_cast<int32_t>(GetU32(raw + 36));
  mt.lSampleSize = GetU32(raw + 40);
  mt.formattype = GetGUID(raw + 44);
  // The stored pointers (60 and 68) meant something only in the process that wrote them.
  mt.cbFormat = GetU32(raw + 64);
  if (mt.cbFormat != 0) {
    // Check the announced size against the stream before allocating anything.
    const int64_t left = Stream.Size() - Stream.Position();
    if (mt.cbFormat > static_cast<uint64_t>(left > 0 ? left : 0) || mt.cbFormat > INT32_MAX)
      throw EReadError("Stream read error");
    mt.pbFormat = static_cast<uint8_t*>(CoTaskMemAlloc(mt.cbFormat));
    if (!mt.pbFormat) throw EOutOfMemory("Out of memory");
    try {
      Stream.ReadBuffer(mt.pbFormat, static_cast<int32_t>(mt.cbFormat));
    } catch (...) {
      CoTaskMemFree(mt.pbFormat);
      throw;
    }
  }
  FreeMediaType(FMediaType);
  FMediaType = mt;
}

void TMediaType::WriteData(TStream& Stream) const {
  uint8_t raw[AM_MEDIA_TYPE_SIZE] = {};
  PutGUID(raw, FMediaType.majortype);
  PutGUID(raw + 16, FMediaType.subtype);
  PutU32(raw + 32, static_cast<uint32_t>(FMediaType.bFixedSizeSamples));
  PutU32(raw + 36, static_cast<uint32_t>(FMediaType.bTemporalCompression));
  PutU32(raw + 40, FMediaType.lSampleSize);
  PutGUID(raw + 44, FMediaType.formattype);
  PutU32(raw + 64, FMediaType.cbFormat);
  Stream.WriteBuffer(raw, AM_MEDIA_TYPE_SIZE);
  if (FMediaType.cbFormat != 0)
    Stream.WriteBuffer(FMediaType.pbFormat, static_cast<int32_t>(FMediaType.cbFormat));
}

}  // namespace media
