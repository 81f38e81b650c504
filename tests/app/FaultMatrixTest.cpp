// The fault matrix: the real window against the simulated box over a real pseudo-terminal,
// with the box misbehaving in one way per row. Every row says what the user sees; each
// checks that the window stays usable, that no table is left half-decoded and that the
// chain can be run again once the box behaves.
#include <QDir>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <ostream>

#include "BackupStore.h"
#include "BoxSimulator.h"
#include "Functions.h"
#include "TestSupport.h"
#include "WindowFixture.h"

namespace {

using PT = ProgramTable;
using namespace std::chrono_literals;
using Codes = std::vector<uint8_t>;

constexpr const char* kSerial2 = "20054321";
constexpr const char* kSerial3 = "30012345";

bool ThreeChannel(const std::string& serial) {
    return serial[0] == '3';
}

Codes CodesOf(std::span<const uint8_t> chain) {
    return {chain.begin(), chain.end()};
}

// The chain up to and including the first `code`.
Codes ChainThrough(const Codes& chain, uint8_t code) {
    const auto at = std::find(chain.begin(), chain.end(), code);
    return at == chain.end() ? chain : Codes(chain.begin(), at + 1);
}

// What the window shows from the box, one part per step of the 3-channel download, in
// the order the steps fill them. A 2-channel download fills the first five.
enum Part { kSerialPart, kImagePart, kProgramPart, kConfigPart, kStartPart, kPedalPart, kSentPart };
constexpr int kParts = 7;
constexpr const char* kPartNames[kParts] = {"serial number", "program tables", "running program",
                                            "configuration", "start time",     "pedal response",
                                            "SENT data"};
using Snapshot = std::array<std::vector<std::string>, kParts>;

void AppendCells(std::vector<std::string>& texts, const TextGrid& grid, int firstRow = 0,
                 int lastRow = -1) {
    if (lastRow < 0) lastRow = grid.RowCount() - 1;
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int col = 0; col < grid.ColCount(); ++col) texts.push_back(grid.Cell(col, row));
    }
}

testing::AssertionResult SamePart(const Snapshot& got, const Snapshot& want, int part) {
    const auto& a = got[static_cast<size_t>(part)];
    const auto& b = want[static_cast<size_t>(part)];
    if (a == b) return testing::AssertionSuccess();
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    auto failure = testing::AssertionFailure() << kPartNames[part] << " differs";
    if (i < a.size() && i < b.size()) {
        failure << " at text " << i << ": \"" << a[i] << "\" instead of \"" << b[i] << '"';
    } else {
        failure << " in length: " << a.size() << " texts instead of " << b.size();
    }
    return failure;
}

// The box as it stands after someone changed every setting with another tool.
BoxContents OtherContents(const std::string& serial) {
    BoxContents contents = DefaultBoxContents(serial);
    contents.serial = std::string(1, serial[0]) + "0098765";
    for (uint8_t& byte : contents.image) byte ^= 0x21;
    for (uint16_t& value : contents.config) value ^= 0x0101;
    contents.startTime = 9;
    contents.pedal = 2;
    contents.runningProgram = 4;
    // Record values change, identifiers stay.
    for (size_t i = 0; i < contents.sentData.size(); ++i) {
        if (i % 3 != 0) contents.sentData[i] ^= 0x01;
    }
    return contents;
}

enum class Chain { Download, Send };
enum class PortTrouble { None, Taken, Gone };

struct FaultRow {
    const char* name;
    std::string serial;  // the box; its first character is the edition
    Chain chain = Chain::Download;
    BoxSimFaults faults;
    // The command whose answer never arrives whole: the box has received the chain up to
    // and including it.
    uint8_t stopsAt = 0;
    // The box hung up while that command was on its way and may not have taken it.
    bool cutWhileWriting = false;
    // "Download" and "Send" are enabled while the chain stands still.
    bool buttonsEnabled = true;
    PortTrouble port = PortTrouble::None;
    // What the message gives as the reason the port cannot be opened (a pattern).
    const char* reason = "";
    const char* sees = "";
};

void PrintTo(const FaultRow& row, std::ostream* os) {
    *os << row.name << ": " << row.sees;
}

std::string RowName(const testing::TestParamInfo<FaultRow>& info) {
    return info.param.name;
}

BoxSimFaults SilentFrom(uint8_t code) {
    BoxSimFaults faults;
    faults.silenceFrom = code;
    return faults;
}

BoxSimFaults Garbage(size_t count, uint8_t byte) {
    BoxSimFaults faults;
    faults.garbageBytes = count;
    faults.garbageByte = byte;
    return faults;
}

BoxSimFaults Trailing(size_t count, uint8_t byte) {
    BoxSimFaults faults;
    faults.trailingBytes = count;
    faults.garbageByte = byte;
    return faults;
}

BoxSimFaults Chunks(size_t size, std::chrono::microseconds gap = 200us, size_t garbage = 0) {
    BoxSimFaults faults;
    faults.chunkSize = size;
    faults.chunkGap = gap;
    faults.garbageBytes = garbage;
    return faults;
}

BoxSimFaults Merged(size_t count) {
    BoxSimFaults faults;
    faults.mergeMessages = count;
    return faults;
}

// The box hangs up after `after` bytes of its answer to `code` and comes back on a new
// port.
BoxSimFaults HangUpIn(uint8_t code, size_t after) {
    BoxSimFaults faults;
    faults.hangUpCode = code;
    faults.hangUpAfter = after;
    faults.reopenAfter = 100ms;
    return faults;
}

class FaultMatrix : public testing::Test {
  protected:
    void StartBox(const std::string& serial) {
        BoxSimOptions options;
        options.serial = serial;
        options.pacing = false;
        box = std::make_unique<BoxSimulator>(options);
        ASSERT_TRUE(box->Start()) << box->LastError();
        port = PlugIn();
        TForm1::SetExtraPorts({port});
        SetErrorPresenter([this](const QString& message) { errors.append(message); });
        form = std::make_unique<TForm1>();
        form->show();
    }
    void TearDown() override {
        form.reset();
        if (box) box->Stop();
        TForm1::SetExtraPorts({});
        SetErrorPresenter({});
    }

    // The name under which the box's port is offered: its pseudo-terminal, or a link to it
    // like the by-id name of a USB adapter, which vanishes with the adapter. (A
    // pseudo-terminal's number is free for any process once the box has gone.)
    QString PlugIn() const {
        const std::string path = box->PortPath();
        if (!linkDir) return QString::fromStdString(path);
        const std::string link = *linkDir / "ttyBox";
        std::filesystem::remove(link);
        std::filesystem::create_symlink(path, link);
        return QString::fromStdString(link);
    }
    void Unplug() const {
        box->Stop();
        if (linkDir) std::filesystem::remove(*linkDir / "ttyBox");
    }

    // Types the port's name and presses "Connect".
    void ConnectTo(const QString& path) {
        form->ComboBoxComPorts->setEditText(path);
        form->ButtonConnect->setEnabled(true);
        form->ButtonConnect->click();
        ASSERT_TRUE(form->ApdComPort1->IsOpen()) << errors.join('\n').toStdString();
    }
    // Opens the port list, which now offers `path`, and picks it.
    void PickFromList(const QString& path) {
        TForm1::SetExtraPorts({path});
        form->ComboBoxComPortsDropDown();
        const int index = form->ComboBoxComPorts->findText(path);
        ASSERT_GE(index, 0) << path.toStdString() << " is not listed";
        form->ComboBoxComPorts->setCurrentIndex(index);
        emit form->ComboBoxComPorts->activated(index);
        ASSERT_TRUE(form->ButtonConnect->isEnabled());
    }

    Codes Received() const {
        Codes codes;
        for (const ReceivedCommand& command : box->Received()) codes.push_back(command.code);
        return codes;
    }
    void Click(Chain chain) {
        box->ClearLogs();
        (chain == Chain::Send ? form->ButtonSend : form->ButtonDownload)->click();
    }
    const Codes& Expected(Chain chain) const {
        return chain == Chain::Send ? sendChain : downloadChain;
    }
    // Runs a whole chain and waits until the window has handled its last answer; `first`
    // are the commands the box receives before the chain's own.
    void RunChain(Chain chain, const Codes& first = {}) {
        Click(chain);
        Codes expected = first;
        expected.insert(expected.end(), Expected(chain).begin(), Expected(chain).end());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return box->Received().size() >= expected.size() && form->Vars().Awaiting == 0; },
            30000))
            << "the chain stalled after " << box->Received().size() << " commands, "
            << form->Vars().RxPos << " bytes collected, " << form->ApdComPort1->BytesAvailable()
            << " left unread in the port";
        EXPECT_EQ(Received(), expected);
    }
    // What a send reads of the box before it writes, when this connection has not read it.
    Codes CopyRead() const {
        if (serial[0] == '3') {
            return {Cmd::ReadSerial, Cmd::ReadImage3, Cmd::ReadConfig3, Cmd::ReadStartTime,
                    Cmd::ReadPedal};
        }
        return {Cmd::ReadSerial, Cmd::ReadImage2, Cmd::ReadConfig2, Cmd::ReadStartTime};
    }
    // Waits until the box has received `codes`, then a moment more in which the window
    // could write a further command if it were going to.
    void ExpectChainStandsAfter(const Codes& codes) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return box->Received().size() >= codes.size(); }, 10000));
        QTest::qWait(100);
        EXPECT_EQ(Received(), codes);
    }

    // A queued call runs: the event loop turns.
    bool Responsive() const {
        auto ran = std::make_shared<bool>(false);
        QTimer::singleShot(0, form.get(), [ran] { *ran = true; });
        return QTest::qWaitFor([ran] { return *ran; }, 2000);
    }
    // Processor time of the whole process over a quiet half second of the event loop.
    double ProcessorSecondsOverHalfASecond() const {
        const std::clock_t start = std::clock();
        QTest::qWait(500);
        return double(std::clock() - start) / CLOCKS_PER_SEC;
    }

    void ExpectConnectedState() const {
        EXPECT_TRUE(form->ApdComPort1->IsOpen());
        EXPECT_EQ(form->Shape1->BrushColor(), clLime);
        EXPECT_EQ(form->ButtonConnect->text(), "Disconnect");
    }
    void ExpectDisconnectedState() const {
        EXPECT_FALSE(form->ApdComPort1->IsOpen());
        EXPECT_EQ(form->Shape1->BrushColor(), clRed);
        EXPECT_EQ(form->ButtonConnect->text(), "Connect");
        EXPECT_TRUE(form->ButtonConnect->isEnabled());
        EXPECT_FALSE(form->ButtonDownload->isEnabled());
        EXPECT_FALSE(form->ButtonSend->isEnabled());
        EXPECT_FALSE(form->ButtonDynoLog->isEnabled());
    }

    Snapshot Snap() const {
        Snapshot s;
        s[kSerialPart] = {form->LabelSerial->text().toStdString(),
                          form->EditNewSerial->text().toStdString()};
        s[kImagePart] = AllProgramTexts(*form);
        AppendCells(s[kImagePart], *form->StrGridDynoLog, 0, 0);
        int marked = -1;
        for (int n = 0; n <= 9; ++n) {
            if (form->ButtonP[n]->palette().color(QPalette::ButtonText) == Qt::blue) marked = n;
        }
        s[kProgramPart] = {std::to_string(marked)};
        AppendCells(s[kConfigPart], *form->StrGridConfig);
        s[kStartPart] = {form->NumBoxStartTime->text().toStdString()};
        s[kPedalPart] = {std::to_string(form->ComboBoxPedalRes->currentIndex())};
        AppendCells(s[kSentPart], *form->StrGridSDdata);
        s[kSentPart].push_back(form->StaticText1->text().toStdString());
        return s;
    }

    // A download that stood still at step `step` of the chain shows the new box's values
    // from the steps before it and the previous ones from there on: nothing is half-done.
    void ExpectStoppedAtStep(const Snapshot& stopped, const Snapshot& before, const Snapshot& after,
                             size_t step) const {
        for (int part = 0; part < kParts; ++part) {
            const bool filled = static_cast<size_t>(part) < step;
            SCOPED_TRACE(kPartNames[part]);
            EXPECT_TRUE(SamePart(stopped, filled ? after : before, part));
            if (static_cast<size_t>(part) < downloadChain.size()) {
                EXPECT_FALSE(SamePart(after, before, part)) << "the new box holds other values";
            } else {
                EXPECT_TRUE(SamePart(after, before, part)) << "not this edition's";
            }
        }
    }

    // Changes the tables that "Send" writes: a cell in two programs, the configuration,
    // the start time and, on a 3-channel box, the pedal response.
    void EditTables() const {
        form->ProgramGrid(3, PT::CH2).SetCell(5, 1, "-1234");
        form->ProgramGrid(7, PT::CH1).SetCell(16, 3, "4321");
        form->GridByName(Grid::StrGridConfig).SetCell(0, 0, "7");
        form->NumBoxStartTime->setValue(6);
        if (ThreeChannel(serial)) form->ComboBoxPedalRes->setCurrentIndex(2);
    }

    void Begin(const FaultRow& row) {
        serial = row.serial;
        downloadChain = CodesOf(DownloadChain(EditionOf(serial)));
        sendChain = CodesOf(SendChain(EditionOf(serial)));
        StartBox(serial);
    }

    std::string serial;
    Codes downloadChain;
    Codes sendChain;
    std::unique_ptr<TempDir> linkDir;
    std::unique_ptr<BoxSimulator> box;
    std::unique_ptr<TForm1> form;
    QString port;
    QStringList errors;
};

// ---------------------------------------------------------------------------------------
// The box stops answering at one command: the chain stands still there, no message, the
// window keeps working and a later run of the chain completes.

FaultRow Silence(const char* name, const char* serial, Chain chain, uint8_t code,
                 bool buttonsEnabled, const char* sees) {
    return {.name = name,
            .serial = serial,
            .chain = chain,
            .faults = SilentFrom(code),
            .stopsAt = code,
            .buttonsEnabled = buttonsEnabled,
            .sees = sees};
}

const FaultRow kSilenceRows[] = {
    Silence("Download2_SerialReport", kSerial2, Chain::Download, Cmd::ReadSerial, true,
            "nothing changes; every table keeps the previous box's values"),
    Silence("Download2_Image", kSerial2, Chain::Download, Cmd::ReadImage2, true,
            "the new serial number shows; the program tables keep their values"),
    Silence("Download2_RunningProgram", kSerial2, Chain::Download, Cmd::ReadProgram, true,
            "new serial number and tables; marker, configuration and start time as before"),
    Silence("Download2_Config", kSerial2, Chain::Download, Cmd::ReadConfig2, true,
            "all new up to the program marker; configuration and start time as before"),
    Silence("Download2_StartTime", kSerial2, Chain::Download, Cmd::ReadStartTime, true,
            "all new but the start time"),
    Silence("Download3_SerialReport", kSerial3, Chain::Download, Cmd::ReadSerial, true,
            "nothing changes; every table keeps the previous box's values"),
    Silence("Download3_Image", kSerial3, Chain::Download, Cmd::ReadImage3, true,
            "the new serial number shows; the program tables keep their values"),
    Silence("Download3_RunningProgram", kSerial3, Chain::Download, Cmd::ReadProgram, true,
            "new serial number and tables; the rest as before"),
    Silence("Download3_ConfigRow", kSerial3, Chain::Download, Cmd::ReadConfig3, true,
            "all new up to the program marker; configuration row onwards as before"),
    Silence("Download3_StartTime", kSerial3, Chain::Download, Cmd::ReadStartTime, true,
            "new up to the configuration; start time, pedal and SENT data as before"),
    Silence("Download3_Pedal", kSerial3, Chain::Download, Cmd::ReadPedal, true,
            "new up to the start time; pedal response and SENT data as before"),
    Silence("Download3_SentData", kSerial3, Chain::Download, Cmd::ReadSentData, true,
            "all new but the SENT data"),
    Silence("Send2_SerialNumber", kSerial2, Chain::Send, Cmd::WriteSerial, false,
            "Download and Send disabled until the ACK is overdue; tables as edited"),
    Silence(
        "Send2_Image", kSerial2, Chain::Send, Cmd::WriteImage2, false,
        "the image goes out unacknowledged; Download and Send disabled until the ACK is overdue"),
    Silence("Send2_ConfigByte", kSerial2, Chain::Send, Cmd::WriteConfig2, true,
            "Download and Send usable again; the start time is not written"),
    Silence("Send2_StartTime", kSerial2, Chain::Send, Cmd::WriteStartTime, true,
            "everything written, nothing read back"),
    Silence("Send2_ReadBack", kSerial2, Chain::Send, Cmd::ReadSerial, true,
            "everything written; the read-back shows nothing new"),
    Silence("Send3_SerialNumber", kSerial3, Chain::Send, Cmd::WriteSerial, false,
            "Download and Send disabled until the ACK is overdue; tables as edited"),
    Silence(
        "Send3_Image", kSerial3, Chain::Send, Cmd::WriteImage3, false,
        "the image goes out unacknowledged; Download and Send disabled until the ACK is overdue"),
    Silence("Send3_ConfigRow", kSerial3, Chain::Send, Cmd::WriteConfig3, true,
            "Download and Send usable again; start time and pedal are not written"),
    Silence("Send3_StartTime", kSerial3, Chain::Send, Cmd::WriteStartTime, true,
            "the pedal response is not written"),
    Silence("Send3_Pedal", kSerial3, Chain::Send, Cmd::WritePedal, true,
            "everything written, nothing read back"),
    Silence("Send3_ReadBack", kSerial3, Chain::Send, Cmd::ReadSerial, true,
            "everything written; the read-back shows nothing new"),
};

class ChainStops : public FaultMatrix, public testing::WithParamInterface<FaultRow> {};

TEST_P(ChainStops, WhereTheBoxFallsSilent) {
    const FaultRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(Begin(row));
    ASSERT_NO_FATAL_FAILURE(ConnectTo(port));
    ASSERT_NO_FATAL_FAILURE(RunChain(Chain::Download));
    const Snapshot before = Snap();
    Snapshot edited;
    if (row.chain == Chain::Send) {
        EditTables();
        edited = Snap();
    } else {
        box->SetContents(OtherContents(serial));
    }

    box->SetFaults(row.faults);
    Click(row.chain);
    const Codes through = ChainThrough(Expected(row.chain), row.stopsAt);
    ASSERT_NO_FATAL_FAILURE(ExpectChainStandsAfter(through));
    // The state before the answer is overdue; a machine so slow that the deadline has passed
    // already (the sanitizers' build on a loaded machine) shows only the state after it.
    if (form->Vars().Awaiting != 0) {
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
        EXPECT_EQ(form->ButtonDownload->isEnabled(), row.buttonsEnabled);
        EXPECT_EQ(form->ButtonSend->isEnabled(), row.buttonsEnabled);
    }
    EXPECT_TRUE(Responsive());
    ExpectConnectedState();
    const Snapshot stopped = Snap();

    // Once the missing answer is overdue: one message that names it, the chain stays where it
    // stopped, both buttons are usable, and the connection stays open.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.isEmpty(); }, 5000))
        << "no message when the answer was overdue";
    ASSERT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
    const QString what = QString::fromLatin1(FindCommand(row.stopsAt)->what);
    // A send that stops after its first write says what the box may hold, not the port.
    const QString after = row.chain == Chain::Download ? QStringLiteral(
                                                             "Check that the right port is chosen "
                                                             "and that the box is powered\\.$")
                          : IsSendWrite(row.stopsAt)
                              ? QStringLiteral(
                                    "The box may be half-written: .* may or may not "
                                    "have been stored.* What it held before the send "
                                    "is in the backup \".*/backups/%1-.*\\.bin\": "
                                    "open that file and send it to restore the box, "
                                    "or send again\\.$")
                                    .arg(QString::fromStdString(serial))
                              : QStringLiteral(
                                    "The box took every value of the send, but its "
                                    "read-back did not come, so the send is not "
                                    "verified\\. Download to check what the box "
                                    "holds\\.$");
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^The box did not answer %1 within \\d\\.\\d s\\. ")
                               .arg(QRegularExpression::escape(what)) +
                           after)
            .match(errors[0])
            .hasMatch())
        << errors[0].toStdString();
    const bool halfWritten = row.chain == Chain::Send && IsSendWrite(row.stopsAt);
    EXPECT_EQ(form->StatusBar1->currentMessage().endsWith(Connection::kHalfWrittenText),
              halfWritten)
        << form->StatusBar1->currentMessage().toStdString();
    EXPECT_EQ(Received(), through);
    EXPECT_TRUE(form->ButtonDownload->isEnabled());
    EXPECT_TRUE(form->ButtonSend->isEnabled());
    ExpectConnectedState();
    EXPECT_EQ(form->Vars().RxPos, 0);
    for (int part = 0; part < kParts; ++part) EXPECT_TRUE(SamePart(Snap(), stopped, part));
    errors.clear();

    // The box answers again: the chain runs whole without a reconnect.
    box->SetFaults({});
    ASSERT_NO_FATAL_FAILURE(RunChain(row.chain));
    if (row.chain == Chain::Send) {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return form->StatusBar1->currentMessage() == "Sent and verified."; }, 2000))
            << "a whole send ends the half-written state: "
            << form->StatusBar1->currentMessage().toStdString();
        for (int part = 0; part < kParts; ++part) {
            SCOPED_TRACE(kPartNames[part]);
            EXPECT_TRUE(SamePart(stopped, edited, part));
            EXPECT_TRUE(SamePart(Snap(), edited, part)) << "the read-back shows what was sent";
        }
        EXPECT_FALSE(SamePart(edited, before, kImagePart));
    } else {
        const auto step =
            static_cast<size_t>(std::find(downloadChain.begin(), downloadChain.end(), row.stopsAt) -
                                downloadChain.begin());
        ExpectStoppedAtStep(stopped, before, Snap(), step);
    }
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(FaultSilence, ChainStops, testing::ValuesIn(kSilenceRows), RowName);

// ---------------------------------------------------------------------------------------
// Noise on the line that the tool must see through: bytes before every answer, answers in
// pieces. The download gives the same window as a clean one.

FaultRow Noise(const char* name, const char* serial, Chain chain, BoxSimFaults faults,
               const char* sees) {
    return {.name = name, .serial = serial, .chain = chain, .faults = faults, .sees = sees};
}

// Each row downloads, then sends (with the read-back) under the fault. None of the garbage
// bytes starts an answer of either chain: 0x15 starts a live message, which nobody asked
// for here; 0x28 and 0x65 are command codes.
const FaultRow kGarbageRows[] = {
    Noise("Box2_1x00", kSerial2, Chain::Send, Garbage(1, 0x00),
          "download and send complete as on a clean line"),
    Noise("Box2_2xFF", kSerial2, Chain::Send, Garbage(2, 0xFF),
          "download and send complete as on a clean line"),
    Noise("Box2_3x15", kSerial2, Chain::Send, Garbage(3, Cmd::LiveData),
          "stray live-message codes are ignored; download and send complete"),
    Noise("Box2_4x28", kSerial2, Chain::Send, Garbage(4, Cmd::WriteSerial),
          "download and send complete as on a clean line"),
    Noise("Box2_5xEE", kSerial2, Chain::Send, Garbage(5, 0xEE),
          "download and send complete as on a clean line"),
    Noise("Box3_1xEE", kSerial3, Chain::Send, Garbage(1, 0xEE),
          "download and send complete as on a clean line"),
    Noise("Box3_2x15", kSerial3, Chain::Send, Garbage(2, Cmd::LiveData),
          "stray live-message codes are ignored; download and send complete"),
    Noise("Box3_3x00", kSerial3, Chain::Send, Garbage(3, 0x00),
          "download and send complete as on a clean line"),
    Noise("Box3_4xFF", kSerial3, Chain::Send, Garbage(4, 0xFF),
          "download and send complete as on a clean line"),
    Noise("Box3_5x65", kSerial3, Chain::Send, Garbage(5, Cmd::WriteImage3),
          "download and send complete as on a clean line"),
    // Bytes right behind every answer reach the tool in the same read as its end: each ACK
    // of the send chain comes merged with the next byte.
    Noise("Box2_AckMergedWith1x00", kSerial2, Chain::Send, Trailing(1, 0x00),
          "every ACK counts although a byte follows it; download and send complete"),
    Noise("Box3_AckMergedWith2xEE", kSerial3, Chain::Send, Trailing(2, 0xEE),
          "every ACK counts although bytes follow it; download and send complete"),
};

// The assembler's tests split a recorded session at every offset in memory; over the
// real port a sample of piece sizes, each piece a read of its own.
const FaultRow kChunkRows[] = {
    Noise("Box2_1", kSerial2, Chain::Download, Chunks(1), "same tables as a whole download"),
    Noise("Box2_2", kSerial2, Chain::Download, Chunks(2), "same tables as a whole download"),
    Noise("Box2_3", kSerial2, Chain::Download, Chunks(3), "same tables as a whole download"),
    Noise("Box2_7", kSerial2, Chain::Download, Chunks(7), "same tables as a whole download"),
    Noise("Box2_13", kSerial2, Chain::Download, Chunks(13), "same tables as a whole download"),
    Noise("Box2_32", kSerial2, Chain::Download, Chunks(32), "same tables as a whole download"),
    Noise("Box2_100", kSerial2, Chain::Download, Chunks(100), "same tables as a whole download"),
    Noise("Box2_1000", kSerial2, Chain::Download, Chunks(1000), "same tables as a whole download"),
    Noise("Box3_1", kSerial3, Chain::Download, Chunks(1), "same tables as a whole download"),
    Noise("Box3_2", kSerial3, Chain::Download, Chunks(2), "same tables as a whole download"),
    Noise("Box3_3", kSerial3, Chain::Download, Chunks(3), "same tables as a whole download"),
    Noise("Box3_7", kSerial3, Chain::Download, Chunks(7), "same tables as a whole download"),
    Noise("Box3_13", kSerial3, Chain::Download, Chunks(13), "same tables as a whole download"),
    Noise("Box3_32", kSerial3, Chain::Download, Chunks(32), "same tables as a whole download"),
    Noise("Box3_100", kSerial3, Chain::Download, Chunks(100), "same tables as a whole download"),
    Noise("Box3_1000", kSerial3, Chain::Download, Chunks(1000), "same tables as a whole download"),
    // Pieces far enough apart for each to be a read of its own, and a stray byte before
    // each answer: from the end of the image to the end of the SENT data, 65 reads.
    Noise("Box3_7_AfterGarbage", kSerial3, Chain::Download, Chunks(7, 2ms, 1),
          "same tables as a whole download"),
};

class NoiseIgnored : public FaultMatrix, public testing::WithParamInterface<FaultRow> {};

TEST_P(NoiseIgnored, DownloadAsOnACleanLine) {
    const FaultRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(Begin(row));
    ASSERT_NO_FATAL_FAILURE(ConnectTo(port));
    box->SetFaults(row.faults);
    ASSERT_NO_FATAL_FAILURE(RunChain(Chain::Download));
    const Snapshot noisy = Snap();
    box->SetFaults({});
    ASSERT_NO_FATAL_FAILURE(RunChain(Chain::Download));
    const Snapshot clean = Snap();
    for (int part = 0; part < kParts; ++part) {
        SCOPED_TRACE(kPartNames[part]);
        EXPECT_TRUE(SamePart(noisy, clean, part));
    }
    EXPECT_EQ(form->LabelSerial->text().toStdString(), SerialLabelText(box->Contents().serial));

    if (row.chain == Chain::Send) {
        box->SetFaults(row.faults);
        EditTables();
        const Snapshot edited = Snap();
        ASSERT_NO_FATAL_FAILURE(RunChain(Chain::Send));
        for (int part = 0; part < kParts; ++part) {
            SCOPED_TRACE(kPartNames[part]);
            EXPECT_TRUE(SamePart(Snap(), edited, part)) << "the read-back shows what was sent";
        }
    }
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(FaultGarbage, NoiseIgnored, testing::ValuesIn(kGarbageRows), RowName);
INSTANTIATE_TEST_SUITE_P(FaultChunks, NoiseIgnored, testing::ValuesIn(kChunkRows), RowName);

// ---------------------------------------------------------------------------------------
// Answers held back until the box lets go. The link is half-duplex and one exchange runs
// at a time: while the held answer is still due, a second "Download" writes nothing.

const char* const kHeldDownloadSees =
    "Download seems to do nothing; pressed again, it says that the box is still answering "
    "and writes nothing; the download completes once the box lets go";
const char* const kHeldSendSees =
    "Send seems to do nothing, Download and Send disabled; once the box lets go the send "
    "completes and reads back what was sent";

const FaultRow kMergeRows[] = {
    {.name = "Download2",
     .serial = kSerial2,
     .chain = Chain::Download,
     .faults = Merged(2),
     .stopsAt = Cmd::ReadSerial,
     .sees = kHeldDownloadSees},
    {.name = "Download3",
     .serial = kSerial3,
     .chain = Chain::Download,
     .faults = Merged(2),
     .stopsAt = Cmd::ReadSerial,
     .sees = kHeldDownloadSees},
    {.name = "Send2",
     .serial = kSerial2,
     .chain = Chain::Send,
     .faults = Merged(2),
     .stopsAt = Cmd::WriteSerial,
     .buttonsEnabled = false,
     .sees = kHeldSendSees},
    {.name = "Send3",
     .serial = kSerial3,
     .chain = Chain::Send,
     .faults = Merged(2),
     .stopsAt = Cmd::WriteSerial,
     .buttonsEnabled = false,
     .sees = kHeldSendSees},
};

class HeldAnswers : public FaultMatrix, public testing::WithParamInterface<FaultRow> {};

TEST_P(HeldAnswers, NeitherHangNorCorrupt) {
    const FaultRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(Begin(row));
    ASSERT_NO_FATAL_FAILURE(ConnectTo(port));
    ASSERT_NO_FATAL_FAILURE(RunChain(Chain::Download));
    const Snapshot before = Snap();
    if (row.chain == Chain::Send) {
        EditTables();
    } else {
        box->SetContents(OtherContents(serial));
    }
    const Snapshot edited = Snap();

    box->SetFaults(row.faults);
    Click(row.chain);
    ASSERT_NO_FATAL_FAILURE(ExpectChainStandsAfter({row.stopsAt}));
    EXPECT_TRUE(Responsive());
    EXPECT_EQ(form->ButtonDownload->isEnabled(), row.buttonsEnabled);
    for (int part = 0; part < kParts; ++part) {
        SCOPED_TRACE(kPartNames[part]);
        EXPECT_TRUE(SamePart(Snap(), edited, part));
    }

    const Codes expected = Expected(row.chain);
    if (row.chain == Chain::Download) {
        // A box that is slow to answer is still within its time.
        form->Vars().AnswerDue = std::chrono::steady_clock::now() + 30s;
        form->ButtonDownload->click();
        ASSERT_EQ(errors.size(), 1);
        EXPECT_EQ(errors.takeFirst(), kBoxStillAnswering);
        QTest::qWait(100);
        EXPECT_EQ(Received(), Codes{Cmd::ReadSerial}) << "the second Download wrote nothing";
        for (int part = 0; part < kParts; ++part) {
            SCOPED_TRACE(kPartNames[part]);
            EXPECT_TRUE(SamePart(Snap(), edited, part));
        }
    }

    // The box lets go of what it holds; the chain runs on by itself.
    box->SetFaults({});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return box->Received().size() >= expected.size() && form->Vars().Awaiting == 0; },
        10000));
    EXPECT_EQ(Received(), expected);
    const Snapshot released = Snap();
    if (row.chain == Chain::Send) {
        for (int part = 0; part < kParts; ++part) {
            SCOPED_TRACE(kPartNames[part]);
            EXPECT_TRUE(SamePart(released, edited, part));
        }
    } else {
        ASSERT_NO_FATAL_FAILURE(RunChain(Chain::Download));
        ExpectStoppedAtStep(released, before, Snap(), downloadChain.size());
    }
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(FaultMerged, HeldAnswers, testing::ValuesIn(kMergeRows), RowName);

// ---------------------------------------------------------------------------------------
// The box hangs up in the middle of an answer and comes back on another port.

const char* const kLostSees =
    "disconnected state and one message that the connection was lost; the tables keep "
    "what had arrived whole";

FaultRow HangUp(const char* name, const char* serial, uint8_t code) {
    return {.name = name,
            .serial = serial,
            .faults = HangUpIn(code, FindCommand(code)->answerLength / 2),
            .stopsAt = code,
            .sees = kLostSees};
}

const FaultRow kHangUpRows[] = {
    HangUp("Box2_SerialReport", kSerial2, Cmd::ReadSerial),
    HangUp("Box2_Image", kSerial2, Cmd::ReadImage2),
    HangUp("Box2_RunningProgram", kSerial2, Cmd::ReadProgram),
    HangUp("Box2_ConfigByte", kSerial2, Cmd::ReadConfig2),
    HangUp("Box2_StartTime", kSerial2, Cmd::ReadStartTime),
    HangUp("Box3_SerialReport", kSerial3, Cmd::ReadSerial),
    HangUp("Box3_Image", kSerial3, Cmd::ReadImage3),
    HangUp("Box3_RunningProgram", kSerial3, Cmd::ReadProgram),
    HangUp("Box3_ConfigRow", kSerial3, Cmd::ReadConfig3),
    HangUp("Box3_StartTime", kSerial3, Cmd::ReadStartTime),
    HangUp("Box3_Pedal", kSerial3, Cmd::ReadPedal),
    HangUp("Box3_SentData", kSerial3, Cmd::ReadSentData),
    // An ACK has one byte: the box hangs up instead of acknowledging the serial number.
    {.name = "Box2_SerialNumberAck",
     .serial = kSerial2,
     .chain = Chain::Send,
     .faults = HangUpIn(ACK, 0),
     .stopsAt = Cmd::WriteSerial,
     .sees = kLostSees},
    {.name = "Box3_SerialNumberAck",
     .serial = kSerial3,
     .chain = Chain::Send,
     .faults = HangUpIn(ACK, 0),
     .stopsAt = Cmd::WriteSerial,
     .sees = kLostSees},
    // The box acknowledges the serial number and hangs up while the tool writes the image.
    {.name = "Box2_DuringImageUpload",
     .serial = kSerial2,
     .chain = Chain::Send,
     .faults = HangUpIn(ACK, 1),
     .stopsAt = Cmd::WriteImage2,
     .cutWhileWriting = true,
     .sees = kLostSees},
    {.name = "Box3_DuringImageUpload",
     .serial = kSerial3,
     .chain = Chain::Send,
     .faults = HangUpIn(ACK, 1),
     .stopsAt = Cmd::WriteImage3,
     .cutWhileWriting = true,
     .sees = kLostSees},
};

class LostConnection : public FaultMatrix, public testing::WithParamInterface<FaultRow> {};

TEST_P(LostConnection, DisconnectsOnceAndConnectsToTheNewPort) {
    const FaultRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(Begin(row));
    ASSERT_NO_FATAL_FAILURE(ConnectTo(port));
    ASSERT_NO_FATAL_FAILURE(RunChain(Chain::Download));
    const Snapshot before = Snap();
    Snapshot edited;
    if (row.chain == Chain::Send) {
        EditTables();
        edited = Snap();
    } else {
        box->SetContents(OtherContents(serial));
    }

    box->SetFaults(row.faults);
    Click(row.chain);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->ApdComPort1->IsOpen(); }, 10000))
        << "the window still shows a connection";
    const Codes through = ChainThrough(Expected(row.chain), row.stopsAt);
    if (row.cutWhileWriting) {
        const Codes received = Received();
        EXPECT_TRUE(received.size() + 1 >= through.size() && received.size() <= through.size() &&
                    std::equal(received.begin(), received.end(), through.begin()))
            << testing::PrintToString(received);
    } else {
        EXPECT_EQ(Received(), through);
    }
    ExpectDisconnectedState();
    ASSERT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
    EXPECT_TRUE(errors[0].startsWith("The connection to the box was lost"))
        << errors[0].toStdString();
    // The reason names what failed, not a system error left over from an earlier call:
    // the modem lines that a pseudo-terminal refuses at open, a file looked up elsewhere.
    for (const int stale : {ENOTTY, ENOENT}) {
        EXPECT_FALSE(errors[0].contains(QString::fromLocal8Bit(std::strerror(stale))))
            << errors[0].toStdString();
    }
    const double cpu = ProcessorSecondsOverHalfASecond();
    EXPECT_LT(cpu, 0.25) << "processor seconds in a quiet half second after the hang-up";
    EXPECT_TRUE(Responsive());
    EXPECT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
    const Snapshot stopped = Snap();

    ASSERT_TRUE(QTest::qWaitFor([&] { return !box->PortPath().empty(); }, 5000))
        << "the box did not come back";
    // A pseudo-terminal named as such is never opened again by itself: its number may come
    // back as another program's terminal.
    EXPECT_FALSE(form->BoxConnection().Reconnecting());
    const QString newPort = QString::fromStdString(box->PortPath());
    ASSERT_NO_FATAL_FAILURE(PickFromList(newPort));
    form->ButtonConnect->click();
    ASSERT_TRUE(form->ApdComPort1->IsOpen()) << errors.join('\n').toStdString();
    ExpectConnectedState();
    EXPECT_EQ(form->LabelConnPort->text().toInt(), TApdComPort::NumberAtEnd(newPort));
    // A send on the new connection reads the box first, for its backup.
    ASSERT_NO_FATAL_FAILURE(RunChain(row.chain, row.chain == Chain::Send ? CopyRead() : Codes{}));
    if (row.chain == Chain::Send) {
        for (int part = 0; part < kParts; ++part) {
            SCOPED_TRACE(kPartNames[part]);
            EXPECT_TRUE(SamePart(stopped, edited, part));
            EXPECT_TRUE(SamePart(Snap(), edited, part));
        }
    } else {
        const auto step =
            static_cast<size_t>(std::find(downloadChain.begin(), downloadChain.end(), row.stopsAt) -
                                downloadChain.begin());
        ExpectStoppedAtStep(stopped, before, Snap(), step);
    }
    EXPECT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(FaultHangUp, LostConnection, testing::ValuesIn(kHangUpRows), RowName);

// ---------------------------------------------------------------------------------------
// The box hangs up and comes back under the same name, as a USB adapter does under its
// by-id link: the tool opens the port again by itself, keeps the tables and sends nothing
// until the user asks.

const char* const kBackSees =
    "one message that the connection was lost; the port opens again by itself; tables kept; "
    "nothing sent until asked";

FaultRow ComesBack(const char* name, const char* serial, Chain chain, uint8_t code, size_t after) {
    return {.name = name,
            .serial = serial,
            .chain = chain,
            .faults = HangUpIn(code, after),
            .sees = kBackSees};
}

const FaultRow kComeBackRows[] = {
    ComesBack("Box2_InTheImage", kSerial2, Chain::Download, Cmd::ReadImage2, 1000),
    ComesBack("Box3_InTheImage", kSerial3, Chain::Download, Cmd::ReadImage3, 1000),
    ComesBack("Box3_InsteadOfTheSerialNumberAck", kSerial3, Chain::Send, ACK, 0),
};

class PortComesBack : public FaultMatrix, public testing::WithParamInterface<FaultRow> {};

TEST_P(PortComesBack, ReconnectsByItselfAndKeepsTheTables) {
    const FaultRow& row = GetParam();
    linkDir = std::make_unique<TempDir>();
    ASSERT_NO_FATAL_FAILURE(Begin(row));
    ASSERT_NO_FATAL_FAILURE(ConnectTo(port));
    ASSERT_NO_FATAL_FAILURE(RunChain(Chain::Download));
    EXPECT_TRUE(form->StatusBar1->currentMessage().startsWith("Connected to " + port))
        << form->StatusBar1->currentMessage().toStdString();
    if (row.chain == Chain::Send) {
        EditTables();
    } else {
        box->SetContents(OtherContents(serial));
    }
    box->SetFaults(row.faults);
    Click(row.chain);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->ApdComPort1->IsOpen(); }, 10000));
    ExpectDisconnectedState();
    ASSERT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
    EXPECT_TRUE(form->StatusBar1->currentMessage().startsWith("Connection lost:"))
        << form->StatusBar1->currentMessage().toStdString();
    const Snapshot stopped = Snap();

    ASSERT_TRUE(QTest::qWaitFor([&] { return !box->PortPath().empty(); }, 5000))
        << "the box did not come back";
    box->ClearLogs();
    ASSERT_EQ(PlugIn(), port) << "the same name, now leading to the new pseudo-terminal";
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->ApdComPort1->IsOpen(); }, 5000))
        << form->StatusBar1->currentMessage().toStdString();
    ExpectConnectedState();
    EXPECT_TRUE(form->ButtonDownload->isEnabled());
    EXPECT_TRUE(form->ButtonSend->isEnabled());
    EXPECT_TRUE(form->StatusBar1->currentMessage().startsWith("Reconnected to " + port))
        << form->StatusBar1->currentMessage().toStdString();
    for (int part = 0; part < kParts; ++part) EXPECT_TRUE(SamePart(Snap(), stopped, part));
    // The box behind the port is read, its serial number only; nothing is written.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return form->StatusBar1->currentMessage() ==
                   QStringLiteral("Reconnected to %1: box %2 is back. Nothing was sent.")
                       .arg(port, QString::fromStdString(box->Contents().serial));
        },
        2000))
        << form->StatusBar1->currentMessage().toStdString();
    QTest::qWait(200);
    EXPECT_EQ(Received(), Codes{Cmd::ReadSerial}) << "nothing is written until the user asks";
    EXPECT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
    for (int part = 0; part < kParts; ++part) EXPECT_TRUE(SamePart(Snap(), stopped, part));

    // A send reads the box first, on this connection, for its backup.
    box->SetFaults({});
    ASSERT_NO_FATAL_FAILURE(RunChain(row.chain, row.chain == Chain::Send ? CopyRead() : Codes{}));
    EXPECT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(FaultComesBack, PortComesBack, testing::ValuesIn(kComeBackRows), RowName);

// ---------------------------------------------------------------------------------------
// The port cannot be opened: another program holds it, or it vanished after the list was
// built.

const FaultRow kPortRows[] = {
    {.name = "Box2_Taken",
     .serial = kSerial2,
     .faults = {},
     .port = PortTrouble::Taken,
     .reason = "in use|busy",
     .sees = "a message that the port cannot be opened because it is in use; "
             "disconnected; Connect works once the other program lets go"},
    {.name = "Box3_Taken",
     .serial = kSerial3,
     .faults = {},
     .port = PortTrouble::Taken,
     .reason = "in use|busy",
     .sees = "a message that the port cannot be opened because it is in use; "
             "disconnected; Connect works once the other program lets go"},
    {.name = "Box2_Gone",
     .serial = kSerial2,
     .faults = {},
     .port = PortTrouble::Gone,
     .reason = "no such file|not found|does not exist",
     .sees = "a message that the port cannot be opened because it does not exist; "
             "disconnected; the box plugged in again is listed and connects"},
    {.name = "Box3_Gone",
     .serial = kSerial3,
     .faults = {},
     .port = PortTrouble::Gone,
     .reason = "no such file|not found|does not exist",
     .sees = "a message that the port cannot be opened because it does not exist; "
             "disconnected; the box plugged in again is listed and connects"},
};

class PortRefused : public FaultMatrix, public testing::WithParamInterface<FaultRow> {};

TEST_P(PortRefused, MessageThenConnectsLater) {
    const FaultRow& row = GetParam();
    if (row.port == PortTrouble::Gone) linkDir = std::make_unique<TempDir>();
    ASSERT_NO_FATAL_FAILURE(Begin(row));
    // The list built at start-up offers the box.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->ComboBoxComPorts->findText(port) >= 0; }, 5000));
    const int index = form->ComboBoxComPorts->findText(port);
    form->ComboBoxComPorts->setCurrentIndex(index);
    emit form->ComboBoxComPorts->activated(index);

    QSerialPort other(port);
    if (row.port == PortTrouble::Taken) {
        ASSERT_TRUE(other.open(QIODevice::ReadWrite)) << other.errorString().toStdString();
    } else {
        Unplug();
    }
    form->ButtonConnect->click();
    ASSERT_EQ(errors.size(), 1);
    const QString prefix = QStringLiteral("Cannot open port \"%1\": ").arg(port);
    EXPECT_TRUE(errors[0].startsWith(prefix)) << errors[0].toStdString();
    const QRegularExpression reason(row.reason, QRegularExpression::CaseInsensitiveOption);
    EXPECT_TRUE(reason.match(errors[0].mid(prefix.size())).hasMatch())
        << "the reason should match \"" << row.reason << "\": " << errors[0].toStdString();
    ExpectDisconnectedState();
    EXPECT_TRUE(Responsive());

    if (row.port == PortTrouble::Taken) {
        other.close();
    } else {
        ASSERT_TRUE(box->Start()) << box->LastError();
        port = PlugIn();
        ASSERT_NO_FATAL_FAILURE(PickFromList(port));
    }
    form->ButtonConnect->click();
    ASSERT_TRUE(form->ApdComPort1->IsOpen()) << errors.join('\n').toStdString();
    ExpectConnectedState();
    ASSERT_NO_FATAL_FAILURE(RunChain(Chain::Download));
    EXPECT_EQ(form->LabelSerial->text().toStdString(), SerialLabelText(serial));
    EXPECT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(FaultPort, PortRefused, testing::ValuesIn(kPortRows), RowName);

}  // namespace

namespace {

// The port comes back with another box behind it: the tool reads that box's serial number
// (a read, nothing written) and says so. A send of tables that came from the first box asks
// first, naming both, and writes nothing on No; on Yes the backup is of the box written,
// read on this connection, not of the first box.
TEST_F(FaultMatrix, AnotherBoxBehindAPortThatCameBackIsNamedAndAskedFor) {
    QTemporaryDir data;
    const DataHome dataHome(data.path());
    QStringList questions;
    bool answer = false;
    SetQuestionPresenter([&](const QString&, const QString& question) {
        questions << question;
        return answer;
    });
    linkDir = std::make_unique<TempDir>();
    serial = "31234567";
    StartBox(serial);
    ASSERT_NO_FATAL_FAILURE(ConnectTo(port));
    downloadChain = CodesOf(DownloadChain('3'));
    sendChain = CodesOf(SendChain('3'));
    ASSERT_NO_FATAL_FAILURE(RunChain(Chain::Download));
    EditTables();

    // Unplugged; another box comes back under the same link.
    Unplug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->ApdComPort1->IsOpen(); }, 5000));
    const BoxContents other = OtherContents(serial);
    box->SetContents(other);
    box->ClearLogs();
    ASSERT_TRUE(box->Start()) << box->LastError();
    ASSERT_EQ(PlugIn(), port);
    const QString said = QStringLiteral(
                             "Another box is behind %1 now: 30098765, before 31234567. Download "
                             "it before you send.")
                             .arg(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->StatusBar1->currentMessage() == said; }, 5000))
        << form->StatusBar1->currentMessage().toStdString();
    EXPECT_EQ(errors.constLast(), said);
    EXPECT_EQ(Received(), Codes{Cmd::ReadSerial}) << "only its serial number was read";
    EXPECT_EQ(form->LabelSerial->text(), "BOX serial: 31234567 (Stellix)") << "the tables' box";

    // Send: the box is read aside for its copy, then the question; No writes nothing.
    box->ClearLogs();
    form->ButtonSend->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !questions.isEmpty(); }, 5000));
    EXPECT_TRUE(
        questions[0].contains("The tables come from box 31234567, but box 30098765 is "
                              "behind " +
                              port))
        << questions[0].toStdString();
    QTest::qWait(200);
    EXPECT_EQ(Received(), CopyRead());
    EXPECT_TRUE(QDir(BackupStore::Folder()).entryList({"*.bin"}).isEmpty());
    EXPECT_EQ(form->ProgramGrid(3, PT::CH2).Cell(5, 1), "-1234") << "the tables stay";

    // Yes: the backup holds box 30098765 as it was, and the box gets the tables.
    answer = true;
    questions.clear();
    ASSERT_NO_FATAL_FAILURE(RunChain(Chain::Send));
    EXPECT_EQ(questions.size(), 1);
    const QStringList backups = QDir(BackupStore::Folder()).entryList({"*.bin"});
    ASSERT_EQ(backups.size(), 1) << backups.join(' ').toStdString();
    EXPECT_TRUE(backups[0].startsWith("30098765-")) << backups[0].toStdString();
    QFile backup(BackupStore::Folder() + "/" + backups[0]);
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    const std::vector<uint8_t> image = other.EditionImage();
    EXPECT_EQ(backup.read(3744), QByteArray(reinterpret_cast<const char*>(image.data()), 3744));
    EXPECT_EQ(box->Contents().serial, "31234567");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->StatusBar1->currentMessage() == "Sent and verified."; }, 2000));
    SetQuestionPresenter({});
}

}  // namespace
