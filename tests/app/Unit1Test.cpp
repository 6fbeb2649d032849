// The main form: its start-up state and graph log, the catalogue's changing handler on present, missing and
// broken files, paging and its label, zoom, the "Video" button with the splitter rule and the
// player's call order, the return buttons, and offscreen end-to-end runs that click an item and
// play a movie, writing screenshots.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPaintEvent>
#include <QRegion>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/Catalogue.h"
#include "app/Unit1.h"
#include "document/SingleFileStorage.h"
#include "platform/Dialogs.h"
#include "platform/Exceptions.h"
#include "platform/Forms.h"
#include "platform/SysUtils.h"
#include "tests/app/AppSupport.h"
#include "tests/platform/GuiTestEvents.h"
#include "tests/common/TestSupport.h"

using namespace app;
using platform::TTreeNode;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAsan = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAsan = true;
#else
constexpr bool kAsan = false;
#endif
#else
constexpr bool kAsan = false;
#endif

bool WaitFor(const std::function<bool()>& Done, int Ms) {
  QElapsedTimer t;
  t.start();
  while (!Done()) {
    if (t.elapsed() > Ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

int Colours(const QImage& Img) {
  std::set<QRgb> seen;
  QImage i = Img.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < i.height(); y += 2)
    for (int x = 0; x < i.width(); x += 2) {
      seen.insert(i.pixel(x, y));
      if (seen.size() > 50) return 50;
    }
  return int(seen.size());
}

QWidget* WidgetOf(platform::TControl* C) { return static_cast<QWidget*>(C->WidgetHandle()); }

class MainForm : public ::testing::Test {
 protected:
  void SetUp() override {
    apptest::StartUnits();
    Folder = apptest::SampleFolder();
    Form = std::make_unique<TForm1>(nullptr);
    Form->DoCreate();
    Form->BaseFolder = Folder;
    Form->OpenWebAddress = [this](const std::string& Url) { Opened = Url; };
  }
  void TearDown() override { Form.reset(); }

  TTreeNode* Node(int32_t Index) { return Form->HtmlTreeView1->Items()->Item(Index); }
  // The changing handler as the tree calls it, with the change allowed.
  void Choose(int32_t Index) {
    bool allow = true;
    Form->HtmlTreeView1Changing(Form->HtmlTreeView1, Node(Index), allow);
    EXPECT_TRUE(allow);
  }
  std::string Label() const { return Form->paginst->Caption(); }

  std::string Folder;
  std::unique_ptr<TForm1> Form;
  std::string Opened;
};

}  // namespace

TEST(MainFormRules, PageLabelAndSplitterPositions) {
  EXPECT_EQ(PageLabelText(0, 3), "Pagina 1  Van  3");
  EXPECT_EQ(PageLabelText(9, 10), "Pagina 10  Van  10");
  EXPECT_EQ(PageLabelText(-1, 0), "Pagina 0  Van  0");
  EXPECT_EQ(VideoSplitterPosition(1024), 0);
  EXPECT_EQ(VideoSplitterPosition(1152), 132);
  EXPECT_EQ(VideoSplitterPosition(1280), 259);
  EXPECT_EQ(VideoSplitterPosition(1440), 417);
  for (int32_t w : {0, 800, 1023, 1025, 1366, 1600, 1920, -1}) EXPECT_EQ(VideoSplitterPosition(w), 392) << w;
}

namespace {

// Sets an environment variable for one scope (nullptr: unset) and puts the old value back.
class TEnvSetting {
 public:
  TEnvSetting(const char* Name, const char* Value) : FName(Name) {
    if (const char* old = std::getenv(Name)) FOld = old, FHad = true;
    Set(Value);
  }
  ~TEnvSetting() { Set(FHad ? FOld.c_str() : nullptr); }
  TEnvSetting(const TEnvSetting&) = delete;
  TEnvSetting& operator=(const TEnvSetting&) = delete;

 private:
  void Set(const char* Value) {
    if (Value)
      setenv(FName.c_str(), Value, 1);
    else
      unsetenv(FName.c_str());
  }
  std::string FName, FOld;
  bool FHad = false;
};

std::string FileText(const std::string& Name) {
  std::ifstream f(Name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(MainFormLog, TheLogLivesInTheUsersCacheFolder) {
  {
    TEnvSetting xdg("XDG_CACHE_HOME", "/var/cache-of-user");
    EXPECT_EQ(GraphLogFileName(), "/var/cache-of-user/kadrilo/dxlog.txt");
  }
  {
    TEnvSetting xdg("XDG_CACHE_HOME", "/var/cache-of-user/");
    EXPECT_EQ(GraphLogFileName(), "/var/cache-of-user/kadrilo/dxlog.txt");
  }
  TEnvSetting home("HOME", "/home/gebruiker");
  for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/cache"}) {
    TEnvSetting xdg("XDG_CACHE_HOME", ignored);
    EXPECT_EQ(GraphLogFileName(), "/home/gebruiker/.cache/kadrilo/dxlog.txt") << (ignored ? ignored : "unset");
  }
  TEnvSetting xdg("XDG_CACHE_HOME", nullptr);
  TEnvSetting nohome("HOME", nullptr);
  EXPECT_EQ(GraphLogFileName(), "");
}

// Start-up makes the cache folder and a new log in it; the graph writes what it does there.
TEST(MainFormLog, StartUpCreatesTheLogAndTheGraphWritesIt) {
  apptest::StartUnits();
  const std::string cache = kdtest::TempDir() + "/log-cache";
  std::filesystem::remove_all(cache);
  TEnvSetting xdg("XDG_CACHE_HOME", cache.c_str());
  const std::string log = cache + "/kadrilo/dxlog.txt";
  {
    TForm1 form(nullptr);
    form.DoCreate();
    ASSERT_NE(form.FilterGraph, nullptr);
    EXPECT_EQ(form.FilterGraph->LogFile(), log);
    ASSERT_TRUE(std::filesystem::is_regular_file(log));
    const std::string started = FileText(log);
    ASSERT_NE(form.SampleGrabber, nullptr);
    EXPECT_NE(started.find("AddFilter \"SampleGrabber\""), std::string::npos) << started;
    form.HtmlTreeView1Click(nullptr);  // the graph stops
    EXPECT_EQ(FileText(log), started + "Stop\n");
  }
  // The next start begins a new log.
  kdtest::WriteFileBytes(log, {'o', 'u', 'd', '\n'});
  TForm1 again(nullptr);
  again.DoCreate();
  EXPECT_EQ(FileText(log).find("oud"), std::string::npos);
}

// A copy started while others run writes a log of its own: truncating the log of the first
// under it left that copy writing at its old offset behind a run of NUL bytes.
TEST(MainFormLog, EveryRunningCopyKeepsALogOfItsOwn) {
  apptest::StartUnits();
  const std::string cache = kdtest::TempDir() + "/log-copies", folder = cache + "/kadrilo/";
  TEnvSetting xdg("XDG_CACHE_HOME", cache.c_str());
  auto first = std::make_unique<TForm1>(nullptr);
  ASSERT_NE(first->FilterGraph, nullptr);
  EXPECT_EQ(first->FilterGraph->LogFile(), folder + "dxlog.txt");
  const std::string started = FileText(folder + "dxlog.txt");
  ASSERT_FALSE(started.empty());
  first->HtmlTreeView1Click(nullptr);  // the graph stops
  {
    TForm1 second(nullptr), third(nullptr);
    EXPECT_EQ(second.FilterGraph->LogFile(), folder + "dxlog-2.txt");
    EXPECT_EQ(third.FilterGraph->LogFile(), folder + "dxlog-3.txt");
    first->HtmlTreeView1Click(nullptr);
    second.HtmlTreeView1Click(nullptr);
    EXPECT_EQ(FileText(folder + "dxlog.txt"), started + "Stop\nStop\n");
    EXPECT_EQ(FileText(folder + "dxlog-2.txt"), started + "Stop\n");
  }
  // A name is free again once its copy has ended, and the next start writes it afresh.
  TForm1 again(nullptr);
  EXPECT_EQ(again.FilterGraph->LogFile(), folder + "dxlog-2.txt");
  EXPECT_EQ(FileText(folder + "dxlog-2.txt"), started);
  first.reset();
  TForm1 last(nullptr);
  EXPECT_EQ(last.FilterGraph->LogFile(), folder + "dxlog.txt");
  EXPECT_EQ(FileText(folder + "dxlog.txt"), started);
}

// A cache folder that cannot be written leaves the graph without a log; the form runs all the same.
TEST(MainFormLog, AnUnwritableCacheFolderLeavesLoggingOff) {
  apptest::StartUnits();
  const std::string base = kdtest::TempDir() + "/log-unwritable";
  std::filesystem::remove_all(base);
  std::filesystem::create_directories(base);
  // The cache "folder" is a file: no folder can be made in it.
  kdtest::WriteFileBytes(base + "/cache", {'x'});
  {
    TEnvSetting xdg("XDG_CACHE_HOME", (base + "/cache").c_str());
    TForm1 form(nullptr);
    form.DoCreate();
    ASSERT_NE(form.FilterGraph, nullptr);
    EXPECT_TRUE(form.FilterGraph->Active());
    EXPECT_EQ(form.FilterGraph->LogFile(), "");
    EXPECT_TRUE(form.FilterGraph->Stop());
    EXPECT_EQ(FileText(base + "/cache"), "x");
  }
  // The folder is there but the log's name is taken by a folder: the log cannot be created.
  std::filesystem::create_directories(base + "/cache2/kadrilo/dxlog.txt");
  TEnvSetting xdg("XDG_CACHE_HOME", (base + "/cache2").c_str());
  TForm1 form(nullptr);
  form.DoCreate();
  ASSERT_NE(form.FilterGraph, nullptr);
  EXPECT_TRUE(form.FilterGraph->Active());
  EXPECT_TRUE(form.FilterGraph->Stop());
  EXPECT_TRUE(std::filesystem::is_directory(base + "/cache2/kadrilo/dxlog.txt"));
}

TEST_F(MainForm, StartsOnTheEmptyDrawing) {
  EXPECT_EQ(Form->Notebook1->PageCount(), 5);
  const char* pages[5] = {"Video", "Afbeelding", "rest", "Menu", "Tekening"};
  for (int32_t i = 0; i < 5; ++i) {
    Form->Notebook1->SetPageIndex(i);
    EXPECT_EQ(Form->Notebook1->ActivePage(), pages[i]);
  }
  Form->Notebook1->SetPageIndex(4);
  EXPECT_EQ(Form->Notebook1->ActivePage(), "Tekening");
  EXPECT_EQ(Form->HtmlTreeView1->Items()->Count(), 107);
  EXPECT_EQ(Form->HtmlTreeView1->Selected(), nullptr);
  EXPECT_EQ(Form->dtpComponent1->PageCount(), 1);
  EXPECT_EQ(Label(), "Pagina 1  Van  1");
  EXPECT_EQ(Form->PaneSplitter1->Position(), 392);
  EXPECT_EQ(Form->WindowState(), platform::wsMaximized);
  EXPECT_FALSE(Form->Caption().empty());
  EXPECT_EQ(Form->ItemIndex, 0);
  EXPECT_EQ(Form->VideoFile, "");
  // Toolbar hints.
  EXPECT_EQ(Form->KL6->Hint(), "Afdrukken");
  EXPECT_EQ(Form->kl12->Hint(), "Pagina groter maken");
  EXPECT_EQ(Form->kl13->Hint(), "Pagina kleiner maken");
  EXPECT_EQ(Form->kl14->Hint(), "Pagina volledig weergeven");
  EXPECT_EQ(Form->kl15->Hint(), "Paginabreedte aan scherm aanpassen");
  EXPECT_EQ(Form->kl18->Hint(), "Vorige pagina");
  EXPECT_EQ(Form->kl19->Hint(), "Volgende pagina");
  EXPECT_EQ(Form->Label16->Hint(), "Naar de website");
  EXPECT_EQ(Form->BitBtn_Video->Caption(), "Video");
  EXPECT_FALSE(Form->BitBtn_Video->Visible());  // no exercise chosen yet
  // The popup menu: only "Afsluiten" acts; "Color Control" is hidden and disabled.
  ASSERT_EQ(Form->PopupMenu1->Items()->Count(), 9);
  EXPECT_FALSE(Form->ColorControl1->Enabled());
  EXPECT_FALSE(Form->ColorControl1->Visible());
  EXPECT_EQ(Form->Exit2->Caption(), "Afsluiten");
  // The graph is built at once, with its log in the user's cache folder.
  ASSERT_NE(Form->FilterGraph, nullptr);
  EXPECT_TRUE(Form->FilterGraph->Active());
  EXPECT_EQ(Form->FilterGraph->LogFile(), GraphLogFileName());
}

TEST_F(MainForm, ChoosingAnItemLoadsItsDocument) {
  Choose(0);  // "Inleiding"
  EXPECT_EQ(Form->ItemIndex, 0);
  document::TdtpComponent probe(nullptr);
  probe.LoadFromFile(Folder + "inleidingdownload.hsf");
  EXPECT_EQ(Form->dtpComponent1->PageCount(), probe.PageCount());
  EXPECT_EQ(Label(), "Pagina 1  Van  " + std::to_string(probe.PageCount()));
  EXPECT_FALSE(Form->BitBtn_Video->Visible());
  EXPECT_EQ(Form->Notebook1->ActivePage(), "Tekening");

  Choose(8);  // exercise 4, "DEAD LEG RUN": the shared placeholder document
  probe.LoadFromFile(Folder + "download.hsf");
  EXPECT_EQ(Form->dtpComponent1->PageCount(), probe.PageCount());
  EXPECT_TRUE(Form->BitBtn_Video->Visible());

  Choose(19);  // "Gemiddeld (9)"
  probe.LoadFromFile(Folder + "19.hsf");
  EXPECT_EQ(Form->dtpComponent1->PageCount(), probe.PageCount());
  EXPECT_FALSE(Form->BitBtn_Video->Visible());

  // Every item: the button follows the table.
  for (int32_t i = 0; i < CatalogueCount; ++i) {
    Choose(i);
    EXPECT_EQ(Form->BitBtn_Video->Visible(), CatalogueShowsVideo(i)) << i;
  }
}

TEST_F(MainForm, MissingFileKeepsThePreviousDocument) {
  const std::string folder = kdtest::TempDir() + "/partial-catalogue/";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(Folder + "19.hsf", folder + "19.hsf", std::filesystem::copy_options::overwrite_existing);
  std::filesystem::remove(folder + "download.hsf");
  Form->BaseFolder = folder;
  Choose(19);
  const int32_t pages = Form->dtpComponent1->PageCount();
  ASSERT_GT(pages, 1);
  Form->kl19Click(nullptr);
  Form->dtpComponent1->SetZoomPercent(250);
  Choose(8);  // "download.hsf" is missing here
  EXPECT_EQ(Form->ItemIndex, 8);
  EXPECT_EQ(Form->dtpComponent1->PageCount(), pages);
  EXPECT_EQ(Label(), "Pagina 2  Van  " + std::to_string(pages));
  EXPECT_TRUE(Form->BitBtn_Video->Visible());
  EXPECT_NE(Form->dtpComponent1->ZoomPercent(), 250.0f);  // the page width is fitted all the same
}

// A content file that cannot be loaded: the error goes to the application's handler, the change
// goes through, the label shows the cleared document and the "Video" button follows the item.
TEST_F(MainForm, BrokenFileIsReportedAndTheChangeGoesThrough) {
  const std::string folder = kdtest::TempDir() + "/broken-catalogue/";
  std::filesystem::create_directories(folder);
  kdtest::WriteFileBytes(folder + "oefening1.hsf", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'});
  std::filesystem::copy_file(Folder + "19.hsf", folder + "19.hsf", std::filesystem::copy_options::overwrite_existing);
  Form->BaseFolder = folder;
  std::string expected;
  try {
    document::TdtpComponent probe(nullptr);
    probe.LoadFromFile(folder + "oefening1.hsf");
  } catch (const std::exception& e) {
    expected = e.what();
  }
  ASSERT_FALSE(expected.empty());
  std::vector<std::string> reported;
  platform::Application()->OnException = [&](platform::TObject*, const std::exception& E) { reported.push_back(E.what()); };
  Choose(19);
  EXPECT_FALSE(Form->BitBtn_Video->Visible());
  bool allow = true;
  EXPECT_NO_THROW(Form->HtmlTreeView1Changing(Form->HtmlTreeView1, Node(5), allow));
  platform::Application()->OnException = nullptr;
  EXPECT_TRUE(allow);
  EXPECT_EQ(reported, std::vector<std::string>({expected}));
  EXPECT_EQ(Form->ItemIndex, 5);
  EXPECT_EQ(Label(), PageLabelText(Form->dtpComponent1->CurrentPageIndex(), Form->dtpComponent1->PageCount()));
  EXPECT_EQ(Form->dtpComponent1->PageCount(), 0);
  EXPECT_TRUE(Form->BitBtn_Video->Visible());  // the exercise's movie is there all the same
}

// Viewing a content file never writes to it: an empty one is reported as not an archive and
// stays empty, and a sound one keeps its bytes and time stamp.
TEST_F(MainForm, ViewingAContentFileLeavesItUntouched) {
  const std::string folder = kdtest::TempDir() + "/viewed-catalogue/";
  std::filesystem::create_directories(folder);
  kdtest::WriteFileBytes(folder + "download.hsf", {});
  std::filesystem::copy_file(Folder + "19.hsf", folder + "19.hsf", std::filesystem::copy_options::overwrite_existing);
  Form->BaseFolder = folder;
  const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
  for (const char* f : {"download.hsf", "19.hsf"}) std::filesystem::last_write_time(folder + f, old);
  const std::vector<uint8_t> bytes19 = kdtest::ReadFileBytes(folder + "19.hsf");
  std::vector<std::string> reported;
  platform::Application()->OnException = [&](platform::TObject*, const std::exception& E) { reported.push_back(E.what()); };
  Choose(8);
  Choose(19);
  Form->kl19Click(nullptr);
  platform::Application()->OnException = nullptr;
  EXPECT_EQ(reported, std::vector<std::string>({"Not a valid storage"}));
  EXPECT_GT(Form->dtpComponent1->PageCount(), 1);  // 19.hsf was shown, its second page too
  EXPECT_TRUE(kdtest::ReadFileBytes(folder + "download.hsf").empty());
  EXPECT_EQ(kdtest::ReadFileBytes(folder + "19.hsf"), bytes19);
  for (const char* f : {"download.hsf", "19.hsf"}) EXPECT_EQ(std::filesystem::last_write_time(folder + f), old) << f;
}

// The same through the tree's own mouse and keyboard handling: the selection moves onto the
// broken item, away from it again, and past it with the arrow keys.
TEST_F(MainForm, TheTreeMovesOnPastABrokenItemByMouseAndKeys) {
  const std::string folder = kdtest::TempDir() + "/broken-tree/";
  std::filesystem::create_directories(folder);
  for (const char* f : {"4.hsf", "oefening2.hsf"})
    std::filesystem::copy_file(Folder + f, folder + f, std::filesystem::copy_options::overwrite_existing);
  kdtest::WriteFileBytes(folder + "oefening1.hsf", {'P', 'K', 3, 4, 0, 0});
  Form->BaseFolder = folder;
  auto pagesOf = [&](const char* File) {
    document::TdtpComponent probe(nullptr);
    probe.LoadFromFile(folder + File);
    return probe.PageCount();
  };
  const int32_t pages4 = pagesOf("4.hsf"), pagesSecond = pagesOf("oefening2.hsf");
  ASSERT_GT(pages4, 0);
  ASSERT_GT(pagesSecond, 0);
  std::vector<std::string> reported;
  platform::Application()->OnException = [&](platform::TObject*, const std::exception& E) { reported.push_back(E.what()); };
  struct TRestore {
    ~TRestore() { platform::Application()->OnException = nullptr; }
  } restore;

  Form->SetWindowState(platform::wsNormal);
  Form->SetBounds(0, 0, 1280, 800);
  Form->Show();
  Node(2)->Expand(true);
  QApplication::processEvents();
  QWidget* tree = WidgetOf(Form->HtmlTreeView1);
  auto click = [&](int32_t Index) {
    const platform::TRect r = Node(Index)->DisplayRect(true);
    ASSERT_GT(r.Width(), 0);
    const QPointF at(r.Left + 4, (r.Top + r.Bottom) / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, tree->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, tree->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(tree, &press);
    QApplication::sendEvent(tree, &release);
    QApplication::processEvents();
  };
  auto key = [&](int Key) {
    QKeyEvent press(QEvent::KeyPress, Key, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Key, Qt::NoModifier);
    QApplication::sendEvent(tree, &press);
    QApplication::sendEvent(tree, &release);
    QApplication::processEvents();
  };

  click(4);
  EXPECT_EQ(Form->HtmlTreeView1->Selected(), Node(4));
  EXPECT_EQ(Form->dtpComponent1->PageCount(), pages4);
  EXPECT_TRUE(reported.empty());

  // Clicking the broken item reports once and selects it, over its cleared document.
  click(5);
  EXPECT_EQ(reported.size(), 1u);
  EXPECT_EQ(Form->HtmlTreeView1->Selected(), Node(5));
  EXPECT_EQ(Form->ItemIndex, 5);
  EXPECT_EQ(Form->dtpComponent1->PageCount(), 0);
  EXPECT_EQ(Label(), PageLabelText(Form->dtpComponent1->CurrentPageIndex(), 0));

  // The item before it can be chosen again.
  click(4);
  EXPECT_EQ(Form->HtmlTreeView1->Selected(), Node(4));
  EXPECT_EQ(Form->ItemIndex, 4);
  EXPECT_EQ(Form->dtpComponent1->PageCount(), pages4);
  EXPECT_EQ(reported.size(), 1u);

  // Down onto the broken item reports it once; the next Down goes on to the item below.
  key(Qt::Key_Down);
  EXPECT_EQ(Form->HtmlTreeView1->Selected(), Node(5));
  EXPECT_EQ(reported.size(), 2u);
  key(Qt::Key_Down);
  EXPECT_EQ(Form->HtmlTreeView1->Selected(), Node(6));
  EXPECT_EQ(Form->ItemIndex, 6);
  EXPECT_EQ(Form->dtpComponent1->PageCount(), pagesSecond);
  EXPECT_EQ(Label(), PageLabelText(0, pagesSecond));
  EXPECT_TRUE(Form->BitBtn_Video->Visible());
  EXPECT_EQ(reported.size(), 2u);
  // And back up over it.
  key(Qt::Key_Up);
  key(Qt::Key_Up);
  EXPECT_EQ(Form->HtmlTreeView1->Selected(), Node(4));
  EXPECT_EQ(Form->dtpComponent1->PageCount(), pages4);
  EXPECT_EQ(reported.size(), 3u);
}

TEST_F(MainForm, PagingAndItsLabel) {
  Choose(5);  // "oefening1.hsf"
  const int32_t n = Form->dtpComponent1->PageCount();
  ASSERT_GE(n, 3);
  EXPECT_EQ(Label(), "Pagina 1  Van  " + std::to_string(n));
  Form->kl18Click(nullptr);  // already on the first page
  EXPECT_EQ(Form->dtpComponent1->CurrentPageIndex(), 0);
  EXPECT_EQ(Label(), "Pagina 1  Van  " + std::to_string(n));
  for (int32_t k = 1; k < n; ++k) Form->kl19Click(nullptr);
  EXPECT_EQ(Label(), "Pagina " + std::to_string(n) + "  Van  " + std::to_string(n));
  Form->kl19Click(nullptr);  // past the last page: unchanged
  EXPECT_EQ(Form->dtpComponent1->CurrentPageIndex(), n - 1);
  EXPECT_EQ(Label(), "Pagina " + std::to_string(n) + "  Van  " + std::to_string(n));
  Form->kl18Click(nullptr);
  EXPECT_EQ(Label(), "Pagina " + std::to_string(n - 1) + "  Van  " + std::to_string(n));
}

// A cut-off page is reported at every visit and shown empty; the arrows go on past it and back.
TEST_F(MainForm, PagingGoesOnPastADamagedPage) {
  const std::string folder = kdtest::TempDir() + "/damaged-page/", file = folder + "oefening1.hsf";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(Folder + "oefening1.hsf", file, std::filesystem::copy_options::overwrite_existing);
  {
    document::TSingleStorage archive;
    archive.SetFileName(file);
    platform::TMemoryStream s;
    archive.ReadStream("Page0002.xml", &s);
    const std::string text(static_cast<const char*>(s.Memory()), size_t(s.GetSize()));
    ASSERT_NE(text.find("<DocLeft>"), std::string::npos);
    s.Clear();
    s.WriteBuffer(text.data(), int32_t(text.find("<DocLeft>") + 11));  // cut inside the first shape's position
    s.SetPosition(0);
    archive.DeleteStream("Page0002.xml");
    archive.WriteStream(&s, "Page0002.xml");
    archive.Flush();
  }
  Form->BaseFolder = folder;
  std::vector<std::string> boxes;
  struct TRestore {
    platform::TMessageHandler Old;
    ~TRestore() { platform::SetMessageHandler(Old); }
  } restore{platform::SetMessageHandler([&](const platform::TMessageRequest& R) {
    boxes.push_back(R.Text);
    return platform::mrOk;
  })};
  Form->SetWindowState(platform::wsNormal);
  Form->SetBounds(0, 0, 1280, 800);
  Form->Show();
  Choose(5);
  const int32_t n = Form->dtpComponent1->PageCount();
  ASSERT_GE(n, 3);
  // Next, next, back, back, next, back; then the same document from the intact folder.
  const struct {
    platform::TControl* Button;
    int32_t Page;
    size_t Reports;
  } steps[] = {{Form->kl19, 1, 1}, {Form->kl19, 2, 1}, {Form->kl18, 1, 2}, {Form->kl18, 0, 2},
               {Form->kl19, 1, 3}, {Form->kl18, 0, 3}, {nullptr, 0, 3},    {Form->kl19, 1, 3}};
  for (const auto& step : steps) {
    if (!step.Button) {  // another document forgets the damage of this one
      Form->BaseFolder = Folder;
      Choose(5);
      continue;
    }
    QWidget* w = WidgetOf(step.Button);
    guitest::Press(step.Button, w->width() / 2, w->height() / 2);
    guitest::Release(step.Button, w->width() / 2, w->height() / 2);
    QApplication::processEvents();
    EXPECT_EQ(Form->dtpComponent1->CurrentPageIndex(), step.Page);
    EXPECT_EQ(Label(), PageLabelText(step.Page, n));
    EXPECT_EQ(Form->dtpComponent1->CurrentPage()->GetShapeCount() == 0, step.Page == 1 && Form->BaseFolder == folder);
    EXPECT_EQ(boxes, std::vector<std::string>(step.Reports, "Missing close tag in element DocLeft."));
  }
}

// A document whose first page cannot be read is refused as a whole, as a damaged file is: it is
// reported once, the label reads "Pagina 0  Van  0" and the arrows reach none of its pages.
TEST_F(MainForm, ADamagedFirstPageRefusesTheDocument) {
  const std::string folder = kdtest::TempDir() + "/damaged-first-page/", file = folder + "oefening1.hsf";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(Folder + "oefening1.hsf", file);
  {
    document::TSingleStorage archive;
    archive.SetFileName(file);
    platform::TMemoryStream s;
    archive.ReadStream("Page0001.xml", &s);
    const std::string text(static_cast<const char*>(s.Memory()), size_t(s.GetSize()));
    ASSERT_NE(text.find("<DocLeft>"), std::string::npos);
    s.Clear();
    s.WriteBuffer(text.data(), int32_t(text.find("<DocLeft>") + 5));  // cut inside a tag
    s.SetPosition(0);
    archive.DeleteStream("Page0001.xml");
    archive.WriteStream(&s, "Page0001.xml");
    archive.Flush();
  }
  Form->BaseFolder = folder;
  std::vector<std::string> reported;
  platform::Application()->OnException = [&](platform::TObject*, const std::exception& E) { reported.push_back(E.what()); };
  struct TRestore {
    ~TRestore() { platform::Application()->OnException = nullptr; }
  } restore;
  Choose(5);
  Form->kl19Click(nullptr);
  Form->kl18Click(nullptr);
  EXPECT_EQ(reported, std::vector<std::string>({"Missing \">\" before the end of the xml"}));
  EXPECT_EQ(Form->dtpComponent1->PageCount(), 0);
  EXPECT_EQ(Label(), "Pagina 0  Van  0");
}

TEST_F(MainForm, ZoomButtons) {
  Choose(5);
  const float fitted = Form->dtpComponent1->ZoomPercent();
  Form->kl12Click(nullptr);
  const float larger = Form->dtpComponent1->ZoomPercent();
  EXPECT_GT(larger, fitted);
  Form->kl13Click(nullptr);
  EXPECT_LT(Form->dtpComponent1->ZoomPercent(), larger);
  Form->dtpComponent1->SetZoomPercent(333);
  Form->kl15Click(nullptr);
  EXPECT_FLOAT_EQ(Form->dtpComponent1->ZoomPercent(), fitted);
  Form->kl14Click(nullptr);
  EXPECT_NE(Form->dtpComponent1->ZoomPercent(), 333.0f);
}

TEST_F(MainForm, PrintingAsksFirst) {
  Choose(5);
  int asked = 0;
  auto old = platform::SetPrintDialogHandler([&](platform::TPrintDialog&) {
    ++asked;
    return false;
  });
  Form->KL6Click(nullptr);
  platform::SetPrintDialogHandler(old);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(Form->dtpComponent1->PrintQuality(), document::pqLow);  // cancelled: nothing set
}

TEST_F(MainForm, VideoButtonPlaysTheItemsMovie) {
  Form->ScreenWidth = 1600;
  Choose(6);
  Form->BitBtn_VideoClick(nullptr);
  EXPECT_EQ(Form->VideoFile, Folder + "oefening2.swf");
  EXPECT_EQ(Form->Notebook1->ActivePage(), "Video");
  // "Tekening" is recorded first, then the page change records the page shown.
  EXPECT_EQ(Form->LastPage, "Video");
  EXPECT_EQ(Form->PaneSplitter1->Position(), 392);
  EXPECT_EQ(Form->Flash1->Movie(), Folder + "oefening2.swf");
  EXPECT_EQ(Form->Flash1->LoadedMovie(), Folder + "oefening2.swf");
  EXPECT_EQ(Form->Flash1->FrameNum(), 1);
  EXPECT_TRUE(Form->Flash1->Playing());

  // Another item stops the movie and returns to the drawing.
  Choose(8);
  EXPECT_EQ(Form->Notebook1->ActivePage(), "Tekening");
  EXPECT_FALSE(Form->Flash1->Playing());
  EXPECT_EQ(Form->LastPage, "Tekening");
  Form->BitBtn_VideoClick(nullptr);
  EXPECT_EQ(Form->VideoFile, Folder + "download.swf");
}

TEST_F(MainForm, VideoButtonWithoutAMovieEmptiesThePlayer) {
  const std::string folder = kdtest::TempDir() + "/no-movies/";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(Folder + "oefening1.swf", folder + "oefening1.swf", std::filesystem::copy_options::overwrite_existing);
  std::filesystem::remove(folder + "download.swf");
  Form->BaseFolder = folder;
  Choose(5);
  Form->BitBtn_VideoClick(nullptr);
  EXPECT_EQ(Form->VideoFile, folder + "oefening1.swf");
  Choose(8);  // its movie is missing: no replay of exercise 1's
  Form->BitBtn_VideoClick(nullptr);
  EXPECT_EQ(Form->VideoFile, "");
  EXPECT_EQ(Form->Flash1->Movie(), "");
  EXPECT_EQ(Form->Flash1->LoadedMovie(), "");
  Choose(19);  // a group has no movie at all
  Form->BitBtn_VideoClick(nullptr);
  EXPECT_EQ(Form->VideoFile, "");
  EXPECT_EQ(Form->Notebook1->ActivePage(), "Tekening");  // no empty player page
}

TEST_F(MainForm, SplitterFollowsTheScreenWidth) {
  Form->SetBounds(0, 0, 1600, 900);
  Form->PaneSplitter1->SetBounds(0, 0, 1600, 860);
  Choose(5);
  for (int32_t w : {1152, 1280, 1440, 1600, 1920}) {
    Form->ScreenWidth = w;
    Form->BitBtn_VideoClick(nullptr);
    EXPECT_EQ(Form->PaneSplitter1->Position(), VideoSplitterPosition(w)) << w;
    Form->BitBtn_terug_onderaanClick(nullptr);
    EXPECT_EQ(Form->PaneSplitter1->Position(), 392);
    EXPECT_EQ(Form->Notebook1->ActivePage(), "Tekening");
  }
  // 1024 pixels asks for 0; the pane keeps its minimum size.
  Form->ScreenWidth = 1024;
  Form->BitBtn_VideoClick(nullptr);
  EXPECT_LE(Form->PaneSplitter1->Position(), 10);
  Form->HtmlTreeView1Click(nullptr);
  EXPECT_EQ(Form->PaneSplitter1->Position(), 392);
}

TEST_F(MainForm, PageChangesAreRecordedAndLinksOpen) {
  Form->Notebook1->SetActivePage("Menu");
  EXPECT_EQ(Form->LastPage, "Menu");
  Form->Notebook1->SetActivePage("nonsense");
  EXPECT_EQ(Form->LastPage, "Menu");
  Form->BitBtn_terug_boven->PerformClick();
  EXPECT_EQ(Form->LastPage, "Tekening");
  Form->Label16->PerformClick();
  EXPECT_EQ(Opened, MakerWebAddress);
  // With no browser to start (as here, offscreen) the click says so instead of doing nothing.
  TForm1 plain(nullptr);
  std::vector<std::string> said;
  auto old = platform::SetMessageHandler([&](const platform::TMessageRequest& R) {
    said.push_back(R.Text);
    return platform::mrOk;
  });
  plain.Label16->PerformClick();
  platform::SetMessageHandler(old);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find(MakerWebAddress), std::string::npos) << said[0];
}

// The bars above the drawing and the movie, and the status bar: in every window from the
// narrowest (800 pixels) up, each control lies inside its bar, beside the others, with room for
// its text.
TEST_F(MainForm, TopBarsLeaveEveryControlItsOwnPlace) {
  Form->SetWindowState(platform::wsNormal);
  Form->Show();
  Choose(8);  // an exercise: the "Video" button is there
  ASSERT_TRUE(Form->BitBtn_Video->Visible());
  for (const char* page : {"Tekening", "Video"})
    for (int32_t width = 800; width <= 1280; width += 40) {
      SCOPED_TRACE(std::string(page) + " at " + std::to_string(width));
      if (std::string(page) == "Video") {
        Form->ScreenWidth = width;
        Form->BitBtn_VideoClick(nullptr);
      } else {
        Form->BitBtn_terug_onderaanClick(nullptr);
      }
      Form->SetBounds(0, 0, width, 600);
      QApplication::processEvents();
      // The status bar shows each panel after the first whole: the first one gives way.
      widgets::TExStatusBar* status = Form->ExStatusBar1;
      for (int32_t i = 1; i < status->Panels()->Count(); ++i)
        EXPECT_GE(status->GetPanelRect(i).Width(), status->Panels()->Items(i)->Width()) << "panel " << i;
      std::vector<platform::TWinControl*> bars = {Form->TopPanel};
      if (std::string(page) == "Tekening") bars.push_back(Form->ToolbarPanel);
      for (platform::TWinControl* bar : bars) {
        ASSERT_TRUE(WidgetOf(bar)->isVisible()) << bar->Name();
        const platform::TRect inside = bar->ClientRect();
        EXPECT_LE(bar->Left() + bar->Width(), Form->ClientWidth()) << bar->Name();
        std::vector<platform::TControl*> shown;
        for (int32_t i = 0; i < bar->ControlCount(); ++i)
          if (bar->Controls(i)->Visible()) shown.push_back(bar->Controls(i));
        for (size_t i = 0; i < shown.size(); ++i) {
          platform::TControl* c = shown[i];
          const platform::TRect r = c->BoundsRect();
          EXPECT_TRUE(r.Left >= inside.Left && r.Top >= inside.Top && r.Right <= inside.Right &&
                      r.Bottom <= inside.Bottom)
              << c->Name() << " " << r.Left << ".." << r.Right << " in " << inside.Left << ".." << inside.Right;
          platform::TBitmap b;
          b.Canvas()->SetFont(c->Font());
          const int32_t bevel = dynamic_cast<TBitBtn*>(c) ? 2 * static_cast<TBitBtn*>(c)->BevelWidth() : 0;
          EXPECT_LE(b.Canvas()->TextWidth(c->Caption()) + bevel, r.Width()) << c->Name();
          EXPECT_LE(b.Canvas()->TextHeight("W") + bevel, r.Height()) << c->Name();
          for (size_t j = i + 1; j < shown.size(); ++j) {
            const platform::TRect o = shown[j]->BoundsRect();
            EXPECT_TRUE(r.Right <= o.Left || o.Right <= r.Left || r.Bottom <= o.Top || o.Bottom <= r.Top)
                << c->Name() << " " << r.Left << ".." << r.Right << " and " << shown[j]->Name() << " " << o.Left
                << ".." << o.Right;
          }
        }
      }
    }
}

TEST_F(MainForm, EndToEndClickOnAnItemWritesAScreenshot) {
  Form->SetWindowState(platform::wsNormal);
  Form->SetBounds(0, 0, 1280, 800);
  Form->Show();
  QApplication::processEvents();
  // Showing and focusing the tree selects nothing and loads nothing.
  EXPECT_EQ(Form->HtmlTreeView1->Selected(), nullptr);
  EXPECT_EQ(Form->dtpComponent1->PageCount(), 1);
  EXPECT_EQ(Label(), "Pagina 1  Van  1");
  // Expand "Loopoefeningen" down to the first exercises and click "1. OEFENING 1".
  Node(2)->Expand(true);
  QApplication::processEvents();
  TTreeNode* target = Node(5);
  const platform::TRect r = target->DisplayRect(true);
  ASSERT_GT(r.Width(), 0);
  QWidget* tree = WidgetOf(Form->HtmlTreeView1);
  const QPointF at(r.Left + 4, (r.Top + r.Bottom) / 2.0);
  QMouseEvent press(QEvent::MouseButtonPress, at, tree->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, tree->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(tree, &press);
  QApplication::sendEvent(tree, &release);
  QApplication::processEvents();
  EXPECT_EQ(Form->ItemIndex, 5);
  EXPECT_EQ(Form->HtmlTreeView1->Selected(), target);
  EXPECT_EQ(Label(), "Pagina 1  Van  " + std::to_string(Form->dtpComponent1->PageCount()));
  EXPECT_TRUE(Form->BitBtn_Video->Visible());
  WaitFor([] { return false; }, 300);  // let the view paint its page
  const QImage shot = WidgetOf(Form.get())->grab().toImage();
  ASSERT_FALSE(shot.isNull());
  EXPECT_TRUE(shot.save(QString::fromStdString(kdtest::OutputDir() + "/app-main-form.png")));
  // Controls away from the window's corner paint too: the toolbar with its glyphs, the buttons
  // at the top right.
  for (platform::TControl* c : {static_cast<platform::TControl*>(Form->ToolbarPanel),
                                static_cast<platform::TControl*>(Form->BitBtn_Afsluiten)}) {
    QWidget* w = WidgetOf(c);
    const QRect area(w->mapTo(WidgetOf(Form.get()), QPoint(0, 0)), w->size());
    EXPECT_GT(Colours(shot.copy(area)), 3) << c->Name();
  }
  // The drawing shows: the document view holds more than a couple of colours.
  const QImage view = WidgetOf(Form->dtpComponent1)->grab().toImage();
  EXPECT_GT(Colours(view), 3);
}

TEST_F(MainForm, EndToEndPlaysAGeneratedMovie) {
  if (kAsan && !std::getenv("KD_FLASH_LIVE_UNDER_ASAN"))
    GTEST_SKIP() << "Chromium inside Qt WebEngine does not run under AddressSanitizer";
  if (!Form->Flash1->PlayerAvailable()) GTEST_SKIP() << "Ruffle or WebEngine's helper process is not installed";
  Form->SetWindowState(platform::wsNormal);
  Form->SetBounds(0, 0, 1280, 800);
  Form->Show();
  Choose(5);
  Form->BitBtn_VideoClick(nullptr);
  ASSERT_TRUE(WaitFor([&] {
    const std::string& s = Form->Flash1->PlayerStatus();
    return s == "playing" || s.rfind("error:", 0) == 0;
  }, 60000)) << Form->Flash1->PlayerStatus();
  ASSERT_EQ(Form->Flash1->PlayerStatus(), "playing");
  QImage frame;
  WaitFor([&] {
    frame = WidgetOf(Form->Flash1)->grab().toImage();
    return Colours(frame) > 3;
  }, 20000);
  EXPECT_GT(Colours(frame), 3) << "the first grabbed frame is blank";
  frame.save(QString::fromStdString(kdtest::OutputDir() + "/app-movie-frame.png"));
  WidgetOf(Form.get())->grab().toImage().save(QString::fromStdString(kdtest::OutputDir() + "/app-video-page.png"));
}

namespace {
// Collects what a widget is asked to repaint.
class TPaintRegions : public QObject {
 public:
  QRegion Painted;
  bool eventFilter(QObject*, QEvent* E) override {
    if (E->type() == QEvent::Paint) Painted += static_cast<QPaintEvent*>(E)->region();
    return false;
  }
};
}  // namespace

// A broken file leaves the document cleared, and the whole view shows that: repainting only
// where the old shapes were left the old page's frame and background on screen.
TEST_F(MainForm, BrokenFileRepaintsTheWholeView) {
  const std::string folder = kdtest::TempDir() + "/broken-view/";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(Folder + "4.hsf", folder + "4.hsf", std::filesystem::copy_options::overwrite_existing);
  kdtest::WriteFileBytes(folder + "oefening1.hsf", {'P', 'K', 3, 4, 0, 0});
  Form->BaseFolder = folder;
  platform::Application()->OnException = [](platform::TObject*, const std::exception&) {};
  struct TRestore {
    ~TRestore() { platform::Application()->OnException = nullptr; }
  } restore;
  Form->SetWindowState(platform::wsNormal);
  Form->SetBounds(0, 0, 1280, 800);
  Form->Show();
  Choose(4);
  ASSERT_GT(Form->dtpComponent1->PageCount(), 0);
  QWidget* view = WidgetOf(Form->dtpComponent1);
  ASSERT_TRUE(WaitFor([&] { return view->isVisible(); }, 2000));
  QApplication::processEvents();
  TPaintRegions painted;
  view->installEventFilter(&painted);
  Choose(5);
  EXPECT_EQ(Form->dtpComponent1->PageCount(), 0);
  WaitFor([&] { return painted.Painted.contains(view->rect()); }, 1000);
  view->removeEventFilter(&painted);
  EXPECT_TRUE(QRegion(view->rect()).subtracted(painted.Painted).isEmpty())
      << "left unpainted: " << QRegion(view->rect()).subtracted(painted.Painted).boundingRect().width() << " x "
      << QRegion(view->rect()).subtracted(painted.Painted).boundingRect().height();
}
