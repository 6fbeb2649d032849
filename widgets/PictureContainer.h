// Pictures named by location in mini-HTML (IMG SRC, BODY BACKGROUND): THTMLPicture keeps a
// picture file's bytes and shows one frame of an animated GIF; THTMLPictureCache finds them by
// location. "RES://name" reads a registered picture resource, "FILE://path" a file. Any other
// location is remote: a synchronous picture stays empty, an asynchronous one is fetched (http,
// https) by a TDownLoadThread, whose progress, completion and errors arrive as events on the GUI
// thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Graphics.h"
#include "platform/ImageDecoder.h"
#include "platform/NetFetch.h"
#include "platform/Threads.h"

namespace widgets {

// Pictures larger than this many pixels are refused before decoding.
constexpr int64_t MaxHtmlPicturePixels = int64_t{1} << 26;
// A downloaded body larger than a picture within that limit can be (four bytes a pixel, plus
// room for headers) is refused without reading it.
constexpr int64_t MaxHtmlPictureBytes = MaxHtmlPicturePixels * 4 + (int64_t{1} << 20);

class THTMLPicture;

using TDownloadProgressEvent = std::function<void(platform::TObject* Sender, uint32_t dwSize, uint32_t dwTotSize)>;
using TDownloadCancelEvent = std::function<void(platform::TObject* Sender, bool& Cancel)>;
using TDownloadCompleteEvent = std::function<void(platform::TObject* Sender)>;
using TDownloadErrorEvent = std::function<void(platform::TObject* Sender, const std::string& Err)>;

// Fetches a picture's remote location. The thread touches neither the picture nor any widget:
// it hands each event to the GUI thread, which drops it when the picture is gone.
class TDownLoadThread : public platform::TThread {
 public:
  // Starts running at once.
  TDownLoadThread(THTMLPicture* Picture, std::string Location, std::weak_ptr<int> PictureAlive);
  ~TDownLoadThread() override;
  THTMLPicture* Picture() const { return FPicture; }
  const std::string& Location() const { return FLocation; }

 protected:
  void Execute() override;

 private:
  THTMLPicture* FPicture;
  std::string FLocation;
  std::weak_ptr<int> FAlive;
};

// Where a GIF's frames start, found by walking its block structure.
struct TGifFrameInfo {
  size_t Start = 0;  // the frame's graphic-control extension, or its image descriptor
  size_t Descriptor = 0;  // its image descriptor (the "," byte)
  uint16_t Left = 0, Top = 0, Width = 0, Height = 0;
};
struct TGifLayout {
  bool IsGif = false;
  uint16_t ScreenWidth = 0, ScreenHeight = 0;
  std::vector<TGifFrameInfo> Frames;
};
// Never reads outside Data; a damaged stream ends the walk with the frames found so far.
TGifLayout ScanGifLayout(const uint8_t* Data, size_t Size);

// Picture resources of the program, for "RES://" locations (function-local registry).
void RegisterPictureResource(const std::string& Name, std::vector<uint8_t> Bytes);
const std::vector<uint8_t>* FindPictureResource(const std::string& Name);

class THTMLPicture : public platform::TGraphic {
 public:
  THTMLPicture();
  ~THTMLPicture() override;
  THTMLPicture(const THTMLPicture&) = delete;
  THTMLPicture& operator=(const THTMLPicture&) = delete;
  std::string ClassName() const override { return "THTMLPicture"; }

  void Assign(const platform::TPersistent* Source) override;
  void Draw(platform::TCanvas* Canvas, const platform::TRect& R) override;
  bool Empty() const override { return FEmpty; }
  // The GIF's logical screen size when it has one, else the decoded picture's.
  int32_t Width() const override;
  int32_t Height() const override;
  void SetWidth(int32_t) override {}
  void SetHeight(int32_t) override {}
  void LoadFromFile(const std::string& FileName) override;
  void LoadFromStream(platform::TStream* Stream) override;
  void SaveToStream(platform::TStream* Stream) override;
  void LoadFromBytes(std::vector<uint8_t> Bytes);
  // A missing resource loads nothing and raises nothing.
  void LoadFromResourceName(const std::string& Name);

  void SetLocation(const std::string& Location);
  const std::string& Location() const { return FLocation; }
  // The location exactly as given: the cache's look-up key.
  const std::string& ID() const { return FID; }
  bool Asynchronous() const { return FAsynchronous; }
  void SetAsynchronous(bool Value) { FAsynchronous = Value; }
  // A remote location of an asynchronous picture starts one download, never a second for the
  // same location. Another location stops a download still at work: its events and its
  // picture never arrive.
  bool DownLoadStarted() const { return FDownLoadStarted; }
  // The download thread is still at work.
  bool DownLoading() const { return FThread != nullptr; }

  bool Stretch() const { return FStretch; }
  void SetStretch(bool Value) { FStretch = Value; }
  // 1-based; clamped to 1..FrameCount for a GIF. Loading keeps it (within the frames loaded);
  // Assign starts again at 1.
  int32_t Frame() const { return FFrame; }
  void SetFrame(int32_t Value);
  // Frames of a GIF; -1 for other data.
  int32_t FrameCount();
  int32_t FrameLeft() const { return FFrameLeft; }
  int32_t FrameTop() const { return FFrameTop; }
  int32_t FrameWidth() const { return FFrameWidth; }
  int32_t FrameHeight() const { return FFrameHeight; }
  const std::vector<uint8_t>& Data() const { return FData; }
  // The decoded picture (tests look at its pixels).
  const platform::TDecodedImage& Decoded() const { return FDecoded; }

  platform::TNotifyEvent OnFrameChange;
  // Raised on the GUI thread: after each part of the body (bytes so far, declared total or 0),
  // each followed by OnDownLoadCancel, which may stop the download (nothing more is raised and
  // the picture stays empty); then either OnDownLoadComplete with the picture loaded, or
  // OnDownLoadError with the reason and the picture empty.
  TDownloadProgressEvent OnDownLoadProgress;
  TDownloadCancelEvent OnDownLoadCancel;
  TDownloadCompleteEvent OnDownLoadComplete;
  TDownloadErrorEvent OnDownLoadError;

 private:
  friend class TDownLoadThread;
  void Decode();
  void ResetDecoded();
  void DownLoadProgress(int64_t Received, int64_t Total);
  void DownLoadDone(const std::shared_ptr<platform::TFetchResult>& Result);
  void StopDownLoad();

  std::vector<uint8_t> FData;
  bool FEmpty = true;
  bool FStretch = false;
  platform::TDecodedImage FDecoded;
  std::string FLocation;
  std::string FID;
  bool FAsynchronous = true;
  int32_t FFrame = 1;
  int32_t FFrameCount = -2;  // not counted yet
  int32_t FFrameLeft = 0, FFrameTop = 0, FFrameWidth = 0, FFrameHeight = 0;
  int32_t FScreenWidth = 0, FScreenHeight = 0;
  bool FDownLoadStarted = false;
  bool FDownLoadCancelled = false;
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);  // queued download events check it
  std::unique_ptr<TDownLoadThread> FThread;
};

// Owns its pictures.
class THTMLPictureCache {
 public:
  THTMLPictureCache();
  ~THTMLPictureCache();
  THTMLPicture* AddPicture();
  // Exact, case-sensitive match of the ID; nullptr when absent.
  THTMLPicture* FindPicture(const std::string& Location) const;
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  THTMLPicture* Items(int32_t Index) const;
  void Clear() { FItems.clear(); }

 private:
  std::vector<std::unique_ptr<THTMLPicture>> FItems;
};

}  // namespace widgets
