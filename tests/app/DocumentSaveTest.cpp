// Saving never loses data: pages whose numbers move, new pages, pages not read yet, failed
// loads, direct page deletion and stale streams, each saved and read back by a fresh document.
#include <gtest/gtest.h>

#include <filesystem>

#include "../common/TestSupport.h"
#include "SaveSupport.h"
#include "app/Startup.h"
#include "platform/SysUtils.h"

using namespace document;
using savetest::DescribeFile;
using V = std::vector<std::string>;

namespace {

class DocumentSave : public ::testing::Test {
 protected:
  void SetUp() override {
    app::InitializeUnits();
    dir = kdtest::TempDir();
  }
  std::string Path(const std::string& name) const { return dir + "/" + name; }
  static std::string Page(const std::string& shapes) { return "210x297 d [" + shapes + "]"; }
  static V Pages(std::initializer_list<const char*> names) {
    V v;
    for (const char* n : names) v.push_back(Page(n));
    v.push_back("pagecolor 16777215");
    return v;
  }
  static std::string StreamBytes(TSingleStorage* A, const std::string& Name) {
    platform::TMemoryStream s;
    A->ReadStream(Name, &s);
    return std::string(static_cast<const char*>(s.Memory()), size_t(s.GetSize()));
  }
  std::string dir;
};

}  // namespace

// Deleting a page moves the later pages down a number: they are written at their new numbers
// even though they were never changed (or read).
TEST_F(DocumentSave, DeleteThenSaveInPlaceKeepsEveryOtherPage) {
  const struct {
    int32_t Delete;
    V Expect;
  } cases[] = {{0, Pages({"P2", "P3"})}, {1, Pages({"P1", "P3"})}, {2, Pages({"P1", "P2"})}};
  for (const auto& c : cases) {
    const std::string file = Path("del" + std::to_string(c.Delete) + ".hsf");
    savetest::MakeDocument(file, {"P1", "P2", "P3"});
    TdtpComponent doc(nullptr);
    doc.LoadFromFile(file);
    doc.DeletePage(c.Delete);
    doc.SaveToFile(file);
    EXPECT_EQ(DescribeFile(file), c.Expect) << "delete " << c.Delete;
  }
}

// A new default page is written although its size setting changed nothing.
TEST_F(DocumentSave, NewDefaultPageReplacingADeletedOneIsWritten) {
  const std::string file = Path("new.hsf");
  savetest::MakeDocument(file, {"P1", "P2"});
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  doc.DeletePage(1);
  doc.AddPage(nullptr);
  doc.SaveToFile(file);
  EXPECT_EQ(DescribeFile(file), Pages({"P1", ""}));
}

// Default page size and colour reach pages that were not read yet, and survive their reading.
TEST_F(DocumentSave, DefaultsReachPagesNotReadYet) {
  const std::string file = Path("defaults.hsf");
  savetest::MakeDocument(file, {"P1", "P2", "P3"});
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  ASSERT_FALSE(doc.GetPage(2)->Loaded());
  doc.SetDefaultPageWidth(420);
  doc.SaveToFile(file);
  V expect{"420x297 d [P1]", "420x297 d [P2]", "420x297 d [P3]", "pagecolor 16777215"};
  EXPECT_EQ(DescribeFile(file), expect);
}

// Changes made to a page before it is read are neither reordered nor overwritten by reading it.
TEST_F(DocumentSave, ChangesToAPageNotReadYetSurviveItsReading) {
  const std::string file = Path("unread.hsf");
  savetest::MakeDocument(file, {"P1", "P2", "P3"});
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  ASSERT_FALSE(doc.GetPage(1)->Loaded());
  savetest::AddNamedShape(doc.GetPage(1), "Added");
  doc.GetPage(2)->SetIsDefaultPage(false);
  doc.GetPage(2)->SetPageColor(0x00FF00);
  doc.SaveToFile(file);
  const V got = DescribeFile(file);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[1], Page("P2,Added"));
  EXPECT_EQ(got[2].substr(0, 8), "210x297 ");
  EXPECT_EQ(got[2], "210x297 c" + std::to_string(0x00FF00) + " [P3]");

  // The page's place in the view is part of it too.
  TdtpComponent again(nullptr);
  again.LoadFromFile(file);
  again.GetPage(2)->SetDocPosition(7, 9);
  again.SaveToFile(file);
  TdtpComponent third(nullptr);
  third.LoadFromFile(file);
  third.GetPage(2)->EnsureLoaded();
  EXPECT_FLOAT_EQ(third.GetPage(2)->DocLeft(), 7);
  EXPECT_FLOAT_EQ(third.GetPage(2)->DocTop(), 9);
  EXPECT_EQ(savetest::DescribePage(third.GetPage(2)), "210x297 c" + std::to_string(0x00FF00) + " [P3]");
}

// A load that fails leaves the document detached: nothing it does later reaches that file.
TEST_F(DocumentSave, FailedLoadDetachesTheDocument) {
  const std::string file = Path("damaged.hsf");
  savetest::MakeDocument(file, {"P1", "P2", "P3"});
  {
    TSingleStorage a;
    a.SetFileName(file);
    platform::TMemoryStream s;
    const std::string junk = "<?xml version=\"1.0\"?><Page><Shape>";
    s.WriteBuffer(junk.data(), int32_t(junk.size()));
    s.SetPosition(0);
    a.SetOverwriteMode(0);
    a.WriteStream(&s, "Page0001.xml");
  }
  const std::vector<uint8_t> before = kdtest::ReadFileBytes(file);
  TdtpComponent doc(nullptr);
  EXPECT_THROW(doc.LoadFromFile(file), platform::Exception);
  EXPECT_EQ(doc.Archive(), nullptr);
  doc.AddPage(nullptr);
  EXPECT_THROW(doc.SaveToArchive(), platform::Exception);
  EXPECT_EQ(kdtest::ReadFileBytes(file), before);
}

// Direct deletion edits the file as it is stored: the right streams, the stored page count
// and properties, and no undo step.
TEST_F(DocumentSave, DirectDeletionEditsOnlyTheStoredPage) {
  const std::string file = Path("direct.hsf");
  savetest::MakeDocument(file, {"P1", "P2", "P3", "P4"});
  {
    TdtpComponent doc(nullptr);
    doc.LoadFromFile(file);
    doc.SetArchiveDirect(true);
    doc.SetArchiveDirect(false);
    doc.DeletePage(0);  // unsaved: the file still holds P1
    doc.SetArchiveDirect(true);
    doc.SetDefaultPageColor(0x123456);  // unsaved
    doc.AddPage(nullptr);               // unsaved
    const int32_t undo = doc.UndoCount();
    doc.DeletePage(1);  // P3, stored as number 3
    EXPECT_EQ(doc.UndoCount(), undo);
    EXPECT_EQ(DescribeFile(file), Pages({"P1", "P2", "P4"}));
    // The pages in memory still read their own streams.
    doc.GetPage(1)->EnsureLoaded();
    EXPECT_EQ(savetest::DescribePage(doc.GetPage(1)), Page("P4"));
    // Closed without saving.
  }
  EXPECT_EQ(DescribeFile(file), Pages({"P1", "P2", "P4"}));

  // Saving afterwards writes the document as it is in memory.
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  doc.SetArchiveDirect(true);
  doc.DeletePage(0);
  doc.SetArchiveDirect(false);
  doc.DeletePage(1);
  doc.SaveToFile(file);
  EXPECT_EQ(DescribeFile(file), Pages({"P2"}));
}

// With thumbnails off, a page that moved does not show another page's thumbnail, and no
// stream is left past the last page, whatever gaps the numbers have.
TEST_F(DocumentSave, NoStaleThumbnailsOrPageStreams) {
  const std::string file = Path("thumbs.hsf");
  savetest::MakeDocument(file, {"P1", "P2", "P3"});
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(file);
  const std::string thumb1 = StreamBytes(doc.Archive(), "Thumb0001.bmp");
  ASSERT_FALSE(thumb1.empty());
  doc.SetStoreThumbnails(false);
  doc.DeletePage(0);
  doc.SaveToFile(file);
  EXPECT_NE(StreamBytes(doc.Archive(), "Thumb0001.bmp"), thumb1);
  EXPECT_FALSE(doc.Archive()->StreamExists("Thumb0003.bmp"));

  // A page count of 0 leaves no page stream at all, even past a gap.
  {
    TSingleStorage a;
    a.SetFileName(file);
    a.SetOverwriteMode(0);
    platform::TMemoryStream s;
    s.WriteBuffer("x", 1);
    s.SetPosition(0);
    a.WriteStream(&s, "Page0040.xml");
  }
  TdtpComponent empty(nullptr);
  empty.LoadFromFile(file);
  while (empty.PageCount() > 0) empty.DeletePage(0);
  empty.SaveToFile(file);
  for (int32_t k = 0; k < empty.Archive()->Count(); ++k)
    EXPECT_EQ(empty.Archive()->Items(k)->Name(), "Index.xml");
  EXPECT_TRUE(kdcheck::CheckDocumentFile(file).empty());
}

// Saving over another file replaces it whole, and a document that fails to save keeps its
// own file and its modified state.
TEST_F(DocumentSave, SaveOverAnotherFileAndFailedSave) {
  const std::string a = Path("a.hsf"), b = Path("b.hsf");
  savetest::MakeDocument(a, {"A1", "A2"});
  savetest::MakeDocument(b, {"B1", "B2", "B3"});
  namespace fs = std::filesystem;
  fs::permissions(b, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  TdtpComponent doc(nullptr);
  doc.LoadFromFile(a);
  doc.SaveToFile(b);
  EXPECT_EQ(DescribeFile(b), Pages({"A1", "A2"}));
  EXPECT_EQ(doc.Archive()->FileName(), b);
  // The replaced file keeps its permissions.
  EXPECT_EQ(fs::status(b).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // Saving through a link replaces the file it names and keeps the link.
  const std::string link = Path("link.hsf");
  fs::create_symlink(a, link);
  savetest::AddNamedShape(doc.GetPage(1), "L");
  doc.SaveToFile(link);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(DescribeFile(a), Pages({"A1", "A2,L"}));
  doc.LoadFromFile(b);
  // No temporary file is left beside it.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    files += entry.path().filename().string().find(".~") == std::string::npos ? 0 : 1;
  EXPECT_EQ(files, 0);

  // A save into a folder that does not exist fails with a clear error and changes nothing.
  savetest::AddNamedShape(doc.GetPage(0), "X");
  EXPECT_THROW(doc.SaveToFile(dir + "/missing/c.hsf"), platform::Exception);
  EXPECT_EQ(doc.Archive()->FileName(), b);
  EXPECT_TRUE(doc.Modified());
  doc.SaveToFile(b);
  EXPECT_EQ(DescribeFile(b), Pages({"A1,X", "A2"}));
}
