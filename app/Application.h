#pragma once
#include <QApplication>

// The application object. Handlers guard themselves; this is the last resort for an
// exception that would otherwise cross the event loop.
class TApplication : public QApplication {
  public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
