// Qt's texts in Czech.
#include "app/QtCzech.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstring>

namespace {

// Texts of Qt's that its Czech translation leaves in English: asked only
// after it, so any text it has wins.
class TMissingQtTexts : public QTranslator {
public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* source, const char* = nullptr,
                    int = -1) const override {
    struct TText {
      const char* Context;
      const char* Source;
      const char* Czech;
    };
    static const TText kTexts[] = {
        {"QAbstractFileIconProvider", "Folder", "Složka"},
        {"QAbstractFileIconProvider", "File", "Soubor"},
        {"QAbstractFileIconProvider", "Drive", "Jednotka"},
        {"QAbstractFileIconProvider", "File Folder", "Složka"},
        {"QAbstractFileIconProvider", "Alias", "Zástupce"},
        {"QAbstractFileIconProvider", "Shortcut", "Zástupce"},
        {"QAbstractFileIconProvider", "Unknown", "Neznámý"},
        {"QAbstractFileIconProvider", "%1 File", "Soubor %1"},
    };
    for (const TText& t : kTexts)
      if (std::strcmp(context, t.Context) == 0 && std::strcmp(source, t.Source) == 0)
        return QString::fromUtf8(t.Czech);
    return {};
  }
};

}  // namespace

bool InstallCzechQtTexts(QCoreApplication& app) {
  // Made once and kept: a translator must outlive every text it gives.
  static auto* missing = new TMissingQtTexts(&app);
  static auto* qt = new QTranslator(&app);
  static const bool loaded = qt->load(QLocale(QLocale::Czech), "qtbase", "_",
                                      QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  // The last installed is asked first.
  QCoreApplication::removeTranslator(missing);
  QCoreApplication::removeTranslator(qt);
  QCoreApplication::installTranslator(missing);
  if (loaded) QCoreApplication::installTranslator(qt);
  return loaded;
}
