// Loading and saving: "Index.xml", page and thumbnail streams of the archive, page deletion.
#include <cmath>
#include <cstring>
#include <filesystem>

#include "document/SingleFileStorage.h"
#include "document/XmlBitmaps.h"
#include "document/XmlDocuments.h"
#include "document/dtpDocument.h"
#include "platform/Graphics.h"
#include "platform/SysUtils.h"

namespace document {

using namespace platform;

namespace {

constexpr int32_t cMaxPageCount = 9999;
constexpr const char* cCorruptedDocument = "Corrupted archive";
constexpr float cMaxPaperMm = 100000.0f;
// A thumbnail is a small picture in a page list; a larger stored size makes every save render
// and write megabytes per page.
constexpr int32_t cMaxThumbnail = 1024;

// Reads an integer child; a text that is not an integer or a value outside [Lo, Hi] gives
// Reset, a missing child gives Missing.
int32_t ReadIntChecked(TXmlNode* Node, const std::string& Name, int32_t Missing, int32_t Reset, int64_t Lo,
                       int64_t Hi) {
  if (!Node->NodeByName(Name)) return Missing;
  int32_t v;
  try {
    v = Node->ReadInteger(Name, Missing);
  } catch (const EConvertError&) {
    return Reset;
  }
  return (v < Lo || v > Hi) ? Reset : v;
}

float ReadFloatChecked(TXmlNode* Node, const std::string& Name, float Missing, float Reset, float Lo, float Hi) {
  if (!Node->NodeByName(Name)) return Missing;
  double v;
  try {
    v = Node->ReadFloat(Name, Missing);
  } catch (const Exception&) {
    return Reset;
  }
  if (!std::isfinite(v) || v < Lo || v > Hi) return Reset;
  return float(v);
}

TColor ReadColorChecked(TXmlNode* Node, const std::string& Name, TColor Missing, TColor Reset) {
  if (!Node->NodeByName(Name)) return Missing;
  try {
    return TColor(Node->ReadInteger(Name, int32_t(Missing)));
  } catch (const EConvertError&) {
    return Reset;
  }
}

// The number of pages "Index.xml" announces; missing means none. A count that is not a whole
// number, is negative or names more pages than streams can be numbered for belongs to a damaged
// document: opening it as an empty one would pass for a successful load and let a save wipe it.
int32_t ReadPageCount(TXmlNode* Root) {
  const int32_t n = ReadIntChecked(Root, "PageCount", 0, -1, 0, cMaxPageCount);
  if (n < 0) throw Exception(cCorruptedDocument);
  return n;
}

uint32_t LE32(const uint8_t* P) { return uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16 | uint32_t(P[3]) << 24; }

// A stored thumbnail must be a bitmap file whose pixels fit in the stream and whose size is
// that of a thumbnail; anything else is ignored and the thumbnail is rebuilt when needed.
bool ThumbnailPlausible(TMemoryStream& S) {
  const int64_t n = S.GetSize();
  if (n < 54) return false;
  const auto* p = static_cast<const uint8_t*>(S.Memory());
  if (p[0] != 'B' || p[1] != 'M') return false;
  const uint32_t offBits = LE32(p + 10), hdr = LE32(p + 14);
  if (hdr < 40 || int64_t(hdr) + 14 > n) return false;
  const int32_t w = int32_t(LE32(p + 18)), hRaw = int32_t(LE32(p + 22));
  const int64_t h = hRaw < 0 ? -int64_t(hRaw) : hRaw;
  const uint16_t bpp = uint16_t(p[28] | p[29] << 8);
  const uint32_t compression = LE32(p + 30);
  if (w <= 0 || w > cMaxThumbnail || h <= 0 || h > cMaxThumbnail) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  if (compression != 0 && compression != 3) return false;
  const int64_t row = ((int64_t(w) * bpp + 31) / 32) * 4;
  return int64_t(offBits) >= 14 + int64_t(hdr) && int64_t(offBits) + row * h <= n;
}

void ReadArchiveStream(TSingleStorage* A, const std::string& Name, TMemoryStream& S) {
  if (A->StreamExists(Name)) A->ReadStream(Name, &S);
  S.SetPosition(0);
}

// The file a name stands for: links are followed, also to a file that does not exist yet (a
// save creates it where the link points). A loop of links cannot be written through.
std::string FollowLinks(const std::string& FileName) {
  namespace fs = std::filesystem;
  fs::path p = FileName;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(p, ec)) return p.string();
    const fs::path to = fs::read_symlink(p, ec);
    if (ec) return p.string();
    p = to.is_absolute() ? to : p.parent_path() / to;
  }
  throw EFCreateError("Cannot create file " + FileName);
}

bool SamePath(const std::string& A, const std::string& B) {
  if (A == B) return true;
  std::error_code e1, e2;
  const auto ca = std::filesystem::weakly_canonical(A, e1), cb = std::filesystem::weakly_canonical(B, e2);
  return !e1 && !e2 && ca == cb;
}

}  // namespace

// --- Index.xml -----------------------------------------------------------------------

void TdtpDocument::SavePropertiesToXml(TXmlNode* Node) {
  if (!Node) return;
  Node->WriteHex("HandleColor", int32_t(FHandleColor), 8);
  Node->WriteHex("HandleEdgeColor", int32_t(FHandleEdgeColor), 8);
  Node->WriteInteger("HotzoneScrolling", int32_t(FHotZoneScrolling));
  Node->WriteInteger("StretchFilter", int32_t(FQuality));
  Node->WriteBool("ReadOnly", FReadOnly);
  Node->WriteFloat("RenderDpm", FRenderDpm);
  Node->WriteFloat("ScreenDpm", FScreenDpm);
  Node->WriteBool("StoreThumbnails", FStoreThumbnails);
  Node->WriteBool("ShowMargins", FShowMargins);
  Node->WriteBool("SnapToGrid", FSnapToGrid);
  Node->WriteFloat("StepAngle", FStepAngle);
  Node->WriteInteger("ViewStyle", ViewStyleOrdinal(FViewStyle));
  Node->WriteInteger("PageCount", GetPageCount());
  Node->WriteFloat("DefaultPageWidth", FDefaultPageWidth);
  Node->WriteFloat("DefaultPageHeight", FDefaultPageHeight);
  Node->WriteFloat("DefaultMarginLeft", FDefaultMarginLeft);
  Node->WriteFloat("DefaultMarginTop", FDefaultMarginTop);
  Node->WriteFloat("DefaultMarginRight", FDefaultMarginRight);
  Node->WriteFloat("DefaultMarginBottom", FDefaultMarginBottom);
  Node->WriteFloat("DefaultGridSize", FDefaultGridSize);
  Node->WriteColor("DefaultGridColor", FDefaultGridColor);
  Node->WriteColor("DefaultPageColor", FDefaultPageColor);
  WriteBitmap32ToXml(Node, "DefaultBgrImage", FDefaultBgrImage.get());
  Node->WriteBool("DefaultBgrTiled", FDefaultBgrTiled);
  Node->WriteInteger("ThumbnailWidth", FThumbnailWidth);
  Node->WriteInteger("ThumbnailHeight", FThumbnailHeight);
  if (OnSaveAdditionalInfo) OnSaveAdditionalInfo(this, Node);
}

void TdtpDocument::LoadPropertiesFromXml(TXmlNode* Node) {
  if (!Node) return;
  // Fields are stored directly: no setter, relayout or notification per value.
  FHandleColor = ReadColorChecked(Node, "HandleColor", 0, 0xFFFFFF);
  FHandleEdgeColor = ReadColorChecked(Node, "HandleEdgeColor", 0, 0);
  FHotZoneScrolling = TdtpHZScrollingType(ReadIntChecked(Node, "HotzoneScrolling", 0, 0, 0, 2));
  FQuality = raster::TStretchFilter(ReadIntChecked(Node, "StretchFilter", 0, raster::sfLinear2, 0, raster::sfSpline));
  FReadOnly = Node->ReadBool("ReadOnly", false);
  FRenderDpm = ReadFloatChecked(Node, "RenderDpm", cDefaultDpm, cDefaultDpm, cMinScreenDpm, cMaxRenderDpm);
  FScreenDpm = ReadFloatChecked(Node, "ScreenDpm", cDefaultDpm, cDefaultDpm, cMinScreenDpm, cMaxScreenDpm);
  FStoreThumbnails = Node->ReadBool("StoreThumbnails", true);
  FShowMargins = Node->ReadBool("ShowMargins", false);
  FSnapToGrid = Node->ReadBool("SnapToGrid", false);
  FStepAngle = ReadFloatChecked(Node, "StepAngle", 0, 0, -360, 360);
  const int32_t vs = ViewStyleFromOrdinal(ReadIntChecked(Node, "ViewStyle", 0, 0, 0, 1));
  FViewStyle = TdtpViewStyleType(vs);
  FDefaultPageWidth = ReadFloatChecked(Node, "DefaultPageWidth", 210, 210, 1e-3f, cMaxPaperMm);
  FDefaultPageHeight = ReadFloatChecked(Node, "DefaultPageHeight", 297, 297, 1e-3f, cMaxPaperMm);
  FDefaultMarginLeft = ReadFloatChecked(Node, "DefaultMarginLeft", 10, 10, -cMaxPaperMm, cMaxPaperMm);
  FDefaultMarginTop = ReadFloatChecked(Node, "DefaultMarginTop", 10, 10, -cMaxPaperMm, cMaxPaperMm);
  FDefaultMarginRight = ReadFloatChecked(Node, "DefaultMarginRight", 10, 10, -cMaxPaperMm, cMaxPaperMm);
  FDefaultMarginBottom = ReadFloatChecked(Node, "DefaultMarginBottom", 10, 10, -cMaxPaperMm, cMaxPaperMm);
  FDefaultGridSize = ReadFloatChecked(Node, "DefaultGridSize", 5, 5, 0, cMaxPaperMm);
  FDefaultGridColor = ReadColorChecked(Node, "DefaultGridColor", 0xFFFFC0, 0xFFFFC0);
  FDefaultPageColor = ReadColorChecked(Node, "DefaultPageColor", 0xFFFFFF, 0xFFFFFF);
  ReadBitmap32FromXml(Node, "DefaultBgrImage", FDefaultBgrImage);
  FDefaultBgrTiled = Node->ReadBool("DefaultBgrTiled", false);
  FThumbnailWidth = ReadIntChecked(Node, "ThumbnailWidth", 80, 80, 1, cMaxThumbnail);
  FThumbnailHeight = ReadIntChecked(Node, "ThumbnailHeight", 60, 60, 1, cMaxThumbnail);
  if (OnLoadAdditionalInfo) OnLoadAdditionalInfo(this, Node);
  Invalidate();
}

void TdtpDocument::WriteIndex() {
  if (FArchive) WriteIndexTo(FArchive.get());
}

void TdtpDocument::WriteIndexTo(TSingleStorage* Archive) {
  TXmlDocument xml;
  xml.Root()->SetName("Document");
  xml.SetXmlFormat(xfIndented);
  SavePropertiesToXml(xml.Root());
  TMemoryStream s;
  xml.SaveToStream(&s);
  s.SetPosition(0);
  Archive->WriteStream(&s, "Index.xml");
}

// --- clearing and loading ------------------------------------------------------------

void TdtpDocument::ClearContent() {
  // Clearing reads nothing back and must leave no undo steps behind.
  LockUndo();
  try {
    if (FEditedShape) EndShapeEdit(false);
    SetDragState(0);
    // A bracket left open by an interrupted edit would silence every later notification.
    FUpdateCount = FUndoBracket = 0;
    FBracketHasCommand = FPendingShape = FPendingSelection = FPendingFocus = false;
    StopShapeHint();
    FHintShape = nullptr;
    for (auto& p : FPages) {
      p->ClearShapes();
      ShapeDestroyed(p.get());
    }
    FPages.clear();
    FCurrentPageIndex = -1;
    FFocusShape = FHotShape = nullptr;
    ClearUndo();
  } catch (...) {
    UnlockUndo();
    throw;
  }
  UnlockUndo();
}

void TdtpDocument::Clear() {
  ClearContent();
  FArchive.reset();
  SetDefaults();
}

void TdtpDocument::LoadFromFile(const std::string& FileName) {
  CheckNotBusy();
  BeginBusy(crHourGlass);
  try {
    if (!FileExists(FileName)) throw Exception("Cannot find file \"" + FileName + "\"");
    Clear();
    FArchive = std::make_unique<TSingleStorage>();
    FArchive->SetOverwriteMode(0);
    FArchive->SetOpenReadOnly(FOpenReadOnly);
    FArchive->SetFileName(FileName);
    int32_t n = 0;
    {
      TMemoryStream s;
      ReadArchiveStream(FArchive.get(), "Index.xml", s);
      TXmlDocument xml;
      xml.LoadFromStream(&s);
      LoadPropertiesFromXml(xml.Root());
      // The flag was stored directly; a read-only document also leaves edit mode, as the
      // setter would make it.
      if (FReadOnly && FMode == vmEdit) FMode = vmBrowse;
      n = ReadPageCount(xml.Root());
    }
    for (int32_t i = 0; i < n; ++i) {
      DoProgress(ptLoading, i + 1, n, float(i) / float(n));
      auto page = NewShape<TdtpPage>();
      page->SetLoaded(false);
      page->SetStoredNumber(i + 1);
      TMemoryStream s;
      ReadArchiveStream(FArchive.get(), ThumbStreamName(i + 1), s);
      if (s.GetSize() > 0 && ThumbnailPlausible(s)) {
        TBitmap bmp;
        bool ok = true;
        try {
          bmp.LoadFromStream(&s);
        } catch (const Exception&) {
          ok = false;  // a broken thumbnail is rebuilt from the page when needed
        }
        if (ok) page->SetThumbnail(&bmp);
      }
      AddPage(std::move(page));
    }
    SetCurrentPageIndex(0);
    SetModified(false);
    DoProgress(ptLoading, n, n, 1.0f);
  } catch (...) {
    // A load that fails half-way leaves the document cleared and detached from the file: a
    // later save must not treat the pages it could not read as deleted.
    if (FArchive) {
      try {
        ClearContent();
      } catch (...) {
      }
      FArchive.reset();
      SetDefaults();
    }
    EndBusy();
    throw;
  }
  EndBusy();
}

void TdtpDocument::LoadPage(int32_t Index) {
  TdtpPage* page = GetPage(Index);
  if (!FArchive || !page) return;
  page->SetLoaded(true);
  // A page added since the last save has nothing stored.
  if (page->StoredNumber() <= 0) return;
  SetViewCursor(crAppStart);
  LockUndo();
  try {
    TMemoryStream s;
    ReadArchiveStream(FArchive.get(), PageStreamName(page->StoredNumber()), s);
    if (s.GetSize() > 0) {
      TXmlDocument xml;
      xml.LoadFromStream(&s);
      page->LoadFromXml(xml.Root());
    }
  } catch (...) {
    UnlockUndo();
    SetViewCursor(Cursor());
    throw;
  }
  UnlockUndo();
  SetViewCursor(Cursor());
}

// --- saving --------------------------------------------------------------------------

namespace {

// The number N of a stream named "Page%.4d.xml" or "Thumb%.4d.bmp", else 0.
int32_t PageStreamNumber(const std::string& Name) {
  auto digits = [&](size_t At) {
    int32_t n = 0;
    for (size_t i = At; i < At + 4; ++i) {
      if (Name[i] < '0' || Name[i] > '9') return 0;
      n = n * 10 + (Name[i] - '0');
    }
    return n;
  };
  if (Name.size() == 12 && Name.compare(0, 4, "Page") == 0 && Name.compare(8, 4, ".xml") == 0) return digits(4);
  if (Name.size() == 13 && Name.compare(0, 5, "Thumb") == 0 && Name.compare(9, 4, ".bmp") == 0) return digits(5);
  return 0;
}

}  // namespace

void TdtpDocument::WriteArchive(TSingleStorage* Archive, bool All) {
  const int32_t n = GetPageCount();
  // A page is written when it changed, when it is new, and when its place moved since it was
  // stored: its number then names another page's streams.
  std::vector<char> write(size_t(n), 0);
  for (int32_t i = 0; i < n; ++i) {
    TdtpPage* page = GetPage(i);
    write[size_t(i)] = All || page->Modified() || page->StoredNumber() != i + 1;
  }
  // Everything to be written is read before any stream is replaced.
  for (int32_t i = 0; i < n; ++i) {
    TdtpPage* page = GetPage(i);
    if (!write[size_t(i)] || page->Loaded()) continue;
    const bool modified = page->Modified();
    page->EnsureLoaded();
    if (modified) page->SetModified(true);
  }
  Archive->BeginTransaction();
  try {
    WriteIndexTo(Archive);
    for (int32_t i = 0; i < n; ++i) {
      if (!write[size_t(i)]) continue;
      TdtpPage* page = GetPage(i);
      TXmlDocument xml;
      xml.Root()->SetName("Page");
      xml.SetWriteOnDefault(0);
      xml.SetXmlFormat(xfIndented);
      xml.Root()->WriteInteger("Index", i + 1);
      page->SaveToXml(xml.Root());
      DoProgress(ptSaving, i + 1, n, (float(i) + 0.2f) / float(n));
      TMemoryStream s;
      xml.SaveToStream(&s);
      DoProgress(ptSaving, i + 1, n, (float(i) + 0.7f) / float(n));
      s.SetPosition(0);
      Archive->WriteStream(&s, PageStreamName(i + 1));
      DoProgress(ptSaving, i + 1, n, (float(i) + 0.7f) / float(n));
      const std::string thumbName = ThumbStreamName(i + 1);
      if (FStoreThumbnails) {
        TBitmap* thumb = page->GetThumbnail();
        if (thumb) {
          TMemoryStream t;
          thumb->SaveToStream(&t);
          t.SetPosition(0);
          Archive->WriteStream(&t, thumbName);
        } else if (Archive->StreamExists(thumbName)) {
          Archive->DeleteStream(thumbName);
        }
      } else if (page->StoredNumber() != i + 1 && Archive->StreamExists(thumbName)) {
        // Not writing thumbnails: one stored under this number shows another page.
        Archive->DeleteStream(thumbName);
      }
    }
    DoProgress(ptSaving, n, n, 1.0f);
    // Streams of numbers past the last page, gaps or not.
    std::vector<std::string> stale;
    for (int32_t k = 0; k < Archive->Count(); ++k) {
      const std::string& name = Archive->Items(k)->Name();
      if (PageStreamNumber(name) > n) stale.push_back(name);
    }
    for (const std::string& name : stale) Archive->DeleteStream(name);
    Archive->CommitTransaction();
  } catch (...) {
    Archive->RollbackTransaction();
    throw;
  }
}

void TdtpDocument::FinishSave() {
  if (FEditedShape) FSavedDuringEdit = true;
  for (int32_t i = 0; i < GetPageCount(); ++i) GetPage(i)->SetStoredNumber(i + 1);
  SetModified(false);
  if (!FUndoPastSave) ClearUndo();
  if (double(FArchive->FreeSpace()) > 0.25 * double(FArchive->TotalSize())) {
    // The save is on disk already; a compaction that fails leaves that file as it was.
    try {
      // The compacted copy replaces the file a link names, not the link the file was opened by.
      const std::string real = FollowLinks(FArchive->FileName());
      if (real != FArchive->FileName()) FArchive->SetFileName(real);
      FArchive->CompactByCopy();
    } catch (const Exception&) {
    }
  }
}

void TdtpDocument::SaveToArchive() {
  if (!FArchive) throw Exception("Archive must exist");
  WriteArchive(FArchive.get(), false);
  FinishSave();
}

void TdtpDocument::SaveToFile(const std::string& FileName) {
  CheckNotBusy();
  BeginBusy(crHourGlass);
  try {
    if (FArchive && SamePath(FArchive->FileName(), FileName)) {
      SaveToArchive();
    } else {
      for (auto& p : FPages) p->EnsureLoaded();
      // A new file beside the target, flushed to disk, then renamed over it: the target
      // holds its old content or the whole new document. Until then the document stays
      // with the file it came from.
      // A link is followed, so that the file it names is written rather than the link.
      const std::string target = FollowLinks(FileName);
      const std::string temp = TempFileBeside(target);
      auto fresh = std::make_unique<TSingleStorage>();
      fresh->SetOverwriteMode(0);
      fresh->SetCreateNew(true);
      try {
        fresh->SetFileName(temp);
        CopyFileMode(target, temp);
        WriteArchive(fresh.get(), true);
        fresh->ReplaceFile(target);
      } catch (...) {
        fresh.reset();
        DeleteFile(temp);
        throw;
      }
      FArchive = std::move(fresh);
      FinishSave();
    }
  } catch (...) {
    EndBusy();
    throw;
  }
  EndBusy();
}

// --- deleting a page -----------------------------------------------------------------

void TdtpDocument::DeletePage(int32_t Index) {
  TdtpPage* page = GetPage(Index);
  if (!page) return;
  if (!FArchiveDirect || !FArchive) {
    // Later pages are read now: their stream numbers stop matching their places.
    for (int32_t i = Index + 1; i < GetPageCount(); ++i) GetPage(i)->EnsureLoaded();
    // The page's shapes are reported gone so that no focus or hint reference outlives them.
    LockUndo();
    try {
      page->ClearShapes();
    } catch (...) {
      UnlockUndo();
      throw;
    }
    UnlockUndo();
    ShapeDestroyed(page);
    FPages.erase(FPages.begin() + Index);
    SetModified(true);
  } else {
    DeletePageDirect(Index);
  }
  PageRemovedAt(Index);
}

std::unique_ptr<TdtpPage> TdtpDocument::TakePage(TdtpPage* Page) {
  if (IndexOfPage(Page) < 0) return nullptr;
  // Its shapes go along, so they are read from this document's archive now; later pages are
  // read too, since their stream numbers stop matching their places.
  for (int32_t i = IndexOfPage(Page); i < GetPageCount(); ++i) GetPage(i)->EnsureLoaded();
  // An edit or drag in it ends (what was typed goes along), and no reference to it or its
  // shapes stays behind.
  EndEditBeforeRemoval(Page, true);
  const int32_t index = IndexOfPage(Page);
  if (index < 0) return nullptr;
  if (Page == CurrentPage() && (FDragState == 1 || FDragState == 2)) SetDragState(0);
  std::vector<TdtpShape*> gone{Page};
  for (size_t i = 0; i < gone.size(); ++i)
    for (int32_t c = 0; c < gone[i]->GetShapeCount(); ++c) gone.push_back(gone[i]->GetShape(c));
  for (size_t i = gone.size(); i-- > 1;) {
    gone[i]->SetSelected(false);
    ShapeDestroyed(gone[i]);
  }
  ShapeDestroyed(Page);
  std::unique_ptr<TdtpPage> out = std::move(FPages[size_t(index)]);
  FPages.erase(FPages.begin() + index);
  out->SetStoredNumber(0);
  out->SetDocument(nullptr);
  SetModified(true);
  PageRemovedAt(index);
  return out;
}

void TdtpDocument::PageRemovedAt(int32_t Index) {
  for (int32_t i = Index; i < GetPageCount(); ++i) PageChanged(GetPage(i));
  if (FCurrentPageIndex > Index || FCurrentPageIndex >= GetPageCount())
    SetCurrentPageIndex(std::max(0, FCurrentPageIndex - 1));
  else if (FCurrentPageIndex == Index && CurrentPage()) {
    // The next page moved into the current place: it is shown now, so it must be read.
    CurrentPage()->EnsureLoaded();
    UpdateLayout();
  }
  Invalidate();
}

void TdtpDocument::DeletePageDirect(int32_t Index) {
  TdtpPage* page = GetPage(Index);
  const int32_t stored = page->StoredNumber();
  if (stored > 0) {
    // The file loses this page and nothing else: its streams go, later numbers move down, and
    // the file's own "Index.xml" (not the unsaved properties) counts one page less. One
    // transaction, so the file never holds half of it.
    TSingleStorage* a = FArchive.get();
    a->BeginTransaction();
    try {
      TMemoryStream s;
      ReadArchiveStream(a, "Index.xml", s);
      std::unique_ptr<TXmlDocument> xml;
      int32_t count = 0;
      if (s.GetSize() > 0) {
        xml = std::make_unique<TXmlDocument>();
        xml->LoadFromStream(&s);
        count = ReadIntChecked(xml->Root(), "PageCount", 0, 0, 0, cMaxPageCount);
      }
      if (a->StreamExists(PageStreamName(stored))) a->DeleteStream(PageStreamName(stored));
      if (a->StreamExists(ThumbStreamName(stored))) a->DeleteStream(ThumbStreamName(stored));
      for (int32_t k = stored + 1; k <= count; ++k) {
        if (a->StreamExists(PageStreamName(k))) a->RenameStream(PageStreamName(k), PageStreamName(k - 1));
        if (a->StreamExists(ThumbStreamName(k))) a->RenameStream(ThumbStreamName(k), ThumbStreamName(k - 1));
      }
      if (xml && count >= stored) {
        xml->Root()->WriteInteger("PageCount", count - 1);
        xml->SetXmlFormat(xfIndented);
        TMemoryStream out;
        xml->SaveToStream(&out);
        out.SetPosition(0);
        a->WriteStream(&out, "Index.xml");
      }
      a->CommitTransaction();
    } catch (...) {
      a->RollbackTransaction();
      throw;
    }
    for (auto& p : FPages)
      if (p->StoredNumber() > stored) p->SetStoredNumber(p->StoredNumber() - 1);
  }
  // Removing the page's shapes is part of the deletion, not a step that undo could replay.
  LockUndo();
  try {
    page->ClearShapes();
  } catch (...) {
    UnlockUndo();
    throw;
  }
  UnlockUndo();
  ShapeDestroyed(page);
  FPages.erase(FPages.begin() + Index);
}

}  // namespace document
