#pragma once
// The dyno log: for sixteen RPM points, the highest reading of each channel near that RPM,
// kept in two records: while the box runs program 0, and while it runs programs 1 to 9.
#include <array>
#include <cstdint>
#include <string>

#include "BoxImage.h"
#include "Controls.h"
#include "Variables.h"

using DynoRecord = std::array<std::string, 68>;  // column * 4 + row

// Labels the log table and takes its RPM row from the image in RxBuffer at the cursor.
void LabelDynoLogTable(FormControls& form, const RxBufferT& rx, uint16_t& cursor);
// Shows a record in rows 1..3 of the table, clearing it to "0" first when reset is set.
void ShowDynoLog(FormControls& form, DynoRecord& record, bool reset);
// Files one live sample under the first column whose RPM point lies within 50 of rpm, and
// shows the checked record.
void RecordDynoLogSample(FormControls& form, Variables& vars, uint16_t rpm, uint16_t ch1,
                         uint16_t ch2, uint16_t ch3);
// The same without showing: the record only.
void FileDynoLogSample(FormControls& form, Variables& vars, uint16_t rpm, uint16_t ch1,
                       uint16_t ch2, uint16_t ch3);
// Shows the record that the checked view button chooses.
void ShowCheckedDynoLog(FormControls& form, Variables& vars);
// "Reset log P>0".
void ResetDynoLogP1toP9(FormControls& form, Variables& vars);
