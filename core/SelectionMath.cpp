#include "SelectionMath.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "Conversions.h"

namespace {

int32_t ValueOf(const TextGrid& grid, int col, int row, const CellNamer& name) {
    int32_t value = 0;
    const std::string text = grid.Cell(col, row);
    if (!TryStrToInt(text, value)) {
        throw SelectionError(name(col, row) + ": \"" + text +
                             "\" is not a whole number. Nothing was changed.");
    }
    return value;
}

// Writes the planned values, counting what changed and what was limited.
struct Plan {
    struct Write {
        int col;
        int row;
        int64_t value;
    };
    std::vector<Write> writes;
    MathOutcome outcome;

    void Add(const TextGrid& grid, int col, int row, double exact, ValueRange range,
             const CellNamer& name) {
        bool limited = false;
        const int64_t value = RoundIntoRange(exact, range, limited);
        if (limited && outcome.limited++ == 0) {
            char wanted[64];
            std::snprintf(wanted, sizeof wanted, "%.0f", std::round(exact));
            outcome.firstLimited =
                name(col, row) + ": " + wanted + " became " + std::to_string(value);
        }
        if (grid.Cell(col, row) != std::to_string(value)) ++outcome.changed;
        writes.push_back({col, row, value});
    }
    MathOutcome Apply(TextGrid& grid) {
        for (const Write& write : writes)
            grid.SetCell(write.col, write.row, std::to_string(write.value));
        return outcome;
    }
};

}  // namespace

int64_t RoundIntoRange(double value, ValueRange range, bool& limited) {
    // std::round rounds halves away from zero.
    const double rounded = std::round(value);
    limited =
        !(rounded >= static_cast<double>(range.low) && rounded <= static_cast<double>(range.high));
    if (!limited) return static_cast<int64_t>(rounded);
    return rounded < static_cast<double>(range.low) || std::isnan(rounded) ? range.low : range.high;
}

MathOutcome ApplyBlockMath(TextGrid& grid, CellBlock block, BlockMath math, double operand,
                           ValueRange range, const CellNamer& name) {
    Plan plan;
    for (int row = block.row0; row <= block.row1; ++row) {
        for (int col = block.col0; col <= block.col1; ++col) {
            const double value = ValueOf(grid, col, row, name);
            const double exact = math == BlockMath::Add               ? value + operand
                                 : math == BlockMath::MultiplyPercent ? value * operand / 100.0
                                                                      : operand;
            plan.Add(grid, col, row, exact, range, name);
        }
    }
    return plan.Apply(grid);
}

MathOutcome InterpolateBlock(TextGrid& grid, CellBlock block, ValueRange range,
                             const CellNamer& name) {
    Plan plan;
    const int cols = block.col1 - block.col0;
    const int rows = block.row1 - block.row0;
    if (rows == 0 || cols == 0) {
        // A line: from its first cell to its last.
        const int steps = rows + cols;
        if (steps < 2) return {};
        const double first = ValueOf(grid, block.col0, block.row0, name);
        const double last = ValueOf(grid, block.col1, block.row1, name);
        for (int k = 1; k < steps; ++k) {
            const int col = block.col0 + (rows == 0 ? k : 0);
            const int row = block.row0 + (rows == 0 ? 0 : k);
            plan.Add(grid, col, row, first + (last - first) * k / steps, range, name);
        }
        return plan.Apply(grid);
    }
    const double topLeft = ValueOf(grid, block.col0, block.row0, name);
    const double topRight = ValueOf(grid, block.col1, block.row0, name);
    const double bottomLeft = ValueOf(grid, block.col0, block.row1, name);
    const double bottomRight = ValueOf(grid, block.col1, block.row1, name);
    for (int row = block.row0; row <= block.row1; ++row) {
        for (int col = block.col0; col <= block.col1; ++col) {
            const bool corner = (row == block.row0 || row == block.row1) &&
                                (col == block.col0 || col == block.col1);
            if (corner) continue;
            const double x = static_cast<double>(col - block.col0) / cols;
            const double y = static_cast<double>(row - block.row0) / rows;
            const double top = topLeft + (topRight - topLeft) * x;
            const double bottom = bottomLeft + (bottomRight - bottomLeft) * x;
            plan.Add(grid, col, row, top + (bottom - top) * y, range, name);
        }
    }
    return plan.Apply(grid);
}

bool ShareOfRow(const std::vector<std::string>& values, size_t at, double& share) {
    int32_t value = 0;
    if (at >= values.size() || !TryStrToInt(values[at], value)) return false;
    int32_t low = value;
    int32_t high = value;
    for (const std::string& text : values) {
        int32_t other = 0;
        if (!TryStrToInt(text, other)) continue;
        low = std::min(low, other);
        high = std::max(high, other);
    }
    share = high == low ? 0.5 : static_cast<double>(value - low) / (high - low);
    return true;
}
