// What the tool knows of the box and the tables, through the real window: the count of
// changes not sent, the look before Send in its real dialog, and the backups' list.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>

#include "Desktop.h"

namespace {

using namespace desktop;
using PT = ProgramTable;

const std::vector<uint8_t> kSend3(SendChain('3').begin(), SendChain('3').end());

using SessionRows = DesktopTest;

// Where the tables stand, as the status bar's right part says; on the window's thread.
QString TablesLabelText(TForm1* form) {
    const auto* label = form->findChild<QLabel*>(QStringLiteral("TablesLabel"));
    return label != nullptr ? label->text() : QString();
}

// The same, read from the user's thread.
QString TablesText(TForm1* form) {
    return Get([&] { return TablesLabelText(form); });
}

// A button of the modal dialog on top, by its text.
QPushButton* DialogButton(const QString& text) {
    return Get([&]() -> QPushButton* {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) return nullptr;
        for (QPushButton* button : modal->findChildren<QPushButton*>())
            if (button->text().remove(QLatin1Char('&')) == text) return button;
        return nullptr;
    });
}

// How many 16-bit values differ between two images.
int WordsDiffering(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int differing = 0;
    for (size_t i = 0; i + 1 < std::min(a.size(), b.size()); i += 2)
        differing += a[i] != b[i] || a[i + 1] != b[i + 1];
    return differing;
}

// The status bar counts the edits not sent; with "Show changes before Send" on (set by its
// menu item), Send shows the real dialog with one line per value the send would change:
// Escape writes nothing, Return sends exactly those values.
TEST_F(SessionRows, ThePreviewListsWhatTheSendChangesAndEscapeWritesNothing) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    EXPECT_EQ(TablesText(form), "From box 30012345");
    ASSERT_TRUE(OpenTableMenu(Grid(1, PT::CH1), 3, 2));
    ASSERT_TRUE(ChooseFromMenu("Show changes before Send", false));
    ASSERT_TRUE(WaitUntil([&] { return form->PreviewAction->isChecked(); }));

    const std::string before1 = Cell(1, PT::CH1, 3, 2);
    const std::string before2 = Cell(1, PT::CH2, 5, 1);
    const QString new1 = before1 == "1234" ? "1235" : "1234";
    const QString new2 = before2 == "-77" ? "-78" : "-77";
    ASSERT_TRUE(TypeIntoCell(1, PT::CH1, 3, 2, new1));
    EXPECT_TRUE(WaitUntil([&] {
        return TablesLabelText(form) == "From box 30012345, 1 change not sent";
    })) << TablesText(form).toStdString();
    ASSERT_TRUE(TypeIntoCell(1, PT::CH2, 5, 1, new2));
    EXPECT_TRUE(WaitUntil([&] {
        return TablesLabelText(form) == "From box 30012345, 2 changes not sent";
    })) << TablesText(form).toStdString();
    EXPECT_TRUE(CellRole(1, PT::CH2, 5, 1, CellModel::kChangedRole).toBool())
        << "the edit is underlined";
    EXPECT_FALSE(CellRole(1, PT::CH2, 6, 1, CellModel::kChangedRole).toBool());

    const std::vector<uint8_t> held = box->Contents().EditionImage();
    box->ClearLogs();
    Click(Centre(form->ButtonSend));
    std::optional<Dialog> preview = WaitForDialog();
    ASSERT_TRUE(preview) << "no look before the send";
    EXPECT_EQ(preview->name, "SendPreview");
    EXPECT_EQ(preview->title, "Send to box 30012345");
    const QStringList lines = Get([] {
        auto* list = QApplication::activeModalWidget()->findChild<QPlainTextEdit*>("Changes");
        return list != nullptr ? list->toPlainText().split(QLatin1Char('\n')) : QStringList();
    });
    ASSERT_EQ(lines.size(), 2) << lines.join(" | ").toStdString();
    EXPECT_TRUE(lines
                    .filter(QRegularExpression(QStringLiteral("^P1 CH1 .*: %1 \u2192 %2$")
                                                   .arg(QString::fromStdString(before1), new1)))
                    .size() == 1)
        << lines.join(" | ").toStdString();
    EXPECT_TRUE(lines
                    .filter(QRegularExpression(QStringLiteral("^P1 CH2 .*: %1 \u2192 %2$")
                                                   .arg(QString::fromStdString(before2), new2)))
                    .size() == 1)
        << lines.join(" | ").toStdString();

    Key("Escape");
    ASSERT_TRUE(WaitForNoDialog());
    EXPECT_FALSE(WaitForDialog(300));
    for (const uint8_t code : Codes()) EXPECT_FALSE(IsSendWrite(code)) << "wrote " << int(code);
    EXPECT_EQ(box->Contents().EditionImage(), held);
    EXPECT_EQ(TablesText(form), "From box 30012345, 2 changes not sent");

    Click(Centre(form->ButtonSend));
    preview = WaitForDialog();
    ASSERT_TRUE(preview) << "no look before the second send";
    Key("Return");  // Send, the default
    ASSERT_TRUE(WaitForChain(kSend3.size())) << "the box received " << box->Received().size();
    EXPECT_EQ(Codes(), kSend3);
    EXPECT_EQ(BoxValue(1, PT::CH1, 3, 2), new1.toStdString());
    EXPECT_EQ(BoxValue(1, PT::CH2, 5, 1), new2.toStdString());
    EXPECT_EQ(WordsDiffering(held, box->Contents().EditionImage()), 2)
        << "the send changed what the look listed, nothing else";
    EXPECT_TRUE(WaitUntil([&] {
        return TablesLabelText(form).startsWith("As sent to box 30012345 at ");
    })) << TablesText(form).toStdString();
    EXPECT_FALSE(CellRole(1, PT::CH2, 5, 1, CellModel::kChangedRole).toBool())
        << "sent: no underline";

    // Undo counts against what was sent.
    ASSERT_TRUE(ClickCell(1, PT::CH2, 5, 1));
    Key("ctrl+z");
    EXPECT_TRUE(WaitUntil([&] {
        return TablesLabelText(form) == "From box 30012345, 1 change not sent";
    })) << TablesText(form).toStdString();
}

// Ctrl+B lists the backup that the send wrote; "Compare" marks where the tables differ from
// it, "Open" brings its values back as one undo step.
TEST_F(SessionRows, BackupsListsTheSendsBackupToCompareAndOpen) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    const std::string held = Cell(1, PT::CH1, 3, 2);
    const QString edited = held == "1234" ? "1235" : "1234";
    ASSERT_TRUE(TypeIntoCell(1, PT::CH1, 3, 2, edited));
    box->ClearLogs();
    Click(Centre(form->ButtonSend));
    ASSERT_TRUE(WaitForChain(kSend3.size()));
    ASSERT_TRUE(WaitUntil([&] {
        return form->StatusBar1->currentMessage() == "Sent and verified.";
    })) << Status().toStdString();

    box->ClearLogs();
    Key("ctrl+b");
    std::optional<Dialog> backups = WaitForDialog();
    ASSERT_TRUE(backups) << "no list of backups";
    EXPECT_EQ(backups->name, "Backups");
    const QStringList rows = Get([] {
        QStringList texts;
        auto* list = QApplication::activeModalWidget()->findChild<QTreeWidget*>("BackupList");
        for (int k = 0; list != nullptr && k < list->topLevelItemCount(); ++k)
            texts << list->topLevelItem(k)->text(0) + " " + list->topLevelItem(k)->text(2);
        return texts;
    });
    EXPECT_EQ(rows, QStringList{"30012345 3 channels"});
    QPushButton* compare = DialogButton("Compare");
    ASSERT_NE(compare, nullptr);
    Click(Centre(compare));
    ASSERT_TRUE(WaitForNoDialog());
    EXPECT_TRUE(WaitUntil([&] {
        return form->StatusBar1->currentMessage().startsWith("1 value differs from 30012345-");
    })) << Status().toStdString();
    EXPECT_FALSE(Mark(1, PT::CH1, 3, 2).isEmpty()) << "the differing cell is marked";

    Key("ctrl+b");
    backups = WaitForDialog();
    ASSERT_TRUE(backups) << "no list of backups the second time";
    QPushButton* open = DialogButton("Open");
    ASSERT_NE(open, nullptr);
    Click(Centre(open));
    ASSERT_TRUE(WaitForNoDialog());
    EXPECT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(3, 2) == held; }))
        << Cell(1, PT::CH1, 3, 2);
    EXPECT_TRUE(TablesText(form).startsWith("From file 30012345-"))
        << TablesText(form).toStdString();
    EXPECT_TRUE(Codes().empty()) << "comparing with and opening a backup say nothing to the box";

    ASSERT_TRUE(ClickCell(1, PT::CH1, 4, 2));
    Key("ctrl+z");
    EXPECT_TRUE(WaitUntil([&] {
        return form->ProgramGrid(1, PT::CH1).Cell(3, 2) == edited.toStdString();
    })) << "one Ctrl+Z takes the opened backup back: "
        << Cell(1, PT::CH1, 3, 2);
}

}  // namespace
