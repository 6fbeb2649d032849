// The Flash player control: plays a Flash movie file in a panel.
//
// The movie runs in the Ruffle web player inside a Qt WebEngine view; both stay private to
// FlashPlayer.cpp. The page, Ruffle's files and the movie are served from the "kdflash:" scheme,
// so nothing is fetched from anywhere else and navigation and new windows are refused.
// Use: SetMovie(path) loads and starts the movie, GotoFrame then Play rewinds and plays it
// again, Stop pauses it. A path that is empty, missing or not a Flash file empties the player.
// Without WebEngine's helper process or Ruffle's files the panel stays empty and one line on
// stderr says why; nothing else fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Controls.h"

namespace platform {

namespace detail {
class TFlashView;
class TFlashPage;
}

// True when FileName names a file that starts with "FWS", "CWS" or "ZWS".
bool IsFlashMovieFile(const std::string& FileName);

// The only page the player's view may show; every other navigation is refused.
bool FlashPlayerNavigationAllowed(const std::string& Url);

// Where the host page and Ruffle's files were found ("" when they were not); Reason tells why not.
std::string FlashPlayerFilesFolder(std::string* Reason = nullptr);

// Call before the application object is created when a program will show movies: WebEngine
// wants shared GL contexts and, for root, a disabled sandbox that early. Later calls do what
// can still be done.
void PrepareFlashPlayer();

class TFlashPlayer : public TWinControl {
 public:
  explicit TFlashPlayer(TComponent* AOwner);
  ~TFlashPlayer() override;
  std::string ClassName() const override { return "TFlashPlayer"; }

  // The path last set, also when it was refused.
  const std::string& Movie() const { return FMovie; }
  void SetMovie(const std::string& Value);
  // The movie actually loaded: Movie when it passed the check, else empty.
  const std::string& LoadedMovie() const { return FLoaded; }

  // Ruffle has no seek: any frame rewinds to the first one and holds there until Play.
  void GotoFrame(int32_t FrameNum);
  void Play();
  void Stop();
  bool Playing() const { return FPlaying; }
  // The frame last asked for by GotoFrame (0 before any).
  int32_t FrameNum() const { return FFrameNum; }

  // What the page last reported: "" before it has loaded, then "empty", "loading", "playing",
  // "paused" or "error:<text>".
  const std::string& PlayerStatus() const { return FStatus; }
  // False when WebEngine's helper process or Ruffle's files are missing.
  bool PlayerAvailable() const;

 protected:
  void Resize() override;

 private:
  friend class detail::TFlashView;
  friend class detail::TFlashPage;
  friend struct FlashPlayerTestAccess;  // the tests look at the page itself
  std::string PageUrl() const;
  void RunPageScript(const std::string& Script);
  void Apply();
  void PageReady();
  void PageStatus(const std::string& Status) { FStatus = Status; }
  void PlaceView();

  std::string FMovie;
  std::string FLoaded;
  std::string FToken;   // the movie's name on the kdflash scheme
  int32_t FSerial = 0;  // changes whenever the page must load the movie afresh
  int32_t FFrameNum = 0;
  bool FPlaying = false;
  bool FPageReady = false;
  std::string FStatus;
  detail::TFlashView* FView = nullptr;  // owned by the control's widget
};

}  // namespace platform
