#include "tools/samplecontent/SampleContent.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "document/dtpDocument.h"
#include "document/dtpEffectShape.h"
#include "document/dtpLineShape.h"
#include "document/dtpMemoShape.h"
#include "document/dtpPage.h"
#include "document/dtpPolygonShape.h"
#include "document/dtpShape.h"
#include "document/dtpTextShape.h"
#include "platform/Forms.h"
#include "platform/SysUtils.h"
#include "raster/Raster32.h"
#include "tools/SwfWriter.h"
#include "app/Catalogue.h"

namespace samplecontent {

using document::TdtpPage;
using document::TdtpShape;

std::vector<TSampleFile> SampleFiles() {
  std::vector<TSampleFile> files;
  std::set<std::string> seen;
  for (int32_t i = 0; i < app::CatalogueCount; ++i) {
    const std::string name = app::CatalogueContentFile(i);
    if (seen.insert(name).second) files.push_back({name, 2 + i % 3});
  }
  for (int32_t i = 0; i < app::CatalogueCount; ++i) {
    const std::string movie = app::CatalogueMovieFile(i);
    if (!movie.empty() && seen.insert(movie).second) files.push_back({movie, 0});
  }
  return files;
}

void InitializeSampleContent() {
  platform::InitializeForms();
  document::InitializeDtpShape();
  document::InitializeDtpEffectShape();
  document::InitializeDtpPage();
  document::InitializeDtpTextShape();
  document::InitializeDtpPolygonShape();
  document::InitializeDtpLineShape();
  document::InitializeDtpMemoShape();
  raster::InitializeRaster32();
  document::InitializeDtpDocument();
}

const std::vector<TSampleText>& SampleTexts() {
  static const std::vector<TSampleText> texts = {
      {"inleidingdownload.hsf",
       "Inleiding",
       {"De loopladder is een eenvoudig hulpmiddel voor snelheid, coördinatie en voetenwerk. In deze "
        "catalogus vindt u de oefeningen geordend naar moeilijkheid en belasting. Kies links een "
        "oefening: de tekening verschijnt hier, de film achter de knop \"Video\".",
        "Begin rustig: eerst de juiste volgorde van de voeten, daarna het tempo. Een goede "
        "warming-up vóór elke training voorkomt blessures; ideeën voor variatie staan bij "
        "\"Variaties\"."}},
      {"uitgebreide uitlegdownload.hsf",
       "Uitgebreide uitleg",
       {"Elke oefening staat op één of meer pagina's. De ladder is oranje getekend, de linkervoet "
        "groen en de rechtervoet rood; pijlen geven de looprichting aan.",
        "Groen betekent gemakkelijk of een lage belasting, blauw gemiddeld en rood moeilijk of een "
        "hoge belasting. Lees eerst de uitleg, bekijk dan de tekening en daarna de film.",
        "Met de knoppen boven de tekening zoomt u in en uit, past u de pagina aan het scherm aan "
        "en bladert u naar de vorige of volgende pagina. Zó houdt u het overzicht."}},
      {"copyright.hsf",
       "Copyright",
       {"© het kadrilo-team. Alle rechten voorbehouden. Deze voorbeeldcatalogus is met de eigen "
        "tekenmachine van het programma gemaakt; de namen van de oefeningen zijn voorbeelden.",
        "Niets uit deze uitgave mag zonder voorafgaande toestemming worden verveelvoudigd of "
        "openbaar gemaakt. Train verantwoord en luister naar uw lichaam – ook als het tempo "
        "omhoog gaat."}},
  };
  return texts;
}

const TSampleText* FindSampleText(const std::string& Name) {
  for (const TSampleText& t : SampleTexts())
    if (t.Name == Name) return &t;
  return nullptr;
}

namespace {

constexpr platform::TColor kLadderColor = 0x0080FF;  // orange, $00BBGGRR
constexpr platform::TColor kLeftFoot = 0x008000;
constexpr platform::TColor kRightFoot = 0x0000C0;
constexpr platform::TColor kArrowColor = 0x800000;

template <typename T>
T* Add(TdtpShape* Parent, float L, float T_, float W, float H) {
  auto s = document::NewShape<T>();
  T* raw = s.get();
  Parent->AddShape(std::move(s));
  raw->SetDocBounds(L, T_, W, H);
  return raw;
}

// A ladder of Cells square cells of Size mm, vertical, its top-left at (X, Y).
void AddLadder(TdtpPage* Page, float X, float Y, int32_t Cells, float Size) {
  for (int32_t c = 0; c < Cells; ++c) {
    auto* r = Add<document::TdtpRectangleShape>(Page, X, Y + c * Size, Size, Size);
    r->SetUseFill(false);
    r->SetUseOutline(true);
    r->SetOutlineColor(kLadderColor);
    r->SetOutlineWidth(1.2f);
    r->SetName("Sport" + std::to_string(c + 1));
  }
}

// Two footsteps side by side, grouped under one parent shape so they move together.
void AddFootPair(TdtpPage* Page, float X, float Y, float Size) {
  auto* group = Add<document::TdtpShape>(Page, X, Y, Size, Size);
  group->SetName("Voeten");
  for (int side = 0; side < 2; ++side) {
    auto* f = Add<document::TdtpEllipseShape>(group, side * Size * 0.5f + Size * 0.1f, Size * 0.15f, Size * 0.3f, Size * 0.7f);
    f->SetFillColor(side ? kRightFoot : kLeftFoot);
    f->SetUseOutline(false);
  }
}

void AddFoot(TdtpPage* Page, float X, float Y, float Size, bool Right) {
  auto* f = Add<document::TdtpEllipseShape>(Page, X, Y, Size * 0.35f, Size * 0.75f);
  f->SetFillColor(Right ? kRightFoot : kLeftFoot);
  f->SetUseOutline(false);
}

void AddArrow(TdtpPage* Page, float X1, float Y1, float X2, float Y2) {
  auto* a = Add<document::TdtpLineShape>(Page, std::min(X1, X2), std::min(Y1, Y2), std::max(std::abs(X2 - X1), 1.0f),
                                         std::max(std::abs(Y2 - Y1), 1.0f));
  a->SetLinePoint(0, {X1, Y1});
  a->SetLinePoint(1, {X2, Y2});
  a->SetFillColor(kArrowColor);
  a->SetLineWidth(0.8f);
  a->Arrow1()->SetStyle(document::asArrow);
}

// One page of an exercise drawing: a ladder, the steps taken through it and arrows showing the
// direction; Seed and Page vary the pattern.
void DrawPage(TdtpPage* Page, int32_t Seed, int32_t PageNo) {
  const float cell = 20, x = 95, y = 30;
  const int32_t cells = 10;
  AddLadder(Page, x, y, cells, cell);
  const int32_t pattern = (Seed * 7 + PageNo * 3) % 4;
  for (int32_t c = 0; c < cells; ++c) {
    const float cy = y + c * cell + 3;
    switch (pattern) {
      case 0:  // both feet in every cell
        AddFootPair(Page, x + 1, cy, cell - 2);
        break;
      case 1:  // alternating in and beside the ladder
        AddFoot(Page, c % 2 ? x + cell + 4 : x + 4, cy, cell, c % 2 == 1);
        break;
      case 2:  // one foot per cell, left and right in turn
        AddFoot(Page, x + (c % 2 ? 11 : 3), cy, cell, c % 2 == 1);
        break;
      default:  // side steps: outside left, inside, outside right
        AddFoot(Page, c % 3 == 0 ? x - 10 : c % 3 == 1 ? x + 6 : x + cell + 3, cy, cell, c % 3 == 2);
        break;
    }
  }
  // Direction of travel beside the ladder, and a return arrow at its end.
  AddArrow(Page, x - 25, y + cells * cell, x - 25, y);
  AddArrow(Page, x + cell + 20, y, x + cell + 20, y + cells * cell);
  AddArrow(Page, x + cell + 20, y + cells * cell + 12, x - 25, y + cells * cell + 12);
  // A page marker: as many small squares as the page number.
  for (int32_t k = 0; k <= PageNo; ++k) {
    auto* m = Add<document::TdtpRectangleShape>(Page, 20 + k * 8, 20, 5, 5);
    m->SetFillColor(kArrowColor);
  }
}

// A page of words: the title in large bold letters over a word-wrapped paragraph.
void WritePage(TdtpPage* Page, const TSampleText& Text, int32_t PageNo) {
  auto* title = Add<document::TdtpTextShape>(Page, 20, 20, 170, 12);
  title->SetName("Titel");
  title->SetFontName("Arial");
  title->SetFontStyle(1);  // bold
  title->SetFontHeight(10);
  title->SetFontColor(0x800000);  // navy
  title->SetText(Text.Title);
  auto* paragraph = Add<document::TdtpMemoShape>(Page, 20, 40, 170, 60);
  paragraph->SetName("Alinea");
  paragraph->SetFontName("Arial");
  paragraph->SetFontHeight(5);
  paragraph->SetFontColor(0x000000);
  paragraph->SetWordWrap(true);
  paragraph->SetText(Text.Paragraphs[size_t(PageNo) % Text.Paragraphs.size()]);
}

}  // namespace

void WriteSampleDocument(const std::string& FileName, int32_t Seed, int32_t Pages) {
  document::TdtpComponent doc(nullptr);
  doc.Clear();
  const TSampleText* text = FindSampleText(platform::ExtractFileName(FileName));
  for (int32_t p = 0; p < Pages; ++p) {
    const int32_t index = doc.AddPage(nullptr);
    if (text)
      WritePage(doc.GetPage(index), *text, p);
    else
      DrawPage(doc.GetPage(index), Seed, p);
  }
  doc.SetCurrentPageIndex(0);
  doc.SaveToFile(FileName);
}

void WriteSampleMovie(const std::string& FileName, int32_t Seed) {
  // A ladder on a white stage and a foot that steps through it, cell by cell.
  tools::TSwfWriter w(320, 400, 8);
  w.SetBackgroundColor({255, 255, 255});
  std::vector<tools::TSwfPath> ladder;
  for (int c = 0; c < 8; ++c) {
    tools::TSwfPath cellPath;
    const double y = 20 + c * 45;
    cellPath.Points = {{130, y}, {175, y}, {175, y + 45}, {130, y + 45}};
    cellPath.LineWidth = 3;
    cellPath.LineColor = {255, 128, 0};
    ladder.push_back(cellPath);
  }
  const uint16_t ladderId = w.DefineShape(ladder);
  tools::TSwfPath foot;
  foot.Points = {{0, 6}, {6, 0}, {12, 0}, {18, 6}, {18, 28}, {12, 34}, {6, 34}, {0, 28}};
  const uint8_t shade = uint8_t(40 * (Seed % 4));
  foot.Fill = tools::TSwfRgb{shade, 128, 0};
  const uint16_t footId = w.DefineShape({foot});
  w.PlaceObject(ladderId, 1, 0, 0);
  w.PlaceObject(footId, 2, 143, 26);
  w.ShowFrame();
  for (int step = 1; step < 16; ++step) {
    const int c = step / 2;
    const double x = step % 2 ? 133 : 153;
    w.MoveObject(2, x, 26 + c * 45);
    w.ShowFrame();
  }
  w.SaveToFile(FileName, Seed % 2 == 0);
}

int32_t WriteSampleCatalogue(const std::string& Folder, bool Overwrite) {
  const std::string base = platform::IncludeTrailingPathDelimiter(Folder);
  int32_t written = 0, seed = 0;
  for (const TSampleFile& f : SampleFiles()) {
    ++seed;
    const std::string path = base + f.Name;
    if (!Overwrite && platform::FileExists(path)) continue;
    if (f.Pages > 0)
      WriteSampleDocument(path, seed, f.Pages);
    else
      WriteSampleMovie(path, seed);
    ++written;
  }
  return written;
}

}  // namespace samplecontent
