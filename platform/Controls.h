// The class library's controls over Qt widgets.
//
// Every control owns one private QWidget that forwards Qt's events to the control's virtual
// methods (MouseDown, KeyDown, Paint, ...), so components are written exactly as against the
// original class library. TWinControl adds children, alignment, focus, keyboard, a window
// "handle" that is created on demand (CreateWnd runs then, followed by a first WMSize), window
// borders, the window scroll bars, and an overlay for exclusive-or figures (Qt cannot draw on a
// window outside its paint, so a figure drawn twice is emulated by toggling it in a list that
// each paint draws last). TCustomControl and TGraphicControl paint on a TCanvas whose ClipRect
// is the update rectangle.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/AppHooks.h"
#include "platform/Colors.h"
#include "platform/Component.h"
#include "platform/KeyState.h"
#include "platform/Types.h"

class QWidget;
class QPainter;
class QRect;

namespace platform {

class TCanvas;
class TControl;
class TFont;
class TPopupMenu;
class TWinControl;
class TCustomForm;
namespace detail {
class TControlWidget;
class TScrollBarSet;
}  // namespace detail

using TCursor = int16_t;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crNoDrop = -13;
constexpr TCursor crHSplit = -14;
constexpr TCursor crVSplit = -15;
constexpr TCursor crMultiDrag = -16;
constexpr TCursor crSQLWait = -17;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;

enum TAlign : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };
enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };
// Border styles of controls (bsNone, bsSingle) and forms (all).
enum TFormBorderStyle : uint8_t { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
using TBorderStyle = TFormBorderStyle;

// A set of shift-state flags.
using TShiftState = uint16_t;
constexpr TShiftState ssShift = 0x01;
constexpr TShiftState ssAlt = 0x02;
constexpr TShiftState ssCtrl = 0x04;
constexpr TShiftState ssLeft = 0x08;
constexpr TShiftState ssRight = 0x10;
constexpr TShiftState ssMiddle = 0x20;
constexpr TShiftState ssDouble = 0x40;

// Control style flags.
using TControlStyle = uint32_t;
constexpr TControlStyle csAcceptsControls = 0x0001;
constexpr TControlStyle csCaptureMouse = 0x0002;
constexpr TControlStyle csClickEvents = 0x0004;
constexpr TControlStyle csFramed = 0x0008;
constexpr TControlStyle csSetCaption = 0x0010;
constexpr TControlStyle csOpaque = 0x0020;  // paints its whole client area: nothing is erased
constexpr TControlStyle csDoubleClicks = 0x0040;
// Not opaque, and nothing is erased either: the parent shows where the control paints nothing
// (a graphic control drawn over its parent's background).
constexpr TControlStyle csParentBackground = 0x0080;

// A typed character: a Unicode code point. Control characters arrive as themselves (3 for
// Ctrl+C, 8 backspace, 13 Return, 27 Escape); setting it to 0 in a handler consumes it.
using TKeyChar = char32_t;

using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int32_t X, int32_t Y)>;
using TKeyEvent = std::function<void(TObject* Sender, Word& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, TKeyChar& Key)>;
using TContextPopupEvent = std::function<void(TObject* Sender, TPoint MousePos, bool& Handled)>;

enum TDragMode : uint8_t { dmManual, dmAutomatic };
enum TDragState : uint8_t { dsDragEnter, dsDragLeave, dsDragMove };
using TDragOverEvent = std::function<void(TObject* Sender, TObject* Source, int32_t X, int32_t Y, TDragState State, bool& Accept)>;
using TDragDropEvent = std::function<void(TObject* Sender, TObject* Source, int32_t X, int32_t Y)>;
using TEndDragEvent = std::function<void(TObject* Sender, TObject* Target, int32_t X, int32_t Y)>;
using TStartDragEvent = std::function<void(TObject* Sender)>;

// What a control is asked before its hint shows; it may change any field or refuse.
struct THintInfo {
  TControl* HintControl = nullptr;
  TPoint CursorPos;          // client coordinates of the control
  TPoint HintPos;            // screen coordinates of the hint's top-left corner
  int32_t HintMaxWidth = 0;
  TColor HintColor = clInfoBk;
  TRect CursorRect;          // moving outside it hides the hint
  std::string HintStr;
  int32_t HideTimeout = 2500;
};

// Window styles a control asks for in CreateParams (documented values).
constexpr uint32_t WS_POPUP = 0x80000000;  // a frameless window of its own, placed in screen coordinates
constexpr uint32_t WS_CHILD = 0x40000000;
constexpr uint32_t WS_BORDER = 0x00800000;
constexpr uint32_t WS_VSCROLL = 0x00200000;
constexpr uint32_t WS_HSCROLL = 0x00100000;
constexpr uint32_t WS_EX_CLIENTEDGE = 0x00000200;
constexpr uint32_t CS_VREDRAW = 0x0001;
constexpr uint32_t CS_HREDRAW = 0x0002;
struct TCreateParams {
  uint32_t Style = 0;
  uint32_t ExStyle = 0;
  uint32_t WindowClassStyle = CS_HREDRAW | CS_VREDRAW;
};

// Window scroll bars: SB_HORZ and SB_VERT, the SIF_ mask bits and the scroll codes.
constexpr int32_t SB_HORZ = 0;
constexpr int32_t SB_VERT = 1;
constexpr uint32_t SIF_RANGE = 0x0001;
constexpr uint32_t SIF_PAGE = 0x0002;
constexpr uint32_t SIF_POS = 0x0004;
constexpr uint32_t SIF_DISABLENOSCROLL = 0x0008;
constexpr uint32_t SIF_TRACKPOS = 0x0010;
constexpr uint32_t SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
constexpr int32_t SB_LINEUP = 0;
constexpr int32_t SB_LINEDOWN = 1;
constexpr int32_t SB_PAGEUP = 2;
constexpr int32_t SB_PAGEDOWN = 3;
constexpr int32_t SB_THUMBPOSITION = 4;
constexpr int32_t SB_THUMBTRACK = 5;
constexpr int32_t SB_TOP = 6;
constexpr int32_t SB_BOTTOM = 7;
constexpr int32_t SB_ENDSCROLL = 8;
struct TScrollInfo {
  uint32_t fMask = 0;
  int32_t nMin = 0;
  int32_t nMax = 0;
  uint32_t nPage = 0;
  int32_t nPos = 0;
  int32_t nTrackPos = 0;
};

// Limits on a control's size in pixels; 0 means no limit. Min never exceeds a set Max: setting
// one past the other moves the other along. A change applies to the control at once.
class TSizeConstraints : public TPersistent {
 public:
  std::string ClassName() const override { return "TSizeConstraints"; }
  int32_t MaxHeight() const { return FMaxHeight; }
  int32_t MaxWidth() const { return FMaxWidth; }
  int32_t MinHeight() const { return FMinHeight; }
  int32_t MinWidth() const { return FMinWidth; }
  void SetMaxHeight(int32_t Value);
  void SetMaxWidth(int32_t Value);
  void SetMinHeight(int32_t Value);
  void SetMinWidth(int32_t Value);
  // Width and height within the limits.
  void Constrain(int32_t& Width, int32_t& Height) const;
  TNotifyEvent OnChange;

 private:
  void Change();
  int32_t FMaxHeight = 0, FMaxWidth = 0, FMinHeight = 0, FMinWidth = 0;
};

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;
  std::string ClassName() const override { return "TControl"; }

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* AParent);

  int32_t Left() const { return FLeft; }
  int32_t Top() const { return FTop; }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetLeft(int32_t Value) { SetBounds(Value, FTop, FWidth, FHeight); }
  void SetTop(int32_t Value) { SetBounds(FLeft, Value, FWidth, FHeight); }
  void SetWidth(int32_t Value) { SetBounds(FLeft, FTop, Value, FHeight); }
  void SetHeight(int32_t Value) { SetBounds(FLeft, FTop, FWidth, Value); }
  // Position in the parent's client area; negative sizes become 0, and the size keeps within
  // Constraints.
  virtual void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight);
  TSizeConstraints* Constraints() const { return FConstraints.get(); }
  TRect BoundsRect() const { return {FLeft, FTop, FLeft + FWidth, FTop + FHeight}; }
  void SetBoundsRect(const TRect& R) { SetBounds(R.Left, R.Top, R.Width(), R.Height()); }
  // (0, 0, ClientWidth, ClientHeight): the control less its borders and scroll bars.
  virtual TRect ClientRect() const;
  int32_t ClientWidth() const { return ClientRect().Right; }
  int32_t ClientHeight() const { return ClientRect().Bottom; }
  void SetClientWidth(int32_t Value);
  void SetClientHeight(int32_t Value);
  // Screen position of the client area's top-left corner.
  TPoint ClientOrigin() const;
  TPoint ClientToScreen(const TPoint& P) const;
  TPoint ScreenToClient(const TPoint& P) const;

  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign Value);
  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible, and so are all its parents (a form: visible on screen).
  bool Showing() const;
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool Value);
  TFont* Font() const { return FFont.get(); }
  void SetFont(const TFont* Value);
  bool ParentFont() const { return FParentFont; }
  void SetParentFont(bool Value);
  const std::string& Caption() const { return FText; }
  void SetCaption(const std::string& Value) { SetText(Value); }
  const std::string& Text() const { return FText; }
  void SetText(const std::string& Value);
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& Value);
  // ShowHint follows the parent's while ParentShowHint is set.
  bool ShowHint() const;
  void SetShowHint(bool Value);
  bool ParentShowHint() const { return FParentShowHint; }
  void SetParentShowHint(bool Value);
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor Value);
  TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(TPopupMenu* Value);
  TControlStyle ControlStyle() const { return FControlStyle; }
  void SetControlStyle(TControlStyle Value);
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t Value) { FTag = Value; }

  // Holding the mouse capture routes every mouse event to this control until released.
  bool MouseCapture() const;
  void SetMouseCapture(bool Value);

  // Marks the whole control (or R, in client coordinates) for repainting.
  virtual void Invalidate();
  void InvalidateRect(const TRect& R);
  // Paints pending invalid parts now.
  void Update();
  virtual void Repaint();
  void Refresh() { Repaint(); }
  void BringToFront();
  void SendToBack();
  // Sends a mouse click to the control's handlers as if the user clicked.
  void PerformClick() { Click(); }

  // Drag and drop inside the program. BeginDrag starts at once (Immediate) or once the mouse
  // has moved Threshold pixels (5 when negative); targets are asked through DragOver, the
  // release drops on an accepting target, and the source hears EndDrag with the target (or
  // nullptr). dmAutomatic starts a drag on every left press.
  void BeginDrag(bool Immediate, int32_t Threshold = -1);
  // Ends a drag in progress; with Drop the target under the mouse gets it when it accepts.
  void EndDrag(bool Drop);
  bool Dragging() const;
  TDragMode DragMode() const { return FDragMode; }
  void SetDragMode(TDragMode Value) { FDragMode = Value; }
  TCursor DragCursor() const { return FDragCursor; }
  void SetDragCursor(TCursor Value) { FDragCursor = Value; }

  // The form the control sits on (nullptr when none).
  TCustomForm* ParentForm() const;

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;
  TNotifyEvent OnResize;
  TContextPopupEvent OnContextPopup;
  TDragOverEvent OnDragOver;
  TDragDropEvent OnDragDrop;
  TStartDragEvent OnStartDrag;
  TEndDragEvent OnEndDrag;

  // The widget behind the control (an opaque handle; platform code casts it to QWidget*).
  HWND WidgetHandle() const;

 protected:
  virtual void Click();
  virtual void DblClick();
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  virtual void MouseMove(TShiftState Shift, int32_t X, int32_t Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  // The mouse entered or left the control (CM_MOUSEENTER / CM_MOUSELEAVE).
  virtual void MouseEnter();
  virtual void MouseLeave();
  virtual void Resize();
  // Paints the client area; the canvas's ClipRect is the update rectangle.
  virtual void Paint() {}
  // The canvas while painting (TCustomControl and TGraphicControl publish it).
  TCanvas* PaintCanvas() const;
  // Before the hint shows (CM_HINTSHOW): false cancels it.
  virtual bool HintShow(THintInfo& Info);
  // The menu a right click pops up; the default is PopupMenu.
  virtual TPopupMenu* GetPopupMenu() { return FPopupMenu; }
  virtual void DoContextPopup(TPoint MousePos, bool& Handled);
  // WM_SETCURSOR, asked before every mouse move at client point P: true shows Cursor instead of
  // the control's Cursor property.
  virtual bool CursorQuery(TPoint P, TCursor& Cursor);
  // Shows Value over the control (crDefault: its Cursor) without changing Cursor. It shows only
  // while the mouse is over the control, never for the rest of the program; setting Cursor or
  // a cursor query replaces it.
  void ShowCursor(TCursor Value);
  // WM_CANCELMODE: the mouse mode is being taken away (a popup menu opens).
  virtual void CancelMode() {}
  virtual void DoStartDrag();
  // Accept starts True when OnDragOver is assigned and False otherwise.
  virtual void DragOver(TObject* Source, int32_t X, int32_t Y, TDragState State, bool& Accept);
  virtual void DragDrop(TObject* Source, int32_t X, int32_t Y);
  virtual void DoEndDrag(TObject* Target, int32_t X, int32_t Y);
  virtual void VisibleChanged() {}
  virtual void EnabledChanged();
  // CM_DIALOGKEY / CM_DIALOGCHAR, offered to every control of the form, windowed or not, before
  // the focused control sees Return, Escape or an Alt accelerator; true consumes the key.
  virtual bool DialogKey(Word Key, TShiftState Shift);
  virtual bool DialogChar(TKeyChar Key);
  virtual void FontChanged();
  virtual void ColorChanged();
  virtual void TextChanged();
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // Offset of the client area inside the widget (the border).
  virtual TPoint ClientOffset() const { return {0, 0}; }

 private:
  friend class TWinControl;
  friend class detail::TControlWidget;
  void ParentFontChanged();
  void ParentColorChanged();
  void UpdateWidgetVisibility();
  void UpdateWidgetCursor();
  void SyncGeometryFromWidget();
  // Event plumbing from the widget.
  void WidgetPaint(QPainter& Painter, const QRect& Update);
  void WidgetMouse(int Kind, int Button, int X, int Y, uint32_t QtButtons, uint32_t QtModifiers);

  TWinControl* FParent = nullptr;
  detail::TControlWidget* FWidget = nullptr;
  std::unique_ptr<TSizeConstraints> FConstraints;
  int32_t FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  TAlign FAlign = alNone;
  bool FVisible = true;
  bool FEnabled = true;
  TColor FColor = clWindow;
  bool FParentColor = false;
  std::unique_ptr<TFont> FFont;
  bool FParentFont = true;
  std::string FText;
  std::string FHint;
  bool FShowHint = false;
  bool FParentShowHint = true;
  TCursor FCursor = crDefault;
  TPopupMenu* FPopupMenu = nullptr;
  TControlStyle FControlStyle = csCaptureMouse | csClickEvents | csSetCaption | csDoubleClicks;
  int32_t FTag = 0;
  bool FMouseInside = false;
  bool FPressed = false;
  TCanvas* FPaintCanvas = nullptr;
  TDragMode FDragMode = dmManual;
  TCursor FDragCursor = crDrag;
  bool FQueriedCursor = false;
  bool DragMouse(int Kind, const TPoint& Client);
  friend void CancelModeOfCapture();

 protected:
  bool FInPaint = false;
};

// An exclusive-or figure drawn over a window: a line, a rectangle outline (solid or dotted pen),
// an inverted rectangle, or a rectangle inverted through a checkered pattern.
struct TXorFigure {
  enum TKind : uint8_t { xfLine, xfFrame, xfInvertRect, xfPatternRect };
  TKind Kind = xfLine;
  TRect R;             // xfLine: from (Left, Top) to (Right, Bottom), last point excluded
  TColor Color = clBlack;
  bool Dotted = false;
  // Lines and frames: pen mode not-xor instead of xor (a black pen then inverts).
  bool NotXor = false;
  int32_t PenWidth = 1;
  friend bool operator==(const TXorFigure&, const TXorFigure&) = default;
};

// The figures currently xor-ed over a window. Toggle is the emulated "draw in xor mode":
// drawing a figure that is shown removes it, so drawing twice erases, as an xor pen does.
class TXorOverlay {
 public:
  explicit TXorOverlay(TWinControl* Owner) : FOwner(Owner) {}
  void Toggle(const TXorFigure& Figure);
  void ToggleLine(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor Color, bool Dotted = false,
                  bool NotXor = false);
  void ToggleFrame(const TRect& R, TColor Color, bool Dotted = false, bool NotXor = false);
  void ToggleInvert(const TRect& R);
  void TogglePattern(const TRect& R);
  void Clear();
  int32_t Count() const { return static_cast<int32_t>(FFigures.size()); }
  const std::vector<TXorFigure>& Figures() const { return FFigures; }
  // Draws every figure with xor composition, in the painter's (client) coordinates.
  void PaintOn(QPainter& Painter) const;
  // Figures go over the window's child controls too (a splitter's bar dragged across its
  // panes), drawn in a layer above them while any is shown; off by default.
  void SetAboveChildren(bool Value);
  bool AboveChildren() const { return FAboveChildren; }
  ~TXorOverlay();

 private:
  void InvalidateFigure(const TXorFigure& Figure);
  void UpdateLayer();
  TWinControl* FOwner;
  std::vector<TXorFigure> FFigures;
  bool FAboveChildren = false;
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;
  std::string ClassName() const override { return "TWinControl"; }

  int32_t ControlCount() const { return static_cast<int32_t>(FControls.size()); }
  TControl* Controls(int32_t Index) const { return FControls.at(static_cast<size_t>(Index)); }
  // The visible child control at P (client coordinates), topmost first; with AllowDisabled
  // disabled ones count too.
  TControl* ControlAtPos(const TPoint& P, bool AllowDisabled, bool AllowWinControls = true) const;
  // Lays the aligned children out again (top, bottom, left, right, then client), as the class
  // library does.
  void Realign();
  void DisableAlign() { ++FAlignLevel; }
  void EnableAlign();

  // The window "handle": it exists from HandleNeeded on (also when the control is shown or is
  // put on a parent that has one). Creating it runs CreateWnd, then WMSize.
  bool HandleAllocated() const { return FHandleAllocated; }
  void HandleNeeded();
  HWND Handle();
  // Destroys the handle and creates it again so new CreateParams take effect.
  void RecreateWnd();

  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool Value);
  bool CanFocus() const;
  bool Focused() const;
  virtual void SetFocus();
  // Keys that normally move the focus (Tab, arrows) reach KeyDown when wanted.
  bool WantTabs() const { return FWantTabs; }
  void SetWantTabs(bool Value) { FWantTabs = Value; }
  bool WantArrows() const { return FWantArrows; }
  void SetWantArrows(bool Value) { FWantArrows = Value; }
  // Text that the input method composes (dead keys, compose sequences) reaches KeyPress, one
  // character at a time, as typed keys do; off by default.
  bool InputMethodEnabled() const;
  void SetInputMethodEnabled(bool Value);

  TXorOverlay& XorOverlay() { return FXorOverlay; }

  // The sunken three-dimensional look. While ParentCtl3D is set the control takes its
  // parent's Ctl3D (and keeps following it); setting Ctl3D clears ParentCtl3D.
  bool Ctl3D() const { return FCtl3D; }
  void SetCtl3D(bool Value);
  bool ParentCtl3D() const { return FParentCtl3D; }
  void SetParentCtl3D(bool Value);

  // Created with WS_POPUP: the control floats above its parent in a frameless window of its own,
  // and Left and Top are screen coordinates. It still belongs to the parent (focus, font, form).
  bool IsPopupWindow() const { return (FParams.Style & WS_POPUP) != 0; }

  // Window scroll bars (they take room from the client area while shown). Bar is SB_HORZ or
  // SB_VERT. SetScrollInfo returns the new position.
  int32_t SetScrollInfo(int32_t Bar, const TScrollInfo& Info, bool Redraw);
  bool GetScrollInfo(int32_t Bar, TScrollInfo& Info) const;
  int32_t GetScrollPos(int32_t Bar) const;
  int32_t SetScrollPos(int32_t Bar, int32_t Pos, bool Redraw);
  // Moves the client pixels (and child windows) by (DX, DY); only the uncovered strip is painted.
  void ScrollWindow(int32_t DX, int32_t DY);
  // WM_SETREDRAW: while off, nothing is painted; turning it on repaints everything.
  void SetRedraw(bool Value);

  TRect ClientRect() const override;

  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;
  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;

 protected:
  virtual void CreateParams(TCreateParams& Params);
  virtual void CreateWnd();
  virtual void DestroyWnd() {}
  // The window changed size (WM_SIZE): realigns the children, then Resize.
  virtual void WMSize();
  // Scroll-bar messages (WM_HSCROLL / WM_VSCROLL): Code is an SB_ value.
  virtual void WMHScroll(int32_t Code, int32_t Pos);
  virtual void WMVScroll(int32_t Code, int32_t Pos);
  virtual void KeyDown(Word& Key, TShiftState Shift);
  virtual void KeyUp(Word& Key, TShiftState Shift);
  virtual void KeyPress(TKeyChar& Key);
  virtual void DoEnter();
  virtual void DoExit();
  // CM_WANTSPECIALKEY: true to receive Tab, arrows, Return or Escape as ordinary keys.
  virtual bool WantSpecialKey(Word Key, TShiftState Shift);
  bool DialogKey(Word Key, TShiftState Shift) override;
  bool DialogChar(TKeyChar Key) override;
  // Positions the aligned children inside Rect (the client area by default).
  virtual void AlignControls(TControl* AControl, TRect& Rect);
  // The part of the client area the aligned children share (a panel leaves its bevels out).
  virtual void AdjustClientRect(TRect& Rect) { (void)Rect; }
  TPoint ClientOffset() const override;
  // Paints the border in the widget's coordinates (before the client is painted).
  void PaintBorder(QPainter& Painter);
  // Ctl3D changed (set, or taken from the parent).
  virtual void Ctl3DChanged() {}

 private:
  friend class TControl;
  friend class TXorOverlay;
  friend class detail::TControlWidget;
  friend class detail::TScrollBarSet;
  friend class TCustomForm;
  void AlignControl(TControl* AControl);
  void InsertControl(TControl* AControl);
  void RemoveControl(TControl* AControl);
  void CreateHandle();
  void UpdateNonClient();
  void UpdateWindowKind();
  bool DispatchKey(int QtKey, uint32_t QtModifiers, const std::string& Text, bool Down, bool AutoRepeat);
  // Text committed by the input method (UTF-8), each character as a key press.
  void DispatchCommittedText(const std::string& Text);
  bool BroadcastDialogKey(Word Key, TShiftState Shift);
  bool BroadcastDialogChar(TKeyChar Key);
  void SelectNextSibling(bool Forward);
  void ScrollBarAction(int32_t Bar, int32_t Code, int32_t Pos);
  void StoreCtl3D(bool Value);
  void ParentCtl3DChanged();

  std::vector<TControl*> FControls;
  bool FHandleAllocated = false;
  int32_t FAlignLevel = 0;
  bool FRealigning = false;
  bool FTabStop = false;
  bool FWantTabs = false;
  bool FWantArrows = false;
  bool FCtl3D = true;
  bool FParentCtl3D = true;
  TCreateParams FParams;
  TXorOverlay FXorOverlay{this};
  std::unique_ptr<detail::TScrollBarSet> FScrollBars;
};

// A windowed control that paints itself on its Canvas.
class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* AOwner);
  ~TCustomControl() override;
  std::string ClassName() const override { return "TCustomControl"; }
  // During Paint the canvas draws on the window; at other times it measures (text extents) and
  // draws on nothing visible.
  TCanvas* Canvas();

 private:
  std::unique_ptr<TCanvas> FIdleCanvas;
};

// A control without a focusable window of its own, painted on a Canvas.
class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(TComponent* AOwner);
  ~TGraphicControl() override;
  std::string ClassName() const override { return "TGraphicControl"; }
  TCanvas* Canvas();

 private:
  std::unique_ptr<TCanvas> FIdleCanvas;
};

// The part of a hint before "|" (shown in the hint window) and after it (the status text).
std::string GetShortHint(const std::string& Hint);
std::string GetLongHint(const std::string& Hint);

// The control of ours whose window is Window (walking up to the nearest one); nullptr for none.
TWinControl* FindControl(HWND Window);
// The control of ours behind a widget, windowed or not.
TControl* ControlOfWidget(HWND Window);
// The enabled or disabled control under a screen point (FindDragTarget); nullptr for none.
TControl* FindDragTarget(const TPoint& ScreenPos, bool AllowDisabled);
// The control holding the mouse capture (GetCapture); nullptr for none.
TControl* GetCaptureControl();
// Releases any capture (ReleaseCapture).
void ReleaseCapture();
// Screen position of the mouse pointer.
TPoint GetCursorPos();
// Screen position of the mouse event being handled (GetMessagePos); the pointer's before any.
TPoint GetMessagePos();
// Sends CancelMode to the control holding the capture and releases it (a menu is opening).
void CancelModeOfCapture();

}  // namespace platform
