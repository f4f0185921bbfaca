// The application's general error handling: an exception that escapes an
// event handler is reported to the user (through the replaceable error
// reporter, a message box by default); the handler is abandoned there and
// the program goes on with the state it left.
#pragma once

#include <QApplication>

class TVantrelApplication : public QApplication {
public:
  TVantrelApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};
