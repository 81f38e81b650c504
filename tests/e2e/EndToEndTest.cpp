// The box and the tuning files through the real window: the port list, "Connect",
// "Download", "Send" and the file dialogs, all by real clicks and keys.
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QToolTip>

#include "Desktop.h"

namespace {

using namespace desktop;
using PT = ProgramTable;

const std::vector<uint8_t> kDownload3(DownloadChain('3').begin(), DownloadChain('3').end());
const std::vector<uint8_t> kSend3(SendChain('3').begin(), SendChain('3').end());

class LinkRows : public DesktopTest {
  protected:
    // The port by a link, as a USB adapter's by-id name: the tool watches it come back.
    void PortByLink() {
        link = Path("ttyBox");
        ASSERT_TRUE(QFile::link(port, link));
        port = link;
    }
    // The box goes away with its link; the lost connection's message is answered.
    void BoxGoesAway() {
        box->Stop();
        QFile::remove(link);
        const std::optional<Dialog> lost = WaitForDialog();
        ASSERT_TRUE(lost) << "no message for the lost connection";
        EXPECT_TRUE(lost->text.startsWith("The connection to the box was lost"))
            << lost->text.toStdString();
        Key("Return");
        ASSERT_TRUE(WaitForNoDialog());
    }
    // The box, with what it holds now, comes back behind the link; its log starts afresh.
    void BoxComesBack() {
        box->ClearLogs();
        ASSERT_TRUE(box->Start()) << box->LastError();
        ASSERT_TRUE(QFile::link(QString::fromStdString(box->PortPath()), link));
    }
    QString link;
};

// The tooltip a table cell shows once the pointer rests on it (the pointer comes from the
// row above, so that the cell's own tooltip is asked for anew).
QString HoverTip(TStringGrid* grid, int col, int row) {
    MoveTo(CellCentre(grid, col, row == 0 ? 1 : row - 1));
    MoveTo(CellCentre(grid, col, row));
    QString tip;
    WaitUntil(
        [&] {
            tip = QToolTip::isVisible() ? QToolTip::text() : QString();
            return !tip.isEmpty();
        },
        5000);
    return tip;
}

// Every value cell of the nine programs whose text differs from the image's value.
std::vector<std::string> CellsOtherThan(TForm1* form, const std::vector<uint8_t>& image) {
    std::vector<std::string> texts;
    OnMain([&] {
        for (int program = 1; program <= 9; ++program) {
            for (int table = 0; table < 4; ++table) {
                const auto t = static_cast<PT>(table);
                const TableText& grid = form->ProgramGrid(program, t);
                for (int row = 0; row < grid.RowCount(); ++row) {
                    for (int col = 1; col <= 16; ++col) {
                        const std::string expected = ImageValue(image, program, t, col, row);
                        if (grid.Cell(col, row) != expected) {
                            texts.push_back("P" + std::to_string(program) + " table " +
                                            std::to_string(table) + " (" + std::to_string(col) +
                                            "," + std::to_string(row) +
                                            "): " + grid.Cell(col, row) + " for " + expected);
                        }
                    }
                }
            }
        }
    });
    return texts;
}

TEST_F(LinkRows, ConnectAndDownloadByClicksFromThePortList) {
    QComboBox* list = form->ComboBoxComPorts;
    ASSERT_TRUE(WaitUntil([&] { return list->count() >= 1; })) << "the port list stayed empty";
    // The list's arrow, then its first entry: the simulated box.
    const QRect frame = Get([&] { return list->rect(); });
    Click(At(list, QPoint(frame.right() - 6, frame.center().y())));
    ASSERT_TRUE(WaitUntil([&] { return list->view()->isVisible(); })) << "the list did not drop";
    QAbstractItemView* entries = Get([&] { return list->view(); });
    Click(Get([&] {
        return entries->viewport()->mapToGlobal(
            entries->visualRect(entries->model()->index(0, 0)).center());
    }));
    ASSERT_TRUE(WaitUntil([&] {
        return !list->view()->isVisible() && list->currentText() == port &&
               form->ButtonConnect->isEnabled();
    })) << "picked: "
        << Get([&] { return list->currentText(); }).toStdString();

    Click(Centre(form->ButtonConnect));
    ASSERT_TRUE(WaitUntil([&] {
        return form->ApdComPort1->IsOpen() && form->ButtonConnect->text() == "Disconnect";
    }));
    EXPECT_EQ(Status(), "Connected to " + port);

    ASSERT_TRUE(DownloadByClick()) << "the box received " << box->Received().size() << " commands";
    EXPECT_EQ(Codes(), kDownload3);
    EXPECT_EQ(CellsOtherThan(form, box->Contents().EditionImage()), std::vector<std::string>{});
    EXPECT_EQ(Get([&] { return form->LabelSerial->text(); }), "BOX serial: 30012345 (Stellix)");
    EXPECT_EQ(Page(), 1) << "the running program's page";
    EXPECT_TRUE(Status().startsWith("Connected to " + port)) << Status().toStdString();
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
    const QString picture = QStringLiteral(ARTIFACT_DIR "/e2e-downloaded.png");
    if (SaveScreen(picture)) std::printf("screen: %s\n", qPrintable(picture));
}

TEST_F(LinkRows, SaveFileThroughTheRealDialogWritesTheBoxsImageAndConfiguration) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    Click(Centre(form->ButtonSaveFile));
    const std::optional<Dialog> dialog = WaitForDialog();
    ASSERT_TRUE(dialog) << "no file dialog";
    EXPECT_EQ(dialog->kind, "QFileDialog");
    EXPECT_EQ(dialog->name, "SaveDialog1");
    Type(Path("saved"));
    Key("Return");
    ASSERT_TRUE(WaitForNoDialog());
    const QString saved = Path("saved.bin");
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(saved); })) << "no file written";

    const BoxContents contents = box->Contents();
    std::array<uint16_t, 16> config{};
    std::copy(contents.config.begin(), contents.config.end(), config.begin());
    const QByteArray bytes = ReadFile(saved);
    EXPECT_EQ(bytes.size(), 3776);
    EXPECT_TRUE(bytes == TuningFile(contents.EditionImage(), config))
        << "the file holds every table cell and configuration value as the box does";
}

TEST_F(LinkRows, OpenFileThroughTheRealDialogFillsTheTables) {
    // Values of the file's own: distinct, negative ones too, none the start-up zeros.
    std::vector<uint8_t> image(3744);
    for (size_t word = 0; word < image.size() / 2; ++word) {
        const auto value = static_cast<uint16_t>(static_cast<int16_t>(word * 7 % 4001) - 2000);
        image[2 * word] = static_cast<uint8_t>(value >> 8);
        image[2 * word + 1] = static_cast<uint8_t>(value & 0xFF);
    }
    std::array<uint16_t, 16> config{};
    for (size_t k = 0; k < config.size(); ++k) config[k] = static_cast<uint16_t>(60000 + k);
    const QString tune = Path("tune.bin");
    {
        QFile file(tune);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(TuningFile(image, config));
    }

    Click(Centre(form->ButtonOpenFile));
    const std::optional<Dialog> dialog = WaitForDialog();
    ASSERT_TRUE(dialog) << "no file dialog";
    EXPECT_EQ(dialog->name, "OpenDialog1");
    Type(tune);
    Key("Return");
    ASSERT_TRUE(WaitForNoDialog());
    ASSERT_TRUE(WaitUntil([&] {
        return form->ProgramGrid(9, PT::Fuel).Cell(16, 0) == ImageValue(image, 9, PT::Fuel, 16, 0);
    })) << "the tables were not filled";
    EXPECT_EQ(CellsOtherThan(form, image), std::vector<std::string>{});
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(Get([&] { return form->GridByName(Grid::StrGridConfig).Cell(k, 0); }),
                  std::to_string(config[static_cast<size_t>(k)]))
            << "configuration column " << k + 1;
    }
    EXPECT_TRUE(box->Received().empty()) << "opening a file says nothing to the box";
    EXPECT_FALSE(WaitForDialog(300)) << "no message";

    // The name was typed and Return pressed while the field's suggestions showed: none stay
    // over the window, whose first click makes a cell current and whose Ctrl keys edit it.
    EXPECT_TRUE(WaitUntil([] {
        return QApplication::activePopupWidget() == nullptr &&
               qobject_cast<TForm1*>(QApplication::activeWindow()) != nullptr;
    })) << "a popup is still open, or the window is not active again";
    const int pressure = std::stoi(Cell(1, PT::CH1, 4, 2));
    const std::string stepped = std::to_string(pressure >= 0 ? pressure + 10 : pressure - 10);
    ASSERT_TRUE(ClickCell(1, PT::CH1, 4, 2)) << "the first click after the dialog was lost";
    Key("ctrl+Up");
    EXPECT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(4, 2) == stepped; }))
        << "Ctrl+Up left " << Cell(1, PT::CH1, 4, 2) << ", not " << stepped;
}

TEST_F(LinkRows, SendAfterATypedEditIsVerifiedAndBacksUpTheBox) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    const std::vector<uint8_t> downloaded = box->Contents().EditionImage();
    ASSERT_NE(Cell(1, PT::CH2, 5, 2), "777");
    ASSERT_TRUE(ClickCell(1, PT::CH2, 5, 2));
    Type("777");
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH2).Cell(5, 2) == "777"; }));

    box->ClearLogs();
    Click(Centre(form->ButtonSend));
    ASSERT_TRUE(WaitForChain(kSend3.size())) << "the box received " << box->Received().size();
    EXPECT_EQ(Codes(), kSend3);
    EXPECT_EQ(BoxValue(1, PT::CH2, 5, 2), "777");
    EXPECT_TRUE(WaitUntil([&] {
        return form->StatusBar1->currentMessage() == "Sent and verified.";
    })) << Status().toStdString();
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
    EXPECT_EQ(Mark(1, PT::CH2, 5, 2), "");

    const QStringList backups =
        QDir(Path("corvane-zel/backups")).entryList({"30012345-*.bin"}, QDir::Files);
    ASSERT_EQ(backups.size(), 1) << "one backup before the send";
    EXPECT_TRUE(ReadFile(Path("corvane-zel/backups/" + backups[0])).left(3744) ==
                QByteArray(reinterpret_cast<const char*>(downloaded.data()), 3744))
        << "the backup holds the box as it was downloaded";
}

// The port comes back with another box behind it: its message is answered, and "Send" of
// the first box's tables asks a real question that names both; Return answers No (the
// default) and writes nothing, Alt+Y sends and backs up the box that is written.
TEST_F(LinkRows, AnotherBoxBehindThePortIsNamedAndSendAsksFirst) {
    ASSERT_NO_FATAL_FAILURE(PortByLink());
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());

    ASSERT_NO_FATAL_FAILURE(BoxGoesAway());
    BoxContents other = box->Contents();
    other.serial = "39999999";
    for (uint8_t& byte : other.image) byte ^= 0x21;
    box->SetContents(other);
    ASSERT_NO_FATAL_FAILURE(BoxComesBack());

    const QString said = QStringLiteral(
                             "Another box is behind %1 now: 39999999, before 30012345. Download "
                             "it before you send.")
                             .arg(link);
    const std::optional<Dialog> another = WaitForDialog(15000);
    ASSERT_TRUE(another) << "no message for the other box; " << Status().toStdString();
    EXPECT_EQ(another->text, said);
    EXPECT_EQ(Status(), said);
    Key("Return");
    ASSERT_TRUE(WaitForNoDialog());
    EXPECT_EQ(Codes(), std::vector<uint8_t>{Cmd::ReadSerial}) << "only its serial number was read";

    // No, by Return: nothing is written, no backup.
    Click(Centre(form->ButtonSend));
    std::optional<Dialog> question = WaitForDialog();
    ASSERT_TRUE(question) << "no question before the send";
    EXPECT_EQ(question->title, "Another box");
    EXPECT_TRUE(
        question->text.contains("The tables come from box 30012345, but box 39999999 is "
                                "behind " +
                                link))
        << question->text.toStdString();
    Key("Return");
    ASSERT_TRUE(WaitForNoDialog());
    EXPECT_FALSE(WaitForDialog(300));
    for (const uint8_t code : Codes()) EXPECT_FALSE(IsSendWrite(code)) << "wrote " << int(code);
    EXPECT_TRUE(QDir(Path("corvane-zel/backups")).entryList({"*.bin"}, QDir::Files).isEmpty());

    // Yes: the backup is of box 39999999 as it was; the box gets the tables.
    box->ClearLogs();
    Click(Centre(form->ButtonSend));
    question = WaitForDialog();
    ASSERT_TRUE(question) << "no question before the send";
    Key("alt+y");
    ASSERT_TRUE(WaitForChain(kSend3.size()));
    EXPECT_TRUE(WaitUntil([&] {
        return form->StatusBar1->currentMessage() == "Sent and verified.";
    })) << Status().toStdString();
    const QStringList backups =
        QDir(Path("corvane-zel/backups")).entryList({"39999999-*.bin"}, QDir::Files);
    ASSERT_EQ(backups.size(), 1);
    const std::vector<uint8_t> image = other.EditionImage();
    EXPECT_TRUE(ReadFile(Path("corvane-zel/backups/" + backups[0])).left(3744) ==
                QByteArray(reinterpret_cast<const char*>(image.data()), 3744));
    EXPECT_EQ(box->Contents().serial, "30012345");
}

// The port goes away and comes back with the same box behind it: only its serial number is
// read, the status bar says it is back, and a send then needs no question.
TEST_F(LinkRows, TheSameBoxBehindAPortThatCameBackIsReadAndSentToWithoutAQuestion) {
    ASSERT_NO_FATAL_FAILURE(PortByLink());
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    const std::vector<uint8_t> image = box->Contents().EditionImage();

    ASSERT_NO_FATAL_FAILURE(BoxGoesAway());
    EXPECT_TRUE(
        Status().endsWith(QStringLiteral("Waiting up to 60 s for %1 to come back.").arg(link)))
        << Status().toStdString();
    ASSERT_NO_FATAL_FAILURE(BoxComesBack());

    const QString back =
        QStringLiteral("Reconnected to %1: box 30012345 is back. Nothing was sent.").arg(link);
    EXPECT_TRUE(WaitUntil([&] { return form->StatusBar1->currentMessage() == back; }, 15000))
        << Status().toStdString();
    EXPECT_TRUE(WaitUntil([&] { return form->Vars().Awaiting == 0; }));
    EXPECT_EQ(Codes(), std::vector<uint8_t>{Cmd::ReadSerial}) << "only its serial number was read";
    EXPECT_EQ(Get([&] { return form->ButtonConnect->text(); }), "Disconnect");
    EXPECT_TRUE(Get([&] { return form->ButtonSend->isEnabled(); }));
    EXPECT_EQ(CellsOtherThan(form, image), std::vector<std::string>{}) << "the tables stay";
    EXPECT_FALSE(WaitForDialog(300)) << "no message";

    // The box is read whole before it is written (the backup is of it), and no question
    // comes: the tables are its own.
    ASSERT_TRUE(TypeIntoCell(2, PT::CH3, 8, 2, "-321"));
    box->ClearLogs();
    Click(Centre(form->ButtonSend));
    std::vector<uint8_t> expected = {Cmd::ReadSerial, Cmd::ReadImage3, Cmd::ReadConfig3,
                                     Cmd::ReadStartTime, Cmd::ReadPedal};
    expected.insert(expected.end(), kSend3.begin(), kSend3.end());
    ASSERT_TRUE(WaitForChain(expected.size(), 15000))
        << "the box received " << box->Received().size() << "; "
        << (WaitForDialog(300) ? "a dialog is open" : "no dialog");
    EXPECT_EQ(Codes(), expected);
    EXPECT_TRUE(WaitUntil([&] {
        return form->StatusBar1->currentMessage() == "Sent and verified.";
    })) << Status().toStdString();
    EXPECT_EQ(BoxValue(2, PT::CH3, 8, 2), "-321");
    const QStringList backups =
        QDir(Path("corvane-zel/backups")).entryList({"30012345-*.bin"}, QDir::Files);
    ASSERT_EQ(backups.size(), 1);
    EXPECT_TRUE(ReadFile(Path("corvane-zel/backups/" + backups[0])).left(3744) ==
                QByteArray(reinterpret_cast<const char*>(image.data()), 3744));
    EXPECT_FALSE(WaitForDialog(300)) << "no question, no message";
}

TEST_F(LinkRows, SendToABoxThatStoresAByteWronglyShowsTheVerifyMessage) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    // Byte 69 is the low byte of P1 CH1's PRESS_1 row, column 3.
    BoxSimFaults wrong;
    wrong.wrongImageByte = 69;
    box->SetFaults(wrong);
    box->ClearLogs();
    const std::string sent = Cell(1, PT::CH1, 3, 2);
    ASSERT_TRUE(ShowPage(4));
    Click(Centre(form->ButtonSend));

    const std::optional<Dialog> message = WaitForDialog();
    ASSERT_TRUE(message) << "no message";
    EXPECT_EQ(message->kind, "QMessageBox");
    EXPECT_EQ(message->title, "Verify failed");
    const std::string kept = BoxValue(1, PT::CH1, 3, 2);
    EXPECT_EQ(std::stoi(kept), std::stoi(sent) + 1);
    EXPECT_TRUE(message->text.contains(
        QString::fromStdString("P1 CH1 PRESS_1 column 3: sent " + sent + ", box has " + kept)))
        << message->text.toStdString();
    EXPECT_TRUE(WaitForChain(kSend3.size()));
    const QString picture = QStringLiteral(ARTIFACT_DIR "/e2e-verify-failed.png");
    if (SaveScreen(picture)) std::printf("screen: %s\n", qPrintable(picture));

    Key("Return");
    ASSERT_TRUE(WaitForNoDialog()) << "Return did not close the message";
    const QString mark = QString::fromStdString("Sent " + sent + ", box has " + kept);
    EXPECT_EQ(Mark(1, PT::CH1, 3, 2), mark);
    EXPECT_NE(Status(), "Sent and verified.");
    EXPECT_EQ(QDir(Path("corvane-zel/backups")).entryList({"30012345-*.bin"}).size(), 1);

    // The first difference is in sight: its page, its cell current, the box's value in it.
    EXPECT_EQ(Page(), 1) << "the send started on page 4";
    EXPECT_EQ(Get([&] {
                  const TableText& grid = form->ProgramGrid(1, PT::CH1);
                  return std::make_pair(grid.Col(), grid.Row());
              }),
              std::make_pair(3, 2))
        << "the current cell";
    EXPECT_EQ(Cell(1, PT::CH1, 3, 2), kept);

    // One Ctrl+Z takes the read-back back: the value as sent, still marked.
    ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == form; }));
    Key("ctrl+z");
    EXPECT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(3, 2) == sent; }))
        << "Ctrl+Z left " << Cell(1, PT::CH1, 3, 2);
    EXPECT_EQ(Mark(1, PT::CH1, 3, 2), mark);
    EXPECT_EQ(HoverTip(Grid(1, PT::CH1), 3, 2), mark);
    EXPECT_EQ(CellsOtherThan(form, box->Contents().EditionImage()),
              std::vector<std::string>{"P1 table 0 (3,2): " + sent + " for " + kept})
        << "the rest as the box holds it: one step was undone, not the download";

    // "Save file" stores what the tables show.
    Click(Centre(form->ButtonSaveFile));
    const std::optional<Dialog> chooser = WaitForDialog();
    ASSERT_TRUE(chooser) << "no file dialog";
    EXPECT_EQ(chooser->kind, "QFileDialog");
    Type(Path("after"));
    Key("Return");
    ASSERT_TRUE(WaitForNoDialog());
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(Path("after.bin")); })) << "no file written";
    const QByteArray bytes = ReadFile(Path("after.bin"));
    ASSERT_EQ(bytes.size(), 3776);
    const std::vector<uint8_t> saved(bytes.begin(), bytes.begin() + 3744);
    EXPECT_EQ(ImageValue(saved, 1, PT::CH1, 3, 2), sent);
    EXPECT_EQ(CellsOtherThan(form, saved), std::vector<std::string>{});
}

TEST_F(LinkRows, AValueTheBoxCannotStoreIsTintedAtOnceAndStopsTheSendBeforeItsFirstByte) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    const std::string boxed = BoxValue(1, PT::CH1, 9, 2);
    ASSERT_TRUE(ClickCell(1, PT::CH1, 9, 2));
    Type("40000");
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(9, 2) == "40000"; }));

    // As soon as it is committed.
    const QString reason = "The box cannot store this: 40000 is outside -32768 to 32767.";
    EXPECT_EQ(CellRole(1, PT::CH1, 9, 2, Qt::ToolTipRole).toString(), reason);
    const QColor tint = CellRole(1, PT::CH1, 9, 2, Qt::BackgroundRole).value<QColor>();
    EXPECT_TRUE(tint.isValid() && tint.red() > tint.green() + 60 && tint.red() > tint.blue() + 60)
        << "no red tint: " << tint.name().toStdString();
    EXPECT_EQ(HoverTip(Grid(1, PT::CH1), 9, 2), reason);

    ASSERT_TRUE(ShowPage(3));
    box->ClearLogs();
    Click(Centre(form->ButtonSend));
    const std::optional<Dialog> message = WaitForDialog();
    ASSERT_TRUE(message) << "no message";
    EXPECT_EQ(message->kind, "QMessageBox");
    EXPECT_EQ(message->text,
              "P1 CH1 PRESS_1 column 9: 40000 is outside -32768 to 32767. Nothing was sent.");
    Key("Return");
    ASSERT_TRUE(WaitForNoDialog()) << "Return did not close the message";
    EXPECT_TRUE(box->Received().empty())
        << "the box received " << box->Received().size() << " commands";
    EXPECT_EQ(BoxValue(1, PT::CH1, 9, 2), boxed);
    EXPECT_EQ(Page(), 1) << "the page of the cell";
    EXPECT_EQ(Get([&] {
                  const TableText& grid = form->ProgramGrid(1, PT::CH1);
                  return std::make_pair(grid.Col(), grid.Row());
              }),
              std::make_pair(9, 2))
        << "the current cell";
}

}  // namespace
