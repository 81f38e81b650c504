#pragma once
// Maths on a selected block of a table: add, multiply by a percentage, set, and linear
// interpolation from the block's edges. Results are whole numbers, rounded half away from
// zero and kept within what the box stores for the cell.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Controls.h"
#include "StoredValues.h"

// A cell of the selection whose text is not a whole number; nothing was changed.
class SelectionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Cells from (col0, row0) to (col1, row1), both included.
struct CellBlock {
    int col0;
    int row0;
    int col1;
    int row1;
};

enum class BlockMath { Add, MultiplyPercent, Set };

// What an operation did: how many values it had to limit to the range, and the first of
// them ("P2 CH1 RPM_1 column 5: 40000 became 32767").
struct MathOutcome {
    int changed = 0;
    int limited = 0;
    std::string firstLimited;
};

// Names a cell for messages, as "P3 CH2 PRESS_2 column 5".
using CellNamer = std::function<std::string(int col, int row)>;

// Rounds half away from zero and limits to the range; `limited` tells whether it had to.
int64_t RoundIntoRange(double value, ValueRange range, bool& limited);

// Applies the operation with `operand` to every cell of the block. Every cell must hold a
// whole number, else SelectionError names the first that does not and nothing changes.
MathOutcome ApplyBlockMath(TextGrid& grid, CellBlock block, BlockMath math, double operand,
                           ValueRange range, const CellNamer& name);

// Fills the inside of the block from its edges: along the row for a one-row block, down the
// column for a one-column block, bilinearly from the four corners for a larger block (every
// cell but the corners). Only the cells it reads must hold whole numbers.
MathOutcome InterpolateBlock(TextGrid& grid, CellBlock block, ValueRange range,
                             const CellNamer& name);

// Where values[at] lies between the lowest and highest whole numbers of `values` (a row's
// value cells), 0 to 1 (0.5 for a flat row), for colouring by value; false when it is no
// whole number itself.
bool ShareOfRow(const std::vector<std::string>& values, size_t at, double& share);
