#include "widgets/PictureContainer.h"

#include <algorithm>
#include <map>

#include "platform/Classes.h"
#include "platform/Exceptions.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"

namespace widgets {

using namespace platform;

namespace {

uint16_t Word16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Skips data sub-blocks from Pos; false when the stream ends first.
bool SkipSubBlocks(const uint8_t* Data, size_t Size, size_t& Pos) {
  while (Pos < Size) {
    const size_t n = Data[Pos++];
    if (n == 0) return true;
    if (n > Size - Pos) return false;
    Pos += n;
  }
  return false;
}

std::map<std::string, std::vector<uint8_t>>& Resources() {
  static std::map<std::string, std::vector<uint8_t>> resources;
  return resources;
}

}  // namespace

TGifLayout ScanGifLayout(const uint8_t* Data, size_t Size) {
  TGifLayout layout;
  if (!Data || Size < 13 || Data[0] != 'G' || Data[1] != 'I' || Data[2] != 'F' || Data[3] != '8') return layout;
  layout.IsGif = true;
  layout.ScreenWidth = Word16(Data + 6);
  layout.ScreenHeight = Word16(Data + 8);
  size_t pos = 13;
  if (Data[10] & 0x80) pos += 3u * (1u << ((Data[10] & 7) + 1));
  size_t pendingControl = SIZE_MAX;
  while (pos < Size) {
    const uint8_t b = Data[pos];
    if (b == 0x21) {
      if (Size - pos < 2) break;
      const size_t start = pos;
      const uint8_t label = Data[pos + 1];
      pos += 2;
      if (!SkipSubBlocks(Data, Size, pos)) break;
      pendingControl = label == 0xF9 ? start : pendingControl;
    } else if (b == 0x2C) {
      if (Size - pos < 10) break;
      TGifFrameInfo f;
      f.Start = pendingControl != SIZE_MAX ? pendingControl : pos;
      f.Descriptor = pos;
      f.Left = Word16(Data + pos + 1);
      f.Top = Word16(Data + pos + 3);
      f.Width = Word16(Data + pos + 5);
      f.Height = Word16(Data + pos + 7);
      const uint8_t flags = Data[pos + 9];
      pos += 10;
      if (flags & 0x80) {
        const size_t table = 3u * (1u << ((flags & 7) + 1));
        if (table > Size - pos) break;
        pos += table;
      }
      if (pos >= Size) break;
      ++pos;  // LZW minimum code size
      pendingControl = SIZE_MAX;
      layout.Frames.push_back(f);
      if (!SkipSubBlocks(Data, Size, pos)) break;
    } else {
      break;  // trailer or damage
    }
  }
  return layout;
}

void RegisterPictureResource(const std::string& Name, std::vector<uint8_t> Bytes) {
  Resources()[UpperCase(Name)] = std::move(Bytes);
}

const std::vector<uint8_t>* FindPictureResource(const std::string& Name) {
  auto it = Resources().find(UpperCase(Name));
  return it == Resources().end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------------------------

THTMLPicture::THTMLPicture() = default;

THTMLPicture::~THTMLPicture() {
  FAlive.reset();  // events still queued for this picture are dropped
  FThread.reset();  // stops the transfer and waits for the thread
}

void THTMLPicture::ResetDecoded() {
  FEmpty = true;
  FDecoded.Clear();
  FFrameCount = -2;
  FFrameLeft = FFrameTop = FFrameWidth = FFrameHeight = 0;
  FScreenWidth = FScreenHeight = 0;
}

void THTMLPicture::Assign(const TPersistent* Source) {
  ResetDecoded();
  FFrame = 1;
  if (const auto* other = dynamic_cast<const THTMLPicture*>(Source)) {
    FData = other->FData;
    Decode();
    Changed();
    return;
  }
  if (!Source) {
    FData.clear();
    return;
  }
  TGraphic::Assign(Source);
}

int32_t THTMLPicture::FrameCount() {
  if (FFrameCount == -2) {
    const TGifLayout layout = ScanGifLayout(FData.data(), FData.size());
    FFrameCount = layout.IsGif ? static_cast<int32_t>(layout.Frames.size()) : -1;
  }
  return FFrameCount;
}

void THTMLPicture::SetFrame(int32_t Value) {
  const int32_t count = FrameCount();
  // Without a GIF loaded yet the frame is kept for the bytes to come.
  Value = count >= 1 ? std::max(1, std::min(count, Value)) : std::max(1, Value);
  if (Value == FFrame) return;
  FFrame = Value;
  if (!FData.empty()) {
    Decode();
    if (OnFrameChange) OnFrameChange(this);
  }
}

void THTMLPicture::Decode() {
  FEmpty = false;
  FDecoded.Clear();
  if (FData.empty()) {
    FEmpty = true;
    return;
  }
  const TGifLayout layout = ScanGifLayout(FData.data(), FData.size());
  std::vector<uint8_t> selected;
  const std::vector<uint8_t>* bytes = &FData;
  if (layout.IsGif && !layout.Frames.empty()) {
    FFrame = std::max(1, std::min(static_cast<int32_t>(layout.Frames.size()), FFrame));
    const TGifFrameInfo& first = layout.Frames.front();
    const TGifFrameInfo& f = layout.Frames[static_cast<size_t>(FFrame) - 1];
    // The frames before the chosen one are left out, so the decoder shows it first.
    const auto at = [this](size_t Pos) { return FData.begin() + static_cast<ptrdiff_t>(Pos); };
    const uint8_t flags = FData[f.Descriptor + 9];
    if (flags & 0x80) {
      // A frame with colours of its own gets them as the file's colours instead: the decoder
      // fills the screen from the file's table before it reads a frame's own, so with the
      // frame's table it would fill from colours it has not read yet.
      const size_t global = (FData[10] & 0x80) ? 3u * (1u << ((FData[10] & 7) + 1)) : 0;
      const size_t local = 3u * (1u << ((flags & 7) + 1));
      selected.assign(FData.begin(), at(13));
      selected[10] = static_cast<uint8_t>((FData[10] & 0x78) | 0x80 | (flags & 7));
      selected.insert(selected.end(), at(f.Descriptor + 10), at(f.Descriptor + 10 + local));
      selected.insert(selected.end(), at(std::min(13 + global, first.Start)), at(first.Start));
      selected.insert(selected.end(), at(f.Start), at(f.Descriptor + 9));
      selected.push_back(static_cast<uint8_t>(flags & 0x78));
      selected.insert(selected.end(), at(f.Descriptor + 10 + local), FData.end());
    } else {
      selected.assign(FData.begin(), at(first.Start));
      selected.insert(selected.end(), at(f.Start), FData.end());
    }
    bytes = &selected;
    FScreenWidth = layout.ScreenWidth;
    FScreenHeight = layout.ScreenHeight;
    FFrameLeft = f.Left;
    FFrameTop = f.Top;
    FFrameWidth = f.Width;
    FFrameHeight = f.Height;
  }
  switch (FDecoded.Decode(bytes->data(), bytes->size(), MaxHtmlPicturePixels)) {
    case TDecodeResult::Ok:
      // The screen outside the shown frame holds nothing; the decoder may leave stray colours
      // there (a background taken from a colour table it has not read yet).
      if (layout.IsGif && !layout.Frames.empty())
        FDecoded.ClearOutside({FFrameLeft, FFrameTop, FFrameLeft + FFrameWidth, FFrameTop + FFrameHeight});
      break;
    case TDecodeResult::TooLarge:
      FEmpty = true;
      throw Exception("Could not allocate memory for image");
    case TDecodeResult::InvalidFormat:
      FEmpty = true;
      throw Exception("Could not load image. Invalid format");
  }
}

int32_t THTMLPicture::Width() const {
  if (FScreenWidth != 0) return FScreenWidth;
  return FDecoded.Width();
}

int32_t THTMLPicture::Height() const {
  if (FScreenHeight != 0) return FScreenHeight;
  return FDecoded.Height();
}

void THTMLPicture::Draw(TCanvas* Canvas, const TRect& R) {
  if (FDecoded.Empty() || !Canvas) return;
  if (FStretch) {
    FDecoded.Draw(Canvas, R);
    return;
  }
  const int32_t w = MulDiv(FDecoded.Width(), Canvas->GetDeviceCaps(LOGPIXELSX), 96);
  const int32_t h = MulDiv(FDecoded.Height(), Canvas->GetDeviceCaps(LOGPIXELSY), 96);
  FDecoded.Draw(Canvas, {R.Left, R.Top, R.Left + w, R.Top + h});
}

void THTMLPicture::LoadFromBytes(std::vector<uint8_t> Bytes) {
  ResetDecoded();
  FData = std::move(Bytes);
  Decode();
  Changed();
}

void THTMLPicture::LoadFromFile(const std::string& FileName) {
  TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&stream);
}

void THTMLPicture::LoadFromStream(TStream* Stream) {
  const int64_t size = Stream->GetSize() - Stream->GetPosition();
  if (size < 0 || size > int64_t{1} << 30) throw Exception("Could not allocate memory for image");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (size > 0) Stream->ReadBuffer(bytes.data(), size);
  LoadFromBytes(std::move(bytes));
}

void THTMLPicture::SaveToStream(TStream* Stream) {
  if (!FData.empty()) Stream->WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

void THTMLPicture::LoadFromResourceName(const std::string& Name) {
  if (const std::vector<uint8_t>* bytes = FindPictureResource(Name)) LoadFromBytes(*bytes);
}

void THTMLPicture::StopDownLoad() {
  if (!FThread) return;
  FAlive = std::make_shared<int>(0);  // what the old transfer still queued is dropped
  FDownLoadCancelled = false;
  FThread.reset();  // stops the transfer and waits for the thread
}

void THTMLPicture::SetLocation(const std::string& Location) {
  // A download for another location would replace what this one shows when it ends.
  if (Location != FID) StopDownLoad();
  const std::string upper = UpperCase(Location);
  if (upper.rfind("RES://", 0) == 0) {
    FID = Location;
    LoadFromResourceName(Location.substr(6));
  } else if (upper.rfind("FILE://", 0) == 0) {
    FID = Location;
    LoadFromFile(Location.substr(7));
  } else if (!FAsynchronous) {
    FLocation = Location;
    FID = Location;
  } else if (!FDownLoadStarted || Location != FID) {
    FLocation = Location;
    FID = Location;
    FDownLoadStarted = true;
    FDownLoadCancelled = false;
    FThread = std::make_unique<TDownLoadThread>(this, Location, FAlive);
  }
}

namespace {
uint32_t Dword(int64_t V) { return static_cast<uint32_t>(std::clamp<int64_t>(V, 0, UINT32_MAX)); }
}  // namespace

void THTMLPicture::DownLoadProgress(int64_t Received, int64_t Total) {
  if (FDownLoadCancelled || !FThread) return;
  if (OnDownLoadProgress) OnDownLoadProgress(this, Dword(Received), Dword(Total));
  bool cancel = false;
  if (OnDownLoadCancel) OnDownLoadCancel(this, cancel);
  if (cancel && FThread) {
    FDownLoadCancelled = true;
    FThread->Terminate();
  }
}

void THTMLPicture::DownLoadDone(const std::shared_ptr<TFetchResult>& Result) {
  if (std::unique_ptr<TDownLoadThread> done = std::move(FThread)) done->WaitFor();
  if (FDownLoadCancelled || Result->Cancelled) return;
  std::string error = Result->Error;
  if (Result->Ok) {
    try {
      // An answer without a body (204, or a length of 0) is no picture: loading nothing would
      // leave the picture empty and still report it complete.
      if (Result->Body.empty()) throw Exception("Could not load image. Invalid format");
      LoadFromBytes(std::move(Result->Body));
    } catch (const Exception& e) {
      error = e.Message;
    }
  }
  if (!Result->Ok || !error.empty()) {
    ResetDecoded();
    FData.clear();
    if (OnDownLoadError) OnDownLoadError(this, error);
    return;
  }
  if (OnDownLoadComplete) OnDownLoadComplete(this);
}

// ---------------------------------------------------------------------------------------------

TDownLoadThread::TDownLoadThread(THTMLPicture* Picture, std::string Location, std::weak_ptr<int> PictureAlive)
    : FPicture(Picture), FLocation(std::move(Location)), FAlive(std::move(PictureAlive)) {
  Start();
}

TDownLoadThread::~TDownLoadThread() {
  // Stop the transfer before the members it reads go away.
  Terminate();
  WaitFor();
}

void TDownLoadThread::Execute() {
  TFetchOptions options;
  options.MaxBytes = MaxHtmlPictureBytes;
  THTMLPicture* picture = FPicture;
  std::weak_ptr<int> alive = FAlive;
  options.OnProgress = [this, picture, alive](int64_t Received, int64_t Total) {
    Queue([picture, alive, Received, Total] {
      if (alive.lock()) picture->DownLoadProgress(Received, Total);
    });
    return !Terminated();
  };
  options.Stop = [this] { return Terminated(); };
  auto result = std::make_shared<TFetchResult>(FetchUrl(FLocation, options));
  Queue([picture, alive, result] {
    if (alive.lock()) picture->DownLoadDone(result);
  });
}

// ---------------------------------------------------------------------------------------------

THTMLPictureCache::THTMLPictureCache() = default;
THTMLPictureCache::~THTMLPictureCache() = default;

THTMLPicture* THTMLPictureCache::AddPicture() {
  FItems.push_back(std::make_unique<THTMLPicture>());
  return FItems.back().get();
}

THTMLPicture* THTMLPictureCache::FindPicture(const std::string& Location) const {
  for (const auto& p : FItems)
    if (p->ID() == Location) return p.get();
  return nullptr;
}

THTMLPicture* THTMLPictureCache::Items(int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FItems[static_cast<size_t>(Index)].get();
}

}  // namespace widgets
