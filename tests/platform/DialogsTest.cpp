// Message boxes and common dialogs answer without blocking when headless, and through the
// installed handlers otherwise.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/Dialogs.h"
#include "tests/common/TestSupport.h"

using namespace platform;

namespace {
// Installs a handler for the test and restores the previous one.
template <typename H, typename Set>
struct TScoped {
  TScoped(Set set, H h) : FSet(set), FOld(set(std::move(h))) {}
  ~TScoped() { FSet(std::move(FOld)); }
  Set FSet;
  H FOld;
};
}  // namespace

TEST(Dialogs, HeadlessMessagesAnswerWithTheDefaultButton) {
  ASSERT_FALSE(HasRealDisplay());
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageDlg("Save changes?", mtConfirmation, mbYesNoCancel, 0), mrYes);
  EXPECT_EQ(MessageDlg("Retry?", mtError, {mbRetry, mbCancel}, 0), mrRetry);
  EXPECT_EQ(MessageDlg("Sure?", mtWarning, mbOKCancel, 0), mrOk);
  EXPECT_EQ(MessageBox("Remove?", "Kadrilo", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(MessageBox("Stop?", "Kadrilo", MB_ABORTRETRYIGNORE | MB_DEFBUTTON3), IDIGNORE);
  EXPECT_EQ(MessageBox("Done", "Kadrilo", MB_OK), IDOK);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Confirm: Save changes?\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Error: Retry?\n"), std::string::npos);
  EXPECT_NE(err.find("Kadrilo: Remove?\n"), std::string::npos);
}

TEST(Dialogs, MessageHandlerSeesEveryRequest) {
  std::vector<TMessageRequest> seen;
  TScoped<TMessageHandler, decltype(&SetMessageHandler)> scope(&SetMessageHandler, [&](const TMessageRequest& r) {
    seen.push_back(r);
    return mrNo;
  });
  EXPECT_EQ(MessageDlg("Overwrite?", mtConfirmation, {mbYes, mbNo}, 0), mrNo);
  ShowMessage("Hello");
  EXPECT_EQ(MessageBox("Quit?", "Title", MB_OKCANCEL | MB_ICONQUESTION), IDNO);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].Caption, "Confirm");
  EXPECT_EQ(seen[0].Text, "Overwrite?");
  EXPECT_EQ(seen[0].DefaultButton, mbYes);
  EXPECT_TRUE(seen[0].Buttons.Contains(mbNo));
  EXPECT_FALSE(seen[0].Buttons.Contains(mbCancel));
  EXPECT_EQ(seen[1].DlgType, mtCustom);
  EXPECT_TRUE(seen[1].Buttons.Contains(mbOK));
  EXPECT_EQ(seen[2].Caption, "Title");
  EXPECT_EQ(seen[2].DlgType, mtConfirmation);
  EXPECT_EQ(seen[2].DefaultButton, mbOK);
}

TEST(Dialogs, ButtonsAndResults) {
  EXPECT_EQ(DefaultButtonOf({mbNo, mbYes}), mbYes);
  EXPECT_EQ(DefaultButtonOf({mbIgnore, mbAbort}), mbAbort);
  EXPECT_EQ(DefaultButtonOf({}), mbOK);
  EXPECT_EQ(ModalResultOf(mbYesToAll), mrYesToAll);
  EXPECT_EQ(ModalResultOf(mbHelp), mrNone);
  EXPECT_EQ(DialogCaption(mtInformation), "Information");
  EXPECT_EQ(DialogCaption(mtWarning), "Warning");
}

TEST(Dialogs, FilterParsing) {
  auto f = ParseFilter("Bitmaps (*.bmp)|*.bmp|Pictures|*.png;*.jpg");
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].first, "Bitmaps (*.bmp)");
  EXPECT_EQ(f[1].second, "*.png;*.jpg");
  EXPECT_EQ(ParseFilter("A|*.a|B").size(), 1u);
  EXPECT_TRUE(ParseFilter("").empty());
}

TEST(Dialogs, FileDialogs) {
  TOpenDialog open(nullptr);
  open.SetFileName("keep.bmp");
  EXPECT_FALSE(open.Execute());  // headless: cancelled
  EXPECT_EQ(open.FileName(), "keep.bmp");

  bool lastSave = false;
  // "a" names no file: an open dialog completes it.
  std::vector<std::string> answer{"/no-such-folder/a", "/tmp/b.png"};
  TScoped<TFileDialogHandler, decltype(&SetFileDialogHandler)> scope(
      &SetFileDialogHandler, [&](TOpenDialog&, bool save, std::vector<std::string>& chosen) {
        lastSave = save;
        chosen = answer;
        return !answer.empty();
      });
  open.SetDefaultExt("bmp");
  ASSERT_TRUE(open.Execute());
  EXPECT_FALSE(lastSave);
  EXPECT_EQ(open.FileName(), "/no-such-folder/a.bmp");
  EXPECT_EQ(open.Files(), (std::vector<std::string>{"/no-such-folder/a.bmp"}));
  TOpenOptions o = open.Options();
  o.Include(ofAllowMultiSelect);
  open.SetOptions(o);
  ASSERT_TRUE(open.Execute());
  EXPECT_EQ(open.Files(), (std::vector<std::string>{"/no-such-folder/a.bmp", "/tmp/b.png"}));

  open.SetDefaultExt("*.bmp");  // as form resources write it
  ASSERT_TRUE(open.Execute());
  EXPECT_EQ(open.FileName(), "/no-such-folder/a.bmp");

  TSaveDialog save(nullptr);
  save.SetOptions(o);
  ASSERT_TRUE(save.Execute());
  EXPECT_TRUE(lastSave);
  EXPECT_EQ(save.Files().size(), 1u);  // one name for saving
  EXPECT_EQ(save.FileName(), "/no-such-folder/a");
  answer.clear();
  EXPECT_FALSE(save.Execute());
  EXPECT_EQ(save.FileName(), "/no-such-folder/a");
}

// An open dialog returns the file chosen; the default extension completes only a name that
// names no file. Saving adds it to every name without extension.
TEST(Dialogs, DefaultExtensionCompletesOnlyNamesOfNoFile) {
  const std::string dir = kdtest::TempDir() + "/";
  kdtest::WriteFileBytes(dir + "foto", {0x89, 'P', 'N', 'G'});
  kdtest::WriteFileBytes(dir + "b.png", {0x89, 'P', 'N', 'G'});
  std::filesystem::create_directories(dir + "map");
  std::vector<std::string> answer;
  TScoped<TFileDialogHandler, decltype(&SetFileDialogHandler)> scope(
      &SetFileDialogHandler, [&](TOpenDialog&, bool, std::vector<std::string>& chosen) {
        chosen = answer;
        return true;
      });
  const struct {
    bool Save, Multi;
    std::vector<std::string> Chosen, Got;
  } cases[] = {
      {false, false, {"foto"}, {"foto"}},
      {false, false, {"nieuw"}, {"nieuw.bmp"}},
      {false, false, {"map"}, {"map.bmp"}},  // a folder is no file to open
      {false, true, {"foto", "nieuw", "b.png"}, {"foto", "nieuw.bmp", "b.png"}},
      {true, false, {"foto"}, {"foto.bmp"}},
      {true, false, {"nieuw"}, {"nieuw.bmp"}},
      {true, false, {"b.png"}, {"b.png"}},
  };
  for (const auto& c : cases) {
    std::unique_ptr<TOpenDialog> d =
        c.Save ? std::make_unique<TSaveDialog>(nullptr) : std::make_unique<TOpenDialog>(nullptr);
    d->SetDefaultExt("*.bmp");
    if (c.Multi) d->SetOptions({ofAllowMultiSelect});
    answer.clear();
    for (const std::string& f : c.Chosen) answer.push_back(dir + f);
    ASSERT_TRUE(d->Execute());
    std::vector<std::string> got;
    for (const std::string& f : d->Files()) got.push_back(f.substr(dir.size()));
    EXPECT_EQ(got, c.Got) << (c.Save ? "save " : "open ") << c.Chosen.front();
    EXPECT_EQ(d->FileName(), dir + c.Got.front());
  }
}

TEST(Dialogs, PrintAndFolderDialogs) {
  TPrintDialog pd(nullptr);
  EXPECT_FALSE(pd.Execute());
  {
    TScoped<TPrintDialogHandler, decltype(&SetPrintDialogHandler)> scope(&SetPrintDialogHandler,
                                                                         [](TPrintDialog&) { return true; });
    EXPECT_TRUE(pd.Execute());
  }
  EXPECT_FALSE(pd.Execute());

  std::string dir;
  EXPECT_FALSE(SelectDirectory("Select directory", "/tmp", dir));
  EXPECT_EQ(dir, "");
  std::string offered;
  TScoped<TFolderDialogHandler, decltype(&SetFolderDialogHandler)> scope(
      &SetFolderDialogHandler, [&](const std::string&, std::string& d) {
        offered = d;
        d = "/srv/content";
        return true;
      });
  ASSERT_TRUE(SelectDirectory("Select directory", "/tmp", dir));
  EXPECT_EQ(offered, "/tmp");  // the root when no folder is given
  EXPECT_EQ(dir, "/srv/content");
  ASSERT_TRUE(SelectDirectory("Select directory", "/tmp", dir));
  EXPECT_EQ(offered, "/srv/content");
}
