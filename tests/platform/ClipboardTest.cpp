// The clipboard over Qt's (in-process under the offscreen platform): text, bitmaps that come
// back byte for byte, registered formats, several formats at once in their order, pictures
// that pick the first format a graphic class is tied to, and the error for no usable format.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include "platform/Clipboard.h"
#include "platform/Graphics.h"

using namespace platform;

namespace {

// A graphic that is just a block of bytes, tied to a registered clipboard format.
class TBlobGraphic : public TGraphic {
 public:
  static uint16_t Format() { return RegisterClipboardFormat("Test Blob"); }
  std::string ClassName() const override { return "TBlobGraphic"; }
  bool Empty() const override { return Bytes.empty(); }
  int32_t Width() const override { return 1; }
  int32_t Height() const override { return 1; }
  void SetWidth(int32_t) override {}
  void SetHeight(int32_t) override {}
  void LoadFromStream(TStream*) override {}
  void SaveToStream(TStream*) override {}
  void Draw(TCanvas*, const TRect&) override {}
  void SaveToClipboardFormat(uint16_t& F, std::vector<uint8_t>& D, TPaletteEntries&) override {
    // Like a GIF: its own format goes on first, the bitmap is what it returns.
    Clipboard()->SetAsHandle(Format(), Bytes);
    TBitmap b;
    b.SetSize(2, 2);
    TPaletteEntries p;
    b.SaveToClipboardFormat(F, D, p);
  }
  void LoadFromClipboardFormat(uint16_t F, const std::vector<uint8_t>& D, const TPaletteEntries&) override {
    if (F != Format()) throw EInvalidGraphic("Unsupported clipboard format");
    Bytes = D;
  }
  std::vector<uint8_t> Bytes;
};

std::vector<uint8_t> BmpBytes(TBitmap& b) {
  TMemoryStream s;
  b.SaveToStream(&s);
  auto* p = static_cast<const uint8_t*>(s.Memory());
  return {p, p + s.Size()};
}

void ExpectMessage(const std::function<void()>& f, const std::string& msg) {
  try {
    f();
    FAIL() << "no exception";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message, msg);
  }
}

}  // namespace

TEST(Clipboard, BitmapsComeBackByteForByte) {
  struct Case {
    TPixelFormat Format;
    bool Palette;
  };
  for (Case c : {Case{pf32bit, false}, Case{pf24bit, false}, Case{pf8bit, true}, Case{pf4bit, true}, Case{pf1bit, true}}) {
    SCOPED_TRACE(static_cast<int>(c.Format));
    TBitmap b;
    b.SetPixelFormat(c.Format);
    b.SetSize(7, 3);
    if (c.Palette) b.SetPalette({clRed, clLime, clBlue, clYellow});
    for (int y = 0; y < 3; ++y) {
      auto* row = static_cast<uint8_t*>(b.ScanLine(y));
      for (int i = 0; i < b.RowBytes(); ++i) row[i] = static_cast<uint8_t>(y * 31 + i * 17);
    }
    if (c.Format == pf1bit) b.SetPalette({clRed, clLime});
    Clipboard()->Assign(&b);
    EXPECT_TRUE(Clipboard()->HasFormat(CF_BITMAP));
    EXPECT_TRUE(QGuiApplication::clipboard()->mimeData()->hasImage());  // other programs see an image
    TBitmap out;
    out.Assign(Clipboard());
    EXPECT_EQ(out.PixelFormat(), c.Format);
    EXPECT_EQ(out.Palette(), b.Palette());
    EXPECT_EQ(BmpBytes(out), BmpBytes(b));
  }
}

TEST(Clipboard, ImagesOfOtherProgramsArrive) {
  QImage img(3, 2, QImage::Format_RGB32);
  img.fill(qRgb(10, 20, 30));
  img.setPixel(2, 1, qRgb(200, 100, 50));
  QGuiApplication::clipboard()->setImage(img);
  TBitmap b;
  b.Assign(Clipboard());
  ASSERT_EQ(b.Width(), 3);
  EXPECT_EQ(b.Canvas()->Pixel(0, 0), static_cast<TColor>(RGB(10, 20, 30)));
  EXPECT_EQ(b.Canvas()->Pixel(2, 1), static_cast<TColor>(RGB(200, 100, 50)));
}

TEST(Clipboard, RegisteredFormatsKeepBytesAndOrder) {
  uint16_t gif = RegisterClipboardFormat("GIF Image");
  EXPECT_GE(gif, 0xC000);
  EXPECT_EQ(RegisterClipboardFormat("gif image"), gif);
  uint16_t png = RegisterClipboardFormat("PNG");
  EXPECT_NE(png, gif);
  EXPECT_EQ(GetClipboardFormatName(png), "PNG");
  EXPECT_EQ(GetClipboardFormatName(CF_BITMAP), "");
  const std::vector<uint8_t> g{'G', 'I', 'F', '8', '9', 'a', 0, 1, 255};
  const std::vector<uint8_t> p{0x89, 'P', 'N', 'G', 0};
  Clipboard()->Open();
  Clipboard()->Clear();
  Clipboard()->SetAsHandle(png, p);
  Clipboard()->SetAsHandle(gif, g);
  Clipboard()->SetAsText("text too");
  Clipboard()->Close();
  EXPECT_EQ(Clipboard()->GetAsHandle(gif), g);
  EXPECT_EQ(Clipboard()->GetAsHandle(png), p);
  EXPECT_EQ(Clipboard()->AsText(), "text too");
  EXPECT_EQ(Clipboard()->Formats(), (std::vector<uint16_t>{png, gif, CF_TEXT}));
  const QMimeData* m = QGuiApplication::clipboard()->mimeData();
  EXPECT_TRUE(m->hasFormat("image/gif"));
  EXPECT_TRUE(m->hasFormat("image/png"));
  // Outside Open and Close one format replaces the whole content.
  Clipboard()->SetAsHandle(gif, g);
  EXPECT_FALSE(Clipboard()->HasFormat(png));
  EXPECT_TRUE(Clipboard()->HasFormat(gif));
  EXPECT_THROW(Clipboard()->SetAsHandle(0xBEEF, g), Exception);
}

TEST(Clipboard, PicturesTakeTheFirstFormatTiedToAGraphic) {
  uint16_t blob = TBlobGraphic::Format();
  RegisterClipboardGraphic(blob, [] { return std::make_unique<TBlobGraphic>(); });
  TBlobGraphic src;
  src.Bytes = {1, 2, 3, 250};
  Clipboard()->Assign(&src);
  EXPECT_EQ(Clipboard()->Formats().front(), blob);
  EXPECT_TRUE(Clipboard()->HasFormat(CF_BITMAP));
  TPicture pic;
  pic.Assign(Clipboard());
  auto* got = dynamic_cast<TBlobGraphic*>(pic.Graphic());
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->Bytes, src.Bytes);
  // Without the tie the bitmap beside it is taken.
  UnregisterClipboardGraphic(blob);
  pic.Assign(Clipboard());
  ASSERT_NE(dynamic_cast<TBitmap*>(pic.Graphic()), nullptr);
  EXPECT_EQ(pic.Width(), 2);
  // Putting a picture back puts its graphic.
  Clipboard()->Assign(&pic);
  TBitmap b;
  b.Assign(Clipboard());
  EXPECT_EQ(b.Width(), 2);
}

TEST(Clipboard, NoUsableFormatIsAnError) {
  Clipboard()->Clear();
  TBitmap b;
  ExpectMessage([&] { b.Assign(Clipboard()); }, "Unsupported clipboard format");
  TPicture pic;
  ExpectMessage([&] { pic.Assign(Clipboard()); }, "Unsupported clipboard format");
  Clipboard()->SetAsText("only text");
  ExpectMessage([&] { pic.Assign(Clipboard()); }, "Unsupported clipboard format");
  std::vector<uint8_t> d;
  ExpectMessage([&] { b.LoadFromClipboardFormat(CF_TEXT, d, {}); }, "Unsupported clipboard format");
  ExpectMessage([&] { b.LoadFromClipboardFormat(CF_BITMAP, {'B', 'M', 1}, {}); }, "Bitmap image is not valid");
  // A failing graphic leaves the clipboard as it was.
  struct TFails : TBlobGraphic {
    void SaveToClipboardFormat(uint16_t&, std::vector<uint8_t>&, TPaletteEntries&) override {
      Clipboard()->SetAsText("half");
      throw EInvalidGraphic("cannot");
    }
  } bad;
  EXPECT_THROW(Clipboard()->Assign(&bad), EInvalidGraphic);
  EXPECT_EQ(Clipboard()->AsText(), "only text");
}
