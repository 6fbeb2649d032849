// The system clipboard, as the class library's TClipboard, over Qt's clipboard: text, bitmaps
// (CF_BITMAP, carried as a BMP file so depth, palette and the fourth byte of 32-bit pixels
// survive; other programs see an ordinary image) and registered formats holding raw bytes
// ("GIF Image" and "PNG" travel as image/gif and image/png).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "platform/Types.h"

class QMimeData;

namespace platform {

// Clipboard formats (documented values).
constexpr uint16_t CF_TEXT = 1;
constexpr uint16_t CF_BITMAP = 2;
constexpr uint16_t CF_UNICODETEXT = 13;

// A format id for a name, the same id for the same name (case-insensitive), from 0xC000 up.
uint16_t RegisterClipboardFormat(const std::string& Name);
// The registered name of a format; "" for a predefined or unknown one.
std::string GetClipboardFormatName(uint16_t Format);

class TClipboard : public TPersistent {
 public:
  TClipboard();
  ~TClipboard() override;
  std::string ClassName() const override { return "TClipboard"; }

  // UTF-8 text; "" when the clipboard holds no text.
  std::string AsText() const;
  void SetAsText(const std::string& Value);
  // Whether data of Format can be had (CF_TEXT and CF_UNICODETEXT: text; CF_BITMAP: an image).
  bool HasFormat(uint16_t Format) const;
  void Clear();

  // Between Open and Close (nested) every format set joins one new content, which replaces the
  // clipboard at the last Close; outside them each call replaces the clipboard by itself.
  void Open();
  void Close();
  // The data of one format: CF_BITMAP as a BMP file, text as UTF-8, registered formats as set;
  // empty when absent.
  std::vector<uint8_t> GetAsHandle(uint16_t Format) const;
  void SetAsHandle(uint16_t Format, const std::vector<uint8_t>& Data);
  // The formats present, in the order they were put there.
  std::vector<uint16_t> Formats() const;

  // A graphic (or a picture's graphic) is put on the clipboard through its
  // SaveToClipboardFormat, inside Open and Close so that it can add formats of its own.
  void Assign(const TPersistent* Source) override;

 protected:
  // A picture takes the first format on the clipboard that a graphic class is tied to
  // (EInvalidGraphic "Unsupported clipboard format" when none is); a bitmap takes CF_BITMAP.
  void AssignTo(TPersistent* Dest) const override;

 private:
  const QMimeData* Current() const;
  QMimeData* Pending();
  int32_t FOpenCount = 0;
  std::unique_ptr<QMimeData> FPending;
};

TClipboard* Clipboard();

}  // namespace platform
