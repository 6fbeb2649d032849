// TWinControl: children, alignment, the window handle, borders, scroll bars, focus and keys.
#include <QApplication>
#include <QInputMethod>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "platform/Controls.h"
#include "platform/Controls_Widget.h"
#include "platform/Forms.h"
#include "platform/QtBridge.h"

namespace platform {

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  if (FHandleAllocated) AppHooksWindowDestroyed(WidgetHandle(), this);
  // Children are detached, not freed: their owner frees them. Nothing is laid out meanwhile.
  ++FAlignLevel;
  while (!FControls.empty()) FControls.back()->SetParent(nullptr);
  FScrollBars.reset();
}

void TWinControl::InsertControl(TControl* AControl) {
  FControls.push_back(AControl);
  AControl->FParent = this;
  auto* w = static_cast<QWidget*>(AControl->WidgetHandle());
  w->setParent(static_cast<QWidget*>(WidgetHandle()));
  if (auto* wc = dynamic_cast<TWinControl*>(AControl)) wc->UpdateWindowKind();
  AControl->FWidget->PlaceFromControl();
  AControl->ParentFontChanged();
  AControl->ParentColorChanged();
  if (auto* wc = dynamic_cast<TWinControl*>(AControl)) wc->ParentCtl3DChanged();
  AControl->UpdateWidgetVisibility();
  // Scroll bars stay above the client's children.
  if (FScrollBars) UpdateNonClient();
  if (auto* wc = dynamic_cast<TWinControl*>(AControl))
    if (FHandleAllocated) wc->CreateHandle();
  if (AControl->Align() != alNone) AlignControl(AControl);
}

void TWinControl::SetCtl3D(bool Value) {
  FParentCtl3D = false;
  StoreCtl3D(Value);
}

void TWinControl::SetParentCtl3D(bool Value) {
  if (Value == FParentCtl3D) return;
  FParentCtl3D = Value;
  ParentCtl3DChanged();
}

void TWinControl::StoreCtl3D(bool Value) {
  if (Value == FCtl3D) return;
  FCtl3D = Value;
  Ctl3DChanged();
  for (TControl* c : FControls)
    if (auto* wc = dynamic_cast<TWinControl*>(c)) wc->ParentCtl3DChanged();
}

void TWinControl::ParentCtl3DChanged() {
  if (FParentCtl3D && FParent) StoreCtl3D(FParent->FCtl3D);
}

void TWinControl::RemoveControl(TControl* AControl) {
  auto it = std::find(FControls.begin(), FControls.end(), AControl);
  if (it == FControls.end()) return;
  FControls.erase(it);
  AControl->FParent = nullptr;
  auto* w = static_cast<QWidget*>(AControl->WidgetHandle());
  if (w) w->setParent(nullptr);
  if (AControl->Align() != alNone) Realign();
}

TControl* TWinControl::ControlAtPos(const TPoint& P, bool AllowDisabled, bool AllowWinControls) const {
  for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
    TControl* c = *it;
    if (!c->Visible()) continue;
    if (!AllowDisabled && !c->Enabled()) continue;
    if (!AllowWinControls && dynamic_cast<TWinControl*>(c)) continue;
    if (auto* wc = dynamic_cast<TWinControl*>(c); wc && wc->IsPopupWindow()) continue;  // not in the client area
    if (PtInRect(c->BoundsRect(), P)) return c;
  }
  return nullptr;
}

void TWinControl::EnableAlign() {
  if (FAlignLevel > 0 && --FAlignLevel == 0) Realign();
}

void TWinControl::Realign() { AlignControl(nullptr); }

void TWinControl::AlignControl(TControl* AControl) {
  if (FAlignLevel > 0 || FRealigning) return;
  FRealigning = true;
  TRect r = ClientRect();
  AdjustClientRect(r);
  try {
    AlignControls(AControl, r);
  } catch (...) {
    FRealigning = false;
    throw;
  }
  FRealigning = false;
}

void TWinControl::AlignControls(TControl* AControl, TRect& Rect) {
  // Top first, then bottom, left, right and client, each group in the order of its edge; the
  // control that asked for the layout goes first among equals.
  static const TAlign order[] = {alTop, alBottom, alLeft, alRight, alClient};
  auto before = [](const TControl* c1, const TControl* c2, TAlign a) {
    switch (a) {
      case alTop: return c1->Top() < c2->Top();
      case alBottom: return c1->Top() + c1->Height() > c2->Top() + c2->Height();
      case alLeft: return c1->Left() < c2->Left();
      case alRight: return c1->Left() + c1->Width() > c2->Left() + c2->Width();
      default: return false;
    }
  };
  for (TAlign a : order) {
    std::vector<TControl*> group;
    if (AControl && AControl->Visible() && AControl->Align() == a) group.push_back(AControl);
    for (TControl* c : FControls) {
      if (c == AControl || !c->Visible() || c->Align() != a) continue;
      size_t j = 0;
      while (j < group.size() && !before(c, group[j], a)) ++j;
      group.insert(group.begin() + static_cast<std::ptrdiff_t>(j), c);
    }
    for (TControl* c : group) {
      const int32_t w = std::max(Rect.Right - Rect.Left, 0);
      const int32_t h = std::max(Rect.Bottom - Rect.Top, 0);
      switch (a) {
        case alTop:
          c->SetBounds(Rect.Left, Rect.Top, w, c->Height());
          Rect.Top += c->Height();
          break;
        case alBottom:
          c->SetBounds(Rect.Left, Rect.Bottom - c->Height(), w, c->Height());
          Rect.Bottom -= c->Height();
          break;
        case alLeft:
          c->SetBounds(Rect.Left, Rect.Top, c->Width(), h);
          Rect.Left += c->Width();
          break;
        case alRight:
          c->SetBounds(Rect.Right - c->Width(), Rect.Top, c->Width(), h);
          Rect.Right -= c->Width();
          break;
        case alClient:
          c->SetBounds(Rect.Left, Rect.Top, w, h);
          break;
        default:
          break;
      }
    }
  }
}

// Handle ---------------------------------------------------------------------------------------

void TWinControl::HandleNeeded() { CreateHandle(); }

HWND TWinControl::Handle() {
  CreateHandle();
  return WidgetHandle();
}

void TWinControl::CreateHandle() {
  if (FHandleAllocated) return;
  if (Parent() && !Parent()->FHandleAllocated) {
    Parent()->CreateHandle();  // creates ours too
    if (FHandleAllocated) return;
  }
  FHandleAllocated = true;
  CreateWnd();
  for (TControl* c : std::vector<TControl*>(FControls))
    if (auto* w = dynamic_cast<TWinControl*>(c)) w->CreateHandle();
}

void TWinControl::CreateParams(TCreateParams& Params) {
  Params = TCreateParams{};
}

void TWinControl::CreateWnd() {
  CreateParams(FParams);
  UpdateWindowKind();
  UpdateNonClient();
  // The window reports its size as it is created.
  WMSize();
}

void TWinControl::UpdateWindowKind() {
  if (!IsPopupWindow()) return;
  // A popup is a tool window over its parent's window: it stays above it, takes no task-bar
  // entry, and is not clipped by the parent.
  auto* w = static_cast<QWidget*>(WidgetHandle());
  QWidget* host = FParent ? static_cast<QWidget*>(FParent->WidgetHandle()) : nullptr;
  const Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint;
  if (w->parentWidget() == host && w->windowFlags() == flags) return;
  w->setParent(host, flags);
  FWidget->PlaceFromControl();
  UpdateWidgetVisibility();
}

void TWinControl::RecreateWnd() {
  if (!FHandleAllocated) return;
  DestroyWnd();
  FHandleAllocated = false;
  CreateHandle();
}

void TWinControl::WMSize() {
  Realign();
  Resize();
}

TPoint TWinControl::ClientOffset() const {
  if (FParams.ExStyle & WS_EX_CLIENTEDGE) return {2, 2};
  if (FParams.Style & WS_BORDER) return {1, 1};
  return {0, 0};
}

TRect TWinControl::ClientRect() const {
  const TPoint off = ClientOffset();
  int32_t w = Width() - 2 * off.X;
  int32_t h = Height() - 2 * off.Y;
  if (FScrollBars) {
    if (FScrollBars->Shown(SB_VERT)) w -= FScrollBars->Extent();
    if (FScrollBars->Shown(SB_HORZ)) h -= FScrollBars->Extent();
  }
  return {0, 0, std::max(w, 0), std::max(h, 0)};
}

void TWinControl::UpdateNonClient() {
  // Without the redraw-on-resize class styles only newly exposed parts are painted.
  auto* w = static_cast<QWidget*>(WidgetHandle());
  w->setAttribute(Qt::WA_StaticContents, (FParams.WindowClassStyle & (CS_HREDRAW | CS_VREDRAW)) == 0);
  if (FScrollBars) {
    const TPoint off = ClientOffset();
    const TRect cr = ClientRect();
    FScrollBars->Layout(QRect(off.X, off.Y, cr.Width(), cr.Height()));
    for (QObject* o : w->children())
      if (auto* sb = qobject_cast<QScrollBar*>(o)) sb->raise();
  }
  Invalidate();
}

void TWinControl::PaintBorder(QPainter& Painter) {
  const int w = Width(), h = Height();
  if (FParams.ExStyle & WS_EX_CLIENTEDGE) {
    // Sunken edge: shadow and dark shadow above-left, highlight and light below-right.
    Painter.setPen(ToQColor(clBtnShadow));
    Painter.drawLine(0, 0, w - 1, 0);
    Painter.drawLine(0, 0, 0, h - 1);
    Painter.setPen(ToQColor(clBtnHighlight));
    Painter.drawLine(0, h - 1, w - 1, h - 1);
    Painter.drawLine(w - 1, 0, w - 1, h - 1);
    Painter.setPen(ToQColor(cl3DDkShadow));
    Painter.drawLine(1, 1, w - 2, 1);
    Painter.drawLine(1, 1, 1, h - 2);
    Painter.setPen(ToQColor(cl3DLight));
    Painter.drawLine(1, h - 2, w - 2, h - 2);
    Painter.drawLine(w - 2, 1, w - 2, h - 2);
  } else if (FParams.Style & WS_BORDER) {
    Painter.setPen(ToQColor(clWindowFrame));
    Painter.setBrush(Qt::NoBrush);
    Painter.drawRect(0, 0, w - 1, h - 1);
  }
  if (FScrollBars && FScrollBars->Shown(SB_HORZ) && FScrollBars->Shown(SB_VERT)) {
    // The square between the two bars.
    const TPoint off = ClientOffset();
    const TRect cr = ClientRect();
    const int e = FScrollBars->Extent();
    Painter.fillRect(off.X + cr.Width(), off.Y + cr.Height(), e, e, ToQColor(clBtnFace));
  }
}

// Scroll bars ---------------------------------------------------------------------------------

int32_t TWinControl::SetScrollInfo(int32_t Bar, const TScrollInfo& Info, bool Redraw) {
  if (Bar != SB_HORZ && Bar != SB_VERT) return 0;
  if (!FScrollBars) FScrollBars = std::make_unique<detail::TScrollBarSet>(this);
  const TRect before = ClientRect();
  const int32_t pos = FScrollBars->Set(Bar, Info, Redraw);
  const TRect after = ClientRect();
  // Showing or hiding a bar changes the client area, which the window reports as a new size.
  if (!(before == after) && FHandleAllocated) WMSize();
  return pos;
}

bool TWinControl::GetScrollInfo(int32_t Bar, TScrollInfo& Info) const {
  if ((Bar != SB_HORZ && Bar != SB_VERT) || !FScrollBars) return false;
  return FScrollBars->Get(Bar, Info);
}

int32_t TWinControl::GetScrollPos(int32_t Bar) const {
  TScrollInfo si;
  si.fMask = SIF_POS;
  return GetScrollInfo(Bar, si) ? si.nPos : 0;
}

int32_t TWinControl::SetScrollPos(int32_t Bar, int32_t Pos, bool Redraw) {
  const int32_t old = GetScrollPos(Bar);
  TScrollInfo si;
  si.fMask = SIF_POS;
  si.nPos = Pos;
  SetScrollInfo(Bar, si, Redraw);
  return old;
}

void TWinControl::ScrollWindow(int32_t DX, int32_t DY) {
  if (DX == 0 && DY == 0) return;
  // Child windows move with the content, as ScrollWindow moves them.
  for (TControl* c : FControls)
    if (auto* wc = dynamic_cast<TWinControl*>(c); wc && !wc->IsPopupWindow()) c->SetBounds(c->Left() + DX, c->Top() + DY, c->Width(), c->Height());
  auto* w = static_cast<QWidget*>(WidgetHandle());
  const TPoint off = ClientOffset();
  const TRect cr = ClientRect();
  // The pixels move and only the uncovered strip is painted. Exclusive-or figures are kept by
  // position, so while any is shown everything is painted again instead.
  const QRect client(off.X, off.Y, cr.Width(), cr.Height());
  if (FXorOverlay.Count() == 0 && w->isVisible() && w->updatesEnabled()) {
    w->scroll(DX, DY, client);
    // The strips the move uncovered, for Update.
    QRegion exposed(client);
    exposed -= client.translated(DX, DY);
    for (const QRect& r : exposed) FWidget->AddPending(r);
  } else {
    Invalidate();
  }
}

void TWinControl::SetRedraw(bool Value) {
  auto* w = static_cast<QWidget*>(WidgetHandle());
  if (w->updatesEnabled() == Value) return;
  w->setUpdatesEnabled(Value);
  if (Value) w->update();
}

void TWinControl::ScrollBarAction(int32_t Bar, int32_t Code, int32_t Pos) {
  if (Bar == SB_HORZ)
    WMHScroll(Code, Pos);
  else
    WMVScroll(Code, Pos);
}

void TWinControl::WMHScroll(int32_t, int32_t) {}
void TWinControl::WMVScroll(int32_t, int32_t) {}

// Focus and keys ------------------------------------------------------------------------------

void TWinControl::SetTabStop(bool Value) {
  if (Value == FTabStop) return;
  FTabStop = Value;
  static_cast<QWidget*>(WidgetHandle())->setFocusPolicy(Value ? Qt::StrongFocus : Qt::ClickFocus);
}

bool TWinControl::CanFocus() const {
  TCustomForm* form = ParentForm();
  if (!form || !form->Visible() || !form->Enabled()) return false;
  for (const TControl* c = this; c && c != form; c = c->Parent())
    if (!c->Visible() || !c->Enabled()) return false;
  return true;
}

bool TWinControl::Focused() const { return static_cast<QWidget*>(WidgetHandle())->hasFocus(); }

void TWinControl::SetFocus() {
  if (!CanFocus()) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  auto* w = static_cast<QWidget*>(WidgetHandle());
  if (w->focusPolicy() == Qt::NoFocus) w->setFocusPolicy(Qt::ClickFocus);
  QWidget* win = w->window();
  if (!win->isActiveWindow()) {
    win->activateWindow();
    detail::NoteActivationRequested(win);
    QApplication::setActiveWindow(win);
  }
  w->setFocus(Qt::OtherFocusReason);
  if (IsPopupWindow()) detail::NotePopupFocused(w);
}

void TWinControl::DoEnter() {
  if (OnEnter) OnEnter(this);
}

void TWinControl::DoExit() {
  if (OnExit) OnExit(this);
}

void TWinControl::KeyDown(Word& Key, TShiftState Shift) {
  if (OnKeyDown) OnKeyDown(this, Key, Shift);
}

void TWinControl::KeyUp(Word& Key, TShiftState Shift) {
  if (OnKeyUp) OnKeyUp(this, Key, Shift);
}

void TWinControl::KeyPress(TKeyChar& Key) {
  if (OnKeyPress) OnKeyPress(this, Key);
}

bool TWinControl::WantSpecialKey(Word Key, TShiftState) {
  if (Key == VK_TAB) return FWantTabs;
  if (Key == VK_LEFT || Key == VK_RIGHT || Key == VK_UP || Key == VK_DOWN) return FWantArrows;
  return false;
}

bool TWinControl::DialogKey(Word, TShiftState) { return false; }
bool TWinControl::DialogChar(TKeyChar) { return false; }

// Windowless children (toolbar buttons) are asked too; each decides whether it may click.
bool TWinControl::BroadcastDialogKey(Word Key, TShiftState Shift) {
  if (DialogKey(Key, Shift)) return true;
  for (TControl* c : std::vector<TControl*>(FControls)) {
    if (auto* w = dynamic_cast<TWinControl*>(c)) {
      if (w->Visible() && w->BroadcastDialogKey(Key, Shift)) return true;
    } else if (c->DialogKey(Key, Shift)) {
      return true;
    }
  }
  return false;
}

bool TWinControl::BroadcastDialogChar(TKeyChar Key) {
  if (DialogChar(Key)) return true;
  for (TControl* c : std::vector<TControl*>(FControls)) {
    if (auto* w = dynamic_cast<TWinControl*>(c)) {
      if (w->Visible() && w->BroadcastDialogChar(Key)) return true;
    } else if (c->DialogChar(Key)) {
      return true;
    }
  }
  return false;
}

void TWinControl::SelectNextSibling(bool Forward) {
  TWinControl* p = Parent();
  if (!p) return;
  std::vector<TWinControl*> sibs;
  for (TControl* c : p->FControls)
    if (auto* w = dynamic_cast<TWinControl*>(c)) sibs.push_back(w);
  auto it = std::find(sibs.begin(), sibs.end(), this);
  if (it == sibs.end() || sibs.size() < 2) return;
  size_t i = static_cast<size_t>(it - sibs.begin());
  for (size_t n = 1; n < sibs.size(); ++n) {
    size_t j = Forward ? (i + n) % sibs.size() : (i + sibs.size() - n) % sibs.size();
    if (sibs[j]->CanFocus()) {
      sibs[j]->SetFocus();
      return;
    }
  }
}

namespace {
// The character a key press types, as Windows' message translation would deliver it.
TKeyChar TypedChar(int QtKey, uint32_t QtModifiers, const std::string& Text) {
  const bool ctrl = QtModifiers & Qt::ControlModifier;
  const bool alt = QtModifiers & Qt::AltModifier;
  if (ctrl && !alt) {
    if (QtKey >= Qt::Key_A && QtKey <= Qt::Key_Z) return static_cast<TKeyChar>(QtKey - Qt::Key_A + 1);
    if (QtKey == Qt::Key_BracketLeft) return 27;
    if (QtKey == Qt::Key_Backslash) return 28;
    if (QtKey == Qt::Key_BracketRight) return 29;
    return 0;
  }
  switch (QtKey) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 9;
    case Qt::Key_Return: case Qt::Key_Enter: return 13;
    case Qt::Key_Escape: return 27;
    default: break;
  }
  if (Text.empty()) return 0;
  // First code point of the UTF-8 text.
  const auto* s = reinterpret_cast<const unsigned char*>(Text.data());
  const size_t n = Text.size();
  char32_t c = s[0];
  size_t len = 1;
  if (c >= 0xF0 && n >= 4) { c &= 0x07; len = 4; }
  else if (c >= 0xE0 && n >= 3) { c &= 0x0F; len = 3; }
  else if (c >= 0xC0 && n >= 2) { c &= 0x1F; len = 2; }
  for (size_t i = 1; i < len; ++i) c = (c << 6) | (s[i] & 0x3F);
  if (c < 32 || c == 127) return 0;  // other control characters come from the key itself
  return c;
}
}  // namespace

bool TWinControl::InputMethodEnabled() const { return FWidget->testAttribute(Qt::WA_InputMethodEnabled); }

void TWinControl::SetInputMethodEnabled(bool Value) {
  if (Value == InputMethodEnabled()) return;
  FWidget->setAttribute(Qt::WA_InputMethodEnabled, Value);
  if (FWidget->hasFocus() && qApp) QGuiApplication::inputMethod()->update(Qt::ImEnabled);
}

void TWinControl::DispatchCommittedText(const std::string& Text) {
  const QString text = QString::fromStdString(Text);
  for (const char32_t c : text.toUcs4()) {
    // Control characters come with their keys.
    if (c < 32 || c == 127) continue;
    TKeyChar ch = c;
    KeyPress(ch);
  }
}

bool TWinControl::DispatchKey(int QtKey, uint32_t QtModifiers, const std::string& Text, bool Down, bool AutoRepeat) {
  Word key = QtKeyToVirtualKey(QtKey, QtModifiers);
  // An auto-repeated key arrives as release and press pairs while it stays down; a lock key
  // must not toggle on them.
  if (!AutoRepeat) KeyStateNoteKey(key, Down, QtModifiers);
  TShiftState shift = ShiftFromQt(QtModifiers, 0);
  if (!Down) {
    if (key) KeyUp(key, shift);
    return true;
  }
  TCustomForm* form = ParentForm();
  // Keys the form uses for navigation and default buttons, unless the control wants them.
  if (key == VK_TAB || key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN || key == VK_RETURN ||
      key == VK_ESCAPE || key == VK_EXECUTE || key == VK_CANCEL) {
    bool wanted = WantSpecialKey(key, shift);
    if (!wanted) {
      if (key == VK_TAB && !(shift & ssCtrl)) {
        FWidget->MoveFocus(!(shift & ssShift));
        return true;
      }
      if (key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN) {
        SelectNextSibling(key == VK_RIGHT || key == VK_DOWN);
        return true;
      }
      if (form && form->BroadcastDialogKey(key, shift)) return true;
    }
  }
  if ((shift & ssAlt) && !(shift & ssCtrl) && !Text.empty() && form) {
    const TKeyChar ch = TypedChar(QtKey, QtModifiers & ~static_cast<uint32_t>(Qt::AltModifier), Text);
    if (ch && form->BroadcastDialogChar(ch)) return true;
  }
  if (key) KeyDown(key, shift);
  TKeyChar ch = TypedChar(QtKey, QtModifiers, Text);
  // A chord with the system key is a shortcut of the desktop, never typing.
  if (QtModifiers & Qt::MetaModifier) ch = 0;
  if (ch && !(shift & ssAlt && !(shift & ssCtrl))) {
    KeyPress(ch);
    // A key whose text is several characters (a letter and its combining accent, an emoji and
    // its skin tone) types each of them, as the platform posts one character message apiece.
    if (ch >= 32) {
      const std::u32string rest = QString::fromStdString(Text).toStdU32String();
      for (size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] < 32 || rest[i] == 127) continue;
        TKeyChar next = rest[i];
        KeyPress(next);
      }
    }
  }
  return true;
}

}  // namespace platform
