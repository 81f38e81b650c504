#include <QLineSeries>
#include <QTest>

#include "WindowFixture.h"

namespace {

using PT = ProgramTable;

void ExpectSeries(TChart* chart, const std::vector<double>& values,
                  const std::vector<std::string>& labels) {
    ASSERT_EQ(chart->Count(), 16);
    ASSERT_EQ(chart->Line()->count(), 16);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(chart->Value(i), values[i]) << i;
        EXPECT_EQ(chart->Line()->at(i), QPointF(i, values[i])) << i;
        EXPECT_EQ(chart->Label(i), labels[i]) << i;
    }
}

TEST_F(WindowTest, ChartsShowSixteenZeroPointsAfterStart) {
    for (TChart* chart : {form->Chart1, form->Chart2, form->Chart3}) {
        ExpectSeries(chart, std::vector<double>(16, 0), std::vector<std::string>(16, "0"));
        EXPECT_FALSE(chart->chart()->legend()->isVisible());
        EXPECT_TRUE(chart->chart()->title().isEmpty());
        EXPECT_EQ(chart->Line()->pen().width(), 3);
        EXPECT_TRUE(chart->renderHints() & QPainter::Antialiasing);
        // Margins of one percent of the chart's 200 x 105 pixels on each side, not the
        // charting library's 20 pixels: the plot takes most of the chart.
        EXPECT_EQ(chart->chart()->margins(), QMargins(2, 1, 2, 1));
        EXPECT_GT(chart->chart()->plotArea().width(), 180);
    }
    EXPECT_EQ(form->Chart1->Line()->objectName(), "Series1");
    EXPECT_EQ(form->Chart2->Line()->objectName(), "LineSeries1");
    EXPECT_EQ(form->Chart3->Line()->objectName(), "LineSeries2");
}

TEST_F(WindowTest, TabChangeShowsTheProgramsCurvesAndServiceKeepsThem) {
    for (int t = 0; t < 3; ++t) {
        TStringGrid* grid = Grid(3, static_cast<PT>(t));
        for (int col = 1; col <= 16; ++col) {
            grid->SetCell(col, 0, std::to_string(500 * col + t));
            grid->SetCell(col, 1, std::to_string(col * (t + 1)));
        }
    }
    form->PageControl1->setCurrentIndex(3);
    for (int t = 0; t < 3; ++t) {
        std::vector<double> values;
        std::vector<std::string> labels;
        for (int col = 1; col <= 16; ++col) {
            values.push_back(col * (t + 1));
            labels.push_back(std::to_string(500 * col + t));
        }
        ExpectSeries(t == 0 ? form->Chart1 : t == 1 ? form->Chart2 : form->Chart3, values, labels);
    }
    form->PageControl1->setCurrentIndex(0);
    EXPECT_EQ(form->Chart3->Value(15), 48) << "the Service page keeps the curves";
    form->PageControl1->setCurrentIndex(1);
    EXPECT_EQ(form->Chart3->Value(15), 0);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(WindowTest, P9TabIsOutOfReachOfAThreeChannelBox) {
    Grid(8, PT::CH1)->SetCell(1, 1, "8");
    Grid(9, PT::CH1)->SetCell(1, 1, "9");
    form->Vars().BoxSerial = "31234567";
    form->PageControl1->setCurrentIndex(9);
    EXPECT_EQ(form->PageControl1->currentIndex(), 8);
    EXPECT_EQ(form->Chart1->Value(0), 8);

    form->Vars().BoxSerial = "21234567";
    form->PageControl1->setCurrentIndex(9);
    EXPECT_EQ(form->PageControl1->currentIndex(), 9);
    EXPECT_EQ(form->Chart1->Value(0), 9);
}

TEST_F(WindowTest, DoubleClickSmoothsTheChartsChannel) {
    form->PageControl1->setCurrentIndex(2);
    TStringGrid* ch2 = Grid(2, PT::CH2);
    ch2->SetCell(2, 1, "100");
    QTest::mouseDClick(form->Chart2->viewport(), Qt::LeftButton);
    EXPECT_EQ(ch2->Cell(2, 1), "50");
    EXPECT_EQ(ch2->Cell(3, 1), "12");
    EXPECT_EQ(ch2->Cell(4, 1), "3");
    EXPECT_EQ(form->Chart2->Value(1), 50);
    EXPECT_EQ(Grid(2, PT::CH1)->Cell(2, 1), "0");

    form->PageControl1->setCurrentIndex(0);
    QTest::mouseDClick(form->Chart2->viewport(), Qt::LeftButton);
    EXPECT_EQ(ch2->Cell(2, 1), "50") << "nothing happens on the Service page";
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(WindowTest, ConversionErrorReachesTheUserOnceAndKeepsEarlierWork) {
    TStringGrid* ch1 = Grid(2, PT::CH1);
    ch1->SetCell(2, 1, "100");
    ch1->SetCell(6, 1, "12a");
    form->PageControl1->setCurrentIndex(2);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], "'12a' is not a valid integer value");
    EXPECT_EQ(form->Chart1->Count(), 5) << "points before the failing cell stay";
    EXPECT_EQ(form->PageControl1->currentIndex(), 2);

    errors.clear();
    QTest::mouseDClick(form->Chart1->viewport(), Qt::LeftButton);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], "'12a' is not a valid integer value");
    EXPECT_EQ(ch1->Cell(2, 1), "50");
    EXPECT_EQ(ch1->Cell(4, 1), "3");
    EXPECT_EQ(ch1->Cell(5, 1), "0");
    EXPECT_EQ(ch1->Cell(6, 1), "12a");
}

}  // namespace
