// The DirectShow components. TFilterGraph is a non-visual component that owns one filter
// graph: setting Active builds the graph (plain, or through the capture or DVD graph builder,
// by Mode), hooks its event queue to a hidden window, registers it in the running object
// table when GraphEdit is set, opens its log file and adds the filters of the components
// attached with InsertFilter. Graph events are drained on the GUI thread and dispatched to the
// On... event properties. AutoCreate activates the component once its owner has been loaded.
// TSampleGrabber is such an attached component: it puts a sample grabber filter into the graph
// and turns frames into bitmaps.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/DSHelpers.h"
#include "platform/Classes.h"
#include "platform/Component.h"
#include "platform/DirectShow.h"

namespace platform {
class TBitmap;
}

namespace media {

using platform::ComPtr;
using platform::GUID;
using platform::LONG_PTR;
using platform::TComponent;
using platform::TNotifyEvent;
using platform::TObject;

enum TFilterOperation : int32_t { foAdding = 0, foAdded = 1, foRemoving = 2, foRemoved = 3 };

// Implemented by components whose filter goes into a TFilterGraph's graph.
class IGraphFilter : public platform::IUnknown {
 public:
  // Our own interface id.
  static constexpr GUID IID{0x2A5C8D4E, 0x6F1B, 0x4C3A, {0x9E, 0x7D, 0x1B, 0x0F, 0x5A, 0x3C, 0x8E, 0x21}};
  virtual ComPtr<platform::IBaseFilter> GetFilter() = 0;
  virtual std::string GetName() = 0;
  virtual void NotifyFilter(TFilterOperation Operation, int32_t Param) = 0;
};

enum class TGraphMode { gmNormal, gmCapture, gmDVD };

// The moment a sound device failed (DirectShow's SNDDEV_ERR values).
enum TSndDevErr : int32_t {
  SNDDEV_ERROR_Open = 1,
  SNDDEV_ERROR_Close = 2,
  SNDDEV_ERROR_GetCaps = 3,
  SNDDEV_ERROR_PrepareHeader = 4,
  SNDDEV_ERROR_UnprepareHeader = 5,
  SNDDEV_ERROR_Reset = 6,
  SNDDEV_ERROR_Restart = 7,
  SNDDEV_ERROR_GetPosition = 8,
  SNDDEV_ERROR_Write = 9,
  SNDDEV_ERROR_Pause = 10,
  SNDDEV_ERROR_Stop = 11,
  SNDDEV_ERROR_Start = 12,
  SNDDEV_ERROR_AddBuffer = 13,
  SNDDEV_ERROR_Query = 14,
};

// The four bytes of a DVD HMSF time code, in memory order.
struct TDVDHMSFTimeCode {
  uint8_t bHours = 0;
  uint8_t bMinutes = 0;
  uint8_t bSeconds = 0;
  uint8_t bFrames = 0;
};

// The message the graph posts to the hidden window for each event.
constexpr uint32_t WM_GRAPHNOTIFY = 0x8001;

// Event parameters are pointer-sized: several events carry pointers in them.
using TOnDSEvent = std::function<void(TComponent* Sender, int32_t Event, LONG_PTR Param1, LONG_PTR Param2)>;
using TOnGraphBufferingData = std::function<void(TObject* Sender, bool Buffering)>;
using TOnGraphComplete = std::function<void(TObject* Sender, platform::HRESULT Result, platform::IBaseFilter* Renderer)>;
using TOnGraphDeviceLost = std::function<void(TObject* Sender, platform::IUnknown* Device, bool Removed)>;
using TOnGraphEndOfSegment = std::function<void(TObject* Sender, int64_t StreamTime, uint32_t NumSegment)>;
using TOnDSResult = std::function<void(TObject* Sender, platform::HRESULT Result)>;
using TOnGraphFullscreenLost = std::function<void(TObject* Sender, platform::IBaseFilter* Renderer)>;
using TOnGraphOleEvent = std::function<void(TObject* Sender, const std::u16string& String1, const std::u16string& String2)>;
using TOnGraphOpeningFile = std::function<void(TObject* Sender, bool Opening)>;
using TOnGraphSNDDevError = std::function<void(TObject* Sender, TSndDevErr OccurWhen, uint32_t ErrorCode)>;
using TOnGraphStreamControl = std::function<void(TObject* Sender, platform::IPin* PinSender, uint32_t Cookie)>;
using TOnGraphStreamError = std::function<void(TObject* Sender, platform::HRESULT Operation, uint32_t Value)>;
using TOnGraphVideoSizeChanged = std::function<void(TObject* Sender, uint16_t Width, uint16_t Height)>;
using TOnGraphTimeCodeAvailable = std::function<void(TObject* Sender, platform::IBaseFilter* From, uint32_t DeviceID)>;
using TOnGraphEXTDeviceModeChange = std::function<void(TObject* Sender, uint32_t NewMode, uint32_t DeviceID)>;
using TOnGraphVMRRenderDevice = std::function<void(TObject* Sender, int32_t RenderDevice)>;
using TOnDVDAudioStreamChange = std::function<void(TObject* Sender, int32_t Stream, int32_t Lcid, const std::string& Lang)>;
using TOnDVDCurrentTime = std::function<void(TObject* Sender, int32_t Hours, int32_t Minutes, int32_t Seconds, int32_t Frames, int32_t Frate)>;
using TOnDVDTitleChange = std::function<void(TObject* Sender, int32_t Title)>;
using TOnDVDChapterStart = std::function<void(TObject* Sender, int32_t Chapter)>;
using TOnDVDValidUOPSChange = std::function<void(TObject* Sender, int32_t UOPS)>;
using TOnDVDParentalLevelChange = std::function<void(TObject* Sender, int32_t Level)>;
using TOnDVDChange = std::function<void(TObject* Sender, int32_t Total, int32_t Current)>;
using TOnDVDStillOn = std::function<void(TObject* Sender, bool NoButtonAvailable, int32_t Seconds)>;
using TOnDVDSubpictureStreamChange = std::function<void(TObject* Sender, int32_t SubNum, int32_t Lcid, const std::string& Lang)>;
using TOnDVDPlaybackRateChange = std::function<void(TObject* Sender, float Rate)>;
using TOnDVDAnglesAvailable = std::function<void(TObject* Sender, bool Available)>;
using TOnDVDButtonAutoActivated = std::function<void(TObject* Sender, uint32_t Button)>;
using TOnDVDCMD = std::function<void(TObject* Sender, uint32_t CmdID)>;
using TOnDVDCurrentHMSFTime = std::function<void(TObject* Sender, TDVDHMSFTimeCode HMSFTimeCode, TDVDTimeCode TimeCode)>;
using TOnDVDKaraokeMode = std::function<void(TObject* Sender, bool Played)>;
// The builder callbacks carry no sender; returning false rejects the filter.
using TOnSelectedFilter = std::function<bool(platform::IMoniker* Moniker, const std::u16string& FilterName, const GUID& ClassID)>;
using TOnCreatedFilter = std::function<bool(platform::IBaseFilter* Filter, const GUID& ClassID)>;
using TOnUnableToRender = std::function<bool(platform::IPin* Pin)>;

// The service through which a graph's callback finds the component that owns it.
inline constexpr GUID SID_FilterGraphComponent{0xC7CAA944, 0xC191, 0x4AB1, {0xAB, 0xA7, 0xD8, 0xB4, 0x0E, 0xF4, 0xD5, 0xB2}};

class TFilterGraph : public TComponent,
                     public platform::IAMGraphBuilderCallback,
                     public platform::IAMFilterGraphCallback,
                     public platform::IServiceProvider {
 public:
  explicit TFilterGraph(TComponent* AOwner = nullptr);
  ~TFilterGraph() override;

  void Loaded() override;

  bool Active() const { return FActive; }
  // Building a graph that cannot be made raises EDirectShowException and leaves the component
  // inactive.
  void SetActive(bool Value);
  bool AutoCreate() const { return FAutoCreate; }
  void SetAutoCreate(bool Value) { FAutoCreate = Value; }
  TGraphMode Mode() const { return FMode; }
  void SetMode(TGraphMode Value);
  int32_t Volume() const { return FVolume; }
  void SetVolume(int32_t Value);
  int32_t Balance() const { return FBalance; }
  void SetBalance(int32_t Value);
  bool LinearVolume() const { return FLinearVolume; }
  void SetLinearVolume(bool Value);
  bool GraphEdit() const { return FGraphEdit; }
  void SetGraphEdit(bool Value);
  const std::string& LogFile() const { return FLogFile; }
  void SetLogFile(const std::string& Value);

  platform::IFilterGraph2* FilterGraph() const { return FFilterGraph.Get(); }
  platform::ICaptureGraphBuilder2* CaptureGraph() const { return FCaptureGraph.Get(); }
  platform::IDvdGraphBuilder* DVDGraph() const { return FDVDGraph.Get(); }
  platform::IMediaEventEx* MediaEventEx() const { return FMediaEventEx.Get(); }
  // The running-object-table cookie; 0 when not registered.
  uint32_t RotCookie() const { return FRotCookie; }

  // True exactly when the graph's Stop answered S_OK; false when inactive.
  bool Stop();
  void InsertFilter(IGraphFilter* AFilter);
  void RemoveFilter(IGraphFilter* AFilter);

  // The component's own interfaces first, then (while active) the builder's and the graph's.
  platform::HRESULT QueryInterface(const GUID& iid, void** obj) override;
  // A component is not reference counted.
  platform::ULONG AddRef() override { return 1; }
  platform::ULONG Release() override { return 1; }

  // IAMGraphBuilderCallback, IAMFilterGraphCallback, IServiceProvider.
  platform::HRESULT SelectedFilter(platform::IMoniker* Moniker) override;
  platform::HRESULT CreatedFilter(platform::IBaseFilter* Filter) override;
  platform::HRESULT UnableToRender(platform::IPin* Pin) override;
  platform::HRESULT QueryService(const GUID& Service, const GUID& iid, void** Obj) override;

  // Fires OnDSEvent, then the event of the code.
  virtual void DoEvent(int32_t Event, LONG_PTR Param1, LONG_PTR Param2);

  TNotifyEvent OnActivate;
  TOnDSEvent OnDSEvent;
  TOnGraphBufferingData OnGraphBufferingData;
  TNotifyEvent OnGraphClockChanged;
  TOnGraphComplete OnGraphComplete;
  TOnGraphDeviceLost OnGraphDeviceLost;
  TOnGraphEndOfSegment OnGraphEndOfSegment;
  TOnDSResult OnGraphErrorStillPlaying;
  TOnDSResult OnGraphErrorAbort;
  TOnGraphFullscreenLost OnGraphFullscreenLost;
  TNotifyEvent OnGraphChanged;
  TOnGraphOleEvent OnGraphOleEvent;
  TOnGraphOpeningFile OnGraphOpeningFile;
  TNotifyEvent OnGraphPaletteChanged;
  TOnDSResult OnGraphPaused;
  TNotifyEvent OnGraphQualityChange;
  TOnGraphSNDDevError OnGraphSNDDevInError;
  TOnGraphSNDDevError OnGraphSNDDevOutError;
  TNotifyEvent OnGraphStepComplete;
  TOnGraphStreamControl OnGraphStreamControlStarted;
  TOnGraphStreamControl OnGraphStreamControlStopped;
  TOnGraphStreamError OnGraphStreamErrorStillPlaying;
  TOnGraphStreamError OnGraphStreamErrorStopped;
  TNotifyEvent OnGraphUserAbort;
  TOnGraphVideoSizeChanged OnGraphVideoSizeChanged;
  TOnGraphTimeCodeAvailable OnGraphTimeCodeAvailable;
  TOnGraphEXTDeviceModeChange OnGraphEXTDeviceModeChange;
  TNotifyEvent OnGraphClockUnset;
  TOnGraphVMRRenderDevice OnGraphVMRRenderDevice;
  TOnDVDAudioStreamChange OnDVDAudioStreamChange;
  TOnDVDChange OnDVDAngleChange;
  TOnDVDChange OnDVDButtonChange;
  TOnDVDChapterStart OnDVDChapterStart;
  TOnDVDCurrentTime OnDVDCurrentTime;
  TOnDVDTitleChange OnDVDTitleChange;
  TOnDVDValidUOPSChange OnDVDValidUOPSChange;
  TOnDVDStillOn OnDVDStillOn;
  TNotifyEvent OnDVDStillOff;
  TOnDVDSubpictureStreamChange OnDVDSubpictureStreamChange;
  TNotifyEvent OnDVDChapterAutoStop;
  TNotifyEvent OnDVDNoFP_PGC;
  TOnDVDPlaybackRateChange OnDVDPlaybackRateChange;
  TOnDVDParentalLevelChange OnDVDParentalLevelChange;
  TNotifyEvent OnDVDPlaybackStopped;
  TOnDVDAnglesAvailable OnDVDAnglesAvailable;
  TNotifyEvent OnDVDPlayPeriodAutoStop;
  TOnDVDButtonAutoActivated OnDVDButtonAutoActivated;
  TOnDVDCMD OnDVDCMDStart;
  TOnDVDCMD OnDVDCMDEnd;
  TNotifyEvent OnDVDDiscEjected;
  TNotifyEvent OnDVDDiscInserted;
  TOnDVDCurrentHMSFTime OnDVDCurrentHMSFTime;
  TOnDVDKaraokeMode OnDVDKaraokeMode;
  TNotifyEvent OnDVDWarningInvalidDVD1_0Disc;
  TNotifyEvent OnDVDWarningFormatNotSupported;
  TNotifyEvent OnDVDWarningIllegalNavCommand;
  TNotifyEvent OnDVDWarningOpen;
  TNotifyEvent OnDVDWarningSeek;
  TNotifyEvent OnDVDWarningRead;
  TNotifyEvent OnDVDDomainFirstPlay;
  TNotifyEvent OnDVDDomainVideoManagerMenu;
  TNotifyEvent OnDVDDomainVideoTitleSetMenu;
  TNotifyEvent OnDVDDomainTitle;
  TNotifyEvent OnDVDDomainStop;
  TNotifyEvent OnDVDErrorUnexpected;
  TNotifyEvent OnDVDErrorCopyProtectFail;
  TNotifyEvent OnDVDErrorInvalidDVD1_0Disc;
  TNotifyEvent OnDVDErrorInvalidDiscRegion;
  TNotifyEvent OnDVDErrorLowParentalLevel;
  TNotifyEvent OnDVDErrorMacrovisionFail;
  TNotifyEvent OnDVDErrorIncompatibleSystemAndDecoderRegions;
  TNotifyEvent OnDVDErrorIncompatibleDiscAndDecoderRegions;
  TOnSelectedFilter OnSelectedFilter;
  TOnCreatedFilter OnCreatedFilter;
  TOnUnableToRender OnUnableToRender;

 private:
  void Activate();
  void Deactivate();
  void ReleaseGraph();
  void AddToGraph(IGraphFilter* AFilter);
  void RemoveFromGraph(IGraphFilter* AFilter);
  void ApplyVolume();
  void ApplyBalance();
  void WndProc(platform::TMessage& Message);
  void HandleGraphEvents();
  void DVDStreamLanguage(int32_t Event, LONG_PTR Param1);
  static void Fire(const TNotifyEvent& Event, TObject* Sender) {
    if (Event) Event(Sender);
  }

  bool FActive = false;
  bool FAutoCreate = false;
  platform::HWND FHandle = nullptr;
  TGraphMode FMode = TGraphMode::gmNormal;
  int32_t FVolume = 10000;
  int32_t FBalance = 0;
  bool FLinearVolume = true;
  std::vector<ComPtr<IGraphFilter>> FFilters;
  ComPtr<platform::IFilterGraph2> FFilterGraph;
  ComPtr<platform::ICaptureGraphBuilder2> FCaptureGraph;
  ComPtr<platform::IDvdGraphBuilder> FDVDGraph;
  ComPtr<platform::IMediaEventEx> FMediaEventEx;
  bool FGraphEdit = false;
  uint32_t FRotCookie = 0;
  std::string FLogFile;
  std::unique_ptr<platform::TFileStream> FLogStream;
};

// Called for each sample that passes the grabber, on the streaming thread.
using TOnBuffer = std::function<void(TObject* Sender, double SampleTime, void* pBuffer, int32_t BufferLen)>;

// Puts a sample grabber filter into the graph of a TFilterGraph, fixes the media type it
// accepts (24-bit RGB video unless set otherwise), reports every sample as OnBuffer and turns
// the current or a given frame into a bitmap.
class TSampleGrabber : public TComponent, public IGraphFilter, public platform::ISampleGrabberCB {
 public:
  // Raises EAssertionFailed when the platform has no sample grabber filter.
  explicit TSampleGrabber(TComponent* AOwner = nullptr);
  ~TSampleGrabber() override;

  TFilterGraph* FilterGraph() const { return FFilterGraph; }
  // Detaches from the old graph and attaches to the new one.
  void SetFilterGraph(TFilterGraph* Value);
  TMediaType* MediaType() const { return FMediaType.get(); }
  void SetMediaType(const TMediaType* Value) { FMediaType->Assign(Value); }

  platform::IBaseFilter* BaseFilter() const { return FBaseFilter.Get(); }
  platform::ISampleGrabber* SampleGrabber() const { return FSampleGrabber.Get(); }
  platform::IPin* InPin() const { return FInPin.Get(); }
  platform::IPin* OutPin() const { return FOutPin.Get(); }

  // Copies a video frame into Bitmap: Buffer's bytes, or with Buffer nullptr the filter's
  // current sample. False, leaving Bitmap alone, when there is no frame to take.
  bool GetBitmapFromBuffer(platform::TBitmap* Bitmap, const void* Buffer, int32_t BufferLen);
  bool GetBitmap(platform::TBitmap* Bitmap) { return GetBitmapFromBuffer(Bitmap, nullptr, 0); }

  platform::HRESULT QueryInterface(const GUID& iid, void** obj) override;
  platform::ULONG AddRef() override { return 1; }
  platform::ULONG Release() override { return 1; }

  // IGraphFilter
  ComPtr<platform::IBaseFilter> GetFilter() override { return FBaseFilter; }
  std::string GetName() override { return Name(); }
  void NotifyFilter(TFilterOperation Operation, int32_t Param) override;

  // ISampleGrabberCB, on the streaming thread. OnBuffer runs under the component's lock, so a
  // second sample waits for the handler; an exception from it is not let into the filter
  // (the call answers E_FAIL).
  platform::HRESULT SampleCB(double SampleTime, platform::IMediaSample* Sample) override;
  platform::HRESULT BufferCB(double SampleTime, uint8_t* Buffer, int32_t BufferLen) override;

  TOnBuffer OnBuffer;

 protected:
  void Notification(TComponent* AComponent, platform::TOperation Operation) override;

 private:
  void ApplyMediaType();

  TFilterGraph* FFilterGraph = nullptr;
  std::unique_ptr<TMediaType> FMediaType;
  std::mutex FLock;
  ComPtr<platform::IBaseFilter> FBaseFilter;
  ComPtr<platform::ISampleGrabber> FSampleGrabber;
  ComPtr<platform::IPin> FInPin;
  ComPtr<platform::IPin> FOutPin;
};

// Bytes in one row of a device-independent bitmap: rows padded to 32 bits; 15 bits a pixel
// count as 16.
int64_t GetDIBLineSize(int32_t BitCount, int32_t Width);

}  // namespace media
