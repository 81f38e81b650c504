// The engine live: "Dyno log ON" and "OFF" with the real buttons, the live labels and the
// dyno log table while the simulated box streams, and the program buttons.
#include <QRegularExpression>

#include "Desktop.h"

namespace {

using namespace desktop;
using PT = ProgramTable;

using LiveRows = DesktopTest;

// The colour a program button's caption shows, as the routines set it.
TColor ButtonColour(TForm1* form, int n) {
    return Get([&] { return form->ControlByName(ProgramButton(n)).Color(); });
}

TEST_F(LiveRows, DynoLogOnFillsTheLabelsAndTheLogAndProgramButtonsWaitUntilItIsOff) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    EXPECT_EQ(ButtonColour(form, 1), clBlue) << "the box runs program 1";
    box->ClearLogs();

    Click(Centre(form->ButtonDynoLog));
    ASSERT_TRUE(WaitUntil([&] { return form->Vars().DynoLogging != 0 && box->LiveOn(); }))
        << "the stream did not start";
    EXPECT_EQ(Get([&] { return form->ButtonDynoLog->text(); }), "Dyno log OFF");
    EXPECT_FALSE(Get([&] { return form->ButtonDownload->isEnabled(); }));
    EXPECT_FALSE(Get([&] { return form->ButtonSend->isEnabled(); }));
    EXPECT_TRUE(Get([&] { return form->RadioButtP1toP9->isChecked(); }))
        << "the running program's record is shown";

    // The labels follow the engine.
    const QRegularExpression rpmText(QStringLiteral("^RPM: \\d+$"));
    const QRegularExpression chText(QStringLiteral("^CH[12]: \\d+ - \\d+\u00B0C$"));
    QString firstRpm;
    ASSERT_TRUE(WaitUntil([&] {
        firstRpm = form->LabelRPM->text();
        return rpmText.match(firstRpm).hasMatch();
    })) << "RPM label: "
        << Get([&] { return form->LabelRPM->text(); }).toStdString();
    EXPECT_TRUE(WaitUntil([&] { return form->LabelRPM->text() != firstRpm; }))
        << "the RPM label stays at " << firstRpm.toStdString();
    for (QLabel* label : {form->LabelPress1, form->LabelPress2}) {
        const QString text = Get([&] { return label->text(); });
        EXPECT_TRUE(chText.match(text).hasMatch()) << text.toStdString();
    }
    EXPECT_TRUE(Get([&] { return form->LabelPress3->text(); }).startsWith("CH3: "));
    EXPECT_TRUE(WaitUntil([&] {
        const TableText& log = form->GridByName(Grid::StrGridDynoLog);
        for (int col = 1; col <= 16; ++col) {
            const std::string text = log.Cell(col, 1);
            if (!text.empty() && text != "0") return true;
        }
        return false;
    })) << "the dyno log stays empty";

    // A program button is refused while the stream runs: the box hears only the switch-off.
    Click(Centre(form->ButtonP[3]));
    Click(Centre(form->ButtonDynoLog));
    ASSERT_TRUE(WaitUntil([&] {
        return form->Vars().DynoLogging == 0 && !form->Vars().LiveDraining && !box->LiveOn();
    })) << "the stream did not stop";
    EXPECT_EQ(Codes(), (std::vector<uint8_t>{Cmd::LiveOn3, Cmd::LiveOff3}));
    EXPECT_EQ(ButtonColour(form, 3), 0x000000u);
    EXPECT_EQ(ButtonColour(form, 1), clBlue);
    EXPECT_EQ(Get([&] { return form->ButtonDynoLog->text(); }), "Dyno log ON");
    EXPECT_TRUE(Get([&] { return form->ButtonDownload->isEnabled(); }));

    // Every message the box sent was taken: the log holds the highest reading near each
    // RPM point.
    const std::vector<LiveSample> sent = box->LiveSent();
    EXPECT_EQ(Get([&] { return form->Vars().LiveMessages; }), sent.size());
    std::vector<std::string> expected, shown;
    OnMain([&] {
        const TableText& log = form->GridByName(Grid::StrGridDynoLog);
        for (int col = 1; col <= 16; ++col) {
            const int point = std::stoi(log.Cell(col, 0));
            std::array<int, 3> highest{-1, -1, -1};
            for (const LiveSample& s : sent) {
                if (s.rpm <= point - 50 || s.rpm >= point + 50) continue;
                highest[0] = std::max<int>(highest[0], s.press1);
                highest[1] = std::max<int>(highest[1], s.press2);
                highest[2] = std::max<int>(highest[2], s.press3);
            }
            if (highest[0] < 0) continue;
            for (int row = 1; row <= 3; ++row) {
                expected.push_back(std::to_string(point) + ": " +
                                   std::to_string(highest[static_cast<size_t>(row - 1)]));
                shown.push_back(std::to_string(point) + ": " + log.Cell(col, row));
            }
        }
    });
    EXPECT_FALSE(expected.empty()) << "no message came near an RPM point";
    EXPECT_EQ(shown, expected);

    // Now the button selects: the box runs program 3, whose button turns blue after the
    // ACK, and its page is shown.
    box->ClearLogs();
    Click(Centre(form->ButtonP[3]));
    EXPECT_TRUE(WaitUntil([&] {
        return form->ControlByName(ProgramButton(3)).Color() == clBlue &&
               form->Vars().Awaiting == 0;
    })) << "program 3's button is not blue";
    const std::vector<ReceivedCommand> received = box->Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].code, Cmd::SelectProgram);
    EXPECT_EQ(received[0].data, std::vector<uint8_t>{3});
    EXPECT_EQ(box->Contents().runningProgram, 3);
    EXPECT_NE(ButtonColour(form, 1), clBlue);
    EXPECT_EQ(Page(), 3);
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

}  // namespace
