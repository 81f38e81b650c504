// The live graph's window: a recording of the simulated box's stream at the wire's maximum
// rate, replayed into the dyno log; recordings opened, zoomed and read with the cursor.
#include <QChart>
#include <QChartView>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QValueAxis>

#include "BoxSimulator.h"
#include "DynoLog.h"
#include "LiveGraph.h"
#include "TestSupport.h"
#include "WindowFixture.h"

namespace {

using namespace std::chrono_literals;

std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class LiveGraphTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        TForm1::SetFileChooser([this](QFileDialog* dialog) {
            return dialog->acceptMode() == QFileDialog::AcceptSave ? saveAs : openName;
        });
    }
    void TearDown() override {
        WindowTest::TearDown();
        if (box) box->Stop();
        TForm1::SetFileChooser({});
    }
    LiveGraph* OpenGraph() {
        QApplication::setActiveWindow(form.get());
        QTest::keyClick(form.get(), Qt::Key_G, Qt::ControlModifier);
        LiveGraph* graph = form->Graph();
        if (graph != nullptr) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(graph));
        }
        return graph;
    }
    void ConnectAndDownload(BoxSimOptions options) {
        box = std::make_unique<BoxSimulator>(options);
        ASSERT_TRUE(box->Start()) << box->LastError();
        form->ComboBoxComPorts->setEditText(QString::fromStdString(box->PortPath()));
        form->ButtonConnect->setEnabled(true);
        form->ButtonConnect->click();
        ASSERT_TRUE(form->ApdComPort1->IsOpen());
        form->ButtonDownload->click();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return box->Received().size() >= 7 && form->Vars().Awaiting == 0; }, 10000));
    }
    size_t Shown(QLineSeries* series) const { return static_cast<size_t>(series->count()); }

    std::unique_ptr<BoxSimulator> box;
    TempDir dir;
    QString saveAs;
    QString openName;
};

TEST_F(LiveGraphTest, ARecordingAtTheWiresRateHoldsEveryMessageAndReplaysToTheSameMaxima) {
    BoxSimOptions options;
    options.liveInterval = 0us;  // back to back: the wire's maximum rate
    ASSERT_NO_FATAL_FAILURE(ConnectAndDownload(options));
    LiveGraph* graph = OpenGraph();
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(graph->windowTitle(), "Live graph");
    EXPECT_GE(graph->geometry().left(), form->frameGeometry().left() + 100) << "beside the window";

    // "Record…" before the stream runs says what to do.
    graph->ButtonRecord->click();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors.takeFirst(), "Switch the dyno log on to record the live stream.");

    // The stream on and the recording started before the first message is read.
    saveAs = QString::fromStdString(dir / "run.csv");
    const DynoRecord startP0 = form->Vars().DynoLogP0;
    const DynoRecord startP1toP9 = form->Vars().DynoLogP1toP9;
    form->ButtonDynoLog->click();
    graph->ButtonRecord->click();
    ASSERT_TRUE(graph->Recording());
    EXPECT_EQ(graph->ButtonRecord->text(), "Stop recording");
    ASSERT_TRUE(QTest::qWaitFor([&] { return box->LiveSent().size() >= 1500; }, 10000));
    graph->RefreshNow();
    // Two seconds of a minute's chart: a few slices, each with its lowest and highest value.
    for (QLineSeries* series : graph->Series) EXPECT_GE(Shown(series), 4u);
    EXPECT_LE(Shown(graph->Series[0]), 2000u) << "drawn from the envelope, not every message";
    EXPECT_EQ(graph->ShownTo() - graph->ShownFrom(), LiveGraph::kLiveSeconds);
    const QString picture = QStringLiteral(ARTIFACT_DIR "/live-graph.png");
    EXPECT_TRUE(graph->grab().save(picture)) << picture.toStdString();

    // The stream switched off at full speed: the messages on their way are recorded too.
    form->ButtonDynoLog->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !graph->Recording(); }, 5000));
    EXPECT_FALSE(box->LiveOn());
    const std::vector<LiveSample> sent = box->LiveSent();
    const std::vector<LiveRecord> recorded = ParseLiveCsv(ReadText(dir / "run.csv"));
    ASSERT_EQ(recorded.size(), sent.size());
    for (size_t k = 0; k < sent.size(); ++k) {
        ASSERT_EQ(recorded[k].sample, sent[k]) << "message " << k;
        ASSERT_EQ(recorded[k].program, box->Contents().runningProgram);
    }
    EXPECT_EQ(form->Vars().LiveMessages, sent.size());
    EXPECT_TRUE(graph->LabelState->text().startsWith(
        QStringLiteral("Recorded %1 messages to run.csv").arg(sent.size())))
        << graph->LabelState->text().toStdString();

    // The dyno log's records as before the run, the recording replayed: the same maxima.
    const DynoRecord liveP0 = form->Vars().DynoLogP0;
    const DynoRecord liveP1toP9 = form->Vars().DynoLogP1toP9;
    EXPECT_NE(liveP1toP9, startP1toP9) << "the run filled the log";
    form->Vars().DynoLogP0 = startP0;
    form->Vars().DynoLogP1toP9 = startP1toP9;
    openName = saveAs;
    graph->ButtonOpenRecording->click();
    ASSERT_TRUE(graph->Replaying()) << errors.join('\n').toStdString();
    graph->ButtonReplayDynoLog->click();
    EXPECT_EQ(form->Vars().DynoLogP0, liveP0);
    EXPECT_EQ(form->Vars().DynoLogP1toP9, liveP1toP9);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

// Starts the stream and, before its first message is read, a recording into `name`; returns
// the count of messages taken before.
uint64_t RecordInto(TForm1& form, LiveGraph& graph, QString& saveAs, const std::string& path) {
    saveAs = QString::fromStdString(path);
    form.ButtonDynoLog->click();
    graph.ButtonRecord->click();
    EXPECT_TRUE(graph.Recording());
    return form.Vars().LiveMessages;
}

TEST_F(LiveGraphTest, TheRecordingIsWholeWhenTheConnectionIsLost) {
    ASSERT_NO_FATAL_FAILURE(ConnectAndDownload({}));
    LiveGraph* graph = OpenGraph();
    ASSERT_NE(graph, nullptr);
    const uint64_t before = RecordInto(*form, *graph, saveAs, dir / "lost.csv");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Vars().LiveMessages >= before + 5; }, 5000));
    BoxSimFaults faults;
    faults.hangUpAfter = 6;  // in the middle of a message
    faults.hangUpCode = Cmd::LiveData;
    box->SetFaults(faults);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->ApdComPort1->IsOpen(); }, 5000));
    EXPECT_FALSE(graph->Recording());
    EXPECT_EQ(ParseLiveCsv(ReadText(dir / "lost.csv")).size(), form->Vars().LiveMessages - before);
    EXPECT_TRUE(graph->LabelState->text().endsWith("(the connection was lost)."))
        << graph->LabelState->text().toStdString();
}

// How the lost connection's message box opens. Inside the application's event loop it is
// queued to open once the handler has returned; outside any loop (a test that only
// processes events) it opens at once, inside the handler, as every message box once did.
enum class BoxOpens { Queued, InTheHandler };

struct LostCase {
    const char* name;
    BoxOpens opens;
};

class LostWhileRecording : public LiveGraphTest, public testing::WithParamInterface<LostCase> {};

// What the window showed and the file held while the message box was open.
struct AtTheBox {
    bool seen = false;
    bool queued = false;
    QString text;
    QString state;
    bool recording = true;
    uint64_t taken = 0;
    size_t lines = 0;
    std::string unreadable;
};

// Waits for `done` inside an event loop of its own, as the application's would run.
bool WaitInLoop(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QTimer check;
    check.setInterval(5);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    check.start();
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

TEST_P(LostWhileRecording, TheFileIsWholeAndSaidBeforeTheMessageOpens) {
    ASSERT_NO_FATAL_FAILURE(ConnectAndDownload({}));
    LiveGraph* graph = OpenGraph();
    ASSERT_NE(graph, nullptr);
    const std::string path = dir / "run2.csv";
    const uint64_t before = RecordInto(*form, *graph, saveAs, path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Vars().LiveMessages >= before + 5; }, 5000));

    // The real, modal message box from here on: a timer finds it, reads the file and the
    // window, and closes it.
    SetErrorPresenter({});
    AtTheBox at;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || at.seen) return;
        at.seen = true;
        at.queued = ErrorMessagePending();
        at.text = box->text();
        at.state = graph->LabelState->text();
        at.recording = graph->Recording();
        at.taken = form->Vars().LiveMessages - before;
        try {
            at.lines = ParseLiveCsv(ReadText(path)).size();
        } catch (const LiveCsvError& error) {
            at.unreadable = error.what();
        }
        box->accept();
    });
    poll.start();

    BoxSimFaults faults;
    faults.hangUpAfter = 6;  // in the middle of a message
    faults.hangUpCode = Cmd::LiveData;
    box->SetFaults(faults);
    const auto closed = [&] { return at.seen && QApplication::activeModalWidget() == nullptr; };
    ASSERT_TRUE(GetParam().opens == BoxOpens::Queued ? WaitInLoop(closed, 10000)
                                                     : QTest::qWaitFor(closed, 10000))
        << "no message box opened";
    EXPECT_EQ(at.queued, GetParam().opens == BoxOpens::Queued);
    EXPECT_TRUE(at.text.startsWith("The connection to the box was lost: "))
        << at.text.toStdString();
    EXPECT_FALSE(at.recording);
    EXPECT_EQ(at.unreadable, "") << "the file was cut off";
    EXPECT_EQ(at.lines, at.taken);
    EXPECT_EQ(at.state,
              QStringLiteral("Recorded %1 messages to run2.csv (the connection was lost).")
                  .arg(at.taken));
}

INSTANTIATE_TEST_SUITE_P(Lost, LostWhileRecording,
                         testing::Values(LostCase{"Queued", BoxOpens::Queued},
                                         LostCase{"InTheHandler", BoxOpens::InTheHandler}),
                         [](const testing::TestParamInfo<LostCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(LiveGraphTest, TheRecordingIsWholeWhenTheToolCloses) {
    ASSERT_NO_FATAL_FAILURE(ConnectAndDownload({}));
    LiveGraph* graph = OpenGraph();
    ASSERT_NE(graph, nullptr);
    const uint64_t before = RecordInto(*form, *graph, saveAs, dir / "closed.csv");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Vars().LiveMessages >= before + 5; }, 5000));
    const uint64_t taken = form->Vars().LiveMessages - before;
    form.reset();
    EXPECT_EQ(ParseLiveCsv(ReadText(dir / "closed.csv")).size(), taken);
}

// Where the graph's window opens, for a main window framed as 1131 x 790 with a title bar
// of 22 pixels, a graph framed as 876 x 586 that shrinks to 786 x 540 at the least.
struct PlaceCase {
    const char* name;
    QRect screen;
    QPoint mainAt;
    QRect expected;
    bool offTheTopBar;  // false: the screen leaves no place that keeps off it
};

void PrintTo(const PlaceCase& row, std::ostream* os) {
    *os << row.name;
}

const PlaceCase kPlaceCases[] = {
    {"BesideOnTheRight", {0, 0, 2560, 1440}, {100, 100}, {1239, 100, 876, 586}, true},
    {"BesideOnTheLeft", {0, 0, 2560, 1440}, {1400, 100}, {516, 100, 876, 586}, true},
    {"BesideOnASecondScreen", {1280, 0, 2560, 1440}, {1300, 40}, {2439, 40, 876, 586}, true},
    // The screen where the fault was met: the graph once opened over the live labels.
    {"OverTheTablesOn1280x1024", {0, 0, 1280, 1024}, {75, 117}, {75, 325, 876, 586}, true},
    {"OverTheTablesShrunkToTheBottom", {0, 0, 1280, 1024}, {75, 260}, {75, 468, 876, 556}, true},
    {"OverTheTablesKeptOnTheScreen", {0, 0, 1280, 1024}, {-200, 117}, {0, 325, 876, 586}, true},
    {"OnASmallScreen", {0, 0, 800, 600}, {-165, -84}, {0, 60, 800, 540}, false},
};

class PlaceRows : public testing::TestWithParam<PlaceCase> {};

TEST_P(PlaceRows, TheGraphOpensBesideOrBelowTheTopBarOnTheScreen) {
    const PlaceCase& row = GetParam();
    const QRect main(row.mainAt, QSize(1131, 790));
    const QPoint tables = row.mainAt + QPoint(0, 22 + TForm1::kTopBarHeight);
    const QRect topBar(main.topLeft(), QPoint(main.right(), tables.y() - 1));
    const QRect place =
        PlaceGraphWindow(main, tables, QSize(876, 586), QSize(786, 540), row.screen);
    EXPECT_EQ(place, row.expected);
    if (row.offTheTopBar) {
        EXPECT_FALSE(place.intersects(topBar)) << "over the top bar";
        EXPECT_TRUE(row.screen.contains(place)) << "off the screen";
    } else {
        EXPECT_TRUE(row.screen.intersected(place).width() >= 786 &&
                    row.screen.intersected(place).height() >= 540)
            << "the least size is not on the screen";
    }
}

INSTANTIATE_TEST_SUITE_P(Graph, PlaceRows, testing::ValuesIn(kPlaceCases),
                         [](const testing::TestParamInfo<PlaceCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(LiveGraphTest, ARecordingOpenedIsZoomedAndReadAndABadOneIsRefused) {
    // 100 s of a run, program 1 then 4 then 0.
    const std::string good = dir / "good.csv";
    {
        LiveCsvWriter writer(good);
        for (int k = 0; k <= 10000; ++k) {
            const int program = k < 3000 ? 1 : k < 7000 ? 4 : 0;
            writer.Add({std::chrono::microseconds(k * 10000LL),
                        {static_cast<uint16_t>(1000 + k % 7000), 300, 90, 200, 85,
                         static_cast<uint16_t>(k == 5000 ? 4000 : 100)},
                        program});
        }
        writer.Close();
    }
    LiveGraph* graph = OpenGraph();
    ASSERT_NE(graph, nullptr);
    openName = QString::fromStdString(good);
    graph->ButtonOpenRecording->click();
    ASSERT_TRUE(graph->Replaying()) << errors.join('\n').toStdString();
    EXPECT_EQ(graph->ShownFrom(), 0);
    EXPECT_EQ(graph->ShownTo(), 100);
    double highest = 0;
    for (const QPointF& p : graph->Series[5]->points()) highest = std::max(highest, p.y());
    EXPECT_EQ(highest, 4000) << "a one-message peak shows in the whole run";
    const auto bands = graph->View->chart()->childItems();
    int programBands = 0;
    for (QGraphicsItem* item : bands) {
        auto* band = dynamic_cast<QGraphicsRectItem*>(item);
        if (band != nullptr && band->isVisible() && band->data(0) == "program band") ++programBands;
    }
    EXPECT_EQ(programBands, 3);

    // The wheel zooms around the mouse; "Whole run" shows it all again.
    const QPoint middle = graph->View->chart()->plotArea().center().toPoint();
    QWheelEvent wheel(middle, graph->View->mapToGlobal(middle), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(graph->View->viewport(), &wheel);
    EXPECT_NEAR(graph->ShownTo() - graph->ShownFrom(), 80, 0.5);
    EXPECT_NEAR((graph->ShownTo() + graph->ShownFrom()) / 2, 50, 1);
    graph->ZoomTo(49, 51);
    EXPECT_LE(graph->Series[5]->count(), 2 * 201) << "only the time shown";
    graph->ButtonWholeRun->click();
    EXPECT_EQ(graph->ShownTo() - graph->ShownFrom(), 100);

    // The cursor shows the message nearest the mouse.
    graph->ShowCursorAt(50.004);
    EXPECT_EQ(
        graph->LabelCursor->text().toStdString(),
        "50.000000 s   P4   RPM 6000   CH1 300 (90 \u00B0C)   CH2 200 (85 \u00B0C)   CH3 4000");
    QTest::mouseMove(graph->View->viewport(), middle);
    EXPECT_TRUE(graph->LabelCursor->text().contains(" s   P"))
        << graph->LabelCursor->text().toStdString();

    // A file that is not such a recording: refused, naming the line; the run shown stays.
    const std::string bad = dir / "bad.csv";
    const std::string text = std::string(kLiveCsvHeader) + "\n0.1,1,2,3,4,5,6,0\n0.2,1,2,3,4,5,6\n";
    WriteBytes(bad, std::vector<uint8_t>(text.begin(), text.end()));
    openName = QString::fromStdString(bad);
    graph->ButtonOpenRecording->click();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors.takeFirst(),
              "\"bad.csv\" is not a live recording: line 3: it has 7 fields; a line has 8.");
    EXPECT_EQ(graph->Records().size(), 10001u);

    // Replaying before a download: the dyno log has no RPM points to file under.
    graph->ButtonReplayDynoLog->click();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors.takeFirst(), "The dyno log has no RPM points yet: download the box first.");
}

}  // namespace
