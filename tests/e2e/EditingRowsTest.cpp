// Editing the program tables with the real keyboard and pointer: typed cells, the undo
// keys, and the maths of the tables' menu and shortcuts answered in the real input dialog.
#include <cmath>

#include "Desktop.h"

namespace {

using namespace desktop;
using PT = ProgramTable;

using EditingRows = DesktopTest;

TEST_F(EditingRows, ATypedCellCommitsWithReturnAndTheUndoKeysTakeItBackAndForth) {
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    const std::string boxed = Cell(1, PT::CH1, 4, 1);
    ASSERT_NE(boxed, "1234");
    const auto cell = [&] { return Cell(1, PT::CH1, 4, 1); };

    ASSERT_TRUE(ClickCell(1, PT::CH1, 4, 1));
    Type("1234");
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(4, 1) == "1234"; }))
        << cell();
    EXPECT_EQ(FocusName(), "StrGridP1CH1") << "the editor closed, the table keeps the focus";

    Key("ctrl+z");
    EXPECT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(4, 1) == boxed; }))
        << "Ctrl+Z left " << cell();
    Key("ctrl+y");
    EXPECT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(4, 1) == "1234"; }))
        << "Ctrl+Y left " << cell();
    Key("ctrl+z");
    Key("ctrl+shift+z");
    EXPECT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(4, 1) == "1234"; }))
        << "Ctrl+Shift+Z left " << cell();

    // Undone from another page, the change shows on its own.
    ASSERT_TRUE(ShowPage(3));
    Key("ctrl+z");
    EXPECT_TRUE(WaitUntil([&] {
        return form->PageControl1->currentIndex() == 1 &&
               form->ProgramGrid(1, PT::CH1).Cell(4, 1) == boxed;
    })) << "page "
        << Page() << ", cell " << cell();
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

// How a row reaches an operation of the tables' menu.
enum class Route { MenuByKeys, MenuByPointer, Shortcut };

struct MathsCase {
    const char* name;
    const char* item;      // in the tables' context menu
    const char* shortcut;  // xdotool's keys
    const char* title;     // of the input dialog
    Route route;
    const char* typed;  // the number typed into the dialog
    std::function<long(long)> result;
};

void PrintTo(const MathsCase& row, std::ostream* os) {
    *os << row.name;
}

const MathsCase kMathsCases[] = {
    {"AddByMenuPointer", "Add\u2026", "ctrl+shift+a", "Add", Route::MenuByPointer, "25",
     [](long v) { return v + 25; }},
    {"AddByShortcut", "Add\u2026", "ctrl+shift+a", "Add", Route::Shortcut, "25",
     [](long v) { return v + 25; }},
    {"MultiplyByMenuKeys", "Multiply by %\u2026", "ctrl+shift+m", "Multiply by %",
     Route::MenuByKeys, "50", [](long v) { return std::lround(v * 0.5); }},
    {"MultiplyByShortcut", "Multiply by %\u2026", "ctrl+shift+m", "Multiply by %", Route::Shortcut,
     "50", [](long v) { return std::lround(v * 0.5); }},
    {"SetToByMenuPointer", "Set to\u2026", "ctrl+shift+s", "Set to", Route::MenuByPointer, "-5",
     [](long) { return -5L; }},
    {"SetToByShortcut", "Set to\u2026", "ctrl+shift+s", "Set to", Route::Shortcut, "-5",
     [](long) { return -5L; }},
};

class MathsRows : public DesktopTest, public testing::WithParamInterface<MathsCase> {
  protected:
    // The texts of P1 CH2's PRESS_2 row, columns 3 to 6: the block the rows select.
    std::vector<std::string> Block() {
        return Get([&] {
            std::vector<std::string> texts;
            for (int col = 3; col <= 6; ++col)
                texts.push_back(form->ProgramGrid(1, PT::CH2).Cell(col, 2));
            return texts;
        });
    }
};

TEST_P(MathsRows, TheSelectionChangesByTheTypedNumber) {
    const MathsCase& row = GetParam();
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    const std::vector<std::string> before = Block();
    std::vector<std::string> expected;
    for (const std::string& text : before)
        expected.push_back(std::to_string(row.result(std::stol(text))));
    ASSERT_NE(expected, before);

    // A click on one end of the block and a Shift+click on the other.
    ASSERT_TRUE(ClickCell(1, PT::CH2, 3, 2));
    TStringGrid* grid = Grid(1, PT::CH2);
    KeyDown("shift");
    Click(CellCentre(grid, 6, 2));
    KeyUp("shift");
    ASSERT_TRUE(WaitUntil([&] { return grid->selectionModel()->selectedIndexes().size() == 4; }))
        << "the block was not selected";

    if (row.route == Route::Shortcut) {
        Key(row.shortcut);
    } else {
        Click(CellCentre(grid, 4, 2), 3);
        ASSERT_TRUE(ChooseFromMenu(QString::fromUtf8(row.item), row.route == Route::MenuByKeys));
    }
    const std::optional<Dialog> dialog = WaitForDialog();
    ASSERT_TRUE(dialog) << "no input dialog";
    EXPECT_EQ(dialog->kind, "QInputDialog");
    EXPECT_EQ(dialog->title, row.title);
    Key("ctrl+a");
    Type(row.typed);
    ASSERT_EQ(FieldText(), QString::fromLatin1(row.typed))
        << "the number did not arrive in the dialog";
    Key("Return");
    ASSERT_TRUE(WaitForNoDialog()) << "Return did not close the dialog";

    EXPECT_TRUE(WaitUntil(
        [&] {
            std::vector<std::string> now;
            for (int col = 3; col <= 6; ++col)
                now.push_back(form->ProgramGrid(1, PT::CH2).Cell(col, 2));
            return now == expected;
        },
        3000))
        << "the block holds " << testing::PrintToString(Block()) << ", it should hold "
        << testing::PrintToString(expected) << "; the status bar says \"" << Status().toStdString()
        << "\"; the focus is on \"" << FocusName().toStdString() << '"';
    EXPECT_EQ(Status(), QStringLiteral("%1: 4 values changed").arg(row.title));
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

INSTANTIATE_TEST_SUITE_P(Maths, MathsRows, testing::ValuesIn(kMathsCases),
                         [](const testing::TestParamInfo<MathsCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
