// The system clipboard, as the class library's TClipboard: text only, which is all the program
// exchanges (shapes travel as XML text).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Types.h"

namespace platform {

// Clipboard formats (documented values).
constexpr uint16_t CF_TEXT = 1;
constexpr uint16_t CF_BITMAP = 2;
constexpr uint16_t CF_UNICODETEXT = 13;

class TClipboard : public TObject {
 public:
  std::string ClassName() const override { return "TClipboard"; }
  // UTF-8 text; "" when the clipboard holds no text.
  std::string AsText() const;
  void SetAsText(const std::string& Value);
  // CF_TEXT and CF_UNICODETEXT: text is available; CF_BITMAP: an image is.
  bool HasFormat(uint16_t Format) const;
  void Clear();
};

TClipboard* Clipboard();

}  // namespace platform
