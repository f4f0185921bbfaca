// Qt's own texts (standard dialogs, context menus of edits) in Czech like
// the rest of the window: Qt's translation, and for the few texts it lacks
// (the file dialog's kinds of entries) the program's own.
#pragma once

class QCoreApplication;

// Installs both for the rest of the run; false when Qt's translation was not
// found (the package with Qt's translations is missing).
bool InstallCzechQtTexts(QCoreApplication& app);
