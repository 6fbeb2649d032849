#include "platform/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace platform {

namespace {
QClipboard* System() { return qGuiApp ? QGuiApplication::clipboard() : nullptr; }
}  // namespace

std::string TClipboard::AsText() const {
  QClipboard* c = System();
  if (!c) return std::string();
  const QMimeData* m = c->mimeData();
  if (!m || !m->hasText()) return std::string();
  return m->text().toStdString();
}

void TClipboard::SetAsText(const std::string& Value) {
  if (QClipboard* c = System()) c->setText(QString::fromStdString(Value));
}

bool TClipboard::HasFormat(uint16_t Format) const {
  QClipboard* c = System();
  if (!c) return false;
  const QMimeData* m = c->mimeData();
  if (!m) return false;
  switch (Format) {
    case CF_TEXT:
    case CF_UNICODETEXT:
      return m->hasText();
    case CF_BITMAP:
      return m->hasImage();
    default:
      return false;
  }
}

void TClipboard::Clear() {
  if (QClipboard* c = System()) c->clear();
}

TClipboard* Clipboard() {
  static TClipboard clipboard;
  return &clipboard;
}

}  // namespace platform
