// The application's general error handling: escaped exceptions reported in a box.
#include "app/AppErrors.h"

#include <exception>

#include "controls/MsgBox.h"

TVantrelApplication::TVantrelApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TVantrelApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ReportApplicationError(QString::fromUtf8(e.what()));
  } catch (...) {
    ReportApplicationError(QString::fromUtf8("Neznámá chyba"));
  }
  return false;
}
