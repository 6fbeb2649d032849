// The Flash player control over Ruffle in Qt WebEngine. The only unit that includes WebEngine.
#include "platform/FlashPlayer.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QOpenGLContext>
#include <QPointer>
#include <QQuickWindow>
#include <QUrl>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

#if defined(__SANITIZE_ADDRESS__)
// Chromium inside WebEngine frees some objects through a base of another size (its own code,
// not ours); a program that links the player would otherwise stop there under AddressSanitizer.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif

namespace platform {

namespace {

constexpr char kScheme[] = "kdflash";
constexpr char kHost[] = "player";
constexpr char kPageUrl[] = "kdflash://player/index.html";
constexpr char kRuffleSub[] = "/node_modules/@ruffle-rs/ruffle";
// Larger files are refused rather than read whole into memory.
constexpr qint64 kMaxMovieBytes = 256 * 1024 * 1024;

// Movies being shown, by their name on the scheme; the handler serves them from here so the
// bytes played are the bytes that passed the check.
std::map<std::string, QByteArray>& Movies() {
  static std::map<std::string, QByteArray> M;
  return M;
}

bool HasFlashSignature(const char* P, size_t N) {
  if (N < 3 || P[1] != 'W' || P[2] != 'S') return false;
  return P[0] == 'F' || P[0] == 'C' || P[0] == 'Z';
}

bool ReadMovie(const std::string& FileName, QByteArray& Data) {
  QFile F(QString::fromStdString(FileName));
  if (!QFileInfo(F).isFile() || !F.open(QIODevice::ReadOnly)) return false;
  if (F.size() > kMaxMovieBytes) return false;
  Data = F.readAll();
  return HasFlashSignature(Data.constData(), static_cast<size_t>(Data.size()));
}

void SayOnce(const std::string& Why) {
  static bool Said = false;
  if (Said) return;
  Said = true;
  std::fprintf(stderr, "Flash player: %s; the movie panel stays empty.\n", Why.c_str());
}

bool HelperProcessPresent(std::string* Reason) {
  QString Path;
  if (const char* Env = std::getenv("QTWEBENGINEPROCESS_PATH"); Env && *Env) {
    Path = QString::fromLocal8Bit(Env);
  } else {
    Path = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + "/QtWebEngineProcess";
  }
  if (QFileInfo(Path).isExecutable()) return true;
  if (Reason) *Reason = "Qt WebEngine's helper process " + Path.toStdString() + " is missing";
  return false;
}

QByteArray ReadWholeFile(const QString& Path) {
  QFile F(Path);
  if (!F.open(QIODevice::ReadOnly)) return {};
  return F.readAll();
}

bool SafeFileName(const QString& Name) {
  if (Name.isEmpty() || Name.size() > 128 || Name.startsWith('.')) return false;
  for (QChar C : Name)
    if (!(C.isLetterOrNumber() && C.unicode() < 128) && C != '.' && C != '_' && C != '-') return false;
  return true;
}

class TSchemeHandler : public QWebEngineUrlSchemeHandler {
 public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
  void requestStarted(QWebEngineUrlRequestJob* Job) override {
    const QUrl U = Job->requestUrl();
    if (Job->requestMethod() != "GET" || U.host() != kHost) {
      Job->fail(QWebEngineUrlRequestJob::RequestDenied);
      return;
    }
    const QString Path = U.path();
    const QString Folder = QString::fromStdString(FlashPlayerFilesFolder());
    QByteArray Data, Mime;
    bool Found = false;
    if (Path == "/index.html" && !Folder.isEmpty()) {
      Data = ReadWholeFile(Folder + "/player.html");
      Mime = "text/html";
      Found = !Data.isEmpty();
    } else if (Path.startsWith("/ruffle/") && !Folder.isEmpty()) {
      const QString Name = Path.mid(8);
      if (SafeFileName(Name)) {
        Data = ReadWholeFile(Folder + kRuffleSub + "/" + Name);
        Found = !Data.isEmpty();
        Mime = Name.endsWith(".wasm") ? "application/wasm"
               : Name.endsWith(".js") ? "text/javascript"
                                      : "application/octet-stream";
      }
    } else if (Path.startsWith("/movie/") && Path.endsWith(".swf")) {
      auto It = Movies().find(Path.mid(7, Path.size() - 11).toStdString());
      if (It != Movies().end()) {
        Data = It->second;
        Mime = "application/x-shockwave-flash";
        Found = true;
      }
    }
    if (!Found) {
      Job->fail(QWebEngineUrlRequestJob::UrlNotFound);
      return;
    }
    auto* Buffer = new QBuffer(Job);
    Buffer->setData(Data);
    Buffer->open(QIODevice::ReadOnly);
    Job->reply(Mime, Buffer);
  }
};

// Nothing leaves the machine: only our scheme and in-page data are fetched.
class TBlockOthers : public QWebEngineUrlRequestInterceptor {
 public:
  using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
  void interceptRequest(QWebEngineUrlRequestInfo& Info) override {
    const QString S = Info.requestUrl().scheme();
    if (S != kScheme && S != "data" && S != "blob") Info.block(true);
  }
};

// The view draws through Qt Quick, which uses OpenGL unless told otherwise; on a display
// without OpenGL (an X server without GLX, or Qt told to use none) that would crash the
// program as soon as a movie is shown. There Qt Quick draws in software instead.
void ChooseSceneGraphBackend() {
  static bool Done = false;
  if (Done) return;
  Done = true;
  if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND") || qEnvironmentVariableIsSet("QSG_RHI_BACKEND")) return;
  QOpenGLContext Probe;
  if (!Probe.create()) QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

QWebEngineProfile* FlashProfile() {
  static QPointer<QWebEngineProfile> Profile;
  if (!Profile) {
    PrepareFlashPlayer();
    ChooseSceneGraphBackend();
    Profile = new QWebEngineProfile(QCoreApplication::instance());  // off the record: no storage
    Profile->setHttpCacheType(QWebEngineProfile::NoCache);
    Profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    Profile->installUrlSchemeHandler(kScheme, new TSchemeHandler(Profile));
    Profile->setUrlRequestInterceptor(new TBlockOthers(Profile));
    QObject::connect(Profile, &QWebEngineProfile::downloadRequested,
                     [](QWebEngineDownloadRequest* Download) { Download->cancel(); });
  }
  return Profile;
}

}  // namespace

namespace detail {

class TFlashPage : public QWebEnginePage {
 public:
  TFlashPage(QWebEngineProfile* Profile, QObject* Parent, TFlashPlayer* Owner)
      : QWebEnginePage(Profile, Parent), FOwner(Owner) {}
  void Detach() { FOwner = nullptr; }

 protected:
  bool acceptNavigationRequest(const QUrl& Url, NavigationType, bool IsMainFrame) override {
    return IsMainFrame && FlashPlayerNavigationAllowed(Url.toString().toStdString());
  }
  QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& Message, int, const QString&) override {
    if (!FOwner || !Message.startsWith("kdflash:")) return;
    const QString Rest = Message.mid(8);
    if (Rest == "ready") FOwner->PageReady();
    else if (Rest.startsWith("status:")) FOwner->PageStatus(Rest.mid(7).toStdString());
  }

 private:
  TFlashPlayer* FOwner;
};

class TFlashView : public QWebEngineView {
 public:
  TFlashView(QWidget* Parent, TFlashPlayer* Owner) : QWebEngineView(Parent) {
    FPage = new TFlashPage(FlashProfile(), this, Owner);
    QWebEngineSettings* S = FPage->settings();
    S->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    S->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    S->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    S->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    S->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    S->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    S->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    FPage->setBackgroundColor(Qt::white);
    setPage(FPage);
    setContextMenuPolicy(Qt::NoContextMenu);
    QObject::connect(FPage, &QWebEnginePage::loadFinished, [Owner, this](bool Ok) {
      // A refused navigation also ends in a failed load; only the first load counts.
      if (!Ok && FPage && !Owner->FPageReady) Owner->PageStatus("error:the player page did not load");
    });
    QObject::connect(FPage, &QWebEnginePage::renderProcessTerminated,
                     [Owner, this](QWebEnginePage::RenderProcessTerminationStatus, int) {
                       if (FPage) Owner->PageStatus("error:the player's render process ended");
                     });
    load(QUrl(kPageUrl));
  }
  void Detach() {
    FPage->Detach();
    FPage->disconnect();
    FPage = nullptr;
  }
  void RunScript(const QString& Script) {
    if (FPage) FPage->runJavaScript(Script);
  }
  QString Url() const { return FPage ? FPage->url().toString() : QString(); }

 private:
  TFlashPage* FPage;
};

}  // namespace detail

bool IsFlashMovieFile(const std::string& FileName) {
  if (FileName.empty() || !QFileInfo(QString::fromStdString(FileName)).isFile()) return false;
  std::ifstream F(FileName, std::ios::binary);
  char Head[3] = {0, 0, 0};
  F.read(Head, 3);
  return F.gcount() == 3 && HasFlashSignature(Head, 3);
}

bool FlashPlayerNavigationAllowed(const std::string& Url) { return Url == kPageUrl; }

std::string FlashPlayerFilesFolder(std::string* Reason) {
  std::vector<QString> Folders;
#ifdef KD_FLASH_DIR
  Folders.push_back(QStringLiteral(KD_FLASH_DIR));
#endif
  if (QCoreApplication::instance()) Folders.push_back(QCoreApplication::applicationDirPath() + "/flash");
  QString Tried;
  for (const QString& F : Folders) {
    if (QFileInfo(F + "/player.html").isFile() && QFileInfo(F + kRuffleSub + "/ruffle.js").isFile())
      return F.toStdString();
    Tried += (Tried.isEmpty() ? "" : ", ") + F;
  }
  if (Reason)
    *Reason = "Ruffle's files were not found in " + Tried.toStdString() + " (scripts/setup-deps.sh installs them)";
  return {};
}

void PrepareFlashPlayer() {
  static bool Done = false;
  if (Done) return;
  Done = true;
  // Chromium refuses to run its sandbox as root.
  if (geteuid() == 0 && !std::getenv("QTWEBENGINE_DISABLE_SANDBOX")) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  if (!QCoreApplication::instance()) QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QWebEngineUrlScheme Scheme(kScheme);
  Scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
  Scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled);
  QWebEngineUrlScheme::registerScheme(Scheme);
}

TFlashPlayer::TFlashPlayer(TComponent* AOwner) : TWinControl(AOwner) {
  SetColor(clWhite);
  SetBounds(Left(), Top(), 192, 192);
}

TFlashPlayer::~TFlashPlayer() {
  if (!FToken.empty()) Movies().erase(FToken);
  if (FView) {
    FView->Detach();
    delete FView;
    FView = nullptr;
  }
}

bool TFlashPlayer::PlayerAvailable() const {
  std::string Why;
  return HelperProcessPresent(&Why) && !FlashPlayerFilesFolder(&Why).empty();
}

void TFlashPlayer::SetMovie(const std::string& Value) {
  if (Value == FMovie) return;
  FMovie = Value;
  if (!FToken.empty()) Movies().erase(FToken);
  FToken.clear();
  FLoaded.clear();
  FPlaying = false;
  QByteArray Data;
  if (!Value.empty() && ReadMovie(Value, Data)) {
    static uint64_t Counter = 0;
    FToken = std::to_string(++Counter);
    Movies()[FToken] = std::move(Data);
    FLoaded = Value;
    FPlaying = true;  // a loaded movie starts at once, as the control's default "Play" does
  }
  FFrameNum = 0;
  ++FSerial;
  Apply();
}

void TFlashPlayer::GotoFrame(int32_t FrameNum) {
  FFrameNum = FrameNum;
  if (FLoaded.empty()) return;
  ++FSerial;
  FPlaying = false;
  Apply();
}

void TFlashPlayer::Play() {
  if (FLoaded.empty() || FPlaying) return;
  FPlaying = true;
  Apply();
}

void TFlashPlayer::Stop() {
  if (!FPlaying) return;
  FPlaying = false;
  Apply();
}

void TFlashPlayer::Apply() {
  if (!FView) {
    if (FLoaded.empty()) return;  // an empty player needs no browser
    std::string Why;
    if (!HelperProcessPresent(&Why) || FlashPlayerFilesFolder(&Why).empty()) {
      SayOnce(Why);
      return;
    }
    FView = new detail::TFlashView(static_cast<QWidget*>(WidgetHandle()), this);
    PlaceView();
  }
  FView->setVisible(!FLoaded.empty());
  if (!FPageReady) return;  // PageReady applies the state
  const QString Url = FLoaded.empty() ? QString() : QString("kdflash://player/movie/%1.swf").arg(QString::fromStdString(FToken));
  FView->RunScript(QString("kdSet(\"%1\", %2, %3)").arg(Url).arg(FSerial).arg(FPlaying ? "true" : "false"));
}

void TFlashPlayer::PageReady() {
  FPageReady = true;
  Apply();
}

std::string TFlashPlayer::PageUrl() const { return FView ? FView->Url().toStdString() : std::string(); }

void TFlashPlayer::RunPageScript(const std::string& Script) {
  if (FView) FView->RunScript(QString::fromStdString(Script));
}

void TFlashPlayer::PlaceView() {
  if (!FView) return;
  const TRect R = ClientRect();
  const TPoint O = ClientOffset();
  FView->setGeometry(O.X, O.Y, R.Width(), R.Height());
}

void TFlashPlayer::Resize() {
  PlaceView();
  TWinControl::Resize();
}

}  // namespace platform
