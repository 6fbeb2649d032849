// The application's catalogue (107 mini-HTML captions) rendered by the HTML tree view offscreen,
// written to a PNG for a person to look at, with checks on node order, selection painting and
// the change and click events the main form relies on.
#include <gtest/gtest.h>

#include <QImage>
#include <string>
#include <vector>

#include "platform/Graphics.h"
#include "tests/common/TestSupport.h"
#include "tests/platform/GuiTestEvents.h"
#include "widgets/HtmlTreeView.h"

using namespace platform;
using namespace widgets;

namespace {

struct TGroup {
  int Index;
  int Parent;  // -1 top level
  const char* Caption;
};

// The nodes with children and the fixed leaves, by absolute index.
const TGroup kGroups[] = {
    {0, -1, "<B>Inleiding</B>"},
    {1, -1, "<B>Uitgebreide uitleg</B>"},
    {2, -1, "<B><U>Loopoefeningen (36)</U></B>"},
    {3, 2, "<B><FONT color=\"#008000\">Gemakkelijk (13)</FONT></B>"},
    {4, 3, "<B><FONT color=\"#008000\">Belasting laag (10)</FONT></B>"},
    {15, 3, "<B><FONT color=\"#000080\">Belasting gemiddeld (3)</FONT></B>"},
    {19, 2, "<B><FONT color=\"#000080\" bgcolor=\"#FFFFFF\" >Gemiddeld (9)</FONT></B>"},
    {20, 19, "<B><FONT color=\"#008000\">Belasting laag (3)</FONT></B>"},
    {24, 19, "<FONT color=\"#000080\" ><B>Belasting gemiddeld (4)</B></FONT>"},
    {29, 19, "<B><FONT color=\"#FF0000\">Belasting hoog (2)</FONT></B>"},
    {32, 2, "<B><FONT color=\"#FF0000\">Moeilijk (14)</FONT></B>"},
    {33, 32, "<FONT color=\"#000080\" ><B>Belasting gemiddeld (7)</B></FONT>"},
    {41, 32, "<B><FONT color=\"#FF0000\">Belasting hoog (7)</FONT></B>"},
    {49, -1, "<B><U>Springoefeningen (34)</U></B>"},
    {50, 49, "<B><FONT color=\"#008000\">Gemakkelijk (23)</FONT></B>"},
    {51, 50, "<B><FONT color=\"#008000\">Belasting laag (5)</FONT></B>"},
    {57, 50, "<FONT color=\"#000080\" ><B>Belasting gemiddeld (7)</B></FONT>"},
    {65, 50, "<B><FONT color=\"#FF0000\">Belasting hoog (11)</FONT></B>"},
    {77, 49, "<B><FONT color=\"#000080\" bgcolor=\"#FFFFFF\"   >Gemiddeld (9)</FONT></B>"},
    {78, 77, "<B><FONT color=\"#008000\">Belasting laag (2)</FONT></B>"},
    {81, 77, "<FONT color=\"#000080\" ><B>Belasting gemiddeld (5)</B></FONT>"},
    {87, 77, "<B><FONT color=\"#FF0000\">Belasting hoog (2)</FONT></B>"},
    {90, 49, "<B><FONT color=\"#FF0000\">Moeilijk (2)</FONT></B>"},
    {91, 90, "<FONT color=\"#000080\" ><B>Belasting gemiddeld (1)</B></FONT>"},
    {93, 90, "<B><FONT color=\"#FF0000\">Belasting hoog (1)</FONT></B>"},
    {95, -1, "<B>Variaties</B>"},
    {106, -1, "<B>Copyright</B>"},
};

// Leaf ranges by parent.
const int kLeaves[][3] = {{4, 5, 14},   {15, 16, 18}, {20, 21, 23}, {24, 25, 28}, {29, 30, 31}, {33, 34, 40},
                          {41, 42, 48}, {51, 52, 56}, {57, 58, 64}, {65, 66, 76}, {78, 79, 80}, {81, 82, 86},
                          {87, 88, 89}, {91, 92, 92}, {93, 94, 94}, {95, 96, 105}};

// The exercise names are content data; only exercise 4 is known by name.
std::string ExerciseName(int n) { return n == 4 ? "DEAD LEG RUN" : "OEFENING " + std::to_string(n); }

// Builds the catalogue depth first, as the form resource stores it.
void BuildCatalogue(THtmlTreeView& tree, std::vector<TTreeNode*>& byIndex) {
  byIndex.assign(107, nullptr);
  std::vector<std::string> caption(107);
  std::vector<int> parent(107, -2);
  for (const TGroup& g : kGroups) {
    caption[g.Index] = g.Caption;
    parent[g.Index] = g.Parent;
  }
  const int variations[10][2] = {{1, 1}, {1, 2}, {2, 1}, {36, 1}, {37, 1}, {42, 1}, {44, 1}, {45, 1}, {54, 1}, {56, 1}};
  int n = 0;
  for (const auto& range : kLeaves) {
    for (int i = range[1]; i <= range[2]; ++i) {
      parent[i] = range[0];
      if (range[0] == 95) {
        const auto& v = variations[i - 96];
        caption[i] = "<FONT color=\"#808080\"><B>" + std::to_string(v[0]) + ". " + ExerciseName(v[0]) +
                     " (variatie " + std::to_string(v[1]) + ")</B></FONT>";
      } else {
        ++n;
        const std::string text = std::to_string(n) + ". " + ExerciseName(n);
        caption[i] = i <= 7 ? "<B>" + text + "</B>" : "<FONT color=\"#808080\"><B>" + text + "</B></FONT>";
      }
    }
  }
  ASSERT_EQ(n, 70);
  for (int i = 0; i < 107; ++i) {
    ASSERT_NE(parent[i], -2) << i;
    byIndex[i] = tree.Items()->AddChild(parent[i] < 0 ? nullptr : byIndex[parent[i]], caption[i]);
  }
}

class CatalogueTree : public ::testing::Test {
 protected:
  void SetUp() override {
    tree = std::make_unique<THtmlTreeView>(nullptr);
    TFont f;
    f.SetName("Arial");
    f.SetSize(8);
    tree->SetFont(&f);
    tree->SetColor(clWhite);
    tree->SetShowSelection(true);
    tree->SetSelectionColor(clSilver);
    tree->SetSelectionFontColor(clBlack);
    BuildCatalogue(*tree, nodes);
  }
  std::unique_ptr<THtmlTreeView> tree;
  std::vector<TTreeNode*> nodes;
};

TEST_F(CatalogueTree, NodesCountDepthFirst) {
  EXPECT_EQ(tree->Items()->Count(), 107);
  for (int i = 0; i < 107; ++i) {
    EXPECT_EQ(nodes[i]->AbsoluteIndex(), i);
    EXPECT_EQ(tree->Items()->Item(i), nodes[i]);
  }
  EXPECT_EQ(nodes[8]->Level(), 3);
  EXPECT_EQ(nodes[19]->Count(), 3);
  EXPECT_EQ(nodes[95]->Count(), 10);
  EXPECT_EQ(nodes[106]->Index(), 5);
  // The control's own text (keyboard search) is the caption without tags.
  TTreeNode* n19 = nodes[19];
  tree->FullExpand();
  EXPECT_EQ(n19->DisplayRect(false).Top, 19 * 16);
  EXPECT_EQ(nodes[8]->Text(), "<FONT color=\"#808080\"><B>4. DEAD LEG RUN</B></FONT>");
}

TEST_F(CatalogueTree, ChangingRunsBeforeTheSelectionMovesAndClickFiresAnywhere) {
  tree->SetBounds(0, 0, 400, 300);
  std::vector<std::string> log;
  tree->OnChanging = [&](TObject*, TTreeNode* node, bool&) {
    log.push_back("changing " + std::to_string(node->AbsoluteIndex()) + " from " +
                  (tree->Selected() ? std::to_string(tree->Selected()->AbsoluteIndex()) : "none"));
  };
  tree->OnChange = [&](TObject*, TTreeNode* node) { log.push_back("change " + std::to_string(node->AbsoluteIndex())); };
  tree->OnClick = [&](TObject*) { log.push_back("click"); };
  guitest::Press(tree.get(), 60, 16 + 8);   // row 1
  guitest::Release(tree.get(), 60, 16 + 8);
  guitest::Press(tree.get(), 60, 280);      // below the last row: no node
  guitest::Release(tree.get(), 60, 280);
  const std::vector<std::string> want{"changing 1 from none", "change 1", "click", "click"};
  EXPECT_EQ(log, want);
  // A refused change keeps the selection.
  tree->OnChanging = [](TObject*, TTreeNode*, bool& allow) { allow = false; };
  tree->SetSelected(nodes[0]);
  EXPECT_EQ(tree->Selected(), nodes[1]);
}

// Typing selects by the caption without tags: letters extend the prefix, a pause starts anew.
TEST_F(CatalogueTree, TypedLettersSelectTheNextMatchingNode) {
  tree->SetBounds(0, 0, 400, 300);
  std::vector<std::string> log;
  tree->OnChanging = [&](TObject*, TTreeNode* node, bool&) { log.push_back("changing " + std::to_string(node->AbsoluteIndex())); };
  tree->OnChange = [&](TObject*, TTreeNode* node) { log.push_back("change " + std::to_string(node->AbsoluteIndex())); };
  auto type = [&](const char* c) { guitest::Key(tree.get(), Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8(c)); };
  guitest::Press(tree.get(), 60, 8);  // "Inleiding"
  guitest::Release(tree.get(), 60, 8);
  log.clear();
  type("s");
  EXPECT_EQ(tree->Selected(), nodes[49]);  // "Springoefeningen (34)"
  EXPECT_EQ(log, (std::vector<std::string>{"changing 49", "change 49"}));
  type("P");  // "sp": still the same node
  type("c");  // "spc" matches nothing: the selection stays
  EXPECT_EQ(tree->Selected(), nodes[49]);
  EXPECT_EQ(log.size(), 2u);
  // After a pause a new search; one letter repeated steps through the matches, wrapping.
  nodes[2]->Expand(false);
  guitest::WaitFor([] { return false; }, TreeSearchPause + 100);
  for (int want : {3, 19, 3}) {
    type("g");
    EXPECT_EQ(tree->Selected()->AbsoluteIndex(), want);
  }
  type("x");  // "gggx": no match
  EXPECT_EQ(tree->Selected(), nodes[3]);
  // Backspace goes to the parent and starts the typed prefix anew.
  guitest::WaitFor([] { return false; }, TreeSearchPause + 100);
  tree->SetSelected(nodes[4]);
  type("g");
  EXPECT_EQ(tree->Selected(), nodes[19]);
  guitest::Key(tree.get(), Qt::Key_Backspace);
  EXPECT_EQ(tree->Selected(), nodes[2]);
  type("e");  // "e" alone matches nothing, where "ge" would
  EXPECT_EQ(tree->Selected(), nodes[2]);
  tree->SetSelected(nodes[3]);
  // Entities are matched as the characters they show.
  TTreeNode* accented = tree->Items()->Add(nullptr, "<B>&euro;</B> &amp; \xC3\xA9\xC3\xA9n");
  guitest::WaitFor([] { return false; }, TreeSearchPause + 100);
  type("&");
  EXPECT_EQ(tree->Selected(), nodes[3]);
  guitest::WaitFor([] { return false; }, TreeSearchPause + 100);
  for (const char* c : {"\xE2\x82\xAC", " ", "&", " ", "\xC3\x89"}) type(c);  // the euro, blanks, capital e acute
  EXPECT_EQ(tree->Selected(), accented);
  // An accent stored as a combining mark is the accented letter typed, and no plain e.
  TTreeNode* combining = tree->Items()->Add(nullptr, "e\xCC\x81" "clair");
  guitest::WaitFor([] { return false; }, TreeSearchPause + 100);
  type("\xC3\xA9");
  EXPECT_EQ(tree->Selected(), combining);
  tree->SetSelected(nodes[0]);
  guitest::WaitFor([] { return false; }, TreeSearchPause + 100);
  type("e");
  EXPECT_EQ(tree->Selected(), nodes[0]);
}

TEST_F(CatalogueTree, RendersToPng) {
  tree->FullExpand();
  const int rows = tree->VisibleRowCount();
  ASSERT_EQ(rows, 107);
  tree->SetBounds(0, 0, 420, rows * 16);
  tree->SetSelected(nodes[19]);
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(420, rows * 16);
  tree->PaintTo(bmp.Canvas());
  QImage image = bmp.Image().copy();
  const std::string path = kdtest::OutputDir() + "/catalogue_tree.png";
  ASSERT_TRUE(image.save(QString::fromStdString(path)));

  auto at = [&](int x, int y) { return bmp.Canvas()->Pixel(x, y); };
  // The selected row is silver from the text's left to the client width less 4.
  const int rowTop = 19 * 16;
  const int textLeft = 2 * 19;  // level 1 with root buttons shown
  EXPECT_EQ(at(textLeft + 1, rowTop + 1), static_cast<TColor>(0xC0C0C0));
  EXPECT_EQ(at(420 - 6, rowTop + 8), static_cast<TColor>(0xC0C0C0));
  EXPECT_EQ(at(420 - 2, rowTop + 8), static_cast<TColor>(0xFFFFFF));
  // Each coloured caption paints some pixels in its colour; an unselected row keeps white.
  auto count = [&](int row, TColor c) {
    int n = 0;
    for (int y = row * 16; y < row * 16 + 16; ++y)
      for (int x = 0; x < 420; ++x) n += at(x, y) == c;
    return n;
  };
  EXPECT_GT(count(3, 0x008000), 10);   // "Gemakkelijk" in green
  EXPECT_GT(count(15, 0x800000), 10);  // #000080 is navy: $00800000
  EXPECT_GT(count(29, 0x0000FF), 10);  // red
  EXPECT_GT(count(8, 0x808080), 10);   // grey exercise
  EXPECT_GT(count(0, 0x000000), 10);   // black bold
  EXPECT_EQ(count(0, 0x008000), 0);
}

TEST_F(CatalogueTree, WindowPaintMatchesOffscreenPaint) {
  tree->SetBounds(0, 0, 300, 120);
  tree->HandleNeeded();
  tree->SetSelected(nodes[1]);
  QImage shot = guitest::W(tree.get())->grab().toImage().convertToFormat(QImage::Format_RGB32);
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(tree->ClientWidth(), tree->ClientHeight());
  tree->PaintTo(bmp.Canvas());
  const QPoint origin = guitest::W(tree.get())->rect().topLeft();
  int differ = 0;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < tree->ClientWidth() - 20; ++x) {
      const QRgb c = shot.pixel(origin.x() + x, origin.y() + y);
      const TColor want = bmp.Canvas()->Pixel(x, y);
      differ += (static_cast<TColor>(qRed(c) | qGreen(c) << 8 | qBlue(c) << 16) != want);
    }
  EXPECT_EQ(differ, 0);
}

}  // namespace
