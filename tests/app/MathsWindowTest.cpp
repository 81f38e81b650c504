#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "TableLayout.h"
#include "TestSupport.h"
#include "WindowFixture.h"

namespace {

using PT = ProgramTable;

class MathsTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        QApplication::setActiveWindow(form.get());
        TForm1::SetNumberAsker([this](const QString& title, const QString&) {
            asked << title;
            // As a real dialog does: it takes the focus, and the menu's closing is handled
            // while it is open.
            if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();
            QEventLoop open;
            QTimer::singleShot(20, &open, &QEventLoop::quit);
            open.exec();
            return answer;
        });
        form->Vars().BoxSerial = "31234567";
        ApplyEditionLayout(*form, '3');
        FillDistinct(*form);
    }
    void TearDown() override {
        TForm1::SetNumberAsker({});
        WindowTest::TearDown();
    }
    QPoint Centre(TStringGrid* grid, int col, int row) { return grid->CellRect(col, row).center(); }
    // Selects a block with the mouse: a click on one corner, a shift-click on the other.
    TStringGrid* Select(int program, PT table, int col0, int row0, int col1, int row1) {
        form->PageControl1->setCurrentIndex(program);
        TStringGrid* grid = Grid(program, table);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier,
                          Centre(grid, col0, row0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          Centre(grid, col1, row1));
        return grid;
    }
    // Opens the table's menu with the right button on a cell and clicks the item.
    void MenuItem(TStringGrid* grid, int col, int row, const QString& item) {
        const QPoint at = Centre(grid, col, row);
        QTest::mousePress(grid->viewport(), Qt::RightButton, Qt::NoModifier, at);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, grid->viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid->viewport(), &event);
        QTest::mouseRelease(grid->viewport(), Qt::RightButton, Qt::NoModifier, at);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr) << "no menu";
        QAction* action = nullptr;
        for (QAction* candidate : menu->actions()) {
            if (candidate->text() == item) action = candidate;
        }
        ASSERT_NE(action, nullptr) << item.toStdString();
        ASSERT_TRUE(action->isEnabled()) << item.toStdString();
        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                          menu->actionGeometry(action).center());
        QApplication::processEvents();
        // The closed popup leaves the window to be active again, as a window manager would.
        QApplication::setActiveWindow(form.get());
        grid->setFocus();
    }
    std::vector<std::string> Row(TextGrid& grid, int row, int col0, int col1) {
        std::vector<std::string> texts;
        for (int col = col0; col <= col1; ++col) texts.push_back(grid.Cell(col, row));
        return texts;
    }
    void UndoRedo(const std::vector<std::string>& before, const std::vector<std::string>& after) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(AllProgramTexts(*form), before) << "undone";
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Y, Qt::ControlModifier);
        EXPECT_EQ(AllProgramTexts(*form), after) << "redone";
    }

    QStringList asked;
    std::optional<double> answer;
};

TEST_F(MathsTest, EachOperationWorksOnTheSelectionThroughTheMenuAsOneStep) {
    struct Case {
        const char* item;
        std::optional<double> answer;
        std::vector<std::string> cells;  // row 1, columns 3..6, before
        std::vector<std::string> after;
    };
    const Case cases[] = {
        {"Add\u2026", 10.5, {"100", "-3", "0", "7"}, {"111", "8", "11", "18"}},
        {"Multiply by %\u2026", 50, {"101", "-3", "0", "7"}, {"51", "-2", "0", "4"}},
        {"Set to\u2026", -5, {"1", "2", "3", "4"}, {"-5", "-5", "-5", "-5"}},
        {"Interpolate", std::nullopt, {"0", "99", "99", "30"}, {"0", "10", "20", "30"}},
    };
    for (const Case& c : cases) {
        TextGrid& table = form->ProgramGrid(2, PT::CH2);
        for (int k = 0; k < 4; ++k) table.SetCell(3 + k, 1, c.cells[static_cast<size_t>(k)]);
        form->History().Stack().clear();
        const std::vector<std::string> before = AllProgramTexts(*form);
        answer = c.answer;
        TStringGrid* grid = Select(2, PT::CH2, 3, 1, 6, 1);
        MenuItem(grid, 4, 1, QString::fromUtf8(c.item));
        EXPECT_EQ(Row(table, 1, 3, 6), c.after) << c.item;
        EXPECT_EQ(Row(table, 0, 3, 6), Row(form->ProgramGrid(2, PT::CH2), 0, 3, 6));
        EXPECT_EQ(form->History().Stack().count(), 1) << c.item;
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
        UndoRedo(before, AllProgramTexts(*form));
    }
    EXPECT_EQ(asked, QStringList({"Add", "Multiply by %", "Set to"}));
}

TEST_F(MathsTest, ABlockIsInterpolatedFromItsCorners) {
    TextGrid& table = form->ProgramGrid(5, PT::CH1);
    table.SetCell(2, 0, "0");
    table.SetCell(6, 0, "400");
    table.SetCell(2, 3, "300");
    table.SetCell(6, 3, "1000");
    TStringGrid* grid = Select(5, PT::CH1, 2, 0, 6, 3);
    MenuItem(grid, 3, 2, "Interpolate");
    EXPECT_EQ(Row(table, 0, 2, 6), (std::vector<std::string>{"0", "100", "200", "300", "400"}));
    EXPECT_EQ(Row(table, 3, 2, 6), (std::vector<std::string>{"300", "475", "650", "825", "1000"}));
    EXPECT_EQ(table.Cell(4, 1), "350");  // a third of the way from 200 to 650
    EXPECT_EQ(form->StatusBar1->currentMessage(), "Interpolate: 16 values changed");
}

TEST_F(MathsTest, LimitsAreNamedAndBadTextsStopBeforeAnyChange) {
    TextGrid& table = form->ProgramGrid(3, PT::CH1);
    table.SetCell(1, 2, "32000");
    table.SetCell(2, 2, "100");
    answer = 1000;
    TStringGrid* grid = Select(3, PT::CH1, 1, 2, 2, 2);
    MenuItem(grid, 1, 2, "Add\u2026");
    EXPECT_EQ(table.Cell(1, 2), "32767");
    EXPECT_EQ(table.Cell(2, 2), "1100");
    EXPECT_EQ(form->StatusBar1->currentMessage(),
              "Add: 1 value was limited to what the box stores; P3 CH1 PRESS_1 column 1: 33000 "
              "became 32767");

    // The configuration row of a 3-channel box holds 0 to 65535.
    form->PageControl1->setCurrentIndex(0);
    TextGrid& config = form->GridByName(Grid::StrGridConfig);
    config.SetCell(2, 0, "10");
    form->StrGridConfig->setFocus();
    form->StrGridConfig->setCurrentCell(0, 2);
    answer = -20;
    QTest::keyClick(form->StrGridConfig, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(config.Cell(2, 0), "0");
    EXPECT_TRUE(form->StatusBar1->currentMessage().contains("Service Configuration column 3"));

    // A selected text that is no number: one message, nothing changed, no step. (In the
    // fuel row, which no chart draws.)
    form->ProgramGrid(3, PT::Fuel).SetCell(5, 0, "12a");
    const std::vector<std::string> before = AllProgramTexts(*form);
    const int steps = form->History().Stack().count();
    answer = 1;
    grid = Select(3, PT::Fuel, 4, 0, 6, 0);
    MenuItem(grid, 4, 0, "Set to\u2026");
    EXPECT_EQ(AllProgramTexts(*form), before);
    EXPECT_EQ(form->History().Stack().count(), steps);
    EXPECT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
    EXPECT_EQ(errors.value(0).toStdString(),
              "P3 FUEL FUEL% column 5: \"12a\" is not a whole number. Nothing was changed.");
}

TEST_F(MathsTest, ColourByValueShowsEachRowsShapeUnderTheMarks) {
    TStringGrid* grid = Select(4, PT::CH3, 1, 0, 1, 0);
    TextGrid& table = form->ProgramGrid(4, PT::CH3);
    for (int col = 1; col <= 16; ++col) table.SetCell(col, 2, std::to_string(col * 10));
    table.MarkCell(16, 2, "In saved.bin: 5");
    const auto colour = [&](int col, int row) {
        return grid->model()->data(grid->model()->index(row, col), Qt::BackgroundRole);
    };
    EXPECT_FALSE(colour(1, 2).isValid()) << "off at start";
    MenuItem(grid, 1, 0, "Colour by value");
    EXPECT_TRUE(form->ColourByValueAction->isChecked());
    EXPECT_EQ(colour(1, 2).value<QColor>().hue(), 240) << "the lowest is blue";
    EXPECT_EQ(colour(15, 2).value<QColor>().hue(), 16) << "near the highest is red";
    EXPECT_EQ(colour(16, 2).value<QColor>(), QColor(255, 190, 150)) << "the mark stays on top";
    EXPECT_FALSE(colour(0, 2).isValid()) << "labels keep their look";
    EXPECT_TRUE(form->ProgramGrid(7, PT::CH1)
                    .Model()
                    .data(form->ProgramGrid(7, PT::CH1).Model().index(1, 1), Qt::BackgroundRole)
                    .isValid())
        << "every program table";
    // The row's colours follow an edit.
    table.SetCell(1, 2, "1000");
    EXPECT_EQ(colour(1, 2).value<QColor>().hue(), 0);
    EXPECT_EQ(colour(2, 2).value<QColor>().hue(), 240);
    QTest::keyClick(grid, Qt::Key_H, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(colour(1, 2).isValid()) << "off again";
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

}  // namespace
