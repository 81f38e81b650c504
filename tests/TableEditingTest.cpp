#include "Conversions.h"
#include "TableEditing.h"
#include "TestSupport.h"

namespace {

using PT = ProgramTable;

struct KeyCase {
    const char* name;
    int key;
    bool ctrl;
    int col, row;
    const char* cell;                // text of the current cell before the key
    std::vector<std::string> after;  // row texts of columns 1..16 after the key ("" = unchanged)
    int64_t cellValue;               // CellValue afterwards (starts at 77)
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<std::string> Changed(int col, const std::string& text) {
    std::vector<std::string> row(16);
    row[static_cast<size_t>(col - 1)] = text;
    return row;
}

std::vector<std::string> Range(int from, int to, const std::string& text) {
    std::vector<std::string> row(16);
    for (int c = from; c <= to; ++c) row[static_cast<size_t>(c - 1)] = text;
    return row;
}

class EditCellByKeyCases : public testing::TestWithParam<KeyCase> {};

TEST_P(EditCellByKeyCases, StepsFillsCopiesAndPastes) {
    const KeyCase& c = GetParam();
    MemoryGrid grid(17, 4, 1, 0);
    for (int row = 0; row < 4; ++row) {
        for (int col = 1; col <= 16; ++col) grid.SetCell(col, row, "r" + std::to_string(row));
    }
    grid.SetCell(c.col, c.row, c.cell);
    grid.SetCol(c.col);
    grid.SetRow(c.row);
    Variables vars;
    vars.CellValue = 77;
    EditCellByKey(vars, grid, c.key, c.ctrl);
    for (int col = 1; col <= 16; ++col) {
        const std::string& expected = c.after[static_cast<size_t>(col - 1)];
        const std::string unchanged = col == c.col ? c.cell : "r" + std::to_string(c.row);
        EXPECT_EQ(grid.Cell(col, c.row), expected.empty() ? unchanged : expected)
            << "column " << col;
    }
    for (int row = 0; row < 4; ++row) {
        if (row != c.row) {
            EXPECT_EQ(grid.Cell(5, row), "r" + std::to_string(row));
        }
    }
    EXPECT_EQ(vars.CellValue, c.cellValue);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, EditCellByKeyCases,
    testing::Values(KeyCase{"UpPositive", kVkUp, true, 3, 1, "95", Changed(3, "105"), 105},
                    KeyCase{"UpNegative", kVkUp, true, 3, 1, "-20", Changed(3, "-30"), -30},
                    KeyCase{"UpZero", kVkUp, true, 3, 1, "0", Changed(3, "10"), 10},
                    KeyCase{"UpLeadingZeros", kVkUp, true, 3, 1, "007", Changed(3, "17"), 17},
                    KeyCase{"DownPositive", kVkDown, true, 3, 1, "95", Changed(3, "85"), 85},
                    KeyCase{"DownThroughZero", kVkDown, true, 3, 1, "5", Changed(3, "-5"), -5},
                    KeyCase{"DownZero", kVkDown, true, 3, 1, "0", Changed(3, "-10"), -10},
                    KeyCase{"DownNegative", kVkDown, true, 3, 1, "-20", Changed(3, "-10"), -10},
                    KeyCase{"DownSmallNegative", kVkDown, true, 3, 1, "-5", Changed(3, "5"), 5},
                    KeyCase{"UpPastInt32", kVkUp, true, 1, 0, "2147483647",
                            Changed(1, "2147483657"), 2147483657LL},
                    KeyCase{"UpPastInt32Min", kVkUp, true, 1, 0, "-2147483648",
                            Changed(1, "-2147483658"), -2147483658LL},
                    KeyCase{"RightFills", kVkRight, true, 5, 2, "120", Range(5, 16, "120"), 120},
                    KeyCase{"LeftFills", kVkLeft, true, 5, 2, "120", Range(1, 5, "120"), 120},
                    KeyCase{"RightNormalises", kVkRight, true, 16, 3, "+007", Range(16, 16, "7"),
                            7},
                    KeyCase{"CopyKeepsCell", kVkC, true, 4, 0, "-15", Changed(4, "-15"), -15},
                    KeyCase{"PasteWritesCellValue", kVkV, true, 9, 3, "1", Changed(9, "77"), 77},
                    KeyCase{"NoCtrlDoesNothing", kVkUp, false, 3, 1, "95", Changed(3, "95"), 77},
                    KeyCase{"OtherKeyDoesNothing", 'X', true, 3, 1, "95", Changed(3, "95"), 77}));

TEST(EditCellByKey, ConversionErrorChangesNothing) {
    for (int key : {kVkUp, kVkDown, kVkRight, kVkLeft, kVkC}) {
        MemoryGrid grid(17, 4, 1, 0);
        for (int col = 1; col <= 16; ++col) grid.SetCell(col, 1, "4");
        grid.SetCell(6, 1, "");
        grid.SetCol(6);
        grid.SetRow(1);
        Variables vars;
        vars.CellValue = 33;
        try {
            EditCellByKey(vars, grid, key, true);
            ADD_FAILURE() << "no error for key " << key;
        } catch (const ConversionError& error) {
            EXPECT_STREQ(error.what(), "'' is not a valid integer value");
        }
        EXPECT_EQ(vars.CellValue, 33);
        EXPECT_EQ(grid.Cell(5, 1), "4");
        EXPECT_EQ(grid.Cell(7, 1), "4");
        EXPECT_EQ(grid.Cell(6, 1), "");
    }
}

TEST(ProgramTableKeyDown, EditsTheFocusedProgramTableAndRedraws) {
    MemoryForm form;
    FillDistinct(form);
    for (int t = 0; t < 3; ++t) form.Program(7, static_cast<PT>(t)).SetCell(1, 0, "100");
    form.SetPageIndex(7);
    Variables vars;
    vars.CellValue = -15;
    MemoryGrid& fuel = form.Program(7, PT::Fuel);
    fuel.SetFocused(true);
    fuel.SetCol(2);
    ProgramTableKeyDown(form, vars, kVkV, true);
    EXPECT_EQ(fuel.Cell(2, 0), "-15");
    EXPECT_EQ(form.Series(1).Count(), 16) << "charts redrawn";
    EXPECT_EQ(form.Series(1).Label(0), "100");

    // Keys from other tables are not program-table keys: no edit, no redraw.
    fuel.SetFocused(false);
    form.Series(1).Clear();
    ProgramTableKeyDown(form, vars, kVkV, true);
    EXPECT_EQ(form.Series(1).Count(), 0);
}

TEST(ConfigRowMouseDown, TwoChannelBoxesKeepColumnZero) {
    for (const auto& [edition, expected] :
         {std::pair{'2', 0}, std::pair{'3', 5}, std::pair{'\0', 5}}) {
        MemoryGrid config(16, 1);
        config.SetCol(5);
        ConfigRowMouseDown(config, edition);
        EXPECT_EQ(config.Col(), expected) << "edition '" << edition << "'";
    }
}

TEST(SetRpmToAll, CopiesTheShownCh1RpmRowIntoAll27ChannelTables) {
    MemoryForm form;
    FillDistinct(form);
    form.Program(4, PT::CH1).SetCell(2, 0, "");
    form.SetPageIndex(4);
    const auto before = AllProgramTexts(form);
    Variables vars;
    SetRpmToAll(form, vars);
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 3; ++t) {
            for (int col = 1; col <= 16; ++col) {
                EXPECT_EQ(form.Program(n, static_cast<PT>(t)).Cell(col, 0),
                          col == 2 ? "" : ValueAt(4, 0, col, 0));
            }
            EXPECT_EQ(form.Program(n, static_cast<PT>(t)).Cell(1, 1), ValueAt(n, t, 1, 1));
        }
        EXPECT_EQ(form.Program(n, PT::Fuel).Cell(1, 0), ValueAt(n, 3, 1, 0));
    }
    // On the Service page nothing is captured or propagated.
    form.SetPageIndex(0);
    FillDistinct(form);
    SetRpmToAll(form, vars);
    EXPECT_EQ(form.Program(1, PT::CH2).Cell(3, 0), ValueAt(1, 1, 3, 0));
}

TEST(ProgramClipboard, CopyOnP3PasteOnP5MovesAllFourTablesAsTexts) {
    MemoryForm form;
    FillDistinct(form);
    form.Program(3, PT::CH3).SetCell(4, 2, "not a number");
    form.Program(5, PT::CH1).SetCell(0, 1, "label stays");
    Variables vars;

    form.SetPageIndex(0);
    EXPECT_EQ(CopyShownProgram(form, vars), 0);
    form.SetPageIndex(5);
    const auto before = AllProgramTexts(form);
    PasteShownProgram(form, vars);
    EXPECT_EQ(AllProgramTexts(form), before) << "nothing was ever copied from a program";

    form.SetPageIndex(3);
    EXPECT_EQ(CopyShownProgram(form, vars), 3);
    form.SetPageIndex(0);
    EXPECT_EQ(CopyShownProgram(form, vars), 0);  // keeps the program copied before
    form.SetPageIndex(0);
    PasteShownProgram(form, vars);
    EXPECT_EQ(AllProgramTexts(form), before) << "Service pastes nothing";

    form.SetPageIndex(5);
    PasteShownProgram(form, vars);
    for (int t = 0; t < 4; ++t) {
        MemoryGrid& grid = form.Program(5, static_cast<PT>(t));
        for (int row = 0; row < grid.RowCount(); ++row) {
            for (int col = 1; col <= 16; ++col) {
                const std::string expected =
                    (t == 2 && col == 4 && row == 2) ? "not a number" : ValueAt(3, t, col, row);
                EXPECT_EQ(grid.Cell(col, row), expected);
            }
        }
    }
    EXPECT_EQ(form.Program(5, PT::CH1).Cell(0, 1), "label stays");

    // Pasting onto the program that was copied changes nothing.
    form.SetPageIndex(3);
    const auto afterPaste = AllProgramTexts(form);
    PasteShownProgram(form, vars);
    EXPECT_EQ(AllProgramTexts(form), afterPaste);
}

}  // namespace
