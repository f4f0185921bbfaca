// Message boxes and the general error report.
#include "controls/MsgBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

namespace {

TMsgResult DefaultMessageBox(QWidget* AParent, const QString& ATitle, const QString& AText,
                             TMsgIcon AIcon, TMsgButtons AButtons) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (AIcon) {
    case TMsgIcon::None:
      icon = QMessageBox::NoIcon;
      break;
    case TMsgIcon::Information:
      icon = QMessageBox::Information;
      break;
    case TMsgIcon::Warning:
      icon = QMessageBox::Warning;
      break;
    case TMsgIcon::Error:
      icon = QMessageBox::Critical;
      break;
    case TMsgIcon::Question:
      icon = QMessageBox::Question;
      break;
  }
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  switch (AButtons) {
    case TMsgButtons::Ok:
      buttons = QMessageBox::Ok;
      break;
    case TMsgButtons::OkCancel:
      buttons = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    case TMsgButtons::YesNo:
      buttons = QMessageBox::Yes | QMessageBox::No;
      break;
    case TMsgButtons::YesNoCancel:
      buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
  }
  QMessageBox box(icon, ATitle, AText, buttons, AParent);
  if (auto* ok = box.button(QMessageBox::Ok)) ok->setText("OK");
  if (auto* cancel = box.button(QMessageBox::Cancel)) cancel->setText("Zrušit");
  if (auto* yes = box.button(QMessageBox::Yes)) yes->setText("Ano");
  if (auto* no = box.button(QMessageBox::No)) no->setText("Ne");
  switch (box.exec()) {
    case QMessageBox::Ok:
      return TMsgResult::Ok;
    case QMessageBox::Yes:
      return TMsgResult::Yes;
    case QMessageBox::No:
      return TMsgResult::No;
    default:
      return TMsgResult::Cancel;
  }
}

TMessageBoxHandler& Handler() {
  static TMessageBoxHandler handler;
  return handler;
}

TErrorReporter& Reporter() {
  static TErrorReporter reporter;
  return reporter;
}

}  // namespace

TMsgResult ShowMessageBox(QWidget* AParent, const QString& ATitle, const QString& AText,
                          TMsgIcon AIcon, TMsgButtons AButtons) {
  // Copy: a handler may replace itself while it runs.
  TMessageBoxHandler handler = Handler();
  if (handler) return handler(AParent, ATitle, AText, AIcon, AButtons);
  return DefaultMessageBox(AParent, ATitle, AText, AIcon, AButtons);
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler AHandler) {
  TMessageBoxHandler old = std::move(Handler());
  Handler() = std::move(AHandler);
  return old;
}

QString ErrorBoxTitle() { return QStringLiteral("Chyba"); }

void ReportApplicationError(const QString& AMessage) {
  TErrorReporter reporter = Reporter();
  if (reporter) {
    reporter(AMessage);
    return;
  }
  // Shown after the failing handler has been left, so no modal loop runs
  // inside a half-finished mouse or key handler.
  if (qApp == nullptr) return;
  QTimer::singleShot(0, qApp, [AMessage] {
    ShowMessageBox(QApplication::activeWindow(), ErrorBoxTitle(), AMessage, TMsgIcon::Error);
  });
}

TErrorReporter SetErrorReporter(TErrorReporter AReporter) {
  TErrorReporter old = std::move(Reporter());
  Reporter() = std::move(AReporter);
  return old;
}
