// Enter and Escape offered to the form that contains a control, as a
// dialog form would take them: Enter clicks the form's visible, enabled
// default push button; Escape rejects a QDialog.  Returns whether the form
// used the key.
#pragma once

class QWidget;

bool SendDialogKey(QWidget* AFrom, int AKey);
