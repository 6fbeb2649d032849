// Random sequences of page and shape operations on a document, checked against a model of
// what each page holds: after every save the file is checked byte by byte and read back by a
// second document, which must hold exactly what the model says; reloads and direct page
// deletion check the file against the model of the file. Pages stay unread until an
// operation needs them. Shapes are moved and resized by code, pictures are held in every kind
// of resource storage, the read-only flag goes on and off, and saves go through links (to the
// open file, to another file, to a file that does not exist yet). A failure prints the
// shortest failing sequence found by removing operations one by one.
//
// KD_MODEL_SEED (default 1), KD_MODEL_SEQUENCES (default 40) and KD_MODEL_LENGTH (default
// 24) set the run; a longer run is e.g. KD_MODEL_SEQUENCES=3000.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "../common/TestSupport.h"
#include "SaveSupport.h"
#include "app/Startup.h"
#include "document/HugeStreams.h"
#include "document/dtpBitmapShape.h"
#include "raster/dtpRasterPNG.h"

using namespace document;

namespace {

enum TOpKind {
  opAddPage,
  opDeletePage,
  opDeleteDirect,
  opAddShape,
  opPageColor,
  opDefaultWidth,
  opDefaultColor,
  opVisit,
  opThumbnails,
  opSave,
  opSaveAs,
  opReload,
  opCheckDocument,
  opMoveShape,
  opResizeShape,
  opAddPicture,
  opReadOnly,
  opSaveViaLink,
  opKinds
};
const char* const kOpNames[] = {"AddPage",   "DeletePage", "DeletePageDirect", "AddShape", "SetPageColor",
                                "SetDefaultPageWidth", "SetDefaultPageColor", "Visit", "SetStoreThumbnails",
                                "SaveInPlace", "SaveAs", "Reload", "CheckDocument", "MoveShapeByCode",
                                "ResizeShapeByCode", "AddPicture", "SetReadOnly", "SaveViaLink"};
static_assert(std::size(kOpNames) == opKinds);

struct TOp {
  TOpKind Kind;
  uint32_t A, B;
};

// A shape: its name and geometry; a picture also its resource storage and the bytes it holds.
struct TShapeModel {
  std::string Name;
  int X = 10, Y = 10, W = 20, H = 20;
  int Storage = -1;  // -1: a rectangle; else the picture's TdtpResourceStorage
  int64_t Bytes = 0;
  std::string Describe() const {
    std::string d = Name + " " + std::to_string(X) + "," + std::to_string(Y) + " " + std::to_string(W) + "x" +
                    std::to_string(H);
    if (Storage >= 0)
      d += std::string(" ") + ResourceStorageName(TdtpResourceStorage(Storage)) + " " + std::to_string(Bytes);
    return d;
  }
  // What a save writes: the archive cannot hold bytes, so they are embedded; bytes stored
  // nowhere are not written.
  void Store() {
    if (Storage == int(TdtpResourceStorage::Archive) && Bytes > 0) Storage = int(TdtpResourceStorage::Embedded);
  }
  TShapeModel Stored() const {
    TShapeModel m = *this;
    m.Store();
    if (m.Storage == int(TdtpResourceStorage::None)) m.Bytes = 0;
    return m;
  }
};

struct TPageModel {
  int W = 210, H = 297;
  bool Default = true;
  uint32_t Color = 0xFFFFFF;
  std::vector<TShapeModel> Shapes;
  std::string Describe() const {
    std::string d = std::to_string(W) + "x" + std::to_string(H) + (Default ? " d" : " c" + std::to_string(Color)) + " [";
    for (size_t k = 0; k < Shapes.size(); ++k) d += (k ? ", " : "") + Shapes[k].Describe();
    return d + "]";
  }
};

struct TFileModel {
  std::vector<TPageModel> Pages;
  uint32_t DefaultColor = 0xFFFFFF;
  int DefaultWidth = 210;
  bool ReadOnly = false;
  std::vector<std::string> Describe() const {
    std::vector<std::string> v;
    for (const auto& p : Pages) v.push_back(p.Describe());
    v.push_back("pagecolor " + std::to_string(DefaultColor) + (ReadOnly ? " read-only" : ""));
    return v;
  }
};

// Geometry rounded to whole millimetres (the model only sets whole values).
int Mm(float V) { return int(std::lround(V)); }

std::string DescribeShape(TdtpShape* S) {
  TShapeModel m;
  m.Name = S->Name();
  m.X = Mm(S->DocLeft());
  m.Y = Mm(S->DocTop());
  m.W = Mm(S->DocWidth());
  m.H = Mm(S->DocHeight());
  if (auto* b = dynamic_cast<TdtpBitmapShape*>(S)) {
    m.Storage = int(b->Image()->Storage.Value());
    m.Bytes = b->Image()->Data()->Size();
  }
  return m.Describe();
}

std::vector<std::string> DescribeDocument(TdtpDocument& Doc) {
  std::vector<std::string> pages;
  for (int32_t i = 0; i < Doc.PageCount(); ++i) {
    TdtpPage* page = Doc.GetPage(i);
    page->EnsureLoaded();
    std::string d = std::to_string(int(page->DocWidth())) + "x" + std::to_string(int(page->DocHeight()));
    d += page->IsDefaultPage() ? " d" : " c" + std::to_string(page->PageColor());
    d += " [";
    for (int32_t k = 0; k < page->GetShapeCount(); ++k) d += (k ? ", " : "") + DescribeShape(page->GetShape(k));
    pages.push_back(d + "]");
  }
  pages.push_back("pagecolor " + std::to_string(Doc.DefaultPageColor()) + (Doc.ReadOnly() ? " read-only" : ""));
  return pages;
}

// What a fresh document reads from File (or the archive's problem, or the load error).
std::vector<std::string> DescribeModelFile(const std::string& File) {
  const std::vector<std::string> problems = kdcheck::CheckDocumentFile(File);
  if (!problems.empty()) return {"bad archive: " + problems.front()};
  TdtpComponent doc(nullptr);
  try {
    doc.LoadFromFile(File);
    return DescribeDocument(doc);
  } catch (const platform::Exception& e) {
    return {"load error: " + e.Message};
  }
}

std::string Show(const TOp& op) { return std::string(kOpNames[op.Kind]) + "(" + std::to_string(op.A) + ", " + std::to_string(op.B) + ")"; }

// Runs one sequence in a fresh folder; returns "" or what went wrong.
class TModelRun {
 public:
  std::string Run(const std::vector<TOp>& Ops) {
    dir = kdtest::TempDir();
    file = dir + "/a.hsf";
    savetest::MakeDocument(file, {"P1", "P2", "P3"});
    TFileModel start;
    for (const char* n : {"P1", "P2", "P3"}) {
      TPageModel p;
      p.Shapes = {TShapeModel{n}};
      start.Pages.push_back(p);
    }
    // Pictures to import; they stay, so that external resources find their files.
    for (int k = 0; k < 2; ++k) {
      raster::TBitmap32 b;
      b.SetSize(7 + 5 * k, 5 + k);
      for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) b.SetPixel(x, y, 0xFF000000u | uint32_t(x * 40 + k) << 8 | uint32_t(y * 50));
      pictures.push_back(dir + "/pic" + std::to_string(k) + ".png");
      platform::TFileStream f(pictures.back(), platform::fmCreate);
      raster::TdtpPngFormat().SaveToStream(&f, &b);
    }
    files[file] = start;
    doc = std::make_unique<TdtpComponent>(nullptr);
    doc->LoadFromFile(file);
    Reload();
    for (size_t i = 0; i < Ops.size(); ++i) {
      std::string error;
      try {
        error = Apply(Ops[i]);
      } catch (const platform::Exception& e) {
        error = "raised \"" + e.Message + "\"";
      }
      if (!error.empty()) return "after operation " + std::to_string(i + 1) + " " + Show(Ops[i]) + ": " + error;
    }
    return "";
  }

 private:
  void Reload() {
    const TFileModel& f = files[file];
    pages = f.Pages;
    stored.clear();
    for (size_t i = 0; i < pages.size(); ++i) stored.push_back(int(i));
    defaultColor = f.DefaultColor;
    defaultWidth = f.DefaultWidth;
    readOnly = f.ReadOnly;
  }
  std::string CheckFile(const std::string& Name, const std::string& ReadAs = "") {
    const std::string read = ReadAs.empty() ? Name : ReadAs;
    const std::vector<std::string> want = files[Name].Describe(), got = DescribeModelFile(read);
    if (got != want) return "file " + read.substr(dir.size() + 1) + " holds\n" + savetest::Join(got) + "instead of\n" + savetest::Join(want);
    return "";
  }
  void Saved(const std::string& Name) {
    // The document's own pictures are stored as the file has them from now on.
    for (auto& p : pages)
      for (auto& sh : p.Shapes) sh.Store();
    TFileModel& f = files[Name];
    f.Pages = pages;
    for (auto& p : f.Pages)
      for (auto& sh : p.Shapes) sh = sh.Stored();
    f.DefaultColor = defaultColor;
    f.DefaultWidth = defaultWidth;
    f.ReadOnly = readOnly;
    for (size_t i = 0; i < stored.size(); ++i) stored[i] = int(i);
    file = Name;
  }
  // The page's shape B picks, loaded; null when the page has none.
  TdtpShape* PickShape(int Page, uint32_t B, size_t& K) {
    TdtpPage* page = doc->GetPage(Page);
    page->EnsureLoaded();
    if (pages[size_t(Page)].Shapes.empty()) return nullptr;
    K = B % pages[size_t(Page)].Shapes.size();
    return page->GetShape(int32_t(K));
  }

  std::string Apply(const TOp& op) {
    const int n = int(pages.size());
    const int i = n > 0 ? int(op.A % uint32_t(n)) : -1;
    switch (op.Kind) {
      case opAddPage: {
        doc->AddPage(nullptr);
        TPageModel p;
        p.W = defaultWidth;
        pages.push_back(p);
        stored.push_back(-1);
        return "";
      }
      case opDeletePage:
        if (i < 0) return "";
        doc->DeletePage(i);
        pages.erase(pages.begin() + i);
        stored.erase(stored.begin() + i);
        return "";
      case opDeleteDirect: {
        if (i < 0) return "";
        doc->SetArchiveDirect(true);
        doc->DeletePage(i);
        doc->SetArchiveDirect(false);
        const int s = stored[size_t(i)];
        pages.erase(pages.begin() + i);
        stored.erase(stored.begin() + i);
        if (s < 0) return "";
        auto& fp = files[file].Pages;
        fp.erase(fp.begin() + s);
        for (int& k : stored)
          if (k > s) --k;
        return CheckFile(file);
      }
      case opAddShape: {
        if (i < 0) return "";
        const std::string name = "S" + std::to_string(++shapeCounter);
        savetest::AddNamedShape(doc->GetPage(i), name);
        pages[size_t(i)].Shapes.push_back(TShapeModel{name});
        return "";
      }
      case opMoveShape:
      case opResizeShape: {
        if (i < 0) return "";
        size_t k = 0;
        TdtpShape* sh = PickShape(i, op.B, k);
        if (!sh) return "";
        TShapeModel& m = pages[size_t(i)].Shapes[k];
        const int a = int(op.B % 60) + 1, b = int(op.B / 60 % 45) + 1;
        if (op.Kind == opMoveShape) {
          sh->SetDocPosition(float(a), float(b));
          m.X = a;
          m.Y = b;
        } else {
          sh->SetDocSize(float(a), float(b));
          m.W = a;
          m.H = b;
        }
        return "";
      }
      case opAddPicture: {
        if (i < 0) return "";
        const std::string name = "B" + std::to_string(++shapeCounter);
        const std::string& picture = pictures[op.B / 4 % pictures.size()];
        auto bs = NewShape<TdtpBitmapShape>();
        TdtpBitmapShape* raw = bs.get();
        doc->GetPage(i)->AddShape(std::move(bs));
        raw->SetDocBounds(5, 6, 30, 20);
        raw->SetName(name);
        raw->Image()->Storage = TdtpResourceStorage(op.B % 4);
        raw->Image()->LoadFromFile(picture);
        TShapeModel m{name, 5, 6, 30, 20, int(op.B % 4), int64_t(std::filesystem::file_size(picture))};
        pages[size_t(i)].Shapes.push_back(m);
        return "";
      }
      case opReadOnly:
        doc->SetReadOnly(op.B % 2 == 1);
        readOnly = op.B % 2 == 1;
        return "";
      case opSaveViaLink: {
        // The link names the open file, another file, or a file that does not exist yet.
        std::string target;
        switch (op.B % 3) {
          case 0: target = file; break;
          case 1: target = dir + "/c.hsf"; break;
          default: target = dir + "/new" + std::to_string(++linkCounter) + ".hsf"; break;
        }
        const std::string link = dir + "/link" + std::to_string(++linkCounter) + ".hsf";
        std::filesystem::create_symlink(target, link);
        doc->SaveToFile(link);
        Saved(target);
        if (!std::filesystem::is_symlink(link)) return "the link " + link.substr(dir.size() + 1) + " was replaced";
        std::string error = CheckFile(target);
        if (error.empty()) error = CheckFile(target, link);
        return error;
      }
      case opPageColor: {
        if (i < 0) return "";
        const uint32_t color = 0x010101u * (op.B % 200 + 1);
        doc->GetPage(i)->SetIsDefaultPage(false);
        doc->GetPage(i)->SetPageColor(color);
        pages[size_t(i)].Default = false;
        pages[size_t(i)].Color = color;
        return "";
      }
      case opDefaultWidth: {
        const int widths[] = {210, 300, 420};
        const int w = widths[op.B % 3];
        doc->SetDefaultPageWidth(float(w));
        defaultWidth = w;
        for (auto& p : pages)
          if (p.Default) p.W = w;
        return "";
      }
      case opDefaultColor: {
        const uint32_t color = 0x030201u * (op.B % 50 + 1);
        doc->SetDefaultPageColor(color);
        defaultColor = color;
        return "";
      }
      case opVisit:
        if (i >= 0) doc->SetCurrentPageIndex(i);
        return "";
      case opThumbnails:
        doc->SetStoreThumbnails(op.B % 2 == 0);
        return "";
      case opSave:
        doc->SaveToFile(file);
        Saved(file);
        return CheckFile(file);
      case opSaveAs: {
        const std::string name = dir + (op.B % 2 ? "/b.hsf" : "/c.hsf");
        doc->SaveToFile(name);
        Saved(name);
        return CheckFile(name);
      }
      case opReload:
        doc->LoadFromFile(file);
        Reload();
        return CheckFile(file);
      case opCheckDocument: {
        std::vector<std::string> want;
        for (const auto& p : pages) want.push_back(p.Describe());
        want.push_back("pagecolor " + std::to_string(defaultColor) + (readOnly ? " read-only" : ""));
        const std::vector<std::string> got = DescribeDocument(*doc);
        if (got != want) return "the document holds\n" + savetest::Join(got) + "instead of\n" + savetest::Join(want);
        return "";
      }
      case opKinds:
        break;
    }
    return "";
  }

  std::unique_ptr<TdtpComponent> doc;
  std::string dir, file;
  std::map<std::string, TFileModel> files;
  std::vector<TPageModel> pages;
  std::vector<int> stored;  // index of each page in the current file's model, -1 when new
  uint32_t defaultColor = 0xFFFFFF;
  int defaultWidth = 210;
  bool readOnly = false;
  int shapeCounter = 0;
  int linkCounter = 0;
  std::vector<std::string> pictures;
};

uint64_t EnvNumber(const char* Name, uint64_t Default) {
  const char* v = std::getenv(Name);
  return v && *v ? std::strtoull(v, nullptr, 10) : Default;
}

std::vector<TOp> RandomSequence(std::mt19937& Rng, size_t Length) {
  // Saves and reloads are frequent enough that most sequences check several files.
  static const TOpKind weighted[] = {opAddPage,     opAddPage,      opDeletePage,   opDeletePage, opDeleteDirect,
                                     opAddShape,    opAddShape,     opAddShape,     opPageColor,  opDefaultWidth,
                                     opDefaultColor, opVisit,       opThumbnails,   opSave,       opSave,
                                     opSave,        opSaveAs,       opReload,       opCheckDocument, opMoveShape,
                                     opMoveShape,   opResizeShape,  opResizeShape,  opAddPicture, opAddPicture,
                                     opReadOnly,    opSaveViaLink,  opSaveViaLink};
  std::vector<TOp> ops;
  for (size_t k = 0; k < Length; ++k)
    ops.push_back({weighted[Rng() % std::size(weighted)], uint32_t(Rng() % 1000), uint32_t(Rng() % 1000)});
  return ops;
}

// Removes operations one at a time while the sequence still fails.
std::vector<TOp> Shrink(std::vector<TOp> Ops) {
  for (bool progress = true; progress;) {
    progress = false;
    for (size_t k = Ops.size(); k-- > 0;) {
      std::vector<TOp> shorter;
      for (size_t j = 0; j < Ops.size(); ++j)
        if (j != k) shorter.push_back(Ops[j]);
      if (!TModelRun().Run(shorter).empty()) {
        Ops = shorter;
        progress = true;
      }
    }
  }
  return Ops;
}

}  // namespace

TEST(DocumentModel, RandomSequencesMatchTheModel) {
  app::InitializeUnits();
  // Process kills are not part of this test: flushes to disk only cost time here.
  FileFaults().Reset();
  FileFaults().NoDiskFlush = true;
  const uint64_t seed = EnvNumber("KD_MODEL_SEED", 1);
  const uint64_t count = EnvNumber("KD_MODEL_SEQUENCES", 40);
  const uint64_t length = EnvNumber("KD_MODEL_LENGTH", 24);
  std::mt19937 rng{static_cast<uint32_t>(seed)};
  int failures = 0;
  for (uint64_t s = 0; s < count && failures == 0; ++s) {
    const std::vector<TOp> ops = RandomSequence(rng, size_t(length));
    if (TModelRun().Run(ops).empty()) continue;
    ++failures;
    const std::vector<TOp> shortest = Shrink(ops);
    std::ostringstream text;
    text << "sequence " << s << " of seed " << seed << " fails; shortest failing sequence:\n";
    for (const TOp& op : shortest) text << "  " << Show(op) << "\n";
    text << TModelRun().Run(shortest);
    ADD_FAILURE() << text.str();
  }
  FileFaults().Reset();
}
