// Entry point. Without arguments it shows the main window and runs until it is closed.
// --screenshot PATH renders the started window to a PNG at PATH and exits, for machines
// without a display.
#include <QTimer>
#include <cstdio>

#include "Application.h"
#include "ErrorGuard.h"
#include "Pictures.h"
#include "Unit1.h"

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    app.setApplicationDisplayName(QString());
    app.setWindowIcon(AppIcon());

    QString screenshotPath;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--screenshot") && i + 1 < args.size()) {
            screenshotPath = args[++i];
        }
    }

    Guarded([&] {
        auto* form = new TForm1();
        form->setAttribute(Qt::WA_DeleteOnClose);
        form->show();
        std::printf("%s started\n", TForm1::kCaption);
        std::fflush(stdout);
        if (!screenshotPath.isEmpty()) {
            QTimer::singleShot(300, form, [form, screenshotPath] {
                const bool saved = form->grab().save(screenshotPath, "PNG");
                std::printf(
                    saved ? "screenshot saved to %s\n" : "could not save screenshot to %s\n",
                    qPrintable(screenshotPath));
                std::fflush(stdout);
                form->close();
            });
        }
        app.exec();
    });
    return 0;
}
