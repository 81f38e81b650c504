#pragma once
// Bulk and keyboard editing of the program tables: "Set RPM to ALL", the program
// clipboard, and the Ctrl-key rules.
#include "Controls.h"
#include "Variables.h"

// Windows virtual-key codes, which the key rules are written in.
constexpr int kVkLeft = 37;
constexpr int kVkUp = 38;
constexpr int kVkRight = 39;
constexpr int kVkDown = 40;
constexpr int kVkC = 67;
constexpr int kVkV = 86;

void SetRpmColumn(Variables& vars, TextGrid& ch1, TextGrid& ch2, TextGrid& ch3, int col);
// Captures the RPM row of the shown program's CH1 table and writes it into row 0 of all
// 27 channel tables. On the Service page it does nothing.
void SetRpmToAll(FormControls& form, Variables& vars);

void CopyProgramCell(Variables& vars, TextGrid& ch1, TextGrid& ch2, TextGrid& ch3, TextGrid& fuel,
                     int col, int row);
void PasteProgramCell(Variables& vars, TextGrid& ch1, TextGrid& ch2, TextGrid& ch3, TextGrid& fuel,
                      int col, int row);
// Copies the shown program's four tables, as texts, into the clipboard. Returns the index
// of the shown page (0 for Service, which copies nothing).
int CopyShownProgram(FormControls& form, Variables& vars);
// Writes the clipboard into the shown program; nothing on Service or while no program has
// been copied yet.
void PasteShownProgram(FormControls& form, Variables& vars);

// Channel copy: the cell (col, row) of the source channel chosen by the radio buttons goes
// into each ticked destination channel (the source's own box is ignored).
void CopyChannelCell(FormControls& form, TextGrid& ch1, TextGrid& ch2, TextGrid& ch3, int row,
                     int col);
// Copies the chosen channel of the shown program onto the ticked ones; nothing on Service.
void CopyShownChannel(FormControls& form);

// One key on a program table: the six Ctrl combinations step, fill, copy or paste the
// current cell. A text that is not an integer throws ConversionError before anything
// changes.
void EditCellByKey(Variables& vars, TextGrid& grid, int key, bool ctrl);
// The program table that has the input focus, P1..P9 and CH1, CH2, CH3, Fuel in that order.
TextGrid* FocusedProgramGrid(FormControls& form);
// A key went down in one of the tables: edit when it is a program table, then redraw the
// charts from the tables as they are now.
void ProgramTableKeyDown(FormControls& form, Variables& vars, int key, bool ctrl);
// A mouse press on the configuration row: a 2-channel box has only column 0.
void ConfigRowMouseDown(TextGrid& config, char edition);
