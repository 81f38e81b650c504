// Entry point. Without arguments it shows the main window and runs until it is closed.
//   --help, --version  print the options or the version and exit, without a display
//   --simulate         also runs a simulated 3-channel box on a pseudo-terminal, listed
//                      first among the ports
//   --screenshot PATH  renders the window to a PNG at PATH and exits, for machines without
//                      a display; with --simulate it connects and downloads first
//   --port PATH        lists the port PATH first (for a box on a pseudo-terminal, which
//                      the system's port list never shows)
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "Application.h"
#include "BoxSimulator.h"
#include "ErrorGuard.h"
#include "Pictures.h"
#include "Recovery.h"
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

// The options as --help lists them; their meaning is in the comment at the top.
void DescribeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Configures and monitors the tuning box over a serial port: its maps, its running "
        "program, the engine live and the sensors' diagnostics."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("simulate"),
                      QStringLiteral("Also run a simulated 3-channel box on a pseudo-terminal, "
                                     "listed first among the ports.")});
    parser.addOption({QStringLiteral("screenshot"),
                      QStringLiteral("Render the window to a PNG file at <path> and exit (no "
                                     "display needed with QT_QPA_PLATFORM=offscreen); with "
                                     "--simulate, connect and download first."),
                      QStringLiteral("path")});
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("List the port <path> first, such as a box on a "
                                     "pseudo-terminal, which the system's port list never shows. "
                                     "May be given more than once."),
                      QStringLiteral("path")});
}

// --help and --version are answered before the window's application starts, so that they
// work without a display. Other arguments, such as Qt's own, are left to the window.
void AnswerHelpOrVersion(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    DescribeOptions(parser);
    parser.parse(arguments);
    if (!parser.isSet(QStringLiteral("help")) && !parser.isSet(QStringLiteral("version"))) return;
    QCoreApplication info(argc, argv);
    if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
    parser.showVersion();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("corvane-zel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BOXTOOL_VERSION));
    AnswerHelpOrVersion(argc, argv);

    TApplication app(argc, argv);
    app.setApplicationDisplayName(QString());
    app.setWindowIcon(AppIcon());
    // The installed desktop entry, so that the desktop shows its name and icon for the window.
    app.setDesktopFileName(QStringLiteral("corvane-zel"));

    // A wrong command line ends here with its reason (QCommandLineParser prints it).
    QCommandLineParser parser;
    DescribeOptions(parser);
    parser.process(app);
    const QString screenshotPath = parser.value(QStringLiteral("screenshot"));
    const bool simulate = parser.isSet(QStringLiteral("simulate"));
    QStringList extraPorts = parser.values(QStringLiteral("port"));

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
    // A picture of the window keeps nobody's tables.
    TForm1::SetRecoveryEnabled(screenshotPath.isEmpty());
    Guarded([&] {
        auto* form = new TForm1();
        form->setAttribute(Qt::WA_DeleteOnClose);
        form->show();
        QTimer::singleShot(0, form, &TForm1::OfferRecovery);
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
        // A clean exit: the user has closed the window, answering for any changes.
        if (screenshotPath.isEmpty()) RecoveryStore::Remove();
    });
    if (box) box->Stop();
    return 0;
}
