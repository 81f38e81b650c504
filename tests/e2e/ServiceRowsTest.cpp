// The "Service" page through the real keyboard and pointer: the serial number, the
// configuration row, the start time and pedal response, the sensors' SENT data, and "Send"
// writing what was set there.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>

#include "Desktop.h"

namespace {

using namespace desktop;

const std::vector<uint8_t> kSend3(SendChain('3').begin(), SendChain('3').end());
const std::vector<uint8_t> kSend2(SendChain('2').begin(), SendChain('2').end());

// One SENT slow-channel record of a sensor.
struct SentRecord {
    uint8_t id;
    uint16_t value;
};

// The listing of every record as the page shows it: "$ID:$VAL, " each, CH1's line first.
QString SentListing(const std::array<std::vector<SentRecord>, 2>& channels) {
    QString text;
    for (size_t ch = 0; ch < channels.size(); ++ch) {
        if (ch > 0) text += QLatin1Char('\n');
        for (const SentRecord& record : channels[ch]) {
            text += QStringLiteral("$%1:$%2, ")
                        .arg(record.id, 2, 16, QLatin1Char('0'))
                        .arg(record.value, 3, 16, QLatin1Char('0'))
                        .toUpper();
        }
    }
    return text;
}

using ServiceRows = DesktopTest;

TEST_F(ServiceRows, ThePageShowsTheSensorsAndSendWritesWhatWasSetOnIt) {
    // Two sensors of the row's own: CH1 without fault, CH2 with status code $2F.
    const std::array<std::vector<SentRecord>, 2> sensors = {{
        {{0x01, 0x000},
         {0x06, 3},
         {0x03, 0x05},
         {0x05, 0x02},
         {0x90, PackOemChars('Z', 'R')},
         {0x91, PackOemChars('0', '1')},
         {0x92, PackOemChars('A', 'B')},
         {0x93, PackOemChars('C', 'D')},
         {0x29, 0x0ABC}},
        {{0x01, 0x02F},
         {0x06, 4},
         {0x03, 0x45},
         {0x05, 0x07},
         {0x90, PackOemChars('Q', 'X')},
         {0x91, PackOemChars('7', '7')},
         {0x92, PackOemChars('H', 'J')},
         {0x93, PackOemChars('K', 'L')}},
    }};
    BoxContents contents = box->Contents();
    contents.sentData.fill(0);
    for (int ch = 0; ch < 2; ++ch) {
        const std::vector<SentRecord>& records = sensors[static_cast<size_t>(ch)];
        for (size_t k = 0; k < records.size(); ++k)
            PutSentRecord(contents, ch, k, records[k].id, records[k].value);
    }
    box->SetContents(contents);
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    ASSERT_TRUE(ShowPage(0));

    const std::vector<std::string> shown = Get([&] {
        std::vector<std::string> texts;
        const TableText& data = form->GridByName(Grid::StrGridSDdata);
        for (int col = 0; col < 2; ++col) {
            for (int row = 0; row < 5; ++row) texts.push_back(data.Cell(col, row));
        }
        return texts;
    });
    EXPECT_EQ(shown, (std::vector<std::string>{"Hitachi", "ZR01ABCD", "Pressure 12/12bit",
                                               "JAN2010 SENT Rev.3", "No error", "Micronas",
                                               "QX77HJKL", "Temperature 12/12bit",
                                               "APR2016 SENT Rev.4", "Error code: $2F"}));
    EXPECT_EQ(Get([&] { return form->StaticText1->text(); }), SentListing(sensors));
    EXPECT_EQ(Get([&] { return form->NumBoxStartTime->value(); }), contents.startTime);
    EXPECT_EQ(Get([&] { return form->ComboBoxPedalRes->currentIndex(); }), contents.pedal);

    // A new serial number, typed over the box's.
    Click(Centre(form->EditNewSerial));
    Key("ctrl+a");
    Type("30077777");
    EXPECT_EQ(Get([&] { return form->EditNewSerial->text(); }), "30077777");

    // A configuration value, typed into its cell.
    TStringGrid* config = Get([&] { return form->StrGridConfig.get(); });
    Click(CellCentre(config, 5, 0));
    ASSERT_TRUE(WaitUntil([&] { return config->currentColumn() == 5 && config->hasFocus(); }))
        << "column " << Get([&] { return config->currentColumn(); });
    Type("1234");
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return config->Cell(5, 0) == "1234"; }))
        << Get([&] { return config->Cell(5, 0); });

    // The start time three steps up by the arrow key, in its text.
    QSpinBox* start = form->NumBoxStartTime;
    Click(At(start, QPoint(6, Get([&] { return start->height() / 2; }))));
    ASSERT_TRUE(WaitUntil([&] { return start->hasFocus(); })) << FocusName().toStdString();
    for (int k = 0; k < 3; ++k) Key("Up");
    EXPECT_EQ(Get([&] { return start->value(); }), contents.startTime + 3);

    // The pedal response from its list: one down from "Normal", taken with Return.
    QComboBox* pedal = form->ComboBoxPedalRes;
    Click(Centre(pedal));
    ASSERT_TRUE(WaitUntil([&] { return pedal->view()->isVisible(); })) << "the list did not drop";
    Key("Down");
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return !pedal->view()->isVisible(); }));
    EXPECT_EQ(Get([&] { return pedal->currentText(); }), "Insane");

    box->ClearLogs();
    Click(Centre(form->ButtonSend));
    ASSERT_TRUE(WaitForChain(kSend3.size())) << "the box received " << box->Received().size();
    EXPECT_EQ(Codes(), kSend3);
    EXPECT_TRUE(WaitUntil([&] {
        return form->StatusBar1->currentMessage() == "Sent and verified.";
    })) << Status().toStdString();
    const BoxContents written = box->Contents();
    EXPECT_EQ(written.serial, "30077777");
    std::array<uint16_t, kConfigValues> configExpected = contents.config;
    configExpected[5] = 1234;
    EXPECT_EQ(written.config, configExpected);
    EXPECT_EQ(written.startTime, contents.startTime + 3);
    EXPECT_EQ(written.pedal, 2);
    EXPECT_EQ(written.EditionImage(), contents.EditionImage()) << "the maps as they were";
    EXPECT_EQ(Get([&] { return form->LabelSerial->text(); }), "BOX serial: 30077777 (Stellix)");
    EXPECT_EQ(QDir(Path("corvane-zel/backups")).entryList({"30012345-*.bin"}).size(), 1)
        << "the backup is of the box as it was";
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

// A 2-channel box stores one configuration value, column 0's.
class TwoChannelServiceRows : public DesktopTest {
  protected:
    BoxSimOptions BoxOptions() const override {
        BoxSimOptions options;
        options.serial = "20012345";
        return options;
    }
};

TEST_F(TwoChannelServiceRows, TheConfigurationRowKeepsItsCurrentCellInColumnZero) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    ASSERT_TRUE(ShowPage(0));
    EXPECT_FALSE(Get([&] { return form->ComboBoxPedalRes->isEnabled(); }));
    TStringGrid* config = Get([&] { return form->StrGridConfig.get(); });
    const std::string fifth = Get([&] { return config->Cell(5, 0); });

    // A click on column 5 makes column 0 current; what is typed then lands there.
    Click(CellCentre(config, 5, 0));
    ASSERT_TRUE(WaitUntil([&] { return config->hasFocus(); }));
    EXPECT_EQ(Get([&] { return config->currentColumn(); }), 0);
    Type("7");
    Key("Return");
    EXPECT_TRUE(WaitUntil([&] { return config->Cell(0, 0) == "7"; }))
        << "column 0 holds " << Get([&] { return config->Cell(0, 0); });
    EXPECT_EQ(Get([&] { return config->Cell(5, 0); }), fifth);

    // So does a double click: whether it opens an editor or not, what is typed lands in
    // column 0.
    Click(CellCentre(config, 5, 0), 1, 2);
    Key("ctrl+a");
    Type("9");
    Key("Return");
    EXPECT_TRUE(WaitUntil([&] { return config->Cell(0, 0) == "9"; }))
        << "column 0 holds " << Get([&] { return config->Cell(0, 0); }) << ", column 5 "
        << Get([&] { return config->Cell(5, 0); });
    EXPECT_EQ(Get([&] { return config->Cell(5, 0); }), fifth);

    box->ClearLogs();
    Click(Centre(form->ButtonSend));
    ASSERT_TRUE(WaitForChain(kSend2.size())) << "the box received " << box->Received().size();
    EXPECT_EQ(Codes(), kSend2);
    EXPECT_TRUE(WaitUntil([&] {
        return form->StatusBar1->currentMessage() == "Sent and verified.";
    })) << Status().toStdString();
    EXPECT_EQ(box->Contents().config[0] & 0xFF, 9);
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

}  // namespace
