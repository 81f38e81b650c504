// The live stream from the simulated box into the real window.
#include <QTest>
#include <QTimer>

#include "BoxSimulator.h"
#include "Functions.h"
#include "WindowFixture.h"

namespace {

using namespace std::chrono_literals;

class LiveWindowTest : public testing::Test {
  protected:
    void Start(const std::string& serial, BoxSimOptions options = {}) {
        options.serial = serial;
        box = std::make_unique<BoxSimulator>(options);
        ASSERT_TRUE(box->Start()) << box->LastError();
        SetErrorPresenter([this](const QString& message) { errors.append(message); });
        form = std::make_unique<TForm1>();
        form->show();
        QTest::keyClicks(form->ComboBoxComPorts->lineEdit(),
                         QString::fromStdString(box->PortPath()));
        form->ButtonConnect->click();
        ASSERT_TRUE(form->ApdComPort1->IsOpen());
        form->ButtonDownload->click();
        const size_t steps = serial[0] == '3' ? 7 : 5;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return box->Received().size() >= steps && form->Vars().Awaiting == 0; }, 10000));
    }
    void TearDown() override {
        form.reset();
        if (box) box->Stop();
        SetErrorPresenter({});
    }
    // Holds the box's stream, waits until the window has handled every message sent, then
    // switches the stream off.
    bool StopAndDrain() {
        box->SetLiveInterval(std::chrono::hours(1));
        // Messages already queued in the box still leave: wait until the count holds still.
        size_t last = SIZE_MAX;
        const bool drained = QTest::qWaitFor(
            [&] {
                const size_t sent = box->LiveSent().size();
                const bool settled = sent == last && form->Vars().LiveMessages == sent;
                last = sent;
                if (!settled) QTest::qWait(100);
                return settled;
            },
            10000);
        form->ButtonDynoLog->click();
        return drained && QTest::qWaitFor([&] { return !box->LiveOn(); }, 5000);
    }
    std::string Label(QLabel* label) const { return label->text().toStdString(); }

    std::unique_ptr<BoxSimulator> box;
    std::unique_ptr<TForm1> form;
    QStringList errors;
};

TEST_F(LiveWindowTest, LabelsShowTheLastMessageForEachEdition) {
    for (const std::string serial : {"30012345", "20054321"}) {
        SCOPED_TRACE(serial);
        ASSERT_NO_FATAL_FAILURE(Start(serial));
        form->ButtonDynoLog->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->Vars().LiveMessages >= 5; }, 5000));
        ASSERT_TRUE(StopAndDrain());
        const LiveSample last = box->LiveSent().back();
        EXPECT_EQ(Label(form->LabelRPM), "RPM: " + std::to_string(last.rpm));
        EXPECT_EQ(Label(form->LabelPress1), "CH1: " + std::to_string(last.press1) + " - " +
                                                std::to_string(last.temp1) +
                                                "\xC2\xB0"
                                                "C");
        EXPECT_EQ(Label(form->LabelPress2), "CH2: " + std::to_string(last.press2) + " - " +
                                                std::to_string(last.temp2) +
                                                "\xC2\xB0"
                                                "C");
        EXPECT_EQ(Label(form->LabelPress3),
                  serial[0] == '3' ? "CH3: " + std::to_string(last.press3) : "CH3:");
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
        TearDown();
    }
}

TEST_F(LiveWindowTest, RunningProgramAndDynoLogViews) {
    ASSERT_NO_FATAL_FAILURE(Start("30012345"));
    // The download marked the running program and showed its page.
    const int running = box->Contents().runningProgram;
    EXPECT_EQ(form->ButtonP[running]->palette().color(QPalette::ButtonText), QColor(Qt::blue));
    EXPECT_EQ(form->PageControl1->currentIndex(), running);

    form->ButtonDynoLog->click();
    EXPECT_TRUE(form->RadioButtP1toP9->isChecked());
    EXPECT_EQ(form->RadioButtP1toP9->text(), QString("P=%1").arg(running));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Vars().LiveMessages >= 20; }, 5000));
    ASSERT_TRUE(StopAndDrain());
    const auto logged = [&] {
        int nonZero = 0;
        for (int c = 1; c <= 16; ++c) nonZero += form->StrGridDynoLog->Cell(c, 1) != "0";
        return nonZero;
    };
    EXPECT_GT(logged(), 0);
    form->RadioButtP0->click();
    EXPECT_FALSE(form->RadioButtP1toP9->isChecked());
    EXPECT_TRUE(form->RadioButtCH1->isChecked()) << "the channel copy's source stays";
    EXPECT_EQ(logged(), 0) << "nothing ran under P=0";
    form->RadioButtP1toP9->click();
    EXPECT_GT(logged(), 0);
    form->ButtonResetLog->click();
    EXPECT_EQ(logged(), 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

// Switching the stream on checks the view button of the running program's record; the
// table shows that record at once, before any live message, as after a click on it.
TEST_F(LiveWindowTest, SwitchingOnShowsTheCheckedRecordAtOnce) {
    BoxSimOptions options;
    options.liveInterval = std::chrono::hours(1);
    ASSERT_NO_FATAL_FAILURE(Start("30012345", options));
    ASSERT_NE(form->Vars().ActiveProgram, 0);
    ASSERT_TRUE(form->RadioButtP0->isChecked());
    form->Vars().DynoLogP1toP9[7 * 4 + 2] = "321";
    form->ButtonDynoLog->click();
    EXPECT_TRUE(form->RadioButtP1toP9->isChecked());
    EXPECT_EQ(form->Vars().LiveMessages, 0u);
    EXPECT_EQ(form->StrGridDynoLog->Cell(7, 2), "321");
    form->ButtonDynoLog->click();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(LiveWindowTest, WireRateStreamForTenSecondsLosesNothing) {
    BoxSimOptions options;
    options.liveInterval = 0us;  // back to back: one 13-byte message every 1.13 ms
    ASSERT_NO_FATAL_FAILURE(Start("30012345", options));
    BoxSimFaults faults;
    faults.chunkSize = 7;  // messages leave in pieces, split anywhere
    faults.chunkGap = 0us;
    box->SetFaults(faults);

    // The window keeps handling other events: a timer keeps ticking.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(50);
    form->ButtonDynoLog->click();
    QTest::qWait(10000);
    ASSERT_TRUE(StopAndDrain());
    timer.stop();

    const std::vector<LiveSample> sent = box->LiveSent();
    EXPECT_GT(sent.size(), 5000u);
    EXPECT_EQ(form->Vars().LiveMessages, sent.size()) << "every message handled";
    EXPECT_GT(ticks, 100) << "the event loop kept running";

    // The P>0 record holds exactly the maxima of what was sent, column by column.
    std::vector<int> points;
    for (int c = 1; c <= 16; ++c) points.push_back(std::stoi(form->StrGridDynoLog->Cell(c, 0)));
    std::vector<std::array<uint16_t, 3>> best(16, {0, 0, 0});
    for (const LiveSample& s : sent) {
        for (int c = 0; c < 16; ++c) {
            if (points[c] - 50 < s.rpm && s.rpm < points[c] + 50) {
                best[c][0] = std::max(best[c][0], s.press1);
                best[c][1] = std::max(best[c][1], s.press2);
                best[c][2] = std::max(best[c][2], s.press3);
                break;
            }
        }
    }
    for (int c = 0; c < 16; ++c) {
        for (int r = 0; r < 3; ++r) {
            EXPECT_EQ(form->StrGridDynoLog->Cell(c + 1, r + 1), std::to_string(best[c][r]))
                << "column " << c + 1 << " row " << r + 1;
        }
    }
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(LiveWindowTest, BadRpmCellIsReportedOnceWhileTheStreamRuns) {
    ASSERT_NO_FATAL_FAILURE(Start("30012345"));
    form->ProgramGrid(1, ProgramTable::CH1).SetCell(16, 0, "top");
    form->ButtonDynoLog->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Vars().LiveMessages >= 10; }, 5000));
    EXPECT_EQ(errors, QStringList({"'top' is not a valid integer value"}));
    ASSERT_TRUE(StopAndDrain());
    EXPECT_EQ(form->Vars().RxPos, 0);
}

}  // namespace

namespace {

TEST_F(LiveWindowTest, HangUpDuringTheStreamSwitchesTheLogOffWithoutWriting) {
    ASSERT_NO_FATAL_FAILURE(Start("30012345"));
    form->ButtonDynoLog->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Vars().LiveMessages >= 3; }, 5000));
    BoxSimFaults faults;
    faults.hangUpAfter = 6;  // in the middle of a live message
    faults.hangUpCode = 0x15;
    box->SetFaults(faults);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->ApdComPort1->IsOpen(); }, 5000));
    EXPECT_EQ(form->Vars().DynoLogging, 0);
    EXPECT_EQ(form->ButtonDynoLog->text(), "Dyno log ON");
    EXPECT_EQ(form->Shape2->BrushColor(), clRed);
    EXPECT_EQ(form->Shape1->BrushColor(), clRed);
    EXPECT_FALSE(form->ButtonDynoLog->isEnabled());
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("The connection to the box was lost"));
    EXPECT_EQ(box->Received().back().code, 0x79) << "nothing written to the dead port";
}

}  // namespace
