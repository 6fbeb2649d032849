// Pictures at http addresses, fetched by the download thread from a server the test runs on
// 127.0.0.1: progress then completion, a cancel that stops the transfer, a new location that
// stops the running one, and each failure
// (refused connection, 404, a body that is no picture, a body too large for the pixel limit)
// raised as an error with its text and an empty picture. Every wait is bounded.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdlib>
#include <map>
#include <memory>

#include "platform/Graphics.h"
#include "tests/common/TestSupport.h"
#include "tests/platform/GuiTestEvents.h"
#include "widgets/PictureContainer.h"

using namespace platform;
using namespace widgets;

namespace {

std::string Bytes(const QImage& Image, const char* Format) {
  QByteArray out;
  QBuffer buffer(&out);
  buffer.open(QIODevice::WriteOnly);
  Image.save(&buffer, Format);
  return out.toStdString();
}

// A small HTTP server on the GUI thread: each path answers with a status line, headers and a
// body, written at once or in parts; a held answer sends its first part and then waits for
// Continue (or forever), keeping the connection open.
class TTestServer {
 public:
  struct TRoute {
    std::string Status = "200 OK";
    std::string Body;
    int64_t DeclaredLength = -1;  // the Content-Length sent (the body's own when negative)
    size_t Part = 0;              // bytes per write (all at once when 0)
    bool Hold = false;            // after the first part, wait for Continue
  };

  // With Tls the server speaks https.
  explicit TTestServer(const QSslConfiguration* Tls = nullptr) {
    if (Tls) {
      auto* ssl = new QSslServer;
      ssl->setSslConfiguration(*Tls);
      FServer.reset(ssl);
      FScheme = "https";
    } else {
      FServer = std::make_unique<QTcpServer>();
    }
    EXPECT_TRUE(FServer->listen(QHostAddress::LocalHost, 0));
    // A TLS connection is pending only once its handshake is done.
    QObject::connect(FServer.get(), &QTcpServer::pendingConnectionAvailable, [this] {
      while (QTcpSocket* s = FServer->nextPendingConnection()) Accept(s);
    });
  }
  std::string Url(const std::string& Path) const {
    return FScheme + "://127.0.0.1:" + std::to_string(FServer->serverPort()) + Path;
  }
  // Sends the rest of every held answer.
  void Continue() {
    std::vector<std::function<void()>> held;
    held.swap(FHeld);
    for (auto& f : held) f();
  }
  std::map<std::string, TRoute> Routes;
  int Closed = 0;  // connections the client closed or the server finished

 private:
  void Accept(QTcpSocket* S) {
    auto request = std::make_shared<std::string>();
    QObject::connect(S, &QTcpSocket::disconnected, [this, S] {
      ++Closed;
      S->deleteLater();
    });
    auto read = [this, S, request] {
      *request += S->readAll().toStdString();
      if (request->find("\r\n\r\n") == std::string::npos || request->empty()) return;
      const size_t sp1 = request->find(' '), sp2 = request->find(' ', sp1 + 1);
      const std::string path = request->substr(sp1 + 1, sp2 - sp1 - 1);
      request->clear();
      auto it = Routes.find(path);
      TRoute route = it != Routes.end() ? it->second : TRoute{"404 Not Found", "nothing here"};
      const int64_t length = route.DeclaredLength >= 0 ? route.DeclaredLength : static_cast<int64_t>(route.Body.size());
      const std::string head = "HTTP/1.1 " + route.Status + "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                               std::to_string(length) + "\r\nConnection: close\r\n\r\n";
      S->write(head.data(), static_cast<qint64>(head.size()));
      Send(S, std::make_shared<TRoute>(route), 0);
    };
    QObject::connect(S, &QTcpSocket::readyRead, read);
    if (S->bytesAvailable() > 0) read();  // the request may be in already
  }
  void Send(QTcpSocket* S, std::shared_ptr<TRoute> Route, size_t From) {
    const size_t n = Route->Part ? std::min(Route->Part, Route->Body.size() - From) : Route->Body.size() - From;
    S->write(Route->Body.data() + From, static_cast<qint64>(n));
    S->flush();
    From += n;
    if (Route->Hold) {
      Route->Hold = false;
      QPointer<QTcpSocket> guard(S);
      FHeld.push_back([this, guard, Route, From] {
        if (guard) Send(guard, Route, From);
      });
      return;
    }
    if (From >= Route->Body.size()) {
      S->disconnectFromHost();
      return;
    }
    QPointer<QTcpSocket> guard(S);
    QTimer::singleShot(2, [this, guard, Route, From] {
      if (guard) Send(guard, Route, From);
    });
  }
  std::unique_ptr<QTcpServer> FServer;
  std::string FScheme = "http";
  std::vector<std::function<void()>> FHeld;
};

// What a picture's download events reported, in order.
struct TLog {
  explicit TLog(THTMLPicture& P, bool CancelAtFirst = false) {
    P.OnDownLoadProgress = [this](TObject*, uint32_t size, uint32_t total) {
      Events.push_back("progress");
      Sizes.push_back(size);
      Totals.push_back(total);
    };
    P.OnDownLoadCancel = [this, CancelAtFirst](TObject*, bool& cancel) {
      cancel = CancelAtFirst;
      if (cancel) Events.push_back("cancel");
    };
    P.OnDownLoadComplete = [this](TObject*) { Events.push_back("complete"); };
    P.OnDownLoadError = [this](TObject*, const std::string& err) {
      Events.push_back("error");
      Error = err;
    };
  }
  bool Ended() const { return !Events.empty() && (Events.back() == "complete" || Events.back() == "error"); }
  std::vector<std::string> Events;
  std::vector<uint32_t> Sizes, Totals;
  std::string Error;
};

TEST(PictureDownload, ProgressThenCompleteWithThePictureLoaded) {
  TTestServer server;
  QImage image(300, 200, QImage::Format_RGB32);
  image.fill(QColor(255, 0, 0));
  image.setPixelColor(10, 20, QColor(0, 0, 255));
  const std::string bmp = Bytes(image, "BMP");
  server.Routes["/red.bmp"] = {"200 OK", bmp, -1, 16384, true};
  THTMLPicture pic;
  TLog log(pic);
  int changes = 0;
  pic.OnChange = [&](TObject*) { ++changes; };
  EXPECT_TRUE(pic.Asynchronous());
  EXPECT_FALSE(pic.DownLoadStarted());
  pic.SetLocation(server.Url("/red.bmp"));
  EXPECT_TRUE(pic.DownLoadStarted());
  EXPECT_EQ(pic.ID(), server.Url("/red.bmp"));
  EXPECT_TRUE(pic.Empty());  // nothing arrives before the GUI thread runs
  // The first part, however the network splits it.
  ASSERT_TRUE(guitest::WaitFor([&] { return !log.Sizes.empty() && log.Sizes.back() == 16384; }, 10000));
  EXPECT_TRUE(pic.Empty());
  server.Continue();
  ASSERT_TRUE(guitest::WaitFor([&] { return log.Ended(); }, 10000));
  ASSERT_EQ(log.Events.back(), "complete") << log.Error;
  ASSERT_GE(log.Sizes.size(), 2u);  // the body came in parts
  for (size_t i = 0; i < log.Sizes.size(); ++i) {
    EXPECT_EQ(log.Events[i], "progress");
    EXPECT_EQ(log.Totals[i], bmp.size());
    if (i > 0) {
      EXPECT_GT(log.Sizes[i], log.Sizes[i - 1]);
    }
  }
  EXPECT_EQ(log.Sizes.back(), bmp.size());
  EXPECT_EQ(log.Events.size(), log.Sizes.size() + 1);
  EXPECT_FALSE(pic.Empty());
  EXPECT_FALSE(pic.DownLoading());
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(pic.Width(), 300);
  EXPECT_EQ(pic.Height(), 200);
  EXPECT_EQ(pic.Decoded().PixelARGB(5, 5) & 0xFFFFFF, 0x0000FFu);  // red as $BBGGRR
  EXPECT_EQ(pic.Decoded().PixelARGB(10, 20) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(pic.Data().size(), bmp.size());

  // The same location again starts nothing.
  pic.SetLocation(server.Url("/red.bmp"));
  EXPECT_FALSE(pic.DownLoading());
}

TEST(PictureDownload, CancelStopsTheTransfer) {
  TTestServer server;
  const std::string body(100000, 'x');
  server.Routes["/slow.png"] = {"200 OK", body, -1, 1000, true};
  THTMLPicture pic;
  TLog log(pic, true);
  pic.SetLocation(server.Url("/slow.png"));
  ASSERT_TRUE(guitest::WaitFor([&] { return !log.Events.empty(); }, 10000));
  // The client drops the connection, the thread ends, and nothing more is raised.
  EXPECT_TRUE(guitest::WaitFor([&] { return server.Closed == 1 && !pic.DownLoading(); }, 10000));
  for (int i = 0; i < 5; ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(log.Events, (std::vector<std::string>{"progress", "cancel"}));
  EXPECT_EQ(log.Sizes, (std::vector<uint32_t>{1000}));
  EXPECT_TRUE(pic.Empty());
  EXPECT_TRUE(pic.Data().empty());
}

TEST(PictureDownload, FailuresRaiseErrorsAndLeaveThePictureEmpty) {
  TTestServer server;
  server.Routes["/text.png"] = {"200 OK", "this is no picture at all"};
  // Claims a body larger than a picture within the pixel limit can be; it is never read.
  server.Routes["/huge.bmp"] = {"200 OK", std::string(64, 'B'), MaxHtmlPictureBytes + 1, 0, true};
  // A GIF whose frame claims 65535 x 65535 pixels.
  const std::string hugeGif("GIF89a\xFF\xFF\xFF\xFF\0\0\0\x2C\0\0\0\0\xFF\xFF\xFF\xFF\0\2\2\x4C\x01\0\x3B", 29);
  server.Routes["/pixels.gif"] = {"200 OK", hugeGif};
  server.Routes["/gone.png"] = {"410 Gone", "gone"};
  // An answer without a body is no picture either, however the server says so.
  server.Routes["/empty.png"] = {"200 OK", ""};
  server.Routes["/nocontent.png"] = {"204 No Content", ""};
  // A body cut short: the connection closes before the declared length arrived.
  server.Routes["/short.bmp"] = {"200 OK", std::string(500, 'B'), 1000};
  QTcpServer closed;
  ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
  const std::string refused = "http://127.0.0.1:" + std::to_string(closed.serverPort()) + "/x.png";
  closed.close();

  struct TCase {
    std::string Url, Error;
  } cases[] = {
      {server.Url("/missing.png"), "Could not download " + server.Url("/missing.png") + ": the server answered 404 Not Found"},
      {server.Url("/gone.png"), "Could not download " + server.Url("/gone.png") + ": the server answered 410 Gone"},
      {server.Url("/text.png"), "Could not load image. Invalid format"},
      {server.Url("/empty.png"), "Could not load image. Invalid format"},
      {server.Url("/nocontent.png"), "Could not load image. Invalid format"},
      {server.Url("/short.bmp"), "Could not download " + server.Url("/short.bmp") + ": Connection closed"},
      {server.Url("/huge.bmp"), "Could not download " + server.Url("/huge.bmp") + ": the picture is larger than " +
                                    std::to_string(MaxHtmlPictureBytes) + " bytes"},
      {server.Url("/pixels.gif"), "Could not allocate memory for image"},
      {"ftp://127.0.0.1/x.png", "Could not download ftp://127.0.0.1/x.png: not an http or https address"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Url);
    THTMLPicture pic;
    TLog log(pic);
    pic.SetLocation(c.Url);
    ASSERT_TRUE(guitest::WaitFor([&] { return log.Ended(); }, 10000));
    EXPECT_EQ(log.Events.back(), "error");
    EXPECT_EQ(log.Error, c.Error);
    EXPECT_TRUE(pic.Empty());
    EXPECT_TRUE(pic.Data().empty());
    EXPECT_EQ(pic.Width(), 0);
  }
  THTMLPicture pic;
  TLog log(pic);
  pic.SetLocation(refused);
  ASSERT_TRUE(guitest::WaitFor([&] { return log.Ended(); }, 10000));
  EXPECT_EQ(log.Events, (std::vector<std::string>{"error"}));
  EXPECT_EQ(log.Error.rfind("Could not download " + refused + ": ", 0), 0u) << log.Error;
  EXPECT_NE(log.Error.find("refused"), std::string::npos) << log.Error;
  EXPECT_TRUE(pic.Empty());
  TBitmap bmp;
  bmp.SetSize(4, 4);
  pic.Draw(bmp.Canvas(), {0, 0, 4, 4});  // an empty picture draws nothing
  EXPECT_EQ(bmp.Canvas()->Pixel(1, 1), clWhite);
}

TEST(PictureDownload, FreeingThePictureStopsItsDownload) {
  TTestServer server;
  server.Routes["/held.png"] = {"200 OK", std::string(5000, 'x'), -1, 500, true};
  int events = 0;
  {
    THTMLPicture pic;
    pic.OnDownLoadProgress = [&](TObject*, uint32_t, uint32_t) { ++events; };
    pic.OnDownLoadError = [&](TObject*, const std::string&) { ++events; };
    pic.SetLocation(server.Url("/held.png"));
    ASSERT_TRUE(guitest::WaitFor([&] { return events > 0; }, 10000));
  }  // waits for the thread, which stops the transfer
  const int seen = events;
  EXPECT_TRUE(guitest::WaitFor([&] { return server.Closed == 1; }, 10000));
  for (int i = 0; i < 5; ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(events, seen);  // nothing reaches the freed picture
}

// A new location while a download runs stops that download: nothing it still reports reaches
// the picture, which ends with the new location's image. The old location again later loads.
TEST(PictureDownload, ANewLocationCancelsTheRunningDownload) {
  TTestServer server;
  QImage red(300, 200, QImage::Format_RGB32), blue(40, 30, QImage::Format_RGB32), green(7, 5, QImage::Format_RGB32);
  red.fill(QColor(255, 0, 0));
  blue.fill(QColor(0, 0, 255));
  green.fill(QColor(0, 255, 0));
  const std::string redBmp = Bytes(red, "BMP"), blueBmp = Bytes(blue, "BMP");
  server.Routes["/red.bmp"] = {"200 OK", redBmp, -1, 1000, true};
  server.Routes["/blue.bmp"] = {"200 OK", blueBmp};
  const std::string greenFile = kdtest::TempDir() + "/download_green.bmp";
  ASSERT_TRUE(green.save(QString::fromStdString(greenFile), "BMP"));
  struct TCase {
    std::string Next;        // the location set while the first download runs
    uint32_t Color;          // the picture's colour at the end, as $BBGGRR
    int32_t Width;
    bool Downloads;          // the new location is fetched too
  } cases[] = {
      {server.Url("/blue.bmp"), 0xFF0000u, 40, true},
      {"file://" + greenFile, 0x00FF00u, 7, false},
  };
  int closed = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Next);
    THTMLPicture pic;
    TLog log(pic);
    pic.SetLocation(server.Url("/red.bmp"));
    ASSERT_TRUE(guitest::WaitFor([&] { return !log.Sizes.empty(); }, 10000));
    ASSERT_EQ(log.Totals.back(), redBmp.size());
    const size_t before = log.Events.size();
    pic.SetLocation(c.Next);
    EXPECT_EQ(pic.ID(), c.Next);
    // The rest of the first body goes out too, so a download still at work would finish now.
    server.Continue();
    if (c.Downloads) {
      ASSERT_TRUE(guitest::WaitFor([&] { return log.Ended(); }, 10000));
    }
    ASSERT_TRUE(guitest::WaitFor([&] { return server.Closed >= closed + (c.Downloads ? 2 : 1) && !pic.DownLoading(); }, 10000));
    closed = server.Closed;
    for (int i = 0; i < 10; ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::vector<std::string> after(log.Events.begin() + static_cast<std::ptrdiff_t>(before), log.Events.end());
    if (c.Downloads) {
      ASSERT_FALSE(after.empty());
      EXPECT_EQ(after.back(), "complete") << log.Error;
      after.pop_back();
      for (size_t i = before; i < log.Totals.size(); ++i) EXPECT_EQ(log.Totals[i], blueBmp.size());
    }
    for (const std::string& e : after) EXPECT_EQ(e, "progress");
    EXPECT_EQ(log.Totals.size(), log.Events.size() - (c.Downloads ? 1 : 0));
    ASSERT_FALSE(pic.Empty());
    EXPECT_EQ(pic.Width(), c.Width);
    EXPECT_EQ(pic.Decoded().PixelARGB(2, 2) & 0xFFFFFF, c.Color);
  }
  // The first location set again afterwards is fetched and shown.
  THTMLPicture pic;
  TLog log(pic);
  server.Routes["/red.bmp"].Hold = false;
  pic.SetLocation(server.Url("/blue.bmp"));
  ASSERT_TRUE(guitest::WaitFor([&] { return log.Ended(); }, 10000));
  pic.SetLocation(server.Url("/red.bmp"));
  EXPECT_TRUE(pic.DownLoading());
  log.Events.clear();
  ASSERT_TRUE(guitest::WaitFor([&] { return log.Ended(); }, 10000));
  EXPECT_EQ(log.Events.back(), "complete") << log.Error;
  EXPECT_EQ(pic.Width(), 300);
  EXPECT_EQ(pic.Decoded().PixelARGB(2, 2) & 0xFFFFFF, 0x0000FFu);
}

TEST(PictureDownload, SynchronousPicturesNeverDownload) {
  TTestServer server;
  server.Routes["/p.bmp"] = {"200 OK", Bytes(QImage(2, 2, QImage::Format_RGB32), "BMP")};
  THTMLPicture pic;
  TLog log(pic);
  pic.SetAsynchronous(false);
  pic.SetLocation(server.Url("/p.bmp"));
  EXPECT_FALSE(pic.DownLoadStarted());
  EXPECT_FALSE(pic.DownLoading());
  for (int i = 0; i < 5; ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_TRUE(log.Events.empty());
  EXPECT_TRUE(pic.Empty());
}

// https goes through TLS with the certificate checked: a server whose certificate is not
// trusted fails with the reason, and once it is trusted the picture arrives.
TEST(PictureDownload, HttpsChecksTheServersCertificate) {
  const std::string dir = kdtest::TempDir();
  const std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                          "-addext subjectAltName=IP:127.0.0.1 -keyout '" + dir + "/key.pem' -out '" + dir +
                          "/cert.pem' >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << "openssl is needed";
  const QList<QSslCertificate> certs = QSslCertificate::fromPath(QString::fromStdString(dir + "/cert.pem"));
  ASSERT_EQ(certs.size(), 1);
  QFile keyFile(QString::fromStdString(dir + "/key.pem"));
  ASSERT_TRUE(keyFile.open(QIODevice::ReadOnly));
  const QSslKey key(&keyFile, QSsl::Rsa);
  ASSERT_FALSE(key.isNull());
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
  tls.setLocalCertificate(certs.front());
  tls.setPrivateKey(key);
  TTestServer server(&tls);
  QImage image(6, 4, QImage::Format_RGB32);
  image.fill(QColor(0, 255, 0));
  server.Routes["/green.bmp"] = {"200 OK", Bytes(image, "BMP")};
  {
    THTMLPicture pic;
    TLog log(pic);
    pic.SetLocation(server.Url("/green.bmp"));
    ASSERT_TRUE(guitest::WaitFor([&] { return log.Ended(); }, 20000));
    EXPECT_EQ(log.Events, (std::vector<std::string>{"error"}));
    EXPECT_EQ(log.Error.rfind("Could not download " + server.Url("/green.bmp") + ": ", 0), 0u) << log.Error;
    EXPECT_NE(log.Error.find("certificate"), std::string::npos) << log.Error;
    EXPECT_TRUE(pic.Empty());
  }
  const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
  QSslConfiguration trusting = saved;
  trusting.addCaCertificate(certs.front());
  QSslConfiguration::setDefaultConfiguration(trusting);
  {
    THTMLPicture pic;
    TLog log(pic);
    pic.SetLocation(server.Url("/green.bmp"));
    const bool ended = guitest::WaitFor([&] { return log.Ended(); }, 20000);
    QSslConfiguration::setDefaultConfiguration(saved);
    ASSERT_TRUE(ended);
    ASSERT_EQ(log.Events.back(), "complete") << log.Error;
    EXPECT_EQ(pic.Width(), 6);
    EXPECT_EQ(pic.Decoded().PixelARGB(2, 2) & 0xFFFFFF, 0x00FF00u);
  }
}

// The fetch itself: a server that stops answering ends in an error, not a hang.
TEST(FetchUrl, ASilentServerTimesOut) {
  TTestServer server;
  server.Routes["/stuck.bmp"] = {"200 OK", std::string(100, 'x'), -1, 10, true};
  TFetchResult result;
  bool done = false;
  class TFetch : public TThread {
   public:
    TFetch(std::string Url, TFetchResult& Result, bool& Done) : FUrl(std::move(Url)), FResult(Result), FDone(Done) { Start(); }
    ~TFetch() override { WaitFor(); }

   protected:
    void Execute() override {
      TFetchOptions options;
      options.TimeoutMs = 200;
      TFetchResult r = FetchUrl(FUrl, options);
      Queue([&result = FResult, &done = FDone, r] {
        result = r;
        done = true;
      });
    }

   private:
    std::string FUrl;
    TFetchResult& FResult;
    bool& FDone;
  } fetch(server.Url("/stuck.bmp"), result, done);
  ASSERT_TRUE(guitest::WaitFor([&] { return done; }, 20000));
  EXPECT_FALSE(result.Ok);
  EXPECT_FALSE(result.Cancelled);
  EXPECT_EQ(result.HttpStatus, 200);
  EXPECT_TRUE(result.Body.empty());
  EXPECT_EQ(result.Error, "Could not download " + server.Url("/stuck.bmp") + ": no answer within 200 ms");
}

}  // namespace
