#include "media/DSComponents.h"

#include <algorithm>
#include <cstring>

#include "platform/Graphics.h"
#include "platform/TextCodec.h"

namespace media {

using namespace platform;

namespace {

std::u16string BstrText(LONG_PTR P) {
  auto* s = reinterpret_cast<const char16_t*>(P);
  return s ? std::u16string(s) : std::u16string();
}

}  // namespace

TFilterGraph::TFilterGraph(TComponent* AOwner) : TComponent(AOwner) {
  FHandle = AllocateHWnd([this](TMessage& Message) { WndProc(Message); });
  FVolume = 10000;
  FBalance = 0;
  FLinearVolume = true;
}

TFilterGraph::~TFilterGraph() {
  try {
    SetActive(false);
  } catch (const std::exception& e) {
    // A destructor cannot pass it on; the graph is let go all the same.
    HandleWindowException(e);
    if (FRotCookie) RemoveGraphFromRot(FRotCookie);
    FRotCookie = 0;
    ReleaseGraph();
    FActive = false;
  }
  DeallocateHWnd(FHandle);
}

void TFilterGraph::Loaded() {
  if (FAutoCreate) {
    // A graph that cannot be built must not stop the owner from being created.
    try {
      SetActive(true);
    } catch (const EDirectShowException& e) {
      HandleWindowException(e);
    }
  }
  TComponent::Loaded();
}

void TFilterGraph::SetActive(bool Value) {
  if (Value == FActive) return;
  if (Value) Activate();
  else Deactivate();
}

void TFilterGraph::Activate() {
  HRESULT hr = S_OK;
  switch (FMode) {
    case TGraphMode::gmNormal:
      hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IFilterGraph2::IID,
                            FFilterGraph.PutVoid());
      break;
    case TGraphMode::gmCapture:
      hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                            ICaptureGraphBuilder2::IID, FCaptureGraph.PutVoid());
      if (Succeeded(hr))
        hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                              IFilterGraph2::IID, FFilterGraph.PutVoid());
      if (Succeeded(hr)) hr = FCaptureGraph->SetFiltergraph(FFilterGraph.Get());
      break;
    case TGraphMode::gmDVD: {
      hr = CoCreateInstance(CLSID_DvdGraphBuilder, nullptr, CLSCTX_INPROC_SERVER,
                            IDvdGraphBuilder::IID, FDVDGraph.PutVoid());
      ComPtr<IGraphBuilder> graph;
      if (Succeeded(hr)) hr = FDVDGraph->GetFiltergraph(graph.Put());
      if (Succeeded(hr)) hr = QueryTo(graph.Get(), FFilterGraph);
      break;
    }
  }
  if (Failed(hr) || !FFilterGraph) {
    ReleaseGraph();
    CheckDSError(Failed(hr) ? hr : E_NOINTERFACE);
  }
  FActive = true;

  if (Succeeded(QueryInterface(IMediaEventEx::IID, FMediaEventEx.PutVoid()))) {
    FMediaEventEx->SetNotifyFlags(0);
    FMediaEventEx->SetNotifyWindow(FHandle, static_cast<int32_t>(WM_GRAPHNOTIFY),
                                   reinterpret_cast<LONG_PTR>(FMediaEventEx.Get()));
  }
  ComPtr<IObjectWithSite> site;
  if (Succeeded(QueryInterface(IObjectWithSite::IID, site.PutVoid()))) {
    // The second site replaces the first: the graph keeps the filter-graph callback.
    site->SetSite(static_cast<IAMGraphBuilderCallback*>(this));
    site->SetSite(static_cast<IAMFilterGraphCallback*>(this));
  }
  SetGraphEdit(FGraphEdit);
  SetLogFile(FLogFile);
  for (auto& f : FFilters) AddToGraph(f.Get());
  Fire(OnActivate, this);
}

void TFilterGraph::Deactivate() {
  for (auto& f : FFilters) RemoveFromGraph(f.Get());
  if (FMediaEventEx) {
    FMediaEventEx->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY);
    FMediaEventEx = nullptr;
  }
  if (FRotCookie) {
    RemoveGraphFromRot(FRotCookie);
    FRotCookie = 0;
  }
  if (FFilterGraph) FFilterGraph->SetLogFile(0);
  FLogStream.reset();
  // The graph may outlive us in someone else's hands; it must not call back into a component
  // that has let it go.
  ComPtr<IObjectWithSite> site;
  if (Succeeded(QueryInterface(IObjectWithSite::IID, site.PutVoid()))) site->SetSite(nullptr);
  ReleaseGraph();
  FActive = false;
}

void TFilterGraph::ReleaseGraph() {
  FMediaEventEx = nullptr;
  FFilterGraph = nullptr;
  FCaptureGraph = nullptr;
  FDVDGraph = nullptr;
  FLogStream.reset();
}

void TFilterGraph::SetMode(TGraphMode Value) {
  if (Value == FMode) return;
  const bool wasActive = FActive;
  SetActive(false);
  FMode = Value;
  SetActive(wasActive);
}

void TFilterGraph::SetGraphEdit(bool Value) {
  if (!Value) {
    if (FRotCookie) {
      RemoveGraphFromRot(FRotCookie);
      FRotCookie = 0;
    }
  } else if (!FRotCookie && FActive) {
    uint32_t cookie = 0;
    if (Succeeded(AddGraphToRot(FFilterGraph.Get(), cookie))) FRotCookie = cookie;
  }
  FGraphEdit = Value;
}

void TFilterGraph::SetLogFile(const std::string& Value) {
  if (FActive) {
    FFilterGraph->SetLogFile(0);
    FLogStream.reset();
    if (!Value.empty()) {
      try {
        FLogStream = std::make_unique<TFileStream>(Value, fmCreate);
        FFilterGraph->SetLogFile(static_cast<DWORD_PTR>(FLogStream->Handle()));
      } catch (const Exception&) {
        // No log then; the property keeps its old name.
        FFilterGraph->SetLogFile(0);
        FLogStream.reset();
        return;
      }
    }
  }
  FLogFile = Value;
}

bool TFilterGraph::Stop() {
  ComPtr<IMediaControl> control;
  if (Failed(QueryInterface(IMediaControl::IID, control.PutVoid()))) return false;
  return CheckDSError(control->Stop()) == S_OK;
}

void TFilterGraph::SetVolume(int32_t Value) {
  FVolume = EnsureRange(Value, 0, 10000);
  ApplyVolume();
}

void TFilterGraph::SetBalance(int32_t Value) {
  FBalance = EnsureRange(Value, -10000, 10000);
  ApplyBalance();
}

void TFilterGraph::SetLinearVolume(bool Value) {
  if (Value == FLinearVolume) return;
  FLinearVolume = Value;
  ApplyVolume();
  ApplyBalance();
}

void TFilterGraph::ApplyVolume() {
  ComPtr<IBasicAudio> audio;
  if (Failed(QueryInterface(IBasicAudio::IID, audio.PutVoid()))) return;
  audio->put_Volume(FLinearVolume ? LinearVolumeToDB(FVolume) : FVolume - 10000);
}

void TFilterGraph::ApplyBalance() {
  ComPtr<IBasicAudio> audio;
  if (Failed(QueryInterface(IBasicAudio::IID, audio.PutVoid()))) return;
  audio->put_Balance(FLinearVolume ? LinearBalanceToDB(FBalance) : FBalance);
}

void TFilterGraph::InsertFilter(IGraphFilter* AFilter) {
  if (!AFilter) return;
  for (auto& f : FFilters)
    if (f.Get() == AFilter) return;  // a filter goes into the graph once
  FFilters.emplace_back(AFilter);
  if (FActive) AddToGraph(AFilter);
}

void TFilterGraph::RemoveFilter(IGraphFilter* AFilter) {
  auto it = std::find_if(FFilters.begin(), FFilters.end(),
                         [AFilter](const ComPtr<IGraphFilter>& f) { return f.Get() == AFilter; });
  if (it == FFilters.end()) return;
  ComPtr<IGraphFilter> filter = std::move(*it);
  FFilters.erase(it);
  if (FActive) RemoveFromGraph(filter.Get());
}

void TFilterGraph::AddToGraph(IGraphFilter* AFilter) {
  AFilter->NotifyFilter(foAdding, 0);
  const std::string name = AFilter->GetName();
  FFilterGraph->AddFilter(AFilter->GetFilter().Get(), Utf8ToUtf16(name).c_str());
  AFilter->NotifyFilter(foAdded, 0);
}

void TFilterGraph::RemoveFromGraph(IGraphFilter* AFilter) {
  AFilter->NotifyFilter(foRemoving, 0);
  FFilterGraph->RemoveFilter(AFilter->GetFilter().Get());
  AFilter->NotifyFilter(foRemoved, 0);
}

HRESULT TFilterGraph::QueryInterface(const GUID& iid, void** obj) {
  if (!obj) return E_POINTER;
  *obj = nullptr;
  if (iid == IUnknown::IID) {
    *obj = static_cast<IUnknown*>(static_cast<IAMGraphBuilderCallback*>(this));
    return S_OK;
  }
  if (iid == IAMGraphBuilderCallback::IID) {
    *obj = static_cast<IAMGraphBuilderCallback*>(this);
    return S_OK;
  }
  if (iid == IAMFilterGraphCallback::IID) {
    *obj = static_cast<IAMFilterGraphCallback*>(this);
    return S_OK;
  }
  if (iid == IServiceProvider::IID) {
    *obj = static_cast<IServiceProvider*>(this);
    return S_OK;
  }
  HRESULT hr = E_NOINTERFACE;
  if (!FActive) return hr;
  switch (FMode) {
    case TGraphMode::gmNormal:
      break;
    case TGraphMode::gmCapture:
      if (FCaptureGraph) {
        hr = FCaptureGraph->QueryInterface(iid, obj);
        if (Succeeded(hr)) return hr;
      }
      break;
    case TGraphMode::gmDVD:
      if (FDVDGraph) {
        hr = FDVDGraph->QueryInterface(iid, obj);
        if (Succeeded(hr)) return hr;
        hr = FDVDGraph->GetDvdInterface(iid, obj);
        if (Succeeded(hr)) return hr;
      }
      break;
  }
  if (FFilterGraph) hr = FFilterGraph->QueryInterface(iid, obj);
  return hr;
}

// ---- Events ----------------------------------------------------------------------------

void TFilterGraph::WndProc(TMessage& Message) {
  if (Message.Msg == WM_GRAPHNOTIFY) {
    try {
      HandleGraphEvents();
    } catch (const std::exception& e) {
      HandleWindowException(e);
    }
    Message.Result = 0;
  } else {
    Message.Result = DefWindowProc(FHandle, Message.Msg, Message.WParam, Message.LParam);
  }
}

void TFilterGraph::HandleGraphEvents() {
  // A handler may deactivate the component: keep the queue alive to free this event's
  // parameters, and stop draining once it is gone.
  ComPtr<IMediaEventEx> events = FMediaEventEx;
  if (!events) return;
  int32_t code;
  LONG_PTR p1, p2;
  while (FMediaEventEx.Get() == events.Get() && events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    try {
      DoEvent(code, p1, p2);
    } catch (...) {
      events->FreeEventParams(code, p1, p2);
      throw;
    }
    events->FreeEventParams(code, p1, p2);
  }
}

void TFilterGraph::DVDStreamLanguage(int32_t Event, LONG_PTR Param1) {
  ComPtr<IDvdInfo2> info;
  if (Failed(QueryInterface(IDvdInfo2::IID, info.PutVoid()))) return;
  LCID lcid = 0;
  if (Event == EC_DVD_AUDIO_STREAM_CHANGE)
    CheckDSError(info->GetAudioLanguage(static_cast<ULONG>(Param1), &lcid));
  else
    info->GetSubpictureLanguage(static_cast<ULONG>(Param1), &lcid);
  char buffer[261] = {};
  GetLocaleInfoA(lcid, LOCALE_SENGLANGUAGE, buffer, 260);
  const std::string lang(buffer);
  const auto stream = static_cast<int32_t>(Param1);
  const auto id = static_cast<int32_t>(lcid);
  if (Event == EC_DVD_AUDIO_STREAM_CHANGE) {
    if (OnDVDAudioStreamChange) OnDVDAudioStreamChange(this, stream, id, lang);
  } else if (OnDVDSubpictureStreamChange) {
    OnDVDSubpictureStreamChange(this, stream, id, lang);
  }
}

void TFilterGraph::DoEvent(int32_t Event, LONG_PTR Param1, LONG_PTR Param2) {
  if (OnDSEvent) OnDSEvent(this, Event, Param1, Param2);
  const auto i1 = static_cast<int32_t>(Param1);
  const auto i2 = static_cast<int32_t>(Param2);
  const auto u1 = static_cast<uint32_t>(Param1);
  const auto u2 = static_cast<uint32_t>(Param2);
  switch (Event) {
    case EC_COMPLETE:
      if (OnGraphComplete) OnGraphComplete(this, i1, reinterpret_cast<IBaseFilter*>(Param2));
      break;
    case EC_USERABORT: Fire(OnGraphUserAbort, this); break;
    case EC_ERRORABORT:
      if (OnGraphErrorAbort) OnGraphErrorAbort(this, i1);
      break;
    case EC_STREAM_ERROR_STOPPED:
      if (OnGraphStreamErrorStopped) OnGraphStreamErrorStopped(this, i1, u2);
      break;
    case EC_STREAM_ERROR_STILLPLAYING:
      if (OnGraphStreamErrorStillPlaying) OnGraphStreamErrorStillPlaying(this, i1, u2);
      break;
    case EC_ERROR_STILLPLAYING:
      if (OnGraphErrorStillPlaying) OnGraphErrorStillPlaying(this, i1);
      break;
    case EC_PALETTE_CHANGED: Fire(OnGraphPaletteChanged, this); break;
    case EC_VIDEO_SIZE_CHANGED:
      if (OnGraphVideoSizeChanged)
        OnGraphVideoSizeChanged(this, static_cast<uint16_t>(u1 & 0xFFFF),
                                static_cast<uint16_t>(u1 >> 16));
      break;
    case EC_QUALITY_CHANGE: Fire(OnGraphQualityChange, this); break;
    case EC_CLOCK_CHANGED: Fire(OnGraphClockChanged, this); break;
    case EC_PAUSED:
      if (OnGraphPaused) OnGraphPaused(this, i1);
      break;
    case EC_OPENING_FILE:
      if (OnGraphOpeningFile) OnGraphOpeningFile(this, Param1 == 1);
      break;
    case EC_BUFFERING_DATA:
      if (OnGraphBufferingData) OnGraphBufferingData(this, Param1 == 1);
      break;
    case EC_FULLSCREEN_LOST:
      if (OnGraphFullscreenLost) OnGraphFullscreenLost(this, reinterpret_cast<IBaseFilter*>(Param2));
      break;
    case EC_OLE_EVENT:
      if (OnGraphOleEvent) OnGraphOleEvent(this, BstrText(Param1), BstrText(Param2));
      break;
    case EC_STREAM_CONTROL_STOPPED:
      if (OnGraphStreamControlStopped)
        OnGraphStreamControlStopped(this, reinterpret_cast<IPin*>(Param1), u2);
      break;
    case EC_STREAM_CONTROL_STARTED:
      if (OnGraphStreamControlStarted)
        OnGraphStreamControlStarted(this, reinterpret_cast<IPin*>(Param1), u2);
      break;
    case EC_END_OF_SEGMENT:
      if (OnGraphEndOfSegment) {
        // The stream time is passed by address; a missing one reads as 0.
        int64_t time = 0;
        if (Param1) std::memcpy(&time, reinterpret_cast<const void*>(Param1), sizeof time);
        OnGraphEndOfSegment(this, time, u2);
      }
      break;
    case EC_DEVICE_LOST:
      if (OnGraphDeviceLost)
        OnGraphDeviceLost(this, reinterpret_cast<IUnknown*>(Param1), Param2 == 1);
      break;
    case EC_STEP_COMPLETE: Fire(OnGraphStepComplete, this); break;
    case EC_TIMECODE_AVAILABLE:
      if (OnGraphTimeCodeAvailable)
        OnGraphTimeCodeAvailable(this, reinterpret_cast<IBaseFilter*>(Param1), u2);
      break;
    case EC_EXTDEVICE_MODE_CHANGE:
      if (OnGraphEXTDeviceModeChange) OnGraphEXTDeviceModeChange(this, u1, u2);
      break;
    case EC_GRAPH_CHANGED: Fire(OnGraphChanged, this); break;
    case EC_CLOCK_UNSET: Fire(OnGraphClockUnset, this); break;
    case EC_VMR_RENDERDEVICE_SET:
      if (OnGraphVMRRenderDevice) OnGraphVMRRenderDevice(this, i1);
      break;
    case EC_SNDDEV_IN_ERROR:
      if (OnGraphSNDDevInError) OnGraphSNDDevInError(this, static_cast<TSndDevErr>(i1), u2);
      break;
    case EC_SNDDEV_OUT_ERROR:
      if (OnGraphSNDDevOutError) OnGraphSNDDevOutError(this, static_cast<TSndDevErr>(i1), u2);
      break;
    case EC_DVD_DOMAIN_CHANGE:
      switch (Param1) {
        case 1: Fire(OnDVDDomainFirstPlay, this); break;
        case 2: Fire(OnDVDDomainVideoManagerMenu, this); break;
        case 3: Fire(OnDVDDomainVideoTitleSetMenu, this); break;
        case 4: Fire(OnDVDDomainTitle, this); break;
        case 5: Fire(OnDVDDomainStop, this); break;
        default: break;
      }
      break;
    case EC_DVD_TITLE_CHANGE:
      if (OnDVDTitleChange) OnDVDTitleChange(this, i1);
      break;
    case EC_DVD_CHAPTER_START:
      if (OnDVDChapterStart) OnDVDChapterStart(this, i1);
      break;
    case EC_DVD_AUDIO_STREAM_CHANGE:
    case EC_DVD_SUBPICTURE_STREAM_CHANGE:
      DVDStreamLanguage(Event, Param1);
      break;
    case EC_DVD_ANGLE_CHANGE:
      if (OnDVDAngleChange) OnDVDAngleChange(this, i1, i2);
      break;
    case EC_DVD_BUTTON_CHANGE:
      if (OnDVDButtonChange) OnDVDButtonChange(this, i1, i2);
      break;
    case EC_DVD_VALID_UOPS_CHANGE:
      if (OnDVDValidUOPSChange) OnDVDValidUOPSChange(this, i1);
      break;
    case EC_DVD_STILL_ON:
      if (OnDVDStillOn) OnDVDStillOn(this, Param1 == 1, i2);
      break;
    case EC_DVD_STILL_OFF: Fire(OnDVDStillOff, this); break;
    case EC_DVD_CURRENT_TIME:
      if (OnDVDCurrentTime) {
        const TDVDTimeCode t = SplitDVDTimeCode(u1);
        const int32_t frate = t.FrameRateCode == 1 ? 25 : (t.FrameRateCode == 3 ? 30 : 0);
        OnDVDCurrentTime(this, t.Hours1 + 10 * t.Hours10, t.Minutes1 + 10 * t.Minutes10,
                         t.Seconds1 + 10 * t.Seconds10, t.Frames1 + 10 * t.Frames10, frate);
      }
      break;
    case EC_DVD_ERROR:
      switch (Param1) {
        case 1: Fire(OnDVDErrorUnexpected, this); break;
        case 2: Fire(OnDVDErrorCopyProtectFail, this); break;
        case 3: Fire(OnDVDErrorInvalidDVD1_0Disc, this); break;
        case 4: Fire(OnDVDErrorInvalidDiscRegion, this); break;
        case 5: Fire(OnDVDErrorLowParentalLevel, this); break;
        case 6: Fire(OnDVDErrorMacrovisionFail, this); break;
        case 7: Fire(OnDVDErrorIncompatibleSystemAndDecoderRegions, this); break;
        case 8: Fire(OnDVDErrorIncompatibleDiscAndDecoderRegions, this); break;
        default: break;
      }
      break;
    case EC_DVD_WARNING:
      switch (Param1) {
        case 1: Fire(OnDVDWarningInvalidDVD1_0Disc, this); break;
        case 2: Fire(OnDVDWarningFormatNotSupported, this); break;
        case 3: Fire(OnDVDWarningIllegalNavCommand, this); break;
        case 4: Fire(OnDVDWarningOpen, this); break;
        case 5: Fire(OnDVDWarningSeek, this); break;
        case 6: Fire(OnDVDWarningRead, this); break;
        default: break;
      }
      break;
    case EC_DVD_CHAPTER_AUTOSTOP: Fire(OnDVDChapterAutoStop, this); break;
    case EC_DVD_NO_FP_PGC: Fire(OnDVDNoFP_PGC, this); break;
    case EC_DVD_PLAYBACK_RATE_CHANGE:
      if (OnDVDPlaybackRateChange)
        OnDVDPlaybackRateChange(this, static_cast<float>(i1 / 10000.0));
      break;
    case EC_DVD_PARENTAL_LEVEL_CHANGE:
      if (OnDVDParentalLevelChange) OnDVDParentalLevelChange(this, i1);
      break;
    case EC_DVD_PLAYBACK_STOPPED: Fire(OnDVDPlaybackStopped, this); break;
    case EC_DVD_ANGLES_AVAILABLE:
      if (OnDVDAnglesAvailable) OnDVDAnglesAvailable(this, Param1 == 1);
      break;
    case EC_DVD_PLAYPERIOD_AUTOSTOP: Fire(OnDVDPlayPeriodAutoStop, this); break;
    case EC_DVD_BUTTON_AUTO_ACTIVATED:
      if (OnDVDButtonAutoActivated) OnDVDButtonAutoActivated(this, u1);
      break;
    case EC_DVD_CMD_START:
      if (OnDVDCMDStart) OnDVDCMDStart(this, u1);
      break;
    case EC_DVD_CMD_END:
      if (OnDVDCMDEnd) OnDVDCMDEnd(this, u1);
      break;
    case EC_DVD_DISC_EJECTED: Fire(OnDVDDiscEjected, this); break;
    case EC_DVD_DISC_INSERTED: Fire(OnDVDDiscInserted, this); break;
    case EC_DVD_CURRENT_HMSF_TIME:
      if (OnDVDCurrentHMSFTime) {
        TDVDHMSFTimeCode hmsf;
        hmsf.bHours = static_cast<uint8_t>(u1);
        hmsf.bMinutes = static_cast<uint8_t>(u1 >> 8);
        hmsf.bSeconds = static_cast<uint8_t>(u1 >> 16);
        hmsf.bFrames = static_cast<uint8_t>(u1 >> 24);
        OnDVDCurrentHMSFTime(this, hmsf, SplitDVDTimeCode(u2));
      }
      break;
    case EC_DVD_KARAOKE_MODE:
      if (OnDVDKaraokeMode) OnDVDKaraokeMode(this, Param1 != 0);
      break;
    default:
      break;
  }
}

// ---- Builder callbacks -----------------------------------------------------------------

HRESULT TFilterGraph::SelectedFilter(IMoniker* Moniker) {
  if (!OnSelectedFilter) return S_OK;
  GUID classID = GUID_NULL;
  std::u16string friendlyName;
  ComPtr<IPropertyBag> bag;
  if (Moniker && Succeeded(Moniker->BindToStorage(IPropertyBag::IID, bag.PutVoid())) && bag) {
    std::u16string text;
    if (Succeeded(bag->Read(u"CLSID", &text)) && !TryStringToGUID(Utf16ToUtf8(text), classID))
      classID = GUID_NULL;
    if (Failed(bag->Read(u"FriendlyName", &friendlyName))) friendlyName.clear();
  }
  return OnSelectedFilter(Moniker, friendlyName, classID) ? S_OK : E_FAIL;
}

HRESULT TFilterGraph::CreatedFilter(IBaseFilter* Filter) {
  if (!OnCreatedFilter) return S_OK;
  GUID classID = GUID_NULL;
  if (Filter && Failed(Filter->GetClassID(&classID))) classID = GUID_NULL;
  return OnCreatedFilter(Filter, classID) ? S_OK : E_FAIL;
}

HRESULT TFilterGraph::UnableToRender(IPin* Pin) {
  if (!Pin) return S_FALSE;
  PIN_INFO pin;
  if (Failed(Pin->QueryPinInfo(&pin))) return S_FALSE;
  ComPtr<IBaseFilter> filter;
  filter.Attach(pin.pFilter);
  if (!filter) return S_FALSE;
  FILTER_INFO info;
  if (Failed(filter->QueryFilterInfo(&info))) return S_FALSE;
  ComPtr<IFilterGraph> graph;
  graph.Attach(info.pGraph);
  ComPtr<IServiceProvider> provider;
  if (!graph || Failed(QueryTo(graph.Get(), provider))) return S_FALSE;
  void* component = nullptr;
  if (Failed(provider->QueryService(SID_FilterGraphComponent, SID_FilterGraphComponent,
                                    &component)) ||
      !component)
    return S_FALSE;
  auto* owner = static_cast<TFilterGraph*>(component);
  return owner->OnUnableToRender && owner->OnUnableToRender(Pin) ? S_OK : S_FALSE;
}

HRESULT TFilterGraph::QueryService(const GUID& Service, const GUID& iid, void** Obj) {
  if (!Obj) return E_POINTER;
  *Obj = nullptr;
  if (Service == SID_FilterGraphComponent && iid == SID_FilterGraphComponent) {
    *Obj = this;
    return S_OK;
  }
  return E_NOINTERFACE;
}

// ---- Sample grabber --------------------------------------------------------------------

namespace {

constexpr const char* kUnit = "DSComponents";
constexpr DWORD kGrabberContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
// The largest frame turned into a bitmap, as the bitmap reader's own limit.
constexpr int64_t kMaxFramePixels = int64_t{1} << 28;

int32_t ReadI32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                              uint32_t(p[3]) << 24);
}
uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void PutLE(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A read-only stream over bytes the caller keeps.
class TFrameStream : public TCustomMemoryStream {
 public:
  TFrameStream(void* Data, int64_t Size) { SetPointer(Data, Size); }
};

// Frees the connected media type on every way out.
struct MediaTypeGuard {
  AM_MEDIA_TYPE Type;
  ~MediaTypeGuard() { FreeMediaType(Type); }
};

}  // namespace

int64_t GetDIBLineSize(int32_t BitCount, int32_t Width) {
  const int64_t bits = BitCount == 15 ? 16 : BitCount;
  return (bits * Width + 31) / 32 * 4;
}

TSampleGrabber::TSampleGrabber(TComponent* AOwner) : TComponent(AOwner) {
  ComPtr<IBaseFilter> probe;
  if (Failed(CoCreateInstance(CLSID_SampleGrabber, nullptr, kGrabberContext, IBaseFilter::IID,
                              probe.PutVoid())))
    AssertionFailure("The SampleGrabber Filter is not available on this system.", kUnit, __LINE__);
  probe = nullptr;
  FMediaType = std::make_unique<TMediaType>(MEDIATYPE_Video);
  FMediaType->SetSubType(MEDIASUBTYPE_RGB24);
  FMediaType->SetFormatType(FORMAT_VideoInfo);
}

TSampleGrabber::~TSampleGrabber() {
  try {
    SetFilterGraph(nullptr);
  } catch (const std::exception& e) {
    HandleWindowException(e);
  }
}

void TSampleGrabber::SetFilterGraph(TFilterGraph* Value) {
  if (Value == FFilterGraph) return;
  if (FFilterGraph) {
    FFilterGraph->RemoveFilter(this);
    FFilterGraph->RemoveFreeNotification(this);
  }
  if (Value) {
    // Told when the graph component goes, so the reference never dangles.
    Value->FreeNotification(this);
    Value->InsertFilter(this);
  }
  FFilterGraph = Value;
}

void TSampleGrabber::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == FFilterGraph) FFilterGraph = nullptr;
}

HRESULT TSampleGrabber::QueryInterface(const GUID& iid, void** obj) {
  if (!obj) return E_POINTER;
  *obj = nullptr;
  if (iid == IUnknown::IID || iid == IGraphFilter::IID) {
    *obj = static_cast<IGraphFilter*>(this);
    return S_OK;
  }
  if (iid == ISampleGrabberCB::IID) {
    *obj = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
  }
  if (FBaseFilter) return FBaseFilter->QueryInterface(iid, obj);
  return E_NOINTERFACE;
}

void TSampleGrabber::NotifyFilter(TFilterOperation Operation, int32_t) {
  switch (Operation) {
    case foAdding:
      CoCreateInstance(CLSID_SampleGrabber, nullptr, kGrabberContext, IBaseFilter::IID,
                       FBaseFilter.PutVoid());
      break;
    case foAdded: {
      if (!FBaseFilter) break;
      QueryTo(FBaseFilter.Get(), FSampleGrabber);
      ComPtr<IEnumPins> pins;
      if (Succeeded(FBaseFilter->EnumPins(pins.Put())) && pins) {
        ULONG fetched = 0;
        if (pins->Next(1, FInPin.Put(), &fetched) != S_OK) FInPin = nullptr;
        if (pins->Next(1, FOutPin.Put(), &fetched) != S_OK) FOutPin = nullptr;
      }
      ApplyMediaType();
      if (FSampleGrabber) {
        FSampleGrabber->SetBufferSamples(true);
        FSampleGrabber->SetCallback(static_cast<ISampleGrabberCB*>(this), 1);
      }
      break;
    }
    case foRemoving:
      if (FBaseFilter) FBaseFilter->Stop();
      if (FInPin) FInPin->Disconnect();
      if (FOutPin) FOutPin->Disconnect();
      break;
    case foRemoved:
      if (FSampleGrabber) {
        FSampleGrabber->SetCallback(nullptr, 1);
        FSampleGrabber->SetBufferSamples(false);
      }
      FInPin = nullptr;
      FOutPin = nullptr;
      FSampleGrabber = nullptr;
      FBaseFilter = nullptr;
      break;
  }
}

void TSampleGrabber::ApplyMediaType() {
  if (!FSampleGrabber) return;
  if (FBaseFilter) FBaseFilter->Stop();
  if (FInPin) FInPin->Disconnect();
  FSampleGrabber->SetMediaType(FMediaType->AMMediaType());
}

bool TSampleGrabber::GetBitmapFromBuffer(TBitmap* Bitmap, const void* Buffer, int32_t BufferLen) {
  if (!Bitmap) return false;
  if (Buffer && BufferLen <= 0) return false;
  if (!FSampleGrabber) return false;
  MediaTypeGuard connected;
  if (Failed(FSampleGrabber->GetConnectedMediaType(&connected.Type))) return false;
  const AM_MEDIA_TYPE& mt = connected.Type;
  if (!(mt.majortype == MEDIATYPE_Video) || !mt.pbFormat) return false;

  // The BITMAPINFOHEADER inside a VIDEOINFOHEADER or a VIDEOINFOHEADER2.
  const uint8_t* header;
  if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat == 88) header = mt.pbFormat + 48;
  else if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat == 112) header = mt.pbFormat + 72;
  else return false;
  const int32_t width = ReadI32(header + 4);
  const int32_t height = ReadI32(header + 8);
  const uint16_t planes = ReadU16(header + 12);
  const uint16_t bitCount = ReadU16(header + 14);
  const uint32_t compression = static_cast<uint32_t>(ReadI32(header + 16));
  const uint32_t sizeImage = static_cast<uint32_t>(ReadI32(header + 20));

  // Only what a DIB section can be made of without a colour table or masks, which the format
  // block has no room for: uncompressed 15, 16, 24 and 32 bits a pixel.
  if (bitCount != 15 && bitCount != 16 && bitCount != 24 && bitCount != 32) return false;
  if (compression != 0 || planes != 1) return false;
  if (width <= 0 || height == 0 || height == INT32_MIN) return false;
  const int64_t rows = height < 0 ? -int64_t{height} : height;
  if (int64_t{width} * rows > kMaxFramePixels) return false;
  const int64_t lineSize = GetDIBLineSize(bitCount, width);
  const int64_t dibSize = lineSize * rows;

  // The header's image size, but never more than the bitmap holds.
  int64_t size = sizeImage != 0 ? sizeImage : lineSize * rows * planes;
  if (size > dibSize) size = dibSize;

  std::vector<uint8_t> bits(static_cast<size_t>(dibSize), 0);
  if (!Buffer) {
    int32_t sampleSize = 0;
    if (Failed(FSampleGrabber->GetCurrentBuffer(&sampleSize, nullptr)) || sampleSize <= 0)
      return false;
    if (sampleSize > size) sampleSize = static_cast<int32_t>(size);
    if (Failed(FSampleGrabber->GetCurrentBuffer(&sampleSize, bits.data()))) return false;
  } else {
    const int64_t n = BufferLen < size ? BufferLen : size;
    std::memcpy(bits.data(), Buffer, static_cast<size_t>(n));
  }

  // Hand the frame to the bitmap as a BMP file of exactly that header and those bits.
  std::vector<uint8_t> file;
  file.reserve(54 + bits.size());
  const uint32_t fileSize = static_cast<uint32_t>(54 + bits.size());
  PutLE(file, 0x4D42, 2);
  PutLE(file, fileSize, 4);
  PutLE(file, 0, 4);
  PutLE(file, 54, 4);
  PutLE(file, 40, 4);
  PutLE(file, static_cast<uint32_t>(width), 4);
  PutLE(file, static_cast<uint32_t>(height), 4);
  PutLE(file, 1, 2);
  PutLE(file, bitCount == 15 ? 16 : bitCount, 2);
  PutLE(file, 0, 4);
  PutLE(file, static_cast<uint32_t>(dibSize), 4);
  PutLE(file, 0, 4);
  PutLE(file, 0, 4);
  PutLE(file, 0, 4);
  PutLE(file, 0, 4);
  file.insert(file.end(), bits.begin(), bits.end());
  try {
    TFrameStream stream(file.data(), static_cast<int64_t>(file.size()));
    Bitmap->LoadFromStream(&stream);
  } catch (const Exception&) {
    return false;
  }
  return true;
}

HRESULT TSampleGrabber::SampleCB(double, IMediaSample*) { return S_OK; }

HRESULT TSampleGrabber::BufferCB(double SampleTime, uint8_t* Buffer, int32_t BufferLen) {
  if (!OnBuffer) return S_OK;
  std::lock_guard<std::mutex> lock(FLock);
  try {
    OnBuffer(this, SampleTime, Buffer, BufferLen);
  } catch (...) {
    return E_FAIL;
  }
  return S_OK;
}

}  // namespace media
