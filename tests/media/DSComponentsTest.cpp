// The filter-graph component over the DirectShow stand-in: activation and deactivation order,
// running-object-table registration, the log file, Stop, volume and balance, mode changes,
// the event table as delivered through the hidden window, and the builder callbacks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QThread>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "media/DSComponents.h"
#include "platform/SysUtils.h"
#include "platform/TextCodec.h"
#include "tests/common/TestSupport.h"
#include "tests/media/DSFakes.h"

using namespace platform;
using namespace media;
using namespace dsfakes;

namespace {

std::string Ptr(const void* p) { return std::to_string(reinterpret_cast<uintptr_t>(p)); }

std::string FileText(const std::string& path) {
  auto b = kdtest::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

// An attached component's filter: records the notifications and whether its filter is in the
// graph at each of them.
class FakeGraphFilter : public IGraphFilter {
 public:
  // Declared before the component, so that it outlives it.
  FakeGraphFilter(std::string Name, std::vector<std::string>& Log)
      : FName(std::move(Name)), FLog(Log) {}
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (iid == IUnknown::IID || iid == IGraphFilter::IID) {
      *obj = static_cast<IGraphFilter*>(this);
      AddRef();
      return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  ComPtr<IBaseFilter> GetFilter() override { return ComPtr<IBaseFilter>(&Base); }
  std::string GetName() override { return FName; }
  void NotifyFilter(TFilterOperation Operation, int32_t Param) override {
    static const char* kOps[] = {"adding", "added", "removing", "removed"};
    bool inGraph = false;
    if (Owner && Owner->FilterGraph()) {
      ComPtr<IBaseFilter> f;
      inGraph = Succeeded(Owner->FilterGraph()->FindFilterByName(Utf8ToUtf16(FName).c_str(), f.Put()));
    }
    FLog.push_back(FName + ":" + kOps[Operation] + (inGraph ? "+" : "-") + std::to_string(Param));
  }
  FakeBaseFilter Base;
  ULONG Refs = 1;
  TFilterGraph* Owner = nullptr;

 private:
  std::string FName;
  std::vector<std::string>& FLog;
};

// A graph whose Stop answers what the test wants.
class StopGraph : public IFilterGraph2, public IMediaControl {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (iid == IUnknown::IID || iid == IFilterGraph::IID || iid == IGraphBuilder::IID ||
        iid == IFilterGraph2::IID)
      *obj = static_cast<IFilterGraph2*>(this);
    else if (iid == IMediaControl::IID)
      *obj = static_cast<IMediaControl*>(this);
    else {
      *obj = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  HRESULT AddFilter(IBaseFilter*, LPCWSTR) override { return S_OK; }
  HRESULT RemoveFilter(IBaseFilter*) override { return S_OK; }
  HRESULT FindFilterByName(LPCWSTR, IBaseFilter** f) override {
    *f = nullptr;
    return VFW_E_NOT_FOUND;
  }
  HRESULT SetLogFile(DWORD_PTR) override { return S_OK; }
  HRESULT Stop() override { return StopResult; }
  HRESULT StopResult = S_OK;
  ULONG Refs = 1;
};

// A DVD builder whose navigator knows stream languages.
class LanguageDvdInfo : public IDvdInfo2 {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (iid == IUnknown::IID || iid == IDvdInfo2::IID) {
      *obj = static_cast<IDvdInfo2*>(this);
      AddRef();
      return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  HRESULT GetAudioLanguage(ULONG Stream, LCID* Language) override {
    if (Stream == 99) return E_FAIL;
    *Language = Stream == 2 ? 0x0413 : 0x0409;
    return S_OK;
  }
  HRESULT GetSubpictureLanguage(ULONG Stream, LCID* Language) override {
    if (Stream == 99) return E_FAIL;
    *Language = 0x0407;
    return S_OK;
  }
  ULONG Refs = 1;
};

class LanguageDvdBuilder : public IDvdGraphBuilder {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (iid == IUnknown::IID || iid == IDvdGraphBuilder::IID) {
      *obj = static_cast<IDvdGraphBuilder*>(this);
      AddRef();
      return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  HRESULT GetFiltergraph(IGraphBuilder** Graph) override {
    if (!FGraph)
      CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IGraphBuilder::IID,
                       FGraph.PutVoid());
    *Graph = ComPtr<IGraphBuilder>(FGraph).Detach();
    return S_OK;
  }
  HRESULT GetDvdInterface(const GUID& iid, void** Obj) override { return Info.QueryInterface(iid, Obj); }
  LanguageDvdInfo Info;
  ULONG Refs = 1;
  ComPtr<IGraphBuilder> FGraph;
};

// Puts a factory in place for one test and the original back afterwards.
class ClassOverride {
 public:
  ClassOverride(const GUID& ClassID, TComClassFactory Factory)
      : FClassID(ClassID), FOld(RegisterComClass(ClassID, std::move(Factory))) {}
  ~ClassOverride() { RegisterComClass(FClassID, FOld); }

 private:
  GUID FClassID;
  TComClassFactory FOld;
};

TComClassFactory Failing(HRESULT hr) {
  return [hr](const GUID&, void** obj) {
    *obj = nullptr;
    return hr;
  };
}

template <class T>
TComClassFactory Serving(T& Object) {
  return [&Object](const GUID& iid, void** obj) { return Object.QueryInterface(iid, obj); };
}

// Catches what window methods hand to the application while a test runs.
class ExceptionCatcher {
 public:
  ExceptionCatcher() {
    SetWindowExceptionHandler([this](const std::exception& e) { Messages.push_back(e.what()); });
  }
  ~ExceptionCatcher() { SetWindowExceptionHandler(nullptr); }
  std::vector<std::string> Messages;
};

std::string RotName(IFilterGraph2* Graph) {
  char name[80];
  std::snprintf(name, sizeof name, "!FilterGraph %0*llX pid %X", int(sizeof(void*) * 2),
                static_cast<unsigned long long>(
                    reinterpret_cast<uintptr_t>(static_cast<IUnknown*>(Graph))),
                static_cast<unsigned>(getpid()));
  return name;
}

HRESULT IsRunning(const std::string& Name) {
  ComPtr<IRunningObjectTable> rot;
  GetRunningObjectTable(0, rot.Put());
  ComPtr<IMoniker> m;
  CreateItemMoniker(u"", Utf8ToUtf16(Name).c_str(), m.Put());
  return rot->IsRunning(m.Get());
}

template <class T>
ComPtr<T> From(TFilterGraph& fg) {
  ComPtr<T> p;
  fg.QueryInterface(T::IID, p.PutVoid());
  return p;
}

}  // namespace

TEST(TFilterGraph, Defaults) {
  TFilterGraph fg;
  EXPECT_FALSE(fg.Active());
  EXPECT_FALSE(fg.AutoCreate());
  EXPECT_EQ(fg.Mode(), TGraphMode::gmNormal);
  EXPECT_EQ(fg.Volume(), 10000);
  EXPECT_EQ(fg.Balance(), 0);
  EXPECT_TRUE(fg.LinearVolume());
  EXPECT_FALSE(fg.GraphEdit());
  EXPECT_EQ(fg.LogFile(), "");
  EXPECT_EQ(fg.FilterGraph(), nullptr);
  EXPECT_EQ(fg.RotCookie(), 0u);
}

TEST(TFilterGraph, ActivationAndDeactivationOrder) {
  const std::string logPath = kdtest::TempDir() + "/dxlog.txt";
  kdtest::WriteFileBytes(logPath, {'o', 'l', 'd'});
  std::vector<std::string> log;
  FakeGraphFilter a("Grabber", log), b("Second", log);
  TFilterGraph fg;
  a.Owner = b.Owner = &fg;
  fg.SetGraphEdit(true);
  fg.SetLogFile(logPath);
  fg.InsertFilter(&a);
  fg.InsertFilter(&b);
  fg.OnActivate = [&](TObject* Sender) {
    log.push_back(std::string("OnActivate") + (Sender == &fg && fg.Active() ? "" : "?"));
  };
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(FileText(logPath), "old");  // nothing happens while inactive

  fg.SetActive(true);
  ASSERT_TRUE(fg.Active());
  EXPECT_EQ(log, std::vector<std::string>({"Grabber:adding-0", "Grabber:added+0",
                                           "Second:adding-0", "Second:added+0", "OnActivate"}));
  ASSERT_NE(fg.FilterGraph(), nullptr);
  ASSERT_NE(fg.MediaEventEx(), nullptr);
  int32_t flags = -1;
  fg.MediaEventEx()->GetNotifyFlags(&flags);
  EXPECT_EQ(flags, 0);
  // The second site replaced the first.
  ComPtr<IAMFilterGraphCallback> site;
  EXPECT_EQ(From<IObjectWithSite>(fg)->GetSite(IAMFilterGraphCallback::IID, site.PutVoid()), S_OK);
  EXPECT_EQ(site.Get(), static_cast<IAMFilterGraphCallback*>(&fg));
  // Registered under the graph's name; the log was truncated and receives the graph's lines.
  const std::string name = RotName(fg.FilterGraph());
  EXPECT_NE(fg.RotCookie(), 0u);
  EXPECT_EQ(IsRunning(name), S_OK);
  EXPECT_EQ(FileText(logPath), "AddFilter \"Grabber\"\nAddFilter \"Second\"\n");
  EXPECT_EQ(a.Base.Refs, 2u);

  log.clear();
  fg.SetActive(false);
  EXPECT_EQ(log, std::vector<std::string>({"Grabber:removing+0", "Grabber:removed-0",
                                           "Second:removing+0", "Second:removed-0"}));
  EXPECT_FALSE(fg.Active());
  EXPECT_EQ(fg.FilterGraph(), nullptr);
  EXPECT_EQ(fg.MediaEventEx(), nullptr);
  EXPECT_EQ(fg.RotCookie(), 0u);
  EXPECT_EQ(IsRunning(name), S_FALSE);
  EXPECT_EQ(a.Base.Refs, 1u);
  EXPECT_EQ(b.Base.Refs, 1u);
  EXPECT_EQ(FileText(logPath),
            "AddFilter \"Grabber\"\nAddFilter \"Second\"\nRemoveFilter \"Grabber\"\n"
            "RemoveFilter \"Second\"\n");

  // The list survives: the next activation adds them again.
  log.clear();
  fg.SetActive(true);
  EXPECT_EQ(log.size(), 5u);
  EXPECT_EQ(FileText(logPath), "AddFilter \"Grabber\"\nAddFilter \"Second\"\n");
  fg.SetActive(true);  // unchanged: nothing happens
  EXPECT_EQ(log.size(), 5u);
}

TEST(TFilterGraph, AutoCreateActivatesWhenLoaded) {
  TComponent owner;
  auto* on = new TFilterGraph(&owner);
  auto* off = new TFilterGraph(&owner);
  on->SetAutoCreate(true);
  on->Loaded();
  off->Loaded();
  EXPECT_TRUE(on->Active());
  EXPECT_FALSE(off->Active());
}

TEST(TFilterGraph, AGraphThatCannotBeBuiltLeavesTheComponentInactive) {
  ExceptionCatcher caught;
  {
    ClassOverride noGraph(CLSID_FilterGraph, Failing(E_OUTOFMEMORY));
    TFilterGraph fg;
    try {
      fg.SetActive(true);
      ADD_FAILURE();
    } catch (const EDirectShowException& e) {
      EXPECT_EQ(e.ErrorCode, E_OUTOFMEMORY);
      EXPECT_EQ(e.Message, "Not enough storage is available to complete this operation ($8007000E).");
    }
    EXPECT_FALSE(fg.Active());
    EXPECT_EQ(fg.FilterGraph(), nullptr);
    EXPECT_FALSE(fg.Stop());

    // Through AutoCreate the owner's loading goes on; the failure is reported.
    TComponent owner;
    auto* child = new TFilterGraph(&owner);
    child->SetAutoCreate(true);
    EXPECT_NO_THROW(child->Loaded());
    EXPECT_FALSE(child->Active());
    ASSERT_EQ(caught.Messages.size(), 1u);
    EXPECT_EQ(caught.Messages[0], "Not enough storage is available to complete this operation ($8007000E).");
  }
  {
    ClassOverride noBuilder(CLSID_CaptureGraphBuilder2, Failing(REGDB_E_CLASSNOTREG));
    TFilterGraph fg;
    fg.SetMode(TGraphMode::gmCapture);
    EXPECT_THROW(fg.SetActive(true), EDirectShowException);
    EXPECT_FALSE(fg.Active());
    EXPECT_EQ(fg.CaptureGraph(), nullptr);
    EXPECT_EQ(fg.FilterGraph(), nullptr);
  }
  TFilterGraph fg;  // the real classes are back
  fg.SetActive(true);
  EXPECT_TRUE(fg.Active());
}

TEST(TFilterGraph, GraphEditRegistersAndRevokes) {
  TFilterGraph fg;
  fg.SetGraphEdit(true);
  EXPECT_EQ(fg.RotCookie(), 0u);  // takes effect at activation
  fg.SetActive(true);
  EXPECT_NE(fg.RotCookie(), 0u);
  const std::string name = RotName(fg.FilterGraph());
  EXPECT_EQ(IsRunning(name), S_OK);
  fg.SetGraphEdit(false);  // revokes at once
  EXPECT_EQ(fg.RotCookie(), 0u);
  EXPECT_EQ(IsRunning(name), S_FALSE);
  fg.SetGraphEdit(true);
  EXPECT_EQ(IsRunning(name), S_OK);
  const uint32_t cookie = fg.RotCookie();
  fg.SetGraphEdit(true);  // already registered: the same cookie
  EXPECT_EQ(fg.RotCookie(), cookie);
  fg.SetActive(false);
  EXPECT_EQ(fg.RotCookie(), 0u);
  EXPECT_TRUE(fg.GraphEdit());
}

TEST(TFilterGraph, LogFileChangesWhileActive) {
  const std::string dir = kdtest::TempDir();
  std::vector<std::string> log;
  FakeGraphFilter a("A", log);
  TFilterGraph fg;
  a.Owner = &fg;
  fg.SetLogFile(dir + "/never.txt");
  EXPECT_FALSE(FileExists(dir + "/never.txt"));
  fg.SetLogFile(dir + "/one.txt");
  fg.SetActive(true);
  fg.Stop();
  EXPECT_EQ(FileText(dir + "/one.txt"), "Stop\n");

  fg.SetLogFile(dir + "/two.txt");
  fg.InsertFilter(&a);
  EXPECT_EQ(fg.LogFile(), dir + "/two.txt");
  EXPECT_EQ(FileText(dir + "/one.txt"), "Stop\n");
  EXPECT_EQ(FileText(dir + "/two.txt"), "AddFilter \"A\"\n");

  // A file that cannot be created: no log at all, the name stays, nothing is raised.
  EXPECT_NO_THROW(fg.SetLogFile(dir + "/missing/dir/three.txt"));
  EXPECT_EQ(fg.LogFile(), dir + "/two.txt");
  fg.Stop();
  EXPECT_EQ(FileText(dir + "/two.txt"), "AddFilter \"A\"\n");

  fg.SetLogFile("");
  EXPECT_EQ(fg.LogFile(), "");
  fg.RemoveFilter(&a);
  EXPECT_EQ(FileText(dir + "/two.txt"), "AddFilter \"A\"\n");
}

TEST(TFilterGraph, Stop) {
  {
    TFilterGraph fg;
    EXPECT_FALSE(fg.Stop());  // inactive: no IMediaControl, no exception
    fg.SetActive(true);
    EXPECT_TRUE(fg.Stop());  // an empty graph stops with S_OK
  }
  StopGraph graph;
  ClassOverride fake(CLSID_FilterGraph, Serving(graph));
  TFilterGraph fg;
  fg.SetActive(true);
  graph.StopResult = S_FALSE;
  EXPECT_FALSE(fg.Stop());
  graph.StopResult = E_FAIL;
  try {
    fg.Stop();
    ADD_FAILURE();
  } catch (const EDirectShowException& e) {
    EXPECT_EQ(e.ErrorCode, E_FAIL);
    EXPECT_EQ(e.Message, "Unspecified error ($80004005).");
  }
  fg.SetActive(false);
  EXPECT_EQ(graph.Refs, 1u);
}

TEST(TFilterGraph, VolumeAndBalance) {
  TFilterGraph fg;
  fg.SetVolume(20000);
  EXPECT_EQ(fg.Volume(), 10000);
  fg.SetVolume(-1);
  EXPECT_EQ(fg.Volume(), 0);
  fg.SetBalance(-20000);
  EXPECT_EQ(fg.Balance(), -10000);
  fg.SetBalance(20000);
  EXPECT_EQ(fg.Balance(), 10000);

  fg.SetActive(true);
  ComPtr<IBasicAudio> audio = From<IBasicAudio>(fg);
  ASSERT_TRUE(audio);
  auto volume = [&] {
    int32_t v = 1;
    audio->get_Volume(&v);
    return v;
  };
  auto balance = [&] {
    int32_t v = 1;
    audio->get_Balance(&v);
    return v;
  };
  const int32_t linearVolume[][2] = {{10000, 0}, {0, -10000}, {5000, -752}, {1, -9247}};
  for (auto& c : linearVolume) {
    fg.SetVolume(c[0]);
    EXPECT_EQ(volume(), c[1]) << c[0];
  }
  const int32_t linearBalance[][2] = {{0, 0}, {10000, -10000}, {-10000, 10000}, {1, -753}};
  for (auto& c : linearBalance) {
    fg.SetBalance(c[0]);
    EXPECT_EQ(balance(), c[1]) << c[0];
  }
  // Switching the curve applies both again: volume 1 and balance 1, now taken as they are.
  fg.SetLinearVolume(false);
  EXPECT_EQ(volume(), 1 - 10000);
  EXPECT_EQ(balance(), 1);
  fg.SetVolume(10000);
  EXPECT_EQ(volume(), 0);
  fg.SetVolume(0);
  EXPECT_EQ(volume(), -10000);
  fg.SetBalance(-20000);
  EXPECT_EQ(balance(), -10000);
}

TEST(TFilterGraph, ModeChangeRebuildsTheGraph) {
  std::vector<std::string> log;
  FakeGraphFilter a("A", log);
  TFilterGraph fg;
  a.Owner = &fg;
  fg.InsertFilter(&a);
  fg.SetGraphEdit(true);
  fg.SetMode(TGraphMode::gmCapture);  // inactive: just stored
  EXPECT_FALSE(fg.Active());
  fg.SetMode(TGraphMode::gmNormal);
  fg.SetActive(true);
  const uint32_t firstCookie = fg.RotCookie();
  log.clear();

  fg.SetMode(TGraphMode::gmCapture);
  EXPECT_TRUE(fg.Active());
  EXPECT_EQ(log, std::vector<std::string>({"A:removing+0", "A:removed-0", "A:adding-0", "A:added+0"}));
  ASSERT_NE(fg.CaptureGraph(), nullptr);
  ComPtr<IGraphBuilder> built;
  fg.CaptureGraph()->GetFiltergraph(built.Put());
  EXPECT_EQ(built.Get(), static_cast<IGraphBuilder*>(fg.FilterGraph()));
  EXPECT_NE(fg.RotCookie(), 0u);
  EXPECT_NE(fg.RotCookie(), firstCookie);
  EXPECT_TRUE(From<ICaptureGraphBuilder2>(fg));  // the builder answers first

  fg.SetMode(TGraphMode::gmDVD);
  EXPECT_EQ(fg.CaptureGraph(), nullptr);
  ASSERT_NE(fg.DVDGraph(), nullptr);
  fg.DVDGraph()->GetFiltergraph(built.Put());
  EXPECT_EQ(built.Get(), static_cast<IGraphBuilder*>(fg.FilterGraph()));
  EXPECT_EQ(a.Base.Refs, 2u);
  fg.SetActive(false);
  EXPECT_EQ(fg.DVDGraph(), nullptr);
  EXPECT_EQ(a.Base.Refs, 1u);
}

TEST(TFilterGraph, QueryInterface) {
  TFilterGraph fg;
  void* p = nullptr;
  EXPECT_EQ(fg.QueryInterface(IUnknown::IID, &p), S_OK);
  EXPECT_EQ(fg.QueryInterface(IAMGraphBuilderCallback::IID, &p), S_OK);
  EXPECT_EQ(p, static_cast<IAMGraphBuilderCallback*>(&fg));
  EXPECT_EQ(fg.QueryInterface(IServiceProvider::IID, &p), S_OK);
  EXPECT_EQ(fg.QueryInterface(IMediaControl::IID, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  fg.SetActive(true);
  ComPtr<IMediaControl> control = From<IMediaControl>(fg);
  EXPECT_TRUE(control);
  EXPECT_EQ(fg.QueryInterface(IDvdInfo2::IID, &p), E_NOINTERFACE);
}

TEST(TFilterGraph, InsertAndRemoveWhileActive) {
  std::vector<std::string> log;
  FakeGraphFilter a("A", log);
  TFilterGraph fg;
  a.Owner = &fg;
  fg.SetActive(true);
  fg.InsertFilter(&a);
  fg.InsertFilter(&a);  // once only
  fg.RemoveFilter(nullptr);
  EXPECT_EQ(log, std::vector<std::string>({"A:adding-0", "A:added+0"}));
  fg.RemoveFilter(&a);
  fg.RemoveFilter(&a);  // not attached any more: nothing
  EXPECT_EQ(log, std::vector<std::string>({"A:adding-0", "A:added+0", "A:removing+0", "A:removed-0"}));
  EXPECT_EQ(a.Refs, 1u);
  fg.SetActive(false);
  EXPECT_EQ(log.size(), 4u);
}

// ---- Events ----------------------------------------------------------------------------

namespace {

std::string Join(std::initializer_list<std::string> parts) {
  std::string s;
  for (auto& p : parts) s += (s.empty() ? "" : " ") + p;
  return s;
}
std::string N(int64_t v) { return std::to_string(v); }

// Every event handler writes one line: its name and its arguments.
void HookAll(TFilterGraph& fg, std::vector<std::string>& log) {
  auto notify = [&log, &fg](const char* name) {
    return [&log, &fg, name](TObject* Sender) { log.push_back(std::string(name) + (Sender == &fg ? "" : " ?")); };
  };
  fg.OnDSEvent = [&log](TComponent*, int32_t e, LONG_PTR p1, LONG_PTR p2) {
    log.push_back(Join({"DSEvent", N(e), N(p1), N(p2)}));
  };
  fg.OnGraphBufferingData = [&log](TObject*, bool b) { log.push_back(Join({"BufferingData", N(b)})); };
  fg.OnGraphClockChanged = notify("ClockChanged");
  fg.OnGraphComplete = [&log](TObject*, HRESULT r, IBaseFilter* f) { log.push_back(Join({"Complete", N(r), Ptr(f)})); };
  fg.OnGraphDeviceLost = [&log](TObject*, IUnknown* d, bool r) { log.push_back(Join({"DeviceLost", Ptr(d), N(r)})); };
  fg.OnGraphEndOfSegment = [&log](TObject*, int64_t t, uint32_t n) { log.push_back(Join({"EndOfSegment", N(t), N(n)})); };
  fg.OnGraphErrorStillPlaying = [&log](TObject*, HRESULT r) { log.push_back(Join({"ErrorStillPlaying", N(r)})); };
  fg.OnGraphErrorAbort = [&log](TObject*, HRESULT r) { log.push_back(Join({"ErrorAbort", N(r)})); };
  fg.OnGraphFullscreenLost = [&log](TObject*, IBaseFilter* f) { log.push_back(Join({"FullscreenLost", Ptr(f)})); };
  fg.OnGraphChanged = notify("GraphChanged");
  fg.OnGraphOleEvent = [&log](TObject*, const std::u16string& a, const std::u16string& b) {
    log.push_back(Join({"OleEvent", Utf16ToUtf8(a), Utf16ToUtf8(b)}));
  };
  fg.OnGraphOpeningFile = [&log](TObject*, bool b) { log.push_back(Join({"OpeningFile", N(b)})); };
  fg.OnGraphPaletteChanged = notify("PaletteChanged");
  fg.OnGraphPaused = [&log](TObject*, HRESULT r) { log.push_back(Join({"Paused", N(r)})); };
  fg.OnGraphQualityChange = notify("QualityChange");
  fg.OnGraphSNDDevInError = [&log](TObject*, TSndDevErr w, uint32_t c) { log.push_back(Join({"SNDDevInError", N(w), N(c)})); };
  fg.OnGraphSNDDevOutError = [&log](TObject*, TSndDevErr w, uint32_t c) { log.push_back(Join({"SNDDevOutError", N(w), N(c)})); };
  fg.OnGraphStepComplete = notify("StepComplete");
  fg.OnGraphStreamControlStarted = [&log](TObject*, IPin* p, uint32_t c) { log.push_back(Join({"StreamControlStarted", Ptr(p), N(c)})); };
  fg.OnGraphStreamControlStopped = [&log](TObject*, IPin* p, uint32_t c) { log.push_back(Join({"StreamControlStopped", Ptr(p), N(c)})); };
  fg.OnGraphStreamErrorStillPlaying = [&log](TObject*, HRESULT o, uint32_t v) { log.push_back(Join({"StreamErrorStillPlaying", N(o), N(v)})); };
  fg.OnGraphStreamErrorStopped = [&log](TObject*, HRESULT o, uint32_t v) { log.push_back(Join({"StreamErrorStopped", N(o), N(v)})); };
  fg.OnGraphUserAbort = notify("UserAbort");
  fg.OnGraphVideoSizeChanged = [&log](TObject*, uint16_t w, uint16_t h) { log.push_back(Join({"VideoSizeChanged", N(w), N(h)})); };
  fg.OnGraphTimeCodeAvailable = [&log](TObject*, IBaseFilter* f, uint32_t d) { log.push_back(Join({"TimeCodeAvailable", Ptr(f), N(d)})); };
  fg.OnGraphEXTDeviceModeChange = [&log](TObject*, uint32_t m, uint32_t d) { log.push_back(Join({"EXTDeviceModeChange", N(m), N(d)})); };
  fg.OnGraphClockUnset = notify("ClockUnset");
  fg.OnGraphVMRRenderDevice = [&log](TObject*, int32_t d) { log.push_back(Join({"VMRRenderDevice", N(d)})); };
  fg.OnDVDAudioStreamChange = [&log](TObject*, int32_t s, int32_t l, const std::string& lang) { log.push_back(Join({"DVDAudioStreamChange", N(s), N(l), lang})); };
  fg.OnDVDAngleChange = [&log](TObject*, int32_t t, int32_t c) { log.push_back(Join({"DVDAngleChange", N(t), N(c)})); };
  fg.OnDVDButtonChange = [&log](TObject*, int32_t t, int32_t c) { log.push_back(Join({"DVDButtonChange", N(t), N(c)})); };
  fg.OnDVDChapterStart = [&log](TObject*, int32_t c) { log.push_back(Join({"DVDChapterStart", N(c)})); };
  fg.OnDVDCurrentTime = [&log](TObject*, int32_t h, int32_t m, int32_t s, int32_t f, int32_t r) {
    log.push_back(Join({"DVDCurrentTime", N(h), N(m), N(s), N(f), N(r)}));
  };
  fg.OnDVDTitleChange = [&log](TObject*, int32_t t) { log.push_back(Join({"DVDTitleChange", N(t)})); };
  fg.OnDVDValidUOPSChange = [&log](TObject*, int32_t u) { log.push_back(Join({"DVDValidUOPSChange", N(u)})); };
  fg.OnDVDStillOn = [&log](TObject*, bool b, int32_t s) { log.push_back(Join({"DVDStillOn", N(b), N(s)})); };
  fg.OnDVDStillOff = notify("DVDStillOff");
  fg.OnDVDSubpictureStreamChange = [&log](TObject*, int32_t s, int32_t l, const std::string& lang) { log.push_back(Join({"DVDSubpictureStreamChange", N(s), N(l), lang})); };
  fg.OnDVDChapterAutoStop = notify("DVDChapterAutoStop");
  fg.OnDVDNoFP_PGC = notify("DVDNoFP_PGC");
  fg.OnDVDPlaybackRateChange = [&log](TObject*, float r) { log.push_back(Join({"DVDPlaybackRateChange", FloatToStr(r)})); };
  fg.OnDVDParentalLevelChange = [&log](TObject*, int32_t l) { log.push_back(Join({"DVDParentalLevelChange", N(l)})); };
  fg.OnDVDPlaybackStopped = notify("DVDPlaybackStopped");
  fg.OnDVDAnglesAvailable = [&log](TObject*, bool a) { log.push_back(Join({"DVDAnglesAvailable", N(a)})); };
  fg.OnDVDPlayPeriodAutoStop = notify("DVDPlayPeriodAutoStop");
  fg.OnDVDButtonAutoActivated = [&log](TObject*, uint32_t b) { log.push_back(Join({"DVDButtonAutoActivated", N(b)})); };
  fg.OnDVDCMDStart = [&log](TObject*, uint32_t c) { log.push_back(Join({"DVDCMDStart", N(c)})); };
  fg.OnDVDCMDEnd = [&log](TObject*, uint32_t c) { log.push_back(Join({"DVDCMDEnd", N(c)})); };
  fg.OnDVDDiscEjected = notify("DVDDiscEjected");
  fg.OnDVDDiscInserted = notify("DVDDiscInserted");
  fg.OnDVDCurrentHMSFTime = [&log](TObject*, TDVDHMSFTimeCode h, TDVDTimeCode t) {
    log.push_back(Join({"DVDCurrentHMSFTime", N(h.bHours), N(h.bMinutes), N(h.bSeconds), N(h.bFrames), N(t.Hours1),
                        N(t.Hours10), N(t.Minutes1), N(t.Minutes10), N(t.Seconds1), N(t.Seconds10), N(t.Frames1),
                        N(t.Frames10), N(t.FrameRateCode)}));
  };
  fg.OnDVDKaraokeMode = [&log](TObject*, bool p) { log.push_back(Join({"DVDKaraokeMode", N(p)})); };
  fg.OnDVDWarningInvalidDVD1_0Disc = notify("DVDWarningInvalidDVD1_0Disc");
  fg.OnDVDWarningFormatNotSupported = notify("DVDWarningFormatNotSupported");
  fg.OnDVDWarningIllegalNavCommand = notify("DVDWarningIllegalNavCommand");
  fg.OnDVDWarningOpen = notify("DVDWarningOpen");
  fg.OnDVDWarningSeek = notify("DVDWarningSeek");
  fg.OnDVDWarningRead = notify("DVDWarningRead");
  fg.OnDVDDomainFirstPlay = notify("DVDDomainFirstPlay");
  fg.OnDVDDomainVideoManagerMenu = notify("DVDDomainVideoManagerMenu");
  fg.OnDVDDomainVideoTitleSetMenu = notify("DVDDomainVideoTitleSetMenu");
  fg.OnDVDDomainTitle = notify("DVDDomainTitle");
  fg.OnDVDDomainStop = notify("DVDDomainStop");
  fg.OnDVDErrorUnexpected = notify("DVDErrorUnexpected");
  fg.OnDVDErrorCopyProtectFail = notify("DVDErrorCopyProtectFail");
  fg.OnDVDErrorInvalidDVD1_0Disc = notify("DVDErrorInvalidDVD1_0Disc");
  fg.OnDVDErrorInvalidDiscRegion = notify("DVDErrorInvalidDiscRegion");
  fg.OnDVDErrorLowParentalLevel = notify("DVDErrorLowParentalLevel");
  fg.OnDVDErrorMacrovisionFail = notify("DVDErrorMacrovisionFail");
  fg.OnDVDErrorIncompatibleSystemAndDecoderRegions = notify("DVDErrorIncompatibleSystemAndDecoderRegions");
  fg.OnDVDErrorIncompatibleDiscAndDecoderRegions = notify("DVDErrorIncompatibleDiscAndDecoderRegions");
}

struct EventCase {
  int32_t Code;
  LONG_PTR P1, P2;
  std::string Fired;  // empty: only OnDSEvent
};

LONG_PTR L(const void* p) { return reinterpret_cast<LONG_PTR>(p); }

}  // namespace

TEST(TFilterGraphEvents, EveryCodeReachesItsHandler) {
  FakeBaseFilter renderer;
  FakeUnknown device;
  FakePin pin(nullptr);
  int64_t streamTime = 1234567890123LL;
  IBaseFilter* r = &renderer;
  IPin* p = &pin;
  IUnknown* d = &device;
  const std::vector<EventCase> cases = {
      {0x01, HResult(0x80004004), L(r), "Complete -2147467260 " + Ptr(r)},
      {0x02, 0, 0, "UserAbort"},
      {0x03, E_FAIL, 0, "ErrorAbort -2147467259"},
      {0x06, E_FAIL, 7, "StreamErrorStopped -2147467259 7"},
      {0x07, 5, 0xFFFFFFFF, "StreamErrorStillPlaying 5 4294967295"},
      {0x08, 9, 0, "ErrorStillPlaying 9"},
      {0x09, 0, 0, "PaletteChanged"},
      {0x0A, 0x01E0 * 65536 + 0x0280, 0, "VideoSizeChanged 640 480"},
      {0x0B, 0, 0, "QualityChange"},
      {0x0D, 0, 0, "ClockChanged"},
      {0x0E, 3, 0, "Paused 3"},
      {0x10, 1, 0, "OpeningFile 1"},
      {0x10, 2, 0, "OpeningFile 0"},
      {0x11, 1, 0, "BufferingData 1"},
      {0x11, 0, 0, "BufferingData 0"},
      {0x12, 0, L(r), "FullscreenLost " + Ptr(r)},
      {0x18, L(SysAllocString(u"first")), L(SysAllocString(u"second")), "OleEvent first second"},
      {0x1A, L(p), 11, "StreamControlStopped " + Ptr(p) + " 11"},
      {0x1B, L(p), 12, "StreamControlStarted " + Ptr(p) + " 12"},
      {0x1C, L(&streamTime), 3, "EndOfSegment 1234567890123 3"},
      {0x1C, 0, 4, "EndOfSegment 0 4"},
      {0x1F, L(d), 1, "DeviceLost " + Ptr(d) + " 1"},
      {0x1F, L(d), 0, "DeviceLost " + Ptr(d) + " 0"},
      {0x24, 0, 0, "StepComplete"},
      {0x30, L(r), 77, "TimeCodeAvailable " + Ptr(r) + " 77"},
      {0x31, 2, 78, "EXTDeviceModeChange 2 78"},
      {0x50, 0, 0, "GraphChanged"},
      {0x51, 0, 0, "ClockUnset"},
      {0x53, -4, 0, "VMRRenderDevice -4"},
      {0x200, 9, 0xFFFFFFFF, "SNDDevInError 9 4294967295"},
      {0x201, 12, 6, "SNDDevOutError 12 6"},
      {0x101, 1, 0, "DVDDomainFirstPlay"},
      {0x101, 2, 0, "DVDDomainVideoManagerMenu"},
      {0x101, 3, 0, "DVDDomainVideoTitleSetMenu"},
      {0x101, 4, 0, "DVDDomainTitle"},
      {0x101, 5, 0, "DVDDomainStop"},
      {0x101, 6, 0, ""},
      {0x102, 8, 0, "DVDTitleChange 8"},
      {0x103, 9, 0, "DVDChapterStart 9"},
      {0x104, 2, 0, ""},  // no DVD navigator in a plain graph: no language, no event
      {0x105, 2, 0, ""},
      {0x106, 4, 2, "DVDAngleChange 4 2"},
      {0x107, 5, 1, "DVDButtonChange 5 1"},
      {0x108, 0x1FF, 0, "DVDValidUOPSChange 511"},
      {0x109, 1, 30, "DVDStillOn 1 30"},
      {0x109, 2, 30, "DVDStillOn 0 30"},
      {0x10A, 0, 0, "DVDStillOff"},
      {0x10B, 0x12345679, 0, "DVDCurrentTime 21 43 65 27 25"},
      {0x10B, 0x0000000B, 0, "DVDCurrentTime 0 0 0 20 30"},
      {0x10B, 0x00000002, 0, "DVDCurrentTime 0 0 0 0 0"},
      {0x10C, 1, 0, "DVDErrorUnexpected"},
      {0x10C, 2, 0, "DVDErrorCopyProtectFail"},
      {0x10C, 3, 0, "DVDErrorInvalidDVD1_0Disc"},
      {0x10C, 4, 0, "DVDErrorInvalidDiscRegion"},
      {0x10C, 5, 0, "DVDErrorLowParentalLevel"},
      {0x10C, 6, 0, "DVDErrorMacrovisionFail"},
      {0x10C, 7, 0, "DVDErrorIncompatibleSystemAndDecoderRegions"},
      {0x10C, 8, 0, "DVDErrorIncompatibleDiscAndDecoderRegions"},
      {0x10C, 9, 0, ""},
      {0x10C, 0, 0, ""},
      {0x10D, 1, 0, "DVDWarningInvalidDVD1_0Disc"},
      {0x10D, 2, 0, "DVDWarningFormatNotSupported"},
      {0x10D, 3, 0, "DVDWarningIllegalNavCommand"},
      {0x10D, 4, 0, "DVDWarningOpen"},
      {0x10D, 5, 0, "DVDWarningSeek"},
      {0x10D, 6, 0, "DVDWarningRead"},
      {0x10D, 7, 0, ""},
      {0x10E, 0, 0, "DVDChapterAutoStop"},
      {0x10F, 0, 0, "DVDNoFP_PGC"},
      {0x110, 15000, 0, "DVDPlaybackRateChange 1.5"},
      {0x110, -10000, 0, "DVDPlaybackRateChange -1"},
      {0x111, 6, 0, "DVDParentalLevelChange 6"},
      {0x112, 0, 0, "DVDPlaybackStopped"},
      {0x113, 1, 0, "DVDAnglesAvailable 1"},
      {0x113, 3, 0, "DVDAnglesAvailable 0"},
      {0x114, 0, 0, "DVDPlayPeriodAutoStop"},
      {0x115, 14, 0, "DVDButtonAutoActivated 14"},
      {0x116, 21, 0, "DVDCMDStart 21"},
      {0x117, 22, 0, "DVDCMDEnd 22"},
      {0x118, 0, 0, "DVDDiscEjected"},
      {0x119, 0, 0, "DVDDiscInserted"},
      {0x11A, 0x04030201, 0x12345679, "DVDCurrentHMSFTime 1 2 3 4 1 2 3 4 5 6 7 2 1"},
      {0x11B, 2, 0, "DVDKaraokeMode 1"},
      {0x11B, 0, 0, "DVDKaraokeMode 0"},
      {0x999, 1, 2, ""},
  };

  TFilterGraph fg;
  std::vector<std::string> log;
  HookAll(fg, log);
  fg.SetActive(true);
  ComPtr<IMediaEventSink> sink = From<IMediaEventSink>(fg);
  ASSERT_TRUE(sink);
  std::vector<std::string> expected;
  for (const EventCase& c : cases) {
    sink->Notify(c.Code, c.P1, c.P2);
    expected.push_back(Join({"DSEvent", N(c.Code), N(c.P1), N(c.P2)}));
    if (!c.Fired.empty()) expected.push_back(c.Fired);
  }
  EXPECT_TRUE(log.empty());  // delivery waits for the event loop
  DrainMessages();
  ASSERT_EQ(log.size(), expected.size());
  for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i], expected[i]) << i;
  // Every interface parameter was given back after its event.
  EXPECT_EQ(renderer.Refs, 1u);
  EXPECT_EQ(pin.Refs, 1u);
  EXPECT_EQ(device.Refs, 1u);
}

TEST(TFilterGraphEvents, DvdStreamLanguages) {
  ExceptionCatcher caught;
  LanguageDvdBuilder builder;
  ClassOverride dvd(CLSID_DvdGraphBuilder, Serving(builder));
  TFilterGraph fg;
  std::vector<std::string> log;
  HookAll(fg, log);
  fg.OnDSEvent = nullptr;
  fg.SetMode(TGraphMode::gmDVD);
  fg.SetActive(true);
  ComPtr<IMediaEventSink> sink = From<IMediaEventSink>(fg);
  sink->Notify(EC_DVD_AUDIO_STREAM_CHANGE, 2, 0);
  sink->Notify(EC_DVD_AUDIO_STREAM_CHANGE, 1, 0);
  sink->Notify(EC_DVD_SUBPICTURE_STREAM_CHANGE, 3, 0);
  sink->Notify(EC_DVD_SUBPICTURE_STREAM_CHANGE, 99, 0);  // failure not examined: lcid 0
  sink->Notify(EC_DVD_AUDIO_STREAM_CHANGE, 99, 0);       // failure raises
  sink->Notify(EC_DVD_TITLE_CHANGE, 1, 0);               // still delivered afterwards
  DrainMessages();
  EXPECT_EQ(log, std::vector<std::string>({"DVDAudioStreamChange 2 1043 Dutch",
                                           "DVDAudioStreamChange 1 1033 English",
                                           "DVDSubpictureStreamChange 3 1031 German",
                                           "DVDSubpictureStreamChange 99 0 ", "DVDTitleChange 1"}));
  EXPECT_EQ(caught.Messages, std::vector<std::string>({"Unspecified error ($80004005)."}));
  fg.SetActive(false);
}

TEST(TFilterGraphEvents, AHandlerThatRaisesEndsTheBatchAndFreesItsEvent) {
  ExceptionCatcher caught;
  FakeBaseFilter renderer;
  TFilterGraph fg;
  std::vector<std::string> log;
  fg.OnGraphComplete = [](TObject*, HRESULT, IBaseFilter*) { throw EInvalidOperation("handler failed"); };
  fg.OnGraphUserAbort = [&](TObject*) { log.push_back("UserAbort"); };
  fg.SetActive(true);
  ComPtr<IMediaEventSink> sink = From<IMediaEventSink>(fg);
  sink->Notify(EC_COMPLETE, 0, L(static_cast<IBaseFilter*>(&renderer)));
  sink->Notify(EC_USERABORT, 0, 0);
  DrainMessages();
  EXPECT_EQ(caught.Messages, std::vector<std::string>({"handler failed"}));
  EXPECT_EQ(log, std::vector<std::string>({"UserAbort"}));  // its own message drains it
  EXPECT_EQ(renderer.Refs, 1u);
}

TEST(TFilterGraphEvents, RaisedOnAnotherThreadHandledOnTheGuiThread) {
  TFilterGraph fg;
  std::vector<bool> onGui;
  fg.OnGraphPaused = [&](TObject*, HRESULT) {
    onGui.push_back(QThread::currentThread() == QCoreApplication::instance()->thread());
  };
  fg.SetActive(true);
  ComPtr<IMediaEventSink> sink = From<IMediaEventSink>(fg);
  std::thread t([&] {
    for (int i = 0; i < 4; ++i) sink->Notify(EC_PAUSED, i, 0);
  });
  t.join();
  DrainMessages();
  EXPECT_EQ(onGui, std::vector<bool>(4, true));
}

TEST(TFilterGraphEvents, NothingArrivesAfterDeactivationOrDestruction) {
  FakeBaseFilter renderer;
  int fired = 0;
  {
    auto fg = std::make_unique<TFilterGraph>();
    fg->OnDSEvent = [&](TComponent*, int32_t, LONG_PTR, LONG_PTR) { ++fired; };
    fg->SetActive(true);
    ComPtr<IMediaEventSink> sink = From<IMediaEventSink>(*fg);
    sink->Notify(EC_COMPLETE, 0, L(static_cast<IBaseFilter*>(&renderer)));
    fg->SetActive(false);
    DrainMessages();
    EXPECT_EQ(fired, 0);
    sink = nullptr;
    EXPECT_EQ(renderer.Refs, 1u);  // released with the graph

    fg->SetActive(true);
    From<IMediaEventSink>(*fg)->Notify(EC_USERABORT, 0, 0);
    fg.reset();
    DrainMessages();
    EXPECT_EQ(fired, 0);
  }
}

// ---- Builder callbacks -----------------------------------------------------------------

namespace {

class FakeBag : public IPropertyBag {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (iid == IUnknown::IID || iid == IPropertyBag::IID) {
      *obj = static_cast<IPropertyBag*>(this);
      AddRef();
      return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  HRESULT Read(LPCWSTR Name, std::u16string* Value) override {
    auto it = Values.find(Name);
    if (it == Values.end()) return E_INVALIDARG;
    *Value = it->second;
    return S_OK;
  }
  std::map<std::u16string, std::u16string> Values;
  ULONG Refs = 1;
};

class FakeMoniker : public IMoniker {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (iid == IUnknown::IID || iid == IMoniker::IID) {
      *obj = static_cast<IMoniker*>(this);
      AddRef();
      return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  HRESULT BindToStorage(const GUID& iid, void** Obj) override {
    if (!Bindable) {
      *Obj = nullptr;
      return E_FAIL;
    }
    return Bag.QueryInterface(iid, Obj);
  }
  HRESULT GetDisplayName(std::u16string* Name) override {
    *Name = u"@device:test";
    return S_OK;
  }
  FakeBag Bag;
  bool Bindable = true;
  ULONG Refs = 1;
};

}  // namespace

TEST(TFilterGraphCallbacks, SelectedFilter) {
  TFilterGraph fg;
  FakeMoniker m;
  EXPECT_EQ(fg.SelectedFilter(&m), S_OK);  // no handler

  std::vector<std::string> seen;
  bool answer = false;
  fg.OnSelectedFilter = [&](IMoniker* Moniker, const std::u16string& Name, const GUID& ClassID) {
    seen.push_back(Join({Moniker == &m ? "m" : "?", Utf16ToUtf8(Name), GUIDToString(ClassID)}));
    return answer;
  };
  m.Bag.Values[u"CLSID"] = u"{e436ebb3-524f-11ce-9f53-0020af0ba770}";
  m.Bag.Values[u"FriendlyName"] = u"Video Renderer";
  EXPECT_EQ(fg.SelectedFilter(&m), E_FAIL);
  answer = true;
  m.Bag.Values[u"CLSID"] = u"not a guid";
  m.Bag.Values.erase(u"FriendlyName");
  EXPECT_EQ(fg.SelectedFilter(&m), S_OK);
  m.Bindable = false;
  EXPECT_EQ(fg.SelectedFilter(&m), S_OK);
  const std::string null = GUIDToString(GUID_NULL);
  EXPECT_EQ(seen, std::vector<std::string>({"m Video Renderer {E436EBB3-524F-11CE-9F53-0020AF0BA770}",
                                            "m  " + null, "m  " + null}));
  EXPECT_EQ(m.Bag.Refs, 1u);
}

TEST(TFilterGraphCallbacks, CreatedFilter) {
  TFilterGraph fg;
  FakeBaseFilter f(CLSID_DvdGraphBuilder);
  EXPECT_EQ(fg.CreatedFilter(&f), S_OK);
  GUID got;
  bool answer = false;
  fg.OnCreatedFilter = [&](IBaseFilter* Filter, const GUID& ClassID) {
    EXPECT_EQ(Filter, &f);
    got = ClassID;
    return answer;
  };
  EXPECT_EQ(fg.CreatedFilter(&f), E_FAIL);
  EXPECT_EQ(got, CLSID_DvdGraphBuilder);
  answer = true;
  EXPECT_EQ(fg.CreatedFilter(&f), S_OK);
}

TEST(TFilterGraphCallbacks, UnableToRenderFindsTheComponentThroughTheGraph) {
  FakeBaseFilter f;  // outlives the graph that holds it
  TFilterGraph fg;
  fg.SetActive(true);
  fg.FilterGraph()->AddFilter(&f, u"Source");
  FakePin pin(&f);
  IAMFilterGraphCallback* callback = &fg;
  EXPECT_EQ(callback->UnableToRender(&pin), S_FALSE);  // no handler

  std::vector<IPin*> asked;
  bool answer = true;
  fg.OnUnableToRender = [&](IPin* Pin) {
    asked.push_back(Pin);
    return answer;
  };
  EXPECT_EQ(callback->UnableToRender(&pin), S_OK);
  answer = false;
  EXPECT_EQ(callback->UnableToRender(&pin), S_FALSE);
  EXPECT_EQ(asked, std::vector<IPin*>({&pin, &pin}));

  // A pin whose filter is in no graph, and a pin without a filter.
  FakeBaseFilter loose;
  FakePin loosePin(&loose), orphan(nullptr);
  answer = true;
  EXPECT_EQ(callback->UnableToRender(&loosePin), S_FALSE);
  EXPECT_EQ(callback->UnableToRender(&orphan), S_FALSE);
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_EQ(f.Refs, 2u);  // the graph's reference only
  EXPECT_EQ(loose.Refs, 1u);
  EXPECT_EQ(pin.Refs, 1u);

  void* obj = &fg;
  EXPECT_EQ(fg.QueryService(SID_FilterGraphComponent, IUnknown::IID, &obj), E_NOINTERFACE);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(fg.QueryService(SID_FilterGraphComponent, SID_FilterGraphComponent, &obj), S_OK);
  EXPECT_EQ(obj, &fg);
}
