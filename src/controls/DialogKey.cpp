// Enter and Escape handed on to the form that holds a control.
#include "controls/DialogKey.h"

#include <QDialog>
#include <QPushButton>
#include <QWidget>

bool SendDialogKey(QWidget* AFrom, int AKey) {
  if (AFrom == nullptr) return false;
  QWidget* form = AFrom->window();
  if (form == nullptr || form == AFrom) return false;
  if (AKey == Qt::Key_Return || AKey == Qt::Key_Enter) {
    const auto buttons = form->findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
      if (button->isDefault() && button->isVisible() && button->isEnabled()) {
        button->click();
        return true;
      }
    }
    return false;
  }
  if (AKey == Qt::Key_Escape) {
    if (auto* dialog = qobject_cast<QDialog*>(form)) {
      dialog->reject();
      return true;
    }
  }
  return false;
}
