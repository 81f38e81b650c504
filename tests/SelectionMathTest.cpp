#include <gtest/gtest.h>

#include "MemoryForm.h"
#include "SelectionMath.h"

namespace {

// One row of a program table: a label and 16 values.
MemoryGrid Row(const std::vector<std::string>& values) {
    MemoryGrid grid(17, 1, 1, 0);
    grid.SetCell(0, 0, "RPM_1");
    for (size_t c = 0; c < values.size(); ++c) grid.SetCell(static_cast<int>(c) + 1, 0, values[c]);
    return grid;
}

std::vector<std::string> Values(const TextGrid& grid, int row = 0) {
    std::vector<std::string> values;
    for (int col = 1; col < grid.ColCount(); ++col) values.push_back(grid.Cell(col, row));
    return values;
}

std::string Name(int col, int row) {
    return "cell " + std::to_string(col) + "/" + std::to_string(row);
}

struct MathCase {
    const char* name;
    CellBlock block;
    BlockMath math;
    double operand;
    ValueRange range;
    std::vector<std::string> before;  // columns 1..n of row 0
    std::vector<std::string> after;
    int limited;
    const char* firstLimited;  // or the error's text
};

TEST(SelectionMath, OperationsRoundLimitAndRefuseAsTheyShould) {
    const ValueRange map = kMapValueRange;
    const MathCase cases[] = {
        {"add to a block",
         {2, 0, 3, 0},
         BlockMath::Add,
         5,
         map,
         {"1", "2", "3", "4"},
         {"1", "7", "8", "4"},
         0,
         ""},
        {"add a fraction rounds half away from zero",
         {1, 0, 2, 0},
         BlockMath::Add,
         0.5,
         map,
         {"1", "-2"},
         {"2", "-2"},
         0,
         ""},
        {"negative halves round away from zero",
         {1, 0, 1, 0},
         BlockMath::Add,
         -2.5,
         map,
         {"0"},
         {"-3"},
         0,
         ""},
        {"multiply by percent",
         {1, 0, 3, 0},
         BlockMath::MultiplyPercent,
         110,
         map,
         {"100", "-15", "5"},
         {"110", "-17", "6"},
         0,
         ""},
        {"set",
         {1, 0, 2, 0},
         BlockMath::Set,
         -40,
         map,
         {"1", "2", "3"},
         {"-40", "-40", "3"},
         0,
         ""},
        {"limited at the top of a map value",
         {1, 0, 2, 0},
         BlockMath::Add,
         30000,
         map,
         {"1000", "5000"},
         {"31000", "32767"},
         1,
         "cell 2/0: 35000 became 32767"},
        {"limited at the bottom",
         {1, 0, 1, 0},
         BlockMath::MultiplyPercent,
         300,
         map,
         {"-20000"},
         {"-32768"},
         1,
         "cell 1/0: -60000 became -32768"},
        {"the 3-channel configuration is unsigned",
         {1, 0, 2, 0},
         BlockMath::Add,
         -10,
         kConfigRange3,
         {"5", "65535"},
         {"0", "65525"},
         1,
         "cell 1/0: -5 became 0"},
        {"the 2-channel configuration is one byte",
         {1, 0, 1, 0},
         BlockMath::Set,
         300,
         kConfigRange2,
         {"7"},
         {"255"},
         1,
         "cell 1/0: 300 became 255"},
        {"a text that is no number stops it all",
         {1, 0, 3, 0},
         BlockMath::Add,
         1,
         map,
         {"1", "x", "3"},
         {"1", "x", "3"},
         -1,
         "cell 2/0: \"x\" is not a whole number. Nothing was changed."},
        {"an empty cell stops it too",
         {1, 0, 2, 0},
         BlockMath::Set,
         1,
         map,
         {"", "2"},
         {"", "2"},
         -1,
         "cell 1/0: \"\" is not a whole number."},
    };
    for (const MathCase& c : cases) {
        MemoryGrid grid = Row(c.before);
        try {
            const MathOutcome outcome =
                ApplyBlockMath(grid, c.block, c.math, c.operand, c.range, Name);
            EXPECT_EQ(outcome.limited, c.limited) << c.name;
            EXPECT_EQ(outcome.firstLimited, c.firstLimited) << c.name;
        } catch (const SelectionError& error) {
            EXPECT_EQ(c.limited, -1) << c.name << ": " << error.what();
            EXPECT_NE(std::string(error.what()).find(c.firstLimited), std::string::npos)
                << c.name << ": " << error.what();
        }
        std::vector<std::string> values = Values(grid);
        values.resize(c.after.size());
        EXPECT_EQ(values, c.after) << c.name;
    }
}

TEST(SelectionMath, InterpolatesAlongARowDownAColumnAndAcrossABlock) {
    // Along a row: the ends stay, the inside is filled.
    MemoryGrid row = Row({"0", "9", "9", "9", "10", "5"});
    InterpolateBlock(row, {1, 0, 5, 0}, kMapValueRange, Name);
    EXPECT_EQ(Values(row), (std::vector<std::string>{"0", "3", "5", "8", "10", "5", "", "", "", "",
                                                     "", "", "", "", "", ""}));

    // Down a column.
    MemoryGrid column(17, 4, 1, 0);
    const char* texts[4] = {"100", "x", "", "-100"};
    for (int r = 0; r < 4; ++r) column.SetCell(2, r, texts[r]);
    InterpolateBlock(column, {2, 0, 2, 3}, kMapValueRange, Name);
    EXPECT_EQ(column.Cell(2, 1), "33");
    EXPECT_EQ(column.Cell(2, 2), "-33");

    // A block: bilinear from its corners, the corners kept.
    MemoryGrid block(17, 4, 1, 0);
    block.SetCell(1, 0, "0");
    block.SetCell(3, 0, "100");
    block.SetCell(1, 2, "200");
    block.SetCell(3, 2, "400");
    const MathOutcome outcome = InterpolateBlock(block, {1, 0, 3, 2}, kMapValueRange, Name);
    EXPECT_EQ(block.Cell(2, 0), "50");
    EXPECT_EQ(block.Cell(1, 1), "100");
    EXPECT_EQ(block.Cell(2, 1), "175");
    EXPECT_EQ(block.Cell(3, 1), "250");
    EXPECT_EQ(block.Cell(2, 2), "300");
    EXPECT_EQ(block.Cell(3, 2), "400");
    EXPECT_EQ(outcome.changed, 5);

    // A corner that is no number stops it.
    block.SetCell(3, 2, "big");
    EXPECT_THROW(InterpolateBlock(block, {1, 0, 3, 2}, kMapValueRange, Name), SelectionError);
    EXPECT_EQ(block.Cell(2, 1), "175");
}

TEST(SelectionMath, ShareOfARowForColouring) {
    const std::vector<std::string> row = {"10", "20", "30", "x", ""};
    double share = -1;
    ASSERT_TRUE(ShareOfRow(row, 0, share));
    EXPECT_DOUBLE_EQ(share, 0.0);
    ASSERT_TRUE(ShareOfRow(row, 1, share));
    EXPECT_DOUBLE_EQ(share, 0.5);
    ASSERT_TRUE(ShareOfRow(row, 2, share));
    EXPECT_DOUBLE_EQ(share, 1.0);
    EXPECT_FALSE(ShareOfRow(row, 3, share));
    EXPECT_FALSE(ShareOfRow(row, 9, share));
    ASSERT_TRUE(ShareOfRow({"7", "7"}, 1, share));
    EXPECT_DOUBLE_EQ(share, 0.5);
}

}  // namespace
