// The main window's buttons clicked as a person clicks them, through a real X server (its own
// Xvfb; skips without one): printing with nothing to print, opening and listing a picture file
// without extension, saving without a picture, "Video" without a movie, and the top bar's
// "Terug" in a narrow window.
// Dialogs and message boxes are answered through the platform's dialog layer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QStyleHints>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "document/SingleFileStorage.h"
#include "platform/Classes.h"
#include "platform/Dialogs.h"
#include "platform/Menus.h"
#include "platform/SysUtils.h"
#include "tests/app/AppSupport.h"
#include "tests/common/TestSupport.h"
#include "tests/common/XServer.h"

using namespace app;
using namespace platform;

namespace {

const bool gHaveX = kdtest::StartPrivateXServer();

class MainFormClicks : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gHaveX) GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    ASSERT_TRUE(In.Ok()) << "no XTest";
    // Each click here is a click of its own, never the second half of a double click.
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(0);
    apptest::StartUnits();
    Folder = kdtest::TempDir() + "/";
    OldMessages = SetMessageHandler([this](const TMessageRequest& R) {
      Messages.push_back(R.Text);
      return ModalResultOf(R.DefaultButton);
    });
    OldFiles = SetFileDialogHandler([this](TOpenDialog& D, bool Save, std::vector<std::string>& Chosen) {
      Asked.push_back((Save ? "save " : "open ") + D.Name());
      Chosen = Answer;
      return !Answer.empty();
    });
    OldPrint = SetPrintDialogHandler([this](TPrintDialog&) {
      Asked.push_back("print");
      return false;
    });
    Form = std::make_unique<TForm1>(nullptr);
    Form->DoCreate();
    Form->BaseFolder = Folder;
    Form->OpenWebAddress = [this](const std::string& Url) { Opened.push_back(Url); };
    Form->SetWindowState(wsNormal);
    Form->SetBounds(0, 0, 1280, 800);
    Form->Show();
    QWidget* w = static_cast<QWidget*>(Form->WidgetHandle());
    w->activateWindow();
    ASSERT_TRUE(kdtest::WaitFor([&] { return w->isActiveWindow(); }));
  }
  void TearDown() override {
    if (!gHaveX) return;
    Form.reset();
    SetPrintDialogHandler(OldPrint);
    SetFileDialogHandler(OldFiles);
    SetMessageHandler(OldMessages);
  }
  // A press and release of Button at a point of C's window, through the server.
  void ClickAt(TControl* C, int X, int Y, unsigned Button = 1) {
    QWidget* w = static_cast<QWidget*>(C->WidgetHandle());
    ASSERT_TRUE(kdtest::WaitFor([&] { return w->isVisible(); })) << C->Name();
    const QPoint at = w->mapToGlobal(QPoint(X, Y));
    In.MoveTo(at.x(), at.y());
    kdtest::Settle();
    In.Button(Button, true);
    In.Button(Button, false);
    kdtest::Settle();
  }
  void Click(TControl* C, unsigned Button = 1) { ClickAt(C, C->Width() / 2, C->Height() / 2, Button); }
  // The handler as the tree calls it when an item is chosen.
  void Choose(int32_t Index) {
    bool allow = true;
    Form->HtmlTreeView1Changing(Form->HtmlTreeView1, Form->HtmlTreeView1->Items()->Item(Index), allow);
  }
  TGraphic* Picture() { return Form->PictureShow1->BgPicture()->Graphic(); }
  // A 50 x 20 PNG under a name without extension.
  std::string WritePng(const std::string& Name) {
    QImage img(50, 20, QImage::Format_RGB32);
    img.fill(qRgb(200, 0, 200));
    EXPECT_TRUE(img.save(QString::fromStdString(Folder + Name), "PNG"));
    return Folder + Name;
  }

  kdtest::TXInput In;
  std::unique_ptr<TForm1> Form;
  std::string Folder;
  TMessageHandler OldMessages;
  TFileDialogHandler OldFiles;
  TPrintDialogHandler OldPrint;
  std::vector<std::string> Messages, Asked, Answer, Opened;
};

}  // namespace

// With no page to print "Afdrukken" says so instead of asking for a printer: a document that
// could not be opened leaves none, and a page without a size prints no sheet. Neither the blank
// sheet shown before any drawing nor a page that could not be read is printed.
TEST_F(MainFormClicks, AfdrukkenWithNothingToPrintSaysSo) {
  const std::string sample = apptest::SampleFolder() + "oefening1.hsf";
  std::filesystem::copy_file(sample, Folder + "oefening1.hsf");
  const std::vector<uint8_t> bytes = kdtest::ReadFileBytes(sample);
  kdtest::WriteFileBytes(Folder + "download.hsf",
                         std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(bytes.size() / 2)));
  // Exercise 2's second page is cut off inside its text.
  std::filesystem::copy_file(sample, Folder + "oefening2.hsf");
  {
    document::TSingleStorage archive;
    archive.SetFileName(Folder + "oefening2.hsf");
    TMemoryStream s;
    archive.ReadStream("Page0002.xml", &s);
    const int32_t half = int32_t(s.GetSize() / 2);
    s.SetSize(half);
    s.SetPosition(0);
    archive.DeleteStream("Page0002.xml");
    archive.WriteStream(&s, "Page0002.xml");
    archive.Flush();
  }
  const std::string nothing = "Er is geen pagina om af te drukken.";
  const std::string damaged = "Deze pagina kon niet worden gelezen en wordt niet afgedrukt.";
  struct TCase {
    const char* What;
    int32_t Item;
    bool ZeroWidth, SecondPage;
    std::vector<std::string> Said, Asked;
  };
  const TCase cases[] = {
      {"the blank sheet before any drawing", -1, false, false, {"Er is nog geen tekening om af te drukken."}, {}},
      {"a damaged document", 8, false, false, {nothing}, {}},
      {"a page without a width", 5, true, false, {nothing}, {}},
      {"a page", 5, false, false, {}, {"print"}},
      {"a damaged page", 6, false, true, {damaged}, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    if (c.Item >= 0) Choose(c.Item);
    EXPECT_EQ(Form->dtpComponent1->PageCount() == 0, c.Item == 8);
    if (c.ZeroWidth) Form->dtpComponent1->CurrentPage()->SetDocWidth(0);
    if (c.SecondPage) Click(Form->kl19);
    Messages.clear();
    Asked.clear();
    Click(Form->KL6);
    EXPECT_EQ(Messages, c.Said);
    EXPECT_EQ(Asked, c.Asked);
  }
}

// An existing picture named without extension is the file "Openen" shows and hands to the
// picture, and the one "Add" lists; a name that names no file still gets the dialog's ".bmp".
TEST_F(MainFormClicks, OpenenAndAddTakeTheChosenFileWithoutExtension) {
  const std::string foto = WritePng("foto");
  Form->Notebook1->SetActivePage("Afbeelding");
  Answer = {foto};
  Click(Form->BitBtn_Openen_onderaan);
  EXPECT_EQ(Asked, std::vector<std::string>({"open OpenDialog1"}));
  // The picture takes its format from the extension, and this name has none.
  EXPECT_EQ(Messages, std::vector<std::string>({foto, "Unknown picture file extension (.)."}));
  EXPECT_EQ(Picture(), nullptr);

  Form->Notebook1->SetActivePage("rest");
  Answer = {foto, Folder + "nieuw"};
  auto old = SetPopupHandler([this](TPopupMenu*, int32_t, int32_t) { return Form->Add1; });
  Click(Form->ListBox1, 3);
  SetPopupHandler(old);
  EXPECT_EQ(Form->ListBox1->Items(), std::vector<std::string>({"nieuw.bmp", "foto"}));
  ASSERT_NE(Form->ListItemObject(1), nullptr);
  EXPECT_EQ(Form->ListItemObject(1)->Path, Folder);
}

// "Opslaan" without a picture, at start-up or with an empty one, says so and asks for no name.
TEST_F(MainFormClicks, OpslaanWithoutAPictureSaysSo) {
  Form->Notebook1->SetActivePage("Afbeelding");
  Answer = {Folder + "leeg.png"};
  for (bool emptyBitmap : {false, true}) {
    SCOPED_TRACE(emptyBitmap ? "an empty bitmap" : "nothing");
    if (emptyBitmap) Form->PictureShow1->BgPicture()->Bitmap();
    Messages.clear();
    Click(Form->BitBtnOpslaan_onderaan);
    EXPECT_EQ(Messages, std::vector<std::string>({"Er is geen afbeelding om op te slaan."}));
    EXPECT_TRUE(Asked.empty());
    EXPECT_FALSE(FileExists(Folder + "leeg.png"));
  }
}

// "Video" for an exercise whose movie is missing or damaged says so and stays on the drawing
// instead of showing an empty player; with the movie there it plays it.
TEST_F(MainFormClicks, VideoWithoutAMovieSaysSo) {
  const std::vector<uint8_t> movie = kdtest::ReadFileBytes(apptest::SampleFolder() + "oefening1.swf");
  const struct {
    std::vector<uint8_t> Bytes;  // none: no file
    const char* Said;
  } cases[] = {
      {{}, "Er is geen film om af te spelen."},
      {{'<', 'h', 't', 'm', 'l'}, "De film oefening1.swf is beschadigd en kan niet worden afgespeeld."},
      {movie, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Said ? c.Said : "a movie");
    if (!c.Bytes.empty()) kdtest::WriteFileBytes(Folder + "oefening1.swf", c.Bytes);
    Form->BitBtn_terug_onderaanClick(nullptr);
    Choose(5);
    Messages.clear();
    Click(Form->BitBtn_Video);
    EXPECT_EQ(Messages, c.Said ? std::vector<std::string>({c.Said}) : std::vector<std::string>());
    EXPECT_EQ(Form->Notebook1->ActivePage(), c.Said ? "Tekening" : "Video");
  }
}

// In the narrowest window the top bar's "Terug" takes its own clicks on the movie page.
TEST_F(MainFormClicks, TerugAt800PixelsGoesBack) {
  // Nothing makes the window narrower, neither the program nor the window system.
  Form->SetBounds(0, 0, 640, 480);
  kdtest::Settle();
  EXPECT_EQ(Form->Width(), 800);
  EXPECT_EQ(Form->Height(), 600);
  QWidget* window = static_cast<QWidget*>(Form->WidgetHandle());
  EXPECT_EQ(window->minimumSize(), QSize(800, 600));
  // Without a window manager to keep that limit the server makes the window smaller; the form
  // puts it back.
  In.ResizeWindow(window->winId(), 640, 480);
  EXPECT_TRUE(kdtest::WaitFor([&] { return window->width() == 800 && window->height() == 600; }));
  EXPECT_EQ(Form->Width(), 800);
  Form->Notebook1->SetActivePage("Video");
  Click(Form->BitBtn_terug_boven);
  EXPECT_EQ(Form->Notebook1->ActivePage(), "Tekening");
  EXPECT_TRUE(Opened.empty());
  EXPECT_TRUE(Messages.empty());
  static_cast<QWidget*>(Form->WidgetHandle())
      ->grab()
      .save(QString::fromStdString(kdtest::OutputDir() + "/app-xvfb-800-wide.png"));
}
