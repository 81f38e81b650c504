// What a tuner does to the program tables beyond typing: the tables' menu (undo, redo, a
// compared file, the marks), the program clipboard, the channel copy, "Set RPM to ALL",
// ranges through the system clipboard, interpolation and colouring by value. Each row
// drives the real buttons, menus, shortcuts and file dialog.
#include <QAction>
#include <QClipboard>
#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <map>

#include "Desktop.h"

namespace {

using namespace desktop;
using PT = ProgramTable;

const std::vector<uint8_t> kSend3(SendChain('3').begin(), SendChain('3').end());

// The value cells of a program table (columns 1 to 16), row by row. Read on the window's
// thread: inside WaitUntil, or through Get.
using Texts = std::vector<std::vector<std::string>>;

Texts TextsOf(TForm1* form, int program, PT table) {
    const TableText& grid = form->ProgramGrid(program, table);
    Texts texts(static_cast<size_t>(grid.RowCount()));
    for (int row = 0; row < grid.RowCount(); ++row) {
        for (int col = 1; col <= 16; ++col)
            texts[static_cast<size_t>(row)].push_back(grid.Cell(col, row));
    }
    return texts;
}

// Every program's four tables, by program and table.
using Tables = std::map<std::pair<int, int>, Texts>;

Tables TablesOf(TForm1* form) {
    Tables tables;
    for (int program = 1; program <= 9; ++program) {
        for (int table = 0; table < 4; ++table)
            tables[{program, table}] = TextsOf(form, program, static_cast<PT>(table));
    }
    return tables;
}

Texts TableTexts(TForm1* form, int program, PT table) {
    return Get([&] { return TextsOf(form, program, table); });
}

Tables AllTables(TForm1* form) {
    return Get([&] { return TablesOf(form); });
}

using TableRows = DesktopTest;

// Undo and Redo as the tables' context menu offers them, picked by keys or by the pointer.
struct MenuUndoCase {
    const char* name;
    bool byKeys;
};

void PrintTo(const MenuUndoCase& row, std::ostream* os) {
    *os << row.name;
}

class MenuUndoRows : public DesktopTest, public testing::WithParamInterface<MenuUndoCase> {};

TEST_P(MenuUndoRows, UndoAndRedoFromTheTablesMenu) {
    const bool byKeys = GetParam().byKeys;
    const std::string before = Cell(1, PT::CH1, 4, 1);
    ASSERT_NE(before, "1234");
    ASSERT_TRUE(TypeIntoCell(1, PT::CH1, 4, 1, "1234"));

    // From another page's table: the change is undone on its own page, which is shown.
    ASSERT_TRUE(ShowPage(3));
    ASSERT_TRUE(OpenTableMenu(Grid(3, PT::CH2), 7, 2));
    ASSERT_TRUE(ChooseFromMenu("Undo", byKeys));
    EXPECT_TRUE(WaitUntil([&] {
        return form->PageControl1->currentIndex() == 1 &&
               form->ProgramGrid(1, PT::CH1).Cell(4, 1) == before;
    })) << "page "
        << Page() << ", cell " << Cell(1, PT::CH1, 4, 1);

    ASSERT_TRUE(OpenTableMenu(Grid(1, PT::CH1), 9, 2));
    EXPECT_FALSE(Get([&] { return form->UndoAction->isEnabled(); })) << "nothing left to undo";
    ASSERT_TRUE(ChooseFromMenu("Redo", byKeys));
    EXPECT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(4, 1) == "1234"; }))
        << "Redo left " << Cell(1, PT::CH1, 4, 1);
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

INSTANTIATE_TEST_SUITE_P(Menu, MenuUndoRows,
                         testing::Values(MenuUndoCase{"ByKeys", true},
                                         MenuUndoCase{"ByPointer", false}),
                         [](const testing::TestParamInfo<MenuUndoCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(TableRows, CopyProgOnOnePageAndPasteProgOnAnotherThenCtrlZ) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    box->ClearLogs();
    ASSERT_TRUE(ShowPage(2));
    EXPECT_FALSE(Get([&] { return form->ButtonPasteProg->isEnabled(); })) << "nothing copied yet";
    Click(Centre(form->ButtonCopyProg));
    ASSERT_TRUE(WaitUntil([&] {
        return form->LabelCopiedProg->text() == "2" && form->ButtonPasteProg->isEnabled();
    })) << "the label says "
        << Get([&] { return form->LabelCopiedProg->text(); }).toStdString();

    const auto before = AllTables(form);
    ASSERT_NE(before.at({5, 0}), before.at({2, 0}));
    ASSERT_TRUE(ShowPage(5));
    Click(Centre(form->ButtonPasteProg));
    for (int table = 0; table < 4; ++table) {
        EXPECT_TRUE(WaitUntil([&] {
            return TextsOf(form, 5, static_cast<PT>(table)) == before.at({2, table});
        })) << "P5 table "
            << table << " is not P2's";
    }
    EXPECT_EQ(Cell(5, PT::CH1, 0, 0), "RPM_1") << "the labels stay";
    auto expected = before;
    for (int table = 0; table < 4; ++table) expected[{5, table}] = before.at({2, table});
    EXPECT_EQ(AllTables(form), expected) << "only P5 changed";

    Key("ctrl+z");
    EXPECT_TRUE(WaitUntil([&] { return TablesOf(form) == before; })) << "Ctrl+Z left P5 pasted";
    EXPECT_TRUE(box->Received().empty()) << "the program clipboard says nothing to the box";
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

// The "Channel copy" group: the source channel's radio button, the ticked channels it goes
// onto, and "Copy and send".
struct ChannelCopyCase {
    const char* name;
    int source;                   // 0 CH1, 1 CH2, 2 CH3
    std::array<bool, 3> targets;  // ticked after the row's clicks
    bool send;
};

void PrintTo(const ChannelCopyCase& row, std::ostream* os) {
    *os << row.name;
}

const ChannelCopyCase kChannelCopyCases[] = {
    // As the window starts: CH1 onto CH2.
    {"AsAtStartCH1OntoCH2", 0, {false, true, false}, false},
    {"CH3OntoCH1AndCH2", 2, {true, true, false}, false},
    // CH2's own box stays ticked: a source never goes onto itself.
    {"CH2OntoCH3AndSend", 1, {false, true, true}, true},
};

class ChannelCopyRows : public DesktopTest, public testing::WithParamInterface<ChannelCopyCase> {};

TEST_P(ChannelCopyRows, CopyPasteCopiesTheChosenChannelOntoTheTickedOnes) {
    const ChannelCopyCase& row = GetParam();
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    ASSERT_TRUE(ShowPage(3));
    const std::array<QRadioButton*, 3> sources = {form->RadioButtCH1, form->RadioButtCH2,
                                                  form->RadioButtCH3};
    const std::array<QCheckBox*, 3> targets = {form->CheckBoxCH1, form->CheckBoxCH2,
                                               form->CheckBoxCH3};
    if (!Get([&] { return sources[row.source]->isChecked(); })) {
        Click(Centre(sources[row.source]));
        ASSERT_TRUE(WaitUntil([&] { return sources[row.source]->isChecked(); }))
            << "the radio button did not take the click";
    }
    for (size_t ch = 0; ch < 3; ++ch) {
        if (Get([&] { return targets[ch]->isChecked(); }) == row.targets[ch]) continue;
        Click(Centre(targets[ch]));
        ASSERT_TRUE(WaitUntil([&] { return targets[ch]->isChecked() == row.targets[ch]; }))
            << "CH" << ch + 1 << "'s box did not take the click";
    }
    if (row.send) {
        Click(Centre(form->CheckBoxCopySend));
        ASSERT_TRUE(WaitUntil([&] { return form->CheckBoxCopySend->isChecked(); }));
    }

    const auto before = AllTables(form);
    auto expected = before;
    for (int ch = 0; ch < 3; ++ch) {
        if (ch != row.source && row.targets[static_cast<size_t>(ch)])
            expected[{3, ch}] = before.at({3, row.source});
    }
    ASSERT_NE(expected, before);
    box->ClearLogs();
    Click(Centre(form->ButtonCopyPaste));
    EXPECT_TRUE(WaitUntil([&] { return TablesOf(form) == expected; }))
        << "the tables after Copy \u2192 Paste are not the copy";

    if (row.send) {
        ASSERT_TRUE(WaitForChain(kSend3.size())) << "the box received " << box->Received().size();
        EXPECT_EQ(Codes(), kSend3);
        EXPECT_TRUE(WaitUntil([&] {
            return form->StatusBar1->currentMessage() == "Sent and verified.";
        })) << Status().toStdString();
        for (int ch = 0; ch < 3; ++ch) {
            for (int r = 0; r < 4; ++r) {
                for (int col = 1; col <= 16; ++col) {
                    EXPECT_EQ(
                        BoxValue(3, static_cast<PT>(ch), col, r),
                        expected.at({3, ch})[static_cast<size_t>(r)][static_cast<size_t>(col - 1)])
                        << "the box's P3 CH" << ch + 1 << " row " << r << " column " << col;
                }
            }
        }
    } else {
        EXPECT_TRUE(box->Received().empty()) << "without \"Copy and send\" the box hears nothing";
        Key("ctrl+z");
        EXPECT_TRUE(WaitUntil([&] { return TablesOf(form) == before; }))
            << "Ctrl+Z did not take the copy back";
    }
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

INSTANTIATE_TEST_SUITE_P(ChannelCopy, ChannelCopyRows, testing::ValuesIn(kChannelCopyCases),
                         [](const testing::TestParamInfo<ChannelCopyCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(TableRows, SetRpmToAllWritesTheShownRpmRowIntoEveryChannelTable) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    ASSERT_TRUE(TypeIntoCell(4, PT::CH1, 7, 0, "4321"));
    const auto before = AllTables(form);
    const std::vector<std::string> rpm = before.at({4, 0})[0];

    Click(Centre(form->ButtonSetRPM));
    auto expected = before;
    for (int program = 1; program <= 9; ++program) {
        for (int ch = 0; ch < 3; ++ch) expected[{program, ch}][0] = rpm;
    }
    EXPECT_TRUE(WaitUntil([&] { return TablesOf(form) == expected; }))
        << "the RPM rows are not P4's everywhere";

    Key("ctrl+z");
    EXPECT_TRUE(WaitUntil([&] { return TablesOf(form) == before; }))
        << "one Ctrl+Z did not take back the whole of it";
    EXPECT_EQ(Cell(4, PT::CH1, 7, 0), "4321") << "the typed cell is another step";
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

TEST_F(TableRows, CompareWithFileMarksFollowAnEditAndItsUndoUntilCleared) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    const BoxContents contents = box->Contents();
    std::vector<uint8_t> image = contents.EditionImage();
    struct Changed {
        int program;
        PT table;
        int col;
        int row;
        int16_t delta;
    };
    const Changed changed[] = {
        {1, PT::CH1, 3, 2, 7}, {2, PT::CH2, 5, 1, -3}, {7, PT::Fuel, 9, 0, 11}};
    for (const Changed& c : changed) {
        const auto value = static_cast<int16_t>(
            std::stoi(ImageValue(image, c.program, c.table, c.col, c.row)) + c.delta);
        SetImageValue(image, c.program, c.table, c.col, c.row, value);
    }
    std::array<uint16_t, 16> config{};
    std::copy(contents.config.begin(), contents.config.end(), config.begin());
    {
        QFile file(Path("cmp.bin"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(TuningFile(image, config));
    }
    const auto fileValue = [&](const Changed& c) {
        return ImageValue(image, c.program, c.table, c.col, c.row);
    };
    const auto marked = [&] {
        std::vector<QString> marks;
        for (const Changed& c : changed) marks.push_back(Mark(c.program, c.table, c.col, c.row));
        return marks;
    };
    std::vector<QString> tips;
    for (const Changed& c : changed)
        tips.push_back(QString::fromStdString("In cmp.bin: " + fileValue(c)));

    ASSERT_TRUE(OpenTableMenu(Grid(1, PT::CH1), 6, 1));
    ASSERT_TRUE(ChooseFromMenu("Compare with file\u2026", false));
    ASSERT_TRUE(AnswerFileDialog("OpenDialog1", Path("cmp.bin")));
    EXPECT_TRUE(WaitUntil([&] {
        return form->StatusBar1->currentMessage() == "3 values differ from cmp.bin";
    })) << Status().toStdString();
    EXPECT_EQ(marked(), tips);
    EXPECT_EQ(Mark(1, PT::CH1, 4, 2), "") << "a cell equal to the file's has no mark";

    // Typed as the file has it: the mark goes and the count follows.
    const std::string boxed = Cell(1, PT::CH1, 3, 2);
    ASSERT_TRUE(TypeIntoCell(1, PT::CH1, 3, 2, QString::fromStdString(fileValue(changed[0]))));
    EXPECT_TRUE(WaitUntil([&] {
        return form->StatusBar1->currentMessage() == "2 values differ from cmp.bin";
    })) << Status().toStdString();
    EXPECT_EQ(Mark(1, PT::CH1, 3, 2), "");

    Key("ctrl+z");
    EXPECT_TRUE(WaitUntil([&] {
        return form->ProgramGrid(1, PT::CH1).Cell(3, 2) == boxed &&
               form->StatusBar1->currentMessage() == "3 values differ from cmp.bin";
    })) << Cell(1, PT::CH1, 3, 2)
        << "; " << Status().toStdString();
    EXPECT_EQ(marked(), tips) << "Ctrl+Z brings the mark back";

    ASSERT_TRUE(OpenTableMenu(Grid(1, PT::CH1), 6, 1));
    ASSERT_TRUE(ChooseFromMenu("Clear marks", true));
    EXPECT_TRUE(WaitUntil([&] {
        for (const Changed& c : changed) {
            if (!form->ProgramGrid(c.program, c.table).CellMark(c.col, c.row).isEmpty())
                return false;
        }
        return true;
    })) << testing::PrintToString(marked());
    EXPECT_FALSE(CellRole(1, PT::CH1, 3, 2, Qt::BackgroundRole).isValid()) << "no colour left";
    EXPECT_EQ(Codes(), (std::vector<uint8_t>(DownloadChain('3').begin(), DownloadChain('3').end())))
        << "a comparison says nothing to the box";
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

TEST_F(TableRows, CopyRangeAndPasteRangeMoveABlockBetweenTablesThroughTheClipboard) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    ASSERT_TRUE(SelectBlock(1, PT::CH1, 3, 1, 5, 2));
    Key("ctrl+shift+c");
    std::string copied;
    std::vector<std::vector<std::string>> block(2);
    for (int row = 1; row <= 2; ++row) {
        for (int col = 3; col <= 5; ++col) {
            block[static_cast<size_t>(row - 1)].push_back(Cell(1, PT::CH1, col, row));
            copied += Cell(1, PT::CH1, col, row) + (col < 5 ? "\t" : "\n");
        }
    }
    EXPECT_TRUE(WaitUntil([&] {
        return QGuiApplication::clipboard()->text() == QString::fromStdString(copied);
    })) << "the clipboard holds \""
        << Get([] { return QGuiApplication::clipboard()->text(); }).toStdString() << '"';

    const auto before = AllTables(form);
    auto expected = before;
    for (int row = 1; row <= 2; ++row) {
        for (int col = 6; col <= 8; ++col) {
            expected[{2, 1}][static_cast<size_t>(row)][static_cast<size_t>(col - 1)] =
                block[static_cast<size_t>(row - 1)][static_cast<size_t>(col - 6)];
        }
    }
    ASSERT_NE(expected, before);
    ASSERT_TRUE(ClickCell(2, PT::CH2, 6, 1));
    Key("ctrl+shift+v");
    EXPECT_TRUE(WaitUntil([&] { return TablesOf(form) == expected; }))
        << "P2 CH2 does not hold the block at column 6, row 1";
    Key("ctrl+z");
    EXPECT_TRUE(WaitUntil([&] { return TablesOf(form) == before; }))
        << "Ctrl+Z did not take the paste back";
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

// Text another program put on the clipboard, pasted at a cell of P1 CH1 with Ctrl+Shift+V.
struct PasteTextCase {
    const char* name;
    const char* text;
    int col;  // of the current cell, in row 1
    // The cells that change, and the text each shows after; every other cell keeps its own.
    std::vector<std::pair<std::pair<int, int>, const char*>> cells;
    const char* message;  // the refusal, when nothing changes
};

void PrintTo(const PasteTextCase& row, std::ostream* os) {
    *os << row.name;
}

const PasteTextCase kPasteTextCases[] = {
    {"TabsWithATrailingTab",
     "11\t22\t\n33\t44\t\n",
     4,
     {{{4, 1}, "11"}, {{5, 1}, "22"}, {{4, 2}, "33"}, {{5, 2}, "44"}},
     nullptr},
    {"AQuotedField", "\"-55\"\t66\r\n", 4, {{{4, 1}, "-55"}, {{5, 1}, "66"}}, nullptr},
    {"AnEmptyFieldLeavesItsCell", "77\t\t88", 4, {{{4, 1}, "77"}, {{6, 1}, "88"}}, nullptr},
    {"SemicolonsCutOffAtTheTablesEdge",
     "1;2;3\n4;5;6",
     15,
     {{{15, 1}, "1"}, {{16, 1}, "2"}, {{15, 2}, "4"}, {{16, 2}, "5"}},
     nullptr},
    {"AFieldOutOfRange",
     "1\t40000\n",
     4,
     {},
     "Nothing was pasted: 40000 in line 1, field 2 of the copied block is outside -32768 to "
     "32767."},
    {"AFieldThatIsNoNumber",
     "1\t2\n3\tx7\n",
     4,
     {},
     "Nothing was pasted: \"x7\" in line 2, field 2 of the copied block is not a whole number."},
};

class PasteTextRows : public DesktopTest, public testing::WithParamInterface<PasteTextCase> {};

TEST_P(PasteTextRows, PasteRangeTakesTheClipboardsText) {
    const PasteTextCase& row = GetParam();
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    const auto before = AllTables(form);
    auto expected = before;
    for (const auto& [place, text] : row.cells) {
        expected[{1, 0}][static_cast<size_t>(place.second)][static_cast<size_t>(place.first - 1)] =
            text;
    }
    ASSERT_TRUE(
        OnMain([&] { QGuiApplication::clipboard()->setText(QString::fromUtf8(row.text)); }));
    ASSERT_TRUE(ClickCell(1, PT::CH1, row.col, 1));
    Key("ctrl+shift+v");

    if (row.message != nullptr) {
        const std::optional<Dialog> message = WaitForDialog();
        ASSERT_TRUE(message) << "no message";
        EXPECT_EQ(message->kind, "QMessageBox");
        EXPECT_EQ(message->text, QString::fromUtf8(row.message));
        Key("Return");
        ASSERT_TRUE(WaitForNoDialog()) << "Return did not close the message";
        EXPECT_EQ(AllTables(form), before) << "nothing changes";
    } else {
        EXPECT_TRUE(WaitUntil([&] { return TablesOf(form) == expected; }))
            << "P1 CH1 row 1: " << testing::PrintToString(TableTexts(form, 1, PT::CH1)[1])
            << "; row 2: " << testing::PrintToString(TableTexts(form, 1, PT::CH1)[2]);
        EXPECT_FALSE(WaitForDialog(300)) << "no message";
    }
}

INSTANTIATE_TEST_SUITE_P(Clipboard, PasteTextRows, testing::ValuesIn(kPasteTextCases),
                         [](const testing::TestParamInfo<PasteTextCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(TableRows, InterpolateFillsASelectedBlockFromItsCorners) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    // Corners whose bilinear blend is whole everywhere: 100 a column, 400 a row.
    ASSERT_TRUE(TypeIntoCell(1, PT::CH2, 2, 1, "0"));
    ASSERT_TRUE(TypeIntoCell(1, PT::CH2, 6, 1, "400"));
    ASSERT_TRUE(TypeIntoCell(1, PT::CH2, 2, 3, "800"));
    ASSERT_TRUE(TypeIntoCell(1, PT::CH2, 6, 3, "1200"));
    const auto before = AllTables(form);
    auto expected = before;
    for (int row = 1; row <= 3; ++row) {
        for (int col = 2; col <= 6; ++col) {
            expected[{1, 1}][static_cast<size_t>(row)][static_cast<size_t>(col - 1)] =
                std::to_string(100 * (col - 2) + 400 * (row - 1));
        }
    }
    ASSERT_TRUE(SelectBlock(1, PT::CH2, 2, 1, 6, 3));
    Key("ctrl+shift+i");
    EXPECT_TRUE(WaitUntil([&] { return TablesOf(form) == expected; }))
        << "rows 1 to 3: " << testing::PrintToString(TableTexts(form, 1, PT::CH2));
    EXPECT_EQ(Status(), "Interpolate: 11 values changed");
    Key("ctrl+z");
    EXPECT_TRUE(WaitUntil([&] { return TablesOf(form) == before; }))
        << "Ctrl+Z did not take the interpolation back";
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

TEST_F(TableRows, ColourByValueTogglesTheCellsBackground) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    // The PRESS row as the box has it rises from column 1 to 16.
    ASSERT_LT(std::stoi(Cell(1, PT::CH1, 1, 2)), std::stoi(Cell(1, PT::CH1, 16, 2)));
    ASSERT_TRUE(TypeIntoCell(1, PT::CH1, 9, 2, "12a"));
    const QColor tint = CellRole(1, PT::CH1, 9, 2, Qt::BackgroundRole).value<QColor>();
    const auto background = [&](int col) {
        return CellRole(1, PT::CH1, col, 2, Qt::BackgroundRole);
    };
    EXPECT_FALSE(background(1).isValid()) << "no colour at start";

    Key("ctrl+shift+h");
    EXPECT_TRUE(WaitUntil([&] { return form->ColourByValueAction->isChecked(); }));
    const QColor lowest = background(1).value<QColor>();
    const QColor highest = background(16).value<QColor>();
    EXPECT_TRUE(lowest.isValid() && lowest.hsvHue() == 240)
        << "the lowest value is not blue: " << lowest.name().toStdString();
    EXPECT_TRUE(highest.isValid() && highest.hsvHue() == 0)
        << "the highest value is not red: " << highest.name().toStdString();
    EXPECT_EQ(background(9).value<QColor>(), tint) << "a text the box cannot store stays tinted";

    // Off again from the menu, by the pointer.
    ASSERT_TRUE(OpenTableMenu(Grid(1, PT::CH1), 5, 1));
    ASSERT_TRUE(ChooseFromMenu("Colour by value", false));
    EXPECT_TRUE(WaitUntil([&] { return !form->ColourByValueAction->isChecked(); }));
    EXPECT_FALSE(background(1).isValid());
    EXPECT_FALSE(background(16).isValid());
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

}  // namespace
