#include <gtest/gtest.h>

#include <vector>

#include "Charts.h"
#include "Conversions.h"
#include "MemoryForm.h"

namespace {

using PT = ProgramTable;

void SetRow(MemoryGrid& grid, int row, const std::vector<std::string>& texts) {
    for (size_t i = 0; i < texts.size(); ++i) grid.SetCell(static_cast<int>(i) + 1, row, texts[i]);
}

std::vector<std::string> Row(MemoryGrid& grid, int row) {
    std::vector<std::string> texts;
    for (int col = 1; col <= 16; ++col) texts.push_back(grid.Cell(col, row));
    return texts;
}

std::vector<std::string> Texts(std::vector<int> values) {
    values.resize(16, 0);
    std::vector<std::string> texts;
    for (int v : values) texts.push_back(std::to_string(v));
    return texts;
}

// A form whose program tables all read "0", like the window after start-up.
MemoryForm ZeroForm() {
    MemoryForm form;
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            MemoryGrid& grid = form.Program(n, static_cast<PT>(t));
            for (int row = 0; row < grid.RowCount(); ++row) SetRow(grid, row, Texts({}));
        }
    }
    return form;
}

struct SmoothCase {
    std::vector<int> before;
    std::vector<int> after;
};

void PrintTo(const SmoothCase& c, std::ostream* os) {
    *os << "row starting";
    for (size_t i = 0; i < c.before.size() && i < 4; ++i) *os << ' ' << c.before[i];
}

class SmoothCorrRowCases : public testing::TestWithParam<SmoothCase> {};

TEST_P(SmoothCorrRowCases, SmoothsInPlaceWithTruncationTowardsZero) {
    MemoryForm form = ZeroForm();
    MemoryGrid& table = form.Program(1, PT::CH1);
    SetRow(table, 1, Texts(GetParam().before));
    SmoothCorrRow(form, table);
    EXPECT_EQ(Row(table, 1), Texts(GetParam().after));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SmoothCorrRowCases,
    testing::Values(SmoothCase{{0, 100, 0, -9}, {0, 50, 10, -2}},
                    SmoothCase{{0, 100}, {0, 50, 12, 3}}, SmoothCase{{0, -1}, {0}},
                    SmoothCase{std::vector<int>(16, 8), std::vector<int>(16, 8)},
                    SmoothCase{std::vector<int>(16, 5),
                               {5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5}},
                    SmoothCase{std::vector<int>(16, -5),
                               {-5, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -5}},
                    SmoothCase{std::vector<int>(16, INT32_MAX),
                               {INT32_MAX, INT32_MAX - 1, INT32_MAX - 1, INT32_MAX - 1,
                                INT32_MAX - 1, INT32_MAX - 1, INT32_MAX - 1, INT32_MAX - 1,
                                INT32_MAX - 1, INT32_MAX - 1, INT32_MAX - 1, INT32_MAX - 1,
                                INT32_MAX - 1, INT32_MAX - 1, INT32_MAX - 1, INT32_MAX}}));

TEST(SmoothCorrRow, SecondPassSmoothsAgainAndOnlyRowOneChanges) {
    MemoryForm form = ZeroForm();
    MemoryGrid& table = form.Program(2, PT::CH2);
    SetRow(table, 0, Texts({1, 2, 3}));
    SetRow(table, 1, Texts({0, 100}));
    SmoothCorrRow(form, table);
    SmoothCorrRow(form, table);
    EXPECT_EQ(Row(table, 1), Texts({0, 28, 13, 4, 1}));
    EXPECT_EQ(Row(table, 0), Texts({1, 2, 3}));
}

TEST(SmoothCorrRow, ConversionErrorMidRowKeepsColumnsBeforeItSmoothed) {
    MemoryForm form = ZeroForm();
    form.SetPageIndex(1);
    MemoryGrid& table = form.Program(1, PT::CH1);
    SetRow(table, 1, Texts({0, 100, 0, 0}));
    table.SetCell(6, 1, "oops");
    form.Series(1).Clear();
    EXPECT_THROW(
        {
            try {
                SmoothCorrRow(form, table);
            } catch (const ConversionError& e) {
                EXPECT_STREQ(e.what(), "'oops' is not a valid integer value");
                throw;
            }
        },
        ConversionError);
    // Columns 2 to 4 were smoothed; column 5 reads its right neighbour "oops" and stops.
    std::vector<std::string> expected = Texts({0, 50, 12, 3, 0, 0});
    expected[5] = "oops";
    EXPECT_EQ(Row(table, 1), expected);
    EXPECT_EQ(form.Series(1).Count(), 0) << "charts are not refreshed after the error";
}

TEST(FillCharts, PlotsCorrOverRpmLabelsForAllThreeChannels) {
    MemoryForm form = ZeroForm();
    for (int t = 0; t < 3; ++t) {
        MemoryGrid& grid = form.Program(4, static_cast<PT>(t));
        SetRow(grid, 0, Texts({1000 * (t + 1), 1500}));
        SetRow(grid, 1, Texts({-3 - t, 7}));
    }
    form.Program(4, PT::CH1).SetCell(3, 0, "0100");
    form.SetPageIndex(4);
    RefreshCharts(form);
    for (int chart = 1; chart <= 3; ++chart) {
        ChartSeries& series = form.Series(chart);
        ASSERT_EQ(series.Count(), 16);
        EXPECT_EQ(series.Value(0), -2 - chart);
        EXPECT_EQ(series.Label(0), std::to_string(1000 * chart));
        EXPECT_EQ(series.Value(1), 7);
        EXPECT_EQ(series.Label(1), "1500");
        EXPECT_EQ(series.Label(15), "0");
    }
    EXPECT_EQ(form.Series(1).Label(2), "100");
}

TEST(FillCharts, ConversionErrorLeavesPointsAddedBeforeTheCell) {
    MemoryForm form = ZeroForm();
    form.Program(1, PT::CH2).SetCell(2, 0, "x");
    form.SetPageIndex(1);
    EXPECT_THROW(RefreshCharts(form), ConversionError);
    // Column 1 went into all three series, then column 2 of CH1, then CH2 failed on its RPM.
    EXPECT_EQ(form.Series(1).Count(), 2);
    EXPECT_EQ(form.Series(2).Count(), 1);
    EXPECT_EQ(form.Series(3).Count(), 1);
}

TEST(RefreshCharts, ServicePageKeepsThePoints) {
    MemoryForm form = ZeroForm();
    form.SetPageIndex(1);
    RefreshCharts(form);
    form.Program(1, PT::CH1).SetCell(1, 1, "99");
    form.SetPageIndex(0);
    RefreshCharts(form);
    EXPECT_EQ(form.Series(1).Value(0), 0);
    SmoothShownChannel(form, 1);
    EXPECT_EQ(form.Program(1, PT::CH1).Cell(1, 1), "99") << "double click on Service does nothing";
}

TEST(ShownPageChanged, KeepsP9ClosedForThreeChannelBoxesOnly) {
    struct Case {
        char edition;
        int expectedPage;
    };
    for (const Case c : {Case{'3', 8}, Case{'2', 9}, Case{'\0', 9}, Case{'1', 9}}) {
        MemoryForm form = ZeroForm();
        form.Program(8, PT::CH3).SetCell(1, 1, "8");
        form.Program(9, PT::CH3).SetCell(1, 1, "9");
        form.SetPageIndex(9);
        ShownPageChanged(form, c.edition);
        EXPECT_EQ(form.PageIndex(), c.expectedPage) << "edition '" << c.edition << "'";
        EXPECT_EQ(form.Series(3).Value(0), c.expectedPage);
    }
}

TEST(SmoothShownChannel, SmoothsTheChartsOwnChannelEvenWhenGreyed) {
    MemoryForm form = ZeroForm();
    form.SetPageIndex(6);
    MemoryGrid& ch3 = form.Program(6, PT::CH3);
    ch3.SetEnabled(false);
    SetRow(ch3, 1, Texts({0, 100}));
    SmoothShownChannel(form, 3);
    EXPECT_EQ(Row(ch3, 1), Texts({0, 50, 12, 3}));
    EXPECT_EQ(Row(form.Program(6, PT::CH1), 1), Texts({}));
    EXPECT_EQ(form.Series(3).Value(1), 50);
}

}  // namespace
