// Entry point. Without arguments it shows the main window and runs until it is closed.
//   --simulate         also runs a simulated 3-channel box on a pseudo-terminal, listed
//                      first among the ports
//   --screenshot PATH  renders the window to a PNG at PATH and exits, for machines without
//                      a display; with --simulate it connects and downloads first
//   --port PATH        lists the port PATH first (for a box on a pseudo-terminal, which
//                      the system's port list never shows)
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "Application.h"
#include "BoxSimulator.h"
#include "ErrorGuard.h"
#include "Pictures.h"
#include "Unit1.h"

namespace {

void Say(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// Picks the simulated box, connects, downloads, and waits for the download to end.
void DownloadFromSimulatedBox(TForm1* form, const QString& port) {
    form->ComboBoxComPorts->setEditText(port);
    form->ButtonConnect->setEnabled(true);
    form->ButtonConnect->click();
    if (!form->ApdComPort1->IsOpen()) return;
    form->ButtonDownload->click();
    QElapsedTimer clock;
    clock.start();
    // The 3-channel download ends with the sensors' data in the Service page's listing.
    while (form->StaticText1->text().isEmpty() && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

}  // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    app.setApplicationDisplayName(QString());
    app.setWindowIcon(AppIcon());

    QString screenshotPath;
    bool simulate = false;
    QStringList extraPorts;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--screenshot") && i + 1 < args.size()) {
            screenshotPath = args[++i];
        } else if (args[i] == QLatin1String("--simulate")) {
            simulate = true;
        } else if (args[i] == QLatin1String("--port") && i + 1 < args.size()) {
            extraPorts << args[++i];
        }
    }

    std::unique_ptr<BoxSimulator> box;
    QString simulatedPort;
    if (simulate) {
        box = std::make_unique<BoxSimulator>();
        if (box->Start()) {
            simulatedPort = QString::fromStdString(box->PortPath());
            extraPorts.prepend(simulatedPort);
            Say(QStringLiteral("Simulated 3-channel box on %1 (listed first among the ports)")
                    .arg(simulatedPort));
        } else {
            Say(QStringLiteral("Could not start the simulated box: %1")
                    .arg(QString::fromStdString(box->LastError())));
        }
    }

    TForm1::SetExtraPorts(extraPorts);
    Guarded([&] {
        auto* form = new TForm1();
        form->setAttribute(Qt::WA_DeleteOnClose);
        form->show();
        Say(QStringLiteral("%1 started").arg(TForm1::kCaption));
        if (!screenshotPath.isEmpty()) {
            QTimer::singleShot(300, form, [form, screenshotPath, simulatedPort] {
                if (!simulatedPort.isEmpty()) DownloadFromSimulatedBox(form, simulatedPort);
                const bool saved = form->grab().save(screenshotPath, "PNG");
                Say(saved ? QStringLiteral("Screenshot saved to %1").arg(screenshotPath)
                          : QStringLiteral("Could not save the screenshot to %1")
                                .arg(screenshotPath));
                form->close();
            });
        }
        app.exec();
    });
    if (box) box->Stop();
    return 0;
}
