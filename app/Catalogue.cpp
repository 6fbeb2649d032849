#include "app/Catalogue.h"

#include <array>

#include "platform/ComCtrls.h"

namespace app {

namespace {

// Exercise names by number (1..70). Only exercise 4's name is known from the content; the rest
// keep a neutral placeholder until the content supplies them.
const std::array<const char*, ExerciseCount> kExerciseNames = {
    "OEFENING 1", "OEFENING 2", "OEFENING 3", "DEAD LEG RUN", "OEFENING 5",
    "OEFENING 6", "OEFENING 7", "OEFENING 8", "OEFENING 9", "OEFENING 10",
    "OEFENING 11", "OEFENING 12", "OEFENING 13", "OEFENING 14", "OEFENING 15",
    "OEFENING 16", "OEFENING 17", "OEFENING 18", "OEFENING 19", "OEFENING 20",
    "OEFENING 21", "OEFENING 22", "OEFENING 23", "OEFENING 24", "OEFENING 25",
    "OEFENING 26", "OEFENING 27", "OEFENING 28", "OEFENING 29", "OEFENING 30",
    "OEFENING 31", "OEFENING 32", "OEFENING 33", "OEFENING 34", "OEFENING 35",
    "OEFENING 36", "OEFENING 37", "OEFENING 38", "OEFENING 39", "OEFENING 40",
    "OEFENING 41", "OEFENING 42", "OEFENING 43", "OEFENING 44", "OEFENING 45",
    "OEFENING 46", "OEFENING 47", "OEFENING 48", "OEFENING 49", "OEFENING 50",
    "OEFENING 51", "OEFENING 52", "OEFENING 53", "OEFENING 54", "OEFENING 55",
    "OEFENING 56", "OEFENING 57", "OEFENING 58", "OEFENING 59", "OEFENING 60",
    "OEFENING 61", "OEFENING 62", "OEFENING 63", "OEFENING 64", "OEFENING 65",
    "OEFENING 66", "OEFENING 67", "OEFENING 68", "OEFENING 69", "OEFENING 70",
};

// One group node of the tree: its caption and its direct children. Leaves are generated.
struct TGroup {
  int32_t Index;
  int32_t Level;
  int32_t Children;
  const char* Caption;
};

const TGroup kGroups[] = {
    {0, 0, 0, "<B>Inleiding</B>"},
    {1, 0, 0, "<B>Uitgebreide uitleg</B>"},
    {2, 0, 3, "<B><U>Loopoefeningen (36)</U></B>"},
    {3, 1, 2, "<B><FONT color=\"#008000\">Gemakkelijk (13)</FONT></B>"},
    {4, 2, 10, "<B><FONT color=\"#008000\">Belasting laag (10)</FONT></B>"},
    {15, 2, 3, "<B><FONT color=\"#000080\">Belasting gemiddeld (3)</FONT></B>"},
    {19, 1, 3, "<B><FONT color=\"#000080\" bgcolor=\"#FFFFFF\" >Gemiddeld (9)</FONT></B>"},
    {20, 2, 3, "<B><FONT color=\"#008000\">Belasting laag (3)</FONT></B>"},
    {24, 2, 4, "<FONT color=\"#000080\" ><B>Belasting gemiddeld (4)</B></FONT>"},
    {29, 2, 2, "<B><FONT color=\"#FF0000\">Belasting hoog (2)</FONT></B>"},
    {32, 1, 2, "<B><FONT color=\"#FF0000\">Moeilijk (14)</FONT></B>"},
    {33, 2, 7, "<FONT color=\"#000080\" ><B>Belasting gemiddeld (7)</B></FONT>"},
    {41, 2, 7, "<B><FONT color=\"#FF0000\">Belasting hoog (7)</FONT></B>"},
    {49, 0, 3, "<B><U>Springoefeningen (34)</U></B>"},
    {50, 1, 3, "<B><FONT color=\"#008000\">Gemakkelijk (23)</FONT></B>"},
    {51, 2, 5, "<B><FONT color=\"#008000\">Belasting laag (5)</FONT></B>"},
    {57, 2, 7, "<FONT color=\"#000080\" ><B>Belasting gemiddeld (7)</B></FONT>"},
    {65, 2, 11, "<B><FONT color=\"#FF0000\">Belasting hoog (11)</FONT></B>"},
    {77, 1, 3, "<B><FONT color=\"#000080\" bgcolor=\"#FFFFFF\"   >Gemiddeld (9)</FONT></B>"},
    {78, 2, 2, "<B><FONT color=\"#008000\">Belasting laag (2)</FONT></B>"},
    {81, 2, 5, "<FONT color=\"#000080\" ><B>Belasting gemiddeld (5)</B></FONT>"},
    {87, 2, 2, "<B><FONT color=\"#FF0000\">Belasting hoog (2)</FONT></B>"},
    {90, 1, 2, "<B><FONT color=\"#FF0000\">Moeilijk (2)</FONT></B>"},
    {91, 2, 1, "<FONT color=\"#000080\" ><B>Belasting gemiddeld (1)</B></FONT>"},
    {93, 2, 1, "<B><FONT color=\"#FF0000\">Belasting hoog (1)</FONT></B>"},
    {95, 0, 10, "<B>Variaties</B>"},
    {106, 0, 0, "<B>Copyright</B>"},
};

// The exercises the ten "Variaties" leaves vary, with the variation number.
const int32_t kVariationOf[10] = {1, 1, 2, 36, 37, 42, 44, 45, 54, 56};
const int32_t kVariationNo[10] = {1, 2, 1, 1, 1, 1, 1, 1, 1, 1};

const TGroup* GroupAt(int32_t Index) {
  for (const TGroup& g : kGroups)
    if (g.Index == Index) return &g;
  return nullptr;
}

std::vector<TCatalogueItem> BuildItems() {
  std::vector<TCatalogueItem> items;
  items.reserve(CatalogueCount);
  int32_t exercise = 0, variation = 0;
  for (int32_t i = 0; i < CatalogueCount; ++i) {
    if (const TGroup* g = GroupAt(i)) {
      items.push_back({g->Level, g->Children, g->Caption});
      continue;
    }
    // A leaf: its level is one below the nearest group before it that has children.
    int32_t level = 0;
    for (int32_t j = i - 1; j >= 0; --j)
      if (const TGroup* g = GroupAt(j); g && g->Children > 0) {
        level = g->Level + 1;
        break;
      }
    std::string text;
    if (i >= 96) {
      const int32_t n = kVariationOf[variation];
      text = std::to_string(n) + ". " + ExerciseName(n) + " (variatie " + std::to_string(kVariationNo[variation]) + ")";
      ++variation;
    } else {
      ++exercise;
      text = std::to_string(exercise) + ". " + ExerciseName(exercise);
    }
    std::string caption = i <= 7 ? "<B>" + text + "</B>" : "<FONT color=\"#808080\"><B>" + text + "</B></FONT>";
    items.push_back({level, 0, std::move(caption)});
  }
  return items;
}

}  // namespace

const std::vector<TCatalogueItem>& CatalogueItems() {
  static const std::vector<TCatalogueItem> items = BuildItems();
  return items;
}

std::string ExerciseName(int32_t N) {
  if (N < 1 || N > ExerciseCount) return {};
  return kExerciseNames[size_t(N - 1)];
}

bool CatalogueIsLeaf(int32_t Index) {
  return Index >= 0 && Index < CatalogueCount && CatalogueItems()[size_t(Index)].Children == 0;
}

std::string CatalogueContentFile(int32_t Index) {
  if (Index < 0 || Index >= CatalogueCount) return {};
  switch (Index) {
    case 0: return "inleidingdownload.hsf";
    case 1: return "uitgebreide uitlegdownload.hsf";
    case 106: return "copyright.hsf";
    case 5: return "oefening1.hsf";
    case 6: return "oefening2.hsf";
    case 7: return "oefening3.hsf";
    default: break;
  }
  if (!CatalogueIsLeaf(Index)) return std::to_string(Index) + ".hsf";
  return "download.hsf";
}

std::string CatalogueMovieFile(int32_t Index) {
  if (!CatalogueShowsVideo(Index)) return {};
  if (Index <= 7) return "oefening" + std::to_string(Index - 4) + ".swf";
  return "download.swf";
}

bool CatalogueShowsVideo(int32_t Index) { return Index >= 5 && Index <= 105 && CatalogueIsLeaf(Index); }

void LoadCatalogue(platform::TTreeNodes* Nodes) {
  Nodes->Clear();
  const auto& items = CatalogueItems();
  std::vector<platform::TTreeNode*> parents;  // the open node of each level
  for (const TCatalogueItem& item : items) {
    parents.resize(size_t(item.Level));
    platform::TTreeNode* node = Nodes->AddChild(item.Level ? parents.back() : nullptr, item.Caption);
    node->SetImageIndex(0);
    node->SetSelectedIndex(0);
    parents.push_back(node);
  }
}

}  // namespace app
