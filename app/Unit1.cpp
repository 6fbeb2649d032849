#include "app/Unit1.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/Catalogue.h"
#include "platform/Colors.h"
#include "platform/Dialogs.h"
#include "platform/Graphics.h"
#include "platform/SysUtils.h"

namespace app {

using namespace platform;

TForm1* Form1 = nullptr;

const char* const MakerWebAddress = "https://www.example.org/kadrilo";

int32_t VideoSplitterPosition(int32_t ScreenWidth) {
  switch (ScreenWidth) {
    case 1024: return 0;
    case 1152: return 132;
    case 1280: return 259;
    case 1440: return 417;
    default: return 392;
  }
}

std::string GraphLogFileName() {
  std::string cache;
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && xdg[0] == '/') {
    cache = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') return "";
    cache = std::string(home) + "/.cache";
  }
  if (cache.back() != '/') cache += '/';
  return cache + "kadrilo/dxlog.txt";
}

std::string PageLabelText(int32_t CurrentPageIndex, int32_t PageCount) {
  return "Pagina " + std::to_string(int64_t(CurrentPageIndex) + 1) + "  Van  " + std::to_string(PageCount);
}

namespace {

template <typename T>
T* Make(TComponent* Owner, TWinControl* Parent, const char* Name) {
  auto* c = new T(Owner);
  c->SetName(Name);
  c->SetParent(Parent);
  return c;
}

TBitBtn* MakeButton(TComponent* Owner, TWinControl* Parent, const char* Name, const char* Caption, TAlign Align) {
  auto* b = Make<TBitBtn>(Owner, Parent, Name);
  b->SetCaption(Caption);
  b->SetWidth(80);
  b->SetAlign(Align);
  return b;
}

// The width Text takes in a control's font.
int32_t TextWidthIn(const TControl* C, const std::string& Text) {
  TBitmap b;
  b.Canvas()->SetFont(C->Font());
  return b.Canvas()->TextWidth(Text);
}

TMenuItem* AddItem(TMenu* Menu, TComponent* Owner, const char* Caption) {
  auto* item = new TMenuItem(Owner);
  item->SetCaption(Caption);
  Menu->Items()->Add(item);
  return item;
}

// Holds the lock on the graph log of this running copy. Made before the graph, it goes after
// it: the lock lasts as long as anything can still write to the log.
class TGraphLogLock : public TComponent {
 public:
  TGraphLogLock(TComponent* AOwner, int Handle) : TComponent(AOwner), FHandle(Handle) {}
  ~TGraphLogLock() override { ::close(FHandle); }
  std::string ClassName() const override { return "TGraphLogLock"; }

 private:
  int FHandle;
};

// The log this running copy writes: Name, or while other copies run and hold theirs, the first
// free of Name with "-2", "-3", ... before its extension. Two copies writing one file through
// their own offsets would leave holes of NUL bytes in it where the later start truncated it.
// A name that cannot be opened at all is passed on as it is: the graph then runs without a log.
std::string ClaimGraphLog(TComponent* Owner, const std::string& Name) {
  const std::filesystem::path path(Name);
  for (int n = 1; n <= 99; ++n) {
    std::filesystem::path candidate = path;
    if (n > 1) candidate.replace_filename(path.stem().string() + "-" + std::to_string(n) + path.extension().string());
    // Close-on-exec: a browser or player started from here must not keep the lock after we end.
    const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return candidate.string();
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      new TGraphLogLock(Owner, fd);
      return candidate.string();
    }
    ::close(fd);
  }
  return "";
}

// Toolbar glyphs, 16 x 16 on a fuchsia background that the buttons treat as transparent.
enum TGlyphKind { gPrint, gZoomIn, gZoomOut, gFitPage, gPageWidth, gPrevious, gNext };

std::unique_ptr<TBitmap> MakeGlyph(TGlyphKind Kind) {
  auto b = std::make_unique<TBitmap>();
  b->SetSize(16, 16);
  TCanvas* c = b->Canvas();
  c->Brush()->SetColor(clFuchsia);
  c->FillRect(TRect{0, 0, 16, 16});
  c->Pen()->SetColor(clBlack);
  c->Brush()->SetColor(clWhite);
  switch (Kind) {
    case gPrint:
      c->Rectangle(4, 1, 12, 7);
      c->Brush()->SetColor(clSilver);
      c->Rectangle(1, 6, 15, 13);
      c->Brush()->SetColor(clWhite);
      c->Rectangle(4, 10, 12, 15);
      break;
    case gZoomIn:
    case gZoomOut:
      c->Ellipse(1, 1, 11, 11);
      c->MoveTo(3, 6);
      c->LineTo(9, 6);
      if (Kind == gZoomIn) {
        c->MoveTo(6, 3);
        c->LineTo(6, 9);
      }
      c->Pen()->SetWidth(2);
      c->MoveTo(10, 10);
      c->LineTo(14, 14);
      break;
    case gFitPage:
      c->Rectangle(3, 1, 13, 15);
      c->MoveTo(5, 4);
      c->LineTo(11, 4);
      c->MoveTo(5, 7);
      c->LineTo(11, 7);
      break;
    case gPageWidth:
      c->Rectangle(1, 3, 15, 13);
      c->MoveTo(3, 8);
      c->LineTo(13, 8);
      c->Polygon({{3, 8}, {6, 5}, {6, 11}});
      c->Polygon({{13, 8}, {10, 5}, {10, 11}});
      break;
    case gPrevious:
      c->Brush()->SetColor(clNavy);
      c->Polygon({{4, 8}, {11, 2}, {11, 14}});
      break;
    case gNext:
      c->Brush()->SetColor(clNavy);
      c->Polygon({{12, 8}, {5, 2}, {5, 14}});
      break;
  }
  return b;
}

}  // namespace

TForm1::TForm1(TComponent* AOwner) : TForm(AOwner) {
  SetName("Form1");
  SetWindowState(wsMaximized);
  SetColor(clBtnFace);
  // The bars are laid out for windows from 800 x 600 pixels up: narrower, the credit labels
  // would lie over the link and the buttons.
  Constraints()->SetMinWidth(800);
  Constraints()->SetMinHeight(600);
  // Maximised; without a window manager to honour that, the form still covers the screen.
  SetBounds(0, 0, std::max(Screen()->Width(), 800), std::max(Screen()->Height(), 600));
  OpenWebAddress = [](const std::string& Url) {
    // Without a browser to start the click would seem to do nothing at all.
    if (!OpenUrlInBrowser(Url)) ShowMessage("Er is geen webbrowser om " + Url + " mee te openen.");
  };

  ImageList1 = new TImageList(this);
  ImageList2 = new TImageList(this);
  ilMain = new TImageList(this);
  Figuren = new TImageList(this);
  for (TImageList* l : {ImageList1, ImageList2, ilMain, Figuren}) {
    l->SetWidth(16);
    l->SetHeight(16);
  }

  BuildTopPanel();
  BuildStatusBar();
  PaneSplitter1 = Make<widgets::TPaneSplitter>(this, this, "PaneSplitter1");
  PaneSplitter1->SetAlign(alClient);
  PaneSplitter1->SetOrientation(widgets::soVertical);
  PaneSplitter1->SetPosition(341);
  PaneSplitter1->SetThickness(1);
  PaneSplitter1->SetSplitterStyle(widgets::ssCheckered);
  PaneSplitter1->SetAllowResize(true);
  for (widgets::TSplitterPaneSetting* s : {PaneSplitter1->Pane1Setting(), PaneSplitter1->Pane2Setting()}) {
    s->SetFrameStyle(widgets::ftLowered);
    s->SetMinSize(10);
  }
  BuildMenus();
  BuildTree();
  BuildNotebook();
  BuildMedia();
  OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
}

TForm1::~TForm1() {
  // No frame may reach a form that is going.
  if (SampleGrabber) SampleGrabber->OnBuffer = nullptr;
  DeallocateHWnd(FGrabWindow);
  FGrabWindow = nullptr;
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::BuildTopPanel() {
  TopPanel = Make<TPanel>(this, this, "TopPanel");
  TopPanel->SetAlign(alTop);
  TopPanel->SetHeight(30);
  TopPanel->SetCaption("");
  BitBtn_Afsluiten = MakeButton(this, TopPanel, "BitBtn_Afsluiten", "Afsluiten", alRight);
  BitBtn_Afsluiten->OnClick = [this](TObject* S) { BitBtn_Sluiten_onderaanClick(S); };
  BitBtn_terug_boven = MakeButton(this, TopPanel, "BitBtn_terug_boven", "Terug", alRight);
  BitBtn_terug_boven->OnClick = [this](TObject* S) { BitBtn_terug_onderaanClick(S); };
  // Each label is as wide as its text, and the link stands beside the buttons on the right, so
  // that even in the narrowest window (800 pixels) nothing lies over anything else.
  constexpr int32_t gap = 16;
  LabelMaker = Make<TLabel>(this, TopPanel, "LabelMaker");
  LabelMaker->SetCaption("  De kadrilo: oefeningen met de loopladder");
  LabelMaker->SetBounds(0, 0, TextWidthIn(LabelMaker, LabelMaker->Caption()) + gap, 30);
  LabelMaker->SetAlign(alLeft);
  LabelDesigner = Make<TLabel>(this, TopPanel, "LabelDesigner");
  LabelDesigner->SetCaption("Tekeningen en films: het kadrilo-team");
  LabelDesigner->SetBounds(LabelMaker->Width(), 0, TextWidthIn(LabelDesigner, LabelDesigner->Caption()) + gap, 30);
  LabelDesigner->SetAlign(alLeft);
  Label16 = Make<TLabel>(this, TopPanel, "Label16");
  Label16->SetCaption("Naar de website");
  Label16->SetHint("Naar de website");
  Label16->SetShowHint(true);
  // Left of the buttons, which are already aligned to the right edge.
  Label16->SetBounds(0, 0, TextWidthIn(Label16, Label16->Caption()) + gap, 30);
  Label16->SetAlign(alRight);
  Label16->SetCursor(crHandPoint);
  Label16->OnClick = [this](TObject* S) { Label16Click(S); };
}

void TForm1::BuildMenus() {
  PrintDialog1 = new TPrintDialog(this);
  PrintDialog1->SetName("PrintDialog1");
  PopupMenu1 = new TPopupMenu(this);
  PopupMenu1->SetName("PopupMenu1");
  AddItem(PopupMenu1, this, "Afspelen");
  AddItem(PopupMenu1, this, "Pauzeren");
  AddItem(PopupMenu1, this, "Stop");
  AddItem(PopupMenu1, this, "-");
  ColorControl1 = AddItem(PopupMenu1, this, "Color Control");
  ColorControl1->SetEnabled(false);
  ColorControl1->SetVisible(false);
  AddItem(PopupMenu1, this, "-");
  AddItem(PopupMenu1, this, "Volledig scherm");
  AddItem(PopupMenu1, this, "-");
  Exit2 = AddItem(PopupMenu1, this, "Afsluiten");
  Exit2->OnClick = [this](TObject* S) { Exit2Click(S); };

  PopupMenu2 = new TPopupMenu(this);
  PopupMenu2->SetName("PopupMenu2");
  PopupMenu2->OnPopup = [this](TObject* S) { PopupMenu2Popup(S); };
  Add1 = AddItem(PopupMenu2, this, "Add");
  Add1->SetName("Add1");
  Add1->OnClick = [this](TObject* S) { Add1Click(S); };
  Remove1 = AddItem(PopupMenu2, this, "Remove");
  Remove1->SetName("Remove1");
  Clear1 = AddItem(PopupMenu2, this, "Clear");
  Clear1->SetName("Clear1");

  OpenDialog1 = new TOpenDialog(this);
  OpenDialog1->SetName("OpenDialog1");
  OpenDialog1->SetDefaultExt("*.bmp");
  OpenDialog1->SetFilter("Bitmap|*.bmp");
  TOpenOptions options = OpenDialog1->Options();
  options.Include(ofAllowMultiSelect);
  OpenDialog1->SetOptions(options);
  SaveDialog1 = new TSaveDialog(this);
  SaveDialog1->SetName("SaveDialog1");
  SaveDialog1->SetDefaultExt("*.bmp");
  SaveDialog1->SetFilter("Bitmap|*.bmp");
  OpenDialog2 = new TOpenDialog(this);
  OpenDialog2->SetName("OpenDialog2");
}

void TForm1::BuildStatusBar() {
  ExStatusBar1 = Make<widgets::TExStatusBar>(this, this, "ExStatusBar1");
  ExStatusBar1->SetAlign(alBottom);
  struct TPanelDef {
    widgets::TExStatusPanelType Type;
    int32_t Width;
  };
  // The lock-key panels fit their captions themselves.
  const TPanelDef panels[] = {{widgets::sptNormal, FirstStatusPanelWidth}, {widgets::sptCapsLock, 50},
                              {widgets::sptScrollLock, 50}, {widgets::sptNumLock, 50},
                              {widgets::sptGauge, 250}, {widgets::sptNormal, 50}};
  for (const TPanelDef& d : panels) {
    widgets::TExStatusPanel* p = ExStatusBar1->Panels()->Add();
    p->SetWidth(d.Width);
    p->SetPanelType(d.Type);
  }
  ExStatusBar1->OnResize = [this](TObject*) { FitStatusPanels(); };
}

void TForm1::FitStatusPanels() {
  // The first panel gives up width in a narrow window: at its full width it pushed the gauge
  // and the last panel past the window's edge (at 800 pixels, past the lock keys' right).
  widgets::TExStatusPanels* panels = ExStatusBar1->Panels();
  if (panels->Count() < 1) return;
  int32_t others = 0;
  for (int32_t i = 1; i < panels->Count(); ++i) others += panels->Items(i)->Width() + 2;
  panels->Items(0)->SetWidth(std::clamp(ExStatusBar1->ClientWidth() - others, 0, FirstStatusPanelWidth));
}

void TForm1::BuildTree() {
  HtmlTreeView1 = Make<widgets::THtmlTreeView>(this, PaneSplitter1->Pane1(), "HtmlTreeView1");
  HtmlTreeView1->SetAlign(alClient);
  HtmlTreeView1->SetWordWrap(true);
  HtmlTreeView1->SetShowSelection(true);
  HtmlTreeView1->SetSelectionColor(clSilver);
  HtmlTreeView1->SetSelectionFontColor(clMenuText);
  HtmlTreeView1->SetShadowOffset(0);
  HtmlTreeView1->SetShowFocusBorder(false);
  HtmlTreeView1->SetItemHeight(16);
  HtmlTreeView1->SetIndent(19);
  HtmlTreeView1->SetToolTips(false);
  HtmlTreeView1->SetHTMLImages(Figuren);
  HtmlTreeView1->SetStateImages(Figuren);
  LoadCatalogue(HtmlTreeView1->Items());
  HtmlTreeView1->OnChanging = [this](TObject* S, TTreeNode* N, bool& Allow) { HtmlTreeView1Changing(S, N, Allow); };
  HtmlTreeView1->OnClick = [this](TObject* S) { HtmlTreeView1Click(S); };
}

void TForm1::BuildNotebook() {
  Notebook1 = Make<TNotebook>(this, PaneSplitter1->Pane2(), "Notebook1");
  Notebook1->SetAlign(alClient);

  TNotebookPage* video = Notebook1->AddPage("Video");
  VideoPanel = Make<TPanel>(this, video, "VideoPanel");
  VideoPanel->SetAlign(alClient);
  VideoPanel->SetColor(clWhite);
  VideoPanel->SetCaption("");
  Flash1 = Make<TFlashPlayer>(this, VideoPanel, "Flash1");
  Flash1->SetAlign(alClient);

  TNotebookPage* picture = Notebook1->AddPage("Afbeelding");
  PicturePanel = Make<TPanel>(this, picture, "PicturePanel");
  PicturePanel->SetAlign(alBottom);
  PicturePanel->SetHeight(34);
  PicturePanel->SetCaption("");
  BitBtn_Sluiten_onderaan = MakeButton(this, PicturePanel, "BitBtn_Sluiten_onderaan", "Sluiten", alRight);
  BitBtn_Sluiten_onderaan->OnClick = [this](TObject* S) { BitBtn_Sluiten_onderaanClick(S); };
  BitBtn_terug_onderaan = MakeButton(this, PicturePanel, "BitBtn_terug_onderaan", "Terug", alRight);
  BitBtn_terug_onderaan->OnClick = [this](TObject* S) { BitBtn_terug_onderaanClick(S); };
  BuildPicturePage(picture);

  BuildListPage(Notebook1->AddPage("rest"));

  TNotebookPage* menu = Notebook1->AddPage("Menu");
  GroupBoxFilmpjes = Make<TPanel>(this, menu, "GroupBox1");
  GroupBoxFilmpjes->SetBevelOuter(bvLowered);
  GroupBoxFilmpjes->SetBounds(16, 16, 320, 150);
  GroupBoxFilmpjes->SetCaption("");
  TLabel* title = Make<TLabel>(this, GroupBoxFilmpjes, "LabelFilmpjes");
  title->SetBounds(8, 4, 200, 18);
  title->SetCaption("Filmpjes");
  const char* movies[4] = {"oefening1.swf", "oefening2.swf", "oefening3.swf", "download.swf"};
  for (int i = 0; i < 4; ++i) {
    const std::string n = std::to_string(i + 1);
    auto* b = Make<TBitBtn>(this, GroupBoxFilmpjes, ("SpeedButton" + n).c_str());
    b->SetBounds(8, 26 + i * 30, 26, 26);
    b->SetCaption(">");
    auto* l = Make<TLabel>(this, GroupBoxFilmpjes, ("LabelFilm" + n).c_str());
    l->SetBounds(42, 30 + i * 30, 200, 18);
    l->SetCaption(movies[i]);
  }

  TNotebookPage* drawing = Notebook1->AddPage("Tekening");
  BuildDocumentPage(drawing);
  Notebook1->SetPageIndex(4);
  Notebook1->OnPageChanged = [this](TObject* S) { Notebook1PageChanged(S); };
}

void TForm1::BuildPicturePage(TWinControl* Page) {
  BitBtnOpslaan_onderaan = MakeButton(this, PicturePanel, "BitBtnOpslaan_onderaan", "Opslaan", alRight);
  BitBtnOpslaan_onderaan->OnClick = [this](TObject* S) { BitBtnOpslaan_onderaanClick(S); };
  BitBtn_Openen_onderaan = MakeButton(this, PicturePanel, "BitBtn_Openen_onderaan", "Openen", alRight);
  BitBtn_Openen_onderaan->OnClick = [this](TObject* S) { BitBtn_Openen_onderaanClick(S); };

  PictureShow1 = Make<media::TPictureShow>(this, Page, "PictureShow1");
  PictureShow1->SetAutoSize(false);
  PictureShow1->SetAlign(alClient);
  PictureShow1->SetBgMode(media::bmCentered);
  PictureShow1->SetCenter(true);
  PictureShow1->SetDelay(5);
  PictureShow1->SetManual(true);
  PictureShow1->SetStretch(true);
  PictureShow1->SetStretchFine(true);
  PictureShow1->SetStyle(1);
  PictureShow1->SetThreadPriority(media::tpHigher);
}

void TForm1::BuildListPage(TWinControl* Page) {
  ListBox1 = Make<TListBox>(this, Page, "ListBox1");
  ListBox1->SetAlign(alClient);
  ListBox1->SetColor(clBlack);
  // No 3-D frame: the plain frame is drawn in black, on black.
  ListBox1->SetCtl3D(false);
  // Names in the default black would not show on the black box.
  ListBox1->Font()->SetColor(clWhite);
  ListBox1->SetPopupMenu(PopupMenu2);
}

void TForm1::BuildDocumentPage(TWinControl* Page) {
  ToolbarPanel = Make<TPanel>(this, Page, "ToolbarPanel");
  ToolbarPanel->SetAlign(alTop);
  ToolbarPanel->SetHeight(30);
  ToolbarPanel->SetCaption("");
  BuildGlyphs();
  struct TButtonDef {
    widgets::TToolbarButton** Field;
    const char* Name;
    const char* Hint;
    TGlyphKind Glyph;
    void (TForm1::*Handler)(TObject*);
  };
  const TButtonDef defs[] = {
      {&KL6, "KL6", "Afdrukken", gPrint, &TForm1::KL6Click},
      {&kl12, "kl12", "Pagina groter maken", gZoomIn, &TForm1::kl12Click},
      {&kl13, "kl13", "Pagina kleiner maken", gZoomOut, &TForm1::kl13Click},
      {&kl14, "kl14", "Pagina volledig weergeven", gFitPage, &TForm1::kl14Click},
      {&kl15, "kl15", "Paginabreedte aan scherm aanpassen", gPageWidth, &TForm1::kl15Click},
      {&kl18, "kl18", "Vorige pagina", gPrevious, &TForm1::kl18Click},
      {&kl19, "kl19", "Volgende pagina", gNext, &TForm1::kl19Click},
  };
  int32_t left = 4;
  for (const TButtonDef& d : defs) {
    auto* b = Make<widgets::TToolbarButton>(this, ToolbarPanel, d.Name);
    b->SetBounds(left, 3, 24, 24);
    left += 26;
    b->SetHint(d.Hint);
    b->SetShowHint(true);
    b->SetFlat(true);
    auto glyph = MakeGlyph(d.Glyph);
    b->SetGlyph(glyph.get());
    auto handler = d.Handler;
    b->OnClick = [this, handler](TObject* S) { (this->*handler)(S); };
    *d.Field = b;
  }
  // The label holds page numbers of three digits; the button follows it closely, so that both
  // fit beside the catalogue in the narrowest window (800 pixels).
  paginst = Make<TLabel>(this, ToolbarPanel, "paginst");
  paginst->SetBounds(left + 8, 6, TextWidthIn(paginst, PageLabelText(887, 888)) + 4, 18);
  BitBtn_Video = Make<TBitBtn>(this, ToolbarPanel, "BitBtn_Video");
  BitBtn_Video->SetBounds(paginst->Left() + paginst->Width() + 8, 3, 75, 24);
  BitBtn_Video->SetCaption("Video");
  BitBtn_Video->OnClick = [this](TObject* S) { BitBtn_VideoClick(S); };
  // Nothing is chosen yet: the button appears with the first exercise, as it does for every
  // item that has a movie.
  BitBtn_Video->SetVisible(CatalogueShowsVideo(ItemIndex));

  dtpComponent1 = Make<document::TdtpComponent>(this, Page, "dtpComponent1");
  dtpComponent1->SetAlign(alClient);
  dtpComponent1->SetColor(clAppWorkSpace);
  dtpComponent1->SetMode(document::vmEdit);
  dtpComponent1->SetViewStyle(document::vsNormal);
  dtpComponent1->SetRenderDPI(300);
  dtpComponent1->SetQuality(raster::sfLinear);
  dtpComponent1->SetHelperMethod(document::hmGrid);
  dtpComponent1->SetUndoPastSave(true);
  // The program only shows its content files: viewing one never writes to it.
  dtpComponent1->SetOpenReadOnly(true);
  dtpComponent1->SetDefaultPageWidth(210);
  dtpComponent1->SetDefaultPageHeight(297);
  dtpComponent1->SetDefaultMarginLeft(10);
  dtpComponent1->SetDefaultMarginTop(10);
  dtpComponent1->SetDefaultMarginRight(10);
  dtpComponent1->SetDefaultMarginBottom(10);
  dtpComponent1->SetDefaultGridSize(5);
  dtpComponent1->SetZoomPercent(100);
  if (dtpComponent1->PageCount() < 1) dtpComponent1->SetPageCount(1);
  dtpComponent1->SetCurrentPageIndex(0);
  dtpComponent1->SetPopupMenu(PopupMenu1);
}

void TForm1::BuildGlyphs() {
  for (TGlyphKind k : {gPrint, gZoomIn, gZoomOut, gFitPage, gPageWidth, gPrevious, gNext}) {
    auto glyph = MakeGlyph(k);
    ilMain->Add(glyph.get());
  }
}

void TForm1::BuildMedia() {
  // A graph or grabber that cannot be built leaves the component inactive; the form still runs.
  try {
    // The graph creates its log when it is built, at start-up. Without a cache folder that
    // can be made, or with a log that cannot be created in it, the graph runs without one.
    // The log is claimed before the graph exists, so that its lock outlasts the graph.
    std::string log = GraphLogFileName();
    std::error_code ec;
    if (!log.empty()) {
      const std::filesystem::path folder = std::filesystem::path(log).parent_path();
      std::filesystem::create_directories(folder, ec);
      log = std::filesystem::is_directory(folder, ec) ? ClaimGraphLog(this, log) : "";
    }
    FilterGraph = new media::TFilterGraph(this);
    FilterGraph->SetName("FilterGraph");
    FilterGraph->SetAutoCreate(true);
    FilterGraph->SetGraphEdit(true);
    FilterGraph->SetLinearVolume(true);
    FilterGraph->SetLogFile(log);
  } catch (const std::exception&) {
  }
  try {
    SampleGrabber = new media::TSampleGrabber(this);
    SampleGrabber->SetName("SampleGrabber");
    media::TMediaType type(MEDIATYPE_Video);
    type.SetSubType(MEDIASUBTYPE_RGB32);
    type.SetFormatType(FORMAT_VideoInfo);
    SampleGrabber->SetMediaType(&type);
    SampleGrabber->SetFilterGraph(FilterGraph);
    SampleGrabber->OnBuffer = [this](TObject* Sender, double SampleTime, void* Buffer, int32_t BufferLen) {
      SampleGrabberBuffer(Sender, SampleTime, Buffer, BufferLen);
    };
  } catch (const std::exception&) {
  }
  // Frames grabbed on the streaming thread reach the picture through this window's messages.
  FGrabWindow = AllocateHWnd([this](TMessage& Message) {
    if (Message.Msg == WM_FRAMEGRABBED) TakeGrabbedFrame();
  });
  try {
    if (FilterGraph) FilterGraph->Loaded();
  } catch (const std::exception&) {
  }
  try {
    if (SampleGrabber) SampleGrabber->Loaded();
  } catch (const std::exception&) {
  }
}

void TForm1::FormCreate(TObject* Sender) {
  (void)Sender;
  BaseFolder = ExtractFilePath(Application()->ExeName());
  PaneSplitter1->SetPosition(392);
  SetCaption("De kadrilo  -  (c) het kadrilo-team, alle rechten voorbehouden");
  ScreenWidth = Screen()->Width();
  UpdatePageLabel();
  FitStatusPanels();
}

void TForm1::UpdatePageLabel() {
  paginst->SetCaption(PageLabelText(dtpComponent1->CurrentPageIndex(), dtpComponent1->PageCount()));
}

void TForm1::StopMovie() {
  if (Flash1->Playing()) Flash1->Stop();
}

void TForm1::ShowDrawingPage() {
  Notebook1->SetActivePage("Tekening");
  if (FilterGraph) FilterGraph->Stop();
}

void TForm1::HtmlTreeView1Changing(TObject* Sender, TTreeNode* Node, bool& AllowChange) {
  (void)Sender;
  (void)AllowChange;
  ShowDrawingPage();
  StopMovie();
  if (!Node) return;
  ItemIndex = Node->AbsoluteIndex();
  if (ItemIndex >= 0 && ItemIndex < CatalogueCount) {
    const std::string file = BaseFolder + CatalogueContentFile(ItemIndex);
    if (FileExists(file)) {
      FDamagedPages.clear();
      try {
        dtpComponent1->LoadFromFile(file);
        FDrawingShown = true;
      } catch (const std::exception& e) {
        // Reported here rather than raised: an exception out of the changing handler would
        // cancel the selection change, leaving the tree stuck on the item before.
        UpdatePageLabel();
        // The button belongs to the item, not to its drawing: the movie may well be there.
        BitBtn_Video->SetVisible(CatalogueShowsVideo(ItemIndex));
        // Clearing repaints only where the old shapes were; the rest of the old page would
        // stay on screen over the cleared document.
        dtpComponent1->Invalidate();
        Application()->HandleException(this, e);
        return;
      }
    }
  }
  BitBtn_Video->SetVisible(true);
  if (!CatalogueShowsVideo(ItemIndex)) BitBtn_Video->SetVisible(false);
  UpdatePageLabel();
  dtpComponent1->ZoomPageWidth();
}

void TForm1::HtmlTreeView1Click(TObject* Sender) {
  (void)Sender;
  ShowDrawingPage();
  PaneSplitter1->SetPosition(392);
}

void TForm1::BitBtn_terug_onderaanClick(TObject* Sender) { HtmlTreeView1Click(Sender); }

void TForm1::BitBtn_VideoClick(TObject* Sender) {
  (void)Sender;
  // An item without a movie of its own empties the player rather than replaying another's.
  const std::string movie = CatalogueMovieFile(ItemIndex);
  if (!movie.empty() && FileExists(BaseFolder + movie))
    VideoFile = BaseFolder + movie;
  else
    VideoFile.clear();
  // Without a movie, or with a file that holds none, the page would show an empty player,
  // with nothing said.
  if (VideoFile.empty() || !IsFlashMovieFile(VideoFile)) {
    Flash1->SetMovie("");
    ShowMessage(VideoFile.empty()
                    ? std::string("Er is geen film om af te spelen.")
                    : "De film " + ExtractFileName(VideoFile) + " is beschadigd en kan niet worden afgespeeld.");
    return;
  }
  LastPage = "Tekening";
  Notebook1->SetActivePage("Video");
  PaneSplitter1->SetPosition(392);
  PaneSplitter1->SetPosition(VideoSplitterPosition(ScreenWidth));
  Flash1->SetMovie(VideoFile);
  Flash1->GotoFrame(1);
  Flash1->Play();
}

void TForm1::KL6Click(TObject* Sender) {
  (void)Sender;
  // A document that could not be opened leaves no page, and a page without a size prints no
  // sheet: the print dialog would end in nothing at all.
  const document::TdtpPage* page = dtpComponent1->CurrentPage();
  if (!page || !(page->DocWidth() > 0) || !(page->DocHeight() > 0)) {
    ShowMessage("Er is geen pagina om af te drukken.");
    return;
  }
  // Before any drawing is shown the view holds only the form's blank sheet.
  if (!FDrawingShown) {
    ShowMessage("Er is nog geen tekening om af te drukken.");
    return;
  }
  // A page that could not be read would print as an empty or partial sheet, passing for the
  // whole page on paper.
  if (FDamagedPages.count(page)) {
    ShowMessage("Deze pagina kon niet worden gelezen en wordt niet afgedrukt.");
    return;
  }
  if (!PrintDialog1->Execute()) return;
  dtpComponent1->SetPrintQuality(document::pqMedium);
  dtpComponent1->PrintPage(dtpComponent1->CurrentPageIndex());
}

void TForm1::kl12Click(TObject* Sender) {
  (void)Sender;
  dtpComponent1->ZoomIn();
}

void TForm1::kl13Click(TObject* Sender) {
  (void)Sender;
  dtpComponent1->ZoomOut();
}

void TForm1::kl14Click(TObject* Sender) {
  (void)Sender;
  dtpComponent1->ZoomFitPage();
}

void TForm1::kl15Click(TObject* Sender) {
  (void)Sender;
  dtpComponent1->ZoomPageWidth();
}

void TForm1::TurnToPage(int32_t Index) {
  document::TdtpPage* page = dtpComponent1->GetPage(Index);
  try {
    dtpComponent1->SetCurrentPageIndex(Index);
  } catch (const std::exception& e) {
    if (!page) throw;
    // A page whose stored text cannot be read is shown with what could be read: refusing to
    // turn to it would keep the user from every page behind it.
    FDamagedPages[page] = e.what();
    page->SetLoaded(true);
    dtpComponent1->SetCurrentPageIndex(Index);
  }
  UpdatePageLabel();
  // Reported each time it is reached, not only on the first read, so it never passes for an
  // empty page.
  const auto damaged = FDamagedPages.find(page);
  if (damaged != FDamagedPages.end()) Application()->HandleException(this, Exception(damaged->second));
}

void TForm1::kl18Click(TObject* Sender) {
  (void)Sender;
  if (dtpComponent1->CurrentPageIndex() > 0)
    TurnToPage(dtpComponent1->CurrentPageIndex() - 1);
  else
    UpdatePageLabel();
}

void TForm1::kl19Click(TObject* Sender) {
  (void)Sender;
  if (dtpComponent1->PageCount() - 1 > dtpComponent1->CurrentPageIndex())
    TurnToPage(dtpComponent1->CurrentPageIndex() + 1);
  else
    UpdatePageLabel();
}

void TForm1::Label16Click(TObject* Sender) {
  (void)Sender;
  if (OpenWebAddress) OpenWebAddress(MakerWebAddress);
}

void TForm1::BitBtn_Sluiten_onderaanClick(TObject* Sender) {
  (void)Sender;
  Close();
}

void TForm1::Exit2Click(TObject* Sender) {
  (void)Sender;
  Close();
}

void TForm1::Notebook1PageChanged(TObject* Sender) {
  (void)Sender;
  // Leaving the movie page stops the movie.
  if (Notebook1->ActivePage() != "Video") StopMovie();
  LastPage = Notebook1->ActivePage();
}

void TForm1::BitBtn_Openen_onderaanClick(TObject* Sender) {
  (void)Sender;
  if (!OpenDialog1->Execute()) return;
  ShowMessage(OpenDialog1->FileName());
  // A file the picture cannot read raises, and the picture keeps what it held.
  PictureShow1->BgPicture()->LoadFromFile(OpenDialog1->FileName());
}

void TForm1::BitBtnOpslaan_onderaanClick(TObject* Sender) {
  (void)Sender;
  // An empty picture would write nothing, with nothing said.
  const TGraphic* picture = PictureShow1->BgPicture()->Graphic();
  if (!picture || picture->Empty()) {
    ShowMessage("Er is geen afbeelding om op te slaan.");
    return;
  }
  if (!SaveDialog1->Execute()) return;
  // Written in the format the name's extension says, so that "Openen" reads it back; a name
  // of a format that cannot be written raises and writes nothing.
  PictureShow1->BgPicture()->SaveToFile(SaveDialog1->FileName());
}

void TForm1::PopupMenu2Popup(TObject* Sender) {
  (void)Sender;
  Remove1->SetEnabled(ListBox1->ItemIndex() >= 0);
  Clear1->SetEnabled(ListBox1->Count() > 0);
}

void TForm1::Add1Click(TObject* Sender) {
  (void)Sender;
  if (!OpenDialog1->Execute()) return;
  const std::vector<std::string>& files = OpenDialog1->Files();
  for (auto it = files.rbegin(); it != files.rend(); ++it) {
    auto rec = std::make_unique<TListFileRec>();
    rec->Name = ExtractFileName(*it);
    rec->Path = ExtractFilePath(*it);
    LastListFileRec = rec.get();
    ListBox1->Items().push_back(rec->Name);
    FListFileRecs.push_back(std::move(rec));
  }
  ListBox1->Invalidate();
}

TListFileRec* TForm1::ListItemObject(int32_t Index) const {
  if (Index < 0 || size_t(Index) >= FListFileRecs.size()) return nullptr;
  return FListFileRecs[size_t(Index)].get();
}

void TForm1::SampleGrabberBuffer(TObject* Sender, double SampleTime, void* Buffer, int32_t BufferLen) {
  (void)Sender;
  (void)SampleTime;
  if (GrabPending.load() != 1) return;
  // Widgets belong to the GUI thread: the frame is decoded here and handed over.
  auto frame = std::make_unique<TBitmap>();
  const bool copied = SampleGrabber && SampleGrabber->GetBitmapFromBuffer(frame.get(), Buffer, BufferLen);
  if (copied) {
    std::lock_guard<std::mutex> lock(FGrabLock);
    FGrabbedFrame = std::move(frame);
  }
  GrabPending = 0;
  if (copied) PostMessage(FGrabWindow, WM_FRAMEGRABBED, 0, 0);
}

bool TForm1::TakeGrabbedFrame() {
  std::unique_ptr<TBitmap> frame;
  {
    std::lock_guard<std::mutex> lock(FGrabLock);
    frame = std::move(FGrabbedFrame);
  }
  if (!frame) return false;
  ShowGrabbedFrame(frame.get());
  return true;
}

void TForm1::ShowGrabbedFrame(const TBitmap* Frame) {
  TBitmap* target = PictureShow1->BgPicture()->Bitmap();
  TCanvas* canvas = target->Canvas();
  canvas->Lock();
  try {
    target->Assign(Frame);
  } catch (...) {
    canvas->Unlock();
    throw;
  }
  canvas->Unlock();
}

void TForm1::Button1Click(TObject* Sender) {
  (void)Sender;
  GrabPending = 1;
  // The frame goes into a bitmap of its own first: asking the picture for its bitmap would
  // replace a picture of another kind (PNG, JPEG) with an empty bitmap when no frame is there.
  TBitmap frame;
  if (SampleGrabber && SampleGrabber->GetBitmap(&frame)) ShowGrabbedFrame(&frame);
  Notebook1->SetActivePage("Afbeelding");
  LastPage = "Video";
}

}  // namespace app
