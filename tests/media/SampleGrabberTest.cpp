// The sample grabber component: joining and leaving the graph of its filter-graph component,
// the media type it asks for, frames turned into bitmaps, and the buffer callback.
#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "media/DSComponents.h"
#include "platform/Graphics.h"
#include "platform/TextCodec.h"
#include "tests/media/DSFakes.h"

using namespace platform;
using namespace media;
using namespace dsfakes;

namespace {

class ClassOverride {
 public:
  ClassOverride(const GUID& ClassID, TComClassFactory Factory)
      : FClassID(ClassID), FOld(RegisterComClass(ClassID, std::move(Factory))) {}
  ~ClassOverride() { RegisterComClass(FClassID, FOld); }

 private:
  GUID FClassID;
  TComClassFactory FOld;
};

// A grabber filter that is connected with a chosen media type and holds a chosen sample.
class ConnectedGrabber : public IBaseFilter, public ISampleGrabber {
 public:
  ConnectedGrabber() : FIn(this), FOut(this) {}
  ~ConnectedGrabber() { FreeMediaType(Connected); }
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (iid == IUnknown::IID || iid == IBaseFilter::IID || iid == IMediaFilter::IID || iid == IPersist::IID)
      *obj = static_cast<IBaseFilter*>(this);
    else if (iid == ISampleGrabber::IID)
      *obj = static_cast<ISampleGrabber*>(this);
    else {
      *obj = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  HRESULT GetClassID(GUID* c) override {
    *c = CLSID_SampleGrabber;
    return S_OK;
  }
  HRESULT Stop() override {
    Calls.push_back("Stop");
    return S_OK;
  }
  HRESULT QueryFilterInfo(FILTER_INFO* Info) override {
    Info->pGraph = nullptr;
    return S_OK;
  }
  HRESULT JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return S_OK; }
  HRESULT EnumPins(IEnumPins** Enum) override {
    *Enum = new Pins(this);
    return S_OK;
  }
  HRESULT SetMediaType(const AM_MEDIA_TYPE* t) override {
    Calls.push_back("SetMediaType " + GUIDToString(t->subtype));
    return S_OK;
  }
  HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* t) override {
    if (Failed(ConnectedResult)) return ConnectedResult;
    CopyMediaType(t, &Connected);
    return S_OK;
  }
  HRESULT SetBufferSamples(bool b) override {
    Calls.push_back(std::string("SetBufferSamples ") + (b ? "1" : "0"));
    return S_OK;
  }
  HRESULT GetCurrentBuffer(int32_t* Size, uint8_t* Buffer) override {
    if (Sample.empty()) return VFW_E_WRONG_STATE;
    if (!Buffer) {
      *Size = static_cast<int32_t>(Sample.size());
      return S_OK;
    }
    CopiedSize = *Size;
    std::memcpy(Buffer, Sample.data(), std::min<size_t>(Sample.size(), static_cast<size_t>(*Size)));
    return S_OK;
  }
  HRESULT SetCallback(ISampleGrabberCB* cb, int32_t which) override {
    Callback = cb;
    Calls.push_back("SetCallback " + std::string(cb ? "set" : "nil") + " " + std::to_string(which));
    return S_OK;
  }

  // A video format block of Size bytes with a bitmap header at Offset.
  void Connect(const GUID& FormatType, uint32_t Size, uint32_t Offset, int32_t Width,
               int32_t Height, uint16_t BitCount, uint32_t SizeImage = 0) {
    FreeMediaType(Connected);
    Connected.majortype = MEDIATYPE_Video;
    Connected.formattype = FormatType;
    Connected.cbFormat = Size;
    Connected.pbFormat = static_cast<uint8_t*>(CoTaskMemAlloc(Size));
    std::memset(Connected.pbFormat, 0, Size);
    if (Offset + 40 <= Size) {
      uint8_t* h = Connected.pbFormat + Offset;
      auto put = [h](int at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) h[at + i] = static_cast<uint8_t>(v >> (8 * i));
      };
      put(0, 40, 4);
      put(4, static_cast<uint32_t>(Width), 4);
      put(8, static_cast<uint32_t>(Height), 4);
      put(12, 1, 2);
      put(14, BitCount, 2);
      put(20, SizeImage, 4);
    }
  }

  class Pin : public IPin {
   public:
    explicit Pin(ConnectedGrabber* Owner) : FOwner(Owner) {}
    HRESULT QueryInterface(const GUID&, void** obj) override {
      *obj = nullptr;
      return E_NOINTERFACE;
    }
    ULONG AddRef() override { return FOwner->AddRef(); }
    ULONG Release() override { return FOwner->Release(); }
    HRESULT Disconnect() override {
      FOwner->Calls.push_back(this == &FOwner->FIn ? "Disconnect in" : "Disconnect out");
      return S_OK;
    }
    HRESULT QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }

   private:
    ConnectedGrabber* FOwner;
  };
  class Pins : public IEnumPins {
   public:
    explicit Pins(ConnectedGrabber* Owner) : FOwner(Owner) { FOwner->AddRef(); }
    HRESULT QueryInterface(const GUID&, void** obj) override {
      *obj = nullptr;
      return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++FRefs; }
    ULONG Release() override {
      if (--FRefs) return FRefs;
      FOwner->Release();
      delete this;
      return 0;
    }
    HRESULT Next(ULONG, IPin** p, ULONG* f) override {
      if (FNext >= 2) return S_FALSE;
      *p = FNext++ == 0 ? &FOwner->FIn : &FOwner->FOut;
      (*p)->AddRef();
      if (f) *f = 1;
      return S_OK;
    }
    HRESULT Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT Reset() override { return E_NOTIMPL; }

   private:
    ConnectedGrabber* FOwner;
    ULONG FRefs = 1;
    int FNext = 0;
  };

  Pin FIn, FOut;
  AM_MEDIA_TYPE Connected;
  HRESULT ConnectedResult = S_OK;
  std::vector<uint8_t> Sample;
  int32_t CopiedSize = -1;
  ISampleGrabberCB* Callback = nullptr;
  std::vector<std::string> Calls;
  ULONG Refs = 1;
};

TComClassFactory Serving(ConnectedGrabber& g) {
  return [&g](const GUID& iid, void** obj) { return g.QueryInterface(iid, obj); };
}

// A 2 x 2 bitmap that the failing calls must leave as it is.
void MakeMarker(TBitmap& b) {
  b.SetPixelFormat(pf24bit);
  b.SetSize(2, 2);
  static_cast<uint8_t*>(b.ScanLine(0))[0] = 0x5A;
}
bool IsMarker(TBitmap& b) {
  return b.Width() == 2 && b.Height() == 2 && static_cast<uint8_t*>(b.ScanLine(0))[0] == 0x5A;
}

}  // namespace

TEST(TSampleGrabber, DefaultMediaTypeAndMissingFilter) {
  {
    TSampleGrabber g;
    EXPECT_EQ(g.MediaType()->MajorType(), MEDIATYPE_Video);
    EXPECT_EQ(g.MediaType()->SubType(), MEDIASUBTYPE_RGB24);
    EXPECT_EQ(g.MediaType()->FormatType(), FORMAT_VideoInfo);
    EXPECT_EQ(g.BaseFilter(), nullptr);
  }
  ClassOverride none(CLSID_SampleGrabber, [](const GUID&, void** obj) {
    *obj = nullptr;
    return REGDB_E_CLASSNOTREG;
  });
  TComponent owner;
  try {
    new TSampleGrabber(&owner);
    ADD_FAILURE();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message.rfind("The SampleGrabber Filter is not available on this system. (DSComponents, line ", 0), 0u)
        << e.Message;
  }
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(TSampleGrabber, JoinsTheGraphWhenItActivates) {
  TComponent form;
  auto* graph = new TFilterGraph(&form);
  auto* grabber = new TSampleGrabber(&form);
  grabber->SetName("SampleGrabber");
  // The form's stored media type asks for 32-bit RGB.
  TMediaType stored(MEDIATYPE_Video);
  stored.SetSubType(MEDIASUBTYPE_RGB32);
  stored.SetFormatType(FORMAT_VideoInfo);
  grabber->SetMediaType(&stored);
  grabber->SetFilterGraph(graph);
  graph->SetAutoCreate(true);
  EXPECT_EQ(grabber->BaseFilter(), nullptr);  // attached to an inactive graph: listed only

  graph->Loaded();
  ASSERT_TRUE(graph->Active());
  ASSERT_NE(grabber->BaseFilter(), nullptr);
  ComPtr<IBaseFilter> found;
  EXPECT_EQ(graph->FilterGraph()->FindFilterByName(u"SampleGrabber", found.Put()), S_OK);
  EXPECT_EQ(found.Get(), grabber->BaseFilter());
  ASSERT_NE(grabber->SampleGrabber(), nullptr);
  PIN_INFO in, out;
  ASSERT_NE(grabber->InPin(), nullptr);
  ASSERT_NE(grabber->OutPin(), nullptr);
  grabber->InPin()->QueryPinInfo(&in);
  grabber->OutPin()->QueryPinInfo(&out);
  EXPECT_EQ(in.dir, PINDIR_INPUT);
  EXPECT_EQ(out.dir, PINDIR_OUTPUT);
  EXPECT_EQ(in.pFilter, grabber->BaseFilter());
  in.pFilter->Release();
  out.pFilter->Release();
  // Beyond its own interfaces the component answers for its filter.
  void* p = nullptr;
  EXPECT_EQ(grabber->QueryInterface(ISampleGrabber::IID, &p), S_OK);
  static_cast<IUnknown*>(p)->Release();
  // No media reaches the graph: no frame to take.
  TBitmap bmp;
  MakeMarker(bmp);
  EXPECT_FALSE(grabber->GetBitmap(&bmp));
  EXPECT_TRUE(IsMarker(bmp));

  graph->SetActive(false);
  EXPECT_EQ(grabber->BaseFilter(), nullptr);
  EXPECT_EQ(grabber->SampleGrabber(), nullptr);
  EXPECT_EQ(grabber->InPin(), nullptr);
  EXPECT_EQ(grabber->QueryInterface(ISampleGrabber::IID, &p), E_NOINTERFACE);
}

TEST(TSampleGrabber, NotificationsDriveTheFilter) {
  ConnectedGrabber filter;
  ClassOverride fake(CLSID_SampleGrabber, Serving(filter));
  TFilterGraph graph;
  {
    TSampleGrabber grabber;
    grabber.SetFilterGraph(&graph);
    graph.SetActive(true);
    EXPECT_EQ(filter.Calls, std::vector<std::string>({
                                "Stop", "Disconnect in",
                                "SetMediaType {E436EB7D-524F-11CE-9F53-0020AF0BA770}",
                                "SetBufferSamples 1", "SetCallback set 1"}));
    EXPECT_EQ(filter.Callback, static_cast<ISampleGrabberCB*>(&grabber));
    filter.Calls.clear();
  }  // destroyed while attached to an active graph: leaves it first
  EXPECT_EQ(filter.Calls, std::vector<std::string>({"Stop", "Disconnect in", "Disconnect out",
                                                    "SetCallback nil 1", "SetBufferSamples 0"}));
  EXPECT_EQ(filter.Refs, 1u);
  EXPECT_TRUE(graph.Active());
}

TEST(TSampleGrabber, ForgetsAGraphComponentThatGoes) {
  TSampleGrabber grabber;
  {
    TFilterGraph graph;
    grabber.SetFilterGraph(&graph);
    graph.SetActive(true);
    EXPECT_NE(grabber.BaseFilter(), nullptr);
  }
  EXPECT_EQ(grabber.FilterGraph(), nullptr);
  EXPECT_EQ(grabber.BaseFilter(), nullptr);
}

TEST(TSampleGrabber, FrameFromABufferIsClippedToTheImage) {
  ConnectedGrabber filter;
  ClassOverride fake(CLSID_SampleGrabber, Serving(filter));
  TFilterGraph graph;
  TSampleGrabber grabber;
  grabber.SetFilterGraph(&graph);
  graph.SetActive(true);
  filter.Connect(FORMAT_VideoInfo, 88, 48, 320, 240, 24);

  // A million bytes for a 320 x 240 RGB24 frame (230,400 bytes); bytes past the frame are
  // poison that must not show anywhere.
  std::vector<uint8_t> buffer(1000000, 0xEE);
  for (int i = 0; i < 230400; ++i) buffer[i] = static_cast<uint8_t>(i % 251);
  TBitmap bmp;
  ASSERT_TRUE(grabber.GetBitmapFromBuffer(&bmp, buffer.data(), static_cast<int32_t>(buffer.size())));
  ASSERT_EQ(bmp.Width(), 320);
  ASSERT_EQ(bmp.Height(), 240);
  // Bottom-up rows: the first buffer row is the bitmap's last.
  const QImage& img = bmp.Image();
  const QRgb first = img.pixel(0, 239);
  EXPECT_EQ(qBlue(first), 0);
  EXPECT_EQ(qGreen(first), 1);
  EXPECT_EQ(qRed(first), 2);
  const int last = 230400 - 3;
  const QRgb top = img.pixel(319, 0);
  EXPECT_EQ(qBlue(top), last % 251);
  EXPECT_EQ(qRed(top), (last + 2) % 251);

  // The same frame taken from the filter's current sample: only the image size is asked for.
  filter.Sample = buffer;
  TBitmap current;
  ASSERT_TRUE(grabber.GetBitmap(&current));
  EXPECT_EQ(filter.CopiedSize, 230400);
  EXPECT_EQ(current.Image().pixel(319, 0), top);
}

TEST(TSampleGrabber, FormatsAndLineSizes) {
  EXPECT_EQ(GetDIBLineSize(15, 3), (16 * 3 + 31) / 32 * 4);
  EXPECT_EQ(GetDIBLineSize(15, 3), 8);
  EXPECT_EQ(GetDIBLineSize(24, 1), 4);
  EXPECT_EQ(GetDIBLineSize(24, 320), 960);
  EXPECT_EQ(GetDIBLineSize(32, 5), 20);

  ConnectedGrabber filter;
  ClassOverride fake(CLSID_SampleGrabber, Serving(filter));
  TFilterGraph graph;
  TSampleGrabber grabber;
  grabber.SetFilterGraph(&graph);
  graph.SetActive(true);
  filter.Sample.assign(100, 0x7F);

  // 15 bits: 8-byte rows for a width of 3, so a 3 x 2 frame takes 16 bytes.
  filter.Connect(FORMAT_VideoInfo, 88, 48, 3, 2, 15);
  TBitmap bmp;
  ASSERT_TRUE(grabber.GetBitmap(&bmp));
  EXPECT_EQ(filter.CopiedSize, 16);
  EXPECT_EQ(bmp.Width(), 3);
  // 0x7F7F as 5-5-5: red 31, green 27, blue 31.
  const QRgb px = bmp.Image().pixel(0, 0);
  EXPECT_EQ(qRed(px), 255);
  EXPECT_EQ(qBlue(px), 255);

  // VIDEOINFOHEADER2: the header 72 bytes in; a top-down frame (negative height).
  filter.Connect(FORMAT_VideoInfo2, 112, 72, 4, -3, 32);
  ASSERT_TRUE(grabber.GetBitmap(&bmp));
  EXPECT_EQ(filter.CopiedSize, 48);
  EXPECT_EQ(bmp.Height(), 3);

  // An image size from the header, larger than the frame, is held to the frame.
  filter.Connect(FORMAT_VideoInfo, 88, 48, 4, 4, 24, 1000000);
  std::vector<uint8_t> big(1000000, 1);
  ASSERT_TRUE(grabber.GetBitmapFromBuffer(&bmp, big.data(), static_cast<int32_t>(big.size())));
  ASSERT_TRUE(grabber.GetBitmap(&bmp));
  EXPECT_EQ(filter.CopiedSize, 48);
  // A smaller one limits the copy.
  filter.Connect(FORMAT_VideoInfo, 88, 48, 4, 4, 24, 10);
  ASSERT_TRUE(grabber.GetBitmap(&bmp));
  EXPECT_EQ(filter.CopiedSize, 10);
}

TEST(TSampleGrabber, EveryFailureReturnsFalseAndLeavesTheBitmap) {
  ConnectedGrabber filter;
  ClassOverride fake(CLSID_SampleGrabber, Serving(filter));
  TBitmap bmp;
  MakeMarker(bmp);
  uint8_t bytes[64] = {};
  {
    TSampleGrabber detached;
    EXPECT_FALSE(detached.GetBitmapFromBuffer(&bmp, bytes, sizeof bytes));  // no filter
  }
  TFilterGraph graph;
  TSampleGrabber grabber;
  grabber.SetFilterGraph(&graph);
  graph.SetActive(true);
  filter.Sample.assign(64, 1);
  filter.Connect(FORMAT_VideoInfo, 88, 48, 4, 4, 24);
  ASSERT_TRUE(grabber.GetBitmapFromBuffer(nullptr, bytes, 0) == false);
  EXPECT_FALSE(grabber.GetBitmapFromBuffer(&bmp, bytes, 0));
  EXPECT_FALSE(grabber.GetBitmapFromBuffer(&bmp, bytes, -5));

  struct Case {
    const char* What;
    std::function<void()> Setup;
  };
  const std::vector<Case> cases = {
      {"not connected", [&] { filter.ConnectedResult = VFW_E_NOT_CONNECTED; }},
      {"audio", [&] { filter.Connect(FORMAT_VideoInfo, 88, 48, 4, 4, 24); filter.Connected.majortype = CLSID_FilterGraph; }},
      {"100-byte VideoInfo", [&] { filter.Connect(FORMAT_VideoInfo, 100, 48, 4, 4, 24); }},
      {"88-byte VideoInfo2", [&] { filter.Connect(FORMAT_VideoInfo2, 88, 48, 4, 4, 24); }},
      {"other format", [&] { filter.Connect(MEDIATYPE_Video, 88, 48, 4, 4, 24); }},
      {"8 bits, no colour table", [&] { filter.Connect(FORMAT_VideoInfo, 88, 48, 4, 4, 8); }},
      {"zero width", [&] { filter.Connect(FORMAT_VideoInfo, 88, 48, 0, 4, 24); }},
      {"negative width", [&] { filter.Connect(FORMAT_VideoInfo, 88, 48, -4, 4, 24); }},
      {"zero height", [&] { filter.Connect(FORMAT_VideoInfo, 88, 48, 4, 0, 24); }},
      {"huge", [&] { filter.Connect(FORMAT_VideoInfo, 88, 48, 100000, 100000, 32); }},
      {"compressed", [&] { filter.Connect(FORMAT_VideoInfo, 88, 48, 4, 4, 24); filter.Connected.pbFormat[48 + 16] = 1; }},
      {"no sample", [&] { filter.Connect(FORMAT_VideoInfo, 88, 48, 4, 4, 24); filter.Sample.clear(); }},
  };
  for (const Case& c : cases) {
    filter.ConnectedResult = S_OK;
    filter.Sample.assign(64, 1);
    c.Setup();
    EXPECT_FALSE(grabber.GetBitmap(&bmp)) << c.What;
    EXPECT_TRUE(IsMarker(bmp)) << c.What;
  }
}

TEST(TSampleGrabber, ConnectedMediaTypeIsFreedOnEveryPath) {
  FakeUnknown unk;  // outlives the filter's own media type
  ConnectedGrabber filter;
  ClassOverride fake(CLSID_SampleGrabber, Serving(filter));
  TFilterGraph graph;
  TSampleGrabber grabber;
  grabber.SetFilterGraph(&graph);
  graph.SetActive(true);
  TBitmap bmp;
  filter.Connect(FORMAT_VideoInfo, 88, 48, 4, 4, 24);
  filter.Connected.pUnk = &unk;
  unk.AddRef();  // the filter's type holds one
  filter.Sample.assign(48, 3);
  EXPECT_TRUE(grabber.GetBitmap(&bmp));
  EXPECT_EQ(unk.Refs, 2u);
  filter.Connected.formattype = FORMAT_VideoInfo2;  // fails after the type was fetched
  EXPECT_FALSE(grabber.GetBitmap(&bmp));
  EXPECT_EQ(unk.Refs, 2u);
  filter.Sample.clear();  // fails later still
  filter.Connected.formattype = FORMAT_VideoInfo;
  EXPECT_FALSE(grabber.GetBitmap(&bmp));
  EXPECT_EQ(unk.Refs, 2u);
}

TEST(TSampleGrabber, BufferCallbackRunsUnderTheLock) {
  TSampleGrabber grabber;
  EXPECT_EQ(grabber.BufferCB(0.5, nullptr, 0), S_OK);  // no handler
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::vector<double> times;
  uint8_t data[4] = {1, 2, 3, 4};
  grabber.OnBuffer = [&](TObject* Sender, double t, void* p, int32_t n) {
    if (++inside > 1) ++overlaps;
    EXPECT_EQ(Sender, &grabber);
    EXPECT_EQ(p, data);
    EXPECT_EQ(n, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    times.push_back(t);
    --inside;
  };
  std::vector<std::thread> streams;
  for (int i = 0; i < 4; ++i)
    streams.emplace_back([&, i] {
      for (int k = 0; k < 5; ++k) grabber.BufferCB(i + k / 10.0, data, 4);
    });
  for (auto& t : streams) t.join();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(times.size(), 20u);

  // A handler that raises: the filter gets E_FAIL and the lock is free again.
  grabber.OnBuffer = [](TObject*, double, void*, int32_t) { throw EInvalidOperation("no"); };
  EXPECT_EQ(grabber.BufferCB(1, data, 4), E_FAIL);
  int calls = 0;
  grabber.OnBuffer = [&](TObject*, double, void*, int32_t) { ++calls; };
  EXPECT_EQ(grabber.BufferCB(1, data, 4), S_OK);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(grabber.SampleCB(1, nullptr), S_OK);
}
