// Message boxes and the application's general error reporting, behind
// replaceable functions.
//
// Every modal box of the program (controls, dialog, main window) goes through
// ShowMessageBox, so that a test can install a handler with
// SetMessageBoxHandler that records the box and answers it at once: no test
// ever blocks on a modal box.  An empty handler restores the default
// (a QMessageBox shown modally).
//
// Errors that escape an event handler (a conversion error in a grid sort, a
// failed INI write, ...) are handed to ReportApplicationError.  The default
// reporter shows the text in an error box on the next pass of the event loop
// ("later", after the handler that failed has been left); the application
// may replace it with SetErrorReporter.
#pragma once

#include <QString>
#include <functional>

class QWidget;

enum class TMsgIcon { None, Information, Warning, Error, Question };
enum class TMsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class TMsgResult { Ok, Cancel, Yes, No };

// AParent may be null.  The handler returns the button the user chose.
using TMessageBoxHandler =
    std::function<TMsgResult(QWidget* AParent, const QString& ATitle, const QString& AText,
                             TMsgIcon AIcon, TMsgButtons AButtons)>;

// Shows a box through the current handler.
TMsgResult ShowMessageBox(QWidget* AParent, const QString& ATitle, const QString& AText,
                          TMsgIcon AIcon, TMsgButtons AButtons = TMsgButtons::Ok);

// Installs AHandler; returns the previous one (empty = the default).
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler AHandler);

// Title used for error boxes ("Chyba").
QString ErrorBoxTitle();

using TErrorReporter = std::function<void(const QString& AMessage)>;

// Hands an error that escaped an event handler to the application's
// general error reporting.
void ReportApplicationError(const QString& AMessage);

// Installs AReporter; returns the previous one (empty = the default).
TErrorReporter SetErrorReporter(TErrorReporter AReporter);
