// The Flash player control: the file check, the call order the main form uses, navigation
// refused, and a real movie played offscreen by Ruffle.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QWidget>

#include <functional>
#include <set>

#include "platform/FlashPlayer.h"
#include "tests/common/TestSupport.h"
#include "tools/SwfWriter.h"

using namespace platform;

namespace {

std::string Write(const std::string& Name, const std::vector<uint8_t>& Bytes) {
  std::string P = kdtest::TempDir() + "/" + Name;
  kdtest::WriteFileBytes(P, Bytes);
  return P;
}

bool WaitFor(const std::function<bool()>& Done, int Ms) {
  QElapsedTimer T;
  T.start();
  while (!Done()) {
    if (T.elapsed() > Ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

QWidget* WidgetOf(TFlashPlayer& P) { return static_cast<QWidget*>(P.WidgetHandle()); }
// The browser view inside the control, when one was made.
QWidget* ViewOf(TFlashPlayer& P) {
  for (QWidget* W : WidgetOf(P)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (W->inherits("QWebEngineView")) return W;
  return nullptr;
}
}  // namespace

namespace platform {
struct FlashPlayerTestAccess {
  static std::string Url(TFlashPlayer& P) { return P.PageUrl(); }
  static void Run(TFlashPlayer& P, const std::string& S) { P.RunPageScript(S); }
};
}  // namespace platform

namespace {

// Number of distinct colours in an image (capped), a measure of "something is drawn".
int Colours(const QImage& Img) {
  std::set<QRgb> Seen;
  QImage I = Img.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < I.height(); y += 2)
    for (int x = 0; x < I.width(); x += 2) {
      Seen.insert(I.pixel(x, y));
      if (Seen.size() > 50) return 50;
    }
  return static_cast<int>(Seen.size());
}

// A movie whose first frame is a red square and whose later frames are a blue one.
std::vector<uint8_t> RedThenBlue() {
  tools::TSwfWriter W(200, 200, 4);
  W.SetBackgroundColor({255, 255, 255});
  tools::TSwfPath Sq;
  Sq.Points = {{0, 0}, {200, 0}, {200, 200}, {0, 200}};
  Sq.Fill = tools::TSwfRgb{255, 0, 0};
  uint16_t Red = W.DefineShape({Sq});
  Sq.Fill = tools::TSwfRgb{0, 0, 255};
  uint16_t Blue = W.DefineShape({Sq});
  W.PlaceObject(Red, 1, 0, 0);
  W.ShowFrame();
  W.RemoveObject(1);
  W.PlaceObject(Blue, 1, 0, 0);
  for (int i = 0; i < 40; ++i) W.ShowFrame();
  return W.Finish(false);
}

QRgb Centre(TFlashPlayer& P) {
  QImage I = ViewOf(P)->grab().toImage();
  return I.pixel(I.width() / 2, I.height() / 2);
}

}  // namespace

TEST(FlashPlayer, HeaderCheck) {
  EXPECT_TRUE(IsFlashMovieFile(Write("a.swf", {'F', 'W', 'S', 8, 0, 0, 0, 0})));
  EXPECT_TRUE(IsFlashMovieFile(Write("b.swf", {'C', 'W', 'S', 10})));
  EXPECT_TRUE(IsFlashMovieFile(Write("c.swf", {'Z', 'W', 'S'})));
  EXPECT_FALSE(IsFlashMovieFile(Write("d.swf", {'G', 'W', 'S', 8})));
  EXPECT_FALSE(IsFlashMovieFile(Write("e.swf", {'f', 'w', 's', 8})));
  EXPECT_FALSE(IsFlashMovieFile(Write("f.swf", {'F', 'W'})));
  EXPECT_FALSE(IsFlashMovieFile(Write("g.swf", {})));
  EXPECT_FALSE(IsFlashMovieFile(kdtest::TempDir() + "/missing.swf"));
  EXPECT_FALSE(IsFlashMovieFile(kdtest::TempDir()));  // a folder
  EXPECT_FALSE(IsFlashMovieFile(""));
}

TEST(FlashPlayer, RefusedMoviesLeaveAnEmptyPlayer) {
  TFlashPlayer P(nullptr);
  const std::string Bad = Write("bad.swf", {'G', 'I', 'F', '8', '9', 'a'});
  for (const std::string& Path : {std::string(), kdtest::TempDir() + "/none.swf", Bad}) {
    P.SetMovie("x");  // a change each round
    P.SetMovie(Path);
    EXPECT_EQ(P.Movie(), Path);
    EXPECT_EQ(P.LoadedMovie(), "");
    P.GotoFrame(1);
    P.Play();
    EXPECT_FALSE(P.Playing()) << Path;
    EXPECT_EQ(P.FrameNum(), 1);
  }
  // Nothing to show: no browser was started for it.
  EXPECT_EQ(ViewOf(P), nullptr);
  EXPECT_EQ(P.PlayerStatus(), "");
}

TEST(FlashPlayer, CallOrderState) {
  TFlashPlayer P(nullptr);
  const std::string Good = Write("good.swf", tools::SwfDemoMovie(tools::sdBall, false));
  P.SetMovie(Good);
  EXPECT_EQ(P.LoadedMovie(), Good);
  EXPECT_TRUE(P.Playing());  // starts at once
  P.GotoFrame(1);
  EXPECT_FALSE(P.Playing());  // held on the first frame
  P.Play();
  EXPECT_TRUE(P.Playing());
  P.Stop();
  EXPECT_FALSE(P.Playing());
  // Emptying the player after a movie.
  P.SetMovie("");
  EXPECT_EQ(P.LoadedMovie(), "");
  P.Play();
  EXPECT_FALSE(P.Playing());
}

TEST(FlashPlayer, NavigationPolicy) {
  EXPECT_TRUE(FlashPlayerNavigationAllowed("kdflash://player/index.html"));
  for (const char* U : {"kdflash://player/other.html", "kdflash://evil/index.html", "http://example.com/",
                        "file:///etc/passwd", "about:blank", "kdflash://player/index.html#x", ""})
    EXPECT_FALSE(FlashPlayerNavigationAllowed(U)) << U;
}

class FlashPlayerLive : public ::testing::Test {
 protected:
  void SetUp() override {
    TFlashPlayer Probe(nullptr);
    if (!Probe.PlayerAvailable()) GTEST_SKIP() << "Ruffle or WebEngine's helper process is not installed";
  }
};

TEST_F(FlashPlayerLive, PlaysAGeneratedMovie) {
  TFlashPlayer P(nullptr);
  P.SetBounds(0, 0, 400, 300);
  static_cast<QWidget*>(P.WidgetHandle())->show();
  const std::string Movie = Write("ladder.swf", tools::SwfDemoMovie(tools::sdLadder, true));
  P.SetMovie(Movie);
  P.GotoFrame(1);
  P.Play();
  ASSERT_TRUE(WaitFor([&] { return P.PlayerStatus() == "playing" || P.PlayerStatus().rfind("error:", 0) == 0; }, 60000))
      << "status: " << P.PlayerStatus();
  ASSERT_EQ(P.PlayerStatus(), "playing");
  QImage Frame;
  WaitFor([&] {
    Frame = ViewOf(P)->grab().toImage();
    return Colours(Frame) > 3;
  }, 20000);
  Frame.save(QString::fromStdString(kdtest::OutputDir() + "/flash-player-frame.png"));
  EXPECT_GT(Colours(Frame), 3) << "the grabbed frame is blank";
}

TEST_F(FlashPlayerLive, GotoFrameThenPlayRestarts) {
  TFlashPlayer P(nullptr);
  P.SetBounds(0, 0, 200, 200);
  static_cast<QWidget*>(P.WidgetHandle())->show();
  P.SetMovie(Write("redblue.swf", RedThenBlue()));
  // Playing on: the blue frames come.
  ASSERT_TRUE(WaitFor([&] { return qBlue(Centre(P)) > 200 && qRed(Centre(P)) < 50; }, 60000)) << P.PlayerStatus();
  // GotoFrame holds the first (red) frame.
  P.GotoFrame(1);
  ASSERT_TRUE(WaitFor([&] { return P.PlayerStatus() == "paused" && qRed(Centre(P)) > 200; }, 30000)) << P.PlayerStatus();
  QApplication::processEvents();
  EXPECT_GT(qRed(Centre(P)), 200);
  // Play goes on from there.
  P.Play();
  EXPECT_TRUE(WaitFor([&] { return qBlue(Centre(P)) > 200 && qRed(Centre(P)) < 50; }, 30000));
  EXPECT_EQ(P.PlayerStatus(), "playing");
}

TEST_F(FlashPlayerLive, NavigationAndWindowsRefused) {
  TFlashPlayer P(nullptr);
  P.SetBounds(0, 0, 100, 100);
  static_cast<QWidget*>(P.WidgetHandle())->show();
  P.SetMovie(Write("n.swf", tools::SwfDemoMovie(tools::sdFootsteps, false)));
  ASSERT_TRUE(WaitFor([&] { return P.PlayerStatus() == "playing"; }, 60000)) << P.PlayerStatus();
  const auto TopLevels = QApplication::topLevelWidgets().size();
  EXPECT_EQ(FlashPlayerTestAccess::Url(P), "kdflash://player/index.html");
  FlashPlayerTestAccess::Run(P, "window.open('kdflash://player/index.html'); location.href = 'kdflash://player/other.html';");
  WaitFor([] { return false; }, 1500);
  EXPECT_EQ(FlashPlayerTestAccess::Url(P), "kdflash://player/index.html");
  EXPECT_EQ(QApplication::topLevelWidgets().size(), TopLevels);
  EXPECT_EQ(P.PlayerStatus(), "playing");
  // The scheme serves the page, Ruffle's own files and the current movie, nothing else.
  FlashPlayerTestAccess::Run(P, R"js(
    (async function () {
      const urls = ["kdflash://player/ruffle/ruffle.js", "kdflash://player/ruffle/..%2Fplayer.html",
                    "kdflash://player/ruffle/.bin", "kdflash://player/movie/999999.swf",
                    "kdflash://other/index.html", "kdflash://player/package.json"];
      const out = [];
      for (const u of urls) {
        out.push(await new Promise(function (done) {
          const x = new XMLHttpRequest();
          x.open("GET", u);
          x.onload = function () { done(x.status === 200 || x.status === 0 ? "ok" : "no"); };
          x.onerror = function () { done("no"); };
          x.send();
        }));
      }
      console.log("kdflash:status:probe:" + out.join(","));
    })();)js");
  ASSERT_TRUE(WaitFor([&] { return P.PlayerStatus().rfind("probe:", 0) == 0; }, 20000)) << P.PlayerStatus();
  EXPECT_EQ(P.PlayerStatus(), "probe:ok,no,no,no,no,no");
}
