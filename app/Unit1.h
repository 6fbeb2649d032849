// The main form: the catalogue tree on the left, on the right a notebook whose "Tekening" page
// shows the chosen item's drawing with its toolbar (print, zoom, page through), whose "Video"
// page plays the item's movie, whose "Afbeelding" page opens, saves and grabs a picture and
// whose "rest" page collects file names; a status bar with the lock keys runs along the bottom.
// The form is built in code with the properties the program relies on; handlers keep their
// class-library names.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/AppControls.h"
#include "document/dtpDocument.h"
#include "media/DSComponents.h"
#include "media/PictureShow.h"
#include "platform/DirectShow.h"
#include "platform/Dialogs.h"
#include "platform/FlashPlayer.h"
#include "platform/Forms.h"
#include "platform/ImgList.h"
#include "platform/Menus.h"
#include "platform/StdCtrls.h"
#include "widgets/ExStatusBar.h"
#include "widgets/HtmlTreeView.h"
#include "widgets/PaneSplitter.h"
#include "widgets/ToolbarButtons.h"

namespace app {

// The splitter position the "Video" button sets for a screen width: the movie page is laid out
// for the common widths; any other keeps the catalogue at 392 pixels.
int32_t VideoSplitterPosition(int32_t ScreenWidth);

// "Pagina n  Van  m".
std::string PageLabelText(int32_t CurrentPageIndex, int32_t PageCount);

// The filter graph's log: "kadrilo/dxlog.txt" in the user's cache folder ($XDG_CACHE_HOME, or
// ~/.cache when that is unset or not an absolute path); "" when neither can be found. A copy
// started while others run and hold that log writes the first free of "dxlog-2.txt",
// "dxlog-3.txt", ... beside it.
std::string GraphLogFileName();

// The maker's web address that the credit label opens.
extern const char* const MakerWebAddress;

// A file collected on the list page: its name (the item text) and its folder.
struct TListFileRec {
  std::string Name;
  std::string Path;
};

// The message the grab handler posts to the GUI thread when a grabbed frame waits.
constexpr uint32_t WM_FRAMEGRABBED = 0x0400 + 2;

class TForm1 : public platform::TForm {
 public:
  // The status bar's first panel at its full width.
  static constexpr int32_t FirstStatusPanelWidth = 635;

  explicit TForm1(platform::TComponent* AOwner);
  ~TForm1() override;
  std::string ClassName() const override { return "TForm1"; }

  // Handlers.
  void FormCreate(platform::TObject* Sender);
  void HtmlTreeView1Changing(platform::TObject* Sender, platform::TTreeNode* Node, bool& AllowChange);
  void HtmlTreeView1Click(platform::TObject* Sender);
  void BitBtn_terug_onderaanClick(platform::TObject* Sender);
  void BitBtn_VideoClick(platform::TObject* Sender);
  void KL6Click(platform::TObject* Sender);
  void kl12Click(platform::TObject* Sender);
  void kl13Click(platform::TObject* Sender);
  void kl14Click(platform::TObject* Sender);
  void kl15Click(platform::TObject* Sender);
  void kl18Click(platform::TObject* Sender);
  void kl19Click(platform::TObject* Sender);
  void Label16Click(platform::TObject* Sender);
  void BitBtn_Sluiten_onderaanClick(platform::TObject* Sender);
  void Exit2Click(platform::TObject* Sender);
  void Notebook1PageChanged(platform::TObject* Sender);
  void BitBtn_Openen_onderaanClick(platform::TObject* Sender);
  void BitBtnOpslaan_onderaanClick(platform::TObject* Sender);
  void PopupMenu2Popup(platform::TObject* Sender);
  void Add1Click(platform::TObject* Sender);
  // Runs on the grabber's streaming thread.
  void SampleGrabberBuffer(platform::TObject* Sender, double SampleTime, void* Buffer, int32_t BufferLen);
  void Button1Click(platform::TObject* Sender);

  // The record attached to ListBox1's item Index (nullptr outside the list).
  TListFileRec* ListItemObject(int32_t Index) const;
  // Puts a frame handed over by the grab handler into the picture (GUI thread); false when
  // none was waiting.
  bool TakeGrabbedFrame();

  // State.
  std::string BaseFolder;
  int32_t ItemIndex = 0;
  std::string VideoFile;
  std::string LastPage;
  // The screen width taken when the form was created (tests set it to try other screens).
  int32_t ScreenWidth = 0;
  // Opens a web address; the default hands it to the desktop.
  std::function<void(const std::string&)> OpenWebAddress;
  // 1 while a video frame grab is requested (written by the GUI and the streaming thread).
  std::atomic<uint8_t> GrabPending{0};
  // The last record Add1Click created.
  TListFileRec* LastListFileRec = nullptr;

  // Components, in creation order.
  widgets::TPaneSplitter* PaneSplitter1 = nullptr;
  widgets::THtmlTreeView* HtmlTreeView1 = nullptr;
  TNotebook* Notebook1 = nullptr;
  platform::TPanel* VideoPanel = nullptr;
  platform::TFlashPlayer* Flash1 = nullptr;
  platform::TPanel* PicturePanel = nullptr;
  TBitBtn* BitBtn_Sluiten_onderaan = nullptr;
  TBitBtn* BitBtn_terug_onderaan = nullptr;
  TBitBtn* BitBtnOpslaan_onderaan = nullptr;
  TBitBtn* BitBtn_Openen_onderaan = nullptr;
  media::TPictureShow* PictureShow1 = nullptr;
  platform::TListBox* ListBox1 = nullptr;
  platform::TPanel* GroupBoxFilmpjes = nullptr;
  platform::TPanel* ToolbarPanel = nullptr;
  widgets::TToolbarButton* KL6 = nullptr;
  widgets::TToolbarButton* kl12 = nullptr;
  widgets::TToolbarButton* kl13 = nullptr;
  widgets::TToolbarButton* kl14 = nullptr;
  widgets::TToolbarButton* kl15 = nullptr;
  widgets::TToolbarButton* kl18 = nullptr;
  widgets::TToolbarButton* kl19 = nullptr;
  TLabel* paginst = nullptr;
  TBitBtn* BitBtn_Video = nullptr;
  document::TdtpComponent* dtpComponent1 = nullptr;
  platform::TPanel* TopPanel = nullptr;
  TLabel* LabelMaker = nullptr;
  TLabel* LabelDesigner = nullptr;
  TLabel* Label16 = nullptr;
  TBitBtn* BitBtn_Afsluiten = nullptr;
  TBitBtn* BitBtn_terug_boven = nullptr;
  platform::TPrintDialog* PrintDialog1 = nullptr;
  platform::TPopupMenu* PopupMenu1 = nullptr;
  platform::TMenuItem* ColorControl1 = nullptr;
  platform::TMenuItem* Exit2 = nullptr;
  platform::TPopupMenu* PopupMenu2 = nullptr;
  platform::TMenuItem* Add1 = nullptr;
  platform::TMenuItem* Remove1 = nullptr;
  platform::TMenuItem* Clear1 = nullptr;
  platform::TOpenDialog* OpenDialog1 = nullptr;
  platform::TSaveDialog* SaveDialog1 = nullptr;
  platform::TOpenDialog* OpenDialog2 = nullptr;
  widgets::TExStatusBar* ExStatusBar1 = nullptr;
  media::TFilterGraph* FilterGraph = nullptr;
  media::TSampleGrabber* SampleGrabber = nullptr;
  platform::TImageList* ImageList1 = nullptr;
  platform::TImageList* ImageList2 = nullptr;
  platform::TImageList* ilMain = nullptr;
  platform::TImageList* Figuren = nullptr;

 private:
  void BuildTree();
  void BuildNotebook();
  void BuildDocumentPage(platform::TWinControl* Page);
  void BuildTopPanel();
  void BuildMenus();
  void BuildMedia();
  void BuildPicturePage(platform::TWinControl* Page);
  void BuildListPage(platform::TWinControl* Page);
  void BuildStatusBar();
  void BuildGlyphs();
  void UpdatePageLabel();
  // Narrows the status bar's first panel so that the panels after it fit in the bar.
  void FitStatusPanels();
  // Turns the document to page Index, rewrites the label and reports a damaged page.
  void TurnToPage(int32_t Index);
  void StopMovie();
  void ShowDrawingPage();
  // Puts a grabbed frame into the picture's bitmap under its canvas lock.
  void ShowGrabbedFrame(const platform::TBitmap* Frame);

  // True once a content file has been shown; before that the view holds the form's blank sheet.
  bool FDrawingShown = false;
  // Pages of the loaded document whose stored text could not be read, with the error.
  std::map<const document::TdtpPage*, std::string> FDamagedPages;
  std::vector<std::unique_ptr<TListFileRec>> FListFileRecs;  // parallel to ListBox1's items
  // A frame decoded on the streaming thread, waiting for the GUI thread.
  std::mutex FGrabLock;
  std::unique_ptr<platform::TBitmap> FGrabbedFrame;
  platform::HWND FGrabWindow = nullptr;
};

extern TForm1* Form1;

}  // namespace app
