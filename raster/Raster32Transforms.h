// Moving pixels between bitmaps: 1:1 block copies, resampling stretches with four filters,
// and affine transformation of a whole bitmap (rotated, scaled and translated shapes).
// Every routine writes the destination by a draw mode: dmOpaque stores, dmBlend blends with
// the source's master alpha, dmCustom calls the combine callback.
#pragma once

#include <array>
#include <cstdint>

#include "platform/Exceptions.h"
#include "raster/Raster32.h"

namespace raster {

KD_DECLARE_EXCEPTION(ETransformError, platform::Exception);

// 3 x 3 singles stored column by column: M[column][row]; (x, y, 1) maps to M * (x, y, 1).
using TFloatMatrix = std::array<std::array<float, 3>, 3>;
using TVector3f = std::array<float, 3>;

extern const TFloatMatrix IdentityMatrix;

// Raises "Destination bitmap is nil or empty", then "Source bitmap is nil or empty".
void CheckBitmaps(const TBitmap32* Dst, const TBitmap32* Src);
// False when SrcRect is empty; raises "Source rectangle is invalid" when it leaves Src.
bool CheckSrcRect(const TBitmap32* Src, const TRect& SrcRect);

void BlockTransfer(TBitmap32* Dst, int32_t DstX, int32_t DstY, TBitmap32* Src, TRect SrcRect, TDrawMode DrawMode,
                   const TPixelCombineEvent& CombineCallBack = {});
void StretchTransfer(TBitmap32* Dst, TRect DstRect, TBitmap32* Src, TRect SrcRect, TStretchFilter StretchFilter,
                     TDrawMode DrawMode, const TPixelCombineEvent& CombineCallBack = {});

class TTransformation : public platform::TObject {
 public:
  // 20.12 inverse mapping of a destination pixel, rounded with a bias of 2047.
  virtual void ReverseTransformInt(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY) = 0;
  // The same in 24.8 (bias 7).
  virtual void ReverseTransform256(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY) = 0;
  virtual void PrepareTransform() = 0;
  virtual TRect GetTransformedBounds() = 0;

  const TdtpFloatRect& SrcRect() const { return FSrcRect; }
  void SetSrcRect(const TdtpFloatRect& Value);

  bool TransformValid = false;

 protected:
  TdtpFloatRect FSrcRect;
};

class TAffineTransformation : public TTransformation {
 public:
  TAffineTransformation();

  void ReverseTransformInt(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY) override;
  void ReverseTransform256(int32_t DstX, int32_t DstY, int32_t& SrcX, int32_t& SrcY) override;
  void PrepareTransform() override;
  TRect GetTransformedBounds() override;

  void Clear();
  void Translate(float Dx, float Dy);
  void Scale(float Sx, float Sy);
  // Alpha in degrees; with y pointing down a positive angle turns counter-clockwise.
  void Rotate(float Cx, float Cy, float Alpha);

  // Fixed-point (20.12) inverse, valid after PrepareTransform.
  int32_t A = 0, B = 0, C = 0, D = 0, E = 0, F = 0;
  TFloatMatrix Matrix;
};

// Draws Src into Dst through T, with Src's draw mode, master alpha, callback and filter.
// Affine maps go row-wise (TransformBitmapRows, wide where the processor allows).
void TransformBitmap(TBitmap32* Dst, TBitmap32* Src, TTransformation* T);
// One mapping and one sample per destination pixel: the slow form the row-wise one must
// match bit for bit.
void TransformBitmapReference(TBitmap32* Dst, TBitmap32* Src, TTransformation* T);
// Row loops of the bilinear sampler, narrowest first.
enum class TRowLoop { Scalar, SSE2, AVX2 };
// Row-wise form: each row's accepted span is solved from the fixed-point steps, and its inner
// part is sampled a row at a time with the widest loop up to Widest the processor has.
// Whatever it cannot prove equal (other transformations, a bitmap drawn onto itself, other
// blend arithmetic, huge sources) goes to the reference.
void TransformBitmapRows(TBitmap32* Dst, TBitmap32* Src, TTransformation* T, TRowLoop Widest = TRowLoop::AVX2);
// "avx2", "sse2" or "scalar": the row loop TransformBitmap uses on this processor.
const char* TransformSimdLevel();

void Adjoint(TFloatMatrix& M);
float Determinant(const TFloatMatrix& M);
void ScaleMatrix(TFloatMatrix& M, float Factor);
// M := inverse of M; a matrix with |det| < 1e-5 becomes the identity.
void InvertMatrix(TFloatMatrix& M);
TFloatMatrix MultiplyMatrix(const TFloatMatrix& M1, const TFloatMatrix& M2);
TVector3f VectorTransform(const TFloatMatrix& M, const TVector3f& V);

}  // namespace raster
