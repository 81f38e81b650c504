#include "TableLayout.h"

#include <string>

#include "StoredValues.h"

namespace {

void SetTableState(TextGrid& grid, bool enabled) {
    grid.SetEnabled(enabled);
    grid.SetColor(enabled ? clWindow : clSilver);
}

}  // namespace

void ApplyEditionLayout(FormControls& form, char edition) {
    if (edition == '2' || edition == '3') {
        const bool three = edition == '3';
        form.ControlByName(Ctl::LabelPress3).SetEnabled(three);
        form.ControlByName(Ctl::ButtonP9).SetEnabled(!three);
        form.ControlByName(Ctl::RadioButtCH3).SetEnabled(three);
        form.ControlByName(Ctl::CheckBoxCH3).SetEnabled(three);
        form.ControlByName(Ctl::ComboBoxPedalRes).SetEnabled(three);
        SetTableState(form.GridByName(Grid::StrGridSDdata), three);
        form.GridByName(Grid::StrGridConfig)
            .SetStoredRange(ConfigRange(edition), 0, ConfigCells(edition) - 1);
    }
    for (int n = 1; n <= 9; ++n) {
        LabelProgramTables(form.ProgramGrid(n, ProgramTable::CH1),
                           form.ProgramGrid(n, ProgramTable::CH2),
                           form.ProgramGrid(n, ProgramTable::CH3),
                           form.ProgramGrid(n, ProgramTable::Fuel), edition);
    }
}

void LabelProgramTables(TextGrid& ch1Grid, TextGrid& ch2Grid, TextGrid& ch3Grid, TextGrid& fuelGrid,
                        char edition) {
    TextGrid* channels[3] = {&ch1Grid, &ch2Grid, &ch3Grid};
    for (TextGrid* grid : channels) grid->SetColWidth(0, kLabelColumnWidth);
    fuelGrid.SetColWidth(0, kLabelColumnWidth);

    static const char* const kRowNames[4] = {"RPM_", "CORR_", "PRESS_", "MULTI%_"};
    for (int ch = 0; ch < 3; ++ch) {
        for (int row = 0; row < 4; ++row) {
            channels[ch]->SetCell(0, row, kRowNames[row] + std::to_string(ch + 1));
        }
    }
    fuelGrid.SetCell(0, 0, "FUEL%");

    if (edition == '2' || edition == '3') {
        SetTableState(ch3Grid, edition == '3');
        SetTableState(fuelGrid, edition == '3');
    }
}

std::string ProgramCellName(int program, ProgramTable table, const TextGrid& grid, int col,
                            int row) {
    static const char* const kTables[] = {"CH1", "CH2", "CH3", "FUEL"};
    return "P" + std::to_string(program) + " " + kTables[static_cast<int>(table)] + " " +
           grid.Cell(0, row) + " column " + std::to_string(col);
}
