// A small in-process stand-in for DirectShow and the few COM services around it: reference-
// counted interfaces as abstract classes, an empty filter graph (filters can be added and
// removed, Stop, volume and balance, an event queue that notifies a hidden window), the
// capture and DVD graph builders, a running object table with item monikers, the COM task
// allocator and an error-text table. No media ever flows through it. Result codes and GUIDs
// are the documented DirectShow and COM values.
//
// Creation goes through CoCreateInstance; RegisterComClass replaces a class's factory, which
// lets tests put a recording or failing fake in place of a built-in object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using LCID = uint32_t;
using LCTYPE = uint32_t;
using LONG_PTR = intptr_t;
using DWORD_PTR = uintptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using REFERENCE_TIME = int64_t;
using LPCWSTR = const char16_t*;
// A COM string: allocated by SysAllocString, freed by SysFreeString.
using BSTR = char16_t*;

constexpr HRESULT HResult(uint32_t Code) { return static_cast<HRESULT>(Code); }
constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = HResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = HResult(0x80004002);
constexpr HRESULT E_POINTER = HResult(0x80004003);
constexpr HRESULT E_ABORT = HResult(0x80004004);
constexpr HRESULT E_FAIL = HResult(0x80004005);
constexpr HRESULT E_UNEXPECTED = HResult(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = HResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = HResult(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = HResult(0x80040110);
constexpr HRESULT REGDB_E_CLASSNOTREG = HResult(0x80040154);
constexpr HRESULT MK_E_UNAVAILABLE = HResult(0x800401E3);
constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = HResult(0x000401E7);
constexpr HRESULT VFW_E_NOT_CONNECTED = HResult(0x80040209);
constexpr HRESULT VFW_E_NOT_FOUND = HResult(0x80040216);
constexpr HRESULT VFW_E_WRONG_STATE = HResult(0x80040227);
constexpr HRESULT VFW_S_DUPLICATE_NAME = HResult(0x0004022D);

constexpr DWORD CLSCTX_INPROC_SERVER = 1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 2;

// SetNotifyFlags: 0 delivers events, AM_MEDIAEVENT_NONOTIFY turns notification off.
constexpr int32_t AM_MEDIAEVENT_NONOTIFY = 1;

constexpr LCTYPE LOCALE_SENGLANGUAGE = 0x1001;

struct GUID {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  uint8_t Data4[8] = {};
  friend bool operator==(const GUID&, const GUID&) = default;
};
inline constexpr GUID GUID_NULL{};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::string GUIDToString(const GUID& g);
// Accepts the braced form, either case; false for anything else.
bool TryStringToGUID(std::string_view s, GUID& g);

// Class ids.
inline constexpr GUID CLSID_FilterGraph{0xE436EBB3, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID CLSID_CaptureGraphBuilder2{0xBF87B6E1, 0x8C27, 0x11D0, {0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
inline constexpr GUID CLSID_DvdGraphBuilder{0xFCC152B7, 0xF372, 0x11D0, {0x8E, 0x00, 0x00, 0xC0, 0x4F, 0xD7, 0xC0, 0x8B}};
inline constexpr GUID CLSID_SampleGrabber{0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// Media types.
inline constexpr GUID MEDIATYPE_Video{0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIASUBTYPE_RGB24{0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_RGB32{0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID FORMAT_VideoInfo{0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID FORMAT_VideoInfo2{0xF72A76A0, 0xEB0A, 0x11D0, {0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};

class IUnknown;

// DirectShow's media-type record. Its stored form is 72 bytes with 32-bit pointer fields;
// in memory the pointers are native.
struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  int32_t bFixedSizeSamples = 0;  // a 32-bit Boolean: 0 or -1
  int32_t bTemporalCompression = 0;
  uint32_t lSampleSize = 0;
  GUID formattype;
  IUnknown* pUnk = nullptr;
  uint32_t cbFormat = 0;
  uint8_t* pbFormat = nullptr;  // CoTaskMemAlloc'd
};
constexpr int32_t AM_MEDIA_TYPE_SIZE = 72;

class IMoniker;
class IFilterGraph;
class IEnumPins;
class IGraphBuilder;

// Holds one reference to a COM object and releases it when it goes.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference.
  explicit ComPtr(T* p) : FPtr(p) {
    if (FPtr) FPtr->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.FPtr) {}
  ComPtr(ComPtr&& o) noexcept : FPtr(o.FPtr) { o.FPtr = nullptr; }
  ~ComPtr() { Reset(); }
  ComPtr& operator=(const ComPtr& o) {
    if (o.FPtr) o.FPtr->AddRef();
    Reset();
    FPtr = o.FPtr;
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      Reset();
      FPtr = o.FPtr;
      o.FPtr = nullptr;
    }
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }
  void Reset() {
    T* p = FPtr;
    FPtr = nullptr;
    if (p) p->Release();
  }
  // Takes over a reference the caller already owns.
  void Attach(T* p) {
    Reset();
    FPtr = p;
  }
  T* Detach() {
    T* p = FPtr;
    FPtr = nullptr;
    return p;
  }
  T* Get() const { return FPtr; }
  T* operator->() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }
  // For out-parameters: releases what is held and hands out the slot.
  T** Put() {
    Reset();
    return &FPtr;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

 private:
  T* FPtr = nullptr;
};

class IUnknown {
 public:
  static constexpr GUID IID{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT QueryInterface(const GUID& iid, void** obj) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

// Asks Unk for the interface T; an empty pointer and the failure code when it has none.
template <class T>
HRESULT QueryTo(IUnknown* Unk, ComPtr<T>& Out) {
  if (!Unk) {
    Out = nullptr;
    return E_POINTER;
  }
  return Unk->QueryInterface(T::IID, Out.PutVoid());
}

class IPersist : public IUnknown {
 public:
  static constexpr GUID IID{0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT GetClassID(GUID* ClassID) = 0;
};

class IMediaFilter : public IPersist {
 public:
  static constexpr GUID IID{0x56A86899, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  virtual HRESULT Stop() = 0;
};

struct FILTER_INFO {
  std::u16string achName;
  IFilterGraph* pGraph = nullptr;  // a reference the caller releases
};

class IBaseFilter : public IMediaFilter {
 public:
  static constexpr GUID IID{0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  virtual HRESULT QueryFilterInfo(FILTER_INFO* Info) = 0;
  // The graph tells a filter it joined (Graph set) or left (nullptr); the filter keeps no
  // reference to the graph.
  virtual HRESULT JoinFilterGraph(IFilterGraph* Graph, LPCWSTR Name) = 0;
  virtual HRESULT EnumPins(IEnumPins** Enum) = 0;
};

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct PIN_INFO {
  IBaseFilter* pFilter = nullptr;  // a reference the caller releases
  PIN_DIRECTION dir = PINDIR_INPUT;
  std::u16string achName;
};

class IPin : public IUnknown {
 public:
  static constexpr GUID IID{0x56A86891, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  virtual HRESULT Disconnect() = 0;
  virtual HRESULT QueryPinInfo(PIN_INFO* Info) = 0;
};

class IEnumPins : public IUnknown {
 public:
  static constexpr GUID IID{0x56A86892, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  // Hands out up to Count pins (references the caller releases); S_FALSE when fewer were left.
  virtual HRESULT Next(ULONG Count, IPin** Pins, ULONG* Fetched) = 0;
  virtual HRESULT Skip(ULONG Count) = 0;
  virtual HRESULT Reset() = 0;
};

// A media sample; none is ever made here, so it offers nothing beyond its identity.
class IMediaSample : public IUnknown {
 public:
  static constexpr GUID IID{0x56A8689A, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
};

// What the sample grabber calls for each sample, on the streaming thread.
class ISampleGrabberCB : public IUnknown {
 public:
  static constexpr GUID IID{0x0579154A, 0x2B53, 0x4994, {0xB0, 0xD0, 0xE7, 0x73, 0x14, 0x8E, 0xFF, 0x85}};
  virtual HRESULT SampleCB(double SampleTime, IMediaSample* Sample) = 0;
  virtual HRESULT BufferCB(double SampleTime, uint8_t* Buffer, int32_t BufferLen) = 0;
};

// The sample grabber filter: one input and one output pin, accepting the media type it is
// given. Nothing ever connects to it here, so it has no connected type and no sample.
class ISampleGrabber : public IUnknown {
 public:
  static constexpr GUID IID{0x6B652FFF, 0x11FE, 0x4FCE, {0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7, 0xC7, 0x8F}};
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* Type) = 0;
  // Fills Type (the caller frees it with FreeMediaType); VFW_E_NOT_CONNECTED without a connection.
  virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* Type) = 0;
  virtual HRESULT SetBufferSamples(bool Buffer) = 0;
  // Buffer nullptr: BufferSize gets the size of the last sample. Otherwise copies the sample
  // into Buffer, which holds BufferSize bytes. VFW_E_WRONG_STATE without a buffered sample.
  virtual HRESULT GetCurrentBuffer(int32_t* BufferSize, uint8_t* Buffer) = 0;
  // WhichMethod 0 calls SampleCB, 1 BufferCB; nullptr stops the calls.
  virtual HRESULT SetCallback(ISampleGrabberCB* Callback, int32_t WhichMethod) = 0;
};

class IFilterGraph : public IUnknown {
 public:
  static constexpr GUID IID{0x56A8689F, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  // A name already in use gets " 0001" (and so on) appended and VFW_S_DUPLICATE_NAME.
  virtual HRESULT AddFilter(IBaseFilter* Filter, LPCWSTR Name) = 0;
  virtual HRESULT RemoveFilter(IBaseFilter* Filter) = 0;
  virtual HRESULT FindFilterByName(LPCWSTR Name, IBaseFilter** Filter) = 0;
};

class IGraphBuilder : public IFilterGraph {
 public:
  static constexpr GUID IID{0x56A868A9, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  // A file descriptor to log graph operations to; 0 stops logging. The graph does not own it.
  virtual HRESULT SetLogFile(DWORD_PTR File) = 0;
};

class IFilterGraph2 : public IGraphBuilder {
 public:
  static constexpr GUID IID{0x36B73882, 0xC2C8, 0x11CF, {0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60}};
};

class IMediaControl : public IUnknown {
 public:
  static constexpr GUID IID{0x56A868B1, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  virtual HRESULT Stop() = 0;
};

class IMediaEvent : public IUnknown {
 public:
  static constexpr GUID IID{0x56A868B6, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  // E_ABORT when the queue is empty (this graph never waits, whatever the time-out).
  virtual HRESULT GetEvent(int32_t* EventCode, LONG_PTR* Param1, LONG_PTR* Param2, int32_t msTimeout) = 0;
  // Frees what an event's parameters hold (strings, interface references).
  virtual HRESULT FreeEventParams(int32_t EventCode, LONG_PTR Param1, LONG_PTR Param2) = 0;
};

// A window handle, as the controls' (opaque; hidden windows are checked before use).
using HWND = void*;

class IMediaEventEx : public IMediaEvent {
 public:
  static constexpr GUID IID{0x56A868C0, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  // Each queued event posts Msg to Window with WParam 0 and LParam InstanceData.
  virtual HRESULT SetNotifyWindow(HWND Window, int32_t Msg, LONG_PTR InstanceData) = 0;
  virtual HRESULT SetNotifyFlags(int32_t NoNotifyFlags) = 0;
  virtual HRESULT GetNotifyFlags(int32_t* NoNotifyFlags) = 0;
};

// How filters (and tests) raise graph events. Interface parameters of the events that carry
// them are referenced until FreeEventParams; OLE-event strings must be BSTRs.
class IMediaEventSink : public IUnknown {
 public:
  static constexpr GUID IID{0x56A868A2, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  virtual HRESULT Notify(int32_t EventCode, LONG_PTR Param1, LONG_PTR Param2) = 0;
};

// Volume in hundredths of a decibel, -10000..0; balance -10000 (left) .. 10000 (right).
class IBasicAudio : public IUnknown {
 public:
  static constexpr GUID IID{0x56A868B3, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  virtual HRESULT put_Volume(int32_t Volume) = 0;
  virtual HRESULT get_Volume(int32_t* Volume) = 0;
  virtual HRESULT put_Balance(int32_t Balance) = 0;
  virtual HRESULT get_Balance(int32_t* Balance) = 0;
};

class IObjectWithSite : public IUnknown {
 public:
  static constexpr GUID IID{0xFC4801A3, 0x2BA9, 0x11CF, {0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52}};
  virtual HRESULT SetSite(IUnknown* Site) = 0;
  virtual HRESULT GetSite(const GUID& iid, void** Site) = 0;
};

class IServiceProvider : public IUnknown {
 public:
  static constexpr GUID IID{0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
  virtual HRESULT QueryService(const GUID& Service, const GUID& iid, void** Obj) = 0;
};

class IAMGraphBuilderCallback : public IUnknown {
 public:
  static constexpr GUID IID{0x4995F511, 0x9DDB, 0x4F12, {0xBD, 0x3B, 0xF0, 0x46, 0x11, 0x80, 0x7B, 0x79}};
  virtual HRESULT SelectedFilter(IMoniker* Moniker) = 0;
  virtual HRESULT CreatedFilter(IBaseFilter* Filter) = 0;
};

class IAMFilterGraphCallback : public IUnknown {
 public:
  static constexpr GUID IID{0x56A868FD, 0x0AD4, 0x11CE, {0xB0, 0xA3, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
  virtual HRESULT UnableToRender(IPin* Pin) = 0;
};

class ICaptureGraphBuilder2 : public IUnknown {
 public:
  static constexpr GUID IID{0x93E5A4E0, 0x2D50, 0x11D2, {0xAB, 0xFA, 0x00, 0xA0, 0xC9, 0xC6, 0xE3, 0x8D}};
  virtual HRESULT SetFiltergraph(IGraphBuilder* Graph) = 0;
  // Makes a graph of its own when none was set.
  virtual HRESULT GetFiltergraph(IGraphBuilder** Graph) = 0;
};

class IDvdGraphBuilder : public IUnknown {
 public:
  static constexpr GUID IID{0xFCC152B6, 0xF372, 0x11D0, {0x8E, 0x00, 0x00, 0xC0, 0x4F, 0xD7, 0xC0, 0x8B}};
  virtual HRESULT GetFiltergraph(IGraphBuilder** Graph) = 0;
  // Interfaces of the DVD navigator; without a rendered volume there is none (E_NOINTERFACE).
  virtual HRESULT GetDvdInterface(const GUID& iid, void** Obj) = 0;
};

class IDvdInfo2 : public IUnknown {
 public:
  static constexpr GUID IID{0x34151510, 0xEEC0, 0x11D2, {0x82, 0x01, 0x00, 0xA0, 0xC9, 0xD7, 0x48, 0x42}};
  virtual HRESULT GetAudioLanguage(ULONG Stream, LCID* Language) = 0;
  virtual HRESULT GetSubpictureLanguage(ULONG Stream, LCID* Language) = 0;
};

// Property bags here hold text values only (filter monikers store "CLSID" and "FriendlyName").
class IPropertyBag : public IUnknown {
 public:
  static constexpr GUID IID{0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
  virtual HRESULT Read(LPCWSTR Name, std::u16string* Value) = 0;
};

class IMoniker : public IUnknown {
 public:
  static constexpr GUID IID{0x0000000F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  virtual HRESULT BindToStorage(const GUID& iid, void** Obj) = 0;
  virtual HRESULT GetDisplayName(std::u16string* Name) = 0;
};

class IRunningObjectTable : public IUnknown {
 public:
  static constexpr GUID IID{0x00000010, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  // Holds a reference to Object until Revoke; a second object under the same name is
  // registered too, with MK_S_MONIKERALREADYREGISTERED.
  virtual HRESULT Register(DWORD Flags, IUnknown* Object, IMoniker* Name, DWORD* Cookie) = 0;
  virtual HRESULT Revoke(DWORD Cookie) = 0;
  virtual HRESULT IsRunning(IMoniker* Name) = 0;
  virtual HRESULT GetObject(IMoniker* Name, IUnknown** Object) = 0;
};

// The COM services.
using TComClassFactory = std::function<HRESULT(const GUID& iid, void** obj)>;
HRESULT CoCreateInstance(const GUID& ClassID, IUnknown* Outer, DWORD ClsContext, const GUID& iid,
                         void** Obj);
// Replaces the factory of ClassID (an empty function unregisters it) and returns the one it
// replaced, so a test can put it back.
TComClassFactory RegisterComClass(const GUID& ClassID, TComClassFactory Factory);
void* CoTaskMemAlloc(size_t Size);
void CoTaskMemFree(void* Ptr);
BSTR SysAllocString(std::u16string_view Text);
void SysFreeString(BSTR Text);
HRESULT GetRunningObjectTable(DWORD Reserved, IRunningObjectTable** Table);
// An item moniker whose display name is Delimiter followed by Item.
HRESULT CreateItemMoniker(LPCWSTR Delimiter, LPCWSTR Item, IMoniker** Moniker);
DWORD GetCurrentProcessId();

// Copies the text of Code into Buffer (at most MaxLen - 1 characters and a zero) and returns
// the number of characters copied; 0 for a code without text.
DWORD AMGetErrorTextA(HRESULT Code, char* Buffer, DWORD MaxLen);
// LOCALE_SENGLANGUAGE only: the English name of the language; returns the characters copied
// including the zero, 0 when unknown or the buffer is too small.
int GetLocaleInfoA(LCID Locale, LCTYPE Type, char* Buffer, int MaxLen);

// Hidden windows: a GUI-thread object whose window method receives posted messages one by
// one from the event loop, in posting order. PostMessage may be called from any thread and
// fails (false) for a window that no longer exists.
struct TMessage {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};
using TWndMethod = std::function<void(TMessage& Message)>;
HWND AllocateHWnd(TWndMethod Method);
void DeallocateHWnd(HWND Window);
bool PostMessage(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam);
LRESULT DefWindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam);

// Window methods hand exceptions they cannot deal with to this handler (the application sets
// it to its own exception handler; until then the message goes to standard error).
using TWindowExceptionHandler = std::function<void(const std::exception& E)>;
void SetWindowExceptionHandler(TWindowExceptionHandler Handler);
void HandleWindowException(const std::exception& E);

// Event codes the graph and its filters raise.
constexpr int32_t EC_COMPLETE = 0x01;
constexpr int32_t EC_USERABORT = 0x02;
constexpr int32_t EC_ERRORABORT = 0x03;
constexpr int32_t EC_STREAM_ERROR_STOPPED = 0x06;
constexpr int32_t EC_STREAM_ERROR_STILLPLAYING = 0x07;
constexpr int32_t EC_ERROR_STILLPLAYING = 0x08;
constexpr int32_t EC_PALETTE_CHANGED = 0x09;
constexpr int32_t EC_VIDEO_SIZE_CHANGED = 0x0A;
constexpr int32_t EC_QUALITY_CHANGE = 0x0B;
constexpr int32_t EC_CLOCK_CHANGED = 0x0D;
constexpr int32_t EC_PAUSED = 0x0E;
constexpr int32_t EC_OPENING_FILE = 0x10;
constexpr int32_t EC_BUFFERING_DATA = 0x11;
constexpr int32_t EC_FULLSCREEN_LOST = 0x12;
constexpr int32_t EC_OLE_EVENT = 0x18;
constexpr int32_t EC_STREAM_CONTROL_STOPPED = 0x1A;
constexpr int32_t EC_STREAM_CONTROL_STARTED = 0x1B;
constexpr int32_t EC_END_OF_SEGMENT = 0x1C;
constexpr int32_t EC_DEVICE_LOST = 0x1F;
constexpr int32_t EC_STEP_COMPLETE = 0x24;
constexpr int32_t EC_TIMECODE_AVAILABLE = 0x30;
constexpr int32_t EC_EXTDEVICE_MODE_CHANGE = 0x31;
constexpr int32_t EC_GRAPH_CHANGED = 0x50;
constexpr int32_t EC_CLOCK_UNSET = 0x51;
constexpr int32_t EC_VMR_RENDERDEVICE_SET = 0x53;
constexpr int32_t EC_SNDDEV_IN_ERROR = 0x200;
constexpr int32_t EC_SNDDEV_OUT_ERROR = 0x201;
constexpr int32_t EC_DVD_DOMAIN_CHANGE = 0x101;
constexpr int32_t EC_DVD_TITLE_CHANGE = 0x102;
constexpr int32_t EC_DVD_CHAPTER_START = 0x103;
constexpr int32_t EC_DVD_AUDIO_STREAM_CHANGE = 0x104;
constexpr int32_t EC_DVD_SUBPICTURE_STREAM_CHANGE = 0x105;
constexpr int32_t EC_DVD_ANGLE_CHANGE = 0x106;
constexpr int32_t EC_DVD_BUTTON_CHANGE = 0x107;
constexpr int32_t EC_DVD_VALID_UOPS_CHANGE = 0x108;
constexpr int32_t EC_DVD_STILL_ON = 0x109;
constexpr int32_t EC_DVD_STILL_OFF = 0x10A;
constexpr int32_t EC_DVD_CURRENT_TIME = 0x10B;
constexpr int32_t EC_DVD_ERROR = 0x10C;
constexpr int32_t EC_DVD_WARNING = 0x10D;
constexpr int32_t EC_DVD_CHAPTER_AUTOSTOP = 0x10E;
constexpr int32_t EC_DVD_NO_FP_PGC = 0x10F;
constexpr int32_t EC_DVD_PLAYBACK_RATE_CHANGE = 0x110;
constexpr int32_t EC_DVD_PARENTAL_LEVEL_CHANGE = 0x111;
constexpr int32_t EC_DVD_PLAYBACK_STOPPED = 0x112;
constexpr int32_t EC_DVD_ANGLES_AVAILABLE = 0x113;
constexpr int32_t EC_DVD_PLAYPERIOD_AUTOSTOP = 0x114;
constexpr int32_t EC_DVD_BUTTON_AUTO_ACTIVATED = 0x115;
constexpr int32_t EC_DVD_CMD_START = 0x116;
constexpr int32_t EC_DVD_CMD_END = 0x117;
constexpr int32_t EC_DVD_DISC_EJECTED = 0x118;
constexpr int32_t EC_DVD_DISC_INSERTED = 0x119;
constexpr int32_t EC_DVD_CURRENT_HMSF_TIME = 0x11A;
constexpr int32_t EC_DVD_KARAOKE_MODE = 0x11B;

}  // namespace platform
