// The window against the simulated box over a real pseudo-terminal.
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <ctime>
#include <functional>

#include "BackupStore.h"
#include "BoxSimulator.h"
#include "Functions.h"
#include "TestSupport.h"
#include "WindowFixture.h"

namespace {

using PT = ProgramTable;
using namespace std::chrono_literals;

// The window, the box and the messages, as a row sees them.
struct Scene {
    TForm1& form;
    BoxSimulator& box;
    QStringList& errors;

    std::vector<uint8_t> Codes() const {
        std::vector<uint8_t> codes;
        for (const ReceivedCommand& command : box.Received()) codes.push_back(command.code);
        return codes;
    }
    bool WaitUntil(const std::function<bool()>& condition, int ms = 10000) const {
        return QTest::qWaitFor(condition, ms);
    }
    // Waits until the box has received `count` commands and the window has handled the
    // answer to the last one.
    bool WaitForChain(size_t count, int ms = 10000) const {
        return WaitUntil(
            [&] { return box.Received().size() >= count && form.Vars().Awaiting == 0; }, ms);
    }
    std::string Cell(int program, ProgramTable table, int col, int row) const {
        return form.ProgramGrid(program, table).Cell(col, row);
    }
    // The value the box holds for a cell of the 3-channel layout.
    std::string BoxValue(int program, ProgramTable table, int col, int row) const {
        const std::vector<uint8_t> image = box.Contents().EditionImage();
        const size_t offset = static_cast<size_t>(program - 1) * 416 +
                              static_cast<size_t>(table) * 128 + static_cast<size_t>(row) * 32 +
                              static_cast<size_t>(col - 1) * 2;
        return std::to_string(static_cast<int16_t>((image[offset] << 8) | image[offset + 1]));
    }
};

class BoxWindowTest : public testing::Test {
  protected:
    void StartBox(const std::string& serial, bool pacing = false) {
        BoxSimOptions options;
        options.serial = serial;
        options.pacing = pacing;
        box = std::make_unique<BoxSimulator>(options);
        ASSERT_TRUE(box->Start()) << box->LastError();
        port = QString::fromStdString(box->PortPath());
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
    void Connect() {
        form->ComboBoxComPorts->setEditText(port);
        form->ButtonConnect->setEnabled(true);
        form->ButtonConnect->click();
        ASSERT_TRUE(form->ApdComPort1->IsOpen()) << errors.join('\n').toStdString();
    }
    TStringGrid* Grid(int program, ProgramTable table) const {
        return form->ProgramGridWidget(program, table);
    }
    Scene View() { return Scene{*form, *box, errors}; }
    std::vector<uint8_t> Codes() { return View().Codes(); }
    bool WaitForChain(size_t count, int ms = 5000) { return View().WaitForChain(count, ms); }

    std::unique_ptr<BoxSimulator> box;
    std::unique_ptr<TForm1> form;
    QString port;
    QStringList errors;
};

TEST_F(BoxWindowTest, ADownloadIsOneStepThatUndoRestoresWhole) {
    StartBox("30012345");
    Connect();
    form->ProgramGrid(4, PT::CH2).SetCell(6, 1, "typed");
    const std::vector<std::string> before = AllProgramTexts(*form);
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(DownloadChain('3').size()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->History().Stack().count() == 1; }));
    const std::vector<std::string> after = AllProgramTexts(*form);
    ASSERT_NE(after, before);
    EXPECT_EQ(form->History().Stack().text(0), "Download");
    form->UndoAction->trigger();
    EXPECT_EQ(AllProgramTexts(*form), before);
    form->RedoAction->trigger();
    EXPECT_EQ(AllProgramTexts(*form), after);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(BoxWindowTest, ADownloadedMapColouredByValue) {
    StartBox("30012345");
    Connect();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(DownloadChain('3').size()));
    form->ColourByValueAction->trigger();
    QAbstractItemModel* model = Grid(1, PT::CH1)->model();
    // The box's RPM row rises from left to right: blue to red.
    EXPECT_EQ(model->data(model->index(0, 1), Qt::BackgroundRole).value<QColor>().hue(), 240);
    EXPECT_EQ(model->data(model->index(0, 16), Qt::BackgroundRole).value<QColor>().hue(), 0);
    const QString picture = QStringLiteral(ARTIFACT_DIR "/colour-by-value.png");
    EXPECT_TRUE(form->grab().save(picture)) << picture.toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(BoxWindowTest, PortListConnectAndDisconnect) {
    StartBox("30012345");
    // The list is filled right after the window is up.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->ComboBoxComPorts->count() >= 1; }, 2000));
    EXPECT_EQ(form->ComboBoxComPorts->itemText(0), port) << "the simulated box comes first";
    EXPECT_FALSE(form->ButtonConnect->isEnabled());
    form->ComboBoxComPorts->setCurrentIndex(0);
    emit form->ComboBoxComPorts->activated(0);
    EXPECT_TRUE(form->ButtonConnect->isEnabled());
    form->ButtonConnect->click();
    ASSERT_TRUE(form->ApdComPort1->IsOpen());
    EXPECT_EQ(form->Shape1->BrushColor(), clLime);
    EXPECT_EQ(form->ButtonConnect->text(), "Disconnect");
    EXPECT_TRUE(form->ButtonDownload->isEnabled());
    EXPECT_TRUE(form->ButtonSend->isEnabled());
    EXPECT_TRUE(form->ButtonDynoLog->isEnabled());
    EXPECT_EQ(form->LabelConnPort->text().toInt(), TApdComPort::NumberAtEnd(port));
    // A connected port is held open, so a rebuilt list leaves it out.
    form->ComboBoxComPortsDropDown();
    for (int i = 0; i < form->ComboBoxComPorts->count(); ++i) {
        EXPECT_NE(form->ComboBoxComPorts->itemText(i), port);
    }
    QTest::qWait(50);
    EXPECT_TRUE(box->Received().empty()) << "connecting sends nothing";

    form->ButtonConnect->click();
    EXPECT_FALSE(form->ApdComPort1->IsOpen());
    EXPECT_EQ(form->Shape1->BrushColor(), clRed);
    EXPECT_EQ(form->ButtonConnect->text(), "Connect");
    EXPECT_FALSE(form->ButtonDownload->isEnabled());
    EXPECT_FALSE(form->ButtonDynoLog->isEnabled());
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(BoxWindowTest, TypedPortNameEnablesConnectAndBadPortsAreReported) {
    StartBox("30012345");
    QTest::keyClicks(form->ComboBoxComPorts->lineEdit(), "/dev/nonexistent-port12");
    EXPECT_TRUE(form->ButtonConnect->isEnabled());
    form->ButtonConnect->click();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Cannot open port \"/dev/nonexistent-port12\": "))
        << errors[0].toStdString();
    // The port's number shows whole, two digits too.
    EXPECT_EQ(form->LabelConnPort->text(), "12");
    EXPECT_GE(form->LabelConnPort->width(), form->LabelConnPort->sizeHint().width());
    EXPECT_FALSE(form->ApdComPort1->IsOpen());
    EXPECT_EQ(form->Shape1->BrushColor(), clRed);

    // Another program holds the box's port.
    errors.clear();
    QSerialPort other(port);
    ASSERT_TRUE(other.open(QIODevice::ReadWrite));
    form->ComboBoxComPorts->setEditText(port);
    form->ButtonConnect->click();
    EXPECT_EQ(errors.size(), 1);
    EXPECT_FALSE(form->ApdComPort1->IsOpen());
    EXPECT_FALSE(form->ButtonDownload->isEnabled());
    other.close();
    form->ButtonConnect->click();
    EXPECT_TRUE(form->ApdComPort1->IsOpen()) << "connects once the port is free";
}

struct EditionCase {
    const char* serial;
    std::vector<uint8_t> chain;
};

std::vector<uint8_t> ChainCodes(char edition) {
    const auto chain = DownloadChain(edition);
    return {chain.begin(), chain.end()};
}

void PrintTo(const EditionCase& c, std::ostream* os) {
    *os << c.serial[0] << " channels";
}

class DownloadWindowTest : public BoxWindowTest, public testing::WithParamInterface<EditionCase> {};

TEST_P(DownloadWindowTest, DownloadFillsTheWindowAndSendWritesItBack) {
    const EditionCase& c = GetParam();
    const bool three = c.serial[0] == '3';
    StartBox(c.serial);
    Connect();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(c.chain.size()));
    EXPECT_EQ(Codes(), c.chain);

    const BoxContents contents = box->Contents();
    const std::vector<uint8_t> image = contents.EditionImage();
    const auto value = [&](size_t offset) {
        return std::to_string(static_cast<int16_t>((image[offset] << 8) | image[offset + 1]));
    };
    EXPECT_EQ(Grid(1, PT::CH1)->Cell(1, 0), value(0));
    EXPECT_EQ(form->ProgramGrid(9, PT::CH2).Cell(16, 3),
              value(three ? 8 * 416 + 7 * 32 + 30 : 2302));
    EXPECT_EQ(form->GridByName(Grid::StrGridConfig).Cell(0, 0),
              std::to_string(three ? contents.config[0] : contents.config[0] & 0xFF));
    EXPECT_EQ(form->NumBoxStartTime->value(), contents.startTime);
    if (three) {
        EXPECT_EQ(form->ComboBoxPedalRes->currentIndex(), contents.pedal);
        EXPECT_FALSE(form->StaticText1->text().isEmpty());
    }
    EXPECT_EQ(form->LabelSerial->text().toStdString(),
              "BOX serial: " + contents.serial + (three ? " (Stellix)" : " (Corvane)"));
    EXPECT_EQ(form->ButtonP[contents.runningProgram]->palette().color(QPalette::ButtonText),
              QColor(Qt::blue));
    EXPECT_EQ(form->StrGridDynoLog->Cell(3, 0), Grid(1, PT::CH1)->Cell(3, 0));

    // Send what the tables hold, edited; the box stores it and the read-back changes nothing.
    Grid(3, PT::CH2)->SetCell(5, 1, "-32768");
    Grid(9, PT::CH1)->SetCell(16, 3, "32767");
    form->GridByName(Grid::StrGridConfig).SetCell(0, 0, three ? "65535" : "255");
    form->NumBoxStartTime->setValue(6);
    const auto tables = AllProgramTexts(*form);
    std::vector<uint8_t> expected(three ? kImageSize3 : kImageSize2);
    uint16_t cursor = 0;
    if (three) {
        EncodeImage3(*form, expected, cursor);
    } else {
        EncodeImage2(*form, expected, cursor);
    }
    box->ClearLogs();
    form->ButtonSend->click();
    const auto send = SendChain(three ? '3' : '2');
    ASSERT_TRUE(WaitForChain(send.size()));
    EXPECT_EQ(Codes(), std::vector<uint8_t>(send.begin(), send.end()));
    EXPECT_EQ(box->Received()[1].data, expected) << "the image, byte for byte";
    EXPECT_EQ(box->Contents().EditionImage(), expected);
    EXPECT_EQ(box->Contents().startTime, 6);
    EXPECT_EQ(AllProgramTexts(*form), tables) << "the read-back leaves the tables unchanged";
    EXPECT_TRUE(form->ButtonSend->isEnabled());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Editions, DownloadWindowTest,
                         testing::Values(EditionCase{"20054321", ChainCodes('2')},
                                         EditionCase{"30012345", ChainCodes('3')}));

TEST_F(BoxWindowTest, ProgramButtonsAndTheDynoLogSwitch) {
    StartBox("30012345");
    Connect();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(7));
    box->ClearLogs();
    form->PageControl1->setCurrentIndex(2);
    form->ButtonP[4]->click();
    EXPECT_EQ(form->Vars().ActiveProgram, 4);
    ASSERT_TRUE(WaitForChain(1));
    EXPECT_EQ(box->Received()[0].code, 0x29);
    EXPECT_EQ(box->Received()[0].data, std::vector<uint8_t>{4});
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->ButtonP[4]->palette().color(QPalette::ButtonText) == Qt::blue; }));
    EXPECT_EQ(form->PageControl1->currentIndex(), 4);

    box->ClearLogs();
    form->ButtonDynoLog->click();
    EXPECT_EQ(form->ButtonDynoLog->text(), "Dyno log OFF");
    EXPECT_FALSE(form->ButtonDownload->isEnabled());
    form->ButtonP[2]->click();  // refused while the stream runs
    EXPECT_EQ(form->Vars().ActiveProgram, 4);
    // Disconnecting stops the stream first.
    form->ButtonConnect->click();
    EXPECT_FALSE(form->ApdComPort1->IsOpen());
    EXPECT_EQ(form->Vars().DynoLogging, 0);
    EXPECT_EQ(form->ButtonDynoLog->text(), "Dyno log ON");
    ASSERT_TRUE(QTest::qWaitFor([&] { return box->Received().size() >= 2; }, 2000));
    EXPECT_EQ(Codes(), (std::vector<uint8_t>{0x79, 0x78}));
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

// A box that stops streaming: the status bar says so once after 2 s, the dyno log stays on,
// and the connection's text comes back with the stream.
TEST_F(BoxWindowTest, SilentLiveStreamIsSaidOnceInTheStatusBar) {
    StartBox("30012345");
    Connect();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(7));
    const QString connected = form->StatusBar1->currentMessage();
    EXPECT_EQ(connected, "Connected to " + form->BoxConnection().PortName() + ", box 30012345");
    BoxSimFaults silent;
    silent.silenceFrom = Cmd::LiveOn3;
    box->SetFaults(silent);
    QStringList shown;
    QObject::connect(form->StatusBar1, &QStatusBar::messageChanged, form.get(),
                     [&](const QString& text) { shown.append(text); });
    form->ButtonDynoLog->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 4000));
    EXPECT_TRUE(shown[0].startsWith("No live data from the box for 2 s")) << shown[0].toStdString();
    QTest::qWait(600);
    EXPECT_EQ(shown.size(), 1) << "said once";
    EXPECT_EQ(form->ButtonDynoLog->text(), "Dyno log OFF") << "the stream stays on";
    box->SetFaults({});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form->StatusBar1->currentMessage() == connected; }, 4000));
    EXPECT_GT(form->Vars().LiveMessages, 0u);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

// The link's trace, switched on as a user would, names every command and frame in order.
TEST_F(BoxWindowTest, TraceLogsCommandsAndFrames) {
    static QStringList lines;
    lines.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("corvane.link.debug=true"));
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext& context, const QString& text) {
            if (QLatin1String(context.category) == QLatin1String("corvane.link")) lines << text;
        });
    StartBox("20054321");
    Connect();
    form->ButtonDownload->click();
    const bool done = WaitForChain(5);
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    ASSERT_TRUE(done);
    QStringList wanted = {"opened",
                          "wrote  ReadSerial",
                          "framed serial report",
                          "wrote  ReadImage2",
                          "framed image",
                          "wrote  ReadProgram",
                          "framed running program",
                          "wrote  ReadConfig2",
                          "framed configuration",
                          "wrote  ReadStartTime",
                          "framed start time"};
    int at = 0;
    for (const QString& line : lines) {
        if (at < wanted.size() && line.contains(wanted[at])) ++at;
    }
    EXPECT_EQ(at, wanted.size()) << "missing \""
                                 << (at < wanted.size() ? wanted[at].toStdString() : "")
                                 << "\" in\n"
                                 << lines.join('\n').toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^ *\\d+\\.\\d{3} ms  wrote  ReadSerial"))
                    .match(lines.filter("ReadSerial").value(0))
                    .hasMatch())
        << "with the time";
}

// A bad value anywhere the send chain would write it: the box receives nothing, one message
// names the cell, its page is shown with the cell current, and both buttons stay usable.
struct BadCellRow {
    const char* name;
    const char* serial;
    int program;  // 0: the Service page's configuration row
    PT table;
    int col, row;
    const char* text;
    const char* where;
    bool copyAndSend = false;
    const char* why = nullptr;  // when the text is a number the box cannot store
};

class BadCellWindowTest : public BoxWindowTest, public testing::WithParamInterface<BadCellRow> {};

TEST_P(BadCellWindowTest, NothingReachesTheBox) {
    const BadCellRow& c = GetParam();
    StartBox(c.serial);
    Connect();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(DownloadChain(c.serial[0]).size()));
    TStringGrid* grid = c.program > 0 ? Grid(c.program, c.table) : form->StrGridConfig;
    grid->SetCell(c.col, c.row, c.text);
    form->SetPageIndex(c.program == 2 ? 3 : 2);
    box->ClearLogs();
    if (c.copyAndSend) {
        form->CheckBoxCopySend->setChecked(true);
        form->ButtonCopyPaste->click();
    } else {
        form->ButtonSend->click();
    }
    QTest::qWait(200);
    EXPECT_TRUE(box->Received().empty()) << "the box received a byte";
    ASSERT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
    const std::string why =
        c.why != nullptr ? c.why : std::string("\"") + c.text + "\" is not a whole number";
    EXPECT_EQ(errors[0].toStdString(), std::string(c.where) + ": " + why + ". Nothing was sent.");
    // The cell said so as soon as it was set.
    EXPECT_TRUE(grid->model()
                    ->data(grid->model()->index(c.row, c.col), Qt::ToolTipRole)
                    .toString()
                    .contains(QString::fromStdString(why)));
    EXPECT_EQ(form->PageIndex(), c.program);
    EXPECT_EQ(grid->currentColumn(), c.col);
    EXPECT_EQ(grid->currentRow(), c.row);
    EXPECT_TRUE(form->ButtonDownload->isEnabled());
    EXPECT_TRUE(form->ButtonSend->isEnabled());
    // Mended, the send goes through.
    errors.clear();
    grid->SetCell(c.col, c.row, "5");
    form->CheckBoxCopySend->setChecked(false);
    form->ButtonSend->click();
    EXPECT_TRUE(WaitForChain(SendChain(c.serial[0]).size()));
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cells, BadCellWindowTest,
    testing::Values(
        BadCellRow{"Box2_P1_CH1", "20054321", 1, PT::CH1, 3, 2, "12a", "P1 CH1 PRESS_1 column 3"},
        BadCellRow{"Box2_P8_CH2", "20054321", 8, PT::CH2, 16, 3, "", "P8 CH2 MULTI%_2 column 16"},
        BadCellRow{"Box2_Config", "20054321", 0, PT::CH1, 0, 0, "x",
                   "Service Configuration column 1"},
        BadCellRow{"Box3_P2_CH3", "30012345", 2, PT::CH3, 1, 0, "-", "P2 CH3 RPM_3 column 1"},
        BadCellRow{"Box3_P9_FUEL", "30012345", 9, PT::Fuel, 8, 0, "9.5", "P9 FUEL FUEL% column 8"},
        BadCellRow{"Box3_Config", "30012345", 0, PT::CH1, 11, 0, "1 2",
                   "Service Configuration column 12"},
        BadCellRow{"Box3_CopyAndSend", "30012345", 6, PT::CH1, 5, 1, "x", "P6 CH1 CORR_1 column 5",
                   true},
        BadCellRow{"Box3_MapAboveItsRange", "30012345", 1, PT::CH1, 9, 2, "40000",
                   "P1 CH1 PRESS_1 column 9", false, "40000 is outside -32768 to 32767"},
        BadCellRow{"Box3_ConfigAboveItsRange", "30012345", 0, PT::CH1, 0, 0, "70000",
                   "Service Configuration column 1", false, "70000 is outside 0 to 65535"},
        BadCellRow{"Box3_ConfigNegative", "30012345", 0, PT::CH1, 3, 0, "-5",
                   "Service Configuration column 4", false, "-5 is outside 0 to 65535"},
        BadCellRow{"Box2_ConfigBeyondItsByte", "20054321", 0, PT::CH1, 0, 0, "300",
                   "Service Configuration column 1", false, "300 is outside 0 to 255"}),
    [](const testing::TestParamInfo<BadCellRow>& info) { return info.param.name; });

// Before a send overwrites the box, what was downloaded from it goes to a backup file in
// the tuning file's format; the newest 100 are kept.
TEST_F(BoxWindowTest, SendBacksUpTheDownloadedBoxFirst) {
    QTemporaryDir data;
    const DataHome dataHome(data.path());
    const QString folder = BackupStore::Folder();
    ASSERT_TRUE(folder.startsWith(data.path()));
    ASSERT_TRUE(QDir().mkpath(folder));
    // 100 older backups of another box; the oldest goes.
    for (int k = 0; k < 100; ++k) {
        QFile old(
            QStringLiteral("%1/20000000-2025%2.bin").arg(folder).arg(k, 4, 10, QLatin1Char('0')));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.setFileTime(QDateTime::currentDateTime().addDays(-200 + k),
                        QFileDevice::FileModificationTime);
    }

    StartBox("30012345");
    Connect();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(7));
    const BoxContents before = box->Contents();
    std::vector<uint8_t> expected = before.EditionImage();
    for (uint16_t value : before.config) {
        expected.push_back(static_cast<uint8_t>(value >> 8));
        expected.push_back(static_cast<uint8_t>(value & 0xFF));
    }
    Grid(3, PT::CH2)->SetCell(4, 2, "777");
    box->ClearLogs();
    form->ButtonSend->click();
    ASSERT_TRUE(WaitForChain(12));

    const QStringList backups = QDir(folder).entryList({"30012345-*.bin"}, QDir::Files);
    ASSERT_EQ(backups.size(), 1);
    EXPECT_TRUE(QRegularExpression("^30012345-\\d{8}-\\d{6}\\.bin$").match(backups[0]).hasMatch())
        << backups[0].toStdString();
    QFile file(folder + "/" + backups[0]);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expected)
        << "the box as downloaded, not as edited";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return QDir(folder).entryList({"*.bin"}, QDir::Files).size() == 100; }, 2000));
    EXPECT_FALSE(QFile::exists(folder + "/20000000-20250000.bin")) << "the oldest went";
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(BoxWindowTest, BackupThatCannotBeWrittenStopsTheSend) {
    QTemporaryDir data;
    // A plain file where the data folder should be: no folder can be made below it.
    QFile blocker(data.path() + "/file");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const DataHome dataHome(data.path() + "/file");

    StartBox("20054321");
    Connect();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(5));
    box->ClearLogs();
    form->ButtonSend->click();
    QTest::qWait(200);
    EXPECT_TRUE(box->Received().empty()) << "nothing written to the box";
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Cannot write the backup of box 20054321 to \""))
        << errors[0].toStdString();
    EXPECT_TRUE(errors[0].endsWith("Nothing was sent.")) << errors[0].toStdString();
    EXPECT_TRUE(form->ButtonDownload->isEnabled());
    EXPECT_TRUE(form->ButtonSend->isEnabled());
}

// Tables from a file sent to a box this connection has not read: the box is read first,
// aside from the tables, and its backup holds what it held, not the tables.
TEST_F(BoxWindowTest, SendToABoxNotYetReadBacksUpThatBoxFirst) {
    QTemporaryDir data;
    const DataHome dataHome(data.path());
    StartBox("30012345");
    const BoxContents before = box->Contents();
    std::vector<uint8_t> held = before.EditionImage();
    for (uint16_t value : before.config) {
        held.push_back(static_cast<uint8_t>(value >> 8));
        held.push_back(static_cast<uint8_t>(value & 0xFF));
    }
    // A tuning file whose maps differ from the box's in every byte.
    std::vector<uint8_t> tune = held;
    for (size_t k = 0; k < 3744; ++k) tune[k] ^= 0x11;
    const QString path = data.path() + "/tune.bin";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(tune.data()), static_cast<qint64>(tune.size()));
    file.close();
    TForm1::SetFileChooser([&](QFileDialog*) { return path; });
    form->ButtonOpenFile->click();
    TForm1::SetFileChooser({});
    Connect();
    form->EditNewSerial->setText("30012345");
    form->ButtonSend->click();
    const std::vector<uint8_t> read = {Cmd::ReadSerial, Cmd::ReadImage3, Cmd::ReadConfig3,
                                       Cmd::ReadStartTime, Cmd::ReadPedal};
    ASSERT_TRUE(WaitForChain(read.size() + SendChain('3').size()));
    const std::vector<uint8_t> codes = Codes();
    EXPECT_EQ(std::vector<uint8_t>(codes.begin(), codes.begin() + 5), read);
    const QStringList backups = QDir(BackupStore::Folder()).entryList({"*.bin"});
    ASSERT_EQ(backups.size(), 1);
    QFile backup(BackupStore::Folder() + "/" + backups[0]);
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    const QByteArray bytes = backup.readAll();
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), held) << "the box as it was";
    EXPECT_EQ(box->Contents().EditionImage(),
              std::vector<uint8_t>(tune.begin(), tune.begin() + 3744));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->StatusBar1->currentMessage() == "Sent and verified."; }, 2000));
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

// The status bar says which box is behind the port and where the tables stand; changed
// values are underlined; their count follows edits, undo, redo, a send and Open file; closing
// with changes neither sent nor saved asks first.
TEST_F(BoxWindowTest, TheStatusBarFollowsTheBoxAndTheTablesChanges) {
    QTemporaryDir data;
    StartBox("31234567");
    const auto shown = [&](const QString& box, const QString& tables) {
        return QTest::qWaitFor(
            [&] { return form->BoxLabel->text() == box && form->TablesLabel->text() == tables; });
    };
    Connect();
    EXPECT_TRUE(shown("box not read yet", "")) << form->BoxLabel->text().toStdString();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(DownloadChain('3').size()));
    EXPECT_TRUE(shown("box 31234567 (3 channels)", "From box 31234567"))
        << form->TablesLabel->text().toStdString();

    form->History().Record("three", [&] {
        Grid(2, PT::CH1)->SetCell(3, 1, "1234");
        Grid(5, PT::Fuel)->SetCell(9, 0, "-5");
        form->StrGridConfig->SetCell(2, 0, "77");
    });
    EXPECT_TRUE(shown("box 31234567 (3 channels)", "From box 31234567, 3 changes not sent"))
        << form->TablesLabel->text().toStdString();
    const auto underlined = [&](TStringGrid* grid, int col, int row) {
        return grid->model()
            ->data(grid->model()->index(row, col), CellModel::kChangedRole)
            .toBool();
    };
    EXPECT_TRUE(underlined(Grid(2, PT::CH1), 3, 1));
    EXPECT_FALSE(underlined(Grid(2, PT::CH1), 4, 1));
    form->NumBoxStartTime->setValue(form->NumBoxStartTime->value() == 3 ? 4 : 3);
    EXPECT_TRUE(shown("box 31234567 (3 channels)", "From box 31234567, 4 changes not sent"));
    form->History().Stack().undo();
    EXPECT_TRUE(shown("box 31234567 (3 channels)", "From box 31234567, 1 change not sent"));
    EXPECT_FALSE(underlined(Grid(2, PT::CH1), 3, 1));
    form->History().Stack().redo();
    EXPECT_TRUE(shown("box 31234567 (3 channels)", "From box 31234567, 4 changes not sent"));

    // Closing asks; No keeps the window and its tables.
    QStringList asked;
    bool answer = false;
    SetQuestionPresenter([&](const QString&, const QString& question) {
        asked << question;
        return answer;
    });
    EXPECT_FALSE(form->close());
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0], "4 changes are neither sent to the box nor saved. Close anyway?");

    // Sent: as sent, no change left, no question.
    form->ButtonSend->click();
    ASSERT_TRUE(WaitForChain(DownloadChain('3').size() + SendChain('3').size()));
    EXPECT_TRUE(shown("box 31234567 (3 channels)",
                      "As sent to box 31234567 at " + QTime::currentTime().toString("HH:mm")))
        << form->TablesLabel->text().toStdString();
    EXPECT_FALSE(underlined(Grid(2, PT::CH1), 3, 1));

    // A file opened: from the file, not sent; a change and a save then close without asking.
    const QString path = data.path() + "/tune.bin";
    TForm1::SetFileChooser([&](QFileDialog*) { return path; });
    form->ButtonSaveFile->click();
    form->ButtonOpenFile->click();
    EXPECT_TRUE(shown("box 31234567 (3 channels)", "From file tune.bin, not sent"));
    Grid(1, PT::CH2)->SetCell(1, 1, "99");
    EXPECT_TRUE(shown("box 31234567 (3 channels)", "From file tune.bin, 1 change not sent"));
    form->ButtonSaveFile->click();
    TForm1::SetFileChooser({});
    // The dyno log and the sensors' data move with the box, and no save holds them.
    form->StrGridDynoLog->SetCell(1, 1, "4321");
    form->StrGridSDdata->SetCell(1, 2, "77");
    asked.clear();
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(asked.isEmpty()) << asked.join('\n').toStdString();
    SetQuestionPresenter({});
}

// With "Show changes before Send" on, Send first lists what it would change on the box; Cancel
// writes nothing, "Send" writes exactly those values.
TEST_F(BoxWindowTest, ThePreviewListsExactlyWhatTheSendChanges) {
    StartBox("30012345");
    Connect();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(DownloadChain('3').size()));
    form->PreviewAction->setChecked(true);
    Grid(2, PT::CH1)->SetCell(3, 1, "1234");
    Grid(9, PT::Fuel)->SetCell(16, 0, "-5");
    form->ComboBoxPedalRes->setCurrentIndex(form->ComboBoxPedalRes->currentIndex() == 0 ? 1 : 0);
    const BoxContents before = box->Contents();

    // Answers the preview once it is open: its title and list, then a click on `button`. A
    // timer looks for it, since the dialog runs an event loop of its own.
    QTimer poll;
    const auto answer = [&](const QString& button, QString& title, QString& list) {
        poll.disconnect();
        QObject::connect(&poll, &QTimer::timeout, [&, button] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            poll.stop();
            title = dialog->windowTitle();
            list = dialog->findChild<QPlainTextEdit*>("Changes")->toPlainText();
            for (QPushButton* candidate : dialog->findChildren<QPushButton*>()) {
                if (candidate->text() == button) candidate->click();
            }
        });
        poll.start(10);
    };
    QString title;
    QString list;
    box->ClearLogs();
    answer("Cancel", title, list);
    form->ButtonSend->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list.isEmpty(); }));
    EXPECT_EQ(title, "Send to box 30012345");
    const QStringList lines = list.split('\n');
    ASSERT_EQ(lines.size(), 3) << list.toStdString();
    EXPECT_TRUE(lines[0].startsWith("P2 CH1 CORR_1 column 3: ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" \u2192 1234")));
    EXPECT_TRUE(lines[1].startsWith("P9 FUEL FUEL% column 16: ")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("Pedal response: ")) << lines[2].toStdString();
    QTest::qWait(200);
    EXPECT_TRUE(box->Received().empty()) << "Cancel writes nothing";

    list.clear();
    answer("Send", title, list);
    form->ButtonSend->click();
    ASSERT_TRUE(WaitForChain(SendChain('3').size()));
    const std::vector<uint8_t> was = before.EditionImage();
    const std::vector<uint8_t> now = box->Contents().EditionImage();
    int changed = 0;
    for (size_t k = 0; k + 1 < was.size(); k += 2)
        changed += (was[k] != now[k] || was[k + 1] != now[k + 1]) ? 1 : 0;
    EXPECT_EQ(changed, 2) << "the two map values listed, and no other";
    EXPECT_NE(box->Contents().pedal, before.pedal);
    EXPECT_EQ(box->Contents().config, before.config);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

// The send's read-back is held against what it wrote: a clean send says so in the status
// bar; a box that stores a byte wrongly gets the list, and the differing cells are marked.
TEST_F(BoxWindowTest, SendIsVerifiedAgainstTheReadBack) {
    StartBox("30012345");
    Connect();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(7));
    box->ClearLogs();
    form->ButtonSend->click();
    ASSERT_TRUE(WaitForChain(12));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->StatusBar1->currentMessage() == "Sent and verified."; }, 2000))
        << form->StatusBar1->currentMessage().toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();

    BoxSimFaults wrong;
    wrong.wrongImageByte = 69;  // the low byte of P1 CH1 PRESS_1, column 3
    wrong.wrongConfigValue = 1;
    box->SetFaults(wrong);
    box->ClearLogs();
    form->ButtonSend->click();
    ASSERT_TRUE(WaitForChain(12));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.isEmpty(); }, 2000));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0],
              "Verify failed\nP1 CH1 PRESS_1 column 3: sent 381, box has 382\n"
              "Configuration column 2: sent 1500, box has 1501");
    EXPECT_EQ(Grid(1, PT::CH1)->Cell(3, 2), "382") << "the table shows what the box returned";
    EXPECT_EQ(Grid(1, PT::CH1)->CellMark(3, 2), "Sent 381, box has 382");
    EXPECT_EQ(form->StrGridConfig->CellMark(1, 0), "Sent 1500, box has 1501");
    EXPECT_EQ(form->StrGridConfig->CellMark(2, 0), "");
    EXPECT_NE(form->StatusBar1->currentMessage(), "Sent and verified.");
    // The first difference is shown, its cell current.
    EXPECT_EQ(form->PageIndex(), 1);
    EXPECT_EQ(Grid(1, PT::CH1)->currentColumn(), 3);
    EXPECT_EQ(Grid(1, PT::CH1)->currentRow(), 2);

    // The read-back is one step: one undo brings back the tables as sent, marks and all.
    form->History().Stack().undo();
    EXPECT_EQ(Grid(1, PT::CH1)->Cell(3, 2), "381");
    EXPECT_EQ(form->StrGridConfig->Cell(1, 0), "1500");
    EXPECT_EQ(Grid(1, PT::CH1)->CellMark(3, 2), "Sent 381, box has 382");
    form->History().Stack().redo();
    EXPECT_EQ(Grid(1, PT::CH1)->Cell(3, 2), "382");

    box->SetFaults({});
    box->ClearLogs();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(7));
    EXPECT_EQ(Grid(1, PT::CH1)->CellMark(3, 2), "") << "the next download clears the marks";
    EXPECT_EQ(form->StrGridConfig->CellMark(1, 0), "");
}

TEST_F(BoxWindowTest, UploadPausesAfterTheCodeByteOnTheWire) {
    StartBox("30012345", /*pacing=*/true);
    Connect();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(7, 10000));
    // The box stamps a byte when it reads it; on a loaded machine it may read the code byte
    // late, together with the first block. Without the pause the two always come in one
    // read, one byte time apart, so one clean send in a few shows the pause is there.
    SimClock::duration widest{};
    for (int attempt = 0; attempt < 8 && widest < 1ms; ++attempt) {
        box->ClearLogs();
        form->ButtonSend->click();
        ASSERT_TRUE(WaitForChain(12, 10000));
        const auto bytes = box->ReceivedBytes();
        const size_t code = 9;  // after 0x28 and the serial number
        ASSERT_GT(bytes.size(), code + 1);
        ASSERT_EQ(bytes[code].value, 0x65);
        widest = std::max(widest, bytes[code + 1].at - bytes[code].at);
    }
    EXPECT_GE(widest, 1ms) << "first block less than 1 ms after the code byte";
}

TEST_F(BoxWindowTest, HangUpDuringTheImageDisconnectsCleanly) {
    StartBox("30012345");
    Connect();
    Grid(2, PT::CH1)->SetCell(1, 1, "kept");
    BoxSimFaults faults;
    faults.hangUpAfter = 1000;
    faults.hangUpCode = 0x66;
    box->SetFaults(faults);
    form->ButtonDownload->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->ApdComPort1->IsOpen(); }, 5000));
    EXPECT_EQ(form->Shape1->BrushColor(), clRed);
    EXPECT_EQ(form->ButtonConnect->text(), "Connect");
    EXPECT_FALSE(form->ButtonDownload->isEnabled());
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("The connection to the box was lost"));
    EXPECT_EQ(Grid(2, PT::CH1)->Cell(1, 1), "kept");

    // No busy loop: a quiet second of the event loop costs little processor time.
    const std::clock_t start = std::clock();
    QTest::qWait(500);
    const double cpu = double(std::clock() - start) / CLOCKS_PER_SEC;
    EXPECT_LT(cpu, 0.4) << "the event loop keeps spinning after the hang-up";
    EXPECT_EQ(errors.size(), 1);
}

// ---------------------------------------------------------------------------------------
// What the user does while the box is in the middle of an exchange, and values the box may
// hold that the window must show as they are. Each row: the box's contents, the user's
// action after a first download, what the box received and what the window shows.

const std::vector<uint8_t> kDownload3(DownloadChain('3').begin(), DownloadChain('3').end());
const std::vector<uint8_t> kSend3(SendChain('3').begin(), SendChain('3').end());

// A download from a paced box: returns once part of the image has arrived.
void StartDownloadAndWaitForTheImage(Scene& s) {
    s.box.ClearLogs();
    s.form.ButtonDownload->click();
    ASSERT_TRUE(s.WaitUntil(
        [&] { return s.form.Vars().Awaiting == Cmd::ReadImage3 && s.form.Vars().RxPos > 200; }));
}

// After the user's refused action the exchange in progress runs to its end untouched.
void ExpectRefusedAndTheDownloadFinishes(Scene& s) {
    EXPECT_EQ(s.errors, QStringList{kBoxStillAnswering});
    ASSERT_TRUE(s.WaitForChain(kDownload3.size()));
    QTest::qWait(50);
    EXPECT_EQ(s.Codes(), kDownload3);
    EXPECT_EQ(s.form.LabelSerial->text(), "BOX serial: 30012345 (Stellix)");
    // The image's bytes that look like command codes were read as map values.
    EXPECT_EQ(s.Cell(1, ProgramTable::CH1, 1, 0), s.BoxValue(1, ProgramTable::CH1, 1, 0));
    EXPECT_EQ(s.Cell(9, ProgramTable::Fuel, 16, 0), s.BoxValue(9, ProgramTable::Fuel, 16, 0));
    EXPECT_EQ(s.box.Contents().serial, "30012345");
    EXPECT_TRUE(s.form.ButtonDownload->isEnabled());
    EXPECT_TRUE(s.form.ButtonSend->isEnabled());
}

struct UserCase {
    const char* name;
    bool pacing = false;
    std::function<void(BoxContents&)> contents{};
    std::function<void(Scene&)> act{};
};

void PrintTo(const UserCase& c, std::ostream* os) {
    *os << c.name;
}

const UserCase kUserCases[] = {
    {.name = "SerialNumberWithoutEditionIsNotSent",
     .act =
         [](Scene& s) {
             s.box.ClearLogs();
             s.form.EditNewSerial->setText("A0012345");
             s.form.ButtonSend->click();
             EXPECT_EQ(s.errors, QStringList{kSerialEditionRequired});
             QTest::qWait(100);
             EXPECT_TRUE(s.box.Received().empty());
             EXPECT_TRUE(s.form.ButtonDownload->isEnabled());
             EXPECT_TRUE(s.form.ButtonSend->isEnabled());
             EXPECT_EQ(s.box.Contents().serial, "30012345");
         }},
    {.name = "StartTimeAboveNineShowsAndGoesBackUnchanged",
     .contents = [](BoxContents& c) { c.startTime = 200; },
     .act =
         [](Scene& s) {
             EXPECT_EQ(s.form.NumBoxStartTime->text(), "200");
             QLineEdit* field = s.form.NumBoxStartTime->findChild<QLineEdit*>();
             EXPECT_LE(field->fontMetrics().horizontalAdvance("200"), field->width())
                 << "the whole value shows";
             s.box.ClearLogs();
             s.form.ButtonSend->click();
             ASSERT_TRUE(s.WaitForChain(kSend3.size()));
             EXPECT_EQ(s.box.Received()[3].code, Cmd::WriteStartTime);
             EXPECT_EQ(s.box.Received()[3].data, std::vector<uint8_t>{200});
             EXPECT_EQ(s.box.Contents().startTime, 200);
             EXPECT_EQ(s.form.NumBoxStartTime->text(), "200");
             EXPECT_TRUE(s.errors.isEmpty());
             // A value in the box's own range brings the arrows, the face and the range back.
             BoxContents contents = s.box.Contents();
             contents.startTime = 4;
             s.box.SetContents(contents);
             s.box.ClearLogs();
             s.form.ButtonDownload->click();
             ASSERT_TRUE(s.WaitForChain(kDownload3.size()));
             EXPECT_EQ(s.form.NumBoxStartTime->text(), "4");
             EXPECT_EQ(s.form.NumBoxStartTime->maximum(), 9);
             EXPECT_EQ(s.form.NumBoxStartTime->font().pixelSize(), 16);
             EXPECT_EQ(s.form.NumBoxStartTime->buttonSymbols(), QAbstractSpinBox::UpDownArrows);
         }},
    {.name = "DownloadWhileTheImageArrives",
     .pacing = true,
     .act =
         [](Scene& s) {
             ASSERT_NO_FATAL_FAILURE(StartDownloadAndWaitForTheImage(s));
             s.form.ButtonDownload->click();
             ExpectRefusedAndTheDownloadFinishes(s);
         }},
    {.name = "SendWhileTheImageArrives",
     .pacing = true,
     .act =
         [](Scene& s) {
             ASSERT_NO_FATAL_FAILURE(StartDownloadAndWaitForTheImage(s));
             s.form.EditNewSerial->setText("30099999");
             s.form.ButtonSend->click();
             ExpectRefusedAndTheDownloadFinishes(s);
         }},
    {.name = "DynoLogOnWhileTheImageArrives",
     .pacing = true,
     .act =
         [](Scene& s) {
             ASSERT_NO_FATAL_FAILURE(StartDownloadAndWaitForTheImage(s));
             s.form.ButtonDynoLog->click();
             EXPECT_EQ(s.form.ButtonDynoLog->text(), "Dyno log ON");
             EXPECT_EQ(s.form.Vars().DynoLogging, 0);
             ExpectRefusedAndTheDownloadFinishes(s);
         }},
    {.name = "ProgramButtonWhileTheImageUploads",
     .pacing = true,
     .act =
         [](Scene& s) {
             s.form.ProgramGrid(2, ProgramTable::CH1).SetCell(4, 1, "123");
             s.box.ClearLogs();
             s.form.ButtonSend->click();
             ASSERT_TRUE(s.WaitUntil([&] {
                 return s.form.Vars().LastCommand == Cmd::WriteImage3 &&
                        s.form.Vars().Awaiting == ACK;
             }));
             const uint8_t running = s.form.Vars().ActiveProgram;
             s.form.ButtonP[3]->click();
             EXPECT_EQ(s.errors, QStringList{kBoxStillAnswering});
             ASSERT_TRUE(s.WaitForChain(kSend3.size()));
             QTest::qWait(50);
             EXPECT_EQ(s.Codes(), kSend3) << "configuration, start time and pedal written, "
                                             "everything read back, no program selected";
             EXPECT_EQ(s.form.Vars().ActiveProgram, running);
             EXPECT_EQ(s.BoxValue(2, ProgramTable::CH1, 4, 1), "123");
             EXPECT_EQ(s.Cell(2, ProgramTable::CH1, 4, 1), "123");
         }},
    {.name = "RunningProgramsPageShowsItsCurves",
     .contents = [](BoxContents& c) { c.runningProgram = 6; },
     .act =
         [](Scene& s) {
             EXPECT_EQ(s.form.PageControl1->currentIndex(), 6);
             for (int chart = 1; chart <= 3; ++chart) {
                 SCOPED_TRACE(chart);
                 const auto table = static_cast<ProgramTable>(chart - 1);
                 ChartSeries& series = s.form.Series(chart);
                 ASSERT_EQ(series.Count(), 16);
                 EXPECT_EQ(series.Value(0), std::stod(s.Cell(6, table, 1, 1)));
                 EXPECT_EQ(series.Value(15), std::stod(s.Cell(6, table, 16, 1)));
                 EXPECT_NE(s.Cell(6, table, 16, 1), s.Cell(1, table, 16, 1));
             }
         }},
    {.name = "DisabledNineStaysGreyed",
     .act =
         [](Scene& s) {
             QPushButton* nine = s.form.ButtonP[9];
             EXPECT_FALSE(nine->isEnabled());
             EXPECT_EQ(nine->palette().color(QPalette::Disabled, QPalette::ButtonText),
                       QApplication::palette(nine).color(QPalette::Disabled, QPalette::ButtonText));
             EXPECT_EQ(WidgetControl(nine).Color(), 0x000000u) << "coloured black when enabled";
         }},
    {.name = "ServicePageShowsTheNamesAndTheWrappedListing",
     .contents =
         [](BoxContents& c) {
             for (int channel = 0; channel < 2; ++channel) {
                 for (size_t i = 0; i < kSentRecordsPerChannel; ++i) {
                     PutSentRecord(c, channel, i, static_cast<uint8_t>(0x40 + i),
                                   static_cast<uint16_t>(i * 37));
                 }
             }
         },
     .act =
         [](Scene& s) {
             s.form.PageControl1->setCurrentIndex(0);
             QApplication::processEvents();
             TStringGrid* names = s.form.StrGridSDnames;
             const auto labelsInView = [&] {
                 return names->horizontalScrollBar()->value() == 0 &&
                        names->columnViewportPosition(0) == 0;
             };
             EXPECT_TRUE(labelsInView());
             names->setFocus();
             QTest::keyClick(names, Qt::Key_Right);
             QTest::keyClick(names, Qt::Key_Down);
             EXPECT_TRUE(labelsInView()) << "moving the current cell keeps the names in view";
             EXPECT_EQ(names->Cell(0, 0), "Manufacturer ($05):");

             QLabel* listing = s.form.StaticText1;
             EXPECT_TRUE(listing->wordWrap());
             const QStringList lines = listing->text().split('\n');
             ASSERT_EQ(lines.size(), 2) << "one line a channel before wrapping";
             EXPECT_GT(listing->fontMetrics().horizontalAdvance(lines[0]), listing->width());
             EXPECT_GE(listing->heightForWidth(listing->width()),
                       4 * listing->fontMetrics().lineSpacing())
                 << "each channel's records wrap onto lines of the box's width";
             const QString picture = QStringLiteral(ARTIFACT_DIR "/service-page.png");
             EXPECT_TRUE(s.form.grab().save(picture)) << picture.toStdString();
         }},
};

class UserCaseTest : public BoxWindowTest, public testing::WithParamInterface<UserCase> {};

TEST_P(UserCaseTest, BoxReceivesAndWindowShows) {
    const UserCase& row = GetParam();
    StartBox("30012345", row.pacing);
    BoxContents contents = box->Contents();
    // Map values that read as command codes and ACKs if they were taken for an answer.
    contents.image[0] = Cmd::ReadSerial;
    contents.image[1] = ACK;
    contents.image[100] = ACK;
    contents.image[3000] = Cmd::ReadSerial;
    if (row.contents) row.contents(contents);
    box->SetContents(contents);
    Connect();
    form->ButtonDownload->click();
    ASSERT_TRUE(WaitForChain(kDownload3.size(), 10000));
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    Scene scene = View();
    row.act(scene);
}

INSTANTIATE_TEST_SUITE_P(Rows, UserCaseTest, testing::ValuesIn(kUserCases),
                         [](const testing::TestParamInfo<UserCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
