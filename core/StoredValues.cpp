#include "StoredValues.h"

#include "Conversions.h"
#include "TableLayout.h"

int ConfigCells(char edition) {
    return edition == '3' ? 16 : 1;
}

std::string WhyUnstorable(const std::string& text, ValueRange range) {
    int32_t value = 0;
    if (!TryStrToInt(text, value)) return "\"" + text + "\" is not a whole number";
    if (value >= range.low && value <= range.high) return {};
    return std::to_string(value) + " is outside " + std::to_string(range.low) + " to " +
           std::to_string(range.high);
}

std::optional<UnstorableValue> FindUnstorableValue(FormControls& form, char edition) {
    const auto check = [](TextGrid* grid, int page, int col, int row, const std::string& text,
                          ValueRange range, const auto& name) -> std::optional<UnstorableValue> {
        std::string why = WhyUnstorable(text, range);
        if (why.empty()) return std::nullopt;
        int32_t value = 0;
        return UnstorableValue{
            page, grid, col, row, name(), std::move(why), TryStrToInt(text, value)};
    };
    const int tables = edition == '3' ? 4 : 2;
    for (int program = 1; program <= 9; ++program) {
        for (int t = 0; t < tables; ++t) {
            const auto table = static_cast<ProgramTable>(t);
            TextGrid& grid = form.ProgramGrid(program, table);
            for (int row = 0; row < grid.RowCount(); ++row) {
                for (int col = 1; col < grid.ColCount(); ++col) {
                    if (auto bad =
                            check(&grid, program, col, row, grid.Cell(col, row), kMapValueRange,
                                  [&] { return ProgramCellName(program, table, grid, col, row); }))
                        return bad;
                }
            }
        }
    }
    TextGrid& config = form.GridByName(Grid::StrGridConfig);
    for (int col = 0; col < ConfigCells(edition) && col < config.ColCount(); ++col) {
        if (auto bad = check(&config, 0, col, 0, config.Cell(col, 0), ConfigRange(edition), [&] {
                return "Service Configuration column " + std::to_string(col + 1);
            }))
            return bad;
    }
    // An empty start time is not sent at all.
    const std::string startTime = form.ControlByName(Ctl::NumBoxStartTime).Caption();
    if (!startTime.empty()) {
        if (auto bad = check(nullptr, 0, 0, 0, startTime, kStartTimeRange,
                             [] { return std::string("Service Start time"); }))
            return bad;
    }
    return std::nullopt;
}

std::string ShowUnstorable(FormControls& form, const UnstorableValue& value,
                           const std::string& outcome) {
    form.SetPageIndex(value.page);
    if (value.grid != nullptr) {
        value.grid->SetRow(value.row);
        value.grid->SetCol(value.col);
    }
    return value.where + ": " + value.why + ". " + outcome;
}
