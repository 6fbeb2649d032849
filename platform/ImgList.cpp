#include "platform/ImgList.h"

namespace platform {

TImageList::~TImageList() = default;

void TImageList::SetWidth(int32_t Value) {
  if (Value == FWidth || Value < 1) return;
  FWidth = Value;
  Clear();
}

void TImageList::SetHeight(int32_t Value) {
  if (Value == FHeight || Value < 1) return;
  FHeight = Value;
  Clear();
}

int32_t TImageList::Add(TBitmap* Image) {
  auto copy = std::make_unique<TBitmap>();
  copy->SetSize(FWidth, FHeight);
  copy->Canvas()->Brush()->SetColor(clWhite);
  copy->Canvas()->FillRect({0, 0, FWidth, FHeight});
  if (Image && !Image->Empty()) {
    if (Image->Width() == FWidth && Image->Height() == FHeight) copy->Canvas()->Draw(0, 0, Image);
    else copy->Canvas()->StretchDraw({0, 0, FWidth, FHeight}, Image);
  }
  FImages.push_back(std::move(copy));
  if (OnChange) OnChange(this);
  return Count() - 1;
}

void TImageList::Clear() {
  if (FImages.empty()) return;
  FImages.clear();
  if (OnChange) OnChange(this);
}

void TImageList::Draw(TCanvas* Canvas, int32_t X, int32_t Y, int32_t Index, bool Enabled) const {
  if (!Canvas || Index < 0 || Index >= Count()) return;
  TBitmap* image = FImages[static_cast<size_t>(Index)].get();
  if (Enabled) {
    Canvas->Draw(X, Y, image);
    return;
  }
  // Disabled: every pixel becomes the grey of its brightness, lightened.
  TBitmap grey;
  grey.Assign(image);
  grey.SetPixelFormat(pf24bit);
  for (int32_t y = 0; y < grey.Height(); ++y) {
    auto* row = static_cast<uint8_t*>(grey.ScanLine(y));
    for (int32_t x = 0; x < grey.Width(); ++x) {
      uint8_t* p = row + x * 3;
      const int v = (p[0] + p[1] * 2 + p[2]) / 4;
      const auto g = static_cast<uint8_t>(128 + v / 2);
      p[0] = p[1] = p[2] = g;
    }
  }
  Canvas->Draw(X, Y, &grey);
}

}  // namespace platform
