#include "platform/StyleDraw.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include "platform/Graphics.h"

namespace platform {

bool StyledDrawingAvailable() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

void DrawStyledPart(TCanvas* Canvas, TStyledPart Part, const TRect& R, const TStyledState& State,
                    const std::string& Caption) {
  if (!Canvas || !StyledDrawingAvailable()) return;
  QPainter* p = Canvas->Painter();
  if (!p) return;
  QStyle* style = QApplication::style();
  const QRect rect(R.Left, R.Top, R.Width(), R.Height());
  QStyle::State st = State.Disabled ? QStyle::State_None : QStyle::State_Enabled;
  if (State.Hot) st |= QStyle::State_MouseOver;
  if (State.Pressed) st |= QStyle::State_Sunken;
  p->save();
  switch (Part) {
    case spPushButton: {
      QStyleOptionButton o;
      o.rect = rect;
      o.state = st | (State.Pressed ? QStyle::State_None : QStyle::State_Raised);
      o.text = QString::fromUtf8(Caption.data(), static_cast<qsizetype>(Caption.size()));
      style->drawControl(QStyle::CE_PushButton, &o, p);
      break;
    }
    case spCheckBox:
    case spRadioButton: {
      QStyleOptionButton o;
      o.rect = rect;
      o.state = st | (State.Checked ? QStyle::State_On : QStyle::State_Off);
      style->drawPrimitive(Part == spCheckBox ? QStyle::PE_IndicatorCheckBox : QStyle::PE_IndicatorRadioButton, &o, p);
      break;
    }
    case spComboDropDown: {
      QStyleOption o;
      o.rect = rect;
      o.state = st;
      style->drawPrimitive(QStyle::PE_PanelButtonCommand, &o, p);
      QStyleOption a = o;
      a.rect = rect.adjusted(2, 2, -2, -2);
      style->drawPrimitive(QStyle::PE_IndicatorArrowDown, &a, p);
      break;
    }
    case spSpinUp:
    case spSpinDown: {
      QStyleOption o;
      o.rect = rect;
      o.state = st | (State.Pressed ? QStyle::State_None : QStyle::State_Raised);
      style->drawPrimitive(QStyle::PE_PanelButtonBevel, &o, p);
      QStyleOption a = o;
      a.rect = rect.adjusted(1, 1, -1, -1);
      style->drawPrimitive(Part == spSpinUp ? QStyle::PE_IndicatorSpinUp : QStyle::PE_IndicatorSpinDown, &a, p);
      break;
    }
    case spEditFrame: {
      QStyleOptionFrame o;
      o.rect = rect;
      o.state = st | QStyle::State_Sunken;
      o.lineWidth = 1;
      style->drawPrimitive(QStyle::PE_PanelLineEdit, &o, p);
      break;
    }
  }
  p->restore();
}

void DrawFileIcon(TCanvas* Canvas, int32_t X, int32_t Y, const std::string& Path, bool Large) {
  if (!Canvas || !StyledDrawingAvailable()) return;
  QPainter* p = Canvas->Painter();
  if (!p) return;
  const QString path = QString::fromUtf8(Path.data(), static_cast<qsizetype>(Path.size()));
  QFileIconProvider provider;
  QFileInfo info(path);
  const QIcon icon = info.exists() ? provider.icon(info)
                                   : provider.icon(path.startsWith('.') || !path.contains('/') ? QFileIconProvider::File
                                                                                                 : QFileIconProvider::Folder);
  const int size = Large ? 32 : 16;
  p->drawPixmap(X, Y, icon.pixmap(size, size));
}

}  // namespace platform
