// The one font of the program's windows.
#include "controls/UiFont.h"

#include <QFontInfo>
#include <QStringList>

QFont VantrelFont(bool bold) {
  QFont font;
  font.setFamilies(QStringList{QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"),
                               QStringLiteral("Sans Serif")});
  font.setPixelSize(11);
  font.setBold(bold);
  if (QFontInfo(font).family() != QStringLiteral("MS Sans Serif"))
    font.setStretch(QFont::SemiCondensed);
  return font;
}
