// The class library's image list: equally sized images drawn by index.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Component.h"
#include "platform/Graphics.h"

namespace platform {

class TImageList : public TComponent {
 public:
  explicit TImageList(TComponent* AOwner) : TComponent(AOwner) {}
  ~TImageList() override;
  std::string ClassName() const override { return "TImageList"; }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  // Changing the size clears the list, as in the class library.
  void SetWidth(int32_t Value);
  void SetHeight(int32_t Value);
  int32_t Count() const { return static_cast<int32_t>(FImages.size()); }
  // Appends a copy of Image scaled to the list's size; returns its index.
  int32_t Add(TBitmap* Image);
  void Clear();
  // Draws image Index at (X, Y); a disabled image is drawn greyed. Out-of-range indexes draw nothing.
  void Draw(TCanvas* Canvas, int32_t X, int32_t Y, int32_t Index, bool Enabled = true) const;
  TNotifyEvent OnChange;

 private:
  int32_t FWidth = 16;
  int32_t FHeight = 16;
  std::vector<std::unique_ptr<TBitmap>> FImages;
};

}  // namespace platform
