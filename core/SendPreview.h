#pragma once
// What a send would change on the box, against what was read from it on this connection.
#include <string>
#include <vector>

#include "Controls.h"
#include "Variables.h"

// One line per value the send would change, in the order it writes them: the serial number
// ("Serial number: 30012345 → 30012399"), every map value ("P1 CH1 PRESS_1 column 3: 1847 →
// 1500"), the configuration, the start time and the pedal response. Empty when nothing would
// change. Needs the box's copy (vars.DownloadedFile, from a download or a side read); the
// values to send are read from the controls as the send reads them, and must have passed
// its checks.
std::vector<std::string> SendPreview(FormControls& form, const Variables& vars);
