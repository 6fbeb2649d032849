#include "platform/Menus.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <memory>

#include "platform/Forms.h"

using namespace platform;

TEST(MenusTest, ShortCutEncoding) {
  EXPECT_EQ(ShortCut('X', ssCtrl), 0x4058);
  EXPECT_EQ(ShortCut(VK_DELETE, ssShift), 0x202E);
  EXPECT_EQ(ShortCut(VK_F4, ssAlt), 0x8073);
  EXPECT_EQ(ShortCut('A', ssShift | ssCtrl | ssAlt), 0xE041);
  EXPECT_EQ(ShortCut(0x1234, 0), scNone);  // not a key code
  Word key;
  TShiftState shift;
  ShortCutToKey(0x6043, key, shift);  // Ctrl+Shift+C
  EXPECT_EQ(key, 'C');
  EXPECT_EQ(shift, ssCtrl | ssShift);

  EXPECT_EQ(ShortCutToText(ShortCut('X', ssCtrl)), "Ctrl+X");
  EXPECT_EQ(ShortCutToText(ShortCut('C', ssCtrl)), "Ctrl+C");
  EXPECT_EQ(ShortCutToText(ShortCut(VK_DELETE, ssShift)), "Shift+Del");
  EXPECT_EQ(ShortCutToText(ShortCut('A', ssShift | ssCtrl | ssAlt)), "Shift+Ctrl+Alt+A");
  EXPECT_EQ(ShortCutToText(ShortCut(VK_F12, 0)), "F12");
  EXPECT_EQ(ShortCutToText(ShortCut(VK_NEXT, 0)), "PgDn");
  EXPECT_EQ(ShortCutToText(scNone), "");
  // Every named key comes back from its text.
  for (int k = 1; k < 256; ++k) {
    const TShortCut sc = ShortCut(static_cast<Word>(k), ssCtrl);
    const std::string text = ShortCutToText(sc);
    if (!text.empty()) {
      EXPECT_EQ(TextToShortCut(text), sc) << text;
    }
  }
  EXPECT_EQ(TextToShortCut("ctrl+v"), ShortCut('V', ssCtrl));
  EXPECT_EQ(TextToShortCut("Ctrl+"), scNone);
  EXPECT_EQ(TextToShortCut("Hyper+Q"), scNone);
}

TEST(MenusTest, StripHotkey) {
  EXPECT_EQ(StripHotkey("&Afsluiten"), "Afsluiten");
  EXPECT_EQ(StripHotkey("Rock && &Roll"), "Rock & Roll");
  EXPECT_EQ(StripHotkey("trailing&"), "trailing");
  EXPECT_EQ(StripHotkey(""), "");
}

TEST(MenusTest, ItemTreeOwnershipAndErrors) {
  auto owner = std::make_unique<TComponent>(nullptr);
  auto* menu = new TPopupMenu(owner.get());
  auto* a = new TMenuItem(owner.get());
  auto* b = new TMenuItem(owner.get());
  auto* sub = new TMenuItem(owner.get());
  a->SetCaption("Cut");
  b->SetCaption("Paste");
  menu->Items()->Add(a);
  menu->Items()->Add(b);
  menu->Items()->Insert(1, sub);
  EXPECT_EQ(menu->Items()->Count(), 3);
  EXPECT_EQ(menu->Items()->IndexOf(sub), 1);
  EXPECT_EQ(sub->Parent(), menu->Items());
  try {
    menu->Items()->Items(5);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message, "List index out of bounds (5)");
  }
  EXPECT_THROW(menu->Items()->Insert(9, new TMenuItem(owner.get())), EListError);
  EXPECT_THROW(sub->Add(menu->Items()), EInvalidOperation);
  EXPECT_THROW(a->Add(a), EInvalidOperation);

  // Moving an item takes it out of its old list.
  a->Add(b);
  EXPECT_EQ(menu->Items()->Count(), 2);
  EXPECT_EQ(b->Parent(), a);
  // Freeing an item frees its sub-items and takes it out of its parent.
  delete a;
  EXPECT_EQ(menu->Items()->Count(), 1);
  EXPECT_EQ(owner->ComponentCount(), 3);  // menu, sub and the stray item; a and b are gone
  // The owner can free the rest in any order.
  owner.reset();
}

TEST(MenusTest, RadioItemsAndAutomaticHotkeys) {
  TPopupMenu menu(nullptr);
  const char* captions[] = {"Afspelen", "Pauzeren", "-", "&Stop", "Volledig scherm", "Afsluiten", "&&"};
  std::vector<TMenuItem*> items;
  for (const char* c : captions) {
    auto* i = new TMenuItem(nullptr);
    i->SetCaption(c);
    menu.Items()->Add(i);
    items.push_back(i);
  }
  TMenu::AssignHotkeys(menu.Items());
  EXPECT_EQ(items[0]->Caption(), "&Afspelen");
  EXPECT_EQ(items[1]->Caption(), "&Pauzeren");
  EXPECT_EQ(items[2]->Caption(), "-");
  EXPECT_EQ(items[3]->Caption(), "&Stop");
  EXPECT_EQ(items[4]->Caption(), "&Volledig scherm");
  EXPECT_EQ(items[5]->Caption(), "A&fsluiten");  // A is taken
  EXPECT_EQ(items[6]->Caption(), "&&");
  EXPECT_EQ(StripHotkey(items[5]->Caption()), "Afsluiten");

  items[0]->SetRadioItem(true);
  items[1]->SetRadioItem(true);
  items[0]->SetChecked(true);
  items[1]->SetChecked(true);
  EXPECT_FALSE(items[0]->Checked());
  EXPECT_TRUE(items[1]->Checked());
}

TEST(MenusTest, PopupRunsOnPopupThenTheChosenItem) {
  TPopupMenu menu(nullptr);
  auto* cut = new TMenuItem(nullptr);
  cut->SetCaption("Cut");
  cut->SetShortCut(ShortCut('X', ssCtrl));
  auto* off = new TMenuItem(nullptr);
  off->SetCaption("Color Control");
  off->SetEnabled(false);
  menu.Items()->Add(cut);
  menu.Items()->Add(off);
  std::vector<std::string> log;
  menu.OnPopup = [&](TObject*) { log.push_back("popup"); };
  cut->OnClick = [&](TObject* s) {
    EXPECT_EQ(s, cut);
    log.push_back("cut");
  };
  off->OnClick = [&](TObject*) { log.push_back("off"); };
  SetPopupHandler([&](TPopupMenu*, int32_t X, int32_t Y) {
    log.push_back("shown " + std::to_string(X) + "," + std::to_string(Y));
    return cut;
  });
  menu.Popup(40, 50);
  EXPECT_EQ(log, (std::vector<std::string>{"popup", "shown 40,50", "cut"}));
  EXPECT_EQ(menu.PopupPoint(), (TPoint{40, 50}));
  // A disabled item's click does nothing.
  SetPopupHandler([&](TPopupMenu*, int32_t, int32_t) { return off; });
  menu.Popup(0, 0);
  SetPopupHandler(nullptr);
  EXPECT_EQ(log.back(), "popup");
}

TEST(MenusTest, RealMenuShowsItemsAndReportsTheChoice) {
  TPopupMenu menu(nullptr);
  menu.SetAutoHotkeys(maManual);
  const char* captions[] = {"Cut", "Copy", "-", "Hidden", "Paste"};
  std::vector<TMenuItem*> items;
  for (const char* c : captions) {
    auto* i = new TMenuItem(nullptr);
    i->SetCaption(c);
    menu.Items()->Add(i);
    items.push_back(i);
  }
  items[0]->SetShortCut(ShortCut('X', ssCtrl));
  items[3]->SetVisible(false);
  int pasted = 0;
  items[4]->OnClick = [&](TObject*) { ++pasted; };
  QStringList seen;
  QString shortcut;
  QTimer::singleShot(50, [&] {
    auto* m = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(m, nullptr);
    for (QAction* a : m->actions()) {
      seen << (a->isSeparator() ? QString("-") : a->text());
      if (a->text() == "Cut") shortcut = a->shortcut().toString();
    }
    for (QAction* a : m->actions())
      if (a->text() == "Paste") a->trigger();
    m->close();
  });
  menu.Popup(10, 10);
  EXPECT_EQ(seen, (QStringList{"Cut", "Copy", "-", "Paste"}));
  EXPECT_EQ(shortcut.toStdString(), "Ctrl+X");
  EXPECT_EQ(pasted, 1);
}
