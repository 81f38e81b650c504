// The main thread runs the window's application on the display BOXTOOL_E2E_DISPLAY names
// (scripts/e2e.sh starts one with a window manager); the rows run on a thread of their own,
// the user's. Without that display no Qt starts at all and every row skips, so that listing
// the rows and the offscreen run of the whole suite need no X server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <thread>

#include "Application.h"
#include "Desktop.h"
#include "Pictures.h"

namespace {

// A crash takes the whole process; ctest counts it against the row that ran.
void SayCrash(int signal) {
    const char* row = desktop::RowName();
    const char* what = strsignal(signal);
    const char* input = desktop::LastInput();
    for (const char* part : {"\n*** the process died during row ", row, ": ", what,
                             "\n*** the last input sent: ", input, "\n"}) {
        (void)!write(STDERR_FILENO, part, std::strlen(part));
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const QByteArray display = qgetenv("BOXTOOL_E2E_DISPLAY");
    if (display.isEmpty() || GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();

    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    // The file dialogs keep their history in the configuration folder: one of the run's own.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toLocal8Bit());

    // As the program's own entry point sets it up.
    QCoreApplication::setApplicationName(QStringLiteral("corvane-zel"));
    TApplication app(argc, argv);
    app.setApplicationDisplayName(QString());
    app.setWindowIcon(AppIcon());
    app.setQuitOnLastWindowClosed(false);
    desktop::StartOnMainThread();
    for (int signal : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL}) std::signal(signal, SayCrash);

    int result = 1;
    std::thread user([&] {
        result = RUN_ALL_TESTS();
        QMetaObject::invokeMethod(
            &app, [&app] { app.quit(); }, Qt::QueuedConnection);
    });
    app.exec();
    user.join();
    return result;
}
