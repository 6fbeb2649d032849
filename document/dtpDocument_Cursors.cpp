// The editor's cursors, drawn here as 32 x 32 images: a cross hair with a small sign of what
// will be inserted, a turning arrow for rotation and an arrow with a plus for copying.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "document/dtpDocument.h"
#include "platform/Forms.h"

namespace document {

using namespace platform;

namespace {

constexpr int kSize = 32;
constexpr uint32_t kBlack = 0xFF000000u, kWhite = 0xFFFFFFFFu;

struct TCursorImage {
  std::vector<uint32_t> Pixels = std::vector<uint32_t>(kSize * kSize, 0);
  void Set(int X, int Y, uint32_t C) {
    if (X >= 0 && X < kSize && Y >= 0 && Y < kSize) Pixels[size_t(Y * kSize + X)] = C;
  }
  // A black line with a white rim, so that it shows on any background.
  void Line(int X0, int Y0, int X1, int Y1) {
    const int n = std::max(std::abs(X1 - X0), std::abs(Y1 - Y0));
    for (int pass = 0; pass < 2; ++pass)
      for (int i = 0; i <= n; ++i) {
        const int x = X0 + (n ? (X1 - X0) * i / n : 0), y = Y0 + (n ? (Y1 - Y0) * i / n : 0);
        if (pass == 0) {
          for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
              if (Pixels[size_t(std::clamp(y + dy, 0, kSize - 1) * kSize + std::clamp(x + dx, 0, kSize - 1))] !=
                  kBlack)
                Set(x + dx, y + dy, kWhite);
        } else {
          Set(x, y, kBlack);
        }
      }
  }
  void Rect(int L, int T, int R, int B) {
    Line(L, T, R, T);
    Line(R, T, R, B);
    Line(R, B, L, B);
    Line(L, B, L, T);
  }
  void Ellipse(int Cx, int Cy, int Rx, int Ry, double From = 0, double To = 2 * M_PI) {
    int px = Cx + int(std::lround(Rx * std::cos(From))), py = Cy - int(std::lround(Ry * std::sin(From)));
    for (int i = 1; i <= 24; ++i) {
      const double a = From + (To - From) * i / 24;
      const int x = Cx + int(std::lround(Rx * std::cos(a))), y = Cy - int(std::lround(Ry * std::sin(a)));
      Line(px, py, x, y);
      px = x;
      py = y;
    }
  }
  void Cross() {
    Line(0, 10, 20, 10);
    Line(10, 0, 10, 20);
  }
};

void Register(TCursor Id, const TCursorImage& Img, int HotX, int HotY) {
  Screen()->RegisterCursor(Id, kSize, kSize, Img.Pixels.data(), HotX, HotY);
}

}  // namespace

void InitializeDtpDocument() {
  {
    TCursorImage c;
    c.Ellipse(15, 15, 10, 10, 0.3, 2 * M_PI - 0.3);
    c.Line(25, 12, 25, 6);
    c.Line(25, 12, 19, 12);
    Register(crRotation, c, 15, 15);
  }
  {
    TCursorImage c;
    c.Line(0, 0, 0, 16);
    c.Line(0, 0, 11, 11);
    c.Line(0, 16, 11, 11);
    c.Line(6, 8, 12, 20);
    c.Line(18, 22, 28, 22);
    c.Line(23, 17, 23, 27);
    Register(crSizeCopy, c, 0, 0);
  }
  {
    TCursorImage c;
    c.Cross();
    Register(crDtpCross, c, 10, 10);
  }
  {
    TCursorImage c;
    c.Cross();
    c.Line(16, 28, 28, 16);
    Register(crDtpCrossLine, c, 10, 10);
  }
  {
    TCursorImage c;
    c.Cross();
    c.Line(16, 28, 28, 16);
    c.Line(28, 16, 22, 16);
    c.Line(28, 16, 28, 22);
    Register(crDtpCrossArrow, c, 10, 10);
  }
  {
    TCursorImage c;
    c.Cross();
    c.Rect(16, 18, 29, 28);
    Register(crDtpCrossRectangle, c, 10, 10);
  }
  {
    TCursorImage c;
    c.Cross();
    c.Ellipse(23, 23, 6, 5);
    Register(crDtpCrossEllipse, c, 10, 10);
  }
  {
    TCursorImage c;
    c.Cross();
    c.Line(17, 17, 28, 17);
    c.Line(22, 17, 22, 29);
    Register(crDtpCrossText, c, 10, 10);
  }
  {
    TCursorImage c;
    c.Cross();
    c.Rect(16, 17, 29, 28);
    c.Line(17, 27, 21, 21);
    c.Line(21, 21, 24, 25);
    c.Line(24, 25, 28, 20);
    Register(crDtpCrossImage, c, 10, 10);
  }
}

void FinalizeDtpDocument() {
  for (TCursor id = crDtpCrossImage; id <= crRotation; ++id) Screen()->RemoveCursor(id);
}

}  // namespace document
