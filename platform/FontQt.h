// Qt side of TFont, for platform code only: the QFont that draws a TFont on a device with the
// given height in pixels. Windows core fonts are mapped to their metric-compatible faces.
#pragma once

#include <QFont>
#include <QString>

#include "platform/Font.h"

namespace platform {

// The family Qt should ask for ("Arial" -> "Liberation Sans"; other names pass through to
// fontconfig's own substitution).
QString QtFamilyName(const std::string& Name);
// Pixel-sized QFont of Font: a negative Height is the character (em) height, a positive one
// the cell height (ascent + descent), 0 the default height.
QFont MakeQFont(const TFont& Font);

}  // namespace platform
