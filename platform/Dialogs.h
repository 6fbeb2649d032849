// Message boxes and the common dialogs (open, save, print, folder). Every dialog goes through
// a replaceable handler so tests and headless runs never block: without a handler a dialog is
// shown only on a real display; otherwise a message is written to stderr and answered with its
// default button, and the file, print and folder dialogs answer "cancelled".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Component.h"
#include "platform/Forms.h"

namespace platform {

constexpr TModalResult mrAll = 8;
constexpr TModalResult mrNoToAll = 9;
constexpr TModalResult mrYesToAll = 10;

enum TMsgDlgType : uint8_t { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : uint8_t { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };

// A set of buttons.
class TMsgDlgButtons {
 public:
  constexpr TMsgDlgButtons() = default;
  constexpr TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> b) {
    for (TMsgDlgBtn x : b) FBits |= 1u << x;
  }
  constexpr bool Contains(TMsgDlgBtn b) const { return (FBits >> b) & 1u; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint32_t Bits() const { return FBits; }

 private:
  uint32_t FBits = 0;
};

inline constexpr TMsgDlgButtons mbYesNoCancel{mbYes, mbNo, mbCancel};
inline constexpr TMsgDlgButtons mbOKCancel{mbOK, mbCancel};
inline constexpr TMsgDlgButtons mbAbortRetryIgnore{mbAbort, mbRetry, mbIgnore};

// The modal result of a button (mbHelp gives mrNone).
TModalResult ModalResultOf(TMsgDlgBtn Button);
// The default button of a set: OK, else Yes, else Retry, else the first button of the set
// (OK for none).
TMsgDlgBtn DefaultButtonOf(TMsgDlgButtons Buttons);
// "Warning", "Error", "Information", "Confirm"; mtCustom gives the application's name.
std::string DialogCaption(TMsgDlgType DlgType);

struct TMessageRequest {
  std::string Caption;
  std::string Text;
  TMsgDlgType DlgType = mtCustom;
  TMsgDlgButtons Buttons;
  TMsgDlgBtn DefaultButton = mbOK;
};
using TMessageHandler = std::function<TModalResult(const TMessageRequest& Request)>;
// Installs a handler for every message box (an empty one restores the default); returns the
// handler it replaces.
TMessageHandler SetMessageHandler(TMessageHandler Handler);

// True when dialogs can really be shown (a GUI application on a platform other than
// "offscreen" or "minimal").
bool HasRealDisplay();

void ShowMessage(const std::string& Msg);
// Hands a web address to the desktop's browser; false when none could be started.
bool OpenUrlInBrowser(const std::string& Url);
TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons,
                        int32_t HelpCtx);

// The platform's MessageBox with its MB_ flags; returns an ID* value.
constexpr uint32_t MB_OK = 0x0000;
constexpr uint32_t MB_OKCANCEL = 0x0001;
constexpr uint32_t MB_ABORTRETRYIGNORE = 0x0002;
constexpr uint32_t MB_YESNOCANCEL = 0x0003;
constexpr uint32_t MB_YESNO = 0x0004;
constexpr uint32_t MB_RETRYCANCEL = 0x0005;
constexpr uint32_t MB_ICONHAND = 0x0010;
constexpr uint32_t MB_ICONERROR = MB_ICONHAND;
constexpr uint32_t MB_ICONQUESTION = 0x0020;
constexpr uint32_t MB_ICONEXCLAMATION = 0x0030;
constexpr uint32_t MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr uint32_t MB_ICONASTERISK = 0x0040;
constexpr uint32_t MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr uint32_t MB_DEFBUTTON2 = 0x0100;
constexpr uint32_t MB_DEFBUTTON3 = 0x0200;
constexpr int32_t IDOK = 1;
constexpr int32_t IDCANCEL = 2;
constexpr int32_t IDABORT = 3;
constexpr int32_t IDRETRY = 4;
constexpr int32_t IDIGNORE = 5;
constexpr int32_t IDYES = 6;
constexpr int32_t IDNO = 7;
int32_t MessageBox(const std::string& Text, const std::string& Caption, uint32_t Flags);

// Open-dialog options.
enum TOpenOption : uint8_t {
  ofReadOnly, ofOverwritePrompt, ofHideReadOnly, ofNoChangeDir, ofShowHelp, ofNoValidate,
  ofAllowMultiSelect, ofExtensionDifferent, ofPathMustExist, ofFileMustExist, ofCreatePrompt,
  ofShareAware, ofNoReadOnlyReturn, ofNoTestFileCreate, ofEnableSizing
};
class TOpenOptions {
 public:
  constexpr TOpenOptions() = default;
  constexpr TOpenOptions(std::initializer_list<TOpenOption> o) {
    for (TOpenOption x : o) FBits |= 1u << x;
  }
  constexpr bool Contains(TOpenOption o) const { return (FBits >> o) & 1u; }
  constexpr void Include(TOpenOption o) { FBits |= 1u << o; }
  constexpr void Exclude(TOpenOption o) { FBits &= ~(1u << o); }

 private:
  uint32_t FBits = 0;
};

// "Bitmaps (*.bmp)|*.bmp|All|*.*" as (description, masks) pairs; a trailing description
// without masks is dropped.
std::vector<std::pair<std::string, std::string>> ParseFilter(const std::string& Filter);

class TOpenDialog;
// Answers a file dialog: fills Chosen and returns true, or returns false for "cancelled".
using TFileDialogHandler = std::function<bool(TOpenDialog& Dialog, bool Save, std::vector<std::string>& Chosen)>;
TFileDialogHandler SetFileDialogHandler(TFileDialogHandler Handler);

class TOpenDialog : public TComponent {
 public:
  explicit TOpenDialog(TComponent* AOwner);
  std::string ClassName() const override { return "TOpenDialog"; }

  // True when files were chosen: FileName is the first, Files all of them (one unless
  // ofAllowMultiSelect). A name without extension that names no existing file gets DefaultExt
  // ("bmp", ".bmp" and "*.bmp" all add ".bmp"); the save dialog adds it to every name without
  // extension.
  virtual bool Execute();

  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& Value) { FFileName = Value; }
  const std::vector<std::string>& Files() const { return FFiles; }
  const std::string& Filter() const { return FFilter; }
  void SetFilter(const std::string& Value) { FFilter = Value; }
  // 1-based, as in the class library.
  int32_t FilterIndex() const { return FFilterIndex; }
  void SetFilterIndex(int32_t Value) { FFilterIndex = Value; }
  const std::string& DefaultExt() const { return FDefaultExt; }
  void SetDefaultExt(const std::string& Value) { FDefaultExt = Value; }
  const std::string& InitialDir() const { return FInitialDir; }
  void SetInitialDir(const std::string& Value) { FInitialDir = Value; }
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& Value) { FTitle = Value; }
  TOpenOptions Options() const { return FOptions; }
  void SetOptions(TOpenOptions Value) { FOptions = Value; }

 protected:
  bool DoExecute(bool Save);

 private:
  std::string FFileName, FFilter, FDefaultExt, FInitialDir, FTitle;
  std::vector<std::string> FFiles;
  int32_t FFilterIndex = 1;
  TOpenOptions FOptions{ofHideReadOnly, ofEnableSizing};
};

class TSaveDialog : public TOpenDialog {
 public:
  explicit TSaveDialog(TComponent* AOwner) : TOpenDialog(AOwner) {}
  std::string ClassName() const override { return "TSaveDialog"; }
  bool Execute() override;
};

class TPrintDialog;
using TPrintDialogHandler = std::function<bool(TPrintDialog& Dialog)>;
TPrintDialogHandler SetPrintDialogHandler(TPrintDialogHandler Handler);

// Lets the user choose and set up the application's printer (Printer()).
class TPrintDialog : public TComponent {
 public:
  explicit TPrintDialog(TComponent* AOwner) : TComponent(AOwner) {}
  std::string ClassName() const override { return "TPrintDialog"; }
  bool Execute();
};

// The folder chooser: on success Directory becomes the chosen folder.
using TFolderDialogHandler = std::function<bool(const std::string& Caption, std::string& Directory)>;
TFolderDialogHandler SetFolderDialogHandler(TFolderDialogHandler Handler);
bool SelectDirectory(const std::string& Caption, const std::string& Root, std::string& Directory);

// The folder chooser opened over an anchor (a screen rectangle): its top-left corner goes to the
// anchor's, moved left by its overflow when it would cross the screen's right edge and above the
// anchor when it would cross the bottom. A folder-dialog handler (above) still answers for it;
// a placed handler also learns where the dialog would go.
using TPlacedFolderDialogHandler =
    std::function<bool(const std::string& Caption, std::string& Directory, const TRect& Bounds)>;
TPlacedFolderDialogHandler SetPlacedFolderDialogHandler(TPlacedFolderDialogHandler Handler);
bool SelectDirectoryAt(const std::string& Caption, const std::string& Root, std::string& Directory,
                       const TRect& Anchor);
// Where a dialog of Width x Height opens over Anchor on a screen whose usable area is Screen:
// moved left by its overflow at the right edge, above the anchor when it would cross the bottom
// (as low as it fits whole when it fits neither way), never off the left or top edge.
TRect FolderDialogBounds(const TRect& Anchor, int32_t Width, int32_t Height, const TRect& Screen);
// The size SelectDirectoryAt gives the folder chooser.
constexpr int32_t FolderDialogWidth = 520;
constexpr int32_t FolderDialogHeight = 400;

}  // namespace platform
