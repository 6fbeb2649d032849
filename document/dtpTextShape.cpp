#include "document/dtpTextShape.h"

#include <algorithm>
#include <cmath>

#include "document/XmlDocuments.h"
#include "platform/ExtCtrls.h"
#include "platform/Graphics.h"
#include "platform/Rounding.h"
#include "platform/SysUtils.h"

namespace document {

namespace {

// Font.Height limits: 1/200 point up to 2000 points. Beyond them the fitting loops would run
// without end (a box of zero or huge size) or the pixel font would not fit an int.
constexpr int32_t kMaxFontHeight = 200 * 2000;

std::unique_ptr<TBitmap32>& MeasureBitmapSlot() {
  static std::unique_ptr<TBitmap32> bmp;
  return bmp;
}

TBitmap32& MeasureBitmap() {
  auto& b = MeasureBitmapSlot();
  if (!b) {
    b = std::make_unique<TBitmap32>();
    b->SetSize(8, 8);
  }
  return *b;
}

}  // namespace

const TShapeClass& TdtpTextShape::StaticClass() {
  static const TShapeClass cls = MakeShapeClass<TdtpTextShape>("TdtpTextShape", &TdtpEffectShape::StaticClass());
  return cls;
}

TdtpTextShape::TdtpTextShape() : FFont(std::make_unique<platform::TFont>()) {
  FFont->SetPixelsPerInch(14400);
  FFont->SetName("Verdana");
  FFont->SetColor(0);
  RememberFont();
  FFont->OnChange = [this](platform::TObject*) { FontChanged(); };
}

void TdtpTextShape::RememberFont() {
  FStoredFontName = FFont->Name();
  FStoredFontColor = FFont->Color();
  FStoredFontStyle = FFont->Style().Bits();
}

void TdtpTextShape::FontChanged() {
  if (FLoading || FFontSetter) return;
  const bool colour = FFont->Color() != FStoredFontColor;
  if (!colour && FFont->Name() == FStoredFontName && FFont->Style().Bits() == FStoredFontStyle) return;
  RememberFont();
  if (colour) SetColor(platform::TColor(raster::Color32(FFont->Color())));
  AutoSizeToText();
  Changed();
}

TdtpTextShape::~TdtpTextShape() {
  FBlinkTimer.reset();
  FLineEdit.reset();
}

void TdtpTextShape::InitDefaults() {
  TdtpEffectShape::InitDefaults();
  FAlignment = platform::taLeftJustify;
  FAutoSize = true;
  FFontHeight = 4.233333f;
  FScaleFontWithSize = true;
  FColor = platform::TColor(0xFF000000u);
  SetCursorId(-37);
}

int32_t TdtpTextShape::ScaledFontHeight() const {
  const double h = double(GetRenderDpm()) * double(FFontHeight) * 200.0;
  if (!std::isfinite(h) || h < 1) return 1;
  if (h > kMaxFontHeight) return kMaxFontHeight;
  return int32_t(platform::Round(h));
}

void TdtpTextShape::SetText(const std::string& Value) {
  if (Value == FText) return;
  RecordChange(ckPropertyChange, "Text", FText);
  FText = Value;
  AutoSizeToText();
  Changed();
}

void TdtpTextShape::SetAlignment(platform::TAlignment Value) {
  if (Value == FAlignment) return;
  FAlignment = Value;
  RefreshAll();
  Changed();
}

void TdtpTextShape::SetAutoSize(bool Value) {
  if (Value == FAutoSize) return;
  RecordBoolChange("AutoSize", FAutoSize);
  Invalidate();
  FAutoSize = Value;
  if (Value) AutoSizeToText();
  // The setting is stored with the shape: a save in place must write it.
  Changed();
}

void TdtpTextShape::SetFontHeight(float Value) {
  if (Value == FFontHeight || !std::isfinite(Value)) return;
  RecordFloatChange("FontHeight", FFontHeight);
  FFontHeight = Value;
  AutoSizeToText();
  Changed();
}

void TdtpTextShape::SetFontName(const std::string& Value) {
  if (Value == FFont->Name()) return;
  RecordChange(ckPropertyChange, "FontName", FFont->Name());
  ++FFontSetter;
  FFont->SetName(Value);
  --FFontSetter;
  RememberFont();
  AutoSizeToText();
  Changed();
}

void TdtpTextShape::SetFontStyle(uint8_t Value) {
  Value &= 0x0F;
  if (Value == FontStyle()) return;
  RecordFontStyleChange("FontStyle", FontStyle());
  ++FFontSetter;
  FFont->SetStyle(platform::TFontStyles::FromBits(Value));
  --FFontSetter;
  RememberFont();
  AutoSizeToText();
  Changed();
}

void TdtpTextShape::SetFontColor(platform::TColor Value) {
  if (Value == FFont->Color()) return;
  RecordIntegerChange(ckPropertyChange, "FontColor", int32_t(FFont->Color()));
  ++FFontSetter;
  FFont->SetColor(Value);
  --FFontSetter;
  RememberFont();
  SetColor(platform::TColor(raster::Color32(Value)));
  RefreshAll();
  Changed();
}

void TdtpTextShape::SetCaretIndex(int32_t Value) {
  if (Value == FCaretIndex) return;
  FCaretIndex = Value;
  Invalidate();
}

void TdtpTextShape::SetSelStart(int32_t Value) {
  if (Value == FSelStart) return;
  FSelStart = Value;
  Invalidate();
}

void TdtpTextShape::SetSelLength(int32_t Value) {
  if (Value == FSelLength) return;
  FSelLength = Value;
  Invalidate();
}

void TdtpTextShape::SetPropertyByName(const std::string& Name, const std::string& Value) {
  using platform::SameText;
  TdtpEffectShape::SetPropertyByName(Name, Value);
  if (SameText(Name, "AutoSize"))
    SetAutoSize(DtpStrToBool(Value));
  else if (SameText(Name, "Text"))
    SetText(Value);
  else if (SameText(Name, "FontName"))
    SetFontName(Value);
  else if (SameText(Name, "FontStyle"))
    SetFontStyle(StrToFontStyles(Value));
  else if (SameText(Name, "FontHeight"))
    SetFontHeight(DtpStrToFloat(Value));
  else if (SameText(Name, "FontColor"))
    SetFontColor(platform::TColor(platform::StrToInt(Value)));
}

void TdtpTextShape::GetDefaultSize(TdtpFloatPoint& Size) const { Size = {0, 1.2f * FFontHeight}; }

void TdtpTextShape::SetParentShape(TdtpShape* Parent) {
  TdtpEffectShape::SetParentShape(Parent);
  AutoSizeToText();
}

void TdtpTextShape::SetDocSize(float Width, float Height) {
  // Scaling the font needs a height to scale from; a zero-high box is resized plainly.
  if (FAutoSize && FScaleFontWithSize && !FUpdating && Width != 0 && Height != 0 && FDocHeight != 0) {
    const float h = Height / FDocHeight * FFontHeight;
    if (std::isfinite(h)) {
      SetFontHeight(h);
      return;
    }
  }
  TdtpEffectShape::SetDocSize(Width, Height);
}

// ---------------------------------------------------------------------------------------
// Measuring and fitting

void TdtpTextShape::LineExtent(const std::string& S, float& Width, float& Height) {
  TBitmap32& bmp = MeasureBitmap();
  bmp.SetFont(FFont.get());
  bmp.UpdateFont();
  const auto s = bmp.TextExtent(S.empty() ? std::string(" ") : S);
  const float dpm = GetRenderDpm();
  Width = float(s.cx) / dpm;
  Height = float(s.cy) / dpm;
}

void TdtpTextShape::TextExtent(float& Width, float& Height) { LineExtent(FText, Width, Height); }

void TdtpTextShape::AutoSizeToText() {
  if (!FAutoSize) {
    RefreshAll();
    return;
  }
  FUpdating = true;
  LockDocument();
  try {
    FFont->SetHeight(ScaledFontHeight());
    float w = 0, h = 0;
    TextExtent(w, h);
    float shift = 0;
    if (FAlignment == platform::taRightJustify)
      shift = FDocWidth - w;
    else if (FAlignment == platform::taCenter)
      shift = (FDocWidth - w) * 0.5f;
    // Along the text's own direction, so that a turned text keeps its aligned edge too.
    const float left = FDocAngle == 0 ? FDocLeft + shift : float((double)FDocLeft + (double)FCos * shift);
    const float top = FDocAngle == 0 ? FDocTop : float((double)FDocTop - (double)FSin * shift);
    SetDocBounds(left, top, w, h);
  } catch (...) {
    UnlockDocument();
    FUpdating = false;
    throw;
  }
  UnlockDocument();
  FUpdating = false;
  // A new text of the same extent leaves the bounds alone; it still has to be drawn.
  RefreshAll();
}

uint32_t TdtpTextShape::AlignFlags() const {
  switch (FAlignment) {
    case platform::taRightJustify:
      return platform::DT_RIGHT;
    case platform::taCenter:
      return platform::DT_CENTER;
    default:
      return platform::DT_LEFT;
  }
}

platform::TRect TdtpTextShape::TextRect(const TBitmap32* Bitmap) const {
  // The box as the device matrix places it: the buffer also holds the paint outsets around it
  // (curbs, effects such as a shadow), and the text, its caret and its outline go in the box.
  const TdtpMatrix& m = FDeviceMatrix;
  if (m != IdentityDtpMatrix() && m[0][0] > 0 && m[1][1] > 0 && m[0][1] == 0 && m[1][0] == 0) {
    auto px = [](double V) { return int32_t(platform::Round(V)); };
    const double l = m[0][2], t = m[1][2];
    const platform::TRect r{px(l), px(t), px(l + double(m[0][0]) * FDocWidth), px(t + double(m[1][1]) * FDocHeight)};
    if (!platform::IsRectEmpty(r)) return r;
  }
  if (Bitmap == FBuffer.get() && !platform::IsRectEmpty(FBufferRect)) return FBufferRect;
  return {0, 0, Bitmap->Width(), Bitmap->Height()};
}

void TdtpTextShape::DrawText(TBitmap32* Bitmap) { Bitmap->Textout(TextRect(Bitmap), AlignFlags(), FText); }

void TdtpTextShape::PaintShape(TBitmap32* Bitmap) {
  if (!Bitmap) return;
  const int32_t h = ScaledFontHeight();
  const bool changed = h != FFont->Height();
  FFont->SetHeight(h);
  if (changed && FAutoSize) {
    // The extent only depends on the point size, which changes every 200 steps of
    // Font.Height; a step within the same point size reuses the last measurement.
    int32_t lastSize = 0;
    bool haveLast = false;
    float w = 0, hh = 0;
    auto measure = [&] {
      const int32_t size = FFont->Size();
      if (haveLast && size == lastSize) return;
      TextExtent(w, hh);
      lastSize = size;
      haveLast = true;
    };
    measure();
    if (w <= FDocWidth && hh <= FDocHeight) {
      while (w < FDocWidth && hh < FDocHeight && FFont->Height() < kMaxFontHeight) {
        FFont->SetHeight(FFont->Height() + 1);
        measure();
      }
      if (w > FDocWidth || hh > FDocHeight) {
        FFont->SetHeight(FFont->Height() - 1);
        measure();
      }
    } else {
      while (!(w <= FDocWidth && hh <= FDocHeight) && FFont->Height() > 1) {
        FFont->SetHeight(FFont->Height() - 1);
        measure();
      }
    }
  }
  Bitmap->SetFont(FFont.get());
  Bitmap->Clear(0);
  Bitmap->Font().SetColor(0xFFFFFF);
  Bitmap->FontChanged();
  DrawText(Bitmap);
  // The blue byte of white-on-black text is the coverage: it becomes the alpha.
  const TColor32 rgb = raster::Color32(FFont->Color()) & 0x00FFFFFFu;
  TColor32* p = Bitmap->Bits();
  const int64_t n = int64_t(Bitmap->Width()) * Bitmap->Height();
  for (int64_t i = 0; i < n; ++i) p[i] = (p[i] << 24) + rgb;
}

// ---------------------------------------------------------------------------------------
// Caret tables

void TdtpTextShape::BuildLineCaretTables() {
  // One entry per caret position: characters (code points) + 1.
  const size_t n = Utf8ToChars(FText).size();
  FCaretX.assign(n + 1, 0.0f);
  FCaretLine.assign(n + 1, 0);
  std::vector<int32_t> pix(n + 1, 0);
  if (n > 0) {
    TBitmap32& bmp = MeasureBitmap();
    bmp.SetFont(FFont.get());
    bmp.UpdateFont();
    const std::vector<int32_t> adv = platform::TextMeasurer().CharAdvances(bmp.Font(), FText);
    for (size_t i = 0; i < n; ++i) pix[i + 1] = pix[i] + (i < adv.size() ? adv[i] : 0);
  }
  const float dpm = GetRenderDpm();
  const float end = float(pix[n]) / dpm;
  float shift = 0;
  if (FAlignment == platform::taRightJustify)
    shift = FDocWidth - end;
  else if (FAlignment == platform::taCenter)
    shift = (FDocWidth - end) / 2;
  for (size_t i = 0; i <= n; ++i) FCaretX[i] = float(pix[i]) / dpm + shift;
}

void TdtpTextShape::TextOrigin() { BuildLineCaretTables(); }

// ---------------------------------------------------------------------------------------
// Editing

void TdtpTextShape::StartEdit() {
  FSavedText = FText;
  if (!FHitTestEnabled) {
    if (FDocument) FDocument->EndShapeEdit(false);
    return;
  }
  TextOrigin();
  FBlinkTimer = std::make_unique<platform::TTimer>(nullptr);
  FBlinkTimer->SetInterval(400);
  FBlinkTimer->OnTimer = [this](platform::TObject*) {
    FCaretBlink = !FCaretBlink;
    Invalidate();
  };
  FCaretBlink = false;
  FLineEdit = std::make_unique<TdtpLineEdit>();
  FLineEdit->SetText(FText);
  FLineEdit->OnChange = [this](platform::TObject*) { EditorChanged(); };
  FCaretIndex = FLineEdit->CaretPos();
  FSelStart = FSelLength = 0;
  FHasClick = false;
  Invalidate();
  InvalidateViaDocument();
}

void TdtpTextShape::EditorChanged() {
  if (!FLineEdit) return;
  SetText(FLineEdit->Text());
  SetSelStart(FLineEdit->SelStart());
  SetSelLength(FLineEdit->SelLength());
  SetCaretIndex(FLineEdit->CaretPos());
  TextOrigin();
}

void TdtpTextShape::EndEdit(bool Accept) {
  if (!Accept) SetText(FSavedText);
  FBlinkTimer.reset();
  FLineEdit.reset();
  Invalidate();
}

void TdtpTextShape::KeyDownHook(uint16_t& Key, platform::TShiftState Shift) {
  auto finish = [this](bool Accept) {
    if (FDocument)
      FDocument->EndShapeEdit(Accept);
    else
      EndEdit(Accept);
  };
  switch (Key) {
    case 27:
    case 3:
      finish(false);
      break;
    case 9:
    case 13:
    case 43:
    case 113:
      finish(true);
      break;
    default:
      if (FLineEdit) FLineEdit->KeyDown(Key, Shift);
  }
}

void TdtpTextShape::KeyPressHook(platform::TKeyChar& Key) {
  if (FLineEdit) FLineEdit->KeyPress(Key);
}

void TdtpTextShape::KeyUpHook(uint16_t Key, platform::TShiftState Shift) {
  if (FLineEdit) FLineEdit->KeyUp(Key, Shift);
}

int32_t TdtpTextShape::CaretAt(float X, float Y) const {
  if (FCaretX.empty()) return 0;
  const float pitch = 1.2f * FFontHeight;
  const float rows = pitch > 0 ? Y / pitch : 0;
  const int32_t line = std::isfinite(rows) ? int32_t(std::clamp(rows, 0.0f, 1e6f)) : 0;
  const int32_t want = std::min(line, FCaretLine.back());
  int32_t best = -1;
  float bestD = 0;
  for (size_t i = 0; i < FCaretX.size(); ++i) {
    if (FCaretLine[i] != want) continue;
    const float d = std::fabs(FCaretX[i] - X);
    if (best < 0 || d < bestD) {
      best = int32_t(i);
      bestD = d;
    }
  }
  return std::max(best, 0);
}

void TdtpTextShape::DblClickHook() {
  if (!FLineEdit) return;
  const std::u32string& t = FLineEdit->Chars();
  const int32_t n = int32_t(t.size());
  int32_t start = n, end = n;
  if (FHasClick && int32_t(FCaretX.size()) == n + 1) {
    // The word under the double-click: the characters between blanks or line breaks.
    auto blank = [&](int32_t i) {
      const char32_t c = t[size_t(i)];
      return c == U' ' || c == U'\t' || c == U'\r' || c == U'\n';
    };
    const int32_t p = CaretAt(FClickX, FClickY);
    start = end = p;
    while (start > 0 && !blank(start - 1)) --start;
    while (end < n && !blank(end)) ++end;
  }
  FLineEdit->SetCaretPos(end);
  FLineEdit->SetSelStart(start);
  FLineEdit->SetSelLength(end - start);
  EditorChanged();
}

bool TdtpTextShape::HitsLocal(int32_t X, int32_t Y) const {
  TdtpFloatPoint p;
  if (!ScreenToLocal({X, Y}, p)) return false;
  return p.X >= 0 && p.X <= FDocWidth && p.Y >= 0 && p.Y <= FDocHeight;
}

void TdtpTextShape::MouseDownHook(platform::TMouseButton, platform::TShiftState, int32_t X, int32_t Y) {
  if (HitsLocal(X, Y)) {
    TdtpFloatPoint p;
    FHasClick = Editing() && ScreenToLocal({X, Y}, p);
    if (FHasClick) {
      FClickX = FMirrored ? FDocWidth - p.X : p.X;
      FClickY = p.Y;
    }
    return;
  }
  if (Editing() && FDocument) FDocument->EndShapeEdit(true);
}

void TdtpTextShape::PaintOutline(platform::TCanvas* Canvas) {
  if (!FLineEdit) {
    TdtpEffectShape::PaintOutline(Canvas);
    return;
  }
  if (!Canvas || FCaretX.empty()) return;
  const int32_t n = int32_t(FCaretX.size()) - 1;
  const float pitch = 1.2f * FFontHeight;
  auto screen = [this](float X, float Y) {
    if (FMirrored) X = FDocWidth - X;
    TdtpFloatPoint s{0, 0};
    LocalToScreen({X, Y}, s);
    return platform::TPoint{int32_t(platform::Round(double(s.X))), int32_t(platform::Round(double(s.Y)))};
  };
  if (FSelStart >= 0 && FSelStart < n && FSelLength > 0 && int64_t(FSelStart) + FSelLength <= n) {
    Canvas->Brush()->SetColor(0x808080);
    Canvas->Brush()->SetStyle(platform::bsDiagCross);
    Canvas->Pen()->SetStyle(platform::psClear);
    const int32_t last = FSelStart + FSelLength;
    int32_t a = FSelStart;
    while (a < last) {
      int32_t b = a;
      while (b < last && FCaretLine[size_t(b + 1)] == FCaretLine[size_t(a)]) ++b;
      const float top = float(FCaretLine[size_t(a)]) * pitch;
      const platform::TPoint p1 = screen(FCaretX[size_t(a)], top);
      const platform::TPoint p2 = screen(FCaretX[size_t(b)], top + pitch);
      Canvas->Rectangle(std::min(p1.X, p2.X), std::min(p1.Y, p2.Y), std::max(p1.X, p2.X), std::max(p1.Y, p2.Y));
      a = b == a ? a + 1 : b;
    }
  }
  if (FCaretIndex >= 0 && FCaretIndex <= n && !FCaretBlink) {
    Canvas->Pen()->SetStyle(platform::psSolid);
    Canvas->Pen()->SetMode(platform::pmCopy);
    Canvas->Pen()->SetColor(0x800000);
    Canvas->Pen()->SetWidth(2);
    const float x = FCaretX[size_t(FCaretIndex)];
    const float line = float(FCaretLine[size_t(FCaretIndex)]);
    const platform::TPoint p1 = screen(x, line * pitch);
    const platform::TPoint p2 = screen(x, (line + 1) * pitch);
    Canvas->MoveTo(p1.X, p1.Y);
    Canvas->LineTo(p2.X, p2.Y);
  }
}

// ---------------------------------------------------------------------------------------
// XML

void TdtpTextShape::SaveToXml(TXmlNode* Node) {
  if (!Node) return;
  TdtpEffectShape::SaveToXml(Node);
  Node->WriteString("Text", FText);
  Node->WriteFont("Font", FFont.get());
  Node->WriteFloat("FontHeight", FFontHeight);
  // Written only when not the default, whatever the document's write-on-default setting, so
  // that left-aligned autosized texts are stored exactly as before.
  if (FAlignment != platform::taLeftJustify) Node->WriteInteger("Alignment", int32_t(FAlignment), -1);
  if (!FAutoSize) Node->WriteBool("AutoSize", false, true);
}

void TdtpTextShape::LoadFromXml(TXmlNode* Node) {
  if (!Node) return;
  ++FLoading;
  try {
    TdtpEffectShape::LoadFromXml(Node);
    FText = Node->ReadString("Text", "");
    Node->ReadFont("Font", FFont.get());
    const double h = Node->ReadFloat("FontHeight", 0);
    FFontHeight = std::isfinite(h) && std::fabs(h) < 1e6 ? float(h) : 0.0f;
    FColor = FFont->Color();
    // Missing in older files: left and autosized.
    const int32_t a = Node->ReadIntegerDef("Alignment", int32_t(platform::taLeftJustify));
    FAlignment = a == platform::taRightJustify || a == platform::taCenter ? platform::TAlignment(a)
                                                                            : platform::taLeftJustify;
    FAutoSize = Node->ReadBool("AutoSize", true);
  } catch (...) {
    --FLoading;
    RememberFont();
    throw;
  }
  --FLoading;
  RememberFont();
}

// ---------------------------------------------------------------------------------------

void InitializeDtpTextShape() {
  RegisterShapeClass(TdtpTextShape::StaticClass());
  MeasureBitmap();
}

void FinalizeDtpTextShape() { MeasureBitmapSlot().reset(); }

}  // namespace document
