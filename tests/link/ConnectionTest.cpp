// The connection to the box with no widget at all: a QCoreApplication, the tables in memory,
// the simulated box on a pseudo-terminal. This is how a command-line program drives it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "BoxSimulator.h"
#include "Connection.h"
#include "MemoryForm.h"
#include "StartUp.h"

namespace {

class ConnectionTest : public testing::Test {
  protected:
    void Start(const std::string& serial, BoxSimFaults faults = {}, bool shortLive = false) {
        connection.reset();
        BoxSimOptions options;
        options.serial = serial;
        options.pacing = false;
        options.shortLiveMessages = shortLive;
        box = std::make_unique<BoxSimulator>(options);
        ASSERT_TRUE(box->Start()) << box->LastError();
        box->SetFaults(faults);
        InitialiseTables(form, vars);
        form.ControlByName(Ctl::ComboBoxPedalRes).SetItemIndex(1);
        connection = std::make_unique<Connection>(form, vars);
        connection->Open(QString::fromStdString(box->PortPath()));
        ASSERT_TRUE(connection->IsOpen());
    }
    void TearDown() override {
        connection.reset();
        if (box) box->Stop();
    }
    std::vector<uint8_t> Codes() const {
        std::vector<uint8_t> codes;
        for (const ReceivedCommand& command : box->Received()) codes.push_back(command.code);
        return codes;
    }

    MemoryForm form;
    Variables vars;
    std::unique_ptr<BoxSimulator> box;
    std::unique_ptr<Connection> connection;
};

TEST_F(ConnectionTest, DownloadsIntoTablesInMemory) {
    ASSERT_NO_FATAL_FAILURE(Start("30012345"));
    QSignalSpy status(connection.get(), &Connection::StatusChanged);
    connection->Download();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Codes().size() == 7 && vars.Awaiting == 0; }, 5000));
    const auto chain = DownloadChain('3');
    EXPECT_EQ(Codes(), std::vector<uint8_t>(chain.begin(), chain.end()));
    EXPECT_EQ(vars.BoxSerial, "30012345");
    EXPECT_EQ(form.Program(1, ProgramTable::CH1).Cell(1, 0), "1000");
    EXPECT_EQ(form.ControlByName(Ctl::NumBoxStartTime).Caption(), "2");
    ASSERT_FALSE(status.isEmpty());
    EXPECT_EQ(status.last().at(0).toString(),
              QStringLiteral("Connected to %1, box 30012345").arg(connection->PortName()));
}

TEST_F(ConnectionTest, SilentBoxIsReportedOnceAfterTheDeadline) {
    BoxSimFaults silent;
    silent.silenceFrom = Cmd::ReadSerial;
    ASSERT_NO_FATAL_FAILURE(Start("20054321", silent));
    QSignalSpy failed(connection.get(), &Connection::Failed);
    connection->Download();
    EXPECT_THROW(connection->Download(), LinkError) << "one exchange at a time";
    ASSERT_TRUE(failed.wait(2000));
    EXPECT_EQ(failed.at(0).at(0).toString(),
              "The box did not answer the request for its serial number within 0.5 s. Check "
              "that the right port is chosen and that the box is powered.");
    QTest::qWait(600);
    EXPECT_EQ(failed.size(), 1);
    EXPECT_TRUE(connection->IsOpen());
    box->SetFaults({});
    connection->Download();
    EXPECT_TRUE(QTest::qWaitFor([&] { return vars.BoxSerial == "20054321"; }, 5000));
}

TEST_F(ConnectionTest, CloseSwitchesTheStreamOffFirst) {
    ASSERT_NO_FATAL_FAILURE(Start("30012345"));
    connection->Download();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Codes().size() == 7 && vars.Awaiting == 0; }, 5000));
    connection->SwitchDynoLog();
    ASSERT_TRUE(QTest::qWaitFor([&] { return vars.LiveMessages > 5; }, 5000));
    box->ClearLogs();
    QSignalSpy closed(connection.get(), &Connection::Closed);
    connection->Close();
    EXPECT_EQ(closed.size(), 1);
    EXPECT_FALSE(connection->IsOpen());
    EXPECT_EQ(vars.DynoLogging, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Codes().empty(); }, 2000));
    EXPECT_EQ(Codes(), std::vector<uint8_t>{Cmd::LiveOff3});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !box->LiveOn(); }, 2000));
}

// At the wire's full rate (about 886 messages a second) every sample is taken, but the
// labels change at most at a screen's pace, and show the last sample soon after it.
TEST_F(ConnectionTest, LiveDisplayKeepsToTheScreensPace) {
    ASSERT_NO_FATAL_FAILURE(Start("30012345"));
    connection->Download();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Codes().size() == 7 && vars.Awaiting == 0; }, 5000));
    box->SetLiveInterval(std::chrono::microseconds(0));
    connection->SwitchDynoLog();
    const Control& rpm = form.ControlByName(Ctl::LabelRPM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return vars.LiveMessages > 50; }, 5000));
    const uint64_t before = vars.LiveMessages;
    std::string shown = rpm.Caption();
    int changes = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1000) {
        QTest::qWait(1);
        if (rpm.Caption() != shown) {
            shown = rpm.Caption();
            ++changes;
        }
    }
    const uint64_t taken = vars.LiveMessages - before;
    EXPECT_GT(taken, 500u) << "samples taken in a second";
    EXPECT_LE(changes, 63) << "label changes in a second";
    EXPECT_GT(changes, 5) << "the labels follow the stream";

    // The stream pauses: once every sample has been taken, the last one taken shows (a frame
    // later on an idle machine; the bench measures how soon).
    box->SetLiveInterval(std::chrono::hours(1));
    size_t last = SIZE_MAX;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const size_t sent = box->LiveSent().size();
            const bool settled = sent == last && vars.LiveMessages == sent;
            last = sent;
            return settled;
        },
        5000));
    // (A message or two may still come after the pause; the display follows the last one.)
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return !vars.LiveShowDue && rpm.Caption() == "RPM: " + std::to_string(vars.LiveRpm);
        },
        1000))
        << rpm.Caption() << " while the last sample taken has " << vars.LiveRpm;
    connection->SwitchDynoLog();
}

// A 2-channel box sends live messages of 13 or of 11 bytes, back to back and with pauses
// longer than the quiet time between them: every message is taken once, in order, and the
// labels end on the last.
TEST_F(ConnectionTest, TwoChannelLiveMessagesOfEitherLengthAreEachTakenOnce) {
    for (const bool shortLive : {true, false}) {
        SCOPED_TRACE(shortLive ? "11-byte messages" : "13-byte messages");
        ASSERT_NO_FATAL_FAILURE(Start("20012345", {}, shortLive));
        connection->Download();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return vars.BoxSerial == "20012345" && vars.Awaiting == 0; }, 5000));
        std::vector<LiveSample> taken;
        const uint64_t messagesBefore = vars.LiveMessages;
        QObject::connect(connection.get(), &Connection::LiveSampleReceived,
                         [&](const LiveSample& sample) { taken.push_back(sample); });
        QSignalSpy stream(connection.get(), &Connection::LiveStreamChanged);
        box->SetLiveInterval(std::chrono::microseconds(0));
        connection->SwitchDynoLog();
        ASSERT_TRUE(QTest::qWaitFor([&] { return taken.size() > 300; }, 5000));
        // With pauses, each message is taken once the line is quiet, before the next comes.
        box->SetLiveInterval(std::chrono::milliseconds(5 * Connection::kLiveQuietMs));
        const size_t before = box->LiveSent().size();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const size_t sent = box->LiveSent().size();
                return sent > before + 2 && taken.size() == sent;
            },
            5000));
        connection->SwitchDynoLog();
        ASSERT_TRUE(QTest::qWaitFor([&] { return stream.size() == 2; }, 5000));
        EXPECT_FALSE(stream.last().at(0).toBool());

        const std::vector<LiveSample> sent = box->LiveSent();
        ASSERT_EQ(taken.size(), sent.size());
        EXPECT_EQ(taken, sent);
        EXPECT_EQ(vars.LiveMessages - messagesBefore, sent.size());
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return form.ControlByName(Ctl::LabelRPM).Caption() ==
                       "RPM: " + std::to_string(sent.back().rpm);
            },
            1000));
        EXPECT_EQ(vars.LivePress2, sent.back().press2);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
