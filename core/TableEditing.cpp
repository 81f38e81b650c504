#include "TableEditing.h"

#include "Charts.h"
#include "Conversions.h"

namespace {

constexpr int kColumns = 16;

size_t ClipIndex(int col, int row) {
    return static_cast<size_t>(col * 4 + row);
}

std::string Int64ToText(int64_t value) {
    return std::to_string(value);
}

}  // namespace

void SetRpmColumn(Variables& vars, TextGrid& ch1, TextGrid& ch2, TextGrid& ch3, int col) {
    const std::string& text = vars.RpmRowBuffer.at(static_cast<size_t>(col));
    ch1.SetCell(col, 0, text);
    ch2.SetCell(col, 0, text);
    ch3.SetCell(col, 0, text);
}

void SetRpmToAll(FormControls& form, Variables& vars) {
    const int page = form.PageIndex();
    if (page < 1 || page > 9) return;
    TextGrid& source = form.ProgramGrid(page, ProgramTable::CH1);
    for (int c = 1; c <= kColumns; ++c)
        vars.RpmRowBuffer[static_cast<size_t>(c)] = source.Cell(c, 0);
    for (int c = 1; c <= kColumns; ++c) {
        for (int n = 1; n <= 9; ++n) {
            SetRpmColumn(vars, form.ProgramGrid(n, ProgramTable::CH1),
                         form.ProgramGrid(n, ProgramTable::CH2),
                         form.ProgramGrid(n, ProgramTable::CH3), c);
        }
    }
}

void CopyProgramCell(Variables& vars, TextGrid& ch1, TextGrid& ch2, TextGrid& ch3, TextGrid& fuel,
                     int col, int row) {
    vars.ClipCH1.at(ClipIndex(col, row)) = ch1.Cell(col, row);
    vars.ClipCH2.at(ClipIndex(col, row)) = ch2.Cell(col, row);
    vars.ClipCH3.at(ClipIndex(col, row)) = ch3.Cell(col, row);
    vars.ClipFuel.at(static_cast<size_t>(col)) = fuel.Cell(col, 0);
}

void PasteProgramCell(Variables& vars, TextGrid& ch1, TextGrid& ch2, TextGrid& ch3, TextGrid& fuel,
                      int col, int row) {
    ch1.SetCell(col, row, vars.ClipCH1.at(ClipIndex(col, row)));
    ch2.SetCell(col, row, vars.ClipCH2.at(ClipIndex(col, row)));
    ch3.SetCell(col, row, vars.ClipCH3.at(ClipIndex(col, row)));
    fuel.SetCell(col, 0, vars.ClipFuel.at(static_cast<size_t>(col)));
}

namespace {
template <typename CellOperation>
void ForEachProgramCell(FormControls& form, Variables& vars, int program, CellOperation operation) {
    TextGrid& ch1 = form.ProgramGrid(program, ProgramTable::CH1);
    TextGrid& ch2 = form.ProgramGrid(program, ProgramTable::CH2);
    TextGrid& ch3 = form.ProgramGrid(program, ProgramTable::CH3);
    TextGrid& fuel = form.ProgramGrid(program, ProgramTable::Fuel);
    for (int r = 0; r < 4; ++r) {
        for (int c = 1; c <= kColumns; ++c) operation(vars, ch1, ch2, ch3, fuel, c, r);
    }
}
}  // namespace

int CopyShownProgram(FormControls& form, Variables& vars) {
    const int page = form.PageIndex();
    if (page >= 1 && page <= 9) {
        ForEachProgramCell(form, vars, page, CopyProgramCell);
        vars.ClipboardFilled = true;
    }
    return page;
}

void PasteShownProgram(FormControls& form, Variables& vars) {
    const int page = form.PageIndex();
    if (page < 1 || page > 9 || !vars.ClipboardFilled) return;
    ForEachProgramCell(form, vars, page, PasteProgramCell);
}

void CopyChannelCell(FormControls& form, TextGrid& ch1, TextGrid& ch2, TextGrid& ch3, int row,
                     int col) {
    TextGrid* grids[3] = {&ch1, &ch2, &ch3};
    const Ctl sources[3] = {Ctl::RadioButtCH1, Ctl::RadioButtCH2, Ctl::RadioButtCH3};
    const Ctl targets[3] = {Ctl::CheckBoxCH1, Ctl::CheckBoxCH2, Ctl::CheckBoxCH3};
    for (int source = 0; source < 3; ++source) {
        if (!form.ControlByName(sources[source]).Checked()) continue;
        const std::string text = grids[source]->Cell(col, row);
        for (int target = 0; target < 3; ++target) {
            if (target != source && form.ControlByName(targets[target]).Checked()) {
                grids[target]->SetCell(col, row, text);
            }
        }
        return;
    }
}

void CopyShownChannel(FormControls& form) {
    const int page = form.PageIndex();
    if (page < 1 || page > 9) return;
    TextGrid& ch1 = form.ProgramGrid(page, ProgramTable::CH1);
    TextGrid& ch2 = form.ProgramGrid(page, ProgramTable::CH2);
    TextGrid& ch3 = form.ProgramGrid(page, ProgramTable::CH3);
    for (int r = 0; r < 4; ++r) {
        for (int c = 1; c <= kColumns; ++c) CopyChannelCell(form, ch1, ch2, ch3, r, c);
    }
}

void EditCellByKey(Variables& vars, TextGrid& grid, int key, bool ctrl) {
    if (!ctrl) return;
    const int col = grid.Col();
    const int row = grid.Row();
    if (col < 1 || col > kColumns || row < 0 || row >= grid.RowCount()) return;
    switch (key) {
        case kVkUp:
        case kVkDown: {
            int64_t v = StrToInt(grid.Cell(col, row));
            const bool awayFromZero = key == kVkUp;
            v += ((v >= 0) == awayFromZero) ? 10 : -10;
            vars.CellValue = v;
            grid.SetCell(col, row, Int64ToText(v));
            break;
        }
        case kVkRight:
        case kVkLeft: {
            const int64_t v = StrToInt(grid.Cell(col, row));
            vars.CellValue = v;
            const std::string text = Int64ToText(v);
            if (key == kVkRight) {
                for (int c = col; c <= kColumns; ++c) grid.SetCell(c, row, text);
            } else {
                for (int c = col; c >= 1; --c) grid.SetCell(c, row, text);
            }
            break;
        }
        case kVkC:
            vars.CellValue = StrToInt(grid.Cell(col, row));
            break;
        case kVkV:
            grid.SetCell(col, row, Int64ToText(vars.CellValue));
            break;
        default:
            break;
    }
}

TextGrid* FocusedProgramGrid(FormControls& form) {
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            TextGrid& grid = form.ProgramGrid(n, static_cast<ProgramTable>(t));
            if (grid.Focused()) return &grid;
        }
    }
    return nullptr;
}

void ProgramTableKeyDown(FormControls& form, Variables& vars, int key, bool ctrl) {
    TextGrid* grid = FocusedProgramGrid(form);
    if (grid == nullptr) return;
    EditCellByKey(vars, *grid, key, ctrl);
    RefreshCharts(form);
}

void ConfigRowMouseDown(TextGrid& config, char edition) {
    if (edition == '2' && config.Col() > 0) config.SetCol(0);
}
