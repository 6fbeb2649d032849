// The PNG chunk list and chunk-class registry, the palette, palette bitmaps in and out, and
// the clipboard exchange through the platform bitmap.
#include <gtest/gtest.h>

#include <QImage>

#include "platform/Clipboard.h"
#include "platform/Graphics.h"
#include "raster/PngGraphic.h"

using namespace raster;
using platform::TMemoryStream;

namespace {

std::vector<uint8_t> Bytes(TMemoryStream& s) {
  auto* p = static_cast<const uint8_t*>(s.Memory());
  return {p, p + s.Size()};
}

std::vector<uint8_t> ChunkBytes(const std::string& name, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> c;
  uint32_t n = static_cast<uint32_t>(data.size());
  c.insert(c.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
  c.insert(c.end(), name.begin(), name.end());
  c.insert(c.end(), data.begin(), data.end());
  uint32_t crc = ~UpdatePngCrc(UpdatePngCrc(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(name.data()), 4),
                               data.data(), data.size());
  c.insert(c.end(), {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
  return c;
}

// A small palette bitmap: index (x + 2y) mod 4 over a four-colour table.
std::unique_ptr<platform::TBitmap> PaletteBitmap(platform::TPixelFormat pf, int w, int h) {
  auto bp = std::make_unique<platform::TBitmap>();
  platform::TBitmap& b = *bp;
  b.SetPixelFormat(pf);
  b.SetSize(w, h);
  b.SetPalette({platform::clRed, platform::clLime, platform::clBlue, static_cast<platform::TColor>(platform::RGB(9, 99, 199))});
  int d = b.BitsPerPixel();
  for (int y = 0; y < h; ++y) {
    auto* row = static_cast<uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < w; ++x) {
      int v = (x + 2 * y) % (d == 1 ? 2 : 4), bit = x * d, shift = 8 - d - bit % 8;
      row[bit / 8] = static_cast<uint8_t>((row[bit / 8] & ~(((1 << d) - 1) << shift)) | (v << shift));
    }
  }
  return bp;
}

// A file with extra chunks after the header (gAMA, unknown ones, text) and before IEND.
std::vector<uint8_t> FileWithChunks(const std::vector<std::vector<uint8_t>>& early,
                                    const std::vector<std::vector<uint8_t>>& late) {
  auto b = PaletteBitmap(platform::pf8bit, 5, 3);
  TPngGraphic p;
  p.Assign(b.get());
  TMemoryStream s;
  p.SaveToStream(&s);
  std::vector<uint8_t> f = Bytes(s);
  std::vector<uint8_t> out(f.begin(), f.begin() + 33);  // signature and IHDR
  for (auto& c : early) out.insert(out.end(), c.begin(), c.end());
  out.insert(out.end(), f.begin() + 33, f.end() - 12);
  for (auto& c : late) out.insert(out.end(), c.begin(), c.end());
  out.insert(out.end(), f.end() - 12, f.end());
  return out;
}

void Load(TPngGraphic& p, const std::vector<uint8_t>& f) {
  TMemoryStream s;
  s.WriteBuffer(f.data(), static_cast<int32_t>(f.size()));
  s.SetPosition(0);
  p.LoadFromStream(&s);
}

std::vector<uint8_t> Save(TPngGraphic& p) {
  TMemoryStream s;
  p.SaveToStream(&s);
  return Bytes(s);
}

// A chunk class of a test: physical pixel size.
class TChunkpHYs : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "pHYs"; }
  std::unique_ptr<TChunk> NewSameClass(TPngGraphic* O) const override { return std::make_unique<TChunkpHYs>(O); }
  bool LoadFromStream(platform::TStream* S, const std::string& N, uint32_t Size) override {
    if (!TChunk::LoadFromStream(S, N, Size)) return false;
    if (DataSize == 9) PerUnitX = (uint32_t{Data[0]} << 24) | (uint32_t{Data[1]} << 16) | (uint32_t{Data[2]} << 8) | Data[3];
    return true;
  }
  uint32_t PerUnitX = 0;
};

class TChunkQUUX : public TChunk {
 public:
  using TChunk::TChunk;
  std::string GetName() const override { return "QUUX"; }
  std::unique_ptr<TChunk> NewSameClass(TPngGraphic* O) const override { return std::make_unique<TChunkQUUX>(O); }
};

}  // namespace

TEST(PngChunkList, ReadWriteReadKeepsEveryChunkByteExact) {
  const std::vector<uint8_t> unk1{0, 1, 2, 255, 254}, unk2{}, text{'K', 'e', 'y', 0, 'v', 'a', 'l'};
  const std::vector<uint8_t> f = FileWithChunks({ChunkBytes("gAMA", {0, 0, 0xB1, 0x8F}), ChunkBytes("abCd", unk1)},
                                                {ChunkBytes("tEXt", text), ChunkBytes("zzZz", unk2)});
  TPngGraphic a;
  Load(a, f);
  std::vector<uint8_t> once = Save(a);
  TPngGraphic b;
  Load(b, once);
  ASSERT_EQ(a.Chunks().Count(), b.Chunks().Count());
  std::vector<std::string> names;
  for (uint32_t i = 0; i < b.Chunks().Count(); ++i) {
    TChunk* x = a.Chunks().Item(i);
    TChunk* y = b.Chunks().Item(i);
    names.push_back(y->Name);
    EXPECT_EQ(x->Name, y->Name);
    if (x->Name != "IDAT") {
      EXPECT_EQ(std::vector<uint8_t>(x->Data.begin(), x->Data.begin() + x->DataSize),
                std::vector<uint8_t>(y->Data.begin(), y->Data.begin() + y->DataSize)) << x->Name;
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"IHDR", "gAMA", "abCd", "PLTE", "IDAT", "tEXt", "zzZz", "IEND"}));
  // The unknown chunks go out exactly as they came in, CRC included.
  std::vector<uint8_t> c1 = ChunkBytes("abCd", unk1);
  EXPECT_NE(std::search(once.begin(), once.end(), c1.begin(), c1.end()), once.end());
  EXPECT_EQ(Save(b), once);
  EXPECT_EQ(a.Chunks().Item(b.Chunks().Count()), nullptr);
}

TEST(PngChunkList, InsertRemoveAndAddFollowTheListRules) {
  TPngGraphic p;
  Load(p, FileWithChunks({}, {}));
  TPNGList l = p.Chunks();
  ASSERT_EQ(l.Count(), 4u);  // IHDR PLTE IDAT IEND
  auto extra = std::make_unique<TChunk>(&p);
  extra->Name = "teSt";
  TChunk* raw = extra.get();
  // At or beyond Count nothing happens and the chunk comes back.
  extra = l.Insert(std::move(extra), 4);
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(l.Insert(std::move(extra), 3), nullptr);
  EXPECT_EQ(l.IndexOf(raw), 3);
  auto* t = l.AddChunk<TChunktRNS>();
  EXPECT_EQ(l.IndexOf(t), 2);  // right after PLTE
  auto* g = l.AddChunk<TChunkgAMA>();
  EXPECT_EQ(l.IndexOf(g), 1);
  EXPECT_THROW(l.AddChunk<TChunkgAMA>(), EPngError);
  EXPECT_EQ(l.FindChunk<TChunktRNS>(), t);
  std::unique_ptr<TChunk> out = l.Remove(raw);
  EXPECT_EQ(out.get(), raw);
  EXPECT_EQ(l.IndexOf(raw), -1);
  EXPECT_EQ(l.Remove(raw), nullptr);
  TChunk* added = l.Add(std::move(out));
  EXPECT_EQ(l.IndexOf(added), static_cast<int32_t>(l.Count()) - 1);
  l.Remove(added);
  TPngGraphic q;
  Load(q, Save(p));
  EXPECT_NE(q.Chunks().FindChunk<TChunkgAMA>(), nullptr);
  EXPECT_NE(q.Chunks().FindChunk<TChunktRNS>(), nullptr);
}

TEST(PngChunkList, SetItemAndSetSize) {
  TPngGraphic p;
  Load(p, FileWithChunks({ChunkBytes("abCd", {1, 2})}, {ChunkBytes("efGh", {3})}));
  TPNGList l = p.Chunks();
  ASSERT_EQ(l.Count(), 6u);  // IHDR abCd PLTE IDAT efGh IEND
  TChunk* old = l.Item(1);
  auto repl = std::make_unique<TChunk>(nullptr);
  repl->Name = "xyZw";
  repl->ResizeData(1);
  repl->Data[0] = 42;
  TChunk* raw = repl.get();
  std::unique_ptr<TChunk> back = l.SetItem(1, std::move(repl));
  EXPECT_EQ(back.get(), old);
  EXPECT_EQ(l.Item(1), raw);
  EXPECT_EQ(raw->Owner, &p);
  EXPECT_EQ(l.Count(), 6u);
  // Beyond Count, or without a chunk, nothing changes and the chunk comes back.
  std::unique_ptr<TChunk> refused = l.SetItem(6, std::move(back));
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused.get(), old);
  EXPECT_EQ(l.SetItem(0, nullptr), nullptr);
  EXPECT_EQ(l.Item(6), nullptr);
  // The replaced chunk is written in its place.
  std::vector<uint8_t> saved = Save(p);
  std::vector<uint8_t> c = ChunkBytes("xyZw", {42});
  EXPECT_NE(std::search(saved.begin(), saved.end(), c.begin(), c.end()), saved.end());
  std::vector<uint8_t> gone = ChunkBytes("abCd", {1, 2});
  EXPECT_EQ(std::search(saved.begin(), saved.end(), gone.begin(), gone.end()), saved.end());
  // A larger size adds empty places, which read as nothing until a chunk is put there; saving
  // and copying pass over them.
  l.SetSize(9);
  EXPECT_EQ(l.Count(), 9u);
  EXPECT_EQ(l.Item(6), nullptr);
  EXPECT_EQ(l.Item(8), nullptr);
  EXPECT_EQ(Save(p), saved);
  auto late = std::make_unique<TChunk>(nullptr);
  late->Name = "laTe";
  TChunk* lateRaw = late.get();
  EXPECT_EQ(l.SetItem(7, std::move(late)), nullptr);
  EXPECT_EQ(l.Item(7), lateRaw);
  EXPECT_EQ(lateRaw->Index(), 7);
  EXPECT_EQ(l.IndexOf(lateRaw), 7);
  EXPECT_EQ(l.FindChunk<TChunkIEND>(), l.Item(5));
  TPngGraphic copy;
  copy.Assign(&p);
  EXPECT_EQ(copy.Chunks().Count(), 9u);
  EXPECT_EQ(copy.Chunks().Item(6), nullptr);
  EXPECT_EQ(copy.Chunks().Item(7)->Name, "laTe");
  std::vector<uint8_t> withLate = saved;
  std::vector<uint8_t> lateBytes = ChunkBytes("laTe", {});
  withLate.insert(withLate.end(), lateBytes.begin(), lateBytes.end());
  EXPECT_EQ(Save(p), withLate);
  EXPECT_EQ(Save(copy), withLate);
  TPngGraphic reread;
  Load(reread, withLate);
  EXPECT_EQ(reread.Chunks().Count(), 6u);  // reading stops at IEND
  // Empty places can be added and inserted too.
  EXPECT_EQ(l.Add(nullptr), nullptr);
  EXPECT_EQ(l.Insert(nullptr, 6), nullptr);
  EXPECT_EQ(l.Count(), 11u);
  EXPECT_EQ(l.Item(6), nullptr);
  EXPECT_EQ(l.Item(8)->Name, "laTe");
  EXPECT_EQ(Save(p), withLate);
  l.Remove(l.Item(8));
  EXPECT_EQ(l.Count(), 10u);
  // Cutting frees the chunks beyond; 0 empties the list.
  l.SetSize(4);
  EXPECT_EQ(l.Count(), 4u);
  EXPECT_EQ(l.Item(3)->Name, "IDAT");
  EXPECT_EQ(l.Item(4), nullptr);
  l.SetSize(0);
  EXPECT_EQ(l.Count(), 0u);
  EXPECT_TRUE(p.Empty());
}

// A chunk handed back by Remove or SetItem belongs to no image: it stays usable after its old
// image is gone, and another image can take it in and write it.
TEST(PngChunkList, ChunksTakenOutForgetTheirImage) {
  const std::vector<uint8_t> text{'K', 'e', 'y', 0, 'v', 'a', 'l'};
  auto a = std::make_unique<TPngGraphic>();
  Load(*a, FileWithChunks({ChunkBytes("gAMA", {0, 0, 0xB1, 0x8F})}, {ChunkBytes("tEXt", text)}));
  TPNGList la = a->Chunks();
  la.AddChunk<TChunktRNS>()->SetTransparentColor(platform::clLime);
  ASSERT_EQ(la.Count(), 7u);  // IHDR gAMA PLTE tRNS IDAT tEXt IEND
  std::unique_ptr<TChunk> txt = la.Remove(la.FindChunk<TChunktEXt>());
  ASSERT_NE(txt, nullptr);
  auto plain = std::make_unique<TChunk>(nullptr);
  plain->Name = "abCd";
  std::unique_ptr<TChunk> trns = la.SetItem(3, std::move(plain));
  ASSERT_NE(dynamic_cast<TChunktRNS*>(trns.get()), nullptr);
  std::unique_ptr<TChunk> gama = la.SetItem(1, std::make_unique<TChunkgAMA>(nullptr));
  ASSERT_NE(dynamic_cast<TChunkgAMA*>(gama.get()), nullptr);
  std::unique_ptr<TChunk> header = la.Remove(la.Item(0));
  for (TChunk* c : {txt.get(), trns.get(), gama.get(), header.get()}) EXPECT_EQ(c->Owner, nullptr) << c->Name;
  a.reset();
  // Nothing of the freed image is reached; what needs a header says there is none.
  for (TChunk* c : {txt.get(), trns.get(), gama.get(), header.get()}) {
    EXPECT_EQ(c->Index(), -1);
    EXPECT_THROW(c->Header(), EPNGHeaderNotPresent);
  }
  EXPECT_THROW(static_cast<TChunktRNS*>(trns.get())->TransparentColor(), EPNGHeaderNotPresent);
  EXPECT_EQ(static_cast<TChunkgAMA*>(gama.get())->Gamma(), 45455u);
  TMemoryStream alone;
  EXPECT_TRUE(trns->SaveToStream(&alone));
  EXPECT_TRUE(txt->SaveToStream(&alone));
  EXPECT_TRUE(header->SaveToStream(&alone));  // the header keeps its own interlace byte
  const std::vector<uint8_t> written = Bytes(alone);
  TPngGraphic gone;
  Load(gone, FileWithChunks({}, {}));
  const std::vector<uint8_t> goneFile = Save(gone), textBytes = ChunkBytes("tEXt", text);
  std::vector<uint8_t> expected = ChunkBytes("tRNS", {255, 0});
  expected.insert(expected.end(), textBytes.begin(), textBytes.end());
  expected.insert(expected.end(), goneFile.begin() + 8, goneFile.begin() + 33);  // its IHDR
  EXPECT_EQ(written, expected);
  // A second image takes them in; they work on it and are written with it.
  TPngGraphic b;
  Load(b, FileWithChunks({}, {}));
  TPNGList lb = b.Chunks();
  ASSERT_EQ(lb.Count(), 4u);  // IHDR PLTE IDAT IEND
  TChunk* t = txt.get();
  EXPECT_EQ(lb.Insert(std::move(txt), 3), nullptr);
  EXPECT_EQ(lb.Insert(std::move(trns), 2), nullptr);
  EXPECT_EQ(lb.Insert(std::move(gama), 1), nullptr);
  EXPECT_EQ(t->Owner, &b);
  EXPECT_EQ(t->Index(), 5);
  EXPECT_EQ(b.TransparentColor(), platform::clLime);
  EXPECT_TRUE(b.GetTransparent());
  TPngGraphic c;
  Load(c, Save(b));
  std::vector<std::string> names;
  for (uint32_t i = 0; i < c.Chunks().Count(); ++i) names.push_back(c.Chunks().Item(i)->Name);
  EXPECT_EQ(names, (std::vector<std::string>{"IHDR", "gAMA", "PLTE", "tRNS", "IDAT", "tEXt", "IEND"}));
  auto* ct = c.Chunks().FindChunk<TChunktEXt>();
  ASSERT_NE(ct, nullptr);
  EXPECT_EQ(ct->Keyword, "Key");
  EXPECT_EQ(ct->Text, "val");
  EXPECT_EQ(c.Chunks().FindChunk<TChunkgAMA>()->Gamma(), 45455u);
  EXPECT_EQ(c.TransparentColor(), platform::clLime);
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x) ASSERT_EQ(c.Pixel(x, y), b.Pixel(x, y));
  // The header taken out of the first image can be put back as another image's header.
  TPngGraphic d;
  Load(d, FileWithChunks({}, {}));
  std::unique_ptr<TChunk> own = d.Chunks().SetItem(0, std::move(header));
  EXPECT_EQ(own->Owner, nullptr);
  TPngGraphic e;
  Load(e, Save(d));
  EXPECT_EQ(e.Width(), 5);
  for (int y = 0; y < e.Height(); ++y)
    for (int x = 0; x < e.Width(); ++x) ASSERT_EQ(e.Pixel(x, y), b.Pixel(x, y));
}

TEST(PngChunkList, RegistryIsFreedAtFinalisation) {
  InitializePngGraphic();
  EXPECT_GE(RegisteredChunkClassCount(), 9);
  RegisterChunkClass<TChunkpHYs>();
  const int32_t with = RegisteredChunkClassCount();
  FinalizePngGraphic();
  EXPECT_EQ(RegisteredChunkClassCount(), 0);
  // Initialising again brings back the codec's own nine, not the class added before.
  InitializePngGraphic();
  EXPECT_EQ(RegisteredChunkClassCount(), 9);
  EXPECT_LT(RegisteredChunkClassCount(), with);
  const std::vector<uint8_t> phys{0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1};
  TPngGraphic p;
  Load(p, FileWithChunks({ChunkBytes("pHYs", phys)}, {}));
  EXPECT_EQ(p.Chunks().FindChunk<TChunkpHYs>(), nullptr);
  EXPECT_NE(p.Chunks().FindChunk<TChunkPLTE>(), nullptr);
  // A use without initialisation fills it as well.
  FinalizePngGraphic();
  EXPECT_NE(dynamic_cast<TChunkIHDR*>(CreateChunkByName(&p, "IHDR").get()), nullptr);
  EXPECT_EQ(RegisteredChunkClassCount(), 9);
  InitializePngGraphic();
}

TEST(PngChunkList, RegisteredClassesAreUsedOnRead) {
  const std::vector<uint8_t> phys{0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1};
  const std::vector<uint8_t> f = FileWithChunks({ChunkBytes("pHYs", phys)}, {ChunkBytes("QUUX", {7})});
  TPngGraphic before;
  EXPECT_THROW(Load(before, f), EPNGUnknownCriticalChunk);
  RegisterChunkClass<TChunkpHYs>();
  RegisterChunkClass<TChunkQUUX>();
  // A later class for a name already registered is never chosen.
  RegisterChunkClass("tEXt", [](TPngGraphic* o) { return std::make_unique<TChunkpHYs>(o); });
  TPngGraphic p;
  Load(p, f);
  auto* c = p.Chunks().FindChunk<TChunkpHYs>();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->PerUnitX, 2835u);
  EXPECT_NE(p.Chunks().FindChunk<TChunkQUUX>(), nullptr);
  EXPECT_EQ(dynamic_cast<TChunktEXt*>(CreateChunkByName(&p, "tEXt").get()) != nullptr, true);
  TPngGraphic copy;
  copy.Assign(&p);
  EXPECT_NE(copy.Chunks().FindChunk<TChunkpHYs>(), nullptr);
  EXPECT_EQ(Save(copy), Save(p));
  TPngGraphic again;
  Load(again, Save(p));
  EXPECT_EQ(Save(again), Save(p));
}

TEST(PngPalette, GetPaletteByColourType) {
  TPngGraphic empty;
  EXPECT_THROW(empty.GetPalette(), EPNGHeaderNotPresent);
  TPngGraphic p;
  Load(p, FileWithChunks({}, {}));
  platform::TPaletteEntries pal = p.GetPalette();
  ASSERT_EQ(pal.size(), 256u);
  EXPECT_EQ(pal[0], platform::clRed);
  EXPECT_EQ(pal[3], static_cast<platform::TColor>(platform::RGB(9, 99, 199)));
  EXPECT_EQ(pal[4], 0);
  platform::TBitmap rgb;
  rgb.SetPixelFormat(platform::pf24bit);
  rgb.SetSize(2, 2);
  TPngGraphic q;
  q.Assign(&rgb);
  EXPECT_TRUE(q.GetPalette().empty());
}

TEST(PngPalette, PaletteBitmapsKeepDepthTableAndIndices) {
  for (platform::TPixelFormat pf : {platform::pf1bit, platform::pf4bit, platform::pf8bit}) {
    SCOPED_TRACE(static_cast<int>(pf));
    auto bp = PaletteBitmap(pf, 11, 4);
    platform::TBitmap& b = *bp;
    TPngGraphic p;
    p.Assign(&b);
    EXPECT_EQ(p.Header()->ColorType, 3);
    EXPECT_EQ(p.Header()->BitDepth, b.BitsPerPixel());
    std::vector<uint8_t> f = Save(p);
    // An independent reader sees the same colours.
    QImage q = QImage::fromData(f.data(), static_cast<int>(f.size()), "PNG");
    ASSERT_FALSE(q.isNull());
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 11; ++x) {
        QRgb c = q.pixel(x, y);
        ASSERT_EQ(static_cast<platform::TColor>(platform::RGB(qRed(c), qGreen(c), qBlue(c))),
                  b.Palette()[b.PixelIndex(x, y)]);
      }
    TPngGraphic r;
    Load(r, f);
    platform::TBitmap back;
    r.AssignTo(&back);
    EXPECT_EQ(back.PixelFormat(), pf);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 11; ++x) ASSERT_EQ(back.PixelIndex(x, y), b.PixelIndex(x, y));
    for (size_t i = 0; i < b.Palette().size(); ++i) EXPECT_EQ(back.Palette()[i], b.Palette()[i]);
  }
}

TEST(PngClipboard, SaveAndLoadThroughTheBitmapFormat) {
  TPngGraphic p;
  Load(p, FileWithChunks({}, {}));
  uint16_t format = 0;
  std::vector<uint8_t> data;
  platform::TPaletteEntries pal;
  p.SaveToClipboardFormat(format, data, pal);
  EXPECT_EQ(format, platform::CF_BITMAP);
  TPngGraphic q;
  q.LoadFromClipboardFormat(format, data, pal);
  ASSERT_EQ(q.Width(), p.Width());
  for (int y = 0; y < p.Height(); ++y)
    for (int x = 0; x < p.Width(); ++x) ASSERT_EQ(q.Pixel(x, y), p.Pixel(x, y));
  EXPECT_FALSE(q.GetTransparent());
  // Through the system clipboard: empty data means the clipboard's own bitmap.
  platform::Clipboard()->Assign(&p);
  TPngGraphic r;
  r.LoadFromClipboardFormat(platform::CF_BITMAP, {}, {});
  EXPECT_EQ(r.Pixel(2, 1), p.Pixel(2, 1));
  EXPECT_THROW(r.LoadFromClipboardFormat(platform::CF_TEXT, data, {}), platform::EInvalidGraphic);
  // Transparent parts show the new bitmap's white.
  TPngGraphic t;
  Load(t, FileWithChunks({}, {}));
  t.Chunks().AddChunk<TChunktRNS>()->SetTransparentColor(platform::clRed);
  t.SaveToClipboardFormat(format, data, pal);
  TPngGraphic u;
  u.LoadFromClipboardFormat(format, data, pal);
  EXPECT_EQ(t.Pixel(0, 0), platform::clRed);
  EXPECT_EQ(u.Pixel(0, 0), platform::clWhite);
  EXPECT_EQ(u.Pixel(1, 0), platform::clLime);
}
