#include "Application.h"

#include <cstdio>
#include <exception>

#include "ErrorGuard.h"

namespace {
// Handlers guard themselves, so an exception here is a fault of the tool: it is said on
// standard error too, in one line that the monkey (scripts/monkey.sh) looks for.
void SayEscaped(const char* what) {
    std::fprintf(stderr, "corvane-zel: an exception reached the event loop: %s\n", what);
    std::fflush(stderr);
}
}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        SayEscaped(error.what());
        ShowError(QString::fromStdString(error.what()));
    } catch (...) {
        SayEscaped("(not a std::exception)");
        ShowError(QString());
    }
    return false;
}
