#pragma once
// Blocks of table cells as a spreadsheet's clipboard holds them: one line per row, the
// fields separated by tabs (or, from other programs, by semicolons or commas).
#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

#include "Controls.h"
#include "StoredValues.h"

// A block that cannot be pasted; the message names the first bad field and its place.
class RangeError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

using RangeBlock = std::vector<std::vector<std::string>>;  // rows of fields

// The cells from (col0, row0) to (col1, row1), both included, as tab-separated lines, each
// ending in a newline.
std::string RangeText(const TextGrid& grid, int col0, int row0, int col1, int row1);

// Splits clipboard text into rows of fields. The separator is the tab if the text has one,
// else the semicolon if it has one, else the comma (none counts between quotes). Line ends
// may be "\n" or "\r\n"; blank lines at the end are dropped; blanks around a field are
// trimmed. A field in double quotes is taken without them, with a doubled quote inside as
// one quote, and may hold the separator and line ends; a quote that nothing closes is kept.
RangeBlock SplitRangeText(const std::string& text);

// Writes the block with its first field at (col, row); what lies beyond the grid's edge is
// left out, and so is an empty field: its cell stays as it is. Every other field that lands
// in the grid must be a whole number within `range` (what the box stores for the grid's
// cells), else nothing changes and RangeError names the first bad one. The numbers are
// written in their plain form ("+007" becomes "7"). Returns the number of cells written.
int PasteRange(TextGrid& grid, int col, int row, const RangeBlock& block,
               ValueRange range = {INT32_MIN, INT32_MAX});
