// The live graph's window on a real desktop: where the window manager puts it, and its
// recording through the real file dialog while the box goes away.
#include <QApplication>
#include <QChartView>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <algorithm>

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

    // The top bar stays in sight to be used while the graph shows: a click on one of its
    // buttons leaves the graph in front of the tables.
    Click(Centre(form->ButtonResetLog));
    const QPoint middle = Centre(Get([&] { return static_cast<QWidget*>(graph->View); }));
    EXPECT_TRUE(WaitUntil([&] { return QApplication::topLevelAt(middle) == graph; }, 3000))
        << "a click on the main window's top bar put the graph behind the main window";
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

// The dyno log's record rows 1 to 3 for each RPM point: the highest readings of the records
// within 50 of the point, or "0" where none came; read on the window's thread.
std::vector<std::string> DynoLogRows(TForm1* form) {
    std::vector<std::string> texts;
    const TableText& log = form->GridByName(Grid::StrGridDynoLog);
    for (int col = 1; col <= 16; ++col) {
        for (int row = 1; row <= 3; ++row) texts.push_back(log.Cell(col, row));
    }
    return texts;
}

std::vector<std::string> Maxima(TForm1* form, const std::vector<LiveRecord>& records) {
    std::vector<std::string> texts;
    const TableText& log = form->GridByName(Grid::StrGridDynoLog);
    for (int col = 1; col <= 16; ++col) {
        const int point = std::stoi(log.Cell(col, 0));
        std::array<int, 3> highest{0, 0, 0};
        for (const LiveRecord& r : records) {
            if (r.sample.rpm <= point - 50 || r.sample.rpm >= point + 50) continue;
            highest[0] = std::max<int>(highest[0], r.sample.press1);
            highest[1] = std::max<int>(highest[1], r.sample.press2);
            highest[2] = std::max<int>(highest[2], r.sample.press3);
        }
        for (int value : highest) texts.push_back(std::to_string(value));
    }
    return texts;
}

// Record, stop, open the run with the stream off, zoom it with the wheel and replay it into
// the dyno log: every step by the real buttons and file dialogs.
TEST_F(GraphRows, ARecordingHoldsEveryMessageTakenAndReplaysIntoTheDynoLog) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    box->ClearLogs();
    Click(Centre(form->ButtonDynoLog));
    ASSERT_TRUE(WaitUntil([&] { return form->Vars().DynoLogging != 0 && box->LiveOn(); }))
        << "the dyno log did not switch on";
    LiveGraph* graph = OpenGraphByKey(form);
    ASSERT_NE(graph, nullptr);
    QPushButton* record = Get([&] { return graph->ButtonRecord; });

    Click(Centre(record));
    ASSERT_TRUE(AnswerFileDialog("SaveRecordingDialog", Path("run1")));
    ASSERT_TRUE(WaitUntil([&] { return graph->Recording(); })) << "no recording started";
    EXPECT_EQ(Get([&] { return record->text(); }), "Stop recording");
    const uint64_t started = Get([&] { return form->Vars().LiveMessages; });
    ASSERT_TRUE(WaitUntil([&] { return form->Vars().LiveMessages >= started + 40; }));
    Click(Centre(record));
    ASSERT_TRUE(WaitUntil([&] { return !graph->Recording(); })) << "the recording goes on";
    EXPECT_EQ(Get([&] { return record->text(); }), "Record\u2026");

    const QByteArray text = ReadFile(Path("run1.csv"));
    std::vector<LiveRecord> records;
    try {
        records =
            ParseLiveCsv(std::string_view(text.constData(), static_cast<size_t>(text.size())));
    } catch (const LiveCsvError& error) {
        FAIL() << "run1.csv is no recording: " << error.what();
    }
    ASSERT_GE(records.size(), 40u);
    EXPECT_EQ(Get([&] { return graph->LabelState->text(); }),
              QStringLiteral("Recorded %1 messages to run1.csv (stopped).").arg(records.size()));
    // One line per message, in the order the box sent them, none left out between.
    const std::vector<LiveSample> sent = box->LiveSent();
    const auto first = std::find(sent.begin(), sent.end(), records.front().sample);
    ASSERT_NE(first, sent.end()) << "the first line is no message the box sent";
    ASSERT_LE(static_cast<size_t>(sent.end() - first), sent.size());
    ASSERT_GE(static_cast<size_t>(sent.end() - first), records.size());
    for (size_t k = 0; k < records.size(); ++k) {
        EXPECT_EQ(records[k].sample, first[static_cast<std::ptrdiff_t>(k)]) << "line " << k + 2;
        EXPECT_EQ(records[k].program, 1) << "line " << k + 2;
        if (k > 0) {
            EXPECT_GE(records[k].time, records[k - 1].time) << "line " << k + 2;
        }
    }

    // Off; the stream filled the record of programs 1 to 9, which "Reset log P>0" clears.
    Click(Centre(form->ButtonDynoLog));
    ASSERT_TRUE(WaitUntil([&] {
        return form->Vars().DynoLogging == 0 && !form->Vars().LiveDraining && !box->LiveOn();
    })) << "the stream did not stop";
    Click(Centre(form->ButtonResetLog));
    EXPECT_TRUE(WaitUntil([&] {
        const std::vector<std::string> rows = DynoLogRows(form);
        return std::all_of(rows.begin(), rows.end(), [](const std::string& t) { return t == "0"; });
    })) << testing::PrintToString(Get([&] { return DynoLogRows(form); }));

    // Ctrl+G brings the graph to the front (the placement row holds whether the clicks on
    // the main window may put it behind); the run opens whole.
    Key("ctrl+g");
    ASSERT_TRUE(WaitUntil([&] {
        return QApplication::activeWindow() == graph &&
               QApplication::topLevelAt(graph->View->mapToGlobal(graph->View->rect().center())) ==
                   graph;
    })) << "Ctrl+G did not bring the graph to the front";
    Click(Centre(Get([&] { return graph->ButtonOpenRecording; })));
    ASSERT_TRUE(AnswerFileDialog("OpenRecordingDialog", Path("run1.csv")));
    ASSERT_TRUE(WaitUntil([&] { return graph->Replaying(); })) << "the run was not opened";
    EXPECT_EQ(Get([&] { return graph->Records(); }), records);
    const double end = static_cast<double>(records.back().time.count()) / 1e6;
    EXPECT_EQ(Get([&] { return graph->LabelState->text(); }),
              QStringLiteral("run1.csv: %1 messages over %2 s. Turn the wheel or drag to zoom.")
                  .arg(records.size())
                  .arg(end, 0, 'f', 1));
    EXPECT_DOUBLE_EQ(Get([&] { return graph->ShownFrom(); }), 0);
    EXPECT_DOUBLE_EQ(Get([&] { return graph->ShownTo(); }), end);

    // Two notches away from the user zoom in around the pointer; "Whole run" shows it all.
    QWidget* view = Get([&] { return static_cast<QWidget*>(graph->View); });
    Wheel(Centre(view), 2);
    EXPECT_TRUE(WaitUntil([&] { return graph->ShownTo() - graph->ShownFrom() < end * 0.7; }))
        << "shown " << Get([&] { return graph->ShownFrom(); }) << " to "
        << Get([&] { return graph->ShownTo(); }) << " of " << end;
    EXPECT_GT(Get([&] { return graph->ShownFrom(); }), 0) << "the zoom is around the middle";
    Click(Centre(Get([&] { return graph->ButtonWholeRun; })));
    EXPECT_TRUE(WaitUntil([&] { return graph->ShownFrom() == 0 && graph->ShownTo() == end; }));

    // The replay files the run's messages in the record again.
    Click(Centre(Get([&] { return graph->ButtonReplayDynoLog; })));
    EXPECT_TRUE(WaitUntil([&] { return DynoLogRows(form) == Maxima(form, records); }))
        << testing::PrintToString(Get([&] { return DynoLogRows(form); })) << " for "
        << testing::PrintToString(Get([&] { return Maxima(form, records); }));
    EXPECT_EQ(
        Get([&] { return graph->LabelState->text(); }),
        QStringLiteral("Replayed %1 messages of run1.csv into the dyno log.").arg(records.size()));
    EXPECT_EQ(Codes(), (std::vector<uint8_t>{Cmd::LiveOn3, Cmd::LiveOff3}));
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

}  // namespace
