#include "platform/DirectShow.h"

#include <unistd.h>

#include <QMetaObject>
#include <QObject>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/TextCodec.h"

namespace platform {

// ---- GUIDs ------------------------------------------------------------------------------

std::string GUIDToString(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

bool TryStringToGUID(std::string_view s, GUID& g) {
  if (s.size() != 38 || s.front() != '{' || s.back() != '}') return false;
  auto hex = [&](size_t pos, int digits, uint64_t& out) {
    out = 0;
    for (int i = 0; i < digits; ++i) {
      char c = s[pos + static_cast<size_t>(i)];
      int v;
      if (c >= '0' && c <= '9') v = c - '0';
      else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
      else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
      else return false;
      out = out * 16 + static_cast<uint64_t>(v);
    }
    return true;
  };
  if (s[9] != '-' || s[14] != '-' || s[19] != '-' || s[24] != '-') return false;
  uint64_t v;
  GUID r;
  if (!hex(1, 8, v)) return false;
  r.Data1 = static_cast<uint32_t>(v);
  if (!hex(10, 4, v)) return false;
  r.Data2 = static_cast<uint16_t>(v);
  if (!hex(15, 4, v)) return false;
  r.Data3 = static_cast<uint16_t>(v);
  static constexpr size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!hex(kBytePos[i], 2, v)) return false;
    r.Data4[i] = static_cast<uint8_t>(v);
  }
  g = r;
  return true;
}

namespace {

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const {
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
  }
};

// Reference counting shared by the built-in objects; the last Release deletes.
template <class... Interfaces>
class TComObject : public Interfaces... {
 public:
  ULONG AddRef() override { return ++FRefCount; }
  ULONG Release() override {
    ULONG r = --FRefCount;
    if (r == 0) delete this;
    return r;
  }

 protected:
  ~TComObject() override = default;
  std::atomic<ULONG> FRefCount{0};
};

// Hands out interface iid of a freshly made object, or deletes it when it has none.
template <class T>
HRESULT HandOut(T* Obj, const GUID& iid, void** Out) {
  Obj->AddRef();
  HRESULT hr = Obj->QueryInterface(iid, Out);
  Obj->Release();
  return hr;
}

void WriteLog(DWORD_PTR Fd, const std::string& Line) {
  if (!Fd) return;
  std::string text = Line + "\n";
  ssize_t n = ::write(static_cast<int>(Fd), text.data(), text.size());
  (void)n;  // a log that cannot be written is not an error of the graph
}

// Interface references carried by an event's parameters: which of the two hold one.
void InterfaceParams(int32_t Code, bool& P1, bool& P2) {
  P1 = Code == EC_DEVICE_LOST || Code == EC_STREAM_CONTROL_STOPPED ||
       Code == EC_STREAM_CONTROL_STARTED || Code == EC_TIMECODE_AVAILABLE;
  P2 = Code == EC_COMPLETE || Code == EC_FULLSCREEN_LOST;
}

void AddRefParam(LONG_PTR P) {
  if (P) reinterpret_cast<IUnknown*>(P)->AddRef();
}
void ReleaseParam(LONG_PTR P) {
  if (P) reinterpret_cast<IUnknown*>(P)->Release();
}

// ---- The filter graph ------------------------------------------------------------------

class TFilterGraphObject final
    : public TComObject<IFilterGraph2, IMediaControl, IMediaEventEx, IMediaEventSink,
                        IBasicAudio, IObjectWithSite, IServiceProvider> {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (iid == IUnknown::IID) *obj = static_cast<IUnknown*>(static_cast<IFilterGraph2*>(this));
    else if (iid == IFilterGraph::IID) *obj = static_cast<IFilterGraph*>(this);
    else if (iid == IGraphBuilder::IID) *obj = static_cast<IGraphBuilder*>(this);
    else if (iid == IFilterGraph2::IID) *obj = static_cast<IFilterGraph2*>(this);
    else if (iid == IMediaControl::IID) *obj = static_cast<IMediaControl*>(this);
    else if (iid == IMediaEvent::IID) *obj = static_cast<IMediaEvent*>(this);
    else if (iid == IMediaEventEx::IID) *obj = static_cast<IMediaEventEx*>(this);
    else if (iid == IMediaEventSink::IID) *obj = static_cast<IMediaEventSink*>(this);
    else if (iid == IBasicAudio::IID) *obj = static_cast<IBasicAudio*>(this);
    else if (iid == IObjectWithSite::IID) *obj = static_cast<IObjectWithSite*>(this);
    else if (iid == IServiceProvider::IID) *obj = static_cast<IServiceProvider*>(this);
    else return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }

  // IFilterGraph
  HRESULT AddFilter(IBaseFilter* Filter, LPCWSTR Name) override {
    if (!Filter) return E_POINTER;
    for (auto& e : FFilters)
      if (e.Filter.Get() == Filter) return E_INVALIDARG;
    std::u16string name = Name ? std::u16string(Name) : std::u16string();
    HRESULT result = S_OK;
    if (Find(name)) {
      result = VFW_S_DUPLICATE_NAME;
      for (int i = 1;; ++i) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, " %04d", i);
        std::u16string candidate = name + Utf8ToUtf16(suffix);
        if (!Find(candidate)) {
          name = candidate;
          break;
        }
      }
    }
    HRESULT hr = Filter->JoinFilterGraph(this, name.c_str());
    if (Failed(hr)) return hr;
    FFilters.push_back({ComPtr<IBaseFilter>(Filter), name});
    WriteLog(FLogFile, "AddFilter \"" + Utf16ToUtf8(name) + "\"");
    return result;
  }

  HRESULT RemoveFilter(IBaseFilter* Filter) override {
    for (auto it = FFilters.begin(); it != FFilters.end(); ++it) {
      if (it->Filter.Get() != Filter) continue;
      Entry e = std::move(*it);
      FFilters.erase(it);
      e.Filter->JoinFilterGraph(nullptr, nullptr);
      WriteLog(FLogFile, "RemoveFilter \"" + Utf16ToUtf8(e.Name) + "\"");
      return S_OK;
    }
    return VFW_E_NOT_FOUND;
  }

  HRESULT FindFilterByName(LPCWSTR Name, IBaseFilter** Filter) override {
    if (!Filter) return E_POINTER;
    *Filter = nullptr;
    if (!Name) return E_POINTER;
    IBaseFilter* f = Find(Name);
    if (!f) return VFW_E_NOT_FOUND;
    f->AddRef();
    *Filter = f;
    return S_OK;
  }

  // IGraphBuilder
  HRESULT SetLogFile(DWORD_PTR File) override {
    FLogFile = File;
    return S_OK;
  }

  // IMediaControl
  HRESULT Stop() override {
    for (auto& e : FFilters) e.Filter->Stop();
    WriteLog(FLogFile, "Stop");
    return S_OK;
  }

  // IMediaEvent(Ex)
  HRESULT GetEvent(int32_t* EventCode, LONG_PTR* Param1, LONG_PTR* Param2, int32_t) override {
    if (!EventCode || !Param1 || !Param2) return E_POINTER;
    std::lock_guard<std::mutex> lock(FEventLock);
    if (FEvents.empty()) {
      *EventCode = 0;
      *Param1 = *Param2 = 0;
      return E_ABORT;
    }
    const Event e = FEvents.front();
    FEvents.pop_front();
    *EventCode = e.Code;
    *Param1 = e.P1;
    *Param2 = e.P2;
    return S_OK;
  }

  HRESULT FreeEventParams(int32_t EventCode, LONG_PTR Param1, LONG_PTR Param2) override {
    bool i1, i2;
    InterfaceParams(EventCode, i1, i2);
    if (i1) ReleaseParam(Param1);
    if (i2) ReleaseParam(Param2);
    if (EventCode == EC_OLE_EVENT) {
      SysFreeString(reinterpret_cast<BSTR>(Param1));
      SysFreeString(reinterpret_cast<BSTR>(Param2));
    }
    return S_OK;
  }

  HRESULT SetNotifyWindow(HWND Window, int32_t Msg, LONG_PTR InstanceData) override {
    std::lock_guard<std::mutex> lock(FEventLock);
    FWindow = Window;
    FMsg = Msg;
    FInstance = InstanceData;
    return S_OK;
  }
  HRESULT SetNotifyFlags(int32_t NoNotifyFlags) override {
    if (NoNotifyFlags != 0 && NoNotifyFlags != AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(FEventLock);
    FNoNotify = NoNotifyFlags;
    return S_OK;
  }
  HRESULT GetNotifyFlags(int32_t* NoNotifyFlags) override {
    if (!NoNotifyFlags) return E_POINTER;
    std::lock_guard<std::mutex> lock(FEventLock);
    *NoNotifyFlags = FNoNotify;
    return S_OK;
  }

  // IMediaEventSink: may be called from any thread.
  HRESULT Notify(int32_t EventCode, LONG_PTR Param1, LONG_PTR Param2) override {
    bool i1, i2;
    InterfaceParams(EventCode, i1, i2);
    if (i1) AddRefParam(Param1);
    if (i2) AddRefParam(Param2);
    std::unique_lock<std::mutex> lock(FEventLock);
    if (FNoNotify) {
      // With notification off the graph queues nothing.
      lock.unlock();
      FreeEventParams(EventCode, Param1, Param2);
      return S_OK;
    }
    FEvents.push_back({EventCode, Param1, Param2});
    if (FWindow) PostMessage(FWindow, static_cast<UINT>(FMsg), 0, FInstance);
    return S_OK;
  }

  // IBasicAudio: kept for the audio renderer the graph would drive.
  HRESULT put_Volume(int32_t Volume) override {
    if (Volume < -10000 || Volume > 0) return E_INVALIDARG;
    FVolume = Volume;
    return S_OK;
  }
  HRESULT get_Volume(int32_t* Volume) override {
    if (!Volume) return E_POINTER;
    *Volume = FVolume;
    return S_OK;
  }
  HRESULT put_Balance(int32_t Balance) override {
    if (Balance < -10000 || Balance > 10000) return E_INVALIDARG;
    FBalance = Balance;
    return S_OK;
  }
  HRESULT get_Balance(int32_t* Balance) override {
    if (!Balance) return E_POINTER;
    *Balance = FBalance;
    return S_OK;
  }

  // IObjectWithSite
  HRESULT SetSite(IUnknown* Site) override {
    FSite = ComPtr<IUnknown>(Site);
    return S_OK;
  }
  HRESULT GetSite(const GUID& iid, void** Site) override {
    if (!Site) return E_POINTER;
    *Site = nullptr;
    if (!FSite) return E_FAIL;
    return FSite->QueryInterface(iid, Site);
  }

  // IServiceProvider: the graph's services are those of its site.
  HRESULT QueryService(const GUID& Service, const GUID& iid, void** Obj) override {
    if (!Obj) return E_POINTER;
    *Obj = nullptr;
    ComPtr<IServiceProvider> sp;
    if (!FSite || Failed(QueryTo(FSite.Get(), sp))) return E_NOINTERFACE;
    return sp->QueryService(Service, iid, Obj);
  }

 private:
  ~TFilterGraphObject() override {
    for (const Event& e : FEvents) FreeEventParams(e.Code, e.P1, e.P2);
    for (auto& e : FFilters) e.Filter->JoinFilterGraph(nullptr, nullptr);
  }

  IBaseFilter* Find(const std::u16string& Name) const {
    for (auto& e : FFilters)
      if (e.Name == Name) return e.Filter.Get();
    return nullptr;
  }

  struct Entry {
    ComPtr<IBaseFilter> Filter;
    std::u16string Name;
  };
  struct Event {
    int32_t Code;
    LONG_PTR P1, P2;
  };
  std::vector<Entry> FFilters;
  DWORD_PTR FLogFile = 0;
  int32_t FVolume = 0;
  int32_t FBalance = 0;
  ComPtr<IUnknown> FSite;
  std::mutex FEventLock;
  std::deque<Event> FEvents;
  HWND FWindow = nullptr;
  int32_t FMsg = 0;
  LONG_PTR FInstance = 0;
  int32_t FNoNotify = 0;
};

HRESULT NewGraphBuilder(ComPtr<IGraphBuilder>& Graph) {
  return CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IGraphBuilder::IID,
                          Graph.PutVoid());
}

class TCaptureGraphBuilderObject final : public TComObject<ICaptureGraphBuilder2> {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (iid == IUnknown::IID || iid == ICaptureGraphBuilder2::IID)
      *obj = static_cast<ICaptureGraphBuilder2*>(this);
    else return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  HRESULT SetFiltergraph(IGraphBuilder* Graph) override {
    if (!Graph) return E_POINTER;
    if (FGraph) return E_UNEXPECTED;
    FGraph = ComPtr<IGraphBuilder>(Graph);
    return S_OK;
  }
  HRESULT GetFiltergraph(IGraphBuilder** Graph) override {
    if (!Graph) return E_POINTER;
    *Graph = nullptr;
    if (!FGraph) {
      HRESULT hr = NewGraphBuilder(FGraph);
      if (Failed(hr)) return hr;
    }
    *Graph = ComPtr<IGraphBuilder>(FGraph).Detach();
    return S_OK;
  }

 private:
  ComPtr<IGraphBuilder> FGraph;
};

class TDvdGraphBuilderObject final : public TComObject<IDvdGraphBuilder> {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (iid == IUnknown::IID || iid == IDvdGraphBuilder::IID)
      *obj = static_cast<IDvdGraphBuilder*>(this);
    else return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  HRESULT GetFiltergraph(IGraphBuilder** Graph) override {
    if (!Graph) return E_POINTER;
    *Graph = nullptr;
    if (!FGraph) {
      HRESULT hr = NewGraphBuilder(FGraph);
      if (Failed(hr)) return hr;
    }
    *Graph = ComPtr<IGraphBuilder>(FGraph).Detach();
    return S_OK;
  }
  HRESULT GetDvdInterface(const GUID&, void** Obj) override {
    if (!Obj) return E_POINTER;
    *Obj = nullptr;
    return E_NOINTERFACE;
  }

 private:
  ComPtr<IGraphBuilder> FGraph;
};

// ---- Sample grabber filter -------------------------------------------------------------

class TSampleGrabberObject;

// The grabber's pins live inside it and share its reference count.
class TGrabberPin final : public IPin {
 public:
  TGrabberPin(TSampleGrabberObject& Owner, PIN_DIRECTION Direction, const char16_t* Name)
      : FOwner(Owner), FDirection(Direction), FName(Name) {}
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (iid != IUnknown::IID && iid != IPin::IID) return E_NOINTERFACE;
    *obj = static_cast<IPin*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT Disconnect() override { return S_FALSE; }  // never connected
  HRESULT QueryPinInfo(PIN_INFO* Info) override;

 private:
  TSampleGrabberObject& FOwner;
  PIN_DIRECTION FDirection;
  const char16_t* FName;
};

class TSampleGrabberObject final : public TComObject<IBaseFilter, ISampleGrabber> {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (iid == IUnknown::IID || iid == IPersist::IID || iid == IMediaFilter::IID ||
        iid == IBaseFilter::IID)
      *obj = static_cast<IBaseFilter*>(this);
    else if (iid == ISampleGrabber::IID)
      *obj = static_cast<ISampleGrabber*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }

  HRESULT GetClassID(GUID* ClassID) override {
    if (!ClassID) return E_POINTER;
    *ClassID = CLSID_SampleGrabber;
    return S_OK;
  }
  HRESULT Stop() override { return S_OK; }
  HRESULT QueryFilterInfo(FILTER_INFO* Info) override {
    if (!Info) return E_POINTER;
    Info->achName = FName;
    Info->pGraph = FGraph;
    if (FGraph) FGraph->AddRef();
    return S_OK;
  }
  HRESULT JoinFilterGraph(IFilterGraph* Graph, LPCWSTR Name) override {
    FGraph = Graph;
    FName = Name ? Name : u"";
    return S_OK;
  }
  HRESULT EnumPins(IEnumPins** Enum) override;

  HRESULT SetMediaType(const AM_MEDIA_TYPE* Type) override {
    if (!Type) return E_POINTER;
    FMajorType = Type->majortype;
    FSubType = Type->subtype;
    FFormatType = Type->formattype;
    return S_OK;
  }
  HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* Type) override {
    return Type ? VFW_E_NOT_CONNECTED : E_POINTER;
  }
  HRESULT SetBufferSamples(bool Buffer) override {
    FBufferSamples = Buffer;
    return S_OK;
  }
  HRESULT GetCurrentBuffer(int32_t* BufferSize, uint8_t*) override {
    return BufferSize ? VFW_E_WRONG_STATE : E_POINTER;
  }
  HRESULT SetCallback(ISampleGrabberCB* Callback, int32_t WhichMethod) override {
    if (WhichMethod != 0 && WhichMethod != 1) return E_INVALIDARG;
    FCallback = ComPtr<ISampleGrabberCB>(Callback);
    FWhichMethod = WhichMethod;
    return S_OK;
  }

  TGrabberPin FInput{*this, PINDIR_INPUT, u"Input"};
  TGrabberPin FOutput{*this, PINDIR_OUTPUT, u"Output"};
  // What it was told; with no sample ever arriving, nothing reads it back.
  GUID FMajorType, FSubType, FFormatType;
  bool FBufferSamples = false;
  ComPtr<ISampleGrabberCB> FCallback;
  int32_t FWhichMethod = 0;

 private:
  ~TSampleGrabberObject() override = default;
  IFilterGraph* FGraph = nullptr;  // the graph holds us, not the other way round
  std::u16string FName;
};

ULONG TGrabberPin::AddRef() { return FOwner.AddRef(); }
ULONG TGrabberPin::Release() { return FOwner.Release(); }
HRESULT TGrabberPin::QueryPinInfo(PIN_INFO* Info) {
  if (!Info) return E_POINTER;
  Info->pFilter = &FOwner;
  FOwner.AddRef();
  Info->dir = FDirection;
  Info->achName = FName;
  return S_OK;
}

class TPinEnumerator final : public TComObject<IEnumPins> {
 public:
  explicit TPinEnumerator(TSampleGrabberObject* Owner) : FHold(Owner), FOwner(Owner) {}
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (iid != IUnknown::IID && iid != IEnumPins::IID) return E_NOINTERFACE;
    *obj = static_cast<IEnumPins*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT Next(ULONG Count, IPin** Pins, ULONG* Fetched) override {
    if (!Pins) return E_POINTER;
    if (Count > 1 && !Fetched) return E_POINTER;
    ULONG n = 0;
    while (n < Count && FNext < 2) {
      IPin* pin = FNext == 0 ? static_cast<IPin*>(&FOwner->FInput) : &FOwner->FOutput;
      pin->AddRef();
      Pins[n++] = pin;
      ++FNext;
    }
    if (Fetched) *Fetched = n;
    return n == Count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG Count) override {
    const ULONG left = 2 - FNext;
    FNext += Count < left ? Count : left;
    return Count <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    FNext = 0;
    return S_OK;
  }

 private:
  ComPtr<IBaseFilter> FHold;  // keeps the filter alive while enumerating
  TSampleGrabberObject* FOwner;
  ULONG FNext = 0;
};

HRESULT TSampleGrabberObject::EnumPins(IEnumPins** Enum) {
  if (!Enum) return E_POINTER;
  auto* e = new TPinEnumerator(this);
  e->AddRef();
  *Enum = e;
  return S_OK;
}

// ---- Class registry --------------------------------------------------------------------

struct ClassRegistry {
  std::mutex Lock;
  std::map<GUID, TComClassFactory, GuidLess> Factories;
};

ClassRegistry& Classes() {
  static ClassRegistry* registry = [] {
    auto* r = new ClassRegistry;
    r->Factories[CLSID_FilterGraph] = [](const GUID& iid, void** obj) {
      return HandOut(new TFilterGraphObject, iid, obj);
    };
    r->Factories[CLSID_CaptureGraphBuilder2] = [](const GUID& iid, void** obj) {
      return HandOut(new TCaptureGraphBuilderObject, iid, obj);
    };
    r->Factories[CLSID_DvdGraphBuilder] = [](const GUID& iid, void** obj) {
      return HandOut(new TDvdGraphBuilderObject, iid, obj);
    };
    r->Factories[CLSID_SampleGrabber] = [](const GUID& iid, void** obj) {
      return HandOut(new TSampleGrabberObject, iid, obj);
    };
    return r;
  }();
  return *registry;
}

// ---- Running object table --------------------------------------------------------------

class TItemMoniker final : public TComObject<IMoniker> {
 public:
  explicit TItemMoniker(std::u16string Name) : FName(std::move(Name)) {}
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (iid == IUnknown::IID || iid == IMoniker::IID) *obj = static_cast<IMoniker*>(this);
    else return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  // An item names an object inside a container; on its own it binds to nothing.
  HRESULT BindToStorage(const GUID&, void** Obj) override {
    if (!Obj) return E_POINTER;
    *Obj = nullptr;
    return MK_E_UNAVAILABLE;
  }
  HRESULT GetDisplayName(std::u16string* Name) override {
    if (!Name) return E_POINTER;
    *Name = FName;
    return S_OK;
  }

 private:
  std::u16string FName;
};

class TRunningObjectTable final : public TComObject<IRunningObjectTable> {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (iid == IUnknown::IID || iid == IRunningObjectTable::IID)
      *obj = static_cast<IRunningObjectTable*>(this);
    else return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  HRESULT Register(DWORD, IUnknown* Object, IMoniker* Name, DWORD* Cookie) override {
    if (!Cookie) return E_POINTER;
    *Cookie = 0;
    if (!Object || !Name) return E_INVALIDARG;
    std::u16string name;
    HRESULT hr = Name->GetDisplayName(&name);
    if (Failed(hr)) return hr;
    std::lock_guard<std::mutex> lock(FLock);
    HRESULT result = S_OK;
    for (auto& [cookie, e] : FEntries)
      if (e.Name == name) result = MK_S_MONIKERALREADYREGISTERED;
    if (++FNext == 0) ++FNext;
    FEntries[FNext] = {name, ComPtr<IUnknown>(Object)};
    *Cookie = FNext;
    return result;
  }
  HRESULT Revoke(DWORD Cookie) override {
    ComPtr<IUnknown> released;  // let go outside the lock
    std::lock_guard<std::mutex> lock(FLock);
    auto it = FEntries.find(Cookie);
    if (it == FEntries.end()) return E_INVALIDARG;
    released = std::move(it->second.Object);
    FEntries.erase(it);
    return S_OK;
  }
  HRESULT IsRunning(IMoniker* Name) override {
    ComPtr<IUnknown> obj;
    HRESULT hr = GetObject(Name, obj.Put());
    return Succeeded(hr) ? S_OK : (hr == MK_E_UNAVAILABLE ? S_FALSE : hr);
  }
  HRESULT GetObject(IMoniker* Name, IUnknown** Object) override {
    if (!Object) return E_POINTER;
    *Object = nullptr;
    if (!Name) return E_INVALIDARG;
    std::u16string name;
    HRESULT hr = Name->GetDisplayName(&name);
    if (Failed(hr)) return hr;
    std::lock_guard<std::mutex> lock(FLock);
    for (auto& [cookie, e] : FEntries)
      if (e.Name == name) {
        *Object = ComPtr<IUnknown>(e.Object).Detach();
        return S_OK;
      }
    return MK_E_UNAVAILABLE;
  }

 private:
  struct Entry {
    std::u16string Name;
    ComPtr<IUnknown> Object;
  };
  std::mutex FLock;
  std::map<DWORD, Entry> FEntries;
  DWORD FNext = 0;
};

// ---- Hidden windows --------------------------------------------------------------------

std::mutex& WindowLock() {
  static std::mutex lock;
  return lock;
}
std::unordered_set<HWND>& LiveWindows() {
  static std::unordered_set<HWND> windows;
  return windows;
}

struct ExceptionHandlerSlot {
  std::mutex Lock;
  TWindowExceptionHandler Handler;
};
ExceptionHandlerSlot& HandlerSlot() {
  static ExceptionHandlerSlot slot;
  return slot;
}

class THiddenWindow : public QObject {
 public:
  TWndMethod Method;
};

}  // namespace

// ---- COM services ----------------------------------------------------------------------

HRESULT CoCreateInstance(const GUID& ClassID, IUnknown* Outer, DWORD ClsContext, const GUID& iid,
                         void** Obj) {
  if (!Obj) return E_POINTER;
  *Obj = nullptr;
  if (Outer) return CLASS_E_NOAGGREGATION;
  if (!(ClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
  TComClassFactory factory;
  {
    ClassRegistry& r = Classes();
    std::lock_guard<std::mutex> lock(r.Lock);
    auto it = r.Factories.find(ClassID);
    if (it == r.Factories.end()) return REGDB_E_CLASSNOTREG;
    factory = it->second;
  }
  return factory(iid, Obj);
}

TComClassFactory RegisterComClass(const GUID& ClassID, TComClassFactory Factory) {
  ClassRegistry& r = Classes();
  std::lock_guard<std::mutex> lock(r.Lock);
  TComClassFactory old;
  auto it = r.Factories.find(ClassID);
  if (it != r.Factories.end()) {
    old = std::move(it->second);
    r.Factories.erase(it);
  }
  if (Factory) r.Factories[ClassID] = std::move(Factory);
  return old;
}

void* CoTaskMemAlloc(size_t Size) { return std::malloc(Size ? Size : 1); }
void CoTaskMemFree(void* Ptr) { std::free(Ptr); }

BSTR SysAllocString(std::u16string_view Text) {
  auto* p = new char16_t[Text.size() + 1];
  std::memcpy(p, Text.data(), Text.size() * sizeof(char16_t));
  p[Text.size()] = 0;
  return p;
}
void SysFreeString(BSTR Text) { delete[] Text; }

HRESULT GetRunningObjectTable(DWORD Reserved, IRunningObjectTable** Table) {
  if (!Table) return E_POINTER;
  *Table = nullptr;
  if (Reserved != 0) return E_INVALIDARG;
  // One table for the process, alive until it ends.
  static TRunningObjectTable* table = [] {
    auto* t = new TRunningObjectTable;
    t->AddRef();
    return t;
  }();
  table->AddRef();
  *Table = table;
  return S_OK;
}

HRESULT CreateItemMoniker(LPCWSTR Delimiter, LPCWSTR Item, IMoniker** Moniker) {
  if (!Moniker) return E_POINTER;
  *Moniker = nullptr;
  if (!Item) return E_INVALIDARG;
  std::u16string name = Delimiter ? std::u16string(Delimiter) : std::u16string();
  name += Item;
  auto* m = new TItemMoniker(std::move(name));
  m->AddRef();
  *Moniker = m;
  return S_OK;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

DWORD AMGetErrorTextA(HRESULT Code, char* Buffer, DWORD MaxLen) {
  struct Text {
    HRESULT Code;
    const char* Message;
  };
  static constexpr Text kTexts[] = {
      {E_NOTIMPL, "Not implemented"},
      {E_NOINTERFACE, "No such interface supported"},
      {E_POINTER, "Invalid pointer"},
      {E_ABORT, "Operation aborted"},
      {E_FAIL, "Unspecified error"},
      {E_UNEXPECTED, "Catastrophic failure"},
      {E_OUTOFMEMORY, "Not enough storage is available to complete this operation"},
      {E_INVALIDARG, "The parameter is incorrect"},
      {CLASS_E_NOAGGREGATION, "Class does not support aggregation (or class object is remote)"},
      {REGDB_E_CLASSNOTREG, "Class not registered"},
      {MK_E_UNAVAILABLE, "Operation unavailable"},
      {MK_S_MONIKERALREADYREGISTERED, "Moniker is already registered in running object table"},
      {VFW_E_NOT_CONNECTED, "The operation cannot be performed because the pins are not connected"},
      {VFW_E_NOT_FOUND, "An object or name was not found"},
      {VFW_E_WRONG_STATE, "The operation could not be performed because the filter is in the wrong state"},
      {VFW_S_DUPLICATE_NAME,
       "An attempt to add a filter with a duplicate name succeeded with a modified name"},
  };
  if (!Buffer || MaxLen == 0) return 0;
  Buffer[0] = 0;
  for (const Text& t : kTexts) {
    if (t.Code != Code) continue;
    size_t n = std::min<size_t>(std::strlen(t.Message), MaxLen - 1);
    std::memcpy(Buffer, t.Message, n);
    Buffer[n] = 0;
    return static_cast<DWORD>(n);
  }
  return 0;
}

int GetLocaleInfoA(LCID Locale, LCTYPE Type, char* Buffer, int MaxLen) {
  struct Lang {
    uint32_t Primary;
    const char* Name;
  };
  static constexpr Lang kLanguages[] = {
      {0x04, "Chinese"}, {0x06, "Danish"},  {0x07, "German"},     {0x09, "English"},
      {0x0A, "Spanish"}, {0x0B, "Finnish"}, {0x0C, "French"},     {0x10, "Italian"},
      {0x11, "Japanese"}, {0x12, "Korean"}, {0x13, "Dutch"},      {0x14, "Norwegian"},
      {0x15, "Polish"},  {0x16, "Portuguese"}, {0x19, "Russian"}, {0x1D, "Swedish"},
  };
  if (Type != LOCALE_SENGLANGUAGE || !Buffer || MaxLen <= 0) return 0;
  const uint32_t primary = Locale & 0x3FF;
  for (const Lang& l : kLanguages) {
    if (l.Primary != primary) continue;
    int n = static_cast<int>(std::strlen(l.Name));
    if (n + 1 > MaxLen) return 0;
    std::memcpy(Buffer, l.Name, static_cast<size_t>(n) + 1);
    return n + 1;
  }
  return 0;
}

// ---- Hidden windows --------------------------------------------------------------------

HWND AllocateHWnd(TWndMethod Method) {
  auto* w = new THiddenWindow;
  w->Method = std::move(Method);
  std::lock_guard<std::mutex> lock(WindowLock());
  LiveWindows().insert(w);
  return w;
}


void DeallocateHWnd(HWND Window) {
  if (!Window) return;
  {
    std::lock_guard<std::mutex> lock(WindowLock());
    if (!LiveWindows().erase(Window)) return;
  }
  // Deleting the object drops the messages still queued for it.
  delete static_cast<THiddenWindow*>(Window);
}

bool PostMessage(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
  std::lock_guard<std::mutex> lock(WindowLock());
  if (!Window || !LiveWindows().count(Window)) return false;
  auto* window = static_cast<THiddenWindow*>(Window);
  return QMetaObject::invokeMethod(
      window,
      [window, Msg, WParam, LParam] {
        // A copy: the method may free its own window.
        TWndMethod method = window->Method;
        TMessage m{Msg, WParam, LParam, 0};
        try {
          if (method) method(m);
        } catch (const std::exception& e) {
          HandleWindowException(e);
        } catch (...) {
          HandleWindowException(Exception("Unknown exception"));
        }
      },
      Qt::QueuedConnection);
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

void SetWindowExceptionHandler(TWindowExceptionHandler Handler) {
  auto& slot = HandlerSlot();
  std::lock_guard<std::mutex> lock(slot.Lock);
  slot.Handler = std::move(Handler);
}

void HandleWindowException(const std::exception& E) {
  TWindowExceptionHandler handler;
  {
    auto& slot = HandlerSlot();
    std::lock_guard<std::mutex> lock(slot.Lock);
    handler = slot.Handler;
  }
  if (handler) handler(E);
  else std::fprintf(stderr, "%s\n", E.what());
}

}  // namespace platform
