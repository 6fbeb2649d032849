// Result-code check, running-object-table registration, media-type streaming and copying,
// the decibel conversions and the DVD time-code split.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "media/DSHelpers.h"
#include "platform/TextCodec.h"

using namespace platform;
using namespace media;

namespace {

// Counts references without ever deleting itself.
class CountedUnknown : public IUnknown {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (iid == IUnknown::IID) {
      *obj = this;
      AddRef();
      return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  ULONG Refs = 1;
};

std::vector<uint8_t> Bytes(TMemoryStream& s) {
  const auto* p = static_cast<const uint8_t*>(s.Memory());
  return std::vector<uint8_t>(p, p + s.Size());
}

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  ASSERT_LE(at + 4, b.size());
  const uint8_t le[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                         static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  std::memcpy(b.data() + at, le, 4);
}

}  // namespace

TEST(CheckDSError, SuccessCodesPassThrough) {
  EXPECT_EQ(CheckDSError(S_OK), S_OK);
  EXPECT_EQ(CheckDSError(S_FALSE), 1);
  EXPECT_EQ(CheckDSError(VFW_S_DUPLICATE_NAME), VFW_S_DUPLICATE_NAME);
}

TEST(CheckDSError, FailuresRaiseWithTextAndCode) {
  struct Case {
    HRESULT Code;
    const char* Message;
  } cases[] = {
      {E_FAIL, "Unspecified error ($80004005)."},
      {E_NOINTERFACE, "No such interface supported ($80004002)."},
      {VFW_E_NOT_FOUND, "An object or name was not found ($80040216)."},
      {REGDB_E_CLASSNOTREG, "Class not registered ($80040154)."},
      {HResult(0x8004FFFF), "Unknown error ($8004FFFF)."},
  };
  for (const Case& c : cases) {
    try {
      CheckDSError(c.Code);
      ADD_FAILURE() << "no exception for " << c.Message;
    } catch (const EDirectShowException& e) {
      EXPECT_EQ(e.ErrorCode, c.Code);
      EXPECT_EQ(e.Message, c.Message);
    }
  }
}

TEST(GetErrorString, TableTextsAndUnknownCodes) {
  EXPECT_EQ(GetErrorString(E_INVALIDARG), "The parameter is incorrect");
  EXPECT_EQ(GetErrorString(HResult(0x80041234)), "");
  char small[8];
  EXPECT_EQ(AMGetErrorTextA(E_FAIL, small, sizeof small), 7u);
  EXPECT_STREQ(small, "Unspeci");
}

TEST(EnsureRange, ClampsAndAssertsOnEmptyRange) {
  EXPECT_EQ(EnsureRange(-5, 0, 10000), 0);
  EXPECT_EQ(EnsureRange(12000, 0, 10000), 10000);
  EXPECT_EQ(EnsureRange(7, 0, 10000), 7);
  EXPECT_EQ(EnsureRange(INT32_MIN, -10000, 10000), -10000);
  EXPECT_EQ(EnsureRange(3, 3, 3), 3);
  try {
    EnsureRange(0, 1, 0);
    ADD_FAILURE();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message.rfind("Assertion failure (DSHelpers, line ", 0), 0u) << e.Message;
  }
}

TEST(Decibels, VolumeCurve) {
  // Round(ln(v + 1) * 1085.73) - 10000, computed independently.
  const int32_t expected[][2] = {{0, -10000}, {1, -9247},  {2, -8807},    {9, -7500},
                                 {10, -7397}, {100, -4989}, {1000, -2499}, {5000, -752},
                                 {9999, 0},   {10000, 0}};
  for (auto& e : expected) EXPECT_EQ(LinearVolumeToDB(e[0]), e[1]) << e[0];
  EXPECT_EQ(LinearVolumeToDB(-1), -10000);
  EXPECT_EQ(LinearVolumeToDB(20000), 0);
}

TEST(Decibels, BalanceIsSymmetricWithSignFlipped) {
  EXPECT_EQ(LinearBalanceToDB(0), 0);
  EXPECT_EQ(LinearBalanceToDB(10000), -10000);
  EXPECT_EQ(LinearBalanceToDB(-10000), 10000);
  EXPECT_EQ(LinearBalanceToDB(1), -753);
  EXPECT_EQ(LinearBalanceToDB(-1), 753);
  EXPECT_EQ(LinearBalanceToDB(5000), -9248);
  EXPECT_EQ(LinearBalanceToDB(-5000), 9248);
  EXPECT_EQ(LinearBalanceToDB(INT32_MIN), 10000);
  EXPECT_EQ(LinearBalanceToDB(INT32_MAX), -10000);
}

TEST(DVDTimeCode, SplitsFromTheTopBitsDown) {
  TDVDTimeCode t = SplitDVDTimeCode(0x12345678);
  EXPECT_EQ(t.Hours1, 1);
  EXPECT_EQ(t.Hours10, 2);
  EXPECT_EQ(t.Minutes1, 3);
  EXPECT_EQ(t.Minutes10, 4);
  EXPECT_EQ(t.Seconds1, 5);
  EXPECT_EQ(t.Seconds10, 6);
  EXPECT_EQ(t.Frames1, 7);
  EXPECT_EQ(t.Frames10, 2);
  EXPECT_EQ(t.FrameRateCode, 0);
  t = SplitDVDTimeCode(0xFFFFFFFF);
  EXPECT_EQ(t.Hours1, 15);
  EXPECT_EQ(t.Frames10, 3);
  EXPECT_EQ(t.FrameRateCode, 3);
}

TEST(RunningObjectTable, RegistersUnderTheGraphName) {
  CountedUnknown graph;
  uint32_t cookie = 0;
  ASSERT_EQ(AddGraphToRot(&graph, cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(graph.Refs, 2u);  // the table holds the graph

  char name[80];
  std::snprintf(name, sizeof name, "!FilterGraph %0*llX pid %X", int(sizeof(void*) * 2),
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&graph)),
                static_cast<unsigned>(getpid()));
  ComPtr<IRunningObjectTable> rot;
  ASSERT_EQ(GetRunningObjectTable(0, rot.Put()), S_OK);
  ComPtr<IMoniker> moniker;
  ASSERT_EQ(CreateItemMoniker(u"", Utf8ToUtf16(name).c_str(), moniker.Put()), S_OK);
  EXPECT_EQ(rot->IsRunning(moniker.Get()), S_OK);
  ComPtr<IUnknown> found;
  ASSERT_EQ(rot->GetObject(moniker.Get(), found.Put()), S_OK);
  EXPECT_EQ(found.Get(), &graph);
  found = nullptr;

  EXPECT_EQ(RemoveGraphFromRot(cookie), S_OK);
  EXPECT_EQ(graph.Refs, 1u);
  EXPECT_EQ(rot->IsRunning(moniker.Get()), S_FALSE);
  EXPECT_EQ(RemoveGraphFromRot(cookie), E_INVALIDARG);
}

TEST(MediaTypeRecord, CopyAndFree) {
  CountedUnknown unk;
  uint8_t block[5] = {1, 2, 3, 4, 5};
  AM_MEDIA_TYPE src;
  src.majortype = MEDIATYPE_Video;
  src.cbFormat = sizeof block;
  src.pbFormat = block;
  src.pUnk = &unk;
  AM_MEDIA_TYPE dst;
  CopyMediaType(&dst, &src);
  EXPECT_EQ(dst.majortype, MEDIATYPE_Video);
  ASSERT_NE(dst.pbFormat, block);
  EXPECT_EQ(std::memcmp(dst.pbFormat, block, sizeof block), 0);
  EXPECT_EQ(unk.Refs, 2u);
  FreeMediaType(dst);
  EXPECT_EQ(dst.cbFormat, 0u);
  EXPECT_EQ(dst.pbFormat, nullptr);
  EXPECT_EQ(dst.pUnk, nullptr);
  EXPECT_EQ(unk.Refs, 1u);

  EXPECT_THROW(CopyMediaType(&src, &src), EAssertionFailed);
  src.pbFormat = nullptr;
  EXPECT_THROW(CopyMediaType(&dst, &src), EAssertionFailed);
}

TEST(TMediaType, DefaultsAndTheStoredFormOfTheMainForm) {
  TMediaType mt(MEDIATYPE_Video);
  EXPECT_EQ(mt.AMMediaType()->bFixedSizeSamples, -1);
  EXPECT_EQ(mt.AMMediaType()->bTemporalCompression, 0);
  EXPECT_EQ(mt.AMMediaType()->lSampleSize, 1u);
  mt.SetSubType(MEDIASUBTYPE_RGB32);
  mt.SetFormatType(FORMAT_VideoInfo);

  TMemoryStream s;
  mt.WriteData(s);
  // Written out by hand from the three GUIDs.
  const std::vector<uint8_t> expected = {
      0x76, 0x69, 0x64, 0x73, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38,
      0x9B, 0x71,  // MEDIATYPE_Video
      0x7E, 0xEB, 0x36, 0xE4, 0x4F, 0x52, 0xCE, 0x11, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B,
      0xA7, 0x70,  // MEDIASUBTYPE_RGB32
      0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
      0x80, 0x9F, 0x58, 0x05, 0x56, 0xC3, 0xCE, 0x11, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55,
      0x59, 0x5A,  // FORMAT_VideoInfo
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(s), expected);

  TMediaType back;
  s.SetPosition(0);
  back.ReadData(s);
  EXPECT_TRUE(back.IsEqual(mt));
  EXPECT_EQ(back.AMMediaType()->bFixedSizeSamples, -1);
  EXPECT_EQ(back.AMMediaType()->lSampleSize, 1u);
}

TEST(TMediaType, RoundTripWithFormatBlock) {
  TMediaType mt(MEDIATYPE_Video);
  mt.SetSubType(MEDIASUBTYPE_RGB24);
  mt.SetFormatType(FORMAT_VideoInfo);
  AM_MEDIA_TYPE* r = mt.AMMediaType();
  r->cbFormat = 88;
  r->pbFormat = static_cast<uint8_t*>(CoTaskMemAlloc(88));
  for (int i = 0; i < 88; ++i) r->pbFormat[i] = static_cast<uint8_t>(i * 7);
  r->bTemporalCompression = -1;
  r->lSampleSize = 230400;

  TMemoryStream s;
  mt.WriteData(s);
  ASSERT_EQ(s.Size(), 72 + 88);
  s.SetPosition(0);
  TMediaType back;
  back.ReadData(s);
  EXPECT_EQ(s.Position(), 72 + 88);
  EXPECT_TRUE(back.IsEqual(mt));
  EXPECT_NE(back.AMMediaType()->pbFormat, r->pbFormat);
  EXPECT_EQ(back.AMMediaType()->bTemporalCompression, -1);
  EXPECT_EQ(back.AMMediaType()->lSampleSize, 230400u);

  // A differing format byte makes them unequal, and so worth storing against each other.
  back.AMMediaType()->pbFormat[87] ^= 1;
  EXPECT_FALSE(back.IsEqual(mt));
  EXPECT_TRUE(back.DataStored(&mt));
  back.AMMediaType()->pbFormat[87] ^= 1;
  EXPECT_FALSE(back.DataStored(&mt));
  EXPECT_TRUE(back.DataStored(nullptr));
}

// "data" holds the record unless the ancestor is equal, reads back, and a cut one leaves the value.
TEST(TMediaType, FilerStoresTheDataProperty) {
  TMediaType mt(MEDIATYPE_Video);
  mt.SetSubType(MEDIASUBTYPE_RGB32);
  mt.AMMediaType()->cbFormat = 5;
  mt.AMMediaType()->pbFormat = static_cast<uint8_t*>(CoTaskMemAlloc(5));
  std::memcpy(mt.AMMediaType()->pbFormat, "\x01\x02\x03\x04\x05", 5);
  auto Write = [&mt](TPersistent* Ancestor) {
    TMemoryStream s;
    TWriter w(&s);
    w.SetAncestor(Ancestor);
    w.WriteProperties(&mt);
    return Bytes(s);
  };
  TMemoryStream record;
  mt.WriteData(record);
  // Name "data", vaBinary (10), the length, the record and its block, the list end.
  std::vector<uint8_t> expected = {4, 'd', 'a', 't', 'a', 10, 72 + 5, 0, 0, 0}, cut;
  const std::vector<uint8_t> body = Bytes(record);
  expected.insert(expected.end(), body.begin(), body.end());
  expected.push_back(0);
  EXPECT_EQ(Write(nullptr), expected);
  class NotAMediaType : public TPersistent {} stranger;
  EXPECT_EQ(Write(&stranger), expected);
  TMediaType same;
  same.Assign(&mt);
  EXPECT_EQ(Write(&same), std::vector<uint8_t>{0});  // equal to the ancestor: only the list end
  same.AMMediaType()->pbFormat[4] = 9;
  EXPECT_EQ(Write(&same), expected);
  cut.assign(expected.begin(), expected.begin() + 10 + 40);
  cut[6] = 40;
  cut.push_back(0);
  TMediaType back;
  std::vector<uint8_t> nothing = {0};  // nothing stored: the value stays
  for (const std::vector<uint8_t>* b : {&expected, &nothing, &cut}) {
    TMemoryStream s;
    s.WriteBuffer(b->data(), static_cast<int32_t>(b->size()));
    s.SetPosition(0);
    try {
      TReader(&s).ReadProperties(&back);
      EXPECT_EQ(s.Position(), s.Size());
      EXPECT_NE(b, &cut);
    } catch (const EReadError& e) {
      EXPECT_EQ(b, &cut);
      EXPECT_EQ(e.Message, "Error reading TMediaType.data: Stream read error");
    }
    EXPECT_TRUE(back.IsEqual(mt));
  }
}

TEST(TMediaType, StoredPointersAreIgnored) {
  TMediaType mt(MEDIATYPE_Video);
  TMemoryStream s;
  mt.WriteData(s);
  std::vector<uint8_t> b = Bytes(s);
  PutU32(b, 60, 0xDEADBEEF);  // pUnk
  PutU32(b, 68, 0x12345678);  // pbFormat
  TMemoryStream in;
  in.WriteBuffer(b.data(), static_cast<int32_t>(b.size()));
  in.SetPosition(0);
  TMediaType back;
  back.ReadData(in);
  EXPECT_EQ(back.AMMediaType()->pUnk, nullptr);
  EXPECT_EQ(back.AMMediaType()->pbFormat, nullptr);
}

TEST(TMediaType, HostileStreamsLeaveTheValueUnchanged) {
  TMediaType mt(MEDIATYPE_Video);
  mt.SetSubType(MEDIASUBTYPE_RGB32);
  TMemoryStream good;
  mt.WriteData(good);
  std::vector<uint8_t> b = Bytes(good);

  auto readFrom = [](const std::vector<uint8_t>& bytes, TMediaType& into) {
    TMemoryStream in;
    if (!bytes.empty()) in.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    in.SetPosition(0);
    into.ReadData(in);
  };
  TMediaType target(MEDIATYPE_Video);
  target.SetSubType(MEDIASUBTYPE_RGB24);

  // Short record.
  std::vector<uint8_t> shortRecord(b.begin(), b.begin() + 71);
  try {
    readFrom(shortRecord, target);
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message, "Stream read error");
  }
  // A format block announced far beyond the stream: refused before allocating.
  std::vector<uint8_t> huge = b;
  PutU32(huge, 64, 0xFFFFFFF0);
  EXPECT_THROW(readFrom(huge, target), EReadError);
  // A block one byte short.
  std::vector<uint8_t> oneShort = b;
  PutU32(oneShort, 64, 10);
  oneShort.resize(72 + 9);
  EXPECT_THROW(readFrom(oneShort, target), EReadError);

  EXPECT_EQ(target.SubType(), MEDIASUBTYPE_RGB24);
  EXPECT_EQ(target.AMMediaType()->cbFormat, 0u);
}

TEST(TMediaType, Assign) {
  TMediaType a(MEDIATYPE_Video);
  a.SetFormatType(FORMAT_VideoInfo2);
  a.AMMediaType()->cbFormat = 3;
  a.AMMediaType()->pbFormat = static_cast<uint8_t*>(CoTaskMemAlloc(3));
  std::memcpy(a.AMMediaType()->pbFormat, "abc", 3);
  TMediaType b;
  b.Assign(&a);
  EXPECT_TRUE(b.IsEqual(a));
  EXPECT_NE(b.AMMediaType()->pbFormat, a.AMMediaType()->pbFormat);
  b.Assign(&b);  // itself: nothing happens
  EXPECT_TRUE(b.IsEqual(a));

  class Other : public TPersistent {};
  Other other;
  try {
    b.Assign(&other);
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "Cannot assign a Other to a TMediaType");
  }
}

TEST(TMediaType, RandomStreamsReadCleanlyOrRaise) {
  // Any stream either reads as a record that writes back to the same bytes (pointer fields
  // zeroed) or raises EReadError; never more than the stream holds is read.
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  int read = 0, refused = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes(next() % 160);
    for (auto& b : bytes) b = static_cast<uint8_t>(next());
    if (bytes.size() >= 68 && next() % 2) PutU32(bytes, 64, next() % 100);  // plausible sizes
    TMemoryStream in;
    if (!bytes.empty()) in.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    in.SetPosition(0);
    TMediaType mt;
    try {
      mt.ReadData(in);
    } catch (const EReadError&) {
      ++refused;
      continue;
    }
    ++read;
    const size_t used = static_cast<size_t>(in.Position());
    ASSERT_EQ(used, 72u + mt.AMMediaType()->cbFormat);
    TMemoryStream out;
    mt.WriteData(out);
    std::vector<uint8_t> expected(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(used));
    PutU32(expected, 60, 0);
    PutU32(expected, 68, 0);
    ASSERT_EQ(Bytes(out), expected);
  }
  EXPECT_GT(read, 100);
  EXPECT_GT(refused, 100);
}
