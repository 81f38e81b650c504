#include <gtest/gtest.h>

#include "MemoryForm.h"
#include "RangeText.h"

namespace {

// A program table as the window has it: a label column and 16 values in 4 rows.
MemoryGrid Table() {
    MemoryGrid grid(17, 4, 1, 0);
    for (int row = 0; row < 4; ++row) {
        grid.SetCell(0, row, "ROW" + std::to_string(row));
        for (int col = 1; col <= 16; ++col) grid.SetCell(col, row, std::to_string(row * 100 + col));
    }
    return grid;
}

std::string Texts(const MemoryGrid& grid) {
    return RangeText(grid, 0, 0, grid.ColCount() - 1, grid.RowCount() - 1);
}

TEST(RangeText, CopiesARangeAsTabSeparatedLines) {
    const MemoryGrid grid = Table();
    EXPECT_EQ(RangeText(grid, 15, 2, 16, 3), "215\t216\n315\t316\n");
    EXPECT_EQ(RangeText(grid, 3, 1, 3, 1), "103\n");
}

TEST(RangeText, SplitsWhatSpreadsheetsAndOtherProgramsPutOnTheClipboard) {
    struct Row {
        const char* name;
        std::string text;
        RangeBlock block;
    };
    const Row rows[] = {
        {"tabs with a final line end", "1\t2\n3\t4\n", {{"1", "2"}, {"3", "4"}}},
        {"windows line ends", "1\t2\r\n3\t4\r\n", {{"1", "2"}, {"3", "4"}}},
        {"semicolons", "1;2;3", {{"1", "2", "3"}}},
        {"commas with blanks", " 1 , -2 ,+3 \n", {{"1", "-2", "+3"}}},
        {"tabs win over commas", "1,5\t2", {{"1,5", "2"}}},
        {"empty field kept", "1\t\t3", {{"1", "", "3"}}},
        {"trailing tab, as spreadsheets copy a row", "81\t82\t\r\n", {{"81", "82", ""}}},
        {"blank lines at the end dropped", "7\n\n\n", {{"7"}}},
        {"nothing", "", {}},
        {"quoted fields", "\"81\"\t \"-2\" \n\"3\"\t4\r\n", {{"81", "-2"}, {"3", "4"}}},
        {"quoted commas, semicolons and doubled quotes",
         "\"1,5\",\"a;\"\"b\"\"\",3",
         {{"1,5", "a;\"b\"", "3"}}},
        {"a quoted tab chooses no separator", "\"1\t2\";3", {{"1\t2", "3"}}},
        {"a quoted line end", "\"1\n2\"\t3\n4", {{"1\n2", "3"}, {"4"}}},
        {"an empty quoted field", "1\t\"\"\t3", {{"1", "", "3"}}},
        {"a quote nothing closes is kept", "\"81\t82", {{"\"81", "82"}}},
        {"text after the closing quote", "\"81\"x,2", {{"81x", "2"}}},
    };
    for (const Row& row : rows) EXPECT_EQ(SplitRangeText(row.text), row.block) << row.name;
}

TEST(RangeText, PastesAtTheCellClippedAtTheEdge) {
    MemoryGrid grid = Table();
    EXPECT_EQ(PasteRange(grid, 15, 2, SplitRangeText("-1\t-2\t-3\n-4\t-5\t-6\n-7\t-8\t-9\n")), 4);
    EXPECT_EQ(RangeText(grid, 14, 1, 16, 3), "114\t115\t116\n214\t-1\t-2\n314\t-4\t-5\n");
    EXPECT_EQ(grid.Cell(0, 3), "ROW3");
    // Plain numbers go in as plain numbers.
    EXPECT_EQ(PasteRange(grid, 1, 0, {{"+007", "-0"}}), 2);
    EXPECT_EQ(RangeText(grid, 1, 0, 2, 0), "7\t0\n");
}

TEST(RangeText, AnEmptyFieldLeavesItsCellAndQuotesComeOff) {
    MemoryGrid grid = Table();
    // A row copied from a spreadsheet with an empty cell, a trailing tab and quoted numbers.
    EXPECT_EQ(PasteRange(grid, 1, 1, SplitRangeText("\"81\"\t\t\"-83\"\t\n\t5\t\n")), 3);
    EXPECT_EQ(RangeText(grid, 1, 1, 4, 2), "81\t102\t-83\t104\n201\t5\t203\t204\n");
    // Nothing but empty fields changes nothing.
    const std::string before = Texts(grid);
    EXPECT_EQ(PasteRange(grid, 1, 0, SplitRangeText("\t\t\n\"\"\n")), 0);
    EXPECT_EQ(Texts(grid), before);
}

TEST(RangeText, ABadFieldChangesNothingAndIsNamed) {
    struct Row {
        const char* name;
        RangeBlock block;
        const char* message;
        ValueRange range = {INT32_MIN, INT32_MAX};
    };
    const Row rows[] = {
        {"text",
         {{"1", "2"}, {"3", "abc"}},
         "Nothing was pasted: \"abc\" in line 2, field 2 of the copied block is not a whole "
         "number."},
        {"decimal", {{"1.5"}}, "\"1.5\" in line 1, field 1"},
        {"a quote nothing closes", SplitRangeText("1\t\"81"), "\"\"81\" in line 1, field 2"},
        {"beyond 32 bits", {{"4294967296"}}, "\"4294967296\" in line 1, field 1"},
        {"above what a map stores",
         {{"1", "40000"}},
         "Nothing was pasted: 40000 in line 1, field 2 of the copied block is outside -32768 to "
         "32767.",
         kMapValueRange},
        {"below what a map stores", {{"-40000"}}, "-40000 in line 1, field 1", kMapValueRange},
        {"beyond the 2-channel configuration byte",
         {{"255"}, {"256"}},
         "256 in line 2, field 1 of the copied block is outside 0 to 255.",
         kConfigRange2},
    };
    for (const Row& row : rows) {
        MemoryGrid grid = Table();
        const std::string before = Texts(grid);
        try {
            PasteRange(grid, 2, 1, row.block, row.range);
            ADD_FAILURE() << row.name << ": pasted";
        } catch (const RangeError& error) {
            EXPECT_NE(std::string(error.what()).find(row.message), std::string::npos)
                << row.name << ": " << error.what();
        }
        EXPECT_EQ(Texts(grid), before) << row.name;
    }
    // A bad field beyond the edge is never written, so it does not stop the paste.
    MemoryGrid grid = Table();
    EXPECT_EQ(PasteRange(grid, 16, 3, {{"5", "bad"}}), 1);
    EXPECT_EQ(grid.Cell(16, 3), "5");
}

TEST(RangeText, CopiedAndPastedBackGivesTheSameTexts) {
    MemoryGrid from = Table();
    MemoryGrid to(17, 4, 1, 0);
    PasteRange(to, 1, 0, SplitRangeText(RangeText(from, 1, 0, 16, 3)));
    EXPECT_EQ(RangeText(to, 1, 0, 16, 3), RangeText(from, 1, 0, 16, 3));
}

}  // namespace
