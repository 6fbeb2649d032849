// Opens arbitrary bytes as a document file with the program's own start-up, pages through
// every page drawing it small (view and thumbnail), saves it to a second file and opens that
// again. An input that starts with the archive signature is the file itself; any other input
// is the XML of one page (before a first NUL byte: the document's "Index.xml" first), packed
// into a fresh archive, so that mutations reach the shapes rather than the archive directory.
// Only the program's own exceptions may come out of loading; saving what loaded must work and
// the saved file must load again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <QApplication>

#include "app/Startup.h"
#include "document/SingleFileStorage.h"
#include "document/dtpDocument.h"
#include "document/dtpPage.h"
#include "platform/Classes.h"
#include "platform/Exceptions.h"
#include "platform/Graphics.h"

namespace {

std::string gIn, gOut;
constexpr int32_t cMaxPages = 64;

void WriteFile(const std::string& Name, const uint8_t* Data, size_t Size) {
  FILE* f = std::fopen(Name.c_str(), "wb");
  if (!f) std::abort();
  if (Size && std::fwrite(Data, 1, Size, f) != Size) std::abort();
  std::fclose(f);
}

// A one-page archive holding Index (may be empty: defaults) and Page as its streams.
void WritePacked(const std::string& Name, const std::string& Index, const std::string& Page) {
  std::remove(Name.c_str());
  document::TSingleStorage a;
  a.SetCreateNew(true);
  a.SetFileName(Name);
  const std::string index =
      Index.empty() ? std::string("<Document><PageCount>1</PageCount><ThumbnailWidth>40</ThumbnailWidth>"
                                  "<ThumbnailHeight>30</ThumbnailHeight></Document>")
                    : Index;
  platform::TStringStream i(index), p(Page);
  a.WriteStream(&i, "Index.xml");
  a.WriteStream(&p, document::PageStreamName(1));
  a.Flush();
}

// Draws every page as the view shows it, scaled so that the page is about 160 pixels wide.
void PaintAll(document::TdtpDocument& Doc) {
  platform::TBitmap bmp;
  bmp.SetPixelFormat(platform::pf32bit);
  bmp.SetSize(160, 160);
  for (int32_t i = 0; i < Doc.PageCount(); ++i) {
    // The page's grid, dots or pattern, as the user may turn them on, drawn too.
    Doc.SetHelperMethod(document::TdtpHelperMethodtype((i + 1) % 4));
    Doc.SetCurrentPageIndex(i);
    document::TdtpPage* page = Doc.GetPage(i);
    const float w = page ? page->DocWidth() : 210.0f;
    Doc.SetScreenDpm(w > 0 ? 160.0f / w : 1.0f);
    Doc.UpdateLayout();
    Doc.PaintDocument(bmp.Canvas());
    if (page) page->GetThumbnail();
  }
  bmp.Canvas()->Release();
}

void FuzzDocument(const uint8_t* Data, size_t Size) {
  if (Size >= 4 && std::memcmp(Data, "STOR", 4) == 0) {
    WriteFile(gIn, Data, Size);
  } else {
    const auto* c = reinterpret_cast<const char*>(Data);
    const void* nul = std::memchr(Data, 0, Size);
    const size_t cut = nul ? size_t(static_cast<const uint8_t*>(nul) - Data) : 0;
    WritePacked(gIn, nul ? std::string(c, cut) : std::string(), nul ? std::string(c + cut + 1, Size - cut - 1) : std::string(c, Size));
  }
  document::TdtpComponent doc(nullptr);
  try {
    doc.LoadFromFile(gIn);
    // Drawing, saving and reloading thousands of pages does not fit one input's time budget; a
    // declared page count is otherwise cheap (pages load when shown).
    if (doc.PageCount() > cMaxPages) return;
    for (int32_t i = 0; i < doc.PageCount(); ++i) doc.GetPage(i)->EnsureLoaded();
  } catch (const platform::Exception& e) {
    if (std::getenv("KD_FUZZ_VERBOSE")) std::fprintf(stderr, "refused: %s\n", e.what());
    return;
  }
  if (std::getenv("KD_FUZZ_VERBOSE"))
    std::fprintf(stderr, "loaded %d pages, %d shapes on the first\n", doc.PageCount(),
                 doc.PageCount() ? doc.GetPage(0)->GetShapeCount() : 0);
  PaintAll(doc);
  std::remove(gOut.c_str());
  doc.SaveToFile(gOut);
  const int32_t pages = doc.PageCount();
  document::TdtpComponent again(nullptr);
  again.LoadFromFile(gOut);
  if (again.PageCount() != pages) std::abort();
  for (int32_t i = 0; i < again.PageCount(); ++i) {
    again.GetPage(i)->EnsureLoaded();
    if (again.GetPage(i)->GetShapeCount() != doc.GetPage(i)->GetShapeCount()) std::abort();
  }
  PaintAll(again);
}

}  // namespace

// Undefined behaviour (an overflow on absurd sizes) is a finding like a crash.
extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }

// Caches the font and windowing libraries keep until the process ends are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libQt6Core\nleak:libQt6Gui\nleak:libQt6Widgets\nleak:libglib\nleak:libdbus\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Kept to the end of the process: destroying it among the exit handlers crashes inside Qt.
  static QApplication* app = new QApplication(*argc, *argv);
  (void)app;
  app::InitializeUnits();
  const std::string dir = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
  const std::string stem = dir + "/fuzz_document." + std::to_string(getpid());
  gIn = stem + ".in.hsf";
  gOut = stem + ".out.hsf";
  std::atexit([] {
    std::remove(gIn.c_str());
    std::remove(gOut.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size > (1u << 20)) return 0;
  FuzzDocument(Data, Size);
  return 0;
}
