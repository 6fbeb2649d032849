#include "platform/StdCtrls.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QDropEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QValidator>
#include <QWheelEvent>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <limits>

#include "platform/Controls_Widget.h"
#include "platform/ExtCtrls.h"
#include "platform/Graphics.h"
#include "platform/KeyState.h"
#include "platform/Menus.h"
#include "platform/QtBridge.h"
#include "platform/StyleDraw.h"
#include "platform/SysUtils.h"

namespace platform {
namespace detail {

// The Qt line editor inside an edit's widget. It fills the widget within a one-pixel border and
// hands keys, mouse events and focus changes to the control's widget first, so they reach the
// control as its own; the control passes back (Feed) the keys it leaves to the editor.
class TEditLine : public QLineEdit {
 public:
  TEditLine(TCustomEdit* Edit, TControlWidget* Host) : QLineEdit(Host), FEdit(Edit), FHost(Host) {
    setFrame(false);
    // Qt's default cuts texts at 32767 characters; the edit holds whatever it is given.
    setMaxLength(std::numeric_limits<int>::max());
    setValidator(new TCharFilter(this));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    Host->setFocusProxy(this);
    Host->installEventFilter(this);
    Place();
    connect(this, &QLineEdit::textChanged, this, [this](const QString& Text) {
      FAccepted = Text;
      if (FEdit) FEdit->LineChanged();
    });
  }
  void Detach() {
    FEdit = nullptr;
    FHost = nullptr;
  }
  void Reposition() { Place(); }
  void Feed(QKeyEvent* Event) {
    if (Event->matches(QKeySequence::Paste) && Paste(QClipboard::Clipboard)) return;
    // Copy, cut and a selection made by keys put the text out as the edit holds it.
    CopiedOut([&] { QLineEdit::keyPressEvent(Event); });
  }

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Watched == FHost && Event->type() == QEvent::Resize) Place();
    if (Watched == FHost && Event->type() == QEvent::Hide) FWindowLeft = false;
    // The wheel over the text or the buttons (the line editor passes it up).
    if (Watched == FHost && Event->type() == QEvent::Wheel && FEdit && FEdit->Enabled()) {
      auto* wheel = static_cast<QWheelEvent*>(Event);
      if (FEdit->WheelTurned(wheel->angleDelta().y())) {
        wheel->accept();
        return true;
      }
    }
    return false;
  }
  bool event(QEvent* Event) override {
    if ((Event->type() == QEvent::KeyPress || Event->type() == QEvent::KeyRelease) && FHost) {
      FHost->ForwardEvent(Event);
      return true;
    }
    return QLineEdit::event(Event);
  }
  void mousePressEvent(QMouseEvent* Event) override {
    if (Forward(Event)) QLineEdit::mousePressEvent(Event);
  }
  void mouseReleaseEvent(QMouseEvent* Event) override {
    if (!Forward(Event)) return;
    if (Event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection() &&
        Paste(QClipboard::Selection))
      return;
    CopiedOut([&] { QLineEdit::mouseReleaseEvent(Event); });
  }
  void mouseDoubleClickEvent(QMouseEvent* Event) override {
    if (Forward(Event)) CopiedOut([&] { QLineEdit::mouseDoubleClickEvent(Event); });
  }
  // Dropped text goes in as the edit holds it, as pasted text does.
  void dropEvent(QDropEvent* Event) override {
    const QMimeData* data = Event->mimeData();
    if (!FEdit || !data || !data->hasText()) {
      QLineEdit::dropEvent(Event);
      return;
    }
    const std::string text = data->text().toStdString();
    const std::string held = FEdit->EditorInput(text);
    if (held == text) {
      QLineEdit::dropEvent(Event);
      return;
    }
    QMimeData mapped;
    mapped.setText(QString::fromStdString(held));
    QDropEvent drop(Event->position(), Event->possibleActions(), &mapped, Event->buttons(), Event->modifiers());
    QLineEdit::dropEvent(&drop);
    Event->setDropAction(drop.dropAction());
    Event->setAccepted(drop.isAccepted());
  }
  void mouseMoveEvent(QMouseEvent* Event) override {
    if (Forward(Event)) QLineEdit::mouseMoveEvent(Event);
  }
  void focusInEvent(QFocusEvent* Event) override {
    const Qt::FocusReason why = Event->reason();
    QLineEdit::focusInEvent(Event);
    if (why == Qt::ActiveWindowFocusReason && FWindowLeft) {
      // Back with the window: as it was (Qt's line editor drops a mask's selection on leaving).
      if (text() == FLeft.Text) {
        if (FLeft.Length > 0) setSelection(FLeft.Start, FLeft.Length);
        else setCursorPosition(FLeft.Cursor);
      }
    } else if (FEdit && FEdit->AutoSelect() && why != Qt::MouseFocusReason && why != Qt::PopupFocusReason) {
      selectAll();
    }
    FWindowLeft = false;
    if (FHost) FHost->ForwardEvent(Event);
  }
  void focusOutEvent(QFocusEvent* Event) override {
    FWindowLeft = Event->reason() == Qt::ActiveWindowFocusReason && isVisible();
    if (FWindowLeft) FLeft = {text(), selectionStart(), selectionLength(), cursorPosition()};
    QLineEdit::focusOutEvent(Event);
    if (FHost) FHost->ForwardEvent(Event);
  }
  // Composed characters (dead keys, input methods) are typed as key presses, so the control's
  // KeyPress sees them; the part still being composed stays Qt's.
  void inputMethodEvent(QInputMethodEvent* Event) override {
    if (!FHost || Event->commitString().isEmpty()) {
      QLineEdit::inputMethodEvent(Event);
      return;
    }
    const QString commit = Event->commitString();
    QInputMethodEvent rest(Event->preeditString(), Event->attributes());
    rest.setCommitString(QString(), Event->replacementStart(), Event->replacementLength());
    QLineEdit::inputMethodEvent(&rest);
    const QPointer<TEditLine> alive(this);
    for (const char32_t c : commit.toUcs4()) {
      if (!alive || !FHost) return;
      QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUcs4(&c, 1));
      FHost->ForwardEvent(&key);
    }
  }
  // The control's popup menu (or a parent's) replaces Qt's own.
  // Qt's menu otherwise, whose Paste, Copy and Cut go the ways the keys go.
  void contextMenuEvent(QContextMenuEvent* Event) override {
    for (TControl* c = FEdit; c; c = c->Parent())
      if (c->PopupMenu() && c->PopupMenu()->AutoPopup()) {
        Event->accept();
        return;
      }
    QMenu* menu = createStandardContextMenu();
    if (!menu) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<TEditLine> self(this);
    // Qt names the actions in later versions; before, only their (translated) captions tell them.
    auto retarget = [&](const char* Name, const QString& Caption, std::function<void()> Action) {
      for (QAction* a : menu->actions())
        if (a->objectName() == QLatin1String(Name) || a->text().section(QLatin1Char('\t'), 0, 0) == Caption) {
          disconnect(a, &QAction::triggered, this, nullptr);
          connect(a, &QAction::triggered, this, [self, Action] {
            if (self) Action();
          });
        }
    };
    retarget("edit-paste", QLineEdit::tr("&Paste"), [this] {
      if (!Paste(QClipboard::Clipboard)) paste();
    });
    retarget("edit-copy", QLineEdit::tr("&Copy"), [this] { CopiedOut([this] { copy(); }); });
    retarget("edit-cut", QLineEdit::tr("Cu&t"), [this] { CopiedOut([this] { cut(); }); });
    menu->popup(Event->globalPos());
    Event->accept();
  }

 private:
  // False when the control's handlers freed the editor.
  bool Forward(QMouseEvent* Event) {
    if (!FHost) return true;
    const QPointer<TEditLine> alive(this);
    QMouseEvent m(Event->type(), mapToParent(Event->position()), Event->scenePosition(), Event->globalPosition(),
                  Event->button(), Event->buttons(), Event->modifiers());
    FHost->ForwardEvent(&m);
    return !alive.isNull();
  }
  void Place() {
    if (FHost) setGeometry(FHost->rect().adjusted(1, 1, -1 - (FEdit ? FEdit->ButtonsWidth() : 0), -1));
  }
  // Runs Op, which may put the selected text on the clipboard or the selection: it goes there as
  // the edit holds it, where that differs from what the line editor shows (a mask's stand-ins).
  template <typename F>
  void CopiedOut(F Op) {
    const QString raw = FEdit ? selectedText() : QString();
    const int from = selectionStart();
    const QPointer<TEditLine> alive(this);
    Op();
    if (raw.isEmpty() || !alive || !FEdit) return;
    const QString out = QString::fromStdString(FEdit->EditorOutput(raw.toStdString(), from));
    if (out == raw) return;
    QClipboard* cb = QGuiApplication::clipboard();
    for (const QClipboard::Mode mode : {QClipboard::Clipboard, QClipboard::Selection})
      if ((mode == QClipboard::Clipboard || cb->supportsSelection()) && cb->text(mode) == raw) cb->setText(out, mode);
  }
  // Pasted text goes in as the edit holds it, where that differs from the text itself (a mask's
  // stand-ins); false leaves the paste to the line editor.
  bool Paste(QClipboard::Mode Mode) {
    if (!FEdit || isReadOnly()) return false;
    const std::string text = QGuiApplication::clipboard()->text(Mode).toStdString();
    const std::string held = FEdit->EditorInput(text);
    if (held == text) return false;
    insert(QString::fromStdString(held));
    return true;
  }
  // Text pasted or dropped by the user keeps only the characters the edit takes, as typing
  // does: the part that differs from the text before is filtered, so what the program set stays
  // as it is. A mask checks its own text.
  class TCharFilter : public QValidator {
   public:
    explicit TCharFilter(TEditLine* Line) : QValidator(Line), FLine(Line) {}
    State validate(QString& Input, int& Pos) const override {
      TCustomEdit* edit = FLine->FEdit;
      if (!edit || edit->FSyncing || !FLine->inputMask().isEmpty()) return Acceptable;
      const QString& old = FLine->FAccepted;
      qsizetype head = 0, tail = 0;
      while (head < old.size() && head < Input.size() && old[head] == Input[head]) ++head;
      if (head > 0 && Input[head - 1].isHighSurrogate()) --head;
      while (tail < old.size() - head && tail < Input.size() - head &&
             old[old.size() - 1 - tail] == Input[Input.size() - 1 - tail])
        ++tail;
      if (tail > 0 && Input[Input.size() - tail].isLowSurrogate()) --tail;
      QString kept = Input.left(head);
      qsizetype pos = Pos, at = head;
      edit->FFiltering = true;
      for (const uint c : Input.mid(head, Input.size() - head - tail).toUcs4()) {
        const auto ch = static_cast<char32_t>(c);
        const qsizetype units = c > 0xFFFF ? 2 : 1;
        if (edit->AcceptChar(ch)) kept += QString::fromUcs4(&ch, 1);
        else if (at < Pos) pos -= units;
        at += units;
      }
      edit->FFiltering = false;
      kept += Input.right(tail);
      Input = kept;
      Pos = static_cast<int>(std::clamp<qsizetype>(pos, 0, Input.size()));
      return Acceptable;
    }

   private:
    TEditLine* FLine;
  };
  QString FAccepted;  // the text as it stood after the last change
  bool FWindowLeft = false;  // the focus went with the window, and comes back with it
  struct {
    QString Text;
    int Start = -1, Length = 0, Cursor = 0;
  } FLeft;  // the text and selection when the window went
  TCustomEdit* FEdit;
  TControlWidget* FHost;
};

}  // namespace detail

// ---------------------------------------------------------------------------------------------

TCustomEdit::TCustomEdit(TComponent* AOwner)
    : TCustomControl(AOwner),
      FLine(new detail::TEditLine(this, static_cast<detail::TControlWidget*>(static_cast<QWidget*>(WidgetHandle())))) {
  // The line editor follows the mouse itself; a capture would take the moves from it.
  SetControlStyle(ControlStyle() & ~csCaptureMouse);
  SetBounds(0, 0, 121, 21);
  SetTabStop(true);
  SetColor(clWindow);
  SetCursor(crIBeam);
  UpdatePalette();
}

TCustomEdit::~TCustomEdit() { FLine->Detach(); }

void TCustomEdit::SelectAll() { FLine->selectAll(); }

bool TCustomEdit::AllSelected() const {
  return FLine->hasSelectedText() && FLine->selectionLength() == FLine->displayText().size();
}

QLineEdit* TCustomEdit::LineEditor() const { return FLine; }

std::string TCustomEdit::EditorText() const { return FLine->text().toStdString(); }

void TCustomEdit::Paint() {
  TCanvas* c = Canvas();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(Color());
  c->Pen()->SetColor(clGray);
  c->Rectangle(ClientRect());
}

void TCustomEdit::UpdatePalette() {
  QPalette pal = FLine->palette();
  pal.setColor(QPalette::Base, ToQColor(Color()));
  pal.setColor(QPalette::Text, ToQColor(Font()->Color()));
  pal.setColor(QPalette::Highlight, ToQColor(clHighlight));
  pal.setColor(QPalette::HighlightedText, ToQColor(clHighlightText));
  FLine->setPalette(pal);
}

void TCustomEdit::FontChanged() {
  TCustomControl::FontChanged();
  UpdatePalette();
}

void TCustomEdit::ColorChanged() {
  TCustomControl::ColorChanged();
  UpdatePalette();
}

bool TCustomEdit::WantSpecialKey(Word Key, TShiftState Shift) {
  // The arrows move the caret.
  if (Key == VK_LEFT || Key == VK_RIGHT || Key == VK_UP || Key == VK_DOWN) return true;
  return TCustomControl::WantSpecialKey(Key, Shift);
}

namespace {
detail::TControlWidget* HostOf(const TControl* C) {
  return static_cast<detail::TControlWidget*>(static_cast<QWidget*>(C->WidgetHandle()));
}
}  // namespace

void TCustomEdit::KeyDown(Word& Key, TShiftState Shift) {
  TCustomControl::KeyDown(Key, Shift);
  QKeyEvent* e = HostOf(this)->CurrentKey();
  if (Key == 0 || !e) return;
  switch (Key) {
    case VK_HOME: case VK_END: case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN:
    case VK_DELETE: case VK_INSERT:
      FLine->Feed(e);
      break;
    case VK_BACK:
      // Ctrl+Backspace types no character: the word before the caret goes here.
      if (Shift & ssCtrl) FLine->Feed(e);
      break;
    default:
      break;
  }
}

void TCustomEdit::KeyPress(TKeyChar& Key) {
  TCustomControl::KeyPress(Key);
  if (Key == 0 || Key == 9 || Key == 13 || Key == 27) return;
  QKeyEvent* e = HostOf(this)->CurrentKey();
  if (Key == 8) {
    if (e && e->key() == Qt::Key_Backspace) FLine->Feed(e);
    else FLine->backspace();
    return;
  }
  if (Key < 32) {
    // Ctrl+A, C, X, V, Z and the like.
    if (e && (e->modifiers() & Qt::ControlModifier)) FLine->Feed(e);
    return;
  }
  if (!AcceptChar(Key)) return;
  const TKeyChar held = EditorChar(Key);
  const QString typed = QString::fromUcs4(&held, 1);
  if (e && e->text() == typed) {
    FLine->Feed(e);
  } else {
    // A handler changed the character, or it was composed: it is typed as it is now.
    QKeyEvent k(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed);
    FLine->Feed(&k);
  }
}

void TCustomEdit::PlaceEditor() { FLine->Reposition(); }

int32_t TCustomEdit::FullTextWidth() const {
  // Qt's line editor keeps two pixels each side of its text, and a pixel for the caret.
  const QMargins m = FLine->textMargins();
  return FLine->fontMetrics().horizontalAdvance(FLine->text()) + 2 * 2 + 1 + m.left() + m.right() + 2 + ButtonsWidth();
}

int32_t TCustomEdit::TypingPosition() const { return static_cast<int32_t>(FLine->text().size()); }

void TCustomEdit::LineChanged() {
  if (FSyncing) return;
  SetText(EditorText());
}

void TCustomEdit::TextChanged() {
  TCustomControl::TextChanged();
  if (EditorText() != Text()) {
    // Set by the program: the line editor shows it, and the control keeps what the editor took.
    FSyncing = true;
    FLine->setText(QString::fromStdString(EditorInput(Text())));
    FSyncing = false;
    FLine->setCursorPosition(TypingPosition());
    const std::string taken = EditorText();
    if (taken != Text()) {
      SetText(taken);
      return;
    }
  }
  Change();
}

void TCustomEdit::Change() {
  if (OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------------------------

namespace {
// Qt ends a mask at its first ";", escaped or not, so a ";" literal is held by the Greek question
// mark, which looks the same and is canonically equal to it.
constexpr char32_t SemicolonStandIn = U'\u037E';

}  // namespace

TKeyChar TMaskEdit::EditorChar(TKeyChar Key) const { return FSemicolon && Key == U';' ? SemicolonStandIn : Key; }

std::string TMaskEdit::EditorOutput(const std::string& Value, int32_t From) const {
  if (!FSemicolon) return Value;
  QString s = QString::fromStdString(Value);
  // The mask's own U+037E literals stay; every other one is a ";" (typed or set, they are the
  // same character to Unicode).
  for (qsizetype i = 0; i < s.size(); ++i) {
    const size_t at = static_cast<size_t>(From + i);
    if (s[i] == QChar(static_cast<char16_t>(SemicolonStandIn)) && !(at < FLiteralStandIns.size() && FLiteralStandIns[at]))
      s[i] = QLatin1Char(';');
  }
  return s.toStdString();
}

std::string TMaskEdit::EditorInput(const std::string& Value) const {
  if (!FSemicolon) return Value;
  QString s = QString::fromStdString(Value);
  s.replace(QLatin1Char(';'), QChar(static_cast<char16_t>(SemicolonStandIn)));
  return s.toStdString();
}

void TMaskEdit::SetEditMask(const std::string& Value) {
  FEditMask = Value;
  // The mask part, the save-literals flag and the blank character.
  std::vector<std::string> fields;
  size_t from = 0;
  for (size_t i = 0; i < Value.size(); ++i) {
    if (Value[i] == '\\') {
      ++i;  // an escaped ";" separates nothing
    } else if (Value[i] == ';') {
      fields.push_back(Value.substr(from, i - from));
      from = i + 1;
    }
  }
  fields.push_back(Value.substr(std::min(from, Value.size())));
  const std::u32string mask = QString::fromStdString(fields.empty() ? std::string() : fields[0]).toStdU32String();
  FBlank = U'_';
  if (fields.size() > 2 && !fields[2].empty()) FBlank = QString::fromStdString(fields[2]).toStdU32String()[0];
  FSlots.clear();
  FLiteralStandIns.clear();
  FSemicolon = false;
  QString qt;
  for (size_t i = 0; i < mask.size(); ++i) {
    const char32_t c = mask[i];
    char32_t q = 0;
    switch (c) {
      case U'0': q = U'9'; break;
      case U'9': q = U'0'; break;
      case U'#': q = U'#'; break;
      case U'L': q = U'A'; break;
      case U'l': q = U'a'; break;
      case U'A': q = U'N'; break;
      case U'a': q = U'n'; break;
      case U'C': q = U'X'; break;
      case U'c': q = U'x'; break;
      default: break;
    }
    if (q) {
      qt += QChar(static_cast<char16_t>(q));
      FSlots.push_back(c);
      continue;
    }
    if (c == U'!') continue;
    if (c == U'>' && i + 1 < mask.size() && mask[i + 1] == U'<') {
      qt += QLatin1Char('!');
      ++i;
      continue;
    }
    if (c == U'>' || c == U'<') {
      qt += QChar(static_cast<char16_t>(c));
      continue;
    }
    char32_t lit = c;
    if (c == U'\\') {
      if (i + 1 >= mask.size()) break;
      lit = mask[++i];
    }
    const bool ownStandIn = lit == SemicolonStandIn;
    if (lit == U';') {
      lit = SemicolonStandIn;
      FSemicolon = true;
    }
    // Characters with a meaning in Qt's masks are escaped.
    if (std::u32string_view(U"AaNnXx90Dd#HhBb><![]{}\\").find(lit) != std::u32string_view::npos) qt += QLatin1Char('\\');
    const QString l = QString::fromUcs4(&lit, 1);
    qt += l;
    FSlots.append(static_cast<size_t>(l.size()), 0);
    FLiteralStandIns.resize(FSlots.size(), false);
    FLiteralStandIns.back() = ownStandIn;
  }
  if (!qt.isEmpty()) qt += QLatin1Char(';') + QString::fromUcs4(&FBlank, 1);
  // What fits the new mask is kept. Qt empties the editor when a mask is given up and cuts it
  // at its default length again.
  const std::string before = Text();
  FSyncing = true;
  Line()->setInputMask(qt);
  if (qt.isEmpty()) Line()->setMaxLength(std::numeric_limits<int>::max());
  Line()->setText(QString::fromStdString(EditorInput(before)));
  Line()->setCursorPosition(TypingPosition());
  FSyncing = false;
  SetText(EditorText());
}

std::string TMaskEdit::EditorText() const {
  if (FSlots.empty()) return TCustomEdit::EditorText();
  const QString shown = Line()->displayText();
  const QString blank = QString::fromUcs4(&FBlank, 1);
  for (qsizetype i = 0; i < shown.size() && static_cast<size_t>(i) < FSlots.size(); ++i)
    if (FSlots[static_cast<size_t>(i)] && shown[i] != blank[0]) {
      return EditorOutput(Line()->text().toStdString(), 0);
    }
  return {};
}

int32_t TMaskEdit::TypingPosition() const {
  // The first input position still blank; a literal that looks like the blank is no blank.
  const QString shown = Line()->displayText();
  const QString blank = QString::fromUcs4(&FBlank, 1);
  for (qsizetype i = 0; i < shown.size() && static_cast<size_t>(i) < FSlots.size(); ++i)
    if (FSlots[static_cast<size_t>(i)] && shown[i] == blank[0]) return static_cast<int32_t>(i);
  return static_cast<int32_t>(shown.size());
}

bool TMaskEdit::AcceptChar(TKeyChar Key) {
  if (Key < 32) return false;
  if (FSlots.empty()) return true;
  const size_t caret =
      static_cast<size_t>(Line()->hasSelectedText() ? Line()->selectionStart() : Line()->cursorPosition());
  const QString shown = Line()->displayText();
  const TKeyChar held = EditorChar(Key);
  auto literalAt = [&](size_t p) {
    return p < FSlots.size() && !FSlots[p] && static_cast<qsizetype>(p) < shown.size() &&
           shown[static_cast<qsizetype>(p)].unicode() == held;
  };
  if (literalAt(caret)) return true;
  size_t pos = caret;
  while (pos < FSlots.size() && !FSlots[pos]) ++pos;
  if (pos >= FSlots.size()) return false;
  const QString k = QString::fromUcs4(&Key, 1);
  const bool digit = Key >= '0' && Key <= '9';
  const bool letter = k[0].isLetter();
  bool fits = true;
  switch (FSlots[pos]) {
    case U'0': fits = digit; break;
    case U'9': fits = digit || Key == ' '; break;
    case U'#': fits = digit || Key == ' ' || Key == '+' || Key == '-'; break;
    case U'L': case U'l': fits = letter; break;
    case U'A': case U'a': fits = letter || digit; break;
    default: break;
  }
  if (fits) return true;
  // A literal typed early ("5:30" into "!99:00"): the line editor moves on to it, leaving the
  // places before it blank, rather than the typing shifting into them.
  for (size_t p = pos; p < FSlots.size(); ++p)
    if (literalAt(p)) return true;
  return false;
}

// ---------------------------------------------------------------------------------------------

namespace detail {

THeldSpin::THeldSpin(TControl* Owner, std::function<void(int32_t)> Step)
    : FOwner(Owner), FStep(std::move(Step)), FRepeat(std::make_unique<TTimer>(nullptr)) {
  FRepeat->SetEnabled(false);
  FRepeat->OnTimer = [this](TObject*) { Repeat(); };
}

THeldSpin::~THeldSpin() = default;

void THeldSpin::Press(int32_t Sign) {
  FHeld = Sign;
  FOver = true;
  FOwner->Invalidate();
  FStep(Sign);
  // Held down, the button steps again after a pause, then quickly.
  FRepeat->SetInterval(400);
  FRepeat->SetEnabled(true);
}

void THeldSpin::SetOver(bool Value) {
  if (FHeld == 0 || Value == FOver) return;
  FOver = Value;
  FOwner->Invalidate();
}

void THeldSpin::LetGo() {
  FRepeat->SetEnabled(false);
  if (FHeld == 0) return;
  FHeld = 0;
  FOver = false;
  FOwner->Invalidate();
}

void THeldSpin::Repeat() {
  if (FHeld == 0 || !FOwner->Visible() || !FOwner->Enabled()) {
    LetGo();
    return;
  }
  FRepeat->SetInterval(100);
  if (FOver) FStep(FHeld);
}

}  // namespace detail

TSpinEdit::TSpinEdit(TComponent* AOwner) : TCustomEdit(AOwner), FHold(this, [this](int32_t Sign) { Step(Sign); }) {
  PlaceEditor();  // beside the buttons
  SetText("0");
}

TSpinEdit::~TSpinEdit() = default;

TRect TSpinEdit::UpButtonRect() const {
  const TRect c = ClientRect();
  const int32_t left = std::max(c.Left + 1, c.Right - 1 - ButtonWidth);
  return {left, c.Top + 1, c.Right - 1, c.Top + 1 + (c.Height() - 2) / 2};
}

TRect TSpinEdit::DownButtonRect() const {
  const TRect up = UpButtonRect();
  return {up.Left, up.Bottom, up.Right, ClientRect().Bottom - 1};
}

void TSpinEdit::Paint() {
  TCustomEdit::Paint();
  TStyledState up, down;
  up.Disabled = down.Disabled = !Enabled();
  up.Pressed = FHold.Pressed(1);
  down.Pressed = FHold.Pressed(-1);
  DrawStyledPart(Canvas(), spSpinUp, UpButtonRect(), up);
  DrawStyledPart(Canvas(), spSpinDown, DownButtonRect(), down);
}

void TSpinEdit::Step(int32_t Sign) {
  const int64_t v = std::clamp<int64_t>(int64_t{Value()} + int64_t{Sign} * FIncrement, INT32_MIN, INT32_MAX);
  SetValue(static_cast<int32_t>(v));
}

void TSpinEdit::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TCustomEdit::MouseDown(Button, Shift, X, Y);
  if (Button != mbLeft || FHold.Held() != 0) return;
  const int32_t sign = PtInRect(UpButtonRect(), {X, Y}) ? 1 : PtInRect(DownButtonRect(), {X, Y}) ? -1 : 0;
  if (sign == 0) return;
  if (!Focused() && CanFocus()) SetFocus();
  FHold.Press(sign);
}

void TSpinEdit::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  TCustomEdit::MouseMove(Shift, X, Y);
  FHold.SetOver(PtInRect(FHold.Held() > 0 ? UpButtonRect() : DownButtonRect(), {X, Y}));
}

void TSpinEdit::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (Button == mbLeft) FHold.LetGo();
  TCustomEdit::MouseUp(Button, Shift, X, Y);
}

// Hidden, disabled or left, the edit gets no release: a held button lets go, rather than step
// on whatever value the edit shows next.
void TSpinEdit::VisibleChanged() {
  TCustomEdit::VisibleChanged();
  if (!Visible()) FHold.LetGo();
}

void TSpinEdit::EnabledChanged() {
  TCustomEdit::EnabledChanged();
  if (!Enabled()) FHold.LetGo();
}

bool TSpinEdit::CursorQuery(TPoint P, TCursor& Cursor) {
  if (P.X < UpButtonRect().Left) return TCustomEdit::CursorQuery(P, Cursor);
  Cursor = crArrow;
  return true;
}

int32_t TSpinEdit::Value() const {
  const std::string s = Trim(Text());
  if (s.empty()) return 0;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (end == s.c_str() || *end != 0 || errno != 0 || v < INT32_MIN || v > INT32_MAX) return 0;
  return static_cast<int32_t>(v);
}

int32_t TSpinEdit::Clamp(int32_t V) const {
  if (FMaxValue != 0 || FMinValue != 0) return std::max(FMinValue, std::min(FMaxValue, V));
  return V;
}

void TSpinEdit::SetValue(int32_t Value) { SetText(std::to_string(Clamp(Value))); }

bool TSpinEdit::AcceptChar(TKeyChar Key) {
  if ((Key < '0' || Key > '9') && Key != '-') return false;
  if (FFiltering) return true;  // pasted: what it makes is checked on leaving
  // The text as it would be with the character typed at the caret (over the selection).
  const QString t = Line()->text();
  const qsizetype from = Line()->hasSelectedText() ? Line()->selectionStart() : Line()->cursorPosition();
  const qsizetype to = from + (Line()->hasSelectedText() ? Line()->selectionLength() : 0);
  const std::string typed = Trim((t.left(from) + QChar(static_cast<char16_t>(Key)) + t.mid(to)).toStdString());
  if (typed == "-") return FMinValue < 0 || (FMinValue == 0 && FMaxValue == 0);
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(typed.c_str(), &end, 10);
  return end != typed.c_str() && *end == 0 && errno == 0 && v >= INT32_MIN && v <= INT32_MAX &&
         (v >= 0 || FMinValue < 0 || (FMinValue == 0 && FMaxValue == 0));
}

void TSpinEdit::DoExit() {
  FHold.LetGo();
  const std::string checked = std::to_string(Clamp(Value()));
  if (Text() != checked) SetText(checked);
  TCustomEdit::DoExit();
}

bool TSpinEdit::WheelTurned(int32_t Eighths) {
  FWheelRest += Eighths;
  const int32_t notches = FWheelRest / 120;
  FWheelRest -= notches * 120;
  for (int32_t i = 0; i < std::abs(notches); ++i) Step(notches > 0 ? 1 : -1);
  return true;
}

bool TSpinEdit::WantSpecialKey(Word Key, TShiftState Shift) {
  if (Key == VK_UP || Key == VK_DOWN) return true;
  return TCustomEdit::WantSpecialKey(Key, Shift);
}

void TSpinEdit::KeyDown(Word& Key, TShiftState Shift) {
  TCustomEdit::KeyDown(Key, Shift);
  if (Key != VK_UP && Key != VK_DOWN) return;
  Step(Key == VK_UP ? 1 : -1);
  Key = 0;
}

// ---------------------------------------------------------------------------------------------

TListBox::TListBox(TComponent* AOwner) : TCustomControl(AOwner) {
  SetBounds(0, 0, 121, 97);
  SetTabStop(true);
  SetColor(clWindow);
}

void TListBox::SetItems(const std::vector<std::string>& Value) {
  FItems = Value;
  if (FSorted) std::stable_sort(FItems.begin(), FItems.end(), [](const auto& a, const auto& b) { return UpperCase(a) < UpperCase(b); });
  FItemIndex = -1;
  FTopIndex = 0;
  UpdateScrollBar();
  Invalidate();
}

void TListBox::SetSorted(bool Value) {
  if (Value == FSorted) return;
  FSorted = Value;
  if (FSorted) SetItems(FItems);
}

void TListBox::SetItemIndex(int32_t Value) {
  if (Value < -1 || Value >= Count()) Value = -1;
  if (Value == FItemIndex) return;
  FItemIndex = Value;
  if (Value >= 0) {
    const int32_t rows = RowsInSight();
    if (Value < FTopIndex) SetTopIndex(Value);
    else if (Value >= FTopIndex + rows) SetTopIndex(Value - rows + 1);
  }
  Invalidate();
  if (OnChange) OnChange(this);
}

int32_t TListBox::RowsInSight() const { return std::max(1, ClientHeight() / ItemHeight()); }

void TListBox::SetTopIndex(int32_t Value) {
  Value = std::clamp(Value, 0, std::max(0, Count() - RowsInSight()));
  if (Value == FTopIndex) return;
  FTopIndex = Value;
  UpdateScrollBar();
  Invalidate();
}

void TListBox::UpdateScrollBar() {
  TScrollInfo info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  info.nMax = std::max(0, Count() - 1);
  info.nPage = static_cast<uint32_t>(RowsInSight());
  info.nPos = FTopIndex;
  SetScrollInfo(SB_VERT, info, true);
}

void TListBox::Resize() {
  TCustomControl::Resize();
  // Fewer rows in sight may leave the last ones out of reach.
  const int32_t top = FTopIndex;
  FTopIndex = -1;
  SetTopIndex(top);
}

void TListBox::FontChanged() {
  TCustomControl::FontChanged();
  Resize();
}

void TListBox::WMVScroll(int32_t Code, int32_t Pos) {
  const int32_t page = std::max(1, RowsInSight() - 1);
  switch (Code) {
    case SB_LINEUP: SetTopIndex(FTopIndex - 1); break;
    case SB_LINEDOWN: SetTopIndex(FTopIndex + 1); break;
    case SB_PAGEUP: SetTopIndex(FTopIndex - page); break;
    case SB_PAGEDOWN: SetTopIndex(FTopIndex + page); break;
    case SB_TOP: SetTopIndex(0); break;
    case SB_BOTTOM: SetTopIndex(Count()); break;
    case SB_THUMBTRACK: case SB_THUMBPOSITION: SetTopIndex(Pos); break;
    default: break;
  }
}

int32_t TListBox::IndexOf(const std::string& S) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (SameText(FItems[i], S)) return static_cast<int32_t>(i);
  return -1;
}

int32_t TListBox::ItemHeight() const {
  TCanvas* c = const_cast<TListBox*>(this)->Canvas();
  c->Font()->Assign(Font());
  return std::max(1, c->TextHeight("Wg"));
}

bool TListBox::HasVerticalScrollBar() const { return Count() * ItemHeight() > ClientHeight(); }

int32_t TListBox::ItemAtPos(const TPoint& P) const {
  if (P.X < 0 || P.Y < 0 || P.X >= ClientWidth() || P.Y >= ClientHeight()) return -1;
  const int32_t i = FTopIndex + P.Y / ItemHeight();
  return i < Count() ? i : -1;
}

void TListBox::Paint() {
  TCanvas* c = Canvas();
  const TRect r = ClientRect();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(Color());
  c->FillRect(r);
  c->Font()->Assign(Font());
  const int32_t h = ItemHeight();
  for (int32_t i = FTopIndex, y = 0; i < Count() && y < r.Bottom; ++i, y += h) {
    TRect row{0, y, r.Right, y + h};
    const bool sel = i == FItemIndex;
    c->Brush()->SetColor(sel ? clHighlight : Color());
    c->FillRect(row);
    c->Font()->SetColor(sel ? clHighlightText : Font()->Color());
    c->SetBkMode(TRANSPARENT);
    row.Left += 2;
    c->DrawText(FItems[static_cast<size_t>(i)], row, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  }
  c->Brush()->SetStyle(bsClear);
  c->Pen()->SetColor(Ctl3D() ? clGray : clBlack);
  c->Rectangle(r);
}

void TListBox::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (Button == mbLeft) {
    const int32_t i = ItemAtPos({X, Y});
    if (i >= 0) SetItemIndex(i);
  }
  TCustomControl::MouseDown(Button, Shift, X, Y);
}

void TListBox::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  TCustomControl::MouseMove(Shift, X, Y);
  // Past the top or the bottom the list scrolls a row a move, selecting the row that comes into
  // sight; beside it, the row level with the mouse.
  if (!(Shift & ssLeft) || Count() == 0) return;
  const int32_t i = Y < 0 ? FTopIndex - 1 : Y >= ClientHeight() ? FTopIndex + RowsInSight() : FTopIndex + Y / ItemHeight();
  if (i < Count()) SetItemIndex(std::max(0, i));
}


bool TListBox::WantSpecialKey(Word Key, TShiftState Shift) {
  if (Key == VK_UP || Key == VK_DOWN) return true;
  return TCustomControl::WantSpecialKey(Key, Shift);
}

void TListBox::KeyDown(Word& Key, TShiftState Shift) {
  TCustomControl::KeyDown(Key, Shift);
  if (Count() == 0) return;
  // A page moves by the rows in sight less one, so the row last seen stays in sight.
  const int32_t page = std::max(1, RowsInSight() - 1);
  const int32_t at = std::max(0, FItemIndex);
  int32_t to;
  switch (Key) {
    case VK_UP: to = FItemIndex - 1; break;
    case VK_DOWN: to = FItemIndex + 1; break;
    case VK_HOME: to = 0; break;
    case VK_END: to = Count() - 1; break;
    case VK_PRIOR: to = at - page; break;
    case VK_NEXT: to = at + page; break;
    default: return;
  }
  SetItemIndex(std::clamp(to, 0, Count() - 1));
  Key = 0;
}

void TListBox::KeyPress(TKeyChar& Key) {
  TCustomControl::KeyPress(Key);
  if (Key < 32 || Count() == 0) return;
  const QString typed = QString::fromUcs4(&Key, 1).toCaseFolded();
  for (int32_t n = 1; n <= Count(); ++n) {
    const int32_t i = (FItemIndex + n) % Count();
    const QString item = QString::fromStdString(FItems[static_cast<size_t>(i)]);
    if (item.left(typed.size()).toCaseFolded() == typed) {
      SetItemIndex(i);
      return;
    }
  }
}

}  // namespace platform
