// The window against the simulated box over a real pseudo-terminal.
#include <QSerialPort>
#include <QTest>
#include <ctime>

#include "BoxSimulator.h"
#include "Functions.h"
#include "TestSupport.h"
#include "WindowFixture.h"

namespace {

using PT = ProgramTable;
using namespace std::chrono_literals;

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
    std::vector<uint8_t> Codes() const {
        std::vector<uint8_t> codes;
        for (const ReceivedCommand& command : box->Received()) codes.push_back(command.code);
        return codes;
    }
    // Waits until the box has received `count` commands and the window has handled the
    // answer to the last of them.
    bool WaitForChain(size_t count, int ms = 5000) {
        return QTest::qWaitFor(
            [&] { return box->Received().size() >= count && form->Vars().Awaiting == 0; }, ms);
    }

    std::unique_ptr<BoxSimulator> box;
    std::unique_ptr<TForm1> form;
    QString port;
    QStringList errors;
};

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
    QTest::keyClicks(form->ComboBoxComPorts->lineEdit(), "/dev/nonexistent-port");
    EXPECT_TRUE(form->ButtonConnect->isEnabled());
    form->ButtonConnect->click();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Cannot open port \"/dev/nonexistent-port\": "))
        << errors[0].toStdString();
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
    EXPECT_EQ(form->ProgramGridWidget(9, PT::CH2)->Cell(16, 3),
              value(three ? 8 * 416 + 7 * 32 + 30 : 2302));
    EXPECT_EQ(form->StrGridConfig->Cell(0, 0),
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
    form->StrGridConfig->SetCell(0, 0, three ? "65535" : "255");
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
    const size_t sendSteps = three ? 5 : 4;
    ASSERT_TRUE(WaitForChain(sendSteps + c.chain.size()));
    std::vector<uint8_t> codes = Codes();
    std::vector<uint8_t> sendCodes(codes.begin(), codes.begin() + static_cast<long>(sendSteps));
    EXPECT_EQ(sendCodes, three ? std::vector<uint8_t>({0x28, 0x65, 0x8E, 0x2B, 0x2C})
                               : std::vector<uint8_t>({0x28, 0x01, 0x2A, 0x2B}));
    EXPECT_EQ(box->Received()[1].data, expected) << "the image, byte for byte";
    EXPECT_EQ(box->Contents().EditionImage(), expected);
    EXPECT_EQ(box->Contents().startTime, 6);
    EXPECT_EQ(AllProgramTexts(*form), tables) << "the read-back leaves the tables unchanged";
    EXPECT_TRUE(form->ButtonSend->isEnabled());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Editions, DownloadWindowTest,
                         testing::Values(EditionCase{"20054321", {0x1E, 0x02, 0x1F, 0x20, 0x21}},
                                         EditionCase{"30012345",
                                                     {0x1E, 0x66, 0x1F, 0x84, 0x21, 0x22, 0x23}}));

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

}  // namespace
