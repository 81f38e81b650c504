#include "Charts.h"

#include "Conversions.h"

void RefreshCharts(FormControls& form) {
    const int page = form.PageIndex();
    if (page < 1 || page > 9) return;
    FillCharts(form, form.ProgramGrid(page, ProgramTable::CH1),
               form.ProgramGrid(page, ProgramTable::CH2),
               form.ProgramGrid(page, ProgramTable::CH3));
}

namespace {
// Lets the charts draw their points once, also when a cell stops the filling halfway.
struct BatchedCharts {
    explicit BatchedCharts(FormControls& f) : form(f) {
        for (int chart = 1; chart <= 3; ++chart) form.Series(chart).BeginUpdate();
    }
    ~BatchedCharts() {
        for (int chart = 1; chart <= 3; ++chart) form.Series(chart).EndUpdate();
    }
    FormControls& form;
};
}  // namespace

void FillCharts(FormControls& form, TextGrid& ch1Table, TextGrid& ch2Table, TextGrid& ch3Table) {
    const BatchedCharts batch(form);
    for (int chart = 1; chart <= 3; ++chart) form.Series(chart).Clear();
    TextGrid* tables[3] = {&ch1Table, &ch2Table, &ch3Table};
    for (int c = 1; c <= 16; ++c) {
        for (int chart = 1; chart <= 3; ++chart) {
            TextGrid& table = *tables[chart - 1];
            const int32_t value = StrToInt(table.Cell(c, 1));
            const int32_t rpm = StrToInt(table.Cell(c, 0));
            form.Series(chart).Add(static_cast<double>(value), IntToText(rpm));
        }
    }
}

void SmoothCorrRow(FormControls& form, TextGrid& table) {
    for (int i = 2; i <= 15; ++i) {
        // 64 bits so that values near the ends of the 32-bit range cannot overflow the sum.
        const int64_t a = StrToInt(table.Cell(i - 1, 1));
        const int64_t b = StrToInt(table.Cell(i, 1));
        const int64_t c = StrToInt(table.Cell(i + 1, 1));
        const int64_t smoothed = (a / 2 + b + c / 2) / 2;
        table.SetCell(i, 1, IntToText(static_cast<int32_t>(smoothed)));
    }
    RefreshCharts(form);
}

void SmoothShownChannel(FormControls& form, int chart) {
    const int page = form.PageIndex();
    if (page < 1 || page > 9 || chart < 1 || chart > 3) return;
    SmoothCorrRow(form, form.ProgramGrid(page, static_cast<ProgramTable>(chart - 1)));
}

void ShownPageChanged(FormControls& form, char edition) {
    if (edition == '3' && form.PageIndex() == 9) form.SetPageIndex(8);
    RefreshCharts(form);
}
