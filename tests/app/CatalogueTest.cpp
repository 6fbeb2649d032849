// The catalogue table: captions, structure, and the index rules for content files, the "Video"
// button and movies, for all 107 items.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/Catalogue.h"
#include "platform/ComCtrls.h"

using namespace app;

namespace {

const std::set<int32_t> kGroups = {2, 3, 4, 15, 19, 20, 24, 29, 32, 33, 41, 49, 50, 51, 57, 65, 77, 78, 81, 87, 90, 91, 93, 95};

// Leaf ranges by parent, as the catalogue is laid out.
const std::map<int32_t, std::pair<int32_t, int32_t>> kLeafRanges = {
    {4, {5, 14}},   {15, {16, 18}}, {20, {21, 23}}, {24, {25, 28}}, {29, {30, 31}}, {33, {34, 40}},
    {41, {42, 48}}, {51, {52, 56}}, {57, {58, 64}}, {65, {66, 76}}, {78, {79, 80}}, {81, {82, 86}},
    {87, {88, 89}}, {91, {92, 92}}, {93, {94, 94}}, {95, {96, 105}}};

}  // namespace

TEST(Catalogue, StructureAndCounts) {
  const auto& items = CatalogueItems();
  ASSERT_EQ(items.size(), 107u);
  int32_t top = 0, leaves = 0;
  for (int32_t i = 0; i < 107; ++i) {
    if (items[size_t(i)].Level == 0) ++top;
    if (items[size_t(i)].Children == 0) ++leaves;
    EXPECT_EQ(CatalogueIsLeaf(i), items[size_t(i)].Children == 0) << i;
    EXPECT_EQ(items[size_t(i)].Children > 0, kGroups.count(i) == 1) << i;
  }
  EXPECT_EQ(top, 6);
  EXPECT_EQ(leaves, 80 + 3);  // 80 exercises plus "Inleiding", "Uitgebreide uitleg", "Copyright"
  int32_t exercises = 0;
  for (const auto& [parent, range] : kLeafRanges) {
    EXPECT_EQ(items[size_t(parent)].Children, range.second - range.first + 1) << parent;
    for (int32_t i = range.first; i <= range.second; ++i) {
      EXPECT_TRUE(CatalogueIsLeaf(i)) << i;
      EXPECT_EQ(items[size_t(i)].Level, items[size_t(parent)].Level + 1) << i;
    }
    exercises += range.second - range.first + 1;
  }
  EXPECT_EQ(exercises, 80);
  EXPECT_FALSE(CatalogueIsLeaf(-1));
  EXPECT_FALSE(CatalogueIsLeaf(107));
}

TEST(Catalogue, CaptionsExact) {
  const auto& items = CatalogueItems();
  EXPECT_EQ(items[0].Caption, "<B>Inleiding</B>");
  EXPECT_EQ(items[1].Caption, "<B>Uitgebreide uitleg</B>");
  EXPECT_EQ(items[2].Caption, "<B><U>Loopoefeningen (36)</U></B>");
  EXPECT_EQ(items[19].Caption, "<B><FONT color=\"#000080\" bgcolor=\"#FFFFFF\" >Gemiddeld (9)</FONT></B>");
  EXPECT_EQ(items[77].Caption, "<B><FONT color=\"#000080\" bgcolor=\"#FFFFFF\"   >Gemiddeld (9)</FONT></B>");
  EXPECT_EQ(items[24].Caption, "<FONT color=\"#000080\" ><B>Belasting gemiddeld (4)</B></FONT>");
  EXPECT_EQ(items[93].Caption, "<B><FONT color=\"#FF0000\">Belasting hoog (1)</FONT></B>");
  EXPECT_EQ(items[106].Caption, "<B>Copyright</B>");
  EXPECT_EQ(items[5].Caption, "<B>1. OEFENING 1</B>");
  EXPECT_EQ(items[7].Caption, "<B>3. OEFENING 3</B>");
  EXPECT_EQ(items[8].Caption, "<FONT color=\"#808080\"><B>4. DEAD LEG RUN</B></FONT>");
  EXPECT_EQ(items[48].Caption, "<FONT color=\"#808080\"><B>36. OEFENING 36</B></FONT>");
  EXPECT_EQ(items[52].Caption, "<FONT color=\"#808080\"><B>37. OEFENING 37</B></FONT>");
  EXPECT_EQ(items[94].Caption, "<FONT color=\"#808080\"><B>70. OEFENING 70</B></FONT>");
  EXPECT_EQ(items[96].Caption, "<FONT color=\"#808080\"><B>1. OEFENING 1 (variatie 1)</B></FONT>");
  EXPECT_EQ(items[97].Caption, "<FONT color=\"#808080\"><B>1. OEFENING 1 (variatie 2)</B></FONT>");
  EXPECT_EQ(items[105].Caption, "<FONT color=\"#808080\"><B>56. OEFENING 56 (variatie 1)</B></FONT>");
  // Exercise numbers run 1..70 over the leaves in tree order, outside "Variaties".
  int32_t n = 0;
  for (int32_t i = 5; i < 95; ++i) {
    if (!CatalogueIsLeaf(i)) continue;
    ++n;
    const std::string text = std::to_string(n) + ". " + ExerciseName(n);
    EXPECT_NE(items[size_t(i)].Caption.find(">" + text + "</B>"), std::string::npos) << i;
  }
  EXPECT_EQ(n, 70);
  EXPECT_EQ(ExerciseName(0), "");
  EXPECT_EQ(ExerciseName(71), "");
}

TEST(Catalogue, ContentFileVideoAndMovieForEveryIndex) {
  for (int32_t i = 0; i < 107; ++i) {
    std::string file, movie;
    bool video;
    if (i == 0) file = "inleidingdownload.hsf";
    else if (i == 1) file = "uitgebreide uitlegdownload.hsf";
    else if (i == 106) file = "copyright.hsf";
    else if (kGroups.count(i)) file = std::to_string(i) + ".hsf";
    else if (i >= 5 && i <= 7) file = "oefening" + std::to_string(i - 4) + ".hsf";
    else file = "download.hsf";
    video = i >= 5 && i <= 105 && !kGroups.count(i);
    if (video) movie = i <= 7 ? "oefening" + std::to_string(i - 4) + ".swf" : "download.swf";
    EXPECT_EQ(CatalogueContentFile(i), file) << i;
    EXPECT_EQ(CatalogueShowsVideo(i), video) << i;
    EXPECT_EQ(CatalogueMovieFile(i), movie) << i;
  }
  for (int32_t i : {-1, 107, 1000}) {
    EXPECT_EQ(CatalogueContentFile(i), "");
    EXPECT_EQ(CatalogueMovieFile(i), "");
    EXPECT_FALSE(CatalogueShowsVideo(i));
  }
}

TEST(Catalogue, LoadedIntoATreeInDepthFirstOrder) {
  platform::TTreeView tree(nullptr);
  LoadCatalogue(tree.Items());
  LoadCatalogue(tree.Items());  // loading again replaces, it does not append
  ASSERT_EQ(tree.Items()->Count(), 107);
  const auto& items = CatalogueItems();
  int32_t top = 0;
  for (int32_t i = 0; i < 107; ++i) {
    platform::TTreeNode* node = tree.Items()->Item(i);
    EXPECT_EQ(node->AbsoluteIndex(), i);
    EXPECT_EQ(node->Text(), items[size_t(i)].Caption);
    EXPECT_EQ(node->Level(), items[size_t(i)].Level) << i;
    EXPECT_EQ(node->Count(), items[size_t(i)].Children) << i;
    EXPECT_EQ(node->ImageIndex(), 0);
    EXPECT_EQ(node->SelectedIndex(), 0);
    EXPECT_EQ(node->StateIndex(), -1);
    if (!node->Parent()) ++top;
  }
  EXPECT_EQ(top, 6);
  EXPECT_EQ(tree.Items()->Item(8)->Parent()->AbsoluteIndex(), 4);
  EXPECT_EQ(tree.Items()->Item(105)->Parent()->AbsoluteIndex(), 95);
}
