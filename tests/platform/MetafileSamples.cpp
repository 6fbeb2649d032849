// Test-only program: writes sample metafiles with Debian's EMF library (libEMF), one per family
// of records, into the folder given as the argument. The metafile tests play them with our
// player and compare the pixels with an independent converter's rendering. The library records
// no bitmaps; the bitmap picture gets its bitmap records from this program (see Bitmaps).
//
// Each picture is 100 x 75 mm; the library's reference device has 3.2 pixels per millimetre, so
// the pictures are 320 x 240 device pixels.
#include <libEMF/emf.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// The library writes the 16-bit point records too but does not declare them.
extern "C" BOOL Polyline16(HDC, const POINTS*, INT);
extern "C" BOOL Polygon16(HDC, const POINTS*, INT);

namespace {

std::string gDir;

HDC Begin(const char* Name) {
  RECT frame = {0, 0, 10000, 7500};
  const std::string path = gDir + "/" + Name + ".emf";
  // The description is two strings, the application and the picture, ended by two zeros.
  static std::string description;
  description = std::string("emf-samples") + '\0' + Name + '\0' + '\0';
  return CreateEnhMetaFileA(0, path.c_str(), &frame, description.c_str());
}

void End(HDC Dc) { DeleteEnhMetaFile(CloseEnhMetaFile(Dc)); }

// Geometric pens of the extended kind: the converter the tests compare with reads the width of
// these only (it draws every pen of the older record one unit wide).
HPEN Pen(int /*Style*/, int Width, COLORREF Color) {
  if (Width <= 1) return CreatePen(PS_SOLID, Width, Color);
  LOGBRUSH lb = {BS_SOLID, Color, 0};
  return ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, Width, &lb, 0, nullptr);
}

// Lines: move/line, polylines of both point sizes, polyline-to, wide and dashed pens.
void Lines() {
  HDC dc = Begin("lines");
  SelectObject(dc, Pen(PS_SOLID, 1, RGB(0, 0, 0)));
  MoveToEx(dc, 10, 10, nullptr);
  LineTo(dc, 300, 10);
  SelectObject(dc, Pen(PS_SOLID, 8, RGB(200, 0, 0)));
  POINT zig[] = {{20, 40}, {80, 90}, {140, 40}, {200, 90}, {260, 40}};
  Polyline(dc, zig, 5);
  SelectObject(dc, Pen(PS_SOLID, 12, RGB(0, 0, 200)));
  POINTS pts16[] = {{20, 130}, {300, 130}};
  Polyline16(dc, pts16, 2);
  SelectObject(dc, Pen(PS_SOLID, 6, RGB(0, 150, 0)));
  MoveToEx(dc, 20, 170, nullptr);
  POINT to[] = {{150, 220}, {300, 170}};
  PolylineTo(dc, to, 2);
  End(dc);
}

// Filled figures: rectangles, ellipses, polygons of both point sizes, poly-polygons with both
// fill modes, the null pen and the null brush.
void Polygons() {
  HDC dc = Begin("polygons");
  SelectObject(dc, CreateSolidBrush(RGB(255, 0, 0)));
  SelectObject(dc, Pen(PS_SOLID, 3, RGB(0, 0, 0)));
  Rectangle(dc, 10, 10, 100, 80);
  SelectObject(dc, CreateSolidBrush(RGB(0, 128, 255)));
  Ellipse(dc, 120, 10, 200, 80);
  SelectObject(dc, GetStockObject(NULL_PEN));
  SelectObject(dc, CreateSolidBrush(RGB(0, 160, 0)));
  POINT tri[] = {{220, 80}, {260, 10}, {300, 80}};
  Polygon(dc, tri, 3);
  SelectObject(dc, CreateSolidBrush(RGB(255, 200, 0)));
  POINTS tri16[] = {{10, 200}, {60, 100}, {110, 200}};
  Polygon16(dc, tri16, 3);
  // Two squares, the inner one a hole under the alternate rule and filled under winding.
  POINT rings[] = {{130, 100}, {210, 100}, {210, 180}, {130, 180}, {150, 120}, {190, 120}, {190, 160}, {150, 160}};
  INT counts[] = {4, 4};
  SelectObject(dc, CreateSolidBrush(RGB(128, 0, 128)));
  SetPolyFillMode(dc, ALTERNATE);
  PolyPolygon(dc, rings, counts, 2);
  POINT rings2[] = {{220, 100}, {300, 100}, {300, 180}, {220, 180}, {240, 120}, {280, 120}, {280, 160}, {240, 160}};
  SetPolyFillMode(dc, WINDING);
  PolyPolygon(dc, rings2, counts, 2);
  SelectObject(dc, Pen(PS_SOLID, 4, RGB(0, 0, 0)));
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, 20, 210, 300, 235);
  End(dc);
}

// Curves: Béziers from their own start and from the current position, arcs.
void Curves() {
  HDC dc = Begin("curves");
  SelectObject(dc, Pen(PS_SOLID, 5, RGB(0, 0, 0)));
  POINT bz[] = {{10, 100}, {60, 0}, {120, 200}, {170, 100}};
  PolyBezier(dc, bz, 4);
  SelectObject(dc, Pen(PS_SOLID, 5, RGB(220, 0, 0)));
  MoveToEx(dc, 170, 100, nullptr);
  POINT bzt[] = {{220, 0}, {260, 200}, {310, 100}};
  PolyBezierTo(dc, bzt, 3);
  SelectObject(dc, Pen(PS_SOLID, 6, RGB(0, 0, 200)));
  Arc(dc, 20, 120, 140, 230, 140, 175, 20, 175);  // the upper half
  SelectObject(dc, Pen(PS_SOLID, 6, RGB(0, 140, 0)));
  MoveToEx(dc, 160, 175, nullptr);
  ArcTo(dc, 180, 120, 300, 230, 300, 175, 180, 175);
  End(dc);
}

// Paths: figures built from lines and Béziers, closed, then filled, stroked or both.
void Paths() {
  HDC dc = Begin("paths");
  SelectObject(dc, CreateSolidBrush(RGB(0, 180, 180)));
  SelectObject(dc, Pen(PS_SOLID, 4, RGB(90, 0, 0)));
  BeginPath(dc);
  MoveToEx(dc, 20, 20, nullptr);
  LineTo(dc, 140, 20);
  POINT c[] = {{180, 60}, {100, 120}, {140, 140}};
  PolyBezierTo(dc, c, 3);
  LineTo(dc, 20, 140);
  CloseFigure(dc);
  EndPath(dc);
  StrokeAndFillPath(dc);
  BeginPath(dc);
  MoveToEx(dc, 180, 20, nullptr);
  POINT sq[] = {{300, 20}, {300, 100}, {180, 100}};
  PolylineTo(dc, sq, 3);
  CloseFigure(dc);
  MoveToEx(dc, 200, 40, nullptr);
  POINT in[] = {{280, 40}, {280, 80}, {200, 80}};
  PolylineTo(dc, in, 3);
  CloseFigure(dc);
  EndPath(dc);
  SetPolyFillMode(dc, ALTERNATE);
  FillPath(dc);
  SelectObject(dc, Pen(PS_SOLID, 8, RGB(0, 0, 0)));
  BeginPath(dc);
  MoveToEx(dc, 20, 200, nullptr);
  LineTo(dc, 150, 170);
  LineTo(dc, 300, 220);
  EndPath(dc);
  StrokePath(dc);
  End(dc);
}

// Text: a created font, colours, alignment, the spacing array, both character forms.
void Text() {
  HDC dc = Begin("text");
  SetBkMode(dc, TRANSPARENT);
  HFONT big = CreateFontA(-48, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Arial");
  SelectObject(dc, big);
  SetTextColor(dc, RGB(0, 0, 180));
  SetTextAlign(dc, TA_LEFT | TA_TOP);
  TextOutA(dc, 10, 10, "Ladder", 6);
  SetTextColor(dc, RGB(180, 0, 0));
  SetTextAlign(dc, TA_RIGHT | TA_BASELINE);
  const wchar_t w[] = L"Rung";
  ExtTextOutW(dc, 310, 140, 0, nullptr, reinterpret_cast<LPCWSTR>(u"Rung"), 4, nullptr);
  (void)w;
  SetTextAlign(dc, TA_LEFT | TA_TOP);
  SetTextColor(dc, RGB(0, 120, 0));
  INT dx[] = {50, 50, 50, 50};
  ExtTextOutA(dc, 10, 170, 0, nullptr, "STEP", 4, dx);
  End(dc);
}

// Mapping modes: anisotropic window and viewport, isotropic, and a metric mode with y up.
void Mapping() {
  HDC dc = Begin("mapping");
  SetMapMode(dc, MM_ANISOTROPIC);
  SetWindowOrgEx(dc, 1000, 1000, nullptr);
  SetWindowExtEx(dc, 2000, 1000, nullptr);
  SetViewportOrgEx(dc, 0, 0, nullptr);
  SetViewportExtEx(dc, 160, 120, nullptr);
  SelectObject(dc, CreateSolidBrush(RGB(255, 0, 0)));
  SelectObject(dc, GetStockObject(NULL_PEN));
  Rectangle(dc, 1100, 1100, 2900, 1900);  // 8..152, 12..108
  SetMapMode(dc, MM_ISOTROPIC);
  SetWindowExtEx(dc, 100, 100, nullptr);
  SetViewportExtEx(dc, 200, 100, nullptr);  // shrinks to 100 x 100
  SetWindowOrgEx(dc, 0, 0, nullptr);
  SetViewportOrgEx(dc, 180, 10, nullptr);
  SelectObject(dc, CreateSolidBrush(RGB(0, 0, 255)));
  Ellipse(dc, 0, 0, 100, 100);
  SetMapMode(dc, MM_LOMETRIC);  // 0.1 mm, y up
  SetViewportOrgEx(dc, 0, 240, nullptr);
  SetWindowOrgEx(dc, 0, 0, nullptr);
  SelectObject(dc, CreateSolidBrush(RGB(0, 160, 0)));
  Rectangle(dc, 50, 300, 450, 50);  // 5..45 mm across, 5..30 mm up from the bottom
  End(dc);
}

// World transforms and saved states: a rotated square, a scaled one, state restored.
void World() {
  HDC dc = Begin("world");
  SelectObject(dc, GetStockObject(NULL_PEN));
  SelectObject(dc, CreateSolidBrush(RGB(255, 128, 0)));
  SaveDC(dc);
  XFORM x = {0.7071f, 0.7071f, -0.7071f, 0.7071f, 90, 40};
  SetWorldTransform(dc, &x);
  Rectangle(dc, 0, 0, 80, 80);
  RestoreDC(dc, -1);
  SelectObject(dc, CreateSolidBrush(RGB(0, 100, 200)));
  XFORM s = {2, 0, 0, 1.5f, 180, 20};
  ModifyWorldTransform(dc, &s, MWT_LEFTMULTIPLY);
  Rectangle(dc, 0, 0, 50, 60);
  XFORM unit = {1, 0, 0, 1, 0, 0};  // the library reads the transform even for the identity
  ModifyWorldTransform(dc, &unit, MWT_IDENTITY);
  SelectObject(dc, CreateSolidBrush(RGB(0, 0, 0)));
  Rectangle(dc, 10, 200, 310, 230);
  End(dc);
}

// Extended pens: geometric widths with flat and square ends and mitred joins.
void ExtPens() {
  HDC dc = Begin("extpens");
  LOGBRUSH lb = {BS_SOLID, RGB(0, 0, 160), 0};
  SelectObject(dc, ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT | PS_JOIN_MITER, 16, &lb, 0, nullptr));
  POINT v[] = {{30, 100}, {90, 20}, {150, 100}};
  Polyline(dc, v, 3);
  LOGBRUSH lb2 = {BS_SOLID, RGB(200, 0, 0), 0};
  SelectObject(dc, ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_SQUARE | PS_JOIN_BEVEL, 14, &lb2, 0, nullptr));
  POINT w[] = {{180, 30}, {300, 30}, {300, 110}};
  Polyline(dc, w, 3);
  LOGBRUSH lb3 = {BS_SOLID, RGB(0, 120, 0), 0};
  SelectObject(dc, ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, 20, &lb3, 0, nullptr));
  POINT r[] = {{40, 180}, {160, 200}, {280, 160}};
  Polyline(dc, r, 3);
  End(dc);
}

// Hatched brushes over an opaque and a transparent background.
void Hatches() {
  HDC dc = Begin("hatch");
  SelectObject(dc, GetStockObject(NULL_PEN));
  LOGBRUSH h = {BS_HATCHED, RGB(0, 0, 0), HS_CROSS};
  SelectObject(dc, CreateBrushIndirect(&h));
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, RGB(255, 255, 0));
  Rectangle(dc, 10, 10, 150, 230);
  LOGBRUSH d = {BS_HATCHED, RGB(200, 0, 0), HS_BDIAGONAL};
  SelectObject(dc, CreateBrushIndirect(&d));
  SetBkMode(dc, TRANSPARENT);
  Rectangle(dc, 170, 10, 310, 230);
  End(dc);
}

// A device-independent bitmap: its header (and colour table) and its bits, bottom-up.
struct TDib {
  std::vector<uint8_t> Info, Bits;
  const BITMAPINFO* Bmi() const { return reinterpret_cast<const BITMAPINFO*>(Info.data()); }
};

// W x H pixels of 24 bits, or of 8 with the palette Colours; Pixel(x, y) counts rows from the top.
template <class F>
TDib MakeDib(int W, int H, int Bits, const std::vector<COLORREF>& Colours, F Pixel) {
  TDib d;
  BITMAPINFOHEADER h = {};
  h.biSize = sizeof(h);
  h.biWidth = W;
  h.biHeight = H;
  h.biPlanes = 1;
  h.biBitCount = WORD(Bits);
  h.biCompression = BI_RGB;
  h.biClrUsed = DWORD(Colours.size());
  const int stride = (W * Bits / 8 + 3) / 4 * 4;
  h.biSizeImage = DWORD(stride * H);
  d.Info.resize(sizeof(h));
  std::memcpy(d.Info.data(), &h, sizeof(h));
  for (COLORREF c : Colours) d.Info.insert(d.Info.end(), {GetBValue(c), GetGValue(c), GetRValue(c), 0});
  d.Bits.assign(size_t(stride * H), 0);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      uint8_t* p = d.Bits.data() + (H - 1 - y) * stride + x * Bits / 8;
      const uint32_t v = Pixel(x, y);
      if (Bits == 8) {
        p[0] = uint8_t(v);
      } else {
        p[0] = GetBValue(v), p[1] = GetGValue(v), p[2] = GetRValue(v);
      }
    }
  return d;
}

void Put(std::vector<uint8_t>& Out, const std::vector<uint32_t>& Words) {
  for (uint32_t w : Words)
    for (int i = 0; i < 4; ++i) Out.push_back(uint8_t(w >> (8 * i)));
}

// A bitmap record: its type, its words after the bounds (words 6 to 9, the bitmap's offsets
// from the record's start and sizes, are filled in here) and the bitmap.
std::vector<uint8_t> DibRecord(uint32_t Type, std::vector<uint32_t> Words, const TDib& D) {
  const uint32_t fixed = 8 + 16 + 4 * uint32_t(Words.size()), info = uint32_t(D.Info.size());
  Words[6] = fixed, Words[7] = info, Words[8] = fixed + info, Words[9] = uint32_t(D.Bits.size());
  std::vector<uint8_t> r;
  Put(r, {Type, fixed + info + uint32_t(D.Bits.size()), 0, 0, 319, 239});
  Put(r, Words);
  r.insert(r.end(), D.Info.begin(), D.Info.end());
  r.insert(r.end(), D.Bits.begin(), D.Bits.end());
  return r;
}

// Adds Records before the end record of the picture in File unless it holds a record of one
// of the Types already; the header's size and record count follow.
void AddUnlessRecorded(const std::string& File, const std::vector<uint32_t>& Types, const std::vector<uint8_t>& Records,
                       uint32_t Count) {
  std::vector<uint8_t> emf;
  {
    std::ifstream in(File, std::ios::binary);
    emf.assign(std::istreambuf_iterator<char>(in), {});
  }
  auto word = [&](size_t At) {
    uint32_t v;
    std::memcpy(&v, emf.data() + At, 4);
    return v;
  };
  size_t at = 0, eof = 0;
  while (at + 8 <= emf.size() && word(at + 4) >= 8) {
    const uint32_t type = word(at);
    for (uint32_t t : Types)
      if (t == type) return;
    if (type == EMR_EOF) eof = at;
    at += word(at + 4);
  }
  emf.insert(emf.begin() + long(eof), Records.begin(), Records.end());
  const uint32_t size = uint32_t(emf.size()), count = word(52) + Count;
  std::memcpy(emf.data() + 48, &size, 4);
  std::memcpy(emf.data() + 52, &count, 4);
  std::ofstream(File, std::ios::binary).write(reinterpret_cast<const char*>(emf.data()), long(emf.size()));
}

// Bitmaps stretched and set to the device: 24 bits a pixel and 8 with a palette, whole and in
// part. The library exports StretchDIBits and SetDIBitsToDevice but records nothing for them
// (both only answer success), so where its picture holds neither record they are added as
// those calls record them, in the layout of the library's own declarations.
void Bitmaps() {
  const COLORREF red = RGB(255, 0, 0), green = RGB(0, 200, 0), blue = RGB(0, 0, 255), yellow = RGB(255, 220, 0);
  const COLORREF grid[2][4] = {{red, green, blue, yellow}, {RGB(0, 200, 200), RGB(200, 0, 200), 0, RGB(128, 128, 128)}};
  // Blocks of 16 x 16 pixels of one colour: the converter smooths stretched bitmaps, so the
  // colours meet only at the blocks' edges, which fall on the compared cells' edges.
  const TDib cells = MakeDib(64, 32, 24, {}, [&](int X, int Y) { return grid[Y / 16][X / 16]; });
  const TDib palette = MakeDib(32, 32, 8, {RGB(255, 128, 0), RGB(100, 0, 160), RGB(0, 128, 128), RGB(120, 70, 20)},
                               [](int X, int Y) { return uint32_t(2 * (Y / 16) + X / 16); });
  const TDib quads =
      MakeDib(64, 48, 24, {}, [&](int X, int Y) { return X < 32 ? (Y < 24 ? red : blue) : (Y < 24 ? green : yellow); });
  const char* name = "bitmaps";
  HDC dc = Begin(name);
  SelectObject(dc, GetStockObject(NULL_PEN));
  SelectObject(dc, CreateSolidBrush(RGB(220, 220, 255)));
  Rectangle(dc, 8, 8, 312, 232);
  struct TCall {
    bool Stretch;
    const TDib* Dib;
    int X, Y, W, H, Xs, Ys, Ws, Hs;  // destination; source, its rows counted from the bottom
  };
  const TCall calls[] = {
      {true, &cells, 16, 16, 160, 80, 0, 0, 64, 32},      // 40 x 40 a block
      {true, &palette, 16, 128, 80, 80, 0, 0, 32, 32},    // 40 x 40 a block
      {true, &cells, 128, 128, 80, 40, 16, 0, 32, 16},    // the bottom row's middle: magenta, black
      {false, &quads, 224, 16, 64, 48, 0, 0, 64, 48},     // one to one
      {false, &quads, 224, 128, 32, 24, 32, 0, 32, 24},   // the bottom right quarter: yellow
  };
  std::vector<uint8_t> records;
  for (const TCall& c : calls) {
    std::vector<uint8_t> r;
    if (c.Stretch) {
      StretchDIBits(dc, c.X, c.Y, c.W, c.H, c.Xs, c.Ys, c.Ws, c.Hs, c.Dib->Bits.data(), c.Dib->Bmi(), DIB_RGB_COLORS,
                    SRCCOPY);
      r = DibRecord(EMR_STRETCHDIBITS,
                    {uint32_t(c.X), uint32_t(c.Y), uint32_t(c.Xs), uint32_t(c.Ys), uint32_t(c.Ws), uint32_t(c.Hs), 0, 0,
                     0, 0, DIB_RGB_COLORS, SRCCOPY, uint32_t(c.W), uint32_t(c.H)},
                    *c.Dib);
    } else {
      const int rows = c.Dib->Bmi()->bmiHeader.biHeight;
      SetDIBitsToDevice(dc, c.X, c.Y, DWORD(c.Ws), DWORD(c.Hs), c.Xs, c.Ys, 0, UINT(rows), c.Dib->Bits.data(),
                        c.Dib->Bmi(), DIB_RGB_COLORS);
      r = DibRecord(EMR_SETDIBITSTODEVICE,
                    {uint32_t(c.X), uint32_t(c.Y), uint32_t(c.Xs), uint32_t(c.Ys), uint32_t(c.Ws), uint32_t(c.Hs), 0, 0,
                     0, 0, DIB_RGB_COLORS, 0, uint32_t(rows)},
                    *c.Dib);
    }
    records.insert(records.end(), r.begin(), r.end());
  }
  End(dc);
  AddUnlessRecorded(gDir + "/" + name + ".emf", {EMR_STRETCHDIBITS, EMR_SETDIBITSTODEVICE}, records,
                    uint32_t(std::size(calls)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  gDir = argv[1];
  Lines();
  Polygons();
  Curves();
  Paths();
  Text();
  Mapping();
  World();
  ExtPens();
  Hatches();
  Bitmaps();
  return 0;
}
