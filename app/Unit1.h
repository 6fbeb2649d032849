// The main form: the catalogue tree on the left, on the right a notebook whose "Tekening" page
// shows the chosen item's drawing with its toolbar (print, zoom, page through), and whose
// "Video" page plays the item's movie. The form is built in code with the properties the
// program relies on; handlers keep their class-library names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/AppControls.h"
#include "document/dtpDocument.h"
#include "media/DSComponents.h"
#include "platform/Dialogs.h"
#include "platform/FlashPlayer.h"
#include "platform/Forms.h"
#include "platform/ImgList.h"
#include "platform/Menus.h"
#include "widgets/HtmlTreeView.h"
#include "widgets/PaneSplitter.h"
#include "widgets/ToolbarButtons.h"

namespace app {

// The splitter position the "Video" button sets for a screen width: the movie page is laid out
// for the common widths; any other keeps the catalogue at 392 pixels.
int32_t VideoSplitterPosition(int32_t ScreenWidth);

// "Pagina n  Van  m".
std::string PageLabelText(int32_t CurrentPageIndex, int32_t PageCount);

// The maker's web address that the credit label opens.
extern const char* const MakerWebAddress;

class TForm1 : public platform::TForm {
 public:
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

  // State.
  std::string BaseFolder;
  int32_t ItemIndex = 0;
  std::string VideoFile;
  std::string LastPage;
  // The screen width taken when the form was created (tests set it to try other screens).
  int32_t ScreenWidth = 0;
  // Opens a web address; the default hands it to the desktop.
  std::function<void(const std::string&)> OpenWebAddress;

  // Components, in creation order.
  widgets::TPaneSplitter* PaneSplitter1 = nullptr;
  widgets::THtmlTreeView* HtmlTreeView1 = nullptr;
  TNotebook* Notebook1 = nullptr;
  platform::TPanel* VideoPanel = nullptr;
  platform::TFlashPlayer* Flash1 = nullptr;
  platform::TPanel* PicturePanel = nullptr;
  TBitBtn* BitBtn_Sluiten_onderaan = nullptr;
  TBitBtn* BitBtn_terug_onderaan = nullptr;
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
  void BuildGlyphs();
  void UpdatePageLabel();
  void StopMovie();
  void ShowDrawingPage();
};

extern TForm1* Form1;

}  // namespace app
