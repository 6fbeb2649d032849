// The DirectShow stand-in: object creation, the empty graph, its event queue and the hidden
// window that carries events to the GUI thread, the builders and the running object table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QThread>
#include <string>
#include <thread>

#include "platform/AppHooks.h"  // both name window handles: they must agree
#include "platform/Classes.h"
#include "platform/DirectShow.h"
#include "platform/SysUtils.h"
#include "platform/TextCodec.h"
#include "tests/common/TestSupport.h"
#include "tests/media/DSFakes.h"

using namespace platform;
using namespace dsfakes;

namespace {

ComPtr<IFilterGraph2> NewGraph() {
  ComPtr<IFilterGraph2> g;
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IFilterGraph2::IID,
                             g.PutVoid()),
            S_OK);
  return g;
}

template <class T>
ComPtr<T> As(IUnknown* Unk) {
  ComPtr<T> p;
  EXPECT_EQ(QueryTo(Unk, p), S_OK);
  return p;
}

}  // namespace

TEST(GUIDText, RoundTripAndRejects) {
  EXPECT_EQ(GUIDToString(CLSID_FilterGraph), "{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
  GUID g;
  ASSERT_TRUE(TryStringToGUID("{e436ebb3-524f-11ce-9f53-0020af0ba770}", g));
  EXPECT_EQ(g, CLSID_FilterGraph);
  for (const char* bad : {"", "E436EBB3-524F-11CE-9F53-0020AF0BA770",
                          "{E436EBB3-524F-11CE-9F53-0020AF0BA77}", "{E436EBB3+524F-11CE-9F53-0020AF0BA770}",
                          "{E436EBB3-524F-11CE-9F53-0020AF0BA77G}"})
    EXPECT_FALSE(TryStringToGUID(bad, g)) << bad;
}

TEST(CoCreateInstance, Failures) {
  ComPtr<IUnknown> p;
  FakeUnknown outer;
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, &outer, CLSCTX_INPROC_SERVER, IUnknown::IID,
                             p.PutVoid()),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(CoCreateInstance(MEDIATYPE_Video, nullptr, CLSCTX_INPROC_SERVER, IUnknown::IID,
                             p.PutVoid()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, 4, IUnknown::IID, p.PutVoid()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IDvdInfo2::IID,
                             p.PutVoid()),
            E_NOINTERFACE);
  EXPECT_FALSE(p);
}

TEST(CoCreateInstance, ReplacedFactoryAndRestore) {
  auto old = RegisterComClass(CLSID_FilterGraph,
                              [](const GUID&, void** obj) { *obj = nullptr; return E_OUTOFMEMORY; });
  ComPtr<IUnknown> p;
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IUnknown::IID,
                             p.PutVoid()),
            E_OUTOFMEMORY);
  RegisterComClass(CLSID_FilterGraph, old);
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IUnknown::IID,
                             p.PutVoid()),
            S_OK);
}

TEST(FilterGraph, OffersItsInterfacesOnOneIdentity) {
  ComPtr<IFilterGraph2> g = NewGraph();
  ComPtr<IUnknown> a = As<IUnknown>(g.Get());
  ComPtr<IMediaControl> mc = As<IMediaControl>(g.Get());
  ComPtr<IUnknown> b = As<IUnknown>(mc.Get());
  EXPECT_EQ(a.Get(), b.Get());
  for (const GUID& iid : {IFilterGraph::IID, IGraphBuilder::IID, IMediaEvent::IID,
                          IMediaEventEx::IID, IMediaEventSink::IID, IBasicAudio::IID,
                          IObjectWithSite::IID, IServiceProvider::IID}) {
    void* p = nullptr;
    EXPECT_EQ(g->QueryInterface(iid, &p), S_OK) << GUIDToString(iid);
    if (p) g->Release();
  }
}

TEST(FilterGraph, AddFindRemoveAndNames) {
  FakeBaseFilter f1, f2, f3;
  {
    ComPtr<IFilterGraph2> g = NewGraph();
    EXPECT_EQ(g->AddFilter(&f1, u"Grabber"), S_OK);
    EXPECT_EQ(g->AddFilter(&f2, u"Grabber"), VFW_S_DUPLICATE_NAME);
    EXPECT_EQ(f2.Name, u"Grabber 0001");
    EXPECT_EQ(g->AddFilter(&f3, u"Grabber"), VFW_S_DUPLICATE_NAME);
    EXPECT_EQ(f3.Name, u"Grabber 0002");
    EXPECT_EQ(g->AddFilter(&f1, u"Again"), E_INVALIDARG);
    EXPECT_EQ(g->AddFilter(nullptr, u"x"), E_POINTER);
    EXPECT_EQ(f1.Graph, static_cast<IFilterGraph*>(g.Get()));
    EXPECT_EQ(f1.Refs, 2u);

    ComPtr<IBaseFilter> found;
    EXPECT_EQ(g->FindFilterByName(u"Grabber 0001", found.Put()), S_OK);
    EXPECT_EQ(found.Get(), &f2);
    EXPECT_EQ(g->FindFilterByName(u"Nobody", found.Put()), VFW_E_NOT_FOUND);
    EXPECT_FALSE(found);

    EXPECT_EQ(g->RemoveFilter(&f1), S_OK);
    EXPECT_EQ(f1.Graph, nullptr);
    EXPECT_EQ(f1.Refs, 1u);
    EXPECT_EQ(g->RemoveFilter(&f1), VFW_E_NOT_FOUND);

    ComPtr<IMediaControl> mc = As<IMediaControl>(g.Get());
    EXPECT_EQ(mc->Stop(), S_OK);
    EXPECT_EQ(f2.Stops, 1);
    EXPECT_EQ(f1.Stops, 0);
  }
  // The graph went away: filters left in it were told and let go.
  EXPECT_EQ(f2.Graph, nullptr);
  EXPECT_EQ(f2.Refs, 1u);
  EXPECT_EQ(f3.Refs, 1u);
}

TEST(FilterGraph, LogsToTheGivenFile) {
  const std::string path = kdtest::TempDir() + "/graph.log";
  FakeBaseFilter f;
  {
    TFileStream log(path, fmCreate);
    ComPtr<IFilterGraph2> g = NewGraph();
    g->SetLogFile(static_cast<DWORD_PTR>(log.Handle()));
    g->AddFilter(&f, u"Sample Grabber");
    As<IMediaControl>(g.Get())->Stop();
    g->RemoveFilter(&f);
    g->SetLogFile(0);
    g->AddFilter(&f, u"Unlogged");
  }
  auto bytes = kdtest::ReadFileBytes(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "AddFilter \"Sample Grabber\"\nStop\nRemoveFilter \"Sample Grabber\"\n");
}

TEST(FilterGraph, BasicAudioRanges) {
  ComPtr<IFilterGraph2> g = NewGraph();
  ComPtr<IBasicAudio> audio = As<IBasicAudio>(g.Get());
  int32_t v = 1;
  EXPECT_EQ(audio->put_Volume(-10000), S_OK);
  EXPECT_EQ(audio->put_Volume(1), E_INVALIDARG);
  EXPECT_EQ(audio->put_Volume(-10001), E_INVALIDARG);
  audio->get_Volume(&v);
  EXPECT_EQ(v, -10000);
  EXPECT_EQ(audio->put_Balance(10000), S_OK);
  EXPECT_EQ(audio->put_Balance(10001), E_INVALIDARG);
  audio->get_Balance(&v);
  EXPECT_EQ(v, 10000);
}

TEST(FilterGraph, EventsReachTheNotifyWindowInOrder) {
  std::vector<TMessage> got;
  HWND w = AllocateHWnd([&](TMessage& m) { got.push_back(m); });
  ComPtr<IFilterGraph2> g = NewGraph();
  ComPtr<IMediaEventEx> events = As<IMediaEventEx>(g.Get());
  ComPtr<IMediaEventSink> sink = As<IMediaEventSink>(g.Get());
  events->SetNotifyWindow(w, 0x8001, 1234);
  sink->Notify(EC_PAUSED, 7, 0);
  sink->Notify(EC_USERABORT, 0, 0);
  EXPECT_TRUE(got.empty());  // nothing arrives before the event loop runs
  DrainMessages();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].Msg, 0x8001u);
  EXPECT_EQ(got[0].LParam, 1234);

  int32_t code;
  LONG_PTR p1, p2;
  ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_PAUSED);
  EXPECT_EQ(p1, 7);
  ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_USERABORT);
  EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
  DeallocateHWnd(w);
}

TEST(FilterGraph, EventParametersAreHeldUntilFreed) {
  FakeBaseFilter renderer;
  {
    ComPtr<IFilterGraph2> g = NewGraph();
    ComPtr<IMediaEventEx> events = As<IMediaEventEx>(g.Get());
    ComPtr<IMediaEventSink> sink = As<IMediaEventSink>(g.Get());
    sink->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(&renderer)));
    EXPECT_EQ(renderer.Refs, 2u);
    int32_t code;
    LONG_PTR p1, p2;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    events->FreeEventParams(code, p1, p2);
    EXPECT_EQ(renderer.Refs, 1u);

    // Off: nothing is queued and the reference is given back at once.
    events->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY);
    int32_t flags = 0;
    events->GetNotifyFlags(&flags);
    EXPECT_EQ(flags, AM_MEDIAEVENT_NONOTIFY);
    sink->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(&renderer)));
    EXPECT_EQ(renderer.Refs, 1u);
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    EXPECT_EQ(events->SetNotifyFlags(2), E_INVALIDARG);

    // Still queued when the graph goes: released with it (strings too, checked by ASan).
    events->SetNotifyFlags(0);
    sink->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(&renderer)));
    sink->Notify(EC_OLE_EVENT, reinterpret_cast<LONG_PTR>(SysAllocString(u"a")),
                 reinterpret_cast<LONG_PTR>(SysAllocString(u"b")));
    EXPECT_EQ(renderer.Refs, 2u);
  }
  EXPECT_EQ(renderer.Refs, 1u);
}

TEST(FilterGraph, ServicesComeFromTheSite) {
  struct Site : IServiceProvider {
    HRESULT QueryInterface(const GUID& iid, void** obj) override {
      if (iid == IUnknown::IID || iid == IServiceProvider::IID) {
        *obj = static_cast<IServiceProvider*>(this);
        AddRef();
        return S_OK;
      }
      *obj = nullptr;
      return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++Refs; }
    ULONG Release() override { return --Refs; }
    HRESULT QueryService(const GUID& s, const GUID&, void** obj) override {
      *obj = this;
      return s == MEDIATYPE_Video ? S_OK : E_NOINTERFACE;
    }
    ULONG Refs = 1;
  } site;
  {
    ComPtr<IFilterGraph2> g = NewGraph();
    ComPtr<IServiceProvider> sp = As<IServiceProvider>(g.Get());
    void* obj = nullptr;
    EXPECT_EQ(sp->QueryService(MEDIATYPE_Video, MEDIATYPE_Video, &obj), E_NOINTERFACE);
    As<IObjectWithSite>(g.Get())->SetSite(&site);
    EXPECT_EQ(sp->QueryService(MEDIATYPE_Video, MEDIATYPE_Video, &obj), S_OK);
    EXPECT_EQ(obj, &site);
    EXPECT_GE(site.Refs, 2u);
  }
  EXPECT_EQ(site.Refs, 1u);
}

TEST(GraphBuilders, CaptureAndDvd) {
  ComPtr<ICaptureGraphBuilder2> capture;
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                             ICaptureGraphBuilder2::IID, capture.PutVoid()),
            S_OK);
  ComPtr<IFilterGraph2> g = NewGraph();
  EXPECT_EQ(capture->SetFiltergraph(g.Get()), S_OK);
  EXPECT_EQ(capture->SetFiltergraph(g.Get()), E_UNEXPECTED);
  ComPtr<IGraphBuilder> back;
  EXPECT_EQ(capture->GetFiltergraph(back.Put()), S_OK);
  EXPECT_EQ(back.Get(), static_cast<IGraphBuilder*>(g.Get()));

  ComPtr<IDvdGraphBuilder> dvd;
  ASSERT_EQ(CoCreateInstance(CLSID_DvdGraphBuilder, nullptr, CLSCTX_INPROC_SERVER,
                             IDvdGraphBuilder::IID, dvd.PutVoid()),
            S_OK);
  ComPtr<IGraphBuilder> d1, d2;
  EXPECT_EQ(dvd->GetFiltergraph(d1.Put()), S_OK);
  EXPECT_EQ(dvd->GetFiltergraph(d2.Put()), S_OK);
  EXPECT_TRUE(d1);
  EXPECT_EQ(d1.Get(), d2.Get());
  ComPtr<IDvdInfo2> info;
  EXPECT_EQ(dvd->GetDvdInterface(IDvdInfo2::IID, info.PutVoid()), E_NOINTERFACE);
}

TEST(RunningObjectTable, DuplicateNamesAndLookups) {
  ComPtr<IRunningObjectTable> rot;
  ASSERT_EQ(GetRunningObjectTable(0, rot.Put()), S_OK);
  ComPtr<IMoniker> name;
  CreateItemMoniker(u"!", u"Test object", name.Put());
  std::u16string display;
  name->GetDisplayName(&display);
  EXPECT_EQ(display, u"!Test object");
  FakeUnknown a, b;
  DWORD c1 = 0, c2 = 0;
  EXPECT_EQ(rot->Register(0, &a, name.Get(), &c1), S_OK);
  EXPECT_EQ(rot->Register(0, &b, name.Get(), &c2), MK_S_MONIKERALREADYREGISTERED);
  EXPECT_NE(c1, c2);
  DWORD none = 5;
  EXPECT_EQ(rot->Register(0, nullptr, name.Get(), &none), E_INVALIDARG);
  EXPECT_EQ(none, 0u);
  EXPECT_EQ(rot->Revoke(c1), S_OK);
  ComPtr<IUnknown> found;
  EXPECT_EQ(rot->GetObject(name.Get(), found.Put()), S_OK);
  EXPECT_EQ(found.Get(), &b);
  found = nullptr;
  EXPECT_EQ(rot->Revoke(c2), S_OK);
  EXPECT_EQ(rot->GetObject(name.Get(), found.Put()), MK_E_UNAVAILABLE);
  EXPECT_EQ(a.Refs, 1u);
  EXPECT_EQ(b.Refs, 1u);
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
}

TEST(HiddenWindow, MessagesForAFreedWindowAreDropped) {
  int calls = 0;
  HWND w = AllocateHWnd([&](TMessage&) { ++calls; });
  EXPECT_TRUE(PostMessage(w, 0x8001, 0, 0));
  DeallocateHWnd(w);
  DrainMessages();
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(PostMessage(w, 0x8001, 0, 0));
  EXPECT_FALSE(PostMessage(nullptr, 0x8001, 0, 0));
}

TEST(HiddenWindow, ExceptionsGoToTheHandler) {
  std::vector<std::string> seen;
  SetWindowExceptionHandler([&](const std::exception& e) { seen.push_back(e.what()); });
  HWND w = AllocateHWnd([](TMessage& m) {
    if (m.WParam == 1) throw EInvalidOperation("broken handler");
  });
  PostMessage(w, 1, 1, 0);
  PostMessage(w, 1, 0, 0);
  DrainMessages();
  SetWindowExceptionHandler(nullptr);
  DeallocateHWnd(w);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "broken handler");
}

TEST(HiddenWindow, PostsFromAnotherThreadArriveOnTheGuiThread) {
  std::vector<bool> onGuiThread;
  HWND w = AllocateHWnd([&](TMessage&) {
    onGuiThread.push_back(QThread::currentThread() == QCoreApplication::instance()->thread());
  });
  std::thread t([w] {
    for (int i = 0; i < 3; ++i) PostMessage(w, 0x8001, 0, 0);
  });
  t.join();
  DrainMessages();
  DeallocateHWnd(w);
  EXPECT_EQ(onGuiThread, std::vector<bool>({true, true, true}));
}

TEST(LocaleInfo, EnglishLanguageNames) {
  char buf[260];
  EXPECT_EQ(GetLocaleInfoA(0x0413, LOCALE_SENGLANGUAGE, buf, 260), 6);
  EXPECT_STREQ(buf, "Dutch");
  EXPECT_EQ(GetLocaleInfoA(0x0809, LOCALE_SENGLANGUAGE, buf, 260), 8);
  EXPECT_STREQ(buf, "English");
  EXPECT_EQ(GetLocaleInfoA(0, LOCALE_SENGLANGUAGE, buf, 260), 0);
  EXPECT_EQ(GetLocaleInfoA(0x0413, LOCALE_SENGLANGUAGE, buf, 5), 0);
  EXPECT_EQ(GetLocaleInfoA(0x0413, 0x1002, buf, 260), 0);
}
