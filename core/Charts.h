#pragma once
// The CORR curves of the shown program and their smoothing.
#include "Controls.h"

// Refills the three charts from the program of the shown page; does nothing on "Service".
void RefreshCharts(FormControls& form);
void FillCharts(FormControls& form, TextGrid& ch1Table, TextGrid& ch2Table, TextGrid& ch3Table);
// Smooths the CORR row (row 1), columns 2..15 left to right in place, then refreshes.
void SmoothCorrRow(FormControls& form, TextGrid& table);
// Double-click on chart 1..3: smooth that channel of the shown program.
void SmoothShownChannel(FormControls& form, int chart);
// After the user switched pages: a 3-channel box has no page P9, so show P8 instead.
void ShownPageChanged(FormControls& form, char edition);
