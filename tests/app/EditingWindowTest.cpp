#include <QTest>

#include "Functions.h"
#include "TestSupport.h"
#include "WindowFixture.h"

namespace {

using PT = ProgramTable;

class EditingTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        QApplication::setActiveWindow(form.get());
    }
    void Key(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
        QTest::keyClick(target, key, modifiers);
    }
};

struct WindowKeyCase {
    const char* name;
    Qt::Key key;
    const char* before;
    int col;
    std::vector<std::pair<int, const char*>> after;  // (column, text) in the same row
};

void PrintTo(const WindowKeyCase& c, std::ostream* os) {
    *os << c.name;
}

class KeyCases : public EditingTest, public testing::WithParamInterface<WindowKeyCase> {};

TEST_P(KeyCases, CtrlKeysEditTheRealGrid) {
    const WindowKeyCase& c = GetParam();
    TStringGrid* grid = Focus(3, PT::CH2, c.col, 2);
    for (int col = 1; col <= 16; ++col) grid->SetCell(col, 2, "1");
    grid->SetCell(c.col, 2, c.before);
    Key(grid, c.key);
    for (const auto& [col, text] : c.after) EXPECT_EQ(grid->Cell(col, 2), text) << "column " << col;
    EXPECT_EQ(grid->currentColumn(), c.col);
    EXPECT_EQ(grid->currentRow(), 2);
    EXPECT_EQ(grid->Cell(c.col, 1), "0") << "other rows untouched";
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyCases,
    testing::Values(
        WindowKeyCase{"Up", Qt::Key_Up, "95", 5, {{5, "105"}, {4, "1"}, {6, "1"}}},
        WindowKeyCase{"UpNegative", Qt::Key_Up, "-20", 5, {{5, "-30"}}},
        WindowKeyCase{"UpLeadingZeros", Qt::Key_Up, "007", 5, {{5, "17"}}},
        WindowKeyCase{"Down", Qt::Key_Down, "95", 5, {{5, "85"}}},
        WindowKeyCase{"DownThroughZero", Qt::Key_Down, "5", 5, {{5, "-5"}}},
        WindowKeyCase{"DownZero", Qt::Key_Down, "0", 5, {{5, "-10"}}},
        WindowKeyCase{
            "Right", Qt::Key_Right, "120", 5, {{4, "1"}, {5, "120"}, {6, "120"}, {16, "120"}}},
        WindowKeyCase{
            "Left", Qt::Key_Left, "120", 5, {{1, "120"}, {4, "120"}, {5, "120"}, {6, "1"}}}));

TEST_F(EditingTest, CopyAndPasteAcrossProgramsAndTables) {
    form->Vars().BoxSerial = "31234567";
    ApplyEditionLayout(*form, '3');  // the CH3 and FUEL% tables take keys
    Grid(7, PT::Fuel)->SetCell(4, 0, "12");
    TStringGrid* fuel7 = Focus(7, PT::Fuel, 4, 0);
    Key(fuel7, Qt::Key_V);
    EXPECT_EQ(fuel7->Cell(4, 0), "0") << "Ctrl+V before any copy writes 0";

    TStringGrid* ch1 = Focus(2, PT::CH1, 3, 1);
    ch1->SetCell(3, 1, "-15");
    Key(ch1, Qt::Key_C);
    EXPECT_EQ(ch1->Cell(3, 1), "-15");
    fuel7 = Focus(7, PT::Fuel, 9, 0);
    Key(fuel7, Qt::Key_V);
    EXPECT_EQ(fuel7->Cell(9, 0), "-15");

    TStringGrid* ch3 = Focus(4, PT::CH3, 2, 0);
    ch3->SetCell(2, 0, "50");
    Key(ch3, Qt::Key_Up);
    TStringGrid* ch2 = Focus(5, PT::CH2, 16, 3);
    Key(ch2, Qt::Key_V);
    EXPECT_EQ(ch2->Cell(16, 3), "60");
    EXPECT_EQ(form->Vars().CellValue, 60);
}

TEST_F(EditingTest, BadCellShowsTheErrorAndChangesNothing) {
    TStringGrid* grid = Focus(1, PT::CH1, 6, 3);
    grid->SetCell(6, 3, "");
    form->Vars().CellValue = 33;
    const auto before = AllProgramTexts(*form);
    Key(grid, Qt::Key_Up);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], "'' is not a valid integer value");
    EXPECT_EQ(AllProgramTexts(*form), before);
    EXPECT_EQ(form->Vars().CellValue, 33);
}

TEST_F(EditingTest, ChartsFollowEveryKeyWithTheTablesAsTheyWereBeforeTheKey) {
    TStringGrid* grid = Focus(1, PT::CH1, 2, 1);
    grid->SetCell(1, 1, "5");  // no redraw yet
    EXPECT_EQ(form->Chart1->Value(0), 0);
    Key(grid, Qt::Key_Shift, Qt::NoModifier);
    EXPECT_EQ(form->Chart1->Value(0), 5) << "any key redraws";

    Key(grid, Qt::Key_Up);
    EXPECT_EQ(grid->Cell(2, 1), "10");
    EXPECT_EQ(grid->currentRow(), 1) << "stepping leaves the cell current";
    EXPECT_EQ(form->Chart1->Value(1), 10) << "the key's own edit shows at once";

    // A typed digit opens the cell editor; Return commits it after the redraw, so the
    // chart shows it from the next key on.
    Key(grid, Qt::Key_7, Qt::NoModifier);
    QWidget* editor = QApplication::focusWidget();
    Key(editor, Qt::Key_Return, Qt::NoModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return grid->Cell(2, 1) == "7"; }));
    EXPECT_EQ(form->Chart1->Value(1), 10);
    Key(grid, Qt::Key_Shift, Qt::NoModifier);
    EXPECT_EQ(form->Chart1->Value(1), 7);
}

TEST_F(EditingTest, KeysInOtherTablesNeitherEditNorRedraw) {
    Grid(1, PT::CH1)->SetCell(1, 1, "9");
    form->PageControl1->setCurrentIndex(0);
    form->PageControl1->setCurrentIndex(1);  // charts now show 9 ...
    Grid(1, PT::CH1)->SetCell(1, 1, "8");    // ... and the table 8
    for (TStringGrid* grid : {form->StrGridConfig.get(), form->StrGridDynoLog}) {
        if (grid == form->StrGridConfig) form->PageControl1->setCurrentIndex(0);
        grid->setFocus();
        grid->setCurrentCell(0, grid == form->StrGridConfig ? 0 : 1);
        const std::string before = grid->Cell(grid->currentColumn(), 0);
        Key(grid, Qt::Key_Up);
        EXPECT_EQ(grid->Cell(grid->currentColumn(), 0), before);
    }
    EXPECT_EQ(form->Chart1->Value(0), 9);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(EditingTest, ConfigRowClickStaysInColumnZeroForTwoChannelBoxes) {
    form->PageControl1->setCurrentIndex(0);
    TStringGrid* config = form->StrGridConfig;
    const QPoint cell5 = config->CellRect(5, 0).center();
    for (const auto& [serial, expected] :
         {std::pair{"21234567", 0}, std::pair{"31234567", 5}, std::pair{"", 5}}) {
        form->Vars().BoxSerial = serial;
        config->setCurrentCell(0, 2);
        QTest::mouseClick(config->viewport(), Qt::LeftButton, {}, cell5);
        EXPECT_EQ(config->currentColumn(), expected) << "serial '" << serial << "'";
    }
}

TEST_F(EditingTest, CopyPasteProgramAndSetRpmThroughTheButtons) {
    FillDistinct(*form);
    EXPECT_FALSE(form->ButtonPasteProg->isEnabled());
    form->PageControl1->setCurrentIndex(3);
    form->ButtonCopyProg->click();
    EXPECT_EQ(form->LabelCopiedProg->text(), "3");
    EXPECT_TRUE(form->ButtonPasteProg->isEnabled());

    form->PageControl1->setCurrentIndex(5);
    const double chartBefore = form->Chart1->Value(0);
    form->ButtonPasteProg->click();
    for (int t = 0; t < 4; ++t) {
        TStringGrid* grid = Grid(5, static_cast<PT>(t));
        EXPECT_EQ(grid->Cell(16, grid->RowCount() - 1), ValueAt(3, t, 16, grid->RowCount() - 1));
        EXPECT_EQ(grid->Cell(1, 0), ValueAt(3, t, 1, 0));
    }
    EXPECT_EQ(Grid(5, PT::CH1)->Cell(0, 0), "RPM_1");
    EXPECT_EQ(form->Chart1->Value(0), chartBefore) << "paste does not redraw";

    form->PageControl1->setCurrentIndex(0);
    form->ButtonCopyProg->click();
    EXPECT_EQ(form->LabelCopiedProg->text(), "0");

    form->PageControl1->setCurrentIndex(4);
    form->ButtonSetRPM->click();
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 3; ++t) {
            EXPECT_EQ(Grid(n, static_cast<PT>(t))->Cell(7, 0), ValueAt(4, 0, 7, 0));
        }
        EXPECT_EQ(Grid(n, PT::Fuel)->Cell(7, 0), ValueAt(n == 5 ? 3 : n, 3, 7, 0));
    }
    const auto afterSet = AllProgramTexts(*form);
    form->PageControl1->setCurrentIndex(0);
    form->ButtonSetRPM->click();
    form->ButtonPasteProg->click();
    EXPECT_EQ(AllProgramTexts(*form), afterSet) << "the Service page shows no program";
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(EditingTest, PasteDoesNothingUntilAProgramWasCopied) {
    FillDistinct(*form);
    form->PageControl1->setCurrentIndex(0);
    form->ButtonCopyProg->click();
    EXPECT_TRUE(form->ButtonPasteProg->isEnabled());
    form->PageControl1->setCurrentIndex(2);
    const auto before = AllProgramTexts(*form);
    form->ButtonPasteProg->click();
    EXPECT_EQ(AllProgramTexts(*form), before);
}

}  // namespace

namespace {

TEST_F(EditingTest, ChannelCopyThroughTheGroupBox) {
    FillDistinct(*form);
    const auto values = [&](int program, ProgramTable table) {
        std::vector<std::string> cells;
        TStringGrid* grid = Grid(program, table);
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c <= 16; ++c) cells.push_back(grid->Cell(c, r));
        }
        return cells;
    };
    const auto valueCells = [&](int program, ProgramTable table) {
        auto cells = values(program, table);
        for (int r = 0; r < 4; ++r) cells[static_cast<size_t>(r * 17)] = "";
        return cells;
    };

    // As started: source CH1, destination CH2.
    form->PageControl1->setCurrentIndex(2);
    const auto ch3Before = values(2, ProgramTable::CH3);
    form->ButtonCopyPaste->click();
    EXPECT_EQ(valueCells(2, ProgramTable::CH2), valueCells(2, ProgramTable::CH1));
    EXPECT_EQ(Grid(2, ProgramTable::CH2)->Cell(0, 0), "RPM_2");
    EXPECT_EQ(values(2, ProgramTable::CH3), ch3Before);

    // Source CH2 onto CH1 and CH3, including the greyed CH3 table.
    form->PageControl1->setCurrentIndex(6);
    form->RadioButtCH2->click();
    EXPECT_FALSE(form->RadioButtCH1->isChecked());
    form->CheckBoxCH1->setChecked(true);
    form->CheckBoxCH3->setChecked(true);
    form->ButtonCopyPaste->click();
    EXPECT_EQ(valueCells(6, ProgramTable::CH1), valueCells(6, ProgramTable::CH2));
    EXPECT_EQ(valueCells(6, ProgramTable::CH3), valueCells(6, ProgramTable::CH2));

    // "Copy and send" on the Service page copies nothing and still sends; without a box
    // the serial number check answers.
    form->PageControl1->setCurrentIndex(0);
    form->CheckBoxCopySend->setChecked(true);
    const auto tables = AllProgramTexts(*form);
    form->ButtonCopyPaste->click();
    EXPECT_EQ(AllProgramTexts(*form), tables);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("The serial number needs 8 characters"));
}

}  // namespace
