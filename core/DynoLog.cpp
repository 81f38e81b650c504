#include "DynoLog.h"

#include "Conversions.h"

namespace {
size_t Index(int col, int row) {
    return static_cast<size_t>(col * 4 + row);
}
}  // namespace

void LabelDynoLogTable(FormControls& form, const RxBufferT& rx, uint16_t& cursor) {
    TextGrid& table = form.GridByName(Grid::StrGridDynoLog);
    table.SetColWidth(0, 65);
    table.SetCell(0, 0, "RPM");
    table.SetCell(0, 1, "PRESS_1");
    table.SetCell(0, 2, "PRESS_2");
    table.SetCell(0, 3, "PRESS_3");
    if (static_cast<size_t>(cursor) + 1 + 32 > kRxBufferSize)
        throw std::out_of_range("image cursor past the buffer");
    for (int c = 1; c <= 16; ++c) {
        const auto value = static_cast<int16_t>(ReadWord(rx.data() + cursor + 1));
        table.SetCell(c, 0, ShortToText(value));
        cursor = static_cast<uint16_t>(cursor + 2);
    }
}

void ShowDynoLog(FormControls& form, DynoRecord& record, bool reset) {
    TextGrid& table = form.GridByName(Grid::StrGridDynoLog);
    for (int c = 1; c <= 16; ++c) {
        if (reset) {
            for (int r = 1; r <= 3; ++r) record[Index(c, r)] = IntToText(0);
        }
        for (int r = 1; r <= 3; ++r) {
            if (table.Cell(c, r) != record[Index(c, r)]) table.SetCell(c, r, record[Index(c, r)]);
        }
    }
}

void RecordDynoLogSample(FormControls& form, Variables& vars, uint16_t rpm, uint16_t ch1,
                         uint16_t ch2, uint16_t ch3) {
    FileDynoLogSample(form, vars, rpm, ch1, ch2, ch3);
    ShowCheckedDynoLog(form, vars);
}

void FileDynoLogSample(FormControls& form, Variables& vars, uint16_t rpm, uint16_t ch1,
                       uint16_t ch2, uint16_t ch3) {
    TextGrid& table = form.GridByName(Grid::StrGridDynoLog);
    for (int c = 1; c <= 16; ++c) {
        const int64_t point = StrToInt(table.Cell(c, 0));
        if (point - 50 < rpm && rpm < point + 50) {
            DynoRecord& record = vars.ActiveProgram == 0 ? vars.DynoLogP0 : vars.DynoLogP1toP9;
            const uint16_t readings[3] = {ch1, ch2, ch3};
            for (int r = 1; r <= 3; ++r) {
                std::string& text = record[Index(c, r)];
                // The records hold only texts written here; an untouched one counts as 0.
                int32_t stored = 0;
                TryStrToInt(text, stored);
                if (readings[r - 1] > stored) text = WordToText(readings[r - 1]);
            }
            break;
        }
    }
}

void ShowCheckedDynoLog(FormControls& form, Variables& vars) {
    if (form.ControlByName(Ctl::RadioButtP0).Checked()) {
        ShowDynoLog(form, vars.DynoLogP0, false);
    } else if (form.ControlByName(Ctl::RadioButtP1toP9).Checked()) {
        ShowDynoLog(form, vars.DynoLogP1toP9, false);
    }
}

void ResetDynoLogP1toP9(FormControls& form, Variables& vars) {
    ShowDynoLog(form, vars.DynoLogP1toP9, true);
    ShowCheckedDynoLog(form, vars);
}
