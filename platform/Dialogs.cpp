#include "platform/Dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <cstdio>

#include "platform/Forms.h"
#include "platform/Printers.h"
#include "platform/SysUtils.h"

namespace platform {

namespace {

TMessageHandler& MessageHandler() {
  static TMessageHandler h;
  return h;
}
TFileDialogHandler& FileHandler() {
  static TFileDialogHandler h;
  return h;
}
TPrintDialogHandler& PrintHandler() {
  static TPrintDialogHandler h;
  return h;
}
TFolderDialogHandler& FolderHandler() {
  static TFolderDialogHandler h;
  return h;
}
TPlacedFolderDialogHandler& PlacedFolderHandler() {
  static TPlacedFolderDialogHandler h;
  return h;
}

QMessageBox::StandardButton QtButton(TMsgDlgBtn b) {
  switch (b) {
    case mbYes: return QMessageBox::Yes;
    case mbNo: return QMessageBox::No;
    case mbOK: return QMessageBox::Ok;
    case mbCancel: return QMessageBox::Cancel;
    case mbAbort: return QMessageBox::Abort;
    case mbRetry: return QMessageBox::Retry;
    case mbIgnore: return QMessageBox::Ignore;
    case mbAll: return QMessageBox::YesToAll;
    case mbNoToAll: return QMessageBox::NoToAll;
    case mbYesToAll: return QMessageBox::YesToAll;
    case mbHelp: return QMessageBox::Help;
  }
  return QMessageBox::Ok;
}

TModalResult ShowMessageRequest(const TMessageRequest& r) {
  if (MessageHandler()) return MessageHandler()(r);
  if (!HasRealDisplay()) {
    std::fprintf(stderr, "%s: %s\n", r.Caption.c_str(), r.Text.c_str());
    return ModalResultOf(r.DefaultButton);
  }
  QMessageBox box;
  box.setWindowTitle(QString::fromStdString(r.Caption));
  box.setText(QString::fromStdString(r.Text));
  switch (r.DlgType) {
    case mtWarning: box.setIcon(QMessageBox::Warning); break;
    case mtError: box.setIcon(QMessageBox::Critical); break;
    case mtInformation: box.setIcon(QMessageBox::Information); break;
    case mtConfirmation: box.setIcon(QMessageBox::Question); break;
    case mtCustom: break;
  }
  std::vector<std::pair<QPushButton*, TMsgDlgBtn>> buttons;
  for (int b = mbYes; b <= mbHelp; ++b) {
    auto btn = static_cast<TMsgDlgBtn>(b);
    if (!r.Buttons.Contains(btn)) continue;
    QPushButton* q = box.addButton(QtButton(btn));
    if (btn == mbAll) q->setText("All");
    buttons.emplace_back(q, btn);
    if (btn == r.DefaultButton) box.setDefaultButton(q);
  }
  box.exec();
  for (auto& [q, btn] : buttons)
    if (box.clickedButton() == q) return ModalResultOf(btn);
  return r.Buttons.Contains(mbCancel) ? mrCancel : ModalResultOf(r.DefaultButton);
}

}  // namespace

TModalResult ModalResultOf(TMsgDlgBtn Button) {
  switch (Button) {
    case mbYes: return mrYes;
    case mbNo: return mrNo;
    case mbOK: return mrOk;
    case mbCancel: return mrCancel;
    case mbAbort: return mrAbort;
    case mbRetry: return mrRetry;
    case mbIgnore: return mrIgnore;
    case mbAll: return mrAll;
    case mbNoToAll: return mrNoToAll;
    case mbYesToAll: return mrYesToAll;
    case mbHelp: return mrNone;
  }
  return mrNone;
}

TMsgDlgBtn DefaultButtonOf(TMsgDlgButtons Buttons) {
  if (Buttons.Contains(mbOK)) return mbOK;
  if (Buttons.Contains(mbYes)) return mbYes;
  if (Buttons.Contains(mbRetry)) return mbRetry;
  for (int b = mbYes; b <= mbHelp; ++b)
    if (Buttons.Contains(static_cast<TMsgDlgBtn>(b))) return static_cast<TMsgDlgBtn>(b);
  return mbOK;
}

std::string DialogCaption(TMsgDlgType DlgType) {
  switch (DlgType) {
    case mtWarning: return "Warning";
    case mtError: return "Error";
    case mtInformation: return "Information";
    case mtConfirmation: return "Confirm";
    case mtCustom: break;
  }
  const std::string title = ApplicationTitle();
  return !title.empty() ? title : QGuiApplication::applicationDisplayName().toStdString();
}

TMessageHandler SetMessageHandler(TMessageHandler Handler) {
  TMessageHandler old = std::move(MessageHandler());
  MessageHandler() = std::move(Handler);
  return old;
}

bool HasRealDisplay() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  QString p = QGuiApplication::platformName();
  return p != "offscreen" && p != "minimal" && p != "minimalegl";
}

void ShowMessage(const std::string& Msg) {
  TMessageRequest r;
  r.Caption = DialogCaption(mtCustom);
  r.Text = Msg;
  r.DlgType = mtCustom;
  r.Buttons = {mbOK};
  r.DefaultButton = mbOK;
  ShowMessageRequest(r);
}

TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int32_t) {
  TMessageRequest r;
  r.Caption = DialogCaption(DlgType);
  r.Text = Msg;
  r.DlgType = DlgType;
  r.Buttons = Buttons;
  r.DefaultButton = DefaultButtonOf(Buttons);
  return ShowMessageRequest(r);
}

int32_t MessageBox(const std::string& Text, const std::string& Caption, uint32_t Flags) {
  static const std::vector<TMsgDlgBtn> kSets[] = {
      {mbOK}, {mbOK, mbCancel}, {mbAbort, mbRetry, mbIgnore},
      {mbYes, mbNo, mbCancel}, {mbYes, mbNo}, {mbRetry, mbCancel}};
  uint32_t kind = Flags & 0x0F;
  const std::vector<TMsgDlgBtn>& set = kSets[kind < 6 ? kind : 0];
  TMessageRequest r;
  r.Caption = Caption;
  r.Text = Text;
  switch (Flags & 0xF0) {
    case MB_ICONHAND: r.DlgType = mtError; break;
    case MB_ICONQUESTION: r.DlgType = mtConfirmation; break;
    case MB_ICONEXCLAMATION: r.DlgType = mtWarning; break;
    case MB_ICONASTERISK: r.DlgType = mtInformation; break;
    default: r.DlgType = mtCustom; break;
  }
  // Buttons in the order the flags name them; the default is the first unless MB_DEFBUTTONn.
  TMsgDlgButtons buttons;
  switch (set.size()) {
    case 1: buttons = {set[0]}; break;
    case 2: buttons = {set[0], set[1]}; break;
    default: buttons = {set[0], set[1], set[2]}; break;
  }
  r.Buttons = buttons;
  size_t def = (Flags & MB_DEFBUTTON3) ? 2 : (Flags & MB_DEFBUTTON2) ? 1 : 0;
  r.DefaultButton = set[std::min(def, set.size() - 1)];
  // The ID* values equal the modal results for these buttons.
  return ShowMessageRequest(r);
}

// --- file dialogs ------------------------------------------------------------------------

std::vector<std::pair<std::string, std::string>> ParseFilter(const std::string& Filter) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= Filter.size()) {
    size_t bar = Filter.find('|', start);
    if (bar == std::string::npos) bar = Filter.size();
    parts.push_back(Filter.substr(start, bar - start));
    start = bar + 1;
  }
  std::vector<std::pair<std::string, std::string>> out;
  if (Filter.empty()) return out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) out.emplace_back(parts[i], parts[i + 1]);
  return out;
}

TFileDialogHandler SetFileDialogHandler(TFileDialogHandler Handler) {
  TFileDialogHandler old = std::move(FileHandler());
  FileHandler() = std::move(Handler);
  return old;
}

TOpenDialog::TOpenDialog(TComponent* AOwner) : TComponent(AOwner) {}

bool TOpenDialog::Execute() { return DoExecute(false); }
bool TSaveDialog::Execute() { return DoExecute(true); }

bool TOpenDialog::DoExecute(bool Save) {
  std::vector<std::string> chosen;
  if (FileHandler()) {
    if (!FileHandler()(*this, Save, chosen)) return false;
  } else {
    if (!HasRealDisplay()) return false;
    QStringList filters;
    for (auto& [desc, masks] : ParseFilter(FFilter)) {
      QString m = QString::fromStdString(masks);
      m.replace(';', ' ');
      filters << QString::fromStdString(desc) + " (" + m + ")";
    }
    QFileDialog dlg(nullptr, QString::fromStdString(FTitle), QString::fromStdString(FInitialDir));
    dlg.setNameFilters(filters);
    if (FFilterIndex >= 1 && FFilterIndex <= filters.size()) dlg.selectNameFilter(filters[FFilterIndex - 1]);
    if (!FFileName.empty()) dlg.selectFile(QString::fromStdString(FFileName));
    dlg.setAcceptMode(Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (Save) dlg.setFileMode(QFileDialog::AnyFile);
    else if (FOptions.Contains(ofAllowMultiSelect)) dlg.setFileMode(QFileDialog::ExistingFiles);
    else dlg.setFileMode(QFileDialog::ExistingFile);
    if (!Save || !FOptions.Contains(ofOverwritePrompt)) dlg.setOption(QFileDialog::DontConfirmOverwrite);
    if (!dlg.exec()) return false;
    for (const QString& f : dlg.selectedFiles()) chosen.push_back(f.toStdString());
    int idx = static_cast<int>(filters.indexOf(dlg.selectedNameFilter()));
    if (idx >= 0) FFilterIndex = idx + 1;
  }
  if (chosen.empty()) return false;
  if (!FOptions.Contains(ofAllowMultiSelect) || Save) chosen.resize(1);
  // A default extension written as "*.bmp" or ".bmp" means "bmp". A name saved to gets it
  // whenever it has no extension; an opened file is the one chosen, and only a name typed
  // without extension that names no file gets it.
  std::string ext = FDefaultExt;
  ext.erase(0, ext.find_first_not_of("*."));
  for (std::string& f : chosen)
    if (!ext.empty() && ExtractFileExt(f).empty() && (Save || !FileExists(f))) f += "." + ext;
  FFiles = chosen;
  FFileName = chosen.front();
  return true;
}

// --- print and folder dialogs ------------------------------------------------------------

TPrintDialogHandler SetPrintDialogHandler(TPrintDialogHandler Handler) {
  TPrintDialogHandler old = std::move(PrintHandler());
  PrintHandler() = std::move(Handler);
  return old;
}

bool TPrintDialog::Execute() {
  if (PrintHandler()) return PrintHandler()(*this);
  if (!HasRealDisplay()) return false;
  QPrintDialog dlg(&Printer()->Qt());
  return dlg.exec() == QDialog::Accepted;
}

TFolderDialogHandler SetFolderDialogHandler(TFolderDialogHandler Handler) {
  TFolderDialogHandler old = std::move(FolderHandler());
  FolderHandler() = std::move(Handler);
  return old;
}

bool SelectDirectory(const std::string& Caption, const std::string& Root, std::string& Directory) {
  std::string dir = Directory.empty() ? Root : Directory;
  if (FolderHandler()) {
    if (!FolderHandler()(Caption, dir)) return false;
  } else {
    if (!HasRealDisplay()) return false;
    QString chosen = QFileDialog::getExistingDirectory(nullptr, QString::fromStdString(Caption),
                                                       QString::fromStdString(dir), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return false;
    dir = chosen.toStdString();
  }
  Directory = dir;
  return true;
}

TPlacedFolderDialogHandler SetPlacedFolderDialogHandler(TPlacedFolderDialogHandler Handler) {
  TPlacedFolderDialogHandler old = std::move(PlacedFolderHandler());
  PlacedFolderHandler() = std::move(Handler);
  return old;
}

TRect FolderDialogBounds(const TRect& Anchor, int32_t Width, int32_t Height, const TRect& Screen) {
  int32_t x = Anchor.Left, y = Anchor.Top;
  if (Screen.Right > Screen.Left && Screen.Bottom > Screen.Top) {
    if (x + Width > Screen.Right) x = Screen.Right - Width;
    if (y + Height > Screen.Bottom) {
      y = Anchor.Top - Height;
      // Fitting neither below nor above (a low screen): as low as it goes whole.
      if (y < Screen.Top) y = Screen.Bottom - Height;
    }
    x = std::max(x, Screen.Left);
    y = std::max(y, Screen.Top);
  }
  return {x, y, x + Width, y + Height};
}

bool SelectDirectoryAt(const std::string& Caption, const std::string& Root, std::string& Directory,
                       const TRect& Anchor) {
  TRect screen{0, 0, 0, 0};
  QScreen* s = QGuiApplication::screenAt(QPoint(Anchor.Left, Anchor.Top));
  if (!s) s = QGuiApplication::primaryScreen();
  if (s) {
    const QRect g = s->availableGeometry();
    screen = {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
  }
  const TRect bounds = FolderDialogBounds(Anchor, FolderDialogWidth, FolderDialogHeight, screen);
  if (PlacedFolderHandler()) {
    std::string dir = Directory.empty() ? Root : Directory;
    if (!PlacedFolderHandler()(Caption, dir, bounds)) return false;
    Directory = dir;
    return true;
  }
  if (FolderHandler() || !HasRealDisplay()) return SelectDirectory(Caption, Root, Directory);
  QFileDialog dlg(nullptr, QString::fromStdString(Caption), QString::fromStdString(Directory.empty() ? Root : Directory));
  dlg.setFileMode(QFileDialog::Directory);
  dlg.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  dlg.setGeometry(bounds.Left, bounds.Top, bounds.Width(), bounds.Height());
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return false;
  Directory = dlg.selectedFiles().front().toStdString();
  return true;
}

bool OpenUrlInBrowser(const std::string& Url) {
  return qGuiApp && QDesktopServices::openUrl(QUrl(QString::fromStdString(Url)));
}

}  // namespace platform
