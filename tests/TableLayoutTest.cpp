#include <gtest/gtest.h>

#include "MemoryForm.h"
#include "TableLayout.h"

namespace {

using PT = ProgramTable;

struct EditionState {
    bool ch3AndFuel, labelPress3, buttonP9, radioCh3, checkCh3, pedal, sdData;
    TColor tableColor, sdColor;
};

EditionState Capture(MemoryForm& form, int program = 5) {
    return {form.Program(program, PT::CH3).Enabled() && form.Program(program, PT::Fuel).Enabled(),
            form.ControlByName(Ctl::LabelPress3).Enabled(),
            form.ControlByName(Ctl::ButtonP9).Enabled(),
            form.ControlByName(Ctl::RadioButtCH3).Enabled(),
            form.ControlByName(Ctl::CheckBoxCH3).Enabled(),
            form.ControlByName(Ctl::ComboBoxPedalRes).Enabled(),
            form.GridByName(Grid::StrGridSDdata).Enabled(),
            form.Program(program, PT::Fuel).Color(),
            form.GridByName(Grid::StrGridSDdata).Color()};
}

bool operator==(const EditionState& a, const EditionState& b) {
    return a.ch3AndFuel == b.ch3AndFuel && a.labelPress3 == b.labelPress3 &&
           a.buttonP9 == b.buttonP9 && a.radioCh3 == b.radioCh3 && a.checkCh3 == b.checkCh3 &&
           a.pedal == b.pedal && a.sdData == b.sdData && a.tableColor == b.tableColor &&
           a.sdColor == b.sdColor;
}

TEST(ApplyEditionLayout, LabelsEveryProgramTable) {
    MemoryForm form;
    ApplyEditionLayout(form, '2');
    for (int n = 1; n <= 9; ++n) {
        for (int ch = 1; ch <= 3; ++ch) {
            MemoryGrid& grid = form.Program(n, static_cast<PT>(ch - 1));
            const std::string digit = std::to_string(ch);
            EXPECT_EQ(grid.Cell(0, 0), "RPM_" + digit);
            EXPECT_EQ(grid.Cell(0, 1), "CORR_" + digit);
            EXPECT_EQ(grid.Cell(0, 2), "PRESS_" + digit);
            EXPECT_EQ(grid.Cell(0, 3), "MULTI%_" + digit);
            EXPECT_EQ(grid.ColWidth(0), 65);
            EXPECT_EQ(grid.ColWidth(1), 50);
        }
        EXPECT_EQ(form.Program(n, PT::Fuel).Cell(0, 0), "FUEL%");
        EXPECT_EQ(form.Program(n, PT::Fuel).ColWidth(0), 65);
    }
}

TEST(ApplyEditionLayout, EditionDecidesStatesAndKeepsTexts) {
    MemoryForm form;
    form.Program(3, PT::CH3).SetCell(4, 1, "123");
    form.ControlByName(Ctl::CheckBoxCH3).SetChecked(true);

    ApplyEditionLayout(form, '2');
    const EditionState two{false, false, true, false, false, false, false, clSilver, clSilver};
    EXPECT_TRUE(Capture(form) == two);
    EXPECT_EQ(form.Program(3, PT::CH3).Cell(4, 1), "123");
    EXPECT_TRUE(form.ControlByName(Ctl::CheckBoxCH3).Checked()) << "greyed, still ticked";

    ApplyEditionLayout(form, '3');
    const EditionState three{true, true, false, true, true, true, true, clWindow, clWindow};
    EXPECT_TRUE(Capture(form) == three);
    EXPECT_EQ(form.Program(3, PT::CH3).Cell(4, 1), "123");

    ApplyEditionLayout(form, '3');
    EXPECT_TRUE(Capture(form) == three) << "applying twice changes nothing";

    // Unknown editions relabel but leave every state as it was.
    for (char other : {'1', '\0', 'x'}) {
        form.Program(7, PT::CH1).SetCell(0, 2, "edited");
        form.Program(7, PT::CH1).SetColWidth(0, 30);
        ApplyEditionLayout(form, other);
        EXPECT_TRUE(Capture(form) == three);
        EXPECT_EQ(form.Program(7, PT::CH1).Cell(0, 2), "PRESS_1");
        EXPECT_EQ(form.Program(7, PT::CH1).ColWidth(0), 65);
    }
}

}  // namespace
