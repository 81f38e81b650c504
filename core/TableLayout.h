#pragma once
// Row labels of the program tables and the states that depend on the box's edition.
#include <string>

#include "Controls.h"

constexpr int kLabelColumnWidth = 65;

// '2' greys CH3, FUEL% and the 3-channel-only controls; '3' does the reverse; any other
// character only rewrites the labels and label-column widths.
void ApplyEditionLayout(FormControls& form, char edition);
void LabelProgramTables(TextGrid& ch1Grid, TextGrid& ch2Grid, TextGrid& ch3Grid, TextGrid& fuelGrid,
                        char edition);

// A program table's cell as messages name it: "P3 CH2 PRESS_2 column 5".
std::string ProgramCellName(int program, ProgramTable table, const TextGrid& grid, int col,
                            int row);
