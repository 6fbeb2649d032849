// The main form's picture page, list page, frame grab and status bar, end to end under the
// offscreen platform: the real form, its buttons clicked through their windows, the dialogs and
// message boxes answered through the platform's dialog layer, frames arriving from another
// thread, lock keys pressed in another control. Each page is written as a screenshot.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Unit1.h"
#include "media/DSHelpers.h"
#include "platform/Colors.h"
#include "platform/Dialogs.h"
#include "platform/DirectShow.h"
#include "platform/KeyState.h"
#include "platform/Menus.h"
#include "platform/SysUtils.h"
#include "raster/dtpRasterJ2K.h"
#include "tests/app/AppSupport.h"
#include "tests/common/TestSupport.h"

using namespace app;
using namespace platform;

namespace {

QWidget* WidgetOf(TControl* C) { return static_cast<QWidget*>(C->WidgetHandle()); }

void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

// A left click in the middle of a control's window, as the user gives it.
void ClickOn(TControl* C) {
  QWidget* w = WidgetOf(C);
  const QPointF at(w->width() / 2.0, w->height() / 2.0);
  QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QApplication::sendEvent(w, &release);
  Settle();
}

// $00BBGGRR of a graphic's pixel, drawn onto a plain bitmap.
TColor GraphicPixel(TGraphic* G, int32_t X, int32_t Y) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(G->Width(), G->Height());
  b.Canvas()->Draw(0, 0, G);
  return b.Canvas()->Pixel(X, Y);
}

int CountNear(const QImage& Img, QRgb C) {
  int n = 0;
  const QImage i = Img.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < i.height(); ++y)
    for (int x = 0; x < i.width(); ++x) {
      const QRgb p = i.pixel(x, y);
      n += std::abs(qRed(p) - qRed(C)) < 8 && std::abs(qGreen(p) - qGreen(C)) < 8 && std::abs(qBlue(p) - qBlue(C)) < 8;
    }
  return n;
}

// A sample grabber filter whose input is connected to 32-bit RGB video of 8 x 6 pixels and that
// holds a current sample, so the grab handlers have frames to take.
class TConnectedGrabber final : public IBaseFilter, public ISampleGrabber {
 public:
  static constexpr int32_t W = 8, H = 6;
  TConnectedGrabber() { Current = Frame(0x00, 0x80, 0x00); }
  // A bottom-up BGRA frame of one colour.
  static std::vector<uint8_t> Frame(uint8_t R, uint8_t G, uint8_t B) {
    std::vector<uint8_t> f(size_t(W * H * 4));
    for (size_t i = 0; i < f.size(); i += 4) {
      f[i] = B;
      f[i + 1] = G;
      f[i + 2] = R;
      f[i + 3] = 0;
    }
    return f;
  }
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (iid == IUnknown::IID || iid == IPersist::IID || iid == IMediaFilter::IID || iid == IBaseFilter::IID)
      *obj = static_cast<IBaseFilter*>(this);
    else if (iid == ISampleGrabber::IID)
      *obj = static_cast<ISampleGrabber*>(this);
    else {
      *obj = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  HRESULT GetClassID(GUID* ClassID) override {
    *ClassID = CLSID_SampleGrabber;
    return S_OK;
  }
  HRESULT Stop() override { return S_OK; }
  HRESULT QueryFilterInfo(FILTER_INFO* Info) override {
    Info->achName = u"SampleGrabber";
    Info->pGraph = nullptr;
    return S_OK;
  }
  HRESULT JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return S_OK; }
  HRESULT EnumPins(IEnumPins** Enum) override {
    *Enum = nullptr;
    return E_NOTIMPL;
  }
  HRESULT SetMediaType(const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* T) override {
    *T = AM_MEDIA_TYPE{};
    T->majortype = MEDIATYPE_Video;
    T->subtype = MEDIASUBTYPE_RGB32;
    T->formattype = FORMAT_VideoInfo;
    T->cbFormat = 88;
    T->pbFormat = static_cast<uint8_t*>(CoTaskMemAlloc(88));
    std::memset(T->pbFormat, 0, 88);
    uint8_t* h = T->pbFormat + 48;  // the BITMAPINFOHEADER of the VIDEOINFOHEADER
    const int32_t fields[3] = {40, W, H};
    std::memcpy(h, fields, sizeof fields);
    const uint16_t planes = 1, bits = 32;
    std::memcpy(h + 12, &planes, 2);
    std::memcpy(h + 14, &bits, 2);
    return S_OK;
  }
  HRESULT SetBufferSamples(bool) override { return S_OK; }
  HRESULT GetCurrentBuffer(int32_t* Size, uint8_t* Buffer) override {
    if (!Buffer) {
      *Size = int32_t(Current.size());
      return S_OK;
    }
    std::memcpy(Buffer, Current.data(), size_t(std::min<int32_t>(*Size, int32_t(Current.size()))));
    return S_OK;
  }
  HRESULT SetCallback(ISampleGrabberCB* C, int32_t) override {
    Callback = C;
    return S_OK;
  }

  std::vector<uint8_t> Current;
  ISampleGrabberCB* Callback = nullptr;
  std::atomic<ULONG> Refs{1};
};

class MainFormPages : public ::testing::Test {
 protected:
  void SetUp() override {
    apptest::StartUnits();
    OldGrabber = RegisterComClass(CLSID_SampleGrabber, [this](const GUID& iid, void** obj) {
      return Grabber.QueryInterface(iid, obj);
    });
    Form = std::make_unique<TForm1>(nullptr);
    Form->DoCreate();
    Form->BaseFolder = apptest::SampleFolder();
    OldMessages = SetMessageHandler([this](const TMessageRequest& R) {
      Messages.push_back(R.Text);
      if (OnMessage) OnMessage(R);
      return ModalResultOf(R.DefaultButton);
    });
    OldFiles = SetFileDialogHandler([this](TOpenDialog& D, bool Save, std::vector<std::string>& Chosen) {
      Asked.push_back((Save ? "save " : "open ") + D.Name());
      if (Answer.empty()) return false;
      Chosen = Answer;
      return true;
    });
    Folder = kdtest::TempDir() + "/pictures-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    std::filesystem::create_directories(Folder);
  }
  void TearDown() override {
    Form.reset();
    SetFileDialogHandler(OldFiles);
    SetMessageHandler(OldMessages);
    RegisterComClass(CLSID_SampleGrabber, OldGrabber);
  }
  void ShowForm() {
    Form->SetWindowState(wsNormal);
    Form->SetBounds(0, 0, 1280, 800);
    Form->Show();
    Settle();
  }
  void Screenshot(const std::string& Name) {
    Settle();
    const QImage shot = WidgetOf(Form.get())->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QString::fromStdString(kdtest::OutputDir() + "/" + Name)));
  }
  // A 40 x 30 bitmap in four colours, saved as a BMP.
  std::string WriteBmp(const std::string& Name) {
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(40, 30);
    const TColor colours[4] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF};
    for (int q = 0; q < 4; ++q) {
      b.Canvas()->Brush()->SetColor(colours[q]);
      b.Canvas()->FillRect({(q % 2) * 20, (q / 2) * 15, (q % 2) * 20 + 20, (q / 2) * 15 + 15});
    }
    b.SaveToFile(Folder + Name);
    return Folder + Name;
  }
  // A 50 x 20 PNG, magenta on the left half and teal on the right.
  std::string WritePng(const std::string& Name) {
    QImage img(50, 20, QImage::Format_RGB32);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 50; ++x) img.setPixel(x, y, x < 25 ? qRgb(200, 0, 200) : qRgb(0, 128, 128));
    EXPECT_TRUE(img.save(QString::fromStdString(Folder + Name), "PNG"));
    return Folder + Name;
  }
  TGraphic* Background() { return Form->PictureShow1->BgPicture()->Graphic(); }
  // The popup as the right mouse button shows it, choosing Item (nullptr: none).
  void Popup(TMenuItem* Item) {
    auto old = SetPopupHandler([Item](TPopupMenu*, int32_t, int32_t) { return Item; });
    Form->PopupMenu2->Popup(10, 10);
    SetPopupHandler(old);
  }

  TConnectedGrabber Grabber;
  TComClassFactory OldGrabber;
  std::unique_ptr<TForm1> Form;
  TMessageHandler OldMessages;
  TFileDialogHandler OldFiles;
  std::function<void(const TMessageRequest&)> OnMessage;
  std::vector<std::string> Messages;
  std::vector<std::string> Asked;
  std::vector<std::string> Answer;
  std::string Folder;
};

}  // namespace

TEST_F(MainFormPages, TheFormHoldsEveryComponentInPlace) {
  ShowForm();
  // The picture page holds the picture show above its button row.
  EXPECT_EQ(Form->PictureShow1->Parent(), Form->Notebook1->Pages(1));
  EXPECT_EQ(Form->PictureShow1->Align(), alClient);
  EXPECT_FALSE(Form->PictureShow1->AutoSize());
  EXPECT_EQ(Form->PictureShow1->BgMode(), media::bmCentered);
  EXPECT_TRUE(Form->PictureShow1->Center());
  EXPECT_EQ(Form->PictureShow1->Delay(), 5);
  EXPECT_TRUE(Form->PictureShow1->Manual());
  EXPECT_TRUE(Form->PictureShow1->Stretch());
  EXPECT_TRUE(Form->PictureShow1->StretchFine());
  EXPECT_EQ(Form->PictureShow1->Style(), 1);
  EXPECT_EQ(Form->PictureShow1->ThreadPriority(), media::tpHigher);
  EXPECT_EQ(Background(), nullptr);  // nothing at start-up
  for (TBitBtn* b : {Form->BitBtn_Openen_onderaan, Form->BitBtnOpslaan_onderaan, Form->BitBtn_Sluiten_onderaan,
                     Form->BitBtn_terug_onderaan})
    EXPECT_EQ(b->Parent(), Form->PicturePanel) << b->Name();
  EXPECT_EQ(Form->BitBtn_Openen_onderaan->Caption(), "Openen");
  EXPECT_EQ(Form->BitBtnOpslaan_onderaan->Caption(), "Opslaan");
  // The list page.
  EXPECT_EQ(Form->ListBox1->Parent(), Form->Notebook1->Pages(2));
  EXPECT_EQ(Form->ListBox1->Color(), clBlack);
  EXPECT_EQ(Form->ListBox1->PopupMenu(), Form->PopupMenu2);
  ASSERT_EQ(Form->PopupMenu2->Items()->Count(), 3);
  EXPECT_EQ(Form->Add1->Caption(), "Add");
  EXPECT_EQ(Form->Remove1->Caption(), "Remove");
  EXPECT_EQ(Form->Clear1->Caption(), "Clear");
  // The dialogs.
  EXPECT_EQ(Form->OpenDialog1->DefaultExt(), "*.bmp");
  EXPECT_EQ(Form->OpenDialog1->Filter(), "Bitmap|*.bmp");
  EXPECT_TRUE(Form->OpenDialog1->Options().Contains(ofAllowMultiSelect));
  EXPECT_EQ(Form->SaveDialog1->DefaultExt(), "*.bmp");
  EXPECT_EQ(Form->SaveDialog1->Filter(), "Bitmap|*.bmp");
  EXPECT_FALSE(Form->SaveDialog1->Options().Contains(ofAllowMultiSelect));
  ASSERT_NE(Form->OpenDialog2, nullptr);
  ASSERT_NE(Form->SampleGrabber, nullptr);
  EXPECT_TRUE(bool(Form->SampleGrabber->OnBuffer));
  // The status bar runs along the whole bottom edge with its six panels.
  widgets::TExStatusBar* bar = Form->ExStatusBar1;
  EXPECT_EQ(bar->Align(), alBottom);
  EXPECT_EQ(bar->Left(), 0);
  EXPECT_EQ(bar->Width(), Form->ClientWidth());
  EXPECT_EQ(bar->Top() + bar->Height(), Form->ClientHeight());
  EXPECT_LE(Form->PaneSplitter1->Top() + Form->PaneSplitter1->Height(), bar->Top());
  ASSERT_EQ(bar->Panels()->Count(), 6);
  const widgets::TExStatusPanelType types[6] = {widgets::sptNormal,  widgets::sptCapsLock, widgets::sptScrollLock,
                                                widgets::sptNumLock, widgets::sptGauge,    widgets::sptNormal};
  const char* texts[6] = {"", " CAPS ", " SCROLL ", " NUM ", "", ""};
  for (int32_t i = 0; i < 6; ++i) {
    EXPECT_EQ(bar->Panels()->Items(i)->PanelType(), types[i]) << i;
    EXPECT_EQ(bar->Panels()->Items(i)->Text(), texts[i]) << i;
    EXPECT_TRUE(bar->Panels()->Items(i)->Enabled()) << i;
  }
  EXPECT_EQ(bar->Panels()->Items(0)->Width(), 635);
  EXPECT_EQ(bar->Panels()->Items(4)->Width(), 250);
  EXPECT_EQ(bar->Panels()->Items(4)->Alignment(), taCenter);
  EXPECT_EQ(bar->Panels()->Items(4)->GaugeAttrs()->Style(), widgets::gsPercent);
  EXPECT_EQ(bar->Panels()->Items(5)->Width(), 50);
  EXPECT_TRUE(widgets::KeyboardHookInstalled());
  // Every page, as the window shows it.
  for (int32_t i = 0; i < Form->Notebook1->PageCount(); ++i) {
    Form->Notebook1->SetPageIndex(i);
    Screenshot("app-page-" + std::to_string(i + 1) + "-" + Form->Notebook1->ActivePage() + ".png");
    EXPECT_TRUE(WidgetOf(Form->Notebook1->Pages(i))->isVisible()) << i;
    EXPECT_TRUE(WidgetOf(bar)->isVisible());
  }
}

TEST_F(MainFormPages, OpenenShowsTheNameThenLoadsBmpAndPng) {
  ShowForm();
  Form->Notebook1->SetActivePage("Afbeelding");
  const std::string bmp = WriteBmp("vier kleuren.bmp");
  const std::string png = WritePng("twee kleuren.png");

  // The name comes first, while the picture still holds what it had.
  std::vector<bool> emptyAtMessage;
  OnMessage = [&](const TMessageRequest&) { emptyAtMessage.push_back(Background() == nullptr); };
  Answer = {bmp};
  ClickOn(Form->BitBtn_Openen_onderaan);
  EXPECT_EQ(Asked, std::vector<std::string>({"open OpenDialog1"}));
  EXPECT_EQ(Messages, std::vector<std::string>({bmp}));
  EXPECT_EQ(emptyAtMessage, std::vector<bool>({true}));
  ASSERT_NE(Background(), nullptr);
  EXPECT_EQ(Background()->Width(), 40);
  EXPECT_EQ(Background()->Height(), 30);
  EXPECT_EQ(GraphicPixel(Background(), 5, 5), 0x0000FFu);
  EXPECT_EQ(GraphicPixel(Background(), 35, 5), 0x00FF00u);
  EXPECT_EQ(GraphicPixel(Background(), 5, 25), 0xFF0000u);
  EXPECT_EQ(GraphicPixel(Background(), 35, 25), 0x00FFFFu);
  Screenshot("app-picture-page-bmp.png");
  const QImage shown = WidgetOf(Form->PictureShow1)->grab().toImage();
  EXPECT_GT(CountNear(shown, qRgb(255, 0, 0)), 100);  // the picture is on the page
  EXPECT_GT(CountNear(shown, qRgb(0, 0, 255)), 100);

  Messages.clear();
  emptyAtMessage.clear();
  Answer = {png};
  ClickOn(Form->BitBtn_Openen_onderaan);
  EXPECT_EQ(Messages, std::vector<std::string>({png}));
  EXPECT_EQ(emptyAtMessage, std::vector<bool>({false}));
  ASSERT_NE(Background(), nullptr);
  EXPECT_EQ(Background()->Width(), 50);
  EXPECT_EQ(Background()->Height(), 20);
  EXPECT_EQ(GraphicPixel(Background(), 3, 3), TColor(RGB(200, 0, 200)));
  EXPECT_EQ(GraphicPixel(Background(), 47, 17), TColor(RGB(0, 128, 128)));
  Screenshot("app-picture-page-png.png");
  EXPECT_GT(CountNear(WidgetOf(Form->PictureShow1)->grab().toImage(), qRgb(200, 0, 200)), 100);

  // A file the picture cannot read: the name, then the picture error; the PNG stays.
  const std::string broken = Folder + "kapot.bmp";
  kdtest::WriteFileBytes(broken, {'B', 'M', 1, 2, 3});
  Messages.clear();
  OnMessage = nullptr;
  Answer = {broken};
  ClickOn(Form->BitBtn_Openen_onderaan);
  ASSERT_EQ(Messages.size(), 2u);
  EXPECT_EQ(Messages[0], broken);
  EXPECT_NE(Messages[1], broken);  // the error's message
  ASSERT_NE(Background(), nullptr);
  EXPECT_EQ(Background()->Width(), 50);
  EXPECT_EQ(GraphicPixel(Background(), 3, 3), TColor(RGB(200, 0, 200)));

  // A cancelled dialog does nothing.
  Messages.clear();
  Answer.clear();
  ClickOn(Form->BitBtn_Openen_onderaan);
  EXPECT_TRUE(Messages.empty());
  EXPECT_EQ(Background()->Width(), 50);
}

TEST_F(MainFormPages, OpslaanWritesAFileThatReloadsWithTheSamePixels) {
  // Whatever the picture was opened from, the chosen bitmap name gets a file that reads back.
  const std::string sources[2] = {WriteBmp("bron.bmp"), WritePng("bron.png")};
  for (const std::string& source : sources) {
    Answer = {source};
    Form->BitBtn_Openen_onderaanClick(nullptr);
    ASSERT_NE(Background(), nullptr);
    const std::string saved = Folder + "opgeslagen.bmp";
    std::filesystem::remove(saved);
    Answer = {saved};
    Form->BitBtnOpslaan_onderaan->PerformClick();
    EXPECT_EQ(Asked.back(), "save SaveDialog1");
    ASSERT_TRUE(FileExists(saved)) << source;
    TPicture sourcePicture, reloaded;
    sourcePicture.LoadFromFile(source);
    ASSERT_NO_THROW(reloaded.LoadFromFile(saved)) << source;
    ASSERT_NE(reloaded.Graphic(), nullptr);
    ASSERT_EQ(reloaded.Width(), sourcePicture.Width());
    ASSERT_EQ(reloaded.Height(), sourcePicture.Height());
    for (int32_t y = 0; y < sourcePicture.Height(); ++y)
      for (int32_t x = 0; x < sourcePicture.Width(); ++x)
        ASSERT_EQ(GraphicPixel(reloaded.Graphic(), x, y), GraphicPixel(sourcePicture.Graphic(), x, y))
            << source << " " << x << "," << y;
  }
  // Cancelled: no file.
  Answer.clear();
  Form->BitBtnOpslaan_onderaanClick(nullptr);
  EXPECT_EQ(Asked.back(), "save SaveDialog1");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder), std::filesystem::directory_iterator()), 3);
}

// "Opslaan" writes the format the name's extension says (any case, any source); unknown ones are refused.
TEST_F(MainFormPages, OpslaanWritesTheFormatTheNameSaysForEverySource) {
  ShowForm();
  Form->Notebook1->SetActivePage("Afbeelding");
  auto click = [&](TControl* Button, const std::string& File) {
    Messages.clear();
    Answer = {File};
    ClickOn(Button);
  };
  auto pixels = [&] {  // the picture as drawn, row by row
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(Background()->Width(), Background()->Height());
    b.Canvas()->Draw(0, 0, Background());
    std::vector<TColor> p;
    for (int32_t y = 0; y < b.Height(); ++y)
      for (int32_t x = 0; x < b.Width(); ++x) p.push_back(b.Canvas()->Pixel(x, y));
    return p;
  };
  const std::map<std::string, std::string> magic = {
      {"bmp", "BM"}, {"png", "\x89PNG"}, {"jpg", "\xFF\xD8\xFF"}, {"jpeg", "\xFF\xD8\xFF"}, {"gif", "GIF8"},
      {"jp2", std::string("\0\0\0\x0CjP  ", 8)}};
  std::vector<std::string> sources = {WriteBmp("bron.bmp")};
  for (const char* e : {"png", "jpg", "gif", "jp2"}) {
    if (std::string(e) == "jp2" && !raster::JasperLibraryBound()) continue;
    click(Form->BitBtn_Openen_onderaan, sources[0]);
    click(Form->BitBtnOpslaan_onderaan, sources.emplace_back(Folder + "bron." + e));
  }
  int saved = 0;
  for (const std::string& source : sources)
    for (const std::string t : {"bmp", "png", "jpg", "gif", "jp2", "BMP", "PNG", "JPG", "GIF", "JP2", "Jpeg"}) {
      SCOPED_TRACE(source + " saved as ." + t);
      click(Form->BitBtn_Openen_onderaan, source);  // each save starts from the picture as opened
      ASSERT_EQ(Messages, std::vector<std::string>({source}));
      const std::vector<TColor> shown = pixels();
      const std::string target = Folder + "van-" + ExtractFileExt(source).substr(1) + "." + t, lower = LowerCase(t);
      click(Form->BitBtnOpslaan_onderaan, target);
      EXPECT_TRUE(Messages.empty());
      ++saved;
      const std::vector<uint8_t> bytes = kdtest::ReadFileBytes(target);
      EXPECT_EQ(std::string(bytes.begin(), bytes.end()).substr(0, magic.at(lower).size()), magic.at(lower));
      click(Form->BitBtn_Openen_onderaan, target);
      ASSERT_EQ(Messages, std::vector<std::string>({target}));
      ASSERT_EQ(Background()->Width(), 40);
      ASSERT_EQ(Background()->Height(), 30);
      const std::vector<TColor> back = pixels();
      // JPEG blurs the colour edges, GIF maps colours to its palette; inside the blocks both keep them.
      const bool lossy = lower == "jpg" || lower == "jpeg" || lower == "gif";
      int64_t sum = 0;
      for (size_t i = 0; i < back.size(); ++i) {
        const int d = std::max({std::abs(int(GetRValue(back[i])) - int(GetRValue(shown[i]))),
                                std::abs(int(GetGValue(back[i])) - int(GetGValue(shown[i]))),
                                std::abs(int(GetBValue(back[i])) - int(GetBValue(shown[i])))});
        sum += d;
        const bool centre = (i % 40 == 10 || i % 40 == 30) && (i / 40 == 7 || i / 40 == 22);
        ASSERT_LE(d, !lossy ? 0 : centre ? (lower == "gif" ? 26 : 12) : 255) << "pixel " << i % 40 << "," << i / 40;
      }
      EXPECT_LE(sum / int64_t(back.size()), lossy ? (lower == "gif" ? 8 : 16) : 0);
    }
  // A name of no picture format: the message says so, nothing is written, the picture stays.
  click(Form->BitBtnOpslaan_onderaan, Folder + "bild.xyz");
  EXPECT_EQ(Messages, std::vector<std::string>({"Unknown picture file extension (.xyz)."}));
  EXPECT_FALSE(FileExists(Folder + "bild.xyz"));
  EXPECT_NE(Background(), nullptr);
  // A name without extension gets the dialog's, a bitmap.
  click(Form->BitBtnOpslaan_onderaan, Folder + "bild");
  EXPECT_TRUE(Messages.empty());
  EXPECT_EQ(kdtest::ReadFileBytes(Folder + "bild.bmp").at(0), 'B');
  // Only the sources and the saved files are in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder), std::filesystem::directory_iterator()),
            std::ptrdiff_t(sources.size()) + saved + 1);
}

TEST_F(MainFormPages, AddListsTheChosenFilesInReverseOrder) {
  ShowForm();
  Form->Notebook1->SetActivePage("rest");
  EXPECT_EQ(Form->ListBox1->Count(), 0);
  Answer = {"/home/gebruiker/één.bmp", "/tmp/beelden/twee.bmp", "/data/drie.bmp"};
  Popup(Form->Add1);
  EXPECT_EQ(Asked, std::vector<std::string>({"open OpenDialog1"}));
  ASSERT_EQ(Form->ListBox1->Items(), std::vector<std::string>({"drie.bmp", "twee.bmp", "één.bmp"}));
  const char* paths[3] = {"/data/", "/tmp/beelden/", "/home/gebruiker/"};
  for (int32_t i = 0; i < 3; ++i) {
    ASSERT_NE(Form->ListItemObject(i), nullptr);
    EXPECT_EQ(Form->ListItemObject(i)->Name, Form->ListBox1->Items()[size_t(i)]);
    EXPECT_EQ(Form->ListItemObject(i)->Path, paths[i]);
  }
  EXPECT_EQ(Form->ListItemObject(3), nullptr);
  EXPECT_EQ(Form->LastListFileRec, Form->ListItemObject(2));  // the dialog's first file comes last
  // A second Add appends below; a cancelled one adds nothing.
  Answer = {"/x/vier.bmp"};
  Form->Add1Click(nullptr);
  Answer.clear();
  Form->Add1Click(nullptr);
  ASSERT_EQ(Form->ListBox1->Count(), 4);
  EXPECT_EQ(Form->ListBox1->Items()[3], "vier.bmp");
  EXPECT_EQ(Form->LastListFileRec->Path, "/x/");
  Screenshot("app-list-page.png");
  const QImage list = WidgetOf(Form->ListBox1)->grab().toImage();
  EXPECT_GT(CountNear(list, qRgb(255, 255, 255)), 20);  // the names show on the black box
}

TEST_F(MainFormPages, PopupEnablesRemoveAndClearWhichDoNothing) {
  struct TCase {
    std::vector<std::string> Files;
    int32_t Select;
    bool Remove, Clear;
  };
  const TCase cases[] = {
      {{}, -1, false, false},
      {{"/a/een.bmp"}, -1, false, true},
      {{"/a/een.bmp", "/b/twee.bmp"}, 0, true, true},
      {{"/a/een.bmp", "/b/twee.bmp"}, 1, true, true},
  };
  for (const TCase& c : cases) {
    Form = std::make_unique<TForm1>(nullptr);
    Form->DoCreate();
    Answer = c.Files;
    if (!c.Files.empty()) Form->Add1Click(nullptr);
    Form->ListBox1->SetItemIndex(c.Select);
    Popup(nullptr);
    EXPECT_EQ(Form->Remove1->Enabled(), c.Remove) << c.Files.size() << " " << c.Select;
    EXPECT_EQ(Form->Clear1->Enabled(), c.Clear) << c.Files.size() << " " << c.Select;
    // Choosing them changes nothing.
    const std::vector<std::string> before = Form->ListBox1->Items();
    Popup(Form->Remove1);
    Popup(Form->Clear1);
    EXPECT_EQ(Form->ListBox1->Items(), before);
    EXPECT_EQ(Form->ListBox1->ItemIndex(), c.Select);
  }
}

TEST_F(MainFormPages, GrabbedFramesArriveOnlyWhileAGrabIsPending) {
  ASSERT_NE(Form->SampleGrabber, nullptr);
  ASSERT_EQ(Grabber.Callback, static_cast<ISampleGrabberCB*>(Form->SampleGrabber));
  ShowForm();
  EXPECT_EQ(Form->GrabPending.load(), 0);

  // A frame while no grab is pending changes nothing.
  auto deliver = [&](const std::vector<uint8_t>& frame) {
    std::thread streaming([&] {
      std::vector<uint8_t> copy = frame;
      Grabber.Callback->BufferCB(1.5, copy.data(), int32_t(copy.size()));
    });
    streaming.join();
    Settle();
  };
  deliver(TConnectedGrabber::Frame(255, 0, 0));
  EXPECT_EQ(Background(), nullptr);

  // Button1Click asks for a frame, copies the current one and shows the picture page.
  Form->Button1Click(nullptr);
  EXPECT_EQ(Form->GrabPending.load(), 1);
  EXPECT_EQ(Form->Notebook1->ActivePage(), "Afbeelding");
  EXPECT_EQ(Form->LastPage, "Video");
  ASSERT_NE(Background(), nullptr);
  EXPECT_EQ(Background()->Width(), TConnectedGrabber::W);
  EXPECT_EQ(Background()->Height(), TConnectedGrabber::H);
  EXPECT_EQ(GraphicPixel(Background(), 2, 2), TColor(RGB(0, 0x80, 0)));

  // The next frame from the streaming thread lands in the picture, and the grab is done.
  deliver(TConnectedGrabber::Frame(0, 0, 255));
  EXPECT_EQ(Form->GrabPending.load(), 0);
  EXPECT_EQ(GraphicPixel(Background(), 2, 2), TColor(RGB(0, 0, 255)));
  Screenshot("app-picture-page-grab.png");
  EXPECT_GE(CountNear(WidgetOf(Form->PictureShow1)->grab().toImage(), qRgb(0, 0, 255)), TConnectedGrabber::W * TConnectedGrabber::H);  // centred, not scaled

  // Later frames are not taken.
  deliver(TConnectedGrabber::Frame(255, 255, 0));
  EXPECT_EQ(GraphicPixel(Background(), 2, 2), TColor(RGB(0, 0, 255)));
  EXPECT_FALSE(Form->TakeGrabbedFrame());
}

// A grab with no frame there yet leaves a picture of another kind (PNG, JPEG) as it is; the
// frame that then arrives replaces it.
TEST_F(MainFormPages, GrabWithoutAFrameKeepsTheShownPicture) {
  ASSERT_NE(Form->SampleGrabber, nullptr);
  ShowForm();
  Form->Notebook1->SetActivePage("Afbeelding");
  std::vector<std::string> pictures = {WritePng("twee kleuren.png")};
  {
    QImage img(50, 20, QImage::Format_RGB32);
    img.fill(qRgb(200, 0, 200));
    if (img.save(QString::fromStdString(Folder + "paars.jpg"), "JPEG", 100)) pictures.push_back(Folder + "paars.jpg");
  }
  for (const std::string& file : pictures) {
    SCOPED_TRACE(file);
    Form->PictureShow1->BgPicture()->LoadFromFile(file);
    ASSERT_NE(Background(), nullptr);
    ASSERT_EQ(dynamic_cast<TBitmap*>(Background()), nullptr);
    Settle();

    Grabber.Current.clear();  // the grabber holds no sample yet
    Form->Button1Click(nullptr);
    EXPECT_EQ(Form->GrabPending.load(), 1);
    EXPECT_EQ(Form->Notebook1->ActivePage(), "Afbeelding");
    ASSERT_NE(Background(), nullptr);
    EXPECT_EQ(dynamic_cast<TBitmap*>(Background()), nullptr);
    EXPECT_EQ(Background()->Width(), 50);
    EXPECT_EQ(Background()->Height(), 20);
    const TColor c = GraphicPixel(Background(), 3, 3);
    EXPECT_LT(std::abs(int(GetRValue(c)) - 200) + int(GetGValue(c)) + std::abs(int(GetBValue(c)) - 200), 24);
    Settle();
    EXPECT_GT(CountNear(WidgetOf(Form->PictureShow1)->grab().toImage(), qRgb(200, 0, 200)), 100);

    // The frame the grab waits for replaces the picture.
    std::vector<uint8_t> frame = TConnectedGrabber::Frame(0, 0, 255);
    std::thread streaming([&] { Grabber.Callback->BufferCB(2.0, frame.data(), int32_t(frame.size())); });
    streaming.join();
    Settle();
    EXPECT_EQ(Form->GrabPending.load(), 0);
    ASSERT_NE(dynamic_cast<TBitmap*>(Background()), nullptr);
    EXPECT_EQ(Background()->Width(), TConnectedGrabber::W);
    EXPECT_EQ(GraphicPixel(Background(), 2, 2), TColor(RGB(0, 0, 255)));
  }

  // With a current sample, the grab copies it over a PNG at once.
  Form->PictureShow1->BgPicture()->LoadFromFile(pictures[0]);
  Grabber.Current = TConnectedGrabber::Frame(0, 0x80, 0);
  Form->Button1Click(nullptr);
  ASSERT_NE(dynamic_cast<TBitmap*>(Background()), nullptr);
  EXPECT_EQ(GraphicPixel(Background(), 2, 2), TColor(RGB(0, 0x80, 0)));
}

TEST_F(MainFormPages, CapsLockPressedInTheTreeRepaintsTheCapsPanel) {
  KeyStateAllowXkb(false);
  KeyStateReset();
  ShowForm();
  widgets::TExStatusBar* bar = Form->ExStatusBar1;
  QWidget* barWidget = WidgetOf(bar);
  const TRect caps = bar->GetPanelRect(1);
  const TRect num = bar->GetPanelRect(3);
  auto panel = [&](const TRect& R) {
    const QImage shot = barWidget->grab().toImage();
    return shot.copy(R.Left + 1, R.Top + 1, R.Width() - 2, R.Height() - 2);
  };
  const QImage capsOff = panel(caps), numOff = panel(num);
  QWidget* tree = WidgetOf(Form->HtmlTreeView1);
  for (QEvent::Type t : {QEvent::KeyPress, QEvent::KeyRelease}) {
    QKeyEvent e(t, Qt::Key_CapsLock, Qt::NoModifier);
    QApplication::sendEvent(tree, &e);
  }
  Settle();
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 1);
  const QImage capsOn = panel(caps);
  EXPECT_NE(capsOn, capsOff);
  EXPECT_EQ(panel(num), numOff);
  barWidget->grab().toImage().save(QString::fromStdString(kdtest::OutputDir() + "/app-status-bar-caps-on.png"));
  Screenshot("app-main-form-caps-on.png");
  // Held down, the key repeats as release and press pairs between the real press and release:
  // the lock turns off once.
  struct TKey {
    QEvent::Type Type;
    bool Repeat;
  };
  for (TKey k : {TKey{QEvent::KeyPress, false}, TKey{QEvent::KeyRelease, true}, TKey{QEvent::KeyPress, true},
                 TKey{QEvent::KeyRelease, false}}) {
    QKeyEvent e(k.Type, Qt::Key_CapsLock, Qt::NoModifier, QString(), k.Repeat);
    QApplication::sendEvent(tree, &e);
    if (k.Type == QEvent::KeyPress) {
      EXPECT_LT(GetKeyState(VK_CAPITAL), 0);  // down all the while
    }
  }
  Settle();
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 0);
  EXPECT_EQ(panel(caps), capsOff);
  KeyStateReset();
  KeyStateAllowXkb(true);
}
