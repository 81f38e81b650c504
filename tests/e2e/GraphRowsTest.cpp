// The live graph's window on a real desktop: where the window manager puts it, and its
// recording through the real file dialog while the box goes away.
#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include "Desktop.h"
#include "LiveGraph.h"
#include "LiveRecording.h"

namespace {

using namespace desktop;

using GraphRows = DesktopTest;

// Ctrl+G on the main window; the graph once the window manager has framed and activated it.
LiveGraph* OpenGraphByKey(TForm1* form) {
    Key("ctrl+g");
    LiveGraph* graph = nullptr;
    const bool framed = WaitUntil([&] {
        graph = form->Graph();
        return graph != nullptr && graph->isVisible() && graph->windowHandle()->isExposed() &&
               graph->frameGeometry() != graph->geometry() && QApplication::activeWindow() == graph;
    });
    if (!framed) ADD_FAILURE() << "Ctrl+G opened no framed, active graph window";
    return framed ? graph : nullptr;
}

TEST_F(GraphRows, TheGraphOpensOffTheMainWindowsTopBarAndOnTheScreen) {
    const QRect screen = Get([] { return QGuiApplication::primaryScreen()->availableGeometry(); });
    ASSERT_EQ(screen.width(), 1280) << "the row is about a 1280-pixel-wide screen";
    LiveGraph* graph = OpenGraphByKey(form);
    ASSERT_NE(graph, nullptr);
    const QRect frame = Get([&] { return graph->frameGeometry(); });
    const QRect topBar = Get([&] {
        QWidget* content = form->Content();
        return QRect(content->mapToGlobal(QPoint(0, 0)),
                     QSize(content->width(), TForm1::kTopBarHeight));
    });
    EXPECT_FALSE(frame.intersects(topBar))
        << "the graph's frame " << frame.x() << "," << frame.y() << " " << frame.width() << "x"
        << frame.height() << " covers the top bar " << topBar.x() << "," << topBar.y() << " "
        << topBar.width() << "x" << topBar.height();
    EXPECT_TRUE(screen.contains(frame))
        << "the graph's frame " << frame.x() << "," << frame.y() << " " << frame.width() << "x"
        << frame.height() << " is not on the screen";
    const QString picture = QStringLiteral(ARTIFACT_DIR "/e2e-live-graph-placed.png");
    if (SaveScreen(picture)) std::printf("screen: %s\n", qPrintable(picture));
}

TEST_F(GraphRows, ARecordingIsWholeWhileTheLostConnectionsMessageIsOpen) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    Click(Centre(form->ButtonDynoLog));
    ASSERT_TRUE(WaitUntil([&] { return form->Vars().DynoLogging != 0 && box->LiveOn(); }))
        << "the dyno log did not switch on";
    LiveGraph* graph = OpenGraphByKey(form);
    ASSERT_NE(graph, nullptr);

    Click(Centre(Get([&] { return graph->ButtonRecord; })));
    const std::optional<Dialog> chooser = WaitForDialog();
    ASSERT_TRUE(chooser) << "no file dialog";
    EXPECT_EQ(chooser->kind, "QFileDialog");
    EXPECT_EQ(chooser->name, "SaveRecordingDialog");
    Type(Path("run2"));
    // The messages taken before the recording can have started, and once it has: its first
    // line is one of the messages between.
    const uint64_t before = Get([&] { return form->Vars().LiveMessages; });
    Key("Return");
    ASSERT_TRUE(WaitForNoDialog());
    ASSERT_TRUE(WaitUntil([&] { return graph->Recording(); })) << "no recording started";
    const uint64_t after = Get([&] { return form->Vars().LiveMessages; });
    ASSERT_TRUE(WaitUntil([&] { return form->Vars().LiveMessages >= after + 20; }));

    BoxSimFaults faults;
    faults.hangUpAfter = 6;  // in the middle of a message
    faults.hangUpCode = Cmd::LiveData;
    box->SetFaults(faults);
    const std::optional<Dialog> message = WaitForDialog();
    ASSERT_TRUE(message) << "no message";
    EXPECT_EQ(message->kind, "QMessageBox");
    EXPECT_TRUE(message->text.startsWith("The connection to the box was lost: "))
        << message->text.toStdString();

    // While the message is open: the file is whole, and the graph says so.
    const uint64_t taken = Get([&] { return form->Vars().LiveMessages; });
    const QString state = Get([&] { return graph->LabelState->text(); });
    const QByteArray text = ReadFile(Path("run2.csv"));
    std::vector<LiveRecord> records;
    try {
        records =
            ParseLiveCsv(std::string_view(text.constData(), static_cast<size_t>(text.size())));
    } catch (const LiveCsvError& error) {
        ADD_FAILURE() << "run2.csv is cut off: " << error.what();
    }
    EXPECT_TRUE(text.endsWith('\n')) << "the last line is whole";
    EXPECT_LE(records.size(), taken - before);
    EXPECT_GE(records.size(), taken - after);
    EXPECT_EQ(state, QStringLiteral("Recorded %1 messages to run2.csv (the connection was lost).")
                         .arg(records.size()));
    EXPECT_FALSE(Get([&] { return graph->Recording(); }));
    const QString picture = QStringLiteral(ARTIFACT_DIR "/e2e-recording-lost.png");
    if (SaveScreen(picture)) std::printf("screen: %s\n", qPrintable(picture));

    Key("Return");
    EXPECT_TRUE(WaitForNoDialog()) << "Return did not close the message";
    EXPECT_EQ(ReadFile(Path("run2.csv")), text) << "the file was complete before the message";
}

}  // namespace
